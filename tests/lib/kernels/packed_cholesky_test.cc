#include "kernels/packed_cholesky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tolbe {
namespace {

using Dense = std::vector<std::vector<double>>;

std::size_t packed_index(int i, int j) {  // 1-based, i <= j
  return static_cast<std::size_t>(i + j * (j - 1) / 2 - 1);
}

std::vector<double> pack(const Dense& a) {
  int n = static_cast<int>(a.size());
  std::vector<double> ap(static_cast<std::size_t>(n * (n + 1) / 2));
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= j; ++i) ap[packed_index(i, j)] = a[i - 1][j - 1];
  }
  return ap;
}

Dense unpack_symmetric(const std::vector<double>& ap, int n) {
  Dense a(n, std::vector<double>(n));
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= j; ++i) a[i - 1][j - 1] = a[j - 1][i - 1] = ap[packed_index(i, j)];
  }
  return a;
}

double one_norm(const Dense& a) {
  double best = 0;
  for (std::size_t j = 0; j < a.size(); ++j) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += std::fabs(a[i][j]);
    best = std::max(best, sum);
  }
  return best;
}

// A random symmetric positive definite matrix B'B + 0.01 I; its condition
// number varies widely with the draw.
Dense random_spd(int n, std::mt19937_64& random) {
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  Dense b(n, std::vector<double>(n));
  for (auto& row : b)
    for (double& x : row) x = entry(random);
  Dense a(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double sum = i == j ? 0.01 : 0.0;
      for (int k = 0; k < n; ++k) sum += b[k][i] * b[k][j];
      a[i][j] = sum;
    }
  }
  return a;
}

TEST(packed_cholesky_test, order_zero_touches_nothing) {
  double guard = 42.0;
  int info = -1;
  dppco(&guard, 0, info);
  dppdi(&guard, 0, 11);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(guard, 42.0);
}

TEST(packed_cholesky_test, order_one) {
  double ap = 9.0;
  int info = -1;
  dppco(&ap, 1, info);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(ap, 3.0);
  dppdi(&ap, 1, 11);
  EXPECT_DOUBLE_EQ(ap, 1.0 / 9.0);
}

TEST(packed_cholesky_test, identity_is_exact) {
  std::vector<double> ap = {1, 0, 1, 0, 0, 1};
  int info = -1;
  dppco(ap.data(), 3, info);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(ap, (std::vector<double>{1, 0, 1, 0, 0, 1}));
  dppdi(ap.data(), 3, 11);
  EXPECT_EQ(ap, (std::vector<double>{1, 0, 1, 0, 0, 1}));
}

TEST(packed_cholesky_test, two_by_two_worked_example) {
  std::vector<double> ap = {4, 2, 3};
  int info = -1;
  dppco(ap.data(), 2, info);
  ASSERT_EQ(info, 0);
  EXPECT_EQ(ap[0], 2.0);
  EXPECT_EQ(ap[1], 1.0);
  EXPECT_EQ(ap[2], std::sqrt(2.0));
  std::vector<double> factor = ap;
  invert_packed_factor(ap.data(), 2);
  EXPECT_DOUBLE_EQ(ap[0], 0.5);
  EXPECT_DOUBLE_EQ(ap[1], -0.5 / std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(ap[2], 1.0 / std::sqrt(2.0));
  multiply_packed_factor_by_transpose(ap.data(), 2);
  std::vector<double> swept = ap;
  ap = factor;
  dppdi(ap.data(), 2, 11);
  EXPECT_EQ(ap, swept);
  EXPECT_NEAR(ap[0], 0.375, 1e-15);
  EXPECT_NEAR(ap[1], -0.25, 1e-15);
  EXPECT_NEAR(ap[2], 0.5, 1e-15);
}

TEST(packed_cholesky_test, zero_pivot_is_a_failure) {
  std::vector<double> ap = {4, 2, 1};
  int info = -1;
  dppco(ap.data(), 2, info);
  EXPECT_EQ(info, 2);
  EXPECT_EQ(ap, (std::vector<double>{2, 1, 1}));
}

TEST(packed_cholesky_test, non_positive_first_element_leaves_ap_untouched) {
  for (double first : {0.0, -3.0}) {
    std::vector<double> ap = {first, 1, 5};
    int info = -1;
    dppco(ap.data(), 2, info);
    EXPECT_EQ(info, 1);
    EXPECT_EQ(ap, (std::vector<double>{first, 1, 5}));
  }
}

TEST(packed_cholesky_test, nan_pivot_is_not_a_failure) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> ap = {1, nan, 1};
  int info = -1;
  dppco(ap.data(), 2, info);
  EXPECT_EQ(info, 0);
  EXPECT_EQ(ap[0], 1.0);
  EXPECT_TRUE(std::isnan(ap[1]));
  EXPECT_TRUE(std::isnan(ap[2]));
}

TEST(packed_cholesky_test, job_with_units_digit_zero_leaves_ap_unchanged) {
  std::vector<double> ap = {2, 1, std::sqrt(2.0)};
  std::vector<double> before = ap;
  dppdi(ap.data(), 2, 10);
  EXPECT_EQ(ap, before);
}

class RandomSpd : public testing::TestWithParam<int> {};

// Scaled residuals as reference LAPACK judges a factorization and an inverse.
TEST_P(RandomSpd, factor_and_inverse_have_small_scaled_residuals) {
  int n = GetParam();
  std::mt19937_64 random(7 + static_cast<unsigned>(n));
  Dense a = random_spd(n, random);
  std::vector<double> ap = pack(a);
  // Guards on both sides catch a write outside the packed storage.
  ap.insert(ap.begin(), 1234.5);
  ap.push_back(6789.5);
  int info = -1;
  dppco(ap.data() + 1, n, info);
  ASSERT_EQ(info, 0);
  const double eps = std::numeric_limits<double>::epsilon();
  double norm_a = one_norm(a);

  Dense residual = a;
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      double sum = 0;
      for (int k = 1; k <= std::min(i, j); ++k) {
        sum += ap[1 + packed_index(k, i)] * ap[1 + packed_index(k, j)];
      }
      residual[i - 1][j - 1] -= sum;
    }
  }
  if (n > 0) {
    EXPECT_LT(one_norm(residual) / (n * norm_a * eps), 30.0);
  }

  dppdi(ap.data() + 1, n, 11);
  EXPECT_EQ(ap.front(), 1234.5);
  EXPECT_EQ(ap.back(), 6789.5);
  std::vector<double> inverse_packed(ap.begin() + 1, ap.end() - 1);
  Dense inverse = unpack_symmetric(inverse_packed, n);
  Dense identity_residual(n, std::vector<double>(n));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      double sum = i == j ? 1.0 : 0.0;
      for (int k = 0; k < n; ++k) sum -= a[i][k] * inverse[k][j];
      identity_residual[i][j] = sum;
    }
  }
  if (n > 0) {
    double scaled = one_norm(identity_residual) / (n * norm_a * one_norm(inverse) * eps);
    EXPECT_LT(scaled, 30.0);
  }
}

INSTANTIATE_TEST_SUITE_P(packed_cholesky_test, RandomSpd,
                         testing::Values(0, 1, 2, 3, 5, 10, 17, 33, 50));

TEST(packed_cholesky_test, indefinite_matrix_reports_its_column) {
  std::mt19937_64 random(99);
  for (int column : {1, 4, 20, 50}) {
    Dense a = random_spd(50, random);
    // Making the leading minor of order `column` negative, while the smaller
    // ones stay positive: set a(c,c) to the Schur complement's value minus
    // one.
    std::vector<double> ap = pack(a);
    int info = -1;
    dppco(ap.data(), 50, info);
    ASSERT_EQ(info, 0);
    double s = 0;
    for (int k = 1; k < column; ++k) {
      double r = ap[packed_index(k, column)];
      s += r * r;
    }
    a[column - 1][column - 1] = s - 1.0;
    ap = pack(a);
    dppco(ap.data(), 50, info);
    EXPECT_EQ(info, column);
  }
}

}  // namespace
}  // namespace tolbe
