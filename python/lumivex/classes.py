"""The engine's classes as the front ends name them: the decodable ones with
the method that decodes each, and a class given by name or by id."""

from __future__ import annotations

import inspect
import re
from collections.abc import Callable
from typing import Any

from lumivex._lumivex import PrpObject, class_name, decoder_methods
from lumivex.errors import error_text
from lumivex.shapes import closest

# Each engine class that lumivex decodes, with the method that decodes it:
# the module's own list.
DECODERS: dict[str, Callable[[PrpObject], object]] = {
    class_name(class_type): getattr(PrpObject, method)
    for class_type, method in decoder_methods.items()
}


def settable(view_class: type[Any]) -> list[str]:
    """The properties a view class's replace() changes, in its order: its
    keyword-only parameters."""
    parameters = inspect.signature(view_class.replace).parameters.values()
    return [p.name for p in parameters if p.kind is inspect.Parameter.KEYWORD_ONLY]


def decode_failure(obj: PrpObject, error: BaseException) -> str:
    """Why an object of a decodable class did not decode."""
    return f"cannot decode {obj.class_name} {obj.name!r}: {error_text(error)}"


# The highest class type id there is.
CLASS_TYPE_MAX = 0xFFFF


def class_type(text: str) -> int:
    """A class given by its name in any case, or by its id in decimal or in
    hexadecimal with 0x in front; ValueError for any other text."""
    number = None
    if re.fullmatch(r"[0-9]+", text):
        # Past the largest id long before int() refuses the digits.
        digits = text.lstrip("0")
        number = int(digits or "0") if len(digits) <= len(str(CLASS_TYPE_MAX)) else -1
    elif re.fullmatch(r"0[xX][0-9a-fA-F]+", text):
        number = int(text, 16)
    if number is not None:
        if not 0 <= number <= CLASS_TYPE_MAX:
            raise ValueError(f"not a class id from 0 to {CLASS_TYPE_MAX} (0x{CLASS_TYPE_MAX:X})")
        return number
    wanted = text.lower()
    names = [class_name(number) for number in range(CLASS_TYPE_MAX + 1)]
    for number, name in enumerate(names):
        if name.lower() == wanted and name != "Unknown":
            return number
    # Each name once, in the order of the ids, so that the hint is always the same.
    near = closest(text, [name for name in dict.fromkeys(names) if name != "Unknown"])
    raise ValueError(f"unknown class {text!r}" + (f"; closest: {', '.join(near)}" if near else ""))
