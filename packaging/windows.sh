#!/bin/sh
# Cross-builds tolbe.exe (cmake/mingw-w64.cmake) and the Linux program, then
# runs both on every problem of tests/program/e2e/cases, on examples/*.txt
# and on the command lines of tests/program/e2e/cli_e2e_test.cc, the Windows
# program under wine: standard output, standard error and the exit status
# must be equal, the start stamp and the CPU time line aside. Prints each
# failure with its differences and a count; exits 1 on any failure.
#
#   packaging/windows.sh [--package]
#
# --package also makes the zip (cpack -G ZIP in build-win).
# Environment: TOLBE_JOBS (parallel compile jobs, default 1),
# TOLBE_WIN_BUILD (default build-win), TOLBE_LINUX_BUILD
# (default build-linux), TOLBE_LINUX_PROGRAM (a Linux tolbe to compare with;
# then no Linux build), WINE (default wine64 or /usr/lib/wine/wine64).
# Needs g++-mingw-w64-x86-64-posix, wine64, nlohmann-json3-dev, cmake, python3.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
win_build=${TOLBE_WIN_BUILD:-$root/build-win}
linux_build=${TOLBE_LINUX_BUILD:-$root/build-linux}
package=no
[ "${1:-}" = --package ] && package=yes

started=$(date +%s)

# Two cores shared with others: one job, lowered priority.
nice cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DTOLBE_BUILTIN_BLAS=ON -DTOLBE_BUILD_TESTS=OFF >/dev/null
nice cmake --build "$win_build" --target tolbe -j"${TOLBE_JOBS:-1}" >/dev/null
if [ -z "${TOLBE_LINUX_PROGRAM:-}" ]; then
  nice cmake -S "$root" -B "$linux_build" -DTOLBE_BUILD_TESTS=OFF >/dev/null
  nice cmake --build "$linux_build" --target tolbe -j"${TOLBE_JOBS:-1}" >/dev/null
  TOLBE_LINUX_PROGRAM=$linux_build/tolbe
fi
linux=$TOLBE_LINUX_PROGRAM
exe=$win_build/tolbe.exe
built=$(date +%s)

if [ -z "${WINE:-}" ]; then
  WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi
# A prefix of our own, without Mono and Gecko (never needed, and asked for
# otherwise) and without wine's debug lines on standard error.
export WINEPREFIX="$win_build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
"$WINE" wineboot -i >/dev/null 2>&1 || true
wineserver=$(dirname "$(command -v "$WINE")")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
# One server for every run: wine then starts in a fraction of the time.
"$wineserver" -p >/dev/null 2>&1 || true
booted=$(date +%s)

work=$(mktemp -d)
trap '"$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The start stamp and the CPU time in the shapes of tests/support/report_mask.h;
# a line of another shape stays and so fails the comparison.
mask() {
  sed -E -e 's#^Program execution starts on [ 1-3][0-9]/[ 1][0-9]/[0-9]{4} at [ 1-2][ 0-9]:[ 1-5][0-9]:[ 1-5][0-9]$#<start stamp>#' \
    -e 's#^CPU TIME IN SECONDS {7,}[0-9]+\.[0-9]{2}$#<cpu time>#' "$1"
}

passed=0
failed=0
# check NAME FOLDER INPUT ARG...: runs both programs in FOLDER with INPUT on
# standard input and compares.
check() {
  name=$1 folder=$2 input=$3
  shift 3
  status=0
  (cd "$folder" && "$linux" "$@" <"$input" >"$work/l.out" 2>"$work/l.err") || status=$?
  echo "$status" >"$work/l.status"
  status=0
  (cd "$folder" && "$WINE" "$exe" "$@" <"$input" >"$work/w.out" 2>"$work/w.err") || status=$?
  echo "$status" >"$work/w.status"
  mask "$work/l.out" >"$work/l.masked"
  mask "$work/w.out" >"$work/w.masked"
  if cmp -s "$work/l.masked" "$work/w.masked" && cmp -s "$work/l.err" "$work/w.err" &&
    cmp -s "$work/l.status" "$work/w.status"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: $*"
    diff "$work/l.masked" "$work/w.masked" | sed 's/^/  out /' | head -20 || true
    diff "$work/l.err" "$work/w.err" | sed 's/^/  err /' | head -20 || true
    diff "$work/l.status" "$work/w.status" | sed 's/^/  status /' || true
  fi
}

cases=$root/tests/program/e2e/cases
cli_cases=$root/tests/program/e2e/cli_cases
for input in "$cases"/*.in; do
  check "$(basename "$input" .in)" "$cases" "$input"
done
for input in "$root"/examples/*.txt; do
  check "examples/$(basename "$input")" "$root/examples" "$input"
done

# The command lines of the CLI end-to-end test whose arguments are all
# literals, one a line: name, then the arguments, separated by tabs.
python3 - "$root/tests/program/e2e/cli_e2e_test.cc" >"$work/cli" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
for m in re.finditer(r'(?:Case|Json)\{\s*"(\w+)",\s*\{([^{}]*)\}', text):
    tokens = re.findall(r'"((?:[^"\\]|\\.)*)"|(\w+)', m.group(2))
    args = []
    for literal, word in tokens:
        if word == "worked":
            args.append("../../../../examples/worked.txt")
        elif word:
            break
        else:
            args.append(literal)
    else:
        print("\t".join([m.group(1)] + args))
PY
tab=$(printf '\t')
while IFS= read -r line; do
  old_ifs=$IFS
  IFS=$tab
  # shellcheck disable=SC2086
  set -- $line
  IFS=$old_ifs
  name=$1
  shift
  check "cli $name" "$cli_cases" /dev/null "$@"
done <"$work/cli"

# Raw scores, intervals (the bootstrap on threads of its own) and the
# validity question, on the study of the examples. The interval bounds go
# through the library's own exp, log, tanh and erfc, so that they are the
# same bits whatever the C library.
study="--data=examples/study/hired.csv --pool=examples/study/applicants.csv --select=T1,T2"
# shellcheck disable=SC2086
{
  check "study markdown" "$root" /dev/null $study --reliabilities=C1=0.8,C2=0.7 \
    --criterion=C1 --predictors=T1,T2,INT --base=T1,T2 --format=markdown
  check "study json" "$root" /dev/null $study --format=json
  check "study bootstrap" "$root" /dev/null $study --interval=bootstrap --resamples=200 \
    --seed=7 --threads=3 --format=csv
  check "study percentile" "$root" /dev/null $study --interval=bootstrap --resamples=200 \
    --seed=7 --ci-type=percentile --criterion=C2 --format=csv
  check "twelve normal" "$root" /dev/null --n=150 --n-unrestricted=900 --level=0.9 \
    --format=csv examples/twelve.txt
  check "help" "$root" /dev/null --help
  check "problem on standard input" "$root" "$root/examples/twelve.txt" --format=csv -
}

finished=$(date +%s)
echo "windows.sh: $passed passed, $failed failed; build $((built - started)) s," \
  "wine start-up $((booted - built)) s, runs $((finished - booted)) s"

if [ "$package" = yes ]; then
  (cd "$win_build" && cpack -G ZIP >/dev/null && ls "$win_build"/tolbe-*-win64.zip)
fi
[ "$failed" -eq 0 ]
