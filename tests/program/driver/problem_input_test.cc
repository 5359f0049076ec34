// The grammar of a problem (read_problem): the order of the statements, the
// count and flag rules, and what the observer is told, in order.
#include "driver/problem_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/input_stream.h"
#include "io/list_reader.h"

namespace tolbe {
namespace {

std::string statement_text(const Statement& s) {
  switch (s.kind) {
    case StatementKind::counts:
      return "counts/" + std::to_string(s.items);
    case StatementKind::restricted_row:
      return "r" + std::to_string(s.row) + "/" + std::to_string(s.items);
    case StatementKind::unrestricted_row:
      return "u" + std::to_string(s.row) + "/" + std::to_string(s.items);
    case StatementKind::reliabilities:
      return "rel/" + std::to_string(s.items);
  }
  return "?";
}

// Writes down every hook as one word, in order.
class Recorder final : public ProblemObserver {
 public:
  explicit Recorder(bool go_on = true) : go_on_(go_on) {}

  void statement_begins(const Statement& s) override { log_.push_back("(" + statement_text(s)); }
  void items_read(const Statement& s) override { log_.push_back(statement_text(s) + ")"); }
  void read_failed(const Statement& s, int values_read) override {
    log_.push_back("failed " + statement_text(s) + " after " + std::to_string(values_read));
  }
  void count_outside(Count count, std::int32_t value) override {
    log_.push_back(std::string(count == Count::nonrestricted ? "p" : "q") + " outside " +
                   std::to_string(value));
  }
  bool counts_read(const Problem& problem) override {
    log_.push_back("counts " + std::to_string(problem.n_nonrestricted) + " " +
                   std::to_string(problem.n_total) + " " +
                   std::to_string(problem.reliability_flag));
    return go_on_;
  }
  void restricted_read(const Problem&) override { log_.push_back("restricted"); }
  void problem_read(const Problem&) override { log_.push_back("problem"); }

  std::string log() const {
    std::string text;
    for (const std::string& entry : log_) text += (text.empty() ? "" : " ") + entry;
    return text;
  }

 private:
  bool go_on_;
  std::vector<std::string> log_;
};

struct Case {
  const char* name;
  const char* input;
  bool go_on;  // what counts_read answers
  bool read;   // what read_problem returns
  const char* log;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class Grammar : public testing::TestWithParam<Case> {};

TEST_P(Grammar, tells_the_observer_each_step_in_order) {
  const Case& c = GetParam();
  InputStream input{std::string_view(c.input)};
  ListReader reader(input);
  static Problem problem;
  problem = Problem{};
  Recorder recorder(c.go_on);
  EXPECT_EQ(read_problem(reader, problem, recorder), c.read);
  EXPECT_EQ(recorder.log(), c.log);
}

INSTANTIATE_TEST_SUITE_P(
    problem_input_test, Grammar,
    testing::Values(
        Case{"worked_example", "2 3 1\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1.44 .6\n.6 1.21\n.81\n", true,
             true,
             "(counts/3 counts/3) counts 2 3 1 (r1/3 r1/3) (r2/3 r2/3) (r3/3 r3/3) restricted "
             "(u1/2 u1/2) (u2/2 u2/2) (rel/1 rel/1) problem"},
        // Only the flag 1 brings the reliabilities.
        Case{"flag_0", "1 2 0\n1 .5\n.5 1\n2\n", true, true,
             "(counts/3 counts/3) counts 1 2 0 (r1/2 r1/2) (r2/2 r2/2) restricted (u1/1 u1/1) "
             "problem"},
        Case{"flag_2", "1 2 2\n1 .5\n.5 1\n2\n", true, true,
             "(counts/3 counts/3) counts 1 2 2 (r1/2 r1/2) (r2/2 r2/2) restricted (u1/1 u1/1) "
             "problem"},
        // Every variable selected: the reliabilities are a statement of no
        // items, which still takes a line.
        Case{"reliabilities_of_no_variable", "1 1 1\n1\n2\n\n", true, true,
             "(counts/3 counts/3) counts 1 1 1 (r1/1 r1/1) restricted (u1/1 u1/1) (rel/0 rel/0) "
             "problem"},
        Case{"no_variables", "0 0 0\n", true, true,
             "(counts/3 counts/3) counts 0 0 0 restricted problem"},
        // The console program reads on with more selection variables than
        // variables: the correction rejects them later.
        Case{"more_selection_variables_than_variables", "2 1 0\n1\n1 0\n0 1\n", true, true,
             "(counts/3 counts/3) counts 2 1 0 (r1/1 r1/1) restricted (u1/2 u1/2) (u2/2 u2/2) "
             "problem"},
        Case{"the_observer_stops_after_the_counts", "1 2 0\n1 .5\n.5 1\n2\n", false, false,
             "(counts/3 counts/3) counts 1 2 0"},
        Case{"selection_count_outside", "51 2 0\n", true, false,
             "(counts/3 counts/3) p outside 51"},
        Case{"negative_selection_count", "-1 2 0\n", true, false,
             "(counts/3 counts/3) p outside -1"},
        Case{"total_outside", "1 51 0\n", true, false, "(counts/3 counts/3) q outside 51"},
        Case{"both_outside_name_the_selection_count", "-1 51 0\n", true, false,
             "(counts/3 counts/3) p outside -1"},
        Case{"fifty_is_inside", "50 50 7\n", true, false,
             "(counts/3 counts/3) counts 50 50 7 (r1/50 failed r1/50 after 0"},
        Case{"malformed_second_value", "1 2 0\n1 x\n", true, false,
             "(counts/3 counts/3) counts 1 2 0 (r1/2 failed r1/2 after 1"},
        Case{"ends_in_the_counts", "1 2", true, false, "(counts/3 failed counts/3 after 2"},
        Case{"empty", "", true, false, "(counts/3 failed counts/3 after 0"},
        // The last line has no line end: the next statement fails at its
        // start.
        Case{"ends_before_a_statement", "1 2 0\n1 .5\n.5 1", true, false,
             "(counts/3 counts/3) counts 1 2 0 (r1/2 r1/2) (r2/2 r2/2) restricted (u1/1 failed "
             "u1/1 after 0"},
        Case{"ends_in_the_reliabilities", "1 3 1\n1 0 0\n0 1 0\n0 0 1\n2\n.8\n", true, false,
             "(counts/3 counts/3) counts 1 3 1 (r1/3 r1/3) (r2/3 r2/3) (r3/3 r3/3) restricted "
             "(u1/1 u1/1) (rel/2 failed rel/2 after 1"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// The items land where the grammar puts them; the slash and the rest of a
// line work as in any statement; the selection variables get reliability 1.
TEST(Grammar, puts_each_item_in_its_place) {
  InputStream input{
      std::string_view("2 3 1 counts\n1 2 3 row one\n4 5 /\n7,8,9\n10 11 12 13\n14\n15\n.7 .8\n")};
  ListReader reader(input);
  static Problem problem;
  problem = Problem{};
  ASSERT_TRUE(read_problem(reader, problem));
  EXPECT_EQ(problem.n_nonrestricted, 2);
  EXPECT_EQ(problem.n_total, 3);
  EXPECT_EQ(problem.reliability_flag, 1);
  const double restricted[3][3] = {{1, 2, 3}, {4, 5, 0}, {7, 8, 9}};
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(problem.restricted_cov(i, j), restricted[i - 1][j - 1]);
  }
  EXPECT_EQ(problem.nonrestricted_cov(1, 1), 10);
  EXPECT_EQ(problem.nonrestricted_cov(1, 2), 11);
  EXPECT_EQ(problem.nonrestricted_cov(2, 1), 14);
  EXPECT_EQ(problem.nonrestricted_cov(2, 2), 15);
  EXPECT_EQ(problem.reliabilities[0], 1.0);
  EXPECT_EQ(problem.reliabilities[1], 1.0);
  EXPECT_EQ(problem.reliabilities[2], 0.7);
  EXPECT_EQ(problem.reliabilities[3], 0.0);  // the .8 is more than the statement needs
}

// The reader's error is the one the failing statement met.
TEST(Grammar, leaves_the_reason_of_a_failure_in_the_reader) {
  InputStream input{std::string_view("1 2 0\n1 l.5\n")};
  ListReader reader(input);
  static Problem problem;
  problem = Problem{};
  EXPECT_FALSE(read_problem(reader, problem));
  ASSERT_TRUE(reader.failed());
  EXPECT_STREQ(reader.error().context, "invalid number");
  EXPECT_EQ(problem.restricted_cov(1, 1), 1.0);
  EXPECT_EQ(problem.restricted_cov(1, 2), 0.0);
}

}  // namespace
}  // namespace tolbe
