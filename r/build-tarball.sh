#!/usr/bin/env bash
# Builds the self-contained source tarball of the R package in the current
# folder: plain R CMD build of r/, whose tools/lib and tools/include (links
# to the library's sources) R CMD build copies in as files.
# Usage: r/build-tarball.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
R CMD build --no-build-vignettes "$here"
