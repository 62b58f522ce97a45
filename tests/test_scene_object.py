import pytest

from fixtures.builder import u32
from fixtures.object_bodies import LAYER, SCENE_OBJECT, prp_object, scene_object_body


def test_scene_object_fields_and_repr():
    body = scene_object_body(
        flags=0x50, first=["a"], second=["b", "c"], keys=["K"], modifiers=["Spin", None, "Glow"]
    )
    scene = prp_object(SCENE_OBJECT, body).as_scene_object()
    assert scene.name == "Tree"
    assert scene.draw_interface_names == ["TreeDraw"]
    assert scene.coord_interface_name == "TreeCoord"
    assert scene.modifier_names == ["Spin", "Glow"]
    assert repr(scene) == "SceneObject('Tree', 1 drawables, 2 modifiers)"


def test_absent_keys():
    scene = prp_object(
        SCENE_OBJECT, scene_object_body(None, draw=None, coord=None)
    ).as_scene_object()
    assert (scene.name, scene.draw_interface_names, scene.coord_interface_name) == ("", [], None)
    assert repr(scene) == "SceneObject('', 0 drawables, 0 modifiers)"


def test_flag_0x20_announces_no_list():
    assert prp_object(SCENE_OBJECT, scene_object_body(flags=0x20)).as_scene_object().name == "Tree"


@pytest.mark.parametrize("which", ["keys", "modifiers"])
def test_huge_key_count_with_tiny_data(which):
    body = scene_object_body(**{which: ["X"]})
    count_at = body.rindex(u32(1) + b"\x01")
    body = body[:count_at] + u32(0xFFFFFFFF) + body[count_at + 4 :]
    with pytest.raises(ValueError, match="^failed to fill whole buffer$"):
        prp_object(SCENE_OBJECT, body).as_scene_object()


@pytest.mark.parametrize(
    ("class_type", "data_offset", "error", "message"),
    [
        (LAYER, 1 << 30, ValueError, "Not a plSceneObject (class 0x0006)"),
        (0x1234, None, ValueError, "Not a plSceneObject (class 0x1234)"),
        (SCENE_OBJECT, 1 << 30, OSError, "Object data not found"),
    ],
)
def test_class_test_comes_before_range_test(class_type, data_offset, error, message):
    obj = prp_object(class_type, scene_object_body(), data_offset=data_offset)
    with pytest.raises(error) as caught:
        obj.as_scene_object()
    assert str(caught.value) == message
