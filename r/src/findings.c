/* What a correction has to say: the library's findings, worded by
 * tolbe_finding_message with R's variable names, as a data frame and as
 * the conditions lawley() raises; and the diagnostics as fit$diagnostics
 * holds them. */
#include <math.h>

#include "tolbe_r.h"

/* The stable codes (<tolbe/findings.h>) looked for here. */
enum {
  CODE_RESTRICTED_LOWER_TRIANGLE = 1,
  CODE_RESTRICTED_UPPER_TRIANGLE = 2,
  CODE_UNRESTRICTED_LOWER_TRIANGLE = 3,
  CODE_UNRESTRICTED_UPPER_TRIANGLE = 4,
  CODE_UNREAD_NOT_FINITE = 21
};

/* The message of finding f, with the variables named by `names`. */
static SEXP finding_message(const tolbe_finding* f, SEXP names, int q) {
  const char** named = NULL;
  if (!isNull(names)) {
    named = (const char**)R_alloc(q > 0 ? (size_t)q : 1, sizeof(const char*));
    for (int v = 0; v < q; ++v) named[v] = NULL;
    for (int k = 0; k < 2; ++k) {
      int v = f->variables[k];
      if (v >= 0 && v < q) named[v] = name_of(names, v);
    }
  }
  char small[512];
  size_t length = tolbe_finding_message(f, named, named != NULL ? q : 0, small, sizeof small);
  if (length < sizeof small) return mkChar(small);
  char* large = R_alloc(length + 1, 1);
  tolbe_finding_message(f, named, named != NULL ? q : 0, large, length + 1);
  return mkChar(large);
}

/* The findings of `d` as a data frame (the shared empty one for none). */
SEXP findings_of(const tolbe_diagnostics* d, SEXP names, int q) {
  int n = d->n_findings;
  if (n <= 0) return no_findings;
  SEXP frame = PROTECT(findings_frame(n));
  for (int k = 0; k < n; ++k) {
    const tolbe_finding* f = &d->findings[k];
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_CODE), k, mkChar(tolbe_finding_code_name(f->code)));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_SEVERITY), k, mkChar(tolbe_severity_name(f->severity)));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_MESSAGE), k, finding_message(f, names, q));
    int variables[2], count = 0;
    for (int j = 0; j < 2; ++j) {
      if (f->variables[j] >= 0) variables[count++] = f->variables[j];
    }
    SET_VECTOR_ELT(VECTOR_ELT(frame, FRAME_VARIABLES), k,
                   labelled_variables(variables, count, names));
  }
  UNPROTECT(1);
  return frame;
}

/* For the code of a triangle entered alone, the value of lawley()'s
 * argument that mirrors it: "lower" or "upper"; NULL for other codes. */
static const char* triangle_of_code(int code) {
  switch (code) {
    case CODE_RESTRICTED_LOWER_TRIANGLE:
    case CODE_UNRESTRICTED_LOWER_TRIANGLE:
      return "lower";
    case CODE_RESTRICTED_UPPER_TRIANGLE:
    case CODE_UNRESTRICTED_UPPER_TRIANGLE:
      return "upper";
  }
  return NULL;
}

/* Something the glue has to say: list(severity, message, variables). */
SEXP own_item(int severity, const char* message, SEXP variables) {
  SEXP item = PROTECT(allocVector(VECSXP, 3));
  SET_VECTOR_ELT(item, 0, ScalarInteger(severity));
  SET_VECTOR_ELT(item, 1, mkString(message));
  SET_VECTOR_ELT(item, 2, variables);
  UNPROTECT(1);
  return item;
}

/* What to say: the rows of `frame` whose severity is at least `least`,
 * preceded by what the glue has to say, `own` (NULL or a list of
 * own_item()s). Errors carry a hint of lawley()'s own argument for a
 * triangle. */
SEXP said(SEXP fit, SEXP frame, const tolbe_diagnostics* d, int least, SEXP own) {
  int n_frame = LENGTH(VECTOR_ELT(frame, FRAME_CODE));
  int n_own = isNull(own) ? 0 : LENGTH(own);
  int n = n_own;
  for (int k = 0; k < n_frame; ++k) n += d->findings[k].severity >= least;
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
  SET_VECTOR_ELT(out, SAID_FINDINGS, frame);
  int at = 0;
  for (int k = 0; k < n_own; ++k) {
    SEXP item = VECTOR_ELT(own, k);
    INTEGER(severity)[at] = INTEGER(VECTOR_ELT(item, 0))[0];
    SET_STRING_ELT(code, at, NA_STRING);
    SET_STRING_ELT(message, at, STRING_ELT(VECTOR_ELT(item, 1), 0));
    SET_VECTOR_ELT(variables, at, VECTOR_ELT(item, 2));
    ++at;
  }
  for (int k = 0; k < n_frame; ++k) {
    const tolbe_finding* f = &d->findings[k];
    if (f->severity < least) continue;
    INTEGER(severity)[at] = f->severity;
    SET_STRING_ELT(code, at, STRING_ELT(VECTOR_ELT(frame, FRAME_CODE), k));
    SEXP text = STRING_ELT(VECTOR_ELT(frame, FRAME_MESSAGE), k);
    const char* side = triangle_of_code(f->code);
    if (f->severity == TOLBE_ERROR && side != NULL) {
      Text t = {0};
      put(&t, translateChar(text));
      putf(&t, ", or give triangle = \"%s\" to mirror it", side);
      text = mkChar(text_of(&t));
    }
    SET_STRING_ELT(message, at, text);
    SET_VECTOR_ELT(variables, at, VECTOR_ELT(VECTOR_ELT(frame, FRAME_VARIABLES), k));
    ++at;
  }
  UNPROTECT(1);
  return out;
}

/* The errors of the findings of `d`, to stop with; NULL when there are
 * none. */
SEXP errors_of(const tolbe_diagnostics* d, SEXP names, int q) {
  if (d->n_findings <= 0 || d->findings[0].severity != TOLBE_ERROR) return NULL;
  SEXP frame = PROTECT(findings_of(d, names, q));
  SEXP out = said(R_NilValue, frame, d, TOLBE_ERROR, R_NilValue);
  UNPROTECT(1);
  return out;
}

static SEXP integer(int value) {
  return value == 0 ? integer_zero : ScalarInteger(value);
}

static SEXP real(double value) {
  return value == 0.0 && !signbit(value) ? real_zero : ScalarReal(value);
}

static SEXP one_based(int index) {
  return index < 0 ? integer_na : ScalarInteger(index + 1);
}

static SEXP place(const int at[2]) {
  if (at[0] < 0 && at[1] < 0) return no_place;
  SEXP v = allocVector(INTSXP, 2);
  INTEGER(v)[0] = at[0] < 0 ? NA_INTEGER : at[0] + 1;
  INTEGER(v)[1] = at[1] < 0 ? NA_INTEGER : at[1] + 1;
  return v;
}

/* The pairs (1-based) whose correlation changed sign, as a k x 2 integer
 * matrix sized by the count the listing itself gives; listed only when
 * the diagnostics `d` count some. */
static SEXP sign_change_pairs(const Problem* pr, const double* restricted,
                              const double* correlations, const tolbe_diagnostics* d) {
  if (d->sign_changes <= 0) return no_places;
  int q = pr->q;
  int ld = q > 0 ? q : 1;
  int count = tolbe_lawley_sign_changes(q, pr->p, restricted, ld, pr->r.selection, correlations, ld,
                                        NULL, NULL, 0);
  if (count <= 0) return no_places;
  SEXP pairs = PROTECT(allocMatrix(INTSXP, count, 2));
  setAttrib(pairs, R_DimNamesSymbol, pair_dimnames);
  int* rows = INTEGER(pairs);
  int* columns = rows + count;
  int listed = tolbe_lawley_sign_changes(q, pr->p, restricted, ld, pr->r.selection, correlations,
                                         ld, rows, columns, count);
  for (int k = 0; k < count; ++k) {
    /* The same listing twice gives the same count; should it not, no
     * unwritten element reaches the user. */
    rows[k] = k < listed ? rows[k] + 1 : NA_INTEGER;
    columns[k] = k < listed ? columns[k] + 1 : NA_INTEGER;
  }
  UNPROTECT(1);
  return pairs;
}

/* The places (1-based, column by column) of the values of the q x q `a`
 * that are not finite, as a k x 2 integer matrix. After a correction that
 * succeeded these are all where it does not read. */
static SEXP not_finite_places(int q, const double* a) {
  size_t n = (size_t)q * (size_t)q;
  int count = 0;
  for (size_t k = 0; k < n; ++k) count += !isfinite(a[k]);
  if (count == 0) return no_places;
  SEXP places = PROTECT(allocMatrix(INTSXP, count, 2));
  setAttrib(places, R_DimNamesSymbol, pair_dimnames);
  int* rows = INTEGER(places);
  int* columns = rows + count;
  int found = 0;
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      if (isfinite(a[(size_t)i + (size_t)j * (size_t)q])) continue;
      rows[found] = i + 1;
      columns[found] = j + 1;
      ++found;
    }
  }
  UNPROTECT(1);
  return places;
}

/* The asymmetry of the q x q `a` as the library measures it, max
 * |a(i,j) - a(j,i)| / sqrt(|a(i,i) a(j,j)|) (the absolute difference where
 * a diagonal element is 0), over the pairs whose values are both finite:
 * where a value the correction does not read is not finite, the library's
 * own measure is not a number. The diagonal is read, so finite. */
static double finite_asymmetry(int q, const double* a) {
  double largest = 0.0;
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      double upper = a[(size_t)i + (size_t)j * (size_t)q];
      double lower = a[(size_t)j + (size_t)i * (size_t)q];
      if (!isfinite(upper) || !isfinite(lower)) continue;
      double scale = sqrt(fabs(a[(size_t)i * (size_t)(q + 1)] * a[(size_t)j * (size_t)(q + 1)]));
      double difference = fabs(upper - lower);
      double relative = scale > 0.0 ? difference / scale : difference;
      if (relative > largest) largest = relative;
    }
  }
  return largest;
}

/* The diagnostics `d` of the correction of `pr` (V the q x q `v`, its
 * corrected correlations `cor`) as a named list, with the sign-change
 * pairs and the places of values that are not finite (all of them where
 * the correction does not read) as k x 2 integer matrices. */
SEXP diagnostics_list(const Problem* pr, tolbe_diagnostics* d, const double* v, const double* cor) {
  SEXP pairs = PROTECT(sign_change_pairs(pr, v, cor, d));
  /* After a correction every value it reads is finite; the others are
   * looked for when the library found one. */
  int unread_found = 0;
  for (int k = 0; k < d->n_findings; ++k) {
    unread_found |= d->findings[k].code == CODE_UNREAD_NOT_FINITE;
  }
  SEXP unread = PROTECT(unread_found ? not_finite_places(pr->q, v) : no_places);
  if (nrows(unread) > 0 && !isfinite(d->restricted_asymmetry)) {
    d->restricted_asymmetry = finite_asymmetry(pr->q, v);
  }
  SEXP list = PROTECT(allocVector(VECSXP, DIAGNOSTICS_LENGTH));
  setAttrib(list, R_NamesSymbol, diagnostics_names);
  SET_VECTOR_ELT(list, 0, integer(d->status));
  SET_VECTOR_ELT(list, 1, integer(d->leading_minor));
  SET_VECTOR_ELT(list, 2,
                 d->reason == NULL || d->reason[0] == '\0' ? no_reason : mkString(d->reason));
  SET_VECTOR_ELT(list, 3, real(d->restricted_asymmetry));
  SET_VECTOR_ELT(list, 4, real(d->unrestricted_asymmetry));
  SET_VECTOR_ELT(list, 5, ScalarLogical(d->restricted_positive_definite));
  SET_VECTOR_ELT(list, 6, ScalarLogical(d->unrestricted_positive_definite));
  SET_VECTOR_ELT(list, 7, integer(d->nonpositive_variances));
  SET_VECTOR_ELT(list, 8, one_based(d->first_nonpositive_variance));
  SET_VECTOR_ELT(list, 9, integer(d->correlations_out_of_range));
  SET_VECTOR_ELT(list, 10, place(d->first_correlation_out_of_range));
  SET_VECTOR_ELT(list, 11, integer(d->disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 12, place(d->first_disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 13, integer(d->reliabilities_out_of_range));
  SET_VECTOR_ELT(list, 14, one_based(d->first_reliability_out_of_range));
  SET_VECTOR_ELT(list, 15, integer(d->sign_changes));
  SET_VECTOR_ELT(list, 16, pairs);
  SET_VECTOR_ELT(list, 17, unread);
  UNPROTECT(3);
  return list;
}
