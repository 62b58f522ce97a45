"""lumivex Python module."""

from lumivex import _lumivex
from lumivex._lumivex import *  # noqa: F403 - the module's classes and functions, its __all__
from lumivex.age import Age
from lumivex.diff import Change, diff

__version__ = "0.1.0"

__all__ = [*_lumivex.__all__, "Age", "Change", "diff"]
