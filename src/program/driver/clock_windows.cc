// The Windows build's clock: the console program has always read the date
// and its processor time from the Windows API there.
#include <windows.h>

#include "driver/clock.h"

namespace tolbe {

DateValues date_and_time() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return DateValues{local.wYear, local.wMonth,  local.wDay,
                    local.wHour, local.wMinute, local.wSecond};
}

namespace {

// A FILETIME counts 100-nanosecond intervals.
double seconds_of(const FILETIME& t) {
  ULARGE_INTEGER ticks{};
  ticks.LowPart = t.dwLowDateTime;
  ticks.HighPart = t.dwHighDateTime;
  return static_cast<double>(ticks.QuadPart) * 1e-7;
}

}  // namespace

float processor_seconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0F;
  return static_cast<float>(seconds_of(user) + seconds_of(kernel));
}

}  // namespace tolbe
