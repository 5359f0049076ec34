// The stand-ins for floating-point from_chars and to_chars (used where the
// standard library lacks them, as in the WebAssembly build) against the
// standard library's own, which this build has: same values, same texts.

#include "io/chars.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "io/display_text.h"

namespace tolbe {
namespace {

std::string shortest_by_std(double x) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, x).ptr);
}

std::string shortest_by_printf(double x) {
  char text[64];
  auto result = format_shortest_by_printf(text, text + sizeof text, x);
  EXPECT_EQ(result.ec, std::errc());
  return std::string(text, result.ptr);
}

std::string fixed_by_std(double x, int decimals) {
  char text[400];
  auto r = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, decimals);
  return std::string(text, r.ptr);
}

std::string fixed_by_printf(double x, int decimals) {
  char text[400];
  auto result = format_fixed_by_printf(text, text + sizeof text, x, decimals);
  EXPECT_EQ(result.ec, std::errc());
  return std::string(text, result.ptr);
}

// Both parsers on `text`: the same outcome, the same end, the same bits.
void expect_same_parse(const std::string& text) {
  const char* first = text.data();
  const char* last = first + text.size();
  double by_std = 12345.0;
  double by_strtod = 12345.0;
  auto s = std::from_chars(first, last, by_std);
  auto t = parse_double_by_strtod(first, last, by_strtod);
  EXPECT_EQ(s.ec, t.ec) << '"' << text << '"';
  EXPECT_EQ(s.ptr - first, t.ptr - first) << '"' << text << '"';
  if (std::isnan(by_std)) {
    EXPECT_TRUE(std::isnan(by_strtod)) << '"' << text << '"';
  } else {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(by_std), std::bit_cast<std::uint64_t>(by_strtod))
        << '"' << text << '"';
  }
}

class ParseEdge : public ::testing::TestWithParam<const char*> {};

TEST_P(ParseEdge, AsFromChars) {
  expect_same_parse(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseEdge,
    ::testing::Values("1", "-0", "0.81", ".5", "-.5e1", "5.", "1e5", "1E-5", "1e", "1e+", "1e-x",
                      "0x1p3", "-0x10", "0X1", "+1", " 1", "\t1", "", "-", "--1", ".", "-.", "e5",
                      "abc", "1,5", "1.5.5", "12abc", "inf", "-inf", "INF", "Infinity", "infin",
                      "nan", "-nan", "NaN", "nan(123)", "1e400", "-1e400", "1e-400", "4.9e-324",
                      "2.4e-324", "2.2250738585072011e-308", "1.7976931348623157e308",
                      "1.7976931348623159e308", "123456789012345678901234567890",
                      "0.1000000000000000055511151231257827021181583404541015625"));

TEST(ParseDouble, ShortestTextsOfRandomDoublesReadBack) {
  std::mt19937_64 bits(20261209);
  for (int i = 0; i < 20000; ++i) {
    double x = std::bit_cast<double>(bits());
    if (!std::isfinite(x)) continue;
    expect_same_parse(shortest_by_std(x));
    char long_text[64];
    std::snprintf(long_text, sizeof long_text, "%.25e", x);
    expect_same_parse(long_text);
  }
}

class ShortestEdge : public ::testing::TestWithParam<double> {};

TEST_P(ShortestEdge, AsToChars) {
  EXPECT_EQ(shortest_by_printf(GetParam()), shortest_by_std(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Values, ShortestEdge,
                         ::testing::Values(0.0, -0.0, 1.0, -1.0, 0.81, 0.1, 1.0 / 3.0, 10.0, 100.0,
                                           1e15, 1e16, 1e17, 1e20, 1e21, 1e22, 123456789.0,
                                           1234567890123456789.0, 1e-4, 1e-5, 1.5e-5, 0.000123,
                                           5e-324, DBL_MIN, DBL_MAX, 9007199254740993.0, 0.5, 0.25,
                                           1024.0, 0x1p-1022, 0x1p-1021, 0x1p52, 0x1p53, 0x1p54,
                                           0x1p63, 0x1p-10, 2.0 / 3.0, -123.456,
                                           std::numeric_limits<double>::infinity(),
                                           -std::numeric_limits<double>::infinity()));

TEST(FormatShortest, EveryPowerOfTwoAsToChars) {
  // Below a power of two the doubles lie twice as close as above it: there
  // the shortest text that reads back need not be the correctly rounded one.
  for (int e = -1074; e <= 1023; ++e) {
    double x = std::ldexp(1.0, e);
    ASSERT_EQ(shortest_by_printf(x), shortest_by_std(x)) << "2^" << e;
    ASSERT_EQ(shortest_by_printf(-x), shortest_by_std(-x)) << "-2^" << e;
  }
}

TEST(FormatShortest, NotANumberAsToChars) {
  double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(shortest_by_printf(nan), shortest_by_std(nan));
  EXPECT_EQ(shortest_by_printf(-nan), shortest_by_std(-nan));
}

TEST(FormatShortest, RandomDoublesAsToChars) {
  std::mt19937_64 bits(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 20000; ++i) {
    double any = std::bit_cast<double>(bits());
    if (std::isfinite(any)) {
      ASSERT_EQ(shortest_by_printf(any), shortest_by_std(any));
    }
    // Numbers as a matrix has them, where the choice of notation matters.
    double usual = std::ldexp(unit(bits), static_cast<int>(bits() % 80) - 40);
    ASSERT_EQ(shortest_by_printf(usual), shortest_by_std(usual));
  }
}

TEST(FormatShortest, TooSmallARangeIsRefused) {
  char text[4];
  auto result = format_shortest_by_printf(text, text + sizeof text, 0.125);
  EXPECT_EQ(result.ec, std::errc::value_too_large);
  EXPECT_EQ(result.ptr, text + sizeof text);
  result = format_shortest_by_printf(text, text + sizeof text, 0.25);
  EXPECT_EQ(result.ec, std::errc());
  EXPECT_EQ(std::string(text, result.ptr), "0.25");
}

TEST(FormatFixed, AsToChars) {
  std::mt19937_64 bits(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int decimals = 0; decimals <= 9; ++decimals) {
    for (double x : {0.0, 0.5, 1.5, 2.5, 0.125, 1e10, 1e19, 1e20, 1e300, DBL_MAX, 5e-324}) {
      EXPECT_EQ(fixed_by_printf(x, decimals), fixed_by_std(x, decimals)) << x << ' ' << decimals;
    }
    for (int i = 0; i < 2000; ++i) {
      double x = std::ldexp(unit(bits), static_cast<int>(bits() % 140) - 20);
      ASSERT_EQ(fixed_by_printf(x, decimals), fixed_by_std(x, decimals)) << x << ' ' << decimals;
    }
  }
}

// Names shown to people (io/display_text.h): control characters written
// out, widths on a terminal, and cells a spreadsheet would take for a
// formula. The expected texts are written by hand from the byte values.

struct Escaped {
  std::string_view text;
  std::string shown;
};

TEST(DisplayText, ControlsWrittenOut) {
  using namespace std::string_view_literals;
  const Escaped cases[] = {
      {"plain name"sv, "plain name"},
      {"a\x1b[31mred"sv, "a\\x1b[31mred"},       // ESC: a colour
      {"two\nlines\r"sv, "two\\x0alines\\x0d"},  // LF, CR
      {"tab\there"sv, "tab\\x09here"},
      {"nul\0byte"sv, "nul\\x00byte"},
      {"\x01\x1f\x7f"sv, "\\x01\\x1f\\x7f"},  // C0's ends and DEL
      {"csi\xc2\x9b"
       "2J"sv,
       "csi\\u009b2J"},                                // C1 CSI, as UTF-8
      {"\xc2\x80\xc2\x9f"sv, "\\u0080\\u009f"},        // C1's ends
      {"nbsp\xc2\xa0ok"sv, "nbsp\xc2\xa0ok"},          // U+00A0 is no control
      {"Interview \xc3\xbc"sv, "Interview \xc3\xbc"},  // u with diaeresis
      {"stray\x9b"sv, "stray\x9b"},                    // not UTF-8: kept as it is
      {"cut\xc2"sv, "cut\xc2"},                        // a truncated character
      {""sv, ""},
  };
  for (const Escaped& c : cases) {
    EXPECT_EQ(escape_controls(c.text), c.shown) << c.shown;
  }
}

struct Width {
  std::string_view text;
  std::size_t width;
};

TEST(DisplayText, WidthInColumns) {
  using namespace std::string_view_literals;
  const Width cases[] = {
      {""sv, 0},
      {"abc"sv, 3},
      {"Interview \xc3\xbc"sv, 11},       // 12 bytes
      {"u\xcc\x88"sv, 1},                 // u and a combining diaeresis
      {"\xe2\x82\xac"sv, 1},              // the euro sign, 3 bytes
      {"\xe6\x97\xa5\xe6\x9c\xac"sv, 4},  // two CJK ideographs, wide
      {"\xf0\x9f\x98\x80"sv, 2},          // an emoji, 4 bytes
      {"\xff"sv, 1},                      // not UTF-8: a column a byte
      {"\xc0\xaf"sv, 2},                  // an overlong '/': two bytes
      {"\xed\xa0\x80"sv, 3},              // a surrogate: three bytes
      {"\xc3"sv, 1},                      // truncated
  };
  for (const Width& c : cases) {
    EXPECT_EQ(display_width(c.text), c.width) << c.text;
  }
}

struct Cell {
  std::string_view text;
  std::string safe;
};

TEST(DisplayText, SpreadsheetSafeCells) {
  using namespace std::string_view_literals;
  const Cell cases[] = {
      {"=SUM(A1:A9)"sv, "'=SUM(A1:A9)"},
      {"+cmd|' /C calc'!A0"sv, "'+cmd|' /C calc'!A0"},
      {"-2+3"sv, "'-2+3"},
      {"@SUM(1)"sv, "'@SUM(1)"},
      {"\t=1"sv, "'\t=1"},
      {"\r=1"sv, "'\r=1"},
      {"-x"sv, "'-x"},
      {"-inf"sv, "'-inf"},  // no decimal number
      {"-0x1A"sv, "'-0x1A"},
      {"--1"sv, "'--1"},
      {"-e5"sv, "'-e5"},
      {"-1e"sv, "'-1e"},
      // Numbers stay numbers.
      {"-0.25"sv, "-0.25"},
      {"+3"sv, "+3"},
      {"-.5"sv, "-.5"},
      {"-5."sv, "-5."},
      {"-1.5E-3"sv, "-1.5E-3"},
      {"+2e+10"sv, "+2e+10"},
      // Standard input's name, and cells that start otherwise.
      {"-"sv, "-"},
      {"x=1"sv, "x=1"},
      {" =1"sv, " =1"},
      {""sv, ""},
  };
  for (const Cell& c : cases) {
    EXPECT_EQ(spreadsheet_safe(c.text), c.safe) << c.text;
  }
}

}  // namespace
}  // namespace tolbe
