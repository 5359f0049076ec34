/* The validity question asked of a fit: lawley_regression()'s and
 * lawley_increment()'s values by the fit's own problem and intervals, the
 * question resolved (and refused) by the library's request layer; and the
 * default predictors of a criterion. */
#include <string.h>

#include "tolbe_r.h"

static void free_answer(SEXP holder) {
  tolbe_answer_free((tolbe_answer*)R_ExternalPtrAddr(holder));
  R_ClearExternalPtr(holder);
}

static void NORET fail_fit(const char* what) {
  fail("'fit' is not as lawley() made it (%s); make it anew with lawley()", what);
}

/* The question of `criterion` on `predictors` (a regression, `added`
 * NULL), or on `base` and `added` (an increment: `predictors` is the base
 * set), as the user gave them, asked of the correction that made `fit`
 * with the same intervals. Returns list(estimate, se, lower, upper) of
 * tolbe_validity_values() values each, failed_resamples,
 * percentile_fallbacks, and where each part of the values starts (from
 * 0). */
SEXP C_validity(SEXP fit, SEXP criterion, SEXP predictors, SEXP added) {
  if (!inherits(fit, "tolbe_lawley") || TYPEOF(fit) != VECSXP) {
    fail("'fit' must be what lawley() returns");
  }
  SEXP restricted = element(fit, "restricted");
  SEXP unrestricted = element(fit, "unrestricted");
  SEXP selection = element(fit, "selection");
  SEXP reliabilities = element(fit, "reliabilities");
  SEXP criteria = element(fit, "criteria");
  if (TYPEOF(restricted) != REALSXP || !isMatrix(restricted) ||
      nrows(restricted) != ncols(restricted)) {
    fail_fit("'restricted' is no square matrix");
  }
  int q = nrows(restricted);
  if (TYPEOF(selection) != INTSXP || LENGTH(selection) > q) fail_fit("'selection' is wrong");
  int p = LENGTH(selection);
  if (TYPEOF(unrestricted) != REALSXP || !isMatrix(unrestricted) || nrows(unrestricted) != p ||
      ncols(unrestricted) != p) {
    fail_fit("'unrestricted' is not p x p");
  }
  if (!isNull(reliabilities) && (TYPEOF(reliabilities) != REALSXP || LENGTH(reliabilities) != q)) {
    fail_fit("'reliabilities' is wrong");
  }
  if (!isNull(criteria) && (TYPEOF(criteria) != INTSXP || LENGTH(criteria) > q)) {
    fail_fit("'criteria' is wrong");
  }
  SEXP names = variable_names(restricted);
  int* selected = index_list(p);
  int* is_selected = index_list(q);
  for (int v = 0; v < q; ++v) is_selected[v] = 0;
  for (int k = 0; k < p; ++k) {
    int v = INTEGER(selection)[k];
    if (v == NA_INTEGER || v < 1 || v > q || is_selected[v - 1]) fail_fit("'selection' is wrong");
    selected[k] = v - 1;
    is_selected[v - 1] = 1;
  }
  int n_criteria = isNull(criteria) ? 0 : LENGTH(criteria);
  int* criteria_list = index_list(n_criteria);
  for (int k = 0; k < n_criteria; ++k) {
    int c = INTEGER(criteria)[k];
    if (c == NA_INTEGER || c < 1 || c > q) fail_fit("'criteria' is wrong");
    criteria_list[k] = c - 1;
  }

  tolbe_question_call question;
  memset(&question, 0, sizeof question);
  question.spelling = r_spelling();
  question.q = q;
  question.names = texts_of(names, q);
  question.criteria = criteria_list;
  question.n_criteria = n_criteria;
  given_of(criterion, &question.criterion);
  given_of(predictors, &question.predictors);
  given_of(added, &question.added);
  if (isNull(predictors)) {
    /* None named is none at all, not the default ones. */
    question.predictors = (tolbe_given){TOLBE_GIVEN_NUMBERS, 0, NULL, NULL, NULL};
  }
  Scores data = {0}, pool = {0};
  tolbe_asked_fit asked = {
      q,
      p,
      REAL(restricted),
      q > 0 ? q : 1,
      REAL(unrestricted),
      p > 0 ? p : 1,
      selected,
      isNull(reliabilities) ? NULL : REAL(reliabilities),
      fit_request(element(fit, "interval"), element(fit, "scores"), &data, &pool)};
  SEXP holder = PROTECT(R_MakeExternalPtr(NULL, R_NilValue, R_NilValue));
  R_RegisterCFinalizerEx(holder, free_answer, TRUE);
  tolbe_answer* answer = tolbe_ask(&question, &asked);
  if (answer == NULL) error("tolbe: out of memory");
  R_SetExternalPtrAddr(holder, answer);
  int argument = 0, n_variables = 0;
  const char* refusal = NULL;
  const int* variables = NULL;
  int code = tolbe_answer_refusal(answer, &argument, &refusal, &variables, &n_variables);
  if (code != 0) {
    const char* message = copied(refusal);
    SEXP labelled = PROTECT(labelled_variables(variables, n_variables, names));
    free_answer(holder);
    refuse(message, tolbe_refusal_code_name(code), argument, labelled);
  }
  int y = 0, base = 0;
  const int* x = NULL;
  int k = tolbe_answer_question(answer, &y, &x, &base);
  size_t count = tolbe_validity_values(k);
  SEXP out = PROTECT(allocVector(VECSXP, 8));
  setAttrib(out, R_NamesSymbol, validity_names);
  for (int j = 0; j < 4; ++j) {
    SET_VECTOR_ELT(out, j, allocVector(REALSXP, (R_xlen_t)count));
    memcpy(REAL(VECTOR_ELT(out, j)), tolbe_answer_values(answer, j), count * sizeof(double));
  }
  SEXP offsets = allocVector(INTSXP, TOLBE_VALIDITY_DELTA_R + 1);
  SET_VECTOR_ELT(out, 6, offsets);
  setAttrib(offsets, R_NamesSymbol, offset_names);
  for (int part = 0; part <= TOLBE_VALIDITY_DELTA_R; ++part) {
    INTEGER(offsets)[part] = (int)tolbe_validity_offset(k, part);
  }
  tolbe_interval_summary summary;
  tolbe_answer_summary(answer, &summary);
  int bootstrap = asked.request.method == TOLBE_INTERVAL_BOOTSTRAP;
  SET_VECTOR_ELT(out, 4, integer_or_na(summary.failed_resamples, bootstrap));
  SET_VECTOR_ELT(out, 5, integer_or_na(summary.percentile_fallbacks, bootstrap));
  SET_VECTOR_ELT(out, 7, mkString(tolbe_answer_note(answer)));
  free_answer(holder);
  UNPROTECT(2);
  return out;
}

/* The predictors of the criterion `criterion` (a number from 1) of `q`
 * variables when none are named, by the library's rule: every variable
 * but the criterion and the `criteria` (numbers from 1: those named, and
 * those given a reliability). Numbers from 1. */
SEXP C_default_predictors(SEXP q, SEXP criterion, SEXP criteria) {
  int n = asInteger(q);
  int y = asInteger(criterion);
  if (n == NA_INTEGER || n < 0 || y == NA_INTEGER || TYPEOF(criteria) != INTSXP ||
      XLENGTH(criteria) > n) {
    fail(
        "tolbe: the default predictors were asked with arguments that do not "
        "fit");
  }
  int m = LENGTH(criteria);
  int* named = index_list(m);
  for (int k = 0; k < m; ++k) {
    int c = INTEGER(criteria)[k];
    named[k] = c == NA_INTEGER ? -1 : c - 1;
  }
  int* out = index_list(n);
  int count = tolbe_default_predictors(n, y - 1, named, m, out);
  if (count < 0)
    fail(
        "tolbe: the default predictors were asked with arguments that do not "
        "fit");
  return labelled_variables(out, count, R_NilValue);
}
