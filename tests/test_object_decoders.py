"""What every object decoder shares: exact end-of-data failures, fresh
decodes, the range test, and no crash on another class's bytes."""

import pytest

from fixtures.builder import i16, key_record, key_ref, safe_string, u8
from fixtures.object_bodies import (
    DECODERS,
    LAYER,
    MATERIAL,
    layer_body,
    material_body,
    prp_object,
)


@pytest.mark.parametrize(
    ("method", "cut"),
    [
        (method, cut)
        for method, (_, body) in DECODERS.items()
        # A responder cut short stops early without failing; its own tests say how.
        if method != "as_responder"
        for cut in range(len(body))
    ],
)
def test_every_truncation_fails_at_the_end_of_data(method, cut):
    class_type, body = DECODERS[method]
    obj = prp_object(class_type, body[:cut])
    with pytest.raises(ValueError, match="^failed to fill whole buffer$"):
        getattr(obj, method)()
    assert obj.data == body[:cut]


@pytest.mark.parametrize("method", DECODERS)
def test_whole_body_decodes_afresh_each_time(method):
    class_type, body = DECODERS[method]
    obj = prp_object(class_type, body + b"trailing bytes are ignored")
    first, second = getattr(obj, method)(), getattr(obj, method)()
    assert first is not second and repr(first) == repr(second)


@pytest.mark.parametrize("method", DECODERS)
@pytest.mark.parametrize("other", DECODERS)
def test_other_class_bytes_give_a_view_or_a_value_error(method, other):
    class_type, body = DECODERS[other]
    for data in (body, body[:7], b"\xff" * 64, bytes(64)):
        try:
            getattr(prp_object(class_type, data), method)()
        except ValueError:
            pass


@pytest.mark.parametrize("method", DECODERS)
def test_data_outside_the_page(method):
    class_type, body = DECODERS[method]
    with pytest.raises(OSError, match="^Object data not found$"):
        getattr(prp_object(class_type, body, data_len=1 << 20), method)()


# A name in each form a stored string may take, and the text it reads as.
STORED_NAMES = {
    "inverted": (safe_string("Lamp"), "Lamp"),
    "plain": (safe_string("Lamp", inverted=False), "Lamp"),
    "terminated": (safe_string("Lamp", nul=True), "Lamp"),
    "plain terminated": (safe_string("Lamp", inverted=False, nul=True), "Lamp"),
    "other top bits": (safe_string("Lamp", top=0x1), "Lamp"),
    "inner NUL": (safe_string("La\0mp"), "La\0mp"),
    "empty": (safe_string(""), ""),
    "a NUL alone": (safe_string("", nul=True), ""),
    "not ASCII": (safe_string("Lämpchen"), "Lämpchen"),
    "not UTF-8": (safe_string(b"L\xe4mp"), "L\ufffdmp"),
    "control characters": (safe_string("\x1b\x7f\x01"), "\x1b\x7f\x01"),
}


@pytest.mark.parametrize("stored", STORED_NAMES)
def test_names_read_as_text_in_each_stored_form(stored):
    name_bytes, text = STORED_NAMES[stored]
    ref = u8(1) + key_record(class_type=LAYER, name_bytes=name_bytes)
    material = prp_object(MATERIAL, material_body([ref, ref, None]))
    assert material.as_material().layer_names == [text, text]
    layer = prp_object(LAYER, layer_body(texture=ref)).as_layer()
    assert layer.texture_name == text and layer.texture_key.name == text
    after_own_key = layer_body()[len(i16(LAYER) + key_ref("Layer", LAYER)) :]
    assert prp_object(LAYER, i16(LAYER) + ref + after_own_key).as_layer().name == text
