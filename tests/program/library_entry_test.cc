// The program (src/program) reaches the library through its public headers
// (tolbe/...) and the one header declared for it, program_support.h: an
// include of another of the library's internal headers would tie the
// program to what the library may change at will, unseen.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path source_dir = TOLBE_SOURCE_DIR;
const fs::path program_dir = source_dir / "src/program";
const fs::path library_dir = source_dir / "src/lib";

// The header an #include line names, or empty for a line that is none.
std::string included(const std::string& line) {
  static const std::regex include(R"re(^\s*#\s*include\s*["<]([^">]+)[">])re");
  std::smatch m;
  return std::regex_search(line, m, include) ? m[1].str() : std::string();
}

// Whether `header`, included by a file of folder `from`, is one of the
// library's internal headers other than program_support.h: a file under
// src/lib and not one of the program's own (beside the includer or under
// src/program).
bool reaches_library_internals(const std::string& header, const fs::path& from) {
  if (header.empty() || header == "program_support.h") return false;
  if (fs::exists(from / header) || fs::exists(program_dir / header)) return false;
  return fs::exists(library_dir / header);
}

struct Line {
  const char* text;
  const char* from;  // folder of the includer, under src/program
  bool internal;
};

void PrintTo(const Line& c, std::ostream* os) {
  *os << c.text;
}

class IncludeLine : public testing::TestWithParam<Line> {};

TEST_P(IncludeLine, is_told_apart) {
  const Line& c = GetParam();
  EXPECT_EQ(reaches_library_internals(included(c.text), program_dir / c.from), c.internal);
}

INSTANTIATE_TEST_SUITE_P(Lines, IncludeLine,
                         testing::Values(Line{"#include \"correction/lawley.h\"", "driver", true},
                                         Line{"#include \"correction/matrix.h\"", "driver", true},
                                         Line{"#include \"kernels/blas.h\"", "errors", true},
                                         Line{"#  include <api/problem.h>", "cli", true},
                                         Line{"#include \"intervals/intervals.h\"", "cli", true},
                                         Line{"#include \"program_support.h\"", "driver", false},
                                         Line{"#include \"tolbe/lawley.h\"", "cli", false},
                                         Line{"#include \"io/chars.h\"", "cli", false},
                                         Line{"#include \"driver/problem.h\"", "cli", false},
                                         Line{"#include \"exit_status.h\"", "cli", false},
                                         Line{"#include <vector>", "cli", false},
                                         Line{"// #include in a comment", "cli", false}));

TEST(LibraryEntry, the_program_includes_no_other_internal_header) {
  int files = 0;
  int supported = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(program_dir)) {
    std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".h" && extension != ".cc")) continue;
    ++files;
    std::ifstream in(entry.path());
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
      ++number;
      std::string header = included(line);
      if (header == "program_support.h") ++supported;
      EXPECT_FALSE(reaches_library_internals(header, entry.path().parent_path()))
          << fs::relative(entry.path(), source_dir).string() << ":" << number << ": " << line
          << " (reach the library through tolbe/... or program_support.h)";
    }
  }
  // The walk found the program, and the program the header declared for it.
  EXPECT_GE(files, 20);
  EXPECT_GE(supported, 1);
}

}  // namespace
