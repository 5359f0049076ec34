#pragma once

namespace tolbe {

// The exit statuses of tolbe, with arguments or without; when several
// problems are run, the worst (the largest) is the process's.
enum ExitStatus : int {
  exit_report_complete = 0,     // every result written
  exit_signalled = 1,           // ended by SIGINT or SIGTERM
  exit_not_solved = 2,          // a problem not read or not solved, or a bad argument
  exit_report_not_written = 3,  // the output could not be written
};

}  // namespace tolbe
