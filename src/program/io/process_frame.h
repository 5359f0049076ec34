#pragma once

#include "exit_status.h"
#include "io/list_reader.h"
#include "io/text_sink.h"

namespace tolbe {

// Sets up the frame of a run: the output streams, and handlers for SIGFPE and
// SIGABRT ("Floating Exception", "IOT Trap": abort), SIGTERM ("Killed":
// status 1) and SIGINT ("Interrupt": status 1; left alone when the process
// started with it ignored). The handlers use async-signal-safe calls only and
// deliver every line of the report committed so far.
void install_process_frame();

// Flushes standard error and standard output and exits with `status`
// (inside catch_run_end, returns `status` from there instead).
[[noreturn]] void end_run(int status);

// Calls `body(context)` so that an end_run() inside it, however deep (the
// error package's halt comes through the BLAS), unwinds back here and its
// status is returned instead of ending the process. Returns -1 when `body`
// returns on its own. For tests and fuzzing; not reentrant.
int catch_run_end(void (*body)(void*), void* context);

// The normal end: status 0, or status 3 with a message on standard error
// when any part of the report could not be written.
[[noreturn]] void end_run_complete();

// The four diagnostic lines of a failed read statement.
void write_read_diagnostic(TextSink& sink, const ReadError& error);

// Writes the diagnostic on standard error and ends the run with status 2.
[[noreturn]] void end_run_after_read_error(const ReadError& error);

}  // namespace tolbe
