// The service module behind a proxy and with projects limited to some
// clients: who is believed to be the client, who is served, what a refused
// client hears and what the log says.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "net/HTTPRequest.h"
#include "net/TCPServer.h"
#include "server/usvOrmelinS.h"
#include "support/ModuleOnLoopback.h"
#include "support/ScriptedIO.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"
#include "web/ResourceGet.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TRawClient;
using test::WriteFile;

const std::string kPrint =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:"
    "89";

bool LogHas(TZevanOrmelinS& module, const std::string& fragment) {
  for (const std::string& text : test::LogTexts(module)) {
    if (text.find(fragment) != std::string::npos) return true;
  }
  return false;
}

// A binary PROXY header for the IPv4 client a.b.c.d.
std::string BinaryHeader(const std::array<uint8_t, 4>& client) {
  std::string header("\r\n\r\n\0\r\nQUIT\n\x21\x11\x00\x0C", 16);
  header.append(client.begin(), client.end());
  return header + std::string("\x7F\x00\x00\x01\xC3\x50\x07\xB6", 8);
}

std::string TextHeader(const std::string& client) {
  return "PROXY TCP4 " + client + " 127.0.0.1 50000 1974\r\n";
}

const char* kConfig =
    "<xml><serversettings><defaultport>%d</defaultport>"
    "<proxyfrom>127.0.0.1</proxyfrom></serversettings><projects>"
    "<project><name>Demo</name><path>%s</path></project>"
    "<project><name>Office</name><path>%s</path><allow>198.51.100.0/24 ::1</allow></project>"
    "<project><name>Signed</name><path>%s</path><allow>SHA256:%s</allow></project>"
    "</projects></xml>";

class GuardedModule : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string project = folder_.Path() + "/project";
    fs::create_directory(project);
    WriteFile(project + "/a.txt", "alpha");
    module_ = test::StartModule(
        folder_.Path(),
        [&project](int port) {
          char config[2048];
          std::snprintf(config, sizeof config, kConfig, port, project.c_str(), project.c_str(),
                        project.c_str(), kPrint.c_str());
          return std::string(config);
        },
        port_);
    ASSERT_NE(module_, nullptr) << "no module could start";
  }

  testing::TTempFolder folder_;
  int port_ = 0;
  std::unique_ptr<TZevanOrmelinS> module_;
};

struct TVisit {
  const char* Label;
  const char* From;  // the client's own address
  std::string Header;
  const char* Command;
  const char* Reply;  // first line after the greeting; nullptr: no greeting, closed
  bool Greeted;
  const char* Logged;  // a fragment of the log
};

TEST_F(GuardedModule, ProxiesAreBelievedOnlyFromProxyFromAndListsAnswerAsIfNoProject) {
  const TVisit visits[] = {
      {"relayed, allowed", "127.0.0.1", TextHeader("198.51.100.7"), "Sync Office",
       "202 Sync Started", true, "[198.51.100.7]</A> sinkronizira projekt Office"},
      {"direct from the proxy's machine", "127.0.0.1", "", "Sync Demo", "202 Sync Started", true,
       "[127.0.0.1]</A> sinkronizira projekt Demo"},
      {"relayed in binary, refused", "127.0.0.1", BinaryHeader({192, 0, 2, 9}), "Sync Office",
       "401 Project 'Office' does not exist", true,
       "[192.0.2.9]</A> odbijen za projekt Office: adresa 192.0.2.9 nije na popisu"},
      {"relayed, open project", "127.0.0.1", BinaryHeader({192, 0, 2, 9}), "Hello", "201 Ready",
       true, "Hello od <A HREF=\"http://192.0.2.9:"},
      {"direct, refused by address", "127.0.0.2", "", "Sync oFFICE",
       "401 Project 'oFFICE' does not exist", true,
       "odbijen za projekt oFFICE: adresa 127.0.0.2 nije"},
      {"certificates over plain TCP", "127.0.0.1", TextHeader("198.51.100.7"), "Sync Signed",
       "401 Project 'Signed' does not exist", true,
       "odbijen za projekt Signed: projekt se poslu\x9Euje samo preko TLS-a"},
      {"a file of a refused project", "127.0.0.2", "", "GetFile Office \\a.txt", "500-Klijent ",
       true, "odbijen za projekt Office: adresa 127.0.0.2"},
      {"a header from elsewhere", "127.0.0.2", TextHeader("198.51.100.7"), nullptr, nullptr, true,
       "Odbijena veza s adrese 127.0.0.2: zaglavlje PROXY"},
      {"a binary header from elsewhere", "127.0.0.2", BinaryHeader({198, 51, 100, 7}), nullptr,
       nullptr, true, "Odbijena veza s adrese 127.0.0.2: zaglavlje PROXY"},
      {"a broken header from the proxy", "127.0.0.1", "PROXY TCP4 1.2.3.4 5.6.7.8 1 2 3\r\n",
       nullptr, nullptr, false, "Odbijena veza s posrednika 127.0.0.1: PROXY redak"},
  };
  for (const TVisit& v : visits) {
    TRawClient client("127.0.0.1", port_, v.From);
    client.Send(v.Header);
    if (v.Greeted) {
      ASSERT_EQ(client.ReadLine(), "200 Ready\r\n") << v.Label;
    }
    if (v.Reply == nullptr) {
      EXPECT_TRUE(client.WaitClosed()) << v.Label;
    } else {
      client.Send(std::string(v.Command) + "\r\n");
      EXPECT_EQ(client.ReadLine().rfind(v.Reply, 0), 0u) << v.Label;
    }
    client.Close();
    EXPECT_TRUE(LogHas(*module_, v.Logged)) << v.Label;
  }
}

// What a refused client hears is byte for byte what it hears for a project
// that is not there.
TEST_F(GuardedModule, ARefusedProjectCannotBeToldFromAMissingOne) {
  // GetFile's failure closes the connection; Sync's 401 leaves it open.
  auto answer = [this](const std::string& command) {
    TRawClient client("127.0.0.1", port_, "127.0.0.2");
    EXPECT_EQ(client.ReadLine(), "200 Ready\r\n");
    client.Send(command + "\r\n");
    return command.rfind("Sync", 0) == 0 ? client.ReadLine() : client.ReadUntilClose();
  };
  auto named = [](std::string text, const std::string& from, const std::string& to) {
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
  };
  EXPECT_EQ(named(answer("GetFile Office \\a.txt"), "Office", "Nope"),
            answer("GetFile Nope \\a.txt"));
  EXPECT_EQ(named(answer("Sync Office"), "Office", "Nope"), answer("Sync Nope"));
}

// A transport standing for a TLS connection whose peer showed a certificate.
class TCertifiedIO : public test::TScriptedIO {
 public:
  TCertifiedIO(std::vector<std::string> pieces, test::TScriptedLog* log, std::string print)
      : TScriptedIO(std::move(pieces), log), print_(std::move(print)) {}
  bool IsTls() const override { return true; }
  std::string PeerCertificateFingerprint() const override { return print_; }

 private:
  std::string print_;
};

TEST_F(GuardedModule, ACertificateLimitedProjectServesTheListedCertificateOnly) {
  struct TCase {
    std::string Print;
    const char* Reply;
  };
  const TCase cases[] = {
      {kPrint, "202 Sync Started\r\n"},
      {"00" + kPrint.substr(2), "401 Project 'Signed' does not exist\r\n"},
      {"", "401 Project 'Signed' does not exist\r\n"},
  };
  for (const TCase& c : cases) {
    test::TScriptedLog sent;
    TContext context(module_->TCPServer(),
                     std::make_unique<TTCPConnection>(std::make_unique<TCertifiedIO>(
                         std::vector<std::string>{"Sync Signed\r\n0\r\n"}, &sent, c.Print)));
    try {
      module_->TCPServerExecute(context);
    } catch (const std::exception&) {
    }
    EXPECT_EQ(sent.Sent.substr(0, std::string(c.Reply).size()), c.Reply) << c.Print;
  }
  EXPECT_TRUE(LogHas(*module_, "certifikat SHA256:00:CD"));
  EXPECT_TRUE(LogHas(*module_, "klijent nije pokazao certifikat"));
}

TEST_F(GuardedModule, TheStatusPageTellsWhichProjectsAreOpen) {
  THTTPRequestInfo request;
  const std::string page = module_->FillTemplate(GetResourceText("INDEX", "TEXT"), request);
  EXPECT_NE(page.find("<p class=\"white\">Demo: otvoren<br>Office: ograni\xE8"
                      "en adresama<br>Signed: ograni\xE8"
                      "en certifikatima</p>"),
            std::string::npos)
      << page;
}

TEST(GuardedSettings, ProxyFromAndAllowListsAreWrittenBackAsRead) {
  testing::TTempFolder folder;
  const std::string path = folder.Path() + "/orServer.xml";
  WriteFile(path,
            "<xml><serversettings><defaultport>1974</defaultport>"
            "<PROXYFROM> 10.0.0.1  bogus </PROXYFROM></serversettings><projects>"
            "<project><name>A</name><path>/a</path><Allow> 10.0.0.0/8\tsha256:ab </Allow></project>"
            "<project><name>B</name><path>/b</path></project>"
            "<project><name>C</name><path>/c</path><allow></allow></project></projects></xml>");
  TZevanOrmelinS module(path);
  module.LoadSettings();
  EXPECT_TRUE(LogHas(module, "Neispravna adresa u proxyfrom, zanemarena: bogus"));
  EXPECT_TRUE(LogHas(module, "projekta A ne dopu\x9Ata nikoga: sha256:ab"));
  using L = TProjectAccess::TLimit;
  EXPECT_EQ(module.Projects().Items(0).Access.Limit(), L::AddressesAndCertificates);
  EXPECT_EQ(module.Projects().Items(1).Access.Limit(), L::Open);
  EXPECT_EQ(module.Projects().Items(2).Access.Limit(), L::Nobody);
  {
    TMutexLock lock(module.SettingsLock);
    module.SaveSettings();
  }
  EXPECT_EQ(ReadFile(path),
            "<xml>\r\n<serversettings>\r\n<defaultport>1974</defaultport>\r\n"
            "<proxyfrom>10.0.0.1  bogus</proxyfrom>\r\n</serversettings>\r\n<projects>\r\n"
            "<project>\r\n<name>A</name>\r\n<path>/a</path>\r\n"
            "<allow>10.0.0.0/8\tsha256:ab</allow>\r\n</project>\r\n"
            "<project>\r\n<name>B</name>\r\n<path>/b</path>\r\n</project>\r\n"
            "<project>\r\n<name>C</name>\r\n<path>/c</path>\r\n<allow></allow>\r\n</project>\r\n"
            "</projects>\r\n</xml>\r\n");
}

}  // namespace
}  // namespace ormelin
