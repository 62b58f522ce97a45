"""lumivex diff: the changes from A to B, grouped by page, printed as they
are found: as lines, as counts (--stat), or as one JSON object."""

from __future__ import annotations

import sys
from collections import Counter
from collections.abc import Iterator
from typing import TextIO

from lumivex._lumivex import Key
from lumivex.diff import (
    ADDED,
    AGE,
    CHANGED,
    DATA,
    HEADER,
    REMOVED,
    RENAMED,
    Change,
    Diff,
    first_difference,
)
from lumivex.shapes import counted, json_text, printable_text, value_text

# What --stat counts, in the order it prints them.
COUNTED = {
    AGE: "age description change",
    HEADER: "header field",
    REMOVED: "object only in A",
    ADDED: "object only in B",
    RENAMED: "renamed object",
    CHANGED: "changed field",
    DATA: "changed object",
}


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
        return f"  header {change.field}: {values_text(change.before, change.after, page_names)}"
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


def print_lines(found: Diff, out: TextIO) -> int:
    count = 0
    for first, change in grouped(iter(found)):
        count += 1
        if first and not is_whole_page(change):
            print(heading(change), file=out)
        print(change_line(change, found.page_names), file=out)
    return count


def print_stat(found: Diff, out: TextIO) -> int:
    """Each page's changes counted by kind, in one line."""
    total = 0
    counts: Counter[str] = Counter()
    group = ""

    def flush() -> None:
        if counts:
            shown = ", ".join(
                counted(counts[kind], COUNTED[kind]) for kind in COUNTED if counts[kind]
            )
            print(f"{group}: {shown}", file=out)
        counts.clear()

    for first, change in grouped(iter(found)):
        total += 1
        if first:
            flush()
            group = heading(change)
        if is_whole_page(change):
            print(change_line(change, found.page_names), file=out)
        else:
            counts[change.kind] += 1
    flush()
    return total


def print_json_stream(found: Diff, a: str, b: str, out: TextIO) -> int:
    """One JSON object whose list of changes is printed as it is found."""
    out.write(f'{{\n  "a": {json_text(a)},\n  "b": {json_text(b)},\n  "changes": [')
    count = pages = 0
    for first, change in grouped(iter(found)):
        record = json_text(change_json(change)).replace("\n", "\n    ")
        out.write(f"{',' if count else ''}\n    {record}")
        count += 1
        pages += first and change.kind != AGE
    out.write(f'\n  ],\n  "change_count": {count},\n  "page_count": {pages}\n}}\n')
    return count


def run(a: str, b: str, stat: bool, as_json: bool, all_fields: bool) -> int:
    """Prints the changes from A to B; 1 when there is any, 0 when none."""
    found = Diff(a, b, all_fields)
    if as_json:
        count = print_json_stream(found, a, b, sys.stdout)
    elif stat:
        count = print_stat(found, sys.stdout)
    else:
        count = print_lines(found, sys.stdout)
    return 1 if count else 0
