#pragma once

#include <cstdint>

namespace tolbe {

// The significant digits of a decimal mantissa as the reader meets them, and
// the power of ten they stand at: the number is
// (negative ? -1 : 1) * digits * 10^exponent. Leading zeros are dropped; at
// most 40 significant digits are retained, further digits before the point
// scale by ten and further digits after it are ignored.
struct DecimalMantissa {
  static constexpr int max_significant_digits = 40;
  // Up to 19 decimal digits always fit in 64 bits.
  static constexpr int max_leading_digits = 19;

  char digits[max_significant_digits];
  int retained = 0;
  long significant = 0;  // all significant digits, retained or not
  long exponent = 0;
  std::uint64_t leading = 0;  // the retained digits as an integer, while at most 19
  bool has_digit = false;
  bool negative = false;

  void add_before_point(int c) {
    has_digit = true;
    if (retained == 0 && c == '0') return;
    ++significant;
    if (retained < max_significant_digits) {
      retain(c);
    } else {
      ++exponent;
    }
  }
  void add_after_point(int c) {
    has_digit = true;
    if (retained == 0 && c == '0') {
      --exponent;
      return;
    }
    ++significant;
    if (retained < max_significant_digits) {
      retain(c);
      --exponent;
    }
  }

 private:
  void retain(int c) {
    if (retained < max_leading_digits) leading = leading * 10 + static_cast<unsigned>(c - '0');
    digits[retained++] = static_cast<char>(c);
  }
};

// `m` times 10^field_exponent, correctly rounded (as a conforming strtod
// rounds the same digits). Out of range gives an infinity or a zero of the
// mantissa's sign; no retained digits give +0. Takes one exact multiplication
// or division when the digits are below 2^53 and the power of ten at most 22
// in magnitude, the exact road otherwise. Does not allocate.
double decimal_to_double(const DecimalMantissa& m, long field_exponent);

// digits * 10^exponent, negated with `negative` unless digits is 0: one
// correctly rounded multiplication or division. Requires digits <= 2^53 and
// |exponent| <= 22, the range where both operands are exact doubles.
// The powers of ten that a double holds exactly.
inline constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline double scale_exactly_representable(std::uint64_t digits, long exponent, bool negative) {
  if (digits == 0) return 0.0;
  double value = static_cast<double>(digits);
  value =
      exponent < 0 ? value / exact_powers_of_ten[-exponent] : value * exact_powers_of_ten[exponent];
  return negative ? -value : value;
}

// The same number, always by the exact road (a text handed to from_chars).
double exact_decimal_to_double(const DecimalMantissa& m, long field_exponent);

}  // namespace tolbe
