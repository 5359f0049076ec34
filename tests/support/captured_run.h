#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "driver/run.h"
#include "errors/control_store.h"
#include "io/input_stream.h"
#include "io/output_stream.h"

namespace tolbe::testing_support {

// What a whole run in this process gave: its exit status and the bytes of
// standard output and standard error.
struct CapturedRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string read_back(int fd) {
  std::string text;
  char buffer[4096];
  off_t offset = 0;
  for (;;) {
    ssize_t got = pread(fd, buffer, sizeof buffer, offset);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

// Runs the program on `input` without ending the process: the standard
// streams go to memory files, the error package starts afresh.
inline CapturedRun run_captured(std::string_view input) {
  static RunState state;
  state = RunState{};
  reset_error_package_for_tests();
  int out_fd = memfd_create("tolbe_out", 0);
  int err_fd = memfd_create("tolbe_err", 0);
  standard_output().retarget(out_fd);
  standard_error().retarget(err_fd);
  InputStream stream(input);
  CapturedRun run;
  run.status = run_problem_returning(state, stream);
  run.out = read_back(out_fd);
  run.err = read_back(err_fd);
  standard_output().retarget(STDOUT_FILENO);
  standard_error().retarget(STDERR_FILENO);
  close(out_fd);
  close(err_fd);
  return run;
}

}  // namespace tolbe::testing_support
