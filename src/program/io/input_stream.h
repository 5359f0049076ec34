#pragma once

#include <cstddef>
#include <string_view>

namespace tolbe {

// A byte source read through a fixed buffer: either a file descriptor or a
// piece of memory. A carriage return directly before a newline is folded into
// that newline; every other byte, above 0x7f included, comes through as it is.
// Does not allocate.
class InputStream {
 public:
  static constexpr int end_of_input = -1;
  static constexpr int read_failure = -2;

  // Reads from `fd` with read(2); EINTR is retried.
  explicit InputStream(int fd);
  // Reads the bytes of `text`, which must outlive the stream.
  explicit InputStream(std::string_view text);

  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // The next byte (0..255) without consuming it, end_of_input, or
  // read_failure (errno of the failed read in error_number()).
  int peek() {
    if (begin_ < end_ && data_[begin_] != '\r') return static_cast<unsigned char>(data_[begin_]);
    return slow_peek();
  }
  // Consumes and returns what peek() would return.
  int get() {
    if (begin_ < end_ && data_[begin_] != '\r') return static_cast<unsigned char>(data_[begin_++]);
    return slow_get();
  }
  int error_number() const { return error_number_; }

  // How many bytes have been consumed since the start of the input.
  std::size_t offset() const { return discarded_ + begin_; }

  // The bytes read ahead and not yet consumed, exactly as they stand in the
  // input (a carriage return is not folded here), for scanning in place.
  const char* buffered_begin() const { return data_ + begin_; }
  const char* buffered_end() const { return data_ + end_; }
  // Consumes `count` bytes of the buffered ones; none of them may be a
  // carriage return.
  void consume_buffered(std::size_t count) { begin_ += count; }

 private:
  int slow_peek();
  int slow_get();
  int raw_peek(std::size_t ahead);
  bool refill();

  static constexpr std::size_t capacity = 1 << 16;
  int fd_ = -1;
  std::string_view memory_;
  char buffer_[capacity];
  const char* data_ = nullptr;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t discarded_ = 0;  // bytes moved out of the buffer before begin_
  bool exhausted_ = false;
  int error_number_ = 0;
};

}  // namespace tolbe
