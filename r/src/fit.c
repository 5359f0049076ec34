/* lawley(): the object. The arguments as the user gave them go to the
 * library's request layer (call.c), which resolves them or refuses them
 * in its words; this file reads the matrices and raw scores, corrects,
 * screens and builds the object. It returns the object when there is
 * nothing to say, and otherwise a list of what to say (errors, warnings,
 * notes) with the object, which lawley() in R raises as stop(),
 * warning() and message(). */
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tolbe_r.h"

/* Frees the library's fit held by `holder`. */
static void free_fit(SEXP holder) {
  tolbe_fit_free((tolbe_fit*)R_ExternalPtrAddr(holder));
  R_ClearExternalPtr(holder);
}

/* A q x q (or p x p) matrix of `values` (NULL: none) with `dimnames`. */
static SEXP matrix_of(const double* values, int n, SEXP dimnames) {
  if (values == NULL) return R_NilValue;
  SEXP m = PROTECT(allocMatrix(REALSXP, n, n));
  if (n > 0) memcpy(REAL(m), values, (size_t)n * (size_t)n * sizeof(double));
  if (!isNull(dimnames)) setAttrib(m, R_DimNamesSymbol, dimnames);
  UNPROTECT(1);
  return m;
}

/* Dimnames of the variables `list` (n of them) by `names`, or none. */
static SEXP dimnames_of(SEXP names, const int* list, int n) {
  if (isNull(names)) return R_NilValue;
  SEXP selected = PROTECT(allocVector(STRSXP, n));
  for (int k = 0; k < n; ++k) SET_STRING_ELT(selected, k, STRING_ELT(names, list[k]));
  SEXP dimnames = allocVector(VECSXP, 2);
  SET_VECTOR_ELT(dimnames, 0, selected);
  SET_VECTOR_ELT(dimnames, 1, selected);
  UNPROTECT(1);
  return dimnames;
}

/* What the fit says, from message `first` on: list(severity, code,
 * message, variables) as say() in R takes it, with the findings frame. */
static SEXP said_of(const tolbe_fit* f, SEXP fit, SEXP names) {
  int n = tolbe_fit_messages(f);
  SEXP out = PROTECT(allocVector(VECSXP, SAID_LENGTH));
  setAttrib(out, R_NamesSymbol, said_names);
  SET_VECTOR_ELT(out, SAID_FIT, fit);
  SEXP severity = allocVector(INTSXP, n);
  SET_VECTOR_ELT(out, SAID_SEVERITY, severity);
  SEXP code = allocVector(STRSXP, n);
  SET_VECTOR_ELT(out, SAID_CODE, code);
  SEXP message = allocVector(STRSXP, n);
  SET_VECTOR_ELT(out, SAID_MESSAGE, message);
  SEXP variables = allocVector(VECSXP, n);
  SET_VECTOR_ELT(out, SAID_VARIABLES, variables);
  SEXP frame = n > 0 ? findings_frame(n) : no_findings;
  SET_VECTOR_ELT(out, SAID_FINDINGS, frame);
  for (int k = 0; k < n; ++k) {
    tolbe_fit_message m;
    tolbe_fit_message_get(f, k, &m);
    INTEGER(severity)[k] = m.severity;
    SET_STRING_ELT(code, k, mkChar(m.code));
    SET_STRING_ELT(message, k, mkCharCE(m.message, CE_UTF8));
    SET_VECTOR_ELT(variables, k, labelled_variables(m.variables, m.n_variables, names));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_CODE), k, STRING_ELT(code, k));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_SEVERITY), k, mkChar(tolbe_severity_name(m.severity)));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_MESSAGE), k, STRING_ELT(message, k));
    SET_VECTOR_ELT(VECTOR_ELT(frame, FRAME_VARIABLES), k, VECTOR_ELT(variables, k));
  }
  UNPROTECT(1);
  return out;
}

/* The arguments R checks itself: those the request layer does not take. */
static char own_arguments(SEXP restricted, SEXP unrestricted, SEXP restricted_means,
                          SEXP unrestricted_means, SEXP diagnostics, SEXP triangle, SEXP data,
                          SEXP pool) {
  if (TYPEOF(diagnostics) != LGLSXP || XLENGTH(diagnostics) != 1 ||
      LOGICAL(diagnostics)[0] == NA_LOGICAL) {
    fail("'diagnostics' must be TRUE or FALSE");
  }
  char side = 0;
  if (!isNull(triangle)) {
    const char* given =
        TYPEOF(triangle) == STRSXP && XLENGTH(triangle) == 1 && STRING_ELT(triangle, 0) != NA_STRING
            ? CHAR(STRING_ELT(triangle, 0))
            : "";
    side = strcmp(given, "lower") == 0 ? 'l' : strcmp(given, "upper") == 0 ? 'u' : 0;
    if (side == 0) fail("'triangle' must be NULL (whole matrices), \"lower\" or \"upper\"");
  }
  SEXP none = allocVector(INTSXP, 0);
  {
    /* Which sides were given, and means beside raw scores: the library's rule. */
    tolbe_spelling spelling = r_spelling();
    char message[512];
    int argument = 0;
    int code = tolbe_sources_refusal(
        &spelling, !isNull(restricted), !isNull(data), !isNull(unrestricted), !isNull(pool),
        !isNull(restricted_means), !isNull(unrestricted_means), &argument, message, sizeof message);
    if (code != 0) refuse(message, tolbe_refusal_code_name(code), argument, none);
  }
  return side;
}

/* lawley(restricted, unrestricted, selection, reliabilities,
 * restricted_means, unrestricted_means, diagnostics, triangle, data, pool,
 * n, n_unrestricted, interval, B, level, seed, threads, ci_type, criteria,
 * reliability_sample), the arguments as the user gave them (NULL: not
 * given). */
SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
              SEXP restricted_means, SEXP unrestricted_means, SEXP diagnostics, SEXP triangle,
              SEXP data, SEXP pool, SEXP n, SEXP n_unrestricted, SEXP interval, SEXP B, SEXP level,
              SEXP seed, SEXP threads, SEXP ci_type, SEXP criteria, SEXP reliability_sample) {
  char side = own_arguments(restricted, unrestricted, restricted_means, unrestricted_means,
                            diagnostics, triangle, data, pool);
  int diagnose = LOGICAL(diagnostics)[0];
  int with_data = !isNull(data);
  int with_pool = !isNull(pool);
  int protected = 0;
  Problem pr = {0};

  /* The variables of each side, and their names, for the request layer. */
  Scores data_scores = {0}, pool_scores = {0};
  if (with_data) {
    PROTECT(raw_scores(data, TOLBE_CALL_DATA, NULL, 0, &data_scores));
    pr.q = data_scores.columns;
    pr.names = data_scores.names;
  } else {
    pr.restricted = PROTECT(square_matrix(restricted, TOLBE_CALL_RESTRICTED));
    pr.q = nrows(pr.restricted);
    pr.names = variable_names(pr.restricted);
  }
  SEXP s_names = with_pool ? scores_names_of(pool) : R_NilValue;
  int s_columns = 0;
  if (with_pool) {
    s_columns = scores_columns(pool, TOLBE_CALL_POOL);
    PROTECT(R_NilValue);
  } else {
    pr.unrestricted = PROTECT(square_matrix(unrestricted, TOLBE_CALL_UNRESTRICTED));
    s_columns = nrows(pr.unrestricted);
    s_names = variable_names(pr.unrestricted);
  }
  protected += 2;
  int q = pr.q;

  tolbe_call call;
  tolbe_call_init(&call);
  call.spelling = r_spelling();
  call.q = q;
  call.names = texts_of(pr.names, q);
  call.from_data = with_data;
  call.p = s_columns;
  call.unrestricted_names = texts_of(s_names, s_columns);
  call.from_pool = with_pool;
  if (!with_pool) call.unrestricted = REAL(pr.unrestricted);
  call.ld_unrestricted = s_columns > 0 ? s_columns : 1;
  call.mirrors_triangle = side != 0;
  SEXP given[TOLBE_CALL_ARGUMENTS];
  for (int a = 0; a < TOLBE_CALL_ARGUMENTS; ++a) given[a] = R_NilValue;
  given[TOLBE_CALL_SELECTION] = selection;
  given[TOLBE_CALL_RELIABILITIES] = reliabilities;
  given[TOLBE_CALL_RELIABILITY_SAMPLE] = reliability_sample;
  given[TOLBE_CALL_CRITERIA] = criteria;
  given[TOLBE_CALL_RESTRICTED_MEANS] = restricted_means;
  given[TOLBE_CALL_UNRESTRICTED_MEANS] = unrestricted_means;
  given[TOLBE_CALL_INTERVAL] = interval;
  given[TOLBE_CALL_N] = n;
  given[TOLBE_CALL_N_UNRESTRICTED] = n_unrestricted;
  given[TOLBE_CALL_LEVEL] = level;
  given[TOLBE_CALL_RESAMPLES] = B;
  given[TOLBE_CALL_SEED] = seed;
  given[TOLBE_CALL_THREADS] = threads;
  given[TOLBE_CALL_CI_TYPE] = ci_type;
  for (int a = 0; a < TOLBE_CALL_ARGUMENTS; ++a) given_of(given[a], &call.arguments[a]);
  tolbe_resolution* resolution = NULL;
  SEXP holder = resolve(&call, &resolution, pr.names);
  ++protected;
  tolbe_resolution_get(resolution, &pr.r);
  pr.p = pr.r.p;
  int p = pr.p;

  /* The raw scores as the library takes them: the data's columns, and
   * the pool's of the selection variables in selection order (a named
   * pool's found by name). */
  if (with_pool) {
    int by_name = !isNull(s_names) && !isNull(selection);
    PROTECT(raw_scores(pool, TOLBE_CALL_POOL, by_name ? pr.r.unrestricted_rows : NULL, p,
                       &pool_scores));
    ++protected;
  }
  tolbe_fit_sources sources;
  memset(&sources, 0, sizeof sources);
  if (with_data) {
    sources.data = library_scores(&data_scores);
  } else {
    sources.restricted = REAL(pr.restricted);
    sources.ld_restricted = q > 0 ? q : 1;
  }
  if (with_pool) {
    sources.pool = library_scores(&pool_scores);
  } else {
    sources.unrestricted = REAL(pr.unrestricted);
    sources.ld_unrestricted = s_columns > 0 ? s_columns : 1;
  }
  sources.triangle = side;
  sources.diagnostics = diagnose;
  if (pr.r.method == TOLBE_INTERVAL_BOOTSTRAP && !pr.r.seed_given) {
    /* No seed given: one from R's generator, so that set.seed() makes the
     * call repeatable, kept in fit$interval$seed to repeat it without. */
    GetRNGstate();
    double high = floor(unif_rand() * 2097152.0);   /* 2^21 */
    double low = floor(unif_rand() * 4294967296.0); /* 2^32 */
    PutRNGstate();
    sources.seed = (unsigned long long)(high * 4294967296.0 + low);
  }
  SEXP fit_holder = PROTECT(R_MakeExternalPtr(NULL, R_NilValue, R_NilValue));
  ++protected;
  R_RegisterCFinalizerEx(fit_holder, free_fit, TRUE);
  tolbe_fit* f = tolbe_fit_make(resolution, &sources);
  if (f == NULL) error("tolbe: out of memory");
  R_SetExternalPtrAddr(fit_holder, f);
  if (tolbe_fit_refused(f)) {
    tolbe_fit_message m;
    tolbe_fit_message_get(f, 0, &m);
    if (m.argument != 0) {
      /* A refusal of one argument, in the library's words. */
      const char* message = copied(m.message);
      SEXP variables = PROTECT(labelled_variables(m.variables, m.n_variables, pr.names));
      const char* code = copied(m.code);
      int argument = m.argument;
      free_fit(fit_holder);
      release(holder);
      refuse(message, code, argument, variables);
    }
    SEXP errors = said_of(f, R_NilValue, pr.names);
    free_fit(fit_holder);
    release(holder);
    UNPROTECT(protected);
    return errors;
  }
  tolbe_resolution_get(resolution, &pr.r);

  /* The object, its matrices named as the variables are. */
  SEXP dimnames = R_NilValue;
  if (!isNull(pr.names)) {
    dimnames = PROTECT(allocVector(VECSXP, 2));
    ++protected;
    SET_VECTOR_ELT(dimnames, 0, pr.names);
    SET_VECTOR_ELT(dimnames, 1, pr.names);
  }
  SEXP fit = PROTECT(allocVector(VECSXP, FIT_LENGTH));
  ++protected;
  static const int slot[MATRIX_LENGTH] = {FIT_COV, FIT_COR, FIT_DISATTENUATED, FIT_OPERATIONAL};
  for (int m = 0; m < MATRIX_LENGTH; ++m) {
    SET_VECTOR_ELT(fit, slot[m],
                   matrix_of(tolbe_fit_matrix(f, m, TOLBE_FIT_ESTIMATE), q, dimnames));
  }
  SEXP v = matrix_of(tolbe_fit_restricted(f), q, dimnames);
  SET_VECTOR_ELT(fit, FIT_RESTRICTED, v);
  SET_VECTOR_ELT(fit, FIT_UNRESTRICTED,
                 matrix_of(tolbe_fit_unrestricted(f), p, dimnames_of(pr.names, pr.r.selection, p)));
  SET_VECTOR_ELT(fit, FIT_CRITERIA, labelled_variables(pr.r.criteria, pr.r.n_criteria, R_NilValue));
  SET_VECTOR_ELT(fit, FIT_SELECTION, labelled_variables(pr.r.selection, p, R_NilValue));
  SET_VECTOR_ELT(fit, FIT_VERSION, library_version);
  const char* measured = NULL;
  const double* reliabilities_used = tolbe_fit_reliabilities(f, &measured);
  if (reliabilities_used != NULL) {
    SEXP used = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITIES, used);
    SEXP sample = allocVector(STRSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITY_SAMPLE, sample);
    for (int i = 0; i < q; ++i) {
      REAL(used)[i] = isnan(reliabilities_used[i]) ? NA_REAL : reliabilities_used[i];
      SET_STRING_ELT(sample, i,
                     isnan(reliabilities_used[i])
                         ? NA_STRING
                         : mkChar(measured[i] ? "restricted" : "unrestricted"));
    }
    setAttrib(used, R_NamesSymbol, pr.names);
    setAttrib(sample, R_NamesSymbol, pr.names);
  }
  const double* means = tolbe_fit_means(f);
  if (means != NULL) {
    SEXP m = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_MEANS, m);
    memcpy(REAL(m), means, (size_t)q * sizeof(double));
    if (!isNull(pr.names)) setAttrib(m, R_NamesSymbol, pr.names);
  }
  if (with_data || with_pool) {
    int rows_used = 0, rows_dropped = 0, pool_used = 0, pool_dropped = 0;
    tolbe_fit_rows(f, &rows_used, &rows_dropped, &pool_used, &pool_dropped);
    SEXP rows = allocVector(VECSXP, ROWS_LENGTH);
    SET_VECTOR_ELT(fit, FIT_ROWS, rows);
    setAttrib(rows, R_NamesSymbol, rows_names);
    SET_VECTOR_ELT(rows, ROWS_USED, integer_or_na(rows_used, with_data));
    SET_VECTOR_ELT(rows, ROWS_DROPPED, integer_or_na(rows_dropped, with_data));
    SET_VECTOR_ELT(rows, ROWS_POOL_USED, integer_or_na(pool_used, with_pool));
    SET_VECTOR_ELT(rows, ROWS_POOL_DROPPED, integer_or_na(pool_dropped, with_pool));
    /* The scores, for questions asked of the fit later by the same
     * intervals (lawley_regression(), lawley_increment()). */
    SEXP kept_scores = allocVector(VECSXP, 2);
    SET_VECTOR_ELT(fit, FIT_SCORES, kept_scores);
    setAttrib(kept_scores, R_NamesSymbol, scores_names);
    if (with_data) SET_VECTOR_ELT(kept_scores, 0, data_scores.values);
    if (with_pool) SET_VECTOR_ELT(kept_scores, 1, pool_scores.values);
  }
  intervals_into(fit, f, dimnames, with_data, with_pool);
  SEXP out = fit;
  tolbe_diagnostics d;
  if (tolbe_fit_diagnostics(f, &d)) {
    SET_VECTOR_ELT(fit, FIT_DIAGNOSTICS, diagnostics_list(f, &d));
    SEXP said = PROTECT(said_of(f, fit, pr.names));
    ++protected;
    SET_VECTOR_ELT(fit, FIT_FINDINGS, VECTOR_ELT(said, SAID_FINDINGS));
    if (tolbe_fit_messages(f) > 0) out = said;
  }
  setAttrib(fit, R_NamesSymbol, fit_names);
  classgets(fit, fit_class);
  free_fit(fit_holder);
  release(holder);
  UNPROTECT(protected);
  return out;
}
