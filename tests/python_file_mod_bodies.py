"""Body builders for plPythonFileMod objects and their parameters."""

from __future__ import annotations

from builder import i16, key_ref, safe_string, synched, u32

PYTHON_FILE_MOD = 0x00A2


def counted(text: str | bytes, *, terminator: bool = True) -> bytes:
    """A u32 length that counts a terminator, the text, then the terminator."""
    raw = text.encode() if isinstance(text, str) else bytes(text)
    return u32(len(raw) + 1) + raw + (b"\0" if terminator else b"")


def param(param_id: int, type_code: int, data: bytes = b"") -> bytes:
    return u32(param_id) + u32(type_code) + data


def python_file_mod(
    python_file: str = "xScript",
    receivers: list[str | None] = (),
    params: list[bytes] = (),
    *,
    name: str | None = "Mod",
    flags: int = 0,
    bit_words: list[int] = (),
    receiver_count: int | None = None,
    param_count: int | None = None,
    **lists,
) -> bytes:
    """`receivers` are names (None for an absent reference); `params` are
    built with `param`. The counts default to the lengths of the lists."""
    out = i16(PYTHON_FILE_MOD) + key_ref(name, PYTHON_FILE_MOD) + synched(flags, **lists)
    out += u32(len(bit_words)) + b"".join(u32(w) for w in bit_words)
    out += safe_string(python_file)
    out += u32(len(receivers) if receiver_count is None else receiver_count)
    out += b"".join(key_ref(r, 0x0001) for r in receivers)
    out += u32(len(params) if param_count is None else param_count)
    return out + b"".join(params)
