// The project has one version number, the CMake project's. The library and
// the program take it from the build; the files that cannot (the R
// package's description, the man page, the README's file names) are held to
// it here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

struct VersionPlace {
  const char* file;     // relative to the source tree
  const char* pattern;  // its first group is a version
  int at_least;         // matches the file must hold
};

void PrintTo(const VersionPlace& v, std::ostream* os) {
  *os << v.file;
}

class OneVersion : public testing::TestWithParam<VersionPlace> {};

TEST_P(OneVersion, every_mention_is_the_project_version) {
  const VersionPlace& place = GetParam();
  std::ifstream in(std::string(TOLBE_SOURCE_DIR) + "/" + place.file, std::ios::binary);
  ASSERT_TRUE(in) << place.file;
  std::stringstream text;
  text << in.rdbuf();
  std::string all = text.str();
  std::regex pattern(place.pattern, std::regex::multiline);
  int matches = 0;
  for (std::sregex_iterator it(all.begin(), all.end(), pattern), end; it != end; ++it) {
    ++matches;
    EXPECT_EQ((*it)[1].str(), TOLBE_PROJECT_VERSION) << place.file << ": " << (*it)[0].str();
  }
  EXPECT_GE(matches, place.at_least) << place.file;
}

INSTANTIATE_TEST_SUITE_P(
    Files, OneVersion,
    testing::Values(VersionPlace{"r/DESCRIPTION", R"(^Version: *([^\s]+))", 1},
                    VersionPlace{"doc/tolbe.1", R"re(^\.TH .*"tolbe ([^"]+)")re", 1},
                    VersionPlace{"r/src/Makevars", R"(TOLBE_VERSION_STRING=\\"([^\\]+)\\")", 0},
                    VersionPlace{"README.md", R"(tolbe_([0-9][^_\s]*?)(?:_amd64\.deb|\.tar\.gz))",
                                 0}));

}  // namespace
