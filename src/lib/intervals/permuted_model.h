#pragma once

// The corrected problem in the permuted order that the Jacobian works in,
// formed from one correction: the intervals' driver and the tests' gradient
// both start from it.

#include "api/problem.h"
#include "correction/lawley.h"
#include "intervals/intervals.h"

namespace tolbe::intervals {

// Storage of the permuted model: V, C (q x q), S (p x p), B and F (p x m).
struct ModelStorage {
  double* v;
  double* c;
  double* s;
  double* weights;
  double* projected;
};

// The permuted V (symmetric, from the elements read), C and S, and B = W V12
// and F = W C12, after a correction into `blocks` and `cov`.
Corrected permuted_model(int q, int p, const api::Order& o, ConstView restricted,
                         ConstView unrestricted, ConstView cov, const LawleyBlocks& blocks,
                         const ModelStorage& storage);

}  // namespace tolbe::intervals
