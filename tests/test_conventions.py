"""Python's conventions: a package with a version, the command and inline
types; classes nothing can change or bypass; paths of every kind; equality
where it is obvious; a docstring on every property."""

import importlib.resources
import os
import re
import subprocess
import sys
import types
from pathlib import Path

import lumivex
import pytest

from fixtures.builder import Obj, page

ROOT = Path(__file__).resolve().parent.parent
ITERATOR = type(iter(lumivex.PrpFile.from_bytes(page([]))))
# The compiled module's classes; Age, Change and diff are written in Python.
CLASSES = [
    getattr(lumivex, name)
    for name in lumivex.__all__
    if name
    not in (
        "class_name",
        "save_file",
        "save_files",
        "enable_logging",
        "disable_logging",
        "Age",
        "Change",
        "diff",
    )
] + [ITERATOR]


def run_python(code, **options):
    return subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, timeout=60, **options
    )


def test_package_version_and_types():
    pyproject = (ROOT / "pyproject.toml").read_text()
    assert 'dynamic = ["version"]' in pyproject
    assert re.fullmatch(r"\d+\.\d+\.\d+", lumivex.__version__)
    package = importlib.resources.files("lumivex")
    assert package.joinpath("py.typed").is_file()
    assert package.joinpath("_lumivex.pyi").is_file()
    assert lumivex.PrpFile.__module__ == "lumivex"


def test_python_m_lumivex_runs_the_command():
    result = subprocess.run(
        [sys.executable, "-m", "lumivex", "info", str(ROOT / "samples" / "Demo_District_Town.prp")],
        capture_output=True,
        text=True,
        timeout=60,
    )
    assert result.returncode == 0, result.stderr
    assert "Town" in result.stdout


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_classes_cannot_be_changed(cls):
    with pytest.raises(TypeError):
        cls.save = lambda self: None
    with pytest.raises(TypeError):
        cls.__new__ = lambda cls: object.__new__(cls)
    with pytest.raises(TypeError):
        object.__new__(cls)
    with pytest.raises(TypeError):
        types.new_class("Sub", (cls,))


def test_replacing_new_does_not_crash_the_interpreter():
    # This used to end the interpreter with a segmentation fault.
    result = run_python(
        "import lumivex\n"
        "for cls in (lumivex.PrpObject, lumivex.PrpFile, lumivex.SdlFile):\n"
        "    try:\n"
        "        cls.__new__ = lambda cls: object.__new__(cls)\n"
        "    except TypeError:\n"
        "        pass\n"
        "    else:\n"
        "        raise SystemExit(cls.__name__ + ' accepted a new __new__')\n"
        "try:\n"
        "    lumivex.PrpObject().name\n"
        "except TypeError as error:\n"
        "    print(error)\n"
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "No constructor defined for PrpObject\n"


def sample_page():
    return page([Obj(1, "Foo", b"\x01\x00"), Obj(6, "Lay", b"\x06\x00x")], age="Demo")


@pytest.mark.parametrize(
    "as_path",
    [str, os.fsencode, Path],
    ids=["str", "bytes", "PathLike"],
)
def test_every_path_kind(tmp_path, as_path):
    data = sample_page()
    target = tmp_path / "page.prp"
    lumivex.PrpFile.from_bytes(data).save(as_path(target))
    assert len(lumivex.PrpFile.load(as_path(target))) == 2
    (tmp_path / "Demo.age").write_text("Page=Town,1\n")
    assert lumivex.AgeFile.load(as_path(tmp_path / "Demo.age")).age_name == "Demo"
    (tmp_path / "a.sdl").write_text("STATEDESC A\n{\n    VERSION 1\n}\n")
    sdl = lumivex.SdlFile()
    assert sdl.load_file(as_path(tmp_path / "a.sdl")) == 1
    assert sdl.load_directory(as_path(tmp_path)) == 1


def test_file_names_that_are_not_utf8(tmp_path):
    folder = os.fsencode(tmp_path) + b"/caf\xe9"
    os.mkdir(folder)
    name = folder + b"/p\xe2ge.prp"
    lumivex.PrpFile.from_bytes(sample_page()).save(name)
    assert len(lumivex.PrpFile.load(name)) == 2
    # The same name as str, as os.fsdecode gives it.
    assert len(lumivex.PrpFile.load(os.fsdecode(name))) == 2
    with open(folder + b"/D\xe9mo.age", "w") as age:
        age.write("Page=Town,1\n")
    assert lumivex.AgeFile.load(folder + b"/D\xe9mo.age").pages[0].name == "Town"
    with open(folder + b"/\xe9.sdl", "w") as sdl:
        sdl.write("STATEDESC A\n{\n    VERSION 1\n}\n")
    assert lumivex.SdlFile().load_directory(folder) == 1


@pytest.mark.parametrize("path", [None, 3, ["a"], bytearray(b"x")])
def test_path_types_refused(path):
    with pytest.raises(
        TypeError, match=r"load\(\) argument 'path' must be str, bytes or os.PathLike"
    ):
        lumivex.PrpFile.load(path)


def test_objects_of_one_key_are_equal():
    f = lumivex.PrpFile.from_bytes(sample_page())
    foo, lay = f.objects()
    assert foo == f.objects()[0] == next(iter(f)) and hash(foo) == hash(f.objects()[0])
    assert foo != lay and len({foo, lay, *f.objects()}) == 2
    # Another load of the same bytes is another page.
    assert foo != lumivex.PrpFile.from_bytes(sample_page()).objects()[0]
    assert foo != "Foo"


def test_equal_headers_are_equal():
    one, two = (lumivex.PrpFile.from_bytes(sample_page()) for _ in range(2))
    assert one.header == two.header and hash(one.header) == hash(two.header)
    other = lumivex.PrpFile.from_bytes(page([Obj(1, "Foo", b"\x01\x00")], age="Other"))
    assert one.header != other.header


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_every_property_has_a_one_line_docstring(cls):
    properties = {
        name: member
        for name, member in vars(cls).items()
        if isinstance(member, types.GetSetDescriptorType)
    }
    for name, member in properties.items():
        assert member.__doc__, f"{cls.__name__}.{name}"
        assert "\n" not in member.__doc__, f"{cls.__name__}.{name}"


def test_python_floor_is_the_same_everywhere():
    floor = re.search(r'requires-python = ">=(3\.\d+)"', (ROOT / "pyproject.toml").read_text())[1]
    assert f"find_package(Python {floor} " in (ROOT / "CMakeLists.txt").read_text()
    assert f"Python {floor}" in (ROOT / "README.md").read_text()
    assert sys.version_info >= tuple(int(part) for part in floor.split("."))


def test_the_samples_are_what_their_script_writes():
    from scripts.make_samples import sample_files

    written = sample_files()
    bundled = {
        path.relative_to(ROOT / "samples").as_posix(): path.read_bytes()
        for path in (ROOT / "samples").rglob("*")
        if path.is_file()
    }
    assert written.keys() == bundled.keys()
    assert [name for name in written if written[name] != bundled[name]] == []
