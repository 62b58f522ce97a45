"""Bodies of scene objects, layers, materials, mipmaps and sounds, and a way
to get a PrpObject holding one."""

from __future__ import annotations

import lumivex
from builder import Obj, f32, i16, i32, key_ref, object_prefix, page, synched, u8, u16, u32
from physical_bodies import PHYSICAL, physical, uncooked
from python_file_mod_bodies import PYTHON_FILE_MOD, counted, param, python_file_mod
from responder_bodies import RESPONDER, REST, command, responder, state

SCENE_OBJECT, MIPMAP, LAYER, MATERIAL, SOUND = 0x0001, 0x0004, 0x0006, 0x0007, 0x0049


def prp_object(class_type: int, body: bytes, **key) -> lumivex.PrpObject:
    """The one object of a page whose data is `body`."""
    data = page([Obj(class_type, "Obj", body, **key)])
    return lumivex.PrpFile.from_bytes(data).objects()[0]


def scene_object_body(
    name="Tree", flags=0, draw="TreeDraw", coord="TreeCoord", keys=(), modifiers=(), **lists
) -> bytes:
    out = object_prefix(SCENE_OBJECT, name, flags, **lists)
    out += (
        key_ref(draw, 0x4C, clone_id=2)
        + key_ref("Sim", 0x1C)
        + key_ref(coord, 0x15, load_mask=0x31)
    )
    out += key_ref(None)
    out += u32(len(keys)) + b"".join(key_ref(k) for k in keys)
    out += u32(len(modifiers)) + b"".join(key_ref(k, 0x37) for k in modifiers)
    return out + key_ref("Last")


def layer_body(
    name="Layer",
    texture="Stone*1#0.hsm",
    *,
    class_index=LAYER,
    flags=0,
    transform=False,
    uvw=0,
    opacity=1.0,
    **lists,
) -> bytes:
    out = i16(class_index) + key_ref(name, LAYER) + synched(flags, **lists) + key_ref("Under")
    out += u32(0x11) + u32(0xDEAD) + u32(0x22) + u32(0x33) + u32(0x44)
    out += (u8(1) + b"".join(f32(-i) for i in range(16))) if transform else u8(0)
    # The four colours, 0.0 to 15.0 in stored order.
    out += b"".join(f32(i) for i in range(16)) + u32(uvw) + f32(opacity) + u32(7) + u32(8)
    return out + key_ref(texture, MIPMAP)


def material_body(names=("Base", "Detail"), *, count=None, class_index=MATERIAL, flags=0, **lists):
    out = i16(class_index) + key_ref("Mat", MATERIAL) + synched(flags, **lists)
    out += u32(1) + u32(2) + u32(len(names) if count is None else count) + u32(3)
    return out + b"".join(key_ref(n, LAYER) for n in names)


def mipmap_body(
    name="Stone",
    *,
    version=2,
    compression=0,
    info=b"\x03",
    width=4,
    height=2,
    total_size=None,
    levels=3,
    pixels=bytes(range(12)),
) -> bytes:
    out = i16(MIPMAP) + key_ref(name, MIPMAP) + u8(version) + u8(9) + u8(9) + u16(9)
    out += u8(compression) + info + u32(5) + u32(6) + u32(width) + u32(height) + u32(0)
    return out + u32(len(pixels) if total_size is None else total_size) + u8(levels) + pixels


def sound_body(
    name="Wind",
    buffer="wind.ogg",
    *,
    flags=0,
    properties=0x0D,
    volume=0.5,
    min_distance=5,
    max_distance=100,
    **lists,
) -> bytes:
    out = object_prefix(SOUND, name, flags, **lists) + u8(1) + bytes(range(8))
    out += i32(max_distance) + i32(min_distance) + u32(9) + f32(volume) + bytes(range(16))
    out += u32(properties) + u8(2) + u8(3) + bytes(range(25)) + bytes(range(25, 50))
    return out + key_ref("SoftRegion") + key_ref(buffer, 0x29)


# A valid body for each decoding method, with every optional part present.
DECODERS = {
    "as_scene_object": (SCENE_OBJECT, scene_object_body(flags=0x50, first=["a"], second=["b"])),
    "as_mipmap": (MIPMAP, mipmap_body(compression=1, info=b"\x01\x02", pixels=b"")),
    "as_material": (MATERIAL, material_body(("Base", None, "Top"), flags=0x40, second=["b"])),
    "as_layer": (LAYER, layer_body(transform=True, flags=0x10, first=["a"])),
    "as_python_file_mod": (
        PYTHON_FILE_MOD,
        python_file_mod(
            ["Door", None],
            [
                param(1, 1, i32(3)),
                param(2, 4, counted("ab")),
                param(3, 5, key_ref("K")),
                param(4, 2, f32(1)),
            ],
            bit_words=[5],
        ),
    ),
    "as_responder": (
        RESPONDER,
        responder(state(*(command(class_id) for class_id in sorted(REST)))),
    ),
    "as_physical": (PHYSICAL, physical(uncooked(4, [(0, 1, 2), (1, 2, 3)]), bounds=4)),
    "as_sound": (SOUND, sound_body(flags=0x50, first=["a"], second=["b"])),
}
