#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string_view>

namespace tolbe {

// A text of fixed length, as the error package's names and message starts
// are kept: a longer text is cut on the right, a shorter one padded with
// blanks, so two texts that differ only in trailing blanks compare equal.
template <std::size_t Length>
struct FixedText {
  FixedText() { std::memset(chars, ' ', Length); }
  explicit FixedText(std::string_view text) : FixedText() {
    std::memcpy(chars, text.data(), std::min(text.size(), Length));
  }
  std::string_view view() const { return {chars, Length}; }
  bool operator==(const FixedText& other) const { return view() == other.view(); }

  char chars[Length];
};

// Joins `pieces` into `out`, cut at its end; returns the joined text.
inline std::string_view concatenate(std::span<char> out,
                                    std::initializer_list<std::string_view> pieces) {
  std::size_t size = 0;
  for (std::string_view piece : pieces) {
    std::size_t take = std::min(piece.size(), out.size() - size);
    std::memcpy(out.data() + size, piece.data(), take);
    size += take;
  }
  return {out.data(), size};
}

}  // namespace tolbe
