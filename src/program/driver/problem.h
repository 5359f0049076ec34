#pragma once

#include <cstdint>

#include "program_support.h"

namespace tolbe {

// One problem as read: the counts, the two var/cov matrices and the
// reliabilities. Everything starts at zero, so an item left unchanged by a
// null value or a slash reads as 0.
//
// The console program's names for the library's one vocabulary: the
// non-restricted variables are the selection variables, n_nonrestricted is
// p and n_total is q; nonrestricted_cov is the unrestricted var/cov matrix
// S, restricted_cov the restricted one V. Matrix is numbered from 1, as the
// report numbers rows; the library's views from 0.
struct Problem {
  std::int32_t n_nonrestricted = 0;
  std::int32_t n_total = 0;
  std::int32_t reliability_flag = 0;
  Matrix restricted_cov;
  Matrix nonrestricted_cov;
  double reliabilities[MAX_VARIABLES] = {};

  bool with_reliabilities() const { return reliability_flag == 1; }
};

}  // namespace tolbe
