/* Standard errors and intervals: those a fit asks for, into fit$se,
 * fit$ci and fit$interval, and the request that made them read back from
 * a fit, so that a validity question asked later gets the same resamples
 * or the same delta method. */
#include <errno.h>
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolbe_r.h"

SEXP integer_or_na(int value, int applies) {
  return ScalarInteger(applies ? value : NA_INTEGER);
}

/* Stops, in the library's words, when `what` would need a workspace of
 * `doubles` and `ints` beyond the library's bound on memory: a bootstrap
 * of many variables and resamples is refused at once rather than taking
 * the machine's memory for minutes. */
/* A q x q matrix with the attributes of `like`. */
static SEXP seed_value(unsigned long long seed) {
  if (seed <= 9007199254740992ULL) return ScalarReal((double)seed);
  char digits[24];
  snprintf(digits, sizeof digits, "%llu", seed);
  return mkString(digits);
}

/* fit$interval$seed read back; returns whether it is one. */
static int fit_seed(SEXP x, unsigned long long* out) {
  if (TYPEOF(x) == STRSXP && XLENGTH(x) == 1 && STRING_ELT(x, 0) != NA_STRING) {
    const char* digits = CHAR(STRING_ELT(x, 0));
    char* end = NULL;
    errno = 0;
    *out = strtoull(digits, &end, 10);
    return digits[0] >= '0' && digits[0] <= '9' && *end == '\0' && errno == 0;
  }
  if (TYPEOF(x) != REALSXP || XLENGTH(x) != 1 || !(REAL(x)[0] >= 0) || !isfinite(REAL(x)[0])) {
    return 0;
  }
  *out = (unsigned long long)REAL(x)[0];
  return 1;
}

/* The SEs and intervals that `pr` asks for, of its correction, into
 * fit$se, fit$ci and fit$interval; the matrices are named and shaped as
 * `like`. With raw scores (`data`, `pool`, else NULL) the library computes
 * V and S from them anew, by the rule that gave pr->restricted and
 * pr->unrestricted: they are checked to be the same, so that the
 * intervals are those of the estimates. Returns the resamples left out. */
void intervals_into(SEXP fit, const tolbe_fit* f, SEXP dimnames, int with_data, int with_pool) {
  tolbe_interval_summary summary;
  unsigned long long seed = 0;
  const char* description = NULL;
  if (!tolbe_fit_intervals(f, &summary, &seed, &description)) return;
  int q = nrows(VECTOR_ELT(fit, FIT_COV));
  SEXP se = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  SEXP ci = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  setAttrib(se, R_NamesSymbol, matrix_names);
  setAttrib(ci, R_NamesSymbol, matrix_names);
  SET_VECTOR_ELT(fit, FIT_SE, se);
  SET_VECTOR_ELT(fit, FIT_CI, ci);
  UNPROTECT(2);
  for (int m = 0; m < MATRIX_LENGTH; ++m) {
    const double* values = tolbe_fit_matrix(f, m, TOLBE_FIT_SE);
    if (values == NULL) continue;
    SEXP one = allocMatrix(REALSXP, q, q);
    SET_VECTOR_ELT(se, m, one);
    memcpy(REAL(one), values, (size_t)q * (size_t)q * sizeof(double));
    if (!isNull(dimnames)) setAttrib(one, R_DimNamesSymbol, dimnames);
    SEXP bounds = allocVector(VECSXP, BOUND_LENGTH);
    SET_VECTOR_ELT(ci, m, bounds);
    setAttrib(bounds, R_NamesSymbol, bound_names);
    for (int b = 0; b < BOUND_LENGTH; ++b) {
      SEXP bound = allocMatrix(REALSXP, q, q);
      SET_VECTOR_ELT(bounds, b, bound);
      memcpy(REAL(bound),
             tolbe_fit_matrix(f, m, b == BOUND_LOWER ? TOLBE_FIT_LOWER : TOLBE_FIT_UPPER),
             (size_t)q * (size_t)q * sizeof(double));
      if (!isNull(dimnames)) setAttrib(bound, R_DimNamesSymbol, dimnames);
    }
  }
  int bootstrap = summary.method == TOLBE_INTERVAL_BOOTSTRAP;
  SEXP info = PROTECT(allocVector(VECSXP, INTERVAL_LENGTH));
  setAttrib(info, R_NamesSymbol, interval_names);
  SET_VECTOR_ELT(info, INTERVAL_METHOD, mkString(tolbe_interval_method_name(summary.method)));
  SET_VECTOR_ELT(info, INTERVAL_CI_TYPE,
                 mkString(!bootstrap                                       ? "wald"
                          : summary.interval == TOLBE_BOOTSTRAP_PERCENTILE ? "percentile"
                                                                           : "bca"));
  SET_VECTOR_ELT(info, INTERVAL_LEVEL, ScalarReal(summary.level));
  SET_VECTOR_ELT(info, INTERVAL_N, ScalarInteger(summary.n));
  SET_VECTOR_ELT(info, INTERVAL_N_UNRESTRICTED,
                 integer_or_na(summary.n_unrestricted, summary.n_unrestricted > 0));
  SET_VECTOR_ELT(info, INTERVAL_B, integer_or_na(summary.resamples, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_SEED, bootstrap ? seed_value(seed) : ScalarReal(NA_REAL));
  SET_VECTOR_ELT(info, INTERVAL_THREADS, integer_or_na(summary.threads, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_FAILED, integer_or_na(summary.failed_resamples, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_PERCENTILE_FALLBACKS,
                 integer_or_na(summary.percentile_fallbacks,
                               bootstrap && summary.interval == TOLBE_BOOTSTRAP_BCA));
  SET_VECTOR_ELT(info, INTERVAL_ROWS_DROPPED, integer_or_na(summary.rows_dropped, with_data));
  SET_VECTOR_ELT(info, INTERVAL_POOL_ROWS_DROPPED,
                 integer_or_na(summary.pool_rows_dropped, with_pool));
  SET_VECTOR_ELT(info, INTERVAL_DESCRIPTION, mkString(description));
  SET_VECTOR_ELT(fit, FIT_INTERVAL, info);
  UNPROTECT(1);
}

SEXP element(SEXP x, const char* name) {
  SEXP names = getAttrib(x, R_NamesSymbol);
  for (R_xlen_t k = 0; k < XLENGTH(x) && !isNull(names); ++k) {
    if (strcmp(CHAR(STRING_ELT(names, k)), name) == 0) return VECTOR_ELT(x, k);
  }
  return R_NilValue;
}

static void NORET fail_fit(const char* what) {
  fail("'fit' is not as lawley() made it (%s); make it anew with lawley()", what);
}

/* The number `name` of fit$interval, NaN when it is missing or NA. */
static double interval_number(SEXP info, const char* name) {
  SEXP x = element(info, name);
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || XLENGTH(x) != 1) return NAN;
  return number_at(x, 0);
}

/* The text `name` of fit$interval, "" when it is none. */
static const char* interval_text(SEXP info, const char* name) {
  SEXP x = element(info, name);
  return TYPEOF(x) == STRSXP && XLENGTH(x) == 1 && STRING_ELT(x, 0) != NA_STRING
             ? CHAR(STRING_ELT(x, 0))
             : "";
}

/* The request that made the intervals of `fit`, described by fit$interval
 * (NULL: none) with the scores kept in fit$scores; the same seed gives the
 * bootstrap the same resamples. */
tolbe_interval_request fit_request(SEXP info, SEXP scores, Scores* data, Scores* pool) {
  tolbe_interval_request request;
  tolbe_interval_request_init(&request);
  request.method = TOLBE_INTERVAL_NONE;
  if (isNull(info)) return request;
  const char* method = interval_text(info, "method");
  request.method = -1;
  for (int k = TOLBE_INTERVAL_NONE; k <= TOLBE_INTERVAL_BOOTSTRAP; ++k) {
    if (strcmp(method, tolbe_interval_method_name(k)) == 0) request.method = k;
  }
  if (request.method < 0) fail_fit("its interval method is unknown");
  request.level = interval_number(info, "level");
  SEXP values[2] = {isNull(scores) ? R_NilValue : element(scores, "data"),
                    isNull(scores) ? R_NilValue : element(scores, "pool")};
  Scores* both[2] = {data, pool};
  for (int k = 0; k < 2; ++k) {
    if (isNull(values[k])) continue;
    if (TYPEOF(values[k]) != REALSXP || !isMatrix(values[k])) fail_fit("its scores are no matrix");
    *both[k] = (Scores){values[k], nrows(values[k]), ncols(values[k]), R_NilValue};
  }
  if (!isNull(values[0])) {
    request.data = library_scores(data);
  } else {
    double n = interval_number(info, "n");
    if (!(n >= 2 && n <= INT_MAX)) fail_fit("its n is missing");
    request.n = (int)n;
  }
  if (!isNull(values[1])) {
    request.pool = library_scores(pool);
  } else {
    double n = interval_number(info, "n_unrestricted");
    request.n_unrestricted = isnan(n) ? 0 : (int)n;
  }
  if (request.method == TOLBE_INTERVAL_BOOTSTRAP) {
    double B = interval_number(info, "B");
    unsigned long long seed = 0;
    int seeded = fit_seed(element(info, "seed"), &seed);
    double threads = interval_number(info, "threads");
    const char* type = interval_text(info, "ci_type");
    int percentile = strcmp(type, "percentile") == 0;
    if (isnan(B) || !seeded || (!percentile && strcmp(type, "bca") != 0)) {
      fail_fit("its bootstrap is not described");
    }
    request.resamples = (int)B;
    request.seed = seed;
    request.threads = isnan(threads) ? 0 : (int)threads;
    request.interval = percentile ? TOLBE_BOOTSTRAP_PERCENTILE : TOLBE_BOOTSTRAP_BCA;
  }
  return request;
}
