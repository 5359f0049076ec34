#include "intervals/bounds.h"

#include <cmath>
#include <limits>

#include "kernels/elementary.h"
#include "tolbe/intervals.h"

namespace tolbe::intervals {

Quantiles two_sided(double level) {
  double low = normal_quantile((1.0 - level) / 2.0);
  return {low, -low};  // (1 + level) / 2 could round to 1
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
  return {elementary::tanh(fisher_z + z.low * se_z), elementary::tanh(fisher_z + z.high * se_z)};
}

}  // namespace tolbe::intervals
