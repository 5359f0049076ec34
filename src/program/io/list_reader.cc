#include "io/list_reader.h"

#include <cmath>
#include <limits>

#include "io/decimal.h"

namespace tolbe {
namespace {

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

// The common field, [sign] digits [. digits] with at most 19 digits, read in
// place when it ends within [p, end) at a character that cannot continue a
// field: sets `value` and moves `p` past the field. Anything else (a repeat
// count, an exponent, a longer field, or a field that runs to `end`) returns
// false for the general scan.
[[gnu::always_inline]] inline bool scan_plain(const char*& field, const char* end, bool integer,
                                              double& value) {
  const char* p = field;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  std::uint64_t digits = 0;
  const char* first_digit = p;
  while (p < end && is_digit(*p)) digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
  // A field lies within the input's buffer: its length fits a long, 32 bits
  // on Windows.
  long count = static_cast<long>(p - first_digit);
  long after_point = 0;
  if (p < end && *p == '.') {
    if (integer) return false;
    const char* fraction = ++p;
    while (p < end && is_digit(*p)) digits = digits * 10 + static_cast<unsigned>(*p++ - '0');
    after_point = static_cast<long>(p - fraction);
    count += after_point;
  }
  // Up to 19 digits, leading zeros included, cannot overflow 64 bits.
  if (count == 0 || count > DecimalMantissa::max_leading_digits || p == end) return false;
  char c = *p;
  if (c == '*' || c == '.' || c == '+' || c == '-' || is_exponent_letter(c)) return false;
  if (digits > (std::uint64_t{1} << 53)) return false;
  value = scale_exactly_representable(digits, -after_point, negative);
  field = p;
  return true;
}

// Saturating to the 32-bit range keeps a huge count from wrapping.
std::int32_t saturate_to_int32(double value) {
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);  // truncates toward zero
}

std::int32_t repeat_count(const DecimalMantissa& m) {
  double count = 0.0;
  for (int i = 0; i < m.retained; ++i) count = count * 10.0 + (m.digits[i] - '0');
  return saturate_to_int32(count);
}

}  // namespace

void ListReader::fail(const char* context, const char* message) {
  if (failed_) return;
  failed_ = true;
  error_ = ReadError{context, message, 0};
}

void ListReader::note_end_or_failure(int c) {
  if (c == InputStream::end_of_input) end_met_ = true;
  if (c == InputStream::read_failure && !failed_) {
    failed_ = true;
    error_ = ReadError{"list in", nullptr, input_.error_number()};
  }
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
  for (int c = peek(); c >= 0; c = peek()) {
    advance();
    if (c == '\n') break;
  }
}

void ListReader::read(std::int32_t& item) {
  if (failed_) return;
  if (next_item(ItemKind::integer)) item = saturate_to_int32(value_);
}

void ListReader::read_general(double& item) {
  if (next_item(ItemKind::real)) item = value_;
}

// The common item, read in place: white space, a plain field and its
// separator, all within the buffer. Consumes only white space when it
// returns false, which the general road would skip all the same.
bool ListReader::read_plain_in_place(double& item) {
  const char* const start = input_.buffered_begin();
  const char* const end = input_.buffered_end();
  const char* p = start;
  while (p < end && (*p == ' ' || *p == '\n' || *p == '\t')) ++p;
  if (!scan_plain(p, end, false, item)) {
    input_.consume_buffered(static_cast<std::size_t>(p - start));
    return false;
  }
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  bool settled = p < end;
  if (settled && *p == ',') ++p;
  input_.consume_buffered(static_cast<std::size_t>(p - start));
  if (!settled) skip_separator();  // the separator may go on past the buffer
  return true;
}

void ListReader::skip_separator() {
  int c = peek();
  while (is_blank_or_tab(c)) {
    advance();
    c = peek();
  }
  if (c == ',') advance();
}

bool ListReader::next_item(ItemKind kind) {
  if (slash_seen_) return false;
  if (copies_left_ > 0) {
    --copies_left_;
    if (copies_left_ == 0) skip_separator();
    return !repeat_is_null_;
  }
  int c = peek();
  while (is_white(c)) {
    advance();
    c = peek();
  }
  field_offset_ = input_.offset();
  if (c == InputStream::end_of_input) fail("list in", end_of_file);
  if (failed_) return false;
  if (c == '/') {
    advance();
    slash_seen_ = true;
    return false;
  }
  if (c == ',') {
    advance();
    return false;
  }
  bool has_value = scan_plain_field(kind) || scan_field(kind);
  if (failed_) return false;
  if (copies_left_ == 0) skip_separator();
  return has_value;
}

bool ListReader::scan_plain_field(ItemKind kind) {
  const char* p = input_.buffered_begin();
  if (!scan_plain(p, input_.buffered_end(), kind == ItemKind::integer, value_)) return false;
  input_.consume_buffered(static_cast<std::size_t>(p - input_.buffered_begin()));
  return true;
}

// One field, scanned in one pass: a number, or a repeat count r* followed
// by the number to repeat or by nothing (r nulls). True when the field has a
// value, which is then in value_; a failure goes through fail() alone.
bool ListReader::scan_field(ItemKind kind) {
  bool after_repeat = false;
  for (;;) {
    DecimalMantissa m;
    int c = peek();
    if (c == '+' || c == '-') {
      m.negative = c == '-';
      advance();
      c = peek();
    }
    while (is_digit(c)) {
      m.add_before_point(c);
      advance();
      c = peek();
    }

    // Digits without a point directly before an asterisk are a repeat count,
    // and so is an asterisk with no digits at all: a count that cannot be one.
    if (c == '*' && !after_repeat) {
      advance();
      if (m.negative || m.significant == 0 ||
          m.significant > DecimalMantissa::max_significant_digits) {
        fail("bad repetition count", incomprehensible);
        return false;
      }
      copies_left_ = repeat_count(m) - 1;
      repeat_is_null_ = true;
      int next = peek();
      if (is_white(next) || next == ',' || next == '/') return false;
      // Otherwise (the end of the input included) the field starts over
      // with the number to repeat.
      after_repeat = true;
      continue;
    }

    if (c == '.') {
      if (kind == ItemKind::integer) {
        fail("invalid integer", unexpected_character);
        return false;
      }
      advance();
      c = peek();
      while (is_digit(c)) {
        m.add_after_point(c);
        advance();
        c = peek();
      }
    }

    long field_exponent = scan_exponent(kind, m.has_digit);
    if (failed_) return false;
    if (!m.has_digit) {
      c = peek();
      if (c == ',' || c == '/' || (after_repeat && is_white(c))) return false;
      fail("invalid number", incomprehensible);
      return false;
    }
    value_ = decimal_to_double(m, field_exponent);
    repeat_is_null_ = false;
    return true;
  }
}

// The exponent after a mantissa, if one follows: a letter E, e, D or d with
// an optional sign (only after a mantissa digit), or a sign alone, then
// digits. 0 when there is none; a malformed one goes through fail().
long ListReader::scan_exponent(ItemKind kind, bool mantissa_has_digit) {
  int c = peek();
  if (mantissa_has_digit && is_exponent_letter(c)) {
    if (kind == ItemKind::integer) {
      fail("invalid integer", unexpected_character);
      return 0;
    }
    advance();
    c = peek();
  } else if (c != '+' && c != '-') {
    return 0;
  }
  bool negative = c == '-';
  if (c == '+' || c == '-') {
    advance();
    c = peek();
  }
  if (!is_digit(c)) {
    fail("exponent field", incomprehensible);
    return 0;
  }
  long exponent = 0;
  while (is_digit(c)) {
    if (exponent <= max_exponent_digits_value) exponent = exponent * 10 + (c - '0');
    advance();
    c = peek();
  }
  if (exponent > max_exponent_digits_value) {
    fail("exponent field", incomprehensible);
    return 0;
  }
  return negative ? -exponent : exponent;
}

}  // namespace tolbe
