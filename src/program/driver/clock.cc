#include "driver/clock.h"

#include <sys/resource.h>

#include <ctime>

namespace tolbe {

DateValues date_and_time() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return DateValues{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                    local.tm_hour,        local.tm_min,     local.tm_sec};
}

float processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return static_cast<float>(seconds);
}

}  // namespace tolbe
