// The screening of raw scores and sample sizes: which data raise which
// finding, at which row and column, with which words; and the rules the
// clients share (default predictors, the memory bound).
#include "tolbe/screening.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "tolbe/findings.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"
#include "tolbe/validity.h"

namespace tolbe {
namespace {

// Scores by columns.
struct Columns {
  std::vector<std::vector<double>> columns;
  std::vector<double> packed{};
  RawScores scores() {
    packed.clear();
    for (const auto& c : columns) packed.insert(packed.end(), c.begin(), c.end());
    int rows = columns.empty() ? 0 : static_cast<int>(columns[0].size());
    return {rows, static_cast<int>(columns.size()), packed.data(), std::max(1, rows)};
  }
};

std::vector<Finding> findings_of(const Screening& s) {
  std::array<Finding, max_findings> found;
  int n = screening_findings(s, found);
  return {found.begin(), found.begin() + n};
}

std::string message(const Finding& f, std::vector<const char*> names = {}) {
  char text[1024];
  finding_message(f, names, text, sizeof text);
  return text;
}

// The median and the robust standard deviation, computed by sorting.
double median(std::vector<double> x) {
  std::sort(x.begin(), x.end());
  std::size_t n = x.size();
  return n % 2 == 1 ? x[n / 2] : (x[n / 2 - 1] + x[n / 2]) / 2.0;
}
double robust_sd(const std::vector<double>& x) {
  double m = median(x);
  std::vector<double> d;
  for (double v : x) d.push_back(std::fabs(v - m));
  return 1.4826022185056018 * median(d);
}

// Normal-looking scores without a tail: a fixed, symmetric spread.
std::vector<double> spread(int n, double centre, double step) {
  std::vector<double> x;
  for (int k = 0; k < n; ++k) x.push_back(centre + step * (k - (n - 1) / 2.0));
  return x;
}

TEST(screening_test, missing_codes_are_nines_and_eights_of_either_sign) {
  struct Case {
    double x;
    bool code;
  };
  for (Case c : {Case{9, true},
                 {-9, true},
                 {99, true},
                 {-99, true},
                 {999, true},
                 {-9999, true},
                 {999999, true},
                 {9999999, false},
                 {8, true},
                 {-88, true},
                 {888888, true},
                 {98, false},
                 {100, false},
                 {0, false},
                 {9.5, false},
                 {990, false},
                 {-1, false},
                 {89, false}}) {
    EXPECT_EQ(is_missing_code(c.x), c.code) << c.x;
  }
}

TEST(screening_test, rows_against_variables_at_the_boundaries) {
  struct Case {
    int rows, q;
    FindingCode code;  // unrestricted_asymmetric: none expected
    Severity severity;
  };
  const FindingCode none = FindingCode::unrestricted_asymmetric;
  for (Case c : {Case{5, 5, FindingCode::too_few_rows, Severity::error},
                 {2, 5, FindingCode::too_few_rows, Severity::error},
                 {6, 5, FindingCode::small_sample, Severity::warning},
                 {49, 5, FindingCode::small_sample, Severity::warning},
                 {50, 5, none, Severity::note},
                 {0, 5, none, Severity::note},  // n unknown
                 {11, 1, none, Severity::note}}) {
    SCOPED_TRACE(std::to_string(c.rows) + " rows, q = " + std::to_string(c.q));
    std::vector<Finding> f = findings_of(screen_sample_size(c.rows, c.q));
    if (c.code == none) {
      EXPECT_TRUE(f.empty());
      continue;
    }
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].code, c.code);
    EXPECT_EQ(f[0].severity, c.severity);
    EXPECT_NE(message(f[0]).find("has n = " + std::to_string(c.rows) + " for " +
                                 std::to_string(c.q) + " variables"),
              std::string::npos)
        << message(f[0]);
  }
  // Raw scores count their complete rows only.
  Columns data{{{1, 2, 3, 4, NAN, 6}, {2, 1, 4, 3, 5, NAN}, {1, 1, 2, 2, 3, 3}}};
  Screening s = screen_scores(data.scores(), {}, {});
  EXPECT_EQ(s.rows, 4);
  std::vector<Finding> f = findings_of(s);
  ASSERT_FALSE(f.empty());
  EXPECT_EQ(f[0].code, FindingCode::small_sample);
}

TEST(screening_test, a_missing_code_is_named_by_row_column_and_value) {
  std::vector<double> c1 = spread(40, 4.5, 0.05);
  std::vector<double> c2 = spread(40, 60.0, 1.0);
  c1[2] = -99;  // the third row
  Columns data{{c2, c1}};
  std::vector<Finding> f = findings_of(screen_scores(data.scores(), {}, {}));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].code, FindingCode::suspect_code);
  EXPECT_EQ(f[0].row, 2);
  EXPECT_EQ(f[0].variables[0], 1);
  EXPECT_EQ(f[0].numbers[0], -99);
  double distance = std::fabs(-99 - median(c1)) / robust_sd(c1);
  EXPECT_NEAR(f[0].numbers[1], distance, 1e-9 * distance);
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", distance);
  EXPECT_EQ(message(f[0], {"T1", "C1"}),
            std::string("row 3 of C1 holds -99, which looks like a missing-value code: it lies ") +
                text +
                " robust standard deviations from the median of C1. If it marks a missing "
                "value, make it NA (an empty field)");
}

TEST(screening_test, far_out_values_at_the_bound) {
  // 21 values -10..10 and one more far above: the median is 0.5 and the
  // robust SD does not depend on how far the last one is.
  std::vector<double> base;
  for (int k = -10; k <= 10; ++k) base.push_back(k);
  std::vector<double> probe = base;
  probe.push_back(1000);
  double centre = median(probe);
  double scale = robust_sd(probe);
  struct Case {
    double distance;
    bool found;
  };
  for (Case c : {Case{10.01, true}, {9.99, false}, {-10.01, true}, {-9.99, false}}) {
    std::vector<double> x = base;
    x.push_back(centre + c.distance * scale);
    // (Below the median the ranks shift; the distance is recomputed.)
    double d = std::fabs(x.back() - median(x)) / robust_sd(x);
    SCOPED_TRACE(d);
    Columns data{{x}};
    std::vector<Finding> f = findings_of(screen_scores(data.scores(), {}, {}));
    bool outlying = std::any_of(
        f.begin(), f.end(), [](const Finding& g) { return g.code == FindingCode::outlying_value; });
    EXPECT_EQ(outlying, d > outlier_distance);
    if (c.distance > 0) {
      EXPECT_EQ(outlying, c.found);
    }
  }
}

TEST(screening_test, codes_near_the_rest_are_not_suspect) {
  // A rating from 1 to 9 holds 9 and 8 as real values.
  std::vector<double> rating;
  for (int k = 0; k < 45; ++k) rating.push_back(1 + k % 9);
  Columns data{{rating}};
  EXPECT_TRUE(findings_of(screen_scores(data.scores(), {}, {})).empty());
}

TEST(screening_test, the_first_in_row_order_is_named_and_all_are_counted) {
  std::vector<double> a = spread(30, 10, 0.5);
  std::vector<double> b = spread(30, 20, 0.1);
  a[4] = 999;
  b[3] = -9;
  b[20] = -99;
  Columns data{{a, b}};
  std::vector<Finding> f = findings_of(screen_scores(data.scores(), {}, {}));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].count, 3);
  EXPECT_EQ(f[0].row, 3);
  EXPECT_EQ(f[0].variables[0], 1);
  EXPECT_EQ(f[0].numbers[0], -9);
}

TEST(screening_test, a_column_mostly_equal_is_scaled_by_its_mean_deviation) {
  std::vector<double> flag(20, 0.0);
  flag[5] = 1;
  flag[9] = 99;
  Columns data{{flag, spread(20, 0, 1)}};
  std::vector<Finding> f = findings_of(screen_scores(data.scores(), {}, {}));
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].code, FindingCode::suspect_code);
  EXPECT_EQ(f[0].row, 9);
  // 1.2533 times the mean absolute deviation from the median 0: 100 / 20.
  EXPECT_NEAR(f[0].numbers[1], 99 / (1.2533141373155003 * 100 / 20), 1e-9);
  // A column that does not vary is not checked.
  Columns constant{{std::vector<double>(20, 3.0), spread(20, 0, 1)}};
  EXPECT_TRUE(findings_of(screen_scores(constant.scores(), {}, {})).empty());
}

TEST(screening_test, the_pools_values_are_named_by_its_rows_and_the_selection_variable) {
  std::vector<double> t = spread(30, 50, 1);
  std::vector<double> y = spread(30, 3, 0.1);
  Columns data{{y, t}};
  std::vector<double> pool_t = spread(60, 45, 1);
  pool_t[7] = -999;
  Columns pool{{pool_t}};
  std::vector<int> selection = {1};
  std::vector<Finding> f = findings_of(screen_scores(data.scores(), pool.scores(), selection));
  auto code = std::find_if(f.begin(), f.end(), [](const Finding& g) {
    return g.code == FindingCode::pool_suspect_code;
  });
  ASSERT_NE(code, f.end());
  EXPECT_EQ(code->row, 7);
  EXPECT_EQ(code->variables[0], 1);
  EXPECT_EQ(message(*code, {"Y", "T"}).substr(0, 35), "row 8 of the pool holds -999 for T,");
}

// The pool's rows: every selected row among them, plus others.
struct Study {
  Columns data, pool;
  std::vector<int> selection{0, 1};
};
Study study(bool coarse) {
  Study s;
  std::vector<double> t1, t2, y, p1, p2;
  for (int k = 0; k < 200; ++k) {
    double a = coarse ? k % 7 : 50 + 0.37 * k - 0.001 * k * k;
    double b = coarse ? k % 5 : 30 + 0.11 * k + 0.002 * k * k;
    p1.push_back(a);
    p2.push_back(b);
    if (k % 4 == 0) {
      t1.push_back(a);
      t2.push_back(b);
      y.push_back(0.1 * k);
    }
  }
  s.data.columns = {t1, t2, y};
  s.pool.columns = {p1, p2};
  return s;
}

std::vector<FindingCode> pool_codes(Study& s) {
  std::vector<FindingCode> codes;
  for (const Finding& f :
       findings_of(screen_scores(s.data.scores(), s.pool.scores(), s.selection))) {
    if (f.code == FindingCode::pool_without_selected ||
        f.code == FindingCode::pool_holds_selected_twice) {
      codes.push_back(f.code);
    }
  }
  return codes;
}

TEST(screening_test, a_pool_that_is_not_all_the_applicants) {
  using V = std::vector<FindingCode>;
  Study all = study(false);
  EXPECT_EQ(pool_codes(all), V{});
  // The rejected only.
  Study rejected = study(false);
  for (auto& c : rejected.pool.columns) {
    std::vector<double> kept;
    for (std::size_t k = 0; k < c.size(); ++k) {
      if (k % 4 != 0) kept.push_back(c[k]);
    }
    c = kept;
  }
  EXPECT_EQ(pool_codes(rejected), V{FindingCode::pool_without_selected});
  // The selected appended to a pool that held them.
  Study doubled = study(false);
  for (int j = 0; j < 2; ++j) {
    auto& c = doubled.pool.columns[static_cast<std::size_t>(j)];
    const auto& d = doubled.data.columns[static_cast<std::size_t>(j)];
    c.insert(c.end(), d.begin(), d.end());
  }
  EXPECT_EQ(pool_codes(doubled), V{FindingCode::pool_holds_selected_twice});
  // One selected row not doubled: no finding.
  doubled.pool.columns[0].pop_back();
  doubled.pool.columns[1].pop_back();
  EXPECT_EQ(pool_codes(doubled), V{});
  // Coarse scores repeat anyway: a doubling cannot be seen.
  Study coarse = study(true);
  for (int j = 0; j < 2; ++j) {
    auto& c = coarse.pool.columns[static_cast<std::size_t>(j)];
    const auto& d = coarse.data.columns[static_cast<std::size_t>(j)];
    c.insert(c.end(), d.begin(), d.end());
  }
  EXPECT_EQ(pool_codes(coarse), V{});
  // A selection in another order matches the pool's columns in that order.
  Study swapped = study(false);
  std::swap(swapped.data.columns[0], swapped.data.columns[1]);
  swapped.selection = {1, 0};
  EXPECT_EQ(pool_codes(swapped), V{});
}

TEST(screening_test, arguments_that_do_not_fit_give_the_sizes_alone) {
  Columns data{{spread(30, 0, 1), spread(30, 1, 1)}};
  Columns pool{{spread(30, 0, 1)}};
  std::vector<int> out_of_range = {5};
  Screening s = screen_scores(data.scores(), pool.scores(), out_of_range);
  EXPECT_EQ(s.rows, 30);
  EXPECT_EQ(s.selected_rows, 0);
  EXPECT_EQ(screen_scores({}, {}, {}).rows, 0);
}

// Of the matrices: a selection variable whose variance grew.
TEST(screening_test, a_selection_variable_whose_variance_grew) {
  struct Case {
    double s11;
    bool grew;
    bool implausible;
  };
  for (Case c : {Case{9.8, true, false},
                 {44.3, true, false},
                 {44.4, false, false},
                 {60, false, false},
                 {1.7, false, true}}) {
    SCOPED_TRACE(c.s11);
    const double v[9] = {44.4, 3, 2, 3, 2, 0.5, 2, 0.5, 1};
    const double s[1] = {c.s11};
    LawleyCorrection r = lawley(LawleyProblem{3, 1, v, 3, s, 1, {}, {}});
    std::array<Finding, max_findings> found;
    int n = lawley_findings(r.diagnostics, found);
    auto has = [&](FindingCode code) {
      return std::any_of(found.begin(), found.begin() + n,
                         [&](const Finding& f) { return f.code == code; });
    };
    EXPECT_EQ(has(FindingCode::selection_variance_grew), c.grew);
    EXPECT_EQ(has(FindingCode::implausible_variance_ratio), c.implausible);
    if (c.grew) {
      auto f = std::find_if(found.begin(), found.begin() + n, [](const Finding& g) {
        return g.code == FindingCode::selection_variance_grew;
      });
      char expected[64];
      std::snprintf(expected, sizeof expected, "(%.4g against 44.4)", c.s11);
      EXPECT_NE(message(*f, {"COG"})
                    .find(std::string("the unrestricted variance of COG, a "
                                      "selection variable, is below its "
                                      "restricted variance ") +
                          expected),
                std::string::npos)
          << message(*f, {"COG"});
    }
  }
}

TEST(screening_test, messages_number_any_variable_and_row_without_overflow) {
  Finding f;
  f.code = FindingCode::suspect_code;
  f.variables[0] = INT_MAX;
  f.row = INT_MAX;
  f.numbers[0] = -99;
  EXPECT_EQ(message(f).substr(0, 53), "row 2147483648 of variable 2147483648 holds -99, whic");
  f.code = FindingCode::correlation_out_of_range;
  f.variables[0] = 0;
  f.variables[1] = 1;
  f.numbers[0] = NAN;
  EXPECT_EQ(message(f, {"a", "b"}),
            "the corrected correlation of a and b is not a number (a variance it divides by is "
            "not positive)");
  f.numbers[0] = -1.25;
  EXPECT_EQ(message(f, {"a", "b"}),
            "the corrected correlation of a and b is -1.25, above 1 in magnitude");
}

TEST(screening_test, the_c_api_merges_the_screenings_findings_in_order) {
  // An asymmetric restricted matrix (a warning) and too few rows (an error).
  const double v[4] = {2, 0.5, 0.4, 2};
  const double s[1] = {2.5};
  size_t doubles = 0, ints = 0;
  ASSERT_EQ(tolbe_lawley_workspace(2, 1, &doubles, &ints), TOLBE_OK);
  std::vector<double> work(doubles), cov(4), corr(4);
  std::vector<int> int_work(ints);
  tolbe_diagnostics d;
  tolbe_lawley(2, 1, v, 2, s, 1, nullptr, nullptr, 0, cov.data(), 2, corr.data(), 2, nullptr, 0,
               work.data(), work.size(), int_work.data(), int_work.size(), &d);
  ASSERT_EQ(d.n_findings, 1) << tolbe_finding_code_name(d.findings[1].code);
  EXPECT_EQ(d.findings[0].code, TOLBE_FINDING_RESTRICTED_ASYMMETRIC);
  EXPECT_EQ(d.findings[0].row, -1);
  ASSERT_EQ(tolbe_screen(2, 1, nullptr, nullptr, nullptr, 2, &d), TOLBE_OK);
  ASSERT_EQ(d.n_findings, 2);
  EXPECT_EQ(d.findings[0].code, TOLBE_FINDING_TOO_FEW_ROWS);
  EXPECT_EQ(d.findings[0].severity, TOLBE_ERROR);
  EXPECT_EQ(d.findings[1].code, TOLBE_FINDING_RESTRICTED_ASYMMETRIC);
  // Screened twice, said once.
  ASSERT_EQ(tolbe_screen(2, 1, nullptr, nullptr, nullptr, 2, &d), TOLBE_OK);
  EXPECT_EQ(d.n_findings, 2);
  // Raw scores with a code, their row in the finding.
  std::vector<double> scores = spread(40, 0, 1);
  std::vector<double> y = spread(40, 5, 0.1);
  y[12] = -99;
  scores.insert(scores.end(), y.begin(), y.end());
  tolbe_scores data{40, 2, scores.data(), 40};
  d.n_findings = 0;
  ASSERT_EQ(tolbe_screen(2, 1, &data, nullptr, nullptr, 0, &d), TOLBE_OK);
  ASSERT_EQ(d.n_findings, 1) << tolbe_finding_code_name(d.findings[1].code);
  EXPECT_EQ(d.findings[0].code, TOLBE_FINDING_SUSPECT_CODE);
  EXPECT_EQ(d.findings[0].row, 12);
  const char* names[2] = {"T", "C1"};
  char text[256];
  tolbe_finding_message(&d.findings[0], names, 2, text, sizeof text);
  EXPECT_EQ(std::string(text).substr(0, 22), "row 13 of C1 holds -99");
  EXPECT_EQ(tolbe_screen(2, 3, &data, nullptr, nullptr, 0, &d), TOLBE_INVALID_ARGUMENT);
  EXPECT_EQ(tolbe_screen(2, 1, &data, nullptr, nullptr, 0, nullptr), TOLBE_INVALID_ARGUMENT);
}

TEST(screening_test, criteria_are_never_default_predictors) {
  struct Case {
    int q, criterion;
    std::vector<int> criteria;
    int count;
    std::vector<int> predictors;
  };
  for (const Case& c : {Case{5, 3, {}, 4, {0, 1, 2, 4}}, Case{5, 3, {3, 4}, 3, {0, 1, 2}},
                        Case{5, 0, {4, 2}, 2, {1, 3}}, Case{2, 1, {0}, 0, {}},
                        Case{5, 5, {}, -1, {}}, Case{5, -1, {}, -1, {}}, Case{5, 3, {7}, -1, {}}}) {
    std::vector<int> out(static_cast<std::size_t>(std::max(c.q, 0)), -7);
    int n = default_predictors(c.q, c.criterion, c.criteria, out);
    EXPECT_EQ(n, c.count) << c.criterion;
    if (n > 0) {
      EXPECT_EQ(std::vector<int>(out.begin(), out.begin() + n), c.predictors);
    }
    int c_out[8];
    EXPECT_EQ(tolbe_default_predictors(c.q, c.criterion, c.criteria.data(),
                                       static_cast<int>(c.criteria.size()), c_out),
              c.count);
  }
  std::vector<int> short_out(3);
  EXPECT_EQ(default_predictors(5, 0, {}, short_out), -1);
}

TEST(screening_test, the_memory_bound_and_its_words) {
  char text[256];
  EXPECT_EQ(workspace_refusal("the intervals", {1000, 10}, text, sizeof text), 0u);
  EXPECT_STREQ(text, "");
  // Exactly at the bound is allowed; a byte more is not.
  EXPECT_EQ(workspace_refusal("x", {max_workspace_bytes / sizeof(double), 0}, text, sizeof text),
            0u);
  std::size_t n =
      workspace_refusal("the intervals", {(std::size_t{2} << 30) / 8, 1}, text, sizeof text);
  EXPECT_STREQ(text,
               "the intervals would need about 2049 MiB of memory, more than the 1024 MiB tolbe "
               "allows itself; use fewer resamples");
  EXPECT_EQ(n, std::string(text).size());
  workspace_refusal("the bootstrap", {SIZE_MAX, 0}, text, sizeof text);
  EXPECT_STREQ(text,
               "the bootstrap would need more memory than there is, more than the 1024 MiB "
               "tolbe allows itself; use fewer resamples");
  EXPECT_EQ(tolbe_workspace_refusal("y", SIZE_MAX / 2, 0, nullptr, 0) > 0, true);
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

// A code between the two bounds is a code; a plain value there is not.
TEST(screening_test, a_code_between_the_bounds_is_still_a_code) {
  std::vector<double> y;
  for (int k = 0; k <= 10; ++k) y.push_back(40 + 2 * k);
  y.push_back(99);
  double distance = std::fabs(99 - median(y)) / robust_sd(y);
  ASSERT_GT(distance, code_distance);
  ASSERT_LT(distance, outlier_distance);
  Columns data{{y}};
  Screening s = screen_scores(data.scores(), {}, {});
  EXPECT_EQ(s.data.codes, 1);
  EXPECT_EQ(s.data.first_code_row, 11);
  EXPECT_NEAR(s.data.first_code_distance, distance, 1e-12);
  y.back() = 98;  // no code: within the outliers' bound
  Columns plain{{y}};
  EXPECT_EQ(screen_scores(plain.scores(), {}, {}).data.outlying, 0);
}

// The C API passes the selection on: the pool's column is variable 1's.
TEST(screening_test, the_c_api_matches_the_pool_to_the_selection) {
  std::vector<double> scores = spread(20, 100, 3);
  std::vector<double> x = spread(20, 5, 0.1);
  scores.insert(scores.end(), x.begin(), x.end());
  std::vector<double> pool = x;
  for (int k = 0; k < 20; ++k) pool.push_back(4 + 0.013 * k);
  pool.push_back(-99);
  tolbe_scores data{20, 2, scores.data(), 20};
  tolbe_scores applicants{41, 1, pool.data(), 41};
  const int selection[1] = {1};
  tolbe_diagnostics d{};
  d.n_findings = 0;
  ASSERT_EQ(tolbe_screen(2, 1, &data, &applicants, selection, 0, &d), TOLBE_OK);
  std::vector<int> codes;
  for (int k = 0; k < d.n_findings; ++k) codes.push_back(d.findings[k].code);
  EXPECT_EQ(codes, (std::vector<int>{TOLBE_FINDING_POOL_SUSPECT_CODE}));
  EXPECT_EQ(d.findings[0].variables[0], 1);
  EXPECT_EQ(d.findings[0].row, 40);
}

}  // namespace
}  // namespace tolbe

namespace tolbe {
namespace {

// Excess kurtosis, m4 / m2^2 - 3, written out.
double excess_kurtosis(const std::vector<double>& x) {
  double mean = 0.0;
  for (double v : x) mean += v;
  mean /= static_cast<double>(x.size());
  double m2 = 0.0;
  double m4 = 0.0;
  for (double v : x) {
    m2 += (v - mean) * (v - mean);
    m4 += (v - mean) * (v - mean) * (v - mean) * (v - mean);
  }
  m2 /= static_cast<double>(x.size());
  m4 /= static_cast<double>(x.size());
  return m4 / (m2 * m2) - 3.0;
}

// Normal quantiles z stretched to z (1 + c z^2): a heavy-tailed variable
// (excess kurtosis 4 to 13 for c = 0.5 and 50 to 1000 rows).
std::vector<double> tailed(int n, double c = 0.5) {
  std::vector<double> x;
  for (int k = 0; k < n; ++k) {
    double z = normal_quantile((k + 0.5) / n);
    x.push_back(50.0 + z * (1.0 + c * z * z));
  }
  return x;
}

// The excess kurtosis of what the screening keeps: the scores at most 10
// robust SDs from the median.
double kept_kurtosis(const std::vector<double>& x) {
  double m = median(x);
  double scale = robust_sd(x);
  std::vector<double> kept;
  for (double v : x) {
    if (std::fabs(v - m) / scale <= 10.0) kept.push_back(v);
  }
  return excess_kurtosis(kept);
}

TEST(screening_test, heavy_tails_of_an_unselected_variable_are_said_below_1000_rows) {
  struct Case {
    const char* name;
    int rows;
    int heavy_column;  // -1: none
    std::vector<int> selection;
    int said;  // the variable named, -1: no finding
  };
  const Case cases[] = {
      {"criterion, 250 rows", 250, 2, {0}, 2},
      {"first variable, unselected", 250, 0, {2}, 0},
      {"the selection variable", 250, 0, {0}, -1},
      {"50 rows, the fewest checked", 50, 2, {0}, 2},
      {"49 rows", 49, 2, {0}, -1},
      {"999 rows", 999, 2, {0}, 2},
      {"1000 rows", 1000, 2, {0}, -1},
      {"no tail", 250, -1, {0}, -1},
  };
  for (const Case& c : cases) {
    Columns data;
    for (int j = 0; j < 3; ++j) {
      data.columns.push_back(j == c.heavy_column ? tailed(c.rows) : spread(c.rows, 10.0 * j, 1.0));
    }
    Screening s = screen_scores(data.scores(), {}, c.selection);
    std::vector<Finding> found;
    for (const Finding& f : findings_of(s)) {
      if (f.code == FindingCode::heavy_tails) found.push_back(f);
    }
    if (c.said < 0) {
      EXPECT_TRUE(found.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(found.size(), 1u) << c.name;
    EXPECT_EQ(found[0].severity, Severity::warning) << c.name;
    EXPECT_EQ(found[0].variables[0], c.said) << c.name;
    double expected = kept_kurtosis(data.columns[static_cast<std::size_t>(c.heavy_column)]);
    EXPECT_GT(expected, heavy_tail_kurtosis) << c.name;
    EXPECT_NEAR(found[0].numbers[0], expected, 1e-9 * expected) << c.name;
  }
}

TEST(screening_test, heavy_tails_leave_out_what_is_said_as_a_code_or_an_outlier) {
  // A normal-looking criterion with one typo 40 robust SDs out: the typo is
  // an outlying value, and without it nothing is heavy-tailed.
  Columns data;
  data.columns = {spread(200, 0.0, 1.0), spread(200, 5.0, 0.5)};
  data.columns[1][17] = 5.0 + 40.0 * robust_sd(data.columns[1]);
  EXPECT_GT(excess_kurtosis(data.columns[1]), heavy_tail_kurtosis);
  Screening s = screen_scores(data.scores(), {}, std::vector<int>{0});
  std::vector<Finding> found = findings_of(s);
  EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                          [](const Finding& f) { return f.code == FindingCode::outlying_value; }));
  EXPECT_TRUE(std::none_of(found.begin(), found.end(),
                           [](const Finding& f) { return f.code == FindingCode::heavy_tails; }));
  // Two heavy variables: both counted, the heavier named, in the library's
  // words.
  Columns two;
  // The heavier comes second, so that naming the first found would show.
  two.columns = {spread(300, 0.0, 1.0), tailed(300, 0.5), tailed(300, 0.3)};
  double k1 = kept_kurtosis(two.columns[1]);
  double k2 = kept_kurtosis(two.columns[2]);
  ASSERT_GT(k2, k1 + 0.1);
  int heavier = 2;
  Screening both = screen_scores(two.scores(), {}, std::vector<int>{0});
  EXPECT_EQ(both.heavy_tailed, 2);
  EXPECT_EQ(both.heaviest_variable, heavier);
  std::vector<Finding> said = findings_of(both);
  auto heavy = std::find_if(said.begin(), said.end(),
                            [](const Finding& f) { return f.code == FindingCode::heavy_tails; });
  ASSERT_NE(heavy, said.end());
  char x[32];
  std::snprintf(x, sizeof x, "%.4g", std::max(k1, k2));
  EXPECT_EQ(message(*heavy, {"T1", "Y1", "Y2"}),
            std::string(heavier == 1 ? "Y1" : "Y2") +
                " has heavy tails in the restricted sample (excess kurtosis " + x +
                ") (2 in all): below 1000 rows the intervals of its correlations, and of R and "
                "R2 with it, cover less than their level by every method (89 to 93 % for 95 % "
                "intervals at 250 rows in tolbe's coverage study, with a criterion of excess "
                "kurtosis 7)");
}

}  // namespace
}  // namespace tolbe
