#pragma once

// tolbe: a fit, the whole of one correction as every client makes it.
//
// A client reads its matrices or raw scores, resolves its call
// (<tolbe/request.h>) and hands both to fit(). The library then does what
// each client used to do on its own: the var/cov matrices of raw scores
// and the rows they leave out, a triangle mirrored, the unrestricted
// matrix put in selection order, the correction and its findings, the
// screening of the scores, the reliabilities measured in the restricted
// sample converted, the operational correlations, the corrected means,
// the intervals, and what there is to say about all of it, worded with
// the client's spelling. Clients translate the result into their own
// objects; they decide nothing.
//
// fit() allocates; it never prints, exits or throws except std::bad_alloc.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tolbe/findings.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/request.h"

namespace tolbe {

// What a fit is made from, as the client read it. One of `restricted` and
// `data` is given, and one of `unrestricted` and `pool`.
struct FitSources {
  // V: q x q, column-major; null with raw scores.
  const double* restricted = nullptr;
  int ld_restricted = 0;
  // S: the call's p x p matrix with its rows as given (the fit puts them
  // in selection order); null with a pool.
  const double* unrestricted = nullptr;
  int ld_unrestricted = 0;
  // The restricted sample's raw scores (q columns, NaN where missing), or
  // data null: none.
  RawScores data;
  // The pool's scores of the selection variables, in selection order (the
  // resolved call's unrestricted_rows picked them), or data null: none.
  RawScores pool;
  // 'l' or 'u': the matrices were entered as that triangle and are
  // mirrored before anything else; 0: whole matrices.
  char triangle = 0;
  // Keep the findings and say the notes and warnings; errors are said
  // whatever this says.
  bool diagnostics = true;
  // The bootstrap's seed when the call gave none (the client draws it from
  // its own generator, so that its users can repeat a call their way).
  std::uint64_t seed = 0;
};

// Something a fit has to say: a finding of the correction or of the
// screening, a note of the fit itself ("rows_dropped", "pool_rows_dropped",
// "reliabilities_defaulted", "failed_resamples", "percentile_fallbacks"),
// or, with severity error, why there are no results (a finding that is an
// error, or a refusal, whose `argument` is set).
struct FitMessage {
  std::string code;
  Severity severity = Severity::note;
  CallArgument argument = CallArgument::none;
  std::string message;
  std::vector<int> variables;  // from 0
  int row = -1;                // a row of raw scores, from 0; -1: none
};

// The matrices of a fit, in the order clients list them.
enum class FitMatrix : int { cov = 0, cor, disattenuated, operational, count };
inline constexpr int fit_matrix_count = static_cast<int>(FitMatrix::count);

// The interval request of resolved options: raw scores (`data`, `pool`;
// data null: none) stand in for n and n_unrestricted, and `seed` is the
// bootstrap's when the options give none.
IntervalRequest interval_request(const IntervalOptions& options, std::uint64_t seed,
                                 const RawScores& data, const RawScores& pool);

// How intervals were computed, in one line: "95 % intervals: bootstrap,
// BCa (B = 2000, seed 7); n = 997 (3 rows with NA left out); unrestricted
// matrix known" (the missing value as `spelling` writes it). Rows left out
// are said for raw scores only: `with_data`, `with_pool`.
std::string interval_description(const IntervalSummary& summary, std::uint64_t seed,
                                 const Spelling& spelling, bool with_data, bool with_pool);

struct FitIntervals {
  // q x q each, by FitMatrix; empty for the disattenuated correlations
  // without reliabilities.
  std::vector<double> se[fit_matrix_count];
  std::vector<double> lower[fit_matrix_count];
  std::vector<double> upper[fit_matrix_count];
  IntervalSummary summary;  // summary.reason is empty
  std::uint64_t seed = 0;   // the bootstrap's
  std::string description;  // interval_description()
};

struct Fit {
  int q = 0;
  int p = 0;
  // V and S as corrected: V mirrored or from the data; S in selection
  // order (from the pool: its var/cov matrix).
  std::vector<double> restricted;
  std::vector<double> unrestricted;
  // q x q each, column-major, by FitMatrix; empty when the fit is refused,
  // and the disattenuated correlations without reliabilities.
  std::vector<double> matrices[fit_matrix_count];
  std::vector<double> means;  // q corrected means, or empty
  // With reliabilities: each variable's as used (reliabilities_by_variable(),
  // NaN where none was given) and whether it was measured in the restricted
  // sample (then converted); empty without.
  std::vector<double> reliabilities;
  std::vector<char> measured_restricted;
  // Each variable's reliability as the operational correlations divide by
  // it: a criterion's own, 1 for every other variable.
  std::vector<double> criterion_reliability;
  // The complete rows of the data and of the pool, and those left out.
  int rows_used = 0;
  int rows_dropped = 0;
  int pool_rows_used = 0;
  int pool_rows_dropped = 0;
  bool with_intervals = false;
  FitIntervals intervals;
  // What the correction found, with diagnostics: its counts and first
  // places, and, where it counts some, every pair (row < column, from 0,
  // column-major) whose correlation changed sign and every place of V
  // that is not finite (all of them where the correction does not read).
  // Where such a place makes the library's asymmetry of V not a number,
  // diagnostics.restricted_asymmetry is that of the finite pairs.
  bool diagnosed = false;
  Diagnostics diagnostics;
  std::vector<Place> sign_change_pairs;
  std::vector<Place> not_finite_places;
  // The errors that refuse the fit (then nothing else is set), or with
  // diagnostics the fit's notes, then the findings.
  std::vector<FitMessage> said;
  bool refused() const { return !said.empty() && said.front().severity == Severity::error; }
};

// The fit of `resolved` (resolve_call() of `call`, which it updates with
// the converted reliabilities) on `sources`. Refusals and errors land in
// Fit::said; nothing is thrown but std::bad_alloc.
Fit fit(const Call& call, ResolvedCall& resolved, const FitSources& sources);

// "cov", "cor", "disattenuated", "operational".
const char* fit_matrix_name(FitMatrix matrix);

// What a fit keeps for the validity questions asked of it later: V and S
// as corrected (S in selection order; either ignored when the request
// holds the raw scores it came from), the selection, each variable's
// reliability (q values, NaN where none was given; empty: none given at
// all), and the fit's intervals (method none: estimates only).
struct FitAsked {
  int q = 0;
  int p = 0;
  const double* restricted = nullptr;
  int ld_restricted = 0;
  const double* unrestricted = nullptr;
  int ld_unrestricted = 0;
  std::span<const int> selection;
  std::span<const double> reliabilities;
  IntervalRequest intervals;
};

// The answer to a validity question: the question resolved, and its
// values (validity_values(k) each, in the library's layout, with the
// intervals' summary), or why there are none.
struct ValidityAnswer {
  std::optional<Refusal> refusal;
  ResolvedQuestion question;
  std::vector<double> estimate, se, lower, upper;
  IntervalSummary summary;  // summary.reason is empty
  std::string note;         // validity_interval_note(), or empty
};

// Below this many restricted rows the delta methods' intervals of R^2, R
// and the operational R fall short of their level (doc/coverage.md).
inline constexpr int delta_intervals_trusted_from = 250;

// What the validity question's intervals of `summary` are worth, when that
// needs saying: with a delta method (normal or adf) and n below
// delta_intervals_trusted_from, that R^2, R and the operational R cover
// less than their level there, and how to ask for the percentile bootstrap
// (spelled as `spelling` writes arguments); empty otherwise.
std::string validity_interval_note(const IntervalSummary& summary, const Spelling& spelling);

// Asks `question` of the fit `fit`: resolves it (resolve_question()), then
// computes the regression of the criterion on the predictors (or the
// increment of the added ones over the base set) with the fit's own
// intervals, the criterion's reliability its own where one was given, else
// 1. Refuses a question whose predictors' corrected var/cov matrix is not
// positive definite, and a workspace beyond the library's bound.
ValidityAnswer ask(const QuestionCall& question, const FitAsked& fit);

}  // namespace tolbe
