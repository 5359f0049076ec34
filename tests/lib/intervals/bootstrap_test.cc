// The bootstrap's standard errors and its percentile and BCa bounds,
// recomputed here from its resamples with the textbook formulas: the SE
// with divisor B - 1, the quantiles interpolated on the normal scale
// (Davison and Hinkley 1997, eq. 5.8), and the BCa levels from the bias
// correction and the jackknife acceleration (Efron and Tibshirani 1993,
// ch. 14; two samples as in Davison and Hinkley 1997, section 3.2). The
// resamples' corrected matrices are caught as the bootstrap evaluates
// them; everything else, the estimates and the leave-one-out corrections
// included, is computed here from the scores by Lawley's formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "intervals/intervals.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace tolbe {
namespace {

using Matrix = std::vector<double>;

std::size_t sz(int n) {
  return static_cast<std::size_t>(n);
}

std::size_t at(int i, int j, int ld) {
  return sz(i) + sz(j) * sz(ld);
}

// ---- Textbook pieces --------------------------------------------------------

double phi(double x) {
  return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// Phi^-1 by bisection on phi: slow, plain and accurate enough for levels
// well inside (0, 1).
double phi_inverse(double u) {
  if (u <= 0.0) return -HUGE_VAL;
  if (u >= 1.0) return HUGE_VAL;
  double low = -40.0;
  double high = 40.0;
  for (int i = 0; i < 200; ++i) {
    double middle = (low + high) / 2;
    (phi(middle) < u ? low : high) = middle;
  }
  return (low + high) / 2;
}

// The alpha quantile of sorted values: the order statistic of rank
// (B + 1) alpha, between two ranks interpolated on the normal scale, the
// extremes beyond them.
double quantile(const Matrix& sorted, double alpha) {
  auto b = static_cast<int>(sorted.size());
  double rank = (b + 1) * alpha;
  if (rank < 1.0) return sorted.front();
  if (rank >= b) return sorted.back();
  int k = static_cast<int>(std::floor(rank));
  if (k == rank) return sorted[sz(k - 1)];
  double below = phi_inverse(double(k) / (b + 1));
  double above = phi_inverse(double(k + 1) / (b + 1));
  double share = (phi_inverse(alpha) - below) / (above - below);
  return sorted[sz(k - 1)] + share * (sorted[sz(k)] - sorted[sz(k - 1)]);
}

double standard_deviation(const Matrix& t) {
  double mean = 0.0;
  for (double x : t) mean += x;
  mean /= double(t.size());
  double squares = 0.0;
  for (double x : t) squares += (x - mean) * (x - mean);
  return std::sqrt(squares / double(t.size() - 1));
}

// The var/cov matrix (divisor count - 1) of the listed rows of the
// column-major scores.
Matrix covariance(const Matrix& x, int rows, int columns, const std::vector<int>& picked) {
  auto n = double(picked.size());
  Matrix mean(sz(columns), 0.0);
  for (int c = 0; c < columns; ++c) {
    for (int r : picked) mean[sz(c)] += x[at(r, c, rows)] / n;
  }
  Matrix v(sz(columns * columns), 0.0);
  for (int a = 0; a < columns; ++a) {
    for (int b = 0; b < columns; ++b) {
      double sum = 0.0;
      for (int r : picked) {
        sum += (x[at(r, a, rows)] - mean[sz(a)]) * (x[at(r, b, rows)] - mean[sz(b)]);
      }
      v[at(a, b, columns)] = sum / (n - 1.0);
    }
  }
  return v;
}

std::vector<int> all_rows_but(int rows, int left_out) {
  std::vector<int> picked;
  for (int r = 0; r < rows; ++r) {
    if (r != left_out) picked.push_back(r);
  }
  return picked;
}

// The inverse of a small symmetric positive definite matrix by
// Gauss-Jordan elimination.
Matrix inverse(Matrix a, int n) {
  Matrix e(sz(n * n), 0.0);
  for (int i = 0; i < n; ++i) e[at(i, i, n)] = 1.0;
  for (int k = 0; k < n; ++k) {
    double pivot = a[at(k, k, n)];
    for (int j = 0; j < n; ++j) {
      a[at(k, j, n)] /= pivot;
      e[at(k, j, n)] /= pivot;
    }
    for (int i = 0; i < n; ++i) {
      if (i == k) continue;
      double f = a[at(i, k, n)];
      for (int j = 0; j < n; ++j) {
        a[at(i, j, n)] -= f * a[at(k, j, n)];
        e[at(i, j, n)] -= f * e[at(k, j, n)];
      }
    }
  }
  return e;
}

// Lawley's correction, with x the selection variables and y the others:
// C_xx = S, C_xy = S W V_xy, C_yy = V_yy - V_yx W V_xy + V_yx W S W V_xy,
// W = V_xx^-1. V input order, S in the order of `selection`.
Matrix lawley_textbook(const Matrix& v, int q, const Matrix& s, const std::vector<int>& selection) {
  auto p = static_cast<int>(selection.size());
  std::vector<int> others;
  for (int i = 0; i < q; ++i) {
    if (std::find(selection.begin(), selection.end(), i) == selection.end()) others.push_back(i);
  }
  auto m = static_cast<int>(others.size());
  Matrix vxx(sz(p * p));
  for (int a = 0; a < p; ++a) {
    for (int b = 0; b < p; ++b) vxx[at(a, b, p)] = v[at(selection[sz(a)], selection[sz(b)], q)];
  }
  Matrix w = inverse(vxx, p);
  // B = W V_xy (p x m): the regression weights.
  Matrix weights(sz(p * m), 0.0);
  for (int a = 0; a < p; ++a) {
    for (int y = 0; y < m; ++y) {
      for (int k = 0; k < p; ++k) {
        weights[at(a, y, p)] += w[at(a, k, p)] * v[at(selection[sz(k)], others[sz(y)], q)];
      }
    }
  }
  Matrix c(sz(q * q), 0.0);
  for (int a = 0; a < p; ++a) {
    for (int b = 0; b < p; ++b) c[at(selection[sz(a)], selection[sz(b)], q)] = s[at(a, b, p)];
  }
  for (int a = 0; a < p; ++a) {
    for (int y = 0; y < m; ++y) {
      double sum = 0.0;
      for (int k = 0; k < p; ++k) sum += s[at(a, k, p)] * weights[at(k, y, p)];
      c[at(selection[sz(a)], others[sz(y)], q)] = sum;
      c[at(others[sz(y)], selection[sz(a)], q)] = sum;
    }
  }
  for (int y = 0; y < m; ++y) {
    for (int z = 0; z < m; ++z) {
      double explained = 0.0;
      double restored = 0.0;
      for (int a = 0; a < p; ++a) {
        explained += weights[at(a, y, p)] * v[at(selection[sz(a)], others[sz(z)], q)];
        for (int b = 0; b < p; ++b) {
          restored += weights[at(a, y, p)] * s[at(a, b, p)] * weights[at(b, z, p)];
        }
      }
      c[at(others[sz(y)], others[sz(z)], q)] =
          v[at(others[sz(y)], others[sz(z)], q)] - explained + restored;
    }
  }
  return c;
}

double correlation_of(const Matrix& c, int q, int i, int j) {
  return c[at(i, j, q)] / std::sqrt(c[at(i, i, q)] * c[at(j, j, q)]);
}

// The covariance (i, j) of a corrected matrix, or with `correlation` its
// correlation.
double value_of(const Matrix& c, int q, int i, int j, bool correlation) {
  return correlation ? correlation_of(c, q, i, j) : c[at(i, j, q)];
}

// ---- The problem ------------------------------------------------------------

// Skewed scores with a common factor, column-major.
Matrix skewed_scores(int rows, int columns, unsigned seed, double skew) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal;
  Matrix x(sz(rows * columns));
  for (int r = 0; r < rows; ++r) {
    double common = normal(gen);
    for (int c = 0; c < columns; ++c) {
      double e = normal(gen);
      e += skew * (e * e - 1.0);
      x[at(r, c, rows)] = 0.7 * common + e * (1.0 + 0.25 * c);
    }
  }
  return x;
}

// A small study: restricted scores of four variables, two of them (input
// 2 and 0, in that order) selection variables, whose unrestricted var/cov
// matrix is known or estimated from pool scores.
struct Study {
  static constexpr int q = 4;
  static constexpr int p = 2;
  int rows = 20;
  int pool_rows = 16;
  bool with_pool = false;
  std::vector<int> selection{2, 0};
  std::vector<int> order{2, 0, 1, 3};  // the selection first, then the others
  Matrix x;
  Matrix pool;
  Matrix s_known{1.9, 0.7, 0.7, 1.6};

  explicit Study(bool pool_scores) : with_pool(pool_scores) {
    x = skewed_scores(rows, q, 2024, 0.6);
    pool = skewed_scores(pool_rows, p, 2025, 0.5);
    for (double& value : pool) value *= 1.3;
  }

  std::vector<int> every(int n) const { return all_rows_but(n, -1); }

  // The corrected matrix of the restricted rows and pool rows picked.
  Matrix corrected(const std::vector<int>& rows_picked, const std::vector<int>& pool_picked) const {
    Matrix v = covariance(x, rows, q, rows_picked);
    Matrix s = with_pool ? covariance(pool, pool_rows, p, pool_picked) : s_known;
    return lawley_textbook(v, q, s, selection);
  }
  Matrix estimate() const { return corrected(every(rows), every(pool_rows)); }
};

// The resamples' corrected matrices, caught in the order the bootstrap
// evaluates them: on one thread, resample 0, 1, ... (and, for BCa, the
// jackknife after them, which is not kept).
struct Catch {
  int wanted = 0;
  std::vector<Matrix> matrices;
};

bool catch_matrix(const void* context, ConstView cov, double* out, double*) {
  auto* caught = static_cast<Catch*>(const_cast<void*>(context));
  out[0] = 0.0;
  if (static_cast<int>(caught->matrices.size()) == caught->wanted) return true;
  int q = Study::q;
  Matrix c(sz(q * q));
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) c[at(i, j, q)] = cov(i, j);
  }
  caught->matrices.push_back(c);
  return true;
}

// The corrected matrices of the B resamples the library draws for `seed`,
// from the bootstrap itself.
std::vector<Matrix> resampled_matrices(const Study& st, int resamples, std::uint64_t seed) {
  int q = Study::q;
  int p = Study::p;
  auto centred_rows = [](const Matrix& scores, int rows, int columns) {
    Matrix out(sz(rows * columns));
    for (int c = 0; c < columns; ++c) {
      double mean = 0.0;
      for (int r = 0; r < rows; ++r) mean += scores[at(r, c, rows)] / rows;
      for (int r = 0; r < rows; ++r) out[sz(r * columns + c)] = scores[at(r, c, rows)] - mean;
    }
    return out;
  };
  Matrix centred = centred_rows(st.x, st.rows, q);
  Matrix pool_centred = centred_rows(st.pool, st.pool_rows, p);
  Matrix v = covariance(st.x, st.rows, q, st.every(st.rows));
  Matrix s =
      st.with_pool ? covariance(st.pool, st.pool_rows, p, st.every(st.pool_rows)) : st.s_known;
  Matrix estimate = st.estimate();
  Matrix slots(intervals::values_per_resample(q) + 1, 0.0);
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i <= j; ++i) {
      slots[intervals::covariance_slot(i, j)] = estimate[at(i, j, q)];
      if (i < j) slots[intervals::correlation_slot(q, i, j)] = correlation_of(estimate, q, i, j);
    }
  }
  Catch caught;
  caught.wanted = resamples;
  intervals::BootstrapInput in{};
  in.q = q;
  in.p = p;
  in.order = st.order.data();
  in.centred = centred.data();
  in.rows = st.rows;
  in.pool_centred = st.with_pool ? pool_centred.data() : nullptr;
  in.pool_rows = st.with_pool ? st.pool_rows : 0;
  in.restricted = {v.data(), q};
  in.unrestricted = {s.data(), p};
  in.estimates = slots.data();
  in.resamples = resamples;
  in.seed = seed;
  in.threads = 1;
  in.extra = {1, 0, catch_matrix, &caught};
  std::size_t values = slots.size();
  Matrix se(values);
  Matrix lower(values);
  Matrix upper(values);
  Matrix work(intervals::bootstrap_doubles(q, p, st.rows, in.pool_rows, resamples, 1, in.extra));
  std::vector<int> ints(intervals::bootstrap_ints(q, resamples));
  int fallbacks = 0;
  int failed = intervals::bootstrap(in, BootstrapInterval::percentile, 0.9, se.data(), lower.data(),
                                    upper.data(), work.data(), ints.data(), &fallbacks);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(static_cast<int>(caught.matrices.size()), resamples);
  return caught.matrices;
}

// The public entry point's SEs and bounds of the corrected covariances and
// correlations.
struct Published {
  Matrix cov_se, cov_lower, cov_upper;
  Matrix cor_se, cor_lower, cor_upper;
  IntervalSummary summary;
  Status status = Status::ok;

  double se(int i, int j, bool correlation) const {
    return (correlation ? cor_se : cov_se)[at(i, j, Study::q)];
  }
  double lower(int i, int j, bool correlation) const {
    return (correlation ? cor_lower : cov_lower)[at(i, j, Study::q)];
  }
  double upper(int i, int j, bool correlation) const {
    return (correlation ? cor_upper : cov_upper)[at(i, j, Study::q)];
  }
};

Published published(const Study& st, int resamples, std::uint64_t seed, BootstrapInterval interval,
                    double level) {
  int q = Study::q;
  int p = Study::p;
  LawleyProblem pr;
  pr.q = q;
  pr.p = p;
  pr.restricted = nullptr;
  pr.ld_restricted = q;
  pr.unrestricted = st.with_pool ? nullptr : st.s_known.data();
  pr.ld_unrestricted = p;
  pr.selection = st.selection;
  IntervalRequest request;
  request.method = IntervalMethod::bootstrap;
  request.level = level;
  request.data = {st.rows, q, st.x.data(), st.rows};
  if (st.with_pool) request.pool = {st.pool_rows, p, st.pool.data(), st.pool_rows};
  request.resamples = resamples;
  request.seed = seed;
  request.threads = 1;
  request.interval = interval;
  Published o;
  for (Matrix* m : {&o.cov_se, &o.cov_lower, &o.cov_upper, &o.cor_se, &o.cor_lower, &o.cor_upper}) {
    m->assign(sz(q * q), -7.0);
  }
  IntervalResults r;
  r.covariances = {o.cov_se.data(), o.cov_lower.data(), o.cov_upper.data(), q};
  r.correlations = {o.cor_se.data(), o.cor_lower.data(), o.cor_upper.data(), q};
  WorkspaceSize need = lawley_intervals_workspace_size(q, p, request);
  std::vector<double> work(need.doubles);
  std::vector<int> ints(need.ints);
  o.status = lawley_intervals(pr, request, r, work, ints, &o.summary);
  return o;
}

// The values whose sampling error the bootstrap sees: every covariance
// and correlation, less the selection block when S is known.
struct Quantity {
  int i;
  int j;
  bool correlation;
};

std::vector<Quantity> varying_quantities(const Study& st) {
  std::vector<Quantity> out;
  auto selected = [&](int v) {
    return std::find(st.selection.begin(), st.selection.end(), v) != st.selection.end();
  };
  for (int j = 0; j < Study::q; ++j) {
    for (int i = 0; i <= j; ++i) {
      if (!st.with_pool && selected(i) && selected(j)) continue;
      out.push_back({i, j, false});
      if (i < j) out.push_back({i, j, true});
    }
  }
  return out;
}

std::string name(const Quantity& k, bool with_pool) {
  return std::string(k.correlation ? "correlation " : "covariance ") + std::to_string(k.i) + "," +
         std::to_string(k.j) + (with_pool ? ", with pool scores" : ", S known");
}

Matrix replicates_of(const std::vector<Matrix>& matrices, const Quantity& k) {
  Matrix t;
  for (const Matrix& c : matrices) t.push_back(value_of(c, Study::q, k.i, k.j, k.correlation));
  return t;
}

// ---- The standard errors and percentile bounds ------------------------------

// Few resamples, so that divisor B and divisor B - 1 differ by some
// percent: the SE is the resamples' standard deviation with B - 1, and the
// percentile bounds their quantiles. A selection variable's values with S
// known do not vary: SE 0, bounds the point.
TEST(BootstrapRecomputed, StandardErrorIsTheSpreadOfTheResamplesWithDivisorBMinusOne) {
  for (bool with_pool : {false, true}) {
    Study st(with_pool);
    for (int resamples : {10, 17}) {
      std::uint64_t seed = 4242;
      double level = 0.8;
      std::vector<Matrix> matrices = resampled_matrices(st, resamples, seed);
      ASSERT_EQ(static_cast<int>(matrices.size()), resamples);
      Published o = published(st, resamples, seed, BootstrapInterval::percentile, level);
      ASSERT_EQ(o.status, Status::ok);
      EXPECT_EQ(o.summary.failed_resamples, 0);
      for (const Quantity& k : varying_quantities(st)) {
        Matrix t = replicates_of(matrices, k);
        double se = standard_deviation(t);
        ASSERT_GT(se, 0.0) << name(k, with_pool);
        EXPECT_NEAR(o.se(k.i, k.j, k.correlation), se, 1e-9 * se)
            << name(k, with_pool) << ", B = " << resamples;
        EXPECT_NEAR(o.se(k.j, k.i, k.correlation), se, 1e-9 * se) << name(k, with_pool);
        std::sort(t.begin(), t.end());
        double lower = quantile(t, (1 - level) / 2);
        double upper = quantile(t, (1 + level) / 2);
        EXPECT_NEAR(o.lower(k.i, k.j, k.correlation), lower, 1e-9 * (1 + std::fabs(lower)))
            << name(k, with_pool) << ", B = " << resamples;
        EXPECT_NEAR(o.upper(k.i, k.j, k.correlation), upper, 1e-9 * (1 + std::fabs(upper)))
            << name(k, with_pool) << ", B = " << resamples;
      }
      if (!with_pool) {
        // Input 2 and 0 are selected: their covariance is S's off-diagonal.
        EXPECT_EQ(o.se(0, 2, false), 0.0);
        EXPECT_EQ(o.lower(0, 2, false), st.s_known[1]);
        EXPECT_EQ(o.upper(2, 0, false), st.s_known[1]);
        EXPECT_EQ(o.cov_se[at(2, 2, Study::q)], 0.0);
      }
    }
  }
}

// ---- The BCa bounds ---------------------------------------------------------

// The BCa bounds of one value (Efron and Tibshirani 1993, eq. 14.9-14.10):
// z0 = Phi^-1(#{t* < estimate} / B), the acceleration from the jackknife,
// alpha_1,2 = Phi(z0 + (z0 + z) / (1 - a (z0 + z))) at z = z_(alpha/2),
// z_(1 - alpha/2); the bounds the quantiles of the resamples there. The
// signs of z0 and a can be turned round to see that they matter.
struct Bca {
  double z0 = 0.0;
  double a = 0.0;
  double lower = 0.0;
  double upper = 0.0;
};

Bca bca_bounds(Matrix t, double estimate, double acceleration, double level, double z0_sign = 1.0,
               double a_sign = 1.0) {
  std::sort(t.begin(), t.end());
  Bca out;
  auto below = std::count_if(t.begin(), t.end(), [&](double x) { return x < estimate; });
  out.z0 = phi_inverse(double(below) / double(t.size()));
  out.a = acceleration;
  double z0 = z0_sign * out.z0;
  double a = a_sign * out.a;
  auto level_at = [&](double z) { return phi(z0 + (z0 + z) / (1 - a * (z0 + z))); };
  double z = phi_inverse((1 + level) / 2);
  out.lower = quantile(t, level_at(-z));
  out.upper = quantile(t, level_at(z));
  return out;
}

// The acceleration from the leave-one-out values of each sample:
// a = sum_k sum_i l_ki^3 / n_k^3 / (6 (sum_k sum_i l_ki^2 / n_k^2)^(3/2)),
// l_ki = (n_k - 1)(mean_k - value_ki); with one sample, Efron and
// Tibshirani's sum d^3 / (6 (sum d^2)^(3/2)).
double acceleration(const std::vector<Matrix>& samples) {
  double cubes = 0.0;
  double squares = 0.0;
  for (const Matrix& values : samples) {
    auto n = double(values.size());
    double mean = 0.0;
    for (double v : values) mean += v / n;
    for (double v : values) {
      double l = (n - 1) * (mean - v);
      cubes += l * l * l / (n * n * n);
      squares += l * l / (n * n);
    }
  }
  return squares > 0 ? cubes / (6 * std::pow(squares, 1.5)) : 0.0;
}

TEST(BootstrapRecomputed, BcaBoundsFollowTheBiasCorrectionAndTheAcceleration) {
  for (bool with_pool : {false, true}) {
    Study st(with_pool);
    int resamples = 40;
    std::uint64_t seed = 77;
    double level = 0.8;
    std::vector<Matrix> matrices = resampled_matrices(st, resamples, seed);
    ASSERT_EQ(static_cast<int>(matrices.size()), resamples);
    Published o = published(st, resamples, seed, BootstrapInterval::bca, level);
    ASSERT_EQ(o.status, Status::ok);
    EXPECT_EQ(o.summary.failed_resamples, 0);
    EXPECT_EQ(o.summary.percentile_fallbacks, 0);
    Matrix estimate = st.estimate();
    // The leave-one-out corrections of each sample.
    std::vector<Matrix> leave_out_rows;
    for (int r = 0; r < st.rows; ++r) {
      leave_out_rows.push_back(st.corrected(all_rows_but(st.rows, r), st.every(st.pool_rows)));
    }
    std::vector<Matrix> leave_out_pool;
    if (with_pool) {
      for (int r = 0; r < st.pool_rows; ++r) {
        leave_out_pool.push_back(st.corrected(st.every(st.rows), all_rows_but(st.pool_rows, r)));
      }
    }
    // The bounds move when z0's or a's sign is turned round: the study is
    // one in which each of them matters, for some value.
    double z0_moves = 0.0;
    double a_moves = 0.0;
    for (const Quantity& k : varying_quantities(st)) {
      Matrix t = replicates_of(matrices, k);
      std::vector<Matrix> jackknife(1);
      for (const Matrix& c : leave_out_rows) {
        jackknife[0].push_back(value_of(c, Study::q, k.i, k.j, k.correlation));
      }
      if (with_pool) {
        jackknife.emplace_back();
        for (const Matrix& c : leave_out_pool) {
          jackknife[1].push_back(value_of(c, Study::q, k.i, k.j, k.correlation));
        }
      }
      double theta = value_of(estimate, Study::q, k.i, k.j, k.correlation);
      double a = acceleration(jackknife);
      Bca expected = bca_bounds(t, theta, a, level);
      double scale = 1 + std::fabs(theta);
      EXPECT_NEAR(o.lower(k.i, k.j, k.correlation), expected.lower, 1e-9 * scale)
          << name(k, with_pool) << ": z0 " << expected.z0 << ", a " << a;
      EXPECT_NEAR(o.upper(k.i, k.j, k.correlation), expected.upper, 1e-9 * scale)
          << name(k, with_pool) << ": z0 " << expected.z0 << ", a " << a;
      EXPECT_NEAR(o.se(k.i, k.j, k.correlation), standard_deviation(t), 1e-9 * scale);
      Bca z0_turned = bca_bounds(t, theta, a, level, -1.0, 1.0);
      Bca a_turned = bca_bounds(t, theta, a, level, 1.0, -1.0);
      z0_moves = std::max({z0_moves, std::fabs(z0_turned.lower - expected.lower) / scale,
                           std::fabs(z0_turned.upper - expected.upper) / scale});
      a_moves = std::max({a_moves, std::fabs(a_turned.lower - expected.lower) / scale,
                          std::fabs(a_turned.upper - expected.upper) / scale});
    }
    EXPECT_GT(z0_moves, 1e-3) << (with_pool ? "with pool scores" : "S known");
    EXPECT_GT(a_moves, 1e-3) << (with_pool ? "with pool scores" : "S known");
  }
}

}  // namespace
}  // namespace tolbe
