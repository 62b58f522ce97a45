"""Any bytes at all give a page or the documented error, and every object of a
damaged page decodes to a view or a ValueError."""

import random

import lumivex
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from fixtures.builder import Obj, key_ref, page, synched, u32

DECODERS = [name for name in dir(lumivex.PrpObject) if name.startswith("as_")]


def seed_page() -> bytes:
    body = b"\x01\x00" + key_ref("Obj", 1) + synched(0x50, ["a"], ["b"]) + u32(0xFFFFFFFF)
    objs = [Obj(c, f"O{c}", body, object_id=c) for c in (1, 4, 6, 7, 0x3F, 0x49, 0xA2, 0x7C)]
    return page(objs, class_versions=[(1, 1)])


def exercise(data: bytes) -> None:
    try:
        f = lumivex.PrpFile.from_bytes(data)
    except OSError:
        return
    repr(f)
    f.count_by_type()
    try:
        f.to_bytes()
    except OSError:
        pass
    for obj in f:
        repr(obj)
        assert obj.data is None or len(obj.data) == obj.data_len
        for name in DECODERS:
            try:
                repr(getattr(obj, name)())
            except (OSError, ValueError):
                pass


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=400))
def test_arbitrary_bytes(data):
    exercise(data)


@settings(max_examples=300, deadline=None)
@given(
    st.lists(st.tuples(st.integers(0, 10_000), st.integers(0, 255)), max_size=8),
    st.integers(0, 10_000),
)
def test_mutated_pages(flips, cut):
    data = bytearray(seed_page())
    for at, value in flips:
        data[at % len(data)] = value
    exercise(bytes(data[: max(cut, len(data) // 2)]))


@pytest.mark.parametrize("seed", range(4))
def test_every_truncation_of_a_page(seed):
    data = seed_page()
    rng = random.Random(seed)
    for cut in range(seed, len(data), 4):
        exercise(data[:cut])
    exercise(bytes(rng.randrange(256) for _ in range(64)) + data)
