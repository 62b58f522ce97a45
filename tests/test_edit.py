"""lumivex edit: the edits of a page, names and their candidates, the age-wide
rename and the save of several pages as one change."""

import contextlib
import io
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import lumivex
import pytest
from lumivex.check import AgeCheck
from lumivex.cli import main
from lumivex.diff import CHANGED, RENAMED, diff
from lumivex.shapes import json_schema

from fixtures.builder import Group, Obj, index_entry, key_ref, page, u32
from fixtures.extras import needs_pillow
from fixtures.object_bodies import LAYER, MATERIAL, MIPMAP, layer_body, material_body, mipmap_body
from fixtures.python_file_mod_bodies import param, python_file_mod

SAMPLES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "samples")
TEMPORARY_MARK = ".lumivex-"


def sample_objects():
    """Two layers, a material holding both, and a texture named as one layer."""
    return [
        Obj(LAYER, "Glass", layer_body("Glass", "Stone"), object_id=1),
        Obj(LAYER, "Stone", layer_body("Stone", None), object_id=2),
        Obj(MATERIAL, "Mat", material_body(("Glass", "Stone")), object_id=1),
        Obj(MIPMAP, "Stone", mipmap_body("Stone"), object_id=1),
    ]


def sample_page():
    return page(sample_objects())


def run(*args):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = main(["edit", *map(str, args)])
    return status, out.getvalue(), err.getvalue()


@pytest.fixture
def page_file(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(sample_page())
    return path


def objects(path):
    return {(obj.class_name, obj.name): obj for obj in lumivex.PrpFile.load(str(path))}


@pytest.mark.parametrize(
    "options, check",
    [
        (
            ["--rename", "Glass=Window"],
            lambda found: (
                found[("hsGMaterial", "Mat")].as_material().layer_names == ["Window", "Stone"]
                and found[("plLayer", "Window")].as_layer().name == "Window"
            ),
        ),
        (["--remove", "Mat"], lambda found: ("hsGMaterial", "Mat") not in found),
        (
            ["--set", "Glass.opacity=0.25"],
            lambda found: found[("plLayer", "Glass")].as_layer().opacity == 0.25,
        ),
        (
            # The words the command shows for the floats Python has no literal for.
            ["--set", "Glass.opacity=-inf"],
            lambda found: found[("plLayer", "Glass")].as_layer().opacity == -math.inf,
        ),
        (
            ["--set", "Mat.layer_keys=[plLayer:Stone]"],
            lambda found: found[("hsGMaterial", "Mat")].as_material().layer_names == ["Stone"],
        ),
        (
            ["--set", "Glass.texture_key=None"],
            lambda found: found[("plLayer", "Glass")].as_layer().texture_name is None,
        ),
        (
            ["--set", "Mat.layer_keys=['plLayer:Stone', 'plLayer:Glass']"],
            lambda found: (
                found[("hsGMaterial", "Mat")].as_material().layer_names == ["Stone", "Glass"]
            ),
        ),
        (
            ["--set", "plLayer:Stone.texture_key='plMipmap:Stone'"],
            lambda found: found[("plLayer", "Stone")].as_layer().texture_name == "Stone",
        ),
    ],
    ids=[
        "rename",
        "remove",
        "set-number",
        "set-infinity",
        "set-references",
        "set-none",
        "set-quoted-references",
        "set-a-quoted-reference",
    ],
)
def test_each_edit_of_a_page(page_file, tmp_path, options, check):
    out = tmp_path / "out.prp"
    status, printed, _ = run(page_file, "-o", out, *options)
    assert status == 0, printed
    assert page_file.read_bytes() == sample_page()
    assert check(objects(out))
    assert "written to" in printed


@pytest.mark.parametrize(
    "texture", ["Two\nLines", "Tab\tand ,comma", "plMipmap:Prefixed", "Trailing ", " Padded "]
)
def test_a_reference_to_a_name_of_any_characters(tmp_path, texture):
    path = tmp_path / "page.prp"
    # A texture named without the spaces of the one referred to is not taken for it.
    names = dict.fromkeys([texture, texture.strip()])
    path.write_bytes(
        page(
            [Obj(LAYER, "Glass", layer_body("Glass", None))]
            + [Obj(MIPMAP, name, mipmap_body(name), object_id=n) for n, name in enumerate(names)]
        )
    )
    status, printed, err = run(path, "--set", f"Glass.texture_key=plMipmap:{texture}")
    assert status == 0, err
    assert objects(path)[("plLayer", "Glass")].as_layer().texture_name == texture


def layers_and_material(path, names, listed):
    """A page of layers of these names and a material Mat listing some."""
    path.write_bytes(
        page(
            [Obj(LAYER, name, layer_body(name, None), object_id=n) for n, name in enumerate(names)]
            + [Obj(MATERIAL, "Mat", material_body(listed), object_id=1)]
        )
    )
    return path


def test_a_list_of_references_to_names_that_end_with_spaces(tmp_path):
    path = layers_and_material(tmp_path / "page.prp", ["Stone", "Stone ", "Glass"], ("Glass",))
    status, _, err = run(
        path, "--set", "Mat.layer_keys=[plLayer:Stone , plLayer:Stone,plLayer:Glass]"
    )
    assert status == 0, err
    assert objects(path)[("hsGMaterial", "Mat")].as_material().layer_names == [
        "Stone ",
        "Stone",
        "Glass",
    ]


@pytest.mark.parametrize(
    "renames, layer_names",
    [
        (["Glass=Stone", "plLayer:Stone=Glass"], ["Stone", "Glass"]),
        (["Glass=Stone", "plLayer:Stone=Rock"], ["Stone", "Rock"]),
        (["plLayer:Stone=Rock", "Glass=Stone"], ["Stone", "Rock"]),
    ],
    ids=["swapped", "passed-along", "passed-along-in-order"],
)
def test_names_swapped_or_passed_along_follow_their_objects(
    page_file, tmp_path, renames, layer_names
):
    out = tmp_path / "out.prp"
    status, printed, err = run(page_file, "-o", out, *[a for r in renames for a in ("--rename", r)])
    assert status == 0, err
    found = objects(out)
    assert found[("hsGMaterial", "Mat")].as_material().layer_names == layer_names
    # The layer first named Glass kept its texture, whatever its name now.
    assert found[("plLayer", layer_names[0])].as_layer().texture_name == "Stone"
    assert printed.count("renamed ") == 2
    assert b"lumivex-rename" not in out.read_bytes()


def test_a_quoted_list_holds_names_with_commas(tmp_path):
    path = layers_and_material(tmp_path / "page.prp", ["A,B", "A", "B"], ("A",))
    status, _, err = run(path, "--set", "Mat.layer_keys=['plLayer:A,B', 'plLayer:B']")
    assert status == 0, err
    assert objects(path)[("hsGMaterial", "Mat")].as_material().layer_names == ["A,B", "B"]


def test_a_scripts_parameters_take_a_value_each_in_order(tmp_path):
    out = tmp_path / "out.prp"
    source = os.path.join(SAMPLES, "Demo_District_Town.prp")
    before = objects(source)[("plPythonFileMod", "FountainPython")].as_python_file_mod()
    status, printed, err = run(source, "-o", out, "--set", "FountainPython.params=[4, 'Jet', 0.5]")
    assert status == 0, err
    assert "Int(4)=4" in printed
    after = objects(out)[("plPythonFileMod", "FountainPython")].as_python_file_mod()
    assert [(p.id, p.kind, p.typed_value) for p in after.params] == [
        (p.id, p.kind, value) for p, value in zip(before.params, [4, "Jet", 0.5], strict=True)
    ]


@pytest.mark.parametrize(
    "value, activator",
    [
        ("['plLogicModifier:Other', 8]", "Other"),
        ("[plLogicModifier:Other, 8]", "Other"),
        ("[None, 8]", None),
    ],
    ids=["quoted", "bare", "none"],
)
def test_a_key_parameter_takes_a_reference(tmp_path, value, activator):
    logic = 0x2D
    body = python_file_mod(
        [], [param(1, 5, key_ref("Act", logic)), param(2, 1, u32(7))], name="Mod"
    )
    path = tmp_path / "page.prp"
    path.write_bytes(
        page([Obj(0xA2, "Mod", body)] + [Obj(logic, n, b"\x2d\x00") for n in ("Act", "Other")])
    )
    status, _, err = run(path, "--set", f"Mod.params={value}")
    assert status == 0, err
    params = objects(path)[("plPythonFileMod", "Mod")].as_python_file_mod().params
    key = params[0].typed_value
    assert (key.name if key else None, params[1].typed_value) == (activator, 8)


@pytest.mark.parametrize(
    "value, message",
    [
        ("[4, 'Jet']", "it holds 3 parameters; give as many values, not 2"),
        ("[4.5, 'Jet', 0.5]", "params[0] (Int): PythonParam.replace() argument 'typed_value'"),
        ("[4, 5, 0.5]", "params[1] (String)"),
    ],
)
def test_wrong_parameter_values_write_nothing(tmp_path, value, message):
    path = tmp_path / "page.prp"
    shutil.copy(os.path.join(SAMPLES, "Demo_District_Town.prp"), path)
    original = path.read_bytes()
    status, _, err = run(path, "--set", f"FountainPython.params={value}")
    assert status == 1 and message in err, err
    assert path.read_bytes() == original
    assert os.listdir(tmp_path) == ["page.prp"]


@pytest.mark.parametrize(
    "name, status, message",
    [
        ("Stone", 1, "'Stone' names 2 objects: plLayer:Stone, plMipmap:Stone"),
        ("plMipmap:Stone", 0, ""),
        ("Glas", 1, "no object named 'Glas'; closest: plLayer:Glass"),
        ("Nothing", 1, "no object named 'Nothing'"),
    ],
)
def test_names_and_their_candidates(page_file, name, status, message):
    result = run(page_file, "--remove", name, "--dry-run")
    assert result[0] == status
    assert message in result[2]
    assert page_file.read_bytes() == sample_page()


@pytest.mark.parametrize(
    "options, message",
    [
        (["--set", "Glass.num_levels=3"], "cannot set plLayer:Glass"),
        (["--set", "Glass.opacity=high"], "neither a Python literal nor a reference"),
        (
            ["--rename", "Glass=Stone"],
            "cannot rename plLayer:Glass: the page already holds a plLayer named 'Stone'",
        ),
        (
            ["--rename", "Glass=Pane", "--rename", "plLayer:Stone=Pane"],
            "cannot rename plLayer:Stone: plLayer:Glass is renamed 'Pane' too",
        ),
        (["--rename", "Glass"], "--rename takes OLD=NEW"),
        (["--remove", "Glass", "--rename", "Glass=G"], "both removed and edited"),
        (
            ["--remove", "plLayer:Stone", "--rename", "Glass=Stone"],
            "the page already holds a plLayer named 'Stone', which this edit removes: "
            "references to it would find the renamed object",
        ),
        (
            ["--remove", "plMipmap:Stone", "--set", "Glass.texture_key=plMipmap:Stone"],
            "plLayer:Glass.texture_key is set to plMipmap:Stone, which is removed",
        ),
        (
            ["--set", "Mat.layer_keys=[plLayer:Stone, plLayer:Glass]", "--remove", "plLayer:Stone"],
            "hsGMaterial:Mat.layer_keys is set to plLayer:Stone, which is removed",
        ),
        (
            ["--remove", "plMipmap:Stone", "--texture", "plMipmap:Stone=x.png"],
            "both removed and edited",
        ),
        (["--texture", "Glass=x.png"], "is not a texture"),
        (
            ["--texture", "plMipmap:Stone=x.png", "--set", "plMipmap:Stone.compression_type=0"],
            "cannot set plMipmap:Stone.compression_type: compression_type is not stored as itself,"
            " or must agree with other stored data; a texture changes only by a new image",
        ),
        (
            ["--set", "Glass.name='G'"],
            "cannot set plLayer:Glass.name: rename it with --rename",
        ),
        (
            ["--set", "Glass.colour=[1, 1, 1, 1]"],
            "cannot set plLayer:Glass.colour: colour is not a property of Layer; it can set ",
        ),
        # The property is checked before its value is read.
        (["--set", "Glass.nothing=not a value"], "nothing is not a property of Layer"),
        # Python reads no integer of more than 4300 digits.
        (
            ["--set", "Glass.uv_channel=" + "9" * 5000],
            "an integer of 5000 digits is too large for any stored value",
        ),
        (
            ["--set", "Mat.layer_keys=[plLayer:Stone, " + "9" * 5000 + "]"],
            "an integer of 5000 digits is too large for any stored value",
        ),
        (
            ["--texture", "plMipmap:Stone=x.png", "--texture", "plMipmap:Stone=y.png"],
            "is given two textures",
        ),
        (["--remove", "Glass", "--remove", "plLayer:Glass"], "plLayer:Glass is removed twice"),
        (
            ["--set", "Glass.opacity=0.1", "--set", "Glass.opacity=0.2"],
            "plLayer:Glass.opacity is set twice",
        ),
        (["--rename", "Glass=Glass"], "cannot rename plLayer:Glass: it already has that name"),
        # The qualifier of the old name is not part of the new one.
        (
            ["--rename", "plLayer:Glass=plLayer:Pane"],
            "cannot rename plLayer:Glass to 'plLayer:Pane': the new name is the name alone, "
            "without 'plLayer:' before it",
        ),
    ],
)
def test_bad_edits_write_nothing(page_file, options, message):
    status, _, err = run(page_file, *options)
    assert status == 1 and message in err, err
    assert page_file.read_bytes() == sample_page()
    assert os.listdir(page_file.parent) == ["page.prp"]


def names_page(*names):
    return page(
        [Obj(LAYER, name, layer_body(name, None), object_id=n) for n, name in enumerate(names, 1)]
    )


def test_objects_of_one_class_and_name_are_told_to_be_inseparable(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(names_page("Twin", "Twin"))
    status, _, err = run(path, "--remove", "plLayer:Twin")
    assert (status, err) == (
        1,
        "lumivex: 'plLayer:Twin' names 2 objects: plLayer:Twin, plLayer:Twin; objects of one "
        "class and name cannot be told apart\n",
    )
    assert path.read_bytes() == names_page("Twin", "Twin")


@pytest.mark.parametrize(
    "names, options, expected",
    [
        (["Key=Value", "Other"], ["--rename", "Key=Value=New"], {"New", "Other"}),
        (["Key", "Other"], ["--rename", "Key=A=B"], {"A=B", "Other"}),
        (["Key=Value", "Other"], ["--rename", "Key=Value==="], {"==", "Other"}),
        (["Key=Value", "Other"], ["--remove", "Key=Value"], {"Other"}),
    ],
)
def test_names_holding_equals_signs(tmp_path, names, options, expected):
    path = tmp_path / "page.prp"
    path.write_bytes(names_page(*names))
    status, _, err = run(path, *options)
    assert status == 0, err
    assert {name for _, name in objects(path)} == expected


def test_a_value_set_on_a_name_holding_an_equals_sign(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(names_page("Key=Value", "Other"))
    status, _, err = run(path, "--set", "Key=Value.opacity=0.5", "--set", "Other.opacity=0.25")
    assert status == 0, err
    found = objects(path)
    assert found[("plLayer", "Key=Value")].as_layer().opacity == 0.5
    assert found[("plLayer", "Other")].as_layer().opacity == 0.25


@pytest.mark.parametrize(
    "options, message",
    [
        (
            ["--rename", "Key=Value=New"],
            "--rename 'Key=Value=New' is ambiguous: 'Key' and 'Key=Value' each name an object",
        ),
        (["--rename", "Kex=Value=New"], "no object named 'Kex'; closest: plLayer:Key"),
    ],
)
def test_an_equals_sign_that_ends_no_one_name(tmp_path, options, message):
    path = tmp_path / "page.prp"
    path.write_bytes(names_page("Key", "Key=Value"))
    status, _, err = run(path, *options)
    assert status == 1 and message in err, err
    assert path.read_bytes() == names_page("Key", "Key=Value")


@pytest.mark.parametrize(
    "options, message",
    [
        (
            ["--rename", "Glass=G\udcff"],
            "cannot rename plLayer:Glass: the new name 'G\\udcff' holds bytes that are not UTF-8",
        ),
        (
            ["--set", "Glass.texture_key='G\udcff'"],
            "cannot set plLayer:Glass.texture_key: \"'G\\udcff'\" holds bytes that are not UTF-8",
        ),
    ],
)
def test_text_that_is_not_utf8_is_refused_by_name(page_file, options, message):
    status, _, err = run(page_file, *options)
    assert (status, err) == (1, f"lumivex: {message}\n")
    assert page_file.read_bytes() == sample_page()


@pytest.mark.parametrize(
    "options, message",
    [
        ([], "nothing to do: give --rename, --remove, --texture or --set"),
        (["--remove", "Mat", "--format", "dxt1"], "--format goes with --texture"),
        (
            ["--remove", "Mat", "--in-place"],
            "--in-place goes with an age; a page is written in place where a new file cannot "
            "replace it",
        ),
    ],
)
def test_options_that_do_not_go_together_are_usage_errors(page_file, options, message):
    assert run(page_file, *options) == (2, "", f"lumivex: {message}\n")
    assert page_file.read_bytes() == sample_page()


def test_dry_run_prints_and_writes_nothing(page_file):
    before = os.stat(page_file)
    status, printed, _ = run(page_file, "--rename", "Glass=Window", "--remove", "Mat", "--dry-run")
    assert status == 0
    assert printed.splitlines() == [
        "renamed plLayer:Glass to Window and 1 reference to it",
        "removed hsGMaterial:Mat",
        "1 object renamed, 1 object removed; nothing written (dry run)",
    ]
    assert os.stat(page_file).st_mtime_ns == before.st_mtime_ns
    assert os.listdir(page_file.parent) == ["page.prp"]


def test_a_value_already_set_is_told_and_not_counted(page_file):
    status, printed, _ = run(
        page_file,
        "--set",
        "plLayer:Stone.texture_key=None",
        "--set",
        "Glass.opacity=0.25",
        "--set",
        "Glass.blend_flags=17",
        "--dry-run",
    )
    assert status == 0
    assert printed.splitlines() == [
        "set plLayer:Stone texture_key: None (unchanged)",
        "set plLayer:Glass opacity: 1.0 -> 0.25",
        "set plLayer:Glass blend_flags: 17 (unchanged)",
        "1 object changed; nothing written (dry run)",
    ]
    # The material's references name the layers without their object ids.
    status, printed, _ = run(
        page_file, "--set", "Mat.layer_keys=[plLayer:Glass, plLayer:Stone]", "--dry-run"
    )
    assert printed.splitlines() == [
        "set hsGMaterial:Mat layer_keys: [plLayer:Glass, plLayer:Stone] (the same names, other keys)",
        "1 object changed; nothing written (dry run)",
    ]
    status, printed, _ = run(page_file, "--set", "Glass.opacity=1.0")
    assert status == 0
    assert printed.splitlines()[-1] == f"no object changed; written to {page_file}"
    original = lumivex.PrpFile.from_bytes(sample_page())
    assert [o.data for o in lumivex.PrpFile.load(str(page_file))] == [o.data for o in original]


def test_a_page_written_to_standard_output_sends_the_messages_to_standard_error(page_file):
    result = subprocess.run(
        [
            sys.executable,
            "-m",
            "lumivex",
            "edit",
            str(page_file),
            "--remove",
            "Mat",
            "-o",
            "/dev/stdout",
        ],
        capture_output=True,
        check=True,
        timeout=60,
    )
    assert ("hsGMaterial", "Mat") not in {
        (o.class_name, o.name) for o in lumivex.PrpFile.from_bytes(result.stdout)
    }
    assert result.stderr.decode().splitlines() == [
        "removed hsGMaterial:Mat",
        "1 object removed; written to /dev/stdout",
    ]


def test_a_page_read_from_a_pipe_is_not_saved_over_it(page_file):
    result = subprocess.run(
        [sys.executable, "-m", "lumivex", "edit", "/dev/stdin", "--remove", "Mat"],
        input=page_file.read_bytes(),
        capture_output=True,
        timeout=60,
    )
    assert result.returncode == 1 and result.stdout == b""
    assert b"/dev/stdin is not a regular file: give -o OUT" in result.stderr


def edit_json(*args):
    status, printed, err = run(*args, "--json")
    assert status == 0, err
    shown = json.loads(printed)
    jsonschema = pytest.importorskip("jsonschema")
    jsonschema.Draft202012Validator(json_schema("edit")).validate(shown)
    return shown


@pytest.mark.parametrize("dry_run", [False, True])
def test_the_edits_of_a_page_as_json(page_file, tmp_path, dry_run):
    out = tmp_path / "out.prp"
    options = ["--dry-run"] if dry_run else []
    shown = edit_json(
        page_file,
        "-o",
        out,
        "--set",
        "Glass.opacity=0.25",
        "--set",
        "plLayer:Stone.texture_key=None",
        "--rename",
        "Mat=Material",
        "--remove",
        "plMipmap:Stone",
        *options,
    )
    assert (shown["page"], shown["output"], shown["written"]) == (
        str(page_file),
        str(out),
        not dry_run,
    )
    assert [
        shown[n] for n in ("renamed_count", "removed_count", "changed_count", "retextured_count")
    ] == [1, 1, 1, 0]
    actions = [
        (e["action"], e["object"]["class_name"], e["object"]["name"]) for e in shown["edits"]
    ]
    assert actions == [
        ("set", "plLayer", "Glass"),
        ("set", "plLayer", "Stone"),
        ("rename", "hsGMaterial", "Mat"),
        ("remove", "plMipmap", "Stone"),
    ]
    opacity, texture = shown["edits"][:2]
    assert (opacity["before"], opacity["after"], opacity["changed"]) == (1.0, 0.25, True)
    assert (texture["before"], texture["after"], texture["changed"]) == (None, None, False)
    assert (shown["edits"][2]["new_name"], shown["edits"][2]["reference_count"]) == ("Material", 0)
    # Glass's texture was the removed one.
    assert shown["edits"][3]["dangling_reference_count"] == 1
    assert out.exists() != dry_run


def test_a_rename_across_an_age_as_json(age_folder):
    shown = edit_json(age_folder / "Demo.age", "--rename", "FountainStone=Stone2", "--dry-run")
    (rename,) = shown["renames"]
    assert (rename["page"], rename["object"]["name"], rename["new_name"]) == (
        "Town",
        "FountainStone",
        "Stone2",
    )
    counts = ("own_page_reference_count", "reference_count", "other_page_count")
    assert ([rename[n] for n in counts], shown["written"]) == ([1, 1, 1], False)
    assert sorted(os.path.basename(p) for p in shown["pages"]) == [
        "Demo_District_Garden.prp",
        "Demo_District_Town.prp",
    ]


@pytest.mark.parametrize(
    "options, told",
    [
        (
            ["--remove", "Glass"],
            "removed plLayer:Glass, leaving 1 reference to it pointing at nothing",
        ),
        # A reference the same edit drops is not left behind.
        (["--remove", "Glass", "--set", "Mat.layer_keys=[plLayer:Stone]"], "removed plLayer:Glass"),
        (["--remove", "Mat"], "removed hsGMaterial:Mat"),
    ],
)
def test_a_removal_tells_the_references_it_leaves_dangling(page_file, options, told):
    status, printed, _ = run(page_file, "--dry-run", *options)
    assert status == 0 and told in printed.splitlines()


def test_without_output_the_page_is_saved_over_itself(page_file):
    assert run(page_file, "--remove", "Mat")[0] == 0
    assert ("hsGMaterial", "Mat") not in objects(page_file)
    assert os.listdir(page_file.parent) == ["page.prp"]


def test_an_empty_output_name_is_refused_not_read_as_none(page_file, age_folder):
    """-o "$OUT" with OUT unset must not save over the page."""
    pages = page_bytes(age_folder)
    for path, options in (
        (page_file, ["--remove", "Mat"]),
        (age_folder / "Demo.age", ["--rename", "Sign=X"]),
    ):
        status, printed, err = run(path, "-o", "", *options)
        assert (status, printed, err) == (2, "", "lumivex: -o takes a file name, not ''\n")
    assert page_file.read_bytes() == sample_page()
    assert page_bytes(age_folder) == pages


def lost_a_key(page_name="Page"):
    """A page whose index announces three layers and holds two: the third's
    bytes are in the page, but no key finds them."""
    layers = [Obj(LAYER, name, layer_body(name, None), object_id=n) for n, name in enumerate("ABC")]
    entry = len(index_entry(layers[0], 0, 0))
    return page(groups=[Group(LAYER, layers, length=4 + 2 * entry + 1)], page_name=page_name)


def test_a_page_that_lost_keys_is_not_edited_over_itself(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(lost_a_key())
    assert lumivex.PrpFile.load(str(path)).lost_keys == 1
    status, printed, err = run(path, "--rename", "A=Z")
    assert (status, printed) == (1, "")
    assert err == (
        f"lumivex: {path}: its index lost 1 key that it announced, whose object an edit would "
        "drop: give -o OUT to write the edited page to another file\n"
    )
    assert path.read_bytes() == lost_a_key()
    status, printed, err = run(path, "--rename", "A=Z", "-o", tmp_path / "out.prp")
    assert status == 0
    assert err == (
        f"lumivex: warning: {path}: its index lost 1 key that it announced, whose object is not "
        "in the edited page\n"
    )
    assert [obj.name for obj in lumivex.PrpFile.load(str(tmp_path / "out.prp"))] == ["Z", "B"]


@pytest.mark.parametrize(
    ("held", "warning"),
    [
        (key_ref("Glass", LAYER), True),
        (key_ref("Stone", LAYER), False),
        (b"", False),
    ],
    ids=["its-name", "another-name", "nothing"],
)
def test_a_rename_warns_of_the_objects_that_may_still_refer_to_the_old_name(
    tmp_path, held, warning
):
    opaque = Obj(0x99, "Opaque", b"\x99\x00" + key_ref("Opaque", 0x99) + held, object_id=1)
    path = tmp_path / "page.prp"
    path.write_bytes(page([*sample_objects(), opaque]))
    status, _, err = run(path, "--rename", "Glass=Window", "--dry-run")
    assert status == 0
    assert err == (
        "lumivex: warning: 1 object may still refer to plLayer:Glass: it holds its name where "
        "lumivex reads no reference (of a class it does not decode, in bytes that do not "
        "decode, or as a text)\n"
        if warning
        else ""
    )


@needs_pillow
@pytest.mark.parametrize("wanted, compression", [("argb", 0), ("dxt1", 1), ("dxt5", 1)])
def test_texture_from_an_image(page_file, tmp_path, wanted, compression):
    from PIL import Image

    image = tmp_path / "paint.png"
    Image.new("RGBA", (8, 8), (200, 100, 50, 255)).save(image)
    out = tmp_path / "out.prp"
    status, printed, err = run(
        page_file, "-o", out, "--texture", f"plMipmap:Stone={image}", "--format", wanted
    )
    assert status == 0, err
    mipmap = objects(out)[("plMipmap", "Stone")].as_mipmap()
    assert (mipmap.width, mipmap.height, mipmap.compression_type) == (8, 8, compression)
    assert mipmap.to_image().getpixel((3, 3))[:3] == pytest.approx((200, 100, 50), abs=8)


@needs_pillow
@pytest.mark.parametrize(
    ("image", "reason"),
    [("missing.png", "No such file or directory"), ("notes.png", "cannot identify image file")],
)
def test_an_image_that_does_not_load_is_named_once(page_file, tmp_path, image, reason):
    (tmp_path / "notes.png").write_text("not an image")
    path = tmp_path / image
    texture = ["--texture", f"plMipmap:Stone={path}", "--format", "dxt1"]
    status, _, err = run(page_file, "-o", tmp_path / "out.prp", *texture)
    assert status == 1
    assert err.startswith(f"lumivex: cannot make plMipmap:Stone from {path}: {reason}")
    assert err.count(str(path)) == 1
    assert not (tmp_path / "out.prp").exists()


# --- what an edit leaves as it was ---------------------------------------------


def records(data):
    """The header, each object's record by class and name, and the index, as
    (start, end) in the bytes of a page in the writer's normal form."""
    loaded = lumivex.PrpFile.from_bytes(data)
    header = loaded.header
    at = header.data_start
    found = {}
    for obj in loaded:
        found[(obj.class_name, obj.name)] = (at, at + obj.data_len)
        at += obj.data_len
    assert at == header.index_start
    return header, found


def test_an_edited_page_differs_only_in_the_edited_records_and_the_index(tmp_path):
    source = os.path.join(SAMPLES, "Demo_District_Town.prp")
    out = tmp_path / "out.prp"
    edits = ["--set", "LampGlass.opacity=0.25", "--remove", "Sign", "--rename", "Lamp02=LampB"]
    assert run(source, "-o", out, *edits)[0] == 0
    before, after = open(source, "rb").read(), out.read_bytes()
    header, old = records(before)
    new_header, new = records(after)
    # The header moves only where the index starts.
    index_start_at = 4 + 4 + 2 + 2 + len(header.age_name) + 2 + len(header.page_name) + 2 + 4 + 4
    assert struct.unpack_from("<I", after, index_start_at) == (new_header.index_start,)
    assert before[:index_start_at] == after[:index_start_at]
    assert (
        before[index_start_at + 4 : header.data_start]
        == after[index_start_at + 4 : header.data_start]
    )
    # The records of the objects an edit names or that refer to them change.
    edited = {("plLayer", "LampGlass"), ("plSceneObject", "Sign"), ("plSceneObject", "Lamp02")}
    referring = {("plResponderModifier", "LampSwitch")}
    unchanged = [name for name in old if name not in edited | referring]
    assert len(unchanged) == len(old) - 4
    for name in unchanged:
        (a, b), (c, d) = old[name], new[name]
        assert before[a:b] == after[c:d], name
    assert ("plSceneObject", "Sign") not in new and ("plSceneObject", "LampB") in new


# --- an age ----------------------------------------------------------------------


@pytest.fixture
def age_folder(tmp_path):
    folder = tmp_path / "age"
    folder.mkdir()
    for name in os.listdir(SAMPLES):
        if name.startswith("Demo"):
            shutil.copy(os.path.join(SAMPLES, name), folder / name)
    return folder


def page_bytes(folder):
    return {name: (folder / name).read_bytes() for name in sorted(os.listdir(folder))}


def problems(age_path):
    return sorted(
        (problem.severity, problem.message)
        for problem in AgeCheck(lumivex.Age.open(str(age_path))).problems()
    )


def test_a_rename_across_an_age_leaves_check_clean_and_diff_shows_only_it(age_folder, tmp_path):
    original = tmp_path / "original"
    shutil.copytree(age_folder, original)
    status, printed, err = run(age_folder / "Demo.age", "--rename", "FountainStone=Stone2")
    assert status == 0, err
    assert "1 reference in its page and 1 reference in 1 other page" in printed
    assert problems(age_folder / "Demo.age") == problems(original / "Demo.age")
    changes = diff(str(original), str(age_folder))
    assert {(change.kind, change.page) for change in changes} == {
        (RENAMED, "Town"),
        (CHANGED, "Town"),
        (CHANGED, "Garden"),
    }
    for change in changes:
        if change.kind == CHANGED:
            assert "FountainStone" in str(change.before) and "Stone2" in str(change.after)
    assert sorted(os.listdir(age_folder)) == sorted(os.listdir(original))


@pytest.mark.parametrize(
    "options, message",
    [
        (["--remove", "Sign"], "--remove needs a page"),
        (["--set", "LampGlass.opacity=1.0"], "--set needs a page"),
        (["--rename", "Sign=X", "-o", "out.prp"], "-o needs a page"),
        (["--rename", "Town:Sign=Town:X"], "without 'Town:' before it"),
    ],
)
def test_an_age_takes_only_renames(age_folder, options, message):
    before = page_bytes(age_folder)
    status, _, err = run(age_folder / "Demo.age", *options)
    assert status == 1 and message in err
    assert page_bytes(age_folder) == before


def test_names_swapped_across_an_age_follow_their_objects(age_folder, tmp_path):
    original = tmp_path / "original"
    shutil.copytree(age_folder, original)
    status, printed, err = run(
        age_folder / "Demo.age",
        "--rename",
        "FountainStone=LampGlass",
        "--rename",
        "LampGlass=FountainStone",
    )
    assert status == 0, err
    assert printed.splitlines()[0] == (
        "renamed plLayer:FountainStone to LampGlass in page Town; "
        "1 reference in its page and 1 reference in 1 other page"
    )
    assert problems(age_folder / "Demo.age") == problems(original / "Demo.age")
    before, after = (
        objects(original / "Demo_District_Town.prp"),
        objects(age_folder / "Demo_District_Town.prp"),
    )
    for old, new in (("FountainStone", "LampGlass"), ("LampGlass", "FountainStone")):
        was, now = before[("plLayer", old)].as_layer(), after[("plLayer", new)].as_layer()
        assert (now.texture_name, now.opacity) == (was.texture_name, was.opacity)
    for name in os.listdir(age_folder):
        assert b"lumivex-rename" not in (age_folder / name).read_bytes()


def test_an_object_renamed_twice_across_an_age_is_named(age_folder):
    before = page_bytes(age_folder)
    status, _, err = run(
        age_folder / "Demo.age",
        "--rename",
        "FountainStone=A",
        "--rename",
        "Town:plLayer:FountainStone=B",
    )
    assert (status, err) == (1, "lumivex: plLayer:FountainStone is renamed twice\n")
    assert page_bytes(age_folder) == before


def test_a_page_of_another_pages_location_stops_a_rename_across_the_age(age_folder):
    town = lumivex.PrpFile.load(str(age_folder / "Demo_District_Town.prp"))
    garden = age_folder / "Demo_District_Garden.prp"
    moved = lumivex.PageBuilder("Demo", "Garden", town.header.sequence_number)
    for obj in lumivex.PrpFile.load(str(garden)):
        moved.add(obj.class_type, obj.name, obj.data)
    moved.save(str(garden))
    before = page_bytes(age_folder)
    status, _, err = run(age_folder / "Demo.age", "--rename", "Fountain=Well")
    assert (status, err) == (
        1,
        "lumivex: cannot rename plSceneObject:Fountain: page Garden has the location of page "
        "Town, so their references cannot be told apart\n",
    )
    assert page_bytes(age_folder) == before


@pytest.mark.parametrize("name", ["Town:Fountain", "Town:plSceneObject:Fountain"])
def test_pages_sharing_a_name_are_told_apart_by_the_page(age_folder, name):
    garden = age_folder / "Demo_District_Garden.prp"
    builder = lumivex.PageBuilder.from_page(lumivex.PrpFile.load(str(garden)))
    builder.rename(next(key for key in builder if key.name == "Tree01"), "Fountain")
    builder.save(str(garden))
    before = page_bytes(age_folder)
    status, _, err = run(age_folder / "Demo.age", "--rename", "Fountain=Well")
    assert status == 1
    assert (
        "'Fountain' names 2 objects: Town:plSceneObject:Fountain, Garden:plSceneObject:Fountain"
        in err
    )
    assert page_bytes(age_folder) == before
    status, _, err = run(age_folder / "Demo.age", "--rename", f"{name}=Well")
    assert status == 0, err
    town = lumivex.PrpFile.load(str(age_folder / "Demo_District_Town.prp"))
    garden = lumivex.PrpFile.load(str(garden))
    assert town.find("Well", "plSceneObject") and not town.find("Fountain", "plSceneObject")
    assert garden.find("Fountain", "plSceneObject") and not garden.find("Well", "plSceneObject")


def test_a_rename_across_an_age_leaves_a_page_that_lost_keys(tmp_path):
    (tmp_path / "Yard.age").write_text("Page=Lawn,1\n")
    lawn = tmp_path / "Yard_District_Lawn.prp"
    lawn.write_bytes(lost_a_key("Lawn"))
    status, printed, err = run(tmp_path / "Yard.age", "--rename", "A=Z")
    assert (status, printed) == (1, "")
    assert err.endswith(
        f"lumivex: {lawn}: its index lost 1 key that it announced, whose object the rename "
        "would drop; nothing was written\n"
    )
    assert lawn.read_bytes() == lost_a_key("Lawn")


def test_a_page_of_the_age_that_became_a_fifo_is_not_waited_on(age_folder):
    cavern = age_folder / "Demo_District_Cavern.prp"
    cavern.unlink()
    os.mkfifo(cavern)
    result = subprocess.run(
        [sys.executable, "-m", "lumivex", "edit", str(age_folder), "--rename", "Sign=Board"],
        capture_output=True,
        env=child_env(),
        timeout=60,
    )
    assert result.returncode == 0, result.stderr.decode()
    assert result.stderr.decode().startswith(
        f'lumivex: warning: page Cavern is not searched: Failed to read "{cavern}": '
        "not a regular file\n"
    )


@pytest.mark.parametrize("dry_run", [[], ["--dry-run"]], ids=["save", "dry-run"])
def test_a_hard_linked_page_refuses_the_rename_unless_in_place(age_folder, tmp_path, dry_run):
    os.link(age_folder / "Demo_District_Garden.prp", tmp_path / "other.prp")
    before = page_bytes(age_folder)
    status, _, err = run(age_folder / "Demo.age", "--rename", "FountainStone=Stone2", *dry_run)
    assert status == 1
    assert "Demo_District_Garden.prp" in err and "other names (hard links)" in err
    assert page_bytes(age_folder) == before
    # A dry run foresees the save, and writes nothing even where it is allowed.
    dry = run(
        age_folder / "Demo.age", "--rename", "FountainStone=Stone2", "--in-place", "--dry-run"
    )
    assert dry[0] == 0 and page_bytes(age_folder) == before
    assert run(age_folder / "Demo.age", "--rename", "FountainStone=Stone2", "--in-place")[0] == 0
    assert (tmp_path / "other.prp").read_bytes() == (
        age_folder / "Demo_District_Garden.prp"
    ).read_bytes()
    assert (tmp_path / "other.prp").read_bytes() != before["Demo_District_Garden.prp"]


def test_a_page_that_became_a_folder_leaves_every_page(age_folder):
    garden = age_folder / "Demo_District_Garden.prp"
    data = garden.read_bytes()
    garden.unlink()
    garden.mkdir()
    town = (age_folder / "Demo_District_Town.prp").read_bytes()
    with pytest.raises(IsADirectoryError, match="no file was changed"):
        lumivex.save_files([(age_folder / "Demo_District_Town.prp", b"new"), (garden, data)])
    assert (age_folder / "Demo_District_Town.prp").read_bytes() == town
    assert not [name for name in os.listdir(age_folder) if TEMPORARY_MARK in name]


# Writes stop between the sizes of the two pages: the larger temporary file
# fails, after the smaller one was written.
LIMITED_EDIT = """
import resource, signal, sys
from lumivex.cli import main
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (int(sys.argv[1]), int(sys.argv[1])))
sys.exit(main(["edit", *sys.argv[2:]]))
"""


def child_env():
    return dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(lumivex.__file__)))


def test_a_full_disk_leaves_every_page(age_folder):
    before = page_bytes(age_folder)
    limit = (len(before["Demo_District_Garden.prp"]) + len(before["Demo_District_Town.prp"])) // 2
    result = subprocess.run(
        [sys.executable, "-c", LIMITED_EDIT, str(limit), str(age_folder / "Demo.age")]
        + ["--rename", "FountainStone=Stone2"],
        capture_output=True,
        env=child_env(),
        timeout=60,
    )
    assert result.returncode == 1
    assert "no file was changed" in result.stderr.decode()
    assert page_bytes(age_folder) == before


NOBODY = 65534
DROP_ROOT = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"]


@pytest.mark.parametrize("in_place", [False, True])
def test_a_closed_folder_without_capabilities(in_place):
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        pytest.skip("needs root and setpriv to make a folder of another user")
    folder = tempfile.mkdtemp()
    try:
        for name in os.listdir(SAMPLES):
            if name.startswith("Demo"):
                shutil.copy(os.path.join(SAMPLES, name), folder)
                os.chmod(os.path.join(folder, name), 0o666)
        os.chmod(folder, 0o755)
        os.chown(folder, NOBODY, NOBODY)
        before = {
            name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)
        }
        command = [*DROP_ROOT, sys.executable, "-m", "lumivex", "edit"]
        command += [os.path.join(folder, "Demo.age"), "--rename", "FountainStone=Stone2"]
        result = subprocess.run(
            command + (["--in-place"] if in_place else []),
            capture_output=True,
            env=child_env(),
            timeout=60,
        )
        after = {name: open(os.path.join(folder, name), "rb").read() for name in os.listdir(folder)}
        if in_place:
            assert result.returncode == 0, result.stderr.decode()
            assert after["Demo_District_Town.prp"] != before["Demo_District_Town.prp"]
            assert after["Demo_District_Garden.prp"] != before["Demo_District_Garden.prp"]
        else:
            assert result.returncode == 1
            assert "its folder takes no new files" in result.stderr.decode()
            assert after == before
    finally:
        shutil.rmtree(folder)


@pytest.mark.parametrize("exists", [True, False], ids=["existing", "new"])
@pytest.mark.parametrize(
    "other",
    [
        lambda folder: str(folder / "a"),
        lambda folder: folder / "." / "a",
        lambda folder: folder / "sub" / ".." / "a",
        lambda folder: folder / "link",
    ],
    ids=["the same path", "through .", "through ..", "through a link"],
)
def test_save_files_refuses_one_file_named_twice(tmp_path, exists, other):
    (tmp_path / "sub").mkdir()
    (tmp_path / "link").symlink_to("a")
    if exists:
        (tmp_path / "a").write_bytes(b"old")
    before = sorted(os.listdir(tmp_path))
    with pytest.raises(OSError, match="names the file"):
        lumivex.save_files([(tmp_path / "a", b"1"), (other(tmp_path), b"2")])
    assert sorted(os.listdir(tmp_path)) == before
    assert not exists or (tmp_path / "a").read_bytes() == b"old"


@pytest.mark.parametrize("dry_run", [False, True])
@pytest.mark.parametrize(
    "spelling", [str, os.fsencode, lambda path: path], ids=["str", "bytes", "Path"]
)
def test_a_failure_of_save_files_names_its_file(tmp_path, dry_run, spelling):
    missing = spelling(tmp_path / "no folder" / "b")
    with pytest.raises(FileNotFoundError) as raised:
        lumivex.save_files([(tmp_path / "a", b"new"), (missing, b"new")], dry_run=dry_run)
    assert raised.value.filename == os.fspath(missing)
    assert os.listdir(tmp_path) == []


def test_a_dry_run_of_save_files_writes_nothing_and_leaves_no_file(tmp_path):
    (tmp_path / "a").write_bytes(b"old")
    lumivex.save_files([(tmp_path / "a", b"new"), (tmp_path / "b", b"new")], dry_run=True)
    assert sorted(os.listdir(tmp_path)) == ["a"]
    assert (tmp_path / "a").read_bytes() == b"old"
    (tmp_path / "folder").mkdir()
    with pytest.raises(IsADirectoryError):
        lumivex.save_files([(tmp_path / "a", b"new"), (tmp_path / "folder", b"new")], dry_run=True)
    assert sorted(os.listdir(tmp_path)) == ["a", "folder"]


@needs_pillow
@pytest.mark.parametrize(
    "name, compression, dxt_type",
    [("Tiles_DXT1", 1, 1), ("Tiles_DXT5", 1, 5), ("Tiles_ARGB32", 0, 0)],
)
def test_a_sample_texture_keeps_its_own_format(tmp_path, name, compression, dxt_type):
    from PIL import Image

    image = tmp_path / "paint.png"
    Image.new("RGBA", (16, 16), (10, 200, 30, 255)).save(image)
    out = tmp_path / "out.prp"
    source = os.path.join(SAMPLES, "Demo_District_Town.prp")
    status, printed, err = run(source, "-o", out, "--texture", f"{name}={image}")
    assert status == 0, err
    assert printed.startswith(f"texture plMipmap:{name}: {image}, 16x16, 5 levels\n")
    mipmap = objects(out)[("plMipmap", name)].as_mipmap()
    assert (mipmap.compression_type, mipmap.dxt_type, mipmap.num_levels) == (
        compression,
        dxt_type,
        5,
    )
