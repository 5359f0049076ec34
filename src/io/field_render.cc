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

// |value| * 10^decimals rounded to the nearest integer, computed in double
// precision: 10^decimals is exact, so the product is off by at most half a
// unit in its last place (below 2^-22 while it is below 2^31). That error can
// change the rounding only within it of a tie, so values within a generous
// guard of a tie are left to the exact road. False when not settled here.
bool scaled_quickly(double magnitude, int decimals, std::uint64_t& scaled) {
  static constexpr double exact_powers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  static constexpr double tie_guard = 0x1p-20;
  if (decimals < 0 || decimals > 9) return false;
  double product = magnitude * exact_powers[decimals];
  if (!(product < 0x1p31)) return false;
  auto whole = static_cast<std::uint64_t>(product);
  double fraction = product - static_cast<double>(whole);  // exact
  if (fraction > 0.5 - tie_guard && fraction < 0.5 + tie_guard) return false;
  scaled = whole + (fraction > 0.5 ? 1 : 0);
  return true;
}

// Writes the text of `scaled` / 10^decimals ("0.0000" for zero) backwards,
// ending just before `end`, and returns its start. Room for 21 + decimals.
char* write_scaled_backwards(std::uint64_t scaled, int decimals, char* end) {
  char* p = end;
  for (int i = 0; i < decimals; ++i) {
    *--p = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
  }
  *--p = '.';
  do {
    *--p = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
  } while (scaled != 0);
  return p;
}

// Right-justifies `text` (already known to fit) in `width` columns of `out`.
std::string_view place(const char* text, std::size_t size, int width, std::span<char> out) {
  std::size_t w = static_cast<std::size_t>(width);
  std::size_t pad = w - size;
  char* field = out.data();
  for (std::size_t i = 0; i < pad; ++i) field[i] = ' ';
  for (std::size_t i = 0; i < size; ++i) field[pad + i] = text[i];
  return {field, w};
}

// The fixed-point text of a magnitude beyond 64-bit scaled integers, from the
// library's exact conversion: written at `text`, returning its end.
char* wide_fixed_digits(double magnitude, int decimals, char* text, char* limit) {
  char* end = std::to_chars(text, limit, magnitude, std::chars_format::fixed, decimals).ptr;
  if (decimals == 0) *end++ = '.';
  return end;
}

}  // namespace

std::string_view render_integer(std::int64_t value, int width, std::span<char> out) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return right_justified({text, static_cast<std::size_t>(end - text)}, width, out);
}

std::string_view render_fixed(double value, int width, int decimals, std::span<char> out) {
  if (!std::isfinite(value)) [[unlikely]]
    return non_finite(value, width, out);
  double magnitude = std::fabs(value);
  std::uint64_t scaled = 0;
  // The largest double has 309 digits before the point.
  char digits[320 + max_field_width];
  char* end = digits + sizeof digits;
  char* text;
  bool shows_non_zero;
  if (scaled_quickly(magnitude, decimals, scaled) || scaled_exactly(magnitude, decimals, scaled)) {
    text = write_scaled_backwards(scaled, decimals, end);
    shows_non_zero = scaled != 0;
  } else {
    text = digits + 1;
    end = wide_fixed_digits(magnitude, decimals, text, end - 1);
    shows_non_zero = std::find_if(text, end, [](char c) { return c >= '1' && c <= '9'; }) != end;
  }
  if (std::signbit(value) && shows_non_zero) *--text = '-';
  auto size = static_cast<std::size_t>(end - text);
  auto w = static_cast<std::size_t>(width);
  if (size == w + 1 && *text == '0') {
    ++text;
    --size;
  }
  if (size > w) return right_justified({text, size}, width, out);
  return place(text, size, width, out);
}

}  // namespace tolbe
