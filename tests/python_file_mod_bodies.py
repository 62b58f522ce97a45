"""Body builders for plPythonFileMod objects and their parameters."""

from builder import i16, key_ref, safe_string, synched, u32

PYTHON_FILE_MOD = 0x00A2


def counted(text: str | bytes, terminator: bytes = b"\0") -> bytes:
    """A u32 length that counts the terminator, the text, the terminator."""
    raw = text.encode() if isinstance(text, str) else text
    return u32(len(raw) + 1) + raw + terminator


def param(param_id: int, type_code: int, data: bytes = b"") -> bytes:
    return u32(param_id) + u32(type_code) + data


def python_file_mod(
    receivers=(), params=(), *, name="Mod", flags=0, bit_words=(), **lists
) -> bytes:
    """`receivers` are names, None for an absent reference; `params` come
    from `param`."""
    out = i16(PYTHON_FILE_MOD) + key_ref(name, PYTHON_FILE_MOD) + synched(flags, **lists)
    out += u32(len(bit_words)) + b"".join(u32(w) for w in bit_words) + safe_string("xScript")
    out += u32(len(receivers)) + b"".join(key_ref(r, 1) for r in receivers)
    return out + u32(len(params)) + b"".join(params)
