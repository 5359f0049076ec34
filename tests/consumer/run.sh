#!/usr/bin/env bash
# Installs tolbe from BUILD into a temporary prefix, then builds and runs the
# consumers of this folder with find_package(tolbe) and, for the C file,
# with pkg-config alone.
# Usage: tests/consumer/run.sh BUILD
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
test -x "$work/prefix/bin/tolbe"

cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/build" > /dev/null
"$work/build/consumer"
"$work/build/consumer_c"

libdir=$(find "$work/prefix" -name tolbe.pc -printf '%h\n')
export PKG_CONFIG_PATH="$libdir"
# shellcheck disable=SC2046
cc -o "$work/pc_consumer" "$here/consumer.c" $(pkg-config --cflags --libs tolbe)
LD_LIBRARY_PATH="$libdir/..${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" "$work/pc_consumer"
echo "consumer tests: 3 passed, 0 failed"
