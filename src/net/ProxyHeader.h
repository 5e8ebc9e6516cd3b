// The header a proxy or load balancer (HAProxy's "send-proxy" and
// "send-proxy-v2") puts before the bytes it relays, naming the client it
// relays for: the text form ("PROXY TCP4 <from> <to> <from-port>
// <to-port>" CR LF, at most 107 bytes) and the binary form (a 12-byte
// signature, a command, an address family, a length, the addresses and
// optional type-length-value fields).
//
// The reader works on the bytes received so far and never asks for more
// than the header needs: the caller receives, asks again while the answer is
// Incomplete, and then skips Length bytes. Pure functions, safe from any
// thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ormelin {

enum class TProxyHeaderState {
  Incomplete,  // a header so far; more bytes are needed to tell
  NotProxy,    // the bytes do not begin with a header
  Malformed,   // the bytes begin like a header but break its rules
  Complete,    // a whole header; see Length and the address
};

struct TProxyHeader {
  TProxyHeaderState State = TProxyHeaderState::Incomplete;
  // The header's bytes, when Complete; what follows is the relayed stream.
  size_t Length = 0;
  // False for a header that names no client (the proxy's own health
  // checks, "PROXY UNKNOWN", an unspecified or local family): the
  // connection's own address stands.
  bool HasClient = false;
  std::string ClientAddress;  // "10.0.0.7", "2001:db8::1"
  int ClientPort = 0;
  // Why a header is Malformed, for the log.
  std::string Problem;
};

// The text form begins with this.
inline constexpr std::string_view kProxyTextSignature = "PROXY ";
// The binary form begins with these 12 bytes.
inline constexpr std::string_view kProxyBinarySignature{"\r\n\r\n\0\r\nQUIT\n", 12};
// The longest text header, its CR LF included.
inline constexpr size_t kProxyTextMaxLength = 107;

// Reads a header at the start of `bytes`.
TProxyHeader ReadProxyHeader(std::string_view bytes);

}  // namespace ormelin
