#pragma once

// The four BLAS routines the library calls, written out in C++ with the
// reference implementation's order of operations (ddot's and dscal's
// unrolling by five, daxpy's by four, dgemm's loop order), so that, built
// without floating-point contraction, they give the reference BLAS's
// results bit for bit. Where there is no Fortran BLAS (WebAssembly, a
// Windows program built on Linux) the library links these instead
// (TOLBE_BUILTIN_BLAS), under the Fortran names, through
// builtin_blas_symbols.cc.
//
// Arguments as the BLAS documents them; matrices column-major. No state,
// no allocation.

namespace tolbe::builtin {

double ddot(int n, const double* x, int incx, const double* y, int incy);
void daxpy(int n, double alpha, const double* x, int incx, double* y, int incy);
void dscal(int n, double alpha, double* x, int incx);

// C := alpha op(A) op(B) + beta C, op(X) = X ('N') or X' ('T' or 'C', either
// case). Returns 0, or the number of the first invalid argument as the BLAS
// numbers them (1 transa, 2 transb, 3 m, 4 n, 5 k, 8 lda, 10 ldb, 13 ldc),
// in which case nothing is computed.
int dgemm(char transa, char transb, int m, int n, int k, double alpha, const double* a, int lda,
          const double* b, int ldb, double beta, double* c, int ldc);

}  // namespace tolbe::builtin
