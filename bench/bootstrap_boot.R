# The bootstrap of bench/bootstrap_timing.cc done in R with the boot
# package: the statistic is cov() of the resampled rows and a solve()-based
# Lawley correction, returning the corrected covariances (i <= j) and
# correlations (i < j) that vary (those of two selection variables are S's),
# in the order of the timing program's --results; then boot.ci(type = "bca")
# for each of them. Run by bench/bootstrap_vs_boot.sh.
#
# Usage: Rscript bench/bootstrap_boot.R DATA.csv S.csv P B REPEATS CPUS RESULTS.csv [DEFAULT]
#
# Times, as wall time (system.time's elapsed; the round of the least total
# of REPEATS rounds), with the processor time of the whole:
#  - boot(): the B resamples, on CPUS processes (parallel = "multicore"
#    when CPUS > 1);
#  - the jackknife, once for all values (n leave-one-out statistics), and
#    boot.ci(type = "bca", L = ...) with its influence values: the
#    computation the library does (its acceleration is the jackknife's);
#  - with DEFAULT > 0, also boot.ci(type = "bca") as it is usually called,
#    without L, for the first DEFAULT values (once, not REPEATS times): boot
#    then estimates each value's influence values by regression on the
#    B x n resampling array (empinf type "reg"), which costs seconds a
#    value at n = 1000; the cost of all values is estimated from them.
# Writes the intervals of the jackknife route to RESULTS.csv.
suppressPackageStartupMessages(library(boot))

args <- commandArgs(trailingOnly = TRUE)
if (length(args) < 7) stop("usage: bootstrap_boot.R DATA S P B REPEATS CPUS RESULTS [DEFAULT]")
x <- as.matrix(read.csv(args[1]))
s <- unname(as.matrix(read.csv(args[2])))
p <- as.integer(args[3])
resamples <- as.integer(args[4])
repeats <- as.integer(args[5])
cpus <- as.integer(args[6])
results_file <- args[7]
default_values <- if (length(args) >= 8) as.integer(args[8]) else 0L
x <- unname(x)
n <- nrow(x)
q <- ncol(x)
sel <- seq_len(p)
oth <- (p + 1):q

# Column-major positions of the values that vary, in the timing program's
# order (column by column, row by row).
upper_cov <- which(upper.tri(diag(q), diag = TRUE) & col(diag(q)) > p)
upper_cor <- which(upper.tri(diag(q)) & col(diag(q)) > p)

lawley <- function(v) {
  w <- solve(v[sel, sel])
  v12 <- v[sel, oth, drop = FALSE]
  c12 <- s %*% w %*% v12
  c22 <- v[oth, oth] - t(v12) %*% w %*% (v[sel, sel] - s) %*% w %*% v12
  out <- v
  out[sel, sel] <- s
  out[sel, oth] <- c12
  out[oth, sel] <- t(c12)
  out[oth, oth] <- c22
  out
}
statistic <- function(d, i) {
  corrected <- lawley(cov(d[i, , drop = FALSE]))
  c(corrected[upper_cov], cov2cor(corrected)[upper_cor])
}
values <- length(upper_cov) + length(upper_cor)

# Wall time, and the processor time of this process and its children.
timed <- function(expr) {
  used <- system.time(expr)
  c(wall = used[["elapsed"]],
    processor = sum(used[c("user.self", "sys.self", "user.child", "sys.child")], na.rm = TRUE))
}
elapsed <- function(expr) system.time(expr)[["elapsed"]]
parallel <- if (cpus > 1) "multicore" else "no"

best <- NULL
for (round in seq_len(repeats)) {
  set.seed(1943 + round)
  t_boot <- timed(b <- boot(x, statistic, R = resamples, parallel = parallel, ncpus = cpus))
  t_jack <- timed({
    jack <- t(vapply(seq_len(n), function(i) statistic(x, -i), numeric(values)))
    influence <- (n - 1) * (matrix(colMeans(jack), n, values, byrow = TRUE) - jack)
  })
  t_ci <- timed(intervals <- t(vapply(seq_len(values), function(k)
    boot.ci(b, conf = 0.95, type = "bca", index = k, L = influence[, k])$bca[4:5], numeric(2))))
  this <- rbind(boot = t_boot, jackknife = t_jack, ci = t_ci)
  if (is.null(best) || sum(this[, "wall"]) < sum(best[, "wall"])) best <- this
}
total <- colSums(best)
cat(sprintf(paste("R boot (%d process%s): boot() %.3f s, jackknife %.3f s, boot.ci(bca, L) %.3f s;",
                  "total %.3f s (processor %.3f s); %.1f us per resample (boot() / B)\n"),
            cpus, if (cpus == 1) "" else "es", best["boot", "wall"], best["jackknife", "wall"],
            best["ci", "wall"], total[["wall"]], total[["processor"]],
            1e6 * best["boot", "wall"] / resamples))

if (default_values > 0) {
  # Each value's regression is on the same B x n array, so each costs the
  # same: a few values give the cost of all of them.
  measured <- min(default_values, values)
  t_default <- elapsed(for (k in seq_len(measured)) boot.ci(b, conf = 0.95, type = "bca", index = k))
  per_value <- t_default / measured
  cat(sprintf(paste("R boot.ci(bca) without L (influence values by regression): %.2f s a value",
                    "(%d timed); for all %d values %.0f s%s, with boot() %.0f s\n"),
              per_value, measured, values, per_value * values,
              if (measured < values) " (estimated)" else "", best["boot", "wall"] + per_value * values))
}

names_of <- function(positions, kind) {
  i <- (positions - 1) %% q + 1
  j <- (positions - 1) %/% q + 1
  data.frame(value = kind, i = i, j = j)
}
out <- rbind(names_of(upper_cov, "cov"), names_of(upper_cor, "cor"))
out$estimate <- b$t0
out$se <- apply(b$t, 2, sd)
out$lower <- intervals[, 1]
out$upper <- intervals[, 2]
write.csv(out, results_file, row.names = FALSE)
