#pragma once

#include <string_view>

namespace tolbe {

// The message processor of the error package. Records the message in the
// table, prints it by the control flag (2 here: the full layout) and the print
// limit (10), and ends the run for a level 1 or 2 error after the abort line
// and the summary. Levels: -1 warning printed once, 0 informative, 1
// potentially recoverable, 2 fatal. An error number outside
// -9999999..99999999, or 0, or a level outside -1..2 ends the run after a
// three-line notice and the summary. Texts keep their trailing blanks.
void xermsg(std::string_view library, std::string_view routine, std::string_view message,
            int error_number, int level);

// The error hook of the BLAS routines: "On entry to <routine> parameter
// number <nn> had an illegal value", library "SLATEC", level 1.
void xerbla(std::string_view routine, int argument_number);

}  // namespace tolbe
