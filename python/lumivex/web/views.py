"""What the HTML and the JSON views share: the site, the file or object a
request names, and the check report of each age, made once."""

from __future__ import annotations

import re
from collections.abc import Callable
from typing import TypeVar

from starlette.convertors import Convertor, register_url_convertor
from starlette.exceptions import HTTPException
from starlette.requests import Request

import lumivex
from lumivex.check import AgeReport, check_age
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
