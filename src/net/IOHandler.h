// The byte transport under a connection: a connected socket in the server
// and the client, or a scripted source in tests. A handler belongs to its
// connection's thread; only Shutdown() may come from another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/NativeHandle.h"
#include "platform/Sockets.h"

namespace ormelin {

class TIOHandler {
 public:
  virtual ~TIOHandler() = default;
  // Blocks until bytes arrive; 0 means the peer has closed.
  virtual size_t Receive(void* buffer, size_t count) = 0;
  // Waits at most `timeoutMs` for bytes (or the peer's close); false when
  // none came in that time.
  virtual bool WaitReadable(int /*timeoutMs*/) { return true; }
  // Without waiting: nothing yet, 0 for a closed peer, or the bytes received.
  virtual std::optional<size_t> TryReceive(void* buffer, size_t count) = 0;
  // Sends some of the bytes, at least one; returns how many.
  virtual size_t Send(const void* buffer, size_t count) = 0;
  // Zero-copy sending of a file's bytes, where the transport offers it.
  virtual bool CanSendFile() const { return false; }
  virtual size_t SendFile(TNativeHandle /*fileHandle*/, int64_t /*offset*/, size_t /*count*/) {
    return 0;
  }
  // Receiving into a file without passing the bytes through the process,
  // where the transport offers it (see TSocket::ReceiveToFile).
  virtual bool ReceivesToFiles() const { return false; }
  virtual TSocket::TFileReceipt ReceiveToFile(TNativeHandle /*fileHandle*/, int64_t /*offset*/,
                                              size_t /*count*/) {
    return {};
  }
  // Ends the transport from any thread; blocked calls return as if closed.
  virtual void Shutdown() = 0;
  virtual std::string PeerAddress() const = 0;
  virtual int PeerPort() const = 0;
  // Whether the bytes travel inside TLS.
  virtual bool IsTls() const { return false; }
  // The SHA-256 fingerprint of the certificate the peer showed over TLS, as
  // 32 colon-separated pairs of upper-case hexadecimal digits; empty when
  // it showed none.
  virtual std::string PeerCertificateFingerprint() const { return {}; }
};

// A connected socket; the socket closes with the handler.
class TIOHandlerSocket : public TIOHandler {
 public:
  explicit TIOHandlerSocket(TSocket socket) : socket_(std::move(socket)) {}
  size_t Receive(void* buffer, size_t count) override { return socket_.Receive(buffer, count); }
  std::optional<size_t> TryReceive(void* buffer, size_t count) override {
    return socket_.TryReceive(buffer, count);
  }
  size_t Send(const void* buffer, size_t count) override { return socket_.Send(buffer, count); }
  bool WaitReadable(int timeoutMs) override { return socket_.WaitReadable(timeoutMs); }
  bool CanSendFile() const override { return true; }
  size_t SendFile(TNativeHandle fileHandle, int64_t offset, size_t count) override {
    return socket_.SendFile(fileHandle, offset, count);
  }
  bool ReceivesToFiles() const override { return TSocket::ReceivesToFilesDirectly(); }
  TSocket::TFileReceipt ReceiveToFile(TNativeHandle fileHandle, int64_t offset,
                                      size_t count) override {
    return socket_.ReceiveToFile(fileHandle, offset, count);
  }
  void Shutdown() override { socket_.Shutdown(); }
  std::string PeerAddress() const override { return socket_.PeerAddress(); }
  int PeerPort() const override { return socket_.PeerPort(); }

 private:
  TSocket socket_;
};

}  // namespace ormelin
