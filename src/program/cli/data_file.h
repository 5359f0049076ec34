#pragma once

// Raw scores and named matrices in delimited text files, as --data, --pool
// and --unrestricted read them.
//
// A file starts with a header row of column names. Its separator is the
// first comma, semicolon or tab of the header line (a header of one name
// and none of them: one column, the comma the separator). A field may be
// quoted with double quotes, a quote inside doubled ("a ""b"""), as R and
// spreadsheets write names; a quoted field ends on its line. Blanks around a
// field are no part of it; a line end may be CR LF; blank lines are skipped;
// a UTF-8 byte-order mark is skipped. A score is a number with a decimal
// point (with the semicolon as separator, a decimal comma too, as
// spreadsheets that write semicolons write numbers); an empty field or NA is
// missing.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/fault.h"
#include "tolbe/request.h"

namespace tolbe {

// The most of a data file the command line reads: 64 MiB, over a million
// rows of several variables. Its complete rows take at most 4 bytes of
// memory for each of its bytes (a score takes at least a digit and a
// separator, and becomes a double).
inline constexpr std::size_t max_data_file_bytes = std::size_t{64} << 20;

// The most columns of a data file whose every column is a variable: the
// program's most variables.
inline constexpr int max_data_columns = max_variables;

// Scores read from a data file: the columns read and their complete rows.
struct Scores {
  std::vector<std::string> names;  // of the columns read, in the order read
  std::vector<double> values;      // column-major, rows x names.size()
  int rows = 0;                    // complete rows: a number in every column read
  int dropped = 0;                 // rows with a missing value in a column read
  std::vector<int> row_numbers;    // of each complete row, its row from 1 below the header
};

// Reads the scores of the whole text of a data file. With `wanted` empty,
// every column is read (at most max_data_columns); otherwise the columns of
// those names, in that order, and the other columns are not looked at
// beyond counting their fields. Rows with a missing value in a column read
// are counted in `dropped` and not kept. False with the fault in `error`:
// its code, line (and column) and message (no file name). Allocates.
bool read_scores(std::string_view text, std::span<const std::string> wanted, Scores& scores,
                 Fault& error);

// Reads a square matrix with a header row of names: as many rows of numbers
// as names, in the names' order, none missing. A first column whose header
// field is empty holds the rows' names (as R's write.csv writes a matrix),
// which must then be those of the header. `values` is column-major, of
// order names.size(). False with the error as for read_scores().
// Allocates.
bool read_named_matrix(std::string_view text, std::vector<std::string>& names,
                       std::vector<double>& values, Fault& error);

// The names of the header row of the whole text of a data file, as
// read_scores() reads them, without looking at the rows or at whether the
// names are distinct. False with the error as for read_scores(). Allocates.
bool read_column_names(std::string_view text, std::vector<std::string>& names, Fault& error);

}  // namespace tolbe
