/* The package's load: the names and class every object is made with, made
 * once and kept from the collector, and the .Call entries registered. */
#include <R_ext/Rdynload.h>

#include "tolbe_r.h"

SEXP fit_names, fit_class, diagnostics_names, pair_dimnames, no_places, frame_names, frame_class,
    no_findings, said_names, matrix_names, bound_names, interval_names, rows_names, scores_names,
    validity_names, offset_names, integer_zero, integer_na, real_zero, no_place, no_reason,
    library_version;

/* Shared by every object made, so never to be changed in place. */
static SEXP kept(SEXP x) {
  R_PreserveObject(x);
  MARK_NOT_MUTABLE(x);
  return x;
}

/* An empty data frame of findings, or one of n rows to be filled. */
SEXP findings_frame(int n) {
  SEXP frame = PROTECT(allocVector(VECSXP, FRAME_LENGTH));
  SET_VECTOR_ELT(frame, FRAME_CODE, allocVector(STRSXP, n));
  SET_VECTOR_ELT(frame, FRAME_SEVERITY, allocVector(STRSXP, n));
  SET_VECTOR_ELT(frame, FRAME_MESSAGE, allocVector(STRSXP, n));
  SET_VECTOR_ELT(frame, FRAME_VARIABLES, allocVector(VECSXP, n));
  setAttrib(frame, R_NamesSymbol, frame_names);
  /* Compact row names 1..n, as .set_row_names(n) makes them. */
  SEXP row_names = PROTECT(allocVector(INTSXP, n > 0 ? 2 : 0));
  if (n > 0) {
    INTEGER(row_names)[0] = NA_INTEGER;
    INTEGER(row_names)[1] = -n;
  }
  setAttrib(frame, R_RowNamesSymbol, row_names);
  classgets(frame, frame_class);
  UNPROTECT(2);
  return frame;
}

static void make_names(void) {
  fit_names =
      kept(words("cov cor disattenuated means selection diagnostics "
                 "findings restricted unrestricted se ci "
                 "interval rows operational criteria reliabilities "
                 "reliability_sample scores version"));
  fit_class = kept(mkString("tolbe_lawley"));
  diagnostics_names =
      kept(words("status leading_minor reason restricted_asymmetry unrestricted_asymmetry "
                 "restricted_positive_definite unrestricted_positive_definite "
                 "nonpositive_variances "
                 "first_nonpositive_variance correlations_out_of_range "
                 "first_correlation_out_of_range "
                 "disattenuated_out_of_range first_disattenuated_out_of_range "
                 "reliabilities_out_of_range "
                 "first_reliability_out_of_range sign_changes sign_change_pairs "
                 "unread_not_finite"));
  pair_dimnames = kept(allocVector(VECSXP, 2));
  SET_VECTOR_ELT(pair_dimnames, 1, words("row column"));
  no_places = kept(allocMatrix(INTSXP, 0, 2));
  setAttrib(no_places, R_DimNamesSymbol, pair_dimnames);
  frame_names = kept(words("code severity message variables"));
  frame_class = kept(mkString("data.frame"));
  no_findings = kept(findings_frame(0));
  said_names = kept(words("fit severity code message variables findings"));
  matrix_names = kept(words("cov cor disattenuated operational"));
  bound_names = kept(words("lower upper"));
  interval_names =
      kept(words("method ci_type level n n_unrestricted B seed threads failed_resamples "
                 "percentile_fallbacks rows_dropped pool_rows_dropped description"));
  rows_names = kept(words("used dropped pool_used pool_dropped"));
  scores_names = kept(words("data pool"));
  validity_names =
      kept(words("estimate se lower upper failed_resamples percentile_fallbacks offsets note"));
  /* In the order of TOLBE_VALIDITY_*. */
  offset_names = kept(words("b beta r operational R2 R operational_R base_R2 delta_R2 delta_R"));
  integer_zero = kept(ScalarInteger(0));
  integer_na = kept(ScalarInteger(NA_INTEGER));
  real_zero = kept(ScalarReal(0.0));
  no_place = kept(allocVector(INTSXP, 2));
  INTEGER(no_place)[0] = NA_INTEGER;
  INTEGER(no_place)[1] = NA_INTEGER;
  no_reason = kept(mkString(""));
  library_version = kept(mkString(tolbe_version()));
}

/* The library's defaults and bounds of the intervals and the validity
 * question, which lawley()'s usage and its help show. */
static SEXP C_defaults(void) {
  SEXP out = PROTECT(allocVector(VECSXP, 5));
  setAttrib(out, R_NamesSymbol, words("level B min_B max_B max_variables"));
  SET_VECTOR_ELT(out, 0, ScalarReal(TOLBE_DEFAULT_LEVEL));
  SET_VECTOR_ELT(out, 1, ScalarReal(TOLBE_DEFAULT_RESAMPLES));
  SET_VECTOR_ELT(out, 2, ScalarReal(TOLBE_MIN_RESAMPLES));
  SET_VECTOR_ELT(out, 3, ScalarReal(TOLBE_MAX_RESAMPLES));
  SET_VECTOR_ELT(out, 4, ScalarReal(TOLBE_MAX_VARIABLES));
  UNPROTECT(1);
  return out;
}

static const R_CallMethodDef call_methods[] = {
    {"C_lawley", (DL_FUNC)&C_lawley, 20},
    {"C_validity", (DL_FUNC)&C_validity, 4},
    {"C_default_predictors", (DL_FUNC)&C_default_predictors, 3},
    {"C_defaults", (DL_FUNC)&C_defaults, 0},
    {"C_correct_r", (DL_FUNC)&C_correct_r, 12},
    {"C_study_problem_message", (DL_FUNC)&C_study_problem_message, 1},
    {NULL, NULL, 0}};

void R_init_tolbe(DllInfo* info) {
  make_names();
  R_registerRoutines(info, NULL, call_methods, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
