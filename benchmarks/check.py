"""Time `lumivex check` on a whole age against a full `lumivex scan` of the
same pages, in the same run.

The age is generated on first use under build/bench-data/check/: a few
hundred pages of scene objects with their interfaces and modifiers, layers and
their textures, materials, scripts, responders, physicals and sounds, whose
references run within and between pages, every one of them to an object that
exists. Both commands run as whole processes, in turn; the table shows the
medians. Check decodes what scan decodes and resolves every reference too:
its target is at most twice the scan's time, the scan in one process.

Usage: python -m benchmarks.check [--quick] [--runs N] [--data DIR]
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import subprocess
import sys
import time
from pathlib import Path

from benchmarks.generate import made_with
from fixtures.builder import Obj, i16, key_ref, page
from fixtures.object_bodies import (
    LAYER,
    MATERIAL,
    MIPMAP,
    SCENE_OBJECT,
    SOUND,
    layer_body,
    material_body,
    scene_object_body,
    sound_body,
)
from fixtures.physical_bodies import PHYSICAL, physical, uncooked
from fixtures.python_file_mod_bodies import PYTHON_FILE_MOD, counted, param, python_file_mod
from fixtures.responder_bodies import RESPONDER, command, msg_base, responder, state, trailer
from fixtures.texture_bodies import DXT1, texture_body

ROOT = Path(__file__).resolve().parent.parent
AGE, PREFIX = "Bench", 100
DRAW, COORD, BUFFER = 0x0016, 0x0015, 0x0029
TARGET = 2.0
# Bump when the generated data changes, so that cached data is rebuilt.
FORMAT = 2


def location(number: int) -> int:
    return PREFIX << 16 | (number + 1)


def page_contents(number: int, pages: int, groups: int, rng: random.Random) -> list[tuple]:
    """(class, name, body maker) of every object of page `number`: `groups`
    scene objects, each with its interfaces, a layer with its texture, a
    material, and every third one a script, a responder, a collider and a
    sound. A quarter of the references go to the neighbouring page."""
    contents: list[tuple] = []

    def other(name: str) -> str:
        """The same name on a neighbouring page, now and then."""
        if rng.random() < 0.25:
            return f"P{(number + 1) % pages}.{name}"
        return f"P{number}.{name}"

    for g in range(groups):
        base = f"P{number}.G{g}"
        layer_elsewhere, object_elsewhere = other(f"G{g}.Layer"), other(f"G{g}")
        mods = []
        if g % 3 == 0:
            mods = [f"{base}.Script", f"{base}.Switch", f"{base}.Sound"]
        contents += [
            (
                SCENE_OBJECT,
                base,
                lambda ref, base=base, mods=mods: scene_object_body(
                    base,
                    draw=ref(f"{base}.Draw"),
                    coord=ref(f"{base}.Coord"),
                    modifiers=[ref(m) for m in mods],
                    sim=None,
                    last=None,
                ),
            ),
            (DRAW, f"{base}.Draw", None),
            (COORD, f"{base}.Coord", None),
            (
                MIPMAP,
                f"{base}.Tex",
                lambda ref, base=base: texture_body(f"{base}.Tex", DXT1, 16, 16, levels=3),
            ),
            (
                LAYER,
                f"{base}.Layer",
                lambda ref, base=base: layer_body(f"{base}.Layer", ref(f"{base}.Tex"), under=None),
            ),
            (
                MATERIAL,
                f"{base}.Mat",
                lambda ref, base=base, o=layer_elsewhere: material_body(
                    [ref(f"{base}.Layer"), ref(o)], name=f"{base}.Mat"
                ),
            ),
        ]
        if mods:
            contents += [
                (
                    PYTHON_FILE_MOD,
                    f"{base}.Script",
                    lambda ref, base=base, o=object_elsewhere: python_file_mod(
                        [ref(base), ref(o)], [param(1, 4, counted("go"))], name=f"{base}.Script"
                    ),
                ),
                (
                    RESPONDER,
                    f"{base}.Switch",
                    lambda ref, base=base, o=object_elsewhere: responder(
                        state(command(0x0254, msg_base(receivers=[ref(base), ref(o)]))),
                        trail=trailer(cur_state=0, enabled=1),
                        name=f"{base}.Switch",
                    ),
                ),
                (
                    PHYSICAL,
                    f"{base}.Collider",
                    lambda ref, base=base: physical(
                        uncooked(4, [(0, 1, 2)]),
                        bounds=4,
                        name=f"{base}.Collider",
                        references=(ref(base), None, None, None),
                    ),
                ),
                (
                    SOUND,
                    f"{base}.Sound",
                    lambda ref, base=base: sound_body(
                        f"{base}.Sound", ref(f"{base}.Buffer"), region=None
                    ),
                ),
                (BUFFER, f"{base}.Buffer", None),
            ]
    return contents


def generate(out: Path, pages: int, groups: int) -> None:
    rng = random.Random(1)
    all_contents = [page_contents(n, pages, groups, rng) for n in range(pages)]
    keys: dict[str, tuple[int, int, int]] = {}
    for number, contents in enumerate(all_contents):
        ids: dict[int, int] = {}
        for class_type, name, _ in contents:
            ids[class_type] = ids.get(class_type, 0) + 1
            keys[name] = (class_type, ids[class_type], location(number))

    def ref(name: str | None) -> bytes:
        if name is None:
            return key_ref(None)
        class_type, object_id, where = keys[name]
        return key_ref(name, class_type, object_id, location_sequence=where)

    out.mkdir(parents=True, exist_ok=True)
    lines = [f"SequencePrefix={PREFIX}"]
    for number, contents in enumerate(all_contents):
        page_name = f"P{number}"
        lines.append(f"Page={page_name},{number + 1}")
        objects = []
        for class_type, name, make in contents:
            body = make(ref) if make else i16(class_type) + key_ref(name, class_type)
            _, object_id, where = keys[name]
            objects.append(Obj(class_type, name, body, object_id, location_sequence=where))
        data = page(objects, age=AGE, page_name=page_name, sequence_number=location(number))
        (out / f"{AGE}_District_{page_name}.prp").write_bytes(data)
    (out / f"{AGE}.age").write_text("\n".join(lines) + "\n")


def ensure(data: Path, quick: bool) -> Path:
    pages, groups = (20, 4) if quick else (300, 60)
    out = data / "check" / ("quick" if quick else "full")
    manifest = {"format": FORMAT, "pages": pages, "groups": groups}
    return made_with(out, manifest, lambda folder: generate(folder, pages, groups))


def timed(command: list[str]) -> float:
    start = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed ({done.returncode}): {done.stderr}")
    return elapsed


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument(
        "--quick", action="store_true", help="a small age and few runs: a smoke run"
    )
    parser.add_argument("--runs", type=int, help="runs of each command (default 7, 1 with --quick)")
    parser.add_argument("--data", type=Path, help="data directory (default build/bench-data)")
    args = parser.parse_args(argv)
    runs = args.runs or (1 if args.quick else 7)
    folder = ensure(args.data or ROOT / "build" / "bench-data", args.quick)
    lumivex_command = [sys.executable, "-m", "lumivex"]
    commands = {
        "lumivex check": lumivex_command + ["check", str(folder / f"{AGE}.age")],
        "lumivex scan --jobs 1": lumivex_command + ["scan", "--jobs", "1", str(folder)],
        "lumivex scan": lumivex_command + ["scan", str(folder)],
    }
    times: dict[str, list[float]] = {name: [] for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            times[name].append(timed(argv))
    medians = {name: statistics.median(values) for name, values in times.items()}
    files = list(folder.glob("*.prp"))
    size = sum(path.stat().st_size for path in files) / (1 << 20)
    print(
        f"{os.cpu_count()} cores; an age of {len(files)} pages, {size:.0f} MiB; medians of {runs} runs"
    )
    for name, value in medians.items():
        print(f"{name}: {value * 1000:.0f} ms")
    ratio = medians["lumivex check"] / medians["lumivex scan --jobs 1"]
    met = ratio <= TARGET
    print(
        f"check / scan in one process: {ratio:.2f} (target at most {TARGET}: {'met' if met else 'not met'})"
    )
    return 0 if met or args.quick else 1


if __name__ == "__main__":
    sys.exit(main())
