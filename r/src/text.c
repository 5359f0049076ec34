/* Messages and names: texts kept until the call returns (or stops),
 * errors raised as stop(message, call. = FALSE), and the variables as
 * lists named as R names them. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tolbe_r.h"

/* A copy of `s` that R frees when the call returns (or stops). */
const char* copied(const char* s) {
  size_t size = strlen(s) + 1;
  char* copy = R_alloc(size, 1);
  memcpy(copy, s, size);
  return copy;
}

void NORET fail(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  errorcall(R_NilValue, "%s", message);
}

/* The variable names of a matrix: its row names, else its column names. */
SEXP variable_names(SEXP x) {
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (isNull(dimnames)) return R_NilValue;
  SEXP rows = VECTOR_ELT(dimnames, 0);
  return isNull(rows) ? VECTOR_ELT(dimnames, 1) : rows;
}

double number_at(SEXP x, R_xlen_t k) {
  if (TYPEOF(x) == REALSXP) return REAL(x)[k];
  return INTEGER(x)[k] == NA_INTEGER ? NA_REAL : (double)INTEGER(x)[k];
}

/* Lists of n ints or doubles, freed when the call returns. */
int* index_list(int n) {
  return (int*)R_alloc(n > 0 ? (size_t)n : 1, sizeof(int));
}

double* value_list(size_t n) {
  return (double*)R_alloc(n > 0 ? n : 1, sizeof(double));
}

/* The words of `spaced` as a character vector. */
SEXP words(const char* spaced) {
  int n = 0;
  for (const char* c = spaced; *c != '\0'; ++c) n += c == spaced || c[-1] == ' ';
  SEXP v = PROTECT(allocVector(STRSXP, n));
  const char* start = spaced;
  for (int k = 0; k < n; ++k) {
    const char* end = strchr(start, ' ');
    size_t length = end != NULL ? (size_t)(end - start) : strlen(start);
    SET_STRING_ELT(v, k, mkCharLen(start, (int)length));
    start += length + 1;
  }
  UNPROTECT(1);
  return v;
}

/* The variables `list` (from 0) as numbers from 1, named by `names` when
 * there are any. */
SEXP labelled_variables(const int* list, int n, SEXP names) {
  SEXP v = PROTECT(allocVector(INTSXP, n));
  for (int k = 0; k < n; ++k) INTEGER(v)[k] = list[k] + 1;
  if (!isNull(names) && n > 0) {
    SEXP labels = allocVector(STRSXP, n);
    setAttrib(v, R_NamesSymbol, labels);
    for (int k = 0; k < n; ++k) SET_STRING_ELT(labels, k, STRING_ELT(names, list[k]));
  }
  UNPROTECT(1);
  return v;
}
