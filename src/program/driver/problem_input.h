#pragma once

#include <cstdint>

#include "driver/problem.h"
#include "io/list_reader.h"

namespace tolbe {

// The grammar of a problem, shared by the console program and the command
// line. A problem is read as these statements, in this order, each starting
// on a new line:
//
//   the counts: n_nonrestricted (p), n_total (q), reliability_flag;
//   q rows of the restricted var/cov matrix, row i holding (i, 1..q);
//   p rows of the unrestricted var/cov matrix, row i holding (i, 1..p);
//   only with the flag 1: the reliabilities of variables p + 1..q, one
//   statement (even with no items), after which variables 1..p get 1.0.
//
// Both counts must lie in 0..50 before any matrix is read.

enum class StatementKind { counts, restricted_row, unrestricted_row, reliabilities };

// One read statement: its kind, its row (from 1; 0 for the counts and the
// reliabilities) and the number of items it reads.
struct Statement {
  StatementKind kind = StatementKind::counts;
  int row = 0;
  int items = 0;
};

// The count that broke the 0..50 rule.
enum class Count { nonrestricted, total };

// What read_problem tells while it reads. Every hook does nothing unless
// overridden. A hook that ends the process (the console program's errors)
// never returns to the reader.
class ProblemObserver {
 public:
  virtual ~ProblemObserver() = default;

  // Before the statement begins.
  virtual void statement_begins(const Statement&) {}
  // After the last item of the statement, before the rest of its line is
  // skipped.
  virtual void items_read(const Statement&) {}
  // The statement failed after `values_read` of its items (the reader's
  // error() says why); read_problem then returns false.
  virtual void read_failed(const Statement&, int /*values_read*/) {}
  // A count outside 0..50 (the first of the two); read_problem then returns
  // false.
  virtual void count_outside(Count, std::int32_t /*value*/) {}
  // The counts are read and lie in 0..50; false stops the reading (and
  // read_problem returns false).
  virtual bool counts_read(const Problem&) { return true; }
  // All rows of the restricted matrix are read.
  virtual void restricted_read(const Problem&) {}
  // The whole problem is read.
  virtual void problem_read(const Problem&) {}
};

// Reads one problem into `problem`, whose items start at zero, telling
// `observer` as it goes. True unless a statement failed, a count lay outside
// 0..50 or the observer stopped the reading. Does not allocate.
bool read_problem(ListReader& reader, Problem& problem, ProblemObserver& observer);

// The same, telling no one.
bool read_problem(ListReader& reader, Problem& problem);

}  // namespace tolbe
