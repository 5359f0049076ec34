// The command-line options on arbitrary argument vectors: no crash, no
// undefined behaviour, and either a parse or a complaint, never both.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments are the input's pieces between NUL bytes, at most 16 of them.
  std::vector<std::string> pieces{"tolbe"};
  std::string current;
  for (std::size_t i = 0; i < size && pieces.size() < 17; ++i) {
    if (data[i] == 0) {
      pieces.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (pieces.size() < 17) pieces.push_back(current);
  std::vector<char*> argv;
  for (std::string& piece : pieces) argv.push_back(piece.data());
  argv.push_back(nullptr);
  tolbe::Options options;
  std::string error;
  bool parsed = tolbe::parse_options(static_cast<int>(pieces.size()), argv.data(), options, error);
  if (parsed != error.empty()) std::abort();
  for (int v : options.selection) {
    if (v < 1 || v > 50) std::abort();
  }
  return 0;
}
