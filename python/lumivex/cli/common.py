"""What the subcommands share: the failure they report, the decodable classes,
the text of an error, class names, file writing, and the rendering of views
as text and as JSON."""

from __future__ import annotations

import json
import math
import os
import re
import stat
import struct
import types
from collections.abc import Callable, Sequence

import lumivex


class CommandError(Exception):
    """A failure the command reports in one line before it exits with status 1."""


# Each engine class that lumivex decodes, with the method that decodes it:
# the module's own list.
DECODERS: dict[str, Callable[[lumivex.PrpObject], object]] = {
    lumivex.class_name(class_type): getattr(lumivex.PrpObject, method)
    for class_type, method in lumivex._lumivex.decoder_methods.items()
}

# The highest class type id there is.
CLASS_TYPE_MAX = 0xFFFF


def error_text(error: BaseException) -> str:
    """An error's message followed by the reason behind it: the system's for a
    failure of the system, the data's for a page whose header is unusable."""
    if isinstance(error, MemoryError):
        return "out of memory"
    if isinstance(error, OSError) and error.strerror:
        if error.args[:2] == (error.errno, error.strerror):
            # Raised by Python itself, whose message is "[Errno N] reason: 'name'".
            if error.filename is None:
                return error.strerror
            return f"{os.fsdecode(error.filename)}: {error.strerror}"
        return f"{error}: {error.strerror}"
    if isinstance(error, OSError) and isinstance(error.__cause__, ValueError):
        return f"{error}: {error.__cause__}"
    return str(error)


def is_not_utf8(error: OSError) -> bool:
    """Whether a text file failed to load for its bytes, not for the system:
    the one data failure of age and state description files."""
    return isinstance(error.__cause__, ValueError)


def load_page(path: str) -> lumivex.PrpFile:
    try:
        return lumivex.PrpFile.load(path)
    except IsADirectoryError as error:
        raise CommandError(f"{path} is a folder, not a page file") from error


def class_type(text: str) -> int:
    """A class given by its name in any case, or by its id in decimal or in
    hexadecimal with 0x in front."""
    number = None
    if re.fullmatch(r"[0-9]+", text):
        number = int(text)
    elif re.fullmatch(r"0[xX][0-9a-fA-F]+", text):
        number = int(text, 16)
    if number is not None:
        if number > CLASS_TYPE_MAX:
            raise ValueError(f"not a class id from 0 to {CLASS_TYPE_MAX} (0x{CLASS_TYPE_MAX:X})")
        return number
    wanted = text.lower()
    for number in range(CLASS_TYPE_MAX + 1):
        name = lumivex.class_name(number)
        if name.lower() == wanted and name != "Unknown":
            return number
    raise ValueError(f"unknown class {text!r}")


def replace_file(path: str, data: bytes) -> None:
    """Writes data to path through a new file beside it, so that a failed
    write leaves any old file whole. Only a regular file is ever replaced."""
    try:
        old = os.stat(path)
    except FileNotFoundError:
        old = None
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from error
    if old is not None and not stat.S_ISREG(old.st_mode):
        raise CommandError(f"cannot write {path}: it is not a regular file")
    if old is not None:
        mode = stat.S_IMODE(old.st_mode)
    else:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    # Imported here: only texture writes files, and the import would slow
    # every command's start.
    import tempfile

    try:
        descriptor, temporary = tempfile.mkstemp(
            dir=os.path.dirname(path) or ".", prefix=".lumivex-", suffix=".part"
        )
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from error
    try:
        with os.fdopen(descriptor, "wb") as out:
            out.write(data)
            os.fchmod(out.fileno(), mode)
        os.replace(temporary, path)
    except OSError as error:
        os.unlink(temporary)
        raise CommandError(f"cannot write {path}: {error.strerror}") from error


def fields(pairs: list[tuple[str, object]]) -> str:
    """Indented names and their values, in two columns aligned to the left."""
    return table([(f"  {name}", str(value)) for name, value in pairs])


# Properties that show again what others show, made from them at a cost.
DERIVED_PROPERTIES = {"levels"}


def properties(view: object) -> dict[str, object]:
    """The view's properties, in the order its class declares them."""
    return {
        name: getattr(view, name)
        for name, member in vars(type(view)).items()
        if isinstance(member, types.GetSetDescriptorType) and name not in DERIVED_PROPERTIES
    }


def to_json(value: object) -> object:
    """Plain values, lists and dicts as they are, bytes as hex, views as
    objects of their properties. Floats, all single-precision values of the
    files, become the double of their shortest text, which JSON then prints as
    that text; those that JSON cannot hold (NaN, infinities) become null."""
    if isinstance(value, float):
        return float(float_text(value)) if math.isfinite(value) else None
    if value is None or isinstance(value, (bool, int, str)):
        return value
    if isinstance(value, bytes):
        return value.hex()
    if isinstance(value, list):
        return [to_json(item) for item in value]
    if isinstance(value, dict):
        return {str(key): to_json(item) for key, item in value.items()}
    return {name: to_json(item) for name, item in properties(value).items()}


# A lone surrogate: a byte of a file name that is not UTF-8, as os.fsdecode
# gives it.
LONE_SURROGATE = re.compile("[\ud800-\udfff]")


def json_text(value: object) -> str:
    """Indented JSON. A file name byte that is not UTF-8 is written as the
    escape of its lone surrogate, which reads back as os.fsdecode's text."""
    text = json.dumps(to_json(value), indent=2, ensure_ascii=False)
    return LONE_SURROGATE.sub(lambda match: f"\\u{ord(match[0]):04x}", text)


def print_json(value: object) -> None:
    print(json_text(value))


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


def ls_json(path: str, objects: Sequence[lumivex.PrpObject]) -> dict[str, object]:
    """The shape of `lumivex ls --json`."""
    return {
        "path": path,
        "objects": [
            {
                "class_type": obj.class_type,
                "class_name": obj.class_name,
                "name": obj.name,
                "object_id": obj.object_id,
                "location_sequence": obj.location_sequence,
                "data_len": obj.data_len,
            }
            for obj in objects
        ],
    }


def show_json(
    path: str, shown: Sequence[tuple[lumivex.PrpObject, dict[str, object]]]
) -> dict[str, object]:
    """The shape of `lumivex show --json`: each object with its view's properties."""
    return {
        "path": path,
        "objects": [
            {
                "class_type": obj.class_type,
                "class_name": obj.class_name,
                "name": obj.name,
                "object_id": obj.object_id,
                "properties": values,
            }
            for obj, values in shown
        ],
    }
