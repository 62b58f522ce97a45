import lumivex
import pytest
from builder import Obj, page, u8, u32
from responder_bodies import (
    BODIES,
    NOTIFY,
    ONE_SHOT,
    RESPONDER,
    RESPONDER_MSG,
    SOUND,
    bit_vector,
    command,
    decode,
    msg_base,
    notify,
    one_shot,
    read_whole,
    responder,
    responder_head,
    sound,
    state,
    stopped,
    summary,
    trailer,
)

END = "failed to fill whole buffer"
HUGE = 0xFFFFFFFF


def fails(body: bytes) -> None:
    with pytest.raises(ValueError) as caught:
        decode(body)
    assert str(caught.value) == END


def test_view_and_repr():
    mod = decode(responder([state([command(RESPONDER_MSG)]), state()], trail=trailer(4, 2, 0)))
    assert (mod.name, mod.num_states, mod.cur_state, mod.enabled) == ("Responder1", 2, 4, True)
    assert repr(mod) == "ResponderMod('Responder1', 2 states, enabled=true)"
    mod = decode(responder(name=None))
    assert (mod.name, repr(mod)) == ("", "ResponderMod('', 0 states, enabled=false)")


def test_no_constructor_and_class_not_checked():
    with pytest.raises(TypeError, match="No constructor defined for ResponderMod"):
        lumivex.ResponderMod()
    body = responder([state()])
    objects = lumivex.PrpFile.from_bytes(
        page([Obj(0x0001, "Scene", body), Obj(RESPONDER, "Far", body, data_len=5000)])
    ).objects()
    assert objects[0].as_responder().num_states == 1
    with pytest.raises(OSError, match="^Object data not found$"):
        objects[1].as_responder()


@pytest.mark.parametrize(
    "flags, lists",
    [(0x20, {}), (0x40, {"second": ["s"]}), (0x50, {"first": ["f"], "second": ["s"]})],
)
def test_synched_prefix_second_list_follows_bit_0x40(flags, lists):
    assert summary(responder([state()], flags=flags, **lists)) == read_whole(1)


def test_states_without_commands_and_waits():
    assert summary(responder()) == read_whole(0)
    assert summary(responder([state(waits=0), state(waits=3)])) == read_whole(2)


@pytest.mark.parametrize("class_id", BODIES, ids=hex)
@pytest.mark.parametrize(
    "base", [msg_base(), msg_base("Sender", [None, "A", "B", None])], ids=["bare", "receivers"]
)
def test_every_command_class(class_id, base):
    cmd = command(class_id, BODIES[class_id](base))
    states = [state([cmd, command(RESPONDER_MSG), cmd]), state([cmd], waits=2)]
    assert summary(responder(states)) == read_whole(2)


@pytest.mark.parametrize("class_id", [0x0001, 0x0000, 0x0205, 0x8000, 0xFFFF])
def test_unknown_command_class_stops_early(class_id):
    states = [state([command(RESPONDER_MSG)]), state([u32(class_id)[:2], command(RESPONDER_MSG)])]
    assert summary(responder(states)) == stopped(2)


@pytest.mark.parametrize("event_type", [0, 4, 5, 6, 10, HUGE])
def test_unknown_notify_event_ends_the_event_list(event_type):
    cmd = command(NOTIFY, notify(events=[1, 2, event_type], count=9))
    assert summary(responder([state([cmd])])) == read_whole(1)


@pytest.mark.parametrize("enabled, expected", [(0, False), (1, True), (2, True), (255, True)])
def test_enabled_byte(enabled, expected):
    assert decode(responder(trail=trailer(enabled=enabled))).enabled is expected


def test_command_ending_before_its_wait_on_is_fatal():
    whole = responder([state([command(RESPONDER_MSG)])])
    head = responder_head() + u8(1) + u8(1) + u8(2) + u8(1)
    fails(head + command(RESPONDER_MSG))
    assert summary(head + command(RESPONDER_MSG)[:-1]) == stopped(1)
    assert summary(whole) == read_whole(1)


@pytest.mark.parametrize(
    "cmd",
    [
        command(RESPONDER_MSG, msg_base(count=HUGE)),
        command(SOUND, sound(callbacks=[0x8000])[:-60] + u32(HUGE)),
        command(ONE_SHOT, one_shot(count=HUGE)),
        command(NOTIFY, notify(count=HUGE)),
        command(0x0254, msg_base() + bit_vector([1])[:0] + u32(HUGE) + u32(1)),
    ],
    ids=["receivers", "callbacks", "one-shot callbacks", "notify events", "bit vector"],
)
def test_huge_counts_inside_a_command_stop_early(cmd):
    body = responder_head() + u8(1) + u8(1) + u8(2) + u8(1) + cmd
    assert summary(body) == stopped(1)


def test_huge_bit_vector_before_the_states_is_fatal():
    fails(responder_head(bit_words=()).removesuffix(u32(0)) + u32(HUGE) + u32(0) * 8)


# Two states of one command each; a cut inside a command stops early, any
# other cut is fatal.
HEAD = responder_head(flags=0x50, first=["f"], second=["s"], bit_words=(1, 2)) + u8(2)
FIRST = command(0x0206)
SECOND = command(ONE_SHOT)
BODY_PARTS = [
    HEAD + u8(1) + u8(2) + u8(1),
    FIRST,
    u8(0) + u8(1) + b"\x01\x02" + u8(3) + u8(4) + u8(1),
    SECOND,
    u8(0) + u8(0) + trailer(),
]
BODY = b"".join(BODY_PARTS)


def expected_at(cut: int):
    first_at = len(BODY_PARTS[0])
    second_at = first_at + len(FIRST) + len(BODY_PARTS[2])
    if first_at <= cut < first_at + len(FIRST):
        return stopped(1)
    if second_at <= cut < second_at + len(SECOND):
        return stopped(2)
    return None


@pytest.mark.parametrize("cut", range(len(BODY) + 1))
def test_truncated_at_every_offset(cut):
    expected = expected_at(cut) if cut < len(BODY) else read_whole(2)
    if expected is None:
        fails(BODY[:cut])
    else:
        assert summary(BODY[:cut]) == expected
