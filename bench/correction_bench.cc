#include <benchmark/benchmark.h>

#include <memory>

#include "correction/lawley.h"

namespace {

struct Problem {
  tolbe::Matrix restricted;
  tolbe::Matrix nonrestricted;
  tolbe::LawleyWork work;
  tolbe::Matrix corrected;
  tolbe::Matrix corr;
};

void lawley_correction(benchmark::State& state) {
  int p = static_cast<int>(state.range(0));
  int q = static_cast<int>(state.range(1));
  auto problem = std::make_unique<Problem>();
  for (int i = 1; i <= q; ++i) {
    for (int j = 1; j <= q; ++j)
      problem->restricted(i, j) = i == j ? q : 1.0 / (1 + (i > j ? i - j : j - i));
  }
  for (int i = 1; i <= p; ++i) {
    for (int j = 1; j <= p; ++j) problem->nonrestricted(i, j) = 1.2 * problem->restricted(i, j);
  }
  for (auto _ : state) {
    tolbe::lawley_correct(p, q, problem->restricted, problem->nonrestricted, problem->work,
                          problem->corrected);
    tolbe::cov_to_corr(q, problem->corrected, problem->corr);
    benchmark::DoNotOptimize(problem->corr.data());
  }
}

}  // namespace

BENCHMARK(lawley_correction)->Args({25, 50})->Args({2, 3});
