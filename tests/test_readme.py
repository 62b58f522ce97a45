"""The README's examples run on the samples and print what it says they print;
so do the example scripts."""

import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

import lumivex
import pytest
from lumivex.check import AgeCheck
from lumivex.cli import main

from fixtures.extras import needs_pillow

ROOT = Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
PRINTED = re.compile(r"^(\s*)print\((.*)\)  # (.*)$", re.MULTILINE)


def blocks(language):
    return re.findall(rf"^```{language}\n(.*?)^```$", README, re.MULTILINE | re.DOTALL)


@pytest.fixture
def in_samples_folder(tmp_path, monkeypatch):
    """A working folder where samples/ is the repository's, so that files the
    examples write land in tmp_path."""
    (tmp_path / "samples").symlink_to(ROOT / "samples")
    monkeypatch.chdir(tmp_path)


def expect(expected, *values):
    assert " ".join(str(value) for value in values) == expected


def test_python_blocks_print_what_their_comments_say(in_samples_folder):
    namespace = {"expect": expect}
    python = blocks("python")
    assert len(python) == 10
    for block in python:
        checked = PRINTED.sub(lambda m: f"{m[1]}expect({m[3]!r}, {m[2]})", block)
        assert "expect(" in checked and not re.search(r"print\(.*  # ", checked)
        exec(compile(checked, "README.md", "exec"), namespace)
    assert Path("copy.prp").read_bytes() == (ROOT / "samples/Demo_District_Town.prp").read_bytes()


def test_python_blocks_pass_mypy_strict(tmp_path):
    pytest.importorskip("mypy", reason='mypy is not installed: pip install ".[test]"')
    tour = tmp_path / "tour.py"
    tour.write_text("\n".join(blocks("python")), encoding="utf-8")
    done = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", tmp_path / "cache", tour],
        capture_output=True,
        text=True,
    )
    assert done.returncode == 0, done.stdout + done.stderr


def console_commands():
    return [
        pytest.param(line, output, id=line, marks=[needs_pillow] if ".png" in line else [])
        for block in blocks("console")
        for line, _, output in (command.partition("\n") for command in block.split("$ ")[1:])
    ]


@pytest.mark.parametrize(("line", "output"), console_commands())
def test_console_blocks_show_the_real_output(in_samples_folder, capsys, line, output):
    program, *argv = shlex.split(line)
    assert program == "lumivex"
    assert main(argv) == 0
    assert capsys.readouterr().out == output


def test_quick_start_commands():
    assert blocks("sh")[:2] == [
        "pip install . && lumivex scan samples\n",
        'pip install ".[test]" && python -m pytest tests\n',
    ]


def test_prefix_names_example(tmp_path):
    age_folder = tmp_path / "age"
    shutil.copytree(ROOT / "samples", age_folder)
    script = ROOT / "examples" / "prefix_names.py"
    done = subprocess.run(
        [sys.executable, script, age_folder / "Demo.age", "Demo_"], capture_output=True, text=True
    )
    assert (done.returncode, done.stderr, done.stdout) == (0, "", "44 objects renamed in 3 pages\n")
    age = lumivex.Age.open(str(age_folder / "Demo.age"))
    assert all(obj.name.startswith("Demo_") for obj in age.objects())
    assert [r.target is None for r in age.references()].count(True) == 0
    assert list(AgeCheck(age).problems()) == []


def test_texture_users_example():
    script = ROOT / "examples" / "texture_users.py"
    page = ROOT / "samples" / "Demo_District_Town.prp"
    done = subprocess.run([sys.executable, script, page], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines()[:2] == [
        "Tiles_DXT1: 32x16, 6 levels",
        "    layer FountainStone in FountainMaterial",
    ]
