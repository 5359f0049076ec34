
as_square_matrix <- function(x, what, finite = TRUE) {
  if (is.data.frame(x)) x <- as.matrix(x)
  if (!is.matrix(x) || !is.numeric(x)) {
    stop(sprintf("'%s' must be a numeric matrix (or a data frame of numbers)", what),
         call. = FALSE)
  }
  if (nrow(x) != ncol(x)) {
    stop(sprintf("'%s' must be square, not %d x %d", what, nrow(x), ncol(x)), call. = FALSE)
  }
  if (finite && any(!is.finite(x))) {
    stop(sprintf("'%s' holds NA or values that are not finite numbers", what), call. = FALSE)
  }
  storage.mode(x) <- "double"
  x
}

# Which elements of the q x q restricted matrix the correction reads: the
# upper triangle of the selection block in the order of `selection`, the
# selection rows of the other columns and the whole block of the others.
read_by_correction <- function(q, selection) {
  others <- setdiff(seq_len(q), selection)
  read <- matrix(FALSE, q, q)
  read[selection, selection] <- upper.tri(diag(length(selection)), diag = TRUE)
  read[selection, others] <- TRUE
  read[others, others] <- TRUE
  read
}

# "[i, j]" for each place (rows and columns 1-based), by name when there are
# names; the first few of many.
places_text <- function(rows, columns, names, most = 5L) {
  label <- function(i) if (is.null(names)) as.character(i) else names[i]
  text <- sprintf("[%s, %s]", vapply(rows, label, ""), vapply(columns, label, ""))
  if (length(text) > most) {
    text <- c(text[seq_len(most)], sprintf("and %d more", length(text) - most))
  }
  paste(text, collapse = ", ")
}

variable_names <- function(x) {
  names <- rownames(x)
  if (is.null(names)) names <- colnames(x)
  names
}

resolve_selection <- function(selection, restricted, unrestricted) {
  q <- nrow(restricted)
  p <- nrow(unrestricted)
  names <- variable_names(restricted)
  if (is.null(selection)) {
    # A named 'unrestricted' says which variables it holds; an unnamed one
    # holds the first p.
    selection <- variable_names(unrestricted)
    how <- paste("give 'selection', the names or numbers of the selection variables in",
                 "'restricted' in the order of 'unrestricted'")
    if (is.null(selection)) {
      selection <- seq_len(p)
    } else if (is.null(names)) {
      stop(sprintf("'restricted' has none of the names that 'unrestricted' gives (%s); %s",
                   paste(selection, collapse = ", "), how), call. = FALSE)
    } else if (!all(selection %in% names)) {
      stop(sprintf("'unrestricted' names variables that 'restricted' lacks: %s; %s",
                   paste(setdiff(selection, names), collapse = ", "), how), call. = FALSE)
    }
  }
  if (is.character(selection)) {
    if (is.null(names)) {
      stop("'selection' gives names, but 'restricted' has no dimnames", call. = FALSE)
    }
    unknown <- setdiff(selection, names)
    if (length(unknown) > 0) {
      stop(sprintf("'selection' names unknown variables: %s", paste(unknown, collapse = ", ")),
           call. = FALSE)
    }
    selection <- match(selection, names)
  }
  if (!is.numeric(selection) || any(is.na(selection)) || any(selection != round(selection))) {
    stop("'selection' must be variable names or whole numbers", call. = FALSE)
  }
  selection <- as.integer(selection)
  if (length(selection) != p) {
    stop(sprintf("'selection' names %d variables, but 'unrestricted' is %d x %d",
                 length(selection), p, p), call. = FALSE)
  }
  if (any(selection < 1L | selection > q)) {
    stop(sprintf("'selection' holds numbers outside 1..%d", q), call. = FALSE)
  }
  if (anyDuplicated(selection) > 0) {
    stop("'selection' repeats a variable", call. = FALSE)
  }
  selection
}

resolve_reliabilities <- function(reliabilities, others, names) {
  if (is.null(reliabilities)) return(NULL)
  if (!is.numeric(reliabilities) || any(!is.finite(reliabilities))) {
    stop("'reliabilities' must be finite numbers", call. = FALSE)
  }
  if (!is.null(names(reliabilities)) && !is.null(names)) {
    unknown <- setdiff(names(reliabilities), names[others])
    if (length(unknown) > 0) {
      stop(sprintf("'reliabilities' names variables that are not among the others: %s",
                   paste(unknown, collapse = ", ")), call. = FALSE)
    }
    reliabilities <- reliabilities[names[others]]
  }
  if (length(reliabilities) != length(others) || any(is.na(reliabilities))) {
    stop(sprintf("'reliabilities' needs one value for each of the %d non-selection variables",
                 length(others)), call. = FALSE)
  }
  as.double(unname(reliabilities))
}

pairs_text <- function(rows, columns, names) {
  label <- function(i) if (is.null(names)) as.character(i) else names[i]
  paste0(vapply(rows, label, ""), "-", vapply(columns, label, ""), collapse = ", ")
}


lawley <- function(restricted, unrestricted, selection = NULL, reliabilities = NULL,
                   restricted_means = NULL, unrestricted_means = NULL, diagnostics = TRUE) {
  # Plain double matrices with the default selection are corrected in C in
  # one call; anything else, a failure included, takes the road that
  # checks and resolves every argument here.
  fit <- .Call(C_lawley_plain, restricted, unrestricted, selection, reliabilities,
               restricted_means, unrestricted_means, diagnostics)
  if (is.null(fit)) {
    return(lawley_resolved(restricted, unrestricted, selection, reliabilities,
                           restricted_means, unrestricted_means, isTRUE(diagnostics)))
  }
  if (diagnostics) warn_about(fit)
  fit
}

lawley_resolved <- function(restricted, unrestricted, selection, reliabilities,
                            restricted_means, unrestricted_means, diagnose) {
  restricted <- as_square_matrix(restricted, "restricted", finite = FALSE)
  unrestricted <- as_square_matrix(unrestricted, "unrestricted")
  q <- nrow(restricted)
  p <- nrow(unrestricted)
  if (p > q) {
    stop(sprintf("'unrestricted' is %d x %d, but 'restricted' has only %d variables", p, p, q),
         call. = FALSE)
  }
  names <- variable_names(restricted)
  selection <- resolve_selection(selection, restricted, unrestricted)
  missing <- !is.finite(restricted) & read_by_correction(q, selection)
  if (any(missing)) {
    at <- which(missing, arr.ind = TRUE)
    stop(sprintf(paste("'restricted' holds NA or values that are not finite numbers where the",
                       "correction reads it: %s"), places_text(at[, 1], at[, 2], names)),
         call. = FALSE)
  }
  if (!is.null(reliabilities)) {
    reliabilities <- resolve_reliabilities(reliabilities, setdiff(seq_len(q), selection), names)
  }
  with_means <- !is.null(restricted_means) || !is.null(unrestricted_means)
  if (with_means) {
    check_means(restricted_means, unrestricted_means, q, p)
    restricted_means <- in_order(restricted_means, names, "restricted_means", "'restricted'")
    selected_names <- if (is.null(names)) variable_names(unrestricted) else names[selection]
    unrestricted_means <- in_order(unrestricted_means, selected_names, "unrestricted_means",
                                   "the selection variables")
  }
  fit <- .Call(C_lawley, restricted, unrestricted, selection, reliabilities, diagnose, names)
  if (!inherits(fit, "tolbe_lawley")) stop_failed(fit)
  if (diagnose) warn_about(fit)
  if (with_means) {
    means <- .Call(C_means, restricted, unrestricted, selection, restricted_means,
                   unrestricted_means)
    names(means) <- names
    fit[["means"]] <- means
  }
  fit
}

check_means <- function(restricted_means, unrestricted_means, q, p) {
  if (is.null(restricted_means) || is.null(unrestricted_means)) {
    stop("give both 'restricted_means' and 'unrestricted_means', or neither", call. = FALSE)
  }
  if (!is.numeric(restricted_means) || length(restricted_means) != q ||
      any(!is.finite(restricted_means))) {
    stop(sprintf("'restricted_means' must be %d finite numbers", q), call. = FALSE)
  }
  if (!is.numeric(unrestricted_means) || length(unrestricted_means) != p ||
      any(!is.finite(unrestricted_means))) {
    stop(sprintf("'unrestricted_means' must be %d finite numbers", p), call. = FALSE)
  }
}

# The values of `x` (checked by check_means) as doubles in the order of
# `names`: by name when both have names, else as given.
in_order <- function(x, names, what, whose) {
  given <- names(x)
  if (is.null(given) || is.null(names)) return(as.double(unname(x)))
  if (anyNA(given) || any(given == "")) {
    stop(sprintf("'%s' names some values but not all", what), call. = FALSE)
  }
  unknown <- setdiff(given, names)
  if (length(unknown) > 0) {
    stop(sprintf("'%s' names variables that are not among %s: %s", what, whose,
                 paste(unknown, collapse = ", ")), call. = FALSE)
  }
  repeated <- unique(given[duplicated(given)])
  if (length(repeated) > 0) {
    stop(sprintf("'%s' names a variable more than once: %s", what,
                 paste(repeated, collapse = ", ")), call. = FALSE)
  }
  as.double(unname(x[names]))
}

# `d` is the findings of a correction that did not succeed.
stop_failed <- function(d) {
  if (d$status == 1L) {
    stop(sprintf(paste("the restricted var/cov block of the selection variables is not",
                       "positive definite (its leading minor of order %d is not positive)"),
                 d$leading_minor), call. = FALSE)
  }
  stop(sprintf("invalid argument: %s", d$reason), call. = FALSE)
}

# The findings of a correction, in plain words.
warn_about <- function(fit) {
  d <- fit$diagnostics
  p <- length(fit$selection)
  names <- rownames(fit$cov)
  unread <- d$unread_not_finite
  if (nrow(unread) > 0) {
    warning(sprintf(paste("'restricted' holds NA or values that are not finite at %s, which the",
                          "correction does not read; they were ignored"),
                    places_text(unread[, "row"], unread[, "column"], names)), call. = FALSE)
  }
  if (d$restricted_asymmetry > 1e-12) {
    warning(sprintf(paste("'restricted' is not symmetric (largest difference %.3g relative to",
                          "the diagonal); its upper triangle was used for the selection",
                          "variables"), d$restricted_asymmetry), call. = FALSE)
  }
  if (d$unrestricted_asymmetry > 1e-12) {
    warning(sprintf("'unrestricted' is not symmetric (largest difference %.3g); all of it was used",
                    d$unrestricted_asymmetry), call. = FALSE)
  }
  if (p > 0 && !d$unrestricted_positive_definite) {
    warning("'unrestricted' is not positive definite: the corrected values mean little",
            call. = FALSE)
  }
  if (!d$restricted_positive_definite) {
    warning("'restricted' is not positive definite as a whole", call. = FALSE)
  }
  # The findings number variables from 1.
  variable <- function(i) if (is.null(names)) sprintf("variable %d", i) else names[i]
  pair <- function(at) {
    if (is.null(names)) sprintf("variables %d and %d", at[1], at[2])
    else sprintf("%s and %s", names[at[1]], names[at[2]])
  }
  if (d$nonpositive_variances > 0) {
    warning(sprintf("%d corrected variance(s) are not positive (the first of %s)",
                    d$nonpositive_variances, variable(d$first_nonpositive_variance)),
            call. = FALSE)
  }
  if (d$correlations_out_of_range > 0) {
    warning(sprintf("%d corrected correlation(s) exceed 1 in magnitude (the first between %s)",
                    d$correlations_out_of_range, pair(d$first_correlation_out_of_range)),
            call. = FALSE)
  }
  if (d$disattenuated_out_of_range > 0) {
    warning(sprintf(paste("%d disattenuated correlation(s) exceed 1 in magnitude (the first",
                          "between %s); check the reliabilities"),
                    d$disattenuated_out_of_range, pair(d$first_disattenuated_out_of_range)),
            call. = FALSE)
  }
  if (d$reliabilities_out_of_range > 0) {
    warning(sprintf(paste("%d reliability(ies) lie outside (0, 1] (the first of %s); a",
                          "reliability is a proportion such as 0.81"),
                    d$reliabilities_out_of_range, variable(d$first_reliability_out_of_range)),
            call. = FALSE)
  }
}


cor2cov <- function(r, sd) {
  r <- as_square_matrix(r, "r")
  if (!is.numeric(sd) || length(sd) != nrow(r) || any(!is.finite(sd))) {
    stop(sprintf("'sd' must be %d finite numbers", nrow(r)), call. = FALSE)
  }
  r * outer(sd, sd)
}

print.tolbe_lawley <- function(x, digits = 4, ...) {
  cat("Range restriction corrected correlations (Lawley 1943):\n")
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
                 selection = object$selection, diagnostics = object$diagnostics),
            class = "summary.tolbe_lawley")
}

print.summary.tolbe_lawley <- function(x, ...) {
  d <- x$diagnostics
  cat(sprintf("Lawley correction of %d variables, %d of them selection variables (%s)\n",
              x$q, x$p, paste(x$selection, collapse = ", ")))
  cat(sprintf("  restricted matrix positive definite: %s; unrestricted: %s\n",
              d$restricted_positive_definite, d$unrestricted_positive_definite))
  cat(sprintf("  largest asymmetry: restricted %.3g, unrestricted %.3g\n",
              d$restricted_asymmetry, d$unrestricted_asymmetry))
  cat(sprintf("  corrected variances not positive: %d; |r| > 1: %d; sign changes: %d\n",
              d$nonpositive_variances, d$correlations_out_of_range, d$sign_changes))
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
