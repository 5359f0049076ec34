// The checks of the command line, run as a user would: each likely mistake
// in a problem file gives its finding (code, severity, the variables from 1
// and the exact line on standard error) and its exit status; a right problem
// gives none; -q and --strict change what is said and what is refused. The
// findings of the command line's JSON are the C API's and the C++ API's for
// the same numbers, on these problems and on random ones.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/csv_version.h"
#include "support/e2e_case.h"
#include "support/report_mask.h"
#include "support/run_binary.h"
#include "tolbe/findings.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace {

using tolbe::testing_support::with_version_column;

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::masked;
using tolbe::testing_support::run_with;
using Json = nlohmann::ordered_json;

// Writes `text` to the file `name` in a folder of its own and runs tolbe
// there on it with `args` before the name.
BinaryRun run_on(const std::string& name, const std::string& text, std::vector<std::string> args) {
  args.push_back(name);
  return run_with({{name, text}}, args);
}

// The console program's report of `text` (standard input, no arguments).
std::string console_report(const std::string& text) {
  BinaryRun console = run_with({{"console.in", text}}, {}, "console.in");
  EXPECT_EQ(console.status, 0) << console.err;
  return console.out;
}

struct Expected {
  const char* code;
  const char* severity;
  std::vector<int> variables;  // from 1
  std::string message;
};

// A problem refused for the finding `f`, in JSON: the finding's code and
// message, of the file, at no place.
Json refusal_of(const std::string& file, const Expected& f) {
  return {{"code", f.code},  {"argument", nullptr}, {"file", file},
          {"line", nullptr}, {"column", nullptr},   {"message", f.message}};
}

// One problem file and what the checks must find in it.
struct Mistake {
  const char* name;
  std::string text;
  std::vector<Expected> findings;
  int status;  // 2: an error, no results
};

void PrintTo(const Mistake& m, std::ostream* os) {
  *os << m.name;
}

std::string said(const std::string& file, const std::vector<Expected>& findings) {
  std::string text;
  for (const Expected& f : findings) {
    text += "tolbe: " + file + ": " + f.severity + ": " + f.message + "\n";
  }
  return text;
}

Json json_findings(const std::vector<Expected>& findings) {
  Json array = Json::array();
  for (const Expected& f : findings) {
    array.push_back({{"code", f.code},
                     {"severity", f.severity},
                     {"message", f.message},
                     {"variables", f.variables}});
  }
  return array;
}

// A problem of two selection variables among four, with variances 4, 9, 16
// and 6.25 and correlations between 0.15 and 0.2; unrestricted variances 6
// and 12 (ratios 1.5 and 1.33) and r12 = 0.18. Corrected, every correlation
// lies between 0.17 and 0.24, as in the sample. The mistakes below change
// what they need of it.
const std::string counts = "2 4 0\n";
const std::string restricted =
    "4 1 1.2 0.8\n"
    "1 9 2.4 1.5\n"
    "1.2 2.4 16 2\n"
    "0.8 1.5 2 6.25\n";
const std::string unrestricted =
    "6 1.5\n"
    "1.5 12\n";
// Correlations among the four: unit diagonals.
const std::string correlations =
    "1 0.3 0.2 0.1\n"
    "0.3 1 0.25 0.2\n"
    "0.2 0.25 1 0.3\n"
    "0.1 0.2 0.3 1\n";

const std::string enter_whole = "; enter the whole matrix";
const std::string correlations_note =
    "the restricted matrix has a unit diagonal (correlations) but the unrestricted one does not: "
    "that is right only when the unrestricted values are in units of the restricted standard "
    "deviations";
// A selection variable whose unrestricted variance is below its restricted
// one: "(S against V)" goes before this.
const std::string grew_tail =
    ": selection on a variable shrinks its variance. Standard deviations in place of variances, "
    "or the unrestricted matrix's variables in another order than the restricted one's, give "
    "this";
const std::string implausible_tail =
    ": standard deviations more than five times apart suggest matrices in different units "
    "(correlations beside covariances?) or variables in another order";

const std::vector<Mistake> mistakes = {
    {"clean", counts + restricted + unrestricted, {}, 0},
    // Right too: a variance ratio of 20 (80 / 4, strong but real selection;
    // corrected correlations up to 0.51, disattenuated up to 0.54) with
    // reliabilities. One of 0.05 (0.2 / 4) is plausible as a ratio, but a
    // selection variable whose variance grew under selection is not.
    {"clean_ratio_20_with_reliabilities",
     "2 4 1\n" + restricted + "80 1.5\n1.5 12\n0.8 0.9\n",
     {},
     0},
    {"clean_ratio_0_05",
     counts + restricted + "0.2 0.1\n0.1 12\n",
     {{"selection_variance_grew",
       "warning",
       {1},
       "the unrestricted variance of variable 1, a selection variable, is below its restricted "
       "variance (0.2 against 4)" +
           grew_tail}},
     0},
    // Zeros above the diagonal: the correction would read V12 = 0 and r12 = 0.
    {"lower_triangle",
     counts + "4 0 0 0\n1 9 0 0\n1.2 2.4 16 0\n0.8 1.5 2 6.25\n" + unrestricted,
     {{"restricted_lower_triangle",
       "error",
       {},
       "the restricted var/cov matrix holds only its lower triangle: every value above the "
       "diagonal is 0 or missing, and the correction reads some of them" +
           enter_whole}},
     2},
    // The same entered with '/', which leaves the rest of a row at 0.
    {"lower_triangle_with_slashes",
     counts + "4 /\n1 9 /\n1.2 2.4 16 /\n0.8 1.5 2 6.25\n" + unrestricted,
     {{"restricted_lower_triangle",
       "error",
       {},
       "the restricted var/cov matrix holds only its lower triangle: every value above the "
       "diagonal is 0 or missing, and the correction reads some of them" +
           enter_whole}},
     2},
    // Two other variables: their block, read whole, would have V43 = 0.
    {"upper_triangle",
     counts + "4 1 1.2 0.8\n0 9 2.4 1.5\n0 0 16 2\n0 0 0 6.25\n" + unrestricted,
     {{"restricted_upper_triangle",
       "error",
       {},
       "the restricted var/cov matrix holds only its upper triangle: every value below the "
       "diagonal is 0 or missing, and the correction reads some of them" +
           enter_whole}},
     2},
    {"unrestricted_lower_triangle",
     counts + restricted + "6 /\n1.5 12\n",
     {{"unrestricted_lower_triangle",
       "error",
       {},
       "the unrestricted var/cov matrix holds only its lower triangle: every value above the "
       "diagonal is 0 or missing, and the correction reads it whole" +
           enter_whole}},
     2},
    {"unrestricted_upper_triangle",
     counts + restricted + "6 1.5\n0 12\n",
     {{"unrestricted_upper_triangle",
       "error",
       {},
       "the unrestricted var/cov matrix holds only its upper triangle: every value below the "
       "diagonal is 0 or missing, and the correction reads it whole" +
           enter_whole}},
     2},
    // V21 = 1.06 against V12 = 1: 0.06 / sqrt(4 * 9) = 0.01; V42 = 1.2
    // against V24 = 1.5: 0.3 / sqrt(9 * 6.25) = 0.04, the largest.
    {"asymmetric",
     counts + "4 1 1.2 0.8\n1.06 9 2.4 1.5\n1.2 2.4 16 2\n0.8 1.2 2 6.25\n" + unrestricted,
     {{"restricted_asymmetric",
       "warning",
       {2, 4},
       "the restricted var/cov matrix is not symmetric: its two values for variable 2 and "
       "variable 4 differ by 0.04 relative to their standard deviations (the largest "
       "difference); the correction used the upper triangle of the selection variables' block, "
       "the rest of their rows and the whole block of the other variables, and ignored the "
       "rest"}},
     0},
    // S21 = 1.2 against S12 = 1.5: 0.3 / sqrt(6 * 12) = 0.035355...
    {"unrestricted_asymmetric",
     counts + restricted + "6 1.5\n1.2 12\n",
     {{"unrestricted_asymmetric",
       "warning",
       {1, 2},
       "the unrestricted var/cov matrix is not symmetric: its two values for variable 1 and "
       "variable 2 differ by 0.03536 relative to their standard deviations (the largest "
       "difference); the correction used all of it"}},
     0},
    {"two_correlation_matrices",
     counts + correlations + "1 0.5\n0.5 1\n",
     {{"two_correlation_matrices",
       "warning",
       {},
       "both matrices have a unit diagonal (correlations?): the correction then takes the "
       "selection variables' variances to be the same in the population as in the sample, and "
       "corrects only for the change in their correlations; give the unrestricted matrix in "
       "units of the restricted standard deviations, or both as variances and covariances"}},
     0},
    // Unrestricted variances of 1 against 4 and 9: ratios 0.25 and 0.11,
    // plausible in themselves.
    {"covariances_beside_correlations",
     counts + restricted + "1 0.3\n0.3 1\n",
     {{"covariances_beside_correlations",
       "warning",
       {},
       "the unrestricted matrix has a unit diagonal (correlations?) but the restricted one does "
       "not: enter both as variances and covariances"}},
     0},
    // 220 / 1 for variable 1; 2 / 1 for variable 2 is plausible.
    {"correlations_beside_covariances_ratio_220",
     counts + correlations + "220 3\n3 2\n",
     {{"implausible_variance_ratio",
       "warning",
       {1},
       "the unrestricted variance of variable 1 is 220 times its restricted variance" +
           implausible_tail},
      {"correlations_beside_covariances", "note", {}, correlations_note}},
     0},
    // 1 / 100 for variable 1 and 1.5 / 50 = 0.03 for variable 2: both below
    // 1/25.
    {"variance_ratio_0_01",
     counts + "100 10 6 4\n10 50 5 3\n6 5 16 2\n4 3 2 6.25\n" + "1 0.2\n0.2 1.5\n",
     {{"implausible_variance_ratio",
       "warning",
       {1},
       "the unrestricted variance of variable 1 is 0.01 times its restricted variance (2 in "
       "all)" +
           implausible_tail}},
     0},
    // 81 for 0.81: the reliability of variable 3 (variable 4's is 0.9).
    {"reliability_81",
     "2 4 1\n" + restricted + unrestricted + "81 0.9\n",
     {{"reliability_out_of_range",
       "warning",
       {3},
       "the reliability of variable 3 is outside (0, 1]; a reliability is a proportion such as "
       "0.81"}},
     0},
    // S22 = 0: C22 = 0, so r12 (1.5 / 0), r23 and r24 are infinite.
    {"unrestricted_variance_0",
     counts + restricted + "6 1.5\n1.5 0\n",
     {{"unrestricted_variance_not_positive",
       "warning",
       {2},
       "the unrestricted variance of variable 2 is not positive"},
      {"corrected_variance_not_positive",
       "warning",
       {2},
       "the corrected variance of variable 2 is not positive; its correlations are not numbers"},
      {"correlation_out_of_range",
       "warning",
       {1, 2},
       "the corrected correlation of variable 1 and variable 2 is infinite (a variance it "
       "divides by is 0) (3 in all)"}},
     0},
    // S12 = -1.5 where V12 = 1: C12 = S12, r12 = -0.18; the other
    // correlations stay positive (0.11 to 0.2).
    {"selection_sign_change",
     counts + restricted + "6 -1.5\n-1.5 12\n",
     {{"selection_sign_change",
       "note",
       {1, 2},
       "the correlation of variable 1 and variable 2, both selection variables, changes sign: "
       "there the unrestricted matrix replaces the restricted one, not the correction"}},
     0},
    // V34 = -0.1: the correction adds 0.2225 to it (as to 2 in the clean
    // problem), so r34 turns positive.
    {"sign_change",
     counts + "4 1 1.2 0.8\n1 9 2.4 1.5\n1.2 2.4 16 -0.1\n0.8 1.5 -0.1 6.25\n" + unrestricted,
     {{"sign_change",
       "note",
       {3, 4},
       "the correlation of variable 3 and variable 4 changes sign against the restricted sample "
       "(Ree et al. 1994)"}},
     0},
};

class Mistakes : public testing::TestWithParam<Mistake> {};

// Without options: each finding on standard error in its words; an error
// leaves the problem without a report, anything else leaves the report the
// console program writes.
TEST_P(Mistakes, without_options) {
  const Mistake& m = GetParam();
  std::string file = std::string(m.name) + ".txt";
  BinaryRun got = run_on(file, m.text, {});
  EXPECT_EQ(got.status, m.status);
  EXPECT_EQ(got.err, said(file, m.findings));
  if (m.status == 0) {
    EXPECT_EQ(masked(got.out), masked(console_report(m.text)));
  } else {
    EXPECT_EQ(got.out, "");
  }
}

// The codes, severities and variables in JSON (-q: only errors on standard
// error); a problem with an error is {file, error, findings}.
TEST_P(Mistakes, in_json) {
  const Mistake& m = GetParam();
  std::string file = std::string(m.name) + ".txt";
  BinaryRun got = run_on(file, m.text, {"-q", "--format=json"});
  EXPECT_EQ(got.status, m.status);
  std::vector<Expected> errors;
  for (const Expected& f : m.findings) {
    if (std::string(f.severity) == "error") errors.push_back(f);
  }
  EXPECT_EQ(got.err, said(file, errors));
  Json document = Json::parse(got.out).at(0);
  EXPECT_EQ(document.at("findings"), json_findings(m.findings));
  if (m.status == 0) {
    Json messages = Json::array();
    for (const Expected& f : m.findings) messages.push_back(f.message);
    bool non_finite = false;
    for (const char* matrix : {"corrected_cov", "corrected_corr"}) {
      for (const Json& row : document.at(matrix)) {
        for (const Json& x : row) non_finite = non_finite || x.is_null();
      }
    }
    if (non_finite) messages.push_back("values that are not finite numbers are written as null");
    EXPECT_EQ(document.at("warnings"), messages);
  } else {
    ASSERT_FALSE(errors.empty());
    Json want = {{"file", file},
                 {"version", TOLBE_PROJECT_VERSION},
                 {"error", "tolbe: " + file + ": error: " + errors[0].message},
                 {"refusal", refusal_of(file, errors[0])},
                 {"findings", json_findings(m.findings)}};
    EXPECT_EQ(document, want);
  }
}

INSTANTIATE_TEST_SUITE_P(findings_e2e_test, Mistakes, testing::ValuesIn(mistakes),
                         [](const testing::TestParamInfo<Mistake>& param_info) {
                           return std::string(param_info.param.name);
                         });

const Mistake& mistake(const std::string& name) {
  for (const Mistake& m : mistakes) {
    if (m.name == name) return m;
  }
  std::abort();
}

const Expected& finding(const std::string& name, std::size_t k = 0) {
  return mistake(name).findings.at(k);
}

// What -q and --strict do to the problems above.
struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  const char* problem;  // a Mistake
  int status;
  std::string out;  // exact; "<report>": the console program's report of the problem
  std::string err;
};

void PrintTo(const OptionCase& c, std::ostream* os) {
  *os << c.name;
}

std::string line(const char* problem, const char* severity, const Expected& f) {
  return std::string("tolbe: ") + problem + ".txt: " + severity + ": " + f.message + "\n";
}

std::string strict_json(const char* problem) {
  std::string file = std::string(problem) + ".txt";
  Json document = {{"file", file},
                   {"version", TOLBE_PROJECT_VERSION},
                   {"error", "tolbe: " + file + ": error: " + finding(problem).message},
                   {"refusal", refusal_of(file, finding(problem))},
                   {"findings", json_findings(mistake(problem).findings)}};
  return Json::array({document}).dump(2) + "\n";
}

class Options : public testing::TestWithParam<OptionCase> {};

TEST_P(Options, say_and_refuse_exactly_this) {
  const OptionCase& c = GetParam();
  const Mistake& m = mistake(c.problem);
  BinaryRun got = run_on(std::string(c.problem) + ".txt", m.text, c.args);
  EXPECT_EQ(got.status, c.status);
  if (c.out == "<report>") {
    EXPECT_EQ(masked(got.out), masked(console_report(m.text)));
  } else {
    EXPECT_EQ(got.out, with_version_column(c.out));
  }
  EXPECT_EQ(got.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    findings_e2e_test, Options,
    testing::Values(
        // -q: no warning and no note, but an error still.
        OptionCase{"quiet_still_says_the_error",
                   {"-q"},
                   "lower_triangle",
                   2,
                   "",
                   line("lower_triangle", "error", finding("lower_triangle"))},
        OptionCase{"long_quiet_still_says_the_error",
                   {"--quiet"},
                   "upper_triangle",
                   2,
                   "",
                   line("upper_triangle", "error", finding("upper_triangle"))},
        OptionCase{"quiet_silences_a_warning", {"-q"}, "asymmetric", 0, "<report>", ""},
        OptionCase{"quiet_silences_a_warning_and_a_note",
                   {"-q"},
                   "correlations_beside_covariances_ratio_220",
                   0,
                   "<report>",
                   ""},
        OptionCase{"quiet_silences_a_note", {"-q"}, "sign_change", 0, "<report>", ""},
        // --strict: a warning is an error (status 2, no report); a note
        // stays a note.
        OptionCase{"strict_refuses_a_warning",
                   {"--strict"},
                   "asymmetric",
                   2,
                   "",
                   line("asymmetric", "error", finding("asymmetric"))},
        OptionCase{"strict_keeps_the_note_beside_the_error",
                   {"--strict"},
                   "correlations_beside_covariances_ratio_220",
                   2,
                   "",
                   line("correlations_beside_covariances_ratio_220", "error",
                        finding("correlations_beside_covariances_ratio_220", 0)) +
                       line("correlations_beside_covariances_ratio_220", "note",
                            finding("correlations_beside_covariances_ratio_220", 1))},
        OptionCase{
            "strict_makes_every_warning_an_error",
            {"--strict"},
            "unrestricted_variance_0",
            2,
            "",
            line("unrestricted_variance_0", "error", finding("unrestricted_variance_0", 0)) +
                line("unrestricted_variance_0", "error", finding("unrestricted_variance_0", 1)) +
                line("unrestricted_variance_0", "error", finding("unrestricted_variance_0", 2))},
        OptionCase{"strict_solves_with_a_note",
                   {"--strict"},
                   "sign_change",
                   0,
                   "<report>",
                   line("sign_change", "note", finding("sign_change"))},
        OptionCase{"strict_solves_a_clean_problem", {"--strict"}, "clean", 0, "<report>", ""},
        OptionCase{"strict_and_quiet_say_only_the_error",
                   {"--strict", "-q"},
                   "correlations_beside_covariances_ratio_220",
                   2,
                   "",
                   line("correlations_beside_covariances_ratio_220", "error",
                        finding("correlations_beside_covariances_ratio_220", 0))},
        // The JSON of a problem refused: the file, the first error and the
        // findings with their own severities.
        OptionCase{"strict_json",
                   {"--strict", "--format=json"},
                   "asymmetric",
                   2,
                   strict_json("asymmetric"),
                   line("asymmetric", "error", finding("asymmetric"))},
        OptionCase{"strict_csv",
                   {"--strict", "--format=csv"},
                   "reliability_81",
                   2,
                   "file,matrix,variable\n",
                   line("reliability_81", "error", finding("reliability_81"))}),
    [](const testing::TestParamInfo<OptionCase>& param_info) {
      return std::string(param_info.param.name);
    });

// Under --select the findings name the variables of the input: the rows of
// S are the selection variables in the order given. S11 = 6 is then
// variable 3's, whose restricted variance is 16: a selection variable whose
// variance would have grown under selection, which the checks warn of.
struct Selected {
  const char* name;
  const char* problem;  // a Mistake
  std::vector<Expected> findings;
};

void PrintTo(const Selected& c, std::ostream* os) {
  *os << c.name;
}

class UnderSelection : public testing::TestWithParam<Selected> {};

TEST_P(UnderSelection, names_the_input_variables) {
  const Selected& c = GetParam();
  std::string file = std::string(c.problem) + ".txt";
  BinaryRun got = run_on(file, mistake(c.problem).text, {"--select=3,1", "--format=json"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, said(file, c.findings));
  Json document = Json::parse(got.out).at(0);
  EXPECT_EQ(document.at("selection"), Json::array({3, 1}));
  EXPECT_EQ(document.at("findings"), json_findings(c.findings));
}

INSTANTIATE_TEST_SUITE_P(
    findings_e2e_test, UnderSelection,
    testing::Values(
        // S11 = 220 is variable 3's (V33 = 1); variable 1 has 2 / 1.
        Selected{"ratio_of_the_first_row",
                 "correlations_beside_covariances_ratio_220",
                 {{"implausible_variance_ratio",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3 is 220 times its restricted variance" +
                       implausible_tail},
                  {"correlations_beside_covariances", "note", {}, correlations_note}}},
        // Variable 3: 1 / 16 = 0.0625, plausible; variable 1: 1.5 / 100.
        Selected{"ratio_of_the_second_row",
                 "variance_ratio_0_01",
                 {{"implausible_variance_ratio",
                   "warning",
                   {1},
                   "the unrestricted variance of variable 1 is 0.015 times its restricted "
                   "variance" +
                       implausible_tail},
                  {"selection_variance_grew",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3, a selection variable, is below its "
                   "restricted variance (1 against 16)" +
                       grew_tail}}},
        // S22 = 0 is variable 1's: C11 = 0, and r12, r13, r14 are not numbers.
        Selected{"variance_0_of_the_second_row",
                 "unrestricted_variance_0",
                 {{"unrestricted_variance_not_positive",
                   "warning",
                   {1},
                   "the unrestricted variance of variable 1 is not positive"},
                  {"corrected_variance_not_positive",
                   "warning",
                   {1},
                   "the corrected variance of variable 1 is not positive; its correlations are "
                   "not numbers"},
                  {"correlation_out_of_range",
                   "warning",
                   {1, 2},
                   "the corrected correlation of variable 1 and variable 2 is infinite (a "
                   "variance it divides by is 0) (3 in all)"},
                  {"selection_variance_grew",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3, a selection variable, is below its "
                   "restricted variance (6 against 16)" +
                       grew_tail}}},
        // S12 and S21 are the values for variables 3 and 1, in that order.
        Selected{"asymmetry_of_the_rows",
                 "unrestricted_asymmetric",
                 {{"unrestricted_asymmetric",
                   "warning",
                   {3, 1},
                   "the unrestricted var/cov matrix is not symmetric: its two values for "
                   "variable 3 and variable 1 differ by 0.03536 relative to their standard "
                   "deviations (the largest difference); the correction used all of it"},
                  {"selection_variance_grew",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3, a selection variable, is below its "
                   "restricted variance (6 against 16)" +
                       grew_tail}}},
        // The reliabilities 81 and 0.9 are those of variables 2 and 4.
        Selected{"reliability_of_the_first_other",
                 "reliability_81",
                 {{"reliability_out_of_range",
                   "warning",
                   {2},
                   "the reliability of variable 2 is outside (0, 1]; a reliability is a "
                   "proportion such as 0.81"},
                  {"selection_variance_grew",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3, a selection variable, is below its "
                   "restricted variance (6 against 16)" +
                       grew_tail}}},
        // S12 = -1.5 is now r13 (1.2 / 8 = 0.15 in the sample): -0.18; the
        // others stay positive.
        Selected{"sign_change_of_the_selection_pair",
                 "selection_sign_change",
                 {{"selection_variance_grew",
                   "warning",
                   {3},
                   "the unrestricted variance of variable 3, a selection variable, is below its "
                   "restricted variance (6 against 16)" +
                       grew_tail},
                  {"selection_sign_change",
                   "note",
                   {1, 3},
                   "the correlation of variable 1 and variable 3, both selection variables, "
                   "changes sign: there the unrestricted matrix replaces the restricted one, not "
                   "the correction"}}}),
    [](const testing::TestParamInfo<Selected>& param_info) {
      return std::string(param_info.param.name);
    });

// A problem as numbers, and its file.
struct Numbers {
  int q = 0;
  int p = 0;
  bool with_reliabilities = false;
  std::vector<double> restricted;    // q x q, column-major
  std::vector<double> unrestricted;  // p x p, column-major
  std::vector<double> reliabilities;
  std::vector<int> selection;  // 0-based; empty: 1..p

  double& v(int i, int j) { return restricted[static_cast<std::size_t>(i + j * q)]; }
  double& s(int i, int j) { return unrestricted[static_cast<std::size_t>(i + j * p)]; }
};

// Reads the problem files above: blank-separated numbers, '/' ending a row
// early.
Numbers numbers_of(const std::string& text) {
  std::istringstream in(text);
  Numbers n;
  int flag = 0;
  in >> n.p >> n.q >> flag;
  n.with_reliabilities = flag == 1;
  n.restricted.assign(static_cast<std::size_t>(n.q * n.q), 0.0);
  n.unrestricted.assign(static_cast<std::size_t>(n.p * n.p), 0.0);
  auto rows = [&](int size, auto element) {
    for (int i = 0; i < size; ++i) {
      for (int j = 0; j < size; ++j) {
        std::string word;
        in >> word;
        if (word == "/") break;
        element(i, j) = std::strtod(word.c_str(), nullptr);
      }
    }
  };
  rows(n.q, [&](int i, int j) -> double& { return n.v(i, j); });
  rows(n.p, [&](int i, int j) -> double& { return n.s(i, j); });
  if (n.with_reliabilities) {
    for (int k = n.p; k < n.q; ++k) {
      double r = 0.0;
      in >> r;
      n.reliabilities.push_back(r);
    }
  }
  return n;
}

// The file of a problem, every value written so that it reads back
// exactly (an infinity as a number too large).
std::string text_of(Numbers& n) {
  std::string text = std::to_string(n.p) + " " + std::to_string(n.q) + " " +
                     (n.with_reliabilities ? "1" : "0") + "\n";
  auto put = [&](double x) {
    if (std::isinf(x)) {
      text += x > 0 ? "1e999 " : "-1e999 ";
      return;
    }
    char number[40];
    std::snprintf(number, sizeof number, "%.17g ", x);
    text += number;
  };
  for (int i = 0; i < n.q; ++i, text += "\n") {
    for (int j = 0; j < n.q; ++j) put(n.v(i, j));
  }
  for (int i = 0; i < n.p; ++i, text += "\n") {
    for (int j = 0; j < n.p; ++j) put(n.s(i, j));
  }
  if (n.with_reliabilities) {
    for (double r : n.reliabilities) put(r);
    text += "\n";
  }
  return text;
}

Json finding_json(const char* code, const char* severity, const char* message,
                  const int* variables) {
  Json from_1 = Json::array();
  for (int k = 0; k < 2; ++k) {
    if (variables[k] >= 0) from_1.push_back(variables[k] + 1);
  }
  return {{"code", code}, {"severity", severity}, {"message", message}, {"variables", from_1}};
}

// The findings of the C API (tolbe_lawley with diagnostics), as the command
// line's JSON writes them; null for an invalid argument.
Json c_api_findings(const Numbers& n, int& status) {
  std::size_t doubles = 0;
  std::size_t ints = 0;
  EXPECT_EQ(tolbe_lawley_workspace(n.q, n.p, &doubles, &ints), TOLBE_OK);
  std::vector<double> work(doubles + 1);
  std::vector<int> int_work(ints + 1);
  std::size_t size = static_cast<std::size_t>(n.q * n.q) + 1;
  std::vector<double> cov(size), corr(size), dis(size);
  tolbe_diagnostics d;
  int ld = n.q > 0 ? n.q : 1;
  status =
      tolbe_lawley(n.q, n.p, n.restricted.data(), ld, n.unrestricted.data(), n.p > 0 ? n.p : 1,
                   n.selection.empty() ? nullptr : n.selection.data(),
                   n.reliabilities.empty() ? nullptr : n.reliabilities.data(),
                   static_cast<int>(n.reliabilities.size()), cov.data(), ld, corr.data(), ld,
                   dis.data(), ld, work.data(), work.size(), int_work.data(), int_work.size(), &d);
  Json findings = Json::array();
  char message[512];
  for (int k = 0; k < d.n_findings; ++k) {
    const tolbe_finding& f = d.findings[k];
    std::size_t length = tolbe_finding_message(&f, nullptr, 0, message, sizeof message);
    EXPECT_LT(length, sizeof message);
    findings.push_back(finding_json(tolbe_finding_code_name(f.code),
                                    tolbe_severity_name(f.severity), message, f.variables));
  }
  return findings;
}

// The same by the C++ API: lawley(), lawley_findings and finding_message.
Json cpp_api_findings(const Numbers& n, tolbe::Status& status) {
  tolbe::LawleyProblem problem;
  problem.q = n.q;
  problem.p = n.p;
  problem.restricted = n.restricted.data();
  problem.ld_restricted = n.q > 0 ? n.q : 1;
  problem.unrestricted = n.unrestricted.data();
  problem.ld_unrestricted = n.p > 0 ? n.p : 1;
  problem.selection = n.selection;
  problem.reliabilities = n.reliabilities;
  tolbe::LawleyCorrection correction = tolbe::lawley(problem);
  status = correction.status;
  std::array<tolbe::Finding, tolbe::max_findings> found;
  int count = tolbe::lawley_findings(correction.diagnostics, found);
  EXPECT_LE(count, tolbe::max_findings);
  Json findings = Json::array();
  char message[512];
  for (int k = 0; k < count && k < tolbe::max_findings; ++k) {
    const tolbe::Finding& f = found[static_cast<std::size_t>(k)];
    tolbe::finding_message(f, {}, message, sizeof message);
    findings.push_back(finding_json(tolbe::finding_code_name(f.code),
                                    tolbe::severity_name(f.severity), message, f.variables));
  }
  return findings;
}

// Runs the three clients on one problem; adds the codes found to `codes`.
// Returns false when the command line could not solve the problem (a
// selection block that is not positive definite, a value read that is not
// finite): it then says no findings.
bool check_clients_agree(const std::string& text, const std::vector<int>& selection,
                         std::set<std::string>& codes) {
  Numbers n = numbers_of(text);
  n.selection = selection;
  std::vector<std::string> args = {"-q", "--format=json"};
  if (!selection.empty()) {
    std::string list = "--select=";
    for (std::size_t k = 0; k < selection.size(); ++k) {
      list += (k > 0 ? "," : "") + std::to_string(selection[k] + 1);
    }
    args.push_back(list);
  }
  SCOPED_TRACE(text + (selection.empty() ? std::string() : args.back()));
  BinaryRun got = run_on("agree.txt", text, args);
  Json document = Json::parse(got.out).at(0);
  int c_status = -1;
  tolbe::Status cpp_status = tolbe::Status::ok;
  Json from_c = c_api_findings(n, c_status);
  Json from_cpp = cpp_api_findings(n, cpp_status);
  EXPECT_EQ(c_status, static_cast<int>(cpp_status));
  EXPECT_EQ(from_c, from_cpp);
  if (!document.contains("findings")) {
    EXPECT_EQ(got.status, 2);
    EXPECT_NE(cpp_status, tolbe::Status::ok) << document.dump(1);
    return false;
  }
  EXPECT_EQ(document.at("findings"), from_c) << "CLI " << document.at("findings").dump(1);
  if (document.contains("restricted")) {  // solved: the numbers it read are ours
    for (int i = 0; i < n.q; ++i) {
      for (int j = 0; j < n.q; ++j) {
        const Json& x = document["restricted"][i][j];
        EXPECT_TRUE(x.is_null() ? !std::isfinite(n.v(i, j)) : x.get<double>() == n.v(i, j));
      }
    }
  }
  for (const Json& f : from_c) codes.insert(f.at("code").get<std::string>());
  return true;
}

TEST(FindingsAgree, cli_c_and_cpp_on_the_mistakes) {
  std::set<std::string> codes;
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.name);
    EXPECT_TRUE(check_clients_agree(m.text, {}, codes));
  }
  // The same problems with the selection variables named in reverse.
  for (const Mistake& m : mistakes) {
    SCOPED_TRACE(m.name);
    check_clients_agree(m.text, {1, 0}, codes);
  }
  EXPECT_GE(codes.size(), 14u);
}

// Random problems of up to 8 variables, most with a mistake or two of the
// kinds above: correlations for covariances, a variance 0 or far off, a
// matrix not symmetric or entered as a triangle, sign changes, reliabilities
// outside (0, 1], selection variables anywhere.
TEST(FindingsAgree, cli_c_and_cpp_on_random_problems) {
  std::mt19937_64 random(20261210);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::uniform_real_distribution<double> deviation(0.3, 4.0);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  auto covariance = [&](int n, bool unit_diagonal) {
    std::vector<double> a(static_cast<std::size_t>(n * n));
    for (double& x : a) x = uniform(random);
    std::vector<double> sd(static_cast<std::size_t>(n));
    for (double& x : sd) x = deviation(random);
    std::vector<double> c(static_cast<std::size_t>(n * n));
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double sum = i == j ? 0.2 : 0.0;
        for (int k = 0; k < n; ++k) {
          sum += a[static_cast<std::size_t>(i * n + k)] * a[static_cast<std::size_t>(j * n + k)];
        }
        c[static_cast<std::size_t>(i + j * n)] = sum;
      }
    }
    std::vector<double> root(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      root[static_cast<std::size_t>(i)] = std::sqrt(c[static_cast<std::size_t>(i + i * n)]);
    }
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double& x = c[static_cast<std::size_t>(i + j * n)];
        if (unit_diagonal) {
          x = i == j ? 1.0
                     : x / (root[static_cast<std::size_t>(i)] * root[static_cast<std::size_t>(j)]);
        } else {
          x *= sd[static_cast<std::size_t>(i)] * sd[static_cast<std::size_t>(j)];
        }
      }
    }
    return c;
  };
  std::set<std::string> codes;
  int solved = 0;
  for (int k = 0; k < 120; ++k) {
    Numbers n;
    n.q = 1 + static_cast<int>(random() % 8);
    n.p = 1 + static_cast<int>(random() % static_cast<unsigned>(n.q));
    n.with_reliabilities = chance(50);
    n.restricted = covariance(n.q, chance(30));
    n.unrestricted = covariance(n.p, chance(25));
    if (chance(15)) n.s(0, 0) *= chance(50) ? 40.0 : 0.02;  // an implausible ratio
    if (chance(10)) n.s(n.p - 1, n.p - 1) = chance(50) ? 0.0 : -1.0;
    if (chance(10)) n.v(n.q - 1, n.q - 1) = 0.0;
    if (n.q > 1 && chance(20)) n.v(n.q - 1, 0) += 0.3;  // not symmetric
    if (n.p > 1 && chance(10)) n.s(1, 0) -= 0.2;
    if (n.p > 1 && chance(15)) {  // a sign flipped in S
      n.s(0, 1) = -n.s(0, 1);
      n.s(1, 0) = -n.s(1, 0);
    }
    if (n.q > 1 && chance(10)) {  // a triangle
      bool upper = chance(50);
      for (int j = 0; j < n.q; ++j) {
        for (int i = 0; i < j; ++i) (upper ? n.v(j, i) : n.v(i, j)) = 0.0;
      }
    }
    if (n.p > 1 && chance(5)) n.s(0, 1) = 0.0;
    if (n.p > 1 && chance(5)) n.s(1, 0) = 0.0;
    if (n.q > n.p + 1 && chance(15)) {  // two other variables correlated 3
      int a = n.q - 2;
      int b = n.q - 1;
      n.v(a, b) = n.v(b, a) = 3.0 * std::sqrt(n.v(a, a) * n.v(b, b));
    }
    if (n.with_reliabilities) {
      for (int v = n.p; v < n.q; ++v) {
        int kind = static_cast<int>(random() % 10);
        n.reliabilities.push_back(kind == 0 ? 0.0 : kind == 1 ? 81.0 : kind == 2 ? 0.2 : 0.85);
      }
    }
    std::vector<int> selection;
    if (chance(40)) {  // p of the variables, anywhere and in any order
      std::vector<int> all(static_cast<std::size_t>(n.q));
      for (int v = 0; v < n.q; ++v) all[static_cast<std::size_t>(v)] = v;
      std::shuffle(all.begin(), all.end(), random);
      selection.assign(all.begin(), all.begin() + n.p);
    }
    // An infinity in V21, which the correction never reads, unless the
    // selection differs.
    if (n.q > n.p && chance(selection.empty() ? 20 : 5)) n.v(n.q - 1, 0) = HUGE_VAL;
    SCOPED_TRACE("problem " + std::to_string(k));
    if (check_clients_agree(text_of(n), selection, codes)) ++solved;
    if (HasFatalFailure()) return;
  }
  EXPECT_GE(solved, 80);
  EXPECT_GE(codes.size(), 19u);
}

// A selection block that is not positive definite gets no results, but its
// JSON keeps the findings of the input, which may say why (here: two
// correlation matrices, the first of them impossible).
TEST(FindingsOfFailures, a_selection_block_not_positive_definite_keeps_its_findings) {
  BinaryRun got = run_on("npd.txt", "2 3 0\n1 2 0\n2 1 0\n0 0 1\n1 0\n0 1\n", {"--format=json"});
  EXPECT_EQ(got.status, 2);
  Json document = Json::parse(got.out).at(0);
  EXPECT_EQ(document.at("error"),
            "tolbe: npd.txt: the restricted var/cov matrix of the selection variables is not "
            "positive definite (leading minor of order 2); it cannot be inverted");
  std::vector<std::string> codes;
  for (const Json& f : document.at("findings")) codes.push_back(f.at("code"));
  EXPECT_EQ(codes, (std::vector<std::string>{"restricted_not_positive_definite",
                                             "two_correlation_matrices"}));
}

}  // namespace
