"""The README's screenshots of lumivex serve: a texture's view and an
object's view on the samples, taken by headless Chromium.

Usage: python -m scripts.serve_screenshots [OUT_DIR]   (default docs/)
"""

from __future__ import annotations

import sys
from pathlib import Path

import lumivex

from fixtures import browser
from fixtures.served import served

ROOT = Path(__file__).resolve().parent.parent
PAGE = "Demo_District_Town.prp"
# A texture with an alpha channel, and an object with references both ways.
SHOTS = {"serve-texture.png": ("Tiles_DXT5", 700), "serve-object.png": ("FountainStone", 1560)}


def main(argv: list[str]) -> int:
    out = Path(argv[0]) if argv else ROOT / "docs"
    missing = browser.missing()
    if missing:
        print(missing, file=sys.stderr)
        return 1
    names = [obj.name for obj in lumivex.PrpFile.load(str(ROOT / "samples" / PAGE))]
    with served("samples/Demo.age") as address, browser.chromium() as driver:
        for file, (name, height) in SHOTS.items():
            driver.set_window_size(1100, height)
            driver.get(f"{address}object/{PAGE}/{names.index(name)}")
            driver.save_screenshot(str(out / file))
            print(out / file)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
