"""The records the front ends show: the JSON of pages, objects, keys and
age descriptions that the command prints with --json and the server serves
under /api, and the text of the values of views."""

from __future__ import annotations

import difflib
import json
import math
import re
import types
from collections.abc import Collection, Iterator, Sequence
from importlib import resources
from json.encoder import encode_basestring

from lumivex._lumivex import AgeFile, Key, PrpFile, PrpObject, _float_text

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
    """Indented JSON, as json_chunks writes it."""
    return "".join(json_chunks(value))


def json_chunks(value: object, indent: str = "") -> Iterator[str]:
    """Indented JSON as a stream of texts, so that a long list is never held
    whole: a dict's values and a list's items may be iterators, written as
    lists as they are read, and callables, called when their turn comes (a
    count that is whole once the list before it is written). A file name byte
    that is not UTF-8 is written as the escape of its lone surrogate, which
    reads back as os.fsdecode's text."""
    inner = indent + "  "
    if isinstance(value, dict) and any(is_lazy(item) for item in value.values()):
        if not value:
            yield "{}"
            return
        yield "{"
        for number, (key, item) in enumerate(value.items()):
            yield ("," if number else "") + f"\n{inner}{json.dumps(str(key))}: "
            yield from json_chunks(item() if callable(item) else item, inner)
        yield f"\n{indent}}}"
    elif isinstance(value, Iterator):
        empty = True
        for item in value:
            yield ("[" if empty else ",") + f"\n{inner}"
            empty = False
            yield from json_chunks(item, inner)
        yield "[]" if empty else f"\n{indent}]"
    else:
        text = flat_object_text(value, indent)
        if text is None:
            text = json.dumps(to_json(value), indent=2, ensure_ascii=False)
            text = text.replace("\n", "\n" + indent) if indent else text
        yield LONE_SURROGATE.sub(lambda match: f"\\u{ord(match[0]):04x}", text)


def flat_object_text(value: object, indent: str) -> str | None:
    """A dict of plain scalars with text keys as json_chunks writes it at
    that indent (to_json's value as json.dumps(indent=2, ensure_ascii=False)
    writes it), or None for any other value. The records of a listing are
    such dicts, and json.dumps with an indent encodes in Python; here each
    scalar goes through the C encoder's own pieces."""
    if type(value) is not dict or not value:
        return None
    inner = indent + "  "
    parts = []
    for key, item in value.items():
        if type(key) is not str:
            return None
        if type(item) is float:
            item = to_json(item)
        if item is None:
            scalar = "null"
        elif item is True:
            scalar = "true"
        elif item is False:
            scalar = "false"
        elif type(item) is str:
            scalar = encode_basestring(item)
        elif type(item) is int:
            scalar = int.__repr__(item)
        elif type(item) is float:
            scalar = float.__repr__(item)
        else:
            return None
        parts.append(f"{inner}{encode_basestring(key)}: {scalar}")
    return "{\n" + ",\n".join(parts) + f"\n{indent}}}"


def is_lazy(value: object) -> bool:
    return isinstance(value, Iterator) or callable(value)


def json_schema(command: str) -> dict[str, object]:
    """The JSON Schema of a command's --json output, shipped in the package
    beside this module."""
    text = resources.files("lumivex").joinpath("schemas", f"{command}.json").read_text("utf-8")
    schema: dict[str, object] = json.loads(text)
    return schema


def value_text(value: object) -> str:
    """A property value as the text of a table: bytes by their count, floats
    by their shortest text."""
    if isinstance(value, bytes):
        return f"<{counted(len(value), 'byte')}>"
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, list):
        return "[" + ", ".join(value_text(item) for item in value) + "]"
    return repr(value)


# The page header's fields written in hexadecimal, by their digits.
HEADER_HEX_DIGITS = {"sequence_number": 8, "flags": 4, "checksum": 8}


def header_value_text(field: str, value: object) -> str:
    """A value of the page header's field as every front end writes it:
    location and checksum words in hexadecimal, the rest as values."""
    digits = HEADER_HEX_DIGITS.get(field)
    if digits is not None and isinstance(value, int):
        return f"0x{value:0{digits}X}"
    return value_text(value)


def printable_text(text: str, *, keep_bytes: bool = False) -> str:
    """The text with its characters that are not printable, bidirectional
    controls and terminal escapes among them, escaped as the command escapes
    names, so that no name can reorder or hide what is shown around it. With
    keep_bytes, the characters os.fsdecode makes of bytes that are not UTF-8
    are kept, for a terminal to show a file's name as its bytes."""
    if text.isprintable():
        return text
    return "".join(
        c if c.isprintable() or (keep_bytes and "\udc80" <= c <= "\udcff") else repr(c)[1:-1]
        for c in text
    )


def closest(name: str, names: Collection[str], count: int = 5) -> list[str]:
    """The names most like name, for a hint after a name that was not found:
    those holding it, whatever the case, the shortest first, then those
    spelled like it."""
    lowered = name.lower()
    found = sorted((other for other in names if lowered in other.lower()), key=len)
    found += difflib.get_close_matches(name, names, n=count)
    return list(dict.fromkeys(found))[:count]


def counted(number: int, thing: str, things: str | None = None) -> str:
    """A number and the thing it counts, plural but for one: "1 error", "2
    errors"; things is the plural where it is not thing with an s."""
    return f"{number} {thing}" if number == 1 else f"{number} {things or thing + 's'}"


def float_text(value: float) -> str:
    """The shortest text that reads back as the same single-precision value,
    which every float of a view is, written as Python writes floats; a float
    that is no single-precision value as Python's repr writes it."""
    digits = _float_text(value)
    return repr(value) if digits is None else repr(float(digits))


def key_json(key: Key) -> dict[str, object]:
    return {
        "location_sequence": key.location_sequence,
        "location_flags": key.location_flags,
        "load_mask": key.load_mask,
        "class_type": key.class_type,
        "class_name": key.class_name,
        "object_id": key.object_id,
        "name": key.name,
        "clone_id": key.clone_id,
        "clone_player_id": key.clone_player_id,
    }


def info_json(page_file: str, page: PrpFile) -> dict[str, object]:
    """A page's header and its objects counted by class."""
    return {
        "page": page_file,
        "header": page.header,
        "object_count": len(page),
        "lost_keys": page.lost_keys,
        "classes": [
            {"class_name": name, "count": count}
            for name, count in sorted(page.count_by_type().items())
        ],
    }


def object_json(index: int, obj: PrpObject) -> dict[str, object]:
    """What names an object in its page: its place in the index too, which
    a filtered list keeps."""
    return {
        "index": index,
        "class_type": obj.class_type,
        "class_name": obj.class_name,
        "name": obj.name,
        "object_id": obj.object_id,
    }


def indexed(page: PrpFile, class_type: int | None) -> Iterator[tuple[int, PrpObject]]:
    """The objects of a page with their places in its index, those of one
    class only when one is given; read as they are wanted."""
    for index, obj in enumerate(page):
        if class_type is None or obj.class_type == class_type:
            yield index, obj


def ls_json(
    page_file: str, page: PrpFile, class_type: int | None, chosen: Sequence[int] | None = None
) -> dict[str, object]:
    """A page's objects, those of one class when one is given, or those at
    the places chosen, in their order; without their data, written as they
    are read."""
    if chosen is not None:
        count = len(chosen)
        listed: Iterator[tuple[int, PrpObject]] = ((index, page[index]) for index in chosen)
    else:
        # Counted by id: every class without a name shares one name.
        count = len(page) if class_type is None else sum(1 for _ in indexed(page, class_type))
        listed = indexed(page, class_type)
    return {
        "page": page_file,
        "class_type": class_type,
        "object_count": count,
        "objects": (
            {
                **object_json(index, obj),
                "location_sequence": obj.location_sequence,
                "data_len": obj.data_len,
            }
            for index, obj in listed
        ),
    }


def show_json(
    page_file: str, shown: Sequence[tuple[int, PrpObject, dict[str, object]]]
) -> dict[str, object]:
    """Objects of a page, each with its view's properties."""
    return {
        "page": page_file,
        "object_count": len(shown),
        "objects": [
            {**object_json(index, obj), "properties": values} for index, obj, values in shown
        ],
    }


def age_json(age_file: str, age: AgeFile) -> dict[str, object]:
    """An age description's settings and pages, each page with its file name."""
    return {
        "age": age_file,
        "age_name": age.age_name,
        "sequence_prefix": age.sequence_prefix,
        "max_capacity": age.max_capacity,
        "day_length": age.day_length,
        "page_count": len(age.pages),
        "pages": [
            {**properties(entry), "prp_filename": age.prp_filename(entry.name)}
            for entry in age.pages
        ],
    }
