// A call resolved: which sides it gives, the order of the resolvers, and
// what a matrix given alone as a triangle looks like.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "request/refusal.h"
#include "request/state.h"
#include "tolbe/request.h"

namespace tolbe {

std::optional<Refusal> sources_refusal(const Spelling& s, const Sources& given) {
  using A = CallArgument;
  using R = RefusalCode;
  auto m = [&](A argument) { return mention(s, argument); };
  if (given.data && given.restricted) {
    return request::refuse(R::both_given, A::data,
                           "give the restricted sample as " + m(A::restricted) +
                               " (its var/cov matrix) or as " + m(A::data) +
                               " (its raw scores), not both");
  }
  if (!given.data && !given.restricted) {
    return request::refuse(R::neither_given, A::restricted,
                           "give the restricted sample's var/cov matrix as " + m(A::restricted) +
                               ", or its raw scores as " + m(A::data));
  }
  if (given.pool && given.unrestricted) {
    return request::refuse(R::both_given, A::pool,
                           "give the unrestricted var/cov matrix as " + m(A::unrestricted) +
                               " or the pool's raw scores as " + m(A::pool) + ", not both");
  }
  if (!given.pool && !given.unrestricted) {
    return request::refuse(R::neither_given, A::unrestricted,
                           "give the unrestricted var/cov matrix of the selection variables as " +
                               m(A::unrestricted) + ", or the pool's raw scores as " + m(A::pool));
  }
  if (given.data && given.restricted_means) {
    return request::refuse(R::not_for_this_call, A::restricted_means,
                           "with " + m(A::data) +
                               " the restricted means are the data's: leave out " +
                               m(A::restricted_means));
  }
  if (given.pool && given.unrestricted_means) {
    return request::refuse(R::not_for_this_call, A::unrestricted_means,
                           "with " + m(A::pool) +
                               " the unrestricted means are the pool's: leave out " +
                               m(A::unrestricted_means));
  }
  return std::nullopt;
}

Resolution resolve_call(const Call& call) {
  // Names that are all empty (R's NA names, say) are no names.
  auto unnamed = [](const std::vector<std::string>& names) {
    return !names.empty() &&
           std::all_of(names.begin(), names.end(), [](const std::string& n) { return n.empty(); });
  };
  if (unnamed(call.names) || unnamed(call.unrestricted_names)) {
    Call named = call;
    if (unnamed(named.names)) named.names.clear();
    if (unnamed(named.unrestricted_names)) named.unrestricted_names.clear();
    return resolve_call(named);
  }
  Resolution r;
  auto& out = r.call;
  if ((r.refusal = resolve_interval_options(call, out.intervals))) return r;
  if ((r.refusal = request::check_names(call))) return r;
  if ((r.refusal = request::resolve_selection(call, out))) return r;
  if ((r.refusal = request::resolve_reliabilities(call, out))) return r;
  if ((r.refusal = request::resolve_reliability_sample(call, out))) return r;
  if ((r.refusal = request::resolve_criteria(call, out))) return r;
  if ((r.refusal = request::resolve_means(call, out))) return r;
  return r;
}

namespace {

// Whether the upper and the lower triangle of the n x n `a` hold any value
// other than 0 and NaN.
void filled_sides(int n, const double* a, int ld, bool& upper, bool& lower) {
  upper = lower = false;
  auto at = [&](int i, int j) {
    return a[static_cast<std::size_t>(i) +
             static_cast<std::size_t>(j) * static_cast<std::size_t>(ld)];
  };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double above = at(i, j), below = at(j, i);
      if (above != 0.0 && !std::isnan(above)) upper = true;
      if (below != 0.0 && !std::isnan(below)) lower = true;
      if (upper && lower) return;
    }
  }
}

}  // namespace

bool may_be_triangle(int n, const double* a, int ld) {
  if (n < 2 || a == nullptr) return false;
  bool upper = false, lower = false;
  filled_sides(n, a, ld, upper, lower);
  return !(upper && lower);
}

bool one_sided(int n, const double* a, int ld) {
  if (n < 2 || a == nullptr) return false;
  bool upper = false, lower = false;
  filled_sides(n, a, ld, upper, lower);
  return upper != lower;
}

}  // namespace tolbe
