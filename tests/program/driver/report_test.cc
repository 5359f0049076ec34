#include "driver/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/string_sink.h"

namespace tolbe {
namespace {

using testing_support::StringSink;

TEST(report_test, start_stamp) {
  StringSink out;
  write_start_stamp(out, DateValues{2026, 12, 7, 9, 5, 3});
  write_start_stamp(out, DateValues{2027, 1, 1, 0, 0, 0});
  write_start_stamp(out, DateValues{2026, 11, 30, 23, 59, 58});
  EXPECT_EQ(out.text,
            "Program execution starts on  7/12/2026 at  9: 5: 3\n"
            "Program execution starts on  1/ 1/2027 at  0: 0: 0\n"
            "Program execution starts on 30/11/2026 at 23:59:58\n");
}

TEST(report_test, cpu_time) {
  StringSink out;
  write_cpu_time(out, 1.5f);
  write_cpu_time(out, 0.004f);
  EXPECT_EQ(out.text, "\nCPU TIME IN SECONDS         1.50\n\nCPU TIME IN SECONDS         0.00\n");
}

TEST(report_test, reliabilities_start_over_after_six_values) {
  double reliabilities[9] = {1, 1, .81, .82, .83, .84, .85, .86, .875};
  StringSink out;
  write_reliabilities(out, reliabilities, 2, 9);
  EXPECT_EQ(out.text,
            "\nReliabilities criterion variables\n"
            "        0.810     0.820     0.830     0.840     0.850     0.860\n"
            "\nReliabilities criterion variables\n"
            "        0.875\n");
}

TEST(report_test, reliabilities_without_criterion_variables) {
  double reliabilities[3] = {1, 1, 1};
  StringSink out;
  write_reliabilities(out, reliabilities, 3, 3);
  EXPECT_EQ(out.text, "\nReliabilities criterion variables\n\n");
  StringSink more;
  write_reliabilities(more, reliabilities, 3, 2);
  EXPECT_EQ(more.text, out.text);
}

TEST(report_test, rows_of_more_than_eight_values_continue_indented) {
  Matrix m;
  for (int j = 1; j <= 17; ++j) m(1, j) = j;
  StringSink out;
  write_matrix_rows(out, m, 17);
  std::string first = "  1";
  for (int j = 1; j <= 8; ++j) first += "   " + std::to_string(j) + ".0000";
  std::string second = "   ";
  for (int j = 9; j <= 16; ++j) {
    second += std::string(j < 10 ? 3 : 2, ' ') + std::to_string(j) + ".0000";
  }
  std::string third = "   " + std::string("  17.0000");
  EXPECT_EQ(out.text.substr(0, first.size() + second.size() + third.size() + 3),
            first + "\n" + second + "\n" + third + "\n");
  EXPECT_EQ(std::count(out.text.begin(), out.text.end(), '\n'), 17 * 3);
}

TEST(report_test, eight_values_fill_one_line_of_75_characters) {
  Matrix m;
  StringSink out;
  write_matrix_rows(out, m, 8);
  std::size_t end = out.text.find('\n');
  EXPECT_EQ(end, 75u);
  EXPECT_EQ(std::count(out.text.begin(), out.text.end(), '\n'), 8);
}

}  // namespace
}  // namespace tolbe
