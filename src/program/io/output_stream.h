#pragma once

#include <atomic>
#include <cstddef>
#include <span>

#include "io/text_sink.h"

namespace tolbe {

// A buffered text stream onto a file descriptor. Lines are committed whole
// when they end; only committed lines are written, by flush() from the
// program or by flush_committed_from_signal() from a signal handler, so a
// report cut short by a signal never ends in half a line. Does not allocate:
// the buffer is given by the caller.
class OutputStream final : public TextSink {
 public:
  OutputStream(int fd, std::span<char> buffer) : fd_(fd), buffer_(buffer) {}
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void put(std::string_view characters) override;
  void end_line() override;
  void put_line_end(std::string_view characters) override;

  // Writes every committed line; returns false if this or any earlier write
  // failed. The handled signals are held off while the buffer moves.
  bool flush();
  // Async-signal-safe: writes the committed lines with write(2) only.
  void flush_committed_from_signal() noexcept;

  // errno of the first failed write, 0 if none failed.
  int first_error() const { return first_error_; }

  // With `on`, every line is written out as soon as it ends.
  void set_line_buffered(bool on) { line_buffered_ = on; }

  // Drops whatever is buffered, forgets failed writes and writes to `fd`
  // from now on. For tests and fuzzing.
  void retarget(int fd);

 private:
  void make_room(std::size_t needed);
  void write_all(const char* data, std::size_t size);

  int fd_;
  std::span<char> buffer_;
  std::size_t used_ = 0;
  std::atomic<std::size_t> committed_{0};
  int first_error_ = 0;
  bool line_buffered_ = false;
};

// Writes all of `data` to `fd`, retrying after EINTR. Returns 0, or the
// errno of the failed write (EIO when nothing could be written).
// Async-signal-safe.
int write_fully(int fd, const char* data, std::size_t size) noexcept;

// Standard output (the report, unit 6) and standard error (unit 0).
OutputStream& standard_output();
OutputStream& standard_error();

}  // namespace tolbe
