// The resolver of the network layer: the host names of peer addresses.
// Safe from any thread; each call asks the system resolver and waits for it.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// The host name of a dotted IPv4 address; ESocketError when it has none.
std::string LookupHostName(std::string_view address);

}  // namespace ormelin
