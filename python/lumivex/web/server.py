"""Running the application: a listening socket on the address asked for,
the address printed, the default browser opened on it if asked, and uvicorn
serving until Ctrl-C."""

from __future__ import annotations

import ipaddress
import socket
import sys
import webbrowser

import uvicorn

from lumivex.web.app import create_app
from lumivex.web.guard import ANY_HOST, LOOPBACK_NAMES
from lumivex.web.site import Site


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def host_warning(host: str, port: int) -> str | None:
    """The warning for an address other machines may reach, or None."""
    if is_loopback(host):
        return None
    where = "every address of this machine" if host in ANY_HOST else host
    return (
        f"listening on {where}, port {port}: whoever can reach it can read every file "
        "this server shows"
    )


def listen(host: str, port: int) -> socket.socket:
    """A socket listening on the first address the host names; socket.gaierror
    when it names none."""
    family, kind, protocol, _, address = socket.getaddrinfo(
        host or None, port, type=socket.SOCK_STREAM, flags=socket.AI_PASSIVE
    )[0]
    sock = socket.socket(family, kind, protocol)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(address)
        sock.listen(128)
    except OSError:
        sock.close()
        raise
    return sock


def address_of(sock: socket.socket) -> str:
    host, port = sock.getsockname()[:2]
    shown = "127.0.0.1" if host in ANY_HOST else host
    return f"http://[{shown}]:{port}/" if ":" in shown else f"http://{shown}:{port}/"


def serve(site: Site, sock: socket.socket, host: str, open_browser: bool) -> int:
    """Serves the site on a listening socket until interrupted."""
    port = sock.getsockname()[1]
    warning = host_warning(host, port)
    if warning is not None:
        print(f"lumivex: warning: {warning}", file=sys.stderr, flush=True)
    address = address_of(sock)
    print(f"serving {site.path} at {address} (Ctrl-C stops)", flush=True)
    app = create_app(site, (*LOOPBACK_NAMES, host))
    if open_browser:
        webbrowser.open(address)
    config = uvicorn.Config(app, log_level="warning", access_log=False, lifespan="off")
    try:
        uvicorn.Server(config).run(sockets=[sock])
    except KeyboardInterrupt:
        # Ctrl-C is how the server is meant to stop.
        pass
    return 0
