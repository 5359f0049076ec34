#pragma once

// What a correction finds in its problem and its results: the numbers
// behind the findings. Not part of the public API.

#include "api/problem.h"

namespace tolbe::api {

// The corrected correlation of (i, j): from the result when there is one,
// else from the covariances by the same expression.
struct Correlation {
  ConstView corr;
  ConstView cov;
  double operator()(int i, int j) const;
};

// The one definition of a sign change, for the diagnostics and the list
// alike: the restricted correlation is the element read over
// sqrt(|v_ii|) sqrt(|v_jj|), so that a negative restricted variance leaves
// its sign readable rather than making it NaN.
bool sign_changed(double element, double root_i, double root_j, double corrected);

// Fills `d` (whose status and leading minor are set) from a checked problem
// and, when d.status is ok, its results. Uses the diagnostic parts of the
// workspace `c`. Does not allocate.
void diagnose(const LawleyProblem& pr, const LawleyResults& res, const Order& o, const Carved& c,
              const Correlation& correlations, Diagnostics& d);

}  // namespace tolbe::api
