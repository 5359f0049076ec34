"""Builds tolbe._core from the library's own sources.

They come from tools/lib and tools/include: links to the repository's
src/lib and include in a checkout, real folders in an sdist (which copies
what the links point to), so the repository holds one copy. Without the
links (a checkout made where they are not supported) the repository's own
folders serve, as for the R package.
"""
import os
import re

from pybind11.setup_helpers import Pybind11Extension
from setuptools import setup

here = os.path.dirname(os.path.abspath(__file__))


def library_folders():
    for lib, include in (("tools/lib", "tools/include"), ("../src/lib", "../include")):
        if os.path.isdir(os.path.join(here, lib)) and os.path.isdir(
            os.path.join(here, include, "tolbe")
        ):
            return lib, include
    raise SystemExit(
        "tolbe: the library sources are missing: neither tools/lib and tools/include nor "
        "../src/lib and ../include (install from the repository's python/ folder or from an "
        "sdist made of it)"
    )


lib, include = library_folders()
# Every .cc of the library: the correction, the intervals, the validity
# question, the C API and the built-in kernels (builtin_blas_symbols.cc
# gives them the BLAS routines' names), so nothing is linked at run time
# but the C++ run-time.
sources = sorted(
    os.path.join(lib, folder, name)
    for folder in os.listdir(os.path.join(here, lib))
    if os.path.isdir(os.path.join(here, lib, folder))
    for name in os.listdir(os.path.join(here, lib, folder))
    if name.endswith(".cc")
)
# The one version number, pyproject.toml's (the library's own, which a test
# checks).
with open(os.path.join(here, "pyproject.toml"), encoding="utf-8") as f:
    version = re.search(r'^version = "([^"]+)"', f.read(), re.M).group(1)

core = Pybind11Extension(
    "tolbe._core",
    ["src/tolbe_python.cc", *sources],
    include_dirs=[include, lib],
    cxx_std=20,
    define_macros=[("TOLBE_VERSION_STRING", f'"{version}"')],
    # Without contraction: a fused multiply-add rounds once where the
    # reference BLAS, whose numbers the program gives, rounds twice. The
    # bootstrap runs on std::thread.
    extra_compile_args=["-ffp-contract=off", "-pthread"],
    extra_link_args=["-pthread"],
)

setup(ext_modules=[core])
