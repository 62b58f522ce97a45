"""What the HTML and the JSON views share: the site, the file or object a
request names, and the check report of each age, made once."""

from __future__ import annotations

import re
from collections.abc import Callable, Sequence
from typing import NamedTuple, TypeVar

from starlette.convertors import Convertor, register_url_convertor
from starlette.exceptions import HTTPException
from starlette.requests import Request

import lumivex
from lumivex.check import AgeReport, check_age
from lumivex.classes import class_type
from lumivex.shapes import indexed
from lumivex.web.site import Memo, ServedAge, Site

Parsed = TypeVar("Parsed")
# More digits than any place in a page or level of a texture has.
NUMBER_DIGITS = 10


class Position(Convertor[int]):
    """A place in a page or a texture's level in an address: a number of
    a few decimal digits, so that no address makes an integer of
    thousands."""

    regex = f"[0-9]{{1,{NUMBER_DIGITS}}}"

    def convert(self, value: str) -> int:
        return int(value)

    def to_string(self, value: int) -> str:
        return str(value)


register_url_convertor("position", Position())


def row_number(text: str) -> int:
    """A row of a screen of objects; ValueError for anything but a few
    decimal digits."""
    if not re.fullmatch(f"[0-9]{{1,{NUMBER_DIGITS}}}", text):
        raise ValueError(f"not a row number: {text[:40]!r}")
    return int(text)


def asked(text: str) -> bool:
    """A query flag: "1" asks for what it names; ValueError for anything else."""
    if text != "1":
        raise ValueError(f"not 1: {text[:40]!r}")
    return True


def query_value(
    request: Request, name: str, parse: Callable[[str], Parsed], default: Parsed
) -> Parsed:
    """The query's value of name as parse reads it, or the default when the
    query has none; a value parse refuses with ValueError answers 400 with
    its message."""
    text = request.query_params.get(name)
    if text is None:
        return default
    try:
        return parse(text)
    except ValueError as error:
        raise HTTPException(400, str(error)) from error


# The columns an object table sorts by, and what each sorts on; ties keep
# the page's order.
SORT_KEYS: dict[str, Callable[[lumivex.PrpObject], str | int] | None] = {
    "index": None,
    "class": lambda obj: obj.class_name.casefold(),
    "name": lambda obj: obj.name.casefold(),
    "size": lambda obj: obj.data_len,
}


def sort_order(text: str) -> tuple[str, bool]:
    """A column to sort by, with - in front for descending; ValueError for
    any other text."""
    column = text.removeprefix("-")
    if column not in SORT_KEYS:
        raise ValueError(
            f"not a column to sort by: {text[:40]!r}; one of {', '.join(SORT_KEYS)},"
            " with - in front for descending"
        )
    return column, text.startswith("-")


def chosen_class(text: str) -> int | None:
    """A class to list, by name or id, or every class for an empty text."""
    return class_type(text) if text else None


def class_text(number: int) -> str:
    """A class as a query names it: by its name, or by its id where it has
    none."""
    name = lumivex.class_name(number)
    return f"0x{number:X}" if name == "Unknown" else name


class ObjectQuery(NamedTuple):
    """Which objects of a page a table lists, and in which order: those of
    one class or of every class whose names hold a text in any case, sorted
    by a column."""

    class_type: int | None
    name_part: str
    sort: str
    descending: bool

    @staticmethod
    def of(request: Request) -> ObjectQuery:
        """The query's choice; 400 for a value that is not one."""
        sort, descending = query_value(request, "sort", sort_order, ("index", False))
        return ObjectQuery(
            query_value(request, "class", chosen_class, None),
            request.query_params.get("name", ""),
            sort,
            descending,
        )

    def parameters(self, sort: str | None = None) -> dict[str, str]:
        """The query values that make this choice, sorted by another column
        when one is given, for links that keep it."""
        if sort is None:
            sort = ("-" if self.descending else "") + self.sort
        values = {
            "class": "" if self.class_type is None else class_text(self.class_type),
            "name": self.name_part,
            "sort": "" if sort == "index" else sort,
        }
        return {name: value for name, value in values.items() if value}

    def listed(self, page: lumivex.PrpFile) -> Sequence[int]:
        """The places in the page's index of the objects chosen, in order:
        one record for each object chosen, none when all are in the page's
        order."""
        if self.class_type is None and not self.name_part and self.sort == "index":
            every = range(len(page))
            return every[::-1] if self.descending else every
        folded = self.name_part.casefold()
        chosen = [
            index for index, obj in indexed(page, self.class_type) if folded in obj.name.casefold()
        ]
        order = SORT_KEYS[self.sort]
        if order is not None:
            # A stable sort, in reverse too: equal objects keep the page's order.
            chosen.sort(key=lambda index: order(page[index]), reverse=self.descending)
        elif self.descending:
            chosen.reverse()
        return chosen


def check_reports(site: Site) -> Memo[str, AgeReport]:
    """The check report of each age of the site that loads, made on first
    use: its counts and the first problems of each severity."""

    def check(name: str) -> AgeReport:
        age = site.age(name)
        assert isinstance(age, ServedAge)
        return check_age(age)

    return Memo(check)


class SiteViews:
    """The views of one site."""

    def __init__(self, site: Site, reports: Memo[str, AgeReport]) -> None:
        self.site = site
        self.reports = reports

    def found(self, request: Request, kind: dict[str, str]) -> str:
        name: str = request.path_params["name"]
        if name not in kind:
            raise HTTPException(404, "no such file here")
        return name

    def located(self, request: Request) -> tuple[str, int, lumivex.PrpObject]:
        name = self.found(request, self.site.pages)
        index: int = request.path_params["index"]
        obj = self.site.object(name, index)
        if obj is None:
            raise HTTPException(404, "no such object here")
        return name, index, obj
