"""The benchmark suite's smoke mode: its data is valid and its runner reports
every operation. Timings are not checked."""

import json
from pathlib import Path

import lumivex
import pytest

from benchmarks import check, generate, memory, run, serve, threads


@pytest.fixture(scope="module")
def data(tmp_path_factory):
    return generate.ensure(tmp_path_factory.mktemp("bench"), quick=True)


def test_page_decodes_and_round_trips(data):
    path = data / generate.PAGE_FILE
    page = lumivex.PrpFile.load(str(path))
    assert page.to_bytes() == path.read_bytes()
    for name, class_type in run.DECODERS.items():
        objects = [o for o in page if o.class_type == class_type]
        assert objects
        for obj in objects:
            getattr(obj, name)()


def test_text_data_loads(data):
    for directory in (generate.SDL_DIR, generate.LONG_SDL_DIR):
        sdl = lumivex.SdlFile()
        assert sdl.load_directory(str(data / directory)) == len(sdl) > 0
    assert len(lumivex.AgeFile.load(str(data / generate.AGE_FILE)).pages) == 2000
    assert len(lumivex.AgeFile.load(str(data / generate.LONG_AGE_FILE)).pages) == 1000
    long_sdl = lumivex.SdlFile()
    long_sdl.load_directory(str(data / generate.LONG_SDL_DIR))
    assert min(len(d.variables) for d in long_sdl.descriptors()) >= 150
    short = lumivex.SdlFile()
    assert short.load_file(str(data / generate.SHORT_VARS_FILE)) == 1
    assert len(short.find("A", 0).variables) == 10_000
    assert short.load_file(str(data / generate.SHORT_DESCRIPTORS_FILE)) == 5_000


def test_name_sets_match_in_number_and_length(data):
    names = {}
    for kind in (generate.SHARED_PREFIX, generate.RANDOM_NAMES):
        sdl = lumivex.SdlFile()
        sdl.load_directory(str(data / generate.NAMES_DIR / kind))
        names[kind] = [d.name for d in sdl.descriptors()]
    shared, random_names = names[generate.SHARED_PREFIX], names[generate.RANDOM_NAMES]
    assert len(shared) == len(set(shared)) == len(random_names) == 400
    assert {len(n) for n in shared} == {len(n) for n in random_names} == {248}
    assert len({n[:240] for n in shared}) == 1


def test_only_stale_text_data_is_written_again(data, tmp_path):
    again = generate.ensure(tmp_path, quick=True)
    page = (again / generate.PAGE_FILE).stat().st_mtime_ns
    manifest = json.loads((again / "manifest.json").read_text())
    (again / "manifest.json").write_text(json.dumps({**manifest, "text_format": 0}))
    (again / generate.AGE_FILE).write_text("")
    generate.ensure(again, quick=True)
    assert (again / generate.PAGE_FILE).stat().st_mtime_ns == page
    assert files(again) == files(data)


def files(directory: Path) -> dict[str, bytes]:
    return {
        str(p.relative_to(directory)): p.read_bytes() for p in directory.rglob("*") if p.is_file()
    }


def test_data_is_deterministic_and_rebuilt_when_stale(data, tmp_path):
    again = generate.ensure(tmp_path, quick=True)
    assert files(again) == files(data)
    (again / generate.PAGE_FILE).write_bytes(b"")
    generate.ensure(again, quick=True)
    assert (again / generate.PAGE_FILE).read_bytes() == b""
    (again / "manifest.json").write_text("{}")
    generate.ensure(again, quick=True)
    assert files(again) == files(data)


def test_runner_reports_every_operation(data, capsys):
    run.main(["--quick", "--runs", "1", "--data", str(data)])
    operations = [
        line.split(" | ")[0].lstrip("| ") for line in capsys.readouterr().out.splitlines()[3:]
    ]
    assert operations == [
        "PrpFile.load(path)",
        "PrpFile.load peak memory",
        "PrpFile.from_bytes(data)",
        "f.to_bytes()",
        "f.save(path)",
        "PageBuilder.from_page(f), set, build()",
        "PageBuilder.from_page(f).rename_all(1000 renames)",
        "f.objects()",
        "list(f)",
        "f.objects_of_type(1)",
        "f.objects_by_name('plLayer')",
        "f.count_by_type()",
        *(f"o.{name}()" for name in run.DECODERS),
        *(f"read every property of o.{name}()" for name in run.DECODERS),
        "decode everything, read every property",
        *(
            row
            for name in run.DECODERS
            for row in (
                f"view.to_bytes() of o.{name}()",
                f"view.replace(one change).to_bytes() of o.{name}()",
            )
        ),
        "SdlFile().load_directory(dir)",
        "SdlFile().load_directory(long names)",
        "AgeFile.load(path)",
        "AgeFile.load(long names)",
        "AgeFile.lint(path)",
        "SdlFile.lint(path) of each file",
        "SdlFile load + find, names sharing 240 bytes",
        "SdlFile.load_file peak memory",
        "... then find + .variables",
        "SdlFile.load_file peak memory",
        "... then descriptors()",
        "lumivex check, an age listing 4N pages",
        "lumivex.diff(a, b), one object differs",
        "Mipmap.from_image(name, image), DXT5",
    ]


def test_threads_benchmark_runs(data, capsys):
    assert threads.main(["--quick", "--runs", "1", "--data", str(data)]) == 0
    assert "speed-up:" in capsys.readouterr().out


def test_check_benchmark_runs(tmp_path, capsys):
    assert check.main(["--quick", "--data", str(tmp_path)]) == 0
    assert "check / scan in one process:" in capsys.readouterr().out


def test_serve_benchmark_runs(tmp_path, capsys):
    pytest.importorskip("starlette")
    assert serve.main(["--quick", "--runs", "1", "--data", str(tmp_path)]) == 0
    out = capsys.readouterr().out
    assert "floor: the stylesheet" in out and "DXT5 texture's PNG, first request" in out


def test_memory_benchmark_measures_every_report(tmp_path, capsys):
    pytest.importorskip("starlette")
    assert memory.main(["--quick", "--data", str(tmp_path)]) == 0
    out = capsys.readouterr().out
    assert out.count(" met\n") + out.count(" NOT MET\n") == 11
    assert "lumivex check --json" in out and "GET /api/ls sorted" in out and "GET /object" in out
