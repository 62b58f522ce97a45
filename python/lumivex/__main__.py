"""python -m lumivex: the lumivex command."""

import sys

from lumivex.cli import main

sys.exit(main())
