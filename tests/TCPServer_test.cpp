#include "net/TCPServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "support/Loopback.h"

namespace ormelin {
namespace {

using test::TLoopbackClient;

// Waits (without a fixed expectation of speed) until the condition holds.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A line server like the synchronisation listener: greets, then answers
// each line; the peer's close ends the connection silently.
class TEchoServer {
 public:
  TEchoServer()
      : server([](TContext& c) { c.Connection().WriteLine("200 Ready"); },
               [this](TContext& c) {
                 try {
                   const std::string line = c.Connection().ReadLine();
                   ++lines;
                   if (line == "fail") throw Exception("failed");
                   if (onLine) onLine(line);
                   c.Connection().WriteLine("echo " + line);
                 } catch (const ESilentException&) {
                 }
               }) {
    server.SetDefaultPort(0);
    server.SetActive(true);
  }
  int Port() const { return server.Bindings().at(0).Port; }

  std::function<void(const std::string&)> onLine;
  std::atomic<int> lines{0};
  TTCPServer server;
};

TEST(TTCPServer, GreetsAndReadsOneCommandPerExecute) {
  TEchoServer echo;
  TLoopbackClient client(echo.Port());
  EXPECT_EQ(client.ReadLine(), "200 Ready");
  client.Send("Hello\nHello there\r\n");  // two commands in one packet
  EXPECT_EQ(client.ReadLine(), "echo Hello");
  EXPECT_EQ(client.ReadLine(), "echo Hello there");
  client.Send("partial");
  client.ShutdownWrite();
  EXPECT_EQ(client.ReadUntilClose(), "");  // the partial line is dropped silently
  EXPECT_TRUE(Eventually([&] { return echo.server.ContextCount() == 0; }));
  EXPECT_EQ(echo.lines.load(), 2);
}

TEST(TTCPServer, AnEscapingErrorEndsOnlyItsConnection) {
  TEchoServer echo;
  TLoopbackClient first(echo.Port());
  TLoopbackClient second(echo.Port());
  EXPECT_EQ(first.ReadLine(), "200 Ready");
  EXPECT_EQ(second.ReadLine(), "200 Ready");
  first.Send("fail\n");
  EXPECT_TRUE(first.WaitClosed());
  second.Send("still here\n");
  EXPECT_EQ(second.ReadLine(), "echo still here");
}

TEST(TTCPServer, ListensOnBothAddressFamiliesAtOnePort) {
  TEchoServer echo;
  const auto bindings = echo.server.Bindings();
  ASSERT_FALSE(bindings.empty());
  EXPECT_EQ(bindings[0].IPVersion, TIPVersion::IPv4);
  EXPECT_EQ(bindings[0].IP, "0.0.0.0");
  if (!IPv6Available()) GTEST_SKIP() << "no IPv6 on this machine";
  ASSERT_EQ(bindings.size(), 2u);
  EXPECT_EQ(bindings[1].IPVersion, TIPVersion::IPv6);
  EXPECT_EQ(bindings[1].IP, "::");
  EXPECT_EQ(bindings[1].Port, bindings[0].Port);
  std::unique_ptr<TLoopbackClient> client;
  try {
    client = std::make_unique<TLoopbackClient>(echo.Port(), true);
  } catch (const std::runtime_error& error) {
    GTEST_SKIP() << "no IPv6 loopback: " << error.what();
  }
  EXPECT_EQ(client->ReadLine(), "200 Ready");
}

TEST(TTCPServer, ATakenPortCannotBeBound) {
  TEchoServer first;
  TTCPServer second({}, {});
  second.SetDefaultPort(first.Port());
  try {
    second.SetActive(true);
    ADD_FAILURE() << "a taken port was bound";
  } catch (const ECouldNotBindSocket& error) {
    EXPECT_EQ(std::string(error.what()),
              "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(second.Active());
  TLoopbackClient client(first.Port());
  EXPECT_EQ(client.ReadLine(), "200 Ready");
}

TEST(TTCPServer, DeactivationClosesEveryConnectionAndKeepsThePort) {
  TEchoServer echo;
  const int port = echo.Port();
  std::vector<TLoopbackClient> clients;
  for (int i = 0; i < 3; ++i) {
    clients.emplace_back(port);
    EXPECT_EQ(clients.back().ReadLine(), "200 Ready");
  }
  echo.server.SetDefaultPort(1);  // bindings exist: no effect any more
  echo.server.SetActive(false);
  EXPECT_EQ(echo.server.ContextCount(), 0u);
  for (TLoopbackClient& client : clients) EXPECT_TRUE(client.WaitClosed());
  EXPECT_THROW(TLoopbackClient refused(port), std::runtime_error);

  echo.server.SetActive(true);
  EXPECT_EQ(echo.Port(), port);
  TLoopbackClient again(port);
  EXPECT_EQ(again.ReadLine(), "200 Ready");
}

TEST(TTCPServer, DeactivationFromAConnectionOfAnotherServerAndOfItsOwn) {
  TEchoServer target;
  TEchoServer console;
  console.onLine = [&](const std::string& line) {
    if (line == "stop other") target.server.SetActive(false);
  };
  target.onLine = [&](const std::string& line) {
    if (line == "stop self") target.server.SetActive(false);
  };
  TLoopbackClient held(target.Port());
  EXPECT_EQ(held.ReadLine(), "200 Ready");
  TLoopbackClient control(console.Port());
  EXPECT_EQ(control.ReadLine(), "200 Ready");
  control.Send("stop other\n");
  EXPECT_EQ(control.ReadLine(), "echo stop other");
  EXPECT_FALSE(target.server.Active());
  EXPECT_TRUE(held.WaitClosed());

  target.server.SetActive(true);
  TLoopbackClient self(target.Port());
  EXPECT_EQ(self.ReadLine(), "200 Ready");
  self.Send("stop self\n");
  EXPECT_TRUE(self.WaitClosed());
  EXPECT_TRUE(
      Eventually([&] { return !target.server.Active() && target.server.ContextCount() == 0; }));
}

TEST(TTCPServer, AThreadWhoseConnectionEndedServesTheNextAndEndsWithTheServer) {
  std::mutex mutex;
  std::vector<std::thread::id> served;
  auto server = std::make_unique<TTCPServer>(
      [&](TContext& c) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          served.push_back(std::this_thread::get_id());
        }
        c.Connection().WriteLine("200 Ready");
        c.Connection().Disconnect();
      },
      nullptr);
  server->SetDefaultPort(0);
  server->SetActive(true);
  const int port = server->Bindings().at(0).Port;
  for (int i = 0; i < 2; ++i) {
    TLoopbackClient client(port);
    EXPECT_EQ(client.ReadLine(), "200 Ready");
    ASSERT_TRUE(Eventually([&] { return server->IdleThreadCount() == 1; }));
  }
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[0], served[1]);
  // The idle thread is ended and waited for: it must not touch the server
  // once it is gone (the sanitizer builds see to that).
  server.reset();
}

// A server whose first connection thread cannot be created.
class TStarvedServer : public TTCPServer {
 public:
  using TTCPServer::TTCPServer;
  ~TStarvedServer() override { StopAndWait(); }
  std::atomic<int> refusals{1};

 protected:
  void StartConnectionThread(std::function<void()> body) override {
    if (refusals-- > 0) throw EThreadError("no thread");
    TTCPServer::StartConnectionThread(std::move(body));
  }
};

TEST(TTCPServer, AConnectionWithoutAThreadIsClosedAndTheListenerGoesOn) {
  TStarvedServer server([](TContext& c) { c.Connection().WriteLine("200 Ready"); },
                        [](TContext& c) {
                          try {
                            c.Connection().ReadLine();
                          } catch (const ESilentException&) {
                          }
                        });
  server.SetDefaultPort(0);
  server.SetActive(true);
  const int port = server.Bindings().at(0).Port;
  TLoopbackClient refused(port);
  EXPECT_EQ(refused.ReadUntilClose(), "");
  TLoopbackClient served(port);
  EXPECT_EQ(served.ReadLine(), "200 Ready");
  EXPECT_EQ(server.ContextCount(), 1u);
}

TEST(TTCPServer, HoldsTwoThousandConnectionsAndStillGreets) {
  constexpr int kHeld = 2000;
  const int before = OpenFileLimit();
  const int limit = RaiseOpenFileLimit(2 * kHeld + 64);
  struct TRestore {
    int value;
    ~TRestore() { SetOpenFileLimit(value); }
  } restore{before};
  if (limit < 2 * kHeld + 32) GTEST_SKIP() << "open-file limit " << limit << " too low";

  TEchoServer echo;
  {
    std::vector<TLoopbackClient> held;
    held.reserve(kHeld);
    for (int i = 0; i < kHeld; ++i) {
      held.emplace_back(echo.Port());
      ASSERT_EQ(held.back().ReadLine(), "200 Ready") << "connection " << i;
    }
    EXPECT_EQ(echo.server.ContextCount(), static_cast<size_t>(kHeld));
    TLoopbackClient further(echo.Port());
    EXPECT_EQ(further.ReadLine(), "200 Ready");
    further.Send("Hello\n");
    EXPECT_EQ(further.ReadLine(), "echo Hello");
  }
  EXPECT_TRUE(Eventually([&] { return echo.server.ContextCount() == 0; }));
}

}  // namespace
}  // namespace ormelin
