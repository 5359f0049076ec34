// Runs the built tolbe binary on input files and compares standard output,
// standard error and the exit status with the expected ones. The start-stamp
// and CPU-time lines are checked by their shape and then masked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "support/program_under_test.h"
#include "support/report_mask.h"
#include "support/scratch.h"

namespace {

struct Result {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;
};

// The bytes of a file the run wrote; "" for a device such as /dev/full.
std::string slurp(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// An expected output of cases/: a missing file is a failure, not "empty".
std::string expected_file(const std::string& name) {
  std::string path = std::string(TOLBE_CASES) + "/" + name;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) ADD_FAILURE() << "missing expected file " << path;
  return slurp(path);
}

std::string temp_path(const char* what) {
  return std::string(::testing::TempDir()) + "tolbe_e2e_" + what + "_" + std::to_string(getpid());
}

// Removes a file temp_path() named, not a device such as /dev/full.
void remove_temporary(const std::string& path) {
  if (path.rfind(::testing::TempDir(), 0) == 0) std::remove(path.c_str());
}

// Starts tolbe with standard input from `input_fd` and standard output to
// `out_path`; returns its pid.
pid_t start(int input_fd, const std::string& out_path, const std::string& err_path,
            bool interrupt_ignored = false) {
  pid_t pid = fork();
  if (pid == 0) {
    if (interrupt_ignored) signal(SIGINT, SIG_IGN);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(input_fd, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(TOLBE_BINARY, "tolbe", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

Result finish(pid_t pid, const std::string& out_path, const std::string& err_path) {
  int raw = 0;
  waitpid(pid, &raw, 0);
  Result result;
  if (WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) result.signal = WTERMSIG(raw);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  remove_temporary(out_path);
  remove_temporary(err_path);
  return result;
}

Result run_with_input_file(const std::string& input_path,
                           const std::string& out_path = temp_path("out")) {
  int input = open(input_path.c_str(), O_RDONLY);
  EXPECT_GE(input, 0) << input_path;
  std::string err_path = temp_path("err");
  pid_t pid = start(input, out_path, err_path);
  close(input);
  return finish(pid, out_path, err_path);
}

using tolbe::testing_support::masked;

struct Case {
  const char* name;   // expected output in cases/<name>.out and .err
  std::string input;  // path of the input file
  int status;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

std::string case_input(const char* name) {
  return std::string(TOLBE_CASES) + "/" + name + ".in";
}
std::string example(const char* name) {
  return std::string(TOLBE_EXAMPLES) + "/" + name;
}

class Report : public testing::TestWithParam<Case> {};

TEST_P(Report, matches_expected_output_error_and_status) {
  const Case& c = GetParam();
  Result got = run_with_input_file(c.input);
  std::string expected_out = expected_file(std::string(c.name) + ".out");
  std::string expected_err = expected_file(std::string(c.name) + ".err");
  EXPECT_EQ(got.signal, 0);
  EXPECT_EQ(got.status, c.status);
  EXPECT_EQ(masked(got.out), expected_out);
  EXPECT_EQ(got.err, expected_err);
}

INSTANTIATE_TEST_SUITE_P(
    e2e_test, Report,
    testing::Values(
        Case{"worked", example("worked.txt"), 0}, Case{"worked_crlf", case_input("worked_crlf"), 0},
        Case{"twelve", example("twelve.txt"), 0}, Case{"fifty", example("fifty.txt"), 0},
        Case{"flag_0", case_input("flag_0"), 0}, Case{"flag_2", case_input("flag_2"), 0},
        Case{"flag_minus_1", case_input("flag_minus_1"), 0},
        Case{"p_equals_q", case_input("p_equals_q"), 0}, Case{"p_zero", case_input("p_zero"), 0},
        Case{"zero_variance", case_input("zero_variance"), 0},
        Case{"empty_input", case_input("empty_input"), 2},
        Case{"ends_after_counts", case_input("ends_after_counts"), 2},
        Case{"read_start_after_unterminated_line", case_input("read_start_after_unterminated_line"),
             2},
        Case{"invalid_integer", case_input("invalid_integer"), 2},
        Case{"byte_order_mark", case_input("byte_order_mark"), 2},
        Case{"invalid_number_in_row", case_input("invalid_number_in_row"), 2},
        Case{"repeat_count_at_end_of_input", case_input("repeat_count_at_end_of_input"), 2},
        Case{"asterisk_without_count", case_input("asterisk_without_count"), 2},
        Case{"nonrestricted_count_too_large", case_input("nonrestricted_count_too_large"), 2},
        Case{"nonrestricted_count_negative", case_input("nonrestricted_count_negative"), 2},
        Case{"total_count_too_large", case_input("total_count_too_large"), 2},
        Case{"count_beyond_32_bits", case_input("count_beyond_32_bits"), 2},
        Case{"more_nonrestricted_than_total", case_input("more_nonrestricted_than_total"), 2},
        Case{"more_nonrestricted_than_total_flag_0",
             case_input("more_nonrestricted_than_total_flag_0"), 2},
        Case{"not_positive_definite", case_input("not_positive_definite"), 2}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

TEST(e2e_test, report_that_cannot_be_written_fails_with_status_3) {
  Result got = run_with_input_file(example("worked.txt"), "/dev/full");
  EXPECT_EQ(got.status, 3);
  EXPECT_EQ(got.err, "error: could not write the report: No space left on device\n");
}

// When the problem fails and the report cannot be written either, the
// problem's status 2 stands and both are said.
TEST(e2e_test, failed_problem_and_failed_report_give_status_2_and_both_messages) {
  Result got = run_with_input_file(case_input("invalid_number_in_row"), "/dev/full");
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err, expected_file("invalid_number_in_row.err") +
                         "error: could not write the report: No space left on device\n");
}

// A reader that closes early: SIGPIPE ends the process, as for any filter;
// with SIGPIPE ignored, the failed write gives status 3.
TEST(e2e_test, closed_pipe_ends_by_sigpipe_or_with_status_3_when_ignored) {
  for (bool ignored : {false, true}) {
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    close(pipe_ends[0]);
    std::string err_path = temp_path("pipe_err");
    int input = open(example("worked.txt").c_str(), O_RDONLY);
    pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(input, 0);
      dup2(pipe_ends[1], 1);
      dup2(err, 2);
      execl(TOLBE_BINARY, "tolbe", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipe_ends[1]);
    close(input);
    int raw = 0;
    waitpid(pid, &raw, 0);
    std::string err = slurp(err_path);
    remove_temporary(err_path);
    if (ignored) {
      EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 3);
      EXPECT_EQ(err, "error: could not write the report: Broken pipe\n");
    } else {
      EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGPIPE);
      EXPECT_EQ(err, "");
    }
  }
}

TEST(e2e_test, directory_as_input_is_a_read_error) {
  Result got = run_with_input_file("/");
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err,
            "list in: Is a directory\n"
            "apparent state: unit 5 (unnamed)\n"
            "last format: list io\n"
            "lately reading sequential formatted external IO\n");
  EXPECT_EQ(masked(got.out), "<start stamp>\n");
}

// A signal while tolbe waits for the rest of its input; the input then ends.
Result signalled_while_waiting(int signal_number, bool interrupt_ignored = false) {
  int feed[2];
  EXPECT_EQ(pipe2(feed, O_CLOEXEC), 0);
  std::string out_path = temp_path("sig_out");
  std::string err_path = temp_path("sig_err");
  pid_t pid = start(feed[0], out_path, err_path, interrupt_ignored);
  const char counts[] = "2 3 1\n";
  EXPECT_EQ(write(feed[1], counts, sizeof counts - 1), static_cast<ssize_t>(sizeof counts - 1));
  // The report is buffered, so readiness shows in the pipe: once tolbe has
  // taken the counts it is waiting for the first row.
  int unread = 1;
  for (int i = 0; i < 500 && unread > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ioctl(feed[0], FIONREAD, &unread);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  close(feed[0]);
  kill(pid, signal_number);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  close(feed[1]);
  return finish(pid, out_path, err_path);
}

TEST(e2e_test, interrupt_while_waiting_for_input) {
  Result got = signalled_while_waiting(SIGINT);
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "Interrupt\n");
  EXPECT_EQ(masked(got.out), expected_file("ends_after_counts.out"));
}

TEST(e2e_test, interrupt_ignored_at_start_stays_ignored) {
  Result got = signalled_while_waiting(SIGINT, true);
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err.substr(0, got.err.find('\n')), "list in: end of file");
}

TEST(e2e_test, termination_while_waiting_for_input) {
  Result got = signalled_while_waiting(SIGTERM);
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "Killed\n");
}

// SIGFPE and SIGABRT each print their own line, deliver the report so far
// and abort.
TEST(e2e_test, floating_point_exception_and_abort_signals_abort) {
  for (auto [signal_number, message] :
       {std::pair{SIGFPE, "Floating Exception\n"}, std::pair{SIGABRT, "IOT Trap\n"}}) {
    Result got = signalled_while_waiting(signal_number);
    EXPECT_EQ(got.signal, SIGABRT);
    EXPECT_EQ(got.err, message);
    EXPECT_EQ(masked(got.out), expected_file("ends_after_counts.out"));
  }
}

}  // namespace
