"""lumivex texture: the top level of a texture as a PNG image.

A texture stores its levels one after another, the full-size level first.
Block-compressed textures (compression type 1) hold blocks of 4x4 pixels in
the format their dxt_type names; uncompressed ones (compression type 0) hold
pixels in the format their dxt_type names, 0 being 32-bit little-endian ARGB
words, that is the bytes blue, green, red, alpha."""

from __future__ import annotations

import lumivex
from lumivex.cli.common import CommandError

UNCOMPRESSED, BLOCK_COMPRESSED = 0, 1
ARGB32 = 0
# Block formats by dxt_type: name, Pillow's block decoder number, bytes per block.
BLOCK_FORMATS = {1: ("DXT1", 1, 8), 5: ("DXT5", 3, 16)}

PILLOW_MISSING = (
    'the texture command needs Pillow: pip install Pillow (or pip install ".[images]" '
    "in the lumivex source tree)"
)


def top_level(mipmap: lumivex.Mipmap) -> tuple[str, bytes, tuple[str, object]]:
    """The format's name, the top level's bytes and Pillow's decoder for them."""
    name, width, height = mipmap.name, mipmap.width, mipmap.height
    if mipmap.compression_type == BLOCK_COMPRESSED:
        if mipmap.dxt_type not in BLOCK_FORMATS:
            raise CommandError(
                f"texture {name!r} uses block format {mipmap.dxt_type}; "
                "only DXT1 (1) and DXT5 (5) can be converted"
            )
        format_name, decoder_number, block_size = BLOCK_FORMATS[mipmap.dxt_type]
        size = (width + 3) // 4 * ((height + 3) // 4) * block_size
        decoder: tuple[str, object] = ("bcn", decoder_number)
    elif mipmap.compression_type == UNCOMPRESSED:
        if mipmap.dxt_type != ARGB32:
            raise CommandError(
                f"texture {name!r} holds uncompressed format {mipmap.dxt_type}; "
                "only 32-bit pixels (format 0) can be converted"
            )
        format_name, size, decoder = "32-bit ARGB", width * height * 4, ("raw", "BGRA")
    else:
        raise CommandError(
            f"texture {name!r} uses compression type {mipmap.compression_type}; only block-compressed "
            "(1) and uncompressed (0) textures can be converted"
        )
    if width == 0 or height == 0:
        raise CommandError(f"texture {name!r} has no pixels ({width}x{height})")
    pixels = mipmap.pixel_data
    if len(pixels) < size:
        raise CommandError(
            f"texture {name!r} is cut short: its top level of {width}x{height} needs {size} bytes, "
            f"it holds {len(pixels)}"
        )
    return format_name, pixels[:size], decoder


def write_png(mipmap: lumivex.Mipmap, out: str) -> str:
    """Writes the top level to out and returns its format's name."""
    format_name, pixels, (decoder_name, decoder_argument) = top_level(mipmap)
    try:
        from PIL import Image
    except ImportError as error:
        raise CommandError(PILLOW_MISSING) from error
    image = Image.frombytes(
        "RGBA", (mipmap.width, mipmap.height), pixels, decoder_name, decoder_argument
    )
    try:
        image.save(out, "PNG")
    except OSError as error:
        raise CommandError(f"cannot write {out}: {error.strerror or error}") from error
    return format_name
