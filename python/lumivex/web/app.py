"""The web application of `lumivex serve`: HTML views of ages, pages,
objects, textures and state descriptions, and the same data as JSON under
/api in the shapes the command's --json prints.

Every request only reads. Every text from a file reaches the HTML through
the template engine's escaping, and every response forbids scripts, frames
and content sniffing."""

from __future__ import annotations

from collections.abc import Iterable

from PIL import Image
from starlette.applications import Starlette
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import Response
from starlette.types import ASGIApp

from lumivex.errors import error_text
from lumivex.web.api import ApiViews
from lumivex.web.guard import LOOPBACK_NAMES, Guard
from lumivex.web.html import HtmlViews
from lumivex.web.site import Site
from lumivex.web.views import check_reports


def create_app(site: Site, hosts: Iterable[str] = LOOPBACK_NAMES) -> ASGIApp:
    """The application that serves a site to requests that name one of the
    hosts."""
    reports = check_reports(site)
    html = HtmlViews(site, reports)
    api = ApiViews(site, reports)

    def failed(request: Request, error: Exception) -> Response:
        if isinstance(error, HTTPException):
            status, message = error.status_code, str(error.detail)
        else:
            status, message = 500, f"the server failed on this request: {error_text(error)}"
        if request.url.path.startswith("/api"):
            return api.json({"error": message}, status)
        return html.render("error.html", status, title=f"{status} - lumivex", message=message)

    # Pillow's image formats load with the server rather than with the first texture.
    Image.preinit()
    app = Starlette(
        routes=html.routes() + api.routes(),
        exception_handlers={HTTPException: failed, Exception: failed},
    )
    return Guard(app, hosts)
