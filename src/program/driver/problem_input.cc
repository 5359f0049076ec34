#include "driver/problem_input.h"

namespace tolbe {
namespace {

// One statement; `item(k)` is the storage of its k-th item (from 0).
template <typename Item>
bool read_statement(ListReader& reader, const Statement& statement, ProblemObserver& observer,
                    Item item) {
  observer.statement_begins(statement);
  reader.begin_statement();
  int read = 0;
  while (read < statement.items) {
    reader.read(item(read));
    if (reader.failed()) break;
    ++read;
  }
  if (!reader.failed()) {
    observer.items_read(statement);
    reader.end_statement();
  }
  if (reader.failed()) {
    observer.read_failed(statement, read);
    return false;
  }
  return true;
}

bool read_rows(ListReader& reader, StatementKind kind, Matrix& matrix, int order,
               ProblemObserver& observer) {
  for (int i = 1; i <= order; ++i) {
    if (!read_statement(reader, Statement{kind, i, order}, observer,
                        [&](int k) -> double& { return matrix(i, k + 1); })) {
      return false;
    }
  }
  return true;
}

bool outside(std::int32_t count) {
  return count < 0 || count > MAX_VARIABLES;
}

}  // namespace

bool read_problem(ListReader& reader, Problem& problem, ProblemObserver& observer) {
  std::int32_t* counts[] = {&problem.n_nonrestricted, &problem.n_total, &problem.reliability_flag};
  if (!read_statement(reader, Statement{StatementKind::counts, 0, 3}, observer,
                      [&](int k) -> std::int32_t& { return *counts[k]; })) {
    return false;
  }
  int p = problem.n_nonrestricted;
  int q = problem.n_total;
  if (outside(p)) {
    observer.count_outside(Count::nonrestricted, p);
    return false;
  }
  if (outside(q)) {
    observer.count_outside(Count::total, q);
    return false;
  }
  if (!observer.counts_read(problem)) return false;

  if (!read_rows(reader, StatementKind::restricted_row, problem.restricted_cov, q, observer)) {
    return false;
  }
  observer.restricted_read(problem);

  if (!read_rows(reader, StatementKind::unrestricted_row, problem.nonrestricted_cov, p, observer)) {
    return false;
  }

  if (problem.with_reliabilities()) {
    if (!read_statement(reader, Statement{StatementKind::reliabilities, 0, q - p}, observer,
                        [&](int k) -> double& { return problem.reliabilities[p + k]; })) {
      return false;
    }
    for (int k = 0; k < p; ++k) problem.reliabilities[k] = 1.0;
  }
  observer.problem_read(problem);
  return true;
}

bool read_problem(ListReader& reader, Problem& problem) {
  ProblemObserver no_one;
  return read_problem(reader, problem, no_one);
}

}  // namespace tolbe
