// File times as the system calls take them. Safe from any thread.
#pragma once

#include <time.h>

#include "platform/DateTime.h"

namespace ormelin {

// The access and write times (both the same) for a local time reduced to the
// DOS form, as SetFileDate sets them. False for a year outside 1980..2107
// or a time the system cannot convert.
bool DosFileTimes(TDateTime value, timespec times[2]);

}  // namespace ormelin
