#pragma once

#include "driver/matrix.h"

namespace tolbe {

// Working storage of the Lawley correction, with the 50 x 50 capacity the
// products need. p = n_nonrestricted, q = n_total throughout.
struct LawleyWork {
  double packed_11[MAX_VARIABLES * (MAX_VARIABLES + 1) / 2] = {};
  Matrix inverse_11;         // p x p, inverse of the leading block
  Matrix restricted_12;      // p x (q-p), upper-right block as read
  Matrix restricted_21;      // (q-p) x p, transpose of restricted_12
  Matrix restricted_22;      // (q-p) x (q-p), lower-right block
  Matrix cov_times_inverse;  // p x p
  Matrix corrected_12;       // p x (q-p)
  Matrix weights_21;         // (q-p) x p
  Matrix shift_12;           // p x (q-p)
  Matrix corrected_22;       // (q-p) x (q-p)
};

// Factors and inverts the upper triangle of the leading p x p block of
// `restricted_cov`, then forms the four products (dgemm, BLAS) of Lawley's
// correction: C12 = (S W) V12 and C22 = V22 + (V21 W)(C12 - V12), with
// W = V11 inverse, V21 the transpose of V12 and S = `nonrestricted_cov`.
// Only the upper triangle of V11, V12 and V22 are read. Returns the status of
// the factorization: 0, or the order of the first leading minor of V11 that
// is not positive (the products are formed all the same). 0 <= p <= 50 and
// 0 <= q <= 50; q < p is reported by dgemm through xerbla. Does not allocate.
int lawley_products(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                    LawleyWork& work);

// Fills `corrected_cov` from S, C12, its transpose and C22.
void lawley_assemble(int p, int q, const Matrix& nonrestricted_cov, const LawleyWork& work,
                     Matrix& corrected_cov);

// Both steps at once; returns the factorization status.
int lawley_correct(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                   LawleyWork& work, Matrix& corrected_cov);

// r(i, j) = c(i, j) / (sqrt(c(i, i)) * sqrt(c(j, j))) for i, j = 1..q, the
// diagonal included. Non-positive variances give infinities or NaN.
void cov_to_corr(int q, const Matrix& corrected_cov, Matrix& corrected_corr);

// In place: r(i, j) / sqrt(rel(i) * rel(j)) for i != j; the diagonal is
// left as it is. `reliabilities` holds q values.
void disattenuate(int q, const double* reliabilities, Matrix& corrected_corr);

}  // namespace tolbe
