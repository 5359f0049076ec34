#!/usr/bin/env bash
# Times the built tolbe binary, start to exit, on the 50-variable example over
# repeated runs, beside /bin/true run the same way (the cost of starting a
# process on this machine), and reports tolbe's peak resident memory.
# Usage: bench/run.sh [build-dir] [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-200}"
input="$root/examples/fifty.txt"

mean_us() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" < "$input" > /dev/null; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000 ))
}

echo "runs: $runs"
echo "tolbe, mean wall time per run: $(mean_us "$build/tolbe") us"
echo "/bin/true, mean wall time per run: $(mean_us /bin/true) us"
/usr/bin/time -v "$build/tolbe" < "$input" 2>&1 >/dev/null | grep -E 'Maximum resident set size'
