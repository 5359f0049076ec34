#include "kernels/packed_cholesky.h"

#include <cmath>

#include "kernels/blas.h"

namespace tolbe {
namespace {

constexpr int unit_stride = 1;

double dot(int n, const double* x, const double* y) {
  return ddot_(&n, x, &unit_stride, y, &unit_stride);
}
void axpy(int n, double alpha, const double* x, double* y) {
  daxpy_(&n, &alpha, x, &unit_stride, y, &unit_stride);
}
void scale(int n, double alpha, double* x) {
  dscal_(&n, &alpha, x, &unit_stride);
}

}  // namespace

// ap is addressed from 1 below, as the packed positions are numbered.
void invert_packed_factor(double* ap, int n) {
  int kk = 0;
  for (int k = 1; k <= n; ++k) {
    int k1 = kk + 1;
    kk += k;
    ap[kk - 1] = 1.0 / ap[kk - 1];
    double t = -ap[kk - 1];
    scale(k - 1, t, &ap[k1 - 1]);
    int j1 = kk + 1;
    int kj = kk + k;
    for (int j = k + 1; j <= n; ++j) {
      t = ap[kj - 1];
      ap[kj - 1] = 0.0;
      axpy(k, t, &ap[k1 - 1], &ap[j1 - 1]);
      j1 += j;
      kj += j;
    }
  }
}

void multiply_packed_factor_by_transpose(double* ap, int n) {
  int jj = 0;
  for (int j = 1; j <= n; ++j) {
    int j1 = jj + 1;
    jj += j;
    int k1 = 1;
    int kj = j1;
    for (int k = 1; k <= j - 1; ++k) {
      double t = ap[kj - 1];
      axpy(k, t, &ap[j1 - 1], &ap[k1 - 1]);
      k1 += k;
      kj += 1;
    }
    scale(j, ap[jj - 1], &ap[j1 - 1]);
  }
}

void dppfa(double* ap, int n, int& info) {
  int jj = 0;
  for (int j = 1; j <= n; ++j) {
    info = j;
    double s = 0.0;
    int kj = jj;
    int kk = 0;
    for (int k = 1; k <= j - 1; ++k) {
      ++kj;
      double t = ap[kj - 1] - dot(k - 1, &ap[kk], &ap[jj]);
      kk += k;
      t /= ap[kk - 1];
      ap[kj - 1] = t;
      s += t * t;
    }
    jj += j;
    s = ap[jj - 1] - s;
    if (s <= 0.0) return;
    ap[jj - 1] = std::sqrt(s);
  }
  info = 0;
}

void dppco(double* ap, int n, int& info) {
  dppfa(ap, n, info);
}

void dppdi(double* ap, int n, int job) {
  if (job % 10 == 0) return;
  invert_packed_factor(ap, n);
  multiply_packed_factor_by_transpose(ap, n);
}

}  // namespace tolbe
