# correct_r(): single validity coefficients corrected by the library,
# against the formulas written out here.

test_that("direct: Case II and its SE are the closed forms", {
  r <- c(0.25, -0.1, 0.4)
  ux <- c(0.6, 0.8, 1.2)
  n <- c(120L, 60L, 300L)
  got <- correct_r(r, n = n, ux = ux, ryy = 0.52)
  U <- 1 / ux
  x <- r / sqrt(0.52)
  d <- 1 + x^2 * (U^2 - 1)
  rho <- U * x / sqrt(d)
  se <- U / d^1.5 / sqrt(0.52) * (1 - r^2) / sqrt(n - 1)
  expect_equal(got$rho_operational, rho, tolerance = 1e-12)
  expect_equal(got$rho_operational_se, se, tolerance = 1e-12)
  z <- qnorm(0.975)
  expect_equal(got$rho_operational_lower, tanh(atanh(rho) - z * se / (1 - rho^2)),
               tolerance = 1e-12)
  expect_true(all(is.na(got$rho_true)))
  expect_identical(got$problem, rep(NA_character_, 3))
})

test_that("indirect: Hunter, Schmidt and Le's steps, vectorised with recycling", {
  got <- correct_r(c(0.2, 0.3), n = 100, method = "indirect", ux = 0.7, rxx = 0.85, ryy = 0.6)
  rxx_i <- 1 - (1 - 0.85) / 0.7^2
  ut <- sqrt((0.7^2 - (1 - 0.85)) / 0.85)
  x <- c(0.2, 0.3) / sqrt(rxx_i * 0.6)
  rho_tp <- (x / ut) / sqrt(1 + x^2 * (1 / ut^2 - 1))
  expect_equal(got$rho_true, rho_tp, tolerance = 1e-12)
  expect_equal(got$rho_operational, rho_tp * sqrt(0.85), tolerance = 1e-12)
  expect_equal(got$ut, rep(ut, 2), tolerance = 1e-12)
  expect_identical(got$n, c(100L, 100L))
})

test_that("a study that cannot be corrected is NA with its reason, and warned", {
  warned <- said(got <- correct_r(c(0.3, 0.3, 1), method = "indirect", ux = c(0.8, 0.5, 0.8),
                                  rxx = 0.7))
  expect_identical(warned$code, c("u_true_undefined", "r_out_of_range"))
  expect_match(warned$message[1], "^study 2: u of the true scores is not defined")
  expect_match(warned$message[2], "^study 3: the observed correlation must lie")
  expect_identical(got$problem[2], "u_true_undefined")
  expect_true(is.na(got$rho_true[2]) && is.na(got$rho_operational[2]))
  expect_identical(got$problem[3], "r_out_of_range")
  expect_false(is.na(got$rho_true[1]))
  expect_error(correct_r(0.3, ux = 0.7, rxx_sample = "applicants"), "'rxx_sample' must be")
  expect_error(correct_r("0.3", ux = 0.7), "'r' must be numbers")
})
