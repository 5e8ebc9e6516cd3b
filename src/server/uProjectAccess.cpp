#include "server/uProjectAccess.h"

#include <algorithm>

#include "platform/Cp1250.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

constexpr std::string_view kFingerprintPrefix = "SHA256:";
constexpr size_t kFingerprintDigits = 64;

bool HasFingerprintPrefix(std::string_view entry) {
  if (entry.size() < kFingerprintPrefix.size()) return false;
  for (size_t i = 0; i < kFingerprintPrefix.size(); ++i) {
    char c = entry[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != kFingerprintPrefix[i]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string NormalFingerprint(std::string_view entry) {
  if (!HasFingerprintPrefix(entry)) return {};
  entry.remove_prefix(kFingerprintPrefix.size());
  std::string digits;
  for (size_t i = 0; i < entry.size(); ++i) {
    const char c = entry[i];
    if (c == ':') {
      // Colons only between pairs, one at a time.
      if (digits.empty() || digits.size() % 2 != 0 || i + 1 == entry.size() ||
          entry[i + 1] == ':') {
        return {};
      }
      continue;
    }
    if (HexValue(c) < 0 || digits.size() == kFingerprintDigits) return {};
    digits += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
  }
  if (digits.size() != kFingerprintDigits) return {};
  std::string normal;
  for (size_t i = 0; i < digits.size(); i += 2) {
    if (i > 0) normal += ':';
    normal.append(digits, i, 2);
  }
  return normal;
}

TProjectAccess TProjectAccess::Parse(std::string_view text, std::vector<std::string>& malformed) {
  TProjectAccess access;
  access.listed_ = true;
  std::string addressEntries;
  for (const std::string_view entry : BlankSeparatedWords(text)) {
    if (HasFingerprintPrefix(entry)) {
      access.namesCertificates_ = true;
      std::string normal = NormalFingerprint(entry);
      if (normal.empty()) {
        malformed.emplace_back(entry);
      } else {
        access.fingerprints_.push_back(std::move(normal));
      }
      continue;
    }
    access.namesAddresses_ = true;
    addressEntries.append(entry).append(" ");
  }
  access.addresses_ = TAddressAllowList::Parse(addressEntries, malformed);
  return access;
}

TProjectAccess::TLimit TProjectAccess::Limit() const {
  if (!listed_) return TLimit::Open;
  if (namesAddresses_ && namesCertificates_) return TLimit::AddressesAndCertificates;
  if (namesCertificates_) return TLimit::Certificates;
  if (namesAddresses_) return TLimit::Addresses;
  return TLimit::Nobody;
}

std::string TProjectAccess::Refusal(const TAccessClient& client) const {
  if (!listed_) return {};
  if (!namesAddresses_ && !namesCertificates_) return "popis dopuštenih klijenata je prazan"_cp1250;
  if (namesAddresses_ && !addresses_.Allows(client.Address)) {
    return "adresa " + client.Address + " nije na popisu dopuštenih"_cp1250;
  }
  if (namesCertificates_) {
    if (!client.Tls) return "projekt se poslužuje samo preko TLS-a"_cp1250;
    if (client.Fingerprint.empty()) return "klijent nije pokazao certifikat";
    if (std::find(fingerprints_.begin(), fingerprints_.end(), client.Fingerprint) ==
        fingerprints_.end()) {
      return "certifikat SHA256:" + client.Fingerprint + " nije na popisu dopuštenih"_cp1250;
    }
  }
  return {};
}

}  // namespace ormelin
