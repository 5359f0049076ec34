// The corrections of a single validity coefficient: Case II against
// Lawley's correction with one selection variable; every correction
// against a population whose selected group is computed exactly here (the
// Pearson-Lawley selection formulas written out), where its assumptions
// hold; the delta SEs against central differences; the refusals.
#include "tolbe/univariate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tolbe/lawley.h"
#include "tolbe/tolbe.h"

namespace tolbe {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(Univariate, CaseTwoIsLawleyWithOneSelectionVariable) {
  struct Case {
    double r, ux;
  };
  const Case cases[] = {{0.3, 0.6}, {0.0, 0.5}, {-0.45, 0.7}, {0.95, 0.3},
                        {0.3, 1.0}, {0.3, 1.4}, {0.02, 0.05}};
  for (const Case& c : cases) {
    double sx = 2.0;
    double sy = 3.0;
    std::vector<double> v = {sx * sx, c.r * sx * sy, c.r * sx * sy, sy * sy};
    double s = sx * sx / (c.ux * c.ux);
    LawleyCorrection lawley_result = lawley({2, 1, v.data(), 2, &s, 1, {}, {}});
    ASSERT_EQ(lawley_result.status, Status::ok);
    Study study;
    study.r = c.r;
    study.ux = c.ux;
    StudyResult got = correct_study(study, RangeRestriction::direct);
    EXPECT_EQ(got.problem, StudyProblem::none);
    EXPECT_NEAR(got.rho_operational, lawley_result.correlations[1], 1e-12) << c.r << " " << c.ux;
    EXPECT_TRUE(std::isnan(got.rho_true));
  }
}

// A population of standardised true scores T (the predictor's), P (the
// criterion's) and a selection variable Z, with errors of X = T + E_x and
// Y = P + E_y; the selected group is the part with Z's SD shrunk to u_z
// (selection on Z), every covariance following by regression on Z.
struct Population {
  double zt, zp, tp;  // unrestricted correlations
  double rxx, ryy;    // applicants' reliabilities
  double uz;
  double error_x() const { return (1.0 - rxx) / rxx; }
  double error_y() const { return (1.0 - ryy) / ryy; }
  double shrink() const { return 1.0 - uz * uz; }
  // The selected group.
  double var_t() const { return 1.0 - zt * zt * shrink(); }
  double var_p() const { return 1.0 - zp * zp * shrink(); }
  double cov_tp() const { return tp - zt * zp * shrink(); }
  double var_x() const { return var_t() + error_x(); }
  double var_y() const { return var_p() + error_y(); }
  double r() const { return cov_tp() / std::sqrt(var_x() * var_y()); }
  double ux() const { return std::sqrt(var_x() / (1.0 + error_x())); }
  double uy() const { return std::sqrt(var_y() / (1.0 + error_y())); }
  double rxx_selected() const { return var_t() / var_x(); }
  double ryy_selected() const { return var_p() / var_y(); }
};

// Direct selection on X (T standardised, var X = 1 / r_xx): by regression
// on X, cov(X, P) = tp shrinks to tp u^2 and var P to 1 - tp^2 (1 - u^2) /
// var X; the criterion's error is untouched.
struct DirectPopulation {
  double tp, rxx, ryy, ux;
  double var_x() const { return 1.0 / rxx; }
  double var_p() const { return 1.0 - tp * tp * (1.0 - ux * ux) / var_x(); }
  double var_y() const { return var_p() + (1.0 - ryy) / ryy; }
  double r() const { return tp * ux * ux / std::sqrt(ux * ux * var_x() * var_y()); }
  double ryy_selected() const { return var_p() / var_y(); }
};

// Selection on X itself: the criterion's error is untouched by it, so r_yy
// of either group recovers the population; r_xx is the applicants' (the
// usual conversion from the incumbents' assumes an error variance that
// selection on X does not leave alone).
TEST(Univariate, DirectRecoversThePopulation) {
  const DirectPopulation cases[] = {
      {0.5, 0.8, 0.6, 0.6}, {0.3, 0.9, 0.7, 0.4}, {-0.4, 0.7, 0.5, 0.8}, {0.5, 0.8, 0.6, 1.3}};
  for (const DirectPopulation& pop : cases) {
    double rho_xp = pop.tp * std::sqrt(pop.rxx);
    for (auto ryy_sample : {ReliabilitySample::restricted, ReliabilitySample::unrestricted}) {
      Study s;
      s.r = pop.r();
      s.ux = pop.ux;
      s.ryy_sample = ryy_sample;
      s.ryy = ryy_sample == ReliabilitySample::restricted ? pop.ryy_selected() : pop.ryy;
      s.rxx = pop.rxx;
      StudyResult got = correct_study(s, RangeRestriction::direct);
      ASSERT_EQ(got.problem, StudyProblem::none);
      EXPECT_NEAR(got.rho_operational, rho_xp, 1e-12) << pop.tp << " " << pop.ux;
      EXPECT_NEAR(got.rho_true, pop.tp, 1e-12) << pop.tp << " " << pop.ux;
    }
  }
  // r_xx of the incumbents is converted as 1 - u^2 (1 - r_xx,i).
  Study s;
  s.r = 0.3;
  s.ux = 0.6;
  s.rxx = 0.7;
  s.rxx_sample = ReliabilitySample::restricted;
  StudyResult got = correct_study(s, RangeRestriction::direct);
  double rxx_a = 1 - 0.36 * 0.3;
  EXPECT_NEAR(got.rxx_unrestricted, rxx_a, 1e-15);
  EXPECT_NEAR(got.rho_true, got.rho_operational / std::sqrt(rxx_a), 1e-15);
}

TEST(Univariate, IndirectRecoversThePopulationWhenZReachesPOnlyThroughT) {
  struct Case {
    double zt, tp, rxx, ryy, uz;
  };
  const Case cases[] = {{0.7, 0.5, 0.8, 0.6, 0.5},
                        {0.9, 0.3, 0.85, 0.7, 0.3},
                        {-0.6, 0.4, 0.75, 0.5, 0.7},
                        {0.5, -0.35, 0.9, 0.8, 1.4}};
  for (const Case& c : cases) {
    Population pop{c.zt, c.zt * c.tp, c.tp, c.rxx, c.ryy, c.uz};
    for (auto ryy_sample : {ReliabilitySample::restricted, ReliabilitySample::unrestricted}) {
      for (auto rxx_sample : {ReliabilitySample::restricted, ReliabilitySample::unrestricted}) {
        Study s;
        s.r = pop.r();
        s.ux = pop.ux();
        s.rxx_sample = rxx_sample;
        s.rxx = rxx_sample == ReliabilitySample::restricted ? pop.rxx_selected() : pop.rxx;
        s.ryy_sample = ryy_sample;
        s.ryy = ryy_sample == ReliabilitySample::restricted ? pop.ryy_selected() : pop.ryy;
        StudyResult got = correct_study(s, RangeRestriction::indirect);
        ASSERT_EQ(got.problem, StudyProblem::none) << c.zt;
        EXPECT_NEAR(got.rho_true, c.tp, 1e-12) << c.zt << " " << c.uz;
        EXPECT_NEAR(got.rho_operational, c.tp * std::sqrt(c.rxx), 1e-12);
        EXPECT_NEAR(got.ut, std::sqrt(pop.var_t()), 1e-12);
      }
    }
  }
}

TEST(Univariate, BivariateIndirectRecoversThePopulationSelectedOnZ) {
  struct Case {
    double zt, zp, tp, rxx, ryy, uz;
  };
  const Case cases[] = {{0.7, 0.4, 0.5, 0.8, 0.6, 0.5},
                        {0.6, -0.5, 0.3, 0.85, 0.7, 0.4},
                        {-0.8, -0.3, 0.45, 0.75, 0.5, 0.7},
                        {0.5, 0.5, 0.3, 0.9, 0.8, 1.5}};
  for (const Case& c : cases) {
    Population pop{c.zt, c.zp, c.tp, c.rxx, c.ryy, c.uz};
    for (auto ryy_sample : {ReliabilitySample::restricted, ReliabilitySample::unrestricted}) {
      Study s;
      s.r = pop.r();
      s.ux = pop.ux();
      s.uy = pop.uy();
      s.rxx = pop.rxx;
      s.ryy_sample = ryy_sample;
      s.ryy = ryy_sample == ReliabilitySample::restricted ? pop.ryy_selected() : pop.ryy;
      s.sign_xz = c.zt > 0 ? 1 : -1;
      s.sign_yz = c.zp > 0 ? 1 : -1;
      StudyResult got = correct_study(s, RangeRestriction::bivariate_indirect);
      ASSERT_EQ(got.problem, StudyProblem::none) << c.zt;
      EXPECT_NEAR(got.rho_true, c.tp, 1e-12) << c.zt << " " << c.zp << " " << c.uz;
      EXPECT_NEAR(got.rho_operational, c.tp * std::sqrt(c.rxx), 1e-12);
      EXPECT_NEAR(got.up, std::sqrt(pop.var_p()), 1e-12);
      // The wrong sign of a relation gives another (wrong) answer.
      s.sign_yz = -s.sign_yz;
      EXPECT_GT(std::fabs(correct_study(s, RangeRestriction::bivariate_indirect).rho_true - c.tp),
                1e-3);
    }
  }
}

TEST(Univariate, DisattenuationOnly) {
  Study s;
  s.r = 0.3;
  s.ryy = 0.64;
  s.rxx = 0.81;
  StudyResult got = correct_study(s, RangeRestriction::none);
  EXPECT_NEAR(got.rho_operational, 0.3 / 0.8, 1e-15);
  EXPECT_NEAR(got.rho_true, 0.3 / 0.8 / 0.9, 1e-15);
  s.ryy = nan;
  s.rxx = nan;
  got = correct_study(s, RangeRestriction::none);
  EXPECT_EQ(got.rho_operational, 0.3);
  EXPECT_TRUE(std::isnan(got.rho_true));
}

// The SE of each corrected value: its derivative by r, by central
// differences of the correction itself, times the SE of r; the interval
// on Fisher's z scale, written out.
TEST(Univariate, DeltaSesAreTheSlopeTimesTheSeOfR) {
  struct Case {
    RangeRestriction method;
    Study study;
  };
  auto study = [](double r, double ux, double uy, double rxx, double ryy,
                  ReliabilitySample ryy_sample) {
    Study s;
    s.r = r;
    s.n = 150;
    s.ux = ux;
    s.uy = uy;
    s.rxx = rxx;
    s.ryy = ryy;
    s.ryy_sample = ryy_sample;
    return s;
  };
  const auto restricted = ReliabilitySample::restricted;
  const auto unrestricted = ReliabilitySample::unrestricted;
  const Case cases[] = {
      {RangeRestriction::none, study(0.3, nan, nan, 0.8, 0.6, restricted)},
      {RangeRestriction::direct, study(0.3, 0.6, nan, 0.8, 0.6, restricted)},
      {RangeRestriction::direct, study(-0.25, 0.5, nan, nan, 0.7, unrestricted)},
      {RangeRestriction::indirect, study(0.3, 0.7, nan, 0.85, 0.6, restricted)},
      {RangeRestriction::indirect, study(0.2, 0.8, nan, 0.9, 0.6, unrestricted)},
      {RangeRestriction::bivariate_indirect, study(0.25, 0.7, 0.8, 0.85, 0.6, restricted)},
  };
  const double z = 1.959963984540054;
  for (const Case& c : cases) {
    StudyResult got = correct_study(c.study, c.method);
    ASSERT_EQ(got.problem, StudyProblem::none) << range_restriction_name(c.method);
    double h = 1e-6;
    Study up = c.study;
    Study down = c.study;
    up.r += h;
    down.r -= h;
    StudyResult hi = correct_study(up, c.method);
    StudyResult lo = correct_study(down, c.method);
    double se_r = (1.0 - c.study.r * c.study.r) / std::sqrt(149.0);
    double se = std::fabs(hi.rho_operational - lo.rho_operational) / (2 * h) * se_r;
    EXPECT_NEAR(got.se_operational, se, 1e-7 * se) << range_restriction_name(c.method);
    double f = std::atanh(got.rho_operational);
    double w = z * got.se_operational / (1.0 - got.rho_operational * got.rho_operational);
    EXPECT_NEAR(got.lower_operational, std::tanh(f - w), 1e-12);
    EXPECT_NEAR(got.upper_operational, std::tanh(f + w), 1e-12);
    if (std::isnan(c.study.rxx)) {
      EXPECT_TRUE(std::isnan(got.rho_true) && std::isnan(got.se_true));
      continue;
    }
    double se_true = std::fabs(hi.rho_true - lo.rho_true) / (2 * h) * se_r;
    EXPECT_NEAR(got.se_true, se_true, 1e-7 * se_true) << range_restriction_name(c.method);
    f = std::atanh(got.rho_true);
    w = z * got.se_true / (1.0 - got.rho_true * got.rho_true);
    EXPECT_NEAR(got.lower_true, std::tanh(f - w), 1e-12);
    EXPECT_NEAR(got.upper_true, std::tanh(f + w), 1e-12);
  }
}

// Case II's SE with u_X known against Bobko and Rieck's closed form for
// the SE of r carried through: U (1 - r^2) / (1 + r^2 (U^2 - 1))^(3/2) /
// sqrt(n - 1).
TEST(Univariate, CaseTwoSeIsTheClosedForm) {
  for (double r : {0.0, 0.2, -0.5, 0.9}) {
    Study s;
    s.r = r;
    s.n = 80;
    s.ux = 0.55;
    double big_u = 1.0 / 0.55;
    double expected =
        big_u * (1 - r * r) / std::pow(1 + r * r * (big_u * big_u - 1), 1.5) / std::sqrt(79.0);
    EXPECT_NEAR(correct_study(s, RangeRestriction::direct).se_operational, expected, 1e-14);
  }
}

TEST(Univariate, WhatCannotBeCorrectedIsSaid) {
  struct Case {
    const char* name;
    RangeRestriction method;
    Study study;
    double level;
    StudyProblem problem;
  };
  auto study = [](double r, int n, double ux, double uy, double rxx, double ryy) {
    Study s;
    s.r = r;
    s.n = n;
    s.ux = ux;
    s.uy = uy;
    s.rxx = rxx;
    s.ryy = ryy;
    return s;
  };
  Study zero_sign = study(0.3, 0, 0.7, 0.8, 0.8, 0.7);
  zero_sign.sign_yz = 0;
  Study restricted_rxx = study(0.3, 0, 1.5, nan, 0.5, nan);
  restricted_rxx.rxx_sample = ReliabilitySample::restricted;
  Study no_u_p = study(0.3, 0, 0.8, 0.4, 0.8, 0.7);
  no_u_p.ryy_sample = ReliabilitySample::unrestricted;
  const Case cases[] = {
      {"r of 1", RangeRestriction::direct, study(1.0, 0, 0.7, nan, nan, nan), 0.95,
       StudyProblem::r_out_of_range},
      {"r not a number", RangeRestriction::none, study(nan, 0, nan, nan, nan, nan), 0.95,
       StudyProblem::r_out_of_range},
      {"n of 2", RangeRestriction::direct, study(0.3, 2, 0.7, nan, nan, nan), 0.95,
       StudyProblem::n_too_small},
      {"no u", RangeRestriction::direct, study(0.3, 0, nan, nan, nan, nan), 0.95,
       StudyProblem::u_missing},
      {"no u_Y", RangeRestriction::bivariate_indirect, study(0.3, 0, 0.7, nan, 0.8, nan), 0.95,
       StudyProblem::u_missing},
      {"u of 0", RangeRestriction::direct, study(0.3, 0, 0.0, nan, nan, nan), 0.95,
       StudyProblem::u_out_of_range},
      {"u infinite", RangeRestriction::direct, study(0.3, 0, INFINITY, nan, nan, nan), 0.95,
       StudyProblem::u_out_of_range},
      {"indirect without r_xx", RangeRestriction::indirect, study(0.3, 0, 0.7, nan, nan, 0.6), 0.95,
       StudyProblem::reliability_missing},
      {"r_yy of 1.2", RangeRestriction::direct, study(0.3, 0, 0.7, nan, nan, 1.2), 0.95,
       StudyProblem::reliability_out_of_range},
      {"r_xx of 0", RangeRestriction::none, study(0.3, 0, nan, nan, 0.0, nan), 0.95,
       StudyProblem::reliability_out_of_range},
      {"restricted r_xx widened below 0", RangeRestriction::direct, restricted_rxx, 0.95,
       StudyProblem::reliability_out_of_range},
      {"u_T undefined", RangeRestriction::indirect, study(0.3, 0, 0.5, nan, 0.7, nan), 0.95,
       StudyProblem::u_true_undefined},
      {"u_T at the edge", RangeRestriction::indirect, study(0.3, 0, std::sqrt(0.3), nan, 0.7, nan),
       0.95, StudyProblem::u_true_undefined},
      {"u_P undefined", RangeRestriction::bivariate_indirect, no_u_p, 0.95,
       StudyProblem::u_true_undefined},
      {"opposite restriction", RangeRestriction::bivariate_indirect,
       study(0.3, 0, 0.8, 1.3, 0.8, 0.7), 0.95, StudyProblem::opposite_restriction},
      {"sign 0", RangeRestriction::bivariate_indirect, zero_sign, 0.95,
       StudyProblem::sign_out_of_range},
      {"level 1", RangeRestriction::direct, study(0.3, 50, 0.7, nan, nan, nan), 1.0,
       StudyProblem::level_out_of_range},
  };
  for (const Case& c : cases) {
    StudyResult got = correct_study(c.study, c.method, c.level);
    EXPECT_EQ(got.problem, c.problem) << c.name << ": " << study_problem_name(got.problem);
    EXPECT_TRUE(std::isnan(got.rho_operational) && std::isnan(got.rho_true) &&
                std::isnan(got.se_operational) && std::isnan(got.lower_true))
        << c.name;
    EXPECT_NE(std::string(study_problem_message(c.problem)), "") << c.name;
  }
  // A corrected value outside (-1, 1) is kept and said; its bounds are NaN.
  StudyResult big = correct_study(study(0.9, 100, 0.3, nan, nan, 0.5), RangeRestriction::direct);
  EXPECT_EQ(big.problem, StudyProblem::corrected_out_of_range);
  EXPECT_GT(big.rho_operational, 1.0);
  EXPECT_TRUE(std::isnan(big.lower_operational) && std::isnan(big.upper_operational));
}

TEST(Univariate, EdgeValues) {
  Study s;
  s.r = 0.35;
  s.n = 60;
  s.ux = 1.0;
  // u = 1: nothing to correct; its SE is r's.
  StudyResult same = correct_study(s, RangeRestriction::direct);
  EXPECT_NEAR(same.rho_operational, 0.35, 1e-15);
  EXPECT_NEAR(same.se_operational, (1 - 0.35 * 0.35) / std::sqrt(59.0), 1e-15);
  // u > 1 (the incumbents vary more): the correction shrinks r.
  s.ux = 1.3;
  EXPECT_LT(correct_study(s, RangeRestriction::direct).rho_operational, 0.35);
  // r = 0 stays 0, with an SE of U / sqrt(n - 1).
  s.r = 0.0;
  s.ux = 0.5;
  StudyResult zero = correct_study(s, RangeRestriction::direct);
  EXPECT_EQ(zero.rho_operational, 0.0);
  EXPECT_NEAR(zero.se_operational, 2.0 / std::sqrt(59.0), 1e-15);
  // A level near 0: the interval shrinks to the point and still holds it
  // (atanh and tanh could move either bound an ulp past it).
  for (double tiny : {1e-300, 1e-136, 1e-17}) {
    Study t = s;
    t.r = 0.3;
    t.rxx = 0.5;
    StudyResult point = correct_study(t, RangeRestriction::direct, tiny);
    EXPECT_LE(point.lower_operational, point.rho_operational) << tiny;
    EXPECT_GE(point.upper_operational, point.rho_operational) << tiny;
    EXPECT_LE(point.lower_true, point.rho_true) << tiny;
    EXPECT_GE(point.upper_true, point.rho_true) << tiny;
  }
  // |r| near 1 stays inside.
  s.r = -0.999999;
  StudyResult near_one = correct_study(s, RangeRestriction::direct);
  EXPECT_EQ(near_one.problem, StudyProblem::none);
  EXPECT_LT(near_one.rho_operational, -0.999999);
  EXPECT_GT(near_one.rho_operational, -1.0);
}

TEST(Univariate, TrueScoreUAndItsInverse) {
  for (double rxx : {0.6, 0.8, 0.95}) {
    for (double ux : {0.7, 0.9, 1.2}) {
      double ut = true_score_u(ux, rxx, ReliabilitySample::unrestricted);
      EXPECT_NEAR(ut * ut, (ux * ux - (1 - rxx)) / rxx, 1e-14);
      EXPECT_NEAR(observed_u(ut, rxx), ux, 1e-14);
      // Given for the restricted group, r_xx,a = 1 - u^2 (1 - r_xx,i).
      double rxx_i = 1 - (1 - rxx) / (ux * ux);
      EXPECT_NEAR(true_score_u(ux, rxx_i, ReliabilitySample::restricted), ut, 1e-14);
    }
  }
  EXPECT_TRUE(std::isnan(true_score_u(0.5, 0.7, ReliabilitySample::unrestricted)));
  EXPECT_TRUE(std::isnan(true_score_u(0.5, 1.1, ReliabilitySample::unrestricted)));
  EXPECT_TRUE(std::isnan(observed_u(-1.0, 0.8)));
}

TEST(Univariate, ManyStudiesAreEachCorrectedAsOne) {
  std::vector<Study> studies(4);
  for (std::size_t k = 0; k < studies.size(); ++k) {
    studies[k].r = 0.1 + 0.15 * static_cast<double>(k);
    studies[k].n = 50 + 10 * static_cast<int>(k);
    studies[k].ux = 0.5 + 0.1 * static_cast<double>(k);
    studies[k].rxx = 0.8;
  }
  studies[2].rxx = 0.2;  // u_T undefined in that one alone
  std::vector<StudyResult> results(studies.size());
  correct_studies(studies, RangeRestriction::indirect, 0.9, results);
  for (std::size_t k = 0; k < studies.size(); ++k) {
    StudyResult one = correct_study(studies[k], RangeRestriction::indirect, 0.9);
    EXPECT_EQ(results[k].problem, one.problem);
    EXPECT_EQ(std::isnan(results[k].rho_true), std::isnan(one.rho_true));
    if (!std::isnan(one.rho_true)) {
      EXPECT_EQ(results[k].upper_true, one.upper_true);
    }
  }
  EXPECT_EQ(results[2].problem, StudyProblem::u_true_undefined);
}

// The C API: the same numbers, its flags and refusals.
TEST(Univariate, CApiGivesTheLibrarysNumbers) {
  tolbe_study studies[3] = {
      {0.3, 120, 0.7, nan, 0.85, 0.6, TOLBE_RELIABILITY_UNRESTRICTED, TOLBE_RELIABILITY_RESTRICTED,
       1, 1},
      {0.3, 120, 0.7, nan, 0.85, 0.6, TOLBE_RELIABILITY_RESTRICTED, TOLBE_RELIABILITY_UNRESTRICTED,
       1, 1},
      {0.3, 0, 0.5, nan, 0.7, nan, 7, 7, 1, 1},  // flags not known: the defaults
  };
  tolbe_study_result results[3];
  ASSERT_EQ(tolbe_correct_studies(studies, 3, TOLBE_RR_INDIRECT, 0.9, results), 0);
  for (int k = 0; k < 3; ++k) {
    Study s;
    s.r = studies[k].r;
    s.n = studies[k].n;
    s.ux = studies[k].ux;
    s.rxx = studies[k].rxx;
    s.ryy = studies[k].ryy;
    s.rxx_sample = k == 1 ? ReliabilitySample::restricted : ReliabilitySample::unrestricted;
    s.ryy_sample = k == 1 ? ReliabilitySample::unrestricted : ReliabilitySample::restricted;
    StudyResult one = correct_study(s, RangeRestriction::indirect, 0.9);
    EXPECT_EQ(results[k].problem, static_cast<int>(one.problem)) << k;
    if (one.problem == StudyProblem::none) {
      EXPECT_EQ(results[k].rho_true, one.rho_true) << k;
      EXPECT_EQ(results[k].lower_operational, one.lower_operational) << k;
      EXPECT_EQ(results[k].ut, one.ut) << k;
    }
  }
  EXPECT_NE(results[0].rho_true, results[1].rho_true);
  EXPECT_EQ(results[2].problem, static_cast<int>(StudyProblem::u_true_undefined));
  EXPECT_EQ(std::string(tolbe_study_problem_name(results[2].problem)), "u_true_undefined");
  EXPECT_EQ(std::string(tolbe_study_problem_message(99)), "");
  EXPECT_EQ(tolbe_correct_studies(studies, 3, 4, 0.95, results), -1);
  EXPECT_EQ(tolbe_correct_studies(nullptr, 1, TOLBE_RR_DIRECT, 0.95, results), -1);
  EXPECT_EQ(tolbe_correct_studies(nullptr, 0, TOLBE_RR_DIRECT, 0.95, nullptr), 0);
  EXPECT_NEAR(tolbe_true_score_u(0.8, 0.9, TOLBE_RELIABILITY_UNRESTRICTED),
              std::sqrt((0.64 - 0.1) / 0.9), 1e-15);
}

// Flags the C API does not know stand for the fields' defaults: r_xx of the
// applicants, r_yy of the incumbents.
TEST(Univariate, CApiUnknownSampleFlagsAreTheDefaults) {
  tolbe_study c = {0.3, 90, 0.8, nan, 0.85, 0.6, 7, -3, 1, 1};
  tolbe_study_result got;
  ASSERT_EQ(tolbe_correct_studies(&c, 1, TOLBE_RR_INDIRECT, 0.95, &got), 0);
  Study s;
  s.r = 0.3;
  s.n = 90;
  s.ux = 0.8;
  s.rxx = 0.85;
  s.ryy = 0.6;
  StudyResult expected = correct_study(s, RangeRestriction::indirect);
  ASSERT_EQ(expected.problem, StudyProblem::none);
  EXPECT_EQ(got.rho_true, expected.rho_true);
  EXPECT_EQ(got.ryy_restricted, 0.6);
  EXPECT_EQ(got.rxx_unrestricted, 0.85);
}

}  // namespace
}  // namespace tolbe
