lawley <- function(restricted = NULL, unrestricted = NULL, selection = NULL, reliabilities = NULL,
                   restricted_means = NULL, unrestricted_means = NULL, diagnostics = TRUE,
                   triangle = NULL, data = NULL, pool = NULL, n = NULL, n_unrestricted = NULL,
                   interval = c("none", "normal", "adf", "bootstrap"), B = 2000, level = 0.95,
                   seed = NULL, threads = NULL, ci_type = c("bca", "percentile"),
                   criteria = NULL, reliability_sample = NULL) {
  # The C code resolves and checks every argument, corrects and returns the
  # object, or, when there is something to say, what to say with it. An
  # argument left out goes as NULL: the C code knows the defaults, and that
  # an argument the method does not use was given. (missing() costs more
  # than a default of NULL: the usual call is a few microseconds.)
  fit <- .Call(C_lawley, restricted, unrestricted, selection, reliabilities, restricted_means,
               unrestricted_means, diagnostics, triangle, data, pool, n, n_unrestricted,
               if (missing(interval)) NULL else interval,
               if (missing(B)) NULL else B,
               if (missing(level)) NULL else level,
               seed, threads,
               if (missing(ci_type)) NULL else ci_type, criteria, reliability_sample)
  if (is.object(fit)) fit else say(fit)
}

# Stops with a refusal of the call, the library's request layer's or the
# glue's own (called from C): a condition of class tolbe_error carrying the
# refusal's stable code (such as "unknown_variable"), the argument refused
# and the variables concerned (numbers from 1, named by the variables').
refuse <- function(message, code, argument, variables) {
  stop(structure(class = c("tolbe_error", "error", "condition"),
                 list(message = message, call = NULL, code = code, argument = argument,
                      variables = variables)))
}

# Raises what a correction has to say: errors as one stop(), then warnings
# and notes (message()) one by one, each a condition of class
# tolbe_error, tolbe_warning or tolbe_message that carries the finding's
# code and variables; the error carries the findings too. Returns the
# object.
say <- function(said) {
  condition <- function(k, class, text) {
    structure(class = c(class, "condition"),
              list(message = text, call = NULL, code = said$code[[k]],
                   variables = said$variables[[k]]))
  }
  errors <- which(said$severity == 2L)
  if (length(errors) > 0) {
    e <- condition(errors[1], c("tolbe_error", "error"),
                   paste(said$message[errors], collapse = "\n"))
    e$code <- said$code[errors]
    e$findings <- said$findings
    stop(e)
  }
  for (k in seq_along(said$severity)) {
    if (said$severity[k] == 1L) {
      warning(condition(k, c("tolbe_warning", "warning"), said$message[k]))
    } else {
      message(condition(k, c("tolbe_message", "message"), paste0(said$message[k], "\n")))
    }
  }
  said$fit
}

# cor2cov()'s check of its matrix.
as_square_matrix <- function(x, what) {
  if (is.data.frame(x)) x <- as.matrix(x)
  if (!is.matrix(x) || !is.numeric(x)) {
    stop(sprintf("'%s' must be a numeric matrix (or a data frame of numbers)", what),
         call. = FALSE)
  }
  if (nrow(x) != ncol(x)) {
    stop(sprintf("'%s' must be square, not %d x %d", what, nrow(x), ncol(x)), call. = FALSE)
  }
  if (any(!is.finite(x))) {
    stop(sprintf("'%s' holds NA or values that are not finite numbers", what), call. = FALSE)
  }
  storage.mode(x) <- "double"
  x
}

cor2cov <- function(r, sd) {
  r <- as_square_matrix(r, "r")
  if (!is.numeric(sd) || length(sd) != nrow(r) || any(!is.finite(sd))) {
    stop(sprintf("'sd' must be %d finite numbers", nrow(r)), call. = FALSE)
  }
  # A negative one would flip the signs of its variable's covariances.
  negative <- which(sd < 0)
  if (length(negative) > 0) {
    names <- if (is.null(names(sd))) as.character(negative) else names(sd)[negative]
    stop(sprintf("'sd' must be standard deviations, 0 or more; %s: %s",
                 if (length(negative) == 1) "this one is negative" else "these are negative",
                 paste0("sd[", names, "] = ", format(sd[negative]), collapse = ", ")),
         call. = FALSE)
  }
  r * outer(sd, sd)
}

# The variables `i` (numbers from 1) by name, else as "variable N", as the
# findings name them.
variable_labels <- function(i, names) {
  if (is.null(names)) sprintf("variable %d", i) else names[i]
}

pairs_text <- function(rows, columns, names) {
  paste0(variable_labels(rows, names), "-", variable_labels(columns, names), collapse = ", ")
}

criteria_text <- function(x) {
  if (length(x$criteria) == 0) return("none")
  names <- variable_labels(x$criteria, rownames(x$cov))
  r <- x$reliabilities
  if (is.null(r)) return(paste(names, collapse = ", "))
  given <- r[x$criteria]
  where <- x$reliability_sample[x$criteria]
  paste0(names, ifelse(is.na(given), "",
                       sprintf(" (r_yy = %s%s)", format(given, digits = 3),
                               ifelse(where == "restricted",
                                      ", from the restricted sample's", ""))),
         collapse = ", ")
}

selection_text <- function(x) {
  if (length(x$selection) == 0) return("none")
  paste(variable_labels(x$selection, rownames(x$cov)), collapse = ", ")
}

# The pairs of variables above the diagonal (with it, for covariances), row
# by row: a data frame of the estimates, their SEs and bounds, with rows
# named "a-b".
pair_table <- function(estimate, se, ci, diagonal = FALSE) {
  place <- which(upper.tri(estimate, diag = diagonal), arr.ind = TRUE)
  place <- place[order(place[, 1], place[, 2]), , drop = FALSE]
  names <- variable_labels(seq_len(nrow(estimate)), rownames(estimate))
  data.frame(estimate = estimate[place], se = se[place], lower = ci$lower[place],
             upper = ci$upper[place],
             row.names = paste0(names[place[, 1]], "-", names[place[, 2]]))
}

# How the intervals were computed, in the library's words.
interval_text <- function(info) info$description

print_pairs <- function(table, digits, limit = Inf, ...) {
  shown <- table[seq_len(min(nrow(table), limit)), , drop = FALSE]
  print(round(as.matrix(shown), digits), ...)
  if (nrow(table) > nrow(shown)) {
    cat(sprintf("... and %d more pairs: confint(fit) lists them all\n", nrow(table) - nrow(shown)))
  }
}

print.tolbe_lawley <- function(x, digits = 4, ...) {
  cat("Range restriction corrected correlations (Lawley 1943)\n")
  cat(sprintf("Selection variables: %s\n", selection_text(x)))
  cat(sprintf("Criteria: %s\n", criteria_text(x)))
  if (is.null(x$interval)) cat("Intervals: none (give 'n' or raw scores as 'data')\n")
  print(round(x$cor, digits), ...)
  if (!is.null(x$disattenuated)) {
    cat("\nCorrected for attenuation in the non-selection variables:\n")
    print(round(x$disattenuated, digits), ...)
  }
  pairs <- x$diagnostics$sign_change_pairs
  if (!is.null(pairs) && nrow(pairs) > 0) {
    cat(sprintf("\nSign changes against the restricted sample (%d): %s\n", nrow(pairs),
                pairs_text(pairs[, "row"], pairs[, "column"], rownames(x$cor))))
  }
  if (!is.null(x$interval)) {
    cat(sprintf("\n%s\nCorrected correlations:\n", interval_text(x$interval)))
    print_pairs(pair_table(x$cor, x$se$cor, x$ci$cor), digits, limit = 20, ...)
  }
  invisible(x)
}

summary.tolbe_lawley <- function(object, regression = TRUE, ...) {
  tables <- NULL
  if (!is.null(object$interval)) {
    tables <- list(cor = pair_table(object$cor, object$se$cor, object$ci$cor))
    if (!is.null(object$disattenuated)) {
      tables$disattenuated <- pair_table(object$disattenuated, object$se$disattenuated,
                                         object$ci$disattenuated)
    }
  }
  validity <- validity_table(object)
  regressions <- NULL
  increments <- NULL
  if (regression && nrow(validity) > 0) {
    # Each criterion on its default predictors (never another criterion);
    # the increment is that of the predictors beyond the selection
    # variables over the selection ones.
    ask <- function(f) tryCatch(f, error = function(e) conditionMessage(e))
    questions <- lapply(object$criteria, function(y) {
      predictors <- default_predictors(object, y)
      base <- intersect(predictors, object$selection)
      list(criterion = y, predictors = predictors, base = base,
           added = setdiff(predictors, base))
    })
    regressions <- lapply(questions, function(k) {
      ask(lawley_regression(object, k$criterion, k$predictors))
    })
    increments <- lapply(Filter(function(k) length(k$base) > 0 && length(k$added) > 0, questions),
                         function(k) ask(lawley_increment(object, k$criterion, k$base, k$added)))
    if (length(increments) == 0) increments <- NULL
  }
  structure(list(q = nrow(object$cov), p = length(object$selection),
                 selection = selection_text(object), criteria = criteria_text(object),
                 diagnostics = object$diagnostics,
                 findings = object$findings, interval = object$interval, intervals = tables,
                 validity = validity, regressions = regressions, increments = increments),
            class = "summary.tolbe_lawley")
}

print.summary.tolbe_lawley <- function(x, digits = 4, ...) {
  cat(sprintf("Lawley correction of %d variables, %d of them selection variables: %s\n",
              x$q, x$p, x$selection))
  d <- x$diagnostics
  if (is.null(d)) {
    cat("  not diagnosed (diagnostics = FALSE)\n")
  } else {
    cat(sprintf("  restricted matrix positive definite: %s; unrestricted: %s\n",
                d$restricted_positive_definite, d$unrestricted_positive_definite))
    cat(sprintf("  largest asymmetry: restricted %.3g, unrestricted %.3g\n",
                d$restricted_asymmetry, d$unrestricted_asymmetry))
    cat(sprintf("  corrected variances not positive: %d; |r| > 1: %d; sign changes: %d\n",
                d$nonpositive_variances, d$correlations_out_of_range, d$sign_changes))
    f <- x$findings
    if (!is.null(f) && nrow(f) > 0) {
      cat("Findings:\n")
      cat(sprintf("  %s: %s\n", f$severity, f$message), sep = "")
    }
  }
  if (!is.null(x$interval)) {
    cat(sprintf("\n%s\n", interval_text(x$interval)))
    cat("Corrected correlations:\n")
    print_pairs(x$intervals$cor, digits, ...)
    if (!is.null(x$intervals$disattenuated)) {
      cat("Disattenuated correlations (reliabilities taken as known):\n")
      print_pairs(x$intervals$disattenuated, digits, ...)
    }
  }
  if (nrow(x$validity) > 0) {
    cat(sprintf("\nValidities (criteria: %s):\n", x$criteria))
    shown <- x$validity
    numbers <- vapply(shown, is.numeric, TRUE)
    shown[numbers] <- lapply(shown[numbers], round, digits)
    print(shown, row.names = FALSE, ...)
  }
  for (r in x$regressions) {
    cat("\n")
    if (is.character(r)) cat("Regression not computed:", r, "\n") else print(r, digits = digits, ...)
  }
  for (r in x$increments) {
    cat("\n")
    if (is.character(r)) cat("Increment not computed:", r, "\n") else print(r, digits = digits, ...)
  }
  invisible(x)
}

confint.tolbe_lawley <- function(object, parm, level = NULL,
                                 which = c("cor", "disattenuated", "cov", "operational"),
                                 tidy = FALSE, ...) {
  which <- match.arg(which)
  info <- object$interval
  if (tidy) {
    if (is.null(info)) no_intervals()
    check_level(level, info)
    out <- as.data.frame(object, which = which)
    if (missing(parm)) return(out)
    return(out[out$term %in% parm, , drop = FALSE])
  }
  if (is.null(info)) {
    stop("the fit has no intervals: give lawley() 'n' (the size of the restricted sample) or ",
         "raw scores as 'data', or choose 'interval'", call. = FALSE)
  }
  if (!is.null(level) && !isTRUE(all.equal(level, info$level))) {
    stop(sprintf("the intervals were computed at level %s; call lawley() again with level = %s",
                 format(info$level), format(level)), call. = FALSE)
  }
  estimate <- object[[which]]
  if (is.null(estimate)) {
    stop("the fit has no disattenuated correlations: it was made without 'reliabilities'",
         call. = FALSE)
  }
  table <- pair_table(estimate, object$se[[which]], object$ci[[which]],
                      diagonal = which == "cov")
  probs <- (1 + c(-1, 1) * info$level) / 2
  out <- cbind(table$lower, table$upper)
  dimnames(out) <- list(rownames(table),
                        paste(format(100 * probs, trim = TRUE, scientific = FALSE, digits = 3),
                              "%"))
  if (missing(parm)) return(out)
  if (is.character(parm) && !all(parm %in% rownames(out))) {
    what <- c(cor = "corrected correlations", disattenuated = "disattenuated correlations",
              cov = "corrected covariances", operational = "operational correlations")[[which]]
    stop(sprintf("'parm' names no pair of the %s: %s (pairs are named as \"%s\")", what,
                 paste(setdiff(parm, rownames(out)), collapse = ", "), rownames(out)[1]),
         call. = FALSE)
  }
  out[parm, , drop = FALSE]
}

as.matrix.tolbe_lawley <- function(x, ...) x$cor

plot.tolbe_lawley <- function(x, which = c("pairs", "validity"), ...) {
  which <- match.arg(which)
  if (which == "validity") return(invisible(plot_validity(x, ...)))
  restricted <- stats::cov2cor(x$restricted)
  upper <- upper.tri(restricted)
  before <- restricted[upper]
  after <- x$cor[upper]
  changed <- sign(before) * sign(after) < 0
  # The caller's arguments win over these.
  defaults <- list(xlim = c(-1, 1), ylim = c(-1, 1), pch = ifelse(changed, 4, 1),
                   xlab = "restricted r", ylab = "corrected r",
                   main = "Lawley correction, pair by pair")
  given <- list(...)
  do.call(plot, c(list(before, after), given, defaults[setdiff(names(defaults), names(given))]))
  abline(0, 1, lty = 2)
  if (any(changed)) {
    points(before[changed], after[changed], col = "red", pch = 4)
    legend("topleft", legend = "sign change", pch = 4, col = "red", bty = "n")
  }
  invisible(x)
}
