"""lumivex check: the check of each age a path names, as text or as JSON."""

from __future__ import annotations

import os
from collections.abc import Sequence

from lumivex.age import Age
from lumivex.check import NOTE, AgeReport, Problem, check_age, summary
from lumivex.cli.age import load_age_description
from lumivex.cli.common import CommandError
from lumivex.cli.output import print_json
from lumivex.shapes import counted


def age_files(path: str) -> list[str]:
    """The .age files a path names: itself, or those of a folder in name order."""
    if not os.path.isdir(path):
        return [path]
    names = sorted(name for name in os.listdir(path) if name.lower().endswith(".age"))
    return [os.path.join(path, name) for name in names]


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


def text_report(report: AgeReport, verbose: bool) -> list[str]:
    lines = [
        f"{report.path}: age {report.name}, {counted(report.pages, 'page')}, "
        f"{counted(report.objects, 'object')}, {counted(report.references, 'reference')}"
    ]
    shown = [p for p in report.problems if verbose or p.severity != NOTE]
    pages: dict[str | None, list[Problem]] = {}
    for problem in shown:
        pages.setdefault(problem.page, []).append(problem)
    for page, problems in pages.items():
        lines.append(f"page {page}" if page is not None else "the age")
        lines += [problem_line(problem) for problem in problems]
    return lines


def run(paths: Sequence[str], as_json: bool, verbose: bool) -> int:
    """Checks every age the paths name and prints the report; 1 when there is
    any error."""
    reports = []
    for path in paths:
        found = age_files(path)
        if not found:
            raise CommandError(f"no .age file in {path}")
        for age_path in found:
            report = check_age(load_age_description(age_path, Age.open))
            reports.append(report)
            if not as_json:
                print("\n".join(text_report(report, verbose)))
    totals = summary(reports)
    if as_json:
        print_json({"ages": [report.as_json() for report in reports], **totals})
    else:
        print(
            f"summary: {counted(totals['errors'], 'error')}, "
            f"{counted(totals['warnings'], 'warning')}, {counted(totals['notes'], 'note')}"
            + ("" if verbose or not totals["notes"] else " (--verbose lists the notes)")
        )
    return 1 if totals["errors"] else 0
