#include "driver/run.h"

#include <unistd.h>

#include <charconv>
#include <string_view>

#include "driver/clock.h"
#include "driver/problem.h"
#include "driver/problem_input.h"
#include "driver/report.h"
#include "io/format_writer.h"
#include "io/output_stream.h"
#include "io/process_frame.h"
#include "program_support.h"

namespace tolbe {
namespace {

// Writes `before`, the number and `after` as one line on standard error,
// then ends the run: the problem cannot be solved.
[[noreturn]] void reject(std::string_view before, std::int32_t number, std::string_view after) {
  char digits[16];
  char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  TextSink& err = standard_error();
  err.put(before);
  err.put({digits, static_cast<std::size_t>(end - digits)});
  err.put(after);
  err.end_line();
  end_run(exit_not_solved);
}

// The console program's side of the reading: the report echoes the problem
// as it is read (the banner once the counts are known, the restricted matrix
// once read, the unrestricted matrix and the reliabilities at the end), and
// an error ends the run.
class EchoingObserver final : public ProblemObserver {
 public:
  explicit EchoingObserver(const ListReader& reader) : reader_(reader) {}

  void read_failed(const Statement&, int) override { end_run_after_read_error(reader_.error()); }

  void count_outside(Count count, std::int32_t value) override {
    if (count == Count::nonrestricted) {
      reject("error: the number of non-restricted variables is ", value,
             "; it must lie between 0 and 50");
    }
    reject("error: the total number of variables is ", value, "; it must lie between 0 and 50");
  }

  bool counts_read(const Problem& problem) override {
    TextSink& out = standard_output();
    write_banner(out);
    write_problem_heading(out);
    write_counts(out, problem.n_nonrestricted, problem.n_total);
    return true;
  }

  void restricted_read(const Problem& problem) override {
    TextSink& out = standard_output();
    write_restricted_heading(out);
    write_matrix_rows(out, problem.restricted_cov, problem.n_total);
  }

  void problem_read(const Problem& problem) override {
    TextSink& out = standard_output();
    write_nonrestricted_heading(out);
    write_matrix_rows(out, problem.nonrestricted_cov, problem.n_nonrestricted);
    if (problem.with_reliabilities()) {
      write_reliabilities(out, problem.reliabilities, problem.n_nonrestricted, problem.n_total);
    }
  }

 private:
  const ListReader& reader_;
};

void correct_and_report(RunState& state) {
  const Problem& problem = state.problem;
  TextSink& out = standard_output();
  int p = problem.n_nonrestricted;
  int q = problem.n_total;
  int info = lawley_products(p, q, problem.restricted_cov, problem.nonrestricted_cov, state.work);
  if (info != 0) {
    reject(
        "error: the range restricted var/cov matrix of the non-restricted variables is not "
        "positive definite (leading minor of order ",
        info, " is not positive)");
  }

  write_result_heading(out);
  write_corrected_cov_heading(out);
  lawley_assemble(p, q, problem.nonrestricted_cov, state.work, state.corrected_cov);
  write_matrix_rows(out, state.corrected_cov, q);

  cov_to_corr(q, state.corrected_cov, state.corrected_corr);
  write_corrected_corr_heading(out);
  write_matrix_rows(out, state.corrected_corr, q);

  if (problem.with_reliabilities()) {
    disattenuate(q, problem.reliabilities, state.corrected_corr);
    write_disattenuated_heading(out);
    write_matrix_rows(out, state.corrected_corr, q);
  }
}

}  // namespace

void run_problem(RunState& state, InputStream& input) {
  float cpu_start = processor_seconds();
  DateValues start = date_and_time();
  write_start_stamp(standard_output(), start);

  ListReader reader(input);
  EchoingObserver echo(reader);
  read_problem(reader, state.problem, echo);  // returns only when the whole problem is read
  correct_and_report(state);

  float cpu_end = processor_seconds();
  float cpu_used = cpu_end - cpu_start;
  write_cpu_time(standard_output(), cpu_used);
  end_run_complete();
}

int run_problem_returning(RunState& state, InputStream& input) {
  struct Run {
    RunState& state;
    InputStream& input;
  } run{state, input};
  return catch_run_end(
      [](void* context) {
        auto* r = static_cast<Run*>(context);
        run_problem(r->state, r->input);
      },
      &run);
}

}  // namespace tolbe
