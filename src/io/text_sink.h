#pragma once

#include <string_view>

namespace tolbe {

// Where the format-driven writer delivers its lines: the characters of the
// current line in pieces, then its end.
class TextSink {
 public:
  virtual void put(std::string_view characters) = 0;
  virtual void end_line() = 0;

 protected:
  ~TextSink() = default;
};

}  // namespace tolbe
