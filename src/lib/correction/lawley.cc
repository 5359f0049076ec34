#include "correction/lawley.h"

#include <cmath>
#include <cstdint>

#include "correction/sizes.h"
#include "kernels/blas.h"
#include "kernels/packed_cholesky.h"

namespace tolbe {
namespace {

constexpr int inverse_job = 11;

// C := A * B with no transposition, alpha 1 and beta 0.
void multiply(int m, int n, int k, ConstView a, ConstView b, View c) {
  static constexpr char no_transpose = 'n';
  static constexpr double one = 1.0;
  static constexpr double zero = 0.0;
  dgemm_(&no_transpose, &no_transpose, &m, &n, &k, &one, a.data, &a.ld, b.data, &b.ld, &zero,
         c.data, &c.ld, 1, 1);
}

int input_index(const int* order, int k) {
  return order == nullptr ? k : order[k];
}

int invert_leading_block(int p, ConstView restricted, const int* order, const LawleyBlocks& work) {
  int k = 0;
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i <= j; ++i) {
      work.packed_11[k++] = restricted(input_index(order, i), input_index(order, j));
    }
  }
  int info = 0;
  dppco(work.packed_11, p, info);
  dppdi(work.packed_11, p, inverse_job);
  k = 0;
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i <= j; ++i) work.inverse_11(i, j) = work.packed_11[k++];
  }
  for (int i = 1; i < p; ++i) {
    for (int j = 0; j < i; ++j) work.inverse_11(i, j) = work.inverse_11(j, i);
  }
  return info;
}

void partition(int p, int q, ConstView restricted, const int* order, const LawleyBlocks& work) {
  int others = q - p;
  for (int j = 0; j < others; ++j) {
    int column = input_index(order, p + j);
    for (int i = 0; i < p; ++i)
      work.restricted_12(i, j) = restricted(input_index(order, i), column);
  }
  for (int j = 0; j < others; ++j) {
    int column = input_index(order, p + j);
    for (int i = 0; i < others; ++i) {
      work.restricted_22(i, j) = restricted(input_index(order, p + i), column);
    }
  }
  for (int i = 0; i < others; ++i) {
    for (int j = 0; j < p; ++j) work.restricted_21(i, j) = work.restricted_12(j, i);
  }
}

}  // namespace

int lawley_products(int p, int q, ConstView restricted, ConstView unrestricted, const int* order,
                    const LawleyBlocks& work) {
  int info = invert_leading_block(p, restricted, order, work);
  partition(p, q, restricted, order, work);
  int others = q - p;
  multiply(p, p, p, unrestricted, work.inverse_11, work.cov_times_inverse);
  multiply(p, others, p, work.cov_times_inverse, work.restricted_12, work.corrected_12);
  multiply(others, p, p, work.restricted_21, work.inverse_11, work.weights_21);
  for (int j = 0; j < others; ++j) {
    for (int i = 0; i < p; ++i) {
      work.shift_12(i, j) = work.corrected_12(i, j) - work.restricted_12(i, j);
    }
  }
  multiply(others, others, p, work.weights_21, work.shift_12, work.corrected_22);
  for (int j = 0; j < others; ++j) {
    for (int i = 0; i < others; ++i) {
      work.corrected_22(i, j) = work.restricted_22(i, j) + work.corrected_22(i, j);
    }
  }
  return info;
}

void lawley_assemble(int p, int q, ConstView unrestricted, const LawleyBlocks& work,
                     const int* order, View corrected) {
  int others = q - p;
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) {
      corrected(input_index(order, i), input_index(order, j)) = unrestricted(i, j);
    }
  }
  for (int j = 0; j < others; ++j) {
    int other = input_index(order, p + j);
    for (int i = 0; i < p; ++i) {
      int selected = input_index(order, i);
      corrected(selected, other) = work.corrected_12(i, j);
      corrected(other, selected) = work.corrected_12(i, j);
    }
  }
  for (int j = 0; j < others; ++j) {
    for (int i = 0; i < others; ++i) {
      corrected(input_index(order, p + i), input_index(order, p + j)) = work.corrected_22(i, j);
    }
  }
}

void cov_to_corr(int q, ConstView cov, View corr) {
  // The roots of the diagonal wait on the diagonal of `corr`, each taken once.
  for (int i = 0; i < q; ++i) corr(i, i) = std::sqrt(cov(i, i));
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      if (i != j) corr(i, j) = cov(i, j) / (corr(i, i) * corr(j, j));
    }
  }
  for (int i = 0; i < q; ++i) corr(i, i) = cov(i, i) / (corr(i, i) * corr(i, i));
}

void disattenuate(int q, const double* reliabilities, View corr) {
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      if (i == j) continue;
      corr(i, j) /= std::sqrt(reliabilities[i] * reliabilities[j]);
    }
  }
}

std::size_t lawley_blocks_size(int p, int q) {
  auto n = static_cast<std::size_t>(p);
  auto m = static_cast<std::size_t>(q > p ? q - p : 0);
  std::size_t packed = packed_size(n);
  auto ld_p = static_cast<std::size_t>(at_least_one(p));
  auto ld_m = static_cast<std::size_t>(at_least_one(q - p));
  std::size_t total = packed;
  total = saturating_plus(total, saturating_times(2, saturating_times(ld_p, n)));
  total = saturating_plus(total, saturating_times(3, saturating_times(ld_p, m)));
  total = saturating_plus(total, saturating_times(2, saturating_times(ld_m, n)));
  return saturating_plus(total, saturating_times(2, saturating_times(ld_m, m)));
}

LawleyBlocks carve_lawley_blocks(int p, int q, double* storage) {
  auto n = static_cast<std::size_t>(p);
  auto m = static_cast<std::size_t>(q > p ? q - p : 0);
  int ld_p = at_least_one(p);
  int ld_m = at_least_one(q - p);
  auto take = [&storage](std::size_t count) {
    double* start = storage;
    storage += count;
    return start;
  };
  auto p_rows = static_cast<std::size_t>(ld_p);
  auto m_rows = static_cast<std::size_t>(ld_m);
  LawleyBlocks b{};
  b.packed_11 = take(packed_size(n));
  b.inverse_11 = {take(p_rows * n), ld_p};
  b.cov_times_inverse = {take(p_rows * n), ld_p};
  b.restricted_12 = {take(p_rows * m), ld_p};
  b.corrected_12 = {take(p_rows * m), ld_p};
  b.shift_12 = {take(p_rows * m), ld_p};
  b.restricted_21 = {take(m_rows * n), ld_m};
  b.weights_21 = {take(m_rows * n), ld_m};
  b.restricted_22 = {take(m_rows * m), ld_m};
  b.corrected_22 = {take(m_rows * m), ld_m};
  return b;
}

int lawley_products(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                    LawleyWork& work) {
  work.blocks = carve_lawley_blocks(p, q, work.storage);
  return lawley_products(p, q, view(restricted_cov), view(nonrestricted_cov), nullptr, work.blocks);
}

void lawley_assemble(int p, int q, const Matrix& nonrestricted_cov, const LawleyWork& work,
                     Matrix& corrected_cov) {
  lawley_assemble(p, q, view(nonrestricted_cov), work.blocks, nullptr, view(corrected_cov));
}

int lawley_correct(int p, int q, const Matrix& restricted_cov, const Matrix& nonrestricted_cov,
                   LawleyWork& work, Matrix& corrected_cov) {
  int info = lawley_products(p, q, restricted_cov, nonrestricted_cov, work);
  lawley_assemble(p, q, nonrestricted_cov, work, corrected_cov);
  return info;
}

void cov_to_corr(int q, const Matrix& corrected_cov, Matrix& corrected_corr) {
  cov_to_corr(q, view(corrected_cov), view(corrected_corr));
}

void disattenuate(int q, const double* reliabilities, Matrix& corrected_corr) {
  disattenuate(q, reliabilities, view(corrected_corr));
}

}  // namespace tolbe
