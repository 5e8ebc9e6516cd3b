#include "net/ProxyReception.h"

#include <chrono>

#include "net/ProxyHeader.h"
#include "platform/Cp1250.h"

namespace ormelin {

TProxyOutcome ReceiveProxyHeader(TTCPConnection& connection, int waitMs) {
  TProxyOutcome outcome;
  // One wait bounds the whole header: a peer that trickles it cannot hold
  // the connection's thread any longer.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const TProxyHeader header = ReadProxyHeader(connection.Unread());
    switch (header.State) {
      case TProxyHeaderState::Complete:
        connection.Skip(header.Length);
        if (header.HasClient) connection.SetPeerAddress(header.ClientAddress, header.ClientPort);
        outcome.Reception = TProxyReception::Relayed;
        return outcome;
      case TProxyHeaderState::NotProxy:
        outcome.Reception = TProxyReception::Refused;
        outcome.Problem = "veza ne počinje zaglavljem PROXY"_cp1250;
        return outcome;
      case TProxyHeaderState::Malformed:
        outcome.Reception = TProxyReception::Refused;
        outcome.Problem = header.Problem;
        return outcome;
      case TProxyHeaderState::Incomplete:
        break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !connection.ReceiveMore(static_cast<int>(left.count()))) {
      if (connection.Unread().empty() && connection.IsOpen()) return outcome;  // Direct
      outcome.Reception = TProxyReception::Refused;
      outcome.Problem = connection.Unread().empty()
                            ? "veza je zatvorena prije zaglavlja PROXY"_cp1250
                            : "zaglavlje PROXY nije stiglo cijelo"_cp1250;
      return outcome;
    }
  }
}

bool BeginsWithProxySignature(TTCPConnection& connection, int waitMs) {
  if (!connection.NothingRead()) return false;
  if (connection.Unread().empty() && !connection.ReceiveMore()) return false;
  for (;;) {
    const std::string_view unread = connection.Unread();
    const TProxyHeader header = ReadProxyHeader(unread);
    if (header.State == TProxyHeaderState::NotProxy) return false;
    const bool textForm = unread[0] == 'P';
    const size_t signature = textForm ? kProxyTextSignature.size() : kProxyBinarySignature.size();
    if (unread.size() >= signature) return true;
    if (!connection.ReceiveMore(waitMs)) return false;
  }
}

}  // namespace ormelin
