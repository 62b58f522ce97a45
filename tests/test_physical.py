import math

import lumivex
import pytest

from fixtures.builder import Obj, page, u32
from fixtures.physical_bodies import (
    BOX,
    PHYSICAL,
    SPHERE,
    cooked_hull,
    cooked_mesh,
    physical,
    physical_head,
    suffix,
    uncooked,
)

END = "failed to fill whole buffer"
HUGE = 0xFFFFFFFF
TRIANGLES = [(0, 1, 2), (2, 3, 0)]


def objects(*objs: Obj) -> list:
    return lumivex.PrpFile.from_bytes(page(list(objs))).objects()


def decode(body: bytes) -> lumivex.PhysicalData:
    return objects(Obj(PHYSICAL, "Phys", body))[0].as_physical()


def fails(body: bytes, message: str = END) -> None:
    with pytest.raises(ValueError) as caught:
        decode(body)
    assert str(caught.value) == message


def test_view():
    data = decode(physical(BOX, mass=0.1))
    assert (data.name, data.mass, data.friction, data.restitution) == (
        "Phys",
        0.10000000149011612,
        0.5,
        0.25,
    )
    assert repr(data) == "PhysicalData('Phys', mass=0.1, group=Static, bounds=Box, 0 verts)"
    assert decode(physical(BOX, name=None)).name == ""
    with pytest.raises(TypeError, match="No constructor defined for PhysicalData"):
        lumivex.PhysicalData()


def test_class_is_not_checked_but_the_range_is():
    scene, far = objects(Obj(1, "S", physical(BOX)), Obj(PHYSICAL, "F", b"", data_len=99))
    assert scene.as_physical().bounds_type == "Box"
    with pytest.raises(OSError, match="^Object data not found$"):
        far.as_physical()


@pytest.mark.parametrize(
    "shape, bounds, expected",
    [
        (BOX, 1, ("Box", 0, 0)),
        (SPHERE, 2, ("Sphere", 0, 0)),
        (uncooked(0), 3, ("Hull", 0, 0)),
        (uncooked(4, TRIANGLES), 3, ("Hull", 4, 0)),
        (uncooked(4, TRIANGLES), 4, ("Proxy", 4, 2)),
        (uncooked(3, []), 5, ("Explicit", 3, 0)),
    ],
)
def test_shapes(shape, bounds, expected):
    data = decode(physical(shape, bounds=bounds, bit_words=[1, 2]))
    assert (data.bounds_type, data.num_verts, data.num_faces) == expected


@pytest.mark.parametrize(
    "mass, shown",
    [
        (0.25, "0.2"),
        (0.75, "0.8"),
        (-2.3, "-2.3"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (math.nan, "NaN"),
    ],
)
def test_repr_mass(mass, shown):
    data = decode(physical(uncooked(24), bounds=3, mass=mass, name="Floor"))
    assert repr(data) == f"PhysicalData('Floor', mass={shown}, group=Static, bounds=Hull, 24 verts)"


GROUPS = ["Static", "AvatarBlocker", "DynamicBlocker", "Avatar", "Dynamic", "Detector", "LOSOnly"]


@pytest.mark.parametrize(
    "group, override, name",
    [
        *((g, 0x7F, n) for g, n in enumerate(GROUPS)),
        (7, 0x81, "ExcludeRegion"),
        (8, 0, "Max"),
        (3, 0x80, "Max"),
    ],
)
def test_group_and_override(group, override, name):
    assert decode(physical(BOX, group=group, group_override=override)).group == name


@pytest.mark.parametrize("bounds", [0, 6, 255])
def test_unknown_bounds_type_after_group_override(bounds):
    fails(physical_head(bounds=bounds), f"Unknown bounds type: {bounds}")
    fails(physical_head(bounds=bounds)[:-1])


@pytest.mark.parametrize("flags, lists", [(0x20, {}), (0x50, {"first": ["x"], "second": ["y"]})])
def test_synched_prefix_second_list_follows_bit_0x40(flags, lists):
    assert decode(physical(BOX, flags=flags, **lists)).bounds_type == "Box"


# Each cooked body ends with a read: it decodes as built and fails one byte
# shorter, so a misread width or count shows either way.
@pytest.mark.parametrize(
    "hull",
    [
        cooked_hull(1),
        cooked_hull(2, polygons=0, edges=0, records=0, data_size=0, lists=0, block=0),
        cooked_hull(3, maxes=(0xFF, 0, 0, 1, 0xFF, 0xFF)),
        cooked_hull(3, maxes=(0x100, 0xFFFF, 0x100, 0xFFFF, 0x100, 0x100)),
        cooked_hull(3, maxes=(0x10000, HUGE, 0x10000, 0x10000, HUGE, 0x10000)),
        cooked_hull(32),
        cooked_hull(33),
        cooked_hull(33, tail=suffix(-0.5)),
        cooked_hull(33, tail=suffix(math.nan)),
    ],
)
def test_cooked_hull_walk(hull):
    data = decode(physical(hull, bounds=3))
    assert (data.bounds_type, data.num_verts) == ("Hull", int.from_bytes(hull[40:44], "little"))
    fails(physical(hull[:-1], bounds=3))


@pytest.mark.parametrize(
    "flags, options",
    [
        (0x00, {}),
        (0x10, {}),
        (0x08, {}),
        (0x18, {}),
        (0x01, {"blocks": (0, 0)}),
        (0x02, {"remap_max": 0xFF, "blocks": (0, 0xFF)}),
        (0x02, {"remap_max": 0xFFFF}),
        (0x1B, {"remap_max": 0x10000, "blocks": (1, 0x10000), "tail": suffix(-0.5)}),
    ],
)
def test_cooked_mesh_walk(flags, options):
    mesh = cooked_mesh(4, TRIANGLES, flags=flags, **options)
    data = decode(physical(mesh, bounds=5))
    assert (data.num_verts, data.num_faces) == (4, 2)
    fails(physical(mesh[:-1], bounds=5))


def test_last_seek_may_pass_the_end():
    assert decode(physical(cooked_hull(3, tail=suffix(-0.5))[:-48], bounds=3)).num_verts == 3
    assert decode(physical(cooked_mesh(4, TRIANGLES, last=1)[:-2], bounds=4)).num_faces == 2


@pytest.mark.parametrize(
    "shape, bounds, message",
    [
        (cooked_hull(1, tag=b"MESH"), 3, "Expected CVXM, got [77, 69, 83, 72]"),
        (cooked_hull(1), 4, "Expected MESH, got [67, 86, 88, 77]"),
        (b"\x00\x01\x02\xab", 3, "Unknown mesh magic: 000102ab"),
        (b"HSP\x02" + u32(0), 5, "Unknown mesh magic: 48535002"),
    ],
)
def test_shape_failures(shape, bounds, message):
    fails(physical(shape, bounds=bounds), message)


def patched(shape: bytes, offset: int, value: int = HUGE) -> bytes:
    return shape[:offset] + u32(value) + shape[offset + 4 :]


@pytest.mark.parametrize(
    "body",
    [
        physical(patched(uncooked(2), 4), bounds=3),
        physical(patched(uncooked(1, [(0, 0, 0)]), 20), bounds=4),
        *(
            physical(patched(cooked_hull(1, maxes=(0x10000,) * 6), at), bounds=3)
            for at in range(40, 60, 4)
        ),
        physical(cooked_hull(1, tail=u32(HUGE) + u32(0) * 12), bounds=3),
        physical(patched(cooked_mesh(1, TRIANGLES), 28), bounds=5),
        physical(patched(cooked_mesh(1, TRIANGLES), 32), bounds=5),
        physical(b"")[:-4] + u32(HUGE) + BOX,  # the bit vector
    ],
)
def test_huge_counts_with_little_data(body):
    fails(body)


TRUNCATED = [
    physical(SPHERE, bounds=2, flags=0x50, first=["f"], second=["s"], bit_words=[9]),
    physical(uncooked(2, TRIANGLES), bounds=4),
    physical(cooked_hull(1, polygons=1, edges=1, data_size=1, lists=1, block=1), bounds=3),
    physical(cooked_mesh(3, [(0, 1, 2)], flags=0x13), bounds=5),
]


@pytest.mark.parametrize("body, cut", [(b, cut) for b in TRUNCATED for cut in range(len(b))])
def test_truncated_at_every_offset(body, cut):
    fails(body[:cut])
