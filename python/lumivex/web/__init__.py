"""lumivex serve: a local web server that shows an age, a folder or a page
in a browser, with the same data as JSON under /api. It needs the web extra:
pip install "lumivex[web]"."""

from lumivex.web.app import create_app
from lumivex.web.site import Site

__all__ = ["Site", "create_app"]
