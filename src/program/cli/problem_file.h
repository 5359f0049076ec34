#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "driver/problem.h"

namespace tolbe {

// Reads one problem from the whole text of a file, as the console program
// reads it, but says where and what went wrong: on failure returns false with
// one plain line in `error`, "LINE:COLUMN: ..." or "LINE: ..." (no file
// name). Counts outside 0..50, more selection variables than variables and
// values that are not finite are errors too. Appends to `extra` a note for
// each line that held more numbers than its statement needed. Allocates.
bool read_problem_file(std::string_view text, Problem& problem, std::string& error,
                       std::vector<std::string>& extra);

}  // namespace tolbe
