// The mistakes of real studies, run on the command line as a user would:
// the example study damaged one way at a time (too few rows, a missing-
// value code, a pool of the rejected only or holding the hired twice,
// standard deviations for variances, a constant predictor, criteria among
// the default predictors, an empty unrestricted matrix), each giving a
// finding that names the cause, with its exact words and status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_case.h"
#include "support/run_binary.h"

namespace {

using tolbe::testing_support::BinaryRun;
using tolbe::testing_support::file_text;
using tolbe::testing_support::run_with;

const std::string study = std::string(TOLBE_EXAMPLES) + "/study";

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string joined(const std::vector<std::string>& lines, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t k = from; k < to && k < lines.size(); ++k) text += lines[k] + "\n";
  return text;
}

// The hired's file with row `row` (from 1, below the header) of column
// `column` (from 0) replaced by `value`.
std::string with_value(std::string row_text, int column, const std::string& value) {
  std::vector<std::string> fields;
  std::stringstream in(row_text);
  for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
  fields[static_cast<std::size_t>(column)] = value;
  std::string out;
  for (std::size_t k = 0; k < fields.size(); ++k) out += (k ? "," : "") + fields[k];
  return out;
}

const std::vector<std::string> hired = lines_of(file_text(study + "/hired.csv"));
const std::string applicants = file_text(study + "/applicants.csv");
const std::vector<std::string> pool_and_select = {"--pool=applicants.csv", "--select=T1,T2"};

std::vector<std::string> args(std::vector<std::string> more) {
  std::vector<std::string> all = {"--data=h.csv"};
  all.insert(all.end(), pool_and_select.begin(), pool_and_select.end());
  all.insert(all.end(), more.begin(), more.end());
  return all;
}

TEST(real_data_e2e_test, four_rows_for_five_variables_are_refused) {
  BinaryRun got = run_with({{"h.csv", joined(hired, 0, 5)}, {"applicants.csv", applicants}},
                           args({"--criterion=C1", "--predictors=T1,T2"}));
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  std::vector<std::string> err = lines_of(got.err);
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err[0],
            "tolbe: h.csv: error: the restricted sample has n = 4 for 5 variables: a var/cov "
            "matrix of 5 variables needs more rows (people with every score) than that, and "
            "every result would be meaningless");
  // With -q the error alone.
  got = run_with({{"h.csv", joined(hired, 0, 5)}, {"applicants.csv", applicants}}, args({"-q"}));
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err, err[0] + "\n");
}

TEST(real_data_e2e_test, fewer_than_ten_rows_a_variable_warn_and_strict_refuses) {
  for (std::size_t rows : {6u, 49u}) {
    SCOPED_TRACE(rows);
    BinaryRun got =
        run_with({{"h.csv", joined(hired, 0, rows + 1)}, {"applicants.csv", applicants}},
                 args({"--interval=none", "--format=csv"}));
    EXPECT_EQ(got.status, 0);
    EXPECT_NE(got.err.find(
                  "tolbe: h.csv: warning: the restricted sample has n = " + std::to_string(rows) +
                  " for 5 variables, fewer than 10 a variable: the corrected values are "
                  "unstable there, and their standard errors and intervals are not to be "
                  "trusted\n"),
              std::string::npos)
        << got.err;
  }
  BinaryRun fifty = run_with({{"h.csv", joined(hired, 0, 51)}, {"applicants.csv", applicants}},
                             args({"--interval=none", "--format=csv", "--strict"}));
  EXPECT_EQ(fifty.status, 0) << fifty.err;
  EXPECT_EQ(fifty.err.find("complete rows"), std::string::npos);
}

TEST(real_data_e2e_test, a_missing_value_code_is_named_by_its_row_and_column) {
  // The second data row's C1 is -99, after a row with a missing value: the
  // row is counted as the file has it.
  std::vector<std::string> h = {hired[0], hired[1], "80,60,NA,5,90",
                                with_value(hired[2], 3, "-99")};
  for (std::size_t k = 3; k < hired.size(); ++k) h.push_back(hired[k]);
  std::string text = joined(h, 0, h.size());
  BinaryRun got =
      run_with({{"h.csv", text}, {"applicants.csv", applicants}}, args({"--format=csv"}));
  EXPECT_EQ(got.status, 0);
  std::vector<std::string> err = lines_of(got.err);
  ASSERT_GE(err.size(), 2u);
  EXPECT_EQ(err[1],
            "tolbe: h.csv: warning: row 3 of C1 holds -99, which looks like a missing-value "
            "code: it lies 87.09 robust standard deviations from the median of C1. If it marks a "
            "missing value, make it NA (an empty field)");
  got = run_with({{"h.csv", text}, {"applicants.csv", applicants}}, args({"--strict"}));
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  // A typing error that is no code: 48 for 4.8.
  h[3] = with_value(hired[2], 3, "480");
  got = run_with({{"h.csv", joined(h, 0, h.size())}, {"applicants.csv", applicants}},
                 args({"--format=csv"}));
  EXPECT_NE(got.err.find("warning: row 3 of C1 holds 480, "), std::string::npos) << got.err;
  EXPECT_NE(got.err.find(" robust standard deviations from the median of C1: check it for a "
                         "typing error"),
            std::string::npos);
}

TEST(real_data_e2e_test, a_pool_that_is_not_all_the_applicants) {
  // The hired's selection scores, as the pool writes them.
  std::vector<std::string> selected;
  for (std::size_t k = 1; k < hired.size(); ++k) {
    selected.push_back(hired[k].substr(0, hired[k].find(',', hired[k].find(',') + 1)));
  }
  std::vector<std::string> pool = lines_of(applicants);
  std::string rejected = pool[0] + "\n";
  std::string doubled = applicants;
  for (std::size_t k = 1; k < pool.size(); ++k) {
    bool was_hired = false;
    for (const std::string& s : selected) was_hired = was_hired || s == pool[k];
    if (!was_hired) rejected += pool[k] + "\n";
  }
  for (const std::string& s : selected) doubled += s + "\n";
  const std::string without =
      "tolbe: h.csv: warning: none of the 200 complete rows of the restricted sample has its "
      "selection variables' scores among the pool's: the pool must be all the applicants, the "
      "selected among them. A pool of those not selected only gives too small a correction "
      "(unless the pool is an independent sample, or rounds its scores otherwise)\n";
  const std::string twice =
      "tolbe: h.csv: warning: each of the 200 complete rows of the restricted sample has its "
      "selection variables' scores at least twice in the pool, scores that seldom repeat: were "
      "the selected added to a pool that held them already? Each applicant must be in the pool "
      "once\n";
  struct Case {
    const char* name;
    std::string pool;
    bool without, twice;
  };
  for (const Case& c : {Case{"all", applicants, false, false},
                        {"rejected", rejected, true, false},
                        {"doubled", doubled, false, true}}) {
    SCOPED_TRACE(c.name);
    BinaryRun got =
        run_with({{"h.csv", joined(hired, 0, hired.size())}, {"applicants.csv", c.pool}},
                 args({"--format=csv", "--interval=none"}));
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err.find(without) != std::string::npos, c.without) << got.err;
    EXPECT_EQ(got.err.find(twice) != std::string::npos, c.twice) << got.err;
  }
}

TEST(real_data_e2e_test, standard_deviations_for_variances_are_named) {
  BinaryRun got =
      run_with({{"h.csv", joined(hired, 0, hired.size())}, {"u.csv", "T1,T2\n9.8,3\n3,7.9\n"}},
               {"--data=h.csv", "--unrestricted=u.csv", "--interval=none"});
  EXPECT_EQ(got.status, 0);
  EXPECT_NE(got.err.find("tolbe: h.csv: warning: the unrestricted variance of T1, a selection "
                         "variable, is below its restricted variance (9.8 against 40.64) (2 in "
                         "all): selection on a variable shrinks its variance. Standard deviations "
                         "in place of variances, or the unrestricted matrix's variables in "
                         "another order than the restricted one's, give this\n"),
            std::string::npos)
      << got.err;
}

TEST(real_data_e2e_test, a_constant_predictor_is_named_beside_the_refusal) {
  std::vector<std::string> h = {hired[0]};
  for (std::size_t k = 1; k < hired.size(); ++k) h.push_back(with_value(hired[k], 2, "5"));
  BinaryRun got = run_with({{"h.csv", joined(h, 0, h.size())}, {"applicants.csv", applicants}},
                           args({"--criterion=C1"}));
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  std::vector<std::string> err = lines_of(got.err);
  ASSERT_GE(err.size(), 2u);
  EXPECT_EQ(err[0], "tolbe: h.csv: warning: the restricted variance of INT is not positive");
  EXPECT_EQ(err.back(),
            "tolbe: h.csv: the corrected var/cov matrix of the predictors (T1, T2, INT, C2) or of "
            "the base set is not positive definite: a predictor is a linear combination of "
            "others");
}

TEST(real_data_e2e_test, criteria_are_never_default_predictors) {
  struct Case {
    std::vector<std::string> more;
    std::string predictors;  // as the CSV's rows of b name them
  };
  for (const Case& c : {Case{{"--criterion=C1"}, "T1,T2,INT,C2,"},
                        {{"--criterion=C1", "--reliabilities=C1=.6,C2=.8"}, "T1,T2,INT,"},
                        {{"--criterion=C1", "--reliabilities=C2=.8"}, "T1,T2,INT,"},
                        {{"--criterion=C2", "--reliabilities=C1=.6,C2=.8"}, "T1,T2,INT,"}}) {
    std::vector<std::string> a = args({"--format=csv", "--interval=none", "-q"});
    a.insert(a.end(), c.more.begin(), c.more.end());
    BinaryRun got =
        run_with({{"h.csv", joined(hired, 0, hired.size())}, {"applicants.csv", applicants}}, a);
    ASSERT_EQ(got.status, 0) << got.err;
    std::string predictors;
    for (const std::string& line : lines_of(got.out)) {
      std::size_t at = line.find(",b,");
      if (at != std::string::npos) {
        predictors += line.substr(at + 3, line.find(',', at + 3) - at - 3) + ",";
      }
    }
    EXPECT_EQ(predictors, c.predictors) << c.more.back();
  }
}

TEST(real_data_e2e_test, an_unrestricted_matrix_of_no_variables_is_refused) {
  for (const char* text : {"\"\"\n", "\"\"\r\n"}) {
    BinaryRun got = run_with({{"h.csv", joined(hired, 0, hired.size())}, {"u.csv", text}},
                             {"--data=h.csv", "--unrestricted=u.csv", "--format=json"});
    EXPECT_EQ(got.status, 2);
    EXPECT_EQ(got.err,
              "tolbe: u.csv: the unrestricted matrix names no variables: it must be the var/cov "
              "matrix of the selection variables\n");
  }
}

}  // namespace

namespace {

// A named restricted matrix gives the numbers of the same problem in the
// free format, in either CSV layout; a cell the free format would split is
// refused where it stands.
TEST(real_data_e2e_test, a_named_restricted_matrix_is_the_problem_files) {
  const std::string problem = "2 3 1\n1 .5 .3\n.5 1 .4\n.3 .4 1\n1.44 .6\n.6 1.21\n.81\n";
  const std::string plain = "x1,x2,y\n1,.5,.3\n.5,1,.4\n.3,.4,1\n";
  const std::string r_layout =
      "\"\",\"x1\",\"x2\",\"y\"\n\"x1\",1,.5,.3\n\"x2\",.5,1,.4\n\"y\",.3,.4,1\n";
  const std::string s = "x1,x2\n1.44,.6\n.6,1.21\n";
  BinaryRun file =
      run_with({{"p.txt", problem}}, {"--names=x1,x2,y", "--format=csv", "-q", "--n=100", "p.txt"});
  ASSERT_EQ(file.status, 0) << file.err;
  for (const std::string& v : {plain, r_layout}) {
    BinaryRun named = run_with({{"v.csv", v}, {"s.csv", s}},
                               {"--restricted=v.csv", "--unrestricted=s.csv",
                                "--reliabilities=y=.81", "--format=csv", "-q", "--n=100"});
    ASSERT_EQ(named.status, 0) << named.err;
    // The same rows but for the file's name.
    std::vector<std::string> a = lines_of(file.out), b = lines_of(named.out);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 1; k < a.size(); ++k) {
      std::string left = a[k], right = b[k];
      std::size_t at = left.find("p.txt");
      if (at != std::string::npos) left.replace(at, 5, "v.csv");
      EXPECT_EQ(left, right) << k;
    }
  }
  BinaryRun split = run_with({{"v.csv", "x1,x2,y\n1,0.5 0.9,.3\n.5,1,.4\n.3,.4,1\n"}, {"s.csv", s}},
                             {"--restricted=v.csv", "--unrestricted=s.csv"});
  EXPECT_EQ(split.status, 2);
  EXPECT_EQ(split.out, "");
  EXPECT_EQ(split.err.rfind("tolbe: v.csv:2:", 0), 0u) << split.err;
}

}  // namespace

namespace {

// The pool's rows are the pool file's (a row with NA counted), and its
// column is the selection variable's, wherever that stands in the data.
TEST(real_data_e2e_test, the_pools_rows_and_column_are_its_own) {
  std::string data = "a,x,y\n";
  for (int k = 0; k < 30; ++k) {
    data += std::to_string(10 + k % 7) + "," + std::to_string(50 + k) + "." +
            std::to_string(k % 10) + "," + std::to_string(3 + k % 5) + "\n";
  }
  std::string pool = "x\n";
  for (int k = 0; k < 30; ++k) pool += std::to_string(50 + k) + "." + std::to_string(k % 10) + "\n";
  for (int k = 0; k < 32; ++k) pool += std::to_string(40 + k) + ".25\n";
  std::vector<std::string> rows = lines_of(pool);
  rows[2] = "NA";
  rows[45] = "5000";
  BinaryRun got = run_with({{"d.csv", data}, {"p.csv", joined(rows, 0, rows.size())}},
                           {"--data=d.csv", "--pool=p.csv", "--select=x", "--interval=none"});
  EXPECT_EQ(got.status, 0);
  EXPECT_NE(got.err.find("tolbe: d.csv: warning: row 45 of the pool holds 5000 for x, "),
            std::string::npos)
      << got.err;
  EXPECT_EQ(got.err.find("none of the"), std::string::npos) << got.err;
}

// Too few rows stop the problem before the bootstrap runs.
TEST(real_data_e2e_test, too_few_rows_stop_before_the_bootstrap) {
  BinaryRun got = run_with({{"small.csv", "a,x,y\n1,2,3\n2,5,4\n4,6,9\n"}, {"s.csv", "x\n9\n"}},
                           {"--data=small.csv", "--unrestricted=s.csv", "--select=x",
                            "--interval=bootstrap", "--resamples=50"});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err.find("resamples"), std::string::npos) << got.err;
  EXPECT_EQ(got.err.rfind("tolbe: small.csv: error: the restricted sample has n = 3 for 3 "
                          "variables",
                          0),
            0u)
      << got.err;
}

}  // namespace
