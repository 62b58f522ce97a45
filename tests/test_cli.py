"""The lumivex command on the samples and on broken input, run in this
process: exit status, output, JSON shapes and the one line of each error."""

import io
import json
import math
import os
import struct
import sys
from pathlib import Path

import lumivex
import pytest
from lumivex.classes import DECODERS, class_type
from lumivex.cli import main, scan
from lumivex.cli.scan import found, plan, progress
from lumivex.shapes import float_text

from fixtures.builder import Group, Obj, index_entry, page
from fixtures.extras import needs_pillow
from fixtures.object_bodies import DECODERS as BODIES
from fixtures.object_bodies import LAYER, MIPMAP, SCENE_OBJECT, layer_body, mipmap_body
from fixtures.texture_bodies import ARGB32, DXT1, DXT5, quadrants, texture_body, texture_pixels

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
TOWN = str(SAMPLES / "Demo_District_Town.prp")
METHODS = dict(lumivex._lumivex.decoder_methods)
# The samples' counts, as the module reads them.
SAMPLE_PAGES = [lumivex.PrpFile.load(str(path)) for path in sorted(SAMPLES.glob("*.prp"))]
TOWN_OBJECTS = len(lumivex.PrpFile.load(TOWN))
TOWN_DECODED = sum(o.class_type in METHODS for o in lumivex.PrpFile.load(TOWN))
SAMPLE_TOTAL = (
    f"total: {len(SAMPLE_PAGES)} pages, {sum(map(len, SAMPLE_PAGES))} objects, "
    f"{sum(o.class_type in METHODS for p in SAMPLE_PAGES for o in p)} decoded, 0 failed"
)


@pytest.fixture
def run(capsys):
    """Runs the command in this process: (status, standard output, standard error)."""

    def run(*argv):
        status = main([str(arg) for arg in argv])
        out, err = capsys.readouterr()
        return status, out, err

    return run


@pytest.fixture
def write_page(tmp_path):
    def write_page(objects=(), name="page.prp", **options):
        path = tmp_path / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(page(objects, **options))
        return str(path)

    return write_page


def lost_two_keys(**options) -> bytes:
    """A page whose index announces three scene objects and holds one."""
    objects = [Obj(SCENE_OBJECT, name, BODIES["as_scene_object"][1]) for name in "ABC"]
    entry = len(index_entry(objects[0], 0, 0))
    return page(groups=[Group(SCENE_OBJECT, objects, length=5 + entry)], **options)


def test_decoders_follow_the_class_names():
    assert {lumivex.class_name(t): m for t, m in METHODS.items()} == {
        name: decode.__name__ for name, decode in DECODERS.items()
    }


def test_info(run, tmp_path):
    status, out, err = run("info", TOWN)
    assert (status, err) == (0, "")
    lines = out.splitlines()
    assert lines[:3] == [TOWN, "  age              Demo", "  page             Town"]
    assert f"  objects          {TOWN_OBJECTS}" in lines and "  lost keys        0" in lines
    assert "    4  plSceneObject" in lines
    cut = tmp_path / "cut.prp"
    cut.write_bytes(lost_two_keys())
    status, out, _ = run("info", TOWN, cut, "--json")
    town, shown_cut = json.loads(out)["pages"]
    assert (
        town["header"]["sequence_number"] == 94 << 16 | 1 and town["object_count"] == TOWN_OBJECTS
    )
    assert town["classes"] == [
        {"class_name": name, "count": count}
        for name, count in sorted(lumivex.PrpFile.load(TOWN).count_by_type().items())
    ]
    assert (shown_cut["object_count"], shown_cut["lost_keys"]) == (1, 2)


def test_info_takes_several_pages_and_reports_each_failure(run, tmp_path):
    cavern = SAMPLES / "Demo_District_Cavern.prp"
    missing = tmp_path / "missing.prp"
    status, out, err = run("info", TOWN, missing, cavern)
    assert status == 1
    assert err == f'lumivex: Failed to read "{missing}": No such file or directory\n'
    assert out.startswith(TOWN + "\n") and f"\n\n{cavern}\n  age " in out
    status, out, _ = run("info", missing, cavern, "--json")
    shown = json.loads(out)
    assert [p["page"] for p in shown["pages"]] == [str(cavern)]
    assert shown["errors"] == [
        {"page": str(missing), "error": f'Failed to read "{missing}": No such file or directory'}
    ]


@pytest.mark.parametrize("chosen", ["plMipmap", "PLMIPMAP", "plmipmap", "4", "0x4", "0X0004"])
def test_ls_takes_a_class_by_name_in_any_case_or_by_id(run, chosen):
    status, out, _ = run("ls", TOWN, "--class", chosen)
    assert status == 0
    assert [line.split()[1] for line in out.splitlines()[1:]] == [
        "Tiles_DXT1",
        "Tiles_DXT5",
        "Tiles_ARGB32",
    ]


def test_ls(run):
    status, out, _ = run("ls", TOWN)
    assert status == 0 and len(out.splitlines()) == TOWN_OBJECTS + 1
    _, out, _ = run("ls", TOWN, "--json")
    shown = json.loads(out)
    assert shown["page"] == TOWN
    assert [(o["name"], o["class_type"], o["data_len"]) for o in shown["objects"]] == [
        (o.name, o.class_type, o.data_len) for o in lumivex.PrpFile.load(TOWN)
    ]
    # A class that exists but that the page lacks lists nothing.
    assert run("ls", TOWN, "--class", "plDrawableSpans") == (0, "", "")
    assert json.loads(run("ls", TOWN, "--class", "76", "--json")[1])["objects"] == []


def test_class_names_are_every_named_id():
    assert class_type("plSceneObject") == class_type("0x0001") == 1
    assert class_type("HSGMATERIAL") == 7
    for text in ["Unknown", "plNothing", "0x10000", "65536", "-1", "0x", " 4"]:
        with pytest.raises(ValueError):
            class_type(text)


@pytest.mark.parametrize(
    "obj",
    [o for o in lumivex.PrpFile.load(TOWN) if o.class_type in METHODS],
    ids=lambda o: o.name,
)
def test_show_every_decodable_sample(run, obj):
    status, text, _ = run("show", TOWN, obj.name)
    assert status == 0
    assert text.splitlines()[0] == f"{obj.class_name} {obj.name!r} (object id {obj.object_id})"
    view = getattr(obj, METHODS[obj.class_type])()
    _, out, _ = run("show", TOWN, obj.name, "--json")
    shown = json.loads(out)
    assert shown["page"] == TOWN
    (one,) = shown["objects"]
    assert (one["class_type"], one["name"]) == (obj.class_type, obj.name)
    assert [line.split()[0] for line in text.splitlines()[1:]] == list(one["properties"])
    for name, value in one["properties"].items():
        if isinstance(value, (str, int)) and name != "pixel_data":
            assert getattr(view, name) == value


def test_show_every_object_of_the_name(run, write_page):
    path = write_page(
        [Obj(SCENE_OBJECT, "Twin", BODIES["as_scene_object"][1]), Obj(LAYER, "Twin", layer_body())]
    )
    _, out, _ = run("show", path, "Twin")
    assert [line for line in out.splitlines() if "(object id" in line] == [
        "plSceneObject 'Twin' (object id 0)",
        "plLayer 'Twin' (object id 0)",
    ]
    _, out, _ = run("show", path, "Twin", "--class", "PLLAYER")
    assert out.startswith("plLayer 'Twin'") and "plSceneObject" not in out


def test_json_floats_are_the_shortest_text_of_their_single_precision_value(run):
    _, out, _ = run("show", TOWN, "FountainSplash", "--json")
    assert '"volume": 0.8,' in out
    assert json.loads(out)["objects"][0]["properties"]["volume"] == 0.8
    _, out, _ = run("show", TOWN, "LampGlass", "--json")
    layer = json.loads(out)["objects"][0]["properties"]
    view = lumivex.PrpFile.load(TOWN).objects_by_name("plLayer")[1].as_layer()
    assert layer["opacity"] == float(float_text(view.opacity))
    for value in [0.1, 1 / 3, 3.4e38, 1e-45, -2.5]:
        single = struct.unpack("<f", struct.pack("<f", value))[0]
        text = float_text(single)
        assert struct.unpack("<f", struct.pack("<f", float(text)))[0] == single
        assert len(text) <= len(repr(single))
    # Just above a power of two the shorter text lies on the side where
    # single-precision values are twice as far apart: nearest rounding to
    # eight digits misses it.
    assert float_text(2.0**-96) == "1.2621775e-29"
    assert [float_text(v) for v in (3.0, -0.0, 1e-5, math.inf, 0.1)] == [
        "3.0",
        "-0.0",
        "1e-05",
        "inf",
        "0.1",
    ]


@pytest.mark.parametrize(
    "argv",
    [
        ["info", TOWN],
        ["ls", TOWN],
        ["show", TOWN, "Fountain"],
        ["scan", SAMPLES],
        ["age", SAMPLES / "Demo.age"],
        ["sdl", SAMPLES / "sdl"],
        ["sdl", SAMPLES / "sdl", "Demo"],
    ],
    ids=lambda argv: " ".join(str(a) for a in argv[:1] + argv[2:]),
)
def test_json_is_one_object(run, argv):
    status, out, _ = run(*argv, "--json")
    assert status == 0 and isinstance(json.loads(out), dict)


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_scan_samples(run, jobs):
    status, out, err = run("scan", SAMPLES, "--jobs", jobs)
    assert (status, err) == (0, "")
    assert out.splitlines()[-1] == SAMPLE_TOTAL


def test_scan_names_every_failed_object_and_fails(run, write_page, tmp_path):
    mipmap, layer = BODIES["as_mipmap"][1], BODIES["as_layer"][1]
    write_page([Obj(MIPMAP, "M1", mipmap[:9]), Obj(MIPMAP, "M2", mipmap[:5]), Obj(5, "X", b"")])
    write_page([Obj(LAYER, "L", layer[:20]), Obj(LAYER, "Far", layer, data_len=1 << 20)], "b.prp")
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "broken.PRP").write_bytes(b"\x05\0\0\0")
    (tmp_path / "sub" / "cut.prp").write_bytes(lost_two_keys())
    (tmp_path / "notes.txt").write_text("not a page")
    status, out, err = run("scan", tmp_path, "--jobs", "1")
    assert (status, err) == (1, "")
    broken = f"{tmp_path}/sub/broken.PRP"
    width = len(broken)
    assert out.splitlines() == [
        f"{tmp_path}/b.prp".ljust(width) + "  2 objects, 0 decoded, 2 failed",
        "    plLayer 'L': failed to fill whole buffer",
        "    plLayer 'Far': Object data not found",
        f"{tmp_path}/page.prp".ljust(width) + "  3 objects, 0 decoded, 2 failed",
        "    plMipmap 'M1': failed to fill whole buffer",
        "    plMipmap 'M2': failed to fill whole buffer",
        f'{broken}  error: Failed to parse header of "{broken}": '
        "Unsupported .prp version: 5 (expected 6)",
        f"{tmp_path}/sub/cut.prp".ljust(width) + "  1 object, 1 decoded, 0 failed, 2 keys lost",
        "total: 4 pages (1 unreadable, 1 recovered), 6 objects, 1 decoded, 4 failed",
        "         3  failed to fill whole buffer",
        "         1  Object data not found",
    ]
    _, out, _ = run("scan", tmp_path, "--json", "--jobs", "1")
    shown = json.loads(out)
    assert shown["total"] == {
        "page_count": 4,
        "unreadable": 1,
        "recovered": 1,
        "object_count": 6,
        "decoded": 1,
        "failed": 4,
        "lost_keys": 2,
        "skipped": 0,
        "unreadable_folders": 0,
        "failure_messages": [
            {"message": "failed to fill whole buffer", "count": 3},
            {"message": "Object data not found", "count": 1},
        ],
    }
    assert shown["pages"][0]["failures"] == [
        {"class_name": "plLayer", "name": "L", "message": "failed to fill whole buffer"},
        {"class_name": "plLayer", "name": "Far", "message": "Object data not found"},
    ]
    assert shown["pages"][2]["error"].startswith("Failed to parse header of")
    assert (shown["skipped"], shown["unreadable_folders"]) == ([], [])


def test_scan_takes_a_folders_pages_before_its_subfolders_each_in_name_order(
    run, write_page, tmp_path
):
    for name in ["z.prp", "b/y.prp", "a/x.prp", "a/c/w.prp", "a/B/v.prp", "a/B/u.prp"]:
        write_page([], name)
    status, out, _ = run("scan", tmp_path, "--jobs", "1")
    assert status == 0
    assert [line.split()[0] for line in out.splitlines()[:-1]] == [
        f"{tmp_path}/{name}"
        for name in ["z.prp", "a/x.prp", "a/B/u.prp", "a/B/v.prp", "a/c/w.prp", "b/y.prp"]
    ]


def test_scan_exits_1_for_a_page_that_lost_keys_alone(run, tmp_path):
    (tmp_path / "cut.prp").write_bytes(lost_two_keys())
    status, out, _ = run("scan", tmp_path)
    assert status == 1 and out.endswith(
        "total: 1 page (1 recovered), 1 object, 1 decoded, 0 failed\n"
    )


def many_pages(folder: Path, count: int, filler: int = 0) -> None:
    """Pages of a scene object and a layer each, some with failures, and an
    opaque object of `filler` bytes to weigh them."""
    for number in range(count):
        layer = layer_body() if number % 7 else layer_body()[:30]
        objects = [
            Obj(SCENE_OBJECT, f"S{number}", BODIES["as_scene_object"][1]),
            Obj(LAYER, f"L{number}", layer),
            Obj(0x4C, "Spans", bytes(filler)),
        ]
        path = folder / f"d{number // 50}" / f"p{number:04d}.prp"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(page(objects))


def test_scan_in_worker_processes_prints_what_one_process_prints(run, tmp_path, monkeypatch):
    many_pages(tmp_path, 400)
    os.mkfifo(tmp_path / "d3" / "pipe.prp")
    expected = run("scan", tmp_path, "--jobs", "1")
    expected_json = run("scan", tmp_path, "--jobs", "1", "--json")
    # Small ranges and no threshold: the workers and the parent share many
    # ranges, which come back out of order.
    monkeypatch.setattr(plan, "PARALLEL_FROM", 0)
    monkeypatch.setattr(plan, "RANGE_PAGES", 7)
    started = []
    real = scan.Workers.__init__

    def spy(self, count, pages, page_text):
        started.append(count)
        real(self, count, pages, page_text)

    monkeypatch.setattr(scan.Workers, "__init__", spy)
    assert run("scan", tmp_path, "--jobs", "3") == expected
    assert run("scan", tmp_path, "--jobs", "2", "--json") == expected_json
    assert started == [2, 1]
    failed = len(range(0, 400, 7))
    assert expected[0] == 1 and f", {failed} failed; 1 skipped" in expected[1]
    assert (
        f"{tmp_path}/d3/pipe.prp" in expected[1] and f'"{tmp_path}/d3/pipe.prp"' in expected_json[1]
    )


def test_scan_goes_on_in_one_process_when_no_process_can_start(run, tmp_path, monkeypatch):
    many_pages(tmp_path, 40)
    expected = run("scan", tmp_path, "--jobs", "1")
    monkeypatch.setattr(plan, "PARALLEL_FROM", 0)

    def fork():
        raise BlockingIOError(11, "Resource temporarily unavailable")

    monkeypatch.setattr(os, "fork", fork)
    assert run("scan", tmp_path, "--jobs", "4") == expected


def test_scan_starts_no_worker_for_little_work(run, monkeypatch):
    monkeypatch.setattr(scan, "Workers", None)
    assert run("scan", SAMPLES, "--jobs", "8")[0] == 0


def test_ranges_are_sized_by_bytes_and_by_count(tmp_path, monkeypatch):
    sizes = [10, 10, 8_000_000, 10, 20_000_000, *[10] * 1200]
    found_pages = found.Found()
    for number, size in enumerate(sizes):
        path = tmp_path / f"p{number:04d}.prp"
        with path.open("wb") as file:
            file.truncate(size)
        found_pages.pages.append(str(path))
    found_pages.pages.close()
    monkeypatch.setattr(plan, "RANGE_PAGES", 40)
    large = 1_000_000
    # Nothing left by the estimate: ranges of the smallest cost.
    chosen = list(plan.ranges(found_pages.pages, plan.Estimate(large, 0), 2))
    assert [p for r in chosen for p in r] == list(range(len(sizes)))
    # The large files end their ranges; a range of small files ends at its
    # count.
    assert [(r.start, r.stop) for r in chosen[:3]] == [(0, 3), (3, 5), (5, 45)]
    assert all(len(r) <= 40 for r in chosen)
    # Small pages on the whole go by their count alone.
    assert plan.estimate(found_pages.pages).mean_size < 1000
    small = list(plan.ranges(found_pages.pages, plan.estimate(found_pages.pages), 2))
    assert [(r.start, r.stop) for r in small[:2]] == [(0, 40), (40, 80)]
    # Ranges shrink as the work left does.
    monkeypatch.setattr(plan, "RANGE_PAGES", 10_000)
    work = plan.Estimate(large, 1205 * plan.PAGE_COST + 28e6 * plan.BYTE_COST)
    counts = [len(r) for r in plan.ranges(found_pages.pages, work, 1)][2:]
    assert counts == sorted(counts, reverse=True) and counts[0] > counts[-1]


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_scan_progress_only_on_a_terminal(run, monkeypatch, tmp_path):
    assert run("scan", SAMPLES, "--jobs", "1")[2] == ""
    many_pages(tmp_path, 30)
    monkeypatch.setattr(scan, "STEP_PAGES", 1)
    # A clock that moves 30 ms at each look: the bar may be redrawn every
    # fourth page at most.
    ticks = iter(range(10**6))
    monkeypatch.setattr(progress, "clock", lambda: next(ticks) * 0.03)
    err, out = Terminal(), io.StringIO()
    monkeypatch.setattr(sys, "stderr", err)
    monkeypatch.setattr(sys, "stdout", out)
    assert main(["scan", str(tmp_path), "--jobs", "1"]) == 1
    draws = [line for line in err.getvalue().split("\r") if "/30 " in line]
    assert 1 < len(draws) <= 1 + 30 // 4
    # Count, total, time spent and left, rate.
    assert any(
        "/30 [00:00<00:00, " in draw and draw.rstrip().endswith("pages/s]") for draw in draws
    )
    assert "\ntotal: 30 pages, 90 objects, 55 decoded, 5 failed\n" in out.getvalue()


def test_scan_lines_wait_for_the_redraw_when_the_bar_shares_the_terminal(run, monkeypatch):
    monkeypatch.setattr(scan, "STEP_PAGES", 1)
    ticks = iter(range(10**6))
    monkeypatch.setattr(progress, "clock", lambda: next(ticks) * 0.06)
    terminal = Terminal()
    monkeypatch.setattr(sys, "stderr", terminal)
    monkeypatch.setattr(sys, "stdout", terminal)
    assert main(["scan", str(SAMPLES), "--jobs", "1"]) == 0
    shown = terminal.getvalue()
    # Every page line starts a line: the bar was cleared before it.
    for line in shown.split("\n")[:3]:
        assert line.split("\r")[-1].startswith(str(SAMPLES))


def test_age(run):
    status, out, _ = run("age", SAMPLES / "Demo.age")
    assert status == 0
    assert out.splitlines()[-1] == "Cavern   10      1  no         Demo_District_Cavern.prp"
    _, out, _ = run("age", SAMPLES / "Demo.age", "--json")
    shown = json.loads(out)
    assert (shown["age_name"], shown["day_length"]) == ("Demo", 30.5)
    assert [p["prp_filename"] for p in shown["pages"]] == [
        "Demo_District_Town.prp",
        "Demo_District_Garden.prp",
        "Demo_District_Cavern.prp",
    ]
    assert all((SAMPLES / p["prp_filename"]).is_file() for p in shown["pages"])


def test_age_takes_a_folder_holding_one(run, tmp_path):
    """As edit, check and diff do: the one .age file of the folder."""
    status, out, _ = run("age", SAMPLES, "--json")
    assert status == 0 and json.loads(out)["age"] == str(SAMPLES / "Demo.age")
    for names in [[], ["A.age", "B.AGE"]]:
        for name in names:
            (tmp_path / name).write_text("[Pages]\n")
        status, _, err = run("age", tmp_path)
        assert status == 1
        assert err == f"lumivex: {tmp_path} holds {len(names) or 'no'} .age files, not one\n"
    os.mkfifo(tmp_path / "C.age")
    (tmp_path / "A.age").unlink()
    (tmp_path / "B.AGE").unlink()
    status, _, err = run("age", tmp_path)
    assert status == 1 and "not a regular file" in err


def test_sdl(run):
    directory, demo = SAMPLES / "sdl", SAMPLES / "sdl" / "Demo.sdl"
    assert run("sdl", demo)[1].splitlines()[1:] == [
        "Demo        1          2",
        "Demo        2          6",
    ]
    _, out, _ = run("sdl", directory, "Demo", "1")
    assert out.splitlines()[0] == "Demo version 1, 2 variables"
    _, out, _ = run("sdl", directory, "--json")
    shown = json.loads(out)
    assert [(d["name"], d["version"], len(d["variables"])) for d in shown["descriptors"]] == [
        ("Demo", 1, 2),
        ("Demo", 2, 6),
        ("DemoFountain", 3, 5),
    ]
    assert shown["passed_over"] == []
    _, out, _ = run("sdl", directory, "Demo", "--json")
    (found,) = json.loads(out)["descriptors"]
    assert found["variables"][3] == {
        "name": "lastVisitor",
        "var_type": "String32",
        "count": 1,
        "default_value": "nobody",
    }


def test_sdl_folder_reports_each_file_it_passes_over(run, tmp_path):
    (tmp_path / "Good.sdl").write_bytes((SAMPLES / "sdl" / "Demo.sdl").read_bytes())
    (tmp_path / "Binary.sdl").write_bytes(b"\xff\xfe\0\x01")
    (tmp_path / "Folder.sdl").mkdir()
    (tmp_path / "Loop.sdl").symlink_to("Loop.sdl")
    (tmp_path / "notes.txt").write_bytes(b"\xff")
    status, out, err = run("sdl", tmp_path)
    assert status == 0 and out.startswith("NAME ")
    loop = "Too many levels of symbolic links"
    assert err.splitlines() == [
        f"lumivex: warning: passed over {tmp_path}/Binary.sdl: not UTF-8 text",
        f"lumivex: warning: passed over {tmp_path}/Folder.sdl: not a regular file",
        f"lumivex: warning: passed over {tmp_path}/Loop.sdl: {loop}",
    ]
    _, out, _ = run("sdl", tmp_path, "--json")
    assert json.loads(out)["passed_over"] == [
        {"file": f"{tmp_path}/Binary.sdl", "reason": "not UTF-8 text"},
        {"file": f"{tmp_path}/Folder.sdl", "reason": "not a regular file"},
        {"file": f"{tmp_path}/Loop.sdl", "reason": loop},
    ]


@needs_pillow
@pytest.mark.parametrize("kind", [DXT1, DXT5, ARGB32])
@pytest.mark.parametrize("size", [(32, 16), (6, 5), (1, 1)])
def test_texture_writes_the_top_level(run, write_page, tmp_path, kind, size):
    from PIL import Image

    width, height = size
    path = write_page([Obj(MIPMAP, "T", texture_body("T", kind, width, height, levels=3))])
    out = tmp_path / "t.png"
    assert run("texture", path, "T", "-o", out) == (
        0,
        f"{out}: {width}x{height} from {kind if kind != ARGB32 else '32-bit ARGB'}\n",
        "",
    )
    image = Image.open(out)
    assert (image.format, image.mode, image.size) == ("PNG", "RGBA", size)
    # A block takes the colour of its top left pixel; DXT1 keeps no alpha.
    block = 1 if kind == ARGB32 else 4
    for x, y in [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]:
        r, g, b, a = quadrants()(x - x % block, y - y % block, width, height)
        assert image.getpixel((x, y)) == (r, g, b, 255 if kind == DXT1 else a)


@needs_pillow
@pytest.mark.parametrize("suffix", [".tga", ".TIF", ".tiff", ".webp"])
def test_texture_writes_the_format_of_the_suffix(run, tmp_path, suffix):
    from PIL import Image, features

    if suffix == ".webp" and not features.check("webp"):
        pytest.skip("this Pillow has no WebP")
    out = tmp_path / f"t{suffix}"
    assert run("texture", TOWN, "Tiles_DXT5", "-o", out)[:2] == (0, f"{out}: 32x16 from DXT5\n")
    image = Image.open(out)
    expected = Image.open(io.BytesIO(texture_png(run, tmp_path)))
    assert image.format == {".TIF": "TIFF"}.get(suffix, suffix[1:].upper())
    assert image.convert("RGBA").tobytes() == expected.tobytes()


def texture_png(run, tmp_path) -> bytes:
    out = tmp_path / "reference.png"
    run("texture", TOWN, "Tiles_DXT5", "-o", out)
    return out.read_bytes()


@needs_pillow
@pytest.mark.parametrize(("kind", "four_cc"), [(DXT1, b"DXT1"), (DXT5, b"DXT5"), (ARGB32, None)])
@pytest.mark.parametrize(("size", "levels"), [((32, 16), 6), ((6, 5), 3), ((8, 8), 1)])
def test_texture_as_dds_keeps_the_stored_levels(
    run, write_page, tmp_path, kind, four_cc, size, levels
):
    from PIL import Image

    width, height = size
    body = texture_body("T", kind, width, height, levels=levels)
    path = write_page([Obj(MIPMAP, "T", body + b"trailing bytes")])
    out = tmp_path / "t.dds"
    name = {DXT1: "DXT1", DXT5: "DXT5", ARGB32: "32-bit ARGB"}[kind]
    assert run("texture", path, "T", "-o", out) == (
        0,
        f"{out}: {width}x{height}, {levels} level{'s' * (levels != 1)} of {name}, as stored\n",
        "",
    )
    data = out.read_bytes()
    assert data[:4] == b"DDS "
    size_field, flags, h, w, pitch, depth, count = struct.unpack_from("<7I", data, 4)
    assert (size_field, h, w, depth, count) == (124, height, width, 0, levels)
    assert bool(flags & 0x20000) == (levels > 1)
    format_size, format_flags, stored_four_cc, bits = struct.unpack_from("<II4sI", data, 76)
    assert format_size == 32
    pixels = texture_pixels(kind, width, height, levels, quadrants())
    if four_cc is None:
        assert (format_flags, bits, pitch) == (0x41, 32, width * 4)
    else:
        assert (format_flags, stored_four_cc) == (0x4, four_cc)
        assert pitch == (width + 3) // 4 * ((height + 3) // 4) * (8 if kind == DXT1 else 16)
    assert data[128:] == pixels
    caps = struct.unpack_from("<I", data, 108)[0]
    assert caps == (0x1000 if levels == 1 else 0x401008)
    png = tmp_path / "t.png"
    run("texture", path, "T", "-o", png)
    assert Image.open(out).convert("RGBA").tobytes() == Image.open(png).tobytes()


@pytest.mark.parametrize(
    ("body", "message"),
    [
        (
            mipmap_body("T", compression=2, info=b"\0"),
            "uses compression type 2; only block-compressed (1) and uncompressed (0) textures can be converted",
        ),
        (
            mipmap_body("T", compression=1, info=b"\x10\x03"),
            "uses block format 3; only DXT1 (1) and DXT5 (5) can be converted",
        ),
        (
            mipmap_body("T", compression=0, info=b"\x03"),
            "holds uncompressed format 3; only 32-bit pixels (format 0) can be converted",
        ),
        (
            mipmap_body("T", compression=0, info=b"\0", pixels=bytes(31)),
            "is cut short: its top level of 4x2 needs 32 bytes, it holds 31",
        ),
        (
            mipmap_body("T", compression=1, info=b"\x10\x05", width=5, pixels=bytes(16)),
            "is cut short: its top level of 5x2 needs 32 bytes, it holds 16",
        ),
        (
            mipmap_body("T", compression=1, info=b"\x10\x05", width=1 << 31, height=1 << 31),
            "is cut short: its top level of 2147483648x2147483648 needs 4611686018427387904 bytes, it holds 12",
        ),
        (mipmap_body("T", compression=0, info=b"\0", width=0), "has no pixels (0x2)"),
    ],
)
@pytest.mark.parametrize("suffix", [".png", ".dds"])
def test_texture_refuses_what_it_cannot_convert(run, write_page, tmp_path, body, message, suffix):
    out = tmp_path / f"t{suffix}"
    if suffix == ".dds" and "cut short" in message:
        # DDS takes every level: three here, as the body announces.
        message = message.replace("its top level of", "its 3 levels from")
        message = message.replace("needs", "need").split(" need ")[0]
    status, stdout, err = run("texture", write_page([Obj(MIPMAP, "T", body)]), "T", "-o", out)
    assert (status, stdout) == (1, "")
    assert err.startswith(f"lumivex: texture 'T' {message}")
    assert not out.exists()


def test_texture_without_pillow_still_writes_dds(run, monkeypatch, tmp_path):
    monkeypatch.setitem(sys.modules, "PIL", None)
    status, _, err = run("texture", TOWN, "Tiles_DXT1", "-o", tmp_path / "t.png")
    assert (status, err) == (
        1,
        'lumivex: the texture command needs Pillow for .png files: pip install Pillow (or pip install ".[images]" in the lumivex source tree); .dds files need nothing more\n',
    )
    assert run("texture", TOWN, "Tiles_DXT1", "-o", tmp_path / "t.dds")[0] == 0


@needs_pillow
def test_texture_saves_as_a_page_is_saved(run, tmp_path):
    out = tmp_path / "t.png"
    out.write_bytes(b"old")
    out.chmod(0o640)
    assert run("texture", TOWN, "Tiles_DXT1", "-o", out)[0] == 0
    assert out.read_bytes()[:4] == b"\x89PNG" and out.stat().st_mode & 0o777 == 0o640
    assert [p.name for p in tmp_path.iterdir()] == ["t.png"]
    # A device is written to where the link leads, never replaced.
    link = tmp_path / "null.png"
    link.symlink_to("/dev/null")
    assert run("texture", TOWN, "Tiles_DXT1", "-o", link)[0] == 0
    assert link.is_symlink() and sorted(p.name for p in tmp_path.iterdir()) == ["null.png", "t.png"]
    folder = tmp_path / "folder.png"
    folder.mkdir()
    assert run("texture", TOWN, "Tiles_DXT1", "-o", folder) == (
        1,
        "",
        f"lumivex: cannot write {folder}: Is a directory\n",
    )


def test_roundtrip(run, write_page, tmp_path):
    out = tmp_path / "out.prp"
    size = Path(TOWN).stat().st_size
    assert run("roundtrip", TOWN, out)[1] == f"{out}: byte-identical to {TOWN} ({size} bytes)\n"
    assert out.read_bytes() == Path(TOWN).read_bytes()
    # Strings stored without inversion come back inverted: the age name's
    # length header differs in its second byte.
    original = write_page(
        [Obj(1, "A", b"\x01\0")], header_overrides={"strings": {"inverted": False}}
    )
    size = Path(original).stat().st_size
    assert run("roundtrip", original, out) == (
        1,
        f"{out}: differs from {original}: input {size} bytes, output {size} bytes, first difference at byte 11\n",
        "",
    )


@pytest.fixture
def paths(tmp_path, write_page):
    (tmp_path / "empty").mkdir()
    (tmp_path / "garbage.prp").write_bytes(b"garbage")
    (tmp_path / "v5.prp").write_bytes(b"\x05\0\0\0")
    (tmp_path / "short.prp").write_bytes(b"\x06\0\0\0")
    (tmp_path / "far.prp").write_bytes(page([], header_overrides={"index_start": 500}))
    (tmp_path / "binary.age").write_bytes(b"\x00\xff\xfe")
    (tmp_path / "notes.age").write_text("Welcome to the age!\n# Page=Commented\nday=1\n")
    (tmp_path / "empty.sdl").write_text("# nothing here\n")
    (tmp_path / "binary.sdl").write_bytes(b"\x00\xff\xfe")
    (tmp_path / "nodesc").mkdir()
    (tmp_path / "nodesc" / "empty.sdl").write_text("\n")
    mipmap = mipmap_body("M", version=1)
    broken = write_page(
        [Obj(LAYER, "L", layer_body()[:30]), Obj(MIPMAP, "M", mipmap)], "broken.prp"
    )
    return {"tmp": tmp_path, "town": TOWN, "samples": SAMPLES, "broken": broken}


@pytest.mark.parametrize(
    ("command", "status", "line"),
    [
        ("nope", 2, "argument COMMAND: invalid choice: 'nope'"),
        ("info", 2, "the following arguments are required: PAGE.prp"),
        (
            "info {tmp}/missing.prp",
            1,
            'Failed to read "{tmp}/missing.prp": No such file or directory',
        ),
        ("info {tmp}", 1, "{tmp} is a folder, not a page file"),
        (
            "info {tmp}/garbage.prp",
            1,
            'Failed to parse header of "{tmp}/garbage.prp": Unsupported .prp version: 1651663207',
        ),
        (
            "info {tmp}/short.prp",
            1,
            'Failed to parse header of "{tmp}/short.prp": too short for a page header: 4 bytes',
        ),
        (
            "show {tmp}/far.prp X",
            1,
            "failed to fill whole buffer: the key index starts at byte 500, past the end of the "
            "page's ",
        ),
        (
            "ls {tmp}/v5.prp",
            1,
            'Failed to parse header of "{tmp}/v5.prp": Unsupported .prp version: 5 (expected 6)',
        ),
        ("ls {town} --class", 2, "argument --class: expected one argument"),
        ("ls {town} --class plNothing", 2, "argument --class: unknown class 'plNothing'"),
        (
            "ls {town} --class layer",
            2,
            "argument --class: unknown class 'layer'; closest: plLayer,",
        ),
        ("ls {town} --class 0x10000", 2, "argument --class: not a class id from 0 to 65535"),
        ("show {town} Nobody", 1, "no object named 'Nobody' in {town}"),
        ("show {town} lampglas", 1, "no object named 'lampglas' in {town}; closest: 'LampGlass'"),
        ("show {samples}/Demo.age X", 1, "{samples}/Demo.age is an age description, not a page"),
        ("ls {samples}/sdl/Demo.sdl", 1, "{samples}/sdl/Demo.sdl is a state description, not a"),
        (
            "show {town} Fountain --class pllayer",
            1,
            "no object named 'Fountain' of class plLayer in {town}",
        ),
        (
            "show {town} FountainCoord",
            1,
            "'FountainCoord' is a plCoordinateInterface, which lumivex does not decode",
        ),
        ("show {broken} L", 1, "cannot decode plLayer 'L': failed to fill whole buffer"),
        ("scan", 2, "the following arguments are required: PATH"),
        ("scan {town} --jobs 0", 2, "argument --jobs: not a positive whole number: '0'"),
        ("scan {tmp}/empty", 1, "no .prp files under {tmp}/empty"),
        ("age {tmp}/missing.age", 1, "Failed to read {tmp}/missing.age: No such file or directory"),
        (
            "age {tmp}/binary.age",
            1,
            "{tmp}/binary.age is not an age description: it is not UTF-8 text",
        ),
        (
            "age {tmp}/notes.age",
            1,
            "{tmp}/notes.age is not an age description: no line sets one of its keys",
        ),
        (
            "check {tmp}/notes.age",
            1,
            "{tmp}/notes.age is not an age description: no line sets one of its keys",
        ),
        (
            "check {tmp}/binary.age",
            1,
            "{tmp}/binary.age is not an age description: it is not UTF-8 text",
        ),
        ("check {town}", 1, "{town} is a page file, not an age description"),
        ("age {town}", 1, "{town} is a page file, not an age description"),
        ("sdl {town}", 1, "{town} is a page file, not a state description file"),
        ("sdl {tmp}/missing.sdl", 1, "Failed to read {tmp}/missing.sdl: No such file or directory"),
        ("sdl {tmp}/empty.sdl", 1, "{tmp}/empty.sdl holds no state descriptor"),
        (
            "sdl {tmp}/binary.sdl",
            1,
            "{tmp}/binary.sdl is not a state description file: it is not UTF-8 text",
        ),
        ("sdl {tmp}/nodesc", 1, "no state descriptor in the .sdl files of {tmp}/nodesc"),
        ("sdl {tmp}/empty", 1, "no state descriptor in the .sdl files of {tmp}/empty"),
        ("sdl {samples}/sdl Nobody", 1, "no descriptor 'Nobody' in {samples}/sdl"),
        ("sdl {samples}/sdl Demo 9", 1, "no descriptor 'Demo' of version 9 in {samples}/sdl"),
        (
            "sdl {samples}/sdl Demo 4294967296",
            2,
            "argument VERSION: not a version from 0 to 4294967295: '4294967296'",
        ),
        ("texture {town} Tiles_DXT1", 2, "the following arguments are required: -o/--output"),
        (
            "texture {town} Tiles_DXT1 -o {tmp}/t.jpg",
            2,
            "argument -o/--output: cannot write .jpg; the suffix chooses the format: "
            ".dds, .png, .tga, .tif, .tiff, .webp",
        ),
        (
            "texture {town} Fountain -o {tmp}/t.png",
            1,
            "no texture (plMipmap) named 'Fountain' in {town}",
        ),
        (
            "texture {broken} M -o {tmp}/t.png",
            1,
            "cannot decode texture 'M': Unsupported bitmap version: 1",
        ),
        pytest.param(
            "texture {town} Tiles_DXT1 -o {tmp}/no/t.png",
            1,
            "cannot write {tmp}/no/t.png: No such file or directory",
            marks=needs_pillow,
        ),
        (
            "roundtrip {tmp}/garbage.prp {tmp}/out.prp",
            1,
            'Failed to parse header of "{tmp}/garbage.prp"',
        ),
        (
            "roundtrip {town} {tmp}/no/out.prp",
            1,
            'Failed to write "{tmp}/no/out.prp": No such file or directory',
        ),
    ],
)
def test_failures_are_one_line(run, paths, command, status, line):
    got_status, out, err = run(*command.format(**paths).split())
    assert (got_status, out) == (status, "")
    assert err.startswith("lumivex: " + line.format(**paths))
    assert err.count("\n") == 1 and err.endswith("\n")


# Names a hostile file may hold: a terminal's escape sequences and controls,
# a line break, a bidirectional override.
HOSTILE = "A\x1b[2J\x1b]0;t\x07\r\nB\u202e"


@pytest.mark.parametrize(
    "argv",
    [
        ["info", "{page}"],
        ["ls", "{page}"],
        ["scan", "{folder}"],
        ["age", "{age}"],
        ["check", "{age}"],
        ["sdl", "{sdl}"],
        ["sdl", "{sdl}", HOSTILE],
        ["lint", "{sdl}"],
        ["info", "{folder}/missing{hostile}.prp"],
    ],
    ids=lambda argv: " ".join(argv[:2]),
)
def test_text_output_escapes_what_names_hold(run, tmp_path, argv):
    folder = tmp_path / f"d{HOSTILE}"
    folder.mkdir()
    age_name = f"E{HOSTILE}"
    page_path = folder / f"{age_name}_District_P{HOSTILE}.prp"
    body = BODIES["as_scene_object"][1]
    page_path.write_bytes(
        page([Obj(SCENE_OBJECT, HOSTILE, body)], age=age_name, page_name=f"P{HOSTILE}")
    )
    (folder / f"{age_name}.age").write_text(f"[Pages]\nPage=P{HOSTILE},1\nPage=Q{HOSTILE},2\n")
    (folder / "s.sdl").write_text(
        f"STATEDESC {HOSTILE[:2]}\n{{\n VERSION 1\n VAR INT x[1] junk\n}}\n"
    )
    paths = {
        "page": page_path,
        "folder": folder,
        "age": folder / f"{age_name}.age",
        "sdl": folder / "s.sdl",
        "hostile": HOSTILE,
    }
    status, out, err = run(*(a.format(**paths) for a in argv))
    assert status in (0, 1)
    assert out or err
    for text in (out, err):
        assert not any(c in text for c in "\x1b\x07\r\u202e")
    # A line of output per row: no name breaks one.
    if argv[0] in ("ls", "scan"):
        assert sum("\\n" in line for line in out.splitlines()) == 1
