#pragma once

// The CSV the program writes begins each record with the version that
// wrote it (a column "version"). Expected CSV texts of the tests are
// written without it, as the numbers they check were worked out; this adds
// it as the program must: "version" before each header, the version before
// each row, blank lines kept. Records are split at line ends outside quotes.

#include <string>

namespace tolbe::testing_support {

inline std::string with_version_column(const std::string& csv,
                                       const std::string& version = TOLBE_PROJECT_VERSION) {
  // Not CSV (a report, a table, nothing): as it is.
  if (csv.rfind("file,matrix,variable", 0) != 0) return csv;
  std::string out;
  bool quoted = false;
  bool record_start = true;
  for (std::size_t at = 0; at < csv.size(); ++at) {
    char c = csv[at];
    if (record_start && c != '\n') {
      bool header = csv.compare(at, 21, "file,matrix,variable,") == 0 ||
                    csv.compare(at, 21, "file,matrix,variable\n") == 0 ||
                    csv.compare(at, 24, "file,criterion,quantity,") == 0;
      out += header ? std::string("version,") : version + ",";
    }
    record_start = false;
    if (c == '"') quoted = !quoted;
    out += c;
    if (c == '\n' && !quoted) record_start = true;
  }
  return out;
}

}  // namespace tolbe::testing_support
