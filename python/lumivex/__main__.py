"""python -m lumivex: the lumivex command."""

import sys

from lumivex.cli import main

if __name__ == "__main__":
    sys.exit(main())
