#pragma once

#include <cstddef>

namespace tolbe {

inline constexpr int MAX_VARIABLES = 50;

// A square matrix of capacity 50 x 50, stored column by column with leading
// dimension 50; element (i, j), numbered from 1, is row i, column j.
// Zero-initialised; does not allocate.
struct Matrix {
  static constexpr int leading_dimension = MAX_VARIABLES;

  double& operator()(int i, int j) { return values[index(i, j)]; }
  double operator()(int i, int j) const { return values[index(i, j)]; }
  double* data() { return values; }
  const double* data() const { return values; }

  static constexpr std::size_t index(int i, int j) {
    return static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(j - 1) * leading_dimension;
  }

  double values[MAX_VARIABLES * MAX_VARIABLES] = {};
};

}  // namespace tolbe
