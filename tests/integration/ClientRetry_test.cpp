// The client behind a plain round-robin balancer of the test's own: each new
// connection goes to the next server in turn, a killed one included (as a
// balancer does before its health check has marked it down; its connection
// is then closed at once). A server killed in the middle of a mirror costs
// retries, not files; with every server gone the run gives up within its
// time-out.
// Every process started here is ended when the test ends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ClientProcess.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::Pattern;
using test::ReadFile;
using test::RunClient;
using test::TProgramResult;
using test::TServerProcess;
using test::WriteFile;

// Listens on a loopback port of its own and pipes each accepted connection
// to the next of `ports` in turn; a server that refuses gets the connection
// closed. `onBytes` sees the running count of bytes that came from the first
// server.
class TRelay {
 public:
  TRelay(std::vector<int> ports, std::function<void(int64_t)> onBytes = {})
      : ports_(std::move(ports)), onBytes_(std::move(onBytes)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener_, 64);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~TRelay() {
    stopping_ = true;
    acceptor_.join();
    std::lock_guard<std::mutex> guard(lock_);
    for (int handle : handles_) shutdown(handle, SHUT_RDWR);
    for (std::thread& pump : pumps_) pump.join();
    for (int handle : handles_) close(handle);
    close(listener_);
  }
  int Port() const { return port_; }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  void Accept() {
    for (size_t next = 0; !stopping_;) {
      pollfd ready{listener_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      const size_t target = next++ % ports_.size();
      const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in address = Loopback(ports_[target]);
      if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(server);
        close(client);
        continue;
      }
      std::lock_guard<std::mutex> guard(lock_);
      handles_.insert(handles_.end(), {client, server});
      pumps_.emplace_back([this, client, server] { Pump(client, server, false); });
      pumps_.emplace_back([this, client, server, target] { Pump(server, client, target == 0); });
    }
  }
  // Copies until either side ends, then ends both.
  void Pump(int from, int to, bool counted) {
    char buffer[65536];
    for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;) {
      if (write(to, buffer, static_cast<size_t>(got)) != got) break;
      if (counted && onBytes_) onBytes_(firstBytes_ += got);
    }
    shutdown(from, SHUT_RDWR);
    shutdown(to, SHUT_RDWR);
  }

  const std::vector<int> ports_;
  const std::function<void(int64_t)> onBytes_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> firstBytes_{0};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<int> handles_;
  std::vector<std::thread> pumps_;
};

TEST(ClientRetry, AMirrorOutlivesAServerKilledMidTransfer) {
  // The pipelined fetcher, and the task commands one at a time.
  for (const char* mode : {"--connections=2", "--pipeline=1"}) {
    SCOPED_TRACE(mode);
    testing::TTempFolder temp;
    const fs::path root = fs::path(temp.Path()) / "project";
    const fs::path copy = fs::path(temp.Path()) / "copy";
    // With two connections each takes a window of files at once, the one
    // that starts first the larger share; whichever of them is on the first
    // server still has megabytes to come when that server dies, so its
    // files must come from retries.
    for (int i = 0; i < 24; ++i) {
      WriteFile(root / ("a " + std::to_string(100 + i)),
                Pattern(1 << 20, static_cast<unsigned>(i)));
      WriteFile(root / ("b " + std::to_string(100 + i)),
                Pattern((1 << 20) + 4000 + i, static_cast<unsigned>(i)));
    }
    TServerProcess first, second;
    const int firstPort = first.StartWithProjects({{"Demo", root.string()}});
    const int secondPort = second.StartWithProjects({{"Demo", root.string()}});
    std::atomic<bool> killed{false};
    TRelay relay({firstPort, secondPort}, [&](int64_t bytes) {
      if (bytes >= (4 << 20) && !killed.exchange(true)) kill(first.Pid(), SIGKILL);
    });

    TProgramResult run =
        RunClient({"-q", mode, "--timeout", "20", "--port", std::to_string(relay.Port()),
                   "127.0.0.1", "Demo", copy.string()});
    ASSERT_TRUE(killed) << run.Stderr;
    EXPECT_EQ(first.Wait(), 128 + SIGKILL);
    EXPECT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
    EXPECT_NE(run.Stderr.find("novi poku"), std::string::npos) << run.Stderr;
    int equal = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
      EXPECT_TRUE(ReadFile(copy / entry.path().filename()) == ReadFile(entry.path()))
          << entry.path();
      ++equal;
    }
    EXPECT_EQ(equal, 48);
    int mirrored = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(copy)) ++mirrored;
    EXPECT_EQ(mirrored, 48) << "nothing half-written stays";
  }
}

TEST(ClientRetry, EveryServerGoneEndsTheRunWithinTheTimeOut) {
  testing::TTempFolder temp;
  // Two ports nobody listens on any more: the relay accepts, then closes.
  int ports[2];
  for (int& port : ports) {
    TServerProcess server;
    port = server.StartWithProjects({{"Demo", temp.Path()}});
    server.Stop();
  }
  TRelay relay({ports[0], ports[1]});
  const auto start = std::chrono::steady_clock::now();
  TProgramResult run =
      RunClient({"-q", "--timeout", "4", "--retries", "20", "--port", std::to_string(relay.Port()),
                 "127.0.0.1", "Demo", temp.Path() + "/copy"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
  EXPECT_NE(run.Stderr.find("novi poku"), std::string::npos) << run.Stderr;
  // The bound is 4 s; the margin is for a loaded machine.
  EXPECT_LT(took, std::chrono::seconds(30)) << run.Stderr;
  EXPECT_FALSE(fs::exists(temp.Path() + "/copy"));
}

}  // namespace
}  // namespace ormelin
