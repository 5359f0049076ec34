#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "request/refusal.h"
#include "tolbe/request.h"

namespace tolbe {

namespace {

constexpr const char* argument_names[call_argument_count] = {"",
                                                             "restricted",
                                                             "unrestricted",
                                                             "data",
                                                             "pool",
                                                             "selection",
                                                             "reliabilities",
                                                             "reliability_sample",
                                                             "criteria",
                                                             "restricted_means",
                                                             "unrestricted_means",
                                                             "interval",
                                                             "n",
                                                             "n_unrestricted",
                                                             "level",
                                                             "resamples",
                                                             "seed",
                                                             "threads",
                                                             "ci_type",
                                                             "criterion",
                                                             "predictors",
                                                             "base",
                                                             "added",
                                                             "triangle",
                                                             "diagnostics"};

constexpr const char* code_names[static_cast<int>(RefusalCode::count)] = {"",
                                                                          "both_given",
                                                                          "neither_given",
                                                                          "not_variables",
                                                                          "unknown_variable",
                                                                          "number_out_of_range",
                                                                          "no_names",
                                                                          "repeated",
                                                                          "wrong_count",
                                                                          "names_disagree",
                                                                          "selection_variable",
                                                                          "not_finite",
                                                                          "partly_named",
                                                                          "invalid_value",
                                                                          "not_for_this_call",
                                                                          "needs_argument",
                                                                          "too_few_rows",
                                                                          "no_reliability",
                                                                          "too_many_variables",
                                                                          "not_positive_definite",
                                                                          "not_a_matrix",
                                                                          "not_square",
                                                                          "no_variables",
                                                                          "names_contradict",
                                                                          "not_numbers"};

// `pattern` with each "{}" replaced by the next of `a`, `b`.
std::string filled(const char* pattern, std::string_view a, std::string_view b = {}) {
  std::string out;
  int used = 0;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (c[0] == '{' && c[1] == '}') {
      out.append(used++ == 0 ? a : b);
      ++c;
    } else {
      out.push_back(*c);
    }
  }
  return out;
}

const char* written_name(const Spelling& spelling, CallArgument argument) {
  auto at = static_cast<int>(argument);
  if (at <= 0 || at >= call_argument_count) return "";
  return spelling.names[at] != nullptr ? spelling.names[at] : argument_names[at];
}

}  // namespace

const char* call_argument_name(CallArgument argument) {
  auto at = static_cast<int>(argument);
  return at >= 0 && at < call_argument_count ? argument_names[at] : "";
}

const char* refusal_code_name(RefusalCode code) {
  auto at = static_cast<int>(code);
  return at >= 0 && at < static_cast<int>(RefusalCode::count) ? code_names[at] : "";
}

std::string mention(const Spelling& spelling, CallArgument argument) {
  return filled(spelling.mention != nullptr ? spelling.mention : "'{}'",
                written_name(spelling, argument));
}

std::string assignment(const Spelling& spelling, CallArgument argument, std::string_view value) {
  return filled(spelling.assignment != nullptr ? spelling.assignment : "{} = \"{}\"",
                written_name(spelling, argument), value);
}

std::string variable_label(const std::vector<std::string>& names, int v) {
  if (v >= 0 && static_cast<std::size_t>(v) < names.size() &&
      !names[static_cast<std::size_t>(v)].empty()) {
    return names[static_cast<std::size_t>(v)];
  }
  return "variable " + std::to_string(v + 1);
}

namespace request {

const char* written(const Spelling& spelling, CallArgument argument) {
  return written_name(spelling, argument);
}

std::string labels(const std::vector<std::string>& names, const std::vector<int>& list) {
  std::string out;
  for (std::size_t k = 0; k < list.size(); ++k) {
    if (k > 0) out += ", ";
    out += variable_label(names, list[k]);
  }
  return out;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string out;
  for (std::size_t k = 0; k < texts.size(); ++k) {
    if (k > 0) out += ", ";
    out += texts[k];
  }
  return out;
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string not_finite_text(double value) {
  if (std::isnan(value)) {
    // R's NA is the NaN whose low word is 1954; any other NaN is NaN.
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0xffffffffU) == 1954U ? "NA" : "NaN";
  }
  return value > 0 ? "Inf" : "-Inf";
}

int find_name(const std::vector<std::string>& names, const std::string& name) {
  if (name.empty()) return -1;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool repeats_earlier(const std::vector<std::string>& texts, std::size_t k) {
  for (std::size_t i = 0; i < k; ++i) {
    if (texts[i] == texts[k]) return true;
  }
  return false;
}

CallArgument restricted_side(const Call& call) {
  return call.from_data ? CallArgument::data : CallArgument::restricted;
}

const char* names_word(const Call& call) {
  if (call.from_data) return "column names";
  return call.spelling.matrix_names != nullptr ? call.spelling.matrix_names : "names";
}

CallArgument unrestricted_side(const Call& call) {
  return call.from_pool ? CallArgument::pool : CallArgument::unrestricted;
}

}  // namespace request
}  // namespace tolbe
