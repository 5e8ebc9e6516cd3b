// The PROXY header on an accepted connection: read from a proxy the
// administrator trusts, before the server says anything, and told apart
// from a client's first request on any other connection.
//
// Runs on the connection's own thread.
#pragma once

#include <string>

#include "net/TCPConnection.h"

namespace ormelin {

// How long a trusted proxy may take to send its header once connected. It
// sends it at once; a client that connects directly from the proxy's
// machine says nothing before the greeting and is served after this wait.
inline constexpr int kProxyHeaderWaitMs = 3000;
// How long the rest of a signature may take once its first bytes are in.
inline constexpr int kProxySignatureWaitMs = 2000;

enum class TProxyReception {
  Direct,   // nothing came: a client of the proxy's own machine
  Relayed,  // a header came; PeerAddress is the client it names, if any
  Refused,  // something else came, or a header that breaks its rules
};

struct TProxyOutcome {
  TProxyReception Reception = TProxyReception::Direct;
  std::string Problem;  // why Refused, for the log
};

// On a connection from a trusted proxy, before the greeting: waits up to
// `waitMs` for the header, reads exactly its bytes (anything after them
// stays unread for what comes next, a TLS handshake or the first request)
// and reports the client it names to the connection. A peer that closes
// before the header is Refused; socket errors pass through.
TProxyOutcome ReceiveProxyHeader(TTCPConnection& connection, int waitMs = kProxyHeaderWaitMs);

// On any other connection, before its first request is read: whether the
// peer's first bytes are a PROXY signature. Waits for the first bytes as a
// request read would (LimitReads bounds it) and for the rest of a signature
// they begin at most `waitMs`; reads nothing.
bool BeginsWithProxySignature(TTCPConnection& connection, int waitMs = kProxySignatureWaitMs);

}  // namespace ormelin
