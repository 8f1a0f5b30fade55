"""Reads every 835 file of a folder on a pool of threads and gathers their claims.

    python examples/thread_pool.py FOLDER [--threads N]

parse() releases the GIL while it indexes and processes a file, so the threads of one process
read files in parallel. Each file's claims become a polars frame with the file's name beside
them, and the frames are stacked into one.
"""

import argparse
import concurrent.futures
import os
import pathlib

import polars as pl

import remitrax


def claims_of(path: pathlib.Path) -> pl.DataFrame:
    """The claims of one file, with the file's name in a column of its own."""
    result = remitrax.parse(path.read_bytes())
    claims = result.tables["claims"].to_polars()
    return claims.with_columns(pl.lit(path.name).alias("file"))


def read_folder(folder: pathlib.Path, threads: int) -> pl.DataFrame:
    """The claims of every file of `folder`, in file name order."""
    paths = sorted(path for path in folder.iterdir() if path.is_file())
    with concurrent.futures.ThreadPoolExecutor(max_workers=threads) as pool:
        frames = list(pool.map(claims_of, paths))
    return pl.concat(frames)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--threads", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    claims = read_folder(args.folder, args.threads)
    print(f"{claims.height} claims from {claims['file'].n_unique()} files")
    print(claims.select("file", "claim_id", "charge_amount", "payment_amount"))


if __name__ == "__main__":
    main()
