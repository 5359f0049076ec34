// The C API: a thin layer over the C++ one that lets no exception out.
#include <algorithm>
#include <array>
#include <cstdint>
#include <new>

#include "api/c_convert.h"
#include "tolbe/findings.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/screening.h"
#include "tolbe/tolbe.h"
#include "tolbe/validity.h"

namespace {

using namespace tolbe;

void copy_place(const Place& from, int to[2]) {
  to[0] = from.row;
  to[1] = from.column;
}

}  // namespace

void tolbe::c_api::to_c(const Diagnostics& d, tolbe_diagnostics* out) {
  if (out == nullptr) return;
  out->status = static_cast<int>(d.status);
  out->leading_minor = d.leading_minor;
  out->argument = static_cast<int>(d.argument);
  out->reason = d.reason;
  out->restricted_asymmetry = d.restricted_asymmetry;
  out->unrestricted_asymmetry = d.unrestricted_asymmetry;
  out->restricted_positive_definite = d.restricted_positive_definite ? 1 : 0;
  out->unrestricted_positive_definite = d.unrestricted_positive_definite ? 1 : 0;
  out->nonpositive_variances = d.nonpositive_variances;
  out->first_nonpositive_variance = d.first_nonpositive_variance.row;
  out->correlations_out_of_range = d.correlations_out_of_range;
  copy_place(d.first_correlation_out_of_range, out->first_correlation_out_of_range);
  out->disattenuated_out_of_range = d.disattenuated_out_of_range;
  copy_place(d.first_disattenuated_out_of_range, out->first_disattenuated_out_of_range);
  out->reliabilities_out_of_range = d.reliabilities_out_of_range;
  out->first_reliability_out_of_range = d.first_reliability_out_of_range;
  out->sign_changes = d.sign_changes;
  copy_place(d.first_sign_change, out->first_sign_change);
  out->unread_not_finite = d.unread_not_finite;
  copy_place(d.first_unread_not_finite, out->first_unread_not_finite);
  std::array<Finding, max_findings> found;
  out->n_findings = lawley_findings(d, found);
  for (int k = 0; k < TOLBE_MAX_FINDINGS; ++k) {
    tolbe_finding& to = out->findings[k];
    if (k >= out->n_findings) {
      to = tolbe_finding{0, 0, 0, {-1, -1}, {0.0, 0.0}, -1};
      continue;
    }
    const Finding& f = found[static_cast<std::size_t>(k)];
    to = tolbe_finding{static_cast<int>(f.code),         static_cast<int>(f.severity), f.count,
                       {f.variables[0], f.variables[1]}, {f.numbers[0], f.numbers[1]}, f.row};
  }
}

namespace {

using tolbe::c_api::to_c;

static_assert(TOLBE_MAX_FINDINGS == max_findings);
// The C names of the codes are the C++ ones.
static_assert(
    TOLBE_FINDING_RESTRICTED_LOWER_TRIANGLE ==
        static_cast<int>(FindingCode::restricted_lower_triangle) &&
    TOLBE_FINDING_RESTRICTED_UPPER_TRIANGLE ==
        static_cast<int>(FindingCode::restricted_upper_triangle) &&
    TOLBE_FINDING_UNRESTRICTED_LOWER_TRIANGLE ==
        static_cast<int>(FindingCode::unrestricted_lower_triangle) &&
    TOLBE_FINDING_UNRESTRICTED_UPPER_TRIANGLE ==
        static_cast<int>(FindingCode::unrestricted_upper_triangle) &&
    TOLBE_FINDING_RESTRICTED_ASYMMETRIC == static_cast<int>(FindingCode::restricted_asymmetric) &&
    TOLBE_FINDING_UNRESTRICTED_ASYMMETRIC ==
        static_cast<int>(FindingCode::unrestricted_asymmetric) &&
    TOLBE_FINDING_RESTRICTED_NOT_POSITIVE_DEFINITE ==
        static_cast<int>(FindingCode::restricted_not_positive_definite) &&
    TOLBE_FINDING_UNRESTRICTED_NOT_POSITIVE_DEFINITE ==
        static_cast<int>(FindingCode::unrestricted_not_positive_definite) &&
    TOLBE_FINDING_RESTRICTED_VARIANCE_NOT_POSITIVE ==
        static_cast<int>(FindingCode::restricted_variance_not_positive) &&
    TOLBE_FINDING_UNRESTRICTED_VARIANCE_NOT_POSITIVE ==
        static_cast<int>(FindingCode::unrestricted_variance_not_positive) &&
    TOLBE_FINDING_IMPLAUSIBLE_VARIANCE_RATIO ==
        static_cast<int>(FindingCode::implausible_variance_ratio) &&
    TOLBE_FINDING_COVARIANCES_BESIDE_CORRELATIONS ==
        static_cast<int>(FindingCode::covariances_beside_correlations) &&
    TOLBE_FINDING_TWO_CORRELATION_MATRICES ==
        static_cast<int>(FindingCode::two_correlation_matrices) &&
    TOLBE_FINDING_RELIABILITY_OUT_OF_RANGE ==
        static_cast<int>(FindingCode::reliability_out_of_range) &&
    TOLBE_FINDING_CORRECTED_VARIANCE_NOT_POSITIVE ==
        static_cast<int>(FindingCode::corrected_variance_not_positive) &&
    TOLBE_FINDING_CORRELATION_OUT_OF_RANGE ==
        static_cast<int>(FindingCode::correlation_out_of_range) &&
    TOLBE_FINDING_DISATTENUATED_OUT_OF_RANGE ==
        static_cast<int>(FindingCode::disattenuated_out_of_range) &&
    TOLBE_FINDING_CORRELATIONS_BESIDE_COVARIANCES ==
        static_cast<int>(FindingCode::correlations_beside_covariances) &&
    TOLBE_FINDING_SIGN_CHANGE == static_cast<int>(FindingCode::sign_change) &&
    TOLBE_FINDING_SELECTION_SIGN_CHANGE == static_cast<int>(FindingCode::selection_sign_change) &&
    TOLBE_FINDING_UNREAD_NOT_FINITE == static_cast<int>(FindingCode::unread_not_finite) &&
    TOLBE_FINDING_SELECTION_VARIANCE_GREW ==
        static_cast<int>(FindingCode::selection_variance_grew) &&
    TOLBE_FINDING_TOO_FEW_ROWS == static_cast<int>(FindingCode::too_few_rows) &&
    TOLBE_FINDING_SMALL_SAMPLE == static_cast<int>(FindingCode::small_sample) &&
    TOLBE_FINDING_SUSPECT_CODE == static_cast<int>(FindingCode::suspect_code) &&
    TOLBE_FINDING_OUTLYING_VALUE == static_cast<int>(FindingCode::outlying_value) &&
    TOLBE_FINDING_POOL_SUSPECT_CODE == static_cast<int>(FindingCode::pool_suspect_code) &&
    TOLBE_FINDING_POOL_OUTLYING_VALUE == static_cast<int>(FindingCode::pool_outlying_value) &&
    TOLBE_FINDING_POOL_WITHOUT_SELECTED == static_cast<int>(FindingCode::pool_without_selected) &&
    TOLBE_FINDING_POOL_HOLDS_SELECTED_TWICE ==
        static_cast<int>(FindingCode::pool_holds_selected_twice) &&
    TOLBE_FINDING_HEAVY_TAILS == static_cast<int>(FindingCode::heavy_tails));
static_assert(TOLBE_NOTE == static_cast<int>(Severity::note) &&
              TOLBE_WARNING == static_cast<int>(Severity::warning) &&
              TOLBE_ERROR == static_cast<int>(Severity::error));

// A problem from C arguments. Negative counts give empty spans; the checks
// of the C++ API then report them.
LawleyProblem problem_of(int q, int p, const double* restricted, int ld_restricted,
                         const double* unrestricted, int ld_unrestricted, const int* selection,
                         const double* reliabilities, int n_reliabilities) {
  LawleyProblem pr;
  pr.q = q;
  pr.p = p;
  pr.restricted = restricted;
  pr.ld_restricted = ld_restricted;
  pr.unrestricted = unrestricted;
  pr.ld_unrestricted = ld_unrestricted;
  if (selection != nullptr && p > 0) pr.selection = {selection, static_cast<std::size_t>(p)};
  if (reliabilities != nullptr && n_reliabilities > 0) {
    pr.reliabilities = {reliabilities, static_cast<std::size_t>(n_reliabilities)};
  }
  return pr;
}

int invalid(Argument argument, const char* reason, tolbe_diagnostics* diagnostics) {
  Diagnostics d;
  d.status = Status::invalid_argument;
  d.argument = argument;
  d.reason = reason;
  to_c(d, diagnostics);
  return TOLBE_INVALID_ARGUMENT;
}

}  // namespace

// C++ values from the C structures, outside the C linkage block: they
// return C++ types.
namespace {

RawScores scores_from_c(const tolbe_scores& s) {
  return {s.rows, s.columns, s.data, s.ld};
}

}  // namespace

// Out-of-range enum values become ones the checks reject.
IntervalRequest tolbe::c_api::request_from_c(const tolbe_interval_request& r) {
  IntervalRequest out;
  out.method = r.method >= TOLBE_INTERVAL_NONE && r.method <= TOLBE_INTERVAL_BOOTSTRAP
                   ? static_cast<IntervalMethod>(r.method)
                   : IntervalMethod::none;
  out.level = r.level;
  out.n = r.n;
  out.n_unrestricted = r.n_unrestricted;
  out.data = scores_from_c(r.data);
  out.pool = scores_from_c(r.pool);
  out.resamples = r.resamples;
  out.seed = r.seed;
  out.threads = r.threads;
  out.interval = r.interval == TOLBE_BOOTSTRAP_PERCENTILE ? BootstrapInterval::percentile
                 : r.interval == TOLBE_BOOTSTRAP_BCA      ? BootstrapInterval::bca
                                                          : static_cast<BootstrapInterval>(-1);
  return out;
}

namespace {

using tolbe::c_api::request_from_c;

}  // namespace

tolbe_interval_summary tolbe::c_api::summary_to_c(const IntervalSummary& s) {
  return tolbe_interval_summary{static_cast<int>(s.status),
                                static_cast<int>(s.argument),
                                s.reason,
                                s.leading_minor,
                                static_cast<int>(s.method),
                                static_cast<int>(s.interval),
                                s.level,
                                s.n,
                                s.n_unrestricted,
                                s.rows_dropped,
                                s.pool_rows_dropped,
                                s.resamples,
                                s.failed_resamples,
                                s.threads,
                                s.percentile_fallbacks};
}

namespace {

using tolbe::c_api::summary_to_c;

// The problem of the C entry points' arguments (reliabilities checked by
// the caller: null only with a count of 0).
LawleyProblem problem_from_c(int q, int p, const double* restricted, int ld_restricted,
                             const double* unrestricted, int ld_unrestricted, const int* selection,
                             const double* reliabilities, int n_reliabilities) {
  LawleyProblem problem;
  problem.q = q;
  problem.p = p;
  problem.restricted = restricted;
  problem.ld_restricted = ld_restricted;
  problem.unrestricted = unrestricted;
  problem.ld_unrestricted = ld_unrestricted;
  if (selection != nullptr && p > 0) problem.selection = {selection, static_cast<std::size_t>(p)};
  if (n_reliabilities > 0) {
    problem.reliabilities = {reliabilities, static_cast<std::size_t>(n_reliabilities)};
  }
  return problem;
}

IntervalMatrices matrices_from_c(const tolbe_interval_matrices& m) {
  return {m.se, m.lower, m.upper, m.ld};
}

}  // namespace

extern "C" {

int tolbe_lawley_workspace(int q, int p, size_t* doubles, size_t* ints) {
  WorkspaceSize size = lawley_workspace_size(q, p);
  if (doubles != nullptr) *doubles = size.doubles;
  if (ints != nullptr) *ints = size.ints;
  return q < 0 || p < 0 || p > q ? TOLBE_INVALID_ARGUMENT : TOLBE_OK;
}

int tolbe_lawley(int q, int p, const double* restricted, int ld_restricted,
                 const double* unrestricted, int ld_unrestricted, const int* selection,
                 const double* reliabilities, int n_reliabilities, double* covariances,
                 int ld_covariances, double* correlations, int ld_correlations,
                 double* disattenuated, int ld_disattenuated, double* work, size_t n_work,
                 int* int_work, size_t n_int_work, tolbe_diagnostics* diagnostics) {
  if (n_reliabilities < 0 || (n_reliabilities > 0 && reliabilities == nullptr)) {
    return invalid(Argument::reliabilities, "the reliabilities are null or their count negative",
                   diagnostics);
  }
  LawleyProblem pr = problem_of(q, p, restricted, ld_restricted, unrestricted, ld_unrestricted,
                                selection, reliabilities, n_reliabilities);
  LawleyResults results{covariances,     ld_covariances, correlations,
                        ld_correlations, disattenuated,  ld_disattenuated};
  // The findings cost a third of a call at q = 50: only on request.
  Diagnostics d;
  Status status = lawley(pr, results, {work, work == nullptr ? 0 : n_work},
                         {int_work, int_work == nullptr ? 0 : n_int_work},
                         diagnostics != nullptr ? &d : nullptr);
  to_c(d, diagnostics);
  return static_cast<int>(status);
}

int tolbe_lawley_sign_changes(int q, int p, const double* restricted, int ld_restricted,
                              const int* selection, const double* correlations, int ld_correlations,
                              int* rows, int* columns, int capacity) {
  LawleyProblem pr = problem_of(q, p, restricted, ld_restricted, nullptr, 1, selection, nullptr, 0);
  return lawley_sign_changes(pr, correlations, ld_correlations, rows, columns, capacity);
}

int tolbe_lawley_means(int q, int p, const double* restricted, int ld_restricted,
                       const double* unrestricted, int ld_unrestricted, const int* selection,
                       const double* restricted_means, const double* unrestricted_means,
                       double* means, double* work, size_t n_work, int* int_work, size_t n_int_work,
                       tolbe_diagnostics* diagnostics) {
  if (q < 0 || p < 0 || p > q) {
    return invalid(q < 0 ? Argument::q : Argument::p, "q or p out of range", diagnostics);
  }
  if ((q > 0 && (restricted_means == nullptr || means == nullptr)) ||
      (p > 0 && unrestricted_means == nullptr)) {
    return invalid(Argument::means, "a means vector is null", diagnostics);
  }
  LawleyProblem pr = problem_of(q, p, restricted, ld_restricted, unrestricted, ld_unrestricted,
                                selection, nullptr, 0);
  auto q_size = static_cast<std::size_t>(q);
  auto p_size = static_cast<std::size_t>(p);
  Diagnostics d;
  Status status = lawley_means(
      pr, {restricted_means, restricted_means == nullptr ? 0 : q_size},
      {unrestricted_means, unrestricted_means == nullptr ? 0 : p_size},
      {means, means == nullptr ? 0 : q_size}, {work, work == nullptr ? 0 : n_work},
      {int_work, int_work == nullptr ? 0 : n_int_work}, diagnostics != nullptr ? &d : nullptr);
  to_c(d, diagnostics);
  return static_cast<int>(status);
}

void tolbe_cov_from_correlations(int n, const double* correlations, int ld_correlations,
                                 const double* sd, double* covariances, int ld_covariances) {
  if (n <= 0 || correlations == nullptr || sd == nullptr || covariances == nullptr) return;
  if (ld_correlations < n || ld_covariances < n) return;
  cov_from_correlations(n, correlations, ld_correlations, sd, covariances, ld_covariances);
}

size_t tolbe_finding_message(const tolbe_finding* finding, const char* const* names, int n_names,
                             char* buffer, size_t size) {
  if (finding == nullptr) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  Finding f;
  f.code = static_cast<FindingCode>(finding->code);
  f.severity = static_cast<Severity>(finding->severity);
  f.count = finding->count;
  f.variables[0] = finding->variables[0];
  f.variables[1] = finding->variables[1];
  f.numbers[0] = finding->numbers[0];
  f.numbers[1] = finding->numbers[1];
  f.row = finding->row;
  std::span<const char* const> named;
  if (names != nullptr && n_names > 0) named = {names, static_cast<std::size_t>(n_names)};
  return finding_message(f, named, buffer, size);
}

const char* tolbe_finding_code_name(int code) {
  return finding_code_name(static_cast<FindingCode>(code));
}

const char* tolbe_severity_name(int severity) {
  if (severity < 0 || severity > 2) return "";
  return severity_name(static_cast<Severity>(severity));
}

const char* tolbe_status_text(int status) {
  if (status < 0 || status > 2) return "unknown status";
  return status_text(static_cast<Status>(status));
}

void tolbe_interval_request_init(tolbe_interval_request* request) {
  if (request == nullptr) return;
  IntervalRequest defaults;
  *request = tolbe_interval_request{};
  request->method = static_cast<int>(defaults.method);
  request->level = defaults.level;
  request->resamples = defaults.resamples;
  request->seed = defaults.seed;
  request->threads = defaults.threads;
  request->interval = static_cast<int>(defaults.interval);
}

int tolbe_lawley_intervals_workspace(int q, int p, const tolbe_interval_request* request,
                                     size_t* doubles, size_t* ints) {
  if (doubles != nullptr) *doubles = 0;
  if (ints != nullptr) *ints = 0;
  if (request == nullptr || q < 0 || p < 0 || p > q) return TOLBE_INVALID_ARGUMENT;
  WorkspaceSize need = lawley_intervals_workspace_size(q, p, request_from_c(*request));
  if (need.doubles == 0 && need.ints == 0) return TOLBE_INVALID_ARGUMENT;
  if (doubles != nullptr) *doubles = need.doubles;
  if (ints != nullptr) *ints = need.ints;
  return TOLBE_OK;
}

int tolbe_lawley_intervals(int q, int p, const double* restricted, int ld_restricted,
                           const double* unrestricted, int ld_unrestricted, const int* selection,
                           const double* reliabilities, int n_reliabilities,
                           const tolbe_interval_request* request,
                           const tolbe_interval_results* results, double* work, size_t n_work,
                           int* int_work, size_t n_int_work, tolbe_interval_summary* summary) {
  IntervalSummary s;
  Status status;
  if (request == nullptr || results == nullptr || n_reliabilities < 0 ||
      (n_reliabilities > 0 && reliabilities == nullptr)) {
    s.status = status = Status::invalid_argument;
    s.argument = request == nullptr   ? Argument::request
                 : results == nullptr ? Argument::results
                                      : Argument::reliabilities;
    s.reason = request == nullptr   ? "the request is null"
               : results == nullptr ? "the results are null"
                                    : "the reliabilities are null or their count negative";
  } else {
    LawleyProblem problem =
        problem_from_c(q, p, restricted, ld_restricted, unrestricted, ld_unrestricted, selection,
                       reliabilities, n_reliabilities);
    IntervalResults r;
    r.covariances = matrices_from_c(results->covariances);
    r.correlations = matrices_from_c(results->correlations);
    r.disattenuated = matrices_from_c(results->disattenuated);
    r.restricted = results->restricted;
    r.ld_restricted = results->ld_restricted;
    r.unrestricted = results->unrestricted;
    r.ld_unrestricted = results->ld_unrestricted;
    status =
        lawley_intervals(problem, request_from_c(*request), r, {work, work == nullptr ? 0 : n_work},
                         {int_work, int_work == nullptr ? 0 : n_int_work}, &s);
  }
  if (summary != nullptr) *summary = summary_to_c(s);
  return static_cast<int>(status);
}

int tolbe_covariance_from_data(const tolbe_scores* scores, double* means, double* covariances,
                               int ld_covariances, int* rows_used, int* rows_dropped,
                               const char** reason) {
  DataSummary d;
  if (scores == nullptr) {
    d.status = Status::invalid_argument;
    d.reason = "the scores are null";
  } else {
    d = covariance_from_data(scores_from_c(*scores), means, covariances, ld_covariances);
  }
  if (rows_used != nullptr) *rows_used = d.rows_used;
  if (rows_dropped != nullptr) *rows_dropped = d.rows_dropped;
  if (reason != nullptr) *reason = d.reason;
  return static_cast<int>(d.status);
}

size_t tolbe_validity_values(int n_predictors) {
  return n_predictors < 0 ? 0 : validity_values(static_cast<std::size_t>(n_predictors));
}

int tolbe_lawley_validity_workspace(int q, int p, int n_predictors,
                                    const tolbe_interval_request* request, size_t* doubles,
                                    size_t* ints) {
  if (doubles != nullptr) *doubles = 0;
  if (ints != nullptr) *ints = 0;
  if (request == nullptr || n_predictors < 1) return TOLBE_INVALID_ARGUMENT;
  WorkspaceSize need = lawley_validity_workspace_size(q, p, static_cast<std::size_t>(n_predictors),
                                                      request_from_c(*request));
  if (need.doubles == 0 && need.ints == 0) return TOLBE_INVALID_ARGUMENT;
  if (doubles != nullptr) *doubles = need.doubles;
  if (ints != nullptr) *ints = need.ints;
  return TOLBE_OK;
}

int tolbe_lawley_validity(int q, int p, const double* restricted, int ld_restricted,
                          const double* unrestricted, int ld_unrestricted, const int* selection,
                          const double* reliabilities, int n_reliabilities,
                          const tolbe_interval_request* request,
                          const tolbe_validity_question* question, double* estimate, double* se,
                          double* lower, double* upper, double* work, size_t n_work, int* int_work,
                          size_t n_int_work, tolbe_interval_summary* summary) {
  IntervalSummary s;
  Status status;
  if (request == nullptr || question == nullptr || n_reliabilities < 0 ||
      (n_reliabilities > 0 && reliabilities == nullptr) || question->n_predictors < 1 ||
      question->predictors == nullptr) {
    s.status = status = Status::invalid_argument;
    s.argument = Argument::request;
    s.reason = "the request or the question is null, or the predictors are missing";
  } else {
    LawleyProblem problem =
        problem_from_c(q, p, restricted, ld_restricted, unrestricted, ld_unrestricted, selection,
                       reliabilities, n_reliabilities);
    ValidityQuestion v;
    v.criterion = question->criterion;
    v.predictors = {question->predictors, static_cast<std::size_t>(question->n_predictors)};
    v.base = question->base;
    v.criterion_reliability = question->criterion_reliability;
    status = lawley_validity(problem, request_from_c(*request), v, {estimate, se, lower, upper},
                             {work, work == nullptr ? 0 : n_work},
                             {int_work, int_work == nullptr ? 0 : n_int_work}, &s);
  }
  if (summary != nullptr) *summary = summary_to_c(s);
  return static_cast<int>(status);
}

double tolbe_unrestricted_reliability(double restricted_reliability, double restricted_variance,
                                      double corrected_variance) {
  return unrestricted_reliability(restricted_reliability, restricted_variance, corrected_variance);
}

void tolbe_operational_correlations(int q, const double* correlations, int ld_correlations,
                                    const double* criterion_reliabilities, double* out,
                                    int ld_out) {
  operational_correlations(q, correlations, ld_correlations, criterion_reliabilities, out, ld_out);
}

const char* tolbe_interval_method_name(int method) {
  if (method < TOLBE_INTERVAL_NONE || method > TOLBE_INTERVAL_BOOTSTRAP) return "";
  return interval_method_name(static_cast<IntervalMethod>(method));
}

int tolbe_screen(int q, int p, const tolbe_scores* data, const tolbe_scores* pool,
                 const int* selection, int n, tolbe_diagnostics* diagnostics) {
  if (diagnostics == nullptr || q < 0 || p < 0 || p > q || n < 0) return TOLBE_INVALID_ARGUMENT;
  int held = std::clamp(diagnostics->n_findings, 0, TOLBE_MAX_FINDINGS);
  std::array<Finding, max_findings> found;
  int added = 0;
  try {
    Screening s;
    if (data != nullptr) {
      RawScores no_pool;
      std::span<const int> chosen;
      if (selection != nullptr && p > 0) chosen = {selection, static_cast<std::size_t>(p)};
      s = screen_scores(scores_from_c(*data), pool != nullptr ? scores_from_c(*pool) : no_pool,
                        chosen);
    } else {
      s = screen_sample_size(n, q);
    }
    added = std::min(screening_findings(s, found), max_findings);
  } catch (const std::bad_alloc&) {
    return TOLBE_OK;
  }
  // The findings held and those added, in the order of all findings.
  std::array<tolbe_finding, 2 * TOLBE_MAX_FINDINGS> merged;
  int count = 0;
  for (int k = 0; k < held; ++k)
    merged[static_cast<std::size_t>(count++)] = diagnostics->findings[k];
  for (int k = 0; k < added; ++k) {
    const Finding& f = found[static_cast<std::size_t>(k)];
    merged[static_cast<std::size_t>(count++)] =
        tolbe_finding{static_cast<int>(f.code),         static_cast<int>(f.severity), f.count,
                      {f.variables[0], f.variables[1]}, {f.numbers[0], f.numbers[1]}, f.row};
  }
  std::stable_sort(merged.begin(), merged.begin() + count,
                   [](const tolbe_finding& a, const tolbe_finding& b) {
                     return finding_rank(static_cast<FindingCode>(a.code)) <
                            finding_rank(static_cast<FindingCode>(b.code));
                   });
  // Each code once: a screening made twice does not repeat its findings.
  int kept = 0;
  for (int k = 0; k < count; ++k) {
    const tolbe_finding& f = merged[static_cast<std::size_t>(k)];
    if (kept > 0 && diagnostics->findings[kept - 1].code == f.code) continue;
    if (kept < TOLBE_MAX_FINDINGS) diagnostics->findings[kept++] = f;
  }
  diagnostics->n_findings = kept;
  return TOLBE_OK;
}

int tolbe_default_predictors(int q, int criterion, const int* criteria, int n_criteria, int* out) {
  if (q < 0 || out == nullptr || n_criteria < 0 || (n_criteria > 0 && criteria == nullptr)) {
    return -1;
  }
  std::span<const int> named;
  if (n_criteria > 0) named = {criteria, static_cast<std::size_t>(n_criteria)};
  return default_predictors(q, criterion, named, {out, static_cast<std::size_t>(q)});
}

size_t tolbe_workspace_refusal(const char* what, size_t doubles, size_t ints, char* buffer,
                               size_t size) {
  return workspace_refusal(what, WorkspaceSize{doubles, ints}, buffer, size);
}

const char* tolbe_version(void) {
  return TOLBE_VERSION_STRING;
}
}
