#include "net/AddressAllowList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ormelin {
namespace {

struct TAllowCase {
  const char* List;
  const char* Peer;
  bool Allowed;
};

TEST(TAddressAllowList, AddressesRangesAndMappedPeers) {
  const TAllowCase cases[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"127.0.0.2/32", "127.0.0.2", true},
      {"127.0.0.0/8", "127.255.0.9", true},
      {"127.0.0.0/8", "128.0.0.1", false},
      {"10.1.2.3/20", "10.1.15.200", true},  // host bits of the entry do not count
      {"10.1.2.3/20", "10.1.16.1", false},
      {"0.0.0.0/0", "192.0.2.1", true},
      {"0.0.0.0/0", "::1", false},  // a range of one family says nothing of the other
      {"::1", "::1", true},
      {"::1", "::2", false},
      {"fd00::/8", "fd12:3456::1", true},
      {"fd00::/9", "fd80::1", false},
      // A mapped IPv4 peer is its IPv4 address, and so is a mapped entry.
      {"127.0.0.1", "::ffff:127.0.0.1", true},
      {"127.0.0.0/8", "::ffff:127.0.0.2", true},
      {"::ffff:10.0.0.0/104", "10.200.0.1", true},
      {"::ffff:10.0.0.1", "10.0.0.1", true},
      {"::1", "::ffff:0.0.0.1", false},
      // Several entries, any blanks between them.
      {" 10.0.0.1\t\r\n192.168.0.0/16  ", "192.168.4.4", true},
      {"", "127.0.0.1", false},
      {"127.0.0.1", "localhost", false},
      {"127.0.0.1", "", false},
  };
  for (const TAllowCase& c : cases) {
    std::vector<std::string> malformed;
    const TAddressAllowList list = TAddressAllowList::Parse(c.List, malformed);
    EXPECT_TRUE(malformed.empty()) << c.List;
    EXPECT_EQ(list.Allows(c.Peer), c.Allowed) << c.List << " / " << c.Peer;
  }
}

TEST(TAddressAllowList, MalformedEntriesAreReportedAndAllowNothing) {
  std::vector<std::string> malformed;
  const TAddressAllowList list = TAddressAllowList::Parse(
      "localhost 10.0.0.1/33 ::1/129 10.0.0.1/ 10.0.0.1/-1 10.0.0.1/+8 10.0.0 1.2.3.4.5 "
      "10.0.0.0/8/8 * 192.0.2.7",
      malformed);
  EXPECT_EQ(malformed, (std::vector<std::string>{"localhost", "10.0.0.1/33", "::1/129", "10.0.0.1/",
                                                 "10.0.0.1/-1", "10.0.0.1/+8", "10.0.0",
                                                 "1.2.3.4.5", "10.0.0.0/8/8", "*"}));
  // Neither a malformed range's address nor anything near it is let in.
  for (const char* peer : {"10.0.0.1", "10.0.0.2", "::1", "127.0.0.1"}) {
    EXPECT_FALSE(list.Allows(peer)) << peer;
  }
  EXPECT_TRUE(list.Allows("192.0.2.7"));
}

TEST(TAddressAllowList, TheLocalMachineByDefault) {
  const TAddressAllowList list = TAddressAllowList::LocalMachine();
  for (const char* peer : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) EXPECT_TRUE(list.Allows(peer));
  for (const char* peer : {"127.0.0.2", "10.0.0.1", "::2"}) EXPECT_FALSE(list.Allows(peer));
}

}  // namespace
}  // namespace ormelin
