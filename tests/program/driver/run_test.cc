#include "driver/run.h"

#include <gtest/gtest.h>

#include <string>

#include "support/captured_run.h"

namespace tolbe {
namespace {

using testing_support::run_captured;

struct Case {
  const char* name;
  const char* input;
  int status;
  const char* err_start;  // the start of standard error
  const char* out_end;    // the end of standard output
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ReturningRun : public testing::TestWithParam<Case> {};

// The run that returns its status ends each way a process run ends, the
// error package's halt through the BLAS included, and can run again.
TEST_P(ReturningRun, ends_as_the_process_would) {
  const Case& c = GetParam();
  for (int again = 0; again < 2; ++again) {
    testing_support::CapturedRun run = run_captured(c.input);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err.substr(0, std::string(c.err_start).size()), c.err_start);
    std::string end = c.out_end;
    ASSERT_GE(run.out.size(), end.size());
    EXPECT_EQ(run.out.substr(run.out.size() - end.size()), end);
  }
}

INSTANTIATE_TEST_SUITE_P(
    run_test, ReturningRun,
    testing::Values(
        Case{"complete", "2 3 0\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1.44 .6\n.6 1.21\n", 0, "", "\n"},
        Case{"malformed", "2 3 0\n1 x\n", 2, "invalid number: incomprehensible list input\n",
             "Total number of variables:  3\n"},
        Case{"halt_of_the_error_package", "3 2 0\n1 0\n0 1\n1 0 0\n0 1 0\n0 0 1\n", 2,
             " ***MESSAGE FROM ROUTINE DGEMM  IN LIBRARY SLATEC.\n",
             "Var/cov matrix of the non-restricted variables\n"
             "  1   1.0000   0.0000   0.0000\n"
             "  2   0.0000   1.0000   0.0000\n"
             "  3   0.0000   0.0000   1.0000\n"},
        Case{"count_out_of_range", "51 2 0\n", 2,
             "error: the number of non-restricted variables is 51", ""},
        Case{"both_counts_out_of_range_name_the_first", "-1 51 0\n", 2,
             "error: the number of non-restricted variables is -1;", ""}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace tolbe
