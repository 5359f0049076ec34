#pragma once

// tolbe: standard errors and confidence intervals for the corrected
// covariances, the corrected correlations and the disattenuated
// correlations, and var/cov matrices from raw scores.
//
// Three methods give one result shape:
//  - normal: the delta method from the matrices and the restricted sample
//    size n, with the normal-theory covariance of the sample covariances,
//    cov(v_ij, v_kl) = (v_ik v_jl + v_il v_jk) / (n - 1). The unrestricted
//    matrix S is known, or (given its sample size N) estimated from an
//    independent sample, which adds a term of the same form. A selected
//    sample is not normal (it is truncated on the selection variables), so
//    this is an approximation.
//  - adf: the same Jacobian with the distribution-free fourth-moment
//    covariance of the sample covariances estimated from raw scores
//    (Browne 1984), for V and, given raw pool scores, for S.
//  - bootstrap: the rows of the raw restricted scores (and of the raw pool
//    scores, when given) resampled B times; percentile or BCa intervals,
//    the BCa acceleration from the jackknife.
// Correlation intervals of the delta methods are formed on Fisher's z
// scale and transformed back; covariance intervals are Wald intervals. The
// reliabilities are known constants: a disattenuated correlation's SE and
// bounds are its corrected correlation's divided by sqrt(r_ii r_jj). A
// selection variable's corrected variances and covariances are S's: with S
// known their SE is 0 and their interval the point.
//
// Raw scores are column-major: one row per person, one column per variable,
// leading dimension ld >= max(1, rows). A row holding a NaN is missing and
// left out (listwise); an infinite score is an invalid argument.
//
// Every function is reentrant and thread-safe, keeps no state, never prints,
// exits or throws, and checks every argument before it computes. None
// allocates, except that a bootstrap on more than one thread starts its
// threads (the C++ run-time allocates their stacks).

#include <cstddef>
#include <cstdint>
#include <span>

#include "tolbe/lawley.h"

namespace tolbe {

enum class IntervalMethod { none = 0, normal = 1, adf = 2, bootstrap = 3 };
enum class BootstrapInterval { bca = 0, percentile = 1 };

// Raw scores, rows x columns.
struct RawScores {
  int rows = 0;
  int columns = 0;
  const double* data = nullptr;
  int ld = 0;
};

// What covariance_from_data() did; with too few complete rows, also how
// many there were.
struct DataSummary {
  Status status = Status::ok;  // ok or invalid_argument
  Argument argument = Argument::none;
  const char* reason = "";
  int rows_used = 0;     // complete rows
  int rows_dropped = 0;  // rows with a missing (NaN) score
};

// The means (columns values) and the var/cov matrix (columns x
// columns, divisor rows_used - 1) of the complete rows of `scores`. Needs at
// least two complete rows and no infinite score; otherwise returns
// invalid_argument (argument `data`) and writes nothing. Scores so large
// that a variance overflows are invalid too, found once written. Does not
// allocate.
DataSummary covariance_from_data(const RawScores& scores, double* means, double* covariances,
                                 int ld_covariances);

// How to compute the intervals.
struct IntervalRequest {
  IntervalMethod method = IntervalMethod::normal;
  double level = 0.95;  // in (0, 1)

  // normal on matrices: the restricted sample size, at least 2; ignored
  // with raw scores, whose complete rows count.
  int n = 0;
  // The unrestricted sample size: 0, S is known; otherwise (at least 2) S
  // was estimated from an independent sample of that size. Must be 0 with
  // raw pool scores, whose complete rows count.
  int n_unrestricted = 0;

  // Raw restricted scores (q columns, in variable order): required by adf
  // and bootstrap, allowed with normal. With them the problem's
  // `restricted` must be null: V is their var/cov matrix.
  RawScores data;
  // Raw pool scores of the selection variables (p columns, in selection
  // order), optional with raw restricted scores. With them the problem's
  // `unrestricted` must be null: S is their var/cov matrix.
  RawScores pool;

  // bootstrap only.
  int resamples = 2000;    // B, bootstrap_min_resamples to bootstrap_max_resamples
  std::uint64_t seed = 0;  // the same seed gives the same numbers on any number of threads
  int threads = 0;         // at most this many threads; 0: as many as the machine has
  BootstrapInterval interval = BootstrapInterval::bca;
};

inline constexpr int bootstrap_min_resamples = 10;
inline constexpr int bootstrap_max_resamples = 1000000;
// The bootstrap and adf need at least this many complete rows in each
// sample (the jackknife divides by rows - 2; two rows give adf a
// fourth-moment matrix of zeros).
inline constexpr int bootstrap_min_rows = 3;

// Where the results go: for each of the three corrected matrices a q x q
// SE, lower bound and upper bound in input order, each with its leading
// dimension (at least max(1, q)); any pointer may be null. `disattenuated`
// is written only with reliabilities.
struct IntervalMatrices {
  double* se = nullptr;
  double* lower = nullptr;
  double* upper = nullptr;
  int ld = 0;
};
struct IntervalResults {
  IntervalMatrices covariances;
  IntervalMatrices correlations;
  IntervalMatrices disattenuated;
  // The V and S the intervals belong to (q x q and p x p; may be null):
  // with raw scores, their var/cov matrices.
  double* restricted = nullptr;
  int ld_restricted = 0;
  double* unrestricted = nullptr;
  int ld_unrestricted = 0;
};

// What a call of lawley_intervals() did.
struct IntervalSummary {
  Status status = Status::ok;
  Argument argument = Argument::none;  // with invalid_argument
  const char* reason = "";
  int leading_minor = 0;  // with not_positive_definite
  IntervalMethod method = IntervalMethod::none;
  BootstrapInterval interval = BootstrapInterval::bca;
  double level = 0.0;
  int n = 0;               // restricted sample size used
  int n_unrestricted = 0;  // 0: S known
  int rows_dropped = 0;    // raw restricted rows with a missing score
  int pool_rows_dropped = 0;
  int resamples = 0;  // B asked for
  // Resamples left out: V11 not positive definite. A value that is not
  // finite in a resample (a corrected variance <= 0, a variable that does
  // not vary in it) leaves that resample out for that value only.
  int failed_resamples = 0;
  // Values whose BCa interval is not defined (every resample on one side of
  // the estimate, or levels folded over by a large acceleration): they get
  // the percentile interval.
  int percentile_fallbacks = 0;
  int threads = 0;  // threads used
};

// The most memory the workspace of the intervals or of the validity
// question may take: a bootstrap keeps every value of every resample (q * q
// * B doubles: 40 MB for 50 variables and 2000 resamples), so a large B on
// many variables would take more than a machine has.
inline constexpr std::size_t max_workspace_bytes = std::size_t{1} << 30;

// The bytes of a workspace of `need`; SIZE_MAX when that overflows.
std::size_t workspace_bytes(const WorkspaceSize& need);

// 0 when a workspace of `need` is within max_workspace_bytes. Otherwise
// writes, as snprintf does, the refusal "WHAT would need about N MiB of
// memory, more than the 1024 MiB tolbe allows itself; use fewer resamples"
// (or "more memory than there is") and returns its whole length. Does not
// allocate.
std::size_t workspace_refusal(const char* what, const WorkspaceSize& need, char* buffer,
                              std::size_t size);

// The workspace lawley_intervals() needs for `request` on a problem of q
// variables, p selected: `doubles` doubles and `ints` ints (SIZE_MAX when
// the size overflows; zeros when q, p or a size in the request is invalid).
// Does not allocate.
WorkspaceSize lawley_intervals_workspace_size(int q, int p, const IntervalRequest& request);

// Standard errors and intervals for the correction of `problem` (see
// lawley()), by `request.method` (none is an invalid argument). Checks
// every argument first and on an invalid one returns invalid_argument and
// writes nothing but `summary`. When V11 (as given, or from the raw scores)
// is not positive definite returns not_positive_definite and fills every
// result with NaN. Otherwise returns ok; a value whose corrected
// correlation is not inside (-1, 1) gets NaN bounds on the correlation
// scale. Writes only the results, the workspace and `summary` (may be
// null). Does not allocate (see above for threads).
Status lawley_intervals(const LawleyProblem& problem, const IntervalRequest& request,
                        const IntervalResults& results, std::span<double> workspace,
                        std::span<int> int_workspace, IntervalSummary* summary = nullptr);

// The standard normal quantile function, Phi^-1(u) for u in (0, 1);
// -infinity at 0, +infinity at 1, NaN outside.
double normal_quantile(double u);

// "none", "normal", "adf", "bootstrap"; "bca", "percentile".
const char* interval_method_name(IntervalMethod method);
const char* bootstrap_interval_name(BootstrapInterval interval);

}  // namespace tolbe
