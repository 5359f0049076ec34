#pragma once

// The checks of what lawley_intervals() and lawley_validity() are given
// beyond the problem (api/problem.h checks that): the request, where the
// results go and the validity question, and the refusal written to the
// summary.

#include "api/problem.h"
#include "tolbe/intervals.h"
#include "tolbe/validity.h"

namespace tolbe::api {

// The request on its own and with the problem's sizes: method, level,
// sample sizes, the bootstrap's options and the shape of any raw scores.
// Not their rows, which the driver counts once.
Invalid check_request(int q, int p, const IntervalRequest& r);

// The leading dimensions of the results given.
Invalid check_interval_results(int q, int p, const IntervalResults& r);

// The validity question: criterion, predictors, base set, reliability.
Invalid check_question(int q, const ValidityQuestion& question);

// Writes `invalid` to `summary` (when not null) and returns
// invalid_argument.
Status report_invalid(const Invalid& invalid, IntervalSummary* summary);

}  // namespace tolbe::api
