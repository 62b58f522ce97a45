"""lumivex serve's search and diff views, through the web framework's test
client: search finds what a look at every page finds, pages its results and
counts them all; the diff view shows what `lumivex diff` prints and /api/diff
what its --json prints; names and paths that lead outside the served folder
are refused."""

import contextlib
import html
import io
import json
import re
import shutil
import warnings
from pathlib import Path

import lumivex
import pytest
from lumivex.cli import main
from lumivex.shapes import json_schema

from fixtures.builder import Obj, page
from fixtures.edited import TOWN, releases
from fixtures.object_bodies import LAYER

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("PIL.Image")
jsonschema = pytest.importorskip("jsonschema")

with warnings.catch_warnings():
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402

SAMPLES = Path(__file__).resolve().parent.parent / "samples"


def client(path) -> TestClient:
    return TestClient(create_app(Site(str(path))), base_url="http://127.0.0.1")


def command(*argv: str) -> str:
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        main(list(argv))
    return out.getvalue()


def texts(pattern: str, text: str) -> list[str]:
    return [html.unescape(found) for found in re.findall(pattern, text)]


@pytest.fixture(scope="module")
def samples():
    return client(SAMPLES / "Demo.age")


@pytest.fixture(scope="module")
def two_releases(tmp_path_factory):
    """A folder holding the samples (A) and an edited copy (B), and a
    client serving it."""
    top = tmp_path_factory.mktemp("releases")
    a, b = releases(top)
    return a, b, client(top)


def every_object(class_type=None):
    """Each object of the sample pages, in the order the server lists the pages."""
    site = Site(str(SAMPLES / "Demo.age"))
    for name, path in site.pages.items():
        for obj in lumivex.PrpFile.load(path):
            if class_type is None or obj.class_type == class_type:
                yield name, obj


@pytest.mark.parametrize(
    ("query", "text", "class_type"),
    [
        ("q=lamp", "lamp", None),
        ("q=LAMP&class=plLayer", "lamp", LAYER),
        ("q=Tree", "tree", None),
        ("class=0x0006", "", LAYER),
        ("class=1&q=o", "o", 1),
        ("q=nothing-has-this", "nothing-has-this", None),
    ],
)
def test_search_finds_what_every_page_holds(samples, query, text, class_type):
    expected = [
        {"page": name, "index": obj.index, "name": obj.name, "class_type": obj.class_type}
        for name, obj in every_object(class_type)
        if text in obj.name.lower()
    ]
    shown = samples.get(f"/api/search?{query}").json()
    jsonschema.Draft202012Validator(json_schema("search")).validate(shown)
    found = [{k: r[k] for k in ("page", "index", "name", "class_type")} for r in shown["results"]]
    assert (found, shown["result_count"], shown["errors"]) == (expected, len(expected), [])
    page = samples.get(f"/search?{query}").text
    links = re.findall(r'<a href="(/object/[^"]+)">', page)
    assert links == [f"/object/{r['page']}/{r['index']}" for r in expected]
    if expected:
        first = samples.get(links[0]).text
        assert f"<h1>{shown['results'][0]['class_name']} {expected[0]['name']}</h1>" in first


@pytest.mark.parametrize(
    ("scope", "pages"),
    [
        ("A/Demo.age", {f"A/{TOWN}", "A/Demo_District_Cavern.prp"}),
        (f"B/{TOWN}", {f"B/{TOWN}"}),
        ("", {f"{side}/{page}" for side in "AB" for page in (TOWN, "Demo_District_Cavern.prp")}),
    ],
)
def test_search_keeps_to_its_scope(two_releases, scope, pages):
    _, _, served = two_releases
    shown = served.get(f"/api/search?q=ta&scope={scope}").json()
    assert {result["page"] for result in shown["results"]} == pages
    assert shown["scope"] == (scope or None)


@pytest.mark.parametrize(
    "query",
    [
        "q=a&class=plNothing",
        "q=a&start=x",
        "q=a&start=%C2%B2",
        "q=a&start=" + "9" * 4000,
        "q=a&class=99999999",
    ],
    ids=lambda query: query[:24],
)
def test_a_bad_search_is_refused(samples, query):
    for prefix in ("/search", "/api/search"):
        assert samples.get(f"{prefix}?{query}").status_code == 400


@pytest.mark.parametrize(
    "scope", ["../samples/Demo.age", "/etc/passwd", "Demo.age%00", "sdl/Demo.sdl", "Demo"]
)
def test_a_search_finds_no_file_that_is_not_served(samples, scope):
    for prefix in ("/search", "/api/search"):
        assert samples.get(f"{prefix}?q=a&scope={scope}").status_code == 404


def test_the_api_needs_something_to_search_for_and_the_view_shows_a_form(samples):
    assert samples.get("/api/search").status_code == 400
    assert samples.get("/api/search?q=").status_code == 400
    form = samples.get("/search").text
    assert "<table" not in form and 'name="class"' in form


def test_search_results_come_a_screen_at_a_time_and_are_all_counted(tmp_path):
    objects = [Obj(LAYER, f"Leaf{n:03}", b"", n + 1) for n in range(250)]
    objects += [Obj(1, "Trunk", b"", 300)]
    (tmp_path / "Tree.prp").write_bytes(page(objects))
    (tmp_path / "Broken.prp").write_bytes(b"not a page")
    served = client(tmp_path)
    last = served.get("/search?q=LEAF&start=200").text
    assert "Results 201 to 250 of 250" in last
    assert texts(r'<a href="/object/Tree.prp/\d+">([^<]*)</a>', last) == [
        f"Leaf{n:03}" for n in range(200, 250)
    ]
    assert "Broken.prp was not searched" in last
    first = served.get("/search?q=leaf").text
    assert 'href="/search?q=leaf&amp;start=100" rel="next"' in first
    assert texts(r'<a href="/object/Tree.prp/\d+">([^<]*)</a>', first) == [
        f"Leaf{n:03}" for n in range(100)
    ]
    shown = served.get("/api/search?q=leaf&start=240").json()
    assert [r["index"] for r in shown["results"]] == list(range(240, 250))
    assert shown["result_count"] == 250
    assert [error["page"] for error in shown["errors"]] == ["Broken.prp"]


def test_every_page_has_the_search_box(samples):
    for url in ("/age/Demo.age", "/page/Demo_District_Town.prp", "/diff", "/nothing"):
        assert '<form class="search" method="get" action="/search"' in samples.get(url).text


def diff_lines(text: str) -> list[str]:
    """What the diff view shows, as the command prints it: each page's
    heading, then its changes."""
    found = re.findall(r"<h2>([^<]*)</h2>|<li class=\"\w+\">([^<]*)</li>", text)
    return [html.unescape(heading or f"  {line}") for heading, line in found]


@pytest.mark.parametrize(
    "names",
    [
        (f"A/{TOWN}", f"B/{TOWN}"),
        ("A/Demo.age", "B/Demo.age"),
        (f"B/{TOWN}", "A/Demo_District_Garden.prp"),
        ("A/Demo.age", "A/Demo.age"),
    ],
)
def test_the_diff_view_shows_what_the_command_prints(two_releases, names):
    a, b, served = two_releases
    top = a.parent
    paths = [str(top / name) for name in names]
    query = f"a={names[0]}&b={names[1]}"
    printed = command("diff", *paths)
    shown = served.get(f"/diff?{query}").text
    assert diff_lines(shown) == printed.splitlines()
    answer = served.get(f"/api/diff?{query}").json()
    jsonschema.Draft202012Validator(json_schema("diff")).validate(answer)
    expected = json.loads(command("diff", "--json", *paths))
    assert {k: v for k, v in answer.items() if k not in "ab"} == {
        k: v for k, v in expected.items() if k not in "ab"
    }
    assert (answer["a"], answer["b"]) == (paths[0], paths[1])


def test_one_edit_is_one_line_under_its_page(two_releases):
    _, _, served = two_releases
    shown = served.get(f"/diff?a=A/{TOWN}&b=B/{TOWN}").text
    assert diff_lines(shown) == ["page Town", "  plLayer LampGlass: opacity 0.5 -> 0.25"]
    assert "1 change</p>" in shown


@pytest.mark.parametrize(
    ("query", "status"),
    [
        ("a=A/Demo.age&b=B/Demo_District_Town.prp", 400),
        ("a=A/Demo.age", 400),
        ("b=A/Demo.age", 400),
        ("a=A/Demo.age&b=../outside/Demo.age", 404),
        ("a=A/Demo.age&b=/etc/hostname", 404),
        ("a=A/Demo.age&b=A/Demo.age%00", 404),
        ("a=A%2FDemo.age&b=C/Demo.age", 404),
    ],
)
def test_a_bad_diff_is_refused(two_releases, query, status):
    _, _, served = two_releases
    assert served.get(f"/diff?{query}").status_code == status
    assert served.get(f"/api/diff?{query}").status_code == status


def test_an_age_whose_page_leads_outside_is_not_read(tmp_path):
    a, b = releases(tmp_path / "served")
    outside = tmp_path / "outside"
    outside.mkdir()
    shutil.move(b / TOWN, outside / TOWN)
    (b / TOWN).symlink_to(outside / TOWN)
    served = client(tmp_path / "served")
    answer = served.get("/api/diff?a=A/Demo.age&b=B/Demo.age")
    assert answer.status_code == 422
    assert "leads outside the served folder" in answer.json()["error"]
    shown = served.get("/diff?a=A/Demo.age&b=B/Demo.age").text
    assert "leads outside the served folder" in shown


def test_a_diff_that_stops_at_once_does_not_say_there_is_no_difference(tmp_path):
    a, b = releases(tmp_path)
    shutil.copy(a / TOWN, a / "Demo_District_Garden.prp")
    served = client(tmp_path)
    answer = served.get("/api/diff?a=A/Demo.age&b=A/Demo.age")
    assert answer.status_code == 422 and "both hold page 'Town'" in answer.json()["error"]
    shown = html.unescape(served.get("/diff?a=A/Demo.age&b=A/Demo.age").text)
    assert "No difference before it stopped." in shown and "both hold page 'Town'" in shown
    assert "No difference.<" not in shown


def test_a_page_of_an_age_that_does_not_load_is_named(tmp_path):
    a, b = releases(tmp_path)
    garden = b / "Demo_District_Garden.prp"
    garden.write_bytes(garden.read_bytes()[:100])
    served = client(tmp_path)
    answer = served.get("/api/diff?a=A/Demo.age&b=B/Demo.age")
    assert answer.status_code == 422 and f"{garden}: " in answer.json()["error"]
    shown = html.unescape(served.get("/diff?a=A/Demo.age&b=B/Demo.age").text)
    assert f"The diff stopped: {garden}: " in shown


def test_a_diff_reads_only_regular_files_when_it_reads_them(tmp_path, monkeypatch):
    """A page that was a regular file when it was checked but is a device
    by the time the diff reads it is refused, not read: a FIFO would be
    waited on."""
    a, b = releases(tmp_path)
    site = Site(str(tmp_path))
    garden = b / "Demo_District_Garden.prp"
    garden.unlink()
    garden.symlink_to("/dev/null")
    monkeypatch.setattr(site, "refusal", lambda path: None)
    served = TestClient(create_app(site), base_url="http://127.0.0.1")
    answer = served.get("/api/diff?a=A/Demo.age&b=B/Demo.age")
    assert answer.status_code == 422 and "not a regular file" in answer.json()["error"]


def test_a_long_diff_shows_its_first_changes_and_counts_all(tmp_path):
    before = [Obj(LAYER, f"L{n:04}", b"", n + 1) for n in range(1500)]
    after = [Obj(LAYER, f"M{n:04}", bytes([n % 256]), n + 1) for n in range(1500)]
    (tmp_path / "a.prp").write_bytes(page(before))
    (tmp_path / "b.prp").write_bytes(page(after))
    served = client(tmp_path)
    shown = served.get("/diff?a=a.prp&b=b.prp").text
    assert "3000 changes, the first 1000 shown" in shown
    assert len(re.findall("<li ", shown)) == 1000
    assert served.get("/api/diff?a=a.prp&b=b.prp").json()["change_count"] == 3000
