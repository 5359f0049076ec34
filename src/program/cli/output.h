#pragma once

// The results of solved problems as the command line writes them: the
// report, CSV rows and JSON documents.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/solved.h"

namespace tolbe {

// Writes the fixed-layout report of `s` on standard output, as the console
// program writes it.
void write_report(const Solved& s);

// A CSV row without its line end, and its count of values.
struct CsvRow {
  std::string text;
  int values;
};

// A text as a CSV field: a single quote before it when a spreadsheet would
// take it for a formula (it starts with =, +, -, @, a tab or a carriage
// return and is no number), then quoted (each quote doubled) when it holds
// a comma, a quote or a line end.
std::string csv_field(const std::string& text);

// Appends the CSV rows of `s`, each beginning with the version of tolbe
// that wrote it: every value at full precision (the shortest text that
// reads back to the same double; Inf, -Inf and NaN as R spells them), the
// file name quoted where it needs to be. Each matrix is followed by its
// SEs, lower and upper bounds when there are intervals (matrices NAME_se,
// NAME_lower, NAME_upper); a variable is named by its number, or with raw
// scores by its name.
void csv_rows(const Solved& s, std::vector<CsvRow>& rows);

// The CSV rows of the validity question's answer of `s` (none without
// one), for the section after the matrices' rows: file, criterion,
// quantity, predictor, estimate and, with intervals, se, lower, upper.
void csv_regression_rows(const Solved& s, std::vector<std::string>& rows);

// A value of the validity question's answer: its quantity's name (as CSV,
// JSON and the tables name it), the predictor it is of (from 0; -1 for
// R^2, R and the others of the whole set) and its place in the library's
// order.
struct RegressionTerm {
  const char* quantity;
  int variable;
  std::size_t at;
};

// The values of `r` in the order shown, the library's: b, beta, validity
// and operational_validity, each of every predictor, then r2, r,
// operational_r and, with a base, base_r2, delta_r2 and delta_r.
std::vector<RegressionTerm> regression_terms(const Regression& r);

// How the intervals of `s` were computed, in words: "95% intervals by adf
// from n = 197 ..." (s.intervals must be set).
std::string interval_description(const Solved& s);

// Writes the human-readable table of `s` on standard output: a line that
// names the problem, one on the intervals, then for each corrected matrix
// one line per pair of variables (each variance and covariance, each
// correlation off the diagonal) with the estimate and, with intervals, its
// SE and bounds; then the validity question's values, if asked. With
// `markdown`, the same as Markdown: headings, paragraphs and pipe tables.
void write_table(const Solved& s, bool markdown = false);

// The findings of `s` as a JSON array of {code, severity, message,
// variables (from 1)}.
nlohmann::ordered_json json_findings(const Solved& s);

// The JSON document of `s`: the file, the version of tolbe, the input as
// read, the results (non-finite values as null), the diagnostics, the
// findings and their messages.
nlohmann::ordered_json json_of(const Solved& s);

}  // namespace tolbe
