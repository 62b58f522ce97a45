"""Peak memory of the reports against the peak of loading the same pages, in
the same run.

Two inputs are generated on first use under build/bench-data/memory/: an age
whose materials all point at layers that no page holds (a problem for each
reference), and one page of many small objects. Each command runs in a fresh
interpreter of its own, its output thrown away, and so does each request to
the server's application (driven in the child without a client, whose copy
of the answer would count); a floor child loads the same pages and nothing
else. A report may cost a fixed allowance plus one largest page on top of
its floor, whatever the number of objects or problems.

Usage: python -m benchmarks.memory [--quick] [--data DIR]
"""

from __future__ import annotations

import argparse
import subprocess
import sys
from pathlib import Path

from benchmarks.generate import made_with
from fixtures.builder import Obj, i16, key_ref, page, synched, u32
from fixtures.object_bodies import LAYER, MATERIAL

ROOT = Path(__file__).resolve().parent.parent
MIB = 1 << 20
# What a report may cost beside one largest page.
ALLOWANCE = 64 * MIB
AGE, PREFIX = "Dangling", 200
BIG = "Big_District_Objects.prp"
# Bump when the generated data changes, so that cached data is rebuilt.
FORMAT = 1

PEAK = (
    "def peak():\n"
    "    with open('/proc/self/status') as status:\n"
    "        line = next(l for l in status if l.startswith('VmHWM:'))\n"
    "    return int(line.split()[1]) * 1024\n"
)
FLOOR = "import lumivex, sys\npages = [lumivex.PrpFile.load(p) for p in sys.argv[1:]]\n"
COMMAND = (
    "import os, sys\nfrom lumivex.cli import main\n"
    "sys.stdout = open(os.devnull, 'w')\nmain(sys.argv[1:])\nsys.stdout.flush()\n"
)
REQUEST = (
    "import asyncio, sys\nfrom lumivex.web.app import create_app\nfrom lumivex.web.site import Site\n"
    "app = create_app(Site(sys.argv[1]))\n"
    "async def get(url):\n"
    "    path, _, query = url.partition('?')\n"
    "    scope = {'type': 'http', 'asgi': {'version': '3.0'}, 'http_version': '1.1',\n"
    "             'method': 'GET', 'scheme': 'http', 'path': path, 'raw_path': path.encode(),\n"
    "             'query_string': query.encode(), 'root_path': '',\n"
    "             'headers': [(b'host', b'127.0.0.1')],\n"
    "             'client': ('127.0.0.1', 1), 'server': ('127.0.0.1', 80)}\n"
    "    asked = []\n"
    "    async def receive():\n"
    "        if asked:\n"
    "            await asyncio.Event().wait()\n"
    "        asked.append(True)\n"
    "        return {'type': 'http.request', 'body': b'', 'more_body': False}\n"
    "    status = []\n"
    "    async def send(message):\n"
    "        if message['type'] == 'http.response.start':\n"
    "            status.append(message['status'])\n"
    "    await app(scope, receive, send)\n"
    "    assert status == [200], (url, status)\n"
    "asyncio.run(get(sys.argv[2]))\n"
)


def material(number: int, location: int, dangling: int) -> bytes:
    """A material whose layers are all missing from a page that exists."""
    body = i16(MATERIAL) + key_ref(f"Mat{number}", MATERIAL) + synched(0)
    body += u32(1) + u32(2) + u32(dangling) + u32(3)
    return body + b"".join(
        key_ref(f"Gone{number}.{n}", LAYER, location_sequence=location) for n in range(dangling)
    )


def generate_age(out: Path, pages: int, materials: int) -> None:
    lines = [f"SequencePrefix={PREFIX}"]
    for number in range(pages):
        location = PREFIX << 16 | (number + 1)
        objects = [
            Obj(MATERIAL, f"Mat{m}", material(m, location, 8), m + 1, location_sequence=location)
            for m in range(materials)
        ]
        name = f"P{number}"
        data = page(objects, age=AGE, page_name=name, sequence_number=location)
        (out / f"{AGE}_District_{name}.prp").write_bytes(data)
        lines.append(f"Page={name},{number + 1}")
    (out / f"{AGE}.age").write_text("\n".join(lines) + "\n")


def generate_page(path: Path, objects: int) -> None:
    location = PREFIX << 16 | 0xFFFF
    body = i16(LAYER) + key_ref("Layer", LAYER)
    data = page(
        [Obj(LAYER, f"Layer{n}", body, n + 1, location_sequence=location) for n in range(objects)],
        age="Big",
        page_name="Objects",
        sequence_number=location,
    )
    path.write_bytes(data)


def ensure(data: Path, quick: bool) -> Path:
    pages, materials, objects = (4, 2000, 20000) if quick else (24, 3000, 200000)
    out = data / "memory" / ("quick" if quick else "full")
    manifest = {"format": FORMAT, "pages": pages, "materials": materials, "objects": objects}

    def make(folder: Path) -> None:
        (folder / "age").mkdir()
        generate_age(folder / "age", pages, materials)
        generate_page(folder / "Big_District_Objects.prp", objects)

    return made_with(out, manifest, make)


def peak_of(script: str, argv: list[str]) -> int:
    """The peak resident memory, in bytes, of a fresh interpreter running
    script with argv."""
    done = subprocess.run(
        [sys.executable, "-c", PEAK + script + "print(peak(), file=sys.stderr)\n", *argv],
        stdout=subprocess.DEVNULL,
        stderr=subprocess.PIPE,
        text=True,
    )
    return int(done.stderr.split()[-1])


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small data: a smoke run")
    parser.add_argument("--data", type=Path, help="data directory (default build/bench-data)")
    args = parser.parse_args(argv)
    folder = ensure(args.data or ROOT / "build" / "bench-data", args.quick)
    age_pages = sorted(str(path) for path in (folder / "age").glob("*.prp"))
    age = str(folder / "age" / f"{AGE}.age")
    big = str(folder / "Big_District_Objects.prp")
    rows = [
        ("lumivex check --json", age_pages, COMMAND, ["check", "--json", age]),
        ("lumivex check", age_pages, COMMAND, ["check", "--verbose", age]),
        ("lumivex ls --json", [big], COMMAND, ["ls", "--json", big]),
        ("lumivex info --json", [big], COMMAND, ["info", "--json", big]),
        ("GET /api/check", age_pages, REQUEST, [age, f"/api/check/{AGE}.age"]),
        ("GET /age", age_pages, REQUEST, [age, f"/age/{AGE}.age"]),
        ("GET /api/ls", [big], REQUEST, [big, "/api/ls/Big_District_Objects.prp"]),
        ("GET /api/ls sorted", [big], REQUEST, [big, f"/api/ls/{BIG}?name=1&sort=-name"]),
        ("GET /page sorted", [big], REQUEST, [big, f"/page/{BIG}?sort=size&start=1000"]),
        ("GET /page", [big], REQUEST, [big, "/page/Big_District_Objects.prp"]),
        ("GET /object", [big], REQUEST, [big, f"/object/{BIG}/10000"]),
    ]
    met = True
    print(f"{'OPERATION':<22} {'PEAK':>10} {'LOADING':>10} {'ABOVE':>10} {'LIMIT':>10}")
    for operation, pages, script, command in rows:
        floor = peak_of(FLOOR, pages)
        peak = peak_of(script, command)
        largest = max(Path(path).stat().st_size for path in pages)
        limit = ALLOWANCE + largest
        above = peak - floor
        met = met and above <= limit
        print(
            f"{operation:<22} {peak / MIB:>7.0f} MiB {floor / MIB:>6.0f} MiB "
            f"{above / MIB:>6.0f} MiB {limit / MIB:>6.0f} MiB {'met' if above <= limit else 'NOT MET'}"
        )
    return 0 if met or args.quick else 1


if __name__ == "__main__":
    sys.exit(main())
