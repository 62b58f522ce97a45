"""Folder trees walked without recursion, however deep they go."""

from __future__ import annotations

import os
from collections.abc import Iterator


def is_folder(entry: os.DirEntry[str]) -> bool:
    """Whether an entry is a folder itself, not a link to one; an entry that
    cannot be looked at is none."""
    try:
        return entry.is_dir(follow_symlinks=False)
    except OSError:
        return False


def leads_to_folder(entry: os.DirEntry[str]) -> bool:
    """Whether an entry is a folder or a link to one."""
    try:
        return entry.is_dir()
    except OSError:
        return False


def walk(top: str) -> Iterator[tuple[str, list[os.DirEntry[str]] | OSError]]:
    """Each folder of the tree under top, with its entries in name order or
    the error that kept it from being listed: top first, each folder before
    its subfolders, subfolders in name order. Links to folders are not
    followed."""
    folders = [top]
    while folders:
        folder = folders.pop()
        try:
            with os.scandir(folder) as listing:
                entries = sorted(listing, key=lambda entry: entry.name)
        except OSError as error:
            yield folder, error
            continue
        yield folder, entries
        folders += reversed([entry.path for entry in entries if is_folder(entry)])
