"""Every function and method the extension defines has the signature its stub gives."""

import ast
import inspect
from pathlib import Path

import lumivex
import pytest
from lumivex import _lumivex

STUB = Path(lumivex.__file__).parent / "_lumivex.pyi"


def decorators(node):
    return {
        d.id if isinstance(d, ast.Name) else getattr(d, "attr", "") for d in node.decorator_list
    }


def stub_parameters(node, bound):
    """(name, has a default) for each parameter, without self."""
    args = node.args
    positional = args.posonlyargs + args.args
    defaults = [False] * (len(positional) - len(args.defaults)) + [True] * len(args.defaults)
    listed = [(a.arg, d) for a, d in zip(positional, defaults, strict=True)]
    listed += [
        (a.arg, d is not None) for a, d in zip(args.kwonlyargs, args.kw_defaults, strict=True)
    ]
    return listed[1:] if bound else listed


def stubbed():
    tree = ast.parse(STUB.read_text())
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            yield node.name, node, False
        elif isinstance(node, ast.ClassDef) and "type_check_only" not in decorators(node):
            for member in node.body:
                if not isinstance(member, ast.FunctionDef) or member.name.startswith("__"):
                    continue
                if decorators(member) & {"property", "overload"}:
                    continue
                yield f"{node.name}.{member.name}", member, "staticmethod" not in decorators(member)


STUBBED = list(stubbed())


def runtime(qualified):
    owner, _, name = qualified.rpartition(".")
    return getattr(getattr(_lumivex, owner) if owner else _lumivex, name)


def runtime_parameters(function, bound):
    parameters = list(inspect.signature(function).parameters.values())
    listed = [(p.name, p.default is not inspect.Parameter.empty) for p in parameters]
    # A class method taken from its class is bound to it already.
    return (
        listed[1:]
        if bound and not isinstance(getattr(function, "__self__", None), type)
        else listed
    )


@pytest.mark.parametrize("qualified, node, bound", STUBBED, ids=[q for q, _, _ in STUBBED])
def test_runtime_signature_matches_the_stub(qualified, node, bound):
    assert runtime_parameters(runtime(qualified), bound) == stub_parameters(node, bound)


def test_every_function_and_method_is_checked():
    assert len(STUBBED) > 30
    assert {
        "PrpFile.find",
        "PrpFile.from_buffer",
        "SdlFile.versions",
        "Mipmap.to_image",
        "enable_logging",
    } <= {q for q, _, _ in STUBBED}
