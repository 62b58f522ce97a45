"""lumivex diff: the changes from A to B, grouped by page, printed as they
are found: as lines, as counts (--stat), or as one JSON object."""

from __future__ import annotations

import itertools
import sys
from collections import Counter
from typing import TextIO

from lumivex.diff import (
    ADDED,
    AGE,
    CHANGED,
    DATA,
    HEADER,
    REMOVED,
    RENAMED,
    Diff,
    change_json,
    change_line,
    grouped,
    heading,
    is_whole_page,
)
from lumivex.shapes import counted, json_text

# What --stat counts, in the order it prints them, one and several.
COUNTED = {
    AGE: ("age description change", "age description changes"),
    HEADER: ("header field", "header fields"),
    REMOVED: ("object only in A", "objects only in A"),
    ADDED: ("object only in B", "objects only in B"),
    RENAMED: ("renamed object", "renamed objects"),
    CHANGED: ("changed field", "changed fields"),
    DATA: ("changed object", "changed objects"),
}


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
                counted(counts[kind], *COUNTED[kind]) for kind in COUNTED if counts[kind]
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
    changes = grouped(iter(found))
    # The first change is found before the object starts, so that A and B
    # failing to load print nothing but the error.
    found_first = list(itertools.islice(changes, 1))
    out.write(f'{{\n  "a": {json_text(a)},\n  "b": {json_text(b)},\n  "changes": [')
    count = pages = 0
    for first, change in itertools.chain(found_first, changes):
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
