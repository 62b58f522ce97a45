"""Print a page's header, its object count and its objects counted by class.

Usage: python examples/inspect_page.py PAGE.prp
"""

import sys

import lumivex


def main(argv: list[str]) -> int:
    if len(argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    try:
        page = lumivex.PrpFile.load(argv[1])
    except OSError as error:
        print(f"inspect_page: {error}", file=sys.stderr)
        return 1
    header = page.header
    print(repr(header))
    print(f"  sequence number  0x{header.sequence_number:08X}")
    print(f"  major version    {header.major_version}")
    print(f"  data start       {header.data_start}")
    print(f"  index start      {header.index_start}")
    print(f"objects: {len(page)}")
    for name, count in sorted(page.count_by_type().items()):
        print(f"  {count:6d}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
