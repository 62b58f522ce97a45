"""References as keys: the Key class, every decoder's references beside its
names, and an age that resolves keys across its pages."""

import pickle

import lumivex
import pytest

from fixtures.builder import Obj, f32, i16, key_ref, page, u32
from fixtures.object_bodies import (
    LAYER,
    MATERIAL,
    layer_body,
    material_body,
    prp_object,
    scene_object_body,
    sound_body,
)
from fixtures.physical_bodies import PHYSICAL, physical
from fixtures.python_file_mod_bodies import PYTHON_FILE_MOD, param, python_file_mod
from fixtures.responder_bodies import RESPONDER, command, msg_base, responder, state


@pytest.mark.parametrize(
    "fields,shown",
    [
        (
            dict(class_type=0xABCD, object_id=2**32 - 1, location_sequence=2**32 - 1),
            'Uoid(S:0xffffffff F:0xffff T:0xabcd I:4294967295 N:"K\\u{7f}" C:[4294967295,65535])',
        ),
        (
            dict(class_type=0x0A, object_id=0, location_sequence=0x10),
            'Uoid(S:0x10 F:0xffff T:0x000a I:0 N:"K\\u{7f}" C:[4294967295,65535])',
        ),
    ],
)
def test_a_keys_repr_shows_each_field_at_its_widest(fields, shown):
    reference = key_ref(
        "K\x7f", location_flags=0xFFFF, clone_id=0xFFFF, clone_player_id=2**32 - 1, **fields
    )
    view = prp_object(1, scene_object_body(coord=reference)).as_scene_object()
    assert repr(view.coord_interface_key) == shown


def test_key_fields_equality_and_repr():
    data = page(
        [Obj(6, "Lamp", b"\x06\x00", object_id=7, location_sequence=0x5E0001, load_mask=0x12)]
    )
    obj = lumivex.PrpFile.from_bytes(data).objects()[0]
    key = obj.key
    assert (key.location_sequence, key.load_mask, key.class_type, key.class_name) == (
        0x5E0001,
        0x12,
        6,
        "plLayer",
    )
    assert (key.object_id, key.name, key.clone_id, key.clone_player_id) == (7, "Lamp", 0, 0)
    assert repr(key) == 'Uoid(S:0x5e0001 F:0x0 T:0x0006 I:7 N:"Lamp" C:[0,0])'
    again = lumivex.PrpFile.from_bytes(data).objects()[0].key
    assert key == again and hash(key) == hash(again) and key is not again
    other = lumivex.PrpFile.from_bytes(page([Obj(6, "Lamp", b"\x06\x00", object_id=8)])).objects()[
        0
    ]
    assert key != other.key and key != "Lamp"
    with pytest.raises(TypeError):
        lumivex.Key()
    with pytest.raises(AttributeError):
        key.name = "x"
    assert pickle.loads(pickle.dumps(key)) == key


def test_a_key_reference_and_the_index_key_agree():
    # The same record stored as a reference and as the index's key.
    ref = key_ref("Stone", 4, 3, location_sequence=9, load_mask=0x21, clone_id=2, clone_player_id=5)
    layer = prp_object(LAYER, layer_body(texture=None)[:-1] + ref).as_layer()
    texture = layer.texture_key
    index = (
        lumivex.PrpFile.from_bytes(
            page(
                [
                    Obj(
                        4,
                        "Stone",
                        b"",
                        object_id=3,
                        location_sequence=9,
                        load_mask=0x21,
                        clone_id=2,
                        clone_player_id=5,
                    )
                ]
            )
        )
        .objects()[0]
        .key
    )
    assert texture == index
    assert repr(texture) == 'Uoid(S:0x9 F:0x0 T:0x0004 I:3 N:"Stone" C:[5,2])'
    assert layer.texture_name == "Stone"


def keys(values):
    return [(key.name, key.class_type) for key in values]


def test_views_show_keys_beside_names():
    scene = prp_object(1, scene_object_body(modifiers=["A", None, "B"])).as_scene_object()
    assert keys(scene.draw_interface_keys) == [("TreeDraw", 0x4C)]
    assert scene.coord_interface_key.name == scene.coord_interface_name == "TreeCoord"
    assert keys(scene.modifier_keys) == [("A", 0x37), ("B", 0x37)]
    assert [k.name for k in scene.modifier_keys] == scene.modifier_names
    material = prp_object(MATERIAL, material_body(("Base", None, "Top"))).as_material()
    assert [k.name for k in material.layer_keys] == material.layer_names == ["Base", "Top"]
    assert prp_object(LAYER, layer_body(texture=None)).as_layer().texture_key is None
    sound = prp_object(0x49, sound_body()).as_sound()
    assert (sound.sound_file_key.name, sound.sound_file_key.class_type) == ("wind.ogg", 0x29)
    mod = prp_object(
        PYTHON_FILE_MOD, python_file_mod(["Door", None, "Gate"], [])
    ).as_python_file_mod()
    assert [k.name for k in mod.receiver_keys] == mod.receiver_names == ["Door", "Gate"]


def test_every_reference_is_listed_with_its_field():
    scene = prp_object(1, scene_object_body(keys=["G"], modifiers=["A", None, "B"]))
    assert [(field, key.name) for field, key in scene.references()] == [
        ("draw_interface_keys[0]", "TreeDraw"),
        ("second_interface", "Sim"),
        ("coord_interface_key", "TreeCoord"),
        ("first_key_list[0]", "G"),
        ("modifier_keys[0]", "A"),
        ("modifier_keys[2]", "B"),
        ("last_key", "Last"),
    ]
    mod = prp_object(
        PYTHON_FILE_MOD,
        python_file_mod(
            ["Door"], [param(1, 1, u32(3)), param(2, 5, key_ref("K")), param(3, 6, key_ref(None))]
        ),
    )
    assert [(field, key.name) for field, key in mod.references()] == [
        ("receiver_keys[0]", "Door"),
        ("params[1]", "K"),
    ]
    resp = prp_object(
        RESPONDER, responder(state(command(0x0306, msg_base("S", ["R1", None, "R2"]))))
    )
    assert [(field, key.name) for field, key in resp.references()] == [
        ("states[0].commands[0].receivers[0]", "R1"),
        ("states[0].commands[0].receivers[2]", "R2"),
    ]
    assert keys(resp.as_responder().receiver_keys) == [("R1", 1), ("R2", 1)]
    box = f32(1) * 6
    assert [(f, k.name) for f, k in prp_object(PHYSICAL, physical(box)).references()] == [
        ("reference_keys[0]", "Sub")
    ]
    # Classes no decoder is for hold no references that lumivex reads.
    assert prp_object(0x4C, b"\x4c\x00garbage").references() == []


def test_references_of_a_damaged_object_fail_like_its_decode():
    obj = prp_object(1, scene_object_body()[:20])
    with pytest.raises(ValueError, match="failed to fill whole buffer"):
        obj.references()


# --- an age ---------------------------------------------------------------

SEQ = {"Town": 0x5E0001, "Garden": 0x5E0002}


def ref(name, class_type, page_name, object_id=1):
    return key_ref(name, class_type, object_id, location_sequence=SEQ[page_name])


def material(name, *layer_refs):
    body = i16(MATERIAL) + key_ref(name, MATERIAL) + u32(0) + u32(0) + u32(0)
    return body + u32(len(layer_refs)) + u32(0) + b"".join(layer_refs)


def layer(name, texture_ref):
    return layer_body(name, texture=None)[:-1] + texture_ref


def write_age(folder, pages, listed=None, age="Demo"):
    lines = [f"Page={name},{SEQ[name] & 0xFFFF}" for name in (listed or pages)]
    (folder / f"{age}.age").write_text("SequencePrefix=94\n" + "\n".join(lines) + "\n")
    for name, objects in pages.items():
        data = page(objects, age=age, page_name=name, sequence_number=SEQ[name])
        (folder / f"{age}_District_{name}.prp").write_bytes(data)
    return folder / f"{age}.age"


def demo_age(folder):
    town = [
        Obj(4, "Stone", b"\x04\x00", object_id=1, location_sequence=SEQ["Town"]),
        Obj(
            6,
            "StoneLayer",
            layer("StoneLayer", ref("Stone", 4, "Town")),
            object_id=1,
            location_sequence=SEQ["Town"],
        ),
    ]
    garden = [
        Obj(
            MATERIAL,
            "Hedge",
            material(
                "Hedge",
                ref("StoneLayer", 6, "Town"),
                key_ref("Far", 6, 1, location_sequence=0x10001),
            ),
            object_id=1,
            location_sequence=SEQ["Garden"],
        ),
    ]
    return write_age(folder, {"Town": town, "Garden": garden})


def test_age_pages_objects_and_resolution(tmp_path):
    age = lumivex.Age.open(demo_age(tmp_path))
    assert (age.name, list(age.pages)) == ("Demo", ["Town", "Garden"])
    assert isinstance(age.pages["Town"], lumivex.PrpFile)
    assert age.pages["Town"] is age.pages["Town"]
    assert [o.name for o in age.objects()] == ["Stone", "StoneLayer", "Hedge"]
    hedge = age.pages["Garden"].objects()[0]
    first, second = hedge.as_material().layer_keys
    assert age.resolve(first) == age.pages["Town"].objects()[1]
    assert age.resolve(second) is None
    assert [
        (r.source.name, r.field, r.key.name, r.target and r.target.name) for r in age.references()
    ] == [
        ("StoneLayer", "first_key", "Under", None),
        ("StoneLayer", "texture_key", "Stone", "Stone"),
        ("Hedge", "layer_keys[0]", "StoneLayer", "StoneLayer"),
        ("Hedge", "layer_keys[1]", "Far", None),
    ]


def test_a_missing_page_is_a_marker_with_its_reason(tmp_path):
    path = demo_age(tmp_path)
    (tmp_path / "Demo_District_Garden.prp").unlink()
    age = lumivex.Age.open(path)
    missing = age.pages["Garden"]
    assert isinstance(missing, lumivex.age.MissingPage)
    garden = tmp_path / "Demo_District_Garden.prp"
    assert missing.reason == f'Failed to read "{garden}": No such file or directory'
    assert missing.path == str(tmp_path / "Demo_District_Garden.prp")
    assert [o.name for o in age.objects()] == ["Stone", "StoneLayer"]
    with pytest.raises(KeyError):
        age.pages["Cellar"]
