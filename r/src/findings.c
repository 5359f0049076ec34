/* The diagnostics of a fit as fit$diagnostics holds them. */
#include <math.h>

#include "tolbe_r.h"

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

/* The places of `which` the fit lists (TOLBE_FIT_SIGN_CHANGES or
 * TOLBE_FIT_NOT_FINITE), from 1, as a k x 2 integer matrix. */
static SEXP places_of(const tolbe_fit* f, int which) {
  int count = tolbe_fit_places(f, which, NULL, NULL, 0);
  if (count <= 0) return no_places;
  SEXP places = PROTECT(allocMatrix(INTSXP, count, 2));
  setAttrib(places, R_DimNamesSymbol, pair_dimnames);
  int* rows = INTEGER(places);
  int* columns = rows + count;
  tolbe_fit_places(f, which, rows, columns, count);
  for (int k = 0; k < count; ++k) {
    ++rows[k];
    ++columns[k];
  }
  UNPROTECT(1);
  return places;
}

/* The diagnostics of the fit as a named list, with the sign-change pairs
 * and the places of V that are not finite as k x 2 integer matrices. */
SEXP diagnostics_list(const tolbe_fit* f, const tolbe_diagnostics* d) {
  SEXP pairs = PROTECT(places_of(f, TOLBE_FIT_SIGN_CHANGES));
  SEXP unread = PROTECT(places_of(f, TOLBE_FIT_NOT_FINITE));
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
