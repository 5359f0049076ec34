// The command-line tool, run as a user would: options, files, formats,
// located errors and warnings, checked exactly; CSV and JSON read back
// against the library; and the terminal behaviour under a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_case.h"
#include "support/report_mask.h"
#include "support/run_binary.h"
#include "support/scratch.h"
#include "tolbe/lawley.h"

namespace {

using tolbe::testing_support::Case;
using tolbe::testing_support::masked;
using tolbe::testing_support::try_help;
using tolbe::testing_support::with_version_column;

const std::string cli_cases = std::string(TOLBE_CASES) + "/../cli_cases";

std::string read_all(const std::string& path) {
  return tolbe::testing_support::file_text(path);
}

using Ran = tolbe::testing_support::BinaryRun;

// Runs tolbe with `args` in the folder of the CLI cases, standard input from
// `input` (a path, /dev/null by default).
Ran run(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
  return tolbe::testing_support::run_binary(TOLBE_BINARY, args, cli_cases, input);
}

// Cases without files, run in the folder of the CLI cases; an `out` of
// "<report NAME>" is the masked report of cases/NAME.out.
class CommandLine : public testing::TestWithParam<Case> {};

TEST_P(CommandLine, writes_exactly_what_it_should) {
  const Case& c = GetParam();
  Ran got = run(c.args);
  EXPECT_EQ(got.status, c.status);
  if (c.out.rfind("<report ", 0) == 0) {
    std::string name = c.out.substr(8, c.out.size() - 9);
    EXPECT_EQ(masked(got.out), read_all(std::string(TOLBE_CASES) + "/" + name + ".out"));
  } else {
    EXPECT_EQ(got.out, with_version_column(c.out));
  }
  EXPECT_EQ(got.err, c.err);
}

const std::string version =
    "tolbe " TOLBE_PROJECT_VERSION
    "\n"
    "Copyright (c) 2026 the tolbe developers; MIT licence: there is NO WARRANTY.\n";
const std::string clean_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "clean.txt,corrected_cov,1,1.44,0.6,0.39199999999999996\n"
    "clean.txt,corrected_cov,2,0.6,1.21,0.4833333333333334\n"
    "clean.txt,corrected_cov,3,0.39199999999999996,0.4833333333333334,1.0400444444444445\n"
    "clean.txt,corrected_corr,1,1,0.45454545454545453,0.3203161764360781\n"
    "clean.txt,corrected_corr,2,0.45454545454545453,0.9999999999999998,0.43085199984444655\n"
    "clean.txt,corrected_corr,3,0.3203161764360781,0.43085199984444655,0.9999999999999998\n";
const std::string worked = "../../../../examples/worked.txt";
const std::string mistakes_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "mistakes.txt,corrected_cov,1,1,2,0.8000000000000002\n"
    "mistakes.txt,corrected_cov,2,2,1,0.6\n"
    "mistakes.txt,corrected_cov,3,0.8000000000000002,0.6,1.1333333333333333\n"
    "mistakes.txt,corrected_corr,1,1,2,0.7514691493021796\n"
    "mistakes.txt,corrected_corr,2,2,1,0.5636018619766345\n"
    "mistakes.txt,corrected_corr,3,0.7514691493021796,0.5636018619766345,1\n"
    "mistakes.txt,disattenuated_corr,1,1,2,0.08349657214468661\n"
    "mistakes.txt,disattenuated_corr,2,2,1,0.06262242910851495\n"
    "mistakes.txt,disattenuated_corr,3,0.08349657214468661,0.06262242910851495,1\n";

// one_of_three.txt with --select=3: V11 = 1 and S = 4, so off the selection
// variable C = V + 3 V12' V12 and C13 = 4 V13, all exact in binary:
// variances 1, 1, 4; C12 = 0.21875 + 3 * 0.25 * 0.375 = 0.5, C13 = 1,
// C23 = 1.5. The reliabilities 0.25 and 4 are those of variables 1 and 2.
const std::string one_of_three_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "one_of_three.txt,corrected_cov,1,1,0.5,1\n"
    "one_of_three.txt,corrected_cov,2,0.5,1,1.5\n"
    "one_of_three.txt,corrected_cov,3,1,1.5,4\n"
    "one_of_three.txt,corrected_corr,1,1,0.5,0.5\n"
    "one_of_three.txt,corrected_corr,2,0.5,1,0.75\n"
    "one_of_three.txt,corrected_corr,3,0.5,0.75,1\n"
    "one_of_three.txt,disattenuated_corr,1,1,0.5,1\n"
    "one_of_three.txt,disattenuated_corr,2,0.5,1,0.375\n"
    "one_of_three.txt,disattenuated_corr,3,1,0.375,1\n";
const std::string select_help =
    " for '--select' (variable numbers 1 to 50, such as 1,4-5)\n" + try_help;
// zero_variances.txt: S = 0.25 against V11 = 1 takes 0.75 V12' V12 off V22,
// leaving variances of 0 for variables 2 and 3 (and C23 = 0.75): their
// correlations are divisions by 0.
const std::string zero_variances_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "zero_variances.txt,corrected_cov,1,0.25,0.25,-0.25\n"
    "zero_variances.txt,corrected_cov,2,0.25,0,0.75\n"
    "zero_variances.txt,corrected_cov,3,-0.25,0.75,0\n"
    "zero_variances.txt,corrected_corr,1,1,Inf,-Inf\n"
    "zero_variances.txt,corrected_corr,2,Inf,NaN,Inf\n"
    "zero_variances.txt,corrected_corr,3,-Inf,Inf,NaN\n";
// order_of_pairs.txt: S = 4 against V11 = 1; C = [[4, 1, 8], [1, 1, 1],
// [8, 1, 12.25]]: r13 = 8 / 7 is above 1 and r23 = 1 / 3.5 is positive where
// the restricted -0.5 was negative.
const std::string order_of_pairs_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "order_of_pairs.txt,corrected_cov,1,4,1,8\n"
    "order_of_pairs.txt,corrected_cov,2,1,1,1\n"
    "order_of_pairs.txt,corrected_cov,3,8,1,12.25\n"
    "order_of_pairs.txt,corrected_corr,1,1,0.5,1.1428571428571428\n"
    "order_of_pairs.txt,corrected_corr,2,0.5,1,0.2857142857142857\n"
    "order_of_pairs.txt,corrected_corr,3,1.1428571428571428,0.2857142857142857,1\n";
// zero_last_variance.txt: V12 = 0 and S = V11, so C = V, whose last variance
// is 0.
const std::string zero_last_variance_csv =
    "file,matrix,variable,v1,v2,v3\n"
    "zero_last_variance.txt,corrected_cov,1,1,0,0\n"
    "zero_last_variance.txt,corrected_cov,2,0,1,0\n"
    "zero_last_variance.txt,corrected_cov,3,0,0,0\n"
    "zero_last_variance.txt,corrected_corr,1,1,0,NaN\n"
    "zero_last_variance.txt,corrected_corr,2,0,1,NaN\n"
    "zero_last_variance.txt,corrected_corr,3,NaN,NaN,NaN\n";
// fifty_last.txt: V = I of order 50, selection variable 50 with S = 4: C = V
// but for C(50, 50) = 4, and the correlations are those of I.
std::string fifty_last_csv() {
  std::string text = "file,matrix,variable";
  for (int j = 1; j <= 50; ++j) text += ",v" + std::to_string(j);
  text += "\n";
  for (std::string matrix : {"corrected_cov", "corrected_corr"}) {
    for (int i = 1; i <= 50; ++i) {
      text += "fifty_last.txt," + matrix + "," + std::to_string(i);
      for (int j = 1; j <= 50; ++j) {
        text += i != j ? ",0" : (i == 50 && matrix == "corrected_cov") ? ",4" : ",1";
      }
      text += "\n";
    }
  }
  return text;
}
// Standard error for the findings `lines` ("SEVERITY: MESSAGE") of `file`.
std::string said(const std::string& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "tolbe: " + file + ": " + line + "\n";
  return text;
}

// What the checks say about the files above, worked out from each input and
// the words of the table of findings. clean.txt, worked.txt and
// fifty_last.txt: a restricted matrix of correlations (unit diagonal) beside
// unrestricted variances that are not 1.
const std::string correlations_beside_covariances =
    "note: the restricted matrix has a unit diagonal (correlations) but the unrestricted one does "
    "not: that is right only when the unrestricted values are in units of the restricted "
    "standard deviations";
const std::string two_correlation_matrices =
    "warning: both matrices have a unit diagonal (correlations?): the correction then takes the "
    "selection variables' variances to be the same in the population as in the sample, and "
    "corrects only for the change in their correlations; give the unrestricted matrix in units "
    "of the restricted standard deviations, or both as variances and covariances";
const std::string restricted_not_positive_definite =
    "warning: the restricted var/cov matrix, as the correction reads it, is not positive "
    "definite: it cannot be the var/cov matrix of real data; check it for typing errors";
// The restricted asymmetry of 0.5 against 0.4 (of variables 1 and 2, unit
// variances) in asymmetric.txt and mistakes.txt.
const std::string restricted_asymmetric =
    "warning: the restricted var/cov matrix is not symmetric: its two values for variable 1 and "
    "variable 2 differ by 0.1 relative to their standard deviations (the largest difference); "
    "the correction used the upper triangle of the selection variables' block, the rest of "
    "their rows and the whole block of the other variables, and ignored the rest";
// mistakes.txt: V12 = 0.5 above and 0.4 below; S = [[1, 2], [2, 1]] is not
// positive definite and gives C12 = 2, hence r12 = 2 corrected and
// disattenuated; both diagonals are 1; a reliability of 81 for variable 3,
// and 0.9 more than the one reliability the line needs.
const std::vector<std::string> mistakes_findings = {
    "warning: line 7 holds more numbers than the reliabilities calls for (1); the rest of the "
    "line was ignored",
    restricted_asymmetric,
    "warning: the unrestricted var/cov matrix is not positive definite: it cannot be the "
    "var/cov matrix of real data, and the corrected values mean little",
    two_correlation_matrices,
    "warning: the reliability of variable 3 is outside (0, 1]; a reliability is a proportion "
    "such as 0.81",
    "warning: the corrected correlation of variable 1 and variable 2 is 2, above 1 in magnitude",
    "warning: the disattenuated correlation of variable 1 and variable 2 is 2, above 1 in "
    "magnitude; check the reliabilities"};
// one_of_three.txt with --select=3: the reliabilities 0.25 and 4 are those
// of variables 1 and 2.
const std::string reliability_of_variable_2 =
    "warning: the reliability of variable 2 is outside (0, 1]; a reliability is a proportion "
    "such as 0.81";
// zero_variances.txt: r12 = 1 / sqrt(0.75) in V; corrected variances 0 for
// variables 2 and 3, so r12, r13 and r23 are infinite; the selection
// variable's S = 0.25 is below its V = 1.
const std::vector<std::string> zero_variances_findings = {
    restricted_not_positive_definite,
    "warning: the corrected variance of variable 2 is not positive (2 in all); its correlations "
    "are not numbers",
    "warning: the corrected correlation of variable 1 and variable 2 is infinite (a variance it "
    "divides by is 0) (3 in all)",
    "warning: the unrestricted variance of variable 1, a selection variable, is below its "
    "restricted variance (0.25 against 1): selection on a variable shrinks its variance. "
    "Standard deviations in place of variances, or the unrestricted matrix's variables in "
    "another order than the restricted one's, give this"};
// order_of_pairs.txt: r13 = 2 / 0.5 in V; corrected r13 = 8 / 7; r23 from
// -0.5 / sqrt(0.8125 * 0.25) to 1 / 3.5 (variable 1 alone is selected, so
// the pair is outside the selection block).
const std::vector<std::string> order_of_pairs_findings = {
    restricted_not_positive_definite,
    "warning: the corrected correlation of variable 1 and variable 3 is 1.143, above 1 in "
    "magnitude",
    "note: the correlation of variable 2 and variable 3 changes sign against the restricted "
    "sample (Ree et al. 1994)"};
// asymmetric.txt: V12 0.5 and 0.4, S12 0.5 and 0.3, every variance 1.
const std::vector<std::string> asymmetric_findings = {
    restricted_asymmetric,
    "warning: the unrestricted var/cov matrix is not symmetric: its two values for variable 1 "
    "and variable 2 differ by 0.2 relative to their standard deviations (the largest "
    "difference); the correction used all of it",
    two_correlation_matrices};
// zero_last_variance.txt: V = diag(1, 1, 0) and S = 1: the input's variance
// 0 (no separate word on definiteness then), a unit unrestricted diagonal
// beside a restricted one that is not, C = V, and r13, r23 are 0 / 0.
const std::vector<std::string> zero_last_variance_findings = {
    "warning: the restricted variance of variable 3 is not positive",
    "warning: the unrestricted matrix has a unit diagonal (correlations?) but the restricted one "
    "does not: enter both as variances and covariances",
    "warning: the corrected variance of variable 3 is not positive; its correlations are not "
    "numbers",
    "warning: the corrected correlation of variable 1 and variable 3 is not a number (a variance "
    "it divides by is not positive) (2 in all)"};

INSTANTIATE_TEST_SUITE_P(
    cli_e2e_test, CommandLine,
    testing::Values(
        Case{"version", {"--version"}, 0, version, ""},
        Case{"short_version", {"-V"}, 0, version, ""},
        Case{"unknown_option", {"--x"}, 2, "", "tolbe: unrecognized option '--x'\n" + try_help},
        Case{"unknown_short_option", {"-z"}, 2, "", "tolbe: invalid option -- 'z'\n" + try_help},
        Case{"bad_format",
             {"--format=xml", "clean.txt"},
             2,
             "",
             "tolbe: invalid argument 'xml' for '--format' (valid: report, csv, json, table, "
             "markdown)\n" +
                 try_help},
        Case{"bad_selection",
             {"--select=0,2"},
             2,
             "",
             "tolbe: invalid argument '0,2' for '--select' (variable numbers 1 to 50, such as "
             "1,4-5)\n" +
                 try_help},
        Case{"missing_argument",
             {"--format"},
             2,
             "",
             "tolbe: option '--format' requires an argument\n" + try_help},
        Case{"report_of_a_file",
             {worked},
             0,
             "<report worked>",
             said(worked, {correlations_beside_covariances})},
        Case{"after_double_dash",
             {"--", worked},
             0,
             "<report worked>",
             said(worked, {correlations_beside_covariances})},
        Case{"csv",
             {"--format=csv", "clean.txt"},
             0,
             clean_csv,
             said("clean.txt", {correlations_beside_covariances})},
        Case{"file_that_cannot_be_opened_and_one_that_can",
             {"--format=csv", "nope.txt", "clean.txt"},
             2,
             clean_csv,
             "tolbe: cannot open 'nope.txt': No such file or directory\n" +
                 said("clean.txt", {correlations_beside_covariances})},
        Case{"located_error",
             {"typo.txt"},
             2,
             "",
             "tolbe: typo.txt:3:6: \"l.00\" is not a number (row 2 of the restricted var/cov "
             "matrix)\n"},
        Case{"input_that_ends_early",
             {"--format=csv", "../cases/ends_after_counts.in"},
             2,
             "file,matrix,variable\n",
             "tolbe: ../cases/ends_after_counts.in:2: the input ends in row 1 of the restricted "
             "var/cov matrix: 0 of 3 values read\n"},
        Case{"more_selection_variables_than_variables",
             {"../cases/more_nonrestricted_than_total.in"},
             2,
             "",
             "tolbe: ../cases/more_nonrestricted_than_total.in:1: there are more selection "
             "variables (3) than variables in all (2)\n"},
        // The findings of the input, which may say why, come before the
        // refusal.
        Case{"selection_block_not_positive_definite",
             {"../cases/not_positive_definite.in"},
             2,
             "",
             said("../cases/not_positive_definite.in",
                  {restricted_not_positive_definite, correlations_beside_covariances}) +
                 "tolbe: ../cases/not_positive_definite.in: the restricted var/cov matrix of the "
                 "selection variables is not positive definite (leading minor of order 2); it "
                 "cannot "
                 "be inverted\n"},
        Case{"value_that_is_not_finite",
             {"huge.txt"},
             2,
             "",
             "tolbe: huge.txt: the restricted var/cov matrix: a value read is not finite\n"},
        Case{"selection_of_the_wrong_size",
             {"--select=1", "clean.txt"},
             2,
             "",
             "tolbe: clean.txt: --select names 1 variables, but the problem has 2 selection "
             "variables\n"},
        // The checks are on by default; --check (kept from when they were
        // not) undoes an earlier --quiet; -q and --quiet silence warnings
        // and notes.
        Case{"default_warns_about_each_mistake",
             {"--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             said("mistakes.txt", mistakes_findings)},
        Case{"check_warns_about_each_mistake",
             {"--check", "--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             said("mistakes.txt", mistakes_findings)},
        Case{"check_notes_correlations_beside_covariances",
             {"--check", "--format=csv", "clean.txt"},
             0,
             clean_csv,
             said("clean.txt", {correlations_beside_covariances})},
        Case{
            "quiet_writes_no_warning", {"-q", "--format=csv", "mistakes.txt"}, 0, mistakes_csv, ""},
        Case{"long_quiet_writes_no_warning",
             {"--quiet", "--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             ""},
        Case{"quiet_writes_no_note", {"--quiet", "--format=csv", "clean.txt"}, 0, clean_csv, ""},
        Case{"check_undoes_an_earlier_quiet",
             {"--quiet", "--check", "--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             said("mistakes.txt", mistakes_findings)},
        Case{"quiet_after_check_wins",
             {"--check", "-q", "--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             ""},
        // --select at the bounds: the last variable, a range of one, 50.
        Case{"select_the_last_variable",
             {"--format=csv", "--select=3", "one_of_three.txt"},
             0,
             one_of_three_csv,
             said("one_of_three.txt", {reliability_of_variable_2})},
        Case{"select_a_range_of_one",
             {"--format=csv", "--select=3-3", "one_of_three.txt"},
             0,
             one_of_three_csv,
             said("one_of_three.txt", {reliability_of_variable_2})},
        Case{"select_one_past_the_last_variable",
             {"--format=csv", "--select=4", "one_of_three.txt"},
             2,
             "file,matrix,variable\n",
             "tolbe: one_of_three.txt: --select names variable 4, but the problem has 3 "
             "variables\n"},
        Case{"select_fifty_of_three",
             {"--select=50", "one_of_three.txt"},
             2,
             "",
             "tolbe: one_of_three.txt: --select names variable 50, but the problem has 3 "
             "variables\n"},
        Case{"select_fifty_of_fifty",
             {"--format=csv", "--select=50", "fifty_last.txt"},
             0,
             fifty_last_csv(),
             said("fifty_last.txt", {correlations_beside_covariances})},
        Case{"select_range_ending_at_fifty",
             {"--format=csv", "--select=50-50", "fifty_last.txt"},
             0,
             fifty_last_csv(),
             said("fifty_last.txt", {correlations_beside_covariances})},
        Case{"select_fifty_one",
             {"--select=51", "clean.txt"},
             2,
             "",
             "tolbe: invalid argument '51'" + select_help},
        Case{"select_range_to_fifty_one",
             {"--select=50-51", "clean.txt"},
             2,
             "",
             "tolbe: invalid argument '50-51'" + select_help},
        Case{"select_range_backwards",
             {"--select=3-2", "clean.txt"},
             2,
             "",
             "tolbe: invalid argument '3-2'" + select_help},
        // With the selection variable last, the reliabilities are those of
        // variables 1 and 2: the 4 is variable 2's.
        Case{"reliability_named_under_select",
             {"--check", "--format=csv", "--select=3", "one_of_three.txt"},
             0,
             one_of_three_csv,
             said("one_of_three.txt", {reliability_of_variable_2})},
        // R's spellings of the values that are not numbers.
        Case{"csv_spells_infinities_and_nan_as_r_reads_them",
             {"--format=csv", "zero_variances.txt"},
             0,
             zero_variances_csv,
             said("zero_variances.txt", zero_variances_findings)},
        Case{"check_counts_zero_corrected_variances",
             {"--check", "--format=csv", "zero_variances.txt"},
             0,
             zero_variances_csv,
             said("zero_variances.txt", zero_variances_findings)},
        Case{"check_names_pairs_row_then_column",
             {"--check", "--format=csv", "order_of_pairs.txt"},
             0,
             order_of_pairs_csv,
             said("order_of_pairs.txt", order_of_pairs_findings)},
        // Each asymmetry with its own number: 0.5 - 0.4 in the restricted
        // matrix, 0.5 - 0.3 in the unrestricted one (unit diagonals).
        Case{"check_gives_each_asymmetry_its_own_number",
             {"--check", "--format=csv", "asymmetric.txt"},
             0,
             "file,matrix,variable,v1,v2\n"
             "asymmetric.txt,corrected_cov,1,1,0.5\n"
             "asymmetric.txt,corrected_cov,2,0.3,1\n"
             "asymmetric.txt,corrected_corr,1,1,0.5\n"
             "asymmetric.txt,corrected_corr,2,0.3,1\n",
             said("asymmetric.txt", asymmetric_findings)},
        // The restricted variance of the last variable is checked too.
        Case{"check_warns_about_the_last_restricted_variance",
             {"--check", "--format=csv", "zero_last_variance.txt"},
             0,
             zero_last_variance_csv,
             said("zero_last_variance.txt", zero_last_variance_findings)}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

TEST(cli_e2e_test, help_is_the_usage_on_standard_output) {
  Ran got = run({"--help"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out.rfind("Usage: tolbe [OPTION]... [FILE]...\n", 0), 0u);
  EXPECT_NE(got.out.find("--select=LIST"), std::string::npos);
  EXPECT_EQ(got.err, "");
}

TEST(cli_e2e_test, standard_input_as_dash) {
  Ran got = run({"--format=csv", "-"}, cli_cases + "/clean.txt");
  EXPECT_EQ(got.status, 0);
  std::string want = clean_csv;
  for (std::size_t at; (at = want.find("clean.txt")) != std::string::npos;)
    want.replace(at, 9, "-");
  EXPECT_EQ(got.out, with_version_column(want));
  EXPECT_EQ(got.err, said("standard input", {correlations_beside_covariances}));
}

// The library's results for clean.txt, with the selection given (0-based).
tolbe::LawleyCorrection clean_by_the_library(std::span<const int> selection = {}) {
  static const double v[9] = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
  static const double s[4] = {1.44, 0.60, 0.60, 1.21};
  tolbe::LawleyProblem problem;
  problem.q = 3;
  problem.p = 2;
  problem.restricted = v;
  problem.ld_restricted = 3;
  problem.unrestricted = s;
  problem.ld_unrestricted = 2;
  problem.selection = selection;
  return tolbe::lawley(problem);
}

TEST(cli_e2e_test, csv_reads_back_to_the_librarys_doubles_bit_for_bit) {
  Ran got = run({"--format=csv", "--select=2,1", "clean.txt"});
  ASSERT_EQ(got.status, 0);
  static const int swapped[2] = {1, 0};
  tolbe::LawleyCorrection want = clean_by_the_library(swapped);
  std::istringstream lines(got.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "version,file,matrix,variable,v1,v2,v3");
  int compared = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[0], TOLBE_PROJECT_VERSION);
    int i = std::stoi(fields[3]) - 1;
    const std::vector<double>& m =
        fields[2] == "corrected_cov" ? want.covariances : want.correlations;
    for (int j = 0; j < 3; ++j) {
      double read = std::strtod(fields[static_cast<std::size_t>(4 + j)].c_str(), nullptr);
      ASSERT_EQ(std::bit_cast<std::uint64_t>(read),
                std::bit_cast<std::uint64_t>(m[static_cast<std::size_t>(i + 3 * j)]));
      ++compared;
    }
  }
  EXPECT_EQ(compared, 18);
}

TEST(cli_e2e_test, json_parses_and_holds_the_librarys_values) {
  Ran got = run({"--format=json", "clean.txt", "typo.txt"});
  EXPECT_EQ(got.status, 2);
  nlohmann::json doc = nlohmann::json::parse(got.out);
  ASSERT_EQ(doc.size(), 2u);
  EXPECT_EQ(doc[1]["file"], "typo.txt");
  EXPECT_EQ(doc[1]["error"],
            "tolbe: typo.txt:3:6: \"l.00\" is not a number (row 2 of the restricted var/cov "
            "matrix)");
  const nlohmann::json& c = doc[0];
  EXPECT_EQ(c["p"], 2);
  EXPECT_EQ(c["selection"], nlohmann::json({1, 2}));
  tolbe::LawleyCorrection want = clean_by_the_library();
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      std::size_t k = static_cast<std::size_t>(i + 3 * j);
      EXPECT_EQ(c["corrected_cov"][i][j].get<double>(), want.covariances[k]);
      EXPECT_EQ(c["corrected_corr"][i][j].get<double>(), want.correlations[k]);
    }
  }
  EXPECT_TRUE(c["disattenuated_corr"].is_null());
  // The unit diagonal of the restricted matrix only.
  EXPECT_EQ(c["findings"], nlohmann::json::parse(R"json([{
    "code": "correlations_beside_covariances", "severity": "note",
    "message": "the restricted matrix has a unit diagonal (correlations) but the unrestricted one does not: that is right only when the unrestricted values are in units of the restricted standard deviations",
    "variables": []}])json"));
  EXPECT_EQ(c["warnings"], nlohmann::json::array({c["findings"][0]["message"]}));
  EXPECT_EQ(got.err,
            said("clean.txt", {correlations_beside_covariances}) +
                "tolbe: typo.txt:3:6: \"l.00\" is not a number (row 2 of the restricted var/cov "
                "matrix)\n");
}

// A file name holding a comma, a quote, a line feed or a carriage return is
// quoted in the CSV, each quote doubled; any other is written as it is. On
// standard error its control characters are written out, so that the
// message stays one line and the terminal's state as it was.
TEST(cli_e2e_test, csv_quotes_file_names_that_need_it) {
  struct Named {
    std::string name;
    std::string field;  // the name's CSV field, after the folder
    bool quoted;
    std::string shown;  // in messages
  };
  tolbe::testing_support::ScratchFolder scratch("tolbe_cli_names");
  const std::string& folder = scratch.path();
  ASSERT_EQ(folder.find_first_of(",\"\n"), std::string::npos) << folder;
  const std::string clean = read_all(cli_cases + "/clean.txt");
  for (const Named& n :
       {Named{"plain.txt", "plain.txt", false, "plain.txt"},
        Named{"quote\"d.txt", "quote\"\"d.txt", true, "quote\"d.txt"},
        Named{"\"leading.txt", "\"\"leading.txt", true, "\"leading.txt"},
        Named{"two\"\"quotes.txt", "two\"\"\"\"quotes.txt", true, "two\"\"quotes.txt"},
        Named{"comma,d.txt", "comma,d.txt", true, "comma,d.txt"},
        Named{"line\nend.txt", "line\nend.txt", true, "line\\x0aend.txt"},
        Named{"carriage\rreturn.txt", "carriage\rreturn.txt", true, "carriage\\x0dreturn.txt"},
        Named{"esc\x1b[31mred.txt", "esc\x1b[31mred.txt", false, "esc\\x1b[31mred.txt"},
        Named{"tab\t.txt", "tab\t.txt", false, "tab\\x09.txt"}}) {
    SCOPED_TRACE(n.name);
    const std::string path = folder + "/" + n.name;
    std::ofstream(path, std::ios::binary) << clean;
    std::string field = folder + "/" + n.field;
    if (n.quoted) field = "\"" + field + "\"";
    std::string want = clean_csv;
    for (std::size_t at = 0; (at = want.find("clean.txt", at)) != std::string::npos;
         at += field.size()) {
      want.replace(at, 9, field);
    }
    Ran got = run({"--format=csv", path});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, with_version_column(want));
    EXPECT_EQ(got.err, said(folder + "/" + n.shown, {correlations_beside_covariances}));
  }
}

// The JSON documents of small problems worked out by hand (see the CSV of
// the same files above), compared whole: every member, in order. Places are
// [row, column], numbered from 1, row < column; the variables of a finding
// are numbered from 1 too. Standard error has the same findings.
struct JsonCase {
  const char* name;
  std::vector<std::string> args;
  const char* document;
  std::string err;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonDocument : public testing::TestWithParam<JsonCase> {};

TEST_P(JsonDocument, holds_the_values_worked_by_hand) {
  Ran got = run(GetParam().args);
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, GetParam().err);
  ASSERT_FALSE(got.out.empty());
  EXPECT_EQ(got.out.back(), '\n');
  nlohmann::ordered_json want = nlohmann::ordered_json::parse(GetParam().document);
  // Each document says the version that wrote it, the project's.
  for (auto& document : want) {
    if (document.value("version", "") == "<version>") document["version"] = TOLBE_PROJECT_VERSION;
  }
  nlohmann::ordered_json have = nlohmann::ordered_json::parse(got.out);
  EXPECT_EQ(have, want) << have.dump(1);
}

INSTANTIATE_TEST_SUITE_P(
    cli_e2e_test, JsonDocument,
    testing::Values(JsonCase{"pairs_are_row_then_column",
                             {"--format=json", "order_of_pairs.txt"},
                             R"json([{
  "file": "order_of_pairs.txt", "version": "<version>", "p": 1, "q": 3, "reliability_flag": 0, "selection": [1],
  "restricted": [[1, 0.25, 2], [0.25, 0.8125, -0.5], [2, -0.5, 0.25]],
  "unrestricted": [[4]],
  "reliabilities": null,
  "corrected_cov": [[4, 1, 8], [1, 1, 1], [8, 1, 12.25]],
  "corrected_corr": [[1, 0.5, 1.1428571428571428], [0.5, 1, 0.2857142857142857],
                     [1.1428571428571428, 0.2857142857142857, 1]],
  "disattenuated_corr": null,
  "diagnostics": {
    "restricted_asymmetry": 0, "unrestricted_asymmetry": 0,
    "restricted_positive_definite": false, "unrestricted_positive_definite": true,
    "nonpositive_variances": 0, "first_nonpositive_variance": null,
    "correlations_out_of_range": 1, "first_correlation_out_of_range": [1, 3],
    "disattenuated_out_of_range": 0, "first_disattenuated_out_of_range": null,
    "reliabilities_out_of_range": 0, "first_reliability_out_of_range": null,
    "sign_changes": 1, "first_sign_change": [2, 3]},
  "findings": [
    {"code": "restricted_not_positive_definite", "severity": "warning",
     "message": "the restricted var/cov matrix, as the correction reads it, is not positive definite: it cannot be the var/cov matrix of real data; check it for typing errors",
     "variables": []},
    {"code": "correlation_out_of_range", "severity": "warning",
     "message": "the corrected correlation of variable 1 and variable 3 is 1.143, above 1 in magnitude",
     "variables": [1, 3]},
    {"code": "sign_change", "severity": "note",
     "message": "the correlation of variable 2 and variable 3 changes sign against the restricted sample (Ree et al. 1994)",
     "variables": [2, 3]}],
  "warnings": [
    "the restricted var/cov matrix, as the correction reads it, is not positive definite: it cannot be the var/cov matrix of real data; check it for typing errors",
    "the corrected correlation of variable 1 and variable 3 is 1.143, above 1 in magnitude",
    "the correlation of variable 2 and variable 3 changes sign against the restricted sample (Ree et al. 1994)"]
}])json",
                             said("order_of_pairs.txt", order_of_pairs_findings)},
                    JsonCase{"zero_variances_counted_and_infinities_null",
                             {"--format=json", "zero_variances.txt"},
                             R"json([{
  "file": "zero_variances.txt", "version": "<version>", "p": 1, "q": 3, "reliability_flag": 0, "selection": [1],
  "restricted": [[1, 1, -1], [1, 0.75, 0], [-1, 0, 0.75]],
  "unrestricted": [[0.25]],
  "reliabilities": null,
  "corrected_cov": [[0.25, 0.25, -0.25], [0.25, 0, 0.75], [-0.25, 0.75, 0]],
  "corrected_corr": [[1, null, null], [null, null, null], [null, null, null]],
  "disattenuated_corr": null,
  "diagnostics": {
    "restricted_asymmetry": 0, "unrestricted_asymmetry": 0,
    "restricted_positive_definite": false, "unrestricted_positive_definite": true,
    "nonpositive_variances": 2, "first_nonpositive_variance": 2,
    "correlations_out_of_range": 3, "first_correlation_out_of_range": [1, 2],
    "disattenuated_out_of_range": 0, "first_disattenuated_out_of_range": null,
    "reliabilities_out_of_range": 0, "first_reliability_out_of_range": null,
    "sign_changes": 0, "first_sign_change": null},
  "findings": [
    {"code": "restricted_not_positive_definite", "severity": "warning",
     "message": "the restricted var/cov matrix, as the correction reads it, is not positive definite: it cannot be the var/cov matrix of real data; check it for typing errors",
     "variables": []},
    {"code": "corrected_variance_not_positive", "severity": "warning",
     "message": "the corrected variance of variable 2 is not positive (2 in all); its correlations are not numbers",
     "variables": [2]},
    {"code": "correlation_out_of_range", "severity": "warning",
     "message": "the corrected correlation of variable 1 and variable 2 is infinite (a variance it divides by is 0) (3 in all)",
     "variables": [1, 2]},
    {"code": "selection_variance_grew", "severity": "warning",
     "message": "the unrestricted variance of variable 1, a selection variable, is below its restricted variance (0.25 against 1): selection on a variable shrinks its variance. Standard deviations in place of variances, or the unrestricted matrix's variables in another order than the restricted one's, give this",
     "variables": [1]}],
  "warnings": [
    "the restricted var/cov matrix, as the correction reads it, is not positive definite: it cannot be the var/cov matrix of real data; check it for typing errors",
    "the corrected variance of variable 2 is not positive (2 in all); its correlations are not numbers",
    "the corrected correlation of variable 1 and variable 2 is infinite (a variance it divides by is 0) (3 in all)",
    "the unrestricted variance of variable 1, a selection variable, is below its restricted variance (0.25 against 1): selection on a variable shrinks its variance. Standard deviations in place of variances, or the unrestricted matrix's variables in another order than the restricted one's, give this",
    "values that are not finite numbers are written as null"]
}])json",
                             said("zero_variances.txt", zero_variances_findings)},
                    JsonCase{"selection_last_and_its_reliabilities",
                             {"--format=json", "--select=3", "one_of_three.txt"},
                             R"json([{
  "file": "one_of_three.txt", "version": "<version>", "p": 1, "q": 3, "reliability_flag": 1, "selection": [3],
  "restricted": [[0.8125, 0.21875, 0.25], [0.21875, 0.578125, 0.375], [0.25, 0.375, 1]],
  "unrestricted": [[4]],
  "reliabilities": [0.25, 4],
  "corrected_cov": [[1, 0.5, 1], [0.5, 1, 1.5], [1, 1.5, 4]],
  "corrected_corr": [[1, 0.5, 0.5], [0.5, 1, 0.75], [0.5, 0.75, 1]],
  "disattenuated_corr": [[1, 0.5, 1], [0.5, 1, 0.375], [1, 0.375, 1]],
  "diagnostics": {
    "restricted_asymmetry": 0, "unrestricted_asymmetry": 0,
    "restricted_positive_definite": true, "unrestricted_positive_definite": true,
    "nonpositive_variances": 0, "first_nonpositive_variance": null,
    "correlations_out_of_range": 0, "first_correlation_out_of_range": null,
    "disattenuated_out_of_range": 0, "first_disattenuated_out_of_range": null,
    "reliabilities_out_of_range": 1, "first_reliability_out_of_range": 2,
    "sign_changes": 0, "first_sign_change": null},
  "findings": [
    {"code": "reliability_out_of_range", "severity": "warning",
     "message": "the reliability of variable 2 is outside (0, 1]; a reliability is a proportion such as 0.81",
     "variables": [2]}],
  "warnings": [
    "the reliability of variable 2 is outside (0, 1]; a reliability is a proportion such as 0.81"]
}])json",
                             said("one_of_three.txt", {reliability_of_variable_2})},
                    JsonCase{"asymmetries_each_their_own",
                             {"--format=json", "asymmetric.txt"},
                             R"json([{
  "file": "asymmetric.txt", "version": "<version>", "p": 2, "q": 2, "reliability_flag": 0, "selection": [1, 2],
  "restricted": [[1, 0.5], [0.4, 1]],
  "unrestricted": [[1, 0.5], [0.3, 1]],
  "reliabilities": null,
  "corrected_cov": [[1, 0.5], [0.3, 1]],
  "corrected_corr": [[1, 0.5], [0.3, 1]],
  "disattenuated_corr": null,
  "diagnostics": {
    "restricted_asymmetry": 0.09999999999999998, "unrestricted_asymmetry": 0.2,
    "restricted_positive_definite": true, "unrestricted_positive_definite": true,
    "nonpositive_variances": 0, "first_nonpositive_variance": null,
    "correlations_out_of_range": 0, "first_correlation_out_of_range": null,
    "disattenuated_out_of_range": 0, "first_disattenuated_out_of_range": null,
    "reliabilities_out_of_range": 0, "first_reliability_out_of_range": null,
    "sign_changes": 0, "first_sign_change": null},
  "findings": [
    {"code": "restricted_asymmetric", "severity": "warning",
     "message": "the restricted var/cov matrix is not symmetric: its two values for variable 1 and variable 2 differ by 0.1 relative to their standard deviations (the largest difference); the correction used the upper triangle of the selection variables' block, the rest of their rows and the whole block of the other variables, and ignored the rest",
     "variables": [1, 2]},
    {"code": "unrestricted_asymmetric", "severity": "warning",
     "message": "the unrestricted var/cov matrix is not symmetric: its two values for variable 1 and variable 2 differ by 0.2 relative to their standard deviations (the largest difference); the correction used all of it",
     "variables": [1, 2]},
    {"code": "two_correlation_matrices", "severity": "warning",
     "message": "both matrices have a unit diagonal (correlations?): the correction then takes the selection variables' variances to be the same in the population as in the sample, and corrects only for the change in their correlations; give the unrestricted matrix in units of the restricted standard deviations, or both as variances and covariances",
     "variables": []}],
  "warnings": [
    "the restricted var/cov matrix is not symmetric: its two values for variable 1 and variable 2 differ by 0.1 relative to their standard deviations (the largest difference); the correction used the upper triangle of the selection variables' block, the rest of their rows and the whole block of the other variables, and ignored the rest",
    "the unrestricted var/cov matrix is not symmetric: its two values for variable 1 and variable 2 differ by 0.2 relative to their standard deviations (the largest difference); the correction used all of it",
    "both matrices have a unit diagonal (correlations?): the correction then takes the selection variables' variances to be the same in the population as in the sample, and corrects only for the change in their correlations; give the unrestricted matrix in units of the restricted standard deviations, or both as variances and covariances"]
}])json",
                             said("asymmetric.txt", asymmetric_findings)}),
    [](const testing::TestParamInfo<JsonCase>& param_info) { return param_info.param.name; });

// At a terminal: the hint before reading, and report lines written as they
// end, so that the diagnostic of a typo comes below them.
TEST(cli_e2e_test, at_a_terminal_the_hint_and_lines_as_they_end) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    termios modes{};
    tcgetattr(STDIN_FILENO, &modes);
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    execl(TOLBE_BINARY, "tolbe", static_cast<char*>(nullptr));
    _exit(127);
  }
  const char typed[] = "2 3 0\n1 x\n";
  ASSERT_EQ(write(master, typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
  std::string screen;
  char buffer[4096];
  for (;;) {
    ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has gone
    screen.append(buffer, static_cast<std::size_t>(got));
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2);
  std::size_t hint = screen.find(
      "tolbe: reading the problem from the terminal; end it with Ctrl-D (tolbe --help for more)");
  std::size_t counts = screen.find("Total number of variables:  3");
  std::size_t diagnostic = screen.find("invalid number: incomprehensible list input");
  ASSERT_NE(hint, std::string::npos) << screen;
  ASSERT_NE(counts, std::string::npos) << screen;
  ASSERT_NE(diagnostic, std::string::npos) << screen;
  EXPECT_LT(hint, counts);
  EXPECT_LT(counts, diagnostic);
}

}  // namespace
