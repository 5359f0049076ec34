#pragma once

#include <string>
#include <vector>

namespace tolbe {

enum class OutputFormat { report, csv, json };

// What the command line asks for.
struct Options {
  bool help = false;
  bool version = false;
  bool quiet = false;   // no warnings or notes on standard error (errors still)
  bool strict = false;  // warnings are errors: the problem gets no results
  OutputFormat format = OutputFormat::report;
  std::vector<int> selection;      // 1-based, in the order given; empty: 1..p
  std::vector<std::string> files;  // "-" is standard input; empty: standard input
};

// Parses argv with GNU conventions (getopt_long; "--" ends the options).
// Returns true, or false with the first line of the complaint in `error`
// (such as "unrecognized option '--x'"). Allocates.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

// Parses a selection list such as "1,4-5" into 1-based numbers: at least one,
// each from 1 to 50, ranges ascending. Returns false on anything else.
bool parse_selection(const std::string& text, std::vector<int>& selection);

// The text of --help.
const char* usage_text();

}  // namespace tolbe
