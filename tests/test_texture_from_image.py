"""Mipmap.from_image: new textures made from images, their levels and their bytes."""

import math
import pathlib
import random
import sys

import lumivex
import lumivex.texture
import pytest

from fixtures.object_bodies import MIPMAP, mipmap_body, prp_object

Image = pytest.importorskip("PIL.Image")

# The stored values each format gives: compression, its info bytes, bits per pixel.
STORED = {"dxt1": (1, b"\x08\x01", 4), "dxt5": (1, b"\x10\x05", 8), "argb": (0, b"\x00", 32)}


def photograph(width, height, seed=7):
    """Smooth gradients, a disc and a dark corner with sharp edges, a little
    noise and an alpha that falls off in the right half: what a painted or
    photographed texture has."""
    rng = random.Random(seed)
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            u, v = x / width, y / height
            r = 128 + 90 * math.sin(3.1 * u + 1.7 * v)
            g = 100 + 80 * math.cos(2.3 * v - 1.1 * u * u)
            b = 60 + 120 * u * v
            if (u - 0.6) ** 2 + (v - 0.4) ** 2 < 0.04:
                r, g, b = r * 0.4 + 140, g * 0.5, b * 0.3 + 20
            if u > 0.8 and v > 0.7:
                r, g, b = 30, 40, 50
            noise = rng.gauss(0, 4)
            alpha = 255 if u < 0.5 else round(255 - 200 * v)
            pixels += bytes(max(0, min(255, round(c + noise))) for c in (r, g, b)) + bytes((alpha,))
    return Image.frombytes("RGBA", (width, height), bytes(pixels))


def psnr(image, decoded, mode):
    """Peak signal-to-noise ratio in dB over the bands of mode."""
    ours, theirs = image.convert(mode).tobytes(), decoded.convert(mode).tobytes()
    mse = sum((a - b) ** 2 for a, b in zip(ours, theirs, strict=True)) / len(ours)
    return math.inf if mse == 0 else 10 * math.log10(255**2 / mse)


def stored(texture):
    """The texture's object data, which it pickles as."""
    _decode, (data,) = texture.__reduce__()
    return data


@pytest.fixture(scope="module")
def photo():
    return photograph(128, 128)


@pytest.mark.parametrize(
    "format, mode, at_least",
    [("dxt5", "RGBA", 30.0), ("dxt1", "RGB", 30.0), ("argb", "RGBA", math.inf)],
)
def test_the_top_level_decodes_close_to_the_image(photo, format, mode, at_least):
    texture = lumivex.Mipmap.from_image("Photo", photo, format=format)
    decoded = texture.to_image()
    assert decoded.size == photo.size
    assert psnr(photo, decoded, mode) >= at_least
    if format == "dxt1":
        assert decoded.getextrema()[3] == (255, 255)


@pytest.mark.parametrize("format", ["dxt1", "dxt5", "argb"])
def test_the_object_data_holds_every_stored_value(format):
    image = photograph(16, 8)
    texture = lumivex.Mipmap.from_image("Tiles", image, format=format)
    compression, info, pixel_size = STORED[format]
    assert (texture.compression_type, texture.dxt_type) == (compression, info[-1])
    assert stored(texture) == mipmap_body(
        "Tiles",
        compression=compression,
        info=info,
        width=16,
        height=8,
        levels=5,
        pixels=texture.pixel_data,
        pixel_size=pixel_size,
        space=0,
        flags=0,
        modified_time=(0, 0),
        row_bytes=16 * pixel_size // 8,
    )
    if format == "argb":
        assert texture.levels[0].data == image.tobytes("raw", "BGRA")


@pytest.mark.parametrize(
    "size, levels, sizes",
    [
        ((16, 4), None, [(16, 4), (8, 2), (4, 1), (2, 1), (1, 1)]),
        ((1, 8), None, [(1, 8), (1, 4), (1, 2), (1, 1)]),
        ((1, 1), None, [(1, 1)]),
        ((16, 4), 2, [(16, 4), (8, 2)]),
        ((16, 4), 5, [(16, 4), (8, 2), (4, 1), (2, 1), (1, 1)]),
    ],
)
@pytest.mark.parametrize("format", ["dxt1", "dxt5", "argb"])
def test_levels_halve_down_to_the_count_asked(size, levels, sizes, format):
    image = photograph(*size)
    texture = lumivex.Mipmap.from_image("T", image, format=format, levels=levels)
    assert texture.num_levels == len(sizes) and (texture.width, texture.height) == size
    assert [(level.width, level.height) for level in texture.levels] == sizes
    assert (
        texture.total_size == len(texture.pixel_data) == sum(len(lv.data) for lv in texture.levels)
    )
    assert [texture.to_image(i).size for i in range(len(sizes))] == sizes


def test_downscaled_levels_keep_the_colour_and_take_none_from_transparent_pixels():
    # Left opaque blue, right a transparent green that must not show.
    image = Image.new("RGBA", (8, 8), (0, 0, 255, 255))
    image.paste((0, 255, 0, 0), (4, 0, 8, 8))
    texture = lumivex.Mipmap.from_image("T", image, format="argb")
    for level in range(1, 4):
        data = texture.to_image(level).tobytes()
        pixels = [data[i : i + 4] for i in range(0, len(data), 4)]
        assert all(p[:2] == b"\0\0" for p in pixels)
        assert all(p[2] >= 250 for p in pixels if p[3] >= 64)
    assert 120 <= texture.to_image(3).getpixel((0, 0))[3] <= 136


@pytest.mark.parametrize("mode", ["RGB", "L", "LA", "La", "P", "RGBa"])
@pytest.mark.parametrize("format", ["dxt5", "argb"])
def test_an_image_of_any_mode_makes_the_texture_of_its_rgba_copy(mode, format):
    image = photograph(8, 4).convert(mode)
    texture = lumivex.Mipmap.from_image("T", image, format=format)
    # Pillow makes RGBA of La through LA alone.
    rgba = (image.convert("LA") if mode == "La" else image).convert("RGBA")
    again = lumivex.Mipmap.from_image("T", rgba, format=format)
    assert texture.pixel_data == again.pixel_data
    assert image.mode == mode


@pytest.mark.parametrize("size", [(3, 4), (4, 6), (12, 16), (100, 64), (0, 4), (4, 0), (0, 0)])
def test_sizes_that_are_not_powers_of_two_are_refused(size):
    with pytest.raises(ValueError, match=rf"powers of two, and this image is {size[0]}x{size[1]}"):
        lumivex.Mipmap.from_image("T", Image.new("RGBA", size))


@pytest.mark.parametrize(
    "changes, error, message",
    [
        ({"format": "bc7"}, ValueError, "format must be one of dxt1, dxt5, argb, not 'bc7'"),
        ({"format": "DXT5"}, ValueError, "not 'DXT5'"),
        ({"format": 5}, ValueError, "not 5"),
        ({"levels": 0}, ValueError, "levels must be 1 to 5: a 16x4 texture has 5 levels"),
        ({"levels": 6}, ValueError, "levels must be 1 to 5.*got 6"),
        ({"levels": -1}, ValueError, "got -1"),
        ({"levels": 2.0}, TypeError, "levels must be an int or None, not float"),
        ({"levels": True}, TypeError, "not bool"),
    ],
)
def test_a_bad_format_or_level_count_says_why(changes, error, message):
    with pytest.raises(error, match=message):
        lumivex.Mipmap.from_image("T", Image.new("RGBA", (16, 4)), **changes)


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        (("T", 5), {}, TypeError, "image must be a Pillow image or a path, not int"),
        ((5, None), {}, TypeError, "from_image"),
        (("T", None, "dxt1"), {}, TypeError, "takes 2 positional arguments but 3 were given"),
        (("T",), {}, TypeError, "missing required argument 'image'"),
        (("T", None), {"level": 1}, TypeError, "unexpected keyword argument 'level'"),
        (("T" * 4096, None), {}, ValueError, "4096 bytes is too long"),
        # Before the image is read.
        (("T" * 4096, "/no/such/image.png"), {}, ValueError, "4096 bytes is too long"),
        (("T\0", "/no/such/image.png"), {}, ValueError, "ending in a NUL"),
    ],
)
def test_wrong_arguments(args, kwargs, error, message):
    args = tuple(Image.new("RGBA", (4, 4)) if a is None else a for a in args)
    with pytest.raises(error, match=message):
        lumivex.Mipmap.from_image(*args, **kwargs)


@pytest.mark.parametrize("as_path", [str, pathlib.Path, lambda p: str(p).encode()])
def test_an_image_file_is_read_from_its_path(tmp_path, as_path):
    image = photograph(8, 4)
    path = tmp_path / "painted.png"
    image.save(path)
    texture = lumivex.Mipmap.from_image("T", as_path(path), format="argb")
    assert texture.to_image().tobytes() == image.tobytes()


def test_without_pillow_the_error_names_the_extra(monkeypatch, tmp_path):
    monkeypatch.setitem(sys.modules, "PIL", None)
    with pytest.raises(ImportError, match=r"lumivex\[images\]"):
        lumivex.Mipmap.from_image("T", tmp_path / "painted.png")


def test_a_pillow_without_the_block_encoder_names_the_version(monkeypatch):
    image = Image.new("RGBA", (4, 4))
    real = Image._getencoder

    def without_blocks(mode, encoder_name, args, extra=()):
        if encoder_name == "bcn":
            raise OSError("encoder bcn not available")
        return real(mode, encoder_name, args, extra)

    monkeypatch.setattr(Image, "_getencoder", without_blocks)
    with pytest.raises(ImportError, match=r"Pillow 11\.2 or later"):
        lumivex.Mipmap.from_image("T", image, format="dxt1")
    assert lumivex.Mipmap.from_image("T", image, format="argb").num_levels == 3


@pytest.mark.parametrize("format", ["dxt1", "dxt5", "argb"])
def test_a_new_texture_goes_into_a_page(format):
    texture = lumivex.Mipmap.from_image("Painted", photograph(32, 16), format=format)
    builder = lumivex.PageBuilder("Age", "Textures", 7)
    key = builder.add(MIPMAP, texture.name, stored(texture))
    page = lumivex.PrpFile.from_bytes(builder.build().to_bytes())
    [read] = page.find("Painted")
    assert read.class_type == MIPMAP and read.name == key.name == "Painted"
    again = read.as_mipmap()
    assert (again.width, again.height, again.num_levels) == (32, 16, 6)
    assert (again.compression_type, again.dxt_type) == (texture.compression_type, texture.dxt_type)
    assert again.levels == texture.levels
    assert again.to_image(5).size == (1, 1)


@pytest.mark.parametrize("format", ["dxt1", "dxt5", "argb"])
def test_the_format_of_a_texture_is_the_one_that_makes_it_again(format):
    texture = lumivex.Mipmap.from_image("T", Image.new("RGBA", (4, 4)), format=format)
    assert lumivex.texture.format_of(texture) == format


@pytest.mark.parametrize(
    "compression, info", [(1, b"\x10\x03"), (0, b"\x03"), (2, b"\x00"), (1, b"\x05\x00")]
)
def test_a_format_no_new_texture_has_is_named(compression, info):
    texture = prp_object(MIPMAP, mipmap_body("Odd", compression=compression, info=info)).as_mipmap()
    with pytest.raises(
        lumivex.texture.TextureError, match=f"'Odd' is stored as compression {compression}"
    ):
        lumivex.texture.format_of(texture)


class Two:
    def __index__(self):
        return 2


def test_levels_take_any_whole_number_and_a_wrong_type_is_told_before_the_file_is_read(tmp_path):
    texture = lumivex.Mipmap.from_image("T", Image.new("RGBA", (8, 8)), levels=Two())
    assert texture.num_levels == 2
    with pytest.raises(TypeError, match="levels must be an int or None, not str"):
        lumivex.Mipmap.from_image("T", tmp_path / "missing.png", levels="2")


def test_an_image_too_large_to_open_is_bad_data(tmp_path, monkeypatch):
    monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 8)
    path = tmp_path / "large.png"
    Image.new("1", (8, 4)).save(path)
    with pytest.raises(ValueError, match="decompression bomb") as raised:
        lumivex.Mipmap.from_image("T", path)
    assert raised.value.__cause__ is None
