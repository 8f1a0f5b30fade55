"""Reads every 835 file of a folder on a pool of threads and gathers their claims.

    python examples/thread_pool.py FOLDER [--threads N]

parse() releases the GIL while it indexes and processes a file, so the threads of one process
read files in parallel. Each file's claims become a polars frame with the file's name beside
them, and the frames are stacked into one. A file that cannot be read (it cannot be opened, or
its interchange header cannot be read) is named on stderr with the error's message, and the
others are read all the same.
"""

import argparse
import concurrent.futures
import os
import pathlib
import sys

import polars as pl

import remitrax


def claims_of(path: pathlib.Path) -> pl.DataFrame:
    """The claims of one file, with the file's name in a column of its own."""
    result = remitrax.parse(path.read_bytes())
    claims = result.tables["claims"].to_polars()
    return claims.with_columns(pl.lit(path.name).alias("file"))


def read_folder(folder: pathlib.Path, threads: int) -> tuple[pl.DataFrame | None, dict[pathlib.Path, str]]:
    """The claims of every file of `folder` that could be read, in file name order (None when
    no file could), and the message of the error that kept each other file from being read: a
    file that cannot be opened, or whose interchange header cannot be read."""
    paths = sorted(path for path in folder.iterdir() if path.is_file())
    frames: list[pl.DataFrame] = []
    failed: dict[pathlib.Path, str] = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=threads) as pool:
        futures = [pool.submit(claims_of, path) for path in paths]
        for path, future in zip(paths, futures):
            try:
                frames.append(future.result())
            except (OSError, remitrax.ParseError) as error:
                failed[path] = str(error)
    return (pl.concat(frames) if frames else None), failed


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", type=pathlib.Path)
    parser.add_argument("--threads", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    claims, failed = read_folder(args.folder, args.threads)
    for path, message in failed.items():
        print(f"{path}: not read: {message}", file=sys.stderr)
    if claims is None:
        print("0 claims from 0 files")
        return
    print(f"{claims.height} claims from {claims['file'].n_unique()} files")
    print(claims.select("file", "claim_id", "charge_amount", "payment_amount"))


if __name__ == "__main__":
    main()
