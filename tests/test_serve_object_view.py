"""What lumivex serve's object view shows beside the decoded values: the
bytes in hexadecimal with their printable text, a swatch for each colour,
and the `lumivex edit` command line that sets a value."""

import ast
import html
import math
import re
import shlex
import warnings

import pytest

from fixtures.builder import Obj, key_ref, page
from fixtures.object_bodies import LAYER, MIPMAP, layer_body, scene_object_body
from fixtures.texture_bodies import DXT5, texture_body

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")

with warnings.catch_warnings():
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402

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
