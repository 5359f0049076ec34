#pragma once

// The correction's internal interface. Not installed and not part of the
// public API (<tolbe/lawley.h> is): it serves the library's entry points
// and the console program, which runs the same steps on its fixed storage
// (LawleyWork, Matrix) so that it allocates nothing, and tests. A change
// here changes both, and the program's reports must stay byte for byte.

#include <cstddef>

#include "correction/matrix.h"

namespace tolbe {

// Column-major views with a leading dimension; (i, j) is numbered from 0.
struct ConstView {
  const double* data;
  int ld;
  double operator()(int i, int j) const {
    return data[static_cast<std::ptrdiff_t>(i) + static_cast<std::ptrdiff_t>(j) * ld];
  }
};
struct View {
  double* data;
  int ld;
  double& operator()(int i, int j) const {
    return data[static_cast<std::ptrdiff_t>(i) + static_cast<std::ptrdiff_t>(j) * ld];
  }
  operator ConstView() const { return {data, ld}; }
};

// The working storage of the correction, m = q - p: p(p+1)/2 packed values
// and the blocks of the four products, each with a leading dimension of at
// least max(1, rows).
struct LawleyBlocks {
  double* packed_11;
  View inverse_11;         // p x p, inverse of the leading block
  View cov_times_inverse;  // p x p
  View restricted_12;      // p x m, the selection-by-other block as read
  View corrected_12;       // p x m
  View shift_12;           // p x m
  View restricted_21;      // m x p, transpose of restricted_12
  View weights_21;         // m x p
  View restricted_22;      // m x m, the block of the others
  View corrected_22;       // m x m
};

// The correction of a q-variable problem whose selection variables come
// first in the order `order` (order[k] is the input index of the k-th
// variable: the p selection variables in the order of `unrestricted`, then
// the others; null for 0, 1, ..., q-1). No argument is checked.
//
// Packs, factors (dppco) and inverts (dppdi) the upper triangle of the
// selection block V11 of `restricted`, then forms the four products (dgemm,
// BLAS, leading dimensions as given): C12 = (S W) V12 and
// C22 = V22 + (V21 W)(C12 - V12), with W = V11 inverse, V21 the transpose of
// V12 and S = `unrestricted` (p x p). Reads in `restricted` only the upper
// triangle of V11, V12 and the whole of V22. Returns the status of the
// factorization: 0, or the order of the first leading minor of V11 that is
// not positive (the products are formed all the same). p > q reaches dgemm,
// which reports it through xerbla. Does not allocate.
int lawley_products(int p, int q, ConstView restricted, ConstView unrestricted, const int* order,
                    const LawleyBlocks& work);

// Fills the q x q `corrected` in input order from S, C12, its transpose and
// C22.
void lawley_assemble(int p, int q, ConstView unrestricted, const LawleyBlocks& work,
                     const int* order, View corrected);

// r(i, j) = c(i, j) / (sqrt(c(i, i)) * sqrt(c(j, j))) for i, j < q, the
// diagonal included; `corr` must not overlap `cov`. Non-positive variances
// give infinities or NaN.
void cov_to_corr(int q, ConstView cov, View corr);

// In place: r(i, j) / sqrt(rel(i) * rel(j)) for i != j; the diagonal is
// left as it is. `reliabilities` holds q values, 1.0 for the selection
// variables.
void disattenuate(int q, const double* reliabilities, View corr);

// How many doubles the blocks of a correction with p selection variables of
// q take, each block with leading dimension max(1, rows): p(p+1)/2 packed
// values, 2p^2 + 5p(q-p) + 2(q-p)^2 for the blocks (q < p counts no other
// variable). p, q >= 0. Sizes that overflow give SIZE_MAX.
std::size_t lawley_blocks_size(int p, int q);

// The blocks carved, in that layout, out of `storage`, which holds
// lawley_blocks_size(p, q) doubles.
LawleyBlocks carve_lawley_blocks(int p, int q, double* storage);

// The program's storage, enough for any p and q up to 50: blocks as tight as
// the library's (the leading dimensions change no result of dgemm).
struct LawleyWork {
  // The largest, lawley_blocks_size(50, 50); a p above q, which the program
  // passes on to dgemm to report, needs no more (50, 0 gives the same).
  static constexpr int capacity = 6375;
  double storage[capacity] = {};
  LawleyBlocks blocks{};
};

inline View view(Matrix& m) {
  return {m.data(), Matrix::leading_dimension};
}
inline ConstView view(const Matrix& m) {
  return {m.data(), Matrix::leading_dimension};
}

// The same steps on the program's fixed storage, selection variables 1..p.
int lawley_products(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                    LawleyWork& work);
void lawley_assemble(int p, int q, const Matrix& nonrestricted_cov, const LawleyWork& work,
                     Matrix& corrected_cov);
int lawley_correct(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                   LawleyWork& work, Matrix& corrected_cov);
void cov_to_corr(int q, const Matrix& corrected_cov, Matrix& corrected_corr);
void disattenuate(int q, const double* reliabilities, Matrix& corrected_corr);

}  // namespace tolbe
