"""What the HTML and the JSON views share: the site, the file or object a
request names, the check report of each age, made once, the search of
objects by name and the diff of two pages or ages."""

from __future__ import annotations

import re
from collections import Counter
from collections.abc import Callable, Iterator, Sequence
from typing import NamedTuple, TypeVar

from starlette.convertors import Convertor, register_url_convertor
from starlette.exceptions import HTTPException
from starlette.requests import Request

import lumivex
from lumivex.age import Age
from lumivex.check import AgeReport, check_age
from lumivex.classes import class_type
from lumivex.diff import Diff
from lumivex.shapes import indexed
from lumivex.web.site import Memo, ServedAge, Site, Unreadable

Parsed = TypeVar("Parsed")
# More digits than any place in a page or level of a texture has.
NUMBER_DIGITS = 10
# The name of every class without a name of its own.
UNKNOWN_CLASS = "Unknown"


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
    return f"0x{number:X}" if name == UNKNOWN_CLASS else name


def class_counts(page: lumivex.PrpFile) -> list[tuple[str, int]]:
    """The classes of a page's objects as a query names them, with their
    counts, in order: each class without a name by its own id rather than
    all of them as one."""
    counts = page.count_by_type()
    if counts.pop(UNKNOWN_CLASS, 0):
        unnamed = Counter(
            obj.class_type for obj in page if lumivex.class_name(obj.class_type) == UNKNOWN_CLASS
        )
        counts.update((class_text(number), count) for number, count in unnamed.items())
    return sorted(counts.items())


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


class Search:
    """The objects of some pages whose names hold a text in any case, of one
    class or of every class, found page by page as they are iterated. Only
    the matches from start on, at most limit of them, are given; the others
    are counted, so that the count is whole once the iteration ends."""

    def __init__(
        self,
        site: Site,
        pages: list[str],
        text: str,
        class_type: int | None,
        start: int = 0,
        limit: int | None = None,
    ) -> None:
        self.site = site
        self.pages = pages
        self.text = text
        self.class_type = class_type
        self.start = start
        self.limit = limit
        self.count = 0
        # The pages that do not load, with why.
        self.unreadable: list[tuple[str, str]] = []

    def __iter__(self) -> Iterator[tuple[str, lumivex.PrpObject]]:
        folded = self.text.casefold()
        end = None if self.limit is None else self.start + self.limit
        for name in self.pages:
            page = self.site.page(name)
            if isinstance(page, Unreadable):
                self.unreadable.append((name, page.reason))
                continue
            objects = page if self.class_type is None else page.objects_of_type(self.class_type)
            for obj in objects:
                if folded in obj.name.casefold():
                    if self.start <= self.count and (end is None or self.count < end):
                        yield name, obj
                    self.count += 1


def search_of(site: Site, request: Request, limit: int | None) -> Search | None:
    """The search a request asks for: a part of a name (q), a class by name
    or id (class), the age or page to search (scope; every page served
    without it) and the first match to give (start). None when it asks
    for neither a name nor a class."""
    text = request.query_params.get("q", "")
    wanted = query_value(request, "class", lambda value: class_type(value) if value else None, None)
    start = query_value(request, "start", row_number, 0)
    scope = request.query_params.get("scope", "")
    if scope in site.ages:
        owned = site.owners()
        pages = [page for page in site.pages if owned.get(page, ("",))[0] == scope]
    elif scope in site.pages:
        pages = [scope]
    elif scope:
        raise HTTPException(404, "no such file here")
    else:
        pages = list(site.pages)
    if not text and wanted is None:
        return None
    return Search(site, pages, text, wanted, start, limit)


class ServedDiff(Diff):
    """The changes between two pages or two ages of a site, whose page
    files are read only where the site serves them."""

    def __init__(self, site: Site, a: lumivex.PrpFile | Age, b: lumivex.PrpFile | Age) -> None:
        super().__init__(a, b)
        self.site = site
        self._inside = site.root

    def load(self, path: str) -> lumivex.PrpFile:
        refused = self.site.refusal(path)
        if refused is not None:
            raise OSError(f"{path}: {refused}")
        return super().load(path)


def diff_of(site: Site, request: Request) -> tuple[str, str, ServedDiff] | None:
    """The paths of the two pages or ages a request names (a, b) and their
    diff; None when it names neither."""
    names = [request.query_params.get(side, "") for side in ("a", "b")]
    if not any(names):
        return None
    sides: list[lumivex.PrpFile | Age] = []
    paths = []
    for side, name in zip("ab", names, strict=True):
        if not name:
            raise HTTPException(400, f"no {side}: name two pages or two ages")
        if name in site.pages:
            loaded: lumivex.PrpFile | ServedAge | Unreadable = site.page(name)
            paths.append(site.pages[name])
        elif name in site.ages:
            loaded = site.age(name)
            paths.append(site.ages[name])
        else:
            raise HTTPException(404, "no such file here")
        if isinstance(loaded, Unreadable):
            raise HTTPException(422, f"{name} does not load: {loaded.reason}")
        sides.append(loaded)
    try:
        found = ServedDiff(site, sides[0], sides[1])
    except ValueError as error:
        raise HTTPException(400, str(error)) from error
    return paths[0], paths[1], found
