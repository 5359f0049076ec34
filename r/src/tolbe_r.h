/* What the R glue's files share: messages, names, raw scores, the names
 * and class every object is made with, and the problem a call resolved
 * to. Each .c file says its own job at its top. */
#ifndef TOLBE_R_H
#define TOLBE_R_H

#include <R.h>
#include <Rinternals.h>
#include <stddef.h>

#include "tolbe/tolbe.h"

/* text.c: messages and names. */
const char* copied(const char* s);
void NORET fail(const char* format, ...);
SEXP variable_names(SEXP x);
double number_at(SEXP x, R_xlen_t k);
int* index_list(int n);
double* value_list(size_t n);
SEXP words(const char* spaced);
SEXP labelled_variables(const int* list, int n, SEXP names);

/* call.c: lawley()'s and the validity question's arguments as the
 * library's request layer takes them. */
void given_of(SEXP x, tolbe_given* out);
const char* const* texts_of(SEXP names, int n);
const char* const* strings_of(SEXP x, int n);
tolbe_spelling r_spelling(void);
SEXP resolve(const tolbe_call* call, tolbe_resolution** out, SEXP names);
void NORET refuse(const char* message, const char* code, int argument, SEXP variables);
void stop_if_refused(SEXP holder, int code, SEXP names);
void release(SEXP holder);

/* input.c: the matrices and raw scores as the library reads them. */
typedef struct {
  SEXP values; /* rows x columns doubles, column-major, NA (a NaN) where missing */
  int rows;
  int columns;
  SEXP names; /* the column names, or R_NilValue */
} Scores;
SEXP square_matrix(SEXP x, int argument);
SEXP scores_names_of(SEXP x);
int scores_columns(SEXP x, int argument);
SEXP raw_scores(SEXP x, int argument, const int* list, int n, Scores* out);
tolbe_scores library_scores(const Scores* s);

/* The problem as the request layer resolved it, with R's matrices. */
typedef struct {
  int q, p;
  SEXP restricted;   /* q x q doubles */
  SEXP unrestricted; /* p x p doubles, in selection order */
  SEXP names;        /* the variable names, or R_NilValue */
  tolbe_resolved r;
} Problem;

/* findings.c */
SEXP diagnostics_list(const tolbe_fit* f, const tolbe_diagnostics* d);

/* intervals.c */
SEXP integer_or_na(int value, int applies);
void intervals_into(SEXP fit, const tolbe_fit* f, SEXP dimnames, int with_data, int with_pool);
tolbe_interval_request fit_request(SEXP info, SEXP scores, Scores* data, Scores* pool);
SEXP element(SEXP x, const char* name);

/* init.c: names and class made once, at load, and kept from the
 * collector; values most diagnostics hold, shared. */
extern SEXP fit_names, fit_class, diagnostics_names, pair_dimnames, no_places, frame_names,
    frame_class, no_findings, said_names, matrix_names, bound_names, interval_names, rows_names,
    scores_names, validity_names, offset_names, integer_zero, integer_na, real_zero, no_place,
    no_reason, library_version;
SEXP findings_frame(int n);
SEXP C_lawley(SEXP restricted, SEXP unrestricted, SEXP selection, SEXP reliabilities,
              SEXP restricted_means, SEXP unrestricted_means, SEXP diagnostics, SEXP triangle,
              SEXP data, SEXP pool, SEXP n, SEXP n_unrestricted, SEXP interval, SEXP B, SEXP level,
              SEXP seed, SEXP threads, SEXP ci_type, SEXP criteria, SEXP reliability_sample);
SEXP C_validity(SEXP fit, SEXP criterion, SEXP predictors, SEXP added);
SEXP C_default_predictors(SEXP q, SEXP criterion, SEXP criteria);
SEXP C_correct_r(SEXP r, SEXP n, SEXP method, SEXP ux, SEXP uy, SEXP rxx, SEXP ryy, SEXP rxx_sample,
                 SEXP ryy_sample, SEXP sign_xz, SEXP sign_yz, SEXP level);
SEXP C_study_problem_message(SEXP name);

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
  INTERVAL_DESCRIPTION,
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

#endif
