// The command line with raw scores and intervals, run as a user would:
// tables checked exactly against values worked out apart from tolbe (R,
// from the formulas); CSV and JSON read back against the library called
// directly on the same scores; the same problem written in different ways
// (separators, orders, extra columns, incomplete rows) giving the same
// numbers; and each refusal with its exact words and status.
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
#include "support/scratch.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::Case;
using tolbe::testing_support::expect_exactly;
using tolbe::testing_support::Files;
using tolbe::testing_support::run_binary;
using tolbe::testing_support::run_with;
using tolbe::testing_support::try_help;
using tolbe::testing_support::write_file;

const std::string cli_cases = std::string(TOLBE_CASES) + "/../cli_cases";

// Ten rows of two selection variables and a criterion, two of them
// incomplete (an empty field, NA).
const std::string scores =
    "x1,x2,y\n"
    "5,3,4\n"
    "6,5,5\n"
    "7,4,7\n"
    "6,,5\n"
    "8,6,6\n"
    "6,7,8\n"
    "NA,4,4\n"
    "9,5,7\n"
    "7,8,9\n"
    "8,7,6\n";
// The same eight complete rows.
const std::string complete_scores =
    "x1,x2,y\n5,3,4\n6,5,5\n7,4,7\n8,6,6\n6,7,8\n9,5,7\n7,8,9\n8,7,6\n";
// Their unrestricted var/cov matrix, as R's write.csv writes a matrix.
const std::string unrestricted = "\"\",\"x1\",\"x2\"\n\"x1\",4,1\n\"x2\",1,3\n";

const std::string dropped_note =
    "tolbe: scores.csv: note: 2 of 10 rows have a missing value and were left out: 8 rows used\n";

// The screening's word on n complete rows for q variables, fewer than ten a
// variable (eight for three here): the numbers are unstable there.
std::string small_sample(const std::string& file, int n, int q,
                         const std::string& severity = "warning") {
  return "tolbe: " + file + ": " + severity +
         ": the restricted sample has n = " + std::to_string(n) + " for " + std::to_string(q) +
         " variables, fewer than 10 a variable: the corrected values are unstable there, and "
         "their standard errors and intervals are not to be trusted\n";
}
const std::string small_note = dropped_note + small_sample("scores.csv", 8, 3);

// n complete rows for q variables, no more than q: no var/cov matrix at all.
std::string too_few_rows(const std::string& file, int n, int q) {
  return "tolbe: " + file + ": error: the restricted sample has n = " + std::to_string(n) +
         " for " + std::to_string(q) + " variables: a var/cov matrix of " + std::to_string(q) +
         " variables needs more rows (people with every score) than that, and every result "
         "would be meaningless\n";
}

// scores.csv with unrestricted.csv by ADF. R on the same eight rows
// (cov(), the correction by its formulas, the Jacobian by central
// differences, Browne's fourth-moment matrix cov(U) (n - 1) / n^2 with U the
// products of centred scores) gives C13 1.2388759 (SE 0.7764971), C23
// 2.0743560 (0.5844045), C33 2.7432965 (0.6346621), r12 0.2886751 (0),
// r13 0.3739912 (0.2159405), r23 0.7230799 (0.1290052), Wald bounds for
// the covariances, Fisher-z bounds -0.09868215 0.7089726 and 0.3663215
// 0.8944944 for r13 and r23.
const std::string adf_table =
    "scores.csv: 3 variables, selected on x1, x2\n"
    "95% intervals by the delta method, distribution-free (ADF); restricted n = 8; the "
    "unrestricted matrix known\n"
    "\n"
    "corrected covariances\n"
    "row  column  estimate      SE    lower   upper\n"
    "x1   x1        4.0000  0.0000   4.0000  4.0000\n"
    "x1   x2        1.0000  0.0000   1.0000  1.0000\n"
    "x1   y         1.2389  0.7765  -0.2830  2.7608\n"
    "x2   x2        3.0000  0.0000   3.0000  3.0000\n"
    "x2   y         2.0744  0.5844   0.9289  3.2198\n"
    "y    y         2.7433  0.6347   1.4994  3.9872\n"
    "\n"
    "corrected correlations\n"
    "row  column  estimate      SE    lower   upper\n"
    "x1   x2        0.2887  0.0000   0.2887  0.2887\n"
    "x1   y         0.3740  0.2159  -0.0987  0.7090\n"
    "x2   y         0.7231  0.1290   0.3663  0.8945\n";

// clean.txt with --n=100: R with the normal-theory covariance of the
// sample covariances, (v_ik v_jl + v_il v_jk) / 99, gives SEs 0.13219392
// (C13), 0.15038237 (C33), 0.10012687 (r13) and 0.08417008 (r23).
const std::string clean_table =
    "clean.txt: 3 variables, selected on variables 1, 2\n"
    "95% intervals by the delta method, normal theory; restricted n = 100; the unrestricted "
    "matrix known\n"
    "\n"
    "corrected covariances\n"
    "row  column  estimate      SE   lower   upper\n"
    "1    1         1.4400  0.0000  1.4400  1.4400\n"
    "1    2         0.6000  0.0000  0.6000  0.6000\n"
    "1    3         0.3920  0.1322  0.1329  0.6511\n"
    "2    2         1.2100  0.0000  1.2100  1.2100\n"
    "2    3         0.4833  0.1106  0.2666  0.7000\n"
    "3    3         1.0400  0.1504  0.7453  1.3348\n"
    "\n"
    "corrected correlations\n"
    "row  column  estimate      SE   lower   upper\n"
    "1    2         0.4545  0.0000  0.4545  0.4545\n"
    "1    3         0.3203  0.1001  0.1128  0.5010\n"
    "2    3         0.4309  0.0842  0.2528  0.5807\n";
const std::string clean_note =
    "tolbe: clean.txt: note: the restricted matrix has a unit diagonal (correlations) but the "
    "unrestricted one does not: that is right only when the unrestricted values are in units of "
    "the restricted standard deviations\n";

class RawScores : public testing::TestWithParam<Case> {};

TEST_P(RawScores, writes_exactly_what_it_should) {
  expect_exactly(GetParam());
}

const Files scores_and_s = {{"scores.csv", scores}, {"unrestricted.csv", unrestricted}};
const std::vector<std::string> data_args = {"--data=scores.csv", "--unrestricted=unrestricted.csv"};

std::vector<std::string> data_and(std::vector<std::string> more) {
  more.insert(more.begin(), data_args.begin(), data_args.end());
  return more;
}

Files scores_with(std::string name, std::string text) {
  Files files = scores_and_s;
  for (auto& file : files) {
    if (file.first == name) file.second = text;
  }
  if (name != "scores.csv" && name != "unrestricted.csv") files.emplace_back(name, text);
  return files;
}

INSTANTIATE_TEST_SUITE_P(
    cli_data_e2e_test, RawScores,
    testing::Values(
        Case{"adf_by_default", scores_and_s, data_args, 0, adf_table, small_note},
        Case{"adf_quiet", scores_and_s, data_and({"-q"}), 0, adf_table, ""},
        Case{"without_intervals", scores_and_s, data_and({"--interval=none", "-q"}), 0,
             "scores.csv: 3 variables, selected on x1, x2\n"
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
             "x2   y         0.7231\n",
             ""},
        // The rows' missing values are a note, which --strict leaves a
        // note; the small sample is a warning, which it makes an error.
        Case{"strict_keeps_notes", scores_and_s, data_and({"--strict"}), 2, "",
             dropped_note + small_sample("scores.csv", 8, 3, "error")},
        // The CSV's header and variables are the data's names. R, at full
        // precision: C13 1.2388758782201403, C23 2.0743559718969551, C33
        // 2.7432964585995645, r12 0.28867513459481287, r13
        // 0.37399124007335666, r23 0.72307989651496196 (and unit
        // correlations of the variables with themselves, which tolbe
        // computes as c_ii / (sqrt(c_ii) sqrt(c_ii))).
        Case{"csv_names_the_variables", scores_and_s, data_and({"--format=csv", "--interval=none"}),
             0,
             "file,matrix,variable,x1,x2,y\n"
             "scores.csv,corrected_cov,x1,4,1,1.2388758782201403\n"
             "scores.csv,corrected_cov,x2,1,3,2.074355971896955\n"
             "scores.csv,corrected_cov,y,1.2388758782201403,2.074355971896955,2.7432964585995645\n"
             "scores.csv,corrected_corr,x1,1,0.2886751345948129,0.3739912400733567\n"
             "scores.csv,corrected_corr,x2,0.2886751345948129,1.0000000000000002,"
             "0.7230798965149621\n"
             "scores.csv,corrected_corr,y,0.3739912400733567,0.7230798965149621,1\n",
             small_note},
        // Names a spreadsheet would take for formulas get a leading quote
        // in the CSV (the OWASP advice on CSV injection); the numbers stay
        // numbers. The values are those of csv_names_the_variables.
        Case{"csv_names_are_no_formulas",
             {{"scores.csv", "=x1,@x2,+y\n" + scores.substr(scores.find('\n') + 1)},
              {"unrestricted.csv", "\"\",\"=x1\",\"@x2\"\n\"=x1\",4,1\n\"@x2\",1,3\n"}},
             data_and({"--format=csv", "--interval=none"}),
             0,
             "version,file,matrix,variable,'=x1,'@x2,'+y\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_cov,'=x1,4,1,1.2388758782201403\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_cov,'@x2,1,3,2.074355971896955\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_cov,'+y,1.2388758782201403,2.074355971896955,"
             "2.7432964585995645\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_corr,'=x1,1,0.2886751345948129,0."
             "3739912400733567\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_corr,'@x2,0.2886751345948129,1.0000000000000002,"
             "0.7230798965149621\n" TOLBE_PROJECT_VERSION
             ",scores.csv,corrected_corr,'+y,0.3739912400733567,0.7230798965149621,1\n",
             small_note},
        // Control characters in a file's and a column's name are written out
        // on standard error and in the table (an escape sequence would
        // otherwise recolour the terminal), and the columns line up on
        // what is shown.
        Case{"control_characters_written_out",
             {{"scores\x1b[31m.csv", "x1,x2,y\x1b[0m\n" + scores.substr(scores.find('\n') + 1)},
              {"unrestricted.csv", unrestricted}},
             {"--data=scores\x1b[31m.csv", "--unrestricted=unrestricted.csv", "--interval=none"},
             0,
             "scores\\x1b[31m.csv: 3 variables, selected on x1, x2\n"
             "\n"
             "corrected covariances\n"
             "row       column    estimate\n"
             "x1        x1          4.0000\n"
             "x1        x2          1.0000\n"
             "x1        y\\x1b[0m    1.2389\n"
             "x2        x2          3.0000\n"
             "x2        y\\x1b[0m    2.0744\n"
             "y\\x1b[0m  y\\x1b[0m    2.7433\n"
             "\n"
             "corrected correlations\n"
             "row  column    estimate\n"
             "x1   x2          0.2887\n"
             "x1   y\\x1b[0m    0.3740\n"
             "x2   y\\x1b[0m    0.7231\n",
             "tolbe: scores\\x1b[31m.csv: note: 2 of 10 rows have a missing value and were left "
             "out: 8 rows used\n" +
                 small_sample("scores\\x1b[31m.csv", 8, 3)},
        Case{"table_of_matrix_input",
             {{"clean.txt", tolbe::testing_support::file_text(cli_cases + "/clean.txt")}},
             {"--n=100", "clean.txt"},
             0,
             clean_table,
             clean_note},
        // ---- Refusals, with the file's name and place.
        Case{"data_file_missing",
             {{"unrestricted.csv", unrestricted}},
             data_args,
             2,
             "",
             "tolbe: cannot open 'scores.csv': No such file or directory\n"},
        Case{"unrestricted_file_missing",
             {{"scores.csv", scores}},
             data_args,
             2,
             "",
             "tolbe: cannot open 'unrestricted.csv': No such file or directory\n"},
        Case{"a_word_among_the_scores", scores_with("scores.csv", "x1,x2,y\n5,3,4\n6,five,5\n"),
             data_args, 2, "",
             "tolbe: scores.csv:3:3: \"five\" is not a number (column x2); a missing value is an "
             "empty field or NA\n"},
        Case{"scores_without_header", scores_with("scores.csv", "5,3,4\n6,5,5\n"), data_args, 2, "",
             "tolbe: scores.csv:1: the first line holds numbers, not names: the file needs a "
             "header row of column names\n"},
        Case{"too_few_complete_rows", scores_with("scores.csv", "x1,x2,y\n5,3,4\n6,NA,5\n"),
             data_args, 2, "",
             "tolbe: scores.csv: fewer than 2 complete rows (1 row with a missing value left "
             "out)\n"},
        // Two rows of one variable have a variance, but the bootstrap needs
        // three.
        Case{"too_few_rows_for_the_bootstrap",
             {{"scores.csv", "x1\n5\n6\n"}, {"unrestricted.csv", "x1\n4\n"}},
             data_and({"--interval=bootstrap"}),
             2,
             "",
             small_sample("scores.csv", 2, 1) +
                 "tolbe: scores.csv: the intervals: fewer than 3 complete rows, which adf and the "
                 "bootstrap need\n"},
        // Two rows for three variables: no var/cov matrix at all.
        Case{"too_few_rows", scores_with("scores.csv", "x1,x2,y\n5,3,4\n6,4,5\n"),
             data_and({"--interval=bootstrap"}), 2, "", too_few_rows("scores.csv", 2, 3)},
        // x2 = 2 x1 in four rows: the selection block is singular.
        Case{"selection_block_singular",
             scores_with("scores.csv", "x1,x2,y\n1,2,4\n2,4,5\n3,6,5\n4,8,7\n"), data_args, 2, "",
             "tolbe: scores.csv: warning: the restricted var/cov matrix, as the correction reads "
             "it, is not positive definite: it cannot be the var/cov matrix of real data; check "
             "it for typing errors\n"
             "tolbe: scores.csv: warning: the unrestricted variance of x2, a selection variable, "
             "is below its restricted variance (3 against 6.667): selection on a variable "
             "shrinks its variance. Standard deviations in place of variances, or the "
             "unrestricted matrix's variables in another order than the restricted one's, give "
             "this\n" +
                 small_sample("scores.csv", 4, 3) +
                 "tolbe: scores.csv: the restricted var/cov matrix of the selection variables is "
                 "not positive definite (leading minor of order 2); it cannot be inverted\n"},
        Case{"unrestricted_names_another_variable",
             scores_with("unrestricted.csv", "x1,z\n4,1\n1,3\n"), data_args, 2, "",
             "tolbe: '--unrestricted' names variables that '--data' lacks: z; give '--select', the "
             "names or numbers of the selection variables in '--data' in the order of "
             "'--unrestricted'\n"},
        Case{"unrestricted_and_select_disagree", scores_and_s, data_and({"--select=x1,y"}), 2, "",
             "tolbe: the unrestricted matrix is that of x1, x2, but '--select' names x1, y\n"},
        Case{"unrestricted_value_missing", scores_with("unrestricted.csv", "x1,x2\n4,\n1,3\n"),
             data_args, 2, "",
             "tolbe: unrestricted.csv:2:3: the value of row x1, column x2 is missing; a var/cov "
             "matrix needs every value\n"},
        Case{"select_names_no_column", scores_and_s, data_and({"--select=x1,x3"}), 2, "",
             "tolbe: '--select' names an unknown variable: x3\n"},
        Case{"select_names_with_a_trailing_comma", scores_and_s, data_and({"--select=x1,x2,"}), 2,
             "", "tolbe: '--select' holds an empty name\n"},
        Case{"select_names_with_an_empty_item", scores_and_s, data_and({"--select=x1,,x2"}), 2, "",
             "tolbe: '--select' holds an empty name\n"},
        Case{"reliability_of_a_selection_variable", scores_and_s,
             data_and({"--reliabilities=x2=0.9"}), 2, "",
             "tolbe: x2 is a selection variable; reliabilities are for the other variables: y\n"},
        Case{"reliability_of_no_column", scores_and_s, data_and({"--reliabilities=z=0.9"}), 2, "",
             "tolbe: z is not a variable of '--data'; reliabilities are for the other variables: "
             "y\n"},
        Case{"reliability_twice", scores_and_s, data_and({"--reliabilities=y=0.9,y=0.8"}), 2, "",
             "tolbe: '--reliabilities' names y more than once\n"},
        Case{"pool_without_a_selection_column",
             scores_with("pool.csv", "id,x1\na,1\nb,2\n"),
             {"--data=scores.csv", "--pool=pool.csv", "--select=x1,x2"},
             2,
             "",
             "tolbe: '--pool' has no column for the selection variable x2\n"},
        Case{"report_refused_with_intervals", scores_and_s, data_and({"--format=report"}), 2, "",
             "tolbe: the report has no room for intervals: use '--format=table', csv or json (or "
             "'--interval=none')\n" +
                 try_help},
        Case{"problem_file_beside_data", scores_and_s, data_and({"study.txt"}), 2, "",
             "tolbe: with '--data' the scores are the problem: give no problem FILE "
             "('study.txt')\n" +
                 try_help}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// ---- The same problem written in different ways: the same CSV ------------

// The CSV's rows without their first field (the file's name).
std::string without_files(const std::string& csv) {
  std::istringstream lines(csv);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    out += line.substr(line.find(',') + 1) + "\n";
  }
  return out;
}

struct Written {
  const char* name;
  Files files;
  std::vector<std::string> args;
};

struct SameNumbers {
  const char* name;
  Written one;
  Written other;
};

void PrintTo(const SameNumbers& c, std::ostream* os) {
  *os << c.name;
}

class SameProblem : public testing::TestWithParam<SameNumbers> {};

TEST_P(SameProblem, gives_the_same_numbers) {
  const SameNumbers& c = GetParam();
  std::vector<std::string> csv = {"--format=csv", "-q"};
  auto args = [&csv](std::vector<std::string> given) {
    given.insert(given.end(), csv.begin(), csv.end());
    return given;
  };
  BinaryRun one = run_with(c.one.files, args(c.one.args));
  BinaryRun other = run_with(c.other.files, args(c.other.args));
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(one.err, "");
  EXPECT_EQ(other.err, "");
  // Intervals with standard errors that are not all 0 (the selection
  // variables' are): the numbers compared are not the trivial ones.
  ASSERT_NE(one.out.find("corrected_corr_se,y,0."), std::string::npos) << one.out;
  EXPECT_EQ(without_files(one.out), without_files(other.out));
}

const std::string semicolons =
    "x1;x2;y\n5,0;3;4\n6;5;5\n7;4;7\n6;;5\n8;6;6\n6;7;8\nNA;4;4\n9;5,00;7\n7;8;9\n8;7;6\n";
// The pool: 12 applicants, one without x1 (left out), one without a note
// (kept: the note is not read).
const std::string pool =
    "id,x2,note,x1\n"
    "a,3,ok,5\n"
    "b,6,ok,9\n"
    "c,4,,6\n"
    "d,2,ok,3\n"
    "e,7,ok,8\n"
    "f,5,ok,NA\n"
    "g,1,ok,2\n"
    "h,8,ok,7\n"
    "i,5,ok,5\n"
    "j,3,ok,6\n"
    "k,6,ok,4\n"
    "l,4,ok,7\n";
const std::string plain_pool = "x1,x2\n5,3\n9,6\n6,4\n3,2\n8,7\n2,1\n7,8\n5,5\n6,3\n4,6\n7,4\n";

const std::vector<std::string> with_pool = {"--data=scores.csv", "--pool=pool.csv",
                                            "--select=x1,x2"};

std::vector<std::string> plus(std::vector<std::string> args, std::vector<std::string> more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    cli_data_e2e_test, SameProblem,
    testing::Values(
        SameNumbers{"semicolons_and_decimal_commas",
                    {"commas", scores_and_s, data_args},
                    {"semicolons", scores_with("scores.csv", semicolons), data_args}},
        SameNumbers{"incomplete_rows_left_out",
                    {"with them", scores_and_s, data_args},
                    {"without", scores_with("scores.csv", complete_scores), data_args}},
        SameNumbers{"unrestricted_without_row_names",
                    {"named rows", scores_and_s, data_args},
                    {"plain", scores_with("unrestricted.csv", "x1,x2\n4,1\n1,3\n"), data_args}},
        SameNumbers{"unrestricted_in_another_order_matched_by_name",
                    {"in order", scores_and_s, data_args},
                    {"swapped", scores_with("unrestricted.csv", "x2;x1\n3;1\n1;4\n"),
                     data_and({"--select=x1,x2"})}},
        SameNumbers{"selection_by_number_or_name",
                    {"names", scores_and_s, data_and({"--select=x1,x2"})},
                    {"numbers", scores_and_s, data_and({"--select=1-2"})}},
        // --select=x2,x1 puts S's rows in that order, as the unrestricted
        // file written in that order does by itself.
        SameNumbers{"selection_reversed",
                    {"select", scores_and_s, data_and({"--select=x2,x1"})},
                    {"file", scores_with("unrestricted.csv", "x2,x1\n3,1\n1,4\n"), data_args}},
        SameNumbers{"pool_columns_found_by_name",
                    {"full pool", scores_with("pool.csv", pool), with_pool},
                    {"plain pool", scores_with("pool.csv", plain_pool), with_pool}},
        SameNumbers{"bootstrap_on_any_number_of_threads",
                    {"one thread", scores_with("pool.csv", pool),
                     plus(with_pool,
                          {"--interval=bootstrap", "--resamples=200", "--threads=1", "--seed=9"})},
                    {"four", scores_with("pool.csv", pool),
                     plus(with_pool, {"--interval=bootstrap", "--resamples=200", "--threads=4",
                                      "--seed=9"})}}),
    [](const testing::TestParamInfo<SameNumbers>& param_info) { return param_info.param.name; });

TEST(cli_data_e2e_test, another_seed_gives_other_resamples) {
  auto bootstrap = [](const char* seed) {
    return run_with(scores_and_s, data_and({"--interval=bootstrap", "--resamples=50", "-q",
                                            "--format=csv", seed}))
        .out;
  };
  EXPECT_EQ(bootstrap("--seed=1"), bootstrap("--seed=1"));
  EXPECT_NE(bootstrap("--seed=1"), bootstrap("--seed=2"));
}

// ---- CSV and JSON against the library on the same scores ----------------

using Matrix = std::vector<double>;  // q x q, column-major

// What the library gives for the complete rows `rows` (row by row, q
// values each), selection `selection`, S known or the pool's rows.
struct Expected {
  Matrix cov, corr, dis;
  Matrix se[3], lower[3], upper[3];
  tolbe::IntervalSummary summary;
};

Expected by_the_library(int q, const std::vector<std::vector<double>>& rows,
                        std::vector<int> selection, const Matrix& s,
                        const std::vector<std::vector<double>>& pool_rows,
                        const std::vector<double>& reliabilities, tolbe::IntervalRequest request) {
  int n = static_cast<int>(rows.size());
  int p = static_cast<int>(selection.size());
  auto qq = static_cast<std::size_t>(q * q);
  Matrix data(static_cast<std::size_t>(n * q));
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < q; ++j) {
      data[static_cast<std::size_t>(i + j * n)] =
          rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  int pool_n = static_cast<int>(pool_rows.size());
  Matrix pool_data(static_cast<std::size_t>(pool_n * p));
  for (int i = 0; i < pool_n; ++i) {
    for (int j = 0; j < p; ++j) {
      pool_data[static_cast<std::size_t>(i + j * pool_n)] =
          pool_rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  Matrix v(qq);
  Matrix means(static_cast<std::size_t>(q));
  EXPECT_EQ(tolbe::covariance_from_data({n, q, data.data(), n}, means.data(), v.data(), q).status,
            tolbe::Status::ok);
  Matrix pool_s = s;
  if (pool_n > 0) {
    pool_s.assign(static_cast<std::size_t>(p * p), 0.0);
    Matrix pool_means(static_cast<std::size_t>(p));
    tolbe::covariance_from_data({pool_n, p, pool_data.data(), pool_n}, pool_means.data(),
                                pool_s.data(), p);
  }
  tolbe::LawleyProblem problem{q, p, v.data(), q, pool_s.data(), p, selection, reliabilities};
  tolbe::LawleyCorrection c = tolbe::lawley(problem);
  Expected e;
  e.cov = c.covariances;
  e.corr = c.correlations;
  e.dis = c.disattenuated;
  tolbe::IntervalResults results;
  tolbe::IntervalMatrices* to[3] = {&results.covariances, &results.correlations,
                                    &results.disattenuated};
  for (int m = 0; m < 3; ++m) {
    e.se[m].resize(qq);
    e.lower[m].resize(qq);
    e.upper[m].resize(qq);
    *to[m] = {e.se[m].data(), e.lower[m].data(), e.upper[m].data(), q};
  }
  request.data = {n, q, data.data(), n};
  problem.restricted = nullptr;
  if (pool_n > 0) {
    request.pool = {pool_n, p, pool_data.data(), pool_n};
    problem.unrestricted = nullptr;
  }
  tolbe::WorkspaceSize need = tolbe::lawley_intervals_workspace_size(q, p, request);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  EXPECT_EQ(tolbe::lawley_intervals(problem, request, results, work, int_work, &e.summary),
            tolbe::Status::ok);
  return e;
}

// The rows of each matrix of a CSV of one problem, by the matrix's name.
std::map<std::string, std::vector<std::vector<std::string>>> csv_matrices(const std::string& csv) {
  std::map<std::string, std::vector<std::vector<std::string>>> matrices;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    // version, file, matrix, then the variable and its values
    EXPECT_EQ(cells[0], TOLBE_PROJECT_VERSION);
    matrices[cells[2]].emplace_back(cells.begin() + 3, cells.end());
  }
  return matrices;
}

double number(const std::string& text) {
  if (text == "NaN") return std::nan("");
  if (text == "Inf") return HUGE_VAL;
  if (text == "-Inf") return -HUGE_VAL;
  return std::strtod(text.c_str(), nullptr);
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

// Every value of every matrix of `csv`, bit for bit, and each row named.
void expect_csv_holds(const std::string& csv, const Expected& e, int q,
                      const std::vector<std::string>& names, bool with_reliabilities) {
  auto matrices = csv_matrices(csv);
  const char* kinds[3] = {"corrected_cov", "corrected_corr", "disattenuated_corr"};
  const Matrix* estimates[3] = {&e.cov, &e.corr, &e.dis};
  std::size_t expected_count = with_reliabilities ? 12 : 8;
  EXPECT_EQ(matrices.size(), expected_count);
  for (int m = 0; m < (with_reliabilities ? 3 : 2); ++m) {
    std::string kind = kinds[m];
    std::pair<std::string, const Matrix*> wanted[4] = {{kind, estimates[m]},
                                                       {kind + "_se", &e.se[m]},
                                                       {kind + "_lower", &e.lower[m]},
                                                       {kind + "_upper", &e.upper[m]}};
    for (const auto& [name, values] : wanted) {
      SCOPED_TRACE(name);
      const auto& rows = matrices[name];
      ASSERT_EQ(rows.size(), static_cast<std::size_t>(q));
      for (int i = 0; i < q; ++i) {
        const auto& row = rows[static_cast<std::size_t>(i)];
        ASSERT_EQ(row.size(), static_cast<std::size_t>(q + 1));
        EXPECT_EQ(row[0], names[static_cast<std::size_t>(i)]);
        for (int j = 0; j < q; ++j) {
          double want = (*values)[static_cast<std::size_t>(i + j * q)];
          EXPECT_TRUE(same_bits(number(row[static_cast<std::size_t>(j + 1)]), want))
              << "(" << i + 1 << ", " << j + 1 << "): " << row[static_cast<std::size_t>(j + 1)]
              << " against " << want;
        }
      }
    }
  }
}

const std::vector<std::vector<double>> complete_rows = {{5, 3, 4}, {6, 5, 5}, {7, 4, 7}, {8, 6, 6},
                                                        {6, 7, 8}, {9, 5, 7}, {7, 8, 9}, {8, 7, 6}};
const std::vector<std::vector<double>> pool_rows = {{5, 3}, {9, 6}, {6, 4}, {3, 2}, {8, 7}, {2, 1},
                                                    {7, 8}, {5, 5}, {6, 3}, {4, 6}, {7, 4}};
const Matrix s_known = {4, 1, 1, 3};

TEST(cli_data_e2e_test, adf_csv_is_the_librarys) {
  BinaryRun got = run_with(scores_and_s, data_and({"--format=csv", "--reliabilities=y=0.64"}));
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.err, small_note +
                         "tolbe: scores.csv: note: 95% intervals by the delta method, "
                         "distribution-free (ADF); restricted n = 8; the unrestricted matrix "
                         "known\n");
  EXPECT_EQ(got.out.substr(0, got.out.find('\n')), "version,file,matrix,variable,x1,x2,y");
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::adf;
  Expected e = by_the_library(3, complete_rows, {0, 1}, s_known, {}, {0.64}, request);
  expect_csv_holds(got.out, e, 3, {"x1", "x2", "y"}, true);
}

// The selection in another order, the pool's scores for S, a bootstrap:
// the library called on the selection in that order, on the pool's
// complete rows of those columns.
TEST(cli_data_e2e_test, bootstrap_csv_of_a_pool_is_the_librarys) {
  BinaryRun got = run_with(
      scores_with("pool.csv", pool),
      {"--data=scores.csv", "--pool=pool.csv", "--select=x2,x1", "--interval=bootstrap",
       "--resamples=300", "--seed=12", "--ci-type=percentile", "--level=0.8", "--format=csv"});
  ASSERT_EQ(got.status, 0) << got.err;
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::bootstrap;
  request.resamples = 300;
  request.seed = 12;
  request.level = 0.8;
  request.interval = tolbe::BootstrapInterval::percentile;
  std::vector<std::vector<double>> swapped;
  for (const auto& row : pool_rows) swapped.push_back({row[1], row[0]});
  Expected e = by_the_library(3, complete_rows, {1, 0}, {}, swapped, {}, request);
  expect_csv_holds(got.out, e, 3, {"x1", "x2", "y"}, false);
  // A resample of 8 rows may repeat a few of them so often that the
  // selection block is singular: the library leaves it out, and says how
  // many it left out; we say it as a warning.
  int failed = e.summary.failed_resamples;
  std::string failures =
      failed == 0 ? ""
                  : "tolbe: scores.csv: warning: " + std::to_string(failed) +
                        " of 300 bootstrap resamples failed (the selection variables' var/cov "
                        "matrix not positive definite) and were left out: the intervals rest on "
                        "the others\n";
  EXPECT_EQ(got.err,
            dropped_note +
                "tolbe: scores.csv: note: the pool (pool.csv): 1 of 12 rows have a missing value "
                "in a selection variable and were left out: 11 rows used\n" +
                small_sample("scores.csv", 8, 3) + failures +
                "tolbe: scores.csv: note: 80% intervals by the bootstrap (percentile, 300 "
                "resamples, seed 12); restricted n = 8, pool n = 11\n");
}

TEST(cli_data_e2e_test, json_says_how_and_holds_the_librarys_values) {
  BinaryRun got = run_with(scores_with("pool.csv", pool),
                           plus(with_pool, {"--interval=bootstrap", "--resamples=100",
                                            "--format=json", "--reliabilities=y=0.81"}));
  ASSERT_EQ(got.status, 0) << got.err;
  nlohmann::ordered_json doc = nlohmann::ordered_json::parse(got.out).at(0);
  EXPECT_EQ(doc["file"], "scores.csv");
  EXPECT_EQ(doc["names"], nlohmann::ordered_json({"x1", "x2", "y"}));
  EXPECT_EQ(doc["source"], nlohmann::ordered_json::parse(R"json({
    "data": "scores.csv", "rows_used": 8, "rows_dropped": 2, "unrestricted": null,
    "pool": "pool.csv", "pool_rows_used": 11, "pool_rows_dropped": 1})json"));
  EXPECT_EQ(doc["intervals"], nlohmann::ordered_json::parse(R"json({
    "method": "bootstrap", "level": 0.95, "n": 8, "n_unrestricted": 11, "ci_type": "bca",
    "resamples": 100, "seed": 0, "failed_resamples": 0, "percentile_fallbacks": 0})json"));
  EXPECT_EQ(doc["reliabilities"], nlohmann::ordered_json({0.81}));
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::bootstrap;
  request.resamples = 100;
  Expected e = by_the_library(3, complete_rows, {0, 1}, {}, pool_rows, {0.81}, request);
  const char* kinds[3] = {"corrected_cov", "corrected_corr", "disattenuated_corr"};
  for (int m = 0; m < 3; ++m) {
    for (auto [suffix, values] : {std::pair{"_se", &e.se[m]}, std::pair{"_lower", &e.lower[m]},
                                  std::pair{"_upper", &e.upper[m]}}) {
      std::string name = std::string(kinds[m]) + suffix;
      SCOPED_TRACE(name);
      for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
          EXPECT_EQ(doc[name][i][j].get<double>(), (*values)[static_cast<std::size_t>(i + 3 * j)]);
        }
      }
    }
  }
  // The notes of the reading are findings too.
  EXPECT_EQ(doc["findings"][0]["code"], "rows_dropped");
  EXPECT_EQ(doc["findings"][1]["code"], "pool_rows_dropped");
}

// Four rows, a criterion all but constant: many resamples fail (a variance
// of 0), and some value's resamples all fall on one side of its estimate.
// The counts are the library's, as it gives them on the same rows; the
// failures are a warning (an error under --strict), the fallbacks a note.
TEST(cli_data_e2e_test, failed_resamples_and_percentile_fallbacks_are_said) {
  // Three rows: a resample of one row three times has no variance in x1
  // (it fails); one of two rows gives x1 and y a correlation of 1, never
  // below the estimate, so BCa falls back.
  const Files files = {{"tiny.csv", "x1,y\n0,0\n1,1\n2,3\n"},
                       {"unrestricted.csv", "\"\",\"x1\"\n\"x1\",2\n"}};
  const std::vector<std::string> args = {"--data=tiny.csv", "--unrestricted=unrestricted.csv",
                                         "--interval=bootstrap", "--resamples=50", "--format=json"};
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::bootstrap;
  request.resamples = 50;
  Expected e = by_the_library(2, {{0, 0}, {1, 1}, {2, 3}}, {0}, {2.0}, {}, {}, request);
  int failed = e.summary.failed_resamples;
  int fallbacks = e.summary.percentile_fallbacks;
  ASSERT_GT(failed, 0);
  ASSERT_GT(fallbacks, 0);
  std::string failures = std::to_string(failed) +
                         " of 50 bootstrap resamples failed (the selection variables' var/cov "
                         "matrix not positive definite) and were left out: the intervals rest on "
                         "the others";
  std::string fallback_note =
      "tolbe: tiny.csv: note: " + std::to_string(fallbacks) +
      (fallbacks == 1 ? " value has" : " values have") +
      " no BCa interval (every resample on one side of the estimate, or the acceleration too "
      "large) and got the percentile interval\n";
  BinaryRun got = run_with(files, args);
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.err, small_sample("tiny.csv", 3, 2) + "tolbe: tiny.csv: warning: " + failures +
                         "\n" + fallback_note);
  nlohmann::json how = nlohmann::json::parse(got.out).at(0).at("intervals");
  EXPECT_EQ(how["failed_resamples"], failed);
  EXPECT_EQ(how["percentile_fallbacks"], fallbacks);
  BinaryRun strict = run_with(files, plus(args, {"--strict", "-q"}));
  EXPECT_EQ(strict.status, 2);
  EXPECT_EQ(strict.err,
            small_sample("tiny.csv", 3, 2, "error") + "tolbe: tiny.csv: error: " + failures + "\n");
  nlohmann::json refused = nlohmann::json::parse(strict.out).at(0);
  std::string first = small_sample("tiny.csv", 3, 2, "error");
  EXPECT_EQ(refused["error"], first.substr(0, first.size() - 1));
}

// Matrix input: the normal method with an estimated S, against the library
// on the matrices of clean.txt.
TEST(cli_data_e2e_test, normal_csv_of_matrix_input_is_the_librarys) {
  BinaryRun got = tolbe::testing_support::run_binary(
      TOLBE_BINARY, {"--n=60", "--n-unrestricted=300", "--format=csv", "--select=2,1", "clean.txt"},
      cli_cases);
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.err, clean_note +
                         "tolbe: clean.txt: note: 95% intervals by the delta method, normal "
                         "theory; restricted n = 60, unrestricted n = 300\n");
  static const double v[9] = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
  static const double s[4] = {1.44, 0.60, 0.60, 1.21};
  static const int selection[2] = {1, 0};
  tolbe::LawleyProblem problem{3, 2, v, 3, s, 2, selection, {}};
  tolbe::LawleyCorrection c = tolbe::lawley(problem);
  Expected e;
  e.cov = c.covariances;
  e.corr = c.correlations;
  tolbe::IntervalResults results;
  tolbe::IntervalMatrices* to[2] = {&results.covariances, &results.correlations};
  for (int m = 0; m < 2; ++m) {
    e.se[m].resize(9);
    e.lower[m].resize(9);
    e.upper[m].resize(9);
    *to[m] = {e.se[m].data(), e.lower[m].data(), e.upper[m].data(), 3};
  }
  tolbe::IntervalRequest request;
  request.n = 60;
  request.n_unrestricted = 300;
  tolbe::WorkspaceSize need = tolbe::lawley_intervals_workspace_size(3, 2, request);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  ASSERT_EQ(tolbe::lawley_intervals(problem, request, results, work, int_work), tolbe::Status::ok);
  expect_csv_holds(got.out, e, 3, {"1", "2", "3"}, false);
}

// Every variable a selection variable, with reliabilities: the
// disattenuated correlations are the corrected ones (each reliability is
// 1), and so are their intervals, which the library leaves to us there.
TEST(cli_data_e2e_test, every_variable_selected_disattenuates_nothing) {
  BinaryRun got = tolbe::testing_support::run_binary(
      TOLBE_BINARY, {"--n=30", "--n-unrestricted=50", "--format=csv", "-q", "p_equals_q.in"},
      TOLBE_CASES);
  ASSERT_EQ(got.status, 0) << got.err;
  auto matrices = csv_matrices(got.out);
  for (std::string suffix : {"", "_se", "_lower", "_upper"}) {
    SCOPED_TRACE(suffix);
    EXPECT_EQ(matrices["disattenuated_corr" + suffix], matrices["corrected_corr" + suffix]);
  }
  // S estimated: the numbers compared are not zeros.
  EXPECT_NE(matrices["corrected_corr_se"].at(0).at(2), "0");
}

// ---- Odd ends -------------------------------------------------------------

TEST(cli_data_e2e_test, scores_from_standard_input) {
  tolbe::testing_support::ScratchFolder folder("tolbe_stdin");
  write_file(folder / "scores.csv", scores);
  write_file(folder / "unrestricted.csv", unrestricted);
  BinaryRun got = run_binary(TOLBE_BINARY, {"--data=-", "--unrestricted=unrestricted.csv"},
                             folder.path(), folder / "scores.csv");
  EXPECT_EQ(got.status, 0);
  std::string table = adf_table;
  table.replace(0, std::string("scores.csv").size(), "standard input");
  EXPECT_EQ(got.out, table);
  std::string note = dropped_note;
  note.replace(7, std::string("scores.csv").size(), "standard input");
  EXPECT_EQ(got.err, note + small_sample("standard input", 8, 3));
}

// Standard input is read once: two options naming it are refused before
// anything is read, rather than the second finding it empty.
TEST(cli_data_e2e_test, standard_input_named_twice_is_refused) {
  tolbe::testing_support::ScratchFolder folder("tolbe_stdin");
  write_file(folder / "scores.csv", scores);
  for (const auto& [args, named] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--data=-", "--pool=-", "--select=x1,x2"}, "'--data' and '--pool' both"},
           {{"--unrestricted=-", "--data=-"}, "'--data' and '--unrestricted' both"}}) {
    BinaryRun got = run_binary(TOLBE_BINARY, args, folder.path(), folder / "scores.csv");
    EXPECT_EQ(got.status, 2);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err,
              "tolbe: standard input can be read only once: " + named + " name '-'\n" + try_help);
  }
}

TEST(cli_data_e2e_test, tables_of_several_files_one_after_another) {
  auto table = [](std::vector<std::string> files) {
    files.insert(files.begin(), {"--n=100", "-q"});
    return tolbe::testing_support::run_binary(TOLBE_BINARY, files, cli_cases);
  };
  BinaryRun both = table({"clean.txt", "one_of_three.txt"});
  BinaryRun second = table({"one_of_three.txt"});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.out, clean_table + "\n" + second.out);
}

TEST(cli_data_e2e_test, a_data_file_beyond_64_mib_is_refused_whole) {
  std::string text = "x1,x2,y\n";
  const std::string row = "5,3,4\n6,5,5\n7,4,7\n8,6,6\n";
  while (text.size() + row.size() <= (std::size_t{64} << 20)) text += row;
  text.append((std::size_t{64} << 20) - text.size(), '\n');  // exactly 64 MiB: read
  BinaryRun at_limit = run_with(scores_with("scores.csv", text), data_and({"-q"}));
  EXPECT_EQ(at_limit.status, 0) << at_limit.err;
  text += "\n";
  BinaryRun beyond = run_with(scores_with("scores.csv", text), data_args);
  EXPECT_EQ(beyond.status, 2);
  EXPECT_EQ(beyond.out, "");
  EXPECT_EQ(beyond.err,
            "tolbe: scores.csv: the file is longer than 64 MiB, the most tolbe reads of a data "
            "file\n");
}

TEST(cli_data_e2e_test, a_bootstrap_too_large_for_memory_is_refused) {
  // 50 variables, 1000000 resamples: every value of every resample is kept.
  std::string text;
  std::string s = "";
  for (int k = 1; k <= 50; ++k) text += (k > 1 ? ",v" : "v") + std::to_string(k);
  text += "\n";
  for (int i = 0; i < 60; ++i) {
    for (int k = 1; k <= 50; ++k) text += (k > 1 ? "," : "") + std::to_string((i * k) % 17 + i % 5);
    text += "\n";
  }
  BinaryRun got = run_with({{"scores.csv", text}, {"unrestricted.csv", "v1\n40\n"}},
                           data_and({"--interval=bootstrap", "--resamples=1000000", "-q"}));
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  // The refusal ends what is said, after the warnings of these scores.
  std::string last = got.err.substr(got.err.rfind('\n', got.err.size() - 2) + 1);
  tolbe::IntervalRequest request;
  request.method = tolbe::IntervalMethod::bootstrap;
  request.resamples = 1000000;
  double dummy = 0.0;
  request.data = {60, 50, &dummy, 60};
  tolbe::WorkspaceSize need = tolbe::lawley_intervals_workspace_size(50, 1, request);
  std::size_t bytes = need.doubles * sizeof(double) + need.ints * sizeof(int);
  EXPECT_EQ(last, "tolbe: scores.csv: the intervals would need about " +
                      std::to_string((bytes + (1 << 20) - 1) >> 20) +
                      " MiB of memory, more than the 1024 MiB tolbe allows itself; use fewer "
                      "resamples\n");
}

// Each option for raw scores and intervals is in --help and the man page
// (where roff writes a hyphen as \-).
TEST(cli_data_e2e_test, options_are_documented) {
  BinaryRun help = tolbe::testing_support::run_binary(TOLBE_BINARY, {"--help"}, cli_cases);
  std::string man =
      tolbe::testing_support::file_text(std::string(TOLBE_EXAMPLES) + "/../doc/tolbe.1");
  for (std::string option : {"--data=", "--unrestricted=", "--pool=", "--reliabilities=",
                             "--interval=", "--n=", "--n-unrestricted=", "--level=", "--resamples=",
                             "--seed=", "--threads=", "--ci-type=", "table"}) {
    SCOPED_TRACE(option);
    EXPECT_NE(help.out.find(option), std::string::npos);
    std::string roff;
    for (char c : option.substr(0, option.size() - (option.back() == '=' ? 1 : 0))) {
      roff += c == '-' ? std::string("\\-") : std::string(1, c);
    }
    EXPECT_NE(man.find(roff), std::string::npos) << roff;
  }
}

}  // namespace

// With no selection variable the table's first line says so, rather than
// naming none.
TEST(cli_data_e2e_test, table_without_selection_variables_says_so) {
  BinaryRun got = run_with({{"none.txt", "0 2 0\n1 0.5\n0.5 2\n"}}, {"--n=50", "none.txt"});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out.substr(0, got.out.find('\n')), "none.txt: 2 variables, no selection variable");
}
