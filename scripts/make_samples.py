"""Write the bundled sample data under samples/ from the test builders: the
pages of the Demo age (one with objects of every decodable class and a
texture of each kind), its ".age" file and its ".sdl" directory.

Run from the repository root with the module importable:
    python -m scripts.make_samples
"""

import sys
from collections.abc import Callable
from pathlib import Path

import lumivex

from fixtures.builder import Obj, f32, i16, i32, key_ref, page
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
from fixtures.texture_bodies import ARGB32, DXT1, DXT5, texture_body

ROOT = Path(__file__).resolve().parent.parent

AGE = "Demo"
SEQUENCE_PREFIX = 94

DEMO_AGE = f"""\
# Demo: a small island town with a garden and a hidden cavern.
StartDateTime=0
DayLength=30.5
MaxCapacity=24
LingerTime=180
SequencePrefix={SEQUENCE_PREFIX}
ReleaseVersion=0

[Pages]
Page=Town,1
Page=Garden,2
Page=Cavern,10,1
"""

DEMO_SDL = """\
# State of the Demo age.
STATEDESC Demo
{
    VERSION 1
    VAR BOOL    lampsLit[1]      DEFAULT=0
    VAR INT     visitCount[1]    DEFAULT=0 DISPLAYOPTION=hidden
}

STATEDESC Demo
{
    VERSION 2
    VAR BOOL    lampsLit[1]      DEFAULT=0
    VAR INT     visitCount[1]    DEFAULT=0 DISPLAYOPTION=hidden
    VAR FLOAT   tideLevel[1]     DEFAULT=0.25
    VAR STRING32 lastVisitor[1]  DEFAULT=nobody
    VAR BYTE    bookPages[]
    VAR $DemoFountain fountains[3]
}
"""

FOUNTAIN_SDL = """\
STATEDESC DemoFountain
{
    VERSION 3
    VAR BOOL    running[1]       DEFAULT=1 DEFAULTOPTION=VAULT
    VAR POINT3  position[1]      DEFAULT=(0,0,0)
    VAR RGB8    sprayColor[1]    DEFAULT=(64,128,255)
    VAR PLKEY   sound[1]
    VAR TIME    lastStarted[1]
}
"""

TEXT_SAMPLES = {
    "Demo.age": DEMO_AGE,
    "sdl/Demo.sdl": DEMO_SDL,
    "sdl/DemoFountain.sdl": FOUNTAIN_SDL,
}


# Classes whose bodies nothing here reads: each is its class index and own key.
DRAW_INTERFACE, COORDINATE_INTERFACE, SOUND_BUFFER = 0x0016, 0x0015, 0x0029

# A body is made once every object of the age has its key: Ref names the
# object a reference points at, by name, and becomes that object's key.
Body = Callable[[Callable[[str | None], bytes]], bytes]


def opaque(class_type: int, name: str) -> tuple[int, Body]:
    return class_type, lambda ref: i16(class_type) + key_ref(name, class_type)


def scene_object(name: str, modifiers=()) -> dict[str, tuple[int, Body]]:
    """A scene object with its drawable and coordinate interfaces."""
    return {
        name: (
            SCENE_OBJECT,
            lambda ref: scene_object_body(
                name,
                draw=ref(f"{name}Draw"),
                coord=ref(f"{name}Coord"),
                modifiers=[ref(m) for m in modifiers],
                sim=None,
                last=None,
            ),
        ),
        f"{name}Draw": opaque(DRAW_INTERFACE, f"{name}Draw"),
        f"{name}Coord": opaque(COORDINATE_INTERFACE, f"{name}Coord"),
    }


def layer(name: str, texture: str, **options) -> tuple[int, Body]:
    return LAYER, lambda ref: layer_body(name, ref(texture), under=None, **options)


def material(name: str, *layers: str) -> tuple[int, Body]:
    return MATERIAL, lambda ref: material_body([ref(layer) for layer in layers], name=name)


def sound(name: str, buffer: str, **options) -> dict[str, tuple[int, Body]]:
    """A sound and the buffer that holds its file."""
    return {
        name: (SOUND, lambda ref: sound_body(name, ref(buffer), region=None, **options)),
        buffer: opaque(SOUND_BUFFER, buffer),
    }


def collider(name: str, owner: str) -> tuple[int, Body]:
    return PHYSICAL, lambda ref: physical(
        uncooked(4, [(0, 1, 2), (1, 2, 3)]),
        bounds=4,
        name=name,
        mass=0.0,
        references=(ref(owner), None, None, None),
    )


TOWN: dict[str, tuple[int, Body]] = {
    **scene_object("Fountain", ["FountainPython", "FountainSplash"]),
    **scene_object("Lamp01", ["LampSwitch"]),
    **scene_object("Lamp02", ["LampSwitch"]),
    **scene_object("Sign"),
    "FountainStone": layer("FountainStone", "Tiles_DXT1"),
    "LampGlass": layer("LampGlass", "Tiles_DXT5", opacity=0.5),
    "SignPaint": layer("SignPaint", "Tiles_ARGB32"),
    "FountainMaterial": material("FountainMaterial", "FountainStone"),
    "LampMaterial": material("LampMaterial", "LampGlass", "SignPaint"),
    "Tiles_DXT1": (MIPMAP, lambda ref: texture_body("Tiles_DXT1", DXT1, 32, 16, levels=6)),
    "Tiles_DXT5": (MIPMAP, lambda ref: texture_body("Tiles_DXT5", DXT5, 32, 16, levels=6)),
    "Tiles_ARGB32": (MIPMAP, lambda ref: texture_body("Tiles_ARGB32", ARGB32, 32, 16, levels=6)),
    "FountainPython": (
        PYTHON_FILE_MOD,
        lambda ref: python_file_mod(
            [ref("Fountain")],
            [param(1, 1, i32(3)), param(2, 4, counted("Splash")), param(3, 2, f32(0.75))],
            name="FountainPython",
        ),
    ),
    # The lamps of the town and the trees of the garden light up together.
    "LampSwitch": (
        RESPONDER,
        lambda ref: responder(
            state(
                command(0x0254, msg_base(receivers=[ref("Lamp01"), ref("Lamp02"), ref("Tree01")]))
            ),
            state(
                command(0x025A, msg_base(receivers=[ref("FountainSplash")])),
                command(0x0206, msg_base(receivers=[ref("Fountain")])),
            ),
            trail=trailer(cur_state=0, enabled=1),
            name="LampSwitch",
        ),
    ),
    "FountainCollider": collider("FountainCollider", "Fountain"),
    **sound("FountainSplash", "fountain_splash.ogg", volume=0.8),
}

GARDEN: dict[str, tuple[int, Body]] = {
    **scene_object("Tree01"),
    **scene_object("Tree02"),
    **scene_object("Hedge", ["HedgePython"]),
    # The hedge is painted with the town's fountain stone.
    "HedgeMaterial": material("HedgeMaterial", "FountainStone"),
    "HedgePython": (
        PYTHON_FILE_MOD,
        lambda ref: python_file_mod(
            [ref("Hedge"), ref("Fountain")], [param(1, 4, counted("Trim"))], name="HedgePython"
        ),
    ),
    "HedgeCollider": collider("HedgeCollider", "Hedge"),
    **sound("Birdsong", "garden_birds.ogg", volume=0.4),
}

CAVERN: dict[str, tuple[int, Body]] = {
    **scene_object("Stalactite", ["Drip"]),
    **sound("Drip", "cavern_drip.ogg", volume=0.3, properties=0x09),
}

PAGES = {"Town": (1, TOWN), "Garden": (2, GARDEN), "Cavern": (10, CAVERN)}


def location(page_name: str) -> int:
    return SEQUENCE_PREFIX << 16 | PAGES[page_name][0]


def object_keys() -> dict[str, Obj]:
    """Every object of the age with its key: object ids count up per class
    within a page. Names are unique across the age."""
    keys: dict[str, Obj] = {}
    for page_name, (_, contents) in PAGES.items():
        ids: dict[int, int] = {}
        for name, (class_type, _) in contents.items():
            ids[class_type] = ids.get(class_type, 0) + 1
            assert name not in keys, name
            keys[name] = Obj(
                class_type, name, object_id=ids[class_type], location_sequence=location(page_name)
            )
    return keys


def with_own_key(body: bytes, key: Obj, own: bytes) -> bytes:
    """The body with its own key, which the builders write in location 0
    with id 0, made the one its index entry holds, as in real pages."""
    written = key_ref(key.name, key.class_type)
    start = 2  # after the class index
    assert body[start : start + len(written)] == written, key.name
    return body[:start] + own + body[start + len(written) :]


def age_page(page_name: str) -> bytes:
    keys = object_keys()

    def ref(name: str | None) -> bytes:
        if name is None:
            return key_ref(None)
        key = keys[name]
        return key_ref(name, key.class_type, key.object_id, location_sequence=key.location_sequence)

    objects = []
    for name, (_, make_body) in PAGES[page_name][1].items():
        key = keys[name]
        key.body = with_own_key(make_body(ref), key, ref(name))
        objects.append(key)
    return page(objects, age=AGE, page_name=page_name, sequence_number=location(page_name))


def sample_page() -> bytes:
    """The page with objects of every decodable class."""
    return age_page("Town")


def sample_files() -> dict[str, bytes]:
    """Every sample file's bytes, by its path under samples/."""
    files = {name: text.encode() for name, text in TEXT_SAMPLES.items()}
    age = lumivex.AgeFile.parse(AGE, DEMO_AGE)
    for entry in age.pages:
        files[str(age.prp_filename(entry.name))] = age_page(entry.name)
    return files


def main() -> int:
    for name, content in sample_files().items():
        path = ROOT / "samples" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)
    return 0


if __name__ == "__main__":
    sys.exit(main())
