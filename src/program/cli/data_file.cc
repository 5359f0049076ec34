#include "cli/data_file.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

#include "io/chars.h"

namespace tolbe {
namespace {

// One line of the file, without its line end.
struct Line {
  std::size_t number = 0;  // from 1
  std::string_view text;
};

// The lines of a text, blank ones skipped, a byte-order mark at its start
// left out.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {
    constexpr std::string_view mark = "\xEF\xBB\xBF";
    if (text_.substr(0, mark.size()) == mark) text_.remove_prefix(mark.size());
  }

  std::optional<Line> next() {
    while (at_ < text_.size()) {
      std::size_t end = text_.find('\n', at_);
      if (end == std::string_view::npos) end = text_.size();
      std::string_view line = text_.substr(at_, end - at_);
      at_ = end + 1;
      ++number_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
      return Line{number_, line};
    }
    return std::nullopt;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t number_ = 0;
};

// A field of a line: its text (within the quotes, when quoted) and where it
// starts (from 1).
struct Field {
  std::string_view text;
  std::size_t column = 0;
  bool quoted = false;
  bool doubled_quotes = false;  // holds "" for a quote
};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Splits `line` at `separator` outside quotes. False with `error` (from the
// column on) when a quote is not closed on the line or text follows a
// closing quote.
bool split(const Line& line, char separator, std::vector<Field>& fields, Fault& error) {
  fields.clear();
  std::string_view s = line.text;
  std::size_t i = 0;
  for (;;) {
    while (i < s.size() && s[i] != separator && is_blank(s[i])) ++i;
    Field f;
    f.column = i + 1;
    if (i < s.size() && s[i] == '"') {
      std::size_t start = ++i;
      for (;;) {
        if (i >= s.size()) {
          error = read_fault("unclosed_quote", line.number, f.column,
                             "the quote is not closed on its line");
          return false;
        }
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            f.doubled_quotes = true;
            i += 2;
            continue;
          }
          break;
        }
        ++i;
      }
      f.text = s.substr(start, i - start);
      f.quoted = true;
      ++i;
      while (i < s.size() && s[i] != separator && is_blank(s[i])) ++i;
      if (i < s.size() && s[i] != separator) {
        error = read_fault("text_after_quote", line.number, i + 1,
                           "text follows the closing quote of a field");
        return false;
      }
    } else {
      std::size_t start = i;
      while (i < s.size() && s[i] != separator) ++i;
      std::size_t end = i;
      while (end > start && is_blank(s[end - 1])) --end;
      f.text = s.substr(start, end - start);
    }
    fields.push_back(f);
    if (i >= s.size()) return true;
    ++i;  // the separator
  }
}

std::string unquoted(const Field& f) {
  if (!f.doubled_quotes) return std::string(f.text);
  std::string text;
  for (std::size_t i = 0; i < f.text.size(); ++i) {
    text += f.text[i];
    if (f.text[i] == '"') ++i;
  }
  return text;
}

// The separator: the first comma, semicolon or tab of the header line
// outside quotes; a comma when there is none.
char separator_of(std::string_view header) {
  bool quoted = false;
  for (char c : header) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ',' || c == ';' || c == '\t')) return c;
  }
  return ',';
}

enum class Score { number, missing, not_a_number, not_finite, decimal_comma };

Score score_of(const Field& f, char separator, double& value) {
  std::string_view text = f.text;
  if (text.empty() || text == "NA") return Score::missing;
  char buffer[64];
  std::size_t comma = text.find(',');
  if (comma != std::string_view::npos) {
    // Spreadsheets that separate by semicolons write decimal commas; under
    // another separator a comma in a number is a decimal comma or a
    // thousands separator, and which is not for us to guess.
    if (separator != ';') return Score::decimal_comma;
    if (text.find('.') != std::string_view::npos || text.find(',', comma + 1) != text.npos ||
        text.size() >= sizeof buffer) {
      return Score::not_a_number;
    }
    text.copy(buffer, text.size());
    buffer[comma] = '.';
    text = std::string_view(buffer, text.size());
  }
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  auto result = parse_double(text.data(), text.data() + text.size(), value);
  if (result.ptr != text.data() + text.size()) return Score::not_a_number;
  if (result.ec == std::errc::result_out_of_range) return Score::not_finite;
  if (result.ec != std::errc()) return Score::not_a_number;
  // from_chars reads "inf" and "nan" too.
  return std::isfinite(value) ? Score::number : Score::not_finite;
}

std::string quoted_text(std::string_view text) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on
  // "\"" + std::string(...).
  std::string quoted = "\"";
  quoted += text.substr(0, 40);
  quoted += '"';
  return quoted;
}

// The complaint about a field that is not a score, or empty.
Fault bad_score(Score score, const Line& line, const Field& f, const std::string& name) {
  std::string at = quoted_text(f.text);
  switch (score) {
    case Score::not_finite:
      return read_fault("not_finite", line.number, f.column,
                        at + " is not a finite number (column " + name +
                            "); a missing value is an empty field or NA");
    case Score::decimal_comma:
      return read_fault("decimal_comma", line.number, f.column,
                        at + " has a comma (column " + name +
                            "): write decimal points, or separate the file by semicolons");
    default:
      return read_fault(
          "not_a_number", line.number, f.column,
          at + " is not a number (column " + name + "); a missing value is an empty field or NA");
  }
}

// The header: its names, or false with the error.
bool read_header(Lines& lines, char& separator, std::vector<Field>& fields,
                 std::vector<std::string>& names, Fault& error) {
  std::optional<Line> header = lines.next();
  if (!header) {
    error = read_fault("no_header", 1, 0, "the file holds no header row of column names");
    return false;
  }
  separator = separator_of(header->text);
  if (!split(*header, separator, fields, error)) return false;
  names.clear();
  bool all_numbers = true;
  for (const Field& f : fields) {
    double ignored = 0.0;
    if (score_of(f, separator, ignored) != Score::number) all_numbers = false;
    names.push_back(unquoted(f));
  }
  if (all_numbers) {
    error = read_fault("no_header", header->number, 0,
                       "the first line holds numbers, not names: the file needs a header row of "
                       "column names");
    return false;
  }
  return true;
}

bool check_names(std::size_t line, const std::vector<Field>& fields,
                 const std::vector<std::string>& names, std::size_t first, Fault& error) {
  for (std::size_t k = first; k < names.size(); ++k) {
    if (names[k].empty()) {
      error = read_fault("unnamed_column", line, fields[k].column,
                         "column " + std::to_string(k + 1) + " has no name");
      if (k == 0) {
        error.message +=
            " (row names, as R's write.csv writes them? write with row.names = FALSE, or leave "
            "the column out)";
      }
      return false;
    }
    for (std::size_t j = first; j < k; ++j) {
      if (names[j] == names[k]) {
        error = read_fault("repeated_name", line, fields[k].column,
                           "the name " + quoted_text(names[k]) + " is given to columns " +
                               std::to_string(j + 1) + " and " + std::to_string(k + 1));
        return false;
      }
    }
  }
  return true;
}

std::string fields_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " field" : " fields");
}

std::string columns_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " column" : " columns");
}

}  // namespace

bool read_scores(std::string_view text, std::span<const std::string> wanted, Scores& scores,
                 Fault& error) {
  scores = Scores{};
  Lines lines(text);
  char separator = ',';
  std::vector<Field> fields;
  std::vector<std::string> header;
  if (!read_header(lines, separator, fields, header, error)) return false;
  std::vector<std::size_t> columns;  // of the header, in the order read
  if (wanted.empty()) {
    if (!check_names(1, fields, header, 0, error)) return false;
    if (header.size() > static_cast<std::size_t>(max_data_columns)) {
      error = read_fault("too_many_variables", 1, 0,
                         "the header names " + std::to_string(header.size()) +
                             " columns; tolbe takes at most " + std::to_string(max_data_columns) +
                             " variables");
      return false;
    }
    for (std::size_t k = 0; k < header.size(); ++k) columns.push_back(k);
    scores.names = header;
  } else {
    // The names of the columns not read do not matter.
    for (const std::string& name : wanted) {
      std::size_t k = 0;
      while (k < header.size() && header[k] != name) ++k;
      if (k == header.size()) {
        error = read_fault("missing_column", 1, 0, "no column is named " + quoted_text(name));
        return false;
      }
      for (std::size_t j = k + 1; j < header.size(); ++j) {
        if (header[j] == name) {
          error = read_fault("repeated_name", 1, fields[j].column,
                             "the name " + quoted_text(name) + " is given to columns " +
                                 std::to_string(k + 1) + " and " + std::to_string(j + 1));
          return false;
        }
      }
      columns.push_back(k);
      scores.names.push_back(name);
    }
  }
  // Twice through the rows: first to check them and count the complete
  // ones, then to keep those, column by column, in storage of their size.
  std::size_t width = columns.size();
  std::vector<double> row_values(width);
  for (int pass = 0; pass < 2; ++pass) {
    Lines rows = lines;
    int row = 0;
    int dropped = 0;
    int data_row = 0;
    while (std::optional<Line> line = rows.next()) {
      ++data_row;
      if (!split(*line, separator, fields, error)) return false;
      if (fields.size() != header.size()) {
        error = read_fault(
            "wrong_field_count", line->number, 0,
            fields_text(fields.size()) + ", but the header names " + columns_text(header.size()));
        return false;
      }
      bool complete = true;
      for (std::size_t c = 0; c < width; ++c) {
        const Field& f = fields[columns[c]];
        double value = 0.0;
        Score score = score_of(f, separator, value);
        if (score == Score::missing) {
          complete = false;
        } else if (score != Score::number) {
          error = bad_score(score, *line, f, scores.names[c]);
          return false;
        }
        row_values[c] = value;
      }
      if (complete) {
        if (pass == 1) {
          scores.row_numbers.push_back(data_row);
          for (std::size_t c = 0; c < width; ++c) {
            scores
                .values[static_cast<std::size_t>(row) + c * static_cast<std::size_t>(scores.rows)] =
                row_values[c];
          }
        }
        ++row;
      } else {
        ++dropped;
      }
    }
    if (pass == 0) {
      scores.rows = row;
      scores.dropped = dropped;
      scores.values.assign(static_cast<std::size_t>(row) * width, 0.0);
    }
  }
  return true;
}

bool read_named_matrix(std::string_view text, std::vector<std::string>& names,
                       std::vector<double>& values, Fault& error) {
  names.clear();
  values.clear();
  Lines lines(text);
  char separator = ',';
  std::vector<Field> fields;
  std::vector<std::string> header;
  if (!read_header(lines, separator, fields, header, error)) return false;
  std::size_t first = !header.empty() && header[0].empty() ? 1 : 0;
  if (!check_names(1, fields, header, first, error)) return false;
  names.assign(header.begin() + static_cast<std::ptrdiff_t>(first), header.end());
  std::size_t order = names.size();
  if (order > static_cast<std::size_t>(max_data_columns)) {
    error = read_fault("too_many_variables", 1, 0,
                       "the header names " + std::to_string(order) +
                           " variables; tolbe takes at most " + std::to_string(max_data_columns));
    return false;
  }
  values.assign(order * order, 0.0);
  std::size_t row = 0;
  std::size_t last_line = 1;
  while (std::optional<Line> line = lines.next()) {
    last_line = line->number;
    if (row == order) {
      error =
          read_fault("too_many_rows", line->number, 0,
                     "more rows than the header names variables (" + std::to_string(order) + ")");
      return false;
    }
    if (!split(*line, separator, fields, error)) return false;
    if (fields.size() != header.size()) {
      error = read_fault(
          "wrong_field_count", line->number, 0,
          fields_text(fields.size()) + ", but the header names " + columns_text(header.size()));
      return false;
    }
    if (first == 1 && unquoted(fields[0]) != names[row]) {
      error = read_fault("row_names_disagree", line->number, fields[0].column,
                         "the row is named " + quoted_text(unquoted(fields[0])) + ", but row " +
                             std::to_string(row + 1) + " is that of " + quoted_text(names[row]) +
                             " (rows in the order of the header)");
      return false;
    }
    for (std::size_t c = 0; c < order; ++c) {
      const Field& f = fields[first + c];
      double value = 0.0;
      Score score = score_of(f, separator, value);
      if (score == Score::missing) {
        error = read_fault("missing_value", line->number, f.column,
                           "the value of row " + names[row] + ", column " + names[c] +
                               " is missing; a var/cov matrix needs every value");
        return false;
      }
      if (score != Score::number) {
        error = bad_score(score, *line, f, names[c]);
        return false;
      }
      values[row + c * order] = value;
    }
    ++row;
  }
  if (row < order) {
    error =
        read_fault("input_ends", last_line, 0,
                   "the matrix ends after " + std::to_string(row) + (row == 1 ? " row" : " rows") +
                       ", but the header names " + std::to_string(order) + " variables");
    return false;
  }
  return true;
}

bool read_column_names(std::string_view text, std::vector<std::string>& names, Fault& error) {
  Lines lines(text);
  char separator = ',';
  std::vector<Field> fields;
  return read_header(lines, separator, fields, names, error);
}

}  // namespace tolbe
