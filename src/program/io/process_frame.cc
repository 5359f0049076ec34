#include "io/process_frame.h"

#include <signal.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdlib>
#include <cstring>

#include "io/output_stream.h"

namespace tolbe {
namespace {

// The common start of every handler: what standard error already holds,
// the signal's message, then every committed line of the report.
void report_signal(const char* message) noexcept {
  standard_error().flush_committed_from_signal();
  write_fully(STDERR_FILENO, message, std::strlen(message));
  standard_output().flush_committed_from_signal();
}

[[noreturn]] void abort_with(const char* message) noexcept {
  report_signal(message);
#ifdef _WIN32
  signal(SIGABRT, SIG_DFL);
#else
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGABRT, &default_action, nullptr);
#endif
  abort();
}

[[noreturn]] void exit_with(const char* message) noexcept {
  report_signal(message);
  _exit(exit_signalled);
}

extern "C" void on_floating_exception(int) {
  abort_with("Floating Exception\n");
}
extern "C" void on_abort(int) {
  abort_with("IOT Trap\n");
}
extern "C" void on_interrupt(int) {
  exit_with("Interrupt\n");
}
extern "C" void on_termination(int) {
  exit_with("Killed\n");
}

#ifdef _WIN32
// The C run-time's signal() is all Windows has: SIGINT comes from Ctrl+C or
// Ctrl+Break (the run-time's console handler calls ours), SIGFPE and SIGABRT
// from the program itself; nothing outside raises SIGTERM, but a handler
// costs nothing. A handler stays installed after it has run.
void install(int signal_number, void (*handler)(int)) {
  signal(signal_number, handler);
}

bool ignored_at_start(int signal_number) {
  auto current = signal(signal_number, SIG_IGN);
  signal(signal_number, current);
  return current == SIG_IGN;
}
#else
void install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

bool ignored_at_start(int signal_number) {
  struct sigaction current {};
  sigaction(signal_number, nullptr, &current);
  return current.sa_handler == SIG_IGN;
}
#endif

}  // namespace

void install_process_frame() {
  // The streams must exist before a handler can reach them.
  standard_output();
  standard_error();
#ifdef _WIN32
  // The report keeps the "\n" line ends it has on Linux, and a problem file's
  // "\r\n" reaches the reader as it stands (which takes either), so the
  // standard streams go unconverted. Binary mode also keeps a Ctrl+Z in the
  // input from ending it early.
  _setmode(STDIN_FILENO, _O_BINARY);
  _setmode(STDOUT_FILENO, _O_BINARY);
  _setmode(STDERR_FILENO, _O_BINARY);
#endif
  install(SIGFPE, on_floating_exception);
  install(SIGABRT, on_abort);
  if (!ignored_at_start(SIGINT)) install(SIGINT, on_interrupt);
  install(SIGTERM, on_termination);
}

namespace {

// Thrown by end_run() inside catch_run_end().
struct RunEnded {
  int status;
};
bool run_ends_return = false;

// Says on standard error that the report could not be written.
void report_failed_write() {
  TextSink& err = standard_error();
  err.put("error: could not write the report: ");
  err.put(std::strerror(standard_output().first_error()));
  err.end_line();
}

}  // namespace

void end_run(int status) {
  standard_error().flush();
  if (!standard_output().flush() && status == exit_not_solved) {
    // The problem's failure decides the status; the lost report is said too.
    report_failed_write();
    standard_error().flush();
  }
  if (run_ends_return) throw RunEnded{status};
  std::exit(status);
}

int catch_run_end(void (*body)(void*), void* context) {
  run_ends_return = true;
  int status = -1;
  try {
    body(context);
  } catch (const RunEnded& ended) {
    status = ended.status;
  }
  run_ends_return = false;
  return status;
}

void end_run_complete() {
  bool written = standard_output().flush();
  if (!written) {
    report_failed_write();
    end_run(exit_report_not_written);
  }
  end_run(exit_report_complete);
}

void write_read_diagnostic(TextSink& sink, const ReadError& error) {
  sink.put(error.context);
  sink.put(": ");
  sink.put(error.message != nullptr ? error.message : std::strerror(error.error_number));
  sink.end_line();
  sink.put("apparent state: unit 5 (unnamed)");
  sink.end_line();
  sink.put("last format: list io");
  sink.end_line();
  sink.put("lately reading sequential formatted external IO");
  sink.end_line();
}

void end_run_after_read_error(const ReadError& error) {
  write_read_diagnostic(standard_error(), error);
  end_run(exit_not_solved);
}

}  // namespace tolbe
