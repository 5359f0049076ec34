// Wall time of the library's bootstrap (lawley_intervals, method bootstrap)
// on a selected sample, for bench/bootstrap_vs_boot.sh, which times R's
// boot package on the same data; --method=adf or normal times those
// (normal from the matrix and n) on the same sample. The data: applicants from a one-factor
// multivariate normal population of q variables, the top `rows` of
// rows / 0.2 hired on the sum of the first p (the selection variables),
// S their population var/cov matrix (known).
//
//   bootstrap_timing [--rows=1000] [--q=10] [--p=3] [--resamples=2000]
//                    [--threads=1] [--interval=bca|percentile] [--repeat=5]
//                    [--method=bootstrap|adf|normal]
//                    [--seed=7] [--data=FILE] [--unrestricted=FILE] [--results=FILE]
//
// Writes one line: the least wall time of `repeat` calls (with its
// processor time), the median and the largest, and the least per
// resample. --data and --unrestricted write the scores and S as CSV (every
// digit that reads back to the same double), --results the intervals of
// the last call (the corrected covariances i <= j and correlations i < j
// that vary).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "simulation.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace {

struct Options {
  int rows = 1000;
  int q = 10;
  int p = 3;
  int resamples = 2000;
  int threads = 1;
  tolbe::BootstrapInterval interval = tolbe::BootstrapInterval::bca;
  tolbe::IntervalMethod method = tolbe::IntervalMethod::bootstrap;
  int repeats = 5;
  std::uint64_t seed = 7;
  std::string data;
  std::string unrestricted;
  std::string results;
};

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "bootstrap_timing: %s\n", why.c_str());
  std::exit(2);
}

int whole(const char* text, int low, int high, const char* name) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < low || value > high) {
    fail(std::string("bad ") + name);
  }
  return static_cast<int>(value);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int a = 1; a < argc; ++a) {
    std::string arg = argv[a];
    std::size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") != 0 || equals == std::string::npos) fail("unknown " + arg);
    std::string name = arg.substr(2, equals - 2);
    const char* value = argv[a] + equals + 1;
    if (name == "rows") {
      o.rows = whole(value, tolbe::bootstrap_min_rows, 10000000, "--rows");
    } else if (name == "q") {
      o.q = whole(value, 1, 50, "--q");
    } else if (name == "p") {
      o.p = whole(value, 1, 50, "--p");
    } else if (name == "resamples") {
      o.resamples = whole(value, tolbe::bootstrap_min_resamples, tolbe::bootstrap_max_resamples,
                          "--resamples");
    } else if (name == "threads") {
      o.threads = whole(value, 1, 64, "--threads");
    } else if (name == "repeat") {
      o.repeats = whole(value, 1, 1000, "--repeat");
    } else if (name == "seed") {
      o.seed = static_cast<std::uint64_t>(whole(value, 0, 2147483647, "--seed"));
    } else if (name == "interval") {
      if (std::strcmp(value, "bca") == 0) {
        o.interval = tolbe::BootstrapInterval::bca;
      } else if (std::strcmp(value, "percentile") == 0) {
        o.interval = tolbe::BootstrapInterval::percentile;
      } else {
        fail("--interval is bca or percentile");
      }
    } else if (name == "method") {
      if (std::strcmp(value, "bootstrap") == 0) {
        o.method = tolbe::IntervalMethod::bootstrap;
      } else if (std::strcmp(value, "adf") == 0) {
        o.method = tolbe::IntervalMethod::adf;
      } else if (std::strcmp(value, "normal") == 0) {
        o.method = tolbe::IntervalMethod::normal;
      } else {
        fail("--method is bootstrap, adf or normal");
      }
    } else if (name == "data") {
      o.data = value;
    } else if (name == "unrestricted") {
      o.unrestricted = value;
    } else if (name == "results") {
      o.results = value;
    } else {
      fail("unknown " + arg);
    }
  }
  if (o.p >= o.q) fail("--p must be below --q");
  return o;
}

std::size_t at(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

void write_csv(const std::string& path, const double* x, int rows, int columns, int ld,
               const char* prefix) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) fail("cannot write " + path);
  for (int j = 0; j < columns; ++j) std::fprintf(f, "%s%s%d", j == 0 ? "" : ",", prefix, j + 1);
  std::fprintf(f, "\n");
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      std::fprintf(f, "%s%.17g", j == 0 ? "" : ",", x[at(i, j, ld)]);
    }
    std::fprintf(f, "\n");
  }
  if (std::fclose(f) != 0) fail("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse(argc, argv);
  int q = o.q;
  int p = o.p;
  std::vector<double> cov = tolbe_bench::one_factor_population(q, p);
  std::vector<double> scores = tolbe_bench::hired(cov, q, p, o.rows, o.seed);
  std::vector<double> s(static_cast<std::size_t>(p) * static_cast<std::size_t>(p));
  for (int j = 0; j < p; ++j) {
    for (int i = 0; i < p; ++i) s[at(i, j, p)] = cov[at(i, j, q)];
  }
  if (!o.data.empty()) write_csv(o.data, scores.data(), o.rows, q, o.rows, "v");
  if (!o.unrestricted.empty()) write_csv(o.unrestricted, s.data(), p, p, p, "v");

  tolbe::LawleyProblem problem{q, p, nullptr, 0, s.data(), p, {}, {}};
  tolbe::IntervalRequest request;
  request.method = o.method;
  request.interval = o.interval;
  request.level = 0.95;
  std::size_t qq = static_cast<std::size_t>(q) * static_cast<std::size_t>(q);
  std::vector<double> means(static_cast<std::size_t>(q));
  std::vector<double> v(qq);
  if (o.method == tolbe::IntervalMethod::normal) {
    // From the matrix and n, as with a published matrix.
    tolbe::covariance_from_data({o.rows, q, scores.data(), o.rows}, means.data(), v.data(), q);
    problem.restricted = v.data();
    problem.ld_restricted = q;
    request.n = o.rows;
  } else {
    request.data = {o.rows, q, scores.data(), o.rows};
  }
  request.resamples = o.resamples;
  request.seed = o.seed;
  request.threads = o.threads;
  tolbe::WorkspaceSize need = tolbe::lawley_intervals_workspace_size(q, p, request);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  std::vector<double> cov_se(qq), cov_lower(qq), cov_upper(qq);
  std::vector<double> corr_se(qq), corr_lower(qq), corr_upper(qq);
  tolbe::IntervalResults results{};
  results.covariances = {cov_se.data(), cov_lower.data(), cov_upper.data(), q};
  results.correlations = {corr_se.data(), corr_lower.data(), corr_upper.data(), q};
  std::vector<double> v_used(qq);
  results.restricted = v_used.data();
  results.ld_restricted = q;

  // Wall time, and the processor time of the whole process (all threads):
  // on a shared machine the call with the least wall time is the one
  // least disturbed.
  std::vector<double> seconds;
  double least = 0.0;
  double least_cpu = 0.0;
  tolbe::IntervalSummary summary;
  for (int r = 0; r < o.repeats; ++r) {
    std::timespec cpu_start{};
    std::timespec cpu_end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_start);
    auto start = std::chrono::steady_clock::now();
    tolbe::Status status =
        tolbe::lawley_intervals(problem, request, results, work, int_work, &summary);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu_end);
    if (status != tolbe::Status::ok) fail(std::string("lawley_intervals: ") + summary.reason);
    double cpu = static_cast<double>(cpu_end.tv_sec - cpu_start.tv_sec) +
                 1e-9 * static_cast<double>(cpu_end.tv_nsec - cpu_start.tv_nsec);
    if (seconds.empty() || took.count() < least) {
      least = took.count();
      least_cpu = cpu;
    }
    seconds.push_back(took.count());
  }
  std::sort(seconds.begin(), seconds.end());
  if (o.method == tolbe::IntervalMethod::bootstrap) {
    std::printf(
        "tolbe %s: n = %d, q = %d, p = %d, B = %d, %d thread%s: least %.4f s (processor %.4f s), "
        "median %.4f s, largest %.4f s of %d; %.2f us per resample (least); %d failed "
        "resamples\n",
        tolbe::bootstrap_interval_name(o.interval), o.rows, q, p, o.resamples, summary.threads,
        summary.threads == 1 ? "" : "s", least, least_cpu, seconds[seconds.size() / 2],
        seconds.back(), o.repeats, 1e6 * least / o.resamples, summary.failed_resamples);
  } else {
    std::printf(
        "tolbe %s: n = %d, q = %d, p = %d: least %.6f s (processor %.6f s), median %.6f s, "
        "largest %.6f s of %d\n",
        tolbe::interval_method_name(o.method), o.rows, q, p, least, least_cpu,
        seconds[seconds.size() / 2], seconds.back(), o.repeats);
  }

  if (!o.results.empty()) {
    // The estimates, from the restricted matrix of the scores.
    tolbe::LawleyProblem matrices{q, p, v_used.data(), q, s.data(), p, {}, {}};
    tolbe::LawleyCorrection c = tolbe::lawley(matrices);
    std::FILE* f = std::fopen(o.results.c_str(), "w");
    if (f == nullptr) fail("cannot write " + o.results);
    std::fprintf(f, "value,i,j,estimate,se,lower,upper\n");
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i <= j; ++i) {
        if (j < p) continue;  // S's: known, no sampling error
        std::size_t e = at(i, j, q);
        std::fprintf(f, "cov,%d,%d,%.17g,%.17g,%.17g,%.17g\n", i + 1, j + 1, c.covariances[e],
                     cov_se[e], cov_lower[e], cov_upper[e]);
      }
    }
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < j; ++i) {
        if (j < p) continue;
        std::size_t e = at(i, j, q);
        std::fprintf(f, "cor,%d,%d,%.17g,%.17g,%.17g,%.17g\n", i + 1, j + 1, c.correlations[e],
                     corr_se[e], corr_lower[e], corr_upper[e]);
      }
    }
    if (std::fclose(f) != 0) fail("cannot write " + o.results);
  }
  return 0;
}
