"""The lints of age and state descriptions: each line the parser skips,
guesses or defaults, with its reason, and never a line it takes as written;
the problems as named tuples; files read as the loads read them."""

import os
import pickle
from pathlib import Path

import lumivex
import pytest
from lumivex import AgeFile, LintProblem, SdlFile

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
NOT_AGE = (
    "not an age description: no line sets one of its keys, which are case-sensitive: "
    "StartDateTime, DayLength, MaxCapacity, LingerTime, SequencePrefix, ReleaseVersion, Page"
)
NOT_SDL = (
    "not a state description: no line opens a descriptor with STATEDESC, which is case-sensitive"
)
NOT_UTF8 = "not UTF-8 text: the whole file is refused"
UNSIGNED = "a whole number from 0 to 4294967295"
UNSIGNED_64 = "a whole number from 0 to 18446744073709551615"
SIGNED = "a whole number from -2147483648 to 2147483647"


def age_problems(*lines):
    """The problems of an age holding the lines after one page, as (line, reason)."""
    return [(p.line - 1, p.reason) for p in AgeFile.lint_text("X", "\n".join(("Page=P", *lines)))]


def sdl_problems(*lines):
    """The problems of the lines inside a descriptor of version 1, as (line, reason)."""
    text = "\n".join(("STATEDESC S", "{", "VERSION 1", *lines, "}"))
    return [(p.line - 3, p.reason) for p in SdlFile.lint_text(text)]


@pytest.mark.parametrize(
    "lines",
    [
        ["# comment = 1", "[Pages]", "", "   \t", "\u3000"],
        ["DayLength=30.5", "DayLength = -inf ", "DayLength=1e40", "DayLength=.5", "DayLength=NaN"],
        [
            "MaxCapacity=-2147483648",
            "LingerTime=+7",
            "SequencePrefix=0",
            "StartDateTime=4294967295",
        ],
        ["ReleaseVersion=+0", "Page=A,3,1", "Page=B", "Page=,0,255", "Page=C=D,4294967295"],
        ["Page = Garden ,2", "Page=\u00e9t\u00e9,5,0"],
    ],
)
def test_age_lines_taken_as_written_are_not_reported(lines):
    assert age_problems(*lines) == []


@pytest.mark.parametrize(
    "line,reason",
    [
        ("Pgae=Hall,1", 'unknown key "Pgae": skipped (did you mean "Page"?)'),
        ("page=Hall", 'unknown key "page": skipped (did you mean "Page"?)'),
        ("Color=red", 'unknown key "Color": skipped'),
        ("\ufeffPage=A", 'unknown key "\\u{feff}Page": skipped'),
        ("=5", 'no key before "=": skipped'),
        ("Page Garden", 'not a setting (no "="): skipped'),
        ("DayLength=thirty", 'DayLength "thirty" is not a number: 24.0 is used'),
        (
            "DayLength=24 # hours",
            'DayLength "24 # hours" is not a number (a "#" starts a comment only at the start '
            "of a line): 24.0 is used",
        ),
        ("DayLength=", "DayLength has no value: 24.0 is used"),
        ("MaxCapacity=abc", f'MaxCapacity "abc" is not {SIGNED}: -1 is used'),
        ("MaxCapacity=2147483648", f'MaxCapacity "2147483648" is not {SIGNED}: -1 is used'),
        ("StartDateTime=-1", f'StartDateTime "-1" is not {UNSIGNED}: 0 is used'),
        ("Page=Garden,two", f'page "Garden": sequence suffix "two" is not {UNSIGNED}: 2 is used'),
        (
            "Page=Garden, 3",
            f'page "Garden": sequence suffix " 3" is not {UNSIGNED} (no spaces around the commas): '
            "2 is used",
        ),
        ("Page=Garden,,1", 'page "Garden": no sequence suffix between the commas: 2 is used'),
        (
            "Page=Garden,1,256",
            'page "Garden": flags "256" are not a whole number from 0 to 255: 0 is used',
        ),
        (
            "Page=Garden,1, 1",
            'page "Garden": flags " 1" are not a whole number from 0 to 255 (no spaces around the '
            "commas): 0 is used",
        ),
        ("Page=Garden,1,", 'page "Garden": no flags after the comma: 0 is used'),
        ("Page=Garden,1,0,x,y", 'page "Garden": text after the flags is ignored: "x,y"'),
        (
            "Page=x/../../secret,1",
            'page "x/../../secret": not a plain file name (it holds "/"): '
            "no page file is looked for",
        ),
        ("Page=..", 'page "..": not a plain file name (it is ".."): no page file is looked for'),
        ("Pa\x1bge=1", 'unknown key "Pa\\u{1b}ge": skipped (did you mean "Page"?)'),
        ("x" * 70 + "=1", 'unknown key "' + "x" * 60 + '"...: skipped'),
    ],
)
def test_age_lines_reported(line, reason):
    assert age_problems(line) == [(1, reason)]


def test_age_problems_of_a_line_come_in_order_and_share_its_text():
    first, second = AgeFile.lint_text("X", "Page=A\r\nPage=B,x,y\r\n")
    assert (first.line, second.line, first.text) == (2, 2, "Page=B,x,y")
    assert first.text is second.text
    assert [first.reason, second.reason] == [
        f'page "B": sequence suffix "x" is not {UNSIGNED}: 2 is used',
        'page "B": flags "y" are not a whole number from 0 to 255: 0 is used',
    ]


def test_age_suffix_used_is_the_running_counter():
    # The counter restarts at an explicit suffix and wraps after the largest.
    assert age_problems("Page=A,4294967295", "Page=B,x") == [
        (2, f'page "B": sequence suffix "x" is not {UNSIGNED}: 0 is used')
    ]
    assert age_problems("Page=A,7", "Page=B", "Page=C,-1") == [
        (3, f'page "C": sequence suffix "-1" is not {UNSIGNED}: 9 is used')
    ]


@pytest.mark.parametrize(
    "content",
    ["", "\n\n", "# only a comment", "[Pages]", "hello world\n", "page=A\nmaxcapacity=3", "\ufeff"],
)
def test_text_that_is_no_age_description_is_one_problem(content):
    assert AgeFile.lint_text("X", content) == [(0, "", NOT_AGE)]


@pytest.mark.parametrize(
    "lines",
    [
        ["", "# VAR INT x", "VAR INT a", "VAR INT b[1] DEFAULT=0", "VAR BOOL c[] DEFAULT=false"],
        ["VAR plKey d DEFAULTOPTION=VAULT DISPLAYOPTION=hidden", "VAR $Sub e[2]", "VAR rgb8 f"],
        ["VAR INT g[+3] DEFAULT= DEFAULT=1", "VAR STATEDESC h DEFAULT=x", "{", "VERSION 2"],
        ["\tVAR\u3000FLOAT i\t DEFAULT=0.5 ", "VAR \u0131nt j"],
    ],
)
def test_sdl_lines_taken_as_written_are_not_reported(lines):
    assert sdl_problems(*lines) == []


@pytest.mark.parametrize(
    "line,reasons",
    [
        ("var INT x", ['not understood: skipped (did you mean "VAR"?)']),
        ("x", ["not understood: skipped"]),
        ("VAR", ["VAR without a type and a name: skipped"]),
        ("VAR INT", ["VAR without a name after its type: skipped"]),
        ("VERSION", ["VERSION without a number: skipped"]),
        ("VERSION three", [f'version "three" is not {UNSIGNED}: 0 is used']),
        ("VERSION 3 4", ['text after the version is ignored: "4"']),
        ("{ VERSION 3", ['text after "{" is ignored: "VERSION 3"']),
        ("};", ['not a closing line: skipped ("}" closes a descriptor only alone on its line)']),
        (
            "VAR RGBA8 c DEFAULT=1",
            [
                'unknown type "RGBA8": the variable\'s type is StateDescriptor (did you mean "RGBA"?)',
                'options of a variable of unknown type are ignored: "DEFAULT=1"',
            ],
        ),
        (
            "VAR $Sub s[2] DEFAULT=5  DISPLAYOPTION=x ",
            [
                'options of a nested descriptor\'s variable are ignored: "DEFAULT=5  DISPLAYOPTION=x"'
            ],
        ),
        ("VAR INT x[abc]", [f'count "abc" is not {UNSIGNED_64}: 1 is used']),
        (
            "VAR INT x[5",
            ['no "]" at the end of "x[5": the count is 0, its last character taken for the "]"'],
        ),
        ("VAR INT x[", ['no "]" at the end of "x[": the count is 0']),
        ("VAR INT x DEFALT=0", ['unknown option "DEFALT=0": ignored (did you mean "DEFAULT="?)']),
        (
            "VAR INT x DEFAULT = 0",
            [
                'unknown option "DEFAULT": ignored (an option is written DEFAULT=value, without spaces)',
                'unknown option "=": ignored',
                'unknown option "0": ignored',
            ],
        ),
        (
            "VAR INT x DEFAULT=1 # the start",
            ['"# the start" is ignored: a "#" starts a comment only at the start of a line'],
        ),
        (
            "VAR INT x # DEFAULT=3 z",
            [
                '"#" is ignored: a "#" starts a comment only at the start of a line',
                'unknown option "z": ignored',
            ],
        ),
    ],
)
def test_sdl_lines_reported(line, reasons):
    assert sdl_problems(line) == [(1, reason) for reason in reasons]


@pytest.mark.parametrize(
    "text,problems",
    [
        (
            "foo\nSTATEDESC A\n{\nVERSION 1\n}\nstatedesc B\n}\n",
            [
                (1, "outside any descriptor: skipped"),
                (6, 'outside any descriptor: skipped (did you mean "STATEDESC"?)'),
                (7, '"}" closes no descriptor: skipped'),
            ],
        ),
        (
            "STATEDESC A\n{\nVAR INT x\n}\n",
            [(1, 'descriptor "A" has no VERSION line: its version is 0')],
        ),
        (
            "STATEDESC A\nVERSION 1\nVAR T x\nSTATEDESC B\nVERSION 1\n}",
            [
                (1, 'descriptor "A" is never closed by a "}" line: dropped'),
                (3, 'unknown type "T": the variable\'s type is StateDescriptor'),
            ],
        ),
        (
            "STATEDESC\nVERSION 1\n}\nSTATEDESCRIPTOR B C\nVERSION 1\n}",
            [
                (1, "STATEDESC without a name: the descriptor's name is empty"),
                (4, '"STATEDESCRIPTOR" is read as STATEDESC: it opens a descriptor named "B"'),
                (4, 'text after the descriptor\'s name is ignored: "C"'),
            ],
        ),
        (
            "STATEDESC A {\nVERSION 1\n};",
            [
                (1, 'text after the descriptor\'s name is ignored: "{"'),
                (1, 'descriptor "A" is never closed by a "}" line: dropped'),
                (3, 'not a closing line: skipped ("}" closes a descriptor only alone on its line)'),
            ],
        ),
    ],
)
def test_sdl_descriptor_structure(text, problems):
    assert [(p.line, p.reason) for p in SdlFile.lint_text(text)] == problems


@pytest.mark.parametrize(
    "content",
    ["", "# STATEDESC A", "statedesc A\n{\n}\n", "VAR INT x\n", "\ufeff\ufeffSTATEDESC A"],
)
def test_text_that_is_no_state_description_is_one_problem(content):
    assert SdlFile.lint_text(content) == [(0, "", NOT_SDL)]


@pytest.mark.parametrize("sample", ["Demo.age", "sdl/Demo.sdl", "sdl/DemoFountain.sdl"])
def test_samples_are_clean(sample):
    path = SAMPLES / sample
    lint = AgeFile.lint if sample.endswith(".age") else SdlFile.lint
    assert lint(path) == []


def test_byte_order_mark_and_line_ends():
    (problem,) = AgeFile.lint_text("X", "\ufeffPage=A\r\nfoo\r\n")
    assert (problem.line, problem.text) == (2, "foo")
    (problem,) = SdlFile.lint_text("\ufeffSTATEDESC A\r\n{\r\nVERSION x\r\n}\r")
    assert (problem.line, problem.text) == (3, "VERSION x")
    # A carriage return goes with a line feed only; elsewhere it is white
    # space, which the parsers pass over but the line's text keeps.
    assert AgeFile.lint_text("X", "Page=A\nfoo\r") == [
        (2, "foo\r", 'not a setting (no "="): skipped')
    ]


@pytest.mark.parametrize(
    "lint,content,line,text",
    [
        (AgeFile.lint, b"Page=A\nPage=B\xe9\xff\nx\n", 2, "Page=B\ufffd\ufffd"),
        (SdlFile.lint, b"STATEDESC A\r\n\x80\r\n", 2, "\ufffd"),
        (SdlFile.lint, b"\x89PNG\r\n\x1a\n\x00", 1, "\ufffdPNG"),
    ],
    ids=["age", "sdl", "binary"],
)
def test_file_not_utf8_is_one_problem_at_its_first_bad_line(tmp_path, lint, content, line, text):
    path = tmp_path / "file"
    path.write_bytes(content)
    assert lint(path) == [(line, text, NOT_UTF8)]


@pytest.mark.parametrize(
    "lint,lint_text",
    [(AgeFile.lint, lambda text: AgeFile.lint_text("X", text)), (SdlFile.lint, SdlFile.lint_text)],
    ids=["age", "sdl"],
)
@pytest.mark.parametrize("as_path", [str, os.fsencode, Path], ids=["str", "bytes", "PathLike"])
def test_lint_reads_files_as_the_loads_do(tmp_path, lint, lint_text, as_path):
    path = tmp_path / "caf\u00e9"
    content = "Page=A\nSTATEDESC A\nfoo\n"
    path.write_text(content)
    assert lint(as_path(path)) == lint_text(content) != []
    with pytest.raises(IsADirectoryError):
        lint(as_path(tmp_path))


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: AgeFile.lint_text("X"), "missing required argument 'content'"),
        (lambda: AgeFile.lint_text(1, "Page=A"), "argument 'age_name' must be str"),
        (lambda: SdlFile.lint_text(b"STATEDESC A"), "argument 'content' must be str"),
        (lambda: SdlFile.lint(3), "argument 'path' must be str, bytes or os.PathLike"),
    ],
)
def test_arguments_are_checked(call, message):
    with pytest.raises(TypeError, match=message):
        call()


def test_problems_are_named_tuples():
    (problem,) = AgeFile.lint_text("X", "Page=A\nDayLength=x")
    assert type(problem) is LintProblem is lumivex._lumivex.LintProblem
    assert isinstance(problem, tuple) and LintProblem._fields == ("line", "text", "reason")
    line, text, reason = problem
    assert problem == (2, "DayLength=x", 'DayLength "x" is not a number: 24.0 is used')
    assert (problem.line, problem.text, problem.reason) == (line, text, reason)
    assert repr(problem) == (
        "LintProblem(line=2, text='DayLength=x', "
        "reason='DayLength \"x\" is not a number: 24.0 is used')"
    )
    assert problem._asdict() == {"line": line, "text": text, "reason": reason}
    assert LintProblem(line, text, reason) == problem
    assert hash(LintProblem(*problem)) == hash(problem)
    assert pickle.loads(pickle.dumps(problem)) == problem
    assert LintProblem.__module__ == "lumivex"
    assert "skips, guesses or defaults" in LintProblem.__doc__
    with pytest.raises(AttributeError):
        problem.line = 3
