"""lumivex serve where a small slip would go unseen: a sibling folder whose
name starts with the served folder's, download names with quotes, ";",
slashes and accents, host names in any case, state descriptions in a folder
named SDL or reached through a link, names that hold "#", the exact security
policy, the download suffixes, and links swapped in after a file was
checked."""

import os
import re
import threading
import warnings

import lumivex
import pytest

from fixtures.builder import Obj, page
from fixtures.object_bodies import MIPMAP
from fixtures.texture_bodies import DXT1, texture_body

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")
pytest.importorskip("PIL")

with warnings.catch_warnings():
    # Newer Starlettes ask for httpx's successor, which is not everywhere yet.
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.errors import error_text  # noqa: E402
from lumivex.web import Site, create_app  # noqa: E402

STATES = "STATEDESC Demo\n{\n  VERSION 1\n  VAR BOOL lit[1] DEFAULT=1\n}\n"


def client(path) -> TestClient:
    return TestClient(create_app(Site(str(path))), base_url="http://127.0.0.1")


def links(html: str) -> list[str]:
    return re.findall(r'href="([^"]+)"', html)


def textures(*names: str) -> bytes:
    return page([Obj(MIPMAP, name, texture_body(name, DXT1, 8, 8, 1)) for name in names])


@pytest.mark.parametrize("sibling", ["served-old", "served2", "served.bak", "served "])
def test_a_sibling_folder_sharing_the_name_s_start_is_outside(tmp_path, sibling):
    served, beside = tmp_path / "served", tmp_path / sibling
    served.mkdir()
    beside.mkdir()
    (beside / "secret.prp").write_bytes(page([Obj(1, "SECRET", b"")]))
    (served / "peek.prp").symlink_to(beside / "secret.prp")
    (served / "own.prp").write_bytes(textures("Own"))
    served_site = client(served)
    index = served_site.get("/api").json()
    assert index["pages"] == ["own.prp"]
    assert index["not_served"] == [
        {"name": "peek.prp", "reason": "it leads outside the served folder"}
    ]
    for url in ("/page/peek.prp", "/api/ls/peek.prp", "/object/peek.prp/0"):
        response = served_site.get(url)
        assert response.status_code == 404 and "SECRET" not in response.text


@pytest.mark.parametrize(
    ("name", "disposition"),
    [
        ("Stone", "attachment; filename=\"Stone.dds\"; filename*=UTF-8''Stone.dds"),
        (
            'a"b;c é',
            "attachment; filename=\"a_b_c__.dds\"; filename*=UTF-8''a%22b%3Bc%20%C3%A9.dds",
        ),
        ("x/y\\z", "attachment; filename=\"x_y_z.dds\"; filename*=UTF-8''x%2Fy%5Cz.dds"),
        ("Ωmega", "attachment; filename=\"_mega.dds\"; filename*=UTF-8''%CE%A9mega.dds"),
        (
            "v1.0_final-2",
            "attachment; filename=\"v1.0_final-2.dds\"; filename*=UTF-8''v1.0_final-2.dds",
        ),
        ("", "attachment; filename=\"texture.dds\"; filename*=UTF-8''.dds"),
    ],
)
def test_download_names_are_plain_ascii_beside_the_real_name(tmp_path, name, disposition):
    (tmp_path / "t.prp").write_bytes(textures(name))
    response = client(tmp_path).get("/texture/t.prp/0.dds")
    assert response.status_code == 200 and response.content[:4] == b"DDS "
    assert response.headers["content-disposition"] == disposition


@pytest.mark.parametrize("suffix", ["tga", "DDS", "Png", "webp", "dds.png.exe"])
def test_downloads_are_only_png_and_dds(tmp_path, suffix):
    (tmp_path / "t.prp").write_bytes(textures("Stone"))
    served = client(tmp_path)
    assert served.get(f"/texture/t.prp/0.{suffix}").status_code == 404
    assert served.get("/texture/t.prp/0.png").status_code == 200


@pytest.mark.parametrize(
    "host", ["LOCALHOST", "LocalHost:8000", "127.0.0.1:65535", "[::1]", "localhost:1"]
)
def test_the_names_of_this_machine_in_any_case_and_with_any_port(tmp_path, host):
    (tmp_path / "t.prp").write_bytes(textures("Stone"))
    assert client(tmp_path).get("/api", headers={"host": host}).status_code == 200


def test_every_answer_carries_the_whole_security_policy(tmp_path):
    (tmp_path / "t.prp").write_bytes(textures("Stone"))
    served = client(tmp_path)
    for url in ("/", "/page/t.prp", "/api", "/nothing", "/texture/t.prp/0.dds"):
        headers = served.get(url).headers
        assert headers["content-security-policy"] == (
            "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
            "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"
        )
        assert (headers["x-frame-options"], headers["referrer-policy"]) == ("DENY", "no-referrer")


@pytest.mark.parametrize("folder", ["sdl", "SDL", "Sdl"])
def test_state_descriptions_in_an_sdl_folder_of_any_case_belong_to_the_age(tmp_path, folder):
    (tmp_path / "Demo.age").write_text("Page=Town,1\n")
    (tmp_path / folder).mkdir()
    (tmp_path / folder / "Demo.sdl").write_text(STATES)
    for served in (client(tmp_path), client(tmp_path / "Demo.age")):
        assert served.get("/api").json()["sdl"] == [f"{folder}/Demo.sdl"]
        assert f"/sdl/{folder}/Demo.sdl" in links(served.get("/age/Demo.age").text)


def test_an_sdl_folder_that_is_a_link_is_not_followed(tmp_path):
    (tmp_path / "Demo.age").write_text("Page=Town,1\n")
    (tmp_path / "states").mkdir()
    (tmp_path / "states" / "Demo.sdl").write_text(STATES)
    (tmp_path / "sdl").symlink_to(tmp_path / "states")
    served = client(tmp_path / "Demo.age")
    assert served.get("/api").json()["sdl"] == []
    assert served.get("/sdl/sdl/Demo.sdl").status_code == 404


@pytest.mark.parametrize("file_name", ["a#b.prp", "a?b.prp", "100%.prp", "a b.prp"])
def test_links_to_names_that_hold_url_characters_lead_to_them(tmp_path, file_name):
    (tmp_path / file_name).write_bytes(textures("Stone"))
    served = client(tmp_path)
    [page_link] = [link for link in links(served.get("/").text) if link.startswith("/page/")]
    response = served.get(page_link)
    assert response.status_code == 200 and "Stone" in response.text
    object_links = [link for link in links(response.text) if link.startswith("/object/")]
    assert object_links and served.get(object_links[0]).status_code == 200


def test_files_swapped_for_fifos_after_the_check_are_refused_not_waited_on(tmp_path, monkeypatch):
    (tmp_path / "Demo.age").write_text("Page=Hall,1\n")
    (tmp_path / "Demo_District_Hall.prp").write_bytes(textures("Tex"))
    (tmp_path / "Demo.sdl").write_text(STATES)
    site = Site(str(tmp_path))
    swapped = [*site.ages, *site.pages, *site.sdl_files]
    assert len(swapped) == 3
    for name in swapped:
        (tmp_path / name).unlink()
        os.mkfifo(tmp_path / name)
    monkeypatch.setattr(site, "refusal", lambda path: None)
    loaded = {}
    reader = threading.Thread(
        target=lambda: loaded.update(
            age=site.age("Demo.age"),
            page=site.page("Demo_District_Hall.prp"),
            sdl=site.sdl("Demo.sdl"),
        ),
        daemon=True,
    )
    reader.start()
    reader.join(30)
    if reader.is_alive():
        for name in swapped:
            os.close(os.open(tmp_path / name, os.O_WRONLY | os.O_NONBLOCK))
    assert sorted(loaded) == ["age", "page", "sdl"]
    assert all(value.reason.endswith(": not a regular file") for value in loaded.values())


def test_files_whose_names_show_alike_are_listed_not_lost(tmp_path):
    """Bytes that are not UTF-8 show as U+FFFD: of the files whose names
    show alike, one is served and the others are listed by their bytes."""
    names = [b"p\xfe.prp", b"p\xff.prp", "p\ufffd.prp".encode()]
    for name in names:
        (tmp_path / os.fsdecode(name)).write_bytes(textures("Own"))
    index = client(tmp_path).get("/api").json()
    assert index["pages"] == ["p\ufffd.prp"]
    shown = {entry["name"] for entry in index["not_served"]}
    assert len(shown) == 2 and shown < {"p\\udcfe.prp", "p\\udcff.prp", "p\ufffd.prp"}
    assert all("shows the same name" in entry["reason"] for entry in index["not_served"])


def test_a_page_served_is_shown_from_its_own_file_where_an_age_s_shows_alike(tmp_path):
    """An age's page whose file name shows as that of the file served under
    it does not stand in for that file."""
    age = "A\ufffd"
    (tmp_path / f"{age}.age").write_text("SequencePrefix=32\n[Pages]\nPage=Main,1\n")
    (tmp_path / f"{age}_District_Main.prp").write_bytes(textures("Mine"))
    (tmp_path / os.fsdecode(b"A\xe0_District_Main.prp")).write_bytes(textures("Other"))
    served = client(tmp_path)
    (name,) = served.get("/api").json()["pages"]
    listed = served.get(f"/api/ls/{name}").json()
    served_path = listed["page"]
    assert [o["name"] for o in listed["objects"]] == [
        obj.name for obj in lumivex.PrpFile.load(served_path)
    ]


def demo_files(folder, secret: bool) -> None:
    """An age of one page, a page of no age and a state description; with
    secret, each names SECRET where it shows a name."""
    name = "SECRET" if secret else "Own"
    folder.mkdir(parents=True, exist_ok=True)
    pages = "Page=Town,1\n" + ("Page=SECRET,2\n" if secret else "")
    (folder / "Demo.age").write_text(f"SequencePrefix=1\n[Pages]\n{pages}")
    town = page([Obj(1, name, b"")], age="Demo", page_name="Town")
    (folder / "Demo_District_Town.prp").write_bytes(town)
    (folder / "demo.sdl").write_text(STATES.replace("Demo", name))
    (folder / "loose.prp").write_bytes(page([Obj(1, name, b"")]))


@pytest.mark.parametrize(
    ("swapped", "url"),
    [
        ("loose.prp", "/api/ls/loose.prp"),
        ("Demo.age", "/api/age/Demo.age"),
        ("Demo_District_Town.prp", "/api/check/Demo.age"),
        ("demo.sdl", "/api/sdl/demo.sdl"),
        ("B/Demo_District_Town.prp", "/api/diff?a=A/Demo.age&b=B/Demo.age"),
    ],
    ids=["page", "age", "page of an age", "state description", "diff of ages"],
)
def test_a_link_swapped_in_after_the_check_is_not_read(tmp_path, monkeypatch, swapped, url):
    """A file that becomes a link out of the served folder between its check
    and its read (a race no check of the path can see) is still not read:
    the folder of the file the system opened is checked."""
    served, outside = tmp_path / "served", tmp_path / "outside"
    for folder in (served, served / "A", served / "B"):
        demo_files(folder, secret=False)
    demo_files(outside, secret=True)
    site = Site(str(served))
    (served / swapped).unlink()
    (served / swapped).symlink_to(outside / os.path.basename(swapped))
    monkeypatch.setattr(site, "refusal", lambda path: None)
    answer = TestClient(create_app(site), base_url="http://127.0.0.1").get(url)
    assert "SECRET" not in answer.text
    assert f'leads outside \\"{served}\\"' in answer.text


@pytest.mark.parametrize(
    ("path", "inside", "read"),
    [
        ("in/own.prp", "in", True),
        ("in/own.prp", "in/", True),
        ("in/own.prp", "./in/../in", True),
        ("in/own.prp", "/", True),
        ("in/to_own.prp", "in", True),
        ("in/to_sibling.prp", "in", False),
        ("in/to_above.prp", "in", False),
        ("inner/own.prp", "in", False),
    ],
)
def test_the_loaders_read_only_inside_their_folder(tmp_path, monkeypatch, path, inside, read):
    monkeypatch.chdir(tmp_path)
    for folder in ("in", "inner"):
        os.mkdir(folder)
        with open(f"{folder}/own.prp", "wb") as file:
            file.write(textures("Own"))
    os.symlink(tmp_path / "in" / "own.prp", "in/to_own.prp")
    os.symlink("../inner/own.prp", "in/to_sibling.prp")
    os.symlink("../inner", "in/above")
    os.symlink("above/own.prp", "in/to_above.prp")
    if read:
        assert len(lumivex._lumivex._load_regular_page(path, inside=inside)) == 1
    else:
        with pytest.raises(OSError) as refused:
            lumivex._lumivex._load_regular_page(path, inside=inside)
        assert error_text(refused.value).endswith(f'leads outside "{tmp_path / "in"}"')
