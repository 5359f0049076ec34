/* The diagnostics of a fit as fit$diagnostics holds them. */
#include <math.h>

#include "tolbe_r.h"

/* The stable codes (<tolbe/findings.h>) looked for here. */
enum { CODE_UNREAD_NOT_FINITE = 21 };

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
