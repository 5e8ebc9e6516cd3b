// The real server with a TLS port and ormelin-client on loopback: a pinned
// mirror and one with a client certificate complete byte for byte; every
// way a TLS run can go wrong ends with a Croatian message, exit code 1 and
// nothing written.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/TlsTransport.h"
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

// A free port other than the pair's.
int OtherFreePort(int pair) {
  for (;;) {
    const int port = test::FreePortPair();
    if (port != pair && port != pair + 1 && port + 1 != pair) return port;
  }
}

// A server with the project and a TLS port; `extra` goes into
// serversettings. Returns the TLS port; `plainPort` gets the other.
int StartTlsServer(TServerProcess& server, const fs::path& root, int& plainPort,
                   const std::string& extra = {}) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    plainPort = test::FreePortPair();
    const int tlsPort = OtherFreePort(plainPort);
    std::string config = test::ConfigText(plainPort, {{"Demo", root.string()}});
    // The same folder once more, for a certificate nobody has.
    config.insert(config.find("</projects>"), "<project><name>Signed</name><path>" + root.string() +
                                                  "</path><allow>SHA256:" + std::string(64, '0') +
                                                  "</allow></project>\r\n");
    const std::string close = "</serversettings>";
    config.insert(config.find(close),
                  "<tlsport>" + std::to_string(tlsPort) + "</tlsport>\r\n" + extra);
    server.WriteConfig(config);
    if (server.StartAndWait(plainPort) && server.WaitForPort(tlsPort) &&
        server.WaitForPort(plainPort + 1)) {
      return tlsPort;
    }
    server.Stop();
  }
  throw std::runtime_error("the server could not be started: " + server.Stderr());
}

// A console page as the server sends it.
std::string ConsolePage(int plainPort, const std::string& path) {
  test::TRawClient console("127.0.0.1", plainPort + 1);
  console.Send("GET " + path + " HTTP/1.0\r\n\r\n");
  return console.ReadUntilClose();
}

// The names a folder holds, or none when it does not exist.
std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) names.push_back(entry.path().filename());
  }
  return names;
}

class TlsMirror : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(temp_.Path()) / "project";
    WriteFile(root_ / "small.txt", "malo");
    WriteFile(root_ / "sub" / "large.bin", Pattern(6 << 20, 7));
    tlsPort_ = StartTlsServer(server_, root_, plainPort_);
    // The server made its own certificate beside its configuration, with
    // the key for the service's eyes only.
    const fs::path key = fs::path(server_.Folder()) / "orServer.key";
    struct stat status {};
    ASSERT_EQ(stat(key.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    fingerprint_ = CertificateFingerprint(ReadFile(fs::path(server_.Folder()) / "orServer.crt"));
    EXPECT_EQ(server_.Stderr().find("ZevanOrmelinS:"), std::string::npos) << server_.Stderr();
    // The status page and the event log show the fingerprint to pin.
    EXPECT_NE(ConsolePage(plainPort_, "/").find("SHA256:" + fingerprint_), std::string::npos);
    EXPECT_NE(ConsolePage(plainPort_, "/eventlog.html").find("SHA256:" + fingerprint_),
              std::string::npos);
  }

  void ExpectMirrored(const fs::path& copy) {
    EXPECT_EQ(ReadFile(copy / "small.txt"), "malo");
    EXPECT_TRUE(ReadFile(copy / "sub" / "large.bin") == ReadFile(root_ / "sub" / "large.bin"));
  }

  testing::TTempFolder temp_;
  fs::path root_;
  TServerProcess server_;
  int plainPort_ = 0;
  int tlsPort_ = 0;
  std::string fingerprint_;
};

TEST_F(TlsMirror, PinnedRunsMirrorTheProject) {
  const fs::path certs = fs::path(temp_.Path()) / "certs";
  TProgramResult made = RunClient({"--make-cert", certs.string()});
  ASSERT_EQ(made.ExitCode, 0) << made.Stderr;
  const std::string clientPin = CertificateFingerprint(ReadFile(certs / "client.crt"));
  EXPECT_NE(made.Stdout.find("SHA256:" + clientPin), std::string::npos) << made.Stdout;
  // A second --make-cert leaves the first pair as it is.
  EXPECT_EQ(RunClient({"--make-cert", certs.string()}).ExitCode, 1);
  EXPECT_EQ(CertificateFingerprint(ReadFile(certs / "client.crt")), clientPin);

  // The pin as the log shows it, and without colons in lower case.
  std::string bare;
  for (char c : fingerprint_)
    if (c != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::vector<std::vector<std::string>> runs = {
      {"--pin", "SHA256:" + fingerprint_},
      {"--pin", "sha256:" + bare, "--cert", (certs / "client.crt").string(), "--key",
       (certs / "client.key").string()},
  };
  int run = 0;
  for (const auto& options : runs) {
    const fs::path copy = fs::path(temp_.Path()) / ("copy" + std::to_string(run++));
    std::vector<std::string> arguments = options;
    for (const std::string& argument :
         {std::string("-q"), std::string("-p"), std::to_string(tlsPort_), std::string("127.0.0.1"),
          std::string("Demo"), copy.string()}) {
      arguments.push_back(argument);
    }
    TProgramResult result = RunClient(arguments);
    EXPECT_EQ(result.ExitCode, 0) << result.Stderr;
    ExpectMirrored(copy);
  }
}

TEST_F(TlsMirror, EveryFailureSaysWhyAndWritesNothing) {
  // A second server whose certificate, issued by an authority the client
  // trusts, has expired.
  TTlsCertificateRequest authorityRequest;
  authorityRequest.CommonName = "Test authority";
  authorityRequest.CertificateAuthority = true;
  const TTlsIdentity authority = MakeTlsIdentity(authorityRequest);
  TTlsCertificateRequest expiredRequest;
  expiredRequest.Issuer = &authority;
  expiredRequest.CommonName = "127.0.0.1";
  expiredRequest.HostNames = {"127.0.0.1", "localhost"};
  expiredRequest.ValidFromSeconds = -30 * 86400;
  expiredRequest.ValidForSeconds = 86400;
  const TTlsIdentity expired = MakeTlsIdentity(expiredRequest);
  const fs::path files = fs::path(temp_.Path()) / "files";
  WriteFile(files / "authority.pem", authority.CertificatePem);
  WriteFile(files / "expired.crt", expired.CertificatePem);
  WriteFile(files / "expired.key", expired.KeyPem);
  TServerProcess expiredServer;
  int expiredPlainPort = 0;
  const int expiredPort =
      StartTlsServer(expiredServer, root_, expiredPlainPort,
                     "<tlscert>" + (files / "expired.crt").string() + "</tlscert>\r\n<tlskey>" +
                         (files / "expired.key").string() + "</tlskey>\r\n");
  // Cuts each connection, both ways, once 3 MiB have come from the server.
  std::atomic<bool> cut{false};
  TRelay relay({tlsPort_}, [&cut](const TRelay::TServerPiece& piece) {
    if (piece.Before + piece.Size < (3 << 20)) return true;
    cut = true;
    return false;
  });
  const fs::path certs = fs::path(temp_.Path()) / "certs";
  ASSERT_EQ(RunClient({"--make-cert", certs.string()}).ExitCode, 0);

  const std::string pin = "SHA256:" + fingerprint_;
  const std::string wrongPin = "SHA256:" + CertificateFingerprint(expired.CertificatePem);
  struct TCase {
    const char* Name;
    std::vector<std::string> Options;
    int Port;
    std::vector<std::string> Said;  // UTF-8
    std::string Project = "Demo";
  };
  const std::vector<TCase> cases = {
      {"wrong pin",
       {"--pin", wrongPin},
       tlsPort_,
       {"nije onaj zadan s --pin", "SHA256:" + fingerprint_}},
      {"self-signed without a pin",
       {"--tls"},
       tlsPort_,
       {"samopotpisan", "pokrenite ponovo s --pin SHA256:" + fingerprint_}},
      {"expired without a pin",
       {"--tls"},
       expiredPort,
       {"istekao", "--pin SHA256:" + CertificateFingerprint(expired.CertificatePem)}},
      {"plain client on the TLS port", {}, tlsPort_, {"govori samo TLS"}},
      {"TLS client on the plain port", {"--pin", pin}, plainPort_, {"ne govori TLS"}},
      {"client certificate not on the project's list",
       {"--pin", pin, "--cert", (certs / "client.crt").string(), "--key",
        (certs / "client.key").string()},
       tlsPort_,
       {"Signed"},
       "Signed"},
      {"TLS cut in the middle of a file",
       {"--pin", pin, "--retries", "0"},
       relay.Port(),
       {"large.bin"}},
  };
  // The expired server's authority is the one the client's store holds.
  setenv("SSL_CERT_FILE", (files / "authority.pem").c_str(), 1);
  setenv("SSL_CERT_DIR", files.c_str(), 1);
  int index = 0;
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    const fs::path copy = fs::path(temp_.Path()) / ("failed" + std::to_string(index++));
    std::vector<std::string> arguments = test.Options;
    for (const std::string& argument :
         {std::string("-q"), std::string("--timeout"), std::string("30"), std::string("-p"),
          std::to_string(test.Port), std::string("127.0.0.1"), test.Project, copy.string()}) {
      arguments.push_back(argument);
    }
    TProgramResult result = RunClient(arguments);
    EXPECT_EQ(result.ExitCode, 1) << result.Stderr;
    EXPECT_FALSE(result.TimedOut);
    for (const std::string& said : test.Said) {
      EXPECT_NE(result.Stderr.find(said), std::string::npos) << result.Stderr;
    }
    // Nothing of the project, no half of a file.
    for (const std::string& name : Entries(copy)) EXPECT_EQ(name, "small.txt") << name;
    EXPECT_FALSE(fs::exists(copy / "sub" / "large.bin"));
  }
  EXPECT_TRUE(cut);
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
  // Both servers logged the clients they refused, and still serve.
  EXPECT_NE(ConsolePage(plainPort_, "/eventlog.html").find("TLS veza s 127.0.0.1 odbijena"),
            std::string::npos);
  EXPECT_TRUE(test::TRawClient::CanConnect("127.0.0.1", tlsPort_));
}

}  // namespace
}  // namespace ormelin
