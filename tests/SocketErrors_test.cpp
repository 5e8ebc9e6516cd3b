#include "platform/SocketErrors.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Sockets.h"

namespace ormelin {
namespace {

// One table serves both systems: Linux maps errno values into its codes,
// Windows reports them natively.
TEST(SocketErrors, MessagesCarryTheWindowsCodeAndItsDescription) {
  const struct {
    int Code;
    const char* Message;
  } cases[] = {
      {10013, "Socket Error # 10013\r\nAccess denied."},
      {10048, "Socket Error # 10048\r\nAddress already in use."},
      {10053, "Socket Error # 10053\r\nSoftware caused connection abort."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10058, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
      {10060, "Socket Error # 10060\r\nConnection timed out."},
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10093, "Socket Error # 10093\r\nSuccessful WSAStartup not yet performed."},
      {11001, "Socket Error # 11001\r\nHost not found."},
  };
  for (const auto& c : cases) {
    const ESocketError error(c.Code, SocketErrorDescription(c.Code));
    EXPECT_EQ(error.Message(), c.Message);
    EXPECT_EQ(error.LastError(), c.Code);
  }
}

TEST(SocketErrors, ACodeOutsideTheTableGetsTheSystemsText) {
  EXPECT_EQ(KnownSocketErrorDescription(5), nullptr);
  const std::string text = SocketErrorDescription(5);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '.');
}

}  // namespace
}  // namespace ormelin
