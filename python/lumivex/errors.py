"""The one-line text of an error as the command and the server show it."""

from __future__ import annotations

import os


def error_text(error: BaseException) -> str:
    """An error's message followed by the reasons behind it, down its chain of
    causes: the system's for a failure of the system, the data's for bytes
    that are not what they should be. Other errors are their message alone."""
    if isinstance(error, MemoryError):
        return "out of memory"
    if isinstance(error, OSError) and error.strerror:
        if error.args[:2] == (error.errno, error.strerror):
            # Raised by Python itself, whose message is "[Errno N] reason: 'name'".
            if error.filename is None:
                return error.strerror
            return f"{os.fsdecode(error.filename)}: {error.strerror}"
        return f"{error}: {error.strerror}"
    if isinstance(error, (OSError, ValueError)) and error.__cause__ is not None:
        return f"{error}: {error_text(error.__cause__)}"
    return str(error)
