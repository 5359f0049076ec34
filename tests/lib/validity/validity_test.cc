// The validity question: its values against a direct solve on the
// corrected matrix, its delta-method SEs against central differences with
// the covariance of the sample covariances written out, the bootstrap's
// determinism, the checks, and the reliability's conversion against a
// simulation where both reliabilities are known.
#include "tolbe/validity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

using Matrix = std::vector<double>;

std::size_t at(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

// A validity study: two tests (selection), an interview, two criteria.
struct Study {
  int q = 5;
  int p = 2;
  Matrix v = {1.00, 0.30, 0.25, 0.20, 0.18,  //
              0.30, 1.10, 0.20, 0.15, 0.22,  //
              0.25, 0.20, 0.90, 0.21, 0.12,  //
              0.20, 0.15, 0.21, 1.20, 0.35,  //
              0.18, 0.22, 0.12, 0.35, 0.80};
  Matrix s = {2.1, 0.9, 0.9, 2.4};
  std::vector<int> selection = {0, 1};

  LawleyProblem problem() const {
    LawleyProblem pr;
    pr.q = q;
    pr.p = p;
    pr.restricted = v.data();
    pr.ld_restricted = q;
    pr.unrestricted = s.data();
    pr.ld_unrestricted = p;
    pr.selection = selection;
    return pr;
  }
};

struct Answer {
  Status status = Status::ok;
  Matrix estimate, se, lower, upper;
  IntervalSummary summary;
};

Answer ask(const LawleyProblem& pr, const IntervalRequest& request, const ValidityQuestion& q) {
  Answer a;
  std::size_t n = validity_values(q.predictors.size());
  for (Matrix* m : {&a.estimate, &a.se, &a.lower, &a.upper}) m->assign(n, -7.0);
  WorkspaceSize need = lawley_validity_workspace_size(pr.q, pr.p, q.predictors.size(), request);
  std::vector<double> work(need.doubles);
  std::vector<int> ints(need.ints);
  a.status = lawley_validity(pr, request, q,
                             {a.estimate.data(), a.se.data(), a.lower.data(), a.upper.data()}, work,
                             ints, &a.summary);
  return a;
}

// x = A^-1 y by Gaussian elimination with partial pivoting: the test's own
// solve.
std::vector<double> solve(Matrix a, std::vector<double> y) {
  auto n = static_cast<int>(y.size());
  for (int c = 0; c < n; ++c) {
    int pivot = c;
    for (int r = c + 1; r < n; ++r) {
      if (std::fabs(a[at(r, c, n)]) > std::fabs(a[at(pivot, c, n)])) pivot = r;
    }
    for (int k = 0; k < n; ++k) std::swap(a[at(c, k, n)], a[at(pivot, k, n)]);
    std::swap(y[static_cast<std::size_t>(c)], y[static_cast<std::size_t>(pivot)]);
    for (int r = c + 1; r < n; ++r) {
      double f = a[at(r, c, n)] / a[at(c, c, n)];
      for (int k = c; k < n; ++k) a[at(r, k, n)] -= f * a[at(c, k, n)];
      y[static_cast<std::size_t>(r)] -= f * y[static_cast<std::size_t>(c)];
    }
  }
  std::vector<double> x(static_cast<std::size_t>(n));
  for (int r = n - 1; r >= 0; --r) {
    double sum = y[static_cast<std::size_t>(r)];
    for (int k = r + 1; k < n; ++k) sum -= a[at(r, k, n)] * x[static_cast<std::size_t>(k)];
    x[static_cast<std::size_t>(r)] = sum / a[at(r, r, n)];
  }
  return x;
}

// R^2 of y on `xs` from the corrected matrix c.
double r_squared(const Matrix& c, int q, const std::vector<int>& xs, int y,
                 std::vector<double>* b) {
  auto k = static_cast<int>(xs.size());
  Matrix a(static_cast<std::size_t>(k * k));
  std::vector<double> cy(static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) {
    for (int j = 0; j < k; ++j) {
      a[at(i, j, k)] = c[at(xs[static_cast<std::size_t>(i)], xs[static_cast<std::size_t>(j)], q)];
    }
    cy[static_cast<std::size_t>(i)] = c[at(xs[static_cast<std::size_t>(i)], y, q)];
  }
  std::vector<double> w = solve(a, cy);
  double sum = 0.0;
  for (int i = 0; i < k; ++i)
    sum += cy[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(i)];
  if (b != nullptr) *b = w;
  return sum / c[at(y, y, q)];
}

struct QuestionCase {
  const char* name;
  int criterion;
  std::vector<int> predictors;
  int base;
  double reliability;
};

class ValidityValues : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(ValidityValues, MatchADirectSolveOnTheCorrectedMatrix) {
  const QuestionCase& qc = GetParam();
  Study st;
  LawleyCorrection c = lawley(st.problem());
  ValidityQuestion question{qc.criterion, qc.predictors, qc.base, qc.reliability};
  IntervalRequest request;
  request.method = IntervalMethod::none;
  Answer a = ask(st.problem(), request, question);
  ASSERT_EQ(a.status, Status::ok);
  auto k = static_cast<int>(qc.predictors.size());
  std::vector<double> b;
  double r2 = r_squared(c.covariances, 5, qc.predictors, qc.criterion, &b);
  int y = qc.criterion;
  double c_yy = c.covariances[at(y, y, 5)];
  for (int m = 0; m < k; ++m) {
    int x = qc.predictors[static_cast<std::size_t>(m)];
    double bm = b[static_cast<std::size_t>(m)];
    EXPECT_NEAR(a.estimate[static_cast<std::size_t>(m)], bm, 1e-12) << "b" << m;
    EXPECT_NEAR(a.estimate[static_cast<std::size_t>(k + m)],
                bm * std::sqrt(c.covariances[at(x, x, 5)] / c_yy), 1e-12)
        << "beta" << m;
    // The corrected correlation matrix's own value, bit for bit.
    EXPECT_EQ(a.estimate[static_cast<std::size_t>(2 * k + m)], c.correlations[at(x, y, 5)]);
    EXPECT_NEAR(a.estimate[static_cast<std::size_t>(3 * k + m)],
                c.correlations[at(x, y, 5)] / std::sqrt(qc.reliability), 1e-14);
  }
  auto base = static_cast<std::size_t>(4 * k);
  EXPECT_NEAR(a.estimate[base], r2, 1e-13);
  EXPECT_NEAR(a.estimate[base + 1], std::sqrt(r2), 1e-13);
  EXPECT_NEAR(a.estimate[base + 2], std::sqrt(r2 / qc.reliability), 1e-13);
  if (qc.base == 0) {
    for (std::size_t v = base + 3; v < base + 6; ++v) EXPECT_TRUE(std::isnan(a.estimate[v]));
    EXPECT_TRUE(std::isnan(a.se[base + 4]));
  } else {
    std::vector<int> first(qc.predictors.begin(), qc.predictors.begin() + qc.base);
    double r2_base = r_squared(c.covariances, 5, first, y, nullptr);
    EXPECT_NEAR(a.estimate[base + 3], r2_base, 1e-13);
    EXPECT_NEAR(a.estimate[base + 4], r2 - r2_base, 1e-13);
    EXPECT_NEAR(a.estimate[base + 5], std::sqrt(r2) - std::sqrt(r2_base), 1e-13);
    EXPECT_GE(a.estimate[base + 4], 0.0);
  }
  // Estimates only: no SE, no bounds.
  EXPECT_TRUE(std::isnan(a.se[0]));
  EXPECT_TRUE(std::isnan(a.upper[base]));
  EXPECT_EQ(a.summary.method, IntervalMethod::none);
}

INSTANTIATE_TEST_SUITE_P(
    Questions, ValidityValues,
    ::testing::Values(QuestionCase{"one_test", 3, {0}, 0, 1.0},
                      QuestionCase{"two_tests", 3, {0, 1}, 0, 0.8},
                      QuestionCase{"interview_over_tests", 3, {0, 1, 2}, 2, 0.6},
                      QuestionCase{"criterion_first_tests_last", 4, {2, 1, 0}, 1, 0.75},
                      QuestionCase{"criterion_predicts_criterion", 4, {3}, 0, 0.9},
                      QuestionCase{"all_four", 4, {0, 1, 2, 3}, 3, 1.0}),
    [](const auto& test) { return std::string(test.param.name); });

// The normal-theory variance of each value: its gradient by central
// differences (of lawley_validity's own estimates) with the covariance of
// the sample covariances written out, for V (n) and S (N).
Matrix simulated(int rows, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal;
  Matrix x(static_cast<std::size_t>(rows * 5));
  for (int r = 0; r < rows; ++r) {
    double g = normal(gen);
    for (int c = 0; c < 5; ++c) x[at(r, c, rows)] = 0.5 * g + normal(gen) * (1.0 + 0.1 * c);
  }
  return x;
}

TEST(ValidityDelta, NormalTheoryMatchesCentralDifferences) {
  Study st;
  std::vector<int> predictors = {0, 1, 2};
  ValidityQuestion question{3, predictors, 2, 0.7};
  int n = 120;
  int big_n = 400;
  IntervalRequest request;
  request.n = n;
  request.n_unrestricted = big_n;
  Answer a = ask(st.problem(), request, question);
  ASSERT_EQ(a.status, Status::ok);
  IntervalRequest none;
  none.method = IntervalMethod::none;
  std::size_t count = validity_values(3);
  auto values_at = [&](const Study& moved) {
    return ask(moved.problem(), none, question).estimate;
  };
  // Gradients by the distinct elements of V, then of S.
  std::vector<std::pair<int, int>> v_pairs;
  std::vector<std::pair<int, int>> s_pairs;
  for (int b = 0; b < 5; ++b) {
    for (int x = 0; x <= b; ++x) v_pairs.emplace_back(x, b);
  }
  for (int b = 0; b < 2; ++b) {
    for (int x = 0; x <= b; ++x) s_pairs.emplace_back(x, b);
  }
  auto gradients = [&](bool of_s) {
    const auto& pairs = of_s ? s_pairs : v_pairs;
    std::vector<std::vector<double>> g(count);
    for (const auto& pair : pairs) {
      int x = pair.first;
      int y = pair.second;
      double h = 1e-6;
      Study up = st;
      Study down = st;
      Matrix& mu = of_s ? up.s : up.v;
      Matrix& md = of_s ? down.s : down.v;
      int ld = of_s ? 2 : 5;
      mu[at(x, y, ld)] += h;
      md[at(x, y, ld)] -= h;
      if (x != y) {
        mu[at(y, x, ld)] += h;
        md[at(y, x, ld)] -= h;
      }
      Matrix hi = values_at(up);
      Matrix lo = values_at(down);
      for (std::size_t v = 0; v < count; ++v) g[v].push_back((hi[v] - lo[v]) / (2 * h));
    }
    return g;
  };
  auto gv = gradients(false);
  auto gs = gradients(true);
  auto normal = [](const Matrix& m, int ld, std::pair<int, int> e, std::pair<int, int> f) {
    auto [k, l] = e;
    auto [i, j] = f;
    return m[at(k, i, ld)] * m[at(l, j, ld)] + m[at(k, j, ld)] * m[at(l, i, ld)];
  };
  for (std::size_t v = 0; v < count; ++v) {
    double variance = 0.0;
    for (std::size_t e = 0; e < v_pairs.size(); ++e) {
      for (std::size_t f = 0; f < v_pairs.size(); ++f) {
        variance += gv[v][e] * gv[v][f] * normal(st.v, 5, v_pairs[e], v_pairs[f]) / (n - 1);
      }
    }
    for (std::size_t e = 0; e < s_pairs.size(); ++e) {
      for (std::size_t f = 0; f < s_pairs.size(); ++f) {
        variance += gs[v][e] * gs[v][f] * normal(st.s, 2, s_pairs[e], s_pairs[f]) / (big_n - 1);
      }
    }
    double expected = std::sqrt(variance);
    EXPECT_NEAR(a.se[v], expected, 1e-5 * expected + 1e-9) << "value " << v;
    EXPECT_LE(a.lower[v], a.estimate[v]) << v;
    EXPECT_GE(a.upper[v], a.estimate[v]) << v;
  }
  // The operational R's interval is R's divided by sqrt(r_yy).
  std::size_t r = 4 * 3 + 1;
  EXPECT_NEAR(a.lower[r + 1], a.lower[r] / std::sqrt(0.7), 1e-14);
  EXPECT_NEAR(a.upper[r + 1], a.upper[r] / std::sqrt(0.7), 1e-14);
  EXPECT_NEAR(a.se[r + 1], a.se[r] / std::sqrt(0.7), 1e-14);
  // The validities' intervals are Fisher's, inside (-1, 1) and asymmetric.
  double z = std::atanh(a.estimate[6]);
  EXPECT_NEAR(std::atanh(a.upper[6]) - z, z - std::atanh(a.lower[6]), 1e-12);
  // R^2, the base set's R^2 and the increments: Fisher's interval of the
  // root, with the root's SE se / (2 sqrt(value)), cut at 0 and squared.
  double z975 = 1.959963984540054;
  for (std::size_t v : {r - 1, r + 2, r + 3, r + 4}) {
    double root = std::sqrt(a.estimate[v]);
    double se_z = a.se[v] / (2.0 * root) / (1.0 - a.estimate[v]);
    double low = std::max(0.0, std::tanh(std::atanh(root) - z975 * se_z));
    double high = std::tanh(std::atanh(root) + z975 * se_z);
    EXPECT_NEAR(a.lower[v], low * low, 1e-12) << "value " << v;
    EXPECT_NEAR(a.upper[v], high * high, 1e-12) << "value " << v;
  }
  // R's is Fisher's, and the root of R^2's.
  double se_r = a.se[r] / (1.0 - a.estimate[r] * a.estimate[r]);
  double low = std::tanh(std::atanh(a.estimate[r]) - z975 * se_r);
  EXPECT_NEAR(a.lower[r], std::max(0.0, low), 1e-12);
  EXPECT_NEAR(a.upper[r], std::tanh(std::atanh(a.estimate[r]) + z975 * se_r), 1e-12);
  EXPECT_NEAR(a.lower[r] * a.lower[r], a.lower[r - 1], 1e-12);
  EXPECT_NEAR(a.upper[r] * a.upper[r], a.upper[r - 1], 1e-12);
}

// The bounded values (R^2, R, the operational R, the base set's R^2 and
// the increments) in small samples, where Wald's intervals cross 0: every
// lower bound at 0 or above, every interval holding its estimate, by both
// delta methods, across sizes and questions down to one whose increment is
// nearly nothing.
TEST(ValidityDelta, BoundedValuesNeverCrossZero) {
  struct Case {
    const char* name;
    int n;
    int criterion;
    std::vector<int> predictors;
    int base;
  };
  const Case cases[] = {
      {"n 12, interview over the tests", 12, 3, {0, 1, 2}, 2},
      {"n 30, one test over the other", 30, 4, {0, 1}, 1},
      {"n 500, the second criterion", 500, 4, {0, 1, 2, 3}, 3},
      {"n 8, the last added first", 8, 3, {2, 0, 1}, 1},
  };
  Study st;
  bool wald_crossed = false;
  for (const Case& c : cases) {
    ValidityQuestion question{c.criterion, c.predictors, c.base, 0.6};
    for (IntervalMethod method : {IntervalMethod::normal, IntervalMethod::adf}) {
      IntervalRequest request;
      request.method = method;
      request.n = c.n;
      Matrix x;
      LawleyProblem pr = st.problem();
      if (method == IntervalMethod::adf) {
        x = simulated(c.n, 17);
        request.data = {c.n, 5, x.data(), c.n};
        pr.restricted = nullptr;
      }
      Answer a = ask(pr, request, question);
      ASSERT_EQ(a.status, Status::ok) << c.name;
      std::size_t first = 4 * c.predictors.size();
      for (std::size_t v = first; v < first + 6; ++v) {
        EXPECT_GE(a.lower[v], 0.0) << c.name << ", value " << v;
        EXPECT_LE(a.lower[v], a.estimate[v]) << c.name << ", value " << v;
        EXPECT_GE(a.upper[v], a.estimate[v]) << c.name << ", value " << v;
        wald_crossed = wald_crossed || a.estimate[v] - 1.96 * a.se[v] < 0.0;
      }
    }
  }
  EXPECT_TRUE(wald_crossed) << "no case tests the bound";
}

TEST(ValidityBootstrap, SameNumbersOnAnyThreadsAndNearTheDeltaMethod) {
  int rows = 1500;
  Matrix x = simulated(rows, 3);
  Study st;
  std::vector<int> predictors = {0, 1, 2};
  ValidityQuestion question{4, predictors, 2, 0.8};
  LawleyProblem pr = st.problem();
  pr.restricted = nullptr;
  IntervalRequest boot;
  boot.method = IntervalMethod::bootstrap;
  boot.data = {rows, 5, x.data(), rows};
  boot.resamples = 800;
  boot.seed = 11;
  boot.threads = 1;
  Answer one = ask(pr, boot, question);
  ASSERT_EQ(one.status, Status::ok);
  boot.threads = 2;
  Answer two = ask(pr, boot, question);
  EXPECT_EQ(std::memcmp(one.se.data(), two.se.data(), one.se.size() * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(one.lower.data(), two.lower.data(), one.lower.size() * sizeof(double)), 0);
  IntervalRequest adf;
  adf.method = IntervalMethod::adf;
  adf.data = boot.data;
  Answer delta = ask(pr, adf, question);
  ASSERT_EQ(delta.status, Status::ok);
  EXPECT_EQ(delta.estimate, one.estimate);
  for (std::size_t v = 0; v < one.se.size(); ++v) {
    // 800 resamples: the bootstrap SE is good to about 2.5 %.
    EXPECT_NEAR(one.se[v] / delta.se[v], 1.0, 0.15) << "value " << v;
    EXPECT_LT(one.lower[v], one.upper[v]) << v;
  }
  // BCa was asked; the bounded values (from R^2 on) get the percentile
  // interval of the same resamples, the others BCa's.
  boot.interval = BootstrapInterval::percentile;
  Answer percentile = ask(pr, boot, question);
  std::size_t first = 4 * predictors.size();
  for (std::size_t v = 0; v < one.se.size(); ++v) {
    if (v >= first) {
      EXPECT_EQ(one.lower[v], percentile.lower[v]) << "value " << v;
      EXPECT_EQ(one.upper[v], percentile.upper[v]) << "value " << v;
    } else if (v >= 2 * predictors.size()) {
      EXPECT_NE(one.lower[v], percentile.lower[v]) << "value " << v;
    }
  }
  EXPECT_EQ(one.summary.percentile_fallbacks, 0);
}

TEST(ValidityChecks, EachInvalidQuestionIsNamed) {
  Study st;
  struct Case {
    int criterion;
    std::vector<int> predictors;
    int base;
    double reliability;
    const char* reason;
  };
  const Case cases[] = {
      {5, {0}, 0, 1.0, "the criterion is not a variable of the problem"},
      {-1, {0}, 0, 1.0, "the criterion is not a variable of the problem"},
      {3, {}, 0, 1.0, "the number of predictors is not 1 to q"},
      {3, {0, 5}, 0, 1.0, "a predictor is not a variable of the problem"},
      {3, {0, 3}, 0, 1.0, "the criterion is among the predictors"},
      {3, {1, 1}, 0, 1.0, "a predictor is repeated"},
      {3, {0, 1}, 2, 1.0, "the base set is not 0 to k - 1 predictors"},
      {3, {0, 1}, -1, 1.0, "the base set is not 0 to k - 1 predictors"},
      {3, {0, 1}, 1, 0.0, "the criterion's reliability is not in (0, 1]"},
      {3, {0, 1}, 1, 1.01, "the criterion's reliability is not in (0, 1]"},
      {3, {0, 1}, 1, NAN, "the criterion's reliability is not in (0, 1]"},
  };
  for (const Case& c : cases) {
    ValidityQuestion question{c.criterion, c.predictors, c.base, c.reliability};
    IntervalRequest request;
    request.n = 50;
    Matrix estimate(validity_values(std::max<std::size_t>(c.predictors.size(), 1)), -7.0);
    std::vector<double> work(100000);
    std::vector<int> ints(1000);
    IntervalSummary summary;
    Status status =
        lawley_validity(st.problem(), request, question, {estimate.data()}, work, ints, &summary);
    EXPECT_EQ(status, Status::invalid_argument) << c.reason;
    EXPECT_STREQ(summary.reason, c.reason);
    EXPECT_EQ(estimate[0], -7.0) << c.reason;
  }
}

TEST(ValidityChecks, PredictorsThatAreCollinearGiveNotPositiveDefinite) {
  Study st;
  // Variable 2 a copy of variable 1 in the restricted sample (and so in C).
  for (int i = 0; i < 5; ++i) {
    st.v[at(i, 2, 5)] = st.v[at(i, 1, 5)];
    st.v[at(2, i, 5)] = st.v[at(1, i, 5)];
  }
  st.v[at(2, 2, 5)] = st.v[at(1, 1, 5)];
  st.v[at(1, 2, 5)] = st.v[at(2, 1, 5)] = st.v[at(1, 1, 5)];
  std::vector<int> predictors = {0, 1, 2};
  IntervalRequest request;
  request.n = 80;
  Answer a = ask(st.problem(), request, {3, predictors, 0, 1.0});
  EXPECT_EQ(a.status, Status::not_positive_definite);
  EXPECT_TRUE(std::all_of(a.se.begin(), a.se.end(), [](double v) { return std::isnan(v); }));
}

TEST(ValidityCApi, SameNumbersAsTheLibrary) {
  Study st;
  std::vector<int> predictors = {2, 0, 1};
  ValidityQuestion question{4, predictors, 1, 0.85};
  IntervalRequest request;
  request.n = 90;
  Answer expected = ask(st.problem(), request, question);
  tolbe_interval_request c_request;
  tolbe_interval_request_init(&c_request);
  c_request.n = 90;
  tolbe_validity_question c_question{4, predictors.data(), 3, 1, 0.85};
  ASSERT_EQ(tolbe_validity_values(3), 18u);
  std::size_t doubles = 0;
  std::size_t ints = 0;
  ASSERT_EQ(tolbe_lawley_validity_workspace(5, 2, 3, &c_request, &doubles, &ints), TOLBE_OK);
  std::vector<double> work(doubles);
  std::vector<int> int_work(ints);
  Matrix estimate(18), se(18), lower(18), upper(18);
  tolbe_interval_summary summary;
  int status =
      tolbe_lawley_validity(5, 2, st.v.data(), 5, st.s.data(), 2, st.selection.data(), nullptr, 0,
                            &c_request, &c_question, estimate.data(), se.data(), lower.data(),
                            upper.data(), work.data(), doubles, int_work.data(), ints, &summary);
  ASSERT_EQ(status, TOLBE_OK);
  EXPECT_EQ(estimate, expected.estimate);
  EXPECT_EQ(se, expected.se);
  EXPECT_EQ(upper, expected.upper);
  EXPECT_EQ(summary.n, 90);
  c_question.base = 3;
  EXPECT_EQ(
      tolbe_lawley_validity(5, 2, st.v.data(), 5, st.s.data(), 2, st.selection.data(), nullptr, 0,
                            &c_request, &c_question, estimate.data(), nullptr, nullptr, nullptr,
                            work.data(), doubles, int_work.data(), ints, &summary),
      TOLBE_INVALID_ARGUMENT);
  EXPECT_STREQ(summary.reason, "the base set is not 0 to k - 1 predictors");
}

// Criteria disattenuated, predictors not: a predictor pair keeps its r, a
// predictor-criterion pair is divided by the criterion's root, and two
// criteria by both.
TEST(OperationalCorrelations, OnlyTheCriteriaAreMadeReliable) {
  Matrix r = {1.0, 0.3, 0.4, 0.2,  //
              0.3, 1.0, 0.5, 0.1,  //
              0.4, 0.5, 1.0, 0.6,  //
              0.2, 0.1, 0.6, 1.0};
  double a[4] = {1.0, 1.0, 0.64, 0.81};  // variables 2 and 3 are criteria
  Matrix out(16);
  operational_correlations(4, r.data(), 4, a, out.data(), 4);
  EXPECT_EQ(out[at(0, 1, 4)], 0.3);
  EXPECT_DOUBLE_EQ(out[at(0, 2, 4)], 0.4 / 0.8);
  EXPECT_DOUBLE_EQ(out[at(3, 1, 4)], 0.1 / 0.9);
  EXPECT_DOUBLE_EQ(out[at(2, 3, 4)], 0.6 / (0.8 * 0.9));
  EXPECT_EQ(out[at(2, 2, 4)], 1.0);
  operational_correlations(4, r.data(), 4, a, r.data(), 4);  // in place
  EXPECT_EQ(r, out);
}

// Both reliabilities known: a population of true scores and errors, the
// top third hired on a test. The incumbents' reliability, converted with
// the criterion's restricted and corrected variances, is the applicants'.
TEST(UnrestrictedReliability, RecoversThePopulationsReliabilityInASimulation) {
  std::mt19937 gen(7);
  std::normal_distribution<double> normal;
  int applicants = 300000;
  struct Person {
    double test, truth, criterion;
  };
  std::vector<Person> pool;
  for (int i = 0; i < applicants; ++i) {
    double g = normal(gen);
    double truth = 0.6 * g + 0.8 * normal(gen);                     // variance 1
    double criterion = truth + normal(gen) * std::sqrt(2.0 / 3.0);  // reliability 0.6
    pool.push_back({0.7 * g + 0.714 * normal(gen), truth, criterion});
  }
  std::sort(pool.begin(), pool.end(),
            [](const Person& a, const Person& b) { return a.test > b.test; });
  std::vector<Person> hired(pool.begin(), pool.begin() + applicants / 3);
  auto variance = [](const std::vector<Person>& people, double Person::*field) {
    double mean = 0.0;
    for (const Person& p : people) mean += p.*field;
    mean /= static_cast<double>(people.size());
    double sum = 0.0;
    for (const Person& p : people) sum += (p.*field - mean) * (p.*field - mean);
    return sum / static_cast<double>(people.size() - 1);
  };
  auto covariance = [](const std::vector<Person>& people) {
    double mt = 0.0;
    double mc = 0.0;
    for (const Person& p : people) {
      mt += p.test;
      mc += p.criterion;
    }
    mt /= static_cast<double>(people.size());
    mc /= static_cast<double>(people.size());
    double sum = 0.0;
    for (const Person& p : people) sum += (p.test - mt) * (p.criterion - mc);
    return sum / static_cast<double>(people.size() - 1);
  };
  double incumbents = variance(hired, &Person::truth) / variance(hired, &Person::criterion);
  double applicants_reliability =
      variance(pool, &Person::truth) / variance(pool, &Person::criterion);
  // The correction of the criterion's variance from the hired.
  double v[4] = {variance(hired, &Person::test), covariance(hired), covariance(hired),
                 variance(hired, &Person::criterion)};
  double s = variance(pool, &Person::test);
  LawleyProblem pr{2, 1, v, 2, &s, 1, {}, {}};
  LawleyCorrection c = lawley(pr);
  double converted = unrestricted_reliability(incumbents, v[3], c.covariances[3]);
  EXPECT_LT(incumbents, applicants_reliability - 0.02);  // selection lowered it (.57 against .60)
  EXPECT_NEAR(converted, applicants_reliability, 0.01);
  EXPECT_TRUE(std::isnan(unrestricted_reliability(0.7, 0.0, 1.0)));
  EXPECT_TRUE(std::isnan(unrestricted_reliability(0.7, 1.0, -1.0)));
  EXPECT_DOUBLE_EQ(unrestricted_reliability(0.573, 1.0, 1.0 / 0.935), 1.0 - 0.427 * 0.935);
}

}  // namespace
}  // namespace tolbe
