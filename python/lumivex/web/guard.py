"""What every request passes: the check of the host it names, and the
security headers every response carries."""

from __future__ import annotations

import ipaddress
import re
from collections.abc import Iterable

from starlette.datastructures import MutableHeaders
from starlette.responses import PlainTextResponse
from starlette.types import ASGIApp, Message, Receive, Send
from starlette.types import Scope as AsgiScope

SECURITY_HEADERS = {
    "content-security-policy": (
        "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
        "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"
    ),
    "x-content-type-options": "nosniff",
    "referrer-policy": "no-referrer",
    "x-frame-options": "DENY",
}
LOOPBACK_NAMES = ("127.0.0.1", "localhost", "::1")
# A Host header: a name or an IPv4 address, or an IPv6 address in brackets,
# then at most one port of digits.
HOST_HEADER = re.compile(r"(?:\[([0-9A-Fa-f:.]+)\]|([A-Za-z0-9._-]+))(?::[0-9]+)?")


class Guard:
    """Answers 400 to a request whose Host header names none of the names the
    server answers to, so that a web page cannot reach the server through a
    name of its own that it points at this machine; adds the security
    headers to every response."""

    def __init__(self, app: ASGIApp, hosts: Iterable[str]) -> None:
        self.app = app
        self.hosts = {same_host(host) for host in hosts}

    async def __call__(self, scope: AsgiScope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return

        async def send_guarded(message: Message) -> None:
            if message["type"] == "http.response.start":
                headers = MutableHeaders(scope=message)
                for name, value in SECURITY_HEADERS.items():
                    headers[name] = value
            await send(message)

        host = host_of(scope)
        if host is not None and same_host(host) in self.hosts:
            await self.app(scope, receive, send_guarded)
        else:
            response = PlainTextResponse("unknown host", status_code=400)
            await response(scope, receive, send_guarded)


def host_of(scope: AsgiScope) -> str | None:
    """The host a request names, without its port and brackets; None when
    the request has no Host header, more than one, or one that is not a host
    and an optional port."""
    values = [value for name, value in scope["headers"] if name == b"host"]
    if len(values) != 1:
        return None
    header = bytes(values[0]).decode("latin-1")
    parsed = HOST_HEADER.fullmatch(header)
    if parsed is None:
        return None
    return parsed[1] or parsed[2]


def same_host(host: str) -> str:
    """The host in one form for comparing: an address as the address it is,
    a name in lower case."""
    try:
        return str(ipaddress.ip_address(host))
    except ValueError:
        return host.lower()
