#include "api/problem.h"

#include <cmath>

#include "correction/sizes.h"

namespace tolbe::api {

std::size_t workspace_doubles(int q, int p) {
  auto n = static_cast<std::size_t>(q);
  return saturating_plus(saturating_plus(lawley_blocks_size(p, q), saturating_times(2, n)),
                         packed_size(n));
}

Carved carve(int q, int p, double* w) {
  Carved c{};
  c.blocks = carve_lawley_blocks(p, q, w);
  w += lawley_blocks_size(p, q);
  c.reliability_of = w;
  c.deviation = w + q;
  c.packed_check = w + 2 * static_cast<std::size_t>(q);
  return c;
}

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
      if (is_read(out, p, a, b) && !std::isfinite(v(a, b))) {
        if (triangle_of(q, v) != Triangle::none) {
          return {Argument::restricted,
                  "it holds one triangle only, the other side is missing: enter the whole matrix"};
        }
        return {Argument::restricted, "a value read is not finite"};
      }
    }
  }
  ConstView s{pr.unrestricted, pr.ld_unrestricted};
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) {
      if (!std::isfinite(s(i, j))) {
        if (triangle_of(p, s) != Triangle::none) {
          return {Argument::unrestricted,
                  "it holds one triangle only, the other side is missing: enter the whole matrix"};
        }
        return {Argument::unrestricted, "a value is not finite"};
      }
    }
  }
  for (double r : pr.reliabilities) {
    if (!std::isfinite(r)) return {Argument::reliabilities, "a value is not finite"};
  }
  return {Argument::none, ""};
}

Triangle triangle_of(int n, ConstView a) {
  bool upper_empty = true;
  bool lower_empty = true;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double upper = a(i, j);
      double lower = a(j, i);
      if (upper != 0.0 && !std::isnan(upper)) upper_empty = false;
      if (lower != 0.0 && !std::isnan(lower)) lower_empty = false;
    }
  }
  if (upper_empty && !lower_empty) return Triangle::lower;
  if (lower_empty && !upper_empty) return Triangle::upper;
  return Triangle::none;
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

}  // namespace tolbe::api
