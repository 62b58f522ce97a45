"""How many connections the server holds, and for how long it waits for a
request or for a client to read: a connection that has not sent a whole
request head in time is closed, one that stops reading an answer is dropped,
and connections beyond the limits, in all and from one address, are
refused as they arrive. The log says so in at most one line a refusal, and in
at most one line an interval for each kind of message."""

from __future__ import annotations

import asyncio
import logging
import time
from collections import Counter
from dataclasses import dataclass
from typing import Any

import h11
from uvicorn.config import Config
from uvicorn.protocols.http.h11_impl import H11Protocol
from uvicorn.server import ServerState

from lumivex.shapes import counted

REFUSAL = (
    b"HTTP/1.1 503 Service Unavailable\r\n"
    b"content-type: text/plain; charset=utf-8\r\n"
    b"content-length: 21\r\n"
    b"connection: close\r\n"
    b"\r\n"
    b"too many connections\n"
)


@dataclass(frozen=True)
class Limits:
    """The seconds a connection has to send each request head, the seconds
    it may read nothing while an answer waits to be sent, and the connections
    open at once: in all, and from one address."""

    head_seconds: float = 10.0
    send_seconds: float = 30.0
    connections: int = 256
    per_address: int = 32


def open_connections(count: int, where: str = "") -> str:
    """That count connections are open, in words that agree with it."""
    return f"{counted(count, 'connection')}{where} {'is' if count == 1 else 'are'} open"


class Gate:
    """The connections one server holds, counted as they open and close."""

    def __init__(self, limits: Limits) -> None:
        self.limits = limits
        self.open: Counter[str] = Counter()
        self.total = 0

    def refusal(self, address: str) -> str | None:
        """Why a new connection from the address is refused, or None when it
        is let in and counted."""
        if self.total >= self.limits.connections:
            return f"{open_connections(self.total)} (at most {self.limits.connections})"
        if self.open[address] >= self.limits.per_address:
            return (
                f"{open_connections(self.open[address], ' from it')} "
                f"(at most {self.limits.per_address})"
            )
        self.total += 1
        self.open[address] += 1
        return None

    def leave(self, address: str) -> None:
        self.total -= 1
        self.open[address] -= 1
        if not self.open[address]:
            del self.open[address]


class GatedProtocol(H11Protocol):
    """uvicorn's HTTP/1.1 connection, let in by the gate, closed when a
    request head is not whole in time, dropped when its client stops reading."""

    def __init__(
        self,
        config: Config,
        server_state: ServerState,
        app_state: dict[str, Any],
        _loop: asyncio.AbstractEventLoop | None = None,
        *,
        gate: Gate,
    ) -> None:
        super().__init__(config, server_state, app_state, _loop)
        self.gate = gate
        self.address: str | None = None
        self.head_deadline: asyncio.TimerHandle | None = None
        self.send_deadline: asyncio.TimerHandle | None = None

    def connection_made(self, transport: asyncio.Transport) -> None:  # type: ignore[override]
        super().connection_made(transport)
        address = self.client[0] if self.client else ""
        refusal = self.gate.refusal(address)
        if refusal is not None:
            self.logger.warning("refused a connection from %s: %s", address, refusal)
            transport.write(REFUSAL)
            transport.close()
            return
        self.address = address
        self.watch_head()

    def connection_lost(self, exc: Exception | None) -> None:
        if self.address is not None:
            self.gate.leave(self.address)
            self.address = None
        self.stop_head_deadline()
        self.stop_send_deadline()
        super().connection_lost(exc)

    def handle_events(self) -> None:
        super().handle_events()
        self.watch_head()

    def on_response_complete(self) -> None:
        super().on_response_complete()
        self.watch_head()

    def watch_head(self) -> None:
        """Starts the head's deadline when the connection waits for a request
        head, or for the rest of a request already answered, and stops it
        once the head is whole."""
        state = self.conn.their_state
        waiting = not self.transport.is_closing() and (
            state is h11.IDLE or (state is h11.SEND_BODY and self.conn.our_state is h11.DONE)
        )
        if not waiting:
            self.stop_head_deadline()
        elif self.head_deadline is None:
            self.head_deadline = self.loop.call_later(
                self.gate.limits.head_seconds, self.transport.close
            )

    def stop_head_deadline(self) -> None:
        if self.head_deadline is not None:
            self.head_deadline.cancel()
            self.head_deadline = None

    def pause_writing(self) -> None:
        """The client has not read what is already sent: it has the send
        limit's seconds to read some of it."""
        super().pause_writing()
        if self.send_deadline is None:
            self.send_deadline = self.loop.call_later(
                self.gate.limits.send_seconds, self.drop_stalled
            )

    def resume_writing(self) -> None:
        self.stop_send_deadline()
        super().resume_writing()

    def drop_stalled(self) -> None:
        self.send_deadline = None
        self.logger.warning(
            "dropped a connection from %s: it read nothing for %g seconds",
            self.address,
            self.gate.limits.send_seconds,
        )
        # Closing would wait for the unread answer to be sent; aborting does not.
        self.transport.abort()

    def stop_send_deadline(self) -> None:
        if self.send_deadline is not None:
            self.send_deadline.cancel()
            self.send_deadline = None


class OncePerInterval(logging.Filter):
    """Lets each message through at most once an interval; the next one
    through tells how many were held back."""

    def __init__(self, seconds: float) -> None:
        super().__init__()
        self.seconds = seconds
        self.last: dict[str, float] = {}
        self.held: Counter[str] = Counter()

    def filter(self, record: logging.LogRecord) -> bool:
        kind = str(record.msg)
        now = time.monotonic()
        if now - self.last.get(kind, -self.seconds) < self.seconds:
            self.held[kind] += 1
            return False
        self.last[kind] = now
        held = self.held.pop(kind, 0)
        if held:
            record.msg = f"{record.getMessage()} (and {held} more like it held back)"
            record.args = ()
        return True
