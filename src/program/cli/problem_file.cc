#include "cli/problem_file.h"

#include <cmath>
#include <cstring>

#include "io/input_stream.h"
#include "io/list_reader.h"

namespace tolbe {
namespace {

// Line and column (from 1) of a byte offset.
std::string place_of(std::string_view text, std::size_t offset, bool with_column) {
  if (offset > text.size()) offset = text.size();
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  std::string place = std::to_string(line);
  if (with_column) {
    // Appended piece by piece: "literal" + std::string trips GCC 12's
    // -Wrestrict in optimised builds.
    place += ':';
    place += std::to_string(offset - line_start + 1);
  }
  return place;
}

// The field that starts at `offset`: up to a blank, comma, slash or line end.
std::string field_at(std::string_view text, std::size_t offset) {
  std::size_t end = offset;
  while (end < text.size() && std::strchr(" \t\n\r,/", text[end]) == nullptr) ++end;
  return std::string(text.substr(offset, std::min<std::size_t>(end - offset, 40)));
}

bool starts_like_a_number(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) ++i;
  if (i < rest.size() && rest[i] == '.') ++i;
  return i < rest.size() && rest[i] >= '0' && rest[i] <= '9';
}

class Statements {
 public:
  Statements(std::string_view text, std::string& error, std::vector<std::string>& extra)
      : text_(text), input_(text), reader_(input_), error_(error), extra_(extra) {}

  // Reads `count` items of one statement named `name`; `item(k)` gives the
  // k-th item's storage.
  template <typename Item>
  bool read(const std::string& name, int count, Item item) {
    reader_.begin_statement();
    for (int k = 0; k < count; ++k) {
      reader_.read(item(k));
      if (reader_.failed()) return explain(name, k, count);
    }
    note_extra_numbers(name, count);
    reader_.end_statement();
    if (reader_.failed()) return explain(name, count, count);
    return true;
  }

 private:
  bool explain(const std::string& name, int read, int count) {
    const ReadError& e = reader_.error();
    std::string context = e.context;
    if (context == "list in" && e.message != nullptr) {
      error_ = place_of(text_, text_.size(), false) + ": the input ends in " + name + ": " +
               std::to_string(read) + " of " + std::to_string(count) + " values read";
      return false;
    }
    if (context == "read start") {
      error_ = place_of(text_, text_.size(), false) + ": the input ends before " + name +
               " (its last line has no line end)";
      return false;
    }
    if (e.message == nullptr) {
      error_ = std::string("cannot read: ") + std::strerror(e.error_number);
      return false;
    }
    std::size_t at = reader_.field_offset();
    while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\n')) ++at;
    std::string field = field_at(text_, at);
    std::string what;
    if (context == "invalid integer") {
      what = "is not a whole number";
    } else if (context == "bad repetition count") {
      what = "has a bad repeat count (r*value needs a whole r of at least 1)";
    } else if (context == "exponent field") {
      what = "has a malformed exponent";
    } else {
      what = "is not a number";
    }
    error_ = place_of(text_, at, true) + ": \"" + field + "\" " + what + " (" + name + ")";
    return false;
  }

  void note_extra_numbers(const std::string& name, int count) {
    if (reader_.slash_ended()) return;
    std::size_t at = input_.offset();
    if (at > text_.size()) return;
    std::size_t end = text_.find('\n', at);
    std::string_view rest =
        text_.substr(at, end == std::string_view::npos ? text_.size() - at : end - at);
    if (!starts_like_a_number(rest)) return;
    extra_.push_back("line " + place_of(text_, at, false) + " holds more numbers than " + name +
                     " calls for (" + std::to_string(count) +
                     "); the rest of the line was ignored");
  }

  std::string_view text_;
  InputStream input_;
  ListReader reader_;
  std::string& error_;
  std::vector<std::string>& extra_;
};

std::string matrix_row(const char* matrix, int row) {
  return "row " + std::to_string(row) + " of the " + matrix;
}

}  // namespace

bool read_problem_file(std::string_view text, Problem& problem, std::string& error,
                       std::vector<std::string>& extra) {
  Statements statements(text, error, extra);
  std::int32_t counts[3] = {0, 0, 0};
  if (!statements.read("the counts (selection variables, variables, reliability flag)", 3,
                       [&](int k) -> std::int32_t& { return counts[k]; })) {
    return false;
  }
  problem.n_nonrestricted = counts[0];
  problem.n_total = counts[1];
  problem.reliability_flag = counts[2];
  int p = counts[0];
  int q = counts[1];
  if (p < 0 || p > MAX_VARIABLES) {
    error = "1: the number of selection variables is " + std::to_string(p) +
            "; it must lie between 0 and 50";
    return false;
  }
  if (q < 0 || q > MAX_VARIABLES) {
    error = "1: the number of variables is " + std::to_string(q) + "; it must lie between 0 and 50";
    return false;
  }
  if (p > q) {
    error = "1: there are more selection variables (" + std::to_string(p) +
            ") than variables in all (" + std::to_string(q) + ")";
    return false;
  }
  for (int i = 1; i <= q; ++i) {
    if (!statements.read(matrix_row("restricted var/cov matrix", i), q,
                         [&](int k) -> double& { return problem.restricted_cov(i, k + 1); })) {
      return false;
    }
  }
  for (int i = 1; i <= p; ++i) {
    if (!statements.read(matrix_row("unrestricted var/cov matrix", i), p,
                         [&](int k) -> double& { return problem.nonrestricted_cov(i, k + 1); })) {
      return false;
    }
  }
  if (problem.with_reliabilities()) {
    if (!statements.read("the reliabilities", q - p,
                         [&](int k) -> double& { return problem.reliabilities[p + k]; })) {
      return false;
    }
    for (int k = 0; k < p; ++k) problem.reliabilities[k] = 1.0;
  }
  return true;
}

}  // namespace tolbe
