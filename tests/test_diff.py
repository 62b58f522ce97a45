"""lumivex diff and lumivex.diff: each kind of change between two pages or
two ages is found once, and nothing else is: equal bytes are never
compared, floats are compared by their stored bits, derived values stay out
unless asked for."""

import contextlib
import io
import json
import math
import os
import re
import shlex
import struct
import subprocess
import sys
from pathlib import Path

import lumivex
import pytest
from lumivex.cli import main
from lumivex.diff import first_difference, same
from lumivex.shapes import json_schema

from fixtures.builder import Obj, i16, key_ref, page, u32
from fixtures.object_bodies import LAYER, MATERIAL, layer_body, material_body

COORD = 0x0015
SEQUENCE = 0x00640021


def layer(name="LampGlass", opacity=0.5, texture="Glass*1#0.hsm"):
    return Obj(LAYER, name, layer_body(name, texture=texture, opacity=opacity))


def coordinate(name="Lamp", payload=b"\x01\x02\x03\x04"):
    return Obj(COORD, name, i16(COORD) + key_ref(name, COORD) + u32(0) + payload)


def material(name="Glass", layers=("LampGlass",)):
    return Obj(MATERIAL, name, material_body(layers))


def here(name):
    """A reference to a layer of the page."""
    return key_ref(name, LAYER, location_sequence=SEQUENCE)


def district(*objects, **options):
    options = {"page_name": "District", "sequence_number": SEQUENCE, **options}
    return page(list(objects) or [layer(), coordinate(), material()], **options)


def loaded(data):
    return lumivex.PrpFile.from_bytes(data)


def run(*args):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(io.StringIO()):
        status = main(["diff", *map(str, args)])
    return status, out.getvalue()


def write_pages(tmp_path, a, b):
    (tmp_path / "a.prp").write_bytes(a)
    (tmp_path / "b.prp").write_bytes(b)
    return tmp_path / "a.prp", tmp_path / "b.prp"


def test_a_page_against_itself_is_the_same(tmp_path):
    a, _ = write_pages(tmp_path, district(), district())
    assert lumivex.diff(a, a) == []
    for options in ((), ("--stat",), ("--all",)):
        assert run(a, a, *options) == (0, "")


def test_one_changed_field_is_one_line_under_its_page(tmp_path):
    a, b = write_pages(
        tmp_path,
        district(layer(opacity=0.5), coordinate(), material()),
        district(layer(opacity=0.25), coordinate(), material()),
    )
    assert lumivex.diff(a, b) == [
        lumivex.Change("changed", "District", "plLayer", "LampGlass", "opacity", 0.5, 0.25)
    ]
    assert run(a, b) == (1, "page District\n  plLayer LampGlass: opacity 0.5 -> 0.25\n")
    status, text = run(a, b, "--json")
    record = json.loads(text)
    assert (status, record["change_count"], record["page_count"]) == (1, 1, 1)
    assert record["changes"][0]["after"] == 0.25


def test_names_that_are_not_printable_are_escaped(tmp_path):
    a, b = write_pages(
        tmp_path,
        district(layer("Lamp\nGlass\u202e", opacity=0.5), page_name="Dis\rtrict"),
        district(layer("Lamp\nGlass\u202e", opacity=0.25), page_name="Dis\rtrict"),
    )
    assert run(a, b)[1].splitlines() == [
        "page Dis\\rtrict",
        "  plLayer Lamp\\nGlass\\u202e: opacity 0.5 -> 0.25",
    ]


def test_floats_compare_by_their_stored_bits():
    assert not same(0.0, -0.0)
    assert same(math.nan, math.nan)
    assert same([1.0, math.nan], [1.0, math.nan])
    assert not same([1.0], [1.0, 2.0])
    assert not same(1, True)


def test_a_sign_of_zero_is_a_change():
    changes = lumivex.diff(
        loaded(district(layer(opacity=0.0))), loaded(district(layer(opacity=-0.0)))
    )
    assert [(c.field, math.copysign(1, c.after)) for c in changes] == [("opacity", -1)]


def test_objects_only_on_one_side_and_renames():
    a = district(layer("Kept"), coordinate("Moved"), coordinate("Gone", b"\x09"), layer("Old"))
    b = district(layer("Kept"), coordinate("Moved2"), layer("New", texture="Other"))
    changes = lumivex.diff(loaded(a), loaded(b))
    assert [
        (c.kind, c.class_name, c.name, c.before, c.after) for c in changes if c.kind != "removed"
    ] == [
        ("renamed", "plCoordinateInterface", "Moved", "Moved", "Moved2"),
        ("added", "plLayer", "New", None, loaded(b).find("New")[0].key),
    ]
    assert sorted(c.name for c in changes if c.kind == "removed") == ["Gone", "Old"]


def test_stat_counts_in_words_that_agree_with_them(tmp_path):
    a = district(layer("Kept"), coordinate("Moved"), coordinate("Gone", b"\x09"), layer("Old"))
    b = district(layer("Kept"), coordinate("Moved2"), layer("New", texture="Other"))
    (tmp_path / "a.prp").write_bytes(a)
    (tmp_path / "b.prp").write_bytes(b)
    assert run(tmp_path / "a.prp", tmp_path / "b.prp", "--stat") == (
        1,
        "page District: 2 objects only in A, 1 object only in B, 1 renamed object\n",
    )


def test_a_rename_keeps_the_class():
    """Bodies equal apart from the name but held by objects of two classes
    (the class index inside a body is not what pairs them) are no rename."""
    body = coordinate("Same").body
    a = district(Obj(COORD, "Same", body))
    b = district(Obj(LAYER, "Other", body))
    changes = lumivex.diff(loaded(a), loaded(b))
    assert sorted(c.kind for c in changes) == ["added", "removed"]


@pytest.mark.parametrize(
    "key",
    [
        {},
        {"load_mask": 0x21},
        {"clone_id": 2, "clone_player_id": 5},
        {"load_mask": 0, "clone_id": 1},
    ],
    ids=["plain", "load mask", "clone", "both"],
)
def test_a_rename_is_found_whatever_the_key_holds(key):
    def moved(name):
        return Obj(COORD, name, i16(COORD) + key_ref(name, COORD, **key) + u32(0) + b"\x05")

    changes = lumivex.diff(loaded(district(moved("Moved"))), loaded(district(moved("Moved2"))))
    assert [(c.kind, c.before, c.after) for c in changes] == [("renamed", "Moved", "Moved2")]


def test_objects_of_one_class_and_name_pair_in_index_order():
    a = district(layer("Twin", 0.1), layer("Twin", 0.2))
    b = district(layer("Twin", 0.1), layer("Twin", 0.3), layer("Twin", 0.4))
    changes = lumivex.diff(loaded(a), loaded(b))
    assert [(c.kind, c.field) for c in changes] == [("changed", "opacity"), ("added", None)]
    assert same(changes[0].after, 0.3)


def test_pairs_that_differ_and_the_objects_left_keep_their_pages_order():
    a = district(layer("Twin", 0.1), coordinate("Same"), layer("Gone"), layer("Twin", 0.2))
    b = district(
        layer("New"),
        layer("Newer", texture="Other"),
        layer("Twin", 0.1),
        coordinate("Same"),
        layer("Twin", 0.3),
        layer("Twin"),
    )
    # The index holds the layers, then the coordinate interface.
    assert [obj.name for obj in loaded(b)] == ["New", "Newer", "Twin", "Twin", "Twin", "Same"]
    pairs = lumivex._lumivex._paired_objects(loaded(a), loaded(b))
    # Only the second twins differ; Gone, and New, Newer and the third twin, are left.
    assert pairs == ([(2, 3)], [1], [0, 1, 4])
    changes = [(c.kind, c.name, c.after) for c in lumivex.diff(loaded(a), loaded(b))]
    assert changes[:2] == [("changed", "Twin", pytest.approx(0.3)), ("renamed", "Gone", "New")]
    assert [(kind, name) for kind, name, _ in changes[2:]] == [
        ("added", "Newer"),
        ("added", "Twin"),
    ]


def test_a_class_without_decoder_by_size_and_first_difference(tmp_path):
    a, b = write_pages(
        tmp_path,
        district(coordinate(payload=b"\x01\x02")),
        district(coordinate(payload=b"\x01\x07\x00")),
    )
    (change,) = lumivex.diff(a, b)
    assert change.kind == "data" and change.before is not None
    offset = first_difference(change.before, change.after)
    assert change.before[:offset] == change.after[:offset] and offset == len(change.before) - 1
    assert run(a, b)[1].splitlines()[1] == (
        f"  plCoordinateInterface Lamp: {len(change.before)} -> {len(change.after)} bytes, "
        f"first difference at offset {offset}"
    )


@pytest.mark.parametrize(
    ("a", "b"),
    [
        # A reference no field of the view shows.
        (layer_body("LampGlass", under="Under"), layer_body("LampGlass", under="Other")),
        # Neither side decodes.
        (layer_body("LampGlass")[:-3], layer_body("LampGlass")[:-4]),
        # Only a derived value differs: the view's name, read from the body.
        (layer_body("LampGlass"), layer_body("LampGlas2")),
    ],
    ids=["unshown", "undecodable", "derived"],
)
def test_decodable_objects_without_a_shown_change_differ_by_bytes(tmp_path, a, b):
    a, b = write_pages(
        tmp_path, district(Obj(LAYER, "LampGlass", a)), district(Obj(LAYER, "LampGlass", b))
    )
    assert [c.kind for c in lumivex.diff(a, b)] == ["data"]
    (record,) = json.loads(run(a, b, "--json")[1])["changes"]
    assert record["before"] == len(lumivex.PrpFile.load(a)[0].data)
    assert record["offset"] == first_difference(
        lumivex.PrpFile.load(a)[0].data, lumivex.PrpFile.load(b)[0].data
    )


def test_a_key_of_the_index_that_differs_is_a_change(tmp_path):
    """Bytes that are the same under keys that are not: the ids that
    references carry differ."""
    body = layer_body("LampGlass")
    a, b = write_pages(
        tmp_path,
        district(Obj(LAYER, "LampGlass", body, object_id=2)),
        district(Obj(LAYER, "LampGlass", body, object_id=3, load_mask=0x0F)),
    )
    assert [(c.kind, c.field, c.before, c.after) for c in lumivex.diff(a, b)] == [
        ("changed", "load_mask", 255, 15),
        ("changed", "object_id", 2, 3),
    ]
    assert run(a, b) == (
        1,
        "page District\n  plLayer LampGlass: load_mask 255 -> 15\n"
        "  plLayer LampGlass: object_id 2 -> 3\n",
    )
    assert run(a, b, "--stat") == (1, "page District: 2 changed fields\n")


@pytest.mark.parametrize(
    ("before", "after", "offset"),
    [
        (b"", b"", 0),
        (b"abc", b"abc", 3),
        (b"abc", b"abd", 2),
        (b"ab", b"abc", 2),
        (b"x" * 1000 + b"y", b"x" * 1001, 1000),
    ],
)
def test_first_difference(before, after, offset):
    assert first_difference(before, after) == offset


def test_derived_values_only_with_all(tmp_path):
    a, b = write_pages(
        tmp_path,
        district(material(layers=(here("Base"), "Detail"))),
        district(material(layers=("Detail", "Top"))),
    )
    (change,) = lumivex.diff(a, b)
    assert (change.field, [k.name for k in change.after]) == ("layer_keys", ["Detail", "Top"])
    shown = [c.field for c in lumivex.diff(a, b, all_fields=True)]
    assert shown == ["index_start", "layer_names", "layer_keys"]
    line = run(a, b)[1].splitlines()[1]
    assert (
        line
        == "  hsGMaterial Glass: layer_keys -plLayer Base (District), +plLayer Top (0x00000000)"
    )


def test_header_fields(tmp_path):
    a, b = write_pages(tmp_path, district(), district(flags=4, checksum=9))
    assert [(c.kind, c.field, c.before, c.after) for c in lumivex.diff(a, b)] == [
        ("header", "flags", 0, 4),
        ("header", "checksum", 0, 9),
    ]
    assert run(a, b, "--stat") == (1, "page District: 2 header fields\n")
    # Written as info writes them.
    assert run(a, b)[1].splitlines()[1:] == [
        "  header flags: 0x0000 -> 0x0004",
        "  header checksum: 0x00000000 -> 0x00000009",
    ]


def write_age(folder, pages, settings="SequencePrefix=100\n", entries=None):
    folder.mkdir()
    if entries is None:
        entries = "".join(f"Page={name},{n}\n" for n, name in enumerate(pages))
    (folder / "Demo.age").write_text(settings + entries)
    for name, data in pages.items():
        (folder / f"Demo_District_{name}.prp").write_bytes(data)
    return folder


def test_ages_pair_pages_by_the_names_in_their_headers(tmp_path):
    town = district(page_name="Town")
    a = write_age(tmp_path / "a", {"Town": town, "Yard": district(page_name="Yard")})
    b = write_age(
        tmp_path / "b",
        {
            "Town": town,
            "Cave": district(layer(opacity=1.0), coordinate(), material(), page_name="Cave"),
        },
    )
    changes = lumivex.diff(a, b / "Demo.age")
    assert [(c.kind, c.page, c.class_name) for c in changes] == [
        ("removed", "Yard", None),
        ("added", "Cave", None),
    ]
    assert run(a, b) == (1, "page Yard: only in A\npage Cave: only in B\n")
    assert run(a, a / "Demo.age") == (0, "")


@pytest.mark.parametrize("spelling", [str, os.fsencode, Path], ids=["str", "bytes", "Path"])
@pytest.mark.parametrize("whole", ["page", "age file", "age folder"])
def test_sides_are_paths_of_any_spelling(tmp_path, spelling, whole):
    # A folder whose name is no UTF-8, as a bytes path keeps it.
    folder = os.fsdecode(bytes(tmp_path) + b"/f\xff")
    os.mkdir(folder)
    a = write_age(Path(folder) / "a", {"Town": district(page_name="Town")})
    b = write_age(
        Path(folder) / "b",
        {"Town": district(layer(opacity=1.0), coordinate(), material(), page_name="Town")},
    )
    sides = {
        "page": (a / "Demo_District_Town.prp", b / "Demo_District_Town.prp"),
        "age file": (a / "Demo.age", b / "Demo.age"),
        "age folder": (a, b),
    }[whole]
    changes = lumivex.diff(*(spelling(side) for side in sides))
    assert [(c.kind, c.name, c.field) for c in changes] == [("changed", "LampGlass", "opacity")]


@pytest.mark.parametrize("suffix", [".age", ".AGE", ".Age"])
def test_an_age_file_is_told_by_its_suffix_in_any_case(tmp_path, suffix):
    sides = []
    for side, capacity in (("a", 10), ("b", 12)):
        folder = write_age(tmp_path / side, {"Town": district(page_name="Town")})
        (folder / "Demo.age").rename(folder / f"Demo{suffix}")
        (folder / f"Demo{suffix}").write_text(f"MaxCapacity={capacity}\nPage=Town,0\n")
        sides.append(folder / f"Demo{suffix}")
    assert lumivex.diff(*sides) == [
        lumivex.Change("age", "Demo", None, None, "max_capacity", 10, 12)
    ]


def test_a_page_listed_twice_pairs_its_entries_in_file_order_and_its_file_once(tmp_path):
    town = district(page_name="Town")
    a = write_age(tmp_path / "a", {"Town": town}, entries="Page=Town,0\nPage=Town,1\n")
    b = write_age(tmp_path / "b", {"Town": town}, entries="Page=Town,0\nPage=Town,2\n")
    assert lumivex.diff(a, b) == [lumivex.Change("age", "Demo", None, "Town", "seq_suffix", 1, 2)]
    assert run(a, b) == (1, "age Demo\n  page entry Town: seq_suffix 1 -> 2\n")


@pytest.mark.parametrize("times_a, times_b", [(1, 2), (3, 1)])
def test_a_page_listed_more_times_on_one_side_is_a_change(tmp_path, times_a, times_b):
    town = district(page_name="Town")
    sides = [
        write_age(tmp_path / side, {"Town": town}, entries="Page=Town,0\n" * times)
        for side, times in (("a", times_a), ("b", times_b))
    ]
    assert lumivex.diff(*sides) == [
        lumivex.Change("age", "Demo", None, "Town", "times_listed", times_a, times_b)
    ]
    assert run(*sides) == (1, f"age Demo\n  page entry Town: times_listed {times_a} -> {times_b}\n")


def test_an_age_page_file_renamed_still_pairs_by_header(tmp_path):
    yard = district(page_name="Yard")
    a = write_age(tmp_path / "a", {"Yard": yard})
    b = write_age(tmp_path / "b", {"Garden": yard})
    assert lumivex.diff(a, b) == []


def test_age_descriptions_settings_and_page_lists(tmp_path):
    town = district(page_name="Town")
    cave = district(page_name="Cave")
    a = write_age(
        tmp_path / "a",
        {"Town": town, "Yard": district(page_name="Yard"), "Cave": cave},
        "SequencePrefix=100\nDayLength=24\nLingerTime=180\n",
        "Page=Town,0\nPage=Yard,1\nPage=Cave,2,1\n",
    )
    b = write_age(
        tmp_path / "b",
        {"Town": town, "Cave": cave, "Hill": district(page_name="Hill")},
        "SequencePrefix=101\nDayLength=30.5\nLingerTime=180\nReleaseVersion=2\n",
        "Page=Town,0\nPage=Cave,3,0\nPage=Hill,4\n",
    )
    assert lumivex.diff(a, b) == [
        lumivex.Change("age", "Demo", None, None, "sequence_prefix", 100, 101),
        lumivex.Change("age", "Demo", None, None, "day_length", 24.0, 30.5),
        lumivex.Change("age", "Demo", None, None, "release_version", 0, 2),
        lumivex.Change("age", "Demo", None, "Cave", "seq_suffix", 2, 3),
        lumivex.Change("age", "Demo", None, "Cave", "flags", 1, 0),
        lumivex.Change("removed", "Yard", None, None, None, "Yard", None),
        lumivex.Change("added", "Hill", None, None, None, None, "Hill"),
    ]
    assert run(a, b) == (
        1,
        "age Demo\n"
        "  setting sequence_prefix: 100 -> 101\n"
        "  setting day_length: 24.0 -> 30.5\n"
        "  setting release_version: 0 -> 2\n"
        "  page entry Cave: seq_suffix 2 -> 3\n"
        "  page entry Cave: flags 1 -> 0\n"
        "page Yard: only in A\n"
        "page Hill: only in B\n",
    )
    assert run(a, b, "--stat") == (
        1,
        "age Demo: 5 age description changes\npage Yard: only in A\npage Hill: only in B\n",
    )
    shown = json.loads(run(a, b, "--json")[1])
    assert (shown["change_count"], shown["page_count"]) == (7, 2)
    assert shown["changes"][1] == {
        "kind": "age",
        "page": "Demo",
        "class_name": None,
        "name": None,
        "field": "day_length",
        "before": 24.0,
        "after": 30.5,
    }
    jsonschema = pytest.importorskip("jsonschema")
    jsonschema.Draft202012Validator(json_schema("diff")).validate(shown)


def test_an_age_changed_in_its_description_and_a_page(tmp_path):
    a = write_age(tmp_path / "a", {"Town": district(page_name="Town")}, "MaxCapacity=10\n")
    b = write_age(
        tmp_path / "b", {"Town": district(layer(opacity=1.0), page_name="Town")}, "MaxCapacity=12\n"
    )
    assert run(a, b)[1] == (
        "age Demo\n  setting max_capacity: 10 -> 12\npage Town\n"
        "  plLayer LampGlass: opacity 0.5 -> 1.0\n"
        "  only in A: plCoordinateInterface Lamp\n"
        "  only in A: hsGMaterial Glass\n"
    )
    shown = json.loads(run(a, b, "--json")[1])
    assert (shown["change_count"], shown["page_count"]) == (4, 1)


def test_stat_and_json_exclude_each_other(tmp_path, capsys):
    a, b = write_pages(tmp_path, district(), district(flags=4))
    assert main(["diff", "--stat", "--json", str(a), str(b)]) == 2
    assert "not allowed with argument" in capsys.readouterr().err


@pytest.mark.parametrize("b", ["missing.prp", "a"])
def test_errors_are_status_2(tmp_path, b):
    a = tmp_path / "a.prp"
    a.write_bytes(district())
    write_age(tmp_path / "a", {"Town": district(page_name="Town")})
    assert run(a, tmp_path / b)[0] == 2


def test_two_pages_of_one_age_holding_one_page_name_are_an_error(tmp_path, capsys):
    town = district(page_name="Town")
    a = write_age(tmp_path / "a", {"Town": town, "Yard": town})
    b = write_age(tmp_path / "b", {"Town": town, "Yard": district(page_name="Yard")})
    assert main(["diff", str(a), str(b)]) == 2
    assert "both hold page 'Town'" in capsys.readouterr().err


@pytest.mark.parametrize("shown", [[], ["--stat"], ["--json"]])
def test_ages_whose_pages_fail_to_pair_print_only_the_error(tmp_path, capsys, shown):
    town = district(page_name="Town")
    a = write_age(tmp_path / "a", {"Town": town}, settings="MaxCapacity=10\n")
    b = write_age(tmp_path / "b", {"Town": town, "Yard": town}, settings="MaxCapacity=12\n")
    assert main(["diff", *shown, str(a), str(b)]) == 2
    printed = capsys.readouterr()
    assert printed.out == "" and "both hold page 'Town'" in printed.err


def test_a_page_of_an_age_that_became_a_fifo_is_an_error_not_a_wait(tmp_path):
    town = district(page_name="Town")
    a = write_age(tmp_path / "a", {"Town": town})
    b = write_age(tmp_path / "b", {"Town": town})
    (b / "Demo_District_Town.prp").unlink()
    os.mkfifo(b / "Demo_District_Town.prp")
    result = subprocess.run(
        [sys.executable, "-m", "lumivex", "diff", str(a), str(b)], capture_output=True, timeout=60
    )
    assert (result.returncode, result.stdout) == (2, b"")
    assert result.stderr.decode() == (
        f'lumivex: Failed to read "{b / "Demo_District_Town.prp"}": not a regular file\n'
    )


# diff fails with 2, as diff(1) does; check with 1, as for any error.
@pytest.mark.parametrize(("command", "status"), [(["diff", "a"], 2), (["check"], 1)])
def test_a_fifo_named_as_the_age_of_a_folder_is_an_error_not_a_wait(tmp_path, command, status):
    write_age(tmp_path / "a", {"Town": district(page_name="Town")})
    (tmp_path / "b").mkdir()
    os.mkfifo(tmp_path / "b" / "Demo.age")
    result = subprocess.run(
        [sys.executable, "-m", "lumivex", *command, "b"],
        capture_output=True,
        timeout=60,
        cwd=tmp_path,
    )
    assert (result.returncode, result.stdout) == (status, b"")
    assert result.stderr.decode() == (
        f"lumivex: Failed to read {os.path.join('b', 'Demo.age')}: not a regular file\n"
    )


def test_the_readme_shows_the_real_output(tmp_path, monkeypatch):
    root = Path(__file__).resolve().parent.parent
    readme = (root / "README.md").read_text(encoding="utf-8")
    blocks = re.findall(r"^```text\n(.*?)^```$", readme, re.MULTILINE | re.DOTALL)
    (block,) = [block for block in blocks if block.startswith("$ lumivex diff")]
    monkeypatch.chdir(tmp_path)
    town = (root / "samples" / "Demo_District_Town.prp").read_bytes()
    body = loaded(town).find("LampGlass", "plLayer")[0].data
    at = town.index(body) + body.rindex(struct.pack("<f", 0.5))
    (tmp_path / "samples").symlink_to(root / "samples")
    (tmp_path / "edited.prp").write_bytes(town[:at] + struct.pack("<f", 0.25) + town[at + 4 :])
    for command in block.split("$ ")[1:]:
        line, _, output = command.partition("\n")
        assert run(*shlex.split(line)[2:]) == (1, output)
