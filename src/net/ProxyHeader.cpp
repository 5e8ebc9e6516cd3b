#include "net/ProxyHeader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/Cp1250.h"
#include "platform/IPAddress.h"

namespace ormelin {

namespace {

constexpr size_t kBinaryFixedLength = 16;  // signature, command, family, length
constexpr uint8_t kBinaryVersion = 0x20;
constexpr uint8_t kCommandLocal = 0x00;
constexpr uint8_t kCommandProxy = 0x01;
constexpr uint8_t kFamilyUnspecified = 0x00;
constexpr uint8_t kFamilyIPv4 = 0x10;
constexpr uint8_t kFamilyIPv6 = 0x20;
constexpr uint8_t kTransportStream = 0x01;
constexpr size_t kIPv4Block = 12;  // two addresses, two ports
constexpr size_t kIPv6Block = 36;

TProxyHeader Malformed(std::string problem) {
  TProxyHeader header;
  header.State = TProxyHeaderState::Malformed;
  header.Problem = std::move(problem);
  return header;
}

// Whether `bytes` so far agree with the start of `signature`.
bool BeginsLike(std::string_view bytes, std::string_view signature) {
  const size_t common = std::min(bytes.size(), signature.size());
  return bytes.substr(0, common) == signature.substr(0, common);
}

std::string IPv4Text(const uint8_t* bytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

// The usual short form: lower-case groups, the longest run of two or more
// zero groups (the first of equal ones) as "::".
std::string IPv6Text(const uint8_t* bytes) {
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
  int bestStart = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestStart = i;
      bestLength = end - i;
    }
    i = end;
  }
  std::string text;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    char group[8];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

unsigned Port(const uint8_t* bytes) {
  return (unsigned{bytes[0]} << 8) | bytes[1];
}

// A port of the text form: 1 to 5 digits, at most 65535.
bool ReadPort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  port = value;
  return true;
}

// The fields of a text line, split at single spaces.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space - start));
    if (space == std::string_view::npos) return fields;
    start = space + 1;
  }
}

TProxyHeader ReadTextHeader(std::string_view bytes) {
  const size_t lf = bytes.substr(0, kProxyTextMaxLength).find('\n');
  if (lf == std::string_view::npos) {
    if (bytes.size() >= kProxyTextMaxLength) return Malformed("PROXY redak je predug");
    TProxyHeader header;
    return header;  // Incomplete
  }
  if (lf == 0 || bytes[lf - 1] != '\r') return Malformed("PROXY redak ne završava s CR LF"_cp1250);
  const std::string_view line =
      bytes.substr(kProxyTextSignature.size(), lf - 1 - kProxyTextSignature.size());
  TProxyHeader header;
  header.State = TProxyHeaderState::Complete;
  header.Length = lf + 1;
  const std::vector<std::string_view> fields = Fields(line);
  if (fields[0] == "UNKNOWN") return header;  // whatever follows is ignored
  if (fields.size() != 5 || (fields[0] != "TCP4" && fields[0] != "TCP6")) {
    return Malformed("PROXY redak nije oblika TCP4|TCP6 adresa adresa vrata vrata");
  }
  const TIPVersion version = fields[0] == "TCP4" ? TIPVersion::IPv4 : TIPVersion::IPv6;
  TIPAddress source;
  TIPAddress target;
  int targetPort = 0;
  if (!ParseIPAddress(fields[1], source) || !ParseIPAddress(fields[2], target) ||
      source.Version != version || target.Version != version ||
      !ReadPort(fields[3], header.ClientPort) || !ReadPort(fields[4], targetPort)) {
    return Malformed("PROXY redak nosi neispravnu adresu ili vrata");
  }
  header.HasClient = true;
  header.ClientAddress =
      version == TIPVersion::IPv4 ? IPv4Text(source.Bytes.data()) : IPv6Text(source.Bytes.data());
  return header;
}

TProxyHeader ReadBinaryHeader(std::string_view bytes) {
  TProxyHeader header;
  if (bytes.size() < kBinaryFixedLength) return header;  // Incomplete
  const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t versionCommand = raw[12];
  const uint8_t family = raw[13];
  const size_t length = (size_t{raw[14]} << 8) | raw[15];
  if ((versionCommand & 0xF0) != kBinaryVersion)
    return Malformed("PROXY zaglavlje nije inačice 2"_cp1250);
  const uint8_t command = versionCommand & 0x0F;
  if (command != kCommandLocal && command != kCommandProxy) {
    return Malformed("PROXY zaglavlje nosi nepoznatu naredbu");
  }
  if (bytes.size() < kBinaryFixedLength + length) return header;  // Incomplete
  header.State = TProxyHeaderState::Complete;
  header.Length = kBinaryFixedLength + length;
  if (command == kCommandLocal) return header;
  const uint8_t* block = raw + kBinaryFixedLength;
  const uint8_t addressFamily = family & 0xF0;
  if (addressFamily == kFamilyIPv4 || addressFamily == kFamilyIPv6) {
    if ((family & 0x0F) != kTransportStream) {
      return Malformed("PROXY zaglavlje ne opisuje TCP vezu");
    }
    const bool v4 = addressFamily == kFamilyIPv4;
    if (length < (v4 ? kIPv4Block : kIPv6Block)) {
      return Malformed("PROXY zaglavlje je prekratko za svoje adrese");
    }
    header.HasClient = true;
    header.ClientAddress = v4 ? IPv4Text(block) : IPv6Text(block);
    header.ClientPort = static_cast<int>(Port(block + (v4 ? 8 : 32)));
  } else if (addressFamily != kFamilyUnspecified && addressFamily != 0x30) {
    return Malformed("PROXY zaglavlje nosi nepoznatu obitelj adresa");
  }
  // Unspecified and local (UNIX socket) families name no client.
  return header;
}

}  // namespace

TProxyHeader ReadProxyHeader(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (BeginsLike(bytes, kProxyTextSignature)) {
    if (bytes.size() < kProxyTextSignature.size()) return {};
    return ReadTextHeader(bytes);
  }
  if (BeginsLike(bytes, kProxyBinarySignature)) {
    if (bytes.size() < kProxyBinarySignature.size()) return {};
    return ReadBinaryHeader(bytes);
  }
  TProxyHeader header;
  header.State = TProxyHeaderState::NotProxy;
  return header;
}

}  // namespace ormelin
