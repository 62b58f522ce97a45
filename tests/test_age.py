import math
import random

import lumivex
import pytest
from lumivex import AgeFile

# The Unicode White_Space set, and characters that other trims remove but
# this one must keep.
WHITE_SPACE = [
    *"\t\n\x0b\x0c\r ",
    "\x85",
    "\xa0",
    "\u1680",
    *(chr(c) for c in range(0x2000, 0x200B)),
    "\u2028",
    "\u2029",
    "\u202f",
    "\u205f",
    "\u3000",
]
NOT_WHITE_SPACE = ["\x1c", "\x1f", "\u180e", "\u200b", "\u2060", "\ufeff"]


def parse(*lines, name="X"):
    return AgeFile.parse(name, "\n".join(lines))


def test_empty_content_has_the_defaults():
    age = AgeFile.parse("X", "")
    assert (age.age_name, age.pages, age.day_length) == ("X", [], 24.0)
    assert (age.max_capacity, age.sequence_prefix) == (-1, 0)
    assert repr(age) == "AgeFile('X', 0 pages, prefix=0)"
    assert repr(parse("Page=A")) == "AgeFile('X', 1 pages, prefix=0)"


def test_pages_number_on_from_an_explicit_suffix():
    garden, fall = parse("Page=Garden,3,1", "Page=Fall").pages
    assert (garden.name, garden.seq_suffix, garden.flags, garden.auto_load) == (
        "Garden",
        3,
        1,
        False,
    )
    assert (fall.name, fall.seq_suffix, fall.flags, fall.auto_load) == ("Fall", 4, 0, True)
    assert repr(garden) == "PageEntry('Garden', seq=3, auto_load=false)"
    assert repr(fall) == "PageEntry('Fall', seq=4, auto_load=true)"


@pytest.mark.parametrize(
    ("lines", "expected"),
    [
        (["Page=Garden, 3"], [("Garden", 1, 0)]),
        (["Page="], [("", 1, 0)]),
        (["Page=A=B"], [("A=B", 1, 0)]),
        (["Page = Garden ,2 "], [("Garden ", 2, 0)]),
        (["Page=A,,1"], [("A", 1, 1)]),
        (["Page=A,+7,+2,junk"], [("A", 7, 2)]),
        (["Page=A,0,255"], [("A", 0, 255)]),
        (["Page=A,1,256", "Page=B,,-1"], [("A", 1, 0), ("B", 2, 0)]),
        (["Page=A,1, 1"], [("A", 1, 0)]),
        (["Page=A,4294967295", "Page=B"], [("A", 4294967295, 0), ("B", 0, 0)]),
        (["Page=A,4294967296", "Page=B,-1"], [("A", 1, 0), ("B", 2, 0)]),
        (["Page=A,5", "Page=B,2", "Page=C"], [("A", 5, 0), ("B", 2, 0), ("C", 3, 0)]),
        ([",,,Page=A", "page=B", "PAGE=C", "Page"], []),
    ],
)
def test_page_fields(lines, expected):
    assert [(p.name, p.seq_suffix, p.flags) for p in parse(*lines).pages] == expected


@pytest.mark.parametrize(("flags", "auto_load"), [(0, True), (1, False), (2, True), (255, False)])
def test_auto_load_is_bit_zero_clear(flags, auto_load):
    assert parse(f"Page=A,1,{flags}").pages[0].auto_load is auto_load


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("20", 20),
        ("abc", -1),
        ("", -1),
        ("+5", 5),
        ("-7", -7),
        ("0005", 5),
        ("2147483647", 2147483647),
        ("2147483648", -1),
        ("-2147483648", -2147483648),
        ("-2147483649", -1),
        ("+-5", -1),
        ("- 5", -1),
        ("5 5", -1),
        ("0x10", -1),
        ("1e3", -1),
        ("\uff15", -1),
        ("5 # five", -1),
    ],
)
def test_signed_settings(value, expected):
    assert parse(f"MaxCapacity={value}").max_capacity == expected
    assert parse(f"SequencePrefix={value}").sequence_prefix == (0 if expected == -1 else expected)


def test_the_last_line_for_a_key_decides():
    assert parse("MaxCapacity=20", "MaxCapacity=x").max_capacity == -1
    assert parse("MaxCapacity=x", "MaxCapacity=20").max_capacity == 20
    assert parse("DayLength=12", "DayLength=?").day_length == 24.0


@pytest.mark.parametrize(
    ("value", "expected"),
    [
        ("30.5", 30.5),
        ("24", 24.0),
        ("+1.5e+2", 150.0),
        ("1.5E-1", 0.15000000596046448),
        (".5", 0.5),
        ("5.", 5.0),
        ("0.1", 0.10000000149011612),
        ("16777217", 16777216.0),
        ("00000000000000000000000000000001e-1", 0.10000000149011612),
        ("3.4028235e38", 3.4028234663852886e38),
        ("3.4028236e38", math.inf),
        ("-1e39", -math.inf),
        ("1e99999999999999999999", math.inf),
        ("1e-45", 1.401298464324817e-45),
        ("1e-46", 0.0),
        ("1e-99999999999999999999", 0.0),
        ("0e99999999999999999999", 0.0),
        ("inf", math.inf),
        ("-Infinity", -math.inf),
        ("INF", math.inf),
        ("24 # comment", 24.0),
        (".", 24.0),
        ("", 24.0),
        ("e5", 24.0),
        ("1e", 24.0),
        ("1e+", 24.0),
        ("1.2.3", 24.0),
        ("++1", 24.0),
        ("1_0", 24.0),
        ("1,5", 24.0),
        ("0x1p3", 24.0),
        ("infinit", 24.0),
        ("nan(1)", 24.0),
        ("1 0", 24.0),
    ],
)
def test_day_length_grammar(value, expected):
    assert parse(f"DayLength={value}").day_length == expected


@pytest.mark.parametrize("value", ["nan", "NaN", "-nan", "+NAN"])
def test_day_length_nan(value):
    assert math.isnan(parse(f"DayLength={value}").day_length)


def test_negative_zero_keeps_its_sign():
    assert math.copysign(1.0, parse("DayLength=-0").day_length) == -1.0


@pytest.mark.parametrize(
    "ws", [c for c in WHITE_SPACE if c != "\n"], ids=lambda c: f"U+{ord(c):04X}"
)
def test_every_white_space_character_trims(ws):
    age = parse(f"{ws}DayLength{ws}={ws}12{ws}", f"{ws}Page={ws}A,5{ws}")
    assert age.day_length == 12.0
    assert [(p.name, p.seq_suffix) for p in age.pages] == [("A", 5)]


@pytest.mark.parametrize("other", NOT_WHITE_SPACE, ids=lambda c: f"U+{ord(c):04X}")
def test_other_characters_do_not_trim(other):
    age = parse(f"{other}DayLength=12", f"DayLength{other}=13", f"MaxCapacity=1{other}")
    assert (age.day_length, age.max_capacity) == (24.0, -1)


@pytest.mark.parametrize(
    "content",
    [
        "DayLength=12\nMaxCapacity=5\n",
        "DayLength=12\r\nMaxCapacity=5\r\n",
        "DayLength=12\r\nMaxCapacity=5",
        "\n\n  DayLength=12  \n\n[Section]\n# note\n\tMaxCapacity=5",
    ],
)
def test_line_ends(content):
    age = AgeFile.parse("X", content)
    assert (age.day_length, age.max_capacity) == (12.0, 5)


def test_a_lone_carriage_return_does_not_end_a_line():
    age = AgeFile.parse("X", "MaxCapacity=5\rDayLength=12\n")
    assert (age.day_length, age.max_capacity) == (24.0, -1)


def test_comments_sections_and_case():
    age = parse("#Page=A", "  [Page=B]", "daylength=12", "MaxCapacity=7 # seven", "Page=C#1")
    assert [p.name for p in age.pages] == ["C#1"]
    assert (age.day_length, age.max_capacity) == (24.0, -1)


def test_byte_order_mark_is_kept():
    assert AgeFile.parse("X", "\ufeffPage=A\nPage=B").pages[0].name == "B"


def test_prp_filename():
    age = AgeFile.parse("MyAge", "Page=Garden\nPage=")
    assert age.prp_filename("Garden") == "MyAge_District_Garden.prp"
    assert age.prp_filename("") == "MyAge_District_.prp"
    assert age.prp_filename("garden") is None
    assert age.prp_filename(page_name="Garden ") is None


def test_views_are_fresh_copies():
    age = parse("Page=A")
    assert age.pages[0] is not age.pages[0]
    age.pages.clear()
    assert len(age.pages) == 1
    with pytest.raises(AttributeError):
        age.max_capacity = 3


@pytest.mark.parametrize(
    ("file_name", "age_name"),
    [
        ("Garden.age", "Garden"),
        (".age", ".age"),
        ("a.b.age", "a.b"),
        ("Plain", "Plain"),
        ("x.", "x"),
        ("..age", "."),
    ],
)
def test_load_names_the_age_after_the_file_stem(tmp_path, file_name, age_name):
    path = tmp_path / file_name
    path.write_bytes(b"SequencePrefix=12\r\nPage=Garden,2,1\r\n")
    age = AgeFile.load(str(path))
    assert (age.age_name, age.sequence_prefix, len(age.pages)) == (age_name, 12, 1)
    assert AgeFile.load(path=f"{tmp_path}/./{file_name}").age_name == age_name


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


def test_arguments_and_constructors():
    with pytest.raises(TypeError, match="No constructor defined for AgeFile"):
        AgeFile()
    with pytest.raises(TypeError, match="No constructor defined for PageEntry"):
        lumivex.PageEntry()
    with pytest.raises(TypeError):
        AgeFile.parse("X")
    with pytest.raises(TypeError):
        AgeFile.parse("X", b"Page=A")
    with pytest.raises(TypeError):
        AgeFile.load(b"x.age")
    assert AgeFile.parse(content="Page=A", age_name="K").age_name == "K"


def test_docstrings_and_signatures():
    assert AgeFile.__doc__ == "Parsed .age file."
    assert AgeFile.load.__doc__ == "Load an .age file from disk."
    assert AgeFile.parse.__doc__ == "Parse .age content string."
    assert AgeFile.prp_filename.__doc__ == "Get the .prp filename for a page."
    assert AgeFile.prp_filename.__text_signature__ == "($self, page_name)"
    assert AgeFile.parse.__text_signature__ == "(age_name, content)"


def test_any_text_parses():
    pieces = [
        "Page",
        "DayLength",
        "MaxCapacity",
        "=",
        ",",
        "\n",
        "\r",
        " ",
        "\u3000",
        "#",
        "[",
        "1",
        "-",
        "é",
        "e",
    ]
    rng = random.Random(5)
    for _ in range(300):
        content = "".join(rng.choice(pieces) for _ in range(rng.randrange(40)))
        age = AgeFile.parse("X", content)
        assert len(age.pages) <= content.count("Page")
