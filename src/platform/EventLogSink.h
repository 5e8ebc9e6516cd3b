// The platform event log, for start-up failures and failures of the host:
// one error entry under a named source (the service's name, or the
// executable's file name for the host itself). Windows writes the system's
// event log, Linux syslog (facility daemon); both also copy each entry as one
// line "<source>: <text>" to standard error when the process has one, so
// that an administrator who starts it by hand, and the tests, see it. Safe
// from any thread.
#pragma once

#include <string_view>

namespace ormelin {

void WriteEventLogEntry(std::string_view source, std::string_view message);

}  // namespace ormelin
