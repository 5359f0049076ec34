#include "tolbe/screening.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace tolbe {
namespace {

double at(const RawScores& s, int row, int column) {
  return s.data[static_cast<std::size_t>(row) +
                static_cast<std::size_t>(column) * static_cast<std::size_t>(s.ld)];
}

bool fits(const RawScores& s) {
  return s.rows > 0 && s.columns > 0 && s.data != nullptr && s.ld >= s.rows;
}

// A row with a NaN in any of the columns is missing.
std::vector<int> complete_rows(const RawScores& s) {
  std::vector<int> rows;
  for (int i = 0; i < s.rows; ++i) {
    bool complete = true;
    for (int j = 0; j < s.columns && complete; ++j) complete = !std::isnan(at(s, i, j));
    if (complete) rows.push_back(i);
  }
  return rows;
}

double median_of(std::vector<double>& x) {
  std::size_t n = x.size();
  auto middle = x.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(x.begin(), middle, x.end());
  double upper = *middle;
  if (n % 2 == 1) return upper;
  double lower = *std::max_element(x.begin(), middle);
  return lower + (upper - lower) / 2.0;
}

// The robust standard deviation of `column` about its median `centre`
// (see the header); 0 when the column does not vary. Reuses `deviation`.
double robust_sd(const std::vector<double>& column, double centre, std::vector<double>& deviation) {
  deviation.resize(column.size());
  double sum = 0.0;
  for (std::size_t k = 0; k < column.size(); ++k) {
    deviation[k] = std::fabs(column[k] - centre);
    sum += deviation[k];
  }
  double mad = median_of(deviation);
  if (mad > 0.0) return 1.482602218505602 * mad;
  return 1.2533141373155003 * sum / static_cast<double>(column.size());
}

// Checks the values of the complete `rows` of `s`, column j being the
// variable variables[j] (or j).
SuspectValues suspect_values(const RawScores& s, const std::vector<int>& rows,
                             std::span<const int> variables) {
  SuspectValues found;
  if (rows.size() < 3) return found;
  std::vector<double> column(rows.size());
  std::vector<double> deviation;
  // Found column by column; the first in row order is kept.
  for (int j = 0; j < s.columns; ++j) {
    for (std::size_t k = 0; k < rows.size(); ++k) column[k] = at(s, rows[k], j);
    double centre = median_of(column);
    double scale = robust_sd(column, centre, deviation);
    if (!(scale > 0.0) || !std::isfinite(scale)) continue;
    int variable = variables.empty() ? j : variables[static_cast<std::size_t>(j)];
    for (int row : rows) {
      double x = at(s, row, j);
      double distance = std::fabs(x - centre) / scale;
      // Counts one of a kind, keeping the first in row order.
      auto keep = [&](int& count, int& first_row, int& first_variable, double& value,
                      double& first_distance) {
        ++count;
        if (first_row >= 0 && row >= first_row) return;
        first_row = row;
        first_variable = variable;
        value = x;
        first_distance = distance;
      };
      if (is_missing_code(x) && distance > code_distance) {
        keep(found.codes, found.first_code_row, found.first_code_variable, found.first_code,
             found.first_code_distance);
      } else if (distance > outlier_distance) {
        keep(found.outlying, found.outlying_row, found.outlying_variable, found.outlying_value,
             found.outlying_distance);
      }
    }
  }
  return found;
}

// The variables of the complete `rows` of `data` that are not selected
// and have heavy tails, their codes and outlying values left out.
void heavy_tails(const RawScores& data, const std::vector<int>& rows,
                 std::span<const int> selection, Screening& s) {
  auto count = static_cast<int>(rows.size());
  if (count < heavy_tail_min_rows || count >= heavy_tail_rows) return;
  std::vector<double> column(rows.size());
  std::vector<double> deviation;
  std::vector<double> kept;
  for (int j = 0; j < data.columns; ++j) {
    if (std::find(selection.begin(), selection.end(), j) != selection.end()) continue;
    for (std::size_t k = 0; k < rows.size(); ++k) column[k] = at(data, rows[k], j);
    // The kurtosis does not depend on the order, which the median changes.
    double centre = median_of(column);
    double scale = robust_sd(column, centre, deviation);
    if (!(scale > 0.0) || !std::isfinite(scale)) continue;
    kept.clear();
    for (double x : column) {
      double distance = std::fabs(x - centre) / scale;
      bool code = is_missing_code(x) && distance > code_distance;
      if (!code && distance <= outlier_distance) kept.push_back(x);
    }
    double mean = 0.0;
    for (double x : kept) mean += x;
    mean /= static_cast<double>(kept.size());
    double m2 = 0.0;
    double m4 = 0.0;
    for (double x : kept) {
      double d2 = (x - mean) * (x - mean);
      m2 += d2;
      m4 += d2 * d2;
    }
    m2 /= static_cast<double>(kept.size());
    m4 /= static_cast<double>(kept.size());
    double excess = m4 / (m2 * m2) - 3.0;
    if (!(excess > heavy_tail_kurtosis) || !std::isfinite(excess)) continue;
    ++s.heavy_tailed;
    if (s.heaviest_variable < 0 || excess > s.heaviest_kurtosis) {
      s.heaviest_variable = j;
      s.heaviest_kurtosis = excess;
    }
  }
}

// The selection scores of one row, -0 made 0 so that it matches 0.
using Tuple = std::vector<double>;

Tuple tuple_of(const RawScores& s, int row, std::span<const int> columns) {
  Tuple t(columns.size());
  for (std::size_t k = 0; k < columns.size(); ++k) t[k] = at(s, row, columns[k]) + 0.0;
  return t;
}

void match_pool(const RawScores& data, const std::vector<int>& data_rows, const RawScores& pool,
                const std::vector<int>& pool_rows, std::span<const int> selection, Screening& s) {
  std::vector<int> pool_columns(static_cast<std::size_t>(pool.columns));
  for (int k = 0; k < pool.columns; ++k) pool_columns[static_cast<std::size_t>(k)] = k;
  std::vector<Tuple> applicants;
  applicants.reserve(pool_rows.size());
  for (int row : pool_rows) applicants.push_back(tuple_of(pool, row, pool_columns));
  std::sort(applicants.begin(), applicants.end());
  std::vector<Tuple> selected;
  selected.reserve(data_rows.size());
  for (int row : data_rows) selected.push_back(tuple_of(data, row, selection));
  std::sort(selected.begin(), selected.end());

  s.selected_rows = static_cast<int>(selected.size());
  for (auto first = selected.begin(); first != selected.end();) {
    auto last = std::upper_bound(first, selected.end(), *first);
    auto in_pool = std::equal_range(applicants.begin(), applicants.end(), *first);
    auto among_selected = last - first;
    auto among_applicants = in_pool.second - in_pool.first;
    if (among_applicants > 0) s.selected_in_pool += static_cast<int>(among_selected);
    if (among_applicants >= 2 * among_selected)
      s.selected_doubled += static_cast<int>(among_selected);
    first = last;
  }
  // Whether scores seldom repeat, seen among the selected themselves (the
  // pool's repeats are what is looked for).
  std::size_t repeated = 0;
  for (std::size_t k = 0; k < selected.size(); ++k) {
    bool same_before = k > 0 && selected[k - 1] == selected[k];
    bool same_after = k + 1 < selected.size() && selected[k + 1] == selected[k];
    if (same_before || same_after) ++repeated;
  }
  s.pool_fine_grained = 10 * repeated < selected.size();
}

}  // namespace

bool is_missing_code(double x) {
  double magnitude = std::fabs(x);
  for (double nines = 9.0, eights = 8.0; nines < 1e6; nines = nines * 10.0 + 9.0) {
    if (magnitude == nines || magnitude == eights) return true;
    eights = eights * 10.0 + 8.0;
  }
  return false;
}

Screening screen_sample_size(int n, int q) {
  Screening s;
  s.q = q < 0 ? 0 : q;
  s.rows = n < 0 ? 0 : n;
  return s;
}

Screening screen_scores(const RawScores& data, const RawScores& pool,
                        std::span<const int> selection) {
  Screening s;
  if (!fits(data)) return s;
  s.q = data.columns;
  std::vector<int> data_rows = complete_rows(data);
  s.rows = static_cast<int>(data_rows.size());
  s.data = suspect_values(data, data_rows, {});
  heavy_tails(data, data_rows, selection, s);
  if (!fits(pool)) return s;
  // The pool's columns are the selection variables: p of them, each a
  // variable of the data.
  std::vector<int> chosen(selection.begin(), selection.end());
  if (chosen.empty()) {
    for (int k = 0; k < pool.columns && k < data.columns; ++k) chosen.push_back(k);
  }
  if (static_cast<int>(chosen.size()) != pool.columns) return s;
  for (int v : chosen) {
    if (v < 0 || v >= data.columns) return s;
  }
  std::vector<int> pool_rows = complete_rows(pool);
  s.pool = suspect_values(pool, pool_rows, chosen);
  if (!data_rows.empty() && !pool_rows.empty()) {
    match_pool(data, data_rows, pool, pool_rows, chosen, s);
  }
  return s;
}

}  // namespace tolbe
