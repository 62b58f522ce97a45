"""The HTML views of the site: ages, pages, objects, textures and state
descriptions. Every text from a file reaches the HTML through the template
engine's escaping."""

from __future__ import annotations

import itertools
import math
import os
import re
import shlex
import string
from collections.abc import Callable, Collection
from typing import Any
from urllib.parse import quote, urlencode

import jinja2
from markupsafe import Markup, escape
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import HTMLResponse, RedirectResponse, Response
from starlette.routing import Route

import lumivex
from lumivex.age import MissingPage
from lumivex.check import NOTE, SEVERITIES, AgeReport, Problem
from lumivex.classes import DECODERS, settable
from lumivex.diff import change_line, grouped, heading, is_whole_page, key_text
from lumivex.errors import error_text
from lumivex.shapes import counted, float_text, key_json, printable_text, properties, value_text
from lumivex.texture import TextureError, dds, level_size, pillow_image, stored_levels
from lumivex.web.site import Location, Memo, Reached, Scope, Site, Unreadable
from lumivex.web.views import (
    UNKNOWN_CLASS,
    ObjectQuery,
    SiteViews,
    asked,
    class_counts,
    diff_of,
    query_value,
    row_number,
    search_of,
)

HERE = os.path.dirname(os.path.abspath(__file__))
# The files of the static folder, with their media types.
STATIC = {
    "style.css": "text/css",
    "favicon.svg": "image/svg+xml",
    "keys.js": "text/javascript",
}
# Rows of a page's object table on one screen.
ROWS = 100
# The sortable columns of a page's object table, with their headings.
COLUMN_TITLES = {"index": "#", "class": "Class", "name": "Name", "size": "Bytes"}
# The bytes of an object shown in hexadecimal.
HEX_BYTES = 256
# Textures smaller than this are shown enlarged, pixel for pixel.
TEXTURE_VIEW = 256
# Changes of a diff shown; the others are counted, and all are in the JSON.
SHOWN_CHANGES = 1000
# Objects shown that refer to an object; the others are counted, and all are
# in the JSON (a page's scene node is referred to by each of its objects).
SHOWN_REFERRERS = 1000


def shown_referrers(scope: Scope, location: Location) -> tuple[list[tuple[Location, str]], int]:
    """The first objects that refer to the object at location, with the
    field of each, and how many refer to it in all."""
    found = scope.referrers(location)
    shown = list(itertools.islice(found, SHOWN_REFERRERS))
    return shown, len(shown) + sum(1 for _ in found)


def screens(screen: Callable[[int], str], start: int, total: int) -> dict[str, Any]:
    """The links of a list shown ROWS at a time, from the one shown at start:
    to its first, previous, next and last screens, None where there is none."""
    last = max(0, (total - 1) // ROWS * ROWS)
    return {
        "first_screen": screen(0) if start > 0 else None,
        "previous_screen": screen(max(0, start - ROWS)) if start > 0 else None,
        "next_screen": screen(start + ROWS) if start + ROWS < total else None,
        "last_screen": screen(last) if start != last else None,
    }


def url(kind: str, name: str, *more: int | str) -> str:
    """The address of a view of a file the site serves."""
    tail = "".join(f"/{part}" for part in more)
    return f"/{kind}/{quote(name, safe='/')}{tail}"


def linked(address: str, query: dict[str, str]) -> str:
    """An address with the query's non-empty values."""
    values = {name: value for name, value in query.items() if value}
    return f"{address}?{urlencode(values)}" if values else address


def object_url(location: Location) -> str:
    return url("object", location.page, location.position)


def shown_text(value: object) -> object:
    """A value as a view shows it: texts printable, markup as it is."""
    if isinstance(value, str) and not isinstance(value, Markup):
        return printable_text(value)
    return value


def attachment(name: str, suffix: str) -> str:
    """A Content-Disposition for a download named after a texture: a plain
    ASCII name for every client, and the real one for those that read it."""
    plain = re.sub(r"[^A-Za-z0-9._-]", "_", name) or "texture"
    real = quote(f"{printable_text(name)}{suffix}".encode("utf-8", "replace"), safe="")
    return f"attachment; filename=\"{plain}{suffix}\"; filename*=UTF-8''{real}"


def hex_rows(data: bytes) -> list[tuple[str, str, str]]:
    """Offset, bytes in hexadecimal and bytes as text, sixteen to a row."""
    printable = set(string.printable.encode()) - set(b"\t\n\r\x0b\x0c")
    return [
        (
            f"{offset:08X}",
            " ".join(f"{byte:02X}" for byte in data[offset : offset + 16]),
            "".join(chr(b) if b in printable else "." for b in data[offset : offset + 16]),
        )
        for offset in range(0, len(data), 16)
    ]


def swatch_url(field: str, value: object) -> str | None:
    """The address of the swatch of a colour, four floats from 0 to 1 in the
    order red, green, blue, alpha, each clamped to that range; None for any
    other value."""
    if "color" not in field or not isinstance(value, list) or len(value) != 4:
        return None
    if not all(isinstance(part, float) for part in value):
        return None
    # Not a number shows as none of the colour.
    levels = (0 if math.isnan(part) else round(min(max(part, 0.0), 1.0) * 255) for part in value)
    return "/swatch/" + "".join(f"{level:02x}" for level in levels) + ".svg"


def swatch_image(rgba: str) -> str:
    """A colour given as eight hexadecimal digits: on the left as it is
    without its alpha, on the right with its alpha over a checkerboard."""
    colour, alpha = rgba[:6], int(rgba[6:], 16) / 255
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="16" viewBox="0 0 32 16">'
        '<defs><pattern id="board" width="8" height="8" patternUnits="userSpaceOnUse">'
        '<rect width="8" height="8" fill="#ffffff"/><rect width="4" height="4" fill="#c8c8c8"/>'
        '<rect x="4" y="4" width="4" height="4" fill="#c8c8c8"/></pattern></defs>'
        f'<rect width="16" height="16" fill="#{colour}"/>'
        '<rect x="16" width="16" height="16" fill="url(#board)"/>'
        f'<rect x="16" width="16" height="16" fill="#{colour}" fill-opacity="{alpha:.3f}"/>'
        "</svg>"
    )


def written_name(page: lumivex.PrpFile, obj: lumivex.PrpObject) -> str | None:
    """How the edit command finds an object of the page: by its name where
    that is the only object with it, else as CLASS:NAME where that finds it
    alone and no object has that text for its name; None where neither does."""
    if obj.name and len(page.find(obj.name)) == 1:
        return obj.name
    qualified = f"{obj.class_name}:{obj.name}"
    if not page.find(qualified) and len(page.find(obj.name, obj.class_type)) == 1:
        return qualified
    return None


def literal(value: object, page: lumivex.PrpFile) -> str | None:
    """A value as the edit command reads it, or None for one it takes in
    another way: a reference by CLASS:NAME to an object of the page,
    numbers and texts as Python writes them, lists of numbers or of
    references, and a script's parameters as the list of their values."""
    if isinstance(value, lumivex.Key):
        reference = reference_text(value, page)
        if reference is None:
            return None
        # The command strips the spaces around a reference written bare:
        # one with spaces at either end is quoted, which keeps them.
        return reference if reference.strip() == reference else text_literal(reference)
    if isinstance(value, float):
        # Not a number and the infinities by the words the command reads.
        return float_text(value) if math.isfinite(value) else repr(value)
    if isinstance(value, str):
        return text_literal(value)
    if value is None or isinstance(value, (bool, int)):
        return repr(value)
    if (
        isinstance(value, list)
        and value
        and all(isinstance(item, lumivex.PythonParam) for item in value)
    ):
        return list_literal([param_literal(item, page) for item in value])
    if isinstance(value, list) and all(isinstance(item, lumivex.Key) for item in value):
        references = [reference_text(item, page) for item in value]
        # The command splits a list of bare references at its commas: where
        # a name holds a comma or spaces at its ends, every one is quoted.
        if all(item is None or (item.strip() == item and "," not in item) for item in references):
            return list_literal(references)
        return list_literal([None if item is None else text_literal(item) for item in references])
    if isinstance(value, list) and all(
        isinstance(item, (int, float)) and not isinstance(item, bool) for item in value
    ):
        return list_literal([literal(item, page) for item in value])
    return None


def reference_text(key: lumivex.Key, page: lumivex.PrpFile) -> str | None:
    """CLASS:NAME of an object of the page that the command finds by it
    alone, or None."""
    if key.location_sequence != page.header.sequence_number:
        return None
    found = page.find(key.name, key.class_type)
    # The command reads no reference to a name that is empty, nor to a
    # class without a name.
    if len(found) != 1 or not key.name or key.class_name == UNKNOWN_CLASS:
        return None
    reference = f"{key.class_name}:{key.name}"
    # The command finds a name that is the whole text before a class and name.
    return None if page.find(reference) else reference


def text_literal(text: str) -> str:
    """A str literal, in double quotes where it can be, which a shell's
    single quotes keep as they are."""
    return repr(text) if '"' in text else '"' + repr(text)[1:-1] + '"'


def param_literal(param: lumivex.PythonParam, page: lumivex.PrpFile) -> str | None:
    """A parameter's value as the command takes it in a list of them: a
    reference of a Key parameter quoted."""
    value = param.typed_value
    if isinstance(value, lumivex.Key):
        reference = reference_text(value, page)
        return None if reference is None else text_literal(reference)
    return literal(value, page)


def list_literal(items: list[str | None]) -> str | None:
    """The items as a list, or None where one has no literal."""
    if any(item is None for item in items):
        return None
    return "[" + ", ".join(str(item) for item in items) + "]"


def shell_word(text: str) -> str:
    """The text as one word of a POSIX shell, written in printable characters
    and line feeds alone, so that what the page shows is what runs: runs of
    printable characters quoted as needed, every other character (the bytes
    of a file name that are not UTF-8 among them) as its bytes in octal
    through printf. A line feed, which a command's output loses at its end,
    stands as itself within quotes."""
    words = []
    for plain, run in itertools.groupby(text, lambda c: c.isprintable() or c == "\n"):
        part = "".join(run)
        if plain:
            words.append(shlex.quote(part))
        else:
            octal = "".join(f"\\{byte:03o}" for byte in os.fsencode(part))
            words.append(f"\"$(printf '{octal}')\"")
    return "".join(words) or "''"


def edit_command(
    path: str,
    page: lumivex.PrpFile,
    obj: lumivex.PrpObject,
    field: str,
    shown: object,
    changeable: Collection[str],
) -> Markup | None:
    """The command line that sets a property of an object to the value it
    shows, for the user to change, as HTML that keeps its line feeds; None
    for what the command does not set (what is not changeable) or cannot
    name."""
    if field not in changeable or "=" in obj.name:
        return None
    value = literal(shown, page)
    target = written_name(page, obj)
    if value is None or target is None:
        return None
    assignment = f"{target}.{field}={value}"
    # No argument can carry a NUL.
    if "\0" in assignment:
        return None
    # Neither the page nor the assignment may read as an option.
    page_word = shell_word(os.path.join(".", path) if path.startswith("-") else path)
    set_word = ("--set=" if assignment.startswith("-") else "--set ") + shell_word(assignment)
    return escape(f"lumivex edit {page_word} {set_word}")


class HtmlViews(SiteViews):
    """The HTML views of one site."""

    def __init__(self, site: Site, reports: Memo[str, AgeReport]) -> None:
        super().__init__(site, reports)
        self.templates = jinja2.Environment(
            loader=jinja2.FileSystemLoader(os.path.join(HERE, "templates")),
            autoescape=True,
            undefined=jinja2.StrictUndefined,
            finalize=shown_text,
        )
        self.templates.globals.update(url=url, object_url=object_url, counted=counted)
        # The values a form sends back are the texts themselves, escaped
        # for HTML but not made printable, or they would name other files.
        self.templates.filters["form_value"] = escape
        # Compiled now rather than on each template's first request.
        for template in self.templates.list_templates():
            self.templates.get_template(template)
        self.static: dict[str, bytes] = {}
        for name in STATIC:
            with open(os.path.join(HERE, "static", name), "rb") as file:
                self.static[name] = file.read()

    def render(self, template: str, status: int = 200, **values: Any) -> HTMLResponse:
        values.setdefault("title", "lumivex")
        text = self.templates.get_template(template).render(site=self.site, **values)
        return HTMLResponse(text, status_code=status)

    def routes(self) -> list[Route]:
        return [
            Route("/", self.home),
            Route("/style.css", self.static_file),
            Route("/favicon.svg", self.static_file),
            Route("/favicon.ico", self.default_icon),
            Route("/keys.js", self.static_file),
            Route("/search", self.search_view),
            Route("/diff", self.diff_view),
            Route("/swatch/{rgba}.svg", self.swatch),
            Route("/age/{name:path}", self.age_view),
            Route("/page/{name:path}", self.page_view),
            Route("/object/{name:path}/{index:position}", self.object_view),
            Route("/texture/{name:path}/{index:position}/{level:position}.png", self.level_image),
            Route("/texture/{name:path}/{index:position}.{suffix}", self.download),
            Route("/sdl/{name:path}", self.sdl_view),
        ]

    def home(self, request: Request) -> Response:
        site = self.site
        if site.start is not None:
            kind = "age" if site.start in site.ages else "page"
            return RedirectResponse(url(kind, site.start), status_code=303)
        return self.render("home.html", title=f"{site.path} - lumivex")

    def static_file(self, request: Request) -> Response:
        name = request.url.path[1:]
        return Response(self.static[name], media_type=STATIC[name])

    def default_icon(self, request: Request) -> Response:
        """The icon at the address a browser asks for where a response names
        none, as the JSON answers do."""
        return Response(self.static["favicon.svg"], media_type=STATIC["favicon.svg"])

    def swatch(self, request: Request) -> Response:
        rgba = request.path_params["rgba"]
        if not re.fullmatch("[0-9a-f]{8}", rgba):
            raise HTTPException(404, "a swatch is named by eight hexadecimal digits")
        return Response(swatch_image(rgba), media_type="image/svg+xml")

    def age_view(self, request: Request) -> Response:
        name = self.found(request, self.site.ages)
        age = self.site.age(name)
        values: dict[str, Any] = {"name": name, "title": f"{name} - lumivex"}
        if isinstance(age, Unreadable):
            return self.render("age.html", age=None, error=age.reason, **values)
        served_as: dict[tuple[str, str], str] = {}
        for found, owner in self.site.owners().items():
            served_as.setdefault(owner, found)
        pages = []
        for entry in age.description.pages:
            page = age.pages.get(entry.name)
            path = age.page_path(entry.name)
            served = served_as.get((name, entry.name))
            pages.append(
                {
                    "entry": entry,
                    "file": age.description.prp_filename(entry.name),
                    "served": served,
                    "error": page.reason if isinstance(page, MissingPage) else None,
                    "page": None if isinstance(page, MissingPage) else page,
                    "path": path,
                }
            )
        report = self.reports(name)

        def problem_place(problem: Problem) -> tuple[str | None, str | None]:
            """The addresses of a problem's page and object, where they are served."""
            served = served_as.get((name, problem.page or ""))
            if served is None:
                return None, None
            if problem.object_index is None:
                return url("page", served), None
            return url("page", served), url("object", served, problem.object_index)

        problems = [
            (severity, report.count(severity), report.kept[severity]) for severity in SEVERITIES
        ]
        descriptions = [(found, self.site.sdl(found)) for found in self.site.sdl_beside(name)]
        return self.render(
            "age.html",
            age=age,
            error=None,
            day_length=float_text(age.description.day_length),
            pages=pages,
            report=report,
            problems=problems,
            note=NOTE,
            problem_place=problem_place,
            descriptions=descriptions,
            **values,
        )

    def page_view(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        values: dict[str, Any] = {"name": name, "title": f"{name} - lumivex"}
        owner = self.site.owners().get(name)
        values["owner"] = owner
        page = self.site.page(name)
        if isinstance(page, Unreadable):
            return self.render("page.html", page=None, error=page.reason, **values)
        query = ObjectQuery.of(request)
        start = query_value(request, "start", row_number, 0)
        listed = query.listed(page)
        total = len(listed)
        shown = [(index, page[index]) for index in listed[start : start + ROWS]]

        def screen(first: int) -> str:
            return linked(
                url("page", name), {**query.parameters(), "start": str(first) if first else ""}
            )

        columns = {}
        for column, title in COLUMN_TITLES.items():
            chosen = column == query.sort
            columns[column] = {
                "title": title,
                # A second click on a column sorts it the other way.
                "link": linked(
                    url("page", name),
                    query.parameters(("-" if chosen and not query.descending else "") + column),
                ),
                "sorted": ("descending" if query.descending else "ascending") if chosen else None,
            }
        return self.render(
            "page.html",
            page=page,
            error=None,
            header=page.header,
            classes=class_counts(page),
            chosen_class=query.parameters().get("class", ""),
            name_part=query.name_part,
            sort=query.parameters().get("sort"),
            columns=columns,
            rows=shown,
            total=total,
            start=start,
            **screens(screen, start, total),
            as_json=linked(url("api/ls", name), query.parameters()),
            **values,
        )

    def object_view(self, request: Request) -> Response:
        name, index, obj = self.located(request)
        scope = self.site.scope(name)
        decoded: list[dict[str, Any]] | None = None
        decode_error = None
        references: list[Reached] = []
        texture = None
        if obj.class_name in DECODERS:
            try:
                view = DECODERS[obj.class_name](obj)
                references = scope.reach(obj.references())
            except (OSError, ValueError) as error:
                decode_error = f"does not decode: {error_text(error)}"
            else:
                page = self.site.page(name)
                assert not isinstance(page, Unreadable)
                path = self.site.pages[name]
                changeable = settable(type(view))
                decoded = [
                    {
                        "field": field,
                        "parts": self.value_parts(scope, value),
                        "swatch": swatch_url(field, value),
                        "edit": edit_command(path, page, obj, field, value, changeable),
                    }
                    for field, value in properties(view).items()
                ]
                if isinstance(view, lumivex.Mipmap):
                    texture = self.texture_view(name, index, view)
        data = obj.data
        page_names = scope.page_names()
        return self.render(
            "object.html",
            title=f"{obj.name} ({obj.class_name}) - lumivex",
            name=name,
            index=index,
            obj=obj,
            key=key_json(obj.key),
            hex=hex_rows(data[:HEX_BYTES]) if data is not None else None,
            hex_bytes=HEX_BYTES,
            decoded=decoded,
            decode_error=decode_error,
            references=references,
            # Finding them reads every object the scope holds: only when asked.
            referrers=shown_referrers(scope, Location(name, index))
            if query_value(request, "referrers", asked, False)
            else None,
            referrer_object=lambda location: self.site.object(location.page, location.position),
            key_text=lambda key: key_text(key, page_names),
            page_name=page_names.get(obj.location_sequence),
            texture=texture,
            owner=self.site.owners().get(name),
        )

    def value_parts(self, scope: Scope, value: object) -> list[object]:
        """A property's value as text, with each key in it as a reached
        reference that the template shows as a link."""
        if isinstance(value, lumivex.Key):
            return list(scope.reach([("", value)]))
        if isinstance(value, list) and value and all(isinstance(v, lumivex.Key) for v in value):
            return list(scope.reach([("", key) for key in value]))
        return [value_text(value)]

    def texture_view(self, name: str, index: int, mipmap: lumivex.Mipmap) -> dict[str, Any]:
        levels = max(1, mipmap.num_levels)
        try:
            _, layout = self.site.texture(name, index)
            stored_levels(mipmap, layout, levels)
        except TextureError as error:
            return {"error": str(error)}
        scale = max(1, TEXTURE_VIEW // max(mipmap.width, mipmap.height))
        return {
            "error": None,
            "format": layout.format_name,
            "levels": [
                (level, *level_size(mipmap, level), url("texture", name, index, f"{level}.png"))
                for level in range(levels)
            ],
            "scale": scale,
            "png": url("texture", name, f"{index}.png"),
            "dds": url("texture", name, f"{index}.dds"),
        }

    def level_image(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        index: int = request.path_params["index"]
        level: int = request.path_params["level"]
        return self.texture_response(lambda: self.site.level_png(name, index, level), "image/png")

    def download(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        index: int = request.path_params["index"]
        suffix = request.path_params["suffix"]
        if suffix not in ("png", "dds"):
            raise HTTPException(404, "textures are downloaded as .png or .dds")

        def make() -> bytes:
            mipmap, layout = self.site.texture(name, index)
            if suffix == "dds":
                return dds(mipmap, layout)
            return pillow_image(mipmap, layout, "PNG", ".png")

        media = "image/png" if suffix == "png" else "image/vnd-ms.dds"
        response = self.texture_response(make, media)
        obj = self.site.object(name, index)
        assert obj is not None
        response.headers["content-disposition"] = attachment(obj.name, f".{suffix}")
        return response

    def texture_response(self, make: Callable[[], bytes], media: str) -> Response:
        try:
            return Response(make(), media_type=media)
        except LookupError as error:
            raise HTTPException(404, str(error)) from error
        except (TextureError, ImportError) as error:
            raise HTTPException(422, str(error)) from error

    def sdl_view(self, request: Request) -> Response:
        name = self.found(request, self.site.sdl_files)
        sdl = self.site.sdl(name)
        return self.render(
            "sdl.html",
            title=f"{name} - lumivex",
            name=name,
            error=sdl.reason if isinstance(sdl, Unreadable) else None,
            descriptors=[] if isinstance(sdl, Unreadable) else sdl.descriptors(),
        )

    def search_view(self, request: Request) -> Response:
        search = search_of(self.site, request, ROWS)
        values: dict[str, Any] = {
            "title": "Search - lumivex",
            "q": request.query_params.get("q", ""),
            "chosen_class": request.query_params.get("class", ""),
            "scope": request.query_params.get("scope", ""),
        }
        if search is None:
            return self.render("search.html", search=None, **values)
        rows = list(search)
        total, start = search.count, search.start

        def screen(first: int) -> str:
            query = {"q": values["q"], "class": values["chosen_class"], "scope": values["scope"]}
            query["start"] = str(first)
            return "/search?" + urlencode({k: v for k, v in query.items() if v and v != "0"})

        return self.render(
            "search.html",
            search=search,
            rows=rows,
            total=total,
            start=start,
            **screens(screen, start, total),
            json_url="/api" + screen(start),
            **values,
        )

    def diff_view(self, request: Request) -> Response:
        a, b = (request.query_params.get(side, "") for side in ("a", "b"))
        values: dict[str, Any] = {"title": "Diff - lumivex", "a": a, "b": b}
        found = diff_of(self.site, request)
        if found is None:
            return self.render("diff.html", groups=None, **values)
        _, _, changes = found
        # Each page's lines under its heading; a whole page only on one side
        # is a line of its own, as the command prints it.
        groups: list[tuple[str | None, list[tuple[str, str]]]] = []
        count = 0
        error = None
        try:
            for first, change in grouped(iter(changes)):
                count += 1
                if count > SHOWN_CHANGES:
                    continue
                if first or is_whole_page(change):
                    title = None if is_whole_page(change) else heading(change)
                    groups.append((title, []))
                groups[-1][1].append((change.kind, change_line(change, changes.page_names).strip()))
        except (OSError, ValueError) as error_found:
            error = error_text(error_found)
        return self.render(
            "diff.html",
            groups=groups,
            count=count,
            shown=min(count, SHOWN_CHANGES),
            error=error,
            json_url="/api/diff?" + urlencode({"a": a, "b": b}),
            **values,
        )
