#include "io/input_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolbe {

InputStream::InputStream(int fd) : fd_(fd), data_(buffer_) {}

InputStream::InputStream(std::string_view text)
    : memory_(text), data_(text.data()), end_(text.size()), exhausted_(true) {}

bool InputStream::refill() {
  if (exhausted_) return false;
  if (begin_ > 0) {
    discarded_ += begin_;
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  for (;;) {
#ifdef _WIN32
    // The C run-time's read() counts in unsigned int; the room is at most
    // the buffer's capacity.
    int got = ::_read(fd_, buffer_ + end_, static_cast<unsigned>(capacity - end_));
#else
    ssize_t got = ::read(fd_, buffer_ + end_, capacity - end_);
#endif
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) {
      exhausted_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    error_number_ = errno;
    exhausted_ = true;
    return false;
  }
}

int InputStream::raw_peek(std::size_t ahead) {
  while (end_ - begin_ <= ahead) {
    if (!refill()) {
      if (error_number_ != 0) return read_failure;
      return end_of_input;
    }
  }
  return static_cast<unsigned char>(data_[begin_ + ahead]);
}

int InputStream::slow_peek() {
  int c = raw_peek(0);
  if (c == '\r' && raw_peek(1) == '\n') return '\n';
  return c;
}

int InputStream::slow_get() {
  int c = raw_peek(0);
  if (c < 0) return c;
  if (c == '\r' && raw_peek(1) == '\n') {
    begin_ += 2;
    return '\n';
  }
  ++begin_;
  return c;
}

}  // namespace tolbe
