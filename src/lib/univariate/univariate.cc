// The corrections of a single validity coefficient (see
// <tolbe/univariate.h>): each as a function of r, with its derivative by r
// for the delta method.

#include "tolbe/univariate.h"

#include <cmath>
#include <iterator>
#include <limits>

#include "intervals/bounds.h"

namespace tolbe {
namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

bool given(double x) {
  return !std::isnan(x);
}

bool proportion(double x) {
  return x > 0.0 && x <= 1.0;
}

bool ratio(double u) {
  return u > 0.0 && std::isfinite(u);
}

// Case II of x with u (restricted over unrestricted SD), and its
// derivative by x.
struct Value {
  double value;
  double slope;
};
Value case_two(double x, double u) {
  double big_u = 1.0 / u;
  double d = 1.0 + x * x * (big_u * big_u - 1.0);
  double root = std::sqrt(d);
  return {big_u * x / root, big_u / (d * root)};
}

// A reliability in both groups from the one given, with u of its measure
// (NaN: the other group's stays NaN). The caller checks the one it uses.
void both_groups(double reliability, ReliabilitySample sample, double u, double& restricted,
                 double& unrestricted) {
  if (sample == ReliabilitySample::restricted) {
    restricted = reliability;
    unrestricted = given(u) ? 1.0 - u * u * (1.0 - reliability) : not_a_number;
  } else {
    unrestricted = reliability;
    restricted = given(u) ? 1.0 - (1.0 - reliability) / (u * u) : not_a_number;
  }
}

StudyResult failed(StudyProblem problem) {
  StudyResult r;
  r.problem = problem;
  for (double* x :
       {&r.rho_operational, &r.rho_true, &r.se_operational, &r.se_true, &r.lower_operational,
        &r.upper_operational, &r.lower_true, &r.upper_true, &r.rxx_restricted, &r.rxx_unrestricted,
        &r.ryy_restricted, &r.ryy_unrestricted, &r.ut, &r.up}) {
    *x = not_a_number;
  }
  return r;
}

StudyProblem check(const Study& s, RangeRestriction method, double level) {
  if (!(level > 0.0 && level < 1.0)) return StudyProblem::level_out_of_range;
  if (!(std::fabs(s.r) < 1.0)) return StudyProblem::r_out_of_range;
  if (s.n != 0 && s.n < 3) return StudyProblem::n_too_small;
  bool needs_uy = method == RangeRestriction::bivariate_indirect;
  if (method != RangeRestriction::none) {
    if (!given(s.ux) || (needs_uy && !given(s.uy))) return StudyProblem::u_missing;
    if (!ratio(s.ux) || (needs_uy && !ratio(s.uy))) return StudyProblem::u_out_of_range;
  }
  bool needs_rxx =
      method == RangeRestriction::indirect || method == RangeRestriction::bivariate_indirect;
  if (needs_rxx && !given(s.rxx)) return StudyProblem::reliability_missing;
  if ((given(s.rxx) && !proportion(s.rxx)) || (given(s.ryy) && !proportion(s.ryy))) {
    return StudyProblem::reliability_out_of_range;
  }
  if (needs_uy && !((s.sign_xz == 1 || s.sign_xz == -1) && (s.sign_yz == 1 || s.sign_yz == -1))) {
    return StudyProblem::sign_out_of_range;
  }
  return StudyProblem::none;
}

}  // namespace

double true_score_u(double ux, double rxx, ReliabilitySample sample) {
  if (!ratio(ux) || !proportion(rxx)) return not_a_number;
  double restricted = 0.0;
  double unrestricted = 0.0;
  both_groups(rxx, sample, ux, restricted, unrestricted);
  if (!proportion(unrestricted)) return not_a_number;
  double squared = (ux * ux - (1.0 - unrestricted)) / unrestricted;
  return squared > 0.0 ? std::sqrt(squared) : not_a_number;
}

double observed_u(double ut, double rxx_unrestricted) {
  if (!ratio(ut) || !proportion(rxx_unrestricted)) return not_a_number;
  return std::sqrt(ut * ut * rxx_unrestricted + 1.0 - rxx_unrestricted);
}

StudyResult correct_study(const Study& s, RangeRestriction method, double level) {
  StudyProblem problem = check(s, method, level);
  if (problem != StudyProblem::none) return failed(problem);
  StudyResult out = failed(StudyProblem::none);
  bool restricted_ryy = s.ryy_sample == ReliabilitySample::restricted;
  // The reliabilities of both groups; u of the criterion is known only to
  // the bivariate correction (elsewhere the criterion's reliability is
  // used in the group it was given for).
  double ux = method == RangeRestriction::none ? not_a_number : s.ux;
  double uy = method == RangeRestriction::bivariate_indirect ? s.uy : not_a_number;
  both_groups(s.rxx, s.rxx_sample, ux, out.rxx_restricted, out.rxx_unrestricted);
  both_groups(s.ryy, s.ryy_sample, uy, out.ryy_restricted, out.ryy_unrestricted);
  if (method == RangeRestriction::none) {
    // Without selection the groups are one.
    out.rxx_unrestricted = out.rxx_restricted = s.rxx;
    out.ryy_unrestricted = out.ryy_restricted = s.ryy;
  }
  // Direct selection uses r_xx of the applicants; the indirect corrections
  // use both groups' (a reliability converted below 0 means u_T is not
  // defined), and the bivariate one r_yy's too.
  if (given(s.rxx)) {
    if (method == RangeRestriction::direct && !proportion(out.rxx_unrestricted)) {
      return failed(StudyProblem::reliability_out_of_range);
    }
    if ((method == RangeRestriction::indirect || method == RangeRestriction::bivariate_indirect) &&
        !(proportion(out.rxx_unrestricted) && proportion(out.rxx_restricted))) {
      return failed(StudyProblem::u_true_undefined);
    }
  }
  if (given(s.ryy) && method == RangeRestriction::bivariate_indirect &&
      !(proportion(out.ryy_unrestricted) && proportion(out.ryy_restricted))) {
    return failed(StudyProblem::u_true_undefined);
  }
  double ryy = given(s.ryy) ? s.ryy : 1.0;
  double rxx_a = given(s.rxx) ? out.rxx_unrestricted : not_a_number;
  double rxx_i = given(s.rxx) ? out.rxx_restricted : 1.0;

  // The operational or true-score value and its derivative by r.
  Value operational{not_a_number, not_a_number};
  Value true_score{not_a_number, not_a_number};
  switch (method) {
    case RangeRestriction::none:
      operational = {s.r / std::sqrt(ryy), 1.0 / std::sqrt(ryy)};
      break;
    case RangeRestriction::direct: {
      if (restricted_ryy) {
        Value g = case_two(s.r / std::sqrt(ryy), s.ux);
        operational = {g.value, g.slope / std::sqrt(ryy)};
      } else {
        Value g = case_two(s.r, s.ux);
        operational = {g.value / std::sqrt(ryy), g.slope / std::sqrt(ryy)};
      }
      break;
    }
    case RangeRestriction::indirect: {
      out.ut = true_score_u(s.ux, s.rxx, s.rxx_sample);
      if (!given(out.ut)) return failed(StudyProblem::u_true_undefined);
      double scale = std::sqrt(rxx_i * (restricted_ryy ? ryy : 1.0));
      Value g = case_two(s.r / scale, out.ut);
      double after = restricted_ryy ? 1.0 : std::sqrt(ryy);
      true_score = {g.value / after, g.slope / (scale * after)};
      break;
    }
    case RangeRestriction::bivariate_indirect: {
      out.ut = true_score_u(s.ux, s.rxx, s.rxx_sample);
      double ryy_a = given(s.ryy) ? out.ryy_unrestricted : 1.0;
      out.up = true_score_u(s.uy, ryy_a, ReliabilitySample::unrestricted);
      if (!given(out.ut) || !given(out.up)) return failed(StudyProblem::u_true_undefined);
      double shrink_t = 1.0 - out.ut * out.ut;
      double shrink_p = 1.0 - out.up * out.up;
      if (shrink_t * shrink_p < 0.0) return failed(StudyProblem::opposite_restriction);
      double ryy_i = given(s.ryy) ? out.ryy_restricted : 1.0;
      double scale = std::sqrt(rxx_i * ryy_i);
      double lambda = s.sign_xz * s.sign_yz * (shrink_t < 0.0 ? -1.0 : 1.0);
      double shift = lambda * std::sqrt(shrink_t * shrink_p);
      true_score = {s.r / scale * out.ut * out.up + shift, out.ut * out.up / scale};
      break;
    }
  }
  if (given(true_score.value)) {
    operational = {true_score.value * std::sqrt(rxx_a), true_score.slope * std::sqrt(rxx_a)};
  } else if (given(rxx_a)) {
    true_score = {operational.value / std::sqrt(rxx_a), operational.slope / std::sqrt(rxx_a)};
  }
  out.rho_operational = operational.value;
  out.rho_true = true_score.value;
  bool inside = std::fabs(out.rho_operational) < 1.0 &&
                (!given(out.rho_true) || std::fabs(out.rho_true) < 1.0);
  if (!inside) out.problem = StudyProblem::corrected_out_of_range;
  if (s.n == 0) return out;
  double se_r = (1.0 - s.r * s.r) / std::sqrt(static_cast<double>(s.n) - 1.0);
  intervals::Quantiles z = intervals::two_sided(level);
  out.se_operational = std::fabs(operational.slope) * se_r;
  intervals::Bounds b = intervals::fisher(out.rho_operational, out.se_operational, z);
  out.lower_operational = b.lower;
  out.upper_operational = b.upper;
  if (given(out.rho_true)) {
    out.se_true = std::fabs(true_score.slope) * se_r;
    b = intervals::fisher(out.rho_true, out.se_true, z);
    out.lower_true = b.lower;
    out.upper_true = b.upper;
  }
  return out;
}

void correct_studies(std::span<const Study> studies, RangeRestriction method, double level,
                     std::span<StudyResult> results) {
  for (std::size_t k = 0; k < studies.size() && k < results.size(); ++k) {
    results[k] = correct_study(studies[k], method, level);
  }
}

namespace {

// Each problem's name and sentence, in the order of StudyProblem.
struct Said {
  const char* name;
  const char* message;
};
constexpr Said said[] = {
    {"none", ""},
    {"r_out_of_range", "the observed correlation must lie strictly between -1 and 1"},
    {"n_too_small", "the sample size must be at least 3 for a standard error (or 0: none)"},
    {"u_missing",
     "this correction needs u, the ratio of the restricted to the unrestricted standard "
     "deviation (of the predictor, and for a bivariate correction of the criterion)"},
    {"u_out_of_range", "u, a ratio of standard deviations, must be positive and finite"},
    {"reliability_missing", "an indirect correction needs the predictor's reliability"},
    {"reliability_out_of_range",
     "a reliability, as given or converted to the other group, must lie in (0, 1]"},
    {"u_true_undefined",
     "u of the true scores is not defined: u squared is not above 1 minus the applicants' "
     "reliability (the measure's error variance would exceed its whole variance among the "
     "selected); check u and the reliability, and the group each belongs to"},
    {"opposite_restriction",
     "the selection narrowed one true score and widened the other (u_T and u_P on opposite "
     "sides of 1), which selection on one variable cannot do"},
    {"sign_out_of_range", "the signs of the relations to the selection must be 1 or -1"},
    {"level_out_of_range", "the level must lie strictly between 0 and 1"},
    {"corrected_out_of_range",
     "a corrected correlation is not inside (-1, 1): u or a reliability is likely wrong; the "
     "value is kept, its interval is not formed"},
};
static_assert(std::size(said) ==
              static_cast<std::size_t>(StudyProblem::corrected_out_of_range) + 1);

const Said* said_of(StudyProblem problem) {
  auto k = static_cast<std::size_t>(problem);
  return k < std::size(said) ? &said[k] : nullptr;
}

}  // namespace

const char* study_problem_name(StudyProblem problem) {
  const Said* s = said_of(problem);
  return s != nullptr ? s->name : "";
}

const char* study_problem_message(StudyProblem problem) {
  const Said* s = said_of(problem);
  return s != nullptr ? s->message : "";
}

const char* range_restriction_name(RangeRestriction method) {
  switch (method) {
    case RangeRestriction::none:
      return "none";
    case RangeRestriction::direct:
      return "direct";
    case RangeRestriction::indirect:
      return "indirect";
    case RangeRestriction::bivariate_indirect:
      return "bivariate_indirect";
  }
  return "";
}

}  // namespace tolbe
