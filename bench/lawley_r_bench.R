# Per-call time of tolbe::lawley() beside a plain base-R implementation of
# the same formula (solve()-based, as R code for the correction usually is),
# for q = 10 and q = 50 with p = q/2. Base R only.
# Usage: Rscript bench/lawley_r_bench.R   (after R CMD INSTALL r)
#
# The call timed is the one people make: var/cov matrices from cov(), so
# with dimnames, the selection variables given by name and the diagnostics
# on (the default); and the same call with diagnostics = FALSE. The problem
# is a clean one: direct selection on the first variables of simulated
# data, so that the call has nothing to say. The targets, at q = 10: base R
# at least 5 times the time of the call with diagnostics, and at least 10
# times without.
#
# Each figure is the median of seven rounds of system.time() (the
# processor time this R process used) over many calls, the rounds of the contenders taken in turn: on a small virtual
# machine one round can pay the collector, or the kernel for memory given
# back and taken again, several times what the call itself costs. To see
# the figures without the kernel's share, keep the C library from giving
# memory back:
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

# A pool of applicants with one common factor, those hired chosen on the
# sum of the first p variables (the selection variables).
problem <- function(q) {
  set.seed(q)
  n <- 20 * q * q
  factor <- rnorm(n)
  pool <- sapply(seq_len(q), function(j) 0.7 * factor + sqrt(1 - 0.49) * rnorm(n))
  colnames(pool) <- c(paste0("T", seq_len(q / 2)), paste0("C", seq_len(q - q / 2)))
  p <- q %/% 2
  hired <- pool[rowSums(pool[, seq_len(p)]) > 0, ]
  selection <- colnames(pool)[seq_len(p)]
  list(v = cov(hired), s = cov(pool)[selection, selection], selection = selection, p = p)
}

# Processor time, not elapsed time: the machine may be shared.
seconds_per_call <- function(f, calls) {
  used <- system.time(for (i in seq_len(calls)) f())
  (used[["user.self"]] + used[["sys.self"]]) / calls
}

rounds <- 7
for (q in c(10, 50)) {
  pr <- problem(q)
  calls <- if (q == 10) 20000 else 2000
  fit <- withCallingHandlers(lawley(pr$v, pr$s, selection = pr$selection),
                             warning = function(w) stop("the problem is not clean: ", w),
                             message = function(m) stop("the problem is not clean: ", m))
  stopifnot(isTRUE(all.equal(fit$cov, base_r_lawley(pr$v, pr$s, pr$p)$cov)))
  # Base R gets the matrices without dimnames, its fastest: subsetting
  # carries names along.
  v_unnamed <- unname(pr$v)
  s_unnamed <- unname(pr$s)
  contenders <- list(
    diagnosed = function() lawley(pr$v, pr$s, selection = pr$selection),
    quiet = function() lawley(pr$v, pr$s, selection = pr$selection, diagnostics = FALSE),
    base = function() base_r_lawley(v_unnamed, s_unnamed, pr$p))
  for (f in contenders) seconds_per_call(f, calls)  # warm up: a whole round each
  times <- sapply(seq_len(rounds), function(round)
    vapply(contenders, seconds_per_call, 0, calls = calls))
  median_of <- apply(times, 1, median)
  ratio <- function(who) median_of[["base"]] / median_of[[who]]
  spread <- function(who) range(times["base", ] / times[who, ])
  cat(sprintf(paste("q = %2d: lawley() %.1f us, with diagnostics = FALSE %.1f us, base R %.1f us;",
                    "base R / lawley() = %.1f (rounds %.1f to %.1f),",
                    "with diagnostics = FALSE %.1f (rounds %.1f to %.1f)\n"),
              q, median_of[["diagnosed"]] * 1e6, median_of[["quiet"]] * 1e6,
              median_of[["base"]] * 1e6, ratio("diagnosed"), spread("diagnosed")[1],
              spread("diagnosed")[2], ratio("quiet"), spread("quiet")[1], spread("quiet")[2]))
}
