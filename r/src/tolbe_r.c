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

/* Whether two names are the same text. R keeps one CHARSXP per text and
 * encoding, so strings of one encoding are the same name only when they
 * are the same pointer; across encodings the texts are compared. */
static int same_name(SEXP a, SEXP b) {
  if (a == b) return 1;
  if (a == NA_STRING || b == NA_STRING || getCharCE(a) == getCharCE(b)) return 0;
  return strcmp(translateCharUTF8(a), translateCharUTF8(b)) == 0;
}

static int is_unnamed(SEXP name) {
  return name == NA_STRING || CHAR(name)[0] == '\0';
}

/* Stops when `names` (of the argument `what`) give one name to two of its
 * columns (or rows), as the command line's readers refuse it: which of
 * the two a name means would be a guess. Unnamed ones are not compared. */
static void check_distinct(SEXP names, const char* what, const char* unit) {
  if (TYPEOF(names) != STRSXP) return;
  int n = LENGTH(names);
  for (int k = 1; k < n; ++k) {
    SEXP name = STRING_ELT(names, k);
    if (is_unnamed(name)) continue;
    for (int i = 0; i < k; ++i) {
      if (same_name(STRING_ELT(names, i), name)) {
        fail("%s: the name \"%s\" is given to %s %d and %d", what, translateChar(name), unit, i + 1,
             k + 1);
      }
    }
  }
}

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
        "%s: row %d is named \"%s\", but column %d \"%s\"; the rows and the columns are the same "
        "variables, in the same order",
        what, k + 1, row == NA_STRING ? "NA" : translateChar(row), k + 1,
        column == NA_STRING ? "NA" : translateChar(column));
  }
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
  if (TYPEOF(dim) == INTSXP && LENGTH(dim) == 2 && INTEGER(dim)[0] == 0 && INTEGER(dim)[1] == 0) {
    /* An empty selection written out and read back (or data.frame()), of
     * whatever type: corrected by it, the restricted matrix would come back
     * unchanged as if corrected. */
    fail("'%s' has no variables (it is 0 x 0); %s", what,
         strcmp(what, "restricted") == 0
             ? "give the var/cov matrix of all the variables in the restricted sample"
             : "give the var/cov matrix of the selection variables, at least one");
  }
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || TYPEOF(dim) != INTSXP ||
      LENGTH(dim) != 2) {
    fail("'%s' must be a numeric matrix (or a data frame of numbers)", what);
  }
  int rows = INTEGER(dim)[0];
  int columns = INTEGER(dim)[1];
  if (rows > columns) {
    /* More rows than columns: most likely raw scores, one row per person. */
    fail("'%s' must be square, not %d x %d; raw scores, one row per person, are given as %s", what,
         rows, columns,
         strcmp(what, "restricted") == 0 ? "data = (not restricted =)"
                                         : "pool = (not unrestricted =)");
  }
  if (rows != columns) fail("'%s' must be square, not %d x %d", what, rows, columns);
  char argument[32];
  snprintf(argument, sizeof argument, "'%s'", what);
  check_dimnames(x, argument);
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  if (!isNull(dimnames)) {
    check_distinct(variable_names(x), argument,
                   isNull(VECTOR_ELT(dimnames, 1)) ? "rows" : "columns");
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
  int* given;           /* q - p: whether each other's reliability was given */
  int* from_restricted; /* q - p: whether it was measured in the restricted sample */
  double* as_given;     /* q - p: the reliabilities as given, before any conversion */
  int* criteria;        /* the criterion variables, from 0 */
  int n_criteria;
  double* restricted_means;   /* q, or NULL */
  double* unrestricted_means; /* p, or NULL */
  /* The arguments the matrices came from, as messages name them: the
   * matrices themselves, or raw scores (data, pool) whose variables are
   * their columns. */
  const char* v_arg;   /* "'restricted'" or "'data'" */
  const char* v_names; /* "dimnames" or "column names" */
  const char* s_arg;   /* "'unrestricted'" or "'pool'" */
  int s_from_pool;
  char side;   /* the triangle to mirror: 'l', 'u', or 0 for none */
  int* s_rows; /* p: the row of 'unrestricted' of each selection variable, when not k; or NULL */
} Problem;

static void put_selection_hint(Text* t, const Problem* pr) {
  putf(t, "give 'selection', the names or numbers of the selection variables in %s", pr->v_arg);
  if (!pr->s_from_pool) putf(t, " in the order of %s", pr->s_arg);
}

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

/* Whether one side of the diagonal of the n x n `a` is empty (0 or NaN)
 * and the other is not: a triangle entered alone. */
static int one_sided(int n, const double* a) {
  int upper = 0, lower = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double above = a[(size_t)i + (size_t)j * (size_t)n];
      double below = a[(size_t)j + (size_t)i * (size_t)n];
      if (above != 0.0 && !isnan(above)) upper = 1;
      if (below != 0.0 && !isnan(below)) lower = 1;
    }
  }
  return upper != lower;
}

/* A named 'unrestricted' beside a 'selection' given: its rows are found by
 * name, as the command line's --select finds them, so that the two may
 * list the variables in different orders; names that are not those of the
 * selection stop. Its rows are then taken in the order of 'selection'
 * (pr->s_rows), as the command line takes them; a triangle entered alone
 * keeps its own order, so that what is said of it and the side that
 * 'triangle' mirrors are those of the matrix as entered. */
static void match_unrestricted(Problem* pr) {
  SEXP given = variable_names(pr->unrestricted);
  if (isNull(given) || isNull(pr->names)) return;
  int p = pr->p;
  int* held = index_list(p);
  for (int k = 0; k < p; ++k) held[k] = find_name(pr->names, STRING_ELT(given, k));
  int* rows = index_list(p);
  int same = 1, in_order = 1;
  for (int k = 0; k < p; ++k) {
    rows[k] = -1;
    for (int r = 0; r < p; ++r) {
      if (held[r] == pr->selection[k]) rows[k] = r;
    }
    same = same && rows[k] >= 0;
    in_order = in_order && rows[k] == k;
  }
  if (!same) {
    /* Its names as given: some may be no variable of the restricted
     * sample's. */
    int* all = index_list(p);
    for (int k = 0; k < p; ++k) all[k] = k;
    Text t = {0};
    put(&t, "the unrestricted matrix is that of ");
    put_strings(&t, given, all, p);
    put(&t, ", but 'selection' names ");
    put_variables(&t, pr->names, pr->selection, p);
    fail_text(&t);
  }
  if (in_order) return;
  if (pr->side == 0 && one_sided(p, REAL(pr->unrestricted))) {
    for (int k = 0; k < p; ++k) pr->selection[k] = held[k];
    set_positions(pr);
    return;
  }
  pr->s_rows = rows;
}

/* The p x p `s` with its rows and columns taken in the order `rows`,
 * named by the selection variables. */
static SEXP reordered_unrestricted(SEXP s, const Problem* pr) {
  int p = pr->p;
  SEXP out = PROTECT(allocMatrix(REALSXP, p, p));
  const double* from = REAL(s);
  double* to = REAL(out);
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) {
      to[(size_t)i + (size_t)j * (size_t)p] =
          from[(size_t)pr->s_rows[i] + (size_t)pr->s_rows[j] * (size_t)p];
    }
  }
  SEXP names = PROTECT(allocVector(STRSXP, p));
  for (int k = 0; k < p; ++k) SET_STRING_ELT(names, k, STRING_ELT(pr->names, pr->selection[k]));
  SEXP dimnames = PROTECT(allocVector(VECSXP, 2));
  SET_VECTOR_ELT(dimnames, 0, names);
  SET_VECTOR_ELT(dimnames, 1, names);
  setAttrib(out, R_DimNamesSymbol, dimnames);
  UNPROTECT(3);
  return out;
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
      putf(&t, "%s has none of the names that %s gives (", pr->v_arg, pr->s_arg);
      put_strings(&t, given, all, p);
      put(&t, "); ");
      put_selection_hint(&t, pr);
      fail_text(&t);
    }
    int lacking = 0;
    for (int k = 0; k < p; ++k) {
      pr->selection[k] = find_name(names, STRING_ELT(given, k));
      if (pr->selection[k] < 0 && !repeats_earlier(given, k)) all[lacking++] = k;
    }
    if (lacking > 0) {
      putf(&t, "%s names variables that %s lacks: ", pr->s_arg, pr->v_arg);
      put_strings(&t, given, all, lacking);
      put(&t, "; ");
      put_selection_hint(&t, pr);
      fail_text(&t);
    }
    set_positions(pr);
    return;
  }
  R_xlen_t n = XLENGTH(selection);
  if (TYPEOF(selection) == STRSXP) {
    if (isNull(names)) fail("'selection' gives names, but %s has no %s", pr->v_arg, pr->v_names);
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
    if (pr->s_from_pool) {
      fail("'selection' names %lld variables, but 'pool' has %d columns", (long long)n, p);
    }
    fail("'selection' names %lld variables, but 'unrestricted' is %d x %d", (long long)n, p, p);
  }
  for (int k = 0; k < p && TYPEOF(selection) != STRSXP; ++k) {
    double value = TYPEOF(selection) == REALSXP ? REAL(selection)[k] : INTEGER(selection)[k];
    if (value < 1 || value > q) fail("'selection' holds numbers outside 1..%d", q);
    pr->selection[k] = (int)value - 1;
  }
  set_positions(pr);
  if (!pr->s_from_pool) match_unrestricted(pr);
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
        "'reliabilities' are named, but %s has no %s to match the names to; give them unnamed, "
        "one for each non-selection variable in order",
        pr->v_arg, pr->v_names);
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
    putf(&t, n_wrong == 1 ? " is not a variable of %s; " : " are not variables of %s; ", pr->v_arg);
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

/* The variables `x` names (names or whole numbers from 1) as indices from
 * 0 into `out` (room for XLENGTH(x) of them); returns how many. `what` is
 * the argument as messages name it, `whose` the matrix whose variables
 * they are. Unknown variables stop; repeats are left to the caller. */
static int variables_of(SEXP x, const char* what, SEXP names, const char* whose,
                        const char* whose_names, int q, int* out) {
  if (XLENGTH(x) > INT_MAX) fail("%s must be variable names or whole numbers", what);
  int n = LENGTH(x);
  if (TYPEOF(x) == STRSXP) {
    if (isNull(names)) fail("%s gives names, but %s has no %s", what, whose, whose_names);
    int* unknown = index_list(n);
    int n_unknown = 0;
    for (int k = 0; k < n; ++k) {
      out[k] = find_name(names, STRING_ELT(x, k));
      if (out[k] < 0 && !repeats_earlier(x, k)) unknown[n_unknown++] = k;
    }
    if (n_unknown > 0) {
      Text t = {0};
      putf(&t, "%s names %s: ", what, n_unknown == 1 ? "an unknown variable" : "unknown variables");
      put_strings(&t, x, unknown, n_unknown);
      fail_text(&t);
    }
    return n;
  }
  if (TYPEOF(x) != REALSXP && (TYPEOF(x) != INTSXP || isFactor(x))) {
    fail("%s must be variable names or whole numbers", what);
  }
  for (int k = 0; k < n; ++k) {
    double value = number_at(x, k);
    if (!isfinite(value) || value != floor(value)) {
      fail("%s must be variable names or whole numbers", what);
    }
    if (value < 1 || value > q) fail("%s holds numbers outside 1..%d", what, q);
    out[k] = (int)value - 1;
  }
  return n;
}

/* The first variable that `list` (n of them) repeats, or -1. */
static int repeated_variable(const int* list, int n) {
  for (int k = 1; k < n; ++k) {
    for (int i = 0; i < k; ++i) {
      if (list[i] == list[k]) return list[k];
    }
  }
  return -1;
}

/* Where each given reliability was measured, from `sample` ("unrestricted",
 * the default, or "restricted"): one value for all, one for each value of
 * `reliabilities` in order, or values named by variable (the rest
 * unrestricted). Also marks which others were given a reliability and
 * keeps the values as given. */
static void resolve_reliability_sample(SEXP sample, SEXP reliabilities, Problem* pr) {
  int m = pr->n_others;
  if (pr->reliability == NULL) {
    if (!isNull(sample)) {
      fail(
          "'reliability_sample' says where the 'reliabilities' were measured, and none are "
          "given");
    }
    return;
  }
  pr->given = index_list(m);
  pr->from_restricted = index_list(m);
  pr->as_given = (double*)R_alloc(m > 0 ? (size_t)m : 1, sizeof(double));
  for (int j = 0; j < m; ++j) {
    pr->given[j] = 1;
    pr->from_restricted[j] = 0;
    pr->as_given[j] = pr->reliability[j];
  }
  for (int k = 0; k < pr->n_defaulted; ++k) pr->given[pr->position[pr->defaulted[k]] - pr->p] = 0;
  if (isNull(sample)) return;
  static const char* places[] = {"unrestricted", "restricted"};
  int n = LENGTH(reliabilities);
  SEXP given_names = getAttrib(reliabilities, R_NamesSymbol);
  SEXP sample_names = getAttrib(sample, R_NamesSymbol);
  R_xlen_t length = XLENGTH(sample);
  if (TYPEOF(sample) != STRSXP || (isNull(sample_names) && length != 1 && length != n)) {
    fail(
        "'reliability_sample' must be \"unrestricted\" or \"restricted\": one value for all the "
        "reliabilities, one for each of the %d in order, or values named by variable",
        n);
  }
  for (R_xlen_t k = 0; k < length; ++k) {
    SEXP value = STRING_ELT(sample, k);
    int place = -1;
    for (int c = 0; c < 2 && value != NA_STRING; ++c) {
      if (strcmp(CHAR(value), places[c]) == 0) place = c;
    }
    if (place < 0) {
      fail(
          "'reliability_sample' must be \"unrestricted\" (the reliability was measured in the "
          "unrestricted population) or \"restricted\" (in the restricted sample)");
    }
    int slot;
    if (!isNull(sample_names)) {
      int v = find_name(pr->names, STRING_ELT(sample_names, k));
      slot = v < 0 ? -1 : pr->position[v] - pr->p;
      if (slot < 0 || !pr->given[slot]) {
        fail("'reliability_sample' names %s, which has no reliability in 'reliabilities'",
             translateChar(STRING_ELT(sample_names, k)));
      }
      if (repeats_earlier(sample_names, (int)k)) {
        fail("'reliability_sample' names %s more than once",
             translateChar(STRING_ELT(sample_names, k)));
      }
      pr->from_restricted[slot] = place;
      continue;
    }
    for (int i = 0; i < n; ++i) {
      if (length != 1 && i != k) continue;
      slot = isNull(given_names)
                 ? i
                 : pr->position[find_name(pr->names, STRING_ELT(given_names, i))] - pr->p;
      pr->from_restricted[slot] = place;
    }
  }
}

/* The criteria from `criteria` as the user gave them; by default the other
 * variables given a reliability, in index order. */
static void resolve_criteria(SEXP criteria, Problem* pr) {
  pr->n_criteria = 0;
  if (isNull(criteria)) {
    pr->criteria = index_list(pr->n_others);
    for (int j = 0; j < pr->n_others && pr->given != NULL; ++j) {
      if (pr->given[j]) pr->criteria[pr->n_criteria++] = pr->others[j];
    }
    return;
  }
  pr->criteria = index_list(XLENGTH(criteria) > INT_MAX ? 1 : (int)XLENGTH(criteria));
  int n =
      variables_of(criteria, "'criteria'", pr->names, pr->v_arg, pr->v_names, pr->q, pr->criteria);
  int* selected = index_list(n);
  int n_selected = 0;
  for (int k = 0; k < n; ++k) {
    if (pr->position[pr->criteria[k]] < pr->p) selected[n_selected++] = pr->criteria[k];
  }
  if (n_selected > 0) {
    Text t = {0};
    put(&t, "'criteria' names ");
    put(&t, n_selected == 1 ? "the selection variable " : "the selection variables ");
    put_variables(&t, pr->names, selected, n_selected);
    put(&t, "; the criteria are among the other variables");
    fail_text(&t);
  }
  int twice = repeated_variable(pr->criteria, n);
  if (twice >= 0) {
    Text t = {0};
    put(&t, "'criteria' names ");
    put_variable(&t, pr->names, twice);
    put(&t, " more than once");
    fail_text(&t);
  }
  pr->n_criteria = n;
}

/* Each variable's reliability as the operational correlations divide by
 * it (q values): a criterion's own, 1 for every other variable. */
static double* criterion_reliabilities(const Problem* pr) {
  double* a = (double*)R_alloc(pr->q > 0 ? (size_t)pr->q : 1, sizeof(double));
  for (int v = 0; v < pr->q; ++v) a[v] = 1.0;
  if (pr->reliability == NULL) return a;
  for (int k = 0; k < pr->n_criteria; ++k) {
    int v = pr->criteria[k];
    a[v] = pr->reliability[pr->position[v] - pr->p];
  }
  return a;
}

/* Reliabilities measured in the restricted sample, made the unrestricted
 * population's by the corrected variances `cov`: the error variance is
 * taken to be the same in both, so r_u = 1 - (1 - r_r) v_yy / c_yy.
 * Returns whether any was converted. */
static int convert_reliabilities(Problem* pr, const double* v, const double* cov) {
  if (pr->from_restricted == NULL) return 0;
  size_t q = (size_t)pr->q;
  int any = 0;
  for (int j = 0; j < pr->n_others; ++j) {
    if (!pr->from_restricted[j]) continue;
    size_t y = (size_t)pr->others[j];
    double vyy = v[y + y * q], cyy = cov[y + y * q];
    double r = tolbe_unrestricted_reliability(pr->as_given[j], vyy, cyy);
    if (!(r > 0.0 && r <= 1.0)) {
      Text t = {0};
      put(&t, "the reliability of ");
      put_variable(&t, pr->names, (int)y);
      putf(&t,
           " in the restricted sample, %g, is %g in the unrestricted population (1 - (1 - %g) * "
           "%g / %g, restricted over corrected variance), which is no reliability",
           pr->as_given[j], r, pr->as_given[j], vyy, cyy);
      fail_text(&t);
    }
    pr->reliability[j] = r;
    any = 1;
  }
  return any;
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
    frame_class, no_findings, said_names, matrix_names, bound_names, interval_names, rows_names,
    scores_names;
/* Values most diagnostics hold, shared rather than made for every call. */
static SEXP integer_zero, integer_na, real_zero, no_place, no_reason;
/* The library's version, kept in every fit: what made a result is part of
 * repeating it. */
static SEXP library_version;

enum {
  FIT_COV,
  FIT_COR,
  FIT_DISATTENUATED,
  FIT_MEANS,
  FIT_SELECTION,
  FIT_DIAGNOSTICS,
  FIT_FINDINGS,
  FIT_RESTRICTED,
  FIT_UNRESTRICTED,
  FIT_SE,
  FIT_CI,
  FIT_INTERVAL,
  FIT_ROWS,
  FIT_OPERATIONAL,
  FIT_CRITERIA,
  FIT_RELIABILITIES,
  FIT_RELIABILITY_SAMPLE,
  FIT_SCORES,
  FIT_VERSION,
  FIT_LENGTH
};
/* fit$se and fit$ci hold one element per corrected matrix; each of fit$ci
 * the lower and upper bounds. */
enum { MATRIX_COV, MATRIX_COR, MATRIX_DISATTENUATED, MATRIX_OPERATIONAL, MATRIX_LENGTH };
enum { BOUND_LOWER, BOUND_UPPER, BOUND_LENGTH };
enum {
  INTERVAL_METHOD,
  INTERVAL_CI_TYPE,
  INTERVAL_LEVEL,
  INTERVAL_N,
  INTERVAL_N_UNRESTRICTED,
  INTERVAL_B,
  INTERVAL_SEED,
  INTERVAL_THREADS,
  INTERVAL_FAILED,
  INTERVAL_PERCENTILE_FALLBACKS,
  INTERVAL_ROWS_DROPPED,
  INTERVAL_POOL_ROWS_DROPPED,
  INTERVAL_LENGTH
};
enum { ROWS_USED, ROWS_DROPPED, ROWS_POOL_USED, ROWS_POOL_DROPPED, ROWS_LENGTH };
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
  static const char* fit[FIT_LENGTH] = {"cov",
                                        "cor",
                                        "disattenuated",
                                        "means",
                                        "selection",
                                        "diagnostics",
                                        "findings",
                                        "restricted",
                                        "unrestricted",
                                        "se",
                                        "ci",
                                        "interval",
                                        "rows",
                                        "operational",
                                        "criteria",
                                        "reliabilities",
                                        "reliability_sample",
                                        "scores",
                                        "version"};
  static const char* matrices[MATRIX_LENGTH] = {"cov", "cor", "disattenuated", "operational"};
  static const char* bounds[BOUND_LENGTH] = {"lower", "upper"};
  static const char* interval[INTERVAL_LENGTH] = {"method",
                                                  "ci_type",
                                                  "level",
                                                  "n",
                                                  "n_unrestricted",
                                                  "B",
                                                  "seed",
                                                  "threads",
                                                  "failed_resamples",
                                                  "percentile_fallbacks",
                                                  "rows_dropped",
                                                  "pool_rows_dropped"};
  static const char* rows[ROWS_LENGTH] = {"used", "dropped", "pool_used", "pool_dropped"};
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
  matrix_names = kept(strings(MATRIX_LENGTH, matrices));
  bound_names = kept(strings(BOUND_LENGTH, bounds));
  interval_names = kept(strings(INTERVAL_LENGTH, interval));
  rows_names = kept(strings(ROWS_LENGTH, rows));
  static const char* scores[2] = {"data", "pool"};
  scores_names = kept(strings(2, scores));
  integer_zero = kept(ScalarInteger(0));
  integer_na = kept(ScalarInteger(NA_INTEGER));
  real_zero = kept(ScalarReal(0.0));
  no_place = kept(allocVector(INTSXP, 2));
  INTEGER(no_place)[0] = NA_INTEGER;
  INTEGER(no_place)[1] = NA_INTEGER;
  no_reason = kept(mkString(""));
  library_version = kept(mkString(tolbe_version()));
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
 * preceded by what this file has to say, `own` (NULL or a list of
 * list(severity, message, variables)). Errors carry a hint of lawley()'s
 * own argument for a triangle. */
static SEXP said(SEXP fit, SEXP frame, const tolbe_diagnostics* d, int least, SEXP own) {
  int n_frame = LENGTH(VECTOR_ELT(frame, FRAME_CODE));
  int n_own = isNull(own) ? 0 : LENGTH(own);
  int n = n_own;
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
  for (int k = 0; k < n_own; ++k) {
    SEXP item = VECTOR_ELT(own, k);
    INTEGER(severity)[at] = INTEGER(VECTOR_ELT(item, 0))[0];
    SET_STRING_ELT(code, at, NA_STRING);
    SET_STRING_ELT(message, at, STRING_ELT(VECTOR_ELT(item, 1), 0));
    SET_VECTOR_ELT(variables, at, VECTOR_ELT(item, 2));
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

/* How many values of `a` (n x n) are not finite, of those the correction
 * reads when `only_read`. */
static int count_not_finite(const Problem* pr, const double* a, int n, int only_read) {
  int count = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      count += !isfinite(a[(size_t)i + (size_t)j * (size_t)n]) && (!only_read || is_read(pr, i, j));
    }
  }
  return count;
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
 * with NaN read as 0, and a triangle it finds is what is said. One NA
 * alone is a value missing, whatever side it is on, and said so. Returns
 * the errors to stop with, or stops here. */
static SEXP refused(const Problem* pr, const tolbe_diagnostics* d) {
  const double* v = REAL(pr->restricted);
  const double* s = REAL(pr->unrestricted);
  int restricted_na =
      d->argument == TOLBE_ARGUMENT_RESTRICTED ? count_not_finite(pr, v, pr->q, 1) : 0;
  int unrestricted_na =
      d->argument == TOLBE_ARGUMENT_UNRESTRICTED ? count_not_finite(pr, s, pr->p, 0) : 0;
  if (restricted_na > 0 || unrestricted_na > 0) {
    if (restricted_na + unrestricted_na > 1) {
      size_t size = (size_t)pr->q * (size_t)pr->q;
      double* cov = (double*)R_alloc(size > 0 ? size : 1, sizeof(double));
      tolbe_diagnostics probe;
      correct(pr, nan_as_zero(v, pr->q), nan_as_zero(s, pr->p), cov, NULL, NULL, &probe);
      SEXP errors = errors_of(&probe, pr->names, pr->q);
      if (errors != NULL) return errors;
    }
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
 * Raw scores: a data frame or numeric matrix, one row per person and one
 * column per variable. V and S come from them by the library's one rule
 * (tolbe_covariance_from_data: complete rows, divisor n - 1), so that the
 * estimates, the findings and the intervals all belong to the same
 * matrices. */
typedef struct {
  SEXP values; /* rows x columns doubles, column-major, NA (a NaN) where missing */
  int rows;
  int columns;
  SEXP names; /* the column names, or R_NilValue */
} Scores;

/* The column names of raw scores `x` (a data frame or a matrix), or
 * R_NilValue. */
static SEXP scores_names_of(SEXP x) {
  if (inherits(x, "data.frame") && TYPEOF(x) == VECSXP) return getAttrib(x, R_NamesSymbol);
  SEXP dimnames = getAttrib(x, R_DimNamesSymbol);
  return isNull(dimnames) ? R_NilValue : VECTOR_ELT(dimnames, 1);
}

/* `x` as raw scores, or a clean error naming `what`: all its columns
 * (`list` NULL), or the n columns `list` in that order, the others not
 * looked at (a pool's identifiers, notes, columns left empty). The values
 * are `x` itself when it is a matrix of doubles taken whole, else a copy;
 * the caller protects them. */
static SEXP raw_scores(SEXP x, const char* what, const int* list, int n, Scores* out) {
  int frame = inherits(x, "data.frame") && TYPEOF(x) == VECSXP;
  SEXP dim = getAttrib(x, R_DimSymbol);
  if (!frame && ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) ||
                 TYPEOF(dim) != INTSXP || LENGTH(dim) != 2)) {
    fail(
        "'%s' must be a data frame or a numeric matrix of raw scores, one row per person and one "
        "column per variable",
        what);
  }
  int all_columns = frame ? LENGTH(x) : INTEGER(dim)[1];
  if (all_columns == 0) fail("'%s' has no columns", what);
  int rows = frame ? LENGTH(VECTOR_ELT(x, 0)) : INTEGER(dim)[0];
  SEXP all_names = scores_names_of(x);
  int columns = list != NULL ? n : all_columns;
  if (!frame && list == NULL) {
    SEXP values = TYPEOF(x) == REALSXP ? x : coerceVector(x, REALSXP);
    *out = (Scores){values, rows, columns, all_names};
    return values;
  }
  if (frame) {
    int* wrong = index_list(columns);
    int n_wrong = 0;
    for (int k = 0; k < columns; ++k) {
      int j = list != NULL ? list[k] : k;
      SEXP column = VECTOR_ELT(x, j);
      if ((TYPEOF(column) != REALSXP && TYPEOF(column) != INTSXP) || isFactor(column) ||
          LENGTH(column) != rows) {
        wrong[n_wrong++] = j;
      }
    }
    if (n_wrong > 0) {
      Text t = {0};
      putf(&t, "'%s' must hold numbers only; %s: ", what,
           n_wrong == 1 ? "this column does not" : "these columns do not");
      put_variables(&t, all_names, wrong, n_wrong);
      fail_text(&t);
    }
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

static tolbe_scores library_scores(const Scores* s) {
  tolbe_scores out = {s->rows, s->columns, REAL(s->values), s->rows > 0 ? s->rows : 1};
  return out;
}

/* The var/cov matrix of the scores' complete rows, named by their columns,
 * and their means (`means`, columns values); the rows used and dropped.
 * Stops, naming `what`, when the library refuses the scores. */
static SEXP scores_covariance(const Scores* s, const char* what, double* means, int* used,
                              int* dropped) {
  int c = s->columns;
  SEXP cov = PROTECT(allocMatrix(REALSXP, c, c));
  tolbe_scores in = library_scores(s);
  const char* reason = NULL;
  int status =
      tolbe_covariance_from_data(&in, means, REAL(cov), c > 0 ? c : 1, used, dropped, &reason);
  if (status != TOLBE_OK) {
    /* Say where: the first score that is not finite, else how few rows are
     * complete. */
    const double* x = REAL(s->values);
    size_t rows = (size_t)s->rows;
    int complete = 0;
    for (size_t i = 0; i < rows; ++i) {
      int whole = 1;
      for (int j = 0; j < c; ++j) {
        double value = x[i + (size_t)j * rows];
        if (isinf(value)) {
          Text t = {0};
          putf(&t, "'%s' holds a score that is not finite (%s) in row %lu, column ", what,
               value > 0 ? "Inf" : "-Inf", (unsigned long)i + 1);
          put_variable(&t, s->names, j);
          put(&t, "; a missing score is NA");
          fail_text(&t);
        }
        whole = whole && !isnan(value);
      }
      complete += whole;
    }
    if (complete < 2) {
      fail("'%s' has %d complete rows (without NA) of %d; the var/cov matrix needs at least 2",
           what, complete, s->rows);
    }
    fail("'%s': %s", what, reason != NULL ? reason : tolbe_status_text(status));
  }
  if (!isNull(s->names)) {
    SEXP dimnames = PROTECT(allocVector(VECSXP, 2));
    SET_VECTOR_ELT(dimnames, 0, s->names);
    SET_VECTOR_ELT(dimnames, 1, s->names);
    setAttrib(cov, R_DimNamesSymbol, dimnames);
    UNPROTECT(1);
  }
  UNPROTECT(1);
  return cov;
}

/* ---------------------------------------------------------------------
 * What the intervals are asked for. */
typedef struct {
  int method;   /* TOLBE_INTERVAL_* */
  int interval; /* TOLBE_BOOTSTRAP_BCA or _PERCENTILE */
  double level;
  int n;              /* 0: not given */
  int n_unrestricted; /* 0: S known */
  int resamples;
  int seed_given;          /* 0: drawn from R's generator */
  unsigned long long seed; /* 0 to 2^64 - 1, as the command line's --seed */
  int threads;             /* 0: as many as the machine has */
} Asked;

/* The largest whole number a double holds exactly: 2^53. Seeds above it
 * are given as strings of decimal digits. */
static const double largest_seed = 9007199254740992.0;

/* `x` as a seed, 0 to 2^64 - 1, into `out`: a whole number up to 2^53
 * (where doubles are exact) or a string of decimal digits, the command
 * line's --seed. Returns whether it is one. */
static int seed_of(SEXP x, unsigned long long* out) {
  if (TYPEOF(x) == STRSXP) {
    if (XLENGTH(x) != 1 || STRING_ELT(x, 0) == NA_STRING) return 0;
    const char* digits = CHAR(STRING_ELT(x, 0));
    if (digits[0] == '\0') return 0;
    unsigned long long value = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9') return 0;
      unsigned long long digit = (unsigned long long)(*c - '0');
      if (value > (ULLONG_MAX - digit) / 10) return 0;
      value = value * 10 + digit;
    }
    *out = value;
    return 1;
  }
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || XLENGTH(x) != 1) return 0;
  double value = number_at(x, 0);
  if (!isfinite(value) || value != floor(value) || value < 0 || value > largest_seed) return 0;
  *out = (unsigned long long)value;
  return 1;
}

/* The seed as fit$interval keeps it: a number where a double holds it
 * exactly, else its decimal digits. */
static SEXP seed_value(unsigned long long seed) {
  if (seed <= 9007199254740992ULL) return ScalarReal((double)seed);
  char digits[24];
  snprintf(digits, sizeof digits, "%llu", seed);
  return mkString(digits);
}

/* `x` as one whole number in [low, high], else NaN. */
static double whole_number(SEXP x, double low, double high) {
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || isFactor(x) || XLENGTH(x) != 1) return NAN;
  double value = number_at(x, 0);
  if (!isfinite(value) || value != floor(value) || value < low || value > high) return NAN;
  return value;
}

/* `x` as one of the n `choices`, its index; -1 when it is none. */
static int choice(SEXP x, const char* const* choices, int n) {
  if (TYPEOF(x) != STRSXP || XLENGTH(x) != 1 || STRING_ELT(x, 0) == NA_STRING) return -1;
  const char* given = CHAR(STRING_ELT(x, 0));
  for (int k = 0; k < n; ++k) {
    if (strcmp(given, choices[k]) == 0) return k;
  }
  return -1;
}

/* Resolves and checks the interval arguments as the user gave them (NULL:
 * not given). The default method is "normal" when n is given, "adf" with
 * raw restricted scores and "none" otherwise. */
static void resolve_request(SEXP interval, SEXP n, SEXP n_unrestricted, SEXP B, SEXP level,
                            SEXP seed, SEXP threads, SEXP ci_type, int with_data, int with_pool,
                            Asked* a) {
  static const char* methods[] = {"none", "normal", "adf", "bootstrap"};
  static const char* types[] = {"bca", "percentile"};
  *a = (Asked){TOLBE_INTERVAL_NONE, TOLBE_BOOTSTRAP_BCA, 0.95, 0, 0, 2000, 0, 0, 0};
  if (isNull(interval)) {
    a->method = with_data    ? TOLBE_INTERVAL_ADF
                : !isNull(n) ? TOLBE_INTERVAL_NORMAL
                             : TOLBE_INTERVAL_NONE;
  } else {
    a->method = choice(interval, methods, 4);
    if (a->method < 0) {
      fail("'interval' must be \"none\", \"normal\", \"adf\" or \"bootstrap\"");
    }
  }
  if (!isNull(n)) {
    if (with_data) {
      fail("'n' is for matrices: with 'data' the sample size is its number of complete rows");
    }
    double value = whole_number(n, 2, INT_MAX);
    if (isnan(value))
      fail("'n', the size of the restricted sample, must be a whole number of at least 2");
    a->n = (int)value;
  }
  if (!isNull(n_unrestricted)) {
    if (with_pool) {
      fail(
          "'n_unrestricted' is for a matrix: with 'pool' the pool's size is its number of "
          "complete rows");
    }
    double value = whole_number(n_unrestricted, 2, INT_MAX);
    if (isnan(value)) {
      fail(
          "'n_unrestricted', the size of the sample 'unrestricted' was estimated from, must be a "
          "whole number of at least 2 (leave it out when the matrix is known)");
    }
    a->n_unrestricted = (int)value;
  }
  if (!isNull(level)) {
    double value = TYPEOF(level) == REALSXP && XLENGTH(level) == 1 ? REAL(level)[0] : NAN;
    if (!(value > 0.0 && value < 1.0))
      fail("'level' must be a number between 0 and 1, such as 0.95");
    a->level = value;
  }
  if (!isNull(B)) {
    double value = whole_number(B, 10, 1000000);
    if (isnan(value)) {
      fail("'B', the number of bootstrap resamples, must be a whole number from 10 to 1000000");
    }
    a->resamples = (int)value;
  }
  if (!isNull(seed)) {
    if (!seed_of(seed, &a->seed)) {
      fail(
          "'seed' must be a whole number from 0 to 2^53, or a string of decimal digits for any "
          "seed from 0 to 18446744073709551615 (2^64 - 1), such as \"9007199254740993\"");
    }
    a->seed_given = 1;
  }
  if (!isNull(threads)) {
    double value = whole_number(threads, 0, INT_MAX);
    if (isnan(value)) {
      fail(
          "'threads' must be a whole number: at most that many threads, 0 for all the machine "
          "has");
    }
    a->threads = (int)value;
  }
  if (!isNull(ci_type)) {
    a->interval = choice(ci_type, types, 2);
    if (a->interval < 0) fail("'ci_type' must be \"bca\" or \"percentile\"");
  }

  /* Arguments that the method does not use are a mistake, not ignored. */
  const char* bootstrap_only = !isNull(B)         ? "B"
                               : !isNull(seed)    ? "seed"
                               : !isNull(threads) ? "threads"
                               : !isNull(ci_type) ? "ci_type"
                                                  : NULL;
  if (a->method == TOLBE_INTERVAL_NONE) {
    const char* given = !isNull(level)            ? "level"
                        : !isNull(n_unrestricted) ? "n_unrestricted"
                        : !isNull(n)              ? "n"
                                                  : bootstrap_only;
    if (given != NULL) {
      if (isNull(interval)) {
        fail(
            "'%s' is for intervals, and this call computes none: give 'n' (the size of the "
            "restricted sample) or raw scores as 'data', or choose 'interval'",
            given);
      }
      fail("'%s' is for intervals, but interval is \"none\"", given);
    }
    return;
  }
  if (a->method != TOLBE_INTERVAL_BOOTSTRAP && bootstrap_only != NULL) {
    fail("'%s' is for interval = \"bootstrap\", not \"%s\"", bootstrap_only, methods[a->method]);
  }
  if (a->method == TOLBE_INTERVAL_NORMAL && !with_data && a->n == 0) {
    fail(
        "interval = \"normal\" needs 'n', the size of the restricted sample (or its raw scores as "
        "'data')");
  }
  if (a->method != TOLBE_INTERVAL_NORMAL && !with_data) {
    fail(
        "interval = \"%s\" needs the restricted sample's raw scores as 'data' (one row per "
        "person)",
        methods[a->method]);
  }
  if (a->method == TOLBE_INTERVAL_BOOTSTRAP && a->n_unrestricted != 0) {
    fail(
        "the bootstrap lets the unrestricted matrix vary only by resampling the pool's raw scores "
        "('pool'); leave out 'n_unrestricted', or choose interval = \"normal\" or \"adf\"");
  }
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

/* Something this file has to say: list(severity, message, variables). */
static SEXP own_item(int severity, const Text* t, SEXP variables) {
  SEXP item = PROTECT(allocVector(VECSXP, 3));
  SET_VECTOR_ELT(item, 0, ScalarInteger(severity));
  SET_VECTOR_ELT(item, 1, mkString(text_of(t)));
  SET_VECTOR_ELT(item, 2, variables);
  UNPROTECT(1);
  return item;
}

/* The note that the others given no reliability by name are taken as 1. */
static SEXP defaulted_note(const Problem* pr) {
  Text t = {0};
  put(&t, "'reliabilities' names no reliability for ");
  put_variables(&t, pr->names, pr->defaulted, pr->n_defaulted);
  put(&t, pr->n_defaulted == 1 ? "; it is taken as 1 (not corrected for attenuation)"
                               : "; they are taken as 1 (not corrected for attenuation)");
  SEXP variables = PROTECT(allocVector(INTSXP, pr->n_defaulted));
  for (int k = 0; k < pr->n_defaulted; ++k) INTEGER(variables)[k] = pr->defaulted[k] + 1;
  if (!isNull(pr->names)) {
    SEXP labels = allocVector(STRSXP, pr->n_defaulted);
    setAttrib(variables, R_NamesSymbol, labels);
    for (int k = 0; k < pr->n_defaulted; ++k) {
      SET_STRING_ELT(labels, k, STRING_ELT(pr->names, pr->defaulted[k]));
    }
  }
  SEXP note = own_item(TOLBE_NOTE, &t, variables);
  UNPROTECT(1);
  return note;
}

/* ---------------------------------------------------------------------
 * Standard errors and intervals. */

static SEXP integer_or_na(int value, int applies) {
  return ScalarInteger(applies ? value : NA_INTEGER);
}

/* Stops, in the library's words, when `what` would need a workspace of
 * `doubles` and `ints` beyond the library's bound on memory: a bootstrap
 * of many variables and resamples is refused at once rather than taking
 * the machine's memory for minutes. */
static void refuse_workspace(const char* what, size_t doubles, size_t ints) {
  char refusal[256];
  if (tolbe_workspace_refusal(what, doubles, ints, refusal, sizeof refusal) > 0) {
    fail("%s", refusal);
  }
}

/* The SEs and intervals that `a` asks for, of the correction of `pr`, into
 * fit$se, fit$ci and fit$interval; the matrices are named and shaped as
 * `like`. With raw scores (`data`, `pool`, else NULL) the library computes
 * V and S from them anew, by the rule that gave pr->restricted and
 * pr->unrestricted: they are checked to be the same, so that the
 * intervals are those of the estimates. Returns the resamples left out. */
static int intervals_into(SEXP fit, const Problem* pr, const Asked* a, const Scores* data,
                          const Scores* pool, SEXP like, const double* criterion_reliability) {
  int q = pr->q;
  int p = pr->p;
  int ld_q = q > 0 ? q : 1;
  int with_reliabilities = pr->reliability != NULL;
  int n_reliabilities = with_reliabilities ? pr->n_others : 0;

  SEXP se = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  SEXP ci = PROTECT(allocVector(VECSXP, MATRIX_LENGTH));
  setAttrib(se, R_NamesSymbol, matrix_names);
  setAttrib(ci, R_NamesSymbol, matrix_names);
  SET_VECTOR_ELT(fit, FIT_SE, se);
  SET_VECTOR_ELT(fit, FIT_CI, ci);
  UNPROTECT(2);
  tolbe_interval_matrices out[MATRIX_LENGTH];
  for (int m = 0; m < MATRIX_LENGTH; ++m) {
    out[m] = (tolbe_interval_matrices){NULL, NULL, NULL, ld_q};
    if (m == MATRIX_DISATTENUATED && !with_reliabilities) continue;
    SET_VECTOR_ELT(se, m, result_matrix(q, R_NilValue, like));
    SEXP bounds = allocVector(VECSXP, BOUND_LENGTH);
    SET_VECTOR_ELT(ci, m, bounds);
    setAttrib(bounds, R_NamesSymbol, bound_names);
    SET_VECTOR_ELT(bounds, BOUND_LOWER, result_matrix(q, R_NilValue, like));
    SET_VECTOR_ELT(bounds, BOUND_UPPER, result_matrix(q, R_NilValue, like));
    out[m].se = REAL(VECTOR_ELT(se, m));
    out[m].lower = REAL(VECTOR_ELT(bounds, BOUND_LOWER));
    out[m].upper = REAL(VECTOR_ELT(bounds, BOUND_UPPER));
  }

  unsigned long long seed = a->seed;
  if (a->method == TOLBE_INTERVAL_BOOTSTRAP && !a->seed_given) {
    /* No seed given: one from R's generator, so that set.seed() makes the
     * call repeatable, kept in fit$interval$seed to repeat it without. */
    GetRNGstate();
    double high = floor(unif_rand() * 2097152.0);   /* 2^21 */
    double low = floor(unif_rand() * 4294967296.0); /* 2^32 */
    PutRNGstate();
    seed = (unsigned long long)(high * 4294967296.0 + low);
  }
  tolbe_interval_request request;
  tolbe_interval_request_init(&request);
  request.method = a->method;
  request.level = a->level;
  request.n = data != NULL ? 0 : a->n;
  request.n_unrestricted = pool != NULL ? 0 : a->n_unrestricted;
  if (data != NULL) request.data = library_scores(data);
  if (pool != NULL) request.pool = library_scores(pool);
  request.resamples = a->resamples;
  request.seed = seed;
  request.threads = a->threads;
  request.interval = a->interval;

  tolbe_interval_results results = {
      out[MATRIX_COV], out[MATRIX_COR], out[MATRIX_DISATTENUATED], NULL, 0, NULL, 0};
  double* v_used = NULL;
  double* s_used = NULL;
  if (data != NULL) {
    v_used = (double*)R_alloc((size_t)ld_q * (size_t)ld_q, sizeof(double));
    results.restricted = v_used;
    results.ld_restricted = ld_q;
  }
  if (pool != NULL) {
    s_used = (double*)R_alloc((size_t)(p > 0 ? p : 1) * (size_t)(p > 0 ? p : 1), sizeof(double));
    results.unrestricted = s_used;
    results.ld_unrestricted = p > 0 ? p : 1;
  }
  size_t n_work = 0, n_int_work = 0;
  tolbe_interval_summary summary;
  memset(&summary, 0, sizeof summary);
  const double* restricted = data != NULL ? NULL : REAL(pr->restricted);
  const double* unrestricted = pool != NULL ? NULL : REAL(pr->unrestricted);
  const double* reliability = n_reliabilities > 0 ? pr->reliability : NULL;
  if (tolbe_lawley_intervals_workspace(q, p, &request, &n_work, &n_int_work) != TOLBE_OK) {
    /* Every argument was checked here, so this is a limit of the library's
     * own; without a workspace it says which before anything else. */
    tolbe_lawley_intervals(q, p, restricted, ld_q, unrestricted, p > 0 ? p : 1, pr->selection,
                           reliability, n_reliabilities, &request, &results, NULL, 0, NULL, 0,
                           &summary);
    fail("the intervals cannot be computed: %s",
         summary.reason != NULL ? summary.reason : "invalid request");
  }
  refuse_workspace("the intervals", n_work, n_int_work);
  double* work = (double*)R_alloc(n_work > 0 ? n_work : 1, sizeof(double));
  int* int_work = (int*)R_alloc(n_int_work > 0 ? n_int_work : 1, sizeof(int));
  int status = tolbe_lawley_intervals(q, p, restricted, ld_q, unrestricted, p > 0 ? p : 1,
                                      pr->selection, reliability, n_reliabilities, &request,
                                      &results, work, n_work, int_work, n_int_work, &summary);
  if (status != TOLBE_OK) {
    fail("the intervals cannot be computed: %s", summary.reason != NULL && summary.reason[0] != '\0'
                                                     ? summary.reason
                                                     : tolbe_status_text(status));
  }
  if ((v_used != NULL &&
       memcmp(v_used, REAL(pr->restricted), (size_t)q * (size_t)q * sizeof(double)) != 0) ||
      (s_used != NULL &&
       memcmp(s_used, REAL(pr->unrestricted), (size_t)p * (size_t)p * sizeof(double)) != 0)) {
    fail(
        "tolbe: the intervals belong to another var/cov matrix than the correction (a fault of "
        "the package; please report it)");
  }
  if (with_reliabilities && pr->n_others == 0) {
    /* Nothing to disattenuate: as the estimates, the correlations'. */
    memcpy(out[MATRIX_DISATTENUATED].se, out[MATRIX_COR].se, (size_t)q * q * sizeof(double));
    memcpy(out[MATRIX_DISATTENUATED].lower, out[MATRIX_COR].lower, (size_t)q * q * sizeof(double));
    memcpy(out[MATRIX_DISATTENUATED].upper, out[MATRIX_COR].upper, (size_t)q * q * sizeof(double));
  }
  /* The operational correlations divide by constants, so their SEs and
   * bounds are the corrected correlations' divided alike. */
  const tolbe_interval_matrices* from = &out[MATRIX_COR];
  const tolbe_interval_matrices* to = &out[MATRIX_OPERATIONAL];
  tolbe_operational_correlations(q, from->se, ld_q, criterion_reliability, to->se, ld_q);
  tolbe_operational_correlations(q, from->lower, ld_q, criterion_reliability, to->lower, ld_q);
  tolbe_operational_correlations(q, from->upper, ld_q, criterion_reliability, to->upper, ld_q);

  int bootstrap = a->method == TOLBE_INTERVAL_BOOTSTRAP;
  SEXP info = PROTECT(allocVector(VECSXP, INTERVAL_LENGTH));
  setAttrib(info, R_NamesSymbol, interval_names);
  SET_VECTOR_ELT(info, INTERVAL_METHOD, mkString(tolbe_interval_method_name(summary.method)));
  SET_VECTOR_ELT(info, INTERVAL_CI_TYPE,
                 mkString(!bootstrap                                       ? "wald"
                          : summary.interval == TOLBE_BOOTSTRAP_PERCENTILE ? "percentile"
                                                                           : "bca"));
  SET_VECTOR_ELT(info, INTERVAL_LEVEL, ScalarReal(summary.level));
  SET_VECTOR_ELT(info, INTERVAL_N, ScalarInteger(summary.n));
  SET_VECTOR_ELT(info, INTERVAL_N_UNRESTRICTED,
                 integer_or_na(summary.n_unrestricted, summary.n_unrestricted > 0));
  SET_VECTOR_ELT(info, INTERVAL_B, integer_or_na(summary.resamples, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_SEED, bootstrap ? seed_value(seed) : ScalarReal(NA_REAL));
  SET_VECTOR_ELT(info, INTERVAL_THREADS, integer_or_na(summary.threads, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_FAILED, integer_or_na(summary.failed_resamples, bootstrap));
  SET_VECTOR_ELT(info, INTERVAL_PERCENTILE_FALLBACKS,
                 integer_or_na(summary.percentile_fallbacks,
                               bootstrap && summary.interval == TOLBE_BOOTSTRAP_BCA));
  SET_VECTOR_ELT(info, INTERVAL_ROWS_DROPPED, integer_or_na(summary.rows_dropped, data != NULL));
  SET_VECTOR_ELT(info, INTERVAL_POOL_ROWS_DROPPED,
                 integer_or_na(summary.pool_rows_dropped, pool != NULL));
  SET_VECTOR_ELT(fit, FIT_INTERVAL, info);
  UNPROTECT(1);
  return bootstrap ? summary.failed_resamples : 0;
}

/* The library's screening of the raw scores `data` (all q columns) and
 * `pool` (the selection variables' columns, in selection order), or of
 * the sample size `n` given with matrices (0: unknown), added to the
 * findings `d` of the correction: too few rows, a small sample, values
 * that look like missing-value codes or lie far out (by row and column),
 * a pool that is not all the applicants. Rows are numbered as in `data`
 * and `pool`, whose rows with an NA are passed too. */
static void screen(const Problem* pr, const Scores* data, const Scores* pool, int n,
                   tolbe_diagnostics* d) {
  tolbe_scores data_in = {0, 0, NULL, 1};
  tolbe_scores pool_in = {0, 0, NULL, 1};
  if (data != NULL) data_in = library_scores(data);
  if (pool != NULL) pool_in = library_scores(pool);
  tolbe_screen(pr->q, pr->p, data != NULL ? &data_in : NULL, pool != NULL ? &pool_in : NULL,
               pr->selection, data != NULL ? 0 : n, d);
}

/* The note that rows with a missing score were left out of `what`. */
static SEXP dropped_note(const char* what, int dropped, int used) {
  Text t = {0};
  putf(&t, "'%s': %d of %d rows hold a missing score (NA) and were left out (listwise); %d used",
       what, dropped, dropped + used, used);
  return own_item(TOLBE_NOTE, &t, allocVector(INTSXP, 0));
}

/* Whether the dimnames of the p x p `s` are the selection variables' names
 * in selection order on both sides, or `s` has none and neither has V. */
static int names_selection(SEXP s, const Problem* pr) {
  SEXP dimnames = getAttrib(s, R_DimNamesSymbol);
  if (isNull(pr->names)) return isNull(dimnames);
  if (isNull(dimnames)) return 0;
  for (int side = 0; side < 2; ++side) {
    SEXP given = VECTOR_ELT(dimnames, side);
    if (TYPEOF(given) != STRSXP || LENGTH(given) != pr->p) return 0;
    for (int k = 0; k < pr->p; ++k) {
      SEXP a = STRING_ELT(given, k);
      SEXP b = STRING_ELT(pr->names, pr->selection[k]);
      if (a != b && (a == NA_STRING || b == NA_STRING ||
                     strcmp(translateCharUTF8(a), translateCharUTF8(b)) != 0)) {
        return 0;
      }
    }
  }
  return 1;
}

/* Fills the selection (p), the positions (q) and the others (q - p) into
 * the workspace kept between calls, grown to what the library's
 * correction needs besides; returns that need. */
static void reserve_problem(Problem* pr, size_t* n_work, size_t* n_int_work) {
  tolbe_lawley_workspace(pr->q, pr->p, n_work, n_int_work);
  reserve_workspace(*n_work, *n_int_work + 2 * (size_t)pr->q);
  pr->selection = work_ints + *n_int_work;
  pr->position = pr->selection + pr->p;
  pr->others = pr->position + pr->q;
}

/* lawley(restricted, unrestricted, selection, reliabilities,
 * restricted_means, unrestricted_means, diagnostics, triangle, data, pool,
 * n, n_unrestricted, interval, B, level, seed, threads, ci_type, criteria,
 * reliability_sample), the
 * arguments as the user gave them (NULL: not given). */
static SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
                     SEXP restricted_means, SEXP unrestricted_means, SEXP diagnostics,
                     SEXP triangle, SEXP data, SEXP pool, SEXP n, SEXP n_unrestricted,
                     SEXP interval, SEXP B, SEXP level, SEXP seed, SEXP threads, SEXP ci_type,
                     SEXP criteria, SEXP reliability_sample) {
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
  int with_data = !isNull(data);
  int with_pool = !isNull(pool);
  if (with_data && !isNull(restricted)) {
    fail(
        "give the restricted sample as 'restricted' (its var/cov matrix) or as 'data' (its raw "
        "scores), not both");
  }
  if (!with_data && isNull(restricted)) {
    fail(
        "give the restricted sample's var/cov matrix as 'restricted', or its raw scores as "
        "'data'");
  }
  if (with_pool && !isNull(unrestricted)) {
    fail(
        "give the unrestricted var/cov matrix as 'unrestricted' or the pool's raw scores as "
        "'pool', not both");
  }
  if (!with_pool && isNull(unrestricted)) {
    fail(
        "give the unrestricted var/cov matrix of the selection variables as 'unrestricted', or "
        "the pool's raw scores as 'pool'");
  }
  if (with_data && !isNull(restricted_means)) {
    fail("with 'data' the restricted means are the data's: leave out 'restricted_means'");
  }
  if (with_pool && !isNull(unrestricted_means)) {
    fail("with 'pool' the unrestricted means are the pool's: leave out 'unrestricted_means'");
  }
  Asked asked;
  resolve_request(interval, n, n_unrestricted, B, level, seed, threads, ci_type, with_data,
                  with_pool, &asked);

  int protected = 0;
  Problem pr = {0};
  pr.v_arg = with_data ? "'data'" : "'restricted'";
  pr.v_names = with_data ? "column names" : "dimnames";
  pr.s_arg = with_pool ? "'pool'" : "'unrestricted'";
  pr.s_from_pool = with_pool;
  pr.side = side;

  /* V: the matrix, or from the raw restricted scores. */
  Scores data_scores = {0};
  double* data_means = NULL;
  int rows_used = 0, rows_dropped = 0;
  if (with_data) {
    PROTECT(raw_scores(data, "data", NULL, 0, &data_scores));
    ++protected;
    check_distinct(data_scores.names, "'data'", "columns");
    data_means =
        (double*)R_alloc(data_scores.columns > 0 ? (size_t)data_scores.columns : 1, sizeof(double));
    pr.restricted =
        PROTECT(scores_covariance(&data_scores, "data", data_means, &rows_used, &rows_dropped));
    ++protected;
    if (asked.method == TOLBE_INTERVAL_BOOTSTRAP && rows_used < 3) {
      fail("the bootstrap needs at least 3 complete rows in 'data'; it has %d", rows_used);
    }
  } else {
    pr.restricted = PROTECT(square_matrix(restricted, "restricted"));
    ++protected;
  }
  pr.q = nrows(pr.restricted);
  pr.names = variable_names(pr.restricted);
  int q = pr.q;

  /* S: the matrix, or from the pool's raw scores of the selection
   * variables. A pool with column names holds at least those of the
   * selection variables, found by name; without, its columns are the
   * selection variables in selection order, as the rows of an unnamed
   * 'unrestricted'. */
  size_t n_work = 0, n_int_work = 0;
  int selection_resolved = 0;
  Scores pool_scores = {0};
  double* pool_means = NULL;
  int pool_used = 0, pool_dropped = 0;
  if (with_pool) {
    SEXP pool_names = scores_names_of(pool);
    if (!isNull(pool_names) && !isNull(selection)) {
      if (!isVectorAtomic(selection)) fail("'selection' must be variable names or whole numbers");
      if (XLENGTH(selection) > q) {
        fail("'selection' names %lld variables, but %s has only %d", (long long)XLENGTH(selection),
             pr.v_arg, q);
      }
      pr.p = LENGTH(selection);
      reserve_problem(&pr, &n_work, &n_int_work);
      resolve_selection(selection, &pr);
      selection_resolved = 1;
      if (isNull(pr.names)) {
        fail("'pool' is matched to %s by column name, but %s has no %s", pr.v_arg, pr.v_arg,
             pr.v_names);
      }
      int* columns = index_list(pr.p);
      int* lacking = index_list(pr.p);
      int n_lacking = 0;
      for (int k = 0; k < pr.p; ++k) {
        columns[k] = find_name(pool_names, STRING_ELT(pr.names, pr.selection[k]));
        if (columns[k] < 0) lacking[n_lacking++] = pr.selection[k];
      }
      if (n_lacking > 0) {
        Text t = {0};
        put(&t, "'pool' has no column for the selection variable");
        put(&t, n_lacking == 1 ? " " : "s ");
        put_variables(&t, pr.names, lacking, n_lacking);
        fail_text(&t);
      }
      /* Only the selection variables' columns are read; a name that one
       * of them shares with another column would leave which was meant to
       * a guess. */
      int n_names = LENGTH(pool_names);
      for (int k = 0; k < pr.p; ++k) {
        for (int j = columns[k] + 1; j < n_names; ++j) {
          if (same_name(STRING_ELT(pool_names, j), STRING_ELT(pool_names, columns[k]))) {
            fail("'pool': the name \"%s\" is given to columns %d and %d",
                 translateChar(STRING_ELT(pool_names, j)), columns[k] + 1, j + 1);
          }
        }
      }
      PROTECT(raw_scores(pool, "pool", columns, pr.p, &pool_scores));
      ++protected;
    } else {
      PROTECT(raw_scores(pool, "pool", NULL, 0, &pool_scores));
      ++protected;
      check_distinct(pool_scores.names, "'pool'", "columns");
    }
    pool_means =
        (double*)R_alloc(pool_scores.columns > 0 ? (size_t)pool_scores.columns : 1, sizeof(double));
    pr.unrestricted =
        PROTECT(scores_covariance(&pool_scores, "pool", pool_means, &pool_used, &pool_dropped));
    ++protected;
    if (asked.method == TOLBE_INTERVAL_BOOTSTRAP && pool_used < 3) {
      fail("the bootstrap needs at least 3 complete rows in 'pool'; it has %d", pool_used);
    }
  } else {
    pr.unrestricted = PROTECT(square_matrix(unrestricted, "unrestricted"));
    ++protected;
  }
  if (!selection_resolved) {
    pr.p = nrows(pr.unrestricted);
    if (pr.p > q) {
      if (with_pool) fail("'pool' has %d columns, but %s has only %d variables", pr.p, pr.v_arg, q);
      fail("'unrestricted' is %d x %d, but %s has only %d variables", pr.p, pr.p, pr.v_arg, q);
    }
    reserve_problem(&pr, &n_work, &n_int_work);
    resolve_selection(selection, &pr);
  }
  int p = pr.p;
  order_others(&pr);
  resolve_reliabilities(reliabilities, &pr);
  resolve_reliability_sample(reliability_sample, reliabilities, &pr);
  resolve_criteria(criteria, &pr);
  /* The means: the raw scores' own, else as given; corrected when both
   * sides have them. */
  if (with_data) pr.restricted_means = data_means;
  if (with_pool) pr.unrestricted_means = pool_means;
  if (!isNull(restricted_means) && !with_pool && isNull(unrestricted_means)) {
    fail("give both 'restricted_means' and 'unrestricted_means', or neither");
  }
  if (!isNull(unrestricted_means) && !with_data && isNull(restricted_means)) {
    fail("give both 'restricted_means' and 'unrestricted_means', or neither");
  }
  if (!isNull(restricted_means)) {
    pr.restricted_means =
        resolve_means(restricted_means, q, pr.names, "restricted_means", pr.v_arg);
  }
  if (!isNull(unrestricted_means)) {
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
  int with_means = pr.restricted_means != NULL && pr.unrestricted_means != NULL;
  if (side != 0) {
    pr.restricted = PROTECT(mirrored(pr.restricted, q, side));
    pr.unrestricted = PROTECT(mirrored(pr.unrestricted, p, side));
    protected += 2;
  }
  if (pr.s_rows != NULL) {
    pr.unrestricted = PROTECT(reordered_unrestricted(pr.unrestricted, &pr));
    ++protected;
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
  const Scores* screened_data = with_data ? &data_scores : NULL;
  const Scores* screened_pool = with_pool ? &pool_scores : NULL;
  if (with_findings) {
    screen(&pr, screened_data, screened_pool, asked.n, &d);
    SEXP errors = errors_of(&d, pr.names, q);
    if (errors != NULL) {
      UNPROTECT(protected);
      return errors;
    }
  } else {
    /* Without diagnostics the errors stop all the same: of the screening's
     * findings only too few rows is one, and the sample size alone says
     * it, without a pass over the scores. */
    tolbe_diagnostics size;
    size.n_findings = 0;
    tolbe_screen(q, p, NULL, NULL, NULL, with_data ? rows_used : asked.n, &size);
    SEXP errors = errors_of(&size, pr.names, q);
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
  if (convert_reliabilities(&pr, v, cov)) {
    /* The disattenuated correlations anew, by the converted reliabilities;
     * the correction itself does not read them. */
    status = correct(&pr, v, s, cov, cor, dis, with_findings ? &d : NULL);
    if (status != TOLBE_OK)
      fail("the reliabilities cannot be converted: %s", tolbe_status_text(status));
    if (with_findings) screen(&pr, screened_data, screened_pool, asked.n, &d);
  }
  double* operational_reliability = criterion_reliabilities(&pr);
  SEXP operational = result_matrix(q, dimnames, first);
  SET_VECTOR_ELT(fit, FIT_OPERATIONAL, operational);
  tolbe_operational_correlations(q, cor, q > 0 ? q : 1, operational_reliability, REAL(operational),
                                 q > 0 ? q : 1);
  SEXP criteria_out = allocVector(INTSXP, pr.n_criteria);
  SET_VECTOR_ELT(fit, FIT_CRITERIA, criteria_out);
  for (int k = 0; k < pr.n_criteria; ++k) INTEGER(criteria_out)[k] = pr.criteria[k] + 1;
  if (with_reliabilities) {
    SEXP used = allocVector(REALSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITIES, used);
    SEXP measured = allocVector(STRSXP, q);
    SET_VECTOR_ELT(fit, FIT_RELIABILITY_SAMPLE, measured);
    for (int i = 0; i < q; ++i) {
      REAL(used)[i] = NA_REAL;
      SET_STRING_ELT(measured, i, NA_STRING);
    }
    for (int j = 0; j < pr.n_others; ++j) {
      if (!pr.given[j]) continue;
      REAL(used)[pr.others[j]] = pr.reliability[j];
      SET_STRING_ELT(measured, pr.others[j],
                     mkChar(pr.from_restricted[j] ? "restricted" : "unrestricted"));
    }
    if (!isNull(pr.names)) {
      setAttrib(used, R_NamesSymbol, pr.names);
      setAttrib(measured, R_NamesSymbol, pr.names);
    }
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
  SET_VECTOR_ELT(fit, FIT_VERSION, library_version);
  /* S as corrected, named by the selection variables in selection order:
   * the matrix itself when it is named so already (or, like V, not at
   * all), else a copy so named. */
  int named_so = names_selection(pr.unrestricted, &pr);
  SEXP used_s = named_so ? pr.unrestricted : allocMatrix(REALSXP, p, p);
  SET_VECTOR_ELT(fit, FIT_UNRESTRICTED, used_s);
  if (!named_so && p > 0) memcpy(REAL(used_s), s, (size_t)p * (size_t)p * sizeof(double));
  if (!named_so && !isNull(pr.names)) {
    SEXP selected = PROTECT(allocVector(STRSXP, p));
    for (int k = 0; k < p; ++k) SET_STRING_ELT(selected, k, STRING_ELT(pr.names, pr.selection[k]));
    SEXP selected_dimnames = PROTECT(allocVector(VECSXP, 2));
    SET_VECTOR_ELT(selected_dimnames, 0, selected);
    SET_VECTOR_ELT(selected_dimnames, 1, selected);
    setAttrib(used_s, R_DimNamesSymbol, selected_dimnames);
    UNPROTECT(2);
  }
  if (with_data || with_pool) {
    SEXP rows = PROTECT(allocVector(VECSXP, ROWS_LENGTH));
    setAttrib(rows, R_NamesSymbol, rows_names);
    SET_VECTOR_ELT(rows, ROWS_USED, integer_or_na(rows_used, with_data));
    SET_VECTOR_ELT(rows, ROWS_DROPPED, integer_or_na(rows_dropped, with_data));
    SET_VECTOR_ELT(rows, ROWS_POOL_USED, integer_or_na(pool_used, with_pool));
    SET_VECTOR_ELT(rows, ROWS_POOL_DROPPED, integer_or_na(pool_dropped, with_pool));
    SET_VECTOR_ELT(fit, FIT_ROWS, rows);
    UNPROTECT(1);
    /* The scores, for questions asked of the fit later by the same
     * intervals (lawley_regression(), lawley_increment()). */
    SEXP kept_scores = PROTECT(allocVector(VECSXP, 2));
    setAttrib(kept_scores, R_NamesSymbol, scores_names);
    if (with_data) SET_VECTOR_ELT(kept_scores, 0, data_scores.values);
    if (with_pool) SET_VECTOR_ELT(kept_scores, 1, pool_scores.values);
    SET_VECTOR_ELT(fit, FIT_SCORES, kept_scores);
    UNPROTECT(1);
  }
  int failed_resamples = 0;
  if (asked.method != TOLBE_INTERVAL_NONE) {
    failed_resamples =
        intervals_into(fit, &pr, &asked, with_data ? &data_scores : NULL,
                       with_pool ? &pool_scores : NULL, first, operational_reliability);
  }
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
  if (diagnose) {
    /* What this file has to say, before the library's findings. */
    SEXP own = PROTECT(allocVector(VECSXP, 4));
    int n_own = 0;
    if (with_data && rows_dropped > 0) {
      SET_VECTOR_ELT(own, n_own++, dropped_note("data", rows_dropped, rows_used));
    }
    if (with_pool && pool_dropped > 0) {
      SET_VECTOR_ELT(own, n_own++, dropped_note("pool", pool_dropped, pool_used));
    }
    if (pr.n_defaulted > 0) SET_VECTOR_ELT(own, n_own++, defaulted_note(&pr));
    if (failed_resamples > 0) {
      Text t = {0};
      if (failed_resamples == asked.resamples) {
        putf(&t,
             "all %d bootstrap resamples were left out: in every one the selection block was not "
             "positive definite, so there are no intervals",
             failed_resamples);
      } else {
        putf(&t,
             "%d of %d bootstrap resamples were left out: in them the selection block was not "
             "positive definite; the intervals rest on the others",
             failed_resamples, asked.resamples);
      }
      SET_VECTOR_ELT(own, n_own++, own_item(TOLBE_WARNING, &t, allocVector(INTSXP, 0)));
    }
    own = PROTECT(lengthgets(own, n_own));
    if (d.n_findings > 0 || n_own > 0) out = said(fit, findings, &d, TOLBE_NOTE, own);
    UNPROTECT(2);
  }
  UNPROTECT(protected);
  return out;
}

/* ---------------------------------------------------------------------
 * The validity question, asked of a fit. */

/* The element `name` of the list `x`, or NULL. */
static SEXP element(SEXP x, const char* name) {
  SEXP names = getAttrib(x, R_NamesSymbol);
  for (R_xlen_t k = 0; k < XLENGTH(x) && !isNull(names); ++k) {
    if (strcmp(CHAR(STRING_ELT(names, k)), name) == 0) return VECTOR_ELT(x, k);
  }
  return R_NilValue;
}

static void NORET fail_fit(const char* what) {
  fail("'fit' is not as lawley() made it (%s); make it anew with lawley()", what);
}

/* The number `name` of fit$interval, NaN when it is missing or NA. */
static double interval_number(SEXP info, const char* name) {
  SEXP x = element(info, name);
  if ((TYPEOF(x) != REALSXP && TYPEOF(x) != INTSXP) || XLENGTH(x) != 1) return NAN;
  return number_at(x, 0);
}

/* The request that made the intervals of `fit`, described by fit$interval
 * (NULL: none) with the scores kept in fit$scores; the same seed gives the
 * bootstrap the same resamples. */
static tolbe_interval_request fit_request(SEXP info, SEXP scores, Scores* data, Scores* pool) {
  tolbe_interval_request request;
  tolbe_interval_request_init(&request);
  request.method = TOLBE_INTERVAL_NONE;
  if (isNull(info)) return request;
  static const char* methods[] = {"none", "normal", "adf", "bootstrap"};
  static const char* types[] = {"bca", "percentile"};
  request.method = choice(element(info, "method"), methods, 4);
  if (request.method < 0) fail_fit("its interval method is unknown");
  int bootstrap = request.method == TOLBE_INTERVAL_BOOTSTRAP;
  request.level = interval_number(info, "level");
  SEXP data_values = isNull(scores) ? R_NilValue : element(scores, "data");
  SEXP pool_values = isNull(scores) ? R_NilValue : element(scores, "pool");
  Scores* both[2] = {data, pool};
  SEXP values[2] = {data_values, pool_values};
  for (int k = 0; k < 2; ++k) {
    if (isNull(values[k])) continue;
    if (TYPEOF(values[k]) != REALSXP || !isMatrix(values[k])) fail_fit("its scores are no matrix");
    *both[k] = (Scores){values[k], nrows(values[k]), ncols(values[k]), R_NilValue};
  }
  if (!isNull(data_values)) {
    request.data = library_scores(data);
  } else {
    double n = interval_number(info, "n");
    if (!(n >= 2 && n <= INT_MAX)) fail_fit("its n is missing");
    request.n = (int)n;
  }
  if (!isNull(pool_values)) {
    request.pool = library_scores(pool);
  } else {
    double n = interval_number(info, "n_unrestricted");
    request.n_unrestricted = isnan(n) ? 0 : (int)n;
  }
  if (bootstrap) {
    double B = interval_number(info, "B");
    unsigned long long seed = 0;
    int seeded = seed_of(element(info, "seed"), &seed);
    double threads = interval_number(info, "threads");
    int type = choice(element(info, "ci_type"), types, 2);
    if (isnan(B) || !seeded || type < 0) fail_fit("its bootstrap is not described");
    request.resamples = (int)B;
    request.seed = seed;
    request.threads = isnan(threads) ? 0 : (int)threads;
    request.interval = type;
  }
  return request;
}

/* Stops when the predictors x[from..to) of the argument `what` name one
 * variable twice, or the criterion y. */
static void check_predictors(const int* x, int from, int to, int y, const char* what, SEXP names) {
  int twice = repeated_variable(x + from, to - from);
  if (twice >= 0) {
    Text t = {0};
    putf(&t, "%s names ", what);
    put_variable(&t, names, twice);
    put(&t, " more than once");
    fail_text(&t);
  }
  for (int j = from; j < to; ++j) {
    if (x[j] != y) continue;
    Text t = {0};
    put(&t, "the criterion ");
    put_variable(&t, names, y);
    putf(&t, " is among %s", strcmp(what, "'predictors'") == 0 ? "the predictors" : what);
    fail_text(&t);
  }
}

/* lawley_regression()'s and lawley_increment()'s values: the question of
 * `criterion` on `predictors` (a regression, `added` NULL), or on `base`
 * and `added` (an increment: `predictors` is the base set), as the user
 * gave them, asked of the correction that made `fit` with the same
 * intervals. Each refusal names the argument the user gave. Returns
 * list(estimate, se, lower, upper) of tolbe_validity_values() values each,
 * failed_resamples and percentile_fallbacks. */
static SEXP C_validity(SEXP fit, SEXP criterion, SEXP predictors, SEXP added) {
  if (!inherits(fit, "tolbe_lawley") || TYPEOF(fit) != VECSXP) {
    fail("'fit' must be what lawley() returns");
  }
  SEXP restricted = element(fit, "restricted");
  SEXP unrestricted = element(fit, "unrestricted");
  SEXP selection = element(fit, "selection");
  SEXP reliabilities = element(fit, "reliabilities");
  if (TYPEOF(restricted) != REALSXP || !isMatrix(restricted) ||
      nrows(restricted) != ncols(restricted)) {
    fail_fit("'restricted' is no square matrix");
  }
  int q = nrows(restricted);
  if (TYPEOF(selection) != INTSXP || LENGTH(selection) > q) fail_fit("'selection' is wrong");
  int p = LENGTH(selection);
  if (TYPEOF(unrestricted) != REALSXP || !isMatrix(unrestricted) || nrows(unrestricted) != p ||
      ncols(unrestricted) != p) {
    fail_fit("'unrestricted' is not p x p");
  }
  if (!isNull(reliabilities) && (TYPEOF(reliabilities) != REALSXP || LENGTH(reliabilities) != q)) {
    fail_fit("'reliabilities' is wrong");
  }
  SEXP names = variable_names(restricted);
  int* selected = index_list(p);
  int* is_selected = index_list(q);
  for (int v = 0; v < q; ++v) is_selected[v] = 0;
  for (int k = 0; k < p; ++k) {
    int v = INTEGER(selection)[k];
    if (v == NA_INTEGER || v < 1 || v > q || is_selected[v - 1]) fail_fit("'selection' is wrong");
    selected[k] = v - 1;
    is_selected[v - 1] = 1;
  }

  if (isNull(criterion) || XLENGTH(criterion) != 1) {
    fail("'criterion' must be one variable, by name or number");
  }
  int y;
  variables_of(criterion, "'criterion'", names, "the fit", "variable names", q, &y);
  int increment = !isNull(added);
  const char* first = increment ? "'base'" : "'predictors'";
  if (isNull(predictors) || XLENGTH(predictors) == 0) {
    fail("%s must name at least one variable", first);
  }
  if (increment && XLENGTH(added) == 0) fail("'added' must name at least one variable");
  R_xlen_t given = XLENGTH(predictors) + (increment ? XLENGTH(added) : 0);
  if (given > 50) {
    fail(increment ? "'base' and 'added' name %lld variables; at most 50 are taken"
                   : "'predictors' names %lld variables; at most 50 are taken",
         (long long)given);
  }
  int* x = index_list((int)given);
  int n_first = variables_of(predictors, first, names, "the fit", "variable names", q, x);
  int k = n_first;
  if (increment) k += variables_of(added, "'added'", names, "the fit", "variable names", q, x + k);
  check_predictors(x, 0, n_first, y, first, names);
  if (increment) {
    check_predictors(x, n_first, k, y, "'added'", names);
    for (int j = n_first; j < k; ++j) {
      for (int i = 0; i < n_first; ++i) {
        if (x[i] != x[j]) continue;
        Text t = {0};
        put(&t, "'base' and 'added' both name ");
        put_variable(&t, names, x[j]);
        fail_text(&t);
      }
    }
  }
  int base_size = increment ? n_first : 0;

  /* The problem as the fit had it: the others' reliabilities in index
   * order (1 where none was given), the criterion's own. */
  int m = q - p;
  double* rel = NULL;
  double criterion_reliability = 1.0;
  if (!isNull(reliabilities)) {
    rel = (double*)R_alloc(m > 0 ? (size_t)m : 1, sizeof(double));
    for (int v = 0, j = 0; v < q; ++v) {
      if (is_selected[v]) continue;
      double r = REAL(reliabilities)[v];
      rel[j++] = isnan(r) ? 1.0 : r;
    }
    if (!isnan(REAL(reliabilities)[y])) criterion_reliability = REAL(reliabilities)[y];
  }
  Scores data = {0}, pool = {0};
  tolbe_interval_request request =
      fit_request(element(fit, "interval"), element(fit, "scores"), &data, &pool);
  int ld_q = q > 0 ? q : 1, ld_p = p > 0 ? p : 1;
  const double* v = request.data.data != NULL ? NULL : REAL(restricted);
  const double* s = request.pool.data != NULL ? NULL : REAL(unrestricted);
  tolbe_validity_question question = {y, x, k, base_size, criterion_reliability};

  size_t count = tolbe_validity_values(k);
  SEXP out = PROTECT(allocVector(VECSXP, 6));
  const char* out_names[] = {
      "estimate", "se", "lower", "upper", "failed_resamples", "percentile_fallbacks"};
  setAttrib(out, R_NamesSymbol, strings(6, out_names));
  double* values[4];
  for (int j = 0; j < 4; ++j) {
    SET_VECTOR_ELT(out, j, allocVector(REALSXP, (R_xlen_t)count));
    values[j] = REAL(VECTOR_ELT(out, j));
  }
  size_t n_work = 0, n_int_work = 0;
  tolbe_interval_summary summary;
  memset(&summary, 0, sizeof summary);
  if (tolbe_lawley_validity_workspace(q, p, k, &request, &n_work, &n_int_work) != TOLBE_OK) {
    tolbe_lawley_validity(q, p, v, ld_q, s, ld_p, selected, rel, rel != NULL ? m : 0, &request,
                          &question, NULL, NULL, NULL, NULL, NULL, 0, NULL, 0, &summary);
    fail("the validity values cannot be computed: %s",
         summary.reason != NULL ? summary.reason : "invalid request");
  }
  refuse_workspace("the validity question", n_work, n_int_work);
  double* work = (double*)R_alloc(n_work > 0 ? n_work : 1, sizeof(double));
  int* int_work = (int*)R_alloc(n_int_work > 0 ? n_int_work : 1, sizeof(int));
  int status = tolbe_lawley_validity(q, p, v, ld_q, s, ld_p, selected, rel, rel != NULL ? m : 0,
                                     &request, &question, values[0], values[1], values[2],
                                     values[3], work, n_work, int_work, n_int_work, &summary);
  if (status == TOLBE_NOT_POSITIVE_DEFINITE) {
    Text t = {0};
    put(&t, "the corrected var/cov matrix of the predictors (");
    put_variables(&t, names, x, k);
    put(&t,
        ") or of the base set is not positive definite: a predictor is a linear combination "
        "of others");
    fail_text(&t);
  }
  if (status != TOLBE_OK) {
    fail("the validity values cannot be computed: %s",
         summary.reason != NULL && summary.reason[0] != '\0' ? summary.reason
                                                             : tolbe_status_text(status));
  }
  int bootstrap = request.method == TOLBE_INTERVAL_BOOTSTRAP;
  SET_VECTOR_ELT(out, 4, integer_or_na(summary.failed_resamples, bootstrap));
  SET_VECTOR_ELT(out, 5, integer_or_na(summary.percentile_fallbacks, bootstrap));
  UNPROTECT(1);
  return out;
}

/* The predictors of the criterion `criterion` (a number from 1) of `q`
 * variables when none are named, by the library's rule: every variable
 * but the criterion and the `criteria` (numbers from 1: those named, and
 * those given a reliability). Numbers from 1. */
static SEXP C_default_predictors(SEXP q, SEXP criterion, SEXP criteria) {
  int n = asInteger(q);
  int y = asInteger(criterion);
  if (n == NA_INTEGER || n < 0 || y == NA_INTEGER || TYPEOF(criteria) != INTSXP ||
      XLENGTH(criteria) > n) {
    fail("tolbe: the default predictors were asked with arguments that do not fit");
  }
  int m = LENGTH(criteria);
  int* named = index_list(m);
  for (int k = 0; k < m; ++k) {
    int c = INTEGER(criteria)[k];
    named[k] = c == NA_INTEGER ? -1 : c - 1;
  }
  int* out = index_list(n);
  int count = tolbe_default_predictors(n, y - 1, named, m, out);
  if (count < 0) fail("tolbe: the default predictors were asked with arguments that do not fit");
  SEXP predictors = PROTECT(allocVector(INTSXP, count));
  for (int k = 0; k < count; ++k) INTEGER(predictors)[k] = out[k] + 1;
  UNPROTECT(1);
  return predictors;
}

static const R_CallMethodDef call_methods[] = {
    {"C_lawley", (DL_FUNC)&C_lawley, 20},
    {"C_validity", (DL_FUNC)&C_validity, 4},
    {"C_default_predictors", (DL_FUNC)&C_default_predictors, 3},

    {NULL, NULL, 0}};

void R_init_tolbe(DllInfo* info) {
  make_names();
  R_registerRoutines(info, NULL, call_methods, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
