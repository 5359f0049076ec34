// Corrects the worked problem through the installed C++ API.
#include <tolbe/lawley.h>

#include <cmath>
#include <cstdio>

int main() {
  const double restricted[9] = {1.00, 0.50, 0.30, 0.50, 1.00, 0.40, 0.30, 0.40, 1.00};
  const double unrestricted[4] = {1.44, 0.60, 0.60, 1.21};
  tolbe::LawleyProblem problem;
  problem.q = 3;
  problem.p = 2;
  problem.restricted = restricted;
  problem.ld_restricted = 3;
  problem.unrestricted = unrestricted;
  problem.ld_unrestricted = 2;
  tolbe::LawleyCorrection c = tolbe::lawley(problem);
  std::printf("%s %.4f\n", tolbe::status_text(c.status), c.correlations[2]);
  return c.status == tolbe::Status::ok && std::fabs(c.correlations[2] - 0.3203) < 5e-5 ? 0 : 1;
}
