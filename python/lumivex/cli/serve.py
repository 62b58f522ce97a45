"""lumivex serve: an age, a folder or a page in the browser, from a web
server on this machine. The server itself, in lumivex.web, needs the web
extra; this module imports it only when the command runs, so that every other
command starts without it."""

from __future__ import annotations

import argparse
import ipaddress
import re
import socket

from lumivex.cli.common import CommandError

LOOPBACK = "127.0.0.1"
DEFAULT_PORT = 8000

WEB_MISSING = 'lumivex serve needs {name}: pip install "lumivex[web]"'

EPILOG = (
    "PATH is an .age file (the age, its pages and the state descriptions beside it), a "
    "folder (every age, page and .sdl file under it) or a page file. Only files inside "
    "PATH's folder are served, read-only; links that lead out of it are not followed. The "
    "server listens on 127.0.0.1 unless --host says otherwise; the same data is served as "
    "JSON under /api. On every address, it answers only requests whose Host header names "
    "localhost, this machine's name or one of its addresses (as they are when it starts), "
    "or a name given with --allow-host; so a web page cannot reach it through a name of its "
    "own. A connection has 10 seconds to send each request head, and is dropped when it "
    "reads nothing of an answer for 30 seconds; at most 256 connections are open at once, "
    "32 from one address, and those beyond are refused."
)


def port_number(text: str) -> int:
    number = int(text) if text.isdigit() else -1
    if not 0 <= number <= 65535:
        raise argparse.ArgumentTypeError(f"not a port from 0 to 65535: {text!r}")
    return number


def host_name(text: str) -> str:
    """A name or an address, without port or brackets, as a request's Host
    header may give it."""
    name = text[1:-1] if text.startswith("[") and text.endswith("]") else text
    try:
        return str(ipaddress.ip_address(name))
    except ValueError:
        if re.fullmatch(r"[A-Za-z0-9._-]+", name):
            return name
    raise argparse.ArgumentTypeError(f"not a host name or address without a port: {text!r}")


def run(args: argparse.Namespace) -> int:
    try:
        from lumivex.web import server
        from lumivex.web.site import Site
    except ImportError as error:
        package = (error.name or "its web extra").partition(".")[0]
        raise CommandError(WEB_MISSING.format(name=package)) from error
    site = Site(args.path)
    try:
        sock = server.listen(args.host, args.port)
    except socket.gaierror as error:
        raise CommandError(f"cannot listen on {args.host}: {error.strerror or error}") from error
    except OSError as error:
        raise CommandError(
            f"cannot listen on {args.host} port {args.port}: {error.strerror or error} "
            "(--port chooses another port, 0 any free one)"
        ) from error
    return server.serve(site, sock, args.host, args.open, args.allow_host)
