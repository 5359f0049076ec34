#pragma once

// Elementary functions from +, -, *, / and square roots alone, in a fixed
// order. IEEE 754 rounds each of those operations the same on every
// platform, so these give the same bits on Linux, on Windows and in
// WebAssembly, where the C libraries' exp, log, tanh and erfc may differ in
// the last place: the intervals are then the same numbers everywhere. They
// are compiled without contraction (a fused multiply-add would round once
// where the operations above round twice).
//
// Each is accurate to a few units in the last place, well past what the
// statistics need (elementary_test.cc compares them with the C library's);
// NaN gives NaN, and the infinities and zeros give what the C library's
// functions give. None allocates or touches errno; all are thread-safe.

namespace tolbe::elementary {

// e^x; +inf past 709.78, +0 below -745.13.
double exp(double x);

// The natural logarithm: -inf at ±0, NaN below 0.
double log(double x);

// Inverse hyperbolic tangent: ±inf at ±1, NaN past them.
double atanh(double x);

// Hyperbolic tangent.
double tanh(double x);

// The complementary error function 1 - erf(x), with its relative accuracy
// in the upper tail (to about 1e-14 there); 0 past 27.3, 2 below -6.
double erfc(double x);

}  // namespace tolbe::elementary
