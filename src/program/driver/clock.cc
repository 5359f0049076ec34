#include "driver/clock.h"

#include <sys/resource.h>

#include <ctime>

namespace tolbe {
namespace {

long seconds_since_epoch_of(std::tm broken_down) {
  broken_down.tm_isdst = 0;
  return static_cast<long>(timegm(&broken_down));
}

}  // namespace

DateValues date_and_time() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  std::tm utc{};
  localtime_r(&now, &local);
  gmtime_r(&now, &utc);
  long offset_seconds = seconds_since_epoch_of(local) - seconds_since_epoch_of(utc);
  return DateValues{local.tm_year + 1900, local.tm_mon + 1,
                    local.tm_mday,        static_cast<std::int32_t>(offset_seconds / 60),
                    local.tm_hour,        local.tm_min,
                    local.tm_sec,         0};
}

float processor_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  return static_cast<float>(seconds);
}

}  // namespace tolbe
