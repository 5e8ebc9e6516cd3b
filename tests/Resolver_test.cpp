#include "net/Resolver.h"

#include <gtest/gtest.h>

#include "platform/Sockets.h"

namespace ormelin {
namespace {

TEST(TResolver, LookupOfSomethingThatIsNoAddress) {
  try {
    LookupHostName("not.an.address");
    ADD_FAILURE() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.LastError(), 11001);
    EXPECT_EQ(std::string(error.what()), "Socket Error # 11001\r\nHost not found.");
  }
}

}  // namespace
}  // namespace ormelin
