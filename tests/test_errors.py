"""Failures say why: the system's failures raise the matching OSError subclass
with errno, strerror and filename, the cause chained; the messages stay."""

import errno
import os
import pickle
import shutil
import subprocess
import sys
from pathlib import Path

import lumivex
import pytest

from fixtures.builder import Obj, page, u32


def load_page(path):
    return lumivex.PrpFile.load(path)


def load_age(path):
    return lumivex.AgeFile.load(path)


def load_sdl(path):
    return lumivex.SdlFile().load_file(path)


def lint_age(path):
    return lumivex.AgeFile.lint(path)


def lint_sdl(path):
    return lumivex.SdlFile.lint(path)


def save_page(path):
    lumivex.PrpFile.from_bytes(page([Obj(1, "A", b"\x01\x00")])).save(path)


def quoted(path):
    return '"' + os.fsdecode(path) + '"'


@pytest.mark.parametrize(
    "operation,message",
    [
        (load_page, lambda p: f"Failed to read {quoted(p)}"),
        (load_age, lambda p: f"Failed to read {os.fsdecode(p)}"),
        (load_sdl, lambda p: f"Failed to read {os.fsdecode(p)}"),
        (lint_age, lambda p: f"Failed to read {os.fsdecode(p)}"),
        (lint_sdl, lambda p: f"Failed to read {os.fsdecode(p)}"),
    ],
    ids=["page", "age", "sdl", "lint-age", "lint-sdl"],
)
@pytest.mark.parametrize("as_path", [str, os.fsencode, Path], ids=["str", "bytes", "PathLike"])
def test_missing_file(tmp_path, operation, message, as_path):
    path = as_path(tmp_path / "missing")
    with pytest.raises(FileNotFoundError) as info:
        operation(path)
    error = info.value
    assert str(error) == message(path)
    assert (error.errno, error.strerror) == (errno.ENOENT, os.strerror(errno.ENOENT))
    assert error.filename == os.fspath(path)
    cause = error.__cause__
    assert type(cause) is FileNotFoundError and cause.errno == errno.ENOENT
    assert cause.filename == os.fspath(path)


@pytest.mark.parametrize(
    "make,operation,expected,error_number",
    [
        (lambda d: d, load_page, IsADirectoryError, errno.EISDIR),
        (lambda d: d, save_page, IsADirectoryError, errno.EISDIR),
        (lambda d: d / "no" / "x.prp", load_page, FileNotFoundError, errno.ENOENT),
        (lambda d: d / "no" / "x.prp", save_page, FileNotFoundError, errno.ENOENT),
        (lambda d: d / "file" / "x.prp", load_page, NotADirectoryError, errno.ENOTDIR),
        (lambda d: d / ("n" * 300), load_page, OSError, errno.ENAMETOOLONG),
        (lambda d: d / ("n" * 300), save_page, OSError, errno.ENAMETOOLONG),
    ],
    ids=[
        "load-folder",
        "save-folder",
        "load-missing-folder",
        "save-missing-folder",
        "not-a-folder",
        "load-long-name",
        "save-long-name",
    ],
)
def test_system_failures(tmp_path, make, operation, expected, error_number):
    (tmp_path / "file").write_bytes(b"")
    path = make(tmp_path)
    with pytest.raises(expected) as info:
        operation(str(path))
    assert info.value.errno == error_number
    assert info.value.filename == str(path)
    assert str(info.value).startswith(("Failed to read ", "Failed to write "))


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
def test_full_disk():
    with pytest.raises(OSError) as info:
        save_page("/dev/full")
    assert info.value.errno == errno.ENOSPC
    assert str(info.value) == 'Failed to write "/dev/full"'


def test_listing_a_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        lumivex.SdlFile().load_directory(str(tmp_path / "none"))
    assert info.value.errno == errno.ENOENT
    assert info.value.filename == str(tmp_path / "none")


@pytest.mark.parametrize("data", [u32(5) + b"\0" * 40, b"\x06\x00"], ids=["version-5", "cut"])
def test_header_failures_chain_their_cause(tmp_path, data):
    path = tmp_path / "old.prp"
    path.write_bytes(data)
    with pytest.raises(OSError) as info:
        lumivex.PrpFile.load(str(path))
    assert type(info.value) is OSError and info.value.errno is None
    assert str(info.value) == f"Failed to parse header of {quoted(path)}"
    with pytest.raises(OSError) as from_bytes:
        lumivex.PrpFile.from_bytes(data)
    assert str(from_bytes.value) == "Failed to parse PRP header from bytes"
    for error in (info.value, from_bytes.value):
        cause = error.__cause__
        assert isinstance(cause, ValueError)
        expected = (
            "Unsupported .prp version: 5 (expected 6)"
            if data[0] == 5
            else f"too short for a page header: {len(data)} bytes"
        )
        assert str(cause) == expected


def test_errors_pickle_with_their_attributes(tmp_path):
    with pytest.raises(FileNotFoundError) as info:
        load_page(str(tmp_path / "gone.prp"))
    again = pickle.loads(pickle.dumps(info.value))
    assert type(again) is type(info.value)
    assert (str(again), again.errno, again.strerror, again.filename) == (
        str(info.value),
        info.value.errno,
        info.value.strerror,
        info.value.filename,
    )


SETPRIV = shutil.which("setpriv")


def run_without_root(code):
    """Runs code in a child process without root's capabilities: root's own
    checks ignore file modes."""
    command = [SETPRIV, "--bounding-set=-all", "--inh-caps=-all", sys.executable, "-c", code]
    return subprocess.run(command, capture_output=True, text=True, timeout=60)


@pytest.mark.skipif(SETPRIV is None or os.geteuid() != 0, reason="needs root and setpriv")
def test_permission_denied(tmp_path):
    unreadable = tmp_path / "secret.prp"
    save_page(str(unreadable))
    unreadable.chmod(0o000)
    result = run_without_root(
        "import errno, lumivex\n"
        "try:\n"
        f"    lumivex.PrpFile.load({str(unreadable)!r})\n"
        "except PermissionError as error:\n"
        "    print(error.errno == errno.EACCES, error.filename, error)\n"
    )
    assert result.stdout == f'True {unreadable} Failed to read "{unreadable}"\n', result.stderr
