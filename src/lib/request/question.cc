#include <optional>
#include <string>
#include <vector>

#include "request/refusal.h"
#include "request/state.h"
#include "tolbe/request.h"
#include "tolbe/validity.h"

namespace tolbe {

namespace {

using request::refuse;
using A = CallArgument;
using R = RefusalCode;

// Refuses a set that names a variable twice, or the criterion.
std::optional<Refusal> check_set(const QuestionCall& question, const std::vector<int>& x,
                                 std::size_t from, std::size_t to, int y, A argument) {
  std::string me = mention(question.spelling, argument);
  for (std::size_t k = from + 1; k < to; ++k) {
    for (std::size_t i = from; i < k; ++i) {
      if (x[i] == x[k]) {
        return refuse(R::repeated, argument,
                      me + " names " + variable_label(question.names, x[k]) + " more than once",
                      {x[k]});
      }
    }
  }
  for (std::size_t j = from; j < to; ++j) {
    if (x[j] != y) continue;
    return refuse(R::repeated, argument,
                  "the criterion " + variable_label(question.names, y) + " is among " +
                      (argument == A::predictors ? std::string("the predictors") : me),
                  {y});
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> resolve_question(const QuestionCall& question, ResolvedQuestion& out) {
  const Spelling& s = question.spelling;
  out = ResolvedQuestion{};
  request::VariableSet set{s, question.q, question.names, "the fit", "variable names"};
  if (!question.criterion.given() || question.criterion.size() != 1) {
    return refuse(R::not_variables, A::criterion,
                  mention(s, A::criterion) + " must be one variable, by name or number");
  }
  std::vector<int> y;
  if (auto refusal = request::variables_in(set, question.criterion, A::criterion, y)) {
    return refusal;
  }
  out.criterion = y[0];
  bool increment = question.added.given();
  A first = increment ? A::base : A::predictors;
  if (!increment && !question.predictors.given()) {
    out.predictors.resize(static_cast<std::size_t>(question.q));
    int count = default_predictors(question.q, out.criterion, question.criteria,
                                   std::span<int>(out.predictors));
    out.predictors.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (out.predictors.empty()) {
      return refuse(R::needs_argument, A::predictors,
                    "the criterion " + variable_label(question.names, out.criterion) +
                        " has no other variable to be regressed on; name " +
                        mention(s, A::predictors));
    }
    return std::nullopt;
  }
  // Something that is neither names nor numbers is said to be so, not to
  // name no variable.
  using Kind = Given::Kind;
  if (question.predictors.kind != Kind::other && question.predictors.size() == 0) {
    return refuse(R::wrong_count, first, mention(s, first) + " must name at least one variable");
  }
  if (increment && question.added.kind != Kind::other && question.added.size() == 0) {
    return refuse(R::wrong_count, A::added,
                  mention(s, A::added) + " must name at least one variable");
  }
  std::size_t given = question.predictors.size() + (increment ? question.added.size() : 0);
  if (given > static_cast<std::size_t>(max_variables)) {
    return refuse(R::too_many_variables, first,
                  increment
                      ? mention(s, A::base) + " and " + mention(s, A::added) + " name " +
                            std::to_string(given) + " variables; at most " +
                            std::to_string(max_variables) + " are taken"
                      : mention(s, A::predictors) + " names " + std::to_string(given) +
                            " variables; at most " + std::to_string(max_variables) + " are taken");
  }
  std::vector<int> x;
  if (auto refusal = request::variables_in(set, question.predictors, first, x)) return refusal;
  std::size_t n_first = x.size();
  if (increment) {
    std::vector<int> more;
    if (auto refusal = request::variables_in(set, question.added, A::added, more)) return refusal;
    x.insert(x.end(), more.begin(), more.end());
  }
  if (auto refusal = check_set(question, x, 0, n_first, out.criterion, first)) return refusal;
  if (increment) {
    if (auto refusal = check_set(question, x, n_first, x.size(), out.criterion, A::added)) {
      return refusal;
    }
    for (std::size_t j = n_first; j < x.size(); ++j) {
      for (std::size_t i = 0; i < n_first; ++i) {
        if (x[i] != x[j]) continue;
        return refuse(R::repeated, A::added,
                      mention(s, A::base) + " and " + mention(s, A::added) + " both name " +
                          variable_label(question.names, x[j]),
                      {x[j]});
      }
    }
  }
  out.predictors = x;
  out.base = increment ? static_cast<int>(n_first) : 0;
  return std::nullopt;
}

Refusal question_not_positive_definite(const QuestionCall& question,
                                       const ResolvedQuestion& resolved) {
  return refuse(R::not_positive_definite, A::predictors,
                "the corrected var/cov matrix of the predictors (" +
                    request::labels(question.names, resolved.predictors) +
                    ") or of the base set is not positive definite: a predictor is a linear "
                    "combination of others",
                resolved.predictors);
}

}  // namespace tolbe
