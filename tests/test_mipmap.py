import pytest

from fixtures.object_bodies import MIPMAP, mipmap_body, prp_object


def mipmap(**kw):
    return prp_object(MIPMAP, mipmap_body(**kw)).as_mipmap()


def header_through_compression(compression):
    """A mipmap body that ends right after its compression type."""
    body = mipmap_body(compression=compression)
    return body[: body.index(bytes([2, 9, 9, 9, 0, compression])) + 6]


@pytest.mark.parametrize(
    ("compression", "info", "dxt_type"), [(0, b"\x03", 3), (1, b"\x10\x05", 5), (3, b"\xff", 255)]
)
def test_mipmap_fields(compression, info, dxt_type):
    view = mipmap(compression=compression, info=info, width=1024, height=512)
    assert (view.name, view.width, view.height, view.num_levels) == ("Stone", 1024, 512, 3)
    assert (view.compression_type, view.dxt_type, view.total_size) == (compression, dxt_type, 12)
    assert view.pixel_data == bytes(range(12))
    assert repr(view) == "Mipmap('Stone', 1024x512, 3 levels, 12 bytes)"


@pytest.mark.parametrize(
    ("total_size", "pixels", "taken"),
    [(0, b"", b""), (0, b"abc", b""), (2, b"abc", b"ab"), (0xFFFFFFFF, b"abc", b"abc")],
)
def test_pixel_data_is_what_the_object_holds(total_size, pixels, taken):
    view = mipmap(name=None, total_size=total_size, pixels=pixels)
    assert (view.name, view.total_size, view.pixel_data) == ("", total_size, taken)
    assert repr(view).endswith(f" {total_size} bytes)")


@pytest.mark.parametrize(
    ("body", "message"),
    [
        (mipmap_body(version=1), "Unsupported bitmap version: 1"),
        (mipmap_body(version=255), "Unsupported bitmap version: 255"),
        (header_through_compression(4), "Unknown compression: 4"),
        (header_through_compression(200), "Unknown compression: 200"),
    ],
)
def test_refused_headers(body, message):
    with pytest.raises(ValueError) as caught:
        prp_object(MIPMAP, body).as_mipmap()
    assert str(caught.value) == message
