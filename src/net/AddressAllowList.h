// A list of addresses and CIDR ranges, IPv4 and IPv6, that a peer's address
// is checked against. An IPv4 address that reaches an IPv6 socket in mapped
// form (::ffff:10.0.0.1) counts as the IPv4 address it is, in the list and
// in the peer's address alike.
//
// Threading: built once, then only read; reads are safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/IPAddress.h"

namespace ormelin {

class TAddressAllowList {
 public:
  TAddressAllowList() = default;  // allows nothing

  // 127.0.0.1 and ::1.
  static TAddressAllowList LocalMachine();
  // Reads blank-separated entries: an address ("10.0.0.5", "::1") or a range
  // ("10.0.0.0/8", "fd00::/8"). Entries that are neither are added to
  // `malformed` and left out, so they never allow anything.
  static TAddressAllowList Parse(std::string_view text, std::vector<std::string>& malformed);

  // Whether the address text of a peer lies in one of the entries. A text
  // that is no address lies in none.
  bool Allows(std::string_view address) const;

 private:
  struct TRange {
    TIPAddress Base;  // only its first PrefixBits bits count
    int PrefixBits = 0;
  };

  // Adds an entry; false when it is no address or range.
  bool Add(std::string_view entry);

  std::vector<TRange> ranges_;
};

}  // namespace ormelin
