#pragma once

// tolbe: the corrections of a single observed validity coefficient for
// range restriction and unreliability, as validity studies and
// meta-analyses report them: an observed correlation r among incumbents,
// the ratio u of the incumbents' to the applicants' standard deviation, and
// reliabilities.
//
// Notation: X the predictor as measured, T its true score; Y the criterion
// as measured, P its true score; u_X = s_x / S_X (restricted over
// unrestricted SD), u_Y likewise; r_xx and r_yy the reliabilities, each
// given for the restricted (incumbent, "i") or the unrestricted (applicant,
// "a") group. The error variance of a measure is the same in both groups,
// so r_a = 1 - u^2 (1 - r_i) and r_i = 1 - (1 - r_a) / u^2. Case II of a
// correlation x with U = 1 / u is g(x) = U x / sqrt(1 + x^2 (U^2 - 1)).
//
// The corrections (one home each):
//  - none: disattenuation only, rho_XP = r / sqrt(r_yy), rho_TP = rho_XP /
//    sqrt(r_xx).
//  - direct (Thorndike's Case II): selection on X. With r_yy of the
//    restricted group, rho_XP = g(r / sqrt(r_yy,i)) with u_X; with r_yy of
//    the unrestricted group, rho_XP = g(r) / sqrt(r_yy,a). rho_TP =
//    rho_XP / sqrt(r_xx,a). (Selection on a third variable, Case III, is
//    Lawley's correction with one selection variable: lawley().)
//  - indirect (Case IV; Hunter, Schmidt & Le, 2006): selection on a
//    variable related to Y only through T. r_xx is required. u_T^2 =
//    (u_X^2 - (1 - r_xx,a)) / r_xx,a; rho_TP = g(r / sqrt(r_xx,i r_yy,i))
//    with u_T (or g(r / sqrt(r_xx,i)) / sqrt(r_yy,a)); rho_XP = rho_TP
//    sqrt(r_xx,a).
//  - bivariate_indirect (Case V; Le, Oh, Schmidt & Wooldridge, 2016):
//    selection on a variable related to T and P, with the signs of those
//    relations given. r_xx is required; r_yy is 1 when not given. u_T as
//    above, u_P from u_Y and r_yy,a likewise, and
//    rho_TP = r_TP,i u_T u_P + lambda s sqrt((1 - u_T^2)(1 - u_P^2)), with
//    r_TP,i = r / sqrt(r_xx,i r_yy,i), lambda = sign_xz sign_yz and s the
//    sign of 1 - u_T^2 (selection shrinks both variances or widens both);
//    rho_XP = rho_TP sqrt(r_xx,a).
// rho_XP is the operational validity (the predictor as measured, the
// criterion made reliable, in the applicant population); rho_TP the
// true-score correlation, NaN where r_xx is not given.
//
// Standard errors: each corrected value is a smooth function f of r with
// u and the reliabilities taken as known constants, so its SE is
// |f'(r)| (1 - r^2) / sqrt(n - 1), the delta method (Bobko & Rieck, 1980,
// for Case II). Intervals are formed on Fisher's z scale from that SE.
//
// Every function is reentrant, never allocates, prints, exits or throws.

#include <cstddef>
#include <limits>
#include <span>

namespace tolbe {

enum class RangeRestriction { none = 0, direct, indirect, bivariate_indirect };

// Where a reliability was measured.
enum class ReliabilitySample { restricted = 0, unrestricted };

// NaN marks a value that is not given.
struct Study {
  double r = 0.0;
  int n = 0;  // incumbents; 0: no SE or interval
  double ux = std::numeric_limits<double>::quiet_NaN();
  double uy = std::numeric_limits<double>::quiet_NaN();
  double rxx = std::numeric_limits<double>::quiet_NaN();
  double ryy = std::numeric_limits<double>::quiet_NaN();
  ReliabilitySample rxx_sample = ReliabilitySample::unrestricted;
  ReliabilitySample ryy_sample = ReliabilitySample::restricted;
  int sign_xz = 1;  // the signs of X's and Y's relations to the selection
  int sign_yz = 1;  // (bivariate_indirect only): 1 or -1
};

// Why a study has no corrected value, or what is wrong with it.
enum class StudyProblem {
  none = 0,
  r_out_of_range,            // r not in (-1, 1)
  n_too_small,               // n given but below 3
  u_missing,                 // the correction needs u_X (and u_Y) and has none
  u_out_of_range,            // a u not positive and finite
  reliability_missing,       // indirect and bivariate_indirect need r_xx
  reliability_out_of_range,  // a reliability (as given or converted) not in (0, 1]
  u_true_undefined,          // u_X^2 <= 1 - r_xx,a (or u_Y, r_yy): no u_T (u_P)
  opposite_restriction,      // bivariate_indirect: u_T < 1 < u_P or the reverse
  sign_out_of_range,         // a sign not 1 or -1
  level_out_of_range,        // the level not in (0, 1)
  corrected_out_of_range,    // a corrected value not inside (-1, 1): kept, bounds NaN
};

struct StudyResult {
  StudyProblem problem = StudyProblem::none;
  double rho_operational = 0.0;  // rho_XP
  double rho_true = 0.0;         // rho_TP; NaN without r_xx
  double se_operational = 0.0;   // NaN without n
  double se_true = 0.0;
  double lower_operational = 0.0;
  double upper_operational = 0.0;
  double lower_true = 0.0;
  double upper_true = 0.0;
  // What was used: the reliabilities of both groups (NaN: not given), and
  // the true-score ratios u_T and u_P (NaN where the correction has none).
  double rxx_restricted = 0.0;
  double rxx_unrestricted = 0.0;
  double ryy_restricted = 0.0;
  double ryy_unrestricted = 0.0;
  double ut = 0.0;
  double up = 0.0;
};

// The correction of one study. A problem other than
// corrected_out_of_range leaves every value NaN.
StudyResult correct_study(const Study& study, RangeRestriction method, double level = 0.95);

// The same for many studies: results[k] of studies[k]; results must be at
// least as long as studies.
void correct_studies(std::span<const Study> studies, RangeRestriction method, double level,
                     std::span<StudyResult> results);

// u_T from u_X and the reliability of X (of the group `sample`): sqrt((u_X^2
// - (1 - r_xx,a)) / r_xx,a); NaN where it is not defined. And the inverse,
// u_X from u_T: sqrt(u_T^2 r_xx,a + 1 - r_xx,a) (r_xx of the applicants).
double true_score_u(double ux, double rxx, ReliabilitySample sample);
double observed_u(double ut, double rxx_unrestricted);

// "none", "r_out_of_range", ...; and a sentence saying what is wrong.
const char* study_problem_name(StudyProblem problem);
const char* study_problem_message(StudyProblem problem);
const char* range_restriction_name(RangeRestriction method);

}  // namespace tolbe
