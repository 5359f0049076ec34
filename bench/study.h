#pragma once

// What the coverage studies share: the population of a validity study
// (two selection tests, an interview, two criteria), the interval methods
// compared, their arguments' parsing, and the replications run on threads
// in a fixed order.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tolbe/intervals.h"

namespace tolbe_bench {

constexpr int study_q = 5;
constexpr int study_p = 2;
inline const char* const study_names[study_q] = {"X1", "X2", "Z", "Y1", "Y2"};
// X1 a cognitive ability test and X2 a job knowledge test (the selection
// tests), Z a structured interview rating, Y1 supervisor ratings of
// performance and Y2 a training grade: correlations of the size validity
// studies report, and standard deviations in the units such scores come
// in.
constexpr double study_correlations[study_q][study_q] = {
    {1.00, 0.45, 0.30, 0.40, 0.50},  //
    {0.45, 1.00, 0.25, 0.35, 0.40},  //
    {0.30, 0.25, 1.00, 0.30, 0.25},  //
    {0.40, 0.35, 0.30, 1.00, 0.45},  //
    {0.50, 0.40, 0.25, 0.45, 1.00},
};
constexpr double study_sd[study_q] = {10.0, 8.0, 1.5, 0.8, 12.0};

struct Method {
  const char* name;
  tolbe::IntervalMethod method;
  tolbe::BootstrapInterval interval;
};
constexpr int method_count = 4;
constexpr Method methods[method_count] = {
    {"normal", tolbe::IntervalMethod::normal, tolbe::BootstrapInterval::bca},
    {"adf", tolbe::IntervalMethod::adf, tolbe::BootstrapInterval::bca},
    {"BCa", tolbe::IntervalMethod::bootstrap, tolbe::BootstrapInterval::bca},
    {"percentile", tolbe::IntervalMethod::bootstrap, tolbe::BootstrapInterval::percentile},
};

// A whole number in [low, high], or `fail(what)`, which does not return.
inline long long whole_number(const std::string& text, long long low, long long high,
                              const char* what, void (*fail)(const char*)) {
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < low || value > high) fail(what);
  return value;
}

// The items of a comma-separated list.
inline std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// The population's correlations (lower triangle) and standard deviations
// (diagonal) as a Markdown table.
inline void print_population() {
  std::printf("Population correlations (lower) and standard deviations (diagonal):\n\n|   |");
  for (const char* name : study_names) std::printf(" %s |", name);
  std::printf("\n|---|");
  for (int j = 0; j < study_q; ++j) std::printf("---:|");
  std::printf("\n");
  for (int i = 0; i < study_q; ++i) {
    std::printf("| %s |", study_names[i]);
    for (int j = 0; j < study_q; ++j) {
      if (j < i) std::printf(" %.2f |", study_correlations[i][j]);
      if (j == i) std::printf(" (%g) |", study_sd[i]);
      if (j > i) std::printf("  |");
    }
    std::printf("\n");
  }
}

// The top n of `applicants` rows of `scores` (row-major, q columns) on
// `composite`, copied into `hired` (column-major, n x q) in the order they
// applied in. `sorted` is scratch of `applicants` doubles.
inline void hire_top(const std::vector<double>& scores, int applicants, int q,
                     const std::vector<double>& composite, std::vector<double>& sorted, int n,
                     std::vector<double>& hired) {
  auto sz = [](int k) { return static_cast<std::size_t>(k); };
  sorted = composite;
  auto nth = sorted.begin() + (applicants - n);
  std::nth_element(sorted.begin(), nth, sorted.end());
  double cut = *nth;
  int row = 0;
  for (int a = 0; a < applicants && row < n; ++a) {
    if (composite[sz(a)] < cut) continue;
    for (int j = 0; j < q; ++j) hired[sz(row) + sz(j) * sz(n)] = scores[sz(a) * sz(q) + sz(j)];
    ++row;
  }
}

// `count` replications on `threads` threads, each thread with its own
// worker from `make()`; replication r lands in out[r], so the results do
// not depend on the number of threads.
template <class Replication, class MakeWorker>
std::vector<Replication> replicate(int count, int threads, MakeWorker make) {
  std::vector<Replication> out(static_cast<std::size_t>(count));
  std::atomic<int> next{0};
  auto work = [&]() {
    auto worker = make();
    for (int r = next++; r < count; r = next++) worker.run(r, out[static_cast<std::size_t>(r)]);
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  return out;
}

}  // namespace tolbe_bench
