"""The web application of `lumivex serve`: HTML views of ages, pages,
objects, textures and state descriptions, and the same data as JSON under
/api in the shapes the command's --json prints.

Every request only reads. Every text from a file reaches the HTML through
the template engine's escaping, and every response forbids scripts, frames
and content sniffing."""

from __future__ import annotations

import os
import re
import string
from collections.abc import Callable, Iterable
from typing import Any
from urllib.parse import quote, urlencode

import jinja2
from PIL import Image
from starlette.applications import Starlette
from starlette.datastructures import MutableHeaders
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import HTMLResponse, PlainTextResponse, RedirectResponse, Response
from starlette.routing import Route
from starlette.types import ASGIApp, Message, Receive, Send
from starlette.types import Scope as AsgiScope

import lumivex
from lumivex.age import MissingPage
from lumivex.cli import info_json
from lumivex.cli.check import NOTE, SEVERITIES, AgeReport, check_age, key_json, summary
from lumivex.cli.common import (
    DECODERS,
    CommandError,
    class_type,
    error_text,
    float_text,
    json_text,
    ls_json,
    properties,
    show_json,
    value_text,
)
from lumivex.cli.descriptions import age_json
from lumivex.texture import TextureError, dds, level_size, pillow_image, stored_levels
from lumivex.web.site import Location, Memo, Reached, Scope, ServedAge, Site, Unreadable

HERE = os.path.dirname(os.path.abspath(__file__))
# The files of the static folder, with their media types.
STATIC = {"style.css": "text/css", "favicon.svg": "image/svg+xml"}
# Rows of a page's object table on one screen.
ROWS = 100
# The bytes of an object shown in hexadecimal.
HEX_BYTES = 256
# Textures smaller than this are shown enlarged, pixel for pixel.
TEXTURE_VIEW = 256

SECURITY_HEADERS = {
    "content-security-policy": (
        "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
        "base-uri 'none'; frame-ancestors 'none'"
    ),
    "x-content-type-options": "nosniff",
    "referrer-policy": "no-referrer",
    "x-frame-options": "DENY",
}
LOOPBACK_NAMES = ("127.0.0.1", "localhost", "::1")
# Addresses that listen on every interface: any Host header may reach them.
ANY_HOST = ("0.0.0.0", "::", "")


class Guard:
    """Answers 400 to a request whose Host header names none of the names the
    server answers to, so that a web page cannot reach the server through a
    name of its own that it points at this machine; adds the security
    headers to every response."""

    def __init__(self, app: ASGIApp, hosts: Iterable[str]) -> None:
        self.app = app
        self.hosts = {host.lower() for host in hosts}

    async def __call__(self, scope: AsgiScope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return

        async def send_guarded(message: Message) -> None:
            if message["type"] == "http.response.start":
                headers = MutableHeaders(scope=message)
                for name, value in SECURITY_HEADERS.items():
                    headers[name] = value
            await send(message)

        if self.hosts & set(ANY_HOST) or host_of(scope) in self.hosts:
            await self.app(scope, receive, send_guarded)
        else:
            response = PlainTextResponse("unknown host", status_code=400)
            await response(scope, receive, send_guarded)


def host_of(scope: AsgiScope) -> str:
    """The host a request names, without its port and brackets."""
    for name, value in scope["headers"]:
        if name == b"host":
            host = bytes(value).decode("latin-1").lower()
            if host.startswith("["):
                return host[1 : host.find("]")] if "]" in host else ""
            return host.rsplit(":", 1)[0]
    return ""


def url(kind: str, name: str, *more: int | str) -> str:
    """The address of a view of a file the site serves."""
    tail = "".join(f"/{part}" for part in more)
    return f"/{kind}/{quote(name, safe='/')}{tail}"


def object_url(location: Location) -> str:
    return url("object", location.page, location.position)


def attachment(name: str, suffix: str) -> str:
    """A Content-Disposition for a download named after a texture: a plain
    ASCII name for every client, and the real one for those that read it."""
    plain = re.sub(r"[^A-Za-z0-9._-]", "_", name) or "texture"
    real = quote(f"{name}{suffix}".encode("utf-8", "replace"), safe="")
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


def key_text(key: lumivex.Key) -> str:
    return f"{key.class_name} {key.name!r}"


class Views:
    """The views of one site."""

    def __init__(self, site: Site) -> None:
        self.site = site
        self.templates = jinja2.Environment(
            loader=jinja2.FileSystemLoader(os.path.join(HERE, "templates")),
            autoescape=True,
            undefined=jinja2.StrictUndefined,
        )
        self.templates.globals.update(url=url, object_url=object_url)
        self.reports = Memo(self.check)
        # Compiled now rather than on each template's first request.
        for template in self.templates.list_templates():
            self.templates.get_template(template)
        self.static: dict[str, bytes] = {}
        for name in STATIC:
            with open(os.path.join(HERE, "static", name), "rb") as file:
                self.static[name] = file.read()

    def check(self, name: str) -> AgeReport:
        """The check report of an age that loads, made once."""
        age = self.site.age(name)
        assert isinstance(age, ServedAge)
        return check_age(age)

    def render(self, template: str, status: int = 200, **values: Any) -> HTMLResponse:
        values.setdefault("title", "lumivex")
        text = self.templates.get_template(template).render(site=self.site, **values)
        return HTMLResponse(text, status_code=status)

    def routes(self) -> list[Route]:
        return [
            Route("/", self.home),
            Route("/style.css", self.static_file),
            Route("/favicon.svg", self.static_file),
            Route("/age/{name:path}", self.age_view),
            Route("/page/{name:path}", self.page_view),
            Route("/object/{name:path}/{index:int}", self.object_view),
            Route("/texture/{name:path}/{index:int}/{level:int}.png", self.level_image),
            Route("/texture/{name:path}/{index:int}.{suffix}", self.download),
            Route("/sdl/{name:path}", self.sdl_view),
            Route("/api", self.api_index),
            Route("/api/age/{name:path}", self.api_age),
            Route("/api/check/{name:path}", self.api_check),
            Route("/api/info/{name:path}", self.api_info),
            Route("/api/ls/{name:path}", self.api_ls),
            Route("/api/show/{name:path}/{index:int}", self.api_show),
            Route("/api/references/{name:path}/{index:int}", self.api_references),
            Route("/api/sdl/{name:path}", self.api_sdl),
        ]

    # What the views share.

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

    # HTML views.

    def home(self, request: Request) -> Response:
        site = self.site
        if site.start is not None:
            kind = "age" if site.start in site.ages else "page"
            return RedirectResponse(url(kind, site.start), status_code=303)
        return self.render("home.html", title=f"{site.path} - lumivex")

    def static_file(self, request: Request) -> Response:
        name = request.url.path[1:]
        return Response(self.static[name], media_type=STATIC[name])

    def age_view(self, request: Request) -> Response:
        name = self.found(request, self.site.ages)
        age = self.site.age(name)
        values: dict[str, Any] = {"name": name, "title": f"{name} - lumivex"}
        if isinstance(age, Unreadable):
            return self.render("age.html", age=None, error=age.reason, **values)
        pages = []
        for entry in age.description.pages:
            page = age.pages.get(entry.name)
            path = age.page_path(entry.name)
            served = next(
                (
                    found
                    for found, owner in self.site.owners().items()
                    if owner == (name, entry.name)
                ),
                None,
            )
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
        problems = [
            (severity, [problem for problem in report.problems if problem.severity == severity])
            for severity in SEVERITIES
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
        chosen_class = request.query_params.get("class", "")
        name_part = request.query_params.get("name", "")
        try:
            wanted = class_type(chosen_class) if chosen_class else None
        except ValueError as error:
            raise HTTPException(400, str(error)) from error
        start_text = request.query_params.get("start", "0")
        if not start_text.isdigit():
            raise HTTPException(400, f"not a row number: {start_text!r}")
        start = int(start_text)
        objects = self.site.page_objects(name).objects
        if wanted is None and not name_part:
            total = len(objects)
            shown = [(index, objects[index]) for index in range(start, min(start + ROWS, total))]
        else:
            folded = name_part.casefold()
            matching = [
                index
                for index, obj in enumerate(objects)
                if (wanted is None or obj.class_type == wanted)
                and (not folded or folded in obj.name.casefold())
            ]
            total = len(matching)
            shown = [(index, objects[index]) for index in matching[start : start + ROWS]]

        def screen(first: int) -> str:
            query = {"class": chosen_class, "name": name_part, "start": first}
            return url("page", name) + "?" + urlencode({k: v for k, v in query.items() if v})

        last = max(0, (total - 1) // ROWS * ROWS)
        return self.render(
            "page.html",
            page=page,
            error=None,
            header=page.header,
            classes=sorted(page.count_by_type().items()),
            chosen_class=chosen_class,
            name_part=name_part,
            rows=shown,
            total=total,
            start=start,
            first_screen=screen(0) if start > 0 else None,
            previous_screen=screen(max(0, start - ROWS)) if start > 0 else None,
            next_screen=screen(start + ROWS) if start + ROWS < total else None,
            last_screen=screen(last) if start != last else None,
            **values,
        )

    def object_view(self, request: Request) -> Response:
        name, index, obj = self.located(request)
        scope = self.site.scope(name)
        decoded: list[tuple[str, list[object]]] | None = None
        decode_error = None
        references: list[Reached] = []
        texture = None
        if obj.class_name in DECODERS:
            try:
                view = DECODERS[obj.class_name](obj)
                references = scope.reach(obj.references())
            except (OSError, ValueError) as error:
                decode_error = f"does not decode: {error}"
            else:
                decoded = [
                    (field, self.value_parts(scope, value))
                    for field, value in properties(view).items()
                ]
                if isinstance(view, lumivex.Mipmap):
                    texture = self.texture_view(name, index, view)
        data = obj.data
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
            referrers=scope.referrers(Location(name, index)),
            referrer_object=lambda location: self.site.page_objects(location.page).objects[
                location.position
            ],
            key_text=key_text,
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
        except (CommandError, TextureError) as error:
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
        except (CommandError, TextureError, ImportError) as error:
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

    # JSON views.

    def json(self, value: object, status: int = 200) -> Response:
        return Response(json_text(value) + "\n", status, media_type="application/json")

    def api_index(self, request: Request) -> Response:
        site = self.site
        return self.json(
            {
                "path": site.path,
                "ages": list(site.ages),
                "pages": list(site.pages),
                "sdl": list(site.sdl_files),
                "not_served": [{"name": n, "reason": r} for n, r in site.not_served.items()],
            }
        )

    def api_age(self, request: Request) -> Response:
        name = self.found(request, self.site.ages)
        age = self.site.age(name)
        if isinstance(age, Unreadable):
            return self.json({"error": age.reason}, 422)
        return self.json(age_json(self.site.ages[name], age.description))

    def api_check(self, request: Request) -> Response:
        name = self.found(request, self.site.ages)
        age = self.site.age(name)
        if isinstance(age, Unreadable):
            return self.json({"error": age.reason}, 422)
        report = self.reports(name)
        return self.json({"ages": [report.as_json()], **summary([report])})

    def api_info(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        path = self.site.pages[name]
        page = self.site.page(name)
        if isinstance(page, Unreadable):
            return self.json({"pages": [], "errors": [{"path": path, "error": page.reason}]})
        return self.json({"pages": [info_json(path, page)], "errors": []})

    def api_ls(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        page = self.site.page(name)
        if isinstance(page, Unreadable):
            return self.json({"error": page.reason}, 422)
        chosen = request.query_params.get("class")
        try:
            objects = page.objects() if chosen is None else page.objects_of_type(class_type(chosen))
        except ValueError as error:
            return self.json({"error": str(error)}, 400)
        return self.json(ls_json(self.site.pages[name], objects))

    def api_show(self, request: Request) -> Response:
        name, _, obj = self.located(request)
        if obj.class_name not in DECODERS:
            return self.json(
                {"error": f"{obj.name!r} is a {obj.class_name}, which lumivex does not decode"},
                422,
            )
        try:
            view = DECODERS[obj.class_name](obj)
        except (OSError, ValueError) as error:
            return self.json(
                {"error": f"cannot decode {obj.class_name} {obj.name!r}: {error}"}, 422
            )
        return self.json(show_json(self.site.pages[name], [(obj, properties(view))]))

    def api_references(self, request: Request) -> Response:
        name, index, obj = self.located(request)
        scope = self.site.scope(name)
        try:
            references = scope.reach(obj.references()) if obj.class_name in DECODERS else []
        except (OSError, ValueError) as error:
            return self.json(
                {"error": f"cannot decode {obj.class_name} {obj.name!r}: {error}"}, 422
            )

        def place(location: Location) -> dict[str, object]:
            return {"page": location.page, "index": location.position}

        return self.json(
            {
                "page": name,
                "index": index,
                "key": key_json(obj.key),
                "references": [
                    {
                        "field": reached.field,
                        "key": key_json(reached.key),
                        "target": None if reached.target is None else place(reached.target),
                    }
                    for reached in references
                ],
                "referenced_by": [
                    {**place(location), "field": field}
                    for location, field in scope.referrers(Location(name, index))
                ],
            }
        )

    def api_sdl(self, request: Request) -> Response:
        name = self.found(request, self.site.sdl_files)
        sdl = self.site.sdl(name)
        path = self.site.sdl_files[name]
        if isinstance(sdl, Unreadable):
            return self.json(
                {"descriptors": [], "passed_over": [{"path": path, "reason": sdl.reason}]}
            )
        return self.json({"descriptors": sdl.descriptors(), "passed_over": []})

    # Failures.

    def failed(self, request: Request, error: Exception) -> Response:
        if isinstance(error, HTTPException):
            status, message = error.status_code, str(error.detail)
        else:
            status, message = 500, f"the server failed on this request: {error_text(error)}"
        if request.url.path.startswith("/api"):
            return self.json({"error": message}, status)
        return self.render("error.html", status, title=f"{status} - lumivex", message=message)


def create_app(site: Site, hosts: Iterable[str] = LOOPBACK_NAMES) -> ASGIApp:
    """The application that serves a site to requests that name one of the
    hosts."""
    views = Views(site)
    # Pillow's image formats load with the server rather than with the first texture.
    Image.preinit()
    app = Starlette(
        routes=views.routes(),
        exception_handlers={HTTPException: views.failed, Exception: views.failed},
    )
    return Guard(app, hosts)
