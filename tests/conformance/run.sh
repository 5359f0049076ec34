#!/usr/bin/env bash
# Builds what the conformance test needs into BUILD/conformance, then runs
# it: the program (BUILD/tolbe, built when missing), the R package installed
# into a private library and the Python package into a private environment,
# both from a clean copy of the repository (its tracked files and new ones
# not ignored), so that nothing is left in r/ or python/. Each call of
# tests/conformance/calls.json then goes through R, Python and the command
# line, and their numbers and refusals are compared.
# Usage: tests/conformance/run.sh BUILD [run.py's options]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: tests/conformance/run.sh BUILD}" 2>/dev/null && pwd || echo "$1")"
shift
python=/usr/bin/python3  # Debian's, with numpy, pandas and pybind11
here="$build/conformance"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$here"

if [[ ! -x "$build/tolbe" ]]; then
  nice cmake -S "$root" -B "$build" > /dev/null
  nice cmake --build "$build" -j2 --target tolbe > /dev/null
fi

mkdir "$work/repo"
git -C "$root" ls-files -z --cached --others --exclude-standard |
  (cd "$root" && while IFS= read -r -d '' file; do
    if [[ -e "$file" || -L "$file" ]]; then printf '%s\0' "$file"; fi
  done) |
  (cd "$root" && tar --null -T - -cf -) | (cd "$work/repo" && tar -xf -)

# A fresh install each run: the packages are built from the sources as
# they are now.
rm -rf "$here/rlib" "$here/venv"
mkdir "$here/rlib" "$work/rbuild"
(cd "$work/rbuild" && R CMD build --no-build-vignettes "$work/repo/r" > build.log 2>&1 &&
  MAKEFLAGS=-j2 nice R CMD INSTALL --library="$here/rlib" tolbe_*.tar.gz > install.log 2>&1) ||
  { cat "$work"/rbuild/*.log; echo "conformance: the R package did not install"; exit 1; }

"$python" -m venv --system-site-packages "$here/venv"
MAKEFLAGS=-j2 nice "$here/venv/bin/pip" install -q --no-build-isolation --no-index --no-deps \
  "$work/repo/python" > "$work/pip.log" 2>&1 ||
  { cat "$work/pip.log"; echo "conformance: the Python package did not install"; exit 1; }

exec "$here/venv/bin/python" "$root/tests/conformance/run.py" --cli "$build/tolbe" \
  --rlib "$here/rlib" "$@"
