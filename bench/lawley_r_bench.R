# Per-call time of tolbe::lawley() beside a plain base-R implementation of
# the same formula (solve()-based, as R code for the correction usually is),
# for q = 10 and q = 50 with p = q/2. Base R only.
# Usage: Rscript bench/lawley_r_bench.R   (after R CMD INSTALL r)
#
# Each figure is the median of seven rounds of system.time() over many
# calls, the rounds of the three contenders taken in turn: on a small
# virtual machine one round can pay the collector, or the kernel for memory
# given back and taken again, several times what the call itself costs.
# To see the figures without the kernel's share, keep the C library from
# giving memory back:
#   MALLOC_TRIM_THRESHOLD_=268435456 MALLOC_TOP_PAD_=16777216 Rscript bench/lawley_r_bench.R
library(tolbe)

base_r_lawley <- function(v, s, p) {
  q <- nrow(v)
  x <- seq_len(p)
  y <- setdiff(seq_len(q), x)
  w <- solve(v[x, x])
  c12 <- s %*% w %*% v[x, y]
  c22 <- v[y, y] - t(v[x, y]) %*% w %*% (v[x, x] - s) %*% w %*% v[x, y]
  out <- v
  out[x, x] <- s
  out[x, y] <- c12
  out[y, x] <- t(c12)
  out[y, y] <- c22
  list(cov = out, cor = cov2cor(out))
}

problem <- function(q) {
  set.seed(q)
  a <- matrix(rnorm(q * q), q)
  v <- crossprod(a) / q + diag(q)
  p <- q %/% 2
  list(v = v, s = 1.5 * v[seq_len(p), seq_len(p)], p = p)
}

seconds_per_call <- function(f, calls) {
  system.time(for (i in seq_len(calls)) f())[["elapsed"]] / calls
}

rounds <- 7
for (q in c(10, 50)) {
  pr <- problem(q)
  calls <- if (q == 10) 20000 else 2000
  stopifnot(isTRUE(all.equal(lawley(pr$v, pr$s, diagnostics = FALSE)$cov,
                             base_r_lawley(pr$v, pr$s, pr$p)$cov)))
  contenders <- list(
    ours = function() lawley(pr$v, pr$s, diagnostics = FALSE),
    checked = function() lawley(pr$v, pr$s),
    base = function() base_r_lawley(pr$v, pr$s, pr$p))
  for (f in contenders) seconds_per_call(f, calls)  # warm up: a whole round each
  times <- sapply(seq_len(rounds), function(round)
    vapply(contenders, seconds_per_call, 0, calls = calls))
  median_of <- apply(times, 1, median)
  cat(sprintf(paste("q = %2d: lawley() %.1f us (with diagnostics %.1f us), base R %.1f us;",
                    "base R / lawley() = %.1f (rounds: %.1f to %.1f)\n"),
              q, median_of[["ours"]] * 1e6, median_of[["checked"]] * 1e6,
              median_of[["base"]] * 1e6, median_of[["base"]] / median_of[["ours"]],
              min(times["base", ] / times["ours", ]), max(times["base", ] / times["ours", ])))
}
