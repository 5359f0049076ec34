#pragma once

#include <string_view>

namespace tolbe {

// Writes `message` on every unit of the error package as lines of the form
// prefix + piece. The prefix is `prefix_length` characters of `prefix`
// (all of it when negative; at most 16, padded with blanks). Trailing blanks
// of the message are dropped; an empty message gives the prefix and one
// blank. A piece ends at a "$$" marker (dropped) or, when longer than
// `wrap_width` (clamped to 16..132), at the last blank that keeps it within
// the width (dropped), else after `wrap_width` characters. A marker at the
// very end gives one more line holding the prefix alone.
void xerprn(std::string_view prefix, int prefix_length, std::string_view message, int wrap_width);

}  // namespace tolbe
