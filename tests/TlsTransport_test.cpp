// TLS under a connection, both ends in one process over an in-memory pipe:
// who is trusted and who is refused and why, the bytes a connection had
// read ahead before the handshake, whole streams both ways, and a peer that
// sends a record a byte at a time against a read limit.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "net/NetErrors.h"
#include "net/TCPConnection.h"
#include "net/TlsTransport.h"
#include "platform/Streams.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

// One direction of the pipe.
struct TPipeBuffer {
  std::mutex Lock;
  std::condition_variable Changed;
  std::deque<char> Bytes;
  bool Closed = false;
};

// One end of an in-memory connection. A read that would wait longer than a
// few seconds fails the test instead of hanging it.
class TPipeEnd : public TIOHandler {
 public:
  TPipeEnd(std::shared_ptr<TPipeBuffer> in, std::shared_ptr<TPipeBuffer> out)
      : in_(std::move(in)), out_(std::move(out)) {}
  ~TPipeEnd() override { Shutdown(); }

  size_t Receive(void* buffer, size_t count) override {
    std::unique_lock<std::mutex> lock(in_->Lock);
    if (!in_->Changed.wait_for(lock, std::chrono::seconds(20),
                               [&] { return !in_->Bytes.empty() || in_->Closed; })) {
      throw std::runtime_error("the reader would wait for ever");
    }
    return Take(buffer, count);
  }
  bool WaitReadable(int timeoutMs) override {
    std::unique_lock<std::mutex> lock(in_->Lock);
    return in_->Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return !in_->Bytes.empty() || in_->Closed; });
  }
  std::optional<size_t> TryReceive(void* buffer, size_t count) override {
    std::unique_lock<std::mutex> lock(in_->Lock);
    if (in_->Bytes.empty()) return in_->Closed ? std::optional<size_t>(0) : std::nullopt;
    return Take(buffer, count);
  }
  size_t Send(const void* buffer, size_t count) override {
    std::lock_guard<std::mutex> lock(out_->Lock);
    if (out_->Closed) return 0;
    const char* bytes = static_cast<const char*>(buffer);
    out_->Bytes.insert(out_->Bytes.end(), bytes, bytes + count);
    out_->Changed.notify_all();
    return count;
  }
  void Shutdown() override {
    for (auto* buffer : {in_.get(), out_.get()}) {
      std::lock_guard<std::mutex> lock(buffer->Lock);
      buffer->Closed = true;
      buffer->Changed.notify_all();
    }
  }
  std::string PeerAddress() const override { return "127.0.0.1"; }
  int PeerPort() const override { return 1; }

 private:
  size_t Take(void* buffer, size_t count) {
    const size_t taken = std::min(count, in_->Bytes.size());
    std::copy_n(in_->Bytes.begin(), taken, static_cast<char*>(buffer));
    in_->Bytes.erase(in_->Bytes.begin(), in_->Bytes.begin() + static_cast<ptrdiff_t>(taken));
    return taken;
  }

  std::shared_ptr<TPipeBuffer> in_;
  std::shared_ptr<TPipeBuffer> out_;
};

struct TPipe {
  std::shared_ptr<TPipeBuffer> ToServer = std::make_shared<TPipeBuffer>();
  std::shared_ptr<TPipeBuffer> ToClient = std::make_shared<TPipeBuffer>();
  std::unique_ptr<TTCPConnection> Server() {
    return std::make_unique<TTCPConnection>(std::make_unique<TPipeEnd>(ToServer, ToClient));
  }
  std::unique_ptr<TTCPConnection> Client() {
    return std::make_unique<TTCPConnection>(std::make_unique<TPipeEnd>(ToClient, ToServer));
  }
};

// The certificates of the cases, made once: a private authority and what it
// issued, and self-signed ones.
struct TIdentities {
  TTlsIdentity Authority, Localhost, Expired, OtherHost, SelfSigned, ClientOwn;
  std::string AuthorityFile;
  testing::TTempFolder Folder;

  TIdentities() {
    TTlsCertificateRequest authority;
    authority.CommonName = "Test authority";
    authority.CertificateAuthority = true;
    Authority = MakeTlsIdentity(authority);
    TTlsCertificateRequest issued;
    issued.Issuer = &Authority;
    issued.CommonName = "localhost";
    issued.HostNames = {"localhost", "127.0.0.1"};
    Localhost = MakeTlsIdentity(issued);
    issued.ValidFromSeconds = -10 * 86400;
    issued.ValidForSeconds = 86400;
    Expired = MakeTlsIdentity(issued);
    issued = {};
    issued.Issuer = &Authority;
    issued.CommonName = "elsewhere.example";
    issued.HostNames = {"elsewhere.example"};
    OtherHost = MakeTlsIdentity(issued);
    TTlsCertificateRequest own;
    own.CommonName = "Ormelin Server";
    SelfSigned = MakeTlsIdentity(own);
    own.CommonName = "ormelin-client";
    ClientOwn = MakeTlsIdentity(own);
    // The authority is the only one the "system" store holds.
    AuthorityFile = Folder.Path() + "/authority.pem";
    std::ofstream(AuthorityFile) << Authority.CertificatePem;
    setenv("SSL_CERT_FILE", AuthorityFile.c_str(), 1);
    setenv("SSL_CERT_DIR", Folder.Path().c_str(), 1);
  }
};

TIdentities& Identities() {
  static TIdentities identities;
  return identities;
}

using TKind = ETlsHandshakeError::TKind;

TEST(TlsTransport, TrustAndRefusal) {
  TIdentities& ids = Identities();
  const std::string selfSignedPin = CertificateFingerprint(ids.SelfSigned.CertificatePem);
  const std::string otherPin = CertificateFingerprint(ids.ClientOwn.CertificatePem);
  struct TCase {
    const char* Name;
    const TTlsIdentity* ServerIdentity;
    std::string Host;
    std::string Pin;
    bool ClientShowsCertificate;
    std::optional<TKind> Refusal;  // none: the line gets through
    const char* Reason;            // in the refusal's message
  };
  const TCase cases[] = {
      {"pinned self-signed", &ids.SelfSigned, "anything", selfSignedPin, false, {}, ""},
      {"pinned, with a client certificate", &ids.SelfSigned, "x", selfSignedPin, true, {}, ""},
      {"pinned expired, whoever issued it",
       &ids.Expired,
       "x",
       CertificateFingerprint(ids.Expired.CertificatePem),
       false,
       {},
       ""},
      {"wrong pin", &ids.SelfSigned, "localhost", otherPin, false, TKind::PinMismatch, ""},
      {"pin of a trusted certificate that is not this one", &ids.Localhost, "localhost",
       selfSignedPin, false, TKind::PinMismatch, ""},
      {"self-signed without a pin", &ids.SelfSigned, "localhost", "", false, TKind::Untrusted,
       "samopotpisan"},
      {"trusted issuer, right name", &ids.Localhost, "localhost", "", false, {}, ""},
      {"trusted issuer, right address", &ids.Localhost, "127.0.0.1", "", false, {}, ""},
      {"trusted issuer, expired", &ids.Expired, "localhost", "", false, TKind::Untrusted,
       "istekao"},
      {"trusted issuer, other name", &ids.OtherHost, "localhost", "", false, TKind::Untrusted,
       "ne glasi na ime localhost"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TPipe pipe;
    auto server = pipe.Server();
    auto client = pipe.Client();
    auto serverContext = TTlsContext::ForServer(*test.ServerIdentity);
    auto clientContext = TTlsContext::ForClient(
        test.Host, test.Pin, test.ClientShowsCertificate ? ids.ClientOwn : TTlsIdentity{});
    std::string serverSaw;
    std::thread serverSide([&] {
      try {
        server->StartTls(serverContext, 20000);
        serverSaw =
            "fingerprint=" + server->PeerCertificateFingerprint() + " line=" + server->ReadLine();
      } catch (const std::exception& error) {
        serverSaw = std::string("failed: ") + error.what();
      }
    });
    std::optional<TKind> refusal;
    std::string message, shown;
    try {
      client->StartTls(clientContext, 20000);
      EXPECT_TRUE(client->IsTls());
      EXPECT_EQ(client->PeerCertificateFingerprint(),
                CertificateFingerprint(test.ServerIdentity->CertificatePem));
      client->WriteLine("Hello");
    } catch (const ETlsHandshakeError& error) {
      refusal = error.Kind();
      message = error.Message();
      shown = error.PeerFingerprint();
    }
    client->Disconnect();
    serverSide.join();
    EXPECT_EQ(refusal, test.Refusal) << message;
    if (test.Refusal) {
      // Nothing of the protocol reached the server, and the user is shown
      // what to pin.
      EXPECT_EQ(serverSaw.find("line="), std::string::npos) << serverSaw;
      EXPECT_EQ(shown, CertificateFingerprint(test.ServerIdentity->CertificatePem));
      EXPECT_NE(message.find(test.Reason), std::string::npos) << message;
    } else {
      const std::string expected =
          test.ClientShowsCertificate ? CertificateFingerprint(ids.ClientOwn.CertificatePem) : "";
      EXPECT_EQ(serverSaw, "fingerprint=" + expected + " line=Hello");
    }
  }
}

TEST(TlsTransport, PeersThatDoNotSpeakTls) {
  TIdentities& ids = Identities();
  const std::string refusal = "500-This port speaks TLS only\r\n500 Better luck next time\r\n";
  struct TCase {
    const char* Name;
    bool TestServer;   // the server's handshake against a raw peer, else the client's
    std::string Peer;  // what the raw peer sends
    TKind Kind;
    bool RefusalSent;  // the raw peer gets the refusal in the clear
  };
  const TCase cases[] = {
      {"plain client on a TLS port, silent", true, "", TKind::Silent, true},
      {"plain client on a TLS port, talking", true, "Hello\r\n", TKind::PlainPeer, true},
      {"TLS client on a plain port", false, "200 Ready\r\n", TKind::PlainPeer, false},
      {"silent server", false, "", TKind::Silent, false},
      {"peer closes at once", true, "\x16\x03\x01", TKind::Closed, false},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Name);
    TPipe pipe;
    auto tested = test.TestServer ? pipe.Server() : pipe.Client();
    auto raw = test.TestServer ? pipe.Client() : pipe.Server();
    auto context = test.TestServer ? TTlsContext::ForServer(ids.SelfSigned)
                                   : TTlsContext::ForClient("localhost", "", TTlsIdentity{});
    if (!test.Peer.empty()) raw->Write(test.Peer);
    if (test.Kind == TKind::Closed) raw->Disconnect();
    try {
      tested->StartTls(context, 300, test.TestServer ? refusal : "");
      ADD_FAILURE() << "the handshake succeeded";
    } catch (const ETlsHandshakeError& error) {
      EXPECT_EQ(error.Kind(), test.Kind) << error.Message();
    }
    if (test.Kind == TKind::Closed) continue;
    tested->Disconnect();
    std::string got;
    try {
      // What came back in the clear (a client's hello is binary).
      for (;;) got += raw->ReadLine() + "\r\n";
    } catch (const Exception&) {
    }
    EXPECT_EQ(got == refusal, test.RefusalSent) << got;
  }
}

TEST(TlsTransport, BytesReadAheadAndStreamsBothWays) {
  TIdentities& ids = Identities();
  const std::string pin = CertificateFingerprint(ids.SelfSigned.CertificatePem);
  TPipe pipe;
  auto server = pipe.Server();
  auto client = pipe.Client();
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  std::string serverGot;
  std::thread serverSide([&] {
    // A header line comes in the same piece as the TLS hello, as a
    // balancer's header would: the line is read, the rest must go to TLS.
    {
      std::unique_lock<std::mutex> lock(pipe.ToServer->Lock);
      pipe.ToServer->Changed.wait(lock, [&] { return pipe.ToServer->Bytes.size() > 8; });
    }
    EXPECT_EQ(server->ReadLine(), "HEADER");
    EXPECT_GT(server->BufferedBytes(), 0u);
    server->StartTls(TTlsContext::ForServer(ids.SelfSigned), 20000);
    EXPECT_EQ(server->ReadLine(), "Sync x");
    TMemoryStream received;
    server->ReadStreamBytes(received, static_cast<int64_t>(big.size()));
    serverGot = received.Data();
    TMemoryStream answer(big);
    server->WriteLine("202 Sync Started");
    server->WriteStreamBytes(answer);
  });
  auto context = TTlsContext::ForClient("localhost", pin, TTlsIdentity{});
  client->Write("HEADER\r\n");
  client->StartTls(context, 20000);
  client->WriteLine("Sync x");
  TMemoryStream sent(big);
  client->WriteStreamBytes(sent);
  EXPECT_EQ(client->ReadLine(), "202 Sync Started");
  TMemoryStream received;
  client->ReadStreamBytes(received, static_cast<int64_t>(big.size()));
  serverSide.join();
  EXPECT_TRUE(serverGot == big);
  EXPECT_TRUE(received.Data() == big);
  EXPECT_NE(client->TlsDescription().find("TLSv1.3"), std::string::npos);
}

TEST(TlsTransport, ARecordSentByteByByteDoesNotOutlastTheReadLimit) {
  TIdentities& ids = Identities();
  TPipe pipe;
  auto server = pipe.Server();
  auto client = pipe.Client();
  std::thread clientSide([&] {
    client->StartTls(
        TTlsContext::ForClient("x", CertificateFingerprint(ids.SelfSigned.CertificatePem)), 20000);
  });
  server->StartTls(TTlsContext::ForServer(ids.SelfSigned), 20000);
  clientSide.join();
  // The head of an application-data record and a few of its bytes, then
  // nothing.
  {
    std::lock_guard<std::mutex> lock(pipe.ToServer->Lock);
    for (char c : std::string("\x17\x03\x03\x00\x40xyz", 8)) pipe.ToServer->Bytes.push_back(c);
    pipe.ToServer->Changed.notify_all();
  }
  server->LimitReads(300);
  EXPECT_THROW(server->ReadLine(), EReadTimeLimit);
}

TEST(TlsTransport, PinsAndFingerprints) {
  const std::string colons =
      "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:"
      "67:89";
  std::string bare;
  for (char c : colons)
    if (c != ':') bare += c;
  struct TCase {
    std::string Text;
    std::optional<std::string> Pin;
  };
  const TCase cases[] = {
      {"SHA256:" + colons, colons},
      {"sha256:" + bare, colons},
      {"SHA256:" + std::string("abcdef0123456789abcdef0123456789abcdef0123456789abcdef0123456789"),
       colons},
      {colons, std::nullopt},                                   // no prefix
      {"SHA1:" + bare, std::nullopt},                           // another digest
      {"SHA256:" + bare.substr(2), std::nullopt},               // too short
      {"SHA256:" + bare + "00", std::nullopt},                  // too long
      {"SHA256:" + colons.substr(0, 94) + "8G", std::nullopt},  // not hexadecimal
      {"SHA256:AB" + colons.substr(3) + ":", std::nullopt},     // colons out of place
      {"SHA256:" + colons.substr(0, 2) + "-" + colons.substr(3), std::nullopt},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Text);
    EXPECT_EQ(ParsePin(test.Text), test.Pin);
  }
  // A fingerprint reads back as a pin, and differs between certificates.
  TIdentities& ids = Identities();
  const std::string fingerprint = CertificateFingerprint(ids.SelfSigned.CertificatePem);
  EXPECT_EQ(ParsePin("SHA256:" + fingerprint), fingerprint);
  EXPECT_NE(fingerprint, CertificateFingerprint(ids.ClientOwn.CertificatePem));
  EXPECT_THROW(CertificateFingerprint("not a certificate"), ETlsIdentityError);
  // A key that is not the certificate's is refused before any connection.
  TTlsIdentity mixed{ids.SelfSigned.CertificatePem, ids.ClientOwn.KeyPem};
  EXPECT_THROW(TTlsContext::ForServer(mixed), ETlsIdentityError);
}

}  // namespace
}  // namespace ormelin
