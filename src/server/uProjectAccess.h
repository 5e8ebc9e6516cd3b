// Who may use a project: a project's allow-list, the blank-separated
// entries of its <allow> element. An entry is an address or CIDR range
// ("10.0.0.5", "10.1.0.0/16", "fd00::/8") or the SHA-256 fingerprint of a
// client certificate, "SHA256:" and 64 hexadecimal digits, with or without
// colons between the pairs, in any letter case.
//
// A project without the element is open to everyone. With it, a client must
// pass every kind of entry the list names: its address must lie in one of
// the addresses when the list names any, and it must come over TLS with a
// certificate whose fingerprint is listed when the list names any. An entry
// that is neither kind is reported and allows nothing, so a list whose
// entries are all mistyped shuts the project rather than opening it; an
// empty element allows nobody.
//
// Threading: built once, then only read; reads are safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "net/AddressAllowList.h"

namespace ormelin {

// What a client shows the server, as the allow-list needs it.
struct TAccessClient {
  std::string Address;      // the client's, or the one its proxy reported
  bool Tls = false;         // whether the connection travels inside TLS
  std::string Fingerprint;  // "AB:CD:...", empty without a certificate
};

class TProjectAccess {
 public:
  enum class TLimit { Open, Nobody, Addresses, Certificates, AddressesAndCertificates };

  TProjectAccess() = default;  // open

  // Reads a list; entries that are no address, range or fingerprint are
  // added to `malformed`.
  static TProjectAccess Parse(std::string_view text, std::vector<std::string>& malformed);

  TLimit Limit() const;
  // Empty when the client may use the project, else why not (Croatian,
  // for the log).
  std::string Refusal(const TAccessClient& client) const;

 private:
  bool listed_ = false;  // an <allow> element exists
  bool namesAddresses_ = false;
  bool namesCertificates_ = false;
  TAddressAllowList addresses_;
  std::vector<std::string> fingerprints_;  // as NormalFingerprint gives them
};

// A fingerprint entry ("SHA256:abcd...", "sha256:AB:CD:...") in the form the
// connection reports ("AB:CD:..."): empty when it is none.
std::string NormalFingerprint(std::string_view entry);

}  // namespace ormelin
