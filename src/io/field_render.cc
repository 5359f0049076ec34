#include "io/field_render.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tolbe {
namespace {

std::string_view right_justified(std::string_view text, int width, std::span<char> out) {
  std::size_t w = static_cast<std::size_t>(width);
  if (text.size() > w) {
    std::memset(out.data(), '*', w);
  } else {
    std::size_t pad = w - text.size();
    std::memset(out.data(), ' ', pad);
    std::memcpy(out.data() + pad, text.data(), text.size());
  }
  return {out.data(), w};
}

std::string_view non_finite(double value, int width, std::span<char> out) {
  if (std::isnan(value)) return right_justified("NaN", width, out);
  bool negative = std::signbit(value);
  std::string_view long_form = negative ? "-Infinity" : "Infinity";
  if (long_form.size() <= static_cast<std::size_t>(width)) {
    return right_justified(long_form, width, out);
  }
  return right_justified(negative ? "-Inf" : "Inf", width, out);
}

__extension__ typedef unsigned __int128 uint128;

constexpr std::uint64_t powers_of_ten[] = {1,      10,      100,      1000,      10000,
                                           100000, 1000000, 10000000, 100000000, 1000000000};

// |value| * 10^decimals rounded to the nearest integer, ties to even, from the
// exact binary value: the digits "%.*f" prints, without the point. False when
// the result does not fit in 64 bits (the caller then takes the slow road).
bool scaled_exactly(double magnitude, int decimals, std::uint64_t& scaled) {
  if (decimals < 0 || decimals > 9) return false;
  if (magnitude == 0.0) {
    scaled = 0;
    return true;
  }
  auto bits = std::bit_cast<std::uint64_t>(magnitude);
  int biased_exponent = static_cast<int>(bits >> 52);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int shift = 1074;  // magnitude = mantissa * 2^-shift
  if (biased_exponent != 0) {
    mantissa |= std::uint64_t{1} << 52;
    shift = 1075 - biased_exponent;
  }
  uint128 product = static_cast<uint128>(mantissa) * powers_of_ten[decimals];  // < 2^83
  if (shift <= 0) {
    if (shift < -40) return false;
    product <<= -shift;
  } else if (shift >= 100) {
    product = 0;  // below half a unit of the last decimal
  } else {
    uint128 quotient = product >> shift;
    uint128 remainder = product - (quotient << shift);
    uint128 half = static_cast<uint128>(1) << (shift - 1);
    if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
    product = quotient;
  }
  if ((product >> 64) != 0) return false;
  scaled = static_cast<std::uint64_t>(product);
  return true;
}

// Writes the digits of |value| with `decimals` decimals at `text` and
// returns their end. `text` has room for 330 characters.
char* fixed_digits(double magnitude, int decimals, char* text, char* limit) {
  std::uint64_t scaled = 0;
  if (!scaled_exactly(magnitude, decimals, scaled)) {
    char* end = std::to_chars(text, limit, magnitude, std::chars_format::fixed, decimals).ptr;
    if (decimals == 0) *end++ = '.';
    return end;
  }
  std::uint64_t unit = powers_of_ten[decimals];
  char* end = std::to_chars(text, limit, scaled / unit).ptr;
  *end++ = '.';
  std::uint64_t fraction = scaled % unit;
  for (int i = decimals - 1; i >= 0; --i) {
    end[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return end + decimals;
}

}  // namespace

std::string_view render_integer(std::int64_t value, int width, std::span<char> out) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return right_justified({text, static_cast<std::size_t>(end - text)}, width, out);
}

std::string_view render_fixed(double value, int width, int decimals, std::span<char> out) {
  if (!std::isfinite(value)) return non_finite(value, width, out);
  // The largest double has 309 digits before the point.
  char digits[320 + max_field_width];
  char* text = digits + 1;
  char* end = fixed_digits(std::fabs(value), decimals, text, digits + sizeof digits - 1);
  bool shows_non_zero = std::find_if(text, end, [](char c) { return c >= '1' && c <= '9'; }) != end;
  if (std::signbit(value) && shows_non_zero) *--text = '-';
  std::string_view rendered(text, static_cast<std::size_t>(end - text));
  if (rendered.size() == static_cast<std::size_t>(width) + 1 && rendered.front() == '0') {
    rendered.remove_prefix(1);
  }
  return right_justified(rendered, width, out);
}

}  // namespace tolbe
