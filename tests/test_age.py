import math

import lumivex
import pytest
from lumivex import AgeFile

# The Unicode White_Space set (line feed aside), and characters that other
# trims remove but this one keeps.
WHITE_SPACE = "\t\x0b\x0c\r \x85\xa0\u1680\u2028\u2029\u202f\u205f\u3000" + "".join(
    map(chr, range(0x2000, 0x200B))
)
NOT_WHITE_SPACE = "\x1c\x1f\u180e\u200b\u2060\ufeff"


def parse(*lines):
    return AgeFile.parse("X", "\n".join(lines))


def pages(*lines):
    return [(p.name, p.seq_suffix, p.flags) for p in parse(*lines).pages]


def test_empty_content_and_reprs():
    age = AgeFile.parse("X", "")
    assert (age.age_name, age.pages, age.day_length) == ("X", [], 24.0)
    assert (age.max_capacity, age.sequence_prefix) == (-1, 0)
    assert repr(age) == "AgeFile('X', 0 pages, prefix=0)"
    assert repr(parse("Page=A", "SequencePrefix=-7")) == "AgeFile('X', 1 pages, prefix=-7)"


def test_pages_number_on_from_an_explicit_suffix():
    garden, fall = parse("Page=Garden,3,1", "Page=Fall").pages
    assert (garden.flags, garden.auto_load, fall.seq_suffix, fall.auto_load) == (1, False, 4, True)
    assert repr(garden) == "PageEntry('Garden', seq=3, auto_load=false)"


@pytest.mark.parametrize(
    ("lines", "expected"),
    [
        (["Page=Garden, 3", "Page=A=B", "Page="], [("Garden", 1, 0), ("A=B", 2, 0), ("", 3, 0)]),
        (["Page = Garden ,+2 ", "Page=A,,1,x"], [("Garden ", 2, 0), ("A", 3, 1)]),
        (
            ["Page=A,0,255", "Page=B,-1,256", "Page=C,1, 1"],
            [("A", 0, 255), ("B", 1, 0), ("C", 1, 0)],
        ),
        (
            ["Page=A,4294967295", "Page=B", "Page=C,4294967296"],
            [("A", 4294967295, 0), ("B", 0, 0), ("C", 1, 0)],
        ),
        ([",Page=A", "page=B", "PAGE=C", "Page", "#Page=D", "[Page=E]"], []),
    ],
)
def test_page_fields(lines, expected):
    assert pages(*lines) == expected


@pytest.mark.parametrize("flags", [0, 1, 2, 255])
def test_auto_load_is_bit_zero_clear(flags):
    assert parse(f"Page=A,1,{flags}").pages[0].auto_load is (flags % 2 == 0)


@pytest.mark.parametrize(
    ("value", "expected"),
    [("+5", 5), ("-7", -7), ("0005", 5), ("2147483647", 2**31 - 1), ("-2147483648", -(2**31))]
    + [
        (v, None)
        for v in ["abc", "", "2147483648", "-2147483649", "+-5", "- 5", "0x10", "1e3", "\uff15"]
    ],
)
def test_signed_settings(value, expected):
    assert parse(f"MaxCapacity={value}").max_capacity == (-1 if expected is None else expected)
    assert parse(f"SequencePrefix={value}").sequence_prefix == (expected or 0)


def test_the_last_line_for_a_key_decides():
    assert parse("MaxCapacity=20", "MaxCapacity=x").max_capacity == -1
    assert parse("DayLength=x", "DayLength=12").day_length == 12.0


# Pairs of a value and what it gives: the nearest 32-bit float, as Python shows it.
DAY_LENGTHS = """
    30.5 30.5  +1.5e+2 150  1.5E-1 0.15000000596046448  .5 0.5  5. 5  0.1 0.10000000149011612
    16777217 16777216  3.4028235e38 3.4028234663852886e38  3.4028236e38 inf  -1e39 -inf
    INF inf  -Infinity -inf  1e-45 1.401298464324817e-45  1e-46 0  1e-99999999999999999999 0
    1e99999999999999999999 inf  0e99999999999999999999 0
    0000000000000000000000000000001e-1 0.10000000149011612
""".split()
NOT_FLOATS = ["24 # c", ".", "", "e5", "1e", "1e+", "1.2.3", "++1", "1_0", "1,5", "0x1p3"]
NOT_FLOATS += ["infinit", "nan(1)", "1 0", "\uff11"]


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        *zip(DAY_LENGTHS[::2], map(float, DAY_LENGTHS[1::2]), strict=False),
        *((v, 24.0) for v in NOT_FLOATS),
    ],
)
def test_day_length_grammar(value, expected):
    assert parse(f"DayLength={value}").day_length == expected


def test_day_length_nan_and_negative_zero():
    assert all(math.isnan(parse(f"DayLength={v}").day_length) for v in ["nan", "-NaN", "+nAn"])
    assert math.copysign(1.0, parse("DayLength=-0").day_length) == -1.0


@pytest.mark.parametrize("ws", WHITE_SPACE, ids=lambda c: f"U+{ord(c):04X}")
def test_every_white_space_character_trims(ws):
    age = parse(f"{ws}DayLength{ws}={ws}12{ws}", f"{ws}Page={ws}A,5{ws}")
    assert (age.day_length, pages(f"{ws}Page={ws}A,5{ws}")) == (12.0, [("A", 5, 0)])


@pytest.mark.parametrize("other", NOT_WHITE_SPACE, ids=lambda c: f"U+{ord(c):04X}")
def test_other_characters_do_not_trim(other):
    age = parse("", f"{other}DayLength=12", f"DayLength{other}=13", f"MaxCapacity=1{other}")
    assert (age.day_length, age.max_capacity) == (24.0, -1)


@pytest.mark.parametrize(
    ("content", "expected"),
    [
        ("DayLength=12\nMaxCapacity=5\n", (12.0, 5)),
        ("DayLength=12\r\nMaxCapacity=5", (12.0, 5)),
        ("\n\n  DayLength=12  \r\n\n[Section]\r\n# note\n\tMaxCapacity=5\r\n", (12.0, 5)),
        ("MaxCapacity=5\rDayLength=12\n", (24.0, -1)),  # a lone CR ends no line
        ("daylength=12\nMaxCapacity=7 # seven", (24.0, -1)),
    ],
)
def test_lines(content, expected):
    age = AgeFile.parse("X", content)
    assert (age.day_length, age.max_capacity) == expected


BOM = "\ufeff"


@pytest.mark.parametrize(
    ("content", "expected"),
    [
        (f"{BOM}Page=A\nPage=B#1", [("A", 1, 0), ("B#1", 2, 0)]),
        (f"{BOM}\r\nPage=A", [("A", 1, 0)]),
        # Only one mark, and only at the very start, is passed over.
        (f"{BOM}{BOM}Page=A\nPage=B", [("B", 1, 0)]),
        (f" {BOM}Page=A\nPage=B", [("B", 1, 0)]),
        (f"Page=A\n{BOM}Page=B", [("A", 1, 0)]),
        (f"Page={BOM}A", [(f"{BOM}A", 1, 0)]),
    ],
)
def test_one_leading_byte_order_mark_is_ignored(tmp_path, content, expected):
    assert [(p.name, p.seq_suffix, p.flags) for p in AgeFile.parse("X", content).pages] == expected
    path = tmp_path / "Bom.age"
    path.write_bytes(content.encode())
    assert [(p.name, p.seq_suffix, p.flags) for p in AgeFile.load(str(path)).pages] == expected


def test_byte_order_mark_before_a_setting():
    assert parse(f"{BOM}MaxCapacity=20", "DayLength=12").max_capacity == 20


def test_prp_filename():
    age = AgeFile.parse("MyAge", "Page=Garden\nPage=")
    assert age.prp_filename("Garden") == "MyAge_District_Garden.prp"
    assert age.prp_filename(page_name="") == "MyAge_District_.prp"
    assert age.prp_filename("garden") is age.prp_filename("Garden ") is None


def test_views_are_fresh_copies():
    age = parse("Page=A")
    assert age.pages[0] is not age.pages[0]
    age.pages.clear()
    assert len(age.pages) == 1


BASE_AGE = (
    "StartDateTime=5",
    "DayLength=nan",
    "MaxCapacity=3",
    "LingerTime=4",
    "SequencePrefix=9",
    "ReleaseVersion=2",
    "Page=A,1",
    "Page=B,2,1",
)


@pytest.mark.parametrize(
    "index, other",
    [(None, None), (1, "DayLength=-nan"), (1, "DayLength=-0.0")]
    + [(i, line.replace("=", "=1", 1)) for i, line in enumerate(BASE_AGE)]
    + [(6, "Page=a,1"), (6, "Page=A,3"), (7, "Page=B,2,0"), (7, "Page=B,2"), (7, "")],
)
def test_ages_and_pages_are_values_of_what_they_hold(index, other):
    # Comments and spacing are not held; a NaN day length equals itself.
    a = AgeFile.parse("X", "\n".join(BASE_AGE))
    lines = list(BASE_AGE)
    if index is not None:
        lines[index] = other
    b = AgeFile.parse("X", "# again\n" + "\n\n".join(lines))
    same = index is None
    assert (a == b, a != b) == (same, not same)
    changed_pages = index is not None and index >= 6
    assert (a.pages == b.pages) == (not changed_pages)
    if same:
        assert hash(a) == hash(b) and [hash(p) for p in a.pages] == [hash(p) for p in b.pages]
        assert len({a, b, *a.pages, *b.pages}) == 3
    assert a != AgeFile.parse("Y", "\n".join(BASE_AGE)) and a.pages[0] != a.pages[1]
    assert a.pages[0].__eq__(a) is NotImplemented


@pytest.mark.parametrize(
    ("file_name", "age_name"),
    [
        ("Garden.age", "Garden"),
        (".age", ".age"),
        ("a.b.age", "a.b"),
        ("Plain", "Plain"),
        ("..age", "."),
    ],
)
def test_load_names_the_age_after_the_file_stem(tmp_path, file_name, age_name):
    (tmp_path / file_name).write_bytes(b"SequencePrefix=12\r\nPage=Garden,2,1\r\n")
    age = AgeFile.load(f"{tmp_path}/./{file_name}")
    assert (age.age_name, age.sequence_prefix, len(age.pages)) == (age_name, 12, 1)


@pytest.mark.parametrize("kind", ["missing", "directory", "not utf-8", "through a file"])
def test_load_failures(tmp_path, kind):
    path = tmp_path / "Bad.age"
    if kind == "directory":
        path.mkdir()
    elif kind == "not utf-8":
        path.write_bytes(b"Page=\xff\n")
    elif kind == "through a file":
        path.write_text("")
        path = path / "x.age"
    with pytest.raises(OSError) as error:
        AgeFile.load(str(path))
    assert str(error.value) == f"Failed to read {path}"


def test_arguments_constructors_and_docs():
    for call in (lambda: AgeFile.parse("X"), lambda: AgeFile.load(1), lumivex.PageEntry):
        with pytest.raises(TypeError):
            call()
    assert AgeFile.parse(content="Page=A", age_name="K").age_name == "K"
    assert AgeFile.__doc__ == "Parsed .age file."
    assert AgeFile.load.__doc__ == "Load an .age file from disk."
    assert AgeFile.parse.__doc__ == "Parse .age content string."
    assert AgeFile.prp_filename.__doc__ == "Get the .prp filename for a page."
    assert AgeFile.prp_filename.__text_signature__ == "($self, page_name)"
    assert AgeFile.parse.__text_signature__ == "(age_name, content)"
