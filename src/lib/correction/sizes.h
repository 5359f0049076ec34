#pragma once

#include <cstddef>
#include <cstdint>

namespace tolbe {

// Size arithmetic for workspaces: saturates at SIZE_MAX instead of wrapping,
// so that an impossible size is reported rather than under-allocated.
inline std::size_t saturating_times(std::size_t a, std::size_t b) {
  std::size_t product;
  return __builtin_mul_overflow(a, b, &product) ? SIZE_MAX : product;
}
inline std::size_t saturating_plus(std::size_t a, std::size_t b) {
  std::size_t sum;
  return __builtin_add_overflow(a, b, &sum) ? SIZE_MAX : sum;
}
// n(n+1)/2, the values of a packed triangle of order n.
inline std::size_t packed_size(std::size_t n) {
  return n % 2 == 0 ? saturating_times(n / 2, n + 1) : saturating_times(n, (n + 1) / 2);
}
// The smallest leading dimension of a matrix with n rows.
inline int at_least_one(int n) {
  return n > 0 ? n : 1;
}

}  // namespace tolbe
