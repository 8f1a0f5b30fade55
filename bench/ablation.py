"""What each speed trick of the core buys: process_run without it, beside the build with all.

    python bench/ablation.py [--rounds N] [--mb N] [--tricks A,B,...]

Builds remitrax_x12_bench once with every trick and once without each (the CMake option
REMITRAX_ABLATION), in build/ablation/<name>, then times process_run of each over the same
generated file, round after round in turn, so that drift on the machine touches every build
alike. Prints the median MB/s of each build and its ratio to the build with every trick.
"""

import argparse
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The CMake beside the interpreter (a virtualenv's), else the one on the PATH.
CMAKE = str(pathlib.Path(sys.executable).with_name("cmake")) if pathlib.Path(
    sys.executable).with_name("cmake").exists() else shutil.which("cmake")
TRICKS = ["SIMD", "INDEX_BLOCKS", "SPLIT_BLOCKS", "CODE_KEYS", "WORD_VALUES", "ID_WORDS"]


def build(name, trick):
    folder = ROOT / "build" / "ablation" / name
    subprocess.run(
        [CMAKE, "-S", str(ROOT), "-B", str(folder), "-G", "Ninja",
         f"-DPython_EXECUTABLE={sys.executable}", "-DREMITRAX_TESTS=ON",
         "-DCMAKE_BUILD_TYPE=Release", f"-DREMITRAX_ABLATION={trick}"],
        check=True, capture_output=True)
    subprocess.run([CMAKE, "--build", str(folder), "--target", "remitrax_x12_bench"],
                   check=True, capture_output=True)
    return folder / "bench" / "remitrax_x12_bench"


def process_run(bench, path):
    done = subprocess.run([str(bench), "--file", str(path), "--runs", "3", "--only",
                           "process_run"], check=True, capture_output=True, text=True)
    for line in done.stdout.splitlines():
        if line.startswith("stage=process_run mb_per_s="):
            return float(line.split("=")[-1])
    raise RuntimeError(f"no process_run figure from {bench}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--mb", type=int, default=256)
    parser.add_argument("--tricks", default=",".join(TRICKS))
    args = parser.parse_args()
    tricks = [t for t in args.tricks.split(",") if t]
    builds = {"all": build("all", "")}
    for trick in tricks:
        builds[trick] = build(trick, trick)
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "generated.835"
        subprocess.run([str(builds["all"]), "--mb", str(args.mb), "--write", str(path)],
                       check=True, capture_output=True)
        figures = {name: [] for name in builds}
        for _ in range(args.rounds):
            for name, bench in builds.items():
                figures[name].append(process_run(bench, path))
    base = statistics.median(figures["all"])
    for name, values in figures.items():
        median = statistics.median(values)
        spread = f"{min(values):.1f}-{max(values):.1f}"
        print(f"build={name} process_run_mb_per_s={median:.1f} range={spread} "
              f"of_all={median / base:.3f}")


if __name__ == "__main__":
    main()
