// The one bound on the memory of the intervals, and its words.
#include <cstdint>
#include <cstdio>

#include "tolbe/intervals.h"

namespace tolbe {

std::size_t workspace_bytes(const WorkspaceSize& need) {
  if (need.doubles > SIZE_MAX / 2 / sizeof(double) || need.ints > SIZE_MAX / 2 / sizeof(int)) {
    return SIZE_MAX;
  }
  return need.doubles * sizeof(double) + need.ints * sizeof(int);
}

std::size_t workspace_refusal(const char* what, const WorkspaceSize& need, char* buffer,
                              std::size_t size) {
  std::size_t bytes = workspace_bytes(need);
  if (bytes <= max_workspace_bytes) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  constexpr std::size_t mib = std::size_t{1} << 20;
  char need_text[64];
  if (bytes == SIZE_MAX) {
    std::snprintf(need_text, sizeof need_text, "more memory than there is");
  } else {
    std::snprintf(need_text, sizeof need_text, "about %zu MiB of memory", (bytes + mib - 1) / mib);
  }
  int n =
      std::snprintf(buffer, buffer == nullptr ? 0 : size,
                    "%s would need %s, more than the %zu MiB tolbe allows itself; use fewer "
                    "resamples",
                    what == nullptr ? "the intervals" : what, need_text, max_workspace_bytes / mib);
  return n < 0 ? 0 : static_cast<std::size_t>(n);
}

}  // namespace tolbe
