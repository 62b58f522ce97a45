"""The module in an interpreter of its own, with its own lock, where Python has them."""

import pytest

interpreters = pytest.importorskip(
    "_interpreters", reason="interpreters of their own need Python 3.13"
)

IN_INTERPRETER = """
import sys
sys.path[:0] = {path!r}
import lumivex
page = lumivex.PrpFile.load({page!r})
assert [o.name for o in page.find("LampGlass")] == ["LampGlass"]
assert lumivex.PrpFile.from_bytes(page.to_bytes()).page_name == "Town"
try:
    lumivex.enable_logging()
except RuntimeError:
    pass
else:
    raise AssertionError("logging enabled outside the main interpreter")
"""


def test_pages_load_in_an_isolated_interpreter():
    import sys
    from pathlib import Path

    import lumivex

    page = str(Path(__file__).resolve().parent.parent / "samples/Demo_District_Town.prp")
    package_path = [str(Path(lumivex.__file__).parent.parent), *sys.path]
    interpreter = interpreters.create()
    try:
        assert (
            interpreters.run_string(
                interpreter, IN_INTERPRETER.format(path=package_path, page=page)
            )
            is None
        )
    finally:
        interpreters.destroy(interpreter)
