# correct_r(): one observed validity coefficient per study corrected for
# range restriction and unreliability, by the library's formulas
# (tolbe/univariate.h), vectorised over its arguments.

correct_r <- function(r, n = NULL, method = c("direct", "indirect", "bivariate_indirect", "none"),
                      ux = NULL, uy = NULL, rxx = NULL, ryy = NULL,
                      rxx_sample = c("unrestricted", "restricted"),
                      ryy_sample = c("restricted", "unrestricted"), sign_xz = 1, sign_yz = 1,
                      level = 0.95) {
  method <- match.arg(method)
  numbers <- list(r = r, n = n, ux = ux, uy = uy, rxx = rxx, ryy = ryy, sign_xz = sign_xz,
                  sign_yz = sign_yz)
  for (name in names(numbers)) {
    x <- numbers[[name]]
    if (!is.null(x) && !(is.numeric(x) || all(is.na(x)))) {
      stop(sprintf("'%s' must be numbers", name), call. = FALSE)
    }
  }
  samples <- list(rxx_sample = rxx_sample, ryy_sample = ryy_sample)
  defaults <- c(rxx_sample = "unrestricted", ryy_sample = "restricted")
  for (name in names(samples)) {
    x <- samples[[name]]
    # The whole default vector means the default.
    if (identical(x, c(defaults[[name]], setdiff(c("restricted", "unrestricted"),
                                                   defaults[[name]])))) {
      x <- defaults[[name]]
    }
    if (!is.character(x) || anyNA(x) || !all(x %in% c("restricted", "unrestricted"))) {
      stop(sprintf("'%s' must be \"restricted\" or \"unrestricted\"", name), call. = FALSE)
    }
    samples[[name]] <- x
  }
  if (!is.numeric(level) || length(level) != 1 || is.na(level)) {
    stop("'level' must be one number in (0, 1)", call. = FALSE)
  }
  given <- c(numbers, samples)
  given <- given[!vapply(given, is.null, logical(1))]
  k <- max(vapply(given, length, integer(1)))
  if (k == 0 || any(vapply(given, length, integer(1)) == 0)) {
    stop("every argument given needs at least one value", call. = FALSE)
  }
  stretch <- function(x, missing) if (is.null(x)) rep(missing, k) else rep_len(x, k)
  inputs <- data.frame(r = stretch(r, NA_real_), n = as.integer(stretch(n, NA_integer_)),
                       ux = stretch(ux, NA_real_), uy = stretch(uy, NA_real_),
                       rxx = stretch(rxx, NA_real_), ryy = stretch(ryy, NA_real_),
                       rxx_sample = stretch(samples$rxx_sample, NA_character_),
                       ryy_sample = stretch(samples$ryy_sample, NA_character_),
                       stringsAsFactors = FALSE)
  code <- c(none = 0L, direct = 1L, indirect = 2L, bivariate_indirect = 3L)[[method]]
  sample_code <- function(x) ifelse(x == "restricted", 0L, 1L)
  got <- .Call(C_correct_r, as.double(inputs$r), as.integer(inputs$n), code,
               as.double(inputs$ux), as.double(inputs$uy), as.double(inputs$rxx),
               as.double(inputs$ryy), sample_code(inputs$rxx_sample),
               sample_code(inputs$ryy_sample), as.integer(stretch(sign_xz, 1L)),
               as.integer(stretch(sign_yz, 1L)), as.double(level))
  out <- data.frame(inputs,
                    rho_operational = got[[2]], rho_operational_se = got[[3]],
                    rho_operational_lower = got[[4]], rho_operational_upper = got[[5]],
                    rho_true = got[[6]], rho_true_se = got[[7]], rho_true_lower = got[[8]],
                    rho_true_upper = got[[9]], ut = got[[10]], up = got[[11]],
                    problem = got[[1]], stringsAsFactors = FALSE)
  out$method <- method
  # Not given, or not computed (said in `problem`): NA, as R writes it.
  out[] <- lapply(out, function(x) if (is.double(x)) replace(x, is.nan(x), NA_real_) else x)
  problems <- unique(stats::na.omit(out$problem))
  for (p in problems) {
    rows <- which(out$problem == p)
    warning(structure(class = c("tolbe_warning", "warning", "condition"),
                      list(message = sprintf("%s %s: %s", if (length(rows) == 1) "study" else "studies",
                                             paste(rows, collapse = ", "),
                                             .Call(C_study_problem_message, p)),
                           call = NULL, code = p, variables = rows)))
  }
  out
}
