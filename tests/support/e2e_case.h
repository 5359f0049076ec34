#pragma once

// What the end-to-end tests share: a case is the files of a folder, the
// program's arguments and exactly what it must give (exit status, standard
// output, standard error), run in a fresh folder that is removed after.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/csv_version.h"
#include "support/run_binary.h"
#include "support/scratch.h"

namespace tolbe::testing_support {

// The files of a case's folder: name and text.
using Files = std::vector<std::pair<std::string, std::string>>;

// One run and what it gives. `out` is as the numbers were worked out: CSV
// without the version column (added as the program writes it), any other
// text as it is. A case's folder holds a list of files, or one file given
// by its name and text, or nothing (a test that runs it in a folder of its
// own, such as the shipped inputs', ignores the files).
struct Case {
  const char* name;
  Files files;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;

  Case(const char* name_, Files files_, std::vector<std::string> args_, int status_,
       std::string out_, std::string err_)
      : name(name_),
        files(std::move(files_)),
        args(std::move(args_)),
        status(status_),
        out(std::move(out_)),
        err(std::move(err_)) {}
  Case(const char* name_, const std::string& file, const std::string& text,
       std::vector<std::string> args_, int status_, std::string out_, std::string err_)
      : Case(name_, Files{{file, text}}, std::move(args_), status_, std::move(out_),
             std::move(err_)) {}
  Case(const char* name_, std::vector<std::string> args_, int status_, std::string out_,
       std::string err_)
      : Case(name_, Files{}, std::move(args_), status_, std::move(out_), std::move(err_)) {}
};

// gtest names a failing case by this.
inline void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

// Writes `files` into a fresh folder and runs the program there with
// `args`, standard input from `input` (a path from that folder, such as
// one of the files); the folder goes with whatever the run left in it.
inline BinaryRun run_with(const Files& files, const std::vector<std::string>& args,
                          const std::string& input = "/dev/null") {
  ScratchFolder folder("tolbe_e2e");
  for (const auto& [name, text] : files) write_file(folder / name, text);
  return run_binary(TOLBE_BINARY, args, folder.path(), input);
}

// Runs `c` in a folder of its files and checks all it gives, exactly.
inline void expect_exactly(const Case& c) {
  BinaryRun got = run_with(c.files, c.args);
  EXPECT_EQ(got.status, c.status);
  EXPECT_EQ(got.out, with_version_column(c.out));
  EXPECT_EQ(got.err, c.err);
}

// The last line of every refusal of the command line.
inline const std::string try_help = "Try 'tolbe --help' for more information.\n";

}  // namespace tolbe::testing_support
