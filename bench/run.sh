#!/usr/bin/env bash
# Whole-process cost of tolbe on the 50-variable example, beside a plain
# static program that reads the same input and writes as many bytes:
# instructions (valgrind --tool=callgrind) and peak resident memory
# (/usr/bin/time -f %M), as figures and as ratios, against the targets of
# 3.0 M instructions and 1.25 MiB.
# Usage: bench/run.sh [build-dir] [input]
# The build needs -DTOLBE_BUILD_BENCHMARKS=ON (for tolbe_baseline).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
input="${2:-$root/examples/fifty.txt}"
tolbe="$build/tolbe"
baseline="$build/bench/tolbe_baseline"
for tool in valgrind /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "bench/run.sh: $tool is needed" >&2; exit 2; }
done
[[ -x $baseline ]] || { echo "bench/run.sh: build with -DTOLBE_BUILD_BENCHMARKS=ON" >&2; exit 2; }

bytes=$("$tolbe" < "$input" | wc -c)

instructions() {
  local out
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" < "$input" > /dev/null 2> "$out" || true
  sed -n 's/.*refs: *//p' "$out" | tr -d ,
  rm -f "$out"
}

peak_kib() {
  local best=""
  for _ in 1 2 3; do
    local kib out
    out=$(mktemp)
    /usr/bin/time -o "$out" -f %M "$@" < "$input" > /dev/null 2> /dev/null || true
    kib=$(tail -n 1 "$out")
    rm -f "$out"
    if [[ -z $best || $kib -lt $best ]]; then best=$kib; fi
  done
  echo "$best"
}

tolbe_ir=$(instructions "$tolbe")
base_ir=$(instructions "$baseline" "$bytes")
tolbe_kib=$(peak_kib "$tolbe")
base_kib=$(peak_kib "$baseline" "$bytes")

verdict() { if (( $1 <= $2 )); then echo "within"; else echo "OVER"; fi; }
printf 'input: %s (%s bytes of report)\n' "$input" "$bytes"
printf '%-26s %12s %12s %8s\n' "" tolbe baseline ratio
printf '%-26s %12s %12s %8s\n' "instructions" "$tolbe_ir" "$base_ir" \
  "$(awk -v a="$tolbe_ir" -v b="$base_ir" 'BEGIN { printf "%.2f", a / b }')"
printf '%-26s %12s %12s %8s\n' "peak resident (KiB)" "$tolbe_kib" "$base_kib" \
  "$(awk -v a="$tolbe_kib" -v b="$base_kib" 'BEGIN { printf "%.2f", a / b }')"
printf 'target 3,000,000 instructions: %s; target 1280 KiB: %s\n' \
  "$(verdict "$tolbe_ir" 3000000)" "$(verdict "$tolbe_kib" 1280)"
