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
void refuse_workspace(const char* what, size_t doubles, size_t ints) {
  char refusal[256];
  if (tolbe_workspace_refusal(what, doubles, ints, refusal, sizeof refusal) > 0) {
    fail("%s", refusal);
  }
}

/* A q x q matrix with the attributes of `like`. */
static SEXP like_matrix(int q, SEXP like) {
  SEXP m = PROTECT(allocVector(REALSXP, (R_xlen_t)q * q));
  SHALLOW_DUPLICATE_ATTRIB(m, like);
  UNPROTECT(1);
  return m;
}

/* The seed as fit$interval keeps it: a number where a double holds it
 * exactly, else its decimal digits. */
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
int intervals_into(SEXP fit, const Problem* pr, const Scores* data, const Scores* pool, SEXP like,
                   const double* criterion_reliability) {
  const tolbe_resolved* a = &pr->r;
  int q = pr->q;
  int p = pr->p;
  int ld_q = q > 0 ? q : 1;
  int n_reliabilities = pr->with_reliabilities ? q - p : 0;

  SEXP se = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  SEXP ci = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  setAttrib(se, R_NamesSymbol, matrix_names);
  setAttrib(ci, R_NamesSymbol, matrix_names);
  SET_VECTOR_ELT(fit, FIT_SE, se);
  SET_VECTOR_ELT(fit, FIT_CI, ci);
  UNPROTECT(2);
  tolbe_interval_matrices out[MATRIX_LENGTH];
  for (int m = 0; m < MATRIX_LENGTH; ++m) {
    out[m] = (tolbe_interval_matrices){NULL, NULL, NULL, ld_q};
    if (m == MATRIX_DISATTENUATED && !pr->with_reliabilities) continue;
    SET_VECTOR_ELT(se, m, like_matrix(q, like));
    SEXP bounds = allocVector(VECSXP, BOUND_LENGTH);
    SET_VECTOR_ELT(ci, m, bounds);
    setAttrib(bounds, R_NamesSymbol, bound_names);
    SET_VECTOR_ELT(bounds, BOUND_LOWER, like_matrix(q, like));
    SET_VECTOR_ELT(bounds, BOUND_UPPER, like_matrix(q, like));
    out[m].se = REAL(VECTOR_ELT(se, m));
    out[m].lower = REAL(VECTOR_ELT(bounds, BOUND_LOWER));
    out[m].upper = REAL(VECTOR_ELT(bounds, BOUND_UPPER));
  }

  unsigned long long seed = a->seed;
  if (a->method == TOLBE_INTERVAL_BOOTSTRAP && !a->seed_given) {
    /* No seed given: one from R's generator, so that set.seed() makes the
     * call repeatable, kept in fit$interval$seed to repeat it without. */
    GetRNGstate();
    double high = floor(unif_rand() * 2097152.0);   /* 2^21 */
    double low = floor(unif_rand() * 4294967296.0); /* 2^32 */
    PutRNGstate();
    seed = (unsigned long long)(high * 4294967296.0 + low);
  }
  tolbe_interval_request request;
  tolbe_interval_request_init(&request);
  request.method = a->method;
  request.level = a->level;
  request.n = data != NULL ? 0 : a->n;
  request.n_unrestricted = pool != NULL ? 0 : a->n_unrestricted;
  if (data != NULL) request.data = library_scores(data);
  if (pool != NULL) request.pool = library_scores(pool);
  request.resamples = a->resamples;
  request.seed = seed;
  request.threads = a->threads;
  request.interval = a->ci_type;

  tolbe_interval_results results = {
      out[MATRIX_COV], out[MATRIX_COR], out[MATRIX_DISATTENUATED], NULL, 0, NULL, 0};
  size_t qq = (size_t)q * (size_t)q, pp = (size_t)p * (size_t)p;
  double* v_used = data != NULL ? value_list(qq) : NULL;
  double* s_used = pool != NULL ? value_list(pp) : NULL;
  results.restricted = v_used;
  results.ld_restricted = ld_q;
  results.unrestricted = s_used;
  results.ld_unrestricted = p > 0 ? p : 1;
  size_t n_work = 0, n_int_work = 0;
  tolbe_interval_summary summary;
  memset(&summary, 0, sizeof summary);
  const double* restricted = data != NULL ? NULL : REAL(pr->restricted);
  const double* unrestricted = pool != NULL ? NULL : REAL(pr->unrestricted);
  const double* reliability = n_reliabilities > 0 ? a->reliabilities : NULL;
  if (tolbe_lawley_intervals_workspace(q, p, &request, &n_work, &n_int_work) != TOLBE_OK) {
    /* Every argument was checked, so this is a limit of the library's
     * own; without a workspace it says which before anything else. */
    tolbe_lawley_intervals(q, p, restricted, ld_q, unrestricted, p > 0 ? p : 1, a->selection,
                           reliability, n_reliabilities, &request, &results, NULL, 0, NULL, 0,
                           &summary);
    fail("the intervals cannot be computed: %s",
         summary.reason != NULL ? summary.reason : "invalid request");
  }
  refuse_workspace("the intervals", n_work, n_int_work);
  double* work = value_list(n_work);
  int* int_work = (int*)R_alloc(n_int_work > 0 ? n_int_work : 1, sizeof(int));
  int status = tolbe_lawley_intervals(q, p, restricted, ld_q, unrestricted, p > 0 ? p : 1,
                                      a->selection, reliability, n_reliabilities, &request,
                                      &results, work, n_work, int_work, n_int_work, &summary);
  if (status != TOLBE_OK) {
    fail("the intervals cannot be computed: %s", summary.reason != NULL && summary.reason[0] != '\0'
                                                     ? summary.reason
                                                     : tolbe_status_text(status));
  }
  if ((v_used != NULL && memcmp(v_used, REAL(pr->restricted), qq * sizeof(double)) != 0) ||
      (s_used != NULL && memcmp(s_used, REAL(pr->unrestricted), pp * sizeof(double)) != 0)) {
    fail(
        "tolbe: the intervals belong to another var/cov matrix than the "
        "correction (a fault of "
        "the package; please report it)");
  }
  if (pr->with_reliabilities && q == p) {
    /* Nothing to disattenuate: as the estimates, the correlations'. */
    memcpy(out[MATRIX_DISATTENUATED].se, out[MATRIX_COR].se, qq * sizeof(double));
    memcpy(out[MATRIX_DISATTENUATED].lower, out[MATRIX_COR].lower, qq * sizeof(double));
    memcpy(out[MATRIX_DISATTENUATED].upper, out[MATRIX_COR].upper, qq * sizeof(double));
  }
  /* The operational correlations divide by constants, so their SEs and
   * bounds are the corrected correlations' divided alike. */
  const tolbe_interval_matrices* from = &out[MATRIX_COR];
  const tolbe_interval_matrices* to = &out[MATRIX_OPERATIONAL];
  tolbe_operational_correlations(q, from->se, ld_q, criterion_reliability, to->se, ld_q);
  tolbe_operational_correlations(q, from->lower, ld_q, criterion_reliability, to->lower, ld_q);
  tolbe_operational_correlations(q, from->upper, ld_q, criterion_reliability, to->upper, ld_q);

  int bootstrap = a->method == TOLBE_INTERVAL_BOOTSTRAP;
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
  SET_VECTOR_ELT(info, INTERVAL_ROWS_DROPPED, integer_or_na(summary.rows_dropped, data != NULL));
  SET_VECTOR_ELT(info, INTERVAL_POOL_ROWS_DROPPED,
                 integer_or_na(summary.pool_rows_dropped, pool != NULL));
  SET_VECTOR_ELT(fit, FIT_INTERVAL, info);
  UNPROTECT(1);
  return bootstrap ? summary.failed_resamples : 0;
}

/* The element `name` of the list `x`, or NULL. */
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
