"""Reads one 835 file: its diagnostics, every table as text, and the claims as a polars frame.

    python examples/quickstart.py [FILE]

Without FILE it reads remittance.835 beside this script.
"""

import pathlib
import sys

import polars as pl

import remitrax


def main() -> None:
    default = pathlib.Path(__file__).with_name("remittance.835")
    path = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else default
    result = remitrax.parse(path.read_bytes())
    print(result)

    print(f"\n{len(result.diagnostics)} diagnostics")
    for diagnostic in result.diagnostics:
        print(f"  {diagnostic}")

    print()
    print(result.tables.render())

    # X12 text stays bytes in the tables; decode it where the file is known to be UTF-8.
    claims = result.tables["claims"].to_polars()
    claims = claims.with_columns(pl.col(pl.Binary).cast(pl.String))
    print(claims.select("claim_id", "patient_id", "charge_amount", "payment_amount", "statement_from"))


if __name__ == "__main__":
    main()
