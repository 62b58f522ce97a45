"""lumivex lint, run in this process: a line per problem, the summary, the
exit status, the JSON shape, files refused or unreadable."""

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest
from lumivex.cli import main

SAMPLES = Path(__file__).resolve().parent.parent / "samples"


@pytest.fixture
def run(capsys):
    """Runs the command in this process: (status, standard output, standard error)."""

    def run(*argv):
        status = main(["lint", *(str(arg) for arg in argv)])
        out, err = capsys.readouterr()
        return status, out, err

    return run


@pytest.fixture
def write(tmp_path):
    def write(name, content):
        path = tmp_path / name
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return write


def test_clean_files(run):
    status, out, err = run(SAMPLES / "Demo.age", SAMPLES / "sdl" / "Demo.sdl")
    assert (status, out, err) == (0, "summary: 0 problems in 2 files\n", "")


def test_each_problem_is_a_line(run, write):
    age = write("Bad.age", "Pgae=Hall,1\nPage=Garden,two\n\x1b[2J\u202eevil=1\n")
    sdl = write("Bad.SDL", "STATEDESC A\n{\nVERSION 1\nVAR INT x DEFALT=0\n}\n")
    status, out, err = run(age, sdl)
    assert (status, err) == (1, "")
    assert out.splitlines() == [
        f'{age}:1: unknown key "Pgae": skipped (did you mean "Page"?): \'Pgae=Hall,1\'',
        f'{age}:2: page "Garden": sequence suffix "two" is not a whole number from 0 to '
        "4294967295: 1 is used: 'Page=Garden,two'",
        f"{age}:3: unknown key \"\\u{{1b}}[2J\\u{{202e}}evil\": skipped: '\\x1b[2J\\u202eevil=1'",
        f'{sdl}:4: unknown option "DEFALT=0": ignored (did you mean "DEFAULT="?): '
        "'VAR INT x DEFALT=0'",
        "summary: 4 problems in 2 files",
    ]
    # Nothing of a line reaches the terminal unescaped.
    assert "\x1b" not in out and "\u202e" not in out


@pytest.mark.parametrize(
    "contents,summary",
    [
        (["Page=A\nfoo\n"], "summary: 1 problem in 1 file"),
        (["Page=A\nfoo\n", "Page=B\n=2\n"], "summary: 2 problems in 2 files"),
    ],
)
def test_summary_counts_agree(run, write, contents, summary):
    paths = [write(f"{number}.age", content) for number, content in enumerate(contents)]
    status, out, _ = run(*paths)
    assert (status, out.splitlines()[-1]) == (1, summary)


def test_text_that_is_no_description_has_no_line_number(run, write):
    path = write("notes.age", "# Notes\nTo do: everything.\n")
    status, out, _ = run(path)
    assert status == 1
    assert out.splitlines()[0] == (
        f"{path}: not an age description: no line sets one of its keys, which are case-sensitive: "
        "StartDateTime, DayLength, MaxCapacity, LingerTime, SequencePrefix, ReleaseVersion, Page"
    )


@pytest.mark.parametrize("name", ["notes.txt", "Demo.age.bak", "sdl", "README.md"])
def test_other_files_are_a_usage_error(run, write, name):
    path = write(name, "Page=A\n")
    status, out, err = run(SAMPLES / "Demo.age", path)
    assert (status, out) == (2, "")
    assert err == f"lumivex: argument FILE: not an .age or .sdl file: {path!r}\n"


def test_unreadable_files_are_reported_and_the_others_linted(run, write, tmp_path):
    (tmp_path / "Folder.age").mkdir()
    bad = write("Bad.age", "Page=A\nfoo\n")
    status, out, err = run(tmp_path / "missing.sdl", bad, tmp_path / "Folder.age")
    assert status == 2
    assert out.splitlines() == [
        f"{bad}:2: not a setting (no \"=\"): skipped: 'foo'",
        "summary: 1 problem in 1 file; 2 files could not be read",
    ]
    assert err.splitlines() == [
        f"lumivex: Failed to read {tmp_path}/missing.sdl: No such file or directory",
        f"lumivex: Failed to read {tmp_path}/Folder.age: Is a directory",
    ]


def test_json(run, write, tmp_path):
    bad = write("Bad.sdl", "STATEDESC A\n{\nVAR INT x\n}\n")
    status, out, _ = run("--json", bad, SAMPLES / "Demo.age", tmp_path / "missing.age")
    assert status == 2
    assert json.loads(out) == {
        "files": [
            {
                "file": bad,
                "problems": [
                    {
                        "line": 1,
                        "text": "STATEDESC A",
                        "reason": 'descriptor "A" has no VERSION line: its version is 0',
                    }
                ],
            },
            {"file": str(SAMPLES / "Demo.age"), "problems": []},
        ],
        "errors": [
            {
                "file": str(tmp_path / "missing.age"),
                "error": f"Failed to read {tmp_path}/missing.age: No such file or directory",
            }
        ],
        "problem_count": 1,
    }


def test_file_names_that_are_not_utf8_are_printed_back_as_they_are(tmp_path):
    name = os.fsencode(tmp_path) + b"/D\xe9mo.age"
    with open(name, "wb") as age:
        age.write(b"Page=A\n\xe9\n")
    done = subprocess.run(
        [sys.executable, "-m", "lumivex", "lint", name],
        capture_output=True,
        env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path), "PYTHONIOENCODING": "utf-8"},
        timeout=60,
    )
    assert (done.returncode, done.stderr) == (1, b"")
    assert done.stdout.splitlines()[0] == (
        name + ":2: not UTF-8 text: the whole file is refused: '\ufffd'".encode()
    )
