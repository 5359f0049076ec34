#include "io/field_render.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "io/chars.h"

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

// The layout of an IEEE binary64 value.
constexpr int significand_bits = 52;  // stored, without the implicit leading 1
constexpr int exponent_bias = 1023;
// A subnormal is significand * 2^-1074; a normal value with biased exponent e
// is (2^52 + significand) * 2^(e - 1075).
constexpr int subnormal_shift = exponent_bias + significand_bits - 1;
constexpr int normal_shift_base = exponent_bias + significand_bits;

// |value| * 10^decimals rounded to the nearest integer, ties to even, from the
// exact binary value: the digits "%.*f" prints, without the point. False when
// the result does not fit in 64 bits (the caller then takes the wide road).
//
// Why 128 bits are enough: the significand is below 2^53 and 10^9 below 2^30,
// so the product is below 2^83. A left shift (large values) is taken only up
// to 40 places, keeping it below 2^123; anything larger cannot fit 64 bits
// after all. A right shift of 100 places or more leaves less than half a unit
// (2^83 / 2^100), which rounds to 0.
bool scaled_exactly(double magnitude, int decimals, std::uint64_t& scaled) {
  if (decimals < 0 || decimals > 9) return false;
  if (magnitude == 0.0) {
    scaled = 0;
    return true;
  }
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof magnitude);
  std::memcpy(&bits, &magnitude, sizeof bits);  // std::bit_cast, which libc++ 13 lacks
  int biased_exponent = static_cast<int>(bits >> significand_bits);
  std::uint64_t significand = bits & ((std::uint64_t{1} << significand_bits) - 1);
  int shift = subnormal_shift;  // magnitude = significand * 2^-shift
  if (biased_exponent != 0) {
    significand |= std::uint64_t{1} << significand_bits;
    shift = normal_shift_base - biased_exponent;
  }
  uint128 product = static_cast<uint128>(significand) * powers_of_ten[decimals];
  if (shift <= 0) {
    if (shift < -40) return false;
    product <<= -shift;
  } else if (shift >= 100) {
    product = 0;
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

constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the text of `scaled` / 10^decimals ("0.0000" for zero) backwards,
// ending just before `end`, and returns its start. Room for 21 + decimals.
// 32-bit division by a constant is much cheaper, hence the template.
template <typename Unsigned>
inline __attribute__((always_inline)) char* write_scaled_backwards(Unsigned scaled, int decimals,
                                                                   char* end) {
  char* p = end;
  int left = decimals;
  for (; left >= 2; left -= 2) {
    p -= 2;
    std::memcpy(p, &digit_pairs[2 * (scaled % 100)], 2);
    scaled /= 100;
  }
  if (left == 1) {
    *--p = static_cast<char>('0' + scaled % 10);
    scaled /= 10;
  }
  *--p = '.';
  while (scaled >= 100) {
    p -= 2;
    std::memcpy(p, &digit_pairs[2 * (scaled % 100)], 2);
    scaled /= 100;
  }
  if (scaled >= 10) {
    p -= 2;
    std::memcpy(p, &digit_pairs[2 * scaled], 2);
  } else {
    *--p = static_cast<char>('0' + scaled);
  }
  return p;
}

// Blanks over `size` characters; fixed-size stores compile to a few moves,
// where a call with a variable size costs as much as the rendering.
void fill_blanks(char* out, std::size_t size) {
  static constexpr char blanks[] = "        ";
  if (size >= 8 && size <= 16) {
    std::memcpy(out, blanks, 8);
    std::memcpy(out + size - 8, blanks, 8);
  } else {
    std::memset(out, ' ', size);
  }
}

constexpr std::uint32_t powers_of_ten_32[] = {1,      10,      100,      1000,      10000,
                                              100000, 1000000, 10000000, 100000000, 1000000000};

// The common field: a value that scales below 2^31 units, away from a tie,
// whose text fits. Writes exactly `width` characters at `out`; false (with
// `out` untouched) for everything else. The decimals are a template argument
// so that the digit loops unroll.
//
// |value| * 10^decimals is formed in double precision: 10^decimals is exact,
// so the product is off by at most half a unit in its last place, at most
// 2^-23 below 2^31. Such an error can change the rounding only that close to
// a tie, so values within a guard of 2^-20 of one go the exact road.
template <int Decimals>
bool render_short_fixed(double value, std::size_t width, char* out) {
  static constexpr double tie_guard = 0x1p-20;
  double product = std::fabs(value) * static_cast<double>(powers_of_ten_32[Decimals]);
  if (!(product < 0x1p31)) return false;
  auto whole = static_cast<std::uint32_t>(static_cast<std::int32_t>(product));
  double fraction = product - static_cast<double>(whole);  // exact
  if (fraction > 0.5 - tie_guard && fraction < 0.5 + tie_guard) return false;
  std::uint32_t scaled = whole + (fraction > 0.5 ? 1 : 0);
  std::uint32_t integer_part = scaled / powers_of_ten_32[Decimals];
  std::size_t integer_digits = 1;
  while (integer_digits < 10 && integer_part >= powers_of_ten_32[integer_digits]) ++integer_digits;
  bool minus = std::signbit(value) && scaled != 0;
  std::size_t size = (minus ? 1 : 0) + integer_digits + 1 + Decimals;
  if (size > width) return false;
  fill_blanks(out, width);
  char* start = write_scaled_backwards(scaled, Decimals, out + width);
  if (minus) start[-1] = '-';
  return true;
}

// The fixed-point text of a magnitude beyond 64-bit scaled integers, from the
// library's exact conversion: written at `text`, returning its end.
char* wide_fixed_digits(double magnitude, int decimals, char* text, char* limit) {
  char* end = format_fixed(text, limit, magnitude, decimals).ptr;
  if (decimals == 0) *end++ = '.';
  return end;
}

}  // namespace

ShortFixedRenderer short_fixed_renderer(int decimals) {
  static constexpr ShortFixedRenderer renderers[] = {
      render_short_fixed<0>, render_short_fixed<1>, render_short_fixed<2>, render_short_fixed<3>,
      render_short_fixed<4>, render_short_fixed<5>, render_short_fixed<6>, render_short_fixed<7>,
      render_short_fixed<8>, render_short_fixed<9>};
  if (decimals < 0 || decimals > 9) return nullptr;
  return renderers[decimals];
}

std::string_view render_integer(std::int64_t value, int width, std::span<char> out) {
  auto w = static_cast<std::size_t>(width);
  char text[24];
  char* end = text + sizeof text;
  char* p = end;
  // The magnitude as unsigned, so that the most negative value has one too.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  auto size = static_cast<std::size_t>(end - p);
  if (size > w) return right_justified({p, size}, width, out);
  fill_blanks(out.data(), w - size);
  for (std::size_t i = 0; i < size; ++i) out[w - size + i] = p[i];
  return {out.data(), w};
}

namespace {

// The exact road, for every value the short road does not settle: ties,
// magnitudes of 2^31 units and more, and texts that do not fit the field.
[[gnu::noinline]] std::string_view render_fixed_general(double value, int width, int decimals,
                                                        std::span<char> out) {
  double magnitude = std::fabs(value);
  // The largest double has 309 digits before the point.
  char digits[320 + max_field_width];
  char* end = digits + sizeof digits;
  char* text;
  bool shows_non_zero;
  std::uint64_t scaled = 0;
  if (scaled_exactly(magnitude, decimals, scaled)) {
    text = write_scaled_backwards(scaled, decimals, end);
    shows_non_zero = scaled != 0;
  } else {
    text = digits + 1;
    end = wide_fixed_digits(magnitude, decimals, text, end - 1);
    shows_non_zero = std::find_if(text, end, [](char c) { return c >= '1' && c <= '9'; }) != end;
  }
  if (std::signbit(value) && shows_non_zero) *--text = '-';
  auto size = static_cast<std::size_t>(end - text);
  if (size == static_cast<std::size_t>(width) + 1 && *text == '0') {
    ++text;
    --size;
  }
  return right_justified({text, size}, width, out);
}

}  // namespace

std::string_view render_fixed(double value, int width, int decimals, std::span<char> out) {
  if (!std::isfinite(value)) [[unlikely]]
    return non_finite(value, width, out);
  ShortFixedRenderer short_road = short_fixed_renderer(decimals);
  if (short_road != nullptr && short_road(value, static_cast<std::size_t>(width), out.data())) {
    return {out.data(), static_cast<std::size_t>(width)};
  }
  return render_fixed_general(value, width, decimals, out);
}

std::string_view render_fixed_exact(double value, int width, int decimals, std::span<char> out) {
  if (!std::isfinite(value)) return non_finite(value, width, out);
  return render_fixed_general(value, width, decimals, out);
}

}  // namespace tolbe
