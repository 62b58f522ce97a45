import lumivex
import pytest

from fixtures.builder import Obj, page, u8, u16, u32
from fixtures.responder_bodies import (
    FILL,
    RESPONDER,
    RESPONDER_MSG,
    REST,
    callbacks,
    command,
    events,
    head,
    msg_base,
    one_command,
    one_shots,
    responder,
    state,
    summary,
    trailer,
)

HUGE = 0xFFFFFFFF


def fails(body: bytes) -> None:
    with pytest.raises(ValueError) as caught:
        summary(body)
    assert str(caught.value) == "failed to fill whole buffer"


def test_view():
    body = responder(state(command(RESPONDER_MSG)), state(), trail=trailer(4, 2))
    objects = lumivex.PrpFile.from_bytes(
        page([Obj(0x0001, "S", body), Obj(RESPONDER, "F", body, data_len=999)])
    ).objects()
    mod = objects[0].as_responder()  # the class is not checked
    assert (mod.name, mod.num_states, mod.cur_state, mod.enabled) == ("Responder1", 2, 4, True)
    assert repr(mod) == "ResponderMod('Responder1', 2 states, enabled=true)"
    with pytest.raises(OSError, match="^Object data not found$"):
        objects[1].as_responder()
    with pytest.raises(TypeError, match="No constructor defined for ResponderMod"):
        lumivex.ResponderMod()
    objects = lumivex.PrpFile.from_bytes(
        page([Obj(RESPONDER, "R", responder(name=None))])
    ).objects()
    assert repr(objects[0].as_responder()) == "ResponderMod('', 0 states, enabled=false)"


@pytest.mark.parametrize(
    "body, states",
    [
        (responder(), 0),
        (responder(state(waits=0), state(waits=3)), 2),
        (responder(state(), flags=0x20), 1),
        (responder(state(), flags=0x50, first=["f"], second=["s"]), 1),
    ],
)
def test_states_without_commands(body, states):
    assert summary(body) == (states, 3, False)


@pytest.mark.parametrize("class_id", REST, ids=hex)
@pytest.mark.parametrize(
    "base", [msg_base(), msg_base("S", [None, "A", None])], ids=["bare", "receivers"]
)
def test_every_command_class(class_id, base):
    cmd = command(class_id, base)
    assert summary(responder(state(cmd, command(RESPONDER_MSG), cmd), state(cmd, waits=2))) == (
        2,
        3,
        False,
    )


@pytest.mark.parametrize("class_id", [0x0001, 0x0000, 0x0205, 0x8000, 0xFFFF])
def test_unknown_command_class_stops_early(class_id):
    body = responder(state(command(RESPONDER_MSG)), state(u16(class_id), command(RESPONDER_MSG)))
    assert summary(body) == (2, 0, True)


@pytest.mark.parametrize("event_type", [0, 4, 5, 6, 10, HUGE])
def test_unknown_notify_event_ends_the_event_list(event_type):
    cmd = command(0x02ED, rest=FILL * 12 + events(1, 2, event_type, count=9))
    assert summary(responder(state(cmd))) == (1, 3, False)


@pytest.mark.parametrize("enabled, expected", [(0, False), (1, True), (2, True)])
def test_enabled_byte(enabled, expected):
    assert summary(responder(trail=trailer(enabled=enabled)))[2] is expected


@pytest.mark.parametrize(
    "cmd",
    [
        command(RESPONDER_MSG, msg_base(count=HUGE)),
        command(0x0206, rest=u32(HUGE) + u16(0x8000) * 3),
        command(0x0307, rest=one_shots("a", count=HUGE)),
        command(0x02ED, rest=FILL * 12 + events(1, count=HUGE)),
        command(0x0254, rest=u32(HUGE) + u32(0)),
        command(0x0206, rest=callbacks(0x0000)[:-3]),
    ],
    ids=["receivers", "callbacks", "one-shots", "events", "bit vector", "callback cut"],
)
def test_command_that_cannot_be_read_stops_early(cmd):
    assert summary(one_command(cmd)) == (1, 0, True)


def test_fatal_huge_bit_vector_before_the_states():
    fails(head(words=())[:-4] + u32(HUGE) + u32(0) * 8)


# Two states of one command each: a cut inside a command stops early with
# the states so far; any other cut is fatal, including one right before a
# wait_on byte.
FIRST, SECOND = command(0x0206), command(0x0307)
PARTS = [
    head(flags=0x50, first=["f"], second=["s"]) + u8(2) + state()[:2] + u8(1),
    FIRST,
    u8(0) + u8(1) + FILL * 2 + state()[:2] + u8(1),
    SECOND,
    u8(0) + u8(0) + trailer(),
]
BODY = b"".join(PARTS)
FIRST_AT = len(PARTS[0])
SECOND_AT = FIRST_AT + len(FIRST) + len(PARTS[2])


@pytest.mark.parametrize("cut", range(len(BODY) + 1))
def test_truncated_at_every_offset(cut):
    if FIRST_AT <= cut < FIRST_AT + len(FIRST):
        assert summary(BODY[:cut]) == (1, 0, True)
    elif SECOND_AT <= cut < SECOND_AT + len(SECOND):
        assert summary(BODY[:cut]) == (2, 0, True)
    elif cut == len(BODY):
        assert summary(BODY) == (2, 3, False)
    else:
        fails(BODY[:cut])
