#pragma once

#include <string>
#include <string_view>

#include "io/text_sink.h"

namespace tolbe::testing_support {

// Collects the lines written to it, each ended by a newline.
class StringSink final : public TextSink {
 public:
  void put(std::string_view characters) override { text.append(characters); }
  void end_line() override { text.push_back('\n'); }
  std::string text;
};

}  // namespace tolbe::testing_support
