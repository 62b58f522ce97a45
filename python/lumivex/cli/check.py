"""lumivex check: the check of each age a path names, as text or as JSON,
written as its problems are found."""

from __future__ import annotations

import os
from collections.abc import Callable, Iterator, Sequence

from lumivex.age import Age
from lumivex.check import NOTE, AgeCheck, AgeReport, Problem, check_json, severity_counts
from lumivex.cli.age import load_age_description
from lumivex.cli.common import CommandError
from lumivex.cli.output import print_json
from lumivex.shapes import counted, printable_text


def age_files(path: str) -> list[tuple[str, Callable[[str], Age]]]:
    """The .age files a path names, each with how it is read: itself, or
    those of a folder in name order. One found in a folder is read only if
    it is a regular file, so that a FIFO so named is not waited on."""
    if not os.path.isdir(path):
        return [(path, Age.open)]
    names = sorted(name for name in os.listdir(path) if name.lower().endswith(".age"))
    return [(os.path.join(path, name), Age.open_regular) for name in names]


def problem_line(problem: Problem) -> str:
    where = []
    if problem.line:
        where.append(f"line {problem.line}")
    if problem.object_name is not None:
        where.append(f"{problem.object_name} ({problem.class_name})")
    if problem.field is not None:
        where.append(problem.field)
    prefix = " ".join(where)
    return f"  {problem.severity:<8} {prefix + ': ' if prefix else ''}{problem.message}"


def print_text_report(check: AgeCheck, verbose: bool) -> None:
    """The age's counts, then the problems under the page they are of: they
    are found page by page, the age's own last."""
    report = check.report
    print(
        printable_text(
            f"{report.age}: age {report.name}, {counted(report.page_count, 'page')}, "
            f"{counted(report.object_count, 'object')}",
            keep_bytes=True,
        )
    )
    heading: str | None = None
    for problem in check.problems():
        if problem.severity == NOTE and not verbose:
            continue
        page_heading = f"page {problem.page}" if problem.page is not None else "the age"
        if page_heading != heading:
            print(printable_text(page_heading, keep_bytes=True))
            heading = page_heading
        print(printable_text(problem_line(problem), keep_bytes=True))
    print(counted(report.reference_count, "reference"))


def run(paths: Sequence[str], as_json: bool, verbose: bool) -> int:
    """Checks every age the paths name and prints the report; 1 when there is
    any error."""
    found = []
    for path in paths:
        ages = age_files(path)
        if not ages:
            raise CommandError(f"no .age file in {path}")
        found += ages
    reports: list[AgeReport] = []

    def checks() -> Iterator[AgeCheck]:
        for age_path, open_age in found:
            check = AgeCheck(load_age_description(age_path, open_age))
            reports.append(check.report)
            yield check

    if as_json:
        print_json(
            {
                "age_count": len(found),
                "ages": (check_json(check) for check in checks()),
                **{
                    name: (lambda name=name: severity_counts(reports)[name])
                    for name in severity_counts([])
                },
            }
        )
    else:
        for check in checks():
            print_text_report(check, verbose)
    totals = severity_counts(reports)
    if not as_json:
        print(
            f"summary: {counted(totals['error_count'], 'error')}, "
            f"{counted(totals['warning_count'], 'warning')}, {counted(totals['note_count'], 'note')}"
            + ("" if verbose or not totals["note_count"] else " (--verbose lists the notes)")
        )
    return 1 if totals["error_count"] else 0
