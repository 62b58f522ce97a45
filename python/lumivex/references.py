"""The references of several pages, resolved a stretch at a time: the
resolver runs in a thread of its own and hands its lists over one by one, so
that what is held grows with a stretch, never with the pages' references."""

from __future__ import annotations

import queue
import threading
from collections.abc import Iterator, Sequence

from lumivex._lumivex import Key, PrpFile, PrpObject, _resolve_references

# (page index, source, status, field, key, target), as _resolve_references lists them.
Listed = tuple[int, PrpObject, str, str, Key | None, PrpObject | None]


class Stopped(Exception):
    """The reader of a walk went away; the resolver stops."""


class ReferenceWalk:
    """Resolves the references of the pages: `shared_names` at once, then
    `listed()` as it is read; `references` counts them all once it is done."""

    def __init__(self, pages: Sequence[PrpFile], problems_only: bool) -> None:
        self.references = 0
        # Two stretches in hand at most: one read, one waiting.
        self._handed: queue.Queue[tuple[str, object]] = queue.Queue(maxsize=1)
        self._stop = threading.Event()
        thread = threading.Thread(
            target=self._resolve, args=(list(pages), problems_only), daemon=True
        )
        thread.start()
        kind, value = self._take()
        assert kind == "shared"
        self.shared_names: list[tuple[int, PrpObject, int]] = value  # type: ignore[assignment]

    def _resolve(self, pages: list[PrpFile], problems_only: bool) -> None:
        try:
            count = _resolve_references(
                pages,
                problems_only,
                lambda shared: self._hand("shared", shared),
                lambda listed: self._hand("listed", listed),
            )
            self._hand("done", count)
        except Stopped:
            return
        except BaseException as error:  # the reader raises it
            try:
                self._hand("error", error)
            except Stopped:
                return

    def _hand(self, kind: str, value: object) -> None:
        while not self._stop.is_set():
            try:
                self._handed.put((kind, value), timeout=0.1)
                return
            except queue.Full:
                continue
        raise Stopped

    def _take(self) -> tuple[str, object]:
        kind, value = self._handed.get()
        if kind == "error":
            self._stop.set()
            assert isinstance(value, BaseException)
            raise value
        return kind, value

    def listed(self) -> Iterator[Listed]:
        """The listed references, in page and index order; read once."""
        try:
            while True:
                kind, value = self._take()
                if kind == "done":
                    assert isinstance(value, int)
                    self.references = value
                    return
                yield from value  # type: ignore[misc]
        finally:
            self._stop.set()
