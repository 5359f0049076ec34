#pragma once

// One problem of the command line, read and solved, and what is shown of it.

#include <string>
#include <vector>

#include "cli/options.h"
#include "driver/clock.h"
#include "driver/problem.h"
#include "tolbe/findings.h"
#include "tolbe/lawley.h"

namespace tolbe {

// A finding as the command line shows it: the library's, or the reader's
// (a line with more numbers than its row needs).
struct Shown {
  std::string code;
  Severity severity;
  std::string message;
  std::vector<int> variables;  // from 1
};

// One solved problem: the input as read and the library's results.
struct Solved {
  std::string file;
  Problem problem;
  std::vector<int> selection;  // 0-based, in the order of the unrestricted rows
  Matrix cov, corr, dis;
  Diagnostics diagnostics;
  std::vector<std::string> extra_numbers;  // the reader's notes of lines too long
  std::vector<Shown> findings;             // the reader's first, then the library's
  std::string error;                       // "tolbe: FILE: ...", when the problem failed
  float cpu_start = 0.0f;
  DateValues start{};
};

// The name of a file in messages.
inline std::string display_name(const std::string& file) {
  return file == "-" ? "standard input" : file;
}

// Reads and solves one problem of `file` ("-": standard input); false with
// the one-line error in s.error. Reads at most max_problem_file_bytes and a
// byte of a file, and skips a UTF-8 byte-order mark. Allocates.
bool solve(const std::string& file, const Options& options, Solved& s);

}  // namespace tolbe
