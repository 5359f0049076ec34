// The command line's validity question (--criterion, --predictors, --base),
// reliabilities of the restricted sample (--reliabilities-from), names for
// matrix input (--names) and the Markdown table, run as a user would:
// outputs and refusals checked exactly; the JSON's values against the
// library's lawley_validity called directly, bit for bit; and the weights
// and R^2 against a regression solved here on the corrected var/cov matrix
// the CSV prints.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e_case.h"
#include "support/run_binary.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/validity.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::Case;
using tolbe::testing_support::expect_exactly;
using tolbe::testing_support::Files;
using tolbe::testing_support::run_with;
using tolbe::testing_support::try_help;

// Two selection variables, a third test and a criterion, the last two with
// reliabilities (0.81 and 0.70).
const std::string four =
    "2 4 1\n"
    "1.00 0.30 0.35 0.20\n"
    "0.30 1.00 0.25 0.30\n"
    "0.35 0.25 1.00 0.40\n"
    "0.20 0.30 0.40 1.00\n"
    "1.44 0.50\n"
    "0.50 1.21\n"
    "0.81 0.70\n";
const double four_v[16] = {1.00, 0.30, 0.35, 0.20, 0.30, 1.00, 0.25, 0.30,
                           0.35, 0.25, 1.00, 0.40, 0.20, 0.30, 0.40, 1.00};
const double four_s[4] = {1.44, 0.50, 0.50, 1.21};
const int four_selection[2] = {0, 1};
const double four_reliabilities[2] = {0.81, 0.70};
const std::string four_note =
    "tolbe: four.txt: note: the restricted matrix has a unit diagonal (correlations) but the "
    "unrestricted one does not: that is right only when the unrestricted values are in units of "
    "the restricted standard deviations\n";

// The worked example with names.
const std::string worked =
    "2 3 1\n1.00 0.50 0.30\n0.50 1.00 0.40\n0.30 0.40 1.00\n"
    "1.44 0.60\n0.60 1.21\n0.81\n";
// Below 250 restricted rows the delta intervals of R2 and R come with a
// note.
std::string small_sample_note(const std::string& file, int n) {
  return "tolbe: " + file + ": note: the restricted sample has n = " + std::to_string(n) +
         ", fewer than 250: at such sizes the delta method's intervals of R2, R and the "
         "operational R cover less than their level (88 to 93 % for 95 % intervals at n = 100 in "
         "tolbe's coverage study); the percentile bootstrap comes closest "
         "(--interval=bootstrap, --ci-type=percentile)\n";
}

const std::string worked_note =
    "tolbe: worked.txt: note: the restricted matrix has a unit diagonal (correlations) but the "
    "unrestricted one does not: that is right only when the unrestricted values are in units of "
    "the restricted standard deviations\n";

const std::string scores = "x1,x2,y\n5,3,4\n6,5,5\n7,4,7\n8,6,6\n6,7,8\n9,5,7\n7,8,9\n8,7,6\n";
const std::string unrestricted = "\"\",\"x1\",\"x2\"\n\"x1\",4,1\n\"x2\",1,3\n";
// Eight complete rows for three variables: the screening's warning.
const std::string small_sample =
    "tolbe: scores.csv: warning: the restricted sample has n = 8 for 3 variables, fewer than 10 "
    "a variable: the corrected values are unstable there, and their standard errors and "
    "intervals are not to be trusted\n";

class Validity : public testing::TestWithParam<Case> {};

TEST_P(Validity, writes_exactly_what_it_should) {
  expect_exactly(GetParam());
}

// The worked example's corrected correlations are r12 .4545, r13 .3203,
// r23 .4309 (as the report has them), so by the textbook formulas R^2 =
// (r13^2 + r23^2 - 2 r12 r13 r23) / (1 - r12^2) = .2052, R = .4529, the
// operational R = R / sqrt(.81) = .5033, R^2 of x1 alone r13^2 = .1026 and
// beta1 = (r13 - r12 r23) / (1 - r12^2) = .1569.
const std::string worked_table =
    "worked.txt: 3 variables, selected on variables x1, x2\n"
    "reliabilities: y = 0.81\n"
    "95% intervals by the delta method, normal theory; restricted n = 100; the unrestricted "
    "matrix known\n"
    "\n"
    "corrected covariances\n"
    "row  column  estimate      SE   lower   upper\n"
    "x1   x1        1.4400  0.0000  1.4400  1.4400\n"
    "x1   x2        0.6000  0.0000  0.6000  0.6000\n"
    "x1   y         0.3920  0.1322  0.1329  0.6511\n"
    "x2   x2        1.2100  0.0000  1.2100  1.2100\n"
    "x2   y         0.4833  0.1106  0.2666  0.7000\n"
    "y    y         1.0400  0.1504  0.7453  1.3348\n"
    "\n"
    "corrected correlations\n"
    "row  column  estimate      SE   lower   upper\n"
    "x1   x2        0.4545  0.0000  0.4545  0.4545\n"
    "x1   y         0.3203  0.1001  0.1128  0.5010\n"
    "x2   y         0.4309  0.0842  0.2528  0.5807\n"
    "\n"
    "disattenuated correlations\n"
    "row  column  estimate      SE   lower   upper\n"
    "x1   x2        0.4545  0.0000  0.4545  0.4545\n"
    "x1   y         0.3559  0.1113  0.1254  0.5567\n"
    "x2   y         0.4787  0.0935  0.2809  0.6452\n"
    "\n"
    "validity: criterion y, predictors x2 added to x1, criterion reliability 0.81\n"
    "quantity              predictor  estimate       SE     lower    upper\n"
    "b                     x1          0.13333  0.10552  -0.07347  0.34014\n"
    "b                     x2          0.33333  0.10552   0.12653  0.54014\n"
    "beta                  x1           0.1569   0.1223   -0.0828   0.3965\n"
    "beta                  x2           0.3595   0.1060    0.1517   0.5674\n"
    "validity              x1           0.3203   0.1001    0.1128   0.5010\n"
    "validity              x2           0.4309   0.0842    0.2528   0.5807\n"
    "operational_validity  x1           0.3559   0.1113    0.1254   0.5567\n"
    "operational_validity  x2           0.4787   0.0935    0.2809   0.6452\n"
    "r2                                 0.2052   0.0754    0.0761   0.3603\n"
    "r                                  0.4529   0.0832    0.2759   0.6003\n"
    "operational_r                      0.5033   0.0925    0.3065   0.6670\n"
    "base_r2                            0.1026   0.0641    0.0127   0.2510\n"
    "delta_r2                           0.1026   0.0605    0.0156   0.2417\n"
    "delta_r                            0.1326   0.0798    0.0177   0.3110\n";

// The same without intervals, as Markdown, with x2 alone: b = c23 / c22 =
// 0.483333 / 1.21 = 0.39945, beta = r23 and R^2 = r23^2 = 0.1856. A note
// at the end says what computed it.
const std::string worked_markdown =
    "## worked.txt: 3 variables, selected on variables x1, x2\n"
    "\n"
    "reliabilities: y = 0.81\n"
    "\n"
    "### corrected covariances\n"
    "\n"
    "| row | column | estimate |\n"
    "| :-- | :----- | -------: |\n"
    "| x1  | x1     |   1.4400 |\n"
    "| x1  | x2     |   0.6000 |\n"
    "| x1  | y      |   0.3920 |\n"
    "| x2  | x2     |   1.2100 |\n"
    "| x2  | y      |   0.4833 |\n"
    "| y   | y      |   1.0400 |\n"
    "\n"
    "### corrected correlations\n"
    "\n"
    "| row | column | estimate |\n"
    "| :-- | :----- | -------: |\n"
    "| x1  | x2     |   0.4545 |\n"
    "| x1  | y      |   0.3203 |\n"
    "| x2  | y      |   0.4309 |\n"
    "\n"
    "### disattenuated correlations\n"
    "\n"
    "| row | column | estimate |\n"
    "| :-- | :----- | -------: |\n"
    "| x1  | x2     |   0.4545 |\n"
    "| x1  | y      |   0.3559 |\n"
    "| x2  | y      |   0.4787 |\n"
    "\n"
    "### validity: criterion y, predictors x2, criterion reliability 0.81\n"
    "\n"
    "| quantity             | predictor | estimate |\n"
    "| :------------------- | :-------- | -------: |\n"
    "| b                    | x2        |  0.39945 |\n"
    "| beta                 | x2        |   0.4309 |\n"
    "| validity             | x2        |   0.4309 |\n"
    "| operational_validity | x2        |   0.4787 |\n"
    "| r2                   |           |   0.1856 |\n"
    "| r                    |           |   0.4309 |\n"
    "| operational_r        |           |   0.4787 |\n"
    "\n"
    "*Note.* Corrected for range restriction by Lawley's (1943) multivariate correction, computed "
    "with tolbe " TOLBE_PROJECT_VERSION ".\n";

// The eight rows' y has variance 18 / 7 in the restricted sample and
// 2.7432964585995645 corrected, so a reliability of 0.6 there is
// 1 - 0.4 (18 / 7) / 2.7432964585995645 = 0.62506 in the population; the
// disattenuated r13 is then 0.3739912 / sqrt(0.62506) = 0.4730.
const std::string restricted_reliability_table =
    "scores.csv: 3 variables, selected on x1, x2\n"
    "reliabilities: y = 0.62506 (0.6 in the restricted sample)\n"
    "\n"
    "corrected covariances\n"
    "row  column  estimate\n"
    "x1   x1        4.0000\n"
    "x1   x2        1.0000\n"
    "x1   y         1.2389\n"
    "x2   x2        3.0000\n"
    "x2   y         2.0744\n"
    "y    y         2.7433\n"
    "\n"
    "corrected correlations\n"
    "row  column  estimate\n"
    "x1   x2        0.2887\n"
    "x1   y         0.3740\n"
    "x2   y         0.7231\n"
    "\n"
    "disattenuated correlations\n"
    "row  column  estimate\n"
    "x1   x2        0.2887\n"
    "x1   y         0.4730\n"
    "x2   y         0.9146\n";

// The same eight rows with x1 alone selected (S = 4): R's cov() and the
// correction's formulas give C12 = C13 = 5/3, C22 = 3.2361111, C23 =
// 2.3253968, C33 = 2.9682540, r12 0.4632411, r13 0.4836912, r23 0.7502998.
// y's restricted variance is 18 / 7, so a reliability of 0.6 there is
// 1 - 0.4 (18 / 7) / 2.9682540 = 0.6534759 in the population. Disattenuated
// with y's 0.6: r13 0.6244, r23 0.9686; with 0.6534759: 0.5983, 0.9282.
const Files x1_alone = {{"scores.csv", scores}, {"unrestricted.csv", "x1\n4\n"}};
const std::string no_reliability_note =
    "tolbe: scores.csv: note: '--reliabilities' names no reliability for x2; it is taken as 1 "
    "(not corrected for attenuation)\n";
std::string x1_alone_table(const std::string& reliabilities,
                           const std::vector<std::string>& disattenuated) {
  return "scores.csv: 3 variables, selected on x1\n" + reliabilities +
         "\n"
         "corrected covariances\n"
         "row  column  estimate\n"
         "x1   x1        4.0000\n"
         "x1   x2        1.6667\n"
         "x1   y         1.6667\n"
         "x2   x2        3.2361\n"
         "x2   y         2.3254\n"
         "y    y         2.9683\n"
         "\n"
         "corrected correlations\n"
         "row  column  estimate\n"
         "x1   x2        0.4632\n"
         "x1   y         0.4837\n"
         "x2   y         0.7503\n"
         "\n"
         "disattenuated correlations\n"
         "row  column  estimate\n"
         "x1   x2        0.4632\n"
         "x1   y         " +
         disattenuated[0] + "\nx2   y         " + disattenuated[1] + "\n";
}

// For a manuscript: variables of very different scales (variances 100,
// 1 and 0.01), a name whose bytes outnumber its letters, and values that
// round to zero from below. R's cov() and the correction's formulas give
// C = [[144, 4.32, -0.0000144], [4.32, 1.0396, 0.039999868], [.., ..,
// 0.01]], r12 0.3530769, r13 -0.0000120, r23 0.3923064, b = (-0.0013188,
// 0.0439564), beta = (-0.1582549, 0.4481826), R^2 0.1758268. The
// covariances get the decimals that give 144 five significant digits and
// the smallest variance, 0.01, four: five; the weights b six (0.044); the
// standardised values four; -0.0000120 is 0.0000. "Interview \xc3\xbc"
// is 12 bytes and 11 columns: its cells line up with the others where it
// is the widest name of its column (the predictors) and where it is not
// (beside "supervisor rating").
const std::string manuscript = "1 3 0\n100 3 -0.00001\n3 1 0.04\n-0.00001 0.04 0.01\n144\n";
const std::vector<std::string> manuscript_args = {"--names=x,Interview \xc3\xbc,supervisor rating",
                                                  "--criterion=3", "--predictors=1,2",
                                                  "manuscript.txt"};
const std::string manuscript_table =
    "manuscript.txt: 3 variables, selected on variable x\n"
    "\n"
    "corrected covariances\n"
    "row                column              estimate\n"
    "x                  x                  144.00000\n"
    "x                  Interview \xc3\xbc          4.32000\n"
    "x                  supervisor rating   -0.00001\n"
    "Interview \xc3\xbc        Interview \xc3\xbc          1.03960\n"
    "Interview \xc3\xbc        supervisor rating    0.04000\n"
    "supervisor rating  supervisor rating    0.01000\n"
    "\n"
    "corrected correlations\n"
    "row          column             estimate\n"
    "x            Interview \xc3\xbc          0.3531\n"
    "x            supervisor rating    0.0000\n"
    "Interview \xc3\xbc  supervisor rating    0.3923\n"
    "\n"
    "validity: criterion supervisor rating, predictors x, Interview \xc3\xbc\n"
    "quantity              predictor     estimate\n"
    "b                     x            -0.001319\n"
    "b                     Interview \xc3\xbc   0.043956\n"
    "beta                  x              -0.1583\n"
    "beta                  Interview \xc3\xbc     0.4482\n"
    "validity              x               0.0000\n"
    "validity              Interview \xc3\xbc     0.3923\n"
    "operational_validity  x               0.0000\n"
    "operational_validity  Interview \xc3\xbc     0.3923\n"
    "r2                                    0.1758\n"
    "r                                     0.4193\n"
    "operational_r                         0.4193\n";
const std::string manuscript_markdown =
    "## manuscript.txt: 3 variables, selected on variable x\n"
    "\n"
    "### corrected covariances\n"
    "\n"
    "| row               | column            |  estimate |\n"
    "| :---------------- | :---------------- | --------: |\n"
    "| x                 | x                 | 144.00000 |\n"
    "| x                 | Interview \xc3\xbc       |   4.32000 |\n"
    "| x                 | supervisor rating |  -0.00001 |\n"
    "| Interview \xc3\xbc       | Interview \xc3\xbc       |   1.03960 |\n"
    "| Interview \xc3\xbc       | supervisor rating |   0.04000 |\n"
    "| supervisor rating | supervisor rating |   0.01000 |\n"
    "\n"
    "### corrected correlations\n"
    "\n"
    "| row         | column            | estimate |\n"
    "| :---------- | :---------------- | -------: |\n"
    "| x           | Interview \xc3\xbc       |   0.3531 |\n"
    "| x           | supervisor rating |   0.0000 |\n"
    "| Interview \xc3\xbc | supervisor rating |   0.3923 |\n"
    "\n"
    "### validity: criterion supervisor rating, predictors x, Interview \xc3\xbc\n"
    "\n"
    "| quantity             | predictor   |  estimate |\n"
    "| :------------------- | :---------- | --------: |\n"
    "| b                    | x           | -0.001319 |\n"
    "| b                    | Interview \xc3\xbc |  0.043956 |\n"
    "| beta                 | x           |   -0.1583 |\n"
    "| beta                 | Interview \xc3\xbc |    0.4482 |\n"
    "| validity             | x           |    0.0000 |\n"
    "| validity             | Interview \xc3\xbc |    0.3923 |\n"
    "| operational_validity | x           |    0.0000 |\n"
    "| operational_validity | Interview \xc3\xbc |    0.3923 |\n"
    "| r2                   |             |    0.1758 |\n"
    "| r                    |             |    0.4193 |\n"
    "| operational_r        |             |    0.4193 |\n"
    "\n"
    "*Note.* Corrected for range restriction by Lawley's (1943) multivariate correction, computed "
    "with tolbe " TOLBE_PROJECT_VERSION ".\n";

const Files worked_file = {{"worked.txt", worked}};
const Files four_file = {{"four.txt", four}};
const Files scores_and_s = {{"scores.csv", scores}, {"unrestricted.csv", unrestricted}};
const std::vector<std::string> data_args = {"--data=scores.csv", "--unrestricted=unrestricted.csv",
                                            "--interval=none"};

std::vector<std::string> plus(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    cli_validity_e2e_test, Validity,
    testing::Values(
        Case{"table_with_an_increment",
             worked_file,
             {"--n=100", "--names=x1,x2,y", "--criterion=y", "--base=x1", "worked.txt"},
             0,
             worked_table,
             worked_note + small_sample_note("worked.txt", 100)},
        Case{"markdown_of_one_predictor",
             worked_file,
             {"--names=x1,x2,y", "--criterion=3", "--predictors=x2", "--format=markdown", "-q",
              "worked.txt"},
             0,
             worked_markdown,
             ""},
        // Numbers at full precision; without intervals only the estimates.
        Case{"csv_second_section",
             worked_file,
             {"--names=x1,x2,y", "--criterion=y", "--predictors=2", "--format=csv", "-q",
              "--select=x1,x2", "worked.txt"},
             0,
             "file,matrix,variable,x1,x2,y\n"
             "worked.txt,corrected_cov,x1,1.44,0.6,0.39199999999999996\n"
             "worked.txt,corrected_cov,x2,0.6,1.21,0.4833333333333334\n"
             "worked.txt,corrected_cov,y,0.39199999999999996,0.4833333333333334,"
             "1.0400444444444445\n"
             "worked.txt,corrected_corr,x1,1,0.45454545454545453,0.3203161764360781\n"
             "worked.txt,corrected_corr,x2,0.45454545454545453,0.9999999999999998,"
             "0.43085199984444655\n"
             "worked.txt,corrected_corr,y,0.3203161764360781,0.43085199984444655,"
             "0.9999999999999998\n"
             "worked.txt,disattenuated_corr,x1,1,0.45454545454545453,0.3559068627067535\n"
             "worked.txt,disattenuated_corr,x2,0.45454545454545453,0.9999999999999998,"
             "0.47872444427160726\n"
             "worked.txt,disattenuated_corr,y,0.3559068627067535,0.47872444427160726,"
             "0.9999999999999998\n"
             "\n"
             "file,criterion,quantity,predictor,estimate\n"
             "worked.txt,y,b,x2,0.39944903581267216\n"
             "worked.txt,y,beta,x2,0.43085199984444644\n"
             "worked.txt,y,validity,x2,0.43085199984444655\n"
             "worked.txt,y,operational_validity,x2,0.47872444427160726\n"
             "worked.txt,y,r2,,0.18563344576995897\n"
             "worked.txt,y,r,,0.43085199984444655\n"
             "worked.txt,y,operational_r,,0.47872444427160726\n",
             ""},
        Case{"reliabilities_from_the_restricted_sample", scores_and_s,
             plus(data_args, {"--reliabilities=y=0.6", "--reliabilities-from=restricted"}), 0,
             restricted_reliability_table, small_sample},
        // x1 alone selected: x2 was given no reliability, and the table says
        // so rather than show a 1 as if it had been measured.
        Case{"a_variable_given_no_reliability_says_so", x1_alone,
             plus(data_args, {"--reliabilities=y=0.6"}), 0,
             x1_alone_table("reliabilities: x2 = 1 (no reliability given), y = 0.6\n",
                            {"0.6244", "0.9686"}),
             no_reliability_note + small_sample},
        Case{"a_variable_given_no_reliability_in_the_restricted_sample", x1_alone,
             plus(data_args, {"--reliabilities=y=0.6", "--reliabilities-from=restricted"}), 0,
             x1_alone_table("reliabilities: x2 = 1 (no reliability given), y = 0.653476 (0.6 in "
                            "the restricted sample)\n",
                            {"0.5983", "0.9282"}),
             no_reliability_note + small_sample},
        Case{"manuscript_table",
             {{"manuscript.txt", manuscript}},
             manuscript_args,
             0,
             manuscript_table,
             ""},
        Case{"manuscript_markdown",
             {{"manuscript.txt", manuscript}},
             plus(manuscript_args, {"--format=markdown"}),
             0,
             manuscript_markdown,
             ""},
        // Names in the findings' messages too.
        Case{"names_in_findings",
             {{"asym.txt", "2 2 0\n1 0.5\n0.4 1\n1 0.3\n0.3 1\n"}},
             {"--names=verbal,numeric", "--format=csv", "asym.txt"},
             0,
             "file,matrix,variable,verbal,numeric\n"
             "asym.txt,corrected_cov,verbal,1,0.3\n"
             "asym.txt,corrected_cov,numeric,0.3,1\n"
             "asym.txt,corrected_corr,verbal,1,0.3\n"
             "asym.txt,corrected_corr,numeric,0.3,1\n",
             "tolbe: asym.txt: warning: the restricted var/cov matrix is not symmetric: its two "
             "values for verbal and numeric differ by 0.1 relative to their standard deviations "
             "(the largest difference); the correction used the upper triangle of the selection "
             "variables' block, the rest of their rows and the whole block of the other "
             "variables, and ignored the rest\n"
             "tolbe: asym.txt: warning: both matrices have a unit diagonal (correlations?): the "
             "correction then takes the selection variables' variances to be the same in the "
             "population as in the sample, and corrects only for the change in their "
             "correlations; give the unrestricted matrix in units of the restricted standard "
             "deviations, or both as variances and covariances\n"},
        // ---- Refusals.
        Case{"criterion_no_variable",
             worked_file,
             {"--criterion=4", "-q", "worked.txt"},
             2,
             "",
             "tolbe: worked.txt: '--criterion' holds numbers outside 1..3\n"},
        Case{"criterion_no_name",
             worked_file,
             {"--names=x1,x2,y", "--criterion=z", "-q", "worked.txt"},
             2,
             "",
             "tolbe: worked.txt: '--criterion' names an unknown variable: z\n"},
        Case{"two_criteria",
             worked_file,
             {"--criterion=2-3", "-q", "worked.txt"},
             2,
             "",
             "tolbe: worked.txt: '--criterion' must be one variable, by name or number\n"},
        Case{"criterion_among_predictors", scores_and_s,
             plus(data_args, {"--criterion=y", "--predictors=x1,y"}), 2, "",
             small_sample + "tolbe: scores.csv: the criterion y is among the predictors\n"},
        Case{"predictor_twice", scores_and_s,
             plus(data_args, {"--criterion=y", "--predictors=x1,1"}), 2, "",
             small_sample + "tolbe: scores.csv: '--predictors' names x1 more than once\n"},
        Case{"base_not_a_predictor",
             four_file,
             {"--criterion=4", "--predictors=1,2", "--base=3", "-q", "four.txt"},
             2,
             "",
             "tolbe: four.txt: '--base' names 3, which is no predictor\n"},
        Case{"base_is_every_predictor",
             four_file,
             {"--criterion=4", "--predictors=1,2", "--base=2,1", "-q", "four.txt"},
             2,
             "",
             "tolbe: four.txt: '--base' names every predictor: nothing is added to the base\n"},
        Case{"names_of_another_count",
             worked_file,
             {"--names=x1,x2", "worked.txt"},
             2,
             "",
             "tolbe: worked.txt: '--names' gives 2 names, but the problem has 3 variables\n"},
        // Two predictors that are one: no weights.
        Case{"predictors_collinear",
             {{"twins.txt", "1 3 0\n1 .5 .5\n.5 1 1\n.5 1 1\n2\n"}},
             {"--criterion=1", "-q", "twins.txt"},
             2,
             "",
             "tolbe: twins.txt: warning: the restricted var/cov matrix, as the correction reads "
             "it, is not positive definite: it cannot be the var/cov matrix of real data; check "
             "it for typing errors\n"
             "tolbe: twins.txt: the corrected var/cov matrix of the predictors (variable 2, "
             "variable 3) or of the base set is not positive definite: a predictor is a linear "
             "combination of others\n"},
        Case{"report_has_no_room",
             worked_file,
             {"--criterion=3", "--format=report", "worked.txt"},
             2,
             "",
             "tolbe: the report has no room for the validity question: use '--format=table', "
             "markdown, csv or json\n" +
                 try_help}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// ---- Against the library ------------------------------------------------

struct Answer {
  std::vector<double> estimate, se, lower, upper;
};

Answer by_the_library(const tolbe::LawleyProblem& problem, const tolbe::IntervalRequest& request,
                      const tolbe::ValidityQuestion& question) {
  std::size_t values = tolbe::validity_values(question.predictors.size());
  Answer a;
  for (auto* v : {&a.estimate, &a.se, &a.lower, &a.upper}) v->assign(values, 0.0);
  tolbe::WorkspaceSize need = tolbe::lawley_validity_workspace_size(
      problem.q, problem.p, question.predictors.size(), request);
  std::vector<double> work(need.doubles);
  std::vector<int> ints(need.ints);
  EXPECT_EQ(tolbe::lawley_validity(problem, request, question,
                                   {a.estimate.data(), a.se.data(), a.lower.data(), a.upper.data()},
                                   work, ints),
            tolbe::Status::ok);
  return a;
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Every value of the JSON's regression object, bit for bit, against `a`.
void expect_json_holds(const nlohmann::json& reg, const Answer& a, std::size_t k, bool base) {
  const char* kinds[4] = {"estimate", "se", "lower", "upper"};
  const std::vector<double>* of[4] = {&a.estimate, &a.se, &a.lower, &a.upper};
  const char* per_predictor[4] = {"b", "beta", "validity", "operational_validity"};
  for (std::size_t m = 0; m < 4; ++m) {
    for (std::size_t w = 0; w < 4; ++w) {
      SCOPED_TRACE(std::string(per_predictor[m]) + "." + kinds[w]);
      ASSERT_EQ(reg[per_predictor[m]][kinds[w]].size(), k);
      for (std::size_t j = 0; j < k; ++j) {
        double want = (*of[w])[m * k + j];
        EXPECT_TRUE(same_bits(reg[per_predictor[m]][kinds[w]][j].get<double>(), want))
            << j << ": " << reg[per_predictor[m]][kinds[w]][j] << " against " << want;
      }
    }
  }
  const char* whole[6] = {"r2", "r", "operational_r", "base_r2", "delta_r2", "delta_r"};
  for (std::size_t m = 0; m < 6; ++m) {
    if (m >= 3 && !base) {
      EXPECT_TRUE(reg[whole[m]].is_null()) << whole[m];
      continue;
    }
    for (std::size_t w = 0; w < 4; ++w) {
      SCOPED_TRACE(std::string(whole[m]) + "." + kinds[w]);
      double want = (*of[w])[4 * k + m];
      EXPECT_TRUE(same_bits(reg[whole[m]][kinds[w]].get<double>(), want))
          << reg[whole[m]][kinds[w]] << " against " << want;
    }
  }
}

// Matrix input, normal theory with an estimated S: the criterion a
// non-selection variable, a non-selection test in the base, the selection
// variables added.
TEST(cli_validity_e2e_test, json_of_matrix_input_is_the_librarys) {
  BinaryRun got = run_with(four_file, {"--n=80", "--n-unrestricted=400", "--level=0.9",
                                       "--criterion=4", "--base=3", "--format=json", "four.txt"});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.err, four_note + small_sample_note("four.txt", 80));
  nlohmann::json reg = nlohmann::json::parse(got.out).at(0).at("regression");
  EXPECT_EQ(reg["criterion"], 4);
  EXPECT_EQ(reg["predictors"], nlohmann::json({3, 1, 2}));
  EXPECT_EQ(reg["base"], 1);
  EXPECT_EQ(reg["criterion_reliability"], 0.70);
  tolbe::LawleyProblem problem{4, 2, four_v, 4, four_s, 2, four_selection, four_reliabilities};
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::normal;
  request.n = 80;
  request.n_unrestricted = 400;
  request.level = 0.9;
  const int predictors[3] = {2, 0, 1};
  tolbe::ValidityQuestion question{3, predictors, 1, 0.70};
  expect_json_holds(reg, by_the_library(problem, request, question), 3, true);
}

// Raw scores by the bootstrap: the same resamples as the library's.
TEST(cli_validity_e2e_test, json_of_a_bootstrap_is_the_librarys) {
  BinaryRun got =
      run_with(scores_and_s, {"--data=scores.csv", "--unrestricted=unrestricted.csv",
                              "--interval=bootstrap", "--resamples=200", "--seed=7",
                              "--reliabilities=y=0.8", "--criterion=y", "--format=json", "-q"});
  ASSERT_EQ(got.status, 0) << got.err;
  nlohmann::json reg = nlohmann::json::parse(got.out).at(0).at("regression");
  EXPECT_EQ(reg["predictors"], nlohmann::json({1, 2}));
  const std::vector<std::vector<double>> rows = {{5, 3, 4}, {6, 5, 5}, {7, 4, 7}, {8, 6, 6},
                                                 {6, 7, 8}, {9, 5, 7}, {7, 8, 9}, {8, 7, 6}};
  std::vector<double> data(24);
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 3; ++j) data[i + 8 * j] = rows[i][j];
  }
  const double s[4] = {4, 1, 1, 3};
  const int selection[2] = {0, 1};
  const double reliability[1] = {0.8};
  tolbe::LawleyProblem problem{3, 2, nullptr, 0, s, 2, selection, reliability};
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::bootstrap;
  request.resamples = 200;
  request.seed = 7;
  request.data = {8, 3, data.data(), 8};
  const int predictors[2] = {0, 1};
  tolbe::ValidityQuestion question{2, predictors, 0, 0.8};
  expect_json_holds(reg, by_the_library(problem, request, question), 2, false);
}

// The reliability of the restricted sample converted: the JSON says so, and
// the criterion's reliability is the library's conversion.
TEST(cli_validity_e2e_test, restricted_reliability_is_converted_by_the_library) {
  BinaryRun got = run_with(four_file, {"--reliabilities-from=restricted", "--criterion=4",
                                       "--format=json", "-q", "four.txt"});
  ASSERT_EQ(got.status, 0) << got.err;
  nlohmann::json doc = nlohmann::json::parse(got.out).at(0);
  EXPECT_EQ(doc["reliabilities_from"], "restricted");
  EXPECT_EQ(doc["restricted_reliabilities"], nlohmann::json({0.81, 0.70}));
  tolbe::LawleyProblem problem{4, 2, four_v, 4, four_s, 2, four_selection, {}};
  tolbe::LawleyCorrection c = tolbe::lawley(problem);
  double r3 = tolbe::unrestricted_reliability(0.81, 1.0, c.covariances[2 + 2 * 4]);
  double r4 = tolbe::unrestricted_reliability(0.70, 1.0, c.covariances[3 + 3 * 4]);
  EXPECT_TRUE(same_bits(doc["reliabilities"][0].get<double>(), r3));
  EXPECT_TRUE(same_bits(doc["reliabilities"][1].get<double>(), r4));
  EXPECT_TRUE(same_bits(doc["regression"]["criterion_reliability"].get<double>(), r4));
  // The disattenuated correlations use the converted ones.
  const double converted[2] = {r3, r4};
  problem.reliabilities = converted;
  tolbe::LawleyCorrection d = tolbe::lawley(problem);
  for (std::size_t i = 0; i < 4; ++i) {
    for (std::size_t j = 0; j < 4; ++j) {
      EXPECT_TRUE(
          same_bits(doc["disattenuated_corr"][i][j].get<double>(), d.disattenuated[i + 4 * j]));
    }
  }
  // Without the option the reliabilities are as given.
  BinaryRun plain = run_with(four_file, {"--format=json", "-q", "four.txt"});
  nlohmann::json plain_doc = nlohmann::json::parse(plain.out).at(0);
  EXPECT_EQ(plain_doc["reliabilities"], nlohmann::json({0.81, 0.70}));
  EXPECT_FALSE(plain_doc.contains("reliabilities_from"));
  EXPECT_FALSE(plain_doc.contains("regression"));
}

// ---- Against a regression solved here -----------------------------------

// Solves the k x k system a x = b by Gaussian elimination with partial
// pivoting (a is row-major).
std::vector<double> solved(std::vector<double> a, std::vector<double> b) {
  std::size_t k = b.size();
  for (std::size_t c = 0; c < k; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < k; ++r) {
      if (std::fabs(a[r * k + c]) > std::fabs(a[pivot * k + c])) pivot = r;
    }
    for (std::size_t j = 0; j < k; ++j) std::swap(a[c * k + j], a[pivot * k + j]);
    std::swap(b[c], b[pivot]);
    for (std::size_t r = c + 1; r < k; ++r) {
      double f = a[r * k + c] / a[c * k + c];
      for (std::size_t j = c; j < k; ++j) a[r * k + j] -= f * a[c * k + j];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(k);
  for (std::size_t c = k; c-- > 0;) {
    double sum = b[c];
    for (std::size_t j = c + 1; j < k; ++j) sum -= a[c * k + j] * x[j];
    x[c] = sum / a[c * k + c];
  }
  return x;
}

// R^2 and the weights of criterion y on `x` from the var/cov matrix `c`.
double r_squared(const std::vector<std::vector<double>>& c, std::size_t y,
                 const std::vector<std::size_t>& x, std::vector<double>* weights = nullptr) {
  std::size_t k = x.size();
  std::vector<double> a(k * k), b(k);
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) a[i * k + j] = c[x[i]][x[j]];
    b[i] = c[x[i]][y];
  }
  std::vector<double> w = solved(a, b);
  double explained = 0.0;
  for (std::size_t i = 0; i < k; ++i) explained += w[i] * b[i];
  if (weights != nullptr) *weights = w;
  return explained / c[y][y];
}

TEST(cli_validity_e2e_test, csv_values_are_a_regression_on_the_corrected_matrix) {
  BinaryRun got = run_with(four_file, {"--n=50", "--criterion=4", "--predictors=3,1,2", "--base=3",
                                       "--format=csv", "-q", "four.txt"});
  ASSERT_EQ(got.status, 0) << got.err;
  std::istringstream lines(got.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "version,file,matrix,variable,v1,v2,v3,v4");
  std::vector<std::vector<double>> c;
  std::map<std::string, std::vector<double>> values;  // quantity: estimates in order
  bool second = false;
  while (std::getline(lines, line)) {
    if (line.empty()) {
      second = true;
      std::getline(lines, line);
      EXPECT_EQ(line, "version,file,criterion,quantity,predictor,estimate,se,lower,upper");
      continue;
    }
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    EXPECT_EQ(cells[0], TOLBE_PROJECT_VERSION);
    if (!second && cells[2] == "corrected_cov") {
      std::vector<double> numbers;
      for (std::size_t j = 4; j < cells.size(); ++j) numbers.push_back(std::stod(cells[j]));
      c.push_back(numbers);
    } else if (second) {
      values[cells[3]].push_back(std::stod(cells[5]));
    }
  }
  ASSERT_EQ(c.size(), 4u);
  ASSERT_EQ(values["b"].size(), 3u);
  std::vector<double> b;
  double r2 = r_squared(c, 3, {2, 0, 1}, &b);
  double base_r2 = r_squared(c, 3, {2});
  const std::size_t order[3] = {2, 0, 1};
  for (std::size_t j = 0; j < 3; ++j) {
    std::size_t x = order[j];
    EXPECT_NEAR(values["b"][j], b[j], 1e-12);
    EXPECT_NEAR(values["beta"][j], b[j] * std::sqrt(c[x][x] / c[3][3]), 1e-12);
    EXPECT_NEAR(values["validity"][j], c[x][3] / std::sqrt(c[x][x] * c[3][3]), 1e-12);
    EXPECT_NEAR(values["operational_validity"][j],
                c[x][3] / std::sqrt(c[x][x] * c[3][3]) / std::sqrt(0.70), 1e-12);
  }
  EXPECT_NEAR(values["r2"][0], r2, 1e-12);
  EXPECT_NEAR(values["r"][0], std::sqrt(r2), 1e-12);
  EXPECT_NEAR(values["operational_r"][0], std::sqrt(r2 / 0.70), 1e-12);
  EXPECT_NEAR(values["base_r2"][0], base_r2, 1e-12);
  EXPECT_NEAR(values["delta_r2"][0], r2 - base_r2, 1e-12);
  EXPECT_NEAR(values["delta_r"][0], std::sqrt(r2) - std::sqrt(base_r2), 1e-12);
}

// The new options are in --help and the man page (where roff writes a
// hyphen as \-).
TEST(cli_validity_e2e_test, options_are_documented) {
  BinaryRun help = run_with({}, {"--help"});
  std::string man =
      tolbe::testing_support::file_text(std::string(TOLBE_EXAMPLES) + "/../doc/tolbe.1");
  for (std::string option : {"--criterion=", "--predictors=", "--base=", "--reliabilities-from=",
                             "--names=", "markdown"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(help.out.find(option), std::string::npos);
    std::string roff;
    for (char ch : option.substr(0, option.size() - (option.back() == '=' ? 1 : 0))) {
      roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
    }
    EXPECT_NE(man.find(roff), std::string::npos) << roff;
  }
}

}  // namespace

// The README's study, from the two raw files to the manuscript's table:
// the command it shows runs, and its table holds the regression block.
TEST(cli_validity_e2e_test, readme_study_runs_from_raw_files_to_the_table) {
  std::string study = std::string(TOLBE_EXAMPLES) + "/study/";
  std::vector<std::string> args = {"--data=" + study + "hired.csv",
                                   "--pool=" + study + "applicants.csv",
                                   "--select=T1,T2",
                                   "--reliabilities=C1=0.8,C2=0.7",
                                   "--criterion=C1",
                                   "--predictors=T1,T2,INT",
                                   "--base=T1,T2",
                                   "--format=markdown"};
  tolbe::testing_support::BinaryRun got =
      tolbe::testing_support::run_binary(TOLBE_BINARY, args, std::string(TOLBE_EXAMPLES) + "/..");
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_NE(got.out.find("### validity: criterion C1, predictors INT added to T1, T2, criterion "
                         "reliability 0.8\n"),
            std::string::npos);
  EXPECT_NE(got.out.find("| delta_r2 "), std::string::npos);
  // The README shows that very command.
  std::string readme =
      tolbe::testing_support::file_text(std::string(TOLBE_EXAMPLES) + "/../README.md");
  EXPECT_NE(readme.find("tolbe --data=examples/study/hired.csv "
                        "--pool=examples/study/applicants.csv --select=T1,T2 \\\n"
                        "  --reliabilities=C1=0.8,C2=0.7 --criterion=C1 --predictors=T1,T2,INT "
                        "--base=T1,T2 \\\n  --format=markdown"),
            std::string::npos);
}

// Restricted-sample reliabilities asked for on a problem that gives none:
// a note says there was nothing to convert.
TEST(cli_validity_e2e_test, nothing_to_convert_is_said) {
  BinaryRun got = run_with({{"plain.txt", "2 3 0\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1.44 .6\n.6 1.21\n"}},
                           {"--reliabilities-from=restricted", "--format=csv", "-q", "plain.txt"});
  EXPECT_EQ(got.status, 0);
  BinaryRun noted =
      run_with({{"plain.txt", "2 3 0\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1.44 .6\n.6 1.21\n"}},
               {"--reliabilities-from=restricted", "--format=csv", "plain.txt"});
  EXPECT_NE(noted.err.find("tolbe: plain.txt: note: '--reliabilities-from=restricted' has no "
                           "reliabilities to convert: the problem gives none\n"),
            std::string::npos)
      << noted.err;
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(got.out, noted.out);
}
