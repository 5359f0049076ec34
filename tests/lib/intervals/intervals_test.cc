// Standard errors and intervals: the Jacobian against central differences,
// the delta method against a closed form and against an explicit
// fourth-moment matrix, the bootstrap's determinism, and the checks.
#include "intervals/intervals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "intervals/bounds.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

using Matrix = std::vector<double>;

std::size_t at(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

// A random problem: V from q + 3 random factors, S a selection block of V
// stretched (as selection shrinks it) plus some noise, so that it stays
// positive definite.
struct RandomProblem {
  int q = 0;
  int p = 0;
  Matrix v;
  Matrix s;
  std::vector<int> selection;
  std::vector<double> reliabilities;

  RandomProblem(int q_, int p_, unsigned seed, bool reliable = false) : q(q_), p(p_) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal;
    int k = q + 3;
    Matrix a(static_cast<std::size_t>(q * k));
    for (double& x : a) x = normal(gen);
    v.assign(static_cast<std::size_t>(q * q), 0.0);
    for (int i = 0; i < q; ++i) {
      for (int j = 0; j < q; ++j) {
        double sum = 0.0;
        for (int t = 0; t < k; ++t) sum += a[at(i, t, q)] * a[at(j, t, q)];
        v[at(i, j, q)] = sum / k * (1.0 + 0.3 * i) * (1.0 + 0.3 * j);
      }
    }
    std::vector<int> all(static_cast<std::size_t>(q));
    std::iota(all.begin(), all.end(), 0);
    std::shuffle(all.begin(), all.end(), gen);
    selection.assign(all.begin(), all.begin() + p);
    s.assign(static_cast<std::size_t>(p * p), 0.0);
    std::uniform_real_distribution<double> stretch(1.2, 2.5);
    for (int i = 0; i < p; ++i) {
      for (int j = 0; j < p; ++j) {
        s[at(i, j, p)] = v[at(selection[static_cast<std::size_t>(i)],
                              selection[static_cast<std::size_t>(j)], q)];
      }
    }
    for (int i = 0; i < p; ++i) {
      double f = std::sqrt(stretch(gen));
      for (int j = 0; j < p; ++j) {
        s[at(i, j, p)] *= f;
        s[at(j, i, p)] *= f;
      }
    }
    if (reliable) {
      std::uniform_real_distribution<double> rel(0.5, 0.95);
      for (int t = 0; t < q - p; ++t) reliabilities.push_back(rel(gen));
    }
  }

  LawleyProblem problem() const {
    LawleyProblem pr;
    pr.q = q;
    pr.p = p;
    pr.restricted = v.data();
    pr.ld_restricted = std::max(q, 1);
    pr.unrestricted = s.data();
    pr.ld_unrestricted = std::max(p, 1);
    pr.selection = selection;
    pr.reliabilities = reliabilities;
    return pr;
  }
};

// Corrected covariance (i, j) or correlation.
double corrected(const LawleyProblem& pr, int i, int j, bool correlation) {
  LawleyCorrection c = lawley(pr);
  const std::vector<double>& m = correlation ? c.correlations : c.covariances;
  return m[at(i, j, pr.q)];
}

// ---- The Jacobian ---------------------------------------------------------

struct JacobianCase {
  int q;
  int p;
  unsigned seed;
};

class JacobianTest : public ::testing::TestWithParam<JacobianCase> {};

// Every entry of the analytic gradient of every corrected covariance and
// correlation against a central difference of the correction itself, with
// the symmetric pair (a, b), (b, a) moved together.
TEST_P(JacobianTest, MatchesCentralDifferences) {
  const JacobianCase& jc = GetParam();
  RandomProblem rp(jc.q, jc.p, jc.seed);
  int q = jc.q;
  int p = jc.p;
  struct Output {
    int i, j;
    bool correlation;
    std::vector<double> of_v, of_s;
  };
  std::vector<Output> outputs;
  for (int correlation = 0; correlation < 2; ++correlation) {
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i <= j; ++i) {
        if (correlation && i == j) continue;
        Output o{i, j, correlation != 0, {}, {}};
        ASSERT_TRUE(
            intervals::correction_gradient(rp.problem(), i, j, o.correlation, o.of_v, o.of_s));
        outputs.push_back(std::move(o));
      }
    }
  }
  LawleyCorrection base = lawley(rp.problem());
  // One parameter at a time: moved by +h and -h, every output compared.
  auto compare = [&](const RandomProblem& up, const RandomProblem& down, double h, bool of_s, int a,
                     int b, double unit) {
    LawleyCorrection plus = lawley(up.problem());
    LawleyCorrection minus = lawley(down.problem());
    for (const Output& o : outputs) {
      const auto& hi = o.correlation ? plus.correlations : plus.covariances;
      const auto& lo = o.correlation ? minus.correlations : minus.covariances;
      double value = (o.correlation ? base.correlations : base.covariances)[at(o.i, o.j, q)];
      double numeric = (hi[at(o.i, o.j, q)] - lo[at(o.i, o.j, q)]) / (2 * h);
      double analytic = of_s ? o.of_s[at(a, b, p)] : o.of_v[at(a, b, q)];
      // Relative 1e-6, or of the output's own scale per unit of the input.
      double tolerance = 1e-6 * std::max(std::fabs(numeric), (std::fabs(value) + 1.0) / unit);
      EXPECT_NEAR(analytic, numeric, tolerance)
          << (o.correlation ? "correlation " : "covariance ") << o.i << "," << o.j << " by "
          << (of_s ? "s" : "v") << a << "," << b;
    }
  };
  for (int b = 0; b < q; ++b) {
    for (int a = 0; a <= b; ++a) {
      double unit = std::sqrt(rp.v[at(a, a, q)] * rp.v[at(b, b, q)]);
      double h = 1e-5 * unit;
      RandomProblem up = rp;
      RandomProblem down = rp;
      up.v[at(a, b, q)] += h;
      down.v[at(a, b, q)] -= h;
      if (a != b) {
        up.v[at(b, a, q)] += h;
        down.v[at(b, a, q)] -= h;
      }
      compare(up, down, h, false, a, b, unit);
    }
  }
  for (int b = 0; b < p; ++b) {
    for (int a = 0; a <= b; ++a) {
      double unit = std::sqrt(rp.s[at(a, a, p)] * rp.s[at(b, b, p)]);
      double h = 1e-5 * unit;
      RandomProblem up = rp;
      RandomProblem down = rp;
      up.s[at(a, b, p)] += h;
      down.s[at(a, b, p)] -= h;
      if (a != b) {
        up.s[at(b, a, p)] += h;
        down.s[at(b, a, p)] -= h;
      }
      compare(up, down, h, true, a, b, unit);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, JacobianTest,
                         ::testing::Values(JacobianCase{2, 1, 1}, JacobianCase{3, 2, 2},
                                           JacobianCase{4, 1, 3}, JacobianCase{5, 3, 4},
                                           JacobianCase{6, 6, 5}, JacobianCase{6, 0, 6},
                                           JacobianCase{8, 2, 7}, JacobianCase{12, 5, 8},
                                           JacobianCase{20, 4, 9}, JacobianCase{20, 19, 10},
                                           JacobianCase{20, 10, 11}));

// ---- The delta methods ----------------------------------------------------

struct Output {
  Matrix cov_se, cov_lower, cov_upper;
  Matrix cor_se, cor_lower, cor_upper;
  Matrix dis_se, dis_lower, dis_upper;
  Matrix v, s;
  IntervalSummary summary;
  Status status = Status::ok;
};

Output run(int q, int p, const double* v, const double* s, std::span<const int> selection,
           std::span<const double> reliabilities, const IntervalRequest& request) {
  LawleyProblem pr;
  pr.q = q;
  pr.p = p;
  pr.restricted = v;
  pr.ld_restricted = std::max(q, 1);
  pr.unrestricted = s;
  pr.ld_unrestricted = std::max(p, 1);
  pr.selection = selection;
  pr.reliabilities = reliabilities;
  Output o;
  auto qq = static_cast<std::size_t>(q * q);
  for (Matrix* m : {&o.cov_se, &o.cov_lower, &o.cov_upper, &o.cor_se, &o.cor_lower, &o.cor_upper,
                    &o.dis_se, &o.dis_lower, &o.dis_upper, &o.v}) {
    m->assign(qq, -7.0);
  }
  o.s.assign(static_cast<std::size_t>(p * p), -7.0);
  IntervalResults r;
  int ld = std::max(q, 1);
  r.covariances = {o.cov_se.data(), o.cov_lower.data(), o.cov_upper.data(), ld};
  r.correlations = {o.cor_se.data(), o.cor_lower.data(), o.cor_upper.data(), ld};
  r.disattenuated = {o.dis_se.data(), o.dis_lower.data(), o.dis_upper.data(), ld};
  r.restricted = o.v.data();
  r.ld_restricted = ld;
  r.unrestricted = o.s.data();
  r.ld_unrestricted = std::max(p, 1);
  WorkspaceSize need = lawley_intervals_workspace_size(q, p, request);
  std::vector<double> work(need.doubles);
  std::vector<int> ints(need.ints);
  o.status = lawley_intervals(pr, request, r, work, ints, &o.summary);
  return o;
}

Output run(const RandomProblem& rp, const IntervalRequest& request) {
  return run(rp.q, rp.p, rp.v.data(), rp.s.data(), rp.selection, rp.reliabilities, request);
}

// Case II (one selection variable x, one other y) under normal theory with
// the selection variable's unrestricted variance known: with r the
// restricted correlation and k = S / v_xx,
//   R = r sqrt(k) / sqrt(D),  D = 1 - r^2 + k r^2,
//   SE(R) = sqrt(k) (1 - r^2) sqrt(1 - r^2 / 2) / (D^(3/2) sqrt(n - 1)).
TEST(NormalMethod, CaseTwoMatchesClosedForm) {
  struct Case {
    double vxx, vxy, vyy, s;
    int n;
  };
  for (const Case& c :
       {Case{1.0, 0.3, 1.0, 2.0, 100}, Case{0.5, -0.2, 2.0, 1.7, 250}, Case{2.0, 1.5, 3.0, 2.0, 30},
        Case{1.0, 0.0, 1.0, 4.0, 1000}, Case{0.8, 0.7, 0.9, 3.1, 12}}) {
    double v[4] = {c.vxx, c.vxy, c.vxy, c.vyy};
    IntervalRequest request;
    request.method = IntervalMethod::normal;
    request.n = c.n;
    Output o = run(2, 1, v, &c.s, {}, {}, request);
    ASSERT_EQ(o.status, Status::ok);
    double r = c.vxy / std::sqrt(c.vxx * c.vyy);
    double k = c.s / c.vxx;
    double d = 1.0 - r * r + k * r * r;
    double expected = std::sqrt(k) * (1 - r * r) * std::sqrt(1 - r * r / 2) /
                      (std::pow(d, 1.5) * std::sqrt(c.n - 1.0));
    EXPECT_NEAR(o.cor_se[1], expected, 1e-13 * (expected + 1e-300)) << c.n;
    EXPECT_EQ(o.cor_se[1], o.cor_se[2]);
    EXPECT_EQ(o.summary.n, c.n);
    EXPECT_EQ(o.summary.method, IntervalMethod::normal);
    // S known: the selection variable's own variance has no sampling error.
    EXPECT_EQ(o.cov_se[0], 0.0);
    EXPECT_EQ(o.cov_lower[0], c.s);
    EXPECT_EQ(o.cov_upper[0], c.s);
    // The interval is Fisher's: symmetric on the z scale.
    double rr = r * std::sqrt(k) / std::sqrt(d);
    double z = std::atanh(rr);
    EXPECT_NEAR(std::atanh(o.cor_upper[1]) - z, z - std::atanh(o.cor_lower[1]), 1e-12);
    EXPECT_NEAR(std::atanh(o.cor_upper[1]) - z, 1.959963984540054 * expected / (1 - rr * rr),
                1e-12);
  }
}

// sqrt(g' Gamma g) with g from central differences and Gamma written out:
// normal theory from V (and S) or Browne's fourth moments from raw scores.
double reference_se(const RandomProblem& rp, int i, int j, bool correlation, int n, int big_n,
                    const Matrix* scores, int rows) {
  int q = rp.q;
  int p = rp.p;
  std::vector<std::pair<int, int>> pairs;
  for (int b = 0; b < q; ++b) {
    for (int a = 0; a <= b; ++a) pairs.emplace_back(a, b);
  }
  std::vector<double> g;
  for (const auto& pair : pairs) {
    int a = pair.first;  // plain names: a lambda below captures them
    int b = pair.second;
    double h = 1e-5;
    RandomProblem moved = rp;
    auto shift = [&](double by) {
      moved.v = rp.v;
      moved.v[at(a, b, q)] += by;
      if (a != b) moved.v[at(b, a, q)] += by;
      return corrected(moved.problem(), i, j, correlation);
    };
    g.push_back((shift(h) - shift(-h)) / (2 * h));
  }
  double variance = 0.0;
  if (scores == nullptr) {
    for (std::size_t e = 0; e < pairs.size(); ++e) {
      for (std::size_t f = 0; f < pairs.size(); ++f) {
        auto [k, l] = pairs[e];
        auto [m, nn] = pairs[f];
        double cov =
            rp.v[at(k, m, q)] * rp.v[at(l, nn, q)] + rp.v[at(k, nn, q)] * rp.v[at(l, m, q)];
        variance += g[e] * g[f] * cov / (n - 1);
      }
    }
  } else {
    std::vector<double> mean(static_cast<std::size_t>(q), 0.0);
    for (int c = 0; c < q; ++c) {
      for (int r = 0; r < rows; ++r) mean[static_cast<std::size_t>(c)] += (*scores)[at(r, c, rows)];
      mean[static_cast<std::size_t>(c)] /= rows;
    }
    // Gamma = mean(d d') - mean(d) mean(d)', d_i = vech((x_i - m)(x_i - m)').
    std::size_t k = pairs.size();
    std::vector<double> dmean(k, 0.0);
    std::vector<double> second(k * k, 0.0);
    std::vector<double> d(k);
    for (int r = 0; r < rows; ++r) {
      for (std::size_t e = 0; e < k; ++e) {
        auto [a, b] = pairs[e];
        d[e] = ((*scores)[at(r, a, rows)] - mean[static_cast<std::size_t>(a)]) *
               ((*scores)[at(r, b, rows)] - mean[static_cast<std::size_t>(b)]);
        dmean[e] += d[e] / rows;
      }
      for (std::size_t e = 0; e < k; ++e) {
        for (std::size_t f = 0; f < k; ++f) second[e * k + f] += d[e] * d[f] / rows;
      }
    }
    for (std::size_t e = 0; e < k; ++e) {
      for (std::size_t f = 0; f < k; ++f) {
        variance += g[e] * g[f] * (second[e * k + f] - dmean[e] * dmean[f]) / rows;
      }
    }
  }
  if (big_n > 0) {
    for (int b = 0; b < p; ++b) {
      for (int a = 0; a <= b; ++a) {
        for (int d2 = 0; d2 < p; ++d2) {
          for (int c2 = 0; c2 <= d2; ++c2) {
            auto grad = [&](int x, int y) {
              RandomProblem moved = rp;
              double h = 1e-5;
              auto shift = [&](double by) {
                moved.s = rp.s;
                moved.s[at(x, y, p)] += by;
                if (x != y) moved.s[at(y, x, p)] += by;
                return corrected(moved.problem(), i, j, correlation);
              };
              return (shift(h) - shift(-h)) / (2 * h);
            };
            double cov =
                rp.s[at(a, c2, p)] * rp.s[at(b, d2, p)] + rp.s[at(a, d2, p)] * rp.s[at(b, c2, p)];
            variance += grad(a, b) * grad(c2, d2) * cov / (big_n - 1);
          }
        }
      }
    }
  }
  return std::sqrt(variance);
}

TEST(NormalMethod, AgreesWithExplicitCovarianceOfTheSampleCovariances) {
  for (int big_n : {0, 80}) {
    RandomProblem rp(5, 2, 21, true);
    IntervalRequest request;
    request.n = 60;
    request.n_unrestricted = big_n;
    Output o = run(rp, request);
    ASSERT_EQ(o.status, Status::ok);
    EXPECT_EQ(o.summary.n_unrestricted, big_n);
    for (int j = 0; j < rp.q; ++j) {
      for (int i = 0; i <= j; ++i) {
        double cov_se = reference_se(rp, i, j, false, 60, big_n, nullptr, 0);
        EXPECT_NEAR(o.cov_se[at(i, j, 5)], cov_se, 1e-6 * (cov_se + 1e-3)) << i << "," << j;
        EXPECT_EQ(o.cov_se[at(i, j, 5)], o.cov_se[at(j, i, 5)]);
        if (i == j) continue;
        double cor_se = reference_se(rp, i, j, true, 60, big_n, nullptr, 0);
        EXPECT_NEAR(o.cor_se[at(i, j, 5)], cor_se, 1e-6 * (cor_se + 1e-3)) << i << "," << j;
      }
    }
  }
}

Matrix simulated_scores(int rows, int q, unsigned seed, double skew = 0.0) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal;
  Matrix x(static_cast<std::size_t>(rows * q));
  for (int r = 0; r < rows; ++r) {
    double common = normal(gen);
    for (int c = 0; c < q; ++c) {
      double e = normal(gen);
      if (skew != 0.0) e = e + skew * (e * e - 1.0);
      x[at(r, c, rows)] = 0.6 * common + e * (1.0 + 0.2 * c);
    }
  }
  return x;
}

TEST(AdfMethod, AgreesWithExplicitFourthMoments) {
  int rows = 40;
  int q = 4;
  Matrix x = simulated_scores(rows, q, 5, 0.4);
  RandomProblem rp(q, 2, 22);
  rp.selection = {3, 1};
  // The V of these scores, for the reference.
  std::vector<double> means(static_cast<std::size_t>(q));
  DataSummary ds = covariance_from_data({rows, q, x.data(), rows}, means.data(), rp.v.data(), q);
  ASSERT_EQ(ds.status, Status::ok);
  IntervalRequest request;
  request.method = IntervalMethod::adf;
  request.data = {rows, q, x.data(), rows};
  Output o = run(q, 2, nullptr, rp.s.data(), rp.selection, {}, request);
  ASSERT_EQ(o.status, Status::ok);
  EXPECT_EQ(o.summary.n, rows);
  EXPECT_EQ(o.v, rp.v);
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i <= j; ++i) {
      double cov_se = reference_se(rp, i, j, false, 0, 0, &x, rows);
      EXPECT_NEAR(o.cov_se[at(i, j, q)], cov_se, 1e-6 * (cov_se + 1e-3)) << i << "," << j;
      if (i == j) continue;
      double cor_se = reference_se(rp, i, j, true, 0, 0, &x, rows);
      EXPECT_NEAR(o.cor_se[at(i, j, q)], cor_se, 1e-6 * (cor_se + 1e-3)) << i << "," << j;
    }
  }
}

// Disattenuated values are the corrected ones over sqrt(r_ii r_jj): SE and
// bounds alike; a variable's own values are 1.
TEST(Intervals, DisattenuatedAreScaledCorrelations) {
  RandomProblem rp(6, 2, 23, true);
  IntervalRequest request;
  request.n = 200;
  Output o = run(rp, request);
  ASSERT_EQ(o.status, Status::ok);
  std::vector<double> rel(6, 1.0);
  int t = 0;
  for (int v = 0; v < 6; ++v) {
    if (std::find(rp.selection.begin(), rp.selection.end(), v) == rp.selection.end()) {
      rel[static_cast<std::size_t>(v)] = rp.reliabilities[static_cast<std::size_t>(t++)];
    }
  }
  for (int j = 0; j < 6; ++j) {
    for (int i = 0; i < 6; ++i) {
      if (i == j) {
        double r = lawley(rp.problem()).correlations[at(i, i, 6)];
        EXPECT_EQ(o.dis_se[at(i, i, 6)], 0.0);
        EXPECT_EQ(o.dis_lower[at(i, i, 6)], r);
        EXPECT_EQ(o.cor_upper[at(i, i, 6)], r);
        EXPECT_NEAR(r, 1.0, 1e-15);
        continue;
      }
      double k = std::sqrt(rel[static_cast<std::size_t>(i)] * rel[static_cast<std::size_t>(j)]);
      EXPECT_DOUBLE_EQ(o.dis_se[at(i, j, 6)], o.cor_se[at(i, j, 6)] / k);
      EXPECT_DOUBLE_EQ(o.dis_lower[at(i, j, 6)], o.cor_lower[at(i, j, 6)] / k);
      EXPECT_DOUBLE_EQ(o.dis_upper[at(i, j, 6)], o.cor_upper[at(i, j, 6)] / k);
      bool both_selected = k == 1.0;  // S known: no sampling error
      if (both_selected) {
        // The point itself, bit for bit: an interval holds its estimate.
        double r = lawley(rp.problem()).correlations[at(i, j, 6)];
        EXPECT_EQ(o.cor_se[at(i, j, 6)], 0.0);
        EXPECT_EQ(o.cor_lower[at(i, j, 6)], r);
        EXPECT_EQ(o.cor_upper[at(i, j, 6)], r);
        continue;
      }
      EXPECT_LT(o.cor_lower[at(i, j, 6)], o.cor_upper[at(i, j, 6)]);
      EXPECT_GT(o.cor_lower[at(i, j, 6)], -1.0);
      EXPECT_LT(o.cor_upper[at(i, j, 6)], 1.0);
    }
  }
}

// The level moves the bounds by the normal quantile.
TEST(Intervals, LevelSetsTheQuantile) {
  RandomProblem rp(4, 1, 24);
  for (double level : {0.5, 0.9, 0.95, 0.999}) {
    IntervalRequest request;
    request.n = 90;
    request.level = level;
    Output o = run(rp, request);
    ASSERT_EQ(o.status, Status::ok);
    double z = normal_quantile((1 + level) / 2);
    for (std::size_t e = 0; e < o.cov_se.size(); ++e) {
      double estimate = (o.cov_lower[e] + o.cov_upper[e]) / 2;
      EXPECT_NEAR(o.cov_upper[e] - estimate, z * o.cov_se[e], 1e-9 * (1 + std::fabs(estimate)));
    }
  }
}

// ---- The bootstrap --------------------------------------------------------

Output bootstrap_run(const Matrix& x, int rows, int q, const RandomProblem& rp, int threads,
                     std::uint64_t seed, BootstrapInterval interval, int resamples = 300) {
  IntervalRequest request;
  request.method = IntervalMethod::bootstrap;
  request.data = {rows, q, x.data(), rows};
  request.resamples = resamples;
  request.seed = seed;
  request.threads = threads;
  request.interval = interval;
  return run(q, rp.p, nullptr, rp.s.data(), rp.selection, rp.reliabilities, request);
}

bool same_bits(const Matrix& a, const Matrix& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(Bootstrap, SameSeedSameNumbersOnAnyNumberOfThreads) {
  int rows = 600;  // three jackknife chunks, the last one short
  int q = 5;
  Matrix x = simulated_scores(rows, q, 31);
  RandomProblem rp(q, 2, 32, true);
  for (BootstrapInterval interval : {BootstrapInterval::bca, BootstrapInterval::percentile}) {
    Output one = bootstrap_run(x, rows, q, rp, 1, 99, interval);
    ASSERT_EQ(one.status, Status::ok);
    EXPECT_EQ(one.summary.threads, 1);
    for (int threads : {2, 3, 8}) {
      Output many = bootstrap_run(x, rows, q, rp, threads, 99, interval);
      EXPECT_EQ(many.summary.threads, threads);
      for (auto [a, b] : {std::pair{&one.cov_se, &many.cov_se},
                          {&one.cor_lower, &many.cor_lower},
                          {&one.cor_upper, &many.cor_upper},
                          {&one.dis_upper, &many.dis_upper},
                          {&one.cov_lower, &many.cov_lower}}) {
        EXPECT_TRUE(same_bits(*a, *b)) << threads << " threads";
      }
    }
    Output other = bootstrap_run(x, rows, q, rp, 2, 100, interval);
    EXPECT_FALSE(same_bits(one.cor_se, other.cor_se));
  }
}

// With many rows the bootstrap SE, the ADF SE and (for normal scores) the
// normal-theory SE estimate the same thing.
TEST(Bootstrap, AgreesWithTheDeltaMethodsOnALargeNormalSample) {
  int rows = 3000;
  int q = 4;
  Matrix x = simulated_scores(rows, q, 41);
  RandomProblem rp(q, 1, 42);
  Output boot = bootstrap_run(x, rows, q, rp, 2, 7, BootstrapInterval::bca, 1500);
  ASSERT_EQ(boot.status, Status::ok);
  EXPECT_EQ(boot.summary.failed_resamples, 0);
  IntervalRequest request;
  request.method = IntervalMethod::adf;
  request.data = {rows, q, x.data(), rows};
  Output adf = run(q, 1, nullptr, rp.s.data(), rp.selection, {}, request);
  request.method = IntervalMethod::normal;
  Output normal = run(q, 1, nullptr, rp.s.data(), rp.selection, {}, request);
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      std::size_t e = at(i, j, q);
      // 1500 resamples: the SE of a bootstrap SE is about 2 %.
      EXPECT_NEAR(boot.cor_se[e] / adf.cor_se[e], 1.0, 0.1) << i << "," << j;
      EXPECT_NEAR(normal.cor_se[e] / adf.cor_se[e], 1.0, 0.1) << i << "," << j;
      EXPECT_LT(boot.cor_lower[e], boot.cor_upper[e]);
    }
  }
}

// The BCa acceleration from leave-one-out matrices recomputed from the
// scores without the row, against the library's downdating; one sample,
// and two (restricted and pool) with their influence values weighted by
// 1/n_k (Davison and Hinkley 1997, section 3.2).
TEST(Bootstrap, AccelerationMatchesARecomputedJackknife) {
  int q = 4;
  int p = 2;
  for (int rows : {40, 300}) {
    for (bool with_pool : {false, true}) {
      Matrix x = simulated_scores(rows, q, 81, 0.5);
      int pool_rows = 70;
      Matrix pool = simulated_scores(pool_rows, p, 82, 0.3);
      for (double& value : pool) value *= 1.4;
      RandomProblem rp(q, p, 83);
      rp.selection = {2, 0};
      LawleyProblem pr = rp.problem();
      pr.restricted = nullptr;
      RawScores pool_scores{pool_rows, p, pool.data(), pool_rows};
      if (with_pool) pr.unrestricted = nullptr;
      std::vector<double> fast;
      ASSERT_TRUE(intervals::bootstrap_accelerations(pr, {rows, q, x.data(), rows},
                                                     with_pool ? &pool_scores : nullptr, fast));
      // values(x, pool): the slots of one correction.
      auto values = [&](const Matrix& xs, int n, const Matrix& ps, int np) {
        Matrix v(static_cast<std::size_t>(q * q));
        Matrix s = rp.s;
        std::vector<double> m(static_cast<std::size_t>(q));
        EXPECT_EQ(covariance_from_data({n, q, xs.data(), n}, m.data(), v.data(), q).status,
                  Status::ok);
        if (with_pool) {
          EXPECT_EQ(covariance_from_data({np, p, ps.data(), np}, m.data(), s.data(), p).status,
                    Status::ok);
        }
        LawleyProblem one = rp.problem();
        one.restricted = v.data();
        one.unrestricted = s.data();
        LawleyCorrection c = lawley(one);
        std::vector<double> out(intervals::values_per_resample(q));
        for (int j = 0; j < q; ++j) {
          for (int i = 0; i <= j; ++i) {
            out[intervals::covariance_slot(i, j)] = c.covariances[at(i, j, q)];
            if (i < j) out[intervals::correlation_slot(q, i, j)] = c.correlations[at(i, j, q)];
          }
        }
        return out;
      };
      auto without = [](const Matrix& xs, int n, int columns, int row) {
        Matrix out;
        for (int c = 0; c < columns; ++c) {
          for (int r = 0; r < n; ++r) {
            if (r != row) out.push_back(xs[at(r, c, n)]);
          }
        }
        return out;
      };
      std::size_t count = intervals::values_per_resample(q);
      std::vector<double> cubes(count, 0.0);
      std::vector<double> squares(count, 0.0);
      auto add_sample = [&](int n, auto leave_out) {
        std::vector<std::vector<double>> loo;
        for (int i = 0; i < n; ++i) loo.push_back(leave_out(i));
        for (std::size_t k = 0; k < count; ++k) {
          // A value no row moves (with S known, the selection block's) has
          // no influence; its rounded mean would only add noise.
          bool moves = false;
          for (const auto& v : loo) moves = moves || v[k] != loo[0][k];
          if (!moves) continue;
          double mean = 0.0;
          for (const auto& v : loo) mean += v[k] / n;
          for (const auto& v : loo) {
            double l = (n - 1) * (mean - v[k]);
            cubes[k] += l * l * l / (double(n) * n * n);
            squares[k] += l * l / (double(n) * n);
          }
        }
      };
      add_sample(rows,
                 [&](int i) { return values(without(x, rows, q, i), rows - 1, pool, pool_rows); });
      if (with_pool) {
        add_sample(pool_rows, [&](int i) {
          return values(x, rows, without(pool, pool_rows, p, i), pool_rows - 1);
        });
      }
      for (std::size_t k = 0; k < count; ++k) {
        double expected = squares[k] > 0 ? cubes[k] / (6 * std::pow(squares[k], 1.5)) : 0.0;
        EXPECT_NEAR(fast[k], expected, 1e-6 * std::fabs(expected) + 1e-9)
            << "value " << k << ", " << rows << " rows" << (with_pool ? ", with pool" : "");
      }
      // Skewed scores: the accelerations are not all 0.
      EXPECT_GT(*std::max_element(fast.begin(), fast.end(),
                                  [](double a, double b) { return std::fabs(a) < std::fabs(b); }),
                1e-4);
    }
  }
}

// Tiny samples whose resamples often repeat a row: V11 is then singular and
// the resample is left out and counted.
TEST(Bootstrap, CountsAndLeavesOutFailedResamples) {
  int rows = 4;
  int q = 3;
  Matrix x = {1.0, 2.0, 4.0, 7.0, 0.5, -1.0, 2.0, 0.0, 3.0, 1.0, 2.0, 5.0};
  RandomProblem rp(q, 2, 51);
  rp.selection = {0, 1};
  rp.s = {2.0, 0.3, 0.3, 3.0};
  Output o = bootstrap_run(x, rows, q, rp, 1, 5, BootstrapInterval::percentile, 200);
  ASSERT_EQ(o.status, Status::ok);
  EXPECT_GT(o.summary.failed_resamples, 0);
  EXPECT_LT(o.summary.failed_resamples, 200);
  EXPECT_EQ(o.summary.percentile_fallbacks, 0);  // percentile asked for

  EXPECT_TRUE(std::isfinite(o.cor_se[at(0, 2, q)]));
  EXPECT_LE(o.cor_lower[at(0, 2, q)], o.cor_upper[at(0, 2, q)]);
}

// Three rows whose correlation every two-point resample makes 1: no
// resample lies below the estimate, BCa's bias correction is infinite, and
// the percentile interval stands in, counted.
TEST(Bootstrap, UndefinedBcaFallsBackToPercentileAndIsCounted) {
  std::vector<double> x = {0, 1, 2, 0, 1, 3};
  IntervalRequest request;
  request.method = IntervalMethod::bootstrap;
  request.data = {3, 2, x.data(), 3};
  request.resamples = 200;
  request.threads = 1;
  Output bca = run(2, 0, nullptr, nullptr, {}, {}, request);
  request.interval = BootstrapInterval::percentile;
  Output percentile = run(2, 0, nullptr, nullptr, {}, {}, request);
  ASSERT_EQ(bca.status, Status::ok);
  // One row three times: no variance, so no correlation in that resample,
  // which is left out for the correlation alone.
  EXPECT_EQ(bca.summary.failed_resamples, 0);
  EXPECT_GT(bca.cov_se[0], 0.0);
  EXPECT_GE(bca.summary.percentile_fallbacks, 1);
  EXPECT_EQ(percentile.summary.percentile_fallbacks, 0);
  EXPECT_EQ(bca.cor_lower[2], percentile.cor_lower[2]);
  EXPECT_EQ(bca.cor_upper[2], percentile.cor_upper[2]);
  EXPECT_NEAR(bca.cor_upper[2], 1.0, 1e-12);
}

// A criterion that does not vary: its own values are not finite in every
// resample, and only they are lost; the other pairs keep every resample.
TEST(Bootstrap, AValueNotFiniteLeavesOutItsResampleForThatValueOnly) {
  int rows = 60;
  Matrix x = simulated_scores(rows, 3, 91);
  Matrix constant = x;
  for (int r = 0; r < rows; ++r) constant[at(r, 2, rows)] = 4.0;
  RandomProblem rp(3, 1, 92);
  rp.selection = {0};
  rp.s = {2.0};
  Output with = bootstrap_run(constant, rows, 3, rp, 1, 8, BootstrapInterval::bca, 200);
  Output without = bootstrap_run(x, rows, 3, rp, 1, 8, BootstrapInterval::bca, 200);
  ASSERT_EQ(with.status, Status::ok);
  EXPECT_EQ(with.summary.failed_resamples, 0);
  EXPECT_TRUE(std::isnan(with.cor_se[at(0, 2, 3)]));
  EXPECT_TRUE(std::isnan(with.cor_lower[at(1, 2, 3)]));
  // The pair of the other two is as it is without the constant column.
  EXPECT_EQ(with.cor_se[at(0, 1, 3)], without.cor_se[at(0, 1, 3)]);
  EXPECT_EQ(with.cor_lower[at(0, 1, 3)], without.cor_lower[at(0, 1, 3)]);
  EXPECT_EQ(with.cov_se[0], 0.0);  // S known
}

// A level whose (1 + level) / 2 rounds to 1: bounds finite and symmetric.
TEST(Intervals, LevelNextToOneGivesFiniteBounds) {
  RandomProblem rp(3, 1, 93);
  IntervalRequest request;
  request.n = 100;
  request.level = 0.9999999999999999;
  Output o = run(rp, request);
  ASSERT_EQ(o.status, Status::ok);
  for (std::size_t e = 0; e < o.cov_se.size(); ++e) {
    EXPECT_TRUE(std::isfinite(o.cov_lower[e]) && std::isfinite(o.cov_upper[e])) << e;
    EXPECT_LE(o.cov_lower[e], o.cov_upper[e]);
    EXPECT_TRUE(std::isfinite(o.cor_upper[e])) << e;
  }
  int a = rp.selection[0];
  EXPECT_EQ(o.cov_lower[at(a, a, 3)], rp.s[0]);  // SE 0: the point
}

// With S known the selection variables' values never vary.
TEST(Bootstrap, SelectionBlockIsFixedWhenSIsKnown) {
  int rows = 300;
  int q = 4;
  Matrix x = simulated_scores(rows, q, 61);
  RandomProblem rp(q, 2, 62);
  Output o = bootstrap_run(x, rows, q, rp, 2, 3, BootstrapInterval::bca);
  ASSERT_EQ(o.status, Status::ok);
  int a = rp.selection[0];
  int b = rp.selection[1];
  EXPECT_EQ(o.cov_se[at(a, b, q)], 0.0);
  EXPECT_EQ(o.cov_lower[at(a, b, q)], rp.s[at(0, 1, 2)]);
  EXPECT_EQ(o.cov_upper[at(a, a, q)], rp.s[0]);
  EXPECT_EQ(o.cor_se[at(a, b, q)], 0.0);
}

// ---- Small functions ------------------------------------------------------

// The interval of a squared correlation: Fisher's of its root, squared,
// the lower bound cut at 0 first. The numbers are recomputed by hand from
// atanh(sqrt(value)) +- z se / (2 sqrt(value) (1 - value)). A value not
// in (0, 1) has no root interval, 0 included: its root's SE would be
// infinite.
TEST(RootFisher, TableOfCases) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double value, se, lower, upper;
  };
  const Case cases[] = {
      {0.25, 0.1, 0.0785525888748147, 0.448819910344592},
      {0.6, 0.05, 0.494470204781403, 0.689790385480879},
      {0.01, 0.1, 0.0, 0.635140494030228},  // Fisher's lower bound below 0
      {0.3, 0.0, 0.3, 0.3},                 // no sampling error: the point
      {0.0, 0.0, 0.0, 0.0},
      {0.0, 0.1, nan, nan},
      {1.0, 0.1, nan, nan},
      {-0.1, 0.1, nan, nan},
  };
  intervals::Quantiles z = intervals::two_sided(0.95);
  for (const Case& c : cases) {
    intervals::Bounds b = intervals::root_fisher(c.value, c.se, z);
    if (std::isnan(c.lower)) {
      EXPECT_TRUE(std::isnan(b.lower) && std::isnan(b.upper)) << c.value << " " << c.se;
      continue;
    }
    EXPECT_NEAR(b.lower, c.lower, 1e-12) << c.value << " " << c.se;
    EXPECT_NEAR(b.upper, c.upper, 1e-12) << c.value << " " << c.se;
    EXPECT_LE(b.lower, c.value);
    EXPECT_GE(b.upper, c.value);
  }
}

TEST(NormalQuantile, KnownValues) {
  struct Case {
    double u, x;
  };
  for (Case c : {Case{0.5, 0.0}, Case{0.975, 1.959963984540054}, Case{0.025, -1.959963984540054},
                 Case{0.8413447460685429, 1.0}, Case{1e-10, -6.361340902404056},
                 Case{0.999, 3.090232306167813}, Case{1e-300, -37.0471}}) {
    EXPECT_NEAR(normal_quantile(c.u), c.x, c.u < 1e-100 ? 1e-3 : 1e-13) << c.u;
  }
  // The upper half mirrors the lower one exactly (1 - u is exact there).
  for (double u : {0.5000001, 0.975, 0.9999999999, 1.0 - 1e-15}) {
    EXPECT_EQ(normal_quantile(u), -normal_quantile(1.0 - u)) << u;
  }
  EXPECT_NEAR(normal_quantile(1.0 - 0x1p-40), -normal_quantile(0x1p-40), 0.0);
  EXPECT_EQ(normal_quantile(0.0), -INFINITY);
  EXPECT_EQ(normal_quantile(1.0), INFINITY);
  EXPECT_TRUE(std::isnan(normal_quantile(-0.1)));
  EXPECT_TRUE(std::isnan(normal_quantile(NAN)));
}

TEST(InterpolatedQuantile, OrderStatisticsAndNormalScaleBetween) {
  std::vector<double> t = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 9 values: rank (9 + 1) alpha
  EXPECT_EQ(intervals::interpolated_quantile(t.data(), 9, 0.1), 1.0);
  EXPECT_EQ(intervals::interpolated_quantile(t.data(), 9, 0.5), 5.0);
  EXPECT_EQ(intervals::interpolated_quantile(t.data(), 9, 0.9), 9.0);
  EXPECT_EQ(intervals::interpolated_quantile(t.data(), 9, 0.01), 1.0);
  EXPECT_EQ(intervals::interpolated_quantile(t.data(), 9, 0.99), 9.0);
  // Between ranks 2 and 3: the share on the normal scale, not the linear one.
  double alpha = 0.25;
  double share = (normal_quantile(alpha) - normal_quantile(0.2)) /
                 (normal_quantile(0.3) - normal_quantile(0.2));
  EXPECT_DOUBLE_EQ(intervals::interpolated_quantile(t.data(), 9, alpha), 2.0 + share);
  EXPECT_NE(share, 0.5);
}

TEST(CovarianceFromData, DropsIncompleteRowsListwise) {
  double nan = std::nan("");
  // 5 rows x 2 columns; rows 2 and 3 (from 0) have a missing score.
  std::vector<double> x = {1, 2, nan, 4, 5, 2, 1, 0, nan, 7};
  double means[2];
  double cov[4];
  DataSummary d = covariance_from_data({5, 2, x.data(), 5}, means, cov, 2);
  ASSERT_EQ(d.status, Status::ok);
  EXPECT_EQ(d.rows_used, 3);
  EXPECT_EQ(d.rows_dropped, 2);
  // Rows 0, 1, 4: (1, 2), (2, 1), (5, 7).
  double m0 = 8.0 / 3;
  double m1 = 10.0 / 3;
  EXPECT_DOUBLE_EQ(means[0], m0);
  EXPECT_DOUBLE_EQ(means[1], m1);
  EXPECT_DOUBLE_EQ(cov[0], ((1 - m0) * (1 - m0) + (2 - m0) * (2 - m0) + (5 - m0) * (5 - m0)) / 2);
  EXPECT_DOUBLE_EQ(cov[2], ((1 - m0) * (2 - m1) + (2 - m0) * (1 - m1) + (5 - m0) * (7 - m1)) / 2);
  EXPECT_EQ(cov[1], cov[2]);
}

TEST(CovarianceFromData, RejectsWhatItCannotUse) {
  double nan = std::nan("");
  struct Case {
    std::vector<double> x;
    int rows;
    int columns;
    int ld;
    const char* reason;
  };
  double means[2] = {-7, -7};
  double cov[4] = {-7, -7, -7, -7};
  for (const Case& c :
       {Case{{1, 2, 3, 4}, 2, 2, 2, ""},
        Case{{1, nan, 3, 4}, 2, 2, 2, "fewer than 2 complete rows"},
        Case{{1, INFINITY, 3, 4, 5, 6}, 3, 2, 3, "a score is infinite"},
        Case{{1, 2, 3, 4}, 2, 2, 1, "the leading dimension is smaller than the number of rows"},
        Case{{1, 2}, -1, 2, 1, "the number of rows is negative"}}) {
    std::fill(cov, cov + 4, -7.0);
    DataSummary d = covariance_from_data({c.rows, c.columns, c.x.data(), c.ld}, means, cov, 2);
    if (std::string(c.reason) == "fewer than 2 complete rows") {
      EXPECT_EQ(d.rows_used, 1);
      EXPECT_EQ(d.rows_dropped, 1);
    }
    EXPECT_STREQ(d.reason, c.reason);
    EXPECT_EQ(d.status, *c.reason == '\0' ? Status::ok : Status::invalid_argument);
    if (d.status != Status::ok) {
      EXPECT_EQ(d.argument, Argument::data);
      EXPECT_EQ(cov[0], -7.0) << "written on failure";
    }
  }
}

// ---- Checks ---------------------------------------------------------------

TEST(IntervalChecks, EachInvalidRequestIsNamedAndWritesNothing) {
  RandomProblem rp(3, 1, 71);
  Matrix x = simulated_scores(20, 3, 72);
  Matrix pool = simulated_scores(30, 1, 73);
  double inf_row[6] = {1, 2, 3, 4, INFINITY, 6};
  struct Case {
    const char* name;
    void (*edit)(IntervalRequest&, LawleyProblem&, const Matrix&, const Matrix&, const double*);
    Argument argument;
    const char* reason;
  };
  static const Case cases[] = {
      {"method none",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.method = IntervalMethod::none;
       },
       Argument::request, "the method is not normal, adf or bootstrap"},
      {"level 1",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.level = 1.0;
       },
       Argument::request, "the level is not between 0 and 1"},
      {"level NaN",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.level = NAN;
       },
       Argument::request, "the level is not between 0 and 1"},
      {"n 1",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.n = 1;
       },
       Argument::request, "the restricted sample size n is below 2"},
      {"N 1",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.n_unrestricted = 1;
       },
       Argument::request, "the unrestricted sample size is below 2 (0: S is known)"},
      {"N with pool",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix& ps,
          const double*) {
         r.data = {20, 3, xs.data(), 20};
         r.pool = {30, 1, ps.data(), 30};
         r.n_unrestricted = 30;
         pr.restricted = nullptr;
         pr.unrestricted = nullptr;
       },
       Argument::request,
       "give the raw pool scores or the unrestricted sample size, not both: the pool's rows "
       "count"},
      {"adf without data",
       [](IntervalRequest& r, LawleyProblem&, const Matrix&, const Matrix&, const double*) {
         r.method = IntervalMethod::adf;
       },
       Argument::data, "this method needs the raw restricted scores"},
      {"data and matrix",
       [](IntervalRequest& r, LawleyProblem&, const Matrix& xs, const Matrix&, const double*) {
         r.data = {20, 3, xs.data(), 20};
       },
       Argument::restricted, "give the raw restricted scores or the restricted matrix, not both"},
      {"data columns",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.data = {10, 2, xs.data(), 20};
         pr.restricted = nullptr;
       },
       Argument::data, "the scores do not have q columns, one per variable"},
      {"pool columns",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix& ps,
          const double*) {
         r.data = {20, 3, xs.data(), 20};
         r.pool = {15, 2, ps.data(), 15};
         pr.restricted = nullptr;
         pr.unrestricted = nullptr;
       },
       Argument::pool, "the pool scores do not have p columns, one per selection variable"},
      {"pool and matrix",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix& ps,
          const double*) {
         r.data = {20, 3, xs.data(), 20};
         r.pool = {30, 1, ps.data(), 30};
         pr.restricted = nullptr;
       },
       Argument::unrestricted, "give the raw pool scores or the unrestricted matrix, not both"},
      {"infinite score",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix&, const Matrix&, const double* inf) {
         r.method = IntervalMethod::adf;
         r.data = {2, 3, inf, 2};
         pr.restricted = nullptr;
       },
       Argument::data, "a score is infinite"},
      {"adf on 2 rows",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.method = IntervalMethod::adf;
         r.data = {2, 3, xs.data(), 20};
         pr.restricted = nullptr;
       },
       Argument::data, "fewer than 3 complete rows, which adf and the bootstrap need"},
      {"huge scores",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix&, const Matrix&, const double*) {
         static const double huge[6] = {1e200, -1e200, 3e200, 1, 2, 4};
         r.method = IntervalMethod::adf;
         r.data = {3, 2, huge, 3};
         pr.q = 2;
         pr.restricted = nullptr;
       },
       Argument::data, "the scores are so large that their variances or covariances overflow"},
      {"bootstrap on 2 rows",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.method = IntervalMethod::bootstrap;
         r.data = {2, 3, xs.data(), 20};
         pr.restricted = nullptr;
       },
       Argument::data, "fewer than 3 complete rows, which adf and the bootstrap need"},
      {"bootstrap with N",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.method = IntervalMethod::bootstrap;
         r.data = {20, 3, xs.data(), 20};
         r.n_unrestricted = 100;
         pr.restricted = nullptr;
       },
       Argument::request,
       "the bootstrap lets S vary only by resampling raw pool scores, not from a sample size"},
      {"9 resamples",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.method = IntervalMethod::bootstrap;
         r.data = {20, 3, xs.data(), 20};
         r.resamples = 9;
         pr.restricted = nullptr;
       },
       Argument::request, "the number of resamples is outside 10..1000000"},
      {"threads -1",
       [](IntervalRequest& r, LawleyProblem& pr, const Matrix& xs, const Matrix&, const double*) {
         r.method = IntervalMethod::bootstrap;
         r.data = {20, 3, xs.data(), 20};
         r.threads = -1;
         pr.restricted = nullptr;
       },
       Argument::request, "the number of threads is negative"},
      {"selection out of range",
       [](IntervalRequest&, LawleyProblem& pr, const Matrix&, const Matrix&, const double*) {
         static const int twice[1] = {5};
         pr.selection = twice;
       },
       Argument::selection, "an index is outside 0..q-1"},
  };
  for (const Case& c : cases) {
    IntervalRequest request;
    request.n = 50;
    LawleyProblem pr = rp.problem();
    c.edit(request, pr, x, pool, inf_row);
    Matrix se(9, -7.0);
    IntervalResults results;
    results.correlations = {se.data(), nullptr, nullptr, 3};
    // Workspace for the largest of the requests.
    IntervalRequest sizing = request;
    sizing.method = IntervalMethod::bootstrap;
    sizing.data = {20, 3, x.data(), 20};
    sizing.pool = {30, 1, pool.data(), 30};
    sizing.n_unrestricted = 0;
    sizing.resamples = 2000;
    sizing.threads = 64;
    WorkspaceSize need = lawley_intervals_workspace_size(3, 1, sizing);
    std::vector<double> work(need.doubles);
    std::vector<int> ints(need.ints);
    IntervalSummary summary;
    Status status = lawley_intervals(pr, request, results, work, ints, &summary);
    EXPECT_EQ(status, Status::invalid_argument) << c.name;
    EXPECT_EQ(summary.argument, c.argument) << c.name;
    EXPECT_STREQ(summary.reason, c.reason) << c.name;
    EXPECT_TRUE(std::all_of(se.begin(), se.end(), [](double v) { return v == -7.0; })) << c.name;
  }
}

TEST(IntervalChecks, WorkspaceTooSmallIsAnArgument) {
  RandomProblem rp(4, 2, 81);
  IntervalRequest request;
  request.n = 30;
  WorkspaceSize need = lawley_intervals_workspace_size(4, 2, request);
  ASSERT_GT(need.doubles, 0u);
  std::vector<double> work(need.doubles - 1);
  std::vector<int> ints(need.ints);
  IntervalSummary summary;
  EXPECT_EQ(lawley_intervals(rp.problem(), request, {}, work, ints, &summary),
            Status::invalid_argument);
  EXPECT_EQ(summary.argument, Argument::workspace);
  work.resize(need.doubles);
  ints.resize(need.ints - 1);
  EXPECT_EQ(lawley_intervals(rp.problem(), request, {}, work, ints, &summary),
            Status::invalid_argument);
  ints.resize(need.ints);
  EXPECT_EQ(lawley_intervals(rp.problem(), request, {}, work, ints, &summary), Status::ok);
}

TEST(IntervalChecks, SelectionBlockNotPositiveDefiniteFillsNaN) {
  double v[9] = {1, 1, 0.2, 1, 1, 0.3, 0.2, 0.3, 1};  // V11 singular
  double s[4] = {2, 0.5, 0.5, 2};
  IntervalRequest request;
  request.n = 40;
  Output o = run(3, 2, v, s, {}, {}, request);
  EXPECT_EQ(o.status, Status::not_positive_definite);
  EXPECT_EQ(o.summary.leading_minor, 2);
  EXPECT_TRUE(
      std::all_of(o.cor_se.begin(), o.cor_se.end(), [](double x) { return std::isnan(x); }));
}

// The C API gives the same numbers as the C++ one.
TEST(IntervalCApi, SameNumbersAsTheLibrary) {
  RandomProblem rp(5, 2, 91, true);
  IntervalRequest request;
  request.n = 120;
  request.n_unrestricted = 400;
  Output expected = run(rp, request);
  tolbe_interval_request c_request;
  tolbe_interval_request_init(&c_request);
  EXPECT_EQ(c_request.resamples, 2000);
  EXPECT_EQ(c_request.level, 0.95);
  c_request.n = 120;
  c_request.n_unrestricted = 400;
  std::size_t doubles = 0;
  std::size_t ints = 0;
  ASSERT_EQ(tolbe_lawley_intervals_workspace(5, 2, &c_request, &doubles, &ints), TOLBE_OK);
  std::vector<double> work(doubles);
  std::vector<int> int_work(ints);
  Matrix se(25), lower(25), upper(25);
  tolbe_interval_results results{};
  results.correlations = {se.data(), lower.data(), upper.data(), 5};
  tolbe_interval_summary summary;
  int status = tolbe_lawley_intervals(5, 2, rp.v.data(), 5, rp.s.data(), 2, rp.selection.data(),
                                      rp.reliabilities.data(), 3, &c_request, &results, work.data(),
                                      doubles, int_work.data(), ints, &summary);
  ASSERT_EQ(status, TOLBE_OK);
  EXPECT_EQ(se, expected.cor_se);
  EXPECT_EQ(upper, expected.cor_upper);
  EXPECT_EQ(summary.n, 120);
  EXPECT_EQ(summary.n_unrestricted, 400);
  EXPECT_STREQ(tolbe_interval_method_name(summary.method), "normal");
  c_request.method = 7;
  EXPECT_EQ(tolbe_lawley_intervals(5, 2, rp.v.data(), 5, rp.s.data(), 2, rp.selection.data(),
                                   nullptr, 0, &c_request, &results, work.data(), doubles,
                                   int_work.data(), ints, &summary),
            TOLBE_INVALID_ARGUMENT);
  EXPECT_EQ(summary.argument, TOLBE_ARGUMENT_REQUEST);
}

}  // namespace
}  // namespace tolbe
