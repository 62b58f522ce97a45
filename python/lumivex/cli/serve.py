"""lumivex serve: an age, a folder or a page in the browser, from a web
server on this machine. The server itself, in lumivex.web, needs the web
extra; this module only reads the command line, so that every other command
starts without it."""

from __future__ import annotations

import argparse

from lumivex.cli.common import CommandError

LOOPBACK = "127.0.0.1"
DEFAULT_PORT = 8000

WEB_MISSING = 'lumivex serve needs {name}: pip install "lumivex[web]"'

EPILOG = (
    "PATH is an .age file (the age, its pages and the state descriptions beside it), a "
    "folder (every age, page and .sdl file under it) or a page file. Only files inside "
    "PATH's folder are served, read-only; links that lead out of it are not followed. The "
    "server listens on 127.0.0.1 unless --host says otherwise; the same data is served as "
    "JSON under /api."
)


def port_number(text: str) -> int:
    number = int(text) if text.isdigit() else -1
    if not 0 <= number <= 65535:
        raise argparse.ArgumentTypeError(f"not a port from 0 to 65535: {text!r}")
    return number


def run(args: argparse.Namespace) -> int:
    try:
        from lumivex.web import server
    except ImportError as error:
        package = (error.name or "its web extra").partition(".")[0]
        raise CommandError(WEB_MISSING.format(name=package)) from error
    return server.serve(args.path, args.host, args.port, args.open)
