// The platform event log: syslog (ident = source, facility daemon, priority
// error) and a copy of each entry as one line on standard error. Used for
// start-up failures and failures of the host. Safe from any thread.
#pragma once

#include <string_view>

namespace ormelin {

void WriteEventLogEntry(std::string_view source, std::string_view message);

}  // namespace ormelin
