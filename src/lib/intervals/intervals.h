#pragma once

// The intervals' internal interface: the Jacobian of the correction, the
// delta-method variances and the bootstrap. Not installed; the entry point
// lawley_intervals() (<tolbe/intervals.h>) checks the arguments and carves
// the workspace, and the tests reach the Jacobian here.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "correction/lawley.h"
#include "tolbe/intervals.h"

namespace tolbe::intervals {

// The corrected problem in the permuted order (selection variables first,
// positions 0..p-1): what the Jacobian needs from one correction.
struct Corrected {
  int q;
  int p;
  const int* order;          // input index of each position
  ConstView v;               // q x q, symmetric, positions (from the elements read)
  ConstView s;               // p x p, symmetric, positions
  ConstView c;               // q x q corrected var/cov, positions
  ConstView weights;         // B = W V12, p x (q - p)
  ConstView scaled_inverse;  // T = S W, p x p
  ConstView projected;       // F = W C12, p x (q - p)
};

// The gradient of one scalar function of the corrected matrix with respect
// to the distinct elements of V (pairs k <= l of positions) and of S,
// accumulated sparsely: only the pairs a correction element depends on are
// touched, and listed.
struct Gradient {
  int q;
  int p;
  double* of_v;   // q x q, ld q, upper triangle used
  double* of_s;   // p x p, ld max(1, p)
  int* v_marked;  // q x q flags
  int* s_marked;  // p x p flags
  int* v_pairs;   // the touched pairs, k + l q
  int v_count;
  int* s_pairs;
  int s_count;

  void add_v(int k, int l, double x);
  void add_s(int k, int l, double x);
  // Clears what was touched.
  void clear();
};

// Adds alpha times the gradient of the corrected covariance of positions
// x and y to `g`.
void add_covariance_gradient(const Corrected& m, int x, int y, double alpha, Gradient& g);

// Adds the gradient of the corrected correlation of positions x != y.
void add_correlation_gradient(const Corrected& m, int x, int y, Gradient& g);

// How the sample covariances vary: normal theory from a symmetric matrix
// and its sample size, or the fourth moments of centred raw scores
// (column-major, rows x the matrix's order, columns by position through
// `order`, or directly when `order` is null).
struct Sampling {
  bool known = true;  // no sampling error
  bool raw = false;
  ConstView sigma{nullptr, 1};  // normal theory
  int n = 0;
  const double* centred = nullptr;  // raw
  int ld_centred = 0;
  const int* order = nullptr;
  double* projection = nullptr;  // rows values of scratch
};

// The variance of g'theta for the touched pairs of V (`v_side` true) or S.
double gradient_variance(const Gradient& g, bool v_side, const Sampling& sampling);

// Standard normal distribution function.
double normal_cdf(double x);

// The alpha quantile of the sorted values t[0..count-1] with interpolation
// on the normal scale between order statistics (Davison and Hinkley 1997,
// eq. 5.8); the extreme values beyond them.
double interpolated_quantile(const double* sorted, int count, double alpha);

// More values of each resample, computed from its corrected var/cov
// matrix (input order) after the matrices': `count` of them into `out`,
// with `scratch` doubles of scratch; false when they cannot be computed
// (the resample fails).
struct ExtraValues {
  int count = 0;
  std::size_t scratch = 0;
  bool (*compute)(const void* context, ConstView cov, double* out, double* scratch) = nullptr;
  const void* context = nullptr;
  // The extra values from this one on are bounded below by 0 (R^2 and its
  // kin): their interval is the percentile one, whatever was asked. BCa's
  // bias correction runs away where such a value's resamples pile up near
  // its bound.
  int percentile_from = 0;
};

// The bootstrap.
struct BootstrapInput {
  int q;
  int p;
  const int* order;       // positions to input indices
  const double* centred;  // restricted scores, row-major, rows x q, centred
  int rows;
  const double* pool_centred;  // pool scores, row-major, pool_rows x p, centred; null: S known
  int pool_rows;
  ConstView restricted;     // V, input order
  ConstView unrestricted;   // S, selection order
  const double* estimates;  // the values of the full samples, values_per_resample and extra
  int resamples;
  std::uint64_t seed;
  int threads;
  ExtraValues extra;
};

// Values kept of each resample: the covariances i <= j and the
// correlations i < j, input order.
inline std::size_t values_per_resample(int q) {
  return static_cast<std::size_t>(q) * static_cast<std::size_t>(q);
}
std::size_t covariance_slot(int i, int j);          // i <= j
std::size_t correlation_slot(int q, int i, int j);  // i < j

// The most threads a bootstrap uses, and how many it uses when allowed
// `threads` (at least 1).
inline constexpr int max_lanes = 64;
int bootstrap_lanes(int threads, int resamples);

// Workspace of the bootstrap beyond the shared part.
std::size_t bootstrap_doubles(int q, int p, int rows, int pool_rows, int resamples, int threads,
                              const ExtraValues& extra);
std::size_t bootstrap_ints(int q, int resamples);

// Fills, for each value, se[v], lower[v], upper[v] (values_per_resample of
// each, then the extra values). Returns the number of failed resamples; *percentile_fallbacks
// counts the values whose BCa interval is not defined (percentile instead),
// not those that get the percentile interval by extra.percentile_from.
int bootstrap(const BootstrapInput& in, BootstrapInterval interval, double level, double* se,
              double* lower, double* upper, double* workspace, int* int_workspace,
              int* percentile_fallbacks);

// For the tests: the BCa acceleration of every value, as bootstrap()
// computes it. Allocates.
void jackknife_accelerations(const BootstrapInput& in, std::vector<double>& acceleration);

// For the tests: the same from a problem with raw scores (the problem's
// `restricted`, and with pool scores its `unrestricted`, null); false for
// a problem lawley_intervals() would reject. Allocates.
bool bootstrap_accelerations(const LawleyProblem& problem, const RawScores& data,
                             const RawScores* pool, std::vector<double>& acceleration);

// The estimates of one correction in the slots of values_per_resample():
// returns false when V11 is not positive definite or a value is not finite.
bool correct_into_slots(int q, int p, const int* order, ConstView restricted,
                        ConstView unrestricted, const LawleyBlocks& blocks, View cov, View corr,
                        double* slots);

// For the tests: the gradient of the corrected covariance (or, with
// `correlation`, correlation; i != j then) of variables i and j (input
// indices) with respect to the distinct elements of V and S: of_v[a + b q]
// = of_v[b + a q] is the derivative by v_ab = v_ba, of_s likewise for S (p
// x p, selection order). False for a problem lawley() would not correct.
// Allocates.
bool correction_gradient(const LawleyProblem& problem, int i, int j, bool correlation,
                         std::vector<double>& of_v, std::vector<double>& of_s);

}  // namespace tolbe::intervals
