import pytest

from fixtures.object_bodies import SOUND, prp_object, sound_body


def sound(**kw):
    return prp_object(SOUND, sound_body(**kw)).as_sound()


@pytest.mark.parametrize(
    ("properties", "is_3d", "looping", "auto_start"),
    [(0x0D, True, True, True), (0x02, False, False, False), (0xFFFFFFF4, False, True, False)],
)
def test_property_bits(properties, is_3d, looping, auto_start):
    view = sound(properties=properties)
    assert (view.is_3d, view.looping, view.auto_start) == (is_3d, looping, auto_start)
    assert repr(view) == f"SoundInfo('Wind', file='wind.ogg', vol=0.50, 3d={str(is_3d).lower()})"


def test_distances_and_volume():
    view = sound(min_distance=16777217, max_distance=-1, volume=0.25)
    assert (view.min_distance, view.max_distance, view.volume) == (16777216.0, -1.0, 0.25)


def test_absent_keys():
    view = sound(name=None, buffer=None, volume=float("nan"))
    assert (view.name, view.sound_file) == ("", "")
    assert repr(view) == "SoundInfo('', file='', vol=NaN, 3d=true)"


@pytest.mark.parametrize(
    "prefix", [{"flags": 0x40, "second": ["x"]}, {"flags": 0x20}, {"flags": 0x10, "first": ["a"]}]
)
def test_second_list_is_announced_by_0x40_only(prefix):
    assert sound(**prefix).sound_file == "wind.ogg"
