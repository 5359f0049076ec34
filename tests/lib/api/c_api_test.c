/* The C API from C: the worked problem, a selection at other positions, an
 * invalid argument and the workspace query. Prints "N passed, M failed". */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

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

  check(tolbe_status_text(TOLBE_NOT_POSITIVE_DEFINITE)[0] == 's', "status text");
  check(tolbe_version()[0] == '0', "version");
  free(work);
  free(int_work);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
