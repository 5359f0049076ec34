/* The R interface: .Call entries over the library's C API.
 *
 * C_lawley_plain takes lawley()'s arguments as the user gave them and serves
 * the common case (double matrices, default selection, nothing else to
 * resolve) in one call; for anything else it returns NULL and the R code
 * checks and resolves the arguments, then calls C_lawley. Both build the
 * same object, so the two roads cannot drift apart. */
#include <R.h>
#include <R_ext/Rdynload.h>
#include <Rinternals.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "tolbe/tolbe.h"

/* Workspace kept between calls and grown when a problem needs more: R runs
 * one call at a time, and allocating it anew made each call pay the
 * garbage collector more than the correction itself. */
static double* work_doubles = NULL;
static size_t work_doubles_size = 0;
static int* work_ints = NULL;
static size_t work_ints_size = 0;

static void reserve_workspace(size_t doubles, size_t ints) {
  if (doubles > SIZE_MAX / sizeof(double) || ints > SIZE_MAX / sizeof(int) - 1) {
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

/* Reserves the library's workspace for q variables, p of them selected,
 * and *n_work, *n_int_work of it for the library; `selection` (p 1-based
 * integers, or NULL for the first p) is copied 0-based behind the ints.
 * Returns that copy, or NULL with a NULL selection. */
static const int* prepare_workspace(int q, int p, SEXP selection, size_t* n_work,
                                    size_t* n_int_work) {
  tolbe_lawley_workspace(q, p, n_work, n_int_work);
  reserve_workspace(*n_work, *n_int_work + (size_t)p);
  if (isNull(selection)) return NULL;
  int* zero_based = work_ints + *n_int_work;
  for (int k = 0; k < p; ++k) zero_based[k] = INTEGER(selection)[k] - 1;
  return zero_based;
}

/* Names and class made once, at load, and kept from the collector. */
static SEXP fit_names, fit_class, diagnostics_names, pair_dimnames, no_places;

enum {
  FIT_COV,
  FIT_COR,
  FIT_DISATTENUATED,
  FIT_MEANS,
  FIT_SELECTION,
  FIT_DIAGNOSTICS,
  FIT_RESTRICTED,
  FIT_LENGTH
};
enum { DIAGNOSTICS_LENGTH = 18 };

static SEXP strings(int n, const char** texts) {
  SEXP v = PROTECT(allocVector(STRSXP, n));
  for (int i = 0; i < n; ++i) SET_STRING_ELT(v, i, mkChar(texts[i]));
  UNPROTECT(1);
  return v;
}

/* Shared by every object made, so never to be changed in place. */
static SEXP kept(SEXP x) {
  R_PreserveObject(x);
  MARK_NOT_MUTABLE(x);
  return x;
}

static void make_names(void) {
  static const char* fit[FIT_LENGTH] = {"cov",       "cor",         "disattenuated", "means",
                                        "selection", "diagnostics", "restricted"};
  static const char* diagnostics[DIAGNOSTICS_LENGTH] = {"status",
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
                                                        "sign_changes",
                                                        "sign_change_pairs",
                                                        "unread_not_finite"};
  static const char* pair_columns[2] = {"row", "column"};
  fit_names = kept(strings(FIT_LENGTH, fit));
  fit_class = kept(mkString("tolbe_lawley"));
  diagnostics_names = kept(strings(DIAGNOSTICS_LENGTH, diagnostics));
  pair_dimnames = kept(allocVector(VECSXP, 2));
  SET_VECTOR_ELT(pair_dimnames, 1, strings(2, pair_columns));
  no_places = kept(allocMatrix(INTSXP, 0, 2));
  setAttrib(no_places, R_DimNamesSymbol, pair_dimnames);
}

static SEXP one_based(int index) {
  return ScalarInteger(index < 0 ? NA_INTEGER : index + 1);
}

static SEXP place(const int at[2]) {
  SEXP v = allocVector(INTSXP, 2);
  INTEGER(v)[0] = at[0] < 0 ? NA_INTEGER : at[0] + 1;
  INTEGER(v)[1] = at[1] < 0 ? NA_INTEGER : at[1] + 1;
  return v;
}

/* The findings as a named list; `pairs` (the sign-change pairs) and
 * `unread` (the places of values that are not finite, all of them where the
 * correction does not read), k x 2 integer matrices, are left NULL when the
 * correction failed. */
static SEXP diagnostics_list(const tolbe_diagnostics* d, SEXP pairs, SEXP unread) {
  SEXP list = PROTECT(allocVector(VECSXP, DIAGNOSTICS_LENGTH));
  setAttrib(list, R_NamesSymbol, diagnostics_names);
  SET_VECTOR_ELT(list, 0, ScalarInteger(d->status));
  SET_VECTOR_ELT(list, 1, ScalarInteger(d->leading_minor));
  SET_VECTOR_ELT(list, 2, mkString(d->reason != NULL ? d->reason : ""));
  SET_VECTOR_ELT(list, 3, ScalarReal(d->restricted_asymmetry));
  SET_VECTOR_ELT(list, 4, ScalarReal(d->unrestricted_asymmetry));
  SET_VECTOR_ELT(list, 5, ScalarLogical(d->restricted_positive_definite));
  SET_VECTOR_ELT(list, 6, ScalarLogical(d->unrestricted_positive_definite));
  SET_VECTOR_ELT(list, 7, ScalarInteger(d->nonpositive_variances));
  SET_VECTOR_ELT(list, 8, one_based(d->first_nonpositive_variance));
  SET_VECTOR_ELT(list, 9, ScalarInteger(d->correlations_out_of_range));
  SET_VECTOR_ELT(list, 10, place(d->first_correlation_out_of_range));
  SET_VECTOR_ELT(list, 11, ScalarInteger(d->disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 12, place(d->first_disattenuated_out_of_range));
  SET_VECTOR_ELT(list, 13, ScalarInteger(d->reliabilities_out_of_range));
  SET_VECTOR_ELT(list, 14, one_based(d->first_reliability_out_of_range));
  SET_VECTOR_ELT(list, 15, ScalarInteger(d->sign_changes));
  SET_VECTOR_ELT(list, 16, pairs);
  SET_VECTOR_ELT(list, 17, unread);
  UNPROTECT(1);
  return list;
}

/* The pairs (1-based) whose correlation changed sign, as a k x 2 integer
 * matrix sized by the count the listing itself gives. */
static SEXP sign_change_pairs(int q, int p, const double* restricted, int ld, const int* selection,
                              const double* correlations) {
  int count =
      tolbe_lawley_sign_changes(q, p, restricted, ld, selection, correlations, ld, NULL, NULL, 0);
  if (count <= 0) return no_places;
  SEXP pairs = PROTECT(allocMatrix(INTSXP, count, 2));
  setAttrib(pairs, R_DimNamesSymbol, pair_dimnames);
  int* rows = INTEGER(pairs);
  int* columns = rows + count;
  int listed = tolbe_lawley_sign_changes(q, p, restricted, ld, selection, correlations, ld, rows,
                                         columns, count);
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
      if (isfinite(a[i + (size_t)j * q])) continue;
      rows[found] = i + 1;
      columns[found] = j + 1;
      ++found;
    }
  }
  UNPROTECT(1);
  return places;
}

/* The library's asymmetry of the q x q `a`, max |a(i,j) - a(j,i)| /
 * sqrt(|a(i,i) a(j,j)|) (the absolute difference where a diagonal element
 * is 0), over the pairs whose values are both finite: where a value the
 * correction does not read is not finite, the library's own measure is not
 * a number. The diagonal is read, so finite. */
static double finite_asymmetry(int q, const double* a) {
  double largest = 0.0;
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      double upper = a[i + (size_t)j * q];
      double lower = a[j + (size_t)i * q];
      if (!isfinite(upper) || !isfinite(lower)) continue;
      double scale = sqrt(fabs(a[i + (size_t)i * q] * a[j + (size_t)j * q]));
      double difference = fabs(upper - lower);
      double relative = scale > 0.0 ? difference / scale : difference;
      if (relative > largest) largest = relative;
    }
  }
  return largest;
}

/* A q x q result matrix, named by `names` (a character vector or NULL). */
static SEXP result_matrix(int q, SEXP names) {
  SEXP m = PROTECT(allocMatrix(REALSXP, q, q));
  if (!isNull(names)) {
    SEXP dimnames = PROTECT(allocVector(VECSXP, 2));
    SET_VECTOR_ELT(dimnames, 0, names);
    SET_VECTOR_ELT(dimnames, 1, names);
    setAttrib(m, R_DimNamesSymbol, dimnames);
    UNPROTECT(1);
  }
  UNPROTECT(1);
  return m;
}

/* Corrects `restricted` (q x q doubles) whose variables `selection` (1-based
 * integers, or NULL for the first p) have the p x p `unrestricted`, with
 * `reliabilities` (q - p doubles or NULL). Returns the tolbe_lawley object
 * (means NULL; diagnostics only when `diagnose`), or, when the library
 * refuses or fails, the diagnostics list alone. */
static SEXP correct(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                    int diagnose, SEXP names) {
  int q = nrows(restricted);
  int p = nrows(unrestricted);
  int with_reliabilities = !isNull(reliabilities);
  /* The library checks the count against q - p. */
  int n_reliabilities =
      with_reliabilities ? (XLENGTH(reliabilities) > INT_MAX ? -1 : LENGTH(reliabilities)) : 0;
  size_t n_work = 0, n_int_work = 0;
  const int* zero_based = prepare_workspace(q, p, selection, &n_work, &n_int_work);
  double* work = work_doubles;
  int* int_work = work_ints;
  SEXP fit = PROTECT(allocVector(VECSXP, FIT_LENGTH));
  SET_VECTOR_ELT(fit, FIT_COV, result_matrix(q, names));
  SET_VECTOR_ELT(fit, FIT_COR, result_matrix(q, names));
  if (with_reliabilities) SET_VECTOR_ELT(fit, FIT_DISATTENUATED, result_matrix(q, names));
  double* dis = with_reliabilities ? REAL(VECTOR_ELT(fit, FIT_DISATTENUATED)) : NULL;
  int ld = q > 0 ? q : 1;
  tolbe_diagnostics d = {0};
  /* Without diagnostics, a failure is computed once more to say what went
   * wrong: the findings are made only on request. */
  int status = TOLBE_OK;
  for (int pass = 0; pass < 2; ++pass) {
    int with_findings = diagnose || pass == 1;
    status = tolbe_lawley(q, p, REAL(restricted), ld, REAL(unrestricted), p > 0 ? p : 1, zero_based,
                          with_reliabilities ? REAL(reliabilities) : NULL, n_reliabilities,
                          REAL(VECTOR_ELT(fit, FIT_COV)), ld, REAL(VECTOR_ELT(fit, FIT_COR)), ld,
                          dis, ld, work, n_work, int_work, n_int_work, with_findings ? &d : NULL);
    if (with_findings || status == TOLBE_OK) break;
  }
  if (status != TOLBE_OK) {
    UNPROTECT(1);
    return diagnostics_list(&d, R_NilValue, R_NilValue);
  }
  if (with_reliabilities && n_reliabilities == 0) {
    /* No variable beyond the selection ones: nothing to disattenuate. */
    memcpy(dis, REAL(VECTOR_ELT(fit, FIT_COR)), (size_t)q * (size_t)q * sizeof(double));
  }
  if (isNull(selection)) {
    selection = allocVector(INTSXP, p);
    for (int k = 0; k < p; ++k) INTEGER(selection)[k] = k + 1;
  }
  SET_VECTOR_ELT(fit, FIT_SELECTION, selection);
  SET_VECTOR_ELT(fit, FIT_RESTRICTED, restricted);
  if (diagnose) {
    SEXP pairs = PROTECT(
        sign_change_pairs(q, p, REAL(restricted), ld, zero_based, REAL(VECTOR_ELT(fit, FIT_COR))));
    SEXP unread = PROTECT(not_finite_places(q, REAL(restricted)));
    if (nrows(unread) > 0 && !isfinite(d.restricted_asymmetry)) {
      d.restricted_asymmetry = finite_asymmetry(q, REAL(restricted));
    }
    SET_VECTOR_ELT(fit, FIT_DIAGNOSTICS, diagnostics_list(&d, pairs, unread));
    UNPROTECT(2);
  }
  setAttrib(fit, R_NamesSymbol, fit_names);
  classgets(fit, fit_class);
  UNPROTECT(1);
  return fit;
}

static int is_square_double_matrix(SEXP x) {
  if (TYPEOF(x) != REALSXP) return 0;
  SEXP dim = getAttrib(x, R_DimSymbol);
  return TYPEOF(dim) == INTSXP && LENGTH(dim) == 2 && INTEGER(dim)[0] == INTEGER(dim)[1];
}

/* The variable names of a matrix: its row names, else its column names. */
static SEXP variable_names(SEXP x) {
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (isNull(dimnames)) return R_NilValue;
  SEXP rows = VECTOR_ELT(dimnames, 0);
  return isNull(rows) ? VECTOR_ELT(dimnames, 1) : rows;
}

/* lawley()'s own arguments. NULL unless they need no resolving: double
 * matrices, an unnamed `unrestricted` and no selection (so the first p
 * variables), unnamed finite reliabilities or none, no means, diagnostics
 * TRUE or FALSE. Also NULL when the correction fails, so that the R code
 * words the complaint. */
static SEXP C_lawley_plain(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                           SEXP restricted_means, SEXP unrestricted_means, SEXP diagnostics) {
  if (!is_square_double_matrix(restricted) || !is_square_double_matrix(unrestricted) ||
      !isNull(getAttrib(unrestricted, R_DimNamesSymbol)) || !isNull(selection) ||
      !isNull(restricted_means) || !isNull(unrestricted_means) || TYPEOF(diagnostics) != LGLSXP ||
      LENGTH(diagnostics) != 1 || LOGICAL(diagnostics)[0] == NA_LOGICAL) {
    return R_NilValue;
  }
  if (!isNull(reliabilities)) {
    if (TYPEOF(reliabilities) != REALSXP || ATTRIB(reliabilities) != R_NilValue ||
        XLENGTH(reliabilities) != (R_xlen_t)nrows(restricted) - nrows(unrestricted)) {
      return R_NilValue;
    }
    for (R_xlen_t k = 0; k < XLENGTH(reliabilities); ++k) {
      if (!isfinite(REAL(reliabilities)[k])) return R_NilValue;
    }
  }
  SEXP fit = correct(restricted, unrestricted, R_NilValue, reliabilities, LOGICAL(diagnostics)[0],
                     variable_names(restricted));
  return getAttrib(fit, R_ClassSymbol) == R_NilValue ? R_NilValue : fit;
}

/* lawley() after the R code has checked and resolved the arguments:
 * restricted (q x q doubles), unrestricted (p x p doubles), selection
 * (p 1-based integers), reliabilities (q - p doubles or NULL), diagnose
 * (TRUE or FALSE), names (character or NULL). */
static SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                     SEXP diagnose, SEXP names) {
  return correct(restricted, unrestricted, selection, reliabilities, asLogical(diagnose) == TRUE,
                 names);
}

/* means(restricted, unrestricted, selection (1-based), restricted_means,
 * unrestricted_means), all checked by the R code. */
static SEXP C_means(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP restricted_means,
                    SEXP unrestricted_means) {
  int q = nrows(restricted);
  int p = length(selection);
  size_t n_work = 0, n_int_work = 0;
  const int* zero_based = prepare_workspace(q, p, selection, &n_work, &n_int_work);
  SEXP means = PROTECT(allocVector(REALSXP, q));
  int ld = q > 0 ? q : 1;
  tolbe_lawley_means(q, p, REAL(restricted), ld, REAL(unrestricted), p > 0 ? p : 1, zero_based,
                     REAL(restricted_means), REAL(unrestricted_means), REAL(means), work_doubles,
                     n_work, work_ints, n_int_work, NULL);
  UNPROTECT(1);
  return means;
}

static const R_CallMethodDef call_methods[] = {{"C_lawley_plain", (DL_FUNC)&C_lawley_plain, 7},
                                               {"C_lawley", (DL_FUNC)&C_lawley, 6},
                                               {"C_means", (DL_FUNC)&C_means, 5},
                                               {NULL, NULL, 0}};

void R_init_tolbe(DllInfo* info) {
  make_names();
  R_registerRoutines(info, NULL, call_methods, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
