"""The extension module's start-up: its names, its docstring and its exception types."""

import json
import pathlib
import subprocess
import sys

import pytest

import remitrax
from remitrax import _core

PARSE_ERROR_DOC = (
    "Input that cannot be indexed: its delimiters cannot be read or it exceeds the size "
    "limit; the message says what was found and where."
)
SPEC_ERROR_DOC = (
    "A spec that cannot be loaded or patched; the message names the rule, the loop and "
    "key, and the datum."
)


NAMES = [
    "ParseError",
    "SpecError",
    "Diagnostic",
    "Delimiters",
    "Document",
    "Segment",
    "Result",
    "Spec",
    "Batch",
    "Stream",
    "Table",
    "Tables",
    "_external_diagnostic",
    "parse",
    "stream",
    "TABULON_PATCH",
]


def test_module_lists_its_names_in_order():
    assert _core.__all__ == NAMES
    assert remitrax.__all__ == _core.__all__
    for name in _core.__all__:
        assert name in dir(_core)
        assert getattr(remitrax, name) is getattr(_core, name)


def test_module_docstring_and_contents():
    assert _core.__doc__ == "The `remitrax._core` extension module."
    assert _core.__name__ == "remitrax._core"
    public = {name for name in dir(_core) if not name.startswith("__")}
    assert public == set(_core.__all__)


@pytest.mark.parametrize(
    ("name", "doc"), [("ParseError", PARSE_ERROR_DOC), ("SpecError", SPEC_ERROR_DOC)]
)
def test_exception_types(name, doc):
    exc = getattr(_core, name)
    assert exc.__module__ == "remitrax"
    assert exc.__name__ == name
    assert exc.__qualname__ == name
    assert exc.__doc__ == doc
    assert issubclass(exc, ValueError)
    assert exc.__bases__ == (ValueError,)
    with pytest.raises(ValueError, match="^what went wrong$") as caught:
        raise exc("what went wrong")
    assert caught.value.args == ("what went wrong",)


def test_the_compatibility_patch_is_carried_as_written():
    patch = _core.TABULON_PATCH
    assert (len(patch), patch.count("\n"), patch[:2]) == (5925, 118, "{\n")
    assert patch.isascii()
    assert sorted(json.loads(patch)) == ["name", "segments", "tables"]
    # It loads over the built-in spec.
    assert repr(remitrax.Spec.builtin().patch(patch)).startswith("Spec(")


STUB = pathlib.Path(remitrax.__file__).with_name("_core.pyi")


def test_the_stub_lists_the_public_names_and_no_setter():
    stub = STUB.read_text()
    listed = stub[stub.index("__all__ = [") : stub.index("]", stub.index("__all__ = ["))]
    assert [line.strip().strip('",') for line in listed.splitlines()[1:]] == NAMES
    assert "    __hash__: typing.ClassVar[None]  # type: ignore[assignment]\n" in stub
    assert ".setter" not in stub and "@property" in stub
    assert (STUB.parent / "py.typed").exists()


def test_the_entry_point_is_the_only_exported_symbol():
    listed = subprocess.run(
        ["nm", "-D", "--defined-only", _core.__file__], capture_output=True, text=True, check=True
    )
    assert [line.split()[-1] for line in listed.stdout.splitlines()] == ["PyInit__core"]


def test_second_import_adds_the_same_exception_types():
    first = (_core.ParseError, _core.SpecError)
    saved = sys.modules.pop("remitrax._core")
    try:
        import importlib

        again = importlib.import_module("remitrax._core")
        assert again is not saved
        assert again.__all__ == NAMES
        assert (again.ParseError, again.SpecError) == first
    finally:
        sys.modules["remitrax._core"] = saved
