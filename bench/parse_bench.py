"""Throughput and memory of remitrax.parse from Python on a large generated 835 file.

    python bench/parse_bench.py [--mb N] [--threads-mb N] [--runs N] [--file PATH] [--core PATH]

The file is written by the core benchmark (remitrax_x12_bench --write), which then times
the core stages over the same file in the same run, so that parse() can be set beside
process_run. Prints one "name=value" line per figure; MB = 1e6 bytes.

Writing the tables into pages the process never touched costs a good part of a parse on a
virtual machine, and more when two threads fault pages in at once. The core benchmark's
process_run reuses the memory its earlier runs freed, so parse() is also timed with the C
library told to keep freed memory (GLIBC_TUNABLES, in a child interpreter): what is left
then is the parse itself.

The thread figures parse 1, 2, 4 and 8 copies of a smaller file (--threads-mb) at once, one
thread each, and give the bytes of all copies over the time until the last thread is done.
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import remitrax

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEFAULT_CORE = ROOT / "build" / "tests" / "bench" / "remitrax_x12_bench"

# Keeps freed memory in the process: no trimming, no mapping per large allocation, one arena.
KEEP_MEMORY = {
    "GLIBC_TUNABLES": "glibc.malloc.mmap_threshold=33554432:"
    "glibc.malloc.trim_threshold=4294967295:glibc.malloc.arena_max=1"
}

# Run in a child interpreter. "first": the first parse of the process (seconds, page faults,
# peak resident size beyond the input); "one": the median of runs; "two": the speedup of two
# threads parsing two copies at once over one thread; "threads": MB per second of as many
# threads as sys.argv[4], each parsing its own copy.
CHILD = """
import resource, statistics, sys, threading, time, remitrax
mode, path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(path, "rb").read()

def one():
    start = time.perf_counter()
    remitrax.parse(data)
    return time.perf_counter() - start

def two():
    gate = threading.Barrier(len(copies) + 1)
    threads = [threading.Thread(target=lambda d=d: (gate.wait(), remitrax.parse(d))) for d in copies]
    for thread in threads:
        thread.start()
    gate.wait()
    start = time.perf_counter()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start

if mode == "first":
    before = resource.getrusage(resource.RUSAGE_SELF)
    seconds = one()
    after = resource.getrusage(resource.RUSAGE_SELF)
    print(seconds, after.ru_minflt - before.ru_minflt, (after.ru_maxrss - before.ru_maxrss) * 1024)
elif mode == "one":
    one()
    print(statistics.median(one() for _ in range(runs)))
elif mode == "threads":
    copies = [data] + [bytes(bytearray(data)) for _ in range(int(sys.argv[4]) - 1)]
    two()
    print(len(copies) * len(data) / 1e6 / statistics.median(two() for _ in range(runs)))
else:
    copies = [data, bytes(bytearray(data))]
    one(), two()
    single = statistics.median(one() for _ in range(runs))
    print(2 * single / statistics.median(two() for _ in range(runs)))
"""


def child(mode, path, runs, env=None, *extra):
    done = subprocess.run([sys.executable, "-c", CHILD, mode, str(path), str(runs), *extra],
                          capture_output=True, text=True, check=True,
                          env=None if env is None else {**os.environ, **env})
    return [float(field) for field in done.stdout.split()]


def core_stages(core, path, runs, env=None):
    done = subprocess.run([str(core), "--file", str(path), "--runs", str(runs)],
                          capture_output=True, text=True, check=True,
                          env=None if env is None else {**os.environ, **env})
    stages = {}
    for line in done.stdout.splitlines():
        fields = dict(item.split("=", 1) for item in line.split() if "=" in item)
        if "stage" in fields and "mb_per_s" in fields:
            stages[fields["stage"]] = float(fields["mb_per_s"])
    return stages


def median_seconds(runs, run):
    run()
    return statistics.median(run() for _ in range(runs))


def pa_table_seconds(table, runs=21):
    import pyarrow

    def run():
        start = time.perf_counter()
        pyarrow.table(table)
        return time.perf_counter() - start

    return median_seconds(runs, run)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mb", type=int, default=256)
    parser.add_argument("--threads-mb", type=int, default=100)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--file", type=pathlib.Path)
    parser.add_argument("--core", type=pathlib.Path, default=DEFAULT_CORE)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as tmp:
        path = args.file
        if path is None:
            path = pathlib.Path(tmp) / "generated.835"
            subprocess.run([str(args.core), "--mb", str(args.mb), "--write", str(path)],
                           check=True, capture_output=True)
        size = path.stat().st_size
        mb = size / 1e6
        print(f"input_mb={mb:.1f}")
        stages = core_stages(args.core, path, args.runs)
        core = stages["process_run"]
        print(f"stage=process_run mb_per_s={core:.1f}")
        print(f"stage=process_run_cold mb_per_s={stages['process_run_cold']:.1f}")

        first_s, faults, peak = child("first", path, args.runs)
        print(f"stage=parse_first mb_per_s={mb / first_s:.1f} page_faults={faults:.0f} "
              f"of_process_run_cold={mb / first_s / stages['process_run_cold']:.3f}")
        (parse_s,) = child("one", path, args.runs)
        print(f"stage=parse mb_per_s={mb / parse_s:.1f} of_process_run={mb / parse_s / core:.3f}")
        kept = core_stages(args.core, path, args.runs, KEEP_MEMORY)
        (kept_s,) = child("one", path, args.runs, KEEP_MEMORY)
        print(f"stage=process_run_memory_kept mb_per_s={kept['process_run']:.1f}")
        print(f"stage=parse_memory_kept mb_per_s={mb / kept_s:.1f} "
              f"of_process_run_memory_kept={mb / kept_s / kept['process_run']:.3f}")

        # The split of a parse with memory kept, from the core stages over the same file with
        # memory kept too; the rest is the Python side: argument checks and the wrapping.
        split = {
            "copy": mb / kept["input_copy"],
            "index": mb / kept["document_index"],
            "selection": mb / kept["spec_select"],
            "processing": mb / kept["process_run"] - mb / kept["document_index"],
        }
        split["wrapping_and_rest"] = kept_s - sum(split.values())
        for name, seconds in split.items():
            print(f"split={name} ms={seconds * 1000:.1f} share={seconds / kept_s:.3f}")
        print(f"peak_rss_beyond_input_x={peak / size:.2f}")

        result = remitrax.parse(path.read_bytes())
        small = remitrax.parse((ROOT / "examples" / "remittance.835").read_bytes())
        for name, tables in (("large", result.tables), ("small", small.tables)):
            services = tables["services"]
            print(f"pa_table services={name} rows={len(services)} "
                  f"us={pa_table_seconds(services) * 1e6:.1f}")
        del result, small

        (speedup,) = child("two", path, args.runs)
        (kept,) = child("two", path, args.runs, KEEP_MEMORY)
        print(f"threads=2 speedup={speedup:.2f} speedup_memory_kept={kept:.2f}")

        threads_path = pathlib.Path(tmp) / "threads.835"
        subprocess.run([str(args.core), "--mb", str(args.threads_mb), "--write", str(threads_path)],
                       check=True, capture_output=True)
        print(f"threads_input_mb={threads_path.stat().st_size / 1e6:.1f}")
        for count in (1, 2, 4, 8):
            (mb_per_s,) = child("threads", threads_path, args.runs, None, str(count))
            print(f"threads={count} mb_per_s={mb_per_s:.1f}")


if __name__ == "__main__":
    main()
