/* Messages and names: text built in memory that R frees when the call
 * returns (or stops), errors raised as stop(message, call. = FALSE), and
 * the variables named as the library names them. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "tolbe_r.h"

static void put_n(Text* t, const char* s, size_t n) {
  if (t->length + n + 1 > t->capacity) {
    size_t capacity = 2 * (t->length + n + 1) + 64;
    char* grown = R_alloc(capacity, 1);
    if (t->length > 0) memcpy(grown, t->text, t->length);
    t->text = grown;
    t->capacity = capacity;
  }
  memcpy(t->text + t->length, s, n);
  t->length += n;
  t->text[t->length] = '\0';
}

void put(Text* t, const char* s) {
  put_n(t, s, strlen(s));
}

void putf(Text* t, const char* format, ...) {
  char piece[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n < 0) return;
  put_n(t, piece, (size_t)n < sizeof piece ? (size_t)n : sizeof piece - 1);
}

const char* text_of(const Text* t) {
  return t->text != NULL ? t->text : "";
}

void NORET fail(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  errorcall(R_NilValue, "%s", message);
}

void NORET fail_text(const Text* t) {
  errorcall(R_NilValue, "%s", text_of(t));
}

/* The variable names of a matrix: its row names, else its column names. */
SEXP variable_names(SEXP x) {
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (isNull(dimnames)) return R_NilValue;
  SEXP rows = VECTOR_ELT(dimnames, 0);
  return isNull(rows) ? VECTOR_ELT(dimnames, 1) : rows;
}

/* The name of variable v (from 0) in `names`, or NULL when there is none. */
const char* name_of(SEXP names, int v) {
  if (isNull(names) || v < 0 || v >= LENGTH(names)) return NULL;
  SEXP name = STRING_ELT(names, v);
  if (name == NA_STRING || CHAR(name)[0] == '\0') return NULL;
  return translateChar(name);
}

/* Variable v by name, else as "variable N" with N from 1: the library's
 * way. */
void put_variable(Text* t, SEXP names, int v) {
  const char* name = name_of(names, v);
  if (name != NULL) {
    put(t, name);
  } else {
    putf(t, "variable %d", v + 1);
  }
}

/* Whether two names are the same text. R keeps one CHARSXP per text and
 * encoding, so strings of one encoding are the same name only when they
 * are the same pointer; across encodings the texts are compared. */
int same_name(SEXP a, SEXP b) {
  if (a == b) return 1;
  if (a == NA_STRING || b == NA_STRING || getCharCE(a) == getCharCE(b)) return 0;
  return strcmp(translateCharUTF8(a), translateCharUTF8(b)) == 0;
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
