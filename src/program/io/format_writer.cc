#include "io/format_writer.h"

#include <algorithm>
#include <cstring>

#include "io/field_render.h"

namespace tolbe {
namespace {

class Statement {
 public:
  Statement(TextSink& sink, const CompiledFormat& format)
      : sink_(sink), descriptors_(format.descriptors()) {}

  void transfer(const FormatItem& item) {
    if (left_ == 0 && !reach_data_descriptor(true)) return;
    --left_;
    write_pending_blanks();
    render(item);
  }

  // Transfers the reals values[0], values[stride], ... (at most `count`)
  // that the F descriptor in hand takes in a row, with one check of the room
  // on the line; returns how many. A matrix row is one such run.
  std::size_t transfer_reals(const double* values, std::size_t count, std::ptrdiff_t stride) {
    if (left_ == 0 && !reach_data_descriptor(true)) return 0;
    if (current_->letter != 'F' || current_->width == 0) return 0;
    write_pending_blanks();
    std::size_t n =
        static_cast<std::size_t>(left_) < count ? static_cast<std::size_t>(left_) : count;
    auto width = static_cast<std::size_t>(current_->width);
    if (n * width > line_capacity) n = line_capacity / width;
    char* field = reserve(n * width);
    ShortFixedRenderer short_road = short_fixed_renderer(current_->decimals);
    for (std::size_t i = 0; i < n; ++i, field += width, values += stride) {
      if (short_road == nullptr || !short_road(*values, width, field)) {
        render_fixed(*values, current_->width, current_->decimals, {field, width});
      }
    }
    used_ += n * width;
    left_ -= static_cast<int>(n);
    return n;
  }

  void close() {
    reach_data_descriptor(false);
    end_line();
  }

 private:
  using Kind = FormatDescriptor::Kind;

  // Carries out descriptors up to the next data descriptor; with `for_item`
  // the format starts over at its end (reversion). False when no data
  // descriptor can take an item.
  bool reach_data_descriptor(bool for_item) {
    bool restarted = false;
    while (left_ == 0) {
      if (next_ == descriptors_.size()) {
        if (!for_item || restarted) return false;
        restart_format();
        restarted = true;
        continue;
      }
      const FormatDescriptor& d = descriptors_[next_++];
      switch (d.kind) {
        case Kind::literal:
        case Kind::slash:
          write_text_descriptor(d);
          break;
        case Kind::skip:
          pending_blanks_ += d.count;
          break;
        case Kind::data:
          current_ = &d;
          left_ = d.count;
          if (left_ > 0) restarted = false;
          break;
      }
    }
    return true;
  }

  // Kept out of line: the descriptor loop runs for every row, these rarely.
  [[gnu::noinline]] void restart_format() {
    end_line();
    next_ = 0;
  }
  [[gnu::noinline]] void write_text_descriptor(const FormatDescriptor& d) {
    if (d.kind == Kind::literal) {
      write_literal(d.literal);
    } else {
      end_line();
    }
  }

  // Room for `size` more characters on the line (size <= line_capacity);
  // a line too long for the buffer goes to the sink in pieces.
  char* reserve(std::size_t size) {
    if (line_capacity - used_ < size) {
      sink_.put({line_, used_});
      used_ = 0;
    }
    return line_ + used_;
  }

  void append(std::string_view text) {
    while (!text.empty()) {
      std::size_t take = text.size() < line_capacity ? text.size() : line_capacity;
      std::memcpy(reserve(take), text.data(), take);
      used_ += take;
      text.remove_prefix(take);
    }
  }

  void end_line() {
    pending_blanks_ = 0;
    sink_.put_line_end({line_, used_});
    used_ = 0;
  }

  void write_pending_blanks() {
    while (pending_blanks_ > 0) {
      std::size_t n = pending_blanks_ < 32 ? static_cast<std::size_t>(pending_blanks_) : 32;
      std::memset(reserve(n), ' ', n);
      used_ += n;
      pending_blanks_ -= static_cast<int>(n);
    }
  }

  void write_literal(std::string_view text) {
    write_pending_blanks();
    std::size_t quote;
    while ((quote = text.find("''")) != std::string_view::npos) {
      append(text.substr(0, quote + 1));
      text.remove_prefix(quote + 2);
    }
    append(text);
  }

  void render(const FormatItem& item) {
    int width = current_->width > 0 ? current_->width : 1;
    auto size = static_cast<std::size_t>(width);
    using ItemKind = FormatItem::Kind;
    if (current_->letter == 'F' && item.kind == ItemKind::real) {
      render_fixed(item.real, width, current_->decimals, {reserve(size), size});
    } else if (current_->letter == 'I' && item.kind == ItemKind::integer) {
      render_integer(item.integer, width, {reserve(size), size});
    } else if (current_->letter == 'A' && item.kind == ItemKind::text) {
      render_text(item.text);
      return;
    } else {
      std::memset(reserve(size), '*', size);
    }
    used_ += size;
  }

  void render_text(std::string_view text) {
    std::size_t width = static_cast<std::size_t>(current_->width);
    if (width == 0) {
      append(text);
      return;
    }
    if (text.size() >= width) {
      append(text.substr(0, width));
      return;
    }
    pending_blanks_ = static_cast<int>(width - text.size());
    write_pending_blanks();
    append(text);
  }

  static constexpr std::size_t line_capacity = 256;

  TextSink& sink_;
  std::span<const FormatDescriptor> descriptors_;
  std::size_t next_ = 0;
  const FormatDescriptor* current_ = nullptr;
  int left_ = 0;
  int pending_blanks_ = 0;
  std::size_t used_ = 0;
  char line_[line_capacity];
};

}  // namespace

void write_formatted(TextSink& sink, const CompiledFormat& format,
                     std::span<const FormatItem> items) {
  Statement statement(sink, format);
  for (const FormatItem& item : items) statement.transfer(item);
  statement.close();
}

void write_formatted(TextSink& sink, const CompiledFormat& format,
                     std::initializer_list<FormatItem> items) {
  write_formatted(sink, format, std::span<const FormatItem>(items.begin(), items.size()));
}

void write_formatted_reals(TextSink& sink, const CompiledFormat& format, const std::int32_t* lead,
                           const double* values, std::size_t count, std::ptrdiff_t stride) {
  Statement statement(sink, format);
  if (lead != nullptr) statement.transfer(FormatItem(*lead));
  while (count > 0) {
    std::size_t run = statement.transfer_reals(values, count, stride);
    if (run == 0) {
      statement.transfer(FormatItem(*values));
      run = 1;
    }
    values += static_cast<std::ptrdiff_t>(run) * stride;
    count -= run;
  }
  statement.close();
}

void write_formatted(TextSink& sink, const FormatString& format,
                     std::span<const FormatItem> items) {
  write_formatted(sink, format.compiled(), items);
}

void write_formatted(TextSink& sink, const FormatString& format,
                     std::initializer_list<FormatItem> items) {
  write_formatted(sink, format.compiled(), items);
}

void write_formatted_at_run_time(TextSink& sink, std::string_view format,
                                 std::span<const FormatItem> items) {
  write_formatted(sink, CompiledFormat(format), items);
}

void write_formatted_at_run_time(TextSink& sink, std::string_view format,
                                 std::initializer_list<FormatItem> items) {
  write_formatted(sink, CompiledFormat(format), items);
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
