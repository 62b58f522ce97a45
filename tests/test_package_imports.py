"""The package's imports: the library below its two front ends, the command
(lumivex.cli) and the server (lumivex.web), and no module that imports
itself back through others."""

import ast
from pathlib import Path

import pytest

PACKAGE = Path(__file__).resolve().parent.parent / "python" / "lumivex"
FRONT_ENDS = ("lumivex.cli", "lumivex.web", "lumivex.__main__")


def module_name(path):
    parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def is_within(name, package):
    return name == package or name.startswith(package + ".")


def imports_of(path, modules):
    """Each module of the package the file imports, with the names it takes
    from it (None for the module itself), wherever the import statement is."""
    name = module_name(path)
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    found = {}
    for node in ast.walk(ast.parse(path.read_text(), str(path))):
        if isinstance(node, ast.Import):
            for alias in node.names:
                found.setdefault(alias.name, set()).add(None)
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                anchor = package.rsplit(".", node.level - 1)[0] if node.level > 1 else package
                base = f"{anchor}.{base}" if base else anchor
            for alias in node.names:
                if f"{base}.{alias.name}" in modules:
                    found.setdefault(f"{base}.{alias.name}", set()).add(None)
                elif base != name:
                    found.setdefault(base, set()).add(alias.name)
    return {target: names for target, names in found.items() if target in modules}


def import_graph():
    paths = {module_name(path): path for path in PACKAGE.rglob("*.py")}
    return {name: imports_of(path, paths) for name, path in paths.items()}


GRAPH = import_graph()


def cycle_from(start):
    """A path of imports from a module back to itself, or None."""
    stack = [(start, [start])]
    seen = set()
    while stack:
        module, path = stack.pop()
        for target in GRAPH[module]:
            if target == start:
                return [*path, start]
            if target not in seen:
                seen.add(target)
                stack.append((target, [*path, target]))
    return None


def test_the_graph_holds_the_whole_package():
    assert {"lumivex", "lumivex.cli", "lumivex.cli.scan", "lumivex.web.app"} <= set(GRAPH)
    assert "lumivex.shapes" in GRAPH["lumivex.web.api"]
    assert "lumivex.cli.common" in GRAPH["lumivex.cli.page"]


@pytest.mark.parametrize("module", sorted(GRAPH))
def test_no_module_imports_itself_through_others(module):
    assert cycle_from(module) is None


def test_the_library_imports_no_front_end():
    library = [name for name in GRAPH if not any(is_within(name, end) for end in FRONT_ENDS)]
    assert "lumivex.age" in library and "lumivex.shapes" in library
    wrong = {
        (name, target)
        for name in library
        for target in GRAPH[name]
        if any(is_within(target, end) for end in FRONT_ENDS)
    }
    assert wrong == set()


def test_the_server_does_not_import_the_command():
    wrong = set()
    for name, targets in GRAPH.items():
        if not is_within(name, "lumivex.web"):
            continue
        for target in targets:
            if is_within(target, "lumivex.cli"):
                wrong.add((name, target))
    assert wrong == set()


def test_the_command_imports_the_server_only_to_start_it():
    importers = {
        name
        for name, targets in GRAPH.items()
        if is_within(name, "lumivex.cli") and any(is_within(t, "lumivex.web") for t in targets)
    }
    assert importers == {"lumivex.cli.serve"}
