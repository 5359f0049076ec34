#include "intervals/permuted_model.h"

#include "correction/sizes.h"

namespace tolbe::intervals {

Corrected permuted_model(int q, int p, const api::Order& o, ConstView restricted,
                         ConstView unrestricted, ConstView cov, const LawleyBlocks& blocks,
                         const ModelStorage& storage) {
  int ld_q = at_least_one(q);
  int ld_p = at_least_one(p);
  int m = q - p;
  View vp{storage.v, ld_q};
  View cp{storage.c, ld_q};
  View sp{storage.s, ld_p};
  for (int y = 0; y < q; ++y) {
    for (int x = 0; x <= y; ++x) {
      vp(x, y) = vp(y, x) = api::element_read(restricted, o, o.order[x], o.order[y]);
      cp(x, y) = cp(y, x) = cov(o.order[x], o.order[y]);
    }
  }
  for (int y = 0; y < p; ++y) {
    for (int x = 0; x <= y; ++x) sp(x, y) = sp(y, x) = unrestricted(x, y);
  }
  View b{storage.weights, ld_p};
  View f{storage.projected, ld_p};
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) b(i, j) = blocks.weights_21(j, i);
  }
  for (int j = 0; j < m; ++j) {
    for (int i = 0; i < p; ++i) {
      double sum = 0.0;
      for (int k = 0; k < p; ++k) sum += blocks.inverse_11(i, k) * blocks.corrected_12(k, j);
      f(i, j) = sum;
    }
  }
  return {q, p, o.order, vp, sp, cp, b, blocks.cov_times_inverse, f};
}

}  // namespace tolbe::intervals
