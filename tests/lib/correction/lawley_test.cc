#include "correction/lawley.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace tolbe {
namespace {

struct Problem {
  int p = 0;
  int q = 0;
  Matrix restricted;
  Matrix nonrestricted;
};

// The storage is large; keep it off the stack.
struct Solved {
  LawleyWork work;
  Matrix corrected;
  int info = -1;
};

std::unique_ptr<Solved> solve(const Problem& problem) {
  auto solved = std::make_unique<Solved>();
  solved->info = lawley_correct(problem.p, problem.q, problem.restricted, problem.nonrestricted,
                                solved->work, solved->corrected);
  return solved;
}

std::unique_ptr<Problem> worked_problem() {
  auto problem = std::make_unique<Problem>();
  problem->p = 2;
  problem->q = 3;
  const double v[3][3] = {{1.00, 0.50, 0.30}, {0.50, 1.00, 0.40}, {0.30, 0.40, 1.00}};
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) problem->restricted(i, j) = v[i - 1][j - 1];
  problem->nonrestricted(1, 1) = 1.44;
  problem->nonrestricted(1, 2) = 0.60;
  problem->nonrestricted(2, 1) = 0.60;
  problem->nonrestricted(2, 2) = 1.21;
  return problem;
}

// A random problem: V = B'B / m (a sample var/cov matrix, positive definite)
// and S a random positive definite matrix near V11.
std::unique_ptr<Problem> random_problem(int p, int q, std::mt19937_64& random) {
  std::uniform_real_distribution<double> entry(-1.0, 1.0);
  auto problem = std::make_unique<Problem>();
  problem->p = p;
  problem->q = q;
  int m = q + 10;
  std::vector<std::vector<double>> b(m, std::vector<double>(q));
  for (auto& row : b)
    for (double& x : row) x = entry(random);
  for (int i = 1; i <= q; ++i) {
    for (int j = 1; j <= q; ++j) {
      double sum = 0;
      for (int k = 0; k < m; ++k) sum += b[k][i - 1] * b[k][j - 1];
      problem->restricted(i, j) = sum / m + (i == j ? 0.5 : 0.0);
    }
  }
  for (int i = 1; i <= p; ++i) {
    for (int j = 1; j <= p; ++j) {
      problem->nonrestricted(i, j) = problem->restricted(i, j) * 1.3 + (i == j ? 0.2 : 0.0);
    }
  }
  return problem;
}

// Element (i, j) of the leading order x order block of `got` against `want`
// within `tolerance` (0: bit for bit).
void expect_leading_block(const Matrix& got, const Matrix& want, int order,
                          double tolerance = 0.0) {
  for (int i = 1; i <= order; ++i) {
    for (int j = 1; j <= order; ++j) {
      if (tolerance == 0.0) {
        EXPECT_EQ(got(i, j), want(i, j)) << "(" << i << ", " << j << ")";
      } else {
        EXPECT_NEAR(got(i, j), want(i, j), tolerance) << "(" << i << ", " << j << ")";
      }
    }
  }
}

TEST(lawley_test, program_storage_holds_the_largest_problem) {
  std::size_t largest = 0;
  for (int q = 0; q <= MAX_VARIABLES; ++q) {
    for (int p = 0; p <= MAX_VARIABLES; ++p) largest = std::max(largest, lawley_blocks_size(p, q));
  }
  EXPECT_EQ(largest, static_cast<std::size_t>(LawleyWork::capacity));
}

TEST(lawley_test, worked_problem) {
  auto problem = worked_problem();
  auto solved = solve(*problem);
  EXPECT_EQ(solved->info, 0);
  const LawleyBlocks& w = solved->work.blocks;
  EXPECT_NEAR(w.inverse_11(0, 0), 4.0 / 3.0, 1e-15);
  EXPECT_NEAR(w.inverse_11(0, 1), -2.0 / 3.0, 1e-15);
  EXPECT_NEAR(w.inverse_11(1, 0), -2.0 / 3.0, 1e-15);
  EXPECT_NEAR(w.corrected_12(0, 0), 0.392, 1e-15);
  EXPECT_NEAR(w.corrected_12(1, 0), 0.48333333333333333, 1e-15);
  EXPECT_NEAR(w.corrected_22(0, 0), 1.0400444444444444, 1e-12);

  Matrix corr;
  cov_to_corr(3, solved->corrected, corr);
  EXPECT_NEAR(corr(1, 3), 0.3203, 5e-5);
  EXPECT_NEAR(corr(2, 3), 0.4309, 5e-5);
  double reliabilities[3] = {1.0, 1.0, 0.81};
  disattenuate(3, reliabilities, corr);
  EXPECT_NEAR(corr(1, 3), 0.3559, 5e-5);
  EXPECT_NEAR(corr(3, 2), 0.4787, 5e-5);
  EXPECT_NEAR(corr(1, 2), 0.4545, 5e-5);
}

TEST(lawley_test, no_criterion_variables_copies_the_nonrestricted_matrix) {
  std::mt19937_64 random(1);
  auto problem = random_problem(4, 4, random);
  auto solved = solve(*problem);
  expect_leading_block(solved->corrected, problem->nonrestricted, 4);
}

TEST(lawley_test, no_nonrestricted_variables_copies_the_restricted_matrix) {
  std::mt19937_64 random(2);
  auto problem = random_problem(0, 5, random);
  auto solved = solve(*problem);
  expect_leading_block(solved->corrected, problem->restricted, 5);
}

TEST(lawley_test, no_restriction_reproduces_the_input) {
  std::mt19937_64 random(3);
  auto problem = random_problem(3, 7, random);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) problem->nonrestricted(i, j) = problem->restricted(i, j);
  auto solved = solve(*problem);
  expect_leading_block(solved->corrected, problem->restricted, 7, 1e-13);
}

TEST(lawley_test, lower_triangle_of_leading_block_and_lower_left_block_are_not_read) {
  std::mt19937_64 random(4);
  auto problem = random_problem(3, 6, random);
  auto before = solve(*problem);
  problem->restricted(2, 1) = 1e6;
  problem->restricted(3, 2) = -7.0;
  for (int i = 4; i <= 6; ++i)
    for (int j = 1; j <= 3; ++j) problem->restricted(i, j) = 99.0 * i + j;
  auto after = solve(*problem);
  expect_leading_block(after->corrected, before->corrected, 6);
}

// The block of the others is read whole: an element below its diagonal
// reaches the corrected matrix at its own place, and only there.
TEST(lawley_test, lower_right_block_is_read_whole) {
  std::mt19937_64 random(8);
  auto problem = random_problem(3, 6, random);
  auto before = solve(*problem);
  problem->restricted(6, 4) += 0.25;  // below the diagonal of V22
  auto after = solve(*problem);
  for (int j = 1; j <= 6; ++j) {
    for (int i = 1; i <= 6; ++i) {
      if (i == 6 && j == 4) {
        EXPECT_NEAR(after->corrected(i, j) - before->corrected(i, j), 0.25, 1e-12);
      } else {
        EXPECT_EQ(after->corrected(i, j), before->corrected(i, j)) << i << "," << j;
      }
    }
  }
}

TEST(lawley_test, asymmetric_nonrestricted_matrix_is_copied_as_read) {
  std::mt19937_64 random(5);
  auto problem = random_problem(2, 4, random);
  problem->nonrestricted(1, 2) += 0.25;
  auto solved = solve(*problem);
  EXPECT_EQ(solved->corrected(1, 2), problem->nonrestricted(1, 2));
  EXPECT_EQ(solved->corrected(2, 1), problem->nonrestricted(2, 1));
  for (int i = 1; i <= 2; ++i)
    for (int j = 3; j <= 4; ++j) EXPECT_EQ(solved->corrected(i, j), solved->corrected(j, i));
}

TEST(lawley_test, unit_reliabilities_change_nothing_and_diagonal_is_kept) {
  std::mt19937_64 random(6);
  auto problem = random_problem(2, 5, random);
  auto solved = solve(*problem);
  Matrix corr;
  cov_to_corr(5, solved->corrected, corr);
  Matrix disattenuated = corr;
  double ones[5] = {1, 1, 1, 1, 1};
  disattenuate(5, ones, disattenuated);
  expect_leading_block(disattenuated, corr, 5);
  double half[5] = {1, 1, 0.25, 0.25, 0.25};
  disattenuate(5, half, disattenuated);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(disattenuated(i, i), corr(i, i));
  EXPECT_EQ(disattenuated(3, 4), corr(3, 4) * 4.0);
  EXPECT_EQ(disattenuated(1, 3), corr(1, 3) * 2.0);
}

TEST(lawley_test, non_positive_variances_and_zero_reliabilities_give_non_finite_values) {
  Matrix cov;
  cov(1, 1) = 0.0;
  cov(2, 2) = 1.0;
  cov(1, 2) = cov(2, 1) = 0.5;
  Matrix corr;
  cov_to_corr(2, cov, corr);
  EXPECT_TRUE(std::isnan(corr(1, 1)));
  EXPECT_TRUE(std::isinf(corr(1, 2)));
  EXPECT_EQ(corr(2, 2), 1.0);
  Matrix unit;
  unit(1, 1) = unit(2, 2) = 1.0;
  unit(1, 2) = unit(2, 1) = 0.5;
  double reliabilities[2] = {1.0, 0.0};
  disattenuate(2, reliabilities, unit);
  EXPECT_TRUE(std::isinf(unit(1, 2)));
  EXPECT_EQ(unit(2, 2), 1.0);
}

TEST(lawley_test, leading_block_not_positive_definite_is_reported) {
  auto problem = worked_problem();
  problem->restricted(2, 2) = 0.25;  // V11 = ((1, .5), (.5, .25)) is singular
  auto solved = solve(*problem);
  EXPECT_EQ(solved->info, 2);
}

// Lawley's formula evaluated from scratch in long double, sharing no code
// with the product path: W by Gauss-Jordan elimination, then
// C12 = S W V12 and C22 = V22 - V21 W (V11 - S) W V12.
using LongMatrix = std::vector<std::vector<long double>>;

LongMatrix block(const Matrix& m, int row0, int col0, int rows, int cols) {
  LongMatrix out(rows, std::vector<long double>(cols));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) out[i][j] = m(row0 + i + 1, col0 + j + 1);
  return out;
}

LongMatrix product(const LongMatrix& a, const LongMatrix& b) {
  std::size_t cols = b.empty() ? 0 : b[0].size();
  LongMatrix out(a.size(), std::vector<long double>(cols));
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < cols; ++j)
      for (std::size_t k = 0; k < b.size(); ++k) out[i][j] += a[i][k] * b[k][j];
  return out;
}

LongMatrix inverse(LongMatrix a) {
  std::size_t n = a.size();
  LongMatrix inv(n, std::vector<long double>(n));
  for (std::size_t i = 0; i < n; ++i) inv[i][i] = 1;
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    std::swap(a[c], a[pivot]);
    std::swap(inv[c], inv[pivot]);
    long double d = a[c][c];
    for (std::size_t j = 0; j < n; ++j) {
      a[c][j] /= d;
      inv[c][j] /= d;
    }
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      long double f = a[r][c];
      for (std::size_t j = 0; j < n; ++j) {
        a[r][j] -= f * a[c][j];
        inv[r][j] -= f * inv[c][j];
      }
    }
  }
  return inv;
}

class AgainstLawleyFormula : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(AgainstLawleyFormula, agrees_to_twelve_digits) {
  auto [p, q] = GetParam();
  std::mt19937_64 random(static_cast<unsigned>(p * 100 + q));
  auto problem = random_problem(p, q, random);
  auto solved = solve(*problem);
  ASSERT_EQ(solved->info, 0);
  int c = q - p;
  LongMatrix v11 = block(problem->restricted, 0, 0, p, p);
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < i; ++j) v11[i][j] = v11[j][i];
  LongMatrix v12 = block(problem->restricted, 0, p, p, c);
  LongMatrix v21(c, std::vector<long double>(p));
  for (int i = 0; i < c; ++i)
    for (int j = 0; j < p; ++j) v21[i][j] = v12[j][i];
  LongMatrix v22 = block(problem->restricted, p, p, c, c);
  LongMatrix s = block(problem->nonrestricted, 0, 0, p, p);
  LongMatrix w = inverse(v11);
  LongMatrix c12 = product(product(s, w), v12);
  LongMatrix difference = v11;
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < p; ++j) difference[i][j] -= s[i][j];
  LongMatrix shift = product(product(product(product(v21, w), difference), w), v12);

  auto expect_close = [](double got, long double want) {
    long double scale = std::max<long double>(std::fabs(want), 1.0L);
    EXPECT_LE(std::fabs(static_cast<long double>(got) - want) / scale, 1e-12L);
  };
  for (int i = 0; i < p; ++i)
    for (int j = 0; j < c; ++j) expect_close(solved->corrected(i + 1, p + j + 1), c12[i][j]);
  for (int i = 0; i < c; ++i)
    for (int j = 0; j < c; ++j)
      expect_close(solved->corrected(p + i + 1, p + j + 1), v22[i][j] - shift[i][j]);
}

INSTANTIATE_TEST_SUITE_P(lawley_test, AgainstLawleyFormula,
                         testing::Values(std::pair{1, 2}, std::pair{2, 3}, std::pair{5, 12},
                                         std::pair{10, 11}, std::pair{25, 50}, std::pair{49, 50},
                                         std::pair{1, 50}));

}  // namespace
}  // namespace tolbe
