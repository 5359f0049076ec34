#pragma once

#include <cstdint>

namespace tolbe {

// The local date and time of one instant: year, month, day, minutes from
// UTC, hour, minute, second, milliseconds (always 0: the clock has whole
// seconds).
struct DateValues {
  std::int32_t year, month, day, utc_offset_minutes, hour, minute, second, milliseconds;
};

DateValues date_and_time();

// Processor time used by the process so far, user plus system, in seconds.
float processor_seconds();

}  // namespace tolbe
