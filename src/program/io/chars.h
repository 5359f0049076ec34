#pragma once

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace tolbe {

// Conversions between doubles and text. libc++ 13 (Emscripten's, for the web
// page) has no floating-point from_chars or to_chars; there the C library's
// strtod and printf stand in, which round correctly as well.

// std::from_chars for a double in the general format, by strtod: the number
// at the start of [first, last), without leading blanks or '+', and without
// what from_chars would not read (hexadecimal). On result_out_of_range
// `value` is left as it was. In the C locale (a program that never calls
// setlocale).
inline std::from_chars_result parse_double_by_strtod(const char* first, const char* last,
                                                     double& value) {
  const char* digits = first;
  if (digits != last && *digits == '-') ++digits;
  if (digits == last) return {first, std::errc::invalid_argument};
  unsigned char lead = static_cast<unsigned char>(*digits);
  if (!std::isdigit(lead) && lead != '.' && !std::isalpha(lead)) {
    return {first, std::errc::invalid_argument};
  }
  // from_chars reads no hexadecimal in the general format: "0x1p3" is 0.
  if (last - digits >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    value = first == digits ? 0.0 : -0.0;
    return {digits + 1, std::errc()};
  }
  std::string text(first, last);  // strtod needs the end marked
  char* end = nullptr;
  errno = 0;
  double read = std::strtod(text.c_str(), &end);
  std::size_t used = static_cast<std::size_t>(end - text.c_str());
  if (used == 0) return {first, std::errc::invalid_argument};
  if (errno == ERANGE && (read == 0.0 || std::isinf(read))) {
    return {first + used, std::errc::result_out_of_range};
  }
  value = read;
  return {first + used, std::errc()};
}

// Where the correctly rounded `digits`-digit text in `scientific` does not
// read back as `value`, one of its neighbours in the last digit may: below a
// power of two the doubles lie twice as close as above it, so the interval
// that reads back is not centred on the value. Writes the neighbour that
// does into `scientific` and returns true, or returns false.
inline bool neighbour_reads_back(char* scientific, std::size_t size, int digits, double value) {
  bool negative = scientific[0] == '-';
  std::uint64_t m = 0;
  const char* c = scientific + (negative ? 1 : 0);
  for (; *c != 'e'; ++c) {
    if (*c != '.') m = m * 10 + static_cast<std::uint64_t>(*c - '0');
  }
  int exponent = std::atoi(c + 1);
  std::uint64_t lowest = 1;
  for (int i = 1; i < digits; ++i) lowest *= 10;  // 10^(digits - 1)
  for (int step : {1, -1}) {
    std::uint64_t n = step > 0 ? m + 1 : m - 1;
    int e = exponent;
    if (n == lowest * 10) {  // 9.99 + 1 = 10.00: one digit more
      n = lowest;
      ++e;
    }
    if (n < lowest) continue;  // fewer digits, tried before
    char text[24];
    std::snprintf(text, sizeof text, "%0*llu", digits, static_cast<unsigned long long>(n));
    char candidate[40];
    if (digits == 1) {
      std::snprintf(candidate, sizeof candidate, "%s%ce%+03d", negative ? "-" : "", text[0], e);
    } else {
      std::snprintf(candidate, sizeof candidate, "%s%c.%se%+03d", negative ? "-" : "", text[0],
                    text + 1, e);
    }
    if (std::strtod(candidate, nullptr) == value) {
      std::snprintf(scientific, size, "%s", candidate);
      return true;
    }
  }
  return false;
}

// std::to_chars(first, last, value): the shortest text that reads back as
// `value`, in fixed or scientific notation, whichever is shorter (fixed on a
// tie). Without floating-point to_chars, printf's correctly rounded digits
// at the fewest that read back stand in.
inline std::to_chars_result format_shortest_by_printf(char* first, char* last, double value) {
  char text[64];
  int size = 0;
  if (!std::isfinite(value)) {
    size = std::snprintf(text, sizeof text, "%s%s", std::signbit(value) ? "-" : "",
                         std::isnan(value) ? "nan" : "inf");
  } else if (value == 0.0) {
    size = std::snprintf(text, sizeof text, "%s", std::signbit(value) ? "-0" : "0");
  } else {
    char scientific[40];
    for (int digits = 1; digits <= 17; ++digits) {
      std::snprintf(scientific, sizeof scientific, "%.*e", digits - 1, value);
      if (std::strtod(scientific, nullptr) == value) break;
      if (neighbour_reads_back(scientific, sizeof scientific, digits, value)) break;
    }
    // scientific: [-]d[.ddd]e(+|-)xx
    const char* mantissa = scientific + (value < 0.0 ? 1 : 0);
    const char* e = std::strchr(mantissa, 'e');
    int exponent = std::atoi(e + 1);
    char digit_text[20];
    int count = 0;
    for (const char* c = mantissa; c != e; ++c) {
      if (*c != '.') digit_text[count++] = *c;
    }
    char fixed[400];
    int f = 0;
    if (value < 0.0) fixed[f++] = '-';
    if (exponent >= 0) {
      for (int i = 0; i < count || i <= exponent; ++i) {
        if (i == exponent + 1) fixed[f++] = '.';
        fixed[f++] = i < count ? digit_text[i] : '0';
      }
    } else {
      fixed[f++] = '0';
      fixed[f++] = '.';
      for (int i = 0; i < -exponent - 1; ++i) fixed[f++] = '0';
      for (int i = 0; i < count; ++i) fixed[f++] = digit_text[i];
    }
    int scientific_size = static_cast<int>(std::strlen(scientific));
    if (f <= scientific_size && exponent + 1 > count) {
      // A whole number past its shortest digits: to_chars writes it exactly
      // (9223372036854775808, not 9223372036854776000), as %.0f does.
      f = std::snprintf(fixed, sizeof fixed, "%.0f", value);
    }
    if (f <= scientific_size) {
      std::memcpy(text, fixed, static_cast<std::size_t>(f));
      size = f;
    } else {
      std::memcpy(text, scientific, static_cast<std::size_t>(scientific_size));
      size = scientific_size;
    }
  }
  if (size > last - first) return {last, std::errc::value_too_large};
  std::memcpy(first, text, static_cast<std::size_t>(size));
  return {first + size, std::errc()};
}

// std::to_chars(first, last, value, std::chars_format::fixed, decimals):
// exact, as printf's %f is.
inline std::to_chars_result format_fixed_by_printf(char* first, char* last, double value,
                                                   int decimals) {
  char text[400];
  int size = std::snprintf(text, sizeof text, "%.*f", decimals, value);
  if (size < 0 || size >= static_cast<int>(sizeof text) || size > last - first) {
    return {last, std::errc::value_too_large};
  }
  std::memcpy(first, text, static_cast<std::size_t>(size));
  return {first + size, std::errc()};
}

// The standard library's conversions where it has them; the stand-ins above,
// which the tests compare with them, where it does not.
#if defined(_LIBCPP_VERSION)
inline std::from_chars_result parse_double(const char* first, const char* last, double& value) {
  return parse_double_by_strtod(first, last, value);
}
inline std::to_chars_result format_shortest(char* first, char* last, double value) {
  return format_shortest_by_printf(first, last, value);
}
inline std::to_chars_result format_fixed(char* first, char* last, double value, int decimals) {
  return format_fixed_by_printf(first, last, value, decimals);
}
#else
inline std::from_chars_result parse_double(const char* first, const char* last, double& value) {
  return std::from_chars(first, last, value);
}
inline std::to_chars_result format_shortest(char* first, char* last, double value) {
  return std::to_chars(first, last, value);
}
inline std::to_chars_result format_fixed(char* first, char* last, double value, int decimals) {
  return std::to_chars(first, last, value, std::chars_format::fixed, decimals);
}
#endif

}  // namespace tolbe
