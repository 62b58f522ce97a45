"""lumivex.enable_logging: the readers' records in Python's logging, off by default."""

import threading

import lumivex
import pytest


@pytest.fixture
def sdl_directory(tmp_path):
    (tmp_path / "good.sdl").write_text("STATEDESC A\n{\n    VERSION 1\n}\n")
    (tmp_path / "bad.sdl").write_bytes(b"\xff")
    return tmp_path


@pytest.fixture
def records(caplog):
    caplog.set_level(1, logger="lumivex")
    yield caplog
    lumivex.disable_logging()


def load(directory):
    lumivex.SdlFile().load_directory(directory)


def seen(caplog):
    return [(r.name, r.levelname, r.getMessage()) for r in caplog.records]


def test_nothing_is_logged_by_default(records, sdl_directory):
    load(sdl_directory)
    assert records.records == []


@pytest.mark.parametrize(
    "level, expected",
    [
        ("error", []),
        ("warn", [("lumivex.sdl.descriptor", "WARNING", "Failed to load")]),
        (
            "info",
            [
                ("lumivex.sdl.descriptor", "WARNING", "Failed to load"),
                ("lumivex.sdl.descriptor", "INFO", "Loaded 1 SDL descriptors from {}"),
            ],
        ),
    ],
)
def test_records_at_the_level_and_above_reach_child_loggers(
    records, sdl_directory, level, expected
):
    lumivex.enable_logging(level)
    load(sdl_directory)
    got = seen(records)
    assert [(n, lv) for n, lv, _ in got] == [(n, lv) for n, lv, _ in expected]
    for (_, _, message), (_, _, start) in zip(got, expected, strict=True):
        assert message.startswith(start.format(sdl_directory))


def test_default_level_is_warn_and_disable_silences(records, sdl_directory):
    lumivex.enable_logging()
    load(sdl_directory)
    assert [r.levelname for r in records.records] == ["WARNING"]
    lumivex.disable_logging()
    records.clear()
    load(sdl_directory)
    assert records.records == []


def test_records_of_other_threads_arrive(records, sdl_directory):
    lumivex.enable_logging("info")
    threads = [threading.Thread(target=load, args=(sdl_directory,)) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert sorted(r.levelname for r in records.records) == ["INFO"] * 4 + ["WARNING"] * 4


@pytest.mark.parametrize(
    "level, error", [("warning", ValueError), ("WARN", ValueError), (30, TypeError)]
)
def test_unknown_levels_are_refused(records, level, error):
    with pytest.raises(error, match="enable_logging"):
        lumivex.enable_logging(level)
