"""Write the fuzzers' seed corpora from the test builders and the samples.

Usage: python -m scripts.make_fuzz_corpus OUT_DIR
Writes OUT_DIR/<target>/<seed> for each fuzz target.
"""

import hashlib
import sys
from pathlib import Path

import lumivex

from fixtures.builder import Group, Obj, page
from fixtures.object_bodies import DECODERS
from scripts.make_samples import sample_page

ROOT = Path(__file__).resolve().parent.parent

# The order of the module's decoders, which is the fuzz targets' too: the
# first byte of a fuzz_decoder or fuzz_edit input picks one.
DECODER_ORDER = list(lumivex._lumivex.decoder_methods.values())


def page_seeds():
    yield sample_page()
    yield page([])
    yield page([Obj(class_type, method, body) for method, (class_type, body) in DECODERS.items()])
    yield page([Obj(1, "A", b"\x01\x00"), Obj(6, "B", b"\x06\x00")], no_data_start=True)
    yield page(groups=[Group(1, [Obj(1, "A", b"\x01\x00")]), Group(1, [])], gap=b"\xff" * 4)


def decoder_seeds():
    for method, (_, body) in DECODERS.items():
        yield bytes([DECODER_ORDER.index(method)]) + body


def edit_seeds():
    """Each test body, its size after the decoder's index, and the bytes of
    some new values after it."""
    for method, (_, body) in DECODERS.items():
        yield bytes([DECODER_ORDER.index(method)]) + len(body).to_bytes(2, "little") + body
        yield (
            bytes([DECODER_ORDER.index(method)])
            + len(body).to_bytes(2, "little")
            + body
            + bytes(range(1, 200))
        )


def builder_seeds():
    """Each page seed, its size before it, and edits after it: renames
    among the names it holds, then each kind of edit."""
    for seed in page_seeds():
        if len(seed) > 0xFFFF:
            continue
        prefix = len(seed).to_bytes(2, "little") + seed
        yield prefix
        yield prefix + bytes(range(256))
        yield prefix + bytes([0, 5, 0, 0, 1, 4, 1, 0, 2, 0, 1, 1, 0, 3, 0, 0, 0]) * 4


def text_seeds():
    yield (ROOT / "samples" / "Demo.age").read_bytes()
    for path in sorted((ROOT / "samples" / "sdl").glob("*.sdl")):
        yield path.read_bytes()
    # Lines the lints report, in both formats.
    yield b"Pgae=Hall,1\nDayLength=thirty\nPage=Garden,two,x,y\n=1\nfoo\n"
    yield b"STATEDESC A x\n{ x\nVERSION v 1\nVAR RGBA8 a[2 DEFAULT=1\nVAR INT b DEFALT=0 # c\n};\nvar INT c\n"


def write(out: Path, target: str, seeds) -> None:
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    for seed in seeds:
        (folder / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


def main(argv: list[str]) -> int:
    out = Path(argv[1])
    write(out, "fuzz_page", page_seeds())
    write(out, "fuzz_decoder", decoder_seeds())
    write(out, "fuzz_edit", edit_seeds())
    write(out, "fuzz_text", text_seeds())
    write(out, "fuzz_builder", builder_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
