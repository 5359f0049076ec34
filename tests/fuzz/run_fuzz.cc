// The whole run on arbitrary bytes as the problem, through the run entry
// that returns its status: the status is 0, 2 or 3, standard output is made
// of whole lines that begin as the report begins, and standard error holds
// nothing or one of the program's own diagnostics.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/captured_run.h"

namespace {

bool starts_with(const std::string& text, std::string_view start) {
  return text.compare(0, start.size(), start) == 0;
}

const char* const report_start =
    "\n"
    "                         +++++++++++\n"
    "                         +  TOLBE  +\n"
    "                         +++++++++++\n"
    "\n"
    "Multivariate range restriction correction using the Lawley\n"
    "(1943) correction formulae.\n"
    "\n"
    "At present, the program is limited to a total of 50\n"
    "variables.\n"
    "\n"
    "PROBLEM SPECIFICATION\n"
    "\n"
    "Number of non-restricted variables:";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  tolbe::testing_support::CapturedRun run = tolbe::testing_support::run_captured(input);
  if (run.status != 0 && run.status != 2 && run.status != 3) std::abort();
  const std::string& out = run.out;
  if (out.empty() || out.back() != '\n') std::abort();
  if (!starts_with(out, "Program execution starts on ")) std::abort();
  std::string rest = out.substr(out.find('\n') + 1);
  std::string start = report_start;
  std::size_t common = rest.size() < start.size() ? rest.size() : start.size();
  if (rest.compare(0, common, start, 0, common) != 0) std::abort();
  if (run.status == 0) {
    if (!run.err.empty()) std::abort();
    if (out.find("\nCPU TIME IN SECONDS ") == std::string::npos) std::abort();
    return 0;
  }
  const char* known[] = {"list in: ",
                         "read start: ",
                         "invalid integer: ",
                         "bad repetition count: ",
                         "exponent field: ",
                         "invalid number: ",
                         "error: the number of non-restricted variables is ",
                         "error: the total number of variables is ",
                         "error: the range restricted var/cov matrix of the non-restricted",
                         " ***MESSAGE FROM ROUTINE DGEMM  IN LIBRARY SLATEC.\n"};
  bool found = false;
  for (const char* text : known) found = found || starts_with(run.err, text);
  if (!found) std::abort();
  return 0;
}
