"""What the subcommands share: the failure they report, the decodable classes,
and the rendering of views as text and as JSON."""

from __future__ import annotations

import json
import math
import struct
import types
from collections.abc import Callable, Sequence

import lumivex


class CommandError(Exception):
    """A failure the command reports in one line before it exits with status 1."""


# Each engine class that lumivex decodes, with the method that decodes it.
DECODERS: dict[str, Callable[[lumivex.PrpObject], object]] = {
    "plSceneObject": lumivex.PrpObject.as_scene_object,
    "plMipmap": lumivex.PrpObject.as_mipmap,
    "hsGMaterial": lumivex.PrpObject.as_material,
    "plLayer": lumivex.PrpObject.as_layer,
    "plPythonFileMod": lumivex.PrpObject.as_python_file_mod,
    "plResponderModifier": lumivex.PrpObject.as_responder,
    "plPXPhysical": lumivex.PrpObject.as_physical,
    "plWin32Sound": lumivex.PrpObject.as_sound,
}


def properties(view: object) -> dict[str, object]:
    """The view's properties, in the order its class declares them."""
    return {
        name: getattr(view, name)
        for name, member in vars(type(view)).items()
        if isinstance(member, types.GetSetDescriptorType)
    }


def to_json(value: object) -> object:
    """Plain values, lists and dicts as they are, bytes as hex, views as
    objects of their properties; floats that JSON cannot hold (NaN, infinities) become null."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, list):
        return [to_json(item) for item in value]
    if isinstance(value, dict):
        return {str(key): to_json(item) for key, item in value.items()}
    return {name: to_json(item) for name, item in properties(value).items()}


def print_json(value: object) -> None:
    print(json.dumps(to_json(value), indent=2, ensure_ascii=False))


def value_text(value: object) -> str:
    """A property value as the text of a table: bytes by their count, floats
    by their shortest text."""
    if isinstance(value, bytes):
        return f"<{len(value)} bytes>"
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, list):
        return "[" + ", ".join(value_text(item) for item in value) + "]"
    return repr(value)


def float_text(value: float) -> str:
    """The shortest text that reads back as the same single-precision value,
    which every float of a view is."""
    for digits in range(1, 10):
        text = repr(float(f"{value:.{digits}g}"))
        try:
            if struct.unpack("<f", struct.pack("<f", float(text)))[0] == value:
                return text
        except OverflowError:
            continue
    return repr(value)


def table(rows: Sequence[Sequence[object]], header: Sequence[str] = ()) -> str:
    """Rows in aligned columns two spaces apart, under an optional header.
    Columns of numbers are aligned to the right, the others to the left."""
    numeric = [all(is_number(row[i]) for row in rows) for i in range(len(rows[0]))] if rows else []
    texts = ([list(header)] if header else []) + [[str(cell) for cell in row] for row in rows]
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
