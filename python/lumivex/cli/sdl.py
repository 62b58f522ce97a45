"""lumivex sdl: the state descriptors of .sdl files."""

from __future__ import annotations

import argparse
import os
import sys

import lumivex
from lumivex.cli.common import CommandError, is_not_utf8, not_text
from lumivex.cli.output import print_json, table
from lumivex.shapes import counted, printable_text


def warn(text: str) -> None:
    print(f"lumivex: warning: {printable_text(text, keep_bytes=True)}", file=sys.stderr)


def is_sdl_name(name: str) -> bool:
    """Whether a file name ends in ".sdl": the text after its last dot, a
    leading dot alone not counting."""
    stem, dot, extension = name.rpartition(".")
    return bool(stem) and extension == "sdl"


def load_sdl_folder(path: str, sdl: lumivex.SdlFile) -> list[dict[str, str]]:
    """Loads the folder's ".sdl" files one by one, in name order, and returns
    the files passed over with the reason of each."""
    try:
        with os.scandir(path) as listing:
            entries = sorted((e for e in listing if is_sdl_name(e.name)), key=lambda e: e.name)
    except OSError as error:
        raise CommandError(f"cannot list {path}: {error.strerror or error}") from error
    passed = []
    for entry in entries:
        reason = None
        try:
            if not entry.is_file():
                reason = "not a regular file"
            else:
                sdl.load_file(entry.path)
        except OSError as error:
            reason = "not UTF-8 text" if is_not_utf8(error) else (error.strerror or str(error))
        if reason is not None:
            warn(f"passed over {entry.path}: {reason}")
            passed.append({"file": entry.path, "reason": reason})
    return passed


def run_sdl(args: argparse.Namespace) -> int:
    sdl = lumivex.SdlFile()
    passed: list[dict[str, str]] = []
    if os.path.isdir(args.path):
        passed = load_sdl_folder(args.path, sdl)
        if not len(sdl):
            raise CommandError(f"no state descriptor in the .sdl files of {args.path}")
    else:
        try:
            count = sdl.load_file(args.path)
        except OSError as error:
            if is_not_utf8(error):
                raise CommandError(not_text(args.path, "a state description file")) from error
            raise
        if not count:
            raise CommandError(f"{args.path} holds no state descriptor")
    if args.name is None:
        descriptors = sdl.descriptors()
    else:
        found = sdl.find(args.name, args.version)
        if found is None:
            of_version = f" of version {args.version}" if args.version else ""
            raise CommandError(f"no descriptor {args.name!r}{of_version} in {args.path}")
        descriptors = [found]
    if args.json:
        print_json({"descriptors": descriptors, "passed_over": passed})
        return 0
    if args.name is None:
        listed = [(d.name, d.version, len(d.variables)) for d in descriptors]
        print(table(listed, ("NAME", "VERSION", "VARIABLES")))
        return 0
    (shown,) = descriptors
    print(
        f"{printable_text(shown.name)} version {shown.version}, {counted(len(shown.variables), 'variable')}"
    )
    rows = [
        (v.var_type, v.name, v.count, "-" if v.default_value is None else v.default_value)
        for v in shown.variables
    ]
    if rows:
        print(table(rows, ("TYPE", "NAME", "COUNT", "DEFAULT")))
    return 0
