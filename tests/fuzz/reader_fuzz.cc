// The free-format reader on arbitrary bytes, read as a sequence of integer
// and real statements of varying lengths: no crash, no undefined behaviour,
// only the reader's own diagnostics, and nothing read after a failure.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "io/input_stream.h"
#include "io/list_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolbe;
  if (size < 1) return 0;
  // The first byte: how many statements; one byte each for their shape.
  std::size_t statements = 1 + data[0] % 8;
  if (size < 1 + statements) return 0;
  const std::uint8_t* shapes = data + 1;
  std::string_view text(reinterpret_cast<const char*>(data + 1 + statements),
                        size - 1 - statements);
  InputStream input(text);
  ListReader reader(input);
  for (std::size_t s = 0; s < statements; ++s) {
    bool integer = (shapes[s] & 0x80) != 0;
    int count = shapes[s] % 16;
    bool failed_before = reader.failed();
    reader.begin_statement();
    for (int i = 0; i < count; ++i) {
      const double sentinel = -12345.0;
      if (integer) {
        std::int32_t item = -12345;
        reader.read(item);
        if (failed_before && item != -12345) std::abort();
      } else {
        double item = sentinel;
        reader.read(item);
        if (failed_before && item != sentinel) std::abort();
      }
    }
    reader.end_statement();
  }
  if (reader.failed()) {
    const char* known[] = {"list in",         "read start",
                           "invalid integer", "bad repetition count",
                           "exponent field",  "invalid number"};
    bool found = false;
    for (const char* context : known)
      found = found || std::strcmp(reader.error().context, context) == 0;
    if (!found) std::abort();
  }
  return 0;
}
