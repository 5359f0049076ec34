#pragma once

// One problem of the command line, read and solved, and what is shown of it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/fault.h"
#include "cli/options.h"
#include "driver/clock.h"
#include "driver/problem.h"
#include "tolbe/findings.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/request.h"
#include "tolbe/screening.h"

namespace tolbe {

// A finding as the command line shows it: the library's, or the reader's
// (a line with more numbers than its row needs).
struct Shown {
  std::string code;
  Severity severity;
  std::string message;
  std::vector<int> variables;  // from 1
};

// The standard errors and interval bounds of the three corrected matrices
// (numbered as they are), and how the library computed them.
enum ResultMatrix { corrected_cov = 0, corrected_corr = 1, disattenuated_corr = 2 };
struct Intervals {
  IntervalSummary summary;
  std::uint64_t seed = 0;            // of a bootstrap
  Matrix se[3], lower[3], upper[3];  // by ResultMatrix
};

// The validity question's answer (see <tolbe/validity.h>): the variables
// from 0, the base's predictors first, and the values in the library's
// order, validity_values(k) of each.
struct Regression {
  int criterion = -1;
  std::vector<int> predictors;
  int base = 0;  // 0: no increment
  double criterion_reliability = 1.0;
  bool reliability_given = false;  // the criterion has a reliability below the problem's
  std::vector<double> estimate, se, lower, upper;
};

// Where the matrices of a problem of raw scores come from.
struct RawSource {
  // The data's column names, or those of --names: the variables, in order.
  // Empty: the variables go by number.
  std::vector<std::string> names;
  int rows_used = 0;       // complete rows of the data
  int rows_dropped = 0;    // rows of the data with a missing value
  std::string pool;        // the pool's file, or empty
  int pool_rows_used = 0;  // complete rows of the pool (selection columns)
  int pool_rows_dropped = 0;
  std::string unrestricted;  // the unrestricted matrix's file, or empty
};

// One solved problem: the input as read and the library's results.
struct Solved {
  std::string file;
  Problem problem;
  std::vector<int> selection;  // 0-based, in the order of the unrestricted rows
  Matrix cov, corr, dis;
  Diagnostics diagnostics;
  // What the raw scores (or --n) say; with raw scores, the row from 1 below
  // the header of each complete row of the data and of the pool, by which
  // the findings name rows.
  Screening screening;
  // The criteria: the variables given a reliability by name (0-based),
  // never predictors by default.
  std::vector<int> criteria;
  std::vector<int> data_rows;
  std::vector<int> pool_rows;
  std::vector<std::string> extra_numbers;  // the reader's notes of lines too long
  std::vector<Shown> findings;             // the reader's first, then the library's
  std::string error;                       // "tolbe: FILE: ...", when the problem failed
  Fault fault;                             // what s.error says, as data
  float cpu_start = 0.0f;
  DateValues start{};
  bool raw = false;                        // read from raw scores (--data)
  RawSource source;                        // with raw
  std::vector<Shown> notes;                // of the raw scores' reading, shown first
  std::unique_ptr<Intervals> intervals;    // when asked for and computed
  std::unique_ptr<Regression> regression;  // with --criterion
  // With --reliabilities-from=restricted, the reliabilities as given (the
  // restricted sample's), in the places of problem.reliabilities, which
  // then hold the unrestricted population's. Empty otherwise.
  std::vector<double> restricted_reliabilities;
  // The call as the library's request layer took it, and as it resolved
  // it: the selection, the reliabilities and where they were measured.
  Call call;
  ResolvedCall resolved;
};

// Fails `s` with `fault`: false, with s.fault and its line in s.error,
// "tolbe: WHERE:LINE:COLUMN: MESSAGE" (WHERE names the file; empty: none).
bool fail(Solved& s, const std::string& where, Fault fault);

// Fails `s` with a fault of the program's `code` and `message`, of `file`
// (empty: none) and `argument` (the option without dashes; empty: none).
bool fail(Solved& s, const std::string& where, const char* code, std::string message,
          const std::string& file = {}, const char* argument = "");

// The name of a file in messages.
inline std::string display_name(const std::string& file) {
  return file == "-" ? "standard input" : file;
}

// Reads and solves one problem of `file` ("-": standard input); false with
// the one-line error in s.error. Reads at most max_problem_file_bytes and a
// byte of a file, and skips a UTF-8 byte-order mark. With options.interval
// other than none adds the intervals (normal theory, options.n).
// Allocates.
bool solve(const std::string& file, const Options& options, Solved& s);

// Reads and solves the problem of the raw scores of options.data with
// options.unrestricted or options.pool: V and S are their var/cov matrices
// (complete rows), the point estimates lawley()'s on them, and the
// intervals (unless none) the library's from the same scores. With
// options.restricted instead, V is that named matrix, and the intervals
// those of matrix input (normal theory, options.n). False with the
// one-line error in s.error. Allocates.
bool solve_data(const Options& options, Solved& s);

// ---- The steps both share (solve.cc) --------------------------------------

// The whole of a file ("-": standard input), or its first `limit` bytes and
// one more when it is longer: `text` never holds more, whatever the file.
// False with the system's complaint in `error`.
bool slurp(const std::string& file, std::size_t limit, std::string& text, std::string& error);

// The library's view of the problem as read: its matrices, the selection
// and the reliabilities of the other variables. It points into `s`.
LawleyProblem library_problem(const Solved& s);

// Corrects `lp` into s.cov, s.corr and s.dis with its diagnostics, and
// finds s.findings (after s.notes and s.extra_numbers); false with s.error
// when the library refuses or V11 is not positive definite. `name` is the
// file's name in messages.
bool correct(const LawleyProblem& lp, const std::string& name, Solved& s);

// Whether the findings hold an error: the results must not be used, and
// nothing is computed from them.
bool refused_by_findings(const Solved& s);

// Adds the library's intervals for `lp` and `request` to s.intervals; false
// with s.error when the library refuses them or they would need more
// memory than the library allows.
bool add_intervals(const LawleyProblem& lp, const IntervalRequest& request, const std::string& name,
                   Solved& s);

// Sizes `work` and `int_work` to `need`, unless that would take more than
// the library's max_workspace_bytes or more memory than there is: then false with s.error,
// which names `what` (such as "the intervals").
bool allocate_workspace(const WorkspaceSize& need, const std::string& what, const std::string& name,
                        Solved& s, std::vector<double>& work, std::vector<int>& int_work);

// ---- The call, resolved by the library (regression.cc) --------------------

// How the command line's users write the library's arguments: '--select',
// --interval=bootstrap, variables counted from 1.
Spelling command_line_spelling();

// A list of the command line (--select, --criterion, ...) as the library
// takes it: numbers (from 1; ranges such as 4-5 spelled out) when every
// item is one, else names, an item being a name when a variable in
// `names` has it.
Given list_given(const std::string& list, const std::vector<std::string>& names);

// The reliabilities of `call`: --reliabilities' by name, else those of
// the problem file in the order of the other variables; and where they
// were measured, with --reliabilities-from=restricted.
void set_reliabilities_given(const Options& options, const Problem& problem, Call& call);

// Resolves s.call into s.resolved and applies it to s: the selection, p,
// the criteria, the reliabilities of the other variables (those not named
// are 1, with the library's note). False with s.error when the library
// refuses the call; `where` names the file in the error (empty: none).
bool resolve(const std::string& where, Solved& s);

// Fails `s` with the library's `refusal`: false with s.error.
bool refused(const std::string& where, const Refusal& refusal, Solved& s);

// Converts the reliabilities that s.resolved says were measured in the
// restricted sample to the unrestricted population's by the library's rule
// (a value outside (0, 1] refused), keeping the given ones in
// s.restricted_reliabilities; false with s.error when one is no
// reliability. Call before correct().
bool convert_reliabilities(const LawleyProblem& lp, const std::string& name, Solved& s);

// Answers the validity question of `options` (--criterion, --predictors,
// --base) on the correction of `lp`, with SEs and intervals by `request`
// (none: estimates only), into s.regression; false with s.error when the
// lists do not fit the problem or the library refuses.
bool add_regression(const LawleyProblem& lp, const IntervalRequest& request, const Options& options,
                    const std::string& name, Solved& s);

// The interval request of `options` (without raw scores).
IntervalRequest interval_request(const Options& options);

}  // namespace tolbe
