"""The lumivex command on the samples and on broken input: exit status, output
and the one line of each error."""

import io
import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import lumivex
import pytest
from builder import Obj, page
from lumivex.cli import main
from lumivex.cli.common import DECODERS
from object_bodies import DECODERS as BODIES
from object_bodies import LAYER, MIPMAP, SCENE_OBJECT, layer_body, mipmap_body
from texture_bodies import ARGB32, DXT1, DXT5, quadrants, texture_body

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
TOWN = str(SAMPLES / "Demo_District_Town.prp")
METHODS = {
    0x0001: "as_scene_object",
    0x0004: "as_mipmap",
    0x0007: "as_material",
    0x0006: "as_layer",
    0x00A2: "as_python_file_mod",
    0x007C: "as_responder",
    0x003F: "as_physical",
    0x0049: "as_sound",
}


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
    def write_page(objects, name="page.prp", **options):
        path = tmp_path / name
        path.write_bytes(page(objects, **options))
        return str(path)

    return write_page


def test_decoders_follow_the_class_names():
    assert {lumivex.class_name(t): m for t, m in METHODS.items()} == {
        name: decode.__name__ for name, decode in DECODERS.items()
    }


def test_info(run):
    status, out, err = run("info", TOWN)
    assert (status, err) == (0, "")
    lines = out.splitlines()
    assert lines[:3] == [TOWN, "  age              Demo", "  page             Town"]
    assert "  objects          18" in lines and "    4  plSceneObject" in lines
    status, out, _ = run("info", TOWN, "--json")
    shown = json.loads(out)
    assert shown["header"]["sequence_number"] == 94 << 16 | 1 and shown["objects"] == 18
    assert shown["classes"] == dict(sorted(lumivex.PrpFile.load(TOWN).count_by_type().items()))


def test_ls(run):
    status, out, _ = run("ls", TOWN)
    assert status == 0 and len(out.splitlines()) == 19
    _, out, _ = run("ls", TOWN, "--class", "plMipmap")
    assert [line.split()[1] for line in out.splitlines()[1:]] == [
        "Tiles_DXT1",
        "Tiles_DXT5",
        "Tiles_ARGB32",
    ]
    _, out, _ = run("ls", TOWN, "--json")
    assert [(o["name"], o["class_type"], o["data_len"]) for o in json.loads(out)] == [
        (o.name, o.class_type, o.data_len) for o in lumivex.PrpFile.load(TOWN)
    ]
    assert run("ls", TOWN, "--class", "plNothing") == (0, "", "")


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
    (shown,) = json.loads(out)
    assert [line.split()[0] for line in text.splitlines()[1:]] == list(shown["properties"])
    for name, value in shown["properties"].items():
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
    _, out, _ = run("show", path, "Twin", "--class", "plLayer")
    assert out.startswith("plLayer 'Twin'") and "plSceneObject" not in out


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_scan_samples(run, jobs):
    status, out, err = run("scan", SAMPLES, "--jobs", jobs)
    assert (status, err) == (0, "")
    assert out.splitlines()[-1] == "total: 3 pages, 26 objects, 23 decoded, 0 failed"


def test_scan_counts_failures_by_message_and_pages_that_fail(run, write_page, tmp_path):
    mipmap, layer = BODIES["as_mipmap"][1], BODIES["as_layer"][1]
    write_page([Obj(MIPMAP, "M1", mipmap[:9]), Obj(MIPMAP, "M2", mipmap[:5]), Obj(5, "X", b"")])
    write_page([Obj(LAYER, "L", layer[:20]), Obj(LAYER, "Far", layer, data_len=1 << 20)], "b.prp")
    (tmp_path / "sub").mkdir()
    (tmp_path / "sub" / "broken.PRP").write_bytes(b"\x06\0\0\0")
    (tmp_path / "notes.txt").write_text("not a page")
    status, out, err = run("scan", tmp_path, "--jobs", "2")
    assert (status, err) == (1, "")
    broken = f"{tmp_path}/sub/broken.PRP"
    assert out.splitlines() == [
        f"{tmp_path}/b.prp".ljust(len(broken)) + "  2 objects, 0 decoded, 2 failed",
        "         1  Object data not found",
        "         1  failed to fill whole buffer",
        f"{tmp_path}/page.prp".ljust(len(broken)) + "  3 objects, 0 decoded, 2 failed",
        "         2  failed to fill whole buffer",
        f'{broken}  error: Failed to parse header of "{broken}"',
        "total: 3 pages (1 unreadable), 5 objects, 0 decoded, 4 failed",
        "         3  failed to fill whole buffer",
        "         1  Object data not found",
    ]
    _, out, _ = run("scan", tmp_path, "--json", "--jobs", "1")
    shown = json.loads(out)
    assert shown["total"] == {
        "pages": 3,
        "unreadable": 1,
        "objects": 5,
        "decoded": 0,
        "failed": 4,
        "failures": {"failed to fill whole buffer": 3, "Object data not found": 1},
    }
    assert shown["pages"][2]["error"].startswith("Failed to parse header of")


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_scan_progress_only_on_a_terminal(run, monkeypatch):
    assert run("scan", SAMPLES, "--jobs", "1")[2] == ""
    terminal = Terminal()
    monkeypatch.setattr(sys, "stderr", terminal)
    assert main(["scan", str(SAMPLES), "--jobs", "1"]) == 0
    drawn = terminal.getvalue()
    assert "\r[##########....................] 1/3 pages" in drawn
    assert "] 3/3 pages" in drawn and drawn.endswith("\r")


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


def test_sdl(run):
    directory, demo = SAMPLES / "sdl", SAMPLES / "sdl" / "Demo.sdl"
    assert run("sdl", demo)[1].splitlines()[1:] == [
        "Demo        1          2",
        "Demo        2          6",
    ]
    _, out, _ = run("sdl", directory, "Demo", "1")
    assert out.splitlines()[0] == "Demo version 1, 2 variables"
    _, out, _ = run("sdl", directory, "--json")
    assert [(d["name"], d["version"], len(d["variables"])) for d in json.loads(out)] == [
        ("Demo", 1, 2),
        ("Demo", 2, 6),
        ("DemoFountain", 3, 5),
    ]
    _, out, _ = run("sdl", directory, "Demo", "--json")
    assert json.loads(out)["variables"][3] == {
        "name": "lastVisitor",
        "var_type": "String32",
        "count": 1,
        "default_value": "nobody",
    }


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
def test_texture_refuses_what_it_cannot_convert(run, write_page, tmp_path, body, message):
    out = tmp_path / "t.png"
    assert run("texture", write_page([Obj(MIPMAP, "T", body)]), "T", "-o", out) == (
        1,
        "",
        f"lumivex: texture 'T' {message}\n",
    )
    assert not out.exists()


def test_texture_without_pillow(run, monkeypatch, tmp_path):
    monkeypatch.setitem(sys.modules, "PIL", None)
    status, _, err = run("texture", TOWN, "Tiles_DXT1", "-o", tmp_path / "t.png")
    assert (status, err) == (
        1,
        'lumivex: the texture command needs Pillow: pip install Pillow (or pip install ".[images]" in the lumivex source tree)\n',
    )


def test_roundtrip(run, write_page, tmp_path):
    out = tmp_path / "out.prp"
    assert run("roundtrip", TOWN, out)[1] == f"{out}: byte-identical to {TOWN} (7063 bytes)\n"
    assert out.read_bytes() == Path(TOWN).read_bytes()
    # Strings stored without inversion come back inverted: the age name's
    # length header differs in its second byte.
    original = write_page(
        [Obj(1, "A", b"\x01\0")], header_overrides={"strings": {"inverted": False}}
    )
    size = Path(original).stat().st_size
    assert run("roundtrip", original, out) == (
        0,
        f"{out}: differs from {original}: input {size} bytes, output {size} bytes, first difference at byte 11\n",
        "",
    )


@pytest.fixture
def paths(tmp_path, write_page):
    (tmp_path / "empty").mkdir()
    (tmp_path / "garbage.prp").write_bytes(b"garbage")
    mipmap = mipmap_body("M", version=1)
    broken = write_page(
        [Obj(LAYER, "L", layer_body()[:30]), Obj(MIPMAP, "M", mipmap)], "broken.prp"
    )
    return {"tmp": tmp_path, "town": TOWN, "samples": SAMPLES, "broken": broken}


@pytest.mark.parametrize(
    ("command", "status", "line"),
    [
        ("", 2, "the following arguments are required: COMMAND"),
        ("nope", 2, "argument COMMAND: invalid choice: 'nope'"),
        ("info", 2, "the following arguments are required: PAGE.prp"),
        ("info {tmp}/missing.prp", 1, 'Failed to read "{tmp}/missing.prp"'),
        ("info {tmp}/garbage.prp --json", 1, 'Failed to parse header of "{tmp}/garbage.prp"'),
        ("ls {tmp}/garbage.prp", 1, 'Failed to parse header of "{tmp}/garbage.prp"'),
        ("ls {town} --class", 2, "argument --class: expected one argument"),
        ("show {town} Nobody", 1, "no object named 'Nobody' in {town}"),
        (
            "show {town} Fountain --class plLayer",
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
        ("age {tmp}/missing.age", 1, "Failed to read {tmp}/missing.age"),
        ("sdl {tmp}/missing.sdl", 1, "Failed to read {tmp}/missing.sdl"),
        ("sdl {samples}/sdl Nobody", 1, "no descriptor 'Nobody' in {samples}/sdl"),
        ("sdl {samples}/sdl Demo 9", 1, "no descriptor 'Demo' of version 9 in {samples}/sdl"),
        (
            "sdl {samples}/sdl Demo 4294967296",
            2,
            "argument VERSION: not a version from 0 to 4294967295: '4294967296'",
        ),
        ("texture {town} Tiles_DXT1", 2, "the following arguments are required: -o/--output"),
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
        (
            "texture {town} Tiles_DXT1 -o {tmp}/no/t.png",
            1,
            "cannot write {tmp}/no/t.png: No such file or directory",
        ),
        (
            "roundtrip {tmp}/garbage.prp {tmp}/out.prp",
            1,
            'Failed to parse header of "{tmp}/garbage.prp"',
        ),
        ("roundtrip {town} {tmp}/no/out.prp", 1, 'Failed to write "{tmp}/no/out.prp"'),
    ],
)
def test_failures_are_one_line(run, paths, command, status, line):
    got_status, out, err = run(*command.format(**paths).split())
    assert (got_status, out) == (status, "")
    assert err.startswith("lumivex: " + line.format(**paths))
    assert err.count("\n") == 1 and err.endswith("\n")


def test_python_dash_m():
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run(
        [sys.executable, "-m", "lumivex", "sdl", SAMPLES / "sdl" / "Demo.sdl"],
        capture_output=True,
        text=True,
        env=env,
    )
    assert (done.returncode, done.stdout.splitlines()[0]) == (0, "NAME  VERSION  VARIABLES")


installed = pytest.mark.skipif(shutil.which("lumivex") is None, reason="lumivex is not installed")


@installed
def test_installed_command_scans_the_samples():
    done = subprocess.run(["lumivex", "scan", SAMPLES], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.endswith("total: 3 pages, 26 objects, 23 decoded, 0 failed\n")


@installed
@pytest.mark.parametrize(
    ("argv", "status", "err"),
    [
        (["info", "/nonexistent.prp"], 1, 'lumivex: Failed to read "/nonexistent.prp"\n'),
        (["sdl"], 2, "lumivex: the following arguments are required: PATH\n"),
    ],
)
def test_installed_command_fails_in_one_line(argv, status, err):
    done = subprocess.run(["lumivex", *argv], capture_output=True, text=True)
    assert (done.returncode, done.stdout, done.stderr) == (status, "", err)
