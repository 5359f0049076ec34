#pragma once

#include <cstddef>

// The routines of the installed reference BLAS that the program calls, with
// the Fortran calling convention: every argument by address, and the hidden
// length of each character argument appended at the end.
extern "C" {

double ddot_(const int* n, const double* x, const int* incx, const double* y, const int* incy);
void daxpy_(const int* n, const double* alpha, const double* x, const int* incx, double* y,
            const int* incy);
void dscal_(const int* n, const double* alpha, double* x, const int* incx);
void dgemm_(const char* transa, const char* transb, const int* m, const int* n, const int* k,
            const double* alpha, const double* a, const int* lda, const double* b, const int* ldb,
            const double* beta, double* c, const int* ldc, std::size_t transa_length,
            std::size_t transb_length);

// Called by the BLAS routines on an invalid argument; the program defines it.
void xerbla_(const char* routine_name, const int* argument_number, std::size_t name_length);
}
