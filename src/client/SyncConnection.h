// One connection of the client to a synchronisation server: the greeting,
// command lines and their replies (multi-line replies read whole), and the
// framed streams in both directions. A connection remembers when it can no
// longer be used: after any failed read or write, and after a "500" reply,
// which the server follows by closing.
//
// Nothing waits for ever: connecting, and every byte after it, may take at
// most the time-out; then EServerTimeout names the server and what the
// client was waiting for (the greeting, the reply to a command line, the
// task list or a file, with how much of it had come).
//
// Threading: a connection belongs to one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "comparer/uorCommand.h"
#include "net/TCPConnection.h"
#include "platform/Streams.h"

namespace ormelin {

class TTlsContext;

class TSyncConnection : public TorClientConnection {
 public:
  // Connects and reads the greeting; raises ESocketError when the server
  // cannot be reached, EServerReplyError for a greeting other than 200 and
  // EServerTimeout when it does not answer within `timeoutSeconds`.
  // `connectLimitMs` above 0 bounds connecting and the greeting together.
  // With `tls`, the protocol runs inside TLS, and a server that fails the
  // context's check raises ETlsRefused before a byte of the protocol moves.
  TSyncConnection(std::string_view host, int port, int timeoutSeconds, int connectLimitMs = 0,
                  std::shared_ptr<const TTlsContext> tls = nullptr);
  // The same over a transport already connected to `host`:`port`, whose
  // greeting is read here.
  TSyncConnection(std::unique_ptr<TTCPConnection> connection, std::string_view host, int port,
                  int timeoutSeconds);

  // Sends the line and reads its reply.
  TorReply SendCommand(std::string_view line) override;
  // Sends the line only; its reply is read later with ReadReply.
  void SendLine(std::string_view line);
  // Sends lines that each already end with CR LF, in one write.
  void SendLines(std::string_view lines);
  // One whole reply: a line "ddd text", or lines "ddd-text" up to the line
  // "ddd text" of the same code. A line without a code raises EBadReply.
  TorReply ReadReply();
  // As ReadReply, raising EServerReplyError unless the code is `expected`.
  TorReply ExpectReply(int expected);
  // As SendCommand, raising EServerReplyError unless the code is `expected`.
  TorReply Expect(std::string_view line, int expected);

  // The size line, then the bytes into `stream` at its position, in pieces,
  // each reported to Progress. A stream that ends before its announced size
  // raises EShortStream instead of passing on a cut payload.
  void ReceiveStream(TStream& stream) override;
  // The same in pieces of at most `pieceSize` bytes: each is written to
  // `stream` once it is whole.
  void ReceiveStream(TStream& stream, int64_t pieceSize);
  void SendStream(TStream& stream);

  bool Broken() const { return broken_; }

  // Called with the number of bytes of each piece that arrives.
  std::function<void(int64_t)> Progress;

 private:
  // Runs the I/O; any failure leaves the connection broken, and a time-out
  // becomes EServerTimeout with `doing()`, what the client was doing.
  template <typename F, typename D>
  auto Guarded(F&& action, D&& doing) -> decltype(action());
  // Reads the greeting, within `limitMs` of `start` when above 0.
  void Greet(int limitMs, std::chrono::steady_clock::time_point start);

  const std::string host_;
  const int port_;
  const int timeoutSeconds_;
  std::unique_ptr<TTCPConnection> connection_;
  bool broken_ = false;
  std::deque<std::string> unanswered_;  // command lines sent, oldest first
  std::string answered_;                // the command whose reply came last
};

// The server is lost to the client: it cannot be reached, or it stopped
// answering. Only a new connection may cure that, and once the retries
// are spent the run (or, for a refused connection, the task) ends. A base
// of its own, outside Exception, so that no handler of one task's or one
// file's failure takes it by mistake: the handlers that retry and the
// run's end name it. The message carries the server's name.
class EServerLost : public std::exception {
 public:
  explicit EServerLost(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The server sent or took nothing for the whole time-out; the message says
// which server and what was awaited. The run ends: the server is taken to
// be gone.
class EServerTimeout : public EServerLost {
 public:
  using EServerLost::EServerLost;
};

// The server could not be reached or closed before its greeting; the
// message names the server.
class EConnectionLost : public EServerLost {
 public:
  using EServerLost::EServerLost;
};

// TLS between the client and the server did not come about, or the server's
// certificate is not to be trusted; the message says why in the user's
// words. Trying again would not help: the run ends.
class ETlsRefused : public Exception {
 public:
  using Exception::Exception;
};

// A reply line that has no three-digit code.
class EBadReply : public Exception {
 public:
  using Exception::Exception;
};

// A stream that ended before its announced size.
class EShortStream : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace ormelin
