/* The R interface: .Call entries over the library's C API. Arguments are
 * checked in R first; what reaches here has the right types and sizes. */
#include <R.h>
#include <R_ext/Rdynload.h>
#include <Rinternals.h>
#include <stdlib.h>

#include "tolbe/tolbe.h"

/* Workspace kept between calls and grown when a problem needs more: R runs
 * one call at a time, and allocating it anew made each call pay the
 * garbage collector more than the correction itself. */
static double* work_doubles = NULL;
static size_t work_doubles_size = 0;
static int* work_ints = NULL;
static size_t work_ints_size = 0;

static void reserve_workspace(size_t doubles, size_t ints) {
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

static SEXP named_list(int n, const char** names) {
  SEXP list = PROTECT(allocVector(VECSXP, n));
  SEXP list_names = PROTECT(allocVector(STRSXP, n));
  for (int i = 0; i < n; ++i) SET_STRING_ELT(list_names, i, mkChar(names[i]));
  setAttrib(list, R_NamesSymbol, list_names);
  UNPROTECT(2);
  return list;
}

static SEXP place(const int at[2]) {
  SEXP v = allocVector(INTSXP, 2);
  INTEGER(v)[0] = at[0] < 0 ? NA_INTEGER : at[0] + 1;
  INTEGER(v)[1] = at[1] < 0 ? NA_INTEGER : at[1] + 1;
  return v;
}

static SEXP diagnostics_list(const tolbe_diagnostics* d) {
  static const char* names[] = {"status",
                                "leading_minor",
                                "reason",
                                "restricted_asymmetry",
                                "unrestricted_asymmetry",
                                "restricted_positive_definite",
                                "unrestricted_positive_definite",
                                "nonpositive_variances",
                                "first_nonpositive_variance",
                                "correlations_out_of_range",
                                "first_correlation_out_of_range",
                                "disattenuated_out_of_range",
                                "first_disattenuated_out_of_range",
                                "reliabilities_out_of_range",
                                "first_reliability_out_of_range",
                                "sign_changes"};
  SEXP list = PROTECT(named_list(16, names));
  SET_VECTOR_ELT(list, 0, ScalarInteger(d->status));
  SET_VECTOR_ELT(list, 1, ScalarInteger(d->leading_minor));
  SET_VECTOR_ELT(list, 2, mkString(d->reason != NULL ? d->reason : ""));
  SET_VECTOR_ELT(list, 3, ScalarReal(d->restricted_asymmetry));
  SET_VECTOR_ELT(list, 4, ScalarReal(d->unrestricted_asymmetry));
  SET_VECTOR_ELT(list, 5, ScalarLogical(d->restricted_positive_definite));
  SET_VECTOR_ELT(list, 6, ScalarLogical(d->unrestricted_positive_definite));
  SET_VECTOR_ELT(list, 7, ScalarInteger(d->nonpositive_variances));
  SET_VECTOR_ELT(
      list, 8,
      ScalarInteger(d->first_nonpositive_variance < 0 ? NA_INTEGER
                                                      : d->first_nonpositive_variance + 1));
  SET_VECTOR_ELT(list, 9, ScalarInteger(d->correlations_out_of_range));
  SET_VECTOR_ELT(list, 10, place(d->first_correlation_out_of_range));
  SET_VECTOR_ELT(list, 11, ScalarInteger(d->disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 12, place(d->first_disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 13, ScalarInteger(d->reliabilities_out_of_range));
  SET_VECTOR_ELT(
      list, 14,
      ScalarInteger(d->first_reliability_out_of_range < 0 ? NA_INTEGER
                                                          : d->first_reliability_out_of_range + 1));
  SET_VECTOR_ELT(list, 15, ScalarInteger(d->sign_changes));
  UNPROTECT(1);
  return list;
}

/* lawley(restricted q x q, unrestricted p x p, selection (0-based integers),
 * reliabilities (numeric, length q - p, or NULL), diagnose (logical)). */
static SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                     SEXP diagnose) {
  int q = nrows(restricted);
  int p = length(selection);
  int with_reliabilities = !isNull(reliabilities);
  size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
  reserve_workspace(n_work, n_int_work);
  double* work = work_doubles;
  int* int_work = work_ints;
  SEXP cov = PROTECT(allocMatrix(REALSXP, q, q));
  SEXP cor = PROTECT(allocMatrix(REALSXP, q, q));
  SEXP dis = PROTECT(with_reliabilities ? allocMatrix(REALSXP, q, q) : R_NilValue);
  tolbe_diagnostics d = {0};
  int wanted = asLogical(diagnose) == TRUE;
  int ld = q > 0 ? q : 1;
  const double* rel = with_reliabilities ? REAL(reliabilities) : NULL;
  double* dis_values = with_reliabilities ? REAL(dis) : NULL;
  /* Without diagnostics, a failure is computed once more to say what went
   * wrong: the findings are made only on request. */
  int status = TOLBE_OK;
  for (int pass = 0; pass < 2; ++pass) {
    int with_findings = wanted || pass == 1;
    status = tolbe_lawley(q, p, REAL(restricted), ld, REAL(unrestricted), p > 0 ? p : 1,
                          INTEGER(selection), rel, with_reliabilities ? q - p : 0, REAL(cov), ld,
                          REAL(cor), ld, dis_values, ld, work, n_work, int_work, n_int_work,
                          with_findings ? &d : NULL);
    if (with_findings || status == TOLBE_OK) break;
  }
  static const char* names[] = {"status",
                                "cov",
                                "cor",
                                "disattenuated",
                                "diagnostics",
                                "sign_change_rows",
                                "sign_change_columns"};
  SEXP out = PROTECT(named_list(7, names));
  SET_VECTOR_ELT(out, 0, ScalarInteger(status));
  SET_VECTOR_ELT(out, 1, cov);
  SET_VECTOR_ELT(out, 2, cor);
  SET_VECTOR_ELT(out, 3, dis);
  SET_VECTOR_ELT(out, 4, wanted || status != TOLBE_OK ? diagnostics_list(&d) : R_NilValue);
  int changes = wanted && status == TOLBE_OK ? d.sign_changes : 0;
  SEXP rows = PROTECT(allocVector(INTSXP, changes));
  SEXP columns = PROTECT(allocVector(INTSXP, changes));
  if (changes > 0) {
    tolbe_lawley_sign_changes(q, p, REAL(restricted), ld, INTEGER(selection), REAL(cor), ld,
                              INTEGER(rows), INTEGER(columns), changes);
    for (int k = 0; k < changes; ++k) {
      INTEGER(rows)[k] += 1;
      INTEGER(columns)[k] += 1;
    }
  }
  SET_VECTOR_ELT(out, 5, rows);
  SET_VECTOR_ELT(out, 6, columns);
  UNPROTECT(6);
  return out;
}

/* means(restricted, unrestricted, selection, restricted_means, unrestricted_means). */
static SEXP C_means(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP restricted_means,
                    SEXP unrestricted_means) {
  int q = nrows(restricted);
  int p = length(selection);
  size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
  reserve_workspace(n_work, n_int_work);
  double* work = work_doubles;
  int* int_work = work_ints;
  SEXP means = PROTECT(allocVector(REALSXP, q));
  int ld = q > 0 ? q : 1;
  tolbe_lawley_means(q, p, REAL(restricted), ld, REAL(unrestricted), p > 0 ? p : 1,
                     INTEGER(selection), REAL(restricted_means), REAL(unrestricted_means),
                     REAL(means), work, n_work, int_work, n_int_work, NULL);
  UNPROTECT(1);
  return means;
}

static const R_CallMethodDef call_methods[] = {
    {"C_lawley", (DL_FUNC)&C_lawley, 5}, {"C_means", (DL_FUNC)&C_means, 5}, {NULL, NULL, 0}};

void R_init_tolbe(DllInfo* info) {
  R_registerRoutines(info, NULL, call_methods, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
