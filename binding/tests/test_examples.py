"""The examples run as the README shows them."""

import subprocess
import sys

from conftest import ROOT


def test_quickstart_prints_diagnostics_tables_and_claims():
    done = subprocess.run(
        [sys.executable, str(ROOT / "examples" / "quickstart.py")],
        capture_output=True, text=True, check=True,
    )
    out = done.stdout
    assert out.startswith("Result(segments=40, tables=5, diagnostics=0)\n\n0 diagnostics\n")
    assert "## services (rows: 3)" in out
    assert "│ PCN1002  ┆ 123        ┆ 650.00" in out
