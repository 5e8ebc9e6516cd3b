#include "client/SyncConnection.h"

#include <algorithm>
#include <chrono>

#include "net/NetErrors.h"
#include "net/StreamTransfer.h"
#include "net/TlsTransport.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

constexpr int64_t kPieceSize = 1 << 20;

// The code of a reply line, or -1; `more` tells a "ddd-" line.
int ReplyCode(const std::string& line, bool& more) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return -1;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return -1;
  more = line.size() > 3 && line[3] == '-';
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

// What the client was doing when the server stopped answering.
const char* const kConnecting = "čeka se uspostava veze"_cp1250;
const char* const kAwaiting = "čeka se "_cp1250;
const char* const kSending = "šalju se podaci"_cp1250;

// True when `command` is the word `word` followed by a blank.
bool IsCommand(std::string_view command, std::string_view word) {
  return command.size() > word.size() && command.substr(0, word.size()) == word &&
         command[word.size()] == ' ';
}

// What the stream after the reply to `command` carries, for messages.
std::string StreamName(const std::string& command) {
  if (IsCommand(command, kCmdSync)) return "popis zadataka";
  if (IsCommand(command, kCmdGetFile)) {
    // "GetFile <project> <path>": project names hold no blank.
    const size_t blank = command.find(' ', kCmdGetFile.size() + 1);
    if (blank != std::string::npos) return "datoteka '" + command.substr(blank + 1) + "'";
  }
  return "sadržaj odgovora na '"_cp1250 + command + "'";
}

}  // namespace

template <typename F, typename D>
auto TSyncConnection::Guarded(F&& action, D&& doing) -> decltype(action()) {
  if (broken_) throw ENotConnected();
  try {
    return action();
  } catch (const ESocketError& error) {
    broken_ = true;
    if (error.LastError() != kSocketErrorTimedOut) throw;
    throw EServerTimeout(Format("Poslužitelj %s:%d ne odgovara već %d s; "_cp1250, host_.c_str(),
                                port_, timeoutSeconds_) +
                         doing());
  } catch (...) {
    broken_ = true;
    throw;
  }
}

namespace {

// What a failed TLS handshake with host:port means to the user.
[[noreturn]] void RaiseTlsFailure(const ETlsHandshakeError& error, const std::string& host,
                                  int port) {
  using TKind = ETlsHandshakeError::TKind;
  const char* server = host.c_str();
  switch (error.Kind()) {
    case TKind::Closed:
      throw EConnectionLost(
          Format("Poslužitelj %s:%d prekinuo je vezu tijekom TLS rukovanja"_cp1250, server, port));
    case TKind::Silent:
      throw EServerTimeout(
          Format("Poslužitelj %s:%d nije završio TLS rukovanje na vrijeme"_cp1250, server, port));
    case TKind::PlainPeer:
      throw ETlsRefused(
          Format("Poslužitelj %s:%d na tom portu ne govori TLS (je li to port "
                 "običnog protokola?); ništa nije preuzeto"_cp1250,
                 server, port));
    case TKind::Untrusted:
      throw ETlsRefused(
          Format("Certifikat poslužitelja %s:%d nije potvrđen: %s. Ništa nije "
                 "preuzeto. Ako je to zaista vaš poslužitelj (provjerite otisak kod "
                 "njegova administratora), pokrenite ponovo s --pin SHA256:%s"_cp1250,
                 server, port, error.Message().c_str(), error.PeerFingerprint().c_str()));
    case TKind::PinMismatch:
      throw ETlsRefused(
          Format("Certifikat poslužitelja %s:%d nije onaj zadan s --pin: njegov "
                 "otisak je SHA256:%s. Ništa nije preuzeto"_cp1250,
                 server, port, error.PeerFingerprint().c_str()));
    case TKind::Failed:
      break;
  }
  throw ETlsRefused(Format("TLS veza s poslužiteljem %s:%d nije uspostavljena: %s"_cp1250, server,
                           port, error.Message().c_str()));
}

}  // namespace

TSyncConnection::TSyncConnection(std::string_view host, int port, int timeoutSeconds,
                                 int connectLimitMs, std::shared_ptr<const TTlsContext> tls)
    : host_(host), port_(port), timeoutSeconds_(timeoutSeconds) {
  const auto start = std::chrono::steady_clock::now();
  Guarded(
      [&] {
        connection_ = TTCPConnection::Connect(host, port, timeoutSeconds * 1000, connectLimitMs);
      },
      [] { return std::string(kConnecting); });
  if (tls) {
    try {
      Guarded(
          [&] {
            connection_->StartTls(tls, connectLimitMs > 0 ? connectLimitMs : timeoutSeconds * 1000);
          },
          [] { return std::string(kConnecting); });
    } catch (const ETlsHandshakeError& error) {
      RaiseTlsFailure(error, host_, port_);
    }
  }
  Greet(connectLimitMs, start);
}

TSyncConnection::TSyncConnection(std::unique_ptr<TTCPConnection> connection, std::string_view host,
                                 int port, int timeoutSeconds)
    : host_(host),
      port_(port),
      timeoutSeconds_(timeoutSeconds),
      connection_(std::move(connection)) {
  Greet(0, std::chrono::steady_clock::now());
}

void TSyncConnection::Greet(int connectLimitMs, std::chrono::steady_clock::time_point start) {
  TorReply greeting;
  if (connectLimitMs > 0) {
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    connection_->LimitReads(static_cast<int>(std::max<int64_t>(1, connectLimitMs - spent.count())));
    try {
      greeting = ReadReply();
    } catch (const EReadTimeLimit&) {
      throw EServerTimeout(Format("Poslužitelj %s:%d nije poslao pozdrav u %d ms"_cp1250,
                                  host_.c_str(), port_, connectLimitMs));
    }
    connection_->LimitReads(0);
  } else {
    greeting = ReadReply();
  }
  if (greeting.Code != kReplyGreeting.Code) {
    broken_ = true;
    if (greeting.Text.compare(0, kTlsOnlyMessage.size(), kTlsOnlyMessage) == 0) {
      throw ETlsRefused(
          Format("Poslužitelj %s:%d na tom portu govori samo TLS: pokrenite s --tls "
                 "i --pin; ništa nije preuzeto"_cp1250,
                 host_.c_str(), port_));
    }
    throw EServerReplyError(greeting.Code, greeting.Text);
  }
}

void TSyncConnection::SendLine(std::string_view line) {
  Guarded([&] { connection_->WriteLine(line); }, [] { return std::string(kSending); });
  unanswered_.emplace_back(line);
}

void TSyncConnection::SendLines(std::string_view lines) {
  Guarded([&] { connection_->Write(lines); }, [] { return std::string(kSending); });
  for (size_t start = 0; start < lines.size();) {
    size_t end = lines.find("\r\n", start);
    if (end == std::string_view::npos) end = lines.size();
    unanswered_.emplace_back(lines.substr(start, end - start));
    start = end + 2;
  }
}

TorReply TSyncConnection::ReadReply() {
  auto doing = [&] {
    // Before any command the greeting is awaited.
    return unanswered_.empty() ? kAwaiting + std::string("pozdrav")
                               : kAwaiting + ("odgovor na '" + unanswered_.front() + "'");
  };
  return Guarded(
      [&] {
        TorReply reply;
        for (bool first = true;; first = false) {
          std::string line = connection_->ReadLine();
          bool more = false;
          int code = ReplyCode(line, more);
          if (code < 0 || (!first && code != reply.Code)) {
            throw EBadReply("Neočekivan odgovor poslužitelja: '"_cp1250 + line + "'");
          }
          reply.Code = code;
          if (!first) reply.Text += "\r\n";
          reply.Text += line.size() > 4 ? line.substr(4) : std::string();
          if (!more) break;
        }
        if (reply.Code == kReplyFailure.Code) broken_ = true;
        if (!unanswered_.empty()) {
          answered_ = std::move(unanswered_.front());
          unanswered_.pop_front();
        }
        return reply;
      },
      doing);
}

TorReply TSyncConnection::SendCommand(std::string_view line) {
  SendLine(line);
  return ReadReply();
}

TorReply TSyncConnection::ExpectReply(int expected) {
  TorReply reply = ReadReply();
  if (reply.Code != expected) throw EServerReplyError(reply.Code, reply.Text);
  return reply;
}

TorReply TSyncConnection::Expect(std::string_view line, int expected) {
  SendLine(line);
  return ExpectReply(expected);
}

void TSyncConnection::ReceiveStream(TStream& stream) {
  ReceiveStream(stream, kPieceSize);
}

void TSyncConnection::ReceiveStream(TStream& stream, int64_t pieceSize) {
  pieceSize = std::max<int64_t>(1, pieceSize);
  const int64_t start = stream.Position();
  int32_t size = -1;  // while the size line is awaited
  auto doing = [&] {
    std::string text = kAwaiting + StreamName(answered_);
    if (size < 0) return text;
    // The bytes of an unfinished piece wait in the connection's buffer.
    const int64_t got = std::min<int64_t>(
        size, stream.Position() - start + static_cast<int64_t>(connection_->BufferedBytes()));
    return text + Format(" (stiglo %lld od %d bajtova)", static_cast<long long>(got), size);
  };
  Guarded(
      [&] {
        size = ReadStreamSize(*connection_);
        int64_t remaining = size;
        while (remaining > 0) {
          const int64_t piece = std::min(remaining, pieceSize);
          const int64_t before = stream.Position();
          bool closed = false;
          try {
            connection_->ReadStreamBytes(stream, piece);
          } catch (const ESilentException&) {
            closed = true;  // told the same way as a close noticed between pieces
          }
          const int64_t got =
              closed ? std::min(stream.Position() - before, piece - 1) : stream.Position() - before;
          if (Progress && got > 0) Progress(got);
          if (got < piece) {
            throw EShortStream(Format("Veza je prekinuta nakon %lld od %d bajtova",
                                      static_cast<long long>(size) - remaining + got, size));
          }
          remaining -= piece;
        }
      },
      doing);
}

void TSyncConnection::SendStream(TStream& stream) {
  Guarded([&] { ormelin::SendStream(*connection_, stream); }, [] { return std::string(kSending); });
}

}  // namespace ormelin
