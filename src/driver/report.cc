#include "driver/report.h"

#include "io/format_writer.h"

namespace tolbe {
namespace {

constexpr const char* start_stamp_format =
    "('Program execution starts on ',I2,'/',I2,'/',I4,' at',I3,':',I2,':',I2)";
constexpr const char* banner_format =
    "(/,25X,'+++++++++++',/,25X,'+  TOLBE  +',/,25X,'+++++++++++',//,"
    "'Multivariate range restriction correction using the Lawley',/,"
    "'(1943) correction formulae.',//,"
    "'At present, the program is limited to a total of 50',/,'variables.')";
constexpr const char* problem_heading_format = "(/,'PROBLEM SPECIFICATION',/)";
constexpr const char* counts_format =
    "('Number of non-restricted variables:',I3,/,'Total number of variables:',I3)";
constexpr const char* restricted_heading_format = "(/,'Complete range restricted var/cov matrix')";
constexpr const char* row_format = "(I3,8F9.4)";
constexpr const char* row_continuation_format = "(3X,8F9.4)";
constexpr const char* nonrestricted_heading_format =
    "(/,'Var/cov matrix of the non-restricted variables')";
constexpr const char* reliabilities_format = "(/,'Reliabilities criterion variables',/,3X,6F10.3)";
constexpr const char* result_heading_format = "(/,'PROGRAM OUTPUT',/)";
constexpr const char* corrected_cov_heading_format =
    "('Range restriction corrected complete',' variance/covariance matrix')";
constexpr const char* corrected_corr_heading_format =
    "(/,'Range restriction corrected complete correlation matrix')";
constexpr const char* disattenuated_heading_format =
    "(/,'Range restriction corrected complete correlation',' matrix with',/,"
    "'attenuation correction for unreliability in',' the criterion',' measures')";
constexpr const char* cpu_time_format = "(/,'CPU TIME IN SECONDS ',F12.2)";

constexpr int values_per_row_line = 8;

void write_row(TextSink& out, const Matrix& matrix, int row, int order) {
  FormatItem items[values_per_row_line + 1];
  items[0] = FormatItem(row);
  for (int first = 1; first <= order; first += values_per_row_line) {
    int count = 0;
    if (first == 1) ++count;  // the row number leads the first line only
    for (int j = first; j <= order && j < first + values_per_row_line; ++j) {
      items[count++] = FormatItem(matrix(row, j));
    }
    write_formatted(out, first == 1 ? row_format : row_continuation_format,
                    std::span<const FormatItem>(items, static_cast<std::size_t>(count)));
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
