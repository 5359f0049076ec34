#pragma once

#include <cstdint>

#include "driver/clock.h"
#include "io/text_sink.h"
#include "program_support.h"

namespace tolbe {

// The blocks of the report, each one or more whole lines on `out`.

void write_start_stamp(TextSink& out, const DateValues& start);
void write_banner(TextSink& out);
void write_problem_heading(TextSink& out);
void write_counts(TextSink& out, std::int32_t n_nonrestricted, std::int32_t n_total);
void write_restricted_heading(TextSink& out);
void write_nonrestricted_heading(TextSink& out);
// Rows 1..order of `matrix`: the row number and 8 values on the first line,
// then 3 blanks and up to 8 values on each further line. order <= 50.
void write_matrix_rows(TextSink& out, const Matrix& matrix, int order);
// Reliabilities of variables n_nonrestricted + 1..n_total, six to a line,
// the heading again before each further line. Both counts in 0..50.
void write_reliabilities(TextSink& out, const double* reliabilities, int n_nonrestricted,
                         int n_total);
void write_result_heading(TextSink& out);
void write_corrected_cov_heading(TextSink& out);
void write_corrected_corr_heading(TextSink& out);
void write_disattenuated_heading(TextSink& out);
void write_cpu_time(TextSink& out, float seconds);

}  // namespace tolbe
