#pragma once

#include <cstdint>

#include "correction/matrix.h"

namespace tolbe {

// One problem as read: the counts, the two var/cov matrices and the
// reliabilities. Everything starts at zero, so an item left unchanged by a
// null value or a slash reads as 0.
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
