#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "request/refusal.h"
#include "request/state.h"
#include "tolbe/request.h"

namespace tolbe::request {

namespace {

using A = CallArgument;
using R = RefusalCode;

// The n values of `given` in the order of `names` (by name when both are
// named, else as given, taken through `order` when it is not empty).
std::optional<Refusal> means_of(const Call& call, const Given& given, A argument, std::size_t n,
                                const std::vector<std::string>& names, const std::string& whose,
                                const std::vector<int>& order, std::vector<double>& out) {
  std::string me = mention(call.spelling, argument);
  bool finite = given.kind == Given::Kind::numbers && given.numbers.size() == n;
  for (std::size_t k = 0; finite && k < n; ++k) finite = std::isfinite(given.numbers[k]);
  if (!finite) {
    return refuse(R::invalid_value, argument,
                  me + " must be " + std::to_string(n) + " finite numbers");
  }
  bool named_names = !names.empty();
  for (const auto& name : names) named_names = named_names && !name.empty();
  if (!given.has_names || !named_names) {
    out.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
      out[k] = given.numbers[order.empty() ? k : static_cast<std::size_t>(order[k])];
    }
    return std::nullopt;
  }
  const auto& labels = given.names;
  for (const auto& name : labels) {
    if (name.empty())
      return refuse(R::partly_named, argument, me + " names some values but not all");
  }
  std::vector<std::string> wrong;
  for (std::size_t k = 0; k < n; ++k) {
    if (find_name(names, labels[k]) < 0 && !repeats_earlier(labels, k)) wrong.push_back(labels[k]);
  }
  if (!wrong.empty()) {
    return refuse(R::unknown_variable, argument,
                  me + " names variables that are not among " + whose + ": " + joined(wrong));
  }
  std::vector<std::string> twice;
  for (std::size_t k = 0; k < n; ++k) {
    if (!repeats_earlier(labels, k)) continue;
    bool listed = false;
    for (const auto& t : twice) listed = listed || t == labels[k];
    if (!listed) twice.push_back(labels[k]);
  }
  if (!twice.empty()) {
    return refuse(R::repeated, argument, me + " names a variable more than once: " + joined(twice));
  }
  out.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    int at = find_name(labels, names[k]);
    if (at < 0) return refuse(R::partly_named, argument, me + " names some values but not all");
    out[k] = given.numbers[static_cast<std::size_t>(at)];
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> resolve_means(const Call& call, ResolvedCall& out) {
  const Spelling& s = call.spelling;
  out.restricted_means.clear();
  out.unrestricted_means.clear();
  bool restricted = call.restricted_means.given();
  bool unrestricted = call.unrestricted_means.given();
  if ((restricted && !call.from_pool && !unrestricted) ||
      (unrestricted && !call.from_data && !restricted)) {
    return refuse(R::needs_argument, restricted ? A::unrestricted_means : A::restricted_means,
                  "give both " + mention(s, A::restricted_means) + " and " +
                      mention(s, A::unrestricted_means) + ", or neither");
  }
  if (restricted) {
    if (auto refusal = means_of(call, call.restricted_means, A::restricted_means,
                                static_cast<std::size_t>(call.q), call.names,
                                mention(s, restricted_side(call)), {}, out.restricted_means)) {
      return refusal;
    }
  }
  if (unrestricted) {
    // Named by the selection variables' names when the restricted side has
    // names, else by the unrestricted matrix's own; unnamed, they are in
    // the order of the matrix as given.
    std::vector<std::string> names;
    if (!call.names.empty()) {
      for (int v : out.selection) names.push_back(call.names[static_cast<std::size_t>(v)]);
    } else {
      names = call.unrestricted_names;
    }
    if (auto refusal = means_of(call, call.unrestricted_means, A::unrestricted_means,
                                static_cast<std::size_t>(out.p), names, "the selection variables",
                                out.reordered ? out.unrestricted_rows : std::vector<int>{},
                                out.unrestricted_means)) {
      return refusal;
    }
  }
  return std::nullopt;
}

}  // namespace tolbe::request
