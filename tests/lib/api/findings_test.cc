// The library's findings: which problems raise which finding, with which
// variables, and the words of their messages.
#include "tolbe/findings.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tolbe/lawley.h"

namespace tolbe {
namespace {

// A small problem given by rows; the selection variables are the first p
// unless `selection` says otherwise.
struct Problem {
  std::vector<std::vector<double>> v;  // q rows
  std::vector<std::vector<double>> s;  // p rows
  std::vector<int> selection;
  std::vector<double> reliabilities;
};

struct Found {
  Diagnostics diagnostics;
  std::vector<Finding> findings;
};

Found find(const Problem& problem) {
  int q = static_cast<int>(problem.v.size());
  int p = static_cast<int>(problem.s.size());
  std::vector<double> v(static_cast<std::size_t>(q * q));
  std::vector<double> s(static_cast<std::size_t>(p * p));
  for (int i = 0; i < q; ++i) {
    for (int j = 0; j < q; ++j) {
      v[static_cast<std::size_t>(i + j * q)] =
          problem.v[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  for (int i = 0; i < p; ++i) {
    for (int j = 0; j < p; ++j) {
      s[static_cast<std::size_t>(i + j * p)] =
          problem.s[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    }
  }
  LawleyProblem lp{
      q, p, v.data(), q, s.data(), p == 0 ? 1 : p, problem.selection, problem.reliabilities};
  LawleyCorrection c = lawley(lp);
  Found found{c.diagnostics, {}};
  std::array<Finding, max_findings> all;
  int n = lawley_findings(c.diagnostics, all);
  found.findings.assign(all.begin(), all.begin() + n);
  return found;
}

std::string message(const Finding& f, std::span<const char* const> names = {}) {
  std::size_t length = finding_message(f, names, nullptr, 0);
  std::string text(length, '\0');
  finding_message(f, names, text.data(), length + 1);
  return text;
}

struct Case {
  const char* name;
  Problem problem;
  FindingCode code;
  Severity severity;
  std::vector<int> variables;  // from 0
  std::string message;         // with the variables unnamed
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class FindingRaised : public testing::TestWithParam<Case> {};

TEST_P(FindingRaised, with_its_severity_variables_and_words) {
  const Case& c = GetParam();
  Found found = find(c.problem);
  const Finding* hit = nullptr;
  for (const Finding& f : found.findings) {
    if (f.code == c.code) hit = &f;
  }
  ASSERT_NE(hit, nullptr) << finding_code_name(c.code) << " not found";
  EXPECT_EQ(hit->severity, c.severity);
  std::vector<int> variables;
  for (int v : hit->variables) {
    if (v >= 0) variables.push_back(v);
  }
  EXPECT_EQ(variables, c.variables);
  EXPECT_EQ(message(*hit), c.message);
}

// Lawley's worked example: restricted correlations, unrestricted values in
// units of the restricted standard deviations.
const std::vector<std::vector<double>> worked_v = {{1, .5, .3}, {.5, 1, .4}, {.3, .4, 1}};
const std::vector<std::vector<double>> worked_s = {{1.44, .6}, {.6, 1.21}};
// The same as variances and covariances (standard deviations 2, 3 and 4).
const std::vector<std::vector<double>> cov_v = {{4, 3, 2.4}, {3, 9, 4.8}, {2.4, 4.8, 16}};
const std::vector<std::vector<double>> cov_s = {{5.76, 3.6}, {3.6, 10.89}};

INSTANTIATE_TEST_SUITE_P(
    Table, FindingRaised,
    testing::Values(
        Case{"lower_triangle",
             {{{1, 0, 0}, {.5, 1, 0}, {.3, .4, 1}}, worked_s, {}, {}},
             FindingCode::restricted_lower_triangle,
             Severity::error,
             {},
             "the restricted var/cov matrix holds only its lower triangle: every value above the "
             "diagonal is 0 or missing, and the correction reads some of them; enter the whole "
             "matrix"},
        Case{"upper_triangle_with_nan_below",
             // NaN where nothing is read (V21), zeros where V22 is read.
             {{{4, 1, 1.2, .8}, {NAN, 9, 2.4, 1.5}, {NAN, 0, 16, 2}, {NAN, 0, 0, 6.25}},
              {{5}},
              {},
              {}},
             FindingCode::restricted_upper_triangle,
             Severity::error,
             {},
             "the restricted var/cov matrix holds only its upper triangle: every value below the "
             "diagonal is 0 or missing, and the correction reads some of them; enter the whole "
             "matrix"},
        Case{"unrestricted_lower_triangle",
             {cov_v, {{5.76, 0}, {3.6, 10.89}}, {}, {}},
             FindingCode::unrestricted_lower_triangle,
             Severity::error,
             {},
             "the unrestricted var/cov matrix holds only its lower triangle: every value above "
             "the diagonal is 0 or missing, and the correction reads it whole; enter the whole "
             "matrix"},
        // The largest relative difference is that of variables 2 and 3:
        // |4.8 - 6| / (3 * 4) = 0.1, against 0.3 / (2 * 4) for 1 and 3.
        Case{"asymmetric",
             {{{4, 3, 2.4}, {3, 9, 4.8}, {2.7, 6, 16}}, cov_s, {}, {}},
             FindingCode::restricted_asymmetric,
             Severity::warning,
             {1, 2},
             "the restricted var/cov matrix is not symmetric: its two values for variable 2 and "
             "variable 3 differ by 0.1 relative to their standard deviations (the largest "
             "difference); the correction used the upper triangle of the selection variables' "
             "block, the rest of their rows and the whole block of the other variables, and "
             "ignored the rest"},
        // Rows of S are selection variables 3 and 1.
        Case{"unrestricted_asymmetric_named_by_selection",
             {cov_v, {{16, 2}, {1, 4}}, {2, 0}, {}},
             FindingCode::unrestricted_asymmetric,
             Severity::warning,
             {2, 0},
             "the unrestricted var/cov matrix is not symmetric: its two values for variable 3 "
             "and variable 1 differ by 0.125 relative to their standard deviations (the largest "
             "difference); the correction used all of it"},
        Case{"ratio_of_covariances_beside_correlations",
             {worked_v, {{220, 60}, {60, 121}}, {}, {}},
             FindingCode::implausible_variance_ratio,
             Severity::warning,
             {0},
             "the unrestricted variance of variable 1 is 220 times its restricted variance (2 in "
             "all): standard deviations more than five times apart suggest matrices in different "
             "units (correlations beside covariances?) or variables in another order"},
        Case{"ratio_under_a_twentyfifth_of_the_second_selected",
             {cov_v, {{5.76, .1}, {.1, .3}}, {}, {}},
             FindingCode::implausible_variance_ratio,
             Severity::warning,
             {1},
             "the unrestricted variance of variable 2 is 0.03333 times its restricted variance: "
             "standard deviations more than five times apart suggest matrices in different units "
             "(correlations beside covariances?) or variables in another order"},
        Case{"covariances_beside_correlations",
             {cov_v, {{1, .4}, {.4, 1}}, {}, {}},
             FindingCode::covariances_beside_correlations,
             Severity::warning,
             {},
             "the unrestricted matrix has a unit diagonal (correlations?) but the restricted one "
             "does not: enter both as variances and covariances"},
        Case{"two_correlation_matrices",
             {worked_v, {{1, .6}, {.6, 1}}, {}, {}},
             FindingCode::two_correlation_matrices,
             Severity::warning,
             {},
             "both matrices have a unit diagonal (correlations?): the correction then takes the "
             "selection variables' variances to be the same in the population as in the sample, "
             "and corrects only for the change in their correlations; give the unrestricted "
             "matrix in units of the restricted standard deviations, or both as variances and "
             "covariances"},
        Case{"the_worked_example_is_a_note",
             {worked_v, worked_s, {}, {}},
             FindingCode::correlations_beside_covariances,
             Severity::note,
             {},
             "the restricted matrix has a unit diagonal (correlations) but the unrestricted one "
             "does not: that is right only when the unrestricted values are in units of the "
             "restricted standard deviations"},
        Case{"reliability_in_percent_under_selection",
             {cov_v, {{16}}, {2}, {.81, 81}},
             FindingCode::reliability_out_of_range,
             Severity::warning,
             {1},
             "the reliability of variable 2 is outside (0, 1]; a reliability is a proportion such "
             "as 0.81"},
        Case{"last_restricted_variance",
             {{{4, 3, 2.4}, {3, 9, 4.8}, {2.4, 4.8, 0}}, cov_s, {}, {}},
             FindingCode::restricted_variance_not_positive,
             Severity::warning,
             {2},
             "the restricted variance of variable 3 is not positive"},
        Case{"unrestricted_variance_named_by_selection",
             {cov_v, {{0, 0}, {0, 4}}, {2, 1}, {}},
             FindingCode::unrestricted_variance_not_positive,
             Severity::warning,
             {2},
             "the unrestricted variance of variable 3 is not positive"},
        // r12 = -0.5 restricted, +0.5 in S: both selected.
        Case{"sign_change_of_two_selection_variables",
             {{{4, -3, 2.4}, {-3, 9, 4.8}, {2.4, 4.8, 16}}, {{4, 3}, {3, 9}}, {}, {}},
             FindingCode::selection_sign_change,
             Severity::note,
             {0, 1},
             "the correlation of variable 1 and variable 2, both selection variables, changes "
             "sign: there the unrestricted matrix replaces the restricted one, not the "
             "correction"},
        // S correlates the two selection variables, which V does not:
        // C12 = S V11^-1 V12 turns r23 from -0.1 to positive.
        Case{"sign_change_of_a_selected_and_another",
             {{{1, 0, .5}, {0, 1, -.1}, {.5, -.1, 1}}, {{1, .9}, {.9, 1}}, {}, {}},
             FindingCode::sign_change,
             Severity::note,
             {1, 2},
             "the correlation of variable 2 and variable 3 changes sign against the restricted "
             "sample (Ree et al. 1994)"},
        Case{"unread_nan_row_then_column",
             {{{4, 3, 2.4}, {3, 9, 4.8}, {NAN, 4.8, 16}}, {{4}}, {}, {}},
             FindingCode::unread_not_finite,
             Severity::note,
             {2, 0},
             "the restricted var/cov matrix holds a value that is not a finite number for "
             "variable 3 (row) and variable 1 (column), where the correction reads nothing"}),
    [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

// A sign change the correction makes: variable 1 selected, r23 = 0.05
// restricted; S quadruples the first variance, so
// C23 = v23 + v21 v13 (u - 1) / v11 = 0.05 - 0.75 turns negative.
TEST(Findings, a_sign_change_of_the_correction_is_a_note_of_its_own) {
  Found found = find({{{1, .5, -.5}, {.5, 1, .05}, {-.5, .05, 1}}, {{4}}, {}, {}});
  ASSERT_EQ(found.diagnostics.sign_changes, 1);
  EXPECT_EQ(found.diagnostics.selection_sign_changes, 0);
  bool noted = false;
  for (const Finding& f : found.findings) {
    if (f.code != FindingCode::sign_change) continue;
    noted = true;
    EXPECT_EQ(message(f),
              "the correlation of variable 2 and variable 3 changes sign against the restricted "
              "sample (Ree et al. 1994)");
  }
  EXPECT_TRUE(noted);
}

TEST(Findings, a_clean_covariance_problem_has_none) {
  EXPECT_TRUE(find({cov_v, cov_s, {}, {.81}}).findings.empty());
  EXPECT_TRUE(find({cov_v, {{16, 2.4}, {2.4, 5.76}}, {2, 0}, {.9}}).findings.empty());
}

// The bounds of the variance ratio: 25 and 1/25 themselves are plausible.
TEST(Findings, variance_ratio_bounds) {
  struct Bound {
    double unrestricted;
    bool flagged;
  };
  for (Bound b : {Bound{100.0, false}, Bound{std::nextafter(100.0, 200.0), true},
                  Bound{0.16, false}, Bound{std::nextafter(0.16, 0.0), true}}) {
    SCOPED_TRACE(b.unrestricted);
    Found found = find({cov_v, {{b.unrestricted}}, {}, {}});  // restricted variance 4
    EXPECT_EQ(found.diagnostics.implausible_variance_ratios, b.flagged ? 1 : 0);
  }
}

// A diagonal matrix is no triangle; one variable has no sides.
TEST(Findings, triangles_need_one_empty_side_and_one_full) {
  EXPECT_EQ(
      find({{{4, 0, 0}, {0, 9, 0}, {0, 0, 16}}, {{4}}, {}, {}}).diagnostics.restricted_triangle,
      Triangle::none);
  EXPECT_EQ(find({{{4}}, {{5}}, {}, {}}).diagnostics.restricted_triangle, Triangle::none);
  EXPECT_EQ(find({{{4, 0}, {1, 9}}, {{5}}, {}, {}}).diagnostics.restricted_triangle,
            Triangle::lower);
}

// A triangle whose empty side the correction never reads is no mistake:
// an upper triangle with one other variable (V21 is not read, V22 is one
// value), a lower one whose selection variables come in reverse order.
TEST(Findings, a_triangle_is_an_error_only_where_its_empty_side_is_read) {
  struct Triangular {
    const char* name;
    Problem problem;
    Triangle triangle;
  };
  const std::vector<std::vector<double>> upper = {{4, 3, 2.4}, {0, 9, 4.8}, {0, 0, 16}};
  const std::vector<std::vector<double>> upper_of_four = {
      {4, 1, 1.2, .8}, {0, 9, 2.4, 1.5}, {0, 0, 16, 2}, {0, 0, 0, 6.25}};
  for (const Triangular& t :
       {Triangular{"upper_with_one_other", {upper, cov_s, {}, {}}, Triangle::none},
        Triangular{"upper_with_two_others", {upper_of_four, {{5}}, {}, {}}, Triangle::upper},
        Triangular{"lower_selected_in_reverse",
                   {{{4, 0}, {3, 9}}, {{12, 4}, {4, 5}}, {1, 0}, {}},
                   Triangle::none},
        Triangular{"lower_selected_in_order",
                   {{{4, 0}, {3, 9}}, {{5, 4}, {4, 12}}, {}, {}},
                   Triangle::lower}}) {
    SCOPED_TRACE(t.name);
    Found found = find(t.problem);
    EXPECT_EQ(found.diagnostics.restricted_triangle, t.triangle);
    bool refused = false;
    for (const Finding& f : found.findings) refused = refused || f.severity == Severity::error;
    EXPECT_EQ(refused, t.triangle != Triangle::none);
  }
}

TEST(Findings, errors_come_first_then_warnings_then_notes) {
  Found found = find({{{1, 0, 0}, {.5, 1, 0}, {.3, .4, 0}}, {{220}}, {}, {}});
  ASSERT_GE(found.findings.size(), 3u);
  for (std::size_t k = 1; k < found.findings.size(); ++k) {
    EXPECT_GE(found.findings[k - 1].severity, found.findings[k].severity) << k;
  }
  EXPECT_EQ(found.findings.front().severity, Severity::error);
}

TEST(Findings, messages_take_names_where_given_and_count_the_places) {
  Finding f;
  f.code = FindingCode::correlation_out_of_range;
  f.severity = Severity::warning;
  f.count = 3;
  f.variables[0] = 0;
  f.variables[1] = 2;
  f.numbers[0] = 1.03125;
  const char* names[] = {"T1", nullptr, "C1"};
  EXPECT_EQ(message(f, names),
            "the corrected correlation of T1 and C1 is 1.031, above 1 in magnitude (3 in all)");
  const char* short_names[] = {"T1"};
  f.numbers[0] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(message(f, short_names),
            "the corrected correlation of T1 and variable 3 is infinite (a variance it divides by "
            "is 0) (3 in all)");
}

// As snprintf: the whole length is returned, what fits is written and ended.
TEST(Findings, messages_are_cut_to_the_buffer_as_snprintf_cuts) {
  Finding f;
  f.code = FindingCode::restricted_variance_not_positive;
  f.variables[0] = 49;
  const std::string whole = "the restricted variance of variable 50 is not positive";
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{10}, whole.size(),
                           whole.size() + 1, whole.size() + 10}) {
    SCOPED_TRACE(size);
    std::vector<char> buffer(size + 1, '#');
    EXPECT_EQ(finding_message(f, {}, buffer.data(), size), whole.size());
    if (size == 0) {
      EXPECT_EQ(buffer[0], '#');
      continue;
    }
    std::size_t kept = std::min(size - 1, whole.size());
    EXPECT_EQ(std::string(buffer.data()), whole.substr(0, kept));
    EXPECT_EQ(buffer[size], '#');
  }
}

TEST(Findings, codes_have_stable_names_and_unknown_ones_none) {
  EXPECT_STREQ(finding_code_name(FindingCode::restricted_lower_triangle),
               "restricted_lower_triangle");
  EXPECT_STREQ(finding_code_name(FindingCode::unread_not_finite), "unread_not_finite");
  EXPECT_STREQ(finding_code_name(static_cast<FindingCode>(0)), "");
  EXPECT_STREQ(finding_code_name(static_cast<FindingCode>(max_findings + 1)), "");
  EXPECT_STREQ(severity_name(Severity::error), "error");
}

// Fewer slots than findings: the first ones, and the count of all.
TEST(Findings, a_short_list_gets_the_first_and_the_count) {
  Found all = find({{{1, 0, 0}, {.5, 1, 0}, {.3, .4, 0}}, {{220}}, {}, {}});
  ASSERT_GE(all.findings.size(), 2u);
  std::array<Finding, 1> one;
  EXPECT_EQ(lawley_findings(all.diagnostics, one), static_cast<int>(all.findings.size()));
  EXPECT_EQ(one[0].code, all.findings[0].code);
  EXPECT_EQ(lawley_findings(all.diagnostics, {}), static_cast<int>(all.findings.size()));
}

}  // namespace
}  // namespace tolbe
