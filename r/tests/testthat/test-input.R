# What lawley() makes of its arguments' names, of empty and contradictory
# input, and of seeds: the mistakes of real studies, each refused in words
# that name the argument the caller used, or read as the command line
# reads the same input.

# Lawley's correction in plain base R, independent of the package: V the
# restricted matrix, S the unrestricted one in the order of `x` (the
# selection variables' indices). The corrected correlations.
plain_lawley <- function(V, S, x) {
  y <- setdiff(seq_len(nrow(V)), x)
  W <- solve(V[x, x])
  C <- V
  C[x, x] <- S
  C[x, y] <- S %*% W %*% V[x, y]
  C[y, x] <- t(C[x, y])
  C[y, y] <- V[y, y] - V[y, x] %*% W %*% (V[x, x] - S) %*% W %*% V[x, y]
  cov2cor(C)
}

# The simulated study of the repository, where the checkout has it (not in
# R CMD check, which tests a copy of the package).
study <- function(name) {
  path <- file.path("..", "..", "..", "examples", "study", name)
  skip_if_not(file.exists(path), "examples/study is not in this checkout")
  read.csv(path)
}

error_of <- function(expr) tryCatch({
  quietly(expr)
  NA_character_
}, error = conditionMessage)

test_that("the study's T1-C1 is .472 with 'selection' in the other order than 'unrestricted'", {
  h <- study("hired.csv")
  a <- study("applicants.csv")
  V <- cov(h)
  order <- c("T2", "T1")
  expected <- plain_lawley(V, cov(a)[order, order], match(order, colnames(V)))["T1", "C1"]
  expect_equal(round(expected, 3), 0.472)
  for (selection in list(order, c(2, 1), c("T1", "T2"), 1:2)) {
    got <- quietly(lawley(V, cov(a), selection = selection))$cor["T1", "C1"]
    expect_equal(got, expected, tolerance = 1e-13, info = paste(selection, collapse = ","))
  }
  # The same with 'unrestricted' reversed and 'selection' in its first order.
  got <- quietly(lawley(V, cov(a)[order, order], selection = c("T1", "T2")))$cor["T1", "C1"]
  expect_equal(got, expected, tolerance = 1e-13)
})

test_that("a named 'unrestricted' is matched to 'selection' by name, in any order", {
  V <- cov(hired)
  orders <- list(c("T1", "T2"), c("T2", "T1"))
  for (s_order in orders) {
    for (selection in orders) {
      x <- match(selection, colnames(V))
      expected <- plain_lawley(V, S[selection, selection], x)
      for (given in list(selection, x)) {
        fit <- quietly(lawley(V, S[s_order, s_order], selection = given))
        info <- paste(paste(s_order, collapse = ","), paste(given, collapse = ","))
        expect_equal(fit$cor, expected, tolerance = 1e-12, info = info)
        expect_identical(fit$selection, x, info = info)
        expect_identical(fit$unrestricted, S[selection, selection], info = info)
      }
    }
  }
  # As the command line takes it: rows in the order of 'selection', to the
  # last bit.
  expect_identical(quietly(lawley(V, S[2:1, 2:1], selection = tests))$cov,
                   quietly(lawley(V, S, selection = tests))$cov)
})

test_that("names of 'unrestricted' that contradict 'selection' stop, listing both", {
  V <- cov(hired)
  cases <- list(
    list(c("T1", "INT"), S, "the unrestricted matrix is that of T1, T2, but 'selection' names T1, INT"),
    list(c(1, 5), S, "the unrestricted matrix is that of T1, T2, but 'selection' names T1, INT"),
    list(c("C1", "C2"), S[2:1, 2:1], "the unrestricted matrix is that of T2, T1, but 'selection' names C1, C2"),
    list(tests, `dimnames<-`(S, list(c("T1", "X"), c("T1", "X"))),
         "the unrestricted matrix is that of T1, X, but 'selection' names T1, T2"))
  for (case in cases) {
    expect_identical(error_of(lawley(V, case[[2]], selection = case[[1]])), case[[3]])
  }
})

test_that("a triangle entered alone in another order is judged in its own order", {
  V <- cov(hired)
  lower <- S[2:1, 2:1]
  lower[upper.tri(lower)] <- 0
  expect_match(error_of(lawley(V, lower, selection = tests)),
               "unrestricted var/cov matrix holds only its lower triangle.*triangle = \"lower\"")
  mirrored <- quietly(lawley(V, lower, selection = tests, triangle = "lower"))
  expect_equal(mirrored$cor, plain_lawley(V, S, 1:2), tolerance = 1e-12)
})

test_that("an unrestricted matrix, or a pool, with no variables is refused", {
  V <- cov(hired)
  none <- "^'unrestricted' has no variables \\(it is 0 x 0\\); give the var/cov matrix of the selection"
  expect_match(error_of(lawley(V, matrix(numeric(0), 0, 0))), none)
  expect_match(error_of(lawley(V, matrix(numeric(0), 0, 0), selection = integer(0))), none)
  expect_match(error_of(lawley(V, data.frame())), none)
  expect_match(error_of(lawley(data = hired, unrestricted = matrix(numeric(0), 0, 0))), none)
  expect_match(error_of(lawley(matrix(numeric(0), 0, 0), S)), "^'restricted' has no variables")
  expect_identical(error_of(lawley(data = hired, pool = pool[, 0])), "'pool' has no columns")
  expect_identical(error_of(lawley(data = hired, pool = as.data.frame(pool)[, 0])),
                   "'pool' has no columns")
  expect_identical(error_of(lawley(data = hired[, 0], unrestricted = S)), "'data' has no columns")
})

test_that("a name given to two columns is refused, naming the argument used", {
  V <- cov(hired)
  twice <- function(x, k, name) {
    if (is.data.frame(x)) names(x)[k] <- name else colnames(x)[k] <- name
    x
  }
  both <- function(x, k, name) `dimnames<-`(x, rep(list(replace(rownames(x), k, name)), 2))
  frame <- as.data.frame(pool)
  cases <- list(
    list(quote(lawley(data = twice(hired, 2, "T1"), unrestricted = S)),
         "'data': the name \"T1\" is given to columns 1 and 2"),
    list(quote(lawley(data = twice(as.data.frame(hired), 5, "C1"), unrestricted = S)),
         "'data': the name \"C1\" is given to columns 3 and 5"),
    list(quote(lawley(data = hired, pool = twice(pool, 4, "T2"), selection = tests)),
         "'pool': the name \"T2\" is given to columns 2 and 4"),
    list(quote(lawley(data = hired, pool = twice(frame, 3, "T1"), selection = tests)),
         "'pool': the name \"T1\" is given to columns 1 and 3"),
    list(quote(lawley(data = hired, pool = twice(frame, 2, "T1"), selection = c(1, 3))),
         "'pool': the name \"T1\" is given to columns 1 and 2"),
    list(quote(lawley(data = hired, pool = twice(pool[, tests], 2, "T1"))),
         "'pool': the name \"T1\" is given to columns 1 and 2"),
    # A matrix's rows and columns are its variables.
    list(quote(lawley(both(V, 4, "T2"), S)),
         "'restricted': the name \"T2\" is given to variables 2 and 4"),
    list(quote(lawley(V, both(S, 2, "T1"))),
         "'unrestricted': the name \"T1\" is given to variables 1 and 2"),
    list(quote(lawley(V, both(S, 2, "T1"), selection = tests)),
         "'unrestricted': the name \"T1\" is given to variables 1 and 2"),
    list(quote(lawley(`rownames<-`(unname(V), c("T1", "T2", "C1", "C1", "INT")), S)),
         "'restricted': the name \"C1\" is given to variables 3 and 4"))
  for (case in cases) {
    expect_identical(error_of(eval(case[[1]])), case[[2]], info = deparse(case[[1]]))
  }
  # The pool's columns that are not read may share a name.
  extra <- cbind(pool, id = seq_len(nrow(pool)), id = 0)
  expect_identical(quietly(lawley(data = hired, pool = extra, selection = tests))$cov,
                   quietly(lawley(data = hired, pool = pool, selection = tests))$cov)
})

test_that("row names that contradict column names are refused", {
  V <- cov(hired)
  renamed <- function(x, k, name) {
    rownames(x)[k] <- name
    x
  }
  expect_identical(error_of(lawley(renamed(V, 3, "INT"), S)),
                   paste("'restricted': row 3 is named \"INT\", but column 3 \"C1\"; the rows and",
                         "the columns are the same variables, in the same order"))
  expect_identical(error_of(lawley(V, renamed(S, 1, "T2"))),
                   paste("'unrestricted': row 1 is named \"T2\", but column 1 \"T1\"; the rows and",
                         "the columns are the same variables, in the same order"))
  expect_match(error_of(lawley(renamed(V, 1, NA), S)),
               "^'restricted': row 1 is named \"NA\", but column 1 \"T1\"")
  # Names on one side only are the variables' names.
  one_side <- V
  rownames(one_side) <- NULL
  expect_identical(quietly(lawley(one_side, S))$cor, quietly(lawley(V, S))$cor)
})

test_that("cor2cov refuses a negative or missing standard deviation", {
  r <- matrix(c(1, 0.5, 0.5, 1), 2)
  expect_identical(error_of(cor2cov(r, c(1, -2))),
                   "'sd' must be standard deviations, 0 or more; this one is negative: sd[2] = -2")
  expect_identical(error_of(cor2cov(r, c(a = -1, b = -3))),
                   paste("'sd' must be standard deviations, 0 or more; these are negative:",
                         "sd[a] = -1, sd[b] = -3"))
  for (sd in list(c(1, NA), c(NaN, 1), c(Inf, 1))) {
    expect_identical(error_of(cor2cov(r, sd)), "'sd' must be 2 finite numbers")
  }
  expect_identical(cor2cov(r, c(0, 2)), matrix(c(0, 0, 0, 4), 2))
})

test_that("refusals name only the arguments the caller used", {
  V <- cov(hired)
  nan_at <- function(x, i, j) {
    x[i, j] <- NaN
    x
  }
  fit <- quietly(lawley(data = hired, pool = pool, selection = tests, reliabilities = c(C1 = 0.8)))
  cases <- list(
    # The message wanted, and words that must not be in it.
    list(quote(lawley(V, nan_at(S, 1, 2))),
         "'unrestricted' holds NA or values that are not finite numbers: [T1, T2]", "triangle"),
    list(quote(lawley(unname(V), nan_at(unname(S), 1, 2))),
         "'unrestricted' holds NA or values that are not finite numbers: [1, 2]", "triangle"),
    list(quote(lawley(V, `dimnames<-`(S, rep(list(c("T2", "T2")), 2)))),
         "'unrestricted': the name \"T2\" is given to variables 1 and 2", "'selection'"),
    list(quote(lawley(V, S, selection = 1:6)), "'selection' holds numbers outside 1..5", "'data'"),
    list(quote(lawley(V, S, selection = c(1, 2, 3))),
         "'selection' names 3 variables, but 'unrestricted' is 2 x 2", "'data'"),
    list(quote(lawley(V, pool = pool, selection = 1:6)),
         "'selection' names 6 variables, but 'restricted' has only 5", "'data'"),
    list(quote(lawley_increment(fit, "C1", tests, "T2")), "'base' and 'added' both name T2",
         "'predictors'"),
    list(quote(lawley_increment(fit, "C1", tests, "C2", "x")), "unused argument", "'predictors'"))
  for (case in cases) {
    message <- error_of(eval(case[[1]]))
    expect_true(startsWith(message, case[[2]]) || grepl(case[[2]], message, fixed = TRUE),
                info = message)
    expect_false(grepl(case[[3]], message, fixed = TRUE), info = message)
  }
  # A whole side of NA is still a triangle entered alone.
  upper_na <- V[1:3, 1:3]
  upper_na[upper.tri(upper_na)] <- NA
  expect_match(error_of(lawley(V, upper_na, selection = 1:3)), "holds only its lower triangle")
})

test_that("the pool's columns other than the selection variables are not read", {
  frame <- as.data.frame(pool)
  plain <- quietly(lawley(data = hired, pool = pool[, tests], selection = tests))
  extras <- list(cbind(id = paste0("applicant ", seq_len(nrow(frame))), frame),
                 cbind(frame, empty = NA),
                 cbind(frame, note = factor(rep(c("a", "b"), length.out = nrow(frame)))),
                 cbind(frame, partly = replace(rep(1, nrow(frame)), 1:10, NA)))
  for (with_extra in extras) {
    fit <- quietly(lawley(data = hired, pool = with_extra, selection = tests))
    expect_identical(fit$cov, plain$cov)
    expect_identical(fit$rows$pool_dropped, 0L)
    expect_identical(fit$unrestricted, plain$unrestricted)
  }
  # A selection variable's column is read, and must hold numbers.
  broken <- frame
  broken$T2 <- as.character(broken$T2)
  expect_identical(error_of(lawley(data = hired, pool = broken, selection = tests)),
                   "'pool' must hold numbers only; this column does not: T2")
})

bootstrap <- function(seed) {
  quietly(lawley(data = hired, pool = pool, selection = tests, interval = "bootstrap", B = 20,
                 seed = seed, threads = 1))
}

test_that("a seed is a whole number up to 2^53 or a string of digits up to 2^64 - 1", {
  small <- bootstrap(12345)
  expect_identical(bootstrap("12345")$ci, small$ci)
  expect_identical(bootstrap("0012345")$ci, small$ci)
  expect_identical(small$interval$seed, 12345)
  big <- bootstrap("9007199254740993")
  expect_identical(big$interval$seed, "9007199254740993")
  expect_false(identical(big$ci$cor, bootstrap(2^53)$ci$cor))
  largest <- bootstrap("18446744073709551615")
  expect_identical(largest$interval$seed, "18446744073709551615")
  expect_false(identical(largest$ci$cor, big$ci$cor))
  expect_output(print(big), "seed 9007199254740993")
  # Questions asked of the fit later resample with its seed.
  again <- lawley_regression(big, "C1", tests)
  expect_identical(again$R, lawley_regression(big, "C1", tests)$R)
  expect_false(identical(again$R, lawley_regression(bootstrap(2^53), "C1", tests)$R))
})

test_that("a seed above 2^53 gives the command line's bootstrap", {
  program <- Sys.getenv("TOLBE_PROGRAM", file.path("..", "..", "..", "build", "tolbe"))
  skip_if_not(file.exists(program), "the program is not built in this checkout")
  h <- study("hired.csv")
  a <- study("applicants.csv")
  files <- file.path("..", "..", "..", "examples", "study", c("hired.csv", "applicants.csv"))
  out <- suppressWarnings(system2(program, c(paste0("--data=", files[1]),
                                             paste0("--pool=", files[2]), "--select=T1,T2",
                                             "--interval=bootstrap", "--resamples=50",
                                             "--seed=9007199254740993", "--format=csv"),
                                  stdout = TRUE, stderr = FALSE))
  table <- read.csv(text = out)
  program_matrix <- function(name) {
    rows <- table[table$matrix == name, ]
    unname(as.matrix(rows[, c("T1", "T2", "INT", "C1", "C2")]))
  }
  fit <- quietly(lawley(data = h, pool = a, selection = c("T1", "T2"), interval = "bootstrap",
                        B = 50, seed = "9007199254740993"))
  expect_equal(unname(fit$ci$cor$lower), program_matrix("corrected_corr_lower"), tolerance = 1e-14)
  expect_equal(unname(fit$ci$cor$upper), program_matrix("corrected_corr_upper"), tolerance = 1e-14)
  expect_equal(unname(fit$se$cov), program_matrix("corrected_cov_se"), tolerance = 1e-14)
  # 2^53, where R's numbers end, is another stream.
  other <- quietly(lawley(data = h, pool = a, selection = c("T1", "T2"), interval = "bootstrap",
                          B = 50, seed = 2^53))
  expect_gt(max(abs(unname(other$ci$cor$lower) - program_matrix("corrected_corr_lower"))), 1e-6)
})

test_that("every fit carries the library's version", {
  version <- as.character(packageVersion("tolbe"))
  fits <- list(quietly(lawley(cov(hired), S, selection = tests)),
               lawley(cov(hired), S, selection = tests, diagnostics = FALSE),
               quietly(lawley(cov(hired), S, selection = tests, n = nrow(hired))),
               quietly(lawley(data = hired, pool = pool, selection = tests)),
               bootstrap(1))
  for (fit in fits) expect_identical(fit$version, version)
  program <- Sys.getenv("TOLBE_PROGRAM", file.path("..", "..", "..", "build", "tolbe"))
  if (file.exists(program)) {
    said_version <- system2(program, "--version", stdout = TRUE)[1]
    expect_identical(said_version, paste("tolbe", fits[[1]]$version))
  }
})

test_that("?lawley states the assumptions, and what their failure did in a study", {
  rd <- tools::Rd_db("tolbe")[["lawley.Rd"]]
  skip_if(is.null(rd), "the help pages are not installed")
  tags <- vapply(rd, function(x) attr(x, "Rd_tag"), "")
  sections <- rd[tags == "\\section"]
  titles <- vapply(sections, function(x) paste(unlist(x[[1]]), collapse = ""), "")
  expect_true("Assumptions" %in% titles)
  text <- paste(unlist(sections[[match("Assumptions", titles)]][[2]]), collapse = "")
  text <- gsub("\\s+", " ", text)
  for (said in c("selected on the declared selection variables only",
                 "linear and homoscedastic", "conditional on these assumptions",
                 ".275 against a true .427", "recover .430",
                 "A recorded pre-screen, or any other variable the selection used, must be a selection variable")) {
    expect_true(grepl(said, text, fixed = TRUE), info = said)
  }
})

test_that("refusals carry the library's code, the argument refused and the variables", {
  V <- cov(hired)
  fit <- quietly(lawley(V, S, n = 200))
  cases <- list(
    # The call, then the code, the argument and the variables wanted.
    list(quote(lawley(V, S, selection = c("T1", "zz"))), "unknown_variable", "selection",
         integer(0)),
    list(quote(lawley(V, S, selection = c(1, 1))), "repeated", "selection", c(T1 = 1L)),
    list(quote(lawley(V, S, selection = c(1, 9))), "number_out_of_range", "selection", integer(0)),
    list(quote(lawley(V, S, reliabilities = c(T2 = 0.8, C1 = 0.7))), "selection_variable",
         "reliabilities", c(T2 = 2L)),
    list(quote(lawley(V, S, reliabilities = c(C1 = NA, C2 = 0.7))), "not_finite", "reliabilities",
         c(C1 = 3L)),
    list(quote(lawley(V, S, B = 100)), "not_for_this_call", "resamples", integer(0)),
    list(quote(lawley(data = hired[1:2, ], unrestricted = S, interval = "bootstrap")),
         "too_few_rows", "data", integer(0)),
    list(quote(lawley(V, S, data = hired)), "both_given", "data", integer(0)),
    list(quote(lawley(V)), "neither_given", "unrestricted", integer(0)),
    # The question's refusals name their variables as lawley()'s do.
    list(quote(lawley_regression(fit, "C1", c("T1", "T1"))), "repeated", "predictors",
         c(T1 = 1L)),
    list(quote(lawley_increment(fit, "C1", "T1", "T1")), "repeated", "added", c(T1 = 1L)))
  for (case in cases) {
    e <- tryCatch(quietly(eval(case[[1]])), tolbe_error = function(e) e)
    info <- deparse(case[[1]])
    expect_s3_class(e, "tolbe_error")
    expect_identical(e$code, case[[2]], info = info)
    expect_identical(e$argument, case[[3]], info = info)
    expect_identical(e$variables, case[[4]], info = info)
  }
})
