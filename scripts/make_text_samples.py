"""Write the sample age description and state descriptions under samples/.

Run from the repository root: python scripts/make_text_samples.py
"""

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

# The age of the sample page samples/Demo_District_Town.prp.
DEMO_AGE = """\
# Demo: a small island town with a garden, a library and a hidden cavern.
StartDateTime=0
DayLength=30.5
MaxCapacity=24
LingerTime=180
SequencePrefix=94
ReleaseVersion=0

[Pages]
Page=Town,1
Page=Garden
Page=Library
Page=Cavern,10,1
Page=BuiltIn,99
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

SAMPLES = {
    "Demo.age": DEMO_AGE,
    "sdl/Demo.sdl": DEMO_SDL,
    "sdl/DemoFountain.sdl": FOUNTAIN_SDL,
}


def main():
    for name, text in SAMPLES.items():
        path = ROOT / "samples" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8", newline="\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
