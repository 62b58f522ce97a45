import math

import lumivex
import pytest

from fixtures.builder import Obj, f32, i32, key_ref, page, u32
from fixtures.python_file_mod_bodies import PYTHON_FILE_MOD, counted, param, python_file_mod

END = "failed to fill whole buffer"
HUGE = 0xFFFFFFFF


def decode(body: bytes) -> lumivex.PythonFileMod:
    page_bytes = page([Obj(PYTHON_FILE_MOD, "Mod", body)])
    return lumivex.PrpFile.from_bytes(page_bytes).objects()[0].as_python_file_mod()


def fails(body: bytes) -> None:
    with pytest.raises(ValueError) as caught:
        decode(body)
    assert str(caught.value) == END


def test_view():
    mod = decode(
        python_file_mod(["Door", None, "Book"], [param(7, 1, i32(3)), param(2, 24)], bit_words=[5])
    )
    assert (mod.name, mod.python_file, mod.receiver_names) == ("Mod", "xScript", ["Door", "Book"])
    assert [(p.id, p.param_type, p.value) for p in mod.params] == [
        (7, "Int(3)", "3"),
        (2, "None", "None"),
    ]
    assert repr(mod) == "PythonFileMod('Mod', file='xScript', 2 params)"
    assert repr(mod.params[0]) == "PythonParam(id=7, Int(3)=3)"
    assert mod.params[0] is not mod.params[0] and mod.receiver_names is not mod.receiver_names
    assert decode(python_file_mod(name=None)).name == ""
    for cls in (lumivex.PythonFileMod, lumivex.PythonParam):
        with pytest.raises(TypeError, match=f"No constructor defined for {cls.__name__}"):
            cls()


@pytest.mark.parametrize("flags, lists", [(0x20, {}), (0x50, {"first": ["x"], "second": ["y"]})])
def test_synched_prefix_second_list_follows_bit_0x40(flags, lists):
    assert decode(python_file_mod(flags=flags, **lists)).python_file == "xScript"


KEY = key_ref(
    'L\t"1"', 0xA2, 42, location_sequence=0x10021, location_flags=4, clone_id=3, clone_player_id=7
)
KEY_DEBUG = 'Key(Some(Uoid(S:0x10021 F:0x4 T:0x00a2 I:42 N:"L\\t\\"1\\"" C:[7,3])))'
FLOATS = [
    (1.0, "1.0", "1"),
    (-0.5, "-0.5", "-0.5"),
    (0.1, "0.1", "0.1"),
    (-0.0, "-0.0", "-0"),
    (123456.79, "123456.79", "123456.79"),
    (0.0001, "0.0001", "0.0001"),
    (1e-7, "1e-7", "0.0000001"),
    (-2.5e-6, "-2.5e-6", "-0.0000025"),
    (1e15, "1000000000000000.0", "1000000000000000"),
    (1e16, "1e16", "10000000000000000"),
    (1.5e16, "1.5e16", "15000000000000000"),
    (3.4028235e38, "3.4028235e38", "34028235" + "0" * 31),
    (1e-45, "1e-45", "0." + "0" * 44 + "1"),
    (math.inf, "inf", "inf"),
    (-math.inf, "-inf", "-inf"),
    (math.nan, "NaN", "NaN"),
]


@pytest.mark.parametrize(
    "type_code, data, param_type, value",
    [
        (1, i32(-3), "Int(-3)", "-3"),
        *((2, f32(v), f"Float({debug})", text) for v, debug, text in FLOATS),
        (3, u32(2), "Bool(true)", "true"),
        (3, u32(0), "Bool(false)", "false"),
        (4, counted("abc"), 'String("abc")', "abc"),
        (13, counted("abc"), 'String("abc")', "abc"),
        (4, u32(0), 'String("")', ""),
        (4, counted(""), 'String("")', ""),
        (4, counted(b"a\xffb"), 'String("a\ufffdb")', "a\ufffdb"),
        (
            13,
            counted('q"\\\t\r\n\0\x07é'),
            'String("q\\"\\\\\\t\\r\\n\\0\\u{7}é")',
            'q"\\\t\r\n\0\x07é',
        ),
        (24, b"", "None", "None"),
        (5, key_ref(None), "Key(None)", "None"),
        (5, key_ref("O", 1), 'Key(Some(Uoid(S:0x0 F:0x0 T:0x0001 I:0 N:"O" C:[0,0])))', "O"),
        *((code, KEY, KEY_DEBUG, 'L\t"1"') for code in (*range(5, 13), *range(14, 24))),
    ],
)
def test_type_codes_and_renderings(type_code, data, param_type, value):
    (only,) = decode(python_file_mod(params=[param(7, type_code, data)])).params
    assert (only.id, only.param_type, only.value) == (7, param_type, value)
    assert repr(only) == f"PythonParam(id=7, {param_type}={value})"


@pytest.mark.parametrize("type_code", [0, 25, HUGE])
def test_unknown_type_code_leaves_its_data_to_the_next_parameter(type_code):
    # The counted string's length becomes the next id, its text the next code.
    params = decode(
        python_file_mod(params=[param(1, type_code), param(2, 1, i32(5)) + counted("xyz")])
    )
    assert [(p.id, p.param_type) for p in params.params] == [(1, "None"), (2, "Int(5)")]
    params = decode(python_file_mod(params=[param(1, type_code) + counted("xyz"), b""]))
    assert [(p.id, p.param_type) for p in params.params] == [(1, "None"), (4, "None")]


@pytest.mark.parametrize(
    "body",
    [
        python_file_mod(params=[param(1, 4, counted("abc", terminator=b""))]),
        python_file_mod()[:-8] + u32(HUGE) + b"\0\0\0",
        python_file_mod()[:-4] + u32(HUGE) + param(1, 24),
        python_file_mod(params=[param(1, 4, u32(HUGE) + b"abc")]),
        python_file_mod()[:-21] + u32(HUGE) + u32(0) * 5,
    ],
    ids=["terminator", "receivers", "params", "string", "bit vector"],
)
def test_missing_bytes_and_huge_counts(body):
    fails(body)


VALID = python_file_mod(
    ["R", None],
    [
        param(1, 1, i32(1)),
        param(2, 4, counted("ab")),
        param(3, 5, key_ref("K")),
        param(4, 2, f32(1)),
    ],
    flags=0x50,
    first=["f"],
    second=["s"],
    bit_words=[3],
)


@pytest.mark.parametrize("cut", range(len(VALID)))
def test_truncated_at_every_offset(cut):
    fails(VALID[:cut])


@pytest.mark.parametrize(
    "type_code, data, kind, typed_value",
    [
        (1, i32(-3), "Int", -3),
        (2, f32(0.5), "Float", 0.5),
        (3, u32(2), "Bool", True),
        (3, u32(0), "Bool", False),
        (4, counted(b"a\xffb"), "String", "a\ufffdb"),
        (13, counted(""), "String", ""),
        (24, b"", "None", None),
        (5, key_ref(None), "Key", None),
    ],
)
def test_kind_and_typed_value(type_code, data, kind, typed_value):
    (only,) = decode(python_file_mod(params=[param(7, type_code, data)])).params
    assert only.kind == kind
    assert only.typed_value == typed_value and type(only.typed_value) is type(typed_value)
    # The kind is the name param_type gives the value.
    assert only.param_type.startswith(kind)


def test_typed_value_of_a_key_is_a_key():
    (only,) = decode(python_file_mod(params=[param(7, 5, key_ref("O", 1, 9))])).params
    key = only.typed_value
    assert isinstance(key, lumivex.Key)
    assert (key.name, key.class_type, key.object_id) == ("O", 1, 9)


NAN_BITS = b"\x01\x00\xc0\x7f"


@pytest.mark.parametrize(
    "a, b, equal",
    [
        (param(7, 4, counted("ab")), param(7, 4, counted("ab")), True),
        (param(7, 4, counted("ab")), param(8, 4, counted("ab")), False),
        # Another type code of the same kind is another parameter.
        (param(7, 4, counted("ab")), param(7, 13, counted("ab")), False),
        (param(7, 2, f32(0.0)), param(7, 2, f32(-0.0)), False),
        (param(7, 2, NAN_BITS), param(7, 2, NAN_BITS), True),
        (param(7, 5, key_ref("O", 1, 9)), param(7, 5, key_ref("O", 1, 9)), True),
        (param(7, 5, key_ref("O", 1, 9)), param(7, 5, key_ref("O", 1, 8)), False),
        (param(7, 24), param(7, 24), True),
    ],
)
def test_parameters_that_store_the_same_bytes_are_equal(a, b, equal):
    (first,), (second,) = (decode(python_file_mod(params=[p])).params for p in (a, b))
    assert (first == second, first != second) == (equal, not equal)
    assert (hash(first) == hash(second)) or not equal
    assert first == first.replace(typed_value=first.typed_value)
    assert first != "ab"
