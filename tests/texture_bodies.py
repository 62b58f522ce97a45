"""Pixel data of textures, block-compressed (DXT1, DXT5) or 32-bit, and the
plMipmap bodies that hold them, every level one after another."""

from __future__ import annotations

from collections.abc import Callable

from builder import u8, u16
from object_bodies import mipmap_body

Rgba = tuple[int, int, int, int]
ColorAt = Callable[[int, int, int, int], Rgba]  # x, y, level width, level height

DXT1, DXT5, ARGB32 = "DXT1", "DXT5", "ARGB32"
# The compression type and its info bytes for each kind: block-compressed
# textures carry the block size, then the block format.
FORMATS = {DXT1: (1, b"\x08\x01"), DXT5: (1, b"\x10\x05"), ARGB32: (0, b"\x00")}

# Colours that survive the 5-6-5 bits of a block unchanged, with four alphas.
QUADRANTS = ((255, 0, 0, 255), (0, 255, 0, 192), (0, 0, 255, 128), (255, 255, 255, 64))


def quadrants(colors: tuple[Rgba, ...] = QUADRANTS) -> ColorAt:
    """Top left, top right, bottom left, bottom right."""

    def color_at(x: int, y: int, width: int, height: int) -> Rgba:
        return colors[2 * (2 * y >= height) + (2 * x >= width)]

    return color_at


def color_block(r: int, g: int, b: int) -> bytes:
    """A block of one colour: both end points the same, every index 0."""
    c = (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
    return u16(c) + u16(c) + bytes(4)


def dxt1_block(rgba: Rgba) -> bytes:
    return color_block(*rgba[:3])


def dxt5_block(rgba: Rgba) -> bytes:
    """Alpha end points, six bytes of alpha indices, then the colour block."""
    return u8(rgba[3]) * 2 + bytes(6) + color_block(*rgba[:3])


def encode_level(kind: str, width: int, height: int, color_at: ColorAt) -> bytes:
    """One level; a block takes the colour of its top left pixel."""
    if kind == ARGB32:
        pixels = (color_at(x, y, width, height) for y in range(height) for x in range(width))
        return b"".join(bytes((b, g, r, a)) for r, g, b, a in pixels)
    block = dxt1_block if kind == DXT1 else dxt5_block
    return b"".join(
        block(color_at(x, y, width, height))
        for y in range(0, height, 4)
        for x in range(0, width, 4)
    )


def texture_pixels(kind: str, width: int, height: int, levels: int, color_at: ColorAt) -> bytes:
    """Every level, each half the size of the one before and at least 1x1."""
    sizes = [(max(1, width >> i), max(1, height >> i)) for i in range(levels)]
    return b"".join(encode_level(kind, w, h, color_at) for w, h in sizes)


def texture_body(
    name: str, kind: str, width: int = 16, height: int = 8, levels: int = 1, color_at=None
) -> bytes:
    compression, info = FORMATS[kind]
    pixels = texture_pixels(kind, width, height, levels, color_at or quadrants())
    return mipmap_body(
        name,
        compression=compression,
        info=info,
        width=width,
        height=height,
        levels=levels,
        pixels=pixels,
    )
