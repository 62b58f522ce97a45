"""The object tables of lumivex serve: filtered and sorted on the server
through the query, the same rows in the HTML and in the JSON, and the
choice kept in every link."""

import html
import re
import warnings

import pytest

from fixtures.builder import Obj, page

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")

with warnings.catch_warnings():
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402

SCENE, COORD = 1, 0x15
# In the page's order: the builder groups objects by class.
SHOP = [
    (SCENE, "banana", 30),
    (SCENE, "Apple", 10),
    (SCENE, "cherry", 10),
    (COORD, "apple2", 20),
    (COORD, "Date", 40),
    (0x3FF, "Egg", 5),
]
# Enough objects with "1" in their names for three screens of 100.
LONG = [(COORD, f"Coord{n:04}", n * 37 % 101) for n in range(1, 1000) if "1" in str(n)][:260]


def objects(listed):
    return [
        Obj(class_type, name, bytes(size), object_id=number)
        for number, (class_type, name, size) in enumerate(listed, 1)
    ]


@pytest.fixture(scope="module")
def shop(tmp_path_factory):
    folder = tmp_path_factory.mktemp("shop")
    (folder / "Shop.prp").write_bytes(page(objects(SHOP), page_name="Shop"))
    (folder / "Long.prp").write_bytes(page(objects(LONG), page_name="Long"))
    return TestClient(create_app(Site(str(folder))), base_url="http://127.0.0.1")


def shown_indexes(text: str, page_file: str) -> list[int]:
    return [int(n) for n in re.findall(rf'href="/object/{page_file}/(\d+)"', text)]


def link(text: str, rel: str) -> str | None:
    found = re.search(rf'<a href="([^"]+)" rel="{rel}">', text)
    return None if found is None else html.unescape(found[1])


@pytest.mark.parametrize(
    "query, expected",
    [
        ("", [0, 1, 2, 3, 4, 5]),
        ("sort=-index", [5, 4, 3, 2, 1, 0]),
        ("sort=name", [1, 3, 0, 2, 4, 5]),
        ("sort=-name", [5, 4, 2, 0, 3, 1]),
        # Equal sizes keep the page's order, in both directions.
        ("sort=size", [5, 1, 2, 3, 0, 4]),
        ("sort=-size", [4, 0, 3, 1, 2, 5]),
        ("sort=class", [3, 4, 0, 1, 2, 5]),
        ("sort=-class", [5, 0, 1, 2, 3, 4]),
        ("name=APP", [1, 3]),
        ("name=app&sort=-size", [3, 1]),
        ("class=plSceneObject&sort=name", [1, 0, 2]),
        ("class=0x15&sort=-name", [4, 3]),
        ("class=&name=", [0, 1, 2, 3, 4, 5]),
        ("class=0x3ff", [5]),
        ("name=nothing", []),
    ],
)
def test_the_table_and_its_json_list_the_same_objects_in_order(shop, query, expected):
    view = shop.get(f"/page/Shop.prp?{query}")
    assert view.status_code == 200
    assert shown_indexes(view.text, "Shop.prp") == expected
    listed = shop.get(f"/api/ls/Shop.prp?{query}").json()
    assert [o["index"] for o in listed["objects"]] == expected
    assert [o["name"] for o in listed["objects"]] == [SHOP[i][1] for i in expected]
    assert listed["object_count"] == len(expected)


def test_a_class_without_a_name_is_kept_by_its_id(shop):
    text = shop.get("/page/Shop.prp?class=0x3ff&sort=-name").text
    assert 'href="/api/ls/Shop.prp?class=0x3FF&amp;sort=-name"' in text
    assert 'href="/page/Shop.prp?class=0x3FF&amp;sort=name"' in text


def test_each_class_offered_lists_its_objects(tmp_path):
    """Classes without names are offered one by one, by their ids."""
    listed = [(0x3FE, "Odd1", 1), (0x3FF, "Odd2", 1), (0x3FF, "Odd3", 1), (SCENE, "Even", 1)]
    (tmp_path / "Odd.prp").write_bytes(page(objects(listed)))
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    choice = re.search(
        r'<select name="class">(.*?)</select>', client.get("/page/Odd.prp").text, re.S
    )
    assert choice is not None
    offered = re.findall(r'<option value="([^"]+)"[^>]*>[^<]*\((\d+)\)', choice[1])
    assert offered == [("0x3FE", "1"), ("0x3FF", "2"), ("plSceneObject", "1")]
    for value, count in offered:
        view = client.get("/page/Odd.prp", params={"class": value})
        assert view.status_code == 200
        assert len(shown_indexes(view.text, "Odd.prp")) == int(count)
        assert f'<option value="{value}" selected>' in view.text


def test_every_link_keeps_the_filter_and_the_sort(shop):
    address = "/page/Long.prp?name=1&sort=-size"
    expected = [
        o["index"] for o in shop.get("/api/ls/Long.prp?name=1&sort=-size").json()["objects"]
    ]
    assert len(expected) > 200
    shown: list[int] = []
    while address is not None:
        text = shop.get(address).text
        assert 'href="/api/ls/Long.prp?name=1&amp;sort=-size"' in text
        assert '<input type="hidden" name="sort" value="-size">' in text
        shown += shown_indexes(text, "Long.prp")
        previous, address = link(text, "prev"), link(text, "next")
        for kept in (previous, address):
            assert (
                kept is None or kept.partition("&start=")[0] == "/page/Long.prp?name=1&sort=-size"
            )
    assert shown == expected


@pytest.mark.parametrize(
    "query, headings",
    [
        (
            "",
            {"#": "sort=-index", "Class": "sort=class", "Name": "sort=name", "Bytes": "sort=size"},
        ),
        ("sort=name&start=100", {"#": "", "Name": "sort=-name", "Bytes": "sort=size"}),
        ("sort=-name&name=c", {"#": "name=c", "Name": "name=c&sort=name"}),
    ],
)
def test_a_heading_sorts_by_its_column_and_a_second_click_turns_it(shop, query, headings):
    text = shop.get(f"/page/Long.prp?{query}").text
    found = {
        title: html.unescape(address).partition("?")[2]
        for address, title in re.findall(r'<th[^>]*><a href="([^"]+)">([^<]+)</a>', text)
    }
    assert {title: found[title] for title in headings} == headings


@pytest.mark.parametrize("view", ["/page/Shop.prp", "/api/ls/Shop.prp"])
@pytest.mark.parametrize(
    "query, message",
    [
        ("sort=bogus", "not a column to sort by: 'bogus'"),
        ("sort=--name", "not a column to sort by: '--name'"),
        ("sort=", "not a column to sort by: ''"),
        ("sort=name-", "not a column to sort by: 'name-'"),
        ("sort=" + "x" * 5000, "not a column to sort by: 'xxxx"),
        ("class=NoSuchClass", "unknown class 'NoSuchClass'"),
    ],
)
def test_bad_choices_answer_400_with_a_short_message(shop, view, query, message):
    response = shop.get(f"{view}?{query}")
    assert response.status_code == 400
    assert len(response.text) < 2000
    text = response.json()["error"] if view.startswith("/api") else html.unescape(response.text)
    assert message in text
