"""lumivex edit: rename, remove, retexture and change the values of a page's
objects, or rename an object across the pages of an age. Names are found in
the page as it was read; nothing is written before every edit has worked."""

from __future__ import annotations

import argparse
import ast
import math
import os
import re
import stat
import sys
import types
from collections import Counter
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field
from typing import Any, Literal

import lumivex
from lumivex.age import Age
from lumivex.classes import DECODERS, class_type, settable
from lumivex.cli.common import (
    CommandError,
    load_page,
    messages_beside,
    replace_file,
    report,
)
from lumivex.cli.output import print_json
from lumivex.diff import opened
from lumivex.errors import error_text
from lumivex.references import ReferenceWalk
from lumivex.shapes import closest, counted, key_json, printable_text, value_text

EPILOG = (
    "A name may be written CLASS:NAME where several objects share it (in an age, "
    "PAGE:NAME or PAGE:CLASS:NAME where several pages hold it); an unknown or "
    "ambiguous name is an error listing the candidates as they may be written. Values of --set are Python "
    "literals (0.25, True, [1.0, 0.5, 0.5, 1.0], None) or nan, inf and -inf; a reference is written "
    "CLASS:NAME, quoted or not, and found in the page (quote the names of a list that "
    "hold commas: ['plLayer:A,B', 'plLayer:C']); a script's params take one value for "
    "each parameter, in order ([3, 'Splash', 0.5]). Renames are made as one: two "
    "objects may swap names (--rename A=B --rename B=A). Given an .age file (or a folder holding one), "
    "only --rename is taken: the object is renamed in its page and in every reference "
    "of every page of the age, and all changed pages are written as one change: every "
    "new file is written before the first replaces its page. A page that could only be "
    "written in place (other hard links, a folder that takes no new files, an owner that "
    "cannot be kept) makes the rename refuse unless --in-place is given."
)

FORMATS = ("dxt1", "dxt5", "argb")
MIPMAP = "plMipmap"
# A reference in a value: a class name, a colon, an object name (which may
# hold any character, a line feed too).
REFERENCE = re.compile(r"([A-Za-z]\w*):(.+)", re.DOTALL)
# An integer, as Python writes one, that may be too long for Python to read.
INTEGER = re.compile(r"\s*[-+]?\s*(0|[1-9](_?\d)*)\s*")


def object_text(obj: lumivex.PrpObject | lumivex.Key) -> str:
    return f"{obj.class_name}:{printable_text(obj.name)}"


def split_pair(
    text: str,
    option: str,
    form: str,
    objects: Objects,
    name_of: Callable[[str], str | None] = lambda left: left,
) -> tuple[str, str]:
    """text split at the '=' that ends the name it starts with (name_of
    gives the name in what comes before an '=', or None): names may hold '='
    too. Where no name of the objects ends at an '=', at the first, so that
    the name is told unknown."""
    splits = [
        (text[:at], text[at + 1 :])
        for at, character in enumerate(text)
        if character == "=" and 0 < at < len(text) - 1
    ]
    if not splits:
        raise CommandError(f"{option} takes {form}, not {text!r}")
    named = [
        (left, right)
        for left, right in splits
        if (name := name_of(left)) is not None and objects.names(name)
    ]
    if len(named) > 1:
        names = " and ".join(repr(name_of(left)) for left, _ in named)
        raise CommandError(f"{option} {text!r} is ambiguous: {names} each name an object")
    return named[0] if named else splits[0]


def set_target(text: str) -> str | None:
    """The name in the NAME.PROPERTY of --set, or None where text is not of that form."""
    name, dot, prop = text.rpartition(".")
    return name if dot and name and prop.isidentifier() else None


def utf8(text: str, what: str) -> str:
    """text, refused where it holds bytes of the command line that are not
    UTF-8 (Python's lone surrogates for them): a page holds UTF-8 text only."""
    try:
        text.encode("utf-8")
    except UnicodeEncodeError as error:
        raise CommandError(f"{what} {text!r} holds bytes that are not UTF-8") from error
    return text


class Objects:
    """The objects of one or more pages by name, found as a command line
    names them: NAME, or CLASS:NAME where several share the name, and, among
    several pages, PAGE:NAME or PAGE:CLASS:NAME where pages share it too."""

    def __init__(self, pages: Iterable[tuple[str, lumivex.PrpFile]]) -> None:
        self.by_name: dict[str, list[tuple[str, lumivex.PrpObject]]] = {}
        self.page_names: set[str] = set()
        for page_name, page in pages:
            self.page_names.add(page_name)
            for obj in page:
                self.by_name.setdefault(obj.name, []).append((page_name, obj))

    def names(self, text: str) -> bool:
        """Whether text names one object or more."""
        return text in self.by_name or bool(self.qualified(text)[1])

    def find(self, text: str) -> tuple[str, lumivex.PrpObject]:
        found = self.by_name.get(text, [])
        name = text
        if not found:
            name, found = self.qualified(text)
        if len(found) == 1:
            return found[0]
        if found:
            candidates = [self.candidate(item) for item in found]
            # Objects that share a page, a class and a name have no text of their own.
            inseparable = (
                "; objects of one class and name cannot be told apart"
                if len(set(candidates)) < len(candidates)
                else ""
            )
            raise CommandError(
                f"{text!r} names {len(found)} objects: {', '.join(candidates)}{inseparable}"
            )
        nearest = [
            self.candidate(item)
            for match in closest(name, self.by_name.keys())
            for item in self.by_name[match]
        ]
        hint = f"; closest: {', '.join(nearest)}" if nearest else ""
        raise CommandError(f"no object named {text!r}{hint}")

    def qualified(self, text: str) -> tuple[str, list[tuple[str, lumivex.PrpObject]]]:
        """The name and the objects text names with a page or class before
        it; the whole text and none when it names neither."""
        page_name: str | None = None
        rest = text
        if len(self.page_names) > 1:
            prefixes = [page for page in self.page_names if text.startswith(page + ":")]
            if prefixes:
                page_name = max(prefixes, key=len)
                rest = text[len(page_name) + 1 :]
        wanted: int | None = None
        prefix, colon, after = rest.partition(":")
        if colon and rest not in self.by_name:
            wanted = self.class_named(prefix)
            if wanted is not None:
                rest = after
        if page_name is None and wanted is None:
            return text, []
        return rest, [
            (found_page, obj)
            for found_page, obj in self.by_name.get(rest, [])
            if (page_name is None or found_page == page_name)
            and (wanted is None or obj.class_type == wanted)
        ]

    def candidate(self, item: tuple[str, lumivex.PrpObject]) -> str:
        """How a command line names the object: with its page's name where
        there are several pages, so that the text can be given back."""
        page_name, obj = item
        if len(self.page_names) > 1:
            return f"{printable_text(page_name)}:{object_text(obj)}"
        return object_text(obj)

    @staticmethod
    def class_named(text: str) -> int | None:
        try:
            return class_type(text)
        except ValueError:
            return None


@dataclass
class Edits:
    """What the command line asks of each object, found in the page."""

    renames: list[tuple[lumivex.PrpObject, str]] = field(default_factory=list)
    removes: list[lumivex.PrpObject] = field(default_factory=list)
    values: dict[lumivex.Key, tuple[lumivex.PrpObject, dict[str, object]]] = field(
        default_factory=dict
    )
    textures: list[tuple[lumivex.PrpObject, str]] = field(default_factory=list)

    def check_conflicts(self) -> None:
        renamed = Counter(obj.key for obj, _ in self.renames)
        for key, times in renamed.items():
            if times > 1:
                raise CommandError(f"{object_text(key)} is renamed twice")
        removed_keys = {obj.key for obj in self.removes}
        # Names change together: one may be taken from an object renamed too.
        taking: dict[tuple[int, int, str], lumivex.PrpObject] = {}
        for obj, new_name in self.renames:
            other = taking.setdefault((obj.key.location_sequence, obj.class_type, new_name), obj)
            if other is not obj:
                raise CommandError(
                    f"cannot rename {object_text(obj)}: {object_text(other)} is renamed "
                    f"{new_name!r} too"
                )
            holding = [
                held.key
                for held in obj.page.find(new_name, obj.class_type)
                if held.key not in renamed
            ]
            if holding:
                # References to a removed object would find the renamed one: a
                # change of meaning this edit does not make silently.
                hint = (
                    ", which this edit removes: references to it would find the renamed "
                    "object; remove it in an edit of its own first if that is meant"
                    if all(key in removed_keys for key in holding)
                    else ""
                )
                raise CommandError(
                    f"cannot rename {object_text(obj)}: the page already holds a "
                    f"{obj.class_name} named {new_name!r}{hint}"
                )
        retextured = Counter(obj.key for obj, _ in self.textures)
        for key, times in retextured.items():
            if times > 1:
                raise CommandError(f"{object_text(key)} is given two textures")
        removed = Counter(obj.key for obj in self.removes)
        for key, times in removed.items():
            if times > 1:
                raise CommandError(f"{object_text(key)} is removed twice")
        edited = set(renamed) | set(self.values) | set(retextured)
        for obj in self.removes:
            if obj.key in edited:
                raise CommandError(f"{object_text(obj)} is both removed and edited")
        # A reference set to an object removed at once would point at nothing.
        for obj, changes in self.values.values():
            for prop, value in changes.items():
                for item in value if isinstance(value, list) else [value]:
                    target = item.typed_value if isinstance(item, lumivex.PythonParam) else item
                    if isinstance(target, lumivex.Key) and target in removed_keys:
                        raise CommandError(
                            f"{object_text(obj)}.{prop} is set to {object_text(target)}, "
                            "which is removed"
                        )


def renamed_object(
    obj: lumivex.PrpObject, new_name: str, page_name: str | None = None
) -> lumivex.PrpObject:
    """obj, refused when it already has the name, or when the new name
    starts as the old one was qualified (CLASS:, PAGE:) and the old name does
    not: a rename to itself, or to a name that keeps its qualifier, is more
    likely a slip than a wish."""
    if obj.name == new_name:
        raise CommandError(f"cannot rename {object_text(obj)}: it already has that name")
    utf8(new_name, f"cannot rename {object_text(obj)}: the new name")
    for qualifier in filter(None, (page_name, obj.class_name)):
        prefix = f"{qualifier}:"
        if new_name.startswith(prefix) and not obj.name.startswith(prefix):
            raise CommandError(
                f"cannot rename {object_text(obj)} to {new_name!r}: the new name "
                f"is the name alone, without {prefix!r} before it"
            )
    return obj


# The words the command shows for floats Python has no literal for.
FLOAT_WORDS = {"nan": math.nan, "inf": math.inf}


class FloatWords(ast.NodeTransformer):
    """nan and inf as the floats they show."""

    def visit_Name(self, node: ast.Name) -> ast.AST:
        if node.id in FLOAT_WORDS:
            return ast.copy_location(ast.Constant(FLOAT_WORDS[node.id]), node)
        return node


def python_literal(text: str) -> object:
    """text as a Python literal, where nan and inf (-inf too) are the floats
    the command shows by them; ValueError or SyntaxError where it is none,
    CommandError for an integer too long for Python to read."""
    try:
        tree = ast.parse(text.lstrip(" \t"), mode="eval")
    except (ValueError, SyntaxError):
        if INTEGER.fullmatch(text):
            digits = sum(c.isdigit() for c in text)
            raise CommandError(
                f"an integer of {digits} digits is too large for any stored value"
            ) from None
        raise
    return ast.literal_eval(FloatWords().visit(tree))


def literal(text: str, objects: Objects) -> object:
    """A value of --set: a Python literal, a reference CLASS:NAME, or a list
    of references."""
    try:
        return python_literal(text)
    except (ValueError, SyntaxError, MemoryError, RecursionError):
        pass
    stripped = text.strip()
    if stripped.startswith("[") and stripped.endswith("]"):
        items = [item for item in stripped[1:-1].split(",") if item.strip()]
        return [list_item(item, objects) for item in items]
    return reference(text, objects)


def list_item(text: str, objects: Objects) -> object:
    """An item of a list holding bare references: a literal, else a reference."""
    try:
        return python_literal(text.strip())
    except (ValueError, SyntaxError, MemoryError, RecursionError):
        return reference(text, objects)


def property_value(
    view: Any, prop: str, value: object, objects: Objects, obj: lumivex.PrpObject
) -> object:
    """value as the property takes it: where it takes references, a quoted
    CLASS:NAME is a reference too, so that a list may hold names with commas;
    a script's parameters take their values in order, each of its kind."""
    if prop.endswith("_key") and isinstance(value, str):
        return quoted_reference(value, objects)
    if prop.endswith("_keys") and isinstance(value, (list, tuple)):
        return [
            quoted_reference(item, objects) if isinstance(item, str) else item for item in value
        ]
    if prop == "params" and isinstance(value, (list, tuple)) and value:
        return param_values(view.params, list(value), objects, obj)
    return value


def quoted_reference(text: str, objects: Objects) -> lumivex.Key:
    """A reference CLASS:NAME given as a quoted text: the quotes hold the
    name exactly, spaces at its ends included."""
    if not REFERENCE.fullmatch(text):
        raise CommandError(f"{text!r} is not a reference CLASS:NAME")
    return objects.find(text)[1].key


def param_values(
    params: list[lumivex.PythonParam],
    values: list[Any],
    objects: Objects,
    obj: lumivex.PrpObject,
) -> list[lumivex.PythonParam]:
    """The parameters with new values, one for each in order: each keeps its
    id and kind, and a Key parameter takes a reference."""
    if len(values) != len(params):
        raise CommandError(
            f"cannot set {object_text(obj)}.params: it holds {counted(len(params), 'parameter')}; "
            f"give as many values, not {len(values)}"
        )
    changed = []
    for position, (param, value) in enumerate(zip(params, values, strict=True)):
        if param.kind == "Key" and isinstance(value, str):
            value = quoted_reference(value, objects)
        try:
            changed.append(param.replace(typed_value=value))
        except (TypeError, ValueError, OverflowError) as error:
            raise CommandError(
                f"cannot set {object_text(obj)}.params[{position}] ({param.kind}): {error}"
            ) from error
    return changed


def reference(text: str, objects: Objects) -> lumivex.Key | None:
    """A reference CLASS:NAME, without the spaces around it but those a
    name ends with: they are kept where the text so names an object."""
    kept = text.lstrip()
    text = kept if objects.names(kept) else text.strip()
    if text == "None":
        return None
    if not REFERENCE.fullmatch(text):
        raise CommandError(f"{text!r} is neither a Python literal nor a reference CLASS:NAME")
    return objects.find(text)[1].key


def decoded(obj: lumivex.PrpObject) -> Any:
    decode = DECODERS.get(obj.class_name)
    if decode is None:
        raise CommandError(f"cannot change {object_text(obj)}: lumivex does not decode its class")
    try:
        return decode(obj)
    except (OSError, ValueError) as error:
        raise CommandError(f"cannot decode {object_text(obj)}: {error_text(error)}") from error


def texture_format(
    mipmap: lumivex.Mipmap, obj: lumivex.PrpObject
) -> Literal["dxt1", "dxt5", "argb"]:
    """The format of a texture, as --format names it."""
    stored: dict[tuple[int, int], Literal["dxt1", "dxt5", "argb"]] = {
        (1, 1): "dxt1",
        (1, 5): "dxt5",
        (0, 0): "argb",
    }
    found = stored.get((mipmap.compression_type, mipmap.dxt_type))
    if found is None:
        raise CommandError(f"{object_text(obj)} has a format --format does not name: give one")
    return found


def page_edits(args: argparse.Namespace, objects: Objects) -> Edits:
    edits = Edits()
    for text in args.rename:
        old, new = split_pair(text, "--rename", "OLD=NEW", objects)
        edits.renames.append((renamed_object(objects.find(old)[1], new), new))
    edits.removes = [objects.find(name)[1] for name in args.remove]
    for text in args.values:
        target, value = split_pair(text, "--set", "NAME.PROPERTY=VALUE", objects, set_target)
        name, dot, prop = target.rpartition(".")
        if not dot or not name or not prop:
            raise CommandError(f"--set takes NAME.PROPERTY=VALUE, not {text!r}")
        obj = objects.find(name)[1]
        check_settable(decoded(obj), prop, obj)
        changes = edits.values.setdefault(obj.key, (obj, {}))[1]
        if prop in changes:
            raise CommandError(f"{object_text(obj)}.{prop} is set twice")
        utf8(value, f"cannot set {object_text(obj)}.{prop}:")
        changes[prop] = property_value(decoded(obj), prop, literal(value, objects), objects, obj)
    for text in args.texture:
        name, image = split_pair(text, "--texture", "NAME=IMAGE", objects)
        obj = objects.find(name)[1]
        if obj.class_name != MIPMAP:
            raise CommandError(f"{object_text(obj)} is not a texture ({MIPMAP})")
        edits.textures.append((obj, image))
    edits.check_conflicts()
    return edits


def check_settable(view: Any, prop: str, obj: lumivex.PrpObject) -> None:
    """Refuses a property --set cannot change, saying which it can."""
    names = settable(type(view))
    if prop in names:
        return
    if prop == "name":
        raise CommandError(f"cannot set {object_text(obj)}.name: rename it with --rename")
    kind = type(view).__name__
    reason = (
        "is not stored as itself, or must agree with other stored data"
        if isinstance(getattr(type(view), prop, None), types.GetSetDescriptorType)
        else f"is not a property of {kind}"
    )
    if names:
        can = f"it can set {', '.join(names)}"
    elif obj.class_name == MIPMAP:
        can = "a texture changes only by a new image: --texture NAME=IMAGE"
    else:
        can = f"nothing of a {kind} can be set"
    raise CommandError(f"cannot set {object_text(obj)}.{prop}: {prop} {reason}; {can}")


def new_view(view: Any, changes: dict[str, object], obj: lumivex.PrpObject) -> Any:
    try:
        return view.replace(**changes)
    except (TypeError, ValueError, OverflowError) as error:
        raise CommandError(f"cannot set {object_text(obj)}: {error}") from error


def new_texture(
    obj: lumivex.PrpObject, image: str, wanted: Literal["dxt1", "dxt5", "argb"] | None
) -> lumivex.Mipmap:
    old = decoded(obj)
    assert isinstance(old, lumivex.Mipmap)
    format_name = wanted or texture_format(old, obj)
    try:
        return lumivex.Mipmap.from_image(obj.name, image, format=format_name)
    except ImportError as error:
        raise CommandError("textures from images need Pillow: pip install Pillow") from error
    except (OSError, ValueError) as error:
        # The image is named once: the system's failure starts with its path,
        # Pillow's ends with it.
        reason = error_text(error).removeprefix(f"{image}: ").removesuffix(f" {image!r}")
        raise CommandError(f"cannot make {object_text(obj)} from {image}: {reason}") from error


def unsearched_warning(count: int, old: str) -> list[str]:
    """The warning that a rename may have missed references, if it may."""
    if not count:
        return []
    return [
        f"lumivex: warning: {counted(count, 'object')} may still refer to {old}: "
        f"{'it holds' if count == 1 else 'they hold'} its name where lumivex reads no reference "
        "(of a class it does not decode, in bytes that do not decode, or as a text)"
    ]


def edit_page(page: lumivex.PrpFile, args: argparse.Namespace) -> int:
    if args.output is None and not is_regular_file(args.path):
        raise CommandError(f"{args.path} is not a regular file: give -o OUT for the edited page")
    objects = Objects([(page.page_name, page)])
    edits = page_edits(args, objects)
    builder = lumivex.PageBuilder.from_page(page)
    # Shown once every edit has worked, so that a failure prints only itself.
    done: list[dict[str, object]] = []
    warnings: list[str] = []
    changed_objects = 0
    for obj, changes in edits.values.values():
        view = decoded(obj)
        changed = new_view(view, changes, obj)
        # An object whose bytes stay is left as it was read.
        if changed.to_bytes() != view.to_bytes():
            builder.set(obj, changed)
            changed_objects += 1
        for prop in changes:
            before, after = getattr(view, prop), getattr(changed, prop)
            done.append(
                {
                    "action": "set",
                    "object": obj,
                    "property": prop,
                    "before": before,
                    "after": after,
                    # The texts tell -0.0 from 0.0; the values tell keys apart by more than names.
                    "changed": shown(before) != shown(after) or before != after,
                }
            )
    for obj, image in edits.textures:
        mipmap = new_texture(obj, image, args.format)
        builder.set(obj, mipmap)
        done.append(
            {
                "action": "texture",
                "object": obj,
                "image": image,
                "width": mipmap.width,
                "height": mipmap.height,
                "num_levels": mipmap.num_levels,
            }
        )
    try:
        renamed = builder.rename_all(edits.renames)
    except ValueError as error:
        raise CommandError(f"cannot rename: {error}") from error
    for (obj, new_name), (_, rewritten, unsearched) in zip(edits.renames, renamed, strict=True):
        done.append(
            {"action": "rename", "object": obj, "new_name": new_name, "reference_count": rewritten}
        )
        warnings += unsearched_warning(unsearched, object_text(obj))
    for obj in edits.removes:
        builder.remove(obj)
    output = args.output or args.path
    if page.lost_keys:
        if is_same_file(output, args.path):
            raise CommandError(
                f"{lost_keys_text(page, args.path)} an edit would drop: give -o OUT to write "
                "the edited page to another file"
            )
        warnings.append(
            f"lumivex: warning: {lost_keys_text(page, args.path)} "
            f"{'is' if page.lost_keys == 1 else 'are'} not in the edited page"
        )
    messages = messages_beside(output)
    counts = {
        "renamed_count": len(edits.renames),
        "removed_count": len(edits.removes),
        "changed_count": changed_objects,
        "retextured_count": len(edits.textures),
    }
    edited = builder.build()
    dangling = dangling_references(edited, edits.removes) if edits.removes else Counter()
    for obj in edits.removes:
        done.append(
            {
                "action": "remove",
                "object": obj,
                "dangling_reference_count": dangling[removed_key(obj.key)],
            }
        )
    data = edited.to_bytes()
    for warning in warnings:
        print(warning, file=sys.stderr)
    replace_file(output, data, dry_run=args.dry_run)
    if args.json:
        print_json(
            {
                "page": args.path,
                "output": output,
                "written": not args.dry_run,
                **counts,
                "edits": [edit_json(edit) for edit in done],
            },
            messages,
        )
        return 0
    print("\n".join(edit_text(edit) for edit in done), file=messages)
    summary = ", ".join(
        f"{counted(n, 'object')} {name.removesuffix('_count')}" for name, n in counts.items() if n
    )
    summary = summary or "no object changed"
    ending = "nothing written (dry run)" if args.dry_run else f"written to {output}"
    print(f"{summary}; {ending}", file=messages)
    return 0


def removed_key(key: lumivex.Key) -> tuple[int, int, str]:
    """What a reference to a removed object has in common with its key: its
    location, class and name (a reference's id is not compared)."""
    return key.location_sequence, key.class_type, key.name


def dangling_references(
    edited: lumivex.PrpFile, removed: list[lumivex.PrpObject]
) -> Counter[tuple[int, int, str]]:
    """The references of the edited page that find nothing where a removed
    object was, by the removed object's key: those a value set by the same
    edit dropped are not counted."""
    wanted = {removed_key(obj.key) for obj in removed}
    counts: Counter[tuple[int, int, str]] = Counter()
    for _, _, status, _, key, _ in ReferenceWalk([edited], True).listed():
        # "outside" where the page's keys and its header disagree on its location.
        if status in ("missing", "outside") and key is not None and removed_key(key) in wanted:
            counts[removed_key(key)] += 1
    return counts


def edit_text(edit: dict[str, Any]) -> str:
    """The line an edit of a page is told by."""
    action, obj = edit["action"], object_text(edit["object"])
    if action == "set":
        before, after = shown(edit["before"]), shown(edit["after"])
        line = f"set {obj} {edit['property']}: {before}"
        if before != after:
            return f"{line} -> {after}"
        return f"{line} (the same names, other keys)" if edit["changed"] else f"{line} (unchanged)"
    if action == "texture":
        levels = counted(edit["num_levels"], "level")
        return f"texture {obj}: {edit['image']}, {edit['width']}x{edit['height']}, {levels}"
    if action == "rename":
        references = counted(edit["reference_count"], "reference")
        return f"renamed {obj} to {printable_text(edit['new_name'])} and {references} to it"
    dangling = edit["dangling_reference_count"]
    if dangling:
        return f"removed {obj}, leaving {counted(dangling, 'reference')} to it pointing at nothing"
    return f"removed {obj}"


def edit_json(edit: dict[str, Any]) -> dict[str, object]:
    """An edit of a page as --json shows it: the object as its key."""
    return {**edit, "object": key_json(edit["object"].key)}


def lost_keys_text(page: lumivex.PrpFile, path: str) -> str:
    """The keys a page's index lost, whose objects no edit of the page keeps."""
    return (
        f"{path}: its index lost {counted(page.lost_keys, 'key')} that it announced, whose "
        f"{'object' if page.lost_keys == 1 else 'objects'}"
    )


def is_same_file(path: str, other: str) -> bool:
    try:
        return os.path.samefile(path, other)
    except OSError:
        return False


def is_regular_file(path: str) -> bool:
    """Whether path leads to a regular file, which a page can be saved over
    (not a pipe it was read from, say)."""
    try:
        return stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return False


def shown(value: object) -> str:
    if isinstance(value, lumivex.Key):
        return f"{value.class_name}:{printable_text(value.name)}"
    if isinstance(value, list):
        return "[" + ", ".join(shown(item) for item in value) + "]"
    return value_text(value)


def rename_in_age(age: Age, args: argparse.Namespace) -> int:
    pages = age.loaded_pages()
    for name, page in age.pages.items():
        if not isinstance(page, lumivex.PrpFile):
            print(
                printable_text(
                    f"lumivex: warning: page {name} is not searched: {page.reason}", keep_bytes=True
                ),
                file=sys.stderr,
            )
    objects = Objects(pages)
    renames = []
    for text in args.rename:
        old, new = split_pair(text, "--rename", "OLD=NEW", objects)
        owner, obj = objects.find(old)
        renames.append((owner, renamed_object(obj, new, owner), new))
    Edits(renames=[(obj, new) for _, obj, new in renames]).check_conflicts()
    builders: dict[str, lumivex.PageBuilder] = {}
    changed: list[str] = []
    # Shown once every rename has worked, so that a failure prints only itself.
    done: list[dict[str, Any]] = []
    warnings: list[str] = []
    # Each page is searched once for every rename: its own objects are
    # renamed, and references to the others' followed. The counts are added
    # up page by page: nothing is kept for each page and rename.
    keys = [(obj.key, new) for _, obj, new in renames]
    own_references = [0] * len(renames)
    other_references = [0] * len(renames)
    other_pages = [0] * len(renames)
    unsearched = [0] * len(renames)
    for page_name, page in pages:
        location = page.header.sequence_number
        for owner, obj, _ in renames:
            if owner != page_name and obj.key.location_sequence == location:
                raise CommandError(
                    f"cannot rename {object_text(obj)}: page {printable_text(page_name)} has the "
                    f"location of page {printable_text(owner)}, so their references cannot be told apart"
                )
        builder = lumivex.PageBuilder.from_page(page)
        try:
            found = builder.rename_all(keys)
        except ValueError as error:
            raise CommandError(f"cannot rename: {error}") from error
        for position, ((owner, _, _), (_, rewritten, may_refer)) in enumerate(
            zip(renames, found, strict=True)
        ):
            unsearched[position] += may_refer
            if owner == page_name:
                own_references[position] = rewritten
            else:
                other_references[position] += rewritten
                other_pages[position] += bool(rewritten)
        if any(owner == page_name for owner, _, _ in renames) or builder.rewritten:
            builders[page_name] = builder
            changed.append(page_name)
    for position, (owner, obj, new_name) in enumerate(renames):
        done.append(
            {
                "page": owner,
                "object": key_json(obj.key),
                "new_name": new_name,
                "own_page_reference_count": own_references[position],
                "reference_count": other_references[position],
                "other_page_count": other_pages[position],
            }
        )
        warnings += unsearched_warning(unsearched[position], object_text(obj))
    files = []
    loaded = dict(pages)
    for page_name in changed:
        path = age.page_path(page_name)
        assert path is not None
        if loaded[page_name].lost_keys:
            raise CommandError(
                f"{lost_keys_text(loaded[page_name], path)} the rename would drop; nothing was written"
            )
        files.append((path, builders[page_name].build().to_bytes()))
    for warning in warnings:
        print(warning, file=sys.stderr)
    # A dry run checks the pages as the save would, so that it refuses what the save refuses.
    lumivex.save_files(files, in_place=args.in_place, dry_run=args.dry_run)
    paths = [path for path, _ in files]
    shown_paths = ", ".join(printable_text(path, keep_bytes=True) for path in paths)
    if args.json:
        print_json({"age": args.path, "written": not args.dry_run, "renames": done, "pages": paths})
        return 0
    for rename in done:
        print(
            f"renamed {rename['object']['class_name']}:{printable_text(rename['object']['name'])} "
            f"to {printable_text(rename['new_name'])} in page {printable_text(rename['page'])}; "
            f"{counted(rename['own_page_reference_count'], 'reference')} in its page and "
            f"{counted(rename['reference_count'], 'reference')} in "
            f"{counted(rename['other_page_count'], 'other page')}"
        )
    if args.dry_run:
        print(f"{counted(len(files), 'page')} to write: {shown_paths}; nothing written (dry run)")
    else:
        print(f"{counted(len(files), 'page')} written: {shown_paths}")
    return 0


def run(args: argparse.Namespace) -> int:
    if not (args.rename or args.remove or args.texture or args.values):
        return report("nothing to do: give --rename, --remove, --texture or --set", 2)
    if args.format and not args.texture:
        return report("--format goes with --texture", 2)
    if args.output == "":
        return report("-o takes a file name, not ''", 2)
    try:
        target = opened(args.path)
    except IsADirectoryError:
        target = load_page(args.path)
    except ValueError as error:
        raise CommandError(str(error)) from error
    if isinstance(target, Age):
        for option, given in (
            ("--remove", args.remove),
            ("--texture", args.texture),
            ("--set", args.values),
            ("-o", args.output),
        ):
            if given:
                raise CommandError(f"{option} needs a page; an age takes --rename only")
        return rename_in_age(target, args)
    if args.in_place:
        return report(
            "--in-place goes with an age; a page is written in place where a new file cannot "
            "replace it",
            2,
        )
    return edit_page(target, args)
