#pragma once

namespace tolbe {

// Factorization and inverse of a symmetric positive definite matrix A of
// order n held as its packed upper triangle: element (i, j), i <= j, at
// ap[i + j(j-1)/2 - 1]. All three work in place on the n(n+1)/2 values of
// `ap`, touch nothing else, keep no state and do not allocate.

// Cholesky factorization A = R'R, column by column. On success info = 0 and
// `ap` holds R. Otherwise info = j, the first leading minor that is not
// positive: columns 1..j-1 hold R, column j above the diagonal is
// overwritten, the rest still holds A. A NaN pivot is not a failure.
void dppfa(double* ap, int n, int& info);

// The factorization entry of the correction: dppfa with the same arguments.
void dppco(double* ap, int n, int& info);

// When job % 10 != 0, replaces R (from a successful dppfa) by the upper
// triangle of A inverse; otherwise leaves `ap` unchanged. A zero on the
// diagonal of R gives infinities or NaN, no error.
void dppdi(double* ap, int n, int job);

// The two sweeps of dppdi with a non-zero units digit, in place.
// First: replaces R by R inverse, column by column.
void invert_packed_factor(double* ap, int n);
// Then: replaces R inverse by R inverse times its transpose, A inverse.
void multiply_packed_factor_by_transpose(double* ap, int n);

}  // namespace tolbe
