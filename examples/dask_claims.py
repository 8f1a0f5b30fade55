"""Reads every 835 file of a folder on a Dask cluster and gathers their claims as one Dask
DataFrame.

    python examples/dask_claims.py FOLDER [--scheduler ADDRESS]

Without --scheduler a local cluster of two worker processes is started; with the address of
a running scheduler the same code runs on that cluster, whose workers must see the files at
the same paths. Each worker parses its files and hands back their claims as pandas frames,
which become the partitions of one Dask DataFrame.
"""

import argparse
import pathlib

import dask.dataframe as dd
import pandas as pd
from dask.distributed import Client, LocalCluster

import remitrax


def claims_frame(path: str) -> pd.DataFrame:
    """The claims of one file as a pandas frame, with the file's path in a column of its own."""
    result = remitrax.parse(pathlib.Path(path).read_bytes())
    frame = result.tables["claims"].to_pandas()
    frame["file"] = path
    return frame


def gather_claims(client: Client, paths: list[str]) -> dd.DataFrame:
    """One partition per file, each parsed on a worker of `client`."""
    futures = client.map(claims_frame, paths)
    claims: dd.DataFrame = dd.from_delayed(futures)
    return claims


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    args = parser.parse_args()
    paths = sorted(str(path) for path in args.folder.iterdir() if path.is_file())
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=2, threads_per_worker=1, processes=True))
    with client:
        claims = gather_claims(client, paths)
        print(f"{len(claims)} claims from {claims.npartitions} files")
        print(claims.groupby("file").size().compute())


if __name__ == "__main__":
    main()
