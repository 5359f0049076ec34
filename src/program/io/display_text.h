#pragma once

// Names from the command line and from files shown to people: on a
// terminal, in a table's columns, in a spreadsheet.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tolbe {

// The code point of the well-formed UTF-8 character at the start of `text`
// and its length in bytes; length 0 when the bytes there are not one
// (a stray or truncated byte, an overlong form, a surrogate).
struct Utf8Character {
  char32_t code_point = 0;
  std::size_t length = 0;
};

inline Utf8Character utf8_character(std::string_view text) {
  if (text.empty()) return {};
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
  if (length == 0 || text.size() < length) return {};
  auto c = static_cast<char32_t>(lead & (0x7F >> length));
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return {};
    c = (c << 6) | static_cast<char32_t>(byte(k) & 0x3F);
  }
  static constexpr char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
  return {c, length};
}

// `text` with its control characters written out, so that a name cannot
// move the cursor, recolour the terminal or split a line: the C0 controls
// and DEL (bytes 0x00-0x1F, 0x7F) as \xHH, the C1 controls encoded in
// UTF-8 (U+0080-U+009F) as \u00HH. Everything else, bytes that are not
// UTF-8 included, is kept.
inline std::string escape_controls(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7F) {
      shown += "\\x";
      shown += hex[c >> 4];
      shown += hex[c & 15];
      ++at;
      continue;
    }
    Utf8Character u = utf8_character(text.substr(at));
    if (u.length == 2 && u.code_point <= 0x9F) {
      shown += "\\u00";
      shown += hex[u.code_point >> 4];
      shown += hex[u.code_point & 15];
      at += 2;
      continue;
    }
    std::size_t length = u.length == 0 ? 1 : u.length;
    shown.append(text.substr(at, length));
    at += length;
  }
  return shown;
}

// The columns a terminal gives the character `c`: 0 for combining marks
// and zero-width characters, 2 for the wide characters of East Asian
// scripts and emoji, 1 otherwise.
inline int character_width(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range zero[] = {
      {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
      {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
      {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}};
  static constexpr Range wide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                                   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                                   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                                   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                                   {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
  for (const Range& r : zero) {
    if (c >= r.first && c <= r.last) return 0;
  }
  for (const Range& r : wide) {
    if (c >= r.first && c <= r.last) return 2;
  }
  return 1;
}

// The columns `text` takes on a terminal: a UTF-8 character takes its
// character_width(), a byte that is not part of one takes one column.
inline std::size_t display_width(std::string_view text) {
  std::size_t width = 0;
  for (std::size_t at = 0; at < text.size();) {
    Utf8Character u = utf8_character(text.substr(at));
    if (u.length == 0) {
      ++width;
      ++at;
      continue;
    }
    width += static_cast<std::size_t>(character_width(u.code_point));
    at += u.length;
  }
  return width;
}

// Whether `text` is a plain decimal number, such as -0.25, +3 or 1.5e-3:
// an optional sign, digits with at most one point (at least one digit),
// an optional exponent.
inline bool plain_number(std::string_view text) {
  std::size_t at = 0;
  auto digits = [&] {
    std::size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    return at - start;
  };
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
  std::size_t mantissa = digits();
  if (at < text.size() && text[at] == '.') {
    ++at;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    if (digits() == 0) return false;
  }
  return at == text.size();
}

// A text cell of a CSV file made safe to open in a spreadsheet: one that
// starts with =, +, -, @, a tab or a carriage return would be taken for a
// formula, so it gets a leading single quote, as the OWASP guidance on CSV
// injection says. Numbers (-0.25) stay numbers, and "-", standard input's
// name, stays as it is: alone it is no formula.
inline std::string spreadsheet_safe(std::string_view text) {
  if (text.empty() || text == "-" || plain_number(text)) return std::string(text);
  switch (text.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r': {
      // Built by appending: GCC 12 warns falsely (-Wrestrict) of "'" + text.
      std::string quoted(1, '\'');
      quoted.append(text);
      return quoted;
    }
    default:
      return std::string(text);
  }
}

}  // namespace tolbe
