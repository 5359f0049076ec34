#pragma once

// Random numbers and multivariate normal scores for the coverage study and
// the bootstrap timing. Our own generator and normal deviates, not
// <random>'s distributions, whose algorithms differ between standard
// libraries: a seed gives the same scores with libstdc++ and libc++.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolbe_bench {

// SplitMix64 (Steele, Lea and Flood 2014): seeds the generator and mixes
// several numbers into one seed.
inline std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

inline std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  std::uint64_t state = a ^ (b * 0xd1b54a32d192ed03ULL);
  return splitmix(state);
}

// xoshiro256** (Blackman and Vigna 2018) with normal deviates by
// Marsaglia's polar method.
class Random {
 public:
  explicit Random(std::uint64_t seed) {
    for (std::uint64_t& word : s_) word = splitmix(seed);
  }
  std::uint64_t next() {
    std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform on (-1, 1), 53 bits.
  double symmetric() { return static_cast<double>(next() >> 11) * 0x1.0p-52 - 1.0; }
  double normal() {
    if (has_spare_) {
      has_spare_ = false;
      return spare_;
    }
    double u;
    double v;
    double s;
    do {
      u = symmetric();
      v = symmetric();
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    double factor = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * factor;
    has_spare_ = true;
    return u * factor;
  }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t s_[4] = {};
  double spare_ = 0.0;
  bool has_spare_ = false;
};

// The lower Cholesky factor L (column-major, k x k) of the positive
// definite column-major k x k `cov`: cov = L L'. Empty if it is not
// positive definite.
inline std::vector<double> cholesky(const std::vector<double>& cov, int k) {
  auto at = [k](int i, int j) {
    return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(k);
  };
  std::vector<double> l(cov.size(), 0.0);
  for (int j = 0; j < k; ++j) {
    double d = cov[at(j, j)];
    for (int m = 0; m < j; ++m) d -= l[at(j, m)] * l[at(j, m)];
    if (!(d > 0.0)) return {};
    l[at(j, j)] = std::sqrt(d);
    for (int i = j + 1; i < k; ++i) {
      double sum = cov[at(i, j)];
      for (int m = 0; m < j; ++m) sum -= l[at(i, m)] * l[at(j, m)];
      l[at(i, j)] = sum / l[at(j, j)];
    }
  }
  return l;
}

// One draw of N(0, L L') into x (k values).
inline void draw_normal(Random& random, const std::vector<double>& l, int k, double* e, double* x) {
  for (int j = 0; j < k; ++j) e[j] = random.normal();
  for (int i = 0; i < k; ++i) {
    double sum = 0.0;
    for (int j = 0; j <= i; ++j) {
      sum += l[static_cast<std::size_t>(i) +
               static_cast<std::size_t>(j) * static_cast<std::size_t>(k)] *
             e[j];
    }
    x[i] = sum;
  }
}

inline std::size_t index(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

// A population correlation matrix of q variables (column-major) with one
// common factor, the p selection variables loading more on it than the
// others (tests against criteria).
inline std::vector<double> one_factor_population(int q, int p) {
  std::vector<double> loading(static_cast<std::size_t>(q));
  for (int k = 0; k < q; ++k) {
    loading[static_cast<std::size_t>(k)] = k < p ? 0.8 - 0.1 * (k % 3) : 0.6 - 0.05 * ((k - p) % 5);
  }
  std::vector<double> cov(static_cast<std::size_t>(q) * static_cast<std::size_t>(q));
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      cov[index(i, j, q)] =
          i == j ? 1.0
                 : loading[static_cast<std::size_t>(i)] * loading[static_cast<std::size_t>(j)];
    }
  }
  return cov;
}

// The hired group, column-major rows x q: the top `rows` of 5 rows
// applicants drawn from N(0, cov) (a selection ratio of 20 %) on the sum of
// the first p variables, in the order they applied in.
inline std::vector<double> hired(const std::vector<double>& cov, int q, int p, int rows,
                                 std::uint64_t seed) {
  std::vector<double> chol = cholesky(cov, q);
  int applicants = rows * 5;
  std::vector<double> pool(static_cast<std::size_t>(applicants) * static_cast<std::size_t>(q));
  std::vector<double> composite(static_cast<std::size_t>(applicants));
  std::vector<double> e(static_cast<std::size_t>(q));
  Random random(seed);
  for (int a = 0; a < applicants; ++a) {
    double* x = pool.data() + static_cast<std::size_t>(a) * static_cast<std::size_t>(q);
    draw_normal(random, chol, q, e.data(), x);
    double sum = 0.0;
    for (int k = 0; k < p; ++k) sum += x[k];
    composite[static_cast<std::size_t>(a)] = sum;
  }
  std::vector<double> sorted = composite;
  auto nth = sorted.begin() + (applicants - rows);
  std::nth_element(sorted.begin(), nth, sorted.end());
  double cut = *nth;
  std::vector<double> out(static_cast<std::size_t>(rows) * static_cast<std::size_t>(q));
  int row = 0;
  for (int a = 0; a < applicants && row < rows; ++a) {
    if (composite[static_cast<std::size_t>(a)] < cut) continue;
    for (int j = 0; j < q; ++j) {
      out[index(row, j, rows)] = pool[static_cast<std::size_t>(a) * static_cast<std::size_t>(q) +
                                      static_cast<std::size_t>(j)];
    }
    ++row;
  }
  return out;
}

}  // namespace tolbe_bench
