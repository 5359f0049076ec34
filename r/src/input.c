/* The matrices and raw scores as the library reads them: a var/cov matrix
 * (or a data frame of numbers) checked to be square with one set of
 * names, and raw scores, one row per person, whose var/cov matrix the
 * library's one rule makes (complete rows, divisor n - 1), so that the
 * estimates, the findings and the intervals belong to the same matrices. */
#include <math.h>
#include <string.h>

#include "tolbe_r.h"

/* Stops when the row names of the matrix `x` (the argument `what`)
 * contradict its column names: the results would be labelled by one and
 * the variables found by the other. Either alone is the variables' names. */
static void check_dimnames(SEXP x, const char* what) {
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (isNull(dimnames)) return;
  SEXP rows = VECTOR_ELT(dimnames, 0);
  SEXP columns = VECTOR_ELT(dimnames, 1);
  if (isNull(rows) || isNull(columns)) return;
  int n = LENGTH(rows) < LENGTH(columns) ? LENGTH(rows) : LENGTH(columns);
  for (int k = 0; k < n; ++k) {
    SEXP row = STRING_ELT(rows, k);
    SEXP column = STRING_ELT(columns, k);
    if (same_name(row, column)) continue;
    fail(
        "'%s': row %d is named \"%s\", but column %d \"%s\"; the rows and the "
        "columns are the "
        "same variables, in the same order",
        what, k + 1, row == NA_STRING ? "NA" : translateChar(row), k + 1,
        column == NA_STRING ? "NA" : translateChar(column));
  }
}

/* `x` as a square matrix of doubles, or a clean error naming `what`. */
SEXP square_matrix(SEXP x, const char* what) {
  int protected = 0;
  if (inherits(x, "data.frame")) {
    SEXP call = PROTECT(lang2(install("as.matrix"), x));
    x = PROTECT(eval(call, R_BaseEnv));
    protected = 2;
  }
  SEXP dim = getAttrib(x, R_DimSymbol);
  int restricted = strcmp(what, "restricted") == 0;
  if (TYPEOF(dim) == INTSXP && LENGTH(dim) == 2 && INTEGER(dim)[0] == 0 && INTEGER(dim)[1] == 0) {
    /* An empty selection written out and read back (or data.frame()), of
     * whatever type: corrected by it, the restricted matrix would come back
     * unchanged as if corrected. */
    fail("'%s' has no variables (it is 0 x 0); %s", what,
         restricted ? "give the var/cov matrix of all the variables in the "
                      "restricted sample"
                    : "give the var/cov matrix of the selection variables, at "
                      "least one");
  }
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || TYPEOF(dim) != INTSXP ||
      LENGTH(dim) != 2) {
    fail("'%s' must be a numeric matrix (or a data frame of numbers)", what);
  }
  int rows = INTEGER(dim)[0];
  int columns = INTEGER(dim)[1];
  if (rows > columns) {
    /* More rows than columns: most likely raw scores, one row per person. */
    fail(
        "'%s' must be square, not %d x %d; raw scores, one row per person, "
        "are given as %s",
        what, rows, columns,
        restricted ? "data = (not restricted =)" : "pool = (not unrestricted =)");
  }
  if (rows != columns) fail("'%s' must be square, not %d x %d", what, rows, columns);
  check_dimnames(x, what);
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
int scores_columns(SEXP x, const char* what) {
  int frame = inherits(x, "data.frame") && TYPEOF(x) == VECSXP;
  SEXP dim = getAttrib(x, R_DimSymbol);
  if (!frame && ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) ||
                 TYPEOF(dim) != INTSXP || LENGTH(dim) != 2)) {
    fail(
        "'%s' must be a data frame or a numeric matrix of raw scores, one row "
        "per person and one "
        "column per variable",
        what);
  }
  int columns = frame ? LENGTH(x) : INTEGER(dim)[1];
  if (columns == 0) fail("'%s' has no columns", what);
  return columns;
}

/* `x` as raw scores, or a clean error naming `what`: all its columns
 * (`list` NULL), or the n columns `list` in that order, the others not
 * looked at (a pool's identifiers, notes, columns left empty). The values
 * are `x` itself when it is a matrix of doubles taken whole, else a copy;
 * the caller protects them. */
SEXP raw_scores(SEXP x, const char* what, const int* list, int n, Scores* out) {
  int frame = inherits(x, "data.frame") && TYPEOF(x) == VECSXP;
  int all_columns = scores_columns(x, what);
  int rows = frame ? LENGTH(VECTOR_ELT(x, 0)) : INTEGER(getAttrib(x, R_DimSymbol))[0];
  SEXP all_names = scores_names_of(x);
  int columns = list != NULL ? n : all_columns;
  if (!frame && list == NULL) {
    SEXP values = TYPEOF(x) == REALSXP ? x : coerceVector(x, REALSXP);
    *out = (Scores){values, rows, columns, all_names};
    return values;
  }
  Text t = {0};
  int n_wrong = 0;
  for (int k = 0; k < columns && frame; ++k) {
    int j = list != NULL ? list[k] : k;
    SEXP column = VECTOR_ELT(x, j);
    if ((TYPEOF(column) == REALSXP || TYPEOF(column) == INTSXP) && !isFactor(column) &&
        LENGTH(column) == rows) {
      continue;
    }
    if (n_wrong++ > 0) put(&t, ", ");
    put_variable(&t, all_names, j);
  }
  if (n_wrong > 0) {
    Text m = {0};
    putf(&m, "'%s' must hold numbers only; %s: ", what,
         n_wrong == 1 ? "this column does not" : "these columns do not");
    put(&m, text_of(&t));
    fail_text(&m);
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
