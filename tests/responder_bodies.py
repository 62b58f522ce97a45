"""Body builders for plResponderModifier objects and the messages their
commands hold, and a decoding helper shared by the responder tests."""

import lumivex
from builder import Obj, f32, i16, key_ref, page, safe_string, synched, u8, u16, u32

RESPONDER = 0x007C
RESPONDER_MSG = 0x0306
FILL = b"\xa5"  # stepped-over bytes; not zero, so that a misplaced read shows


def bit_vector(*words: int) -> bytes:
    return u32(len(words)) + b"".join(u32(w) for w in words)


def msg_base(sender=None, receivers=(), count=None) -> bytes:
    """Sender, receiver references (None for an absent one), 12 more bytes."""
    out = key_ref(sender, 1) + u32(len(receivers) if count is None else count)
    return out + b"".join(key_ref(r, 1) for r in receivers) + FILL * 12


def callbacks(*class_ids: int) -> bytes:
    """Callback entries; a negative class id stands alone."""
    entries = (
        u16(c) + (b"" if c >= 0x8000 else msg_base("Cb", ["To"]) + FILL * 12) for c in class_ids
    )
    return u32(len(class_ids)) + b"".join(entries)


EVENT_SIZES = {1: 2, 2: 13, 3: 5, 7: 2, 8: 4, 9: 4}


def events(*types: int, count=None) -> bytes:
    """Notify events: known types carry their bytes, others stand bare."""
    body = b"".join(u32(t) + FILL * EVENT_SIZES.get(t, 0) for t in types)
    return u32(len(types) if count is None else count) + body


def one_shots(*names: str, count=None) -> bytes:
    body = b"".join(safe_string(n) + key_ref(n, 1) + u16(i) for i, n in enumerate(names))
    return u32(len(names) if count is None else count) + body


def anim_rest(entries: bytes) -> bytes:
    return entries + bit_vector(6, 1) + FILL * 28 + safe_string("A") + safe_string("B")


def sound_rest(entries: bytes) -> bytes:
    return entries + bit_vector(4) + FILL * 30 + u32(9) + FILL * 13


# What follows the message base of each command class.
REST = {
    0x0206: anim_rest(callbacks(0x8000, 0x0000)),
    0x025A: sound_rest(callbacks(0xFFFF, 0x7FFF)),
    0x020A: bit_vector(1) + FILL * 9 + key_ref("Cam", 1) + key_ref(None) + FILL * 45,
    0x024F: u32(3) + f32(1.5),
    0x0254: bit_vector(2) + bit_vector(0, 7),
    0x02ED: FILL * 12 + events(1, 2, 3, 7, 8, 9),
    0x0302: FILL,
    RESPONDER_MSG: b"",
    0x0307: one_shots("Marker", "Stop"),
    0x0332: bit_vector(1, 2, 3) + FILL * 16 + safe_string("Walk"),
    0x0335: FILL * 5,
    0x0393: FILL * 2,
    0x03BF: key_ref("World", 1),
    0x0453: FILL,
}


def command(class_id: int, base: bytes = msg_base(), rest: bytes | None = None) -> bytes:
    """A command up to, not including, its wait_on byte."""
    return u16(class_id) + base + (REST[class_id] if rest is None else rest)


def state(*commands: bytes, waits: int = 1) -> bytes:
    """value_a, value_b, the commands each with its wait_on byte, the waits."""
    out = u8(1) + u8(2) + u8(len(commands)) + b"".join(c + u8(i) for i, c in enumerate(commands))
    return out + u8(waits) + FILL * (2 * waits)


def head(name="Responder1", flags=0, words=(9,), **lists) -> bytes:
    """Class index, own key, synched prefix and bit vector."""
    return i16(RESPONDER) + key_ref(name, RESPONDER) + synched(flags, **lists) + bit_vector(*words)


def trailer(cur_state=3, enabled=0) -> bytes:
    return u8(cur_state) + u8(enabled) + u8(7)


def responder(*states: bytes, trail: bytes = trailer(), **head_options) -> bytes:
    return head(**head_options) + u8(len(states)) + b"".join(states) + trail


def one_command(cmd: bytes) -> bytes:
    """One state whose single command is cut where `cmd` ends."""
    return head() + u8(1) + state()[:2] + u8(1) + cmd


def summary(body: bytes) -> tuple[int, int, bool]:
    """(num_states, cur_state, enabled). With the default trailer a whole read
    gives (n, 3, False); a decode that stopped early gives (n, 0, True)."""
    objects = lumivex.PrpFile.from_bytes(page([Obj(RESPONDER, "R", body)])).objects()
    mod = objects[0].as_responder()
    return (mod.num_states, mod.cur_state, mod.enabled)
