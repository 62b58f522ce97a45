"""What differs between two pages, or between two ages: the settings and
page list of the age descriptions, header fields, objects only on one side,
renamed objects, and changed objects field by field where a decoder reads
their class, else by their bytes; and how each change reads, as a line of
text or as JSON, the same in the command and in the server."""

from __future__ import annotations

import hashlib
import os
import struct
from collections import Counter
from collections.abc import Iterator
from typing import NamedTuple

from lumivex._lumivex import (
    AgeFile,
    Key,
    PageEntry,
    PrpFile,
    PrpObject,
    PythonParam,
    _load_regular_page,
    _paired_objects,
)
from lumivex.age import Age, age_file_in
from lumivex.classes import DECODERS
from lumivex.errors import error_text
from lumivex.shapes import header_value_text, printable_text, properties, value_text

__all__ = [
    "ADDED",
    "AGE",
    "CHANGED",
    "DATA",
    "HEADER",
    "REMOVED",
    "RENAMED",
    "Change",
    "Diff",
    "diff",
    "first_difference",
]

# The kinds of change.
AGE = "age"  # a setting of the age description, or an entry of its page list
HEADER = "header"  # a field of the page header
REMOVED = "removed"  # an object (or, with no class, a whole page) only in A
ADDED = "added"  # an object (or a whole page) only in B
RENAMED = "renamed"  # an object whose body is the same apart from its name
CHANGED = "changed"  # a field of an object of a decodable class, or of an object's key
DATA = "data"  # the bytes of an object no decoder reads, or that does not decode

# The settings of an age description, in the order they are compared.
AGE_SETTINGS = (
    "age_name",
    "sequence_prefix",
    "start_date_time",
    "day_length",
    "max_capacity",
    "linger_time",
    "release_version",
)

# What an object's key in the index holds beside its class and name, by
# which objects pair.
KEY_FIELDS = (
    "location_sequence",
    "location_flags",
    "load_mask",
    "object_id",
    "clone_id",
    "clone_player_id",
)

# What an entry of an age's page list holds beside its name.
PAGE_ENTRY_FIELDS = ("seq_suffix", "flags")

# Values that follow from others: sizes, offsets, counts, and names that
# merely repeat the keys beside them. Left out unless all fields are asked for.
DERIVED_FIELDS = frozenset(
    {
        "data_start",
        "index_start",
        # A key's location follows its page's header.
        "location_sequence",
        "location_flags",
        "name",
        "num_levels",
        "total_size",
        "num_verts",
        "num_faces",
        "num_states",
        "draw_interface_names",
        "coord_interface_name",
        "modifier_names",
        "layer_names",
        "texture_name",
        "receiver_names",
    }
)

Side = PrpFile | Age | str | bytes | os.PathLike[str] | os.PathLike[bytes]


class Change(NamedTuple):
    """One difference between A and B: its kind ("age", "header",
    "removed", "added", "renamed", "changed" or "data"), the page's name
    (the age's name for an "age" change), the object's class and name (None
    for a header field or a whole page), the field (None but for "age",
    "header" and "changed"), and the values before and after.

    A removed object has its Key before and None after, an added one the
    reverse; a renamed one has its two names. A "data" change has the
    object's bytes on each side. An "age" change is a setting of the age
    description (its field, name None) or a field of an entry of its page
    list that both sides hold (the entry's name and the field)."""

    kind: str
    page: str
    class_name: str | None
    name: str | None
    field: str | None
    before: object
    after: object


def first_difference(before: bytes, after: bytes) -> int:
    """The offset of the first byte that differs, or the shorter length when
    one is the start of the other."""
    shorter = min(len(before), len(after))
    low, high = 0, shorter
    # Halving compares whole slices at C speed instead of walking bytes.
    while low < high:
        middle = (low + high) // 2
        if before[low : middle + 1] == after[low : middle + 1]:
            low = middle + 1
        else:
            high = middle
    return low


def same(before: object, after: object) -> bool:
    """Equal values; floats, all single-precision, by their stored bits, so
    that -0.0 differs from 0.0 and a NaN equals itself."""
    if isinstance(before, float) and isinstance(after, float):
        return struct.pack("<f", before) == struct.pack("<f", after)
    if isinstance(before, list) and isinstance(after, list):
        return len(before) == len(after) and all(map(same, before, after))
    return type(before) is type(after) and before == after


def plain(value: object) -> object:
    """A view's value as a plain Python value: a script parameter as its id
    and its value with its kind."""
    if isinstance(value, list):
        return [plain(item) for item in value]
    if isinstance(value, PythonParam):
        return f"{value.id}: {value.param_type}"
    return value


def body_without_name(data: bytes) -> bytes:
    """An object's bytes without the name of the key it starts with (class
    index, presence byte, key record), so that a renamed object's body
    equals the old one; the bytes as they are when they hold no such key."""
    # Class index (2), presence (1), contents (1), location sequence (4), location flags (2).
    if len(data) < 4 or data[2] != 1:
        return data
    at = 10 + (1 if data[3] & 0x02 else 0) + 6  # load mask, then class type and object id
    if len(data) < at + 2:
        return data
    length = int.from_bytes(data[at : at + 2], "little") & 0x0FFF
    return data[:at] + data[at + 2 + length :]


def nameless_body(obj: PrpObject) -> tuple[int, bytes]:
    """An object's class and the digest of its body without its name: what a
    renamed object keeps. A digest, so that the unpaired bodies are not held."""
    return obj.class_type, hashlib.blake2b(body_without_name(obj.data or b"")).digest()


def age_changes(a: AgeFile, b: AgeFile) -> Iterator[Change]:
    """The settings of two age descriptions that differ, then the entries of
    their page lists that both hold (paired by name, several of one name in
    file order) whose other fields differ, then the pages both list that one
    lists more times than the other. A page listed on one side only shows as
    a whole page only in A or B."""
    age = a.age_name
    for field in AGE_SETTINGS:
        before, after = getattr(a, field), getattr(b, field)
        if not same(before, after):
            yield Change(AGE, age, None, None, field, before, after)
    partners: dict[str, list[PageEntry]] = {}
    for entry in reversed(b.pages):
        partners.setdefault(entry.name, []).append(entry)
    for entry in a.pages:
        waiting = partners.get(entry.name)
        if not waiting:
            continue
        partner = waiting.pop()
        for field in PAGE_ENTRY_FIELDS:
            before, after = getattr(entry, field), getattr(partner, field)
            if before != after:
                yield Change(AGE, age, None, entry.name, field, before, after)
    listed_in_a = Counter(entry.name for entry in a.pages)
    listed_in_b = Counter(entry.name for entry in b.pages)
    for name, times in listed_in_a.items():
        if listed_in_b[name] and listed_in_b[name] != times:
            yield Change(AGE, age, None, name, "times_listed", times, listed_in_b[name])


def header_changes(page: str, a: PrpFile, b: PrpFile, all_fields: bool) -> Iterator[Change]:
    before, after = properties(a.header), properties(b.header)
    for field, value in before.items():
        if (all_fields or field not in DERIVED_FIELDS) and not same(value, after[field]):
            yield Change(HEADER, page, None, None, field, value, after[field])


def view_values(obj: PrpObject) -> dict[str, object] | None:
    """The decoded view's values, or None for a class no decoder reads or an
    object that does not decode."""
    decode = DECODERS.get(obj.class_name)
    if decode is None:
        return None
    try:
        return {name: plain(value) for name, value in properties(decode(obj)).items()}
    except (OSError, ValueError):
        return None


def object_changes(
    page: str, a: PrpObject, b: PrpObject, a_data: bytes, b_data: bytes, all_fields: bool
) -> Iterator[Change]:
    """The changes of an object whose bytes differ: field by field when both
    sides decode and a field shown differs, else one change of its bytes."""
    before, after = view_values(a), view_values(b)
    if before is not None and after is not None:
        fields = [
            Change(CHANGED, page, a.class_name, a.name, field, value, after[field])
            for field, value in before.items()
            if (all_fields or field not in DERIVED_FIELDS) and not same(value, after[field])
        ]
        if fields:
            yield from fields
            return
    yield Change(DATA, page, a.class_name, a.name, None, a_data, b_data)


def key_changes(page: str, a: PrpObject, b: PrpObject, all_fields: bool) -> Iterator[Change]:
    """The fields of two paired objects' keys in the index that differ:
    the ids that references to them carry, say."""
    a_key, b_key = a.key, b.key
    for field in KEY_FIELDS:
        before, after = getattr(a_key, field), getattr(b_key, field)
        if (all_fields or field not in DERIVED_FIELDS) and before != after:
            yield Change(CHANGED, page, a.class_name, a.name, field, before, after)


def page_changes(page: str, a: PrpFile, b: PrpFile, all_fields: bool) -> Iterator[Change]:
    """Objects pair by class and name; several of one class and name pair in
    index order. Equal bytes are never decoded."""
    yield from header_changes(page, a, b, all_fields)
    # The pairs whose bytes and keys are the same are passed over unseen.
    differing, only_a, only_b = _paired_objects(a, b)
    for a_index, b_index in differing:
        obj, partner = a[a_index], b[b_index]
        a_data, b_data = obj.data or b"", partner.data or b""
        if a_data != b_data:
            yield from object_changes(page, obj, partner, a_data, b_data, all_fields)
        if obj.key != partner.key:
            yield from key_changes(page, obj, partner, all_fields)
    yield from unpaired_changes(page, [a[i] for i in only_a], [b[i] for i in only_b])


def unpaired_changes(
    page: str, only_a: list[PrpObject], only_b: list[PrpObject]
) -> Iterator[Change]:
    """Renames first, an object only in A with the first one only in B of
    its class whose body is the same apart from the name; then the rest."""
    bodies: dict[tuple[int, bytes], list[PrpObject]] = {}
    for obj in reversed(only_b):
        bodies.setdefault(nameless_body(obj), []).append(obj)
    renamed: set[PrpObject] = set()
    removed = []
    for obj in only_a:
        waiting = bodies.get(nameless_body(obj))
        if waiting:
            partner = waiting.pop()
            renamed.add(partner)
            yield Change(RENAMED, page, obj.class_name, obj.name, None, obj.name, partner.name)
        else:
            removed.append(obj)
    for obj in removed:
        yield Change(REMOVED, page, obj.class_name, obj.name, None, obj.key, None)
    for obj in only_b:
        if obj not in renamed:
            yield Change(ADDED, page, obj.class_name, obj.name, None, None, obj.key)


class Diff:
    """The changes from A to B, computed as they are iterated: A and B are
    two pages, or two ages whose pages pair by the page name of their
    headers. At most one page of each side is loaded at a time. Each side is
    a PrpFile, an Age, or the path of a page, of an .age file or of a folder
    holding one."""

    # The folder every page file read must lie in, as the system opens it;
    # None for anywhere.
    _inside: str | None = None

    def __init__(self, a: Side, b: Side, all_fields: bool = False) -> None:
        self.a, self.b = opened(a), opened(b)
        if isinstance(self.a, PrpFile) != isinstance(self.b, PrpFile):
            raise ValueError("cannot compare a page with an age")
        self.all_fields = all_fields
        # Page names by location sequence, of the pages read so far.
        self.page_names: dict[int, str] = {}

    def __iter__(self) -> Iterator[Change]:
        if isinstance(self.a, PrpFile) and isinstance(self.b, PrpFile):
            yield from self.page_pair(self.a, self.b)
            return
        assert isinstance(self.a, Age) and isinstance(self.b, Age)
        # Every page is read before the first change, so that pages that do
        # not load or do not pair fail before anything is shown.
        a_paths, b_paths = self.page_files(self.a), self.page_files(self.b)
        yield from age_changes(self.a.description, self.b.description)
        for name, path in a_paths.items():
            if name in b_paths:
                yield from self.page_pair(self.load(path), self.load(b_paths[name]))
            else:
                yield Change(REMOVED, name, None, None, None, name, None)
        for name in b_paths:
            if name not in a_paths:
                yield Change(ADDED, name, None, None, None, None, name)

    def load(self, path: str) -> PrpFile:
        """A page file of one of the ages: a regular file, so that a FIFO in
        a page's place is refused, not waited on. An error that names no file
        names this one, as an age has several."""
        try:
            return _load_regular_page(path, inside=self._inside)
        except OSError as error:
            if error.filename is not None or path in str(error):
                raise
            raise OSError(f"{path}: {error_text(error)}") from None

    def page_pair(self, a: PrpFile, b: PrpFile) -> Iterator[Change]:
        for page in (a, b):
            self.page_names.setdefault(page.header.sequence_number, page.page_name)
        yield from page_changes(a.page_name, a, b, self.all_fields)

    def page_files(self, age: Age) -> dict[str, str]:
        """The age's page files by the page name of their headers, each page
        read once and let go."""
        files: dict[str, str] = {}
        read: set[str] = set()
        for entry in age.description.pages:
            path = age.page_path(entry.name)
            if path is None:
                raise ValueError(f"page {entry.name!r} of {age.path} is not a plain file name")
            if path in read:
                # A page listed again is the same file: it pairs once.
                continue
            read.add(path)
            page = self.load(path)
            self.page_names.setdefault(page.header.sequence_number, page.page_name)
            if page.page_name in files:
                # Pages pair by the names in their headers: two of one name
                # leave no way to pair them, and dropping one would hide it.
                raise ValueError(
                    f"{files[page.page_name]} and {path} both hold page "
                    f"{printable_text(page.page_name)!r}: pages pair by the names in their headers"
                )
            files[page.page_name] = path
        return files


def key_text(key: Key, page_names: dict[int, str]) -> str:
    """A key by its class, its name and its page."""
    page = page_names.get(key.location_sequence, f"0x{key.location_sequence:08x}")
    return f"{key.class_name} {printable_text(key.name)} ({printable_text(page)})"


def item_text(value: object, page_names: dict[int, str]) -> str:
    if isinstance(value, Key):
        return key_text(value, page_names)
    if value is None:
        return "none"
    return value_text(value)


def bytes_text(before: bytes, after: bytes) -> str:
    return (
        f"{len(before)} -> {len(after)} bytes, "
        f"first difference at offset {first_difference(before, after)}"
    )


def values_text(before: object, after: object, page_names: dict[int, str]) -> str:
    """A value's change: bytes by their sizes and first difference, lists of
    keys or texts by the items removed and added, others as before -> after."""
    if isinstance(before, bytes) and isinstance(after, bytes):
        return bytes_text(before, after)
    if (
        isinstance(before, list)
        and isinstance(after, list)
        and all(isinstance(item, (Key, str)) for item in before + after)
    ):
        removed, added = Counter(before) - Counter(after), Counter(after) - Counter(before)
        items = [f"-{item_text(item, page_names)}" for item in before if removed.pop(item, 0)]
        items += [f"+{item_text(item, page_names)}" for item in after if added.pop(item, 0)]
        return ", ".join(items) or "same items, reordered"
    return f"{item_text(before, page_names)} -> {item_text(after, page_names)}"


def is_whole_page(change: Change) -> bool:
    return change.class_name is None and change.kind in (REMOVED, ADDED)


def age_line(change: Change) -> str:
    """A setting of the age description, or an entry of its page list."""
    values = f"{item_text(change.before, {})} -> {item_text(change.after, {})}"
    if change.name is None:
        return f"  setting {change.field}: {values}"
    return f"  page entry {printable_text(change.name)}: {change.field} {values}"


def change_line(change: Change, page_names: dict[int, str]) -> str:
    if change.kind == AGE:
        return age_line(change)
    if is_whole_page(change):
        side = "A" if change.kind == REMOVED else "B"
        return f"page {printable_text(change.page)}: only in {side}"
    what = f"{change.class_name} {printable_text(change.name or '')}"
    if change.kind == HEADER:
        field = change.field or ""
        values = (
            f"{header_value_text(field, change.before)} -> {header_value_text(field, change.after)}"
        )
        return f"  header {field}: {values}"
    if change.kind == REMOVED:
        return f"  only in A: {what}"
    if change.kind == ADDED:
        return f"  only in B: {what}"
    if change.kind == RENAMED:
        return f"  renamed: {what} -> {printable_text(str(change.after))}"
    if change.kind == DATA:
        assert isinstance(change.before, bytes) and isinstance(change.after, bytes)
        return f"  {what}: {bytes_text(change.before, change.after)}"
    return f"  {what}: {change.field} {values_text(change.before, change.after, page_names)}"


def change_json(change: Change) -> dict[str, object]:
    """A change as JSON; bytes (of an object, or of a field) by their sizes
    and the offset of their first difference."""
    record: dict[str, object] = change._asdict()
    if isinstance(change.before, bytes) and isinstance(change.after, bytes):
        record.update(
            before=len(change.before),
            after=len(change.after),
            offset=first_difference(change.before, change.after),
        )
    return record


def grouped(changes: Iterator[Change]) -> Iterator[tuple[bool, Change]]:
    """Each change, with whether it is the first of its page (or of the age
    descriptions' changes, which come first)."""
    group = None
    for change in changes:
        yield (change.kind == AGE, change.page) != group, change
        group = (change.kind == AGE, change.page)


def heading(change: Change) -> str:
    return f"{'age' if change.kind == AGE else 'page'} {printable_text(change.page)}"


def opened(side: Side) -> PrpFile | Age:
    """A page or an age as it is, or read from its path: a folder stands for
    the one .age file it holds, a file ending in .age for an age, any other
    file for a page."""
    if isinstance(side, (PrpFile, Age)):
        return side
    # A bytes path as the text the file system's encoding gives it back from.
    path = os.fsdecode(side)
    if os.path.isdir(path):
        return Age.open_regular(age_file_in(path))
    if path.lower().endswith(".age"):
        return Age.open(path)
    return PrpFile.load(path)


def diff(a: Side, b: Side, all_fields: bool = False) -> list[Change]:
    """The changes from A to B, as `lumivex diff` reports them: two pages,
    or two ages whose pages pair by the page name of their headers, each
    given as a PrpFile, an Age or a path. Derived values (sizes, offsets,
    counts, names that follow keys) are left out unless all_fields."""
    return list(Diff(a, b, all_fields))
