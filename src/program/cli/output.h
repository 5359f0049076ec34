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

// Appends the CSV rows of `s`: every value at full precision (the shortest
// text that reads back to the same double; Inf, -Inf and NaN as R spells
// them), the file name quoted where it needs to be.
void csv_rows(const Solved& s, std::vector<CsvRow>& rows);

// The findings of `s` as a JSON array of {code, severity, message,
// variables (from 1)}.
nlohmann::ordered_json json_findings(const Solved& s);

// The JSON document of `s`: the input as read, the results (non-finite
// values as null), the diagnostics, the findings and their messages.
nlohmann::ordered_json json_of(const Solved& s);

}  // namespace tolbe
