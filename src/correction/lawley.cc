#include "correction/lawley.h"

#include <cmath>

#include "kernels/blas.h"
#include "kernels/packed_cholesky.h"

namespace tolbe {
namespace {

constexpr int inverse_job = 11;

// C := A * B with no transposition, alpha 1, beta 0, leading dimensions 50.
void multiply(int m, int n, int k, const Matrix& a, const Matrix& b, Matrix& c) {
  static constexpr char no_transpose = 'n';
  static constexpr double one = 1.0;
  static constexpr double zero = 0.0;
  static constexpr int ld = Matrix::leading_dimension;
  dgemm_(&no_transpose, &no_transpose, &m, &n, &k, &one, a.data(), &ld, b.data(), &ld, &zero,
         c.data(), &ld, 1, 1);
}

int invert_leading_block(int p, const Matrix& restricted_cov, LawleyWork& work) {
  int k = 0;
  for (int j = 1; j <= p; ++j) {
    for (int i = 1; i <= j; ++i) work.packed_11[k++] = restricted_cov(i, j);
  }
  int info = 0;
  dppco(work.packed_11, p, info);
  dppdi(work.packed_11, p, inverse_job);
  k = 0;
  for (int j = 1; j <= p; ++j) {
    for (int i = 1; i <= j; ++i) work.inverse_11(i, j) = work.packed_11[k++];
  }
  for (int i = 2; i <= p; ++i) {
    for (int j = 1; j <= i - 1; ++j) work.inverse_11(i, j) = work.inverse_11(j, i);
  }
  return info;
}

void partition(int p, int q, const Matrix& restricted_cov, LawleyWork& work) {
  int criteria = q - p;
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= p; ++i) work.restricted_12(i, j) = restricted_cov(i, p + j);
  }
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= criteria; ++i) work.restricted_22(i, j) = restricted_cov(p + i, p + j);
  }
  for (int i = 1; i <= criteria; ++i) {
    for (int j = 1; j <= p; ++j) work.restricted_21(i, j) = work.restricted_12(j, i);
  }
}

}  // namespace

int lawley_products(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                    LawleyWork& work) {
  int info = invert_leading_block(p, restricted_cov, work);
  partition(p, q, restricted_cov, work);
  int criteria = q - p;
  multiply(p, p, p, nonrestricted_cov, work.inverse_11, work.cov_times_inverse);
  multiply(p, criteria, p, work.cov_times_inverse, work.restricted_12, work.corrected_12);
  multiply(criteria, p, p, work.restricted_21, work.inverse_11, work.weights_21);
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= p; ++i) {
      work.shift_12(i, j) = work.corrected_12(i, j) - work.restricted_12(i, j);
    }
  }
  multiply(criteria, criteria, p, work.weights_21, work.shift_12, work.corrected_22);
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= criteria; ++i) {
      work.corrected_22(i, j) = work.restricted_22(i, j) + work.corrected_22(i, j);
    }
  }
  return info;
}

void lawley_assemble(int p, int q, const Matrix& nonrestricted_cov, const LawleyWork& work,
                     Matrix& corrected_cov) {
  int criteria = q - p;
  for (int j = 1; j <= p; ++j) {
    for (int i = 1; i <= p; ++i) corrected_cov(i, j) = nonrestricted_cov(i, j);
  }
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= p; ++i) {
      corrected_cov(i, p + j) = work.corrected_12(i, j);
      corrected_cov(p + j, i) = work.corrected_12(i, j);
    }
  }
  for (int j = 1; j <= criteria; ++j) {
    for (int i = 1; i <= criteria; ++i) corrected_cov(p + i, p + j) = work.corrected_22(i, j);
  }
}

int lawley_correct(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                   LawleyWork& work, Matrix& corrected_cov) {
  int info = lawley_products(p, q, restricted_cov, nonrestricted_cov, work);
  lawley_assemble(p, q, nonrestricted_cov, work, corrected_cov);
  return info;
}

void cov_to_corr(int q, const Matrix& corrected_cov, Matrix& corrected_corr) {
  double deviation[MAX_VARIABLES];  // the same roots, taken once each
  for (int i = 1; i <= q; ++i) deviation[i - 1] = std::sqrt(corrected_cov(i, i));
  for (int j = 1; j <= q; ++j) {
    for (int i = 1; i <= q; ++i) {
      corrected_corr(i, j) = corrected_cov(i, j) / (deviation[i - 1] * deviation[j - 1]);
    }
  }
}

void disattenuate(int q, const double* reliabilities, Matrix& corrected_corr) {
  for (int j = 1; j <= q; ++j) {
    for (int i = 1; i <= q; ++i) {
      if (i == j) continue;
      corrected_corr(i, j) /= std::sqrt(reliabilities[i - 1] * reliabilities[j - 1]);
    }
  }
}

}  // namespace tolbe
