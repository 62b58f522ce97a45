"""lumivex scan: decode every object of the decodable classes in all the pages
under some paths, and report each page, each object that failed and what the
tree itself kept back (folders that cannot be listed, files that are not
regular files).

The work goes to worker processes when there is enough of it to pay for
them. The parent finds the pages and sends each worker ranges of them sized
by their bytes and their count, two at a time so that no worker waits; a
worker returns each range's report lines and counts, which the parent prints
in the order of the pages."""

from __future__ import annotations

import math
import os
from collections.abc import Iterator, Sequence
from typing import TextIO

from lumivex.cli.common import CommandError
from lumivex.cli.scan import plan
from lumivex.cli.scan.found import Paths, find_pages
from lumivex.cli.scan.pages import Done, Totals, scan_range
from lumivex.cli.scan.progress import Progress
from lumivex.cli.scan.report import JsonReport, Report, TextReport
from lumivex.cli.scan.workers import Workers

# Pages per step when scanning in this process: only the progress and the
# printing go by steps.
STEP_PAGES = 200


def scan_here(pages: Paths, report: Report) -> Iterator[Done]:
    for start in range(0, len(pages), STEP_PAGES):
        yield scan_range(pages, range(start, min(start + STEP_PAGES, len(pages))), report.page)


def run(paths: Sequence[str], jobs: int | None, as_json: bool, out: TextIO, err: TextIO) -> int:
    found = find_pages(paths)
    pages = found.pages
    if not len(pages) and not found.passed:
        raise CommandError("no .prp files under " + ", ".join(paths))
    report: Report = JsonReport() if as_json else TextReport(found)
    jobs = min(plan.job_count(jobs), len(pages))
    totals = Totals()
    passed = iter(found.passed)
    following = next(passed, None)

    def passed_before(number: float) -> list[str]:
        """The report of what was passed over before the page of that number."""
        nonlocal following
        pieces = []
        while following is not None and following[0] <= number:
            piece = report.passed(following[1])
            if piece is not None:
                pieces.append(piece)
            totals.add_passed(following[1])
            following = next(passed, None)
        return pieces

    progress = Progress(len(pages), out, err)
    workers = None
    completed = False
    first = True
    try:
        results = scan_here(pages, report)
        # Workers are forked: where the system cannot fork, one process scans.
        if jobs > 1 and hasattr(os, "fork"):
            estimated = plan.estimate(pages)
            if estimated.cost >= plan.PARALLEL_FROM:
                workers = Workers(jobs - 1, pages, report.page)
                if workers.workers:
                    results = workers.scan(plan.ranges(pages, estimated, jobs))
        progress.write(report.begin())
        for done in results:
            pieces = done.pieces
            if following is not None and following[0] < done.pages.stop:
                pieces = []
                for number, piece in zip(done.pages, done.pieces, strict=True):
                    pieces += passed_before(number)
                    pieces.append(piece)
            progress.write(report.join(pieces, first))
            first = False
            totals.merge(done.totals)
            progress.advance(len(done.pages))
        completed = True
    finally:
        progress.close()
        if workers is not None:
            workers.close(completed)
    rest = passed_before(math.inf)
    if rest:
        out.write(report.join(rest, first))
    out.write(report.end(found, totals))
    return 0 if totals.clean else 1
