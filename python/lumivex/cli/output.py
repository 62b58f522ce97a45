"""The command's output: JSON, and tables of aligned columns."""

from __future__ import annotations

import sys
from collections.abc import Sequence
from typing import TextIO

from lumivex.shapes import json_chunks, printable_text


def print_json(value: object, out: TextIO | None = None) -> None:
    """JSON to standard output (or out), written as it is made."""
    write = (out or sys.stdout).write
    for chunk in json_chunks(value):
        write(chunk)
    write("\n")


def fields(pairs: list[tuple[str, object]]) -> str:
    """Indented names and their values, in two columns aligned to the left."""
    return table([(f"  {name}", str(value)) for name, value in pairs])


def table(rows: Sequence[Sequence[object]], header: Sequence[str] = ()) -> str:
    """Rows in aligned columns two spaces apart, under an optional header.
    Columns of numbers are aligned to the right, the others to the left. A
    text read from a file is shown with what is not printable escaped, so
    that no name can break a row or send the terminal a control sequence."""
    numeric = [all(is_number(row[i]) for row in rows) for i in range(len(rows[0]))] if rows else []
    texts = ([list(header)] if header else []) + [
        [printable_text(str(cell), keep_bytes=True) for cell in row] for row in rows
    ]
    widths = [max(len(row[i]) for row in texts) for i in range(len(texts[0]))] if texts else []
    return "\n".join(
        "  ".join(
            text.rjust(width) if right else text.ljust(width)
            for text, width, right in zip(row, widths, numeric or [False] * len(row), strict=False)
        ).rstrip()
        for row in texts
    )


def is_number(cell: object) -> bool:
    return isinstance(cell, (int, float)) and not isinstance(cell, bool)
