"""The README's screenshots of lumivex serve: a texture's view, an object's
view and a search on the samples, and the diff view of the samples against
an edited copy, taken by headless Chromium.

Usage: python -m scripts.serve_screenshots [OUT_DIR]   (default docs/)
"""

from __future__ import annotations

import sys
import tempfile
from pathlib import Path

import lumivex

from fixtures import browser
from fixtures.edited import releases
from fixtures.served import served

ROOT = Path(__file__).resolve().parent.parent
PAGE = "Demo_District_Town.prp"
# A texture with an alpha channel, and an object with references both ways.
SHOTS = {"serve-texture.png": ("Tiles_DXT5", 700), "serve-object.png": ("FountainStone", 1560)}
# Addresses on the samples, and on the samples beside their edited copy, with heights.
SEARCH_SHOT = ("serve-search.png", "search?q=lamp", 640)
DIFF_SHOT = ("serve-diff.png", "diff?a=A/Demo.age&b=B/Demo.age", 560)


def shoot(driver, path: Path) -> None:
    """Saves the window to path; the driver only returns False when it cannot."""
    if not driver.save_screenshot(str(path)):
        raise OSError(f"the screenshot {path} could not be written")
    print(path)


def main(argv: list[str]) -> int:
    out = Path(argv[0]) if argv else ROOT / "docs"
    out.mkdir(parents=True, exist_ok=True)
    missing = browser.missing()
    if missing:
        print(missing, file=sys.stderr)
        return 1
    names = [obj.name for obj in lumivex.PrpFile.load(str(ROOT / "samples" / PAGE))]
    with served("samples/Demo.age") as address, browser.chromium() as driver:
        for file, (name, height) in SHOTS.items():
            driver.set_window_size(1100, height)
            driver.get(f"{address}object/{PAGE}/{names.index(name)}")
            shoot(driver, out / file)
        file, query, height = SEARCH_SHOT
        driver.set_window_size(1100, height)
        driver.get(f"{address}{query}")
        shoot(driver, out / file)
    with tempfile.TemporaryDirectory() as folder:
        releases(Path(folder))
        with served(folder) as address, browser.chromium() as driver:
            file, query, height = DIFF_SHOT
            driver.set_window_size(1100, height)
            driver.get(f"{address}{query}")
            shoot(driver, out / file)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
