"""What the subcommands share: the failure they report in one line, and the
loading and writing of the files they are given."""

from __future__ import annotations

import io
import os
import sys
from typing import TextIO

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
    """Writes data to path as a page's save does, so that a failed write
    leaves any old file whole."""
    try:
        lumivex.save_file(path, data)
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
