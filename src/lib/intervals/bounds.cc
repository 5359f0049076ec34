#include "intervals/bounds.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kernels/elementary.h"
#include "tolbe/intervals.h"

namespace tolbe::intervals {

Quantiles two_sided(double level) {
  // (1 + level) / 2 could round to 1; and at a level so small that
  // (1 - level) / 2 rounds to 0.5, the quantile may come out a hair above
  // 0, which would turn the interval inside out.
  double low = std::min(normal_quantile((1.0 - level) / 2.0), 0.0);
  return {low, -low};
}

Bounds wald(double estimate, double se, const Quantiles& z) {
  // The point also where z is infinite.
  if (se == 0.0) return {estimate, estimate};
  return {estimate + z.low * se, estimate + z.high * se};
}

Bounds fisher(double r, double se, const Quantiles& z) {
  constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
  if (!(std::fabs(r) < 1.0)) return {not_a_number, not_a_number};
  // The round trip through atanh and tanh could move the point by an ulp,
  // and an interval must hold its estimate.
  if (se == 0.0) return {r, r};
  double fisher_z = elementary::atanh(r);
  double se_z = se / (1.0 - r * r);
  // At a level near 0 the bounds come back within an ulp of r, on either
  // side of it.
  return {std::min(elementary::tanh(fisher_z + z.low * se_z), r),
          std::max(elementary::tanh(fisher_z + z.high * se_z), r)};
}

Bounds root_fisher(double value, double se, const Quantiles& z) {
  constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
  if (se == 0.0) return {value, value};
  if (!(value > 0.0 && value < 1.0)) return {not_a_number, not_a_number};
  // The variance of a squared correlation vanishes with it, and a Wald
  // interval then crosses 0 and misses on the low side; its root's does not.
  double root = std::sqrt(value);
  Bounds b = fisher(root, se / (2.0 * root), z);
  double lower = std::max(b.lower, 0.0);
  // Squaring the rooted estimate could move it by an ulp, and an interval
  // must hold its estimate.
  return {std::min(lower * lower, value), std::max(b.upper * b.upper, value)};
}

}  // namespace tolbe::intervals
