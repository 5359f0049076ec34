#include "driver/report.h"

#include "io/format_writer.h"

namespace tolbe {
namespace {

constexpr CompiledFormat start_stamp_format =
    checked_format("('Program execution starts on ',I2,'/',I2,'/',I4,' at',I3,':',I2,':',I2)");
constexpr CompiledFormat banner_format = checked_format(
    "(/,25X,'+++++++++++',/,25X,'+  TOLBE  +',/,25X,'+++++++++++',//,"
    "'Multivariate range restriction correction using the Lawley',/,"
    "'(1943) correction formulae.',//,"
    "'At present, the program is limited to a total of 50',/,'variables.')");
constexpr CompiledFormat problem_heading_format = checked_format("(/,'PROBLEM SPECIFICATION',/)");
constexpr CompiledFormat counts_format =
    checked_format("('Number of non-restricted variables:',I3,/,'Total number of variables:',I3)");
constexpr CompiledFormat restricted_heading_format =
    checked_format("(/,'Complete range restricted var/cov matrix')");
constexpr CompiledFormat row_format = checked_format("(I3,8F9.4)");
constexpr CompiledFormat row_continuation_format = checked_format("(3X,8F9.4)");
constexpr CompiledFormat nonrestricted_heading_format =
    checked_format("(/,'Var/cov matrix of the non-restricted variables')");
constexpr CompiledFormat reliabilities_format =
    checked_format("(/,'Reliabilities criterion variables',/,3X,6F10.3)");
constexpr CompiledFormat result_heading_format = checked_format("(/,'PROGRAM OUTPUT',/)");
constexpr CompiledFormat corrected_cov_heading_format =
    checked_format("('Range restriction corrected complete',' variance/covariance matrix')");
constexpr CompiledFormat corrected_corr_heading_format =
    checked_format("(/,'Range restriction corrected complete correlation matrix')");
constexpr CompiledFormat disattenuated_heading_format = checked_format(
    "(/,'Range restriction corrected complete correlation',' matrix with',/,"
    "'attenuation correction for unreliability in',' the criterion',' measures')");
constexpr CompiledFormat cpu_time_format = checked_format("(/,'CPU TIME IN SECONDS ',F12.2)");

constexpr int values_per_row_line = 8;

void write_row(TextSink& out, const Matrix& matrix, int row, int order) {
  constexpr std::ptrdiff_t along_row = Matrix::leading_dimension;
  for (int first = 1; first <= order; first += values_per_row_line) {
    int last = first + values_per_row_line - 1 < order ? first + values_per_row_line - 1 : order;
    auto count = static_cast<std::size_t>(last - first + 1);
    const double* values = matrix.data() + Matrix::index(row, first);
    if (first == 1) {  // the row number leads the first line only
      write_formatted_reals(out, row_format, &row, values, count, along_row);
    } else {
      write_formatted_reals(out, row_continuation_format, nullptr, values, count, along_row);
    }
  }
}

}  // namespace

void write_start_stamp(TextSink& out, const DateValues& start) {
  write_formatted(out, start_stamp_format,
                  {start.day, start.month, start.year, start.hour, start.minute, start.second});
}

void write_banner(TextSink& out) {
  write_formatted(out, banner_format);
}
void write_problem_heading(TextSink& out) {
  write_formatted(out, problem_heading_format);
}

void write_counts(TextSink& out, std::int32_t n_nonrestricted, std::int32_t n_total) {
  write_formatted(out, counts_format, {n_nonrestricted, n_total});
}

void write_restricted_heading(TextSink& out) {
  write_formatted(out, restricted_heading_format);
}

void write_nonrestricted_heading(TextSink& out) {
  write_formatted(out, nonrestricted_heading_format);
}

void write_matrix_rows(TextSink& out, const Matrix& matrix, int order) {
  for (int i = 1; i <= order; ++i) write_row(out, matrix, i, order);
}

void write_reliabilities(TextSink& out, const double* reliabilities, int n_nonrestricted,
                         int n_total) {
  FormatItem items[MAX_VARIABLES];
  std::size_t count = 0;
  for (int k = n_nonrestricted + 1; k <= n_total; ++k) items[count++] = reliabilities[k - 1];
  write_formatted(out, reliabilities_format, std::span<const FormatItem>(items, count));
}

void write_result_heading(TextSink& out) {
  write_formatted(out, result_heading_format);
}

void write_corrected_cov_heading(TextSink& out) {
  write_formatted(out, corrected_cov_heading_format);
}

void write_corrected_corr_heading(TextSink& out) {
  write_formatted(out, corrected_corr_heading_format);
}

void write_disattenuated_heading(TextSink& out) {
  write_formatted(out, disattenuated_heading_format);
}

void write_cpu_time(TextSink& out, float seconds) {
  write_formatted(out, cpu_time_format, {seconds});
}

}  // namespace tolbe
