// The local clock.
#include <time.h>

#include "platform/DateTime.h"

namespace ormelin {

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  TDateTime result = 0;
  TDateTime time = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, result);
  // A leap second reads as the last second of its minute.
  int second = local.tm_sec > 59 ? 59 : local.tm_sec;
  TryEncodeTime(local.tm_hour, local.tm_min, second, static_cast<int>(now.tv_nsec / 1000000), time);
  return result + time;
}

int CurrentYear() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

}  // namespace ormelin
