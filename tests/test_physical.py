import math

import lumivex
import pytest
from builder import Obj, page, u32
from physical_bodies import (
    PHYSICAL,
    UNCOOKED,
    box,
    cooked_hull,
    cooked_mesh,
    cooked_suffix,
    physical,
    physical_head,
    sphere,
    uncooked_hull,
    uncooked_mesh,
    vertices,
)

END = "failed to fill whole buffer"
TRIANGLES = [(0, 1, 2), (2, 3, 0)]


def physical_object(body: bytes, **key) -> lumivex.PrpObject:
    return lumivex.PrpFile.from_bytes(page([Obj(PHYSICAL, "Phys", body, **key)])).objects()[0]


def decode(body: bytes) -> lumivex.PhysicalData:
    return physical_object(body).as_physical()


def fails(body: bytes, message: str = END) -> None:
    with pytest.raises(ValueError) as caught:
        decode(body)
    assert str(caught.value) == message


def test_box_view():
    data = decode(physical(box(), mass=0.1, friction=0.5, restitution=2.0))
    assert (data.name, data.group, data.bounds_type) == ("Phys", "Static", "Box")
    assert data.mass == 0.10000000149011612
    assert (data.friction, data.restitution, data.num_verts, data.num_faces) == (0.5, 2.0, 0, 0)
    assert repr(data) == "PhysicalData('Phys', mass=0.1, group=Static, bounds=Box, 0 verts)"


def test_sphere_without_own_key():
    data = decode(physical(sphere(), bounds=2, name=None))
    assert (data.name, data.bounds_type, data.num_verts, data.num_faces) == ("", "Sphere", 0, 0)


def test_view_has_no_constructor():
    with pytest.raises(TypeError, match="No constructor defined for PhysicalData"):
        lumivex.PhysicalData()


def test_class_is_not_checked_and_range_is():
    body = physical(box())
    objects = lumivex.PrpFile.from_bytes(
        page([Obj(0x0001, "Scene", body), Obj(PHYSICAL, "Far", body, data_len=10_000)])
    ).objects()
    assert objects[0].as_physical().bounds_type == "Box"
    with pytest.raises(OSError, match="^Object data not found$"):
        objects[1].as_physical()


@pytest.mark.parametrize(
    "mass, shown",
    [
        (0.0, "0.0"),
        (0.25, "0.2"),
        (0.75, "0.8"),
        (-2.3, "-2.3"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (math.nan, "NaN"),
    ],
)
def test_repr_mass(mass, shown):
    data = decode(physical(uncooked_hull(24), bounds=3, name="Floor", mass=mass))
    assert repr(data) == f"PhysicalData('Floor', mass={shown}, group=Static, bounds=Hull, 24 verts)"


@pytest.mark.parametrize(
    "group, override, name",
    [
        (0, 0, "Static"),
        (1, 0, "AvatarBlocker"),
        (2, 0, "DynamicBlocker"),
        (3, 0, "Avatar"),
        (4, 0x7F, "Dynamic"),
        (5, 0, "Detector"),
        (6, 0, "LOSOnly"),
        (7, 0x81, "ExcludeRegion"),
        (8, 0, "Max"),
        (255, 0, "Max"),
        (3, 0x80, "Max"),
    ],
)
def test_group_and_override(group, override, name):
    assert decode(physical(box(), group=group, group_override=override)).group == name


@pytest.mark.parametrize("bounds", [0, 6, 255])
def test_unknown_bounds_type_after_group_override(bounds):
    fails(physical_head(bounds=bounds), f"Unknown bounds type: {bounds}")
    fails(physical_head(bounds=bounds)[:-1])


@pytest.mark.parametrize(
    "flags, lists",
    [
        (0x20, {}),
        (0x40, {"second": ["a", "b"]}),
        (0x10 | 0x20 | 0x40, {"first": ["x"], "second": ["y"]}),
    ],
)
def test_synched_prefix_second_list_follows_bit_0x40(flags, lists):
    assert decode(physical(box(), flags=flags, **lists)).bounds_type == "Box"


def test_bit_vector_words_are_stepped_over():
    assert decode(physical(box(), bit_words=[1, 2, 3])).bounds_type == "Box"
    fails(physical(b"", bit_words=[1, 2])[:-1])


@pytest.mark.parametrize("count", [0, 1, 7])
def test_uncooked_hull(count):
    data = decode(physical(uncooked_hull(count), bounds=3))
    assert (data.bounds_type, data.num_verts, data.num_faces) == ("Hull", count, 0)


@pytest.mark.parametrize("bounds, name", [(4, "Proxy"), (5, "Explicit")])
def test_uncooked_mesh(bounds, name):
    data = decode(physical(uncooked_mesh(4, TRIANGLES), bounds=bounds))
    assert (data.bounds_type, data.num_verts, data.num_faces) == (name, 4, 2)


def test_uncooked_hull_data_read_as_mesh_needs_a_triangle_count():
    hull = uncooked_hull(3)
    assert decode(physical(hull, bounds=3)).num_verts == 3
    fails(physical(hull, bounds=4))
    data = decode(physical(hull + u32(0), bounds=4))
    assert (data.num_verts, data.num_faces) == (3, 0)


# Every cooked body below ends with a read, so it decodes exactly as built and
# fails one byte shorter: a width or count misread shows either way.
COOKED_HULLS = {
    "small": cooked_hull(1),
    "no polygons or edges": cooked_hull(2, polygons=0, edges=0, records=0, data_size=0, lists=0),
    "widths 1": cooked_hull(
        3, polygon_max=0xFF, data_max=0, edge_maxes=(0, 1, 0xFF), list_max=0xFF
    ),
    "widths 2": cooked_hull(
        3, polygon_max=0x100, data_max=0xFFFF, edge_maxes=(0x100, 0xFFFF, 0x100), list_max=0x100
    ),
    "widths 4": cooked_hull(
        3,
        polygon_max=0x10000,
        data_max=0xFFFFFFFF,
        edge_maxes=(0x10000, 0x10000, 0xFFFFFFFF),
        list_max=0x10000,
    ),
    "32 vertices, no trailing block": cooked_hull(32),
    "33 vertices, trailing block": cooked_hull(33),
    "suffix -0.5 seeks 48 more": cooked_hull(33, suffix=cooked_suffix(value=-0.5)),
    "suffix NaN stops": cooked_hull(33, suffix=cooked_suffix(value=math.nan)),
    "suffix below -1 stops": cooked_hull(33, suffix=cooked_suffix(0, value=-7.0)),
}


@pytest.mark.parametrize("body", COOKED_HULLS.values(), ids=COOKED_HULLS.keys())
def test_cooked_hull_walk(body):
    vertex_count = int.from_bytes(body[40:44], "little")
    data = decode(physical(body, bounds=3))
    assert (data.bounds_type, data.num_verts, data.num_faces) == ("Hull", vertex_count, 0)
    fails(physical(body[:-1], bounds=3))


COOKED_MESHES = {
    "u32 indices": (0x00, {}),
    "u16 indices": (0x10, {}),
    "u8 indices": (0x08, {}),
    "u8 wins over u16": (0x18, {}),
    "materials": (0x01, {}),
    "remap width 1": (0x02, {"remap_max": 0xFF}),
    "remap width 2": (0x02, {"remap_max": 0xFFFF}),
    "remap width 4": (0x02, {"remap_max": 0x10000}),
    "all flags": (0x1B, {}),
    "no blocks": (0x00, {"first_block": 0, "second_block": 0}),
    "second block width 1": (0x00, {"second_block": 0xFF}),
    "second block never width 4": (0x00, {"second_block": 0x10000}),
    "suffix -0.5": (0x00, {"suffix": cooked_suffix(value=-0.5)}),
}


@pytest.mark.parametrize("flags, options", COOKED_MESHES.values(), ids=COOKED_MESHES.keys())
def test_cooked_mesh_walk(flags, options):
    body = cooked_mesh(4, TRIANGLES, flags=flags, **options)
    data = decode(physical(body, bounds=5))
    assert (data.bounds_type, data.num_verts, data.num_faces) == ("Explicit", 4, 2)
    fails(physical(body[:-1], bounds=5))


def test_cooked_forms_whose_last_seek_passes_the_end_still_decode():
    hull = cooked_hull(3, suffix=cooked_suffix(value=-0.5))
    assert decode(physical(hull[:-48], bounds=3)).num_verts == 3
    hull = cooked_hull(33, trailing=5)
    assert decode(physical(hull[:-10], bounds=3)).num_verts == 33
    mesh = cooked_mesh(4, TRIANGLES, last=1)
    assert decode(physical(mesh[: -len(TRIANGLES)], bounds=4)).num_faces == 2


@pytest.mark.parametrize(
    "shape, bounds, message",
    [
        (cooked_hull(1, tag=b"MESH"), 3, "Expected CVXM, got [77, 69, 83, 72]"),
        (cooked_hull(1), 4, "Expected MESH, got [67, 86, 88, 77]"),
        (cooked_mesh(1, [], tag=b"mesh"), 5, "Expected MESH, got [109, 101, 115, 104]"),
        (b"\x00\x01\x02\xab", 3, "Unknown mesh magic: 000102ab"),
        (b"HSP\x02" + u32(0), 4, "Unknown mesh magic: 48535002"),
    ],
)
def test_shape_magic_failures(shape, bounds, message):
    fails(physical(shape, bounds=bounds), message)


def patched(body: bytes, offset: int, value: int) -> bytes:
    """The body with the u32 at offset (counted from the magic) replaced."""
    return body[:offset] + u32(value) + body[offset + 4 :]


HUGE = 0xFFFFFFFF


@pytest.mark.parametrize(
    "shape, bounds",
    [
        (UNCOOKED + u32(HUGE) + vertices(2), 3),
        (UNCOOKED + u32(1) + vertices(1) + u32(HUGE) + u32(0) * 5, 4),
        (patched(cooked_hull(1), 40, HUGE), 3),
        (patched(cooked_hull(1, polygon_max=0x10000), 44, HUGE), 3),
        (patched(cooked_hull(1), 48, HUGE), 3),
        (patched(cooked_hull(1), 52, HUGE), 3),
        (patched(cooked_hull(1), 56, HUGE), 3),
        (cooked_hull(1, suffix=u32(HUGE) + u32(0) * 12), 3),
        (patched(cooked_mesh(1, TRIANGLES), 28, HUGE), 5),
        (patched(cooked_mesh(1, TRIANGLES), 32, HUGE), 4),
    ],
)
def test_huge_counts_with_little_data(shape, bounds):
    fails(physical(shape, bounds=bounds))


def test_huge_bit_vector():
    fails(physical(box())[:-28] + u32(HUGE) + box())


TRUNCATED = {
    "box": physical(box()),
    "sphere": physical(sphere(), bounds=2, flags=0x50, first=["f"], second=["s"]),
    "uncooked mesh": physical(uncooked_mesh(2, TRIANGLES), bounds=4, bit_words=[9]),
    "cooked hull": physical(cooked_hull(1, polygons=1, edges=1, data_size=1, lists=1), bounds=3),
    "cooked mesh": physical(cooked_mesh(3, [(0, 1, 2)], flags=0x13), bounds=5),
}
CUTS = [(name, cut) for name, body in TRUNCATED.items() for cut in range(len(body))]


@pytest.mark.parametrize("name, cut", CUTS)
def test_truncated_at_every_offset(name, cut):
    fails(TRUNCATED[name][:cut])
