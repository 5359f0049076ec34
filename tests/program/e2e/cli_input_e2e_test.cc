// The command line on inputs that are not what a problem file should be:
// a byte-order mark, bytes that are not UTF-8, files and devices without
// end, values that the correction never reads. Checked exactly: standard
// output, standard error and the exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e_case.h"
#include "support/run_binary.h"
#include "support/scratch.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::Case;
using tolbe::testing_support::expect_exactly;
using tolbe::testing_support::file_text;
using tolbe::testing_support::run_binary;
using tolbe::testing_support::run_with;
using tolbe::testing_support::ScratchFolder;
using tolbe::testing_support::with_version_column;
using tolbe::testing_support::write_file;

const std::string worked = file_text(std::string(TOLBE_EXAMPLES) + "/worked.txt");
const std::string bom = "\xEF\xBB\xBF";
constexpr std::size_t limit = std::size_t{16} << 20;  // the documented 16 MiB
const std::string counts = "the counts (selection variables, variables, reliability flag)";

class UnusualInput : public testing::TestWithParam<Case> {};

TEST_P(UnusualInput, gives_exactly_this) {
  expect_exactly(GetParam());
}

const std::string csv_header = "file,matrix,variable\n";

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
// The note on the worked example (and on the problems below with a unit
// restricted diagonal and unrestricted variances of 1.44), on standard error
// for the file `name`.
std::string correlations_note(const std::string& name) {
  return "tolbe: " + name +
         ": note: the restricted matrix has a unit diagonal (correlations) but the unrestricted "
         "one does not: that is right only when the unrestricted values are in units of the "
         "restricted standard deviations\n";
}
// The note on a value that is not finite where the correction reads
// nothing: V(row, column), variables from 1.
std::string unread_note(const std::string& name, int row, int column) {
  return "tolbe: " + name +
         ": note: the restricted var/cov matrix holds a value that is not a finite number for "
         "variable " +
         std::to_string(row) + " (row) and variable " + std::to_string(column) +
         " (column), where the correction reads nothing\n";
}
const std::string too_long =
    ": the file is longer than 16 MiB, and its first 16 MiB hold no whole problem; a problem of "
    "at most 50 variables needs far less\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, UnusualInput,
    testing::Values(
        // The mark is skipped, and columns count from after it.
        Case{"mark_before_a_typo",
             "b.txt",
             bom + "2 x 1\n",
             {"b.txt"},
             2,
             "",
             "tolbe: b.txt:1:3: \"x\" is not a number (" + counts + ")\n"},
        // A mark that is not at the start of the file is no mark.
        Case{"mark_after_a_blank",
             "b.txt",
             " " + bom + "2 3 1\n",
             {"b.txt"},
             2,
             "",
             "tolbe: b.txt:1:2: \"" + bom + "2\" is not a number (" + counts + ")\n"},
        // A Latin-1 byte in a malformed number: standard error has the bytes
        // as they are, JSON the replacement character.
        Case{"latin1_byte_in_json",
             "l.txt",
             "1\xDF"
             "2 0\n",
             {"--format=json", "l.txt"},
             2,
             "[\n  {\n    \"file\": \"l.txt\",\n    \"version\": \"" TOLBE_PROJECT_VERSION
             "\",\n    \"error\": \"tolbe: l.txt:1:2: \\\"\xEF\xBF\xBD"
             "2\\\" is not a number (" +
                 counts +
                 ")\",\n    \"refusal\": {\n      \"code\": \"not_a_number\",\n      \"argument\": "
                 "null,\n      \"file\": \"l.txt\",\n      \"line\": 1,\n      \"column\": 2,\n    "
                 "  "
                 "\"message\": \"\\\"\xEF\xBF\xBD"
                 "2\\\" is not a number (" +
                 counts + ")\"\n    }\n  }\n]\n",
             "tolbe: l.txt:1:2: \"\xDF"
             "2\" is not a number (" +
                 counts + ")\n"},
        // Selection variable 1: V21, row 2 and column 1, is never read.
        Case{"infinity_where_nothing_reads",
             "a.txt",
             "1 2 0\n1.0 0.5\n1e999 1.0\n1.44\n",
             {"--format=csv", "a.txt"},
             0,
             "file,matrix,variable,v1,v2\n"
             "a.txt,corrected_cov,1,1.44,0.72\n"
             "a.txt,corrected_cov,2,0.72,1.1099999999999999\n"
             "a.txt,corrected_corr,1,1,0.5694947974514994\n"
             "a.txt,corrected_corr,2,0.5694947974514994,1\n",
             correlations_note("a.txt") + unread_note("a.txt", 2, 1)},
        // Selection variable 2: now row 1 and column 2 is the one not read.
        Case{"infinity_where_nothing_reads_selected_second",
             "a.txt",
             "1 2 0\n1.0 1e999\n0.5 1.0\n1.44\n",
             {"--format=csv", "--select=2", "a.txt"},
             0,
             "file,matrix,variable,v1,v2\n"
             "a.txt,corrected_cov,1,1.1099999999999999,0.72\n"
             "a.txt,corrected_cov,2,0.72,1.44\n"
             "a.txt,corrected_corr,1,1,0.5694947974514994\n"
             "a.txt,corrected_corr,2,0.5694947974514994,1\n",
             correlations_note("a.txt") + unread_note("a.txt", 1, 2)},
        // ... but V12 is read.
        Case{"infinity_where_the_correction_reads",
             "a.txt",
             "1 2 0\n1.0 1e999\n0.5 1.0\n1.44\n",
             {"--format=csv", "a.txt"},
             2,
             csv_header,
             "tolbe: a.txt: the restricted var/cov matrix: a value read is not finite\n"},
        Case{"endless_zeros",
             "unused.txt",
             "",
             {"--format=csv", "/dev/zero"},
             2,
             csv_header,
             "tolbe: /dev/zero" + too_long},
        // Exactly the limit, and one byte over: the problem is complete in the
        // lines read, as a problem followed by anything is.
        Case{"problem_in_a_file_of_the_limit",
             "big.txt",
             worked + std::string(limit - worked.size(), '\n'),
             {"--format=csv", "big.txt"},
             0,
             worked_csv("big.txt"),
             correlations_note("big.txt")},
        Case{"problem_beyond_the_limit",
             "big.txt",
             std::string(limit - 2, '\n') + worked,
             {"--format=csv", "big.txt"},
             2,
             csv_header,
             "tolbe: big.txt" + too_long},
        // The problem's last line ends one byte before the limit; the file
        // goes on past it.
        Case{"problem_ending_at_the_limit",
             "big.txt",
             std::string(limit - worked.size(), '\n') + worked + "\n",
             {"--format=csv", "big.txt"},
             0,
             worked_csv("big.txt"),
             correlations_note("big.txt")}),
    [](const testing::TestParamInfo<Case>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(UnusualInput, a_byte_order_mark_changes_no_result) {
  BinaryRun plain = run_with({{"p.txt", worked}}, {"--format=json", "--check", "p.txt"});
  BinaryRun marked = run_with({{"p.txt", bom + worked}}, {"--format=json", "--check", "p.txt"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(marked.status, 0);
  EXPECT_EQ(marked.out, plain.out);
  EXPECT_EQ(marked.err, plain.err);
}

// File names of bytes that are not UTF-8 reach JSON as U+FFFD, one for each
// such byte; the rest of the output is as for any name.
TEST(UnusualInput, json_is_utf8_whatever_the_file_name) {
  ScratchFolder folder("tolbe_input_names");
  const std::vector<std::pair<std::string, std::string>> names = {
      {"\xFF\xFE.txt", "\xEF\xBF\xBD\xEF\xBF\xBD.txt"},
      {"caf\xE9.txt", "caf\xEF\xBF\xBD.txt"},
      {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},  // UTF-8 stays as it is
  };
  for (const auto& [name, shown] : names) {
    SCOPED_TRACE(shown);
    write_file(folder / name, worked);
    BinaryRun got = run_binary(TOLBE_BINARY, {"--format=json", name}, folder.path());
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, correlations_note(name));
    nlohmann::json document = nlohmann::json::parse(got.out);  // throws on invalid UTF-8
    EXPECT_EQ(document.at(0).at("file").get<std::string>(), shown);
    EXPECT_EQ(document.at(0).at("corrected_cov").at(0).at(1).get<double>(), 0.6);
  }
}

// No selection variable: nothing to correct and no unrestricted matrix to
// compare with, so a restricted matrix of correlations is no cause for the
// note on correlations beside covariances (nor for any other), in any
// format, from standard input as from a file.
TEST(UnusualInput, no_selection_variable_draws_no_note) {
  const tolbe::testing_support::Files none = {{"none.txt", "0 2 0\n1 0.5\n0.5 1\n"}};
  auto csv = [](const std::string& file) {
    return with_version_column("file,matrix,variable,v1,v2\n" + file + ",corrected_cov,1,1,0.5\n" +
                               file + ",corrected_cov,2,0.5,1\n" + file +
                               ",corrected_corr,1,1,0.5\n" + file + ",corrected_corr,2,0.5,1\n");
  };
  BinaryRun piped = run_with(none, {"--format=csv", "-"}, "none.txt");
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out, csv("-"));
  EXPECT_EQ(piped.err, "");
  BinaryRun checked = run_with(none, {"--format=csv", "--check", "none.txt"});
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.out, csv("none.txt"));
  EXPECT_EQ(checked.err, "");
  // A warning would refuse the results under --strict; a note is said.
  BinaryRun strict = run_with(none, {"--format=json", "--strict", "none.txt"});
  EXPECT_EQ(strict.status, 0);
  EXPECT_EQ(strict.err, "");
  nlohmann::json document = nlohmann::json::parse(strict.out);
  EXPECT_EQ(document.at(0).at("findings"), nlohmann::json::array());
  EXPECT_EQ(document.at(0).at("p"), 0);
  // The classic console program says nothing on standard error either.
  BinaryRun console = run_with(none, {}, "none.txt");
  EXPECT_EQ(console.status, 0);
  EXPECT_EQ(console.err, "");
  EXPECT_NE(console.out.find("Number of non-restricted variables:  0\n"), std::string::npos);
}

}  // namespace
