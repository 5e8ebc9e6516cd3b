// ormelin-client against the real server on loopback, and against a scripted
// server that sends what no real server would: the mirror is byte-identical
// with equal times, a second run transfers nothing, newer server files are
// updated, client changes stay, and hostile or failing tasks touch nothing
// outside the folder and stop nothing else.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "platform/DateTime.h"
#include "platform/Paths.h"
#include "support/ClientProcess.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RunClient;
using test::TProgramResult;
using test::TServerProcess;
using test::WriteFile;

void SetTime(const fs::path& path, fs::file_time_type time) {
  fs::last_write_time(path, time);
}

// Every file of a folder as the server's scan sees it: path -> time, and the
// set of folders.
struct TScan {
  std::map<std::string, TDateTime> Files;
  std::map<std::string, bool> Folders;
};

TScan Scan(const fs::path& folder) {
  TDirectory root;
  TLoader::LoadFromDisk(Utf8ToCp1250(folder.string()), &root);
  TScan scan;
  std::vector<const TDirectory*> pending{&root};
  while (!pending.empty()) {
    const TDirectory* current = pending.back();
    pending.pop_back();
    for (int i = 0; i < current->FileCount(); ++i) {
      scan.Files[current->GetFile(i)->GetFullPath()] = current->GetFile(i)->DateModified();
    }
    for (int i = 0; i < current->DirectoryCount(); ++i) {
      scan.Folders[current->GetDirectory(i)->GetFullPath()] = true;
      pending.push_back(current->GetDirectory(i));
    }
  }
  return scan;
}

// Same entries, same times, same bytes.
void ExpectMirror(const fs::path& server, const fs::path& client) {
  TScan a = Scan(server);
  TScan b = Scan(client);
  EXPECT_EQ(a.Folders, b.Folders);
  ASSERT_EQ(a.Files.size(), b.Files.size());
  for (const auto& [path, time] : a.Files) {
    ASSERT_TRUE(b.Files.count(path)) << path;
    EXPECT_EQ(b.Files[path], time) << path;
  }
  for (const auto& entry : fs::recursive_directory_iterator(server)) {
    if (!entry.is_regular_file()) continue;
    fs::path mirrored = client / fs::relative(entry.path(), server);
    EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(mirrored)) << mirrored;
  }
}

// The generated project: nested folders, blanks, apostrophes, ampersands,
// double quotes and Croatian letters in names (UTF-8 on disk), empty files
// and folders, hidden entries, many small files and one large one.
void GenerateTree(const fs::path& root) {
  auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  WriteFile(root / "prazna.txt", "");
  WriteFile(root / "Dokumenti i slike" / "Ivan's & Ana's" / "pismo \"hitno\".txt",
            "Dragi Ivane,\r\n");
  WriteFile(root / "Dokumenti i slike" / "prazno", "");
  WriteFile(
      root / "\xC4\x8C\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91 \xC4\x8C\xC4\x86\xC5\xBD\xC5\xA0\xC4\x90" /
          "duboko" / "jo\xC5\xA1 dublje" / "bilje\xC5\xA1ka.txt",
      "\xC4\x8D\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91");
  WriteFile(root / ".skriveno" / ".tajna", "x");
  fs::create_directories(root / "prazna mapa");
  for (int i = 0; i < 150; ++i) {
    WriteFile(root / "mnogo" / ("datoteka " + std::to_string(i) + ".txt"),
              std::string(i * 37, 'a' + i % 26));
  }
  std::string big(40 * 1024 * 1024 + 123, '\0');
  uint32_t state = 12345;
  for (char& c : big) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 23);
  }
  WriteFile(root / "velika datoteka.bin", big);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file())
      SetTime(entry.path(), old + std::chrono::seconds(entry.path().string().size()));
  }
}

class Mirror : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TServerProcess();
    big_ = fs::path(server_->Folder()) / "veliki";
    small_ = fs::path(server_->Folder()) / "mali";
    GenerateTree(big_);
    WriteFile(small_ / "a.txt", "server a");
    WriteFile(small_ / "mapa" / "b.txt", "server b");
    for (const char* name : {"a.txt", "mapa/b.txt"}) {
      SetTime(small_ / name, fs::file_time_type::clock::now() - std::chrono::hours(48));
    }
    port_ = server_->StartWithProjects({{"Veliki", big_.string()}, {"Mali", small_.string()}});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  TProgramResult Client(const std::string& project, const fs::path& folder,
                        std::vector<std::string> options = {}) {
    options.insert(options.end(),
                   {"--port", std::to_string(port_), "127.0.0.1", project, folder.string()});
    return RunClient(options);
  }

  static TServerProcess* server_;
  static fs::path big_;
  static fs::path small_;
  static int port_;
  testing::TTempFolder temp_;
};

TServerProcess* Mirror::server_ = nullptr;
fs::path Mirror::big_;
fs::path Mirror::small_;
int Mirror::port_ = 0;

const char* const kAlreadyLevel =
    "Mapa je ve\xC4\x87 uskla\xC4\x91"
    "ena";

TEST_F(Mirror, GeneratedTreeIsMirroredExactlyAndTheSecondRunTransfersNothing) {
  fs::path folder = fs::path(temp_.Path()) / "nova" / "kopija";  // created with its parent
  TProgramResult first = Client("veliki", folder);
  ASSERT_EQ(first.ExitCode, 0) << first.Stderr;
  EXPECT_EQ(first.Stderr, "");  // no terminal: no progress
  EXPECT_NE(first.Stdout.find("Gotovo: datoteka 156/156"), std::string::npos) << first.Stdout;
  ExpectMirror(big_, folder);
  EXPECT_TRUE(fs::is_directory(folder / "prazna mapa"));

  TProgramResult second = Client("Veliki", folder);
  EXPECT_EQ(second.ExitCode, 0) << second.Stderr;
  EXPECT_NE(second.Stdout.find(kAlreadyLevel), std::string::npos) << second.Stdout;
}

TEST_F(Mirror, OneRequestAtATimeThroughTheTaskCommandsGivesTheSameMirror) {
  fs::path folder = fs::path(temp_.Path()) / "jedan";
  TProgramResult run = Client("Veliki", folder, {"--pipeline", "1", "--quiet"});
  ASSERT_EQ(run.ExitCode, 0) << run.Stderr;
  EXPECT_EQ(run.Stdout, "");
  ExpectMirror(big_, folder);
}

// Where the system makes no unnamed files, new files take the way of
// updates (temporary file, time, rename); where a file cannot be named
// through its own handle, it is named through /proc. Either way the same
// mirror, with nothing left over.
TEST_F(Mirror, WithoutUnnamedFilesOrHandleLinksTheSameMirrorComesThrough) {
  struct {
    const char* name;
    const char* preload;
  } systems[] = {{"no-unnamed", ORMELIN_REFUSE_UNNAMED_FILES},
                 {"no-handle-links", ORMELIN_REFUSE_EMPTY_PATH_LINKS}};
  for (const auto& system : systems) {
    for (const char* pipeline : {"32", "1"}) {
      const std::string label = std::string(system.name) + "-" + pipeline;
      const fs::path folder = fs::path(temp_.Path()) / label;
      const fs::path mark = fs::path(temp_.Path()) / (label + ".refused");
      // Under AddressSanitizer the preload comes before the sanitizer's
      // runtime, which it then has to accept.
      const char* sanitizer = std::getenv("ASAN_OPTIONS");
      TProgramResult run = test::RunProgram(
          "/usr/bin/env",
          {std::string("LD_PRELOAD=") + system.preload,
           std::string("ASAN_OPTIONS=") + (sanitizer != nullptr ? sanitizer : "") +
               ":verify_asan_link_order=0",
           "ORMELIN_REFUSED_MARK=" + mark.string(), ORMELIN_BIN_DIR "/ormelin-client", "--pipeline",
           pipeline, "--quiet", "--port", std::to_string(port_), "127.0.0.1", "Veliki",
           folder.string()});
      ASSERT_EQ(run.ExitCode, 0) << label << run.Stderr;
      EXPECT_TRUE(fs::exists(mark)) << label << ": the refusal was never met";
      ExpectMirror(big_, folder);
      for (const auto& entry : fs::recursive_directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string().rfind(".ormelin-", 0), 0u)
            << "left behind: " << entry.path();
    }
  }
}

TEST_F(Mirror, NewerServerFilesAreUpdatedAndClientChangesStay) {
  fs::path folder = fs::path(temp_.Path()) / "mali";
  ASSERT_EQ(Client("Mali", folder).ExitCode, 0);
  const auto now = fs::file_time_type::clock::now();
  WriteFile(small_ / "a.txt", "server a, newer");
  SetTime(small_ / "a.txt", now - std::chrono::hours(1));
  WriteFile(folder / "mapa" / "b.txt", "client b, newer");
  SetTime(folder / "mapa" / "b.txt", now);
  WriteFile(folder / "samo klijent.txt", "mine");
  fs::create_directories(folder / "moja mapa");

  TProgramResult dry = Client("Mali", folder, {"--dry-run"});
  EXPECT_EQ(dry.ExitCode, 0) << dry.Stderr;
  EXPECT_NE(dry.Stdout.find("novija datoteka \\a.txt"), std::string::npos) << dry.Stdout;
  EXPECT_EQ(ReadFile(folder / "a.txt"), "server a");

  TProgramResult run = Client("Mali", folder);
  EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
  EXPECT_EQ(ReadFile(folder / "a.txt"), "server a, newer");
  EXPECT_EQ(Scan(folder).Files["\\a.txt"], Scan(small_).Files["\\a.txt"]);
  EXPECT_EQ(ReadFile(folder / "mapa" / "b.txt"), "client b, newer");
  EXPECT_EQ(ReadFile(folder / "samo klijent.txt"), "mine");
  EXPECT_TRUE(fs::is_directory(folder / "moja mapa"));
  EXPECT_NE(Client("Mali", folder).Stdout.find(kAlreadyLevel), std::string::npos);
}

TEST_F(Mirror, RefusalsAndUsageErrorsHaveTheirExitCodes) {
  fs::path folder = fs::path(temp_.Path()) / "nikad";
  TProgramResult unknown = Client("Nepostoje\xC4\x87i", folder);
  EXPECT_EQ(unknown.ExitCode, 1);
  EXPECT_NE(unknown.Stderr.find("401 Project 'Nepostoje\xC4\x87i' does not exist"),
            std::string::npos)
      << unknown.Stderr;
  EXPECT_FALSE(fs::exists(folder));

  TProgramResult dry = Client("Mali", folder, {"-n"});
  EXPECT_EQ(dry.ExitCode, 0) << dry.Stderr;
  EXPECT_FALSE(fs::exists(folder));

  for (std::vector<std::string> arguments : {std::vector<std::string>{},
                                             {"127.0.0.1", "Mali"},
                                             {"--port", "0", "h", "p", "f"},
                                             {"--port"},
                                             {"--bogus", "h", "p", "f"},
                                             {"h", "two words", "f"}}) {
    TProgramResult usage = RunClient(arguments);
    EXPECT_EQ(usage.ExitCode, 2) << usage.Stderr;
    EXPECT_NE(usage.Stderr.find("--help"), std::string::npos);
  }
  EXPECT_EQ(RunClient({"--help"}).ExitCode, 0);
  EXPECT_EQ(RunClient({"--version"}).Stdout.rfind("ormelin-client ", 0), 0u);
}

// A server on loopback that answers the protocol from a script: its task
// list, and GetFile answers by path (a missing path: the 500 pair, after
// which it closes the connection as the real server does).
class TScriptedServer {
 public:
  // With `splitAt`, the task list stops after that many bytes until a
  // second connection comes, which is closed before its greeting; with
  // `cutOnce` as well, the first list is cut off there instead, closing.
  TScriptedServer(std::string taskList, std::map<std::string, std::string> files,
                  size_t splitAt = 0, bool cutOnce = false)
      : taskList_(std::move(taskList)),
        files_(std::move(files)),
        splitAt_(splitAt),
        cutOnce_(cutOnce) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 8) != 0) {
      throw std::runtime_error("cannot listen");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TScriptedServer() {
    stop_ = true;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  int Port() const { return port_; }
  int Connections() const { return connections_; }
  bool RefusedWhileListed() const { return refusedWhileListed_; }
  int FilesAsked() const { return filesAsked_; }

 private:
  void Serve() {
    while (!stop_) {
      int client = accept(listener_, nullptr, nullptr);
      if (client < 0) return;
      ++connections_;
      timeval timeout{30, 0};
      setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      try {
        Converse(client);
      } catch (const std::exception&) {
      }
      close(client);
    }
  }
  void Send(int client, std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("send");
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  std::string ReadLine(int client) {
    for (;;) {
      size_t lf = buffer_.find('\n');
      if (lf != std::string::npos) {
        std::string line = buffer_.substr(0, lf);
        buffer_.erase(0, lf + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      char chunk[4096];
      ssize_t n = recv(client, chunk, sizeof chunk, 0);
      if (n <= 0) throw std::runtime_error("closed");
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }
  void Converse(int client) {
    buffer_.clear();
    Send(client, "200 Ready\r\n");
    for (;;) {
      std::string line = ReadLine(client);
      if (line.rfind("Hello", 0) == 0) {
        Send(client, "201 Ready\r\n");
      } else if (line.rfind("Sync ", 0) == 0) {
        Send(client, "202 Sync Started\r\n");
        size_t size = std::stoul(ReadLine(client));
        while (buffer_.size() < size) {
          char chunk[4096];
          ssize_t n = recv(client, chunk, sizeof chunk, 0);
          if (n <= 0) throw std::runtime_error("closed");
          buffer_.append(chunk, static_cast<size_t>(n));
        }
        buffer_.erase(0, size);
        Send(client, std::to_string(taskList_.size()) + "\r\n");
        if (splitAt_ > 0 && cutOnce_) {
          Send(client, std::string_view(taskList_).substr(0, splitAt_));
          splitAt_ = 0;  // the next list comes whole
          return;
        }
        if (splitAt_ > 0) {
          Send(client, std::string_view(taskList_).substr(0, splitAt_));
          pollfd waiting{listener_, POLLIN, 0};
          if (poll(&waiting, 1, 20000) == 1) {
            close(accept(listener_, nullptr, nullptr));
            refusedWhileListed_ = true;
          }
        }
        Send(client, std::string_view(taskList_).substr(splitAt_));
      } else if (line.rfind("GetFile P ", 0) == 0) {
        ++filesAsked_;
        auto file = files_.find(line.substr(10));
        if (file == files_.end()) {
          Send(client, "500-Cannot open file \"" + line.substr(10) +
                           "\". No such file\r\n"
                           "500 Better luck next time\r\n");
          shutdown(client, SHUT_WR);
          while (ReadAny(client)) {
          }
          return;
        }
        if (file->second.rfind("SHORT:", 0) == 0) {  // announces more than it sends
          Send(client, "203 Get File Started\r\n1000\r\n" + file->second);
          shutdown(client, SHUT_WR);
          while (ReadAny(client)) {
          }
          return;
        }
        Send(client, "203 Get File Started\r\n" + std::to_string(file->second.size()) + "\r\n" +
                         file->second);
      } else {
        Send(client, "400 Unknown Command\r\n");
      }
    }
  }
  bool ReadAny(int client) {
    char chunk[4096];
    return recv(client, chunk, sizeof chunk, 0) > 0;
  }

  std::string taskList_;
  std::map<std::string, std::string> files_;
  size_t splitAt_ = 0;
  bool cutOnce_ = false;
  std::atomic<bool> refusedWhileListed_{false};
  std::atomic<int> filesAsked_{0};
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::string buffer_;
};

std::string TaskListXML(const std::vector<std::pair<std::string, std::string>>& tasks) {
  std::string xml = "<xml>";
  for (const auto& [name, param] : tasks)
    xml += "\r\n<task>" + name + "\r\n<param>" + param + "</param>\r\n</task>";
  return xml + "\r\n</xml>";
}

TEST(MirrorFromAScriptedServer, HostileAndFailingTasksAreReportedAndTheRestIsDone) {
  testing::TTempFolder temp;
  fs::path folder = fs::path(temp.Path()) / "kopija";
  WriteFile(folder / "postoji.txt", "keep");
  const std::string time = ",&quot;2010-05-06 07-08-10&quot;";
  // A parameter longer than the blocks the client packs its tasks into.
  const std::string longPath = "\\" + std::string(70000, 'd');
  TScriptedServer server(TaskListXML({{"delete_file", longPath},
                                      {"insert_dir", "\\..\\izvan"},
                                      {"insert_file", "\\..\\izvan.txt" + time},
                                      {"insert_file", "\\izvan\\..\\..\\izvan.txt" + time},
                                      {"delete_file", "\\postoji.txt"},
                                      {"delete_dir", "\\"},
                                      {"rename_file", "\\postoji.txt"},
                                      {"insert_dir", "\\nova"},
                                      {"insert_file", "\\a.txt" + time},
                                      {"insert_file", "\\nova\\b.txt" + time},
                                      {"insert_file", "\\nova\\c.txt"},
                                      {"insert_file", "\\nova\\kratka.txt" + time},
                                      {"update_file", "\\nema.txt" + time}}),
                         {{"\\..\\izvan.txt", "evil"},
                          {"\\nova\\b.txt", "bbb"},
                          {"\\nova\\c.txt", "ccc"},
                          {"\\nova\\kratka.txt", "SHORT:cut off"}});
  for (const char* pipeline : {"32", "1"}) {
    SCOPED_TRACE(pipeline);
    TProgramResult run = RunClient({"--port", std::to_string(server.Port()), "--connections", "1",
                                    "--pipeline", pipeline, "127.0.0.1", "P", folder.string()});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(ReadFile(folder / "nova" / "b.txt"), "bbb");
    EXPECT_EQ(ReadFile(folder / "nova" / "c.txt"), "ccc");
    EXPECT_EQ(Scan(folder / "nova").Files["\\b.txt"], EncodeDateTime(2010, 5, 6, 7, 8, 10));
    EXPECT_EQ(ReadFile(folder / "postoji.txt"), "keep");
    EXPECT_FALSE(fs::exists(folder / "a.txt"));
    EXPECT_FALSE(fs::exists(folder / "nema.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "nova"), {}), 2);  // no cut file
    EXPECT_FALSE(fs::exists(fs::path(temp.Path()) / "izvan"));
    EXPECT_FALSE(fs::exists(fs::path(temp.Path()) / "izvan.txt"));
    EXPECT_NE(run.Stderr.find("Neuspjelo '\\a.txt': Cannot open file \"\\a.txt\". No such file"),
              std::string::npos)
        << run.Stderr;
    EXPECT_NE(run.Stderr.find("Neuspjelo '\\nema.txt': Brisanje"), std::string::npos) << run.Stderr;
    EXPECT_NE(run.Stderr.find("Neuspjelo '\\..\\izvan': Putanja zadatka"), std::string::npos);
    EXPECT_NE(run.Stderr.find("Class rename_file not found"), std::string::npos);
    EXPECT_NE(run.Stderr.find("ni\xC5\xA1ta ne bri\xC5\xA1"
                              "e"),
              std::string::npos);
    EXPECT_NE(run.Stderr.find("Neuspjelo '\\nova\\kratka.txt': Veza je prekinuta nakon 13 od 1000"),
              std::string::npos)
        << run.Stderr;
    EXPECT_NE(run.Stderr.find("Neuspjelo '" + longPath + "': Zadatak 'delete_file'"),
              std::string::npos);
    EXPECT_NE(run.Stdout.find("neuspjelih zadataka: 10"), std::string::npos) << run.Stdout;
    fs::remove_all(folder / "nova");
  }
  EXPECT_GE(server.Connections(), 4);  // a new connection after each 500
}

// 400 files with long names: 100 KB of task list.
std::pair<std::string, std::map<std::string, std::string>> LongList() {
  std::vector<std::pair<std::string, std::string>> tasks;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 400; ++i) {
    const std::string path = "\\" + std::string(200, 'a') + std::to_string(i);
    tasks.emplace_back("insert_file", path + ",&quot;2010-05-06 07-08-10&quot;");
    files[path] = std::to_string(i);
  }
  return {TaskListXML(tasks), files};
}

// The client acts on the task list as it comes: the fetcher's second
// connection is opened while the rest of the list is still awaited. The
// server refuses that connection, and every file still comes, through the
// retry.
TEST(MirrorFromAScriptedServer, ConnectionsOpenWhileTheListComesAndARefusalCostsNothing) {
  testing::TTempFolder temp;
  fs::path folder = fs::path(temp.Path()) / "kopija";
  const auto [list, files] = LongList();
  TScriptedServer server(list, files, list.size() * 3 / 4);
  TProgramResult run = RunClient({"--port", std::to_string(server.Port()), "--connections", "2",
                                  "127.0.0.1", "P", folder.string()});
  EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
  EXPECT_TRUE(server.RefusedWhileListed());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 400);
  EXPECT_EQ(ReadFile(folder / (std::string(200, 'a') + "399")), "399");
}

// A list cut off after its first tasks have been acted on: the list of the
// next connection names them again, and each file is still fetched once.
TEST(MirrorFromAScriptedServer, AListCutOffIsReadAgainWithoutTheTasksAlreadyUnderWay) {
  testing::TTempFolder temp;
  fs::path folder = fs::path(temp.Path()) / "kopija";
  const auto [list, files] = LongList();
  TScriptedServer server(list, files, list.size() * 3 / 4, true);
  TProgramResult run = RunClient({"--port", std::to_string(server.Port()), "--connections", "1",
                                  "127.0.0.1", "P", folder.string()});
  EXPECT_EQ(run.ExitCode, 0) << run.Stderr;
  EXPECT_NE(run.Stderr.find("novi poku"), std::string::npos) << run.Stderr;
  EXPECT_EQ(server.FilesAsked(), 400);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 400);
  EXPECT_NE(run.Stdout.find("datoteka 400/400"), std::string::npos) << run.Stdout;
}

}  // namespace
}  // namespace ormelin
