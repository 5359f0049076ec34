#!/usr/bin/env bash
# Fuzzes each target of a TOLBE_FUZZ build for SECONDS (default 60), starting
# from its seed corpus and its regression cases. A finding stops the run with
# a non-zero status and is saved in tests/fuzz/regressions/TARGET/, where it
# becomes a case that ctest replays once committed.
# Usage: tests/fuzz/run.sh BUILD [SECONDS] [TARGET...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="${2:-60}"
shift $(( $# >= 2 ? 2 : 1 ))
targets=("$@")
if ((${#targets[@]} == 0)); then targets=(reader format run library options cli intervals); fi
for target in "${targets[@]}"; do
  work="$(mktemp -d)"
  echo "fuzzing $target for $seconds s"
  set +e
  "$build/tests/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$here/regressions/$target/" "$work" "$here/corpus/$target" \
    "$here/regressions/$target" > "$work.log" 2>&1
  status=$?
  set -e
  tail -n 30 "$work.log"
  rm -f "$work.log"
  rm -rf "$work"
  if ((status != 0)); then
    echo "fuzz target $target found a failing input (saved in tests/fuzz/regressions/$target/)" >&2
    exit 1
  fi
done
echo "fuzzing: ${#targets[@]} passed, 0 failed"
