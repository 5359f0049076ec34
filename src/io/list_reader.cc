#include "io/list_reader.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace tolbe {
namespace {

constexpr int max_significant_digits = 40;
constexpr long max_exponent_digits_value = 99'999'999;

constexpr const char* end_of_file = "end of file";
constexpr const char* incomprehensible = "incomprehensible list input";
constexpr const char* unexpected_character = "read unexpected character";

bool is_digit(int c) {
  return c >= '0' && c <= '9';
}
bool is_blank_or_tab(int c) {
  return c == ' ' || c == '\t';
}
bool is_white(int c) {
  return is_blank_or_tab(c) || c == '\n';
}
bool is_exponent_letter(int c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

// The significant digits of a mantissa and the power of ten they stand at:
// the number is (negative ? -1 : 1) * digits * 10^exponent.
struct Mantissa {
  char digits[max_significant_digits];
  int retained = 0;
  long significant = 0;  // all significant digits, retained or not
  long exponent = 0;
  bool has_digit = false;
  bool negative = false;

  void add_before_point(int c) {
    has_digit = true;
    if (retained == 0 && c == '0') return;
    ++significant;
    if (retained < max_significant_digits) {
      digits[retained++] = static_cast<char>(c);
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
      digits[retained++] = static_cast<char>(c);
      --exponent;
    }
  }
};

// Saturating to the 32-bit range keeps a huge count from wrapping.
std::int32_t saturate_to_int32(double value) {
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);  // truncates toward zero
}

std::int32_t repeat_count(const Mantissa& m) {
  double count = 0.0;
  for (int i = 0; i < m.retained; ++i) count = count * 10.0 + (m.digits[i] - '0');
  return saturate_to_int32(count);
}

// Correctly rounded, as a conforming strtod would give for the same digits;
// out of range gives an infinity or a zero of the field's sign.
double to_double(Mantissa m, long field_exponent) {
  if (m.retained == 0) return 0.0;
  while (m.digits[m.retained - 1] == '0') {
    --m.retained;
    ++m.exponent;
  }
  long exponent = m.exponent + field_exponent;
  char text[max_significant_digits + 32];
  char* out = text;
  if (m.negative) *out++ = '-';
  for (int i = 0; i < m.retained; ++i) *out++ = m.digits[i];
  if (exponent != 0) {
    *out++ = 'e';
    out = std::to_chars(out, text + sizeof text, exponent).ptr;
  }
  double value = 0.0;
  auto result = std::from_chars(text, out, value);
  if (result.ec == std::errc::result_out_of_range) {
    bool huge = m.retained + exponent > 0;
    value = huge ? std::numeric_limits<double>::infinity() : 0.0;
    if (m.negative) value = -value;
  }
  return value;
}

}  // namespace

void ListReader::fail(const char* context, const char* message) {
  if (failed_) return;
  failed_ = true;
  error_ = ReadError{context, message, 0};
}

int ListReader::peek() {
  int c = input_.peek();
  if (c == InputStream::end_of_input) end_met_ = true;
  if (c == InputStream::read_failure && !failed_) {
    failed_ = true;
    error_ = ReadError{"list in", nullptr, input_.error_number()};
  }
  return c;
}

int ListReader::get() {
  int c = peek();
  if (c >= 0) input_.get();
  return c;
}

void ListReader::begin_statement() {
  slash_seen_ = false;
  copies_left_ = 0;
  repeat_is_null_ = false;
  if (!failed_ && end_met_) fail("read start", end_of_file);
}

void ListReader::end_statement() {
  copies_left_ = 0;
  if (failed_) return;
  int c;
  do {
    c = get();
  } while (c >= 0 && c != '\n');
}

void ListReader::read(std::int32_t& item) {
  if (failed_) return;
  if (next_item(ItemKind::integer) == Scan::value) item = saturate_to_int32(value_);
}

void ListReader::read(double& item) {
  if (failed_) return;
  if (next_item(ItemKind::real) == Scan::value) item = value_;
}

void ListReader::skip_separator() {
  while (is_blank_or_tab(peek())) get();
  if (peek() == ',') get();
}

ListReader::Scan ListReader::next_item(ItemKind kind) {
  if (slash_seen_) return Scan::null;
  if (copies_left_ > 0) {
    --copies_left_;
    if (copies_left_ == 0) skip_separator();
    return repeat_is_null_ ? Scan::null : Scan::value;
  }
  int c = peek();
  while (is_white(c)) {
    get();
    c = peek();
  }
  if (c == InputStream::end_of_input) fail("list in", end_of_file);
  if (failed_) return Scan::failed;
  if (c == '/') {
    get();
    slash_seen_ = true;
    return Scan::null;
  }
  if (c == ',') {
    get();
    return Scan::null;
  }
  Scan result = scan_number(kind, false);
  if (result != Scan::failed && copies_left_ == 0) skip_separator();
  return failed_ ? Scan::failed : result;
}

// One field: a number, or a repeat count r* followed by a number or by
// nothing. `after_repeat` is set for the number behind the asterisk.
ListReader::Scan ListReader::scan_number(ItemKind kind, bool after_repeat) {
  Mantissa m;
  int c = peek();
  if (c == '+' || c == '-') {
    m.negative = c == '-';
    get();
  }
  while (is_digit(c = peek())) m.add_before_point(get());

  if (c == '*' && m.has_digit && !after_repeat) {
    get();
    if (m.negative || m.significant == 0 || m.significant > max_significant_digits) {
      fail("bad repetition count", incomprehensible);
      return Scan::failed;
    }
    std::int32_t count = repeat_count(m);
    int next = peek();
    Scan repeated = Scan::null;
    if (!(is_white(next) || next == ',' || next == '/' || next < 0)) {
      repeated = scan_number(kind, true);
      if (repeated == Scan::failed) return Scan::failed;
    }
    copies_left_ = count - 1;
    repeat_is_null_ = repeated == Scan::null;
    return repeated;
  }

  if (c == '.') {
    if (kind == ItemKind::integer) {
      fail("invalid integer", unexpected_character);
      return Scan::failed;
    }
    get();
    while (is_digit(c = peek())) m.add_after_point(get());
  }

  if (!m.has_digit) {
    if (c == ',' || c == '/' || (after_repeat && is_white(c))) return Scan::null;
    if (!failed_) fail("invalid number", incomprehensible);
    return Scan::failed;
  }

  long field_exponent = 0;
  if (!scan_exponent(kind, field_exponent)) return Scan::failed;
  if (failed_) return Scan::failed;
  value_ = to_double(m, field_exponent);
  return Scan::value;
}

// The exponent after a mantissa with digits, if one follows: a letter E, e,
// D or d with an optional sign, or a sign alone, then digits. False after a
// failure.
bool ListReader::scan_exponent(ItemKind kind, long& exponent) {
  int c = peek();
  if (is_exponent_letter(c)) {
    if (kind == ItemKind::integer) {
      fail("invalid integer", unexpected_character);
      return false;
    }
    get();
    c = peek();
  } else if (c != '+' && c != '-') {
    return !failed_;
  }
  bool negative = c == '-';
  if (c == '+' || c == '-') get();
  if (!is_digit(peek())) {
    fail("exponent field", incomprehensible);
    return false;
  }
  while (is_digit(c = peek())) {
    get();
    if (exponent <= max_exponent_digits_value) exponent = exponent * 10 + (c - '0');
  }
  if (exponent > max_exponent_digits_value) {
    fail("exponent field", incomprehensible);
    return false;
  }
  if (negative) exponent = -exponent;
  return !failed_;
}

}  // namespace tolbe
