// The client behind a plain round-robin balancer of the test's own: each new
// connection goes to the next server in turn, a killed one included (as a
// balancer does before its health check has marked it down; its connection
// is then closed at once). A server killed in the middle of a mirror costs
// retries, not files; with every server gone the run gives up within its
// time-out.
// Every process started here is ended when the test ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ClientProcess.h"
#include "support/Relay.h"
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
using test::TRelay;
using test::TServerProcess;
using test::WriteFile;

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
    std::atomic<int64_t> firstBytes{0};
    TRelay relay({firstPort, secondPort}, [&](const TRelay::TServerPiece& piece) {
      if (piece.Target == 0 && (firstBytes += piece.Size) >= (4 << 20) && !killed.exchange(true))
        kill(first.Pid(), SIGKILL);
      return true;
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
