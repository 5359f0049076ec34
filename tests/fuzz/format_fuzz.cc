// The format engine on arbitrary format strings and values, and the I and F
// fields against snprintf: the first byte picks which.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "io/field_render.h"
#include "io/format_writer.h"
#include "support/string_sink.h"

namespace {

using namespace tolbe;

// The F field as its rules state it, built on snprintf's digits.
std::string fixed_by_rules(double value, int width, int decimals) {
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, std::fabs(value));
  std::string text = digits;
  if (decimals == 0) text += '.';
  if (std::signbit(value) && text.find_first_of("123456789") != std::string::npos) {
    text = std::string("-") + text;
  }
  auto w = static_cast<std::size_t>(width);
  if (text.size() == w + 1 && text[0] == '0') text.erase(0, 1);
  if (text.size() > w) return std::string(w, '*');
  return std::string(w - text.size(), ' ') + text;
}

std::string integer_by_rules(long long value, int width) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%lld", value);
  std::string text = digits;
  auto w = static_cast<std::size_t>(width);
  if (text.size() > w) return std::string(w, '*');
  return std::string(w - text.size(), ' ') + text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  int mode = data[0] % 3;
  ++data;
  --size;
  if (mode == 0) {
    std::string_view format(reinterpret_cast<const char*>(data), size);
    testing_support::StringSink sink;
    write_formatted_at_run_time(sink, format,
                                {FormatItem(std::int32_t{-42}), FormatItem(3.25), FormatItem("ab"),
                                 FormatItem(1.5f), FormatItem(-0.0), FormatItem(1e300)});
    return 0;
  }
  if (size < 10) return 0;
  char out[max_field_width];
  if (mode == 1) {
    double value;
    std::memcpy(&value, data, sizeof value);
    int width = 1 + data[8] % 40;
    int decimals = data[9] % 12;
    if (decimals >= width) decimals = width - 1;
    std::string got(render_fixed(value, width, decimals, out));
    if (got.size() != static_cast<std::size_t>(width)) std::abort();
    if (std::isfinite(value) && got != fixed_by_rules(value, width, decimals)) std::abort();
    if (std::isfinite(value) &&
        got != std::string(render_fixed_exact(value, width, decimals, out))) {
      std::abort();
    }
    return 0;
  }
  std::int64_t value;
  std::memcpy(&value, data, sizeof value);
  int width = 1 + data[8] % 30;
  std::string got(render_integer(value, width, out));
  if (got != integer_by_rules(static_cast<long long>(value), width)) std::abort();
  return 0;
}
