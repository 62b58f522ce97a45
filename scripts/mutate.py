"""Mutation run of the package's Python code: puts small, realistic faults
into the command, the server, lumivex.Age and the library modules (textures,
JSON records, diff, references, folder walks) one at a time and tells which
the tests catch.

Each mutant replaces one text that occurs exactly once in the package's
Python files, wherever the file lies, in the source tree itself, which an
editable install imports; the tests named for it then run, stopping at the
first failure, and the file is put back as it was. A mutant is caught when
they fail, missed when they pass.

    python -m scripts.mutate [NAME...]
"""

from __future__ import annotations

import argparse
import os
import signal
import subprocess
import sys
import time
from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from pathlib import Path

import lumivex

ROOT = Path(__file__).resolve().parent.parent
PACKAGE = ROOT / "python" / "lumivex"
CHECK = ("tests/test_check.py", "tests/test_frontend_faults.py")
AGE = ("tests/test_age.py", "tests/test_frontend_faults.py")
COMMAND = ("tests/test_cli.py", "tests/test_frontend_faults.py")
LINT = ("tests/test_lint_command.py", "tests/test_frontend_faults.py")
SERVE = ("tests/test_serve.py", "tests/test_serve_faults.py", "tests/test_serve_hostile.py")
EDIT = ("tests/test_edit.py",)
DIFF = ("tests/test_diff.py",)
TEXTURE = ("tests/test_texture_from_image.py", "tests/test_mipmap_levels.py")
SHAPES = ("tests/test_json_vocabulary.py", "tests/test_cli.py")
REFERENCES = ("tests/test_references.py", "tests/test_check.py", "tests/test_json_vocabulary.py")
FOLDERS = ("tests/test_cli.py", "tests/test_serve.py")
WEB = (
    "tests/test_serve.py",
    "tests/test_serve_tables.py",
    "tests/test_serve_search.py",
    "tests/test_json_vocabulary.py",
)
# Time for one mutant's tests; a mutant that makes them hang is caught.
TIME_LIMIT = 120


@dataclass(frozen=True)
class Mutant:
    name: str
    old: str
    new: str
    tests: tuple[str, ...]


MUTANTS = [
    # lumivex check
    Mutant(
        "check-text-drops-warnings",
        "if problem.severity == NOTE and not verbose:",
        "if problem.severity != ERROR and not verbose:",
        CHECK,
    ),
    Mutant(
        "check-header-age-only",
        "(header.age_name, header.page_name) != (age.name, name)",
        "header.age_name != age.name",
        CHECK,
    ),
    Mutant(
        "check-sequences-never-kept",
        "other = sequences.setdefault(header.sequence_number, name)",
        "other = sequences.get(header.sequence_number, name)",
        CHECK,
    ),
    Mutant(
        "check-errors-need-two",
        'return 1 if totals["error_count"] else 0',
        'return 1 if totals["error_count"] > 1 else 0',
        CHECK,
    ),
    Mutant(
        "check-notes-hint-always-hidden",
        '("" if verbose or not totals["note_count"] else',
        '("" if verbose or totals["note_count"] else',
        CHECK,
    ),
    Mutant(
        "check-dangling-link-is-missing",
        'what = "is missing" if not os.path.lexists(page.path)',
        'what = "is missing" if not os.path.exists(page.path)',
        CHECK,
    ),
    Mutant(
        "check-folder-ages-case",
        'names = sorted(name for name in os.listdir(path) if name.lower().endswith(".age"))',
        'names = sorted(name for name in os.listdir(path) if name.endswith(".age"))',
        CHECK,
    ),
    Mutant(
        "check-json-warnings-count-notes",
        'f"{severity}_count": sum(report.count(severity) for report in reports)',
        'f"{severity}_count": sum(report.count(NOTE) for report in reports)',
        CHECK,
    ),
    # lumivex.Age
    Mutant(
        "age-resolve-takes-the-last",
        "                return found[0]\n",
        "                return found[-1]\n",
        AGE,
    ),
    Mutant(
        "age-unlisted-suffix-case",
        'name.lower().endswith(".prp") and name not in listed',
        'name.endswith(".prp") and name not in listed',
        AGE,
    ),
    Mutant(
        "age-unlisted-any-prefix",
        'prefix = f"{self.name}_District_"',
        'prefix = f"{self.name}_"',
        AGE,
    ),
    # other commands
    Mutant(
        "texture-suffix-case",
        "suffix = os.path.splitext(text)[1].lower()",
        "suffix = os.path.splitext(text)[1]",
        COMMAND,
    ),
    Mutant(
        "class-argument-highest-id",
        "if not 0 <= number <= CLASS_TYPE_MAX:",
        "if not 0 <= number < CLASS_TYPE_MAX:",
        COMMAND,
    ),
    Mutant(
        "class-argument-case",
        "if name.lower() == wanted and",
        "if name == wanted and",
        COMMAND,
    ),
    Mutant(
        "texture-levels-shrink-to-nothing",
        "        layout.level_size(max(1, width >> level), max(1, height >> level))\n        for level in range(levels)",
        "        layout.level_size(width >> level, height >> level)\n        for level in range(levels)",
        COMMAND,
    ),
    Mutant(
        "float-text-double-precision",
        "return repr(value) if digits is None else repr(float(digits))",
        "return repr(value)",
        COMMAND,
    ),
    Mutant(
        "texture-blocks-round-down",
        "return (width + 3) // 4 * ((height + 3) // 4) * self.block.block_size",
        "return width // 4 * (height // 4) * self.block.block_size",
        COMMAND,
    ),
    Mutant(
        "scan-suffix-case",
        'or not entry.name.lower().endswith(".prp"):',
        'or not entry.name.endswith(".prp"):',
        COMMAND,
    ),
    Mutant(
        "scan-messages-rarest-first",
        "key=lambda item: (-item[1], item[0]))",
        "key=lambda item: (item[1], item[0]))",
        COMMAND,
    ),
    Mutant(
        "scan-always-succeeds",
        "return 0 if totals.clean else 1",
        "return 0",
        COMMAND,
    ),
    # lumivex lint
    Mutant(
        "lint-suffix-case",
        "name = os.path.basename(text).lower()",
        "name = os.path.basename(text)",
        LINT,
    ),
    Mutant(
        "lint-plural-of-none",
        'return f"{number} {thing}" if number == 1 else',
        'return f"{number} {thing}" if number <= 1 else',
        LINT,
    ),
    Mutant(
        "lint-line-unescaped",
        'return f"{shown}:{problem.line}: {problem.reason}: {problem.text!r}"',
        'return f"{shown}:{problem.line}: {problem.reason}: {problem.text}"',
        LINT,
    ),
    Mutant(
        "lint-one-problem-passes",
        "return 1 if total else 0",
        "return 1 if total > 1 else 0",
        LINT,
    ),
    # lumivex serve
    Mutant(
        "serve-containment-by-prefix",
        "os.path.commonpath([self.root, real]) != self.root",
        "not real.startswith(self.root)",
        SERVE,
    ),
    Mutant(
        "serve-download-keeps-quotes",
        'plain = re.sub(r"[^A-Za-z0-9._-]", "_", name)',
        "plain = name.replace('\"', \"'\")",
        SERVE,
    ),
    Mutant(
        "serve-download-keeps-semicolon-and-accents",
        'plain = re.sub(r"[^A-Za-z0-9._-]", "_", name)',
        'plain = re.sub(r"[\\"\\\\]", "_", name)',
        SERVE,
    ),
    Mutant(
        "serve-download-real-name-unquoted-slash",
        'real = quote(f"{printable_text(name)}{suffix}".encode("utf-8", "replace"), safe="")',
        'real = quote(f"{printable_text(name)}{suffix}".encode("utf-8", "replace"))',
        SERVE,
    ),
    Mutant(
        "serve-host-case",
        "        return host.lower()\n",
        "        return host\n",
        SERVE,
    ),
    Mutant(
        "serve-host-any-port-split",
        'r"(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9._-]+))(?::[0-9]+)?"',
        'r"(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9._-]+))(?::[0-9:]+)?"',
        SERVE,
    ),
    Mutant(
        "serve-special-files",
        "if not stat.S_ISREG(mode):",
        "if stat.S_ISDIR(mode):",
        SERVE,
    ),
    Mutant(
        "serve-sdl-folder-case",
        "and os.path.basename(os.path.dirname(name)).lower() == SDL_FOLDER",
        "and os.path.basename(os.path.dirname(name)) == SDL_FOLDER",
        SERVE,
    ),
    Mutant(
        "serve-sdl-folder-link-followed",
        "elif entry.name.lower() == SDL_FOLDER and folders.is_folder(entry):",
        "elif entry.name.lower() == SDL_FOLDER and folders.leads_to_folder(entry):",
        SERVE,
    ),
    Mutant(
        "serve-url-keeps-hash",
        "return f\"/{kind}/{quote(name, safe='/')}{tail}\"",
        "return f\"/{kind}/{quote(name, safe='/#')}{tail}\"",
        SERVE,
    ),
    Mutant(
        "serve-no-frame-ancestors",
        "base-uri 'none'; frame-ancestors 'none'",
        "base-uri 'none'",
        SERVE,
    ),
    Mutant(
        "serve-download-any-suffix",
        'if suffix not in ("png", "dds"):',
        'if suffix not in ("png", "dds", "tga"):',
        SERVE,
    ),
    # lumivex edit
    Mutant(
        "edit-page-prefix-ignored",
        "if (page_name is None or found_page == page_name)",
        "if (page_name is None or found_page)",
        EDIT,
    ),
    Mutant(
        "edit-set-unknown-property-passed-on",
        "    if prop in names:\n        return\n",
        '    if prop in names or prop != "name":\n        return\n',
        EDIT,
    ),
    Mutant(
        "edit-removed-texture-allowed",
        "edited = set(renamed) | set(self.values) | set(retextured)",
        "edited = set(renamed) | set(self.values)",
        EDIT,
    ),
    Mutant(
        "edit-age-always-in-place",
        "lumivex.save_files(files, in_place=args.in_place, dry_run=args.dry_run)",
        "lumivex.save_files(files, in_place=True, dry_run=args.dry_run)",
        EDIT,
    ),
    Mutant(
        "edit-a-name-given-up-in-the-same-edit-is-refused",
        "if held.key not in renamed",
        "if held.key not in ()",
        EDIT,
    ),
    Mutant(
        "edit-age-renames-count-every-other-page",
        "other_pages[position] += bool(rewritten)",
        "other_pages[position] += 1",
        EDIT,
    ),
    Mutant(
        "edit-a-quoted-reference-stays-text",
        'if prop.endswith("_key") and isinstance(value, str):',
        'if prop.endswith("_kez") and isinstance(value, str):',
        EDIT,
    ),
    Mutant(
        "edit-params-take-values-out-of-order",
        "for position, (param, value) in enumerate(zip(params, values, strict=True)):",
        "for position, (param, value) in enumerate(zip(params, values[::-1], strict=True)):",
        EDIT,
    ),
    Mutant(
        "edit-age-dry-run-checks-nothing",
        "lumivex.save_files(files, in_place=args.in_place, dry_run=args.dry_run)",
        "args.dry_run or lumivex.save_files(files, in_place=args.in_place, dry_run=args.dry_run)",
        EDIT,
    ),
    Mutant(
        "web-references-of-a-list-never-quoted",
        'item is None or (item.strip() == item and "," not in item) for item in references',
        "True for item in references",
        ("tests/test_serve_object_view.py",),
    ),
    Mutant(
        "web-script-parameters-show-no-command",
        "        return list_literal([param_literal(item, page) for item in value])",
        "        return None",
        ("tests/test_serve_object_view.py",),
    ),
    Mutant(
        "edit-format-of-dxt1-is-dxt5",
        '(1, 1): "dxt1",',
        '(1, 1): "dxt5",',
        EDIT,
    ),
    Mutant(
        "edit-removed-twice-allowed",
        "removed = Counter(obj.key for obj in self.removes)",
        "removed = Counter(obj.key for obj in self.removes[:1])",
        EDIT,
    ),
    Mutant(
        "edit-set-twice-allowed",
        "        if prop in changes:\n",
        "        if prop in changes and not prop:\n",
        EDIT,
    ),
    Mutant(
        "edit-rename-to-itself-allowed",
        "    if obj.name == new_name:\n",
        "    if obj.name == new_name and not obj:\n",
        EDIT,
    ),
    Mutant(
        "edit-keys-told-by-name-only",
        '"changed": shown(before) != shown(after) or before != after,',
        '"changed": shown(before) != shown(after),',
        EDIT,
    ),
    Mutant(
        "edit-unchanged-object-rewritten",
        "        if changed.to_bytes() != view.to_bytes():\n",
        "        if True:\n",
        EDIT,
    ),
    Mutant(
        "edit-messages-mixed-with-the-page",
        "            return sys.stderr\n",
        "            return sys.stdout\n",
        EDIT,
    ),
    # lumivex diff
    Mutant(
        "diff-floats-by-value",
        'return struct.pack("<f", before) == struct.pack("<f", after)',
        "return before == after",
        DIFF,
    ),
    Mutant(
        "diff-renames-ignore-class",
        "return obj.class_type, hashlib.blake2b(",
        "return 0, hashlib.blake2b(",
        DIFF,
    ),
    Mutant(
        "diff-name-length-unmasked",
        'length = int.from_bytes(data[at : at + 2], "little") & 0x0FFF',
        'length = int.from_bytes(data[at : at + 2], "little")',
        DIFF,
    ),
    Mutant(
        "diff-first-difference-off-by-one",
        "if before[low : middle + 1] == after[low : middle + 1]:",
        "if before[low:middle] == after[low:middle]:",
        DIFF,
    ),
    # lumivex.texture
    Mutant(
        "texture-image-mode-kept",
        'return image.convert("RGBA")',
        "return image",
        TEXTURE,
    ),
    Mutant(
        "texture-empty-image-accepted",
        "return n > 0 and n & (n - 1) == 0",
        "return n & (n - 1) == 0",
        TEXTURE,
    ),
    Mutant(
        "texture-levels-nearest",
        "premultiplied.resize(size, Image.Resampling.LANCZOS)",
        "premultiplied.resize(size, Image.Resampling.NEAREST)",
        TEXTURE,
    ),
    # JSON and text of records
    Mutant(
        "json-infinity-kept",
        "return float(float_text(value)) if math.isfinite(value) else None",
        "return float(float_text(value)) if not math.isnan(value) else None",
        SHAPES,
    ),
    Mutant(
        "json-fast-text-ascii-escapes",
        "            scalar = encode_basestring(item)\n",
        "            scalar = json.dumps(item)\n",
        SHAPES,
    ),
    Mutant(
        "json-fast-float-unrounded",
        "        if type(item) is float:\n            item = to_json(item)\n",
        "",
        SHAPES,
    ),
    Mutant(
        "json-file-name-byte-unescaped",
        'yield LONE_SURROGATE.sub(lambda match: f"\\\\u{ord(match[0]):04x}", text)',
        "yield text",
        (*SHAPES, "tests/test_cli_process.py"),
    ),
    Mutant(
        "printable-keeps-whitespace",
        'c if c.isprintable() or (keep_bytes and "\\udc80" <= c <= "\\udcff") else repr(c)[1:-1]',
        "c if c.isprintable() or c.isspace() else repr(c)[1:-1]",
        (*SHAPES, "tests/test_diff.py"),
    ),
    Mutant(
        "key-json-mask-and-flags-swapped",
        '"location_flags": key.location_flags,\n        "load_mask": key.load_mask,',
        '"location_flags": key.load_mask,\n        "load_mask": key.location_flags,',
        (*SHAPES, "tests/test_serve.py"),
    ),
    Mutant(
        "listing-counts-every-object",
        "        count = len(chosen)\n",
        "        count = len(page)\n",
        WEB,
    ),
    # lumivex.diff
    Mutant(
        "diff-longer-list-same",
        "return len(before) == len(after) and all(map(same, before, after))",
        "return all(map(same, before, after))",
        DIFF,
    ),
    Mutant(
        "diff-pair-sides-swapped",
        "obj, partner = a[a_index], b[b_index]",
        "obj, partner = a[b_index], b[a_index]",
        DIFF,
    ),
    Mutant(
        "diff-page-entries-pair-last-first",
        "for entry in reversed(b.pages):",
        "for entry in b.pages:",
        DIFF,
    ),
    Mutant(
        "diff-age-suffix-case",
        'if path.lower().endswith(".age"):',
        'if path.endswith(".age"):',
        DIFF,
    ),
    Mutant(
        "diff-rename-load-mask-flag",
        "at = 10 + (1 if data[3] & 0x02 else 0) + 6",
        "at = 10 + (1 if data[3] & 0x01 else 0) + 6",
        DIFF,
    ),
    # references and folder trees
    Mutant(
        "references-resolver-left-running",
        "        finally:\n            self._stop.set()\n",
        "        finally:\n            pass\n",
        REFERENCES,
    ),
    Mutant(
        "folders-subfolders-last-first",
        "folders += reversed([entry.path for entry in entries if is_folder(entry)])",
        "folders += [entry.path for entry in entries if is_folder(entry)]",
        FOLDERS,
    ),
    # lumivex info and scan
    Mutant(
        "info-unloadable-page-succeeds",
        "return 1 if errors else 0",
        "return 0",
        COMMAND,
    ),
    Mutant(
        "scan-json-ranges-unjoined",
        'return ("\\n" if first else ",\\n") + ",\\n".join(pieces)',
        'return "\\n" + ",\\n".join(pieces)',
        COMMAND,
    ),
    Mutant(
        "scan-passed-over-reported-late",
        "while following is not None and following[0] <= number:",
        "while following is not None and following[0] < number:",
        COMMAND,
    ),
    Mutant(
        "scan-linked-pages-skipped",
        "mode = None if entry.is_file() else entry.stat().st_mode",
        "mode = None if entry.is_file(follow_symlinks=False) else entry.stat().st_mode",
        COMMAND,
    ),
    # the server's tables, search and /api
    Mutant(
        "serve-name-filter-case",
        "if folded in obj.name.casefold()\n        ]",
        "if self.name_part in obj.name\n        ]",
        WEB,
    ),
    Mutant(
        "serve-descending-ties-reversed",
        "            chosen.sort(key=lambda index: order(page[index]), reverse=self.descending)\n"
        "        elif self.descending:\n",
        "            chosen.sort(key=lambda index: order(page[index]))\n"
        "        if self.descending:\n",
        WEB,
    ),
    Mutant(
        "serve-search-one-result-too-many",
        "(end is None or self.count < end)",
        "(end is None or self.count <= end)",
        WEB,
    ),
    Mutant(
        "api-check-counts-late-binding",
        "name: (lambda name=name: severity_counts([check.report])[name])",
        "name: (lambda: severity_counts([check.report])[name])",
        WEB,
    ),
    Mutant(
        "api-diff-age-changes-count-as-pages",
        'counts["pages"] += first and change.kind != AGE',
        'counts["pages"] += first',
        WEB,
    ),
    Mutant(
        "edit-dry-run-tries-no-save",
        "    replace_file(output, data, dry_run=args.dry_run)\n",
        "    if not args.dry_run:\n        replace_file(output, data)\n",
        (*EDIT, "tests/test_cli_process.py"),
    ),
    Mutant(
        "serve-page-read-wherever-it-leads",
        "_load_regular_page(path, inside=self.root)",
        "_load_regular_page(path)",
        SERVE,
    ),
    Mutant(
        "serve-age-pages-read-wherever-they-lead",
        "        self._site = site\n        self._inside = site.root\n",
        "        self._site = site\n",
        SERVE,
    ),
]


def holder(mutant: Mutant) -> Path:
    """The one file that holds the mutant's text, once."""
    counts = {path: path.read_text("utf-8").count(mutant.old) for path in PACKAGE.rglob("*.py")}
    holding = [path for path, count in counts.items() if count]
    if [counts[path] for path in holding] != [1]:
        raise SystemExit(f"{mutant.name}: its text occurs {sum(counts.values())} times, not once")
    return holding[0]


@contextmanager
def applied(mutant: Mutant) -> Iterator[Path]:
    """The mutant put into its file for the time of the block; the file
    comes back as it was, its time of change included, however the block
    ends."""
    path = holder(mutant)
    original = path.read_bytes()
    times = path.stat()
    stop = signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        path.write_bytes(original.replace(mutant.old.encode(), mutant.new.encode()))
        yield path
    finally:
        path.write_bytes(original)
        os.utime(path, ns=(times.st_atime_ns, times.st_mtime_ns))
        signal.signal(signal.SIGTERM, stop)


def tests_fail(tests: tuple[str, ...]) -> tuple[bool, float]:
    """Whether the tests fail against the package as its files are now, and
    how long they took. No bytecode is written: a mutant's would outlive it."""
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    command = [sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *tests]
    start = time.monotonic()
    try:
        done = subprocess.run(
            command, cwd=ROOT, env=env, capture_output=True, timeout=TIME_LIMIT, check=False
        )
    except subprocess.TimeoutExpired:
        return True, time.monotonic() - start
    return done.returncode != 0, time.monotonic() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*", help="only these mutants")
    args = parser.parse_args()
    chosen = [m for m in MUTANTS if not args.names or m.name in args.names]
    unknown = set(args.names) - {m.name for m in MUTANTS}
    if unknown:
        parser.error(f"no mutant named {', '.join(sorted(unknown))}")
    if Path(lumivex.__file__).resolve().parent != PACKAGE:
        raise SystemExit(
            f"lumivex is imported from {Path(lumivex.__file__).parent}, not from {PACKAGE}: "
            'install it editable from this tree (pip install --no-build-isolation -e ".[test]")'
        )
    for mutant in chosen:
        holder(mutant)
    every_test = tuple(sorted({test for m in chosen for test in m.tests}))
    failed, _ = tests_fail(every_test)
    if failed:
        print("the tests fail without any mutant: nothing to measure", file=sys.stderr)
        return 1
    caught = 0
    for mutant in chosen:
        with applied(mutant) as path:
            failed, seconds = tests_fail(mutant.tests)
        caught += failed
        verdict = "caught" if failed else "MISSED"
        where = path.relative_to(PACKAGE.parent)
        print(f"{verdict:6}  {mutant.name}  ({where}, {seconds:.0f} s)", flush=True)
    print(f"{len(chosen)} mutants, {caught} caught, {len(chosen) - caught} missed")
    return 0 if caught == len(chosen) else 1


if __name__ == "__main__":
    sys.exit(main())
