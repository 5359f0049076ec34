#pragma once

#include "driver/problem.h"
#include "io/input_stream.h"
#include "program_support.h"

namespace tolbe {

// The whole state of a run, in fixed storage (about 130 KB: the caller
// keeps it off the stack).
struct RunState {
  Problem problem;
  LawleyWork work;
  Matrix corrected_cov;
  Matrix corrected_corr;
};

// Solves the one problem read from `input` in `state` and writes its report
// on standard output; never returns. Exit statuses: 0 report complete, 2
// problem could not be read or solved, 3 report could not be written.
[[noreturn]] void run_problem(RunState& state, InputStream& input);

// The same run, returning the exit status instead of ending the process
// (see catch_run_end). For tests and fuzzing.
int run_problem_returning(RunState& state, InputStream& input);

}  // namespace tolbe
