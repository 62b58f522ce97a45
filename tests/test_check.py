"""lumivex check: a sound age reports nothing; each kind of problem, built
into an age on purpose, is reported once, with its page, object and field,
and nothing else is."""

import contextlib
import io
import json
from pathlib import Path

import lumivex
import pytest
from lumivex.check import AgeCheck
from lumivex.cli import main

from fixtures.builder import Group, Obj, i16, index_entry, key_ref, page, u32
from fixtures.object_bodies import LAYER, MATERIAL, layer_body, mipmap_body

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
TOWN, GARDEN = 0x5E0001, 0x5E0002
MIPMAP = 0x0004


def ref(name, class_type, location, object_id=1):
    return key_ref(name, class_type, object_id, location_sequence=location)


def material(name, *layers):
    body = i16(MATERIAL) + key_ref(name, MATERIAL) + u32(0) + u32(0) + u32(0)
    return body + u32(len(layers)) + u32(0) + b"".join(layers)


def layer(name, texture):
    return layer_body(name, texture=texture, under=None)


def town_objects():
    return [
        Obj(MIPMAP, "Stone", mipmap_body("Stone"), object_id=1, location_sequence=TOWN),
        Obj(LAYER, "StoneLayer", layer("StoneLayer", ref("Stone", MIPMAP, TOWN)), 1, TOWN),
    ]


def garden_objects(*layers):
    layers = layers or (ref("StoneLayer", LAYER, TOWN),)
    return [
        Obj(MATERIAL, "Hedge", material("Hedge", *layers), object_id=1, location_sequence=GARDEN)
    ]


def build(folder, town=None, garden=None, pages=None, listed=("Town", "Garden"), **options):
    """An age of two pages whose only references are sound: a town layer
    shows a town texture, a garden material uses the town layer."""
    (folder / "Demo.age").write_text(
        "SequencePrefix=94\n"
        + "".join(f"Page={name},{index + 1}\n" for index, name in enumerate(listed))
    )
    contents = pages or {
        "Town": (
            TOWN,
            page(town or town_objects(), age="Demo", page_name="Town", sequence_number=TOWN),
        ),
        "Garden": (
            GARDEN,
            page(
                garden or garden_objects(), age="Demo", page_name="Garden", sequence_number=GARDEN
            ),
        ),
    }
    for name, (_, data) in contents.items():
        (folder / f"Demo_District_{name}.prp").write_bytes(data)
    return folder / "Demo.age"


def report(path, *options):
    return json.loads(run_check(path, "--json", *options)[1])


def run_check(path, *options):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = main(["check", str(path), *options])
    return status, out.getvalue()


def problems(path):
    found = report(path)
    [age] = found["ages"]
    return [
        (p["severity"], p["page"], p["object_name"], p["class_name"], p["field"], p["message"])
        for p in age["problems"]
    ]


def test_a_sound_age_and_the_samples_report_nothing(tmp_path):
    sound = report(build(tmp_path))
    assert (sound["error_count"], sound["warning_count"], sound["note_count"]) == (0, 0, 0)
    assert sound["ages"][0]["reference_count"] == 2
    samples = report(SAMPLES / "Demo.age")
    assert (samples["error_count"], samples["warning_count"], samples["note_count"]) == (0, 0, 0)
    assert samples["ages"][0]["reference_count"] > 0
    status, text = run_check(SAMPLES)
    assert status == 0 and text.endswith("summary: 0 errors, 0 warnings, 0 notes\n")


def test_a_reference_that_finds_nothing(tmp_path):
    path = build(tmp_path, garden=garden_objects(ref("Gone", LAYER, TOWN)))
    [(severity, page_name, obj, class_name, field, message)] = problems(path)
    assert (severity, page_name, obj, class_name, field) == (
        "error",
        "Garden",
        "Hedge",
        "hsGMaterial",
        "layer_keys[0]",
    )
    assert message.endswith('N:"Gone" C:[0,0]) finds no object')
    status, text = run_check(path)
    assert status == 1
    assert "page Garden\n  error    Hedge (hsGMaterial) layer_keys[0]: Uoid(" in text


@pytest.mark.parametrize("how", ["missing", "garbage"])
def test_a_page_that_is_missing_or_does_not_load(tmp_path, how):
    path = build(tmp_path)
    target = tmp_path / "Demo_District_Town.prp"
    if how == "missing":
        target.unlink()
    else:
        target.write_bytes(b"not a page")
    found = problems(path)
    # The garden's reference into the town is no error of its own: the town's
    # location is unknown once its page does not load.
    assert [(s, p) for s, p, *_ in found] == [("error", "Town"), ("note", "Garden")]
    reason = "No such file or directory" if how == "missing" else "Failed to parse header of"
    assert reason in found[0][-1]


def test_two_pages_with_one_sequence_number(tmp_path):
    town = page(town_objects(), age="Demo", page_name="Town", sequence_number=TOWN)
    garden = page(garden_objects(), age="Demo", page_name="Garden", sequence_number=TOWN)
    path = build(tmp_path, pages={"Town": (TOWN, town), "Garden": (TOWN, garden)})
    assert [(s, p, m) for s, p, *_, m in problems(path)] == [
        ("error", "Garden", "sequence number 0x005E0001 is also page 'Town''s")
    ]


@pytest.mark.parametrize(
    "lines, expected",
    [
        (
            "Page=Town,1\nPage=Garden,2\nPage=Town,3\n",
            [
                (
                    "Town",
                    "the age lists this page again, with sequence suffix 3; its first entry is the one read",
                )
            ],
        ),
        ("Page=Town,1\nPage=Garden,1\n", [("Garden", "sequence suffix 1 is also page 'Town''s")]),
    ],
    ids=["listed again", "one suffix"],
)
def test_pages_the_age_file_lists_twice_or_at_one_suffix(tmp_path, lines, expected):
    path = build(tmp_path)
    path.write_text("SequencePrefix=94\n" + lines)
    found = report(path)
    assert [(p, m) for s, p, *_, m in problems(path)] == expected
    assert (found["error_count"], found["warning_count"], found["ages"][0]["page_count"]) == (
        0,
        1,
        2,
    )


def test_a_header_that_names_another_page(tmp_path):
    garden = page(garden_objects(), age="Elsewhere", page_name="Garden", sequence_number=GARDEN)
    path = build(
        tmp_path,
        pages={
            "Town": (
                TOWN,
                page(town_objects(), age="Demo", page_name="Town", sequence_number=TOWN),
            ),
            "Garden": (GARDEN, garden),
        },
    )
    assert [(s, p, m) for s, p, *_, m in problems(path)] == [
        ("error", "Garden", "the page file's header names age 'Elsewhere', page 'Garden'")
    ]


def test_an_object_that_does_not_decode(tmp_path):
    town = town_objects() + [Obj(LAYER, "Broken", b"\x06\x00\x01", 2, TOWN)]
    [(severity, page_name, obj, class_name, field, message)] = problems(build(tmp_path, town=town))
    assert (severity, page_name, obj, class_name, field) == (
        "error",
        "Town",
        "Broken",
        "plLayer",
        None,
    )
    assert message == "does not decode: failed to fill whole buffer"


def test_an_unlisted_page_file(tmp_path):
    path = build(tmp_path)
    (tmp_path / "Demo_District_Attic.prp").write_bytes(b"")
    assert [(s, p, m) for s, p, *_, m in problems(path)] == [
        (
            "warning",
            None,
            f"page file {tmp_path / 'Demo_District_Attic.prp'} is named after this age but not listed",
        )
    ]


def test_objects_that_share_class_and_name(tmp_path):
    town = town_objects() + [
        Obj(MIPMAP, "Stone", mipmap_body("Stone"), object_id=2, location_sequence=TOWN)
    ]
    assert [(s, p, o, c, m) for s, p, o, c, _, m in problems(build(tmp_path, town=town))] == [
        ("warning", "Town", "Stone", "plMipmap", "2 objects of class plMipmap share this name")
    ]


def test_a_page_whose_index_lost_keys(tmp_path):
    objects = town_objects()
    entry = len(index_entry(objects[0], 0, 0))
    # A third group announces two keys and holds one.
    extra = Obj(0x0016, "Spare", b"\x16\x00", object_id=3, location_sequence=TOWN)
    groups = [
        Group(MIPMAP, [objects[0]]),
        Group(LAYER, [objects[1]]),
        Group(0x0016, [extra, extra], length=5 + entry),
    ]
    town = page(groups=groups, age="Demo", page_name="Town", sequence_number=TOWN)
    garden = page(garden_objects(), age="Demo", page_name="Garden", sequence_number=GARDEN)
    path = build(tmp_path, pages={"Town": (TOWN, town), "Garden": (GARDEN, garden)})
    assert [(s, p, m) for s, p, *_, m in problems(path)] == [
        ("warning", "Town", "the index lost 1 key that it announced")
    ]


def test_a_reference_outside_the_age_is_a_note(tmp_path):
    path = build(
        tmp_path, garden=garden_objects(ref("StoneLayer", LAYER, TOWN), ref("Far", LAYER, 0x10001))
    )
    [(severity, page_name, obj, _, field, message)] = problems(path)
    assert (severity, page_name, obj, field) == ("note", "Garden", "Hedge", "layer_keys[1]")
    assert "which no page of this age holds" in message
    status, text = run_check(path)
    assert status == 0 and "  note " not in text
    assert text.endswith("summary: 0 errors, 0 warnings, 1 note (--verbose lists the notes)\n")
    assert "  note     Hedge (hsGMaterial) layer_keys[1]" in run_check(path, "--verbose")[1]


def test_a_key_whose_object_id_differs_from_the_index(tmp_path):
    path = build(tmp_path, garden=garden_objects(ref("StoneLayer", LAYER, TOWN, object_id=9)))
    [(severity, page_name, obj, _, field, message)] = problems(path)
    assert (severity, page_name, obj, field) == ("warning", "Garden", "Hedge", "layer_keys[0]")
    assert message.endswith("finds the object of id 1, not 9")


def test_a_folder_of_ages_and_no_age_at_all(tmp_path):
    build(tmp_path)
    assert len(report(tmp_path)["ages"]) == 1
    (tmp_path / "empty").mkdir()
    status, _ = run_check(tmp_path / "empty")
    assert status == 1
    age = lumivex.Age.open(tmp_path / "Demo.age")
    assert age.unlisted_page_files() == []


@pytest.mark.parametrize(
    "line,reason",
    [
        ("DayLenght=24", 'unknown key "DayLenght": skipped (did you mean "DayLength"?)'),
        ("just words", 'not a setting (no "="): skipped'),
    ],
)
def test_each_line_the_parser_skips_is_a_warning_with_its_number(tmp_path, line, reason):
    path = build(tmp_path)
    path.write_text(path.read_text() + line + "\n")
    [age] = report(path)["ages"]
    [problem] = age["problems"]
    assert (problem["severity"], problem["page"], problem["line"]) == ("warning", None, 4)
    assert problem["message"] == f"{reason}: {line!r}"
    status, text = run_check(path)
    assert status == 0
    assert f"the age\n  warning  line 4: {reason}: {line!r}\n" in text
    assert text.endswith("summary: 0 errors, 1 warning, 0 notes\n")


def test_the_library_reports_a_file_that_is_no_age_description_alone(tmp_path):
    path = build(tmp_path)
    path.write_text("# an age once\n")
    [problem] = AgeCheck(lumivex.Age.open(str(path))).problems()
    assert (problem.severity, problem.line) == ("error", 0)
    assert problem.message.startswith("not an age description: ")


@pytest.mark.parametrize(
    "name, reason",
    [
        ("x/../../outside/secret", 'it holds "/"'),
        ("x\\..\\..\\outside\\secret", 'it holds "\\"'),
        ("..", 'it is ".."'),
        ("Town\0x", "it holds a NUL byte"),
    ],
    ids=["slash", "backslash", "dot-dot", "nul"],
)
def test_a_page_name_that_is_not_a_file_name_is_never_looked_for(tmp_path, name, reason):
    ages = tmp_path / "ages"
    ages.mkdir()
    path = build(ages, listed=("Town", "Garden", name))
    # The file the name would lead to, with the header it asks for.
    (ages / "Demo_District_x").mkdir()
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "secret.prp").write_bytes(page([], age="Demo", page_name=name))
    found = problems(path)
    message = f"line 4: the page name {name!r} is not a plain file name ({reason})"
    assert found == [("error", name, None, None, None, message + "; its file is not looked for")]
    assert run_check(path)[0] == 1
    age = lumivex.Age.open(path)
    assert age.page_path(name) is None and age.page_path("Town") is not None
    assert age.pages[name] == lumivex.age.MissingPage(
        name, "", f"the page name is not a plain file name: {reason}"
    )
    assert age.description.prp_filename(name) == f"Demo_District_{name}.prp"
