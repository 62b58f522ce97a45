"""What every request passes: the check of the host it names, and the
security headers every response carries."""

from __future__ import annotations

from collections.abc import Iterable

from starlette.datastructures import MutableHeaders
from starlette.responses import PlainTextResponse
from starlette.types import ASGIApp, Message, Receive, Send
from starlette.types import Scope as AsgiScope

SECURITY_HEADERS = {
    "content-security-policy": (
        "default-src 'none'; style-src 'self'; img-src 'self'; form-action 'self'; "
        "base-uri 'none'; frame-ancestors 'none'"
    ),
    "x-content-type-options": "nosniff",
    "referrer-policy": "no-referrer",
    "x-frame-options": "DENY",
}
LOOPBACK_NAMES = ("127.0.0.1", "localhost", "::1")
# Addresses that listen on every interface: any Host header may reach them.
ANY_HOST = ("0.0.0.0", "::", "")


class Guard:
    """Answers 400 to a request whose Host header names none of the names the
    server answers to, so that a web page cannot reach the server through a
    name of its own that it points at this machine; adds the security
    headers to every response."""

    def __init__(self, app: ASGIApp, hosts: Iterable[str]) -> None:
        self.app = app
        self.hosts = {host.lower() for host in hosts}

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

        if self.hosts & set(ANY_HOST) or host_of(scope) in self.hosts:
            await self.app(scope, receive, send_guarded)
        else:
            response = PlainTextResponse("unknown host", status_code=400)
            await response(scope, receive, send_guarded)


def host_of(scope: AsgiScope) -> str:
    """The host a request names, without its port and brackets."""
    for name, value in scope["headers"]:
        if name == b"host":
            host = bytes(value).decode("latin-1").lower()
            if host.startswith("["):
                return host[1 : host.find("]")] if "]" in host else ""
            return host.rsplit(":", 1)[0]
    return ""
