fixture <- function(name) test_path("fixtures", name)
read_matrix <- function(name) unname(as.matrix(read.csv(fixture(name), header = FALSE)))

ree_v <- matrix(c(25.311, -1.6725, 13.0447, 5.0939,
                  -1.6725, 17.7073, -10.7549, 9.468,
                  13.0447, -10.7549, 1372.0356, 52.7834,
                  5.0939, 9.468, 52.7834, 351.5625), 4,
                dimnames = list(c("x1", "x2", "y1", "y2"), c("x1", "x2", "y1", "y2")))
ree_s <- matrix(c(36.4816, 6.1608, 6.1608, 16.6464), 2,
                dimnames = list(c("x1", "x2"), c("x1", "x2")))
worked_v <- matrix(c(1, 0.5, 0.3, 0.5, 1, 0.4, 0.3, 0.4, 1), 3)
worked_s <- matrix(c(1.44, 0.6, 0.6, 1.21), 2)

test_that("the examples equal the program's own numbers to the last bit", {
  for (example in c("worked", "fifty")) {
    v <- read_matrix(paste0(example, "-restricted.csv"))
    s <- read_matrix(paste0(example, "-unrestricted.csv"))
    rel <- read.csv(fixture(paste0(example, "-reliabilities.csv")), header = FALSE)[[1]]
    fit <- quietly(lawley(v, s, reliabilities = rel))
    program <- read.csv(fixture(paste0(example, "-results.csv")))
    q <- nrow(v)
    for (m in c("corrected_cov", "corrected_corr", "disattenuated_corr")) {
      rows <- program[program$matrix == m, ]
      expected <- unname(as.matrix(rows[, paste0("v", seq_len(q))]))
      got <- switch(m, corrected_cov = fit$cov, corrected_corr = fit$cor,
                    disattenuated_corr = fit$disattenuated)
      expect_identical(unname(got), expected, info = paste(example, m))
    }
  }
})

test_that("one selection variable and one other is Thorndike's Case II", {
  for (case in list(c(0.3, 1.5), c(0.5, 2), c(-0.4, 1.2))) {
    r <- case[1]
    u <- case[2]
    v <- matrix(c(1, r, r, 1), 2)
    fit <- quietly(lawley(v, matrix(u^2, 1)))
    expect_equal(fit$cor[1, 2], r * u / sqrt(1 - r^2 + r^2 * u^2), tolerance = 1e-14)
  }
})

test_that("the Ree et al. (1994) published values", {
  notes <- said(fit <- lawley(ree_v, ree_s))
  # x2's unrestricted variance is a little below its restricted one.
  expect_identical(notes$code, c("selection_variance_grew", "selection_sign_change"))
  expect_identical(notes$severity, c("warning", "note"))
  expect_identical(notes$message[2], paste("the correlation of x1 and x2, both selection variables,",
                                           "changes sign: there the unrestricted matrix replaces the",
                                           "restricted one, not the correction"))
  expect_match(notes$message[1], "^the unrestricted variance of x2, a selection variable, is below")
  published <- c(x1.x2 = 0.25, x1.y1 = 0.06254509, x1.y2 = 0.10664023,
                 x2.y1 = -0.04246105, x2.y2 = 0.13994188, y1.y2 = 0.07959423)
  got <- c(fit$cor["x1", "x2"], fit$cor["x1", "y1"], fit$cor["x1", "y2"],
           fit$cor["x2", "y1"], fit$cor["x2", "y2"], fit$cor["y1", "y2"])
  expect_true(all(abs(unname(got) - unname(published)) < 5e-9))
  expect_equal(fit$diagnostics$sign_changes, 1L)
  expect_output(print(fit), "Sign changes against the restricted sample \\(1\\): x1-x2")
  expect_output(print(fit), "Selection variables: x1, x2")
})

test_that("the sign-change pairs are as many as the diagnostics count, each a valid pair", {
  # A negative restricted variance: its correlations have a sign but no size.
  v <- matrix(c(1, 0.9, 0.9, 0.9, -0.1, -0.1, 0.9, -0.1, 1), 3)
  for (selection in list(NULL, 1L)) {
    fit <- quietly(lawley(v, matrix(4, 1), selection = selection))
    pairs <- fit$diagnostics$sign_change_pairs
    expect_identical(nrow(pairs), fit$diagnostics$sign_changes)
    expect_identical(colnames(pairs), c("row", "column"))
    expect_true(all(pairs >= 1L & pairs <= 3L))
    expect_true(all(pairs[, "row"] < pairs[, "column"]))
    changed <- which(upper.tri(v) & v * fit$cor < 0, arr.ind = TRUE)
    expect_identical(unname(pairs), unname(changed))
  }
  none <- quietly(lawley(worked_v, worked_s))$diagnostics
  expect_identical(dim(none$sign_change_pairs), c(0L, 2L))
  expect_identical(none$sign_changes, 0L)
})

test_that("selection by names, by numbers and at any positions is the reordered problem", {
  order <- c("y1", "x2", "y2", "x1")
  moved <- ree_v[order, order]
  by_names <- quietly(lawley(moved, ree_s, selection = c("x1", "x2")))
  by_numbers <- quietly(lawley(moved, ree_s, selection = c(4, 2)))
  by_default <- quietly(lawley(moved, ree_s))  # the names of 'unrestricted' match
  leading <- quietly(lawley(ree_v, ree_s))
  expect_identical(by_names$cov, leading$cov[order, order])
  expect_identical(unname(by_numbers$cov), unname(leading$cov[order, order]))
  expect_identical(by_default$cov, by_names$cov)
  expect_identical(by_names$selection, c(4L, 2L))
})

test_that("names of 'unrestricted' that 'restricted' lacks are an error, not the first p", {
  s2 <- `dimnames<-`(ree_s, rep(list(c("test1", "test2")), 2))
  expect_error(lawley(ree_v, s2),
               "'unrestricted' names variables that 'restricted' lacks: test1, test2.*'selection'")
  partly <- `dimnames<-`(ree_s, rep(list(c("x1", "test2")), 2))
  expect_error(lawley(ree_v, partly), "lacks: test2;")
  expect_error(lawley(unname(ree_v), ree_s), "'restricted' has none.*x1, x2.*'selection'")
  # With 'selection' too, the names must be those of the selection.
  expect_error(lawley(ree_v, s2, selection = c("x1", "x2")),
               "^the unrestricted matrix is that of test1, test2, but 'selection' names x1, x2$")
  # Without names of 'restricted' to match them to, 'selection' says which.
  expect_identical(quietly(lawley(unname(ree_v), ree_s, selection = 1:2))$cov,
                   unname(quietly(lawley(ree_v, ree_s))$cov))
  # An unnamed 'unrestricted' is the first p variables.
  expect_identical(quietly(lawley(ree_v, unname(ree_s)))$selection, 1:2)
})

test_that("all variables selected; none is refused", {
  all <- quietly(lawley(worked_v[1:2, 1:2], worked_s))
  expect_identical(all$cov, worked_s)
  # Corrected by no selection variable, the restricted matrix would come
  # back unchanged as if corrected.
  expect_error(lawley(worked_v, matrix(numeric(0), 0, 0)),
               "^'unrestricted' has no variables \\(it is 0 x 0\\)")
})

test_that("one road: every way of giving a problem builds the same object", {
  expect_false(exists("C_lawley_plain", envir = asNamespace("tolbe")))
  named <- `dimnames<-`(worked_v, rep(list(c("a", "b", "c")), 2))
  fit <- quietly(lawley(named, worked_s, reliabilities = c(c = 0.81)))
  expect_identical(fit, quietly(lawley(named, worked_s, selection = c("a", "b"),
                                       reliabilities = 0.81)))
  expect_identical(fit, quietly(lawley(named, worked_s, selection = 1:2, reliabilities = c(c = 0.81))))
  expect_identical(fit, quietly(lawley(named, `dimnames<-`(worked_s, rep(list(c("a", "b")), 2)),
                                       reliabilities = 0.81)))
  plain <- quietly(lawley(worked_v, worked_s, reliabilities = 0.81))
  expect_identical(unname(plain$cov), unname(fit$cov))
  expect_identical(plain$selection, 1:2)
  expect_identical(plain$findings$code, fit$findings$code)
  # Integer matrices, a data frame, numbers as doubles.
  expect_identical(quietly(lawley(matrix(c(4L, 2L, 2L, 3L), 2), matrix(9L, 1)))$cov,
                   quietly(lawley(matrix(c(4, 2, 2, 3), 2), matrix(9, 1)))$cov)
  expect_identical(quietly(lawley(worked_v, worked_s, selection = c(1, 2)))$cov, plain$cov)
  expect_identical(lawley(as.data.frame(worked_v), worked_s, diagnostics = FALSE)$cov,
                   lawley(`dimnames<-`(worked_v, list(NULL, paste0("V", 1:3))), worked_s,
                          diagnostics = FALSE)$cov)
  # Without diagnostics the same numbers, and no diagnostics or findings.
  quiet <- lawley(named, worked_s, reliabilities = c(c = 0.81), diagnostics = FALSE)
  expect_identical(quiet[c("cov", "cor", "disattenuated", "selection", "restricted")],
                   fit[c("cov", "cor", "disattenuated", "selection", "restricted")])
  expect_null(quiet$diagnostics)
  expect_null(quiet$findings)
  expect_error(lawley(worked_v, worked_s, diagnostics = NA), "'diagnostics' must be TRUE or FALSE")
  asymmetric <- worked_v
  asymmetric[2, 1] <- 0.7
  expect_identical(said(lawley(asymmetric, worked_s)),
                   said(lawley(asymmetric, worked_s, selection = 1:2)))
  nothing_beyond <- quietly(lawley(worked_v[1:2, 1:2], worked_s, reliabilities = numeric(0)))
  expect_identical(nothing_beyond$disattenuated, nothing_beyond$cor)
})

test_that("a value that is not finite where the correction does not read it is ignored, with a note", {
  unread <- paste("the restricted var/cov matrix holds a value that is not a finite number for",
                  "variable 2 (row) and variable 1 (column), where the correction reads nothing")
  v <- worked_v
  v[2, 1] <- NA  # the lower triangle of the selection block
  notes <- said(fit <- lawley(v, worked_s))
  expect_identical(notes$code, c("correlations_beside_covariances", "unread_not_finite"))
  expect_identical(notes$message[2], unread)
  expect_identical(said(fit_by_number <- lawley(v, worked_s, selection = 1:2)), notes)
  expect_identical(fit_by_number, fit)
  expect_identical(fit$cov, quietly(lawley(worked_v, worked_s))$cov)
  expect_identical(fit$diagnostics$restricted_asymmetry, 0)
  expect_identical(unname(fit$diagnostics$unread_not_finite), matrix(c(2L, 1L), 1))
  expect_silent(quiet <- lawley(v, worked_s, diagnostics = FALSE))
  expect_identical(quiet$cov, fit$cov)
  # The other rows of the selection columns are not read either; the
  # asymmetry is measured on the values that are finite.
  v <- worked_v
  v[3, 1] <- Inf
  v[3, 2] <- 0.7
  notes <- said(fit <- lawley(v, worked_s))
  expect_identical(said(lawley(v, worked_s, selection = 1:2)), notes)
  expect_true(paste("the restricted var/cov matrix holds a value that is not a finite number for",
                    "variable 3 (row) and variable 1 (column), where the correction reads",
                    "nothing") %in% notes$message)
  expect_equal(fit$diagnostics$restricted_asymmetry, 0.3, tolerance = 1e-15)
  expect_identical(fit$cov, quietly(lawley(worked_v, worked_s))$cov)
  means <- list(restricted_means = c(50, 20, 10), unrestricted_means = c(47, 23))
  expect_identical(quietly(do.call(lawley, c(list(v, worked_s), means)))$means,
                   quietly(do.call(lawley, c(list(worked_v, worked_s), means)))$means)
  # Named, and with the selection variables elsewhere.
  order <- c("y1", "x2", "y2", "x1")
  moved <- ree_v[order, order]
  moved["x2", "x1"] <- NA  # below the diagonal of the selection block in selection order
  notes <- said(fit <- lawley(moved, ree_s))
  expect_true(any(grepl("not a finite number for x2 \\(row\\) and x1 \\(column\\)", notes$message)))
  expect_identical(fit$cov, quietly(lawley(ree_v[order, order], ree_s))$cov)
  # Where the correction reads, the call stops and names the place.
  for (place in list(c(1, 1), c(2, 2), c(1, 2), c(1, 3), c(3, 3))) {
    v <- worked_v
    v[place[1], place[2]] <- NA
    where <- sprintf("'restricted' holds NA or values that are not finite numbers where the correction reads it: \\[%d, %d\\]$", place[1], place[2])
    expect_error(lawley(v, worked_s), where)
    expect_error(lawley(v, worked_s, selection = 1:2), where)
    expect_error(lawley(v, worked_s, diagnostics = FALSE), where)
  }
  many <- ree_v
  many[c("y1", "y2"), c("y1", "y2")] <- NA
  many["x1", c("y1", "y2")] <- NaN
  many["x2", "y2"] <- Inf
  expect_error(lawley(many, ree_s), paste0(
    "where the correction reads it: \\[x1, y1\\], \\[y1, y1\\], \\[y2, y1\\], ",
    "\\[x1, y2\\], \\[x2, y2\\], and 2 more$"))
  # The selection block is read in selection order: x2 before x1.
  reversed <- ree_v
  reversed["x2", "x1"] <- NA
  reversed["x2", "x2"] <- NA
  expect_error(lawley(reversed, ree_s[2:1, 2:1]),
               "where the correction reads it: \\[x2, x1\\], \\[x2, x2\\]$")
  s_na <- ree_s
  s_na[2, 2] <- NA
  expect_error(lawley(ree_v, s_na),
               "'unrestricted' holds NA or values that are not finite numbers: \\[x2, x2\\]")
})

test_that("reliabilities named or in order give the disattenuated matrix", {
  named <- quietly(lawley(ree_v, ree_s, reliabilities = c(y2 = 0.9, y1 = 0.81)))
  ordered <- quietly(lawley(ree_v, ree_s, reliabilities = c(0.81, 0.9)))
  expect_identical(named$disattenuated, ordered$disattenuated)
  expect_equal(named$disattenuated["x1", "y1"], named$cor["x1", "y1"] / 0.9)
  # A subset by name: the others are taken as 1, and a message says which.
  notes <- said(some <- lawley(ree_v, ree_s, reliabilities = c(y2 = 0.9)))
  expect_identical(notes$message[1], paste("'reliabilities' names no reliability for y1; it is",
                                           "taken as 1 (not corrected for attenuation)"))
  expect_identical(some$disattenuated,
                   quietly(lawley(ree_v, ree_s, reliabilities = c(1, 0.9)))$disattenuated)
  expect_identical(some$disattenuated["x1", "y1"], some$cor["x1", "y1"])
  expect_error(lawley(unname(ree_v), ree_s, selection = 1:2, reliabilities = c(y2 = 0.9)),
               "'reliabilities' are named, but 'restricted' has no dimnames")
  expect_error(lawley(ree_v, ree_s, reliabilities = c(y2 = 0.9, 0.8)),
               "'reliabilities' names some values but not all")
  expect_error(lawley(ree_v, ree_s, reliabilities = c(y1 = "a")), "finite numbers")
  expect_error(lawley(ree_v, ree_s, reliabilities = c(x1 = 0.8, x2 = 0.9)),
               "^x1, x2 are selection variables; reliabilities are for the other variables: y1, y2$")
  expect_error(lawley(ree_v[1:2, 1:2], ree_s, reliabilities = c(x1 = 0.8)),
               "x1 is a selection variable; every variable is a selection variable")
})

test_that("every error is a clear condition raised before computing", {
  expect_error(lawley("a", worked_s), "'restricted' must be a numeric matrix")
  expect_error(lawley(worked_v[, 1:2], worked_s), "'restricted' must be square, not 3 x 2")
  expect_error(lawley(worked_s, worked_v), "has only 2 variables")
  bad <- worked_v
  bad[2, 3] <- NA
  expect_error(lawley(bad, worked_s), "'restricted' holds NA")
  expect_error(lawley(worked_v, worked_s, selection = c(1, 4)), "outside 1..3")
  expect_error(lawley(worked_v, worked_s, selection = c(1, 1)), "repeats a variable")
  expect_error(lawley(worked_v, worked_s, selection = 1), "names 1 variables")
  expect_error(lawley(ree_v, ree_s, selection = c("x1", "z")), "an unknown variable: z")
  expect_error(lawley(ree_v, ree_s, selection = c("w", "z")), "unknown variables: w, z")
  expect_error(lawley(worked_v, worked_s, selection = c("a", "b")), "has no dimnames")
  expect_error(lawley(worked_v, worked_s, selection = c(1.5, 2)), "whole numbers")
  expect_error(lawley(worked_v, worked_s, reliabilities = c(0.8, 0.9)), "one value for each of the 1")
  expect_error(lawley(worked_v, worked_s, reliabilities = NA_real_), "finite numbers")
  expect_error(lawley(ree_v, ree_s, reliabilities = c(x1 = 0.8, y1 = 0.9)),
               "x1 is a selection variable; reliabilities are for the other variables: y1, y2")
  expect_error(lawley(worked_v, worked_s, reliabilities = NA_real_),
               "the one for variable 3 is NA")
  expect_error(lawley(ree_v, ree_s, selection = c("x1", "x1")), "repeats a variable: x1")
  expect_error(lawley(ree_v, ree_s, selection = c(TRUE, FALSE)), "whole numbers")
  expect_error(lawley(ree_v, list(1)), "'unrestricted' must be a numeric matrix")
  singular <- worked_v
  singular[2, 2] <- 0.25
  expect_error(lawley(singular, worked_s), "leading minor of order 2")
  expect_error(lawley(worked_v, worked_s, restricted_means = 1:3), "or neither")
  asymmetric <- worked_v
  asymmetric[2, 1] <- 0.7
  expect_error(withCallingHandlers(lawley(asymmetric, worked_s, restricted_means = 1:3),
                                   warning = function(w) stop("computed first")), "or neither")
  expect_error(lawley(worked_v, worked_s, restricted_means = 1:2, unrestricted_means = 1:2),
               "'restricted_means' must be 3")
  expect_error(lawley(worked_v, worked_s, restricted_means = 1:3, unrestricted_means = 1),
               "'unrestricted_means' must be 2")
  expect_error(cor2cov(diag(2), 1), "'sd' must be 2")
})

test_that("every warning of the library, as a warning", {
  asymmetric <- worked_v
  asymmetric[2, 1] <- 0.7
  s <- worked_s
  s[2, 1] <- 0.9
  whole <- worked_v
  whole[3, 3] <- 0.1
  cases <- list(
    list(quote(lawley(asymmetric, worked_s)), "restricted_asymmetric"),
    list(quote(lawley(worked_v, s)), "unrestricted_asymmetric"),
    list(quote(lawley(worked_v, matrix(c(1, 2, 2, 1), 2))), "unrestricted_not_positive_definite"),
    list(quote(lawley(whole, worked_s)), "restricted_not_positive_definite"),
    list(quote(lawley(matrix(c(1, 0.9, 0.9, 1), 2), matrix(-1, 1))),
         "corrected_variance_not_positive"),
    list(quote(lawley(whole, worked_s)), "correlation_out_of_range"),
    list(quote(lawley(worked_v, worked_s, reliabilities = 0.01)), "disattenuated_out_of_range"),
    list(quote(lawley(worked_v, worked_s, reliabilities = 81)), "reliability_out_of_range"))
  for (case in cases) {
    got <- said(eval(case[[1]]))
    expect_identical(got$severity[got$code %in% case[[2]]], "warning", info = case[[2]])
  }
  expect_silent(lawley(worked_v, worked_s, reliabilities = 81, diagnostics = FALSE))
})

test_that("warnings name variables by name, else by number from 1", {
  # The corrected variance of variable 3 is negative, and so its
  # correlations are not numbers.
  v <- matrix(c(1, 0, 0.5, 0, 1, 0, 0.5, 0, 0.1), 3)
  expect_first <- function(call, expected) {
    got <- said(call)
    for (text in expected) expect_true(text %in% got$message, info = text)
  }
  variance <- function(name) {
    sprintf("the corrected variance of %s is not positive; its correlations are not numbers", name)
  }
  correlation <- function(a, b) {
    sprintf(paste("the corrected correlation of %s and %s is not a number (a variance it",
                  "divides by is not positive) (2 in all)"), a, b)
  }
  expect_first(lawley(v, matrix(0.2, 1)),
               c(variance("variable 3"), correlation("variable 1", "variable 3")))
  expect_first(lawley(v[c(2, 3, 1), c(2, 3, 1)], matrix(0.2, 1), selection = 3),
               c(variance("variable 2"), correlation("variable 1", "variable 2")))
  named <- `dimnames<-`(v, rep(list(c("a", "b", "c")), 2))
  expect_first(lawley(named, matrix(0.2, 1)), c(variance("c"), correlation("a", "c")))
  expect_first(lawley(worked_v, worked_s, reliabilities = 0.01), paste(
    "the disattenuated correlation of variable 1 and variable 3 is 3.203, above 1 in magnitude",
    "(2 in all); check the reliabilities"))
  expect_first(lawley(worked_v, worked_s, reliabilities = 81), paste(
    "the reliability of variable 3 is outside (0, 1]; a reliability is a proportion such as 0.81"))
})

test_that("corrected means follow the formula in base R", {
  mu <- c(50, 20, 10)
  m_x <- c(47, 23)
  fit <- quietly(lawley(worked_v, worked_s, restricted_means = mu, unrestricted_means = m_x))
  w <- solve(worked_v[1:2, 1:2])
  expected_y <- mu[3] + drop((m_x - mu[1:2]) %*% w %*% worked_v[1:2, 3])
  expect_equal(fit$means, c(m_x, expected_y), tolerance = 1e-13)
})

test_that("named means are matched by name, whatever the order of the matrix", {
  mu <- c(x1 = 50, x2 = 20, y1 = 10, y2 = 30)
  m_x <- c(x1 = 47, x2 = 23)
  leading <- quietly(lawley(ree_v, ree_s, restricted_means = mu, unrestricted_means = m_x))
  order <- c("y1", "x2", "y2", "x1")
  moved <- quietly(lawley(ree_v[order, order], ree_s, restricted_means = mu,
                          unrestricted_means = m_x))
  expect_equal(moved$means, leading$means[order], tolerance = 1e-13)
  expect_identical(moved$means[c("x1", "x2")], m_x)
  reversed <- quietly(lawley(ree_v, ree_s, restricted_means = rev(mu),
                             unrestricted_means = rev(m_x)))
  expect_identical(reversed$means, leading$means)
  # Unnamed means go in the order of the matrix and of 'unrestricted'.
  expect_identical(quietly(lawley(ree_v, ree_s, restricted_means = unname(mu),
                                  unrestricted_means = unname(m_x)))$means, leading$means)
  # Beside a named 'unrestricted' in another order than 'selection', unnamed
  # means are in the order of that matrix, as its rows are: x2's first.
  swapped <- c("x2", "x1")
  for (selection in list(c("x1", "x2"), c(1, 2))) {
    from_swapped <- quietly(lawley(ree_v, ree_s[swapped, swapped], selection = selection,
                                   restricted_means = mu, unrestricted_means = c(23, 47)))
    expect_identical(from_swapped$means, leading$means)
  }
  expect_error(lawley(ree_v, ree_s, restricted_means = c(x1 = 50, x2 = 20, y1 = 10, z = 30),
                      unrestricted_means = m_x), "'restricted_means' names .*: z")
  expect_error(lawley(ree_v, ree_s, restricted_means = mu, unrestricted_means = c(x1 = 47, y1 = 23)),
               "'unrestricted_means' names .*: y1")
  expect_error(lawley(ree_v, ree_s, restricted_means = c(x1 = 50, x1 = 20, y1 = 10, y2 = 30),
                      unrestricted_means = m_x), "'restricted_means' .*x1")
  expect_error(lawley(ree_v, ree_s, restricted_means = c(x1 = 50, 20, y1 = 10, y2 = 30),
                      unrestricted_means = m_x), "'restricted_means' names some")
})

test_that("methods: summary, as.matrix, plot, cor2cov", {
  fit <- quietly(lawley(worked_v, worked_s, reliabilities = 0.81))
  expect_output(print(summary(fit)), paste("Lawley correction of 3 variables, 2 of them selection",
                                           "variables: variable 1, variable 2"))
  expect_output(print(fit), "Selection variables: variable 1, variable 2")
  expect_output(print(summary(fit)), "note: the restricted matrix has a unit diagonal")
  ree <- quietly(lawley(ree_v[4:1, 4:1], ree_s))
  expect_output(print(summary(ree)), "4 variables, 2 of them selection variables: x1, x2\n")
  expect_output(print(ree), "Selection variables: x1, x2\n")
  expect_output(print(summary(lawley(ree_v, ree_s, diagnostics = FALSE))), "not diagnosed")
  expect_identical(as.matrix(fit), fit$cor)
  file <- tempfile(fileext = ".pdf")
  grDevices::pdf(file)
  expect_invisible(plot(quietly(lawley(ree_v, ree_s))))
  grDevices::dev.off()
  expect_true(file.exists(file))
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off(), add = TRUE)
  expect_invisible(plot(fit, main = "mine", xlab = "before", ylab = "after", pch = 19,
                        xlim = c(-0.5, 0.5), col = "blue"))
  usr <- graphics::par("usr")
  expect_equal(usr[1:2], c(-0.5, 0.5) + c(-0.04, 0.04), tolerance = 1e-12)
  expect_equal(cor2cov(matrix(c(1, 0.5, 0.5, 1), 2), c(2, 3)), matrix(c(4, 3, 3, 9), 2))
})
