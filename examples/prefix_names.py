"""Give every object of an age a prefix to its name, every reference to it
across the age following, and write the changed pages as one change.

Usage: python examples/prefix_names.py AGE.age PREFIX
"""

import sys

import lumivex


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print("Usage: python examples/prefix_names.py AGE.age PREFIX", file=sys.stderr)
        return 2
    prefix = argv[2]
    try:
        age = lumivex.Age.open(argv[1])
        pages = age.loaded_pages()
        renames = {
            obj.key: prefix + obj.name
            for _, page in pages
            for obj in page
            if not obj.name.startswith(prefix)
        }
        files: list[tuple[str, bytes]] = []
        unsearched = 0
        for page_name, page in pages:
            path = age.page_path(page_name)
            if path is None:
                continue
            # One pass over the page for all the renames: its own objects
            # are renamed, and its references to the others follow them.
            builder = lumivex.PageBuilder.from_page(page)
            builder.rename_all(renames)
            unsearched += builder.unsearched
            files.append((path, builder.build().to_bytes()))
        lumivex.save_files(files)
    except (OSError, ValueError) as error:
        print(f"prefix_names: {error}", file=sys.stderr)
        return 1
    print(f"{len(renames)} objects renamed in {len(files)} pages")
    if unsearched:
        print(f"{unsearched} objects may still hold an old name where no reference was read")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
