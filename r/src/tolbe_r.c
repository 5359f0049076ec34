/* The R interface: one .Call entry, C_lawley, over the library's C API.
 *
 * It takes lawley()'s arguments as the user gave them and, in one pass,
 * resolves and checks every one (the matrices, the selection by names or
 * numbers, reliabilities and means by name), corrects, and builds the
 * object. The checks of the input itself (asymmetry, triangles, unit
 * diagonals, implausible variances, ...) are the library's findings, worded
 * by tolbe_finding_message with R's variable names; this file checks only
 * what R's arguments add (types, sizes, names, NA) and words the library's
 * refusals.
 *
 * It returns the object when there is nothing to say, and otherwise a list
 * of what to say (errors, warnings, notes) with the object, which lawley()
 * in R raises as stop(), warning() and message(). Argument errors stop
 * here, at once. */
#include <R.h>
#include <R_ext/Rdynload.h>
#include <Rinternals.h>
#include <limits.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolbe/tolbe.h"

/* ---------------------------------------------------------------------
 * Workspace kept between calls and grown when a problem needs more: R runs
 * one call at a time, and allocating it anew made each call pay the
 * garbage collector more than the correction itself. */
static double* work_doubles = NULL;
static size_t work_doubles_size = 0;
static int* work_ints = NULL;
static size_t work_ints_size = 0;

static void reserve_workspace(size_t doubles, size_t ints) {
  if (doubles > SIZE_MAX / sizeof(double) - 1 || ints > SIZE_MAX / sizeof(int) - 1) {
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

/* ---------------------------------------------------------------------
 * Text: messages built in memory that R frees when the call returns (or
 * stops). */
typedef struct {
  char* text;
  size_t length;
  size_t capacity;
} Text;

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

static void put(Text* t, const char* s) {
  put_n(t, s, strlen(s));
}

static void putf(Text* t, const char* format, ...) {
  char piece[256];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n < 0) return;
  put_n(t, piece, (size_t)n < sizeof piece ? (size_t)n : sizeof piece - 1);
}

static const char* text_of(const Text* t) {
  return t->text != NULL ? t->text : "";
}

/* Stops with `message`, as stop(message, call. = FALSE) does. */
static void NORET fail_text(const Text* t) {
  errorcall(R_NilValue, "%s", text_of(t));
}

static void NORET fail(const char* format, ...) {
  char message[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof message, format, args);
  va_end(args);
  errorcall(R_NilValue, "%s", message);
}

/* ---------------------------------------------------------------------
 * Variable names. */

/* The variable names of a matrix: its row names, else its column names. */
static SEXP variable_names(SEXP x) {
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (isNull(dimnames)) return R_NilValue;
  SEXP rows = VECTOR_ELT(dimnames, 0);
  return isNull(rows) ? VECTOR_ELT(dimnames, 1) : rows;
}

/* The name of variable v (from 0) in `names`, or NULL when there is none. */
static const char* name_of(SEXP names, int v) {
  if (isNull(names) || v < 0 || v >= LENGTH(names)) return NULL;
  SEXP name = STRING_ELT(names, v);
  if (name == NA_STRING || CHAR(name)[0] == '\0') return NULL;
  return translateChar(name);
}

/* Variable v by name, else as "variable N" with N from 1: the library's
 * way. */
static void put_variable(Text* t, SEXP names, int v) {
  const char* name = name_of(names, v);
  if (name != NULL) {
    put(t, name);
  } else {
    putf(t, "variable %d", v + 1);
  }
}

/* The variables `list` (n of them, from 0), separated by commas. */
static void put_variables(Text* t, SEXP names, const int* list, int n) {
  for (int k = 0; k < n; ++k) {
    if (k > 0) put(t, ", ");
    put_variable(t, names, list[k]);
  }
}

/* The strings of `x` at `list` (n of them), separated by commas. */
static void put_strings(Text* t, SEXP x, const int* list, int n) {
  for (int k = 0; k < n; ++k) {
    if (k > 0) put(t, ", ");
    SEXP s = STRING_ELT(x, list[k]);
    put(t, s == NA_STRING ? "NA" : translateChar(s));
  }
}

/* The index of `name` in `names`, or -1. Equal strings are mostly one and
 * the same CHARSXP, so pointers are compared first. */
static int find_name(SEXP names, SEXP name) {
  if (isNull(names) || name == NA_STRING) return -1;
  int n = LENGTH(names);
  for (int i = 0; i < n; ++i) {
    if (STRING_ELT(names, i) == name) return i;
  }
  const char* wanted = translateCharUTF8(name);
  for (int i = 0; i < n; ++i) {
    SEXP candidate = STRING_ELT(names, i);
    if (candidate != NA_STRING && strcmp(translateCharUTF8(candidate), wanted) == 0) return i;
  }
  return -1;
}

/* Whether element k of `x` repeats an earlier one. */
static int repeats_earlier(SEXP x, int k) {
  SEXP name = STRING_ELT(x, k);
  for (int i = 0; i < k; ++i) {
    SEXP earlier = STRING_ELT(x, i);
    if (earlier == name || (earlier != NA_STRING && name != NA_STRING &&
                            strcmp(translateCharUTF8(earlier), translateCharUTF8(name)) == 0)) {
      return 1;
    }
  }
  return 0;
}

/* An index list of n ints, freed when the call returns. */
static int* index_list(int n) {
  return (int*)R_alloc(n > 0 ? (size_t)n : 1, sizeof(int));
}

/* ---------------------------------------------------------------------
 * The matrices. */

/* `x` as a square matrix of doubles, or a clean error naming `what`. */
static SEXP square_matrix(SEXP x, const char* what) {
  int protected = 0;
  if (inherits(x, "data.frame")) {
    SEXP call = PROTECT(lang2(install("as.matrix"), x));
    x = PROTECT(eval(call, R_BaseEnv));
    protected = 2;
  }
  SEXP dim = getAttrib(x, R_DimSymbol);
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || TYPEOF(dim) != INTSXP ||
      LENGTH(dim) != 2) {
    fail("'%s' must be a numeric matrix (or a data frame of numbers)", what);
  }
  if (INTEGER(dim)[0] != INTEGER(dim)[1]) {
    fail("'%s' must be square, not %d x %d", what, INTEGER(dim)[0], INTEGER(dim)[1]);
  }
  if (TYPEOF(x) != REALSXP) x = coerceVector(x, REALSXP);
  UNPROTECT(protected);
  return x;
}

/* The n x n `a` with the triangle `side` ('l' lower, 'u' upper) copied over
 * the other: a fresh matrix. */
static SEXP mirrored(SEXP a, int n, char side) {
  SEXP m = PROTECT(duplicate(a));
  double* x = REAL(m);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      size_t upper = (size_t)i + (size_t)j * (size_t)n;
      size_t lower = (size_t)j + (size_t)i * (size_t)n;
      if (side == 'l') {
        x[upper] = x[lower];
      } else {
        x[lower] = x[upper];
      }
    }
  }
  UNPROTECT(1);
  return m;
}

/* Whether the n x n `a` could be a triangle entered alone: one side of the
 * diagonal all 0 or NaN. Only then, without diagnostics, are the library's
 * findings asked for, so that its errors stop such a matrix all the same;
 * whether it is one is the library's to say. */
static int may_be_triangle(int n, const double* a) {
  if (n < 2) return 0;
  int upper_filled = 0, lower_filled = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double upper = a[(size_t)i + (size_t)j * (size_t)n];
      double lower = a[(size_t)j + (size_t)i * (size_t)n];
      if (upper != 0.0 && !isnan(upper)) upper_filled = 1;
      if (lower != 0.0 && !isnan(lower)) lower_filled = 1;
      if (upper_filled && lower_filled) return 0;
    }
  }
  return 1;
}

/* ---------------------------------------------------------------------
 * The problem as resolved from R's arguments. */
typedef struct {
  int q, p;
  SEXP restricted;   /* q x q doubles */
  SEXP unrestricted; /* p x p doubles */
  SEXP names;        /* the variable names of `restricted`, or NULL */
  int* selection;    /* p, from 0, in the order of `unrestricted` */
  int* position;     /* q: each variable's place in the order the correction takes */
  int n_others;
  int* others;         /* q - p: the other variables, in index order */
  double* reliability; /* q - p, or NULL for none */
  int* defaulted;      /* the others given no reliability by name (taken as 1) */
  int n_defaulted;
  double* restricted_means;   /* q, or NULL */
  double* unrestricted_means; /* p, or NULL */
} Problem;

static const char* selection_hint =
    "give 'selection', the names or numbers of the selection variables in 'restricted' in the "
    "order of 'unrestricted'";

/* The position of each selection variable in pr->selection, -1 for the
 * others; stops when a variable is selected twice. */
static void set_positions(Problem* pr) {
  for (int v = 0; v < pr->q; ++v) pr->position[v] = -1;
  for (int k = 0; k < pr->p; ++k) {
    int v = pr->selection[k];
    if (pr->position[v] >= 0) {
      Text t = {0};
      put(&t, "'selection' repeats a variable: ");
      put_variable(&t, pr->names, v);
      fail_text(&t);
    }
    pr->position[v] = k;
  }
}

/* Fills pr->selection (from 0) from `selection` as the user gave it, and
 * the positions of the selection variables (-1 for the others). */
static void resolve_selection(SEXP selection, Problem* pr) {
  int q = pr->q;
  int p = pr->p;
  SEXP names = pr->names;
  if (isNull(selection)) {
    /* A named 'unrestricted' says which variables it holds; an unnamed one
     * holds the first p. */
    SEXP given = variable_names(pr->unrestricted);
    if (isNull(given)) {
      for (int v = 0; v < q; ++v) pr->position[v] = v < p ? v : -1;
      for (int k = 0; k < p; ++k) pr->selection[k] = k;
      return;
    }
    Text t = {0};
    int* all = index_list(p);
    for (int k = 0; k < p; ++k) all[k] = k;
    if (isNull(names)) {
      put(&t, "'restricted' has none of the names that 'unrestricted' gives (");
      put_strings(&t, given, all, p);
      putf(&t, "); %s", selection_hint);
      fail_text(&t);
    }
    int lacking = 0;
    for (int k = 0; k < p; ++k) {
      pr->selection[k] = find_name(names, STRING_ELT(given, k));
      if (pr->selection[k] < 0 && !repeats_earlier(given, k)) all[lacking++] = k;
    }
    if (lacking > 0) {
      put(&t, "'unrestricted' names variables that 'restricted' lacks: ");
      put_strings(&t, given, all, lacking);
      putf(&t, "; %s", selection_hint);
      fail_text(&t);
    }
    set_positions(pr);
    return;
  }
  R_xlen_t n = XLENGTH(selection);
  if (TYPEOF(selection) == STRSXP) {
    if (isNull(names)) fail("'selection' gives names, but 'restricted' has no dimnames");
    /* Found at once when there are as many as 'unrestricted' has rows. */
    int any_unknown = 0;
    for (R_xlen_t k = 0; k < n && !any_unknown; ++k) {
      int v = find_name(names, STRING_ELT(selection, k));
      any_unknown = v < 0;
      if (n == p) pr->selection[k] = v;
    }
    if (any_unknown) {
      int* unknown = index_list(n > INT_MAX ? INT_MAX : (int)n);
      int n_unknown = 0;
      for (R_xlen_t k = 0; k < n && k < INT_MAX; ++k) {
        if (find_name(names, STRING_ELT(selection, k)) < 0 && !repeats_earlier(selection, (int)k)) {
          unknown[n_unknown++] = (int)k;
        }
      }
      Text t = {0};
      put(&t, "'selection' names unknown variables: ");
      put_strings(&t, selection, unknown, n_unknown);
      fail_text(&t);
    }
  } else if (TYPEOF(selection) == REALSXP ||
             (TYPEOF(selection) == INTSXP && !isFactor(selection))) {
    for (R_xlen_t k = 0; k < n; ++k) {
      double value = TYPEOF(selection) == REALSXP
                         ? REAL(selection)[k]
                         : (INTEGER(selection)[k] == NA_INTEGER ? NAN : INTEGER(selection)[k]);
      if (!isfinite(value) || value != floor(value)) {
        fail("'selection' must be variable names or whole numbers");
      }
    }
  } else {
    fail("'selection' must be variable names or whole numbers");
  }
  if (n != p) {
    fail("'selection' names %lld variables, but 'unrestricted' is %d x %d", (long long)n, p, p);
  }
  for (int k = 0; k < p && TYPEOF(selection) != STRSXP; ++k) {
    double value = TYPEOF(selection) == REALSXP ? REAL(selection)[k] : INTEGER(selection)[k];
    if (value < 1 || value > q) fail("'selection' holds numbers outside 1..%d", q);
    pr->selection[k] = (int)value - 1;
  }
  set_positions(pr);
}

/* The other variables in index order, and every variable's position in the
 * order the correction takes (the selection, then the others). */
static void order_others(Problem* pr) {
  int next = pr->p;
  pr->n_others = 0;
  for (int v = 0; v < pr->q; ++v) {
    if (pr->position[v] >= 0) continue;
    pr->position[v] = next++;
    pr->others[pr->n_others++] = v;
  }
}

/* "the other variables: C1, C2, INT" (or "there are no other variables"). */
static void put_others(Text* t, const Problem* pr) {
  if (pr->n_others == 0) {
    put(t, "every variable is a selection variable, so there are none to give");
  } else {
    put(t, "reliabilities are for the other variables: ");
    put_variables(t, pr->names, pr->others, pr->n_others);
  }
}

/* Stops because value k (from 0) of `reliabilities` is not finite, naming
 * the variable it is for when it is known. */
static void NORET fail_not_finite_reliability(const Problem* pr, SEXP reliabilities, int k,
                                              int variable) {
  double value = TYPEOF(reliabilities) == REALSXP
                     ? REAL(reliabilities)[k]
                     : (INTEGER(reliabilities)[k] == NA_INTEGER ? NA_REAL : 0.0);
  const char* what = ISNA(value) ? "NA" : isnan(value) ? "NaN" : value > 0 ? "Inf" : "-Inf";
  Text t = {0};
  put(&t, "'reliabilities' must be finite numbers: ");
  if (variable >= 0) {
    put(&t, "the one for ");
    put_variable(&t, pr->names, variable);
  } else {
    putf(&t, "value %d", k + 1);
  }
  putf(&t, " is %s", what);
  fail_text(&t);
}

static double number_at(SEXP x, R_xlen_t k) {
  if (TYPEOF(x) == REALSXP) return REAL(x)[k];
  return INTEGER(x)[k] == NA_INTEGER ? NA_REAL : (double)INTEGER(x)[k];
}

/* Fills pr->reliability (q - p values in the order of the others) from
 * `reliabilities`: unnamed, one for each other variable in order; named,
 * by name for some or all of them, the rest taken as 1. */
static void resolve_reliabilities(SEXP reliabilities, Problem* pr) {
  pr->reliability = NULL;
  pr->n_defaulted = 0;
  if (isNull(reliabilities)) return;
  if ((TYPEOF(reliabilities) != REALSXP && TYPEOF(reliabilities) != INTSXP) ||
      isFactor(reliabilities) || XLENGTH(reliabilities) > INT_MAX) {
    fail("'reliabilities' must be finite numbers");
  }
  int n = LENGTH(reliabilities);
  int m = pr->n_others;
  double* out = pr->reliability;
  SEXP given = getAttrib(reliabilities, R_NamesSymbol);
  if (isNull(given)) {
    if (n != m) {
      Text t = {0};
      putf(&t, "'reliabilities' needs one value for each of the %d non-selection variables", m);
      if (m > 0) {
        put(&t, " (");
        put_variables(&t, pr->names, pr->others, m);
        put(&t, "), in that order, or values named by variable");
      }
      fail_text(&t);
    }
    out = (double*)R_alloc(m > 0 ? (size_t)m : 1, sizeof(double));
    for (int k = 0; k < m; ++k) {
      double value = number_at(reliabilities, k);
      if (!isfinite(value)) fail_not_finite_reliability(pr, reliabilities, k, pr->others[k]);
      out[k] = value;
    }
    pr->reliability = out;
    return;
  }
  if (isNull(pr->names)) {
    fail(
        "'reliabilities' are named, but 'restricted' has no dimnames to match the names to; give "
        "them unnamed, one for each non-selection variable in order");
  }
  for (int k = 0; k < n; ++k) {
    SEXP name = STRING_ELT(given, k);
    if (name == NA_STRING || CHAR(name)[0] == '\0') {
      fail("'reliabilities' names some values but not all");
    }
  }
  /* Names that are no variable, then names of selection variables. */
  int* wrong = index_list(n);
  int n_wrong = 0;
  for (int k = 0; k < n; ++k) {
    if (find_name(pr->names, STRING_ELT(given, k)) < 0 && !repeats_earlier(given, k)) {
      wrong[n_wrong++] = k;
    }
  }
  if (n_wrong > 0) {
    Text t = {0};
    put_strings(&t, given, wrong, n_wrong);
    put(&t, n_wrong == 1 ? " is not a variable of 'restricted'; "
                         : " are not variables of 'restricted'; ");
    put_others(&t, pr);
    fail_text(&t);
  }
  for (int k = 0; k < n; ++k) {
    int v = find_name(pr->names, STRING_ELT(given, k));
    if (pr->position[v] < pr->p && !repeats_earlier(given, k)) wrong[n_wrong++] = v;
  }
  if (n_wrong > 0) {
    Text t = {0};
    put_variables(&t, pr->names, wrong, n_wrong);
    put(&t, n_wrong == 1 ? " is a selection variable; " : " are selection variables; ");
    put_others(&t, pr);
    fail_text(&t);
  }
  for (int k = 0; k < n; ++k) {
    if (repeats_earlier(given, k)) {
      Text t = {0};
      put(&t, "'reliabilities' names ");
      put_strings(&t, given, &k, 1);
      put(&t, " more than once");
      fail_text(&t);
    }
  }
  out = (double*)R_alloc(m > 0 ? (size_t)m : 1, sizeof(double));
  for (int j = 0; j < m; ++j) out[j] = NAN;
  for (int k = 0; k < n; ++k) {
    int v = find_name(pr->names, STRING_ELT(given, k));
    double value = number_at(reliabilities, k);
    if (!isfinite(value)) fail_not_finite_reliability(pr, reliabilities, k, v);
    out[pr->position[v] - pr->p] = value;
  }
  pr->defaulted = index_list(m);
  for (int j = 0; j < m; ++j) {
    if (!isnan(out[j])) continue;
    out[j] = 1.0;
    pr->defaulted[pr->n_defaulted++] = pr->others[j];
  }
  pr->reliability = out;
}

/* The n values of `x` (restricted or unrestricted means) as doubles in the
 * order of `names`: by name when both have names, else as given. */
static double* resolve_means(SEXP x, int n, SEXP names, const char* what, const char* whose) {
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || XLENGTH(x) != n) {
    fail("'%s' must be %d finite numbers", what, n);
  }
  for (int k = 0; k < n; ++k) {
    if (!isfinite(number_at(x, k))) fail("'%s' must be %d finite numbers", what, n);
  }
  double* out = (double*)R_alloc(n > 0 ? (size_t)n : 1, sizeof(double));
  SEXP given = getAttrib(x, R_NamesSymbol);
  if (isNull(given) || isNull(names)) {
    for (int k = 0; k < n; ++k) out[k] = number_at(x, k);
    return out;
  }
  for (int k = 0; k < n; ++k) {
    SEXP name = STRING_ELT(given, k);
    if (name == NA_STRING || CHAR(name)[0] == '\0')
      fail("'%s' names some values but not all", what);
  }
  int* list = index_list(n);
  int count = 0;
  for (int k = 0; k < n; ++k) {
    if (find_name(names, STRING_ELT(given, k)) < 0 && !repeats_earlier(given, k)) list[count++] = k;
  }
  if (count > 0) {
    Text t = {0};
    putf(&t, "'%s' names variables that are not among %s: ", what, whose);
    put_strings(&t, given, list, count);
    fail_text(&t);
  }
  /* Each name given more than once, once. */
  for (int k = 0; k < n; ++k) {
    if (!repeats_earlier(given, k)) continue;
    int first = find_name(given, STRING_ELT(given, k));
    int listed = 0;
    for (int i = 0; i < count; ++i) listed |= find_name(given, STRING_ELT(given, list[i])) == first;
    if (!listed) list[count++] = k;
  }
  if (count > 0) {
    Text t = {0};
    putf(&t, "'%s' names a variable more than once: ", what);
    put_strings(&t, given, list, count);
    fail_text(&t);
  }
  for (int k = 0; k < n; ++k) {
    int at = find_name(given, STRING_ELT(names, k));
    if (at < 0) fail("'%s' names some values but not all", what);
    out[k] = number_at(x, at);
  }
  return out;
}

/* ---------------------------------------------------------------------
 * Names and class made once, at load, and kept from the collector. */
static SEXP fit_names, fit_class, diagnostics_names, pair_dimnames, no_places, frame_names,
    frame_class, no_findings, said_names;
/* Values most diagnostics hold, shared rather than made for every call. */
static SEXP integer_zero, integer_na, real_zero, no_place, no_reason;

enum {
  FIT_COV,
  FIT_COR,
  FIT_DISATTENUATED,
  FIT_MEANS,
  FIT_SELECTION,
  FIT_DIAGNOSTICS,
  FIT_FINDINGS,
  FIT_RESTRICTED,
  FIT_LENGTH
};
enum { DIAGNOSTICS_LENGTH = 18 };
enum { FRAME_CODE, FRAME_SEVERITY, FRAME_MESSAGE, FRAME_VARIABLES, FRAME_LENGTH };
/* What to say: the object (NULL after an error), then for each condition
 * its severity (0 note, 1 warning, 2 error), code, message and variables,
 * and the library's findings as a data frame. */
enum {
  SAID_FIT,
  SAID_SEVERITY,
  SAID_CODE,
  SAID_MESSAGE,
  SAID_VARIABLES,
  SAID_FINDINGS,
  SAID_LENGTH
};

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

/* An empty data frame of findings, or one of n rows to be filled. */
static SEXP findings_frame(int n) {
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
  static const char* fit[FIT_LENGTH] = {"cov",       "cor",         "disattenuated", "means",
                                        "selection", "diagnostics", "findings",      "restricted"};
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
  static const char* frame[FRAME_LENGTH] = {"code", "severity", "message", "variables"};
  static const char* said[SAID_LENGTH] = {"fit",     "severity",  "code",
                                          "message", "variables", "findings"};
  fit_names = kept(strings(FIT_LENGTH, fit));
  fit_class = kept(mkString("tolbe_lawley"));
  diagnostics_names = kept(strings(DIAGNOSTICS_LENGTH, diagnostics));
  pair_dimnames = kept(allocVector(VECSXP, 2));
  SET_VECTOR_ELT(pair_dimnames, 1, strings(2, pair_columns));
  no_places = kept(allocMatrix(INTSXP, 0, 2));
  setAttrib(no_places, R_DimNamesSymbol, pair_dimnames);
  frame_names = kept(strings(FRAME_LENGTH, frame));
  frame_class = kept(mkString("data.frame"));
  no_findings = kept(findings_frame(0));
  said_names = kept(strings(SAID_LENGTH, said));
  integer_zero = kept(ScalarInteger(0));
  integer_na = kept(ScalarInteger(NA_INTEGER));
  real_zero = kept(ScalarReal(0.0));
  no_place = kept(allocVector(INTSXP, 2));
  INTEGER(no_place)[0] = NA_INTEGER;
  INTEGER(no_place)[1] = NA_INTEGER;
  no_reason = kept(mkString(""));
}

/* ---------------------------------------------------------------------
 * The library's findings, worded with R's names. */

/* The stable codes (<tolbe/findings.h>) this file looks for. */
enum {
  CODE_RESTRICTED_LOWER_TRIANGLE = 1,
  CODE_RESTRICTED_UPPER_TRIANGLE = 2,
  CODE_UNRESTRICTED_LOWER_TRIANGLE = 3,
  CODE_UNRESTRICTED_UPPER_TRIANGLE = 4,
  CODE_UNREAD_NOT_FINITE = 21
};

/* The message of finding f, with the variables named by `names`. */
static SEXP finding_message(const tolbe_finding* f, SEXP names, int q) {
  const char** named = NULL;
  if (!isNull(names)) {
    named = (const char**)R_alloc(q > 0 ? (size_t)q : 1, sizeof(const char*));
    for (int v = 0; v < q; ++v) named[v] = NULL;
    for (int k = 0; k < 2; ++k) {
      int v = f->variables[k];
      if (v >= 0 && v < q) named[v] = name_of(names, v);
    }
  }
  char small[512];
  size_t length = tolbe_finding_message(f, named, named != NULL ? q : 0, small, sizeof small);
  if (length < sizeof small) return mkChar(small);
  char* large = R_alloc(length + 1, 1);
  tolbe_finding_message(f, named, named != NULL ? q : 0, large, length + 1);
  return mkChar(large);
}

/* The variables of finding f, from 1, named when `names` are known. */
static SEXP finding_variables(const tolbe_finding* f, SEXP names) {
  int n = (f->variables[0] >= 0) + (f->variables[1] >= 0);
  SEXP v = PROTECT(allocVector(INTSXP, n));
  int k = 0;
  for (int j = 0; j < 2; ++j) {
    if (f->variables[j] >= 0) INTEGER(v)[k++] = f->variables[j] + 1;
  }
  if (!isNull(names) && n > 0) {
    SEXP labels = PROTECT(allocVector(STRSXP, n));
    for (int j = 0; j < n; ++j) SET_STRING_ELT(labels, j, STRING_ELT(names, INTEGER(v)[j] - 1));
    setAttrib(v, R_NamesSymbol, labels);
    UNPROTECT(1);
  }
  UNPROTECT(1);
  return v;
}

/* The findings of `d` as a data frame (the shared empty one for none). */
static SEXP findings_of(const tolbe_diagnostics* d, SEXP names, int q) {
  int n = d->n_findings;
  if (n <= 0) return no_findings;
  SEXP frame = PROTECT(findings_frame(n));
  for (int k = 0; k < n; ++k) {
    const tolbe_finding* f = &d->findings[k];
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_CODE), k, mkChar(tolbe_finding_code_name(f->code)));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_SEVERITY), k, mkChar(tolbe_severity_name(f->severity)));
    SET_STRING_ELT(VECTOR_ELT(frame, FRAME_MESSAGE), k, finding_message(f, names, q));
    SET_VECTOR_ELT(VECTOR_ELT(frame, FRAME_VARIABLES), k, finding_variables(f, names));
  }
  UNPROTECT(1);
  return frame;
}

/* For the code of a triangle entered alone, the value of lawley()'s
 * argument that mirrors it: "lower" or "upper"; NULL for other codes. */
static const char* triangle_of_code(int code) {
  switch (code) {
    case CODE_RESTRICTED_LOWER_TRIANGLE:
    case CODE_UNRESTRICTED_LOWER_TRIANGLE:
      return "lower";
    case CODE_RESTRICTED_UPPER_TRIANGLE:
    case CODE_UNRESTRICTED_UPPER_TRIANGLE:
      return "upper";
  }
  return NULL;
}

/* What to say: the rows of `frame` whose severity is at least `least`,
 * preceded by a note made here when `note` is not NULL. Errors carry a hint
 * of lawley()'s own argument for a triangle. */
static SEXP said(SEXP fit, SEXP frame, const tolbe_diagnostics* d, int least, SEXP note) {
  int n_frame = LENGTH(VECTOR_ELT(frame, FRAME_CODE));
  int n = isNull(note) ? 0 : 1;
  for (int k = 0; k < n_frame; ++k) n += d->findings[k].severity >= least;
  SEXP out = PROTECT(allocVector(VECSXP, SAID_LENGTH));
  setAttrib(out, R_NamesSymbol, said_names);
  SET_VECTOR_ELT(out, SAID_FIT, fit);
  SEXP severity = allocVector(INTSXP, n);
  SET_VECTOR_ELT(out, SAID_SEVERITY, severity);
  SEXP code = allocVector(STRSXP, n);
  SET_VECTOR_ELT(out, SAID_CODE, code);
  SEXP message = allocVector(STRSXP, n);
  SET_VECTOR_ELT(out, SAID_MESSAGE, message);
  SEXP variables = allocVector(VECSXP, n);
  SET_VECTOR_ELT(out, SAID_VARIABLES, variables);
  SET_VECTOR_ELT(out, SAID_FINDINGS, frame);
  int at = 0;
  if (!isNull(note)) {
    INTEGER(severity)[at] = TOLBE_NOTE;
    SET_STRING_ELT(code, at, NA_STRING);
    SET_STRING_ELT(message, at, STRING_ELT(VECTOR_ELT(note, 0), 0));
    SET_VECTOR_ELT(variables, at, VECTOR_ELT(note, 1));
    ++at;
  }
  for (int k = 0; k < n_frame; ++k) {
    const tolbe_finding* f = &d->findings[k];
    if (f->severity < least) continue;
    INTEGER(severity)[at] = f->severity;
    SET_STRING_ELT(code, at, STRING_ELT(VECTOR_ELT(frame, FRAME_CODE), k));
    SEXP text = STRING_ELT(VECTOR_ELT(frame, FRAME_MESSAGE), k);
    const char* side = triangle_of_code(f->code);
    if (f->severity == TOLBE_ERROR && side != NULL) {
      Text t = {0};
      put(&t, translateChar(text));
      putf(&t, ", or give triangle = \"%s\" to mirror it", side);
      text = mkChar(text_of(&t));
    }
    SET_STRING_ELT(message, at, text);
    SET_VECTOR_ELT(variables, at, VECTOR_ELT(VECTOR_ELT(frame, FRAME_VARIABLES), k));
    ++at;
  }
  UNPROTECT(1);
  return out;
}

/* The errors of the findings of `d`, to stop with; NULL when there are
 * none. */
static SEXP errors_of(const tolbe_diagnostics* d, SEXP names, int q) {
  if (d->n_findings <= 0 || d->findings[0].severity != TOLBE_ERROR) return NULL;
  SEXP frame = PROTECT(findings_of(d, names, q));
  SEXP out = said(R_NilValue, frame, d, TOLBE_ERROR, R_NilValue);
  UNPROTECT(1);
  return out;
}

/* ---------------------------------------------------------------------
 * The correction. */

static int correct(const Problem* pr, const double* restricted, const double* unrestricted,
                   double* cov, double* cor, double* dis, tolbe_diagnostics* d) {
  size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(pr->q, pr->p, &n_work, &n_int_work);
  int ld = pr->q > 0 ? pr->q : 1;
  int n_reliabilities = pr->reliability != NULL ? pr->n_others : 0;
  return tolbe_lawley(pr->q, pr->p, restricted, ld, unrestricted, pr->p > 0 ? pr->p : 1,
                      pr->selection, n_reliabilities > 0 ? pr->reliability : NULL, n_reliabilities,
                      cov, ld, cor, ld, dis, ld, work_doubles, n_work, work_ints, n_int_work, d);
}

/* Whether the correction reads element (a, b) of the restricted matrix:
 * the upper triangle of the selection block in selection order, the
 * selection rows of the other columns and the whole block of the others. */
static int is_read(const Problem* pr, int a, int b) {
  return pr->position[a] <= pr->position[b] || pr->position[b] >= pr->p;
}

/* "[i, j]" for the places (i, j) of the n x n `a` that are not finite (and
 * read, when `only_read`), column by column, the first five of many. A row
 * or column is named by `names` at its variable (map[i] when `map` is given,
 * else i) when it has a name, else numbered from 1 within `a`. */
static void put_not_finite_places(Text* t, const Problem* pr, const double* a, int n, SEXP names,
                                  const int* map, int only_read) {
  int count = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (isfinite(a[(size_t)i + (size_t)j * (size_t)n])) continue;
      if (only_read && !is_read(pr, i, j)) continue;
      if (count < 5) {
        if (count > 0) put(t, ", ");
        const char* row_name = name_of(names, map != NULL ? map[i] : i);
        const char* column_name = name_of(names, map != NULL ? map[j] : j);
        put(t, "[");
        if (row_name != NULL) {
          put(t, row_name);
        } else {
          putf(t, "%d", i + 1);
        }
        put(t, ", ");
        if (column_name != NULL) {
          put(t, column_name);
        } else {
          putf(t, "%d", j + 1);
        }
        put(t, "]");
      }
      ++count;
    }
  }
  if (count > 5) putf(t, ", and %d more", count - 5);
}

/* Whether `a` (n x n) holds a value that is not finite, where the
 * correction reads it when `only_read`. */
static int has_not_finite(const Problem* pr, const double* a, int n, int only_read) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (!isfinite(a[(size_t)i + (size_t)j * (size_t)n]) && (!only_read || is_read(pr, i, j))) {
        return 1;
      }
    }
  }
  return 0;
}

/* A copy of the n x n `a` with NaN read as 0. */
static double* nan_as_zero(const double* a, int n) {
  size_t size = (size_t)n * (size_t)n;
  double* copy = (double*)R_alloc(size > 0 ? size : 1, sizeof(double));
  for (size_t k = 0; k < size; ++k) copy[k] = isnan(a[k]) ? 0.0 : a[k];
  return copy;
}

/* Words the library's refusal of an argument. NA where the correction
 * reads is most often the other side of a triangle entered alone: the
 * library counts NaN there as empty, so it is asked about the problem
 * with NaN read as 0, and a triangle it finds is what is said. Returns
 * the errors to stop with, or stops here. */
static SEXP refused(const Problem* pr, const tolbe_diagnostics* d) {
  const double* v = REAL(pr->restricted);
  const double* s = REAL(pr->unrestricted);
  int restricted_na = d->argument == TOLBE_ARGUMENT_RESTRICTED && has_not_finite(pr, v, pr->q, 1);
  int unrestricted_na =
      d->argument == TOLBE_ARGUMENT_UNRESTRICTED && has_not_finite(pr, s, pr->p, 0);
  if (restricted_na || unrestricted_na) {
    size_t size = (size_t)pr->q * (size_t)pr->q;
    double* cov = (double*)R_alloc(size > 0 ? size : 1, sizeof(double));
    tolbe_diagnostics probe;
    correct(pr, nan_as_zero(v, pr->q), nan_as_zero(s, pr->p), cov, NULL, NULL, &probe);
    SEXP errors = errors_of(&probe, pr->names, pr->q);
    if (errors != NULL) return errors;
    Text t = {0};
    if (restricted_na) {
      put(&t,
          "'restricted' holds NA or values that are not finite numbers where the correction "
          "reads it: ");
      put_not_finite_places(&t, pr, v, pr->q, pr->names, NULL, 1);
    } else {
      put(&t, "'unrestricted' holds NA or values that are not finite numbers: ");
      put_not_finite_places(&t, pr, s, pr->p, pr->names, pr->selection, 0);
    }
    fail_text(&t);
  }
  fail("invalid argument: %s", d->reason != NULL ? d->reason : "");
}

/* ---------------------------------------------------------------------
 * The object. */

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

/* The diagnostics as a named list, with `pairs` (the sign-change pairs) and
 * `unread` (the places of values that are not finite, all of them where the
 * correction does not read), k x 2 integer matrices. */
static SEXP diagnostics_list(const tolbe_diagnostics* d, SEXP pairs, SEXP unread) {
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
  UNPROTECT(1);
  return list;
}

/* The pairs (1-based) whose correlation changed sign, as a k x 2 integer
 * matrix sized by the count the listing itself gives; listed only when
 * the diagnostics `d` count some. */
static SEXP sign_change_pairs(const Problem* pr, const double* restricted,
                              const double* correlations, const tolbe_diagnostics* d) {
  if (d->sign_changes <= 0) return no_places;
  int q = pr->q;
  int ld = q > 0 ? q : 1;
  int count = tolbe_lawley_sign_changes(q, pr->p, restricted, ld, pr->selection, correlations, ld,
                                        NULL, NULL, 0);
  if (count <= 0) return no_places;
  SEXP pairs = PROTECT(allocMatrix(INTSXP, count, 2));
  setAttrib(pairs, R_DimNamesSymbol, pair_dimnames);
  int* rows = INTEGER(pairs);
  int* columns = rows + count;
  int listed = tolbe_lawley_sign_changes(q, pr->p, restricted, ld, pr->selection, correlations, ld,
                                         rows, columns, count);
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

/* The asymmetry of the q x q `a` as the library measures it, max
 * |a(i,j) - a(j,i)| / sqrt(|a(i,i) a(j,j)|) (the absolute difference where
 * a diagonal element is 0), over the pairs whose values are both finite:
 * where a value the correction does not read is not finite, the library's
 * own measure is not a number. The diagonal is read, so finite. */
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

/* A q x q result matrix with the dimnames `dimnames` (or none); with the
 * attributes of `like`, a matrix made so before, when it is not NULL. */
static SEXP result_matrix(int q, SEXP dimnames, SEXP like) {
  if (!isNull(like)) {
    SEXP m = PROTECT(allocVector(REALSXP, (R_xlen_t)q * q));
    SHALLOW_DUPLICATE_ATTRIB(m, like);
    UNPROTECT(1);
    return m;
  }
  SEXP m = PROTECT(allocMatrix(REALSXP, q, q));
  if (!isNull(dimnames)) setAttrib(m, R_DimNamesSymbol, dimnames);
  UNPROTECT(1);
  return m;
}

/* The note that the others given no reliability by name are taken as 1:
 * list(message, variables). */
static SEXP defaulted_note(const Problem* pr) {
  Text t = {0};
  put(&t, "'reliabilities' names no reliability for ");
  put_variables(&t, pr->names, pr->defaulted, pr->n_defaulted);
  put(&t, pr->n_defaulted == 1 ? "; it is taken as 1 (not corrected for attenuation)"
                               : "; they are taken as 1 (not corrected for attenuation)");
  SEXP note = PROTECT(allocVector(VECSXP, 2));
  SET_VECTOR_ELT(note, 0, mkString(text_of(&t)));
  SEXP variables = allocVector(INTSXP, pr->n_defaulted);
  SET_VECTOR_ELT(note, 1, variables);
  for (int k = 0; k < pr->n_defaulted; ++k) INTEGER(variables)[k] = pr->defaulted[k] + 1;
  if (!isNull(pr->names)) {
    SEXP labels = allocVector(STRSXP, pr->n_defaulted);
    setAttrib(variables, R_NamesSymbol, labels);
    for (int k = 0; k < pr->n_defaulted; ++k) {
      SET_STRING_ELT(labels, k, STRING_ELT(pr->names, pr->defaulted[k]));
    }
  }
  UNPROTECT(1);
  return note;
}

/* lawley(restricted, unrestricted, selection, reliabilities,
 * restricted_means, unrestricted_means, diagnostics, triangle), the
 * arguments as the user gave them. */
static SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                     SEXP restricted_means, SEXP unrestricted_means, SEXP diagnostics,
                     SEXP triangle) {
  if (TYPEOF(diagnostics) != LGLSXP || XLENGTH(diagnostics) != 1 ||
      LOGICAL(diagnostics)[0] == NA_LOGICAL) {
    fail("'diagnostics' must be TRUE or FALSE");
  }
  int diagnose = LOGICAL(diagnostics)[0];
  char side = 0;
  if (!isNull(triangle)) {
    const char* given =
        TYPEOF(triangle) == STRSXP && XLENGTH(triangle) == 1 && STRING_ELT(triangle, 0) != NA_STRING
            ? CHAR(STRING_ELT(triangle, 0))
            : "";
    if (strcmp(given, "lower") == 0) {
      side = 'l';
    } else if (strcmp(given, "upper") == 0) {
      side = 'u';
    } else {
      fail("'triangle' must be NULL (whole matrices), \"lower\" or \"upper\"");
    }
  }
  int protected = 0;
  Problem pr = {0};
  pr.restricted = PROTECT(square_matrix(restricted, "restricted"));
  pr.unrestricted = PROTECT(square_matrix(unrestricted, "unrestricted"));
  protected += 2;
  pr.q = nrows(pr.restricted);
  pr.p = nrows(pr.unrestricted);
  int q = pr.q;
  int p = pr.p;
  if (p > q) fail("'unrestricted' is %d x %d, but 'restricted' has only %d variables", p, p, q);
  pr.names = variable_names(pr.restricted);

  /* The library's workspace, then the selection (p), the positions (q)
   * and the others (q - p). */
  size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
  reserve_workspace(n_work, n_int_work + 2 * (size_t)q);
  pr.selection = work_ints + n_int_work;
  pr.position = pr.selection + p;
  pr.others = pr.position + q;
  resolve_selection(selection, &pr);
  order_others(&pr);
  resolve_reliabilities(reliabilities, &pr);
  int with_means = !isNull(restricted_means) || !isNull(unrestricted_means);
  if (with_means) {
    if (isNull(restricted_means) || isNull(unrestricted_means)) {
      fail("give both 'restricted_means' and 'unrestricted_means', or neither");
    }
    pr.restricted_means =
        resolve_means(restricted_means, q, pr.names, "restricted_means", "'restricted'");
    SEXP selected_names = variable_names(pr.unrestricted);
    if (!isNull(pr.names)) {
      selected_names = PROTECT(allocVector(STRSXP, p));
      ++protected;
      for (int k = 0; k < p; ++k) {
        SET_STRING_ELT(selected_names, k, STRING_ELT(pr.names, pr.selection[k]));
      }
    }
    pr.unrestricted_means = resolve_means(unrestricted_means, p, selected_names,
                                          "unrestricted_means", "the selection variables");
  }
  if (side != 0) {
    pr.restricted = PROTECT(mirrored(pr.restricted, q, side));
    pr.unrestricted = PROTECT(mirrored(pr.unrestricted, p, side));
    protected += 2;
  }

  /* The results, named as the matrix is. */
  SEXP dimnames = R_NilValue;
  if (!isNull(pr.names)) {
    dimnames = PROTECT(allocVector(VECSXP, 2));
    ++protected;
    SET_VECTOR_ELT(dimnames, 0, pr.names);
    SET_VECTOR_ELT(dimnames, 1, pr.names);
  }
  SEXP fit = PROTECT(allocVector(VECSXP, FIT_LENGTH));
  ++protected;
  SEXP first = result_matrix(q, dimnames, R_NilValue);
  SET_VECTOR_ELT(fit, FIT_COV, first);
  SET_VECTOR_ELT(fit, FIT_COR, result_matrix(q, dimnames, first));
  int with_reliabilities = pr.reliability != NULL;
  if (with_reliabilities) {
    SET_VECTOR_ELT(fit, FIT_DISATTENUATED, result_matrix(q, dimnames, first));
  }
  double* cov = REAL(VECTOR_ELT(fit, FIT_COV));
  double* cor = REAL(VECTOR_ELT(fit, FIT_COR));
  double* dis = with_reliabilities ? REAL(VECTOR_ELT(fit, FIT_DISATTENUATED)) : NULL;
  const double* v = REAL(pr.restricted);
  const double* s = REAL(pr.unrestricted);

  /* The findings are made on request only; without diagnostics they are
   * asked for when a matrix may be a triangle entered alone, an error that
   * must stop the call all the same. */
  int with_findings = diagnose || may_be_triangle(q, v) || may_be_triangle(p, s);
  tolbe_diagnostics d;
  int status = correct(&pr, v, s, cov, cor, dis, with_findings ? &d : NULL);
  if (status != TOLBE_OK && !with_findings) {
    /* Once more, to say what went wrong. */
    with_findings = 1;
    status = correct(&pr, v, s, cov, cor, dis, &d);
  }
  if (status == TOLBE_INVALID_ARGUMENT) {
    SEXP errors = refused(&pr, &d);
    UNPROTECT(protected);
    return errors;
  }
  if (with_findings) {
    SEXP errors = errors_of(&d, pr.names, q);
    if (errors != NULL) {
      UNPROTECT(protected);
      return errors;
    }
  }
  if (status == TOLBE_NOT_POSITIVE_DEFINITE) {
    fail(
        "the restricted var/cov block of the selection variables is not positive definite (its "
        "leading minor of order %d is not positive)",
        d.leading_minor);
  }
  if (with_reliabilities && pr.n_others == 0) {
    /* No variable beyond the selection ones: nothing to disattenuate. */
    memcpy(dis, cor, (size_t)q * (size_t)q * sizeof(double));
  }
  if (with_means) {
    SEXP means = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_MEANS, means);
    if (!isNull(pr.names)) setAttrib(means, R_NamesSymbol, pr.names);
    tolbe_lawley_means(q, p, v, q > 0 ? q : 1, s, p > 0 ? p : 1, pr.selection, pr.restricted_means,
                       pr.unrestricted_means, REAL(means), work_doubles, n_work, work_ints,
                       n_int_work, NULL);
  }
  SEXP chosen = allocVector(INTSXP, p);
  SET_VECTOR_ELT(fit, FIT_SELECTION, chosen);
  for (int k = 0; k < p; ++k) INTEGER(chosen)[k] = pr.selection[k] + 1;
  SET_VECTOR_ELT(fit, FIT_RESTRICTED, pr.restricted);
  SEXP findings = R_NilValue;
  if (diagnose) {
    SEXP pairs = PROTECT(sign_change_pairs(&pr, v, cor, &d));
    /* After a correction every value it reads is finite; the others are
     * looked for when the library found one. */
    int unread_found = 0;
    for (int k = 0; k < d.n_findings; ++k)
      unread_found |= d.findings[k].code == CODE_UNREAD_NOT_FINITE;
    SEXP unread = PROTECT(unread_found ? not_finite_places(q, v) : no_places);
    if (nrows(unread) > 0 && !isfinite(d.restricted_asymmetry)) {
      d.restricted_asymmetry = finite_asymmetry(q, v);
    }
    SET_VECTOR_ELT(fit, FIT_DIAGNOSTICS, diagnostics_list(&d, pairs, unread));
    findings = findings_of(&d, pr.names, q);
    SET_VECTOR_ELT(fit, FIT_FINDINGS, findings);
    UNPROTECT(2);
  }
  setAttrib(fit, R_NamesSymbol, fit_names);
  classgets(fit, fit_class);
  SEXP out = fit;
  if (diagnose && (d.n_findings > 0 || pr.n_defaulted > 0)) {
    SEXP note = pr.n_defaulted > 0 ? PROTECT(defaulted_note(&pr)) : R_NilValue;
    out = said(fit, findings, &d, TOLBE_NOTE, note);
    if (pr.n_defaulted > 0) UNPROTECT(1);
  }
  UNPROTECT(protected);
  return out;
}

static const R_CallMethodDef call_methods[] = {{"C_lawley", (DL_FUNC)&C_lawley, 8},
                                               {NULL, NULL, 0}};

void R_init_tolbe(DllInfo* info) {
  make_names();
  R_registerRoutines(info, NULL, call_methods, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
