#include "io/output_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace tolbe {
namespace {

std::string drain(int fd) {
  std::string text;
  char chunk[4096];
  ssize_t got;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, got);
  return text;
}

TEST(output_stream_test, only_committed_lines_reach_the_descriptor) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  char buffer[64];
  OutputStream stream(ends[1], buffer);
  stream.put("one");
  stream.end_line();
  stream.put("half a line");
  stream.flush_committed_from_signal();
  stream.flush();
  close(ends[1]);
  EXPECT_EQ(drain(ends[0]), "one\n");
  close(ends[0]);
}

TEST(output_stream_test, lines_longer_than_the_buffer_arrive_whole_and_in_order) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  char buffer[16];
  OutputStream stream(ends[1], buffer);
  std::string expected;
  for (int i = 0; i < 20; ++i) {
    std::string line(static_cast<std::size_t>(i * 3), static_cast<char>('a' + i));
    stream.put(line);
    stream.end_line();
    expected += line + "\n";
  }
  EXPECT_TRUE(stream.flush());
  close(ends[1]);
  EXPECT_EQ(drain(ends[0]), expected);
  close(ends[0]);
}

TEST(output_stream_test, a_failed_write_is_remembered) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  char buffer[32];
  OutputStream stream(full, buffer);
  stream.put("lost");
  stream.end_line();
  EXPECT_FALSE(stream.flush());
  EXPECT_EQ(stream.first_error(), ENOSPC);
  stream.put("later");
  stream.end_line();
  EXPECT_FALSE(stream.flush());
  close(full);
}

}  // namespace
}  // namespace tolbe
