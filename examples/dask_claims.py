"""Reads every 835 file of a folder on a Dask cluster and gathers their claims as one Dask
DataFrame.

    python examples/dask_claims.py FOLDER [--scheduler ADDRESS]

Without --scheduler a local cluster of two worker processes is started; with the address of
a running scheduler the same code runs on that cluster, whose workers must see the files at
the same paths. Each worker parses its files and hands back their claims as pandas frames,
which become the partitions of one Dask DataFrame. A file that cannot be read (it cannot be
opened, or its interchange header cannot be read) is named on stderr with the error's
message, and the others are read all the same.
"""

import argparse
import pathlib
import sys

import dask.dataframe as dd
import pandas as pd
from dask.distributed import Client, Future, LocalCluster

import remitrax


def claims_frame(path: str) -> pd.DataFrame | str:
    """The claims of one file as a pandas frame, with the file's path in a column of its own;
    or, for a file that cannot be opened or whose interchange header cannot be read, the
    error's message."""
    try:
        result = remitrax.parse(pathlib.Path(path).read_bytes())
    except (OSError, remitrax.ParseError) as error:
        return str(error)
    frame = result.tables["claims"].to_pandas()
    frame["file"] = path
    return frame


def failure(outcome: pd.DataFrame | str) -> str | None:
    """The error's message when a file could not be read, else None."""
    return outcome if isinstance(outcome, str) else None


def gather_claims(client: Client, paths: list[str]) -> tuple[dd.DataFrame | None, dict[str, str]]:
    """One partition per file that could be read, each parsed on a worker of `client` (None
    when no file could), and the message of the error that kept each other file from being
    read. Only the messages travel to the client; the frames stay on the workers."""
    outcomes: list[Future[pd.DataFrame | str]] = client.map(claims_frame, paths)
    messages: list[str | None] = client.gather(client.map(failure, outcomes))
    frames = [outcome for outcome, message in zip(outcomes, messages) if message is None]
    failed = {path: message for path, message in zip(paths, messages) if message is not None}
    claims: dd.DataFrame | None = dd.from_delayed(frames) if frames else None
    return claims, failed


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
        claims, failed = gather_claims(client, paths)
        for path, message in failed.items():
            print(f"{path}: not read: {message}", file=sys.stderr)
        if claims is None:
            print("0 claims from 0 files")
            return
        print(f"{len(claims)} claims from {claims.npartitions} files")
        print(claims.groupby("file").size().compute())


if __name__ == "__main__":
    main()
