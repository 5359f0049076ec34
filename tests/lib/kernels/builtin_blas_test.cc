// The built-in kernels against the BLAS library, bit for bit: every shape
// the library uses and random others, unit and other increments, the four
// transpositions of dgemm, alpha and beta of 0, 1 and others, and the
// invalid arguments' numbers.
#include "kernels/builtin_blas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/blas.h"

namespace tolbe {
namespace {

std::vector<double> random_values(std::mt19937& gen, std::size_t n) {
  std::uniform_real_distribution<double> uniform(-3.0, 3.0);
  std::vector<double> x(n);
  for (double& v : x) v = uniform(gen) * std::ldexp(1.0, static_cast<int>(gen() % 21) - 10);
  return x;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(BuiltinBlas, DdotDaxpyDscalAreTheLibrarysBitForBit) {
  std::mt19937 gen(3);
  int checked = 0;
  for (int n = 0; n <= 60; ++n) {
    for (int incx : {1, 2, -1, -3}) {
      for (int incy : {1, 3, -2}) {
        auto lx = static_cast<std::size_t>(std::max(1, n * std::abs(incx)));
        auto ly = static_cast<std::size_t>(std::max(1, n * std::abs(incy)));
        std::vector<double> x = random_values(gen, lx);
        std::vector<double> y = random_values(gen, ly);
        double ours = builtin::ddot(n, x.data(), incx, y.data(), incy);
        double theirs = ddot_(&n, x.data(), &incx, y.data(), &incy);
        ASSERT_EQ(std::memcmp(&ours, &theirs, sizeof ours), 0) << "ddot n " << n;
        for (double alpha : {0.0, 1.0, -0.7, 3.25}) {
          std::vector<double> y1 = y;
          std::vector<double> y2 = y;
          builtin::daxpy(n, alpha, x.data(), incx, y1.data(), incy);
          daxpy_(&n, &alpha, x.data(), &incx, y2.data(), &incy);
          ASSERT_TRUE(same_bits(y1, y2)) << "daxpy n " << n << " alpha " << alpha;
          std::vector<double> x1 = x;
          std::vector<double> x2 = x;
          builtin::dscal(n, alpha, x1.data(), incx);
          dscal_(&n, &alpha, x2.data(), &incx);
          ASSERT_TRUE(same_bits(x1, x2)) << "dscal n " << n << " inc " << incx;
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

TEST(BuiltinBlas, DgemmIsTheLibrarysBitForBit) {
  std::mt19937 gen(5);
  const char transposes[] = {'N', 'T', 'n', 'c'};
  int checked = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    int m = static_cast<int>(gen() % 13);
    int n = static_cast<int>(gen() % 13);
    int k = static_cast<int>(gen() % 13);
    if (trial < 60) {  // the library's own shapes: p x p, p x (q - p), (q - p) x p, with p up to 50
      int p = static_cast<int>(gen() % 51);
      int others = static_cast<int>(gen() % 51);
      m = trial % 3 == 2 ? others : p;
      n = trial % 3 == 0 ? p : others;
      k = p;
    }
    char ta = trial < 60 ? 'n' : transposes[gen() % 4];
    char tb = trial < 60 ? 'n' : transposes[gen() % 4];
    bool a_plain = ta == 'N' || ta == 'n';
    bool b_plain = tb == 'N' || tb == 'n';
    int lda = std::max(1, a_plain ? m : k) + static_cast<int>(gen() % 3);
    int ldb = std::max(1, b_plain ? k : n) + static_cast<int>(gen() % 3);
    int ldc = std::max(1, m) + static_cast<int>(gen() % 3);
    std::vector<double> a =
        random_values(gen, static_cast<std::size_t>(lda * std::max(1, a_plain ? k : m)));
    std::vector<double> b =
        random_values(gen, static_cast<std::size_t>(ldb * std::max(1, b_plain ? n : k)));
    std::vector<double> c = random_values(gen, static_cast<std::size_t>(ldc * std::max(1, n)));
    const double alphas[] = {1.0, 0.0, -1.5};
    const double betas[] = {0.0, 1.0, 0.5};
    double alpha = trial < 60 ? 1.0 : alphas[gen() % 3];
    double beta = trial < 60 ? 0.0 : betas[gen() % 3];
    std::vector<double> c1 = c;
    std::vector<double> c2 = c;
    ASSERT_EQ(
        builtin::dgemm(ta, tb, m, n, k, alpha, a.data(), lda, b.data(), ldb, beta, c1.data(), ldc),
        0);
    dgemm_(&ta, &tb, &m, &n, &k, &alpha, a.data(), &lda, b.data(), &ldb, &beta, c2.data(), &ldc, 1,
           1);
    ASSERT_TRUE(same_bits(c1, c2)) << "dgemm " << ta << tb << " " << m << "x" << n << "x" << k
                                   << " alpha " << alpha << " beta " << beta;
    ++checked;
  }
  EXPECT_EQ(checked, 1500);
}

// A zero of B meets an infinity of A: whether the product is skipped shows
// in the result (0, or NaN).
TEST(BuiltinBlas, DgemmPropagatesAsTheLibraryDoes) {
  int m = 2;
  int n = 1;
  int k = 2;
  double alpha = 1.0;
  double beta = 0.0;
  std::vector<double> a = {INFINITY, 1.0, 2.0, NAN};
  std::vector<double> b = {0.0, 0.0};
  std::vector<double> c1(2, 5.0);
  std::vector<double> c2(2, 5.0);
  builtin::dgemm('N', 'N', m, n, k, alpha, a.data(), m, b.data(), k, beta, c1.data(), m);
  char t = 'N';
  dgemm_(&t, &t, &m, &n, &k, &alpha, a.data(), &m, b.data(), &k, &beta, c2.data(), &m, 1, 1);
  EXPECT_TRUE(same_bits(c1, c2)) << c1[0] << " " << c1[1] << " against " << c2[0] << " " << c2[1];
}

TEST(BuiltinBlas, DgemmNumbersItsInvalidArgumentsAsTheReferenceDoes) {
  double x[4] = {};
  struct Case {
    char ta, tb;
    int m, n, k, lda, ldb, ldc, expected;
  };
  for (Case c : {Case{'X', 'N', 1, 1, 1, 1, 1, 1, 1}, Case{'N', 'Y', 1, 1, 1, 1, 1, 1, 2},
                 Case{'N', 'N', -1, 1, 1, 1, 1, 1, 3}, Case{'N', 'N', 2, -1, 2, 2, 2, 2, 4},
                 Case{'N', 'N', 1, 1, -1, 1, 1, 1, 5}, Case{'N', 'N', 2, 1, 1, 1, 1, 2, 8},
                 Case{'T', 'N', 1, 1, 2, 1, 2, 1, 8}, Case{'N', 'N', 1, 1, 2, 1, 1, 1, 10},
                 Case{'N', 'T', 1, 2, 1, 1, 1, 1, 10}, Case{'N', 'N', 2, 1, 1, 2, 1, 1, 13},
                 Case{'N', 'N', 0, 0, 0, 1, 1, 1, 0}}) {
    EXPECT_EQ(builtin::dgemm(c.ta, c.tb, c.m, c.n, c.k, 1.0, x, c.lda, x, c.ldb, 0.0, x, c.ldc),
              c.expected)
        << c.ta << c.tb << " " << c.m << " " << c.n << " " << c.k;
  }
}

}  // namespace
}  // namespace tolbe
