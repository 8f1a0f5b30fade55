"""Diagnostic and _external_diagnostic."""

import pytest

import remitrax
from conftest import ISA

external = remitrax._external_diagnostic


@pytest.fixture(scope="module")
def findings():
    # A wrong SE count (SNIP 1) and an invalid date (SNIP 2).
    data = (
        ISA
        + b"GS*HP*S*R*20261201*1200*1*X*005010X221A1~ST*835*0001~"
        + b"BPR*I*1*C*ACH*CCP*01*1*DA*1*1**01*1*DA*1*20261399~SE*9*0001~GE*1*1~IEA*1*000000001~"
    )
    return remitrax.parse(data).diagnostics


def test_own_findings_read_back_every_field(findings):
    by_kind = {d.kind: d for d in findings}
    date = by_kind["TypeMismatch"]
    assert (date.level, date.origin, date.code) == (2, "remitrax", None)
    assert (date.segment, date.element, date.component) == (3, 16, None)
    assert date.path == "interchange#1/group#1/transaction#1"
    assert date.datum == b"20261399"
    assert date.rule in str(date)
    assert str(date).startswith("SNIP 2 · ")
    assert repr(date) == (
        "Diagnostic(level=2, origin='remitrax', kind='TypeMismatch', segment=3, element=16, component=None)"
    )
    count = by_kind["ControlCountMismatch"]
    assert count.level == 1 and count.datum == b"9"


def test_external_findings_read_back_what_was_given():
    d = external("validator", "bad NPI", 3, code="N1", segment=4, element=9, component=2, datum=[49, 50])
    assert (d.level, d.origin, d.code, d.kind) == (3, "validator", "N1", "External")
    assert (d.segment, d.element, d.component, d.path, d.datum) == (4, 9, 2, "", b"12")
    assert d.rule == "bad NPI (reported by validator, code N1)"
    plain = external("v", "m", 2)
    assert plain.code is None and plain.datum == b"" and plain.rule == "m (reported by v)"
    assert str(plain) == 'SNIP 2 · m (reported by v) · end of stream · at the root · datum ""'
    assert repr(plain) == (
        "Diagnostic(level=2, origin='v', kind='External', segment=None, element=None, component=None)"
    )
    assert external("v", "m", True).level == 1
    assert external("v", "m", 1, segment=0, datum=b"").segment == 0


@pytest.mark.parametrize(
    ("kwargs", "error", "message"),
    [
        ({"level": 0}, ValueError, "level must be 1, 2 or 3, got 0"),
        ({"level": 4}, ValueError, "level must be 1, 2 or 3, got 4"),
        ({"level": -1}, ValueError, "level must be 1, 2 or 3, got -1"),
        ({"level": 2**70}, ValueError, f"level must be 1, 2 or 3, got {2**70}"),
        ({"level": "2"}, TypeError, "argument 'level'"),
        ({"segment": -1}, ValueError, "segment must be a non-negative integer, got -1"),
        ({"component": 2**64}, ValueError, f"component must be a non-negative integer, got {2**64}"),
        ({"element": 1.0}, TypeError, "argument 'element'"),
        # Positions are checked before the level, types before positions.
        ({"segment": -1, "level": 9}, ValueError, "segment must be a non-negative integer, got -1"),
        ({"segment": -1, "datum": "x"}, TypeError, "argument 'datum': Can't extract `str` to `Vec`"),
        ({"datum": [256]}, ValueError, "argument 'datum'"),
        ({"code": 5}, TypeError, "argument 'code' must be str, not int"),
        ({"origin": b"v"}, TypeError, "argument 'origin' must be str, not bytes"),
    ],
)
def test_external_arguments_are_checked_in_order(kwargs, error, message):
    arguments = {"origin": "v", "message": "m", "level": 2, **kwargs}
    with pytest.raises(error) as caught:
        external(**arguments)
    assert message in str(caught.value)


def test_external_requires_its_first_three_arguments():
    with pytest.raises(TypeError, match="missing required argument 'level'"):
        external("v", "m")


def test_diagnostics_are_closed_values(findings):
    with pytest.raises(TypeError):
        remitrax.Diagnostic()
    with pytest.raises(AttributeError):
        findings[0].level = 3
