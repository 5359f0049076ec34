/* Corrects the worked problem through the installed C API, and bootstraps
 * it from raw scores on two threads (the library's threads must link). */
#include <stdio.h>
#include <stdlib.h>
#include <tolbe/tolbe.h>

int main(void) {
  const double restricted[9] = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
  const double unrestricted[4] = {1.44, 0.60, 0.60, 1.21};
  double cov[9], cor[9];
  size_t n_work, n_int_work;
  tolbe_lawley_workspace(3, 2, &n_work, &n_int_work);
  double* work = malloc(n_work * sizeof *work);
  int* int_work = malloc(n_int_work * sizeof *int_work);
  int status = tolbe_lawley(3, 2, restricted, 3, unrestricted, 2, NULL, NULL, 0, cov, 3, cor, 3,
                            NULL, 0, work, n_work, int_work, n_int_work, NULL);
  printf("%s %.4f (tolbe %s)\n", tolbe_status_text(status), cor[2], tolbe_version());
  free(work);
  free(int_work);
  if (status != TOLBE_OK || cor[2] < 0.3202 || cor[2] > 0.3204) return 1;

  /* 12 people's scores on 3 variables, column by column. */
  const double scores[36] = {1, 2, 3,  4, 5,  6,  7, 8, 9, 10, 11, 12, 2, 1, 4, 3,  6,  5,
                             8, 7, 10, 9, 12, 11, 1, 3, 2, 5,  4,  7,  6, 9, 8, 11, 10, 12};
  tolbe_interval_request request;
  tolbe_interval_request_init(&request);
  request.method = TOLBE_INTERVAL_BOOTSTRAP;
  request.data = (tolbe_scores){12, 3, scores, 12};
  request.resamples = 200;
  request.threads = 2;
  tolbe_lawley_intervals_workspace(3, 2, &request, &n_work, &n_int_work);
  work = malloc(n_work * sizeof *work);
  int_work = malloc(n_int_work * sizeof *int_work);
  double se[9], lower[9], upper[9];
  tolbe_interval_results results = {0};
  results.correlations = (tolbe_interval_matrices){se, lower, upper, 3};
  const double pool[4] = {20.0, 18.0, 18.0, 20.0};
  tolbe_interval_summary summary;
  status = tolbe_lawley_intervals(3, 2, NULL, 3, pool, 2, NULL, NULL, 0, &request, &results, work,
                                  n_work, int_work, n_int_work, &summary);
  printf("%s: r13 in [%.3f, %.3f], %d threads\n", tolbe_interval_method_name(summary.method),
         lower[6], upper[6], summary.threads);
  free(work);
  free(int_work);
  return status == TOLBE_OK && summary.threads == 2 && lower[6] < upper[6] ? 0 : 1;
}
