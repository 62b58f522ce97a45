"""Message bases and callback lists, read through responder commands: a
misread length shows as a misplaced trailer or an early stop."""

import pytest

from fixtures.builder import key_ref, u8, u16, u32
from fixtures.responder_bodies import (
    FILL,
    RESPONDER_MSG,
    anim_rest,
    callbacks,
    command,
    msg_base,
    one_command,
    responder,
    sound_rest,
    state,
    summary,
)


def read_whole(cmd: bytes) -> bool:
    return summary(responder(state(cmd, command(RESPONDER_MSG)))) == (1, 3, False)


@pytest.mark.parametrize(
    "base",
    [u8(0) + u32(0) + FILL * 12, msg_base("S", [None]), msg_base(None, [None, "A", None, "B"])],
    ids=["17 bytes", "absent receiver", "mixed receivers"],
)
def test_message_base(base):
    assert read_whole(command(RESPONDER_MSG, base))


@pytest.mark.parametrize("class_id", [0x8000, 0xFFFF, 0x0000, 0x7FFF])
@pytest.mark.parametrize("rest", [anim_rest, sound_rest], ids=["anim", "sound"])
def test_callback_entries(class_id, rest):
    message = 0x0206 if rest is anim_rest else 0x025A
    assert read_whole(command(message, rest=rest(callbacks(class_id, 0x8000, class_id))))


@pytest.mark.parametrize(
    "cmd",
    [
        *(command(RESPONDER_MSG)[:-missing] for missing in range(1, 13)),
        u16(RESPONDER_MSG) + key_ref(None) + u32(0xFFFFFFFF) + u8(0) * 3,
        command(0x0206, rest=u32(0xFFFFFFFF) + u16(0x8000) * 3),
    ],
)
def test_missing_bytes_stop_the_responder_early(cmd):
    assert summary(one_command(cmd)) == (1, 0, True)
