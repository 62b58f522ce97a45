"""One JSON vocabulary: every command's --json output and every /api answer
holds to the schema shipped for the command; filtered lists keep each
object's index; JSON is written as a stream and a check's problems as they
are found; the server's memos make each value once."""

from __future__ import annotations

import contextlib
import io
import json
import math
import threading
import warnings
from collections.abc import Iterator
from pathlib import Path

import lumivex
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from lumivex.check import KEPT_PROBLEMS, AgeCheck, check_age
from lumivex.cli import main
from lumivex.shapes import LONE_SURROGATE, json_chunks, json_schema, to_json
from lumivex.web.site import Memo

from fixtures.builder import Obj, i16, key_ref, page, synched, u32
from fixtures.object_bodies import LAYER, MATERIAL

jsonschema = pytest.importorskip("jsonschema")
pytest.importorskip("starlette")
pytest.importorskip("PIL.Image")

with warnings.catch_warnings():
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.web import Site, create_app  # noqa: E402

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
TOWN = str(SAMPLES / "Demo_District_Town.prp")
AGE = str(SAMPLES / "Demo.age")
TEXTURE = lumivex.PrpFile.load(TOWN).objects_by_name("plMipmap")[0].name
LOCATION = 0x00300001


def command_json(*argv: str) -> object:
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        main([*argv, "--json"])
    return json.loads(out.getvalue())


def valid(command: str, shown: object) -> None:
    jsonschema.Draft202012Validator(json_schema(command)).validate(shown)


def dangling_age(folder: Path, materials: int, layers: int, **key: int) -> Path:
    """An age of one page whose materials point at layers that the page lacks,
    by keys of those values."""
    objects = []
    for number in range(materials):
        body = i16(MATERIAL) + key_ref(f"Mat{number}", MATERIAL) + synched(0)
        body += u32(1) + u32(2) + u32(layers) + u32(3)
        body += b"".join(
            key_ref(f"Gone{number}.{n}", LAYER, location_sequence=LOCATION, **key)
            for n in range(layers)
        )
        objects.append(Obj(MATERIAL, f"Mat{number}", body, number + 1, location_sequence=LOCATION))
    data = page(objects, age="Gaps", page_name="Only", sequence_number=LOCATION)
    (folder / "Gaps_District_Only.prp").write_bytes(data)
    (folder / "Gaps.age").write_text("SequencePrefix=48\nPage=Only,1\n")
    return folder / "Gaps.age"


@pytest.fixture(scope="module")
def samples() -> TestClient:
    return TestClient(create_app(Site(AGE)), base_url="http://127.0.0.1")


@pytest.mark.parametrize(
    ("command", "argv"),
    [
        ("info", ["info", TOWN, str(SAMPLES / "missing.prp")]),
        ("ls", ["ls", TOWN]),
        ("ls", ["ls", TOWN, "--class", "plLayer"]),
        ("show", ["show", TOWN, "FountainSplash"]),
        ("age", ["age", AGE]),
        ("check", ["check", AGE]),
        ("scan", ["scan", str(SAMPLES)]),
        ("sdl", ["sdl", str(SAMPLES / "sdl")]),
        ("lint", ["lint", AGE]),
    ],
    ids=lambda value: value if isinstance(value, str) else " ".join(value[1:2]),
)
def test_each_command_holds_to_its_schema(command, argv):
    valid(command, command_json(*argv))


def property_names(schema: object) -> Iterator[str]:
    if isinstance(schema, dict):
        yield from schema.get("properties", {})
        for value in schema.values():
            yield from property_names(value)
    elif isinstance(schema, list):
        for value in schema:
            yield from property_names(value)


def test_a_file_or_folder_is_named_by_what_it_is_in_every_schema():
    folder = lumivex.__file__.rsplit("/", 1)[0] + "/schemas"
    names = {n for s in Path(folder).glob("*.json") for n in property_names(json_schema(s.stem))}
    assert "path" not in names and {"page", "age", "file", "folder"} <= names


@pytest.mark.parametrize(("path", "kind"), [(SAMPLES, "folder"), (AGE, "age"), (TOWN, "page")])
def test_the_api_index_names_what_is_served_by_what_it_is(path, kind):
    index = TestClient(create_app(Site(str(path))), base_url="http://127.0.0.1").get("/api").json()
    assert index[kind] == str(path) and "path" not in index


def test_texture_and_roundtrip_hold_to_their_schemas(tmp_path):
    texture = command_json("texture", TOWN, TEXTURE, "-o", str(tmp_path / "out.dds"))
    valid("texture", texture)
    assert texture["as_stored"] and texture["output"] == str(tmp_path / "out.dds")
    roundtrip = command_json("roundtrip", TOWN, str(tmp_path / "copy.prp"))
    valid("roundtrip", roundtrip)
    assert roundtrip["identical"] and roundtrip["first_difference"] is None


def test_a_check_with_problems_holds_to_its_schema(tmp_path):
    shown = command_json("check", str(dangling_age(tmp_path, 3, 2)))
    valid("check", shown)
    (age,) = shown["ages"]
    assert (age["reference_count"], shown["error_count"], len(age["problems"])) == (6, 6, 6)
    assert age["problems"][0]["key"]["name"] == "Gone0.0"


@pytest.mark.parametrize(
    ("command", "url"),
    [
        ("info", "/api/info/Demo_District_Town.prp"),
        ("ls", "/api/ls/Demo_District_Town.prp?class=plLayer"),
        ("show", "/api/show/Demo_District_Town.prp/0"),
        ("age", "/api/age/Demo.age"),
        ("check", "/api/check/Demo.age"),
        ("sdl", "/api/sdl/sdl/Demo.sdl"),
        ("search", "/api/search?q=lamp&class=plLayer"),
        ("diff", "/api/diff?a=Demo_District_Town.prp&b=Demo_District_Garden.prp"),
    ],
)
def test_each_api_answer_holds_to_its_commands_schema(samples, command, url):
    response = samples.get(url)
    if response.status_code == 422:
        pytest.skip("not a decodable object")
    valid(command, response.json())


def test_a_filtered_list_keeps_each_objects_index():
    every = command_json("ls", TOWN)["objects"]
    layers = command_json("ls", TOWN, "--class", "plLayer")
    assert layers["object_count"] == len(layers["objects"]) > 0
    assert all(every[o["index"]] == o for o in layers["objects"])
    shown = command_json("show", TOWN, "FountainSplash")["objects"][0]
    assert every[shown["index"]]["name"] == "FountainSplash"


def test_a_list_of_a_class_without_a_name_counts_its_objects_alone(tmp_path):
    path = tmp_path / "odd.prp"
    path.write_bytes(page([Obj(0x3FE, "Odd1", b""), Obj(0x3FF, "Odd2", b""), Obj(1, "Even", b"")]))
    odd = command_json("ls", str(path), "--class", "0x3FF")
    assert odd["object_count"] == len(odd["objects"]) == 1


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ({}, {}),
        ({"a": [1, {"b": "\u00e9"}], "c": None}, {"a": [1, {"b": "\u00e9"}], "c": None}),
        (
            {"empty": iter([]), "items": iter([{"x": 1.5}, [2, 3]]), "after": lambda: 7},
            {"empty": [], "items": [{"x": 1.5}, [2, 3]], "after": 7},
        ),
        ({"nested": iter([{"deeper": iter([1, 2])}])}, {"nested": [{"deeper": [1, 2]}]}),
    ],
)
def test_json_chunks_write_what_json_dumps_writes(value, expected):
    text = "".join(json_chunks(value))
    assert text == json.dumps(expected, indent=2, ensure_ascii=False)


SCALARS = (
    st.none() | st.booleans() | st.integers() | st.floats() | st.text() | st.binary(max_size=4)
)


@settings(max_examples=300, deadline=None)
@given(st.lists(st.dictionaries(st.text(), SCALARS), max_size=3))
def test_json_chunks_write_records_of_scalars_as_json_dumps_does(records):
    # Records listed lazily sit one level in, as those of a listing do.
    text = "".join(json_chunks({"objects": iter(records)}))
    expected = json.dumps({"objects": [to_json(r) for r in records]}, indent=2, ensure_ascii=False)
    assert text == LONE_SURROGATE.sub(lambda match: f"\\u{ord(match[0]):04x}", expected)


@pytest.mark.parametrize(
    ("record", "written"),
    [
        ({"name": "Lampe d'\u00e9t\u00e9"}, '"name": "Lampe d\'\u00e9t\u00e9"'),
        ({"name": 'a "b" \\ c\n\x7f'}, '"name": "a \\"b\\" \\\\ c\\n\x7f"'),
        ({"opacity": 0.10000000149011612}, '"opacity": 0.1'),
        ({"opacity": math.inf}, '"opacity": null'),
        ({"opacity": -math.inf}, '"opacity": null'),
        ({"opacity": math.nan}, '"opacity": null'),
    ],
)
@pytest.mark.parametrize("lazily", [False, True], ids=["list", "lazy list"])
def test_records_keep_their_text_floats_short_and_what_json_cannot_hold_as_null(
    record, written, lazily
):
    # A lazy list's records take the short way of flat records; a list goes
    # through json.dumps: both write the same text.
    records = iter([record]) if lazily else [record]
    text = "".join(json_chunks({"objects": records, "count": lambda: 1}))
    assert text == f'{{\n  "objects": [\n    {{\n      {written}\n    }}\n  ],\n  "count": 1\n}}'


def test_json_chunks_read_a_list_as_they_write_it():
    read = []

    def items():
        for number in range(3):
            read.append(number)
            yield number

    chunks = json_chunks({"items": items(), "count": lambda: len(read)})
    written = next(chunks) + next(chunks) + next(chunks)
    assert read == [0] and written.endswith("[\n    ")
    assert json.loads(written + "".join(chunks)) == {"items": [0, 1, 2], "count": 3}


def test_a_key_is_written_with_each_of_its_fields(tmp_path):
    key = {
        "location_flags": 0x0004,
        "load_mask": 0x21,
        "object_id": 9,
        "clone_id": 2,
        "clone_player_id": 5,
    }
    age = dangling_age(tmp_path, 1, 1, **key)
    expected = {
        **key,
        "location_sequence": LOCATION,
        "class_type": LAYER,
        "class_name": "plLayer",
        "name": "Gone0.0",
    }
    [problem] = command_json("check", str(age))["ages"][0]["problems"]
    assert problem["key"] == expected
    served = TestClient(create_app(Site(str(age))), base_url="http://127.0.0.1")
    [reference] = served.get("/api/references/Gaps_District_Only.prp/0").json()["references"]
    assert reference["key"] == expected


def test_the_api_counts_each_severity_of_a_check_as_the_command_does(tmp_path):
    age = dangling_age(tmp_path, 3, 2)
    shown = command_json("check", str(age))
    counts = {name: count for name, count in shown.items() if name.endswith("_count")}
    assert counts["error_count"] == 6 and len(set(counts.values())) > 1
    served = TestClient(create_app(Site(str(age))), base_url="http://127.0.0.1")
    answer = served.get("/api/check/Gaps.age").json()
    assert {name: answer[name] for name in counts} == counts


def test_a_check_counts_every_problem_but_keeps_the_first(tmp_path):
    # More references than one stretch the resolver hands over.
    age = lumivex.Age.open(dangling_age(tmp_path, 700, 8))
    report = check_age(age)
    assert (report.reference_count, report.count("error")) == (5600, 5600)
    assert len(report.kept["error"]) == KEPT_PROBLEMS
    check = AgeCheck(age)
    found = [problem.object_name for problem in check.problems()]
    assert found == [f"Mat{n // 8}" for n in range(5600)]


def test_a_check_read_in_part_stops_its_resolver(tmp_path):
    check = AgeCheck(lumivex.Age.open(dangling_age(tmp_path, 700, 8)))
    problems = check.problems()
    next(problems)
    before = threading.active_count()
    problems.close()
    for thread in threading.enumerate():
        if thread is not threading.current_thread() and thread.daemon:
            thread.join(timeout=5)
    assert threading.active_count() < before


def test_a_memo_makes_each_value_once_for_threads_that_ask_at_once():
    made = []
    started = threading.Barrier(8)

    def make(key: str) -> str:
        made.append(key)
        return key.upper()

    memo = Memo(make)
    answers = []

    def ask() -> None:
        started.wait()
        answers.append(memo("page"))

    threads = [threading.Thread(target=ask) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert (made, answers) == (["page"], ["PAGE"] * 8)


def test_a_memo_makes_a_value_again_after_a_failed_making():
    attempts = []

    def make(key: int) -> int:
        attempts.append(key)
        if len(attempts) == 1:
            raise ValueError("first time")
        return key * 2

    memo = Memo(make)
    with pytest.raises(ValueError):
        memo(3)
    assert (memo(3), memo(3), attempts) == (6, 6, [3, 3])
