"""Message bases and callback lists, read through responder commands: a
misread length shows as a misplaced trailer or an early stop."""

import pytest
from builder import key_ref, u8, u16, u32
from responder_bodies import (
    ANIM_CMD,
    RESPONDER_MSG,
    SOUND,
    anim_cmd,
    command,
    fill,
    msg_base,
    read_whole,
    responder,
    responder_head,
    sound,
    state,
    stopped,
    summary,
)

HUGE = 0xFFFFFFFF


def with_message(cmd: bytes) -> tuple[int, int, bool]:
    return summary(responder([state([cmd, command(RESPONDER_MSG)])]))


def test_bare_message_base_is_seventeen_bytes():
    assert with_message(u16(RESPONDER_MSG) + u8(0) + u32(0) + fill(12)) == read_whole(1)


@pytest.mark.parametrize(
    "receivers", [[None], [None, "A", None, None], ["A", "B"]], ids=["absent", "mixed", "present"]
)
def test_receivers_present_and_absent(receivers):
    base = msg_base("Sender", receivers)
    assert with_message(command(RESPONDER_MSG, base)) == read_whole(1)


@pytest.mark.parametrize("class_id", [0x8000, 0xFFFF, 0x0000, 0x7FFF, 0x0206])
@pytest.mark.parametrize("message", [ANIM_CMD, SOUND], ids=hex)
def test_callback_entries(class_id, message):
    build = anim_cmd if message == ANIM_CMD else sound
    cmd = command(message, build(msg_base(None, ["R"]), [class_id, 0x8000, class_id]))
    assert with_message(cmd) == read_whole(1)


@pytest.mark.parametrize("missing", range(1, 13))
def test_data_ending_inside_the_stepped_bytes(missing):
    body = responder_head() + u8(1) + u8(0) + u8(0) + u8(1) + command(RESPONDER_MSG)[:-missing]
    assert summary(body) == stopped(1)


@pytest.mark.parametrize(
    "cmd",
    [
        u16(RESPONDER_MSG) + key_ref(None) + u32(HUGE) + u8(0) * 3,
        u16(ANIM_CMD) + msg_base() + u32(HUGE) + u16(0x8000) * 3,
    ],
    ids=["receivers", "callbacks"],
)
def test_huge_counts_with_little_data(cmd):
    body = responder_head() + u8(1) + u8(0) + u8(0) + u8(1) + cmd
    assert summary(body) == stopped(1)
