#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "cli/cli.h"
#include "cli/data_file.h"
#include "cli/problem_file.h"
#include "cli/solved.h"
#include "io/output_stream.h"

namespace tolbe {
namespace {

// Windows editors start a UTF-8 file with a byte-order mark; it is no part
// of the problem.
void skip_byte_order_mark(std::string& text) {
  constexpr std::string_view mark = "\xEF\xBB\xBF";
  if (std::string_view(text).substr(0, mark.size()) == mark) text.erase(0, mark.size());
}

// The findings of a problem: the reader's first, then the library's, its
// variables named as the data name them.
std::vector<Shown> findings_of(const Solved& s) {
  std::vector<Shown> shown = s.notes;
  for (const std::string& extra : s.extra_numbers) {
    shown.push_back({"extra_numbers", Severity::warning, extra, {}});
  }
  std::array<Finding, max_findings> found;
  int count = std::min(all_findings(s.diagnostics, s.screening, found), max_findings);
  std::vector<const char*> names;
  for (const std::string& name : s.source.names) names.push_back(name.c_str());
  char message[512];
  for (int k = 0; k < count; ++k) {
    Finding f = found[static_cast<std::size_t>(k)];
    // The library counts the complete rows it was given; the file's rows
    // count the others too.
    bool of_pool =
        f.code == FindingCode::pool_suspect_code || f.code == FindingCode::pool_outlying_value;
    const std::vector<int>& rows = of_pool ? s.pool_rows : s.data_rows;
    if (f.row >= 0 && static_cast<std::size_t>(f.row) < rows.size()) {
      f.row = rows[static_cast<std::size_t>(f.row)] - 1;
    }
    finding_message(f, names, message, sizeof message);
    std::vector<int> variables;
    for (int v : f.variables) {
      if (v >= 0) variables.push_back(v + 1);
    }
    shown.push_back({finding_code_name(f.code), f.severity, message, variables});
  }
  return shown;
}

std::string mib(std::size_t bytes) {
  return std::to_string((bytes + (std::size_t{1} << 20) - 1) >> 20) + " MiB";
}

}  // namespace

bool fail(Solved& s, const std::string& where, Fault fault) {
  s.error = "tolbe: ";
  if (!where.empty()) s.error += where + (fault.line > 0 ? ":" : ": ");
  s.error += fault.placed();
  s.fault = std::move(fault);
  return false;
}

bool fail(Solved& s, const std::string& where, const char* code, std::string message,
          const std::string& file, const char* argument) {
  Fault f;
  f.code = code;
  f.argument = argument;
  f.file = file;
  f.message = std::move(message);
  return fail(s, where, std::move(f));
}

bool slurp(const std::string& file, std::size_t limit, std::string& text, std::string& error) {
#ifdef _WIN32
  // Binary: the file's bytes as on Linux, "\r\n" and a Ctrl+Z included.
  int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_BINARY);
#else
  int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY);
#endif
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (fd == STDIN_FILENO && isatty(STDIN_FILENO))
    write_fully(STDERR_FILENO, terminal_hint, std::strlen(terminal_hint));
  // Reserved whole, so that growing never copies; only the pages a file
  // fills are ever touched.
  text.reserve(limit + 1);
  char buffer[1 << 14];
  while (text.size() <= limit) {
    std::size_t room = limit + 1 - text.size();
#ifdef _WIN32
    // The C run-time's read() counts in unsigned int; the buffer is small.
    int got = ::_read(fd, buffer, static_cast<unsigned>(std::min(sizeof buffer, room)));
#else
    ssize_t got = ::read(fd, buffer, std::min(sizeof buffer, room));
#endif
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

LawleyProblem library_problem(const Solved& s) {
  const Problem& pr = s.problem;
  int q = pr.n_total;
  int p = pr.n_nonrestricted;
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
  return lp;
}

bool refused_by_findings(const Solved& s) {
  return std::any_of(s.findings.begin(), s.findings.end(),
                     [](const Shown& f) { return f.severity == Severity::error; });
}

bool correct(const LawleyProblem& lp, const std::string& name, Solved& s) {
  LawleyResults results{s.cov.data(),  Matrix::leading_dimension,
                        s.corr.data(), Matrix::leading_dimension,
                        s.dis.data(),  Matrix::leading_dimension};
  WorkspaceSize need = lawley_workspace_size(lp.q, lp.p);
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
    return fail(s, name, "invalid_argument", which + ": " + s.diagnostics.reason, s.file);
  }
  if (status == Status::not_positive_definite) {
    return fail(s, name, "not_positive_definite",
                "the restricted var/cov matrix of the selection variables is not positive "
                "definite (leading minor of order " +
                    std::to_string(s.diagnostics.leading_minor) + "); it cannot be inverted",
                s.file);
  }
  const Problem& pr = s.problem;
  if (pr.with_reliabilities() && lp.q == lp.p) {
    // Every variable is a selection variable, with a reliability of 1: the
    // disattenuated correlations are the corrected ones, as the report has
    // them. (The library writes no disattenuated matrix without
    // reliabilities of other variables.)
    s.dis = s.corr;
  }
  return true;
}

bool allocate_workspace(const WorkspaceSize& need, const std::string& what, const std::string& name,
                        Solved& s, std::vector<double>& work, std::vector<int>& int_work) {
  char refusal[256];
  if (workspace_refusal(what.c_str(), need, refusal, sizeof refusal) > 0) {
    return fail(s, name, "too_much_memory", refusal, s.file);
  }
  std::size_t bytes = workspace_bytes(need);
  try {
    work.resize(need.doubles);
    int_work.resize(need.ints);
  } catch (const std::bad_alloc&) {
    return fail(
        s, name, "out_of_memory",
        "there is not enough memory for " + what + " (" + mib(bytes) + "); use fewer resamples",
        s.file);
  }
  return true;
}

IntervalRequest interval_request(const Options& options) {
  IntervalRequest r;
  r.method = options.interval;
  r.level = options.level;
  r.n = options.n;
  r.n_unrestricted = options.n_unrestricted;
  r.resamples = options.resamples;
  r.seed = options.seed;
  r.threads = options.threads;
  r.interval = options.ci_type;
  return r;
}

bool add_intervals(const LawleyProblem& lp, const IntervalRequest& request, const std::string& name,
                   Solved& s) {
  auto in = std::make_unique<Intervals>();
  IntervalResults results;
  IntervalMatrices* to[3] = {&results.covariances, &results.correlations, &results.disattenuated};
  for (int m = 0; m < 3; ++m) {
    *to[m] = {in->se[m].data(), in->lower[m].data(), in->upper[m].data(),
              Matrix::leading_dimension};
  }
  WorkspaceSize need = lawley_intervals_workspace_size(lp.q, lp.p, request);
  std::vector<double> work;
  std::vector<int> int_work;
  if (!allocate_workspace(need, "the intervals", name, s, work, int_work)) return false;
  // An invalid request gives a workspace of nothing, and the library then
  // says what is wrong with it.
  Status status = lawley_intervals(lp, request, results, work, int_work, &in->summary);
  if (status == Status::invalid_argument) {
    return fail(s, name, "invalid_argument", std::string("the intervals: ") + in->summary.reason,
                s.file);
  }
  if (status == Status::not_positive_definite) {
    return fail(s, name, "not_positive_definite",
                "the restricted var/cov matrix of the selection variables is not positive "
                "definite (leading minor of order " +
                    std::to_string(in->summary.leading_minor) + "); it cannot be inverted",
                s.file);
  }
  if (s.problem.with_reliabilities() && lp.q == lp.p) {
    in->se[disattenuated_corr] = in->se[corrected_corr];
    in->lower[disattenuated_corr] = in->lower[corrected_corr];
    in->upper[disattenuated_corr] = in->upper[corrected_corr];
  }
  in->seed = request.seed;
  const IntervalSummary& sum = in->summary;
  if (sum.failed_resamples > 0) {
    bool all = sum.failed_resamples == sum.resamples;
    s.findings.push_back(
        {"failed_resamples",
         Severity::warning,
         (all ? "all " + std::to_string(sum.resamples)
              : std::to_string(sum.failed_resamples) + " of " + std::to_string(sum.resamples)) +
             " bootstrap resamples failed (the selection variables' var/cov matrix not positive "
             "definite) and were left out: " +
             (all ? "there are no intervals" : "the intervals rest on the others"),
         {}});
  }
  if (sum.percentile_fallbacks > 0) {
    s.findings.push_back(
        {"percentile_fallbacks",
         Severity::note,
         std::to_string(sum.percentile_fallbacks) +
             (sum.percentile_fallbacks == 1 ? " value has" : " values have") +
             " no BCa interval (every resample on one side of the estimate, or the acceleration "
             "too large) and got the percentile interval",
         {}});
  }
  s.intervals = std::move(in);
  return true;
}

bool solve(const std::string& file, const Options& options, Solved& s) {
  s.file = file;
  s.cpu_start = processor_seconds();
  s.start = date_and_time();
  std::string name = display_name(file);
  std::string text;
  std::string error;
  if (!slurp(file, max_problem_file_bytes, text, error)) {
    return fail(s, "", "file_unreadable", "cannot open '" + file + "': " + error, file);
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
  Fault fault;
  if (!read_problem_file(text, s.problem, fault, s.extra_numbers)) {
    if (too_long) {
      return fail(s, name, "file_too_long",
                  "the file is longer than " + std::to_string(max_problem_file_bytes >> 20) +
                      " MiB, and its first " + std::to_string(max_problem_file_bytes >> 20) +
                      " MiB hold no whole problem; a problem of at most " +
                      std::to_string(max_variables) + " variables needs far less",
                  file);
    }
    fault.file = file;
    return fail(s, name, std::move(fault));
  }
  Problem& pr = s.problem;
  int p = pr.n_nonrestricted;
  int q = pr.n_total;
  s.selection.clear();
  if (!options.names.empty()) {
    if (options.names.size() != static_cast<std::size_t>(q)) {
      return fail(s, name, "wrong_count",
                  "'--names' gives " + std::to_string(options.names.size()) +
                      (options.names.size() == 1 ? " name" : " names") + ", but the problem has " +
                      std::to_string(q) + (q == 1 ? " variable" : " variables"),
                  file, "names");
    }
    s.source.names = options.names;
  }
  // The library resolves the selection (by name with --names) and the
  // reliabilities, and says where they were measured; how many selection
  // variables there are is the file's.
  Call& call = s.call;
  call.spelling = command_line_spelling();
  call.q = q;
  call.p = p;
  call.names = options.names;
  if (!options.selection_text.empty() && (!options.names.empty() || !options.selection.empty())) {
    Given& selection = call.selection;
    if (!options.names.empty()) {
      selection = list_given(options.selection_text, options.names);
    } else {
      selection.kind = Given::Kind::numbers;
      selection.numbers.assign(options.selection.begin(), options.selection.end());
    }
    if (selection.size() != static_cast<std::size_t>(p)) {
      return fail(s, name, "wrong_count",
                  "--select names " + std::to_string(selection.size()) +
                      " variables, but the problem has " + std::to_string(p) +
                      " selection variables",
                  file, "select");
    }
    for (int v : options.selection) {
      if (options.names.empty() && v > q) {
        return fail(s, name, "number_out_of_range",
                    "--select names variable " + std::to_string(v) + ", but the problem has " +
                        std::to_string(q) + " variables",
                    file, "select");
      }
    }
  }
  set_reliabilities_given(options, pr, call);
  if (!resolve(name, s)) return false;
  // A problem file gives every other variable a reliability, tests and
  // criteria alike, so its reliabilities do not tell the criteria: they are
  // named with '--criterion' alone.
  s.criteria.clear();
  if (options.n > 0) s.screening = screen_sample_size(options.n, q);
  LawleyProblem lp = library_problem(s);
  if (!convert_reliabilities(lp, name, s)) return false;
  if (!correct(lp, name, s)) return false;
  if (options.reliabilities_restricted && !pr.with_reliabilities()) {
    // Asked for, and nothing to do: said rather than passed over.
    s.findings.push_back({"no_reliabilities_to_convert",
                          Severity::note,
                          "'--reliabilities-from=restricted' has no reliabilities to convert: the "
                          "problem gives none",
                          {}});
  }
  if (refused_by_findings(s)) return true;
  IntervalRequest request = interval_request(options);
  if (options.interval != IntervalMethod::none && !add_intervals(lp, request, name, s)) {
    return false;
  }
  return options.criterion.empty() || add_regression(lp, request, options, name, s);
}

}  // namespace tolbe
