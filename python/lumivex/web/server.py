"""Running the application: a listening socket on the address asked for,
the address printed, the default browser opened on it if asked, and uvicorn
serving until Ctrl-C."""

from __future__ import annotations

import asyncio
import functools
import ipaddress
import logging
import socket
import struct
import sys
import webbrowser
from collections.abc import Iterable
from typing import cast

import uvicorn
from starlette.types import ASGIApp

from lumivex.web.app import create_app
from lumivex.web.gate import Gate, GatedProtocol, Limits, OncePerInterval
from lumivex.web.guard import LOOPBACK_NAMES
from lumivex.web.site import Site

# Addresses that listen on every interface.
ANY_HOST = ("0.0.0.0", "::", "")
# The ioctl that asks for an interface's IPv4 address, and where in the
# answer's struct ifreq the address lies.
SIOCGIFADDR = 0x8915
IFREQ_ADDRESS = slice(20, 24)
DEFAULT_LIMITS = Limits()
# The shortest time between two lines of one message in the log.
LOG_INTERVAL_SECONDS = 10.0


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


def interface_addresses() -> set[str]:
    """This machine's addresses: on Linux every interface's IPv4 address
    and every IPv6 address, everywhere the addresses its own name resolves
    to."""
    addresses = set()
    try:
        for info in socket.getaddrinfo(socket.gethostname(), None, type=socket.SOCK_STREAM):
            addresses.add(str(info[4][0]))
    except OSError:
        pass
    if sys.platform.startswith("linux"):
        import fcntl

        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
            for _, name in socket.if_nameindex():
                request = struct.pack("256s", name.encode()[:15])
                try:
                    answer = fcntl.ioctl(sock.fileno(), SIOCGIFADDR, request)
                except OSError:
                    # The interface has no IPv4 address.
                    continue
                addresses.add(socket.inet_ntoa(answer[IFREQ_ADDRESS]))
        try:
            with open("/proc/net/if_inet6", encoding="ascii") as table:
                for line in table:
                    addresses.add(str(ipaddress.IPv6Address(bytes.fromhex(line.split()[0]))))
        except OSError:
            # No IPv6 on this machine.
            pass
    return addresses


def accepted_hosts(host: str, allowed: Iterable[str]) -> set[str]:
    """The names a request's Host header may give: localhost, this machine's
    name and addresses, the address listened on, and the names allowed. A
    name a request gives is compared, never resolved."""
    names = {*LOOPBACK_NAMES, socket.gethostname(), *interface_addresses(), *allowed}
    if host not in ANY_HOST:
        names.add(host)
    return names


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


def gated_server(app: ASGIApp, limits: Limits) -> uvicorn.Server:
    """uvicorn serving the application over HTTP/1.1 within the limits."""
    # uvicorn makes each connection's protocol as it makes an instance of its class.
    protocol = cast(type[asyncio.Protocol], functools.partial(GatedProtocol, gate=Gate(limits)))
    config = uvicorn.Config(
        app, http=protocol, ws="none", log_level="warning", access_log=False, lifespan="off"
    )
    return uvicorn.Server(config)


def serve(
    site: Site,
    sock: socket.socket,
    host: str,
    open_browser: bool,
    allowed: Iterable[str] = (),
    limits: Limits = DEFAULT_LIMITS,
) -> int:
    """Serves the site on a listening socket until interrupted, to requests
    that name one of the accepted hosts, within the limits."""
    port = sock.getsockname()[1]
    warning = host_warning(host, port)
    if warning is not None:
        print(f"lumivex: warning: {warning}", file=sys.stderr, flush=True)
    address = address_of(sock)
    print(f"serving {site.path} at {address} (Ctrl-C stops)", flush=True)
    app = create_app(site, accepted_hosts(host, allowed))
    if open_browser:
        webbrowser.open(address)
    log = logging.getLogger("uvicorn.error")
    once = OncePerInterval(LOG_INTERVAL_SECONDS)
    log.addFilter(once)
    try:
        gated_server(app, limits).run(sockets=[sock])
    except KeyboardInterrupt:
        # Ctrl-C is how the server is meant to stop.
        pass
    finally:
        log.removeFilter(once)
    return 0
