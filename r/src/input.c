/* The matrices and raw scores as the library reads them: a var/cov matrix
 * (or a data frame of numbers) and raw scores, one row per person, each
 * checked by the library's rules and refused in its words. */
#include <math.h>
#include <string.h>

#include "tolbe_r.h"

/* Stops with the library's refusal of `shape` as the argument
 * `argument`, a matrix or raw scores. */
static void check_shape(int scores, int argument, const tolbe_shape* shape) {
  tolbe_spelling spelling = r_spelling();
  char message[1024];
  int code = scores ? tolbe_scores_refusal(&spelling, argument, shape, message, sizeof message)
                    : tolbe_matrix_refusal(&spelling, argument, shape, message, sizeof message);
  if (code != 0) {
    refuse(message, tolbe_refusal_code_name(code), argument, allocVector(INTSXP, 0));
  }
}

/* `x` as a square matrix of doubles, or the library's refusal of it as
 * `argument`. */
SEXP square_matrix(SEXP x, int argument) {
  int protected = 0;
  if (inherits(x, "data.frame")) {
    SEXP call = PROTECT(lang2(install("as.matrix"), x));
    x = PROTECT(eval(call, R_BaseEnv));
    protected = 2;
  }
  SEXP dim = getAttrib(x, R_DimSymbol);
  tolbe_shape shape = {0};
  int two = TYPEOF(dim) == INTSXP && LENGTH(dim) == 2;
  shape.numeric = two && (TYPEOF(x) == REALSXP || TYPEOF(x) == INTSXP) && !isFactor(x);
  shape.rows = two ? INTEGER(dim)[0] : -1;
  shape.columns = two ? INTEGER(dim)[1] : -1;
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (!isNull(dimnames)) {
    SEXP rows = VECTOR_ELT(dimnames, 0), columns = VECTOR_ELT(dimnames, 1);
    shape.n_row_names = isNull(rows) || isNull(columns) ? 0 : LENGTH(rows);
    shape.n_column_names = shape.n_row_names > 0 ? LENGTH(columns) : 0;
    shape.row_names = strings_of(rows, shape.n_row_names);
    shape.column_names = strings_of(columns, shape.n_column_names);
  }
  check_shape(0, argument, &shape);
  if (TYPEOF(x) != REALSXP) x = coerceVector(x, REALSXP);
  UNPROTECT(protected);
  return x;
}

/* The column names of raw scores `x` (a data frame or a matrix), or
 * R_NilValue. */
SEXP scores_names_of(SEXP x) {
  if (inherits(x, "data.frame") && TYPEOF(x) == VECSXP) return getAttrib(x, R_NamesSymbol);
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  return isNull(dimnames) ? R_NilValue : VECTOR_ELT(dimnames, 1);
}

/* The number of columns of raw scores `x`, or a clean error naming
 * `what`. */
int scores_columns(SEXP x, int argument) {
  int frame = inherits(x, "data.frame") && TYPEOF(x) == VECSXP;
  SEXP dim = getAttrib(x, R_DimSymbol);
  tolbe_shape shape = {0};
  shape.numeric = frame || ((TYPEOF(x) == REALSXP || TYPEOF(x) == INTSXP) && !isFactor(x) &&
                            TYPEOF(dim) == INTSXP && LENGTH(dim) == 2);
  shape.columns = !shape.numeric ? 0 : frame ? LENGTH(x) : INTEGER(dim)[1];
  check_shape(1, argument, &shape);
  return (int)shape.columns;
}

/* `x` as raw scores, or the library's refusal of it as `argument`: all its columns
 * (`list` NULL), or the n columns `list` in that order, the others not
 * looked at (a pool's identifiers, notes, columns left empty). The values
 * are `x` itself when it is a matrix of doubles taken whole, else a copy;
 * the caller protects them. */
SEXP raw_scores(SEXP x, int argument, const int* list, int n, Scores* out) {
  int frame = inherits(x, "data.frame") && TYPEOF(x) == VECSXP;
  int all_columns = scores_columns(x, argument);
  int rows = frame ? LENGTH(VECTOR_ELT(x, 0)) : INTEGER(getAttrib(x, R_DimSymbol))[0];
  SEXP all_names = scores_names_of(x);
  int columns = list != NULL ? n : all_columns;
  if (!frame && list == NULL) {
    SEXP values = TYPEOF(x) == REALSXP ? x : coerceVector(x, REALSXP);
    *out = (Scores){values, rows, columns, all_names};
    return values;
  }
  int* wrong = index_list(columns);
  int n_wrong = 0;
  for (int k = 0; k < columns && frame; ++k) {
    int j = list != NULL ? list[k] : k;
    SEXP column = VECTOR_ELT(x, j);
    if ((TYPEOF(column) != REALSXP && TYPEOF(column) != INTSXP) || isFactor(column) ||
        LENGTH(column) != rows) {
      wrong[n_wrong++] = j;
    }
  }
  if (n_wrong > 0) {
    tolbe_shape shape = {0};
    shape.numeric = 1;
    shape.columns = all_columns;
    shape.column_names = texts_of(all_names, all_columns);
    shape.n_column_names = isNull(all_names) ? 0 : all_columns;
    shape.not_numbers = wrong;
    shape.n_not_numbers = n_wrong;
    check_shape(1, argument, &shape);
  }
  SEXP values = PROTECT(allocMatrix(REALSXP, rows, columns));
  SEXP names = PROTECT(isNull(all_names) ? R_NilValue : allocVector(STRSXP, columns));
  double* to = REAL(values);
  for (int k = 0; k < columns; ++k) {
    int j = list != NULL ? list[k] : k;
    double* column = to + (size_t)k * (size_t)rows;
    if (frame) {
      SEXP from = VECTOR_ELT(x, j);
      for (int i = 0; i < rows; ++i) column[i] = number_at(from, i);
    } else {
      for (int i = 0; i < rows; ++i) column[i] = number_at(x, (R_xlen_t)j * rows + i);
    }
    if (!isNull(names)) SET_STRING_ELT(names, k, STRING_ELT(all_names, j));
  }
  if (!isNull(names)) {
    SEXP dimnames = PROTECT(allocVector(VECSXP, 2));
    SET_VECTOR_ELT(dimnames, 1, names);
    setAttrib(values, R_DimNamesSymbol, dimnames);
    UNPROTECT(1);
  }
  *out = (Scores){values, rows, columns, names};
  UNPROTECT(2);
  return values;
}

tolbe_scores library_scores(const Scores* s) {
  tolbe_scores out = {s->rows, s->columns, REAL(s->values), s->rows > 0 ? s->rows : 1};
  return out;
}
