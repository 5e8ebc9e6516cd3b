// TLS under the synchronisation protocol: the settings of each side
// (TTlsContext), the transport that carries a connection's bytes inside TLS
// (TTlsHandler, a TIOHandler over the connection's own transport, so that
// the protocol above it reads and writes as on a socket), and the
// identities (self-signed key pairs, SHA-256 fingerprints, pins). Every
// call into the TLS library stays in this unit.
//
// Threading: a context is immutable once made and may be shared by any
// number of connections on any threads. A handler belongs to its
// connection's thread; only Shutdown() may come from another thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/IOHandler.h"
#include "platform/Exceptions.h"

namespace ormelin {

// A certificate or key that cannot be read or used; the message says which
// and why.
class ETlsIdentityError : public Exception {
 public:
  using Exception::Exception;
};

// A TLS handshake that did not succeed. Kind tells the caller what to say;
// PeerFingerprint() is the fingerprint of the certificate the peer showed,
// when it showed one.
class ETlsHandshakeError : public Exception {
 public:
  enum class TKind {
    PlainPeer,    // the peer answered with the plain protocol, not TLS
    Silent,       // nothing came within the time allowed
    Closed,       // the peer closed during the handshake
    Untrusted,    // no pin; the certificate is not trusted for the host name
    PinMismatch,  // the certificate is not the pinned one
    Failed,       // anything else the TLS library refused
  };
  ETlsHandshakeError(TKind kind, std::string message, std::string peerFingerprint = {})
      : Exception(std::move(message)), kind_(kind), peerFingerprint_(std::move(peerFingerprint)) {}
  TKind Kind() const { return kind_; }
  const std::string& PeerFingerprint() const { return peerFingerprint_; }

 private:
  TKind kind_;
  std::string peerFingerprint_;
};

// A failure of TLS after the handshake (a record that does not decrypt, a
// fatal alert): the connection is of no further use.
class ETlsStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A certificate (PEM, the leaf first, then any chain) and its private key
// (PEM).
struct TTlsIdentity {
  std::string CertificatePem;
  std::string KeyPem;
};

// What a new certificate says of itself. Dates are seconds from now
// (negative: in the past). Without an issuer it signs itself.
struct TTlsCertificateRequest {
  std::string CommonName;
  std::vector<std::string> HostNames;  // subject alternative names (DNS)
  int64_t ValidFromSeconds = -3600;
  int64_t ValidForSeconds = int64_t{3650} * 86400 * 3;
  bool CertificateAuthority = false;
  const TTlsIdentity* Issuer = nullptr;
};

// A new ECDSA P-256 key and a certificate for it.
TTlsIdentity MakeTlsIdentity(const TTlsCertificateRequest& request);

// The SHA-256 fingerprint of the first certificate in `certificatePem`, as
// 32 upper-case hexadecimal pairs separated by colons. Raises
// ETlsIdentityError when there is no readable certificate.
std::string CertificateFingerprint(std::string_view certificatePem);

// A pin as the user writes it: "SHA256:" (any case) and 64 hexadecimal
// digits, in any case, with or without a colon between each pair. The
// fingerprint in the colon-separated upper-case form, or nothing when the
// text is not a pin.
std::optional<std::string> ParsePin(std::string_view text);

// The settings of one side of TLS connections.
class TTlsContext {
 public:
  // A server with its identity; it asks every client for a certificate
  // and takes one of any issuer (the fingerprint decides what it may do),
  // and lets a client without one in. Raises ETlsIdentityError.
  static std::shared_ptr<TTlsContext> ForServer(const TTlsIdentity& identity);
  // A client of `host`. With a pin (a fingerprint as ParsePin gives it)
  // the server's certificate must be that one, whoever signed it and
  // whatever its dates; without one it must be trusted by the system's
  // certificate store and name `host`. The identity, when it has a
  // certificate, is shown to servers that ask. Raises ETlsIdentityError.
  static std::shared_ptr<TTlsContext> ForClient(std::string host, std::string pin,
                                                const TTlsIdentity& identity = {});
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  bool IsServer() const { return server_; }

 private:
  friend class TTlsHandler;
  struct TNative;
  TTlsContext(bool server, std::string host, std::string pin);

  bool server_;
  std::string host_;
  std::string pin_;
  std::unique_ptr<TNative> native_;
};

// A connection's bytes inside TLS, over `inner`, the transport the
// connection had. Bytes received on `inner` before the handshake (read
// ahead by the connection) are given as `received` and come first.
class TTlsHandler : public TIOHandler {
 public:
  TTlsHandler(std::shared_ptr<const TTlsContext> context, std::unique_ptr<TIOHandler> inner,
              std::string received);
  ~TTlsHandler() override;
  TTlsHandler(const TTlsHandler&) = delete;
  TTlsHandler& operator=(const TTlsHandler&) = delete;

  // Runs the handshake; it must end within `timeoutMs` (0: no limit).
  // Raises ETlsHandshakeError; a server sends `plainRefusal` in the clear,
  // when it is not empty, to a peer that speaks the plain protocol or
  // nothing at all.
  void Handshake(int timeoutMs, std::string_view plainRefusal = {});

  size_t Receive(void* buffer, size_t count) override;
  bool WaitReadable(int timeoutMs) override;
  std::optional<size_t> TryReceive(void* buffer, size_t count) override;
  size_t Send(const void* buffer, size_t count) override;
  void Shutdown() override { inner_->Shutdown(); }
  std::string PeerAddress() const override { return inner_->PeerAddress(); }
  int PeerPort() const override { return inner_->PeerPort(); }
  bool IsTls() const override { return true; }
  std::string PeerCertificateFingerprint() const override { return peerFingerprint_; }
  // The protocol version and cipher agreed, for logs ("TLSv1.3
  // TLS_AES_256_GCM_SHA384").
  std::string Description() const;

 private:
  struct TNative;
  // Moves what TLS has to send to the inner transport.
  void Flush();
  // One receive from the inner transport into TLS; false at its close.
  bool Pull();
  // What the library's last failure says, for messages.
  std::string LastError() const;

  std::shared_ptr<const TTlsContext> context_;
  std::unique_ptr<TIOHandler> inner_;
  std::unique_ptr<TNative> native_;
  std::string scratch_;
  std::string peerFingerprint_;
  std::optional<unsigned char> firstByte_;  // the first the peer sent
  bool innerClosed_ = false;
};

}  // namespace ormelin
