#include "io/decimal.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace tolbe {
namespace {

DecimalMantissa mantissa_of(const std::string& whole, const std::string& fraction, bool negative) {
  DecimalMantissa m;
  m.negative = negative;
  for (char c : whole) m.add_before_point(c);
  for (char c : fraction) m.add_after_point(c);
  return m;
}

std::string random_digits(std::mt19937_64& random, int most) {
  std::string text;
  int count = static_cast<int>(random() % static_cast<unsigned>(most + 1));
  for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
  return text;
}

// The fast road must give the exact road's bits, on every form it takes:
// short and long mantissas, digits around 2^53, and powers of ten at and
// beyond the exact range.
TEST(decimal_test, fast_conversion_matches_exact_conversion) {
  std::mt19937_64 random(2026);
  long compared = 0;
  for (int i = 0; i < 1'000'000; ++i) {
    std::string whole;
    std::string fraction;
    switch (i % 4) {
      case 0:  // what reports hold: a few digits on either side of the point
        whole = random_digits(random, 5);
        fraction = random_digits(random, 8);
        break;
      case 1:  // up to 21 digits, across the 19-digit and 2^53 limits
        whole = random_digits(random, 21);
        break;
      case 2: {  // integers next to 2^53
        std::uint64_t near = (std::uint64_t{1} << 53) - 8 + random() % 16;
        whole = std::to_string(near);
        break;
      }
      default:  // leading zeros after the point
        fraction = std::string(random() % 25, '0') + random_digits(random, 17);
        break;
    }
    long exponent = static_cast<long>(random() % 61) - 30;
    DecimalMantissa m = mantissa_of(whole, fraction, random() % 2 == 0);
    double fast = decimal_to_double(m, exponent);
    double exact = exact_decimal_to_double(m, exponent);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(fast), std::bit_cast<std::uint64_t>(exact))
        << whole << "." << fraction << "e" << exponent;
    ++compared;
  }
  EXPECT_EQ(compared, 1'000'000);
}

TEST(decimal_test, exact_conversion_agrees_with_strtod) {
  struct Case {
    const char* whole;
    const char* fraction;
    long exponent;
    const char* c_text;
  };
  for (const Case& c :
       {Case{"9007199254740993", "", 0, "9007199254740993"},  // a tie: to even
        Case{"9007199254740995", "", 0, "9007199254740995"}, Case{"1", "", 23, "1e23"},
        Case{"2", "2250738585072011", -308, "2.2250738585072011e-308"},
        Case{"4", "9406564584124654", -324, "4.9406564584124654e-324"},
        Case{"17976931348623157", "", 292, "1.7976931348623157e308"}}) {
    DecimalMantissa m = mantissa_of(c.whole, c.fraction, false);
    EXPECT_EQ(decimal_to_double(m, c.exponent), std::strtod(c.c_text, nullptr)) << c.c_text;
  }
}

}  // namespace
}  // namespace tolbe
