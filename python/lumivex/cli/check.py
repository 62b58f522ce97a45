"""lumivex check: does every reference of an age still point at something?

Reads an age and its pages, decodes every object of a decodable class and
resolves every reference it holds, and lists what is wrong, page by page:
errors (a reference into a page of the age that finds no object, a listed page
that is missing or does not load, two pages with one sequence number, a page
whose header names another age or page, an object that does not decode),
warnings (a page file of the age that the .age file does not list, two objects
of one class and name in a page, a page whose index lost keys, a key whose
object id is not the one of the object it finds) and notes (references to
locations that no page of the age holds: another age, or a global page)."""

from __future__ import annotations

import os
from collections.abc import Sequence
from dataclasses import dataclass, field

import lumivex
from lumivex.age import Age, MissingPage
from lumivex.cli.common import CommandError, print_json

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
    key: lumivex.Key | None = None

    def as_json(self) -> dict[str, object]:
        return {
            "severity": self.severity,
            "page": self.page,
            "object": self.object_name,
            "class": self.class_name,
            "field": self.field,
            "key": None if self.key is None else key_json(self.key),
            "message": self.message,
        }


def key_json(key: lumivex.Key) -> dict[str, object]:
    return {
        "location_sequence": key.location_sequence,
        "location_flags": key.location_flags,
        "load_mask": key.load_mask,
        "class_type": key.class_type,
        "class_name": key.class_name,
        "object_id": key.object_id,
        "name": key.name,
        "clone_id": key.clone_id,
        "clone_player_id": key.clone_player_id,
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


def reason_of(error: BaseException) -> str:
    if isinstance(error, OSError) and error.strerror:
        return error.strerror
    if error.__cause__ is not None:
        return f"{error}: {error.__cause__}"
    return str(error)


def check_age(age: Age) -> AgeReport:
    report = AgeReport(age.path, age.name)
    problems = report.problems
    sequences: dict[int, str] = {}
    loaded: list[tuple[str, lumivex.PrpFile]] = []
    for line, name, reason in age.refused_pages():
        message = f"line {line}: the page name {name!r} is not a plain file name ({reason})"
        problems.append(Problem(ERROR, name, message + "; its file is not looked for"))
    for name, page in age.pages.items():
        report.pages += 1
        if age.page_path(name) is None:
            continue
        if isinstance(page, MissingPage):
            what = "is missing" if not os.path.lexists(page.path) else "does not load"
            problems.append(Problem(ERROR, name, f"page file {page.path} {what}: {page.reason}"))
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
                Problem(WARNING, name, f"the index lost {page.lost_keys} keys that it announced")
            )
        report.objects += len(page)
        loaded.append((name, page))
    references, listed, shared_names = lumivex._lumivex.resolve_references(
        [p for _, p in loaded], True
    )
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


def age_files(path: str) -> list[str]:
    """The .age files a path names: itself, or those of a folder in name order."""
    if not os.path.isdir(path):
        return [path]
    names = sorted(name for name in os.listdir(path) if name.lower().endswith(".age"))
    return [os.path.join(path, name) for name in names]


def problem_line(problem: Problem) -> str:
    where = []
    if problem.object_name is not None:
        where.append(f"{problem.object_name} ({problem.class_name})")
    if problem.field is not None:
        where.append(problem.field)
    prefix = " ".join(where)
    return f"  {problem.severity:<8} {prefix + ': ' if prefix else ''}{problem.message}"


def text_report(report: AgeReport, verbose: bool) -> list[str]:
    lines = [
        f"{report.path}: age {report.name}, {report.pages} pages, {report.objects} objects, "
        f"{report.references} references"
    ]
    shown = [p for p in report.problems if verbose or p.severity != NOTE]
    pages: dict[str | None, list[Problem]] = {}
    for problem in shown:
        pages.setdefault(problem.page, []).append(problem)
    for page, problems in pages.items():
        lines.append(f"page {page}" if page is not None else "the age")
        lines += [problem_line(problem) for problem in problems]
    return lines


def summary(reports: Sequence[AgeReport]) -> dict[str, int]:
    return {
        severity + "s": sum(report.count(severity) for report in reports) for severity in SEVERITIES
    }


def run(paths: Sequence[str], as_json: bool, verbose: bool) -> int:
    """Checks every age the paths name and prints the report; 1 when there is
    any error."""
    reports = []
    for path in paths:
        found = age_files(path)
        if not found:
            raise CommandError(f"no .age file in {path}")
        for age_path in found:
            report = check_age(Age.open(age_path))
            reports.append(report)
            if not as_json:
                print("\n".join(text_report(report, verbose)))
    totals = summary(reports)
    if as_json:
        print_json({"ages": [report.as_json() for report in reports], **totals})
    else:
        print(
            f"summary: {totals['errors']} errors, {totals['warnings']} warnings, "
            f"{totals['notes']} notes"
            + ("" if verbose or not totals["notes"] else " (--verbose lists the notes)")
        )
    return 1 if totals["errors"] else 0
