#include "server/uProjectAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ormelin {
namespace {

const std::string kPrint =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:"
    "89";
const std::string kHex = "abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789";
const std::string kOther = "00" + kPrint.substr(2);

TEST(ProjectAccess, FingerprintEntriesInEveryAcceptedSpelling) {
  struct TCase {
    std::string Entry;
    std::string Normal;  // "" for none
  };
  const TCase cases[] = {
      {"SHA256:" + kPrint, kPrint},
      {"sha256:" + kHex, kPrint},
      {"Sha256:" + kPrint.substr(0, 12) + kHex.substr(8), kPrint},  // colons in part of it
      {"SHA256:" + kHex.substr(2), ""},                             // 31 bytes
      {"SHA256:" + kHex + "ab", ""},                                // 33 bytes
      {"SHA256:" + kHex.substr(1) + "g", ""},
      {"SHA256::" + kHex, ""},
      {"SHA256:" + kHex + ":", ""},
      {"SHA256:a:" + kHex.substr(1), ""},  // a colon inside a pair
      {"SHA1:" + kHex, ""},
      {kPrint, ""},  // the prefix is what marks a fingerprint
  };
  for (const TCase& c : cases) EXPECT_EQ(NormalFingerprint(c.Entry), c.Normal) << c.Entry;
}

struct TClientCase {
  const char* List;  // nullptr: no <allow> element
  TProjectAccess::TLimit Limit;
  std::string Address;
  bool Tls;
  std::string Fingerprint;
  bool Allowed;
};

TEST(ProjectAccess, ClientsAgainstEveryKindOfList) {
  using L = TProjectAccess::TLimit;
  const std::string byPrint = "SHA256:" + kHex;
  const std::string both = "10.0.0.0/8 SHA256:" + kPrint;
  const TClientCase cases[] = {
      {nullptr, L::Open, "192.0.2.1", false, "", true},
      {"", L::Nobody, "192.0.2.1", false, "", false},
      {"10.0.0.0/8 ::1", L::Addresses, "10.4.5.6", false, "", true},
      {"10.0.0.0/8 ::1", L::Addresses, "::ffff:10.4.5.6", false, "", true},
      {"10.0.0.0/8 ::1", L::Addresses, "11.0.0.1", false, "", false},
      {"10.0.0.0/8 ::1", L::Addresses, "::1", true, kOther, true},
      // A mistyped entry shuts rather than opens.
      {"10.0.0.300", L::Addresses, "10.0.0.30", false, "", false},
      {byPrint.c_str(), L::Certificates, "192.0.2.1", true, kPrint, true},
      {byPrint.c_str(), L::Certificates, "192.0.2.1", true, kOther, false},
      {byPrint.c_str(), L::Certificates, "192.0.2.1", true, "", false},
      // Over plain TCP nobody can prove a certificate.
      {byPrint.c_str(), L::Certificates, "192.0.2.1", false, kPrint, false},
      {"SHA256:beef", L::Certificates, "192.0.2.1", true, kPrint, false},
      {both.c_str(), L::AddressesAndCertificates, "10.1.1.1", true, kPrint, true},
      {both.c_str(), L::AddressesAndCertificates, "11.1.1.1", true, kPrint, false},
      {both.c_str(), L::AddressesAndCertificates, "10.1.1.1", true, kOther, false},
      {both.c_str(), L::AddressesAndCertificates, "10.1.1.1", false, "", false},
  };
  for (const TClientCase& c : cases) {
    std::vector<std::string> malformed;
    const TProjectAccess access =
        c.List ? TProjectAccess::Parse(c.List, malformed) : TProjectAccess();
    EXPECT_EQ(access.Limit(), c.Limit) << (c.List ? c.List : "(none)");
    const std::string refusal = access.Refusal({c.Address, c.Tls, c.Fingerprint});
    EXPECT_EQ(refusal.empty(), c.Allowed)
        << (c.List ? c.List : "(none)") << " / " << c.Address << ": " << refusal;
  }
}

TEST(ProjectAccess, MistypedEntriesAreReported) {
  std::vector<std::string> malformed;
  TProjectAccess::Parse(" 10.0.0.1\tbogus SHA256:12 fd00::/8 10.0.0.0/33\n", malformed);
  EXPECT_EQ(malformed, (std::vector<std::string>{"SHA256:12", "bogus", "10.0.0.0/33"}));
}

}  // namespace
}  // namespace ormelin
