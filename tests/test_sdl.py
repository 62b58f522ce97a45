import os
import random

import lumivex
import pytest
from lumivex import SdlFile

GARDEN = """STATEDESC Garden
{
VERSION 3
VAR INT visits[1] DEFAULT=0
VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden
}"""


@pytest.fixture
def write(tmp_path):
    """Writes text (or bytes) to a file in tmp_path and returns its path as a str."""

    def write(name, content):
        path = tmp_path / name
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return str(path)

    return write


def descriptor_a(write, *body):
    """The one descriptor of a file holding descriptor A with these lines."""
    sdl = SdlFile()
    assert sdl.load_file(write("a.sdl", "\n".join(["STATEDESC A", "{", *body, "}"]))) == 1
    return sdl.find("A", 0)


def variable(write, line):
    (var,) = descriptor_a(write, line).variables
    return (var.var_type, var.name, var.count, var.default_value)


@pytest.mark.parametrize(
    "other, same_variables",
    [
        (
            ["VAR INT visits[1] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [True, True],
        ),
        (
            ["VAR INT visits[1] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=shown"],
            [True, False],
        ),
        (
            ["VAR INT visits[1] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DEFAULTOPTION=vault"],
            [True, False],
        ),
        (
            ["VAR INT visits[1] DEFAULT=1", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [False, True],
        ),
        (
            ["VAR INT visits[2] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [False, True],
        ),
        (
            ["VAR BYTE visits[1] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [False, True],
        ),
        (
            ["VAR INT visit[1] DEFAULT=0", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [False, True],
        ),
        (
            ["VAR INT visits[1]", "VAR BOOL flags[] DEFAULT=false DISPLAYOPTION=hidden"],
            [False, True],
        ),
        (["VAR INT visits[1] DEFAULT=0"], [True]),
    ],
)
def test_descriptors_and_variables_are_values_of_what_they_hold(write, other, same_variables):
    # Each is read from a manager of its own, unlike the other's place.
    a = SdlFile()
    a.load_file(write("a.sdl", GARDEN))
    b = SdlFile()
    b.load_file(write("b.sdl", "\n".join(["STATEDESC Garden", "{", "VERSION 3", *other, "}"])))
    (da,), (db,) = a.descriptors(), b.descriptors()
    assert [x == y for x, y in zip(da.variables, db.variables, strict=False)] == same_variables
    assert (da == db) == (all(same_variables) and len(other) == 2)
    for x, y in [(da, db), *zip(da.variables, db.variables, strict=False)]:
        if x == y:
            assert hash(x) == hash(y) and not x != y
    assert da != a.descriptors()[0].variables[0] and da.variables[0] != da.variables[1]
    renamed = SdlFile()
    renamed.load_file(write("c.sdl", GARDEN.replace("VERSION 3", "VERSION 4")))
    assert renamed.descriptors()[0] != da and renamed.descriptors()[0].variables == da.variables


def test_new_manager_is_empty():
    sdl = SdlFile()
    assert (len(sdl), repr(sdl), sdl.find("Garden", 0)) == (0, "SdlFile(0 descriptors)", None)


@pytest.mark.parametrize("end", ["\n", "\r\n"])
def test_garden(write, end):
    sdl = SdlFile()
    assert sdl.load_file(write("g.sdl", GARDEN.replace("\n", end))) == 1
    assert (len(sdl), repr(sdl)) == (1, "SdlFile(1 descriptors)")
    for version in (0, 3):
        assert repr(sdl.find("Garden", version)) == "SdlDescriptor('Garden', v3, 2 vars)"
    assert sdl.find("Garden", 2) is sdl.find("garden", 0) is None
    visits, flags = sdl.find("Garden", 3).variables
    assert repr(visits) == "SdlVariable('visits', type=Int, count=1, default=Some(\"0\"))"
    (var,) = descriptor_a(write, "VAR INT v DEFAULT=a\"b\\c'\x01").variables
    assert repr(var) == "SdlVariable('v', type=Int, count=1, default=Some(\"a\\\"b\\\\c'\\u{1}\"))"
    assert (flags.var_type, flags.name, flags.count, flags.default_value) == (
        "Bool",
        "flags",
        0,
        "false",
    )


# Type words with the display name they select: any case, full Unicode upper-casing
# (dotless i, the fl ligature and long s become I, FL and S).
TYPE_WORDS = """INT Int  float Float  Bool Bool  string32 String32  KEY Key  plKey Key
    STATEDESC StateDescriptor  creatable Creatable  DOUBLE Double  time Time  BYTE Byte
    short Short  AgeTimeOfDay AgeTimeOfDay  vector3 Vector3  POINT3 Point3  rgb Rgb  RGBA Rgba
    quaternion Quaternion  rgb8 Rgb8  MATRIX44 Matrix44
    \u0131nt Int  \ufb02oat Float  \u017fhort Short
""".split()


@pytest.mark.parametrize(
    ("word", "display"), list(zip(TYPE_WORDS[::2], TYPE_WORDS[1::2], strict=False))
)
def test_type_words_keep_their_options(write, word, display):
    assert variable(write, f"VAR {word} v DEFAULT=1") == (display, "v", 1, "1")


@pytest.mark.parametrize("word", ["$Sub", "RGBA8", "INTEGER", "\u0130NT", "\uff49nt", "IN\u200bT"])
def test_other_type_words_are_nested_descriptors_without_options(write, word):
    line = f"VAR {word} sub[2] DEFAULT=5 DEFAULTOPTION=VAULT DISPLAYOPTION=red"
    assert variable(write, line) == ("StateDescriptor", "sub", 2, None)


# Name words with the count they give; the last character stands for "]".
COUNTS = """x 1  x[1] 1  x[] 0  x[abc] 1  x[5 0  x[+3] 3  x[-3] 1  x[007] 7  x[3) 3  x[2][3] 1
    x[18446744073709551615] 18446744073709551615  x[18446744073709551616] 1
    x[ 0  x[5\u00e9 5  x[\u00e9 0  x[5]\u20ac 1
""".split()


@pytest.mark.parametrize(
    ("word", "count"), list(zip(COUNTS[::2], map(int, COUNTS[1::2]), strict=False))
)
def test_count_suffix(write, word, count):
    assert variable(write, f"VAR INT {word}")[1:3] == ("x", count)
    assert variable(write, f"VAR INT \u00e9{word[1:]}")[1:3] == ("\u00e9", count)


@pytest.mark.parametrize(
    ("options", "default"),
    [
        *[("", None), ("DEFAULT = 1", None), ("default=1", None), ("DEFAULT=", "")],
        *[("DEFAULT=1 DEFAULT=2", "2"), ('DEFAULT="a b"', '"a'), ("x DEFAULT=(0,1) y", "(0,1)")],
        *[("DEFAULTOPTION=VAULT DISPLAYOPTION=hidden", None), ("DEFAULT=1\u00a0DEFAULT=2", "2")],
        ("DEFAULT=1\u200bDEFAULT=2", "1\u200bDEFAULT=2"),
    ],
)
def test_options(write, options, default):
    assert variable(write, f"VAR INT v {options}")[3] == default


@pytest.mark.parametrize(
    ("body", "version", "names"),
    [
        (["VERSION 7", "VAR INT a", "VAR FLOAT b"], 7, ["a", "b"]),
        (["version 7", "var INT a", "VERSION abc"], 0, []),
        (["VERSION +5 extra", "VERSION"], 5, []),
        (["VERSION 4294967295"], 4294967295, []),
        (["VERSION 2", "VERSION 4294967296"], 0, []),
        (["VAR INT", "VAR", "VARS INT a", "INT a", "{", "# VAR INT c"], 0, []),
        (["\u3000VAR\u00a0INT\u2003a\u3000", "VAR\u200bINT b"], 0, ["a"]),
    ],
)
def test_body_lines(write, body, version, names):
    descriptor = descriptor_a(write, *body)
    assert (descriptor.version, [v.name for v in descriptor.variables]) == (version, names)


@pytest.mark.parametrize(
    ("text", "found"),
    [
        ("STATEDESC A\n{\n};\nSTATEDESC Garden\n}", "Garden"),
        ("STATEDESC A\n} # end", None),
        ("STATEDESC Garden\nSTATEDESC A\n{\n}", "A"),
        ("VAR INT x\n}\nSTATEDESC A\n}\nVERSION 4\nSTATEDESC", "A"),
        ("STATEDESC\n}", ""),
        ("STATEDESC A B\n}", "A"),
        ("STATEDESCA Garden\n}", "Garden"),
        ("statedesc Garden\n}", None),
        ("\ufeff\ufeffSTATEDESC Garden\n}\nSTATEDESC A\n}\n", "A"),
        ("  STATEDESC A  \r\n { \r\n   }   ", "A"),
    ],
)
def test_descriptor_lines(write, text, found):
    sdl = SdlFile()
    sdl.load_file(write("a.sdl", text))
    assert len(sdl) == (found is not None)
    assert found is None or sdl.find(found, 0).name == found


def descriptors(*versions):
    """Descriptor A in each version, the nth one with n variables."""
    return "".join(
        f"STATEDESC A\n{{\nVERSION {v}\n" + "VAR INT v\n" * n + "}\n"
        for n, v in enumerate(versions, 1)
    )


def test_find_picks_among_versions(write):
    sdl = SdlFile()
    assert sdl.load_file(write("a.sdl", descriptors(3, 5, 5, 4294967295, 1))) == 5
    assert sdl.find("A", 4) is None
    assert [len(sdl.find("A", v).variables) for v in (5, 0, 1)] == [2, 4, 5]
    sdl.load_file(write("b.sdl", descriptors(4294967295)))
    assert len(sdl.find("A", 0).variables) == 1


def test_repeated_loads_add_again_and_leave_handed_out_views(write):
    sdl = SdlFile()
    assert sdl.load_file(write("a.sdl", descriptors(1))) == 1
    first = sdl.find("A", 1)
    path = write("a.sdl", descriptors(7, 1))
    assert (sdl.load_file(path), sdl.load_file(path)) == (2, 2)
    assert (len(sdl), repr(sdl)) == (5, "SdlFile(5 descriptors)")
    assert [len(sdl.find("A", v).variables) for v in (1, 0)] == [1, 1]
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
        path.write_bytes(GARDEN.encode() + b"\n\xc0\x80")
    with pytest.raises(OSError) as error:
        sdl.load_file(str(path))
    assert (str(error.value), len(sdl)) == (f"Failed to read {path}", 1)


def test_load_directory_takes_only_readable_sdl_files(tmp_path, write):
    for name in ["A.sdl", "B.txt", "C.SDL", ".sdl", "E.sdl.bak", "sub/F.sdl"]:
        (tmp_path / name).parent.mkdir(exist_ok=True)
        write(name, descriptors(1).replace(" A", " " + name.split(".")[0].split("/")[-1]))
    write("G.sdl", descriptors(1).encode() + b"\xff")
    write("empty.sdl", b"")
    (tmp_path / "H.sdl").mkdir()
    os.mkfifo(tmp_path / "pipe.sdl")
    with open(os.fsencode(tmp_path) + b"/\xff.sdl", "wb") as undecodable_name:
        undecodable_name.write(descriptors(1, 2).encode())
    sdl = SdlFile()
    assert sdl.load_directory(str(tmp_path)) == 3
    assert sdl.load_directory(path=f"{tmp_path}/") == 3
    assert len(sdl) == 6
    names = ["A", "B", "C", "", "E", "F", "G", "H"]
    assert [n for n in names if sdl.find(n, 0)] == ["A"] and sdl.find("A", 2)


@pytest.mark.parametrize(
    ("target", "message"),
    [("missing", "No such file or directory (os error 2)"), ("f", "Not a directory (os error 20)")],
)
def test_load_directory_that_cannot_be_listed(write, tmp_path, target, message):
    sdl = SdlFile()
    sdl.load_file(write("f", GARDEN))
    with pytest.raises(OSError) as error:
        sdl.load_directory(str(tmp_path / target))
    assert (str(error.value), len(sdl)) == (message, 1)


def test_arguments_constructors_and_docs():
    with pytest.raises(OverflowError):
        SdlFile().find("A", -1)
    assert SdlFile().find(version=4294967295, name="A") is None
    for call in (lambda: SdlFile(1), lambda: SdlFile(path="x"), lumivex.SdlVariable):
        with pytest.raises(TypeError):
            call()
    assert SdlFile.__doc__ == "SDL state descriptor manager."
    assert SdlFile.load_file.__doc__ == "Load a single .sdl file."
    assert SdlFile.load_directory.__doc__ == "Load all .sdl files from a directory."
    assert SdlFile.find.__doc__ == "Find a descriptor by name. Returns None if not found."
    assert SdlFile.find.__text_signature__ == "($self, name, version)"
    assert SdlFile.load_directory.__text_signature__ == "($self, path)"


def test_any_bytes_load_or_fail_cleanly(write):
    pieces = [b"STATEDESC A\n", b"{\n", b"}\n", b"VAR ", b"VERSION ", b" ", b"\n", b"\r", b"["]
    pieces += [
        b"]",
        b"INT ",
        b"$",
        b"DEFAULT=",
        b"9",
        b"\xc3\xa9",
        b"\xe3\x80\x80",
        b"\xff",
        b"\xe2",
    ]
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


def test_descriptors_lists_every_copy_by_name_then_reading_order(write):
    sdl = SdlFile()
    assert sdl.descriptors() == []
    one = "STATEDESC B\n{\nVERSION 5\n}\nSTATEDESC a\n{\n}\nSTATEDESC B\n{\nVERSION 2\n}\n"
    sdl.load_file(write("one.sdl", one))
    sdl.load_file(write("two.sdl", "STATEDESC A\n{\nVERSION 9\nVAR INT x\n}\n"))
    listed = sdl.descriptors()
    assert [(d.name, d.version) for d in listed] == [("A", 9), ("B", 5), ("B", 2), ("a", 0)]
    assert repr(listed[0].variables) == "[SdlVariable('x', type=Int, count=1, default=None)]"
    assert sdl.descriptors()[0] is not listed[0]
    assert SdlFile.descriptors.__text_signature__ == "($self)"


BOM = b"\xef\xbb\xbf"


@pytest.mark.parametrize(
    ("content", "names"),
    [
        (BOM + GARDEN.encode(), ["Garden"]),
        (BOM + b"\r\n" + GARDEN.encode(), ["Garden"]),
        # Only one mark, and only at the very start, is passed over.
        (BOM + BOM + GARDEN.encode() + b"\nSTATEDESC A\n}", ["A"]),
        (b" " + BOM + GARDEN.encode() + b"\nSTATEDESC A\n}", ["A"]),
        (b"\n" + BOM + GARDEN.encode(), []),
    ],
)
def test_one_leading_byte_order_mark_is_ignored(tmp_path, write, content, names):
    sdl = SdlFile()
    assert sdl.load_file(write("bom.sdl", content)) == len(names)
    assert [d.name for d in sdl.descriptors()] == names
    directory = tmp_path / "dir"
    directory.mkdir()
    (directory / "bom.sdl").write_bytes(content)
    assert SdlFile().load_directory(str(directory)) == len(names)
    if names == ["Garden"]:
        assert repr(sdl.find("Garden", 0).variables[0]) == (
            "SdlVariable('visits', type=Int, count=1, default=Some(\"0\"))"
        )


def expected_order(read):
    """Names in byte order, equal names in the order they were read."""
    return [d for _, d in sorted(enumerate(read), key=lambda p: (p[1][0].encode(), p[0]))]


def descriptor_text(name, version, mark):
    return f"STATEDESC {name}\n{{\nVERSION {version}\nVAR INT m DEFAULT={mark}\n}}\n"


def listed(sdl):
    return [(d.name, d.version, d.variables[0].default_value) for d in sdl.descriptors()]


def test_find_and_order_across_many_loads(write):
    # Names equal for their first 24 bytes or more, prefixes of each other, with
    # a NUL byte, empty, and not ASCII.
    long = "p" * 30
    names = [long, long + "a", long + "b", long + "ab", long + "\x00", "a" * 23, "a" * 24]
    names += ["a" * 24 + "a", "", "Z", "z", "\xe9", "\u3042"]
    rng = random.Random(11)
    sdl, read = SdlFile(), []
    for number in range(60):
        chosen = [(rng.choice(names), rng.randrange(4)) for _ in range(rng.randrange(12))]
        marks = range(len(read), len(read) + len(chosen))
        text = "".join(descriptor_text(n, v, m) for (n, v), m in zip(chosen, marks, strict=True))
        assert sdl.load_file(write(f"{number}.sdl", text)) == len(chosen)
        read += [(n, v, str(m)) for (n, v), m in zip(chosen, marks, strict=True)]
    assert listed(sdl) == expected_order(read)
    for name in names:
        versions = [d for d in read if d[0] == name]
        found = sdl.find(name, 0)
        best = max(v for _, v, _ in versions)
        assert found.variables[0].default_value == [m for _, v, m in versions if v == best][-1]
        for version in range(1, 4):
            first = next((m for _, v, m in versions if v == version), None)
            found = sdl.find(name, version)
            assert (found and found.variables[0].default_value) == first


def test_one_load_of_more_descriptors_than_are_sorted_at_once(write):
    rng = random.Random(5)
    read = [(f"{rng.randrange(5000):04d}", rng.randrange(3), str(m)) for m in range(70_000)]
    text = "".join(descriptor_text(*d) for d in read)
    sdl = SdlFile()
    assert sdl.load_file(write("many.sdl", text)) == len(sdl) == 70_000
    assert listed(sdl) == expected_order(read)
    assert (
        sdl.find("0042", 0).variables[0].default_value
        == (
            [
                m
                for n, v, m in read
                if n == "0042" and v == max(v for n, v, _ in read if n == "0042")
            ][-1]
        )
    )
