"""SdlFile.by_name and SdlFile.versions: each name's newest descriptor and all its versions."""

import collections.abc

import lumivex
import pytest


def text(*descriptors):
    return "".join(
        f"STATEDESC {name}\n{{\n    VERSION {version}\n}}\n" for name, version in descriptors
    )


@pytest.fixture
def sdl(tmp_path):
    def load(*descriptors):
        path = tmp_path / f"file{len(list(tmp_path.iterdir()))}.sdl"
        path.write_text(text(*descriptors))
        manager.load_file(path)
        return manager

    manager = lumivex.SdlFile()
    return load


def shown(descriptors):
    return [(d.name, d.version) for d in descriptors]


@pytest.mark.parametrize(
    "read, newest",
    [
        ([("A", 2), ("A", 5), ("A", 3)], 5),
        ([("A", 5), ("A", 2)], 5),
        ([("A", 1)], 1),
    ],
)
def test_by_name_gives_the_newest_version(sdl, read, newest):
    manager = sdl(*read)
    assert manager.by_name["A"].version == newest
    assert shown([manager.by_name["A"]]) == shown([manager.find("A", 0)])


def test_equal_versions_give_the_last_read(sdl, tmp_path):
    manager = sdl(("A", 4))
    first = manager.by_name["A"]
    (tmp_path / "later.sdl").write_text("STATEDESC A\n{\n    VERSION 4\n    VAR INT x[1]\n}\n")
    manager.load_file(tmp_path / "later.sdl")
    assert len(first.variables) == 0 and len(manager.by_name["A"].variables) == 1


def test_by_name_is_a_read_only_mapping_of_names_in_byte_order(sdl):
    manager = sdl(("b", 1), ("B", 2), ("a", 1), ("B", 1))
    names = manager.by_name
    assert isinstance(names, collections.abc.Mapping)
    assert len(names) == 3 and list(names) == ["B", "a", "b"]
    assert "B" in names and "c" not in names and 1 not in names
    assert {name: d.version for name, d in names.items()} == {"B": 2, "a": 1, "b": 1}
    assert list(names.keys()) == ["B", "a", "b"] and len(names.values()) == 3
    assert names.get("c") is None and names.get("c", 0) == 0 and names.get("a").name == "a"
    with pytest.raises(TypeError):
        names["a"] = None


@pytest.mark.parametrize("missing", ["C", "", "a\0", 7, None, ("A",)])
def test_a_missing_name_raises_key_error(sdl, missing):
    names = sdl(("A", 1)).by_name
    with pytest.raises(KeyError) as raised:
        names[missing]
    assert raised.value.args == (missing,)


def test_by_name_follows_later_loads(sdl):
    manager = sdl(("B", 1))
    names = manager.by_name
    names_iterator = iter(names)
    assert next(names_iterator) == "B"
    sdl(("A", 1), ("C", 1), ("B", 9))
    assert len(names) == 3 and names["B"].version == 9
    # The iteration goes on after the last name it gave.
    assert list(names_iterator) == ["C"] and list(names_iterator) == []


def test_versions_are_the_oldest_first(sdl):
    manager = sdl(("A", 3), ("B", 1), ("A", 1), ("A", 3), ("A", 2))
    assert shown(manager.versions("A")) == [("A", 1), ("A", 2), ("A", 3), ("A", 3)]
    assert manager.versions(name="Z") == []
    # Loading a file twice doubles every version, as len() does.
    manager_again = sdl(("A", 3), ("B", 1), ("A", 1), ("A", 3), ("A", 2))
    assert len(manager_again.versions("B")) == 2 and len(manager_again) == 10


def test_a_failed_load_leaves_the_names(sdl, tmp_path):
    manager = sdl(("A", 1))
    (tmp_path / "bad.sdl").write_bytes(text(("A", 7), ("Z", 1)).encode() + b"\xff")
    with pytest.raises(OSError):
        manager.load_file(tmp_path / "bad.sdl")
    assert list(manager.by_name) == ["A"] and manager.by_name["A"].version == 1


def test_views_outlive_their_file(sdl):
    names = sdl(("A", 1)).by_name
    assert names["A"].name == "A"


def test_many_versions_of_one_name_are_found_at_once(tmp_path):
    (tmp_path / "many.sdl").write_text(text(*(("A", v) for v in range(20000, 0, -1))))
    manager = lumivex.SdlFile()
    manager.load_file(tmp_path / "many.sdl")
    assert all(manager.by_name["A"].version == 20000 for _ in range(20000))
