"""The signals that end a command (SIGTERM, as `kill` and `timeout` send it,
and SIGHUP, as a closed terminal sends it) raised as an exception where the
command is, as Ctrl-C is, so that a save under way removes the new file it
was writing instead of leaving it beside its target."""

from __future__ import annotations

import signal
import threading
from collections.abc import Iterator
from contextlib import contextmanager
from types import FrameType

ENDING = (signal.SIGTERM, signal.SIGHUP)


class Ended(BaseException):
    """The command was sent a signal that ends it; like KeyboardInterrupt, no
    handler of failures catches it."""

    def __init__(self, signum: int) -> None:
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


def raise_ended(signum: int, frame: FrameType | None) -> None:
    raise Ended(signum)


@contextmanager
def endings_raised() -> Iterator[None]:
    """Within it, the ending signals that would kill the process raise Ended;
    one the caller ignores (nohup ignores SIGHUP) stays ignored. Only the
    main thread may handle signals: elsewhere nothing changes."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = {
        signum: signal.signal(signum, raise_ended)
        for signum in ENDING
        if signal.getsignal(signum) is signal.SIG_DFL
    }
    try:
        yield
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler)


def endings_default() -> None:
    """In a process forked from the command: the ending signals that raise
    Ended end it at once again, as the parent expects when it ends it."""
    for signum in ENDING:
        if signal.getsignal(signum) is raise_ended:
            signal.signal(signum, signal.SIG_DFL)
