#include "api/diagnostics.h"

#include <cmath>

namespace tolbe::api {
namespace {

struct Asymmetry {
  double largest = 0.0;
  Place place;
};

// max |a(i,j) - a(j,i)| / sqrt(|a(i,i) a(j,j)|) over i < j with both
// finite (the absolute difference where a diagonal element is 0). `root`
// receives
// sqrt(|a(i, i)|) for i < n.
Asymmetry asymmetry(int n, ConstView a, double* root) {
  for (int i = 0; i < n; ++i) root[i] = std::sqrt(std::fabs(a(i, i)));
  Asymmetry found;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      // A value that is not finite is one the correction does not read (it
      // checks those it reads), counted apart; it must not hide the rest.
      if (!std::isfinite(a(i, j)) || !std::isfinite(a(j, i))) continue;
      double difference = std::fabs(a(i, j) - a(j, i));
      double scale = root[i] * root[j];
      double relative = scale > 0.0 ? difference / scale : difference;
      if (relative > found.largest) found = {relative, {i, j}};
    }
  }
  return found;
}

// Whether a Cholesky factorization of the upper triangle of `a` runs to the
// end with positive pivots, in the packed storage `packed`. Only the answer
// is wanted, so the dot products are plain loops rather than BLAS calls, in
// whatever order runs fastest.
template <typename Matrix>
bool positive_definite(int n, const Matrix& a, double* packed) {
  std::size_t column = 0;  // start of column j in the packed triangle
  for (int j = 0; j < n; ++j, column += static_cast<std::size_t>(j)) {
    double* r_j = packed + column;
    double diagonal = a(j, j);
    std::size_t column_k = 0;
    for (int k = 0; k < j; ++k, column_k += static_cast<std::size_t>(k)) {
      const double* r_k = packed + column_k;
      // Four partial sums break the chain of dependent additions.
      double sums[4] = {0.0, 0.0, 0.0, 0.0};
      int i = 0;
      for (; i + 4 <= k; i += 4) {
        for (int u = 0; u < 4; ++u) sums[u] += r_k[i + u] * r_j[i + u];
      }
      for (; i < k; ++i) sums[0] += r_k[i] * r_j[i];
      double t = (a(k, j) - ((sums[0] + sums[1]) + (sums[2] + sums[3]))) / r_k[k];
      r_j[k] = t;
      diagonal -= t * t;
    }
    if (!(diagonal > 0.0)) return false;
    r_j[j] = std::sqrt(diagonal);
  }
  return true;
}

// V as the correction reads it, in the permuted order: every element from
// the triangle that is read, so that a value never read cannot make it look
// indefinite.
struct ReadInPermutedOrder {
  ConstView v;
  const Order& o;
  double operator()(int i, int j) const { return element_read(v, o, o.order[i], o.order[j]); }
};

struct Counter {
  int& count;
  Place& first;
  void add(int row, int column) {
    if (count++ == 0) first = {row, column};
  }
};

// |r| > 1 or NaN above the diagonal.
template <typename Matrix>
void count_out_of_range(int q, const Matrix& r, int& count, Place& first, double& first_value) {
  Counter counter{count, first};
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      if (!(std::fabs(r(i, j)) <= 1.0)) {
        if (count == 0) first_value = r(i, j);
        counter.add(i, j);
      }
    }
  }
}

bool unit_diagonal(int n, ConstView a) {
  if (n == 0) return false;
  for (int i = 0; i < n; ++i) {
    if (!(std::fabs(a(i, i) - 1.0) <= 1e-9)) return false;
  }
  return true;
}

// What the input alone shows.
void diagnose_input(const LawleyProblem& pr, const Order& o, const Carved& c, Diagnostics& d) {
  int q = pr.q;
  int p = pr.p;
  d.q = q;
  d.p = p;
  ConstView v{pr.restricted, pr.ld_restricted};
  ConstView s{pr.unrestricted, pr.ld_unrestricted};
  Asymmetry unrestricted = asymmetry(p, s, c.deviation);
  d.unrestricted_asymmetry = unrestricted.largest;
  if (unrestricted.place.row >= 0) {  // rows of S are selection variables
    d.unrestricted_asymmetry_place = {o.order[unrestricted.place.row],
                                      o.order[unrestricted.place.column]};
  }
  Asymmetry restricted = asymmetry(q, v, c.deviation);  // leaves V's roots
  d.restricted_asymmetry = restricted.largest;
  d.restricted_asymmetry_place = restricted.place;
  d.restricted_triangle = triangle_of(q, v);
  // A triangle is harmless when the correction reads nothing of its empty
  // side: an upper one with at most one other variable, say.
  if (d.restricted_triangle != Triangle::none) {
    bool upper_empty = d.restricted_triangle == Triangle::lower;
    bool empty_side_read = false;
    for (int j = 0; j < q && !empty_side_read; ++j) {
      for (int i = 0; i < j && !empty_side_read; ++i) {
        empty_side_read = upper_empty ? is_read(o, p, i, j) : is_read(o, p, j, i);
      }
    }
    if (!empty_side_read) d.restricted_triangle = Triangle::none;
  }
  d.unrestricted_triangle = triangle_of(p, s);
  d.restricted_positive_definite = positive_definite(q, ReadInPermutedOrder{v, o}, c.packed_check);
  d.unrestricted_positive_definite = positive_definite(p, s, c.packed_check);
  d.restricted_unit_diagonal = unit_diagonal(q, v);
  d.unrestricted_unit_diagonal = unit_diagonal(p, s);
  for (int i = 0; i < q; ++i) {
    if (!(v(i, i) > 0.0) && d.restricted_nonpositive_variances++ == 0) {
      d.first_restricted_nonpositive_variance = i;
    }
  }
  for (int k = 0; k < p; ++k) {
    int variable = o.order[k];
    double unrestricted_variance = s(k, k);
    if (!(unrestricted_variance > 0.0)) {
      if (d.unrestricted_nonpositive_variances++ == 0) {
        d.first_unrestricted_nonpositive_variance = variable;
      }
      continue;
    }
    double restricted_variance = v(variable, variable);
    if (!(restricted_variance > 0.0)) continue;
    double ratio = unrestricted_variance / restricted_variance;
    if (ratio > variance_ratio_limit || ratio < 1.0 / variance_ratio_limit) {
      if (d.implausible_variance_ratios++ == 0) {
        d.first_implausible_variance_ratio = variable;
        d.first_variance_ratio = ratio;
      }
    } else if (unrestricted_variance < restricted_variance && d.grown_variances++ == 0) {
      d.first_grown_variance = variable;
      d.first_grown_unrestricted = unrestricted_variance;
      d.first_grown_restricted = restricted_variance;
    }
  }
  Counter unread{d.unread_not_finite, d.first_unread_not_finite};
  for (int b = 0; b < q; ++b) {
    for (int a = 0; a < q; ++a) {
      if (!is_read(o, p, a, b) && !std::isfinite(v(a, b))) unread.add(a, b);
    }
  }
  for (std::size_t k = 0; k < pr.reliabilities.size(); ++k) {
    double r = pr.reliabilities[k];
    if (!(r > 0.0 && r <= 1.0) && d.reliabilities_out_of_range++ == 0) {
      d.first_reliability_out_of_range = o.order[p + static_cast<int>(k)];
    }
  }
}

}  // namespace

double Correlation::operator()(int i, int j) const {
  if (corr.data != nullptr) return corr(i, j);
  return cov(i, j) / (std::sqrt(cov(i, i)) * std::sqrt(cov(j, j)));
}

bool sign_changed(double element, double root_i, double root_j, double corrected) {
  double restricted = element / (root_i * root_j);
  return restricted * corrected < 0.0;
}

void diagnose(const LawleyProblem& pr, const LawleyResults& res, const Order& o, const Carved& c,
              const Correlation& correlations, Diagnostics& d) {
  diagnose_input(pr, o, c, d);
  if (d.status != Status::ok) return;
  int q = pr.q;
  int p = pr.p;
  ConstView cov{res.covariances, res.ld_covariances};
  Counter variances{d.nonpositive_variances, d.first_nonpositive_variance};
  for (int i = 0; i < q; ++i) {
    if (!(cov(i, i) > 0.0)) variances.add(i, i);
  }
  count_out_of_range(q, correlations, d.correlations_out_of_range, d.first_correlation_out_of_range,
                     d.first_correlation_out_of_range_value);
  if (!pr.reliabilities.empty() && res.disattenuated != nullptr) {
    count_out_of_range(q, ConstView{res.disattenuated, res.ld_disattenuated},
                       d.disattenuated_out_of_range, d.first_disattenuated_out_of_range,
                       d.first_disattenuated_out_of_range_value);
  }
  // c.deviation holds sqrt(|v(i, i)|), left there by the asymmetry of V.
  ConstView v{pr.restricted, pr.ld_restricted};
  Counter signs{d.sign_changes, d.first_sign_change};
  Counter selected{d.selection_sign_changes, d.first_selection_sign_change};
  int others = 0;
  Counter other{others, d.first_other_sign_change};
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      if (!sign_changed(element_read(v, o, i, j), c.deviation[i], c.deviation[j],
                        correlations(i, j))) {
        continue;
      }
      signs.add(i, j);
      if (o.position[i] < p && o.position[j] < p) {
        selected.add(i, j);
      } else {
        other.add(i, j);
      }
    }
  }
}

}  // namespace tolbe::api
