#include "cli/problem_file.h"

#include <cstring>
#include <optional>

#include "driver/problem_input.h"
#include "io/input_stream.h"
#include "io/list_reader.h"
#include "tolbe/request.h"

namespace tolbe {
namespace {

// All of this runs once per file, and only with arguments: [[gnu::cold]]
// compiles it for size and puts it apart (.text.unlikely), so that it takes
// no room among the pages the console program runs through.

// The line of a byte offset (from 1), and its column (from 1) in `column`.
[[gnu::cold]] std::size_t line_of(std::string_view text, std::size_t offset,
                                  std::size_t* column = nullptr) {
  if (offset > text.size()) offset = text.size();
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  if (column != nullptr) *column = offset - line_start + 1;
  return line;
}

// The field that starts at `offset`: up to a blank, comma, slash or line end.
[[gnu::cold]] std::string field_at(std::string_view text, std::size_t offset) {
  std::size_t end = offset;
  while (end < text.size() && std::strchr(" \t\n\r,/", text[end]) == nullptr) ++end;
  return std::string(text.substr(offset, std::min<std::size_t>(end - offset, 40)));
}

[[gnu::cold]] bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

[[gnu::cold]] bool starts_like_a_number(std::string_view rest) {
  std::size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) ++i;
  if (i < rest.size() && rest[i] == '.') ++i;
  return i < rest.size() && rest[i] >= '0' && rest[i] <= '9';
}

// The line that holds `offset` (without its line end), and where it starts.
[[gnu::cold]] std::string_view line_around(std::string_view text, std::size_t offset,
                                           std::size_t& start) {
  start = std::min(offset, text.size());
  while (start > 0 && text[start - 1] != '\n') --start;
  std::size_t end = text.find('\n', start);
  if (end == std::string_view::npos) end = text.size();
  return text.substr(start, end - start);
}

[[gnu::cold]] std::string name_of(const Statement& s) {
  switch (s.kind) {
    case StatementKind::counts:
      return "the counts (selection variables, variables, reliability flag)";
    case StatementKind::restricted_row:
      return "row " + std::to_string(s.row) + " of the restricted var/cov matrix";
    case StatementKind::unrestricted_row:
      return "row " + std::to_string(s.row) + " of the unrestricted var/cov matrix";
    case StatementKind::reliabilities:
      return "the reliabilities";
  }
  return "";
}

// Lines are counted up to this many numbers: more than a whole matrix of 50
// variables, enough to compare with any statement, and a bound on
// "2147483647*1".
constexpr int max_line_values = MAX_VARIABLES * MAX_VARIABLES + 1;

[[gnu::cold]] std::string numbers(int count) {
  if (count >= max_line_values) return "at least " + std::to_string(count) + " numbers";
  return std::to_string(count) + (count == 1 ? " number" : " numbers");
}

// ---- Where misaligned input most likely went wrong -----------------------
//
// When the input ends early, the file is held against the layout a user
// types: each statement on a line of its own, a matrix row of q numbers on
// one line. The first line that does not fit its statement is named, if
// every line before it fits:
//   - a line with fewer numbers than its row needs (a row typed short, a
//     lower triangle, the two matrices swapped); but a row may run over
//     several lines, so such a line is not named when it is the file's last
//     line of numbers (the input simply ends there), nor when the file is
//     laid out from its start through that row with rows wrapped at that
//     many numbers a line (as examples/twelve.txt is, 10 and 2);
//   - a line that holds at least one more row besides its own (a whole
//     matrix on one line). A line with a few numbers too many, fewer than
//     the next row needs (a comment that starts with a number), fits: the
//     rest of it is ignored, and the next row starts on the next line all
//     the same.

// A line of the file as the reader takes it: the values it holds before
// anything that is not a value (a comment), and whether a slash ends it.
struct LineShape {
  std::size_t start = 0;  // offset of the line
  int values = 0;
  bool slash = false;
};

// The lines of `text` that hold a value or a slash, one after another.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}

  [[gnu::cold]] std::optional<LineShape> next() {
    while (at_ < text_.size()) {
      std::size_t start = at_;
      std::size_t end = text_.find('\n', start);
      at_ = end == std::string_view::npos ? text_.size() : end + 1;
      std::string_view line = text_.substr(start, at_ - start);
      if (line.find_first_not_of(" \t\r\n") == std::string_view::npos) continue;
      LineShape shape = shape_of(line);
      shape.start = start;
      if (shape.values > 0 || shape.slash) return shape;
    }
    return std::nullopt;
  }

 private:
  [[gnu::cold]] static LineShape shape_of(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    InputStream input(line);
    ListReader reader(input);
    LineShape shape;
    reader.begin_statement();
    while (shape.values < max_line_values) {
      double value = 0.0;
      reader.read(value);
      if (reader.failed()) break;
      if (reader.slash_ended()) {
        shape.slash = true;
        break;
      }
      ++shape.values;
    }
    return shape;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

[[gnu::cold]] bool fits(const LineShape& line, int expected) {
  return line.values == expected || (line.slash && line.values < expected);
}

// Whether the statements `statements[0..last]` lie in the file as rows
// wrapped at `width` numbers a line, or as far as the file goes.
[[gnu::cold]] bool wrapped(std::string_view text, const std::vector<Statement>& statements,
                           std::size_t last, int width) {
  Lines lines(text);
  for (std::size_t j = 0; j <= last; ++j) {
    const Statement& s = statements[j];
    int left = s.items;
    bool one_line = s.kind == StatementKind::counts || left <= width;
    while (left > 0) {
      int expected = one_line ? left : std::min(left, width);
      std::optional<LineShape> line = lines.next();
      if (!line) return true;
      if (line->slash && line->values <= expected) break;
      if (line->values != expected) return false;
      left -= expected;
    }
  }
  return true;
}

// The first line that does not fit its statement, in `line`, and what is
// wrong with it, as a text that ends without a full stop; empty when there
// is none to name.
[[gnu::cold]] std::string misfit(std::string_view text, const std::vector<Statement>& statements,
                                 const Problem& problem, std::size_t& line_number) {
  Lines lines(text);
  for (std::size_t j = 0; j < statements.size(); ++j) {
    const Statement& s = statements[j];
    if (s.items <= 0) continue;
    std::optional<LineShape> line = lines.next();
    if (!line) return "";
    if (fits(*line, s.items)) continue;
    bool more = line->values > s.items;
    int next_items = j + 1 < statements.size() ? statements[j + 1].items : 0;
    if (more && (next_items <= 0 || line->values - s.items < next_items)) continue;
    bool plural = s.kind == StatementKind::counts || s.kind == StatementKind::reliabilities;
    line_number = line_of(text, line->start);
    std::string what = name_of(s) + (plural ? " have " : " has ") + numbers(line->values) +
                       (plural ? " on their line, " : " on its line, ") + std::to_string(s.items) +
                       " expected";
    if (!more) {
      if (!lines.next()) return "";
      if (wrapped(text, statements, j, line->values)) return "";
      return what;
    }
    int order = s.kind == StatementKind::restricted_row     ? problem.n_total
                : s.kind == StatementKind::unrestricted_row ? problem.n_nonrestricted
                                                            : 0;
    if (order > 1 && line->values == order * order) {
      return what + " (a whole matrix on one line? each row must start on a new line)";
    }
    if (s.kind == StatementKind::counts) {
      return what + " (the first row on the same line? each row must start on a new line)";
    }
    return what + " (several rows on one line? each row must start on a new line)";
  }
  return "";
}

// ---- Decimal commas -------------------------------------------------------
//
// "1,00 0,50 0,30" reads as six values, 1, 0, 0, 50, 0 and 30, of which a
// row of three takes the first three and ignores the rest: the result is
// wrong and nothing says so. A number is taken for one with a decimal comma
// when
//   - it is a field between blanks (or tabs, or the line's ends) of the form
//     [sign] digits , digits: one comma, digits on both sides, no point;
//   - its line holds no '.' at all;
//   - its line belongs to the matrices or the reliabilities (never the
//     counts), and the statement that read it left numbers unread on it:
//     read with the comma as a separator, the line holds more numbers than
//     its row needs.
// So "1.00,0.50,0.30", "1, 0.5", "3*0.5," and "1,0,0" (integers, the comma a
// separator) are read as always, and so is "4,2" as a row of two.
//
// The offset of the first such field on the line at `offset`, or npos.
[[gnu::cold]] std::size_t decimal_comma_on_line(std::string_view text, std::size_t offset) {
  std::size_t start = 0;
  std::string_view line = line_around(text, offset, start);
  if (line.find('.') != std::string_view::npos) return std::string_view::npos;
  auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    std::size_t field_start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    std::string_view field = line.substr(field_start, i - field_start);
    if (field.empty()) break;
    // The numbers end where a comment begins.
    if (std::string_view("+-.,/*0123456789").find(field[0]) == std::string_view::npos) break;
    std::size_t k = 0;
    if (field[k] == '+' || field[k] == '-') ++k;
    std::size_t before = k;
    while (k < field.size() && is_digit(field[k])) ++k;
    if (k == before || k == field.size() || field[k] != ',') continue;
    std::size_t after = ++k;
    while (k < field.size() && is_digit(field[k])) ++k;
    if (k == after || k != field.size()) continue;
    return start + field_start;
  }
  return std::string_view::npos;
}

// ---- The reading ----------------------------------------------------------

// The command line's side of the reading: it says in plain words where and
// what went wrong, and notes each line that holds more numbers than its
// statement needs.
class FileObserver final : public ProblemObserver {
 public:
  FileObserver(std::string_view text, const InputStream& input, const ListReader& reader,
               const Problem& problem, Fault& error, std::vector<std::string>& extra)
      : text_(text),
        input_(input),
        reader_(reader),
        problem_(problem),
        error_(error),
        extra_(extra) {}

  [[gnu::cold]] void statement_begins(const Statement& s) override {
    statements_.push_back(s);
    if (s.kind == StatementKind::counts) {
      counts_start_ = input_.offset();
      while (counts_start_ < text_.size() && is_white(text_[counts_start_])) {
        ++counts_start_;
      }
    }
  }

  [[gnu::cold]] void items_read(const Statement& s) override {
    if (reader_.slash_ended()) return;
    std::size_t at = input_.offset();
    if (at > text_.size()) return;
    std::size_t end = text_.find('\n', at);
    std::string_view rest =
        text_.substr(at, end == std::string_view::npos ? text_.size() - at : end - at);
    if (!starts_like_a_number(rest)) return;
    extra_.push_back("line " + std::to_string(line_of(text_, at)) + " holds more numbers than " +
                     name_of(s) + " calls for (" + std::to_string(s.items) +
                     "); the rest of the line was ignored");
    if (s.kind != StatementKind::counts && decimal_comma_ == std::string_view::npos) {
      decimal_comma_ = decimal_comma_on_line(text_, at);
    }
  }

  [[gnu::cold]] void read_failed(const Statement& s, int values_read) override {
    const ReadError& e = reader_.error();
    std::string context = e.context;
    std::string name = name_of(s);
    bool ends = context == "list in" && e.message != nullptr;
    if (ends || context == "read start") {
      std::size_t line = 0;
      std::string blamed = misfit(text_, statements_, problem_, line);
      std::string message;
      if (ends) {
        std::string read = std::to_string(values_read) + " of " + std::to_string(s.items);
        message = blamed.empty() ? "the input ends in " + name + ": " + read + " values read"
                                 : blamed + "; the input then ended in " + name + " (" + read +
                                       " values read)";
      } else {
        message = blamed.empty()
                      ? "the input ends before " + name + " (its last line has no line end)"
                      : blamed + "; the input then ended before " + name;
      }
      error_ = read_fault(blamed.empty() ? "input_ends" : "misaligned_input",
                          blamed.empty() ? line_of(text_, text_.size()) : line, 0, message);
      return;
    }
    if (e.message == nullptr) {
      error_ = read_fault("file_unreadable", 0, 0,
                          std::string("cannot read: ") + std::strerror(e.error_number));
      return;
    }
    std::size_t at = reader_.field_offset();
    while (at < text_.size() && is_white(text_[at])) ++at;
    std::string field = field_at(text_, at);
    std::string what;
    const char* code = "not_a_number";
    if (context == "invalid integer") {
      what = "is not a whole number";
      code = "not_a_whole_number";
    } else if (context == "bad repetition count") {
      what = "has a bad repeat count (r*value needs a whole r of at least 1)";
      code = "bad_repeat_count";
    } else if (context == "exponent field") {
      what = "has a malformed exponent";
      code = "malformed_exponent";
    } else {
      what = "is not a number";
    }
    std::size_t column = 0;
    std::size_t line = line_of(text_, at, &column);
    error_ = read_fault(code, line, column, "\"" + field + "\" " + what + " (" + name + ")");
  }

  [[gnu::cold]] void count_outside(Count count, std::int32_t value) override {
    error_ = read_fault("count_out_of_range", counts_line(), 0,
                        (count == Count::nonrestricted ? "the number of selection variables is "
                                                       : "the number of variables is ") +
                            std::to_string(value) + "; it must lie between 0 and " +
                            std::to_string(max_variables));
  }

  [[gnu::cold]] bool counts_read(const Problem& problem) override {
    int p = problem.n_nonrestricted;
    int q = problem.n_total;
    if (p <= q) return true;
    error_ = read_fault("too_many_selection_variables", counts_line(), 0,
                        "there are more selection variables (" + std::to_string(p) +
                            ") than variables in all (" + std::to_string(q) + ")");
    return false;
  }

  // The first number that looks like one with a decimal comma, on the lines
  // read so far: true with the error said.
  [[gnu::cold]] bool decimal_comma_found() {
    if (decimal_comma_ == std::string_view::npos) return false;
    std::size_t end = text_.find_first_of(" \t\r\n", decimal_comma_);
    if (end == std::string_view::npos) end = text_.size();
    std::string field(text_.substr(decimal_comma_, end - decimal_comma_));
    std::string pointed = field;
    pointed[pointed.find(',')] = '.';
    std::size_t column = 0;
    std::size_t line = line_of(text_, decimal_comma_, &column);
    error_ = read_fault("decimal_comma", line, column,
                        "\"" + field +
                            "\" looks like a number with a decimal comma; write decimal points (" +
                            pointed + "), or separate values with a blank after the comma");
    return true;
  }

 private:
  [[gnu::cold]] std::size_t counts_line() const { return line_of(text_, counts_start_); }

  std::string_view text_;
  const InputStream& input_;
  const ListReader& reader_;
  const Problem& problem_;
  Fault& error_;
  std::vector<std::string>& extra_;
  std::vector<Statement> statements_;  // those begun, in order
  std::size_t counts_start_ = 0;       // where the counts' first item is
  std::size_t decimal_comma_ = std::string_view::npos;
};

}  // namespace

[[gnu::cold]] bool read_problem_file(std::string_view text, Problem& problem, Fault& error,
                                     std::vector<std::string>& extra) {
  InputStream input(text);
  ListReader reader(input);
  FileObserver observer(text, input, reader, problem, error, extra);
  bool read = read_problem(reader, problem, observer);
  // A decimal comma comes before whatever went wrong after its line.
  if (observer.decimal_comma_found()) return false;
  return read;
}

}  // namespace tolbe
