#pragma once

// The bounds of a two-sided interval from an estimate and its SE by the
// delta methods: Wald's on the estimate's own scale, and Fisher's z for a
// correlation. An SE of 0 gives the estimate itself as both bounds.

namespace tolbe::intervals {

// The normal quantiles of a two-sided interval at `level`: low < 0 < high.
struct Quantiles {
  double low;
  double high;
};
Quantiles two_sided(double level);

struct Bounds {
  double lower;
  double upper;
};

// estimate +- z SE.
Bounds wald(double estimate, double se, const Quantiles& z);

// Fisher's z interval of the correlation r: NaN bounds where r is not
// inside (-1, 1).
Bounds fisher(double r, double se, const Quantiles& z);

// The interval of a value in [0, 1) that behaves like a squared
// correlation (R^2, an increment of R^2): Fisher's z interval of its root,
// the root's SE being se / (2 sqrt(value)), a lower bound below 0 taken as
// 0, and both bounds squared. NaN bounds where the value is not in (0, 1)
// (and its SE not 0).
Bounds root_fisher(double value, double se, const Quantiles& z);

}  // namespace tolbe::intervals
