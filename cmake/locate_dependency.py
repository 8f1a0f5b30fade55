"""Print the include (and, for nanoarrow, source) folder of a header package from PyPI.

Run with the interpreter that CMake found, which is the build environment's under pip.
The packages are located without importing them, so their own runtime dependencies need
not be installed.
"""

import importlib.util
import pathlib
import sys


def package_dir(name: str) -> pathlib.Path:
    spec = importlib.util.find_spec(name)
    if spec is None or not spec.submodule_search_locations:
        sys.exit(f"Python package {name!r} is not installed; pip install it first")
    return pathlib.Path(list(spec.submodule_search_locations)[0])


def main() -> None:
    what = sys.argv[1]
    if what == "nlohmann_json":
        print((package_dir("nlohmann_json") / "include").as_posix())
    elif what == "nanoarrow":
        vendor = package_dir("arx_nanoarrow_sources") / "vendor"
        print(f"{(vendor / 'include').as_posix()};{(vendor / 'src').as_posix()}")
    else:
        sys.exit(f"unknown dependency {what!r}")


main()
