"""Body builders for plPXPhysical objects and their collision shapes."""

from builder import f32, i16, key_ref, synched, u8, u16, u32

PHYSICAL = 0x003F
FILL = b"\xa5"  # stepped-over bytes; not zero, so that a misplaced read shows


def width(maximum: int) -> int:
    return 1 if maximum < 0x100 else 2 if maximum < 0x10000 else 4


def vertices(count: int) -> bytes:
    return b"".join(f32(i) + f32(-i) + f32(0.5) for i in range(count))


BOX = vertices(2)  # dimensions, offset
SPHERE = f32(2.0) + vertices(1)  # radius, offset


def physical_head(*, bounds=1, group=0, group_override=0, mass=1.0, name="Phys", flags=0, **lists):
    """Everything up to and including the group override."""
    out = i16(PHYSICAL) + key_ref(name, PHYSICAL) + synched(flags, **lists)
    out += f32(mass) + f32(0.5) + f32(0.25) + u8(bounds) + u8(group)
    return out + u32(0) + u16(group_override)


def physical(shape: bytes, *, bit_words=(), **head) -> bytes:
    out = physical_head(**head) + key_ref("Sub", 1) + key_ref(None) * 3
    out += vertices(1) + f32(0) * 3 + f32(1)  # position, rotation
    return out + u32(len(bit_words)) + b"".join(u32(w) for w in bit_words) + shape


def uncooked(vertex_count: int, triangles=None) -> bytes:
    """A hull, or a mesh when triangles are given."""
    out = b"HSP\x01" + u32(vertex_count) + vertices(vertex_count)
    if triangles is None:
        return out
    return out + u32(len(triangles)) + b"".join(u32(i) for t in triangles for i in t)


def suffix(value: float = -1.0, skipped: int = 3) -> bytes:
    """Ends with its float when value is -1.0 or less."""
    out = u32(skipped) + FILL * (skipped + 44) + f32(value)
    return out + (FILL * 48 if value > -1.0 else b"")


def dependent(count: int, maximum: int) -> bytes:
    return u32(maximum) + FILL * (count * width(maximum))


def cooked_hull(
    vertex_count: int,
    *,
    maxes=(7, 0x100, 1, 0x1234, 0x12345, 0xFFFF),
    polygons=2,
    edges=3,
    records=1,
    data_size=5,
    lists=2,
    block=3,
    tail: bytes | None = None,
    tag=b"CVXM",
) -> bytes:
    """`maxes` are those of the polygon, data, three edge and last lists."""
    polygon_max, data_max, *edge_maxes, list_max = maxes
    out = b"NXS\x01" + tag + FILL * 32 + u32(vertex_count) + u32(polygons) + u32(edges)
    out += u32(records) + u32(data_size) + FILL * 4 + vertices(vertex_count)
    out += dependent(3 * polygons, polygon_max) + FILL * (14 + 2 * vertex_count + 36 * records)
    out += FILL * data_size + dependent(data_size, data_max) + FILL * (8 + 4 * edges)
    out += b"".join(dependent(edges, m) for m in edge_maxes) + FILL * (2 * edges + 12)
    out += u32(lists) + u32(block) + dependent(lists, list_max) + FILL * block
    out += suffix() if tail is None else tail
    return out + (FILL * 28 + u32(0) if vertex_count > 32 else b"")


def cooked_mesh(
    vertex_count: int,
    triangles,
    *,
    flags=0,
    remap_max=0x100,
    blocks=(1, 0x100),
    tail: bytes | None = None,
    last=0,
    tag=b"MESH",
) -> bytes:
    count = len(triangles)
    index_width = 1 if flags & 0x08 else 2 if flags & 0x10 else 4
    out = b"NXS\x01" + tag + FILL * 4 + u32(flags) + FILL * 12 + u32(vertex_count) + u32(count)
    out += vertices(vertex_count)
    out += b"".join(i.to_bytes(index_width, "little") for t in triangles for i in t)
    if flags & 0x01:
        out += FILL * (2 * count)
    if flags & 0x02:
        out += dependent(count, remap_max)
    first, second = blocks
    out += u32(first) + u32(second) + FILL * (2 * count if first else 0)
    out += FILL * (count * (1 if second < 0x100 else 2) if second else 0)
    out += suffix() if tail is None else tail
    return out + u32(last) + FILL * (count if last else 0)
