#include "net/AddressAllowList.h"

#include "platform/Text.h"

namespace ormelin {

namespace {

constexpr int kIPv4Bits = 32;
constexpr int kIPv6Bits = 128;
constexpr int kMappedPrefixBits = 96;  // ::ffff:0:0/96

int BitsOf(const TIPAddress& address) {
  return address.Version == TIPVersion::IPv4 ? kIPv4Bits : kIPv6Bits;
}

bool IsMappedIPv4(const TIPAddress& address) {
  if (address.Version != TIPVersion::IPv6) return false;
  for (int i = 0; i < 10; ++i) {
    if (address.Bytes[i] != 0) return false;
  }
  return address.Bytes[10] == 0xFF && address.Bytes[11] == 0xFF;
}

// A mapped IPv4 address as the IPv4 address, with the bits of a prefix
// that covers it; anything else unchanged.
void Unmap(TIPAddress& address, int& prefixBits) {
  if (!IsMappedIPv4(address) || prefixBits < kMappedPrefixBits) return;
  TIPAddress plain;
  plain.Version = TIPVersion::IPv4;
  for (int i = 0; i < 4; ++i) plain.Bytes[i] = address.Bytes[12 + i];
  address = plain;
  prefixBits -= kMappedPrefixBits;
}

// Whether the first `bits` bits of the two addresses agree.
bool SamePrefix(const TIPAddress& a, const TIPAddress& b, int bits) {
  int byte = 0;
  for (; bits >= 8; bits -= 8, ++byte) {
    if (a.Bytes[byte] != b.Bytes[byte]) return false;
  }
  if (bits == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF << (8 - bits));
  return (a.Bytes[byte] & mask) == (b.Bytes[byte] & mask);
}

}  // namespace

TAddressAllowList TAddressAllowList::LocalMachine() {
  TAddressAllowList list;
  list.Add("127.0.0.1");
  list.Add("::1");
  return list;
}

TAddressAllowList TAddressAllowList::Parse(std::string_view text,
                                           std::vector<std::string>& malformed) {
  TAddressAllowList list;
  for (const std::string_view entry : BlankSeparatedWords(text)) {
    if (!list.Add(entry)) malformed.emplace_back(entry);
  }
  return list;
}

bool TAddressAllowList::Add(std::string_view entry) {
  TRange range;
  const size_t slash = entry.find('/');
  if (!ParseIPAddress(entry.substr(0, slash), range.Base)) return false;
  range.PrefixBits = BitsOf(range.Base);
  if (slash != std::string_view::npos) {
    const std::string_view digits = entry.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return false;
    int bits = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      bits = bits * 10 + (c - '0');
    }
    if (bits > range.PrefixBits) return false;
    range.PrefixBits = bits;
  }
  Unmap(range.Base, range.PrefixBits);
  ranges_.push_back(range);
  return true;
}

bool TAddressAllowList::Allows(std::string_view address) const {
  TIPAddress peer;
  if (!ParseIPAddress(address, peer)) return false;
  int bits = BitsOf(peer);
  Unmap(peer, bits);
  for (const TRange& range : ranges_) {
    if (range.Base.Version == peer.Version && SamePrefix(range.Base, peer, range.PrefixBits)) {
      return true;
    }
  }
  return false;
}

}  // namespace ormelin
