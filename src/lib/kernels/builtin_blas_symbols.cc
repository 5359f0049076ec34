// The built-in kernels under the Fortran names of the BLAS routines, for a
// build without a BLAS library (TOLBE_BUILTIN_BLAS): the callers stay as
// they are, whichever is linked.
#include <cstddef>

#include "kernels/blas.h"
#include "kernels/builtin_blas.h"

// The program defines xerbla_ to report an invalid argument of a BLAS
// routine its way; a library used alone reports nothing (its arguments
// are checked before any BLAS call), and this weak definition gives way.
extern "C" __attribute__((weak)) void xerbla_(const char*, const int*, std::size_t) {}

extern "C" {

double ddot_(const int* n, const double* x, const int* incx, const double* y, const int* incy) {
  return tolbe::builtin::ddot(*n, x, *incx, y, *incy);
}

void daxpy_(const int* n, const double* alpha, const double* x, const int* incx, double* y,
            const int* incy) {
  tolbe::builtin::daxpy(*n, *alpha, x, *incx, y, *incy);
}

void dscal_(const int* n, const double* alpha, double* x, const int* incx) {
  tolbe::builtin::dscal(*n, *alpha, x, *incx);
}

void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t, std::size_t) {
  int info =
      tolbe::builtin::dgemm(*transa, *transb, *m, *n, *k, *alpha, a, *lda, b, *ldb, *beta, c, *ldc);
  if (info != 0) xerbla_("DGEMM ", &info, 6);
}
}
