#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "correction/lawley.h"
#include "correction/sizes.h"
#include "tolbe/lawley.h"

namespace tolbe {
namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The workspace, carved in this order: the blocks of the products, the
// reliability of every variable, square roots of a diagonal, and a packed
// triangle for the checks of definiteness.
std::size_t workspace_doubles(int q, int p) {
  auto n = static_cast<std::size_t>(q);
  return saturating_plus(saturating_plus(lawley_blocks_size(p, q), saturating_times(2, n)),
                         packed_size(n));
}

struct Carved {
  LawleyBlocks blocks;
  double* reliability_of;  // q
  double* deviation;       // q, square roots of a diagonal
  double* packed_check;    // q(q+1)/2
};

Carved carve(int q, int p, double* w) {
  Carved c{};
  c.blocks = carve_lawley_blocks(p, q, w);
  w += lawley_blocks_size(p, q);
  c.reliability_of = w;
  c.deviation = w + q;
  c.packed_check = w + 2 * static_cast<std::size_t>(q);
  return c;
}

struct Invalid {
  Argument argument;
  const char* reason;
};

// The permuted order (input index of each position) and its inverse.
struct Order {
  int* order;     // q
  int* position;  // q
};

bool finite(double x) {
  return std::isfinite(x);
}

// Checks what lawley() and lawley_means() share, and fills the order.
Invalid check_problem(const LawleyProblem& pr, std::span<double> workspace,
                      std::span<int> int_workspace, Order& out) {
  if (pr.q < 0) return {Argument::q, "q is negative"};
  if (pr.p < 0) return {Argument::p, "p is negative"};
  if (pr.p > pr.q) return {Argument::p, "p is larger than q"};
  int q = pr.q;
  int p = pr.p;
  if (q > 0 && pr.restricted == nullptr) return {Argument::restricted, "the matrix is null"};
  if (pr.ld_restricted < at_least_one(q)) {
    return {Argument::restricted, "the leading dimension is smaller than q"};
  }
  if (p > 0 && pr.unrestricted == nullptr) return {Argument::unrestricted, "the matrix is null"};
  if (pr.ld_unrestricted < at_least_one(p)) {
    return {Argument::unrestricted, "the leading dimension is smaller than p"};
  }
  WorkspaceSize need = lawley_workspace_size(q, p);
  if (workspace.size() < need.doubles || workspace.data() == nullptr) {
    return {Argument::workspace, "the workspace of doubles is too small"};
  }
  if (int_workspace.size() < need.ints || int_workspace.data() == nullptr) {
    return {Argument::workspace, "the workspace of ints is too small"};
  }
  out.order = int_workspace.data();
  out.position = int_workspace.data() + q;
  if (!pr.selection.empty() && pr.selection.size() != static_cast<std::size_t>(p)) {
    return {Argument::selection, "the number of selection indices is not p"};
  }
  for (int v = 0; v < q; ++v) out.position[v] = -1;
  for (int k = 0; k < p; ++k) {
    int v = pr.selection.empty() ? k : pr.selection[static_cast<std::size_t>(k)];
    if (v < 0 || v >= q) return {Argument::selection, "an index is outside 0..q-1"};
    if (out.position[v] >= 0) return {Argument::selection, "an index is repeated"};
    out.position[v] = k;
    out.order[k] = v;
  }
  int next = p;
  for (int v = 0; v < q; ++v) {
    if (out.position[v] < 0) {
      out.position[v] = next;
      out.order[next++] = v;
    }
  }
  if (!pr.reliabilities.empty() && pr.reliabilities.size() != static_cast<std::size_t>(q - p)) {
    return {Argument::reliabilities, "the number of reliabilities is not q - p"};
  }
  ConstView v{pr.restricted, pr.ld_restricted};
  for (int b = 0; b < q; ++b) {
    for (int a = 0; a < q; ++a) {
      // The upper triangle of V11, V12 and the whole of V22; never V21.
      bool read = out.position[a] <= out.position[b] || out.position[b] >= p;
      if (read && !finite(v(a, b))) return {Argument::restricted, "a value read is not finite"};
    }
  }
  ConstView s{pr.unrestricted, pr.ld_unrestricted};
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) {
      if (!finite(s(i, j))) return {Argument::unrestricted, "a value is not finite"};
    }
  }
  for (double r : pr.reliabilities) {
    if (!finite(r)) return {Argument::reliabilities, "a value is not finite"};
  }
  return {Argument::none, ""};
}

Invalid check_results(const LawleyProblem& pr, const LawleyResults& r) {
  int need = at_least_one(pr.q);
  if (pr.q > 0 && r.covariances == nullptr) return {Argument::results, "covariances is null"};
  if (r.ld_covariances < need) {
    return {Argument::results, "the leading dimension of covariances is smaller than q"};
  }
  if (r.correlations != nullptr && r.ld_correlations < need) {
    return {Argument::results, "the leading dimension of correlations is smaller than q"};
  }
  if (r.disattenuated != nullptr && r.ld_disattenuated < need) {
    return {Argument::results, "the leading dimension of disattenuated is smaller than q"};
  }
  return {Argument::none, ""};
}

Status report_invalid(const Invalid& invalid, Diagnostics* d) {
  if (d != nullptr) {
    *d = Diagnostics{};
    d->status = Status::invalid_argument;
    d->argument = invalid.argument;
    d->reason = invalid.reason;
  }
  return Status::invalid_argument;
}

void fill(int q, View m, double value) {
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) m(i, j) = value;
  }
}

// `root` receives sqrt(|a(i, i)|) for i < n.
double asymmetry(int n, ConstView a, double* root) {
  for (int i = 0; i < n; ++i) root[i] = std::sqrt(std::fabs(a(i, i)));
  double largest = 0.0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double difference = std::fabs(a(i, j) - a(j, i));
      double scale = root[i] * root[j];
      double relative = scale > 0.0 ? difference / scale : difference;
      if (std::isnan(relative)) return relative;  // a NaN anywhere must show
      if (relative > largest) largest = relative;
    }
  }
  return largest;
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

// The element the correction reads for the pair {a, b}: the one whose row
// comes first in the permuted order.
double element_read(ConstView v, const Order& o, int a, int b) {
  return o.position[a] < o.position[b] ? v(a, b) : v(b, a);
}

// V as the correction reads it, in the permuted order: every element from
// the triangle that is read, so that a value never read cannot make it look
// indefinite.
struct ReadInPermutedOrder {
  ConstView v;
  const Order& o;
  double operator()(int i, int j) const { return element_read(v, o, o.order[i], o.order[j]); }
};

// The corrected correlation of (i, j): from the result when there is one,
// else from the covariances by the same expression.
struct Correlation {
  ConstView corr;
  ConstView cov;
  double operator()(int i, int j) const {
    if (corr.data != nullptr) return corr(i, j);
    return cov(i, j) / (std::sqrt(cov(i, i)) * std::sqrt(cov(j, j)));
  }
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
void count_out_of_range(int q, const Matrix& r, int& count, Place& first) {
  Counter counter{count, first};
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      if (!(std::fabs(r(i, j)) <= 1.0)) counter.add(i, j);
    }
  }
}

// The one definition of a sign change, for the diagnostics and the list
// alike: the restricted correlation is the element read over
// sqrt(|v_ii|) sqrt(|v_jj|), so that a negative restricted variance leaves
// its sign readable rather than making it NaN.
bool sign_changed(double element, double root_i, double root_j, double corrected) {
  double restricted = element / (root_i * root_j);
  return restricted * corrected < 0.0;
}

// Calls `found(row, column)` for every pair whose restricted and corrected
// correlations have opposite signs. `root` holds sqrt(|v(i, i)|).
template <typename Found>
void for_each_sign_change(int q, ConstView v, const Order& o, const double* root,
                          const Correlation& corrected, Found found) {
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < j; ++i) {
      if (sign_changed(element_read(v, o, i, j), root[i], root[j], corrected(i, j))) found(i, j);
    }
  }
}

void diagnose(const LawleyProblem& pr, const LawleyResults& res, const Order& o, const Carved& c,
              const Correlation& correlations, Diagnostics& d) {
  int q = pr.q;
  int p = pr.p;
  ConstView v{pr.restricted, pr.ld_restricted};
  ConstView s{pr.unrestricted, pr.ld_unrestricted};
  d.unrestricted_asymmetry = asymmetry(p, s, c.deviation);
  d.restricted_asymmetry = asymmetry(q, v, c.deviation);  // leaves V's roots
  d.restricted_positive_definite = positive_definite(q, ReadInPermutedOrder{v, o}, c.packed_check);
  d.unrestricted_positive_definite = positive_definite(p, s, c.packed_check);
  for (std::size_t k = 0; k < pr.reliabilities.size(); ++k) {
    double r = pr.reliabilities[k];
    if (!(r > 0.0 && r <= 1.0) && d.reliabilities_out_of_range++ == 0) {
      d.first_reliability_out_of_range = o.order[p + static_cast<int>(k)];
    }
  }
  if (d.status != Status::ok) return;
  ConstView cov{res.covariances, res.ld_covariances};
  Counter variances{d.nonpositive_variances, d.first_nonpositive_variance};
  for (int i = 0; i < q; ++i) {
    if (!(cov(i, i) > 0.0)) variances.add(i, i);
  }
  count_out_of_range(q, correlations, d.correlations_out_of_range,
                     d.first_correlation_out_of_range);
  if (!pr.reliabilities.empty() && res.disattenuated != nullptr) {
    count_out_of_range(q, ConstView{res.disattenuated, res.ld_disattenuated},
                       d.disattenuated_out_of_range, d.first_disattenuated_out_of_range);
  }
  Counter signs{d.sign_changes, d.first_sign_change};
  for_each_sign_change(q, v, o, c.deviation, correlations, [&](int i, int j) { signs.add(i, j); });
}

}  // namespace

WorkspaceSize lawley_workspace_size(int q, int p) {
  if (q < 0 || p < 0 || p > q) return {};
  return {workspace_doubles(q, p), saturating_times(2, static_cast<std::size_t>(q))};
}

Status lawley(const LawleyProblem& problem, const LawleyResults& results,
              std::span<double> workspace, std::span<int> int_workspace, Diagnostics* diagnostics) {
  Order o{};
  Invalid invalid = check_problem(problem, workspace, int_workspace, o);
  if (invalid.argument == Argument::none) invalid = check_results(problem, results);
  if (invalid.argument != Argument::none) return report_invalid(invalid, diagnostics);

  int q = problem.q;
  int p = problem.p;
  Carved c = carve(q, p, workspace.data());
  ConstView restricted{problem.restricted, problem.ld_restricted};
  ConstView unrestricted{problem.unrestricted, problem.ld_unrestricted};
  View cov{results.covariances, results.ld_covariances};
  bool with_reliabilities = !problem.reliabilities.empty();
  View corr{results.correlations, results.ld_correlations};
  View dis{results.disattenuated, results.ld_disattenuated};

  Status status = Status::ok;
  int info = lawley_products(p, q, restricted, unrestricted, o.order, c.blocks);
  if (info != 0) {
    status = Status::not_positive_definite;
    fill(q, cov, not_a_number);
    if (corr.data != nullptr) fill(q, corr, not_a_number);
    if (with_reliabilities && dis.data != nullptr) fill(q, dis, not_a_number);
  } else {
    lawley_assemble(p, q, unrestricted, c.blocks, o.order, cov);
    // The correlations land in `correlations`, or else in `disattenuated`,
    // or else (for the diagnostics only) in the workspace's first blocks.
    View r = corr;
    if (r.data == nullptr && with_reliabilities && dis.data != nullptr) r = dis;
    if (r.data != nullptr) cov_to_corr(q, cov, r);
    if (with_reliabilities && dis.data != nullptr) {
      if (r.data != dis.data) {
        for (int j = 0; j < q; ++j) {
          for (int i = 0; i < q; ++i) dis(i, j) = r(i, j);
        }
      }
      for (int k = 0; k < q; ++k) {
        c.reliability_of[o.order[k]] =
            k < p ? 1.0 : problem.reliabilities[static_cast<std::size_t>(k - p)];
      }
      disattenuate(q, c.reliability_of, dis);
    }
  }
  if (diagnostics != nullptr) {
    Diagnostics& d = *diagnostics;
    d = Diagnostics{};
    d.status = status;
    d.leading_minor = info;
    diagnose(problem, results, o, c, Correlation{corr, cov}, d);
  }
  return status;
}

LawleyCorrection lawley(const LawleyProblem& problem) {
  LawleyCorrection out;
  WorkspaceSize need = lawley_workspace_size(problem.q, problem.p);
  std::vector<double> workspace(need.doubles == SIZE_MAX ? 0 : need.doubles);
  std::vector<int> int_workspace(need.ints == SIZE_MAX ? 0 : need.ints);
  bool sizes_valid = problem.q >= 0 && problem.p >= 0 && problem.p <= problem.q;
  LawleyResults results;
  if (sizes_valid) {
    auto q = static_cast<std::size_t>(problem.q);
    out.q = problem.q;
    out.covariances.assign(q * q, 0.0);
    out.correlations.assign(q * q, 0.0);
    if (!problem.reliabilities.empty()) out.disattenuated.assign(q * q, 0.0);
    int ld = at_least_one(problem.q);
    results = {out.covariances.data(),
               ld,
               out.correlations.data(),
               ld,
               out.disattenuated.empty() ? nullptr : out.disattenuated.data(),
               ld};
  }
  out.status = lawley(problem, results, workspace, int_workspace, &out.diagnostics);
  if (out.status == Status::invalid_argument) {
    out.covariances.clear();
    out.correlations.clear();
    out.disattenuated.clear();
  }
  return out;
}

int lawley_sign_changes(const LawleyProblem& problem, const double* correlations,
                        int ld_correlations, int* rows, int* columns, int capacity) {
  int q = problem.q;
  if (q < 0 || problem.p < 0 || problem.p > q || correlations == nullptr ||
      problem.restricted == nullptr || ld_correlations < at_least_one(q) ||
      problem.ld_restricted < at_least_one(q)) {
    return 0;
  }
  // The permuted position of every variable, without workspace: a selection
  // variable's rank in `selection`, the others after them in index order.
  auto position = [&](int v) {
    int selected_before = 0;
    for (int k = 0; k < problem.p; ++k) {
      int selected = problem.selection.empty() ? k : problem.selection[static_cast<std::size_t>(k)];
      if (selected == v) return k;
      if (selected < v) ++selected_before;
    }
    return problem.p + v - selected_before;
  };
  // Each position costs a scan of the selection; for the sizes people use
  // they are found once, on the stack, instead of once per pair.
  constexpr int kStackedPositions = 256;
  std::array<int, kStackedPositions> stacked;
  bool positions_stacked = q <= kStackedPositions;
  if (positions_stacked) {
    for (int k = 0; k < q; ++k) stacked[static_cast<std::size_t>(k)] = position(k);
  }
  auto position_of = [&](int k) {
    return positions_stacked ? stacked[static_cast<std::size_t>(k)] : position(k);
  };
  ConstView v{problem.restricted, problem.ld_restricted};
  ConstView r{correlations, ld_correlations};
  int count = 0;
  for (int j = 0; j < q; ++j) {
    int position_j = position_of(j);
    for (int i = 0; i < j; ++i) {
      double read = position_of(i) < position_j ? v(i, j) : v(j, i);
      double root_i = std::sqrt(std::fabs(v(i, i)));
      double root_j = std::sqrt(std::fabs(v(j, j)));
      if (!sign_changed(read, root_i, root_j, r(i, j))) continue;
      if (count < capacity && rows != nullptr && columns != nullptr) {
        rows[count] = i;
        columns[count] = j;
      }
      ++count;
    }
  }
  return count;
}

Status lawley_means(const LawleyProblem& problem, std::span<const double> restricted_means,
                    std::span<const double> unrestricted_means, std::span<double> means,
                    std::span<double> workspace, std::span<int> int_workspace,
                    Diagnostics* diagnostics) {
  Order o{};
  Invalid invalid = check_problem(problem, workspace, int_workspace, o);
  auto q = static_cast<std::size_t>(problem.q);
  auto p = static_cast<std::size_t>(problem.p);
  if (invalid.argument == Argument::none) {
    if (restricted_means.size() != q || unrestricted_means.size() != p || means.size() != q) {
      invalid = {Argument::means, "a means vector does not have q (or p) values"};
    }
    for (double m : restricted_means) {
      if (!finite(m)) invalid = {Argument::means, "a restricted mean is not finite"};
    }
    for (double m : unrestricted_means) {
      if (!finite(m)) invalid = {Argument::means, "an unrestricted mean is not finite"};
    }
  }
  if (invalid.argument != Argument::none) return report_invalid(invalid, diagnostics);

  int n_selected = problem.p;
  int others = problem.q - problem.p;
  Carved c = carve(problem.q, n_selected, workspace.data());
  int info = lawley_products(n_selected, problem.q, {problem.restricted, problem.ld_restricted},
                             {problem.unrestricted, problem.ld_unrestricted}, o.order, c.blocks);
  Status status = info == 0 ? Status::ok : Status::not_positive_definite;
  if (diagnostics != nullptr) {
    *diagnostics = Diagnostics{};
    diagnostics->status = status;
    diagnostics->leading_minor = info;
  }
  if (status != Status::ok) {
    for (double& m : means) m = not_a_number;
    return status;
  }
  // t = (m_x - mu_x) W, kept in the reliability slots of the workspace.
  double* t = c.reliability_of;
  for (int j = 0; j < n_selected; ++j) {
    double sum = 0.0;
    for (int k = 0; k < n_selected; ++k) {
      auto selected = static_cast<std::size_t>(o.order[k]);
      sum += (unrestricted_means[static_cast<std::size_t>(k)] - restricted_means[selected]) *
             c.blocks.inverse_11(k, j);
    }
    t[j] = sum;
  }
  for (int k = 0; k < n_selected; ++k) {
    means[static_cast<std::size_t>(o.order[k])] = unrestricted_means[static_cast<std::size_t>(k)];
  }
  for (int j = 0; j < others; ++j) {
    auto other = static_cast<std::size_t>(o.order[n_selected + j]);
    double shift = 0.0;
    for (int k = 0; k < n_selected; ++k) shift += t[k] * c.blocks.restricted_12(k, j);
    means[other] = restricted_means[other] + shift;
  }
  return status;
}

void cov_from_correlations(int n, const double* correlations, int ld_correlations, const double* sd,
                           double* covariances, int ld_covariances) {
  ConstView r{correlations, ld_correlations};
  View c{covariances, ld_covariances};
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) c(i, j) = r(i, j) * sd[i] * sd[j];
  }
}

const char* status_text(Status status) {
  switch (status) {
    case Status::ok:
      return "ok";
    case Status::not_positive_definite:
      return "selection block not positive definite";
    case Status::invalid_argument:
      return "invalid argument";
  }
  return "unknown status";
}

}  // namespace tolbe
