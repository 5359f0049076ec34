// The command line on an arbitrary file, under an arbitrary name, through
// every format: the status is 0 or 2, every line on standard error is one of
// ours, JSON parses (so it is valid UTF-8), CSV rows have as many cells as
// the header and a report begins as a report begins.
//
// The input: one byte of options (bits 0-1 the format, bit 2 --check, bit 3
// the file given twice, bits 4-7 a selection variable, 0 for none), then the
// file's name up to a NUL byte (at most 40 bytes, '/' read as '_'), then
// the file's contents.
//
// Bits 4-7 all set (a selection variable of 15) mean raw scores instead:
// the contents are the data file's up to a NUL byte, then the unrestricted
// matrix's file (bit 3 clear) or the pool's (bit 3 set, --select=1); bits
// 0-1 the format (table, csv, json, or table without intervals), bit 2 the
// bootstrap (10 resamples) instead of adf.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "io/output_stream.h"
#include "support/captured_run.h"

namespace {

const std::string& folder() {
  static const std::string made = [] {
    char name[] = "/tmp/tolbe_cli_fuzz_XXXXXX";
    if (mkdtemp(name) == nullptr) std::abort();
    return std::string(name);
  }();
  return made;
}

std::string file_name(std::string_view raw) {
  std::string name(raw.substr(0, 40));
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "f";
  return name;
}

// The number of cells of each CSV record; a quoted cell may hold commas
// and line ends.
std::vector<std::size_t> record_widths(std::string_view csv) {
  std::vector<std::size_t> widths;
  std::size_t count = 1;
  bool quoted = false;
  for (char c : csv) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == ',') ++count;
    if (c == '\n') {
      widths.push_back(count);
      count = 1;
    }
  }
  return widths;
}

bool starts_with(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  unsigned char choice = static_cast<unsigned char>(input[0]);
  input.remove_prefix(1);
  std::size_t name_end = input.find('\0');
  if (name_end == std::string_view::npos) name_end = 0;
  std::string path = folder() + "/" + file_name(input.substr(0, name_end));
  std::string_view contents = input.substr(name_end == 0 ? 0 : name_end + 1);
  bool raw = (choice >> 4) == 15;
  std::string second_path = folder() + "/second_" + file_name(input.substr(0, name_end));
  if (raw) {
    std::size_t split = contents.find('\0');
    std::string_view second =
        split == std::string_view::npos ? std::string_view() : contents.substr(split + 1);
    contents = contents.substr(0, split);
    FILE* other = std::fopen(second_path.c_str(), "wb");
    if (other == nullptr) return 0;
    std::fwrite(second.data(), 1, second.size(), other);
    std::fclose(other);
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {  // a name the file system refuses
    std::remove(second_path.c_str());
    return 0;
  }
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);

  const char* formats[] = {"--format=report", "--format=csv", "--format=json", "--format=json"};
  const char* raw_formats[] = {"--format=table", "--format=csv", "--format=json",
                               "--interval=none"};
  std::vector<std::string> args{"tolbe", raw ? raw_formats[choice & 3] : formats[choice & 3]};
  if (raw) {
    args.push_back("--data=" + path);
    if ((choice & 8) != 0) {
      args.push_back("--pool=" + second_path);
      args.emplace_back("--select=1");
    } else {
      args.push_back("--unrestricted=" + second_path);
    }
    if ((choice & 4) != 0) {
      for (const char* a : {"--interval=bootstrap", "--resamples=10", "--threads=1"}) {
        args.emplace_back(a);
      }
    }
  } else {
    if ((choice & 4) != 0) args.emplace_back("--check");
    if ((choice >> 4) != 0) args.push_back("--select=" + std::to_string(choice >> 4));
    args.emplace_back("--");
    args.push_back(path);
    if ((choice & 8) != 0) args.push_back(path);
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out_fd = memfd_create("tolbe_out", 0);
  int err_fd = memfd_create("tolbe_err", 0);
  tolbe::standard_output().retarget(out_fd);
  tolbe::standard_error().retarget(err_fd);
  int status = tolbe::run_command_line(static_cast<int>(args.size()), argv.data());
  std::string out = tolbe::testing_support::read_back(out_fd);
  std::string err = tolbe::testing_support::read_back(err_fd);
  tolbe::standard_output().retarget(STDOUT_FILENO);
  tolbe::standard_error().retarget(STDERR_FILENO);
  close(out_fd);
  close(err_fd);
  std::remove(path.c_str());
  if (raw) std::remove(second_path.c_str());

  if (status != 0 && status != 2) std::abort();
  if (!err.empty() && err.back() != '\n') std::abort();
  // A line end in the file's name splits the messages that name it.
  bool one_line_messages = path.find('\n') == std::string::npos;
  for (std::size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
    if (!starts_with(std::string_view(err).substr(at), "tolbe: ") && one_line_messages) {
      std::abort();
    }
  }
  if (raw && ((choice & 3) == 0 || (choice & 3) == 3)) {
    // A table names the data file first.
    if (status == 0 && !starts_with(out, path + ": ")) std::abort();
    return 0;
  }
  switch (choice & 3) {
    case 0:
      if (status == 0 && !starts_with(out, "Program execution starts on ")) std::abort();
      break;
    case 1: {
      if (!starts_with(out, "file,matrix,variable") || out.back() != '\n') std::abort();
      std::vector<std::size_t> widths = record_widths(out);
      for (std::size_t width : widths) {
        if (width != widths[0]) std::abort();
      }
      break;
    }
    default: {
      nlohmann::json documents = nlohmann::json::parse(out, nullptr, false);
      if (documents.is_discarded() || !documents.is_array()) std::abort();
      if (documents.size() != ((choice & 8) != 0 && !raw ? 2u : 1u)) std::abort();
      break;
    }
  }
  return 0;
}
