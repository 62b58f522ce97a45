"""A small binary builder for test pages, keys and object bodies.

Everything is little-endian. By default a page comes out in the writer's
normal form, so that loading and saving it gives the same bytes back.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field


def u8(v: int) -> bytes:
    return struct.pack("<B", v)


def u16(v: int) -> bytes:
    return struct.pack("<H", v)


def i16(v: int) -> bytes:
    return struct.pack("<h", v)


def u32(v: int) -> bytes:
    return struct.pack("<I", v)


def i32(v: int) -> bytes:
    return struct.pack("<i", v)


def f32(v: float) -> bytes:
    return struct.pack("<f", v)


def safe_string(
    text: str | bytes, *, inverted: bool = True, nul: bool = False, top: int | None = None
) -> bytes:
    """A safe string: u16 header (length in the low 12 bits), then the bytes.

    `top` sets the header's top four bits explicitly (0xF means inverted).
    """
    raw = text.encode() if isinstance(text, str) else bytes(text)
    if nul:
        raw += b"\0"
    if top is None:
        top = 0xF if inverted else 0x0
    header = (top << 12) | (len(raw) & 0x0FFF)
    stored = bytes(~b & 0xFF for b in raw) if top == 0xF else raw
    return u16(header) + stored


def key_record(
    name: str | bytes = "",
    class_type: int = 0,
    object_id: int = 0,
    *,
    location_sequence: int = 0,
    location_flags: int = 0,
    load_mask: int | None = None,
    clone_id: int | None = None,
    clone_player_id: int = 0,
    contents: int | None = None,
    reserved: int = 0,
    name_bytes: bytes | None = None,
) -> bytes:
    """A key record without presence byte. Optional blocks follow `contents`,
    which by default is derived from the values given."""
    if contents is None:
        contents = (0x01 if clone_id is not None else 0) | (0x02 if load_mask is not None else 0)
    out = u8(contents) + u32(location_sequence) + u16(location_flags)
    if contents & 0x02:
        out += u8(0xFF if load_mask is None else load_mask)
    out += u16(class_type) + u32(object_id)
    out += name_bytes if name_bytes is not None else safe_string(name)
    if contents & 0x01:
        out += u16(clone_id or 0) + u16(reserved) + u32(clone_player_id)
    return out


def key_ref(name: str | None = None, class_type: int = 0, object_id: int = 0, **kw) -> bytes:
    """A key reference inside object data: 0 for none, else 1 and a record."""
    if name is None:
        return u8(0)
    return u8(1) + key_record(name, class_type, object_id, **kw)


def synched(flags: int = 0, first: list[str] = (), second: list[str] = ()) -> bytes:
    """The synched-object prefix: flags, then the string lists its bits announce
    (0x10 the first; 0x40 the second)."""
    out = u32(flags)
    if flags & 0x10:
        out += u16(len(first)) + b"".join(safe_string(s) for s in first)
    if flags & 0x40:
        out += u16(len(second)) + b"".join(safe_string(s) for s in second)
    return out


def object_prefix(class_type: int, name: str | None, flags: int = 0, **lists) -> bytes:
    """Class index, own key and synched prefix: the start of most object bodies."""
    return i16(class_type) + key_ref(name, class_type) + synched(flags, **lists)


@dataclass
class Obj:
    """One object of a page: its key values and its whole data (class index
    included)."""

    class_type: int
    name: str
    body: bytes = b""
    object_id: int = 0
    location_sequence: int = 0
    location_flags: int = 0
    load_mask: int | None = None
    clone_id: int | None = None
    clone_player_id: int = 0
    contents: int | None = None
    # When set, the key points here instead of at the body's place.
    data_offset: int | None = None
    data_len: int | None = None


@dataclass
class Group:
    class_type: int
    objects: list[Obj] = field(default_factory=list)
    flags: int = 0
    # Overrides for damaged indexes.
    key_count: int | None = None
    length: int | None = None
    truncate_entries_to: int | None = None


def page_header(
    *,
    version: int = 6,
    sequence_number: int = 0,
    flags: int = 0,
    age: str | bytes = "Age",
    page: str | bytes = "Page",
    major_version: int = 70,
    checksum: int = 0,
    data_start: int = 0,
    index_start: int = 0,
    class_versions: list[tuple[int, int]] = (),
    strings: dict | None = None,
) -> bytes:
    strings = strings or {}
    out = u32(version) + u32(sequence_number) + u16(flags)
    out += safe_string(age, **strings) + safe_string(page, **strings)
    out += u16(major_version) + u32(checksum) + u32(data_start) + u32(index_start)
    if data_start != 0:
        out += u16(len(class_versions))
        out += b"".join(u16(c) + u16(v) for c, v in class_versions)
    return out


def index_entry(obj: Obj, offset: int, length: int) -> bytes:
    return (
        key_record(
            obj.name,
            obj.class_type,
            obj.object_id,
            location_sequence=obj.location_sequence,
            location_flags=obj.location_flags,
            load_mask=obj.load_mask,
            clone_id=obj.clone_id,
            clone_player_id=obj.clone_player_id,
            contents=obj.contents,
        )
        + u32(offset)
        + u32(length)
    )


def page(
    objects: list[Obj] = (),
    *,
    groups: list[Group] | None = None,
    age: str = "Age",
    page_name: str = "Page",
    sequence_number: int = 0x00010021,
    flags: int = 0,
    major_version: int = 70,
    checksum: int = 0,
    class_versions: list[tuple[int, int]] = (),
    gap: bytes = b"",
    no_data_start: bool = False,
    trailing: bytes = b"",
    header_overrides: dict | None = None,
) -> bytes:
    """A page file. Objects are grouped by class in order of first appearance
    unless `groups` is given. `gap` lies between header and data region."""
    if groups is None:
        groups = []
        by_class: dict[int, Group] = {}
        for obj in objects:
            if obj.class_type not in by_class:
                by_class[obj.class_type] = Group(obj.class_type)
                groups.append(by_class[obj.class_type])
            by_class[obj.class_type].objects.append(obj)
    all_objects = [o for g in groups for o in g.objects]

    def header(data_start: int, index_start: int) -> bytes:
        args = dict(
            sequence_number=sequence_number,
            flags=flags,
            age=age,
            page=page_name,
            major_version=major_version,
            checksum=checksum,
            data_start=data_start,
            index_start=index_start,
            class_versions=class_versions,
        )
        args.update(header_overrides or {})
        return page_header(**args)

    header_len = len(header(1, 0))
    data_start = 0 if no_data_start else header_len + len(gap)
    region_start = (len(header(0, 0)) + len(gap)) if no_data_start else data_start
    offsets = []
    region = b""
    for obj in all_objects:
        offsets.append(region_start + len(region))
        region += obj.body
    index_start = region_start + len(region)

    index = u32(len(groups))
    i = 0
    for g in groups:
        entries = b""
        for obj in g.objects:
            offset = offsets[i] if obj.data_offset is None else obj.data_offset
            length = len(obj.body) if obj.data_len is None else obj.data_len
            entries += index_entry(obj, offset, length)
            i += 1
        if g.truncate_entries_to is not None:
            entries = entries[: g.truncate_entries_to]
        count = len(g.objects) if g.key_count is None else g.key_count
        body = u8(g.flags) + u32(count) + entries
        length = len(body) if g.length is None else g.length
        index += u16(g.class_type) + u32(length) + body
    return header(data_start, index_start) + gap + region + index + trailing
