"""What the subcommands share: the failure they report in one line, and the
loading and writing of the files they are given."""

from __future__ import annotations

import io
import os
import sys
from typing import TextIO

import lumivex
from lumivex.shapes import printable_text


class CommandError(Exception):
    """A failure the command reports in one line before it exits with status 1."""


def report(message: str, status: int) -> int:
    """The message on one line of printable text, and the status."""
    print(f"lumivex: {printable_text(message, keep_bytes=True)}", file=sys.stderr)
    return status


def is_not_utf8(error: OSError) -> bool:
    """Whether a text file failed to load for its bytes, not for the system:
    the one data failure of age and state description files. A file refused
    for what it is (a FIFO where only a regular file is read) is not one."""
    return isinstance(error.__cause__, ValueError) and "UTF-8" in str(error.__cause__)


# The text files a page command may be given by mistake, by suffix.
TEXT_FILES = {".age": "an age description", ".sdl": "a state description"}


def not_text(path: str, kind: str) -> str:
    """Why a file that is not UTF-8 text is not of the text kind asked for:
    a page file given by mistake is named as one."""
    if os.path.splitext(path)[1].lower() == ".prp":
        return f"{path} is a page file, not {kind}"
    return f"{path} is not {kind}: it is not UTF-8 text"


def load_page(path: str) -> lumivex.PrpFile:
    try:
        return lumivex.PrpFile.load(path)
    except IsADirectoryError as error:
        raise CommandError(f"{path} is a folder, not a page file") from error
    except OSError as error:
        # Bytes that are no page's, in a file named as one of the text files.
        kind = TEXT_FILES.get(os.path.splitext(path)[1].lower())
        if kind is None or not isinstance(error.__cause__, ValueError):
            raise
        raise CommandError(f"{path} is {kind}, not a page file (.prp)") from error


def replace_file(path: str, data: bytes, *, dry_run: bool = False) -> None:
    """Writes data to path as a page's save does, so that a failed write
    leaves any old file whole. A pipe whose reader went away ends the
    command quietly, as any closed output does. A dry run writes nothing
    but fails where the save would fail before writing."""
    try:
        if dry_run:
            lumivex.save_files([(path, data)], in_place=True, dry_run=True)
        else:
            lumivex.save_file(path, data)
    except BrokenPipeError:
        raise
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror or error}") from error


def messages_beside(path: str) -> TextIO:
    """Where a command's messages go when it writes path: standard error where
    path is standard output's own file (-o /dev/stdout), so that they do not
    mix with what is written there."""
    try:
        if os.path.samestat(os.stat(path), os.fstat(sys.stdout.fileno())):
            return sys.stderr
    except (OSError, ValueError, io.UnsupportedOperation):
        pass
    return sys.stdout
