import pytest

from fixtures.object_bodies import MATERIAL, material_body, prp_object


def layer_names(body):
    return prp_object(MATERIAL, body).as_material().layer_names


@pytest.mark.parametrize(
    ("names", "kept", "shown"),
    [
        ((), [], "Material(0 layers: [])"),
        (("Base", None, "Top"), ["Base", "Top"], 'Material(2 layers: ["Base", "Top"])'),
        (
            ('say "hi"\\', "it's\n"),
            ['say "hi"\\', "it's\n"],
            r"""Material(2 layers: ["say \"hi\"\\", "it's\n"])""",
        ),
    ],
)
def test_layer_names_and_repr(names, kept, shown):
    material = prp_object(MATERIAL, material_body(names)).as_material()
    assert material.layer_names == kept
    assert repr(material) == shown


@pytest.mark.parametrize(
    "prefix",
    [
        {"flags": 0x40, "second": ["x", "y"]},
        {"flags": 0x50, "first": ["a"], "second": ["b"]},
        {"flags": 0x20},
        {"flags": 0xFFFFFFAF},
    ],
)
def test_second_list_is_announced_by_0x40_only(prefix):
    assert layer_names(material_body(**prefix)) == ["Base", "Detail"]


def test_huge_layer_count_with_tiny_data():
    with pytest.raises(ValueError, match="^failed to fill whole buffer$"):
        layer_names(material_body(count=0xFFFFFFFF))


def test_short_count_block_fails_even_with_the_count_present():
    with pytest.raises(ValueError, match="^failed to fill whole buffer$"):
        layer_names(material_body(())[:-4])


def test_negative_class_index():
    with pytest.raises(ValueError, match="^Null creatable$"):
        layer_names(material_body(class_index=-2))
