#include <cmath>
#include <limits>

#include "intervals/intervals.h"
#include "kernels/elementary.h"

// The Jacobian of the correction, in the permuted order with B = W V12,
// T = S W, F = W C12 and D = F - B (W = V11 inverse, dW = -W dV11 W):
//   dC11 = dS
//   dC12 = dS B + T (dV12 - dV11 B)
//   dC22 = dV22 - B' dV11 B - B' dV11 D - D' dV11 B + dV12' D + D' dV12 + B' dS B.
// An element's derivative with respect to a distinct element (k, l) of a
// symmetric matrix sums the coefficients of (k, l) and (l, k): hence the
// loops over ordered pairs below.

namespace tolbe::intervals {
namespace {

std::size_t at(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

}  // namespace

void Gradient::add_v(int k, int l, double x) {
  if (k > l) std::swap(k, l);
  std::size_t e = at(k, l, q);
  if (v_marked[e] == 0) {
    v_marked[e] = 1;
    v_pairs[v_count++] = static_cast<int>(e);
  }
  of_v[e] += x;
}

void Gradient::add_s(int k, int l, double x) {
  if (k > l) std::swap(k, l);
  std::size_t e = at(k, l, p);
  if (s_marked[e] == 0) {
    s_marked[e] = 1;
    s_pairs[s_count++] = static_cast<int>(e);
  }
  of_s[e] += x;
}

void Gradient::clear() {
  for (int t = 0; t < v_count; ++t) {
    auto e = static_cast<std::size_t>(v_pairs[t]);
    of_v[e] = 0.0;
    v_marked[e] = 0;
  }
  for (int t = 0; t < s_count; ++t) {
    auto e = static_cast<std::size_t>(s_pairs[t]);
    of_s[e] = 0.0;
    s_marked[e] = 0;
  }
  v_count = 0;
  s_count = 0;
}

void add_covariance_gradient(const Corrected& m, int x, int y, double alpha, Gradient& g) {
  if (x > y) std::swap(x, y);
  int p = m.p;
  const ConstView& b = m.weights;
  const ConstView& t = m.scaled_inverse;
  const ConstView& f = m.projected;
  if (y < p) {
    g.add_s(x, y, alpha);
    return;
  }
  if (x < p) {
    int a = x;
    int col = y - p;
    for (int l = 0; l < p; ++l) g.add_s(a, l, alpha * b(l, col));
    for (int k = 0; k < p; ++k) g.add_v(k, y, alpha * t(a, k));
    for (int l = 0; l < p; ++l) {
      for (int k = 0; k < p; ++k) g.add_v(k, l, -alpha * t(a, k) * b(l, col));
    }
    return;
  }
  int a = x - p;
  int col = y - p;
  g.add_v(x, y, alpha);
  for (int k = 0; k < p; ++k) {
    g.add_v(k, x, alpha * (f(k, col) - b(k, col)));
    g.add_v(k, y, alpha * (f(k, a) - b(k, a)));
  }
  for (int l = 0; l < p; ++l) {
    for (int k = 0; k < p; ++k) {
      double d_ka = f(k, a) - b(k, a);
      g.add_v(k, l, -alpha * (b(k, a) * f(l, col) + d_ka * b(l, col)));
      g.add_s(k, l, alpha * b(k, a) * b(l, col));
    }
  }
}

void add_correlation_gradient(const Corrected& m, int x, int y, Gradient& g) {
  double cxx = m.c(x, x);
  double cyy = m.c(y, y);
  double root = std::sqrt(cxx) * std::sqrt(cyy);
  double r = m.c(x, y) / root;
  add_covariance_gradient(m, x, y, 1.0 / root, g);
  add_covariance_gradient(m, x, x, -0.5 * r / cxx, g);
  add_covariance_gradient(m, y, y, -0.5 * r / cyy, g);
}

double gradient_variance(const Gradient& g, bool v_side, const Sampling& sampling) {
  if (sampling.known) return 0.0;
  int ld = v_side ? g.q : g.p;
  const double* coef = v_side ? g.of_v : g.of_s;
  const int* pairs = v_side ? g.v_pairs : g.s_pairs;
  int count = v_side ? g.v_count : g.s_count;
  auto split = [ld](int e, int& k, int& l) {
    k = e % ld;
    l = e / ld;
  };
  if (!sampling.raw) {
    // var(sum g_kl v_kl) with cov(v_kl, v_mn) = (s_km s_ln + s_kn s_lm) / (n - 1).
    const ConstView& s = sampling.sigma;
    double sum = 0.0;
    for (int t = 0; t < count; ++t) {
      int k;
      int l;
      split(pairs[t], k, l);
      double gt = coef[pairs[t]];
      double inner = 0.0;
      for (int u = 0; u < count; ++u) {
        int mm;
        int nn;
        split(pairs[u], mm, nn);
        inner += coef[pairs[u]] * (s(k, mm) * s(l, nn) + s(k, nn) * s(l, mm));
      }
      sum += gt * inner;
    }
    return sum / static_cast<double>(sampling.n - 1);
  }
  // Browne's estimate: the variance over the rows of g' vech((x - m)(x - m)'),
  // divided by n.
  int n = sampling.n;
  double* u = sampling.projection;
  for (int i = 0; i < n; ++i) u[i] = 0.0;
  auto column = [&sampling](int position) {
    int c = sampling.order == nullptr ? position : sampling.order[position];
    return sampling.centred + at(0, c, sampling.ld_centred);
  };
  for (int t = 0; t < count; ++t) {
    int k;
    int l;
    split(pairs[t], k, l);
    double gt = coef[pairs[t]];
    const double* zk = column(k);
    const double* zl = column(l);
    for (int i = 0; i < n; ++i) u[i] += gt * zk[i] * zl[i];
  }
  double mean = 0.0;
  for (int i = 0; i < n; ++i) mean += u[i];
  mean /= n;
  double squares = 0.0;
  for (int i = 0; i < n; ++i) squares += (u[i] - mean) * (u[i] - mean);
  return squares / n / n;
}

double normal_cdf(double x) {
  return 0.5 * elementary::erfc(-x / std::sqrt(2.0));
}

double interpolated_quantile(const double* sorted, int count, double alpha) {
  double rank = (count + 1) * alpha;
  if (!(rank >= 1.0)) return sorted[0];
  if (rank >= count) return sorted[count - 1];
  auto k = static_cast<int>(std::floor(rank));
  if (static_cast<double>(k) == rank) return sorted[k - 1];
  double at_k = normal_quantile(static_cast<double>(k) / (count + 1));
  double at_next = normal_quantile(static_cast<double>(k + 1) / (count + 1));
  double share = (normal_quantile(alpha) - at_k) / (at_next - at_k);
  return sorted[k - 1] + share * (sorted[k] - sorted[k - 1]);
}

}  // namespace tolbe::intervals

namespace tolbe {

double normal_quantile(double u) {
  if (std::isnan(u) || u < 0.0 || u > 1.0) return std::numeric_limits<double>::quiet_NaN();
  if (u == 0.0) return -std::numeric_limits<double>::infinity();
  if (u == 1.0) return std::numeric_limits<double>::infinity();
  // 1 - u is exact for u >= 0.5: the upper half from the lower, where the
  // distribution function keeps its relative accuracy.
  if (u > 0.5) return -normal_quantile(1.0 - u);
  // A rational start (Abramowitz and Stegun 26.2.23, |error| < 4.5e-4) on
  // the smaller tail, then Halley steps on the distribution function, each
  // of which roughly triples the correct digits.
  double tail = u < 0.5 ? u : 1.0 - u;
  double t = std::sqrt(-2.0 * elementary::log(tail));
  double x = t - (2.515517 + 0.802853 * t + 0.010328 * t * t) /
                     (1.0 + 1.432788 * t + 0.189269 * t * t + 0.001308 * t * t * t);
  if (u < 0.5) x = -x;
  for (int step = 0; step < 3; ++step) {
    double error = intervals::normal_cdf(x) - u;
    double density = elementary::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI);
    if (density == 0.0) break;
    double newton = error / density;
    x -= newton / (1.0 + 0.5 * x * newton);
  }
  return x;
}

}  // namespace tolbe
