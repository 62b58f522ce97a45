"""The JSON views of the site under /api, in the shapes the command's --json
prints."""

from __future__ import annotations

import itertools
from collections.abc import Iterator

from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import Response, StreamingResponse
from starlette.routing import Route

from lumivex.check import AgeCheck, check_json, severity_counts
from lumivex.classes import DECODERS, decode_failure
from lumivex.diff import AGE, Change, change_json, grouped
from lumivex.errors import error_text
from lumivex.shapes import (
    age_json,
    info_json,
    json_chunks,
    key_json,
    ls_json,
    object_json,
    properties,
    show_json,
)
from lumivex.web.site import Location, Unreadable
from lumivex.web.views import ObjectQuery, SiteViews, diff_of, search_of

# The characters of JSON gathered before they are sent.
JSON_BLOCK = 64 << 10


class ApiViews(SiteViews):
    """The JSON views of one site."""

    def routes(self) -> list[Route]:
        return [
            Route("/api", self.api_index),
            Route("/api/age/{name:path}", self.api_age),
            Route("/api/check/{name:path}", self.api_check),
            Route("/api/info/{name:path}", self.api_info),
            Route("/api/ls/{name:path}", self.api_ls),
            Route("/api/show/{name:path}/{index:position}", self.api_show),
            Route("/api/references/{name:path}/{index:position}", self.api_references),
            Route("/api/sdl/{name:path}", self.api_sdl),
            Route("/api/search", self.api_search),
            Route("/api/diff", self.api_diff),
        ]

    def json(self, value: object, status: int = 200) -> Response:
        """JSON written as it is made: a long list is never held whole."""

        def chunks() -> Iterator[bytes]:
            # Sent in blocks: each piece sent costs a hop to a thread and back.
            block: list[str] = []
            size = 0
            for chunk in json_chunks(value):
                block.append(chunk)
                size += len(chunk)
                if size >= JSON_BLOCK:
                    yield "".join(block).encode()
                    block.clear()
                    size = 0
            block.append("\n")
            yield "".join(block).encode()

        return StreamingResponse(chunks(), status, media_type="application/json")

    def api_index(self, request: Request) -> Response:
        site = self.site
        return self.json(
            {
                site.kind: site.path,
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
        check = AgeCheck(age)
        return self.json(
            {
                "age_count": 1,
                "ages": iter([check_json(check)]),
                **{
                    name: (lambda name=name: severity_counts([check.report])[name])
                    for name in severity_counts([])
                },
            }
        )

    def api_info(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        path = self.site.pages[name]
        page = self.site.page(name)
        if isinstance(page, Unreadable):
            return self.json(
                {"page_count": 0, "pages": [], "errors": [{"page": path, "error": page.reason}]}
            )
        return self.json({"page_count": 1, "pages": [info_json(path, page)], "errors": []})

    def api_ls(self, request: Request) -> Response:
        name = self.found(request, self.site.pages)
        page = self.site.page(name)
        if isinstance(page, Unreadable):
            return self.json({"error": page.reason}, 422)
        query = ObjectQuery.of(request)
        return self.json(ls_json(self.site.pages[name], page, query.class_type, query.listed(page)))

    def api_show(self, request: Request) -> Response:
        name, index, obj = self.located(request)
        if obj.class_name not in DECODERS:
            return self.json(
                {"error": f"{obj.name!r} is a {obj.class_name}, which lumivex does not decode"},
                422,
            )
        try:
            view = DECODERS[obj.class_name](obj)
        except (OSError, ValueError) as error:
            return self.json({"error": decode_failure(obj, error)}, 422)
        return self.json(show_json(self.site.pages[name], [(index, obj, properties(view))]))

    def api_references(self, request: Request) -> Response:
        name, index, obj = self.located(request)
        scope = self.site.scope(name)
        try:
            references = scope.reach(obj.references()) if obj.class_name in DECODERS else []
        except (OSError, ValueError) as error:
            return self.json({"error": decode_failure(obj, error)}, 422)

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
                {"descriptors": [], "passed_over": [{"file": path, "reason": sdl.reason}]}
            )
        return self.json({"descriptors": sdl.descriptors(), "passed_over": []})

    def api_search(self, request: Request) -> Response:
        search = search_of(self.site, request, None)
        if search is None:
            raise HTTPException(
                400, "nothing to search for: give q (a part of a name), class, or both"
            )
        return self.json(
            {
                "q": search.text,
                "class_type": search.class_type,
                "scope": request.query_params.get("scope") or None,
                "start": search.start,
                "results": ({"page": page, **object_json(obj.index, obj)} for page, obj in search),
                "result_count": lambda: search.count,
                "errors": lambda: [
                    {"page": page, "error": reason} for page, reason in search.unreadable
                ],
            }
        )

    def api_diff(self, request: Request) -> Response:
        found = diff_of(self.site, request)
        if found is None:
            raise HTTPException(400, "name two pages or two ages: a and b")
        a, b, changes = found
        grouping = grouped(iter(changes))
        # The changes of the age descriptions, and the first of the pages,
        # are found before the answer starts: every page file is read once
        # by then, so that one that does not load answers 422, not a cut
        # answer.
        ahead: list[tuple[bool, Change]] = []
        try:
            for found_change in grouping:
                ahead.append(found_change)
                if found_change[1].kind != AGE:
                    break
        except (OSError, ValueError) as error:
            return self.json({"error": error_text(error)}, 422)
        counts = {"changes": 0, "pages": 0}

        def records() -> Iterator[dict[str, object]]:
            for first, change in itertools.chain(ahead, grouping):
                counts["changes"] += 1
                counts["pages"] += first and change.kind != AGE
                yield change_json(change)

        return self.json(
            {
                "a": a,
                "b": b,
                "changes": records(),
                "change_count": lambda: counts["changes"],
                "page_count": lambda: counts["pages"],
            }
        )
