"""lumivex serve under hostile clients: slow request heads, floods of
connections, Host headers that name other hosts or are malformed, bad query
values and names that would reorder the text around them."""

from __future__ import annotations

import contextlib
import html
import http.client
import re
import signal
import socket
import subprocess
import sys
import threading
import time
import warnings
from collections.abc import Iterator
from pathlib import Path

import pytest
from lumivex.cli import main

from fixtures.builder import Obj, page
from fixtures.object_bodies import LAYER, MIPMAP, layer_body
from fixtures.texture_bodies import DXT5, texture_body

pytest.importorskip("starlette")
pytest.importorskip("jinja2")
pytest.importorskip("httpx")
pytest.importorskip("uvicorn")

with warnings.catch_warnings():
    # Newer Starlettes ask for httpx's successor, which is not everywhere yet.
    warnings.filterwarnings("ignore", "Using `httpx` with `starlette.testclient`")
    from starlette.testclient import TestClient

from lumivex.cli.serve import EPILOG, host_name  # noqa: E402
from lumivex.web import Site, create_app  # noqa: E402
from lumivex.web.gate import Gate, Limits  # noqa: E402
from lumivex.web.server import (  # noqa: E402
    accepted_hosts,
    gated_server,
    interface_addresses,
    listen,
)

SAMPLES = Path(__file__).resolve().parent.parent / "samples"
REQUEST = b"GET /api HTTP/1.1\r\nHost: localhost\r\n\r\n"
# A name that would show what follows it backwards.
TURNED = "Layer\u202eGNP.exe"


@pytest.fixture(scope="module")
def site() -> Site:
    return Site(str(SAMPLES / "Demo.age"))


# Small and quick limits.
QUICK = Limits(head_seconds=0.5, send_seconds=0.5, connections=5, per_address=3)


@pytest.fixture
def gated(site: Site) -> Iterator[int]:
    """The port of a server, in a thread, whose limits are small and quick."""
    with running(site, listen("127.0.0.1", 0)) as port:
        yield port


@contextlib.contextmanager
def running(site: Site, sock: socket.socket) -> Iterator[int]:
    """Serves the site on the socket in a thread within the quick limits."""
    server = gated_server(create_app(site), QUICK)
    thread = threading.Thread(target=server.run, kwargs={"sockets": [sock]})
    thread.start()
    try:
        while not server.started:
            assert thread.is_alive(), "the server did not start"
            time.sleep(0.01)
        yield sock.getsockname()[1]
    finally:
        server.should_exit = True
        thread.join(timeout=30)
        sock.close()


def connect(port: int, source: str = "127.0.0.1") -> socket.socket:
    """A connection to the server from one of this machine's loopback
    addresses, so that it counts as that address's."""
    return socket.create_connection(("127.0.0.1", port), timeout=30, source_address=(source, 0))


def answer(connection: socket.socket) -> bytes:
    """What the server sends until it closes the connection."""
    received = b""
    while chunk := connection.recv(65536):
        received += chunk
    return received


def status(connection: socket.socket, request: bytes = REQUEST) -> int:
    """The status of the answer to a request on the connection."""
    connection.sendall(request)
    head = b""
    while b"\r\n" not in head:
        chunk = connection.recv(4096)
        assert chunk, head
        head += chunk
    return int(head.split()[1])


def closed(connection: socket.socket) -> bool:
    """Whether the server closed the connection without an answer."""
    try:
        return connection.recv(65536) == b""
    except ConnectionResetError:
        return True


def trickle(connection: socket.socket, data: bytes) -> None:
    """Sends the data a byte at a time, slowly, until it is sent or the
    server has closed the connection."""
    for byte in data:
        try:
            connection.sendall(bytes([byte]))
        except OSError:
            return
        time.sleep(0.1)


@pytest.mark.parametrize(
    "answered, trickled",
    [
        (None, b"GET /api HTTP/1.1\r\nHost: localhost\r\n"),
        ("GET", b"GET /api HTTP/1.1\r\nHost: localhost\r\n"),
        ("POST", b"x" * 40),
    ],
    ids=["first head", "head after an answer", "body after an answer"],
)
def test_a_slow_request_is_cut_off_and_others_are_served(gated, answered, trickled):
    slow = http.client.HTTPConnection("127.0.0.1", gated, timeout=30)
    if answered is None:
        slow.connect()
    else:
        # The POST's body is not sent yet; it is answered 405 at once.
        headers = {"Host": "localhost", "Content-Length": "100000"} if answered == "POST" else {}
        slow.request(answered, "/api", headers={"Host": "localhost", **headers})
        slow.getresponse().read()
    assert slow.sock is not None
    trickle(slow.sock, trickled[:10])
    assert status(connect(gated)) == 200
    trickle(slow.sock, trickled[10:])
    assert closed(slow.sock)


def test_a_client_that_stops_reading_is_dropped_and_others_are_served(tmp_path):
    (tmp_path / "Many.prp").write_bytes(
        page([Obj(LAYER, f"L{n:05}", b"", n + 1) for n in range(4000)])
    )
    sock = listen("127.0.0.1", 0)
    # Small send buffers, so that an unread answer backs up into the server.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 8192)
    with running(Site(str(tmp_path)), sock) as port:
        stalled = socket.socket()
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stalled.settimeout(30)
        stalled.connect(("127.0.0.1", port))
        stalled.sendall(b"GET /api/ls/Many.prp HTTP/1.1\r\nHost: localhost\r\n\r\n")
        time.sleep(3 * QUICK.send_seconds)
        assert status(connect(port)) == 200
        received = 0
        with contextlib.suppress(ConnectionResetError):
            while chunk := stalled.recv(65536):
                received += len(chunk)
    whole = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    assert 0 < received < len(whole.get("/api/ls/Many.prp").content)


def test_connections_beyond_the_limits_are_refused_as_they_arrive(gated):
    held = [connect(gated) for _ in range(3)]
    for connection in held:
        connection.sendall(b"GET")
    assert answer(connect(gated)).startswith(b"HTTP/1.1 503 ")
    # Another address still has its share, up to the limit in all.
    served = connect(gated, "127.0.0.2")
    assert status(served) == 200
    held.append(connect(gated, "127.0.0.2"))
    assert answer(connect(gated, "127.0.0.3")).startswith(b"HTTP/1.1 503 ")
    # A connection that closes frees its place.
    served.close()
    deadline = time.monotonic() + 30
    while status(connect(gated, "127.0.0.3")) == 503:
        assert time.monotonic() < deadline


def run_server(*argv: str) -> tuple[subprocess.Popen[str], int]:
    server = subprocess.Popen(
        [sys.executable, "-m", "lumivex", "serve", str(SAMPLES / "Demo.age"), "--port", "0", *argv],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    assert server.stdout is not None
    line = server.stdout.readline()
    address = re.fullmatch(r"serving .* at http://127\.0\.0\.1:(\d+)/ \(Ctrl-C stops\)\n", line)
    assert address, line
    return server, int(address[1])


def stopped(server: subprocess.Popen[str]) -> str:
    """What the server wrote to its log, once it has stopped."""
    server.send_signal(signal.SIGINT)
    server.wait(timeout=30)
    assert server.returncode == 0
    assert server.stderr is not None
    return server.stderr.read()


def test_floods_take_one_line_of_the_log():
    server, port = run_server()
    try:
        held = [connect(port) for _ in range(Limits().per_address)]
        for connection in held:
            connection.sendall(b"GET / HTTP/1.1\r\n")
        for _ in range(20):
            assert answer(connect(port)).startswith(b"HTTP/1.1 503 ")
        assert status(connect(port, "127.0.0.2")) == 200
        for _ in range(20):
            assert status(connect(port, "127.0.0.2"), b"\0 not HTTP\r\n\r\n") == 400
    finally:
        log = stopped(server)
    assert len(log.splitlines()) == 2, log
    assert "refused a connection from 127.0.0.1" in log
    assert "Invalid HTTP request received." in log


@pytest.mark.parametrize("host", ["0.0.0.0", "::"])
def test_the_host_check_stays_on_for_every_address(host):
    if host == "::" and not socket.has_ipv6:
        pytest.skip("no IPv6 here")
    server, port = run_server(
        "--host", host, "--allow-host", "Data.Example", "--allow-host", "x.test"
    )
    try:
        for name, expected in [
            ("rebound.example", 400),
            ("0.0.0.0", 400),
            ("localhost", 200),
            (f"data.example:{port}", 200),
            ("x.test", 200),
            (socket.gethostname(), 200),
        ]:
            request = f"GET /api HTTP/1.1\r\nHost: {name}\r\nConnection: close\r\n\r\n"
            assert status(connect(port), request.encode()) == expected, name
    finally:
        log = stopped(server)
    assert "warning: listening on every address" in log


def test_accepted_hosts_are_this_machines_names_and_addresses():
    accepted = accepted_hosts("::", ["lumivex.test"])
    assert {"localhost", "127.0.0.1", "::1", socket.gethostname(), "lumivex.test"} <= accepted
    assert interface_addresses() <= accepted
    assert not {"::", "0.0.0.0", ""} & accepted
    if sys.platform.startswith("linux"):
        assert "127.0.0.1" in interface_addresses()


@pytest.mark.parametrize(
    "host, expected",
    [
        ("localhost", 200),
        ("LocalHost:8000", 200),
        ("[::1]:8000", 200),
        ("[0:0::1]", 200),
        ("127.0.0.1:1", 200),
        ("localhost:80:80", 400),
        ("localhost:", 400),
        ("localhost:８０", 400),
        ("localhost:²", 400),
        ("localhost:+80", 400),
        ("localhost 80", 400),
        ("[::1]x", 400),
        ("[::1", 400),
        ("::1", 400),
        ("user@localhost", 400),
        ("localhost.", 400),
        ("", 400),
    ],
)
def test_host_headers_are_parsed_strictly(site, host, expected):
    client = TestClient(create_app(site), base_url="http://127.0.0.1")
    assert client.get("/api", headers={"host": host.encode()}).status_code == expected


def test_two_host_headers_are_refused(gated):
    request = b"GET /api HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n\r\n"
    assert status(connect(gated), request) == 400


@pytest.mark.parametrize(
    "url, expected",
    [
        ("/page/{page}?start=²", 400),
        ("/page/{page}?start=٣", 400),
        ("/page/{page}?start=" + "9" * 5000, 400),
        ("/page/{page}?start=", 400),
        ("/page/{page}?class=" + "9" * 5000, 400),
        ("/page/{page}?class=0x" + "F" * 5000, 400),
        ("/api/ls/{page}?class=" + "9" * 5000, 400),
        ("/api/ls/{page}?class=²", 400),
        ("/object/{page}/" + "9" * 5000, 404),
        ("/object/{page}/²", 404),
        ("/api/show/{page}/" + "9" * 5000, 404),
        ("/api/references/{page}/" + "9" * 5000, 404),
        ("/texture/{page}/0/" + "9" * 5000 + ".png", 404),
        ("/object/{page}/9999999999", 404),
    ],
)
def test_bad_numbers_answer_a_short_message(site, url, expected):
    client = TestClient(create_app(site), base_url="http://127.0.0.1")
    response = client.get(url.format(page=next(iter(site.pages))))
    assert response.status_code == expected
    assert len(response.text) < 2000
    message = response.json()["error"] if "/api/" in url else response.text
    assert "digits" not in message and "int()" not in message


def test_names_with_bidirectional_controls_show_escaped(tmp_path):
    path = tmp_path / "Turned.prp"
    path.write_bytes(
        page(
            [
                Obj(LAYER, TURNED, layer_body(TURNED)),
                Obj(MIPMAP, TURNED, texture_body(TURNED, DXT5)),
            ]
        )
    )
    client = TestClient(create_app(Site(str(path))), base_url="http://127.0.0.1")
    for url in ("/page/Turned.prp", "/object/Turned.prp/0", "/object/Turned.prp/1"):
        text = client.get(url).text
        assert "\u202e" not in text
        assert "Layer\\u202eGNP.exe" in text
    download = client.get("/texture/Turned.prp/1.png").headers["content-disposition"]
    assert "Layer%5Cu202eGNP.exe.png" in download
    assert client.get("/api/ls/Turned.prp").json()["objects"][0]["name"] == TURNED


# File names with characters a view shows escaped.
ESCAPED_FILES = ["Tab\tbed.prp", f"{TURNED}.prp"]


def form_values(text: str, name: str) -> list[str]:
    """The values a page's forms send for a field: its inputs' values, or
    each option of its select."""
    found = re.search(rf'<select name="{name}">(.*?)</select>', text, re.S)
    if found is not None:
        return [html.unescape(value) for value in re.findall(r'<option value="([^"]*)"', found[1])]
    return [
        html.unescape(value)
        for value in re.findall(rf'<input [^>]*name="{name}"[^>]*value="([^"]*)"', text)
    ]


def test_forms_send_back_names_that_show_escaped(tmp_path):
    for name in ESCAPED_FILES:
        (tmp_path / name).write_bytes(page([Obj(LAYER, "Lamp", layer_body("Lamp"))]))
    client = TestClient(create_app(Site(str(tmp_path))), base_url="http://127.0.0.1")
    for url, field in (("/diff", "a"), ("/diff", "b"), ("/search", "scope")):
        text = client.get(url).text
        assert sorted(form_values(text, field)) == sorted(["", *ESCAPED_FILES][url == "/diff" :])
        assert "page Tab\\tbed.prp" in text
    typed = "lamp\t\u202e"
    text = client.get("/search", params={"q": typed}).text
    assert form_values(text, "q") == [typed, typed]
    text = client.get("/page/Tab%09bed.prp", params={"name": typed}).text
    assert form_values(text, "name") == [typed]


def test_the_help_gives_the_defaults(capsys):
    limits = Limits()
    with pytest.raises(SystemExit):
        main(["serve", "--help"])
    assert "--allow-host NAME" in capsys.readouterr().out
    text = " ".join(EPILOG.split())
    assert f"{limits.head_seconds:g} seconds to send each request head" in text
    assert f"at most {limits.connections} connections" in text
    assert f"{limits.per_address} from one address" in text


@pytest.mark.parametrize(
    "name, accepted",
    [("data.example", "data.example"), ("[::1]", "::1"), ("10.0.0.1", "10.0.0.1")],
)
def test_allowed_hosts_are_names_or_addresses(name, accepted):
    assert host_name(name) == accepted


@pytest.mark.parametrize("name", ["data.example:8000", "[::1]:80", "", "a b", "http://x"])
def test_allowed_hosts_with_ports_or_other_text_are_refused(name, capsys):
    assert main(["serve", str(SAMPLES), "--allow-host", name]) == 2
    assert "not a host name or address without a port" in capsys.readouterr().err


@pytest.mark.parametrize(
    "limits, refused",
    [
        (Limits(connections=1, per_address=5), "1 connection is open (at most 1)"),
        (Limits(connections=5, per_address=1), "1 connection from it is open (at most 1)"),
        (Limits(connections=2, per_address=5), "2 connections are open (at most 2)"),
    ],
)
def test_refusals_count_in_words_that_agree(limits, refused):
    gate = Gate(limits)
    while (reason := gate.refusal("127.0.0.1")) is None:
        pass
    assert reason == refused
