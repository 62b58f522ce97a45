"""lumivex age: the settings and pages of an age description."""

from __future__ import annotations

import argparse
import os
from collections.abc import Callable
from typing import TypeVar

import lumivex
from lumivex.age import Age, age_file_in
from lumivex.check import age_lint
from lumivex.cli.common import CommandError, is_not_utf8, not_text
from lumivex.cli.output import fields, print_json, table
from lumivex.shapes import age_json, printable_text, value_text

Loaded = TypeVar("Loaded")


def load_age_description(path: str, load: Callable[[str], Loaded]) -> Loaded:
    """What load makes of an age description file; CommandError for a file
    that is not one, which its lint tells as a problem of no line."""
    try:
        loaded = load(path)
        whole_file = [problem for problem in age_lint(path) if problem.line == 0]
    except OSError as error:
        if is_not_utf8(error):
            raise CommandError(not_text(path, "an age description")) from error
        raise
    if whole_file:
        raise CommandError(f"{path} is {whole_file[0].reason}")
    return loaded


def run_age(args: argparse.Namespace) -> int:
    if os.path.isdir(args.file):
        # Found in a folder: only a regular file, so that a FIFO so named is
        # not waited on.
        path = age_file_in(args.file)
        age = load_age_description(path, lambda found: Age.open_regular(found).description)
    else:
        path = args.file
        age = load_age_description(path, lumivex.AgeFile.load)
    if args.json:
        print_json(age_json(path, age))
        return 0
    pages = [(entry, age.prp_filename(entry.name)) for entry in age.pages]
    print(printable_text(age.age_name))
    print(
        fields(
            [
                ("sequence prefix", age.sequence_prefix),
                ("max capacity", age.max_capacity),
                ("day length", value_text(age.day_length)),
                ("pages", len(pages)),
            ]
        )
    )
    if pages:
        rows = [
            (
                entry.name,
                entry.seq_suffix,
                entry.flags,
                "yes" if entry.auto_load else "no",
                filename,
            )
            for entry, filename in pages
        ]
        print()
        print(table(rows, ("PAGE", "SEQ", "FLAGS", "AUTO LOAD", "FILE")))
    return 0
