"""The progress of a scan on a terminal."""

from __future__ import annotations

import math
import time
from typing import TYPE_CHECKING, NoReturn, TextIO

# The progress bar is imported only when it is shown, so that the command
# starts fast and small.
if TYPE_CHECKING:
    from tqdm import tqdm

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
