"""A page as a sequence and a mapping: objects by position, by key and by name."""

import array
import io
import mmap

import lumivex
import pytest

from fixtures.builder import Obj, page

OBJECTS = [
    Obj(1, "Foo", b"\x01\x00a", object_id=1),
    Obj(6, "Foo", b"\x06\x00b", object_id=2),
    Obj(1, "Bar", b"\x01\x00c", object_id=3),
    Obj(6, "Lamp", b"\x06\x00d", object_id=4),
    Obj(0x7000, "Foo", b"\x00\x70e", object_id=5),
]


@pytest.fixture(scope="module")
def f():
    return lumivex.PrpFile.from_bytes(page(OBJECTS))


def described(objects):
    return [(o.name, o.class_type, o.object_id) for o in objects]


@pytest.mark.parametrize("index", [0, 1, 4, -1, -5])
def test_index_gives_the_object_at_that_position(f, index):
    assert f[index] == f.objects()[index]
    assert f[index].index == range(len(f))[index]


@pytest.mark.parametrize("index", [5, -6, 2**70, -(2**70)])
def test_index_outside_the_page_raises_index_error(f, index):
    # Beyond a machine word, as for a list.
    with pytest.raises(IndexError, match="index out of range|index-sized"):
        f[index]


@pytest.mark.parametrize(
    "part", [slice(1, 3), slice(None, None, -1), slice(-2, None), slice(3, 1), slice(0, 99, 2)]
)
def test_slice_gives_a_list_like_the_list_of_objects(f, part):
    assert f[part] == f.objects()[part]


@pytest.mark.parametrize("item", ["Foo", 1.0, None])
def test_other_subscripts_are_refused(f, item):
    with pytest.raises(TypeError, match="PrpFile indices must be integers, slices or Keys"):
        f[item]


def test_key_gives_its_object(f):
    for obj in f:
        assert f[obj.key] == obj
        assert obj.key in f and obj in f


@pytest.mark.parametrize(
    "changed",
    [
        dict(object_id=9),
        dict(name="foo"),
        dict(location_sequence=7),
        dict(clone_id=1, clone_player_id=2),
    ],
)
def test_key_differing_in_one_field_is_not_found(f, changed):
    fields = dict(class_type=1, name="Foo", object_id=1)
    fields.update(changed)
    other = lumivex.PrpFile.from_bytes(page([Obj(body=b"\x01\x00a", **fields)]))
    key = other[0].key
    assert key not in f
    with pytest.raises(KeyError) as raised:
        f[key]
    assert raised.value.args == (key,)


def test_equal_keys_give_the_first_in_index_order():
    twice = lumivex.PrpFile.from_bytes(
        page([Obj(1, "Same", b"\x01\x00a", object_id=1), Obj(1, "Same", b"\x01\x00b", object_id=1)])
    )
    assert twice[twice[1].key].index == 0


def test_object_of_another_page_is_not_in_it(f):
    copy = lumivex.PrpFile.from_bytes(f.to_bytes())
    assert copy[0] not in f and "Foo" not in f and 0 not in f


def test_object_knows_its_page_and_position(f):
    for position, obj in enumerate(f):
        assert obj.page is f and obj.index == position
    assert all(o.page is f for o in f.find("Foo") + f.objects() + f[1:])


@pytest.mark.parametrize(
    "class_type, expected",
    [
        (None, [("Foo", 1, 1), ("Foo", 6, 2), ("Foo", 0x7000, 5)]),
        (6, [("Foo", 6, 2)]),
        ("plSceneObject", [("Foo", 1, 1)]),
        ("Unknown", [("Foo", 0x7000, 5)]),
        (0x0007, []),
    ],
)
def test_find_gives_the_named_objects_in_index_order(f, class_type, expected):
    assert described(f.find("Foo", class_type)) == expected
    assert described(f.find(name="Foo", class_type=class_type)) == expected


def test_find_of_an_unknown_name_is_empty(f):
    assert f.find("Nobody") == [] and f.find("foo") == []


def test_find_names_the_closest_classes_of_a_misspelt_one(f):
    with pytest.raises(
        ValueError, match=r"no class is named 'plLayr'; the closest names are plLayer"
    ):
        f.find("Foo", "plLayr")


@pytest.mark.parametrize(
    "args, error",
    [
        (("Foo", -1), OverflowError),
        (("Foo", 65536), OverflowError),
        (("Foo", 1.5), TypeError),
        ((b"Foo",), TypeError),
    ],
)
def test_find_checks_its_arguments(f, args, error):
    with pytest.raises(error, match="find"):
        f.find(*args)


def test_lookups_scale_with_a_large_page():
    many = [Obj(1 + i % 3, f"N{i % 1000}", b"\x01\x00", object_id=i) for i in range(20000)]
    big = lumivex.PrpFile.from_bytes(page(many))
    assert big.find("N7") == [o for o in big if o.name == "N7"]
    assert all(big[o.key].index == o.index for o in big[::997])


def page_bytes():
    return page(OBJECTS, age="Demo")


@pytest.mark.parametrize(
    "make",
    [
        bytearray,
        memoryview,
        lambda data: memoryview(bytearray(data)),
        lambda data: array.array("B", data),
    ],
)
def test_from_buffer_takes_any_bytes_like_object(make):
    f = lumivex.PrpFile.from_buffer(make(page_bytes()))
    assert described(f) == described(lumivex.PrpFile.from_bytes(page_bytes()))
    assert f.age_name == "Demo"


def test_from_buffer_reads_a_mapped_file(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(page_bytes())
    with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        f = lumivex.PrpFile.from_buffer(mapped)
    assert f.to_bytes() == page_bytes()


def test_from_buffer_copies_the_bytes():
    data = bytearray(page_bytes())
    f = lumivex.PrpFile.from_buffer(data)
    data[:] = bytes(len(data))
    assert f.to_bytes() == page_bytes()


def test_from_file_reads_a_binary_file(tmp_path):
    path = tmp_path / "page.prp"
    path.write_bytes(page_bytes())
    with open(path, "rb") as file:
        assert lumivex.PrpFile.from_file(file).to_bytes() == page_bytes()
    assert lumivex.PrpFile.from_file(io.BytesIO(page_bytes())).age_name == "Demo"


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: lumivex.PrpFile.from_buffer("text"),
            "from_buffer() argument 'obj' must be a bytes-like object, not str",
        ),
        (
            lambda: lumivex.PrpFile.from_buffer(obj=7),
            "from_buffer() argument 'obj' must be a bytes-like object, not int",
        ),
        (
            lambda: lumivex.PrpFile.from_file(io.StringIO("x")),
            "from_file() argument 'fileobj' must be a binary file",
        ),
        (lambda: lumivex.PrpFile.from_file(b"bytes"), "'bytes' object has no attribute 'read'"),
    ],
)
def test_from_buffer_and_from_file_refuse_other_objects(call, message):
    with pytest.raises((TypeError, AttributeError)) as raised:
        call()
    assert message in str(raised.value)


@pytest.mark.parametrize(
    "call",
    [
        lambda: lumivex.PrpFile.from_buffer(bytearray()),
        lambda: lumivex.PrpFile.from_file(io.BytesIO()),
    ],
)
def test_from_buffer_and_from_file_fail_as_from_bytes(call):
    with pytest.raises(OSError, match="^Failed to parse PRP header from bytes$"):
        call()
