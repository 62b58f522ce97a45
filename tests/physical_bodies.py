"""Body builders for plPXPhysical objects and their collision shapes."""

from __future__ import annotations

from builder import f32, i16, key_ref, synched, u8, u16, u32

PHYSICAL = 0x003F
UNCOOKED = b"HSP\x01"
COOKED = b"NXS\x01"
# Bytes a decoder only steps over; not zero, so that a misplaced read shows.
FILL = 0xA5


def fill(n: int) -> bytes:
    return bytes([FILL]) * n


def width(maximum: int) -> int:
    """Element width of a list whose largest value is `maximum`."""
    return 1 if maximum < 0x100 else 2 if maximum < 0x10000 else 4


def vec(x: float = 0.0, y: float = 0.0, z: float = 0.0) -> bytes:
    return f32(x) + f32(y) + f32(z)


def vertices(count: int) -> bytes:
    return b"".join(vec(i, -i, 0.5) for i in range(count))


def physical_head(
    *,
    bounds: int = 1,
    name: str | None = "Phys",
    flags: int = 0,
    mass: float = 1.0,
    friction: float = 0.5,
    restitution: float = 0.25,
    group: int = 0,
    extra_flags: int = 0,
    group_override: int = 0,
    **lists,
) -> bytes:
    """Everything up to and including the group override."""
    out = i16(PHYSICAL) + key_ref(name, PHYSICAL) + synched(flags, **lists)
    out += f32(mass) + f32(friction) + f32(restitution) + u8(bounds) + u8(group)
    return out + u32(extra_flags) + u16(group_override)


def physical(
    shape: bytes,
    *,
    rotation: tuple[float, float, float, float] = (0.0, 0.0, 0.0, 1.0),
    bit_words: list[int] = (),
    **head,
) -> bytes:
    out = physical_head(**head)
    out += key_ref("Sub", 0x0001) + key_ref(None) + key_ref("Sound", 0x0044) + key_ref(None)
    out += vec(1, 2, 3) + b"".join(f32(c) for c in rotation)
    out += u32(len(bit_words)) + b"".join(u32(w) for w in bit_words)
    return out + shape


def box(dimensions=(1.0, 2.0, 3.0), offset=(0.0, 0.0, 0.0)) -> bytes:
    return vec(*dimensions) + vec(*offset)


def sphere(radius: float = 2.0, offset=(0.0, 0.0, 0.0)) -> bytes:
    return f32(radius) + vec(*offset)


def uncooked_hull(vertex_count: int) -> bytes:
    return UNCOOKED + u32(vertex_count) + vertices(vertex_count)


def uncooked_mesh(vertex_count: int, triangles: list[tuple[int, int, int]]) -> bytes:
    out = UNCOOKED + u32(vertex_count) + vertices(vertex_count) + u32(len(triangles))
    return out + b"".join(u32(i) for t in triangles for i in t)


def cooked_suffix(skipped: int = 3, value: float = -1.0) -> bytes:
    """Ends with its float when `value` is -1.0 or less."""
    out = u32(skipped) + fill(skipped) + fill(44) + f32(value)
    return out + (fill(48) if value > -1.0 else b"")


def dependent_list(count: int, maximum: int) -> bytes:
    return u32(maximum) + fill(count * width(maximum))


def cooked_hull(
    vertex_count: int,
    *,
    polygons: int = 2,
    polygon_max: int = 7,
    edges: int = 3,
    records: int = 1,
    data_size: int = 5,
    data_max: int = 0x100,
    edge_maxes: tuple[int, int, int] = (1, 0x1234, 0x12345),
    lists: int = 2,
    list_max: int = 0xFFFF,
    block: int = 3,
    suffix: bytes | None = None,
    trailing: int = 0,
    tag: bytes = b"CVXM",
) -> bytes:
    out = COOKED + tag + fill(6 * 4) + fill(4) + fill(4)
    out += u32(vertex_count) + u32(polygons) + u32(edges) + u32(records) + u32(data_size) + fill(4)
    out += vertices(vertex_count)
    out += u32(polygon_max) + fill(polygons * 3 * width(polygon_max))
    out += fill(2) + fill(vertex_count * 2) + fill(12) + fill(records * 36) + fill(data_size)
    out += dependent_list(data_size, data_max) + fill(8) + fill(edges * 2) + fill(edges * 2)
    out += b"".join(dependent_list(edges, m) for m in edge_maxes) + fill(edges * 2)
    out += fill(12) + u32(lists) + u32(block) + dependent_list(lists, list_max) + fill(block)
    out += cooked_suffix() if suffix is None else suffix
    if vertex_count > 32:
        out += fill(7 * 4) + u32(trailing) + fill(trailing * 2)
    return out


def cooked_mesh(
    vertex_count: int,
    triangles: list[tuple[int, int, int]],
    *,
    flags: int = 0,
    remap_max: int = 0x100,
    first_block: int = 1,
    second_block: int = 0x100,
    suffix: bytes | None = None,
    last: int = 0,
    tag: bytes = b"MESH",
) -> bytes:
    count = len(triangles)
    index_width = 1 if flags & 0x08 else 2 if flags & 0x10 else 4
    out = COOKED + tag + fill(4) + u32(flags) + fill(12) + u32(vertex_count) + u32(count)
    out += vertices(vertex_count)
    out += b"".join(i.to_bytes(index_width, "little") for t in triangles for i in t)
    if flags & 0x01:
        out += fill(count * 2)
    if flags & 0x02:
        out += u32(remap_max) + fill(count * width(remap_max))
    out += u32(first_block) + u32(second_block)
    if first_block:
        out += fill(count * 2)
    if second_block:
        out += fill(count * (1 if second_block < 0x100 else 2))
    out += cooked_suffix() if suffix is None else suffix
    return out + u32(last) + fill(count if last else 0)
