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

/* Workspace kept between calls and grown when a problem needs more: R runs
 * one call at a time, and allocating it anew made each call pay the
 * garbage collector more than the correction itself. */
static double* work_doubles = NULL;
static size_t work_doubles_size = 0;
static int* work_ints = NULL;
static size_t work_ints_size = 0;

static void reserve_workspace(size_t doubles, size_t ints) {
  if (doubles > SIZE_MAX / sizeof(double) - 1 || ints > SIZE_MAX / sizeof(int) - 1) {
    error("tolbe: the problem is too large for this machine's memory");
  }
  if (doubles == 0) doubles = 1;
  if (ints == 0) ints = 1;
  if (doubles > work_doubles_size) {
    double* grown = (double*)realloc(work_doubles, doubles * sizeof(double));
    if (grown == NULL) error("tolbe: out of memory for %lu values", (unsigned long)doubles);
    work_doubles = grown;
    work_doubles_size = doubles;
  }
  if (ints > work_ints_size) {
    int* grown = (int*)realloc(work_ints, ints * sizeof(int));
    if (grown == NULL) error("tolbe: out of memory for %lu indices", (unsigned long)ints);
    work_ints = grown;
    work_ints_size = ints;
  }
}

static int correct(const Problem* pr, const double* restricted, const double* unrestricted,
                   double* cov, double* cor, double* dis, tolbe_diagnostics* d) {
  size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(pr->q, pr->p, &n_work, &n_int_work);
  reserve_workspace(n_work, n_int_work);
  int ld = pr->q > 0 ? pr->q : 1;
  int m = pr->with_reliabilities ? pr->q - pr->p : 0;
  return tolbe_lawley(pr->q, pr->p, restricted, ld, unrestricted, pr->p > 0 ? pr->p : 1,
                      pr->r.selection, m > 0 ? pr->r.reliabilities : NULL, m, cov, ld, cor, ld, dis,
                      ld, work_doubles, n_work, work_ints, n_int_work, d);
}

/* Whether the correction reads element (a, b) of the restricted matrix:
 * the upper triangle of the selection block in selection order, the
 * selection rows of the other columns and the whole block of the others. */
static int is_read(const Problem* pr, int a, int b) {
  return pr->r.position[a] <= pr->r.position[b] || pr->r.position[b] >= pr->p;
}

/* The places (i, j) of the n x n `a` that are not finite (and read, when
 * `only_read`), column by column, as "[i, j]", the first five of many, into
 * `t` when it is not NULL; returns how many. A row or column is named by
 * `names` at its variable (map[i] when `map` is given, else i) when it has
 * a name, else numbered from 1 within `a`. */
static int not_finite(Text* t, const Problem* pr, const double* a, int n, const int* map,
                      int only_read) {
  int count = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (isfinite(a[(size_t)i + (size_t)j * (size_t)n])) continue;
      if (only_read && !is_read(pr, i, j)) continue;
      if (t != NULL && count < 5) {
        const char* row = name_of(pr->names, map != NULL ? map[i] : i);
        const char* column = name_of(pr->names, map != NULL ? map[j] : j);
        put(t, count > 0 ? ", [" : "[");
        row != NULL ? put(t, row) : putf(t, "%d", i + 1);
        put(t, ", ");
        column != NULL ? put(t, column) : putf(t, "%d", j + 1);
        put(t, "]");
      }
      ++count;
    }
  }
  if (t != NULL && count > 5) putf(t, ", and %d more", count - 5);
  return count;
}

/* A copy of the n x n `a` with NaN read as 0. */
static double* nan_as_zero(const double* a, int n) {
  size_t size = (size_t)n * (size_t)n;
  double* copy = value_list(size);
  for (size_t k = 0; k < size; ++k) copy[k] = isnan(a[k]) ? 0.0 : a[k];
  return copy;
}

/* Words the library's refusal of an argument. NA where the correction
 * reads is most often the other side of a triangle entered alone: the
 * library counts NaN there as empty, so it is asked about the problem
 * with NaN read as 0, and a triangle it finds is what is said. One NA
 * alone is a value missing, whatever side it is on, and said so. Returns
 * the errors to stop with, or stops here. */
static SEXP refused(const Problem* pr, const tolbe_diagnostics* d) {
  const double* v = REAL(pr->restricted);
  const double* s = REAL(pr->unrestricted);
  int restricted_na =
      d->argument == TOLBE_ARGUMENT_RESTRICTED ? not_finite(NULL, pr, v, pr->q, NULL, 1) : 0;
  int unrestricted_na =
      d->argument == TOLBE_ARGUMENT_UNRESTRICTED ? not_finite(NULL, pr, s, pr->p, NULL, 0) : 0;
  if (restricted_na > 0 || unrestricted_na > 0) {
    if (restricted_na + unrestricted_na > 1) {
      double* cov = value_list((size_t)pr->q * (size_t)pr->q);
      tolbe_diagnostics probe;
      correct(pr, nan_as_zero(v, pr->q), nan_as_zero(s, pr->p), cov, NULL, NULL, &probe);
      SEXP errors = errors_of(&probe, pr->names, pr->q);
      if (errors != NULL) return errors;
    }
    Text t = {0};
    if (restricted_na) {
      put(&t,
          "'restricted' holds NA or values that are not finite numbers "
          "where the correction "
          "reads it: ");
      not_finite(&t, pr, v, pr->q, NULL, 1);
    } else {
      put(&t, "'unrestricted' holds NA or values that are not finite numbers: ");
      not_finite(&t, pr, s, pr->p, pr->r.selection, 0);
    }
    fail_text(&t);
  }
  fail("invalid argument: %s", d->reason != NULL ? d->reason : "");
}

/* The library's screening of the raw scores `data` (all q columns) and
 * `pool` (the selection variables' columns, in selection order), or of
 * the sample size `n` given with matrices (0: unknown), added to the
 * findings `d` of the correction: too few rows, a small sample, values
 * that look like missing-value codes or lie far out (by row and column),
 * a pool that is not all the applicants. Rows are numbered as in `data`
 * and `pool`, whose rows with an NA are passed too. */
static void screen(const Problem* pr, const Scores* data, const Scores* pool,
                   tolbe_diagnostics* d) {
  tolbe_scores data_in = {0, 0, NULL, 1};
  tolbe_scores pool_in = {0, 0, NULL, 1};
  if (data != NULL) data_in = library_scores(data);
  if (pool != NULL) pool_in = library_scores(pool);
  tolbe_screen(pr->q, pr->p, data != NULL ? &data_in : NULL, pool != NULL ? &pool_in : NULL,
               pr->r.selection, data != NULL ? 0 : pr->r.n, d);
}

/* The note that rows with a missing score were left out of `what`. */
static SEXP dropped_note(const char* what, int dropped, int used) {
  char text[256];
  snprintf(text, sizeof text,
           "'%s': %d of %d rows hold a missing score (NA) and were left out "
           "(listwise); %d used",
           what, dropped, dropped + used, used);
  return own_item(TOLBE_NOTE, text, allocVector(INTSXP, 0));
}

/* The note, in the library's words, that the others named no reliability
 * are taken as 1. */
static SEXP defaulted_note(const tolbe_resolution* resolution, const Problem* pr) {
  size_t length = tolbe_resolution_defaulted_note(resolution, NULL, 0);
  char* note = R_alloc(length + 1, 1);
  tolbe_resolution_defaulted_note(resolution, note, length + 1);
  return own_item(TOLBE_NOTE, translateChar(mkCharCE(note, CE_UTF8)),
                  labelled_variables(pr->r.defaulted, pr->r.n_defaulted, pr->names));
}

/* The warning that bootstrap resamples were left out. */
static SEXP failed_note(int failed, int resamples) {
  char text[256];
  if (failed == resamples) {
    snprintf(text, sizeof text,
             "all %d bootstrap resamples were left out: in every one the "
             "selection block was not "
             "positive definite, so there are no intervals",
             failed);
  } else {
    snprintf(text, sizeof text,
             "%d of %d bootstrap resamples were left out: in them the "
             "selection block was not "
             "positive definite; the intervals rest on the others",
             failed, resamples);
  }
  return own_item(TOLBE_WARNING, text, allocVector(INTSXP, 0));
}

/* Whether the dimnames of the p x p `s` are the selection variables' names
 * in selection order on both sides, or `s` has none and neither has V. */
static int names_selection(SEXP s, const Problem* pr) {
  SEXP dimnames = getAttrib(s, R_DimNamesSymbol);
  if (isNull(pr->names)) return isNull(dimnames);
  if (isNull(dimnames)) return 0;
  for (int side = 0; side < 2; ++side) {
    SEXP given = VECTOR_ELT(dimnames, side);
    if (TYPEOF(given) != STRSXP || LENGTH(given) != pr->p) return 0;
    for (int k = 0; k < pr->p; ++k) {
      SEXP a = STRING_ELT(given, k);
      SEXP b = STRING_ELT(pr->names, pr->r.selection[k]);
      if (a != b && (a == NA_STRING || b == NA_STRING ||
                     strcmp(translateCharUTF8(a), translateCharUTF8(b)) != 0)) {
        return 0;
      }
    }
  }
  return 1;
}

/* A q x q result matrix with the dimnames `dimnames` (or none); with the
 * attributes of `like`, a matrix made so before, when it is not NULL. */
static SEXP result_matrix(int q, SEXP dimnames, SEXP like) {
  SEXP m = PROTECT(allocMatrix(REALSXP, q, q));
  if (!isNull(like)) {
    SHALLOW_DUPLICATE_ATTRIB(m, like);
  } else if (!isNull(dimnames)) {
    setAttrib(m, R_DimNamesSymbol, dimnames);
  }
  UNPROTECT(1);
  return m;
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
  pr.with_reliabilities = !isNull(reliabilities);

  /* The variables of each side, and their names, for the request layer. */
  Scores data_scores = {0}, pool_scores = {0};
  if (with_data) {
    PROTECT(raw_scores(data, "data", NULL, 0, &data_scores));
    pr.q = data_scores.columns;
    pr.names = data_scores.names;
  } else {
    pr.restricted = PROTECT(square_matrix(restricted, "restricted"));
    pr.q = nrows(pr.restricted);
    pr.names = variable_names(pr.restricted);
  }
  SEXP s_names = with_pool ? scores_names_of(pool) : R_NilValue;
  int s_columns = 0;
  if (with_pool) {
    s_columns = scores_columns(pool, "pool");
    PROTECT(R_NilValue);
  } else {
    pr.unrestricted = PROTECT(square_matrix(unrestricted, "unrestricted"));
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

  /* V and S from raw scores: the data's, and the pool's selection
   * variables' in selection order (a named pool's found by name). */
  double* data_means = NULL;
  double* pool_means = NULL;
  int rows_used = 0, rows_dropped = 0, pool_used = 0, pool_dropped = 0;
  if (with_data) {
    data_means = value_list((size_t)q);
    pr.restricted =
        PROTECT(scores_covariance(&data_scores, "data", data_means, &rows_used, &rows_dropped));
    ++protected;
    stop_if_refused(holder, tolbe_resolution_check_rows(resolution, TOLBE_CALL_DATA, rows_used),
                    pr.names);
  }
  if (with_pool) {
    int by_name = !isNull(s_names) && !isNull(selection);
    PROTECT(raw_scores(pool, "pool", by_name ? pr.r.unrestricted_rows : NULL, p, &pool_scores));
    pool_means = value_list((size_t)p);
    pr.unrestricted =
        PROTECT(scores_covariance(&pool_scores, "pool", pool_means, &pool_used, &pool_dropped));
    protected += 2;
    stop_if_refused(holder, tolbe_resolution_check_rows(resolution, TOLBE_CALL_POOL, pool_used),
                    pr.names);
  }
  const double* r_means = with_data ? data_means : pr.r.restricted_means;
  const double* u_means = with_pool ? pool_means : pr.r.unrestricted_means;
  if (side != 0) {
    pr.restricted = PROTECT(mirrored(pr.restricted, q, side));
    pr.unrestricted = PROTECT(mirrored(pr.unrestricted, p, side));
    protected += 2;
  }
  if (!with_pool && pr.r.reordered) {
    pr.unrestricted = PROTECT(reordered(pr.unrestricted, p, pr.r.unrestricted_rows));
    ++protected;
  }

  /* The results, named as the matrix is. */
  SEXP dimnames = R_NilValue;
  if (!isNull(pr.names)) {
    dimnames = PROTECT(allocVector(VECSXP, 2));
    ++protected;
    SET_VECTOR_ELT(dimnames, 0, pr.names);
    SET_VECTOR_ELT(dimnames, 1, pr.names);
  }
  SEXP fit = PROTECT(allocVector(VECSXP, FIT_LENGTH));
  ++protected;
  SEXP first = result_matrix(q, dimnames, R_NilValue);
  SET_VECTOR_ELT(fit, FIT_COV, first);
  SET_VECTOR_ELT(fit, FIT_COR, result_matrix(q, dimnames, first));
  if (pr.with_reliabilities) {
    SET_VECTOR_ELT(fit, FIT_DISATTENUATED, result_matrix(q, dimnames, first));
  }
  double* cov = REAL(VECTOR_ELT(fit, FIT_COV));
  double* cor = REAL(VECTOR_ELT(fit, FIT_COR));
  double* dis = pr.with_reliabilities ? REAL(VECTOR_ELT(fit, FIT_DISATTENUATED)) : NULL;
  const double* v = REAL(pr.restricted);
  const double* s = REAL(pr.unrestricted);
  int ld = q > 0 ? q : 1;

  /* The findings are made on request only; without diagnostics they are
   * asked for when a matrix may be a triangle entered alone, an error that
   * must stop the call all the same. */
  int with_findings = diagnose || tolbe_may_be_triangle(q, v, ld) || tolbe_may_be_triangle(p, s, p);
  tolbe_diagnostics d;
  int status = correct(&pr, v, s, cov, cor, dis, with_findings ? &d : NULL);
  if (status != TOLBE_OK && !with_findings) {
    /* Once more, to say what went wrong. */
    with_findings = 1;
    status = correct(&pr, v, s, cov, cor, dis, &d);
  }
  SEXP errors = NULL;
  const Scores* screened_data = with_data ? &data_scores : NULL;
  const Scores* screened_pool = with_pool ? &pool_scores : NULL;
  if (status == TOLBE_INVALID_ARGUMENT) {
    errors = refused(&pr, &d);
  } else if (with_findings) {
    screen(&pr, screened_data, screened_pool, &d);
    errors = errors_of(&d, pr.names, q);
  } else {
    /* Without diagnostics the errors stop all the same: of the screening's
     * findings only too few rows is one, and the sample size alone says
     * it, without a pass over the scores. */
    tolbe_diagnostics size;
    size.n_findings = 0;
    tolbe_screen(q, p, NULL, NULL, NULL, with_data ? rows_used : pr.r.n, &size);
    errors = errors_of(&size, pr.names, q);
  }
  if (errors != NULL) {
    release(holder);
    UNPROTECT(protected);
    return errors;
  }
  if (status == TOLBE_NOT_POSITIVE_DEFINITE) {
    fail(
        "the restricted var/cov block of the selection variables is not "
        "positive definite (its "
        "leading minor of order %d is not positive)",
        d.leading_minor);
  }
  int m = q - p, any_restricted = 0;
  for (int j = 0; j < m && pr.r.from_restricted != NULL; ++j) {
    any_restricted |= pr.r.from_restricted[j];
  }
  if (any_restricted) {
    /* The reliabilities measured in the restricted sample made the
     * unrestricted population's, and the disattenuated correlations anew
     * by them; the correction itself does not read them. */
    stop_if_refused(holder, tolbe_resolution_convert(resolution, v, ld, cov, ld), pr.names);
    tolbe_resolution_get(resolution, &pr.r);
    status = correct(&pr, v, s, cov, cor, dis, with_findings ? &d : NULL);
    if (status != TOLBE_OK) {
      fail("the reliabilities cannot be converted: %s", tolbe_status_text(status));
    }
    if (with_findings) screen(&pr, screened_data, screened_pool, &d);
  }
  /* Each variable's reliability as the operational correlations divide by
   * it: a criterion's own, 1 for every other variable. */
  double* operational_reliability = value_list((size_t)q);
  for (int k = 0; k < q; ++k) operational_reliability[k] = 1.0;
  for (int k = 0; k < pr.r.n_criteria && pr.r.reliabilities != NULL; ++k) {
    int y = pr.r.criteria[k];
    operational_reliability[y] = pr.r.reliabilities[pr.r.position[y] - p];
  }
  SEXP operational = result_matrix(q, dimnames, first);
  SET_VECTOR_ELT(fit, FIT_OPERATIONAL, operational);
  tolbe_operational_correlations(q, cor, ld, operational_reliability, REAL(operational), ld);
  SET_VECTOR_ELT(fit, FIT_CRITERIA, labelled_variables(pr.r.criteria, pr.r.n_criteria, R_NilValue));
  if (pr.with_reliabilities) {
    SEXP used = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITIES, used);
    SEXP measured = allocVector(STRSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITY_SAMPLE, measured);
    for (int i = 0; i < q; ++i) {
      REAL(used)[i] = NA_REAL;
      SET_STRING_ELT(measured, i, NA_STRING);
    }
    for (int j = 0; j < m; ++j) {
      if (!pr.r.reliability_given[j]) continue;
      REAL(used)[pr.r.others[j]] = pr.r.reliabilities[j];
      SET_STRING_ELT(measured, pr.r.others[j],
                     mkChar(pr.r.from_restricted[j] ? "restricted" : "unrestricted"));
    }
    if (!isNull(pr.names)) {
      setAttrib(used, R_NamesSymbol, pr.names);
      setAttrib(measured, R_NamesSymbol, pr.names);
    }
    /* No variable beyond the selection ones: nothing to disattenuate. */
    if (m == 0) memcpy(dis, cor, (size_t)q * (size_t)q * sizeof(double));
  }
  if (r_means != NULL && u_means != NULL) {
    SEXP means = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_MEANS, means);
    if (!isNull(pr.names)) setAttrib(means, R_NamesSymbol, pr.names);
    size_t n_work = 0, n_int_work = 0;
    tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
    reserve_workspace(n_work, n_int_work);
    tolbe_lawley_means(q, p, v, ld, s, p > 0 ? p : 1, pr.r.selection, r_means, u_means, REAL(means),
                       work_doubles, n_work, work_ints, n_int_work, NULL);
  }
  SET_VECTOR_ELT(fit, FIT_SELECTION, labelled_variables(pr.r.selection, p, R_NilValue));
  SET_VECTOR_ELT(fit, FIT_RESTRICTED, pr.restricted);
  SET_VECTOR_ELT(fit, FIT_VERSION, library_version);
  /* S as corrected, named by the selection variables in selection order:
   * the matrix itself when it is named so already (or, like V, not at
   * all), else a copy so named. */
  int named_so = names_selection(pr.unrestricted, &pr);
  SEXP used_s = named_so ? pr.unrestricted : allocMatrix(REALSXP, p, p);
  SET_VECTOR_ELT(fit, FIT_UNRESTRICTED, used_s);
  if (!named_so && p > 0) memcpy(REAL(used_s), s, (size_t)p * (size_t)p * sizeof(double));
  if (!named_so && !isNull(pr.names)) {
    SEXP selected = PROTECT(allocVector(STRSXP, p));
    for (int k = 0; k < p; ++k)
      SET_STRING_ELT(selected, k, STRING_ELT(pr.names, pr.r.selection[k]));
    SEXP selected_dimnames = PROTECT(allocVector(VECSXP, 2));
    SET_VECTOR_ELT(selected_dimnames, 0, selected);
    SET_VECTOR_ELT(selected_dimnames, 1, selected);
    setAttrib(used_s, R_DimNamesSymbol, selected_dimnames);
    UNPROTECT(2);
  }
  if (with_data || with_pool) {
    SEXP rows = PROTECT(allocVector(VECSXP, ROWS_LENGTH));
    setAttrib(rows, R_NamesSymbol, rows_names);
    SET_VECTOR_ELT(rows, ROWS_USED, integer_or_na(rows_used, with_data));
    SET_VECTOR_ELT(rows, ROWS_DROPPED, integer_or_na(rows_dropped, with_data));
    SET_VECTOR_ELT(rows, ROWS_POOL_USED, integer_or_na(pool_used, with_pool));
    SET_VECTOR_ELT(rows, ROWS_POOL_DROPPED, integer_or_na(pool_dropped, with_pool));
    SET_VECTOR_ELT(fit, FIT_ROWS, rows);
    /* The scores, for questions asked of the fit later by the same
     * intervals (lawley_regression(), lawley_increment()). */
    SEXP kept_scores = allocVector(VECSXP, 2);
    SET_VECTOR_ELT(fit, FIT_SCORES, kept_scores);
    setAttrib(kept_scores, R_NamesSymbol, scores_names);
    if (with_data) SET_VECTOR_ELT(kept_scores, 0, data_scores.values);
    if (with_pool) SET_VECTOR_ELT(kept_scores, 1, pool_scores.values);
    UNPROTECT(1);
  }
  int failed_resamples = 0;
  if (pr.r.method != TOLBE_INTERVAL_NONE) {
    failed_resamples =
        intervals_into(fit, &pr, screened_data, screened_pool, first, operational_reliability);
  }
  SEXP findings = R_NilValue;
  if (diagnose) {
    SET_VECTOR_ELT(fit, FIT_DIAGNOSTICS, diagnostics_list(&pr, &d, v, cor));
    findings = findings_of(&d, pr.names, q);
    SET_VECTOR_ELT(fit, FIT_FINDINGS, findings);
  }
  setAttrib(fit, R_NamesSymbol, fit_names);
  classgets(fit, fit_class);
  SEXP out = fit;
  if (diagnose) {
    /* What the glue has to say, before the library's findings. */
    SEXP own = PROTECT(allocVector(VECSXP, 4));
    int n_own = 0;
    if (with_data && rows_dropped > 0) {
      SET_VECTOR_ELT(own, n_own++, dropped_note("data", rows_dropped, rows_used));
    }
    if (with_pool && pool_dropped > 0) {
      SET_VECTOR_ELT(own, n_own++, dropped_note("pool", pool_dropped, pool_used));
    }
    if (pr.r.n_defaulted > 0) SET_VECTOR_ELT(own, n_own++, defaulted_note(resolution, &pr));
    if (failed_resamples > 0) {
      SET_VECTOR_ELT(own, n_own++, failed_note(failed_resamples, pr.r.resamples));
    }
    own = PROTECT(lengthgets(own, n_own));
    if (d.n_findings > 0 || n_own > 0) out = said(fit, findings, &d, TOLBE_NOTE, own);
    UNPROTECT(2);
  }
  release(holder);
  UNPROTECT(protected);
  return out;
}
