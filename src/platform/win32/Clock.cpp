// The local clock.
#include <windows.h>

#include "platform/DateTime.h"

namespace ormelin {

TDateTime Now() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  TDateTime date = 0;
  TDateTime time = 0;
  TryEncodeDate(local.wYear, local.wMonth, local.wDay, date);
  TryEncodeTime(local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, time);
  return date + time;
}

int CurrentYear() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  return local.wYear;
}

}  // namespace ormelin
