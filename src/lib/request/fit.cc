// A fit: the steps every client took one after the other, taken once.

#include "tolbe/fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>

#include "tolbe/screening.h"
#include "tolbe/validity.h"

namespace tolbe {
namespace {

using Values = std::vector<double>;

std::size_t square(int n) {
  return static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
}

std::size_t at(int i, int j, int ld) {
  return static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(ld);
}

// The n x n `a` (leading dimension ld) as a dense copy.
Values dense(const double* a, int n, int ld) {
  Values out(square(n));
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) out[at(i, j, n)] = a[at(i, j, ld)];
  }
  return out;
}

// `a` with the triangle `side` ('l' or 'u') copied onto the other side.
void mirror(Values& a, int n, char side) {
  for (int j = 0; j < n; ++j) {
    for (int i = j + 1; i < n; ++i) {
      if (side == 'l') {
        a[at(j, i, n)] = a[at(i, j, n)];
      } else {
        a[at(i, j, n)] = a[at(j, i, n)];
      }
    }
  }
}

// Raw scores are given by their values, whatever their rows.
bool given(const RawScores& scores) {
  return scores.data != nullptr;
}

std::string number(int value) {
  return std::to_string(value);
}

// Says what the fit has to say, in the client's words.
struct Sayer {
  const Call& call;
  std::vector<FitMessage>& said;

  std::string named(CallArgument argument) const { return mention(call.spelling, argument); }
  std::string missing() const {
    return call.spelling.missing_value != nullptr ? call.spelling.missing_value : "NaN";
  }
  // A place (row or column) as the client's users count.
  std::string place(int index) const { return number(index + call.spelling.first_index); }

  void add(std::string code, Severity severity, std::string message, CallArgument argument = {},
           std::vector<int> variables = {}) {
    said.push_back({std::move(code), severity, argument, std::move(message), std::move(variables)});
  }
  void refuse(const Refusal& r) {
    add(refusal_code_name(r.code), Severity::error, r.message, r.argument, r.variables);
  }
  void error(const char* code, CallArgument argument, std::string message) {
    add(code, Severity::error, std::move(message), argument);
  }
};

// The var/cov matrix and means of raw scores, or why there are none: the
// first score that is not finite, else how few rows are complete.
bool covariance(Sayer& say, CallArgument what, const RawScores& scores,
                const std::vector<std::string>& names, Values& cov, Values& means, int& used,
                int& dropped) {
  int c = scores.columns;
  cov.assign(square(c), 0.0);
  means.assign(static_cast<std::size_t>(c), 0.0);
  DataSummary summary = covariance_from_data(scores, means.data(), cov.data(), c > 0 ? c : 1);
  used = summary.rows_used;
  dropped = summary.rows_dropped;
  if (summary.status == Status::ok) return true;
  int complete = 0;
  for (int i = 0; i < scores.rows; ++i) {
    bool whole = true;
    for (int j = 0; j < c; ++j) {
      double x = scores.data[at(i, j, scores.ld)];
      if (std::isinf(x)) {
        say.error("not_finite", what,
                  say.named(what) + " holds a score that is not finite (" +
                      (x > 0 ? "Inf" : "-Inf") + ") in row " + say.place(i) + ", column " +
                      variable_label(names, j) + "; a missing score is " + say.missing());
        return false;
      }
      whole = whole && !std::isnan(x);
    }
    complete += whole;
  }
  if (complete < 2) {
    say.error("too_few_rows", what,
              say.named(what) + " has " + number(complete) + " complete rows (without " +
                  say.missing() + ") of " + number(scores.rows) +
                  "; the var/cov matrix needs at least 2");
  } else {
    say.error("invalid_value", what, say.named(what) + ": " + summary.reason);
  }
  return false;
}

void dropped_note(Sayer& say, CallArgument what, int dropped, int used) {
  if (dropped <= 0) return;
  say.add(what == CallArgument::data ? "rows_dropped" : "pool_rows_dropped", Severity::note,
          say.named(what) + ": " + number(dropped) + " of " + number(dropped + used) +
              " rows hold a missing score (" + say.missing() + ") and were left out (listwise); " +
              number(used) + " used");
}

struct Correction {
  Status status = Status::ok;
  Diagnostics diagnostics;
};

// The problem as the correction takes it.
LawleyProblem problem_of(const Fit& f, const ResolvedCall& r) {
  LawleyProblem lp;
  lp.q = f.q;
  lp.p = f.p;
  lp.restricted = f.restricted.data();
  lp.ld_restricted = std::max(f.q, 1);
  lp.unrestricted = f.unrestricted.data();
  lp.ld_unrestricted = std::max(f.p, 1);
  lp.selection = r.selection;
  lp.reliabilities = r.reliabilities;
  return lp;
}

Status correct(const LawleyProblem& lp, Fit& f, Diagnostics* d) {
  for (int m = 0; m < 3; ++m) f.matrices[m].assign(square(f.q), 0.0);
  bool dis = !lp.reliabilities.empty();
  LawleyResults results{f.matrices[0].data(),
                        std::max(f.q, 1),
                        f.matrices[1].data(),
                        std::max(f.q, 1),
                        dis ? f.matrices[2].data() : nullptr,
                        std::max(f.q, 1)};
  WorkspaceSize need = lawley_workspace_size(f.q, f.p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  return lawley(lp, results, work, int_work, d);
}

// Whether the correction reads element (a, b) of V: the upper triangle of
// the selection block in selection order, the selection rows of the other
// columns and the whole block of the others.
bool is_read(const ResolvedCall& r, int a, int b) {
  const auto& pos = r.position;
  return pos[static_cast<std::size_t>(a)] <= pos[static_cast<std::size_t>(b)] ||
         pos[static_cast<std::size_t>(b)] >= r.p;
}

// The places of the n x n `a` that are not finite (and read, when
// `r` is given), column by column, the first five of many; a row or
// column named by the variable `map[i]` (or i).
std::string not_finite_places(const Sayer& say, const Values& a, int n, const ResolvedCall* r,
                              const std::vector<int>* map, int& count) {
  std::string text;
  count = 0;
  auto label = [&](int i) {
    int v = map != nullptr ? (*map)[static_cast<std::size_t>(i)] : i;
    const auto& names = say.call.names;
    if (static_cast<std::size_t>(v) < names.size() && !names[static_cast<std::size_t>(v)].empty()) {
      return names[static_cast<std::size_t>(v)];
    }
    return say.place(i);
  };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      if (std::isfinite(a[at(i, j, n)]) || (r != nullptr && !is_read(*r, i, j))) continue;
      if (count < 5) text += (count > 0 ? ", [" : "[") + label(i) + ", " + label(j) + "]";
      ++count;
    }
  }
  if (count > 5) text += ", and " + number(count - 5) + " more";
  return text;
}

bool is_triangle_code(FindingCode code) {
  return code == FindingCode::restricted_lower_triangle ||
         code == FindingCode::restricted_upper_triangle ||
         code == FindingCode::unrestricted_lower_triangle ||
         code == FindingCode::unrestricted_upper_triangle;
}

const char* triangle_side(FindingCode code) {
  return code == FindingCode::restricted_lower_triangle ||
                 code == FindingCode::unrestricted_lower_triangle
             ? "lower"
             : "upper";
}

// The findings of `d` (null: the screening's alone) and `screening` in
// the client's words: all of them, or only the errors, those of a
// triangle carrying the hint of the argument that mirrors it.
void say_findings(Sayer& say, const Diagnostics* d, const Screening& screening, bool errors_only,
                  bool (*keep)(FindingCode) = nullptr) {
  std::array<Finding, max_findings> found;
  int all =
      d != nullptr ? all_findings(*d, screening, found) : screening_findings(screening, found);
  int count = std::min(all, max_findings);
  std::vector<const char*> names;
  for (const std::string& name : say.call.names)
    names.push_back(name.empty() ? nullptr : name.c_str());
  for (int k = 0; k < count; ++k) {
    const Finding& f = found[static_cast<std::size_t>(k)];
    if (errors_only && f.severity != Severity::error) continue;
    if (keep != nullptr && !keep(f.code)) continue;
    std::size_t length = finding_message(f, names, nullptr, 0);
    std::string message(length, '\0');
    finding_message(f, names, message.data(), length + 1);
    if (f.severity == Severity::error && is_triangle_code(f.code)) {
      message += ", or give " +
                 assignment(say.call.spelling, CallArgument::triangle, triangle_side(f.code)) +
                 " to mirror it";
    }
    std::vector<int> variables;
    for (int v : f.variables) {
      if (v >= 0) variables.push_back(v);
    }
    say.said.push_back({finding_code_name(f.code), f.severity, CallArgument::none,
                        std::move(message), std::move(variables), f.row});
  }
}

bool any_error(const std::vector<FitMessage>& said) {
  return std::any_of(said.begin(), said.end(),
                     [](const FitMessage& m) { return m.severity == Severity::error; });
}

// Words the correction's refusal of an argument. A value that is not
// finite where the correction reads it is most often the other side of a
// triangle entered alone: the correction counts NaN there as empty, so it
// is asked about the problem with NaN read as 0, and a triangle it finds
// is what is said. One such value alone is a value missing, and said so.
void say_invalid(Sayer& say, const Fit& f, const ResolvedCall& r, const Diagnostics& d) {
  bool of_v = d.argument == Argument::restricted;
  bool of_s = d.argument == Argument::unrestricted;
  int v_count = 0, s_count = 0;
  std::string v_places =
      of_v ? not_finite_places(say, f.restricted, f.q, &r, nullptr, v_count) : "";
  std::string s_places =
      of_s ? not_finite_places(say, f.unrestricted, f.p, nullptr, &r.selection, s_count) : "";
  if (v_count + s_count > 1) {
    Fit probe;
    probe.q = f.q;
    probe.p = f.p;
    probe.restricted = f.restricted;
    probe.unrestricted = f.unrestricted;
    for (double& x : probe.restricted) x = std::isnan(x) ? 0.0 : x;
    for (double& x : probe.unrestricted) x = std::isnan(x) ? 0.0 : x;
    Diagnostics found;
    correct(problem_of(probe, r), probe, &found);
    auto of_side = of_v ? +[](FindingCode c) {
      return c == FindingCode::restricted_lower_triangle ||
             c == FindingCode::restricted_upper_triangle;
    }
                        : +[](FindingCode c) {
                            return c == FindingCode::unrestricted_lower_triangle ||
                                   c == FindingCode::unrestricted_upper_triangle;
                          };
    say_findings(say, &found, Screening{}, true, of_side);
    if (any_error(say.said)) return;
  }
  if (v_count > 0) {
    say.error(
        "not_finite", CallArgument::restricted,
        say.named(CallArgument::restricted) + " holds " + say.missing() +
            " or values that are not finite numbers where the correction reads it: " + v_places);
  } else if (s_count > 0) {
    say.error("not_finite", CallArgument::unrestricted,
              say.named(CallArgument::unrestricted) + " holds " + say.missing() +
                  " or values that are not finite numbers: " + s_places);
  } else {
    say.error("invalid_value", CallArgument::none, std::string("invalid argument: ") + d.reason);
  }
}

// The screening of the raw scores, or of the sample size alone.
Screening screening_of(const Fit& f, const ResolvedCall& r, const FitSources& sources, bool full) {
  if (full && given(sources.data)) {
    return screen_scores(sources.data, sources.pool, r.selection);
  }
  return screen_sample_size(given(sources.data) ? f.rows_used : r.intervals.n, f.q);
}

void say_intervals_notes(Sayer& say, const IntervalSummary& s) {
  if (s.failed_resamples > 0) {
    say.add("failed_resamples", Severity::warning,
            s.failed_resamples == s.resamples
                ? "all " + number(s.failed_resamples) +
                      " bootstrap resamples were left out: in every one the selection block was "
                      "not positive definite, so there are no intervals"
                : number(s.failed_resamples) + " of " + number(s.resamples) +
                      " bootstrap resamples were left out: in them the selection block was not "
                      "positive definite; the intervals rest on the others");
  }
  if (s.percentile_fallbacks > 0) {
    say.add("percentile_fallbacks", Severity::note,
            number(s.percentile_fallbacks) +
                (s.percentile_fallbacks == 1 ? " value has" : " values have") +
                " no BCa interval (every resample on one side of the estimate, or the "
                "acceleration too large) and got the percentile interval");
  }
}

// The intervals of the fit; false with the refusal said.
bool add_intervals(Sayer& say, Fit& f, const ResolvedCall& r, const FitSources& sources, bool dis) {
  const IntervalOptions& o = r.intervals;
  bool with_data = given(sources.data);
  bool with_pool = given(sources.pool);
  IntervalRequest request = interval_request(o, sources.seed, sources.data, sources.pool);
  LawleyProblem lp = problem_of(f, r);
  if (with_data) lp.restricted = nullptr;
  if (with_pool) lp.unrestricted = nullptr;

  FitIntervals& in = f.intervals;
  for (int m = 0; m < fit_matrix_count; ++m) {
    if (m == static_cast<int>(FitMatrix::disattenuated) && !dis) continue;
    in.se[m].assign(square(f.q), 0.0);
    in.lower[m].assign(square(f.q), 0.0);
    in.upper[m].assign(square(f.q), 0.0);
  }
  int ld = std::max(f.q, 1);
  auto to = [&](FitMatrix m) {
    auto k = static_cast<std::size_t>(m);
    return IntervalMatrices{in.se[k].empty() ? nullptr : in.se[k].data(),
                            in.lower[k].empty() ? nullptr : in.lower[k].data(),
                            in.upper[k].empty() ? nullptr : in.upper[k].data(), ld};
  };
  Values v_used(with_data ? square(f.q) : 0), s_used(with_pool ? square(f.p) : 0);
  IntervalResults results{to(FitMatrix::cov),
                          to(FitMatrix::cor),
                          to(FitMatrix::disattenuated),
                          with_data ? v_used.data() : nullptr,
                          ld,
                          with_pool ? s_used.data() : nullptr,
                          std::max(f.p, 1)};
  WorkspaceSize need = lawley_intervals_workspace_size(f.q, f.p, request);
  IntervalSummary& summary = in.summary;
  std::vector<double> work;
  std::vector<int> int_work;
  if (need.doubles > 0 || need.ints > 0) {
    char refusal[256];
    if (workspace_refusal("the intervals", need, refusal, sizeof refusal) > 0) {
      say.error("too_much_memory", CallArgument::resamples, refusal);
      return false;
    }
    work.resize(need.doubles);
    int_work.resize(need.ints);
  }
  Status status = lawley_intervals(lp, request, results, work, int_work, &summary);
  if (status != Status::ok) {
    std::string reason = summary.reason != nullptr && summary.reason[0] != '\0'
                             ? summary.reason
                             : status_text(status);
    say.error("invalid_value", CallArgument::interval,
              "the intervals cannot be computed: " + reason);
    return false;
  }
  summary.reason = "";
  if ((with_data && v_used != f.restricted) || (with_pool && s_used != f.unrestricted)) {
    say.error("internal", CallArgument::none,
              "the intervals belong to another var/cov matrix than the correction (a fault of "
              "tolbe; please report it)");
    return false;
  }
  in.seed = request.seed;
  in.description = interval_description(summary, in.seed, say.call.spelling, with_data, with_pool);
  auto cor = static_cast<std::size_t>(FitMatrix::cor);
  auto disattenuated = static_cast<std::size_t>(FitMatrix::disattenuated);
  auto operational = static_cast<std::size_t>(FitMatrix::operational);
  if (dis && f.q == f.p) {
    // Nothing to disattenuate: as the estimates, the correlations'.
    in.se[disattenuated] = in.se[cor];
    in.lower[disattenuated] = in.lower[cor];
    in.upper[disattenuated] = in.upper[cor];
  }
  // The operational correlations divide by constants, so their SEs and
  // bounds are the corrected correlations' divided alike.
  const double* crel = f.criterion_reliability.data();
  operational_correlations(f.q, in.se[cor].data(), ld, crel, in.se[operational].data(), ld);
  operational_correlations(f.q, in.lower[cor].data(), ld, crel, in.lower[operational].data(), ld);
  operational_correlations(f.q, in.upper[cor].data(), ld, crel, in.upper[operational].data(), ld);
  f.with_intervals = true;
  return true;
}

// The asymmetry of the n x n `a` as the correction measures it, over the
// pairs whose values are both finite.
double finite_asymmetry(const Values& a, int n) {
  double largest = 0.0;
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < j; ++i) {
      double upper = a[at(i, j, n)];
      double lower = a[at(j, i, n)];
      if (!std::isfinite(upper) || !std::isfinite(lower)) continue;
      double scale = std::sqrt(std::fabs(a[at(i, i, n)] * a[at(j, j, n)]));
      double difference = std::fabs(upper - lower);
      largest = std::max(largest, scale > 0.0 ? difference / scale : difference);
    }
  }
  return largest;
}

// The lists the diagnostics count: the sign changes and the places of V
// that are not finite.
void list_places(Fit& f, const ResolvedCall& r) {
  const Diagnostics& d = f.diagnostics;
  int ld = std::max(f.q, 1);
  auto cor = static_cast<std::size_t>(FitMatrix::cor);
  if (d.sign_changes > 0) {
    LawleyProblem lp = problem_of(f, r);
    int count = lawley_sign_changes(lp, f.matrices[cor].data(), ld, nullptr, nullptr, 0);
    std::vector<int> rows(static_cast<std::size_t>(std::max(count, 0)));
    std::vector<int> columns(rows.size());
    int listed =
        lawley_sign_changes(lp, f.matrices[cor].data(), ld, rows.data(), columns.data(), count);
    for (int k = 0; k < std::min(count, listed); ++k) {
      f.sign_change_pairs.push_back(
          {rows[static_cast<std::size_t>(k)], columns[static_cast<std::size_t>(k)]});
    }
  }
  if (d.unread_not_finite > 0) {
    for (int j = 0; j < f.q; ++j) {
      for (int i = 0; i < f.q; ++i) {
        if (!std::isfinite(f.restricted[at(i, j, f.q)])) f.not_finite_places.push_back({i, j});
      }
    }
    if (!std::isfinite(d.restricted_asymmetry)) {
      f.diagnostics.restricted_asymmetry = finite_asymmetry(f.restricted, f.q);
    }
  }
}

}  // namespace

IntervalRequest interval_request(const IntervalOptions& o, std::uint64_t seed,
                                 const RawScores& data, const RawScores& pool) {
  IntervalRequest request;
  request.method = o.method;
  request.level = o.level;
  request.n = given(data) ? 0 : o.n;
  request.n_unrestricted = given(pool) ? 0 : o.n_unrestricted;
  if (given(data)) request.data = data;
  if (given(pool)) request.pool = pool;
  request.resamples = o.resamples;
  request.seed = o.seed_given ? o.seed : seed;
  request.threads = o.threads;
  request.interval = o.ci_type;
  return request;
}

std::string interval_description(const IntervalSummary& s, std::uint64_t seed,
                                 const Spelling& spelling, bool with_data, bool with_pool) {
  std::string method;
  switch (s.method) {
    case IntervalMethod::normal:
      method = "delta method, normal theory";
      break;
    case IntervalMethod::adf:
      method = "delta method, distribution-free (ADF)";
      break;
    default:
      method =
          std::string("bootstrap, ") +
          (s.interval == BootstrapInterval::bca ? "BCa" : "percentile") +
          " (B = " + number(s.resamples) + ", seed " + std::to_string(seed) +
          (s.failed_resamples > 0 ? ", " + number(s.failed_resamples) + " failed resamples left out"
                                  : "") +
          ")";
  }
  auto dropped = [&spelling](bool applies, int count) {
    return applies && count > 0
               ? " (" + number(count) + " rows with " +
                     (spelling.missing_value != nullptr ? spelling.missing_value : "NaN") +
                     " left out)"
               : std::string();
  };
  char level[32];
  std::snprintf(level, sizeof level, "%g", 100 * s.level);
  return std::string(level) + " % intervals: " + method + "; n = " + number(s.n) +
         dropped(with_data, s.rows_dropped) + "; " +
         (s.n_unrestricted > 0
              ? "unrestricted matrix estimated, n_unrestricted = " + number(s.n_unrestricted) +
                    dropped(with_pool, s.pool_rows_dropped)
              : std::string("unrestricted matrix known"));
}

const char* fit_matrix_name(FitMatrix matrix) {
  switch (matrix) {
    case FitMatrix::cov:
      return "cov";
    case FitMatrix::cor:
      return "cor";
    case FitMatrix::disattenuated:
      return "disattenuated";
    case FitMatrix::operational:
      return "operational";
    case FitMatrix::count:
      break;
  }
  return "";
}

Fit fit(const Call& call, ResolvedCall& r, const FitSources& sources) {
  Fit f;
  f.q = r.q;
  f.p = r.p;
  std::vector<FitMessage> notes;
  Sayer say{call, f.said};
  Sayer note{call, notes};
  auto refused = [&f]() { return f.refused(); };

  // V and S: as given, or the var/cov matrices of the raw scores.
  Values data_means, pool_means;
  // The var/cov matrix of raw scores, refused when they have too few
  // complete rows for the method, with the note of the rows left out.
  auto read = [&](CallArgument what, const RawScores& scores, const std::vector<std::string>& names,
                  Values& cov, Values& means, int& used, int& dropped) {
    if (!covariance(say, what, scores, names, cov, means, used, dropped)) return false;
    if (auto refusal = rows_refusal(call, r.intervals, what, used)) {
      say.refuse(*refusal);
      return false;
    }
    dropped_note(note, what, dropped, used);
    return true;
  };
  if (given(sources.data)) {
    if (!read(CallArgument::data, sources.data, call.names, f.restricted, data_means, f.rows_used,
              f.rows_dropped)) {
      return f;
    }
  } else {
    f.restricted = dense(sources.restricted, f.q, sources.ld_restricted);
  }
  if (given(sources.pool)) {
    std::vector<std::string> pool_names;
    for (int k = 0; k < f.p && !call.unrestricted_names.empty(); ++k) {
      pool_names.push_back(call.unrestricted_names[static_cast<std::size_t>(
          r.unrestricted_rows[static_cast<std::size_t>(k)])]);
    }
    if (!read(CallArgument::pool, sources.pool, pool_names, f.unrestricted, pool_means,
              f.pool_rows_used, f.pool_rows_dropped)) {
      return f;
    }
  } else {
    // The call's matrix, mirrored as given, then in selection order.
    int n = call.p;
    Values s = dense(sources.unrestricted, n, sources.ld_unrestricted);
    if (sources.triangle != 0) mirror(s, n, sources.triangle);
    f.unrestricted.assign(square(f.p), 0.0);
    for (int j = 0; j < f.p; ++j) {
      for (int i = 0; i < f.p; ++i) {
        f.unrestricted[at(i, j, f.p)] = s[at(r.unrestricted_rows[static_cast<std::size_t>(i)],
                                             r.unrestricted_rows[static_cast<std::size_t>(j)], n)];
      }
    }
  }
  if (sources.triangle != 0) mirror(f.restricted, f.q, sources.triangle);
  if (!r.defaulted.empty()) {
    note.add("reliabilities_defaulted", Severity::note, defaulted_reliabilities_note(call, r),
             CallArgument::reliabilities, r.defaulted);
  }

  // The correction. Its findings are made on request only; without
  // diagnostics they are asked for when a matrix may be a triangle
  // entered alone, an error that must stop the fit all the same.
  int ld = std::max(f.q, 1);
  bool with_findings = sources.diagnostics || may_be_triangle(f.q, f.restricted.data(), ld) ||
                       may_be_triangle(f.p, f.unrestricted.data(), std::max(f.p, 1));
  Diagnostics& d = f.diagnostics;
  Status status = correct(problem_of(f, r), f, with_findings ? &d : nullptr);
  if (status != Status::ok && !with_findings) {
    with_findings = true;  // once more, to say what went wrong
    status = correct(problem_of(f, r), f, &d);
  }
  if (status == Status::invalid_argument) {
    say_invalid(say, f, r, d);
    return f;
  }
  Screening screening = screening_of(f, r, sources, with_findings);
  say_findings(say, with_findings ? &d : nullptr, screening, true);
  if (refused()) return f;
  if (status == Status::not_positive_definite) {
    say.error("not_positive_definite", CallArgument::restricted,
              "the restricted var/cov block of the selection variables is not positive definite "
              "(its leading minor of order " +
                  number(d.leading_minor) + " is not positive)");
    return f;
  }
  if (std::any_of(r.from_restricted.begin(), r.from_restricted.end(), [](char c) { return c; })) {
    // Reliabilities measured among the incumbents, made the population's
    // by the corrected variances; the correction itself does not read
    // them, so it is made anew only for the disattenuated correlations.
    if (auto refusal =
            convert_reliabilities(call, r, f.restricted.data(), ld, f.matrices[0].data(), ld)) {
      say.refuse(*refusal);
      return f;
    }
    status = correct(problem_of(f, r), f, with_findings ? &d : nullptr);
    if (status != Status::ok) {
      say.error("invalid_value", CallArgument::reliabilities,
                std::string("the reliabilities cannot be converted: ") + status_text(status));
      return f;
    }
    if (with_findings) screening = screening_of(f, r, sources, true);
  }
  auto cor = static_cast<std::size_t>(FitMatrix::cor);
  auto disattenuated = static_cast<std::size_t>(FitMatrix::disattenuated);
  // Reliabilities given for no variable beyond the selection ones still
  // ask for the disattenuated correlations.
  bool with_reliabilities = call.reliabilities.given() || !r.reliabilities.empty();
  if (!with_reliabilities) {
    f.matrices[disattenuated].clear();
  } else if (f.q == f.p) {
    // No variable beyond the selection ones: nothing to disattenuate.
    f.matrices[disattenuated] = f.matrices[cor];
  }
  if (with_reliabilities) {
    f.reliabilities = reliabilities_by_variable(r);
    f.measured_restricted.assign(static_cast<std::size_t>(f.q), 0);
    for (std::size_t j = 0; j < r.others.size() && j < r.from_restricted.size(); ++j) {
      f.measured_restricted[static_cast<std::size_t>(r.others[j])] = r.from_restricted[j];
    }
  }
  f.criterion_reliability.assign(static_cast<std::size_t>(f.q), 1.0);
  for (int y : r.criteria) {
    if (r.reliabilities.empty()) break;
    f.criterion_reliability[static_cast<std::size_t>(y)] =
        r.reliabilities[static_cast<std::size_t>(r.position[static_cast<std::size_t>(y)] - f.p)];
  }
  auto operational = static_cast<std::size_t>(FitMatrix::operational);
  f.matrices[operational].assign(square(f.q), 0.0);
  operational_correlations(f.q, f.matrices[cor].data(), ld, f.criterion_reliability.data(),
                           f.matrices[operational].data(), ld);

  const Values& restricted_means = given(sources.data) ? data_means : r.restricted_means;
  const Values& unrestricted_means = given(sources.pool) ? pool_means : r.unrestricted_means;
  if (!restricted_means.empty() && !unrestricted_means.empty()) {
    f.means.assign(static_cast<std::size_t>(f.q), 0.0);
    WorkspaceSize need = lawley_workspace_size(f.q, f.p);
    std::vector<double> work(need.doubles);
    std::vector<int> int_work(need.ints);
    lawley_means(problem_of(f, r), restricted_means, unrestricted_means, f.means, work, int_work);
  }
  if (r.intervals.method != IntervalMethod::none) {
    if (!add_intervals(say, f, r, sources, with_reliabilities)) return f;
    if (r.intervals.method == IntervalMethod::bootstrap)
      say_intervals_notes(note, f.intervals.summary);
  }
  if (sources.diagnostics) {
    f.diagnosed = true;
    f.said = std::move(notes);
    say_findings(say, &d, screening, false);
    list_places(f, r);
  }
  return f;
}

}  // namespace tolbe
