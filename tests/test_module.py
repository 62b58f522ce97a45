"""The module surface: registration, class names, PrpFile and its objects."""

import gc

import lumivex
import pytest

from fixtures.builder import Obj, page
from fixtures.object_bodies import DECODERS, prp_object

# The module's classes that Python cannot construct, and SdlFile: those of
# the package's names that come before Key.
CLASSES = lumivex.__all__[: lumivex.__all__.index("Key")]


def demo():
    objs = [
        Obj(1, "Foo", b"\x01\x00", object_id=11, location_sequence=0x21),
        Obj(6, "Lay", b"\x06\x00x"),
        Obj(0x13E, "Odd", b""),
        Obj(1, "Bar", b"\x01\x00"),
        Obj(0xFFFF, "Far", b""),
    ]
    return lumivex.PrpFile.from_bytes(page(objs, age="Demo", page_name="Town"))


def test_decoders_and_their_classes():
    methods = lumivex._lumivex.decoder_methods
    assert [n for n in vars(lumivex.PrpObject) if n.startswith("as_")] == list(methods.values())
    assert all(lumivex.class_name(class_type) != "Unknown" for class_type in methods)
    with pytest.raises(TypeError):
        methods[1] = "as_layer"


def test_registration_order():
    module = lumivex._lumivex
    registered = [n for n in vars(module) if n in lumivex.__all__]
    # The package's names are the module's public ones, then those written in Python.
    assert module.__all__ == registered
    assert lumivex.__all__ == [*registered, "Age", "Change", "diff"]
    assert all(getattr(lumivex, name) is getattr(module, name) for name in registered)
    assert registered[:3] == ["PrpFile", "PrpObject", "PageHeaderInfo"]
    assert registered[registered.index("Key") :] == [
        "Key",
        "PageBuilder",
        "LintProblem",
        "class_name",
        "save_file",
        "save_files",
        "enable_logging",
        "disable_logging",
    ]
    # The views follow the table of decoders, between the page's classes and
    # the text formats'.
    views = [
        type(getattr(prp_object(class_type, body), method)()).__name__
        for method, (class_type, body) in DECODERS.items()
    ]
    between = registered[3 : registered.index("AgeFile")]
    assert [name for name in between if name in views] == views
    assert lumivex.__doc__ == module.__doc__ == "lumivex Python module."
    assert not hasattr(lumivex, "ObjectIterator")


@pytest.mark.parametrize(
    "class_type,name",
    [
        (0x0000, "plSceneNode"),
        (0x0001, "plSceneObject"),
        (0x0004, "plMipmap"),
        (0x0007, "hsGMaterial"),
        (0x013E, "Unknown"),
        (0x01FF, "Unknown"),
        (0x0200, "plObjRefMsg"),
        (0x03C2, "Unknown"),
        (0x0419, "Unknown"),
        (0x04A0, "plAIGoToGoalMsg"),
        (0x04A1, "Unknown"),
        (65535, "Unknown"),
    ],
)
def test_class_name(class_type, name):
    assert lumivex.class_name(class_type) == name
    assert lumivex.class_name(class_type=class_type) == name


def test_class_table_shape():
    names = [lumivex.class_name(i) for i in range(0x04A1)]
    known = [n for n in names if n != "Unknown"]
    assert len(known) == 903 and len(set(known)) == 903


@pytest.mark.parametrize(
    "call,exc",
    [
        (lambda: lumivex.class_name(-1), OverflowError),
        (lambda: lumivex.class_name(65536), OverflowError),
        (lambda: lumivex.class_name(2**70), OverflowError),
        (lambda: lumivex.class_name("1"), TypeError),
        (lambda: lumivex.class_name(1.0), TypeError),
        (lambda: lumivex.class_name(), TypeError),
        (lambda: lumivex.PrpFile.from_bytes(bytearray(b"x")), TypeError),
        (lambda: lumivex.PrpFile.from_bytes("x"), TypeError),
        (lambda: lumivex.PrpFile.load(1), TypeError),
        (lambda: demo().objects_of_type(-1), OverflowError),
        (lambda: demo().objects_of_type(65536), OverflowError),
        (lambda: demo().objects_of_type("1"), TypeError),
        (lambda: demo().objects_by_name(1), TypeError),
        (lambda: demo().save(None), TypeError),
    ],
)
def test_argument_rules(call, exc):
    with pytest.raises(exc):
        call()


def test_type_errors_name_the_argument():
    with pytest.raises(TypeError, match="'class_type'"):
        lumivex.class_name("x")
    with pytest.raises(TypeError, match="'data'"):
        lumivex.PrpFile.from_bytes(bytearray())
    with pytest.raises(TypeError, match="'path'"):
        lumivex.PrpFile.load(1)


# SdlFile is the one class Python can construct.
@pytest.mark.parametrize("name", [c for c in CLASSES if c != "SdlFile"])
def test_no_constructor(name):
    with pytest.raises(TypeError) as info:
        getattr(lumivex, name)()
    assert str(info.value) == f"No constructor defined for {name}"


def test_iterator_has_no_constructor():
    with pytest.raises(TypeError) as info:
        type(iter(demo()))()
    assert str(info.value) == "No constructor defined for ObjectIterator"


def test_signatures_and_docstrings():
    P = lumivex.PrpFile
    assert P.__doc__ == "A loaded .prp (Plasma Resource Page) file."
    expected = {
        "load": ("(path)", "Load a PRP file from disk."),
        "from_bytes": ("(data)", "Load a PRP file from bytes."),
        "save": ("($self, path)", "Save the PRP file to disk (byte-identical round-trip)."),
        "to_bytes": ("($self)", "Serialize to bytes."),
        "objects": ("($self)", "Get all objects as a list."),
        "objects_of_type": ("($self, class_type)", "Get objects by class type ID."),
        "objects_by_name": (
            "($self, class_name)",
            'Get objects by class type name (e.g., "plSceneObject", "plDrawableSpans").',
        ),
        "count_by_type": ("($self)", "Count objects by class type."),
    }
    for name, (signature, doc) in expected.items():
        member = getattr(P, name)
        assert member.__text_signature__ == signature, name
        assert member.__doc__ == doc, name
    assert P.age_name.__doc__ == "Age name from the page header."
    assert P.page_name.__doc__ == "Page name from the page header."
    assert P.header.__doc__ == "Get the page header info."
    assert lumivex.class_name.__text_signature__ == "(class_type)"
    assert lumivex.class_name.__doc__ == "Lookup class type names by ID."
    assert lumivex.PrpObject.__doc__ == "A single object in a PRP file."
    assert lumivex.PageHeaderInfo.__doc__ is None


def test_keyword_arguments():
    data = page([Obj(1, "Foo", b"\x01\x00")])
    f = lumivex.PrpFile.from_bytes(data=data)
    assert len(f.objects_of_type(class_type=1)) == 1
    assert len(f.objects_by_name(class_name="plSceneObject")) == 1


def test_page_views():
    f = demo()
    assert repr(f) == "PrpFile('Demo', 'Town', 5 objects)"
    assert repr(f.header) == "PageHeader(age='Demo', page='Town', v6)"
    assert f.header is not f.header
    assert (f.age_name, f.page_name) == ("Demo", "Town")
    assert len(f) == len(f.objects()) == 5
    assert (
        [o.name for o in f] == [o.name for o in f.objects()] == ["Foo", "Bar", "Lay", "Odd", "Far"]
    )
    with pytest.raises(AttributeError):
        f.age_name = "x"
    with pytest.raises(AttributeError):
        f.header.version = 5


def test_filters_and_counts():
    f = demo()
    assert [o.name for o in f.objects_of_type(1)] == ["Foo", "Bar"]
    assert [o.name for o in f.objects_by_name("plSceneObject")] == ["Foo", "Bar"]
    assert f.objects_by_name("plsceneobject") == []
    assert f.objects_of_type(2) == []
    assert [o.name for o in f.objects_by_name("Unknown")] == ["Odd", "Far"]
    assert f.count_by_type() == {"plSceneObject": 2, "plLayer": 1, "Unknown": 2}


def test_object_properties_and_repr():
    foo, bar, lay, odd, far = demo().objects()
    assert (foo.name, foo.class_type, foo.class_name, foo.object_id, foo.location_sequence) == (
        "Foo",
        1,
        "plSceneObject",
        11,
        0x21,
    )
    assert repr(foo) == "PrpObject('Foo', class=0x0001/plSceneObject)"
    assert repr(far) == "PrpObject('Far', class=0xFFFF/Unknown)"
    assert lay.data == b"\x06\x00x" and lay.data_len == 3
    assert lay.data is not lay.data
    assert odd.data == b""
    assert foo is not demo().objects()[0]


def test_iterator_ends_and_stays_ended():
    f = demo()
    it = iter(f)
    assert iter(it) is it
    other = iter(f)
    assert [o.name for o in it] == ["Foo", "Bar", "Lay", "Odd", "Far"]
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)
    assert next(other).name == "Foo"


def test_objects_keep_the_page_alive():
    f = demo()
    objs = f.objects()
    it = iter(f)
    del f
    gc.collect()
    assert [o.data for o in objs][2] == b"\x06\x00x"
    assert next(it).name == "Foo"
    assert [o.name for o in it] == ["Bar", "Lay", "Odd", "Far"]
