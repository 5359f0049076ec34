#include "intervals/raw_scores.h"

#include <cmath>
#include <cstddef>

#include "correction/sizes.h"

namespace tolbe::intervals {
namespace {

std::size_t sz(int n) {
  return n <= 0 ? 0 : static_cast<std::size_t>(n);
}

// Complete rows and the first infinite score, without writing anything.
struct RowCount {
  int complete = 0;
  bool infinite = false;
};
RowCount count_rows(const RawScores& r) {
  RowCount count;
  ConstView x{r.data, r.ld};
  for (int i = 0; i < r.rows; ++i) {
    bool complete = true;
    for (int j = 0; j < r.columns; ++j) {
      double value = x(i, j);
      if (std::isnan(value)) complete = false;
      if (std::isinf(value)) count.infinite = true;
    }
    if (complete) ++count.complete;
  }
  return count;
}

bool row_complete(ConstView x, int columns, int i) {
  for (int j = 0; j < columns; ++j) {
    if (std::isnan(x(i, j))) return false;
  }
  return true;
}

}  // namespace

bool has_scores(const RawScores& r) {
  return r.data != nullptr || r.rows != 0 || r.columns != 0;
}

api::Invalid check_scores(const RawScores& r, int columns, Argument which) {
  if (r.rows < 0) return {which, "the number of rows is negative"};
  if (r.columns != columns) {
    return {which, which == Argument::pool
                       ? "the pool scores do not have p columns, one per selection variable"
                       : "the scores do not have q columns, one per variable"};
  }
  if (r.rows > 0 && r.data == nullptr) return {which, "the scores are null"};
  if (r.ld < at_least_one(r.rows)) {
    return {which, "the leading dimension is smaller than the number of rows"};
  }
  return {Argument::none, ""};
}

api::Invalid check_rows(const RawScores& r, Argument which, int minimum, int& complete) {
  RowCount count = count_rows(r);
  complete = count.complete;  // also when too few, to say so
  if (count.infinite) return {which, "a score is infinite"};
  if (count.complete < minimum) {
    return {which, minimum == 2 ? "fewer than 2 complete rows"
                                : "fewer than 3 complete rows, which adf and the bootstrap need"};
  }
  complete = count.complete;
  return {Argument::none, ""};
}

void summarise(const RawScores& r, int complete, double* means, View cov) {
  ConstView x{r.data, r.ld};
  int c = r.columns;
  for (int j = 0; j < c; ++j) means[j] = 0.0;
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) means[j] += x(i, j);
  }
  for (int j = 0; j < c; ++j) means[j] /= complete;
  // Row by row, each row's completeness checked once; every sum still adds
  // the rows in order.
  for (int j = 0; j < c; ++j) {
    for (int k = 0; k <= j; ++k) cov(k, j) = 0.0;
  }
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) {
      double dj = x(i, j) - means[j];
      for (int k = 0; k <= j; ++k) cov(k, j) += (x(i, k) - means[k]) * dj;
    }
  }
  for (int j = 0; j < c; ++j) {
    for (int k = 0; k <= j; ++k) {
      cov(k, j) /= complete - 1;
      cov(j, k) = cov(k, j);
    }
  }
}

bool all_finite(int n, ConstView a) {
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (!std::isfinite(a(i, j))) return false;
    }
  }
  return true;
}

api::Invalid overflow(Argument which) {
  return {which, "the scores are so large that their variances or covariances overflow"};
}

void centre(const RawScores& r, const double* means, bool row_major, int complete, double* out) {
  ConstView x{r.data, r.ld};
  int c = r.columns;
  int row = 0;
  for (int i = 0; i < r.rows; ++i) {
    if (!row_complete(x, c, i)) continue;
    for (int j = 0; j < c; ++j) {
      double value = x(i, j) - means[j];
      if (row_major) {
        out[sz(row) * sz(c) + sz(j)] = value;
      } else {
        out[sz(row) + sz(j) * sz(complete)] = value;
      }
    }
    ++row;
  }
}

}  // namespace tolbe::intervals

namespace tolbe {

DataSummary covariance_from_data(const RawScores& scores, double* means, double* covariances,
                                 int ld_covariances) {
  DataSummary d{};
  auto fail = [&d](const char* reason) {
    d.status = Status::invalid_argument;
    d.argument = Argument::data;
    d.reason = reason;
    return d;
  };
  if (scores.columns < 0) return fail("the number of columns is negative");
  api::Invalid invalid = intervals::check_scores(scores, scores.columns, Argument::data);
  if (invalid.argument != Argument::none) return fail(invalid.reason);
  if (scores.columns > 0 && (covariances == nullptr || means == nullptr)) {
    return fail("means or covariances is null");
  }
  if (ld_covariances < at_least_one(scores.columns)) {
    return fail("the leading dimension of covariances is smaller than the number of columns");
  }
  int complete = 0;
  invalid = intervals::check_rows(scores, Argument::data, 2, complete);
  if (invalid.argument != Argument::none) {
    d.rows_used = complete;
    d.rows_dropped = scores.rows - complete;
    return fail(invalid.reason);
  }
  intervals::summarise(scores, complete, means, {covariances, ld_covariances});
  if (!intervals::all_finite(scores.columns, {covariances, ld_covariances})) {
    return fail(intervals::overflow(Argument::data).reason);
  }
  d.rows_used = complete;
  d.rows_dropped = scores.rows - complete;
  return d;
}

}  // namespace tolbe
