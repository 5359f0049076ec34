# Standard errors and intervals, and raw scores in place of the matrices.

# The correction in plain base R, solve()-based: S in the order of the
# selection variables `x`.
lawley_solve <- function(v, s, x) {
  y <- setdiff(seq_len(nrow(v)), x)
  b <- solve(v[x, x, drop = FALSE], v[x, y, drop = FALSE])
  out <- v
  out[x, x] <- s
  out[x, y] <- s %*% b
  out[y, x] <- t(out[x, y])
  out[y, y] <- v[y, y] - t(b) %*% (v[x, x] - s) %*% b
  out
}

# The distinct elements (i <= j) of a symmetric matrix, as a two-column
# matrix of places.
distinct <- function(m) which(upper.tri(m, diag = TRUE), arr.ind = TRUE)

# The Jacobian, by central differences, of f(v, s) (a vector) with respect
# to the distinct elements of v and of s, each moved on both sides of the
# diagonal at once.
jacobian <- function(f, v, s) {
  one_side <- function(m, which) {
    places <- distinct(m)
    sapply(seq_len(nrow(places)), function(k) {
      i <- places[k, 1]
      j <- places[k, 2]
      h <- 1e-5 * sqrt(m[i, i] * m[j, j])
      moved <- function(sign) {
        x <- m
        x[i, j] <- x[i, j] + sign * h
        x[j, i] <- x[i, j]
        if (which == "v") f(x, s) else f(v, x)
      }
      (moved(1) - moved(-1)) / (2 * h)
    })
  }
  list(v = one_side(v, "v"), s = one_side(s, "s"))
}

# The normal-theory covariance of the distinct elements of a var/cov
# matrix m from a sample of n: (m_ik m_jl + m_il m_jk) / (n - 1).
normal_gamma <- function(m, n) {
  places <- distinct(m)
  i <- places[, 1]
  j <- places[, 2]
  (outer(i, i, function(a, b) m[cbind(a, b)]) * outer(j, j, function(a, b) m[cbind(a, b)]) +
     outer(i, j, function(a, b) m[cbind(a, b)]) * outer(j, i, function(a, b) m[cbind(a, b)])) /
    (n - 1)
}

# Browne's distribution-free covariance of the distinct elements of the
# var/cov matrix of the raw scores z: the fourth moments, over n.
adf_gamma <- function(z) {
  z <- scale(z, scale = FALSE)
  places <- distinct(matrix(0, ncol(z), ncol(z)))
  products <- z[, places[, 1], drop = FALSE] * z[, places[, 2], drop = FALSE]
  centred <- scale(products, scale = FALSE)
  crossprod(centred) / nrow(z)^2
}

# The estimates of a small problem, selection variables not leading, as one
# vector: covariances (i <= j), correlations and disattenuated ones (i < j).
fd_v <- matrix(c(1.2, 0.3, 0.5, 0.2,
                 0.3, 1.0, 0.25, 0.4,
                 0.5, 0.25, 1.5, 0.35,
                 0.2, 0.4, 0.35, 0.9), 4,
               dimnames = rep(list(c("a", "x2", "c", "x1")), 2))
fd_s <- matrix(c(1.6, 0.5, 0.5, 1.3), 2, dimnames = rep(list(c("x1", "x2")), 2))
fd_x <- c(4, 2)
fd_reliability <- c(a = 0.7, x2 = 1, c = 0.8, x1 = 1)
estimates <- function(v, s) {
  cov <- lawley_solve(v, s, fd_x)
  cor <- cov2cor(cov)
  dis <- cor / sqrt(outer(fd_reliability, fd_reliability))
  c(cov[upper.tri(cov, diag = TRUE)], cor[upper.tri(cor)], dis[upper.tri(dis)])
}
# The same vector from a fit's matrices.
as_vector <- function(cov, cor, dis) {
  c(cov[upper.tri(cov, diag = TRUE)], cor[upper.tri(cor)], dis[upper.tri(dis)])
}

test_that("normal theory: the SEs are a finite-difference delta method's, S known or estimated", {
  n <- 150
  j <- jacobian(estimates, fd_v, fd_s)
  for (n_s in list(NULL, 400)) {
    fit <- quietly(lawley(fd_v, fd_s, selection = c("x1", "x2"), n = n, n_unrestricted = n_s,
                          reliabilities = c(c = 0.8, a = 0.7)))
    expect_identical(fit$interval$method, "normal")
    expect_identical(fit$interval$n, 150L)
    variance <- j$v %*% normal_gamma(fd_v, n) %*% t(j$v)
    if (!is.null(n_s)) {
      variance <- variance + j$s %*% normal_gamma(fd_s, n_s) %*% t(j$s)
      expect_identical(fit$interval$n_unrestricted, 400L)
    } else {
      expect_identical(fit$interval$n_unrestricted, NA_integer_)
    }
    expected <- sqrt(pmax(diag(variance), 0))
    got <- as_vector(fit$se$cov, fit$se$cor, fit$se$disattenuated)
    expect_equal(got, expected, tolerance = 1e-7)
    # The point estimates are the plain correction's.
    expect_equal(as_vector(fit$cov, fit$cor, fit$disattenuated), estimates(fd_v, fd_s),
                 tolerance = 1e-12)
  }
  # S known: the selection variables' block does not vary.
  fit <- lawley(fd_v, fd_s, selection = c("x1", "x2"), n = n)
  expect_identical(unname(fit$se$cov[c("x1", "x2"), c("x1", "x2")]), matrix(0, 2, 2))
  expect_identical(fit$ci$cov$lower[c("x1", "x2"), c("x1", "x2")],
                   fit$cov[c("x1", "x2"), c("x1", "x2")])
})

test_that("the delta methods' intervals are at the level asked, correlations on Fisher's z", {
  fit <- lawley(fd_v, fd_s, selection = c("x1", "x2"), n = 150, level = 0.9)
  z <- qnorm(0.95)
  r <- fit$cor["a", "c"]
  se_z <- fit$se$cor["a", "c"] / (1 - r^2)
  expect_equal(c(fit$ci$cor$lower["a", "c"], fit$ci$cor$upper["a", "c"]),
               tanh(atanh(r) + c(-1, 1) * z * se_z), tolerance = 1e-12)
  expect_equal(c(fit$ci$cov$lower["a", "x1"], fit$ci$cov$upper["a", "x1"]),
               fit$cov["a", "x1"] + c(-1, 1) * z * fit$se$cov["a", "x1"], tolerance = 1e-12)
  expect_identical(fit$interval$level, 0.9)
  # The diagonal of the correlations is its estimate (1, or next to it),
  # without error: an interval holds its estimate.
  expect_identical(unname(diag(fit$se$cor)), rep(0, 4))
  expect_identical(diag(fit$ci$cor$lower), diag(fit$cor))
  expect_identical(diag(fit$ci$cor$upper), diag(fit$cor))
  # Shaped and named like the estimates.
  for (m in c("cov", "cor")) {
    expect_identical(attributes(fit$se[[m]]), attributes(fit[[m]]))
    expect_identical(attributes(fit$ci[[m]]$lower), attributes(fit[[m]]))
    expect_identical(attributes(fit$ci[[m]]$upper), attributes(fit[[m]]))
  }
  expect_null(fit$se$disattenuated)
  expect_null(fit$ci$disattenuated)
})

test_that("disattenuated SEs and bounds follow each variable's own reliability", {
  order <- c("x1", "c", "x2", "a")
  moved <- quietly(lawley(fd_v[order, order], fd_s, n = 150,
                          reliabilities = c(a = 0.7, c = 0.8)))
  leading <- quietly(lawley(fd_v, fd_s, selection = c("x1", "x2"), n = 150,
                            reliabilities = c(c = 0.8, a = 0.7)))
  expect_equal(moved$se$disattenuated, leading$se$disattenuated[order, order], tolerance = 1e-12)
  expect_equal(moved$se$disattenuated["a", "c"], moved$se$cor["a", "c"] / sqrt(0.7 * 0.8),
               tolerance = 1e-14)
  expect_equal(moved$ci$disattenuated$upper["x2", "a"], moved$ci$cor$upper["x2", "a"] / sqrt(0.7),
               tolerance = 1e-14)
  # Every variable selected: the disattenuated matrix is the correlations'.
  all <- quietly(lawley(fd_v[c(4, 2), c(4, 2)], fd_s, n = 150, reliabilities = numeric(0)))
  expect_identical(all$se$disattenuated, all$se$cor)
  expect_identical(all$ci$disattenuated, all$ci$cor)
})

test_that("raw scores: V and S are the complete rows' var/cov matrices, and the estimates theirs", {
  fit <- lawley(data = hired, pool = pool[, tests], interval = "none")
  expect_equal(fit$restricted, cov(hired), tolerance = 1e-13)
  expect_equal(fit$unrestricted, cov(pool[, tests]), tolerance = 1e-13)
  # The correction of exactly those matrices.
  again <- lawley(fit$restricted, fit$unrestricted)
  expect_identical(fit$cov, again$cov)
  expect_identical(fit$cor, again$cor)
  expect_identical(fit$findings, again$findings)
  # The means are the data's and the pool's.
  expect_equal(fit$means, lawley(fit$restricted, fit$unrestricted,
                                 restricted_means = colMeans(hired),
                                 unrestricted_means = colMeans(pool[, tests]))$means,
               tolerance = 1e-12)
  expect_null(fit$interval)
  expect_identical(fit$rows, list(used = nrow(hired), dropped = 0L, pool_used = nrow(pool),
                                  pool_dropped = 0L))
  # A data frame is the same as the matrix, and a known S beside raw scores.
  frame <- lawley(data = as.data.frame(hired), pool = as.data.frame(pool[, tests]),
                  interval = "none")
  expect_identical(frame$cov, fit$cov)
  known <- lawley(data = hired, unrestricted = S, interval = "none")
  expect_identical(known$cov, lawley(known$restricted, S)$cov)
  expect_null(known$means)
  expect_identical(known$rows$pool_used, NA_integer_)
  expect_equal(lawley(data = hired, unrestricted = S, unrestricted_means = colMeans(pool[, tests]),
                      interval = "none")$means, fit$means, tolerance = 1e-12)
  # The restricted matrix beside raw pool scores.
  beside <- lawley(cov(hired), pool = pool[, tests])
  expect_identical(beside$unrestricted, fit$unrestricted)
})

test_that("the pool's columns are matched by name, or taken in selection order without names", {
  reversed <- lawley(data = hired, pool = pool, selection = c("T2", "T1"), interval = "none")
  expect_identical(reversed$selection, c(2L, 1L))
  expect_equal(reversed$unrestricted, cov(pool)[c("T2", "T1"), c("T2", "T1")], tolerance = 1e-13)
  # Without 'selection' the pool's columns are the selection variables.
  moved <- c("C1", "T2", "C2", "T1", "INT")
  by_name <- lawley(data = hired[, moved], pool = pool[, c("T2", "T1")], interval = "none")
  expect_identical(by_name$selection, c(2L, 4L))
  expect_equal(by_name$cov, reversed$cov[moved, moved], tolerance = 1e-12)
  # Unnamed: the first p variables, or those 'selection' names, in order.
  unnamed <- lawley(data = hired, pool = unname(pool[, tests]), interval = "none")
  expect_identical(unnamed$cov, lawley(data = hired, pool = pool[, tests], interval = "none")$cov)
  expect_identical(lawley(data = hired[, moved], pool = unname(pool[, c("T1", "T2")]),
                          selection = c("T1", "T2"), interval = "none")$selection, c(4L, 2L))
})

test_that("rows with a missing score are left out listwise, counted and said", {
  h <- hired
  h[3, "T2"] <- NA
  h[10, c("C1", "INT")] <- NA
  h[11, "INT"] <- NaN
  p <- pool[, tests]
  p[c(5, 6), "T1"] <- NA
  notes <- said(fit <- lawley(data = h, pool = p))
  expect_identical(fit$rows, list(used = nrow(hired) - 3L, dropped = 3L,
                                  pool_used = nrow(pool) - 2L, pool_dropped = 2L))
  expect_identical(fit$interval$rows_dropped, 3L)
  expect_identical(fit$interval$pool_rows_dropped, 2L)
  expect_identical(fit$interval$n, nrow(hired) - 3L)
  expect_identical(fit$interval$n_unrestricted, nrow(pool) - 2L)
  expect_identical(notes$message, c(
    sprintf("'data': 3 of %d rows hold a missing score (NA) and were left out (listwise); %d used",
            nrow(hired), nrow(hired) - 3L),
    sprintf("'pool': 2 of %d rows hold a missing score (NA) and were left out (listwise); %d used",
            nrow(pool), nrow(pool) - 2L)))
  expect_identical(notes$severity, c("note", "note"))
  expect_equal(fit$restricted, cov(h, use = "complete.obs"), tolerance = 1e-13)
  expect_equal(fit$means, lawley(cov(h, use = "complete.obs"), cov(p, use = "complete.obs"),
                                 restricted_means = colMeans(na.omit(h)),
                                 unrestricted_means = colMeans(na.omit(p)))$means,
               tolerance = 1e-12)
  expect_output(print(fit), "n = 1280 \\(3 rows with NA left out\\)")
  # Without diagnostics nothing is said, and the counts are there all the same.
  expect_silent(quiet <- lawley(data = h, pool = p, diagnostics = FALSE))
  expect_identical(quiet$rows, fit$rows)
  # A data frame's NA, integer columns and all.
  frame <- as.data.frame(h)
  frame$INT <- as.integer(round(frame$INT))
  expect_identical(suppressMessages(lawley(data = frame, pool = p, interval = "none"))$rows$dropped,
                   3L)
})

test_that("raw scores given as a matrix argument point to data = and pool =", {
  expect_error(lawley(as.data.frame(hired), S), paste0(
    "^'restricted' must be square, not ", nrow(hired), " x 5; raw scores, one row per person, ",
    "are given as data = \\(not restricted =\\)$"))
  expect_error(lawley(hired, S), "not restricted =")
  expect_error(lawley(cov(hired), pool[, tests]), "given as pool = \\(not unrestricted =\\)")
  # A matrix that is wider than high is no raw scores: the old words.
  expect_error(lawley(cov(hired)[1:2, ], S), "^'restricted' must be square, not 2 x 5$")
})

test_that("every new argument's errors, raised before any computation", {
  bad <- function(call, message) {
    # An asymmetric matrix would warn if the correction ran first.
    expect_error(withCallingHandlers(call, warning = function(w) stop("computed first: ", w)),
                 message)
  }
  asym <- cov(hired)
  asym["T2", "C1"] <- 2 * asym["T2", "C1"]
  # Where the samples come from.
  bad(lawley(asym, S, data = hired), "as 'restricted' .* or as 'data' .*, not both")
  bad(lawley(unrestricted = S), "give the restricted sample's var/cov matrix as 'restricted'")
  bad(lawley(asym, S, pool = pool[, tests]), "'unrestricted' or the pool's raw scores .* not both")
  bad(lawley(asym), "as 'unrestricted', or the pool's raw scores as 'pool'")
  bad(lawley(data = hired, unrestricted = S, restricted_means = colMeans(hired)),
      "with 'data' the restricted means are the data's")
  bad(lawley(asym, pool = pool[, tests], unrestricted_means = c(1, 2)),
      "with 'pool' the unrestricted means are the pool's")
  # data and pool themselves.
  bad(lawley(data = "scores", unrestricted = S), "'data' must be a data frame or a numeric matrix")
  bad(lawley(data = matrix(letters[1:6], 3), unrestricted = S), "'data' must be a data frame")
  bad(lawley(data = data.frame(T1 = 1:4, group = factor(c("a", "b", "a", "b")),
                               name = letters[1:4]), unrestricted = S),
      "'data' must hold numbers only; these columns do not: group, name")
  bad(lawley(data = data.frame(), unrestricted = S), "'data' has no columns")
  one <- hired[1:3, ]
  one[2:3, "C2"] <- NA
  bad(lawley(data = one, unrestricted = S),
      "'data' has 1 complete rows \\(without NA\\) of 3; the var/cov matrix needs at least 2")
  infinite <- hired
  infinite[7, "C1"] <- -Inf
  bad(lawley(data = infinite, unrestricted = S),
      "'data' holds a score that is not finite \\(-Inf\\) in row 7, column C1; a missing score is NA")
  bad(lawley(data = hired, pool = pool[, c("T1", "C1")], selection = tests),
      "'pool' has no column for the selection variable T2$")
  bad(lawley(data = hired, pool = cbind(pool[, "T1", drop = FALSE], X9 = pool[, "T2"])),
      "'pool' names variables that 'data' lacks: X9; give 'selection'")
  bad(lawley(data = unname(hired), pool = pool[, tests], selection = 1:2),
      "'pool' is matched to 'data' by column name, but 'data' has no column names")
  bad(lawley(data = hired, pool = unname(pool), selection = 1:2),
      "'selection' names 2 variables, but 'pool' has 5 columns")
  bad(lawley(data = hired[, 1:2], pool = unname(pool)),
      "'pool' has 5 columns, but 'data' has only 2 variables")
  bad(lawley(data = hired, pool = pool[1:2, tests], interval = "bootstrap", B = 10),
      "the bootstrap needs at least 3 complete rows in 'pool'; it has 2")
  bad(lawley(data = hired[1:2, ], unrestricted = S, interval = "bootstrap"),
      "the bootstrap needs at least 3 complete rows in 'data'; it has 2")
  # The sample sizes.
  bad(lawley(data = hired, unrestricted = S, n = 100), "'n' is for matrices")
  bad(lawley(asym, pool = pool[, tests], n = 100, n_unrestricted = 100),
      "'n_unrestricted' is for a matrix: with 'pool'")
  for (n in list(1, 2.5, "100", c(100, 200), NA, Inf, 2^31)) {
    bad(lawley(asym, S, n = n), "'n', the size of the restricted sample, must be a whole number")
  }
  for (n in list(1, 10.5, "100", NA_integer_)) {
    bad(lawley(asym, S, n = 100, n_unrestricted = n), "'n_unrestricted', .* must be a whole number")
  }
  # The method and its settings.
  for (method in list("wald", NA_character_, 1, c("normal", "adf"))) {
    bad(lawley(asym, S, n = 100, interval = method), "'interval' must be \"none\", \"normal\"")
  }
  for (level in list(0, 1, 95, -0.5, NA_real_, "0.95", c(0.9, 0.95), 1L)) {
    bad(lawley(asym, S, n = 100, level = level), "'level' must be a number between 0 and 1")
  }
  for (B in list(9, 1000001, 100.5, "2000", NA)) {
    bad(lawley(data = hired, unrestricted = S, interval = "bootstrap", B = B),
        "'B', the number of bootstrap resamples, must be a whole number from 10 to 1000000")
  }
  for (seed in list(-1, 1.5, 2^53 + 2, c(1, 2), "-7", "1e3", "7.0", " 7", "", NA_character_,
                   c("1", "2"), "18446744073709551616", "99999999999999999999", TRUE)) {
    bad(lawley(data = hired, unrestricted = S, interval = "bootstrap", seed = seed),
        "'seed' must be a whole number from 0 to 2\\^53, or a string of decimal digits")
  }
  for (threads in list(-2, 1.5, "2")) {
    bad(lawley(data = hired, unrestricted = S, interval = "bootstrap", threads = threads),
        "'threads' must be a whole number: at most that many threads, 0 for all")
  }
  # 0 is all the machine has, as on the command line and in the library.
  all <- lawley(data = hired, unrestricted = S, interval = "bootstrap", B = 20, seed = 1,
                threads = 0)
  expect_gte(all$interval$threads, 1L)
  # lawley()'s usage and help show the library's defaults and bounds.
  library_defaults <- .Call(tolbe:::C_defaults)
  expect_identical(formals(lawley)$B, library_defaults$B)
  expect_identical(formals(lawley)$level, library_defaults$level)
  for (B in c(library_defaults$min_B - 1, library_defaults$max_B + 1)) {
    bad(lawley(data = hired, unrestricted = S, interval = "bootstrap", B = B),
        sprintf("a whole number from %d to %d", library_defaults$min_B, library_defaults$max_B))
  }
  # Sample sizes without intervals are a mistake, as on the command line.
  bad(lawley(asym, S, n_unrestricted = 500), "'n_unrestricted' is for intervals")
  bad(lawley(asym, S, n = 100, interval = "none"), "'n' is for intervals, but interval = \"none\"")
  for (type in list("basic", NA_character_, 1)) {
    bad(lawley(data = hired, unrestricted = S, interval = "bootstrap", ci_type = type),
        "'ci_type' must be \"bca\" or \"percentile\"")
  }
  # What a method does not use, or lacks.
  bad(lawley(data = hired, unrestricted = S, B = 500), "'B' is for interval = \"bootstrap\", not \"adf\"")
  bad(lawley(asym, S, n = 100, seed = 1), "'seed' is for interval = \"bootstrap\", not \"normal\"")
  bad(lawley(asym, S, n = 100, threads = 2), "'threads' is for interval = \"bootstrap\"")
  bad(lawley(asym, S, n = 100, ci_type = "percentile"), "'ci_type' is for interval = \"bootstrap\"")
  bad(lawley(asym, S, level = 0.9), "'level' is for intervals, and this call computes none: give 'n'")
  bad(lawley(data = hired, unrestricted = S, interval = "none", level = 0.9),
      "'level' is for intervals, but interval = \"none\"")
  bad(lawley(asym, S, interval = "normal"), "interval = \"normal\" needs 'n'")
  bad(lawley(asym, S, n = 100, interval = "adf"),
      "interval = \"adf\" needs the restricted sample's raw scores as 'data'")
  bad(lawley(asym, S, n = 100, interval = "bootstrap"),
      "interval = \"bootstrap\" needs the restricted sample's raw scores")
  bad(lawley(data = hired, unrestricted = S, n_unrestricted = 500, interval = "bootstrap"),
      "the bootstrap lets the unrestricted matrix vary only by resampling the pool's raw scores")
})

test_that("the default method: normal with n, adf with raw scores, none otherwise", {
  expect_null(lawley(fd_v, fd_s, selection = c(4, 2))$interval)
  expect_null(lawley(fd_v, fd_s, selection = c(4, 2))$se)
  expect_null(lawley(fd_v, fd_s, selection = c(4, 2))$ci)
  expect_identical(lawley(fd_v, fd_s, selection = c(4, 2), n = 50)$interval$method, "normal")
  adf <- lawley(data = hired, unrestricted = S)
  expect_identical(adf$interval$method, "adf")
  expect_identical(adf$interval$ci_type, "wald")
  # Normal theory from raw scores is normal theory on their matrix and rows.
  normal <- lawley(data = hired, unrestricted = S, interval = "normal")
  expect_identical(normal$interval$n, nrow(hired))
  expect_equal(normal$se, lawley(normal$restricted, S, n = nrow(hired))$se, tolerance = 1e-14)
  expect_false(isTRUE(all.equal(normal$se, adf$se)))
})

test_that("ADF: the SEs are the delta method on the fourth moments of the scores", {
  small <- hired[1:200, c("T1", "C1", "C2")]
  small_pool <- pool[1:300, "T1", drop = FALSE]
  fit <- lawley(data = small, pool = small_pool)
  v <- cov(small)
  s <- cov(small_pool)
  f <- function(v, s) {
    cov <- lawley_solve(v, s, 1)
    cor <- cov2cor(cov)
    c(cov[upper.tri(cov, diag = TRUE)], cor[upper.tri(cor)])
  }
  j <- jacobian(f, v, s)
  variance <- j$v %*% adf_gamma(small) %*% t(j$v) + j$s %*% adf_gamma(small_pool) %*% t(j$s)
  got <- c(fit$se$cov[upper.tri(v, diag = TRUE)], fit$se$cor[upper.tri(v)])
  expect_equal(got, sqrt(diag(variance)), tolerance = 1e-6)
  expect_identical(fit$interval$n_unrestricted, 300L)
})

test_that("bootstrap: the same seed gives the same intervals on 1, 2 and 8 threads", {
  run <- function(threads, seed = 42, ...) {
    lawley(data = hired, pool = pool[1:2000, tests], interval = "bootstrap", B = 400,
           seed = seed, threads = threads, reliabilities = c(C1 = 0.8, C2 = 0.75, INT = 0.9), ...)
  }
  one <- run(1)
  for (threads in c(2, 8)) {
    many <- run(threads)
    expect_identical(many$se, one$se)
    expect_identical(many$ci, one$ci)
    expect_identical(many$interval$threads, as.integer(threads))
  }
  expect_identical(one$interval[c("method", "ci_type", "B", "seed", "failed_resamples")],
                   list(method = "bootstrap", ci_type = "bca", B = 400L, seed = 42,
                        failed_resamples = 0L))
  other <- run(2, seed = 43)
  expect_false(isTRUE(all.equal(other$ci$cor, one$ci$cor)))
  percentile <- run(2, ci_type = "percentile")
  expect_identical(percentile$interval$ci_type, "percentile")
  expect_identical(percentile$se, one$se)  # the same resamples
  expect_false(isTRUE(all.equal(percentile$ci$cor, one$ci$cor)))
  # Without a seed, R's generator gives one: set.seed() repeats the call, and
  # the seed kept repeats it too.
  set.seed(7)
  drawn <- run(2, seed = NULL)
  set.seed(7)
  expect_identical(run(2, seed = NULL)$ci, drawn$ci)
  expect_identical(run(1, seed = drawn$interval$seed)$ci, drawn$ci)
  expect_true(drawn$interval$seed >= 0 && drawn$interval$seed < 2^53)
  # The pool's rows are resampled too: S varies, and so do the selection
  # variables' estimates; with S known they do not.
  expect_gt(one$se$cov["T1", "T1"], 0)
  known <- lawley(data = hired, unrestricted = S, interval = "bootstrap", B = 50, seed = 1,
                  threads = 1)
  expect_identical(unname(known$se$cov[tests, tests]), matrix(0, 2, 2))
  expect_identical(known$ci$cov$lower[tests, tests], known$cov[tests, tests])
})

test_that("bootstrap resamples that fail are left out, counted and warned of", {
  set.seed(3)
  few <- matrix(rnorm(15), 5, dimnames = list(NULL, c("x1", "x2", "y")))
  s <- matrix(c(2, 0.5, 0.5, 2), 2)
  notes <- said(fit <- lawley(data = few, unrestricted = s, interval = "bootstrap", B = 300,
                              seed = 5, threads = 1))
  failed <- fit$interval$failed_resamples
  # About a tenth of resamples of 5 rows hold at most 2 distinct rows, whose
  # selection block is singular.
  expect_gt(failed, 5)
  expect_lt(failed, 100)
  warned <- notes$message[notes$severity == "warning" & notes$code == "failed_resamples"]
  expect_identical(warned, sprintf(paste(
    "%d of 300 bootstrap resamples were left out: in them the selection block was not positive",
    "definite; the intervals rest on the others"), failed))
  expect_true(all(is.finite(fit$ci$cor$lower)))
  expect_output(print(fit), sprintf("%d failed resamples left out", failed))
  expect_identical(fit$interval$percentile_fallbacks, 0L)
})

test_that("a value whose BCa interval is not defined gets the percentile one, counted", {
  # Every two-row resample of these three rows has correlation 1, also
  # corrected, and the others reproduce the estimate: none lies below it.
  three <- cbind(x = c(0, 1, 2), y = c(0, 1, 3))
  s <- matrix(1, dimnames = list("x", "x"))
  suppressWarnings({
    notes <- said(bca <- lawley(data = three, unrestricted = s, interval = "bootstrap", B = 200,
                                seed = 2, threads = 1))
    pct <- lawley(data = three, unrestricted = s, interval = "bootstrap", B = 200, seed = 2,
                  threads = 1, ci_type = "percentile")
  })
  expect_gte(bca$interval$percentile_fallbacks, 1L)
  expect_identical(notes$message[notes$code == "percentile_fallbacks"],
                   sprintf(paste("%d value%s no BCa interval (every resample on one side of the",
                                 "estimate, or the acceleration too large) and got the percentile",
                                 "interval"), bca$interval$percentile_fallbacks,
                           if (bca$interval$percentile_fallbacks == 1) " has" else "s have"))
  expect_identical(pct$interval$percentile_fallbacks, NA_integer_)
  expect_identical(bca$ci$cor$lower["x", "y"], pct$ci$cor$lower["x", "y"])
})

test_that("BCa and percentile intervals agree with boot::boot.ci within Monte Carlo error", {
  skip_if_not_installed("boot")
  # A small, strongly selected sample of highly correlated scores: the
  # corrected correlation T1-C1's bootstrap distribution is skewed, and its
  # BCa interval lies about one SD below the percentile one at the lower
  # end. B is large enough for the Monte Carlo error of BCa's far tail to
  # be smaller than that gap: the comparison tells the two apart (checked
  # at the end).
  set.seed(7)
  g <- rnorm(300)
  applicants <- cbind(T1 = 0.9 * g + sqrt(0.19) * rnorm(300),
                      C1 = 0.9 * g + sqrt(0.19) * rnorm(300),
                      C2 = 0.6 * g + 0.8 * rnorm(300))
  chosen <- applicants[applicants[, "T1"] > quantile(applicants[, "T1"], 0.8), ]
  s <- var(applicants[, "T1", drop = FALSE])
  B <- 20000
  level <- 0.95
  statistic <- function(d, i) {
    r <- cov2cor(lawley_solve(cov(d[i, ]), s, 1))
    c(r[1, 2], r[2, 3])
  }
  set.seed(11)
  replicates <- boot::boot(chosen, statistic, R = B)
  fits <- lapply(c(bca = "bca", percentile = "percentile"), function(type) {
    lawley(data = chosen, unrestricted = s, interval = "bootstrap", B = B, seed = 2024,
           threads = 2, ci_type = type)
  })
  for (pair in list(c("T1", "C1"), c("C1", "C2"))) {
    k <- if (pair[1] == "T1") 1 else 2
    t <- replicates$t[, k]
    t0 <- replicates$t0[k]
    expect_equal(fits$bca$cor[pair[1], pair[2]], t0, tolerance = 1e-12)
    # tolbe's acceleration is the jackknife's; boot.ci's own default, a
    # regression on the replicates, would add noise of its own.
    influence <- boot::empinf(replicates, index = k, type = "jack")
    a <- sum(influence^3) / (6 * sum(influence^2)^1.5)
    theirs <- boot::boot.ci(replicates, conf = level, type = c("bca", "perc"), index = k,
                            L = influence)
    # Monte Carlo error of an end at the alpha quantile of B replicates: the
    # quantile's, sqrt(alpha (1 - alpha) / B) times dq/dalpha (from the
    # replicates' quantiles 0.005 to either side), and for BCa also that of
    # the bias correction w = qnorm(#{t < t0} / B), whose SE is
    # sqrt(p (1 - p) / B) / dnorm(w), carried into alpha by d alpha / d w.
    # Two independent bootstraps differ by sqrt(2) times one's error; the
    # tolerance is 4 of those SDs (each of the 8 comparisons fails by
    # chance with probability 6e-5). With these seeds the differences came
    # to at most a third of their tolerances, which were 0.004 to 0.04.
    slope <- function(alpha) {
      (quantile(t, alpha + 0.005, names = FALSE) - quantile(t, alpha - 0.005, names = FALSE)) / 0.01
    }
    p <- mean(t < t0)
    w <- qnorm(p)
    se_w <- sqrt(p * (1 - p) / B) / dnorm(w)
    z <- qnorm((1 + c(-1, 1) * level) / 2)
    adjusted <- pnorm(w + (w + z) / (1 - a * (w + z)))
    d_alpha_d_w <- dnorm(w + (w + z) / (1 - a * (w + z))) * (1 + 1 / (1 - a * (w + z))^2)
    error <- list(
      percentile = sapply(pnorm(z), function(al) sqrt(al * (1 - al) / B) * slope(al)),
      bca = sqrt(sapply(adjusted, function(al) al * (1 - al) / B * slope(al)^2) +
                   (sapply(adjusted, slope) * d_alpha_d_w * se_w)^2))
    expected <- list(percentile = theirs$percent[4:5], bca = theirs$bca[4:5])
    for (type in c("bca", "percentile")) {
      got <- c(fits[[type]]$ci$cor$lower[pair[1], pair[2]],
               fits[[type]]$ci$cor$upper[pair[1], pair[2]])
      tolerance <- 4 * sqrt(2) * error[[type]]
      if (k == 1 && type == "bca") bca_tolerance <- tolerance
      expect_true(all(abs(got - expected[[type]]) <= tolerance),
                  info = sprintf("%s %s-%s: tolbe %s, boot %s, tolerance %s", type, pair[1],
                                 pair[2], toString(signif(got, 4)),
                                 toString(signif(expected[[type]], 4)),
                                 toString(signif(tolerance, 3))))
    }
    # The bootstrap SE, too, within its Monte Carlo error: the SD of an SD
    # from B replicates of kurtosis kappa is about SD sqrt((kappa - 1) / (4 B)),
    # sqrt(2) times that for two runs, and 4 times that again.
    kappa <- mean((t - mean(t))^4) / mean((t - mean(t))^2)^2
    expect_equal(fits$bca$se$cor[pair[1], pair[2]], sd(t),
                 tolerance = 4 * sqrt(2) * sqrt((kappa - 1) / (4 * B)))
  }
  # At both ends of T1-C1 BCa and percentile are farther apart than BCa's
  # tolerance: the comparison above would see the one for the other.
  gap <- c(fits$percentile$ci$cor$lower["T1", "C1"] - fits$bca$ci$cor$lower["T1", "C1"],
           fits$percentile$ci$cor$upper["T1", "C1"] - fits$bca$ci$cor$upper["T1", "C1"])
  expect_true(all(gap > bca_tolerance), info = toString(signif(c(gap, bca_tolerance), 3)))
})

test_that("confint, print and summary give the intervals", {
  fit <- quietly(lawley(fd_v, fd_s, selection = c("x1", "x2"), n = 150,
                        reliabilities = c(c = 0.8, a = 0.7)))
  ci <- confint(fit)
  expect_identical(colnames(ci), c("2.5 %", "97.5 %"))
  expect_identical(rownames(ci), c("a-x2", "a-c", "a-x1", "x2-c", "x2-x1", "c-x1"))
  expect_identical(unname(ci["a-c", ]), unname(c(fit$ci$cor$lower["a", "c"],
                                                 fit$ci$cor$upper["a", "c"])))
  expect_identical(confint(fit, "c-x1", which = "disattenuated")[1, 1],
                   fit$ci$disattenuated$lower["c", "x1"])
  expect_identical(confint(fit, 2:3), ci[2:3, ])
  covariances <- confint(fit, which = "cov", level = 0.95)
  expect_identical(nrow(covariances), 10L)
  expect_identical(covariances["x1-x1", 1], fit$ci$cov$lower["x1", "x1"])
  expect_identical(colnames(confint(lawley(fd_v, fd_s, selection = c(4, 2), n = 150, level = 0.9))),
                   c("5 %", "95 %"))
  expect_error(confint(fit, level = 0.9), "computed at level 0.95; call lawley\\(\\) again")
  expect_error(confint(fit, "a-z"), "'parm' names no pair of the corrected correlations: a-z")
  expect_error(confint(lawley(fd_v, fd_s, selection = c(4, 2), n = 150), which = "disattenuated"),
               "without 'reliabilities'")
  expect_error(confint(lawley(fd_v, fd_s, selection = c(4, 2))), "the fit has no intervals")
  expect_output(print(fit), paste0("95 % intervals: delta method, normal theory; n = 150; ",
                                   "unrestricted matrix known\nCorrected correlations:"))
  expect_output(print(fit), sprintf("a-c +%.4f +%.4f +%.4f +%.4f\n", fit$cor["a", "c"],
                                    fit$se$cor["a", "c"], fit$ci$cor$lower["a", "c"],
                                    fit$ci$cor$upper["a", "c"]))
  expect_output(print(summary(fit)), "Disattenuated correlations \\(reliabilities taken as known\\)")
  boot_fit <- lawley(data = hired, pool = pool[, tests], interval = "bootstrap", B = 20, seed = 9,
                     threads = 1, ci_type = "percentile")
  expect_output(print(boot_fit), paste0("bootstrap, percentile \\(B = 20, seed 9\\); n = ",
                                        nrow(hired), "; unrestricted matrix estimated, ",
                                        "n_unrestricted = ", nrow(pool)))
  # Many pairs: print shows 20 and says how many more there are.
  set.seed(2)
  wide <- matrix(rnorm(400 * 8), 400, dimnames = list(NULL, paste0("v", 1:8)))
  many <- quietly(lawley(data = wide, unrestricted = diag(1.5, 2)))
  expect_output(print(many), "\\.\\.\\. and 8 more pairs: confint\\(fit\\) lists them all")
  expect_identical(nrow(confint(many)), 28L)
})

test_that("fit$unrestricted is S as corrected, named by the selection variables", {
  named <- lawley(fd_v, fd_s, selection = c("x1", "x2"))
  expect_identical(named$unrestricted, fd_s)
  # Not named, S is named by the selection it was given for.
  expect_identical(lawley(fd_v, unname(fd_s), selection = c("x1", "x2"))$unrestricted, fd_s)
  reversed <- lawley(fd_v, fd_s[2:1, 2:1], selection = c("x2", "x1"))$unrestricted
  expect_identical(reversed, fd_s[2:1, 2:1])
  # Named in another order than the selection, S is taken in the selection's.
  expect_identical(lawley(fd_v, fd_s[2:1, 2:1], selection = c("x1", "x2"))$unrestricted, fd_s)
  expect_identical(lawley(unname(fd_v), unname(fd_s), selection = c(4, 2))$unrestricted,
                   unname(fd_s))
})
