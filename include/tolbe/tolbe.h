/* tolbe: Lawley's (1943) multivariate correction for range restriction, C API.
 *
 * The same functions as the C++ API in <tolbe/lawley.h>, which documents the
 * formulae and which elements are read. Matrices are column-major with a
 * leading dimension ld >= max(1, rows); indices are numbered from 0.
 * Nothing here keeps state, prints, exits or allocates; every function is
 * reentrant and thread-safe. */
#ifndef TOLBE_TOLBE_H
#define TOLBE_TOLBE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define TOLBE_OK 0
#define TOLBE_NOT_POSITIVE_DEFINITE 1
#define TOLBE_INVALID_ARGUMENT 2

/* Which argument was invalid (tolbe_diagnostics.argument). */
#define TOLBE_ARGUMENT_NONE 0
#define TOLBE_ARGUMENT_Q 1
#define TOLBE_ARGUMENT_P 2
#define TOLBE_ARGUMENT_RESTRICTED 3
#define TOLBE_ARGUMENT_UNRESTRICTED 4
#define TOLBE_ARGUMENT_SELECTION 5
#define TOLBE_ARGUMENT_RELIABILITIES 6
#define TOLBE_ARGUMENT_RESULTS 7
#define TOLBE_ARGUMENT_WORKSPACE 8
#define TOLBE_ARGUMENT_MEANS 9
#define TOLBE_ARGUMENT_REQUEST 10
#define TOLBE_ARGUMENT_DATA 11
#define TOLBE_ARGUMENT_POOL 12

/* Severities of a finding. */
#define TOLBE_NOTE 0
#define TOLBE_WARNING 1
#define TOLBE_ERROR 2

/* The most findings one problem has. */
#define TOLBE_MAX_FINDINGS 31

/* The codes of the findings (stable; tolbe::FindingCode). */
#define TOLBE_FINDING_RESTRICTED_LOWER_TRIANGLE 1
#define TOLBE_FINDING_RESTRICTED_UPPER_TRIANGLE 2
#define TOLBE_FINDING_UNRESTRICTED_LOWER_TRIANGLE 3
#define TOLBE_FINDING_UNRESTRICTED_UPPER_TRIANGLE 4
#define TOLBE_FINDING_RESTRICTED_ASYMMETRIC 5
#define TOLBE_FINDING_UNRESTRICTED_ASYMMETRIC 6
#define TOLBE_FINDING_RESTRICTED_NOT_POSITIVE_DEFINITE 7
#define TOLBE_FINDING_UNRESTRICTED_NOT_POSITIVE_DEFINITE 8
#define TOLBE_FINDING_RESTRICTED_VARIANCE_NOT_POSITIVE 9
#define TOLBE_FINDING_UNRESTRICTED_VARIANCE_NOT_POSITIVE 10
#define TOLBE_FINDING_IMPLAUSIBLE_VARIANCE_RATIO 11
#define TOLBE_FINDING_COVARIANCES_BESIDE_CORRELATIONS 12
#define TOLBE_FINDING_TWO_CORRELATION_MATRICES 13
#define TOLBE_FINDING_RELIABILITY_OUT_OF_RANGE 14
#define TOLBE_FINDING_CORRECTED_VARIANCE_NOT_POSITIVE 15
#define TOLBE_FINDING_CORRELATION_OUT_OF_RANGE 16
#define TOLBE_FINDING_DISATTENUATED_OUT_OF_RANGE 17
#define TOLBE_FINDING_CORRELATIONS_BESIDE_COVARIANCES 18
#define TOLBE_FINDING_SIGN_CHANGE 19
#define TOLBE_FINDING_SELECTION_SIGN_CHANGE 20
#define TOLBE_FINDING_UNREAD_NOT_FINITE 21
#define TOLBE_FINDING_SELECTION_VARIANCE_GREW 22
#define TOLBE_FINDING_TOO_FEW_ROWS 23
#define TOLBE_FINDING_SMALL_SAMPLE 24
#define TOLBE_FINDING_SUSPECT_CODE 25
#define TOLBE_FINDING_OUTLYING_VALUE 26
#define TOLBE_FINDING_POOL_SUSPECT_CODE 27
#define TOLBE_FINDING_POOL_OUTLYING_VALUE 28
#define TOLBE_FINDING_POOL_WITHOUT_SELECTED 29
#define TOLBE_FINDING_POOL_HOLDS_SELECTED_TWICE 30
#define TOLBE_FINDING_HEAVY_TAILS 31

/* One finding of a correction, as tolbe::Finding (<tolbe/findings.h>, which
 * lists the codes): a stable code, its severity (an error: the results are
 * certainly wrong and must not be used), how many places it concerns, the
 * variables of the first (from 0; -1: none), its numbers and, for a value of
 * raw scores, its row (from 0; -1: none). */
typedef struct tolbe_finding {
  int code;
  int severity;
  int count;
  int variables[2];
  double numbers[2];
  int row;
} tolbe_finding;

/* What a call found; see tolbe::Diagnostics. Places are -1 when none. */
typedef struct tolbe_diagnostics {
  int status;
  int leading_minor;
  int argument;
  const char* reason;
  double restricted_asymmetry;
  double unrestricted_asymmetry;
  int restricted_positive_definite;
  int unrestricted_positive_definite;
  int nonpositive_variances;
  int first_nonpositive_variance;
  int correlations_out_of_range;
  int first_correlation_out_of_range[2];
  int disattenuated_out_of_range;
  int first_disattenuated_out_of_range[2];
  int reliabilities_out_of_range;
  int first_reliability_out_of_range;
  int sign_changes;
  int first_sign_change[2];
  /* The findings in plain words (tolbe_finding_message), errors first. */
  int n_findings;
  tolbe_finding findings[TOLBE_MAX_FINDINGS];
  /* Values of `restricted` the correction does not read that are not
   * finite, and the first of them (row, column). */
  int unread_not_finite;
  int first_unread_not_finite[2];
} tolbe_diagnostics;

/* The workspace a correction of q variables with p selection variables
 * needs: *doubles doubles and *ints ints (SIZE_MAX when the size overflows,
 * 0 for invalid sizes). Returns TOLBE_OK or TOLBE_INVALID_ARGUMENT. */
int tolbe_lawley_workspace(int q, int p, size_t* doubles, size_t* ints);

/* Corrects the q x q `restricted` var/cov matrix, whose p variables
 * selection[0..p-1] (NULL: 0..p-1) have the unrestricted var/cov matrix
 * `unrestricted` (p x p, in selection order). `reliabilities` holds the
 * n_reliabilities = q - p reliabilities of the other variables in index
 * order, or is NULL with n_reliabilities 0. Writes the corrected var/cov
 * matrix to `covariances`, the correlations to `correlations` (may be NULL)
 * and, with reliabilities, the disattenuated correlations to `disattenuated`
 * (may be NULL), each q x q in input order. Returns TOLBE_OK;
 * TOLBE_NOT_POSITIVE_DEFINITE (results all NaN); or TOLBE_INVALID_ARGUMENT
 * (nothing written but the diagnostics), checked before any computation.
 * `diagnostics` may be NULL; otherwise it receives every finding. */
int tolbe_lawley(int q, int p, const double* restricted, int ld_restricted,
                 const double* unrestricted, int ld_unrestricted, const int* selection,
                 const double* reliabilities, int n_reliabilities, double* covariances,
                 int ld_covariances, double* correlations, int ld_correlations,
                 double* disattenuated, int ld_disattenuated, double* work, size_t n_work,
                 int* int_work, size_t n_int_work, tolbe_diagnostics* diagnostics);

/* The pairs (rows[k] < columns[k]) whose restricted and corrected
 * correlations have opposite signs, at most `capacity` of them; returns the
 * count of all of them. */
int tolbe_lawley_sign_changes(int q, int p, const double* restricted, int ld_restricted,
                              const int* selection, const double* correlations, int ld_correlations,
                              int* rows, int* columns, int capacity);

/* Corrected means: q values in `means`; see tolbe::lawley_means. Same
 * workspace as tolbe_lawley. */
int tolbe_lawley_means(int q, int p, const double* restricted, int ld_restricted,
                       const double* unrestricted, int ld_unrestricted, const int* selection,
                       const double* restricted_means, const double* unrestricted_means,
                       double* means, double* work, size_t n_work, int* int_work, size_t n_int_work,
                       tolbe_diagnostics* diagnostics);

/* cov(i, j) = r(i, j) sd(i) sd(j) for an n x n correlation matrix;
 * `covariances` may be `correlations`. */
void tolbe_cov_from_correlations(int n, const double* correlations, int ld_correlations,
                                 const double* sd, double* covariances, int ld_covariances);

/* The message of a finding, written as snprintf writes into `buffer` (size
 * bytes; may be NULL when size is 0); returns its whole length. Variable v
 * is named names[v] when v < n_names and names[v] is not NULL, else
 * "variable N" with N = v + 1. `names` may be NULL. */
size_t tolbe_finding_message(const tolbe_finding* finding, const char* const* names, int n_names,
                             char* buffer, size_t size);

/* The stable name of a finding's code, such as "restricted_lower_triangle";
 * "" for an unknown code. */
const char* tolbe_finding_code_name(int code);

/* "note", "warning" or "error"; "" for another value. */
const char* tolbe_severity_name(int severity);

/* "ok", "selection block not positive definite" or "invalid argument". */
const char* tolbe_status_text(int status);

/* ---- Standard errors and intervals (<tolbe/intervals.h>) ---------------- */

#define TOLBE_INTERVAL_NONE 0
#define TOLBE_INTERVAL_NORMAL 1
#define TOLBE_INTERVAL_ADF 2
#define TOLBE_INTERVAL_BOOTSTRAP 3
#define TOLBE_BOOTSTRAP_BCA 0
#define TOLBE_BOOTSTRAP_PERCENTILE 1

/* Raw scores: rows x columns, column-major with leading dimension ld; a row
 * holding a NaN is missing. */
typedef struct tolbe_scores {
  int rows;
  int columns;
  const double* data;
  int ld;
} tolbe_scores;

/* See tolbe::IntervalRequest; tolbe_interval_request_init() sets the
 * defaults (normal, level .95, 2000 resamples, seed 0, all threads, BCa). */
typedef struct tolbe_interval_request {
  int method;
  double level;
  int n;
  int n_unrestricted;
  tolbe_scores data; /* rows 0 and data NULL: none */
  tolbe_scores pool;
  int resamples;
  unsigned long long seed;
  int threads;
  int interval;
} tolbe_interval_request;

void tolbe_interval_request_init(tolbe_interval_request* request);

/* Where the SEs and bounds go (any pointer may be NULL), each q x q with
 * leading dimension ld; the V and S used (q x q, p x p; may be NULL). */
typedef struct tolbe_interval_matrices {
  double* se;
  double* lower;
  double* upper;
  int ld;
} tolbe_interval_matrices;
typedef struct tolbe_interval_results {
  tolbe_interval_matrices covariances;
  tolbe_interval_matrices correlations;
  tolbe_interval_matrices disattenuated;
  double* restricted;
  int ld_restricted;
  double* unrestricted;
  int ld_unrestricted;
} tolbe_interval_results;

/* See tolbe::IntervalSummary. */
typedef struct tolbe_interval_summary {
  int status;
  int argument;
  const char* reason;
  int leading_minor;
  int method;
  int interval;
  double level;
  int n;
  int n_unrestricted;
  int rows_dropped;
  int pool_rows_dropped;
  int resamples;
  int failed_resamples;
  int threads;
  int percentile_fallbacks;
} tolbe_interval_summary;

/* The workspace tolbe_lawley_intervals needs; TOLBE_INVALID_ARGUMENT (and
 * zeros) for invalid sizes or request. */
int tolbe_lawley_intervals_workspace(int q, int p, const tolbe_interval_request* request,
                                     size_t* doubles, size_t* ints);

/* SEs and intervals of the correction (tolbe::lawley_intervals). With raw
 * restricted scores `restricted` must be NULL, with raw pool scores
 * `unrestricted`. Returns a status; `summary` may be NULL. */
int tolbe_lawley_intervals(int q, int p, const double* restricted, int ld_restricted,
                           const double* unrestricted, int ld_unrestricted, const int* selection,
                           const double* reliabilities, int n_reliabilities,
                           const tolbe_interval_request* request,
                           const tolbe_interval_results* results, double* work, size_t n_work,
                           int* int_work, size_t n_int_work, tolbe_interval_summary* summary);

/* Means and var/cov matrix (divisor complete rows - 1) of the complete rows
 * of `scores`; *rows_used and *rows_dropped (may be NULL) count them.
 * Returns TOLBE_OK or TOLBE_INVALID_ARGUMENT (then *reason, when not NULL,
 * says why). */
int tolbe_covariance_from_data(const tolbe_scores* scores, double* means, double* covariances,
                               int ld_covariances, int* rows_used, int* rows_dropped,
                               const char** reason);

/* ---- The validity question (<tolbe/validity.h>) ---------------------------- */

/* One criterion, its predictors (input indices), the base set (the first
 * `base` predictors; 0: none) and the criterion's reliability in the
 * unrestricted population (1: none). */
typedef struct tolbe_validity_question {
  int criterion;
  const int* predictors;
  int n_predictors;
  int base;
  double criterion_reliability;
} tolbe_validity_question;

/* The number of values of a question with k predictors, 4k + 6, in the
 * order of tolbe::ValidityResults: b, beta, validities, operational
 * validities (k each), R^2, R, operational R, base R^2, Delta R^2, Delta R. */
size_t tolbe_validity_values(int n_predictors);

/* The workspace tolbe_lawley_validity needs; TOLBE_INVALID_ARGUMENT (and
 * zeros) for invalid sizes or request. */
int tolbe_lawley_validity_workspace(int q, int p, int n_predictors,
                                    const tolbe_interval_request* request, size_t* doubles,
                                    size_t* ints);

/* The question's values with SEs and bounds (tolbe::lawley_validity; the
 * request's method TOLBE_INTERVAL_NONE gives estimates only). `estimate`,
 * `se`, `lower` and `upper` hold tolbe_validity_values() values each; any
 * may be NULL. Returns a status; `summary` may be NULL. */
int tolbe_lawley_validity(int q, int p, const double* restricted, int ld_restricted,
                          const double* unrestricted, int ld_unrestricted, const int* selection,
                          const double* reliabilities, int n_reliabilities,
                          const tolbe_interval_request* request,
                          const tolbe_validity_question* question, double* estimate, double* se,
                          double* lower, double* upper, double* work, size_t n_work, int* int_work,
                          size_t n_int_work, tolbe_interval_summary* summary);

/* A criterion's reliability in the unrestricted population from its
 * reliability in the restricted sample (tolbe::unrestricted_reliability). */
double tolbe_unrestricted_reliability(double restricted_reliability, double restricted_variance,
                                      double corrected_variance);

/* The operational correlations (or their SEs or bounds): the criteria's
 * reliabilities (1 for the other variables) divide the correlations, the
 * predictors' do not (tolbe::operational_correlations). */
void tolbe_operational_correlations(int q, const double* correlations, int ld_correlations,
                                    const double* criterion_reliabilities, double* out, int ld_out);

/* ---- Screening of raw scores and sample sizes (<tolbe/screening.h>) ------- */

/* The findings of raw scores, or of a sample size alone, added to
 * diagnostics->findings (as tolbe_lawley() left them), which stay in their
 * order: errors first, then warnings, then notes. `data`: the restricted
 * scores, q columns in variable order, or NULL (matrices: then n is the
 * restricted sample size, 0 when unknown). `pool`: the pool's scores, p
 * columns in the order of `selection` (p indices; NULL: 0..p-1), or NULL.
 * Returns TOLBE_OK, or TOLBE_INVALID_ARGUMENT (diagnostics NULL, q or p out
 * of range) and adds nothing; also adds nothing when memory runs out. */
int tolbe_screen(int q, int p, const tolbe_scores* data, const tolbe_scores* pool,
                 const int* selection, int n, tolbe_diagnostics* diagnostics);

/* The predictors of a validity question whose predictors are not named:
 * every variable but the criterion and the criteria (criteria[0 ..
 * n_criteria - 1], the variables with a reliability given or named as
 * criteria), in index order, into `out` (room for q). Returns their count,
 * or -1 for invalid arguments (tolbe::default_predictors). */
int tolbe_default_predictors(int q, int criterion, const int* criteria, int n_criteria, int* out);

/* 0 when a workspace of `doubles` doubles and `ints` ints is within the
 * library's bound on the memory of the intervals (1 GiB); otherwise the
 * refusal, "WHAT would need about N MiB of memory, more than the 1024 MiB
 * tolbe allows itself; use fewer resamples", written as snprintf writes,
 * and its whole length (tolbe::workspace_refusal). */
size_t tolbe_workspace_refusal(const char* what, size_t doubles, size_t ints, char* buffer,
                               size_t size);

/* ---- What a call means (<tolbe/request.h>) ------------------------------- */

/* Bounds and defaults, the same on every route. */
#define TOLBE_MAX_VARIABLES 50
#define TOLBE_DEFAULT_LEVEL 0.95
#define TOLBE_DEFAULT_RESAMPLES 2000
#define TOLBE_MIN_RESAMPLES 10
#define TOLBE_MAX_RESAMPLES 1000000
#define TOLBE_MIN_BOOTSTRAP_ROWS 3

/* The parts of a validity question's values (tolbe_validity_values), and
 * where each starts: b, beta, validities and operational validities hold
 * one value per predictor, the others one each. */
#define TOLBE_VALIDITY_B 0
#define TOLBE_VALIDITY_BETA 1
#define TOLBE_VALIDITY_VALIDITY 2
#define TOLBE_VALIDITY_OPERATIONAL_VALIDITY 3
#define TOLBE_VALIDITY_R2 4
#define TOLBE_VALIDITY_R 5
#define TOLBE_VALIDITY_OPERATIONAL_R 6
#define TOLBE_VALIDITY_BASE_R2 7
#define TOLBE_VALIDITY_DELTA_R2 8
#define TOLBE_VALIDITY_DELTA_R 9
size_t tolbe_validity_offset(int n_predictors, int part);

/* The arguments of a call (tolbe::CallArgument). */
#define TOLBE_CALL_NONE 0
#define TOLBE_CALL_RESTRICTED 1
#define TOLBE_CALL_UNRESTRICTED 2
#define TOLBE_CALL_DATA 3
#define TOLBE_CALL_POOL 4
#define TOLBE_CALL_SELECTION 5
#define TOLBE_CALL_RELIABILITIES 6
#define TOLBE_CALL_RELIABILITY_SAMPLE 7
#define TOLBE_CALL_CRITERIA 8
#define TOLBE_CALL_RESTRICTED_MEANS 9
#define TOLBE_CALL_UNRESTRICTED_MEANS 10
#define TOLBE_CALL_INTERVAL 11
#define TOLBE_CALL_N 12
#define TOLBE_CALL_N_UNRESTRICTED 13
#define TOLBE_CALL_LEVEL 14
#define TOLBE_CALL_RESAMPLES 15
#define TOLBE_CALL_SEED 16
#define TOLBE_CALL_THREADS 17
#define TOLBE_CALL_CI_TYPE 18
#define TOLBE_CALL_CRITERION 19
#define TOLBE_CALL_PREDICTORS 20
#define TOLBE_CALL_BASE 21
#define TOLBE_CALL_ADDED 22
#define TOLBE_CALL_TRIANGLE 23
#define TOLBE_CALL_DIAGNOSTICS 24
#define TOLBE_CALL_ARGUMENTS 25

/* How an argument was given (tolbe::Given). */
#define TOLBE_GIVEN_ABSENT 0
#define TOLBE_GIVEN_NUMBERS 1
#define TOLBE_GIVEN_TEXTS 2
#define TOLBE_GIVEN_OTHER 3 /* neither numbers nor texts */

/* One argument as the user gave it: `length` numbers (NaN: missing) or
 * UTF-8 texts, and the elements' names (NULL: none; an element NULL or "":
 * unnamed). */
typedef struct tolbe_given {
  int kind;
  int length;
  const double* numbers;
  const char* const* texts;
  const char* const* names;
} tolbe_given;

/* How the client's users write the arguments (tolbe::Spelling): `names`
 * (TOLBE_CALL_ARGUMENTS texts, or NULL: the stable names), `mention` and
 * `assignment` patterns with "{}", what a matrix's names are called, and
 * whether variables are counted from 1 or 0. NULL patterns: R's quoting.
 *
 * A call as the client took it (tolbe::Call); tolbe_call_init() sets every
 * argument absent and the spelling to R's quoting, counted from 1.
 * `names`: q variable names or NULL; `unrestricted_names`: p names or
 * NULL. */
typedef struct tolbe_spelling {
  const char* const* names;
  const char* mention;
  const char* assignment;
  const char* matrix_names;
  int first_index;
  const char* missing_value; /* a missing value as users write it; NULL: "NaN" */
} tolbe_spelling;

typedef struct tolbe_call {
  tolbe_spelling spelling;
  int q;
  const char* const* names;
  int from_data;
  int p;
  const char* const* unrestricted_names;
  int from_pool;
  const double* unrestricted;
  int ld_unrestricted;
  int mirrors_triangle;
  tolbe_given arguments[TOLBE_CALL_ARGUMENTS]; /* indexed by TOLBE_CALL_* */
} tolbe_call;

void tolbe_call_init(tolbe_call* call);

/* Refuses a side given twice or not at all, or means beside raw scores
 * (tolbe::sources_refusal; each flag nonzero: given). Returns 0, or the
 * refusal's code with its argument in *argument (may be NULL) and its
 * message written into `message` as snprintf writes. */
int tolbe_sources_refusal(const tolbe_spelling* spelling, int restricted, int data,
                          int unrestricted, int pool, int restricted_means, int unrestricted_means,
                          int* argument, char* message, size_t size);

/* The refusal codes (tolbe::RefusalCode); tolbe_refusal_code_name() names
 * them. */
const char* tolbe_refusal_code_name(int code);

/* The stable name of an argument, such as "selection"; "" for another. */
const char* tolbe_call_argument_name(int argument);

/* A resolved call, or its refusal: made by tolbe_resolve(), freed by
 * tolbe_resolution_free(). */
typedef struct tolbe_resolution tolbe_resolution;

/* The call resolved (tolbe::resolve_call); NULL when memory runs out. */
tolbe_resolution* tolbe_resolve(const tolbe_call* call);
void tolbe_resolution_free(tolbe_resolution* resolution);

/* The refusal: its code (0: none, the call is resolved), argument,
 * message (valid until the resolution is freed) and variables. */
int tolbe_refusal_code(const tolbe_resolution* resolution);
int tolbe_refusal_argument(const tolbe_resolution* resolution);
const char* tolbe_refusal_message(const tolbe_resolution* resolution);
int tolbe_refusal_variables(const tolbe_resolution* resolution, const int** variables);

/* The resolved call; pointers are into the resolution (NULL when there
 * is nothing: no reliabilities, no means). Indices from 0. */
typedef struct tolbe_resolved {
  int q;
  int p;
  const int* selection;         /* p */
  const int* unrestricted_rows; /* p: the row (pool column) of each selection variable */
  int reordered;
  const int* position;                  /* q */
  const int* others;                    /* q - p */
  const double* reliabilities;          /* q - p, or NULL */
  const double* reliabilities_as_given; /* q - p, or NULL */
  const char* reliability_given;        /* q - p, or NULL */
  const char* from_restricted;          /* q - p, or NULL */
  const int* defaulted;
  int n_defaulted;
  const int* criteria;
  int n_criteria;
  const double* restricted_means;   /* q, or NULL */
  const double* unrestricted_means; /* p, or NULL */
  int method;
  int ci_type;
  double level;
  int n;
  int n_unrestricted;
  int resamples;
  unsigned long long seed;
  int seed_given;
  int threads;
} tolbe_resolved;

/* Fills `out`; returns TOLBE_OK, or TOLBE_INVALID_ARGUMENT when the call
 * was refused. */
int tolbe_resolution_get(const tolbe_resolution* resolution, tolbe_resolved* out);

/* The reliabilities measured in the restricted sample converted by the
 * restricted and corrected var/cov matrices (tolbe::convert_reliabilities);
 * returns the refusal's code (0: converted). */
int tolbe_resolution_convert(tolbe_resolution* resolution, const double* restricted,
                             int ld_restricted, const double* corrected, int ld_corrected);

/* Refuses too few complete rows of raw scores `argument` (TOLBE_CALL_DATA
 * or TOLBE_CALL_POOL) for the method (tolbe::rows_refusal); returns the
 * refusal's code (0: enough). */
int tolbe_resolution_check_rows(tolbe_resolution* resolution, int argument, int rows_used);

/* The note that the others named no reliability are taken as 1, written
 * as snprintf writes; its whole length (0: no note). */
size_t tolbe_resolution_defaulted_note(const tolbe_resolution* resolution, char* buffer,
                                       size_t size);

/* A validity question (tolbe::QuestionCall): q variables, named or not,
 * the fit's criteria, and the criterion, the predictors (or the base set)
 * and the predictors added to it (an increment) as the user gave them. */
typedef struct tolbe_question_call {
  tolbe_spelling spelling;
  int q;
  const char* const* names;
  const int* criteria;
  int n_criteria;
  tolbe_given criterion;
  tolbe_given predictors;
  tolbe_given added;
} tolbe_question_call;

/* Resolves a question (tolbe::resolve_question) into *criterion,
 * predictors (room for q), *n_predictors and *base; returns 0, or the
 * refusal's code with its argument in *argument and its message written
 * into `message` as snprintf writes (size bytes). */
int tolbe_resolve_question(const tolbe_question_call* question, int* criterion, int* predictors,
                           int* n_predictors, int* base, int* argument, char* message, size_t size);

/* The refusal of a question whose predictors' corrected var/cov matrix is
 * not positive definite, written as snprintf writes; its whole length. */
size_t tolbe_question_not_positive_definite(const tolbe_question_call* question,
                                            const int* predictors, int n_predictors, char* message,
                                            size_t size);

/* A matrix or raw scores as the client read them (tolbe::Shape): names
 * NULL or as many as there are, an element NULL or "" unnamed. */
typedef struct tolbe_shape {
  int numeric;
  long rows;
  long columns;
  const char* const* row_names;
  int n_row_names;
  const char* const* column_names;
  int n_column_names;
  const int* not_numbers;
  int n_not_numbers;
} tolbe_shape;

/* The refusal of a var/cov matrix argument (TOLBE_CALL_RESTRICTED or
 * _UNRESTRICTED) or of raw scores (TOLBE_CALL_DATA or _POOL) of `shape`:
 * 0, or its code with the message written as snprintf writes. */
int tolbe_matrix_refusal(const tolbe_spelling* spelling, int argument, const tolbe_shape* shape,
                         char* message, size_t size);
int tolbe_scores_refusal(const tolbe_spelling* spelling, int argument, const tolbe_shape* shape,
                         char* message, size_t size);

/* Whether the n x n `a` may be a triangle entered alone (one side all 0
 * or NaN), and whether it certainly is one (one side empty, the other
 * not). */
int tolbe_may_be_triangle(int n, const double* a, int ld);
int tolbe_one_sided(int n, const double* a, int ld);

/* ---- A fit: the whole of one correction (<tolbe/fit.h>) ----------------- */

/* What a fit is made from (tolbe::FitSources): V or the data's raw scores,
 * S as the call gave it or the pool's scores of the selection variables in
 * selection order (data NULL: none), the triangle mirrored (0, 'l' or 'u'),
 * whether to keep the findings and say the notes, and the bootstrap's seed
 * when the call gave none. */
typedef struct tolbe_fit_sources {
  const double* restricted;
  int ld_restricted;
  const double* unrestricted;
  int ld_unrestricted;
  tolbe_scores data;
  tolbe_scores pool;
  int triangle;
  int diagnostics;
  unsigned long long seed;
} tolbe_fit_sources;

typedef struct tolbe_fit tolbe_fit;

/* The fit of a resolved call on `sources`; the resolution then holds the
 * reliabilities as converted. NULL when out of memory or the resolution
 * is a refusal. Free with tolbe_fit_free(). */
tolbe_fit* tolbe_fit_make(tolbe_resolution* resolution, const tolbe_fit_sources* sources);
void tolbe_fit_free(tolbe_fit* fit);

/* Whether the fit is refused: its messages are then the errors, and it
 * has no results. */
int tolbe_fit_refused(const tolbe_fit* fit);

/* What the fit has to say (tolbe::FitMessage): the errors of a refused
 * fit, or with diagnostics its notes, then the findings. The texts live as
 * long as the fit; `variables` from 0; `argument` a TOLBE_CALL_* for a
 * refusal, else 0; `row` from 0, or -1. */
typedef struct tolbe_fit_message {
  const char* code;
  int severity;
  int argument;
  const char* message;
  const int* variables;
  int n_variables;
  int row;
} tolbe_fit_message;
int tolbe_fit_messages(const tolbe_fit* fit);
int tolbe_fit_message_get(const tolbe_fit* fit, int k, tolbe_fit_message* out);

/* The matrices, each q x q column-major: by TOLBE_FIT_*; NULL when the fit
 * has none (the disattenuated correlations without reliabilities). With
 * intervals, the SEs and bounds of each by TOLBE_FIT_SE, _LOWER, _UPPER. */
#define TOLBE_FIT_COV 0
#define TOLBE_FIT_COR 1
#define TOLBE_FIT_DISATTENUATED 2
#define TOLBE_FIT_OPERATIONAL 3
#define TOLBE_FIT_MATRICES 4
#define TOLBE_FIT_ESTIMATE 0
#define TOLBE_FIT_SE 1
#define TOLBE_FIT_LOWER 2
#define TOLBE_FIT_UPPER 3
const double* tolbe_fit_matrix(const tolbe_fit* fit, int matrix, int part);

/* V (q x q) and S (p x p, in selection order) as corrected; the q corrected
 * means (NULL: none); each variable's reliability as the operational
 * correlations divide by it (q values). */
const double* tolbe_fit_restricted(const tolbe_fit* fit);
const double* tolbe_fit_unrestricted(const tolbe_fit* fit);
const double* tolbe_fit_means(const tolbe_fit* fit);
const double* tolbe_fit_criterion_reliabilities(const tolbe_fit* fit);

/* With reliabilities, each variable's as used (q values, NaN where none
 * was given) and in *measured_restricted whether it was measured in the
 * restricted sample (q flags); NULL without. */
const double* tolbe_fit_reliabilities(const tolbe_fit* fit, const char** measured_restricted);

/* The complete rows of the data and of the pool, and those left out. */
void tolbe_fit_rows(const tolbe_fit* fit, int* used, int* dropped, int* pool_used,
                    int* pool_dropped);

/* 1 with intervals: their summary, the bootstrap's seed and how they
 * were computed in one line (tolbe::interval_description), which lives as
 * long as the fit; else 0. */
int tolbe_fit_intervals(const tolbe_fit* fit, tolbe_interval_summary* summary,
                        unsigned long long* seed, const char** description);

/* 1 with diagnostics: what the correction found; else 0. */
int tolbe_fit_diagnostics(const tolbe_fit* fit, tolbe_diagnostics* out);

/* With diagnostics, the places the diagnostics count (tolbe::Fit): the
 * pairs whose correlation changed sign (TOLBE_FIT_SIGN_CHANGES) or the
 * places of V that are not finite (TOLBE_FIT_NOT_FINITE), from 0; returns
 * how many, and writes the first `capacity` rows and columns. */
#define TOLBE_FIT_SIGN_CHANGES 0
#define TOLBE_FIT_NOT_FINITE 1
int tolbe_fit_places(const tolbe_fit* fit, int which, int* rows, int* columns, int capacity);

/* ---- A validity question asked of a fit (tolbe::ask) -------------------- */

/* What a fit keeps for its later questions (tolbe::FitAsked): V and S as
 * corrected (S in selection order), the p selection variables, each
 * variable's reliability (q values, NaN where none was given; NULL: none
 * given at all) and the fit's interval request (its raw scores, when it
 * had them: then V or S is theirs). */
typedef struct tolbe_asked_fit {
  int q;
  int p;
  const double* restricted;
  int ld_restricted;
  const double* unrestricted;
  int ld_unrestricted;
  const int* selection;
  const double* reliabilities;
  tolbe_interval_request request;
} tolbe_asked_fit;

typedef struct tolbe_answer tolbe_answer;

/* Asks `question` of `fit`; NULL when out of memory or `fit` is not one.
 * Free with tolbe_answer_free(). */
tolbe_answer* tolbe_ask(const tolbe_question_call* question, const tolbe_asked_fit* fit);
void tolbe_answer_free(tolbe_answer* answer);

/* 0, or the refusal's code, with its argument, message and variables
 * (from 0), which live as long as the answer. */
int tolbe_answer_refusal(const tolbe_answer* answer, int* argument, const char** message,
                         const int** variables, int* n_variables);

/* The question as resolved: the criterion, the predictors (the base set
 * first) and the base set's size (0: a regression); returns their count,
 * k. */
int tolbe_answer_question(const tolbe_answer* answer, int* criterion, const int** predictors,
                          int* base);

/* The values (tolbe_validity_values(k) each, TOLBE_VALIDITY_* layout) by
 * TOLBE_FIT_ESTIMATE, _SE, _LOWER or _UPPER; NULL when refused. */
const double* tolbe_answer_values(const tolbe_answer* answer, int part);
void tolbe_answer_summary(const tolbe_answer* answer, tolbe_interval_summary* summary);

/* What the intervals are worth at this sample size, when that needs
 * saying (tolbe::validity_interval_note), else ""; lives as long as the
 * answer. */
const char* tolbe_answer_note(const tolbe_answer* answer);

/* "none", "normal", "adf" or "bootstrap"; "" for another value. */
const char* tolbe_interval_method_name(int method);

/* ---- One validity coefficient corrected (tolbe/univariate.h) ----------- */

#define TOLBE_RR_NONE 0
#define TOLBE_RR_DIRECT 1
#define TOLBE_RR_INDIRECT 2
#define TOLBE_RR_BIVARIATE_INDIRECT 3
#define TOLBE_RELIABILITY_RESTRICTED 0
#define TOLBE_RELIABILITY_UNRESTRICTED 1

/* One study (tolbe::Study): NaN marks a value not given; n 0: no SE. */
typedef struct tolbe_study {
  double r;
  int n;
  double ux;
  double uy;
  double rxx;
  double ryy;
  int rxx_sample; /* TOLBE_RELIABILITY_* */
  int ryy_sample;
  int sign_xz; /* 1 or -1 */
  int sign_yz;
} tolbe_study;

/* Its correction (tolbe::StudyResult); `problem` is tolbe::StudyProblem. */
typedef struct tolbe_study_result {
  int problem;
  double rho_operational;
  double rho_true;
  double se_operational;
  double se_true;
  double lower_operational;
  double upper_operational;
  double lower_true;
  double upper_true;
  double rxx_restricted;
  double rxx_unrestricted;
  double ryy_restricted;
  double ryy_unrestricted;
  double ut;
  double up;
} tolbe_study_result;

/* Corrects `count` studies by `method` (TOLBE_RR_*) at `level` into
 * results[0..count-1]; returns 0, or -1 (writing nothing) for a method
 * that is not one or a NULL array with count > 0. A sample flag that is
 * not one of TOLBE_RELIABILITY_* counts as the default of its field. */
int tolbe_correct_studies(const tolbe_study* studies, size_t count, int method, double level,
                          tolbe_study_result* results);

/* The problem's stable name ("u_true_undefined", ...) and its sentence;
 * "" for another value. */
const char* tolbe_study_problem_name(int problem);
const char* tolbe_study_problem_message(int problem);

/* u_T from u_X and r_xx of the group `sample` (TOLBE_RELIABILITY_*); NaN
 * where not defined. */
double tolbe_true_score_u(double ux, double rxx, int sample);

/* The library's version, such as "0.2.0": the project's one version number. */
const char* tolbe_version(void);

#ifdef __cplusplus
}
#endif

#endif /* TOLBE_TOLBE_H */
