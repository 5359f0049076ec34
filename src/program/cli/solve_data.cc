// A problem of raw scores: the restricted sample's (--data) and, for the
// selection variables, their unrestricted var/cov matrix (--unrestricted,
// such as a test manual's pool figures) or the pool's scores (--pool).

#include <algorithm>
#include <string>
#include <vector>

#include "cli/data_file.h"
#include "cli/problem_file.h"
#include "cli/solved.h"

namespace tolbe {
namespace {

std::string listed(const std::vector<std::string>& names, const std::vector<int>& columns) {
  std::string text;
  for (int k : columns) {
    if (!text.empty()) text += ", ";
    text += names[static_cast<std::size_t>(k)];
  }
  return text;
}

std::string rows_text(int count) {
  return std::to_string(count) + (count == 1 ? " row" : " rows");
}

// Reads a data file whole (at most max_data_file_bytes); false with s.error.
bool read_data_file(const std::string& file, std::span<const std::string> wanted, Scores& scores,
                    Solved& s) {
  std::string text;
  std::string error;
  if (!slurp(file, max_data_file_bytes, text, error)) {
    s.error = "tolbe: cannot open '" + file + "': " + error;
    return false;
  }
  if (text.size() > max_data_file_bytes) {
    // Rows left out would change every number: a data file is read whole
    // or not at all.
    s.error = "tolbe: " + display_name(file) + ": the file is longer than " +
              std::to_string(max_data_file_bytes >> 20) +
              " MiB, the most tolbe reads of a data file";
    return false;
  }
  if (!read_scores(text, wanted, scores, error)) {
    s.error = "tolbe: " + display_name(file) + ":" + error;
    return false;
  }
  return true;
}

// The var/cov matrix of the complete rows of `scores` into `to`, by the
// library; false with s.error (fewer than 2 rows).
bool covariances_of(const Scores& scores, const std::string& file, Matrix& to, Solved& s) {
  RawScores raw{scores.rows, static_cast<int>(scores.names.size()), scores.values.data(),
                std::max(1, scores.rows)};
  std::vector<double> means(scores.names.size());
  DataSummary d = covariance_from_data(raw, means.data(), to.data(), Matrix::leading_dimension);
  if (d.status != Status::ok) {
    s.error = "tolbe: " + display_name(file) + ": " + d.reason;
    if (scores.dropped > 0) {
      s.error += " (" + rows_text(scores.dropped) + " with a missing value left out)";
    }
    return false;
  }
  return true;
}

// A var/cov matrix with a header of names from `file`: false with s.error
// when it cannot be read.
bool read_matrix_file(const std::string& file, std::vector<std::string>& names,
                      std::vector<double>& values, Solved& s) {
  std::string name = display_name(file);
  std::string text;
  std::string error;
  if (!slurp(file, max_problem_file_bytes, text, error)) {
    s.error = "tolbe: cannot open '" + file + "': " + error;
    return false;
  }
  if (text.size() > max_problem_file_bytes) {
    s.error = "tolbe: " + name + ": the file is longer than " +
              std::to_string(max_problem_file_bytes >> 20) +
              " MiB; a var/cov matrix of at most 50 variables needs far less";
    return false;
  }
  if (!read_named_matrix(text, names, values, error)) {
    s.error = "tolbe: " + name + ":" + error;
    return false;
  }
  return true;
}

// S from --unrestricted into s.problem.nonrestricted_cov, in the order of
// s.selection, which it gives when --select does not.
bool read_unrestricted(const Options& options, const std::vector<std::string>& names, Solved& s) {
  const std::string& source = options.data.empty() ? options.restricted : options.data;
  std::string name = display_name(options.unrestricted);
  std::vector<std::string> s_names;
  std::vector<double> values;
  if (!read_matrix_file(options.unrestricted, s_names, values, s)) return false;
  if (s_names.empty()) {
    s.error = "tolbe: " + name +
              ": the unrestricted matrix names no variables: it must be the var/cov matrix of the "
              "selection variables";
    return false;
  }
  // Where each of the data's columns is in S, by name.
  std::vector<int> row_of(names.size(), -1);
  for (std::size_t r = 0; r < s_names.size(); ++r) {
    auto at = std::find(names.begin(), names.end(), s_names[r]);
    if (at == names.end()) {
      s.error = "tolbe: " + name + ": the unrestricted matrix names \"" + s_names[r] +
                "\", which is no column of " + display_name(source);
      return false;
    }
    row_of[static_cast<std::size_t>(at - names.begin())] = static_cast<int>(r);
  }
  if (options.selection_text.empty()) {
    for (const std::string& s_name : s_names) {
      s.selection.push_back(
          static_cast<int>(std::find(names.begin(), names.end(), s_name) - names.begin()));
    }
  } else {
    bool same = s.selection.size() == s_names.size();
    for (int k : s.selection) same = same && row_of[static_cast<std::size_t>(k)] >= 0;
    if (!same) {
      std::vector<int> columns;
      for (const std::string& s_name : s_names) {
        columns.push_back(
            static_cast<int>(std::find(names.begin(), names.end(), s_name) - names.begin()));
      }
      s.error = "tolbe: " + name + ": the unrestricted matrix is that of " +
                listed(names, columns) + ", but '--select' names " + listed(names, s.selection);
      return false;
    }
  }
  // Rows and columns in the order of the selection.
  std::size_t order = s_names.size();
  for (std::size_t i = 0; i < order; ++i) {
    auto ri = static_cast<std::size_t>(row_of[static_cast<std::size_t>(s.selection[i])]);
    for (std::size_t j = 0; j < order; ++j) {
      auto rj = static_cast<std::size_t>(row_of[static_cast<std::size_t>(s.selection[j])]);
      s.problem.nonrestricted_cov(static_cast<int>(i) + 1, static_cast<int>(j) + 1) =
          values[ri + rj * order];
    }
  }
  return true;
}

// The reliabilities of --reliabilities into s.problem, those of the other
// variables in index order after the p selection variables' places, as
// solve() has them; the variables not named get 1, with a note.
bool set_reliabilities(const Options& options, const std::vector<std::string>& names, Solved& s) {
  if (options.reliabilities.empty()) return true;
  const std::string& source = options.data.empty() ? options.restricted : options.data;
  Problem& pr = s.problem;
  std::size_t q = names.size();
  std::vector<double> of(q, 1.0);
  std::vector<bool> given(q, false);
  for (const auto& [name, value] : options.reliabilities) {
    auto at = std::find(names.begin(), names.end(), name);
    if (at == names.end()) {
      s.error = "tolbe: '--reliabilities' names \"" + name + "\", which is no column of " +
                display_name(source);
      return false;
    }
    auto k = static_cast<std::size_t>(at - names.begin());
    if (std::find(s.selection.begin(), s.selection.end(), static_cast<int>(k)) !=
        s.selection.end()) {
      s.error = "tolbe: '--reliabilities' names \"" + name +
                "\", a selection variable: reliabilities are those of the other variables";
      return false;
    }
    if (given[k]) {
      s.error = "tolbe: '--reliabilities' names \"" + name + "\" twice";
      return false;
    }
    given[k] = true;
    of[k] = value;
    s.criteria.push_back(static_cast<int>(k));
  }
  pr.reliability_flag = 1;
  int place = pr.n_nonrestricted;
  std::vector<int> taken_as_1;
  std::vector<int> numbers;
  for (std::size_t k = 0; k < q; ++k) {
    if (std::find(s.selection.begin(), s.selection.end(), static_cast<int>(k)) !=
        s.selection.end()) {
      continue;
    }
    pr.reliabilities[place++] = of[k];
    if (!given[k]) {
      taken_as_1.push_back(static_cast<int>(k));
      numbers.push_back(static_cast<int>(k) + 1);
    }
  }
  if (!taken_as_1.empty()) {
    s.notes.push_back({"reliabilities_taken_as_1", Severity::note,
                       "no reliability given for " + listed(names, taken_as_1) + ": taken as 1",
                       numbers});
  }
  return true;
}

// The problem of a named restricted matrix (--restricted) and a named
// unrestricted one: as raw scores' but with V read, not computed, and the
// intervals of matrix input.
bool solve_named(const Options& options, Solved& s) {
  s.file = options.restricted;
  s.cpu_start = processor_seconds();
  s.start = date_and_time();
  std::string name = display_name(options.restricted);
  std::string error;
  std::vector<std::string> names;
  std::vector<double> values;
  if (!read_matrix_file(options.restricted, names, values, s)) return false;
  if (names.empty()) {
    s.error = "tolbe: " + name + ": the restricted matrix names no variables";
    return false;
  }
  s.source.names = names;
  if (!options.selection_text.empty() &&
      !select_columns(options.selection_text, names, s.selection, error)) {
    s.error = "tolbe: " + error;
    return false;
  }
  if (!read_unrestricted(options, names, s)) return false;
  Problem& pr = s.problem;
  int q = static_cast<int>(names.size());
  pr.n_total = q;
  pr.n_nonrestricted = static_cast<int>(s.selection.size());
  if (!set_reliabilities(options, names, s)) return false;
  if (options.n > 0) s.screening = screen_sample_size(options.n, q);
  for (int i = 0; i < q; ++i) {
    for (int j = 0; j < q; ++j) {
      pr.restricted_cov(i + 1, j + 1) =
          values[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * names.size()];
    }
  }
  LawleyProblem lp = library_problem(s);
  if (!convert_reliabilities(options, lp, name, s)) return false;
  if (!correct(lp, name, s)) return false;
  if (refused_by_findings(s)) return true;
  IntervalRequest request = interval_request(options);
  if (options.interval != IntervalMethod::none && !add_intervals(lp, request, name, s)) {
    return false;
  }
  return options.criterion.empty() || add_regression(lp, request, options, name, s);
}

}  // namespace

bool solve_data(const Options& options, Solved& s) {
  if (!options.restricted.empty()) return solve_named(options, s);
  s.file = options.data;
  s.raw = true;
  s.cpu_start = processor_seconds();
  s.start = date_and_time();
  std::string name = display_name(options.data);
  Scores data;
  if (!read_data_file(options.data, {}, data, s)) return false;
  const std::vector<std::string>& names = data.names;
  s.source.names = names;
  s.source.rows_used = data.rows;
  s.source.rows_dropped = data.dropped;

  if (!options.selection_text.empty()) {
    std::string error;
    if (!select_columns(options.selection_text, names, s.selection, error)) {
      s.error = "tolbe: " + error;
      return false;
    }
  }
  Problem& pr = s.problem;
  Scores pool;
  if (!options.unrestricted.empty()) {
    if (!read_unrestricted(options, names, s)) return false;
    s.source.unrestricted = options.unrestricted;
  } else {
    std::vector<std::string> wanted;
    for (int k : s.selection) wanted.push_back(names[static_cast<std::size_t>(k)]);
    if (!read_data_file(options.pool, wanted, pool, s)) return false;
    s.source.pool = options.pool;
    s.source.pool_rows_used = pool.rows;
    s.source.pool_rows_dropped = pool.dropped;
  }
  int q = static_cast<int>(names.size());
  int p = static_cast<int>(s.selection.size());
  pr.n_total = q;
  pr.n_nonrestricted = p;
  if (!set_reliabilities(options, names, s)) return false;
  if (data.dropped > 0) {
    s.notes.insert(
        s.notes.begin(),
        {"rows_dropped",
         Severity::note,
         std::to_string(data.dropped) + " of " + rows_text(data.rows + data.dropped) +
             " have a missing value and were left out: " + rows_text(data.rows) + " used",
         {}});
  }
  if (pool.dropped > 0) {
    s.notes.insert(
        s.notes.begin() + (data.dropped > 0 ? 1 : 0),
        {"pool_rows_dropped",
         Severity::note,
         "the pool (" + display_name(options.pool) + "): " + std::to_string(pool.dropped) + " of " +
             rows_text(pool.rows + pool.dropped) +
             " have a missing value in a selection variable and were left out: " +
             rows_text(pool.rows) + " used",
         {}});
  }
  if (!covariances_of(data, options.data, pr.restricted_cov, s)) return false;
  if (!options.pool.empty() && !covariances_of(pool, options.pool, pr.nonrestricted_cov, s)) {
    return false;
  }

  s.data_rows = data.row_numbers;
  s.pool_rows = pool.row_numbers;
  s.screening =
      screen_scores({data.rows, q, data.values.data(), std::max(1, data.rows)},
                    {pool.rows, p, pool.values.data(), std::max(1, pool.rows)}, s.selection);

  // The point estimates: lawley() on the var/cov matrices of the scores.
  LawleyProblem lp = library_problem(s);
  if (!convert_reliabilities(options, lp, name, s)) return false;
  if (!correct(lp, name, s)) return false;
  if (refused_by_findings(s)) return true;
  IntervalRequest request = interval_request(options);
  if (options.interval == IntervalMethod::none) {
    return options.criterion.empty() || add_regression(lp, request, options, name, s);
  }

  // The intervals from the same scores: the library computes V (and S from
  // the pool) again, from the same rows in the same way.
  request.data = {data.rows, q, data.values.data(), std::max(1, data.rows)};
  lp.restricted = nullptr;
  lp.ld_restricted = 0;
  if (!options.pool.empty()) {
    request.pool = {pool.rows, p, pool.values.data(), std::max(1, pool.rows)};
    lp.unrestricted = nullptr;
    lp.ld_unrestricted = 0;
  }
  if (!add_intervals(lp, request, name, s)) return false;
  return options.criterion.empty() || add_regression(lp, request, options, name, s);
}

}  // namespace tolbe
