/* The C API from C: the worked problem, a selection at other positions, an
 * invalid argument, the findings and the workspace query. Prints "N passed, M failed". */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tolbe/tolbe.h"

static int passed = 0;
static int failed = 0;

static void check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED: %s\n", what);
  }
}

int main(void) {
  const double restricted[9] = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
  const double unrestricted[4] = {1.44, 0.60, 0.60, 1.21};
  const double reliability = 0.81;
  double cov[9], cor[9], dis[9];
  size_t n_work = 0, n_int_work = 0;
  tolbe_diagnostics d;

  check(tolbe_lawley_workspace(3, 2, &n_work, &n_int_work) == TOLBE_OK, "workspace query");
  check(n_work > 0 && n_int_work == 6, "workspace sizes");
  double* work = malloc(n_work * sizeof *work);
  int* int_work = malloc(n_int_work * sizeof *int_work);

  int status = tolbe_lawley(3, 2, restricted, 3, unrestricted, 2, NULL, &reliability, 1, cov, 3,
                            cor, 3, dis, 3, work, n_work, int_work, n_int_work, &d);
  check(status == TOLBE_OK && d.status == TOLBE_OK, "worked problem status");
  check(fabs(cov[2] - 0.392) < 1e-12, "corrected covariance of 1 and 3");
  check(fabs(cor[1] - 0.6 / sqrt(1.44 * 1.21)) < 1e-15, "corrected correlation of 1 and 2");
  check(fabs(dis[2] - cor[2] / 0.9) < 1e-15, "disattenuated correlation of 1 and 3");
  check(d.sign_changes == 0 && d.restricted_positive_definite, "clean diagnostics");

  /* The same problem with the criterion first: selection {1, 2}. */
  const double moved[9] = {1.00, 0.30, 0.40, 0.30, 1.00, 0.50, 0.40, 0.50, 1.00};
  const int selection[2] = {1, 2};
  double moved_cov[9];
  status = tolbe_lawley(3, 2, moved, 3, unrestricted, 2, selection, NULL, 0, moved_cov, 3, NULL, 0,
                        NULL, 0, work, n_work, int_work, n_int_work, NULL);
  check(status == TOLBE_OK, "selection at other positions");
  check(moved_cov[0] == cov[8] && moved_cov[1] == cov[6] && moved_cov[5] == cov[1],
        "permuted results");

  const int repeated[2] = {1, 1};
  status = tolbe_lawley(3, 2, moved, 3, unrestricted, 2, repeated, NULL, 0, moved_cov, 3, NULL, 0,
                        NULL, 0, work, n_work, int_work, n_int_work, &d);
  check(status == TOLBE_INVALID_ARGUMENT && d.argument == TOLBE_ARGUMENT_SELECTION,
        "repeated selection index");
  check(tolbe_lawley_workspace(2, 3, &n_work, &n_int_work) == TOLBE_INVALID_ARGUMENT, "p above q");

  double means[3];
  const double restricted_means[3] = {0.0, 0.0, 0.0};
  const double unrestricted_means[2] = {1.0, 0.0};
  tolbe_lawley_workspace(3, 2, &n_work, &n_int_work);
  status = tolbe_lawley_means(3, 2, restricted, 3, unrestricted, 2, NULL, restricted_means,
                              unrestricted_means, means, work, n_work, int_work, n_int_work, NULL);
  /* (m_x - mu_x) W V12 = (1, 0) [4/3 -2/3; -2/3 4/3] (0.3, 0.4)' = 0.4 - 4/15 */
  check(status == TOLBE_OK && fabs(means[2] - (0.4 - 4.0 / 15.0)) < 1e-15, "corrected means");

  /* The worked problem's one finding, a note, with the caller's names. */
  status = tolbe_lawley(3, 2, restricted, 3, unrestricted, 2, NULL, &reliability, 1, cov, 3, cor, 3,
                        dis, 3, work, n_work, int_work, n_int_work, &d);
  check(d.n_findings == 1 && d.findings[0].code == TOLBE_FINDING_CORRELATIONS_BESIDE_COVARIANCES &&
            d.findings[0].severity == TOLBE_NOTE,
        "the worked problem's note");
  check(strcmp(tolbe_finding_code_name(d.findings[0].code), "correlations_beside_covariances") == 0,
        "code name");

  /* A lower triangle with a NaN where nothing is read (V21): an error that
   * names no variable, the NaN counted apart. */
  const double lower[9] = {1.00, 0.50, 0.30, 0.00, 1.00, 0.40, 0.00, 0.00, 1.00};
  const double one[1] = {1.44};
  double lower_with_nan[9];
  memcpy(lower_with_nan, lower, sizeof lower);
  lower_with_nan[2] = NAN; /* row 3, column 1 */
  status = tolbe_lawley(3, 1, lower_with_nan, 3, one, 1, NULL, NULL, 0, cov, 3, cor, 3, NULL, 0,
                        work, n_work, int_work, n_int_work, &d);
  check(status == TOLBE_OK && d.n_findings >= 2, "a triangle is found");
  check(d.findings[0].code == TOLBE_FINDING_RESTRICTED_LOWER_TRIANGLE &&
            d.findings[0].severity == TOLBE_ERROR && d.findings[0].variables[0] == -1,
        "the triangle first, an error");
  check(d.unread_not_finite == 1 && d.first_unread_not_finite[0] == 2 &&
            d.first_unread_not_finite[1] == 0,
        "the unread NaN counted apart");
  const tolbe_finding* last = &d.findings[d.n_findings - 1];
  const char* names[3] = {"T1", "C1", "C2"};
  char text[200];
  size_t length = tolbe_finding_message(last, names, 3, text, sizeof text);
  check(last->code == TOLBE_FINDING_UNREAD_NOT_FINITE &&
            strcmp(text,
                   "the restricted var/cov matrix holds a value that is not a finite number for "
                   "C2 (row) and T1 (column), where the correction reads nothing") == 0 &&
            length == strlen(text),
        "the note in the caller's names");
  check(tolbe_finding_message(last, NULL, 0, NULL, 0) > length, "unnamed is longer");

  /* A fit through the C API: the worked problem by name, then raw scores
   * of one complete row, refused in the caller's words. */
  {
    const char* variables[3] = {"T1", "T2", "C1"};
    const char* s_names[2] = {"T1", "T2"};
    tolbe_call call;
    tolbe_call_init(&call);
    call.q = 3;
    call.names = variables;
    call.p = 2;
    call.unrestricted_names = s_names;
    double n = 100;
    call.arguments[TOLBE_CALL_N] = (tolbe_given){TOLBE_GIVEN_NUMBERS, 1, &n, NULL, NULL};
    tolbe_resolution* resolution = tolbe_resolve(&call);
    check(resolution != NULL && tolbe_refusal_code(resolution) == 0, "a call resolved");
    tolbe_fit_sources sources;
    memset(&sources, 0, sizeof sources);
    sources.restricted = restricted;
    sources.ld_restricted = 3;
    sources.unrestricted = unrestricted;
    sources.ld_unrestricted = 2;
    sources.diagnostics = 1;
    tolbe_fit* fit = tolbe_fit_make(resolution, &sources);
    check(fit != NULL && !tolbe_fit_refused(fit), "a fit made");
    const double* fit_cov = tolbe_fit_matrix(fit, TOLBE_FIT_COV, TOLBE_FIT_ESTIMATE);
    const double* fit_cor = tolbe_fit_matrix(fit, TOLBE_FIT_COR, TOLBE_FIT_ESTIMATE);
    check(fit_cov != NULL && fabs(fit_cov[2] - 0.392) < 1e-12 && fit_cor != NULL &&
              fabs(fit_cor[1] - 0.6 / sqrt(1.44 * 1.21)) < 1e-15,
          "the fit's numbers");
    check(tolbe_fit_matrix(fit, TOLBE_FIT_DISATTENUATED, TOLBE_FIT_ESTIMATE) == NULL,
          "no disattenuated correlations without reliabilities");
    const double* se = tolbe_fit_matrix(fit, TOLBE_FIT_COR, TOLBE_FIT_SE);
    tolbe_interval_summary summary;
    const char* description = NULL;
    /* T1-T2 comes from the known S: no error; T1-C1 has one. */
    check(se != NULL && se[1] == 0 && se[2] > 0 &&
              tolbe_fit_intervals(fit, &summary, NULL, &description) && summary.n == 100 &&
              strcmp(description,
                     "95 % intervals: delta method, normal theory; n = 100; "
                     "unrestricted matrix known") == 0,
          "the fit's intervals");
    tolbe_fit_free(fit);

    const double scores[6] = {1, NAN, 3, 2, 1, NAN};
    tolbe_resolution_free(resolution);
    call.from_data = 1;
    call.q = 2;
    call.p = 1;
    call.unrestricted_names = NULL;
    call.arguments[TOLBE_CALL_N] = (tolbe_given){TOLBE_GIVEN_ABSENT, 0, NULL, NULL, NULL};
    resolution = tolbe_resolve(&call);
    memset(&sources, 0, sizeof sources);
    sources.data = (tolbe_scores){3, 2, scores, 3};
    sources.unrestricted = unrestricted;
    sources.ld_unrestricted = 1;
    fit = tolbe_fit_make(resolution, &sources);
    tolbe_fit_message m;
    check(fit != NULL && tolbe_fit_refused(fit) && tolbe_fit_messages(fit) == 1 &&
              tolbe_fit_message_get(fit, 0, &m) == TOLBE_OK && m.argument == TOLBE_CALL_DATA &&
              strcmp(m.code, "too_few_rows") == 0 &&
              strcmp(m.message,
                     "'data' has 1 complete rows (without NaN) of 3; the var/cov "
                     "matrix needs at least 2") == 0,
          "raw scores of one complete row refused");
    check(tolbe_fit_matrix(fit, TOLBE_FIT_COR, TOLBE_FIT_ESTIMATE) == NULL, "no numbers then");
    tolbe_fit_free(fit);
    tolbe_resolution_free(resolution);
  }

  check(tolbe_status_text(TOLBE_NOT_POSITIVE_DEFINITE)[0] == 's', "status text");
  check(tolbe_version()[0] == '0', "version");
  free(work);
  free(int_work);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
