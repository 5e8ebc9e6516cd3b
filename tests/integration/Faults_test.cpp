// Faults injected into the real executables on loopback: clients that leave
// at every stage of a command, thousands of idle connections, a stop and a
// SIGTERM while transfers run, files and folders that vanish or cannot be
// read, broken configuration files and clients that send one byte a second.
// Every test ends its processes and files; every read has a time-out.
// Test label: long
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ClientProcess.h"
#include "support/Loopback.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::Eventually;
using test::Pattern;
using test::ReadFile;
using test::RunClient;
using test::TLoopbackClient;
using test::TProgramResult;
using test::TServerProcess;
using test::WriteFile;

// The process whose command line has `argument` among its arguments, or 0.
pid_t ProcessWithArgument(const std::string& argument) {
  std::error_code error;
  for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline(it->path() / "cmdline", std::ios::binary);
    for (std::string part; std::getline(cmdline, part, '\0');) {
      if (part == argument) return static_cast<pid_t>(std::stol(name));
    }
  }
  return 0;
}

// Entries of a /proc folder of the process: its threads or its descriptors.
size_t CountEntries(pid_t pid, const char* what) {
  std::error_code error;
  fs::directory_iterator it("/proc/" + std::to_string(pid) + "/" + what, error);
  if (error) return 0;
  return static_cast<size_t>(std::distance(it, fs::directory_iterator()));
}

// Root reads every file whatever its permission bits. Servers started after
// this call run without that override, so the bits count for them as for
// any other user (the test process keeps it, to clean up). False when the
// capabilities cannot be changed here.
bool LaterServersHonourPermissions() {
  if (geteuid() != 0) return true;
  return prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 &&
         prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0;
}

struct THttpReply {
  int Status = 0;
  std::string Body;
};

THttpReply Http(int port, const std::string& target) {
  TLoopbackClient client(port);
  client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
              "\r\n\r\n");
  const std::string raw = client.ReadUntilClose();
  THttpReply reply;
  if (raw.size() > 12) reply.Status = std::stoi(raw.substr(9, 3));
  const size_t end = raw.find("\r\n\r\n");
  if (end != std::string::npos) reply.Body = raw.substr(end + 4);
  return reply;
}

std::string Framed(std::string_view payload) {
  return std::to_string(payload.size()) + "\r\n" + std::string(payload);
}

// A server over one project folder, with its threads and descriptors counted
// when it is idle, so that a test can see every connection's end.
class Faults : public ::testing::Test {
 protected:
  void StartWith(const fs::path& root) {
    port_ = server_.StartWithProjects({{"Demo", root.string()}});
    ASSERT_TRUE(Eventually([&] { return CountEntries(server_.Pid(), "task") >= 3; }));
    {
      // The project's root folder is held open from its first GetFile on,
      // one handle for the server's life: it belongs to the idle count.
      TLoopbackClient first(port_);
      ASSERT_EQ(first.ReadLine(), "200 Ready");
      first.Send("GetFile Demo \\none\r\n");
      first.ReadLine();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // probes of the start end
    threads_ = CountEntries(server_.Pid(), "task");
    descriptors_ = CountEntries(server_.Pid(), "fd");
  }
  // Every connection thread has ended and every socket and file is closed.
  bool BackToIdle() {
    const bool idle = Eventually([&] {
      return CountEntries(server_.Pid(), "task") <= threads_ &&
             CountEntries(server_.Pid(), "fd") <= descriptors_;
    });
    if (!idle) {
      ADD_FAILURE() << CountEntries(server_.Pid(), "task") << " threads (idle " << threads_ << "), "
                    << CountEntries(server_.Pid(), "fd") << " descriptors (idle " << descriptors_
                    << ")";
    }
    return idle;
  }
  std::unique_ptr<TLoopbackClient> Connect() {
    auto client = std::make_unique<TLoopbackClient>(port_);
    EXPECT_EQ(client->ReadLine(), "200 Ready");
    return client;
  }
  // A whole Sync with the tree; the task list.
  std::string Sync(TLoopbackClient& client, const std::string& tree = "<tree></tree>") {
    client.Send("Sync Demo\r\n");
    EXPECT_EQ(client.ReadLine(), "202 Sync Started");
    client.Send(Framed(tree));
    return client.ReadExactly(std::stoul(client.ReadLine()));
  }
  std::string GetFile(TLoopbackClient& client, const std::string& path) {
    client.Send("GetFile Demo " + path + "\r\n");
    EXPECT_EQ(client.ReadLine(), "203 Get File Started");
    return client.ReadExactly(std::stoul(client.ReadLine()));
  }
  void ExpectServedNormally() {
    auto client = Connect();
    EXPECT_NE(Sync(*client).find("insert_file"), std::string::npos);
    EXPECT_EQ(GetFile(*client, "\\a.txt"), "alpha");
  }

  testing::TTempFolder temp_;
  fs::path root_ = fs::path(temp_.Path()) / "project";
  TServerProcess server_;
  int port_ = 0;
  size_t threads_ = 0;
  size_t descriptors_ = 0;
};

TEST_F(Faults, ClientsLeavingAtEveryStageEndOnlyTheirOwnConnection) {
  const std::string big = Pattern(8 << 20, 1);
  WriteFile(root_ / "a.txt", "alpha");
  WriteFile(root_ / "big.bin", big);
  StartWith(root_);
  struct TStage {
    const char* Name;
    std::string Sent;
    const char* Reply;  // awaited before `More`, or null
    std::string More;
    size_t ReadAfter;  // bytes read before leaving
  };
  const TStage stages[] = {
      {"command line", "Sync Dem", nullptr, "", 0},
      {"unread reply", "Hello\r\n", nullptr, "", 0},
      {"size line", "Sync Demo\r\n", "202 Sync Started", "12", 0},
      {"payload", "Sync Demo\r\n", "202 Sync Started", "100\r\n<tree><fi", 0},
      {"GetFile line", "GetFile Demo \\bi", nullptr, "", 0},
      {"GetFile payload", "GetFile Demo \\big.bin\r\n", "203 Get File Started", "", 1000},
  };
  for (const TStage& stage : stages) {
    for (bool reset : {false, true}) {
      SCOPED_TRACE(std::string(stage.Name) + (reset ? ", reset" : ", closed"));
      auto client = Connect();
      client->Send(stage.Sent);
      if (stage.Reply != nullptr) {
        ASSERT_EQ(client->ReadLine(), stage.Reply);
      }
      client->Send(stage.More);
      if (stage.ReadAfter > 0) client->ReadExactly(stage.ReadAfter);
      client->Close(reset);
      EXPECT_TRUE(BackToIdle());
      ASSERT_TRUE(server_.Running());
    }
  }
  ExpectServedNormally();
  EXPECT_EQ(server_.Stop(), 0);
  EXPECT_EQ(server_.Stderr(), "");
}

TEST_F(Faults, TwoThousandIdleConnectionsWhileAClientMirrors) {
  constexpr int kHeld = 2000;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const rlim_t wanted = 2 * kHeld + 256;
  if (limit.rlim_cur < wanted && limit.rlim_max >= wanted) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    setrlimit(RLIMIT_NOFILE, &raised);  // the server inherits it
  }
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < wanted) GTEST_SKIP() << "open-file limit " << limit.rlim_cur << " too low";

  WriteFile(root_ / "a.txt", "alpha");
  WriteFile(root_ / "mapa" / "b.bin", Pattern(3 << 20, 2));
  StartWith(root_);
  {
    std::vector<TLoopbackClient> held;
    held.reserve(kHeld);
    for (int i = 0; i < kHeld; ++i) {
      held.emplace_back(port_);
      ASSERT_EQ(held.back().ReadLine(), "200 Ready") << "connection " << i;
    }
    const fs::path copy = fs::path(temp_.Path()) / "copy";
    TProgramResult run =
        RunClient({"--port", std::to_string(port_), "127.0.0.1", "Demo", copy.string()});
    EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
    EXPECT_EQ(ReadFile(copy / "a.txt"), "alpha");
    EXPECT_TRUE(ReadFile(copy / "mapa" / "b.bin") == ReadFile(root_ / "mapa" / "b.bin"));
    EXPECT_EQ(Http(port_ + 1, "/").Status, 200);
    held.front().Send("Hello\r\n");  // the oldest is still served
    EXPECT_EQ(held.front().ReadLine(), "201 Ready");
  }
  EXPECT_TRUE(BackToIdle());
  ExpectServedNormally();
}

TEST_F(Faults, StopWhileFiftyClientsTransferEndsThemAllAndStartServesAgain) {
  constexpr int kClients = 50;
  const std::string big = Pattern(8 << 20, 3);
  WriteFile(root_ / "a.txt", "alpha");
  WriteFile(root_ / "big.bin", big);
  StartWith(root_);
  std::vector<std::unique_ptr<TLoopbackClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(Connect());
    clients.back()->Send("GetFile Demo \\big.bin\r\n");
    ASSERT_EQ(clients.back()->ReadLine(), "203 Get File Started");
    ASSERT_EQ(clients.back()->ReadLine(), std::to_string(big.size()));
    clients.back()->ReadExactly(1000);  // under way, the rest waits in the server
  }
  EXPECT_EQ(Http(port_ + 1, "/opcije?akcija=Zaustavi").Status, 302);  // after every thread ended
  EXPECT_TRUE(BackToIdle());
  for (auto& client : clients) {
    EXPECT_LT(client->ReadUntilClose().size() + 1000, big.size());
  }
  EXPECT_FALSE(test::TRawClient::CanConnect("127.0.0.1", port_));
  EXPECT_EQ(Http(port_ + 1, "/opcije?akcija=Pokreni").Status, 302);
  auto again = Connect();
  EXPECT_TRUE(GetFile(*again, "\\big.bin") == big);
  ExpectServedNormally();
}

TEST_F(Faults, AFileRemovedBetweenSyncAndGetFileFailsOnlyThatRequest) {
  WriteFile(root_ / "a.txt", "alpha");
  WriteFile(root_ / "gone.txt", "soon gone");
  StartWith(root_);
  auto client = Connect();
  ASSERT_NE(Sync(*client).find("<param>\\gone.txt,"), std::string::npos);
  fs::remove(root_ / "gone.txt");
  client->Send("GetFile Demo \\gone.txt\r\n");
  const std::string failure = client->ReadLine();
  EXPECT_EQ(failure.rfind("500-Cannot open file \"", 0), 0u) << failure;
  EXPECT_NE(failure.find("gone.txt\". "), std::string::npos) << failure;
  EXPECT_EQ(client->ReadLine(), "500 Better luck next time");
  EXPECT_TRUE(client->WaitClosed());
  EXPECT_TRUE(BackToIdle());
  ExpectServedNormally();
}

TEST_F(Faults, EntriesThatCannotBeReadAreLeftOutAndNeverHang) {
  const bool honoured = LaterServersHonourPermissions();
  WriteFile(root_ / "a.txt", "alpha");
  WriteFile(root_ /
                "zaklju\xC4\x8D"
                "ano" /
                "unutra.txt",
            "locked");
  fs::permissions(root_ /
                      "zaklju\xC4\x8D"
                      "ano",
                  fs::perms::none);
  WriteFile(root_ / "nije za \xC4\x8Ditanje.txt", "locked too");
  fs::permissions(root_ / "nije za \xC4\x8Ditanje.txt", fs::perms::none);
  fs::create_directory_symlink("petlja", root_ / "petlja");  // a link to itself
  fs::create_symlink("nigdje", root_ / "visi.txt");
  ASSERT_EQ(mkfifo((root_ / "cijev").c_str(), 0600), 0);
  StartWith(root_);

  auto client = Connect();
  const std::string tasks = Sync(*client);
  EXPECT_NE(tasks.find("<param>\\a.txt,"), std::string::npos) << tasks;
  EXPECT_NE(tasks.find("<param>\\zaklju\xE8"
                       "ano</param>"),
            std::string::npos)
      << tasks;
  for (const char* absent : {"unutra", "petlja", "visi", "cijev"}) {
    EXPECT_EQ(tasks.find(absent), std::string::npos) << absent << " in " << tasks;
  }
  // Asked for anyway: refused at once, never a read that waits for a writer.
  const std::string refused[] = {"\\cijev",
                                 "\\zaklju\xE8"
                                 "ano\\unutra.txt",
                                 "\\nije za \xE8itanje.txt", "\\petlja", "\\visi.txt"};
  for (const std::string& path : refused) {
    const bool byPermission =
        path.find("unutra") != std::string::npos || path.find("nije") != std::string::npos;
    if (byPermission && !honoured) continue;  // root would read it
    auto asker = Connect();
    asker->Send("GetFile Demo " + path + "\r\n");
    const std::string failure = asker->ReadLine();
    EXPECT_EQ(failure.rfind("500-Cannot open file \"", 0), 0u) << path << ": " << failure;
    EXPECT_EQ(asker->ReadLine(), "500 Better luck next time") << path;
    EXPECT_TRUE(asker->WaitClosed()) << path;
  }
  client.reset();
  EXPECT_TRUE(BackToIdle());

  const fs::path copy = fs::path(temp_.Path()) / "copy";
  TProgramResult run =
      RunClient({"--port", std::to_string(port_), "127.0.0.1", "Demo", copy.string()});
  EXPECT_EQ(ReadFile(copy / "a.txt"), "alpha") << run.Stderr;
  EXPECT_TRUE(fs::is_directory(copy / "zaklju\xC4\x8D"
                                      "ano"));
  EXPECT_FALSE(fs::exists(copy / "cijev"));
  if (honoured) {
    EXPECT_EQ(run.ExitCode, 1) << run.Stdout;  // the unreadable file is reported
    EXPECT_NE(run.Stderr.find("Permission denied"), std::string::npos) << run.Stderr;
  }
  fs::permissions(root_ /
                      "zaklju\xC4\x8D"
                      "ano",
                  fs::perms::owner_all);
  ExpectServedNormally();
}

TEST(FaultyConfiguration, UnreadableOrTruncatedFilesAreReportedAndTheProcessStops) {
  const bool honoured = LaterServersHonourPermissions();
  const int port = test::FreePortPair();
  const std::string whole = test::ConfigText(port, {{"Demo", "/tmp"}, {"Druga", "/tmp"}});
  struct TCase {
    const char* Name;
    std::function<void(const std::string& file)> Make;
    const char* Report;  // what the event-log sink shows, or null when it serves
  };
  const size_t portEnd = whole.find("</serversettings>");
  const TCase cases[] = {
      {"a pipe nobody writes", [](const std::string& file) { mkfifo(file.c_str(), 0600); },
       "ZevanOrmelinS: Cannot open file \""},
      {"no permission",
       [&](const std::string& file) {
         WriteFile(file, whole);
         fs::permissions(file, fs::perms::none);
       },
       honoured ? "ZevanOrmelinS: Cannot open file \"" : nullptr},
      {"cut inside the settings end",
       [&](const std::string& file) { WriteFile(file, whole.substr(0, portEnd + 5)); }, nullptr},
      {"cut inside a project name",
       [&](const std::string& file) { WriteFile(file, whole.substr(0, whole.find("Druga") + 2)); },
       nullptr},
      {"cut before the last end tag",
       [&](const std::string& file) { WriteFile(file, whole.substr(0, whole.size() - 5)); },
       nullptr},
      {"a stray end tag",
       [&](const std::string& file) {
         WriteFile(file, whole.substr(0, portEnd) + "</xml>\r\n</projects>");
       },
       "ZevanOrmelinS: Tag "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TServerProcess server;
    c.Make(server.Folder() + "/orServer.xml");
    server.Start();
    if (c.Report != nullptr) {
      EXPECT_TRUE(server.WaitForStderr(c.Report)) << server.Stderr();
      EXPECT_FALSE(test::TRawClient::CanConnect("127.0.0.1", port));
    } else {
      ASSERT_TRUE(server.WaitForPort(port)) << server.Stderr();
      TLoopbackClient client(port);
      EXPECT_EQ(client.ReadLine(), "200 Ready");
    }
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(server.Stop(), 0);
  }
}

TEST_F(Faults, ClientsSendingOneByteASecondHoldUpNobody) {
  WriteFile(root_ / "a.txt", "alpha");
  StartWith(root_);
  auto slowSync = Connect();
  TLoopbackClient slowConsole(port_ + 1);
  const std::string command = "Sync Demo\r\n13\r\n<tree></tree>";
  const std::string request = "GET /about.html HTTP/1.1\r\nHost: localhost\r\n\r\n";
  const size_t seconds = 6;  // bytes sent slowly; the rest follows at once
  for (size_t i = 0; i < seconds; ++i) {
    const auto next = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    slowSync->Send(command.substr(i, 1));
    slowConsole.Send(request.substr(i, 1));
    ExpectServedNormally();
    EXPECT_EQ(Http(port_ + 1, "/").Status, 200);
    std::this_thread::sleep_until(next);
  }
  slowSync->Send(command.substr(seconds));
  EXPECT_EQ(slowSync->ReadLine(), "202 Sync Started");
  EXPECT_NE(slowSync->ReadExactly(std::stoul(slowSync->ReadLine())).find("insert_file"),
            std::string::npos);
  slowConsole.Send(request.substr(seconds));
  EXPECT_EQ(slowConsole.ReadUntilClose().substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(Faults, TermDuringTransfersExitsCleanlyAndLeavesNoHalfWrittenFile) {
  constexpr int kFiles = 1500;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(root_ / ("mapa " + std::to_string(i % 10)) / ("datoteka " + std::to_string(i)),
              Pattern(20000 + 97 * static_cast<size_t>(i), static_cast<unsigned>(i)));
  }
  WriteFile(root_ / "a.txt", "alpha");
  StartWith(root_);
  const fs::path copy = fs::path(temp_.Path()) / "copy";
  TProgramResult run;
  std::thread client([&] {
    run = RunClient({"--port", std::to_string(port_), "--connections", "1", "--pipeline", "1", "-q",
                     "127.0.0.1", "Demo", copy.string()});
  });
  auto finished = [&] {
    std::error_code error;
    for (fs::recursive_directory_iterator it(copy, error), end; !error && it != end;
         it.increment(error)) {
      if (it->is_regular_file() && it->path().filename().string().rfind(".ormelin-", 0) != 0)
        return true;
    }
    return false;
  };
  const bool started = Eventually(finished);
  // The client is held while the server stops, so that the stop falls in
  // the middle of the run however fast the machine copies.
  const pid_t clientPid = started ? ProcessWithArgument(copy.string()) : 0;
  if (clientPid != 0) kill(clientPid, SIGSTOP);
  EXPECT_EQ(server_.Stop(), 0);  // SIGTERM in the middle of the run
  if (clientPid != 0) kill(clientPid, SIGCONT);
  client.join();
  ASSERT_TRUE(started);
  ASSERT_NE(clientPid, 0) << "the client ended before the server was stopped";
  EXPECT_EQ(server_.Stderr(), "");
  EXPECT_EQ(run.ExitCode, 1) << run.Stdout;
  int complete = 0;
  for (const auto& entry : fs::recursive_directory_iterator(copy)) {
    if (!entry.is_regular_file()) continue;
    EXPECT_NE(entry.path().filename().string().rfind(".ormelin-", 0), 0u) << entry.path();
    const fs::path original = root_ / fs::relative(entry.path(), copy);
    EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(original)) << entry.path();
    ++complete;
  }
  EXPECT_GT(complete, 0);
  EXPECT_LT(complete, kFiles + 1);
}

}  // namespace
}  // namespace ormelin
