// The command line's options for raw scores and intervals: their values,
// the defaults that depend on other options, and the combinations refused.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tolbe::BootstrapInterval;
using tolbe::IntervalMethod;
using tolbe::Options;
using tolbe::OutputFormat;

bool parse(std::vector<std::string> args, Options& options, std::string& error) {
  args.insert(args.begin(), "tolbe");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return tolbe::parse_options(static_cast<int>(args.size()), argv.data(), options, error);
}

struct Settled {
  const char* name;
  std::vector<std::string> args;
  IntervalMethod method;
  OutputFormat format;
};

void PrintTo(const Settled& c, std::ostream* os) {
  *os << c.name;
}

class DefaultsSettled : public testing::TestWithParam<Settled> {};

TEST_P(DefaultsSettled, method_and_format) {
  Options options;
  std::string error;
  ASSERT_TRUE(parse(GetParam().args, options, error)) << error;
  EXPECT_EQ(options.interval, GetParam().method);
  EXPECT_EQ(options.format, GetParam().format);
}

INSTANTIATE_TEST_SUITE_P(
    options_test, DefaultsSettled,
    testing::Values(
        Settled{"a_file_alone", {"a.txt"}, IntervalMethod::none, OutputFormat::report},
        Settled{"n_means_normal", {"--n=40", "a.txt"}, IntervalMethod::normal, OutputFormat::table},
        Settled{"data_means_adf",
                {"--data=d.csv", "--unrestricted=s.csv"},
                IntervalMethod::adf,
                OutputFormat::table},
        Settled{"data_without_intervals_is_a_table",
                {"--data=d.csv", "--unrestricted=s.csv", "--interval=none"},
                IntervalMethod::none,
                OutputFormat::table},
        Settled{"data_may_have_the_report",
                {"--data=d.csv", "--unrestricted=s.csv", "--interval=none", "--format=report"},
                IntervalMethod::none,
                OutputFormat::report},
        Settled{"normal_on_data",
                {"--data=d.csv", "--pool=p.csv", "--select=a", "--interval=normal"},
                IntervalMethod::normal,
                OutputFormat::table},
        Settled{"format_given_stays",
                {"--n=40", "--format=csv", "a.txt"},
                IntervalMethod::normal,
                OutputFormat::csv},
        Settled{"table_without_intervals",
                {"--format=table", "a.txt"},
                IntervalMethod::none,
                OutputFormat::table},
        Settled{"explicit_none_with_n_absent",
                {"--interval=none", "a.txt"},
                IntervalMethod::none,
                OutputFormat::report},
        Settled{"bootstrap",
                {"--data=d.csv", "--unrestricted=s.csv", "--interval=bootstrap", "--seed=5"},
                IntervalMethod::bootstrap,
                OutputFormat::table}),
    [](const testing::TestParamInfo<Settled>& param_info) { return param_info.param.name; });

TEST(options_test, values_as_given) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--data=d.csv", "--pool=p.csv", "--select=x1,x2", "--interval=bootstrap",
                     "--resamples=10", "--seed=18446744073709551615", "--threads=3", "--level=.9",
                     "--ci-type=percentile", "--reliabilities=y=0.8,a=b=1"},
                    o, error))
      << error;
  EXPECT_EQ(o.data, "d.csv");
  EXPECT_EQ(o.pool, "p.csv");
  EXPECT_EQ(o.selection_text, "x1,x2");
  EXPECT_TRUE(o.selection.empty());  // names: resolved against the data
  EXPECT_EQ(o.resamples, 10);
  EXPECT_EQ(o.seed, 18446744073709551615u);
  EXPECT_EQ(o.threads, 3);
  EXPECT_EQ(o.level, 0.9);
  EXPECT_EQ(o.ci_type, BootstrapInterval::percentile);
  using Pair = std::pair<std::string, double>;
  EXPECT_EQ(o.reliabilities, (std::vector<Pair>{{"y", 0.8}, {"a=b", 1.0}}));
}

TEST(options_test, defaults) {
  Options o;
  std::string error;
  ASSERT_TRUE(parse({"--data=d.csv", "--unrestricted=s.csv", "--interval=bootstrap"}, o, error));
  EXPECT_EQ(o.level, 0.95);
  EXPECT_EQ(o.resamples, 2000);
  EXPECT_EQ(o.seed, 0u);
  EXPECT_EQ(o.threads, 0);
  EXPECT_EQ(o.ci_type, BootstrapInterval::bca);
  EXPECT_EQ(o.n_unrestricted, 0);
}

struct Refused {
  const char* name;
  std::vector<std::string> args;
  std::string error;
};

void PrintTo(const Refused& c, std::ostream* os) {
  *os << c.name;
}

class OptionsRefused : public testing::TestWithParam<Refused> {};

TEST_P(OptionsRefused, with_this_complaint) {
  Options options;
  std::string error;
  EXPECT_FALSE(parse(GetParam().args, options, error));
  EXPECT_EQ(error, GetParam().error);
}

const std::vector<std::string> data_s = {"--data=d.csv", "--unrestricted=s.csv"};

std::vector<std::string> with_data(std::vector<std::string> more) {
  more.insert(more.begin(), data_s.begin(), data_s.end());
  return more;
}

INSTANTIATE_TEST_SUITE_P(
    options_test, OptionsRefused,
    testing::Values(
        Refused{"bad_method",
                {"--interval=jackknife"},
                "invalid argument 'jackknife' for '--interval' (valid: none, normal, adf, "
                "bootstrap)"},
        Refused{"n_of_1",
                {"--n=1"},
                "invalid argument '1' for '--n' (the restricted sample size, a whole number of "
                "at least 2)"},
        Refused{"n_not_whole",
                {"--n=40.5"},
                "invalid argument '40.5' for '--n' (the restricted sample size, a whole number "
                "of at least 2)"},
        Refused{"n_unrestricted_of_0",
                {"--n-unrestricted=0"},
                "invalid argument '0' for '--n-unrestricted' (the unrestricted sample size, a "
                "whole number of at least 2)"},
        Refused{"level_of_1",
                {"--level=1"},
                "invalid argument '1' for '--level' (a confidence level between 0 and 1, such "
                "as 0.95)"},
        Refused{"level_of_0",
                {"--level=0"},
                "invalid argument '0' for '--level' (a confidence level between 0 and 1, such "
                "as 0.95)"},
        Refused{"level_in_percent",
                {"--level=95"},
                "invalid argument '95' for '--level' (a confidence level between 0 and 1, such "
                "as 0.95)"},
        Refused{"level_nan",
                {"--level=nan"},
                "invalid argument 'nan' for '--level' (a confidence level between 0 and 1, such "
                "as 0.95)"},
        Refused{"resamples_below",
                {"--resamples=9"},
                "invalid argument '9' for '--resamples' (a whole number from 10 to 1000000)"},
        Refused{"resamples_above",
                {"--resamples=1000001"},
                "invalid argument '1000001' for '--resamples' (a whole number from 10 to "
                "1000000)"},
        Refused{"seed_negative",
                {"--seed=-1"},
                "invalid argument '-1' for '--seed' (a whole number from 0 to "
                "18446744073709551615)"},
        Refused{"seed_beyond_64_bits",
                {"--seed=18446744073709551616"},
                "invalid argument '18446744073709551616' for '--seed' (a whole number from 0 to "
                "18446744073709551615)"},
        Refused{"threads_negative",
                {"--threads=-2"},
                "invalid argument '-2' for '--threads' (a whole number, 0 for one per "
                "processor)"},
        Refused{"ci_type",
                {"--ci-type=basic"},
                "invalid argument 'basic' for '--ci-type' (valid: bca, percentile)"},
        Refused{"reliabilities_without_value",
                {"--reliabilities=y"},
                "invalid argument 'y' for '--reliabilities' (NAME=VALUE pairs, such as "
                "y1=0.81,y2=0.9)"},
        Refused{"reliabilities_without_name",
                {"--reliabilities==0.8"},
                "invalid argument '=0.8' for '--reliabilities' (NAME=VALUE pairs, such as "
                "y1=0.81,y2=0.9)"},
        Refused{"reliabilities_infinite",
                {"--reliabilities=y=inf"},
                "invalid argument 'y=inf' for '--reliabilities' (NAME=VALUE pairs, such as "
                "y1=0.81,y2=0.9)"},
        Refused{"reliabilities_trailing_comma",
                {"--reliabilities=y=0.8,"},
                "invalid argument 'y=0.8,' for '--reliabilities' (NAME=VALUE pairs, such as "
                "y1=0.81,y2=0.9)"},
        Refused{"empty_data_name", {"--data="}, "the file name of '--data' is empty"},
        Refused{"empty_select",
                {"--select="},
                "invalid argument '' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        // Every malformed list is refused with the same words, the list
        // quoted as given.
        Refused{"select_leading_comma",
                {"--select=,1", "a.txt"},
                "invalid argument ',1' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_trailing_comma",
                {"--select=1,2,", "a.txt"},
                "invalid argument '1,2,' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_double_comma",
                {"--select=1,,2", "a.txt"},
                "invalid argument '1,,2' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_comma_alone",
                {"--select=,", "a.txt"},
                "invalid argument ',' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_open_range",
                {"--select=1-", "a.txt"},
                "invalid argument '1-' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_range_without_start",
                {"--select=-2", "a.txt"},
                "invalid argument '-2' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_range_backwards",
                {"--select=3-1", "a.txt"},
                "invalid argument '3-1' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_beyond_50",
                {"--select=51", "a.txt"},
                "invalid argument '51' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_zero",
                {"--select=0", "a.txt"},
                "invalid argument '0' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_space_after_comma",
                {"--select=1, 2", "a.txt"},
                "invalid argument '1, 2' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_space_before",
                {"--select= 1", "a.txt"},
                "invalid argument ' 1' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{"select_space_after",
                {"--select=1 ", "a.txt"},
                "invalid argument '1 ' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{
            "select_two_dashes",
            {"--select=1-2-3", "a.txt"},
            "invalid argument '1-2-3' for '--select' (variable numbers 1 to 50, such as 1,4-5)"},
        Refused{
            "table_is_a_format_but_xml_is_not",
            {"--format=xml"},
            "invalid argument 'xml' for '--format' (valid: report, csv, json, table, markdown)"},
        // Combinations.
        Refused{"names_without_data",
                {"--select=x1", "a.txt"},
                "invalid argument 'x1' for '--select' (variable numbers 1 to 50, such as "
                "1,4-5)"},
        Refused{"pool_without_data",
                {"--pool=p.csv"},
                "'--pool' is for raw scores: it needs '--data=FILE'"},
        Refused{"unrestricted_without_data",
                {"--unrestricted=s.csv"},
                "'--unrestricted' is for raw scores: it needs '--data=FILE'"},
        Refused{"reliabilities_without_data",
                {"--reliabilities=y=1", "a.txt"},
                "'--reliabilities' is for raw scores: it needs '--data=FILE'"},
        Refused{"data_and_a_problem_file", with_data({"a.txt"}),
                "with '--data' the scores are the problem: give no problem FILE ('a.txt')"},
        Refused{"data_alone",
                {"--data=d.csv"},
                "'--data' needs the selection variables' unrestricted var/cov matrix "
                "('--unrestricted=FILE') or their pool scores ('--pool=FILE')"},
        Refused{"pool_and_unrestricted", with_data({"--pool=p.csv", "--select=a"}),
                "give '--unrestricted' or '--pool', not both"},
        Refused{"pool_without_select",
                {"--data=d.csv", "--pool=p.csv"},
                "'--pool' needs '--select' to name the selection variables"},
        Refused{"level_without_intervals",
                {"--level=0.9", "a.txt"},
                "'--level' is for intervals, and none are computed (see '--interval'; normal "
                "needs '--n')"},
        Refused{"n_with_none",
                {"--interval=none", "--n=30", "a.txt"},
                "'--n' is for intervals, and none are computed (see '--interval'; normal needs "
                "'--n')"},
        Refused{"seed_with_none", with_data({"--interval=none", "--seed=3"}),
                "'--seed' is for intervals, and none are computed (see '--interval'; normal "
                "needs '--n')"},
        Refused{"n_with_data", with_data({"--n=30"}),
                "'--n' is for matrix input: with '--data' the complete rows are counted"},
        Refused{"normal_without_n",
                {"--interval=normal", "a.txt"},
                "'--interval=normal' needs '--n', the size of the restricted sample"},
        Refused{"adf_without_data",
                {"--interval=adf", "--n=30", "a.txt"},
                "'--interval=adf' needs raw scores ('--data=FILE')"},
        Refused{"bootstrap_without_data",
                {"--interval=bootstrap", "a.txt"},
                "'--interval=bootstrap' needs raw scores ('--data=FILE')"},
        Refused{"resamples_with_adf", with_data({"--resamples=100"}),
                "'--resamples' is for '--interval=bootstrap'"},
        Refused{"threads_with_normal",
                {"--n=30", "--threads=2", "a.txt"},
                "'--threads' is for '--interval=bootstrap'"},
        Refused{"ci_type_with_adf", with_data({"--ci-type=bca"}),
                "'--ci-type' is for '--interval=bootstrap'"},
        Refused{"n_unrestricted_with_pool",
                {"--data=d.csv", "--pool=p.csv", "--select=a", "--n-unrestricted=100"},
                "'--n-unrestricted' is for an unrestricted matrix: with '--pool' its complete "
                "rows are counted"},
        Refused{"n_unrestricted_with_bootstrap",
                with_data({"--interval=bootstrap", "--n-unrestricted=100"}),
                "the bootstrap lets the unrestricted matrix vary only by resampling pool scores "
                "('--pool'), not by '--n-unrestricted'"},
        Refused{"report_with_intervals",
                {"--n=30", "--format=report", "a.txt"},
                "the report has no room for intervals: use '--format=table', csv or json (or "
                "'--interval=none')"},
        // ---- The validity question, names and reliabilities.
        Refused{"predictors_without_criterion",
                {"--predictors=1,2", "a.txt"},
                "'--predictors' is for the validity question: it needs '--criterion'"},
        Refused{"base_without_criterion",
                {"--base=1", "--predictors=1,2", "a.txt"},
                "'--predictors' is for the validity question: it needs '--criterion'"},
        Refused{"base_alone",
                {"--base=1", "a.txt"},
                "'--base' is for the validity question: it needs '--criterion'"},
        Refused{"criterion_empty",
                {"--criterion=", "a.txt"},
                "invalid argument '' for '--criterion' (variable names or numbers from 1, such as "
                "y or 3)"},
        Refused{"predictors_empty",
                {"--criterion=3", "--predictors=", "a.txt"},
                "invalid argument '' for '--predictors' (variable names or numbers from 1, such "
                "as y or 3)"},
        Refused{"report_with_criterion",
                {"--criterion=3", "--format=report", "a.txt"},
                "the report has no room for the validity question: use '--format=table', "
                "markdown, csv or json"},
        Refused{"reliabilities_from_neither",
                {"--reliabilities-from=applicants", "a.txt"},
                "invalid argument 'applicants' for '--reliabilities-from' (valid: unrestricted, "
                "restricted)"},
        Refused{"restricted_reliabilities_of_data_without_any",
                with_data({"--reliabilities-from=restricted"}),
                "'--reliabilities-from=restricted' has no reliabilities to convert (see "
                "'--reliabilities')"},
        Refused{"names_with_an_empty_one",
                {"--names=a,,c", "a.txt"},
                "invalid argument 'a,,c' for '--names' (at most 50 distinct names, none empty, "
                "separated by commas, such as x1,x2,y)"},
        Refused{"names_twice",
                {"--names=a,b,a", "a.txt"},
                "invalid argument 'a,b,a' for '--names' (at most 50 distinct names, none empty, "
                "separated by commas, such as x1,x2,y)"},
        Refused{"names_of_data", with_data({"--names=a,b,c"}),
                "with '--data' the data's header names the variables: '--names' is for matrix "
                "input"},
        Refused{"select_by_name_without_names",
                {"--select=a,b", "a.txt"},
                "invalid argument 'a,b' for '--select' (variable numbers 1 to 50, such as "
                "1,4-5)"},
        // Standard input read by two options: the second would find it at
        // its end. Said before anything else is checked.
        Refused{"data_and_pool_from_standard_input",
                {"--data=-", "--pool=-", "--select=1"},
                "standard input can be read only once: '--data' and '--pool' both name '-'"},
        Refused{"data_and_unrestricted_from_standard_input",
                {"--unrestricted=-", "--data=-"},
                "standard input can be read only once: '--data' and '--unrestricted' both name "
                "'-'"},
        Refused{"pool_and_unrestricted_from_standard_input",
                {"--data=d.csv", "--pool=-", "--unrestricted=-", "--select=1"},
                "standard input can be read only once: '--pool' and '--unrestricted' both name "
                "'-'"},
        Refused{"all_three_from_standard_input",
                {"--data=-", "--pool=-", "--unrestricted=-"},
                "standard input can be read only once: '--data', '--pool' and '--unrestricted' "
                "all name '-'"},
        Refused{"standard_input_as_two_problem_files",
                {"a.txt", "-", "b.txt", "-"},
                "standard input can be read only once: the FILE '-' is given twice"}),
    [](const testing::TestParamInfo<Refused>& param_info) { return param_info.param.name; });

TEST(options_test, the_validity_question_and_names_as_given) {
  Options o;
  std::string error;
  ASSERT_TRUE(
      parse({"--criterion=y", "--predictors=x1,2-3", "--base=x1", "--reliabilities-from=restricted",
             "--names=x1,x2,x3,y", "--select=x2,x1", "a.txt"},
            o, error))
      << error;
  EXPECT_EQ(o.criterion, "y");
  EXPECT_EQ(o.predictors, "x1,2-3");
  EXPECT_EQ(o.base, "x1");
  EXPECT_TRUE(o.reliabilities_restricted);
  EXPECT_EQ(o.names, (std::vector<std::string>{"x1", "x2", "x3", "y"}));
  EXPECT_EQ(o.selection_text, "x2,x1");  // names: resolved against --names
  // The question needs a table (or CSV, JSON): the report has no room.
  EXPECT_EQ(o.format, OutputFormat::table);
  EXPECT_EQ(o.interval, IntervalMethod::none);
  Options later;
  ASSERT_TRUE(parse({"--reliabilities-from=restricted", "--reliabilities-from=unrestricted",
                     "--criterion=3", "--format=markdown", "a.txt"},
                    later, error))
      << error;
  EXPECT_FALSE(later.reliabilities_restricted);
  EXPECT_EQ(later.format, OutputFormat::markdown);
  // Without the new options nothing changes.
  Options plain;
  ASSERT_TRUE(parse({"a.txt"}, plain, error));
  EXPECT_TRUE(plain.criterion.empty());
  EXPECT_TRUE(plain.names.empty());
  EXPECT_FALSE(plain.reliabilities_restricted);
  EXPECT_EQ(plain.format, OutputFormat::report);
}

TEST(options_test, parse_names) {
  std::vector<std::string> names;
  EXPECT_TRUE(tolbe::parse_names("a", names));
  EXPECT_EQ(names, (std::vector<std::string>{"a"}));
  EXPECT_TRUE(tolbe::parse_names("verbal test,y=1, z", names));
  EXPECT_EQ(names, (std::vector<std::string>{"verbal test", "y=1", " z"}));
  EXPECT_FALSE(tolbe::parse_names("", names));
  EXPECT_FALSE(tolbe::parse_names("a,", names));
  EXPECT_FALSE(tolbe::parse_names(",a", names));
  std::string fifty, fifty_one;
  for (int k = 1; k <= 51; ++k) {
    (k <= 50 ? fifty : fifty_one) += (k == 1 ? "" : ",") + ("v" + std::to_string(k));
  }
  fifty_one = fifty + fifty_one;
  EXPECT_TRUE(tolbe::parse_names(fifty, names));
  EXPECT_EQ(names.size(), 50u);
  EXPECT_FALSE(tolbe::parse_names(fifty_one, names));
}

// The list of --select: numbers and ranges from 1 to 50, separated by single
// commas, in the order given; anything else is no list.
struct SelectionList {
  const char* name;
  std::string text;
  bool valid;
  std::vector<int> numbers;
};

void PrintTo(const SelectionList& c, std::ostream* os) {
  *os << c.name;
}

class ParseSelection : public testing::TestWithParam<SelectionList> {};

TEST_P(ParseSelection, reads_numbers_and_ranges_or_refuses) {
  const SelectionList& c = GetParam();
  std::vector<int> selection = {99};
  EXPECT_EQ(tolbe::parse_selection(c.text, selection), c.valid) << "'" << c.text << "'";
  if (c.valid) {
    EXPECT_EQ(selection, c.numbers);
  }
}

INSTANTIATE_TEST_SUITE_P(
    options_test, ParseSelection,
    testing::Values(
        SelectionList{"one", "1", true, {1}}, SelectionList{"fifty", "50", true, {50}},
        SelectionList{"in_the_order_given", "3,1", true, {3, 1}},
        SelectionList{"a_range", "4-6", true, {4, 5, 6}},
        SelectionList{"a_range_of_one", "2-2", true, {2}},
        SelectionList{"numbers_and_ranges", "1,4-5,49-50", true, {1, 4, 5, 49, 50}},
        SelectionList{"empty", "", false, {}}, SelectionList{"comma_alone", ",", false, {}},
        SelectionList{"leading_comma", ",1", false, {}},
        SelectionList{"trailing_comma", "1,2,", false, {}},
        SelectionList{"trailing_comma_after_a_range", "1-2,", false, {}},
        SelectionList{"double_comma", "1,,2", false, {}},
        SelectionList{"open_range", "1-", false, {}},
        SelectionList{"range_without_start", "-2", false, {}},
        SelectionList{"range_backwards", "3-1", false, {}},
        SelectionList{"range_beyond_50", "49-51", false, {}},
        SelectionList{"beyond_50", "51", false, {}}, SelectionList{"zero", "0", false, {}},
        SelectionList{"range_from_zero", "0-2", false, {}},
        SelectionList{"two_dashes", "1-2-3", false, {}},
        SelectionList{"space_after_a_comma", "1, 2", false, {}},
        SelectionList{"space_before", " 1", false, {}},
        SelectionList{"space_after", "1 ", false, {}},
        SelectionList{"space_in_a_range", "1 -2", false, {}},
        SelectionList{"a_sign", "+1", false, {}}, SelectionList{"a_fraction", "1.5", false, {}},
        SelectionList{"a_name", "x1", false, {}}),
    [](const testing::TestParamInfo<SelectionList>& param_info) { return param_info.param.name; });

TEST(options_test, help_and_version_need_no_problem_to_make_sense) {
  Options o;
  std::string error;
  EXPECT_TRUE(parse({"--help", "--data=d.csv"}, o, error)) << error;
  EXPECT_TRUE(o.help);
}

}  // namespace

// One option reading standard input is the usual way; '-' beside files, or
// a file named like it, is no second reading.
TEST(options_test, standard_input_read_once_is_fine) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--data=-", "--pool=p.csv", "--select=1"},
                                             {"--data=d.csv", "--unrestricted=-"},
                                             {"--data=d.csv", "--pool=-", "--select=1"},
                                             {"a.txt", "-", "b.txt"},
                                             {"-", "./-"}}) {
    Options options;
    std::string error;
    EXPECT_TRUE(parse(args, options, error)) << args[0] << ": " << error;
  }
}
