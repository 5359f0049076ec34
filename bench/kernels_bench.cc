#include <benchmark/benchmark.h>

#include <vector>

#include "kernels/packed_cholesky.h"

namespace {

// A well-conditioned matrix of order n: n on the diagonal and 1/(1+j-i)
// above it, so that it is diagonally dominant and positive definite.
std::vector<double> packed_test_matrix(int n) {
  std::vector<double> ap;
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= j; ++i) ap.push_back(i == j ? n : 1.0 / (1 + j - i));
  }
  return ap;
}

void factor_and_invert(benchmark::State& state) {
  int n = static_cast<int>(state.range(0));
  const std::vector<double> original = packed_test_matrix(n);
  std::vector<double> ap = original;
  for (auto _ : state) {
    std::copy(original.begin(), original.end(), ap.begin());
    int info = 0;
    tolbe::dppco(ap.data(), n, info);
    tolbe::dppdi(ap.data(), n, 11);
    benchmark::DoNotOptimize(ap.data());
  }
}

}  // namespace

BENCHMARK(factor_and_invert)->Arg(10)->Arg(25)->Arg(50);
