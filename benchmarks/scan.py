"""Time `lumivex scan` on whole trees of pages with --jobs 1 and --jobs 2,
against reading the same files with cat in the same run, and measure the peak
memory of the whole command, its worker processes included.

Two trees are generated on first use under build/bench-data/scan/: 3,000
pages of 40 to 160 objects in a realistic class mix, textures of 64 to 1024
pixels among them, whose decodable objects all decode (about 570 MB); and
90,000 tiny pages of one to three objects, where the cost of each page, not
of its bytes, dominates (about 80 MB).

Each command runs in turn with the others, as a whole process (interpreter
start included); the table shows medians. Memory is the highest sum, sampled
every few milliseconds, of the proportional set sizes of the command's
processes: pages a worker shares with the parent that forked it count once.
Two processes can only gain what the machine gives them: its parallel
capacity, two spinning processes against one in the same run, is shown too.

Usage: python -m benchmarks.scan [--quick] [--runs N] [--data DIR]
"""

from __future__ import annotations

import argparse
import json
import os
import platform
import random
import resource
import shutil
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path
from typing import NamedTuple

from benchmarks import generate

ROOT = Path(__file__).resolve().parent.parent
# Bump when the generated trees change, so that cached ones are rebuilt.
FORMAT = 3
SEED = 20240611
MIB = 1 << 20

# The class mix of a page of the full tree, by weight; the same classes as
# the large page of the main benchmark.
WEIGHTS = {class_type: count for class_type, count in generate.MIX.items() if count >= 300}
# Variants of each class's body that pages draw from.
VARIANTS = 48


@dataclass(frozen=True)
class Tree:
    name: str
    pages: int
    per_folder: int
    objects: tuple[int, int]  # fewest and most objects of a page
    small_textures: bool


def trees(quick: bool) -> list[Tree]:
    scale = 100 if quick else 1
    return [
        Tree("pages", 3000 // scale, 100, (40, 160), quick),
        Tree("tiny", 90000 // scale, 300, (1, 3), True),
    ]


def body_pool(rng: random.Random, quick: bool) -> dict[int, list[generate.PageObject]]:
    pool = {}
    for class_type in WEIGHTS:
        objects = []
        for number in range(VARIANTS):
            name = generate.object_name(rng, class_type, number)
            body = generate.body(rng, class_type, name, quick)
            objects.append(generate.PageObject(class_type, name, body))
        pool[class_type] = objects
    return pool


def write_tree(out: Path, tree: Tree, pool: dict[int, list[generate.PageObject]]) -> None:
    rng = random.Random(f"{SEED}-{tree.name}")
    classes, weights = list(WEIGHTS), list(WEIGHTS.values())
    shutil.rmtree(out, ignore_errors=True)
    for number in range(tree.pages):
        folder = out / f"folder{number // tree.per_folder:03d}"
        if number % tree.per_folder == 0:
            folder.mkdir(parents=True)
        count = rng.randint(*tree.objects)
        chosen = [rng.choice(pool[c]) for c in rng.choices(classes, weights, k=count)]
        generate.write_page(folder / f"Bench_District_Page{number:05d}.prp", chosen)


def ensure(data: Path, quick: bool) -> list[tuple[Tree, Path]]:
    """Each tree with its folder, generated first when missing or out of date."""
    manifest_path = data / "manifest.json"
    wanted = {"format": FORMAT, "generator": generate.FORMAT, "quick": quick}
    chosen = trees(quick)
    if generate.stored_manifest(data) != wanted:
        manifest_path.unlink(missing_ok=True)
        pools = {small: body_pool(random.Random(SEED), small) for small in {quick, True}}
        for tree in chosen:
            write_tree(data / tree.name, tree, pools[tree.small_textures])
        manifest_path.write_text(json.dumps(wanted))
    return [(tree, data / tree.name) for tree in chosen]


def scan_command(tree: Path, jobs: int) -> list[str]:
    return [sys.executable, "-m", "lumivex", "scan", str(tree), "--jobs", str(jobs)]


def cat_command(tree: Path) -> list[str]:
    """Reading every page of the tree, as the floor of a scan."""
    return ["find", str(tree), "-name", "*.prp", "-type", "f", "-exec", "cat", "{}", "+"]


class Timed(NamedTuple):
    wall: float
    cpu: float  # user and system time of the command and its workers


def run_once(command: list[str]) -> Timed:
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
    return Timed(wall, cpu)


def medians(commands: list[list[str]], runs: int) -> list[Timed]:
    """Median times of each command, the commands run in turn."""
    times: list[list[Timed]] = [[] for _ in commands]
    for _ in range(runs):
        for command, out in zip(commands, times, strict=True):
            out.append(run_once(command))
    return [
        Timed(statistics.median(t.wall for t in ts), statistics.median(t.cpu for t in ts))
        for ts in times
    ]


def parallel_capacity(runs: int, quick: bool) -> float:
    """How many processes' worth of pure computation the machine gave at
    once: two spinning processes against one, 2.0 on two idle cores. Other
    work on the machine lowers it, and with it what --jobs 2 can gain."""
    loops = 500_000 if quick else 6_000_000
    spin = [sys.executable, "-c", f"n = 0\nfor i in range({loops}):\n    n += i\n"]
    ratios = []
    for _ in range(runs):
        one = run_once(spin).wall
        start = time.perf_counter()
        pair = [subprocess.Popen(spin) for _ in range(2)]
        for process in pair:
            process.wait()
        ratios.append(2 * one / (time.perf_counter() - start))
    return statistics.median(ratios)


def memory_kib(pid: int) -> tuple[int, int]:
    """A process's proportional and resident set sizes: pages it shares with
    its forked workers count once in the sum of the proportional sizes."""
    found = {}
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            name, _, rest = line.partition(":")
            if name in ("Pss", "Rss"):
                found[name] = int(rest.split()[0])
    return found["Pss"], found["Rss"]


def children(pid: int) -> list[int]:
    out = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat_file:
                    fields = stat_file.read().rpartition(")")[2].split()
            except OSError:
                continue
            if int(fields[1]) == pid:
                out.append(int(entry))
    return out


def peak_memory(command: list[str]) -> tuple[float, float]:
    """The highest sums over the command's processes (its workers included)
    of the proportional and of the resident set sizes, in MiB, sampled every
    few milliseconds."""
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL)
    peak_pss = peak_rss = 0
    pids = [process.pid]
    sample = 0
    while process.poll() is None:
        if sample % 8 == 0:
            pids = [process.pid, *children(process.pid)]
        sample += 1
        pss = rss = 0
        for pid in pids:
            try:
                one_pss, one_rss = memory_kib(pid)
            except (OSError, KeyError):
                continue
            pss += one_pss
            rss += one_rss
        peak_pss, peak_rss = max(peak_pss, pss), max(peak_rss, rss)
        time.sleep(0.002)
    return peak_pss / 1024, peak_rss / 1024


@dataclass
class Row:
    tree: Tree
    size: int
    cat: Timed
    one: Timed
    two: Timed
    memory_one: tuple[float, float]
    memory_two: tuple[float, float]

    @property
    def speedup(self) -> float:
        return self.one.wall / self.two.wall

    @property
    def speedup_target(self) -> float:
        # Many tiny pages: the workers need only not lose.
        return 1.6 if self.tree.name == "pages" else 1.0

    @property
    def memory_ratio(self) -> float:
        return self.memory_two[0] / self.memory_one[0]

    @property
    def met(self) -> bool:
        return self.speedup >= self.speedup_target and self.memory_ratio <= 1.5


def measure(tree: Tree, folder: Path, runs: int) -> Row:
    size = sum(p.stat().st_size for p in folder.rglob("*.prp"))
    # A first pass brings every file into the page cache.
    run_once(cat_command(folder))
    cat, one, two = medians(
        [cat_command(folder), scan_command(folder, 1), scan_command(folder, 2)], runs
    )
    memory_runs = max(1, runs // 3)
    ones = [peak_memory(scan_command(folder, 1)) for _ in range(memory_runs)]
    twos = [peak_memory(scan_command(folder, 2)) for _ in range(memory_runs)]
    return Row(tree, size, cat, one, two, max(ones), max(twos))


def table(rows: list[Row], quick: bool) -> str:
    lines = [
        "| tree | pages | size | cat of every file | --jobs 1 | --jobs 2 | speedup | target "
        "| CPU --jobs 1 | CPU --jobs 2 | peak PSS --jobs 1 | --jobs 2 | ratio | target "
        "| peak RSS --jobs 1 | --jobs 2 | met |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r.tree.name} | {r.tree.pages} | {r.size / MIB:.0f} MiB | {ms(r.cat.wall)} "
            f"| {ms(r.one.wall)} ({r.one.wall / r.cat.wall:.2f}x cat) "
            f"| {ms(r.two.wall)} ({r.two.wall / r.cat.wall:.2f}x cat) "
            f"| {r.speedup:.2f}x | ≥ {r.speedup_target}x | {ms(r.one.cpu)} | {ms(r.two.cpu)} "
            f"| {r.memory_one[0]:.1f} MiB | {r.memory_two[0]:.1f} MiB | {r.memory_ratio:.2f} "
            f"| ≤ 1.5 | {r.memory_one[1]:.1f} MiB | {r.memory_two[1]:.1f} MiB "
            f"| {'-' if quick else 'yes' if r.met else 'no'} |"
        )
    return "\n".join(lines)


def ms(seconds: float) -> str:
    return f"{seconds * 1000:.0f} ms"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small trees: a smoke run")
    parser.add_argument(
        "--runs", type=int, help="runs of each command (default 11, 3 with --quick)"
    )
    parser.add_argument("--data", type=Path, help="data folder (default build/bench-data/scan/...)")
    args = parser.parse_args(argv)
    runs = args.runs or (3 if args.quick else 11)
    data = args.data or ROOT / "build" / "bench-data" / "scan" / ("quick" if args.quick else "full")
    trees_found = ensure(data, args.quick)
    capacity = parallel_capacity(runs, args.quick)
    load = os.getloadavg()[0]
    rows = [measure(tree, folder, runs) for tree, folder in trees_found]
    print(
        f"Python {platform.python_version()}, {os.cpu_count()} cores; medians of {runs} runs "
        "of each command in turn, the whole command timed (interpreter start included); "
        f"parallel capacity {capacity:.2f} of 2, load average {load:.1f} at the start"
    )
    print(table(rows, args.quick))
    if args.quick:
        print("A smoke run on small trees: the targets are those of the full trees.")
        return 0
    return 0 if all(r.met for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
