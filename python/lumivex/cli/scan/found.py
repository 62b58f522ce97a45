"""The pages a scan reads: the ".prp" files under folders, and what it
passes over (files that are not regular files, folders it cannot list)."""

from __future__ import annotations

import os
import stat
from array import array
from collections.abc import Iterable
from typing import NamedTuple

from lumivex import folders


class Passed(NamedTuple):
    """A path the scan reports without loading it: a file that is not a
    regular file (skipped), or a folder that cannot be listed (an error)."""

    path: str
    skipped: bool
    reason: str


class Paths:
    """Paths packed in one string, each followed by a NUL. Forked workers
    share it untouched, where they would copy a list of strings page by page
    as they count references to its items; it is also the smaller."""

    # Paths gathered before they join the packed ones.
    BATCH = 1024

    def __init__(self) -> None:
        self.parts: list[str] = []
        self.batch: list[str] = []
        self.text = ""
        self.ends = array("Q")
        self.length = 0
        self.widest = 0

    def append(self, path: str) -> None:
        self.batch.append(path)
        self.length += len(path) + 1
        self.ends.append(self.length)
        self.widest = max(self.widest, len(path))
        if len(self.batch) == self.BATCH:
            self.pack()

    def pack(self) -> None:
        self.parts.append("".join(path + "\0" for path in self.batch))
        self.batch.clear()

    def close(self) -> None:
        """Ends the appending: every path is in the text from then on."""
        self.pack()
        self.text = "".join(self.parts)
        self.parts.clear()

    def __len__(self) -> int:
        return len(self.ends)

    def __getitem__(self, number: int) -> str:
        start = self.ends[number - 1] if number else 0
        return self.text[start : self.ends[number] - 1]


class Found:
    """The pages under the paths in the order they are scanned, and what was
    passed over, each with the number of pages found before it."""

    def __init__(self) -> None:
        self.pages = Paths()
        self.passed: list[tuple[int, Passed]] = []

    def pass_over(self, path: str, skipped: bool, reason: str) -> None:
        self.passed.append((len(self.pages), Passed(path, skipped, reason)))


FILE_KINDS = {
    stat.S_IFIFO: "a FIFO",
    stat.S_IFCHR: "a character device",
    stat.S_IFBLK: "a block device",
    stat.S_IFSOCK: "a socket",
    stat.S_IFDIR: "a link to a folder",
}


def not_regular(mode: int) -> str:
    return f"not a regular file ({FILE_KINDS.get(stat.S_IFMT(mode), 'of an unknown kind')})"


def find_pages(paths: Iterable[str]) -> Found:
    """The ".prp" files under each folder, recursively (links to folders are
    not followed), each folder's files in name order before its subfolders;
    any other path is taken as a page itself. Only regular files are pages: a
    FIFO or a device could block the scan or never end."""
    found = Found()
    for path in paths:
        try:
            mode = os.stat(path).st_mode
        except OSError:
            # Loading it tells why it cannot be read.
            found.pages.append(path)
            continue
        if stat.S_ISDIR(mode):
            walk(path, found)
        elif stat.S_ISREG(mode):
            found.pages.append(path)
        else:
            found.pass_over(path, True, not_regular(mode))
    found.pages.close()
    return found


def walk(top: str, found: Found) -> None:
    for folder, entries in folders.walk(top):
        if isinstance(entries, OSError):
            found.pass_over(folder, False, f"cannot list the folder: {entries.strerror or entries}")
            continue
        for entry in entries:
            if folders.is_folder(entry) or not entry.name.lower().endswith(".prp"):
                continue
            # The type comes with the listing; only links and unknown types
            # cost a stat. A link that leads nowhere, in a loop or into a
            # folder that cannot be read is a page whose load tells why.
            try:
                mode = None if entry.is_file() else entry.stat().st_mode
            except OSError:
                found.pages.append(entry.path)
                continue
            if mode is None:
                found.pages.append(entry.path)
            else:
                found.pass_over(entry.path, True, not_regular(mode))
