#include "io/output_stream.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolbe {
namespace {

#ifdef _WIN32
// Windows cannot hold signals off. SIGFPE and SIGABRT come from the
// program's own thread, never in the middle of a flush; only Ctrl+C's
// handler, which the run-time calls on a thread of its own, can meet a
// flush halfway.
class HandledSignalsBlocked {
 public:
  HandledSignalsBlocked() {}
};
#else
class HandledSignalsBlocked {
 public:
  HandledSignalsBlocked() {
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGINT, SIGTERM, SIGFPE, SIGABRT}) sigaddset(&handled, s);
    sigprocmask(SIG_BLOCK, &handled, &saved_);
  }
  ~HandledSignalsBlocked() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};
#endif

}  // namespace

int write_fully(int fd, const char* data, std::size_t size) noexcept {
  while (size > 0) {
#ifdef _WIN32
    // The C run-time's write() takes an unsigned int and returns an int:
    // a larger block goes out in pieces.
    constexpr std::size_t most = 1U << 30;
    int written = ::_write(fd, data, static_cast<unsigned>(size < most ? size : most));
#else
    ssize_t written = ::write(fd, data, size);
#endif
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return 0;
}

void OutputStream::write_all(const char* data, std::size_t size) {
  int error = write_fully(fd_, data, size);
  if (first_error_ == 0) first_error_ = error;
}

void OutputStream::make_room(std::size_t needed) {
  if (buffer_.size() - used_ >= needed) return;
  flush();
  if (buffer_.size() - used_ >= needed) return;
  // A line longer than the whole buffer goes out as it stands.
  HandledSignalsBlocked blocked;
  write_all(buffer_.data(), used_);
  used_ = 0;
}

void OutputStream::put(std::string_view characters) {
  while (!characters.empty()) {
    make_room(1);
    std::size_t room = buffer_.size() - used_;
    std::size_t take = characters.size() < room ? characters.size() : room;
    std::memcpy(buffer_.data() + used_, characters.data(), take);
    used_ += take;
    characters.remove_prefix(take);
  }
}

void OutputStream::end_line() {
  make_room(1);
  buffer_[used_++] = '\n';
  committed_.store(used_, std::memory_order_release);
  if (line_buffered_) flush();
}

void OutputStream::put_line_end(std::string_view characters) {
  if (buffer_.size() - used_ <= characters.size()) {
    put(characters);
    end_line();
    return;
  }
  std::memcpy(buffer_.data() + used_, characters.data(), characters.size());
  used_ += characters.size();
  buffer_[used_++] = '\n';
  committed_.store(used_, std::memory_order_release);
  if (line_buffered_) flush();
}

bool OutputStream::flush() {
  HandledSignalsBlocked blocked;
  std::size_t committed = committed_.load(std::memory_order_acquire);
  write_all(buffer_.data(), committed);
  std::memmove(buffer_.data(), buffer_.data() + committed, used_ - committed);
  used_ -= committed;
  committed_.store(0, std::memory_order_release);
  return first_error_ == 0;
}

void OutputStream::retarget(int fd) {
  fd_ = fd;
  used_ = 0;
  committed_.store(0, std::memory_order_release);
  first_error_ = 0;
}

void OutputStream::flush_committed_from_signal() noexcept {
  write_fully(fd_, buffer_.data(), committed_.exchange(0));
}

OutputStream& standard_output() {
  // Large enough that a report goes out in a few writes, small enough that
  // its pages cost little of the program's resident memory.
  static char buffer[1 << 14];
  static OutputStream stream(STDOUT_FILENO, buffer);
  return stream;
}

OutputStream& standard_error() {
  static char buffer[1 << 13];
  static OutputStream stream(STDERR_FILENO, buffer);
  return stream;
}

}  // namespace tolbe
