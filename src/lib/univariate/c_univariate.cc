// The corrections of one validity coefficient through the C API.

#include <cstddef>

#include "tolbe/tolbe.h"
#include "tolbe/univariate.h"

namespace {

using tolbe::RangeRestriction;
using tolbe::ReliabilitySample;

ReliabilitySample sample_of(int flag, ReliabilitySample otherwise) {
  if (flag == TOLBE_RELIABILITY_RESTRICTED) return ReliabilitySample::restricted;
  if (flag == TOLBE_RELIABILITY_UNRESTRICTED) return ReliabilitySample::unrestricted;
  return otherwise;
}

bool is_problem(int problem) {
  return problem >= 0 && problem <= static_cast<int>(tolbe::StudyProblem::corrected_out_of_range);
}

}  // namespace

static_assert(TOLBE_RR_NONE == static_cast<int>(RangeRestriction::none) &&
              TOLBE_RR_DIRECT == static_cast<int>(RangeRestriction::direct) &&
              TOLBE_RR_INDIRECT == static_cast<int>(RangeRestriction::indirect) &&
              TOLBE_RR_BIVARIATE_INDIRECT ==
                  static_cast<int>(RangeRestriction::bivariate_indirect));

extern "C" {

int tolbe_correct_studies(const tolbe_study* studies, size_t count, int method, double level,
                          tolbe_study_result* results) {
  if (method < TOLBE_RR_NONE || method > TOLBE_RR_BIVARIATE_INDIRECT) return -1;
  if (count > 0 && (studies == nullptr || results == nullptr)) return -1;
  for (std::size_t k = 0; k < count; ++k) {
    const tolbe_study& c = studies[k];
    tolbe::Study s;
    s.r = c.r;
    s.n = c.n;
    s.ux = c.ux;
    s.uy = c.uy;
    s.rxx = c.rxx;
    s.ryy = c.ryy;
    s.rxx_sample = sample_of(c.rxx_sample, ReliabilitySample::unrestricted);
    s.ryy_sample = sample_of(c.ryy_sample, ReliabilitySample::restricted);
    s.sign_xz = c.sign_xz;
    s.sign_yz = c.sign_yz;
    tolbe::StudyResult r = tolbe::correct_study(s, static_cast<RangeRestriction>(method), level);
    results[k] = {static_cast<int>(r.problem),
                  r.rho_operational,
                  r.rho_true,
                  r.se_operational,
                  r.se_true,
                  r.lower_operational,
                  r.upper_operational,
                  r.lower_true,
                  r.upper_true,
                  r.rxx_restricted,
                  r.rxx_unrestricted,
                  r.ryy_restricted,
                  r.ryy_unrestricted,
                  r.ut,
                  r.up};
  }
  return 0;
}

const char* tolbe_study_problem_name(int problem) {
  return is_problem(problem) ? tolbe::study_problem_name(static_cast<tolbe::StudyProblem>(problem))
                             : "";
}

const char* tolbe_study_problem_message(int problem) {
  return is_problem(problem)
             ? tolbe::study_problem_message(static_cast<tolbe::StudyProblem>(problem))
             : "";
}

double tolbe_true_score_u(double ux, double rxx, int sample) {
  return tolbe::true_score_u(ux, rxx, sample_of(sample, ReliabilitySample::unrestricted));
}

}  // extern "C"
