#pragma once

// Raw scores as the intervals use them: their checks, their complete rows
// (a row with a missing score, NaN, is left out), the means and var/cov
// matrix of those rows, and the rows centred. covariance_from_data() and
// the intervals' driver summarise alike, so that a matrix the caller forms
// from the scores gives the driver's numbers.

#include "api/problem.h"
#include "correction/lawley.h"
#include "tolbe/intervals.h"

namespace tolbe::intervals {

// Whether raw scores were given: any field set.
bool has_scores(const RawScores& r);

// Checks the shape of `r`, which must have `columns` columns (the pool's
// are the p selection variables, the data's all q).
api::Invalid check_scores(const RawScores& r, int columns, Argument which);

// Counts the complete rows into `complete` (also when too few, to say so)
// and refuses an infinite score or fewer than `minimum` complete rows.
api::Invalid check_rows(const RawScores& r, Argument which, int minimum, int& complete);

// Means and var/cov matrix (divisor complete - 1) of the `complete` rows of
// `r` (at least two).
void summarise(const RawScores& r, int complete, double* means, View cov);

// Whether every element of the n x n `a` is finite.
bool all_finite(int n, ConstView a);

// The refusal of scores whose var/cov matrix overflows.
api::Invalid overflow(Argument which);

// The complete rows less the means, row-major (rows x columns) or
// column-major (ld = complete).
void centre(const RawScores& r, const double* means, bool row_major, int complete, double* out);

}  // namespace tolbe::intervals
