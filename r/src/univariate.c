/* correct_r(): the corrections of single validity coefficients, study by
 * study, by the library (tolbe_correct_studies). The R side has recycled
 * every argument to one length and made the samples and the method
 * numbers. */
#include <math.h>
#include <string.h>

#include "tolbe_r.h"

static double real_at(SEXP x, R_xlen_t k) {
  double v = REAL(x)[k];
  return ISNA(v) ? NAN : v;
}

/* Returns list(problem, rho_operational, rho_operational_se,
 * rho_operational_lower, rho_operational_upper, rho_true, ..., ut, up):
 * problem the problems' names, NA for none. */
SEXP C_correct_r(SEXP r, SEXP n, SEXP method, SEXP ux, SEXP uy, SEXP rxx, SEXP ryy, SEXP rxx_sample,
                 SEXP ryy_sample, SEXP sign_xz, SEXP sign_yz, SEXP level) {
  R_xlen_t count = XLENGTH(r);
  SEXP out = PROTECT(allocVector(VECSXP, 11));
  SEXP problems = allocVector(STRSXP, count);
  SET_VECTOR_ELT(out, 0, problems);
  for (int j = 1; j < 11; ++j) SET_VECTOR_ELT(out, j, allocVector(REALSXP, count));
  for (R_xlen_t k = 0; k < count; ++k) {
    int nk = INTEGER(n)[k];
    tolbe_study s = {real_at(r, k),          nk == NA_INTEGER ? 0 : nk, real_at(ux, k),
                     real_at(uy, k),         real_at(rxx, k),           real_at(ryy, k),
                     INTEGER(rxx_sample)[k], INTEGER(ryy_sample)[k],    INTEGER(sign_xz)[k],
                     INTEGER(sign_yz)[k]};
    tolbe_study_result got;
    if (tolbe_correct_studies(&s, 1, asInteger(method), asReal(level), &got) != 0) {
      fail("the method is not one of the library's");
    }
    SET_STRING_ELT(problems, k,
                   got.problem == 0 ? NA_STRING : mkChar(tolbe_study_problem_name(got.problem)));
    double values[10] = {got.rho_operational,
                         got.se_operational,
                         got.lower_operational,
                         got.upper_operational,
                         got.rho_true,
                         got.se_true,
                         got.lower_true,
                         got.upper_true,
                         got.ut,
                         got.up};
    for (int j = 0; j < 10; ++j) REAL(VECTOR_ELT(out, j + 1))[k] = values[j];
  }
  UNPROTECT(1);
  return out;
}

/* The sentence of a problem by its name. */
SEXP C_study_problem_message(SEXP name) {
  const char* wanted = CHAR(STRING_ELT(name, 0));
  for (int code = 1; code < 64; ++code) {
    const char* known = tolbe_study_problem_name(code);
    if (known[0] == '\0') break;
    if (strcmp(known, wanted) == 0) return mkString(tolbe_study_problem_message(code));
  }
  return mkString("");
}
