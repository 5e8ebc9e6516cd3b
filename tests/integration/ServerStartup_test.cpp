// Start-up and the process frame of the real executable: configuration
// failures and a taken port reported to the event-log sink with the service
// still running, the signals that end, pause and continue it, and the exit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/ServerProcess.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ConfigText;
using test::FreePortPair;
using test::TRawClient;
using test::TServerProcess;

TEST(ServerStartup, AMalformedConfigurationIsReportedAndNothingListens) {
  TServerProcess server;
  int port = FreePortPair();
  server.WriteConfig("<xml><serversettings><defaultport>" + std::to_string(port) +
                     "</defaultport></serversettings></x>\r\n");
  server.Start();
  ASSERT_TRUE(
      server.WaitForStderr("ZevanOrmelinS: Tag xml zavr\x9A"
                           "ava na tag /x\n"))
      << server.Stderr();
  EXPECT_TRUE(server.Running());
  EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port));
  EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port + 1));
  EXPECT_EQ(server.Stop(), 0);
}

TEST(ServerStartup, ATakenPortLeavesBothListenersInactiveAndTheProcessRunning) {
  int port = FreePortPair();
  // Another program listens on the port (on loopback only).
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);

  TServerProcess server;
  server.WriteConfig(ConfigText(port, {{"Demo", server.Folder()}}));
  server.Start();
  EXPECT_TRUE(server.WaitForStderr(
      "ZevanOrmelinS: Could not bind socket. Address and port are already in use.\n"))
      << server.Stderr();
  EXPECT_TRUE(server.Running());
  EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port + 1));  // the console never started
  close(holder);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(ServerStartup, WithoutAConfigurationItServesOnTheDefaultPortsWithNoProjects) {
  if (fs::exists("/etc/zevan/ormelin/orServer.xml")) {
    GTEST_SKIP() << "this machine has a configuration of its own";
  }
  if (TRawClient::CanConnect("127.0.0.1", 1974) || TRawClient::CanConnect("127.0.0.1", 1975)) {
    GTEST_SKIP() << "ports 1974 and 1975 are in use on this machine";
  }
  TServerProcess server;
  ASSERT_TRUE(server.StartAndWait(1974)) << server.Stderr();
  EXPECT_TRUE(server.WaitForPort(1975));
  TRawClient client(1974);
  EXPECT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("Sync Demo\r\n");
  EXPECT_EQ(client.ReadLine(), "401 Project 'Demo' does not exist\r\n");
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_FALSE(fs::exists(server.Folder() + "/orServer.xml"));  // never written at start
}

TEST(ServerStartup, HangUpPauseAndContinueLeaveItServingAndTermEndsItCleanly) {
  TServerProcess server;
  int port = server.StartWithProjects({{"Demo", server.Folder()}});
  TRawClient idle(port);  // a connection still open when the stop comes
  ASSERT_EQ(idle.ReadLine(), "200 Ready\r\n");
  for (int signal : {SIGHUP, SIGUSR1, SIGUSR2}) {
    kill(server.Pid(), signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(server.Running()) << signal;
    TRawClient client(port);
    EXPECT_EQ(client.ReadLine(), "200 Ready\r\n") << signal;
    EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port + 1)) << signal;
  }
  EXPECT_EQ(server.Stop(), 0);
  EXPECT_TRUE(idle.WaitClosed());
  EXPECT_EQ(server.Stderr(), "");
}

TEST(ServerStartup, InterruptEndsItCleanlyAndOtherArgumentsAreIgnored) {
  TServerProcess server;
  int port = FreePortPair();
  server.WriteConfig(ConfigText(port, {}));
  server.Start({"foreground", "--verbose"});
  ASSERT_TRUE(server.WaitForPort(port)) << server.Stderr();
  kill(server.Pid(), SIGINT);
  EXPECT_EQ(server.Wait(), 0);
}

}  // namespace
}  // namespace ormelin
