"""The table of decoders is the one list of them: a file that names every
decoder is one of those ARCHITECTURE.md's checklist for adding a decoder
lists, and each file that checklist lists by name names every decoder."""

import re
import subprocess
from pathlib import Path

import lumivex
import pytest

from fixtures.object_bodies import DECODERS, prp_object

ROOT = Path(__file__).resolve().parent.parent
METHODS = list(lumivex._lumivex.decoder_methods.values())
VIEWS = [
    type(getattr(prp_object(class_type, body), method)()).__name__
    for method, (class_type, body) in DECODERS.items()
]
CLASS_IDS = list(lumivex._lumivex.decoder_methods)


def tracked_files():
    try:
        listed = subprocess.run(
            ["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True, timeout=60
        ).stdout
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("the files of the repository are known only to git")
    return [ROOT / name.decode() for name in listed.split(b"\0") if name]


def names_every_decoder(text):
    def every(words):
        return all(re.search(rf"\b{re.escape(word)}\b", text) for word in words)

    ids = [rf"0[xX]0*{class_type:X}" if class_type else "0x0+" for class_type in CLASS_IDS]
    by_id = all(re.search(rf"\b{number}\b", text, re.IGNORECASE) for number in ids)
    return every(METHODS) or every(VIEWS) or by_id


def checklist_files():
    """The files the checklist names outright, without a <name> in them, but
    for this test, which it names as the check."""
    text = (ROOT / "ARCHITECTURE.md").read_text()
    section = text[text.index("## Adding a decoder") :]
    return {
        ROOT / path
        for path in re.findall(r"`([\w./-]+\.\w+)`", section)
        if ("/" in path or (ROOT / path).is_file()) and ROOT / path != Path(__file__).resolve()
    }


def test_the_checklist_names_files_that_exist():
    listed = checklist_files()
    assert ROOT / "src/resource/prp/decoders.h" in listed
    assert all(path.is_file() for path in listed), sorted(p for p in listed if not p.is_file())


def test_only_the_checklist_files_name_every_decoder():
    naming = set()
    for path in tracked_files():
        try:
            text = path.read_text(encoding="utf-8")
        except (UnicodeDecodeError, OSError):
            continue
        if names_every_decoder(text):
            naming.add(path)
    assert {p.relative_to(ROOT) for p in naming} == {p.relative_to(ROOT) for p in checklist_files()}


@pytest.mark.parametrize(
    "text,named",
    [
        (" ".join(METHODS), True),
        (", ".join(VIEWS), True),
        (" ".join(f"0x{class_type:04X}" for class_type in CLASS_IDS), True),
        (" ".join(METHODS[1:]), False),
        (" ".join(f"{method}_x" for method in METHODS), False),
    ],
)
def test_what_counts_as_naming_every_decoder(text, named):
    assert names_every_decoder(text) is named
