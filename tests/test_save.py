"""Saving a page where opening the path for writing would write: links are
followed, hard links, pipes and devices are written in place, the owner and
mode stay, refusals are the system's, and no save leaves a mix of two files."""

import errno
import os
import random
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time

import lumivex
import pytest

from fixtures.builder import Obj, page

OLD = b"the old contents"
NEW = page([Obj(1, "Saved", b"\x01\x00saved")])
TEMPORARY = re.compile(r"\..*\.lumivex-[0-9a-z]{6}")


def save(path, data=NEW):
    lumivex.PrpFile.from_bytes(data).save(str(path))


def temporaries(*folders):
    return [name for folder in folders for name in os.listdir(folder) if TEMPORARY.fullmatch(name)]


# --- where the bytes go -----------------------------------------------------


@pytest.mark.parametrize(
    "links, target_exists",
    [
        ({"a": "{data}/page.prp"}, True),
        ({"a": "../data/page.prp"}, True),
        ({"a": "b", "b": "../data/c", "../data/c": "page.prp"}, True),
        ({"a": "../data/page.prp"}, False),
    ],
    ids=["absolute", "relative", "chain", "dangling"],
)
def test_links_are_followed_to_their_target(tmp_path, links, target_exists):
    data, link_folder = tmp_path / "data", tmp_path / "links"
    data.mkdir()
    link_folder.mkdir()
    if target_exists:
        (data / "page.prp").write_bytes(OLD)
    for name, destination in links.items():
        os.symlink(destination.format(data=data), link_folder / name)
    save(link_folder / "a")
    assert (data / "page.prp").read_bytes() == NEW
    assert not (data / "page.prp").is_symlink()
    for name, destination in links.items():
        assert os.readlink(link_folder / name) == destination.format(data=data)
    assert temporaries(data, link_folder) == []


def test_link_loop_fails_with_eloop(tmp_path):
    os.symlink("b", tmp_path / "a")
    os.symlink("a", tmp_path / "b")
    with pytest.raises(OSError) as info:
        save(tmp_path / "a")
    assert info.value.errno == errno.ELOOP
    assert sorted(os.listdir(tmp_path)) == ["a", "b"]


def test_hard_links_keep_sharing_the_content(tmp_path):
    first, second = tmp_path / "page.prp", tmp_path / "other.prp"
    first.write_bytes(OLD)
    os.link(first, second)
    inode = first.stat().st_ino
    save(first)
    assert first.read_bytes() == second.read_bytes() == NEW
    assert first.stat().st_ino == second.stat().st_ino == inode
    assert temporaries(tmp_path) == []


@pytest.mark.parametrize("mode", [0o640, 0o600, 0o755, 0o2750])
def test_owner_group_and_mode_are_kept(tmp_path, mode):
    target = tmp_path / "page.prp"
    target.write_bytes(OLD)
    if os.geteuid() == 0:
        os.chown(target, 65534, 65534)
    os.chmod(target, mode)
    before = target.stat()
    save(target)
    after = target.stat()
    assert target.read_bytes() == NEW
    assert (stat.S_IMODE(after.st_mode), after.st_uid, after.st_gid) == (
        mode,
        before.st_uid,
        before.st_gid,
    )
    # Replaced through a rename, not written in place.
    assert after.st_ino != before.st_ino


def test_fifo_is_written_in_place(tmp_path):
    fifo = tmp_path / "pipe.prp"
    os.mkfifo(fifo)
    data = page([Obj(1, "Big", b"\x01\x00" + bytes(range(256)) * 2000)])
    received = tmp_path / "received"
    # Saving holds the interpreter lock, so the reader is another process.
    with open(received, "wb") as out:
        reader = subprocess.Popen(["cat", str(fifo)], stdout=out)
        save(fifo, data)
        assert reader.wait(timeout=30) == 0
    assert received.read_bytes() == data
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode)
    assert sorted(os.listdir(tmp_path)) == ["pipe.prp", "received"]


def test_a_pipe_behind_a_link_no_text_names_is_written(tmp_path):
    """/dev/stdout leads to "pipe:[...]", which no path names: the page goes
    where opening /dev/stdout leads."""
    code = (
        "import lumivex, sys\n"
        "lumivex.PrpFile.from_bytes(bytes.fromhex(sys.argv[1])).save('/dev/stdout')\n"
    )
    result = subprocess.run(
        [sys.executable, "-c", code, NEW.hex()], stdout=subprocess.PIPE, check=True, timeout=60
    )
    assert result.stdout == NEW


@pytest.mark.parametrize("through_link", [False, True], ids=["direct", "link"])
def test_device_is_written_in_place(tmp_path, through_link):
    path = tmp_path / "null" if through_link else "/dev/null"
    if through_link:
        os.symlink("/dev/null", path)
    save(path)
    assert os.path.exists("/dev/null") and stat.S_ISCHR(os.stat("/dev/null").st_mode)
    assert os.path.islink(path) == through_link
    assert temporaries("/dev", tmp_path) == []


@pytest.mark.parametrize("make_link", [False, True], ids=["folder", "link-to-folder"])
def test_folder_is_refused(tmp_path, make_link):
    folder = tmp_path / "folder"
    folder.mkdir()
    path = folder
    if make_link:
        path = tmp_path / "link"
        os.symlink("folder", path)
    with pytest.raises(IsADirectoryError):
        save(path)
    assert os.listdir(folder) == []


@pytest.mark.parametrize("length", [240, 255])
def test_long_names_save(tmp_path, length):
    target = tmp_path / ("n" * length)
    save(target)
    target.write_bytes(OLD)
    save(target)
    assert lumivex.PrpFile.load(str(target)).to_bytes() == NEW
    assert os.listdir(tmp_path) == [target.name]


# --- any bytes, through the same save -----------------------------------------


@pytest.mark.parametrize(
    "data",
    [NEW, bytearray(NEW), memoryview(NEW), memoryview(b"x" + NEW)[1:]],
    ids=["bytes", "bytearray", "memoryview", "sliced-view"],
)
@pytest.mark.parametrize("as_path", [str, os.fsencode, lambda path: path])
def test_save_file_writes_any_bytes_like_data(tmp_path, data, as_path):
    hard_linked = tmp_path / "page.prp"
    hard_linked.write_bytes(OLD)
    os.link(hard_linked, tmp_path / "other.prp")
    for target in (tmp_path / "new.prp", hard_linked):
        lumivex.save_file(as_path(target), data)
        assert target.read_bytes() == NEW
    assert (tmp_path / "other.prp").read_bytes() == NEW
    assert temporaries(tmp_path) == []


def test_save_file_refusals(tmp_path):
    with pytest.raises(TypeError):
        lumivex.save_file(tmp_path / "x", "text")
    with pytest.raises(IsADirectoryError) as info:
        lumivex.save_file(tmp_path, b"x")
    assert info.value.filename == str(tmp_path)
    assert str(info.value).startswith(f'Failed to write "{tmp_path}"')
    assert os.listdir(tmp_path) == []


# --- failures leave the old file ----------------------------------------------

# Writes stop at 4096 bytes: the save fails while writing its temporary file.
SMALL_FILE_LIMIT = """
import resource, signal, sys, lumivex
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
data = sys.stdin.buffer.read()
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
try:
    lumivex.PrpFile.from_bytes(data).save(sys.argv[1])
except OSError as error:
    print(error)
"""


@pytest.mark.parametrize("existing", [True, False], ids=["existing", "new"])
def test_failed_write_leaves_no_temporary_file(tmp_path, existing):
    target = tmp_path / "page.prp"
    if existing:
        target.write_bytes(OLD)
    data = page([Obj(1, "Big", b"\x01\x00" + b"x" * 100_000)])
    result = subprocess.run(
        [sys.executable, "-c", SMALL_FILE_LIMIT, str(target)],
        input=data,
        capture_output=True,
        check=True,
    )
    assert f'Failed to write "{target}"' in result.stdout.decode()
    assert os.listdir(tmp_path) == (["page.prp"] if existing else [])
    if existing:
        assert target.read_bytes() == OLD


# --- permissions, in a child without root's capabilities ----------------------

# The saver stays root's user without root's capabilities, so that it runs
# the interpreter wherever the checkout lies; files of another user are
# nobody's.
NOBODY = 65534
DROP_ROOT = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"]
SAVE_AS_CHILD = """
import sys, lumivex
try:
    lumivex.PrpFile.from_bytes(sys.stdin.buffer.read()).save(sys.argv[1])
    print("saved")
except OSError as error:
    print(type(error).__name__, error.errno)
"""


def run_without_capabilities(*args, **kwargs):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(lumivex.__file__)))
    command = [*DROP_ROOT, sys.executable, *args]
    return subprocess.run(command, capture_output=True, env=env, **kwargs)


@pytest.fixture(scope="module")
def without_capabilities():
    if os.geteuid() != 0:
        pytest.skip("needs root to make files of another user")
    if shutil.which("setpriv") is None:
        pytest.skip("setpriv is missing")
    probe = run_without_capabilities("-c", "import lumivex")
    if probe.returncode != 0:
        pytest.skip(f"{sys.executable} with lumivex cannot run without capabilities")


@pytest.mark.parametrize(
    "folder_owner, file_owner, file_mode, outcome",
    [
        (0, 0, 0o444, "PermissionError 13"),
        (NOBODY, None, None, "PermissionError 13"),
        (NOBODY, 0, 0o644, "saved"),
        (0, NOBODY, 0o666, "saved"),
    ],
    ids=["read-only-file", "closed-folder", "writable-file-in-closed-folder", "foreign-owner"],
)
@pytest.mark.usefixtures("without_capabilities")
def test_permissions_are_those_of_opening_for_writing(folder_owner, file_owner, file_mode, outcome):
    folder = tempfile.mkdtemp()
    try:
        os.chmod(folder, 0o755)
        os.chown(folder, folder_owner, folder_owner)
        target = os.path.join(folder, "page.prp")
        if file_owner is not None:
            with open(target, "wb") as f:
                f.write(OLD)
            os.chown(target, file_owner, file_owner)
            os.chmod(target, file_mode)
            before = os.stat(target)
        result = run_without_capabilities("-c", SAVE_AS_CHILD, target, input=NEW, timeout=60)
        assert result.stdout.decode().strip() == outcome, result.stderr.decode()
        assert temporaries(folder) == []
        if file_owner is None:
            assert os.listdir(folder) == []
            return
        after = os.stat(target)
        with open(target, "rb") as f:
            assert f.read() == (NEW if outcome == "saved" else OLD)
        # Where a rename could not keep the file's owner, it was written in place.
        assert (after.st_ino, after.st_uid, after.st_mode) == (
            before.st_ino,
            before.st_uid,
            before.st_mode,
        )
    finally:
        shutil.rmtree(folder)


# Writes stop between the old size and the new one, while the page is
# written in place.
IN_PLACE_FILE_LIMIT = """
import resource, sys, lumivex
target, limit = sys.argv[1], int(sys.argv[2])
data = sys.stdin.buffer.read()
resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
try:
    lumivex.PrpFile.from_bytes(data).save(target)
    print("saved")
except OSError as error:
    print(type(error).__name__, error.errno)
"""


@pytest.mark.parametrize("kept_by", ["hard-link", "closed-folder"])
@pytest.mark.usefixtures("without_capabilities")
def test_failed_in_place_write_keeps_the_old_page(kept_by):
    old = page([Obj(1, "Old", b"\x01\x00" + os.urandom(200_000))])
    new = page([Obj(1, "New", b"\x01\x00" + os.urandom(400_000))])
    folder = tempfile.mkdtemp()
    try:
        target = os.path.join(folder, "page.prp")
        with open(target, "wb") as f:
            f.write(old)
        if kept_by == "hard-link":
            os.link(target, os.path.join(folder, "other.prp"))
        else:
            os.chmod(folder, 0o755)
            os.chown(folder, NOBODY, NOBODY)
        limit = str((len(old) + len(new)) // 2)
        result = run_without_capabilities(
            "-c", IN_PLACE_FILE_LIMIT, target, limit, input=new, timeout=60
        )
        assert result.stdout.decode().strip() == f"OSError {errno.EFBIG}", result.stderr.decode()
        for name in os.listdir(folder):
            with open(os.path.join(folder, name), "rb") as f:
                assert f.read() == old
        assert temporaries(folder) == []
    finally:
        shutil.rmtree(folder)


# --- a killed save ------------------------------------------------------------

# Saves the two pages in turn, for ever, once it has said it is ready.
SAVE_FOREVER = """
import sys, lumivex
target, *sources = sys.argv[1:]
pages = [lumivex.PrpFile.from_bytes(open(source, "rb").read()) for source in sources]
print("ready", flush=True)
while True:
    for one in pages:
        one.save(target)
"""


def test_killed_save_leaves_the_old_or_the_new_file(tmp_path):
    rng = random.Random(20240611)
    sources = tmp_path / "sources"
    folder = tmp_path / "target"
    sources.mkdir()
    folder.mkdir()
    contents = [page([Obj(1, name, b"\x01\x00" + os.urandom(20_000_000))]) for name in "AB"]
    for name, data in zip("AB", contents, strict=True):
        (sources / name).write_bytes(data)
    target = folder / "page.prp"
    target.write_bytes(contents[0])
    kills, outcomes, left = 30, [], []
    for _ in range(kills):
        current = contents.index(target.read_bytes())
        # The child's first save is the one that changes the file.
        order = [sources / "AB"[1 - current], sources / "AB"[current]]
        child = subprocess.Popen(
            [sys.executable, "-c", SAVE_FOREVER, str(target), *map(str, order)],
            stdout=subprocess.PIPE,
        )
        assert child.stdout.readline() == b"ready\n"
        # A save takes tens of milliseconds: the kills fall in every step of it.
        time.sleep(rng.uniform(0.0, 0.2))
        child.kill()
        child.wait()
        child.stdout.close()
        data = target.read_bytes()
        assert data in contents, "a killed save left a mix of two files"
        outcomes.append(contents.index(data) == current)
        # Only the save the kill cut short can have left its temporary file.
        remaining = os.listdir(folder)
        assert set(remaining) - {"page.prp"} == set(temporaries(folder))
        assert len(remaining) <= 2
        left.append(len(remaining) - 1)
        for name in temporaries(folder):
            os.unlink(folder / name)
    print(
        f"\n{kills} kills: {outcomes.count(True)} left the old file, {outcomes.count(False)} the new;"
        f" {sum(left)} temporary files left"
    )
