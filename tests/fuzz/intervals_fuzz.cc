// Standard errors and intervals on random sizes, methods, levels, sample
// sizes, raw scores (NaN, infinities and huge values among them), pools,
// resamples and threads: no crash, no undefined behaviour, every invalid
// argument reported and never computed on, and valid results that are
// SEs >= 0 with lower <= upper.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/screening.h"
#include "tolbe/validity.h"

namespace {

struct Bytes {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t next() { return size > 0 ? (--size, *data++) : std::uint8_t{0}; }
  double value() {
    switch (next() % 10) {
      case 0:
        return std::numeric_limits<double>::quiet_NaN();
      case 1:
        return next() % 2 ? HUGE_VAL : -HUGE_VAL;
      case 2:
        return 0.0;
      case 3:
        return next() % 2 ? 1e300 : 1e-300;
      default:
        return (static_cast<int>(next()) - 128) / 16.0 + next() / 4096.0;
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolbe;
  Bytes in{data, size};
  int q = in.next() % 6;
  int p = in.next() % 7;  // may exceed q
  IntervalRequest request;
  request.method = static_cast<IntervalMethod>(in.next() % 5);  // 4 is no method
  request.level = in.next() % 16 == 0 ? in.value() : (in.next() + 0.5) / 256.0;
  request.n = static_cast<int>(in.next()) - 8;
  request.n_unrestricted = in.next() % 3 == 0 ? static_cast<int>(in.next()) - 8 : 0;
  request.resamples = 5 + in.next() % 40;
  request.seed = in.next();
  request.threads = static_cast<int>(in.next() % 5) - 1;
  request.interval = static_cast<BootstrapInterval>(in.next() % 3);
  bool with_data = in.next() % 2 == 0;
  bool with_pool = in.next() % 3 == 0;
  int rows = static_cast<int>(in.next() % 40) - 2;
  int pool_rows = static_cast<int>(in.next() % 40) - 2;
  int data_columns = in.next() % 8 == 0 ? q + 1 : q;
  int pool_columns = in.next() % 8 == 0 ? p + 1 : p;
  bool with_selection = in.next() % 2 == 0;
  int reliabilities_count = in.next() % 8;

  std::vector<double> v(static_cast<std::size_t>(q * q) + 1);
  std::vector<double> s(static_cast<std::size_t>(p * p) + 1);
  for (double& x : v) x = in.value();
  for (double& x : s) x = in.value();
  // Scores: mostly ordinary values, so that some problems get through.
  auto scores = [&in](int n, int columns) {
    std::vector<double> x(static_cast<std::size_t>(n > 0 ? n * columns : 0) + 1);
    for (double& value : x) value = in.next() % 8 == 0 ? in.value() : in.next() / 32.0;
    return x;
  };
  std::vector<double> raw = scores(rows, data_columns);
  std::vector<double> pool = scores(pool_rows, pool_columns);
  std::vector<int> selection;
  if (with_selection) {
    for (int k = 0; k < p; ++k) selection.push_back(static_cast<int>(in.next() % 7));
  }
  std::vector<double> reliabilities(static_cast<std::size_t>(reliabilities_count));
  for (double& x : reliabilities) x = in.next() % 4 == 0 ? in.value() : in.next() / 255.0;

  LawleyProblem problem;
  problem.q = q;
  problem.p = p;
  problem.restricted = with_data ? nullptr : v.data();
  problem.ld_restricted = q > 0 ? q : 1;
  problem.unrestricted = with_pool ? nullptr : s.data();
  problem.ld_unrestricted = p > 0 ? p : 1;
  problem.selection = selection;
  problem.reliabilities = reliabilities;
  if (with_data) request.data = {rows, data_columns, raw.data(), rows > 0 ? rows : 1};
  if (with_pool)
    request.pool = {pool_rows, pool_columns, pool.data(), pool_rows > 0 ? pool_rows : 1};

  // The screening of the same scores: its places within them, its
  // messages written whatever the values.
  if (with_data) {
    Screening screened = screen_scores(request.data, request.pool, selection);
    Finding found[max_findings];
    int count = screening_findings(screened, found);
    if (count < 0 || count > max_findings) std::abort();
    for (int f = 0; f < count; ++f) {
      if (found[f].row >= std::max(rows, pool_rows) || found[f].variables[0] >= data_columns) {
        std::abort();
      }
      char text[512];
      finding_message(found[f], {}, text, sizeof text);
    }
  }

  const std::uint64_t untouched_bits = 0x7ff4'0000'dead'beefULL;
  double untouched;
  std::memcpy(&untouched, &untouched_bits, sizeof untouched);
  auto is_untouched = [&](const double& x) { return std::memcmp(&x, &untouched_bits, 8) == 0; };
  std::size_t n = static_cast<std::size_t>(q * q) + 1;
  std::vector<double> se(n, untouched), lower(n, untouched), upper(n, untouched);
  std::vector<double> dis_se(n, untouched);
  int ld = q > 0 ? q : 1;
  IntervalResults results;
  results.correlations = {se.data(), lower.data(), upper.data(), ld};
  results.disattenuated = {dis_se.data(), nullptr, nullptr, ld};

  WorkspaceSize need = lawley_intervals_workspace_size(q, p, request);
  std::vector<double> work(need.doubles == SIZE_MAX ? 0 : need.doubles);
  std::vector<int> int_work(need.ints == SIZE_MAX ? 0 : need.ints);
  IntervalSummary summary;
  Status status = lawley_intervals(problem, request, results, work, int_work, &summary);
  if (summary.status != status) std::abort();
  if (status == Status::invalid_argument) {
    if (summary.argument == Argument::none || summary.reason == nullptr) std::abort();
    for (const double& x : se) {
      if (!is_untouched(x)) std::abort();
    }
    return 0;
  }
  if (p > q || request.method == IntervalMethod::none) std::abort();
  if (status == Status::ok) {
    for (int j = 0; j < q; ++j) {
      for (int i = 0; i < q; ++i) {
        auto k = static_cast<std::size_t>(i + j * q);
        if (is_untouched(se[k]) || is_untouched(lower[k]) || is_untouched(upper[k])) std::abort();
        if (se[k] < 0.0) std::abort();
        if (lower[k] > upper[k]) std::abort();
      }
    }
    if (summary.failed_resamples < 0 || summary.failed_resamples > summary.resamples) std::abort();
  }

  // The validity question on the same problem and request.
  std::vector<int> predictors;
  int k = 1 + in.next() % 4;
  for (int t = 0; t < k; ++t) predictors.push_back(static_cast<int>(in.next() % 7) - 1);
  ValidityQuestion question{static_cast<int>(in.next() % 7) - 1, predictors,
                            static_cast<int>(in.next() % 5) - 1,
                            in.next() % 4 == 0 ? in.value() : (in.next() + 1) / 256.0};
  std::size_t count = validity_values(predictors.size());
  std::vector<double> estimate(count, untouched), v_se(count, untouched), v_lower(count, untouched),
      v_upper(count, untouched);
  WorkspaceSize v_need = lawley_validity_workspace_size(q, p, predictors.size(), request);
  std::vector<double> v_work(v_need.doubles == SIZE_MAX ? 0 : v_need.doubles);
  std::vector<int> v_ints(v_need.ints == SIZE_MAX ? 0 : v_need.ints);
  Status v_status = lawley_validity(problem, request, question,
                                    {estimate.data(), v_se.data(), v_lower.data(), v_upper.data()},
                                    v_work, v_ints, &summary);
  if (v_status == Status::invalid_argument) {
    for (const double& x : estimate) {
      if (!is_untouched(x)) std::abort();
    }
    return 0;
  }
  for (std::size_t value = 0; value < count; ++value) {
    if (is_untouched(estimate[value]) || is_untouched(v_se[value])) std::abort();
    if (v_se[value] < 0.0) std::abort();
    if (v_lower[value] > v_upper[value]) std::abort();
  }
  return 0;
}
