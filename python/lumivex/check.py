"""The check of an age: does every reference of it still point at something?

Reads an age and its pages, decodes every object of a decodable class and
resolves every reference it holds, and lists what is wrong, page by page:
errors (a reference into a page of the age that finds no object, a listed page
that is missing or does not load, two pages with one sequence number, a page
whose header names another age or page, an object that does not decode),
warnings (a line of the .age file that its parser skips, guesses or
defaults, a page file of the age that the .age file does not list, two objects
of one class and name in a page, a page whose index lost keys, a key whose
object id is not the one of the object it finds) and notes (references to
locations that no page of the age holds: another age, or a global page)."""

from __future__ import annotations

import os
from collections.abc import Sequence
from dataclasses import dataclass, field

from lumivex._lumivex import AgeFile, Key, LintProblem, PrpFile, resolve_references
from lumivex.age import Age, MissingPage
from lumivex.shapes import counted, key_json

ERROR, WARNING, NOTE = "error", "warning", "note"
SEVERITIES = (ERROR, WARNING, NOTE)


@dataclass
class Problem:
    severity: str
    page: str | None
    message: str
    object_name: str | None = None
    class_name: str | None = None
    field: str | None = None
    key: Key | None = None
    # The line of the .age file the problem is on; 0 for the file as a whole.
    line: int | None = None

    def as_json(self) -> dict[str, object]:
        return {
            "severity": self.severity,
            "page": self.page,
            "object": self.object_name,
            "class": self.class_name,
            "field": self.field,
            "key": None if self.key is None else key_json(self.key),
            "line": self.line,
            "message": self.message,
        }


@dataclass
class AgeReport:
    path: str
    name: str
    pages: int = 0
    objects: int = 0
    references: int = 0
    problems: list[Problem] = field(default_factory=list)

    def count(self, severity: str) -> int:
        return sum(1 for problem in self.problems if problem.severity == severity)

    def as_json(self) -> dict[str, object]:
        return {
            "path": self.path,
            "name": self.name,
            "pages": self.pages,
            "objects": self.objects,
            "references": self.references,
            "errors": self.count(ERROR),
            "warnings": self.count(WARNING),
            "notes": self.count(NOTE),
            "problems": [problem.as_json() for problem in self.problems],
        }


def age_lint(path: str) -> list[LintProblem]:
    """The lint of an .age file that was loaded already. A pipe or a device
    gives its bytes once, to the load: only a regular file is read again."""
    return AgeFile.lint(path) if os.path.isfile(path) else []


def check_age(age: Age) -> AgeReport:
    """The problems of an age. A file that is not an age description has that
    one error, with line 0, and nothing else is checked."""
    report = AgeReport(age.path, age.name)
    problems = report.problems
    refused = age.refused_pages()
    # A page name that is no file name is an error below, not also a warning.
    refused_lines = {line for line, _, _ in refused}
    for lint in age_lint(age.path):
        if lint.line == 0:
            problems.append(Problem(ERROR, None, lint.reason, line=0))
            return report
        if lint.line in refused_lines:
            continue
        message = f"{lint.reason}: {lint.text!r}"
        problems.append(Problem(WARNING, None, message, line=lint.line))
    sequences: dict[int, str] = {}
    loaded: list[tuple[str, PrpFile]] = []
    for line, name, reason in refused:
        message = f"line {line}: the page name {name!r} is not a plain file name ({reason})"
        problems.append(Problem(ERROR, name, message + "; its file is not looked for"))
    for name, page in age.pages.items():
        report.pages += 1
        if age.page_path(name) is None:
            continue
        if isinstance(page, MissingPage):
            what = "is missing" if not os.path.lexists(page.path) else "does not load"
            problems.append(Problem(ERROR, name, f"the page file {what}: {page.reason}"))
            continue
        header = page.header
        if (header.age_name, header.page_name) != (age.name, name):
            problems.append(
                Problem(
                    ERROR,
                    name,
                    f"the page file's header names age {header.age_name!r}, page {header.page_name!r}",
                )
            )
        other = sequences.setdefault(header.sequence_number, name)
        if other != name:
            problems.append(
                Problem(
                    ERROR,
                    name,
                    f"sequence number 0x{header.sequence_number:08X} is also page {other!r}'s",
                )
            )
        if page.lost_keys:
            problems.append(
                Problem(
                    WARNING,
                    name,
                    f"the index lost {counted(page.lost_keys, 'key')} that it announced",
                )
            )
        report.objects += len(page)
        loaded.append((name, page))
    references, listed, shared_names = resolve_references([p for _, p in loaded], True)
    report.references = references
    for index, first, count in shared_names:
        message = f"{count} objects of class {first.class_name} share this name"
        problems.append(Problem(WARNING, loaded[index][0], message, first.name, first.class_name))
    for index, source, status, where, key, target in listed:
        page_name = loaded[index][0]
        of = (source.name, source.class_name)
        if key is None:
            problems.append(Problem(ERROR, page_name, f"does not decode: {where}", *of))
        elif status == "missing":
            problems.append(Problem(ERROR, page_name, f"{key!r} finds no object", *of, where, key))
        elif target is not None:
            message = f"{key!r} finds the object of id {target.object_id}, not {key.object_id}"
            problems.append(Problem(WARNING, page_name, message, *of, where, key))
        else:
            message = (
                f"{key!r} is in location 0x{key.location_sequence:08X}, "
                "which no page of this age holds"
            )
            problems.append(Problem(NOTE, page_name, message, *of, where, key))
    for path in age.unlisted_page_files():
        problems.append(
            Problem(WARNING, None, f"page file {path} is named after this age but not listed")
        )
    return report


def summary(reports: Sequence[AgeReport]) -> dict[str, int]:
    return {
        severity + "s": sum(report.count(severity) for report in reports) for severity in SEVERITIES
    }
