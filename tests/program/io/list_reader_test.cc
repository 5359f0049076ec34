#include "io/list_reader.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace tolbe {
namespace {

constexpr double unchanged = -777.0;

struct Outcome {
  std::vector<double> values;
  std::string context;  // empty when every statement succeeded
  std::string message;
};

// Reads one statement of `count` items of `integer` or real type per entry
// of `counts` (a statement per entry) from `input`.
Outcome read_statements(InputStream& input, std::vector<int> counts, bool integer) {
  ListReader reader(input);
  Outcome outcome;
  for (int count : counts) {
    reader.begin_statement();
    for (int i = 0; i < count; ++i) {
      if (integer) {
        std::int32_t item = -777;
        reader.read(item);
        outcome.values.push_back(item);
      } else {
        double item = unchanged;
        reader.read(item);
        outcome.values.push_back(item);
      }
    }
    reader.end_statement();
  }
  if (reader.failed()) {
    outcome.context = reader.error().context;
    outcome.message = reader.error().message ? reader.error().message : "";
  }
  return outcome;
}

Outcome read_statements(const std::string& text, std::vector<int> counts, bool integer) {
  InputStream input(text);
  return read_statements(input, std::move(counts), integer);
}

struct Case {
  const char* name;
  std::string text;
  std::vector<int> statements;
  bool integer;
  std::vector<double> expected;  // checked only when no error is expected
  const char* context;           // nullptr: no error
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ListReaderTable : public testing::TestWithParam<Case> {};

TEST_P(ListReaderTable, reads_as_documented) {
  const Case& c = GetParam();
  Outcome got = read_statements(c.text, c.statements, c.integer);
  if (c.context != nullptr) {
    EXPECT_EQ(got.context, c.context);
    return;
  }
  ASSERT_EQ(got.context, "") << got.message;
  ASSERT_EQ(got.values.size(), c.expected.size());
  for (std::size_t i = 0; i < c.expected.size(); ++i) {
    EXPECT_EQ(got.values[i], c.expected[i]) << "item " << i;
  }
}

const double u = unchanged;
const double inf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    list_reader_test, ListReaderTable,
    testing::Values(
        Case{"blanks", "2 3 1\n", {3}, true, {2, 3, 1}, nullptr},
        Case{"commas", "2,3,1\n", {3}, true, {2, 3, 1}, nullptr},
        Case{"trailing_comment", "2 3 1  variables and flag\n", {3}, true, {2, 3, 1}, nullptr},
        Case{"point_in_integer", "2 3 1.0\n", {3}, true, {}, "invalid integer"},
        Case{"letter_in_integer", "2 3 1E0\n", {3}, true, {}, "invalid integer"},
        Case{"null_between_commas", "1.0,0.5,,0.2\n", {4}, false, {1.0, 0.5, u, 0.2}, nullptr},
        Case{"null_first", ",0.5,0.3\n", {3}, false, {u, 0.5, 0.3}, nullptr},
        Case{"repeat", "3*0.5\n", {3}, false, {0.5, 0.5, 0.5}, nullptr},
        Case{"repeat_rest_discarded", "3*0.5 7.0\n8\n", {3, 1}, false, {0.5, 0.5, 0.5, 8}, nullptr},
        Case{"repeated_null", "2* 0.7\n", {3}, false, {u, u, 0.7}, nullptr},
        Case{"repeated_null_comma", "2*,0.7\n", {3}, false, {u, u, 0.7}, nullptr},
        Case{"slash", "1.0 / 9.9\n", {3}, false, {1.0, u, u}, nullptr},
        Case{"exponent_forms",
             "1.5E-3 1.5d-3 1.5-3 .0015\n",
             {4},
             false,
             {0.0015, 0.0015, 0.0015, 0.0015},
             nullptr},
        Case{"garbage_after_last", "1.5 0.8x\n", {2}, false, {1.5, 0.8}, nullptr},
        Case{"garbage_in_field", "1.5x 0.8\n", {2}, false, {}, "invalid number"},
        Case{"zero_repeat", "0*1.0\n", {1}, false, {}, "bad repetition count"},
        Case{"negative_repeat", "-2*1.0\n", {2}, false, {}, "bad repetition count"},
        Case{"exponent_without_digits", "1.0E\n", {1}, false, {}, "exponent field"},
        Case{"sign_exponent_without_digits", "1.0- 2\n", {2}, false, {}, "exponent field"},
        Case{"exponent_too_large", "1E100000000\n", {1}, false, {}, "exponent field"},
        Case{"exponent_at_bound", "1E-99999999 -1E99999999\n", {2}, false, {0.0, -inf}, nullptr},
        // The bound is on the exponent's value, not on its digits: a ninth
        // digit after eight nines is past it, a leading zero is not.
        Case{"exponent_bound_then_a_digit", "1E999999990\n", {1}, false, {}, "exponent field"},
        Case{"exponent_bound_then_a_nine", "1E999999999\n", {1}, false, {}, "exponent field"},
        Case{"negative_exponent_bound_then_a_digit",
             "1E-999999990\n",
             {1},
             false,
             {},
             "exponent field"},
        Case{"sign_exponent_bound_then_a_digit", "1+999999990\n", {1}, false, {}, "exponent field"},
        Case{"exponent_bound_with_a_leading_zero",
             "1E099999999 1E-099999999\n",
             {2},
             false,
             {inf, 0.0},
             nullptr},
        Case{"exponent_one_below_bound", "1E99999998\n", {1}, false, {inf}, nullptr},
        Case{"all_exponent_letters",
             "1E2 1e+2 1D2 1d2 1+2 100E-2 1-0\n",
             {7},
             false,
             {100, 100, 100, 100, 100, 1, 1},
             nullptr},
        Case{"integer_sign_exponent", "3+0 5-1 5+1\n", {3}, true, {3, 0, 50}, nullptr},
        Case{"integer_saturates",
             "99999999999 -99999999999 0\n",
             {3},
             true,
             {2147483647.0, -2147483648.0, 0},
             nullptr},
        Case{"forty_one_digits",
             std::string(41, '1') + "\n",
             {1},
             false,
             {1.1111111111111111e40},
             nullptr},
        Case{"digits_past_forty_after_point",
             "0." + std::string(45, '3') + "\n",
             {1},
             false,
             {1.0 / 3.0},
             nullptr},
        Case{"field_ends", "1.2.3 1-2-3\n", {4}, false, {1.2, 0.3, 0.01, -3.0}, nullptr},
        Case{"counts_on_three_lines", "2\n3\n1\n", {3}, true, {2, 3, 1}, nullptr},
        Case{"blank_lines_skipped", "\n\n  \n1 2\n", {2}, false, {1, 2}, nullptr},
        Case{"row_over_two_lines",
             "1 2 3 4 5 6\n7 8 9 10 11 12\n",
             {12},
             false,
             {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
             nullptr},
        Case{"matrix_on_one_line",
             "1 2 3 4 5 6 7 8 9\n7 7 7\n",
             {3, 3},
             false,
             {1, 2, 3, 7, 7, 7},
             nullptr},
        Case{"empty_statement_discards_line", "skip me\n5\n", {0, 1}, false, {5}, nullptr},
        Case{"comma_at_line_start_is_null", "1.0\n,2.0\n", {3}, false, {1.0, u, 2.0}, nullptr},
        Case{"comma_at_line_end_separates", "1.0,\n2.0\n", {2}, false, {1.0, 2.0}, nullptr},
        Case{"lone_sign_before_comma_is_null", "-,2\n", {2}, false, {u, 2}, nullptr},
        Case{"lone_point_is_invalid", ". 2\n", {2}, false, {}, "invalid number"},
        Case{"minus_zero_reads_positive", "-0.000\n", {1}, false, {0.0}, nullptr},
        Case{"huge_magnitudes", "1E400 -1E400 1E-400\n", {3}, false, {inf, -inf, 0.0}, nullptr},
        Case{"crlf_line_ends", "1 2\r\n3\r\n", {2, 1}, false, {1, 2, 3}, nullptr},
        Case{"lone_carriage_return_is_a_character", "1 \r 2\n", {2}, false, {}, "invalid number"},
        Case{"byte_above_127_ends_field", "1.5\xc3\xa9 2\n", {2}, false, {}, "invalid number"},
        Case{"byte_above_127_after_value", "1.5 2\xc3\xa9\n", {2}, false, {1.5, 2}, nullptr},
        Case{"empty_input", "", {3}, true, {}, "list in"},
        Case{"input_ends_in_statement", "1 2", {3}, false, {}, "list in"},
        Case{"read_start_after_unterminated_line", "1 2", {2, 0}, false, {}, "read start"},
        Case{"unterminated_last_line_accepted", "1 2", {2}, false, {1, 2}, nullptr},
        Case{"repeat_with_sign_after_asterisk_null", "2*- 5\n", {3}, false, {u, u, 5}, nullptr},
        Case{"repeat_before_newline_at_end_is_null", "2*\n", {2}, false, {u, u}, nullptr},
        Case{"repeat_count_huge_saturates", "99999999999*1.5\n", {2}, false, {1.5, 1.5}, nullptr},
        Case{"repeat_count_of_41_digits",
             std::string(41, '1') + "*2\n",
             {1},
             false,
             {},
             "bad repetition count"},
        Case{"repeat_into_integers", "3*4\n", {3}, true, {4, 4, 4}, nullptr},
        Case{"q_is_no_exponent_letter", "1.5Q\n", {1}, false, {1.5}, nullptr}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// An item that starts at an asterisk has a repeat count without digits.
INSTANTIATE_TEST_SUITE_P(
    asterisk_without_digits, ListReaderTable,
    testing::Values(
        Case{"at_row_start", "*0.5\n", {1}, false, {}, "bad repetition count"},
        Case{"after_a_blank", "1.0 *5\n", {2}, false, {}, "bad repetition count"},
        Case{"after_a_value_with_point", "01.0002*0.300\n", {2}, false, {}, "bad repetition count"},
        Case{"value_with_point_ends_at_asterisk", "01.0002*0.300\n", {1}, false, {1.0002}, nullptr},
        Case{"second_asterisk_of_a_field", "2*3*4\n", {3}, false, {}, "bad repetition count"},
        Case{"second_asterisk_never_reached", "2*3*4\n", {2}, false, {3, 3}, nullptr},
        Case{"plus_sign_only", "+*1\n", {1}, false, {}, "bad repetition count"},
        Case{"minus_sign_only", "-*1\n", {1}, true, {}, "bad repetition count"},
        Case{"lone_asterisk", "*\n", {1}, true, {}, "bad repetition count"},
        Case{"point_makes_it_no_count", ".*1\n", {1}, false, {}, "invalid number"},
        Case{"asterisk_after_repeat_count", "2**1\n", {2}, false, {}, "invalid number"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// The sign form of an exponent follows a mantissa with no digit; the letter
// form needs one.
INSTANTIATE_TEST_SUITE_P(
    sign_exponent_without_mantissa_digit, ListReaderTable,
    testing::Values(
        Case{"point_then_exponent_before_comma", ".-3,5,7\n", {3}, false, {u, 5, 7}, nullptr},
        Case{"sign_then_exponent_before_slash", "--1/ 9\n", {2}, false, {u, u}, nullptr},
        Case{"sign_point_exponent_before_comma", "+.+2,4\n", {2}, false, {u, 4}, nullptr},
        Case{"integer_item_before_comma", "--1,2\n", {2}, true, {u, 2}, nullptr},
        Case{"after_repeat_before_blank", "2*.-3 7\n", {3}, false, {u, u, 7}, nullptr},
        Case{"ended_by_blank", "--1 5\n", {2}, false, {}, "invalid number"},
        Case{"ended_by_newline", ".-3\n5\n", {2}, false, {}, "invalid number"},
        Case{"sign_without_digits", "-+ 5\n", {2}, false, {}, "exponent field"},
        Case{"point_sign_without_digits", ".-,5\n", {2}, false, {}, "exponent field"},
        Case{"exponent_too_large", ".-100000000,\n", {2}, false, {}, "exponent field"},
        Case{"exponent_bound_then_a_digit", ".-999999990,\n", {2}, false, {}, "exponent field"},
        Case{"exponent_at_bound", ".-99999999,7\n", {2}, false, {u, 7}, nullptr},
        Case{"letter_needs_a_digit", ".E5,\n", {1}, false, {}, "invalid number"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// "r*" ends the field as r nulls only when white space, a comma or a slash
// follows the asterisk; at the very end of the input the field starts over
// and finds no number.
INSTANTIATE_TEST_SUITE_P(
    repeat_count_at_end_of_input, ListReaderTable,
    testing::Values(Case{"last_item", "1 2*", {2}, false, {}, "invalid number"},
                    Case{"alone", "3*", {3}, false, {}, "invalid number"},
                    Case{"integer_item", "3*", {3}, true, {}, "invalid number"},
                    Case{"newline_follows", "1 2*\n", {3}, false, {1, u, u}, nullptr},
                    Case{"value_follows", "2*5", {2}, false, {5, 5}, nullptr}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

TEST(list_reader_test, failure_texts_are_the_fixed_messages) {
  struct Expectation {
    const char* text;
    bool integer;
    const char* message;
  };
  for (auto [text, integer, message] : {Expectation{"", false, "end of file"},
                                        Expectation{"1.0\n", true, "read unexpected character"},
                                        Expectation{"0*1\n", false, "incomprehensible list input"},
                                        Expectation{"1E\n", false, "incomprehensible list input"},
                                        Expectation{"x\n", true, "incomprehensible list input"}}) {
    Outcome got = read_statements(text, {1}, integer);
    EXPECT_EQ(got.message, message) << text;
  }
}

TEST(list_reader_test, failure_leaves_items_and_later_statements_alone) {
  Outcome got = read_statements("1 x 3\n4\n", {3, 1}, false);
  EXPECT_EQ(got.context, "invalid number");
  EXPECT_EQ(got.values, (std::vector<double>{1, u, u, u}));
}

TEST(list_reader_test, read_failure_of_the_stream_names_the_system_error) {
  InputStream input(-1);  // not a descriptor: read(2) fails with EBADF
  ListReader reader(input);
  reader.begin_statement();
  double item = 0;
  reader.read(item);
  ASSERT_TRUE(reader.failed());
  EXPECT_STREQ(reader.error().context, "list in");
  EXPECT_EQ(reader.error().message, nullptr);
  EXPECT_EQ(reader.error().error_number, EBADF);
}

TEST(list_reader_test, conversion_is_correctly_rounded) {
  // Halfway cases and long inputs where a naive digit-by-digit conversion
  // goes wrong; strtod is correctly rounded on this platform.
  for (const char* text :
       {"0.1", "2.2250738585072011e-308", "9007199254740993", "1.7976931348623157e308",
        "4.9406564584124654e-324", "123456789012345678901234567890123456789"}) {
    Outcome got = read_statements(std::string(text) + "\n", {1}, false);
    ASSERT_EQ(got.context, "") << text;
    EXPECT_EQ(got.values[0], std::strtod(text, nullptr)) << text;
  }
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

// Random numbers written in every form the reader takes must read as
// strtod reads the same number written the C way.
TEST(list_reader_test, random_fields_read_as_strtod_reads_them) {
  std::mt19937_64 random(42);
  auto digits = [&](int most) {
    std::string text;
    int count = static_cast<int>(random() % (most + 1));
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
    return text;
  };
  for (int i = 0; i < 60000; ++i) {
    std::string sign = random() % 3 == 0 ? "-" : (random() % 2 ? "+" : "");
    std::string whole = digits(20);
    std::string fraction = digits(19);
    if (whole.empty() && fraction.empty()) whole = "7";
    std::string exponent = std::to_string(static_cast<int>(random() % 700) - 350);
    std::string letter[] = {"E", "e", "D", "d", ""};
    std::string chosen = letter[random() % 5];
    if (chosen.empty() && exponent[0] != '-') exponent = "+" + exponent;
    std::string field = sign + whole + "." + fraction + chosen + exponent;
    std::string c_text = sign + whole + "." + fraction + "e" + exponent;
    if (i % 3 == 0) {  // the plain form, without an exponent or a point
      field = sign + whole + (fraction.empty() ? "" : "." + fraction);
      if (field == sign) field += "0";
      c_text = field;
    }

    Outcome got = read_statements(field + "\n", {1}, false);
    ASSERT_EQ(got.context, "") << field;
    double want = std::strtod(c_text.c_str(), nullptr);
    if (want == 0.0) want = 0.0;  // a field without significant digits reads as +0
    if (std::fpclassify(want) == FP_ZERO && std::signbit(got.values[0])) {
      // An underflow keeps the sign of the field, as atof does.
      EXPECT_EQ(sign, "-") << field;
    } else {
      EXPECT_EQ(got.values[0], want) << field;
    }
  }
}

// Whatever the bytes, a statement either reads or fails with one of the
// reader's own diagnostics, and never touches memory it should not (the
// sanitizer build checks that).
TEST(list_reader_test, arbitrary_text_never_misbehaves) {
  const std::string alphabet = "0123456789.+-eEdDqQ*/, \t\n\rx\x80\xff";
  const std::set<std::string> contexts = {"",
                                          "list in",
                                          "read start",
                                          "invalid integer",
                                          "bad repetition count",
                                          "exponent field",
                                          "invalid number"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    int size = static_cast<int>(random() % 48);
    for (int k = 0; k < size; ++k) text += alphabet[random() % alphabet.size()];
    bool integer = i % 2 == 0;
    Outcome got = read_statements(text, {3, 0, 2, 4}, integer);
    ASSERT_TRUE(contexts.count(got.context)) << got.context;
  }
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

// ---- Items around the edge of the stream's buffer ----------------------------
//
// A file descriptor is read through a buffer of 64 KiB: the first read takes
// bytes 0..65535, the next ones start wherever the reader stopped. Each case
// puts the byte of interest (a separator, a line end, a slash, a field) at
// byte offset `at` of a longer input, so that over the offsets below it
// falls just before, exactly at and just after the edge. A first value, 9,
// loads the buffer, so that the values after it are scanned in place as far
// as the buffer goes, as the values of a matrix row are.

constexpr std::size_t buffer_edge = std::size_t{1} << 16;

// Reads `text` as the program reads standard input: through a descriptor.
Outcome read_through_descriptor(const std::string& text, std::vector<int> counts, bool integer) {
  int fd = memfd_create("list_reader_edge", 0);
  EXPECT_GE(fd, 0);
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(written, text.size());
  lseek(fd, 0, SEEK_SET);
  auto input = std::make_unique<InputStream>(fd);
  Outcome outcome = read_statements(*input, std::move(counts), integer);
  close(fd);
  return outcome;
}

// `head`, then blanks up to byte `at`, then `tail` (which starts at `at`).
std::string placed(const std::string& head, std::size_t at, const std::string& tail) {
  return head + std::string(at - head.size(), ' ') + tail;
}

struct EdgeCase {
  const char* name;
  // The input with the byte of interest at offset `at`.
  std::string (*text)(std::size_t at);
  std::vector<int> statements;
  bool integer;
  std::vector<double> expected;
  const char* context;  // nullptr: no error
};

void PrintTo(const EdgeCase& c, std::ostream* os) {
  *os << c.name;
}

class BufferEdge : public testing::TestWithParam<std::tuple<EdgeCase, std::size_t>> {};

TEST_P(BufferEdge, reads_as_if_the_input_were_in_one_piece) {
  const auto& [c, at] = GetParam();
  std::string text = c.text(at);
  ASSERT_GE(text.size(), at);
  for (bool through_descriptor : {false, true}) {
    SCOPED_TRACE(through_descriptor ? "through a descriptor" : "from memory");
    Outcome got = through_descriptor ? read_through_descriptor(text, c.statements, c.integer)
                                     : read_statements(text, c.statements, c.integer);
    if (c.context != nullptr) {
      EXPECT_EQ(got.context, c.context);
      continue;
    }
    ASSERT_EQ(got.context, "") << got.message;
    EXPECT_EQ(got.values, c.expected);
  }
}

const double edge_unchanged = unchanged;

INSTANTIATE_TEST_SUITE_P(
    list_reader_test, BufferEdge,
    testing::Combine(
        testing::Values(
            // The comma after a value and blanks: 1.0<blanks>,0.5 is two
            // values, wherever the comma falls.
            EdgeCase{"comma_after_blanks",
                     [](std::size_t at) { return placed("9 1.0", at, ",0.5,0.25\n"); },
                     {4},
                     false,
                     {9, 1.0, 0.5, 0.25},
                     nullptr},
            EdgeCase{"comma_then_null",
                     [](std::size_t at) { return placed("9 1.0", at, ",,0.5\n"); },
                     {4},
                     false,
                     {9, 1.0, edge_unchanged, 0.5},
                     nullptr},
            EdgeCase{"comma_directly_after_value",
                     [](std::size_t at) { return placed("9", at - 3, "1.0,0.5\n"); },
                     {3},
                     false,
                     {9, 1.0, 0.5},
                     nullptr},
            EdgeCase{"blanks_only",
                     [](std::size_t at) { return placed("9 1.0", at, "0.5\n"); },
                     {3},
                     false,
                     {9, 1.0, 0.5},
                     nullptr},
            EdgeCase{"tab_separator",
                     [](std::size_t at) { return placed("9", at - 3, "1.0\t0.5\n"); },
                     {3},
                     false,
                     {9, 1.0, 0.5},
                     nullptr},
            EdgeCase{"integers_with_comma",
                     [](std::size_t at) { return placed("2", at, ",3,1\n"); },
                     {3},
                     true,
                     {2, 3, 1},
                     nullptr},
            // A field that straddles the edge is one field.
            EdgeCase{"field_straddles",
                     [](std::size_t at) { return placed("9", at - 5, "0.123456789 2\n"); },
                     {3},
                     false,
                     {9, 0.123456789, 2},
                     nullptr},
            EdgeCase{
                "long_field_straddles",
                [](std::size_t at) { return placed("9", at - 12, "1234567.8901234567891 2\n"); },
                {3},
                false,
                {9, 1234567.8901234567891, 2},
                nullptr},
            EdgeCase{"exponent_straddles",
                     [](std::size_t at) { return placed("9", at - 3, "1.5E-3,2.5d+2\n"); },
                     {3},
                     false,
                     {9, 0.0015, 250},
                     nullptr},
            EdgeCase{"repeat_count_straddles",
                     [](std::size_t at) { return placed("9", at - 1, "3*0.5 7\n"); },
                     {5},
                     false,
                     {9, 0.5, 0.5, 0.5, 7},
                     nullptr},
            // Line ends: the rest of a statement's line is discarded up to
            // the line end at `at`, and the next statement starts after it.
            EdgeCase{"line_end",
                     [](std::size_t at) { return placed("9 1.0", at, "\n2.0\n"); },
                     {2, 1},
                     false,
                     {9, 1.0, 2.0},
                     nullptr},
            EdgeCase{
                "line_end_after_comment",
                [](std::size_t at) { return "9 1.0 " + std::string(at - 6, 'c') + "\n2.0 3.0\n"; },
                {2, 2},
                false,
                {9, 1.0, 2.0, 3.0},
                nullptr},
            EdgeCase{"carriage_return_line_feed",
                     [](std::size_t at) { return placed("9 1.0", at, "\r\n2.0\r\n"); },
                     {2, 1},
                     false,
                     {9, 1.0, 2.0},
                     nullptr},
            EdgeCase{"line_end_within_a_statement",
                     [](std::size_t at) { return placed("9 1.0", at, "\r\n,2.0\n"); },
                     {4},
                     false,
                     {9, 1.0, edge_unchanged, 2.0},
                     nullptr},
            EdgeCase{"lone_carriage_return_is_a_character",
                     [](std::size_t at) { return placed("9 1.0", at, "\r 2.0\n"); },
                     {3},
                     false,
                     {},
                     "invalid number"},
            // A slash ends the row; the next statement reads on.
            EdgeCase{"slash",
                     [](std::size_t at) { return placed("9 1.0", at, "/ 9.9\n2.0\n"); },
                     {4, 1},
                     false,
                     {9, 1.0, edge_unchanged, edge_unchanged, 2.0},
                     nullptr},
            EdgeCase{"slash_directly_after_value",
                     [](std::size_t at) { return placed("9", at - 3, "1.0/ 9.9\n2.0\n"); },
                     {4, 1},
                     false,
                     {9, 1.0, edge_unchanged, edge_unchanged, 2.0},
                     nullptr},
            EdgeCase{"comma_then_slash",
                     [](std::size_t at) { return placed("9 1.0", at, ",/ 9.9\n"); },
                     {3},
                     false,
                     {9, 1.0, edge_unchanged},
                     nullptr},
            // The end of the input at the edge: the last value still reads,
            // and one value more finds the end.
            EdgeCase{"input_ends",
                     [](std::size_t at) { return placed("9", at - 7, "1.0 0.5"); },
                     {3},
                     false,
                     {9, 1.0, 0.5},
                     nullptr},
            EdgeCase{"input_ends_one_value_short",
                     [](std::size_t at) { return placed("9", at - 7, "1.0 0.5"); },
                     {4},
                     false,
                     {},
                     "list in"}),
        testing::Values(buffer_edge - 3, buffer_edge - 2, buffer_edge - 1, buffer_edge,
                        buffer_edge + 1, buffer_edge + 2, buffer_edge + 3)),
    [](const testing::TestParamInfo<std::tuple<EdgeCase, std::size_t>>& param_info) {
      return std::string(std::get<0>(param_info.param).name) + "_at_" +
             std::to_string(std::get<1>(param_info.param));
    });

}  // namespace
}  // namespace tolbe
