/* lawley()'s arguments as the library's request layer takes them: each
 * one as the user gave it (numbers, texts or something else, with its
 * names), R's spelling of the arguments, and the resolution held where R's
 * collector frees it should an error jump past the call. What a call
 * means, and every refusal's words, are the layer's. */
#include <limits.h>
#include <string.h>

#include "tolbe_r.h"

/* The n texts of `x` in UTF-8 (NA as "NA"), or NULL when `x` is NULL. */
static const char* const* texts(SEXP x, int n, const char* na) {
  if (isNull(x)) return NULL;
  const char** out = (const char**)R_alloc(n > 0 ? (size_t)n : 1, sizeof(const char*));
  for (int k = 0; k < n; ++k) {
    SEXP s = k < LENGTH(x) ? STRING_ELT(x, k) : NA_STRING;
    out[k] = s == NA_STRING ? na : translateCharUTF8(s);
  }
  return out;
}

/* Names: an NA name is no name. */
const char* const* texts_of(SEXP names, int n) {
  return TYPEOF(names) == STRSXP ? texts(names, n, "") : NULL;
}

/* Texts as they are written, NA as "NA". */
const char* const* strings_of(SEXP x, int n) {
  return TYPEOF(x) == STRSXP ? texts(x, n, "NA") : NULL;
}

void given_of(SEXP x, tolbe_given* out) {
  *out = (tolbe_given){TOLBE_GIVEN_ABSENT, 0, NULL, NULL, NULL};
  if (isNull(x)) return;
  out->kind = TOLBE_GIVEN_OTHER;
  if (!isVectorAtomic(x) || XLENGTH(x) > INT_MAX) return;
  int n = LENGTH(x);
  if (TYPEOF(x) == REALSXP) {
    out->kind = TOLBE_GIVEN_NUMBERS;
    out->numbers = REAL(x);
  } else if (TYPEOF(x) == INTSXP && !isFactor(x)) {
    double* numbers = value_list((size_t)n);
    for (int k = 0; k < n; ++k) numbers[k] = number_at(x, k);
    out->kind = TOLBE_GIVEN_NUMBERS;
    out->numbers = numbers;
  } else if (TYPEOF(x) == STRSXP) {
    out->kind = TOLBE_GIVEN_TEXTS;
    out->texts = texts(x, n, "NA");
  } else {
    return;
  }
  out->length = n;
  out->names = texts_of(getAttrib(x, R_NamesSymbol), n);
}

tolbe_spelling r_spelling(void) {
  static const char* names[TOLBE_CALL_ARGUMENTS];
  names[TOLBE_CALL_RESAMPLES] = "B";
  return (tolbe_spelling){names, "'{}'", "{} = \"{}\"", "dimnames", 1, "NA"};
}

static void free_resolution(SEXP holder) {
  tolbe_resolution_free((tolbe_resolution*)R_ExternalPtrAddr(holder));
  R_ClearExternalPtr(holder);
}

void release(SEXP holder) {
  free_resolution(holder);
}

/* Stops with a condition of class tolbe_error carrying the refusal's
 * stable code, the argument refused ("" for none) and the variables
 * concerned (numbers from 1, named when the variables are): R's refuse(). */
void NORET refuse(const char* message, const char* code, int argument, SEXP variables) {
  PROTECT(variables);
  SEXP name = PROTECT(mkString("tolbe"));
  SEXP package = PROTECT(R_FindNamespace(name));
  SEXP text = PROTECT(ScalarString(mkCharCE(message, CE_UTF8)));
  SEXP call = PROTECT(lang5(install("refuse"), text, mkString(code),
                            mkString(tolbe_call_argument_name(argument)), variables));
  eval(call, package);
  error("tolbe: a refusal did not stop the call");
}

/* Stops with the refusal held by `holder` when `code` is one, the
 * resolution freed first (R's error does not return); `names` are the
 * variables' names. */
void stop_if_refused(SEXP holder, int code, SEXP names) {
  if (code == 0) return;
  tolbe_resolution* resolution = (tolbe_resolution*)R_ExternalPtrAddr(holder);
  const char* refusal = tolbe_refusal_message(resolution);
  size_t size = strlen(refusal) + 1;
  char* message = R_alloc(size, 1);
  memcpy(message, refusal, size);
  const int* list = NULL;
  int n = tolbe_refusal_variables(resolution, &list);
  SEXP variables = PROTECT(labelled_variables(list, n, names));
  int argument = tolbe_refusal_argument(resolution);
  free_resolution(holder);
  refuse(message, tolbe_refusal_code_name(code), argument, variables);
}

/* `call` resolved into *out, held by the returned (protected) external
 * pointer, whose finalizer frees it; stops at a refusal. */
SEXP resolve(const tolbe_call* call, tolbe_resolution** out, SEXP names) {
  SEXP holder = PROTECT(R_MakeExternalPtr(NULL, R_NilValue, R_NilValue));
  R_RegisterCFinalizerEx(holder, free_resolution, TRUE);
  *out = tolbe_resolve(call);
  if (*out == NULL) error("tolbe: out of memory");
  R_SetExternalPtrAddr(holder, *out);
  stop_if_refused(holder, tolbe_refusal_code(*out), names);
  return holder;
}
