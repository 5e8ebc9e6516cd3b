// Hostile input against the real executable on loopback: GetFile paths that
// try to leave the project, trees nested a million deep, stream sizes at the
// edge of 2 GiB, an HTTP header block of 10,000 lines, markup smuggled into
// the console through project names and paths, and a cross-site action that
// carries neither an Origin nor a Referer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "support/Loopback.h"
#include "support/ServerProcess.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::TLoopbackClient;
using test::TServerProcess;
using test::WriteFile;

// Resident memory of a process in KiB (0 when unknown).
long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

class Security : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new TServerProcess();
    const fs::path root = fs::path(server_->Folder()) / "project";
    WriteFile(root / "a.txt", "alpha");
    WriteFile(fs::path(server_->Folder()) / "secret.txt", "secret");
    port_ = server_->StartWithProjects({{"Demo", root.string()}});
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  static std::unique_ptr<TLoopbackClient> Connect() {
    auto client = std::make_unique<TLoopbackClient>(port_);
    EXPECT_EQ(client->ReadLine(), "200 Ready");
    return client;
  }
  // The failure pair's message, after which the server must close.
  static std::string Failure(TLoopbackClient& client) {
    const std::string first = client.ReadLine();
    EXPECT_EQ(first.rfind("500-", 0), 0u) << first.substr(0, 300);
    EXPECT_EQ(client.ReadLine(), "500 Better luck next time");
    EXPECT_TRUE(client.WaitClosed());
    return first.substr(first.rfind("500-", 0) == 0 ? 4 : 0);
  }
  static std::string Http(const std::string& request) {
    TLoopbackClient client(port_ + 1);
    client.SendWhileOpen(request);
    return client.ReadUntilClose();
  }
  static std::string Page(const std::string& target, const std::string& headers = {}) {
    return Http("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_ + 1) +
                "\r\n" + headers + "\r\n");
  }
  static void ExpectStillServing() {
    auto client = Connect();
    client->Send("GetFile Demo \\a.txt\r\n");
    EXPECT_EQ(client->ReadLine(), "203 Get File Started");
    EXPECT_EQ(client->ReadLine(), "5");
    EXPECT_EQ(client->ReadExactly(5), "alpha");
    EXPECT_EQ(Page("/").substr(0, 15), "HTTP/1.1 200 OK");
  }

  static TServerProcess* server_;
  static int port_;
};

TServerProcess* Security::server_ = nullptr;
int Security::port_ = 0;

TEST_F(Security, AbsoluteEncodedAndOddPathsNeverLeaveTheProject) {
  const std::string paths[] = {
      "/etc/passwd",
      "\\etc\\passwd",
      "//etc/passwd",
      "C:\\Windows\\win.ini",
      "\\\\?\\C:\\secret.txt",
      "\\\\localhost\\share\\secret.txt",
      "~/secret.txt",
      "%2e%2e%2fsecret.txt",
      "..%5csecret.txt",
      "\xC0\xAE\xC0\xAE/secret.txt",  // an overlong dot-dot
      "....//secret.txt",
      "\\a.txt\\..\\..\\secret.txt",
      "\\.\\..\\secret.txt",
      "..",
      "../",
      std::string("\0/../secret.txt", 15),
      std::string("\\a.txt\0", 7),
      "/proc/self/environ",
      "\\a.txt\\",
  };
  for (const std::string& path : paths) {
    auto client = Connect();
    client->Send("GetFile Demo " + path + "\r\n");
    const std::string message = Failure(*client);
    EXPECT_EQ(message.rfind("Cannot open file \"", 0), 0u) << path << ": " << message;
  }
  // Neither a project name nor a path can pick another folder.
  for (const char* line :
       {"GetFile .. secret.txt", "GetFile ../project a.txt", "GetFile / etc/passwd"}) {
    auto client = Connect();
    client->Send(std::string(line) + "\r\n");
    EXPECT_EQ(Failure(*client).rfind("Klijent ", 0), 0u) << line;
  }
  ExpectStillServing();
}

TEST_F(Security, TreesNestedAMillionDeepAreRefusedWithoutHarm) {
  constexpr int kDepth = 1000000;
  std::string open;
  std::string closed;
  for (int i = 0; i < kDepth; ++i) open += "<directory><name>d</name>";
  for (int i = 0; i < kDepth; ++i) closed += "</directory>";
  for (const std::string& tree : {"<tree>" + open, "<tree>" + open + closed + "</tree>"}) {
    auto client = Connect();
    client->Send("Sync Demo\r\n");
    ASSERT_EQ(client->ReadLine(), "202 Sync Started");
    client->Send(std::to_string(tree.size()) + "\r\n" + tree);
    Failure(*client);
  }
  EXPECT_LT(ResidentKiB(server_->Pid()), 1024 * 1024);
  ExpectStillServing();
}

TEST_F(Security, StreamSizesAtTheEdgeOfTwoGibibytes) {
  const struct {
    const char* Line;
    const char* Message;  // null: any failure
  } refused[] = {
      {"2147483648", "'2147483648' is not a valid integer value"},
      {"4294967297", "'4294967297' is not a valid integer value"},
      {"99999999999999999999", "'99999999999999999999' is not a valid integer value"},
      {"-1", nullptr},
      {"-2147483648", nullptr},
  };
  for (const auto& c : refused) {
    auto client = Connect();
    client->Send("Sync Demo\r\n");
    ASSERT_EQ(client->ReadLine(), "202 Sync Started");
    client->Send(std::string(c.Line) + "\r\n<tree></tree>");
    const std::string message = Failure(*client);
    if (c.Message != nullptr) {
      EXPECT_EQ(message, c.Message);
    }
  }
  // The largest size is taken at its word, but memory follows the bytes
  // that arrive, not the size announced.
  const long before = ResidentKiB(server_->Pid());
  {
    auto client = Connect();
    client->Send("Sync Demo\r\n");
    ASSERT_EQ(client->ReadLine(), "202 Sync Started");
    client->Send("2147483647\r\n<tree>" + std::string(4 << 20, ' '));
    auto probe = Connect();  // answered while the big one waits
    probe->Send("Hello\r\n");
    EXPECT_EQ(probe->ReadLine(), "201 Ready");
    EXPECT_LT(ResidentKiB(server_->Pid()) - before, 256 * 1024);
  }
  ExpectStillServing();
}

TEST_F(Security, HugeHeaderBlocksEndTheirConnectionOnly) {
  std::string block = "GET / HTTP/1.1\r\nHost: localhost\r\n";
  for (int i = 0; i < 10000; ++i) block += "X-" + std::to_string(i) + ": v\r\n";
  const std::string requests[] = {
      block + "\r\n",
      "GET / HTTP/1.1\r\nX: " + std::string(1 << 20, 'a') + "\r\n\r\n",
  };
  for (const std::string& request : requests) {
    EXPECT_NE(Http(request).substr(0, 15), "HTTP/1.1 200 OK");
  }
  ExpectStillServing();
}

TEST_F(Security, MarkupFromClientsReachesTheConsoleOnlyAsText) {
  const char* lines[] = {
      "Sync <script>alert(1)</script>",
      "GetFile <script>alert(2)</script> \\a.txt",
      "GetFile Demo \\<img src=x onerror=alert(3)>.txt",
      "Hello <script>alert(4)</script>",
  };
  for (const char* line : lines) {
    auto client = Connect();
    client->Send(std::string(line) + "\r\n");
    client->ReadLine();
  }
  for (const char* target :
       {"/", "/eventlog.html", "/eventlog.html?filter=alert", "/postavke.html"}) {
    const std::string page = Page(target);
    EXPECT_EQ(page.find("<script>alert"), std::string::npos) << target;
    EXPECT_EQ(page.find("<img src=x"), std::string::npos) << target;
  }
  const std::string log = Page("/eventlog.html?filter=alert");
  for (const char* shown :
       {"&lt;script&gt;alert(1)", "&lt;script&gt;alert(2)", "&lt;img src=x onerror=alert(3)&gt;"}) {
    EXPECT_NE(log.find(shown), std::string::npos) << shown;
  }
}

TEST_F(Security, CrossSiteActionsWithoutOriginOrRefererAreRefused) {
  // An image or link of another page sent with no referrer: only the
  // browser's fetch metadata tells where it comes from.
  for (const char* site : {"cross-site", "same-site", "Cross-Site"}) {
    const std::string reply =
        Page("/opcije?akcija=Zaustavi", std::string("Sec-Fetch-Site: ") + site + "\r\n");
    EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << site;
    EXPECT_NE(reply.find("Akcija Zaustavi <STRONG>nije</STRONG> pokrenuta:"), std::string::npos)
        << site;
    EXPECT_TRUE(test::TRawClient::CanConnect("127.0.0.1", port_)) << site;
  }
  // Typed into the address bar, or sent from the console's own page.
  for (const char* site : {"none", "same-origin"}) {
    EXPECT_EQ(Page("/opcije?akcija=Zaustavi", std::string("Sec-Fetch-Site: ") + site + "\r\n")
                  .substr(0, 12),
              "HTTP/1.1 302")
        << site;
    EXPECT_EQ(Page("/opcije?akcija=Pokreni").substr(0, 12), "HTTP/1.1 302");
  }
  ExpectStillServing();
}

}  // namespace
}  // namespace ormelin
