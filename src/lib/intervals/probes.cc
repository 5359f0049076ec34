// What the tests reach of the intervals beyond the entry points: the
// gradient of one corrected value and the bootstrap's accelerations, each
// from a whole problem, allocating what it needs.

#include <cstddef>
#include <vector>

#include "api/problem.h"
#include "correction/lawley.h"
#include "correction/sizes.h"
#include "intervals/intervals.h"
#include "intervals/permuted_model.h"
#include "intervals/raw_scores.h"
#include "tolbe/intervals.h"
#include "tolbe/lawley.h"

namespace tolbe::intervals {
namespace {

std::size_t sz(int n) {
  return n <= 0 ? 0 : static_cast<std::size_t>(n);
}

std::size_t squared(int n) {
  return saturating_times(sz(n), sz(n));
}

}  // namespace

bool correction_gradient(const LawleyProblem& problem, int i, int j, bool correlation,
                         std::vector<double>& of_v, std::vector<double>& of_s) {
  int q = problem.q;
  int p = problem.p;
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  api::Order o{};
  if (api::check_problem(problem, work, int_work, o).argument != Argument::none) return false;
  std::size_t qq = squared(q);
  std::size_t pp = squared(p);
  std::size_t pm = sz(p) * sz(q - p);
  std::vector<double> store(4 * qq + pp + 2 * pm);
  double* cov = store.data();
  double* corr = cov + qq;
  ModelStorage storage{corr + qq, corr + 2 * qq, corr + 3 * qq, corr + 3 * qq + pp,
                       corr + 3 * qq + pp + pm};
  api::Carved c = api::carve(q, p, work.data());
  ConstView restricted{problem.restricted, problem.ld_restricted};
  ConstView unrestricted{problem.unrestricted, problem.ld_unrestricted};
  int ld_q = at_least_one(q);
  if (lawley_products(p, q, restricted, unrestricted, o.order, c.blocks) != 0) return false;
  lawley_assemble(p, q, unrestricted, c.blocks, o.order, {cov, ld_q});
  Corrected model =
      permuted_model(q, p, o, restricted, unrestricted, {cov, ld_q}, c.blocks, storage);
  std::vector<double> g_v(qq, 0.0);
  std::vector<double> g_s(pp, 0.0);
  std::vector<int> ints(2 * (qq + pp), 0);
  Gradient g{q,
             p,
             g_v.data(),
             g_s.data(),
             ints.data(),
             ints.data() + qq,
             ints.data() + qq + pp,
             0,
             ints.data() + 2 * qq + pp,
             0};
  int x = o.position[i];
  int y = o.position[j];
  if (correlation) {
    add_correlation_gradient(model, x, y, g);
  } else {
    add_covariance_gradient(model, x, y, 1.0, g);
  }
  of_v.assign(qq, 0.0);
  of_s.assign(pp, 0.0);
  for (int l = 0; l < q; ++l) {
    for (int k = 0; k <= l; ++k) {
      double value = g_v[sz(k) + sz(l) * sz(q)];
      int a = o.order[k];
      int b = o.order[l];
      of_v[sz(a) + sz(b) * sz(q)] = of_v[sz(b) + sz(a) * sz(q)] = value;
    }
  }
  for (int l = 0; l < p; ++l) {
    for (int k = 0; k <= l; ++k) {
      of_s[sz(k) + sz(l) * sz(p)] = of_s[sz(l) + sz(k) * sz(p)] = g_s[sz(k) + sz(l) * sz(p)];
    }
  }
  return true;
}

bool bootstrap_accelerations(const LawleyProblem& problem, const RawScores& data,
                             const RawScores* pool, std::vector<double>& acceleration) {
  int q = problem.q;
  int p = problem.p;
  if (q < 1 || p < 0 || p > q) return false;
  int rows = 0;
  int pool_rows = 0;
  if (check_scores(data, q, Argument::data).argument != Argument::none ||
      check_rows(data, Argument::data, bootstrap_min_rows, rows).argument != Argument::none) {
    return false;
  }
  if (pool != nullptr &&
      (check_scores(*pool, p, Argument::pool).argument != Argument::none ||
       check_rows(*pool, Argument::pool, bootstrap_min_rows, pool_rows).argument !=
           Argument::none)) {
    return false;
  }
  std::vector<double> v(squared(q));
  std::vector<double> s(squared(p));
  std::vector<double> means(sz(q));
  std::vector<double> pool_means(sz(p));
  summarise(data, rows, means.data(), {v.data(), q});
  LawleyProblem pr = problem;
  pr.restricted = v.data();
  pr.ld_restricted = q;
  if (pool != nullptr) {
    summarise(*pool, pool_rows, pool_means.data(), {s.data(), at_least_one(p)});
    pr.unrestricted = s.data();
    pr.ld_unrestricted = at_least_one(p);
  }
  WorkspaceSize need = lawley_workspace_size(q, p);
  std::vector<double> work(need.doubles);
  std::vector<int> int_work(need.ints);
  api::Order o{};
  if (api::check_problem(pr, work, int_work, o).argument != Argument::none) return false;
  api::Carved c = api::carve(q, p, work.data());
  std::vector<double> cov(squared(q));
  std::vector<double> corr(squared(q));
  std::vector<double> slots(values_per_resample(q));
  if (!correct_into_slots(q, p, o.order, {pr.restricted, q}, {pr.unrestricted, pr.ld_unrestricted},
                          c.blocks, {cov.data(), q}, {corr.data(), q}, slots.data())) {
    return false;
  }
  std::vector<double> centred(sz(rows) * sz(q));
  std::vector<double> pool_centred(sz(pool_rows) * sz(p));
  centre(data, means.data(), true, rows, centred.data());
  if (pool != nullptr) centre(*pool, pool_means.data(), true, pool_rows, pool_centred.data());
  BootstrapInput in{};
  in.q = q;
  in.p = p;
  in.order = o.order;
  in.centred = centred.data();
  in.rows = rows;
  in.pool_centred = pool != nullptr ? pool_centred.data() : nullptr;
  in.pool_rows = pool_rows;
  in.restricted = {pr.restricted, q};
  in.unrestricted = {pr.unrestricted, pr.ld_unrestricted};
  in.estimates = slots.data();
  in.threads = 1;
  jackknife_accelerations(in, acceleration);
  return true;
}

}  // namespace tolbe::intervals
