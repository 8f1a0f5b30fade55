"""The examples run as the README shows them."""

import subprocess
import sys

import pytest

import remitrax
from conftest import ROOT

EXAMPLES = ROOT / "examples"


def run(*args):
    """The standard output and the lines of standard error of a script that must succeed."""
    done = subprocess.run([sys.executable, *map(str, args)], capture_output=True, text=True, check=True)
    return done.stdout, done.stderr.splitlines()


def test_quickstart_prints_diagnostics_tables_and_claims():
    out, _ = run(EXAMPLES / "quickstart.py")
    assert out.startswith("Result(segments=40, tables=5, diagnostics=0)\n\n0 diagnostics\n")
    assert "## services (rows: 3)" in out
    assert "│ PCN1002  ┆ 123        ┆ 650.00" in out


# A file of an archive that cannot be read: a group without the interchange header before it.
UNREADABLE = b"GS*HP*SENDER*RECEIVER*20261201*1200*1*X*005010X221A1~ST*835*0001~"


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    """Five files of one to five copies of the example interchange, 30 claims in all, and,
    between them in name order, one file without an interchange header."""
    path = tmp_path_factory.mktemp("remittances")
    data = (EXAMPLES / "remittance.835").read_bytes()
    for copies in range(1, 6):
        (path / f"part{copies}.835").write_bytes(data * copies)
    (path / "part3_headless.835").write_bytes(UNREADABLE)
    return path


def not_read(folder):
    """The line an example writes to stderr for the file it could not read."""
    with pytest.raises(remitrax.ParseError) as error:
        remitrax.parse(UNREADABLE)
    return f"{folder / 'part3_headless.835'}: not read: {error.value}"


def test_a_thread_pool_gathers_every_claim_and_names_the_file_it_cannot_read(folder):
    out, err = run(EXAMPLES / "thread_pool.py", folder, "--threads", "3")
    assert out.startswith("30 claims from 5 files\n")
    assert err == [not_read(folder)]


def test_a_dask_cluster_of_two_workers_gathers_every_claim_and_names_the_file_it_cannot_read(folder):
    out, err = run(EXAMPLES / "dask_claims.py", folder)
    lines = out.splitlines()
    assert lines[0] == "30 claims from 5 files"
    counts = {line.split()[0].rsplit("/", 1)[-1]: int(line.split()[1]) for line in lines if line.startswith(str(folder))}
    assert counts == {f"part{copies}.835": 2 * copies for copies in range(1, 6)}
    # The cluster may log to stderr too.
    assert [line for line in err if line.startswith(str(folder))] == [not_read(folder)]
