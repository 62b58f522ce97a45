"""lumivex serve over HTTP on this machine: the first screen of a
100,000-object page, an object's view, a search of every name of the page,
its diff with itself, and a 1024x1024 DXT5 texture as PNG,
each timed from the request to the last byte of the answer, against a floor
measured in the same run: the server's smallest answer, its stylesheet. The
server is the command, started as a user starts it.

Cold figures come from a server just started, which has answered only a
request for its icon: the request loads the page (and, for an object, finds
every reference of its page). Warm ones come from a server that has
answered the same request before.

Usage: python -m benchmarks.serve [--quick] [--runs N] [--data DIR]
"""

from __future__ import annotations

import http.client
import statistics
import sys
import time
from collections.abc import Callable, Iterator
from contextlib import contextmanager
from pathlib import Path
from urllib.parse import urlsplit

import lumivex

from benchmarks import generate
from fixtures.builder import Obj, page
from fixtures.object_bodies import MIPMAP
from fixtures.served import served
from fixtures.texture_bodies import DXT5, texture_body

TEXTURE_FILE = "Serve_District_Texture.prp"
# Targets in milliseconds.
FIRST_SCREEN, OBJECT_VIEW, TEXTURE_PNG = 200, 20, 100


def gradient(x: int, y: int, width: int, height: int) -> tuple[int, int, int, int]:
    """Colours that change from block to block, as a painted texture's do."""
    return (x * 255 // width, y * 255 // height, (x ^ y) * 7 & 255, 255 - (x * y) % 200)


def texture_page(data: Path, quick: bool) -> Path:
    path = data / TEXTURE_FILE
    if not path.exists():
        size = 256 if quick else 1024
        body = texture_body("Gradient", DXT5, size, size, 1, gradient)
        path.write_bytes(page([Obj(MIPMAP, "Gradient", body)], age="Serve", page_name="Texture"))
    return path


@contextmanager
def server(path: Path) -> Iterator[http.client.HTTPConnection]:
    """A connection to `lumivex serve PATH`, started anew and ready: it has
    answered a request for its icon."""
    with served(str(path)) as address:
        parts = urlsplit(address)
        connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=120)
        try:
            timed(connection, "/favicon.svg")
            yield connection
        finally:
            connection.close()


def timed(connection: http.client.HTTPConnection, url: str) -> float:
    start = time.perf_counter()
    connection.request("GET", url)
    response = connection.getresponse()
    body = response.read()
    elapsed = time.perf_counter() - start
    if response.status != 200 or not body:
        raise RuntimeError(f"GET {url}: {response.status}")
    return elapsed


def median_ms(runs: int, measure: Callable[[], float]) -> float:
    return statistics.median(measure() for _ in range(runs)) * 1000


def main(argv: list[str] | None = None) -> int:
    args, runs, data = generate.options(__doc__, 9, argv)
    big = generate.ensure(data, args.quick) / generate.PAGE_FILE
    texture = texture_page(data, args.quick)
    objects = lumivex.PrpFile.load(str(big)).objects()
    # Objects with references, spread over the page.
    decodable = [
        index
        for index, obj in enumerate(objects)
        if obj.class_type in lumivex._lumivex.decoder_methods and obj.class_name != "plMipmap"
    ]
    chosen = decodable[:: max(1, len(decodable) // runs)][:runs]
    screen, obj_url = f"/page/{big.name}", f"/object/{big.name}/{{}}"
    png = f"/texture/{texture.name}/0/0.png"

    def cold(path: Path, url: str) -> float:
        with server(path) as connection:
            return timed(connection, url)

    def cold_object(index: int) -> float:
        with server(big) as connection:
            timed(connection, screen)
            return timed(connection, obj_url.format(index))

    with server(big) as connection:
        timed(connection, screen)
        floor = median_ms(runs, lambda: timed(connection, "/style.css"))
        warm_screen = median_ms(runs, lambda: timed(connection, screen))
        # A part of a name that no name holds: every name is read, none shown.
        search = median_ms(runs, lambda: timed(connection, "/search?q=%7Enothing%7E"))
        same = median_ms(runs, lambda: timed(connection, f"/api/diff?a={big.name}&b={big.name}"))
        sorted_screen = median_ms(runs, lambda: timed(connection, f"{screen}?sort=name"))
        filtered_screen = median_ms(
            runs, lambda: timed(connection, f"{screen}?name=1&sort=-size&start=100")
        )
        timed(connection, obj_url.format(chosen[0]))
        warm_object = statistics.median(
            timed(connection, obj_url.format(index)) * 1000 for index in chosen
        )
    cold_screen = median_ms(runs, lambda: cold(big, screen))
    first_object = median_ms(max(1, runs // 3), lambda: cold_object(chosen[0]))
    cold_png = median_ms(runs, lambda: cold(texture, png))
    cold_download = median_ms(runs, lambda: cold(texture, f"/texture/{texture.name}/0.png"))

    size = 256 if args.quick else 1024
    rows = [
        (
            f"first screen of the {len(objects):,}-object page, loading it",
            cold_screen,
            FIRST_SCREEN,
        ),
        ("  again, the page loaded", warm_screen, None),
        ("  a search of every name in it", search, None),
        ("  its diff with itself, every object's bytes compared", same, None),
        ("  sorted by name", sorted_screen, None),
        ("  its names holding 1, the largest first, second screen", filtered_screen, None),
        ("an object's view", warm_object, OBJECT_VIEW),
        ("  the first of the page, finding every reference in it", first_object, None),
        (f"{size}x{size} DXT5 texture's PNG, first request", cold_png, TEXTURE_PNG),
        ("  its download, as lumivex texture writes it", cold_download, None),
    ]
    print(f"{big.stat().st_size / (1 << 20):.0f} MiB page; medians of {runs} runs")
    print(f"floor: the stylesheet, {floor:.2f} ms")
    met = True
    for what, ms, target in rows:
        verdict = ""
        if target is not None:
            met = met and ms < target
            verdict = f" (target under {target} ms: {'met' if ms < target else 'not met'})"
        print(f"{what}: {ms:.1f} ms, {ms / floor:.0f}x the floor{verdict}")
    return 0 if met or args.quick else 1


if __name__ == "__main__":
    sys.exit(main())
