"""The lumivex command: look into Plasma page (.prp), age (.age) and state
description (.sdl) files from a terminal."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable, Sequence
from typing import NoReturn

import lumivex
from lumivex import texture
from lumivex.classes import class_type
from lumivex.cli import age, check, diff, edit, lint, page, scan, sdl, serve
from lumivex.cli.common import CommandError, load_page, replace_file, report
from lumivex.cli.output import print_json
from lumivex.cli.signals import Ended, endings_raised
from lumivex.errors import error_text

__all__ = ["main"]

PILLOW_MISSING = (
    'the texture command needs Pillow for {suffix} files: pip install Pillow (or pip install ".[images]" '
    "in the lumivex source tree); .dds files need nothing more"
)


class UsageError(Exception):
    """A command line that does not parse; the command exits with status 2."""


class Parser(argparse.ArgumentParser):
    """Reports a usage error as an exception, so that main prints it in one line."""

    def error(self, message: str) -> NoReturn:
        raise UsageError(message)


def run_scan(args: argparse.Namespace) -> int:
    return scan.run(args.paths, args.jobs, args.json, sys.stdout, sys.stderr)


def run_texture(args: argparse.Namespace) -> int:
    loaded = load_page(args.page)
    found = [obj for obj in loaded.objects_by_name("plMipmap") if obj.name == args.name]
    if not found:
        raise CommandError(f"no texture (plMipmap) named {args.name!r} in {args.page}")
    try:
        mipmap = found[0].as_mipmap()
    except (OSError, ValueError) as error:
        raise CommandError(f"cannot decode texture {args.name!r}: {error_text(error)}") from error
    suffix = os.path.splitext(args.output)[1].lower()
    try:
        data, written = texture.encode(mipmap, suffix)
    except texture.TextureError as error:
        raise CommandError(str(error)) from error
    except ImportError as error:
        raise CommandError(PILLOW_MISSING.format(suffix=suffix)) from error
    replace_file(args.output, data)
    if args.json:
        print_json(
            {"page": args.page, "name": args.name, "output": args.output, **written._asdict()}
        )
    else:
        print(f"{args.output}: {written.text()}")
    return 0


def run_diff(args: argparse.Namespace) -> int:
    # As diff's: 1 says that A and B differ, so an error is 2.
    try:
        return diff.run(args.a, args.b, args.stat, args.json, args.all)
    except BrokenPipeError:
        raise
    except (OSError, ValueError) as error:
        return report(error_text(error), 2)


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


def class_argument(text: str) -> int:
    try:
        return class_type(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from error


def output_argument(text: str) -> str:
    try:
        return texture.output_path(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from error


CLASS_HELP = "only objects of this class: a name in any case, or an id (decimal, or hex with 0x)"


def build_parser() -> Parser:
    parser = Parser(
        prog="lumivex",
        description="Look into Plasma page (.prp), age (.age) and state description (.sdl) files.",
        epilog="Exit status: 0 when all went well, 1 for a failure, 2 for a command line "
        "that does not parse, 130 when interrupted, 128 plus the signal's number when ended by "
        "SIGTERM or SIGHUP (a file being written is removed, as on an interrupt); diff, as diff does, exits with 1 when its "
        "files differ and 2 on any error. lumivex COMMAND --help describes a command.",
    )
    parser.add_argument(
        "-V", "--version", action="version", version=f"%(prog)s {lumivex.__version__}"
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    def command(
        name: str,
        run: Callable[[argparse.Namespace], int],
        text: str,
        with_json: bool = True,
        epilog: str | None = None,
    ) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=text, description=text, epilog=epilog)
        sub.set_defaults(run=run)
        if with_json:
            add_json(sub)
        return sub

    def add_json(container: argparse._ActionsContainer) -> None:
        container.add_argument("--json", action="store_true", help="print JSON instead of tables")

    info = command(
        "info", page.run_info, "Show each page's header and its objects counted by class."
    )
    info.add_argument("pages", metavar="PAGE.prp", nargs="+")

    ls = command("ls", page.run_ls, "List a page's objects: class, name, object id, data length.")
    ls.add_argument("page", metavar="PAGE.prp")
    ls.add_argument(
        "--class", dest="class_type", type=class_argument, metavar="CLASS", help=CLASS_HELP
    )

    show = command("show", page.run_show, "Show the decoded view of the objects of a name.")
    show.add_argument("page", metavar="PAGE.prp")
    show.add_argument("name", metavar="NAME")
    show.add_argument(
        "--class", dest="class_type", type=class_argument, metavar="CLASS", help=CLASS_HELP
    )

    scanner = command(
        "scan",
        run_scan,
        "Decode every object of the decodable classes in all pages under the paths.",
        epilog="Only regular files are read: FIFOs and devices are skipped. The exit status "
        "is 1 when a page fails to load or loses keys of its index, when an object fails to "
        "decode, or when a folder cannot be listed.",
    )
    scanner.add_argument("paths", metavar="PATH", nargs="+", help="a .prp file or a folder")
    scanner.add_argument(
        "--jobs",
        type=positive,
        metavar="N",
        help="at most this many processes (default: one per processor); "
        "small scans run in one process",
    )

    age_command = command(
        "age", age.run_age, "Show an age's settings and pages with their page files."
    )
    age_command.add_argument(
        "file", metavar="FILE.age", help="an .age file, or a folder holding one"
    )

    sdl_command = command(
        "sdl", sdl.run_sdl, "List state descriptors, or show one with its variables."
    )
    sdl_command.add_argument("path", metavar="PATH", help="a .sdl file or a folder of them")
    sdl_command.add_argument("name", metavar="NAME", nargs="?", help="the descriptor to show")
    sdl_command.add_argument(
        "version",
        metavar="VERSION",
        nargs="?",
        type=version_number,
        default=0,
        help="its version (default: the highest)",
    )

    linter = command(
        "lint",
        lambda args: lint.run(args.files, args.json, report),
        "List the lines of .age and .sdl files that their parsers skip, guess or default.",
        epilog=lint.EPILOG,
    )
    linter.add_argument(
        "files", metavar="FILE", nargs="+", type=lint.file_argument, help="an .age or .sdl file"
    )

    image = command(
        "texture",
        run_texture,
        "Write a texture to an image file whose suffix names the format.",
        epilog=(
            ".dds keeps every stored level as it is (DXT1, DXT5 or 32-bit pixels) and needs "
            "nothing more. .png, .tga, .tif, .tiff and .webp (lossless) hold the top "
            "level with its alpha, and need Pillow: pip install Pillow."
        ),
    )
    image.add_argument("page", metavar="PAGE.prp")
    image.add_argument("name", metavar="NAME")
    image.add_argument(
        "-o",
        "--output",
        metavar="OUT",
        type=output_argument,
        required=True,
        help="the image file: " + ", ".join(texture.SUFFIXES),
    )

    checker = command(
        "check",
        lambda args: check.run(args.paths, args.json, args.verbose),
        "Check that every reference of an age still points at something.",
        epilog="PATH is an .age file, or a folder holding .age files; each age's pages are "
        "found beside it; a file that is not an age description is refused. Errors: a reference into a page of the age that finds no object, a "
        "listed page that is missing or does not load, two pages with one sequence number, a "
        "page whose header names another age or page, an object that does not decode. "
        "Warnings: a line of the .age file that its parser skips, guesses or defaults, a page "
        "listed again, two listed pages of one sequence suffix, a page "
        "file of the age that is not listed, objects of one class and name in "
        "a page, a page whose index lost keys, a key whose object id differs from the index. "
        "Notes: references to locations no page of the age holds. The exit status is 1 when "
        "there is any error.",
    )
    checker.add_argument("paths", metavar="PATH", nargs="+", help="an .age file or a folder")
    checker.add_argument("-v", "--verbose", action="store_true", help="list the notes too")

    server = command(
        "serve",
        serve.run,
        "Show an age, a folder or a page in a web browser, from a server on this machine.",
        with_json=False,
        epilog=serve.EPILOG,
    )
    server.add_argument("path", metavar="PATH", help="an .age file, a folder or a page file")
    server.add_argument(
        "--host", default=serve.LOOPBACK, help="the address to listen on (default: %(default)s)"
    )
    server.add_argument(
        "--port",
        type=serve.port_number,
        default=serve.DEFAULT_PORT,
        help="the port to listen on; 0 takes any free one (default: %(default)s)",
    )
    server.add_argument(
        "--allow-host",
        metavar="NAME",
        type=serve.host_name,
        action="append",
        default=[],
        help="also answer requests that give NAME as their host (repeatable)",
    )
    server.add_argument("--open", action="store_true", help="open the address in the browser")

    differ = command(
        "diff",
        run_diff,
        "Show what differs between two pages, or between the pages of two ages.",
        with_json=False,
        epilog="A and B are two page files, or two ages: an .age file or a folder holding "
        "one, whose pages pair by the page name in their headers; the settings and page "
        "lists of two ages' descriptions are compared too. Objects pair by class and "
        "name, those of one class and name in index order. The exit status is 0 when A and "
        "B are the same, 1 when they differ, 2 on any error.",
    )
    differ.add_argument("a", metavar="A", help="a .prp file, an .age file or a folder")
    differ.add_argument("b", metavar="B", help="a .prp file, an .age file or a folder")
    shown = differ.add_mutually_exclusive_group()
    add_json(shown)
    shown.add_argument("--stat", action="store_true", help="print each page's counts only")
    differ.add_argument(
        "--all",
        action="store_true",
        help="show derived values too: sizes, offsets, counts, names that follow keys",
    )

    editor = command(
        "edit",
        edit.run,
        "Rename, remove, retexture or change a page's objects, or rename an object across an age.",
        epilog=edit.EPILOG,
    )
    editor.add_argument(
        "path", metavar="PAGE", help="a .prp file, or an .age file or a folder holding one"
    )
    editor.add_argument(
        "-o", "--output", metavar="OUT", help="the edited page (default: over the page itself)"
    )
    editor.add_argument(
        "--rename", action="append", default=[], metavar="OLD=NEW", help="rename an object"
    )
    editor.add_argument(
        "--remove", action="append", default=[], metavar="NAME", help="remove an object"
    )
    editor.add_argument(
        "--texture",
        action="append",
        default=[],
        metavar="NAME=IMAGE",
        help="replace a texture by an image file",
    )
    editor.add_argument(
        "--format",
        choices=edit.FORMATS,
        help="the replaced textures' format (default: each texture's own)",
    )
    editor.add_argument(
        "--set",
        dest="values",
        action="append",
        default=[],
        metavar="NAME.PROPERTY=VALUE",
        help="change a value of an object's view",
    )
    editor.add_argument(
        "--dry-run", action="store_true", help="print what would change, write nothing"
    )
    editor.add_argument(
        "--in-place",
        action="store_true",
        help="across an age, write in place the pages a new file cannot replace",
    )

    roundtrip = command(
        "roundtrip",
        page.run_roundtrip,
        "Save a page and say whether the output is byte-identical to the input "
        "(exit status 1 when it is not).",
    )
    roundtrip.add_argument("page", metavar="PAGE.prp")
    roundtrip.add_argument("output", metavar="OUT.prp")
    return parser


def keep_file_names() -> None:
    """File names that are not UTF-8 reach the command as os.fsdecode gives
    them; they are printed back as the same bytes."""
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(errors="surrogateescape")


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line (sys.argv when None) and returns the exit status."""
    if sys.stdout is None:
        # Python gives a closed standard output no stream, and prints to none
        # as if they were written: a listing or a page sent there would be
        # lost while the command said it went well.
        return report("standard output is closed; nothing was done", 1)
    try:
        keep_file_names()
        parser = build_parser()
        args = parser.parse_args(argv)
        if args.command is None:
            sys.stderr.write(parser.format_usage())
            return report("no command given; lumivex --help lists the commands", 2)
        run: Callable[[argparse.Namespace], int] = args.run
        with endings_raised():
            return run(args)
    except Ended as ended:
        # Quietly, as a process the signal killed: the terminal may be gone.
        return 128 + ended.signum
    except UsageError as error:
        return report(str(error), 2)
    except BrokenPipeError:
        # The reader went away: nothing more can be printed, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (CommandError, OSError, ValueError) as error:
        return report(error_text(error), 1)
    except KeyboardInterrupt:
        return report("interrupted", 130)
