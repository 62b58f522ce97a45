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

import gc
import marshal
import math
import os
import select
import signal
import stat
import struct
import sys
import time
from array import array
from collections import Counter
from collections.abc import Iterable, Iterator, Sequence
from contextlib import contextmanager
from typing import TYPE_CHECKING, Any, NamedTuple, NoReturn, Protocol, TextIO

import lumivex
from lumivex import folders
from lumivex.cli.common import DECODERS, CommandError, error_text, json_text

# The progress bar is imported only when it is shown, so that the command
# starts fast and small.
if TYPE_CHECKING:
    from tqdm import tqdm

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


class Report(Protocol):
    """The text of a scan: its pieces are made where the pages are scanned,
    in the workers too, and put together by the parent in page order."""

    def begin(self) -> str: ...

    def page(self, path: str, scan: PageScan) -> str: ...

    def passed(self, passed: Passed) -> str | None: ...

    def join(self, pieces: list[str], first: bool) -> str: ...

    def end(self, found: Found, totals: Totals) -> str: ...


def counts(objects: int, decoded: int, failed: int) -> str:
    return f"{objects} objects, {decoded} decoded, {failed} failed"


class TextReport:
    """A line for each page, path first, with the failed objects under it."""

    def __init__(self, found: Found) -> None:
        self.width = max([found.pages.widest, *(len(passed.path) for _, passed in found.passed)])

    def begin(self) -> str:
        return ""

    def page(self, path: str, scan: PageScan) -> str:
        if scan.error is not None:
            return f"{path:<{self.width}}  error: {scan.error}\n"
        line = f"{path:<{self.width}}  {counts(scan.objects, scan.decoded, len(scan.failures))}"
        if scan.lost_keys:
            line += f", {scan.lost_keys} keys lost"
        failed = [f"    {cls} {name!r}: {message}\n" for cls, name, message in scan.failures]
        return line + "\n" + "".join(failed)

    def passed(self, passed: Passed) -> str:
        kind = "skipped" if passed.skipped else "error"
        return f"{passed.path:<{self.width}}  {kind}: {passed.reason}\n"

    def join(self, pieces: list[str], first: bool) -> str:
        return "".join(pieces)

    def end(self, found: Found, totals: Totals) -> str:
        def listed(pairs: list[tuple[int, str]]) -> str:
            return ", ".join(f"{count} {what}" for count, what in pairs if count)

        notes = listed([(totals.unreadable, "unreadable"), (totals.recovered, "recovered")])
        others = listed(
            [(totals.unreadable_folders, "unreadable folders"), (totals.skipped, "skipped")]
        )
        pages = f"{totals.pages} pages" + (f" ({notes})" if notes else "")
        objects = counts(totals.objects, totals.decoded, totals.failed)
        lines = [f"total: {pages}, {objects}" + (f"; {others}" if others else "")]
        lines += [f"    {count:6}  {message}" for message, count in totals.by_count()]
        return "\n".join(lines) + "\n"


class JsonReport:
    """One JSON object whose list of pages is written page by page as the
    scan goes, followed by what was passed over and the totals."""

    def begin(self) -> str:
        return '{\n  "pages": ['

    def page(self, path: str, scan: PageScan) -> str:
        text = json_text(
            {
                "path": path,
                "objects": scan.objects,
                "decoded": scan.decoded,
                "failed": len(scan.failures),
                "lost_keys": scan.lost_keys,
                "error": scan.error,
                "failures": [
                    {"class_name": cls, "name": name, "message": message}
                    for cls, name, message in scan.failures
                ],
            }
        )
        return "    " + text.replace("\n", "\n    ")

    def passed(self, passed: Passed) -> None:
        return None

    def join(self, pieces: list[str], first: bool) -> str:
        return ("\n" if first else ",\n") + ",\n".join(pieces)

    def end(self, found: Found, totals: Totals) -> str:
        rest = json_text(
            {
                "skipped": [
                    {"path": p.path, "reason": p.reason} for _, p in found.passed if p.skipped
                ],
                "unreadable_folders": [
                    {"path": p.path, "error": p.reason} for _, p in found.passed if not p.skipped
                ],
                "total": {
                    "pages": totals.pages,
                    "unreadable": totals.unreadable,
                    "recovered": totals.recovered,
                    "objects": totals.objects,
                    "decoded": totals.decoded,
                    "failed": totals.failed,
                    "lost_keys": totals.lost_keys,
                    "skipped": totals.skipped,
                    "unreadable_folders": totals.unreadable_folders,
                    "failure_messages": [
                        {"message": message, "count": count} for message, count in totals.by_count()
                    ],
                },
            }
        )
        close = "]" if totals.pages == 0 else "\n  ]"
        # The opening brace of the rest gives way to the pages before it.
        return close + ",\n" + rest.removeprefix("{\n") + "\n"


class Done(NamedTuple):
    """A range of pages scanned: the report of each page and their totals."""

    pages: range
    pieces: list[str]
    totals: Totals


def scan_range(pages: Paths, chosen: range, report: Report) -> Done:
    pieces = []
    totals = Totals()
    for number in chosen:
        path = pages[number]
        scan = scan_page(path)
        totals.add(scan)
        pieces.append(report.page(path, scan))
    return Done(chosen, pieces, totals)


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
# Pages per step when scanning in this process: only the progress and the
# printing go by steps.
STEP_PAGES = 200


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


def scan_here(pages: Paths, report: Report) -> Iterator[Done]:
    for start in range(0, len(pages), STEP_PAGES):
        yield scan_range(pages, range(start, min(start + STEP_PAGES, len(pages))), report)


class Channel:
    """Messages between the parent and a worker: marshal data behind its
    length, over a pipe each way."""

    LENGTH = struct.Struct("<Q")

    def __init__(self, reading: int, writing: int) -> None:
        self.reading = reading
        self.writing = writing

    def fileno(self) -> int:
        return self.reading

    def send(self, message: Any) -> None:
        data = marshal.dumps(message)
        left = memoryview(self.LENGTH.pack(len(data)) + data)
        while left:
            left = left[os.write(self.writing, left) :]

    def receive(self) -> Any:
        """The next message; EOFError once the other end is closed."""
        (length,) = self.LENGTH.unpack(self.read(self.LENGTH.size))
        return marshal.loads(self.read(length))

    def read(self, count: int) -> bytes:
        parts = []
        while count:
            part = os.read(self.reading, min(count, 1 << 20))
            if not part:
                raise EOFError
            parts.append(part)
            count -= len(part)
        return b"".join(parts)

    def close(self) -> None:
        os.close(self.reading)
        os.close(self.writing)


def serve(channel: Channel, pages: Paths, report: Report) -> None:
    """A worker: scans the ranges of the pages it is sent until the parent
    closes its end."""
    while True:
        try:
            number, start, stop = channel.receive()
            done = scan_range(pages, range(start, stop), report)
            channel.send((number, done.pieces, done.totals.counts()))
        except (EOFError, BrokenPipeError):
            return


@contextmanager
def sigint_blocked() -> Iterator[None]:
    """Keeps Ctrl-C pending while workers start, so that none is interrupted
    before it ignores it; the parent receives it afterwards."""
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})


class Workers:
    """Forked processes that help the parent scan: each shares the list of
    pages and is sent ranges of it. The parent scans ranges too, between the
    moments it hands out ranges and prints results, so N jobs take N - 1
    workers."""

    # Ranges a worker holds at once: the one it scans and the one it scans
    # next, so that it does not wait while the parent scans a range itself.
    QUEUE = 2

    def __init__(self, count: int, pages: Paths, report: Report) -> None:
        self.pages = pages
        self.report = report
        self.workers: dict[Channel, int] = {}
        # What the parent made so far stays shared: the collector would
        # otherwise touch every object of it in each worker, copying it.
        gc.freeze()
        sys.stdout.flush()
        sys.stderr.flush()
        with sigint_blocked():
            for _ in range(count):
                try:
                    self.start()
                except OSError:
                    # No more processes to be had: those started do the work.
                    break

    def start(self) -> None:
        from_parent, to_worker = os.pipe()
        from_worker, to_parent = os.pipe()
        try:
            pid = os.fork()
        except OSError:
            for end in (from_parent, to_worker, from_worker, to_parent):
                os.close(end)
            raise
        if pid == 0:
            status = 1
            try:
                os.close(to_worker)
                os.close(from_worker)
                # Without closing the ends the parent holds of the workers
                # started before, those would never see their pipes close.
                for channel in self.workers:
                    channel.close()
                # Ctrl-C reaches every process of the terminal's group; the
                # parent alone answers it, and ends the workers.
                signal.signal(signal.SIGINT, signal.SIG_IGN)
                signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
                serve(Channel(from_parent, to_parent), self.pages, self.report)
                status = 0
            finally:
                # Never back into the parent's code, nor its exit handlers.
                os._exit(status)
        os.close(from_parent)
        os.close(to_parent)
        self.workers[Channel(from_worker, to_worker)] = pid

    def scan(self, chunks: Iterator[range]) -> Iterator[Done]:
        """Each range scanned, in the order of the ranges, as soon as it and
        those before it are done. At most a few ranges run ahead of the oldest
        one not done, so that the results waiting for it stay few."""
        channels = list(self.workers)
        ahead = 4 * (len(channels) + 1)
        sent: dict[int, range] = {}
        done: dict[int, Done] = {}
        held = dict.fromkeys(channels, 0)
        next_number = next_out = 0
        remaining = True

        def take() -> range | None:
            """The next range, while it may run ahead."""
            nonlocal remaining
            if not remaining or next_number - next_out >= ahead:
                return None
            chunk = next(chunks, None)
            remaining = chunk is not None
            return chunk

        while True:
            for channel in channels:
                while held[channel] < self.QUEUE and (chunk := take()) is not None:
                    channel.send((next_number, chunk.start, chunk.stop))
                    sent[next_number] = chunk
                    held[channel] += 1
                    next_number += 1
            ready = select.select(channels, [], [], 0)[0]
            if not ready:
                chunk = take()
                if chunk is not None:
                    done[next_number] = scan_range(self.pages, chunk, self.report)
                    next_number += 1
                elif sent:
                    ready = select.select(channels, [], [])[0]
            for channel in ready:
                try:
                    number, pieces, counts = channel.receive()
                except EOFError:
                    raise CommandError(self.ended_abruptly(channel)) from None
                held[channel] -= 1
                done[number] = Done(sent.pop(number), pieces, Totals.from_counts(counts))
            while next_out in done:
                yield done.pop(next_out)
                next_out += 1
            if not (sent or done or remaining):
                return

    def ended_abruptly(self, channel: Channel) -> str:
        pid = self.workers.pop(channel)
        channel.close()
        code = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
        how = signal.Signals(-code).name if code < 0 else f"exit status {code}"
        return f"a scanning process ended abruptly ({how})"

    def close(self, completed: bool) -> None:
        """Lets the workers end once they are idle; ends them at once when
        the scan did not complete (an interrupt, a closed output)."""
        for channel, pid in self.workers.items():
            channel.close()
            if not completed:
                os.kill(pid, signal.SIGTERM)
        for pid in self.workers.values():
            os.waitpid(pid, 0)
        self.workers.clear()


def job_count(jobs: int | None) -> int:
    """The jobs asked for, or one per processor this process may run on."""
    if jobs is not None:
        return jobs
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


# The progress display's clock.
clock = time.monotonic


class Progress:
    """The count of pages scanned of the total, the rate and the time left,
    on standard error while it is a terminal, redrawn at most ten times a
    second. When standard output is that terminal too, the report's lines
    wait for the next redraw and go above the bar."""

    INTERVAL = 0.1

    def __init__(self, total: int, out: TextIO, err: TextIO) -> None:
        self.out = out
        self.bar: tqdm[NoReturn] | None = None
        self.holds = False
        self.pending: list[str] = []
        self.drawn = clock()
        if total and err.isatty():
            from tqdm import tqdm

            # The bar never draws on its own (an endless interval, no monitor
            # thread): this class chooses the moments.
            tqdm.monitor_interval = 0
            self.bar = tqdm(
                total=total,
                file=err,
                leave=False,
                unit=" pages",
                mininterval=math.inf,
                smoothing=0,
                dynamic_ncols=True,
            )
            self.holds = out.isatty()

    def write(self, text: str) -> None:
        if self.holds:
            self.pending.append(text)
        else:
            self.out.write(text)

    def advance(self, pages: int) -> None:
        if self.bar is None:
            return
        self.bar.update(pages)
        now = clock()
        if now - self.drawn >= self.INTERVAL:
            self.drawn = now
            if self.pending:
                self.bar.clear()
                self.flush()
            self.bar.refresh()

    def flush(self) -> None:
        self.out.write("".join(self.pending))
        self.out.flush()
        self.pending.clear()

    def close(self) -> None:
        if self.bar is not None:
            self.bar.close()
        if self.pending:
            self.flush()


def run(paths: Sequence[str], jobs: int | None, as_json: bool, out: TextIO, err: TextIO) -> int:
    found = find_pages(paths)
    pages = found.pages
    if not len(pages) and not found.passed:
        raise CommandError("no .prp files under " + ", ".join(paths))
    report: Report = JsonReport() if as_json else TextReport(found)
    jobs = min(job_count(jobs), len(pages))
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
            estimated = estimate(pages)
            if estimated.cost >= PARALLEL_FROM:
                workers = Workers(jobs - 1, pages, report)
                if workers.workers:
                    results = workers.scan(ranges(pages, estimated, jobs))
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
