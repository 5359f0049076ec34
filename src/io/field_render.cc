#include "io/field_render.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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
  auto end = std::to_chars(text, digits + sizeof digits, std::fabs(value),
                           std::chars_format::fixed, decimals)
                 .ptr;
  if (decimals == 0) *end++ = '.';
  bool shows_non_zero =
      std::find_if(text, end, [](char c) { return c >= '1' && c <= '9'; }) != end;
  if (std::signbit(value) && shows_non_zero) *--text = '-';
  std::string_view rendered(text, static_cast<std::size_t>(end - text));
  if (rendered.size() == static_cast<std::size_t>(width) + 1 && rendered.front() == '0') {
    rendered.remove_prefix(1);
  }
  return right_justified(rendered, width, out);
}

}  // namespace tolbe
