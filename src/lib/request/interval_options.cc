#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "request/refusal.h"
#include "tolbe/request.h"

namespace tolbe {

namespace {

using request::refuse;
using A = CallArgument;
using R = RefusalCode;

constexpr const char* method_names[] = {"none", "normal", "adf", "bootstrap"};
constexpr const char* ci_type_names[] = {"bca", "percentile"};
// The largest seed a double holds exactly.
constexpr double largest_exact_seed = 9007199254740992.0;

// `given` as one of the `n` choices, its index; -1 when it is none.
int choice(const Given& given, const char* const* choices, int n) {
  if (given.kind != Given::Kind::texts || given.texts.size() != 1) return -1;
  for (int k = 0; k < n; ++k) {
    if (given.texts[0] == choices[k]) return k;
  }
  return -1;
}

// `given` as one whole number in [low, high].
std::optional<double> whole_number(const Given& given, double low, double high) {
  if (given.kind != Given::Kind::numbers || given.numbers.size() != 1) return std::nullopt;
  double value = given.numbers[0];
  if (!std::isfinite(value) || value != std::floor(value) || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

// A seed: a whole number a double holds exactly, or decimal digits up to
// 2^64 - 1.
std::optional<std::uint64_t> seed_of(const Given& given) {
  if (given.kind == Given::Kind::texts) {
    if (given.texts.size() != 1 || given.texts[0].empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : given.texts[0]) {
      if (c < '0' || c > '9') return std::nullopt;
      auto digit = static_cast<std::uint64_t>(c - '0');
      if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
      value = value * 10 + digit;
    }
    return value;
  }
  auto value = whole_number(given, 0, largest_exact_seed);
  if (!value) return std::nullopt;
  return static_cast<std::uint64_t>(*value);
}

}  // namespace

std::optional<Refusal> resolve_interval_options(const Call& call, IntervalOptions& a) {
  const Spelling& s = call.spelling;
  auto m = [&](A argument) { return mention(s, argument); };
  a = IntervalOptions{};
  bool with_data = call.from_data;
  if (!call.interval.given()) {
    a.method = with_data        ? IntervalMethod::adf
               : call.n.given() ? IntervalMethod::normal
                                : IntervalMethod::none;
  } else {
    int method = choice(call.interval, method_names, 4);
    if (method < 0) {
      return refuse(R::invalid_value, A::interval,
                    m(A::interval) + " must be \"none\", \"normal\", \"adf\" or \"bootstrap\"");
    }
    a.method = static_cast<IntervalMethod>(method);
  }
  if (call.n.given()) {
    if (with_data) {
      return refuse(R::not_for_this_call, A::n,
                    m(A::n) + " is for matrices: with " + m(A::data) +
                        " the sample size is its number of complete rows");
    }
    auto value = whole_number(call.n, 2, INT_MAX);
    if (!value) {
      return refuse(R::invalid_value, A::n,
                    m(A::n) +
                        ", the size of the restricted sample, must be a whole number of at "
                        "least 2");
    }
    a.n = static_cast<int>(*value);
  }
  if (call.n_unrestricted.given()) {
    if (call.from_pool) {
      return refuse(R::not_for_this_call, A::n_unrestricted,
                    m(A::n_unrestricted) + " is for a matrix: with " + m(A::pool) +
                        " the pool's size is its number of complete rows");
    }
    auto value = whole_number(call.n_unrestricted, 2, INT_MAX);
    if (!value) {
      return refuse(R::invalid_value, A::n_unrestricted,
                    m(A::n_unrestricted) + ", the size of the sample " + m(A::unrestricted) +
                        " was estimated from, must be a whole number of at least 2 (leave it "
                        "out when the matrix is known)");
    }
    a.n_unrestricted = static_cast<int>(*value);
  }
  if (call.level.given()) {
    double value = call.level.kind == Given::Kind::numbers && call.level.numbers.size() == 1
                       ? call.level.numbers[0]
                       : NAN;
    if (!(value > 0.0 && value < 1.0)) {
      return refuse(R::invalid_value, A::level,
                    m(A::level) + " must be a number between 0 and 1, such as 0.95");
    }
    a.level = value;
  }
  if (call.resamples.given()) {
    auto value = whole_number(call.resamples, min_resamples, max_resamples);
    if (!value) {
      return refuse(R::invalid_value, A::resamples,
                    m(A::resamples) +
                        ", the number of bootstrap resamples, must be a whole "
                        "number from " +
                        std::to_string(min_resamples) + " to " + std::to_string(max_resamples));
    }
    a.resamples = static_cast<int>(*value);
  }
  if (call.seed.given()) {
    auto value = seed_of(call.seed);
    if (!value) {
      return refuse(R::invalid_value, A::seed,
                    m(A::seed) +
                        " must be a whole number from 0 to 2^53, or a string of decimal "
                        "digits for any seed from 0 to 18446744073709551615 (2^64 - 1), "
                        "such as \"9007199254740993\"");
    }
    a.seed = *value;
    a.seed_given = true;
  }
  if (call.threads.given()) {
    auto value = whole_number(call.threads, 0, INT_MAX);
    if (!value) {
      return refuse(R::invalid_value, A::threads,
                    m(A::threads) +
                        " must be a whole number: at most that many threads, 0 for "
                        "all the machine has");
    }
    a.threads = static_cast<int>(*value);
  }
  if (call.ci_type.given()) {
    int type = choice(call.ci_type, ci_type_names, 2);
    if (type < 0) {
      return refuse(R::invalid_value, A::ci_type,
                    m(A::ci_type) + " must be \"bca\" or \"percentile\"");
    }
    a.ci_type = static_cast<BootstrapInterval>(type);
  }

  // Arguments that the method does not use are a mistake, not ignored.
  A bootstrap_only = call.resamples.given() ? A::resamples
                     : call.seed.given()    ? A::seed
                     : call.threads.given() ? A::threads
                     : call.ci_type.given() ? A::ci_type
                                            : A::none;
  const char* method = method_names[static_cast<int>(a.method)];
  if (a.method == IntervalMethod::none) {
    A given = call.level.given()            ? A::level
              : call.n_unrestricted.given() ? A::n_unrestricted
              : call.n.given()              ? A::n
                                            : bootstrap_only;
    if (given == A::none) return std::nullopt;
    if (!call.interval.given()) {
      return refuse(R::not_for_this_call, given,
                    m(given) + " is for intervals, and this call computes none: give " + m(A::n) +
                        " (the size of the restricted sample) or raw scores as " + m(A::data) +
                        ", or choose " + m(A::interval));
    }
    return refuse(R::not_for_this_call, given,
                  m(given) + " is for intervals, but " + assignment(s, A::interval, "none"));
  }
  if (a.method != IntervalMethod::bootstrap && bootstrap_only != A::none) {
    return refuse(R::not_for_this_call, bootstrap_only,
                  m(bootstrap_only) + " is for " + assignment(s, A::interval, "bootstrap") +
                      ", not \"" + method + "\"");
  }
  if (a.method == IntervalMethod::normal && !with_data && a.n == 0) {
    return refuse(R::needs_argument, A::n,
                  assignment(s, A::interval, "normal") + " needs " + m(A::n) +
                      ", the size of the restricted sample (or its raw scores as " + m(A::data) +
                      ")");
  }
  if (a.method != IntervalMethod::normal && !with_data) {
    return refuse(R::needs_argument, A::data,
                  assignment(s, A::interval, method) +
                      " needs the restricted sample's raw scores as " + m(A::data) +
                      " (one row per person)");
  }
  if (a.method == IntervalMethod::bootstrap && a.n_unrestricted != 0) {
    return refuse(R::not_for_this_call, A::n_unrestricted,
                  "the bootstrap lets the unrestricted matrix vary only by resampling the pool's "
                  "raw scores (" +
                      m(A::pool) + "); leave out " + m(A::n_unrestricted) + ", or choose " +
                      assignment(s, A::interval, "normal") + " or \"adf\"");
  }
  return std::nullopt;
}

std::optional<Refusal> rows_refusal(const Call& call, const IntervalOptions& options,
                                    CallArgument scores, int rows_used) {
  if (options.method != IntervalMethod::bootstrap || rows_used >= min_bootstrap_rows) {
    return std::nullopt;
  }
  return refuse(R::too_few_rows, scores,
                "the bootstrap needs at least " + std::to_string(min_bootstrap_rows) +
                    " complete rows in " + mention(call.spelling, scores) + "; it has " +
                    std::to_string(rows_used));
}

}  // namespace tolbe
