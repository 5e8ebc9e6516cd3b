// The Winsock side of the platform's sockets, run as a Windows program
// (under Wine on the build machines). Servers listen on loopback ports the
// system picks.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include "net/NetErrors.h"
#include "net/TCPServer.h"
#include "platform/IPAddress.h"
#include "platform/Sockets.h"
#include "platform/Streams.h"

namespace ormelin {
namespace {

// A listener on a port the system picks, and one connection to it.
struct TLoopbackPair {
  TSocket listener = TSocket::CreateListening(TIPVersion::IPv4);
  TSocket client;
  TSocket server;
  explicit TLoopbackPair(int timeoutMs = 0) {
    listener.BindAny(0);
    listener.Listen(15);
    client = TSocket::Connect("127.0.0.1", listener.LocalPort(), timeoutMs);
    while (!listener.WaitReadable(250)) {
    }
    server = listener.Accept();
  }
};

std::string ReceiveExactly(TSocket& socket, size_t count) {
  std::string received;
  char buffer[4096];
  while (received.size() < count) {
    const size_t got = socket.Receive(buffer, sizeof buffer);
    if (got == 0) break;
    received.append(buffer, got);
  }
  return received;
}

void SendAll(TSocket& socket, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) done += socket.Send(bytes.data() + done, bytes.size() - done);
}

TEST(WinsockSockets, CarryBytesBothWaysOnLoopback) {
  for (int timeoutMs : {0, 60000}) {  // the plain and the timed connect
    TLoopbackPair pair(timeoutMs);
    EXPECT_EQ(pair.server.PeerAddress(), "127.0.0.1");
    EXPECT_EQ(pair.client.PeerPort(), pair.listener.LocalPort());
    // More than the socket buffers hold, so that sends must wait for the reader.
    std::string payload(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    std::thread sender([&] { SendAll(pair.client, payload); });
    EXPECT_TRUE(ReceiveExactly(pair.server, payload.size()) == payload);
    sender.join();
    SendAll(pair.server, "200 Ready\r\n");
    EXPECT_EQ(ReceiveExactly(pair.client, 11), "200 Ready\r\n");
  }
}

TEST(WinsockSockets, SendsAFileFromAnOffset) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "ormelin-sendfile.bin").string();
  std::string content(200 * 1024 + 17, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + 1);
  {
    TFileWriteStream writer(path);
    writer.Write(content.data(), content.size());
    writer.Close();
  }
  {
    TFileStream file(path);
    TLoopbackPair pair;
    const int64_t offset = 5;
    auto received = std::async(
        std::launch::async, [&] { return ReceiveExactly(pair.client, content.size() - offset); });
    int64_t position = offset;
    while (position < file.Size()) {
      const size_t count = pair.server.SendFile(file.NativeHandle(), position,
                                                static_cast<size_t>(file.Size() - position));
      if (count == 0) {
        ADD_FAILURE() << "the file ended early at " << position;
        break;
      }
      position += static_cast<int64_t>(count);
    }
    EXPECT_EQ(pair.server.SendFile(file.NativeHandle(), file.Size(), 100), 0u);
    pair.server.Shutdown();  // the end of the bytes for the receiver
    EXPECT_TRUE(received.get() == content.substr(offset));
  }
  std::filesystem::remove(path);
}

TEST(WinsockSockets, TryReceiveTellsNothingYetFromAClosedPeer) {
  TLoopbackPair pair;
  char buffer[16];
  EXPECT_FALSE(pair.server.TryReceive(buffer, sizeof buffer).has_value());
  SendAll(pair.client, "x");
  pair.client.Close();
  std::string seen;
  for (;;) {
    const std::optional<size_t> got = pair.server.TryReceive(buffer, sizeof buffer);
    if (!got) continue;
    if (*got == 0) break;
    seen.append(buffer, *got);
  }
  EXPECT_EQ(seen, "x");
}

// Windows gives 10048 for a port another socket holds exclusively; Wine
// reports an exclusive port as 10013 (access denied). Either way the
// listener turns it into its one bind message.
TEST(WinsockSockets, ATakenPortCannotBeBound) {
  TSocket first = TSocket::CreateListening(TIPVersion::IPv4);
  first.BindAny(0);
  first.Listen(15);
  TSocket second = TSocket::CreateListening(TIPVersion::IPv4);
  try {
    second.BindAny(first.LocalPort());
    ADD_FAILURE() << "a second socket took a port in use";
  } catch (const ESocketError& error) {
    EXPECT_TRUE(error.LastError() == 10048 || error.LastError() == 10013) << error.Message();
  }

  TTCPServer taken({}, {});
  taken.SetDefaultPort(first.LocalPort());
  try {
    taken.SetActive(true);
    ADD_FAILURE() << "a listener took a port in use";
  } catch (const ECouldNotBindSocket& error) {
    EXPECT_EQ(error.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(taken.Active());
}

TEST(WinsockSockets, ThePortIsFreeAgainOnceItsListenerCloses) {
  int port = 0;
  {
    TLoopbackPair pair;
    port = pair.listener.LocalPort();
    SendAll(pair.server, "bye");  // the server side closes first
  }
  TSocket again = TSocket::CreateListening(TIPVersion::IPv4);
  again.BindAny(port);
  again.Listen(15);
  EXPECT_EQ(again.LocalPort(), port);
}

TEST(WinsockSockets, IPv4AndIPv6ShareAPortAsTwoSockets) {
  if (!IPv6Available()) GTEST_SKIP() << "no IPv6 here";
  TSocket v4 = TSocket::CreateListening(TIPVersion::IPv4);
  v4.BindAny(0);
  TSocket v6 = TSocket::CreateListening(TIPVersion::IPv6);
  v6.BindAny(v4.LocalPort());
  EXPECT_EQ(v6.LocalPort(), v4.LocalPort());
}

TEST(WinsockSockets, ShutdownFromAnotherThreadWakesABlockedReceive) {
  TLoopbackPair pair;
  auto received = std::async(std::launch::async, [&] {
    char buffer[16];
    return pair.server.Receive(buffer, sizeof buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // most likely blocked by now
  pair.server.Shutdown();
  EXPECT_EQ(received.get(), 0u);
  // The peer sees the connection end.
  EXPECT_EQ(ReceiveExactly(pair.client, 1), "");
}

TEST(WinsockSockets, ShutdownFromAnotherThreadWakesABlockedSend) {
  TLoopbackPair pair;  // the client never reads, so the sender fills up and waits
  auto sent = std::async(std::launch::async, [&] {
    const std::string block(1024 * 1024, 'z');
    try {
      for (;;) SendAll(pair.server, block);
    } catch (const ESocketError& error) {
      return error.LastError();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pair.server.Shutdown();
  EXPECT_EQ(sent.get(), 10058);
}

TEST(WinsockSockets, AnIdleTimeOutEndsAWaitingReceive) {
  TLoopbackPair pair;
  pair.client.SetIdleTimeout(50);
  char buffer[16];
  try {
    pair.client.Receive(buffer, sizeof buffer);
    ADD_FAILURE() << "a receive without bytes returned";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.Message(), "Socket Error # 10060\r\nConnection timed out.");
  }
}

TEST(WinsockSockets, ConnectingToAClosedPortIsRefused) {
  int port = 0;
  {
    TSocket listener = TSocket::CreateListening(TIPVersion::IPv4);
    listener.BindAny(0);
    port = listener.LocalPort();
  }
  for (int timeoutMs : {0, 60000}) {
    try {
      TSocket::Connect("127.0.0.1", port, timeoutMs);
      ADD_FAILURE() << "connected to a closed port";
    } catch (const ESocketError& error) {
      EXPECT_EQ(error.LastError(), kSocketErrorConnectionRefused);
      EXPECT_EQ(error.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
  }
}

TEST(WinsockSockets, ErrorTextsCarryTheNativeCode) {
  const struct {
    int Code;
    const char* Message;
  } cases[] = {
      {10048, "Socket Error # 10048\r\nAddress already in use."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10093, "Socket Error # 10093\r\nSuccessful WSAStartup not yet performed."},
      {11001, "Socket Error # 11001\r\nHost not found."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ESocketError(c.Code, SocketErrorDescription(c.Code)).Message(), c.Message);
  // A code outside the table gets the system's own text.
  const std::string other = SocketErrorDescription(5);
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(other.back(), '.');
  EXPECT_EQ(other.find('\r'), std::string::npos);
}

TEST(WinsockSockets, ReverseLookupRefusesWhatIsNoIPv4Address) {
  for (const char* text : {"", "host.example", "::1", "300.1.1.1"}) {
    try {
      ReverseLookup(text);
      ADD_FAILURE() << "looked up " << text;
    } catch (const ESocketError& error) {
      EXPECT_EQ(error.LastError(), kSocketErrorHostNotFound) << text;
    }
  }
}

TEST(WinsockSockets, AddressTextsAreReadStrictly) {
  const struct {
    const char* Text;
    bool Valid;
    TIPVersion Version;
  } cases[] = {
      {"10.0.0.1", true, TIPVersion::IPv4},
      {"::1", true, TIPVersion::IPv6},
      {"::ffff:10.0.0.1", true, TIPVersion::IPv6},
      {"fe80::1", true, TIPVersion::IPv6},
      {"localhost", false, {}},
      {"10.0.0.256", false, {}},
      {"", false, {}},
      {"10.0.0.1 ", false, {}},
  };
  for (const auto& c : cases) {
    TIPAddress address;
    EXPECT_EQ(ParseIPAddress(c.Text, address), c.Valid) << c.Text;
    if (c.Valid) {
      EXPECT_EQ(address.Version, c.Version) << c.Text;
    }
  }
  TIPAddress address;
  ASSERT_TRUE(ParseIPAddress("10.0.0.1", address));
  EXPECT_EQ(address.Bytes[0], 10);
  EXPECT_EQ(address.Bytes[3], 1);
}

}  // namespace
}  // namespace ormelin
