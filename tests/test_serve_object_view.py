"""What lumivex serve's object view shows beside the decoded values: the
bytes in hexadecimal with their printable text, a swatch for each colour,
and the `lumivex edit` command line that sets a value."""

import ast
import html
import math
import os
import re
import shlex
import subprocess
import sys
import warnings
from urllib.parse import quote

import lumivex
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from fixtures.builder import Obj, i16, key_ref, page, synched, u32
from fixtures.object_bodies import (
    LAYER,
    MATERIAL,
    MIPMAP,
    layer_body,
    mipmap_body,
    scene_object_body,
)
from fixtures.texture_bodies import DXT5, texture_body

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")

with warnings.catch_warnings():
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402
from lumivex.web.html import shell_word  # noqa: E402

SEQUENCE = 0x00400001
# Bodies of one, less than one, exactly one and more than one row of
# sixteen, every byte value among them, HTML's special characters too.
HEX_BODIES = [b"", b"<", bytes(range(0x30, 0x40)), bytes(range(0x20, 0x31)), bytes(range(256))]
# Colours as stored, and the swatch each shows: clamped to 0 to 1, and
# not a number as none.
COLOURS = [
    ([0.0, 0.5, 1.0, 0.25], "0080ff40"),
    ([-1.0, 2.0, math.nan, math.inf], "00ff00ff"),
    ([0.2, 0.4, 0.6, 0.8], "336699cc"),
    ([1.0, 1.0, 1.0, 0.0], "ffffff00"),
]


def on_page(name, body, class_type=1, **key):
    return Obj(class_type, name, body, location_sequence=SEQUENCE, **key)


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    """A page in a folder whose name a shell must quote, and the client of
    a server of that folder."""
    folder = tmp_path_factory.mktemp("views") / "Bob's pages"
    folder.mkdir()
    colours = [part for colour, _ in COLOURS for part in colour]
    objects = [on_page(f"Hex{n}", body) for n, body in enumerate(HEX_BODIES)] + [
        on_page(
            "Lamp",
            layer_body(
                "Lamp",
                key_ref("Tex", MIPMAP, location_sequence=SEQUENCE),
                opacity=0.5,
                colors=colours,
            ),
            LAYER,
        ),
        on_page("Far", layer_body("Far", key_ref("Tex", MIPMAP, location_sequence=1)), LAYER),
        on_page("Glass", layer_body("Glass", uvw=3), LAYER),
        on_page("Glass", scene_object_body("Glass")),
        on_page("Tex", texture_body("Tex", DXT5), MIPMAP),
    ]
    path = folder / "Views.prp"
    path.write_bytes(page(objects, sequence_number=SEQUENCE))
    client = TestClient(create_app(Site(str(folder))), base_url="http://127.0.0.1")
    indexes = {f"{obj.class_type}:{obj.name}": n for n, obj in enumerate(client_order(objects))}
    return client, path, indexes


def client_order(objects):
    """The objects in the page's order: the builder groups them by class."""
    classes = list(dict.fromkeys(obj.class_type for obj in objects))
    return sorted(objects, key=lambda obj: classes.index(obj.class_type))


def view(served, class_type, name):
    client, _, indexes = served
    return client.get(f"/object/Views.prp/{indexes[f'{class_type}:{name}']}").text


def hex_lines(text):
    found = re.search(r'<pre class="hex">(.*?)</pre>', text, re.S)
    assert found is not None
    return html.unescape(found[1]).splitlines()


@pytest.mark.parametrize("number, body", list(enumerate(HEX_BODIES)))
def test_the_hex_view_shows_each_byte_and_its_text_aligned(served, number, body):
    lines = hex_lines(view(served, 1, f"Hex{number}"))
    assert len(lines) == (len(body) + 15) // 16
    for row, line in enumerate(lines):
        chunk = body[row * 16 : row * 16 + 16]
        assert int(line[:8], 16) == row * 16
        assert bytes.fromhex(line[10:57]) == chunk
        # The text column starts at one place on every row, the last too.
        assert line[8:10] == line[57:59] == "  "
        assert line[59:] == "".join(chr(b) if 0x20 <= b < 0x7F else "." for b in chunk)


@pytest.mark.parametrize(
    "number, swatch", [(number, swatch) for number, (_, swatch) in enumerate(COLOURS)]
)
def test_each_colour_shows_a_swatch_of_its_clamped_values(served, number, swatch):
    field = ("preshade_color", "runtime_color", "ambient_color", "specular_color")[number]
    text = view(served, LAYER, "Lamp")
    found = re.search(rf'<dt>{field}</dt><dd><img class="swatch" src="([^"]+)"', text)
    assert found is not None and found[1] == f"/swatch/{swatch}.svg"
    image = served[0].get(found[1])
    assert image.headers["content-type"].startswith("image/svg+xml")
    assert f'fill="#{swatch[:6]}"' in image.text
    assert f'fill-opacity="{int(swatch[6:], 16) / 255:.3f}"' in image.text


def test_only_colours_have_swatches(served):
    text = view(served, LAYER, "Lamp")
    assert text.count('class="swatch"') == 4


@pytest.mark.parametrize("name", ["0080FF40", "0080ff4", "0080ff400", "0080fg40", "..%2Fstyle"])
def test_a_swatch_is_named_by_eight_lowercase_hexadecimal_digits(served, name):
    assert served[0].get(f"/swatch/{name}.svg").status_code == 404


def edit_commands(text):
    return [shlex.split(html.unescape(line)) for line in re.findall(r"<code>(.*?)</code>", text)]


def set_values(served, class_type, name):
    """The --set value of each command line of an object's view, by the
    name and property it sets, after checking the rest of the line."""
    _, path, _ = served
    values = {}
    for words in edit_commands(view(served, class_type, name)):
        assert words[:3] == ["lumivex", "edit", str(path)] and words[3] == "--set"
        target, _, value = words[4].partition("=")
        values[target] = value
    return values


@pytest.mark.parametrize(
    "target, value",
    [
        ("Lamp.opacity", 0.5),
        ("Lamp.uv_channel", 0),
        ("Lamp.blend_flags", 0x11),
        ("Lamp.texture_key", "plMipmap:Tex"),
        ("Lamp.specular_color", [1.0, 1.0, 1.0, 0.0]),
    ],
)
def test_a_settable_value_shows_the_command_that_sets_it(served, target, value):
    shown = set_values(served, LAYER, "Lamp")[target]
    assert (shown if isinstance(value, str) else ast.literal_eval(shown)) == value


def test_values_that_follow_others_or_cannot_be_set_show_no_command(served):
    shown = set_values(served, LAYER, "Lamp")
    assert "Lamp.name" not in shown and "Lamp.texture_name" not in shown
    # A reference to another page's object cannot be written by its name.
    assert "Far.texture_key" not in set_values(served, LAYER, "Far")
    assert set_values(served, MIPMAP, "Tex") == {}


def test_a_name_of_two_objects_is_written_with_its_class(served):
    assert set_values(served, LAYER, "Glass")["plLayer:Glass.uv_channel"] == "3"


# Names a shell must quote, or that a page could show as something else:
# quotes, expansions, spaces that collapse, line feeds, tabs, a leading
# dash, a bidirectional override, a backslash, a non-breaking space.
SHELL_NAMES = [
    "it's",
    'say "hi"',
    "$HOME",
    "`id`",
    "two  spaces ",
    "Two\nLines\n",
    "Tab\there",
    "-dash",
    "\u202eevil",
    "back\\slash",
    "no\xa0break",
    "*;|&",
]
# The file names of the folder and the page: what a shell expands and bytes
# that are not UTF-8.
HOSTILE_FOLDER = b"dir $x `y` 'z\" \n\xff"
HOSTILE_PAGE = b"-p a\xfege.prp"
# The shown command, run through a POSIX shell with lumivex as this
# interpreter's module.
SHELL = 'lumivex() { "$LUMIVEX_PYTHON" -m lumivex "$@"; }\n'


def shown_commands(client, page_name, index):
    text = client.get(f"/object/{quote(page_name)}/{index}").text
    return [html.unescape(line) for line in re.findall(r"<code>(.*?)</code>", text, re.S)]


def run_shown(command, cwd, out):
    env = {
        **os.environ,
        "LUMIVEX_PYTHON": sys.executable,
        "PYTHONPATH": os.pathsep.join(sys.path),
    }
    return subprocess.run(
        ["sh", "-c", f"{SHELL}{command} -o {shlex.quote(str(out))}"],
        cwd=cwd,
        env=env,
        capture_output=True,
        text=True,
        check=False,
    )


# The layers of the hostile page's material.
LISTED = ["$HOME", "Tab\there", "`id`"]


def material(layers):
    """A material of the page's layers."""
    out = i16(MATERIAL) + key_ref("Mat", MATERIAL, location_sequence=SEQUENCE) + synched(0)
    out += u32(1) + u32(2) + u32(len(layers)) + u32(3)
    return out + b"".join(key_ref(n, LAYER, location_sequence=SEQUENCE) for n in layers)


@pytest.fixture(scope="module")
def hostile_files(tmp_path_factory):
    """A page of layers of hostile names under a folder and a file name of
    hostile characters, each layer referring to a texture of a hostile name."""
    top = tmp_path_factory.mktemp("shell")
    folder = os.path.join(os.fsencode(top), HOSTILE_FOLDER)
    os.mkdir(folder)
    texture = "Tex 'of'\n$x"
    texture_key = key_ref(texture, MIPMAP, location_sequence=SEQUENCE)
    objects = [
        on_page(name, layer_body(name, texture_key, opacity=0.5), LAYER) for name in SHELL_NAMES
    ] + [on_page(texture, mipmap_body(texture), MIPMAP), on_page("Mat", material(LISTED), MATERIAL)]
    path = os.path.join(folder, HOSTILE_PAGE)
    with open(path, "wb") as file:
        file.write(page(objects, sequence_number=SEQUENCE))
    return top, os.fsdecode(folder), os.fsdecode(path)


@pytest.mark.parametrize("served_as", ["folder", "page", "relative page"])
@pytest.mark.parametrize("name", SHELL_NAMES)
def test_a_shown_command_run_by_a_shell_changes_the_value_shown(
    hostile_files, tmp_path, monkeypatch, served_as, name
):
    top, folder, path = hostile_files
    start = {"folder": folder, "page": path, "relative page": os.path.basename(path)}[served_as]
    # The server and the shell in one folder, as when both start from a terminal.
    cwd = folder if served_as == "relative page" else top
    monkeypatch.chdir(cwd)
    client = TestClient(create_app(Site(start)), base_url="http://127.0.0.1")
    page_name = client.get("/api").json()["pages"][0]
    index = [obj.name for obj in lumivex.PrpFile.load(path)].index(name)
    commands = shown_commands(client, page_name, index)
    opacity = [command for command in commands if ".opacity=0.5" in command]
    texture = [command for command in commands if ".texture_key=" in command]
    assert len(opacity) == len(texture) == 1
    out = tmp_path / "out.prp"
    done = run_shown(opacity[0].replace(".opacity=0.5", ".opacity=0.25"), cwd, out)
    assert done.returncode == 0, done.stderr
    changed = {
        obj.name: obj.as_layer() for obj in lumivex.PrpFile.load(out) if obj.class_type == LAYER
    }
    assert {n: layer.opacity for n, layer in changed.items()} == {
        n: 0.25 if n == name else 0.5 for n in SHELL_NAMES
    }
    done = run_shown(texture[0], cwd, out)
    assert done.returncode == 0, done.stderr
    assert "(unchanged)" in done.stdout


def test_a_shown_command_is_printable_but_for_the_line_feeds_of_names(hostile_files):
    _, folder, _ = hostile_files
    client = TestClient(create_app(Site(folder)), base_url="http://127.0.0.1")
    page_name = client.get("/api").json()["pages"][0]
    for index in range(len(SHELL_NAMES)):
        for command in shown_commands(client, page_name, index):
            assert command.replace("\n", "").isprintable()


# Layers whose names the edit command reads in more than one way, with
# whether their opacity's command is shown: a name two classes share as
# CLASS:NAME, unless an object has that very text for its name; a name two
# layers share, by no command.
NAMED_LAYERS = [
    ("Glass", "plLayer:Glass"),
    ("Pane", None),
    ("Twin", None),
    ("Twin", None),
    ("", "plLayer:"),
    ("plLayer:Pane", "plLayer:plLayer:Pane"),
]
OTHERS = [("Glass", 1), ("Pane", 1), ("plLayer:Pane", 1)]


@pytest.fixture(scope="module")
def named(tmp_path_factory):
    folder = tmp_path_factory.mktemp("named")
    layers = [on_page(name, layer_body(name, None, opacity=0.5), LAYER) for name, _ in NAMED_LAYERS]
    others = [on_page(name, scene_object_body(name), class_type) for name, class_type in OTHERS]
    path = folder / "Named.prp"
    path.write_bytes(page(others + layers, sequence_number=SEQUENCE))
    return folder, path


@pytest.mark.parametrize("number, written", [(n, w) for n, (_, w) in enumerate(NAMED_LAYERS)])
def test_an_object_is_named_so_that_the_command_finds_it_alone(named, tmp_path, number, written):
    folder, path = named
    client = TestClient(create_app(Site(str(folder))), base_url="http://127.0.0.1")
    index = len(OTHERS) + number
    opacity = [c for c in shown_commands(client, "Named.prp", index) if ".opacity=" in c]
    if written is None:
        assert opacity == []
        return
    assert opacity == [f"lumivex edit {path} --set {shlex.quote(f'{written}.opacity=0.5')}"]
    out = tmp_path / "out.prp"
    done = run_shown(opacity[0].replace("=0.5", "=0.25"), folder, out)
    assert done.returncode == 0, done.stderr
    changed = [
        obj.index
        for obj in lumivex.PrpFile.load(out)
        if obj.class_type == LAYER and obj.as_layer().opacity == 0.25
    ]
    assert changed == [index]


@pytest.mark.parametrize(
    "opacity, texture, shown",
    [
        (0.5, "Twin", {"opacity"}),
        (0.5, "Tex ", {"opacity", "texture_key"}),
        (0.5, "Lost", {"opacity"}),
        (0.5, "", {"opacity"}),
    ],
)
def test_values_the_command_cannot_take_as_written_show_no_command(
    tmp_path, opacity, texture, shown
):
    """A reference to a name two textures share, to nothing in the page, or
    to an empty name, is not written; one to a name with spaces at its ends
    is, quoted."""
    objects = [
        on_page(
            "Lamp",
            layer_body(
                "Lamp", key_ref(texture, MIPMAP, location_sequence=SEQUENCE), opacity=opacity
            ),
            LAYER,
        ),
        *(on_page(name, mipmap_body(name), MIPMAP) for name in ("Tex", "Twin", "Twin", "Tex ", "")),
    ]
    (tmp_path / "Lamp.prp").write_bytes(page(objects, sequence_number=SEQUENCE))
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    commands = shown_commands(client, "Lamp.prp", 0)
    fields = {re.search(r"--set '?Lamp\.(\w+)=", command)[1] for command in commands}
    assert {"opacity", "texture_key"} & fields == shown


@pytest.mark.parametrize("opacity", [math.nan, math.inf, -math.inf])
def test_a_float_python_has_no_literal_for_shows_the_word_the_command_reads(tmp_path, opacity):
    body = layer_body("Lamp", key_ref("Tex", MIPMAP, location_sequence=SEQUENCE), opacity=0.5)
    objects = [on_page("Lamp", body, LAYER), on_page("Tex", mipmap_body("Tex"), MIPMAP)]
    (tmp_path / "Lamp.prp").write_bytes(page(objects, sequence_number=SEQUENCE))
    built = lumivex.PageBuilder.from_page(lumivex.PrpFile.load(tmp_path / "Lamp.prp"))
    lamp = lumivex.PrpFile.load(tmp_path / "Lamp.prp")[0]
    built.set(lamp, lamp.as_layer().replace(opacity=opacity))
    built.save(tmp_path / "Lamp.prp")
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    (shown,) = [c for c in shown_commands(client, "Lamp.prp", 0) if ".opacity=" in c]
    assert shown.endswith(f"/Lamp.prp --set Lamp.opacity={opacity!r}")
    # The command takes back what it shows: the page comes out the same.
    out = tmp_path / "out.prp"
    done = run_shown(shown, tmp_path, out)
    assert done.returncode == 0, done.stderr
    assert out.read_bytes() == (tmp_path / "Lamp.prp").read_bytes()


def test_a_reference_to_a_class_without_a_name_shows_no_command(tmp_path):
    unnamed = 0x3FF
    texture = key_ref("Odd", unnamed, location_sequence=SEQUENCE)
    objects = [
        on_page("Lamp", layer_body("Lamp", texture), LAYER),
        on_page("Odd", b"", unnamed),
    ]
    (tmp_path / "Lamp.prp").write_bytes(page(objects, sequence_number=SEQUENCE))
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    commands = shown_commands(client, "Lamp.prp", 0)
    assert commands and not [command for command in commands if "texture_key" in command]


def test_a_shown_list_of_references_run_by_a_shell_sets_them(hostile_files, tmp_path):
    top, folder, path = hostile_files
    client = TestClient(create_app(Site(folder)), base_url="http://127.0.0.1")
    page_name = client.get("/api").json()["pages"][0]
    index = [obj.name for obj in lumivex.PrpFile.load(path)].index("Mat")
    (command,) = [c for c in shown_commands(client, page_name, index) if "Mat.layer_keys=" in c]
    # The list of the layers as shown, the last left out.
    words = command.rpartition("]")
    shortened = words[0].rpartition(", ")[0] + "]" + words[2]
    out = tmp_path / "out.prp"
    done = run_shown(shortened, top, out)
    assert done.returncode == 0, done.stderr
    (changed,) = [obj for obj in lumivex.PrpFile.load(out) if obj.name == "Mat"]
    assert [key.name for key in changed.as_material().layer_keys] == LISTED[:-1]


def test_each_change_line_is_named_by_what_it_changes(served):
    text = view(served, LAYER, "Lamp")
    fields = re.findall(r'<dt>(\w+)</dt><dd>[^\n]*?<summary aria-label="change (\w+)">', text)
    assert len(fields) == len(edit_commands(text)) > 1
    assert all(shown == named for shown, named in fields)


# Texts as file names give them (any bytes but NUL), and as object names.
WORDS = st.lists(
    st.one_of(
        st.binary(max_size=12).filter(lambda data: b"\0" not in data).map(os.fsdecode),
        st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\0")),
    ),
    min_size=1,
    max_size=20,
)


@settings(max_examples=30, deadline=None)
@given(WORDS)
def test_a_shell_word_is_its_text_to_a_shell(texts):
    words = " ".join(shell_word(text) for text in texts)
    done = subprocess.run(["sh", "-c", f"printf '%s\\0' {words}"], capture_output=True, check=True)
    assert done.stdout.split(b"\0")[:-1] == [os.fsencode(text) for text in texts]
    assert words.replace("\n", "").isprintable()


def test_a_shown_list_of_names_with_commas_and_spaces_is_quoted_and_runs(tmp_path):
    names = ["A,B", " Padded ", "C"]
    objects = [on_page(name, layer_body(name, None), LAYER) for name in names]
    objects.append(on_page("Mat", material(names), MATERIAL))
    path = tmp_path / "Mat.prp"
    path.write_bytes(page(objects, sequence_number=SEQUENCE))
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    (command,) = [c for c in shown_commands(client, "Mat.prp", 3) if "Mat.layer_keys=" in c]
    assert '"plLayer:A,B", "plLayer: Padded ", "plLayer:C"' in command
    reversed_list = command.replace(
        '"plLayer:A,B", "plLayer: Padded ", "plLayer:C"',
        '"plLayer:C", "plLayer: Padded ", "plLayer:A,B"',
    )
    out = tmp_path / "out.prp"
    done = run_shown(reversed_list, tmp_path, out)
    assert done.returncode == 0, done.stderr
    (changed,) = [obj for obj in lumivex.PrpFile.load(out) if obj.name == "Mat"]
    assert changed.as_material().layer_names == names[::-1]


def test_a_shown_list_of_script_parameters_runs(tmp_path):
    samples = os.path.join(os.path.dirname(os.path.dirname(__file__)), "samples")
    source = os.path.join(samples, "Demo_District_Town.prp")
    client = TestClient(create_app(Site(source)), base_url="http://127.0.0.1")
    page_name = client.get("/api").json()["pages"][0]
    index = [obj.name for obj in lumivex.PrpFile.load(source)].index("FountainPython")
    (command,) = [c for c in shown_commands(client, page_name, index) if ".params=" in c]
    assert command.endswith("""'FountainPython.params=[3, "Splash", 0.75]'""")
    out = tmp_path / "out.prp"
    done = run_shown(command.replace('"Splash"', '"Jet"'), tmp_path, out)
    assert done.returncode == 0, done.stderr
    (changed,) = [obj for obj in lumivex.PrpFile.load(out) if obj.name == "FountainPython"]
    assert [p.typed_value for p in changed.as_python_file_mod().params] == [3, "Jet", 0.75]
