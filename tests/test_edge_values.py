"""Values at the edges of what a comparison or a field holds: page headers
that differ in one field only, and UV channels past the first sixteen."""

import lumivex
import pytest

from fixtures.builder import Obj, page
from fixtures.object_bodies import LAYER, layer_body

OBJECTS = [Obj(1, "Foo", b"\x01\x00")]


def header(**changes):
    return lumivex.PrpFile.from_bytes(page(OBJECTS, **changes)).header


@pytest.mark.parametrize(
    "changes",
    [
        {"sequence_number": 0x00010022},
        {"flags": 1},
        {"age": "Agf"},
        {"page_name": "Pagf"},
        {"major_version": 71},
        {"checksum": 1},
        {"gap": b"\x00"},  # moves data_start and index_start
    ],
    ids=lambda changes: next(iter(changes)),
)
def test_headers_differing_in_one_field_are_unequal(changes):
    base, other = header(), header(**changes)
    assert base == header() and hash(base) == hash(header())
    assert base != other and not base == other


@pytest.mark.parametrize(
    ("uvw", "channel"),
    [(0, 0), (15, 15), (16, 16), (17, 17), (0x80, 0x80), (0xFF, 0xFF), (0x100, 0), (0x1FF10, 0x10)],
)
def test_uv_channel_is_the_whole_low_byte(uvw, channel):
    data = page([Obj(LAYER, "L", layer_body("L", uvw=uvw))])
    [layer] = lumivex.PrpFile.from_bytes(data).objects()
    assert layer.as_layer().uv_channel == channel
