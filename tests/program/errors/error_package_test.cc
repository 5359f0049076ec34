#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "errors/control_store.h"
#include "errors/line_printer.h"
#include "errors/message_processor.h"
#include "errors/message_table.h"
#include "support/string_sink.h"

namespace tolbe {
namespace {

using testing_support::StringSink;

class ErrorPackage : public testing::Test {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    reset_error_package_for_tests();
    redirect_error_unit_for_tests(&sink_);
  }
  void TearDown() override {
    redirect_error_unit_for_tests(nullptr);
    reset_error_package_for_tests();
  }
  // What the package wrote since the last call.
  std::string take() { return std::exchange(sink_.text, std::string()); }
  // For halting cases: standard error of a child process, exactly.
  static void write_to_standard_error() { redirect_error_unit_for_tests(nullptr); }

  StringSink sink_;
};

const char* const dgemm_report =
    " ***MESSAGE FROM ROUTINE DGEMM  IN LIBRARY SLATEC.\n"
    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
    " *  On entry to DGEMM  parameter number  4 had an illegal value\n"
    " *  ERROR NUMBER = 4\n"
    " *   \n"
    " ***END OF MESSAGE\n"
    " \n"
    " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n"
    "0          ERROR MESSAGE SUMMARY\n"
    " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n"
    " SLATEC     DGEMM      On entry to DGEMM  p         4         1         1\n"
    "\n";

TEST_F(ErrorPackage, blas_argument_error_halts_with_the_full_report) {
  write_to_standard_error();
  EXPECT_EXIT(xerbla("DGEMM ", 4), testing::ExitedWithCode(2), testing::Eq(dgemm_report));
}

TEST_F(ErrorPackage, xerbla_message_is_59_characters_with_two_digit_field) {
  j4save(2, 1, true);  // continue after level 1 so the message can be read
  xerbla("DGEMM ", 13);
  EXPECT_THAT(take(), testing::HasSubstr(
                          "\n *  On entry to DGEMM  parameter number 13 had an illegal value\n"));
}

class InvalidCall : public ErrorPackage, public testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(InvalidCall, halts_after_notice_and_summary_of_earlier_messages) {
  auto [number, level] = GetParam();
  xermsg("LIB", "SUB", "EARLIER", 5, 0);
  write_to_standard_error();
  EXPECT_EXIT(xermsg("LIB", "SUB", "BAD", number, level), testing::ExitedWithCode(2),
              testing::Eq(" ***FATAL ERROR IN...\n"
                          " *** XERMSG -- INVALID ERROR NUMBER OR LEVEL\n"
                          " *** JOB ABORT DUE TO FATAL ERROR.\n"
                          "0          ERROR MESSAGE SUMMARY\n"
                          " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL"
                          "     COUNT\n"
                          " LIB        SUB        EARLIER             "
                          "         5         0         1\n"
                          "\n"));
}

INSTANTIATE_TEST_SUITE_P(error_package_test, InvalidCall,
                         testing::Values(std::pair{0, 1}, std::pair{-10000000, 1},
                                         std::pair{100000000, 1}, std::pair{4, 3},
                                         std::pair{4, -2}));

TEST_F(ErrorPackage, error_numbers_at_the_bounds_are_valid) {
  xermsg("LIB", "SUB", "LOW", -9999999, 0);
  xermsg("LIB", "SUB", "HIGH", 99999999, 0);
  std::string text = take();
  EXPECT_THAT(text, testing::HasSubstr("\n *  ERROR NUMBER = -9999999\n"));
  EXPECT_THAT(text, testing::HasSubstr("\n *  ERROR NUMBER = 99999999\n"));
}

TEST_F(ErrorPackage, informative_message_layout) {
  xermsg("LIB", "SUB", "HELLO", 3, 0);
  EXPECT_EQ(take(),
            " ***MESSAGE FROM ROUTINE SUB IN LIBRARY LIB.\n"
            " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n"
            " *  HELLO\n"
            " *  ERROR NUMBER = 3\n"
            " *   \n"
            " ***END OF MESSAGE\n"
            " \n");
}

TEST_F(ErrorPackage, warning_prints_only_the_first_time_but_is_counted) {
  xermsg("LIB", "SUB", "ONCE", 1, -1);
  EXPECT_THAT(take(), testing::HasSubstr("\n *  ONCE\n"));
  xermsg("LIB", "SUB", "ONCE", 1, -1);
  EXPECT_EQ(take(), "");
  int count = 0;
  xersve("LIB", "SUB", "ONCE", 1, 1, -1, count);
  EXPECT_EQ(count, 3);
}

TEST_F(ErrorPackage, informative_message_is_silent_after_the_print_limit) {
  for (int i = 1; i <= 10; ++i) {
    xermsg("LIB", "SUB", "AGAIN", 2, 0);
    EXPECT_THAT(take(), testing::HasSubstr("\n *  AGAIN\n")) << i;
  }
  xermsg("LIB", "SUB", "AGAIN", 2, 0);
  EXPECT_EQ(take(), "");
}

TEST_F(ErrorPackage, fatal_error_layout) {
  write_to_standard_error();
  EXPECT_EXIT(xermsg("LIB", "SUB", "BROKEN", 7, 2), testing::ExitedWithCode(2),
              testing::Eq(" ***MESSAGE FROM ROUTINE SUB IN LIBRARY LIB.\n"
                          " ***FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
                          " *  BROKEN\n"
                          " *  ERROR NUMBER = 7\n"
                          " *   \n"
                          " ***END OF MESSAGE\n"
                          " \n"
                          " ***JOB ABORT DUE TO FATAL ERROR.\n"
                          "0          ERROR MESSAGE SUMMARY\n"
                          " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL"
                          "     COUNT\n"
                          " LIB        SUB        BROKEN              "
                          "         7         2         1\n"
                          "\n"));
}

TEST_F(ErrorPackage, control_flag_one_lets_a_recoverable_error_continue) {
  j4save(2, 1, true);
  xermsg("LIB", "SUB", "GO ON", 9, 1);
  std::string text = take();
  EXPECT_THAT(text,
              testing::HasSubstr(
                  " ***POTENTIALLY RECOVERABLE ERROR, PROG CONTINUES, TRACEBACK REQUESTED\n"));
  EXPECT_THAT(text, testing::EndsWith(" ***END OF MESSAGE\n \n"));
}

// A negative control flag keeps the routine line and the closing lines but
// drops the introduction and the error number, and a recoverable error then
// continues.
TEST_F(ErrorPackage, negative_control_flag_prints_the_short_form) {
  j4save(2, -1, true);
  xermsg("LIB", "SUB", "TEXT", 3, 1);
  EXPECT_EQ(take(),
            " ***MESSAGE FROM ROUTINE SUB IN LIBRARY LIB.\n"
            " *  TEXT\n"
            " *   \n"
            " ***END OF MESSAGE\n"
            " \n");
}

// The abort line and the summary print only while the message's count is
// below the print limit (at least 1): with a limit of 1, not even the first
// time.
TEST_F(ErrorPackage, abort_line_and_summary_need_a_count_below_the_print_limit) {
  j4save(4, 1, true);
  write_to_standard_error();
  EXPECT_EXIT(xermsg("LIB", "SUB", "TEXT", 3, 1), testing::ExitedWithCode(2),
              testing::Eq(" ***MESSAGE FROM ROUTINE SUB IN LIBRARY LIB.\n"
                          " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n"
                          " *  TEXT\n"
                          " *  ERROR NUMBER = 3\n"
                          " *   \n"
                          " ***END OF MESSAGE\n"
                          " \n"));
}

TEST_F(ErrorPackage, long_names_are_cut_to_16_in_the_message_and_8_in_the_summary) {
  xermsg("A_VERY_LONG_LIBRARY_NAME", "A_VERY_LONG_ROUTINE_NAME", "M", 1, 0);
  EXPECT_THAT(take(),
              testing::StartsWith(
                  " ***MESSAGE FROM ROUTINE A_VERY_LONG_ROUT IN LIBRARY A_VERY_LONG_LIBR.\n"));
  int unused = 0;
  xersve(" ", " ", " ", -1, 0, 0, unused);
  EXPECT_THAT(take(), testing::HasSubstr("\n A_VERY_L   A_VERY_L   M                   "
                                         "         1         0         1\n"));
}

TEST_F(ErrorPackage, messages_alike_in_their_first_20_characters_share_an_entry) {
  int count = 0;
  xersve("LIBRARY_1", "ROUTINE_1", "TWENTY CHARACTERS...one", 1, 5, 1, count);
  xersve("LIBRARY_2", "ROUTINE_2", "TWENTY CHARACTERS...two", 1, 5, 1, count);
  EXPECT_EQ(count, 2);
  xersve("LIBRARY_1", "ROUTINE_1", "TWENTY CHARACTERS...", 1, 6, 1, count);
  EXPECT_EQ(count, 1);
}

TEST_F(ErrorPackage, eleventh_message_is_counted_apart) {
  int count = -1;
  for (int i = 1; i <= 11; ++i) xersve("LIB", "SUB", "M", 1, i, 0, count);
  EXPECT_EQ(count, 0);
  xersve(" ", " ", " ", -1, 0, 0, count);
  std::string text = take();
  EXPECT_THAT(text,
              testing::HasSubstr("\n0OTHER ERRORS NOT INDIVIDUALLY TABULATED =          1\n\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 10 + 1 + 1);
  // Mode -1 keeps the table; mode 0 prints it once more and empties it.
  xersve(" ", " ", " ", 0, 0, 0, count);
  EXPECT_EQ(take(), text);
  xersve(" ", " ", " ", -1, 0, 0, count);
  EXPECT_EQ(take(), "");
}

TEST_F(ErrorPackage, summary_of_an_empty_table_prints_nothing) {
  int count = 0;
  xersve(" ", " ", " ", -1, 0, 0, count);
  xersve(" ", " ", " ", 0, 0, 0, count);
  EXPECT_EQ(take(), "");
}

struct Split {
  const char* name;
  std::string message;
  int width;
  std::string lines;
};

void PrintTo(const Split& c, std::ostream* os) {
  *os << c.name;
}

class LinePrinter : public ErrorPackage, public testing::WithParamInterface<Split> {};

TEST_P(LinePrinter, splits_as_documented) {
  xerprn(" *  ", -1, GetParam().message, GetParam().width);
  EXPECT_EQ(take(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    error_package_test, LinePrinter,
    testing::Values(
        Split{"blank_message", "     ", 72, " *   \n"},
        Split{"hundred_characters_without_blanks", std::string(100, 'x'), 72,
              " *  " + std::string(72, 'x') + "\n *  " + std::string(28, 'x') + "\n"},
        Split{"double_marker_between_texts", "A$$$$B", 72, " *  A\n *  B\n"},
        Split{"double_marker_at_end", "A$$$$", 72, " *  A\n *  \n"},
        Split{"marker_alone", "$$", 72, " *  \n"},
        Split{"marker_then_blank_keeps_the_blank", "A$$ B", 72, " *  A\n *   B\n"},
        Split{"cut_at_last_blank_within_width", std::string(10, 'a') + " " + std::string(10, 'b'),
              16, " *  aaaaaaaaaa\n *  bbbbbbbbbb\n"},
        Split{"blank_at_width_plus_one_is_a_split_point", std::string(16, 'a') + " bb", 16,
              " *  " + std::string(16, 'a') + "\n *  bb\n"},
        Split{"marker_beyond_width_waits", std::string(20, 'a') + "$$b", 16,
              " *  " + std::string(16, 'a') + "\n *  aaaa\n *  b\n"},
        Split{"width_is_clamped_to_16", std::string(20, 'c'), 3,
              " *  " + std::string(16, 'c') + "\n *  cccc\n"},
        Split{"trailing_blanks_dropped", "END   ", 72, " *  END\n"},
        Split{"blank_at_position_two_is_the_last_split_point", "x " + std::string(80, 'y'), 72,
              " *  x\n *  " + std::string(72, 'y') + "\n *  yyyyyyyy\n"},
        Split{"blank_at_position_one_is_never_a_split_point", " " + std::string(80, 'y'), 72,
              " *   " + std::string(71, 'y') + "\n *  yyyyyyyyy\n"},
        // Around the width: a message as long as the width, blanks or not,
        // is one line; one character more and it is cut.
        Split{"width_long_with_a_blank_is_one_line",
              std::string(10, 'a') + " " + std::string(61, 'b'), 72,
              " *  " + std::string(10, 'a') + " " + std::string(61, 'b') + "\n"},
        Split{"width_minus_one_with_a_blank_is_one_line",
              std::string(10, 'a') + " " + std::string(60, 'b'), 72,
              " *  " + std::string(10, 'a') + " " + std::string(60, 'b') + "\n"},
        Split{"width_plus_one_with_a_blank_is_cut_there",
              std::string(10, 'a') + " " + std::string(62, 'b'), 72,
              " *  " + std::string(10, 'a') + "\n *  " + std::string(62, 'b') + "\n"},
        Split{"width_long_without_blanks_is_one_line", std::string(72, 'x'), 72,
              " *  " + std::string(72, 'x') + "\n"},
        Split{"width_minus_one_without_blanks_is_one_line", std::string(71, 'x'), 72,
              " *  " + std::string(71, 'x') + "\n"},
        Split{"width_plus_one_without_blanks_is_cut_at_the_width", std::string(73, 'x'), 72,
              " *  " + std::string(72, 'x') + "\n *  x\n"},
        Split{"width_long_before_trailing_blanks_is_one_line",
              std::string(10, 'a') + " " + std::string(61, 'b') + "    ", 72,
              " *  " + std::string(10, 'a') + " " + std::string(61, 'b') + "\n"},
        Split{"width_long_with_blanks_at_the_narrowest_width", "aaaa bbbbbbbbbbb", 16,
              " *  aaaa bbbbbbbbbbb\n"},
        Split{"width_plus_one_at_the_narrowest_width", "aaaa bbbbbbbbbbbb", 16,
              " *  aaaa\n *  bbbbbbbbbbbb\n"},
        Split{"width_long_with_a_blank_at_the_widest_width",
              std::string(10, 'a') + " " + std::string(121, 'b'), 132,
              " *  " + std::string(10, 'a') + " " + std::string(121, 'b') + "\n"},
        Split{"width_plus_one_at_the_widest_width",
              std::string(10, 'a') + " " + std::string(122, 'b'), 132,
              " *  " + std::string(10, 'a') + "\n *  " + std::string(122, 'b') + "\n"},
        Split{"second_piece_as_long_as_the_width", std::string(16, 'a') + " bbbbbbb cccccccc", 16,
              " *  " + std::string(16, 'a') + "\n *  bbbbbbb cccccccc\n"},
        Split{"marker_at_the_width_ends_the_piece",
              std::string(10, 'a') + " " + std::string(61, 'b') + "$$c", 72,
              " *  " + std::string(10, 'a') + " " + std::string(61, 'b') + "\n *  c\n"},
        Split{"marker_past_the_width_waits",
              std::string(10, 'a') + " " + std::string(62, 'b') + "$$c", 72,
              " *  " + std::string(10, 'a') + "\n *  " + std::string(62, 'b') + "\n *  c\n"}),
    [](const testing::TestParamInfo<Split>& param_info) { return param_info.param.name; });

// The introduction line by control flag and level: with a flag of
// magnitude 1 only a fatal error aborts, with magnitude 2 a recoverable one
// too; a negative flag prints the short form (no introduction, no error
// number, no abort line and no summary).
struct Flagged {
  const char* name;
  int control;
  int level;
  bool halts;
  std::string text;  // everything the package writes, exactly
};

void PrintTo(const Flagged& c, std::ostream* os) {
  *os << c.name;
}

class ControlFlag : public ErrorPackage, public testing::WithParamInterface<Flagged> {};

TEST_P(ControlFlag, decides_the_wording_and_the_halt) {
  const Flagged& c = GetParam();
  j4save(item_control_flag, c.control, true);
  if (!c.halts) {
    xermsg("LIB", "SUB", "TEXT", 3, c.level);
    EXPECT_EQ(take(), c.text);
    return;
  }
  write_to_standard_error();
  EXPECT_EXIT(xermsg("LIB", "SUB", "TEXT", 3, c.level), testing::ExitedWithCode(2),
              testing::Eq(c.text));
}

const std::string routine_line = " ***MESSAGE FROM ROUTINE SUB IN LIBRARY LIB.\n";
const std::string full_body =
    " *  TEXT\n"
    " *  ERROR NUMBER = 3\n"
    " *   \n"
    " ***END OF MESSAGE\n"
    " \n";
const std::string short_body =
    " *  TEXT\n"
    " *   \n"
    " ***END OF MESSAGE\n"
    " \n";
std::string summary_of_level(int level) {
  return "0          ERROR MESSAGE SUMMARY\n"
         " LIBRARY    SUBROUTINE MESSAGE START             NERR     LEVEL     COUNT\n"
         " LIB        SUB        TEXT                         3         " +
         std::to_string(level) + "         1\n\n";
}

INSTANTIATE_TEST_SUITE_P(
    error_package_test, ControlFlag,
    testing::Values(
        Flagged{"plus_one_informative", 1, 0, false,
                routine_line + " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n" +
                    full_body},
        Flagged{"plus_one_recoverable", 1, 1, false,
                routine_line +
                    " ***POTENTIALLY RECOVERABLE ERROR, PROG CONTINUES, TRACEBACK REQUESTED\n" +
                    full_body},
        Flagged{"plus_one_fatal", 1, 2, true,
                routine_line + " ***FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED\n" + full_body +
                    " ***JOB ABORT DUE TO FATAL ERROR.\n" + summary_of_level(2)},
        Flagged{"plus_two_informative", 2, 0, false,
                routine_line + " ***INFORMATIVE MESSAGE, PROG CONTINUES, TRACEBACK REQUESTED\n" +
                    full_body},
        Flagged{"plus_two_recoverable", 2, 1, true,
                routine_line +
                    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n" +
                    full_body + " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" + summary_of_level(1)},
        Flagged{"plus_two_fatal", 2, 2, true,
                routine_line + " ***FATAL ERROR, PROG ABORTED, TRACEBACK REQUESTED\n" + full_body +
                    " ***JOB ABORT DUE TO FATAL ERROR.\n" + summary_of_level(2)},
        Flagged{"minus_one_recoverable", -1, 1, false, routine_line + short_body},
        Flagged{"minus_one_fatal", -1, 2, true, routine_line + short_body},
        Flagged{"minus_two_recoverable", -2, 1, true, routine_line + short_body},
        Flagged{"minus_two_fatal", -2, 2, true, routine_line + short_body},
        // Beyond 2 in magnitude the flag counts as 2.
        Flagged{"plus_three_recoverable", 3, 1, true,
                routine_line +
                    " ***POTENTIALLY RECOVERABLE ERROR, PROG ABORTED, TRACEBACK REQUESTED\n" +
                    full_body + " ***JOB ABORT DUE TO UNRECOVERED ERROR.\n" + summary_of_level(1)}),
    [](const testing::TestParamInfo<Flagged>& param_info) { return param_info.param.name; });

TEST_F(ErrorPackage, prefix_length_zero_and_long_prefixes) {
  xerprn(" ***", 0, " ", 72);
  EXPECT_EQ(take(), " \n");
  xerprn("0123456789ABCDEFGHIJ", -1, "X", 72);
  EXPECT_EQ(take(), "0123456789ABCDEFX\n");
  xerprn("AB", 5, "X", 72);
  EXPECT_EQ(take(), "AB   X\n");
}

TEST_F(ErrorPackage, three_line_abort_text_splits_at_markers) {
  xerprn(" ***", -1,
         "FATAL ERROR IN...$$ XERMSG -- INVALID ERROR NUMBER OR LEVEL$$ JOB ABORT DUE TO FATAL "
         "ERROR.",
         72);
  EXPECT_EQ(take(),
            " ***FATAL ERROR IN...\n"
            " *** XERMSG -- INVALID ERROR NUMBER OR LEVEL\n"
            " *** JOB ABORT DUE TO FATAL ERROR.\n");
}

TEST_F(ErrorPackage, machine_constant_out_of_bounds_halts) {
  write_to_standard_error();
  EXPECT_EXIT(i1mach(17), testing::ExitedWithCode(2),
              testing::Eq(" I1MACH - I OUT OF BOUNDS        17\n"));
}

}  // namespace
}  // namespace tolbe
