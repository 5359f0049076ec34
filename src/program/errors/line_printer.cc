#include "errors/line_printer.h"

#include <algorithm>
#include <cstring>

#include "errors/control_store.h"
#include "errors/fixed_text.h"
#include "io/format_writer.h"

namespace tolbe {
namespace {

constexpr int max_prefix = 16;
constexpr int max_text = 132;

class LineBuffer {
 public:
  LineBuffer(std::string_view prefix, int prefix_length) : prefix_length_(prefix_length) {
    std::memset(chars_, ' ', sizeof chars_);
    std::size_t take = std::min(prefix.size(), static_cast<std::size_t>(prefix_length));
    std::memcpy(chars_, prefix.data(), take);
  }

  void write(std::string_view piece) const {
    char line[max_prefix + max_text];
    std::string_view prefix(chars_, static_cast<std::size_t>(prefix_length_));
    std::string_view text = concatenate(line, {prefix, piece});
    write_to_units([text](TextSink& unit) { write_formatted(unit, "(A)", {text}); });
  }

 private:
  char chars_[max_prefix];
  int prefix_length_;
};

std::string_view without_trailing_blanks(std::string_view text) {
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

// The next piece of `rest` when it holds no marker within reach: the whole
// rest, or a cut at a blank (dropped) or at the wrap width. Returns the
// piece's length and sets `skip` to the characters dropped after it.
std::size_t cut_by_width(std::string_view rest, std::size_t wrap, bool has_marker,
                         std::size_t& skip) {
  skip = 0;
  if (!has_marker && rest.size() <= wrap) return rest.size();
  for (std::size_t j = wrap + 1; j >= 2; --j) {
    if (rest[j - 1] == ' ') {
      skip = 1;
      return j - 1;
    }
  }
  return wrap;
}

}  // namespace

void xerprn(std::string_view prefix, int prefix_length, std::string_view message, int wrap_width) {
  int length = prefix_length >= 0 ? prefix_length : static_cast<int>(prefix.size());
  LineBuffer buffer(prefix, std::min(length, max_prefix));
  std::size_t wrap = static_cast<std::size_t>(std::clamp(wrap_width, 16, max_text));

  std::string_view text = without_trailing_blanks(message);
  if (text.empty()) {
    buffer.write(" ");
    return;
  }
  std::size_t next = 0;
  do {
    std::string_view rest = text.substr(next);
    std::size_t marker = rest.find("$$");
    if (marker == 0) {
      next += 2;
      continue;
    }
    std::size_t piece;
    std::size_t skip;
    if (marker == std::string_view::npos || marker > wrap) {
      piece = cut_by_width(rest, wrap, marker != std::string_view::npos, skip);
    } else {
      piece = marker;
      skip = 2;
    }
    buffer.write(rest.substr(0, piece));
    next += piece + skip;
    if (next >= text.size()) return;
  } while (true);
}

}  // namespace tolbe
