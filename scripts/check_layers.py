"""Checks that the folders of src/ include each other in one direction only:
the foundation at the bottom, the page and its decoders above it, the text
formats beside them, the bindings on top; and that only the bindings see
Python. Prints every include that breaks the rule and exits 1 if any does."""

from __future__ import annotations

import re
import sys
from pathlib import Path

SRC = Path(__file__).resolve().parent.parent / "src"

# What each layer may include, itself included.
ALLOWED = {
    "core": {"core"},
    "resource": {"core", "resource"},
    "age": {"core", "age"},
    "sdl": {"core", "sdl"},
    "bindings": {"core", "resource", "age", "sdl", "bindings"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def problems(src: Path = SRC) -> list[str]:
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp"}:
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in ALLOWED:
            found.append(f"{path.relative_to(src)}: folder {layer!r} has no place in the layers")
            continue
        for included in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if included == "Python.h" and layer != "bindings":
                found.append(f"{path.relative_to(src)}: includes Python.h outside src/bindings")
            target = included.split("/")[0]
            if "/" in included and target in ALLOWED and target not in ALLOWED[layer]:
                found.append(f"{path.relative_to(src)}: {layer} includes {included}")
    return found


def main() -> int:
    found = problems()
    for problem in found:
        print(problem)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
