# The validity question on a fit: regression of a criterion on predictors
# in the corrected matrix, and the increment of adding predictors to a base
# set. The numbers, their SEs and intervals come from the library
# (C_validity) by the fit's own problem and intervals, so that they belong
# to the same resamples or the same delta method as the fit's.

# The n values of one kind from the library's layout, as a tidy data frame
# (term, estimate, std.error, conf.low, conf.high) with rows named by term.
tidy_rows <- function(values, at, term) {
  data.frame(term = term, estimate = values$estimate[at], std.error = values$se[at],
             conf.low = values$lower[at], conf.high = values$upper[at], row.names = term,
             stringsAsFactors = FALSE)
}

# Variables as the user gave them (names or numbers), as names (or
# "variable N" when the fit has none).
variable_names_of <- function(x, fit) {
  names <- rownames(fit$cov)
  if (is.character(x)) x else variable_labels(x, names)
}

check_fit <- function(fit) {
  if (!inherits(fit, "tolbe_lawley")) {
    stop("'fit' must be what lawley() returns", call. = FALSE)
  }
}

# The library's values of the question `criterion` ~ `predictors`, or of
# the increment of `added` over the base set `predictors`, and where each
# kind sits among them, by the library's layout (values$offsets: where
# each part starts, from 0; the first four hold one value per predictor).
validity_values <- function(fit, criterion, predictors, added = NULL) {
  values <- .Call(C_validity, fit, criterion, predictors, added)
  if (nzchar(values$note)) {
    message(structure(class = c("tolbe_message", "message", "condition"),
                      list(message = paste0(values$note, "\n"), call = NULL,
                           code = "small_sample_intervals", variables = integer(0))))
  }
  k <- length(predictors) + length(added)
  per_predictor <- c("b", "beta", "r", "operational")
  offsets <- values$offsets
  at <- lapply(names(offsets), function(part) {
    offsets[[part]] + seq_len(if (part %in% per_predictor) k else 1)
  })
  list(values = values, at = stats::setNames(at, names(offsets)))
}

# The criterion's reliability as the fit used it (unrestricted population),
# NA when none was given.
criterion_reliability <- function(fit, criterion) {
  r <- fit$reliabilities
  if (is.null(r)) return(NA_real_)
  unname(if (is.character(criterion)) r[[criterion]] else r[[criterion]])
}

lawley_regression <- function(fit, criterion, predictors) {
  check_fit(fit)
  if (missing(criterion)) stop("give 'criterion', the variable predicted", call. = FALSE)
  if (missing(predictors)) stop("give 'predictors', the variables it is predicted from", call. = FALSE)
  got <- validity_values(fit, criterion, predictors)
  values <- got$values
  at <- got$at
  x <- variable_names_of(predictors, fit)
  y <- variable_names_of(criterion, fit)
  b <- tidy_rows(values, at$b, x)
  if (!is.null(fit$means)) {
    # mean_y - b'mean_X in the unrestricted population; the library gives
    # no SE for it.
    index <- function(v) if (is.character(v)) match(v, rownames(fit$cov)) else v
    intercept <- unname(fit$means[[index(criterion)]] -
                          sum(b$estimate * fit$means[index(predictors)]))
    b <- rbind(data.frame(term = "(Intercept)", estimate = intercept, std.error = NA_real_,
                          conf.low = NA_real_, conf.high = NA_real_, row.names = "(Intercept)",
                          stringsAsFactors = FALSE), b)
  }
  reliability <- criterion_reliability(fit, criterion)
  operational <- !is.na(reliability)
  structure(class = "tolbe_regression",
            list(coefficients = stats::setNames(b$estimate, b$term), b = b,
                 beta = tidy_rows(values, at$beta, x), r = tidy_rows(values, at$r, x),
                 operational = if (operational) tidy_rows(values, at$operational, x),
                 R = tidy_rows(values, at$R, "R"), R2 = tidy_rows(values, at$R2, "R2"),
                 operational_R = if (operational) {
                   tidy_rows(values, at$operational_R, "operational R")
                 },
                 criterion = y, predictors = x, reliability = reliability,
                 interval = fit$interval, failed_resamples = values$failed_resamples,
                 note = if (nzchar(values$note)) values$note))
}

lawley_increment <- function(fit, criterion, base, added) {
  check_fit(fit)
  if (missing(criterion)) stop("give 'criterion', the variable predicted", call. = FALSE)
  if (missing(base) || length(base) == 0) {
    stop("give 'base', the predictors the others are added to", call. = FALSE)
  }
  if (missing(added) || length(added) == 0) {
    stop("give 'added', the predictors added to the base set", call. = FALSE)
  }
  got <- validity_values(fit, criterion, base, added)
  values <- got$values
  at <- got$at
  structure(class = "tolbe_increment",
            list(delta_R = tidy_rows(values, at$delta_R, "delta R"),
                 delta_R2 = tidy_rows(values, at$delta_R2, "delta R2"),
                 R = tidy_rows(values, at$R, "R"), R2 = tidy_rows(values, at$R2, "R2"),
                 base_R2 = tidy_rows(values, at$base_R2, "base R2"),
                 criterion = variable_names_of(criterion, fit),
                 base = variable_names_of(base, fit), added = variable_names_of(added, fit),
                 interval = fit$interval, failed_resamples = values$failed_resamples,
                 note = if (nzchar(values$note)) values$note))
}

coef.tolbe_regression <- function(object, ...) object$coefficients

no_intervals <- function() {
  stop("the fit has no intervals: give lawley() 'n' (the size of the restricted sample) or ",
       "raw scores as 'data', or choose 'interval'", call. = FALSE)
}

check_level <- function(level, info) {
  if (!is.null(level) && !isTRUE(all.equal(level, info$level))) {
    stop(sprintf("the intervals were computed at level %s; call lawley() again with level = %s",
                 format(info$level), format(level)), call. = FALSE)
  }
}

bound_names <- function(level) {
  probs <- (1 + c(-1, 1) * level) / 2
  paste(format(100 * probs, trim = TRUE, scientific = FALSE, digits = 3), "%")
}

# The intervals of the unstandardised weights, as confint() of lm() gives
# them; the intercept's are NA (the library gives it no SE).
confint.tolbe_regression <- function(object, parm, level = NULL, ...) {
  if (is.null(object$interval)) no_intervals()
  check_level(level, object$interval)
  out <- cbind(object$b$conf.low, object$b$conf.high)
  dimnames(out) <- list(object$b$term, bound_names(object$interval$level))
  if (missing(parm)) out else out[parm, , drop = FALSE]
}

as.data.frame.tolbe_regression <- function(x, row.names = NULL, optional = FALSE, ...) {
  # Each predictor's weights, then its validity and operational validity
  # (as the command line's table has them), then the composite's.
  labelled <- function(part, label) {
    if (is.null(part)) return(NULL)
    part$term <- paste0(label, ":", part$term)
    part
  }
  parts <- list(x$b, labelled(x$beta, "beta"), labelled(x$r, "r"),
                labelled(x$operational, "operational"), x$R2, x$R, x$operational_R)
  out <- do.call(rbind, parts[!vapply(parts, is.null, TRUE)])
  rownames(out) <- NULL
  out
}

as.data.frame.tolbe_increment <- function(x, row.names = NULL, optional = FALSE, ...) {
  out <- rbind(x$base_R2, x$R2, x$delta_R2, x$R, x$delta_R)
  rownames(out) <- NULL
  out
}

print_tidy <- function(table, digits, ...) {
  shown <- as.matrix(table[, c("estimate", "std.error", "conf.low", "conf.high")])
  rownames(shown) <- table$term
  print(round(shown, digits), ...)
}

print.tolbe_regression <- function(x, digits = 4, ...) {
  cat(sprintf("Regression of %s on %s in the corrected matrix\n", x$criterion,
              paste(x$predictors, collapse = ", ")))
  cat(if (is.null(x$interval)) "no intervals\n" else sprintf("%s\n", interval_text(x$interval)))
  print_tidy(as.data.frame(x), digits, ...)
  if (!is.na(x$reliability)) {
    cat(sprintf("operational R: the criterion made reliable (r_yy = %s)\n",
                format(x$reliability, digits = digits)))
    above <- c(x$operational_R$estimate, x$operational$estimate)
    if (any(above > 1, na.rm = TRUE)) {
      cat("an operational value above 1: the criterion's reliability is likely too low\n")
    }
  }
  if (!is.null(x$note)) cat(sprintf("note: %s\n", x$note))
  invisible(x)
}

print.tolbe_increment <- function(x, digits = 4, ...) {
  cat(sprintf("Increment of %s over %s in predicting %s (corrected matrix)\n",
              paste(x$added, collapse = ", "), paste(x$base, collapse = ", "), x$criterion))
  cat(if (is.null(x$interval)) "no intervals\n" else sprintf("%s\n", interval_text(x$interval)))
  print_tidy(as.data.frame(x), digits, ...)
  if (!is.null(x$note)) cat(sprintf("note: %s\n", x$note))
  invisible(x)
}

# The predictors of `criterion` (a number) when none are named, by the
# library's rule, the command line's: every variable but the criterion and
# the criteria, those named and those given a reliability. A criterion is
# never a default predictor.
default_predictors <- function(fit, criterion) {
  given <- if (is.null(fit$reliabilities)) integer(0) else which(!is.na(fit$reliabilities))
  .Call(C_default_predictors, nrow(fit$cov), as.integer(criterion),
        as.integer(union(fit$criteria, given)))
}

# The predictor-criterion pairs of a fit: every criterion with each of its
# default predictors. One row per pair, with the restricted r, the
# corrected r, the operational validity (the criterion made reliable) and
# the disattenuated r (both made reliable, when the predictor is not a
# selection variable), each with its interval.
validity_table <- function(fit) {
  names <- variable_labels(seq_len(nrow(fit$cov)), rownames(fit$cov))
  criteria <- fit$criteria
  place <- do.call(rbind, c(list(data.frame(predictor = integer(0), criterion = integer(0))),
                            lapply(criteria, function(y) {
                              data.frame(predictor = default_predictors(fit, y), criterion = y)
                            })))
  at <- cbind(place$predictor, place$criterion)
  restricted <- stats::cov2cor(fit$restricted)
  column <- function(m, bound = NULL) {
    if (is.null(m)) return(rep(NA_real_, nrow(at)))
    if (!is.null(bound)) m <- m[[bound]]
    if (is.null(m)) rep(NA_real_, nrow(at)) else unname(m[at])
  }
  out <- data.frame(predictor = names[place$predictor], criterion = names[place$criterion],
                    restricted = unname(restricted[at]), stringsAsFactors = FALSE)
  for (kind in c("cor", "operational", "disattenuated")) {
    label <- if (kind == "cor") "corrected" else kind
    out[[label]] <- column(fit[[kind]])
    out[[paste0(label, ".low")]] <- column(fit$ci[[kind]], "lower")
    out[[paste0(label, ".high")]] <- column(fit$ci[[kind]], "upper")
  }
  out
}

as.data.frame.tolbe_lawley <- function(x, row.names = NULL, optional = FALSE,
                                       which = c("validity", "cor", "operational",
                                                 "disattenuated", "cov"), ...) {
  which <- match.arg(which)
  if (which == "validity") {
    table <- validity_table(x)
    se <- function(kind) {
      if (is.null(x$se[[kind]])) return(rep(NA_real_, nrow(table)))
      names <- variable_labels(seq_len(nrow(x$cov)), rownames(x$cov))
      unname(x$se[[kind]][cbind(match(table$predictor, names), match(table$criterion, names))])
    }
    rows <- lapply(c("restricted", "corrected", "operational", "disattenuated"), function(kind) {
      matrix_kind <- if (kind == "corrected") "cor" else kind
      low <- table[[paste0(kind, ".low")]]
      data.frame(term = paste0(table$predictor, "-", table$criterion),
                 predictor = table$predictor, criterion = table$criterion, quantity = kind,
                 estimate = table[[kind]],
                 std.error = if (kind == "restricted") NA_real_ else se(matrix_kind),
                 conf.low = if (is.null(low)) NA_real_ else low,
                 conf.high = if (is.null(low)) NA_real_ else table[[paste0(kind, ".high")]],
                 stringsAsFactors = FALSE)
    })
    out <- do.call(rbind, rows)
    out <- out[!is.na(out$estimate), , drop = FALSE]
    rownames(out) <- NULL
    return(out)
  }
  estimate <- x[[which]]
  if (is.null(estimate)) {
    stop("the fit has no disattenuated correlations: it was made without 'reliabilities'",
         call. = FALSE)
  }
  empty <- matrix(NA_real_, nrow(estimate), ncol(estimate))
  se <- if (is.null(x$se[[which]])) empty else x$se[[which]]
  ci <- if (is.null(x$ci[[which]])) list(lower = empty, upper = empty) else x$ci[[which]]
  table <- pair_table(estimate, se, ci, diagonal = which == "cov")
  data.frame(term = rownames(table), estimate = table$estimate, std.error = table$se,
             conf.low = table$lower, conf.high = table$upper, stringsAsFactors = FALSE)
}

# A dot-and-whisker chart of the predictor-criterion pairs: restricted r
# (open circle), corrected r and operational validity (filled marks) with
# their intervals. Sized for a journal column (about 3.5 inches wide).
plot_validity <- function(x, xlab = "validity (r)", main = NULL, ...) {
  table <- validity_table(x)
  if (nrow(table) == 0) {
    stop("the fit has no predictor-criterion pairs: name the criteria with lawley(criteria = ) ",
         "or give their reliabilities", call. = FALSE)
  }
  n <- nrow(table)
  labels <- paste(table$predictor, "\u2192", table$criterion)
  y <- rev(seq_len(n))
  kinds <- c("restricted", "corrected", "operational")
  shift <- c(0.22, 0, -0.22)
  pch <- c(1, 19, 17)
  col <- c("grey40", "black", "#1f5fa8")
  values <- unlist(table[, c("restricted", "corrected", "corrected.low", "corrected.high",
                             "operational", "operational.low", "operational.high")])
  xlim <- range(c(0, values), na.rm = TRUE)
  old <- graphics::par(mar = c(3, 0.8 + 0.5 * max(nchar(labels)), if (is.null(main)) 2 else 3.2,
                               0.6),
                       mgp = c(1.9, 0.55, 0), tcl = -0.3, las = 1)
  on.exit(graphics::par(old))
  graphics::plot.new()
  graphics::plot.window(xlim = xlim, ylim = c(0.5, n + 0.5), ...)
  graphics::abline(v = 0, col = "grey80")
  graphics::abline(h = y, col = "grey93")
  for (k in seq_along(kinds)) {
    kind <- kinds[k]
    at <- y + shift[k]
    low <- table[[paste0(kind, ".low")]]
    if (!is.null(low)) {
      graphics::segments(low, at, table[[paste0(kind, ".high")]], at, col = col[k], lwd = 1.2)
    }
    graphics::points(table[[kind]], at, pch = pch[k], col = col[k], cex = 0.9)
  }
  graphics::axis(1)
  graphics::axis(2, at = y, labels = labels, tick = FALSE, line = -0.3)
  graphics::box()
  graphics::title(xlab = xlab, main = main)
  graphics::legend("top", inset = c(0, -0.09 * if (is.null(main)) 1 else 0.6), xpd = NA,
                   horiz = TRUE, bty = "n", cex = 0.85, pch = pch, col = col,
                   lty = c(0, 1, 1), legend = kinds, seg.len = 1.2,
                   x.intersp = 0.5)
  invisible(table)
}
