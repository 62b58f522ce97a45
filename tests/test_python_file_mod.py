import math

import lumivex
import pytest
from builder import Obj, f32, i32, key_ref, page, u32
from python_file_mod_bodies import PYTHON_FILE_MOD, counted, param, python_file_mod

END = "failed to fill whole buffer"
HUGE = 0xFFFFFFFF


def decode(body: bytes) -> lumivex.PythonFileMod:
    objects = lumivex.PrpFile.from_bytes(page([Obj(PYTHON_FILE_MOD, "Mod", body)])).objects()
    return objects[0].as_python_file_mod()


def fails(body: bytes) -> None:
    with pytest.raises(ValueError) as caught:
        decode(body)
    assert str(caught.value) == END


def single(type_code: int, data: bytes) -> lumivex.PythonParam:
    (only,) = decode(python_file_mod(params=[param(7, type_code, data)])).params
    return only


def test_view():
    mod = decode(
        python_file_mod(
            "xLinkingBook",
            ["Door", None, "Book"],
            [param(1, 1, i32(3)), param(2, 24)],
            bit_words=[5, 6],
        )
    )
    assert (mod.name, mod.python_file, mod.receiver_names) == (
        "Mod",
        "xLinkingBook",
        ["Door", "Book"],
    )
    assert [(p.id, p.param_type, p.value) for p in mod.params] == [
        (1, "Int(3)", "3"),
        (2, "None", "None"),
    ]
    assert repr(mod) == "PythonFileMod('Mod', file='xLinkingBook', 2 params)"
    assert repr(mod.params[0]) == "PythonParam(id=1, Int(3)=3)"
    assert mod.params[0] is not mod.params[0]
    assert mod.receiver_names is not mod.receiver_names


def test_absent_own_key_and_classes_without_constructor():
    assert decode(python_file_mod(name=None)).name == ""
    for cls in (lumivex.PythonFileMod, lumivex.PythonParam):
        with pytest.raises(TypeError, match=f"No constructor defined for {cls.__name__}"):
            cls()


@pytest.mark.parametrize(
    "flags, lists",
    [(0x20, {}), (0x40, {"second": ["a"]}), (0x50, {"first": ["x", "y"], "second": ["z"]})],
)
def test_synched_prefix_second_list_follows_bit_0x40(flags, lists):
    assert decode(python_file_mod(flags=flags, **lists)).python_file == "xScript"


@pytest.mark.parametrize(
    "data, param_type, value",
    [
        (f32(1.0), "Float(1.0)", "1"),
        (f32(0.5), "Float(0.5)", "0.5"),
        (f32(-0.5), "Float(-0.5)", "-0.5"),
        (f32(0.1), "Float(0.1)", "0.1"),
        (f32(-0.0), "Float(-0.0)", "-0"),
        (f32(0.0), "Float(0.0)", "0"),
        (f32(123456.79), "Float(123456.79)", "123456.79"),
        (f32(0.0001), "Float(0.0001)", "0.0001"),
        (f32(1e-5), "Float(1e-5)", "0.00001"),
        (f32(1e-7), "Float(1e-7)", "0.0000001"),
        (f32(-2.5e-6), "Float(-2.5e-6)", "-0.0000025"),
        (f32(1e15), "Float(1000000000000000.0)", "1000000000000000"),
        (f32(1e16), "Float(1e16)", "10000000000000000"),
        (f32(1.5e16), "Float(1.5e16)", "15000000000000000"),
        (f32(3.4028235e38), "Float(3.4028235e38)", "340282350000000000000000000000000000000"),
        (f32(1e-45), "Float(1e-45)", "0." + "0" * 44 + "1"),
        (f32(math.inf), "Float(inf)", "inf"),
        (f32(-math.inf), "Float(-inf)", "-inf"),
        (f32(math.nan), "Float(NaN)", "NaN"),
    ],
)
def test_float_renderings(data, param_type, value):
    p = single(2, data)
    assert (p.param_type, p.value) == (param_type, value)


KEY = key_ref(
    'Lamp\t"1"',
    0x00A2,
    42,
    location_sequence=0x10021,
    location_flags=4,
    clone_id=3,
    clone_player_id=7,
)
KEY_DEBUG = 'Key(Some(Uoid(S:0x10021 F:0x4 T:0x00a2 I:42 N:"Lamp\\t\\"1\\"" C:[7,3])))'


@pytest.mark.parametrize(
    "type_code, data, param_type, value",
    [
        (1, i32(-3), "Int(-3)", "-3"),
        (1, u32(0x7FFFFFFF), "Int(2147483647)", "2147483647"),
        (3, u32(2), "Bool(true)", "true"),
        (3, u32(0), "Bool(false)", "false"),
        (4, counted("abc"), 'String("abc")', "abc"),
        (13, counted("abc"), 'String("abc")', "abc"),
        (4, u32(0), 'String("")', ""),
        (4, u32(1) + b"\0", 'String("")', ""),
        (4, counted(b"a\xffb"), 'String("a\ufffdb")', "a\ufffdb"),
        (
            13,
            counted('q"\\\t\r\n\0\x07é'),
            'String("q\\"\\\\\\t\\r\\n\\0\\u{7}é")',
            'q"\\\t\r\n\0\x07é',
        ),
        (24, b"", "None", "None"),
        (5, key_ref(None), "Key(None)", "None"),
        (5, key_ref("Obj", 1), 'Key(Some(Uoid(S:0x0 F:0x0 T:0x0001 I:0 N:"Obj" C:[0,0])))', "Obj"),
        *[(code, KEY, KEY_DEBUG, 'Lamp\t"1"') for code in (*range(5, 13), *range(14, 24))],
    ],
)
def test_type_codes(type_code, data, param_type, value):
    p = single(type_code, data)
    assert (p.id, p.param_type, p.value) == (7, param_type, value)
    assert repr(p) == f"PythonParam(id=7, {param_type}={value})"


@pytest.mark.parametrize("type_code", [0, 25, 1000, HUGE])
def test_unknown_type_code_reads_nothing_more(type_code):
    params = decode(python_file_mod(params=[param(1, type_code), param(2, 1, i32(5))])).params
    assert [(p.id, p.param_type) for p in params] == [(1, "None"), (2, "Int(5)")]


def test_unknown_type_code_leaves_its_data_to_the_next_parameter():
    # The string's length becomes the next id and its text the next type code.
    body = python_file_mod(params=[param(1, 25) + counted("xyz")], param_count=2)
    params = decode(body).params
    assert [(p.id, p.param_type) for p in params] == [(1, "None"), (4, "None")]


def test_counted_string_without_terminator():
    fails(python_file_mod(params=[param(1, 4, counted("abc", terminator=False))]))


@pytest.mark.parametrize(
    "body",
    [
        python_file_mod(receiver_count=HUGE) + b"\0\0\0",
        python_file_mod(param_count=HUGE) + param(1, 24),
        python_file_mod(params=[param(1, 4, u32(HUGE) + b"abc")]),
        python_file_mod(bit_words=[1])[:25] + u32(HUGE) + u32(0) * 4,
    ],
    ids=["receivers", "params", "string", "bit vector"],
)
def test_huge_counts_with_little_data(body):
    fails(body)


VALID = python_file_mod(
    "xS",
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
