// The command line's reader of a problem file: where misaligned input most
// likely went wrong, and numbers with a decimal comma.
#include "cli/problem_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolbe {
namespace {

struct Read {
  bool ok = false;
  std::string error;  // the fault after its place, as the command line says it
  Fault fault;
  std::vector<std::string> extra;
};

Read read_text(const std::string& text, Problem& problem) {
  Read r;
  problem = Problem{};
  r.ok = read_problem_file(text, problem, r.fault, r.extra);
  if (!r.ok) r.error = r.fault.placed();
  return r;
}

const std::string worked =
    "2 3 1\n"
    "1.00 0.50 0.30\n"
    "0.50 1.00 0.40\n"
    "0.30 0.40 1.00\n"
    "1.44 0.60\n"
    "0.60 1.21\n"
    "0.81\n";

// The first 9 lines of examples/twelve.txt: rows of 12 run over two lines,
// 10 and 2; row 4 is cut after its first line.
const std::string twelve_start =
    "4 12 1   non-restricted, total, reliabilities follow\n"
    "1.0362 0.3639 0.2499 0.3106 0.3186 0.1232 0.5053 0.1024 0.3234 0.2828\n"
    "0.1236 0.2335\n"
    "0.3639 1.7031 0.5460 0.5115 0.7917 0.5499 0.4659 0.6104 0.8386 0.5839\n"
    "0.9770 0.6551\n"
    "0.2499 0.5460 1.6704 0.5648 1.2159 0.3114 0.8027 1.2212 0.6896 0.7829\n"
    "1.1538 0.7802\n"
    "0.3106 0.5115 0.5648 1.0431 0.5775 -0.0474 0.2678 0.4801 0.3496 0.4083\n";

struct Case {
  const char* name;
  std::string text;
  std::string error;  // "" when the problem is read
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ProblemFile : public testing::TestWithParam<Case> {};

TEST_P(ProblemFile, says_what_went_wrong_where) {
  const Case& c = GetParam();
  static Problem problem;
  Read r = read_text(c.text, problem);
  EXPECT_EQ(r.ok, c.error.empty());
  EXPECT_EQ(r.error, c.error);
}

const std::string restricted = " of the restricted var/cov matrix";
const std::string unrestricted = " of the unrestricted var/cov matrix";
const std::string whole_matrix = " (a whole matrix on one line? each row must start on a new line)";

INSTANTIATE_TEST_SUITE_P(
    Misaligned, ProblemFile,
    testing::Values(
        Case{"worked_example", worked, ""},
        // A lower triangle typed without '/'.
        Case{"lower_triangle", "2 3 1\n1.00\n0.50 1.00\n0.30 0.40 1.00\n1.44\n0.60 1.21\n0.81\n",
             "2: row 1" + restricted +
                 " has 1 number on its line, 3 expected; the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        Case{"short_row",
             "2 3 1\n1.00 0.50 0.30\n0.50 1.00\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
             "3: row 2" + restricted +
                 " has 2 numbers on its line, 3 expected; the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        Case{"matrices_swapped",
             "2 3 1\n1.44 0.60\n0.60 1.21\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n0.81\n",
             "2: row 1" + restricted +
                 " has 2 numbers on its line, 3 expected; the input then ended in row 2" +
                 unrestricted + " (1 of 2 values read)"},
        Case{"whole_matrix_on_one_line",
             "2 3 1\n1.00 0.50 0.30 0.50 1.00 0.40 0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
             "2: row 1" + restricted + " has 9 numbers on its line, 3 expected" + whole_matrix +
                 "; the input then ended in row 3" + restricted + " (1 of 3 values read)"},
        Case{"whole_unrestricted_matrix_on_one_line",
             "2 3 0\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60 0.60 1.21\n",
             "5: row 1" + unrestricted + " has 4 numbers on its line, 2 expected" + whole_matrix +
                 "; the input then ended in row 2" + unrestricted + " (0 of 2 values read)"},
        Case{"two_rows_on_one_line",
             "2 3 1\n1.00 0.50 0.30 0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
             "2: row 1" + restricted +
                 " has 6 numbers on its line, 3 expected (several rows on one line? each row must "
                 "start on a new line); the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        Case{"first_row_on_the_line_of_the_counts",
             "2 3 1 1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
             "1: the counts (selection variables, variables, reliability flag) have 6 numbers on "
             "their line, 3 expected (the first row on the same line? each row must start on a "
             "new line); the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        // Numbers are counted only so far.
        Case{"repeat_count_beyond_any_row", "2 3 1\n1 2147483647*0.5\n1 2\n",
             "2: row 1" + restricted +
                 " has at least 2501 numbers on its line, 3 expected (several rows on one line? "
                 "each row must start on a new line); the input then ended in row 2" +
                 restricted + " (2 of 3 values read)"},
        // The last line has no line end: the input ends before a statement.
        Case{"whole_matrix_on_the_last_line", "2 3 1\n1.00 0.50 0.30 0.50 1.00 0.40 0.30 0.40 1.00",
             "2: row 1" + restricted + " has 9 numbers on its line, 3 expected" + whole_matrix +
                 "; the input then ended before row 2" + restricted},
        // A comment that starts with a number is no row: the short row
        // after it is named.
        Case{"number_in_a_comment_then_a_short_row",
             "2 3 1  3 variables\n1.00 0.50 0.30\n0.50 1.00\n0.30 0.40 1.00\n1.44 0.60\n0.60 "
             "1.21\n0.81\n",
             "3: row 2" + restricted +
                 " has 2 numbers on its line, 3 expected; the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        // Blank lines are no lines of the layout.
        Case{"blank_lines_between_rows",
             "\n2 3 1\n\n1.00 0.50 0.30\n\n0.50 1.00\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
             "6: row 2" + restricted +
                 " has 2 numbers on its line, 3 expected; the input then ended in row 1" +
                 unrestricted + " (1 of 2 values read)"},
        // A row ended by '/' fits its line.
        Case{"slash_then_a_short_row",
             "2 3 0\n1.00 0.50 0.30\n0.50 1.00 /\n0.30 0.40\n1.44 0.60\n0.60 1.21\n",
             "4: row 3" + restricted +
                 " has 2 numbers on its line, 3 expected; the input then ended in row 2" +
                 unrestricted + " (0 of 2 values read)"},
        Case{"short_reliabilities_line_is_the_last",
             "2 4 1\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n1 0\n0 1\n0.8\n",
             "9: the input ends in the reliabilities: 1 of 2 values read"},
        // Nothing to name: the last line of numbers is short because the
        // input ends there.
        Case{"cut_in_the_last_row",
             "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60\n",
             "7: the input ends in row 2" + unrestricted + ": 1 of 2 values read"},
        // ... but a short line with more lines after it is named.
        Case{"short_last_row_then_the_reliabilities",
             "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60\n0.81\n",
             "6: row 2" + unrestricted +
                 " has 1 number on its line, 2 expected; the input then ended in the "
                 "reliabilities (0 of 1 values read)"},
        Case{"ends_after_the_counts", "2 3 1\n",
             "2: the input ends in row 1" + restricted + ": 0 of 3 values read"},
        Case{"ends_after_whole_rows", "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n",
             "4: the input ends in row 3" + restricted + ": 0 of 3 values read"},
        Case{"ends_without_a_line_end",
             "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21",
             "6: the input ends before the reliabilities (its last line has no line end)"},
        // Rows wrapped at 10 numbers a line, as in examples/twelve.txt: no
        // line is named when the file is cut short...
        Case{"wrapped_rows_cut_short", twelve_start,
             "9: the input ends in row 4" + restricted + ": 10 of 12 values read"},
        // ... nor when a wrapped row is short further on.
        Case{"wrapped_rows_one_short",
             [] {
               std::string text = twelve_start;
               text.replace(text.find("0.9770 0.6551"), 13, "0.9770");
               return text;
             }(),
             "9: the input ends in row 4" + restricted + ": 0 of 12 values read"},
        // A first line of 10 that the next line does not complete as a
        // wrapped row would is named.
        Case{"short_first_row_then_whole_rows",
             [] {
               std::string text = twelve_start;
               text.replace(text.find("0.1236 0.2335\n"), 14, "");
               return text;
             }(),
             "2: row 1" + restricted +
                 " has 10 numbers on its line, 12 expected; the input then ended in row 4" +
                 restricted + " (0 of 12 values read)"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

const std::string comma_advice =
    " looks like a number with a decimal comma; write decimal points (";
const std::string comma_end = "), or separate values with a blank after the comma";

INSTANTIATE_TEST_SUITE_P(
    DecimalCommas, ProblemFile,
    testing::Values(
        Case{"worked_example_with_decimal_commas",
             "2 3 1\n1,00 0,50 0,30\n0,50 1,00 0,40\n0,30 0,40 1,00\n1,44 0,60\n0,60 1,21\n0,81\n",
             "2:1: \"1,00\"" + comma_advice + "1.00" + comma_end},
        Case{
            "in_the_second_row_after_a_tab",
            "2 3 1\n1.00 0.50 0.30\n\t0,50 1,00 0,40\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0.81\n",
            "3:2: \"0,50\"" + comma_advice + "0.50" + comma_end},
        Case{"signed", "1 2 0\n-0,30 1,00\n1 2\n3\n",
             "2:1: \"-0,30\"" + comma_advice + "-0.30" + comma_end},
        Case{"not_the_first_number_of_its_line", "1 3 0\n1 0,50 0,30\n0 1 0\n0 0 1\n4\n",
             "2:3: \"0,50\"" + comma_advice + "0.50" + comma_end},
        Case{"in_the_reliabilities",
             "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n1.44 0.60\n0.60 1.21\n0,81\n",
             "7:1: \"0,81\"" + comma_advice + "0.81" + comma_end},
        // Integers with a comma between them, but more than the row needs.
        Case{"more_integers_than_the_row_needs", "1 2 0\n4,2 7\n2 9\n9\n",
             "2:1: \"4,2\"" + comma_advice + "4.2" + comma_end},
        // The comma comes first, whatever goes wrong after it.
        Case{"before_the_input_ends", "2 3 1\n1,00 0,50 0,30\n0,50 1,00 0,40\n",
             "2:1: \"1,00\"" + comma_advice + "1.00" + comma_end},
        Case{"before_a_typo", "2 3 1\n1,00 0,50 0,30\n0,50 l,00 0,40\n",
             "2:1: \"1,00\"" + comma_advice + "1.00" + comma_end}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// Lines that are read as always: each problem reads as the same problem
// written with blanks.
struct Same {
  const char* name;
  std::string text;
  std::string plain;
};

void PrintTo(const Same& c, std::ostream* os) {
  *os << c.name;
}

class NoDecimalComma : public testing::TestWithParam<Same> {};

TEST_P(NoDecimalComma, reads_as_the_plain_problem) {
  const Same& c = GetParam();
  static Problem got, want;
  Read r = read_text(c.text, got);
  Read plain = read_text(c.plain, want);
  ASSERT_TRUE(plain.ok) << plain.error;
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(got.n_nonrestricted, want.n_nonrestricted);
  EXPECT_EQ(got.n_total, want.n_total);
  EXPECT_EQ(got.reliability_flag, want.reliability_flag);
  for (int i = 1; i <= got.n_total; ++i) {
    for (int j = 1; j <= got.n_total; ++j) {
      EXPECT_EQ(got.restricted_cov(i, j), want.restricted_cov(i, j)) << i << "," << j;
    }
  }
  for (int i = 1; i <= got.n_nonrestricted; ++i) {
    for (int j = 1; j <= got.n_nonrestricted; ++j) {
      EXPECT_EQ(got.nonrestricted_cov(i, j), want.nonrestricted_cov(i, j)) << i << "," << j;
    }
  }
  for (int v = 0; v < got.n_total; ++v) EXPECT_EQ(got.reliabilities[v], want.reliabilities[v]);
}

INSTANTIATE_TEST_SUITE_P(
    problem_file_test, NoDecimalComma,
    testing::Values(
        Same{"commas_between_decimals",
             "2 3 1\n1.00,0.50,0.30\n0.50,1.00,0.40\n0.30,0.40,1.00\n1.44,0.60\n0.60,1.21\n0.81\n",
             worked},
        Same{"comma_and_blank",
             "2 3 1\n1, 0.5, 0.3\n0.5, 1, 0.4\n0.3, 0.4, 1\n1.44, 0.6\n0.6, 1.21\n0.81\n", worked},
        Same{"counts_with_commas", "2,3,1\n" + worked.substr(6), worked},
        Same{"integers_with_commas", "1 3 0\n1,0,0\n0,1,0\n0,0,1\n4\n",
             "1 3 0\n1 0 0\n0 1 0\n0 0 1\n4\n"},
        // A row of two integers is read whole: nothing is left to doubt.
        Same{"row_of_two_integers", "1 2 0\n4,2\n2,9\n9\n", "1 2 0\n4 2\n2 9\n9\n"},
        Same{"repeat_then_comma", "1 3 0\n3*0.5,\n0.5 1 0.5\n0.5 0.5 1\n0.5\n",
             "1 3 0\n0.5 0.5 0.5\n0.5 1 0.5\n0.5 0.5 1\n0.5\n"},
        // A point anywhere on the line: the comma is a separator.
        Same{"point_elsewhere_on_the_line", "1 3 0\n1 0,5 0.25\n0 1 0\n0 0 1\n4\n",
             "1 3 0\n1 0 5\n0 1 0\n0 0 1\n4\n"},
        // In a comment, after all that the row needs.
        Same{"comma_in_a_comment", "1 2 0\n1 0  was 1,5\n0 1\n4\n", "1 2 0\n1 0\n0 1\n4\n"}),
    [](const testing::TestParamInfo<Same>& param_info) { return param_info.param.name; });

// What went wrong, as data: the code and the place are made where the
// fault is found, never read back from the message.
struct Coded {
  const char* name;
  std::string text;
  const char* code;
  std::size_t line;
  std::size_t column;  // 0: the fault is of a whole line
};

void PrintTo(const Coded& c, std::ostream* os) {
  *os << c.name;
}

class FaultOfProblemFile : public testing::TestWithParam<Coded> {};

TEST_P(FaultOfProblemFile, has_its_code_and_place) {
  const Coded& c = GetParam();
  static Problem problem;
  Read r = read_text(c.text, problem);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.fault.code, c.code);
  EXPECT_EQ(r.fault.line, c.line);
  EXPECT_EQ(r.fault.column, c.column);
  EXPECT_EQ(r.fault.argument, "");
  EXPECT_EQ(r.fault.file, "");
  // The message holds no place: the place is the fault's line and column.
  EXPECT_NE(r.fault.message.rfind(std::to_string(c.line) + ":", 0), 0U) << r.fault.message;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FaultOfProblemFile,
    testing::Values(
        Coded{"not_a_number", "2 3 1\n1.00 0.50 0.30\n0.50 l.00 0.40\n", "not_a_number", 3, 6},
        Coded{"not_a_whole_number", "2 3.5 1\n", "not_a_whole_number", 1, 3},
        Coded{"bad_repeat_count", "2 3 1\n0*1 0.5 0.3\n", "bad_repeat_count", 2, 1},
        Coded{"input_ends", "2 3 1\n1 0.5 0.3\n0.5 1 0.4\n0.3 0.4 1\n1.44 0.6\n", "input_ends", 6,
              0},
        Coded{"misaligned_input", "2 3 1\n1 0.5\n0.5 1 0.4\n0.3 0.4 1\n1.44 0.6\n0.6 1.21\n",
              "misaligned_input", 2, 0},
        Coded{"count_out_of_range", "\n  2 51 0\n", "count_out_of_range", 2, 0},
        Coded{"too_many_selection_variables", "3 2 0\n", "too_many_selection_variables", 1, 0},
        Coded{"decimal_comma", "2 3 1\n1,00 0,50 0,30\n", "decimal_comma", 2, 1}),
    [](const testing::TestParamInfo<Coded>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace tolbe
