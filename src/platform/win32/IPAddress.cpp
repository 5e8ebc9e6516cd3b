#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <string>

#include "platform/IPAddress.h"

namespace ormelin {

// InetPton needs no WSAStartup: it only reads the text.
bool ParseIPAddress(std::string_view text, TIPAddress& address) {
  const std::string terminated(text);
  if (terminated.find('\0') != std::string::npos) return false;
  TIPAddress result;
  if (::inet_pton(AF_INET, terminated.c_str(), result.Bytes.data()) == 1) {
    result.Version = TIPVersion::IPv4;
  } else if (::inet_pton(AF_INET6, terminated.c_str(), result.Bytes.data()) == 1) {
    result.Version = TIPVersion::IPv6;
  } else {
    return false;
  }
  address = result;
  return true;
}

}  // namespace ormelin
