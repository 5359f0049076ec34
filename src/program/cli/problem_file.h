#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/fault.h"
#include "driver/problem.h"

namespace tolbe {

// The most of a file that the command line reads: 16 MiB. A problem of at
// most 50 variables takes a few hundred KiB even with a comment on every
// line, so a longer file is not a problem file (or ends in something else,
// which is never read past the problem's last line).
inline constexpr std::size_t max_problem_file_bytes = std::size_t{16} << 20;

// Reads one problem from the whole text of a file, as the console program
// reads it (driver/problem_input.h), but says where and what went wrong: on
// failure returns false with the fault in `error`: its code, line (and
// column) and message (no file name). Counts outside 0..50, more selection variables
// than variables and values that are not finite are errors too; so is a
// number that looks like one with a decimal comma ("1,00 0,50 0,30"). When
// the input ends early, the error names the first line that does not fit
// its row, if the file is laid out one row a line up to it. Appends to
// `extra` a note for each line that held more numbers than its statement
// needed. Allocates.
bool read_problem_file(std::string_view text, Problem& problem, Fault& error,
                       std::vector<std::string>& extra);

}  // namespace tolbe
