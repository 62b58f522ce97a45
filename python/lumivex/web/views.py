"""What the HTML and the JSON views share: the site, the file or object a
request names, and the check report of each age, made once."""

from __future__ import annotations

from starlette.exceptions import HTTPException
from starlette.requests import Request

import lumivex
from lumivex.check import AgeReport, check_age
from lumivex.web.site import Memo, ServedAge, Site


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
