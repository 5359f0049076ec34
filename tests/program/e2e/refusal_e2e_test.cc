// Refusals on the command line: reliabilities of the restricted sample
// that convert to no reliability, on every route, and what a failed
// problem's JSON says of why, as data (the code, the option, the file and
// the place), beside its text.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e_case.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::Case;
using tolbe::testing_support::Files;
using tolbe::testing_support::run_with;
using Json = nlohmann::ordered_json;

// The worked example with a criterion reliability of 0.1 measured among
// the hired: y's corrected variance is c = 1 - b'Vb + b'Sb with
// b = V_xx^-1 v_xy = (2/15, 1/3), that is 0.898711, below its restricted
// variance, so r_u = 1 - 0.9 * 1 / 0.898711 = -0.00143415 < 0.
const std::string rev = "2 3 1\n1 .5 .3\n.5 1 .4\n.3 .4 1\n.49 .1\n.1 .49\n.1\n";
const std::string arithmetic =
    " in the restricted sample, 0.1, is -0.00143415 in the unrestricted population (1 - (1 - "
    "0.1) * 1 / 0.898711, restricted over corrected variance), which is no reliability";
const std::string restricted_csv = "x1,x2,y\n1,.5,.3\n.5,1,.4\n.3,.4,1\n";
const std::string unrestricted_csv = "x1,x2\n.49,.1\n.1,.49\n";

class Refusals : public testing::TestWithParam<Case> {};

TEST_P(Refusals, gives_exactly_this) {
  const Case& c = GetParam();
  BinaryRun got = run_with(c.files, c.args);
  EXPECT_EQ(got.status, c.status);
  if (c.out == "<solved>") {
    EXPECT_EQ(got.out.rfind("version,file,matrix,variable,v1,v2,v3\n", 0), 0U) << got.out;
    EXPECT_NE(got.out.find(",rev.txt,disattenuated_corr,3,"), std::string::npos) << got.out;
  } else {
    EXPECT_EQ(got.out, c.out);
  }
  EXPECT_EQ(got.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    refusal_e2e_test, Refusals,
    testing::Values(
        // A problem file: no results, status 2, the library's words.
        Case{"converted_reliability_of_a_problem_file",
             {{"rev.txt", rev}},
             {"--reliabilities-from=restricted", "--format=csv", "rev.txt"},
             2,
             "version,file,matrix,variable\n",
             "tolbe: rev.txt: the reliability of variable 3" + arithmetic + "\n"},
        // The same with --names: the variable by its name.
        Case{"converted_reliability_named",
             {{"rev.txt", rev}},
             {"--reliabilities-from=restricted", "--names=x1,x2,y", "--format=table", "rev.txt"},
             2,
             "",
             "tolbe: rev.txt: the reliability of y" + arithmetic + "\n"},
        // A named restricted matrix: the same numbers, the same rule.
        Case{"converted_reliability_of_a_named_matrix",
             {{"restricted.csv", restricted_csv}, {"unrestricted.csv", unrestricted_csv}},
             {"--restricted=restricted.csv", "--unrestricted=unrestricted.csv",
              "--reliabilities=y=0.1", "--reliabilities-from=restricted"},
             2,
             "",
             "tolbe: restricted.csv: the reliability of y" + arithmetic + "\n"},
        // Measured in the population, 0.1 is a reliability: solved.
        Case{"a_population_reliability_is_not_converted",
             {{"rev.txt", rev}},
             {"-q", "--format=csv", "rev.txt"},
             0,
             "<solved>",
             ""},
        // Bad options stop before any problem: standard error only, also
        // with JSON asked for, and nothing on standard output.
        Case{"bad_option_in_json",
             {{"rev.txt", rev}},
             {"--format=json", "--select=0", "rev.txt"},
             2,
             "",
             "tolbe: invalid argument '0' for '--select' (variable numbers 1 to 50, such as "
             "1,4-5)\nTry 'tolbe --help' for more information.\n"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// Raw scores of a selection variable and a criterion that follows it
// closely, with an unrestricted variance a tenth of the restricted one:
// the criterion's corrected variance falls far below its restricted one,
// and a reliability of 0.1 in the restricted sample converts to below 0.
TEST(refusal_e2e_test, converted_reliability_of_raw_scores) {
  Files files = {{"scores.csv", "x,y\n1,1\n2,2.1\n3,2.9\n4,4.2\n5,5\n6,5.8\n"},
                 {"s.csv", "x\n0.35\n"}};
  BinaryRun got = run_with(files, {"--data=scores.csv", "--unrestricted=s.csv", "-q",
                                   "--reliabilities=y=0.1", "--reliabilities-from=restricted"});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  const std::string head =
      "tolbe: scores.csv: the reliability of y in the restricted sample, 0.1, is -";
  EXPECT_EQ(got.err.substr(0, head.size()), head) << got.err;
  const std::string tail = ", restricted over corrected variance), which is no reliability\n";
  ASSERT_GE(got.err.size(), tail.size());
  EXPECT_EQ(got.err.substr(got.err.size() - tail.size()), tail) << got.err;
  EXPECT_EQ(got.err.find('\n'), got.err.size() - 1) << "one line";
}

// A failed problem in JSON: "error" as on standard error, and "refusal"
// with the fault as data.
struct JsonCase {
  const char* name;
  Files files;
  std::vector<std::string> args;
  std::string error;
  Json refusal;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
  *os << c.name;
}

class JsonRefusals : public testing::TestWithParam<JsonCase> {};

TEST_P(JsonRefusals, say_why_as_data) {
  const JsonCase& c = GetParam();
  std::vector<std::string> args = c.args;
  args.insert(args.begin(), "--format=json");
  BinaryRun got = run_with(c.files, args);
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err.substr(got.err.size() - c.error.size() - 1), c.error + "\n");
  Json document = Json::parse(got.out);
  ASSERT_EQ(document.size(), 1U);
  EXPECT_EQ(document[0].at("error"), c.error);
  EXPECT_EQ(document[0].at("refusal"), c.refusal);
}

Json refusal(const char* code, Json argument, Json file, Json line, Json column,
             const std::string& message) {
  return {{"code", code},
          {"argument", std::move(argument)},
          {"file", std::move(file)},
          {"line", std::move(line)},
          {"column", std::move(column)},
          {"message", message}};
}

const std::string scores = "x1,x2,y\n5,3,4\n6,5,5\n7,4,7\n8,6,6\n6,7,8\n9,5,7\n7,8,9\n8,7,6\n";
const std::string s_of_x = "x1,x2\n4,1\n1,3\n";
const std::string not_a_number_message =
    "\"l.00\" is not a number (row 2 of the restricted var/cov matrix)";
const std::string unknown_message = "'--select' names an unknown variable: w";
const std::string missing_message =
    "the value of row x1, column x2 is missing; a var/cov matrix needs every value";

INSTANTIATE_TEST_SUITE_P(
    refusal_e2e_test, JsonRefusals,
    testing::Values(
        // The library's refusal of a call: its code and the option, no file.
        JsonCase{"library_refusal_of_an_option",
                 {{"scores.csv", scores}, {"s.csv", s_of_x}},
                 {"--data=scores.csv", "--unrestricted=s.csv", "--select=x1,w"},
                 "tolbe: " + unknown_message,
                 refusal("unknown_variable", "select", nullptr, nullptr, nullptr, unknown_message)},
        // The library's refusal of a problem file's reliabilities.
        JsonCase{"library_refusal_of_a_problem",
                 {{"rev.txt", rev}},
                 {"--reliabilities-from=restricted", "rev.txt"},
                 "tolbe: rev.txt: the reliability of variable 3" + arithmetic,
                 refusal("no_reliability", "reliabilities", "rev.txt", nullptr, nullptr,
                         "the reliability of variable 3" + arithmetic)},
        // A reading error: the program's code, the file, line and column.
        JsonCase{"not_a_number",
                 {{"study.txt", "2 3 0\n1 .5 .3\n.5 l.00 .4\n.3 .4 1\n1 0\n0 1\n"}},
                 {"study.txt"},
                 "tolbe: study.txt:3:4: " + not_a_number_message,
                 refusal("not_a_number", nullptr, "study.txt", 3, 4, not_a_number_message)},
        JsonCase{"missing_value_of_a_matrix",
                 {{"scores.csv", scores}, {"s.csv", "x1,x2\n4,\n1,3\n"}},
                 {"--data=scores.csv", "--unrestricted=s.csv"},
                 "tolbe: s.csv:2:3: " + missing_message,
                 refusal("missing_value", nullptr, "s.csv", 2, 3, missing_message)},
        JsonCase{"input_ends_at_a_line",
                 {{"short.txt", "2 3 0\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1 0\n"}},
                 {"short.txt"},
                 "tolbe: short.txt:6: the input ends in row 2 of the unrestricted var/cov matrix: "
                 "0 of 2 values read",
                 refusal("input_ends", nullptr, "short.txt", 6, nullptr,
                         "the input ends in row 2 of the unrestricted var/cov matrix: 0 of 2 "
                         "values read")},
        JsonCase{"file_unreadable",
                 {},
                 {"absent.txt"},
                 "tolbe: cannot open 'absent.txt': No such file or directory",
                 refusal("file_unreadable", nullptr, "absent.txt", nullptr, nullptr,
                         "cannot open 'absent.txt': No such file or directory")},
        // An option checked against the problem: the option, the file.
        JsonCase{"names_of_another_count",
                 {{"rev.txt", rev}},
                 {"--names=a,b", "rev.txt"},
                 "tolbe: rev.txt: '--names' gives 2 names, but the problem has 3 variables",
                 refusal("wrong_count", "names", "rev.txt", nullptr, nullptr,
                         "'--names' gives 2 names, but the problem has 3 variables")},
        // The validity question, refused by the library.
        JsonCase{"criterion_unknown",
                 {{"rev.txt", rev}},
                 {"--names=a,b,y", "--criterion=z", "rev.txt"},
                 "tolbe: rev.txt: '--criterion' names an unknown variable: z",
                 refusal("unknown_variable", "criterion", "rev.txt", nullptr, nullptr,
                         "'--criterion' names an unknown variable: z")},
        JsonCase{"base_unknown",
                 {{"rev.txt", rev}},
                 {"--names=a,b,y", "--criterion=y", "--base=w", "rev.txt"},
                 "tolbe: rev.txt: '--base' names an unknown variable: w",
                 refusal("unknown_variable", "base", "rev.txt", nullptr, nullptr,
                         "'--base' names an unknown variable: w")}),
    [](const testing::TestParamInfo<JsonCase>& param_info) { return param_info.param.name; });

// A problem refused for a finding: the finding's code, of the file.
TEST(refusal_e2e_test, refused_for_a_finding) {
  BinaryRun got = run_with({{"t.txt", "2 3 0\n1 0 0\n.5 1 0\n.3 .4 1\n1 0\n0 1\n"}},
                           {"--format=json", "t.txt"});
  EXPECT_EQ(got.status, 2);
  Json document = Json::parse(got.out).at(0);
  const Json& r = document.at("refusal");
  EXPECT_EQ(r.at("code"), document.at("findings").at(0).at("code"));
  EXPECT_EQ(r.at("code"), "restricted_lower_triangle");
  EXPECT_EQ(r.at("file"), "t.txt");
  EXPECT_TRUE(r.at("argument").is_null());
  EXPECT_TRUE(r.at("line").is_null());
  EXPECT_EQ("tolbe: t.txt: error: " + r.at("message").get<std::string>(), document.at("error"));
}

// A validity question refused after the correction found something: the
// findings said on standard error are in the JSON too, and only those.
TEST(refusal_e2e_test, a_failed_question_keeps_its_findings) {
  // y does not vary in the restricted sample: its regression on x1, x2
  // has no weights.
  const std::string flat = "x1,x2,y\n5,3,4\n6,5,4\n7,4,4\n8,6,4\n6,7,4\n9,5,4\n7,8,4\n";
  BinaryRun got = run_with({{"flat.csv", flat}, {"s.csv", s_of_x}},
                           {"--format=json", "--data=flat.csv", "--unrestricted=s.csv",
                            "--criterion=x2", "--predictors=x1,y"});
  EXPECT_EQ(got.status, 2);
  Json document = Json::parse(got.out).at(0);
  EXPECT_EQ(document.at("refusal").at("argument"), "predictors");
  const Json& findings = document.at("findings");
  ASSERT_FALSE(findings.empty()) << got.out;
  for (const Json& f : findings) {
    EXPECT_NE(got.err.find(f.at("message").get<std::string>()), std::string::npos) << got.err;
  }
}

}  // namespace
