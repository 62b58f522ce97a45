"""lumivex texture: a texture's levels, as images and as image files.

A texture stores its levels one after another, the full-size level first,
each half the size of the one before and at least 1x1. Block-compressed
textures (compression type 1) hold blocks of 4x4 pixels in the format their
dxt_type names; uncompressed ones (compression type 0) hold pixels in the
format their dxt_type names, 0 being 32-bit little-endian ARGB words, that is
the bytes blue, green, red, alpha.

A DDS file takes the stored levels as they are, behind a DDS header; any
other format is the top level decoded by Pillow.

A new texture is made from an image: its levels, each downscaled from the
one before, then stored as DXT1, DXT5 or 32-bit pixels."""

from __future__ import annotations

import io
import operator
import os
import struct
from typing import TYPE_CHECKING, NamedTuple

import lumivex
from lumivex.shapes import counted

if TYPE_CHECKING:
    from PIL import Image

UNCOMPRESSED, BLOCK_COMPRESSED = 0, 1
ARGB32 = 0


class BlockFormat(NamedTuple):
    name: str
    pillow_decoder: int  # the number of Pillow's "bcn" decoder for it
    block_size: int


BLOCK_FORMATS = {1: BlockFormat("DXT1", 1, 8), 5: BlockFormat("DXT5", 3, 16)}

# The suffixes Pillow writes, with its name of the format; each keeps the alpha.
PILLOW_FORMATS = {
    ".png": "PNG",
    ".tga": "TGA",
    ".tif": "TIFF",
    ".tiff": "TIFF",
    ".webp": "WEBP",
}
DDS = ".dds"
SUFFIXES = [DDS, *PILLOW_FORMATS]

PILLOW_MISSING = 'images of textures need Pillow: pip install "lumivex[images]" (the images extra)'
# Pillow writes blocks since 11.2, the version the images extra asks for.
PILLOW_WITHOUT_BLOCKS = (
    'DXT textures need Pillow 11.2 or later: pip install -U "lumivex[images]" (the images extra)'
)


class TextureError(ValueError):
    """A texture whose levels cannot be read or converted."""


class MipmapLevel(NamedTuple):
    """One stored level of a texture: its size in pixels and its bytes."""

    width: int
    height: int
    data: bytes


def output_path(text: str) -> str:
    """The output file, which must end in a suffix this command writes."""
    suffix = os.path.splitext(text)[1].lower()
    if suffix not in SUFFIXES:
        raise ValueError(
            f"cannot write {suffix or 'a file without suffix'}; the suffix chooses the format: "
            + ", ".join(SUFFIXES)
        )
    return text


class Layout(NamedTuple):
    """How a texture's levels are stored."""

    format_name: str
    block: BlockFormat | None  # None for 32-bit pixels

    def level_size(self, width: int, height: int) -> int:
        if self.block is None:
            return width * height * 4
        return (width + 3) // 4 * ((height + 3) // 4) * self.block.block_size


def layout_of(mipmap: lumivex.Mipmap) -> Layout:
    name = mipmap.name
    if mipmap.compression_type == BLOCK_COMPRESSED:
        block = BLOCK_FORMATS.get(mipmap.dxt_type)
        if block is None:
            raise TextureError(
                f"texture {name!r} uses block format {mipmap.dxt_type}; "
                "only DXT1 (1) and DXT5 (5) can be converted"
            )
        layout = Layout(block.name, block)
    elif mipmap.compression_type == UNCOMPRESSED:
        if mipmap.dxt_type != ARGB32:
            raise TextureError(
                f"texture {name!r} holds uncompressed format {mipmap.dxt_type}; "
                "only 32-bit pixels (format 0) can be converted"
            )
        layout = Layout("32-bit ARGB", None)
    else:
        raise TextureError(
            f"texture {name!r} uses compression type {mipmap.compression_type}; only block-compressed "
            "(1) and uncompressed (0) textures can be converted"
        )
    if mipmap.width == 0 or mipmap.height == 0:
        raise TextureError(f"texture {name!r} has no pixels ({mipmap.width}x{mipmap.height})")
    return layout


def stored_levels(mipmap: lumivex.Mipmap, layout: Layout, levels: int) -> bytes:
    """The bytes of the first `levels` levels."""
    width, height = mipmap.width, mipmap.height
    size = sum(
        layout.level_size(max(1, width >> level), max(1, height >> level))
        for level in range(levels)
    )
    pixels = mipmap.pixel_data
    if len(pixels) < size:
        what = (
            "its top level of {}x{} needs"
            if levels == 1
            else f"its {levels} levels from {{}}x{{}} need"
        )
        raise TextureError(
            f"texture {mipmap.name!r} is cut short: {what.format(width, height)} {size} bytes, "
            f"it holds {len(pixels)}"
        )
    return pixels[:size]


# The DDS header's flags and those of its pixel format.
DDSD_CAPS, DDSD_HEIGHT, DDSD_WIDTH, DDSD_PITCH = 0x1, 0x2, 0x4, 0x8
DDSD_PIXELFORMAT, DDSD_MIPMAPCOUNT, DDSD_LINEARSIZE = 0x1000, 0x20000, 0x80000
DDPF_ALPHAPIXELS, DDPF_FOURCC, DDPF_RGB = 0x1, 0x4, 0x40
DDSCAPS_COMPLEX, DDSCAPS_TEXTURE, DDSCAPS_MIPMAP = 0x8, 0x1000, 0x400000


def dds_header(width: int, height: int, levels: int, layout: Layout) -> bytes:
    """The magic word and the 124-byte header of a DDS file."""
    flags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT
    caps = DDSCAPS_TEXTURE
    if levels > 1:
        flags |= DDSD_MIPMAPCOUNT
        caps |= DDSCAPS_COMPLEX | DDSCAPS_MIPMAP
    if layout.block is not None:
        flags |= DDSD_LINEARSIZE
        pitch_or_size = layout.level_size(width, height)
        pixel_format = struct.pack(
            "<II4s5I", 32, DDPF_FOURCC, layout.block.name.encode(), 0, 0, 0, 0, 0
        )
    else:
        flags |= DDSD_PITCH
        pitch_or_size = width * 4
        # Little-endian ARGB words: blue in the low byte, alpha in the high one.
        pixel_format = struct.pack(
            "<II4s5I",
            32,
            DDPF_RGB | DDPF_ALPHAPIXELS,
            bytes(4),
            32,
            0x00FF0000,
            0x0000FF00,
            0x000000FF,
            0xFF000000,
        )
    header = struct.pack("<7I44x", 124, flags, height, width, pitch_or_size, 0, levels)
    header += pixel_format + struct.pack("<4I4x", caps, 0, 0, 0)
    return b"DDS " + header


def dds(mipmap: lumivex.Mipmap, layout: Layout) -> bytes:
    levels = max(1, mipmap.num_levels)
    pixels = stored_levels(mipmap, layout, levels)
    return dds_header(mipmap.width, mipmap.height, levels, layout) + pixels


def level_size(mipmap: lumivex.Mipmap, level: int) -> tuple[int, int]:
    """Each level is half the size of the one before, and at least 1x1."""
    return max(1, mipmap.width >> level), max(1, mipmap.height >> level)


def level_image(mipmap: lumivex.Mipmap, layout: Layout, level: int) -> Image.Image:
    """One level as an RGBA Pillow image; ImportError when Pillow is missing."""
    before = len(stored_levels(mipmap, layout, level)) if level else 0
    pixels = stored_levels(mipmap, layout, level + 1)[before:]
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError(PILLOW_MISSING, name="PIL") from error
    size = level_size(mipmap, level)
    if layout.block is None:
        return Image.frombytes("RGBA", size, pixels, "raw", "BGRA")
    return Image.frombytes("RGBA", size, pixels, "bcn", layout.block.pillow_decoder)


def pillow_image(mipmap: lumivex.Mipmap, layout: Layout, pillow_format: str, suffix: str) -> bytes:
    image = level_image(mipmap, layout, 0)
    from PIL import Image

    Image.init()
    if pillow_format not in Image.SAVE:
        raise TextureError(f"this Pillow cannot write {pillow_format} images ({suffix})")
    out = io.BytesIO()
    # WebP would otherwise be lossy.
    image.save(out, pillow_format, **({"lossless": True} if pillow_format == "WEBP" else {}))
    return out.getvalue()


class Written(NamedTuple):
    """What a texture's image file holds: its size, the stored format it
    came from, its levels, and whether they are the stored bytes."""

    width: int
    height: int
    format: str
    level_count: int
    as_stored: bool

    def text(self) -> str:
        size = f"{self.width}x{self.height}"
        if self.as_stored:
            return f"{size}, {counted(self.level_count, 'level')} of {self.format}, as stored"
        return f"{size} from {self.format}"


def encode(mipmap: lumivex.Mipmap, suffix: str) -> tuple[bytes, Written]:
    """The texture as a file of the format the suffix names, and what it holds."""
    layout = layout_of(mipmap)
    if suffix == DDS:
        level_count = max(1, mipmap.num_levels)
        return dds(mipmap, layout), Written(
            mipmap.width, mipmap.height, layout.format_name, level_count, True
        )
    image = pillow_image(mipmap, layout, PILLOW_FORMATS[suffix], suffix)
    return image, Written(mipmap.width, mipmap.height, layout.format_name, 1, False)


def levels(mipmap: lumivex.Mipmap) -> list[MipmapLevel]:
    """Each level the texture announces and stores whole, the full-size one
    first: a texture cut short has fewer, and one whose levels' layout is not
    known none."""
    try:
        layout = layout_of(mipmap)
    except TextureError:
        return []
    pixels = mipmap.pixel_data
    found: list[MipmapLevel] = []
    offset = 0
    for level in range(max(1, mipmap.num_levels)):
        width, height = level_size(mipmap, level)
        size = layout.level_size(width, height)
        if len(pixels) - offset < size:
            break
        found.append(MipmapLevel(width, height, pixels[offset : offset + size]))
        offset += size
    return found


def to_image(mipmap: lumivex.Mipmap, level: int = 0) -> Image.Image:
    """A level of the texture as an RGBA Pillow image."""
    layout = layout_of(mipmap)
    count = max(1, mipmap.num_levels)
    if not 0 <= level < count:
        raise IndexError(f"texture {mipmap.name!r} has no level {level}: it has {count}")
    return level_image(mipmap, layout, level)


class NewFormat(NamedTuple):
    """How a new texture of one format is stored."""

    compression_type: int
    dxt_type: int
    pixel_size: int  # bits per pixel
    block: BlockFormat | None  # None for 32-bit pixels


NEW_FORMATS = {
    "dxt1": NewFormat(BLOCK_COMPRESSED, 1, 4, BLOCK_FORMATS[1]),
    "dxt5": NewFormat(BLOCK_COMPRESSED, 5, 8, BLOCK_FORMATS[5]),
    "argb": NewFormat(UNCOMPRESSED, ARGB32, 32, None),
}


class NewTexture(NamedTuple):
    """The stored values of a texture made from an image, in stored order:
    bits per pixel, compression, block size in bytes (0 when uncompressed),
    block or pixel format, size, bytes per row of the top level, level count
    and the levels' bytes."""

    pixel_size: int
    compression_type: int
    block_size: int
    dxt_type: int
    width: int
    height: int
    row_bytes: int
    num_levels: int
    pixel_data: bytes


def open_image(image: Image.Image | str | bytes | os.PathLike[str]) -> Image.Image:
    """The image, or the image file at a path, as RGBA."""
    try:
        from PIL import Image
    except ImportError as error:
        raise ImportError(PILLOW_MISSING, name="PIL") from error
    if isinstance(image, str | bytes | os.PathLike):
        try:
            with Image.open(image) as opened:
                return opened.convert("RGBA")
        except Image.DecompressionBombError as error:
            # Bad data like any other: an image too large to be a texture.
            raise ValueError(str(error)) from None
    if not isinstance(image, Image.Image):
        raise TypeError(f"image must be a Pillow image or a path, not {type(image).__name__}")
    # Nothing here changes the image: one already RGBA is used as it is.
    if image.mode == "RGBA":
        return image
    # Pillow converts luminance with premultiplied alpha only to its plain form.
    if image.mode == "La":
        image = image.convert("LA")
    return image.convert("RGBA")


def is_power_of_two(n: int) -> bool:
    return n > 0 and n & (n - 1) == 0


def level_count(width: int, height: int, levels: int | None) -> int:
    """The levels asked for: every one down to 1x1 when None."""
    chain = max(width, height).bit_length()
    if levels is None:
        return chain
    if not 1 <= levels <= chain:
        raise ValueError(
            f"levels must be 1 to {chain}: a {width}x{height} texture has {counted(chain, 'level')} "
            f"down to 1x1, got {levels}"
        )
    return levels


def whole_number(levels: object) -> int | None:
    """levels as an int (anything with __index__ but a bool), or None."""
    if levels is None:
        return None
    if isinstance(levels, bool) or not hasattr(type(levels), "__index__"):
        raise TypeError(f"levels must be an int or None, not {type(levels).__name__}")
    return operator.index(levels)  # type: ignore[arg-type]


def encode_level(image: Image.Image, new_format: NewFormat) -> bytes:
    if new_format.block is None:
        return image.tobytes("raw", "BGRA")
    try:
        return image.tobytes("bcn", new_format.block.pillow_decoder)
    except OSError as error:  # the encoder is missing
        raise ImportError(PILLOW_WITHOUT_BLOCKS, name="PIL") from error


def new_texture(
    image: Image.Image | str | bytes | os.PathLike[str],
    format: str = "dxt5",
    levels: int | None = None,
) -> NewTexture:
    """A texture's stored values made from an image: its levels, each
    downscaled from the one before with Lanczos filtering (alpha
    premultiplied, so that transparent pixels lend no colour), encoded in the
    format named. DXT1 keeps no alpha."""
    new_format = NEW_FORMATS.get(format) if isinstance(format, str) else None
    if new_format is None:
        raise ValueError(f"format must be one of {', '.join(NEW_FORMATS)}, not {format!r}")
    asked = whole_number(levels)
    top = open_image(image)
    width, height = top.size
    if not (is_power_of_two(width) and is_power_of_two(height)):
        raise ValueError(
            f"a texture's width and height must be powers of two, and this image is {width}x{height}"
        )
    count = level_count(width, height, asked)
    layout = Layout(format, new_format.block)
    total = sum(
        layout.level_size(max(1, width >> level), max(1, height >> level)) for level in range(count)
    )
    if total > 0xFFFFFFFF:
        raise ValueError(
            f"a {width}x{height} texture of {counted(count, 'level')} in {format} needs {total} bytes; "
            "a texture holds at most 4294967295"
        )
    from PIL import Image

    # Each level from the one before: the work is that of the top level and
    # a third more, and the levels are as sharp as those made from the image.
    chain = [top]
    premultiplied = top.convert("RGBa")
    for level in range(1, count):
        size = (max(1, width >> level), max(1, height >> level))
        premultiplied = premultiplied.resize(size, Image.Resampling.LANCZOS)
        chain.append(premultiplied.convert("RGBA"))
    return NewTexture(
        pixel_size=new_format.pixel_size,
        compression_type=new_format.compression_type,
        block_size=new_format.block.block_size if new_format.block else 0,
        dxt_type=new_format.dxt_type,
        width=width,
        height=height,
        row_bytes=width * new_format.pixel_size // 8,
        num_levels=count,
        pixel_data=b"".join(encode_level(level, new_format) for level in chain),
    )


def format_of(mipmap: lumivex.Mipmap) -> str:
    """The format new_texture names for the way a texture is stored, so that
    a replacement can keep it; TextureError for a format it cannot make."""
    stored = (mipmap.compression_type, mipmap.dxt_type)
    for name, new_format in NEW_FORMATS.items():
        if (new_format.compression_type, new_format.dxt_type) == stored:
            return name
    raise TextureError(
        f"texture {mipmap.name!r} is stored as compression {stored[0]}, format {stored[1]}; "
        f"new textures are made as {', '.join(NEW_FORMATS)}"
    )
