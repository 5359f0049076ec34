#include "kernels/builtin_blas.h"

#include <algorithm>
#include <cstddef>

// Compiled with -ffp-contract=off: a fused multiply-add would round once
// where the reference rounds twice.

namespace tolbe::builtin {
namespace {

// The BLAS's 1-based element i (from 1) of a vector with increment inc,
// as a 0-based offset: a negative increment runs from the far end.
std::ptrdiff_t start(int n, int inc) {
  return inc < 0 ? static_cast<std::ptrdiff_t>(-n + 1) * inc : 0;
}

std::ptrdiff_t at(int i, int j, int ld) {
  return static_cast<std::ptrdiff_t>(i) + static_cast<std::ptrdiff_t>(j) * ld;
}

bool is_plain(char t) {
  return t == 'N' || t == 'n';
}
bool is_transposed(char t) {
  return t == 'T' || t == 't' || t == 'C' || t == 'c';
}

}  // namespace

double ddot(int n, const double* x, int incx, const double* y, int incy) {
  double sum = 0.0;
  if (n <= 0) return sum;
  if (incx == 1 && incy == 1) {
    int m = n % 5;
    for (int i = 0; i < m; ++i) sum = sum + x[i] * y[i];
    if (n < 5) return sum;
    for (int i = m; i < n; i += 5) {
      sum = sum + x[i] * y[i] + x[i + 1] * y[i + 1] + x[i + 2] * y[i + 2] + x[i + 3] * y[i + 3] +
            x[i + 4] * y[i + 4];
    }
    return sum;
  }
  std::ptrdiff_t ix = start(n, incx);
  std::ptrdiff_t iy = start(n, incy);
  for (int i = 0; i < n; ++i) {
    sum = sum + x[ix] * y[iy];
    ix += incx;
    iy += incy;
  }
  return sum;
}

void daxpy(int n, double alpha, const double* x, int incx, double* y, int incy) {
  if (n <= 0 || alpha == 0.0) return;
  if (incx == 1 && incy == 1) {
    int m = n % 4;
    for (int i = 0; i < m; ++i) y[i] = y[i] + alpha * x[i];
    if (n < 4) return;
    for (int i = m; i < n; i += 4) {
      y[i] = y[i] + alpha * x[i];
      y[i + 1] = y[i + 1] + alpha * x[i + 1];
      y[i + 2] = y[i + 2] + alpha * x[i + 2];
      y[i + 3] = y[i + 3] + alpha * x[i + 3];
    }
    return;
  }
  std::ptrdiff_t ix = start(n, incx);
  std::ptrdiff_t iy = start(n, incy);
  for (int i = 0; i < n; ++i) {
    y[iy] = y[iy] + alpha * x[ix];
    ix += incx;
    iy += incy;
  }
}

void dscal(int n, double alpha, double* x, int incx) {
  if (n <= 0 || incx <= 0) return;
  if (incx == 1) {
    int m = n % 5;
    for (int i = 0; i < m; ++i) x[i] = alpha * x[i];
    if (n < 5) return;
    for (int i = m; i < n; i += 5) {
      x[i] = alpha * x[i];
      x[i + 1] = alpha * x[i + 1];
      x[i + 2] = alpha * x[i + 2];
      x[i + 3] = alpha * x[i + 3];
      x[i + 4] = alpha * x[i + 4];
    }
    return;
  }
  std::ptrdiff_t end = static_cast<std::ptrdiff_t>(n) * incx;
  for (std::ptrdiff_t i = 0; i < end; i += incx) x[i] = alpha * x[i];
}

int dgemm(char transa, char transb, int m, int n, int k, double alpha, const double* a, int lda,
          const double* b, int ldb, double beta, double* c, int ldc) {
  bool a_plain = is_plain(transa);
  bool b_plain = is_plain(transb);
  int a_rows = a_plain ? m : k;
  int b_rows = b_plain ? k : n;
  if (!a_plain && !is_transposed(transa)) return 1;
  if (!b_plain && !is_transposed(transb)) return 2;
  if (m < 0) return 3;
  if (n < 0) return 4;
  if (k < 0) return 5;
  if (lda < std::max(1, a_rows)) return 8;
  if (ldb < std::max(1, b_rows)) return 10;
  if (ldc < std::max(1, m)) return 13;

  if (m == 0 || n == 0 || ((alpha == 0.0 || k == 0) && beta == 1.0)) return 0;
  if (alpha == 0.0) {
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = beta == 0.0 ? 0.0 : beta * c[at(i, j, ldc)];
    }
    return 0;
  }
  if (b_plain) {
    if (a_plain) {
      // C := alpha A B + beta C, column by column, a column of A at a time.
      for (int j = 0; j < n; ++j) {
        if (beta == 0.0) {
          for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = 0.0;
        } else if (beta != 1.0) {
          for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = beta * c[at(i, j, ldc)];
        }
        for (int l = 0; l < k; ++l) {
          double temp = alpha * b[at(l, j, ldb)];
          for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = c[at(i, j, ldc)] + temp * a[at(i, l, lda)];
        }
      }
    } else {
      // C := alpha A' B + beta C, by dot products.
      for (int j = 0; j < n; ++j) {
        for (int i = 0; i < m; ++i) {
          double temp = 0.0;
          for (int l = 0; l < k; ++l) temp = temp + a[at(l, i, lda)] * b[at(l, j, ldb)];
          c[at(i, j, ldc)] = beta == 0.0 ? alpha * temp : alpha * temp + beta * c[at(i, j, ldc)];
        }
      }
    }
  } else if (a_plain) {
    // C := alpha A B' + beta C.
    for (int j = 0; j < n; ++j) {
      if (beta == 0.0) {
        for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = 0.0;
      } else if (beta != 1.0) {
        for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = beta * c[at(i, j, ldc)];
      }
      for (int l = 0; l < k; ++l) {
        double temp = alpha * b[at(j, l, ldb)];
        for (int i = 0; i < m; ++i) c[at(i, j, ldc)] = c[at(i, j, ldc)] + temp * a[at(i, l, lda)];
      }
    }
  } else {
    // C := alpha A' B' + beta C.
    for (int j = 0; j < n; ++j) {
      for (int i = 0; i < m; ++i) {
        double temp = 0.0;
        for (int l = 0; l < k; ++l) temp = temp + a[at(l, i, lda)] * b[at(j, l, ldb)];
        c[at(i, j, ldc)] = beta == 0.0 ? alpha * temp : alpha * temp + beta * c[at(i, j, ldc)];
      }
    }
  }
  return 0;
}

}  // namespace tolbe::builtin
