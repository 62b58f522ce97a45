"""The worker processes of a scan: forked, each sharing the list of pages and
sent ranges of it over a pipe, each range's report sent back."""

from __future__ import annotations

import gc
import marshal
import os
import select
import signal
import struct
import sys
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from typing import Any

from lumivex.cli.common import CommandError
from lumivex.cli.scan.found import Paths
from lumivex.cli.scan.pages import Done, PageScan, Totals, scan_range
from lumivex.cli.signals import endings_default


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


def serve(channel: Channel, pages: Paths, page_text: Callable[[str, PageScan], str]) -> None:
    """A worker: scans the ranges of the pages it is sent until the parent
    closes its end."""
    while True:
        try:
            number, start, stop = channel.receive()
            done = scan_range(pages, range(start, stop), page_text)
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

    def __init__(self, count: int, pages: Paths, page_text: Callable[[str, PageScan], str]) -> None:
        self.pages = pages
        self.page_text = page_text
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
                endings_default()
                serve(Channel(from_parent, to_parent), self.pages, self.page_text)
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
                    done[next_number] = scan_range(self.pages, chunk, self.page_text)
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
