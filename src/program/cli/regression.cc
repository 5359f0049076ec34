// The validity question on the command line (--criterion, --predictors,
// --base), and the reliabilities of the restricted sample converted to the
// unrestricted population's (--reliabilities-from=restricted).

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/solved.h"
#include "tolbe/validity.h"

namespace tolbe {
namespace {

std::string variable_name(const Solved& s, int k) {
  return s.source.names.empty() ? std::to_string(k + 1)
                                : s.source.names[static_cast<std::size_t>(k)];
}

// The variables (from 0) that `list` names among the problem's q: each item
// a variable's name or a number or range from 1, as --select has them.
// False with the complaint in `error`.
bool variables_of(const std::string& list, const char* option, int q, const Solved& s,
                  std::vector<int>& out, std::string& error) {
  const std::vector<std::string>& names = s.source.names;
  out.clear();
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = list.find(',', start);
    std::string item =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    auto named = std::find(names.begin(), names.end(), item);
    std::vector<int> numbers;
    if (named != names.end()) {
      numbers.push_back(static_cast<int>(named - names.begin()) + 1);
    } else if (item.empty() || !parse_selection(item, numbers) || numbers.back() > q) {
      error = std::string("'") + option + "' names \"" + item + "\", which is no ";
      if (names.empty()) {
        error += "variable number from 1 to " + std::to_string(q);
      } else {
        std::string all;
        for (const std::string& n : names) all += (all.empty() ? "" : ", ") + n;
        error += "variable (" + all + ") nor a number from 1 to " + std::to_string(q);
      }
      return false;
    }
    for (int v : numbers) {
      if (std::find(out.begin(), out.end(), v - 1) != out.end()) {
        error = std::string("'") + option + "' names " + variable_name(s, v - 1) + " twice";
        return false;
      }
      out.push_back(v - 1);
    }
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool selected(const Solved& s, int k) {
  return std::find(s.selection.begin(), s.selection.end(), k) != s.selection.end();
}

// Where the reliability of variable k (not a selection variable) is in
// s.problem.reliabilities: the other variables follow the p selection
// variables' places in index order.
int reliability_place(const Solved& s, int k) {
  int place = s.problem.n_nonrestricted;
  for (int i = 0; i < k; ++i) {
    if (!selected(s, i)) ++place;
  }
  return place;
}

}  // namespace

bool convert_reliabilities(const Options& options, const LawleyProblem& lp, const std::string& name,
                           Solved& s) {
  Problem& pr = s.problem;
  if (!options.reliabilities_restricted || !pr.with_reliabilities()) return true;
  // The corrected variances do not depend on the reliabilities; when the
  // correction fails, correct() says why.
  LawleyProblem without = lp;
  without.reliabilities = {};
  LawleyCorrection c = lawley(without);
  if (c.status != Status::ok) return true;
  s.restricted_reliabilities.assign(pr.reliabilities, pr.reliabilities + MAX_VARIABLES);
  for (int k = 0; k < lp.q; ++k) {
    if (selected(s, k)) continue;
    int place = reliability_place(s, k);
    auto kk = static_cast<std::size_t>(k + k * lp.q);
    double converted = unrestricted_reliability(pr.reliabilities[place],
                                                pr.restricted_cov(k + 1, k + 1), c.covariances[kk]);
    if (std::isnan(converted)) {
      s.error = "tolbe: " + name + ": the reliability of " +
                (s.source.names.empty() ? "variable " : "") + variable_name(s, k) +
                " cannot be converted to the unrestricted population's (a variance not "
                "positive, or a value not finite)";
      return false;
    }
    pr.reliabilities[place] = converted;
  }
  return true;
}

bool add_regression(const LawleyProblem& lp, const IntervalRequest& request, const Options& options,
                    const std::string& name, Solved& s) {
  auto r = std::make_unique<Regression>();
  std::string error;
  auto refuse = [&](const std::string& why) {
    s.error = "tolbe: " + name + ": " + why;
    return false;
  };
  std::vector<int> criterion;
  if (!variables_of(options.criterion, "--criterion", lp.q, s, criterion, error)) {
    return refuse(error);
  }
  if (criterion.size() != 1) {
    return refuse("'--criterion' names " + std::to_string(criterion.size()) +
                  " variables: the question has one criterion");
  }
  r->criterion = criterion[0];
  std::vector<int> predictors;
  if (options.predictors.empty()) {
    predictors.resize(static_cast<std::size_t>(lp.q));
    int count = default_predictors(lp.q, r->criterion, s.criteria, predictors);
    predictors.resize(static_cast<std::size_t>(std::max(count, 0)));
    if (predictors.empty()) {
      return refuse(
          "no variable is left to predict " + variable_name(s, r->criterion) +
          ": the other variables are criteria (they have reliabilities); name the predictors "
          "with '--predictors'");
    }
  } else {
    if (!variables_of(options.predictors, "--predictors", lp.q, s, predictors, error)) {
      return refuse(error);
    }
    if (std::find(predictors.begin(), predictors.end(), r->criterion) != predictors.end()) {
      return refuse("'--predictors' names the criterion, " + variable_name(s, r->criterion));
    }
  }
  if (!options.base.empty()) {
    std::vector<int> base;
    if (!variables_of(options.base, "--base", lp.q, s, base, error)) return refuse(error);
    for (int k : base) {
      if (std::find(predictors.begin(), predictors.end(), k) == predictors.end()) {
        return refuse("'--base' names " + variable_name(s, k) + ", which is no predictor");
      }
    }
    if (base.size() == predictors.size()) {
      return refuse("'--base' names every predictor: nothing is added to the base");
    }
    // The base first, then the predictors added to it, each in its order.
    r->predictors = base;
    for (int k : predictors) {
      if (std::find(base.begin(), base.end(), k) == base.end()) r->predictors.push_back(k);
    }
    r->base = static_cast<int>(base.size());
  } else {
    r->predictors = predictors;
  }
  const Problem& pr = s.problem;
  if (pr.with_reliabilities() && !selected(s, r->criterion)) {
    r->criterion_reliability = pr.reliabilities[reliability_place(s, r->criterion)];
    r->reliability_given = true;
  }

  std::size_t values = validity_values(r->predictors.size());
  for (std::vector<double>* v : {&r->estimate, &r->se, &r->lower, &r->upper}) {
    v->assign(values, std::nan(""));
  }
  ValidityQuestion question;
  question.criterion = r->criterion;
  question.predictors = r->predictors;
  question.base = r->base;
  question.criterion_reliability = r->criterion_reliability;
  WorkspaceSize need = lawley_validity_workspace_size(lp.q, lp.p, r->predictors.size(), request);
  std::vector<double> work;
  std::vector<int> int_work;
  if (!allocate_workspace(need, "the validity question", name, s, work, int_work)) return false;
  IntervalSummary summary;
  Status status = lawley_validity(
      lp, request, question, {r->estimate.data(), r->se.data(), r->lower.data(), r->upper.data()},
      work, int_work, &summary);
  if (status == Status::invalid_argument) {
    return refuse("the validity question: " + std::string(summary.reason));
  }
  if (status == Status::not_positive_definite) {
    return refuse(
        "the corrected var/cov matrix of the predictors is not positive definite: they have no "
        "regression weights");
  }
  s.regression = std::move(r);
  return true;
}

}  // namespace tolbe
