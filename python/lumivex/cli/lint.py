"""lumivex lint: the lines of age (.age) and state description (.sdl) files
that their parsers skip, guess or default, each with the reason."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable, Sequence
from typing import NamedTuple

import lumivex
from lumivex.cli.output import print_json
from lumivex.errors import error_text
from lumivex.shapes import counted, printable_text

Lint = Callable[[str], list[lumivex.LintProblem]]

# The lint of each format, by the suffix of its files in lower case.
LINTS: dict[str, Lint] = {".age": lumivex.AgeFile.lint, ".sdl": lumivex.SdlFile.lint}

EPILOG = (
    "A file is linted as an age or a state description by its suffix, .age or .sdl in any "
    "case. Each problem is a line FILE:LINE: reason: 'the line as written'; a file that is no "
    "description at all is one problem without a line number. Exit status: 0 when no file has "
    "a problem, 1 when one has, 2 when a file cannot be read or the command line does not parse."
)


class LintedFile(NamedTuple):
    """A file named on the command line, and the lint of its format."""

    path: str
    lint: Lint


def file_argument(text: str) -> LintedFile:
    """A file whose suffix names a format the command lints."""
    name = os.path.basename(text).lower()
    for suffix, lint in LINTS.items():
        if name.endswith(suffix):
            return LintedFile(text, lint)
    raise argparse.ArgumentTypeError(f"not an .age or .sdl file: {text!r}")


def problem_line(path: str, problem: lumivex.LintProblem) -> str:
    """The problem as a line of the report; the line's text is escaped as the
    command escapes names, so that what it holds cannot act on the terminal."""
    shown = printable_text(path, keep_bytes=True)
    if problem.line == 0:
        return f"{shown}: {problem.reason}"
    return f"{shown}:{problem.line}: {problem.reason}: {problem.text!r}"


def run(files: Sequence[LintedFile], as_json: bool, report: Callable[[str, int], int]) -> int:
    """Lints each file in turn and prints its problems, then the totals; a
    file that cannot be read is reported with report and the others are still
    linted. The status is 2 when a file could not be read, else 1 when there
    is any problem."""
    linted: list[dict[str, object]] = []
    errors: list[dict[str, str]] = []
    total = 0
    for path, lint in files:
        try:
            problems = lint(path)
        except OSError as error:
            report(error_text(error), 2)
            errors.append({"file": path, "error": error_text(error)})
            continue
        total += len(problems)
        if as_json:
            linted.append({"file": path, "problems": [problem._asdict() for problem in problems]})
        else:
            sys.stdout.writelines(problem_line(path, problem) + "\n" for problem in problems)
    if as_json:
        print_json({"files": linted, "errors": errors, "problem_count": total})
    else:
        read = len(files) - len(errors)
        unread = f"; {counted(len(errors), 'file')} could not be read" if errors else ""
        print(f"summary: {counted(total, 'problem')} in {counted(read, 'file')}{unread}")
    if errors:
        return 2
    return 1 if total else 0
