#include "net/ProxyHeader.h"

#include <gtest/gtest.h>

#include <string>

#include "net/ProxyReception.h"
#include "support/ScriptedIO.h"

namespace ormelin {
namespace {

using State = TProxyHeaderState;

// A binary header: command byte, family byte, the address block and what
// follows it; the length field counts the block.
std::string Binary(uint8_t command, uint8_t family, const std::string& block) {
  std::string header(kProxyBinarySignature);
  header += static_cast<char>(command);
  header += static_cast<char>(family);
  header += static_cast<char>(block.size() >> 8);
  header += static_cast<char>(block.size() & 0xFF);
  return header + block;
}

const std::string kV4Block{"\xC0\x00\x02\x07\x0A\x00\x00\x01\xD4\x31\x07\xB6", 12};
const std::string kV6Block = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x05" +
                             std::string(15, '\0') + "\x01" + std::string("\x00\x50\x07\xB6", 4);

struct THeaderCase {
  const char* Label;
  std::string Bytes;
  State Expected;
  size_t Length;        // when Complete
  const char* Address;  // "" for no client
  int Port;
};

TEST(ProxyHeader, TextAndBinaryFormsWithTheirFaults) {
  const std::string tlv = std::string("\x04\x00\x02xy", 5);
  const THeaderCase cases[] = {
      {"text IPv4", "PROXY TCP4 192.0.2.7 10.0.0.1 54321 1974\r\nSync", State::Complete, 42,
       "192.0.2.7", 54321},
      {"text IPv6", "PROXY TCP6 2001:DB8:0:0:0:0:0:5 ::1 1 1974\r\n", State::Complete, 44,
       "2001:db8::5", 1},
      {"text unknown", "PROXY UNKNOWN ffff::1 x y z\r\n", State::Complete, 29, "", 0},
      {"text unknown bare", "PROXY UNKNOWN\r\n", State::Complete, 15, "", 0},
      {"a command", "Sync Demo\r\n", State::NotProxy, 0, "", 0},
      {"a near miss", "PROXI TCP4\r\n", State::NotProxy, 0, "", 0},
      {"empty line", "\r\nSync", State::NotProxy, 0, "", 0},
      {"family mismatch", "PROXY TCP4 ::1 ::1 1 2\r\n", State::Malformed, 0, "", 0},
      {"host name", "PROXY TCP4 evil.example 10.0.0.1 1 2\r\n", State::Malformed, 0, "", 0},
      {"port too big", "PROXY TCP4 192.0.2.7 10.0.0.1 65536 1974\r\n", State::Malformed, 0, "", 0},
      {"two spaces", "PROXY TCP4  192.0.2.7 10.0.0.1 1 2\r\n", State::Malformed, 0, "", 0},
      {"LF alone", "PROXY TCP4 192.0.2.7 10.0.0.1 1 2\n", State::Malformed, 0, "", 0},
      {"no end in 107 bytes", "PROXY UNKNOWN " + std::string(100, 'x'), State::Malformed, 0, "", 0},
      {"binary IPv4", Binary(0x21, 0x11, kV4Block) + "200", State::Complete, 28, "192.0.2.7",
       54321},
      {"binary IPv6", Binary(0x21, 0x21, kV6Block), State::Complete, 52, "2001:db8::5", 80},
      {"binary with fields after", Binary(0x21, 0x11, kV4Block + tlv), State::Complete, 33,
       "192.0.2.7", 54321},
      {"binary local", Binary(0x20, 0x11, kV4Block), State::Complete, 28, "", 0},
      {"binary unspecified", Binary(0x21, 0x00, ""), State::Complete, 16, "", 0},
      {"binary block too short", Binary(0x21, 0x11, kV4Block.substr(0, 8)), State::Malformed, 0, "",
       0},
      {"binary IPv6 in IPv4 room", Binary(0x21, 0x21, kV4Block), State::Malformed, 0, "", 0},
      {"binary version 1", Binary(0x11, 0x11, kV4Block), State::Malformed, 0, "", 0},
      {"binary unknown command", Binary(0x22, 0x11, kV4Block), State::Malformed, 0, "", 0},
      {"binary datagram", Binary(0x21, 0x12, kV4Block), State::Malformed, 0, "", 0},
  };
  for (const THeaderCase& c : cases) {
    const TProxyHeader header = ReadProxyHeader(c.Bytes);
    EXPECT_EQ(header.State, c.Expected) << c.Label;
    if (c.Expected == State::Malformed) {
      EXPECT_FALSE(header.Problem.empty()) << c.Label;
    }
    if (c.Expected != State::Complete) continue;
    EXPECT_EQ(header.Length, c.Length) << c.Label;
    EXPECT_EQ(header.HasClient, c.Address[0] != '\0') << c.Label;
    EXPECT_EQ(header.ClientAddress, c.Address) << c.Label;
    EXPECT_EQ(header.ClientPort, c.Port) << c.Label;
    // Every shorter prefix is either still a header in the making, or (for
    // the text form) already known to be the header it ends as.
    for (size_t cut = 0; cut < header.Length; ++cut) {
      EXPECT_EQ(ReadProxyHeader(c.Bytes.substr(0, cut)).State, State::Incomplete)
          << c.Label << " cut at " << cut;
    }
  }
}

struct TReceptionCase {
  const char* Label;
  std::vector<std::string> Pieces;
  TProxyReception Expected;
  const char* Peer;    // PeerAddress afterwards
  const char* Unread;  // what stays for the protocol
};

// The connection reads the header in whatever pieces it comes, and leaves
// exactly what follows it.
TEST(ProxyReception, ReadsTheHeaderAndLeavesTheRest) {
  const TReceptionCase cases[] = {
      {"whole",
       {"PROXY TCP4 192.0.2.7 10.0.0.1 54321 1974\r\nSync Demo\r\n"},
       TProxyReception::Relayed,
       "192.0.2.7",
       "Sync Demo\r\n"},
      {"byte pieces",
       {"PRO", "XY TCP4 192.0.2.7 10.0", ".0.1 54321 1974\r", "\n"},
       TProxyReception::Relayed,
       "192.0.2.7",
       ""},
      {"binary then TLS bytes",
       {Binary(0x21, 0x11, kV4Block).substr(0, 15),
        Binary(0x21, 0x11, kV4Block).substr(15) + "\x16\x03\x01"},
       TProxyReception::Relayed,
       "192.0.2.7",
       "\x16\x03\x01"},
      {"health check", {Binary(0x20, 0x00, "")}, TProxyReception::Relayed, "127.0.0.1", ""},
      {"no header", {"Sync Demo\r\n"}, TProxyReception::Refused, "127.0.0.1", "Sync Demo\r\n"},
      {"malformed",
       {"PROXY TCP4 1.2.3.4 5.6.7.8 1 99999\r\n"},
       TProxyReception::Refused,
       "127.0.0.1",
       ""},
      {"closed mid-header", {"PROXY TCP4 1.2"}, TProxyReception::Refused, "127.0.0.1", ""},
      {"closed at once", {}, TProxyReception::Refused, "127.0.0.1", ""},
  };
  for (const TReceptionCase& c : cases) {
    TTCPConnection connection(std::make_unique<test::TScriptedIO>(c.Pieces));
    const TProxyOutcome outcome = ReceiveProxyHeader(connection, 1000);
    EXPECT_EQ(outcome.Reception, c.Expected) << c.Label;
    EXPECT_EQ(outcome.Problem.empty(), c.Expected != TProxyReception::Refused) << c.Label;
    EXPECT_EQ(connection.PeerAddress(), c.Peer) << c.Label;
    EXPECT_EQ(connection.TransportPeerAddress(), "127.0.0.1") << c.Label;
    if (c.Expected == TProxyReception::Relayed) {
      EXPECT_EQ(std::string(connection.Unread()), c.Unread) << c.Label;
    }
  }
}

struct TSignatureCase {
  const char* Label;
  std::vector<std::string> Pieces;
  bool Proxy;
};

TEST(ProxyReception, TellsASignatureFromAFirstRequest) {
  const TSignatureCase cases[] = {
      {"text header", {"PROXY TCP4 1.2.3.4 5.6.7.8 1 2\r\n"}, true},
      {"text header in pieces", {"PR", "OXY "}, true},
      {"binary signature in pieces", {"\r\n", "\r\n", std::string("\0\r\nQUIT\n", 8)}, true},
      {"a command", {"Sync Demo\r\n"}, false},
      {"a command starting alike", {"P", "ROX\r\n"}, false},
      {"an empty line, then nothing", {"\r\n"}, false},
      {"nothing", {}, false},
  };
  for (const TSignatureCase& c : cases) {
    TTCPConnection connection(std::make_unique<test::TScriptedIO>(c.Pieces));
    EXPECT_EQ(BeginsWithProxySignature(connection, 50), c.Proxy) << c.Label;
  }
  // Only the first bytes of a connection count.
  TTCPConnection connection(
      std::make_unique<test::TScriptedIO>(std::vector<std::string>{"Hello\r\nPROXY x\r\n"}));
  connection.ReadLine();
  EXPECT_FALSE(BeginsWithProxySignature(connection, 50));
}

}  // namespace
}  // namespace ormelin
