"""Loading pages from several threads: four threads each load a different
large page at once, against one thread loading the same four in turn, in the
same process. Loads run without the interpreter lock, so on two cores the
threads should take at most 1/1.6 of the time.

Usage: python -m benchmarks.threads [--quick] [--runs N] [--data DIR]
"""

from __future__ import annotations

import os
import shutil
import statistics
import sys
import threading
import time
from pathlib import Path

import lumivex

from benchmarks import generate

THREADS = 4
TARGET = 1.6


def page_copies(data: Path) -> list[Path]:
    """Four files of the benchmark's page, each its own copy on disk."""
    source = data / generate.PAGE_FILE
    copies = []
    for number in range(THREADS):
        copy = data / f"threads-{number}.prp"
        if not copy.exists() or copy.stat().st_size != source.stat().st_size:
            shutil.copyfile(source, copy)
        copies.append(copy)
    return copies


def in_turn(paths: list[Path]) -> float:
    start = time.perf_counter()
    for path in paths:
        lumivex.PrpFile.load(path)
    return time.perf_counter() - start


def in_threads(paths: list[Path]) -> float:
    barrier = threading.Barrier(len(paths) + 1)

    def load(path: Path) -> None:
        barrier.wait()
        lumivex.PrpFile.load(path)

    threads = [threading.Thread(target=load, args=(path,)) for path in paths]
    for thread in threads:
        thread.start()
    barrier.wait()
    start = time.perf_counter()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def main(argv: list[str] | None = None) -> int:
    args, runs, data = generate.options(__doc__, 9, argv)
    paths = page_copies(generate.ensure(data, args.quick))
    # Read once so that both ways load from the page cache.
    in_turn(paths)
    sequential, threaded = [], []
    for _ in range(runs):
        sequential.append(in_turn(paths))
        threaded.append(in_threads(paths))
    one, many = statistics.median(sequential), statistics.median(threaded)
    ratio = one / many
    size = sum(path.stat().st_size for path in paths) / (1 << 20)
    print(
        f"{os.cpu_count()} cores; {THREADS} pages of {size / THREADS:.0f} MiB; medians of {runs} runs"
    )
    print(f"one thread, in turn: {one * 1000:.1f} ms")
    print(f"{THREADS} threads at once: {many * 1000:.1f} ms")
    met = ratio >= TARGET
    print(
        f"speed-up: {ratio:.2f}x (target at least {TARGET}x on 2 cores: {'met' if met else 'not met'})"
    )
    return 0 if met or args.quick else 1


if __name__ == "__main__":
    sys.exit(main())
