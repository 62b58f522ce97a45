"""lumivex age: the settings and pages of an age description."""

from __future__ import annotations

import argparse

import lumivex
from lumivex.cli.common import CommandError, is_not_utf8
from lumivex.cli.output import fields, print_json, table
from lumivex.shapes import age_json, value_text

# The keys of an age description; any other line is passed over.
AGE_KEYS = {
    "StartDateTime",
    "DayLength",
    "MaxCapacity",
    "LingerTime",
    "SequencePrefix",
    "ReleaseVersion",
    "Page",
}


def has_age_line(path: str) -> bool:
    """Whether any line of the file sets an age setting or names a page."""
    with open(path, "rb") as file:
        text = file.read().decode("utf-8", "replace")
    return any(
        key.strip() in AGE_KEYS
        for key, equals, _ in (line.partition("=") for line in text.split("\n"))
        if equals
    )


def run_age(args: argparse.Namespace) -> int:
    try:
        age = lumivex.AgeFile.load(args.file)
    except OSError as error:
        if is_not_utf8(error):
            raise CommandError(
                f"{args.file} is not an age description: it is not UTF-8 text"
            ) from error
        raise
    if not has_age_line(args.file):
        raise CommandError(
            f"{args.file} is not an age description: no line of it is a setting or a page"
        )
    if args.json:
        print_json(age_json(args.file, age))
        return 0
    pages = [(entry, age.prp_filename(entry.name)) for entry in age.pages]
    print(age.age_name)
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
