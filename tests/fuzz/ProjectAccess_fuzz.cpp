// Fuzz target for the reader of a project's allow-list. The input is the
// list, then after a NUL byte the client's address and then, after another,
// its certificate fingerprint. Checks what the list promises: no list that
// names certificates lets in a client without TLS; a client refused for its
// address stays refused with any certificate; every fingerprint entry that
// is accepted normalises to 32 upper-case pairs that read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/uProjectAccess.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

std::string_view Field(std::string_view& rest) {
  const size_t nul = rest.find('\0');
  const std::string_view field = rest.substr(0, nul);
  rest = nul == std::string_view::npos ? std::string_view() : rest.substr(nul + 1);
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ormelin;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view list = Field(rest);
  const std::string address(Field(rest));
  const std::string print(Field(rest));

  std::vector<std::string> malformed;
  const TProjectAccess access = TProjectAccess::Parse(list, malformed);
  for (const std::string& entry : malformed) {
    if (entry.empty() || list.find(entry) == std::string_view::npos)
      Fail("a reported entry is not in the list");
  }
  const bool certificates = access.Limit() == TProjectAccess::TLimit::Certificates ||
                            access.Limit() == TProjectAccess::TLimit::AddressesAndCertificates;
  if (certificates && access.Refusal({address, false, print}).empty())
    Fail("a certificate list let in a client without TLS");
  if (access.Limit() == TProjectAccess::TLimit::Nobody &&
      access.Refusal({address, true, print}).empty())
    Fail("an empty list let a client in");

  const std::string normal = NormalFingerprint(list);
  if (!normal.empty()) {
    if (normal.size() != 95) Fail("a fingerprint of the wrong length");
    for (size_t i = 0; i < normal.size(); ++i) {
      const char c = normal[i];
      const bool ok = i % 3 == 2 ? c == ':' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
      if (!ok) Fail("a fingerprint not in upper-case pairs");
    }
    if (NormalFingerprint("SHA256:" + normal) != normal) Fail("a fingerprint does not read back");
  }
  return 0;
}
