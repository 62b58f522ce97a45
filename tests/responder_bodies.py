"""Body builders for plResponderModifier objects and the messages their
commands hold."""

from __future__ import annotations

import lumivex
from builder import Obj, f32, i16, key_ref, page, safe_string, synched, u8, u16, u32

RESPONDER = 0x007C

ANIM_CMD = 0x0206
CAMERA = 0x020A
TIMER_CALLBACK = 0x024F
ENABLE = 0x0254
SOUND = 0x025A
NOTIFY = 0x02ED
RESPONDER_ENABLE = 0x0302
RESPONDER_MSG = 0x0306
ONE_SHOT = 0x0307
AG_CMD = 0x0332
EXCLUDE_REGION = 0x0335
ARMATURE_EFFECT_STATE = 0x0393
SUB_WORLD = 0x03BF
SIM_SUPPRESS = 0x0453

# Bytes a decoder only steps over; not zero, so that a misplaced read shows.
FILL = 0xA5


def fill(n: int) -> bytes:
    return bytes([FILL]) * n


def bit_vector(words: list[int] = ()) -> bytes:
    return u32(len(words)) + b"".join(u32(w) for w in words)


def msg_base(
    sender: str | None = None, receivers: list[str | None] = (), count: int | None = None
) -> bytes:
    """Sender, receiver references (None for an absent one), 12 more bytes."""
    out = key_ref(sender, 0x0001) + u32(len(receivers) if count is None else count)
    return out + b"".join(key_ref(r, 0x0001) for r in receivers) + fill(12)


BARE = msg_base()


def callback(class_id: int) -> bytes:
    """A callback entry: a negative class id stands alone."""
    return u16(class_id) + (b"" if class_id >= 0x8000 else msg_base("Cb", ["To"]) + fill(12))


def with_callbacks(base: bytes, class_ids: list[int] = ()) -> bytes:
    return base + u32(len(class_ids)) + b"".join(callback(c) for c in class_ids)


def anim_cmd(base: bytes = BARE, callbacks: list[int] = (0x8000,)) -> bytes:
    out = with_callbacks(base, callbacks) + bit_vector([6, 1]) + fill(28)
    return out + safe_string("AnimName") + safe_string("Loop")


def camera(base: bytes = BARE) -> bytes:
    out = base + bit_vector([1]) + fill(9) + key_ref("Cam", 0x0001) + key_ref(None)
    return out + fill(45)


def timer_callback(base: bytes = BARE) -> bytes:
    return base + u32(3) + f32(1.5)


def enable(base: bytes = BARE) -> bytes:
    return base + bit_vector([2]) + bit_vector([0, 7])


def sound(base: bytes = BARE, callbacks: list[int] = (0x0000, 0xFFFF)) -> bytes:
    return with_callbacks(base, callbacks) + bit_vector([4]) + fill(30) + u32(9) + fill(13)


EVENT_SIZES = {1: 2, 2: 13, 3: 5, 7: 2, 8: 4, 9: 4}


def notify(base: bytes = BARE, events: list[int] = (1, 2, 3, 7, 8, 9), count=None) -> bytes:
    """Events of known types carry their bytes; others are stored bare."""
    out = base + fill(12) + u32(len(events) if count is None else count)
    return out + b"".join(u32(e) + fill(EVENT_SIZES.get(e, 0)) for e in events)


def one_shot(base: bytes = BARE, names: list[str] = ("Marker", "Stop"), count=None) -> bytes:
    out = base + u32(len(names) if count is None else count)
    return out + b"".join(safe_string(n) + key_ref(n, 0x0001) + u16(i) for i, n in enumerate(names))


def ag_cmd(base: bytes = BARE) -> bytes:
    return base + bit_vector([1, 2, 3]) + fill(16) + safe_string("Walk")


def steps(n: int):
    return lambda base=BARE: base + fill(n)


def sub_world(base: bytes = BARE) -> bytes:
    return base + key_ref("World", 0x0001)


# One body builder per command class; each takes the message base to use.
BODIES = {
    ANIM_CMD: anim_cmd,
    CAMERA: camera,
    TIMER_CALLBACK: timer_callback,
    ENABLE: enable,
    SOUND: sound,
    NOTIFY: notify,
    RESPONDER_ENABLE: steps(1),
    RESPONDER_MSG: steps(0),
    ONE_SHOT: one_shot,
    AG_CMD: ag_cmd,
    EXCLUDE_REGION: steps(5),
    ARMATURE_EFFECT_STATE: steps(2),
    SUB_WORLD: sub_world,
    SIM_SUPPRESS: steps(1),
}


def command(class_id: int, body: bytes | None = None) -> bytes:
    """A command up to, not including, its wait_on byte."""
    return u16(class_id) + (BODIES[class_id]() if body is None else body)


def state(commands: list[bytes] = (), waits: int = 1, a: int = 1, b: int = 2) -> bytes:
    """Each command (from `command`) is followed by its wait_on byte."""
    out = u8(a) + u8(b) + u8(len(commands))
    out += b"".join(c + u8(i) for i, c in enumerate(commands))
    return out + u8(waits) + fill(2 * waits)


def responder_head(name: str | None = "Responder1", flags: int = 0, bit_words=(9,), **lists):
    """Class index, own key, synched prefix and bit vector."""
    return (
        i16(RESPONDER) + key_ref(name, RESPONDER) + synched(flags, **lists) + bit_vector(bit_words)
    )


def trailer(cur_state: int = 3, enabled: int = 0, last_byte: int = 7) -> bytes:
    return u8(cur_state) + u8(enabled) + u8(last_byte)


def responder(states: list[bytes] = (), *, trail: bytes | None = None, **head) -> bytes:
    out = responder_head(**head) + u8(len(states)) + b"".join(states)
    return out + (trailer() if trail is None else trail)


def decode(body: bytes) -> lumivex.ResponderMod:
    return lumivex.PrpFile.from_bytes(page([Obj(RESPONDER, "R", body)])).objects()[0].as_responder()


def summary(body: bytes) -> tuple[int, int, bool]:
    mod = decode(body)
    return (mod.num_states, mod.cur_state, mod.enabled)


# The default trailer reads (3, false); a decode that stopped early keeps
# (0, true) whatever the trailer holds.
def read_whole(states: int) -> tuple[int, int, bool]:
    return (states, 3, False)


def stopped(states: int) -> tuple[int, int, bool]:
    return (states, 0, True)
