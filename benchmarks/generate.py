"""Deterministic benchmark data: one large page with a realistic class mix,
state descriptions and age descriptions (realistic ones, ones with long names
and many variables, names sharing long prefixes and random names, and many
short variable lines for the memory measure).

The page's decodable objects are built with the test suite's body builders,
so each of them decodes; the other classes get a key, a synched prefix and a
payload of plausible size. Texture pixels make up most of the bytes.

Usage: python -m benchmarks.generate OUT_DIR [--quick]
"""

from __future__ import annotations

import argparse
import json
import random
import shutil
import sys
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from lumivex._lumivex import decoder_methods

from fixtures.builder import (
    Obj,
    f32,
    i16,
    index_entry,
    key_ref,
    object_prefix,
    page_header,
    u8,
    u16,
    u32,
)
from fixtures.object_bodies import (
    BODIES,
    layer_body,
    material_body,
    mipmap_body,
    scene_object_body,
    sound_body,
)
from fixtures.physical_bodies import BOX, SPHERE, cooked_hull, cooked_mesh, physical, uncooked
from fixtures.python_file_mod_bodies import counted, param, python_file_mod
from fixtures.responder_bodies import REST, command, responder, state

ROOT = Path(__file__).resolve().parent.parent

# Bump when the generated data changes, so that cached data is rebuilt:
# FORMAT for the page, TEXT_FORMAT for the text data alone.
FORMAT = 3
TEXT_FORMAT = 2
SEED = 20240607

AGE, PAGE, SEQUENCE = "Bench", "District", 0x00640021
PAGE_FILE, AGE_FILE, SDL_DIR = "Bench_District_District.prp", "Bench.age", "sdl"
LONG_AGE_FILE, LONG_SDL_DIR = "LongNames.age", "sdl_long"
NAMES_DIR, SHARED_PREFIX, RANDOM_NAMES = "sdl_names", "shared_prefix", "random"
SHORT_VARS_FILE, SHORT_DESCRIPTORS_FILE = "short_vars.sdl", "short_descriptors.sdl"

# Class ids of the page.
SCENE_NODE, SCENE_OBJECT, MIPMAP, LAYER, MATERIAL = 0x0000, 0x0001, 0x0004, 0x0006, 0x0007
AUDIO_IFACE, COORD_IFACE, DRAW_IFACE, SIM_IFACE = 0x0011, 0x0015, 0x0016, 0x001C
LOGIC_MOD, PHYSICAL, SPANS, OMNI_LIGHT = 0x002D, 0x003F, 0x004C, 0x0056
RESPONDER, VOLUME_DETECTOR, SOUND = 0x007C, 0x007B, 0x0049
PYTHON_FILE_MOD = 0x00A2

# Objects per class in a full page: 100,000 in all. A decoded class without
# a share here gets DECODED_DEFAULT objects of the test suite's body.
MIX = {
    SCENE_NODE: 1,
    SCENE_OBJECT: 22000,
    COORD_IFACE: 16000,
    DRAW_IFACE: 12000,
    LAYER: 12000,
    MATERIAL: 8000,
    SIM_IFACE: 6000,
    PHYSICAL: 6000,
    LOGIC_MOD: 3000,
    PYTHON_FILE_MOD: 3000,
    RESPONDER: 2500,
    MIPMAP: 2000,
    AUDIO_IFACE: 2000,
    VOLUME_DETECTOR: 1999,
    SOUND: 2000,
    OMNI_LIGHT: 1200,
    SPANS: 300,
}
DECODED_DEFAULT = 2000

WORDS = (
    "Garden Bench Lamp Post Tree Rock Bridge Door Gate Well Tower Roof Wall Stair Path Fern "
    "Lantern Crate Barrel Sign Window Arch Pillar Statue Pond Reed Moss Vine Book Desk Chair"
).split()
SOUND_FILES = ("wind_loop.ogg", "water_fountain.ogg", "door_creak.ogg", "bird_song_03.ogg")
SCRIPTS = ("xLinkingBookGUIPopup", "xAgeSDLBoolShowHide", "xRandomBoolChange", "xSoundTrigger")


@dataclass
class PageObject:
    class_type: int
    name: str
    body: bytes


def with_class_index(class_type: int, body: bytes) -> bytes:
    return i16(class_type) + body[2:]


def floats(rng: random.Random, count: int) -> bytes:
    return b"".join(f32(rng.uniform(-100.0, 100.0)) for _ in range(count))


def texture_size(rng: random.Random, quick: bool) -> tuple[int, int, int]:
    """(edge, DXT type, pixel bytes with every mip level) of a square texture."""
    edge = rng.choices((64, 128, 256, 512, 1024), weights=(10, 40, 32, 15, 3))[0]
    if quick:
        edge //= 8
    dxt = rng.choice((1, 5))
    base = edge * edge // (2 if dxt == 1 else 1)
    return edge, dxt, base * 4 // 3


def mipmap(rng: random.Random, name: str, quick: bool) -> bytes:
    edge, dxt, size = texture_size(rng, quick)
    levels = edge.bit_length()
    return mipmap_body(
        name,
        compression=1,
        info=u8(4) + u8(dxt),
        width=edge,
        height=edge,
        levels=levels,
        pixels=rng.randbytes(size),
    )


def shape(rng: random.Random) -> tuple[bytes, int]:
    """A collision shape and its bounds type."""
    kind = rng.randrange(6)
    if kind == 0:
        return BOX, 1
    if kind == 1:
        return SPHERE, 2
    vertices = rng.randrange(8, 120)
    triangles = [tuple(rng.randrange(vertices) for _ in range(3)) for _ in range(vertices)]
    if kind == 2:
        return uncooked(vertices), 3
    if kind == 3:
        return cooked_hull(vertices), 3
    if kind == 4:
        return uncooked(vertices, triangles), 4
    return cooked_mesh(vertices, triangles, flags=0x10), 5


def python_params(rng: random.Random) -> list[bytes]:
    out = []
    for param_id in range(1, rng.randrange(2, 9)):
        kind = rng.randrange(4)
        if kind == 0:
            out.append(param(param_id, 1, u32(rng.randrange(1000))))
        elif kind == 1:
            out.append(param(param_id, 2, f32(rng.random())))
        elif kind == 2:
            out.append(param(param_id, 4, counted(rng.choice(WORDS) + "Var")))
        else:
            out.append(param(param_id, 5, key_ref(rng.choice(WORDS) + "Activator", 0x2D)))
    return out


def responder_states(rng: random.Random) -> list[bytes]:
    classes = sorted(REST)
    return [
        state(*(command(rng.choice(classes)) for _ in range(rng.randrange(1, 5))))
        for _ in range(rng.randrange(1, 4))
    ]


def opaque(rng: random.Random, class_type: int, name: str, payload_floats: int) -> bytes:
    """Prefix and a payload for a class no decoder reads."""
    return object_prefix(class_type, name) + floats(rng, payload_floats)


def body(rng: random.Random, class_type: int, name: str, quick: bool) -> bytes:
    words = rng.choice(WORDS)
    if class_type == SCENE_OBJECT:
        modifiers = [f"{name}Mod{i}" for i in range(rng.randrange(4))]
        return scene_object_body(
            name, draw=f"{name}Draw", coord=f"{name}Coord", modifiers=modifiers
        )
    if class_type == LAYER:
        return layer_body(
            name, f"{words}*1#0.hsm", transform=rng.random() < 0.3, opacity=rng.random()
        )
    if class_type == MATERIAL:
        layers = [f"{name}Layer{i}" for i in range(rng.randrange(1, 4))]
        return material_body(layers, name=name)
    if class_type == MIPMAP:
        return mipmap(rng, name, quick)
    if class_type == SOUND:
        sound = sound_body(name, rng.choice(SOUND_FILES), volume=rng.random(), flags=0x10)
        return with_class_index(class_type, sound)
    if class_type == PHYSICAL:
        collision, bounds = shape(rng)
        return physical(collision, bounds=bounds, name=name, mass=rng.random() * 10)
    if class_type == PYTHON_FILE_MOD:
        receivers = [f"{words}Resp{i}" for i in range(rng.randrange(3))]
        return python_file_mod(receivers, python_params(rng), name=name)
    if class_type == RESPONDER:
        return responder(*responder_states(rng), name=name)
    if class_type == COORD_IFACE:
        return opaque(rng, class_type, name, 64) + key_ref(None) + u32(0)
    if class_type == SPANS:
        return opaque(rng, class_type, name, rng.randrange(2000, 18000))
    if class_type == OMNI_LIGHT:
        return opaque(rng, class_type, name, 40)
    if class_type in decoder_methods:
        return BODIES[decoder_methods[class_type]]
    return opaque(rng, class_type, name, rng.randrange(2, 12))


def object_name(rng: random.Random, class_type: int, number: int) -> str:
    first, second = rng.choice(WORDS), rng.choice(WORDS)
    if class_type == MIPMAP:
        return f"{first}{second}_{number:04d}*1#0.hsm"
    return f"{first}{second}{number:05d}"


def page_objects(quick: bool) -> list[PageObject]:
    rng = random.Random(SEED)
    scale = 50 if quick else 1
    objects = []
    mix = MIX | {
        class_type: DECODED_DEFAULT for class_type in decoder_methods if class_type not in MIX
    }
    for class_type, count in mix.items():
        for number in range(max(1, count // scale)):
            name = object_name(rng, class_type, number)
            objects.append(PageObject(class_type, name, body(rng, class_type, name, quick)))
    return objects


def write_page(path: Path, objects: list[PageObject]) -> None:
    """Writes the page in the writer's normal form, object data in key order."""
    header_len = len(page_header(age=AGE, page=PAGE, data_start=1))
    offsets = []
    position = header_len
    for obj in objects:
        offsets.append(position)
        position += len(obj.body)
    groups: dict[int, list[bytes]] = {}
    for obj, offset in zip(objects, offsets, strict=False):
        entries = groups.setdefault(obj.class_type, [])
        key = Obj(obj.class_type, obj.name, location_sequence=SEQUENCE, object_id=len(entries) + 1)
        entries.append(index_entry(key, offset, len(obj.body)))
    with path.open("wb") as out:
        out.write(
            page_header(
                sequence_number=SEQUENCE,
                age=AGE,
                page=PAGE,
                data_start=header_len,
                index_start=position,
            )
        )
        for obj in objects:
            out.write(obj.body)
        out.write(u32(len(groups)))
        for class_type, entries in groups.items():
            group = u8(0) + u32(len(entries)) + b"".join(entries)
            out.write(u16(class_type) + u32(len(group)) + group)


SDL_TYPES = (
    ("INT", "0"),
    ("FLOAT", "0.5"),
    ("BOOL", "false"),
    ("STRING32", "empty"),
    ("PLKEY", None),
    ("TIME", None),
    ("BYTE", "7"),
    ("SHORT", "12"),
    ("POINT3", "(0,0,0)"),
    ("RGB8", "(255,255,255)"),
    ("QUATERNION", "(0,0,0,1)"),
    ("$GardenFountain", None),
)


def sdl_descriptor(rng: random.Random, name: str, version: int) -> str:
    lines = [f"# {name}: state of the age's {rng.choice(WORDS).lower()}s", f"STATEDESC {name}", "{"]
    lines.append(f"    VERSION {version}")
    for number in range(rng.randrange(4, 30)):
        kind, default = rng.choice(SDL_TYPES)
        count = rng.choice(("[1]", "[1]", "[1]", "[]", f"[{rng.randrange(2, 16)}]"))
        line = f"    VAR {kind:<12} {rng.choice(WORDS).lower()}{number}{count}"
        if default is not None:
            line += f"    DEFAULT={default}"
        if rng.random() < 0.2:
            line += " DEFAULTOPTION=VAULT"
        if rng.random() < 0.1:
            line += " DISPLAYOPTION=hidden"
        lines.append(line)
    lines += ["}", ""]
    return "\n".join(lines)


def write_sdl(directory: Path, quick: bool) -> None:
    """Files of several versions of a few descriptors each, like an age's set."""
    rng = random.Random(SEED + 1)
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for number in range(4 if quick else 400):
        stem = f"{rng.choice(WORDS)}{rng.choice(WORDS)}{number:03d}"
        parts = [
            sdl_descriptor(rng, f"{stem}{d}", version)
            for d in range(1 if quick else rng.randrange(8, 24))
            for version in range(1, rng.randrange(2, 8))
        ]
        (directory / f"{stem}.sdl").write_text("\n".join(parts), encoding="utf-8", newline="\n")


def write_age(path: Path, quick: bool) -> None:
    """A long age description: settings, comments and many page lines."""
    rng = random.Random(SEED + 2)
    lines = ["# Generated age description", "StartDateTime=0", "DayLength=30.5", "MaxCapacity=24"]
    lines += ["LingerTime=180", "SequencePrefix=100", "ReleaseVersion=0", "", "[Pages]"]
    for number in range(2000 if quick else 400_000):
        name = f"{rng.choice(WORDS)}{rng.choice(WORDS)}{number}"
        if number % 50 == 0:
            lines.append(f"# pages from {name}")
        suffix = rng.random()
        if suffix < 0.1:
            lines.append(f"Page={name},{number + 1},1")
        elif suffix < 0.3:
            lines.append(f"Page={name},{number + 1}")
        else:
            lines.append(f"Page={name}")
    path.write_text("\r\n".join(lines) + "\r\n", encoding="utf-8", newline="")


def long_name(rng: random.Random, number: int, words: int) -> str:
    """A long camel-case name: several words and a number."""
    return "".join(rng.choice(WORDS) for _ in range(words)) + f"{number:06d}"


def sdl_long_descriptor(rng: random.Random, name: str, version: int) -> str:
    """Hundreds of variables with long names, most with a default."""
    lines = [f"STATEDESC {name}", "{", f"\tVERSION {version}"]
    for number in range(rng.randrange(150, 400)):
        kind, default = rng.choice(SDL_TYPES)
        count = rng.choice(("[1]", "[1]", "[]", f"[{rng.randrange(2, 64)}]"))
        variable = long_name(rng, number, rng.randrange(3, 7))
        line = f"\tVAR {kind} {variable[0].lower()}{variable[1:]}{count}"
        if default is not None:
            line += f" DEFAULT={default}"
        if rng.random() < 0.3:
            line += " DEFAULTOPTION=VAULT"
        lines.append(line)
    lines += ["}", ""]
    return "\n".join(lines)


def write_sdl_long(directory: Path, quick: bool) -> None:
    """Files of large descriptors with long names."""
    rng = random.Random(SEED + 3)
    shutil.rmtree(directory, ignore_errors=True)
    directory.mkdir(parents=True)
    for number in range(2 if quick else 100):
        parts = [
            sdl_long_descriptor(rng, long_name(rng, number * 10 + d, 5), version)
            for d in range(1 if quick else 4)
            for version in range(1, 3)
        ]
        (directory / f"long{number:03d}.sdl").write_text("\n".join(parts), encoding="utf-8")


def write_age_long(path: Path, quick: bool) -> None:
    """An age description whose pages have long names."""
    rng = random.Random(SEED + 4)
    lines = ["SequencePrefix=100", "DayLength=30.5"]
    for number in range(1000 if quick else 200_000):
        name = long_name(rng, number, rng.randrange(4, 9))
        lines.append(f"Page={name},{number + 1}" if rng.random() < 0.2 else f"Page={name}")
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


def write_sdl_names(directory: Path, quick: bool) -> None:
    """The same number of descriptor names of the same length twice: sharing
    a 240-byte prefix, the names an ordered index compares longest, and
    random."""
    rng = random.Random(SEED + 5)
    count, files = (400, 2) if quick else (16_000, 16)
    prefix = "".join(rng.choice(WORDS) for _ in range(60))[:240]
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    names = {
        SHARED_PREFIX: [f"{prefix}{n:08d}" for n in rng.sample(range(10**8), count)],
        RANDOM_NAMES: ["".join(rng.choices(letters, k=248)) for _ in range(count)],
    }
    for kind, chosen in names.items():
        kind_dir = directory / kind
        shutil.rmtree(kind_dir, ignore_errors=True)
        kind_dir.mkdir(parents=True)
        per_file = count // files
        for number in range(files):
            text = "".join(
                f"STATEDESC {name}\n{{\nVERSION 1\nVAR INT value DEFAULT=0\n}}\n"
                for name in chosen[number * per_file : (number + 1) * per_file]
            )
            (kind_dir / f"names{number:02d}.sdl").write_text(text, encoding="utf-8")


def write_short_vars(path: Path, quick: bool) -> None:
    """One descriptor of the shortest variable lines, the most memory for
    their size."""
    count = 10_000 if quick else 1_000_000
    path.write_text("STATEDESC A\n{\n" + "VAR x y\n" * count + "}\n", encoding="utf-8")


def write_short_descriptors(path: Path, quick: bool) -> None:
    """The shortest descriptors, each with no variables: the most memory per
    descriptor for their size."""
    count = 5_000 if quick else 500_000
    path.write_text("STATEDESC a\n}\n" * count, encoding="utf-8")


def write_text(out: Path, quick: bool) -> None:
    """Every age and state description of the benchmarks."""
    write_sdl(out / SDL_DIR, quick)
    write_age(out / AGE_FILE, quick)
    write_sdl_long(out / LONG_SDL_DIR, quick)
    write_age_long(out / LONG_AGE_FILE, quick)
    write_sdl_names(out / NAMES_DIR, quick)
    write_short_vars(out / SHORT_VARS_FILE, quick)
    write_short_descriptors(out / SHORT_DESCRIPTORS_FILE, quick)


def manifest_of(quick: bool) -> dict:
    return {"format": FORMAT, "text_format": TEXT_FORMAT, "quick": quick}


def generate(out: Path, quick: bool) -> dict:
    """Writes the data under `out` and returns its manifest."""
    out.mkdir(parents=True, exist_ok=True)
    write_page(out / PAGE_FILE, page_objects(quick))
    write_text(out, quick)
    manifest = manifest_of(quick)
    (out / "manifest.json").write_text(json.dumps(manifest))
    return manifest


def stored_manifest(folder: Path) -> object:
    """The manifest the data in folder was generated with; None where it has
    none, or one that cannot be read."""
    try:
        return json.loads((folder / "manifest.json").read_text())
    except (OSError, ValueError):
        return None


def made_with(out: Path, manifest: dict, make: Callable[[Path], None]) -> Path:
    """out, as make(out) writes it: made again from nothing unless it was
    last made with this manifest."""
    if stored_manifest(out) != manifest:
        shutil.rmtree(out, ignore_errors=True)
        out.mkdir(parents=True)
        make(out)
        (out / "manifest.json").write_text(json.dumps(manifest))
    return out


def options(doc: str, runs: int, argv: list[str] | None) -> tuple[argparse.Namespace, int, Path]:
    """The options every timing run takes (--quick, --runs, --data): the
    parsed arguments, the runs and the page data's folder."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="small data and few runs: a smoke run")
    parser.add_argument("--runs", type=int, help=f"runs of each (default {runs}, 3 with --quick)")
    parser.add_argument("--data", type=Path, help="data directory (default build/bench-data/...)")
    args = parser.parse_args(argv)
    data = args.data or ROOT / "build" / "bench-data" / ("quick" if args.quick else "full")
    return args, args.runs or (3 if args.quick else runs), data


def ensure(out: Path, quick: bool) -> Path:
    """The data directory, generated first when missing or out of date; when
    only the text data is, only it is written again."""
    manifest = stored_manifest(out)
    expected = manifest_of(quick)
    if manifest == expected:
        return out
    if isinstance(manifest, dict) and {**manifest, "text_format": TEXT_FORMAT} == expected:
        write_text(out, quick)
        (out / "manifest.json").write_text(json.dumps(expected))
    else:
        generate(out, quick)
    return out


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", type=Path)
    parser.add_argument("--quick", action="store_true", help="small data for a smoke run")
    args = parser.parse_args()
    generate(args.out, args.quick)
    return 0


if __name__ == "__main__":
    sys.exit(main())
