#pragma once

// tolbe: what a correction finds in its problem and results, in plain
// words: certainly wrong (an error: the results must not be used), maybe
// wrong (a warning) or worth knowing (a note). The command line, its JSON,
// the C API and the R package all show these findings, in these words; a
// new check is a new row of one table in the library.

#include <cstddef>
#include <span>

#include "tolbe/lawley.h"

namespace tolbe {

enum class Severity { note = 0, warning = 1, error = 2 };

// Stable codes: a code keeps its number and its name for good; new codes
// are added at the end.
enum class FindingCode : int {
  restricted_lower_triangle = 1,
  restricted_upper_triangle = 2,
  unrestricted_lower_triangle = 3,
  unrestricted_upper_triangle = 4,
  restricted_asymmetric = 5,
  unrestricted_asymmetric = 6,
  restricted_not_positive_definite = 7,
  unrestricted_not_positive_definite = 8,
  restricted_variance_not_positive = 9,
  unrestricted_variance_not_positive = 10,
  implausible_variance_ratio = 11,
  covariances_beside_correlations = 12,
  two_correlation_matrices = 13,
  reliability_out_of_range = 14,
  corrected_variance_not_positive = 15,
  correlation_out_of_range = 16,
  disattenuated_out_of_range = 17,
  correlations_beside_covariances = 18,
  sign_change = 19,
  selection_sign_change = 20,
  unread_not_finite = 21,
  // Of the matrices, found by lawley() with the others.
  selection_variance_grew = 22,
  // Of raw scores or a sample size, found by screen_scores() and
  // screen_sample_size() (<tolbe/screening.h>).
  too_few_rows = 23,
  small_sample = 24,
  suspect_code = 25,
  outlying_value = 26,
  pool_suspect_code = 27,
  pool_outlying_value = 28,
  pool_without_selected = 29,
  pool_holds_selected_twice = 30,
  heavy_tails = 31,
};

// One finding: what, how grave, and where.
struct Finding {
  FindingCode code = FindingCode::restricted_lower_triangle;
  Severity severity = Severity::note;
  int count = 1;                   // how many places it concerns; the first is named
  int variables[2] = {-1, -1};     // the first place, variables from 0 in input order; -1: none
  double numbers[2] = {0.0, 0.0};  // the numbers its message shows
  int row = -1;                    // a row of raw scores, from 0; -1: none
};

// The most findings one problem can have: one of each code.
inline constexpr int max_findings = 31;

// Relative asymmetry (see Diagnostics) above which a matrix counts as not
// symmetric.
inline constexpr double asymmetry_tolerance = 1e-10;

// The findings of the diagnostics `d` of a correction (lawley() or
// lawley_means() with diagnostics): errors first, then warnings, then
// notes, each in the order of the codes. Writes the first findings.size()
// of them and returns how many there are in all (none for an invalid
// argument, whose diagnostics say why). Does not allocate.
int lawley_findings(const Diagnostics& d, std::span<Finding> findings);

// The message of `finding`, written into `buffer` as snprintf writes (at
// most size - 1 characters and a NUL; `buffer` may be null when size is 0).
// Returns the message's whole length. A variable is named by names[v] when
// `names` holds a non-null name for it, else as "variable N", N counted
// from 1; a row as "row N", N = row + 1. Numbers are written with 4
// significant digits, counts as whole numbers. Does not allocate.
std::size_t finding_message(const Finding& finding, std::span<const char* const> names,
                            char* buffer, std::size_t size);

// Where findings of `code` are listed among all findings (0 first): errors
// first, then warnings, then notes. -1 for an unknown code.
int finding_rank(FindingCode code);

// The stable name of a code ("restricted_lower_triangle", ...), "" for an
// unknown one.
const char* finding_code_name(FindingCode code);

// "note", "warning" or "error".
const char* severity_name(Severity severity);

}  // namespace tolbe
