#include "tolbe/findings.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace tolbe {
namespace {

// Fills the places and numbers of a finding; false when there is none.
using Detect = bool (*)(const Diagnostics& d, Finding& f);

// One check: its code, name, severity, message and detection. In a message
// {a} and {b} name the finding's variables, {x} is its number and
// {more} says " (N in all)" when it concerns more than one place.
struct Rule {
  FindingCode code;
  const char* name;
  Severity severity;
  const char* message;
  Detect detect;
};

bool named(Finding& f, int count, int a, int b = -1) {
  if (count <= 0) return false;
  f.count = count;
  f.variables[0] = a;
  f.variables[1] = b;
  return true;
}

bool place(Finding& f, int count, const Place& at) {
  return named(f, count, at.row, at.column);
}

bool asymmetric(Finding& f, double largest, const Place& at) {
  // Not finite: a value that is read is finite, so an unread one, a note.
  if (!(largest > asymmetry_tolerance) || !std::isfinite(largest)) return false;
  f.numbers[0] = largest;
  return place(f, 1, at);
}

bool unit_diagonals(const Diagnostics& d, bool restricted, bool unrestricted) {
  return d.restricted_unit_diagonal == restricted && d.unrestricted_unit_diagonal == unrestricted &&
         (restricted || unrestricted);
}

// Errors first, then warnings, then notes: lawley_findings() keeps this
// order.
constexpr Rule rules[] = {
    {FindingCode::restricted_lower_triangle, "restricted_lower_triangle", Severity::error,
     "the restricted var/cov matrix holds only its lower triangle: every value above the "
     "diagonal is 0 or missing, and the correction reads some of them; enter the whole matrix",
     [](const Diagnostics& d, Finding& f) {
       return d.restricted_triangle == Triangle::lower && named(f, 1, -1);
     }},
    {FindingCode::restricted_upper_triangle, "restricted_upper_triangle", Severity::error,
     "the restricted var/cov matrix holds only its upper triangle: every value below the "
     "diagonal is 0 or missing, and the correction reads some of them; enter the whole matrix",
     [](const Diagnostics& d, Finding& f) {
       return d.restricted_triangle == Triangle::upper && named(f, 1, -1);
     }},
    {FindingCode::unrestricted_lower_triangle, "unrestricted_lower_triangle", Severity::error,
     "the unrestricted var/cov matrix holds only its lower triangle: every value above the "
     "diagonal is 0 or missing, and the correction reads it whole; enter the whole matrix",
     [](const Diagnostics& d, Finding& f) {
       return d.unrestricted_triangle == Triangle::lower && named(f, 1, -1);
     }},
    {FindingCode::unrestricted_upper_triangle, "unrestricted_upper_triangle", Severity::error,
     "the unrestricted var/cov matrix holds only its upper triangle: every value below the "
     "diagonal is 0 or missing, and the correction reads it whole; enter the whole matrix",
     [](const Diagnostics& d, Finding& f) {
       return d.unrestricted_triangle == Triangle::upper && named(f, 1, -1);
     }},
    {FindingCode::restricted_asymmetric, "restricted_asymmetric", Severity::warning,
     "the restricted var/cov matrix is not symmetric: its two values for {a} and {b} differ by "
     "{x} relative to their standard deviations (the largest difference); the correction used "
     "the upper triangle of the selection variables' block, the rest of their rows and the "
     "whole block of the other variables, and ignored the rest",
     [](const Diagnostics& d, Finding& f) {
       return d.restricted_triangle == Triangle::none &&
              asymmetric(f, d.restricted_asymmetry, d.restricted_asymmetry_place);
     }},
    {FindingCode::unrestricted_asymmetric, "unrestricted_asymmetric", Severity::warning,
     "the unrestricted var/cov matrix is not symmetric: its two values for {a} and {b} differ by "
     "{x} relative to their standard deviations (the largest difference); the correction used "
     "all of it",
     [](const Diagnostics& d, Finding& f) {
       return d.unrestricted_triangle == Triangle::none &&
              asymmetric(f, d.unrestricted_asymmetry, d.unrestricted_asymmetry_place);
     }},
    {FindingCode::restricted_not_positive_definite, "restricted_not_positive_definite",
     Severity::warning,
     "the restricted var/cov matrix, as the correction reads it, is not positive definite: it "
     "cannot be the var/cov matrix of real data; check it for typing errors",
     [](const Diagnostics& d, Finding& f) {
       return d.q > 0 && !d.restricted_positive_definite &&
              d.restricted_nonpositive_variances == 0 && d.restricted_triangle == Triangle::none &&
              named(f, 1, -1);
     }},
    {FindingCode::unrestricted_not_positive_definite, "unrestricted_not_positive_definite",
     Severity::warning,
     "the unrestricted var/cov matrix is not positive definite: it cannot be the var/cov matrix "
     "of real data, and the corrected values mean little",
     [](const Diagnostics& d, Finding& f) {
       return d.p > 0 && !d.unrestricted_positive_definite &&
              d.unrestricted_nonpositive_variances == 0 &&
              d.unrestricted_triangle == Triangle::none && named(f, 1, -1);
     }},
    {FindingCode::restricted_variance_not_positive, "restricted_variance_not_positive",
     Severity::warning, "the restricted variance of {a} is not positive{more}",
     [](const Diagnostics& d, Finding& f) {
       return named(f, d.restricted_nonpositive_variances, d.first_restricted_nonpositive_variance);
     }},
    {FindingCode::unrestricted_variance_not_positive, "unrestricted_variance_not_positive",
     Severity::warning, "the unrestricted variance of {a} is not positive{more}",
     [](const Diagnostics& d, Finding& f) {
       return named(f, d.unrestricted_nonpositive_variances,
                    d.first_unrestricted_nonpositive_variance);
     }},
    {FindingCode::implausible_variance_ratio, "implausible_variance_ratio", Severity::warning,
     "the unrestricted variance of {a} is {x} times its restricted variance{more}: standard "
     "deviations more than five times apart suggest matrices in different units (correlations "
     "beside covariances?) or variables in another order",
     [](const Diagnostics& d, Finding& f) {
       f.numbers[0] = d.first_variance_ratio;
       return named(f, d.implausible_variance_ratios, d.first_implausible_variance_ratio);
     }},
    {FindingCode::covariances_beside_correlations, "covariances_beside_correlations",
     Severity::warning,
     "the unrestricted matrix has a unit diagonal (correlations?) but the restricted one does "
     "not: enter both as variances and covariances",
     [](const Diagnostics& d, Finding& f) {
       return unit_diagonals(d, false, true) && named(f, 1, -1);
     }},
    {FindingCode::two_correlation_matrices, "two_correlation_matrices", Severity::warning,
     "both matrices have a unit diagonal (correlations?): the correction then takes the "
     "selection variables' variances to be the same in the population as in the sample, and "
     "corrects only for the change in their correlations; give the unrestricted matrix in "
     "units of the restricted standard deviations, or both as variances and covariances",
     [](const Diagnostics& d, Finding& f) {
       return unit_diagonals(d, true, true) && named(f, 1, -1);
     }},
    {FindingCode::reliability_out_of_range, "reliability_out_of_range", Severity::warning,
     "the reliability of {a} is outside (0, 1]{more}; a reliability is a proportion such as 0.81",
     [](const Diagnostics& d, Finding& f) {
       return named(f, d.reliabilities_out_of_range, d.first_reliability_out_of_range);
     }},
    {FindingCode::corrected_variance_not_positive, "corrected_variance_not_positive",
     Severity::warning,
     "the corrected variance of {a} is not positive{more}; its correlations are not numbers",
     [](const Diagnostics& d, Finding& f) {
       return named(f, d.nonpositive_variances, d.first_nonpositive_variance.row);
     }},
    {FindingCode::correlation_out_of_range, "correlation_out_of_range", Severity::warning,
     "the corrected correlation of {a} and {b} is above 1 in magnitude or not a number{more}",
     [](const Diagnostics& d, Finding& f) {
       return place(f, d.correlations_out_of_range, d.first_correlation_out_of_range);
     }},
    {FindingCode::disattenuated_out_of_range, "disattenuated_out_of_range", Severity::warning,
     "the disattenuated correlation of {a} and {b} is above 1 in magnitude or not a "
     "number{more}; check the reliabilities",
     [](const Diagnostics& d, Finding& f) {
       return place(f, d.disattenuated_out_of_range, d.first_disattenuated_out_of_range);
     }},
    {FindingCode::correlations_beside_covariances, "correlations_beside_covariances",
     Severity::note,
     "the restricted matrix has a unit diagonal (correlations) but the unrestricted one does "
     "not: that is right only when the unrestricted values are in units of the restricted "
     "standard deviations",
     [](const Diagnostics& d, Finding& f) {
       return d.p > 0 && unit_diagonals(d, true, false) && named(f, 1, -1);
     }},
    {FindingCode::sign_change, "sign_change", Severity::note,
     "the correlation of {a} and {b} changes sign against the restricted sample{more} (Ree et "
     "al. 1994)",
     [](const Diagnostics& d, Finding& f) {
       return place(f, d.sign_changes - d.selection_sign_changes, d.first_other_sign_change);
     }},
    {FindingCode::selection_sign_change, "selection_sign_change", Severity::note,
     "the correlation of {a} and {b}, both selection variables, changes sign{more}: there the "
     "unrestricted matrix replaces the restricted one, not the correction",
     [](const Diagnostics& d, Finding& f) {
       return place(f, d.selection_sign_changes, d.first_selection_sign_change);
     }},
    {FindingCode::unread_not_finite, "unread_not_finite", Severity::note,
     "the restricted var/cov matrix holds a value that is not a finite number for {a} (row) and "
     "{b} (column){more}, where the correction reads nothing",
     [](const Diagnostics& d, Finding& f) {
       return place(f, d.unread_not_finite, d.first_unread_not_finite);
     }},
};

static_assert(sizeof rules / sizeof rules[0] == max_findings);

const Rule* rule_of(FindingCode code) {
  for (const Rule& r : rules) {
    if (r.code == code) return &r;
  }
  return nullptr;
}

// Appends to a bounded buffer, counting what did not fit as snprintf does.
struct Writer {
  char* buffer;
  std::size_t size;
  std::size_t length = 0;
  void put(const char* text, std::size_t n) {
    if (length + 1 < size) {
      std::size_t room = size - 1 - length;
      std::memcpy(buffer + length, text, n < room ? n : room);
    }
    length += n;
  }
  void put(const char* text) { put(text, std::strlen(text)); }
  void finish() {
    if (size > 0) buffer[length < size ? length : size - 1] = '\0';
  }
};

void put_variable(Writer& w, int v, std::span<const char* const> names) {
  if (v >= 0 && static_cast<std::size_t>(v) < names.size() &&
      names[static_cast<std::size_t>(v)] != nullptr) {
    w.put(names[static_cast<std::size_t>(v)]);
    return;
  }
  char text[32];
  int n = std::snprintf(text, sizeof text, "variable %d", v + 1);
  w.put(text, static_cast<std::size_t>(n));
}

void put_number(Writer& w, double x) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "%.4g", x);
  w.put(text, static_cast<std::size_t>(n));
}

}  // namespace

int lawley_findings(const Diagnostics& d, std::span<Finding> findings) {
  if (d.status == Status::invalid_argument) return 0;
  int count = 0;
  for (const Rule& rule : rules) {
    Finding f;
    f.code = rule.code;
    f.severity = rule.severity;
    if (!rule.detect(d, f)) continue;
    if (static_cast<std::size_t>(count) < findings.size()) {
      findings[static_cast<std::size_t>(count)] = f;
    }
    ++count;
  }
  return count;
}

std::size_t finding_message(const Finding& finding, std::span<const char* const> names,
                            char* buffer, std::size_t size) {
  Writer w{buffer, buffer == nullptr ? 0 : size};
  const Rule* rule = rule_of(finding.code);
  const char* text = rule == nullptr ? "unknown finding" : rule->message;
  while (*text != '\0') {
    const char* open = std::strchr(text, '{');
    if (open == nullptr) {
      w.put(text);
      break;
    }
    w.put(text, static_cast<std::size_t>(open - text));
    const char* close = std::strchr(open, '}');
    std::string_view key(open + 1, static_cast<std::size_t>(close - open - 1));
    if (key == "a") {
      put_variable(w, finding.variables[0], names);
    } else if (key == "b") {
      put_variable(w, finding.variables[1], names);
    } else if (key == "x") {
      put_number(w, finding.numbers[0]);
    } else if (key == "more" && finding.count > 1) {
      char more[40];
      int n = std::snprintf(more, sizeof more, " (%d in all)", finding.count);
      w.put(more, static_cast<std::size_t>(n));
    }
    text = close + 1;
  }
  w.finish();
  return w.length;
}

const char* finding_code_name(FindingCode code) {
  const Rule* rule = rule_of(code);
  return rule == nullptr ? "" : rule->name;
}

const char* severity_name(Severity severity) {
  switch (severity) {
    case Severity::note:
      return "note";
    case Severity::warning:
      return "warning";
    case Severity::error:
      return "error";
  }
  return "";
}

}  // namespace tolbe
