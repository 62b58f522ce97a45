"""The report of a scan, as text or as JSON, made in pieces where the pages
are scanned and put together in the order of the pages."""

from __future__ import annotations

from typing import Protocol

from lumivex.cli.scan.found import Found, Passed
from lumivex.cli.scan.pages import PageScan, Totals
from lumivex.shapes import counted, json_text, printable_text


class Report(Protocol):
    """The text of a scan: its pieces are made where the pages are scanned,
    in the workers too, and put together by the parent in page order."""

    def begin(self) -> str: ...

    def page(self, path: str, scan: PageScan) -> str: ...

    def passed(self, passed: Passed) -> str | None: ...

    def join(self, pieces: list[str], first: bool) -> str: ...

    def end(self, found: Found, totals: Totals) -> str: ...


def counts(objects: int, decoded: int, failed: int) -> str:
    return f"{counted(objects, 'object')}, {decoded} decoded, {failed} failed"


class TextReport:
    """A line for each page, path first, with the failed objects under it."""

    def __init__(self, found: Found) -> None:
        self.width = max([found.pages.widest, *(len(passed.path) for _, passed in found.passed)])

    def begin(self) -> str:
        return ""

    def page(self, path: str, scan: PageScan) -> str:
        path = printable_text(path, keep_bytes=True)
        if scan.error is not None:
            return f"{path:<{self.width}}  error: {scan.error}\n"
        line = f"{path:<{self.width}}  {counts(scan.objects, scan.decoded, len(scan.failures))}"
        if scan.lost_keys:
            line += f", {counted(scan.lost_keys, 'key')} lost"
        failed = [f"    {cls} {name!r}: {message}\n" for cls, name, message in scan.failures]
        return line + "\n" + "".join(failed)

    def passed(self, passed: Passed) -> str:
        kind = "skipped" if passed.skipped else "error"
        return f"{printable_text(passed.path, keep_bytes=True):<{self.width}}  {kind}: {passed.reason}\n"

    def join(self, pieces: list[str], first: bool) -> str:
        return "".join(pieces)

    def end(self, found: Found, totals: Totals) -> str:
        def listed(texts: list[tuple[int, str]]) -> str:
            """The texts of the counts that are not zero."""
            return ", ".join(text for count, text in texts if count)

        unreadable, recovered, skipped = totals.unreadable, totals.recovered, totals.skipped
        notes = listed(
            [(unreadable, f"{unreadable} unreadable"), (recovered, f"{recovered} recovered")]
        )
        folders = totals.unreadable_folders
        others = listed(
            [(folders, counted(folders, "unreadable folder")), (skipped, f"{skipped} skipped")]
        )
        pages = counted(totals.pages, "page") + (f" ({notes})" if notes else "")
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
                "page": path,
                "object_count": scan.objects,
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
                    {"file": p.path, "reason": p.reason} for _, p in found.passed if p.skipped
                ],
                "unreadable_folders": [
                    {"folder": p.path, "error": p.reason} for _, p in found.passed if not p.skipped
                ],
                "total": {
                    "page_count": totals.pages,
                    "unreadable": totals.unreadable,
                    "recovered": totals.recovered,
                    "object_count": totals.objects,
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
