#include "io/format_writer.h"

#include <algorithm>
#include <cstring>

#include "io/field_render.h"

namespace tolbe {
namespace {

struct Descriptor {
  enum class Kind { literal, slash, skip, data, end };
  Kind kind = Kind::end;
  char letter = 0;  // I, F or A for data
  int count = 1;    // repeat of a data descriptor, columns of a skip
  int width = 0;    // 0 for A without a width
  int decimals = 0;
  std::string_view literal;  // between the apostrophes, '' still doubled
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

int read_number(std::string_view text, std::size_t& pos, int if_absent) {
  if (pos >= text.size() || !is_digit(text[pos])) return if_absent;
  int n = 0;
  while (pos < text.size() && is_digit(text[pos])) {
    if (n < 10000) n = n * 10 + (text[pos] - '0');
    ++pos;
  }
  return n;
}

// Parses the descriptor at `pos` in the body of a format (the text between
// its outer parentheses) and moves past it.
Descriptor next_descriptor(std::string_view body, std::size_t& pos) {
  while (pos < body.size() && (body[pos] == ',' || body[pos] == ' ')) ++pos;
  Descriptor d;
  if (pos >= body.size()) return d;
  if (body[pos] == '/') {
    ++pos;
    d.kind = Descriptor::Kind::slash;
    return d;
  }
  if (body[pos] == '\'') {
    std::size_t start = ++pos;
    while (pos < body.size()) {
      if (body[pos] == '\'' && !(pos + 1 < body.size() && body[pos + 1] == '\'')) break;
      pos += body[pos] == '\'' ? 2 : 1;
    }
    d.kind = Descriptor::Kind::literal;
    d.literal = body.substr(start, pos - start);
    if (pos < body.size()) ++pos;
    return d;
  }
  d.count = read_number(body, pos, 1);
  char letter = pos < body.size() ? body[pos++] : 'X';
  if (letter == 'X') {
    d.kind = Descriptor::Kind::skip;
    return d;
  }
  d.kind = Descriptor::Kind::data;
  d.letter = letter;
  d.width = read_number(body, pos, 0);
  if (d.width > max_field_width) d.width = max_field_width;
  if (pos < body.size() && body[pos] == '.') {
    ++pos;
    d.decimals = read_number(body, pos, 0);
  }
  return d;
}

class Statement {
 public:
  Statement(TextSink& sink, std::string_view format) : sink_(sink), body_(strip(format)) {}

  void transfer(const FormatItem& item) {
    if (!reach_data_descriptor(true)) return;
    --left_;
    write_pending_blanks();
    render(item);
  }

  void close() {
    reach_data_descriptor(false);
    sink_.end_line();
  }

 private:
  static std::string_view strip(std::string_view format) {
    std::size_t open = format.find('(');
    std::size_t close = format.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
      return {};
    }
    return format.substr(open + 1, close - open - 1);
  }

  // Carries out descriptors up to the next data descriptor; with `for_item`
  // the format starts over at its end (reversion). False when no data
  // descriptor can take an item.
  bool reach_data_descriptor(bool for_item) {
    bool restarted = false;
    while (left_ == 0) {
      Descriptor d = next_descriptor(body_, pos_);
      switch (d.kind) {
        case Descriptor::Kind::end:
          if (!for_item || restarted) return false;
          end_line();
          pos_ = 0;
          restarted = true;
          break;
        case Descriptor::Kind::literal:
          write_literal(d.literal);
          break;
        case Descriptor::Kind::slash:
          end_line();
          break;
        case Descriptor::Kind::skip:
          pending_blanks_ += d.count;
          break;
        case Descriptor::Kind::data:
          current_ = d;
          left_ = d.count;
          if (left_ > 0) restarted = false;
          break;
      }
    }
    return true;
  }

  void end_line() {
    pending_blanks_ = 0;
    sink_.end_line();
  }

  void write_pending_blanks() {
    static constexpr char blanks[] = "                                ";
    while (pending_blanks_ > 0) {
      int n = pending_blanks_ < 32 ? pending_blanks_ : 32;
      sink_.put({blanks, static_cast<std::size_t>(n)});
      pending_blanks_ -= n;
    }
  }

  void write_literal(std::string_view text) {
    write_pending_blanks();
    std::size_t quote;
    while ((quote = text.find("''")) != std::string_view::npos) {
      sink_.put(text.substr(0, quote + 1));
      text.remove_prefix(quote + 2);
    }
    sink_.put(text);
  }

  void render(const FormatItem& item) {
    char field[max_field_width];
    int width = current_.width > 0 ? current_.width : 1;
    using Kind = FormatItem::Kind;
    if (current_.letter == 'I' && item.kind == Kind::integer) {
      sink_.put(render_integer(item.integer, width, field));
    } else if (current_.letter == 'F' && item.kind == Kind::real) {
      sink_.put(render_fixed(item.real, width, current_.decimals, field));
    } else if (current_.letter == 'A' && item.kind == Kind::text) {
      render_text(item.text);
    } else {
      std::memset(field, '*', static_cast<std::size_t>(width));
      sink_.put({field, static_cast<std::size_t>(width)});
    }
  }

  void render_text(std::string_view text) {
    std::size_t width = static_cast<std::size_t>(current_.width);
    if (width == 0) {
      sink_.put(text);
      return;
    }
    if (text.size() >= width) {
      sink_.put(text.substr(0, width));
      return;
    }
    pending_blanks_ = static_cast<int>(width - text.size());
    write_pending_blanks();
    sink_.put(text);
  }

  TextSink& sink_;
  std::string_view body_;
  std::size_t pos_ = 0;
  Descriptor current_;
  int left_ = 0;
  int pending_blanks_ = 0;
};

}  // namespace

void write_formatted(TextSink& sink, std::string_view format, std::span<const FormatItem> items) {
  Statement statement(sink, format);
  for (const FormatItem& item : items) statement.transfer(item);
  statement.close();
}

void write_formatted(TextSink& sink, std::string_view format,
                     std::initializer_list<FormatItem> items) {
  write_formatted(sink, format, std::span<const FormatItem>(items.begin(), items.size()));
}

FixedTextSink::FixedTextSink(std::span<char> text) : text_(text) {
  std::memset(text_.data(), ' ', text_.size());
}

void FixedTextSink::put(std::string_view characters) {
  if (line_ > 0 || column_ >= text_.size()) return;
  std::size_t take = std::min(characters.size(), text_.size() - column_);
  std::memcpy(text_.data() + column_, characters.data(), take);
  column_ += take;
}

}  // namespace tolbe
