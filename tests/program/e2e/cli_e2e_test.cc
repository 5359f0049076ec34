// The command-line tool, run as a user would: options, files, formats,
// located errors and warnings, checked exactly; CSV and JSON read back
// against the library; and the terminal behaviour under a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
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

#include "support/report_mask.h"
#include "tolbe/lawley.h"

namespace {

using tolbe::testing_support::masked;

const std::string cli_cases = std::string(TOLBE_CASES) + "/../cli_cases";

std::string read_all(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs tolbe with `args` in the folder of the CLI cases, standard input from
// `input` (a path, /dev/null by default).
Ran run(const std::vector<std::string>& args, const std::string& input = "/dev/null") {
  std::string out_path = ::testing::TempDir() + "tolbe_cli_out_" + std::to_string(getpid());
  std::string err_path = ::testing::TempDir() + "tolbe_cli_err_" + std::to_string(getpid());
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cli_cases.c_str()) != 0) _exit(126);
    int in = open(input.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>("tolbe")};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TOLBE_BINARY, argv.data());
    _exit(127);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  Ran r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_all(out_path);
  r.err = read_all(err_path);
  return r;
}

struct Case {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;  // exact; "<report NAME>": the masked report of cases/NAME.out
  std::string err;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class CommandLine : public testing::TestWithParam<Case> {};

TEST_P(CommandLine, writes_exactly_what_it_should) {
  const Case& c = GetParam();
  Ran got = run(c.args);
  EXPECT_EQ(got.status, c.status);
  if (c.out.rfind("<report ", 0) == 0) {
    std::string name = c.out.substr(8, c.out.size() - 9);
    EXPECT_EQ(masked(got.out), read_all(std::string(TOLBE_CASES) + "/" + name + ".out"));
  } else {
    EXPECT_EQ(got.out, c.out);
  }
  EXPECT_EQ(got.err, c.err);
}

const std::string try_help = "Try 'tolbe --help' for more information.\n";
const std::string version =
    "tolbe " TOLBE_PROJECT_VERSION "\n"
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

INSTANTIATE_TEST_SUITE_P(
    cli_e2e_test, CommandLine,
    testing::Values(
        Case{"version", {"--version"}, 0, version, ""},
        Case{"short_version", {"-V"}, 0, version, ""},
        Case{"unknown_option", {"--x"}, 2, "", "tolbe: unrecognized option '--x'\n" + try_help},
        Case{"unknown_short_option", {"-z"}, 2, "", "tolbe: invalid option -- 'z'\n" + try_help},
        Case{
            "bad_format",
            {"--format=xml", "clean.txt"},
            2,
            "",
            "tolbe: invalid argument 'xml' for '--format' (valid: report, csv, json)\n" + try_help},
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
        Case{"report_of_a_file", {worked}, 0, "<report worked>", ""},
        Case{"after_double_dash", {"--", worked}, 0, "<report worked>", ""},
        Case{"csv", {"--format=csv", "clean.txt"}, 0, clean_csv, ""},
        Case{"file_that_cannot_be_opened_and_one_that_can",
             {"--format=csv", "nope.txt", "clean.txt"},
             2,
             clean_csv,
             "tolbe: cannot open 'nope.txt': No such file or directory\n"},
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
        Case{"selection_block_not_positive_definite",
             {"../cases/not_positive_definite.in"},
             2,
             "",
             "tolbe: ../cases/not_positive_definite.in: the restricted var/cov matrix of the "
             "selection variables is not positive definite (leading minor of order 2); it cannot "
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
        Case{"check_warns_about_each_mistake",
             {"--check", "--format=csv", "mistakes.txt"},
             0,
             mistakes_csv,
             "tolbe: mistakes.txt: warning: the restricted var/cov matrix is not symmetric "
             "(largest difference 0.1 relative to the diagonal); the upper triangle of the "
             "selection block and the selection rows were used, the lower ones ignored (a lower "
             "triangle entered with '/' leaves the upper one at 0)\n"
             "tolbe: mistakes.txt: warning: the unrestricted var/cov matrix is not positive "
             "definite: it cannot be the var/cov matrix of real data, and the corrected values "
             "mean little\n"
             "tolbe: mistakes.txt: warning: 1 corrected correlation(s) exceed 1 in magnitude, "
             "the first of variables 1 and 2\n"
             "tolbe: mistakes.txt: warning: 1 disattenuated correlation(s) exceed 1 in "
             "magnitude, the first of variables 1 and 2; check the reliabilities\n"
             "tolbe: mistakes.txt: warning: 1 reliability(ies) lie outside (0, 1], the first of "
             "variable 3; a reliability is a proportion such as 0.81\n"
             "tolbe: mistakes.txt: warning: line 7 holds more numbers than the reliabilities "
             "calls for (1); the rest of the line was ignored\n"},
        Case{"check_on_correlations_against_covariances",
             {"--check", "--format=csv", "clean.txt"},
             0,
             clean_csv,
             "tolbe: clean.txt: warning: the restricted matrix has a unit diagonal "
             "(correlations?) but the unrestricted one does not; that is right only when the "
             "unrestricted values are in units of the restricted standard deviations: otherwise "
             "enter both as variances and covariances\n"},
        Case{"no_warning_without_check", {"--format=csv", "mistakes.txt"}, 0, mistakes_csv, ""}),
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
  EXPECT_EQ(got.out, want);
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
  std::getline(lines, line);  // header
  int compared = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 6u);
    int i = std::stoi(fields[2]) - 1;
    const std::vector<double>& m =
        fields[1] == "corrected_cov" ? want.covariances : want.correlations;
    for (int j = 0; j < 3; ++j) {
      double read = std::strtod(fields[static_cast<std::size_t>(3 + j)].c_str(), nullptr);
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
  EXPECT_EQ(c["warnings"].size(), 1u);  // the unit diagonal of the restricted matrix only
}

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
