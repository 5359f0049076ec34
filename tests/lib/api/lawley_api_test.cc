#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "correction/lawley.h"
#include "driver/problem.h"
#include "driver/problem_input.h"
#include "io/input_stream.h"
#include "io/list_reader.h"
#include "tolbe/lawley.h"

namespace tolbe {
namespace {

// A q x q column-major matrix with leading dimension q.
struct Dense {
  int n = 0;
  std::vector<double> v;
  explicit Dense(int order = 0) : n(order), v(static_cast<std::size_t>(order) * order, 0.0) {}
  double& operator()(int i, int j) { return v[static_cast<std::size_t>(i + j * n)]; }
  double operator()(int i, int j) const { return v[static_cast<std::size_t>(i + j * n)]; }
};

LawleyProblem problem_of(const Dense& restricted, const Dense& unrestricted,
                         std::span<const int> selection = {},
                         std::span<const double> reliabilities = {}) {
  LawleyProblem pr;
  pr.q = restricted.n;
  pr.p = unrestricted.n;
  pr.restricted = restricted.v.data();
  pr.ld_restricted = std::max(1, restricted.n);
  pr.unrestricted = unrestricted.v.data();
  pr.ld_unrestricted = std::max(1, unrestricted.n);
  pr.selection = selection;
  pr.reliabilities = reliabilities;
  return pr;
}

std::uint64_t bits(double x) {
  return std::bit_cast<std::uint64_t>(x);
}

// ---- Bit-identity with the console program -------------------------------

std::string slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

TEST(lawley_api_test, examples_are_bit_identical_to_the_program) {
  for (const char* name : {"worked.txt", "twelve.txt", "fifty.txt"}) {
    std::string text = slurp(std::string(TOLBE_EXAMPLES) + "/" + name);
    InputStream input(text);
    ListReader reader(input);
    static Problem problem;
    problem = Problem{};
    ASSERT_TRUE(read_problem(reader, problem));
    int p = problem.n_nonrestricted;
    int q = problem.n_total;

    // The program's own road.
    static LawleyWork work;
    static Matrix cov, corr;
    ASSERT_EQ(lawley_correct(p, q, problem.restricted_cov, problem.nonrestricted_cov, work, cov),
              0);
    cov_to_corr(q, cov, corr);
    static Matrix dis;
    dis = corr;
    disattenuate(q, problem.reliabilities, dis);

    // The library's, on the same storage with leading dimension 50.
    LawleyProblem pr;
    pr.q = q;
    pr.p = p;
    pr.restricted = problem.restricted_cov.data();
    pr.ld_restricted = Matrix::leading_dimension;
    pr.unrestricted = problem.nonrestricted_cov.data();
    pr.ld_unrestricted = Matrix::leading_dimension;
    pr.reliabilities = {problem.reliabilities + p, static_cast<std::size_t>(q - p)};
    LawleyCorrection got = lawley(pr);
    ASSERT_EQ(got.status, Status::ok) << name;
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < q; ++i) {
        std::size_t k = static_cast<std::size_t>(i + j * q);
        ASSERT_EQ(bits(got.covariances[k]), bits(cov(i + 1, j + 1))) << name << i << "," << j;
        ASSERT_EQ(bits(got.correlations[k]), bits(corr(i + 1, j + 1))) << name;
        ASSERT_EQ(bits(got.disattenuated[k]), bits(dis(i + 1, j + 1))) << name;
      }
    }
  }
}

// ---- Against a long-double evaluation of Lawley's formula ----------------

using Real = long double;

// Gauss-Jordan inverse of a symmetric positive definite n x n matrix.
std::vector<Real> inverse(std::vector<Real> a, int n) {
  std::vector<Real> x(static_cast<std::size_t>(n) * n, 0.0L);
  for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i + i * n)] = 1.0L;
  auto at = [n](std::vector<Real>& m, int i, int j) -> Real& {
    return m[static_cast<std::size_t>(i + j * n)];
  };
  for (int c = 0; c < n; ++c) {
    Real pivot = at(a, c, c);
    for (int j = 0; j < n; ++j) {
      at(a, c, j) /= pivot;
      at(x, c, j) /= pivot;
    }
    for (int r = 0; r < n; ++r) {
      if (r == c) continue;
      Real f = at(a, r, c);
      for (int j = 0; j < n; ++j) {
        at(a, r, j) -= f * at(a, c, j);
        at(x, r, j) -= f * at(x, c, j);
      }
    }
  }
  return x;
}

// C in input order by C11 = S, C12 = S W V12, C22 = V22 - V21 W (V11 - S) W V12.
Dense reference(const Dense& v, const Dense& s, const std::vector<int>& order) {
  int q = v.n;
  int p = s.n;
  int m = q - p;
  auto V = [&](int a, int b) { return static_cast<Real>(v(order[a], order[b])); };
  std::vector<Real> v11(static_cast<std::size_t>(p) * p);
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i)
      v11[static_cast<std::size_t>(i + j * p)] = V(std::min(i, j), std::max(i, j));
  }
  std::vector<Real> w = inverse(v11, p);
  auto W = [&](int i, int j) { return w[static_cast<std::size_t>(i + j * p)]; };
  // W V12 (p x m) and (V11 - S)
  std::vector<Real> wv12(static_cast<std::size_t>(p) * m, 0.0L);
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) {
      Real sum = 0;
      for (int k = 0; k < p; ++k) sum += W(i, k) * V(k, p + j);
      wv12[static_cast<std::size_t>(i + j * p)] = sum;
    }
  }
  auto WV = [&](int i, int j) { return wv12[static_cast<std::size_t>(i + j * p)]; };
  Dense c(q);
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) c(order[i], order[j]) = s(i, j);
  }
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) {
      Real sum = 0;
      for (int k = 0; k < p; ++k) sum += static_cast<Real>(s(i, k)) * WV(k, j);
      c(order[i], order[p + j]) = static_cast<double>(sum);
      c(order[p + j], order[i]) = static_cast<double>(sum);
    }
  }
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < m; ++i) {
      Real sum = 0;
      for (int a = 0; a < p; ++a) {
        for (int b = 0; b < p; ++b) {
          Real d = V(std::min(a, b), std::max(a, b)) - static_cast<Real>(s(a, b));
          sum += WV(a, i) * d * WV(b, j);
        }
      }
      c(order[p + i], order[p + j]) = static_cast<double>(V(p + i, p + j) - sum);
    }
  }
  return c;
}

// A random symmetric positive definite matrix of order n.
Dense random_spd(std::mt19937_64& random, int n) {
  std::normal_distribution<double> normal;
  Dense a(n);
  for (double& x : a.v) x = normal(random);
  Dense s(n);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      double sum = i == j ? n : 0.0;
      for (int k = 0; k < n; ++k) sum += a(i, k) * a(j, k) / n;
      s(i, j) = sum;
    }
  }
  return s;
}

struct RandomCase {
  Dense v, s;
  std::vector<int> selection, order;
};

RandomCase random_case(std::mt19937_64& random, int q, int p) {
  RandomCase c{random_spd(random, q), Dense(p), {}, {}};
  std::vector<int> all(static_cast<std::size_t>(q));
  std::iota(all.begin(), all.end(), 0);
  std::shuffle(all.begin(), all.end(), random);
  c.selection.assign(all.begin(), all.begin() + p);
  std::vector<int> others(all.begin() + p, all.end());
  std::sort(others.begin(), others.end());
  c.order = c.selection;
  c.order.insert(c.order.end(), others.begin(), others.end());
  // The unrestricted block: the selection block widened by a random factor.
  Dense extra = random_spd(random, p);
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i)
      c.s(i, j) = 1.5 * c.v(c.selection[i], c.selection[j]) + 0.2 * extra(i, j);
  }
  return c;
}

TEST(lawley_api_test, agrees_with_a_long_double_reference) {
  std::mt19937_64 random(1994);
  for (int trial = 0; trial < 120; ++trial) {
    int q = 1 + static_cast<int>(random() % 60);
    int p = static_cast<int>(random() % (q + 1));
    RandomCase c = random_case(random, q, p);
    LawleyCorrection got = lawley(problem_of(c.v, c.s, c.selection));
    ASSERT_EQ(got.status, Status::ok);
    Dense want = reference(c.v, c.s, c.order);
    double scale = 0.0;
    for (double x : want.v) scale = std::max(scale, std::fabs(x));
    for (std::size_t k = 0; k < want.v.size(); ++k) {
      ASSERT_NEAR(got.covariances[k], want.v[k], 1e-12 * scale) << "q " << q << " p " << p;
    }
  }
}

// Selection at any positions is the permuted problem, corrected and
// permuted back: the very same arithmetic, so the very same bits.
TEST(lawley_api_test, selection_anywhere_equals_the_permuted_problem) {
  std::mt19937_64 random(3);
  for (int trial = 0; trial < 30; ++trial) {
    int q = 2 + static_cast<int>(random() % 20);
    int p = static_cast<int>(random() % (q + 1));
    RandomCase c = random_case(random, q, p);
    std::vector<double> rel(static_cast<std::size_t>(q - p));
    for (double& r : rel) r = 0.5 + 0.5 * std::generate_canonical<double, 53>(random);
    LawleyCorrection anywhere = lawley(problem_of(c.v, c.s, c.selection, rel));
    Dense permuted(q);
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < q; ++i) permuted(i, j) = c.v(c.order[i], c.order[j]);
    }
    LawleyCorrection leading = lawley(problem_of(permuted, c.s, {}, rel));
    ASSERT_EQ(anywhere.status, Status::ok);
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < q; ++i) {
        std::size_t in_input = static_cast<std::size_t>(c.order[i] + c.order[j] * q);
        std::size_t in_leading = static_cast<std::size_t>(i + j * q);
        ASSERT_EQ(bits(anywhere.covariances[in_input]), bits(leading.covariances[in_leading]));
        if (rel.empty()) continue;
        ASSERT_EQ(bits(anywhere.disattenuated[in_input]), bits(leading.disattenuated[in_leading]));
      }
    }
  }
}

// Selection in reverse is the same call: from the corrected (population)
// matrix, with the restricted selection block as "unrestricted", it gives
// back the restricted matrix.
TEST(lawley_api_test, selection_in_reverse_undoes_the_correction) {
  std::mt19937_64 random(1943);
  RandomCase c = random_case(random, 8, 3);
  LawleyCorrection forward = lawley(problem_of(c.v, c.s, c.selection));
  Dense population(8);
  population.v = forward.covariances;
  Dense selected_block(3);
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < 3; ++i) selected_block(i, j) = c.v(c.selection[i], c.selection[j]);
  }
  LawleyCorrection back = lawley(problem_of(population, selected_block, c.selection));
  ASSERT_EQ(back.status, Status::ok);
  for (std::size_t k = 0; k < c.v.v.size(); ++k) EXPECT_NEAR(back.covariances[k], c.v.v[k], 1e-12);
}

TEST(lawley_api_test, all_selected_returns_the_unrestricted_matrix_in_place) {
  std::mt19937_64 random(5);
  RandomCase c = random_case(random, 6, 6);
  LawleyCorrection got = lawley(problem_of(c.v, c.s, c.selection));
  for (int j = 0; j < 6; ++j) {
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(got.covariances[static_cast<std::size_t>(c.selection[i] + c.selection[j] * 6)],
                c.s(i, j));
    }
  }
}

TEST(lawley_api_test, none_selected_returns_the_restricted_matrix) {
  std::mt19937_64 random(6);
  RandomCase c = random_case(random, 7, 0);
  LawleyCorrection got = lawley(problem_of(c.v, c.s));
  EXPECT_EQ(got.covariances, c.v.v);
}

// Thorndike's Case II: one selection variable x and one other y.
TEST(lawley_api_test, one_and_one_is_thorndike_case_two) {
  for (auto [r, u] : {std::pair{0.3, 1.5}, {0.5, 2.0}, {-0.4, 1.2}, {0.2, 0.7}}) {
    double sd_x = 1.3;
    double sd_y = 0.8;
    Dense v(2);
    v(0, 0) = sd_x * sd_x;
    v(1, 1) = sd_y * sd_y;
    v(0, 1) = v(1, 0) = r * sd_x * sd_y;
    Dense s(1);
    s(0, 0) = u * u * sd_x * sd_x;
    LawleyCorrection got = lawley(problem_of(v, s));
    double want = r * u / std::sqrt(1 - r * r + r * r * u * u);
    EXPECT_NEAR(got.correlations[2], want, 1e-14) << r << " " << u;
  }
}

TEST(lawley_api_test, ree_et_al_1994_example) {
  Dense v(4);
  v.v = {25.311,  -1.6725,  13.0447,   5.0939,  -1.6725, 17.7073, -10.7549, 9.468,
         13.0447, -10.7549, 1372.0356, 52.7834, 5.0939,  9.468,   52.7834,  351.5625};
  Dense s(2);
  s.v = {36.4816, 6.1608, 6.1608, 16.6464};
  LawleyCorrection got = lawley(problem_of(v, s));
  auto r = [&](int i, int j) { return got.correlations[static_cast<std::size_t>(i + 4 * j)]; };
  EXPECT_NEAR(r(0, 1), 0.25000000, 5e-9);
  EXPECT_NEAR(r(0, 2), 0.06254509, 5e-9);
  EXPECT_NEAR(r(0, 3), 0.10664023, 5e-9);
  EXPECT_NEAR(r(1, 2), -0.04246105, 5e-9);
  EXPECT_NEAR(r(1, 3), 0.13994188, 5e-9);
  EXPECT_NEAR(r(2, 3), 0.07959423, 5e-9);
  // The restricted r12 is negative, the corrected one positive.
  EXPECT_EQ(got.diagnostics.sign_changes, 1);
  EXPECT_EQ(got.diagnostics.first_sign_change.row, 0);
  EXPECT_EQ(got.diagnostics.first_sign_change.column, 1);
}

// ---- Diagnostics ------------------------------------------------------------

// The worked problem of the program: 2 selection variables of 3.
struct Worked {
  Dense v{3}, s{2};
  std::vector<double> rel{0.81};
  Worked() {
    v.v = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
    s.v = {1.44, 0.60, 0.60, 1.21};
  }
  LawleyProblem problem() const { return problem_of(v, s, {}, rel); }
};

TEST(lawley_api_test, clean_problem_has_clean_diagnostics) {
  Worked w;
  LawleyCorrection got = lawley(w.problem());
  const Diagnostics& d = got.diagnostics;
  EXPECT_EQ(d.status, Status::ok);
  EXPECT_EQ(d.argument, Argument::none);
  EXPECT_EQ(d.restricted_asymmetry, 0.0);
  EXPECT_EQ(d.unrestricted_asymmetry, 0.0);
  EXPECT_TRUE(d.restricted_positive_definite);
  EXPECT_TRUE(d.unrestricted_positive_definite);
  EXPECT_EQ(d.nonpositive_variances + d.correlations_out_of_range + d.disattenuated_out_of_range +
                d.reliabilities_out_of_range + d.sign_changes,
            0);
  EXPECT_NEAR(got.disattenuated[2], got.correlations[2] / 0.9, 1e-15);
}

TEST(lawley_api_test, each_diagnostic_on_a_case_that_triggers_it) {
  {  // the ignored triangle differs from the one read
    Worked w;
    w.v(1, 0) = 0.7;  // read: (0, 1) = 0.5
    w.s(1, 0) = 0.9;  // S is read whole: (0, 1) = 0.6
    Diagnostics d = lawley(w.problem()).diagnostics;
    EXPECT_NEAR(d.restricted_asymmetry, 0.2, 1e-15);
    EXPECT_NEAR(d.unrestricted_asymmetry, 0.3 / std::sqrt(1.44 * 1.21), 1e-15);
  }
  {  // V not positive definite as a whole, S neither, V11 still is
    Worked w;
    w.v(2, 2) = 0.1;
    w.s(1, 1) = 0.2;
    Diagnostics d = lawley(w.problem()).diagnostics;
    EXPECT_FALSE(d.restricted_positive_definite);
    EXPECT_FALSE(d.unrestricted_positive_definite);
    EXPECT_EQ(d.status, Status::ok);
    EXPECT_GT(d.correlations_out_of_range, 0);
    EXPECT_EQ(d.first_correlation_out_of_range.row, 0);
    EXPECT_EQ(d.first_correlation_out_of_range.column, 1);
  }
  {  // reliabilities outside (0, 1], and a disattenuated |r| above 1
    Worked w;
    w.rel = {0.01};
    Diagnostics d = lawley(w.problem()).diagnostics;
    EXPECT_EQ(d.reliabilities_out_of_range, 0);
    EXPECT_GT(d.disattenuated_out_of_range, 0);
    EXPECT_EQ(d.first_disattenuated_out_of_range.row, 0);
    EXPECT_EQ(d.first_disattenuated_out_of_range.column, 2);
    w.rel = {81.0};
    d = lawley(w.problem()).diagnostics;
    EXPECT_EQ(d.reliabilities_out_of_range, 1);
    EXPECT_EQ(d.first_reliability_out_of_range, 2);
  }
  {  // V11 not positive definite: status, minor, and NaN results
    Worked w;
    w.v(1, 1) = 0.25;  // 1 * 0.25 - 0.5 * 0.5 = 0
    LawleyCorrection got = lawley(w.problem());
    EXPECT_EQ(got.status, Status::not_positive_definite);
    EXPECT_EQ(got.diagnostics.leading_minor, 2);
    for (double x : got.covariances) EXPECT_TRUE(std::isnan(x));
    for (double x : got.disattenuated) EXPECT_TRUE(std::isnan(x));
  }
}

TEST(lawley_api_test, a_nonpositive_corrected_variance_is_counted) {
  // One selection variable x, one other y: C22 = V22 - V21 W (V11 - S) W V12,
  // negative when S is far below V11 and y leans on x.
  Dense v(2);
  v.v = {1.0, 0.9, 0.9, 1.0};
  Dense s(1);
  s.v = {0.0001};
  Diagnostics d = lawley(problem_of(v, s)).diagnostics;
  EXPECT_EQ(d.nonpositive_variances, 0);  // 1 - 0.81 * 0.9999 > 0
  s.v = {-1.0};
  d = lawley(problem_of(v, s)).diagnostics;
  EXPECT_EQ(d.nonpositive_variances, 2);
  EXPECT_EQ(d.first_nonpositive_variance.row, 0);
  EXPECT_FALSE(d.unrestricted_positive_definite);
}

// ---- Reliabilities: the range (0, 1] and the variable named -----------------

// One selection variable of three, at any position: with V11 = 1 and S = 4,
// C = V + 3 V12' V12 off the selection block.
struct OneOfThree {
  Dense v{3}, s{1};
  OneOfThree() {
    v.v = {0.8125, 0.21875, 0.25, 0.21875, 0.578125, 0.375, 0.25, 0.375, 1.0};
    s.v = {4.0};
  }
};

struct ReliabilityCase {
  const char* name;
  int selected;  // -1: the worked problem, selection variables 0 and 1
  std::vector<double> reliabilities;
  int out_of_range;
  int first;  // the variable, numbered from 0; -1 for none
};

void PrintTo(const ReliabilityCase& c, std::ostream* os) {
  *os << c.name;
}

class ReliabilityRange : public testing::TestWithParam<ReliabilityCase> {};

TEST_P(ReliabilityRange, counts_those_outside_and_names_the_first) {
  const ReliabilityCase& c = GetParam();
  Worked w;
  OneOfThree one;
  int selection[1] = {c.selected};
  LawleyProblem pr = c.selected < 0 ? problem_of(w.v, w.s, {}, c.reliabilities)
                                    : problem_of(one.v, one.s, selection, c.reliabilities);
  LawleyCorrection got = lawley(pr);
  ASSERT_EQ(got.status, Status::ok);
  EXPECT_EQ(got.diagnostics.reliabilities_out_of_range, c.out_of_range);
  EXPECT_EQ(got.diagnostics.first_reliability_out_of_range, c.first);
}

const double one_ulp_above_one = std::nextafter(1.0, 2.0);
const double one_ulp_below_one = std::nextafter(1.0, 0.0);

INSTANTIATE_TEST_SUITE_P(
    lawley_api_test, ReliabilityRange,
    testing::Values(
        ReliabilityCase{"exactly_one", -1, {1.0}, 0, -1},
        ReliabilityCase{"one_ulp_above_one", -1, {one_ulp_above_one}, 1, 2},
        ReliabilityCase{"one_ulp_below_one", -1, {one_ulp_below_one}, 0, -1},
        ReliabilityCase{"zero", -1, {0.0}, 1, 2},
        ReliabilityCase{"negative_zero", -1, {-0.0}, 1, 2},
        ReliabilityCase{
            "smallest_positive", -1, {std::numeric_limits<double>::denorm_min()}, 0, -1},
        ReliabilityCase{"negative", -1, {-0.81}, 1, 2},
        ReliabilityCase{"percent_for_proportion", -1, {81.0}, 1, 2},
        // With the selection variable last, the reliabilities are those of
        // variables 0 and 1, in that order.
        ReliabilityCase{"selection_last_second_outside", 2, {0.25, 4.0}, 1, 1},
        ReliabilityCase{"selection_last_first_outside", 2, {4.0, 0.25}, 1, 0},
        ReliabilityCase{"selection_last_both_outside", 2, {0.0, one_ulp_above_one}, 2, 0},
        ReliabilityCase{"selection_last_both_at_one", 2, {1.0, 1.0}, 0, -1},
        // With it in the middle, those of variables 0 and 2.
        ReliabilityCase{"selection_middle_second_outside", 1, {1.0, 0.0}, 1, 2},
        ReliabilityCase{"selection_middle_first_outside", 1, {one_ulp_above_one, 1.0}, 1, 0},
        // With it first, those of variables 1 and 2.
        ReliabilityCase{"selection_first_second_outside", 0, {0.5, 2.0}, 1, 2},
        ReliabilityCase{"selection_first_first_outside", 0, {-1.0, 0.5}, 1, 1}),
    [](const testing::TestParamInfo<ReliabilityCase>& param_info) {
      return param_info.param.name;
    });

// ---- Corrected variances and correlations that are not numbers ------------

// Small problems whose corrected matrices are worked out by hand, exactly
// (every step is exact in binary): with V11 = 1 and S = s, for the others
// C12 = s V12 and C22 = V22 + (s - 1) V21 V12.
struct CorrectedCase {
  const char* name;
  Dense (*restricted)();
  Dense (*unrestricted)();
  int nonpositive_variances;
  Place first_nonpositive_variance;
  int correlations_out_of_range;  // off the diagonal: pairs i < j
  Place first_correlation_out_of_range;
};

void PrintTo(const CorrectedCase& c, std::ostream* os) {
  *os << c.name;
}

Dense dense(int n, std::initializer_list<double> column_major) {
  Dense d(n);
  d.v.assign(column_major);
  return d;
}

class CorrectedDiagnostics : public testing::TestWithParam<CorrectedCase> {};

TEST_P(CorrectedDiagnostics, count_variances_and_pairs_off_the_diagonal) {
  const CorrectedCase& c = GetParam();
  Dense v = c.restricted();
  Dense s = c.unrestricted();
  // Reliabilities of 1 leave the disattenuated correlations the corrected
  // ones, so both counts must agree.
  std::vector<double> ones(static_cast<std::size_t>(v.n - s.n), 1.0);
  LawleyCorrection got = lawley(problem_of(v, s, {}, ones));
  ASSERT_EQ(got.status, Status::ok);
  const Diagnostics& d = got.diagnostics;
  EXPECT_EQ(d.nonpositive_variances, c.nonpositive_variances);
  EXPECT_EQ(d.first_nonpositive_variance.row, c.first_nonpositive_variance.row);
  EXPECT_EQ(d.first_nonpositive_variance.column, c.first_nonpositive_variance.column);
  EXPECT_EQ(d.correlations_out_of_range, c.correlations_out_of_range);
  EXPECT_EQ(d.first_correlation_out_of_range.row, c.first_correlation_out_of_range.row);
  EXPECT_EQ(d.first_correlation_out_of_range.column, c.first_correlation_out_of_range.column);
  if (!ones.empty()) {
    EXPECT_EQ(d.disattenuated_out_of_range, c.correlations_out_of_range);
    EXPECT_EQ(d.first_disattenuated_out_of_range.row, c.first_correlation_out_of_range.row);
    EXPECT_EQ(d.first_disattenuated_out_of_range.column, c.first_correlation_out_of_range.column);
  }
}

const Place nowhere{};

INSTANTIATE_TEST_SUITE_P(
    lawley_api_test, CorrectedDiagnostics,
    testing::Values(
        // s = 0.25, V12 = 1, V22 = 0.75: C22 = 0.75 - 0.75 = 0, the last
        // variance; r12 = 0.25 / (0.5 * 0) = Inf.
        CorrectedCase{"zero_variance_of_the_last_variable",
                      [] {
                        return dense(2, {1.0, 1.0, 1.0, 0.75});
                      },
                      [] { return dense(1, {0.25}); }, 1, Place{1, 1}, 1, Place{0, 1}},
        // S = 0: C11 = 0, C12 = 0, C22 = V22; r12 = 0 / 0.
        CorrectedCase{"zero_variance_of_the_selection_variable",
                      [] {
                        return dense(2, {1.0, 0.0, 0.0, 1.0});
                      },
                      [] { return dense(1, {0.0}); }, 1, Place{0, 0}, 1, Place{0, 1}},
        // Two others, V12 = (1, -1), V22 = 0.75 I: C22 = [[0, 0.75], [0.75, 0]];
        // r12 = Inf, r13 = -Inf, r23 = 0.75 / 0.
        CorrectedCase{"two_zero_variances",
                      [] {
                        return dense(3, {1.0, 1.0, -1.0, 1.0, 0.75, 0.0, -1.0, 0.0, 0.75});
                      },
                      [] { return dense(1, {0.25}); }, 2, Place{1, 1}, 3, Place{0, 1}},
        // V11 = I, V12 = (1e200, 1e200), S = diag(2, 0.5): C33 = 1 + 1e200 *
        // 1e200 - 1e200 * 0.5e200 = 1 + Inf - Inf, NaN; r12 = 0.
        CorrectedCase{"not_a_number_as_the_last_variance",
                      [] {
                        return dense(3, {1.0, 0.0, 1e200, 0.0, 1.0, 1e200, 1e200, 1e200, 1.0});
                      },
                      [] {
                        return dense(2, {2.0, 0.0, 0.0, 0.5});
                      },
                      1, Place{2, 2}, 2, Place{0, 2}},
        // C11 = S = 3: its correlation with itself is 3 / (sqrt(3) sqrt(3)),
        // just above 1, and no pair.
        CorrectedCase{"diagonal_just_above_one_alone", [] { return dense(1, {1.0}); },
                      [] { return dense(1, {3.0}); }, 0, nowhere, 0, nowhere},
        CorrectedCase{"diagonal_just_above_one_beside_a_pair",
                      [] {
                        return dense(2, {1.0, 0.0, 0.0, 1.0});
                      },
                      [] { return dense(1, {3.0}); }, 0, nowhere, 0, nowhere},
        // A pair above 1: s = 4, V12 = 2, V22 = 0.25: C12 = 8, C22 = 12.25,
        // r12 = 8 / (2 * 3.5) = 8/7.
        CorrectedCase{"pair_above_one",
                      [] {
                        return dense(2, {1.0, 2.0, 2.0, 0.25});
                      },
                      [] { return dense(1, {4.0}); }, 0, nowhere, 1, Place{0, 1}}),
    [](const testing::TestParamInfo<CorrectedCase>& param_info) { return param_info.param.name; });

// The hand-worked values behind the cases above, so that each case is known
// to be what its comment says.
TEST(lawley_api_test, corrected_cases_hold_the_values_worked_by_hand) {
  Dense zero_last = dense(2, {1.0, 1.0, 1.0, 0.75});
  LawleyCorrection a = lawley(problem_of(zero_last, dense(1, {0.25})));
  EXPECT_EQ(a.covariances, (std::vector<double>{0.25, 0.25, 0.25, 0.0}));
  EXPECT_EQ(a.correlations[2], std::numeric_limits<double>::infinity());
  Dense two = dense(3, {1.0, 1.0, -1.0, 1.0, 0.75, 0.0, -1.0, 0.0, 0.75});
  LawleyCorrection b = lawley(problem_of(two, dense(1, {0.25})));
  EXPECT_EQ(b.covariances,
            (std::vector<double>{0.25, 0.25, -0.25, 0.25, 0.0, 0.75, -0.25, 0.75, 0.0}));
  Dense overflow = dense(3, {1.0, 0.0, 1e200, 0.0, 1.0, 1e200, 1e200, 1e200, 1.0});
  LawleyCorrection c = lawley(problem_of(overflow, dense(2, {2.0, 0.0, 0.0, 0.5})));
  EXPECT_TRUE(std::isnan(c.covariances[8]));
  EXPECT_EQ(c.covariances[0], 2.0);
  EXPECT_EQ(c.covariances[4], 0.5);
  LawleyCorrection d = lawley(problem_of(dense(1, {1.0}), dense(1, {3.0})));
  EXPECT_GT(d.correlations[0], 1.0);  // 3 / 2.9999999999999996
  LawleyCorrection e = lawley(problem_of(dense(2, {1.0, 2.0, 2.0, 0.25}), dense(1, {4.0})));
  EXPECT_EQ(e.correlations[2], 8.0 / 7.0);
}

// The listed pairs are those of the element the correction reads (the upper
// triangle of the permuted matrix): the unread triangle is negated here, so
// a pair judged by the wrong element shows. Both sizes, below and above the
// positions kept on the stack.
class SignChangeList : public ::testing::TestWithParam<int> {};

TEST_P(SignChangeList, holds_the_pairs_of_the_elements_read) {
  int q = GetParam();
  std::mt19937_64 random(static_cast<std::uint64_t>(q));
  RandomCase c = random_case(random, q, q / 3);
  std::vector<int> position(static_cast<std::size_t>(q));
  for (int k = 0; k < q; ++k) position[static_cast<std::size_t>(c.order[k])] = k;
  auto at = [&](int i) { return position[static_cast<std::size_t>(i)]; };
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      if (at(i) > at(j)) c.v(i, j) = -c.v(j, i);
    }
  }
  LawleyProblem problem = problem_of(c.v, c.s, c.selection);
  LawleyCorrection got = lawley(problem);
  ASSERT_EQ(got.status, Status::ok);
  auto corrected = [&](int i, int j) {
    return got.correlations[static_cast<std::size_t>(i + j * q)];
  };
  std::vector<std::pair<int, int>> want;
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      double read = at(i) < at(j) ? c.v(i, j) : c.v(j, i);
      if (read * corrected(i, j) < 0.0) want.emplace_back(i, j);
    }
  }
  ASSERT_GT(want.size(), 0u);
  std::vector<int> rows(want.size()), columns(want.size());
  int n = lawley_sign_changes(problem, got.correlations.data(), q, rows.data(), columns.data(),
                              static_cast<int>(want.size()));
  ASSERT_EQ(n, static_cast<int>(want.size()));
  EXPECT_EQ(n, got.diagnostics.sign_changes);
  for (int k = 0; k < n; ++k) {
    auto k_index = static_cast<std::size_t>(k);
    EXPECT_EQ(std::make_pair(rows[k_index], columns[k_index]), want[k_index]) << "pair " << k;
  }
  EXPECT_EQ(got.diagnostics.first_sign_change.row, want[0].first);
  EXPECT_EQ(got.diagnostics.first_sign_change.column, want[0].second);
}

INSTANTIATE_TEST_SUITE_P(lawley_api_test, SignChangeList, ::testing::Values(40, 300));

// ---- Invalid arguments: reported, never computed on ----------------------

struct InvalidCase {
  const char* name;
  void (*spoil)(LawleyProblem&, LawleyResults&);
  Argument argument;
};

void PrintTo(const InvalidCase& c, std::ostream* os) {
  *os << c.name;
}

class InvalidArgument : public testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidArgument, is_reported_and_nothing_is_written) {
  static const int repeated[] = {1, 1};
  static const int outside[] = {0, 3};
  static const double nan_reliability[] = {std::nan("")};
  (void)repeated;
  (void)outside;
  (void)nan_reliability;
  Worked w;
  std::vector<double> cov(9, -5.0), corr(9, -5.0), dis(9, -5.0);
  LawleyProblem pr = w.problem();
  LawleyResults res{cov.data(), 3, corr.data(), 3, dis.data(), 3};
  GetParam().spoil(pr, res);
  WorkspaceSize need = lawley_workspace_size(3, 2);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  Diagnostics d;
  Status status = lawley(pr, res, work, int_work, &d);
  EXPECT_EQ(status, Status::invalid_argument);
  EXPECT_EQ(d.argument, GetParam().argument);
  EXPECT_STRNE(d.reason, "");
  for (double x : cov) EXPECT_EQ(x, -5.0);
  for (double x : dis) EXPECT_EQ(x, -5.0);
}

const int repeated_selection[] = {1, 1};
const int outside_selection[] = {0, 3};
const int short_selection[] = {0};
const double two_reliabilities[] = {0.8, 0.9};
const double nan_reliability[] = {std::numeric_limits<double>::quiet_NaN()};
double restricted_with_nan[9] = {1.0, 0.5, 0.3, 0.5, 1.0, 0.4, 0.3, 0.4, 1.0};

INSTANTIATE_TEST_SUITE_P(
    lawley_api_test, InvalidArgument,
    testing::Values(
        InvalidCase{"negative_q", [](LawleyProblem& p, LawleyResults&) { p.q = -1; }, Argument::q},
        InvalidCase{"negative_p", [](LawleyProblem& p, LawleyResults&) { p.p = -1; }, Argument::p},
        InvalidCase{"p_above_q",
                    [](LawleyProblem& p, LawleyResults&) {
                      p.p = 3;
                      p.q = 2;
                    },
                    Argument::p},
        InvalidCase{"null_restricted",
                    [](LawleyProblem& p, LawleyResults&) { p.restricted = nullptr; },
                    Argument::restricted},
        InvalidCase{"short_leading_dimension",
                    [](LawleyProblem& p, LawleyResults&) { p.ld_restricted = 2; },
                    Argument::restricted},
        InvalidCase{"nan_read",
                    [](LawleyProblem& p, LawleyResults&) {
                      restricted_with_nan[7] = std::nan("");  // (1, 2), read
                      p.restricted = restricted_with_nan;
                    },
                    Argument::restricted},
        InvalidCase{"null_unrestricted",
                    [](LawleyProblem& p, LawleyResults&) { p.unrestricted = nullptr; },
                    Argument::unrestricted},
        InvalidCase{"infinite_unrestricted",
                    [](LawleyProblem& p, LawleyResults&) {
                      static double s[4] = {1.44, 0.6, HUGE_VAL, 1.21};
                      p.unrestricted = s;
                    },
                    Argument::unrestricted},
        InvalidCase{"repeated_index",
                    [](LawleyProblem& p, LawleyResults&) { p.selection = repeated_selection; },
                    Argument::selection},
        InvalidCase{"index_out_of_range",
                    [](LawleyProblem& p, LawleyResults&) { p.selection = outside_selection; },
                    Argument::selection},
        InvalidCase{"selection_count",
                    [](LawleyProblem& p, LawleyResults&) { p.selection = short_selection; },
                    Argument::selection},
        InvalidCase{"reliability_count",
                    [](LawleyProblem& p, LawleyResults&) { p.reliabilities = two_reliabilities; },
                    Argument::reliabilities},
        InvalidCase{"reliability_not_finite",
                    [](LawleyProblem& p, LawleyResults&) { p.reliabilities = nan_reliability; },
                    Argument::reliabilities},
        InvalidCase{"null_covariances",
                    [](LawleyProblem&, LawleyResults& r) { r.covariances = nullptr; },
                    Argument::results},
        InvalidCase{"short_result_leading_dimension",
                    [](LawleyProblem&, LawleyResults& r) { r.ld_disattenuated = 1; },
                    Argument::results},
        InvalidCase{"short_covariances_leading_dimension",
                    [](LawleyProblem&, LawleyResults& r) { r.ld_covariances = 2; },
                    Argument::results},
        InvalidCase{"short_correlations_leading_dimension",
                    [](LawleyProblem&, LawleyResults& r) { r.ld_correlations = 2; },
                    Argument::results}),
    [](const testing::TestParamInfo<InvalidCase>& param_info) { return param_info.param.name; });

// Each result's leading dimension is checked on its own: a short one is
// named, and a long one beside short-enough others is fine.
TEST(lawley_api_test, each_result_leading_dimension_is_checked_against_q) {
  struct Dimensions {
    int covariances, correlations, disattenuated;
    const char* reason;  // "" when valid
  };
  for (Dimensions c : {
           Dimensions{2, 3, 3, "the leading dimension of covariances is smaller than q"},
           Dimensions{3, 2, 3, "the leading dimension of correlations is smaller than q"},
           Dimensions{3, 3, 2, "the leading dimension of disattenuated is smaller than q"},
           Dimensions{5, 2, 5, "the leading dimension of correlations is smaller than q"},
           Dimensions{3, 5, 4, ""},
           Dimensions{5, 3, 3, ""},
       }) {
    SCOPED_TRACE(std::to_string(c.covariances) + " " + std::to_string(c.correlations) + " " +
                 std::to_string(c.disattenuated));
    Worked w;
    std::vector<double> cov(25, -5.0), corr(25, -5.0), dis(25, -5.0);
    LawleyResults res{cov.data(),     c.covariances, corr.data(),
                      c.correlations, dis.data(),    c.disattenuated};
    WorkspaceSize need = lawley_workspace_size(3, 2);
    std::vector<double> work(need.doubles);
    std::vector<int> int_work(need.ints);
    Diagnostics d;
    Status status = lawley(w.problem(), res, work, int_work, &d);
    EXPECT_STREQ(d.reason, c.reason);
    if (*c.reason != '\0') {
      EXPECT_EQ(status, Status::invalid_argument);
      EXPECT_EQ(d.argument, Argument::results);
      for (double x : corr) EXPECT_EQ(x, -5.0);
      continue;
    }
    ASSERT_EQ(status, Status::ok);
    // The worked example's corrected covariance and correlation of
    // variables 1 and 3, as the README's CSV and the CLI tests have them.
    EXPECT_EQ(cov[static_cast<std::size_t>(0 + 2 * c.covariances)], 0.39199999999999996);
    EXPECT_EQ(corr[static_cast<std::size_t>(0 + 2 * c.correlations)], 0.3203161764360781);
  }
}

TEST(lawley_api_test, values_not_read_may_be_anything) {
  Worked w;
  w.v(1, 0) = std::nan("");  // below the diagonal of V11: not read
  w.v(2, 0) = 0.35;          // V21, not read either, and 0.05 off its twin
  LawleyCorrection got = lawley(w.problem());
  EXPECT_EQ(got.status, Status::ok);
  // The NaN is counted apart and hides no asymmetry elsewhere.
  EXPECT_EQ(got.diagnostics.unread_not_finite, 1);
  EXPECT_EQ(got.diagnostics.first_unread_not_finite.row, 1);
  EXPECT_EQ(got.diagnostics.first_unread_not_finite.column, 0);
  EXPECT_NEAR(got.diagnostics.restricted_asymmetry, 0.05, 1e-15);
  EXPECT_EQ(got.diagnostics.restricted_asymmetry_place.row, 0);
  EXPECT_EQ(got.diagnostics.restricted_asymmetry_place.column, 2);
}

// Every element of a 4-variable V with selection variables 2 and 0 in turn
// set to NaN: the correction reads the upper triangle of V11, V12 (rows of
// the selection variables, columns of the others) and all of V22. A NaN
// there is an invalid argument; anywhere else it changes no result bit.
class OneElementNotFinite : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(OneElementNotFinite, is_rejected_exactly_where_it_is_read) {
  auto [row, column] = GetParam();
  std::mt19937_64 random(7);
  Dense v = random_spd(random, 4);
  Dense s = random_spd(random, 2);
  const int selection[] = {2, 0};
  auto rank = [&](int variable) { return variable == 2 ? 0 : variable == 0 ? 1 : -1; };
  bool both_selected = rank(row) >= 0 && rank(column) >= 0;
  bool read = (both_selected && rank(row) <= rank(column)) ||
              (rank(row) >= 0 && rank(column) < 0) || (rank(row) < 0 && rank(column) < 0);
  LawleyCorrection clean = lawley(problem_of(v, s, selection));
  ASSERT_EQ(clean.status, Status::ok);
  v(row, column) = std::nan("");
  LawleyCorrection got = lawley(problem_of(v, s, selection));
  if (read) {
    EXPECT_EQ(got.status, Status::invalid_argument);
    EXPECT_EQ(got.diagnostics.argument, Argument::restricted);
    return;
  }
  ASSERT_EQ(got.status, Status::ok);
  for (std::size_t k = 0; k < clean.covariances.size(); ++k) {
    EXPECT_EQ(bits(got.covariances[k]), bits(clean.covariances[k])) << k;
    EXPECT_EQ(bits(got.correlations[k]), bits(clean.correlations[k])) << k;
  }
  EXPECT_EQ(got.diagnostics.sign_changes, clean.diagnostics.sign_changes);
  EXPECT_TRUE(clean.diagnostics.restricted_positive_definite);
  EXPECT_TRUE(got.diagnostics.restricted_positive_definite);
}

std::vector<std::pair<int, int>> every_element_of_four() {
  std::vector<std::pair<int, int>> all;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) all.emplace_back(i, j);
  }
  return all;
}

INSTANTIATE_TEST_SUITE_P(lawley_api_test, OneElementNotFinite,
                         testing::ValuesIn(every_element_of_four()),
                         [](const testing::TestParamInfo<std::pair<int, int>>& param_info) {
                           return "row" + std::to_string(param_info.param.first) + "_column" +
                                  std::to_string(param_info.param.second);
                         });

// A negative restricted variance: the diagnostics' count and the list are
// one definition (the sign of the element read), with no pair left unset.
TEST(lawley_api_test, sign_changes_counted_and_listed_alike_with_a_negative_variance) {
  Dense v(3);
  const double values[3][3] = {{1, .9, .9}, {.9, -.1, -.1}, {.9, -.1, 1}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) v(i, j) = values[i][j];
  }
  Dense s(1);
  s(0, 0) = 4;
  LawleyProblem problem = problem_of(v, s);
  LawleyCorrection got = lawley(problem);
  ASSERT_EQ(got.status, Status::ok);
  std::vector<std::pair<int, int>> want;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < j; ++i) {
      if (v(i, j) * got.correlations[static_cast<std::size_t>(i + 3 * j)] < 0.0) {
        want.emplace_back(i, j);
      }
    }
  }
  ASSERT_EQ(want.size(), 1u);
  EXPECT_EQ(got.diagnostics.sign_changes, 1);
  EXPECT_EQ(lawley_sign_changes(problem, got.correlations.data(), 3, nullptr, nullptr, 0), 1);
  int rows[3] = {-7, -7, -7};
  int columns[3] = {-7, -7, -7};
  ASSERT_EQ(lawley_sign_changes(problem, got.correlations.data(), 3, rows, columns, 3), 1);
  EXPECT_EQ(std::make_pair(rows[0], columns[0]), want[0]);
  EXPECT_EQ(rows[1], -7);  // nothing written past the count
  EXPECT_EQ(got.diagnostics.first_sign_change.row, want[0].first);
  EXPECT_EQ(got.diagnostics.first_sign_change.column, want[0].second);
}

TEST(lawley_api_test, a_short_workspace_is_an_invalid_argument) {
  Worked w;
  std::vector<double> cov(9);
  WorkspaceSize need = lawley_workspace_size(3, 2);
  std::vector<double> work(need.doubles - 1);
  std::vector<int> int_work(need.ints);
  Diagnostics d;
  EXPECT_EQ(lawley(w.problem(), {cov.data(), 3}, work, int_work, &d), Status::invalid_argument);
  EXPECT_EQ(d.argument, Argument::workspace);
}

// ---- Means and helpers --------------------------------------------------------

TEST(lawley_api_test, corrected_means_follow_the_regression) {
  // One selection variable: mu_y + (m_x - mu_x) * V12 / V11.
  Dense v(2);
  v.v = {4.0, 1.2, 1.2, 1.0};
  Dense s(1);
  s.v = {9.0};
  const int selection[] = {1};
  Dense swapped(2);  // the same problem with x second
  swapped.v = {1.0, 1.2, 1.2, 4.0};
  std::vector<double> restricted_means{10.0, 50.0};  // y, x
  std::vector<double> unrestricted_means{47.0};
  std::vector<double> means(2);
  WorkspaceSize need = lawley_workspace_size(2, 1);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  ASSERT_EQ(lawley_means(problem_of(swapped, s, selection), restricted_means, unrestricted_means,
                         means, work, int_work),
            Status::ok);
  EXPECT_EQ(means[1], 47.0);
  EXPECT_NEAR(means[0], 10.0 + (47.0 - 50.0) * 1.2 / 4.0, 1e-14);
  (void)v;
}

TEST(lawley_api_test, covariances_from_correlations_and_deviations) {
  const double r[4] = {1.0, 0.5, 0.5, 1.0};
  const double sd[2] = {2.0, 3.0};
  double c[4];
  cov_from_correlations(2, r, 2, sd, c, 2);
  EXPECT_EQ(c[0], 4.0);
  EXPECT_EQ(c[1], 3.0);
  EXPECT_EQ(c[2], 3.0);
  EXPECT_EQ(c[3], 9.0);
}

// ---- Threads --------------------------------------------------------------------

TEST(lawley_api_test, threads_correcting_at_once_agree_with_one_thread) {
  std::mt19937_64 random(11);
  std::vector<RandomCase> cases;
  for (int k = 0; k < 8; ++k) cases.push_back(random_case(random, 30, 12));
  std::vector<LawleyCorrection> alone;
  for (const RandomCase& c : cases) alone.push_back(lawley(problem_of(c.v, c.s, c.selection)));
  std::vector<LawleyCorrection> together(cases.size());
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    threads.emplace_back([&, k] {
      for (int repeat = 0; repeat < 20; ++repeat) {
        together[k] = lawley(problem_of(cases[k].v, cases[k].s, cases[k].selection));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t k = 0; k < cases.size(); ++k) {
    EXPECT_EQ(together[k].covariances, alone[k].covariances);
    EXPECT_EQ(together[k].diagnostics.sign_changes, alone[k].diagnostics.sign_changes);
  }
}

}  // namespace
}  // namespace tolbe
