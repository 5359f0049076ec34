/* Corrects the worked problem through the installed C API. */
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
  return status == TOLBE_OK && cor[2] > 0.3202 && cor[2] < 0.3204 ? 0 : 1;
}
