"""Scanning pages: each loaded and every object of a decodable class decoded,
and the counts of a range of pages."""

from __future__ import annotations

from collections import Counter
from collections.abc import Callable, Sequence
from typing import Any, NamedTuple

import lumivex
from lumivex.classes import DECODERS
from lumivex.cli.scan.found import Passed, Paths
from lumivex.errors import error_text

# The class name, the object name and the message of an object that failed to decode.
Failure = tuple[str, str, str]


class PageScan(NamedTuple):
    """What one page gave: its counts, or the error that kept it from loading."""

    objects: int
    decoded: int
    lost_keys: int
    error: str | None
    failures: list[Failure]


def scan_page(path: str) -> PageScan:
    # A file replaced by a FIFO or a device since the walk is refused, not waited on.
    try:
        page = lumivex._lumivex._load_regular_page(path)
    except (OSError, MemoryError) as error:
        return PageScan(0, 0, 0, error_text(error), [])
    decoded = 0
    failures = []
    for obj in page:
        decode = DECODERS.get(obj.class_name)
        if decode is None:
            continue
        try:
            decode(obj)
        except (OSError, ValueError, MemoryError) as error:
            failures.append((obj.class_name, obj.name, error_text(error)))
        else:
            decoded += 1
    return PageScan(len(page), decoded, page.lost_keys, None, failures)


class Totals:
    """The counts of a scan or of a range of it, and the failures by message."""

    COUNTS = ("pages", "unreadable", "recovered", "objects", "decoded", "failed", "lost_keys")

    def __init__(self) -> None:
        self.pages = self.unreadable = self.recovered = 0
        self.objects = self.decoded = self.failed = self.lost_keys = 0
        self.skipped = self.unreadable_folders = 0
        self.messages: Counter[str] = Counter()

    def add(self, scan: PageScan) -> None:
        self.pages += 1
        self.objects += scan.objects
        self.decoded += scan.decoded
        if scan.error is not None:
            self.unreadable += 1
        if scan.lost_keys:
            self.recovered += 1
            self.lost_keys += scan.lost_keys
        if scan.failures:
            self.failed += len(scan.failures)
            self.messages.update(message for _, _, message in scan.failures)

    def add_passed(self, passed: Passed) -> None:
        if passed.skipped:
            self.skipped += 1
        else:
            self.unreadable_folders += 1

    def counts(self) -> tuple[int | dict[str, int], ...]:
        """The counts of the pages as plain data, to pass between processes."""
        return (*(getattr(self, name) for name in self.COUNTS), dict(self.messages))

    @classmethod
    def from_counts(cls, counts: Sequence[Any]) -> Totals:
        totals = cls()
        for name, value in zip(cls.COUNTS, counts, strict=False):
            setattr(totals, name, value)
        totals.messages.update(counts[-1])
        return totals

    def merge(self, other: Totals) -> None:
        for name in self.COUNTS:
            setattr(self, name, getattr(self, name) + getattr(other, name))
        self.messages.update(other.messages)

    @property
    def clean(self) -> bool:
        """Whether every page loaded whole, every object decoded and every
        folder could be listed."""
        return not (self.unreadable or self.recovered or self.failed or self.unreadable_folders)

    def by_count(self) -> list[tuple[str, int]]:
        """The most frequent message first; equal counts by message."""
        return sorted(self.messages.items(), key=lambda item: (-item[1], item[0]))


class Done(NamedTuple):
    """A range of pages scanned: the report of each page and their totals."""

    pages: range
    pieces: list[str]
    totals: Totals


def scan_range(pages: Paths, chosen: range, page_text: Callable[[str, PageScan], str]) -> Done:
    """Scans the pages of a range, each reported by page_text."""
    pieces = []
    totals = Totals()
    for number in chosen:
        path = pages[number]
        scan = scan_page(path)
        totals.add(scan)
        pieces.append(page_text(path, scan))
    return Done(chosen, pieces, totals)
