"""Inputs shared by the module's tests: the example remittance, the public samples and a
small spec whose table has a column of every type; and the rows and diagnostics of a parse
or of a stream's batches, to compare one with the other."""

import json
import os
import pathlib

import pyarrow as pa
import pytest

import remitrax

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "remittance.835"
SAMPLES = ROOT.parent / "shared" / "samples" / "835"

ISA = (
    b"ISA*00*          *00*          *ZZ*SENDER         *ZZ*RECEIVER       "
    b"*261201*1200*^*00501*000000001*0*P*:~"
)

# One table, "items", with a column of each Arrow type the module exports.
TYPED_SPEC = {
    "name": "typed",
    "loops": {
        "interchange": {"trigger": {"segment": "ISA"}, "end": "IEA"},
        "item": {"parent": "interchange", "trigger": {"segment": "ITM"}},
    },
    "segments": {
        "ITM": {
            "elements": {
                "1": {"name": "code", "type": "AN"},
                "2": {"name": "cents", "type": "N2"},
                "3": {"name": "count", "type": "N0"},
                "4": {"name": "amount", "type": "R", "scale": 3},
                "5": {"name": "day", "type": "DT"},
                "6": {"name": "at", "type": "TM"},
            }
        }
    },
    "tables": {
        "items": {
            "loops": ["item"],
            "columns": {
                name: {"segment": "ITM", "element": position}
                for position, name in enumerate(
                    ["code", "cents", "count", "amount", "day", "at"], start=1
                )
            },
        }
    },
}


def sample_folder():
    """The public sample folder. A test that needs it skips, naming the folder, when it is
    absent; with REMITRAX_REQUIRE_SAMPLES=1 in the environment (as CI runs) it fails instead."""
    if not SAMPLES.is_dir():
        missing = f"the public 835 sample folder {SAMPLES} is missing (../shared/samples/835 beside the checkout)"
        if os.environ.get("REMITRAX_REQUIRE_SAMPLES") == "1":
            pytest.fail(f"{missing}; REMITRAX_REQUIRE_SAMPLES=1 requires it", pytrace=False)
        pytest.skip(missing)
    return SAMPLES


def sample_files():
    return sorted(p for p in sample_folder().iterdir() if p.is_file() and p.name != "SOURCES.md")


def sample_params():
    """The sample files for parametrize, which runs before any test can skip: when the folder
    is absent, a single None in their place, for which the test calls sample_folder()."""
    return sample_files() if SAMPLES.is_dir() else [pytest.param(None, id="samples")]


def read_arguments(data):
    """The arguments that read a file: the caller's delimiters when it has no header."""
    return {} if data.lstrip(b"\xef\xbb\xbf \t\r\n").startswith(b"ISA") else {"delimiters": remitrax.Delimiters()}


def rows(table):
    """The rows of a table as dicts, read through its Arrow export."""
    return pa.table(table).to_pylist()


def parsed(result):
    """The rows of each non-empty table of a parse, and its diagnostics as text."""
    tables = result.tables
    return {name: rows(tables[name]) for name in tables if len(tables[name])}, [str(d) for d in result.diagnostics]


def streamed(batches):
    """The same over batches: each table's rows from all batches in turn, and every batch's
    diagnostics in turn. Batches that follow each other give what one parse gives."""
    tables = {}
    for batch in batches:
        for name in batch.tables:
            if len(batch.tables[name]):
                tables.setdefault(name, []).extend(rows(batch.tables[name]))
    return tables, [str(d) for batch in batches for d in batch.diagnostics]


@pytest.fixture(scope="session")
def example_bytes():
    return EXAMPLE.read_bytes()


@pytest.fixture(scope="session")
def example(example_bytes):
    return remitrax.parse(example_bytes)


@pytest.fixture(scope="session")
def typed_spec():
    return remitrax.Spec.from_json(json.dumps(TYPED_SPEC))


def typed_items(*rows: bytes) -> bytes:
    """An interchange of ITM segments, one per row, for the typed spec."""
    body = b"".join(b"ITM*" + row + b"~" for row in rows)
    return ISA + body + b"IEA*1*000000001~"
