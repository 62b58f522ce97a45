"""The include check over src/ passes on the tree and catches what breaks the
layers."""

from scripts import check_layers


def test_the_tree_keeps_its_layers():
    assert check_layers.problems() == []


def test_breaking_includes_are_reported(tmp_path):
    files = {
        "core/stream.h": '#include "resource/prp/page.h"\n',
        "resource/prp/page.h": '#include "bindings/py_class.h"\n#include "core/stream.h"\n',
        "sdl/descriptor.cpp": '#include <Python.h>\n#include "age/description.h"\n',
        "bindings/module.cpp": '#include "sdl/descriptor.h"\n#include <Python.h>\n',
        "extra/x.h": "",
    }
    for name, text in files.items():
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(text)
    assert check_layers.problems(tmp_path) == [
        "core/stream.h: core includes resource/prp/page.h",
        "extra/x.h: folder 'extra' has no place in the layers",
        "resource/prp/page.h: resource includes bindings/py_class.h",
        "sdl/descriptor.cpp: includes Python.h outside src/bindings",
        "sdl/descriptor.cpp: sdl includes age/description.h",
    ]
