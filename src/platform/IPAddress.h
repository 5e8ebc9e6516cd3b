// IP address texts read into their bytes, for comparing a peer's address
// with configured addresses and ranges. Safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/Sockets.h"

namespace ormelin {

struct TIPAddress {
  TIPVersion Version = TIPVersion::IPv4;
  std::array<uint8_t, 16> Bytes{};  // network order; IPv4 in the first four
};

// Reads a numeric address in its usual text form ("10.0.0.1", "::1",
// "::ffff:10.0.0.1"); false for anything else, host names included.
bool ParseIPAddress(std::string_view text, TIPAddress& address);

}  // namespace ormelin
