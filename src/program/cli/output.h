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

// A text as a CSV field: quoted (each quote doubled) when it holds a comma,
// a quote or a line end.
std::string csv_field(const std::string& text);

// Appends the CSV rows of `s`: every value at full precision (the shortest
// text that reads back to the same double; Inf, -Inf and NaN as R spells
// them), the file name quoted where it needs to be. Each matrix is followed
// by its SEs, lower and upper bounds when there are intervals (matrices
// NAME_se, NAME_lower, NAME_upper); a variable is named by its number, or
// with raw scores by its name.
void csv_rows(const Solved& s, std::vector<CsvRow>& rows);

// How the intervals of `s` were computed, in words: "95% intervals by adf
// from n = 197 ..." (s.intervals must be set).
std::string interval_description(const Solved& s);

// Writes the human-readable table of `s` on standard output: a line that
// names the problem, one on the intervals, then for each corrected matrix
// one line per pair of variables (each variance and covariance, each
// correlation off the diagonal) with the estimate and, with intervals, its
// SE and bounds.
void write_table(const Solved& s);

// The findings of `s` as a JSON array of {code, severity, message,
// variables (from 1)}.
nlohmann::ordered_json json_findings(const Solved& s);

// The JSON document of `s`: the input as read, the results (non-finite
// values as null), the diagnostics, the findings and their messages.
nlohmann::ordered_json json_of(const Solved& s);

}  // namespace tolbe
