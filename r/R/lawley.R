
lawley <- function(restricted, unrestricted, selection = NULL, reliabilities = NULL,
                   restricted_means = NULL, unrestricted_means = NULL, diagnostics = TRUE,
                   triangle = NULL) {
  # The C code resolves and checks every argument, corrects and returns the
  # object, or, when there is something to say, what to say with it.
  fit <- .Call(C_lawley, restricted, unrestricted, selection, reliabilities,
               restricted_means, unrestricted_means, diagnostics, triangle)
  if (is.object(fit)) fit else say(fit)
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

selection_text <- function(x) {
  if (length(x$selection) == 0) return("none")
  paste(variable_labels(x$selection, rownames(x$cov)), collapse = ", ")
}

print.tolbe_lawley <- function(x, digits = 4, ...) {
  cat("Range restriction corrected correlations (Lawley 1943)\n")
  cat(sprintf("Selection variables: %s\n", selection_text(x)))
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
  invisible(x)
}

summary.tolbe_lawley <- function(object, ...) {
  structure(list(q = nrow(object$cov), p = length(object$selection),
                 selection = selection_text(object), diagnostics = object$diagnostics,
                 findings = object$findings),
            class = "summary.tolbe_lawley")
}

print.summary.tolbe_lawley <- function(x, ...) {
  cat(sprintf("Lawley correction of %d variables, %d of them selection variables: %s\n",
              x$q, x$p, x$selection))
  d <- x$diagnostics
  if (is.null(d)) {
    cat("  not diagnosed (diagnostics = FALSE)\n")
    return(invisible(x))
  }
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
  invisible(x)
}

as.matrix.tolbe_lawley <- function(x, ...) x$cor

plot.tolbe_lawley <- function(x, ...) {
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
