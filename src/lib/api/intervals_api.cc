#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "api/problem.h"
#include "correction/sizes.h"
#include "intervals/intervals.h"
#include "kernels/elementary.h"
#include "tolbe/intervals.h"
#include "tolbe/validity.h"
#include "validity/validity.h"

namespace tolbe {

using api::Invalid;
using api::Order;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::size_t sz(int n) {
  return n <= 0 ? 0 : static_cast<std::size_t>(n);
}

std::size_t squared(int n) {
  return saturating_times(sz(n), sz(n));
}

bool has_scores(const RawScores& r) {
  return r.data != nullptr || r.rows != 0 || r.columns != 0;
}

int threads_wanted(int threads) {
  if (threads > 0) return threads;
  unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(std::min(hardware, 64U));
}

Invalid check_scores(const RawScores& r, int columns, Argument which) {
  if (r.rows < 0) return {which, "the number of rows is negative"};
  if (r.columns != columns) {
    return {which, which == Argument::pool
                       ? "the pool scores do not have p columns, one per selection variable"
                       : "the scores do not have q columns, one per variable"};
  }
  if (r.rows > 0 && r.data == nullptr) return {which, "the scores are null"};
  if (r.ld < at_least_one(r.rows)) {
    return {which, "the leading dimension is smaller than the number of rows"};
  }
  return {Argument::none, ""};
}

// Complete rows and the first infinite score, without writing anything.
struct RowCount {
  int complete = 0;
  bool infinite = false;
};
RowCount count_rows(const RawScores& r) {
  RowCount count;
  ConstView x{r.data, r.ld};
  for (int i = 0; i < r.rows; ++i) {
    bool complete = true;
    for (int j = 0; j < r.columns; ++j) {
      double value = x(i, j);
      if (std::isnan(value)) complete = false;
      if (std::isinf(value)) count.infinite = true;
    }
    if (complete) ++count.complete;
  }
  return count;
}

bool row_complete(ConstView x, int columns, int i) {
  for (int j = 0; j < columns; ++j) {
    if (std::isnan(x(i, j))) return false;
  }
  return true;
}

// Means and var/cov matrix of the complete rows (at least two).
void summarise(const RawScores& r, int complete, double* means, View cov) {
  ConstView x{r.data, r.ld};
  int c = r.columns;
  for (int j = 0; j < c; ++j) means[j] = 0.0;
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) means[j] += x(i, j);
  }
  for (int j = 0; j < c; ++j) means[j] /= complete;
  // Row by row, each row's completeness checked once; every sum still adds
  // the rows in order.
  for (int j = 0; j < c; ++j) {
    for (int k = 0; k <= j; ++k) cov(k, j) = 0.0;
  }
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) {
      double dj = x(i, j) - means[j];
      for (int k = 0; k <= j; ++k) cov(k, j) += (x(i, k) - means[k]) * dj;
    }
  }
  for (int j = 0; j < c; ++j) {
    for (int k = 0; k <= j; ++k) {
      cov(k, j) /= complete - 1;
      cov(j, k) = cov(k, j);
    }
  }
}

bool all_finite(int n, ConstView a) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(a(i, j))) return false;
    }
  }
  return true;
}

Invalid overflow(Argument which) {
  return {which, "the scores are so large that their variances or covariances overflow"};
}

// The complete rows less the means, row-major (rows x columns) or
// column-major (ld = complete).
void centre(const RawScores& r, const double* means, bool row_major, int complete, double* out) {
  ConstView x{r.data, r.ld};
  int c = r.columns;
  int row = 0;
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) {
      double value = x(i, j) - means[j];
      if (row_major) {
        out[sz(row) * sz(c) + sz(j)] = value;
      } else {
        out[sz(row) + sz(j) * sz(complete)] = value;
      }
    }
    ++row;
  }
}

// The parts of the workspace, in this order.
struct Layout {
  std::size_t correction;  // what lawley() needs
  std::size_t shared;      // V, S, means, estimates, the permuted matrices
  std::size_t method;      // the delta method's or the bootstrap's own
  std::size_t ints;
};

std::size_t shared_doubles(int q, int p) {
  std::size_t m = sz(q - p);
  std::size_t total = saturating_times(6, squared(q));  // V, cov, corr, V and C permuted, slots
  total = saturating_plus(total, saturating_times(3, squared(p)));  // S, S permuted, T
  total = saturating_plus(total, saturating_times(2, saturating_times(sz(p), m)));  // B, F
  total = saturating_plus(total, sz(q) + sz(p));                                    // means
  return saturating_plus(total, saturating_times(3, squared(q)));  // se, lower, upper
}

// What the validity question adds: its values (estimates and, for the
// bootstrap, their SEs and bounds) and its scratch; none without one.
struct ExtraSize {
  int count = 0;
  std::size_t scratch = 0;
};

Layout layout(int q, int p, const IntervalRequest& r, const ExtraSize& extra) {
  Layout l{};
  l.correction = api::workspace_doubles(q, p);
  // Five more values a question's value: its estimate, and its place in
  // the slots and the bootstrap's SEs and bounds.
  l.shared = saturating_plus(shared_doubles(q, p),
                             saturating_plus(saturating_times(5, sz(extra.count)), extra.scratch));
  int rows = has_scores(r.data) ? std::max(r.data.rows, 0) : 0;
  int pool_rows = has_scores(r.pool) ? std::max(r.pool.rows, 0) : 0;
  std::size_t centred =
      saturating_plus(saturating_times(sz(rows), sz(q)), saturating_times(sz(pool_rows), sz(p)));
  std::size_t ints = saturating_times(2, sz(q));
  if (r.method == IntervalMethod::bootstrap) {
    intervals::ExtraValues values{extra.count, extra.scratch, nullptr, nullptr};
    l.method =
        saturating_plus(centred, intervals::bootstrap_doubles(q, p, rows, pool_rows, r.resamples,
                                                              threads_wanted(r.threads), values));
    ints = saturating_plus(ints, intervals::bootstrap_ints(q, r.resamples));
  } else {
    std::size_t gradient = saturating_plus(squared(q), squared(p));
    l.method = saturating_plus(saturating_plus(centred, gradient), sz(std::max(rows, pool_rows)));
    ints = saturating_plus(ints, saturating_times(2, gradient));
  }
  l.ints = ints;
  return l;
}

WorkspaceSize total(int q, int p, const IntervalRequest& request, const ExtraSize& extra) {
  Layout l = layout(q, p, request, extra);
  return {saturating_plus(saturating_plus(l.correction, l.shared), l.method), l.ints};
}

Invalid check_request(int q, int p, const IntervalRequest& r) {
  if (r.method != IntervalMethod::normal && r.method != IntervalMethod::adf &&
      r.method != IntervalMethod::bootstrap) {
    return {Argument::request, "the method is not normal, adf or bootstrap"};
  }
  if (!(r.level > 0.0 && r.level < 1.0)) {
    return {Argument::request, "the level is not between 0 and 1"};
  }
  bool data = has_scores(r.data);
  bool pool = has_scores(r.pool);
  if (r.method != IntervalMethod::normal && !data) {
    return {Argument::data, "this method needs the raw restricted scores"};
  }
  if (r.method == IntervalMethod::normal && !data && r.n < 2) {
    return {Argument::request, "the restricted sample size n is below 2"};
  }
  if (r.n_unrestricted != 0 && pool) {
    return {Argument::request,
            "give the raw pool scores or the unrestricted sample size, not both: the pool's rows "
            "count"};
  }
  if (r.n_unrestricted != 0 && r.n_unrestricted < 2) {
    return {Argument::request, "the unrestricted sample size is below 2 (0: S is known)"};
  }
  if (r.method == IntervalMethod::bootstrap) {
    if (r.n_unrestricted != 0 && !pool) {
      return {Argument::request,
              "the bootstrap lets S vary only by resampling raw pool scores, not from a sample "
              "size"};
    }
    if (r.resamples < bootstrap_min_resamples || r.resamples > bootstrap_max_resamples) {
      return {Argument::request, "the number of resamples is outside 10..1000000"};
    }
    if (r.threads < 0) return {Argument::request, "the number of threads is negative"};
    if (r.interval != BootstrapInterval::bca && r.interval != BootstrapInterval::percentile) {
      return {Argument::request, "the bootstrap interval is not bca or percentile"};
    }
  }
  if (data) {
    Invalid invalid = check_scores(r.data, q, Argument::data);
    if (invalid.argument != Argument::none) return invalid;
  }
  if (pool) {
    Invalid invalid = check_scores(r.pool, p, Argument::pool);
    if (invalid.argument != Argument::none) return invalid;
  }
  return {Argument::none, ""};
}

Invalid check_rows(const RawScores& r, Argument which, int minimum, int& complete) {
  RowCount count = count_rows(r);
  complete = count.complete;  // also when too few, to say so
  if (count.infinite) return {which, "a score is infinite"};
  if (count.complete < minimum) {
    return {which, minimum == 2 ? "fewer than 2 complete rows"
                                : "fewer than 3 complete rows, which adf and the bootstrap need"};
  }
  complete = count.complete;
  return {Argument::none, ""};
}

Invalid check_interval_results(int q, int p, const IntervalResults& r) {
  int need = at_least_one(q);
  for (const IntervalMatrices* m : {&r.covariances, &r.correlations, &r.disattenuated}) {
    bool any = m->se != nullptr || m->lower != nullptr || m->upper != nullptr;
    if (any && m->ld < need) {
      return {Argument::results, "the leading dimension of a result is smaller than q"};
    }
  }
  if (r.restricted != nullptr && r.ld_restricted < need) {
    return {Argument::results, "the leading dimension of restricted is smaller than q"};
  }
  if (r.unrestricted != nullptr && r.ld_unrestricted < at_least_one(p)) {
    return {Argument::results, "the leading dimension of unrestricted is smaller than p"};
  }
  return {Argument::none, ""};
}

Status report(const Invalid& invalid, IntervalSummary* summary) {
  if (summary != nullptr) {
    *summary = IntervalSummary{};
    summary->status = Status::invalid_argument;
    summary->argument = invalid.argument;
    summary->reason = invalid.reason;
  }
  return Status::invalid_argument;
}

void put(const IntervalMatrices& m, int i, int j, double se, double lower, double upper) {
  std::size_t a = sz(i) + sz(j) * sz(m.ld);
  std::size_t b = sz(j) + sz(i) * sz(m.ld);
  if (m.se != nullptr) m.se[a] = m.se[b] = se;
  if (m.lower != nullptr) m.lower[a] = m.lower[b] = lower;
  if (m.upper != nullptr) m.upper[a] = m.upper[b] = upper;
}

void fill_all(int q, const IntervalMatrices& m, double value) {
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i <= j; ++i) put(m, i, j, value, value, value);
  }
}

// Storage of the permuted model: V, C (q x q), S (p x p), B and F (p x m).
struct ModelStorage {
  double* v;
  double* c;
  double* s;
  double* weights;
  double* projected;
};

// The permuted V (symmetric, from the elements read), C and S, and B = W V12
// and F = W C12, after a correction into `blocks` and `cov`.
intervals::Corrected permuted_model(int q, int p, const Order& o, ConstView restricted,
                                    ConstView unrestricted, ConstView cov,
                                    const LawleyBlocks& blocks, const ModelStorage& storage) {
  int ld_q = at_least_one(q);
  int ld_p = at_least_one(p);
  int m = q - p;
  View vp{storage.v, ld_q};
  View cp{storage.c, ld_q};
  View sp{storage.s, ld_p};
  for (int y = 0; y < q; ++y) {
    for (int x = 0; x <= y; ++x) {
      vp(x, y) = vp(y, x) = api::element_read(restricted, o, o.order[x], o.order[y]);
      cp(x, y) = cp(y, x) = cov(o.order[x], o.order[y]);
    }
  }
  for (int y = 0; y < p; ++y) {
    for (int x = 0; x <= y; ++x) sp(x, y) = sp(y, x) = unrestricted(x, y);
  }
  View b{storage.weights, ld_p};
  View f{storage.projected, ld_p};
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) b(i, j) = blocks.weights_21(j, i);
  }
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) {
      double sum = 0.0;
      for (int k = 0; k < p; ++k) sum += blocks.inverse_11(i, k) * blocks.corrected_12(k, j);
      f(i, j) = sum;
    }
  }
  return {q, p, o.order, vp, sp, cp, b, blocks.cov_times_inverse, f};
}

// The validity question, checked, with where its results go.
struct ValidityTask {
  validity::Job job;
  ValidityResults results;
};

ExtraSize extra_size(const ValidityTask* task) {
  if (task == nullptr) return {};
  return {static_cast<int>(validity_values(sz(task->job.k))),
          validity::scratch_doubles(task->job.k)};
}

bool (*const compute_validity)(const void*, ConstView, double*, double*) =
    [](const void* context, ConstView cov, double* out, double* scratch) {
      return validity::values(*static_cast<const validity::Job*>(context), cov, out, scratch);
    };

// The request as the driver runs it: the validity question's estimates
// alone (method none) run as the normal method's estimates.
IntervalRequest effective_request(const IntervalRequest& request, const ValidityTask* task) {
  IntervalRequest r = request;
  if (task != nullptr && r.method == IntervalMethod::none) {
    r.method = IntervalMethod::normal;
    if (r.n < 2) r.n = 2;
    r.n_unrestricted = 0;
  }
  return r;
}

// lawley_intervals() and lawley_validity(): the matrices' intervals, or
// the validity question's values (task not null).
Status run(const LawleyProblem& problem, const IntervalRequest& asked,
           const IntervalResults& results, std::span<double> workspace,
           std::span<int> int_workspace, IntervalSummary* summary, const ValidityTask* task) {
  int q = problem.q;
  int p = problem.p;
  if (q < 0) return report({Argument::q, "q is negative"}, summary);
  if (p < 0) return report({Argument::p, "p is negative"}, summary);
  if (p > q) return report({Argument::p, "p is larger than q"}, summary);
  bool estimates_only = task != nullptr && asked.method == IntervalMethod::none;
  IntervalRequest request = effective_request(asked, task);
  Invalid invalid = check_request(q, p, request);
  if (invalid.argument != Argument::none) return report(invalid, summary);
  bool data = has_scores(request.data);
  bool pool = has_scores(request.pool);
  if (data && problem.restricted != nullptr) {
    return report(
        {Argument::restricted, "give the raw restricted scores or the restricted matrix, not both"},
        summary);
  }
  if (pool && problem.unrestricted != nullptr) {
    return report(
        {Argument::unrestricted, "give the raw pool scores or the unrestricted matrix, not both"},
        summary);
  }
  ExtraSize extra = extra_size(task);
  WorkspaceSize need = total(q, p, request, extra);
  if (workspace.data() == nullptr || workspace.size() < need.doubles) {
    return report({Argument::workspace, "the workspace of doubles is too small"}, summary);
  }
  if (int_workspace.data() == nullptr || int_workspace.size() < need.ints) {
    return report({Argument::workspace, "the workspace of ints is too small"}, summary);
  }
  bool bootstrap = request.method == IntervalMethod::bootstrap;
  // Two rows give adf a fourth-moment matrix of zeros: SEs of 0 that look
  // like certainty.
  int minimum_rows = bootstrap || request.method == IntervalMethod::adf ? bootstrap_min_rows : 2;
  int rows = 0;
  int pool_rows = 0;
  if (data) {
    invalid = check_rows(request.data, Argument::data, minimum_rows, rows);
    if (invalid.argument != Argument::none) return report(invalid, summary);
  }
  if (pool) {
    invalid = check_rows(request.pool, Argument::pool, minimum_rows, pool_rows);
    if (invalid.argument != Argument::none) return report(invalid, summary);
  }
  invalid = check_interval_results(q, p, results);
  if (invalid.argument != Argument::none) return report(invalid, summary);

  // The workspace: the correction's part first, then the shared one.
  Layout l = layout(q, p, request, extra);
  double* w = workspace.data() + l.correction;
  auto take = [&w](std::size_t n) {
    double* start = w;
    w += n;
    return start;
  };
  int ld_q = at_least_one(q);
  int ld_p = at_least_one(p);
  int m = q - p;
  double* v_data = take(squared(q));
  double* s_data = take(squared(p));
  double* means = take(sz(q));
  double* pool_means = take(sz(p));
  double* cov = take(squared(q));
  double* corr = take(squared(q));
  double* v_permuted = take(squared(q));
  double* c_permuted = take(squared(q));
  double* s_permuted = take(squared(p));
  double* weights = take(sz(p) * sz(m));
  double* projected = take(sz(p) * sz(m));
  // The values of one correction and the bootstrap's: the matrices', then
  // the validity question's.
  std::size_t values = squared(q) + sz(extra.count);
  double* slots = take(values);
  double* boot_se = take(values);
  double* boot_lower = take(values);
  double* boot_upper = take(values);
  (void)take(squared(p));  // T is read from the correction's blocks
  double* extra_estimates = take(sz(extra.count));
  double* extra_scratch = take(extra.scratch);

  LawleyProblem pr = problem;
  if (data) {
    summarise(request.data, rows, means, {v_data, ld_q});
    if (!all_finite(q, {v_data, ld_q})) return report(overflow(Argument::data), summary);
    pr.restricted = v_data;
    pr.ld_restricted = ld_q;
  }
  if (pool) {
    summarise(request.pool, pool_rows, pool_means, {s_data, ld_p});
    if (!all_finite(p, {s_data, ld_p})) return report(overflow(Argument::pool), summary);
    pr.unrestricted = s_data;
    pr.ld_unrestricted = ld_p;
  }
  Order o{};
  std::span<double> correction_space = workspace.first(l.correction);
  invalid = api::check_problem(pr, correction_space, int_workspace, o);
  if (invalid.argument != Argument::none) return report(invalid, summary);

  IntervalSummary s{};
  s.method = request.method;
  s.interval = request.interval;
  s.level = request.level;
  s.n = data ? rows : request.n;
  s.n_unrestricted = pool ? pool_rows : request.n_unrestricted;
  s.rows_dropped = data ? request.data.rows - rows : 0;
  s.pool_rows_dropped = pool ? request.pool.rows - pool_rows : 0;
  s.resamples = bootstrap ? request.resamples : 0;
  if (estimates_only) {
    s.method = IntervalMethod::none;
    s.n = data ? rows : asked.n;
    s.n_unrestricted = pool ? pool_rows : asked.n_unrestricted;
  }

  if (results.restricted != nullptr) {
    ConstView from{pr.restricted, pr.ld_restricted};
    View to{results.restricted, results.ld_restricted};
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < q; ++i) to(i, j) = from(i, j);
    }
  }
  if (results.unrestricted != nullptr) {
    ConstView from{pr.unrestricted, pr.ld_unrestricted};
    View to{results.unrestricted, results.ld_unrestricted};
    for (int j = 0; j < p; ++j) {
      for (int i = 0; i < p; ++i) to(i, j) = from(i, j);
    }
  }

  api::Carved c = api::carve(q, p, workspace.data());
  ConstView restricted{pr.restricted, pr.ld_restricted};
  ConstView unrestricted{pr.unrestricted, pr.ld_unrestricted};
  bool ok = intervals::correct_into_slots(q, p, o.order, restricted, unrestricted, c.blocks,
                                          {cov, ld_q}, {corr, ld_q}, slots);
  int info = ok ? 0 : lawley_products(p, q, restricted, unrestricted, o.order, c.blocks);
  bool with_reliabilities = !pr.reliabilities.empty();
  bool extra_ok = true;
  if (task != nullptr && info == 0) {
    extra_ok = validity::values(task->job, {cov, ld_q}, extra_estimates, extra_scratch);
  }
  auto put_extra = [&](int v, double se, double lower, double upper) {
    const ValidityResults& r = task->results;
    auto at = sz(v);
    if (r.estimate != nullptr) r.estimate[at] = extra_estimates[at];
    if (r.se != nullptr) r.se[at] = se;
    if (r.lower != nullptr) r.lower[at] = lower;
    if (r.upper != nullptr) r.upper[at] = upper;
  };
  if (info != 0 || !extra_ok) {
    s.status = Status::not_positive_definite;
    s.leading_minor = info;
    fill_all(q, results.covariances, not_a_number);
    fill_all(q, results.correlations, not_a_number);
    if (with_reliabilities) fill_all(q, results.disattenuated, not_a_number);
    for (int v = 0; v < extra.count; ++v) {
      if (info != 0) extra_estimates[v] = not_a_number;
      put_extra(v, not_a_number, not_a_number, not_a_number);
    }
    if (summary != nullptr) *summary = s;
    return s.status;
  }
  if (estimates_only) {
    for (int v = 0; v < extra.count; ++v) {
      put_extra(v, not_a_number, not_a_number, not_a_number);
    }
    if (summary != nullptr) *summary = s;
    return s.status;
  }
  // The reliability of every variable by input index (1 for the selection
  // variables), as lawley() disattenuates.
  for (int k = 0; k < q; ++k) {
    c.reliability_of[o.order[k]] = k < p                      ? 1.0
                                   : pr.reliabilities.empty() ? 1.0
                                                              : pr.reliabilities[sz(k - p)];
  }

  double z_low = normal_quantile((1.0 - request.level) / 2.0);
  double z_high = -z_low;  // (1 + level) / 2 could round to 1
  // Fisher's z interval of a correlation; with SE 0 the point itself (the
  // round trip through atanh and tanh could move it by an ulp, and an
  // interval must hold its estimate).
  auto fisher = [&](double r, double se, double& lower, double& upper) {
    lower = upper = not_a_number;
    if (!(std::fabs(r) < 1.0)) return;
    if (se == 0.0) {
      lower = upper = r;
      return;
    }
    double z = elementary::atanh(r);
    double se_z = se / (1.0 - r * r);
    lower = elementary::tanh(z + z_low * se_z);
    upper = elementary::tanh(z + z_high * se_z);
  };
  auto put_correlation = [&](int i, int j, double se, double lower, double upper) {
    put(results.correlations, i, j, se, lower, upper);
    if (!with_reliabilities) return;
    double k = i == j ? 1.0 : std::sqrt(c.reliability_of[i] * c.reliability_of[j]);
    put(results.disattenuated, i, j, se / k, lower / k, upper / k);
  };
  // A variable's correlation with itself: SE 0, and its estimate (1, or
  // next to it) as both bounds.
  auto diagonal = [&](int i) {
    double r = corr[sz(i) + sz(i) * sz(ld_q)];
    put_correlation(i, i, 0.0, r, r);
  };

  if (bootstrap) {
    double* centred = take(saturating_times(sz(rows), sz(q)));
    double* pool_centred = take(saturating_times(sz(pool_rows), sz(p)));
    centre(request.data, means, true, rows, centred);
    if (pool) centre(request.pool, pool_means, true, pool_rows, pool_centred);
    intervals::BootstrapInput in{};
    in.q = q;
    in.p = p;
    in.order = o.order;
    in.centred = centred;
    in.rows = rows;
    in.pool_centred = pool ? pool_centred : nullptr;
    in.pool_rows = pool_rows;
    in.restricted = restricted;
    in.unrestricted = unrestricted;
    in.estimates = slots;
    in.resamples = request.resamples;
    in.seed = request.seed;
    in.threads = threads_wanted(request.threads);
    if (task != nullptr) {
      in.extra = {extra.count, extra.scratch, compute_validity, &task->job};
      // The estimates, the matrices' and then the question's, side by side.
      std::copy(extra_estimates, extra_estimates + extra.count, slots + squared(q));
    }
    s.threads = intervals::bootstrap_lanes(in.threads, request.resamples);
    s.failed_resamples =
        intervals::bootstrap(in, request.interval, request.level, boot_se, boot_lower, boot_upper,
                             w, int_workspace.data() + 2 * sz(q), &s.percentile_fallbacks);
    for (int v = 0; v < extra.count; ++v) {
      std::size_t k = squared(q) + sz(v);
      put_extra(v, boot_se[k], boot_lower[k], boot_upper[k]);
    }
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i <= j; ++i) {
        std::size_t k = intervals::covariance_slot(i, j);
        put(results.covariances, i, j, boot_se[k], boot_lower[k], boot_upper[k]);
        if (i == j) {
          diagonal(i);
          continue;
        }
        k = intervals::correlation_slot(q, i, j);
        put_correlation(i, j, boot_se[k], boot_lower[k], boot_upper[k]);
      }
    }
    if (summary != nullptr) *summary = s;
    return s.status;
  }

  // The delta methods.
  intervals::Corrected model =
      permuted_model(q, p, o, restricted, unrestricted, {cov, ld_q}, c.blocks,
                     {v_permuted, c_permuted, s_permuted, weights, projected});
  View vp{v_permuted, ld_q};
  View sp{s_permuted, ld_p};

  double* centred = take(saturating_times(sz(rows), sz(q)));
  double* pool_centred = take(saturating_times(sz(pool_rows), sz(p)));
  double* g_v = take(squared(q));
  double* g_s = take(squared(p));
  double* projection = take(sz(std::max(rows, pool_rows)));
  std::fill(g_v, g_v + squared(q), 0.0);
  std::fill(g_s, g_s + squared(p), 0.0);
  int* ints = int_workspace.data() + 2 * sz(q);
  std::fill(ints, ints + 2 * (squared(q) + squared(p)), 0);
  intervals::Gradient g{q,
                        p,
                        g_v,
                        g_s,
                        ints,
                        ints + squared(q),
                        ints + squared(q) + squared(p),
                        0,
                        ints + 2 * squared(q) + squared(p),
                        0};

  bool adf = request.method == IntervalMethod::adf;
  intervals::Sampling of_v{};
  of_v.known = false;
  if (adf) {
    centre(request.data, means, false, rows, centred);
    of_v.raw = true;
    of_v.n = rows;
    of_v.centred = centred;
    of_v.ld_centred = at_least_one(rows);
    of_v.order = o.order;
    of_v.projection = projection;
  } else {
    of_v.sigma = vp;
    of_v.n = s.n;
  }
  intervals::Sampling of_s{};
  if (pool && adf) {
    centre(request.pool, pool_means, false, pool_rows, pool_centred);
    of_s.known = false;
    of_s.raw = true;
    of_s.n = pool_rows;
    of_s.centred = pool_centred;
    of_s.ld_centred = at_least_one(pool_rows);
    of_s.projection = projection;
  } else if (s.n_unrestricted > 0) {
    of_s.known = false;
    of_s.sigma = sp;
    of_s.n = s.n_unrestricted;
  }
  auto standard_error = [&]() {
    double variance =
        intervals::gradient_variance(g, true, of_v) + intervals::gradient_variance(g, false, of_s);
    g.clear();
    return std::sqrt(variance);
  };

  for (int j = 0; j < (task == nullptr ? q : 0); ++j) {
    for (int i = 0; i <= j; ++i) {
      int x = o.position[i];
      int y = o.position[j];
      intervals::add_covariance_gradient(model, x, y, 1.0, g);
      double se = standard_error();
      double estimate = cov[sz(i) + sz(j) * sz(ld_q)];
      if (se == 0.0) {  // the point, also where z is infinite
        put(results.covariances, i, j, se, estimate, estimate);
      } else {
        put(results.covariances, i, j, se, estimate + z_low * se, estimate + z_high * se);
      }
      if (i == j) {
        diagonal(i);
        continue;
      }
      intervals::add_correlation_gradient(model, x, y, g);
      se = standard_error();
      double r = corr[sz(i) + sz(j) * sz(ld_q)];
      double lower;
      double upper;
      fisher(r, se, lower, upper);
      put_correlation(i, j, se, lower, upper);
    }
  }
  for (int v = 0; v < extra.count; ++v) {
    double estimate = extra_estimates[v];
    if (std::isnan(estimate)) {  // an increment without a base set
      put_extra(v, not_a_number, not_a_number, not_a_number);
      continue;
    }
    validity::gradient(task->job, model, o.position, v, extra_estimates, extra_scratch, g);
    double se = standard_error();
    validity::IntervalKind kind = validity::interval_kind(task->job, v);
    double lower = se == 0.0 ? estimate : estimate + z_low * se;
    double upper = se == 0.0 ? estimate : estimate + z_high * se;
    if (kind.kind == validity::Kind::fisher) {
      fisher(estimate, se, lower, upper);
    } else if (kind.kind == validity::Kind::fisher_of) {
      // The interval of the value it scales, scaled alike.
      double root = std::sqrt(task->job.reliability);
      fisher(extra_estimates[kind.of_value], se * root, lower, upper);
      lower /= root;
      upper /= root;
    }
    put_extra(v, se, lower, upper);
  }
  if (summary != nullptr) *summary = s;
  return s.status;
}

}  // namespace

WorkspaceSize lawley_intervals_workspace_size(int q, int p, const IntervalRequest& request) {
  if (q < 0 || p < 0 || p > q) return {};
  if (check_request(q, p, request).argument != Argument::none) return {};
  return total(q, p, request, {});
}

Status lawley_intervals(const LawleyProblem& problem, const IntervalRequest& request,
                        const IntervalResults& results, std::span<double> workspace,
                        std::span<int> int_workspace, IntervalSummary* summary) {
  return run(problem, request, results, workspace, int_workspace, summary, nullptr);
}

WorkspaceSize lawley_validity_workspace_size(int q, int p, std::size_t predictors,
                                             const IntervalRequest& request) {
  if (q < 0 || p < 0 || p > q || predictors < 1 || predictors > static_cast<std::size_t>(q)) {
    return {};
  }
  ValidityTask task{};
  task.job.k = static_cast<int>(predictors);
  IntervalRequest r = effective_request(request, &task);
  if (check_request(q, p, r).argument != Argument::none) return {};
  return total(q, p, r, extra_size(&task));
}

Status lawley_validity(const LawleyProblem& problem, const IntervalRequest& request,
                       const ValidityQuestion& question, const ValidityResults& results,
                       std::span<double> workspace, std::span<int> int_workspace,
                       IntervalSummary* summary) {
  int q = problem.q;
  auto k = question.predictors.size();
  auto invalid = [summary](const char* reason) {
    return report({Argument::request, reason}, summary);
  };
  if (question.criterion < 0 || question.criterion >= q) {
    return invalid("the criterion is not a variable of the problem");
  }
  if (k < 1 || k > static_cast<std::size_t>(q)) {
    return invalid("the number of predictors is not 1 to q");
  }
  for (std::size_t i = 0; i < k; ++i) {
    int x = question.predictors[i];
    if (x < 0 || x >= q) return invalid("a predictor is not a variable of the problem");
    if (x == question.criterion) return invalid("the criterion is among the predictors");
    for (std::size_t j = 0; j < i; ++j) {
      if (question.predictors[j] == x) return invalid("a predictor is repeated");
    }
  }
  if (question.base < 0 || static_cast<std::size_t>(question.base) >= k) {
    return invalid("the base set is not 0 to k - 1 predictors");
  }
  if (!(question.criterion_reliability > 0.0 && question.criterion_reliability <= 1.0)) {
    return invalid("the criterion's reliability is not in (0, 1]");
  }
  ValidityTask task{{question.criterion, question.predictors.data(), static_cast<int>(k),
                     question.base, question.criterion_reliability},
                    results};
  return run(problem, request, IntervalResults{}, workspace, int_workspace, summary, &task);
}

double unrestricted_reliability(double restricted_reliability, double restricted_variance,
                                double corrected_variance) {
  if (!std::isfinite(restricted_reliability) || !(restricted_variance > 0.0) ||
      !(corrected_variance > 0.0) || !std::isfinite(restricted_variance) ||
      !std::isfinite(corrected_variance)) {
    return not_a_number;
  }
  return 1.0 - (1.0 - restricted_reliability) * restricted_variance / corrected_variance;
}

DataSummary covariance_from_data(const RawScores& scores, double* means, double* covariances,
                                 int ld_covariances) {
  DataSummary d{};
  auto fail = [&d](const char* reason) {
    d.status = Status::invalid_argument;
    d.argument = Argument::data;
    d.reason = reason;
    return d;
  };
  if (scores.columns < 0) return fail("the number of columns is negative");
  Invalid invalid = check_scores(scores, scores.columns, Argument::data);
  if (invalid.argument != Argument::none) return fail(invalid.reason);
  if (scores.columns > 0 && (covariances == nullptr || means == nullptr)) {
    return fail("means or covariances is null");
  }
  if (ld_covariances < at_least_one(scores.columns)) {
    return fail("the leading dimension of covariances is smaller than the number of columns");
  }
  int complete = 0;
  invalid = check_rows(scores, Argument::data, 2, complete);
  if (invalid.argument != Argument::none) {
    d.rows_used = complete;
    d.rows_dropped = scores.rows - complete;
    return fail(invalid.reason);
  }
  summarise(scores, complete, means, {covariances, ld_covariances});
  if (!all_finite(scores.columns, {covariances, ld_covariances})) {
    return fail(overflow(Argument::data).reason);
  }
  d.rows_used = complete;
  d.rows_dropped = scores.rows - complete;
  return d;
}

namespace intervals {

bool correction_gradient(const LawleyProblem& problem, int i, int j, bool correlation,
                         std::vector<double>& of_v, std::vector<double>& of_s) {
  int q = problem.q;
  int p = problem.p;
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  Order o{};
  if (api::check_problem(problem, work, int_work, o).argument != Argument::none) return false;
  std::size_t qq = squared(q);
  std::size_t pp = squared(p);
  std::size_t pm = sz(p) * sz(q - p);
  std::vector<double> store(4 * qq + pp + 2 * pm);
  double* cov = store.data();
  double* corr = cov + qq;
  ModelStorage storage{corr + qq, corr + 2 * qq, corr + 3 * qq, corr + 3 * qq + pp,
                       corr + 3 * qq + pp + pm};
  api::Carved c = api::carve(q, p, work.data());
  ConstView restricted{problem.restricted, problem.ld_restricted};
  ConstView unrestricted{problem.unrestricted, problem.ld_unrestricted};
  int ld_q = at_least_one(q);
  if (lawley_products(p, q, restricted, unrestricted, o.order, c.blocks) != 0) return false;
  lawley_assemble(p, q, unrestricted, c.blocks, o.order, {cov, ld_q});
  Corrected model =
      permuted_model(q, p, o, restricted, unrestricted, {cov, ld_q}, c.blocks, storage);
  std::vector<double> g_v(qq, 0.0);
  std::vector<double> g_s(pp, 0.0);
  std::vector<int> ints(2 * (qq + pp), 0);
  Gradient g{q,
             p,
             g_v.data(),
             g_s.data(),
             ints.data(),
             ints.data() + qq,
             ints.data() + qq + pp,
             0,
             ints.data() + 2 * qq + pp,
             0};
  int x = o.position[i];
  int y = o.position[j];
  if (correlation) {
    add_correlation_gradient(model, x, y, g);
  } else {
    add_covariance_gradient(model, x, y, 1.0, g);
  }
  of_v.assign(qq, 0.0);
  of_s.assign(pp, 0.0);
  for (int l = 0; l < q; ++l) {
    for (int k = 0; k <= l; ++k) {
      double value = g_v[sz(k) + sz(l) * sz(q)];
      int a = o.order[k];
      int b = o.order[l];
      of_v[sz(a) + sz(b) * sz(q)] = of_v[sz(b) + sz(a) * sz(q)] = value;
    }
  }
  for (int l = 0; l < p; ++l) {
    for (int k = 0; k <= l; ++k) {
      of_s[sz(k) + sz(l) * sz(p)] = of_s[sz(l) + sz(k) * sz(p)] = g_s[sz(k) + sz(l) * sz(p)];
    }
  }
  return true;
}

bool bootstrap_accelerations(const LawleyProblem& problem, const RawScores& data,
                             const RawScores* pool, std::vector<double>& acceleration) {
  int q = problem.q;
  int p = problem.p;
  if (q < 1 || p < 0 || p > q) return false;
  int rows = 0;
  int pool_rows = 0;
  if (check_scores(data, q, Argument::data).argument != Argument::none ||
      check_rows(data, Argument::data, bootstrap_min_rows, rows).argument != Argument::none) {
    return false;
  }
  if (pool != nullptr &&
      (check_scores(*pool, p, Argument::pool).argument != Argument::none ||
       check_rows(*pool, Argument::pool, bootstrap_min_rows, pool_rows).argument !=
           Argument::none)) {
    return false;
  }
  std::vector<double> v(squared(q));
  std::vector<double> s(squared(p));
  std::vector<double> means(sz(q));
  std::vector<double> pool_means(sz(p));
  summarise(data, rows, means.data(), {v.data(), q});
  LawleyProblem pr = problem;
  pr.restricted = v.data();
  pr.ld_restricted = q;
  if (pool != nullptr) {
    summarise(*pool, pool_rows, pool_means.data(), {s.data(), at_least_one(p)});
    pr.unrestricted = s.data();
    pr.ld_unrestricted = at_least_one(p);
  }
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  Order o{};
  if (api::check_problem(pr, work, int_work, o).argument != Argument::none) return false;
  api::Carved c = api::carve(q, p, work.data());
  std::vector<double> cov(squared(q));
  std::vector<double> corr(squared(q));
  std::vector<double> slots(values_per_resample(q));
  if (!correct_into_slots(q, p, o.order, {pr.restricted, q}, {pr.unrestricted, pr.ld_unrestricted},
                          c.blocks, {cov.data(), q}, {corr.data(), q}, slots.data())) {
    return false;
  }
  std::vector<double> centred(sz(rows) * sz(q));
  std::vector<double> pool_centred(sz(pool_rows) * sz(p));
  centre(data, means.data(), true, rows, centred.data());
  if (pool != nullptr) centre(*pool, pool_means.data(), true, pool_rows, pool_centred.data());
  BootstrapInput in{};
  in.q = q;
  in.p = p;
  in.order = o.order;
  in.centred = centred.data();
  in.rows = rows;
  in.pool_centred = pool != nullptr ? pool_centred.data() : nullptr;
  in.pool_rows = pool_rows;
  in.restricted = {pr.restricted, q};
  in.unrestricted = {pr.unrestricted, pr.ld_unrestricted};
  in.estimates = slots.data();
  in.threads = 1;
  jackknife_accelerations(in, acceleration);
  return true;
}

}  // namespace intervals

const char* interval_method_name(IntervalMethod method) {
  switch (method) {
    case IntervalMethod::none:
      return "none";
    case IntervalMethod::normal:
      return "normal";
    case IntervalMethod::adf:
      return "adf";
    case IntervalMethod::bootstrap:
      return "bootstrap";
  }
  return "";
}

const char* bootstrap_interval_name(BootstrapInterval interval) {
  switch (interval) {
    case BootstrapInterval::bca:
      return "bca";
    case BootstrapInterval::percentile:
      return "percentile";
  }
  return "";
}

}  // namespace tolbe
