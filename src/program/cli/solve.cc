#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "cli/cli.h"
#include "cli/problem_file.h"
#include "cli/solved.h"
#include "io/output_stream.h"

namespace tolbe {
namespace {

// The whole of a file ("-": standard input), or its first
// max_problem_file_bytes and one more byte when it is longer: `text` never
// holds more, whatever the file (a device or a FIFO that never ends
// included). False with the system's complaint in `error`.
bool slurp(const std::string& file, std::string& text, std::string& error) {
  int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fd == STDIN_FILENO && isatty(STDIN_FILENO))
    write_fully(STDERR_FILENO, terminal_hint, std::strlen(terminal_hint));
  // Reserved whole, so that growing never copies; only the pages a file
  // fills are ever touched.
  text.reserve(max_problem_file_bytes + 1);
  char buffer[1 << 14];
  while (text.size() <= max_problem_file_bytes) {
    std::size_t room = max_problem_file_bytes + 1 - text.size();
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, room));
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = std::strerror(errno);
    break;
  }
  if (fd != STDIN_FILENO) ::close(fd);
  return error.empty();
}

// Windows editors start a UTF-8 file with a byte-order mark; it is no part
// of the problem.
void skip_byte_order_mark(std::string& text) {
  constexpr std::string_view mark = "\xEF\xBB\xBF";
  if (std::string_view(text).substr(0, mark.size()) == mark) text.erase(0, mark.size());
}

// One solved problem: the input as read and the library's results.
// The findings of a problem: the reader's first, then the library's.
std::vector<Shown> findings_of(const Solved& s) {
  std::vector<Shown> shown;
  for (const std::string& extra : s.extra_numbers) {
    shown.push_back({"extra_numbers", Severity::warning, extra, {}});
  }
  std::array<Finding, max_findings> found;
  int count = lawley_findings(s.diagnostics, found);
  char message[512];
  for (int k = 0; k < count; ++k) {
    const Finding& f = found[static_cast<std::size_t>(k)];
    finding_message(f, {}, message, sizeof message);
    std::vector<int> variables;
    for (int v : f.variables) {
      if (v >= 0) variables.push_back(v + 1);
    }
    shown.push_back({finding_code_name(f.code), f.severity, message, variables});
  }
  return shown;
}

}  // namespace

bool solve(const std::string& file, const Options& options, Solved& s) {
  s.file = file;
  s.cpu_start = processor_seconds();
  s.start = date_and_time();
  std::string name = display_name(file);
  std::string text;
  std::string error;
  if (!slurp(file, text, error)) {
    s.error = "tolbe: cannot open '" + file + "': " + error;
    return false;
  }
  skip_byte_order_mark(text);
  s.problem = Problem{};
  bool too_long = text.size() > max_problem_file_bytes;
  if (too_long) {
    // A problem that is complete in the lines read is read as from the
    // whole file, since reading never goes past the line of its last value.
    std::size_t last_line_end = text.rfind('\n', max_problem_file_bytes - 1);
    text.resize(last_line_end == std::string::npos ? 0 : last_line_end + 1);
  }
  if (!read_problem_file(text, s.problem, error, s.extra_numbers)) {
    if (too_long) {
      s.error = "tolbe: " + name + ": the file is longer than " +
                std::to_string(max_problem_file_bytes >> 20) + " MiB, and its first " +
                std::to_string(max_problem_file_bytes >> 20) +
                " MiB hold no whole problem; a problem of at most 50 variables needs far less";
    } else {
      s.error = "tolbe: " + name + ":" + error;
    }
    return false;
  }
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  s.selection.clear();
  if (!options.selection.empty()) {
    if (options.selection.size() != static_cast<std::size_t>(p)) {
      s.error = "tolbe: " + name + ": --select names " + std::to_string(options.selection.size()) +
                " variables, but the problem has " + std::to_string(p) + " selection variables";
      return false;
    }
    for (int v : options.selection) {
      if (v > q) {
        s.error = "tolbe: " + name + ": --select names variable " + std::to_string(v) +
                  ", but the problem has " + std::to_string(q) + " variables";
        return false;
      }
      s.selection.push_back(v - 1);
    }
  } else {
    for (int k = 0; k < p; ++k) s.selection.push_back(k);
  }
  LawleyProblem lp;
  lp.q = q;
  lp.p = p;
  lp.restricted = pr.restricted_cov.data();
  lp.ld_restricted = Matrix::leading_dimension;
  lp.unrestricted = pr.nonrestricted_cov.data();
  lp.ld_unrestricted = Matrix::leading_dimension;
  lp.selection = s.selection;
  // Without --select the reliabilities follow variables p+1..q; with it,
  // the non-selection variables in their order, as read.
  if (pr.with_reliabilities()) {
    lp.reliabilities = {pr.reliabilities + p, static_cast<std::size_t>(q - p)};
  }
  LawleyResults results{s.cov.data(),  Matrix::leading_dimension,
                        s.corr.data(), Matrix::leading_dimension,
                        s.dis.data(),  Matrix::leading_dimension};
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  Status status = lawley(lp, results, work, int_work, &s.diagnostics);
  s.findings = findings_of(s);
  if (status == Status::invalid_argument) {
    std::string which =
        s.diagnostics.argument == Argument::restricted      ? "the restricted var/cov matrix"
        : s.diagnostics.argument == Argument::unrestricted  ? "the unrestricted var/cov matrix"
        : s.diagnostics.argument == Argument::reliabilities ? "the reliabilities"
        : s.diagnostics.argument == Argument::selection     ? "--select"
                                                            : "the problem";
    s.error = "tolbe: " + name + ": " + which + ": " + s.diagnostics.reason;
    return false;
  }
  if (status == Status::not_positive_definite) {
    s.error =
        ("tolbe: " + name +
         ": the restricted var/cov matrix of the selection variables is not positive definite "
         "(leading minor of order " +
         std::to_string(s.diagnostics.leading_minor) + "); it cannot be inverted");
    return false;
  }
  if (pr.with_reliabilities() && q == p) {
    // Every variable is a selection variable, with a reliability of 1: the
    // disattenuated correlations are the corrected ones, as the report has
    // them. (The library writes no disattenuated matrix without
    // reliabilities of other variables.)
    s.dis = s.corr;
  }
  return true;
}

}  // namespace tolbe
