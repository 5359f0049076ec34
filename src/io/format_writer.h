#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "io/text_sink.h"

namespace tolbe {

// One item of a write statement: a 32-bit integer, a double, a float (widened
// to double unchanged) or a text.
struct FormatItem {
  enum class Kind { integer, real, text };

  FormatItem() : kind(Kind::integer) {}
  FormatItem(std::int32_t value) : kind(Kind::integer), integer(value) {}
  FormatItem(double value) : kind(Kind::real), real(value) {}
  FormatItem(float value) : kind(Kind::real), real(static_cast<double>(value)) {}
  FormatItem(std::string_view value) : kind(Kind::text), text(value) {}

  Kind kind;
  std::int32_t integer = 0;
  double real = 0.0;
  std::string_view text;
};

// Writes one statement: renders `items` in order through `format`, a
// parenthesised list of Iw, Fw.d, A, Aw, nX, "/" and 'literal' descriptors
// (a count before a data descriptor repeats it, '' inside a literal is one
// apostrophe), and delivers whole lines to `sink`. Blanks of nX are written
// only when something follows them on the line. When items remain at the end
// of the format, the line ends and the format starts over; at the end of the
// statement literals and slashes up to the next data descriptor are written
// and the last line is ended, even when empty. A number that does not fit its
// field is a field of asterisks, as is an item that does not suit its
// descriptor. Does not allocate.
void write_formatted(TextSink& sink, std::string_view format, std::span<const FormatItem> items);
void write_formatted(TextSink& sink, std::string_view format,
                     std::initializer_list<FormatItem> items = {});

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
