// The library's own elementary functions against the C library's: within a
// few units in the last place (erfc: a relative error bound), and the same
// at NaN, the infinities, the zeros and the ends of their ranges.

#include "kernels/elementary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace tolbe::elementary {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// How many doubles lie between a and b.
double ulps(double a, double b) {
  if (a == b) return 0.0;
  return std::fabs(a - b) / std::fabs(std::nextafter(b, inf) - b);
}

struct Function {
  const char* name;
  double (*ours)(double);
  double (*c_library)(double);
  double low;
  double high;
  double max_ulps;
};

double c_exp(double x) {
  return std::exp(x);
}
double c_log(double x) {
  return std::log(x);
}
double c_atanh(double x) {
  return std::atanh(x);
}
double c_tanh(double x) {
  return std::tanh(x);
}

class Accuracy : public ::testing::TestWithParam<Function> {};

TEST_P(Accuracy, WithinUlpsOfTheCLibraryOverTheRange) {
  const Function& f = GetParam();
  std::mt19937_64 random(99);
  std::uniform_real_distribution<double> uniform(f.low, f.high);
  double worst = 0.0;
  double worst_at = 0.0;
  for (int i = 0; i < 200000; ++i) {
    double x = uniform(random);
    double error = ulps(f.ours(x), f.c_library(x));
    if (error > worst) {
      worst = error;
      worst_at = x;
    }
  }
  EXPECT_LE(worst, f.max_ulps) << f.name << " at " << worst_at;
}

INSTANTIATE_TEST_SUITE_P(Functions, Accuracy,
                         ::testing::Values(Function{"exp", exp, c_exp, -745.0, 709.7, 2},
                                           Function{"exp near 0", exp, c_exp, -1.0, 1.0, 2},
                                           Function{"log", log, c_log, 1e-300, 1e300, 2},
                                           Function{"log near 1", log, c_log, 0.5, 2.0, 2},
                                           Function{"atanh", atanh, c_atanh, -0.999999, 0.999999,
                                                    4},
                                           Function{"atanh near 0", atanh, c_atanh, -0.2, 0.2, 2},
                                           Function{"tanh", tanh, c_tanh, -25.0, 25.0, 4},
                                           Function{"tanh near 0", tanh, c_tanh, -0.6, 0.6, 4}),
                         [](const auto& test) {
                           std::string name = test.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST(Erfc, RelativeErrorAgainstTheCLibrary) {
  // The upper tail keeps its relative accuracy; the bound is far inside
  // what a probability of an interval needs.
  for (double x = -6.0; x <= 27.0; x += 0.001) {
    double want = std::erfc(x);
    if (want < 0x1p-1022) {  // subnormal: the result itself has few bits
      ASSERT_LE(std::fabs(erfc(x) - want), 0x1p-1022 * 1e-12) << "at " << x;
      continue;
    }
    double relative = std::fabs(erfc(x) - want) / want;
    // e^(-x^2) inherits the rounding of x^2, relative x^2 ulp.
    ASSERT_LE(relative, 5e-15 + 4e-16 * x * x) << "at " << x;
  }
}

struct Edge {
  const char* name;
  double (*f)(double);
  double x;
  double expected;
};

class Edges : public ::testing::TestWithParam<Edge> {};

TEST_P(Edges, AsTheCLibrary) {
  const Edge& e = GetParam();
  double got = e.f(e.x);
  if (std::isnan(e.expected)) {
    EXPECT_TRUE(std::isnan(got)) << e.name;
  } else {
    EXPECT_EQ(got, e.expected) << e.name;
    EXPECT_EQ(std::signbit(got), std::signbit(e.expected)) << e.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, Edges,
    ::testing::Values(Edge{"exp nan", exp, nan, nan}, Edge{"exp inf", exp, inf, inf},
                      Edge{"exp -inf", exp, -inf, 0.0}, Edge{"exp 0", exp, 0.0, 1.0},
                      Edge{"exp -0", exp, -0.0, 1.0}, Edge{"exp 710", exp, 710.0, inf},
                      Edge{"exp -746", exp, -746.0, 0.0}, Edge{"log nan", log, nan, nan},
                      Edge{"log -1", log, -1.0, nan}, Edge{"log 0", log, 0.0, -inf},
                      Edge{"log -0", log, -0.0, -inf}, Edge{"log inf", log, inf, inf},
                      Edge{"log 1", log, 1.0, 0.0}, Edge{"atanh nan", atanh, nan, nan},
                      Edge{"atanh 1", atanh, 1.0, inf}, Edge{"atanh -1", atanh, -1.0, -inf},
                      Edge{"atanh 1.5", atanh, 1.5, nan}, Edge{"atanh 0", atanh, 0.0, 0.0},
                      Edge{"atanh -0", atanh, -0.0, -0.0}, Edge{"tanh nan", tanh, nan, nan},
                      Edge{"tanh inf", tanh, inf, 1.0}, Edge{"tanh -inf", tanh, -inf, -1.0},
                      Edge{"tanh 0", tanh, 0.0, 0.0}, Edge{"tanh -0", tanh, -0.0, -0.0},
                      Edge{"tanh 30", tanh, 30.0, 1.0}, Edge{"erfc nan", erfc, nan, nan},
                      Edge{"erfc inf", erfc, inf, 0.0}, Edge{"erfc -inf", erfc, -inf, 2.0},
                      Edge{"erfc 0", erfc, 0.0, 1.0}, Edge{"erfc 28", erfc, 28.0, 0.0},
                      Edge{"erfc -7", erfc, -7.0, 2.0}),
    [](const auto& test) {
      std::string name = test.param.name;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(EndsOfTheRanges, WithinAnUlpOrTwo) {
  EXPECT_LE(ulps(exp(-744.0), std::exp(-744.0)), 1);  // subnormal
  EXPECT_LE(ulps(exp(709.7), std::exp(709.7)), 2);
  EXPECT_LE(ulps(log(5e-324), std::log(5e-324)), 1);
  EXPECT_LE(ulps(log(1.7976931348623157e308), std::log(1.7976931348623157e308)), 1);
  EXPECT_LE(ulps(log(2.2250738585072014e-308), std::log(2.2250738585072014e-308)), 1);
  EXPECT_LE(ulps(atanh(0.9999999999999999), std::atanh(0.9999999999999999)), 2);
  EXPECT_LE(ulps(tanh(19.9), std::tanh(19.9)), 1);
}

TEST(Atanh, TanhUndoesIt) {
  for (double r = -0.999; r < 1.0; r += 0.0037) {
    EXPECT_NEAR(tanh(atanh(r)), r, 4e-16) << r;
  }
}

}  // namespace
}  // namespace tolbe::elementary
