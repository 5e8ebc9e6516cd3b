// The socket error texts behind ESocketError, shared by the operating-system
// folders of the platform: one table of Windows socket error codes and their
// descriptions, and each system's own text for a code outside it. Safe from
// any thread.
#pragma once

#include <string>

namespace ormelin {

// The table's description of a Windows socket error code; nullptr for a
// code it does not hold.
const char* KnownSocketErrorDescription(int code);

// The operating system's own text for a code outside the table, ending in
// "." (posix/ and win32/ each provide it).
std::string SystemSocketErrorDescription(int code);

}  // namespace ormelin
