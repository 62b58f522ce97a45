"""How a scan shares its work: the cost model that decides whether worker
processes pay, and the ranges of pages they are sent."""

from __future__ import annotations

import os
from collections.abc import Iterator
from typing import NamedTuple

from lumivex.cli.scan.found import Paths

# The cost model that decides whether worker processes pay and how much work
# each range holds: seconds per page beside its bytes, and per byte.
PAGE_COST = 8e-6
BYTE_COST = 0.4e-9
# Starting a worker and passing results back cost a few milliseconds; from
# this much estimated work on, they win it back.
PARALLEL_FROM = 0.03
# Pages whose sizes estimate the whole.
SIZE_SAMPLE = 64
# A range holds this share of each process's work left, within these
# bounds: ranges shrink towards the end, so that the processes end together,
# and are large enough that their messages cost little beside them.
RANGE_SHARE = 8
RANGE_COST = (0.001, 0.05)
RANGE_PAGES = 500


def file_size(path: str) -> int:
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


class Estimate(NamedTuple):
    """The mean size of a sample of the pages, and the seconds all of them
    would take in one process."""

    mean_size: float
    cost: float


def estimate(pages: Paths) -> Estimate:
    step = max(1, len(pages) // SIZE_SAMPLE)
    sample = range(0, len(pages), step)
    mean_size = sum(file_size(pages[number]) for number in sample) / len(sample)
    return Estimate(mean_size, len(pages) * (PAGE_COST + mean_size * BYTE_COST))


def ranges(pages: Paths, estimated: Estimate, processes: int) -> Iterator[range]:
    """Consecutive ranges of the pages, sized by their bytes and their count.
    Sizes are read as the ranges are made, while the ranges before are being
    scanned; but reading a size costs about what scanning a small page does,
    so pages that are small on the whole are taken at the sample's mean size."""
    low, high = RANGE_COST
    exact = estimated.mean_size * BYTE_COST >= PAGE_COST
    left = estimated.cost
    start = 0
    while start < len(pages):
        cost = min(max(left / (RANGE_SHARE * processes), low), high)
        stop, work = start, 0.0
        while stop < len(pages) and stop - start < RANGE_PAGES and (work < cost or stop == start):
            size = file_size(pages[stop]) if exact else estimated.mean_size
            work += PAGE_COST + size * BYTE_COST
            stop += 1
        left -= work
        yield range(start, stop)
        start = stop


def job_count(jobs: int | None) -> int:
    """The jobs asked for, or one per processor this process may run on."""
    if jobs is not None:
        return jobs
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1
