# What a call says: one row per condition it raised, in order, with the
# finding's or the refusal's code (NA for a note or warning of the
# package's own, not the library's), its severity ("error", "warning" or
# "note") and its message.
said <- function(expr) {
  rows <- list()
  keep <- function(condition, severity) {
    code <- if (is.null(condition$code)) NA_character_ else condition$code
    message <- sub("\n$", "", conditionMessage(condition))
    if (severity == "error") message <- strsplit(message, "\n", fixed = TRUE)[[1]]
    rows[[length(rows) + 1]] <<- data.frame(code = code, severity = severity, message = message)
  }
  tryCatch(withCallingHandlers(expr,
                               warning = function(w) {
                                 keep(w, "warning")
                                 invokeRestart("muffleWarning")
                               },
                               message = function(m) {
                                 keep(m, "note")
                                 invokeRestart("muffleMessage")
                               }),
           error = function(e) keep(e, "error"))
  empty <- data.frame(code = character(), severity = character(), message = character())
  do.call(rbind, c(list(empty), rows))
}

quietly <- function(expr) suppressMessages(suppressWarnings(expr))

# A pool of applicants with one common factor, on scales of their own (test
# scores about 100, a grade point average about 3), and those hired, chosen
# on the first test alone. T1 and T2 are the selection variables: their
# var/cov matrix in the pool is known.
simulated <- local({
  set.seed(1943)
  n <- 5000
  g <- rnorm(n)
  pool <- cbind(T1 = 100 + 15 * (0.8 * g + 0.6 * rnorm(n)),
                T2 = 2.8 + 0.5 * (0.7 * g + sqrt(0.51) * rnorm(n)),
                C1 = 50 + 10 * (0.6 * g + 0.8 * rnorm(n)),
                C2 = 20 + 4 * (0.5 * g + sqrt(0.75) * rnorm(n)),
                INT = 5 + 2 * (0.4 * g + sqrt(0.84) * rnorm(n)))
  list(pool = pool, hired = pool[pool[, "T1"] > 110, ])
})
pool <- simulated$pool
hired <- simulated$hired
tests <- c("T1", "T2")
S <- cov(pool)[tests, tests]
