#pragma once

// The resolvers of a call, in the order resolve_call() runs them; each
// fills its part of the resolved call or returns the refusal.

#include <optional>

#include "tolbe/request.h"

namespace tolbe::request {

std::optional<Refusal> check_names(const Call& call);
std::optional<Refusal> resolve_selection(const Call& call, ResolvedCall& out);
std::optional<Refusal> resolve_reliabilities(const Call& call, ResolvedCall& out);
std::optional<Refusal> resolve_reliability_sample(const Call& call, ResolvedCall& out);
std::optional<Refusal> resolve_criteria(const Call& call, ResolvedCall& out);
std::optional<Refusal> resolve_means(const Call& call, ResolvedCall& out);

// The variables `given` names (names, or whole numbers counted as the
// client counts), as indices from 0. Unknown variables are refused;
// repeats are left to the caller.
std::optional<Refusal> variables_of(const Call& call, const Given& given, CallArgument argument,
                                    std::vector<int>& out);

// The variables a list is resolved against: q of them, named or not,
// `whose` and `whose_names` saying what has (or lacks) the names.
struct VariableSet {
  const Spelling& spelling;
  int q;
  const std::vector<std::string>& names;
  std::string whose;
  std::string whose_names;
};
std::optional<Refusal> variables_in(const VariableSet& set, const Given& given,
                                    CallArgument argument, std::vector<int>& out);

}  // namespace tolbe::request
