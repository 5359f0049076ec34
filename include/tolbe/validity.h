#pragma once

// tolbe: the validity question on the corrected matrix. For a criterion y
// and predictors X (any variables, selection or not) of the corrected
// var/cov matrix C:
//   b = C_XX^-1 C_Xy (unstandardised weights), beta_j = b_j sd_j / sd_y,
//   R^2 = C_yX b / c_yy, R = sqrt(R^2);
// with the criterion's reliability r_yy in the unrestricted population,
// the operational R (predictors as measured, the criterion made reliable)
// is R / sqrt(r_yy), and so is each predictor's operational validity
// r_xy / sqrt(r_yy). With a base set X1 (the first `base` predictors) the
// increment of adding the rest X2 is Delta R^2 = R^2(X) - R^2(X1) and
// Delta R = R(X) - R(X1).
//
// Each value comes with an SE and an interval by the methods of
// <tolbe/intervals.h>: the delta method (normal or adf) through the
// Jacobian of the correction, or the same bootstrap resamples. By the
// delta methods, intervals of the validities are formed on Fisher's z
// scale (the operational ones from theirs, divided by sqrt(r_yy)); R^2,
// the base set's R^2, Delta R^2 and Delta R on the scale atanh(sqrt(x)),
// cut at 0 there and squared back; R on Fisher's scale cut at 0 (the root
// of R^2's) and the operational R from R's, divided by sqrt(r_yy); b and
// beta are Wald. By the bootstrap the bounded values (R^2 to Delta R) get
// the percentile interval whatever was asked (BCa's bias correction runs
// away near their bound), the others the interval asked for. No bound of
// a value bounded below by 0 is below 0. The reliability is a known
// constant.

#include <cstddef>
#include <span>

#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace tolbe {

// The reliability of a criterion in the unrestricted population from its
// reliability in the restricted sample, the error variance being the same
// in both: r_u = 1 - (1 - r_r) v_yy / c_yy, with v_yy the criterion's
// restricted and c_yy its corrected variance. NaN when a variance is not
// positive or a value not finite.
double unrestricted_reliability(double restricted_reliability, double restricted_variance,
                                double corrected_variance);

// The operational correlations of a q x q correlation matrix (or of its
// SEs or bounds, which scale alike): r_ij / sqrt(a_i a_j) for i != j, with
// a_i the reliability of variable i when it is a criterion and 1 when not.
// Predictors stay as measured; criteria are made reliable, also between
// themselves. The diagonal is copied. `out` may be `corr` (same leading
// dimension). Does not allocate.
void operational_correlations(int q, const double* corr, int ld_corr,
                              const double* criterion_reliabilities, double* out, int ld_out);

// The question: one criterion, its predictors, the base set and the
// criterion's reliability (in the unrestricted population; 1: none).
struct ValidityQuestion {
  int criterion = -1;               // input index
  std::span<const int> predictors;  // input indices, distinct, not the criterion; 1 to 50
  int base = 0;                     // predictors[0..base-1] are X1; 0: no increment
  double criterion_reliability = 1.0;
};

// Where the values go, in this order, each with an estimate, an SE, a
// lower and an upper bound (k = predictors.size()):
//   [0, k)        b, the unstandardised weights
//   [k, 2k)       beta, the standardised weights
//   [2k, 3k)      the corrected validities r_xy of each predictor
//   [3k, 4k)      the operational validities r_xy / sqrt(r_yy)
//   4k            R^2
//   4k + 1        R
//   4k + 2        the operational R, R / sqrt(r_yy)
//   4k + 3        R^2 of the base set (NaN without one)
//   4k + 4        Delta R^2 (NaN without a base set)
//   4k + 5        Delta R (NaN without a base set)
inline std::size_t validity_values(std::size_t k) {
  return 4 * k + 6;
}
// The parts of the values: a per-predictor part (b ... operational) holds k
// values, each of the others one.
enum class ValidityPart : int {
  b = 0,
  beta,
  validity,
  operational_validity,
  r2,
  r,
  operational_r,
  base_r2,
  delta_r2,
  delta_r,
  count
};
// Where a part starts among the values of a question with k predictors.
inline std::size_t validity_offset(std::size_t k, ValidityPart part) {
  auto at = static_cast<std::size_t>(part);
  return at < 4 ? at * k : 4 * k + (at - 4);
}
struct ValidityResults {
  double* estimate = nullptr;  // validity_values(k) each; any may be null
  double* se = nullptr;
  double* lower = nullptr;
  double* upper = nullptr;
};

// The predictors of a question whose predictors are not named: every
// variable but the criterion and the criteria, in index order. The criteria
// (indices in 0..q-1, in any order) are the variables with a reliability
// given or named as criteria: a criterion is never a default predictor.
// Writes them to `out` (room for q) and returns how many there are; -1 when
// q is negative, the criterion or a criterion is out of range, or `out` is
// too short. Does not allocate.
int default_predictors(int q, int criterion, std::span<const int> criteria, std::span<int> out);

// The workspace lawley_validity() needs; zeros for invalid sizes or
// request (see lawley_intervals_workspace_size). Does not allocate.
WorkspaceSize lawley_validity_workspace_size(int q, int p, std::size_t predictors,
                                             const IntervalRequest& request);

// The values of `question` on the correction of `problem`, with SEs and
// intervals by `request` (its method none: estimates only, SE and bounds
// NaN). Checks every argument first, as lawley_intervals() does, and the
// question: the criterion and predictors in 0..q-1, distinct, the
// criterion not among them, base in 0..k-1, the reliability in (0, 1].
// When C_XX (or C of the base set) is not positive definite, returns
// not_positive_definite with NaN values. `summary` as for
// lawley_intervals(). Does not allocate (threads aside).
Status lawley_validity(const LawleyProblem& problem, const IntervalRequest& request,
                       const ValidityQuestion& question, const ValidityResults& results,
                       std::span<double> workspace, std::span<int> int_workspace,
                       IntervalSummary* summary = nullptr);

}  // namespace tolbe
