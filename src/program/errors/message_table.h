#pragma once

#include <string_view>

namespace tolbe {

// The table of the error messages met so far: up to 10 entries keyed by
// library (8 characters), routine (8), message start (20), error number and
// level, in the order of their first recording.
//
// mode > 0: records the message; `count` becomes the entry's new count, or 0
// when the table is full (the message is then counted apart).
// mode <= 0: writes the summary on every unit of the package, nothing when
// the table is empty; mode 0 then empties the table. `count` is not set.
void xersve(std::string_view library, std::string_view routine, std::string_view message, int mode,
            int error_number, int level, int& count);

void reset_message_table_for_tests();

}  // namespace tolbe
