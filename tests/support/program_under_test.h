#pragma once

#include <cstdlib>
#include <string>

namespace tolbe::testing_support {

// The program the end-to-end tests run: the one built beside them, or the
// one TOLBE_E2E_PROGRAM names, such as the same sources built with the
// built-in kernels, which must then write the same bytes. Read once, at
// start-up, before any test forks.
inline const std::string program_under_test = [] {
  const char* other = std::getenv("TOLBE_E2E_PROGRAM");
  return std::string(other != nullptr && *other != '\0' ? other : TOLBE_BUILT_BINARY);
}();

}  // namespace tolbe::testing_support

#define TOLBE_BINARY (::tolbe::testing_support::program_under_test.c_str())
