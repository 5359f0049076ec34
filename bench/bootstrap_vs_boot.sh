#!/usr/bin/env bash
# The library's bootstrap beside R's boot package, on the same data: a
# selected sample of n = 1000 with q = 10 variables, p = 3 of them the
# selection variables, B = 2000 resamples and BCa intervals at 95 % for
# every corrected covariance and correlation that varies (91 values).
#  - tolbe: bench/bootstrap_timing (lawley_intervals, method bootstrap) on
#    1 and 2 threads, and on 1 thread with percentile intervals (no
#    jackknife), the least wall time of TOLBE_REPEATS calls each;
#  - R: bench/bootstrap_boot.R, boot() with a statistic of cov() on the
#    resample and a solve()-based Lawley correction, the jackknife for the
#    influence values and boot.ci(type = "bca") with them, on 1 process and
#    on 2 (parallel = "multicore"), the least of R_REPEATS rounds; and
#    boot.ci(type = "bca") as usually called (influence values by
#    regression), timed on R_DEFAULT values and estimated for all of them.
# The data go from the timing program to a temporary CSV that R reads (17
# significant digits: the same doubles). The two sets of intervals are then
# compared: they differ by the Monte Carlo error of the resamples only.
#
# Usage: bench/bootstrap_vs_boot.sh [build-dir] [--profile]
#   --profile  also counts the instructions of one 1-thread run
#              (valgrind --tool=callgrind) and shows the functions they go
#              to; the parts of the resample loop, which the compiler
#              inlines into one function, are told apart line by line
#              (callgrind_annotate --auto=yes) in a build with -g
#              (CMAKE_CXX_FLAGS=-g, which changes no generated code).
# Environment: B (2000), ROWS (1000), TOLBE_REPEATS (7), R_REPEATS (3),
#   R_DEFAULT (3; 0 leaves it out, 91 times every value).
# The machine should be quiet: other work shows as time. Needs Rscript with
# the boot package (Debian r-cran-boot); --profile needs valgrind.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
profile=0
for arg in "$@"; do
  case "$arg" in
    --profile) profile=1 ;;
    -*) echo "usage: $0 [build-dir] [--profile]" >&2; exit 2 ;;
    *) build="$arg" ;;
  esac
done
timing="$build/bench/bootstrap_timing"
[[ -x $timing ]] || { echo "$0: build with -DTOLBE_BUILD_BENCHMARKS=ON ($timing)" >&2; exit 2; }
command -v Rscript > /dev/null || { echo "$0: Rscript is needed" >&2; exit 2; }
Rscript -e 'library(boot)' 2> /dev/null || { echo "$0: the R package boot is needed" >&2; exit 2; }

b="${B:-2000}"
rows="${ROWS:-1000}"
tolbe_repeats="${TOLBE_REPEATS:-7}"
r_repeats="${R_REPEATS:-3}"
r_default="${R_DEFAULT:-3}"
q=10
p=3
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

common=(--rows="$rows" --q="$q" --p="$p" --resamples="$b")
"$timing" "${common[@]}" --repeat=1 --data="$tmp/data.csv" --unrestricted="$tmp/s.csv" > /dev/null

echo "n = $rows, q = $q, p = $p, B = $b, BCa at 95 %; $(nproc) cores; wall times, least of repeats"
tolbe1=$("$timing" "${common[@]}" --threads=1 --repeat="$tolbe_repeats" --results="$tmp/tolbe.csv")
echo "$tolbe1"
tolbe2=$("$timing" "${common[@]}" --threads=2 --repeat="$tolbe_repeats")
echo "$tolbe2"
"$timing" "${common[@]}" --threads=1 --repeat="$tolbe_repeats" --interval=percentile
half=$((b / 2))
"$timing" --rows="$rows" --q="$q" --p="$p" --resamples="$half" --threads=1 \
  --repeat="$tolbe_repeats"

r1=$(Rscript "$root/bench/bootstrap_boot.R" "$tmp/data.csv" "$tmp/s.csv" "$p" "$b" "$r_repeats" 1 \
  "$tmp/r.csv" "$r_default")
echo "$r1"
r2=$(Rscript "$root/bench/bootstrap_boot.R" "$tmp/data.csv" "$tmp/s.csv" "$p" "$b" "$r_repeats" 2 \
  "$tmp/r2.csv" 0)
echo "$r2"

least() { sed -n 's/.*least \([0-9.]*\) s.*/\1/p' <<< "$1"; }
total() { sed -n 's/.*total \([0-9.]*\) s.*/\1/p' <<< "$1" | head -n 1; }
t1=$(least "$tolbe1")
t2=$(least "$tolbe2")
rt1=$(total "$r1")
rt2=$(total "$r2")
awk -v t1="$t1" -v t2="$t2" -v r1="$rt1" -v r2="$rt2" 'BEGIN {
  printf "R (1 process) / tolbe (1 thread): %.1f; R (2 processes) / tolbe (2 threads): %.1f;", r1 / t1, r2 / t2
  printf " R (1 process) / tolbe (2 threads): %.1f\n", r1 / t2 }'

# Same computation: the intervals of the two agree within the Monte Carlo
# error of B resamples.
Rscript - "$tmp/tolbe.csv" "$tmp/r.csv" <<'EOF'
args <- commandArgs(trailingOnly = TRUE)
a <- read.csv(args[1])
r <- read.csv(args[2])
stopifnot(nrow(a) == nrow(r), all(a$value == r$value), all(a$i == r$i), all(a$j == r$j))
estimate <- max(abs(a$estimate - r$estimate) / pmax(abs(r$estimate), 1e-300))
ratio <- range(a$se / r$se)
bounds <- c(abs(a$lower - r$lower), abs(a$upper - r$upper)) / c(r$se, r$se)
cat(sprintf(paste("agreement over %d values: estimates to a relative %.1e; SE tolbe/R %.3f-%.3f;",
                  "bounds apart by %.3f SE at the median, %.3f SE at most\n"),
            nrow(a), estimate, ratio[1], ratio[2], median(bounds), max(bounds)))
EOF

if ((profile)); then
  command -v valgrind > /dev/null || { echo "$0: valgrind is needed for --profile" >&2; exit 2; }
  out="$tmp/callgrind.out"
  valgrind --tool=callgrind --callgrind-out-file="$out" "$timing" --rows="$rows" --q="$q" \
    --p="$p" --resamples="$b" --threads=1 --repeat=1 > /dev/null 2> "$tmp/valgrind.err"
  sed -n 's/.*refs: *//p' "$tmp/valgrind.err" | sed "s/^/instructions (B = $b, 1 thread, whole process): /"
  callgrind_annotate --inclusive=no "$out" 2> /dev/null | sed -n '/^Ir/,$p' | head -n 25
fi
