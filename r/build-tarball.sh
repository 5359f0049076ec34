#!/usr/bin/env bash
# Builds the self-contained source tarball of the R package in the current
# folder: stages r/ with the library's sources, then R CMD build.
# Usage: r/build-tarball.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/tolbe"
(cd "$here" && tar --exclude='src/*.o' --exclude='src/*.so' --exclude='src/*.cc' \
  --exclude='src/tolbe_include' -cf - .) | (cd "$stage/tolbe" && tar -xf -)
mkdir -p "$stage/tolbe/../src" "$stage/include"
cp -r "$here/../src/lib" "$stage/src/lib"
cp -r "$here/../include/tolbe" "$stage/include/tolbe"
(cd "$stage/tolbe" && ./configure)
rm -rf "$stage/src" "$stage/include"
R CMD build --no-build-vignettes "$stage/tolbe"
