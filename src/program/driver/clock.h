#pragma once

#include <cstdint>

namespace tolbe {

// The local date and time of one instant, as the start stamp shows it.
struct DateValues {
  std::int32_t year, month, day, hour, minute, second;
};

DateValues date_and_time();

// Processor time used by the process so far, user plus system, in seconds.
float processor_seconds();

}  // namespace tolbe
