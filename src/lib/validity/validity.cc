#include "validity/validity.h"

#include <cmath>
#include <limits>

#include "kernels/packed_cholesky.h"
#include "tolbe/validity.h"

// The derivatives, with A = C_XX, c = C_Xy, W = A^-1, b = W c:
//   db = W (dc - dA b),  dR^2 = (2 b'dc - b'dA b - R^2 dc_yy) / c_yy,
//   dR = dR^2 / (2R),   dbeta_m = sqrt(A_mm / c_yy) db_m + beta_m (dA_mm / A_mm - dc_yy / c_yy) /
//   2, dr_m = dc_m / sqrt(A_mm c_yy) - r_m (dA_mm / A_mm + dc_yy / c_yy) / 2.
// A coefficient of dA_ij is added for the ordered pair (i, j): the
// correction's gradient of the pair sums both orders, as a derivative by
// a distinct element of a symmetric matrix must.

namespace tolbe::validity {
namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::size_t sz(int n) {
  return static_cast<std::size_t>(n);
}

std::size_t packed(int n) {
  return sz(n) * sz(n + 1) / 2;
}

// The scratch: W and b of the full set, then of the base set.
struct Scratch {
  double* pack;
  double* w;
  double* b;
  double* w_base;
  double* b_base;
};

Scratch carve(int k, double* s) {
  Scratch out{};
  out.pack = s;
  out.w = s + packed(k);
  out.b = out.w + sz(k) * sz(k);
  out.w_base = out.b + sz(k);
  out.b_base = out.w_base + sz(k) * sz(k);
  return out;
}

// W = A^-1 and b = W c for the first n predictors; false when A is not
// positive definite (or not finite).
bool solve(const Job& job, int n, ConstView cov, double* pack, double* w, double* b) {
  int t = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) pack[t++] = cov(job.predictors[i], job.predictors[j]);
  }
  int info = 0;
  dppco(pack, n, info);
  if (info != 0) return false;
  dppdi(pack, n, 1);
  t = 0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i <= j; ++i) {
      double value = pack[t++];
      if (!std::isfinite(value)) return false;
      w[sz(i) + sz(j) * sz(n)] = w[sz(j) + sz(i) * sz(n)] = value;
    }
  }
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      sum += w[sz(i) + sz(j) * sz(n)] * cov(job.predictors[j], job.criterion);
    }
    b[i] = sum;
  }
  return true;
}

double r_squared(const Job& job, int n, ConstView cov, const double* b) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += cov(job.predictors[i], job.criterion) * b[i];
  return sum / cov(job.criterion, job.criterion);
}

// Adds alpha times the gradient of corrected covariance (u, v), variables
// by input index.
struct Adder {
  const intervals::Corrected& model;
  const int* position;
  intervals::Gradient& g;
  void operator()(int u, int v, double alpha) const {
    if (alpha == 0.0) return;
    intervals::add_covariance_gradient(model, position[u], position[v], alpha, g);
  }
};

// alpha times the gradient of R^2 of the first n predictors.
void add_r_squared(const Job& job, int n, const double* b, double value, double c_yy, double alpha,
                   const Adder& add) {
  int y = job.criterion;
  for (int i = 0; i < n; ++i) add(job.predictors[i], y, alpha * 2.0 * b[i] / c_yy);
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      add(job.predictors[i], job.predictors[j], -alpha * b[i] * b[j] / c_yy);
    }
  }
  add(y, y, -alpha * value / c_yy);
}

// alpha times the gradient of b_m.
void add_weight(const Job& job, int m, const double* w, const double* b, double alpha,
                const Adder& add) {
  int k = job.k;
  for (int i = 0; i < k; ++i) {
    double w_mi = w[sz(m) + sz(i) * sz(k)];
    add(job.predictors[i], job.criterion, alpha * w_mi);
    for (int j = 0; j < k; ++j) add(job.predictors[i], job.predictors[j], -alpha * w_mi * b[j]);
  }
}

}  // namespace

std::size_t scratch_doubles(int k) {
  return packed(k) + 2 * (sz(k) * sz(k) + sz(k));
}

bool values(const Job& job, ConstView cov, double* out, double* scratch) {
  int k = job.k;
  int y = job.criterion;
  Scratch s = carve(k, scratch);
  for (std::size_t v = 0; v < validity_values(sz(k)); ++v) out[v] = not_a_number;
  double c_yy = cov(y, y);
  if (!(c_yy > 0.0) || !solve(job, k, cov, s.pack, s.w, s.b)) return false;
  double root_reliability = std::sqrt(job.reliability);
  bool finite = true;
  for (int m = 0; m < k; ++m) {
    int x = job.predictors[m];
    double a_mm = cov(x, x);
    // As the corrected correlation matrix has it, to the last bit.
    double r = cov(x, y) / (std::sqrt(a_mm) * std::sqrt(c_yy));
    out[m] = s.b[m];
    out[k + m] = s.b[m] * std::sqrt(a_mm / c_yy);
    out[2 * k + m] = r;
    out[3 * k + m] = r / root_reliability;
  }
  std::size_t at = 4 * sz(k);
  double r2 = r_squared(job, k, cov, s.b);
  out[at] = r2;
  out[at + 1] = std::sqrt(r2);
  out[at + 2] = out[at + 1] / root_reliability;
  if (job.base > 0) {
    if (!solve(job, job.base, cov, s.pack, s.w_base, s.b_base)) return false;
    double r2_base = r_squared(job, job.base, cov, s.b_base);
    out[at + 3] = r2_base;
    out[at + 4] = r2 - r2_base;
    out[at + 5] = out[at + 1] - std::sqrt(r2_base);
  }
  std::size_t last = job.base > 0 ? at + 6 : at + 3;
  for (std::size_t v = 0; v < last; ++v) finite = finite && std::isfinite(out[v]);
  return finite;
}

void gradient(const Job& job, const intervals::Corrected& model, const int* position, int index,
              const double* estimates, const double* scratch, intervals::Gradient& g) {
  int k = job.k;
  int y = job.criterion;
  Scratch s = carve(k, const_cast<double*>(scratch));
  Adder add{model, position, g};
  // C in input order, read from the model's permuted copy.
  auto c = [&](int u, int v) { return model.c(position[u], position[v]); };
  double c_yy = c(y, y);
  double root_reliability = std::sqrt(job.reliability);
  std::size_t at = 4 * sz(k);
  auto i = sz(index);
  if (i < sz(k)) {
    add_weight(job, index, s.w, s.b, 1.0, add);
    return;
  }
  if (i < 2 * sz(k)) {
    int m = index - k;
    int x = job.predictors[m];
    double a_mm = c(x, x);
    double beta = estimates[i];
    add_weight(job, m, s.w, s.b, std::sqrt(a_mm / c_yy), add);
    add(x, x, 0.5 * beta / a_mm);
    add(y, y, -0.5 * beta / c_yy);
    return;
  }
  if (i < 4 * sz(k)) {
    bool operational = i >= 3 * sz(k);
    int m = index - (operational ? 3 : 2) * k;
    int x = job.predictors[m];
    double r = estimates[2 * sz(k) + sz(m)];
    double alpha = operational ? 1.0 / root_reliability : 1.0;
    add(x, y, alpha / std::sqrt(c(x, x) * c_yy));
    add(x, x, -alpha * 0.5 * r / c(x, x));
    add(y, y, -alpha * 0.5 * r / c_yy);
    return;
  }
  double r2 = estimates[at];
  double r = estimates[at + 1];
  double r2_base = estimates[at + 3];
  if (i == at) {
    add_r_squared(job, k, s.b, r2, c_yy, 1.0, add);
  } else if (i == at + 1 || i == at + 2) {
    double alpha = 0.5 / r * (i == at + 2 ? 1.0 / root_reliability : 1.0);
    add_r_squared(job, k, s.b, r2, c_yy, alpha, add);
  } else if (job.base > 0 && i == at + 3) {
    add_r_squared(job, job.base, s.b_base, r2_base, c_yy, 1.0, add);
  } else if (job.base > 0 && i == at + 4) {
    add_r_squared(job, k, s.b, r2, c_yy, 1.0, add);
    add_r_squared(job, job.base, s.b_base, r2_base, c_yy, -1.0, add);
  } else if (job.base > 0 && i == at + 5) {
    add_r_squared(job, k, s.b, r2, c_yy, 0.5 / r, add);
    add_r_squared(job, job.base, s.b_base, r2_base, c_yy, -0.5 / std::sqrt(r2_base), add);
  }
}

IntervalKind interval_kind(const Job& job, int index) {
  auto i = sz(index);
  auto k = sz(job.k);
  if (i < 2 * k) return {Kind::wald, -1, false};
  if (i < 3 * k) return {Kind::fisher, -1, false};
  if (i < 4 * k) return {Kind::fisher_of, index - job.k, false};
  if (i == 4 * k + 1) return {Kind::fisher, -1, true};
  if (i == 4 * k + 2) return {Kind::fisher_of, index - 1, true};
  return {Kind::root_fisher, -1, true};
}

int first_bounded(const Job& job) {
  return 4 * job.k;
}

}  // namespace tolbe::validity

namespace tolbe {

double unrestricted_reliability(double restricted_reliability, double restricted_variance,
                                double corrected_variance) {
  if (!std::isfinite(restricted_reliability) || !(restricted_variance > 0.0) ||
      !(corrected_variance > 0.0) || !std::isfinite(restricted_variance) ||
      !std::isfinite(corrected_variance)) {
    return std::numeric_limits<double>::quiet_NaN();
  }
  return 1.0 - (1.0 - restricted_reliability) * restricted_variance / corrected_variance;
}

void operational_correlations(int q, const double* corr, int ld_corr,
                              const double* criterion_reliabilities, double* out, int ld_out) {
  ConstView r{corr, ld_corr};
  View o{out, ld_out};
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      double value = r(i, j);
      if (i != j) value /= std::sqrt(criterion_reliabilities[i] * criterion_reliabilities[j]);
      o(i, j) = value;
    }
  }
}

}  // namespace tolbe

namespace tolbe {

int default_predictors(int q, int criterion, std::span<const int> criteria, std::span<int> out) {
  if (q < 0 || criterion < 0 || criterion >= q || out.size() < static_cast<std::size_t>(q)) {
    return -1;
  }
  for (int c : criteria) {
    if (c < 0 || c >= q) return -1;
  }
  int count = 0;
  for (int v = 0; v < q; ++v) {
    if (v == criterion) continue;
    bool is_criterion = false;
    for (int c : criteria) is_criterion = is_criterion || c == v;
    if (!is_criterion) out[static_cast<std::size_t>(count++)] = v;
  }
  return count;
}

}  // namespace tolbe
