"""What the subcommands share: the failure they report in one line, and the
loading and writing of the files they are given."""

from __future__ import annotations

import os
import stat
import sys

import lumivex


class CommandError(Exception):
    """A failure the command reports in one line before it exits with status 1."""


def report(message: str, status: int) -> int:
    one_line = message.replace("\r", "\\r").replace("\n", "\\n")
    print(f"lumivex: {one_line}", file=sys.stderr)
    return status


def is_not_utf8(error: OSError) -> bool:
    """Whether a text file failed to load for its bytes, not for the system:
    the one data failure of age and state description files."""
    return isinstance(error.__cause__, ValueError)


def load_page(path: str) -> lumivex.PrpFile:
    try:
        return lumivex.PrpFile.load(path)
    except IsADirectoryError as error:
        raise CommandError(f"{path} is a folder, not a page file") from error


def replace_file(path: str, data: bytes) -> None:
    """Writes data to path through a new file beside it, so that a failed
    write leaves any old file whole. Only a regular file is ever replaced."""
    try:
        old = os.stat(path)
    except FileNotFoundError:
        old = None
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from error
    if old is not None and not stat.S_ISREG(old.st_mode):
        raise CommandError(f"cannot write {path}: it is not a regular file")
    if old is not None:
        mode = stat.S_IMODE(old.st_mode)
    else:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    # Imported here: only texture writes files, and the import would slow
    # every command's start.
    import tempfile

    try:
        descriptor, temporary = tempfile.mkstemp(
            dir=os.path.dirname(path) or ".", prefix=".lumivex-", suffix=".part"
        )
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror}") from error
    try:
        with os.fdopen(descriptor, "wb") as out:
            out.write(data)
            os.fchmod(out.fileno(), mode)
        os.replace(temporary, path)
    except OSError as error:
        os.unlink(temporary)
        raise CommandError(f"cannot write {path}: {error.strerror}") from error
