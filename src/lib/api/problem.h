#pragma once

// The problem as the correction sees it: every argument checked, the
// permuted order of the variables (the selection variables first) and the
// workspace carved into its parts. Shared by the entry points and the
// diagnostics; not part of the public API.

#include <cstddef>
#include <span>

#include "correction/lawley.h"
#include "tolbe/lawley.h"

namespace tolbe::api {

// The doubles of workspace a correction of q variables, p selected, needs.
std::size_t workspace_doubles(int q, int p);

// The workspace, carved in this order: the blocks of the products, the
// reliability of every variable, square roots of a diagonal, and a packed
// triangle for the checks of definiteness.
struct Carved {
  LawleyBlocks blocks;
  double* reliability_of;  // q
  double* deviation;       // q, square roots of a diagonal
  double* packed_check;    // q(q+1)/2
};
Carved carve(int q, int p, double* w);

// An invalid argument and the static text that says why.
struct Invalid {
  Argument argument;
  const char* reason;
};

// The permuted order (input index of each position) and its inverse, in the
// int workspace.
struct Order {
  int* order;     // q
  int* position;  // q
};

// Checks what lawley() and lawley_means() share and fills the order; the
// values of `restricted` are checked only where the correction reads them.
Invalid check_problem(const LawleyProblem& pr, std::span<double> workspace,
                      std::span<int> int_workspace, Order& out);

// The side of a triangle entered alone, for an n x n matrix: one side of
// the diagonal all 0 (or NaN) while the other is not.
Triangle triangle_of(int n, ConstView a);

// Checks the result matrices.
Invalid check_results(const LawleyProblem& pr, const LawleyResults& r);

// Writes `invalid` to `d` (when not null) and returns invalid_argument.
Status report_invalid(const Invalid& invalid, Diagnostics* d);

// Whether the correction reads element (a, b) of V: the upper triangle of
// V11, V12 (rows of selection variables, columns of the others) and the
// whole of V22; never V21.
inline bool is_read(const Order& o, int p, int a, int b) {
  return o.position[a] <= o.position[b] || o.position[b] >= p;
}

// The element the correction reads for the pair {a, b}: the one whose row
// comes first in the permuted order.
inline double element_read(ConstView v, const Order& o, int a, int b) {
  return o.position[a] < o.position[b] ? v(a, b) : v(b, a);
}

}  // namespace tolbe::api
