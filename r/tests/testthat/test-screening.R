# The library's screening of raw scores and sample sizes, its rule of
# default predictors and its bound on the intervals' memory, as R shows
# them: findings like the others, in the library's words.

codes_of <- function(expr) said(expr)$code

test_that("no more complete rows than variables is an error, with or without diagnostics", {
  few <- hired[1:4, ]
  words <- paste("the restricted sample has n = 4 for 5 variables: a var/cov matrix of 5",
                 "variables needs more rows (people with every score) than that, and every",
                 "result would be meaningless")
  for (diagnostics in c(TRUE, FALSE)) {
    for (call in list(quote(lawley(data = few, pool = pool, selection = tests,
                                   diagnostics = diagnostics)),
                      quote(lawley(data = few, unrestricted = S, diagnostics = diagnostics)))) {
      got <- said(eval(call))
      expect_identical(got$severity, "error")
      expect_identical(got$code, "too_few_rows")
      expect_identical(got$message, words)
    }
  }
  # Rows with an NA do not count.
  holed <- hired[1:7, ]
  holed[1:2, "C2"] <- NA
  holed[3, "INT"] <- NA
  expect_identical(said(lawley(data = holed, unrestricted = S))$message, words)
  # Matrices with n: the same rule on n.
  expect_identical(codes_of(lawley(cov(hired), S, n = 5)), "too_few_rows")
  expect_identical(codes_of(lawley(cov(hired), S, n = 5, diagnostics = FALSE)), "too_few_rows")
  # Six rows for five variables are enough not to stop.
  expect_false("too_few_rows" %in% codes_of(lawley(data = hired[1:6, ], unrestricted = S)))
})

test_that("a small sample is a warning that names n and q", {
  got <- said(lawley(cov(hired), S, n = 30))
  row <- which(got$code == "small_sample")
  expect_identical(length(row), 1L)
  expect_identical(got$severity[row], "warning")
  expect_match(got$message[row], "^the restricted sample has n = 30 for 5 variables")
  expect_false("small_sample" %in% codes_of(lawley(cov(hired), S, n = 50)))
  expect_true("small_sample" %in% codes_of(lawley(data = hired[1:49, ], unrestricted = S)))
  expect_false("small_sample" %in% codes_of(lawley(data = hired[1:50, ], unrestricted = S)))
  # Without n nothing is known of the sample size.
  expect_false(any(c("small_sample", "too_few_rows") %in% codes_of(lawley(cov(hired), S))))
  fit <- quietly(lawley(cov(hired), S, n = 30))
  expect_true("small_sample" %in% fit$findings$code)
})

test_that("a missing-value code in the data is a warning naming its row and column", {
  coded <- hired
  coded[2, "C1"] <- -99
  got <- said(fit <- lawley(data = coded, pool = pool, selection = tests))
  row <- which(got$code == "suspect_code")
  expect_identical(length(row), 1L)
  expect_identical(got$severity[row], "warning")
  expect_match(got$message[row], "^row 2 of C1 holds -99, which looks like a missing-value code")
  expect_match(got$message[row], "make it NA")
  expect_identical(fit$findings$variables[[which(fit$findings$code == "suspect_code")]],
                   c(C1 = 3L))
  # Rows are numbered as the data frame's, those with an NA counted.
  holed <- coded
  holed[1, "INT"] <- NA
  holed[2, "C1"] <- 50
  holed[5, "T2"] <- 999
  got <- said(lawley(data = holed, pool = pool, selection = tests))
  expect_match(got$message[which(got$code == "suspect_code")], "^row 5 of T2 holds 999")
  # Unnamed, the column is a number.
  got <- said(lawley(data = unname(coded), unrestricted = unname(S)))
  expect_match(got$message[which(got$code == "suspect_code")], "^row 2 of variable 3 holds -99")
  # A value far out that is no code.
  far <- hired
  far[7, "C2"] <- 20 + 4 * 40
  expect_match(said(lawley(data = far, unrestricted = S))$message, "^row 7 of C2", all = FALSE)
  # Without diagnostics nothing is screened but the number of rows.
  expect_silent(lawley(data = coded, pool = pool, selection = tests, diagnostics = FALSE))
})

test_that("a pool that is not all the applicants is a warning", {
  rejected <- pool[pool[, "T1"] <= 110, ]
  expect_true("pool_without_selected" %in% codes_of(lawley(data = hired, pool = rejected,
                                                           selection = tests)))
  twice <- rbind(pool, hired)
  expect_true("pool_holds_selected_twice" %in% codes_of(lawley(data = hired, pool = twice,
                                                               selection = tests)))
  right <- codes_of(lawley(data = hired, pool = pool, selection = tests))
  expect_false(any(c("pool_without_selected", "pool_holds_selected_twice") %in% right))
  # The selection variables elsewhere than first in the data, in another
  # order, and the pool's columns in yet another: matched by variable.
  moved <- hired[, c("C1", "T2", "C2", "INT", "T1")]
  for (selection in list(tests, rev(tests))) {
    for (applicants in list(pool, pool[, c("INT", "T2", "C1", "T1")])) {
      expect_false(any(c("pool_without_selected", "pool_holds_selected_twice") %in%
                         codes_of(lawley(data = moved, pool = applicants, selection = selection))))
    }
    expect_true("pool_without_selected" %in%
                  codes_of(lawley(data = moved, pool = rejected, selection = selection)))
    expect_true("pool_holds_selected_twice" %in%
                  codes_of(lawley(data = moved, pool = twice, selection = selection)))
  }
})

test_that("a criterion is never a default predictor in summary()", {
  # C1 the criterion named; C2 given a reliability, so a criterion too.
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests,
                        reliabilities = c(C1 = 0.8, C2 = 0.7), criteria = "C1"))
  table <- as.data.frame(fit)
  expect_false("C2" %in% table$predictor)
  expect_setequal(unique(table$predictor), c("T1", "T2", "INT"))
  s <- summary(fit)
  expect_identical(length(s$regressions), 1L)
  expect_identical(s$regressions[[1]]$predictors, c("T1", "T2", "INT"))
  expect_identical(s$increments[[1]]$added, "INT")
  expected <- lawley_regression(fit, "C1", c("T1", "T2", "INT"))$R
  expect_identical(s$regressions[[1]]$R, expected)
  # Criteria by default (those given reliabilities) are not each other's predictors.
  both <- summary(quietly(lawley(data = hired, pool = pool, selection = tests,
                                 reliabilities = c(C1 = 0.8, C2 = 0.7))))
  for (r in both$regressions) expect_identical(r$predictors, c("T1", "T2", "INT"))
  # Every variable but the selection ones a criterion: the selection ones.
  all <- summary(quietly(lawley(cov(hired)[c(tests, "C1", "C2"), c(tests, "C1", "C2")], S,
                                selection = tests, reliabilities = c(C1 = 0.8, C2 = 0.7))))
  expect_identical(length(all$regressions), 2L)
  expect_identical(all$regressions[[1]]$predictors, tests)
})

test_that("a bootstrap that would need more than 1 GiB is refused at once", {
  set.seed(5)
  wide <- matrix(rnorm(200 * 50), 200, dimnames = list(NULL, paste0("v", 1:50)))
  took <- system.time(got <- said(lawley(data = wide, unrestricted = diag(2),
                                         interval = "bootstrap", B = 1e6)))[["elapsed"]]
  expect_lt(took, 5)
  expect_identical(got$severity, "error")
  expect_match(got$message, paste("^the intervals would need about [0-9]+ MiB of memory, more",
                                  "than the 1024 MiB tolbe allows itself; use fewer resamples$"))
  # The same call with few resamples runs.
  fit <- quietly(lawley(data = wide[, 1:4], unrestricted = diag(2), interval = "bootstrap",
                        B = 20, seed = 1, threads = 1))
  expect_identical(fit$interval$B, 20L)
})

test_that("a heavy-tailed criterion below 1000 rows is a warning naming it, with its kurtosis", {
  # C1 made a standardised chi-square(1): its excess kurtosis, written out
  # here over the scores within 10 robust SDs of the median (those further
  # out are outlying values, said on their own), passes 3.
  set.seed(5)
  skewed <- hired[1:300, ]
  skewed[, "C1"] <- 50 + 10 * (rnorm(300)^2 - 1) / sqrt(2)
  excess <- function(x) mean((x - mean(x))^4) / mean((x - mean(x))^2)^2 - 3
  x <- skewed[, "C1"]
  kurtosis <- excess(x[abs(x - median(x)) / mad(x) <= 10])
  expect_gt(kurtosis, 3)
  got <- said(lawley(data = skewed, unrestricted = S))
  heavy <- got[got$code == "heavy_tails", ]
  expect_identical(nrow(heavy), 1L)
  expect_identical(heavy$severity, "warning")
  expect_identical(sub(" \\(excess.*", "", heavy$message), "C1 has heavy tails in the restricted sample")
  shown <- sub("^[^(]*\\(excess kurtosis ([0-9.]+)\\).*", "\\1", heavy$message)
  expect_equal(as.numeric(shown), kurtosis, tolerance = 1e-3)
  # From 1000 rows on it is not said.
  many <- skewed[rep(1:300, 4)[1:1000], ]
  expect_false("heavy_tails" %in% codes_of(lawley(data = many, unrestricted = S)))
})
