"""Time lumivex against physical floors measured in the same process.

Each operation runs several times, alternating with its floor, with the
garbage collector off as timeit does; the table shows both medians and their
ratio. The data is generated on first use and cached.

Usage: python -m benchmarks.run [--quick] [--runs N] [--data DIR]
"""

from __future__ import annotations

import gc
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import types
from dataclasses import dataclass
from pathlib import Path

import lumivex
from lumivex.check import check_age
from lumivex.classes import settable

from benchmarks import generate

MIB = 1 << 20
SMALL_OBJECTS = "list(zip(range(n)))"

# The decoding methods, by the class each is for: the module's own list.
DECODERS = {method: class_type for class_type, method in lumivex._lumivex.decoder_methods.items()}


@dataclass
class Row:
    operation: str
    size: str
    time: str
    floor: str
    floor_time: str
    ratio: float
    target: str
    met: bool


def medians(*functions, runs: int, clock=time.perf_counter) -> list[float]:
    """Median seconds of each function, the functions run in turn."""
    times = [[] for _ in functions]
    gc.collect()
    gc.disable()
    try:
        for _ in range(runs):
            for function, out in zip(functions, times, strict=False):
                start = clock()
                function()
                out.append(clock() - start)
    finally:
        gc.enable()
    return [statistics.median(t) for t in times]


def ms(seconds: float) -> str:
    return f"{seconds * 1000:.1f} ms" if seconds >= 0.01 else f"{seconds * 1000:.3f} ms"


def compare(operation, size, function, floor_name, floor, limit, runs, each=0) -> Row:
    """The operation against its floor; `each` objects add a per-object time."""
    time_, floor_time = medians(function, floor, runs=runs)
    shown = ms(time_) + (f" ({time_ / each * 1e9:.0f} ns each)" if each else "")
    ratio = time_ / floor_time
    return Row(
        operation, size, shown, floor_name, ms(floor_time), ratio, f"≤ {limit}x", ratio <= limit
    )


def peaks_in_child(steps: list[str], path: Path) -> list[int]:
    """Peak resident memory, in bytes, of a fresh interpreter that imported
    lumivex, then after each step of code run with `path` as sys.argv[1]. The
    peak is that process's own high-water mark (VmHWM): its ru_maxrss would
    carry over this process's size."""
    code = (
        "import re, sys, lumivex\n"
        "def peak():\n"
        "    with open('/proc/self/status') as f:\n"
        "        return int(re.search(r'VmHWM:\\s*(\\d+)', f.read()).group(1))\n"
        "peaks = [peak()]\n"
        + "".join(f"{step}\npeaks.append(peak())\n" for step in steps)
        + "print(*peaks)\n"
    )
    env = dict(os.environ, PYTHONPATH=str(Path(lumivex.__file__).parent.parent))
    result = subprocess.run(
        [sys.executable, "-c", code, str(path)], env=env, capture_output=True, text=True, check=True
    )
    return [int(kib) * 1024 for kib in result.stdout.split()]


def load_memory_row(path: Path) -> Row:
    """Peak resident memory of a load above an interpreter that imported
    lumivex, in a fresh process."""
    base, peak = peaks_in_child(["page = lumivex.PrpFile.load(sys.argv[1])"], path)
    size = path.stat().st_size
    growth = peak - base
    return Row(
        "PrpFile.load peak memory",
        "",
        f"+{growth / MIB:.1f} MiB",
        "file size",
        f"{size / MIB:.1f} MiB",
        growth / size,
        "≤ size + 32 MiB",
        growth <= size + 32 * MIB,
    )


def page_rows(path: Path, runs: int) -> list[Row]:
    def read():
        with path.open("rb") as f:
            return f.read()

    data = read()
    page = lumivex.PrpFile.from_bytes(data)
    size = f"{len(data) / 1e6:.0f} MB"

    def copy():
        return bytes(memoryview(data))

    rows = [
        compare(
            "PrpFile.load(path)",
            size,
            lambda: lumivex.PrpFile.load(str(path)),
            "open(path, 'rb').read()",
            read,
            1.15,
            runs,
        ),
        load_memory_row(path),
        compare(
            "PrpFile.from_bytes(data)",
            size,
            lambda: lumivex.PrpFile.from_bytes(data),
            "one copy",
            copy,
            1.15,
            runs,
        ),
        compare("f.to_bytes()", size, page.to_bytes, "one copy", copy, 1.3, runs),
        save_row(page, data, path.parent, runs),
        builder_row(page, runs),
        rename_all_row(page, runs),
    ]

    objects = page.objects()

    def listing(operation, function, count):
        return compare(
            operation,
            f"{count} objects",
            function,
            SMALL_OBJECTS,
            lambda: list(zip(range(count))),
            2,
            runs,
        )

    def count_of(class_type):
        return sum(o.class_type == class_type for o in objects)

    rows += [
        listing("f.objects()", page.objects, len(objects)),
        listing("list(f)", lambda: list(page), len(objects)),
        listing(
            "f.objects_of_type(1)",
            lambda: page.objects_of_type(generate.SCENE_OBJECT),
            count_of(generate.SCENE_OBJECT),
        ),
        listing(
            "f.objects_by_name('plLayer')",
            lambda: page.objects_by_name("plLayer"),
            count_of(generate.LAYER),
        ),
    ]
    (count_time,) = medians(page.count_by_type, runs=runs)
    rows.append(
        Row(
            "f.count_by_type()",
            f"{len(objects)} objects",
            ms(count_time),
            "",
            "",
            count_time / 0.010,
            "< 10 ms",
            count_time < 0.010,
        )
    )
    for name, class_type in DECODERS.items():
        rows.append(decoder_row(name, [o for o in objects if o.class_type == class_type], runs))
    for name, class_type in DECODERS.items():
        rows.append(read_all_row(name, [o for o in objects if o.class_type == class_type], runs))
    rows.append(decode_everything_row(objects, runs))
    for name, class_type in DECODERS.items():
        rows += encode_rows(name, [o for o in objects if o.class_type == class_type], runs)
    return rows


def builder_row(page, runs: int) -> Row:
    """A page made again from every object of another, one body replaced,
    against writing that page as it is."""
    first = page[0]

    def rebuild():
        builder = lumivex.PageBuilder.from_page(page)
        builder.set(first, first.data)
        return builder.build()

    return compare(
        "PageBuilder.from_page(f), set, build()",
        f"{len(page)} objects",
        rebuild,
        "f.to_bytes()",
        page.to_bytes,
        1.5,
        runs,
    )


# Renames made at once, against one rename: both are one pass over the page.
RENAMED_AT_ONCE = 1000


def rename_all_row(page, runs: int) -> Row:
    """Many renames in one call against one rename, each on a new builder."""
    chosen = list(page)[:: max(1, len(page) // RENAMED_AT_ONCE)][:RENAMED_AT_ONCE]
    renames = {obj.key: f"{obj.name}-renamed" for obj in chosen}
    one = {chosen[0].key: f"{chosen[0].name}-renamed"}

    def fresh(renamed):
        return lambda: lumivex.PageBuilder.from_page(page).rename_all(renamed)

    return compare(
        f"PageBuilder.from_page(f).rename_all({len(renames)} renames)",
        f"{len(page)} objects",
        fresh(renames),
        "the same, 1 rename",
        fresh(one),
        2.0,
        runs,
    )


def save_row(page, data: bytes, scratch_parent: Path, runs: int) -> Row:
    """save() may take what one copy of the page plus the write of it take; the
    write is synced to disk, as save() syncs its file."""
    with tempfile.TemporaryDirectory(dir=scratch_parent) as scratch:
        out = Path(scratch) / "saved.prp"

        def write():
            with out.open("wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())

        save_time, copy_time, write_time = medians(
            lambda: page.save(str(out)), lambda: bytes(memoryview(data)), write, runs=runs
        )
    floor = copy_time + write_time
    return Row(
        "f.save(path)",
        f"{len(data) / 1e6:.0f} MB",
        ms(save_time),
        "one copy + synced write",
        ms(floor),
        save_time / floor,
        "≤ 1.3x copy + write",
        save_time <= 1.3 * copy_time + write_time,
    )


# Each decoder's target: its time over that of o.data for the same objects.
# A texture's decode is one copy of its pixels, as o.data is; a responder's
# walks every message of every command.
DECODER_LIMITS = {"as_mipmap": 1.2, "as_responder": 2.5}
DECODER_LIMIT = 1.5
# A decoder's ratio is the median of the ratios of this many repeats, each of
# `runs` runs: on a shared machine a single repeat swings with other work.
# Decoding and its floor only compute, so they are timed by the processor
# time of this thread, which leaves out the time other processes take.
DECODER_REPEATS = 5


def decoder_row(name: str, chosen: list, runs: int) -> Row:
    method = getattr(lumivex.PrpObject, name)

    def decode_each():
        for o in chosen:
            method(o)

    def data_each():
        for o in chosen:
            o.data  # noqa: B018

    # The repeat of the median ratio.
    repeats = [
        medians(decode_each, data_each, runs=runs, clock=time.thread_time)
        for _ in range(DECODER_REPEATS)
    ]
    time_, floor_time = sorted(repeats, key=lambda pair: pair[0] / pair[1])[DECODER_REPEATS // 2]
    ratio = time_ / floor_time
    limit = DECODER_LIMITS.get(name, DECODER_LIMIT)
    each = f" ({time_ / len(chosen) * 1e9:.0f} ns each)" if chosen else ""
    return Row(
        f"o.{name}()",
        f"{len(chosen)} objects",
        ms(time_) + each,
        "o.data",
        ms(floor_time),
        ratio,
        f"≤ {limit}x",
        ratio <= limit,
    )


def read_view(view: object) -> None:
    """Reads every property of a view: lists walked, views in them read too."""
    getters = PROPERTIES.get(type(view))
    if getters is None:
        getters = PROPERTIES[type(view)] = properties_of(type(view))
    for getter in getters:
        value = getter(view)
        if isinstance(value, list):
            for item in value:
                if type(item) in VIEW_CLASSES:
                    read_view(item)


def properties_of(cls: type) -> list:
    return [
        member.__get__
        for member in vars(cls).values()
        if isinstance(member, types.GetSetDescriptorType)
    ]


PROPERTIES: dict[type, list] = {}
VIEW_CLASSES = {
    getattr(lumivex, name)
    for name in lumivex.__all__
    if isinstance(getattr(lumivex, name), type) and name not in ("PrpFile", "PrpObject", "Age")
}


def read_all_row(name: str, chosen: list, runs: int) -> Row:
    """A decode and the reading of every property of its view: what a user
    does with a view. No target: the row shows where the time goes."""
    method = getattr(lumivex.PrpObject, name)

    def decode_and_read_each():
        for o in chosen:
            read_view(method(o))

    def data_each():
        for o in chosen:
            o.data  # noqa: B018

    time_, floor_time = medians(decode_and_read_each, data_each, runs=runs)
    each = f" ({time_ / len(chosen) * 1e9:.0f} ns each)" if chosen else ""
    return Row(
        f"read every property of o.{name}()",
        f"{len(chosen)} objects",
        ms(time_) + each,
        "o.data",
        ms(floor_time),
        time_ / floor_time,
        "",
        True,
    )


def decode_everything_row(objects: list, runs: int) -> Row:
    """Every object of the page decoded by its class's decoder, where it has
    one, and every property of the view read; against o.data of them all."""
    methods = {
        class_type: getattr(lumivex.PrpObject, name) for name, class_type in DECODERS.items()
    }
    chosen = [(o, methods[o.class_type]) for o in objects if o.class_type in methods]

    def everything():
        for o, method in chosen:
            read_view(method(o))

    def data_all():
        for o in objects:
            o.data  # noqa: B018

    time_, floor_time = medians(everything, data_all, runs=runs)
    return Row(
        "decode everything, read every property",
        f"{len(objects)} objects, {len(chosen)} decoded",
        ms(time_),
        "o.data of every object",
        ms(floor_time),
        time_ / floor_time,
        "",
        True,
    )


def changed(value):
    """A value unlike value, of its type."""
    if isinstance(value, bool):
        return not value
    if isinstance(value, int):
        return value ^ 1
    if isinstance(value, float):
        return value + 0.5
    if isinstance(value, str):
        return value + "x"
    if isinstance(value, list):
        return value[::-1]
    return None


def a_change(view) -> dict:
    """One property changed: the first one of a plain value, else the first."""
    names = settable(type(view))
    plain = [n for n in names if isinstance(getattr(view, n), (bool, int, float, str))]
    chosen = (plain or names)[:1]
    return {n: changed(getattr(view, n)) for n in chosen}


def replace_loop(names: tuple[str, ...]):
    """A loop calling view.replace(...).to_bytes() over views and their new
    values, the keywords `names` spelled out as a caller writes
    `layer.replace(opacity=0.25)`: no dict unpacked and no function of ours
    called per view, as the decode's loop calls the method alone."""
    values = "".join(f"value{i}, " for i in range(len(names)))
    keywords = ", ".join(f"{n}=value{i}" for i, n in enumerate(names))
    code = (
        "def replace_each(views, values):\n"
        f"    for view, ({values}) in zip(views, values, strict=True):\n"
        f"        view.replace({keywords}).to_bytes()\n"
    )
    scope: dict = {}
    exec(code, scope)
    return scope["replace_each"]


def encode_rows(name: str, chosen: list, runs: int) -> list[Row]:
    """to_bytes() of unchanged views against o.data of their objects, and a
    replace() of one property and its to_bytes() against the decode."""
    method = getattr(lumivex.PrpObject, name)
    views = [method(o) for o in chosen]
    # The views by the names of their change, each group with its loop.
    groups: dict[tuple[str, ...], tuple[list, list]] = {}
    for v in views:
        change = a_change(v)
        group_views, group_values = groups.setdefault(tuple(change), ([], []))
        group_views.append(v)
        group_values.append(tuple(change.values()))
    loops = [(replace_loop(names), *group) for names, group in groups.items()]

    def to_bytes_each():
        for v in views:
            v.to_bytes()

    def data_each():
        for o in chosen:
            o.data  # noqa: B018

    def replace_each():
        for loop, group_views, group_values in loops:
            loop(group_views, group_values)

    def decode_each():
        for o in chosen:
            method(o)

    def row(operation, pair, floor_name, limit):
        time_, floor_time = pair
        ratio = time_ / floor_time
        each = f" ({time_ / len(chosen) * 1e9:.0f} ns each)" if chosen else ""
        return Row(
            operation,
            f"{len(chosen)} objects",
            ms(time_) + each,
            floor_name,
            ms(floor_time),
            ratio,
            f"≤ {limit}x",
            ratio <= limit,
        )

    clock = time.thread_time
    return [
        row(
            f"view.to_bytes() of o.{name}()",
            medians(to_bytes_each, data_each, runs=runs, clock=clock),
            "o.data",
            ENCODE_LIMIT,
        ),
        row(
            f"view.replace(one change).to_bytes() of o.{name}()",
            medians(replace_each, decode_each, runs=runs, clock=clock),
            f"o.{name}()",
            REPLACE_LIMIT,
        ),
    ]


# A view's bytes cost a copy, as o.data does; a replace() is a locating
# decode, the splice and a decode of the new bytes. The replace() is called
# with its keyword written out, as callers write it, not by unpacking a dict.
ENCODE_LIMIT = 1.2
REPLACE_LIMIT = 2


def text_row(operation, paths: list[Path], load, rate_target: int, runs: int) -> Row:
    """A text load in MB/s, reading the same files shown beside it."""
    size = sum(p.stat().st_size for p in paths)

    def read_all():
        for p in paths:
            with p.open("rb") as f:
                f.read()

    time_, floor_time = medians(load, read_all, runs=runs)
    rate = size / time_ / 1e6
    files = f"{len(paths)} files, " if len(paths) > 1 else ""
    return Row(
        operation,
        f"{files}{size / 1e6:.1f} MB",
        f"{ms(time_)} ({rate:.0f} MB/s)",
        "reading the files",
        ms(floor_time),
        time_ / floor_time,
        f"≥ {rate_target} MB/s",
        rate >= rate_target,
    )


def text_rows(data: Path, runs: int) -> list[Row]:
    rows = []
    for label, directory in (("dir", generate.SDL_DIR), ("long names", generate.LONG_SDL_DIR)):
        sdl = data / directory
        rows.append(
            text_row(
                f"SdlFile().load_directory({label})",
                sorted(sdl.glob("*.sdl")),
                lambda sdl=sdl: lumivex.SdlFile().load_directory(str(sdl)),
                400,
                runs,
            )
        )
    for label, name in (("path", generate.AGE_FILE), ("long names", generate.LONG_AGE_FILE)):
        age = data / name
        rows.append(
            text_row(
                f"AgeFile.load({label})",
                [age],
                lambda age=age: lumivex.AgeFile.load(str(age)),
                600,
                runs,
            )
        )
    files = sorted((data / generate.SDL_DIR).glob("*.sdl"))
    rows += [
        text_row(
            "AgeFile.lint(path)",
            [data / generate.AGE_FILE],
            lambda: lumivex.AgeFile.lint(str(data / generate.AGE_FILE)),
            600,
            runs,
        ),
        text_row(
            "SdlFile.lint(path) of each file",
            files,
            lambda: [lumivex.SdlFile.lint(str(path)) for path in files],
            400,
            runs,
        ),
    ]
    return rows + [
        name_lookup_row(data, runs),
        *sdl_memory_rows(data / generate.SHORT_VARS_FILE, "short VAR lines", "find + .variables"),
        *sdl_memory_rows(
            data / generate.SHORT_DESCRIPTORS_FILE, "empty descriptors", "descriptors()"
        ),
    ]


def name_lookup_row(data: Path, runs: int) -> Row:
    """Loading and finding names that share a long prefix, the worst case of
    an ordered index, against random names of the same length and number."""

    def load_and_find(kind):
        directory = data / generate.NAMES_DIR / kind
        names = [
            line.split(" ", 1)[1]
            for path in sorted(directory.glob("*.sdl"))
            for line in path.read_text().splitlines()
            if line.startswith("STATEDESC ")
        ]

        def run():
            sdl = lumivex.SdlFile()
            sdl.load_directory(str(directory))
            for name in names:
                sdl.find(name, 0)

        return run, len(names)

    shared, count = load_and_find(generate.SHARED_PREFIX)
    random_names, _ = load_and_find(generate.RANDOM_NAMES)
    shared_time, random_time = medians(shared, random_names, runs=runs)
    ratio = shared_time / random_time
    return Row(
        "SdlFile load + find, names sharing 240 bytes",
        f"{count} names",
        ms(shared_time),
        "random names",
        ms(random_time),
        ratio,
        "≤ 3x",
        ratio <= 3,
    )


def listed_pages_row(data: Path, quick: bool, runs: int) -> Row:
    """`lumivex check` of an age listing 4N pages against one listing N, none
    of whose files exist: every listed page is looked up, named and reported,
    so the work grows with the number of pages, and no faster."""
    count = 2_500 if quick else 40_000
    checks = []
    for pages in (4 * count, count):
        path = data / "listed" / f"Listed{pages}.age"
        if not path.exists():
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text("".join(f"Page=P{number},{number}\n" for number in range(pages)))
        checks.append(lambda path=path: check_age(lumivex.Age.open(str(path))))
    time_, floor_time = medians(*checks, runs=runs)
    ratio = time_ / floor_time
    return Row(
        "lumivex check, an age listing 4N pages",
        f"N = {count}",
        ms(time_),
        "N pages",
        ms(floor_time),
        ratio,
        "≤ 5x",
        ratio <= 5,
    )


def diff_row(data: Path, runs: int) -> Row:
    """lumivex.diff of two pages of every other object of the generated page
    (50,000 in a full run), which differ in the last byte of one object,
    against loading both: unchanged objects are told by their bytes alone."""
    source = lumivex.PrpFile.load(str(data / generate.PAGE_FILE))
    objects = [generate.PageObject(o.class_type, o.name, o.data) for o in source.objects()[::2]]
    del source
    with tempfile.TemporaryDirectory(dir=data) as scratch:
        a, b = Path(scratch) / "a.prp", Path(scratch) / "b.prp"
        generate.write_page(a, objects)
        middle = objects[len(objects) // 2]
        middle.body = middle.body[:-1] + bytes([middle.body[-1] ^ 1])
        generate.write_page(b, objects)
        del objects
        return compare(
            "lumivex.diff(a, b), one object differs",
            f"2 x {len(lumivex.PrpFile.load(str(a)))} objects",
            lambda: lumivex.diff(str(a), str(b)),
            "load both",
            lambda: (lumivex.PrpFile.load(str(a)), lumivex.PrpFile.load(str(b))),
            2,
            runs,
        )


def texture_row(quick: bool, runs: int) -> Row:
    """Mipmap.from_image of a DXT5 texture, every level, against Pillow's
    encoding of the top level's blocks alone: the lower levels are a third
    more blocks, and each is one Lanczos halving of the level before, which
    costs about three times the top level's blocks. Levels made each from the
    image measured over 15 times."""
    from PIL import Image

    side = 256 if quick else 1024
    rings = Image.effect_mandelbrot((side, side), (-2, -1.5, 1, 1.5), 100)
    across = Image.linear_gradient("L").resize((side, side))
    around = Image.radial_gradient("L").resize((side, side))
    image = Image.merge(
        "RGBA", (rings, across, around, across.transpose(Image.Transpose.ROTATE_90))
    )
    return compare(
        "Mipmap.from_image(name, image), DXT5",
        f"{side}x{side}",
        lambda: lumivex.Mipmap.from_image("T", image),
        "top level's blocks",
        lambda: image.tobytes("bcn", 3),
        10,
        runs,
    )


def sdl_memory_rows(path: Path, label: str, then: str) -> list[Row]:
    """Peak resident memory of loading a file of the shortest lines of a kind,
    then of handing out what it holds (`then`), above an interpreter that
    imported lumivex, in a fresh process."""
    handed_out = {
        "find + .variables": "held = sdl.find('A', 0).variables",
        "descriptors()": "held = sdl.descriptors()",
    }[then]
    base, loaded, peak = peaks_in_child(
        ["sdl = lumivex.SdlFile()\nsdl.load_file(sys.argv[1])", handed_out], path
    )
    size = path.stat().st_size

    def row(operation, growth):
        return Row(
            operation,
            f"{label}, {size / 1e6:.1f} MB",
            f"+{growth / MIB:.1f} MiB",
            "file size",
            f"{size / MIB:.1f} MiB",
            growth / size,
            "≤ 8x size",
            growth <= 8 * size,
        )

    return [
        row("SdlFile.load_file peak memory", loaded - base),
        row(f"... then {then}", peak - base),
    ]


def table(rows: list[Row]) -> str:
    lines = [
        "| operation | size | median | floor | floor median | ratio | target | met |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for r in rows:
        lines.append(
            f"| {r.operation} | {r.size} | {r.time} | {r.floor} | {r.floor_time} "
            f"| {r.ratio:.2f} | {r.target} | {'yes' if r.met else 'no'} |"
        )
    return "\n".join(lines)


def main(argv: list[str] | None = None) -> int:
    args, runs, data = generate.options(__doc__, 11, argv)
    generate.ensure(data, args.quick)

    rows = page_rows(data / generate.PAGE_FILE, runs) + text_rows(data, runs)
    rows.append(listed_pages_row(data, args.quick, runs))
    rows.append(diff_row(data, runs))
    rows.append(texture_row(args.quick, runs))
    print(
        f"Python {platform.python_version()}, {os.cpu_count()} cores; "
        f"medians of {runs} runs, each floor measured in the same process"
    )
    print(table(rows))
    return 0 if all(r.met for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
