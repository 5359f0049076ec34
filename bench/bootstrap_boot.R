# The bootstrap of bench/bootstrap_timing.cc done in R with the boot
# package: the statistic is cov() of the resampled rows and a solve()-based
# Lawley correction, returning the corrected covariances (i <= j) and
# correlations (i < j) that vary (those of two selection variables are S's),
# in the order of the timing program's --results; then boot.ci(type = "bca")
# for each of them. Run by bench/bootstrap_vs_boot.sh.
#
# Usage: Rscript bench/bootstrap_boot.R DATA.csv S.csv P B REPEATS CPUS RESULTS.csv [DEFAULT]
#
# Times, as wall time (system.time's elapsed; the least of REPEATS rounds):
#  - boot(): the B resamples, on CPUS processes (parallel = "multicore"
#    when CPUS > 1);
#  - the jackknife, once for all values (n leave-one-out statistics), and
#    boot.ci(type = "bca", L = ...) with its influence values: the
#    computation the library does (its acceleration is the jackknife's);
#  - with DEFAULT 1, also boot.ci(type = "bca") as it is usually called,
#    without L: boot then estimates the influence values of each value by
#    regression on the B x n resampling array (empinf type "reg"), which
#    costs far more than the resamples; once, not REPEATS times.
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
with_default <- length(args) >= 8 && args[8] == "1"
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

elapsed <- function(expr) system.time(expr)[["elapsed"]]
parallel <- if (cpus > 1) "multicore" else "no"

best <- c(boot = Inf, jackknife = Inf, ci = Inf)
for (round in seq_len(repeats)) {
  set.seed(1943 + round)
  t_boot <- elapsed(b <- boot(x, statistic, R = resamples, parallel = parallel, ncpus = cpus))
  t_jack <- elapsed({
    jack <- t(vapply(seq_len(n), function(i) statistic(x, -i), numeric(values)))
    influence <- (n - 1) * (matrix(colMeans(jack), n, values, byrow = TRUE) - jack)
  })
  t_ci <- elapsed(intervals <- t(vapply(seq_len(values), function(k)
    boot.ci(b, conf = 0.95, type = "bca", index = k, L = influence[, k])$bca[4:5], numeric(2))))
  best <- pmin(best, c(t_boot, t_jack, t_ci))
}
total <- sum(best)
cat(sprintf(paste("R boot (%d process%s): boot() %.3f s, jackknife %.3f s, boot.ci(bca, L) %.3f s;",
                  "total %.3f s; %.1f us per resample (boot() / B)\n"),
            cpus, if (cpus == 1) "" else "es", best[["boot"]], best[["jackknife"]], best[["ci"]],
            total, 1e6 * best[["boot"]] / resamples))

if (with_default) {
  # One value's default interval, then all of them.
  t_one <- elapsed(boot.ci(b, conf = 0.95, type = "bca", index = 1))
  t_default <- elapsed(for (k in seq_len(values)) boot.ci(b, conf = 0.95, type = "bca", index = k))
  cat(sprintf(paste("R boot.ci(bca) without L (influence by regression): %.2f s for one value,",
                    "%.1f s for all %d; with boot(): %.1f s\n"),
              t_one, t_default, values, best[["boot"]] + t_default))
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
