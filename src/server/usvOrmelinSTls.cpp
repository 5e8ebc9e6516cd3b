// TZevanOrmelinS: the synchronisation protocol inside TLS on a port of its
// own, and the server's certificate.
#include <string>

#include "net/NetErrors.h"
#include "net/TCPServer.h"
#include "net/TlsTransport.h"
#include "platform/Cp1250.h"
#include "platform/EventLogSink.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"
#include "server/uServerCommands.h"
#include "server/usvOrmelinS.h"

namespace ormelin {
namespace {

constexpr const char* kOwnCertificateName = "orServer.crt";
constexpr const char* kOwnKeyName = "orServer.key";

// The folder part of a path, its last separator included ("" for none).
std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace

std::string TZevanOrmelinS::OwnCertificateFileName() const {
  return FolderOf(ConfigFileName()) + kOwnCertificateName;
}

std::string TZevanOrmelinS::OwnKeyFileName() const {
  return FolderOf(ConfigFileName()) + kOwnKeyName;
}

std::string TZevanOrmelinS::TlsFingerprint() const {
  TMutexLock guard(tlsLock_);
  return tlsFingerprint_;
}

void TZevanOrmelinS::PrepareTls() {
  if (tlsContext_ || tlsPort_.load() == 0) return;
  const int port = tlsPort_.load();
  try {
    if (port == SyncPort() || port == ConsolePort()) {
      throw Exception(Format("TLS port %d je već port sinkronizacije ili konzole"_cp1250, port));
    }
    TTlsIdentity identity;
    if (tlsCertText_ || tlsKeyText_) {
      if (!tlsCertText_ || !tlsKeyText_ || tlsCertText_->empty() || tlsKeyText_->empty()) {
        throw Exception("Uz tlscert mora biti naveden i tlskey, i obratno");
      }
      identity.CertificatePem = ReadFileToString(*tlsCertText_);
      identity.KeyPem = ReadFileToString(*tlsKeyText_);
    } else if (FileExists(OwnCertificateFileName()) || FileExists(OwnKeyFileName())) {
      identity.CertificatePem = ReadFileToString(OwnCertificateFileName());
      identity.KeyPem = ReadFileToString(OwnKeyFileName());
    } else {
      TTlsCertificateRequest request;
      request.CommonName = std::string(DisplayName);
      identity = MakeTlsIdentity(request);
      // The key first: a certificate without its key would be of no use.
      WritePrivateFile(OwnKeyFileName(), identity.KeyPem);
      ReplaceFileContents(OwnCertificateFileName(), identity.CertificatePem);
      Log(Format("Napravljen je novi TLS certifikat poslužitelja: %s"_cp1250,
                 OwnCertificateFileName().c_str()));
    }
    tlsContext_ = TTlsContext::ForServer(identity);
    const std::string fingerprint = CertificateFingerprint(identity.CertificatePem);
    {
      TMutexLock guard(tlsLock_);
      tlsFingerprint_ = fingerprint;
    }
    tlsServer_->SetDefaultPort(port);
    Log(Format("TLS na portu %d, otisak certifikata SHA256:%s", port, fingerprint.c_str()));
  } catch (const std::exception& error) {
    const std::string text = std::string("TLS nije pokrenut: ") + error.what();
    Log("Greška: "_cp1250 + HtmlEscape(text));
    WriteEventLogEntry(ServiceName, text);
  }
}

void TZevanOrmelinS::ActivateTls() {
  if (!tlsContext_) return;
  try {
    tlsServer_->SetActive(true);
  } catch (const std::exception& error) {
    const std::string text = std::string("TLS nije pokrenut: ") + error.what();
    Log("Greška: "_cp1250 + HtmlEscape(text));
    WriteEventLogEntry(ServiceName, text);
  }
}

void TZevanOrmelinS::TlsServerConnect(TContext& context) {
  TTCPConnection& connection = context.Connection();
  // A balancer's PROXY header comes in the clear, ahead of the handshake.
  AcceptProxyHeader(context);
  try {
    connection.StartTls(tlsContext_, kTlsHandshakeWaitMs,
                        FailureLine(kTlsOnlyMessage) + "\r\n" + ReplyLine(kReplyFailure) + "\r\n");
  } catch (const ETlsHandshakeError& error) {
    Log(Format("TLS veza s %s odbijena: %s", connection.PeerAddress().c_str(),
               HtmlEscape(error.Message()).c_str()));
    connection.Disconnect();
    throw;
  }
  connection.WriteLine(ReplyLine(kReplyGreeting));
}

}  // namespace ormelin
