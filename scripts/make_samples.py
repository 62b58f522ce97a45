"""Write the bundled sample data under samples/ from the test builders.

Run from the repository root: python scripts/make_samples.py
"""

import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))

from builder import Obj, f32, i16, key_ref, page, synched, u8, u32  # noqa: E402


def scene_object(name: str, object_id: int) -> Obj:
    body = (
        i16(0x0001)
        + key_ref(name, 0x0001, object_id)
        + synched(0)
        + key_ref(f"{name}_draw", 0x0016)
        + key_ref(None)
        + key_ref(f"{name}_coord", 0x0015)
        + key_ref(None)
        + u32(0)
        + u32(1)
        + key_ref(f"{name}_mod", 0x00A2)
        + key_ref(None)
    )
    return Obj(0x0001, name, body, object_id=object_id)


def layer(name: str, object_id: int, texture: str) -> Obj:
    body = i16(0x0006) + key_ref(name, 0x0006, object_id) + synched(0) + key_ref(None)
    body += u32(0) + u32(0) + u32(0) + u32(0) + u32(0) + u8(0)
    for color in ((1, 1, 1, 1), (0.5, 0.5, 0.5, 1), (0, 0, 0, 1), (0, 0, 0, 1)):
        body += b"".join(f32(c) for c in color)
    body += u32(0) + f32(1.0) + u32(0) + u32(0) + key_ref(texture, 0x0004)
    return Obj(0x0006, name, body, object_id=object_id)


def sample_page() -> bytes:
    objects = [scene_object(f"Rock{i:02d}", 10 + i) for i in range(6)]
    objects += [layer(f"RockLayer{i}", 30 + i, "RockTexture") for i in range(3)]
    return page(objects, age="Demo", page_name="Town", sequence_number=0x00010021)


def main() -> int:
    out = ROOT / "samples"
    out.mkdir(exist_ok=True)
    (out / "Demo_District_Town.prp").write_bytes(sample_page())
    return 0


if __name__ == "__main__":
    sys.exit(main())
