#include "cli/cli.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/solved.h"
#include "exit_status.h"
#include "io/display_text.h"
#include "io/output_stream.h"
#include "tolbe/findings.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

// Writes a message on standard error. File and column names reach it from
// the command line and the input: their control characters are written
// out, so that a name cannot recolour the terminal or forge a line.
void say(std::string_view line) {
  TextSink& err = standard_error();
  err.put(escape_controls(line));
  err.end_line();
  standard_error().flush();
}

std::string version_text() {
  return std::string("tolbe ") + tolbe_version() +
         "\n"
         "Copyright (c) 2026 the tolbe developers; MIT licence: there is NO WARRANTY.\n";
}

// A failed problem's refusal in JSON: what failed as data (null where it
// does not apply), beside the text of "error".
nlohmann::ordered_json json_refusal(const Fault& f) {
  auto text_or_null = [](const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
  };
  auto number_or_null = [](std::size_t n) {
    return n == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(n);
  };
  return {{"code", f.code},
          {"argument", text_or_null(f.argument)},
          {"file", text_or_null(f.file)},
          {"line", number_or_null(f.line)},
          {"column", number_or_null(f.line == 0 ? 0 : f.column)},
          {"message", f.message}};
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
  // Raw scores (or their named var/cov matrix) are one problem, named after
  // the data file.
  bool raw = !options.data.empty() || !options.restricted.empty();
  if (raw) {
    options.files = {options.data.empty() ? options.restricted : options.data};
  } else if (options.files.empty()) {
    options.files.emplace_back("-");
  }

  int worst = exit_report_complete;
  std::vector<CsvRow> csv;
  std::vector<std::string> csv_regression;
  std::size_t widest = 0;
  std::vector<std::string> names;  // of raw scores' variables, for the CSV header
  bool first_table = true;
  nlohmann::ordered_json documents = nlohmann::ordered_json::array();
  static Solved solved;  // about 100 KB
  for (const std::string& file : options.files) {
    solved = Solved{};
    bool solved_it = raw ? solve_data(options, solved) : solve(file, options, solved);
    if (!solved_it) {
      worst = std::max<int>(worst, exit_not_solved);
      // What the correction found before it failed may say why (a
      // variable that does not vary, say), so it comes first.
      for (const Shown& f : solved.findings) {
        if (f.severity != Severity::note || !options.quiet) {
          say("tolbe: " + display_name(file) + ": " + severity_name(f.severity) + ": " + f.message);
        }
      }
      say(solved.error);
      if (options.format == OutputFormat::json) {
        nlohmann::ordered_json failed = {{"file", file},
                                         {"version", tolbe_version()},
                                         {"error", solved.error},
                                         {"refusal", json_refusal(solved.fault)}};
        // What was found before the failure may say why (a selection
        // block that is not positive definite, a predictor that does not
        // vary): the findings said on standard error go with it.
        if (solved.diagnostics.status == Status::not_positive_definite ||
            !solved.findings.empty()) {
          failed["findings"] = json_findings(solved);
        }
        documents.push_back(failed);
      }
      continue;
    }
    // Errors (and, under --strict, warnings) leave the problem without
    // results: they say the numbers would be wrong.
    std::string refusal;
    Fault fault;
    for (const Shown& f : solved.findings) {
      bool fatal =
          f.severity == Severity::error || (options.strict && f.severity == Severity::warning);
      std::string line = "tolbe: " + display_name(file) + ": " +
                         (fatal ? "error" : severity_name(f.severity)) + ": " + f.message;
      if (fatal && refusal.empty()) {
        refusal = line;
        fault.code = f.code;
        fault.file = file;
        fault.message = f.message;
      }
      if (fatal || !options.quiet) say(line);
    }
    if (!refusal.empty()) {
      worst = std::max<int>(worst, exit_not_solved);
      if (options.format == OutputFormat::json) {
        documents.push_back({{"file", file},
                             {"version", tolbe_version()},
                             {"error", refusal},
                             {"refusal", json_refusal(fault)},
                             {"findings", json_findings(solved)}});
      }
      continue;
    }
    switch (options.format) {
      case OutputFormat::report:
        write_report(solved);
        break;
      case OutputFormat::csv:
        csv_rows(solved, csv);
        csv_regression_rows(solved, csv_regression);
        widest = std::max(widest, static_cast<std::size_t>(solved.problem.n_total));
        if (!solved.source.names.empty()) names = solved.source.names;
        // The CSV holds numbers only: how they were computed goes with the
        // notes.
        if (solved.intervals && !options.quiet) {
          say("tolbe: " + display_name(file) + ": note: " + interval_description(solved));
        }
        break;
      case OutputFormat::json:
        documents.push_back(json_of(solved));
        break;
      case OutputFormat::table:
      case OutputFormat::markdown:
        if (!first_table) out.put_line_end("");
        first_table = false;
        write_table(solved, options.format == OutputFormat::markdown);
        break;
    }
  }
  if (options.format == OutputFormat::csv) {
    // The version is a column, not a comment line: R's read.csv and pandas
    // read it without options.
    std::string header = "version,file,matrix,variable";
    for (std::size_t j = 1; j <= widest; ++j) {
      header += ',';
      if (j <= names.size()) {
        header += csv_field(names[j - 1]);
      } else {
        header += 'v';  // appended, not "v" + ...: GCC 12 warns falsely (-Wrestrict) on that
        header += std::to_string(j);
      }
    }
    out.put_line_end(header);
    for (CsvRow& row : csv) {
      // The rows of smaller problems end in empty cells.
      for (auto k = static_cast<std::size_t>(row.values); k < widest; ++k) row.text += ",";
      out.put_line_end(row.text);
    }
    // The validity question's values are of another shape: a second table,
    // after a blank line.
    if (!csv_regression.empty()) {
      out.put_line_end("");
      out.put_line_end(std::string("version,file,criterion,quantity,predictor,estimate") +
                       (options.interval == IntervalMethod::none ? "" : ",se,lower,upper"));
      for (const std::string& row : csv_regression) out.put_line_end(row);
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
