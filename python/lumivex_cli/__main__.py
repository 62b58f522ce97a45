"""python -m lumivex_cli: the lumivex command."""

import sys

from lumivex_cli import main

sys.exit(main())
