#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "simulation.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace {

// A selected sample of n = 1000 (the top 20 % on the sum of p = 3
// selection variables of a one-factor normal population), S the
// population's: the problem of the intervals' cost figures.
struct Sample {
  int q;
  int p = 3;
  int rows = 1000;
  std::vector<double> scores;  // rows x q, column-major
  std::vector<double> v;       // their var/cov matrix
  std::vector<double> s;       // p x p
  explicit Sample(int variables) : q(variables) {
    std::vector<double> cov = tolbe_bench::one_factor_population(q, p);
    scores = tolbe_bench::hired(cov, q, p, rows, 11);
    v.resize(static_cast<std::size_t>(q) * static_cast<std::size_t>(q));
    std::vector<double> means(static_cast<std::size_t>(q));
    tolbe::covariance_from_data({rows, q, scores.data(), rows}, means.data(), v.data(), q);
    s.resize(static_cast<std::size_t>(p) * static_cast<std::size_t>(p));
    for (int j = 0; j < p; ++j) {
      for (int i = 0; i < p; ++i) s[tolbe_bench::index(i, j, p)] = cov[tolbe_bench::index(i, j, q)];
    }
  }
};

// SEs and intervals of every corrected covariance and correlation:
// state.range(0) is q; normal from the matrix and n, the others from the
// raw scores.
void intervals(benchmark::State& state, tolbe::IntervalMethod method, int resamples) {
  Sample sample(static_cast<int>(state.range(0)));
  int q = sample.q;
  tolbe::LawleyProblem problem{q, sample.p, sample.v.data(), q, sample.s.data(), sample.p, {}, {}};
  tolbe::IntervalRequest request;
  request.method = method;
  if (method == tolbe::IntervalMethod::normal) {
    request.n = sample.rows;
  } else {
    problem.restricted = nullptr;
    problem.ld_restricted = 0;
    request.data = {sample.rows, q, sample.scores.data(), sample.rows};
  }
  request.resamples = resamples;
  request.threads = 1;
  tolbe::WorkspaceSize need = tolbe::lawley_intervals_workspace_size(q, sample.p, request);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  std::size_t qq = static_cast<std::size_t>(q) * static_cast<std::size_t>(q);
  std::vector<double> out(6 * qq);
  tolbe::IntervalResults results{};
  results.covariances = {out.data(), out.data() + qq, out.data() + 2 * qq, q};
  results.correlations = {out.data() + 3 * qq, out.data() + 4 * qq, out.data() + 5 * qq, q};
  for (auto _ : state) {
    tolbe::Status status = tolbe::lawley_intervals(problem, request, results, work, int_work);
    if (status != tolbe::Status::ok) state.SkipWithError("lawley_intervals failed");
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}

void normal_intervals(benchmark::State& state) {
  intervals(state, tolbe::IntervalMethod::normal, 0);
}
BENCHMARK(normal_intervals)->Arg(10)->Arg(50)->ArgName("q")->Unit(benchmark::kMicrosecond);

void adf_intervals(benchmark::State& state) {
  intervals(state, tolbe::IntervalMethod::adf, 0);
}
BENCHMARK(adf_intervals)->Arg(10)->Arg(50)->ArgName("q")->Unit(benchmark::kMillisecond);

// The bootstrap (BCa, one thread) with B = 200: a tenth of the usual
// resamples, to follow its cost from commit to commit;
// bench/bootstrap_vs_boot.sh times B = 2000 beside R.
void bootstrap_intervals(benchmark::State& state) {
  intervals(state, tolbe::IntervalMethod::bootstrap, 200);
}
BENCHMARK(bootstrap_intervals)->Arg(10)->ArgName("q")->Unit(benchmark::kMillisecond);

// The var/cov matrix of raw scores, which adf and the bootstrap compute
// first: n = 1000 rows, state.range(0) columns.
void covariance_from_data(benchmark::State& state) {
  Sample sample(static_cast<int>(state.range(0)));
  int q = sample.q;
  std::vector<double> means(static_cast<std::size_t>(q));
  std::vector<double> cov(static_cast<std::size_t>(q) * static_cast<std::size_t>(q));
  for (auto _ : state) {
    tolbe::DataSummary d = tolbe::covariance_from_data(
        {sample.rows, q, sample.scores.data(), sample.rows}, means.data(), cov.data(), q);
    benchmark::DoNotOptimize(d);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(covariance_from_data)->Arg(10)->Arg(50)->ArgName("q")->Unit(benchmark::kMicrosecond);

}  // namespace
