#include "cli/options.h"

#include <getopt.h>

#include <charconv>
#include <cstring>

namespace tolbe {
namespace {

bool parse_number(const char* begin, const char* end, int& value) {
  auto result = std::from_chars(begin, end, value);
  return result.ec == std::errc() && result.ptr == end && value >= 1 && value <= 50;
}

}  // namespace

bool parse_selection(const std::string& text, std::vector<int>& selection) {
  selection.clear();
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* comma =
        static_cast<const char*>(std::memchr(p, ',', static_cast<std::size_t>(end - p)));
    const char* item_end = comma != nullptr ? comma : end;
    const char* dash =
        static_cast<const char*>(std::memchr(p, '-', static_cast<std::size_t>(item_end - p)));
    int first = 0;
    int last = 0;
    if (dash == nullptr) {
      if (!parse_number(p, item_end, first)) return false;
      last = first;
    } else if (!parse_number(p, dash, first) || !parse_number(dash + 1, item_end, last) ||
               last < first) {
      return false;
    }
    for (int v = first; v <= last; ++v) selection.push_back(v);
    if (comma == nullptr) break;
    p = comma + 1;
    if (p == end) return false;  // a trailing comma
  }
  return !selection.empty();
}

bool parse_options(int argc, char** argv, Options& options, std::string& error) {
  static const option long_options[] = {
      {"help", no_argument, nullptr, 'h'},         {"version", no_argument, nullptr, 'V'},
      {"format", required_argument, nullptr, 'f'}, {"select", required_argument, nullptr, 's'},
      {"check", no_argument, nullptr, 'c'},        {"quiet", no_argument, nullptr, 'q'},
      {"strict", no_argument, nullptr, 'S'},       {nullptr, 0, nullptr, 0}};
  opterr = 0;  // the complaints are ours
  optind = 0;  // 0, not 1: GNU getopt then starts afresh, also on a second call
  for (;;) {
    int option_index = 0;
    int c = getopt_long(argc, argv, ":hVq", long_options, &option_index);
    if (c == -1) break;
    switch (c) {
      case 'h':
        options.help = true;
        break;
      case 'V':
        options.version = true;
        break;
      case 'c':  // the findings are shown by default; --check undoes an earlier --quiet
        options.quiet = false;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'S':
        options.strict = true;
        break;
      case 'f':
        if (std::strcmp(optarg, "report") == 0) {
          options.format = OutputFormat::report;
        } else if (std::strcmp(optarg, "csv") == 0) {
          options.format = OutputFormat::csv;
        } else if (std::strcmp(optarg, "json") == 0) {
          options.format = OutputFormat::json;
        } else {
          error = std::string("invalid argument '") + optarg +
                  "' for '--format' (valid: report, csv, json)";
          return false;
        }
        break;
      case 's':
        if (!parse_selection(optarg, options.selection)) {
          error = std::string("invalid argument '") + optarg +
                  "' for '--select' (variable numbers 1 to 50, such as 1,4-5)";
          return false;
        }
        break;
      case ':':
        error = std::string("option '") + argv[optind - 1] + "' requires an argument";
        return false;
      default:
        if (optopt != 0) {
          error = std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
        } else {
          error = std::string("unrecognized option '") + argv[optind - 1] + "'";
        }
        return false;
    }
  }
  for (int i = optind; i < argc; ++i) options.files.emplace_back(argv[i]);
  return true;
}

const char* usage_text() {
  return "Usage: tolbe [OPTION]... [FILE]...\n"
         "Correct the var/cov matrix of a range-restricted sample by Lawley's (1943)\n"
         "multivariate correction, and derive the corrected correlation matrix and,\n"
         "with reliabilities, the correlation matrix corrected for attenuation.\n"
         "\n"
         "Each FILE holds one problem in free format (see tolbe(1)); with no FILE,\n"
         "or when FILE is -, the problem is read from standard input. Without any\n"
         "argument tolbe behaves as the classic console program.\n"
         "\n"
         "      --format=FORMAT  report (default), csv or json\n"
         "      --select=LIST    the selection (non-restricted) variables are those\n"
         "                       numbered in LIST, such as 1,4-5, in the order of the\n"
         "                       rows of the unrestricted matrix (default 1..p)\n"
         "  -q, --quiet          write no warnings or notes, only errors\n"
         "      --strict         treat warnings as errors: no results for a problem\n"
         "                       with a warning, and exit status 2\n"
         "      --check          write warnings and notes (the default; undoes an\n"
         "                       earlier --quiet)\n"
         "  -h, --help           display this help and exit\n"
         "  -V, --version        output version information and exit\n"
         "\n"
         "With any argument, errors name the file, line and column, and likely\n"
         "mistakes in the input get a warning on standard error. Exit status:\n"
         "0 all problems solved, 2 a problem could not be read or solved (or a bad\n"
         "option), 3 the output could not be written.\n";
}

}  // namespace tolbe
