// The web console of the real executable over HTTP on loopback: the
// document table, the stop, start and settings actions with their redirects
// and failure page, refusal of actions sent from other sites, the event-log
// page with paging and filters, and escaping of every value a request brings.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "logger/zeRegex.h"
#include "platform/Text.h"
#include "support/ServerProcess.h"
#include "web/ResourceGet.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ConfigText;
using test::FreePortPair;
using test::TRawClient;
using test::TServerProcess;

struct THttpReply {
  int Status = 0;
  std::string Head;
  std::string Body;

  std::string Header(const std::string& name) const {
    const std::string key = "\r\n" + AnsiLowerCase(name) + ":";
    const std::string head = AnsiLowerCase(Head);
    const size_t at = head.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    return Trim(Head.substr(start, Head.find("\r\n", start) - start));
  }
};

// A request from `source` (a loopback address of either family) to the
// console on that family's loopback.
THttpReply GetFrom(const std::string& source, int consolePort, const std::string& target,
                   const std::string& extraHeaders = {});

THttpReply Get(int consolePort, const std::string& target, const std::string& extraHeaders = {}) {
  return GetFrom("127.0.0.1", consolePort, target, extraHeaders);
}

THttpReply GetFrom(const std::string& source, int consolePort, const std::string& target,
                   const std::string& extraHeaders) {
  const bool ipv6 = source.find(':') != std::string::npos;
  TRawClient client(ipv6 ? "::1" : "127.0.0.1", consolePort, source);
  client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(consolePort) +
              "\r\n" + extraHeaders + "\r\n");
  const std::string raw = client.ReadUntilClose();
  THttpReply reply;
  const size_t end = raw.find("\r\n\r\n");
  EXPECT_NE(end, std::string::npos) << raw;
  reply.Head = raw.substr(0, end);
  reply.Body = end == std::string::npos ? std::string() : raw.substr(end + 4);
  reply.Status = std::stoi(raw.substr(raw.find(' ') + 1, 3));
  return reply;
}

struct TRow {
  int Id;
  std::string Time;
  std::string Text;
};

std::vector<TRow> RowsOf(const std::string& page) {
  static const std::regex row(
      "<tr>\\s*<td><p>(\\d+)</p></td>\\s*<td><p>([^<]*)</p></td>\\s*<td><p>([\\s\\S]*?)</p></"
      "td>\\s*</tr>");
  std::vector<TRow> rows;
  for (std::sregex_iterator it(page.begin(), page.end(), row), end; it != end; ++it) {
    rows.push_back({std::stoi((*it)[1]), (*it)[2], (*it)[3]});
  }
  return rows;
}

// The href of the paging link whose label is `label` ("&lt&lt", "&lt", "&gt").
std::string LinkOf(const std::string& page, const std::string& label) {
  const std::string end = "\">" + label + "</a>";
  const size_t at = page.find(end);
  if (at == std::string::npos) return {};
  const size_t start = page.rfind("href=\"", at) + 6;
  return page.substr(start, at - start);
}

bool ContainsFolded(const std::string& text, const std::string& part) {
  return AnsiLowerCase(text).find(AnsiLowerCase(part)) != std::string::npos;
}

// One synchronisation connection that says Hello as often as asked.
class THelloClient {
 public:
  explicit THelloClient(int syncPort) : client_(syncPort) {
    EXPECT_EQ(client_.ReadLine(), "200 Ready\r\n");
  }
  void Hello(int times = 1) {
    for (int i = 0; i < times; ++i) {
      client_.Send("Hello\r\n");
      EXPECT_EQ(client_.ReadLine(), "201 Ready\r\n");
    }
  }
  void Send(const std::string& line) { client_.Send(line + "\r\n"); }
  std::string ReadLine() { return client_.ReadLine(); }

 private:
  TRawClient client_;
};

class Console : public ::testing::Test {
 protected:
  void StartWith(const std::vector<std::pair<std::string, std::string>>& projects) {
    port_ = server_.StartWithProjects(projects);
    console_ = port_ + 1;
    ASSERT_TRUE(server_.WaitForPort(console_)) << server_.Stderr();
    // The console answers a moment before the module is ready, and in that
    // moment "Zaustavi" and "Pokreni" do nothing.
    for (int i = 0; i < 200 && Page("/").Body.find(">Spreman<") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  void SetUp() override {
    projectFolder_ = server_.Folder() + "/projekt";
    fs::create_directory(projectFolder_);
  }

  THttpReply Page(const std::string& target, const std::string& headers = {}) {
    return Get(console_, target, headers);
  }
  // Every event, newest first, read page by page.
  std::vector<TRow> AllRows(const std::string& filterQuery = {}) {
    std::vector<TRow> all;
    for (int page = 1;; ++page) {
      THttpReply reply = Page("/eventlog.html?page=" + std::to_string(page) + filterQuery);
      EXPECT_EQ(reply.Status, 200) << reply.Body;
      std::vector<TRow> rows = RowsOf(reply.Body);
      all.insert(all.end(), rows.begin(), rows.end());
      if (rows.size() < 20 || reply.Status != 200) return all;
    }
  }
  std::string ConfigFile() { return server_.Folder() + "/orServer.xml"; }
  std::string ReadConfig() {
    std::string text;
    FILE* file = fopen(ConfigFile().c_str(), "rb");
    if (file == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    fclose(file);
    return text;
  }

  TServerProcess server_;
  std::string projectFolder_;
  int port_ = 0;
  int console_ = 0;
};

TEST_F(Console, EveryOtherDocumentIsTheStatusPage) {
  StartWith({{"Demo", projectFolder_}});
  const THttpReply first = Page("/INDEX.HTML");
  EXPECT_EQ(first.Status, 200);
  EXPECT_EQ(first.Header("Content-Type"), "text/html");
  EXPECT_NE(first.Body.find("<p class=\"white\">" + std::to_string(port_) + "</p>"),
            std::string::npos);
  EXPECT_NE(first.Body.find("<p class=\"white\">" + projectFolder_ + "</p>"), std::string::npos);
  EXPECT_NE(first.Body.find("<p class=\"white\">Spreman</p>"), std::string::npos);
  EXPECT_NE(first.Body.find("name=\"akcija\" value=\"Zaustavi\""), std::string::npos);
  const std::vector<TRow> newest = RowsOf(Page("/eventlog.html").Body);
  ASSERT_FALSE(newest.empty());
  EXPECT_NE(
      first.Body.find("<p class=\"white\">" + newest[0].Time + "  - " + newest[0].Text + "</p>"),
      std::string::npos)
      << first.Body;
  EXPECT_EQ(first.Body.find("{%"), std::string::npos);
  for (const char* target : {"/", "/nothing", "/favicon.ico", "/index.html?filter=abc"}) {
    const THttpReply reply = Page(target);
    EXPECT_EQ(reply.Status, 200) << target;
    EXPECT_EQ(reply.Body, first.Body) << target;
  }
}

TEST_F(Console, StoredResourcesGoOutAsTheyAre) {
  StartWith({});
  const struct {
    const char* Target;
    const char* Resource;
  } cases[] = {
      {"/Style.CSS", "STYLE_CSS"},
      {"/ormelinproject.jpg", "ORMELINPROJECT_JPG"},
      {"/ORMELINPROJECT_FOOTER.JPG", "ORMELINPROJECT_FOOTER_JPG"},
  };
  for (const auto& c : cases) {
    const THttpReply reply = Page(c.Target);
    EXPECT_EQ(reply.Status, 200) << c.Target;
    EXPECT_EQ(reply.Header("Content-Type"), "text/html") << c.Target;
    EXPECT_EQ(reply.Body, std::string(GetResourceData(c.Resource))) << c.Target;
  }
}

TEST_F(Console, SettingsAndAboutPagesShowTheModule) {
  StartWith({});
  const THttpReply settings = Page("/postavke.html");
  EXPECT_NE(settings.Body.find("name=\"port\" value=\"" + std::to_string(port_) + "\""),
            std::string::npos);
  EXPECT_NE(settings.Body.find("name=\"rootpath\" value=\"(nije definirano)\""), std::string::npos);
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">(nije definirano)</p>"), std::string::npos);

  // The version text of the build: module-branch@last-change (revision) of
  // both modules, the server's first.
  const THttpReply about = Page("/About.html");
  std::smatch version;
  ASSERT_TRUE(std::regex_search(
      about.Body, version,
      std::regex(
          "<p align=\"center\" class=\"white\">Serverski modul ver. OrmelinS-([^<@]+)@(\\d+) "
          "\\((\\d+)\\) / Comparer-([^<@]+)@(\\d+) \\((\\d+)\\)</p>")))
      << about.Body;
  EXPECT_LE(std::stoi(version[2]), std::stoi(version[3]));
  EXPECT_LE(std::stoi(version[5]), std::stoi(version[6]));
  EXPECT_EQ(version[3], version[6]);  // one working copy
}

TEST_F(Console, StopAndStartTheSynchronisationListener) {
  StartWith({{"Demo", projectFolder_}});
  for (int round = 0; round < 2; ++round) {  // the second stop changes nothing
    const THttpReply stop = Page("/opcije?akcija=zaustavi");
    EXPECT_EQ(stop.Status, 302);
    EXPECT_EQ(stop.Header("Location"), "/index.html");
  }
  EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port_));
  THttpReply status = Page("/");
  EXPECT_NE(status.Body.find("<p class=\"white\">Zaustavljen</p>"), std::string::npos);
  EXPECT_NE(status.Body.find("value=\"Pokreni\""), std::string::npos);

  const THttpReply start = Page("/opcije?akcija=%20%09Pokreni+");
  EXPECT_EQ(start.Status, 302);
  EXPECT_EQ(start.Header("Location"), "/index.html");
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_));  // on the same port as before
  EXPECT_EQ(Page("/opcije?akcija=POKRENI").Status, 302);    // already running: no change
  status = Page("/");
  EXPECT_NE(status.Body.find("<p class=\"white\">Spreman</p>"), std::string::npos);
  EXPECT_NE(status.Body.find("value=\"Zaustavi\""), std::string::npos);

  // The probes above may log their dropped connections in between.
  std::vector<std::string> changes;
  for (const TRow& row : AllRows()) {
    if (row.Text.rfind("Server ", 0) == 0) changes.push_back(row.Text);
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"Server pokrenut", "Server zaustavljen"}));
}

TEST_F(Console, UnknownActionsAnswerEmptyAndChangeNothing) {
  StartWith({{"Demo", projectFolder_}});
  const size_t events = AllRows().size();
  for (const char* target : {"/opcije", "/opcije?akcija=", "/opcije?akcija=Nista",
                             "/opcije?akcija=Postavi2", "/opcije?port=2000&rootpath=/tmp"}) {
    const THttpReply reply = Page(target);
    EXPECT_EQ(reply.Status, 200) << target;
    EXPECT_EQ(reply.Body, "") << target;
  }
  EXPECT_EQ(AllRows().size(), events);
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_));
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">" + std::to_string(port_) + "</p>"),
            std::string::npos);
}

TEST_F(Console, SettingsKeepAPortTheListenersCouldNotOpen) {
  StartWith({{"Demo", projectFolder_}});
  const std::string original = std::to_string(port_);
  const struct {
    const char* Text;
    std::string Expected;
  } cases[] = {
      {"abc", original},   {"", original},         {"0", original},           {"-5", original},
      {"65535", original}, {"70000", original},    {"99999999999", original}, {"$7D0", "2000"},
      {"65534", "65534"},  {"%203000%20", "3000"}, {"0x7d1", "2001"},
  };
  for (const auto& c : cases) {
    // Start from the original port each time.
    ASSERT_EQ(Page("/opcije?akcija=Postavi&port=" + original + "&rootpath=").Status, 302);
    std::string marker = ReadConfig() + "<!-- old -->";
    {
      FILE* file = fopen(ConfigFile().c_str(), "wb");
      fwrite(marker.data(), 1, marker.size(), file);
      fclose(file);
    }
    const THttpReply reply =
        Page(std::string("/opcije?akcija=postavi&port=") + c.Text + "&rootpath=");
    EXPECT_EQ(reply.Status, 302) << c.Text;
    EXPECT_EQ(reply.Header("Location"), "/postavke.html") << c.Text;
    EXPECT_NE(Page("/").Body.find("<p class=\"white\">" + c.Expected + "</p>"), std::string::npos)
        << c.Text;
    const std::string config = ReadConfig();
    EXPECT_NE(config.find("<defaultport>" + c.Expected + "</defaultport>"), std::string::npos)
        << c.Text;
    EXPECT_EQ(config.find("<!-- old -->"), std::string::npos) << c.Text;  // rewritten
    EXPECT_NE(config.find("<path>" + projectFolder_ + "</path>"), std::string::npos) << c.Text;
  }
  const std::vector<TRow> rows = AllRows();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0].Text, "Snimanje projekata");
  bool announced = false;
  for (const TRow& row : rows) announced = announced || row.Text == "Dodjela novih postavki";
  EXPECT_TRUE(announced);
  // The listeners keep the ports they opened.
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_));
}

TEST_F(Console, SettingsChangeThePortAndTheRootFolderForTheNextStart) {
  StartWith({{"Demo", projectFolder_}});
  const int newPort = FreePortPair();
  const std::string newFolder = server_.Folder() + "/novi <b>\"mapa\"";
  ASSERT_FALSE(fs::exists(newFolder));
  const THttpReply reply =
      Page("/opcije?akcija=Postavi&port=" + std::to_string(newPort) + "&rootpath=" + "%20" +
           server_.Folder() + "/novi+%3Cb%3E%22mapa%22%20");
  EXPECT_EQ(reply.Status, 302);
  EXPECT_TRUE(fs::is_directory(newFolder));
  const std::string shown = server_.Folder() + "/novi &lt;b&gt;&quot;mapa&quot;";
  const THttpReply status = Page("/");
  EXPECT_NE(status.Body.find("<p class=\"white\">" + std::to_string(newPort) + "</p>"),
            std::string::npos);
  EXPECT_NE(status.Body.find("<p class=\"white\">" + shown + "</p>"), std::string::npos);
  EXPECT_EQ(status.Body.find("<b>"), std::string::npos);
  EXPECT_NE(Page("/postavke.html").Body.find("name=\"rootpath\" value=\"" + shown + "\""),
            std::string::npos);
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_));  // still the old listener

  // An empty root path leaves the project where it is.
  EXPECT_EQ(Page("/opcije?akcija=Postavi&port=" + std::to_string(newPort) + "&rootpath=").Status,
            302);
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">" + shown + "</p>"), std::string::npos);

  EXPECT_EQ(server_.Stop(), 0);
  server_.Start();
  ASSERT_TRUE(server_.WaitForPort(newPort)) << server_.Stderr();
  ASSERT_TRUE(server_.WaitForPort(newPort + 1));
  EXPECT_NE(Get(newPort + 1, "/").Body.find("<p class=\"white\">" + shown + "</p>"),
            std::string::npos);
}

TEST_F(Console, OnlyAllowedAddressesMoveTheRootFolder) {
  StartWith({{"Demo", projectFolder_}});
  const std::string config = ReadConfig();
  const std::string elsewhere = server_.Folder() + "/drugdje";
  const int newPort = FreePortPair();
  const std::string port = "port=" + std::to_string(newPort);

  // Another machine: the port it sets stays set, the root stays, nothing
  // is created or saved.
  THttpReply refused =
      GetFrom("127.0.0.2", console_, "/opcije?akcija=Postavi&" + port + "&rootpath=" + elsewhere);
  EXPECT_EQ(refused.Status, 200);
  EXPECT_NE(refused.Body.find("<STRONG>nije</STRONG>"), std::string::npos) << refused.Body;
  EXPECT_NE(refused.Body.find("Adresa 127.0.0.2 nije me\xF0u njima"), std::string::npos);
  EXPECT_NE(refused.Body.find("consoleallow"), std::string::npos);
  EXPECT_FALSE(fs::exists(elsewhere));
  EXPECT_EQ(ReadConfig(), config);
  THttpReply status = Page("/");
  EXPECT_NE(status.Body.find("<p class=\"white\">" + projectFolder_ + "</p>"), std::string::npos);
  EXPECT_NE(status.Body.find("<p class=\"white\">" + std::to_string(newPort) + "</p>"),
            std::string::npos);
  int refusals = 0;
  for (const TRow& row : AllRows()) {
    if (row.Text == "Odbijena promjena korijenske mape projekta s adrese 127.0.0.2") ++refusals;
  }
  EXPECT_EQ(refusals, 1);

  // The settings form always sends the current root: that is no change.
  EXPECT_EQ(GetFrom("127.0.0.2", console_,
                    "/opcije?akcija=Postavi&" + port + "&rootpath=" + projectFolder_)
                .Status,
            302);
  EXPECT_NE(ReadConfig().find("<defaultport>" + std::to_string(newPort)), std::string::npos);

  // This machine may.
  EXPECT_EQ(Page("/opcije?akcija=Postavi&" + port + "&rootpath=" + elsewhere).Status, 302);
  EXPECT_TRUE(fs::is_directory(elsewhere));
  EXPECT_NE(ReadConfig().find("<path>" + elsewhere + "</path>"), std::string::npos);
  try {
    EXPECT_EQ(GetFrom("::1", console_, "/opcije?akcija=Postavi&rootpath=" + projectFolder_).Status,
              302);
    EXPECT_NE(ReadConfig().find("<path>" + projectFolder_ + "</path>"), std::string::npos);
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "no IPv6 loopback";
  }
}

TEST_F(Console, TheAllowListLetsFurtherAddressesMoveTheRootFolder) {
  for (const char* allowed : {"127.0.0.2/32", "127.0.0.0/8"}) {
    port_ = FreePortPair();
    console_ = port_ + 1;
    std::string config = ConfigText(port_, {{"Demo", projectFolder_}});
    config.insert(config.find("</serversettings>"),
                  std::string("<consoleallow>") + allowed + "</consoleallow>\r\n");
    server_.WriteConfig(config);
    ASSERT_TRUE(server_.StartAndWait(console_)) << server_.Stderr();
    const std::string folder = server_.Folder() + "/nova " + std::to_string(port_);
    EXPECT_EQ(GetFrom("127.0.0.2", console_, "/opcije?akcija=Postavi&rootpath=" + folder).Status,
              302)
        << allowed;
    EXPECT_TRUE(fs::is_directory(folder)) << allowed;
    config.replace(config.find(projectFolder_), projectFolder_.size(), folder);
    EXPECT_EQ(ReadConfig(), config);  // written back as it was read
    EXPECT_EQ(server_.Stop(), 0);
  }
}

// A page of another site whose name leads to this machine (DNS rebinding)
// sends its own name as the Host: the console refuses it and changes
// nothing. Addresses, localhost, the machine's names and the names of
// serversettings/consolehosts are its own.
TEST_F(Console, RequestsNamingAForeignHostAreRefused) {
  port_ = FreePortPair();
  console_ = port_ + 1;
  std::string config = ConfigText(port_, {{"Demo", projectFolder_}});
  config.insert(config.find("</serversettings>"),
                "<consolehosts>mirror.example</consolehosts>\r\n");
  server_.WriteConfig(config);
  ASSERT_TRUE(server_.StartAndWait(console_)) << server_.Stderr();
  char machine[256] = {};
  ASSERT_EQ(gethostname(machine, sizeof machine - 1), 0);
  const std::string port = ":" + std::to_string(console_);
  const struct {
    std::string Host;  // the whole header line, "" for none
    bool Refused;
  } cases[] = {
      {"Host: evil.example" + port, true},
      {"Host: evil.example", true},
      {"Host: 127.0.0.1.evil.example" + port, true},
      {"Host: localhost.evil.example", true},
      {"Host: ::1", true},
      {"Host: 127.0.0.1:80x", true},
      {"Host: [::1" + port, true},
      {"Host: ", false},
      {"Host: 127.0.0.1" + port, false},
      {"Host: 10.1.2.3", false},
      {"Host: [::1]" + port, false},
      {"Host: LocalHost" + port, false},
      {"Host: localhost.", false},
      {"Host: MIRROR.example" + port, false},
      {"Host: " + AnsiUpperCase(machine), false},
      {"", false},
  };
  for (const auto& c : cases) {
    TRawClient client("127.0.0.1", console_);
    client.Send("GET /opcije?akcija=Zaustavi HTTP/1." + std::string(c.Host.empty() ? "0" : "1") +
                "\r\n" + c.Host + (c.Host.empty() ? "" : "\r\n") + "\r\n");
    const std::string raw = client.ReadUntilClose();
    if (c.Refused) {
      EXPECT_EQ(raw.substr(0, 13), "HTTP/1.1 403 ") << c.Host;
      EXPECT_NE(raw.find("Pristup odbijen"), std::string::npos) << c.Host;
      EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_)) << c.Host;
    } else {
      EXPECT_EQ(raw.substr(0, 13), "HTTP/1.1 302 ") << c.Host;
      EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port_)) << c.Host;
      ASSERT_EQ(Page("/opcije?akcija=Pokreni").Status, 302);
    }
  }
  ASSERT_EQ(Page("/opcije?akcija=Postavi&port=" + std::to_string(port_)).Status, 302);
  EXPECT_EQ(ReadConfig(), config);  // the element written back as it was read
}

TEST_F(Console, SettingsWithoutAProjectChangeOnlyThePorts) {
  StartWith({});
  const std::string folder = server_.Folder() + "/nikad";
  EXPECT_EQ(Page("/opcije?akcija=Postavi&port=2000&rootpath=" + folder).Status, 302);
  EXPECT_FALSE(fs::exists(folder));
  const std::string config = ReadConfig();
  EXPECT_NE(config.find("<defaultport>2000</defaultport>"), std::string::npos) << config;
  EXPECT_EQ(config.find("<project>"), std::string::npos) << config;
  const THttpReply status = Page("/");
  EXPECT_NE(status.Body.find("<p class=\"white\">2000</p>"), std::string::npos);
  EXPECT_NE(status.Body.find("<p class=\"white\">(nije definirano)</p>"), std::string::npos);
}

TEST_F(Console, AFailedStartShowsTheFailurePage) {
  StartWith({{"Demo", projectFolder_}});
  ASSERT_EQ(Page("/opcije?akcija=Zaustavi").Status, 302);
  // Another program takes the port meanwhile (the closed connections of the
  // listener may still linger on it).
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  int reuse = 1;
  setsockopt(holder, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);

  const THttpReply failed = Page("/opcije?akcija=Pokreni");
  close(holder);
  EXPECT_EQ(failed.Status, 200);
  EXPECT_NE(failed.Body.find("Akcija Pokreni <STRONG>nije</STRONG> pokrenuta:"), std::string::npos)
      << failed.Body;
  EXPECT_NE(failed.Body.find("Poruka: Could not bind socket. Address and port are already in use."),
            std::string::npos)
      << failed.Body;
  EXPECT_EQ(failed.Body.find("{%"), std::string::npos);
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">Zaustavljen</p>"), std::string::npos);

  EXPECT_EQ(Page("/opcije?akcija=Pokreni").Status, 302);  // the port is free again
  EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_));
}

TEST_F(Console, AFailedSaveKeepsWhatWasDoneAndShowsTheFailurePage) {
  StartWith({{"Demo", projectFolder_}});
  fs::remove(ConfigFile());
  fs::create_directory(ConfigFile());  // no file can take its place
  const THttpReply failed = Page("/opcije?akcija=Postavi&port=2000&rootpath=");
  EXPECT_EQ(failed.Status, 200);
  EXPECT_NE(failed.Body.find("Akcija Postavi <STRONG>nije</STRONG> pokrenuta:"), std::string::npos)
      << failed.Body;
  EXPECT_NE(failed.Body.find("Poruka: Cannot create file &quot;"), std::string::npos)
      << failed.Body;
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">2000</p>"), std::string::npos);
}

TEST_F(Console, ActionsSentFromAnotherSiteAreRefused) {
  StartWith({{"Demo", projectFolder_}});
  const std::string own = "http://127.0.0.1:" + std::to_string(console_);
  const struct {
    std::string Headers;
    bool Refused;
  } cases[] = {
      {"", false},
      {"Referer: " + own + "/index.html\r\n", false},
      {"Origin: " + own + "\r\nReferer: " + own + "/\r\n", false},
      {"Referer: HTTP://127.0.0.1:" + std::to_string(console_) + "/x?y\r\n", false},
      {"Referer: http://evil.example/attack.html\r\n", true},
      {"Origin: http://evil.example\r\n", true},
      {"Origin: null\r\n", true},
      {"Referer: http://127.0.0.1:" + std::to_string(console_ + 7) + "/\r\n", true},
      {"Referer: http://127.0.0.1.evil.example:" + std::to_string(console_) + "/\r\n", true},
      {"Origin: http://evil.example\r\nReferer: " + own + "/\r\n", true},
  };
  for (const auto& c : cases) {
    const THttpReply reply = Page("/opcije?akcija=Zaustavi", c.Headers);
    if (c.Refused) {
      EXPECT_EQ(reply.Status, 200) << c.Headers;
      EXPECT_NE(reply.Body.find("Akcija Zaustavi <STRONG>nije</STRONG> pokrenuta:"),
                std::string::npos)
          << c.Headers;
      EXPECT_NE(reply.Body.find("Zahtjev nije poslan sa stranica ove konzole"), std::string::npos)
          << reply.Body;
      EXPECT_TRUE(TRawClient::CanConnect("127.0.0.1", port_)) << c.Headers;
    } else {
      EXPECT_EQ(reply.Status, 302) << c.Headers;
      EXPECT_FALSE(TRawClient::CanConnect("127.0.0.1", port_)) << c.Headers;
      ASSERT_EQ(Page("/opcije?akcija=Pokreni").Status, 302);
    }
  }
  // A refused settings action changes nothing either.
  const THttpReply settings =
      Page("/opcije?akcija=Postavi&port=2000&rootpath=/tmp", "Referer: http://evil.example/\r\n");
  EXPECT_NE(settings.Body.find("Akcija Postavi <STRONG>nije</STRONG>"), std::string::npos);
  EXPECT_NE(Page("/").Body.find("<p class=\"white\">" + std::to_string(port_) + "</p>"),
            std::string::npos);
}

TEST_F(Console, FortyFiveEventsOnThreePages) {
  StartWith({{"Demo", projectFolder_}});
  // The start-up messages, and any of the start-up probe's connection, are
  // in the log before the count is taken.
  int initial = static_cast<int>(AllRows().size());
  for (int settled = 0; settled < 3;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int now = static_cast<int>(AllRows().size());
    settled = now == initial ? settled + 1 : 0;
    initial = now;
  }
  ASSERT_LT(initial, 45);
  THelloClient client(port_);
  client.Hello(45 - initial);
  const std::vector<TRow> listed = AllRows();
  std::string ids;
  for (const TRow& row : listed) ids += std::to_string(row.Id) + ":" + row.Text.substr(0, 12) + " ";
  ASSERT_EQ(listed.size(), 45u) << "initial " << initial << ": " << ids;

  const struct {
    std::string Page;
    int First, Count;
    std::string Prev, Next;
  } cases[] = {
      {"1", 1, 20, "1", "2"},        {"2", 21, 20, "1", "3"}, {"3", 41, 5, "2", "4"},
      {"4", 0, 0, "3", "5"},         {"", 1, 20, "1", "2"},   {"abc", 1, 20, "1", "2"},
      {"%202%20", 21, 20, "1", "3"}, {"$3", 41, 5, "2", "4"},
  };
  for (const auto& c : cases) {
    const THttpReply reply = Page("/eventlog.html?page=" + c.Page);
    const std::vector<TRow> rows = RowsOf(reply.Body);
    ASSERT_EQ(static_cast<int>(rows.size()), c.Count) << c.Page;
    for (int i = 0; i < c.Count; ++i) EXPECT_EQ(rows[i].Id, c.First + i) << c.Page;
    EXPECT_EQ(LinkOf(reply.Body, "&lt&lt"), "eventlog.html?page=1&filter=") << c.Page;
    EXPECT_EQ(LinkOf(reply.Body, "&lt"), "eventlog.html?page=" + c.Prev + "&filter=") << c.Page;
    EXPECT_EQ(LinkOf(reply.Body, "&gt"), "eventlog.html?page=" + c.Next + "&filter=") << c.Page;
    EXPECT_EQ(reply.Body.find("{%"), std::string::npos) << c.Page;
  }
  const std::vector<TRow> first = RowsOf(Page("/eventlog.html").Body);
  EXPECT_EQ(first[0].Text.rfind("Hello od <A HREF=\"http://", 0), 0u) << first[0].Text;
  EXPECT_TRUE(
      std::regex_match(first[0].Time, std::regex("\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d")))
      << first[0].Time;
  EXPECT_EQ(RowsOf(Page("/eventlog.html?page=3").Body).back().Text, "Inicijalizacija podataka");
}

TEST_F(Console, FiltersListTheMatchingEventsNumberedAmongThemselves) {
  StartWith({{"Demo", projectFolder_}});
  ASSERT_EQ(Page("/opcije?akcija=Zaustavi").Status, 302);
  ASSERT_EQ(Page("/opcije?akcija=Pokreni").Status, 302);
  {
    THelloClient client(port_);
    client.Hello(25);
    client.Send("Sync Nepostojeci");
    EXPECT_EQ(client.ReadLine(), "401 Project 'Nepostojeci' does not exist\r\n");
  }
  const std::vector<TRow> all = AllRows();
  const struct {
    const char* Query;
    std::function<bool(const std::string&)> Listed;
  } cases[] = {
      {"server", [](const std::string& t) { return ContainsFolded(t, "server"); }},
      {"%5EKlijent",
       [](const std::string& t) { return AnsiLowerCase(t).rfind("klijent", 0) == 0; }},
      {"x*", [](const std::string& t) { return ContainsFolded(t, "x"); }},
      {"hello", [](const std::string& t) { return ContainsFolded(t, "hello"); }},
  };
  for (const auto& c : cases) {
    std::vector<std::string> expected;
    for (const TRow& row : all) {
      if (c.Listed(row.Text)) expected.push_back(row.Text);
    }
    const std::vector<TRow> rows = AllRows(std::string("&filter=") + c.Query);
    ASSERT_EQ(rows.size(), expected.size()) << c.Query;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(rows[i].Id, static_cast<int>(i) + 1) << c.Query;
      EXPECT_EQ(rows[i].Text, expected[i]) << c.Query;
    }
  }
  const std::vector<TRow> server = AllRows("&filter=server");
  ASSERT_GE(server.size(), 2u);
  EXPECT_EQ(server[0].Text, "Server pokrenut");
  EXPECT_EQ(server[1].Text, "Server zaustavljen");
  EXPECT_GE(AllRows("&filter=%5EKlijent").size(), 1u);
  EXPECT_EQ(AllRows("&filter=hello").size(), 25u);

  // The paging links carry the filter on.
  const THttpReply second = Page("/eventlog.html?page=2&filter=hello");
  EXPECT_EQ(LinkOf(second.Body, "&gt"), "eventlog.html?page=3&filter=hello");
  EXPECT_EQ(RowsOf(second.Body).front().Id, 21);
}

TEST_F(Console, AFilterThatDoesNotCompileFailsOnlyTheEventLogPage) {
  StartWith({});
  std::string message;
  try {
    TzeRegex pattern("(", TzeRegex::roCaseless);
  } catch (const ERegexError& error) {
    message = error.Message();
  }
  ASSERT_FALSE(message.empty());
  const THttpReply failed = Page("/eventlog.html?filter=(");
  EXPECT_EQ(failed.Status, 500);
  EXPECT_EQ(failed.Body, message);
  EXPECT_EQ(Page("/index.html?filter=(").Status, 200);
  EXPECT_EQ(Page("/eventlog.html?filter=(&page=-1").Status, 200);  // nothing to test it on
}

TEST_F(Console, TheFilterShowsAsTextInTheFieldAndTravelsEncodedInTheLinks) {
  StartWith({});
  const THttpReply reply = Page("/eventlog.html?filter=%22%3E%3Cscript%3E%7B%25PORT%25%7D+x%26y");
  EXPECT_EQ(reply.Status, 200);
  EXPECT_EQ(reply.Body.find("<script>"), std::string::npos);
  EXPECT_NE(
      reply.Body.find("name=\"filter\" value=\"&quot;&gt;&lt;script&gt;&#123;%PORT%} x&amp;y\""),
      std::string::npos)
      << reply.Body;
  EXPECT_EQ(LinkOf(reply.Body, "&lt&lt"),
            "eventlog.html?page=1&filter=%22%3E%3Cscript%3E%7B%25PORT%25%7D%20x%26y");
  EXPECT_EQ(LinkOf(reply.Body, "&gt"),
            "eventlog.html?page=2&filter=%22%3E%3Cscript%3E%7B%25PORT%25%7D%20x%26y");
}

TEST_F(Console, ARunawayFilterFailsWhileConnectionsKeepLogging) {
  StartWith({});
  {
    THelloClient client(port_);
    client.Send("Sync " + std::string(40, 'a') + "!#");
    EXPECT_EQ(client.ReadLine().substr(0, 4), "401 ");
  }
  std::atomic<bool> stop{false};
  std::atomic<int> hellos{0};
  std::thread logger([&] {
    THelloClient client(port_);
    while (!stop) {
      client.Hello();
      ++hellos;
    }
  });
  const THttpReply reply = Page("/eventlog.html?filter=%28a%2B%29%2B%23");
  const int before = hellos.load();
  // The log is free again: the connection goes on adding.
  for (int i = 0; i < 2000 && hellos.load() < before + 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const int after = hellos.load();
  stop = true;
  logger.join();
  EXPECT_EQ(reply.Status, 500);
  EXPECT_NE(reply.Body.find("match limit"), std::string::npos) << reply.Body;
  EXPECT_GE(after, before + 3);
}

}  // namespace
}  // namespace ormelin
