"""lumivex info, ls, show and roundtrip: a page's header, its objects, the
decoded views of some of them, and a page saved again."""

from __future__ import annotations

import argparse

import lumivex
from lumivex.classes import DECODERS, decode_failure
from lumivex.cli.common import CommandError, load_page, report
from lumivex.cli.output import fields, print_json, table
from lumivex.errors import error_text
from lumivex.shapes import (
    closest,
    counted,
    header_value_text,
    indexed,
    info_json,
    ls_json,
    printable_text,
    properties,
    show_json,
    value_text,
)


def info_text(path: str, page: lumivex.PrpFile) -> str:
    header = page.header
    lines = [
        printable_text(path, keep_bytes=True),
        fields(
            [
                ("age", header.age_name),
                ("page", header.page_name),
                ("version", header.version),
                ("sequence number", header_value_text("sequence_number", header.sequence_number)),
                ("flags", header_value_text("flags", header.flags)),
                ("major version", header.major_version),
                ("checksum", header_value_text("checksum", header.checksum)),
                ("data start", header.data_start),
                ("index start", header.index_start),
                ("objects", len(page)),
                ("lost keys", page.lost_keys),
            ]
        ),
    ]
    classes = sorted(page.count_by_type().items())
    if classes:
        lines += ["", table([(count, name) for name, count in classes], ("COUNT", "CLASS"))]
    return "\n".join(lines)


def run_info(args: argparse.Namespace) -> int:
    """Each page in turn; one that fails to load is reported and the others
    are still shown."""
    shown: list[dict[str, object]] = []
    errors = []
    printed = 0
    for path in args.pages:
        try:
            page = load_page(path)
        except (CommandError, OSError) as error:
            report(error_text(error), 1)
            errors.append({"page": path, "error": error_text(error)})
            continue
        if args.json:
            shown.append(info_json(path, page))
            continue
        if printed:
            print()
        print(info_text(path, page))
        printed += 1
    if args.json:
        print_json({"page_count": len(shown), "pages": shown, "errors": errors})
    return 1 if errors else 0


def run_ls(args: argparse.Namespace) -> int:
    page = load_page(args.page)
    if args.json:
        print_json(ls_json(args.page, page, args.class_type))
        return 0
    rows = [
        (obj.class_name, obj.name, obj.object_id, obj.data_len)
        for _, obj in indexed(page, args.class_type)
    ]
    if rows:
        print(table(rows, ("CLASS", "NAME", "ID", "BYTES")))
    return 0


def run_show(args: argparse.Namespace) -> int:
    page = load_page(args.page)
    named = [(index, obj) for index, obj in indexed(page, args.class_type) if obj.name == args.name]
    if not named:
        of_class = (
            "" if args.class_type is None else f" of class {lumivex.class_name(args.class_type)}"
        )
        names = {obj.name for _, obj in indexed(page, args.class_type)}
        near = closest(args.name, names)
        hint = f"; closest: {', '.join(map(repr, near))}" if near else ""
        raise CommandError(f"no object named {args.name!r}{of_class} in {args.page}{hint}")
    decodable = [(index, obj) for index, obj in named if obj.class_name in DECODERS]
    if not decodable:
        classes = ", ".join(sorted({obj.class_name for _, obj in named}))
        raise CommandError(f"{args.name!r} is a {classes}, which lumivex does not decode")
    shown = []
    for index, obj in decodable:
        try:
            view = DECODERS[obj.class_name](obj)
        except (OSError, ValueError) as error:
            raise CommandError(decode_failure(obj, error)) from error
        shown.append((index, obj, properties(view)))
    if args.json:
        print_json(show_json(args.page, shown))
        return 0
    for number, (_, obj, values) in enumerate(shown):
        if number:
            print()
        print(f"{obj.class_name} {obj.name!r} (object id {obj.object_id})")
        print(fields([(name, value_text(value)) for name, value in values.items()]))
    return 0


def run_roundtrip(args: argparse.Namespace) -> int:
    page = load_page(args.page)
    with open(args.page, "rb") as original_file:
        original = original_file.read()
    page.save(args.output)
    with open(args.output, "rb") as written_file:
        written = written_file.read()
    identical = written == original
    first = None
    if not identical:
        first = next(
            (i for i, (a, b) in enumerate(zip(original, written, strict=False)) if a != b),
            min(len(original), len(written)),
        )
    if args.json:
        print_json(
            {
                "page": args.page,
                "output": args.output,
                "identical": identical,
                "input_size": len(original),
                "output_size": len(written),
                "first_difference": first,
            }
        )
    elif identical:
        print(f"{args.output}: byte-identical to {args.page} ({counted(len(written), 'byte')})")
    else:
        print(
            f"{args.output}: differs from {args.page}: input {counted(len(original), 'byte')}, "
            f"output {counted(len(written), 'byte')}, first difference at byte {first}"
        )
    return 0 if identical else 1
