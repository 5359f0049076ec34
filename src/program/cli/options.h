#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tolbe/intervals.h"
#include "tolbe/request.h"

namespace tolbe {

enum class OutputFormat { report, csv, json, table, markdown };

// What the command line asks for.
struct Options {
  bool help = false;
  bool version = false;
  bool quiet = false;   // no warnings or notes on standard error (errors still)
  bool strict = false;  // warnings are errors: the problem gets no results
  OutputFormat format = OutputFormat::report;
  std::vector<int> selection;      // 1-based, in the order given; empty: 1..p
  std::string selection_text;      // --select as given: with --data its items may be names
  std::vector<std::string> files;  // "-" is standard input; empty: standard input

  // Raw scores instead of problem files: the restricted sample's (every
  // column a variable) and, for the selection variables, either the pool's
  // raw scores or their unrestricted var/cov matrix. Empty: not given.
  std::string data;
  // --restricted: instead of raw scores, the restricted sample's var/cov
  // matrix with a header row of names (with --unrestricted).
  std::string restricted;
  std::string pool;
  std::string unrestricted;
  // --reliabilities=NAME=VALUE,...: by the data's (or --restricted's) names.
  std::vector<std::pair<std::string, double>> reliabilities;

  // The intervals. `interval` is the method in effect once parse_options()
  // has settled the defaults: normal with --n, adf with --data, none
  // otherwise.
  IntervalMethod interval = IntervalMethod::none;
  int n = 0;               // the restricted sample size of matrix input; 0: not given
  int n_unrestricted = 0;  // 0: the unrestricted matrix is known
  double level = default_level;
  int resamples = default_resamples;
  std::uint64_t seed = 0;
  int threads = 0;  // 0: as many as the machine has
  BootstrapInterval ci_type = BootstrapInterval::bca;

  // The validity question, as given: lists of names or numbers (from 1),
  // resolved against each problem's variables. Empty criterion: not asked.
  std::string criterion;
  std::string predictors;  // empty: every variable but the criterion
  std::string base;        // empty: no increment

  // The reliabilities given were measured in the restricted sample, and are
  // converted to the unrestricted population's before they are used.
  bool reliabilities_restricted = false;

  // --names: the variables' names for matrix input (empty: numbers).
  std::vector<std::string> names;
};

// Parses argv with GNU conventions (getopt_long; "--" ends the options),
// then settles the defaults that depend on other options (the interval
// method, and the format: table when there are intervals or raw scores)
// and refuses combinations that cannot work, such as --interval=adf
// without --data. Returns true, or false with the first line of the
// complaint in `error` (such as "unrecognized option '--x'"). Allocates.
bool parse_options(int argc, char** argv, Options& options, std::string& error);

// Splits --names' "a,b,c" into names: each non-empty, distinct, at most
// 50. Returns false on anything else.
bool parse_names(const std::string& text, std::vector<std::string>& names);

// Parses a selection list such as "1,4-5" into 1-based numbers: at least one,
// each from 1 to 50, ranges ascending. Returns false on anything else.
bool parse_selection(const std::string& text, std::vector<int>& selection);

// The text of --help.
const char* usage_text();

}  // namespace tolbe
