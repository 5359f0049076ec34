# The library's findings as R raises them: errors stop, warnings warn, notes
# are messages, each in the library's words with R's variable names.

hired_cov <- cov(hired)
hired_sd <- sqrt(diag(hired_cov))

ratio_text <- function(x) sprintf("%.4g", x)
ratio_message <- function(variable, ratio, more = "") {
  sprintf(paste("the unrestricted variance of %s is %s times its restricted variance%s: standard",
                "deviations more than five times apart suggest matrices in different units",
                "(correlations beside covariances?) or variables in another order"),
          variable, ratio_text(ratio), more)
}
two_correlations <- paste(
  "both matrices have a unit diagonal (correlations?): the correction then takes the selection",
  "variables' variances to be the same in the population as in the sample, and corrects only for",
  "the change in their correlations; give the unrestricted matrix in units of the restricted",
  "standard deviations, or both as variances and covariances")
correlations_beside <- paste(
  "the restricted matrix has a unit diagonal (correlations) but the unrestricted one does not:",
  "that is right only when the unrestricted values are in units of the restricted standard",
  "deviations")
covariances_beside <- paste(
  "the unrestricted matrix has a unit diagonal (correlations?) but the restricted one does not:",
  "enter both as variances and covariances")
lower_triangle <- paste(
  "the restricted var/cov matrix holds only its lower triangle: every value above the diagonal is",
  "0 or missing, and the correction reads some of them; enter the whole matrix, or give",
  "triangle = \"lower\" to mirror it")
upper_triangle <- paste(
  "the restricted var/cov matrix holds only its upper triangle: every value below the diagonal is",
  "0 or missing, and the correction reads some of them; enter the whole matrix, or give",
  "triangle = \"upper\" to mirror it")
unrestricted_lower <- paste(
  "the unrestricted var/cov matrix holds only its lower triangle: every value above the diagonal",
  "is 0 or missing, and the correction reads it whole; enter the whole matrix, or give triangle =",
  "\"lower\" to mirror it")

lower <- hired_cov
lower[upper.tri(lower)] <- 0
lower_na <- hired_cov
lower_na[upper.tri(lower_na)] <- NA
upper <- hired_cov
upper[lower.tri(upper)] <- 0
asymmetric <- hired_cov
asymmetric["T2", "C1"] <- 1.5 * hired_cov["T2", "C1"]
asymmetry <- abs(asymmetric["T2", "C1"] - asymmetric["C1", "T2"]) /
  sqrt(hired_cov["T2", "T2"] * hired_cov["C1", "C1"])
unread_na <- hired_cov
unread_na["T2", "T1"] <- NA
# The pool matrix reordered, its names dropped, and so paired by position.
swapped <- unname(cov(pool)[c("T2", "T1"), c("T2", "T1")])
moved <- c("C1", "T1", "T2", "C2", "INT")
S_lower <- S
S_lower[1, 2] <- 0

# Each mistake: the call, then the code, severity and message of a finding
# it must raise (others may come with it); `all` lists every code when
# given.
mistakes <- list(
  list("two correlation matrices", quote(lawley(cor(hired), cov2cor(S))),
       "two_correlation_matrices", "warning", two_correlations, all = "two_correlation_matrices"),
  list("correlations beside covariances, a huge variance ratio",
       quote(lawley(cor(hired), cov(pool)[tests, tests])),
       "implausible_variance_ratio", "warning", ratio_message("T1", S["T1", "T1"]),
       # T2's pool variance, 0.25, is below its restricted 1 (a correlation).
       all = c("implausible_variance_ratio", "selection_variance_grew",
               "correlations_beside_covariances")),
  list("... and the note that comes with it", quote(lawley(cor(hired), cov(pool)[tests, tests])),
       "correlations_beside_covariances", "note", correlations_beside),
  list("covariances beside correlations", quote(lawley(cov(hired), cov2cor(S))),
       "covariances_beside_correlations", "warning", covariances_beside,
       all = c("implausible_variance_ratio", "covariances_beside_correlations")),
  list("... and the variance ratio", quote(lawley(cov(hired), cov2cor(S))),
       "implausible_variance_ratio", "warning", ratio_message("T1", 1 / hired_cov["T1", "T1"])),
  list("a lower triangle, zeros above", quote(lawley(lower, S)),
       "restricted_lower_triangle", "error", lower_triangle, all = "restricted_lower_triangle"),
  list("a lower triangle, NA above", quote(lawley(lower_na, S)),
       "restricted_lower_triangle", "error", lower_triangle, all = "restricted_lower_triangle"),
  list("an upper triangle, zeros below", quote(lawley(upper, S)),
       "restricted_upper_triangle", "error", upper_triangle, all = "restricted_upper_triangle"),
  list("an unrestricted lower triangle", quote(lawley(hired_cov, S_lower)),
       "unrestricted_lower_triangle", "error", unrestricted_lower,
       all = "unrestricted_lower_triangle"),
  list("an asymmetric matrix", quote(lawley(asymmetric, S)),
       "restricted_asymmetric", "warning",
       paste("the restricted var/cov matrix is not symmetric: its two values for T2 and C1 differ",
             "by", ratio_text(asymmetry), "relative to their standard deviations (the largest",
             "difference); the correction used the upper triangle of the selection variables'",
             "block, the rest of their rows and the whole block of the other variables, and",
             "ignored the rest"),
       all = "restricted_asymmetric"),
  list("a reordered pool matrix paired by position", quote(lawley(hired_cov, swapped, selection = tests)),
       "implausible_variance_ratio", "warning",
       ratio_message("T1", S["T2", "T2"] / hired_cov["T1", "T1"], " (2 in all)")),
  list("a reordered restricted matrix beside an unnamed pool matrix",
       quote(lawley(hired_cov[moved, moved], unname(S))),
       "implausible_variance_ratio", "warning",
       ratio_message("T1", S["T2", "T2"] / hired_cov["T1", "T1"]), all = "implausible_variance_ratio"),
  list("a value not read is NA", quote(lawley(unread_na, S)),
       "unread_not_finite", "note",
       paste("the restricted var/cov matrix holds a value that is not a finite number for T2 (row)",
             "and T1 (column), where the correction reads nothing"),
       all = "unread_not_finite"),
  list("a reliability given as a percentage", quote(lawley(hired_cov, S, reliabilities = c(C1 = 81, C2 = 0.8, INT = 0.7))),
       "reliability_out_of_range", "warning",
       "the reliability of C1 is outside (0, 1]; a reliability is a proportion such as 0.81",
       all = "reliability_out_of_range"),
  list("reliabilities for some of the others", quote(lawley(hired_cov, S, reliabilities = c(C1 = 0.6, C2 = 0.8))),
       "reliabilities_defaulted", "note",
       "'reliabilities' names no reliability for INT; it is taken as 1 (not corrected for attenuation)",
       all = "reliabilities_defaulted"),
  list("a reliability for one other only", quote(lawley(hired_cov, S, reliabilities = c(C2 = 0.8))),
       "reliabilities_defaulted", "note",
       "'reliabilities' names no reliability for C1, INT; they are taken as 1 (not corrected for attenuation)"),
  list("a reliability for a selection variable", quote(lawley(hired_cov, S, reliabilities = c(C1 = 0.6, T1 = 0.8))),
       "selection_variable", "error",
       "T1 is a selection variable; reliabilities are for the other variables: C1, C2, INT"),
  list("reliabilities for both selection variables", quote(lawley(hired_cov, S, reliabilities = c(T2 = 0.7, T1 = 0.8))),
       "selection_variable", "error",
       "T2, T1 are selection variables; reliabilities are for the other variables: C1, C2, INT"),
  list("a reliability for no variable", quote(lawley(hired_cov, S, reliabilities = c(C1 = 0.6, C3 = 0.8))),
       "unknown_variable", "error",
       "C3 is not a variable of 'restricted'; reliabilities are for the other variables: C1, C2, INT"),
  list("a named reliability that is NA", quote(lawley(hired_cov, S, reliabilities = c(C1 = 0.6, C2 = NA))),
       "not_finite", "error", "'reliabilities' must be finite numbers: the one for C2 is NA"),
  list("an unnamed reliability that is NA", quote(lawley(hired_cov, S, reliabilities = c(0.6, 0.8, NA))),
       "not_finite", "error", "'reliabilities' must be finite numbers: the one for INT is NA"),
  list("too few unnamed reliabilities", quote(lawley(hired_cov, S, reliabilities = c(0.6, 0.8))),
       "wrong_count", "error",
       paste("'reliabilities' needs one value for each of the 3 non-selection variables (C1, C2,",
             "INT), in that order, or values named by variable")),
  list("a named reliability twice", quote(lawley(hired_cov, S, reliabilities = c(C1 = 0.6, C1 = 0.8))),
       "repeated", "error", "'reliabilities' names C1 more than once"))

test_that("each mistake raises its finding, in the library's words with R's names", {
  for (mistake in mistakes) {
    got <- said(eval(mistake[[2]]))
    label <- mistake[[1]]
    row <- which(got$message == mistake[[5]])
    expect_identical(length(row), 1L, info = paste(c(label, got$message), collapse = "\n"))
    if (length(row) != 1) next
    expect_identical(got$code[row], mistake[[3]], info = label)
    expect_identical(got$severity[row], mistake[[4]], info = label)
    if (!is.null(mistake$all)) expect_identical(got$code, mistake$all, info = label)
  }
})

test_that("the conditions are of the package's classes and carry the code and variables", {
  w <- tryCatch(lawley(asymmetric, S), warning = identity)
  expect_s3_class(w, c("tolbe_warning", "warning", "condition"))
  expect_identical(w$code, "restricted_asymmetric")
  expect_identical(w$variables, c(T2 = 2L, C1 = 3L))
  expect_null(conditionCall(w))
  m <- tryCatch(lawley(unread_na, S), message = identity)
  expect_s3_class(m, c("tolbe_message", "message", "condition"))
  expect_identical(m$code, "unread_not_finite")
  e <- tryCatch(lawley(lower, S), error = identity)
  expect_s3_class(e, c("tolbe_error", "error", "condition"))
  expect_identical(e$code, "restricted_lower_triangle")
  expect_identical(e$findings$code, "restricted_lower_triangle")
  # The finding and the condition say the same, with the argument that
  # mirrors the triangle.
  expect_identical(e$findings$message, conditionMessage(e))
  expect_match(conditionMessage(e), ", or give triangle = \"lower\" to mirror it$")
  expect_error(lawley(lower, S), "holds only its lower triangle", class = "tolbe_error")
})

test_that("right input is silent", {
  expect_silent(fit <- lawley(hired_cov, S))
  expect_silent(lawley(hired_cov, S, selection = tests))
  expect_silent(lawley(hired_cov, S, selection = c(1, 2)))
  expect_silent(lawley(hired_cov[moved, moved], S))  # the names of S say where T1 and T2 are
  expect_silent(lawley(hired_cov, S, reliabilities = c(INT = 0.7, C1 = 0.8, C2 = 0.9)))
  expect_silent(lawley(hired_cov, S, reliabilities = c(0.8, 0.9, 0.7)))
  expect_silent(lawley(hired_cov, S, restricted_means = colMeans(hired),
                       unrestricted_means = colMeans(pool)[tests]))
  expect_identical(fit$findings$code, character(0))
  expect_identical(names(fit$findings), c("code", "severity", "message", "variables"))
  expect_s3_class(fit$findings, "data.frame")
  expect_identical(nrow(fit$findings), 0L)
})

test_that("correlations beside an unrestricted matrix in units of the restricted SDs: a note", {
  in_sd_units <- S / outer(hired_sd[tests], hired_sd[tests])
  got <- said(fit <- lawley(cor(hired), in_sd_units))
  expect_identical(got$code, "correlations_beside_covariances")
  expect_identical(got$severity, "note")
  expect_identical(got$message, correlations_beside)
  expect_equal(fit$cor, lawley(hired_cov, S)$cor, tolerance = 1e-12)
})

test_that("fit$findings holds what was raised, in order", {
  got <- said(fit <- lawley(cor(hired), cov(pool)[tests, tests]))
  f <- fit$findings
  expect_identical(f$code, got$code)
  expect_identical(f$severity, got$severity)
  expect_identical(f$message, got$message)
  expect_identical(f$variables, list(c(T1 = 1L), c(T2 = 2L), integer(0)))
  unnamed <- quietly(lawley(unname(cor(hired)), unname(cov(pool)[tests, tests])))$findings
  expect_identical(unnamed$variables, list(1L, 2L, integer(0)))
})

test_that("a triangle with 'triangle' is mirrored and corrected as the whole matrix", {
  whole <- lawley(hired_cov, S)
  for (given in list(lower, lower_na)) {
    expect_silent(fit <- lawley(given, S, triangle = "lower"))
    expect_identical(fit$cov, whole$cov)
    expect_identical(fit$restricted, hired_cov)  # cov() is symmetric to the last bit
  }
  expect_silent(fit <- lawley(upper, S, triangle = "upper"))
  expect_identical(fit$cov, whole$cov)
  expect_silent(fit <- lawley(hired_cov, S_lower, triangle = "lower"))
  expect_identical(fit$cov, whole$cov)
  # The triangle not given is ignored, whatever it holds.
  noisy <- lower
  noisy[upper.tri(noisy)] <- 99
  expect_identical(lawley(noisy, S, triangle = "lower")$cov, whole$cov)
  expect_error(lawley(hired_cov, S, triangle = "both"), "'triangle' must be NULL")
  expect_error(lawley(hired_cov, S, triangle = NA), "'triangle' must be NULL")
})

test_that("diagnostics = FALSE is silent, but an error still stops", {
  for (mistake in mistakes) {
    call <- mistake[[2]]
    call$diagnostics <- FALSE
    if (identical(mistake[[4]], "error")) {
      expect_error(eval(call), mistake[[5]], fixed = TRUE, info = mistake[[1]])
    } else {
      expect_silent(fit <- eval(call))
      expect_null(fit$findings)
      expect_null(fit$diagnostics)
    }
  }
})

# The CLI's JSON findings for the same problem, when the program was built
# in this checkout (not in R CMD check, which tests a copy of the package).
cli_findings <- function(v, s, selection, reliabilities = NULL) {
  program <- Sys.getenv("TOLBE_PROGRAM", file.path("..", "..", "..", "build", "tolbe"))
  skip_if_not(file.exists(program) && file.exists(file.path("..", "..", "..", "include", "tolbe",
                                                            "findings.h")),
              "the program is not built in this checkout")
  skip_if_not_installed("jsonlite")
  rows <- function(m) apply(m, 1, function(r) paste(sprintf("%.17g", r), collapse = " "))
  file <- tempfile(fileext = ".txt")
  on.exit(unlink(file))
  writeLines(c(sprintf("%d %d %d", nrow(s), nrow(v), as.integer(!is.null(reliabilities))),
               rows(v), rows(s),
               if (!is.null(reliabilities)) paste(sprintf("%.17g", reliabilities), collapse = " ")),
             file)
  out <- suppressWarnings(system2(program, c("--format=json",
                                             paste0("--select=", paste(selection, collapse = ",")),
                                             file), stdout = TRUE, stderr = FALSE))
  findings <- jsonlite::fromJSON(paste(out, collapse = "\n"), simplifyVector = FALSE)[[1]]$findings
  data.frame(code = vapply(findings, `[[`, "", "code"),
             severity = vapply(findings, `[[`, "", "severity"),
             message = vapply(findings, `[[`, "", "message"))
}

# The messages with "variable N" named as `names` name variable N.
named_as <- function(messages, names) {
  for (k in rev(seq_along(names))) {
    messages <- gsub(sprintf("variable %d\\b", k), names[k], messages, perl = TRUE)
  }
  messages
}

problems <- list(
  list(cor(hired), cov(pool)[tests, tests], tests, NULL),
  list(hired_cov, cov2cor(S), tests, NULL),
  list(asymmetric[moved, moved], S, tests, NULL),
  list(lower, S, tests, NULL),
  list(hired_cov, swapped, tests, NULL),
  list(hired_cov, S, tests, c(81, 0.9, 0.01)),
  list(hired_cov[moved, moved], S[2:1, 2:1], c("T2", "T1"), NULL))

test_that("R's findings are the library's: unnamed, named, and as the program says them", {
  for (k in seq_along(problems)) {
    problem <- problems[[k]]
    v <- problem[[1]]
    selection <- match(problem[[3]], rownames(v))
    named <- said(lawley(v, problem[[2]], selection = problem[[3]],
                         reliabilities = problem[[4]]))
    unnamed <- said(lawley(unname(v), unname(problem[[2]]), selection = selection,
                           reliabilities = problem[[4]]))
    expect_identical(unnamed$code, named$code, info = k)
    expect_identical(unnamed$severity, named$severity, info = k)
    hint <- ", or give triangle = \"(lower|upper)\" to mirror it$"
    expect_identical(named_as(sub(hint, "", unnamed$message), rownames(v)),
                     sub(hint, "", named$message), info = k)
  }
  for (k in seq_along(problems)) {
    problem <- problems[[k]]
    v <- problem[[1]]
    selection <- match(problem[[3]], rownames(v))
    program <- cli_findings(v, problem[[2]], selection, problem[[4]])
    unnamed <- said(lawley(unname(v), unname(problem[[2]]), selection = selection,
                           reliabilities = problem[[4]]))
    unnamed$message <- sub(", or give triangle = \"(lower|upper)\" to mirror it$", "",
                           unnamed$message)
    expect_identical(unnamed, program, info = k)
  }
})
