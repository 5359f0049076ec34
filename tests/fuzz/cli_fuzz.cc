// The command line on an arbitrary file, under an arbitrary name, through
// every format: the status is 0 or 2, every line on standard error is one of
// ours, with the names' control characters written out, JSON parses (so it
// is valid UTF-8), CSV rows have as many cells as the header and none a
// spreadsheet would take for a formula, and a report begins as a report
// begins.
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
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/cli.h"
#include "io/output_stream.h"
#include "support/captured_run.h"

namespace {

// The folder of this process's files, in the temporary folder (TMPDIR),
// removed when the process ends: each input's files go as soon as it has
// run, so the folder is empty by then.
std::string made_folder;

void remove_folder() {
  rmdir(made_folder.c_str());
}

const std::string& folder() {
  if (made_folder.empty()) {
    std::error_code error;
    std::string name =
        (std::filesystem::temp_directory_path(error) / "tolbe_cli_fuzz_XXXXXX").string();
    if (error || mkdtemp(name.data()) == nullptr) std::abort();
    made_folder = name;
    std::atexit(remove_folder);
  }
  return made_folder;
}

std::string file_name(std::string_view raw) {
  std::string name(raw.substr(0, 40));
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "f";
  return name;
}

// The cells of each CSV record, unquoted; a quoted cell may hold commas
// and line ends.
std::vector<std::vector<std::string>> records(std::string_view csv) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t at = 0; at < csv.size(); ++at) {
    char c = csv[at];
    if (quoted) {
      if (c != '"') {
        rows.back().back() += c;
      } else if (at + 1 < csv.size() && csv[at + 1] == '"') {
        rows.back().back() += '"';
        ++at;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  rows.pop_back();  // after the last line end
  return rows;
}

// Whether a spreadsheet could take `cell` for a formula: it starts with =,
// +, -, @, a tab or a carriage return and is no number (nor "-" alone, nor
// -Inf, a value as R writes it).
bool formula_like(const std::string& cell) {
  if (cell.empty() || cell == "-" || cell == "-Inf") return false;
  if (std::string("=+-@\t\r").find(cell[0]) == std::string::npos) return false;
  char* end = nullptr;
  std::strtod(cell.c_str(), &end);
  return end != cell.c_str() + cell.size() || cell.find_first_of("xXnNiI") != std::string::npos;
}

// `text` as a table or a message shows it: each C0 control and DEL as
// \xHH, each C1 control (U+0080 to U+009F, two bytes in UTF-8) as \u00HH.
std::string written_out(std::string_view text) {
  std::string shown;
  char code[8];
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto c = static_cast<unsigned char>(text[at]);
    auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0u;
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(code, sizeof code, "\\x%02x", c);
      shown += code;
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      std::snprintf(code, sizeof code, "\\u%04x", next);
      shown += code;
      ++at;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

// Whether `text` holds a control character other than the line end: names
// must reach the terminal with theirs written out.
bool has_controls(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto c = static_cast<unsigned char>(text[at]);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
    if (c == 0xC2 && at + 1 < text.size() && static_cast<unsigned char>(text[at + 1]) <= 0x9F &&
        static_cast<unsigned char>(text[at + 1]) >= 0x80) {
      return true;
    }
  }
  return false;
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
  // Every message is one line of ours, whatever the names hold: their
  // control characters, line ends included, are written out.
  if (has_controls(err)) std::abort();
  for (std::size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
    if (!starts_with(std::string_view(err).substr(at), "tolbe: ")) std::abort();
  }
  if (raw && ((choice & 3) == 0 || (choice & 3) == 3)) {
    // A table names the data file first; the names in it are shown
    // without their control characters.
    if (status == 0 && !starts_with(out, written_out(path) + ": ")) std::abort();
    if (has_controls(out)) std::abort();
    return 0;
  }
  switch (choice & 3) {
    case 0:
      if (status == 0 && !starts_with(out, "Program execution starts on ")) std::abort();
      break;
    case 1: {
      if (!starts_with(out, "version,file,matrix,variable") || out.back() != '\n') std::abort();
      std::vector<std::vector<std::string>> rows = records(out);
      for (const std::vector<std::string>& row : rows) {
        if (row.size() != rows[0].size()) std::abort();
        for (const std::string& cell : row) {
          if (formula_like(cell)) std::abort();
        }
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
