"""The lumivex command as a user runs it, in a process of its own with a UTF-8
terminal's strict output: on trees with unreadable folders, FIFOs, devices
and file names that are not UTF-8, under Ctrl-C, without root's capabilities,
and the conventions of its command line."""

import fcntl
import json
import os
import pty
import select
import shutil
import signal
import struct
import subprocess
import sys
import termios
import time
from pathlib import Path

import lumivex
import pytest

from fixtures.builder import Group, Obj, i16, index_entry, page
from fixtures.extras import needs_pillow
from fixtures.object_bodies import DECODERS as BODIES
from fixtures.object_bodies import LAYER, SCENE_OBJECT, layer_body

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
TOWN = SAMPLES / "Demo_District_Town.prp"
# The town's counts as a scan shows them, and the samples' total line.
DECODABLE = set(lumivex._lumivex.decoder_methods)
TOWN_PAGE = lumivex.PrpFile.load(TOWN)
TOWN_DECODED = sum(o.class_type in DECODABLE for o in TOWN_PAGE)
TOWN_COUNTS = f"{len(TOWN_PAGE)} objects, {TOWN_DECODED} decoded, 0 failed"
SAMPLE_PAGES = [lumivex.PrpFile.load(path) for path in sorted(SAMPLES.glob("*.prp"))]
SAMPLE_TOTAL = (
    f"total: {len(SAMPLE_PAGES)} pages, {sum(map(len, SAMPLE_PAGES))} objects, "
    f"{sum(o.class_type in DECODABLE for p in SAMPLE_PAGES for o in p)} decoded, 0 failed"
)
ENV = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path), "PYTHONIOENCODING": "utf-8"}
COMMAND = [sys.executable, "-m", "lumivex"]


def command(*args, unprivileged=False, **options) -> subprocess.CompletedProcess:
    """The command's run, its output as bytes. Unprivileged, it runs without
    root's capabilities, so that file modes hold for root too."""
    prefix = []
    if unprivileged and os.geteuid() == 0:
        prefix = ["setpriv", "--bounding-set=-all", "--inh-caps=-all"]
    argv = [*prefix, *COMMAND, *(os.fsencode(a) if isinstance(a, Path) else a for a in args)]
    return subprocess.run(argv, capture_output=True, env=ENV, timeout=60, **options)


needs_setpriv = pytest.mark.skipif(
    os.geteuid() == 0 and shutil.which("setpriv") is None, reason="no setpriv to drop root's rights"
)


def cut_page() -> bytes:
    """A page whose index announces three scene objects and holds one."""
    objects = [Obj(SCENE_OBJECT, name, BODIES["as_scene_object"][1]) for name in "ABC"]
    entry = len(index_entry(objects[0], 0, 0))
    return page(groups=[Group(SCENE_OBJECT, objects, length=5 + entry)])


def test_version():
    for flag in ["-V", "--version"]:
        done = command(flag)
        assert (done.returncode, done.stdout) == (0, f"lumivex {lumivex.__version__}\n".encode())


def test_no_command_prints_the_usage_and_a_hint():
    done = command()
    assert (done.returncode, done.stdout) == (2, b"")
    assert done.stderr.decode().splitlines() == [
        "usage: lumivex [-h] [-V] COMMAND ...",
        "lumivex: no command given; lumivex --help lists the commands",
    ]


def test_texture_help_names_the_formats_and_pillow():
    done = command("texture", "--help")
    text = " ".join(done.stdout.decode().split())
    assert done.returncode == 0
    for word in [".dds", ".png", ".tga", ".tif", ".tiff", ".webp", "Pillow"]:
        assert word in text


def test_python_dash_m():
    done = command("sdl", SAMPLES / "sdl" / "Demo.sdl")
    assert (done.returncode, done.stdout.splitlines()[0]) == (0, b"NAME  VERSION  VARIABLES")


@pytest.fixture
def named(tmp_path):
    """A page, an age, a state description folder and file and an output
    folder, every name of them Latin-1 bytes that are not UTF-8."""
    root = os.fsencode(tmp_path)
    folder = os.path.join(root, b"d\xe9p\xf4t")
    os.mkdir(folder)
    paths = {
        "folder": folder,
        "page": os.path.join(folder, b"Caf\xe9.prp"),
        "age": os.path.join(root, b"\xc9t\xe9.age"),
        "sdl": os.path.join(root, b"\xe9tats"),
        "out": os.path.join(root, b"sortie \xe0"),
    }
    shutil.copy(TOWN, paths["page"])
    shutil.copy(SAMPLES / "Demo.age", paths["age"])
    os.mkdir(paths["sdl"])
    os.mkdir(paths["out"])
    shutil.copy(SAMPLES / "sdl" / "Demo.sdl", os.path.join(paths["sdl"], b"D\xe9mo.sdl"))
    return paths


def test_every_command_takes_a_name_that_is_not_utf8(named):
    page, out = named["page"], named["out"]
    runs = {
        "info": command(b"info", page),
        "ls": command(b"ls", page),
        "show": command(b"show", page, b"Fountain"),
        "scan": command(b"scan", named["folder"], b"--jobs", b"2"),
        "age": command(b"age", named["age"]),
        "sdl folder": command(b"sdl", named["sdl"]),
        "sdl file": command(b"sdl", os.path.join(named["sdl"], b"D\xe9mo.sdl")),
        "lint": command(b"lint", named["age"], os.path.join(named["sdl"], b"D\xe9mo.sdl")),
        "dds": command(b"texture", page, b"Tiles_DXT5", b"-o", os.path.join(out, b"\xe9.dds")),
        "roundtrip": command(b"roundtrip", page, os.path.join(out, b"c\xf4pie.prp")),
    }
    assert {name: (done.returncode, done.stderr) for name, done in runs.items()} == {
        name: (0, b"") for name in runs
    }
    # Names are printed back as the same bytes.
    assert runs["info"].stdout.startswith(page + b"\n")
    assert runs["scan"].stdout.startswith(page + f"  {len(TOWN_PAGE)} objects".encode())
    assert (
        runs["dds"].stdout
        == os.path.join(out, b"\xe9.dds") + b": 32x16, 6 levels of DXT5, as stored\n"
    )
    assert runs["roundtrip"].stdout.startswith(os.path.join(out, b"c\xf4pie.prp") + b": byte-id")
    assert (Path(os.fsdecode(out)) / os.fsdecode(b"c\xf4pie.prp")).read_bytes() == TOWN.read_bytes()


@needs_pillow
def test_texture_as_png_takes_a_name_that_is_not_utf8(named):
    out = os.path.join(named["out"], b"\xe9.png")
    done = command(b"texture", named["page"], b"Tiles_DXT5", b"-o", out)
    assert (done.returncode, done.stderr, done.stdout) == (0, b"", out + b": 32x16 from DXT5\n")


@pytest.mark.parametrize(
    "argv",
    [
        [b"info", "page"],
        [b"ls", "page"],
        [b"show", "page", b"Fountain"],
        [b"scan", "folder"],
        [b"age", "age"],
    ],
    ids=lambda argv: argv[0].decode(),
)
def test_json_gives_a_name_that_is_not_utf8_as_os_fsdecode_does(named, argv):
    done = command(*[named.get(a, a) if isinstance(a, str) else a for a in argv], b"--json")
    assert done.returncode == 0
    done.stdout.decode("utf-8")
    shown = json.loads(done.stdout)
    if argv[0] in (b"info", b"scan"):
        path = shown["pages"][0]["page"]
    else:
        path = shown["age" if argv[0] == b"age" else "page"]
    # A scan's page is the one in the folder.
    assert path == os.fsdecode(named["page"] if argv[1] == "folder" else named[argv[1]])
    assert b"\\udce9" in done.stdout


def write_tree(root: Path, count: int, filler: int) -> None:
    """Pages of a scene object, a layer and an opaque object of `filler`
    bytes, in folders of 100."""
    for number in range(count):
        objects = [
            Obj(SCENE_OBJECT, f"S{number}", BODIES["as_scene_object"][1]),
            Obj(LAYER, f"L{number}", layer_body()),
            Obj(0x4C, "Spans", bytes(filler)),
        ]
        path = root / f"folder{number // 100}" / f"Scan_District_Page{number:04d}.prp"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(page(objects))


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    """Enough pages and bytes that a scan takes worker processes, and more
    output than a pipe holds."""
    root = tmp_path_factory.mktemp("tree")
    write_tree(root, 1000, 100_000)
    return root


def processes_of_group(group: int) -> int:
    count = 0
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as stat_file:
                fields = stat_file.read().rpartition(")")[2].split()
        except (OSError, ValueError):
            continue
        count += int(fields[2]) == group
    return count


def test_workers_print_what_one_process_prints(tree):
    one, two = command("scan", tree, "--jobs", "1"), command("scan", tree, "--jobs", "2")
    assert (one.returncode, one.stderr) == (0, b"")
    assert (two.returncode, two.stdout, two.stderr) == (0, one.stdout, b"")
    assert one.stdout.endswith(b"total: 1000 pages, 3000 objects, 2000 decoded, 0 failed\n")


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_ctrl_c_prints_one_line_and_exits_130(tree, jobs):
    scanning = subprocess.Popen(
        [*COMMAND, "scan", str(tree), "--jobs", jobs],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=ENV,
        start_new_session=True,
    )
    try:
        # The output is not read: the scan stops, its workers started, once
        # the pipe is full.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            waiting = fcntl.ioctl(scanning.stdout, termios.FIONREAD, b"\0\0\0\0")
            if int.from_bytes(waiting, sys.byteorder) >= 32768:
                break
            time.sleep(0.02)
        time.sleep(0.2)
        # The parent, and its worker with two jobs, wait on the full pipe.
        assert processes_of_group(scanning.pid) == int(jobs)
        # Ctrl-C goes to every process of the terminal's group.
        os.killpg(scanning.pid, signal.SIGINT)
        _, err = scanning.communicate(timeout=30)
    finally:
        if scanning.poll() is None:
            os.killpg(scanning.pid, signal.SIGKILL)
    assert (scanning.returncode, err) == (130, b"lumivex: interrupted\n")
    # No worker outlives the command.
    time.sleep(0.1)
    with pytest.raises(ProcessLookupError):
        os.killpg(scanning.pid, 0)


def test_a_fifo_and_a_device_are_passed_over(tmp_path):
    shutil.copy(TOWN, tmp_path / "a.prp")
    os.mkfifo(tmp_path / "b.prp")
    (tmp_path / "c.prp").symlink_to("/dev/zero")
    (tmp_path / "d.prp").symlink_to(TOWN)
    done = command("scan", tmp_path, "--jobs", "2")
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.decode().splitlines() == [
        f"{tmp_path}/a.prp  {TOWN_COUNTS}",
        f"{tmp_path}/b.prp  skipped: not a regular file (a FIFO)",
        f"{tmp_path}/c.prp  skipped: not a regular file (a character device)",
        f"{tmp_path}/d.prp  {TOWN_COUNTS}",
        f"total: 2 pages, {2 * len(TOWN_PAGE)} objects, {2 * TOWN_DECODED} decoded, 0 failed; 2 skipped",
    ]
    done = command("scan", tmp_path / "b.prp", "--json")
    shown = json.loads(done.stdout)
    assert shown["skipped"] == [
        {"file": f"{tmp_path}/b.prp", "reason": "not a regular file (a FIFO)"}
    ]
    assert (shown["pages"], shown["total"]["skipped"], done.returncode) == ([], 1, 0)


@needs_setpriv
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_an_unreadable_folder_is_listed_and_the_scan_goes_on(tmp_path, jobs):
    for folder in ["a", "locked", "z"]:
        (tmp_path / folder).mkdir()
        shutil.copy(TOWN, tmp_path / folder / "p.prp")
    shutil.copy(TOWN, tmp_path / "a" / "secret.prp")
    (tmp_path / "a" / "secret.prp").chmod(0)
    (tmp_path / "locked").chmod(0)
    try:
        done = command("scan", tmp_path, "--jobs", jobs, unprivileged=True)
        as_json = command("scan", tmp_path, "--jobs", jobs, "--json", unprivileged=True)
    finally:
        (tmp_path / "locked").chmod(0o755)
    secret = f"{tmp_path}/a/secret.prp"
    assert (done.returncode, done.stderr) == (1, b"")
    assert done.stdout.decode().splitlines() == [
        f"{tmp_path}/a/p.prp".ljust(len(secret)) + "  " + TOWN_COUNTS,
        f'{secret}  error: Failed to read "{secret}": Permission denied',
        f"{tmp_path}/locked".ljust(len(secret))
        + "  error: cannot list the folder: Permission denied",
        f"{tmp_path}/z/p.prp".ljust(len(secret)) + "  " + TOWN_COUNTS,
        f"total: 3 pages (1 unreadable), {2 * len(TOWN_PAGE)} objects, {2 * TOWN_DECODED} decoded, "
        "0 failed; 1 unreadable folder",
    ]
    shown = json.loads(as_json.stdout)
    assert shown["unreadable_folders"] == [
        {"folder": f"{tmp_path}/locked", "error": "cannot list the folder: Permission denied"}
    ]
    assert as_json.returncode == 1


@needs_setpriv
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_links_that_cannot_be_followed_are_one_problem_each(tmp_path, jobs):
    shutil.copy(TOWN, tmp_path / "a.prp")
    (tmp_path / "loop.prp").symlink_to("loop.prp")
    (tmp_path / "locked").mkdir()
    shutil.copy(TOWN, tmp_path / "locked" / "p.prp")
    (tmp_path / "locked").chmod(0)
    (tmp_path / "m.prp").symlink_to("locked/p.prp")
    (tmp_path / "z.prp").symlink_to(TOWN)
    try:
        done = command("scan", tmp_path, "--jobs", jobs, unprivileged=True)
    finally:
        (tmp_path / "locked").chmod(0o755)
    width = len(f"{tmp_path}/loop.prp")
    assert (done.returncode, done.stderr) == (1, b"")
    loop, linked = f"{tmp_path}/loop.prp", f"{tmp_path}/m.prp"
    assert done.stdout.decode().splitlines() == [
        f"{tmp_path}/a.prp".ljust(width) + "  " + TOWN_COUNTS,
        f'{loop}  error: Failed to read "{loop}": Too many levels of symbolic links',
        f'{linked.ljust(width)}  error: Failed to read "{linked}": Permission denied',
        f"{tmp_path}/z.prp".ljust(width) + "  " + TOWN_COUNTS,
        f"{tmp_path}/locked".ljust(width) + "  error: cannot list the folder: Permission denied",
        f"total: 4 pages (2 unreadable), {2 * len(TOWN_PAGE)} objects, {2 * TOWN_DECODED} "
        "decoded, 0 failed; 1 unreadable folder",
    ]


@needs_setpriv
def test_unreadable_files_give_the_reason(tmp_path):
    (tmp_path / "sdl").mkdir()
    for name in ["A.sdl", "B.sdl"]:
        shutil.copy(SAMPLES / "sdl" / "Demo.sdl", tmp_path / "sdl" / name)
    shutil.copy(TOWN, tmp_path / "p.prp")
    for path in [tmp_path / "sdl" / "B.sdl", tmp_path / "p.prp"]:
        path.chmod(0)
    info = command("info", tmp_path / "p.prp", unprivileged=True)
    sdl = command("sdl", tmp_path / "sdl", unprivileged=True)
    assert (info.returncode, info.stderr.decode()) == (
        1,
        f'lumivex: Failed to read "{tmp_path}/p.prp": Permission denied\n',
    )
    assert (sdl.returncode, sdl.stderr.decode()) == (
        0,
        f"lumivex: warning: passed over {tmp_path}/sdl/B.sdl: Permission denied\n",
    )


@pytest.mark.parametrize(
    ("argv", "status"),
    [
        (["scan", "{cut}"], 1),
        (["scan", "{tmp}/broken"], 1),
        (["roundtrip", "{plain}", "{tmp}/out.prp"], 1),
        (["roundtrip", TOWN, "{tmp}/out.prp"], 0),
        (["ls", TOWN, "--class", "plNothing"], 2),
        (["ls", TOWN, "--class", "0X4c"], 0),
        (["age", "{tmp}/binary.age"], 1),
        (["sdl", "{tmp}/empty.sdl"], 1),
        (["texture", TOWN, "Tiles_DXT1", "-o", "{tmp}/t.jpg"], 2),
    ],
)
def test_exit_statuses_tell_what_went_wrong(tmp_path, argv, status):
    (tmp_path / "cut.prp").write_bytes(cut_page())
    (tmp_path / "broken").mkdir()
    layer = layer_body()[:20]
    (tmp_path / "broken" / "p.prp").write_bytes(page([Obj(LAYER, "L", layer)]))
    plain = page([Obj(1, "A", b"\x01\0")], header_overrides={"strings": {"inverted": False}})
    (tmp_path / "plain.prp").write_bytes(plain)
    (tmp_path / "binary.age").write_bytes(b"\xff\xfe\x00")
    (tmp_path / "empty.sdl").write_text("# nothing\n")
    names = {"tmp": tmp_path, "cut": tmp_path / "cut.prp", "plain": tmp_path / "plain.prp"}
    done = command(*(str(a).format(**names) for a in argv))
    assert done.returncode == status, done.stderr


def test_damage_is_shown_where_it_lies(tmp_path):
    (tmp_path / "cut.prp").write_bytes(cut_page())
    (tmp_path / "broken.prp").write_bytes(page([Obj(LAYER, "Glass", layer_body()[:20])]))
    info = command("info", tmp_path / "cut.prp", TOWN)
    assert info.returncode == 0
    assert b"\n  objects          1\n  lost keys        2\n" in info.stdout
    assert info.stdout.count(b"\n  lost keys        0\n") == 1
    done = command("scan", tmp_path)
    assert done.stdout.decode().splitlines()[:3] == [
        f"{tmp_path}/broken.prp  1 object, 0 decoded, 1 failed",
        "    plLayer 'Glass': failed to fill whole buffer",
        f"{tmp_path}/cut.prp     1 object, 1 decoded, 0 failed, 2 keys lost",
    ]


def test_progress_on_a_terminal(tmp_path):
    """Standard error on a terminal: the bar shows the count, the total, the
    time spent and left and the rate, and leaves no trace at the end."""
    write_tree(tmp_path, 40, 0)
    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    done = subprocess.Popen(
        [*COMMAND, "scan", str(tmp_path), "--jobs", "1"],
        stdout=subprocess.PIPE,
        stderr=terminal,
        env=ENV,
    )
    os.close(terminal)
    shown = b""
    while True:
        ready, _, _ = select.select([controller], [], [], 30)
        try:
            chunk = os.read(controller, 65536) if ready else b""
        except OSError:
            chunk = b""
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    out, _ = done.communicate(timeout=30)
    assert done.returncode == 0 and out.endswith(b" 0 failed\n")
    draws = [d for d in shown.decode().split("\r") if "/40 [" in d]
    assert draws and all(d.rstrip().endswith("pages/s]") for d in draws)
    # Cleared at the end: the last thing written is the blank.
    assert shown.decode().split("\r")[-2].strip() == ""


installed = pytest.mark.skipif(shutil.which("lumivex") is None, reason="lumivex is not installed")


@installed
def test_installed_command_scans_the_samples():
    done = subprocess.run(["lumivex", "scan", SAMPLES], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.endswith(SAMPLE_TOTAL + "\n")


@installed
@pytest.mark.parametrize(
    ("argv", "status", "err"),
    [
        (
            ["info", "/nonexistent.prp"],
            1,
            'lumivex: Failed to read "/nonexistent.prp": No such file or directory\n',
        ),
        (["sdl"], 2, "lumivex: the following arguments are required: PATH\n"),
    ],
)
def test_installed_command_fails_in_one_line(argv, status, err):
    done = subprocess.run(["lumivex", *argv], capture_output=True, text=True)
    assert (done.returncode, done.stdout, done.stderr) == (status, "", err)


@pytest.mark.parametrize("command", ["age", "check"])
def test_an_age_description_from_a_pipe_is_read_once(tmp_path, command):
    pipe = tmp_path / "Pipe.age"
    os.mkfifo(pipe)
    done = subprocess.Popen(
        [sys.executable, "-m", "lumivex", command, str(pipe)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=ENV,
    )
    with open(pipe, "w") as writer:
        writer.write("SequencePrefix=3\nDayLenght=24\n")
    out, err = done.communicate(timeout=60)
    assert (done.returncode, err) == (0, "")
    assert out.startswith("Pipe\n" if command == "age" else f"{pipe}: age Pipe, 0 pages")


@pytest.mark.parametrize(
    "args",
    [
        ["ls"],
        ["ls", "--json"],
        ["diff", "OTHER"],
        ["diff", "--json", "OTHER"],
        ["edit", "-o", "/dev/stdout", "--remove", "Layer00001"],
    ],
    ids=" ".join,
)
def test_a_reader_that_goes_away_ends_the_command_quietly(tmp_path, args):
    """`lumivex ... | head`: once the pipe is closed the command stops with
    nothing on its standard error, as the tools of a shell do."""
    many = [Obj(LAYER, f"Layer{n:05d}", layer_body(f"Layer{n:05d}")) for n in range(3000)]
    (tmp_path / "a.prp").write_bytes(page(many))
    (tmp_path / "b.prp").write_bytes(page(many[::2]))
    argv = [
        *COMMAND,
        *(tmp_path / "b.prp" if a == "OTHER" else a for a in args),
        tmp_path / "a.prp",
    ]
    process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
    assert process.stdout.read(100)
    process.stdout.close()
    _, err = process.communicate(timeout=60)
    assert err == b""
    assert process.returncode == 1


@needs_setpriv
def test_a_dry_run_of_an_edit_fails_where_its_save_would_and_waits_for_no_reader(tmp_path):
    path = tmp_path / "a.prp"
    path.write_bytes(page([Obj(LAYER, name, layer_body(name)) for name in ["A", "B"]]))
    before = path.read_bytes()
    pipe = tmp_path / "pipe"
    os.mkfifo(pipe)
    # Opening the FIFO to try it would wait for a reader that never comes.
    done = command("edit", path, "-o", pipe, "--remove", "A", "--dry-run")
    assert (done.returncode, done.stderr) == (0, b"")
    assert done.stdout.endswith(b"1 object removed; nothing written (dry run)\n")
    path.chmod(0o444)
    done = command("edit", path, "--remove", "A", "--dry-run", unprivileged=True)
    assert done.returncode == 1
    assert done.stderr.decode() == f"lumivex: cannot write {path}: Permission denied\n"
    assert path.read_bytes() == before
    assert sorted(os.listdir(tmp_path)) == ["a.prp", "pipe"]


@pytest.mark.parametrize(
    "args",
    [
        ["ls", TOWN],
        ["edit", TOWN, "-o", "/dev/stdout", "--remove", "Sign"],
        ["texture", TOWN, "X", "-o", "x.dds"],
    ],
    ids=lambda args: " ".join(map(str, args[:1] + args[2:])),
)
def test_a_closed_standard_output_is_a_failure_before_anything_is_done(tmp_path, args):
    """`lumivex ls PAGE >&-`: Python prints to a closed output as if it
    wrote, so the command refuses rather than report success."""
    argv = [*COMMAND, *(os.fsencode(a) if isinstance(a, Path) else a for a in args)]
    # The shell closes it, as a user's would: no Python runs in the child
    # before the command does.
    done = subprocess.run(
        ["sh", "-c", 'exec "$@" >&-', "sh", *argv],
        cwd=tmp_path,
        capture_output=True,
        env=ENV,
        timeout=60,
    )
    assert (done.returncode, done.stderr) == (
        1,
        b"lumivex: standard output is closed; nothing was done\n",
    )
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("ending", [signal.SIGTERM, signal.SIGHUP], ids=lambda s: s.name)
def test_a_signal_that_ends_a_save_leaves_no_file_behind(tmp_path, ending):
    """`kill`, `timeout` or a closed terminal during a save: the new file is
    removed, as on Ctrl-C, and the status says which signal ended it."""
    body = i16(LAYER) + bytes(64 << 20)
    (tmp_path / "page.prp").write_bytes(page([Obj(LAYER, "Big", body)]))
    argv = [*COMMAND, "edit", "page.prp", "-o", "out.prp", "--rename", "Big=Small"]
    process = subprocess.Popen(
        argv, cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV
    )
    # Sent once the new file is being written beside its target.
    while not any(name.startswith(".out.prp.") for name in os.listdir(tmp_path)):
        assert process.poll() is None, "the save ended before it could be stopped"
        time.sleep(0.0005)
    process.send_signal(ending)
    _, err = process.communicate(timeout=60)
    assert (process.returncode, err) == (128 + ending, b"")
    assert os.listdir(tmp_path) == ["page.prp"]
