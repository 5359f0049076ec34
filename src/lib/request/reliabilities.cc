#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "request/refusal.h"
#include "request/state.h"
#include "tolbe/request.h"
#include "tolbe/validity.h"

namespace tolbe::request {

namespace {

using A = CallArgument;
using R = RefusalCode;

// "reliabilities are for the other variables: C1, C2" (or that there are
// none).
std::string others_text(const Call& call, const ResolvedCall& out) {
  if (out.others.empty()) {
    return "every variable is a selection variable, so there are none to give";
  }
  return "reliabilities are for the other variables: " + labels(call.names, out.others);
}

Refusal not_finite(const Call& call, double value, int variable) {
  return refuse(R::not_finite, A::reliabilities,
                mention(call.spelling, A::reliabilities) + " must be finite numbers: the one for " +
                    variable_label(call.names, variable) + " is " + not_finite_text(value),
                {variable});
}

std::size_t slot_of(const ResolvedCall& out, int v) {
  return static_cast<std::size_t>(out.position[static_cast<std::size_t>(v)] - out.p);
}

}  // namespace

std::optional<Refusal> resolve_reliabilities(const Call& call, ResolvedCall& out) {
  const Given& given = call.reliabilities;
  const Spelling& s = call.spelling;
  std::string me = mention(s, A::reliabilities);
  out.reliabilities.clear();
  out.defaulted.clear();
  if (!given.given()) return std::nullopt;
  if (given.kind != Given::Kind::numbers) {
    return refuse(R::not_finite, A::reliabilities, me + " must be finite numbers");
  }
  std::size_t m = out.others.size();
  const auto& values = given.numbers;
  if (!given.has_names) {
    if (values.size() != m) {
      std::string text =
          me + " needs one value for each of the " + std::to_string(m) + " non-selection variables";
      if (m > 0) {
        text +=
            " (" + labels(call.names, out.others) + "), in that order, or values named by variable";
      }
      return refuse(R::wrong_count, A::reliabilities, text, out.others);
    }
    for (std::size_t k = 0; k < m; ++k) {
      if (!std::isfinite(values[k])) return not_finite(call, values[k], out.others[k]);
    }
    out.reliabilities = values;
    return std::nullopt;
  }
  if (call.names.empty()) {
    return refuse(R::no_names, A::reliabilities,
                  me + " are named, but " + mention(s, restricted_side(call)) + " has no " +
                      names_word(call) +
                      " to match the names to; give them unnamed, one for each non-selection "
                      "variable in order");
  }
  const auto& names = given.names;
  for (const auto& name : names) {
    if (name.empty()) {
      return refuse(R::partly_named, A::reliabilities, me + " names some values but not all");
    }
  }
  // Names that are no variable, then names of selection variables.
  std::vector<std::string> unknown;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (find_name(call.names, names[k]) < 0 && !repeats_earlier(names, k)) {
      unknown.push_back(names[k]);
    }
  }
  if (!unknown.empty()) {
    return refuse(R::unknown_variable, A::reliabilities,
                  joined(unknown) +
                      (unknown.size() == 1 ? " is not a variable of " : " are not variables of ") +
                      mention(s, restricted_side(call)) + "; " + others_text(call, out));
  }
  std::vector<int> selected;
  for (std::size_t k = 0; k < names.size(); ++k) {
    int v = find_name(call.names, names[k]);
    if (out.position[static_cast<std::size_t>(v)] < out.p && !repeats_earlier(names, k)) {
      selected.push_back(v);
    }
  }
  if (!selected.empty()) {
    return refuse(
        R::selection_variable, A::reliabilities,
        labels(call.names, selected) +
            (selected.size() == 1 ? " is a selection variable; " : " are selection variables; ") +
            others_text(call, out),
        selected);
  }
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (repeats_earlier(names, k)) {
      int v = find_name(call.names, names[k]);
      return refuse(R::repeated, A::reliabilities, me + " names " + names[k] + " more than once",
                    {v});
    }
  }
  out.reliabilities.assign(m, NAN);
  for (std::size_t k = 0; k < names.size(); ++k) {
    int v = find_name(call.names, names[k]);
    if (!std::isfinite(values[k])) return not_finite(call, values[k], v);
    out.reliabilities[slot_of(out, v)] = values[k];
  }
  for (std::size_t j = 0; j < m; ++j) {
    if (!std::isnan(out.reliabilities[j])) continue;
    out.reliabilities[j] = 1.0;
    out.defaulted.push_back(out.others[j]);
  }
  return std::nullopt;
}

std::optional<Refusal> resolve_reliability_sample(const Call& call, ResolvedCall& out) {
  const Given& sample = call.reliability_sample;
  const Spelling& s = call.spelling;
  std::string me = mention(s, A::reliability_sample);
  std::size_t m = out.others.size();
  if (call.reliabilities.kind == Given::Kind::absent) {
    if (sample.given()) {
      return refuse(R::not_for_this_call, A::reliability_sample,
                    me + " says where the " + mention(s, A::reliabilities) +
                        " were measured, and none are given");
    }
    return std::nullopt;
  }
  out.reliability_given.assign(m, 1);
  out.from_restricted.assign(m, 0);
  out.reliabilities_as_given = out.reliabilities;
  for (int v : out.defaulted) out.reliability_given[slot_of(out, v)] = 0;
  if (!sample.given()) return std::nullopt;
  std::size_t n = call.reliabilities.numbers.size();
  std::size_t length = sample.size();
  if (sample.kind != Given::Kind::texts || (!sample.has_names && length != 1 && length != n)) {
    return refuse(R::wrong_count, A::reliability_sample,
                  me +
                      " must be \"unrestricted\" or \"restricted\": one value for all the "
                      "reliabilities, one for each of the " +
                      std::to_string(n) + " in order, or values named by variable");
  }
  for (std::size_t k = 0; k < length; ++k) {
    const std::string& value = sample.texts[k];
    if (value != "unrestricted" && value != "restricted") {
      return refuse(R::invalid_value, A::reliability_sample,
                    me + " must be \"unrestricted\" (the reliability was measured in the "
                         "unrestricted population) or \"restricted\" (in the restricted sample)");
    }
    char place = value == "restricted" ? 1 : 0;
    if (sample.has_names) {
      const std::string& name = sample.names[k];
      int v = find_name(call.names, name);
      long slot = v < 0 ? -1 : static_cast<long>(slot_of(out, v));
      if (v >= 0 && out.position[static_cast<std::size_t>(v)] < out.p) slot = -1;
      if (slot < 0 || !out.reliability_given[static_cast<std::size_t>(slot)]) {
        return refuse(R::unknown_variable, A::reliability_sample,
                      me + " names " + name + ", which has no reliability in " +
                          mention(s, A::reliabilities));
      }
      if (repeats_earlier(sample.names, k)) {
        return refuse(R::repeated, A::reliability_sample, me + " names " + name + " more than once",
                      {v});
      }
      out.from_restricted[static_cast<std::size_t>(slot)] = place;
      continue;
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (length != 1 && i != k) continue;
      std::size_t slot = call.reliabilities.has_names
                             ? slot_of(out, find_name(call.names, call.reliabilities.names[i]))
                             : i;
      out.from_restricted[slot] = place;
    }
  }
  return std::nullopt;
}

std::optional<Refusal> resolve_criteria(const Call& call, ResolvedCall& out) {
  out.criteria.clear();
  if (!call.criteria.given()) {
    for (std::size_t j = 0; j < out.reliability_given.size(); ++j) {
      if (out.reliability_given[j]) out.criteria.push_back(out.others[j]);
    }
    return std::nullopt;
  }
  std::string me = mention(call.spelling, A::criteria);
  std::vector<int> chosen;
  if (auto refusal = variables_of(call, call.criteria, A::criteria, chosen)) return refusal;
  std::vector<int> selected;
  for (int v : chosen) {
    if (out.position[static_cast<std::size_t>(v)] < out.p) selected.push_back(v);
  }
  if (!selected.empty()) {
    return refuse(
        R::selection_variable, A::criteria,
        me + " names " +
            (selected.size() == 1 ? "the selection variable " : "the selection variables ") +
            labels(call.names, selected) + "; the criteria are among the other variables",
        selected);
  }
  for (std::size_t k = 1; k < chosen.size(); ++k) {
    for (std::size_t i = 0; i < k; ++i) {
      if (chosen[i] == chosen[k]) {
        return refuse(R::repeated, A::criteria,
                      me + " names " + variable_label(call.names, chosen[k]) + " more than once",
                      {chosen[k]});
      }
    }
  }
  out.criteria = chosen;
  return std::nullopt;
}

}  // namespace tolbe::request

namespace tolbe {

std::optional<Refusal> convert_reliabilities(const Call& call, ResolvedCall& resolved,
                                             const double* restricted, int ld_restricted,
                                             const double* corrected, int ld_corrected) {
  for (std::size_t j = 0; j < resolved.from_restricted.size(); ++j) {
    if (!resolved.from_restricted[j]) continue;
    auto y = static_cast<std::size_t>(resolved.others[j]);
    double vyy = restricted[y + y * static_cast<std::size_t>(ld_restricted)];
    double cyy = corrected[y + y * static_cast<std::size_t>(ld_corrected)];
    double given = resolved.reliabilities_as_given[j];
    double r = unrestricted_reliability(given, vyy, cyy);
    if (!(r > 0.0 && r <= 1.0)) {
      using request::number_text;
      return request::refuse(
          RefusalCode::no_reliability, CallArgument::reliabilities,
          "the reliability of " + variable_label(call.names, static_cast<int>(y)) +
              " in the restricted sample, " + number_text(given) + ", is " + number_text(r) +
              " in the unrestricted population (1 - (1 - " + number_text(given) + ") * " +
              number_text(vyy) + " / " + number_text(cyy) +
              ", restricted over corrected variance), which is no reliability",
          {static_cast<int>(y)});
    }
    resolved.reliabilities[j] = r;
  }
  return std::nullopt;
}

std::string defaulted_reliabilities_note(const Call& call, const ResolvedCall& resolved) {
  if (resolved.defaulted.empty()) return {};
  return mention(call.spelling, CallArgument::reliabilities) + " names no reliability for " +
         request::labels(call.names, resolved.defaulted) +
         (resolved.defaulted.size() == 1 ? "; it is taken as 1 (not corrected for attenuation)"
                                         : "; they are taken as 1 (not corrected for attenuation)");
}

std::vector<double> reliabilities_by_variable(const ResolvedCall& r) {
  std::vector<double> out(static_cast<std::size_t>(r.q), std::numeric_limits<double>::quiet_NaN());
  for (std::size_t j = 0; j < r.others.size() && j < r.reliabilities.size(); ++j) {
    if (r.reliability_given[j]) out[static_cast<std::size_t>(r.others[j])] = r.reliabilities[j];
  }
  return out;
}

}  // namespace tolbe
