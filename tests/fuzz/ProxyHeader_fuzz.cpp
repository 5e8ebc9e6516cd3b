// Fuzz target for the PROXY header reader, on the bytes whole and through a
// connection that receives them in seeded pieces. Checks what the reader
// promises: a complete header is no longer than the bytes and its length
// does not change with what follows it; every prefix of it is incomplete;
// a client address it names reads back as an address; the connection
// leaves exactly the bytes after the header unread.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "net/ProxyHeader.h"
#include "net/ProxyReception.h"
#include "net/TCPConnection.h"
#include "platform/IPAddress.h"
#include "support/FuzzTransport.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ormelin;
  if (size < 1) return 0;
  const uint32_t seed = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const TProxyHeader header = ReadProxyHeader(bytes);
  if (header.State == TProxyHeaderState::Complete) {
    if (header.Length == 0 || header.Length > bytes.size()) Fail("length beyond the bytes");
    const TProxyHeader alone = ReadProxyHeader(bytes.substr(0, header.Length));
    if (alone.State != TProxyHeaderState::Complete || alone.Length != header.Length ||
        alone.ClientAddress != header.ClientAddress)
      Fail("what follows the header changed it");
    for (size_t cut = 0; cut < header.Length; cut += 1 + cut / 8) {
      if (ReadProxyHeader(bytes.substr(0, cut)).State == TProxyHeaderState::Complete)
        Fail("a prefix of a header is complete");
    }
    TIPAddress address;
    if (header.HasClient && !ParseIPAddress(header.ClientAddress, address))
      Fail("the client's address does not read back");
    if (header.ClientPort < 0 || header.ClientPort > 65535) Fail("port out of range");
  }
  if (header.State == TProxyHeaderState::Malformed && header.Problem.empty())
    Fail("a malformed header without a reason");

  TTCPConnection connection(std::make_unique<fuzz::TFuzzTransport>(bytes, seed));
  const TProxyOutcome outcome = ReceiveProxyHeader(connection, 1000);
  if (outcome.Reception == TProxyReception::Relayed) {
    if (header.State != TProxyHeaderState::Complete) Fail("relayed without a whole header");
    // What the connection has received beyond the header stays unread.
    if (connection.Unread() != bytes.substr(header.Length, connection.Unread().size()))
      Fail("the bytes after the header were not kept");
    if (header.HasClient && connection.PeerAddress() != header.ClientAddress)
      Fail("the carried address is not the peer's");
  }
  TTCPConnection other(std::make_unique<fuzz::TFuzzTransport>(bytes, seed));
  (void)BeginsWithProxySignature(other, 1000);
  return 0;
}
