import os
import random

import lumivex
import pytest
from lumivex import SdlFile

GARDEN = [
    "STATEDESC Garden",
    "{",
    "VERSION 3",
    "VAR INT visits[1] DEFAULT=0",
    "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden",
    "}",
]


@pytest.fixture
def write(tmp_path):
    """Writes lines (or bytes) to a file in tmp_path and returns its path as a str."""

    def write(name, content, end="\n"):
        path = tmp_path / name
        if isinstance(content, bytes):
            path.write_bytes(content)
        else:
            path.write_text(end.join(content), encoding="utf-8", newline="")
        return str(path)

    return write


def load(write, *lines, end="\n"):
    sdl = SdlFile()
    sdl.load_file(write("t.sdl", list(lines), end))
    return sdl


def only(sdl):
    """The one descriptor of a manager that holds a single descriptor named A."""
    assert len(sdl) == 1
    return sdl.find("A", 0)


def variable(write, line):
    (var,) = only(load(write, "STATEDESC A", "{", line, "}")).variables
    return (var.var_type, var.name, var.count, var.default_value)


def test_new_manager_is_empty():
    sdl = SdlFile()
    assert (len(sdl), repr(sdl), sdl.find("Garden", 0)) == (0, "SdlFile(0 descriptors)", None)


@pytest.mark.parametrize("end", ["\n", "\r\n"])
def test_garden(write, end):
    sdl = load(write, *GARDEN, end=end)
    assert (len(sdl), repr(sdl)) == (1, "SdlFile(1 descriptors)")
    for version in (0, 3):
        assert repr(sdl.find("Garden", version)) == "SdlDescriptor('Garden', v3, 2 vars)"
    assert sdl.find("Garden", 2) is None
    assert sdl.find("garden", 0) is None
    visits, flags = sdl.find("Garden", 3).variables
    assert repr(visits) == "SdlVariable('visits', type=Int, count=1, default=Some(\"0\"))"
    assert (flags.var_type, flags.name, flags.count, flags.default_value) == (
        "Bool",
        "flags",
        0,
        "false",
    )


@pytest.mark.parametrize(
    ("word", "display"),
    [
        ("INT", "Int"),
        ("float", "Float"),
        ("Bool", "Bool"),
        ("string32", "String32"),
        ("KEY", "Key"),
        ("plKey", "Key"),
        ("STATEDESC", "StateDescriptor"),
        ("creatable", "Creatable"),
        ("DOUBLE", "Double"),
        ("time", "Time"),
        ("BYTE", "Byte"),
        ("short", "Short"),
        ("AgeTimeOfDay", "AgeTimeOfDay"),
        ("vector3", "Vector3"),
        ("POINT3", "Point3"),
        ("rgb", "Rgb"),
        ("RGBA", "Rgba"),
        ("quaternion", "Quaternion"),
        ("rgb8", "Rgb8"),
        ("MATRIX44", "Matrix44"),
        ("\u0131nt", "Int"),  # dotless i upper-cases to I
        ("\ufb02oat", "Float"),  # the fl ligature to FL
        ("\u017fhort", "Short"),  # long s to S
    ],
)
def test_type_words_keep_their_options(write, word, display):
    assert variable(write, f"VAR {word} v DEFAULT=1") == (display, "v", 1, "1")


@pytest.mark.parametrize("word", ["$Sub", "RGBA8", "INTEGER", "\u0130NT", "\uff49nt", "IN\u200bT"])
def test_other_type_words_are_nested_descriptors_without_options(write, word):
    line = f"VAR {word} sub[2] DEFAULT=5 DEFAULTOPTION=VAULT DISPLAYOPTION=red"
    assert variable(write, line) == ("StateDescriptor", "sub", 2, None)


@pytest.mark.parametrize(
    ("word", "name", "count"),
    [
        ("x", "x", 1),
        ("x[1]", "x", 1),
        ("x[]", "x", 0),
        ("x[abc]", "x", 1),
        ("x[5", "x", 0),
        ("x[+3]", "x", 3),
        ("x[-3]", "x", 1),
        ("x[007]", "x", 7),
        ("x[18446744073709551615]", "x", 18446744073709551615),
        ("x[18446744073709551616]", "x", 1),
        ("x[3)", "x", 3),
        ("x[2][3]", "x", 1),
        ("[4]", "", 4),
        ("x[", "x", 0),
        ("x[5\u00e9", "x", 5),
        ("x[\u00e9", "x", 0),
        ("x[5]\u20ac", "x", 1),
        ("\u00e9t\u00e9[2]", "\u00e9t\u00e9", 2),
    ],
)
def test_name_and_count(write, word, name, count):
    assert variable(write, f"VAR INT {word}")[1:3] == (name, count)


@pytest.mark.parametrize(
    ("options", "default"),
    [
        ("", None),
        ("DEFAULT = 1", None),
        ("default=1", None),
        ("DEFAULT=", ""),
        ("DEFAULT=1 DEFAULT=2", "2"),
        ('DEFAULT="a b"', '"a'),
        ("DEFAULTOPTION=VAULT DISPLAYOPTION=hidden", None),
        ("junk DEFAULT=(0,1,0) more", "(0,1,0)"),
        ("DEFAULT=1\u00a0DEFAULT=2", "2"),
        ("DEFAULT=1\u200bDEFAULT=2", "1\u200bDEFAULT=2"),
    ],
)
def test_options(write, options, default):
    assert variable(write, f"VAR INT v {options}")[3] == default


@pytest.mark.parametrize(
    ("default", "shown"),
    [
        ("0", 'Some("0")'),
        ("a\"b\\c'd", 'Some("a\\"b\\\\c\'d")'),
        ("\x01\x7f\u00e9", 'Some("\\u{1}\\u{7f}\u00e9")'),
    ],
)
def test_default_in_repr(write, default, shown):
    (var,) = only(load(write, "STATEDESC A", "{", f"VAR INT v DEFAULT={default}", "}")).variables
    assert repr(var) == f"SdlVariable('v', type=Int, count=1, default={shown})"


@pytest.mark.parametrize(
    ("body", "version", "names"),
    [
        (["VERSION 7", "VAR INT a", "VAR FLOAT b"], 7, ["a", "b"]),
        (["version 7", "var INT a"], 0, []),
        (["VERSION abc"], 0, []),
        (["VERSION +5 extra"], 5, []),
        (["VERSION 4294967295"], 4294967295, []),
        (["VERSION 4294967296"], 0, []),
        (["VERSION 2", "VERSION"], 2, []),
        (["VERSION 2", "VERSION 9"], 9, []),
        (["VAR INT", "VAR", "VARS INT a", "INT a", "{", "# VAR INT c"], 0, []),
        (["\u3000VAR\u00a0INT\u2003a\u3000"], 0, ["a"]),
        (["VAR\u200bINT a"], 0, []),
    ],
)
def test_body_lines(write, body, version, names):
    descriptor = only(load(write, "STATEDESC A", "{", *body, "}"))
    assert (descriptor.version, [v.name for v in descriptor.variables]) == (version, names)


@pytest.mark.parametrize(
    ("lines", "found"),
    [
        (["STATEDESC A", "{", "};", "STATEDESC Garden", "}"], "Garden"),
        (["STATEDESC A", "} # end"], None),
        (["STATEDESC Garden", "STATEDESC A", "{", "}"], "A"),
        (["VAR INT x", "}", "STATEDESC A", "}", "VERSION 4", "STATEDESC"], "A"),
        (["STATEDESC", "}"], ""),
        (["STATEDESC A B", "}"], "A"),
        (["STATEDESCA Garden", "}"], "Garden"),
        (["statedesc Garden", "}"], None),
        (["\ufeffSTATEDESC Garden", "}", "STATEDESC A", "}"], "A"),
        (["  STATEDESC A  ", " { ", "   }   "], "A"),
    ],
)
def test_descriptor_lines(write, lines, found):
    sdl = load(write, *lines)
    if found is None:
        assert len(sdl) == 0
    else:
        assert (len(sdl), sdl.find(found, 0).name) == (1, found)


def test_last_line_needs_no_line_feed(write):
    sdl = SdlFile()
    assert sdl.load_file(write("a.sdl", b"STATEDESC A\n{\nVAR INT a\n}")) == 1


def test_find_picks_among_versions(write):
    sdl = SdlFile()
    lines = []
    for version, variables in [(3, 1), (5, 2), (5, 3), (4294967295, 4), (1, 5)]:
        lines += ["STATEDESC A", "{", f"VERSION {version}"]
        lines += [f"VAR INT v{i}" for i in range(variables)] + ["}"]
    assert sdl.load_file(write("a.sdl", lines)) == 5
    assert len(sdl.find("A", 5).variables) == 2
    assert sdl.find("A", 4) is None
    assert len(sdl.find("A", 0).variables) == 4


def test_equal_highest_versions_go_to_the_last_read(write):
    sdl = SdlFile()
    sdl.load_file(write("a.sdl", ["STATEDESC A", "{", "VERSION 5", "VAR INT a", "}"] * 2))
    sdl.load_file(write("b.sdl", ["STATEDESC A", "{", "VERSION 5", "}"]))
    assert sdl.find("A", 0).variables == []
    assert len(sdl.find("A", 5).variables) == 1


def test_repeated_loads_add_again_and_leave_handed_out_views(write):
    sdl = SdlFile()
    path = write("a.sdl", ["STATEDESC A", "{", "VERSION 1", "VAR INT old", "}"])
    assert sdl.load_file(path) == 1
    first = sdl.find("A", 1)
    path = write("a.sdl", ["STATEDESC A", "{", "VERSION 1", "VAR INT new", "}"])
    assert (sdl.load_file(path), sdl.load_file(path)) == (1, 1)
    assert (len(sdl), repr(sdl)) == (3, "SdlFile(3 descriptors)")
    assert [v.name for v in sdl.find("A", 1).variables] == ["old"]
    assert [v.name for v in sdl.find("A", 0).variables] == ["new"]
    assert repr(first) == "SdlDescriptor('A', v1, 1 vars)"
    assert first.variables[0] is not first.variables[0]


@pytest.mark.parametrize("kind", ["missing", "directory", "not utf-8"])
def test_load_file_failure_leaves_the_manager(write, tmp_path, kind):
    sdl = SdlFile()
    sdl.load_file(write("good.sdl", GARDEN))
    path = tmp_path / "bad.sdl"
    if kind == "directory":
        path.mkdir()
    elif kind == "not utf-8":
        path.write_bytes("\n".join(GARDEN).encode() + b"\n\xc0\x80")
    with pytest.raises(OSError) as error:
        sdl.load_file(str(path))
    assert str(error.value) == f"Failed to read {path}"
    assert len(sdl) == 1


def test_load_directory_takes_only_readable_sdl_files(tmp_path, write):
    def descriptor(name):
        return ["STATEDESC " + name, "{", "}"]

    write("a.sdl", descriptor("A") + descriptor("A2"))
    write("b.txt", descriptor("B"))
    write("c.SDL", descriptor("C"))
    write(".sdl", descriptor("D"))
    write("e.sdl.bak", descriptor("E"))
    write("f.sdl", b"STATEDESC F\n{\n}\n\xff")
    write("empty.sdl", b"")
    (tmp_path / "g.sdl").mkdir()
    (tmp_path / "sub").mkdir()
    write("sub/h.sdl", descriptor("H"))
    with open(os.fsencode(tmp_path) + b"/\xff.sdl", "wb") as undecodable_name:
        undecodable_name.write(b"STATEDESC I\n{\n}\n")
    sdl = SdlFile()
    assert sdl.load_directory(str(tmp_path)) == 3
    assert sdl.load_directory(path=f"{tmp_path}/") == 3
    assert len(sdl) == 6
    found = [n for n in ("A", "A2", "B", "C", "D", "E", "F", "H", "I") if sdl.find(n, 0)]
    assert found == ["A", "A2", "I"]


@pytest.mark.parametrize(
    ("target", "message"),
    [
        ("missing", "No such file or directory (os error 2)"),
        ("file", "Not a directory (os error 20)"),
    ],
)
def test_load_directory_that_cannot_be_listed(write, tmp_path, target, message):
    sdl = SdlFile()
    sdl.load_file(write("file", GARDEN))
    with pytest.raises(OSError) as error:
        sdl.load_directory(str(tmp_path / target))
    assert str(error.value) == message
    assert len(sdl) == 1


def test_arguments():
    sdl = SdlFile()
    with pytest.raises(OverflowError):
        sdl.find("A", -1)
    with pytest.raises(OverflowError):
        sdl.find("A", 2**32)
    with pytest.raises(TypeError):
        sdl.find("A", "1")
    with pytest.raises(TypeError):
        sdl.find("A")
    with pytest.raises(TypeError):
        sdl.load_file(b"a.sdl")
    assert sdl.find(version=4294967295, name="A") is None
    for args, kwargs in [((1,), {}), ((), {"path": "x"})]:
        with pytest.raises(TypeError):
            SdlFile(*args, **kwargs)
    for cls in (lumivex.SdlDescriptor, lumivex.SdlVariable):
        with pytest.raises(TypeError, match=f"No constructor defined for {cls.__name__}"):
            cls()


def test_docstrings_and_signatures():
    assert SdlFile.__doc__ == "SDL state descriptor manager."
    assert SdlFile.load_file.__doc__ == "Load a single .sdl file."
    assert SdlFile.load_directory.__doc__ == "Load all .sdl files from a directory."
    assert SdlFile.find.__doc__ == "Find a descriptor by name. Returns None if not found."
    assert SdlFile.find.__text_signature__ == "($self, name, version)"
    assert SdlFile.load_file.__text_signature__ == "($self, path)"


def test_any_bytes_load_or_fail_cleanly(write):
    pieces = [b"STATEDESC A", b"{", b"}", b"VAR", b"VERSION", b" ", b"\n", b"\r", b"[", b"]"]
    pieces += [b"INT", b"$", b"DEFAULT=", b"9", b"\xc3\xa9", b"\xe3\x80\x80", b"\xff", b"\xe2\x80"]
    rng = random.Random(7)
    sdl = SdlFile()
    for i in range(300):
        content = b"".join(rng.choice(pieces) for _ in range(rng.randrange(60)))
        before = len(sdl)
        try:
            added = sdl.load_file(write(f"{i}.sdl", content))
        except OSError:
            added = 0
        assert len(sdl) == before + added
