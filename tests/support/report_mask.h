#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>

namespace tolbe::testing_support {

// Replaces the start stamp and the CPU time of a report by placeholders
// after checking their shape; any other line is left alone.
inline std::string masked(const std::string& report) {
  static const std::regex stamp(
      "^Program execution starts on [ 1-3][0-9]/[ 1][0-9]/[0-9]{4} at [ 1-2][ 0-9]:[ 1-5][0-9]:"
      "[ 1-5][0-9]$");
  static const std::regex cpu("^CPU TIME IN SECONDS [ ]{7,}[0-9]+\\.[0-9]{2}$");
  std::istringstream lines(report);
  std::string line;
  std::string out;
  while (std::getline(lines, line)) {
    if (line.rfind("Program execution", 0) == 0) {
      EXPECT_TRUE(std::regex_match(line, stamp)) << line;
      EXPECT_EQ(line.size(), 50u) << line;
      line = "<start stamp>";
    } else if (line.rfind("CPU TIME", 0) == 0) {
      EXPECT_TRUE(std::regex_match(line, cpu)) << line;
      EXPECT_EQ(line.size(), 32u) << line;
      line = "<cpu time>";
    }
    out += line + "\n";
  }
  if (!report.empty() && report.back() != '\n') out += "<no final newline>\n";
  return out;
}

}  // namespace tolbe::testing_support
