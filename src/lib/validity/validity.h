#pragma once

// The validity question's internal interface: its values from a corrected
// var/cov matrix, their gradients for the delta method, and the kind of
// interval each gets. Used by the intervals' driver for lawley_validity().

#include <cstddef>

#include "correction/lawley.h"
#include "intervals/intervals.h"
#include "tolbe/validity.h"

namespace tolbe::validity {

// A checked question, variables by input index.
struct Job {
  int criterion;
  const int* predictors;
  int k;
  int base;
  double reliability;
};

// Doubles of scratch the values and gradients need.
std::size_t scratch_doubles(int k);

// The values (validity_values(k) of them, in the order of ValidityResults)
// from the q x q corrected var/cov matrix `cov` in input order. Leaves in
// `scratch` what gradient() reads. False when C_XX or the base block is
// not positive definite or a value is not finite.
bool values(const Job& job, ConstView cov, double* out, double* scratch);

// Adds the gradient of value `index` with respect to the distinct elements
// of V and S to `g`, after values() filled `scratch` and `estimates`.
// `position` maps input indices to the model's positions.
void gradient(const Job& job, const intervals::Corrected& model, const int* position, int index,
              const double* estimates, const double* scratch, intervals::Gradient& g);

// How an interval of a value is formed by the delta methods.
enum class Kind {
  wald,         // estimate +- z SE
  fisher,       // on Fisher's z scale
  fisher_of,    // Fisher's z interval of another value (of_value), divided by sqrt(r_yy)
  root_fisher,  // on the scale atanh(sqrt(value)): R^2 and the increments
};
struct IntervalKind {
  Kind kind;
  int of_value;
  bool nonnegative;  // a lower bound below 0 is 0
};
IntervalKind interval_kind(const Job& job, int index);

// The first of the values bounded below by 0 (R^2, R, the operational R,
// the base set's R^2 and the increments follow it): they get the
// bootstrap's percentile interval whatever was asked.
int first_bounded(const Job& job);

}  // namespace tolbe::validity
