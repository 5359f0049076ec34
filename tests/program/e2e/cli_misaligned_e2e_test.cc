// Misaligned input and decimal commas, run as a user would: with arguments
// the error names the line that most likely went wrong, or the number with a
// decimal comma; without arguments the console program reads and writes as
// it always has. Checked exactly: standard output, standard error and the
// exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/e2e_case.h"
#include "support/report_mask.h"
#include "support/run_binary.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::Case;
using tolbe::testing_support::expect_exactly;
using tolbe::testing_support::file_text;
using tolbe::testing_support::masked;
using tolbe::testing_support::run_binary;

// The inputs, and what the console program writes on them: kept apart from
// cases/, whose every solvable input the command line solves as well.
std::string cases(const std::string& name) {
  return std::string(TOLBE_CASES) + "/../misaligned/" + name;
}

const std::string worked = file_text(std::string(TOLBE_EXAMPLES) + "/worked.txt");
const std::string decimal_commas = file_text(cases("decimal_commas.in"));
const std::string short_row = file_text(cases("short_row.in"));
const std::string whole_matrix = file_text(cases("whole_matrix_on_one_line.in"));
const std::string lower_triangle = file_text(cases("lower_triangle.in"));

class Misaligned : public testing::TestWithParam<Case> {};

TEST_P(Misaligned, gives_exactly_this) {
  expect_exactly(GetParam());
}

const std::string csv_header = "file,matrix,variable\n";
const std::string comma_error =
    ":2:1: \"1,00\" looks like a number with a decimal comma; write decimal points (1.00), or "
    "separate values with a blank after the comma";

// The CSV of the worked example (README), from the file `name`.
std::string worked_csv(const std::string& name) {
  const char* rows[] = {
      "corrected_cov,1,1.44,0.6,0.39199999999999996",
      "corrected_cov,2,0.6,1.21,0.4833333333333334",
      "corrected_cov,3,0.39199999999999996,0.4833333333333334,1.0400444444444445",
      "corrected_corr,1,1,0.45454545454545453,0.3203161764360781",
      "corrected_corr,2,0.45454545454545453,0.9999999999999998,0.43085199984444655",
      "corrected_corr,3,0.3203161764360781,0.43085199984444655,0.9999999999999998",
      "disattenuated_corr,1,1,0.45454545454545453,0.3559068627067535",
      "disattenuated_corr,2,0.45454545454545453,0.9999999999999998,0.47872444427160726",
      "disattenuated_corr,3,0.3559068627067535,0.47872444427160726,0.9999999999999998"};
  std::string csv = "file,matrix,variable,v1,v2,v3\n";
  for (const char* row : rows) csv += name + "," + row + "\n";
  return csv;
}

INSTANTIATE_TEST_SUITE_P(
    cli_misaligned_e2e_test, Misaligned,
    testing::Values(
        Case{"short_row",
             {{"study.txt", short_row}},
             {"study.txt"},
             2,
             "",
             "tolbe: study.txt:3: row 2 of the restricted var/cov matrix has 2 numbers on its "
             "line, 3 expected; the input then ended in row 1 of the unrestricted var/cov matrix "
             "(1 of 2 values read)\n"},
        Case{"lower_triangle",
             {{"study.txt", lower_triangle}},
             {"--format=csv", "study.txt"},
             2,
             csv_header,
             "tolbe: study.txt:2: row 1 of the restricted var/cov matrix has 1 number on its "
             "line, 3 expected; the input then ended in row 1 of the unrestricted var/cov matrix "
             "(1 of 2 values read)\n"},
        Case{"whole_matrix_on_one_line",
             {{"study.txt", whole_matrix}},
             {"study.txt"},
             2,
             "",
             "tolbe: study.txt:2: row 1 of the restricted var/cov matrix has 9 numbers on its "
             "line, 3 expected (a whole matrix on one line? each row must start on a new line); "
             "the input then ended in row 3 of the restricted var/cov matrix (1 of 3 values "
             "read)\n"},
        // A file that ends early with every line fitting: no line to name.
        Case{"cut_short",
             {{"study.txt", worked.substr(0, worked.find("0.60 1.21"))}},
             {"study.txt"},
             2,
             "",
             "tolbe: study.txt:6: the input ends in row 2 of the unrestricted var/cov matrix: 0 "
             "of 2 values read\n"},
        Case{"decimal_commas",
             {{"study.txt", decimal_commas}},
             {"study.txt"},
             2,
             "",
             "tolbe: study.txt" + comma_error + "\n"},
        Case{"decimal_commas_in_json",
             {{"study.txt", decimal_commas}},
             {"--format=json", "study.txt"},
             2,
             "[\n  {\n    \"file\": \"study.txt\",\n    \"version\": \"" TOLBE_PROJECT_VERSION
             "\",\n    \"error\": \"tolbe: study.txt:2:1: "
             "\\\"1,00\\\" looks like a number with a decimal comma; write decimal points "
             "(1.00), or separate values with a blank after the comma\",\n    \"refusal\": {\n"
             "      \"code\": \"decimal_comma\",\n      \"argument\": null,\n      \"file\": "
             "\"study.txt\",\n      \"line\": 2,\n      \"column\": 1,\n      \"message\": "
             "\"\\\"1,00\\\" looks like a number with a decimal comma; write decimal points "
             "(1.00), or separate values with a blank after the comma\"\n    }\n  }\n]\n",
             "tolbe: study.txt" + comma_error + "\n"},
        // One message for the file, and the other file is solved.
        Case{"decimal_commas_beside_a_good_file",
             {{"commas.txt", decimal_commas}, {"points.txt", worked}},
             {"-q", "--format=csv", "commas.txt", "points.txt"},
             2,
             worked_csv("points.txt"),
             "tolbe: commas.txt" + comma_error + "\n"},
        // Commas between numbers with points are separators, as always.
        Case{"commas_between_numbers_with_points",
             {{"study.txt",
               "2,3,1\n1.00,0.50,0.30\n0.50,1.00,0.40\n0.30,0.40,1.00\n1.44,0.60\n0.60,1.21\n"
               "0.81\n"}},
             {"-q", "--format=csv", "study.txt"},
             0,
             worked_csv("study.txt"),
             ""}),
    [](const testing::TestParamInfo<Case>& param_info) {
      return std::string(param_info.param.name);
    });

// Without arguments nothing of this applies: the console program gives the
// report and the diagnostics it always gave (misaligned/NAME.out and .err,
// written by the program before the command line knew of misalignment).
class Console : public testing::TestWithParam<const char*> {};

TEST_P(Console, reads_as_it_always_has) {
  std::string name = GetParam();
  BinaryRun got = run_binary(TOLBE_BINARY, {}, "/", cases(name + ".in"));
  EXPECT_EQ(got.status, name == "decimal_commas" ? 0 : 2);
  EXPECT_EQ(masked(got.out), file_text(cases(name + ".out")));
  EXPECT_EQ(got.err, file_text(cases(name + ".err")));
}

INSTANTIATE_TEST_SUITE_P(cli_misaligned_e2e_test, Console,
                         testing::Values("decimal_commas", "short_row", "whole_matrix_on_one_line",
                                         "lower_triangle"));

}  // namespace
