#pragma once

namespace tolbe {

// Solves the one problem on standard input and writes its report on standard
// output; never returns. Exit statuses: 0 report complete, 2 problem could
// not be read or solved, 3 report could not be written.
[[noreturn]] void run_problem();

}  // namespace tolbe
