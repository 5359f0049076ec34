#!/usr/bin/env bash
# Builds the R package's self-contained tarball and runs R CMD check on it;
# fails on any ERROR or WARNING (a NOTE is allowed, and printed).
# Usage: r/check.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
"$here/build-tarball.sh" > build.log 2>&1 || { cat build.log; exit 1; }
status=0
R CMD check --no-manual tolbe_*.tar.gz > check.log 2>&1 || status=$?
grep -E "^\* checking tests|Status:|WARNING|ERROR|NOTE" check.log || true
if ((status != 0)) || grep -qE "^Status:.*(WARNING|ERROR)" check.log; then
  cat check.log
  echo "R CMD check: 0 passed, 1 failed"
  exit 1
fi
echo "R CMD check: 1 passed, 0 failed"
