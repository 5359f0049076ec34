#include "tolbe/findings.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "tolbe/screening.h"

namespace tolbe {
namespace {

// Fills the places and numbers of a finding; false when there is none. A
// check looks at the correction's diagnostics or at the screening of its
// scores.
using Detect = bool (*)(const Diagnostics& d, Finding& f);
using Screen = bool (*)(const Screening& s, Finding& f);

// One check: its code, name, severity, message and detection. In a message
// {a} and {b} name the finding's variables, {x} and {y} are its numbers,
// {n} and {m} the same numbers as whole numbers (counts), {is} says what
// the correlation numbers[0] is ("is 1.02, above 1 in magnitude" or "is not
// a number (...)"), {row} its row
// ("row N") and {more} says " (N in all)" when it concerns more than one
// place.
struct Rule {
  FindingCode code;
  const char* name;
  Severity severity;
  const char* message;
  Detect detect;
  Screen screen = nullptr;
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

bool suspect(Finding& f, int count, int row, int variable, double value, double distance) {
  if (!named(f, count, variable)) return false;
  f.row = row;
  f.numbers[0] = value;
  f.numbers[1] = distance;
  return true;
}

bool sized(const Screening& s, Finding& f) {
  f.numbers[0] = s.rows;
  f.numbers[1] = s.q;
  return named(f, 1, -1);
}

bool unit_diagonals(const Diagnostics& d, bool restricted, bool unrestricted) {
  return d.restricted_unit_diagonal == restricted && d.unrestricted_unit_diagonal == unrestricted &&
         (restricted || unrestricted);
}

// Errors first, then warnings, then notes: lawley_findings() keeps this
// order.
constexpr Rule rules[] = {
    {FindingCode::too_few_rows, "too_few_rows", Severity::error,
     "the restricted sample has n = {n} for {m} variables: a var/cov matrix of {m} variables "
     "needs more rows (people with every score) than that, and every result would be "
     "meaningless",
     nullptr,
     [](const Screening& s, Finding& f) { return s.rows > 0 && s.rows <= s.q && sized(s, f); }},
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
     "the corrected correlation of {a} and {b} {is}{more}",
     [](const Diagnostics& d, Finding& f) {
       f.numbers[0] = d.first_correlation_out_of_range_value;
       return place(f, d.correlations_out_of_range, d.first_correlation_out_of_range);
     }},
    {FindingCode::disattenuated_out_of_range, "disattenuated_out_of_range", Severity::warning,
     "the disattenuated correlation of {a} and {b} {is}{more}; check the reliabilities",
     [](const Diagnostics& d, Finding& f) {
       f.numbers[0] = d.first_disattenuated_out_of_range_value;
       return place(f, d.disattenuated_out_of_range, d.first_disattenuated_out_of_range);
     }},
    {FindingCode::selection_variance_grew, "selection_variance_grew", Severity::warning,
     "the unrestricted variance of {a}, a selection variable, is below its restricted variance "
     "({x} against {y}){more}: selection on a variable shrinks its variance. Standard "
     "deviations in place of variances, or the unrestricted matrix's variables in another "
     "order than the restricted one's, give this",
     [](const Diagnostics& d, Finding& f) {
       f.numbers[0] = d.first_grown_unrestricted;
       f.numbers[1] = d.first_grown_restricted;
       // Correlations beside covariances say why, more plainly.
       return !unit_diagonals(d, false, true) &&
              named(f, d.grown_variances, d.first_grown_variance);
     }},
    {FindingCode::small_sample, "small_sample", Severity::warning,
     "the restricted sample has n = {n} for {m} variables, fewer than 10 a variable: the "
     "corrected values are unstable there, and their standard errors and intervals are not to "
     "be trusted",
     nullptr,
     [](const Screening& s, Finding& f) {
       return s.rows > s.q && s.rows < min_rows_per_variable * s.q && sized(s, f);
     }},
    {FindingCode::suspect_code, "suspect_code", Severity::warning,
     "{row} of {a} holds {x}, which looks like a missing-value code: it lies {y} robust "
     "standard deviations from the median of {a}{more}. If it marks a missing value, make it "
     "NA (an empty field)",
     nullptr,
     [](const Screening& s, Finding& f) {
       const SuspectValues& v = s.data;
       return suspect(f, v.codes, v.first_code_row, v.first_code_variable, v.first_code,
                      v.first_code_distance);
     }},
    {FindingCode::outlying_value, "outlying_value", Severity::warning,
     "{row} of {a} holds {x}, {y} robust standard deviations from the median of {a}{more}: "
     "check it for a typing error; if it marks a missing value, make it NA (an empty field)",
     nullptr,
     [](const Screening& s, Finding& f) {
       const SuspectValues& v = s.data;
       return suspect(f, v.outlying, v.outlying_row, v.outlying_variable, v.outlying_value,
                      v.outlying_distance);
     }},
    {FindingCode::pool_suspect_code, "pool_suspect_code", Severity::warning,
     "{row} of the pool holds {x} for {a}, which looks like a missing-value code: it lies {y} "
     "robust standard deviations from the pool's median{more}. If it marks a missing value, "
     "make it NA (an empty field)",
     nullptr,
     [](const Screening& s, Finding& f) {
       const SuspectValues& v = s.pool;
       return suspect(f, v.codes, v.first_code_row, v.first_code_variable, v.first_code,
                      v.first_code_distance);
     }},
    {FindingCode::pool_outlying_value, "pool_outlying_value", Severity::warning,
     "{row} of the pool holds {x} for {a}, {y} robust standard deviations from the pool's "
     "median{more}: check it for a typing error; if it marks a missing value, make it NA (an "
     "empty field)",
     nullptr,
     [](const Screening& s, Finding& f) {
       const SuspectValues& v = s.pool;
       return suspect(f, v.outlying, v.outlying_row, v.outlying_variable, v.outlying_value,
                      v.outlying_distance);
     }},
    {FindingCode::pool_without_selected, "pool_without_selected", Severity::warning,
     "none of the {n} complete rows of the restricted sample has its selection variables' "
     "scores among the pool's: the pool must be all the applicants, the selected among them. "
     "A pool of those not selected only gives too small a correction (unless the pool is an "
     "independent sample, or rounds its scores otherwise)",
     nullptr,
     [](const Screening& s, Finding& f) {
       f.numbers[0] = s.selected_rows;
       return s.selected_rows > 0 && s.selected_in_pool == 0 && named(f, 1, -1);
     }},
    {FindingCode::pool_holds_selected_twice, "pool_holds_selected_twice", Severity::warning,
     "each of the {n} complete rows of the restricted sample has its selection variables' "
     "scores at least twice in the pool, scores that seldom repeat: were the selected "
     "added to a pool that held them already? Each applicant must be in the pool once",
     nullptr,
     [](const Screening& s, Finding& f) {
       f.numbers[0] = s.selected_rows;
       return s.selected_rows > 0 && s.selected_doubled == s.selected_rows && s.pool_fine_grained &&
              named(f, 1, -1);
     }},
    {FindingCode::heavy_tails, "heavy_tails", Severity::warning,
     "{a} has heavy tails in the restricted sample (excess kurtosis {x}){more}: below 1000 "
     "rows the intervals of its correlations, and of R and R2 with it, cover less than their "
     "level by every method (89 to 93 % for 95 % intervals at 250 rows in tolbe's coverage "
     "study, with a criterion of excess kurtosis 7)",
     nullptr,
     [](const Screening& s, Finding& f) {
       f.numbers[0] = s.heaviest_kurtosis;
       return named(f, s.heavy_tailed, s.heaviest_variable);
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

// "variable N" or "row N", N = index + 1, counted wide enough for any int.
void put_numbered(Writer& w, const char* what, int index) {
  char text[48];
  int n = std::snprintf(text, sizeof text, "%s %lld", what, static_cast<long long>(index) + 1);
  w.put(text, static_cast<std::size_t>(n));
}

void put_variable(Writer& w, int v, std::span<const char* const> names) {
  if (v >= 0 && static_cast<std::size_t>(v) < names.size() &&
      names[static_cast<std::size_t>(v)] != nullptr) {
    w.put(names[static_cast<std::size_t>(v)]);
    return;
  }
  put_numbered(w, "variable", v);
}

void put_number(Writer& w, double x) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "%.4g", x);
  w.put(text, static_cast<std::size_t>(n));
}

void put_count(Writer& w, double x) {
  char text[48];
  int n = std::snprintf(text, sizeof text, "%.0f", x);
  w.put(text, static_cast<std::size_t>(n));
}

// The findings of the diagnostics `d` and the screening `s` (either may be
// null), in the order of the table.
int collect(const Diagnostics* d, const Screening* s, std::span<Finding> findings) {
  int count = 0;
  for (const Rule& rule : rules) {
    Finding f;
    f.code = rule.code;
    f.severity = rule.severity;
    bool found = rule.detect != nullptr ? d != nullptr && rule.detect(*d, f)
                                        : s != nullptr && rule.screen(*s, f);
    if (!found) continue;
    if (static_cast<std::size_t>(count) < findings.size()) {
      findings[static_cast<std::size_t>(count)] = f;
    }
    ++count;
  }
  return count;
}

}  // namespace

int lawley_findings(const Diagnostics& d, std::span<Finding> findings) {
  if (d.status == Status::invalid_argument) return 0;
  return collect(&d, nullptr, findings);
}

int screening_findings(const Screening& s, std::span<Finding> findings) {
  return collect(nullptr, &s, findings);
}

int all_findings(const Diagnostics& d, const Screening& s, std::span<Finding> findings) {
  return collect(d.status == Status::invalid_argument ? nullptr : &d, &s, findings);
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
    } else if (key == "y") {
      put_number(w, finding.numbers[1]);
    } else if (key == "n") {
      put_count(w, finding.numbers[0]);
    } else if (key == "m") {
      put_count(w, finding.numbers[1]);
    } else if (key == "is") {
      // A correlation out of range: a number above 1 in magnitude, or none.
      if (std::isnan(finding.numbers[0])) {
        w.put("is not a number (a variance it divides by is not positive)");
      } else if (std::isinf(finding.numbers[0])) {
        w.put("is infinite (a variance it divides by is 0)");
      } else {
        w.put("is ");
        put_number(w, finding.numbers[0]);
        w.put(", above 1 in magnitude");
      }
    } else if (key == "row") {
      put_numbered(w, "row", finding.row);
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

int finding_rank(FindingCode code) {
  for (std::size_t k = 0; k < sizeof rules / sizeof rules[0]; ++k) {
    if (rules[k].code == code) return static_cast<int>(k);
  }
  return -1;
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
