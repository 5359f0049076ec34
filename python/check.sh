#!/usr/bin/env bash
# Builds and checks the Python package from a clean copy of the repository
# (its tracked files and new ones not ignored, so that a build left in
# python/ cannot hide a failure), offline, with Debian's Python packages:
#   the extension's own source, warning-free;
#   pip install --no-build-isolation ./python into a temporary environment,
#     which leaves in python/ no file git does not ignore; there the tests
#     and the docstrings' examples run, against the program's CSV;
#   python3 -m build --no-isolation --sdist, and the sdist's wheel
#     installed into a fresh environment.
# Each environment, loaded, is asked for one correction.
# The program, the tests' oracle, is $TOLBE_CLI, else build/tolbe, else
# built into build-python-cli.
# Usage: python/check.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python=/usr/bin/python3  # Debian's, with numpy, pandas, pybind11 and pytest
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
started=$SECONDS
passed=0
failed=0
step() {  # name, command...
  local name="$1"
  shift
  if "$@" > "$work/step.log" 2>&1; then
    echo "ok: $name ($((SECONDS - started)) s)"
    passed=$((passed + 1))
  else
    cat "$work/step.log"
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

cli="${TOLBE_CLI:-}"
if [[ -z "$cli" ]]; then
  cli="$root/build/tolbe"
  if [[ ! -x "$cli" ]]; then
    cli="$root/build-python-cli/tolbe"
    nice cmake -S "$root" -B "$root/build-python-cli" -DTOLBE_BUILD_TESTS=OFF > /dev/null
    nice cmake --build "$root/build-python-cli" -j1 --target tolbe > /dev/null
  fi
fi

mkdir "$work/repo"
git -C "$root" ls-files -z --cached --others --exclude-standard |
  (cd "$root" && while IFS= read -r -d '' file; do
    if [[ -e "$file" || -L "$file" ]]; then printf '%s\0' "$file"; fi
  done) |
  (cd "$root" && tar --null -T - -cf -) | (cd "$work/repo" && tar -xf -)
git -C "$work/repo" init -q
untracked() { git -C "$work/repo" ls-files --others --exclude-standard python; }
before="$(untracked)"
package="$work/repo/python"

warning_free() {
  g++ -std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror \
    -isystem "$("$python" -c 'import pybind11; print(pybind11.get_include())')" \
    -isystem "$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')" \
    -I"$root/include" "$root/python/src/tolbe_python.cc"
}
step "the extension's source is warning-free" warning_free

# Two compilations in all (the build runs on the machine's shared cores):
# pip install ./python, on which the tests run; and the wheel of the sdist,
# made as python3 -m build makes it (the same backend hook), installed
# into a fresh environment.
export MAKEFLAGS=-j1
smoke() {  # environment
  (cd "$work" && "$1/bin/python" -c '
import numpy as np, tolbe, warnings
v = np.array([[25.311, -1.6725, 13.0447, 5.0939], [-1.6725, 17.7073, -10.7549, 9.468],
              [13.0447, -10.7549, 1372.0356, 52.7834], [5.0939, 9.468, 52.7834, 351.5625]])
s = np.array([[36.4816, 6.1608], [6.1608, 16.6464]])
with warnings.catch_warnings(record=True):
    warnings.simplefilter("always")
    fit = tolbe.lawley(v, s)
assert abs(fit.cor[0, 1] - 0.25) < 5e-9 and fit.diagnostics["sign_changes"] == 1
assert tolbe.__file__.startswith("'"$1"'"), tolbe.__file__
')
}

from_folder() {
  "$python" -m venv --system-site-packages "$work/venv-folder" &&
    nice "$work/venv-folder/bin/pip" install -q --no-build-isolation --no-index --no-deps \
      "$package" &&
    smoke "$work/venv-folder" &&
    if [[ "$(untracked)" != "$before" ]]; then
      echo "left in python/ files that git does not ignore:"
      diff <(echo "$before") <(untracked)
      false
    fi
}
step "pip install --no-build-isolation ./python" from_folder

tests() {
  (cd "$work" && TOLBE_CLI="$cli" TOLBE_REQUIRE_CLI=1 "$work/venv-folder/bin/python" -m pytest \
    -p no:cacheprovider -q -o addopts="" --doctest-modules "$package/tests" --pyargs tolbe)
}
step "the tests and the docstrings' examples, on the package installed" tests
grep -E "passed|failed" "$work/step.log" | tail -1 || true

sdist() {
  # The listing goes to a file: grep -q ending a pipe early would fail it.
  "$python" -m build --no-isolation --sdist --outdir "$work/dist" "$package" &&
    tar -tvzf "$work"/dist/tolbe-*.tar.gz > "$work/sdist.txt" &&
    ! grep '^l' "$work/sdist.txt" &&
    grep 'tools/lib/kernels/builtin_blas.cc$' "$work/sdist.txt"
}
step "python3 -m build --no-isolation --sdist: no links, the library's sources in it" sdist

from_sdist() {
  "$python" -m venv --system-site-packages "$work/venv-sdist" &&
    nice "$work/venv-sdist/bin/pip" wheel -q --no-build-isolation --no-index --no-deps \
      -w "$work/dist" "$work"/dist/tolbe-*.tar.gz &&
    "$work/venv-sdist/bin/pip" install -q --no-index --no-deps "$work"/dist/tolbe-*.whl &&
    smoke "$work/venv-sdist"
}
step "the sdist's wheel installed into a fresh environment" from_sdist

echo "Python package: $passed passed, $failed failed ($((SECONDS - started)) s)"
((failed == 0))
