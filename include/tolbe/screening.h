#pragma once

// tolbe: what raw scores, or a sample size, say before they are trusted.
// A correction of a study that is too small, that holds a missing-value
// code such as -99 as a score, or whose pool is not all the applicants
// gives numbers that look as right as any; these checks say so in the
// words of <tolbe/findings.h>, so that every client shows the same.
//
// The checks:
//  - too few rows (an error): no more complete rows than variables, so
//    that the restricted var/cov matrix is singular and every result
//    meaningless;
//  - a small sample (a warning): fewer than min_rows_per_variable complete
//    rows (or a given n) per variable, where the coverage study shows
//    intervals covering well below their level;
//  - suspicious values (warnings): a value that looks like a missing-value
//    code (-9, -99, 999, 9999, and the like: see is_missing_code) lying more
//    than code_distance robust standard deviations from its column's median,
//    and any other value more than outlier_distance of them away. The
//    robust standard deviation is 1.4826 times the median absolute
//    deviation (the standard deviation for normal scores), or, where more
//    than half the values are equal, 1.2533 times the mean absolute
//    deviation from the median; a column that does not vary is not
//    checked. Of normal scores, one in 1.7 million lies 5 robust standard
//    deviations out and practically none 10; even scores as skewed as an
//    exponential variable's pass 10 about once in 2,500;
//  - heavy tails (a warning): a variable that is not a selection variable
//    whose excess kurtosis in the restricted sample passes
//    heavy_tail_kurtosis, its codes and outlying values (said on their own)
//    left out, in a sample of at least heavy_tail_min_rows and fewer than
//    heavy_tail_rows complete rows. Every method's intervals rest on the
//    fourth moments, which such a sample estimates poorly: in the coverage
//    study, a criterion with a chi-square error (excess kurtosis about 7)
//    left every method's 95 % intervals covering 89 to 93 % at 250 rows,
//    and 93 % or more only at 1,000. Of normal scores, 50 rows pass an
//    excess kurtosis of 3 in about 2 samples of 1,000, 100 rows in 3 of
//    10,000 and 250 rows in 1 of 100,000; the
//    selection variables, truncated by the selection, are not checked;
//  - a pool that is not all the applicants (warnings): the selected rows'
//    selection scores should occur among the pool's, the selected being
//    applicants. When none of them occurs there, the pool is likely the
//    rejected applicants only (or an independent sample, or rounded
//    otherwise); when every one occurs at least twice as often in the pool
//    as among the selected, while the selected's scores seldom repeat, the
//    selected were likely appended to a pool that held them already. Scores
//    are matched exactly, on the selection variables only: the check cannot
//    tell a selected person from an applicant with the same scores, and
//    with coarse scores (few distinct values) it cannot see the doubling.

#include <span>

#include "tolbe/findings.h"
#include "tolbe/intervals.h"

namespace tolbe {

inline constexpr int min_rows_per_variable = 10;
inline constexpr double code_distance = 5.0;
inline constexpr double outlier_distance = 10.0;
inline constexpr double heavy_tail_kurtosis = 3.0;
inline constexpr int heavy_tail_min_rows = 50;
inline constexpr int heavy_tail_rows = 1000;

// Whether x is one of the usual missing-value codes: a whole number of
// nines or of eights (9, 99, ..., 999999; 8, 88, ..., 888888), either sign.
bool is_missing_code(double x);

// The suspicious values of one set of scores: the first in row order
// (then column order) of each kind, and how many there are.
struct SuspectValues {
  int codes = 0;
  int first_code_row = -1;
  int first_code_variable = -1;
  double first_code = 0.0;
  double first_code_distance = 0.0;  // in robust standard deviations
  int outlying = 0;
  int outlying_row = -1;
  int outlying_variable = -1;
  double outlying_value = 0.0;
  double outlying_distance = 0.0;
};

// What the screening found.
struct Screening {
  int q = 0;
  int rows = 0;  // complete rows of the data, or the given n; 0: unknown
  SuspectValues data;
  SuspectValues pool;
  // The data's variables with heavy tails (see above), and the one with the
  // largest excess kurtosis.
  int heavy_tailed = 0;
  int heaviest_variable = -1;
  double heaviest_kurtosis = 0.0;
  // With raw data and a raw pool: the complete rows of the data, how many
  // of them have their selection scores among the pool's, and how many
  // occur there at least twice as often as in the data; whether the data's
  // selection scores seldom repeat (fewer than one row in ten shares them),
  // so that a doubling can be seen.
  int selected_rows = 0;
  int selected_in_pool = 0;
  int selected_doubled = 0;
  bool pool_fine_grained = false;
};

// Screens raw restricted scores `data` (q columns, variable order; rows
// with a NaN are missing and left out, as everywhere) and, when
// pool.rows > 0, raw pool scores `pool` (p columns, in the order of
// `selection`, whose p indices are the selection variables; empty: 0..p-1).
// Rows and variables in the result are numbered from 0 as in the input.
// Arguments that do not fit (a null or short matrix, an index out of
// range) give a screening of the sizes alone: the correction's own checks
// refuse them. Allocates a copy of one column and the pool's tuples; may
// throw std::bad_alloc.
Screening screen_scores(const RawScores& data, const RawScores& pool,
                        std::span<const int> selection);

// The screening of a restricted sample of size n (0: unknown) of q
// variables given as matrices. Does not allocate.
Screening screen_sample_size(int n, int q);

// The findings of a screening, errors first, then warnings, in the order of
// their codes: writes the first findings.size() and returns how many there
// are in all. Does not allocate.
int screening_findings(const Screening& s, std::span<Finding> findings);

// The findings of a correction and of its screening in one list, errors
// first, then warnings, then notes, each in the order of the codes: writes
// the first findings.size() and returns how many there are in all. Does
// not allocate.
int all_findings(const Diagnostics& d, const Screening& s, std::span<Finding> findings);

}  // namespace tolbe
