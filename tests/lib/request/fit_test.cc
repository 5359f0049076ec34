// The library's fit: the whole of one correction as every client makes
// it. The numbers are recomputed here by the textbook formulas for one
// selection variable (Lawley's correction is then the univariate one of
// each column), and the messages are written out in full: they are what R
// and Python show.

#include "tolbe/fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tolbe/validity.h"

namespace tolbe {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

Given numbers(std::vector<double> values) {
  Given g;
  g.kind = Given::Kind::numbers;
  g.numbers = std::move(values);
  return g;
}

Given texts(std::vector<std::string> values) {
  Given g;
  g.kind = Given::Kind::texts;
  g.texts = std::move(values);
  return g;
}

// Three variables x, y, z, x selected, as R names them.
Call three(bool from_data = false) {
  Call c;
  c.q = 3;
  c.names = {"x", "y", "z"};
  c.from_data = from_data;
  c.p = 1;
  c.spelling.missing_value = "NA";
  return c;
}

// Raw scores, column-major, of `rows` rows.
struct Scores {
  std::vector<double> values;
  int rows = 0;
  int columns = 0;
  RawScores raw() const { return {rows, columns, values.data(), rows}; }
};

// Six people's x, y, z; the fourth misses y.
Scores data_scores() {
  return {{1, 2, 3, 4, 5, 6, 2, 1, 4, nan, 5, 7, 0, 1, 1, 2, 2, 3}, 6, 3};
}

// V (q x q) and S (p x p) as the sources of a fit.
FitSources matrices(const std::vector<double>& v, int q, const std::vector<double>& s, int p) {
  FitSources in;
  in.restricted = v.data();
  in.ld_restricted = q;
  in.unrestricted = s.data();
  in.ld_unrestricted = p;
  return in;
}

struct Fitted {
  Call call;
  ResolvedCall resolved;
  Fit fit;
};

Fitted fit_of(Call call, const FitSources& sources) {
  Resolution r = resolve_call(call);
  EXPECT_TRUE(r.ok()) << r.refusal->message;
  Fitted out{call, r.call, {}};
  out.fit = fit(out.call, out.resolved, sources);
  return out;
}

std::string said(const Fit& f) {
  std::string out;
  for (const FitMessage& m : f.said) {
    out += m.code + ": " + m.message + "\n";
  }
  return out;
}

// Means and var/cov matrix (divisor n - 1) of the complete rows, as a
// textbook computes them.
void moments(const Scores& s, std::vector<double>& mean, std::vector<double>& cov, int& used) {
  std::vector<int> complete;
  for (int i = 0; i < s.rows; ++i) {
    bool whole = true;
    for (int j = 0; j < s.columns; ++j) whole = whole && !std::isnan(s.values[i + j * s.rows]);
    if (whole) complete.push_back(i);
  }
  used = static_cast<int>(complete.size());
  mean.assign(s.columns, 0.0);
  for (int j = 0; j < s.columns; ++j) {
    for (int i : complete) mean[j] += s.values[i + j * s.rows] / used;
  }
  cov.assign(s.columns * s.columns, 0.0);
  for (int a = 0; a < s.columns; ++a) {
    for (int b = 0; b < s.columns; ++b) {
      for (int i : complete) {
        cov[a + b * s.columns] += (s.values[i + a * s.rows] - mean[a]) *
                                  (s.values[i + b * s.rows] - mean[b]) / (used - 1);
      }
    }
  }
}

// With one selection variable x of restricted variance v_xx and
// unrestricted variance s_xx, c(i, j) = v(i, j) + v(i, x) v(x, j) (s_xx -
// v_xx) / v_xx^2 (Lawley's correction with p = 1).
std::vector<double> corrected(const std::vector<double>& v, int q, double s_xx) {
  std::vector<double> c(v);
  double k = (s_xx - v[0]) / (v[0] * v[0]);
  for (int i = 0; i < q; ++i) {
    for (int j = 0; j < q; ++j) c[i + j * q] += v[i] * v[j * q] * k;
  }
  return c;
}

double correlation(const std::vector<double>& c, int q, int i, int j) {
  return c[i + j * q] / std::sqrt(c[i + i * q] * c[j + j * q]);
}

TEST(Fit, RawScoresAreCorrectedAsTheirCompleteRowsMoments) {
  Scores data = data_scores();
  std::vector<double> s = {9.0};
  FitSources in;
  in.data = data.raw();
  in.unrestricted = s.data();
  in.ld_unrestricted = 1;
  Call call = three(true);
  call.reliabilities = numbers({0.64, 0.81});
  call.criteria = texts({"y"});
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  std::vector<double> mean, v;
  int used = 0;
  moments(data, mean, v, used);
  EXPECT_EQ(f.fit.rows_used, 5);
  EXPECT_EQ(f.fit.rows_dropped, 1);
  std::vector<double> c = corrected(v, 3, 9.0);
  const auto& cov = f.fit.matrices[static_cast<int>(FitMatrix::cov)];
  const auto& cor = f.fit.matrices[static_cast<int>(FitMatrix::cor)];
  const auto& op = f.fit.matrices[static_cast<int>(FitMatrix::operational)];
  const auto& dis = f.fit.matrices[static_cast<int>(FitMatrix::disattenuated)];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      SCOPED_TRACE(std::to_string(i) + "," + std::to_string(j));
      EXPECT_NEAR(cov[i + 3 * j], c[i + 3 * j], 1e-12);
      EXPECT_NEAR(cor[i + 3 * j], correlation(c, 3, i, j), 1e-12);
      // Operational: only the criterion y (reliability .64) made reliable.
      double op_expected = correlation(c, 3, i, j);
      if (i != j) {
        if (i == 1 || j == 1) op_expected /= 0.8;
        EXPECT_NEAR(op[i + 3 * j], op_expected, 1e-12);
        // Disattenuated: y (.64) and z (.81) both.
        double rel_i = i == 1 ? 0.64 : i == 2 ? 0.81 : 1.0;
        double rel_j = j == 1 ? 0.64 : j == 2 ? 0.81 : 1.0;
        EXPECT_NEAR(dis[i + 3 * j], correlation(c, 3, i, j) / std::sqrt(rel_i * rel_j), 1e-12);
      }
    }
  }
  // The corrected means need the pool's: none here.
  EXPECT_TRUE(f.fit.means.empty());
  EXPECT_EQ(said(f.fit),
            "rows_dropped: 'data': 1 of 6 rows hold a missing score (NA) and were left out "
            "(listwise); 5 used\n"
            "disattenuated_out_of_range: the disattenuated correlation of x and y is 1.205, "
            "above 1 in magnitude (3 in all); check the reliabilities\n"
            "small_sample: the restricted sample has n = 5 for 3 variables, fewer than 10 a "
            "variable: the corrected values are unstable there, and their standard errors and "
            "intervals are not to be trusted\n");
}

TEST(Fit, MeansOfRawScoresAreCorrectedByTheRegressionOnX) {
  // A pool of x alone: mu_y + (m_x - mu_x) v_xy / v_xx for the others.
  Scores data = data_scores();
  Scores pool{{0, 2, 4, 6, 8, 10, 12}, 7, 1};
  FitSources in;
  in.data = data.raw();
  in.pool = pool.raw();
  in.diagnostics = false;
  Call call = three(true);
  call.from_pool = true;
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  std::vector<double> mean, v, pool_mean, s;
  int used = 0, pool_used = 0;
  moments(data, mean, v, used);
  moments(pool, pool_mean, s, pool_used);
  EXPECT_EQ(f.fit.pool_rows_used, 7);
  ASSERT_EQ(f.fit.means.size(), 3u);
  EXPECT_NEAR(f.fit.means[0], 6.0, 1e-12);
  for (int y = 1; y < 3; ++y) {
    EXPECT_NEAR(f.fit.means[y], mean[y] + (pool_mean[0] - mean[0]) * v[y] / v[0], 1e-12);
  }
  EXPECT_NEAR(f.fit.unrestricted[0], s[0], 1e-12);
  EXPECT_TRUE(f.fit.said.empty()) << said(f.fit);
}

TEST(Fit, ScoresThatCannotBeUsedAreRefusedWhereTheyAre) {
  struct Case {
    const char* what;
    Scores data;
    int first_index;
    std::string said;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"an infinite score, counted from 1",
       {{1, 2, 3, 4, 2, 1, -inf, 3, 0, 1, 1, 2}, 4, 3},
       1,
       "not_finite: 'data' holds a score that is not finite (-Inf) in row 3, column y; a "
       "missing score is NA\n"},
      {"the same, counted from 0",
       {{1, 2, 3, 4, 2, 1, -inf, 3, 0, 1, 1, 2}, 4, 3},
       0,
       "not_finite: 'data' holds a score that is not finite (-Inf) in row 2, column y; a "
       "missing score is NA\n"},
      {"one complete row",
       {{1, 2, nan, 4, nan, 1, 0, 1, 1}, 3, 3},
       1,
       "too_few_rows: 'data' has 1 complete rows (without NA) of 3; the var/cov matrix needs "
       "at least 2\n"},
  };
  std::vector<double> s = {9.0};
  for (const Case& t : cases) {
    FitSources in;
    in.data = t.data.raw();
    in.unrestricted = s.data();
    in.ld_unrestricted = 1;
    Call call = three(true);
    call.spelling.first_index = t.first_index;
    Fitted f = fit_of(call, in);
    EXPECT_TRUE(f.fit.refused()) << t.what;
    EXPECT_EQ(said(f.fit), t.said) << t.what;
    ASSERT_FALSE(f.fit.said.empty());
    EXPECT_EQ(f.fit.said[0].argument, CallArgument::data) << t.what;
  }
}

// V of x, y, z with unit variances; S of x.
const std::vector<double> whole_v = {1.0, 0.5, 0.3, 0.5, 1.0, 0.4, 0.3, 0.4, 1.0};

TEST(Fit, ATriangleIsMirroredWhenAskedAndRefusedWithTheHintOtherwise) {
  std::vector<double> lower = whole_v;
  lower[3] = lower[6] = lower[7] = 0.0;
  std::vector<double> s = {1.44};
  FitSources in = matrices(lower, 3, s, 1);
  // Without diagnostics the triangle is found all the same.
  in.diagnostics = false;
  Fitted refused = fit_of(three(), in);
  ASSERT_TRUE(refused.fit.refused());
  EXPECT_EQ(refused.fit.said[0].code, "restricted_lower_triangle");
  EXPECT_NE(refused.fit.said[0].message.find(", or give triangle = \"lower\" to mirror it"),
            std::string::npos)
      << said(refused.fit);
  in.triangle = 'l';
  Fitted mirrored = fit_of(three(), in);
  ASSERT_FALSE(mirrored.fit.refused()) << said(mirrored.fit);
  EXPECT_EQ(mirrored.fit.restricted, whole_v);
  std::vector<double> c = corrected(whole_v, 3, 1.44);
  EXPECT_NEAR(mirrored.fit.matrices[1][7], correlation(c, 3, 1, 2), 1e-12);
}

TEST(Fit, ValuesThatAreNotFiniteAreNamedWhereTheCorrectionReadsThem) {
  struct Case {
    const char* what;
    int i, j;  // where V holds NaN (and (j, i) too when both)
    bool both;
    int first_index;
    std::vector<std::string> names;
    std::string said;
  };
  const Case cases[] = {
      {"one value, named",
       2,
       1,
       false,
       1,
       {"x", "y", "z"},
       "not_finite: 'restricted' holds NA or values that are not finite numbers where the "
       "correction reads it: [z, y]\n"},
      {"one value, unnamed, from 0",
       2,
       1,
       false,
       0,
       {},
       "not_finite: 'restricted' holds NA or values that are not finite numbers where the "
       "correction reads it: [2, 1]\n"},
      {"both sides of a pair",
       2,
       1,
       true,
       1,
       {},
       "not_finite: 'restricted' holds NA or values that are not finite numbers where the "
       "correction reads it: [3, 2], [2, 3]\n"},
  };
  std::vector<double> s = {1.44};
  for (const Case& t : cases) {
    std::vector<double> v = whole_v;
    v[t.i + 3 * t.j] = nan;
    if (t.both) v[t.j + 3 * t.i] = nan;
    FitSources in = matrices(v, 3, s, 1);
    Call call = three();
    call.names = t.names;
    call.spelling.first_index = t.first_index;
    Fitted f = fit_of(call, in);
    EXPECT_TRUE(f.fit.refused()) << t.what;
    EXPECT_EQ(said(f.fit), t.said) << t.what;
  }
}

TEST(Fit, ReliabilitiesOfTheRestrictedSampleAreConverted) {
  // r_u = 1 - (1 - r_r) v_yy / c_yy, the error variance the same.
  std::vector<double> s = {1.44};
  FitSources in = matrices(whole_v, 3, s, 1);
  Call call = three();
  call.reliabilities = numbers({0.7, 0.8});
  call.reliability_sample = texts({"restricted"});
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  std::vector<double> c = corrected(whole_v, 3, 1.44);
  double ry = 1 - (1 - 0.7) * whole_v[4] / c[4];
  double rz = 1 - (1 - 0.8) * whole_v[8] / c[8];
  // By variable, x given none; both measured among the selected.
  ASSERT_EQ(f.fit.reliabilities.size(), 3u);
  EXPECT_TRUE(std::isnan(f.fit.reliabilities[0]));
  EXPECT_NEAR(f.fit.reliabilities[2], rz, 1e-12);
  EXPECT_EQ(f.fit.measured_restricted, (std::vector<char>{0, 1, 1}));
  ASSERT_EQ(f.resolved.reliabilities.size(), 2u);
  EXPECT_NEAR(f.resolved.reliabilities[0], ry, 1e-12);
  EXPECT_NEAR(f.resolved.reliabilities[1], rz, 1e-12);
  const auto& dis = f.fit.matrices[static_cast<int>(FitMatrix::disattenuated)];
  EXPECT_NEAR(dis[1 + 3 * 2], correlation(c, 3, 1, 2) / std::sqrt(ry * rz), 1e-12);
}

TEST(Fit, ANonPositiveDefiniteSelectionBlockIsRefused) {
  std::vector<double> v = whole_v;
  v[0] = -1.0;
  std::vector<double> s = {1.44};
  FitSources in = matrices(v, 3, s, 1);
  in.diagnostics = false;
  Fitted f = fit_of(three(), in);
  ASSERT_TRUE(f.fit.refused());
  EXPECT_EQ(f.fit.said.back().code, "not_positive_definite");
  EXPECT_EQ(f.fit.said.back().message,
            "the restricted var/cov block of the selection variables is not positive definite "
            "(its leading minor of order 1 is not positive)");
}

TEST(Fit, TheUnrestrictedMatrixIsPutInSelectionOrderByName) {
  // S named (y, x) with the selection x, y: the fit's S is in selection
  // order, and the numbers those of S given so.
  std::vector<double> v = whole_v;
  std::vector<double> s_in_order = {1.44, 0.6, 0.6, 1.21};
  std::vector<double> s_swapped = {1.21, 0.6, 0.6, 1.44};
  Call call = three();
  call.p = 2;
  call.unrestricted_names = {"y", "x"};
  call.selection = texts({"x", "y"});
  FitSources in = matrices(v, 3, s_swapped, 2);
  Fitted named = fit_of(call, in);
  call.unrestricted_names = {"x", "y"};
  in.unrestricted = s_in_order.data();
  Fitted ordered = fit_of(call, in);
  ASSERT_FALSE(named.fit.refused()) << said(named.fit);
  EXPECT_EQ(named.fit.unrestricted, s_in_order);
  EXPECT_EQ(named.fit.matrices[0], ordered.fit.matrices[0]);
}

TEST(Fit, IntervalsOfTheOperationalAndDisattenuatedCorrelations) {
  std::vector<double> s = {1.44};
  FitSources in = matrices(whole_v, 3, s, 1);
  Call call = three();
  call.n = numbers({200});
  call.reliabilities = numbers({0.64, 0.81});
  call.criteria = texts({"y"});
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  ASSERT_TRUE(f.fit.with_intervals);
  const FitIntervals& ci = f.fit.intervals;
  auto cor = static_cast<std::size_t>(FitMatrix::cor);
  auto op = static_cast<std::size_t>(FitMatrix::operational);
  // y's column divided by its reliability's root, x-z left as it is.
  EXPECT_NEAR(ci.se[op][0 + 3 * 1], ci.se[cor][0 + 3 * 1] / 0.8, 1e-15);
  EXPECT_NEAR(ci.lower[op][2 + 3 * 1], ci.lower[cor][2 + 3 * 1] / 0.8, 1e-15);
  EXPECT_EQ(ci.upper[op][0 + 3 * 2], ci.upper[cor][0 + 3 * 2]);
  EXPECT_EQ(ci.summary.n, 200);
}

TEST(Fit, EverySelectedWithReliabilitiesStillGivesDisattenuatedCorrelations) {
  // No other variable: the disattenuated correlations are the corrected
  // ones, intervals included.
  Call call;
  call.q = 2;
  call.p = 2;
  call.reliabilities = numbers({});
  call.n = numbers({100});
  std::vector<double> v = {1.0, 0.5, 0.5, 1.0};
  std::vector<double> s = {1.44, 0.6, 0.6, 1.21};
  FitSources in = matrices(v, 2, s, 2);
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  EXPECT_EQ(f.fit.matrices[2], f.fit.matrices[1]);
  EXPECT_EQ(f.fit.intervals.se[2], f.fit.intervals.se[1]);
  // Without reliabilities: none.
  call.reliabilities = Given{};
  Fitted plain = fit_of(call, in);
  EXPECT_TRUE(plain.fit.matrices[2].empty());
  EXPECT_TRUE(plain.fit.intervals.se[2].empty());
}

TEST(Fit, DiagnosticsListWhatTheyCount) {
  // x and y correlate +.1 among the selected and negatively once corrected
  // for the selection on x and z (z strongly tied to both): a sign change;
  // an unread NaN below the selection block.
  std::vector<double> v = {1.0, 0.1, 0.6, 0.1, 1.0, 0.5, 0.6, 0.5, 1.0};
  std::vector<double> s = {4.0, -1.8, -1.8, 1.0};
  Call call = three();
  call.p = 2;
  call.selection = texts({"x", "z"});
  FitSources in = matrices(v, 3, s, 2);
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  ASSERT_TRUE(f.fit.diagnosed);
  const auto& cor = f.fit.matrices[1];
  int changed = 0;
  for (int j = 0; j < 3; ++j) {
    for (int i = 0; i < j; ++i) {
      changed += (v[i + 3 * j] / std::sqrt(v[i + 3 * i] * v[j + 3 * j])) * cor[i + 3 * j] < 0;
    }
  }
  ASSERT_EQ(static_cast<int>(f.fit.sign_change_pairs.size()), changed);
  ASSERT_GT(changed, 0);
  EXPECT_EQ(f.fit.diagnostics.sign_changes, changed);
  for (const Place& at : f.fit.sign_change_pairs) {
    EXPECT_LT(at.row, at.column);
    EXPECT_LT(v[at.row + 3 * at.column] * cor[at.row + 3 * at.column], 0.0);
  }
  EXPECT_TRUE(f.fit.not_finite_places.empty());
  // x (row 0) below z (column 2) is not read with the selection x, z: a
  // NaN there is listed, and the asymmetry is that of the finite pairs.
  std::vector<double> unread = v;
  unread[2 + 3 * 0] = nan;
  in.restricted = unread.data();
  Fitted g = fit_of(call, in);
  ASSERT_FALSE(g.fit.refused()) << said(g.fit);
  ASSERT_EQ(g.fit.not_finite_places.size(), 1u);
  EXPECT_EQ(g.fit.not_finite_places[0].row, 2);
  EXPECT_EQ(g.fit.not_finite_places[0].column, 0);
  EXPECT_TRUE(std::isfinite(g.fit.diagnostics.restricted_asymmetry));
  EXPECT_EQ(g.fit.diagnostics.restricted_asymmetry, 0.0);
}

TEST(Fit, AValidityQuestionIsAnsweredOnTheCorrectedMatrix) {
  // y on x alone: b = c_xy / c_xx, r = c_xy / sqrt(c_xx c_yy), R^2 = r^2,
  // the operational validity r / sqrt(r_yy) with y's own reliability; z
  // was given none, so as a criterion it is taken as reliable.
  std::vector<double> s = {1.44};
  std::vector<double> c = corrected(whole_v, 3, 1.44);
  std::vector<double> reliabilities = {nan, 0.64, nan};
  const int selection[] = {0};
  FitAsked fit;
  fit.q = 3;
  fit.p = 1;
  fit.restricted = whole_v.data();
  fit.ld_restricted = 3;
  fit.unrestricted = s.data();
  fit.ld_unrestricted = 1;
  fit.selection = selection;
  fit.reliabilities = reliabilities;
  fit.intervals.method = IntervalMethod::none;
  QuestionCall question;
  question.q = 3;
  question.names = {"x", "y", "z"};
  question.criterion = texts({"y"});
  question.predictors = texts({"x"});
  ValidityAnswer a = ask(question, fit);
  ASSERT_FALSE(a.refusal) << a.refusal->message;
  EXPECT_EQ(a.question.criterion, 1);
  ASSERT_EQ(a.estimate.size(), validity_values(1));
  double r = correlation(c, 3, 0, 1);
  auto at = [](ValidityPart part) { return validity_offset(1, part); };
  EXPECT_NEAR(a.estimate[at(ValidityPart::b)], c[0 + 3 * 1] / c[0], 1e-12);
  EXPECT_NEAR(a.estimate[at(ValidityPart::validity)], r, 1e-12);
  EXPECT_NEAR(a.estimate[at(ValidityPart::r2)], r * r, 1e-12);
  EXPECT_NEAR(a.estimate[at(ValidityPart::operational_validity)], r / 0.8, 1e-12);
  question.criterion = texts({"z"});
  a = ask(question, fit);
  ASSERT_FALSE(a.refusal);
  EXPECT_NEAR(a.estimate[at(ValidityPart::operational_validity)], correlation(c, 3, 0, 2), 1e-12);
  // Two predictors whose corrected var/cov matrix is singular: refused,
  // naming them.
  std::vector<double> twins = {1.0, 1.0, 0.3, 1.0, 1.0, 0.3, 0.3, 0.3, 1.0};
  fit.restricted = twins.data();
  question.criterion = texts({"z"});
  question.predictors = texts({"x", "y"});
  a = ask(question, fit);
  ASSERT_TRUE(a.refusal);
  EXPECT_EQ(a.refusal->code, RefusalCode::not_positive_definite);
  EXPECT_EQ(a.refusal->variables, (std::vector<int>{0, 1}));
}

TEST(Fit, IntervalsAreDescribedInOneLine) {
  struct Case {
    IntervalMethod method;
    BootstrapInterval interval;
    double level;
    int failed, rows_dropped, n_unrestricted, pool_rows_dropped;
    bool with_data, with_pool;
    std::string description;
  };
  const Case cases[] = {
      {IntervalMethod::normal, BootstrapInterval::bca, 0.95, 0, 0, 0, 0, false, false,
       "95 % intervals: delta method, normal theory; n = 120; unrestricted matrix known"},
      {IntervalMethod::adf, BootstrapInterval::bca, 0.9, 0, 3, 0, 0, true, false,
       "90 % intervals: delta method, distribution-free (ADF); n = 120 (3 rows with NA left "
       "out); unrestricted matrix known"},
      {IntervalMethod::bootstrap, BootstrapInterval::bca, 0.99, 2, 0, 400, 1, true, true,
       "99 % intervals: bootstrap, BCa (B = 2000, seed 18446744073709551615, 2 failed resamples "
       "left out); n = 120; unrestricted matrix estimated, n_unrestricted = 400 (1 rows with NA "
       "left out)"},
      {IntervalMethod::bootstrap, BootstrapInterval::percentile, 0.975, 0, 5, 400, 0, false, false,
       "97.5 % intervals: bootstrap, percentile (B = 2000, seed 18446744073709551615); n = 120; "
       "unrestricted matrix estimated, n_unrestricted = 400"},
  };
  Spelling r;
  r.missing_value = "NA";
  for (const Case& t : cases) {
    IntervalSummary s;
    s.method = t.method;
    s.interval = t.interval;
    s.level = t.level;
    s.n = 120;
    s.resamples = 2000;
    s.failed_resamples = t.failed;
    s.rows_dropped = t.rows_dropped;
    s.n_unrestricted = t.n_unrestricted;
    s.pool_rows_dropped = t.pool_rows_dropped;
    EXPECT_EQ(interval_description(s, 18446744073709551615u, r, t.with_data, t.with_pool),
              t.description);
  }
}

// The note on a validity question's intervals: only for the delta
// methods, only below 250 rows, with the client's spelling of how to ask
// for the percentile bootstrap.
TEST(Fit, SmallSamplesDeltaIntervalsComeWithANote) {
  struct Case {
    IntervalMethod method;
    int n;
    bool noted;
  };
  const Case cases[] = {
      {IntervalMethod::normal, 3, true},       {IntervalMethod::adf, 100, true},
      {IntervalMethod::normal, 249, true},     {IntervalMethod::adf, 250, false},
      {IntervalMethod::normal, 100000, false}, {IntervalMethod::bootstrap, 100, false},
      {IntervalMethod::none, 100, false},
  };
  Spelling cli;
  cli.names[static_cast<int>(CallArgument::interval)] = "interval";
  cli.names[static_cast<int>(CallArgument::ci_type)] = "ci-type";
  cli.assignment = "--{}={}";
  for (const Case& t : cases) {
    IntervalSummary s;
    s.method = t.method;
    s.n = t.n;
    std::string note = validity_interval_note(s, cli);
    if (!t.noted) {
      EXPECT_EQ(note, "") << t.n;
      continue;
    }
    EXPECT_EQ(note, "the restricted sample has n = " + std::to_string(t.n) +
                        ", fewer than 250: at such sizes the delta method's intervals of R2, R "
                        "and the operational R cover less than their level (88 to 93 % for 95 % "
                        "intervals at n = 100 in tolbe's coverage study); the percentile "
                        "bootstrap comes closest (--interval=bootstrap, --ci-type=percentile)");
  }
}

// The limits: places of V read or not, long lists of places, the converted
// criterion reliability, the client's seed, bounds copied whole.
TEST(Fit, ANotFiniteValueWhereTheCorrectionDoesNotReadItIsNotNamed) {
  // Selection x: V below the selection column (y, x) is not read, so a NaN
  // there beside one at (z, y) leaves one place to name.
  std::vector<double> v = whole_v;
  v[1 + 3 * 0] = nan;
  v[2 + 3 * 1] = nan;
  std::vector<double> s = {1.44};
  FitSources in = matrices(v, 3, s, 1);
  Fitted f = fit_of(three(), in);
  EXPECT_TRUE(f.fit.refused());
  EXPECT_EQ(said(f.fit),
            "not_finite: 'restricted' holds NA or values that are not finite numbers where the "
            "correction reads it: [z, y]\n");
}

TEST(Fit, ManyNotFinitePlacesAreCutAfterFive) {
  struct Case {
    const char* what;
    std::vector<int> places;  // i + 3 j
    std::string listed;
  };
  // Read with the selection x: (x, x), x's row, and the whole y, z block.
  const Case cases[] = {
      {"five: all of them", {3, 4, 5, 7, 8}, "[x, y], [y, y], [z, y], [y, z], [z, z]"},
      {"six: one more", {0, 3, 4, 5, 7, 8}, "[x, x], [x, y], [y, y], [z, y], [y, z], and 1 more"},
  };
  std::vector<double> s = {1.44};
  for (const Case& t : cases) {
    std::vector<double> v = whole_v;
    for (int k : t.places) v[static_cast<std::size_t>(k)] = nan;
    FitSources in = matrices(v, 3, s, 1);
    Fitted f = fit_of(three(), in);
    EXPECT_TRUE(f.fit.refused()) << t.what;
    EXPECT_EQ(said(f.fit),
              "not_finite: 'restricted' holds NA or values that are not finite numbers where the "
              "correction reads it: " +
                  t.listed + "\n")
        << t.what;
  }
}

TEST(Fit, OperationalCorrelationsDivideByTheConvertedCriterionReliability) {
  std::vector<double> s = {1.44};
  FitSources in = matrices(whole_v, 3, s, 1);
  Call call = three();
  call.reliabilities = numbers({0.7, 0.8});
  call.reliability_sample = texts({"restricted"});
  call.criteria = texts({"y"});
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  std::vector<double> c = corrected(whole_v, 3, 1.44);
  double ry = 1 - (1 - 0.7) * whole_v[4] / c[4];
  ASSERT_EQ(f.fit.criterion_reliability.size(), 3u);
  EXPECT_EQ(f.fit.criterion_reliability[0], 1.0);
  EXPECT_NEAR(f.fit.criterion_reliability[1], ry, 1e-12);
  EXPECT_EQ(f.fit.criterion_reliability[2], 1.0);
  const auto& op = f.fit.matrices[static_cast<int>(FitMatrix::operational)];
  EXPECT_NEAR(op[0 + 3 * 1], correlation(c, 3, 0, 1) / std::sqrt(ry), 1e-12);
  EXPECT_NEAR(op[0 + 3 * 2], correlation(c, 3, 0, 2), 1e-12);
}

TEST(Fit, TheBootstrapTakesTheClientsSeedWhenTheCallGivesNone) {
  Scores data = data_scores();
  std::vector<double> s = {9.0};
  FitSources in;
  in.data = data.raw();
  in.unrestricted = s.data();
  in.ld_unrestricted = 1;
  in.diagnostics = false;
  in.seed = 12345;
  Call call = three(true);
  call.interval = texts({"bootstrap"});
  call.resamples = numbers({50});
  Fitted drawn = fit_of(call, in);
  ASSERT_FALSE(drawn.fit.refused()) << said(drawn.fit);
  ASSERT_TRUE(drawn.fit.with_intervals);
  EXPECT_EQ(drawn.fit.intervals.seed, 12345u);
  EXPECT_NE(drawn.fit.intervals.description.find("seed 12345)"), std::string::npos)
      << drawn.fit.intervals.description;
  // The call's own seed wins over the client's.
  call.seed = numbers({7});
  Fitted given = fit_of(call, in);
  ASSERT_FALSE(given.fit.refused()) << said(given.fit);
  EXPECT_EQ(given.fit.intervals.seed, 7u);
}

TEST(Fit, EverySelectedGivesTheCorrelationsBoundsAsTheDisattenuatedOnes) {
  Call call;
  call.q = 2;
  call.p = 2;
  call.reliabilities = numbers({});
  call.n = numbers({100});
  // S estimated: with every variable selected, the correlations vary
  // with S alone.
  call.n_unrestricted = numbers({150});
  std::vector<double> v = {1.0, 0.5, 0.5, 1.0};
  std::vector<double> s = {1.44, 0.6, 0.6, 1.21};
  FitSources in = matrices(v, 2, s, 2);
  Fitted f = fit_of(call, in);
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  const FitIntervals& ci = f.fit.intervals;
  auto cor = static_cast<std::size_t>(FitMatrix::cor);
  auto dis = static_cast<std::size_t>(FitMatrix::disattenuated);
  EXPECT_EQ(ci.lower[dis], ci.lower[cor]);
  EXPECT_EQ(ci.upper[dis], ci.upper[cor]);
  // The off-diagonal correlation has an interval of some width.
  EXPECT_LT(ci.lower[dis][1], ci.upper[dis][1]);
}

TEST(Fit, RawScoresBesideAnEstimatedUnrestrictedMatrixKeepItsSampleSize) {
  // The restricted side from raw scores, S from a sample of 40: S varies
  // in the intervals. Of x's corrected variance, which is s_xx itself,
  // normal theory gives the SE s_xx sqrt(2 / (n_unrestricted - 1)); with
  // S known it has none.
  Scores data = data_scores();
  std::vector<double> s = {9.0};
  FitSources in;
  in.data = data.raw();
  in.unrestricted = s.data();
  in.ld_unrestricted = 1;
  in.diagnostics = false;
  Call call = three(true);
  call.interval = texts({"normal"});
  call.n_unrestricted = numbers({40});
  Fitted estimated = fit_of(call, in);
  ASSERT_FALSE(estimated.fit.refused()) << said(estimated.fit);
  ASSERT_TRUE(estimated.fit.with_intervals);
  const FitIntervals& ci = estimated.fit.intervals;
  EXPECT_EQ(ci.summary.n, 5);
  EXPECT_EQ(ci.summary.n_unrestricted, 40);
  EXPECT_NE(ci.description.find("; unrestricted matrix estimated, n_unrestricted = 40"),
            std::string::npos)
      << ci.description;
  auto cov = static_cast<std::size_t>(FitMatrix::cov);
  EXPECT_NEAR(ci.se[cov][0], 9.0 * std::sqrt(2.0 / 39.0), 1e-12);
  call.n_unrestricted = Given{};
  Fitted known = fit_of(call, in);
  ASSERT_FALSE(known.fit.refused()) << said(known.fit);
  EXPECT_EQ(known.fit.intervals.summary.n_unrestricted, 0);
  EXPECT_EQ(known.fit.intervals.se[cov][0], 0.0);
}

TEST(Fit, TheIntervalRequestOfResolvedOptions) {
  IntervalOptions o;
  o.method = IntervalMethod::bootstrap;
  o.n = 120;
  o.n_unrestricted = 300;
  o.resamples = 500;
  Scores data = data_scores();
  Scores pool{{0, 2, 4}, 3, 1};
  // Raw scores stand in for the sizes, each for its own side.
  IntervalRequest r = interval_request(o, 9, {}, {});
  EXPECT_EQ(r.n, 120);
  EXPECT_EQ(r.n_unrestricted, 300);
  EXPECT_EQ(r.seed, 9u);
  EXPECT_EQ(r.resamples, 500);
  r = interval_request(o, 9, data.raw(), {});
  EXPECT_EQ(r.n, 0);
  EXPECT_EQ(r.n_unrestricted, 300);
  EXPECT_EQ(r.data.rows, 6);
  EXPECT_EQ(r.pool.data, nullptr);
  r = interval_request(o, 9, {}, pool.raw());
  EXPECT_EQ(r.n, 120);
  EXPECT_EQ(r.n_unrestricted, 0);
  EXPECT_EQ(r.pool.rows, 3);
  // The call's own seed wins.
  o.seed = 4;
  o.seed_given = true;
  EXPECT_EQ(interval_request(o, 9, {}, {}).seed, 4u);
}

TEST(Fit, ReliabilitiesByVariableLeaveOutThoseTakenAsOne) {
  Call call = three();
  Given z;
  z.kind = Given::Kind::numbers;
  z.numbers = {0.81};
  z.names = {"z"};
  z.has_names = true;
  call.reliabilities = z;
  std::vector<double> s = {1.44};
  Fitted f = fit_of(call, matrices(whole_v, 3, s, 1));
  ASSERT_FALSE(f.fit.refused()) << said(f.fit);
  ASSERT_EQ(f.fit.reliabilities.size(), 3u);
  EXPECT_TRUE(std::isnan(f.fit.reliabilities[0]));
  EXPECT_TRUE(std::isnan(f.fit.reliabilities[1]));  // y: taken as 1, not given
  EXPECT_EQ(f.fit.reliabilities[2], 0.81);
}

}  // namespace
}  // namespace tolbe
