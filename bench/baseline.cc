// The reference for the whole-process figures: a plain static program that
// reads all of standard input and writes as many bytes as it is told, and
// does nothing else.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  static char buffer[1 << 14];
  while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
  }
  long remaining = argc > 1 ? std::atol(argv[1]) : 0;
  std::memset(buffer, 'x', sizeof buffer);
  while (remaining > 0) {
    long chunk = remaining < static_cast<long>(sizeof buffer) ? remaining : sizeof buffer;
    if (::write(STDOUT_FILENO, buffer, static_cast<std::size_t>(chunk)) != chunk) return 1;
    remaining -= chunk;
  }
  return 0;
}
