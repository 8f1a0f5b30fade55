"""The examples run as the README shows them."""

import subprocess
import sys

import pytest

from conftest import ROOT

EXAMPLES = ROOT / "examples"


def run(*args):
    done = subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, check=True)
    return done.stdout


def test_quickstart_prints_diagnostics_tables_and_claims():
    out = run(EXAMPLES / "quickstart.py")
    assert out.startswith("Result(segments=40, tables=5, diagnostics=0)\n\n0 diagnostics\n")
    assert "## services (rows: 3)" in out
    assert "│ PCN1002  ┆ 123        ┆ 650.00" in out


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """Five files of one to five copies of the example interchange: 30 claims in all."""
    path = tmp_path_factory.mktemp("remittances")
    data = (EXAMPLES / "remittance.835").read_bytes()
    for copies in range(1, 6):
        (path / f"part{copies}.835").write_bytes(data * copies)
    return path


def test_a_thread_pool_gathers_every_claim(folder):
    out = run(EXAMPLES / "thread_pool.py", folder, "--threads", "3")
    assert out.startswith("30 claims from 5 files\n")


def test_a_dask_cluster_of_two_workers_gathers_every_claim(folder):
    out = run(EXAMPLES / "dask_claims.py", folder)
    lines = out.splitlines()
    assert lines[0] == "30 claims from 5 files"
    counts = {line.split()[0].rsplit("/", 1)[-1]: int(line.split()[1]) for line in lines if line.startswith(str(folder))}
    assert counts == {f"part{copies}.835": 2 * copies for copies in range(1, 6)}
