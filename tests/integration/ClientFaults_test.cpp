// ormelin-client when things go wrong around it: a server that stops
// answering at any point of a run, as a stopped process or a vanished host
// does (before accepting, before its greeting, in the middle of a file), and
// a disk that fills while a file is written. Each run must end with a message
// that says what happened, exit code 1, the old files as they were and no
// temporary file; the next run completes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
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
using test::Entries;
using test::Pattern;
using test::ReadFile;
using test::RunClient;
using test::TProgramResult;
using test::TServerProcess;
using test::WriteFile;

// The start of every time-out message, in UTF-8.
std::string Stalled(int port, int seconds) {
  return "Poslu\xC5\xBEitelj 127.0.0.1:" + std::to_string(port) + " ne odgovara ve\xC4\x87 " +
         std::to_string(seconds) +
         " s; \xC4\x8D"
         "eka se ";
}

// A server on loopback that stops answering: every connection it accepts
// gets its script (the last one for all later connections) and then nothing
// more, held open until the server goes. Without scripts it accepts nothing
// and keeps its queue of pending connections full, so that connecting to it
// is never answered.
class TStallingServer {
 public:
  explicit TStallingServer(std::vector<std::string> scripts) : scripts_(std::move(scripts)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, scripts_.empty() ? 0 : 16) != 0) {
      throw std::runtime_error("cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (scripts_.empty()) {
      // One connection never accepted fills a queue of length 0; the
      // system drops the handshakes that come after it.
      filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot fill the queue");
      }
    } else {
      thread_ = std::thread([this] { Serve(); });
    }
  }
  ~TStallingServer() {
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    for (int client : held_) close(client);
    if (filler_ >= 0) close(filler_);
    close(listener_);
  }
  int Port() const { return port_; }

 private:
  void Serve() {
    for (size_t i = 0;; ++i) {
      const int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      held_.push_back(client);
      const std::string& script = scripts_[std::min(i, scripts_.size() - 1)];
      // A few hundred bytes: the socket buffer takes them at once.
      if (send(client, script.data(), script.size(), MSG_NOSIGNAL) < 0) return;
    }
  }

  std::vector<std::string> scripts_;
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
  std::vector<int> held_;  // the serving thread's until it has ended
  std::thread thread_;
};

std::string Framed(const std::string& payload) {
  return std::to_string(payload.size()) + "\r\n" + payload;
}

// Greeting, "Hello" and "Sync" answered; the task list updates \b.txt, then
// adds the other files.
std::string Synced(const std::vector<std::string>& added) {
  const std::string time = ",&quot;2010-05-06 07-08-10&quot;</param>\r\n</task>";
  std::string tasks = "<xml>\r\n<task>update_file\r\n<param>\\b.txt" + time;
  for (const std::string& name : added) tasks += "\r\n<task>insert_file\r\n<param>\\" + name + time;
  tasks += "\r\n</xml>";
  return "200 Ready\r\n201 Ready\r\n202 Sync Started\r\n" + Framed(tasks);
}

// The first file stops after 10 of its 1000 bytes.
const std::string kFileCut = "203 Get File Started\r\n1000\r\n0123456789";

TEST(ClientTimeout, EveryWaitEndsWithTheServerAndWhatWasAwaitedAndLeavesTheFolderAsItWas) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Scripts;
    const char* Connections;
    const char* Pipeline;
    std::string Awaited;
  };
  const TCase cases[] = {
      {"connecting", {}, "1", "32", "uspostava veze"},
      {"greeting", {""}, "1", "32", "pozdrav"},
      {"reply", {"200 Ready\r\n"}, "1", "32", "odgovor na 'Hello'"},
      {"task list",
       {"200 Ready\r\n201 Ready\r\n202 Sync Started\r\n500\r\n<xml>"},
       "1",
       "32",
       "popis zadataka (stiglo 5 od 500 bajtova)"},
      {"file, pipelined",
       {Synced({"a.txt"}) + kFileCut},
       "1",
       "32",
       "datoteka '\\b.txt' (stiglo 10 od 1000 bajtova)"},
      {"file, one by one",
       {Synced({"a.txt"}) + kFileCut},
       "1",
       "1",
       "datoteka '\\b.txt' (stiglo 10 od 1000 bajtova)"},
      // Two files on each connection; the second gets its greeting and no
      // reply. Whichever stalls first ends the run.
      {"files on two connections",
       {Synced({"a.txt", "c.txt", "d.txt"}) + kFileCut, "200 Ready\r\n"},
       "2",
       "2",
       ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    testing::TTempFolder temp;
    const fs::path folder = fs::path(temp.Path()) / "kopija";
    WriteFile(folder / "b.txt", "old b");
    const auto oldTime = fs::last_write_time(folder / "b.txt");
    TStallingServer server(c.Scripts);
    const TProgramResult run =
        RunClient({"--timeout", "1", "--port", std::to_string(server.Port()), "--connections",
                   c.Connections, "--pipeline", c.Pipeline, "127.0.0.1", "P", folder.string()},
                  120000);
    EXPECT_FALSE(run.TimedOut);
    EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
    EXPECT_NE(run.Stderr.find(Stalled(server.Port(), 1) + c.Awaited), std::string::npos)
        << run.Stderr;
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"b.txt"});  // no temporary file
    EXPECT_EQ(ReadFile(folder / "b.txt"), "old b");
    EXPECT_EQ(fs::last_write_time(folder / "b.txt"), oldTime);
  }
}

// A tmpfs of the given size mounted on `path` while the object lives.
class TSmallDisk {
 public:
  TSmallDisk(const fs::path& path, const std::string& size) : path_(path) {
    fs::create_directories(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~TSmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  bool Resize(const std::string& size) {
    return mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT, ("size=" + size).c_str()) == 0;
  }

 private:
  fs::path path_;
  bool mounted_ = false;
};

// The client's files may not grow past 1 MiB. SIGXFSZ keeps its default
// action: the client has to turn it into an error itself.
void LimitFileSize() {
  const rlimit limit{1 << 20, 1 << 20};
  setrlimit(RLIMIT_FSIZE, &limit);
}

// Mirrors a project with two files of 3 MiB (one of them newer than the
// copy in the folder) and a small one into `folder`, first where no file
// above 1 MiB fits (`room(false)`, and `limit` on the client), then again
// after `room(true)`; once through each way of fetching.
void MirrorOntoAFullDisk(const fs::path& folder, const std::string& reason,
                         const std::function<void(bool)>& room, test::TChildSetup limit) {
  testing::TTempFolder temp;
  const fs::path root = fs::path(temp.Path()) / "projekt";
  const auto now = fs::file_time_type::clock::now();
  WriteFile(root / "velika.bin", Pattern(3 << 20, 1));
  WriteFile(root / "nova.bin", Pattern(3 << 20, 2));
  WriteFile(root / "mala.txt", "mala");
  fs::last_write_time(root / "velika.bin", now - std::chrono::hours(1));
  TServerProcess server;
  const int port = server.StartWithProjects({{"Demo", root.string()}});

  for (const char* pipeline : {"32", "1"}) {
    SCOPED_TRACE(std::string("--pipeline ") + pipeline);
    fs::remove_all(folder);
    room(false);
    const std::string old = Pattern(200 << 10, 3);
    WriteFile(folder / "velika.bin", old);
    const auto oldTime = now - std::chrono::hours(48);
    fs::last_write_time(folder / "velika.bin", oldTime);
    const std::vector<std::string> arguments = {"--pipeline",         pipeline,    "--port",
                                                std::to_string(port), "127.0.0.1", "Demo",
                                                folder.string()};
    const TProgramResult full = RunClient(arguments, 240000, limit);
    EXPECT_EQ(full.ExitCode, 1) << full.Stderr;
    for (const char* name : {"velika.bin", "nova.bin"}) {
      EXPECT_NE(full.Stderr.find(std::string(name) + "\". " + reason), std::string::npos)
          << full.Stderr;
    }
    EXPECT_EQ(ReadFile(folder / "velika.bin"), old);
    EXPECT_EQ(fs::last_write_time(folder / "velika.bin"), oldTime);
    for (const std::string& name : Entries(folder)) {
      EXPECT_TRUE(name == "velika.bin" || name == "mala.txt") << name;
    }

    room(true);
    const TProgramResult roomy = RunClient(arguments);
    EXPECT_EQ(roomy.ExitCode, 0) << roomy.Stderr;
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{"mala.txt", "nova.bin", "velika.bin"}));
    for (const char* name : {"velika.bin", "nova.bin", "mala.txt"}) {
      EXPECT_TRUE(ReadFile(folder / name) == ReadFile(root / name)) << name;
    }
  }
}

TEST(ClientFullDisk, NoSpaceLeftKeepsTheOldFileLeavesNoTemporaryFileAndTheNextRunCompletes) {
  testing::TTempFolder temp;
  const fs::path mountPoint = fs::path(temp.Path()) / "disk";
  TSmallDisk disk(mountPoint, "1m");
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  MirrorOntoAFullDisk(
      mountPoint / "kopija", "No space left on device",
      [&](bool room) { ASSERT_TRUE(disk.Resize(room ? "64m" : "1m")); }, nullptr);
}

TEST(ClientFullDisk, AFileSizeLimitKeepsTheOldFileLeavesNoTemporaryFileAndTheNextRunCompletes) {
  testing::TTempFolder temp;
  MirrorOntoAFullDisk(
      fs::path(temp.Path()) / "kopija", "File too large", [](bool) {}, LimitFileSize);
}

}  // namespace
}  // namespace ormelin
