#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "io/field_render.h"
#include "io/text_sink.h"

namespace tolbe {

// One item of a write statement: a 32-bit integer, a double, a float (widened
// to double unchanged) or a text.
struct FormatItem {
  enum class Kind { integer, real, text };

  FormatItem() : kind(Kind::integer), integer(0) {}
  FormatItem(std::int32_t value) : kind(Kind::integer), integer(value) {}
  FormatItem(double value) : kind(Kind::real), real(value) {}
  FormatItem(float value) : kind(Kind::real), real(static_cast<double>(value)) {}
  FormatItem(std::string_view value) : kind(Kind::text), text(value) {}

  Kind kind;
  union {  // the member that `kind` names
    std::int32_t integer;
    double real;
    std::string_view text;
  };
};

// One descriptor of a format: a literal, "/", nX, or a data descriptor
// (Iw, Fw.d, A or Aw) with its repeat count.
struct FormatDescriptor {
  enum class Kind : unsigned char { literal, slash, skip, data };
  Kind kind = Kind::slash;
  char letter = 0;  // I, F or A for data; another letter takes no item well
  int count = 1;    // repeat of a data descriptor, columns of a skip
  int width = 0;    // 0 for A without a width
  int decimals = 0;
  std::string_view literal;  // between the apostrophes, '' still doubled
};

// A format parsed once: a parenthesised list of Iw, Fw.d, A, Aw, nX, "/" and
// 'literal' descriptors (a count before a data descriptor repeats it, '' inside
// a literal is one apostrophe). Parsing is lenient: text outside the outer
// parentheses is ignored, an unknown letter is a data descriptor that takes no
// item well, widths are capped at max_field_width, and descriptors beyond
// `capacity` are dropped; well_formed() says whether none of that happened.
// The literals are views into `format`, which must outlive the object.
// Does not allocate.
class CompiledFormat {
 public:
  static constexpr int capacity = 48;

  constexpr explicit CompiledFormat(std::string_view format);

  constexpr bool well_formed() const { return well_formed_; }
  constexpr std::span<const FormatDescriptor> descriptors() const {
    return {descriptors_, static_cast<std::size_t>(size_)};
  }

 private:
  constexpr void parse(std::string_view body);
  static constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
  constexpr int read_number(std::string_view body, std::size_t& pos, int if_absent);

  FormatDescriptor descriptors_[capacity] = {};
  int size_ = 0;
  bool well_formed_ = true;
};

// A format checked when the program is compiled: a malformed format constant
// is a build error, not a field of asterisks at run time.
consteval CompiledFormat checked_format(std::string_view format) {
  CompiledFormat compiled(format);
  if (!compiled.well_formed()) throw "malformed format";  // not a constant expression
  return compiled;
}

// Writes one statement: renders `items` in order through `format` and
// delivers whole lines to `sink`, each line in one put() and one end_line()
// (a line longer than 256 characters in more puts). Blanks of nX are written
// only when something follows them on the line. When items remain at the end
// of the format, the line ends and the format starts over; at the end of the
// statement literals and slashes up to the next data descriptor are written
// and the last line is ended, even when empty. A number that does not fit its
// field is a field of asterisks, as is an item that does not suit its
// descriptor. Does not allocate.
void write_formatted(TextSink& sink, const CompiledFormat& format,
                     std::span<const FormatItem> items);
void write_formatted(TextSink& sink, const CompiledFormat& format,
                     std::initializer_list<FormatItem> items = {});
// The same as write_formatted with the items `*lead` (when `lead` is not
// null) and then the `count` reals values[0], values[stride], ..., without
// building the items: runs of reals under an F descriptor are rendered with
// one check of the room on the line. Does not allocate.
void write_formatted_reals(TextSink& sink, const CompiledFormat& format, const std::int32_t* lead,
                           const double* values, std::size_t count, std::ptrdiff_t stride);
// A format written as a literal where it is used, parsed and checked when
// the program is compiled: a malformed one does not build.
class FormatString {
 public:
  template <std::size_t N>
  consteval FormatString(const char (&text)[N]) : compiled_(checked_format({text, N - 1})) {}
  const CompiledFormat& compiled() const { return compiled_; }

 private:
  CompiledFormat compiled_;
};
void write_formatted(TextSink& sink, const FormatString& format, std::span<const FormatItem> items);
void write_formatted(TextSink& sink, const FormatString& format,
                     std::initializer_list<FormatItem> items = {});

// The same with a format known only at run time, parsed leniently for this
// statement alone (see CompiledFormat).
void write_formatted_at_run_time(TextSink& sink, std::string_view format,
                                 std::span<const FormatItem> items);
void write_formatted_at_run_time(TextSink& sink, std::string_view format,
                                 std::initializer_list<FormatItem> items = {});

constexpr CompiledFormat::CompiledFormat(std::string_view format) {
  std::size_t open = format.find('(');
  std::size_t close = format.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    well_formed_ = false;
    return;
  }
  // Nothing but blanks around the outer parentheses.
  for (std::size_t i = 0; i < format.size(); ++i) {
    if ((i < open || i > close) && format[i] != ' ') well_formed_ = false;
  }
  parse(format.substr(open + 1, close - open - 1));
}

constexpr int CompiledFormat::read_number(std::string_view body, std::size_t& pos, int if_absent) {
  if (pos >= body.size() || !is_digit(body[pos])) return if_absent;
  int n = 0;
  while (pos < body.size() && is_digit(body[pos])) {
    if (n < 10000) n = n * 10 + (body[pos] - '0');
    ++pos;
  }
  return n;
}

constexpr void CompiledFormat::parse(std::string_view body) {
  using Kind = FormatDescriptor::Kind;
  std::size_t pos = 0;
  for (;;) {
    while (pos < body.size() && (body[pos] == ',' || body[pos] == ' ')) ++pos;
    if (pos >= body.size()) return;
    FormatDescriptor d;
    if (body[pos] == '/') {
      ++pos;
      d.kind = Kind::slash;
    } else if (body[pos] == '\'') {
      std::size_t start = ++pos;
      while (pos < body.size()) {
        if (body[pos] == '\'' && !(pos + 1 < body.size() && body[pos + 1] == '\'')) break;
        pos += body[pos] == '\'' ? 2 : 1;
      }
      d.kind = Kind::literal;
      d.literal = body.substr(start, (pos < body.size() ? pos : body.size()) - start);
      if (pos < body.size()) {
        ++pos;
      } else {
        well_formed_ = false;  // the literal is not closed
      }
    } else {
      bool counted = is_digit(body[pos]);
      d.count = read_number(body, pos, 1);
      char letter = pos < body.size() ? body[pos++] : 'X';
      if (letter == 'X') {
        d.kind = Kind::skip;
        if (!counted) well_formed_ = false;
      } else {
        d.kind = Kind::data;
        d.letter = letter;
        d.width = read_number(body, pos, 0);
        if (d.width > max_field_width) {
          d.width = max_field_width;
          well_formed_ = false;
        }
        if (pos < body.size() && body[pos] == '.') {
          ++pos;
          d.decimals = read_number(body, pos, 0);
        }
        bool known = (letter == 'I' && d.width > 0) || letter == 'A' ||
                     (letter == 'F' && d.width > 0 && d.decimals < d.width);
        if (!known || d.count == 0) well_formed_ = false;
      }
    }
    if (size_ == capacity) {
      well_formed_ = false;
      return;
    }
    descriptors_[size_++] = d;
  }
}

// A sink onto a fixed text, as an internal write into a character variable:
// the first line fills the text from its start and the rest of the text is
// blanks; characters beyond its length and later lines are dropped.
class FixedTextSink final : public TextSink {
 public:
  explicit FixedTextSink(std::span<char> text);
  void put(std::string_view characters) override;
  void end_line() override { ++line_; }

 private:
  std::span<char> text_;
  std::size_t column_ = 0;
  int line_ = 0;
};

}  // namespace tolbe
