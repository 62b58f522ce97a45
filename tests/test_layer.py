import math

import pytest

from fixtures.builder import i16
from fixtures.object_bodies import LAYER, layer_body, prp_object


def layer(**kw):
    return prp_object(LAYER, layer_body(**kw)).as_layer()


@pytest.mark.parametrize("transform", [False, True])
def test_layer_fields(transform):
    view = layer(
        transform=transform, uvw=0x10002, opacity=0.25, flags=0x50, first=["a"], second=["b"]
    )
    assert (view.name, view.texture_name) == ("Layer", "Stone*1#0.hsm")
    assert (view.blend_flags, view.shade_flags, view.z_flags, view.misc_flags) == (
        0x11,
        0x22,
        0x33,
        0x44,
    )
    assert (view.uv_channel, view.opacity) == (2, 0.25)
    assert view.preshade_color == [0.0, 1.0, 2.0, 3.0]
    assert view.runtime_color == [4.0, 5.0, 6.0, 7.0]
    assert view.ambient_color == [8.0, 9.0, 10.0, 11.0]
    assert view.specular_color == [12.0, 13.0, 14.0, 15.0]
    assert view.preshade_color is not view.preshade_color


@pytest.mark.parametrize(
    ("opacity", "shown"),
    [
        (1.0, "1.00"),
        (0.125, "0.12"),
        (0.375, "0.38"),
        (0.625, "0.62"),
        (0.005, "0.00"),
        (-0.0, "-0.00"),
        (math.nan, "NaN"),
        (math.inf, "inf"),
        (-math.inf, "-inf"),
        (3e38, "300000000549775575777803994281145270272.00"),
    ],
)
def test_repr_opacity(opacity, shown):
    assert repr(layer(opacity=opacity)).endswith(f", opacity={shown})")


@pytest.mark.parametrize(
    ("name", "texture", "shown"),
    [
        ("", None, "Layer('', texture=None, "),
        ("it's", 'a"b\\c', "Layer('it's', texture=Some(\"a\\\"b\\\\c\"), "),
        ("L", "\t\r\n\0\x1b'é", "Layer('L', texture=Some(\"\\t\\r\\n\\0\\u{1b}'é\"), "),
    ],
)
def test_repr_names(name, texture, shown):
    view = layer(name=name or None, texture=texture)
    assert view.texture_name == texture
    assert repr(view).startswith(shown)


@pytest.mark.parametrize("body", [i16(-0x8000), layer_body(class_index=-1)])
def test_negative_class_index(body):
    with pytest.raises(ValueError, match="^Null creatable$"):
        prp_object(LAYER, body).as_layer()
