"""Pages, keys, objects and views pickle, copy and take weak references."""

import copy
import gc
import pickle
import weakref
from pathlib import Path

import lumivex
import pytest

from fixtures.builder import Obj, page
from fixtures.object_bodies import DECODERS, prp_object

PAGE = page(
    [
        Obj(1, "Foo", b"\x01\x00body", object_id=1, clone_id=2, clone_player_id=3),
        Obj(6, "Lay", b"\x06\x00", object_id=2),
    ],
    age="Demo",
    page_name="Town",
)


def duplicates(value):
    """The value pickled and read back by every protocol: each must give an
    equal one."""
    return [
        pickle.loads(pickle.dumps(value, protocol))
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1)
    ]


def shown(value):
    """A view's properties, list items by their reprs."""
    shown = {}
    for name, member in vars(type(value)).items():
        if type(member).__name__ == "getset_descriptor" and not name.startswith("_"):
            item = getattr(value, name)
            shown[name] = [repr(i) for i in item] if isinstance(item, list) else item
    return shown


def test_page_duplicates_by_its_bytes():
    f = lumivex.PrpFile.from_bytes(PAGE)
    for g in duplicates(f):
        assert g is not f
        assert g.to_bytes() == f.to_bytes()
        assert repr(g) == repr(f) and g.header == f.header


def test_key_duplicates_equal():
    key = lumivex.PrpFile.from_bytes(PAGE)[0].key
    for other in duplicates(key):
        assert other == key and hash(other) == hash(key) and repr(other) == repr(key)


def test_key_with_a_name_that_is_not_utf8_keeps_its_bytes():
    key = lumivex.PrpFile.from_bytes(page([Obj(1, b"bad\xff", b"\x01\x00")]))[0].key
    (other,) = {pickle.loads(pickle.dumps(key))}
    assert other == key and other.name == "bad\ufffd"


def test_object_duplicates_as_its_place_in_its_page():
    objects = lumivex.PrpFile.from_bytes(PAGE).objects()
    again = pickle.loads(pickle.dumps(objects))
    assert [(o.index, o.key, o.data) for o in again] == [(o.index, o.key, o.data) for o in objects]
    # Pickled together, the objects keep sharing one page.
    assert again[0].page is again[1].page


@pytest.mark.parametrize("method", DECODERS)
def test_view_duplicates_as_a_decode_of_the_same_bytes(method):
    class_type, body = DECODERS[method]
    view = getattr(prp_object(class_type, body), method)()
    for other in duplicates(view):
        assert type(other) is type(view) and other is not view
        assert repr(other) == repr(view) and shown(other) == shown(view)
        # A view is a value: equal to one of the same bytes, and hashed alike.
        assert other == view and hash(other) == hash(view)


@pytest.mark.parametrize(
    "make",
    [
        lambda: lumivex.PrpFile.from_bytes(PAGE),
        lambda: lumivex.PrpFile.from_bytes(PAGE)[0].key,
        *[
            (lambda method=method: getattr(prp_object(*DECODERS[method]), method)())
            for method in DECODERS
        ],
    ],
)
def test_weak_references(make):
    value = make()
    ref = weakref.ref(value)
    assert ref() is value
    del value
    gc.collect()
    assert ref() is None


def test_immutable_values_copy_as_themselves():
    """Immutable values copy as a tuple does, whether they pickle or not: a
    copy of an object or of a page does not copy the page, and a structure
    holding them deep-copies."""
    samples = Path(__file__).resolve().parent.parent / "samples"
    age = lumivex.AgeFile.load(samples / "Demo.age")
    sdl = lumivex.SdlFile()
    sdl.load_file(samples / "sdl" / "Demo.sdl")
    descriptor = sdl.descriptors()[0]
    script = prp_object(*DECODERS["as_python_file_mod"]).as_python_file_mod()
    pages = lumivex.PrpFile.from_bytes(PAGE)
    values = [
        pages,
        pages[0],
        pages[0].key,
        *(getattr(prp_object(*DECODERS[method]), method)() for method in DECODERS),
        age,
        age.pages[0],
        pages.header,
        script.params[0],
        descriptor,
        descriptor.variables[0],
    ]
    for value in values:
        assert copy.copy(value) is value and copy.deepcopy(value) is value
    assert copy.deepcopy({"held": values}) == {"held": values}
