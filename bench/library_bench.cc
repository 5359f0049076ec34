#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace {

// One correction, correlation and disattenuation of q variables with
// p = q/2, on caller workspace; state.range(1) asks for the diagnostics.
void lawley_call(benchmark::State& state) {
  int q = static_cast<int>(state.range(0));
  int p = q / 2;
  bool diagnose = state.range(1) != 0;
  std::mt19937_64 random(9);
  std::normal_distribution<double> normal;
  auto n = static_cast<std::size_t>(q);
  std::vector<double> a(n * n), v(n * n), s(static_cast<std::size_t>(p) * p);
  for (double& x : a) x = normal(random);
  for (int j = 0; j < q; ++j) {
    for (int i = 0; i < q; ++i) {
      double sum = i == j ? q : 0.0;
      for (int k = 0; k < q; ++k) sum += a[i + k * n] * a[j + k * n] / q;
      v[i + j * n] = sum;
    }
  }
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) s[i + j * p] = 1.5 * v[i + j * n] + (i == j ? 0.1 : 0.0);
  }
  std::vector<double> reliabilities(n - p, 0.8);
  std::vector<double> cov(n * n), cor(n * n), dis(n * n);
  tolbe::WorkspaceSize need = tolbe::lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  tolbe::LawleyProblem problem;
  problem.q = q;
  problem.p = p;
  problem.restricted = v.data();
  problem.ld_restricted = q;
  problem.unrestricted = s.data();
  problem.ld_unrestricted = p;
  problem.reliabilities = reliabilities;
  tolbe::LawleyResults results{cov.data(), q, cor.data(), q, dis.data(), q};
  tolbe::Diagnostics diagnostics;
  for (auto _ : state) {
    tolbe::Status status =
        tolbe::lawley(problem, results, work, int_work, diagnose ? &diagnostics : nullptr);
    benchmark::DoNotOptimize(status);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(lawley_call)->ArgsProduct({{5, 10, 25, 50}, {0, 1}})->ArgNames({"q", "diagnostics"});

// The same through the C API, as R and Python call it: without a
// diagnostics pointer it must cost what the C++ call costs.
void c_api_call(benchmark::State& state) {
  int q = static_cast<int>(state.range(0));
  int p = q / 2;
  bool diagnose = state.range(1) != 0;
  auto n = static_cast<std::size_t>(q);
  std::vector<double> v(n * n, 0.3), s(static_cast<std::size_t>(p) * p, 0.45);
  for (int i = 0; i < q; ++i) v[i + i * n] = 1.0;
  for (int i = 0; i < p; ++i) s[i + i * static_cast<std::size_t>(p)] = 1.5;
  std::vector<double> cov(n * n), cor(n * n);
  std::size_t n_work = 0, n_int_work = 0;
  tolbe_lawley_workspace(q, p, &n_work, &n_int_work);
  std::vector<double> work(n_work);
  std::vector<int> int_work(n_int_work);
  tolbe_diagnostics diagnostics;
  for (auto _ : state) {
    int status = tolbe_lawley(q, p, v.data(), q, s.data(), p, nullptr, nullptr, 0, cov.data(), q,
                              cor.data(), q, nullptr, q, work.data(), n_work, int_work.data(),
                              n_int_work, diagnose ? &diagnostics : nullptr);
    benchmark::DoNotOptimize(status);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(c_api_call)->ArgsProduct({{10, 50}, {0, 1}})->ArgNames({"q", "diagnostics"});

}  // namespace
