#include <unistd.h>

#include <cstring>

#include "cli/cli.h"
#include "driver/run.h"
#include "io/output_stream.h"
#include "io/process_frame.h"

int main(int argc, char** argv) {
  tolbe::install_process_frame();
  if (argc > 1) return tolbe::run_command_line(argc, argv);
  // At a terminal a report line shows as soon as it ends, so that a
  // diagnostic comes below the lines before it, and a hint says how to end
  // the input. Files and pipes get the classic program unchanged.
  if (isatty(STDOUT_FILENO)) tolbe::standard_output().set_line_buffered(true);
  if (isatty(STDIN_FILENO)) {
    tolbe::write_fully(STDERR_FILENO, tolbe::terminal_hint, std::strlen(tolbe::terminal_hint));
  }
  static tolbe::RunState state;
  static tolbe::InputStream input(STDIN_FILENO);
  tolbe::run_problem(state, input);
}
