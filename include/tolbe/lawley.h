#pragma once

// tolbe: Lawley's (1943) multivariate correction for range restriction.
//
// Matrices are column-major arrays with a leading dimension `ld` of at least
// max(1, rows); element (i, j), numbered from 0, is at data[i + j * ld].
// Variables are numbered from 0 in the order of the restricted matrix.
//
// The selection variables are those the sample was selected on: their
// unrestricted var/cov matrix S is known. With V the restricted var/cov
// matrix, V11 its selection block, V12 the selection-by-other block, V22 the
// block of the others and W = V11 inverse, the corrected matrix is
//   C11 = S,  C12 = (S W) V12,  C22 = V22 + (V21 W)(C12 - V12).
// In V the correction reads only the upper triangle of V11 (in the order of
// `selection`), V12 (selection rows, other columns) and the whole of V22; in
// S it reads every element. Elements not read are checked for nothing but
// enter the asymmetry diagnostic.
//
// Selection in reverse (from the unrestricted population to a selected one)
// is the same call with the selected group's var/cov block as
// `unrestricted`: the "corrected" matrix is then the predicted restricted
// one.
//
// Nothing here keeps state; every function is reentrant and thread-safe, and
// never prints, exits or throws (except the allocating overload, which may
// throw std::bad_alloc).

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tolbe {

enum class Status {
  ok = 0,
  not_positive_definite = 1,  // V11 is not positive definite: see leading_minor
  invalid_argument = 2,       // see argument and reason
};

// Which argument was invalid.
enum class Argument {
  none = 0,
  q,              // negative
  p,              // negative, or above q
  restricted,     // null, leading dimension too small, or a value read not finite
  unrestricted,   // null, leading dimension too small, or a value not finite
  selection,      // an index out of range or repeated
  reliabilities,  // count not q - p, or a value not finite
  results,        // a result null or its leading dimension too small
  workspace,      // too small
  means,          // a means vector null or a value not finite
  request,        // of intervals: method, level, sizes, resamples or threads
  data,           // raw restricted scores
  pool,           // raw pool scores
};

// The place of the first of several findings, -1 when there is none.
struct Place {
  int row = -1;
  int column = -1;
};

// Which side of the diagonal holds the values of a matrix entered as a
// triangle: the other side is all 0 (or NaN) while this one is not.
enum class Triangle { none = 0, lower = 1, upper = 2 };

// What a call found. The numbers it returns never depend on it.
struct Diagnostics {
  Status status = Status::ok;
  int leading_minor = 0;  // with not_positive_definite: order of the first non-positive minor
  Argument argument = Argument::none;
  const char* reason = "";  // a static text saying why an argument is invalid

  // max |a(i,j) - a(j,i)| / sqrt(|a(i,i) a(j,j)|) over i != j (the absolute
  // difference where a diagonal element is 0): how far the triangle not
  // read is from the one read. Pairs with a value that is not finite (one
  // not read: see unread_not_finite) are left out.
  double restricted_asymmetry = 0.0;
  double unrestricted_asymmetry = 0.0;
  bool restricted_positive_definite = false;    // the whole q x q V, as the correction reads it
  bool unrestricted_positive_definite = false;  // S, upper triangle

  int nonpositive_variances = 0;  // corrected variances <= 0 (or NaN)
  Place first_nonpositive_variance;
  int correlations_out_of_range = 0;  // corrected |r| > 1 (or NaN), i < j
  Place first_correlation_out_of_range;
  int disattenuated_out_of_range = 0;  // disattenuated |r| > 1 (or NaN), i < j
  Place first_disattenuated_out_of_range;
  // The values at the first places of the two above.
  double first_correlation_out_of_range_value = 0.0;
  double first_disattenuated_out_of_range_value = 0.0;
  int reliabilities_out_of_range = 0;       // outside (0, 1]
  int first_reliability_out_of_range = -1;  // a variable index
  // Pairs i < j whose restricted and corrected correlations have opposite
  // signs (Ree, Carretta, Earles and Albert 1994); lawley_sign_changes lists
  // them all.
  int sign_changes = 0;
  Place first_sign_change;

  // The sizes of the problem diagnosed.
  int q = 0;
  int p = 0;

  // Of those, the pairs of two selection variables: their corrected values
  // are the unrestricted matrix's, so the sign changes there are not the
  // correction's doing; and the first pair with another variable.
  int selection_sign_changes = 0;
  Place first_selection_sign_change;
  Place first_other_sign_change;

  // The pair of variables of the largest asymmetry (for V row < column).
  Place restricted_asymmetry_place;
  Place unrestricted_asymmetry_place;
  // A matrix entered as a triangle whose empty side the correction reads
  // (some of it, for V; all of it, for S): it would read zeros.
  Triangle restricted_triangle = Triangle::none;
  Triangle unrestricted_triangle = Triangle::none;
  // Variances <= 0 (or NaN) in the input; a variable index, for S the
  // selection variable of that row.
  int restricted_nonpositive_variances = 0;
  int first_restricted_nonpositive_variance = -1;
  int unrestricted_nonpositive_variances = 0;
  int first_unrestricted_nonpositive_variance = -1;
  // Selection variables whose unrestricted variance is more than
  // variance_ratio_limit times, or less than its inverse, their
  // restricted variance (both positive); the first, and its ratio S/V.
  int implausible_variance_ratios = 0;
  int first_implausible_variance_ratio = -1;
  double first_variance_ratio = 0.0;
  // Selection variables whose unrestricted variance is below their
  // restricted variance (but not implausibly far: those count above): direct
  // selection shrinks a variable's variance. The first, with its
  // unrestricted and restricted variances.
  int grown_variances = 0;
  int first_grown_variance = -1;
  double first_grown_unrestricted = 0.0;
  double first_grown_restricted = 0.0;
  // Every variance within 1e-9 of 1 (a correlation matrix); false when the
  // matrix has no variables.
  bool restricted_unit_diagonal = false;
  bool unrestricted_unit_diagonal = false;
  // Elements of V that the correction does not read and that are not finite.
  int unread_not_finite = 0;
  Place first_unread_not_finite;
};

// A ratio of unrestricted to restricted variance beyond this (or below its
// inverse) means standard deviations five times apart: more than direct
// selection of the top 0.01 % of a normal population gives (a ratio of
// 19; the top 1 % gives 10), and far less than the ratios of mixed-up units
// or orders (100 and more).
inline constexpr double variance_ratio_limit = 25.0;

// The inputs of one correction. `selection` holds p distinct indices in
// 0..q-1, in the order of the rows of `unrestricted`; empty means 0..p-1.
// `reliabilities` is empty or holds the q - p reliabilities of the other
// variables in increasing index order.
struct LawleyProblem {
  int q = 0;
  int p = 0;
  const double* restricted = nullptr;  // q x q
  int ld_restricted = 0;
  const double* unrestricted = nullptr;  // p x p
  int ld_unrestricted = 0;
  std::span<const int> selection;
  std::span<const double> reliabilities;
};

// Where the results go, each q x q in input order. `correlations` may be
// null; `disattenuated` is written only when reliabilities are given, and may
// be null then too.
struct LawleyResults {
  double* covariances = nullptr;
  int ld_covariances = 0;
  double* correlations = nullptr;
  int ld_correlations = 0;
  double* disattenuated = nullptr;
  int ld_disattenuated = 0;
};

// How much workspace a correction of q variables with p selection variables
// needs: `doubles` doubles and `ints` ints. Sizes that overflow give
// SIZE_MAX. Does not allocate.
struct WorkspaceSize {
  std::size_t doubles = 0;
  std::size_t ints = 0;
};
WorkspaceSize lawley_workspace_size(int q, int p);

// Corrects `problem` into `results`, using the given workspace. Checks every
// argument first (and then calls no BLAS routine): on an invalid one returns
// invalid_argument and writes no result. When V11 is not positive definite
// returns not_positive_definite and fills every result with NaN. Otherwise
// returns ok. For selection 0..p-1 the numbers are bit-identical to the
// console program's; for other selections the problem is corrected as if
// permuted to (selection, others) order and the results permuted back.
// `diagnostics`, when not null, receives the status and every finding
// (computed only then). Writes only the results, the workspace and
// `diagnostics`. Does not allocate.
Status lawley(const LawleyProblem& problem, const LawleyResults& results,
              std::span<double> workspace, std::span<int> int_workspace,
              Diagnostics* diagnostics = nullptr);

// The same, allocating its workspace and results: q*q values each, column by
// column with leading dimension q; `disattenuated` is empty without
// reliabilities. On a status other than ok the matrices hold what lawley()
// leaves there (NaN, or nothing when an argument is invalid: then they are
// empty).
struct LawleyCorrection {
  Status status = Status::ok;
  int q = 0;
  std::vector<double> covariances;
  std::vector<double> correlations;
  std::vector<double> disattenuated;
  Diagnostics diagnostics;
};
LawleyCorrection lawley(const LawleyProblem& problem);

// Lists the pairs (row < column) whose restricted correlation (from the
// elements of `restricted` the correction reads) and corrected correlation
// have opposite signs: the first `capacity` of them in column-major order
// into rows[] and columns[]. Returns how many there are in all. Same
// `problem` as for lawley(); `correlations` is its result. Does not allocate.
int lawley_sign_changes(const LawleyProblem& problem, const double* correlations,
                        int ld_correlations, int* rows, int* columns, int capacity);

// The corrected means: the selection variables get `unrestricted_means`
// (p values, in selection order); another variable y gets
//   mu_y + (m_x - mu_x) W V12(:, y),
// with mu = `restricted_means` (q values), m_x = `unrestricted_means`,
// mu_x the restricted means of the selection variables and W = V11 inverse.
// Writes q values to `means`. Needs lawley_workspace_size(q, p) of
// workspace; invalid arguments and a V11 that is not positive definite as
// for lawley() (NaN means then). Does not allocate.
Status lawley_means(const LawleyProblem& problem, std::span<const double> restricted_means,
                    std::span<const double> unrestricted_means, std::span<double> means,
                    std::span<double> workspace, std::span<int> int_workspace,
                    Diagnostics* diagnostics = nullptr);

// cov(i, j) = r(i, j) * sd(i) * sd(j) for the n x n `correlations`; `sd`
// holds n standard deviations. `covariances` may be `correlations` itself
// (same leading dimension). Does not allocate.
void cov_from_correlations(int n, const double* correlations, int ld_correlations, const double* sd,
                           double* covariances, int ld_covariances);

// A short English text for a status: "ok", "selection block not positive
// definite", "invalid argument".
const char* status_text(Status status);

}  // namespace tolbe
