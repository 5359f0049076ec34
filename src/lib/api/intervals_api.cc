// The intervals' and the validity question's driver: lawley_intervals()
// and lawley_validity() check their arguments, carve the workspace, correct
// once and then run the bootstrap or the delta methods over every value.

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "api/interval_checks.h"
#include "api/problem.h"
#include "correction/lawley.h"
#include "correction/sizes.h"
#include "intervals/bounds.h"
#include "intervals/intervals.h"
#include "intervals/permuted_model.h"
#include "intervals/raw_scores.h"
#include "tolbe/intervals.h"
#include "tolbe/validity.h"
#include "validity/validity.h"

namespace tolbe {

using api::Invalid;
using api::Order;
using api::report_invalid;

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::size_t sz(int n) {
  return n <= 0 ? 0 : static_cast<std::size_t>(n);
}

std::size_t squared(int n) {
  return saturating_times(sz(n), sz(n));
}

int threads_wanted(int threads) {
  if (threads > 0) return threads;
  unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(std::min(hardware, 64U));
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
  int rows = intervals::has_scores(r.data) ? std::max(r.data.rows, 0) : 0;
  int pool_rows = intervals::has_scores(r.pool) ? std::max(r.pool.rows, 0) : 0;
  std::size_t centred =
      saturating_plus(saturating_times(sz(rows), sz(q)), saturating_times(sz(pool_rows), sz(p)));
  std::size_t ints = saturating_times(2, sz(q));
  if (r.method == IntervalMethod::bootstrap) {
    intervals::ExtraValues values{extra.count, extra.scratch, nullptr, nullptr, 0};
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

// One call as the steps below run it: its sizes, the request as run, and
// what the checks found.
struct Call {
  int q = 0;
  int p = 0;
  IntervalRequest asked;
  IntervalRequest request;  // effective_request()
  const ValidityTask* task = nullptr;
  bool estimates_only = false;
  bool data = false;
  bool pool = false;
  bool bootstrap = false;
  ExtraSize extra;
  int rows = 0;  // complete rows of the raw scores
  int pool_rows = 0;
};

// Checks every argument but the problem's matrices (api::check_problem()
// checks those, once V and S are known) and fills `call`.
Invalid check_call(const LawleyProblem& problem, const IntervalRequest& asked,
                   const IntervalResults& results, std::span<double> workspace,
                   std::span<int> int_workspace, const ValidityTask* task, Call& call) {
  int q = problem.q;
  int p = problem.p;
  if (q < 0) return {Argument::q, "q is negative"};
  if (p < 0) return {Argument::p, "p is negative"};
  if (p > q) return {Argument::p, "p is larger than q"};
  call.q = q;
  call.p = p;
  call.asked = asked;
  call.task = task;
  call.estimates_only = task != nullptr && asked.method == IntervalMethod::none;
  call.request = effective_request(asked, task);
  const IntervalRequest& request = call.request;
  Invalid invalid = api::check_request(q, p, request);
  if (invalid.argument != Argument::none) return invalid;
  call.data = intervals::has_scores(request.data);
  call.pool = intervals::has_scores(request.pool);
  if (call.data && problem.restricted != nullptr) {
    return {Argument::restricted,
            "give the raw restricted scores or the restricted matrix, not both"};
  }
  if (call.pool && problem.unrestricted != nullptr) {
    return {Argument::unrestricted,
            "give the raw pool scores or the unrestricted matrix, not both"};
  }
  call.extra = extra_size(task);
  WorkspaceSize need = total(q, p, request, call.extra);
  if (workspace.data() == nullptr || workspace.size() < need.doubles) {
    return {Argument::workspace, "the workspace of doubles is too small"};
  }
  if (int_workspace.data() == nullptr || int_workspace.size() < need.ints) {
    return {Argument::workspace, "the workspace of ints is too small"};
  }
  call.bootstrap = request.method == IntervalMethod::bootstrap;
  // Two rows give adf a fourth-moment matrix of zeros: SEs of 0 that look
  // like certainty.
  int minimum_rows =
      call.bootstrap || request.method == IntervalMethod::adf ? bootstrap_min_rows : 2;
  if (call.data) {
    invalid = intervals::check_rows(request.data, Argument::data, minimum_rows, call.rows);
    if (invalid.argument != Argument::none) return invalid;
  }
  if (call.pool) {
    invalid = intervals::check_rows(request.pool, Argument::pool, minimum_rows, call.pool_rows);
    if (invalid.argument != Argument::none) return invalid;
  }
  return api::check_interval_results(q, p, results);
}

// Hands out the workspace part by part, in order.
struct Cursor {
  double* w;
  double* take(std::size_t n) {
    double* start = w;
    w += n;
    return start;
  }
};

// The shared part of the workspace, carved after the correction's.
struct Shared {
  double* v_data;  // V and S from raw scores
  double* s_data;
  double* means;
  double* pool_means;
  double* cov;  // the corrected var/cov and correlation matrices
  double* corr;
  intervals::ModelStorage model;
  // The values of one correction and the bootstrap's: the matrices', then
  // the validity question's.
  double* slots;
  double* boot_se;
  double* boot_lower;
  double* boot_upper;
  double* extra_estimates;
  double* extra_scratch;
};

Shared carve_shared(const Call& call, Cursor& cursor) {
  int q = call.q;
  int p = call.p;
  Shared s{};
  s.v_data = cursor.take(squared(q));
  s.s_data = cursor.take(squared(p));
  s.means = cursor.take(sz(q));
  s.pool_means = cursor.take(sz(p));
  s.cov = cursor.take(squared(q));
  s.corr = cursor.take(squared(q));
  s.model.v = cursor.take(squared(q));
  s.model.c = cursor.take(squared(q));
  s.model.s = cursor.take(squared(p));
  s.model.weights = cursor.take(sz(p) * sz(q - p));
  s.model.projected = cursor.take(sz(p) * sz(q - p));
  std::size_t values = squared(q) + sz(call.extra.count);
  s.slots = cursor.take(values);
  s.boot_se = cursor.take(values);
  s.boot_lower = cursor.take(values);
  s.boot_upper = cursor.take(values);
  (void)cursor.take(squared(p));  // T is read from the correction's blocks
  s.extra_estimates = cursor.take(sz(call.extra.count));
  s.extra_scratch = cursor.take(call.extra.scratch);
  return s;
}

// The problem the correction runs on: with raw scores, their var/cov
// matrices as V and S (refused when they overflow).
Invalid problem_from_scores(const Call& call, const Shared& shared, LawleyProblem& pr) {
  int ld_q = at_least_one(call.q);
  int ld_p = at_least_one(call.p);
  if (call.data) {
    intervals::summarise(call.request.data, call.rows, shared.means, {shared.v_data, ld_q});
    if (!intervals::all_finite(call.q, {shared.v_data, ld_q})) {
      return intervals::overflow(Argument::data);
    }
    pr.restricted = shared.v_data;
    pr.ld_restricted = ld_q;
  }
  if (call.pool) {
    intervals::summarise(call.request.pool, call.pool_rows, shared.pool_means,
                         {shared.s_data, ld_p});
    if (!intervals::all_finite(call.p, {shared.s_data, ld_p})) {
      return intervals::overflow(Argument::pool);
    }
    pr.unrestricted = shared.s_data;
    pr.ld_unrestricted = ld_p;
  }
  return {Argument::none, ""};
}

// What the summary says before any value is computed.
IntervalSummary summary_of(const Call& call) {
  const IntervalRequest& request = call.request;
  IntervalSummary s{};
  s.method = request.method;
  s.interval = request.interval;
  s.level = request.level;
  s.n = call.data ? call.rows : request.n;
  s.n_unrestricted = call.pool ? call.pool_rows : request.n_unrestricted;
  s.rows_dropped = call.data ? request.data.rows - call.rows : 0;
  s.pool_rows_dropped = call.pool ? request.pool.rows - call.pool_rows : 0;
  s.resamples = call.bootstrap ? request.resamples : 0;
  if (call.estimates_only) {
    s.method = IntervalMethod::none;
    s.n = call.data ? call.rows : call.asked.n;
    s.n_unrestricted = call.pool ? call.pool_rows : call.asked.n_unrestricted;
  }
  return s;
}

// The V and S the intervals belong to, where the caller asked for them.
void copy_inputs(int q, int p, const LawleyProblem& pr, const IntervalResults& results) {
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
}

// The reliability of every variable by input index (1 for the selection
// variables), as lawley() disattenuates.
void reliabilities_by_input(int q, int p, const Order& o, const LawleyProblem& pr,
                            double* reliability_of) {
  for (int k = 0; k < q; ++k) {
    reliability_of[o.order[k]] = k < p                      ? 1.0
                                 : pr.reliabilities.empty() ? 1.0
                                                            : pr.reliabilities[sz(k - p)];
  }
}

// Where one call's values go: the matrices' SEs and bounds (the
// disattenuated ones scaled from the correlations') and the validity
// question's values.
struct Writer {
  const IntervalResults& results;
  const ValidityTask* task;
  const double* extra_estimates;
  const double* reliability_of;  // by input index
  const double* corr;
  int ld_q;
  bool with_reliabilities;

  void covariance(int i, int j, double se, double lower, double upper) const {
    put(results.covariances, i, j, se, lower, upper);
  }
  void correlation(int i, int j, double se, double lower, double upper) const {
    put(results.correlations, i, j, se, lower, upper);
    if (!with_reliabilities) return;
    double k = i == j ? 1.0 : std::sqrt(reliability_of[i] * reliability_of[j]);
    put(results.disattenuated, i, j, se / k, lower / k, upper / k);
  }
  // A variable's correlation with itself: SE 0, and its estimate (1, or
  // next to it) as both bounds.
  void diagonal(int i) const {
    double r = corr[sz(i) + sz(i) * sz(ld_q)];
    correlation(i, i, 0.0, r, r);
  }
  void extra(int v, double se, double lower, double upper) const {
    const ValidityResults& r = task->results;
    auto at = sz(v);
    if (r.estimate != nullptr) r.estimate[at] = extra_estimates[at];
    if (r.se != nullptr) r.se[at] = se;
    if (r.lower != nullptr) r.lower[at] = lower;
    if (r.upper != nullptr) r.upper[at] = upper;
  }
  // NaN everywhere: no correction, or a validity value that cannot be
  // computed.
  void not_computed(int q, int extra_count) const {
    fill_all(q, results.covariances, not_a_number);
    fill_all(q, results.correlations, not_a_number);
    if (with_reliabilities) fill_all(q, results.disattenuated, not_a_number);
    for (int v = 0; v < extra_count; ++v) extra(v, not_a_number, not_a_number, not_a_number);
  }
};

// The bootstrap's SEs and bounds of every value, into the summary's
// counts.
void bootstrap_values(const Call& call, const Order& o, const LawleyProblem& pr,
                      const Shared& shared, Cursor& cursor, std::span<int> int_workspace,
                      const Writer& out, IntervalSummary& s) {
  int q = call.q;
  int p = call.p;
  const IntervalRequest& request = call.request;
  double* centred = cursor.take(saturating_times(sz(call.rows), sz(q)));
  double* pool_centred = cursor.take(saturating_times(sz(call.pool_rows), sz(p)));
  intervals::centre(request.data, shared.means, true, call.rows, centred);
  if (call.pool) {
    intervals::centre(request.pool, shared.pool_means, true, call.pool_rows, pool_centred);
  }
  intervals::BootstrapInput in{};
  in.q = q;
  in.p = p;
  in.order = o.order;
  in.centred = centred;
  in.rows = call.rows;
  in.pool_centred = call.pool ? pool_centred : nullptr;
  in.pool_rows = call.pool_rows;
  in.restricted = {pr.restricted, pr.ld_restricted};
  in.unrestricted = {pr.unrestricted, pr.ld_unrestricted};
  in.estimates = shared.slots;
  in.resamples = request.resamples;
  in.seed = request.seed;
  in.threads = threads_wanted(request.threads);
  int extra_count = call.extra.count;
  if (call.task != nullptr) {
    in.extra = {extra_count, call.extra.scratch, compute_validity, &call.task->job,
                validity::first_bounded(call.task->job)};
    // The estimates, the matrices' and then the question's, side by side.
    std::copy(shared.extra_estimates, shared.extra_estimates + extra_count,
              shared.slots + squared(q));
  }
  s.threads = intervals::bootstrap_lanes(in.threads, request.resamples);
  s.failed_resamples = intervals::bootstrap(
      in, request.interval, request.level, shared.boot_se, shared.boot_lower, shared.boot_upper,
      cursor.w, int_workspace.data() + 2 * sz(q), &s.percentile_fallbacks);
  for (int v = 0; v < extra_count; ++v) {
    std::size_t k = squared(q) + sz(v);
    out.extra(v, shared.boot_se[k], shared.boot_lower[k], shared.boot_upper[k]);
  }
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i <= j; ++i) {
      std::size_t k = intervals::covariance_slot(i, j);
      out.covariance(i, j, shared.boot_se[k], shared.boot_lower[k], shared.boot_upper[k]);
      if (i == j) {
        out.diagonal(i);
        continue;
      }
      k = intervals::correlation_slot(q, i, j);
      out.correlation(i, j, shared.boot_se[k], shared.boot_lower[k], shared.boot_upper[k]);
    }
  }
}

// How V and S vary for the delta methods: normal theory from the matrices
// and their sample sizes, or adf from the centred raw scores (the pool's
// too, when given).
struct DeltaSampling {
  intervals::Sampling of_v;
  intervals::Sampling of_s;
};

DeltaSampling delta_sampling(const Call& call, const Order& o, const Shared& shared,
                             const intervals::Corrected& model, const IntervalSummary& s,
                             double* centred, double* pool_centred, double* projection) {
  const IntervalRequest& request = call.request;
  bool adf = request.method == IntervalMethod::adf;
  DeltaSampling d{};
  d.of_v.known = false;
  if (adf) {
    intervals::centre(request.data, shared.means, false, call.rows, centred);
    d.of_v.raw = true;
    d.of_v.n = call.rows;
    d.of_v.centred = centred;
    d.of_v.ld_centred = at_least_one(call.rows);
    d.of_v.order = o.order;
    d.of_v.projection = projection;
  } else {
    d.of_v.sigma = model.v;
    d.of_v.n = s.n;
  }
  if (call.pool && adf) {
    intervals::centre(request.pool, shared.pool_means, false, call.pool_rows, pool_centred);
    d.of_s.known = false;
    d.of_s.raw = true;
    d.of_s.n = call.pool_rows;
    d.of_s.centred = pool_centred;
    d.of_s.ld_centred = at_least_one(call.pool_rows);
    d.of_s.projection = projection;
  } else if (s.n_unrestricted > 0) {
    d.of_s.known = false;
    d.of_s.sigma = model.s;
    d.of_s.n = s.n_unrestricted;
  }
  return d;
}

// The delta methods' SEs and bounds of every value.
void delta_values(const Call& call, const Order& o, const LawleyProblem& pr, const api::Carved& c,
                  const Shared& shared, Cursor& cursor, std::span<int> int_workspace,
                  const Writer& out, const IntervalSummary& s) {
  int q = call.q;
  int p = call.p;
  int ld_q = at_least_one(q);
  intervals::Corrected model = intervals::permuted_model(
      q, p, o, {pr.restricted, pr.ld_restricted}, {pr.unrestricted, pr.ld_unrestricted},
      {shared.cov, ld_q}, c.blocks, shared.model);

  double* centred = cursor.take(saturating_times(sz(call.rows), sz(q)));
  double* pool_centred = cursor.take(saturating_times(sz(call.pool_rows), sz(p)));
  double* g_v = cursor.take(squared(q));
  double* g_s = cursor.take(squared(p));
  double* projection = cursor.take(sz(std::max(call.rows, call.pool_rows)));
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
  DeltaSampling sampling =
      delta_sampling(call, o, shared, model, s, centred, pool_centred, projection);
  auto standard_error = [&]() {
    double variance = intervals::gradient_variance(g, true, sampling.of_v) +
                      intervals::gradient_variance(g, false, sampling.of_s);
    g.clear();
    return std::sqrt(variance);
  };
  intervals::Quantiles z = intervals::two_sided(call.request.level);

  for (int j = 0; j < (call.task == nullptr ? q : 0); ++j) {
    for (int i = 0; i <= j; ++i) {
      int x = o.position[i];
      int y = o.position[j];
      intervals::add_covariance_gradient(model, x, y, 1.0, g);
      double se = standard_error();
      intervals::Bounds b = intervals::wald(shared.cov[sz(i) + sz(j) * sz(ld_q)], se, z);
      out.covariance(i, j, se, b.lower, b.upper);
      if (i == j) {
        out.diagonal(i);
        continue;
      }
      intervals::add_correlation_gradient(model, x, y, g);
      se = standard_error();
      b = intervals::fisher(shared.corr[sz(i) + sz(j) * sz(ld_q)], se, z);
      out.correlation(i, j, se, b.lower, b.upper);
    }
  }
  const double* estimates = shared.extra_estimates;
  for (int v = 0; v < call.extra.count; ++v) {
    double estimate = estimates[v];
    if (std::isnan(estimate)) {  // an increment without a base set
      out.extra(v, not_a_number, not_a_number, not_a_number);
      continue;
    }
    const validity::Job& job = call.task->job;
    validity::gradient(job, model, o.position, v, estimates, shared.extra_scratch, g);
    double se = standard_error();
    validity::IntervalKind kind = validity::interval_kind(job, v);
    intervals::Bounds b = intervals::wald(estimate, se, z);
    if (kind.kind == validity::Kind::fisher) {
      b = intervals::fisher(estimate, se, z);
    } else if (kind.kind == validity::Kind::fisher_of) {
      // The interval of the value it scales, scaled alike.
      double root = std::sqrt(job.reliability);
      b = intervals::fisher(estimates[kind.of_value], se * root, z);
      b.lower /= root;
      b.upper /= root;
    } else if (kind.kind == validity::Kind::root_fisher) {
      b = intervals::root_fisher(estimate, se, z);
    }
    // R is not below 0: its Fisher interval, cut at 0, is the root of
    // R^2's (intervals::root_fisher).
    if (kind.nonnegative) b.lower = std::max(b.lower, 0.0);
    out.extra(v, se, b.lower, b.upper);
  }
}

Status finish(const IntervalSummary& s, IntervalSummary* summary) {
  if (summary != nullptr) *summary = s;
  return s.status;
}

// lawley_intervals() and lawley_validity(): the matrices' intervals, or
// the validity question's values (task not null).
Status run(const LawleyProblem& problem, const IntervalRequest& asked,
           const IntervalResults& results, std::span<double> workspace,
           std::span<int> int_workspace, IntervalSummary* summary, const ValidityTask* task) {
  Call call;
  Invalid invalid = check_call(problem, asked, results, workspace, int_workspace, task, call);
  if (invalid.argument != Argument::none) return report_invalid(invalid, summary);
  int q = call.q;
  int p = call.p;

  // The workspace: the correction's part first, then the shared one.
  Layout l = layout(q, p, call.request, call.extra);
  Cursor cursor{workspace.data() + l.correction};
  Shared shared = carve_shared(call, cursor);

  LawleyProblem pr = problem;
  invalid = problem_from_scores(call, shared, pr);
  if (invalid.argument != Argument::none) return report_invalid(invalid, summary);
  Order o{};
  invalid = api::check_problem(pr, workspace.first(l.correction), int_workspace, o);
  if (invalid.argument != Argument::none) return report_invalid(invalid, summary);

  IntervalSummary s = summary_of(call);
  copy_inputs(q, p, pr, results);

  api::Carved c = api::carve(q, p, workspace.data());
  ConstView restricted{pr.restricted, pr.ld_restricted};
  ConstView unrestricted{pr.unrestricted, pr.ld_unrestricted};
  int ld_q = at_least_one(q);
  bool ok = intervals::correct_into_slots(q, p, o.order, restricted, unrestricted, c.blocks,
                                          {shared.cov, ld_q}, {shared.corr, ld_q}, shared.slots);
  int info = ok ? 0 : lawley_products(p, q, restricted, unrestricted, o.order, c.blocks);
  bool extra_ok = true;
  if (task != nullptr && info == 0) {
    extra_ok = validity::values(task->job, {shared.cov, ld_q}, shared.extra_estimates,
                                shared.extra_scratch);
  }
  Writer out{results,     task, shared.extra_estimates,   c.reliability_of,
             shared.corr, ld_q, !pr.reliabilities.empty()};
  if (info != 0 || !extra_ok) {
    s.status = Status::not_positive_definite;
    s.leading_minor = info;
    if (info != 0)
      std::fill(shared.extra_estimates, shared.extra_estimates + call.extra.count, not_a_number);
    out.not_computed(q, call.extra.count);
    return finish(s, summary);
  }
  if (call.estimates_only) {
    for (int v = 0; v < call.extra.count; ++v) {
      out.extra(v, not_a_number, not_a_number, not_a_number);
    }
    return finish(s, summary);
  }
  reliabilities_by_input(q, p, o, pr, c.reliability_of);
  if (call.bootstrap) {
    bootstrap_values(call, o, pr, shared, cursor, int_workspace, out, s);
  } else {
    delta_values(call, o, pr, c, shared, cursor, int_workspace, out, s);
  }
  return finish(s, summary);
}

}  // namespace

WorkspaceSize lawley_intervals_workspace_size(int q, int p, const IntervalRequest& request) {
  if (q < 0 || p < 0 || p > q) return {};
  if (api::check_request(q, p, request).argument != Argument::none) return {};
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
  if (api::check_request(q, p, r).argument != Argument::none) return {};
  return total(q, p, r, extra_size(&task));
}

Status lawley_validity(const LawleyProblem& problem, const IntervalRequest& request,
                       const ValidityQuestion& question, const ValidityResults& results,
                       std::span<double> workspace, std::span<int> int_workspace,
                       IntervalSummary* summary) {
  Invalid invalid = api::check_question(problem.q, question);
  if (invalid.argument != Argument::none) return report_invalid(invalid, summary);
  ValidityTask task{
      {question.criterion, question.predictors.data(), static_cast<int>(question.predictors.size()),
       question.base, question.criterion_reliability},
      results};
  return run(problem, request, IntervalResults{}, workspace, int_workspace, summary, &task);
}

}  // namespace tolbe
