"""lumivex serve through the web framework's test client: every view on the
samples, the JSON shapes against the command's, references both ways,
requests that try to reach other files, hostile names, damaged pages and
objects, and the command that starts the server."""

import http.client
import io
import json
import os
import re
import signal
import subprocess
import sys
import warnings
from pathlib import Path

import lumivex
import pytest
from lumivex.cli import main

from fixtures.builder import Obj, i16, key_ref, page, synched, u32
from fixtures.object_bodies import (
    LAYER,
    MATERIAL,
    MIPMAP,
    layer_body,
    material_body,
    mipmap_body,
    scene_object_body,
)
from fixtures.texture_bodies import DXT5, texture_body

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")
PIL = pytest.importorskip("PIL.Image")

with warnings.catch_warnings():
    # Newer Starlettes ask for httpx's successor, which is not everywhere yet.
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402
from lumivex.web.server import host_warning  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
SAMPLES = ROOT / "samples"
HOSTILE = "<script>alert(1)</script>"
MAIN_SEQ, CAVE_SEQ = 0x00200001, 0x00200002


def client(path) -> TestClient:
    return TestClient(create_app(Site(str(path))), base_url="http://127.0.0.1")


def links(html: str) -> list[str]:
    return re.findall(r'href="([^"]+)"', html)


def command_json(capsys, *argv) -> object:
    main([*argv, "--json"])
    return json.loads(capsys.readouterr().out)


@pytest.fixture(scope="module")
def samples():
    return client(SAMPLES / "Demo.age")


@pytest.fixture(scope="module")
def isle(tmp_path_factory):
    """A folder with an age whose pages refer to each other, a texture, a
    hostile name, an object that does not decode, a damaged page, a missing
    one; beside it, links, a folder link and a FIFO that lead elsewhere."""
    top = tmp_path_factory.mktemp("isle")
    served, outside = top / "served", top / "outside"
    served.mkdir()
    outside.mkdir()
    (served / "Isle.age").write_text(
        "SequencePrefix=32\n[Pages]\nPage=Main,1\nPage=Cave,2\nPage=Broken,3\nPage=Gone,4\nPage=Far,5\n"
    )
    moss = key_ref("Moss", LAYER, location_sequence=CAVE_SEQ)
    (served / "Isle_District_Main.prp").write_bytes(
        page(
            [
                Obj(MATERIAL, "StoneMat", material_body([moss]), location_sequence=MAIN_SEQ),
                Obj(
                    LAYER,
                    "Lost",
                    layer_body("Lost", key_ref("Nothing", MIPMAP, location_sequence=MAIN_SEQ)),
                    location_sequence=MAIN_SEQ,
                ),
                Obj(LAYER, "Cut", layer_body("Cut")[:20], location_sequence=MAIN_SEQ),
                Obj(1, HOSTILE, scene_object_body(HOSTILE), location_sequence=MAIN_SEQ),
                Obj(
                    MIPMAP,
                    "Short",
                    mipmap_body(
                        "Short",
                        compression=1,
                        info=b"\x10\x05",
                        width=8,
                        height=8,
                        levels=2,
                        pixels=bytes(40),
                    ),
                    location_sequence=MAIN_SEQ,
                ),
                Obj(
                    MIPMAP,
                    "Odd",
                    mipmap_body("Odd", compression=1, info=b"\x10\x03", pixels=bytes(16)),
                    location_sequence=MAIN_SEQ,
                ),
            ],
            age="Isle",
            page_name="Main",
            sequence_number=MAIN_SEQ,
        )
    )
    (served / "Isle_District_Cave.prp").write_bytes(
        page(
            [
                Obj(
                    LAYER,
                    "Moss",
                    layer_body("Moss", key_ref("MossTex", MIPMAP, location_sequence=CAVE_SEQ)),
                    location_sequence=CAVE_SEQ,
                ),
                Obj(
                    MIPMAP,
                    "MossTex",
                    texture_body("MossTex", DXT5, 16, 8, 4),
                    location_sequence=CAVE_SEQ,
                ),
            ]
            + [
                Obj(0x15, f"Coord{n:03}", b"", object_id=n, location_sequence=CAVE_SEQ)
                for n in range(250)
            ],
            age="Isle",
            page_name="Cave",
            sequence_number=CAVE_SEQ,
        )
    )
    (served / "Isle_District_Broken.prp").write_bytes(b"not a page at all")
    secret = page([Obj(1, "SECRET", b"")], age="Other", page_name="Secret")
    (outside / "secret.prp").write_bytes(secret)
    (outside / "Other.age").write_text("[Pages]\nPage=Secret,1\n")
    (served / "Isle_District_Far.prp").symlink_to(outside / "secret.prp")
    (served / "link.prp").symlink_to(outside / "secret.prp")
    (served / "linked").symlink_to(outside)
    os.mkfifo(served / "fifo.prp")
    (served / "Isle.sdl").write_text(
        "STATEDESC Isle\n{\n  VERSION 1\n  VAR BOOL lit[1] DEFAULT=1\n}\n"
    )
    return served


@pytest.fixture(scope="module")
def isle_client(isle):
    return client(isle)


def test_the_age_view_shows_settings_pages_descriptions_and_check(samples, capsys):
    html = samples.get("/").text  # redirected to the age
    age = lumivex.Age.open(str(SAMPLES / "Demo.age"))
    assert f"Age {age.name}" in html
    for name, loaded in age.pages.items():
        assert isinstance(loaded, lumivex.PrpFile)
        assert f"{name}</a>" in html and f'<td class="number">{len(loaded)}</td>' in html
    for descriptor in command_json(capsys, "sdl", str(SAMPLES / "sdl"))["descriptors"]:
        assert f"<td>{descriptor['name']}</td>" in html
    report = command_json(capsys, "check", str(SAMPLES / "Demo.age"))
    assert (
        f"{report['ages'][0]['reference_count']} references: {report['error_count']} errors, "
        f"{report['warning_count']} warnings, {report['note_count']} notes"
    ) in html


@pytest.mark.parametrize("page_file", sorted(p.name for p in SAMPLES.glob("*.prp")))
def test_every_object_of_the_samples_has_a_view(samples, page_file):
    page_html = samples.get(f"/page/{page_file}").text
    loaded = lumivex.PrpFile.load(str(SAMPLES / page_file))
    assert f"Objects 1 to {len(loaded)} of {len(loaded)}" in page_html
    for index, obj in enumerate(loaded):
        assert f'href="/object/{page_file}/{index}"' in page_html
        response = samples.get(f"/object/{page_file}/{index}")
        assert response.status_code == 200
        assert f"<h1>{obj.class_name} {obj.name}</h1>" in response.text
        assert "This object does not decode" not in response.text
        # The hex view starts with the class index, little-endian.
        assert f"00000000  {obj.class_type & 0xFF:02X} {obj.class_type >> 8:02X}" in response.text


def mipmaps():
    return [
        (path.name, index, obj)
        for path in sorted(SAMPLES.glob("*.prp"))
        for index, obj in enumerate(lumivex.PrpFile.load(str(path)))
        if obj.class_name == "plMipmap"
    ]


@pytest.mark.parametrize("page_file, index, obj", mipmaps(), ids=lambda v: getattr(v, "name", v))
def test_textures_show_every_level_and_download_as_the_texture_command_writes(
    samples, tmp_path, page_file, index, obj
):
    mipmap = obj.as_mipmap()
    html = samples.get(f"/object/{page_file}/{index}").text
    for level in range(mipmap.num_levels):
        url = f"/texture/{page_file}/{index}/{level}.png"
        assert f'src="{url}"' in html
        image = PIL.open(io.BytesIO(samples.get(url).content))
        assert image.size == (max(1, mipmap.width >> level), max(1, mipmap.height >> level))
        assert image.mode == "RGBA"
    assert samples.get(f"/texture/{page_file}/{index}/{mipmap.num_levels}.png").status_code == 404
    for suffix in ("png", "dds"):
        written = tmp_path / f"out.{suffix}"
        main(["texture", str(SAMPLES / page_file), obj.name, "-o", str(written)])
        response = samples.get(f"/texture/{page_file}/{index}.{suffix}")
        assert response.content == written.read_bytes()
        assert response.headers["content-disposition"].startswith("attachment;")


def test_state_descriptions_view(samples, capsys):
    html = samples.get("/sdl/sdl/DemoFountain.sdl").text
    for descriptor in command_json(capsys, "sdl", str(SAMPLES / "sdl" / "DemoFountain.sdl"))[
        "descriptors"
    ]:
        assert f"{descriptor['name']} version {descriptor['version']}" in html
        for variable in descriptor["variables"]:
            assert f"<td>{variable['name']}</td>" in html


def test_json_has_the_shapes_the_command_prints(samples, capsys):
    town = str(SAMPLES / "Demo_District_Town.prp")
    api = samples.get("/api").json()
    assert set(api["pages"]) == {p.name for p in SAMPLES.glob("*.prp")}
    assert samples.get("/api/age/Demo.age").json() == command_json(
        capsys, "age", str(SAMPLES / "Demo.age")
    )
    assert samples.get("/api/check/Demo.age").json() == command_json(
        capsys, "check", str(SAMPLES / "Demo.age")
    )
    assert samples.get("/api/info/Demo_District_Town.prp").json() == command_json(
        capsys, "info", town
    )
    assert samples.get("/api/ls/Demo_District_Town.prp").json() == command_json(capsys, "ls", town)
    assert samples.get("/api/ls/Demo_District_Town.prp?class=pllayer").json() == command_json(
        capsys, "ls", town, "--class", "pllayer"
    )
    sound = next(i for i, o in enumerate(lumivex.PrpFile.load(town)) if o.name == "FountainSplash")
    assert samples.get(f"/api/show/Demo_District_Town.prp/{sound}").json() == command_json(
        capsys, "show", town, "FountainSplash"
    )
    assert samples.get("/api/sdl/sdl/Demo.sdl").json() == command_json(
        capsys, "sdl", str(SAMPLES / "sdl" / "Demo.sdl")
    )


def test_references_link_to_their_targets_across_pages_and_back(samples):
    age = lumivex.Age.open(str(SAMPLES / "Demo.age"))
    names = {n: os.path.basename(age.page_path(n)) for n in age.pages}
    places = {
        obj: (names[name], index)
        for name, loaded in age.loaded_pages()
        for index, obj in enumerate(loaded)
    }
    found = [r for r in age.references() if r.target is not None]
    assert any(places[r.source][0] != places[r.target][0] for r in found)
    for reference in found:
        source, target = places[reference.source], places[reference.target]
        html = samples.get(f"/object/{source[0]}/{source[1]}").text
        assert f'<td>{reference.field}</td><td><a href="/object/{target[0]}/{target[1]}"' in html
        back = samples.get(f"/api/references/{target[0]}/{target[1]}").json()
        assert {"page": source[0], "index": source[1], "field": reference.field} in back[
            "referenced_by"
        ]


def test_the_objects_that_refer_to_one_are_found_when_asked(samples):
    age = lumivex.Age.open(str(SAMPLES / "Demo.age"))
    reference = next(r for r in age.references() if r.target is not None)
    target = reference.target
    name = os.path.basename(
        age.page_path(next(n for n, p in age.loaded_pages() if p is target.page))
    )
    url = f"/object/{name}/{target.index}"
    source = f">{reference.source.class_name} {reference.source.name}</a>"
    plain = samples.get(url).text
    assert "?referrers=1#referenced-by" in plain and source not in plain
    assert source in samples.get(url + "?referrers=1").text
    assert samples.get(url + "?referrers=yes").status_code == 400


def test_the_age_view_shows_the_lines_its_parser_skips(tmp_path):
    (tmp_path / "Lines.age").write_text("SequencePrefix=3\nDayLenght=24\n")
    html = client(tmp_path / "Lines.age").get("/age/Lines.age").text
    assert "line 2: unknown key &#34;DayLenght&#34;: skipped" in html
    assert "0 pages, 0 objects, 0 references: 0 errors, 1 warning, 0 notes" in html


def test_an_age_in_a_folder(isle_client):
    home = isle_client.get("/").text
    for name in ("Isle.age", "Isle_District_Main.prp", "Isle_District_Cave.prp", "Isle.sdl"):
        assert name in home
    html = isle_client.get("/age/Isle.age").text
    assert "Isle_District_Gone.prp" in html and "No such file or directory" in html
    assert "Isle_District_Broken.prp" in html
    assert "it leads outside the served folder" in html
    assert "<td>Isle</td>" in html  # the descriptor beside the age
    material = isle_client.get("/api/references/Isle_District_Main.prp/0").json()
    assert material["references"][0]["target"] == {"page": "Isle_District_Cave.prp", "index": 0}
    layer = isle_client.get("/object/Isle_District_Cave.prp/0?referrers=1").text
    assert 'href="/object/Isle_District_Main.prp/0">hsGMaterial StoneMat</a>' in layer
    assert 'href="/object/Isle_District_Cave.prp/1"' in layer
    lost = isle_client.get("/object/Isle_District_Main.prp/1").text
    assert 'plMipmap Nothing (Main)</span> <span class="missing">(finds no object)' in lost


def test_damaged_pages_and_objects_show_their_errors_and_the_server_goes_on(isle_client):
    broken = isle_client.get("/page/Isle_District_Broken.prp")
    assert broken.status_code == 200 and "This page does not load" in broken.text
    assert isle_client.get("/api/info/Isle_District_Broken.prp").json()["errors"]
    cut = isle_client.get("/object/Isle_District_Main.prp/2")
    assert cut.status_code == 200 and "This object does not decode" in cut.text
    assert isle_client.get("/api/show/Isle_District_Main.prp/2").status_code == 422
    short = isle_client.get("/object/Isle_District_Main.prp/4").text
    assert (
        "texture &#39;Short&#39; is cut short: its 2 levels from 8x8 need 80 bytes, it holds 40"
        in short
    )
    assert "<img" not in short
    odd = isle_client.get("/object/Isle_District_Main.prp/5").text
    assert "uses block format 3; only DXT1 (1) and DXT5 (5) can be converted" in odd
    for url in ("/texture/Isle_District_Main.prp/5/0.png", "/texture/Isle_District_Main.prp/5.dds"):
        assert isle_client.get(url).status_code == 422
    assert isle_client.get("/texture/Isle_District_Main.prp/0/0.png").status_code == 404
    assert isle_client.get("/page/Isle_District_Main.prp").status_code == 200


def test_objects_are_paged_and_filtered(isle_client):
    first = isle_client.get("/page/Isle_District_Cave.prp").text
    assert "Objects 1 to 100 of 252" in first
    assert first.count('href="/object/') == 100
    assert 'href="/page/Isle_District_Cave.prp?start=100" rel="next"' in first
    last = isle_client.get("/page/Isle_District_Cave.prp?start=200").text
    assert "Objects 201 to 252 of 252" in last and 'rel="next"' not in last
    beyond = isle_client.get("/page/Isle_District_Cave.prp?start=300").text
    assert "No object from 301 on: there are 252." in beyond
    assert 'href="/page/Isle_District_Cave.prp?start=200">last</a>' in beyond
    coords = isle_client.get("/page/Isle_District_Cave.prp?class=0x15&name=ORD24").text
    assert "Objects 1 to 10 of 10" in coords  # Coord240 to Coord249
    assert (
        isle_client.get("/page/Isle_District_Cave.prp?class=plLayer").text.count('href="/object/')
        == 1
    )
    for query in ("start=-1", "start=x", "class=NoSuchClass"):
        assert isle_client.get(f"/page/Isle_District_Cave.prp?{query}").status_code == 400


def test_hostile_names_are_text(isle_client):
    for url in (
        "/page/Isle_District_Main.prp",
        "/object/Isle_District_Main.prp/3",
        "/age/Isle.age",
    ):
        response = isle_client.get(url)
        assert HOSTILE not in response.text
        assert "&lt;script&gt;alert(1)&lt;/script&gt;" in response.text
    assert HOSTILE in [
        o["name"] for o in isle_client.get("/api/ls/Isle_District_Main.prp").json()["objects"]
    ]


@pytest.mark.parametrize(
    "url",
    ["/age/Isle.age", "/api", "/texture/Isle_District_Cave.prp/1/0.png", "/nothing", "/style.css"],
)
def test_every_response_forbids_scripts_of_its_own_and_sniffing(isle_client, url):
    headers = isle_client.get(url).headers
    policy = headers["content-security-policy"]
    assert policy.startswith("default-src 'none';")
    # The one script is the server's static file: nothing inline, nothing from elsewhere.
    assert re.findall(r"script-src [^;]*", policy) == ["script-src 'self'"]
    assert headers["x-content-type-options"] == "nosniff"


@pytest.mark.parametrize("url", ["/favicon.svg", "/favicon.ico"])
def test_the_icon_is_where_pages_name_it_and_where_browsers_look(isle_client, url):
    answer = isle_client.get(url)
    assert answer.status_code == 200
    assert answer.headers["content-type"].startswith("image/svg+xml")


TRAVERSALS = [
    "/page/../outside/secret.prp",
    "/page/..%2Foutside%2Fsecret.prp",
    "/page/%2E%2E/outside/secret.prp",
    "/page//etc/passwd",
    "/page/%2Fetc%2Fpasswd",
    "/page/Isle_District_Main.prp%00",
    "/page/Isle_District_Main.prp%00.txt",
    "/page/link.prp",
    "/page/linked/secret.prp",
    "/page/Isle_District_Far.prp",
    "/page/fifo.prp",
    "/object/link.prp/0",
    "/object/Isle_District_Far.prp/0",
    "/texture/..%2Foutside%2Fsecret.prp/0.png",
    "/age/linked/Other.age",
    "/age/../outside/Other.age",
    "/sdl/..%2F..%2Fetc%2Fpasswd",
    "/api/info/link.prp",
    "/api/ls/..%2Foutside%2Fsecret.prp",
    "/api/show/Isle_District_Far.prp/0",
    "/style.css/..%2F..%2Fapp.py",
    "/templates/base.html",
    "/Isle_District_Main.prp",
    "/Isle.age",
    "/outside/",
    "/linked/",
]


@pytest.mark.parametrize("url", TRAVERSALS)
def test_no_request_reaches_another_file(isle_client, url):
    response = isle_client.get(url)
    assert response.status_code in (400, 404)
    assert "SECRET" not in response.text


def test_listing_names_what_is_not_served_and_why(isle_client):
    listed = {
        entry["name"]: entry["reason"] for entry in isle_client.get("/api").json()["not_served"]
    }
    assert listed == {
        "Isle_District_Far.prp": "it leads outside the served folder",
        "link.prp": "it leads outside the served folder",
        "fifo.prp": "not a regular file",
    }
    assert "SECRET" not in isle_client.get("/").text


def test_only_reading_and_only_for_this_machine(isle_client):
    assert isle_client.post("/page/Isle_District_Main.prp").status_code == 405
    assert isle_client.delete("/page/Isle_District_Main.prp").status_code == 405
    for host in ("evil.example", "evil.example:8000", "127.0.0.1.evil.example"):
        response = isle_client.get("/api", headers={"host": host})
        assert response.status_code == 400
        assert response.headers["x-content-type-options"] == "nosniff"
    for host in ("localhost:8000", "[::1]:8000", "127.0.0.1"):
        assert isle_client.get("/api", headers={"host": host}).status_code == 200


@pytest.mark.parametrize(
    "host, warned",
    [
        ("127.0.0.1", False),
        ("localhost", False),
        ("::1", False),
        ("127.0.0.2", False),
        ("0.0.0.0", True),
        ("::", True),
        ("192.168.1.5", True),
        ("myhost.example", True),
    ],
)
def test_hosts_other_machines_may_reach_are_warned_about(host, warned):
    assert (host_warning(host, 8000) is not None) == warned


def test_a_page_alone(tmp_path):
    path = tmp_path / "One.prp"
    path.write_bytes(
        page(
            [
                Obj(
                    LAYER,
                    "Top",
                    layer_body("Top", key_ref("Tex", MIPMAP, location_sequence=7)),
                    location_sequence=7,
                ),
                Obj(MIPMAP, "Tex", texture_body("Tex", DXT5), location_sequence=7),
            ],
            sequence_number=7,
        )
    )
    (tmp_path / "Other.prp").write_bytes(page([]))
    alone = client(path)
    assert alone.get("/", follow_redirects=False).headers["location"] == "/page/One.prp"
    assert alone.get("/api").json()["pages"] == ["One.prp"]
    assert alone.get("/page/Other.prp").status_code == 404
    layer = alone.get("/object/One.prp/0").text
    assert re.search(r'<a href="/object/One.prp/1" title="[^"]*">plMipmap Tex \(\w+\)</a>', layer)


def run_server(*argv, env=None):
    return subprocess.Popen(
        [sys.executable, "-m", "lumivex", "serve", *argv],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )


def test_the_command_serves_until_interrupted(isle, tmp_path):
    opened = tmp_path / "opened"
    browser = (
        f"{sys.executable} -c \"import sys; open(sys.argv[1], 'w').write(sys.argv[2])\" {opened} %s"
    )
    server = run_server(str(isle), "--port", "0", "--open", env={**os.environ, "BROWSER": browser})
    try:
        line = server.stdout.readline()
        address = re.fullmatch(r"serving .* at http://127\.0\.0\.1:(\d+)/ \(Ctrl-C stops\)\n", line)
        assert address, line + server.stderr.read()
        # Requests as they come, unnormalized by any client.
        connection = http.client.HTTPConnection("127.0.0.1", int(address[1]), timeout=30)
        for url in ["/api/age/Isle.age", *TRAVERSALS]:
            connection.request("GET", url)
            response = connection.getresponse()
            body = response.read()
            assert response.status == (200 if url == "/api/age/Isle.age" else 404), url
            assert b"SECRET" not in body
    finally:
        server.send_signal(signal.SIGINT)
        server.wait(timeout=30)
    assert server.returncode == 0
    assert server.stderr.read() == ""
    assert opened.read_text() == f"http://127.0.0.1:{address[1]}/"


def test_the_command_reports_what_it_cannot_serve(tmp_path, capsys):
    assert main(["serve", str(tmp_path / "missing.age"), "--port", "0"]) == 1
    assert "No such file or directory" in capsys.readouterr().err
    assert main(["serve", str(SAMPLES), "--port", "65536"]) == 2


def test_trees_deeper_than_the_interpreter_can_recurse(tmp_path):
    """A tree deeper than the interpreter's recursion limit: the scan and the
    site walk it and find the page at its bottom."""
    from lumivex.cli.scan import find_pages

    start = os.getcwd()
    depth = sys.getrecursionlimit() + 100
    os.chdir(tmp_path)
    try:
        # Made and removed through relative paths, which stay short.
        for _ in range(depth):
            os.mkdir("d")
            os.chdir("d")
        Path("p.prp").write_bytes(page([Obj(1, "Deep", b"\x01\x00")]))
        found = find_pages([str(tmp_path)])
        site = Site(str(tmp_path))
        os.unlink("p.prp")
        for _ in range(depth):
            os.chdir("..")
            os.rmdir("d")
    finally:
        os.chdir(start)
    deep = str(tmp_path) + "/d" * depth + "/p.prp"
    assert ([found.pages[i] for i in range(len(found.pages))], found.passed) == ([deep], [])
    assert list(site.pages.values()) == [deep]


def test_a_page_name_that_leads_out_of_the_folder_is_never_served(tmp_path):
    served = tmp_path / "served"
    (served / "Probe_District_x").mkdir(parents=True)
    (served / "Probe.age").write_text("Page=x/../../secret,1\n")
    (tmp_path / "secret.prp").write_bytes(page([Obj(1, "Secret", b"\x01\x00")]))
    site = Site(str(served / "Probe.age"))
    assert site.pages == {}
    html = client(served / "Probe.age").get("/").text
    assert "the page name is not a plain file name: it holds &#34;/&#34;" in html
    assert "Secret" not in html


def material_to(layer: str) -> bytes:
    """A material named Mat whose one layer is the layer of that name in MAIN_SEQ."""
    body = i16(MATERIAL) + key_ref("Mat", MATERIAL) + synched(0) + u32(1) + u32(2) + u32(1)
    return body + u32(3) + key_ref(layer, LAYER, location_sequence=MAIN_SEQ)


def missing_reference_row(tmp_path, objects: list[Obj]) -> str:
    """The row of the age view's check that tells of a reference finding no
    object, in an age of one page holding the objects."""
    data = page(objects, age="Gaps", page_name="Only", sequence_number=MAIN_SEQ)
    (tmp_path / "Gaps_District_Only.prp").write_bytes(data)
    (tmp_path / "Gaps.age").write_text("SequencePrefix=48\nPage=Only,1\n")
    shown = client(tmp_path / "Gaps.age").get("/age/Gaps.age").text
    row = re.search(r"<tr><td><a[^\n]*finds no object[^\n]*</tr>", shown)
    assert row is not None
    return row[0]


def test_the_check_links_problems_to_their_pages_and_objects(tmp_path):
    objects = [
        Obj(LAYER, "Fine", b"", 1, location_sequence=MAIN_SEQ),
        Obj(MATERIAL, "Mat", material_to("Gone"), 2, location_sequence=MAIN_SEQ),
    ]
    row = missing_reference_row(tmp_path, objects)
    assert '<a href="/page/Gaps_District_Only.prp">Only</a>' in row
    assert '<a href="/object/Gaps_District_Only.prp/1">Mat</a> (hsGMaterial)' in row


def test_a_problem_links_to_its_object_among_others_of_its_name(tmp_path):
    objects = [
        Obj(LAYER, "Fine", b"", 1, location_sequence=MAIN_SEQ),
        Obj(MATERIAL, "Mat", material_to("Fine"), 2, location_sequence=MAIN_SEQ),
        Obj(MATERIAL, "Mat", material_to("Gone"), 3, location_sequence=MAIN_SEQ),
    ]
    row = missing_reference_row(tmp_path, objects)
    assert '<a href="/object/Gaps_District_Only.prp/2">Mat</a> (hsGMaterial)' in row


PAGE = "Demo_District_Town.prp"


def test_an_object_names_itself_and_its_page(samples):
    town = lumivex.PrpFile.load(str(SAMPLES / PAGE))
    glass = town.find("LampGlass")[0]
    shown = samples.get(f"/object/{PAGE}/{glass.index}").text
    assert f'<span class="trail">object {glass.index}: plLayer LampGlass</span>' in shown
    assert f'<dt>page</dt><dd><a href="/page/{PAGE}">Town</a></dd>' in shown
    # A key shows its page's name and links to its target.
    texture = town.find("Tiles_DXT5")[0]
    assert re.search(
        rf'<a href="/object/{PAGE}/{texture.index}" title="[^"]*">plMipmap Tiles_DXT5 \(Town\)</a>',
        shown,
    )


def test_the_referrers_of_an_object_shown_are_the_first_and_all_are_counted(tmp_path, monkeypatch):
    monkeypatch.setattr("lumivex.web.html.SHOWN_REFERRERS", 3)
    layers = [Obj(LAYER, f"L{n}", layer_body(f"L{n}", "Stone"), n + 1) for n in range(5)]
    path = tmp_path / "p.prp"
    path.write_bytes(page([Obj(MIPMAP, "Stone", mipmap_body(name="Stone"), 1), *layers]))
    shown = client(path).get("/object/p.prp/0?referrers=1").text
    assert "5 references, the first 3 shown" in shown
    assert shown.count('href="/object/p.prp/') - shown.count('href="/object/p.prp/0') == 3
    assert len(client(path).get("/api/references/p.prp/0").json()["referenced_by"]) == 5
