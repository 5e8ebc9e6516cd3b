// The service module in-process: configuration load and save, the state
// transitions of the console's actions, and the event-log messages of the
// protocol, which the console shows and a test of the executable cannot see.
#include "server/usvOrmelinS.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "comparer/orXMLParser.h"
#include "net/HTTPServer.h"
#include "net/TCPServer.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "reference/DiffList.h"
#include "support/ChildCheck.h"
#include "support/ModuleOnLoopback.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ConfigText;
using test::Entries;
using test::LogTexts;
using test::ReadFile;
using test::TRawClient;
using test::WriteFile;

// Whether an entry of the log is `text`, exactly.
bool LogHolds(TZevanOrmelinS& module, const std::string& text) {
  for (const std::string& entry : LogTexts(module)) {
    if (entry == text) return true;
  }
  return false;
}

class ModuleSettings : public ::testing::Test {
 protected:
  std::string ConfigPath() const { return folder_.Path() + "/orServer.xml"; }
  testing::TTempFolder folder_;
};

struct TPortCase {
  const char* Text;
  int Port;
};

TEST_F(ModuleSettings, DefaultPortTextsAndTheConsolePortBesideIt) {
  const TPortCase cases[] = {{"2000", 2000}, {" 2000 ", 2000}, {"abc", 1974},
                             {"", 1974},     {"20x", 1974},    {"-1", -1}};
  for (const TPortCase& c : cases) {
    WriteFile(ConfigPath(), std::string("<xml><serversettings><defaultport>") + c.Text +
                                "</defaultport></serversettings></xml>");
    TZevanOrmelinS module(ConfigPath());
    module.LoadSettings();
    EXPECT_EQ(module.SyncPort(), c.Port) << c.Text;
    EXPECT_EQ(module.ConsolePort(), c.Port + 1) << c.Text;
  }
}

TEST_F(ModuleSettings, MissingFileGivesTheDefaultsAndIsNotCreated) {
  TZevanOrmelinS module(ConfigPath());
  module.LoadSettings();
  EXPECT_EQ(module.SyncPort(), 1974);
  EXPECT_EQ(module.ConsolePort(), 1975);
  EXPECT_EQ(module.Projects().Count(), 0);
  EXPECT_FALSE(fs::exists(ConfigPath()));
  std::vector<std::string> expected = {"Lociranje konfiguracijske datoteke",
                                       "Dohvat postavki spajanja", "Dohvat projekata"};
  EXPECT_EQ(LogTexts(module), expected);
}

TEST_F(ModuleSettings, ProjectsSkipBlankEntriesAndElementNamesIgnoreCase) {
  WriteFile(ConfigPath(),
            "<XML>\r\n<ServerSettings><DEFAULTPORT>2100</DEFAULTPORT></ServerSettings>\r\n"
            "<Projects>\r\n"
            "<Project><NAME> Docs </NAME><Path>/srv/docs</Path></Project>\r\n"
            "<project><name>   </name><path>/srv/blank</path></project>\r\n"
            "<project><name>NoPath</name></project>\r\n"
            "<project><name>A &amp; B</name><path>/srv/a&amp;b</path><extra>x</extra></project>\r\n"
            "<project><name>docs</name><path>/srv/second</path></project>\r\n"
            "</Projects>\r\n</XML>\r\n");
  TZevanOrmelinS module(ConfigPath());
  module.LoadSettings();
  EXPECT_EQ(module.SyncPort(), 2100);
  ASSERT_EQ(module.Projects().Count(), 3);
  EXPECT_EQ(module.Projects().Items(0).Name, "Docs");
  EXPECT_EQ(module.Projects().Items(1).Name, "A & B");
  EXPECT_EQ(module.Projects().Items(1).Path, "/srv/a&b");
  TorProject found;
  ASSERT_TRUE(module.FindProject("DOCS", found));
  EXPECT_EQ(found.Path, "/srv/docs");
  EXPECT_TRUE(LogHolds(module, "Dohvat projekta Docs"));
  EXPECT_FALSE(LogHolds(module, "Dohvat projekta NoPath"));
}

TEST_F(ModuleSettings, ADeclarationEnclosesTheRestSoNothingIsFound) {
  WriteFile(ConfigPath(),
            "<?xml version=\"1.0\"?>\r\n<xml><serversettings><defaultport>2000</defaultport>"
            "</serversettings><projects><project><name>a</name><path>/a</path></project>"
            "</projects></xml>\r\n");
  TZevanOrmelinS module(ConfigPath());
  module.LoadSettings();
  EXPECT_EQ(module.SyncPort(), 1974);
  EXPECT_EQ(module.Projects().Count(), 0);
}

TEST_F(ModuleSettings, AMalformedFileFailsTheLoadAfterItsFirstMessages) {
  WriteFile(ConfigPath(), "<xml><serversettings></xml>");
  TZevanOrmelinS module(ConfigPath());
  try {
    module.LoadSettings();
    ADD_FAILURE() << "loaded";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(),
              "Tag serversettings zavr\x9A"
              "ava na tag /xml");
  }
  EXPECT_TRUE(LogHolds(module, "Dohvat postavki iz " + ConfigPath()));
}

TEST_F(ModuleSettings, SaveWritesTheElevenLinesAndReadsBack) {
  TZevanOrmelinS module(ConfigPath());
  module.SetSyncPort(1974);
  module.Projects().Add("Docs", "D:\\Data\\Docs");
  TMutexLock lock(module.SettingsLock);
  module.SaveSettings();
  EXPECT_EQ(ReadFile(ConfigPath()),
            "<xml>\r\n<serversettings>\r\n<defaultport>1974</defaultport>\r\n"
            "</serversettings>\r\n<projects>\r\n<project>\r\n<name>Docs</name>\r\n"
            "<path>D:\\Data\\Docs</path>\r\n</project>\r\n</projects>\r\n</xml>\r\n");
  EXPECT_EQ(Entries(folder_.Path()), std::vector<std::string>{"orServer.xml"});

  TZevanOrmelinS reader(ConfigPath());
  reader.LoadSettings();
  ASSERT_EQ(reader.Projects().Count(), 1);
  EXPECT_EQ(reader.Projects().Items(0).Path, "D:\\Data\\Docs");
}

TEST_F(ModuleSettings, TheConsoleAllowListIsReadAnyCaseAndWrittenBackWhenPresent) {
  WriteFile(
      ConfigPath(),
      "<xml><SERVERSETTINGS><defaultport>1974</defaultport>"
      "<ConsoleAllow> 127.0.0.0/8  bogus ::1 </ConsoleAllow>"
      "<ConsoleHosts> Mirror.Example. \tkonzola </ConsoleHosts></SERVERSETTINGS>"
      "<projects><project><name>Docs</name><path>/srv/docs</path></project></projects></xml>");
  TZevanOrmelinS module(ConfigPath());
  module.LoadSettings();
  EXPECT_TRUE(module.ConsoleAnswersTo("mirror.EXAMPLE:1975"));
  EXPECT_TRUE(module.ConsoleAnswersTo("konzola."));
  EXPECT_FALSE(module.ConsoleAnswersTo("example"));
  EXPECT_TRUE(module.MayChangeRoot("127.0.0.2"));
  EXPECT_TRUE(module.MayChangeRoot("::1"));
  EXPECT_FALSE(module.MayChangeRoot("10.0.0.1"));
  EXPECT_TRUE(LogHolds(module, "Neispravna adresa u consoleallow, zanemarena: bogus"));
  {
    TMutexLock lock(module.SettingsLock);
    module.SaveSettings();
  }
  EXPECT_EQ(ReadFile(ConfigPath()),
            "<xml>\r\n<serversettings>\r\n<defaultport>1974</defaultport>\r\n"
            "<consoleallow>127.0.0.0/8  bogus ::1</consoleallow>\r\n"
            "<consolehosts>Mirror.Example. \tkonzola</consolehosts>\r\n"
            "</serversettings>\r\n<projects>\r\n<project>\r\n<name>Docs</name>\r\n"
            "<path>/srv/docs</path>\r\n</project>\r\n</projects>\r\n</xml>\r\n");

  // Without the element only the local machine may move the root.
  WriteFile(ConfigPath(), "<xml></xml>");
  module.LoadSettings();
  EXPECT_TRUE(module.MayChangeRoot("127.0.0.1"));
  EXPECT_TRUE(module.MayChangeRoot("::1"));
  EXPECT_FALSE(module.MayChangeRoot("127.0.0.2"));
  EXPECT_FALSE(module.ConsoleAnswersTo("mirror.example"));
  // An element that allows nothing valid allows nothing at all.
  WriteFile(ConfigPath(),
            "<xml><serversettings><consoleallow>*</consoleallow></serversettings></xml>");
  module.LoadSettings();
  EXPECT_FALSE(module.MayChangeRoot("127.0.0.1"));
}

TEST_F(ModuleSettings, SaveWithoutProjectsLeavesTheProjectsOut) {
  TZevanOrmelinS module(ConfigPath());
  module.SetSyncPort(2000);
  TMutexLock lock(module.SettingsLock);
  module.SaveSettings();
  EXPECT_EQ(ReadFile(ConfigPath()),
            "<xml>\r\n<serversettings>\r\n<defaultport>2000</defaultport>\r\n"
            "</serversettings>\r\n</xml>\r\n");
}

TEST_F(ModuleSettings, SaveLogsItsStepsInTheSystemsOwnWords) {
  TZevanOrmelinS module(ConfigPath());
  TMutexLock lock(module.SettingsLock);
  module.SaveSettings();
  // "Snimajne" is the system's own spelling of the second entry, not a slip
  // to correct: the console shows it as it stands.
  const std::vector<std::string> texts = LogTexts(module);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()),
            (std::vector<std::string>{"Snimanje postavki", "Snimajne postavki spajanja",
                                      "Snimanje projekata"}));
}

TEST_F(ModuleSettings, SaveWritesThroughTheAdministratorsLinkAndKeepsModeAndOwner) {
  fs::create_directory(folder_.Path() + "/admin");
  const std::string target = folder_.Path() + "/admin/orServer.xml";
  WriteFile(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0600), 0);
  const bool root = geteuid() == 0;  // only root may give a file to another owner
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 4321, 4322), 0);
  }
  fs::create_symlink("admin/orServer.xml", ConfigPath());

  TZevanOrmelinS module(ConfigPath());
  module.SetSyncPort(2000);
  TMutexLock lock(module.SettingsLock);
  module.SaveSettings();
  EXPECT_TRUE(fs::is_symlink(ConfigPath()));
  EXPECT_EQ(fs::read_symlink(ConfigPath()), "admin/orServer.xml");
  EXPECT_EQ(ReadFile(target),
            "<xml>\r\n<serversettings>\r\n<defaultport>2000</defaultport>\r\n"
            "</serversettings>\r\n</xml>\r\n");
  struct stat info {};
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
  if (root) {
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
  }
  EXPECT_EQ(Entries(folder_.Path() + "/admin"), std::vector<std::string>{"orServer.xml"});
}

TEST_F(ModuleSettings, TheSharedFileIsNamedInThePlatformsFormAlsoWhenASaveFails) {
  if (fs::exists(ExecutableFolder() + "orServer.xml")) GTEST_SKIP() << "a file beside the tests";
  TZevanOrmelinS module;
  EXPECT_EQ(module.ConfigFileName(), "/etc/zevan/ormelin/orServer.xml");
  // An installed server's own configuration is never written by a test.
  if (fs::exists("/etc/zevan/ormelin")) return;
  try {
    TMutexLock lock(module.SettingsLock);
    module.SaveSettings();
    ADD_FAILURE() << "saved";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message(),
              "Cannot create file \"/etc/zevan/ormelin/orServer.xml\". No such file or directory");
  }
}

// Runs in a child process: fills the disk under `folder` and saves. The
// disk is a tiny file system of the child's own where the machine lets it
// mount one (really full), otherwise a limit on the size of files. Returns
// what went wrong, empty when nothing did.
std::string SaveOnAFullDisk(const std::string& folder) {
  const bool tmpfs = unshare(CLONE_NEWNS) == 0 &&
                     mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                     mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16k") == 0;
  const std::string config = folder + "/orServer.xml";
  const std::string old = ConfigText(1974, {{"Docs", "/srv/docs"}});
  WriteFile(config, old);
  if (tmpfs) {
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size()) && filler.flush()) {
    }
  } else {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &limit);
  }

  std::string problems;
  {
    TZevanOrmelinS module(config);
    module.Projects().Add("Docs", "/srv/a root folder whose line passes the limit");
    try {
      TMutexLock lock(module.SettingsLock);
      module.SaveSettings();
      problems += "saved; ";
    } catch (const EFCreateError& error) {
      const std::string reason = tmpfs ? "No space left on device" : "File too large";
      if (error.Message() != "Cannot create file \"" + config + "\". " + reason) {
        problems += error.Message() + "; ";
      }
    }
  }
  if (ReadFile(config) != old) problems += "the old file changed; ";
  for (const std::string& name : Entries(folder)) {
    if (name != "orServer.xml" && name != "filler") problems += "left behind: " + name + "; ";
  }
  return problems;
}

TEST_F(ModuleSettings, AFullDiskFailsTheSaveClearlyAndKeepsTheOldFile) {
  const std::string disk = folder_.Path() + "/disk";
  fs::create_directory(disk);
  const std::string problems = test::ProblemsFoundInAChild([&] { return SaveOnAFullDisk(disk); });
  EXPECT_EQ(problems, "");
}

TEST_F(ModuleSettings, AFolderThatCannotBeWrittenKeepsTheOldFile) {
  std::string locked = folder_.Path() + "/locked";
  fs::create_directory(locked);
  std::string config = locked + "/orServer.xml";
  WriteFile(config, "old");
  chmod(locked.c_str(), 0555);
  TZevanOrmelinS module(config);
  module.Projects().Add("Docs", "/srv/docs");
  bool writable = access(locked.c_str(), W_OK) == 0;  // root writes anywhere
  if (!writable) {
    try {
      TMutexLock lock(module.SettingsLock);
      module.SaveSettings();
      ADD_FAILURE() << "saved";
    } catch (const EFCreateError& error) {
      EXPECT_EQ(error.Message().rfind("Cannot create file \"" + config + "\". ", 0), 0u)
          << error.Message();
    }
    EXPECT_EQ(ReadFile(config), "old");
  }
  chmod(locked.c_str(), 0755);

  TZevanOrmelinS missing(folder_.Path() + "/no/such/folder/orServer.xml");
  try {
    TMutexLock lock(missing.SettingsLock);
    missing.SaveSettings();
    ADD_FAILURE() << "saved into a missing folder";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message().rfind(
                  "Cannot create file \"" + folder_.Path() + "/no/such/folder/orServer.xml\". ", 0),
              0u)
        << error.Message();
  }
}

TEST_F(ModuleSettings, APortBeyondSixteenBitsIsRefusedNotCutToAnotherPort) {
  WriteFile(ConfigPath(), ConfigText(70000, {}));  // 70000 would be cut to 4464
  TZevanOrmelinS module(ConfigPath());
  module.ServiceCreate();
  EXPECT_EQ(module.State(), ssInitializing);
  EXPECT_FALSE(module.SyncListenerActive());
  EXPECT_EQ(module.ListeningSyncPort(), 0);
  EXPECT_TRUE(LogHolds(module, "Dohvat projekata"));  // the log keeps what came before
}

// A module running on loopback ports the test picked.
class RunningModule : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(folder_.Path() + "/project");
    fs::create_directory(folder_.Path() + "/project/sub");
    WriteFile(folder_.Path() + "/project/a.txt", "alpha");
    const std::string project = folder_.Path() + "/project";
    module_ = test::StartModule(
        folder_.Path(),
        [&project](int port) {
          return ConfigText(port, {{"Demo", project}});
        },
        port_);
    ASSERT_NE(module_, nullptr) << "no module could start";
  }

  testing::TTempFolder folder_;
  int port_ = 0;
  std::unique_ptr<TZevanOrmelinS> module_;
};

TEST_F(RunningModule, StopAndStartOnlyFromTheirStatesAndOnTheSamePort) {
  TMutexLock lock(module_->SettingsLock);
  module_->StartServer();  // ready: nothing happens
  EXPECT_FALSE(LogHolds(*module_, "Server pokrenut"));
  module_->StopServer();
  EXPECT_EQ(module_->State(), ssStopped);
  EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port_));
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_ + 1));  // the console stays
  size_t logged = LogTexts(*module_).size();
  module_->StopServer();  // stopped: nothing happens
  EXPECT_EQ(LogTexts(*module_).size(), logged);
  module_->StartServer();
  EXPECT_EQ(module_->State(), ssReady);
  std::vector<std::string> texts = LogTexts(*module_);
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Server zaustavljen");
  EXPECT_EQ(texts.back(), "Server pokrenut");
  TRawClient client(port_);
  EXPECT_EQ(client.ReadLine(), "200 Ready\r\n");
}

TEST_F(RunningModule, ANewPortIsShownAtOnceButListenedOnOnlyAfterARestart) {
  TMutexLock lock(module_->SettingsLock);
  module_->SetSyncPort(port_ + 100);
  EXPECT_EQ(module_->SyncPort(), port_ + 100);
  EXPECT_EQ(module_->ConsolePort(), port_ + 101);
  module_->StopServer();
  module_->StartServer();
  EXPECT_EQ(module_->ListeningSyncPort(), port_);
  EXPECT_EQ(module_->ListeningConsolePort(), port_ + 1);
  TRawClient client(port_);
  EXPECT_EQ(client.ReadLine(), "200 Ready\r\n");
}

TEST_F(RunningModule, StopWhileAClientIsMidTransferClosesItAndWaitsForIt) {
  // A file far larger than the socket buffers, so the sender blocks.
  std::string big(32 * 1024 * 1024, 'x');
  WriteFile(folder_.Path() + "/project/big.bin", big);
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("GetFile Demo \\big.bin\r\n");
  ASSERT_EQ(client.ReadLine(), "203 Get File Started\r\n");
  ASSERT_EQ(client.ReadLine(), std::to_string(big.size()) + "\r\n");
  std::string first = client.ReadExactly(1024);  // the transfer is under way

  {
    TMutexLock lock(module_->SettingsLock);
    module_->StopServer();  // returns only after the connection's thread has ended
  }
  EXPECT_EQ(module_->State(), ssStopped);
  std::string rest = client.ReadUntilClose();
  EXPECT_LT(first.size() + rest.size(), big.size());

  {
    TMutexLock lock(module_->SettingsLock);
    module_->StartServer();
  }
  TRawClient again(port_);
  EXPECT_EQ(again.ReadLine(), "200 Ready\r\n");
  again.Send("GetFile Demo \\a.txt\r\n");
  EXPECT_EQ(again.ReadLine(), "203 Get File Started\r\n");
  EXPECT_EQ(again.ReadStream(), "alpha");
}

// Files cut by a few bytes and made whole again in a loop while they are
// fetched (a small one sent from memory, a large one from the file): a
// fetch that completes holds one of the file's versions, else it breaks.
// The fault this guards against sent a failure reply inside the payload,
// which a shortfall smaller than the reply made look complete.
TEST_F(RunningModule, AFileRewrittenWhileFetchedArrivesAsAVersionOrBreaks) {
  constexpr size_t kCut = 10;
  const size_t sizes[] = {1000, 200000};
  std::string sequence;
  for (size_t i = 0; i < sizes[1]; ++i) sequence += static_cast<char>('a' + i % 26);
  std::vector<int> files;
  for (size_t size : sizes) {
    const std::string path = folder_.Path() + "/project/f" + std::to_string(size);
    WriteFile(path, sequence.substr(0, size));
    files.push_back(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    ASSERT_GE(files.back(), 0);
  }
  std::atomic<bool> stop{false};
  std::jthread writer([&] {
    while (!stop) {
      for (size_t i = 0; i < files.size(); ++i) ASSERT_EQ(ftruncate(files[i], sizes[i] - kCut), 0);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      for (size_t i = 0; i < files.size(); ++i) {
        const size_t at = sizes[i] - kCut;
        ASSERT_EQ(pwrite(files[i], sequence.data() + at, kCut, static_cast<off_t>(at)), kCut);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  struct TStopWriter {
    std::atomic<bool>& stop;
    std::jthread& writer;
    ~TStopWriter() {
      stop = true;
      if (writer.joinable()) writer.join();
    }
  } stopWriter{stop, writer};
  int complete = 0;
  int broken = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int fetch = 0; fetch < 400 && std::chrono::steady_clock::now() < until; ++fetch) {
    const size_t size = sizes[fetch % 2];
    TRawClient client(port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("GetFile Demo \\f" + std::to_string(size) + "\r\n");
    try {
      ASSERT_EQ(client.ReadLine(), "203 Get File Started\r\n");
      const std::string sizeLine = client.ReadLine();
      const size_t announced = std::stoul(sizeLine);
      ASSERT_TRUE(announced == size || announced == size - kCut) << sizeLine;
      const std::string content = client.ReadExactly(announced);
      EXPECT_TRUE(content == sequence.substr(0, announced))
          << "fetch " << fetch << " ends with " << content.substr(content.size() - 40);
      ++complete;
    } catch (const std::runtime_error&) {
      ++broken;  // cut before or inside the payload
    }
  }
  stop = true;
  writer.join();
  for (int file : files) close(file);
  EXPECT_GT(complete, 0) << broken << " broken";
}

// A connection that sends nothing, or its request a byte now and then, is
// closed once its time is up and its thread is free again; the limits are
// shortened here from their quarter of an hour and half a minute.
TEST_F(RunningModule, ConnectionsThatNeverCompleteARequestAreClosedAndFreed) {
  module_->TCPServer().RequestTimeLimitMs = 400;
  module_->HTTPServer().RequestTimeLimitMs = 400;
  const struct {
    const char* Name;
    bool Console;
    std::string Trickle;  // sent a byte every 150 ms
  } cases[] = {
      {"sync, silent", false, ""},
      {"sync, a command never ended", false, "Hello"},
      {"console, silent", true, ""},
      {"console, a request never ended", true, "GET / HTTP/1.1\r\nX-Slow: 1\r\n"},
  };
  for (const auto& c : cases) {
    TCustomTCPServer& server =
        c.Console ? static_cast<TCustomTCPServer&>(module_->HTTPServer()) : module_->TCPServer();
    TRawClient client("127.0.0.1", c.Console ? port_ + 1 : port_);
    if (!c.Console) {
      ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    }
    try {
      for (char byte : c.Trickle) {
        client.Send(std::string(1, byte));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
      }
    } catch (const std::runtime_error&) {
      // closed while the bytes came
    }
    EXPECT_TRUE(client.WaitClosed()) << c.Name;
    // The thread goes back to the idle ones just after the connection ends.
    for (int i = 0; i < 200 && (server.ContextCount() > 0 || server.IdleThreadCount() == 0); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(server.ContextCount(), 0u) << c.Name;
    EXPECT_GE(server.IdleThreadCount(), 1u) << c.Name;
  }
  TRawClient prompt(port_);
  ASSERT_EQ(prompt.ReadLine(), "200 Ready\r\n");
  prompt.Send("Hello\r\n");
  EXPECT_EQ(prompt.ReadLine(), "201 Ready\r\n");
}

TEST_F(RunningModule, ClientsWithoutAReverseNameAreNamedByTheirAddress) {
  {
    TRawClient client("127.0.0.2", port_, "127.0.0.2");
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("Hello\r\n");
    EXPECT_EQ(client.ReadLine(), "201 Ready\r\n");
  }
  std::string link = "127.0.0.2";
  std::string expected = "Hello od <A HREF=\"http://" + link + ":" + std::to_string(port_ + 2) +
                         "/\">" + link + " [127.0.0.2]</A>";
  bool named = false;
  for (const std::string& text : LogTexts(*module_)) {
    if (text.rfind("Hello od <A HREF=\"http://", 0) == 0 &&
        text.find(" [127.0.0.2]</A>") != std::string::npos) {
      named = true;
      // Either the resolver's name or the address itself, never a failure.
      if (text.find("http://127.0.0.2:") != std::string::npos) {
        EXPECT_EQ(text, expected);
      }
    }
  }
  EXPECT_TRUE(named);

  try {
    TRawClient client("::1", port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("Sync Demo\r\n");
    EXPECT_EQ(client.ReadLine(), "202 Sync Started\r\n");
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
  EXPECT_TRUE(LogHolds(*module_, "Klijent <A HREF=\"http://[::1]:" + std::to_string(port_ + 2) +
                                     "/\">::1 [::1]</A> sinkronizira projekt Demo"));
}

TEST_F(RunningModule, ClientTextsAreEscapedInTheLogButGoBackToTheClientAsSent) {
  struct TCase {
    std::string Command;
    std::string Reply;   // the 500 line after "500-"
    std::string Logged;  // the log entry after "Greška: "
  };
  const std::string root = folder_.Path() + "/project\\";
  const TCase cases[] = {
      {"GetFile Demo \\R&D <plan>.txt",
       "Cannot open file \"" + root + "\\R&D <plan>.txt\". No such file or directory",
       "Cannot open file \"" + root + "\\R&amp;D &lt;plan&gt;.txt\". No such file or directory"},
      {"GetFile A&B \\x<y>.txt",
       " tra\x9Ei datoteku \\x<y>.txt nepostoje\xE6"
       "eg projekta A&B",
       " tra\x9Ei datoteku \\x&lt;y&gt;.txt nepostoje\xE6"
       "eg projekta A&amp;B"},
  };
  for (const TCase& c : cases) {
    TRawClient client(port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send(c.Command + "\r\n");
    std::string reply = client.ReadLine();
    EXPECT_NE(reply.find(c.Reply + "\r\n"), std::string::npos) << reply;
    EXPECT_EQ(reply.rfind("500-", 0), 0u) << reply;
    EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n");
    bool logged = false;
    for (const std::string& text : LogTexts(*module_)) {
      if (text.rfind("Gre\x9Aka: ", 0) == 0 && text.find(c.Logged) != std::string::npos)
        logged = true;
    }
    EXPECT_TRUE(logged) << c.Logged;
  }

  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("Sync <script>x</script>\r\n");
  EXPECT_EQ(client.ReadLine(), "401 Project '<script>x</script>' does not exist\r\n");
  client.Send("Sync dEMO\r\n");
  ASSERT_EQ(client.ReadLine(), "202 Sync Started\r\n");
  client.Send("<b>\r\n");
  std::string failure = client.ReadLine();
  EXPECT_EQ(failure, "500-'<b>' is not a valid integer value\r\n");
  EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n");
  EXPECT_TRUE(client.WaitClosed());

  bool unknownLogged = false;
  for (const std::string& text : LogTexts(*module_)) {
    EXPECT_EQ(text.find("<script>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<b>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<y>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<plan>"), std::string::npos) << text;
    if (text.find("nepostoje\xE6"
                  "eg projekta &lt;script&gt;x&lt;/script&gt;") != std::string::npos) {
      unknownLogged = true;
    }
  }
  EXPECT_TRUE(unknownLogged);
  EXPECT_TRUE(LogHolds(*module_, "Gre\x9Aka: '&lt;b&gt;' is not a valid integer value"));
  // The name as the client wrote it, not as configured.
  bool syncLogged = false;
  for (const std::string& text : LogTexts(*module_)) {
    if (text.rfind("Klijent ", 0) == 0 &&
        text.find(" sinkronizira projekt dEMO") != std::string::npos) {
      syncLogged = true;
    }
  }
  EXPECT_TRUE(syncLogged);
}

// An answer too long to be kept while its size is learnt is written a second
// time, straight to the client: the same bytes as the whole text.
TEST_F(RunningModule, ALongAnswerArrivesWhole) {
  const std::string project = folder_.Path() + "/project";
  for (int i = 0; i < 7000; ++i) {
    WriteFile(project + "/sub/" + std::string(150, 'n') + std::to_string(i), "");
  }
  const std::string expected = BuildDiffList(*module_, TorProject("Demo", project), "<tree/>");
  ASSERT_GT(expected.size(), 1u << 20);
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("Sync Demo\r\n");
  ASSERT_EQ(client.ReadLine(), "202 Sync Started\r\n");
  client.Send("7\r\n<tree/>");
  EXPECT_EQ(client.ReadStream(), expected);
}

TEST_F(RunningModule, ASyncSaysOnceWhatItsScanLeftOut) {
  fs::create_directory(folder_.Path() + "/project/x\\y");
  fs::create_directory(folder_.Path() + "/project/x\\z");
  fs::create_directory_symlink(folder_.Path(), folder_.Path() + "/project/up");
  for (int run = 0; run < 2; ++run) {
    TRawClient client(port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("Sync Demo\r\n");
    ASSERT_EQ(client.ReadLine(), "202 Sync Started\r\n");
    client.Send("8\r\n<tree/>\n");
    EXPECT_NE(client.ReadStream().find("\\a.txt"), std::string::npos);
  }
  int lines = 0;
  int linkLines = 0;
  for (const std::string& text : LogTexts(*module_)) {
    if (text.rfind("U projektu Demo presko\xE8"
                   "eno je 2 stavki \xE8"
                   "ije ime nije mogu\xE6"
                   "e "
                   "zapisati kao putanju; prva: \\x\\",
                   0) == 0) {
      ++lines;
    }
    if (text ==
        "U projektu Demo presko\xE8"
        "eno je 1 poveznica koje vode izvan mape projekta; prva: \\up") {
      ++linkLines;
    }
  }
  EXPECT_EQ(lines, 2);  // one per scan
  EXPECT_EQ(linkLines, 2);
}

// The client's tree is read as it arrives; a fault in it is told only after
// the whole payload, after what the scan has to say, and a syntax error late
// in the text before an unreadable time early in it.
TEST_F(RunningModule, AClientTreeFaultIsToldAfterThePayloadAndTheScan) {
  fs::create_directory(folder_.Path() + "/project/x\\y");
  std::string filler;
  while (filler.size() < 300000)
    filler += "<file><name>f" + std::to_string(filler.size()) + "</name></file>";
  const std::string pieces[] = {"<tree><datemodified>bad</datemodified>", filler, "<a<b></tree>"};
  size_t size = 0;
  for (const std::string& piece : pieces) size += piece.size();
  TRawClient client(port_);
  ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
  client.Send("Sync Demo\r\n");
  ASSERT_EQ(client.ReadLine(), "202 Sync Started\r\n");
  client.Send(std::to_string(size) + "\r\n");
  for (const std::string& piece : pieces) client.Send(piece);
  EXPECT_EQ(client.ReadLine(),
            "500-Po\xE8"
            "etak taga u tagu\r\n");
  EXPECT_EQ(client.ReadLine(), "500 Better luck next time\r\n");
  EXPECT_TRUE(client.WaitClosed());

  const std::vector<std::string> texts = LogTexts(*module_);
  auto position = [&texts](std::string_view start) {
    for (size_t i = 0; i < texts.size(); ++i)
      if (texts[i].rfind(start, 0) == 0) return static_cast<int>(i);
    return -1;
  };
  const int scan = position("U projektu Demo presko");
  const int failure = position(
      "Gre\x9Aka: Po\xE8"
      "etak taga u tagu");
  ASSERT_GE(scan, 0);
  ASSERT_GE(failure, 0);
  EXPECT_LT(scan, failure);
}

TEST_F(RunningModule, APeerThatGoesAwayMidCommandLeavesNoTrace) {
  size_t before;
  {
    TRawClient client(port_);
    ASSERT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send("Sync Demo\r\n");
    ASSERT_EQ(client.ReadLine(), "202 Sync Started\r\n");
    before = LogTexts(*module_).size();
  }
  // The next client is served; the first one's end added nothing.
  TRawClient next(port_);
  ASSERT_EQ(next.ReadLine(), "200 Ready\r\n");
  next.Send("Sync Nope\r\n");
  ASSERT_EQ(next.ReadLine(), "401 Project 'Nope' does not exist\r\n");
  std::vector<std::string> texts = LogTexts(*module_);
  ASSERT_EQ(texts.size(), before + 1);
  EXPECT_EQ(texts.back().rfind("Klijent ", 0), 0u) << texts.back();
}

}  // namespace
}  // namespace ormelin
