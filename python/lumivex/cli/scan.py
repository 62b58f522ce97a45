"""lumivex scan: decode every object of the decodable classes in many pages,
spread over several processes, and count the objects and the failures."""

from __future__ import annotations

import os
from collections import Counter
from collections.abc import Iterable, Sequence
from concurrent.futures import ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from dataclasses import dataclass, field
from typing import TextIO

import lumivex
from lumivex.cli.common import DECODERS, CommandError, print_json


@dataclass
class PageScan:
    """What one page gave: its counts, or the error that kept it from loading."""

    path: str
    objects: int = 0
    decoded: int = 0
    failures: Counter[str] = field(default_factory=Counter)
    error: str | None = None

    @property
    def failed(self) -> int:
        return sum(self.failures.values())


def scan_page(path: str) -> PageScan:
    scan = PageScan(path)
    try:
        page = lumivex.PrpFile.load(path)
    except OSError as error:
        scan.error = str(error)
        return scan
    for obj in page:
        scan.objects += 1
        decode = DECODERS.get(obj.class_name)
        if decode is None:
            continue
        try:
            decode(obj)
        except (OSError, ValueError) as error:
            scan.failures[str(error)] += 1
        else:
            scan.decoded += 1
    return scan


def find_pages(paths: Iterable[str]) -> list[str]:
    """The ".prp" files under each directory, recursively and in name order;
    any other path is taken as a page itself."""
    pages = []
    for path in paths:
        if not os.path.isdir(path):
            pages.append(path)
            continue
        for folder, subfolders, files in os.walk(path, onerror=raise_error):
            subfolders.sort()
            pages += [os.path.join(folder, f) for f in sorted(files) if f.lower().endswith(".prp")]
    return pages


def raise_error(error: OSError) -> None:
    raise error


class Progress:
    """A bar on the stream, drawn only when the stream is a terminal."""

    WIDTH = 30

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total = total
        self.stream = stream
        self.shown = stream.isatty() and total > 0
        self.line = ""

    def update(self, done: int) -> None:
        if not self.shown:
            return
        filled = self.WIDTH * done // self.total
        self.line = f"[{'#' * filled}{'.' * (self.WIDTH - filled)}] {done}/{self.total} pages"
        self.stream.write("\r" + self.line)
        self.stream.flush()

    def clear(self) -> None:
        if self.shown and self.line:
            self.stream.write("\r" + " " * len(self.line) + "\r")
            self.stream.flush()


def scan_pages(pages: Sequence[str], jobs: int, progress: Progress) -> list[PageScan]:
    """Every page's scan, in the order of the pages."""
    results: list[PageScan] = []
    try:
        if jobs == 1 or len(pages) < 2:
            for path in pages:
                results.append(scan_page(path))
                progress.update(len(results))
            return results
        with ProcessPoolExecutor(max_workers=min(jobs, len(pages))) as pool:
            for scan in pool.map(scan_page, pages):
                results.append(scan)
                progress.update(len(results))
        return results
    except BrokenProcessPool as error:
        raise CommandError(f"a scanning process ended abruptly: {error}") from error
    finally:
        progress.clear()


def total_of(scans: Sequence[PageScan]) -> PageScan:
    total = PageScan("total")
    for scan in scans:
        total.objects += scan.objects
        total.decoded += scan.decoded
        total.failures.update(scan.failures)
    return total


def by_count(failures: Counter[str]) -> list[tuple[str, int]]:
    """The most frequent message first; equal counts by message."""
    return sorted(failures.items(), key=lambda item: (-item[1], item[0]))


def page_json(scan: PageScan) -> dict[str, object]:
    return {
        "path": scan.path,
        "objects": scan.objects,
        "decoded": scan.decoded,
        "failed": scan.failed,
        "failures": dict(by_count(scan.failures)),
        "error": scan.error,
    }


def report(scans: Sequence[PageScan], as_json: bool) -> None:
    total = total_of(scans)
    unreadable = sum(1 for scan in scans if scan.error is not None)
    if as_json:
        summary: dict[str, object] = {"pages": len(scans), "unreadable": unreadable}
        summary.update(page_json(total))
        del summary["path"], summary["error"]
        print_json({"pages": [page_json(s) for s in scans], "total": summary})
        return
    width = max(len(scan.path) for scan in scans)
    for scan in scans:
        if scan.error is not None:
            print(f"{scan.path:<{width}}  error: {scan.error}")
            continue
        print(f"{scan.path:<{width}}  {counts(scan)}")
        for message, count in by_count(scan.failures):
            print(f"    {count:6}  {message}")
    pages = f"{len(scans)} pages" + (f" ({unreadable} unreadable)" if unreadable else "")
    print(f"total: {pages}, {counts(total)}")
    for message, count in by_count(total.failures):
        print(f"    {count:6}  {message}")


def counts(scan: PageScan) -> str:
    return f"{scan.objects} objects, {scan.decoded} decoded, {scan.failed} failed"


def run(paths: Sequence[str], jobs: int, as_json: bool, progress_stream: TextIO) -> int:
    pages = find_pages(paths)
    if not pages:
        raise CommandError("no .prp files under " + ", ".join(paths))
    scans = scan_pages(pages, jobs, Progress(len(pages), progress_stream))
    report(scans, as_json)
    return 1 if any(scan.error is not None for scan in scans) else 0
