#include "api/interval_checks.h"

#include <cstddef>

#include "correction/sizes.h"
#include "intervals/raw_scores.h"

namespace tolbe::api {

Invalid check_request(int q, int p, const IntervalRequest& r) {
  if (r.method != IntervalMethod::normal && r.method != IntervalMethod::adf &&
      r.method != IntervalMethod::bootstrap) {
    return {Argument::request, "the method is not normal, adf or bootstrap"};
  }
  if (!(r.level > 0.0 && r.level < 1.0)) {
    return {Argument::request, "the level is not between 0 and 1"};
  }
  bool data = intervals::has_scores(r.data);
  bool pool = intervals::has_scores(r.pool);
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
    Invalid invalid = intervals::check_scores(r.data, q, Argument::data);
    if (invalid.argument != Argument::none) return invalid;
  }
  if (pool) {
    Invalid invalid = intervals::check_scores(r.pool, p, Argument::pool);
    if (invalid.argument != Argument::none) return invalid;
  }
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

Invalid check_question(int q, const ValidityQuestion& question) {
  auto k = question.predictors.size();
  auto invalid = [](const char* reason) { return Invalid{Argument::request, reason}; };
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
  return {Argument::none, ""};
}

Status report_invalid(const Invalid& invalid, IntervalSummary* summary) {
  if (summary != nullptr) {
    *summary = IntervalSummary{};
    summary->status = Status::invalid_argument;
    summary->argument = invalid.argument;
    summary->reason = invalid.reason;
  }
  return Status::invalid_argument;
}

}  // namespace tolbe::api

namespace tolbe {

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
