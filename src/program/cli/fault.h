#pragma once

// Why a problem of the command line has no results, as data: what JSON
// writes as a failed problem's "refusal", and what its one line on
// standard error is made of.

#include <cstddef>
#include <string>
#include <utility>

namespace tolbe {

struct Fault {
  // A stable code: the library's refusal code name (such as
  // "unknown_variable") for what the library refuses, else the program's
  // own (such as "not_a_number", "missing_value", "file_unreadable").
  std::string code;
  std::string argument;  // the option, without its dashes ("select"); empty: none
  std::string file;      // the file the place is in, as given; empty: none
  std::size_t line = 0;  // from 1; 0: none
  std::size_t column = 0;
  std::string message;  // without the program's name, the file or the place

  // The message after its place: "LINE:COLUMN: MESSAGE", "LINE: MESSAGE",
  // or the message alone.
  std::string placed() const {
    if (line == 0) return message;
    std::string text = std::to_string(line);
    if (column > 0) {
      // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
      // ":" + std::string.
      text += ':';
      text += std::to_string(column);
    }
    text += ": ";
    text += message;
    return text;
  }
};

// A fault of a reader: its code, place and message.
inline Fault read_fault(const char* code, std::size_t line, std::size_t column,
                        std::string message) {
  Fault f;
  f.code = code;
  f.line = line;
  f.column = column;
  f.message = std::move(message);
  return f;
}

}  // namespace tolbe
