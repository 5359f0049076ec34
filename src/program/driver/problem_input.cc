#include "driver/problem_input.h"

namespace tolbe {
namespace {

bool read_rows(ListReader& reader, Matrix& matrix, int order) {
  for (int i = 1; i <= order; ++i) {
    reader.begin_statement();
    for (int j = 1; j <= order; ++j) reader.read(matrix(i, j));
    reader.end_statement();
    if (reader.failed()) return false;
  }
  return true;
}

}  // namespace

bool read_counts(ListReader& reader, Problem& problem) {
  reader.begin_statement();
  reader.read(problem.n_nonrestricted);
  reader.read(problem.n_total);
  reader.read(problem.reliability_flag);
  reader.end_statement();
  return !reader.failed();
}

bool read_restricted_cov(ListReader& reader, Problem& problem) {
  return read_rows(reader, problem.restricted_cov, problem.n_total);
}

bool read_nonrestricted_cov(ListReader& reader, Problem& problem) {
  return read_rows(reader, problem.nonrestricted_cov, problem.n_nonrestricted);
}

bool read_reliabilities(ListReader& reader, Problem& problem) {
  reader.begin_statement();
  for (int k = problem.n_nonrestricted + 1; k <= problem.n_total; ++k) {
    reader.read(problem.reliabilities[k - 1]);
  }
  reader.end_statement();
  if (reader.failed()) return false;
  for (int k = 1; k <= problem.n_nonrestricted; ++k) problem.reliabilities[k - 1] = 1.0;
  return true;
}

}  // namespace tolbe
