#include "cli/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/problem_file.h"
#include "driver/clock.h"
#include "driver/problem.h"
#include "driver/report.h"
#include "exit_status.h"
#include "io/output_stream.h"
#include "tolbe/findings.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

void say(std::string_view line) {
  TextSink& err = standard_error();
  err.put(line);
  err.end_line();
  standard_error().flush();
}

std::string version_text() {
  return std::string("tolbe ") + tolbe_version() +
         "\n"
         "Copyright (c) 2026 the tolbe developers; MIT licence: there is NO WARRANTY.\n";
}

// Writes `text`, whose lines each end in a newline, line by line.
void put_lines(TextSink& out, std::string_view text) {
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) end = text.size();
    out.put_line_end(text.substr(0, end));
    text.remove_prefix(std::min(text.size(), end + 1));
  }
}

std::string display_name(const std::string& file) {
  return file == "-" ? "standard input" : file;
}

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
struct Solved {
  std::string file;
  Problem problem;
  std::vector<int> selection;  // 0-based, in the order of the unrestricted rows
  Matrix cov, corr, dis;
  Diagnostics diagnostics;
  std::vector<std::string> warnings;
  std::string error;  // "tolbe: FILE: ...", when the problem failed
  float cpu_start = 0.0f;
  DateValues start{};
};

std::string number_text(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x > 0 ? "Inf" : "-Inf";
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, x).ptr;  // shortest that reads back
  return std::string(text, end);
}

// A finding as the command line shows it: the library's, or the reader's
// (a line with more numbers than its row needs).
struct Shown {
  std::string code;
  Severity severity;
  std::string message;
  std::vector<int> variables;  // from 1
};

std::vector<Shown> findings_of(const Solved& s) {
  std::vector<Shown> shown;
  for (const std::string& extra : s.warnings) {
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

void write_report(const Solved& s) {
  TextSink& out = standard_output();
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  write_start_stamp(out, s.start);
  write_banner(out);
  write_problem_heading(out);
  write_counts(out, p, q);
  write_restricted_heading(out);
  write_matrix_rows(out, pr.restricted_cov, q);
  write_nonrestricted_heading(out);
  write_matrix_rows(out, pr.nonrestricted_cov, p);
  if (pr.with_reliabilities()) write_reliabilities(out, pr.reliabilities, p, q);
  write_result_heading(out);
  write_corrected_cov_heading(out);
  write_matrix_rows(out, s.cov, q);
  write_corrected_corr_heading(out);
  write_matrix_rows(out, s.corr, q);
  if (pr.with_reliabilities()) {
    write_disattenuated_heading(out);
    write_matrix_rows(out, s.dis, q);
  }
  write_cpu_time(out, processor_seconds() - s.cpu_start);
}

// A CSV row without its line end, and its count of values.
struct CsvRow {
  std::string text;
  int values;
};

// The CSV rows of one problem.
void csv_rows(const Solved& s, std::vector<CsvRow>& rows) {
  std::string file = s.file;
  if (file.find_first_of(",\"\r\n") != std::string::npos) {
    std::string quoted = "\"";
    for (char c : file) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    file = quoted + "\"";
  }
  int q = s.problem.n_total;
  auto add = [&](const char* name, const Matrix& m) {
    for (int i = 1; i <= q; ++i) {
      std::string row = file + "," + name + "," + std::to_string(i);
      for (int j = 1; j <= q; ++j) {
        row += ',';  // not "," + text, which trips GCC 12's -Wrestrict
        row += number_text(m(i, j));
      }
      rows.push_back({row, q});
    }
  };
  add("corrected_cov", s.cov);
  add("corrected_corr", s.corr);
  if (s.problem.with_reliabilities()) add("disattenuated_corr", s.dis);
}

nlohmann::ordered_json json_matrix(const Matrix& m, int rows, int columns, bool& non_finite) {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (int i = 1; i <= rows; ++i) {
    nlohmann::ordered_json row = nlohmann::ordered_json::array();
    for (int j = 1; j <= columns; ++j) {
      double x = m(i, j);
      if (std::isfinite(x)) {
        row.push_back(x);
      } else {
        row.push_back(nullptr);
        non_finite = true;
      }
    }
    out.push_back(row);
  }
  return out;
}

nlohmann::ordered_json json_of(const Solved& s) {
  const Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  const Diagnostics& d = s.diagnostics;
  bool non_finite = false;
  nlohmann::ordered_json o;
  o["file"] = s.file;
  o["p"] = p;
  o["q"] = q;
  o["reliability_flag"] = pr.reliability_flag;
  nlohmann::ordered_json selection = nlohmann::ordered_json::array();
  for (int v : s.selection) selection.push_back(v + 1);
  o["selection"] = selection;
  o["restricted"] = json_matrix(pr.restricted_cov, q, q, non_finite);
  o["unrestricted"] = json_matrix(pr.nonrestricted_cov, p, p, non_finite);
  if (pr.with_reliabilities()) {
    nlohmann::ordered_json rel = nlohmann::ordered_json::array();
    for (int v = p; v < q; ++v) rel.push_back(pr.reliabilities[v]);
    o["reliabilities"] = rel;
  } else {
    o["reliabilities"] = nullptr;
  }
  o["corrected_cov"] = json_matrix(s.cov, q, q, non_finite);
  o["corrected_corr"] = json_matrix(s.corr, q, q, non_finite);
  o["disattenuated_corr"] =
      pr.with_reliabilities() ? json_matrix(s.dis, q, q, non_finite) : nlohmann::ordered_json();
  auto place = [](const Place& at) {
    return at.row < 0 ? nlohmann::ordered_json()
                      : nlohmann::ordered_json{at.row + 1, at.column + 1};
  };
  nlohmann::ordered_json diagnostics;
  diagnostics["restricted_asymmetry"] = d.restricted_asymmetry;
  diagnostics["unrestricted_asymmetry"] = d.unrestricted_asymmetry;
  diagnostics["restricted_positive_definite"] = d.restricted_positive_definite;
  diagnostics["unrestricted_positive_definite"] = d.unrestricted_positive_definite;
  diagnostics["nonpositive_variances"] = d.nonpositive_variances;
  diagnostics["first_nonpositive_variance"] =
      d.first_nonpositive_variance.row < 0
          ? nlohmann::ordered_json()
          : nlohmann::ordered_json(d.first_nonpositive_variance.row + 1);
  diagnostics["correlations_out_of_range"] = d.correlations_out_of_range;
  diagnostics["first_correlation_out_of_range"] = place(d.first_correlation_out_of_range);
  diagnostics["disattenuated_out_of_range"] = d.disattenuated_out_of_range;
  diagnostics["first_disattenuated_out_of_range"] = place(d.first_disattenuated_out_of_range);
  diagnostics["reliabilities_out_of_range"] = d.reliabilities_out_of_range;
  diagnostics["first_reliability_out_of_range"] =
      d.first_reliability_out_of_range < 0
          ? nlohmann::ordered_json()
          : nlohmann::ordered_json(d.first_reliability_out_of_range + 1);
  diagnostics["sign_changes"] = d.sign_changes;
  diagnostics["first_sign_change"] = place(d.first_sign_change);
  o["diagnostics"] = diagnostics;
  nlohmann::ordered_json findings = nlohmann::ordered_json::array();
  std::vector<std::string> warnings;
  for (const Shown& f : findings_of(s)) {
    findings.push_back({{"code", f.code},
                        {"severity", severity_name(f.severity)},
                        {"message", f.message},
                        {"variables", f.variables}});
    warnings.push_back(f.message);
  }
  if (non_finite) warnings.push_back("values that are not finite numbers are written as null");
  o["findings"] = findings;
  o["warnings"] = warnings;
  return o;
}

// Reads and solves one problem; false with the one-line error in s.error.
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
  if (!read_problem_file(text, s.problem, error, s.warnings)) {
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

}  // namespace

int run_command_line(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse_options(argc, argv, options, error)) {
    say("tolbe: " + error);
    say("Try 'tolbe --help' for more information.");
    return exit_not_solved;
  }
  TextSink& out = standard_output();
  if (options.help || options.version) {
    put_lines(out, options.help ? std::string(usage_text()) : version_text());
    standard_output().flush();
    return standard_output().first_error() == 0 ? exit_report_complete : exit_report_not_written;
  }
  if (options.files.empty()) options.files.emplace_back("-");

  int worst = exit_report_complete;
  std::vector<CsvRow> csv;
  std::size_t widest = 0;
  nlohmann::ordered_json documents = nlohmann::ordered_json::array();
  static Solved solved;  // about 100 KB
  for (const std::string& file : options.files) {
    solved = Solved{};
    if (!solve(file, options, solved)) {
      worst = std::max<int>(worst, exit_not_solved);
      say(solved.error);
      if (options.format == OutputFormat::json) {
        documents.push_back({{"file", file}, {"error", solved.error}});
      }
      continue;
    }
    // Errors (and, under --strict, warnings) leave the problem without
    // results: they say the numbers would be wrong.
    std::string refusal;
    for (const Shown& f : findings_of(solved)) {
      bool fatal =
          f.severity == Severity::error || (options.strict && f.severity == Severity::warning);
      std::string line = "tolbe: " + display_name(file) + ": " +
                         (fatal ? "error" : severity_name(f.severity)) + ": " + f.message;
      if (fatal && refusal.empty()) refusal = line;
      if (fatal || !options.quiet) say(line);
    }
    if (!refusal.empty()) {
      worst = std::max<int>(worst, exit_not_solved);
      if (options.format == OutputFormat::json) {
        nlohmann::ordered_json document = json_of(solved);
        documents.push_back(
            {{"file", file}, {"error", refusal}, {"findings", document["findings"]}});
      }
      continue;
    }
    switch (options.format) {
      case OutputFormat::report:
        write_report(solved);
        break;
      case OutputFormat::csv:
        csv_rows(solved, csv);
        widest = std::max(widest, static_cast<std::size_t>(solved.problem.n_total));
        break;
      case OutputFormat::json:
        documents.push_back(json_of(solved));
        break;
    }
  }
  if (options.format == OutputFormat::csv) {
    std::string header = "file,matrix,variable";
    for (std::size_t j = 1; j <= widest; ++j) header += ",v" + std::to_string(j);
    out.put_line_end(header);
    for (CsvRow& row : csv) {
      // The rows of smaller problems end in empty cells.
      for (auto k = static_cast<std::size_t>(row.values); k < widest; ++k) row.text += ",";
      out.put_line_end(row.text);
    }
  } else if (options.format == OutputFormat::json) {
    // File names and the texts of errors hold the bytes of the command line
    // and of the input; bytes that are not UTF-8 become U+FFFD.
    out.put_line_end(
        documents.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  }
  if (!standard_output().flush()) {
    say(std::string("tolbe: could not write the output: ") +
        std::strerror(standard_output().first_error()));
    worst = std::max<int>(worst, exit_report_not_written);
  }
  return worst;
}

}  // namespace tolbe
