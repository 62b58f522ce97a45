"""lumivex serve without the web extra: the command says what to install,
and every other command starts without it."""

import subprocess
import sys
from pathlib import Path

import pytest

from fixtures.extras import WEB_MODULES, needs_web

SAMPLES = Path(__file__).resolve().parent.parent / "samples"


# The one package hidden must be the only one missing.
@needs_web
@pytest.mark.parametrize("missing", WEB_MODULES)
def test_serve_names_the_extra_it_needs(missing):
    code = (
        f"import sys; sys.modules[{missing!r}] = None\n"
        "from lumivex.cli import main\n"
        f"sys.exit(main(['serve', {str(SAMPLES / 'Demo.age')!r}, '--port', '0']))\n"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    assert done.stderr == f'lumivex: lumivex serve needs {missing}: pip install "lumivex[web]"\n'


def test_other_commands_start_without_it():
    code = (
        "import sys\n"
        "from lumivex.cli import main\n"
        f"main(['info', {str(SAMPLES / 'Demo_District_Town.prp')!r}])\n"
        "assert not {'starlette', 'jinja2', 'uvicorn', 'lumivex.web'} & set(sys.modules)\n"
    )
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
