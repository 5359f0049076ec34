#include "io/format_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "io/field_render.h"
#include "support/string_sink.h"

namespace tolbe {
namespace {

using testing_support::StringSink;

std::string fixed(double value, int width, int decimals) {
  char out[max_field_width];
  return std::string(render_fixed(value, width, decimals, out));
}

std::string integer(std::int64_t value, int width) {
  char out[max_field_width];
  return std::string(render_integer(value, width, out));
}

template <typename... Items>
std::string written(std::string_view format, Items... items) {
  StringSink sink;
  write_formatted_at_run_time(sink, format, {FormatItem(items)...});
  return sink.text;
}

// The digits must be those of the C library's "%.*f"; only values whose
// text fits the field are compared, the others are checked by the table below.
TEST(format_writer_test, fixed_fields_match_printf_digits) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> magnitude(-2.0, 4.0);
  int compared = 0;
  for (int i = 0; i < 20000; ++i) {
    double value = std::pow(10.0, magnitude(random)) * (i % 2 ? -1.0 : 1.0);
    for (auto [width, decimals] : {std::pair{9, 4}, {10, 3}, {12, 2}}) {
      char expected[64];
      int size = std::snprintf(expected, sizeof expected, "%*.*f", width, decimals, value);
      if (size > width ||
          std::string_view(expected).find_first_of("123456789") == std::string_view::npos) {
        continue;
      }
      ++compared;
      ASSERT_EQ(fixed(value, width, decimals), expected) << value;
    }
  }
  EXPECT_GT(compared, 40000);
}

TEST(format_writer_test, fixed_field_edge_cases) {
  struct Case {
    double value;
    int width, decimals;
    const char* text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Case& c : {
           Case{0.5, 9, 4, "   0.5000"},        Case{-0.5, 9, 4, "  -0.5000"},
           Case{1.0, 9, 4, "   1.0000"},        Case{-0.00004, 9, 4, "   0.0000"},
           Case{-0.0, 9, 4, "   0.0000"},       Case{9999.99994, 9, 4, "9999.9999"},
           Case{9999.99996, 9, 4, "*********"}, Case{10000.0, 9, 4, "*********"},
           Case{-999.9999, 9, 4, "-999.9999"},  Case{-1000.0, 9, 4, "*********"},
           Case{0.125, 4, 2, "0.12"},     // exact half: ties to even
           Case{0.375, 4, 2, "0.38"},     // exact half: ties to even
           Case{0.12345, 5, 4, ".1235"},  // one too long: the leading 0 goes
           Case{-0.12345, 6, 4, "******"},      Case{std::nan(""), 9, 4, "      NaN"},
           Case{inf, 9, 4, " Infinity"},        Case{-inf, 9, 4, "-Infinity"},
           Case{-inf, 8, 4, "    -Inf"},        Case{inf, 2, 1, "**"},
           Case{1e300, 12, 2, "************"},  Case{1.5, 12, 2, "        1.50"},
           Case{0.004, 12, 2, "        0.00"},
       }) {
    EXPECT_EQ(fixed(c.value, c.width, c.decimals), c.text) << c.value;
  }
}

TEST(format_writer_test, integer_fields) {
  EXPECT_EQ(integer(0, 3), "  0");
  EXPECT_EQ(integer(999, 3), "999");
  EXPECT_EQ(integer(1000, 3), "***");
  EXPECT_EQ(integer(-99, 3), "-99");
  EXPECT_EQ(integer(-100, 3), "***");
  EXPECT_EQ(integer(-2147483647 - 1, 11), "-2147483648");
  EXPECT_EQ(integer(7, 2), " 7");
}

TEST(format_writer_test, matrix_row_examples) {
  EXPECT_EQ(written("(I3,8F9.4)", 1, 100.0, 45.5, -30.25), "  1 100.0000  45.5000 -30.2500\n");
  EXPECT_EQ(written("(I3,8F9.4)", 2, 0.45123, 1.0, -0.08314), "  2   0.4512   1.0000  -0.0831\n");
  EXPECT_EQ(written("(I3,8F9.4)", 3, 12345.6, -1000.0, -0.00004),
            "  3" + std::string(18, '*') + "   0.0000\n");
}

TEST(format_writer_test, slashes_give_empty_lines_at_start_and_end) {
  EXPECT_EQ(written("(/,'PROGRAM OUTPUT',/)"), "\nPROGRAM OUTPUT\n\n");
  EXPECT_EQ(written("('A',//,'B')"), "A\n\nB\n");
}

TEST(format_writer_test, pending_blanks_only_before_text) {
  EXPECT_EQ(written("(3X,'A',2X)"), "   A\n");
  EXPECT_EQ(written("(1X)"), "\n");
  EXPECT_EQ(written("(3X,6F10.3)"), "\n");
}

TEST(format_writer_test, reversion_writes_the_leading_literals_again) {
  std::string seven_values = written("(/,'H',/,3X,2F5.1)", 1.0, 2.0, 3.0);
  EXPECT_EQ(seven_values, "\nH\n     1.0  2.0\n\nH\n     3.0\n");
}

TEST(format_writer_test, close_stops_at_a_data_descriptor_without_item) {
  EXPECT_EQ(written("('N:',I3,/,'M:',I3)", 2), "N:  2\nM:\n");
}

TEST(format_writer_test, literals_and_text_items) {
  EXPECT_EQ(written("('it''s')"), "it's\n");
  EXPECT_EQ(written("(1X,A,3X,A)", std::string_view("ab"), std::string_view("c")), " ab   c\n");
  EXPECT_EQ(written("(A4)", std::string_view("abcdef")), "abcd\n");
  EXPECT_EQ(written("(A4)", std::string_view("ab")), "  ab\n");
}

TEST(format_writer_test, item_that_does_not_suit_its_descriptor_is_asterisks) {
  EXPECT_EQ(written("(I3)", 1.5), "***\n");
  EXPECT_EQ(written("(F5.1)", 2), "*****\n");
}

TEST(format_writer_test, fixed_text_sink_pads_and_cuts) {
  char text[6];
  FixedTextSink sink(text);
  write_formatted(sink, "(I2)", {4});
  EXPECT_EQ(std::string_view(text, 6), " 4    ");
  char small[2];
  FixedTextSink cut(small);
  write_formatted(cut, "('ABC',/,'D')");
  EXPECT_EQ(std::string_view(small, 2), "AB");
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

std::string fixed_exact(double value, int width, int decimals) {
  char out[max_field_width];
  return std::string(render_fixed_exact(value, width, decimals, out));
}

// The short road must write what the exact road writes, on about a million
// values: random magnitudes, values a few units in the last place from a
// rounding tie, exact binary ties, and values around every power of ten the
// fields can hold, where the count of digits changes.
TEST(format_writer_test, short_road_matches_exact_road) {
  std::mt19937_64 random(1943);
  struct Field {
    int width;
    int decimals;
  };
  const Field fields[] = {{9, 4}, {10, 3}, {12, 2}, {6, 0}, {20, 9}, {8, 1}};
  long compared = 0;
  long settled_short = 0;
  auto check = [&](double value) {
    for (const Field& f : fields) {
      std::string exact = fixed_exact(value, f.width, f.decimals);
      char out[max_field_width];
      auto width = static_cast<std::size_t>(f.width);
      if (short_fixed_renderer(f.decimals)(value, width, out)) {
        ++settled_short;
        ASSERT_EQ(std::string(out, width), exact)
            << std::hexfloat << value << " F" << f.width << "." << f.decimals;
      }
      ASSERT_EQ(fixed(value, f.width, f.decimals), exact);
      ++compared;
    }
  };
  std::uniform_real_distribution<double> exponent(-6.0, 10.0);
  for (int i = 0; i < 60000; ++i) {
    double magnitude = std::pow(10.0, exponent(random));
    check(i % 2 ? -magnitude : magnitude);
  }
  for (const Field& f : fields) {
    double unit = std::pow(10.0, f.decimals);
    for (int i = 0; i < 8000; ++i) {
      // Ties k + 1/2 units of the last decimal, and their neighbours.
      double tie = (static_cast<double>(random() % 2000000) + 0.5) / unit;
      for (int step = -3; step <= 3; ++step) {
        double value = tie;
        for (int k = 0; k < std::abs(step); ++k)
          value = std::nextafter(value, step < 0 ? 0.0 : 1e300);
        check(value);
        check(-value);
      }
      // Exact binary ties: odd / 2^(decimals+1) lies halfway between two
      // values of `decimals` decimals.
      double odd = static_cast<double>(2 * (random() % 5000000) + 1);
      check(std::ldexp(odd, -(f.decimals + 1)));
    }
  }
  for (int power = -10; power <= 10; ++power) {
    for (const Field& f : fields) {
      double ten = std::pow(10.0, power);
      double below = ten - 0.5 / std::pow(10.0, f.decimals);  // rounds up to 10^power
      for (double centre : {ten, below}) {
        double value = centre;
        for (int k = 0; k < 40; ++k) value = std::nextafter(value, 0.0);
        for (int k = 0; k < 80; ++k, value = std::nextafter(value, 1e300)) {
          check(value);
          check(-value);
        }
      }
    }
  }
  EXPECT_GT(compared, 1'000'000);
  EXPECT_GT(settled_short, compared / 2);  // the short road is really taken
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

// What makes a format constant fail to build (checked_format rejects
// exactly what well_formed() calls malformed).
static_assert(CompiledFormat("(I3,8F9.4)").well_formed());
static_assert(CompiledFormat("(/,25X,'+  TOLBE  +',//,A,3I10,1X)").well_formed());
static_assert(CompiledFormat("('it''s',A8)").well_formed());
static_assert(!CompiledFormat("(I3,8Q9.4)").well_formed());  // unknown letter
static_assert(!CompiledFormat("(F9.9)").well_formed());      // no room for the point
static_assert(!CompiledFormat("('open)").well_formed());     // literal not closed
static_assert(!CompiledFormat("I3").well_formed());          // no parentheses
static_assert(!CompiledFormat("(X)").well_formed());         // X needs a count
static_assert(!CompiledFormat("(0F9.4)").well_formed());     // a zero repeat
static_assert(!CompiledFormat("(I99)").well_formed());       // wider than a field can be
static_assert(!CompiledFormat("(I3) trailing").well_formed());

}  // namespace
}  // namespace tolbe
