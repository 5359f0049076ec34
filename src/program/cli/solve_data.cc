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

std::string rows_text(int count) {
  return std::to_string(count) + (count == 1 ? " row" : " rows");
}

// The whole text of a data file (at most max_data_file_bytes); false with
// s.error.
bool data_file_text(const std::string& file, std::string& text, Solved& s) {
  std::string error;
  if (!slurp(file, max_data_file_bytes, text, error)) {
    return fail(s, "", "file_unreadable", "cannot open '" + file + "': " + error, file);
  }
  if (text.size() > max_data_file_bytes) {
    // Rows left out would change every number: a data file is read whole
    // or not at all.
    return fail(s, display_name(file), "file_too_long",
                "the file is longer than " + std::to_string(max_data_file_bytes >> 20) +
                    " MiB, the most tolbe reads of a data file",
                file);
  }
  return true;
}

// The scores of the columns `wanted` (empty: all) of a data file's text;
// false with s.error.
bool scores_of(const std::string& file, const std::string& text,
               std::span<const std::string> wanted, Scores& scores, Solved& s) {
  Fault error;
  if (!read_scores(text, wanted, scores, error)) {
    error.file = file;
    return fail(s, display_name(file), std::move(error));
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
    std::string message = d.reason;
    if (scores.dropped > 0) {
      message += " (" + rows_text(scores.dropped) + " with a missing value left out)";
    }
    // Too few complete rows, or values whose squares overflow.
    return fail(s, display_name(file), scores.rows < 2 ? "too_few_rows" : "not_finite", message,
                file);
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
    return fail(s, "", "file_unreadable", "cannot open '" + file + "': " + error, file);
  }
  if (text.size() > max_problem_file_bytes) {
    return fail(s, name, "file_too_long",
                "the file is longer than " + std::to_string(max_problem_file_bytes >> 20) +
                    " MiB; a var/cov matrix of at most " + std::to_string(max_variables) +
                    " variables needs far less",
                file);
  }
  Fault fault;
  if (!read_named_matrix(text, names, values, fault)) {
    fault.file = file;
    return fail(s, name, std::move(fault));
  }
  return true;
}

// S from --unrestricted: its names and values, given to the library to
// match with the selection (s.call); false with s.error.
bool unrestricted_given(const Options& options, std::vector<std::string>& names,
                        std::vector<double>& values, Solved& s) {
  if (!read_matrix_file(options.unrestricted, names, values, s)) return false;
  if (names.empty()) {
    return fail(s, display_name(options.unrestricted), "no_names",
                "the unrestricted matrix names no variables: it must be the var/cov matrix of "
                "the selection variables",
                options.unrestricted, "unrestricted");
  }
  s.call.p = static_cast<int>(names.size());
  s.call.unrestricted_names = names;
  s.call.unrestricted = values.data();
  s.call.ld_unrestricted = s.call.p;
  return true;
}

// S, as resolved, into s.problem.nonrestricted_cov, its rows and columns
// in the order of the selection.
void set_unrestricted(const std::vector<double>& values, Solved& s) {
  const std::vector<int>& rows = s.resolved.unrestricted_rows;
  std::size_t order = rows.size();
  for (std::size_t i = 0; i < order; ++i) {
    for (std::size_t j = 0; j < order; ++j) {
      s.problem.nonrestricted_cov(static_cast<int>(i) + 1, static_cast<int>(j) + 1) =
          values[static_cast<std::size_t>(rows[i]) + static_cast<std::size_t>(rows[j]) * order];
    }
  }
}

// The call of the named routes: the variables' names, --select and
// --reliabilities as given.
void name_call(const Options& options, const std::vector<std::string>& names, bool from_data,
               Solved& s) {
  Call& call = s.call;
  call.spelling = command_line_spelling();
  call.q = static_cast<int>(names.size());
  call.names = names;
  call.from_data = from_data;
  if (!options.selection_text.empty()) call.selection = list_given(options.selection_text, names);
  set_reliabilities_given(options, s.problem, call);
}

// The problem of a named restricted matrix (--restricted) and a named
// unrestricted one: as raw scores' but with V read, not computed, and the
// intervals of matrix input.
bool solve_named(const Options& options, Solved& s) {
  s.file = options.restricted;
  s.cpu_start = processor_seconds();
  s.start = date_and_time();
  std::string name = display_name(options.restricted);
  std::vector<std::string> names;
  std::vector<double> values;
  if (!read_matrix_file(options.restricted, names, values, s)) return false;
  if (names.empty()) {
    return fail(s, name, "no_names", "the restricted matrix names no variables", options.restricted,
                "restricted");
  }
  s.source.names = names;
  name_call(options, names, false, s);
  std::vector<std::string> s_names;
  std::vector<double> s_values;
  if (!unrestricted_given(options, s_names, s_values, s)) return false;
  Problem& pr = s.problem;
  int q = static_cast<int>(names.size());
  pr.n_total = q;
  if (!resolve("", s)) return false;
  set_unrestricted(s_values, s);
  if (options.n > 0) s.screening = screen_sample_size(options.n, q);
  for (int i = 0; i < q; ++i) {
    for (int j = 0; j < q; ++j) {
      pr.restricted_cov(i + 1, j + 1) =
          values[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * names.size()];
    }
  }
  LawleyProblem lp = library_problem(s);
  if (!convert_reliabilities(lp, name, s)) return false;
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
  std::string text;
  if (!data_file_text(options.data, text, s) || !scores_of(options.data, text, {}, data, s)) {
    return false;
  }
  const std::vector<std::string>& names = data.names;
  s.source.names = names;
  s.source.rows_used = data.rows;
  s.source.rows_dropped = data.dropped;
  name_call(options, names, true, s);

  // The unrestricted side: S, or the pool's header, whose columns the
  // library finds by the selection variables' names.
  Problem& pr = s.problem;
  Scores pool;
  std::vector<std::string> s_names;
  std::vector<double> s_values;
  std::string pool_text;
  if (!options.unrestricted.empty()) {
    if (!unrestricted_given(options, s_names, s_values, s)) return false;
  } else {
    Fault error;
    if (!data_file_text(options.pool, pool_text, s)) return false;
    if (!read_column_names(pool_text, s.call.unrestricted_names, error)) {
      error.file = options.pool;
      return fail(s, display_name(options.pool), std::move(error));
    }
    s.call.from_pool = true;
    s.call.p = static_cast<int>(s.call.unrestricted_names.size());
  }
  int q = static_cast<int>(names.size());
  pr.n_total = q;
  if (!resolve("", s)) return false;
  int p = pr.n_nonrestricted;
  if (!options.unrestricted.empty()) {
    set_unrestricted(s_values, s);
    s.source.unrestricted = options.unrestricted;
  } else {
    std::vector<std::string> wanted;
    for (int k : s.selection) wanted.push_back(names[static_cast<std::size_t>(k)]);
    if (!scores_of(options.pool, pool_text, wanted, pool, s)) return false;
    s.source.pool = options.pool;
    s.source.pool_rows_used = pool.rows;
    s.source.pool_rows_dropped = pool.dropped;
  }
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
  if (!convert_reliabilities(lp, name, s)) return false;
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
