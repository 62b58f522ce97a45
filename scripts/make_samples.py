"""Write the bundled sample data under samples/ from the test builders: the
pages of the Demo age (one with objects of every decodable class and a
texture of each kind), its ".age" file and its ".sdl" directory.

Run from the repository root with the module importable:
    PYTHONPATH=build/dev/python python -m scripts.make_samples
"""

import sys
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
from fixtures.responder_bodies import RESPONDER, command, responder, state, trailer
from fixtures.texture_bodies import ARGB32, DXT1, DXT5, texture_body

ROOT = Path(__file__).resolve().parent.parent

AGE = "Demo"
SEQUENCE_PREFIX = 94
COORDINATE_INTERFACE = 0x0015

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


def scene_object(name: str, modifiers=()) -> tuple[int, bytes]:
    return SCENE_OBJECT, scene_object_body(
        name, draw=f"{name}Draw", coord=f"{name}Coord", modifiers=modifiers
    )


def coordinate_interface(name: str) -> tuple[int, bytes]:
    """A class the module does not decode: its body is never read."""
    return COORDINATE_INTERFACE, i16(COORDINATE_INTERFACE) + key_ref(name, COORDINATE_INTERFACE)


def collider(name: str) -> tuple[int, bytes]:
    return PHYSICAL, physical(uncooked(4, [(0, 1, 2), (1, 2, 3)]), bounds=4, name=name, mass=0.0)


TOWN = {
    "Fountain": scene_object("Fountain", ["FountainPython", "FountainSplash"]),
    "Lamp01": scene_object("Lamp01", ["LampSwitch"]),
    "Lamp02": scene_object("Lamp02", ["LampSwitch"]),
    "Sign": scene_object("Sign"),
    "FountainCoord": coordinate_interface("FountainCoord"),
    "SignCoord": coordinate_interface("SignCoord"),
    "FountainStone": (LAYER, layer_body("FountainStone", "Tiles_DXT1")),
    "LampGlass": (LAYER, layer_body("LampGlass", "Tiles_DXT5", opacity=0.5)),
    "SignPaint": (LAYER, layer_body("SignPaint", "Tiles_ARGB32")),
    "FountainMaterial": (MATERIAL, material_body(("FountainStone",))),
    "LampMaterial": (MATERIAL, material_body(("LampGlass", "SignPaint"))),
    "Tiles_DXT1": (MIPMAP, texture_body("Tiles_DXT1", DXT1, 32, 16, levels=6)),
    "Tiles_DXT5": (MIPMAP, texture_body("Tiles_DXT5", DXT5, 32, 16, levels=6)),
    "Tiles_ARGB32": (MIPMAP, texture_body("Tiles_ARGB32", ARGB32, 32, 16, levels=6)),
    "FountainPython": (
        PYTHON_FILE_MOD,
        python_file_mod(
            ["Fountain"],
            [param(1, 1, i32(3)), param(2, 4, counted("Splash")), param(3, 2, f32(0.75))],
            name="FountainPython",
        ),
    ),
    "LampSwitch": (
        RESPONDER,
        responder(
            state(command(0x0254)),
            state(command(0x025A), command(0x0206)),
            trail=trailer(cur_state=0, enabled=1),
            name="LampSwitch",
        ),
    ),
    "FountainCollider": collider("FountainCollider"),
    "FountainSplash": (SOUND, sound_body("FountainSplash", "fountain_splash.ogg", volume=0.8)),
}

GARDEN = {
    "Tree01": scene_object("Tree01"),
    "Tree02": scene_object("Tree02"),
    "Hedge": scene_object("Hedge"),
    "Tree01Coord": coordinate_interface("Tree01Coord"),
    "HedgeCollider": collider("HedgeCollider"),
    "Birdsong": (SOUND, sound_body("Birdsong", "garden_birds.ogg", volume=0.4)),
}

CAVERN = {
    "Stalactite": scene_object("Stalactite", ["Drip"]),
    "Drip": (SOUND, sound_body("Drip", "cavern_drip.ogg", volume=0.3, properties=0x09)),
}

PAGES = {"Town": (1, TOWN), "Garden": (2, GARDEN), "Cavern": (10, CAVERN)}


def age_page(page_name: str) -> bytes:
    suffix, contents = PAGES[page_name]
    location = SEQUENCE_PREFIX << 16 | suffix
    ids: dict[int, int] = {}
    objects = []
    for name, (class_type, body) in contents.items():
        ids[class_type] = ids.get(class_type, 0) + 1
        objects.append(Obj(class_type, name, body, ids[class_type], location_sequence=location))
    return page(objects, age=AGE, page_name=page_name, sequence_number=location)


def sample_page() -> bytes:
    """The page with objects of every decodable class."""
    return age_page("Town")


def main() -> int:
    out = ROOT / "samples"
    for name, text in TEXT_SAMPLES.items():
        path = out / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8", newline="\n")
    age = lumivex.AgeFile.parse(AGE, DEMO_AGE)
    for entry in age.pages:
        (out / str(age.prp_filename(entry.name))).write_bytes(age_page(entry.name))
    return 0


if __name__ == "__main__":
    sys.exit(main())
