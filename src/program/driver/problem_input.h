#pragma once

#include "driver/problem.h"
#include "io/list_reader.h"

namespace tolbe {

// The read statements of a problem, each true unless the reader failed.
// The counts must lie in 0..50 before the matrices are read.

// One statement: n_nonrestricted, n_total, reliability_flag.
bool read_counts(ListReader& reader, Problem& problem);
// One statement per row i = 1..n_total, holding elements (i, 1..n_total).
bool read_restricted_cov(ListReader& reader, Problem& problem);
// One statement per row i = 1..n_nonrestricted.
bool read_nonrestricted_cov(ListReader& reader, Problem& problem);
// One statement (even with no items) for the reliabilities of variables
// n_nonrestricted + 1..n_total; then variables 1..n_nonrestricted get 1.0.
bool read_reliabilities(ListReader& reader, Problem& problem);

}  // namespace tolbe
