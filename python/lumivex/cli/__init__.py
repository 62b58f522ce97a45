"""The lumivex command: look into Plasma page (.prp), age (.age) and state
description (.sdl) files from a terminal."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable, Sequence
from typing import NoReturn

import lumivex
from lumivex.cli import scan, texture
from lumivex.cli.common import (
    DECODERS,
    CommandError,
    print_json,
    properties,
    table,
    value_text,
)

__all__ = ["main"]


class UsageError(Exception):
    """A command line that does not parse; the command exits with status 2."""


class Parser(argparse.ArgumentParser):
    """Reports a usage error as an exception, so that main prints it in one line."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def fields(pairs: list[tuple[str, object]]) -> str:
    """Indented names and their values, in two columns aligned to the left."""
    return table([(f"  {name}", str(value)) for name, value in pairs])


def run_info(args: argparse.Namespace) -> int:
    page = lumivex.PrpFile.load(args.page)
    header = page.header
    classes = dict(sorted(page.count_by_type().items()))
    if args.json:
        print_json({"path": args.page, "header": header, "objects": len(page), "classes": classes})
        return 0
    print(args.page)
    print(
        fields(
            [
                ("age", header.age_name),
                ("page", header.page_name),
                ("version", header.version),
                ("sequence number", f"0x{header.sequence_number:08X}"),
                ("flags", f"0x{header.flags:04X}"),
                ("major version", header.major_version),
                ("checksum", f"0x{header.checksum:08X}"),
                ("data start", header.data_start),
                ("index start", header.index_start),
                ("objects", len(page)),
            ]
        )
    )
    if classes:
        print()
        print(table([(count, name) for name, count in classes.items()], ("COUNT", "CLASS")))
    return 0


def run_ls(args: argparse.Namespace) -> int:
    page = lumivex.PrpFile.load(args.page)
    objects = page.objects_by_name(args.class_name) if args.class_name else page.objects()
    if args.json:
        print_json(
            [
                {
                    "class_type": obj.class_type,
                    "class_name": obj.class_name,
                    "name": obj.name,
                    "object_id": obj.object_id,
                    "location_sequence": obj.location_sequence,
                    "data_len": obj.data_len,
                }
                for obj in objects
            ]
        )
    elif objects:
        rows = [(obj.class_name, obj.name, obj.object_id, obj.data_len) for obj in objects]
        print(table(rows, ("CLASS", "NAME", "ID", "BYTES")))
    return 0


def run_show(args: argparse.Namespace) -> int:
    page = lumivex.PrpFile.load(args.page)
    candidates = page.objects_by_name(args.class_name) if args.class_name else page.objects()
    named = [obj for obj in candidates if obj.name == args.name]
    if not named:
        of_class = f" of class {args.class_name}" if args.class_name else ""
        raise CommandError(f"no object named {args.name!r}{of_class} in {args.page}")
    decodable = [obj for obj in named if obj.class_name in DECODERS]
    if not decodable:
        classes = ", ".join(sorted({obj.class_name for obj in named}))
        raise CommandError(f"{args.name!r} is a {classes}, which lumivex does not decode")
    shown = []
    for obj in decodable:
        try:
            view = DECODERS[obj.class_name](obj)
        except (OSError, ValueError) as error:
            raise CommandError(f"cannot decode {obj.class_name} {obj.name!r}: {error}") from error
        shown.append((obj, properties(view)))
    if args.json:
        print_json(
            [
                {
                    "class_name": obj.class_name,
                    "name": obj.name,
                    "object_id": obj.object_id,
                    "properties": values,
                }
                for obj, values in shown
            ]
        )
        return 0
    for number, (obj, values) in enumerate(shown):
        if number:
            print()
        print(f"{obj.class_name} {obj.name!r} (object id {obj.object_id})")
        print(fields([(name, value_text(value)) for name, value in values.items()]))
    return 0


def run_scan(args: argparse.Namespace) -> int:
    return scan.run(args.paths, args.jobs, args.json, sys.stderr)


def run_age(args: argparse.Namespace) -> int:
    age = lumivex.AgeFile.load(args.file)
    pages = [(entry, age.prp_filename(entry.name)) for entry in age.pages]
    if args.json:
        print_json(
            {
                "age_name": age.age_name,
                "sequence_prefix": age.sequence_prefix,
                "max_capacity": age.max_capacity,
                "day_length": age.day_length,
                "pages": [
                    {**properties(entry), "prp_filename": filename} for entry, filename in pages
                ],
            }
        )
        return 0
    print(age.age_name)
    print(
        fields(
            [
                ("sequence prefix", age.sequence_prefix),
                ("max capacity", age.max_capacity),
                ("day length", age.day_length),
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


def run_sdl(args: argparse.Namespace) -> int:
    sdl = lumivex.SdlFile()
    if os.path.isdir(args.path):
        sdl.load_directory(args.path)
    else:
        sdl.load_file(args.path)
    if args.name is None:
        descriptors = sdl.descriptors()
        if args.json:
            print_json(descriptors)
        elif descriptors:
            listed = [(d.name, d.version, len(d.variables)) for d in descriptors]
            print(table(listed, ("NAME", "VERSION", "VARIABLES")))
        return 0
    found = sdl.find(args.name, args.version)
    if found is None:
        of_version = f" of version {args.version}" if args.version else ""
        raise CommandError(f"no descriptor {args.name!r}{of_version} in {args.path}")
    if args.json:
        print_json(found)
        return 0
    print(f"{found.name} version {found.version}, {len(found.variables)} variables")
    rows = [
        (v.var_type, v.name, v.count, "-" if v.default_value is None else v.default_value)
        for v in found.variables
    ]
    if rows:
        print(table(rows, ("TYPE", "NAME", "COUNT", "DEFAULT")))
    return 0


def run_texture(args: argparse.Namespace) -> int:
    page = lumivex.PrpFile.load(args.page)
    found = [obj for obj in page.objects_by_name("plMipmap") if obj.name == args.name]
    if not found:
        raise CommandError(f"no texture (plMipmap) named {args.name!r} in {args.page}")
    try:
        mipmap = found[0].as_mipmap()
    except (OSError, ValueError) as error:
        raise CommandError(f"cannot decode texture {args.name!r}: {error}") from error
    format_name = texture.write_png(mipmap, args.output)
    print(f"{args.output}: {mipmap.width}x{mipmap.height} from {format_name}")
    return 0


def run_roundtrip(args: argparse.Namespace) -> int:
    page = lumivex.PrpFile.load(args.page)
    with open(args.page, "rb") as original_file:
        original = original_file.read()
    page.save(args.output)
    with open(args.output, "rb") as written_file:
        written = written_file.read()
    if written == original:
        print(f"{args.output}: byte-identical to {args.page} ({len(written)} bytes)")
    else:
        first = next(
            (i for i, (a, b) in enumerate(zip(original, written, strict=False)) if a != b),
            min(len(original), len(written)),
        )
        print(
            f"{args.output}: differs from {args.page}: input {len(original)} bytes, "
            f"output {len(written)} bytes, first difference at byte {first}"
        )
    return 0


def positive(text: str) -> int:
    number = int(text) if text.isdigit() else 0
    if number < 1:
        raise argparse.ArgumentTypeError(f"not a positive whole number: {text!r}")
    return number


def version_number(text: str) -> int:
    number = int(text) if text.isdigit() else -1
    if not 0 <= number <= 0xFFFFFFFF:
        raise argparse.ArgumentTypeError(f"not a version from 0 to 4294967295: {text!r}")
    return number


def build_parser() -> Parser:
    parser = Parser(
        prog="lumivex",
        description="Look into Plasma page (.prp), age (.age) and state description (.sdl) files.",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    def command(
        name: str, run: Callable[[argparse.Namespace], int], text: str, with_json: bool = True
    ) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=text, description=text)
        sub.set_defaults(run=run)
        if with_json:
            sub.add_argument("--json", action="store_true", help="print JSON instead of tables")
        return sub

    info = command("info", run_info, "Show a page's header and its objects counted by class.")
    info.add_argument("page", metavar="PAGE.prp")

    ls = command("ls", run_ls, "List a page's objects: class, name, object id, data length.")
    ls.add_argument("page", metavar="PAGE.prp")
    ls.add_argument("--class", dest="class_name", metavar="NAME", help="only objects of this class")

    show = command("show", run_show, "Show the decoded view of the objects of a name.")
    show.add_argument("page", metavar="PAGE.prp")
    show.add_argument("name", metavar="NAME")
    show.add_argument(
        "--class", dest="class_name", metavar="NAME", help="only objects of this class"
    )

    scanner = command(
        "scan",
        run_scan,
        "Decode every object of the decodable classes in all pages under the paths.",
    )
    scanner.add_argument("paths", metavar="PATH", nargs="+", help="a .prp file or a directory")
    scanner.add_argument(
        "--jobs",
        type=positive,
        default=os.cpu_count() or 1,
        metavar="N",
        help="number of processes (default: one per processor)",
    )

    age = command("age", run_age, "Show an age's settings and pages with their page files.")
    age.add_argument("file", metavar="FILE.age")

    sdl = command("sdl", run_sdl, "List state descriptors, or show one with its variables.")
    sdl.add_argument("path", metavar="PATH", help="a .sdl file or a directory of them")
    sdl.add_argument("name", metavar="NAME", nargs="?", help="the descriptor to show")
    sdl.add_argument(
        "version",
        metavar="VERSION",
        nargs="?",
        type=version_number,
        default=0,
        help="its version (default: the highest)",
    )

    image = command(
        "texture", run_texture, "Write the top level of a texture as a PNG image.", with_json=False
    )
    image.add_argument("page", metavar="PAGE.prp")
    image.add_argument("name", metavar="NAME")
    image.add_argument("-o", "--output", metavar="OUT.png", required=True)

    roundtrip = command(
        "roundtrip",
        run_roundtrip,
        "Save a page and say whether the output is byte-identical to the input.",
        with_json=False,
    )
    roundtrip.add_argument("page", metavar="PAGE.prp")
    roundtrip.add_argument("output", metavar="OUT.prp")
    return parser


def report(message: str, status: int) -> int:
    one_line = message.replace("\r", "\\r").replace("\n", "\\n")
    print(f"lumivex: {one_line}", file=sys.stderr)
    return status


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line (sys.argv when None) and returns the exit status."""
    try:
        args = build_parser().parse_args(argv)
        run: Callable[[argparse.Namespace], int] = args.run
        return run(args)
    except UsageError as error:
        return report(str(error), 2)
    except BrokenPipeError:
        # The reader went away: nothing more can be printed, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (CommandError, OSError, ValueError) as error:
        return report(str(error), 1)
    except KeyboardInterrupt:
        return 130
