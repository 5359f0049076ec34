// The library on random sizes, selections, matrices (NaN, infinities, zeros
// and huge values among them) and reliabilities: no crash, no undefined
// behaviour, and every invalid argument reported and never computed on.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "tolbe/findings.h"
#include "tolbe/lawley.h"
#include "tolbe/univariate.h"

namespace {

// Draws bytes from the input, zeros after its end.
struct Bytes {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t next() { return size > 0 ? (--size, *data++) : std::uint8_t{0}; }
  double value() {
    switch (next() % 8) {
      case 0:
        return std::numeric_limits<double>::quiet_NaN();
      case 1:
        return next() % 2 ? HUGE_VAL : -HUGE_VAL;
      case 2:
        return 0.0;
      case 3:
        return 1e300;
      default: {
        double x = 0;
        std::uint8_t raw[8];
        for (std::uint8_t& b : raw) b = next();
        std::memcpy(&x, raw, sizeof x);
        return std::isfinite(x) ? x : 0.5;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolbe;
  Bytes in{data, size};
  int q = in.next() % 9;
  int p = in.next() % 11;  // may exceed q
  bool with_selection = in.next() % 2 == 0;
  int reliabilities_count = in.next() % 12;
  std::vector<double> v(static_cast<std::size_t>(q * q)), s(static_cast<std::size_t>(p * p) + 1);
  for (double& x : v) x = in.value();
  for (double& x : s) x = in.value();
  std::vector<int> selection;
  if (with_selection) {
    for (int k = 0; k < p; ++k) selection.push_back(static_cast<int>(in.next() % 10));
  }
  std::vector<double> reliabilities(static_cast<std::size_t>(reliabilities_count));
  for (double& x : reliabilities) x = in.value();

  LawleyProblem problem;
  problem.q = q;
  problem.p = p;
  problem.restricted = v.data();
  problem.ld_restricted = q > 0 ? q : 1;
  problem.unrestricted = s.data();
  problem.ld_unrestricted = p > 0 ? p : 1;
  problem.selection = selection;
  problem.reliabilities = reliabilities;

  // A NaN with a payload no computation makes, compared by its bits.
  const std::uint64_t untouched_bits = 0x7ff4'0000'dead'beefULL;
  double untouched;
  std::memcpy(&untouched, &untouched_bits, sizeof untouched);
  auto is_untouched = [&](const double& x) { return std::memcmp(&x, &untouched_bits, 8) == 0; };
  std::size_t n = static_cast<std::size_t>(q * q) + 1;
  std::vector<double> cov(n, untouched), cor(n, untouched), dis(n, untouched);
  LawleyResults results{cov.data(),    q > 0 ? q : 1, cor.data(),
                        q > 0 ? q : 1, dis.data(),    q > 0 ? q : 1};
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  Diagnostics d;
  Status status = lawley(problem, results, work, int_work, &d);
  if (d.status != status) std::abort();
  if (status == Status::invalid_argument) {
    if (d.argument == Argument::none) std::abort();
    for (const double& x : cov) {
      if (!is_untouched(x)) std::abort();  // never computed on
    }
  } else {
    // A valid call had finite inputs where they are read, sizes in range.
    if (p > q) std::abort();
    bool any_written = q == 0 || !is_untouched(cov[0]);
    if (!any_written) std::abort();
  }
  // Its findings: at most one of each code, each with a message that names
  // only variables of the problem.
  std::array<Finding, max_findings> findings;
  int found = lawley_findings(d, findings);
  if (found < 0 || found > max_findings) std::abort();
  if (status == Status::invalid_argument && found != 0) std::abort();
  for (int k = 0; k < found; ++k) {
    const Finding& f = findings[static_cast<std::size_t>(k)];
    for (int variable : f.variables) {
      if (variable < -1 || variable >= q) std::abort();
    }
    char text[600];
    std::size_t length = finding_message(f, {}, text, sizeof text);
    if (length == 0 || length >= sizeof text || std::strlen(text) != length) std::abort();
  }
  std::vector<double> means(static_cast<std::size_t>(q)), mu(static_cast<std::size_t>(q), 1.0),
      m(static_cast<std::size_t>(p), 2.0);
  lawley_means(problem, mu, m, means, work, int_work, &d);

  // One study corrected from the same kind of numbers: a problem said, or
  // values inside the bounds the corrections promise.
  Study study;
  study.r = in.value();
  study.n = static_cast<int>(in.next()) - 16;
  study.ux = in.value();
  study.uy = in.value();
  study.rxx = in.value();
  study.ryy = in.value();
  study.rxx_sample =
      in.next() % 2 ? ReliabilitySample::restricted : ReliabilitySample::unrestricted;
  study.ryy_sample =
      in.next() % 2 ? ReliabilitySample::restricted : ReliabilitySample::unrestricted;
  study.sign_xz = static_cast<int>(in.next() % 3) - 1;
  study.sign_yz = static_cast<int>(in.next() % 3) - 1;
  auto method = static_cast<RangeRestriction>(in.next() % 4);
  StudyResult corrected = correct_study(study, method, in.value());
  if (corrected.problem == StudyProblem::none) {
    if (!(std::fabs(corrected.rho_operational) < 1.0)) std::abort();
    if (study.n > 0 && !(corrected.lower_operational <= corrected.rho_operational &&
                         corrected.rho_operational <= corrected.upper_operational)) {
      std::abort();
    }
  } else if (corrected.problem != StudyProblem::corrected_out_of_range &&
             !std::isnan(corrected.rho_operational)) {
    std::abort();
  }
  if (study_problem_message(corrected.problem) == nullptr) std::abort();
  return 0;
}
