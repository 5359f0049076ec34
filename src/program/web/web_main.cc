// The command-line tool as the web page runs it. The page calls main once per
// command line (Module.callMain) with its files in the in-memory file system;
// standard output and standard error go to two files there, which the page
// reads back whole, byte for byte, after the call. The process lives on
// between calls: the tool keeps no state from one command line to the next.

#include <fcntl.h>
#include <unistd.h>

#include "cli/cli.h"
#include "io/output_stream.h"

namespace {

// Points `fd` at a new, empty file `path`; false if it cannot.
bool redirect(int fd, const char* path) {
  int file = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file < 0) return false;
  bool moved = dup2(file, fd) == fd;
  close(file);
  return moved;
}

}  // namespace

int main(int argc, char** argv) {
  // Without arguments the tool would read a terminal the page does not have.
  if (argc < 2) return 2;
  if (!redirect(STDOUT_FILENO, "/run/stdout") || !redirect(STDERR_FILENO, "/run/stderr")) {
    return 3;
  }
  int status = tolbe::run_command_line(argc, argv);
  tolbe::standard_output().flush();
  tolbe::standard_error().flush();
  return status;
}
