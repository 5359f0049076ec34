#include "io/decimal.h"

#include <charconv>
#include <limits>

#include "io/chars.h"

namespace tolbe {
namespace {

constexpr long max_exact_power = 22;

}  // namespace

double exact_decimal_to_double(const DecimalMantissa& mantissa, long field_exponent) {
  int retained = mantissa.retained;
  if (retained == 0) return 0.0;
  long exponent = mantissa.exponent + field_exponent;
  while (mantissa.digits[retained - 1] == '0') {
    --retained;
    ++exponent;
  }
  char text[DecimalMantissa::max_significant_digits + 32];
  char* out = text;
  if (mantissa.negative) *out++ = '-';
  for (int i = 0; i < retained; ++i) *out++ = mantissa.digits[i];
  if (exponent != 0) {
    *out++ = 'e';
    out = std::to_chars(out, text + sizeof text, exponent).ptr;
  }
  double value = 0.0;
  auto result = parse_double(text, out, value);
  if (result.ec == std::errc::result_out_of_range) {
    bool huge = retained + exponent > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    if (mantissa.negative) value = -value;
  }
  return value;
}

double decimal_to_double(const DecimalMantissa& m, long field_exponent) {
  if (m.retained == 0) return 0.0;
  long exponent = m.exponent + field_exponent;
  if (m.retained <= DecimalMantissa::max_leading_digits && m.leading <= (std::uint64_t{1} << 53) &&
      exponent >= -max_exact_power && exponent <= max_exact_power) {
    return scale_exactly_representable(m.leading, exponent, m.negative);
  }
  return exact_decimal_to_double(m, field_exponent);
}

}  // namespace tolbe
