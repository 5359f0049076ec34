#pragma once

#include <string_view>

namespace tolbe {

// Where the format-driven writer delivers its lines: the characters of the
// current line in pieces, then its end.
class TextSink {
 public:
  virtual void put(std::string_view characters) = 0;
  virtual void end_line() = 0;
  // The last characters of a line and its end, in one call.
  virtual void put_line_end(std::string_view characters) {
    put(characters);
    end_line();
  }

 protected:
  ~TextSink() = default;
};

}  // namespace tolbe
