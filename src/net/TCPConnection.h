// A connection with blocking line and byte I/O over a transport: the
// accepted socket of a listener, a socket connected by a client, or a
// scripted transport in tests. Text goes out and comes in as its 8-bit bytes
// unchanged. Reads and writes wait without a time-out, except on a client
// connection made with one.
//
// Threading: a connection is used by its own thread only, except
// Disconnect(), which another thread may call to end it (the owner's blocked
// read then fails with the silent EConnClosedGracefully).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/IOHandler.h"
#include "net/NetErrors.h"
#include "platform/Streams.h"

namespace ormelin {

class TTlsContext;

class TTCPConnection {
 public:
  static constexpr size_t kMaxLineLength = 16384;
  static constexpr size_t kRecvBufferSize = 32768;
  // Streams are received in pieces up to this size; the buffer shrinks back
  // to kRecvBufferSize when the next line is read.
  static constexpr size_t kStreamPieceSize = 1 << 20;
  static constexpr size_t kSendBufferSize = 32768;
  // What WriteSoon holds back at most.
  static constexpr size_t kMaxHeld = 65536;
  static constexpr int64_t kMaxStreamSize = 2147483647;

  explicit TTCPConnection(std::unique_ptr<TIOHandler> handler);
  TTCPConnection(const TTCPConnection&) = delete;
  TTCPConnection& operator=(const TTCPConnection&) = delete;

  // A client connection to host:port; raises ESocketError. With `timeoutMs`
  // above 0, connecting may take that long, and afterwards every read or
  // write raises ESocketError 10060 when not a byte has moved for that long.
  // `connectMs` above 0 bounds connecting alone instead.
  static std::unique_ptr<TTCPConnection> Connect(std::string_view host, int port, int timeoutMs = 0,
                                                 int connectMs = 0);

  // One line, ended by LF or CR LF, the terminator removed; a CR elsewhere
  // stays. At most kMaxLineLength bytes may come before the LF, else
  // EReadLnMaxLineLengthExceeded. A peer that closes before the LF raises
  // EConnClosedGracefully and the unterminated bytes are dropped (so the
  // connection is no longer open).
  std::string ReadLine();
  // The text and CR LF, sent at once.
  void WriteLine(std::string_view text);
  // The bytes as they are; raises EConnClosedGracefully or ESocketError.
  void Write(std::string_view bytes);
  // Write for a reply to a request, when the peer may have sent more
  // requests at once: while the next request line has already come, the
  // bytes may wait (kMaxHeld at most) and go out with the next reply
  // in one send. Every other write sends them first, and so does a read
  // that has to wait for the peer.
  void WriteSoon(std::string_view bytes);

  // Sends `count` bytes from the stream's position; count 0 sends the whole
  // stream from its start. No byte count goes out. A file stream goes out
  // without being copied through memory where the transport allows it.
  // Raises EIoHandlerRequiresLargeStream (before sending anything) for more
  // than kMaxStreamSize bytes, ENoDataToRead when the stream ends early.
  void WriteStreamBytes(TStream& stream, int64_t count = 0);
  // Writes `count` bytes at the stream's position. The stream grows as the
  // bytes arrive, so an announced size costs no memory before its bytes
  // come. A peer found closed between pieces ends the call normally with
  // fewer bytes; one that closes while a piece is awaited raises
  // EConnClosedGracefully. Either way the stream ends at its position. A
  // file stream gets the bytes without their passing through memory where
  // the transport allows it.
  void ReadStreamBytes(TStream& stream, int64_t count);
  // Writes everything until the peer closes at the stream's position; false
  // (the connection then being of no further use) when more than `limit`
  // bytes come.
  bool ReadStreamUntilClose(TStream& stream, int64_t limit);

  // From now on, reads that have to wait for the peer must end within
  // `timeoutMs` of this call, else they raise the silent EReadTimeLimit;
  // 0 lifts the limit. A peer sending a byte now and then cannot stretch it.
  void LimitReads(int timeoutMs);

  // True while the transport is open, and while bytes received before the
  // peer closed are still unread. Does not wait.
  bool IsOpen();
  // Ends the connection from any thread, without a closing exchange.
  void Disconnect();

  // From now on the bytes travel inside TLS: runs the handshake on the
  // transport, with the bytes already received and unread as its first,
  // and must end within `timeoutMs` (0: no limit). A server sends
  // `plainRefusal` in the clear to a peer that turns out to speak the plain
  // protocol or nothing. Raises ETlsHandshakeError; the connection is then
  // of no further use.
  void StartTls(std::shared_ptr<const TTlsContext> context, int timeoutMs,
                std::string_view plainRefusal = {});
  // The TLS version and cipher, "" without TLS.
  std::string TlsDescription() const;

  // Bytes received and not yet read.
  size_t BufferedBytes() const { return Buffered(); }
  // The bytes received and not yet read, without reading them; valid until
  // the next call that reads or receives.
  std::string_view Unread() const { return {storage_.data() + start_, Buffered()}; }
  // Receives once more into the buffer, waiting for the bytes at most
  // `timeoutMs` (0: as long as LimitReads allows). False when nothing came
  // in that time or the peer has closed.
  bool ReceiveMore(int timeoutMs = 0);
  // Reads and drops `count` of the unread bytes (at most those buffered).
  void Skip(size_t count);
  // Whether no byte has been read yet: what is unread is the peer's first.
  bool NothingRead() const { return !readAny_; }

  // The peer's address and port, as the handler knows them, or as a proxy
  // relaying the connection has reported them (SetPeerAddress).
  std::string PeerAddress() const {
    return relayedAddress_ ? *relayedAddress_ : handler_->PeerAddress();
  }
  int PeerPort() const { return relayedAddress_ ? relayedPort_ : handler_->PeerPort(); }
  // The address the connection really comes from, a relaying proxy's.
  std::string TransportPeerAddress() const { return handler_->PeerAddress(); }
  // Reports the client a proxy relays this connection for: every later
  // PeerAddress and PeerPort gives these.
  void SetPeerAddress(std::string address, int port);
  bool IsTls() const { return handler_->IsTls(); }
  std::string PeerCertificateFingerprint() const { return handler_->PeerCertificateFingerprint(); }

 private:
  size_t Buffered() const { return end_ - start_; }
  // Room for one more receive of `room` bytes at the end of the buffer.
  char* PrepareReceive(size_t room = kRecvBufferSize);
  // One blocking receive of up to `room` bytes into the buffer; false when
  // the peer has closed.
  bool ReadFromTransport(size_t room = kRecvBufferSize);
  // ReadStreamBytes for a file, once the buffered bytes are written: the
  // rest goes from the transport straight into the file.
  void ReceiveToFile(TFileWriteStream& file, int64_t count);
  // Gives back what a stream's large pieces took of the buffer.
  void ShrinkBuffer();
  void ThrowIfDisconnected() const;
  void Consume(size_t count);
  // Whether a whole line is received and unread.
  bool LineBuffered() const;
  void Send(std::string_view bytes);
  void SendHeld();

  std::unique_ptr<TIOHandler> handler_;
  std::string storage_;  // bytes [start_, end_) are received and unread
  size_t start_ = 0;
  size_t end_ = 0;
  std::string held_;  // WriteSoon's bytes not yet sent
  bool peerClosed_ = false;
  std::optional<std::chrono::steady_clock::time_point> readsEndBy_;  // see LimitReads
  std::atomic<bool> disconnected_{false};
  bool readAny_ = false;  // see NothingRead
  std::optional<std::string> relayedAddress_;
  int relayedPort_ = 0;
  // The transport Disconnect ends: the first one, which stays under any
  // transport StartTls lays over it, so that another thread never reads
  // handler_ while it changes.
  TIOHandler* const transport_;
};

}  // namespace ormelin
