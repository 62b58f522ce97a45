"""The check of an age: does every reference of it still point at something?

Reads an age and its pages, decodes every object of a decodable class and
resolves every reference it holds, and lists what is wrong, page by page:
errors (a reference into a page of the age that finds no object, a listed page
that is missing or does not load, two pages with one sequence number, a page
whose header names another age or page, an object that does not decode),
warnings (a line of the .age file that its parser skips, guesses or
defaults, a page the .age file lists again, two listed pages of one sequence
suffix, a page file of the age that the .age file does not list, two objects
of one class and name in a page, a page whose index lost keys, a key whose
object id is not the one of the object it finds) and notes (references to
locations that no page of the age holds: another age, or a global page).

The problems come one at a time, as they are found: a check holds one
stretch of references at a time, whatever the number of problems."""

from __future__ import annotations

import os
from collections.abc import Iterator
from dataclasses import dataclass, field
from functools import partial
from typing import NamedTuple

from lumivex._lumivex import AgeFile, Key, LintProblem, PrpFile
from lumivex.age import Age, MissingPage
from lumivex.references import ReferenceWalk
from lumivex.shapes import counted, key_json

ERROR, WARNING, NOTE = "error", "warning", "note"
SEVERITIES = (ERROR, WARNING, NOTE)
# The problems of each severity a summary keeps, to show.
KEPT_PROBLEMS = 100
# The counts of a check's JSON record that are whole after its problems.
TOTALS = (
    "reference_count",
    *(f"{severity}_count" for severity in SEVERITIES),
)


class Problem(NamedTuple):
    severity: str
    page: str | None
    message: str
    object_name: str | None = None
    class_name: str | None = None
    field: str | None = None
    key: Key | None = None
    # The line of the .age file the problem is on; 0 for the file as a whole.
    line: int | None = None
    # The place of the problem's object in its page's index, where names
    # may be shared.
    object_index: int | None = None

    def as_json(self) -> dict[str, object]:
        return {
            "severity": self.severity,
            "page": self.page,
            "object_name": self.object_name,
            "class_name": self.class_name,
            "field": self.field,
            "key": None if self.key is None else key_json(self.key),
            "line": self.line,
            "message": self.message,
        }


@dataclass
class AgeReport:
    """The counts of a check, filled in as its problems are read, and the
    first problems of each severity."""

    age: str
    name: str
    page_count: int = 0
    object_count: int = 0
    reference_count: int = 0
    counts: dict[str, int] = field(default_factory=lambda: dict.fromkeys(SEVERITIES, 0))
    kept: dict[str, list[Problem]] = field(
        default_factory=lambda: {severity: [] for severity in SEVERITIES}
    )

    def count(self, severity: str) -> int:
        return self.counts[severity]

    def add(self, problem: Problem) -> Problem:
        self.counts[problem.severity] += 1
        kept = self.kept[problem.severity]
        if len(kept) < KEPT_PROBLEMS:
            kept.append(problem)
        return problem

    def totals(self) -> dict[str, int]:
        """The counts by their names in JSON, as TOTALS lists them."""
        return {
            "reference_count": self.reference_count,
            **severity_counts([self]),
        }


def age_lint(path: str) -> list[LintProblem]:
    """The lint of an .age file that was loaded already. A pipe or a device
    gives its bytes once, to the load: only a regular file is read again."""
    return AgeFile.lint(path) if os.path.isfile(path) else []


class AgeCheck:
    """A check under way: the .age file is linted and the pages are read and
    counted at once; `problems()` finds the problems, once, and the report's
    counts are whole when it is done. A file that is not an age description
    has that one error, with line 0, and nothing else is checked."""

    def __init__(self, age: Age) -> None:
        self.age = age
        self.report = report = AgeReport(age.path, age.name)
        self._page_problems: list[Problem] = []
        self._loaded: list[tuple[str, PrpFile]] = []
        self._described = True
        found = self._page_problems.append
        refused = age.refused_pages()
        # A page name that is no file name is an error below, not also a warning.
        refused_lines = {line for line, _, _ in refused}
        for lint in age_lint(age.path):
            if lint.line == 0:
                found(Problem(ERROR, None, lint.reason, line=0))
                self._described = False
                return
            if lint.line in refused_lines:
                continue
            found(Problem(WARNING, None, f"{lint.reason}: {lint.text!r}", line=lint.line))
        for line, name, reason in refused:
            message = f"line {line}: the page name {name!r} is not a plain file name ({reason})"
            found(Problem(ERROR, name, message + "; its file is not looked for"))
        # Entries of a name after its first are not read; two pages of one
        # suffix would give their objects one location.
        listed: set[str] = set()
        name_of_suffix: dict[int, str] = {}
        for entry in age.description.pages:
            if entry.name in listed:
                message = (
                    f"the age lists this page again, with sequence suffix {entry.seq_suffix}; "
                    "its first entry is the one read"
                )
                found(Problem(WARNING, entry.name, message))
                continue
            listed.add(entry.name)
            other = name_of_suffix.setdefault(entry.seq_suffix, entry.name)
            if other != entry.name:
                message = f"sequence suffix {entry.seq_suffix} is also page {other!r}'s"
                found(Problem(WARNING, entry.name, message))
        sequences: dict[int, str] = {}
        for name, page in age.pages.items():
            report.page_count += 1
            if age.page_path(name) is None:
                continue
            if isinstance(page, MissingPage):
                what = "is missing" if not os.path.lexists(page.path) else "does not load"
                found(Problem(ERROR, name, f"the page file {what}: {page.reason}"))
                continue
            header = page.header
            if (header.age_name, header.page_name) != (age.name, name):
                message = f"the page file's header names age {header.age_name!r}, page {header.page_name!r}"
                found(Problem(ERROR, name, message))
            other = sequences.setdefault(header.sequence_number, name)
            if other != name:
                message = f"sequence number 0x{header.sequence_number:08X} is also page {other!r}'s"
                found(Problem(ERROR, name, message))
            if page.lost_keys:
                message = f"the index lost {counted(page.lost_keys, 'key')} that it announced"
                found(Problem(WARNING, name, message))
            report.object_count += len(page)
            self._loaded.append((name, page))

    def problems(self) -> Iterator[Problem]:
        add = self.report.add
        for problem in self._find():
            yield add(problem)

    def _find(self) -> Iterator[Problem]:
        yield from self._page_problems
        if not self._described:
            return
        loaded = self._loaded
        walk = ReferenceWalk([page for _, page in loaded], True)
        for index, first, count in walk.shared_names:
            message = f"{count} objects of class {first.class_name} share this name"
            yield Problem(
                WARNING,
                loaded[index][0],
                message,
                first.name,
                first.class_name,
                object_index=first.index,
            )
        for index, source, status, where, key, target in walk.listed():
            page_name = loaded[index][0]
            of = (source.name, source.class_name)
            at = source.index
            if key is None:
                yield Problem(ERROR, page_name, f"does not decode: {where}", *of, object_index=at)
            elif status == "missing":
                message = f"{key!r} finds no object"
                yield Problem(ERROR, page_name, message, *of, where, key, object_index=at)
            elif target is not None:
                message = f"{key!r} finds the object of id {target.object_id}, not {key.object_id}"
                yield Problem(WARNING, page_name, message, *of, where, key, object_index=at)
            else:
                message = (
                    f"{key!r} is in location 0x{key.location_sequence:08X}, "
                    "which no page of this age holds"
                )
                yield Problem(NOTE, page_name, message, *of, where, key, object_index=at)
        self.report.reference_count = walk.references
        for path in self.age.unlisted_page_files():
            yield Problem(WARNING, None, f"page file {path} is named after this age but not listed")


def check_age(age: Age) -> AgeReport:
    """The whole check of an age, its problems counted and the first of each
    severity kept."""
    check = AgeCheck(age)
    for _ in check.problems():
        pass
    return check.report


def check_json(check: AgeCheck) -> dict[str, object]:
    """The JSON record of an age's check; its problems are written as they
    are found, the counts after them."""
    report = check.report
    return {
        "age": report.age,
        "age_name": report.name,
        "page_count": report.page_count,
        "object_count": report.object_count,
        "problems": (problem.as_json() for problem in check.problems()),
        **{name: partial(lambda name: report.totals()[name], name) for name in TOTALS},
    }


def severity_counts(reports: list[AgeReport]) -> dict[str, int]:
    return {
        f"{severity}_count": sum(report.count(severity) for report in reports)
        for severity in SEVERITIES
    }
