"""Mipmap.levels and Mipmap.to_image: a texture's stored levels and its images."""

import sys

import lumivex.texture
import pytest

from fixtures.object_bodies import MIPMAP, mipmap_body, prp_object
from fixtures.texture_bodies import ARGB32, DXT1, DXT5, quadrants, texture_body

pytest.importorskip("PIL")


def mipmap(body):
    return prp_object(MIPMAP, body).as_mipmap()


@pytest.mark.parametrize(
    "kind, width, height, count, sizes",
    [
        (DXT1, 16, 8, 3, [(16, 8, 64), (8, 4, 16), (4, 2, 8)]),
        (DXT5, 8, 8, 4, [(8, 8, 64), (4, 4, 16), (2, 2, 16), (1, 1, 16)]),
        (ARGB32, 4, 2, 3, [(4, 2, 32), (2, 1, 8), (1, 1, 4)]),
    ],
)
def test_levels_split_the_stored_bytes(kind, width, height, count, sizes):
    texture = mipmap(texture_body("T", kind, width, height, count))
    levels = texture.levels
    assert [(level.width, level.height, len(level.data)) for level in levels] == sizes
    assert (
        b"".join(level.data for level in levels) == texture.pixel_data[: sum(s[2] for s in sizes)]
    )
    assert levels[0] == (levels[0].width, levels[0].height, levels[0].data)


def test_a_texture_of_no_levels_has_its_top_one():
    texture = mipmap(
        mipmap_body("T", compression=0, info=b"\x00", width=2, height=2, levels=0, pixels=bytes(20))
    )
    assert texture.levels == [(2, 2, bytes(16))]


@pytest.mark.parametrize("kind", [DXT1, DXT5, ARGB32])
@pytest.mark.parametrize("level", [0, 1])
def test_to_image_decodes_a_level(kind, level):
    texture = mipmap(texture_body("T", kind, 16, 8, 2))
    image = texture.to_image(level) if level else texture.to_image()
    width, height = 16 >> level, 8 >> level
    assert image.mode == "RGBA" and image.size == (width, height)
    if kind == ARGB32:
        color_at = quadrants()
        corners = [(0, 0), (width - 1, 0), (0, height - 1), (width - 1, height - 1)]
        assert [image.getpixel(p) for p in corners] == [
            color_at(x, y, width, height) for x, y in corners
        ]


@pytest.mark.parametrize(
    "body, message",
    [
        (mipmap_body("T", compression=2, info=b"\x00"), "uses compression type 2"),
        (mipmap_body("T", compression=1, info=b"\x08\x03"), "uses block format 3"),
        (mipmap_body("T", compression=0, info=b"\x03"), "holds uncompressed format 3"),
    ],
)
def test_levels_and_images_of_what_cannot_be_converted(body, message):
    texture = mipmap(body)
    assert texture.levels == []
    with pytest.raises(ValueError, match=message):
        texture.to_image()


def test_a_texture_cut_short_has_the_levels_it_stores_whole():
    cut = dict(compression=0, info=b"\x00", width=4, height=2, levels=3)
    texture = mipmap(mipmap_body("T", **cut, pixels=bytes(43)))
    assert [(level.width, level.height) for level in texture.levels] == [(4, 2), (2, 1)]
    assert texture.to_image(1).size == (2, 1)
    with pytest.raises(ValueError, match="is cut short"):
        texture.to_image(2)
    assert mipmap(mipmap_body("T", **cut, pixels=bytes(31))).levels == []


def test_to_image_of_a_missing_level():
    texture = mipmap(texture_body("T", DXT1, 16, 8, 2))
    with pytest.raises(IndexError, match="texture 'T' has no level 2: it has 2"):
        texture.to_image(2)
    with pytest.raises(OverflowError, match="to_image"):
        texture.to_image(level=-1)


def test_to_image_without_pillow_names_the_extra(monkeypatch):
    monkeypatch.setitem(sys.modules, "PIL", None)
    texture = mipmap(texture_body("T", DXT1, 16, 8, 1))
    with pytest.raises(ImportError, match=r"lumivex\[images\]"):
        texture.to_image()
    assert len(texture.levels) == 1


def test_levels_are_what_the_texture_module_gives():
    texture = mipmap(texture_body("T", ARGB32, 4, 4, 2))
    assert texture.levels == lumivex.texture.levels(texture)
    assert isinstance(texture.levels[0], lumivex.texture.MipmapLevel)
    assert isinstance(texture, lumivex.Mipmap)
