"""What every object decoder shares: exact end-of-data failures, fresh
decodes, the range test, and no crash on another class's bytes."""

import pytest

from fixtures.object_bodies import DECODERS, prp_object


@pytest.mark.parametrize(
    ("method", "cut"),
    [
        (method, cut)
        for method, (_, body) in DECODERS.items()
        # A responder cut short stops early without failing; its own tests say how.
        if method != "as_responder"
        for cut in range(len(body))
    ],
)
def test_every_truncation_fails_at_the_end_of_data(method, cut):
    class_type, body = DECODERS[method]
    obj = prp_object(class_type, body[:cut])
    with pytest.raises(ValueError, match="^failed to fill whole buffer$"):
        getattr(obj, method)()
    assert obj.data == body[:cut]


@pytest.mark.parametrize("method", DECODERS)
def test_whole_body_decodes_afresh_each_time(method):
    class_type, body = DECODERS[method]
    obj = prp_object(class_type, body + b"trailing bytes are ignored")
    first, second = getattr(obj, method)(), getattr(obj, method)()
    assert first is not second and repr(first) == repr(second)


@pytest.mark.parametrize("method", DECODERS)
@pytest.mark.parametrize("other", DECODERS)
def test_other_class_bytes_give_a_view_or_a_value_error(method, other):
    class_type, body = DECODERS[other]
    for data in (body, body[:7], b"\xff" * 64, bytes(64)):
        try:
            getattr(prp_object(class_type, data), method)()
        except ValueError:
            pass


@pytest.mark.parametrize("method", DECODERS)
def test_data_outside_the_page(method):
    class_type, body = DECODERS[method]
    with pytest.raises(OSError, match="^Object data not found$"):
        getattr(prp_object(class_type, body, data_len=1 << 20), method)()
