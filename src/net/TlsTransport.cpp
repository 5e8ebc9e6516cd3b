#include "net/TlsTransport.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <vector>

#include "net/NetErrors.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"

namespace ormelin {
namespace {

struct TFreeBio {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct TFreeX509 {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct TFreeKey {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using TBio = std::unique_ptr<BIO, TFreeBio>;
using TX509 = std::unique_ptr<X509, TFreeX509>;
using TKey = std::unique_ptr<EVP_PKEY, TFreeKey>;

// Records handed to TLS at once: large enough to fill records, small
// enough that the encrypted copy stays modest.
constexpr size_t kMaxSendPiece = 256 * 1024;
constexpr size_t kScratchSize = 256 * 1024;
// The first byte of a TLS record carrying a handshake or an alert.
constexpr unsigned char kRecordHandshake = 0x16;
constexpr unsigned char kRecordAlert = 0x15;

// The library's queued errors as one text (English, for logs), emptied.
std::string TakeLibraryErrors() {
  std::string text;
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text;
}

TBio ReadOnlyBio(std::string_view text) {
  return TBio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::vector<TX509> ReadCertificates(std::string_view pem) {
  std::vector<TX509> certificates;
  TBio bio = ReadOnlyBio(pem);
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certificates.emplace_back(certificate);
  }
  ERR_clear_error();  // the end of the text reads as a failure
  if (certificates.empty()) {
    throw ETlsIdentityError("Certifikat nije moguće pročitati (očekuje se PEM)"_cp1250);
  }
  return certificates;
}

TKey ReadKey(std::string_view pem) {
  TBio bio = ReadOnlyBio(pem);
  TKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) {
    TakeLibraryErrors();
    throw ETlsIdentityError(
        "Privatni ključ nije moguće pročitati (očekuje se PEM bez lozinke)"_cp1250);
  }
  return key;
}

std::string ColonHex(const unsigned char* bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += ':';
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::string Fingerprint(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (X509_digest(certificate, EVP_sha256(), digest, &size) != 1) return {};
  return ColonHex(digest, size);
}

void AddExtension(X509* certificate, X509V3_CTX& context, int nid, const std::string& value) {
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (extension == nullptr) {
    throw ETlsIdentityError("Certifikat nije moguće napraviti: " + TakeLibraryErrors());
  }
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

bool LooksLikeAddress(const std::string& name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(),
                     [](char c) {
                       return std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':';
                     }) &&
         (name.find(':') != std::string::npos ||
          std::isdigit(static_cast<unsigned char>(name.back())));
}

void SetTime(ASN1_TIME* time, int64_t seconds) {
  X509_time_adj_ex(time, static_cast<int>(seconds / 86400), static_cast<long>(seconds % 86400),
                   nullptr);
}

// Why the certificate store refused the server's certificate, for the user.
std::string VerifyReason(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certifikat je istekao";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certifikat još ne vrijedi"_cp1250;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "certifikat je samopotpisan";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "certifikat nije izdalo tijelo kojem ovo računalo vjeruje"_cp1250;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return Format("certifikat ne glasi na ime %s", host.c_str());
    default:
      return Format("provjera nije uspjela (%s)", X509_verify_cert_error_string(result));
  }
}

// Servers take any client certificate: what it may do is decided by its
// fingerprint, not by who signed it.
int AcceptAnyCertificate(int, X509_STORE_CTX*) {
  return 1;
}

}  // namespace

TTlsIdentity MakeTlsIdentity(const TTlsCertificateRequest& request) {
  TKey key(EVP_EC_gen("P-256"));
  TX509 certificate(X509_new());
  if (!key || !certificate) {
    throw ETlsIdentityError("Ključ nije moguće napraviti: "_cp1250 + TakeLibraryErrors());
  }
  X509_set_version(certificate.get(), 2);
  BIGNUM* serial = BN_new();
  BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
  BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate.get()));
  BN_free(serial);
  SetTime(X509_getm_notBefore(certificate.get()), request.ValidFromSeconds);
  SetTime(X509_getm_notAfter(certificate.get()),
          request.ValidFromSeconds + request.ValidForSeconds);
  X509_set_pubkey(certificate.get(), key.get());
  X509_NAME* subject = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(request.CommonName.c_str()), -1,
                             -1, 0);

  TX509 issuerCertificate;
  TKey issuerKey;
  if (request.Issuer != nullptr) {
    issuerCertificate = std::move(ReadCertificates(request.Issuer->CertificatePem).front());
    issuerKey = ReadKey(request.Issuer->KeyPem);
  }
  X509* issuer = issuerCertificate ? issuerCertificate.get() : certificate.get();
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuer));

  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate.get(), nullptr, nullptr, 0);
  AddExtension(certificate.get(), context, NID_basic_constraints,
               request.CertificateAuthority ? "critical,CA:TRUE" : "critical,CA:FALSE");
  if (request.CertificateAuthority) {
    AddExtension(certificate.get(), context, NID_key_usage, "critical,keyCertSign,cRLSign");
  }
  AddExtension(certificate.get(), context, NID_subject_key_identifier, "hash");
  AddExtension(certificate.get(), context, NID_authority_key_identifier, "keyid");
  std::string names;
  for (const std::string& name : request.HostNames) {
    if (!names.empty()) names += ',';
    names += (LooksLikeAddress(name) ? "IP:" : "DNS:") + name;
  }
  if (!names.empty()) AddExtension(certificate.get(), context, NID_subject_alt_name, names);

  if (X509_sign(certificate.get(), issuerKey ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) {
    throw ETlsIdentityError("Certifikat nije moguće potpisati: " + TakeLibraryErrors());
  }
  auto pem = [](auto write) {
    TBio bio(BIO_new(BIO_s_mem()));
    write(bio.get());
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(size));
  };
  TTlsIdentity identity;
  identity.CertificatePem = pem([&](BIO* bio) { PEM_write_bio_X509(bio, certificate.get()); });
  identity.KeyPem = pem([&](BIO* bio) {
    PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
  return identity;
}

std::string CertificateFingerprint(std::string_view certificatePem) {
  return Fingerprint(ReadCertificates(certificatePem).front().get());
}

std::optional<std::string> ParsePin(std::string_view text) {
  constexpr std::string_view kPrefix = "SHA256:";
  if (text.size() < kPrefix.size()) return std::nullopt;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != kPrefix[i]) return std::nullopt;
  }
  text.remove_prefix(kPrefix.size());
  // Either 64 digits, or 32 pairs with one colon between each two.
  const bool colons = text.size() == 32 * 3 - 1;
  if (!colons && text.size() != 64) return std::nullopt;
  unsigned char bytes[32];
  for (size_t i = 0; i < 32; ++i) {
    const size_t at = colons ? i * 3 : i * 2;
    if (colons && i > 0 && text[at - 1] != ':') return std::nullopt;
    auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    const int high = digit(text[at]);
    const int low = digit(text[at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return ColonHex(bytes, sizeof bytes);
}

// ----- Contexts -----

struct TTlsContext::TNative {
  SSL_CTX* Context = nullptr;
  ~TNative() { SSL_CTX_free(Context); }
};

TTlsContext::TTlsContext(bool server, std::string host, std::string pin)
    : server_(server),
      host_(std::move(host)),
      pin_(std::move(pin)),
      native_(std::make_unique<TNative>()) {
  native_->Context = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  if (native_->Context == nullptr) {
    throw ETlsIdentityError("TLS nije moguće pokrenuti: "_cp1250 + TakeLibraryErrors());
  }
  SSL_CTX_set_min_proto_version(native_->Context, TLS1_2_VERSION);
  SSL_CTX_set_options(native_->Context, SSL_OP_NO_RENEGOTIATION);
  // AES-128-GCM first: with AES instructions it costs about two thirds of
  // AES-256 per byte, and files are most of what moves.
  SSL_CTX_set_ciphersuites(native_->Context,
                           "TLS_AES_128_GCM_SHA256:TLS_CHACHA20_POLY1305_SHA256:"
                           "TLS_AES_256_GCM_SHA384");
}

TTlsContext::~TTlsContext() = default;

namespace {

void UseIdentity(SSL_CTX* context, const TTlsIdentity& identity) {
  std::vector<TX509> chain = ReadCertificates(identity.CertificatePem);
  TKey key = ReadKey(identity.KeyPem);
  if (SSL_CTX_use_certificate(context, chain.front().get()) != 1) {
    throw ETlsIdentityError("Certifikat nije upotrebljiv: " + TakeLibraryErrors());
  }
  for (size_t i = 1; i < chain.size(); ++i) SSL_CTX_add1_chain_cert(context, chain[i].get());
  if (SSL_CTX_use_PrivateKey(context, key.get()) != 1 || SSL_CTX_check_private_key(context) != 1) {
    TakeLibraryErrors();
    throw ETlsIdentityError("Privatni ključ ne pripada certifikatu"_cp1250);
  }
}

}  // namespace

std::shared_ptr<TTlsContext> TTlsContext::ForServer(const TTlsIdentity& identity) {
  std::shared_ptr<TTlsContext> context(new TTlsContext(true, {}, {}));
  SSL_CTX* native = context->native_->Context;
  UseIdentity(native, identity);
  SSL_CTX_set_verify(native, SSL_VERIFY_PEER, AcceptAnyCertificate);
  // Each connection stands alone: no tickets to send or to keep.
  SSL_CTX_set_num_tickets(native, 0);
  SSL_CTX_set_session_cache_mode(native, SSL_SESS_CACHE_OFF);
  return context;
}

std::shared_ptr<TTlsContext> TTlsContext::ForClient(std::string host, std::string pin,
                                                    const TTlsIdentity& identity) {
  std::shared_ptr<TTlsContext> context(new TTlsContext(false, std::move(host), std::move(pin)));
  SSL_CTX* native = context->native_->Context;
  if (!identity.CertificatePem.empty()) UseIdentity(native, identity);
  // The chain is checked during the handshake either way; the handshake
  // goes on so that a refused server's fingerprint can be shown, and the
  // decision is taken before a byte of the protocol moves.
  if (context->pin_.empty()) SSL_CTX_set_default_verify_paths(native);
  SSL_CTX_set_verify(native, SSL_VERIFY_NONE, nullptr);
  return context;
}

// ----- The transport -----

struct TTlsHandler::TNative {
  SSL* Session = nullptr;
  BIO* Incoming = nullptr;  // owned by Session
  BIO* Outgoing = nullptr;  // owned by Session
  ~TNative() { SSL_free(Session); }
};

TTlsHandler::TTlsHandler(std::shared_ptr<const TTlsContext> context,
                         std::unique_ptr<TIOHandler> inner, std::string received)
    : context_(std::move(context)), inner_(std::move(inner)), native_(std::make_unique<TNative>()) {
  native_->Session = SSL_new(context_->native_->Context);
  native_->Incoming = BIO_new(BIO_s_mem());
  native_->Outgoing = BIO_new(BIO_s_mem());
  if (native_->Session == nullptr || native_->Incoming == nullptr || native_->Outgoing == nullptr) {
    BIO_free(native_->Incoming);
    BIO_free(native_->Outgoing);
    throw ETlsIdentityError("TLS nije moguće pokrenuti: "_cp1250 + TakeLibraryErrors());
  }
  // An empty incoming buffer means "more to come", not the end.
  BIO_set_mem_eof_return(native_->Incoming, -1);
  SSL_set_bio(native_->Session, native_->Incoming, native_->Outgoing);
  if (context_->IsServer()) {
    SSL_set_accept_state(native_->Session);
  } else {
    SSL_set_connect_state(native_->Session);
    const std::string& host = context_->host_;
    X509_VERIFY_PARAM* check = SSL_get0_param(native_->Session);
    if (X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) != 1) {
      ERR_clear_error();
      SSL_set_tlsext_host_name(native_->Session, host.c_str());
      SSL_set1_host(native_->Session, host.c_str());
    }
  }
  if (!received.empty()) {
    firstByte_ = static_cast<unsigned char>(received[0]);
    BIO_write(native_->Incoming, received.data(), static_cast<int>(received.size()));
  }
}

TTlsHandler::~TTlsHandler() = default;

std::string TTlsHandler::LastError() const {
  std::string text = TakeLibraryErrors();
  return text.empty() ? std::string("TLS error") : text;
}

void TTlsHandler::Flush() {
  if (scratch_.size() < kScratchSize) scratch_.resize(kScratchSize);
  while (BIO_ctrl_pending(native_->Outgoing) > 0) {
    const int got = BIO_read(native_->Outgoing, scratch_.data(), static_cast<int>(scratch_.size()));
    if (got <= 0) break;
    const char* data = scratch_.data();
    size_t left = static_cast<size_t>(got);
    while (left > 0) {
      const size_t sent = inner_->Send(data, left);
      if (sent == 0) throw EConnClosedGracefully();
      data += sent;
      left -= sent;
    }
  }
}

bool TTlsHandler::Pull() {
  if (innerClosed_) return false;
  if (scratch_.size() < kScratchSize) scratch_.resize(kScratchSize);
  const size_t got = inner_->Receive(scratch_.data(), scratch_.size());
  if (got == 0) {
    innerClosed_ = true;
    return false;
  }
  if (!firstByte_) firstByte_ = static_cast<unsigned char>(scratch_[0]);
  BIO_write(native_->Incoming, scratch_.data(), static_cast<int>(got));
  return true;
}

void TTlsHandler::Handshake(int timeoutMs, std::string_view plainRefusal) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  using TKind = ETlsHandshakeError::TKind;
  auto refusePlain = [&] {
    if (plainRefusal.empty()) return;
    try {
      for (size_t done = 0; done < plainRefusal.size();) {
        const size_t sent = inner_->Send(plainRefusal.data() + done, plainRefusal.size() - done);
        if (sent == 0) break;
        done += sent;
      }
    } catch (const Exception&) {
    }
  };
  for (;;) {
    ERR_clear_error();
    const int result = SSL_do_handshake(native_->Session);
    const int error = SSL_get_error(native_->Session, result);
    std::string failure = result == 1 ? std::string() : LastError();
    try {
      Flush();
    } catch (const Exception&) {
      throw ETlsHandshakeError(TKind::Closed, "veza je prekinuta tijekom TLS rukovanja");
    }
    if (result == 1) break;
    if (error == SSL_ERROR_WANT_READ) {
      if (timeoutMs > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0 || !inner_->WaitReadable(static_cast<int>(left))) {
          if (!firstByte_) {
            refusePlain();
            throw ETlsHandshakeError(TKind::Silent, "druga strana ne započinje TLS rukovanje");
          }
          throw ETlsHandshakeError(TKind::Silent, "TLS rukovanje nije završeno na vrijeme");
        }
      }
      bool more = false;
      try {
        more = Pull();
      } catch (const Exception&) {
      }
      if (!more) {
        throw ETlsHandshakeError(TKind::Closed, "veza je prekinuta tijekom TLS rukovanja");
      }
      continue;
    }
    if (firstByte_ && *firstByte_ != kRecordHandshake && *firstByte_ != kRecordAlert) {
      refusePlain();
      throw ETlsHandshakeError(TKind::PlainPeer, "druga strana ne govori TLS");
    }
    throw ETlsHandshakeError(TKind::Failed, "TLS rukovanje nije uspjelo: " + failure);
  }

  if (X509* peer = SSL_get0_peer_certificate(native_->Session))
    peerFingerprint_ = Fingerprint(peer);
  if (context_->IsServer()) return;
  if (!context_->pin_.empty()) {
    if (peerFingerprint_ != context_->pin_) {
      throw ETlsHandshakeError(TKind::PinMismatch, "certifikat poslužitelja nije prikvačeni"_cp1250,
                               peerFingerprint_);
    }
    return;
  }
  const long verified = SSL_get_verify_result(native_->Session);
  if (verified != X509_V_OK || peerFingerprint_.empty()) {
    throw ETlsHandshakeError(TKind::Untrusted, VerifyReason(verified, context_->host_),
                             peerFingerprint_);
  }
}

size_t TTlsHandler::Receive(void* buffer, size_t count) {
  const int wanted = static_cast<int>(std::min<size_t>(count, INT_MAX));
  for (;;) {
    ERR_clear_error();
    const int got = SSL_read(native_->Session, buffer, wanted);
    if (got > 0) return static_cast<size_t>(got);
    const int error = SSL_get_error(native_->Session, got);
    Flush();
    if (error == SSL_ERROR_WANT_READ) {
      if (!Pull()) return 0;
      continue;
    }
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    throw ETlsStreamError("TLS: " + LastError());
  }
}

bool TTlsHandler::WaitReadable(int timeoutMs) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  // Ready only once a whole record has come: a peer that sends a record a
  // byte at a time must not hold a reader past its limit.
  for (;;) {
    if (SSL_pending(native_->Session) > 0 || innerClosed_) return true;
    char probe;
    ERR_clear_error();
    const int got = SSL_peek(native_->Session, &probe, 1);
    if (got > 0) return true;
    const int error = SSL_get_error(native_->Session, got);
    ERR_clear_error();
    if (error != SSL_ERROR_WANT_READ) return true;  // Receive tells what it is
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
    if (left <= 0 || !inner_->WaitReadable(static_cast<int>(left))) return false;
    if (!Pull()) return true;
  }
}

std::optional<size_t> TTlsHandler::TryReceive(void* buffer, size_t count) {
  const int wanted = static_cast<int>(std::min<size_t>(count, INT_MAX));
  for (;;) {
    ERR_clear_error();
    const int got = SSL_read(native_->Session, buffer, wanted);
    if (got > 0) return static_cast<size_t>(got);
    const int error = SSL_get_error(native_->Session, got);
    if (error == SSL_ERROR_WANT_READ) {
      if (innerClosed_) return 0;
      if (scratch_.size() < kScratchSize) scratch_.resize(kScratchSize);
      const std::optional<size_t> raw = inner_->TryReceive(scratch_.data(), scratch_.size());
      if (!raw) return std::nullopt;
      if (*raw == 0) {
        innerClosed_ = true;
        return 0;
      }
      BIO_write(native_->Incoming, scratch_.data(), static_cast<int>(*raw));
      continue;
    }
    // The end, orderly or not: nothing more will come.
    ERR_clear_error();
    innerClosed_ = true;
    return 0;
  }
}

size_t TTlsHandler::Send(const void* buffer, size_t count) {
  const int piece = static_cast<int>(std::min(count, kMaxSendPiece));
  ERR_clear_error();
  const int written = SSL_write(native_->Session, buffer, piece);
  if (written <= 0) {
    const int error = SSL_get_error(native_->Session, written);
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    throw ETlsStreamError("TLS: " + LastError());
  }
  Flush();
  return static_cast<size_t>(written);
}

std::string TTlsHandler::Description() const {
  return std::string(SSL_get_version(native_->Session)) + " " +
         SSL_get_cipher_name(native_->Session);
}

}  // namespace ormelin
