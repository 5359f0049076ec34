#include "kernels/elementary.h"

#include <cmath>
#include <limits>

namespace tolbe::elementary {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// ln 2 in two parts: the high part has 32 significant bits, so that k times
// it is exact for every exponent k a double has.
constexpr double ln2_high = 0x1.62e42feep-1;
constexpr double ln2_low = 0x1.a39ef35793c76p-33;
constexpr double inverse_ln2 = 0x1.71547652b82fep0;

// e^r for |r| <= ln 2 / 2 + a little: Taylor to degree 14, whose remainder
// is below 1e-18 there; Horner's rule with the factorials' reciprocals.
double exp_reduced(double r) {
  double sum = 1.0;
  for (int k = 14; k >= 1; --k) sum = 1.0 + sum * r / k;
  return sum;
}

// e^x - 1 for |x| <= 1, without the cancellation of exp(x) - 1: Taylor to
// degree 20 (remainder below 1e-19).
double expm1_small(double x) {
  double sum = 1.0;
  for (int k = 20; k >= 2; --k) sum = 1.0 + sum * x / k;
  return x * sum;
}

// 2 atanh(s) = log((1 + s) / (1 - s)) for |s| <= 1/2: the odd series to
// s^61, whose remainder is below 1e-18 of the sum (at |s| <= 0.1716, as
// log has it, far below).
double two_atanh_small(double s) {
  double s2 = s * s;
  double sum = 0.0;
  for (int k = 61; k >= 3; k -= 2) sum = s2 * (1.0 / k + sum);
  return 2.0 * (s + s * sum);
}

// erf(x) for 0 <= x < 1.2 by the series of positive terms
// erf(x) = 2/sqrt(pi) e^(-x^2) sum 2^n x^(2n+1) / (1 3 5 ... (2n+1)).
double erf_series(double x) {
  double x2 = x * x;
  double term = x;
  double sum = x;
  for (int n = 1; n < 200; ++n) {
    term *= 2.0 * x2 / (2 * n + 1);
    sum += term;
    if (term < sum * 1e-18) break;
  }
  return 2.0 / std::sqrt(M_PI) * exp(-x2) * sum;
}

// erfc(x) for x >= 1.2 by its continued fraction
// erfc(x) = e^(-x^2)/sqrt(pi) / (x + (1/2)/(x + 1/(x + (3/2)/(x + ...)))),
// evaluated from the tail: 250 levels leave an error below 1e-15 at 1.2,
// and less further out.
double erfc_fraction(double x) {
  double tail = x;
  for (int k = 250; k >= 1; --k) tail = x + (0.5 * k) / tail;
  return exp(-x * x) / std::sqrt(M_PI) / tail;
}

}  // namespace

double exp(double x) {
  if (std::isnan(x)) return x;
  if (x > 709.782712893384) return infinity;
  if (x < -745.1332191019412) return 0.0;
  double k = std::floor(x * inverse_ln2 + 0.5);
  double r = (x - k * ln2_high) - k * ln2_low;
  // ldexp scales exactly, but for a result below the normal range, where
  // it rounds once as the hardware would.
  return std::ldexp(exp_reduced(r), static_cast<int>(k));
}

double log(double x) {
  if (std::isnan(x) || x < 0.0) return not_a_number;
  if (x == 0.0) return -infinity;
  if (std::isinf(x)) return x;
  int e = 0;
  double m = std::frexp(x, &e);  // x = m 2^e, 0.5 <= m < 1
  if (m < M_SQRT1_2) {
    m *= 2.0;
    --e;
  }
  // m in [sqrt(1/2), sqrt(2)): log m = 2 atanh((m - 1)/(m + 1)), where m - 1
  // is exact.
  double log_m = two_atanh_small((m - 1.0) / (m + 1.0));
  return e * ln2_high + (log_m + e * ln2_low);
}

double atanh(double x) {
  if (std::isnan(x)) return x;
  double a = std::fabs(x);
  if (a > 1.0) return not_a_number;
  if (a == 1.0) return std::copysign(infinity, x);
  // Past 1/2, 1 - a is exact and the logarithm is at least 1.1: the
  // quotient's rounding costs about an ulp.
  double result = a <= 0.5 ? 0.5 * two_atanh_small(a) : 0.5 * log((1.0 + a) / (1.0 - a));
  return std::copysign(result, x);
}

double tanh(double x) {
  if (std::isnan(x)) return x;
  double a = std::fabs(x);
  double result = 0.0;
  if (a > 20.0) {
    result = 1.0;  // 1 - 2e-17 rounds to 1
  } else if (a >= 0.5) {
    result = 1.0 - 2.0 / (exp(2.0 * a) + 1.0);
  } else {
    double e = expm1_small(2.0 * a);
    result = e / (e + 2.0);
  }
  return std::copysign(result, x);
}

double erfc(double x) {
  if (std::isnan(x)) return x;
  if (x < 0.0) return 2.0 - erfc(-x);
  if (x > 27.3) return 0.0;
  // Below 1.2, 1 - erf loses at most a digit; above, the fraction converges
  // in the levels it has.
  if (x < 1.2) return 1.0 - erf_series(x);
  return erfc_fraction(x);
}

}  // namespace tolbe::elementary
