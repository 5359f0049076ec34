# The validity question: regression and increments on the corrected matrix,
# operational validities, where reliabilities were measured, the tidy
# tables and the plot.

# A large population with two tests (the selection variables), an
# interview and a criterion; those hired are the top 30 % on the sum of
# the tests, so that Lawley's assumptions hold and the corrected matrix
# estimates the population's.
population <- local({
  set.seed(2002)
  n <- 200000
  g <- rnorm(n)
  z <- cbind(T1 = 100 + 15 * (0.8 * g + 0.6 * rnorm(n)),
             T2 = 50 + 10 * (0.6 * g + 0.8 * rnorm(n)),
             INT = 5 + 2 * (0.4 * g + sqrt(0.84) * rnorm(n)))
  y <- 10 + 0.05 * z[, "T1"] + 0.1 * z[, "T2"] + 0.6 * z[, "INT"] + 3 * rnorm(n)
  cbind(z, Y = y)
})
top <- population[, "T1"] / 15 + population[, "T2"] / 10
incumbents <- population[top > quantile(top, 0.7), ]
selectors <- c("T1", "T2")
# (Selection on the sum turns the tests' correlation negative among the
# incumbents, which the fit notes.)
population_fit <- quietly(lawley(data = incumbents,
                                 unrestricted = cov(population)[selectors, selectors],
                                 unrestricted_means = colMeans(population)[selectors],
                                 reliabilities = c(Y = 0.8), criteria = "Y"))

test_that("regression: weights, beta and R2 are the full population's lm() within 4 SEs", {
  reg <- lawley_regression(population_fit, "Y", c("T1", "T2", "INT"))
  full <- lm(Y ~ T1 + T2 + INT, data = data.frame(population))
  # The population itself is the truth here; the corrected values err by
  # the incumbents' sampling error, which their SEs (ADF) measure.
  b <- coef(reg)[c("T1", "T2", "INT")]
  expect_lt(max(abs(b - coef(full)[c("T1", "T2", "INT")]) / reg$b[c("T1", "T2", "INT"), "std.error"]), 4)
  sd <- apply(population, 2, sd)
  beta <- coef(full)[c("T1", "T2", "INT")] * sd[c("T1", "T2", "INT")] / sd[["Y"]]
  expect_lt(max(abs(reg$beta$estimate - beta) / reg$beta$std.error), 4)
  expect_lt(abs(reg$R2$estimate - summary(full)$r.squared) / reg$R2$std.error, 4)
  expect_equal(reg$R$estimate, sqrt(reg$R2$estimate), tolerance = 1e-12)
  # The intercept from the corrected means: mean_y - b'mean_x, near lm()'s.
  means <- population_fit$means
  expect_equal(coef(reg)[["(Intercept)"]],
               unname(means[["Y"]] - sum(b * means[c("T1", "T2", "INT")])), tolerance = 1e-12)
  expect_lt(abs(coef(reg)[["(Intercept)"]] - coef(full)[[1]]), 0.5)
  expect_identical(names(coef(reg)), c("(Intercept)", "T1", "T2", "INT"))
  # Its SE is not available: NA, and so its interval.
  expect_true(is.na(reg$b["(Intercept)", "std.error"]))
  expect_true(all(is.na(confint(reg)["(Intercept)", ])))
  expect_identical(dim(confint(reg)), c(4L, 2L))
  expect_identical(colnames(confint(reg)), c("2.5 %", "97.5 %"))
  expect_equal(unname(confint(reg)[-1, ]), unname(as.matrix(reg$b[-1, c("conf.low", "conf.high")])))
  # The operational R: the criterion made reliable.
  expect_equal(reg$operational_R$estimate, reg$R$estimate / sqrt(0.8), tolerance = 1e-12)
  expect_equal(reg$operational$estimate, reg$r$estimate / sqrt(0.8), tolerance = 1e-12)
})

test_that("regression and increments are a direct solve() on fit$cov", {
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8)))
  cov <- fit$cov
  x <- c("INT", "T2", "T1")
  reg <- lawley_regression(fit, "C1", x)
  b <- solve(cov[x, x], cov[x, "C1"])
  expect_equal(coef(reg)[x], b, tolerance = 1e-10)
  expect_equal(reg$beta$estimate, unname(b * sqrt(diag(cov)[x] / cov["C1", "C1"])),
               tolerance = 1e-10)
  r2 <- drop(cov["C1", x] %*% b) / cov["C1", "C1"]
  expect_equal(reg$R2$estimate, r2, tolerance = 1e-10)
  expect_equal(reg$r$estimate, unname(fit$cor[x, "C1"]), tolerance = 1e-12)
  expect_equal(reg$operational$estimate, unname(fit$operational[x, "C1"]), tolerance = 1e-12)
  # Numbers for variables do as names.
  expect_equal(coef(lawley_regression(fit, 3, c(5, 2, 1))), coef(reg), tolerance = 0)

  inc <- lawley_increment(fit, "C1", base = c("T1", "T2"), added = c("INT", "C2"))
  r2_of <- function(x) drop(cov["C1", x] %*% solve(cov[x, x], cov[x, "C1"])) / cov["C1", "C1"]
  full <- r2_of(c("T1", "T2", "INT", "C2"))
  base <- r2_of(c("T1", "T2"))
  expect_equal(inc$delta_R2$estimate, full - base, tolerance = 1e-10)
  expect_equal(inc$delta_R$estimate, sqrt(full) - sqrt(base), tolerance = 1e-10)
  expect_equal(inc$base_R2$estimate, base, tolerance = 1e-10)
  expect_true(all(is.finite(unlist(inc$delta_R2[, -1]))))
  expect_lt(inc$delta_R2$conf.low, inc$delta_R2$estimate)
  expect_gt(inc$delta_R2$conf.high, inc$delta_R2$estimate)
  # Without means there is no intercept.
  fit <- lawley(cov(hired), S, n = nrow(hired))
  expect_identical(names(coef(lawley_regression(fit, "C1", c("T1", "T2")))), c("T1", "T2"))
})

test_that("increments are two lm() fits on the population, within 4 SEs", {
  inc <- lawley_increment(population_fit, "Y", base = selectors, added = "INT")
  data <- data.frame(population)
  full <- summary(lm(Y ~ T1 + T2 + INT, data))$r.squared
  base <- summary(lm(Y ~ T1 + T2, data))$r.squared
  expect_lt(abs(inc$delta_R2$estimate - (full - base)) / inc$delta_R2$std.error, 4)
  expect_lt(abs(inc$delta_R$estimate - (sqrt(full) - sqrt(base))) / inc$delta_R$std.error, 4)
  expect_gt(inc$delta_R2$estimate, 0)
})

# A small problem for the delta method: criterion c, predictors x1 (a
# selection variable) and a.
fd_v <- matrix(c(1.2, 0.3, 0.5, 0.2,
                 0.3, 1.0, 0.25, 0.4,
                 0.5, 0.25, 1.5, 0.35,
                 0.2, 0.4, 0.35, 0.9), 4,
               dimnames = rep(list(c("a", "x2", "c", "x1")), 2))
fd_s <- matrix(c(1.6, 0.5, 0.5, 1.3), 2, dimnames = rep(list(c("x1", "x2")), 2))

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

distinct <- function(m) which(upper.tri(m, diag = TRUE), arr.ind = TRUE)

# The gradient by central differences of f(v) with respect to the distinct
# elements of v, each moved on both sides of the diagonal at once.
gradient <- function(f, m) {
  places <- distinct(m)
  sapply(seq_len(nrow(places)), function(k) {
    i <- places[k, 1]
    j <- places[k, 2]
    h <- 1e-5 * sqrt(m[i, i] * m[j, j])
    moved <- function(sign) {
      x <- m
      x[i, j] <- x[i, j] + sign * h
      x[j, i] <- x[i, j]
      f(x)
    }
    (moved(1) - moved(-1)) / (2 * h)
  })
}

normal_gamma <- function(m, n) {
  places <- distinct(m)
  i <- places[, 1]
  j <- places[, 2]
  (outer(i, i, function(a, b) m[cbind(a, b)]) * outer(j, j, function(a, b) m[cbind(a, b)]) +
     outer(i, j, function(a, b) m[cbind(a, b)]) * outer(j, i, function(a, b) m[cbind(a, b)])) /
    (n - 1)
}

test_that("normal theory: SEs of b, R2 and Delta R2 are a finite-difference delta method's", {
  n <- 150
  fit <- lawley(fd_v, fd_s, selection = c("x1", "x2"), n = n, reliabilities = c(a = 1, c = 0.8))
  values <- function(v) {
    cov <- lawley_solve(v, fd_s, c(4, 2))
    x <- c("x1", "a")
    b <- solve(cov[x, x], cov[x, "c"])
    r2 <- drop(cov["c", x] %*% b) / cov["c", "c"]
    base <- cov["c", "x1"]^2 / (cov["x1", "x1"] * cov["c", "c"])
    c(b, r2, sqrt(r2) / sqrt(0.8), r2 - base)
  }
  g <- gradient(values, fd_v)
  expected <- sqrt(diag(g %*% normal_gamma(fd_v, n) %*% t(g)))
  reg <- lawley_regression(fit, "c", c("x1", "a"))
  inc <- lawley_increment(fit, "c", "x1", "a")
  got <- c(reg$b$std.error, reg$R2$std.error, reg$operational_R$std.error,
           inc$delta_R2$std.error)
  expect_equal(got, unname(expected), tolerance = 1e-6)
  # Wald intervals for b; R2 and Delta R2 on the scale atanh(sqrt(.)), cut
  # at 0 there and squared back; R on Fisher's scale, cut at 0.
  z <- qnorm(0.975)
  expect_equal(reg$b$conf.low, reg$b$estimate - z * reg$b$std.error, tolerance = 1e-10)
  rooted <- function(x) {
    se <- x$std.error / (2 * sqrt(x$estimate) * (1 - x$estimate))
    ends <- tanh(atanh(sqrt(x$estimate)) + c(-1, 1) * z * se)
    pmax(ends, 0)^2
  }
  for (x in list(reg$R2, inc$delta_R2, inc$base_R2, inc$delta_R)) {
    expect_equal(c(x$conf.low, x$conf.high), rooted(x), tolerance = 1e-10)
  }
  fisher <- tanh(atanh(reg$R$estimate) + c(-1, 1) * z * reg$R$std.error / (1 - reg$R$estimate^2))
  expect_equal(c(reg$R$conf.low, reg$R$conf.high), pmax(fisher, 0), tolerance = 1e-10)
  expect_equal(c(reg$R$conf.low, reg$R$conf.high)^2, c(reg$R2$conf.low, reg$R2$conf.high),
               tolerance = 1e-10)
  expect_equal(unname(values(fd_v)[1:3]), c(reg$b$estimate, reg$R2$estimate), tolerance = 1e-10)
})

test_that("a small increment's interval stays at or above 0 where Wald's crosses it", {
  # n = 40: the increment of a over x1 is small beside its SE.
  fit <- lawley(fd_v, fd_s, selection = c("x1", "x2"), n = 40)
  said <- NULL
  inc <- withCallingHandlers(lawley_increment(fit, "c", "x1", "a"), tolbe_message = function(m) {
    said <<- m
    invokeRestart("muffleMessage")
  })
  # Below 250 rows the delta intervals come with the library's note.
  expect_identical(said$code, "small_sample_intervals")
  expect_match(inc$note, "^the restricted sample has n = 40, fewer than 250: ")
  expect_match(inc$note, 'interval = "bootstrap", ci_type = "percentile"', fixed = TRUE)
  expect_output(print(inc), "note: the restricted sample has n = 40", fixed = TRUE)
  big <- lawley(fd_v, fd_s, selection = c("x1", "x2"), n = 250)
  expect_silent(reg <- lawley_regression(big, "c", c("x1", "a")))
  expect_null(reg$note)
  z <- qnorm(0.975)
  expect_lt(inc$delta_R2$estimate - z * inc$delta_R2$std.error, 0)
  for (x in list(inc$delta_R2, inc$delta_R, inc$base_R2, inc$R2, inc$R)) {
    expect_gte(x$conf.low, 0)
    expect_lte(x$conf.low, x$estimate)
    expect_gte(x$conf.high, x$estimate)
  }
})

test_that("R2 and Delta R2 get boot::boot.ci's percentile interval, also when BCa is asked", {
  skip_if_not_installed("boot")
  B <- 4000
  fits <- lapply(c(bca = "bca", percentile = "percentile"), function(type) {
    quietly(lawley(data = hired, unrestricted = S, interval = "bootstrap", B = B, seed = 5,
                   threads = 2, ci_type = type))
  })
  incs <- lapply(fits, function(f) lawley_increment(f, "C1", "T1", c("T2", "INT")))
  # The same resamples: the bounded values' intervals are the percentile
  # ones whatever was asked, the validities' are not.
  expect_identical(incs$bca$delta_R2$conf.low, incs$percentile$delta_R2$conf.low)
  expect_identical(incs$bca$R2$conf.high, incs$percentile$R2$conf.high)
  regs <- lapply(fits, function(f) lawley_regression(f, "C1", c("T1", "T2", "INT")))
  expect_false(identical(regs$bca$r$conf.low, regs$percentile$r$conf.low))
  selected <- which(colnames(hired) %in% tests)
  r_squared <- function(cov, x, y) drop(cov[y, x] %*% solve(cov[x, x], cov[x, y])) / cov[y, y]
  statistic <- function(d, i) {
    cov <- lawley_solve(cov(d[i, ]), S[tests, tests], selected)
    full <- r_squared(cov, c("T1", "T2", "INT"), "C1")
    c(full, full - r_squared(cov, "T1", "C1"))
  }
  set.seed(3)
  replicates <- boot::boot(hired, statistic, R = B)
  expect_equal(c(incs$bca$R2$estimate, incs$bca$delta_R2$estimate), unname(replicates$t0),
               tolerance = 1e-10)
  for (k in 1:2) {
    t <- replicates$t[, k]
    theirs <- boot::boot.ci(replicates, conf = 0.95, type = "perc", index = k)$percent[4:5]
    got <- if (k == 1) incs$bca$R2 else incs$bca$delta_R2
    # Monte Carlo error of an end: sqrt(alpha (1 - alpha) / B) times the
    # quantile's slope; two bootstraps differ by sqrt(2) times it; 4 SDs.
    slope <- function(alpha) {
      (quantile(t, alpha + 0.005, names = FALSE) - quantile(t, alpha - 0.005, names = FALSE)) / 0.01
    }
    error <- sapply(c(0.025, 0.975), function(al) sqrt(al * (1 - al) / B) * slope(al))
    expect_true(all(abs(c(got$conf.low, got$conf.high) - theirs) <= 4 * sqrt(2) * error),
                info = sprintf("value %d: tolbe %s, boot %s", k,
                               toString(c(got$conf.low, got$conf.high)), toString(theirs)))
    expect_gte(got$conf.low, 0)
  }
})

test_that("the bootstrap's regression values come from the fit's own resamples", {
  fit <- quietly(lawley(data = hired, unrestricted = S, interval = "bootstrap", B = 50,
                        seed = 11, reliabilities = c(C1 = 0.8)))
  one <- lawley_regression(fit, "C1", tests)
  two <- lawley_regression(fit, "C1", tests)
  expect_identical(one$R$conf.low, two$R$conf.low)
  expect_identical(one$interval$method, "bootstrap")
  # The validities' intervals are the fit's for the same pairs.
  expect_equal(one$r$conf.low, unname(fit$ci$cor$lower[tests, "C1"]), tolerance = 1e-12)
  expect_equal(one$r$conf.high, unname(fit$ci$cor$upper[tests, "C1"]), tolerance = 1e-12)
})

test_that("operational correlations: only the criteria disattenuated, SEs and bounds alike", {
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8, C2 = 0.7, INT = 0.6), criteria = c("C2", "C1")))
  a <- c(T1 = 1, T2 = 1, C1 = 0.8, C2 = 0.7, INT = 1)
  scale <- sqrt(outer(a, a))
  off <- row(fit$cor) != col(fit$cor)
  expect_equal(fit$operational[off], (fit$cor / scale)[off], tolerance = 1e-14)
  expect_identical(diag(fit$operational), diag(fit$cor))
  expect_identical(dimnames(fit$operational), dimnames(fit$cor))
  expect_equal(fit$se$operational[off], (fit$se$cor / scale)[off], tolerance = 1e-14)
  expect_equal(fit$ci$operational$lower[off], (fit$ci$cor$lower / scale)[off], tolerance = 1e-14)
  expect_equal(fit$ci$operational$upper[off], (fit$ci$cor$upper / scale)[off], tolerance = 1e-14)
  expect_identical(fit$criteria, c(4L, 3L))
  # By default the criteria are the variables given reliabilities.
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests, reliabilities = c(C1 = 0.8)))
  expect_identical(fit$criteria, 3L)
  expect_equal(fit$operational["T1", "C2"], fit$cor["T1", "C2"])
  expect_equal(fit$operational["T1", "C1"], fit$cor["T1", "C1"] / sqrt(0.8))
  # Without reliabilities there are none, and the operational matrix is cor.
  fit <- lawley(cov(hired), S)
  expect_identical(fit$criteria, integer(0))
  expect_identical(fit$operational, fit$cor)
})

test_that("reliabilities measured in the restricted sample are converted", {
  v <- cov(hired)
  base <- lawley(v, S, reliabilities = c(C1 = 0.7, C2 = 0.8, INT = 1))
  fit <- lawley(v, S, reliabilities = c(C1 = 0.7, C2 = 0.8, INT = 1),
                reliability_sample = c(C1 = "restricted"))
  # r_u = 1 - (1 - r_r) v_yy / c_yy, the error variance the same in both.
  expected <- 1 - (1 - 0.7) * v["C1", "C1"] / fit$cov["C1", "C1"]
  expect_equal(fit$reliabilities[["C1"]], expected, tolerance = 1e-14)
  expect_gt(fit$reliabilities[["C1"]], 0.7)
  expect_identical(fit$reliabilities[["C2"]], 0.8)
  expect_identical(unname(fit$reliability_sample[c("C1", "C2")]), c("restricted", "unrestricted"))
  expect_equal(fit$disattenuated["T1", "C1"], fit$cor["T1", "C1"] / sqrt(expected),
               tolerance = 1e-14)
  expect_identical(fit$cov, base$cov)
  # One value for all, or one for each in order.
  all <- lawley(v, S, reliabilities = c(C1 = 0.7, C2 = 0.8, INT = 1), reliability_sample = "restricted")
  each <- lawley(v, S, reliabilities = c(C1 = 0.7, C2 = 0.8, INT = 1),
                 reliability_sample = c("restricted", "restricted", "restricted"))
  expect_identical(all$reliabilities, each$reliabilities)
  expect_equal(all$reliabilities[["C2"]], 1 - 0.2 * v["C2", "C2"] / all$cov["C2", "C2"])
  expect_identical(all$reliabilities[["INT"]], 1)
  # The default is the unrestricted population.
  expect_identical(base$reliabilities[["C1"]], 0.7)
  bad <- function(expr, pattern) expect_error(expr, pattern, class = "error")
  bad(lawley(v, S, reliability_sample = "restricted"), "none are given")
  bad(lawley(v, S, reliabilities = c(C1 = 0.7), reliability_sample = "incumbents"),
      "must be \"unrestricted\"")
  bad(lawley(v, S, reliabilities = c(C1 = 0.7), reliability_sample = c(C2 = "restricted")),
      "names C2, which has no reliability")
})

test_that("bad criterion, predictors and criteria stop with a clear message", {
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8)))
  bad <- function(expr, pattern) expect_error(expr, pattern, class = "error")
  bad(lawley_regression(fit, "C9", tests), "'criterion' names an unknown variable: C9")
  bad(lawley_regression(fit, c("C1", "C2"), tests), "'criterion' must be one variable")
  bad(lawley_regression(fit, "C1", c("T1", "T1")), "'predictors' names T1 more than once")
  bad(lawley_regression(fit, "C1", c("T1", "C1")), "the criterion C1 is among the predictors")
  bad(lawley_regression(fit, "C1", c(1, 9)), "'predictors' holds numbers outside 1..5")
  bad(lawley_regression(fit, "C1", character(0)), "at least one variable")
  bad(lawley_regression(fit, "C1", list("T1")), "variable names or whole numbers")
  bad(lawley_regression(fit), "give 'predictors'|give 'criterion'")
  bad(lawley_regression(cov(hired), "C1", tests), "'fit' must be what lawley\\(\\) returns")
  bad(lawley_increment(fit, "C1", tests, character(0)), "give 'added'")
  # An increment's refusals name its own arguments, never 'predictors'.
  bad(lawley_increment(fit, "C1", tests, "T1"), "^'base' and 'added' both name T1$")
  bad(lawley_increment(fit, "C1", c("T1", "T1"), "INT"), "^'base' names T1 more than once$")
  bad(lawley_increment(fit, "C1", tests, c("INT", "INT")), "^'added' names INT more than once$")
  bad(lawley_increment(fit, "C1", tests, "C1"), "^the criterion C1 is among 'added'$")
  bad(lawley_increment(fit, "C1", c("T1", "C1"), "INT"), "^the criterion C1 is among 'base'$")
  bad(lawley_increment(fit, "C1", tests, "Z"), "^'added' names an unknown variable: Z$")
  bad(lawley_increment(fit, "C1", c(1, 9), "INT"), "^'base' holds numbers outside 1..5$")
  bad(lawley_increment(fit, "C1", tests, list("INT")), "^'added' must be variable names or whole")
  # Names and numbers mixed between the two are the same question.
  expect_identical(lawley_increment(fit, "C1", 1:2, "INT")$delta_R2,
                   lawley_increment(fit, "C1", tests, 5)$delta_R2)
  bad(lawley(data = hired, pool = pool, selection = tests, criteria = "T1"),
      "'criteria' names the selection variable T1")
  bad(lawley(data = hired, pool = pool, selection = tests, criteria = "Z"),
      "'criteria' names an unknown variable: Z")
  bad(lawley(data = hired, pool = pool, selection = tests, criteria = c("C1", "C1")),
      "'criteria' names C1 more than once")
  # A predictor that is another's copy: its block is not positive definite.
  twin <- cbind(hired, T3 = hired[, "T1"] * 2)
  fit <- quietly(lawley(data = twin, unrestricted = S, selection = tests))
  bad(lawley_regression(fit, "C1", c("T1", "T3")), "not positive definite")
})

test_that("summary, as.data.frame and confint(tidy = TRUE) give the validities in tidy form", {
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8, C2 = 0.7)))
  s <- summary(fit)
  expect_identical(nrow(s$validity), 6L)
  expect_identical(names(s$validity)[1:6], c("predictor", "criterion", "restricted", "corrected",
                                             "corrected.low", "corrected.high"))
  row <- s$validity[s$validity$predictor == "T1" & s$validity$criterion == "C2", ]
  expect_equal(row$restricted, cor(hired)["T1", "C2"], tolerance = 1e-12)
  expect_identical(row$operational.high, fit$ci$operational$upper[["T1", "C2"]])
  expect_identical(row$disattenuated, fit$disattenuated[["T1", "C2"]])
  expect_s3_class(s$regressions[[1]], "tolbe_regression")
  expect_identical(s$increments[[2]]$added, "INT")
  out <- capture.output(print(s))
  expect_true(any(grepl("Validities \\(criteria: C1 \\(r_yy = 0.8\\), C2 \\(r_yy = 0.7\\)\\)", out)))
  expect_true(any(grepl("Increment of INT over T1, T2 in predicting C2", out)))

  tidy <- as.data.frame(fit)
  expect_identical(names(tidy), c("term", "predictor", "criterion", "quantity", "estimate",
                                  "std.error", "conf.low", "conf.high"))
  expect_identical(nrow(tidy), 24L)
  pairs <- confint(fit, tidy = TRUE)
  expect_identical(names(pairs), c("term", "estimate", "std.error", "conf.low", "conf.high"))
  expect_equal(pairs$conf.low, unname(confint(fit)[, 1]))
  expect_identical(confint(fit, "T1-C1", which = "operational", tidy = TRUE)$estimate,
                   fit$operational[["T1", "C1"]])
  reg_table <- as.data.frame(lawley_regression(fit, "C1", tests))
  expect_named(reg_table, c("term", "estimate", "std.error", "conf.low", "conf.high"))
  # The validities and operational validities are in it, as on the command line.
  expect_identical(reg_table$estimate[reg_table$term == "r:T1"], fit$cor[["T1", "C1"]])
  expect_identical(reg_table$estimate[reg_table$term == "operational:T2"],
                   fit$operational[["T2", "C1"]])
  low <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.2)))
  expect_output(print(lawley_regression(low, "C1", tests)),
                "an operational value above 1: the criterion's reliability is likely too low")
  # confint()'s matrix form is as before.
  expect_identical(dim(confint(fit)), c(10L, 2L))

  expect_output(print(fit), "Selection variables: T1, T2\nCriteria: C1 \\(r_yy = 0.8\\)")
  expect_output(print(fit), "delta method, distribution-free \\(ADF\\)")
  expect_output(print(lawley(cov(hired), S)), "Intervals: none")
})

test_that("the validity plot writes a PNG", {
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8, C2 = 0.7)))
  file <- tempfile(fileext = ".png")
  png(file, width = 3.5, height = 3, units = "in", res = 300, pointsize = 8)
  table <- plot(fit, which = "validity")
  dev.off()
  expect_gt(file.size(file), 5000)
  expect_identical(nrow(table), 6L)
  # The paper's figure, when asked for.
  out <- Sys.getenv("TOLBE_VALIDITY_PLOT")
  if (nzchar(out)) file.copy(file, out, overwrite = TRUE)
  expect_error(plot(lawley(cov(hired), S), which = "validity"), "no predictor-criterion pairs")
})
