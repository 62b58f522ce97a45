"""Views encode: to_bytes() gives the object's bytes back, and replace()
changes just the properties it is given, byte for byte elsewhere."""

import copy
import random
import sys
import types
from pathlib import Path

import lumivex
import pytest
from lumivex import _lumivex

from benchmarks import generate
from fixtures.builder import f32, i32, key_ref, u32
from fixtures.object_bodies import BODIES, layer_body, prp_object, scene_object_body
from fixtures.python_file_mod_bodies import counted, param, python_file_mod
from fixtures.responder_bodies import command, msg_base, responder, state

ROOT = Path(__file__).resolve().parent.parent
SAMPLES = sorted((ROOT / "samples").glob("*.prp"))
METHODS = _lumivex.decoder_methods


def key(name: str, class_type: int = 1, object_id: int = 7, **fields) -> lumivex.Key:
    fields = {
        "sequence": 0x5E0001,
        "flags": 0,
        "load_mask": 0xFF,
        "clone_id": 0,
        "player": 0,
    } | fields
    return lumivex.Key._from_fields(
        fields["sequence"],
        fields["flags"],
        fields["load_mask"],
        class_type,
        object_id,
        name.encode(),
        fields["clone_id"],
        fields["player"],
    )


def decoded(o: lumivex.PrpObject):
    """The object's view, or None where its bytes do not decode."""
    try:
        return getattr(o, METHODS[o.class_type])()
    except ValueError:
        return None


def fuzzed(body: bytes, rng: random.Random) -> bytes:
    data = bytearray(body)
    for _ in range(rng.randint(1, 4)):
        data[rng.randrange(2, len(data))] = rng.randrange(256)
    return bytes(data)


def all_views():
    """(where it comes from, view, object bytes) for every decodable object
    of the samples, of the benchmark's page, of the test bodies and of bodies
    with bytes changed at random."""
    for path in SAMPLES:
        for o in lumivex.PrpFile.load(str(path)):
            if o.class_type in METHODS and (view := decoded(o)) is not None:
                yield f"{path.name}:{o.name}", view, o.data
    seen: dict[int, int] = {}
    for o in generate.page_objects(quick=True):
        if o.class_type in METHODS and seen.get(o.class_type, 0) < 20:
            seen[o.class_type] = seen.get(o.class_type, 0) + 1
            view = decoded(prp_object(o.class_type, o.body))
            if view is not None:
                yield f"generated:{o.name}", view, o.body
    rng = random.Random(25)
    for class_type, method in METHODS.items():
        yield f"body:{method}", decoded(prp_object(class_type, BODIES[method])), BODIES[method]
        for i in range(30):
            body = fuzzed(BODIES[method], rng)
            if (view := decoded(prp_object(class_type, body))) is not None:
                yield f"fuzzed:{method}:{i}", view, body


VIEWS = list(all_views())
IDS = [where for where, _, _ in VIEWS]


def shown(value):
    """A value as compared: parameters by what they hold."""
    if isinstance(value, list):
        return [shown(item) for item in value]
    if isinstance(value, lumivex.PythonParam):
        return (value.id, value.kind, value.typed_value, value.param_type)
    return value


def properties(view) -> dict:
    return {
        name: shown(getattr(view, name))
        for name, member in vars(type(view)).items()
        if isinstance(member, types.GetSetDescriptorType) and name != "levels"
    }


def settable(view) -> list[str]:
    """The keywords replace() takes, from its signature."""
    signature = view.replace.__text_signature__
    return (
        [
            part.split("=")[0].strip()
            for part in signature.split("*,")[1].rstrip(")").split(",")
            if part.strip()
        ]
        if "*," in signature
        else []
    )


# A new value for each settable property.
NEW_VALUES = {
    "blend_flags": 0x1234,
    "shade_flags": 0,
    "misc_flags": 0xFFFFFFFF,
    "z_flags": 5,
    "uv_channel": 255,
    "opacity": 0.25,
    "preshade_color": [0.5, 0.25, 0.125, 1.0],
    "runtime_color": [1.0, 0.0, -1.0, 0.5],
    "ambient_color": [0.0, 0.0, 0.0, 0.0],
    "specular_color": [2.0, 3.0, 4.0, 5.0],
    "texture_key": key("NewTexture*1#0.hsm", 0x0004, 3, load_mask=0x21),
    "layer_keys": [key("L1", 0x0006), key("L2", 0x0006, 9, clone_id=1, player=2)],
    "coord_interface_key": None,
    "modifier_keys": [key("M1", 0x00A2)],
    "volume": 0.75,
    "is_3d": False,
    "auto_start": True,
    "looping": True,
    "min_distance": 12.0,
    "max_distance": -3.0,
    "sound_file_key": key("other.ogg", 0x0029),
    "mass": 2.5,
    "friction": 0.0,
    "restitution": 1.0,
    "cur_state": 1,
    "enabled": False,
    "python_file": "xOtherScript",
}


def new_value(view, name):
    """A value for name unlike the view's, or None where there is none to
    try: a flattened list takes as many keys as it has."""
    if name in ("draw_interface_keys", "reference_keys", "receiver_keys") and not isinstance(
        view, lumivex.PythonFileMod
    ):
        return [key(f"New{i}", k.class_type) for i, k in enumerate(getattr(view, name))]
    if name == "receiver_keys":
        return [key("R1"), key("R2")]
    if name == "params":
        return [p.replace(typed_value=p.typed_value) for p in view.params[::-1]]
    return NEW_VALUES[name]


def test_every_decoder_is_tried():
    assert {where.split(":")[1] for where in IDS if where.startswith("fuzzed")} == set(
        METHODS.values()
    )


@pytest.mark.parametrize(("where", "view", "data"), VIEWS, ids=IDS)
def test_to_bytes_gives_the_object_bytes(where, view, data):
    assert view.to_bytes() == data
    assert view.replace().to_bytes() == data


@pytest.mark.parametrize(("where", "view", "data"), VIEWS, ids=IDS)
def test_a_value_equal_to_the_shown_one_keeps_the_bytes(where, view, data):
    for name in settable(view):
        same = view.replace(**{name: getattr(view, name)})
        assert same.to_bytes() == data and same == view, name


@pytest.mark.parametrize(("where", "view", "data"), VIEWS, ids=IDS)
def test_a_change_reads_back_and_nothing_else_changes(where, view, data):
    before = properties(view)
    for name in settable(view):
        value = new_value(view, name)
        try:
            changed = view.replace(**{name: value})
        except ValueError as error:
            # A responder whose decoding stopped early has no trailer.
            assert "does not store" in str(error) and name in ("cur_state", "enabled")
            continue
        again = type(view)._decode(changed.to_bytes())
        assert again == changed and (changed != view) == (changed.to_bytes() != data), name
        after = properties(again)
        assert after.pop(name) == shown(value), name
        derived = {
            n for n in after if n.startswith(name.removesuffix("_key").removesuffix("_keys"))
        }
        derived |= {"sound_file"} if name == "sound_file_key" else set()
        expected = {n: v for n, v in before.items() if n != name and n not in derived}
        assert {n: v for n, v in after.items() if n in expected} == expected, name


def test_a_string_decoded_with_replacements_keeps_its_bytes():
    raw = b"Bad\xff\xfeName"
    body = python_file_mod(["R"], [param(1, 4, counted(raw)), param(2, 2, f32(float("nan")))])
    body = body.replace(b"xScript", b"xScr\xffpt")
    view = prp_object(0x00A2, body).as_python_file_mod()
    assert view.replace(python_file=view.python_file, params=view.params).to_bytes() == body
    nan = view.params[1]
    assert (
        view.replace(params=[view.params[0], nan.replace(typed_value=nan.typed_value)]).to_bytes()
        == body
    )


def test_a_whole_number_stored_for_a_float_keeps_its_bytes():
    from fixtures.object_bodies import sound_body

    body = sound_body(min_distance=16777217)
    view = prp_object(0x0049, body).as_sound()
    assert view.min_distance == 16777216.0
    assert view.replace(min_distance=16777216.0).to_bytes() == body
    assert view.replace(min_distance=16777218.0).min_distance == 16777218.0


def test_counted_lists_change_length():
    view = prp_object(0x0007, BODIES["as_material"]).as_material()
    assert view.replace(layer_keys=[]).layer_keys == []
    three = [key(f"L{i}", 0x0006) for i in range(3)]
    longer = view.replace(layer_keys=three)
    assert longer.layer_keys == three
    assert lumivex.Material._decode(longer.to_bytes()).layer_names == ["L0", "L1", "L2"]


@pytest.mark.parametrize(
    ("method", "name", "value"),
    [
        ("as_responder", "receiver_keys", [key("A"), key("B")]),
        ("as_physical", "reference_keys", [key("A"), key("B")]),
        (None, "draw_interface_keys", []),
    ],
)
def test_flattened_lists_keep_their_length(method, name, value):
    if method is None:
        # A scene object's drawable interface, none or one.
        view = decoded(prp_object(1, scene_object_body()))
    else:
        class_type = next(c for c, m in METHODS.items() if m == method)
        body = (
            responder(state(command(0x0254, msg_base(receivers=["R"]))))
            if name == "receiver_keys"
            else BODIES[method]
        )
        view = getattr(prp_object(class_type, body), method)()
    with pytest.raises(ValueError, match=f"{name} keeps its length"):
        view.replace(**{name: value})


def test_a_responder_that_stopped_early_has_no_trailer_to_set():
    body = responder(state(command(0x0254, msg_base(receivers=["R"]), b"")), trail=b"")
    view = prp_object(0x007C, body).as_responder()
    with pytest.raises(ValueError, match="does not store enabled"):
        view.replace(enabled=False)


@pytest.mark.parametrize(
    ("method", "name"),
    [
        ("as_layer", "name"),
        ("as_layer", "texture_name"),
        ("as_mipmap", "width"),
        ("as_mipmap", "height"),
        ("as_mipmap", "num_levels"),
        ("as_mipmap", "total_size"),
        ("as_mipmap", "pixel_data"),
        ("as_mipmap", "compression_type"),
        ("as_physical", "num_verts"),
        ("as_physical", "num_faces"),
        ("as_physical", "group"),
        ("as_responder", "num_states"),
        ("as_material", "layer_names"),
        ("as_python_file_mod", "name"),
        ("as_sound", "sound_file"),
        ("as_sound", "colour"),
        ("as_sound", "to_bytes"),
        ("as_sound", "\udc80"),
    ],
)
def test_what_cannot_be_set_is_a_type_error_naming_it(method, name):
    class_type = next(c for c, m in METHODS.items() if m == method)
    view = getattr(prp_object(class_type, BODIES[method]), method)()
    with pytest.raises(TypeError, match=f"'{name}'"):
        view.replace(**{name: 1})


@pytest.mark.parametrize(
    ("method", "changes", "error", "match"),
    [
        ("as_layer", {"opacity": "high"}, TypeError, "must be float, not str"),
        ("as_layer", {"opacity": True}, TypeError, "must be float"),
        ("as_layer", {"opacity": 1e39}, OverflowError, "too large for a 32-bit float"),
        ("as_layer", {"opacity": 10**400}, OverflowError, "'opacity' is too large for a 32-bit"),
        ("as_layer", {"preshade_color": [0, 0, 0, -(10**400)]}, OverflowError, "'preshade_color'"),
        ("as_layer", {"blend_flags": -1}, OverflowError, "blend_flags"),
        ("as_layer", {"blend_flags": 1 << 32}, OverflowError, "blend_flags"),
        ("as_layer", {"blend_flags": 1.0}, TypeError, "must be int"),
        ("as_layer", {"uv_channel": 256}, OverflowError, "at most 255"),
        ("as_layer", {"preshade_color": [1.0, 2.0, 3.0]}, ValueError, "4 floats"),
        ("as_layer", {"preshade_color": (1.0, 2.0, 3.0, "x")}, TypeError, "must be float"),
        ("as_layer", {"preshade_color": 1.0}, TypeError, "list of 4 floats"),
        ("as_layer", {"texture_key": "Stone"}, TypeError, "must be Key or None"),
        ("as_layer", {"texture_key": key("x" * 4096)}, ValueError, "too long"),
        ("as_material", {"layer_keys": [None]}, TypeError, "list of Key"),
        ("as_material", {"layer_keys": key("L")}, TypeError, "list of Key"),
        ("as_sound", {"is_3d": 1}, TypeError, "must be bool"),
        ("as_sound", {"min_distance": 0.5}, ValueError, "whole number"),
        ("as_sound", {"max_distance": 3e9}, ValueError, "whole number"),
        ("as_responder", {"cur_state": 256}, OverflowError, "at most 255"),
        ("as_python_file_mod", {"python_file": "x" * 4096}, ValueError, "too long"),
        # Reading would drop the NUL: the text would not come back.
        ("as_python_file_mod", {"python_file": "x\0"}, ValueError, "ending in a NUL"),
        ("as_python_file_mod", {"python_file": b"x"}, TypeError, "must be str"),
        ("as_python_file_mod", {"params": [1]}, TypeError, "list of PythonParam"),
    ],
)
def test_bad_values_are_refused_at_replace(method, changes, error, match):
    class_type = next(c for c, m in METHODS.items() if m == method)
    view = getattr(prp_object(class_type, BODIES[method]), method)()
    with pytest.raises(error, match=match):
        view.replace(**changes)


def test_replace_takes_keywords_only():
    view = prp_object(0x0006, layer_body()).as_layer()
    with pytest.raises(TypeError, match="no positional arguments"):
        view.replace(0.5)


def test_dunder_replace_and_copy_replace():
    view = prp_object(0x0006, layer_body()).as_layer()
    assert view.__replace__(opacity=0.5).opacity == 0.5
    if sys.version_info >= (3, 13):
        assert copy.replace(view, opacity=0.5).opacity == 0.5


@pytest.mark.parametrize(
    ("code", "data", "new"),
    [
        (1, i32(3), -(1 << 31)),
        (2, f32(1.0), 0.5),
        (3, u32(7), False),
        (4, counted("ab"), "a longer text"),
        (13, counted(""), "text"),
        (5, key_ref("K", 1), key("Other", 1)),
        (9, key_ref("K", 1), None),
        (24, b"", None),
    ],
)
def test_a_param_takes_a_value_of_its_kind(code, data, new):
    body = python_file_mod(params=[param(4, code, data)])
    view = prp_object(0x00A2, body).as_python_file_mod()
    (old,) = view.params
    changed = old.replace(typed_value=new)
    assert (changed.id, changed.kind, changed.typed_value) == (4, old.kind, new)
    again = view.replace(params=[changed, old])
    assert [(p.id, p.kind, p.typed_value) for p in again.params] == [
        (4, old.kind, new),
        (4, old.kind, old.typed_value),
    ]
    assert view.replace(params=[old]).to_bytes() == body


@pytest.mark.parametrize(
    ("code", "data", "new", "error"),
    [
        (1, i32(3), 1 << 31, OverflowError),
        (1, i32(3), True, TypeError),
        (1, i32(3), "3", TypeError),
        (3, u32(1), 1, TypeError),
        (4, counted("ab"), 3, TypeError),
        (5, key_ref("K", 1), "K", TypeError),
        (24, b"", 0, TypeError),
    ],
)
def test_a_param_refuses_a_value_of_another_kind(code, data, new, error):
    (old,) = (
        prp_object(0x00A2, python_file_mod(params=[param(4, code, data)]))
        .as_python_file_mod()
        .params
    )
    with pytest.raises(error, match="typed_value"):
        old.replace(typed_value=new)


def every_property_read(page: lumivex.PrpFile) -> None:
    """Reads every property of every view, the parameters' too."""
    for o in page:
        if o.class_type in METHODS and (view := decoded(o)) is not None:
            properties(view)


@pytest.mark.parametrize("path", SAMPLES, ids=[p.name for p in SAMPLES])
def test_building_after_reading_everything_changes_nothing(path):
    page = lumivex.PrpFile.load(str(path))
    every_property_read(page)
    assert lumivex.PageBuilder.from_page(page).build().to_bytes() == page.to_bytes()


def test_add_view_takes_the_pages_key_into_the_body():
    view = prp_object(0x0006, layer_body("Lamp")).as_layer()
    builder = lumivex.PageBuilder("Age", "Page", 77, flags=4)
    added = builder.add(view.replace(opacity=0.5))
    (o,) = builder.build()
    assert o.key == added
    assert (added.name, added.class_type, added.location_sequence, added.location_flags) == (
        "Lamp",
        6,
        77,
        4,
    )
    own = lumivex.Layer._decode(o.data)
    assert own.opacity == 0.5 and own.name == "Lamp"
    # The body's own key is the index's.
    assert o.data[2:].startswith(b"\x01\x00" + u32(77) + b"\x04\x00\x06\x00" + u32(1))
    with pytest.raises(ValueError, match="already holds a plLayer named 'Lamp'"):
        builder.add(view)


def test_set_view_replaces_the_body_of_an_object_of_its_class():
    page = lumivex.PrpFile.load(str(ROOT / "samples" / "Demo_District_Town.prp"))
    layer = next(o for o in page if o.class_type == 0x0006)
    material = next(o for o in page if o.class_type == 0x0007)
    builder = lumivex.PageBuilder.from_page(page)
    builder.set(layer, layer.as_layer().replace(opacity=0.125))
    with pytest.raises(
        ValueError, match=f"plLayer cannot replace the hsGMaterial '{material.name}'"
    ):
        builder.set(material, layer.as_layer())
    built = builder.build()
    assert built.find(layer.name, 0x0006)[0].as_layer().opacity == 0.125
    assert built.find(material.name, 0x0007)[0].data == material.data


@pytest.mark.parametrize(
    ("class_type", "method", "change"),
    [
        (0x0006, "as_layer", {"opacity": 0.125, "blend_flags": 9}),
        (0x0049, "as_sound", {"volume": 0.0, "looping": False}),
        (0x003F, "as_physical", {"mass": 7.5}),
    ],
)
def test_an_edit_of_the_same_size_changes_bytes_inside_the_object_only(class_type, method, change):
    before = lumivex.PrpFile.load(str(ROOT / "samples" / "Demo_District_Town.prp"))
    edited = before.objects_of_type(class_type)[0]
    builder = lumivex.PageBuilder.from_page(before)
    builder.set(edited, getattr(edited, method)().replace(**change))
    old, new = before.to_bytes(), builder.build().to_bytes()
    assert len(old) == len(new)
    start = old.index(edited.data)
    differing = [i for i, (a, b) in enumerate(zip(old, new, strict=True)) if a != b]
    assert differing
    assert all(start <= i < start + edited.data_len for i in differing)


def test_a_colour_emptied_while_it_is_read_is_read_as_given():
    # A number's __float__ runs while the list is read, and empties it.
    colour: list = []

    class Emptying(int):
        def __float__(self) -> float:
            colour.clear()
            return 0.5

    colour.extend([Emptying(1), 0.25, 0.125, 1.0])
    view = prp_object(0x0006, layer_body()).as_layer()
    assert view.replace(preshade_color=colour).preshade_color == [0.5, 0.25, 0.125, 1.0]


@pytest.mark.parametrize("is_3d", [False, True])
@pytest.mark.parametrize("looping", [False, True])
@pytest.mark.parametrize("auto_start", [False, True])
def test_flags_of_one_stored_word_change_together(is_3d, looping, auto_start):
    from fixtures.object_bodies import sound_body

    body = sound_body(properties=0xF0F0_F0F5)
    view = prp_object(0x0049, body).as_sound()
    flags = {"is_3d": is_3d, "looping": looping, "auto_start": auto_start}
    changed = view.replace(**flags)
    again = lumivex.SoundInfo._decode(changed.to_bytes())
    assert {name: getattr(again, name) for name in flags} == flags
    before = {name: getattr(view, name) for name in flags}
    assert changed.replace(**before).to_bytes() == body


SIGNALLING_NANS = [0x7F800001, 0xFFA00000, 0x7FBFFFFF]


@pytest.mark.parametrize("bits", SIGNALLING_NANS, ids=hex)
def test_a_signalling_nan_shown_keeps_its_bits(bits):
    # A signalling NaN shows as the quiet NaN of its payload.
    nan = u32(bits)
    body = layer_body(opacity=0.125, colors=range(16))
    body = body.replace(f32(0.125), nan).replace(f32(5.0), nan)
    view = prp_object(0x0006, body).as_layer()
    same = {"opacity": view.opacity, "runtime_color": view.runtime_color}
    assert view.replace(**same).to_bytes() == body
    params = python_file_mod(params=[param(1, 2, nan)])
    (stored,) = prp_object(0x00A2, params).as_python_file_mod().params
    again = stored.replace(typed_value=stored.typed_value)
    mod = prp_object(0x00A2, params).as_python_file_mod()
    assert mod.replace(params=[again]).to_bytes() == params
