#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_under_test.h"

namespace tolbe::testing_support {

// What one run of the built program gave.
struct BinaryRun {
  int status = -1;  // the exit status, or -1 when a signal ended it
  std::string out;
  std::string err;
};

inline std::string file_text(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Runs `binary` with `args` in the folder `folder`, standard input from the
// file `input`, and collects standard output and standard error.
inline BinaryRun run_binary(const std::string& binary, const std::vector<std::string>& args,
                            const std::string& folder, const std::string& input = "/dev/null") {
  std::string stem = ::testing::TempDir() + "tolbe_run_" + std::to_string(getpid());
  std::string out_path = stem + ".out";
  std::string err_path = stem + ".err";
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(126);
    int in = open(input.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>("tolbe")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  BinaryRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = file_text(out_path);
  r.err = file_text(err_path);
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return r;
}

}  // namespace tolbe::testing_support
