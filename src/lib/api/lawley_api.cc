#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "api/diagnostics.h"
#include "api/problem.h"
#include "correction/lawley.h"
#include "correction/sizes.h"
#include "tolbe/lawley.h"

namespace tolbe {

using api::Carved;
using api::Correlation;
using api::Invalid;
using api::Order;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

void fill(int q, View m, double value) {
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) m(i, j) = value;
  }
}

}  // namespace

WorkspaceSize lawley_workspace_size(int q, int p) {
  if (q < 0 || p < 0 || p > q) return {};
  return {api::workspace_doubles(q, p), saturating_times(2, static_cast<std::size_t>(q))};
}

Status lawley(const LawleyProblem& problem, const LawleyResults& results,
              std::span<double> workspace, std::span<int> int_workspace, Diagnostics* diagnostics) {
  Order o{};
  Invalid invalid = api::check_problem(problem, workspace, int_workspace, o);
  if (invalid.argument == Argument::none) invalid = api::check_results(problem, results);
  if (invalid.argument != Argument::none) return api::report_invalid(invalid, diagnostics);

  int q = problem.q;
  int p = problem.p;
  Carved c = api::carve(q, p, workspace.data());
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
    api::diagnose(problem, results, o, c, Correlation{corr, cov}, d);
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
      if (!api::sign_changed(read, root_i, root_j, r(i, j))) continue;
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
  Invalid invalid = api::check_problem(problem, workspace, int_workspace, o);
  auto q = static_cast<std::size_t>(problem.q);
  auto p = static_cast<std::size_t>(problem.p);
  if (invalid.argument == Argument::none) {
    if (restricted_means.size() != q || unrestricted_means.size() != p || means.size() != q) {
      invalid = {Argument::means, "a means vector does not have q (or p) values"};
    }
    for (double m : restricted_means) {
      if (!std::isfinite(m)) invalid = {Argument::means, "a restricted mean is not finite"};
    }
    for (double m : unrestricted_means) {
      if (!std::isfinite(m)) invalid = {Argument::means, "an unrestricted mean is not finite"};
    }
  }
  if (invalid.argument != Argument::none) return api::report_invalid(invalid, diagnostics);

  int n_selected = problem.p;
  int others = problem.q - problem.p;
  Carved c = api::carve(problem.q, n_selected, workspace.data());
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
