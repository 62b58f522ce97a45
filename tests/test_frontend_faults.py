"""The command and lumivex.Age where a small slip would go unseen: the text
report of lumivex check beside its JSON, a header that names the right age
but another page, pages and ages found whatever the case of their suffix,
the first of two objects sharing class and name, and the arguments and
values the other commands read and print at the edges of their ranges."""

import contextlib
import io
import json
import os

import lumivex
import pytest
from lumivex.cli import main

from fixtures.builder import Obj, key_ref, page
from fixtures.object_bodies import LAYER, MATERIAL, MIPMAP, layer_body, material_body, mipmap_body
from fixtures.texture_bodies import DXT1, texture_body

TOWN, GARDEN, FAR = 0x5E0001, 0x5E0002, 0x10001


def run(*argv):
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = main([str(arg) for arg in argv])
    return status, out.getvalue(), err.getvalue()


def town_page(*extra, page_name="Town"):
    stone = key_ref("Stone", MIPMAP, 1, location_sequence=TOWN)
    objects = [
        Obj(MIPMAP, "Stone", mipmap_body("Stone"), object_id=1, location_sequence=TOWN),
        Obj(LAYER, "StoneLayer", layer_body("StoneLayer", stone, under=None), 1, TOWN),
        *extra,
    ]
    return page(objects, age="Demo", page_name=page_name, sequence_number=TOWN)


def garden_page(*layers, page_name="Garden"):
    layers = layers or (key_ref("StoneLayer", LAYER, 1, location_sequence=TOWN),)
    hedge = Obj(MATERIAL, "Hedge", material_body(list(layers)), 1, GARDEN)
    return page([hedge], age="Demo", page_name=page_name, sequence_number=GARDEN)


def age_folder(folder, town=None, garden=None, age_file="Demo.age"):
    """An age of a town and a garden page, sound unless told otherwise."""
    (folder / age_file).write_text("SequencePrefix=94\nPage=Town,1\nPage=Garden,2\n")
    (folder / "Demo_District_Town.prp").write_bytes(town or town_page())
    (folder / "Demo_District_Garden.prp").write_bytes(garden or garden_page())
    return folder / age_file


@pytest.fixture
def problems_1_2_3(tmp_path):
    """An age with one error, two warnings and three notes."""
    path = age_folder(
        tmp_path,
        garden=garden_page(
            key_ref("StoneLayer", LAYER, 1, location_sequence=TOWN),
            key_ref("Nothing", LAYER, 7, location_sequence=TOWN),
            *(key_ref("Far", LAYER, 1, location_sequence=FAR + n) for n in range(3)),
        ),
    )
    (tmp_path / "Demo_District_Attic.PRP").write_bytes(b"")
    (tmp_path / "Demo_District_Cellar.prp").write_bytes(b"")
    return path


def test_check_text_shows_errors_and_warnings_and_leaves_notes_to_verbose(problems_1_2_3):
    folder = problems_1_2_3.parent
    head = f"{problems_1_2_3}: age Demo, 2 pages, 3 objects"
    error = "  error    Hedge (hsGMaterial) layer_keys[1]: "
    error += 'Uoid(S:0x5e0001 F:0x0 T:0x0006 I:7 N:"Nothing" C:[0,0]) finds no object'
    notes = [
        f"  note     Hedge (hsGMaterial) layer_keys[{n + 2}]: "
        f'Uoid(S:0x{FAR + n:x} F:0x0 T:0x0006 I:1 N:"Far" C:[0,0]) is in location '
        f"0x{FAR + n:08X}, which no page of this age holds"
        for n in range(3)
    ]
    warnings = [
        f"  warning  page file {folder / name} is named after this age but not listed"
        for name in ["Demo_District_Attic.PRP", "Demo_District_Cellar.prp"]
    ]
    summary = "summary: 1 error, 2 warnings, 3 notes"
    assert run("check", problems_1_2_3) == (
        1,
        "\n".join(
            [head, "page Garden", error, "the age", *warnings, "6 references"]
            + [f"{summary} (--verbose lists the notes)\n"]
        ),
        "",
    )
    assert run("check", problems_1_2_3, "--verbose") == (
        1,
        "\n".join(
            [
                head,
                "page Garden",
                error,
                *notes,
                "the age",
                *warnings,
                "6 references",
                f"{summary}\n",
            ]
        ),
        "",
    )


def test_check_json_counts_each_severity_apart(problems_1_2_3):
    status, out, _ = run("check", problems_1_2_3, "--json")
    found = json.loads(out)
    [age] = found["ages"]
    assert status == 1
    assert [p["severity"] for p in age["problems"]] == ["error"] + ["note"] * 3 + ["warning"] * 2
    assert (age["error_count"], age["warning_count"], age["note_count"]) == (1, 2, 3)
    assert (found["error_count"], found["warning_count"], found["note_count"]) == (1, 2, 3)


@pytest.mark.parametrize(
    ("town_name", "garden_name", "problem_page", "named"),
    [
        ("Town", "Attic", "Garden", "page 'Attic'"),
        ("Garden", "Garden", "Town", "page 'Garden'"),
        ("town", "Garden", "Town", "page 'town'"),
    ],
)
def test_check_a_header_naming_the_age_but_another_page(
    tmp_path, town_name, garden_name, problem_page, named
):
    path = age_folder(
        tmp_path, town=town_page(page_name=town_name), garden=garden_page(page_name=garden_name)
    )
    [problem] = json.loads(run("check", path, "--json")[1])["ages"][0]["problems"]
    assert (problem["severity"], problem["page"], problem["message"]) == (
        "error",
        problem_page,
        f"the page file's header names age 'Demo', {named}",
    )


@pytest.mark.parametrize(("dangling", "what"), [(False, "is missing"), (True, "does not load")])
def test_check_a_page_file_that_is_a_dangling_link_is_there_but_does_not_load(
    tmp_path, dangling, what
):
    path = age_folder(tmp_path)
    garden = tmp_path / "Demo_District_Garden.prp"
    garden.unlink()
    if dangling:
        garden.symlink_to(tmp_path / "gone.prp")
    status, out, _ = run("check", path, "--json")
    [problem] = json.loads(out)["ages"][0]["problems"]
    assert status == 1
    assert (problem["page"], problem["message"]) == (
        "Garden",
        f'the page file {what}: Failed to read "{garden}": No such file or directory',
    )


@pytest.mark.parametrize("age_file", ["Demo.age", "Demo.AGE", "Demo.Age"])
def test_check_finds_an_age_in_a_folder_whatever_the_case_of_its_suffix(tmp_path, age_file):
    age_folder(tmp_path, age_file=age_file)
    (tmp_path / "notes.txt").write_text("not an age")
    status, out, _ = run("check", tmp_path, "--json")
    assert status == 0
    assert [age["age"] for age in json.loads(out)["ages"]] == [str(tmp_path / age_file)]


def test_age_lists_unlisted_pages_of_its_own_name_whatever_their_suffix_case(tmp_path):
    path = age_folder(tmp_path)
    for name in [
        "Demo_District_Attic.PRP",
        "Demo_District_Cellar.Prp",
        "Demo_District_Loft.prp",
        "Demo_Attic.prp",
        "Demonic_District_Attic.prp",
        "Other_District_Attic.prp",
        "Demo_District_Attic.prp.bak",
    ]:
        (tmp_path / name).write_bytes(b"")
    assert lumivex.Age.open(path).unlisted_page_files() == [
        os.path.join(tmp_path, name)
        for name in [
            "Demo_District_Attic.PRP",
            "Demo_District_Cellar.Prp",
            "Demo_District_Loft.prp",
        ]
    ]


@pytest.mark.parametrize("key_id", [1, 2, 9])
def test_age_resolves_to_the_first_of_objects_sharing_class_and_name(tmp_path, key_id):
    twin = Obj(MIPMAP, "Stone", mipmap_body("Stone", width=8), object_id=2, location_sequence=TOWN)
    stone = key_ref("Stone", MIPMAP, key_id, location_sequence=TOWN)
    pointer = Obj(LAYER, "Pointer", layer_body("Pointer", stone, under=None), 3, TOWN)
    age = lumivex.Age.open(age_folder(tmp_path, town=town_page(twin, pointer)))
    town = age.pages["Town"]
    assert isinstance(town, lumivex.PrpFile)
    key = town.objects_by_name("plLayer")[1].as_layer().texture_key
    assert key is not None and key.object_id == key_id
    found = age.resolve(key)
    assert found is not None and found.object_id == 1
    assert found.as_mipmap().width == 4
    targets = [r.target for r in age.references() if r.source.name == "Pointer"]
    assert [target.object_id for target in targets if target is not None] == [1]


@pytest.mark.parametrize(
    ("argument", "status", "names"),
    [
        ("PLLAYER", 0, ["FountainStone", "LampGlass", "SignPaint"]),
        ("pllayer", 0, ["FountainStone", "LampGlass", "SignPaint"]),
        ("plAIGoToGoalMsg", 0, []),
        ("PLAIGOTOGOALMSG", 0, []),
        ("plAIGoToGoalMs", 2, []),
        ("0xFFFF", 0, []),
        ("65535", 0, []),
        ("0x10000", 2, []),
        ("65536", 2, []),
    ],
)
def test_ls_class_at_the_edges(argument, status, names):
    page_file = os.path.join(os.path.dirname(__file__), "..", "samples", "Demo_District_Town.prp")
    got, out, _ = run("ls", page_file, "--class", argument, "--json")
    assert got == status
    if status == 0:
        assert [obj["name"] for obj in json.loads(out)["objects"]] == names


@pytest.mark.parametrize("suffix", [".DDS", ".Dds"])
def test_texture_suffix_in_any_case(tmp_path, suffix):
    page_file = tmp_path / "t.prp"
    page_file.write_bytes(page([Obj(MIPMAP, "T", texture_body("T", DXT1, 8, 8, 1))]))
    out = tmp_path / f"t{suffix}"
    assert run("texture", page_file, "T", "-o", out)[0] == 0
    assert out.read_bytes()[:4] == b"DDS "


@pytest.mark.parametrize("mode", [0o600, 0o640, 0o604])
def test_texture_keeps_the_mode_of_the_file_it_replaces(tmp_path, mode):
    page_file = tmp_path / "t.prp"
    page_file.write_bytes(page([Obj(MIPMAP, "T", texture_body("T", DXT1, 8, 8, 1))]))
    out = tmp_path / "t.dds"
    out.write_bytes(b"old")
    out.chmod(mode)
    assert run("texture", page_file, "T", "-o", out)[0] == 0
    assert out.stat().st_mode & 0o777 == mode


@pytest.mark.parametrize(
    ("opacity", "shown"), [(0.1, "0.1"), (0.3, "0.3"), (1 / 3, "0.33333334"), (0.5, "0.5")]
)
def test_show_prints_the_shortest_text_of_a_single_precision_float(tmp_path, opacity, shown):
    page_file = tmp_path / "l.prp"
    page_file.write_bytes(page([Obj(LAYER, "L", layer_body("L", opacity=opacity))]))
    status, out, _ = run("show", page_file, "L")
    assert status == 0
    assert f"  opacity         {shown}\n" in out
    [shown_json] = json.loads(run("show", page_file, "L", "--json")[1])["objects"]
    assert shown_json["properties"]["opacity"] == float(shown)


def test_each_fault_of_the_mutation_run_still_lies_in_the_code():
    """The mutation run replaces, for each fault, a text that must occur
    exactly once in the package: one that a change of the code removed would
    stop the run instead of measuring it."""
    from scripts.mutate import MUTANTS, ROOT

    sources = [path.read_text("utf-8") for path in (ROOT / "python" / "lumivex").rglob("*.py")]
    stale = [m.name for m in MUTANTS if sum(text.count(m.old) for text in sources) != 1]
    assert stale == []
