#pragma once

namespace tolbe {

// The command-line tool: options, files, formats and checks (see
// usage_text()). Returns the exit status: the worst of all problems, 2 for a
// bad option, 0 after --help or --version. Writes on the standard streams
// only. Allocates.
int run_command_line(int argc, char** argv);

// The hint written on standard error before reading a problem from a
// terminal.
inline constexpr const char* terminal_hint =
    "tolbe: reading the problem from the terminal; end it with Ctrl-D (tolbe --help for more)\n";

}  // namespace tolbe
