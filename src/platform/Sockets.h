// TCP sockets in the system's terms: listening on the IPv4 or IPv6
// any-address, accepting in timed polls, connecting, blocking byte I/O (for
// a client, both with a time-out if it wants one), file sends (zero-copy
// where the system offers it), peer address texts and the reverse host-name
// lookup. Every failure is an ESocketError carrying the Windows socket error
// code and its usual English description ("Socket Error # 10054\r\n
// Connection reset by peer.").
//
// Threading: a TSocket belongs to one thread, except Shutdown(), which any
// thread may call while the owner is blocked in Receive or Send; the owner
// then sees the connection closed (a WaitReadable returns by its time-out at
// the latest). Writing to a peer that has gone away raises the socket error;
// it never raises a signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/NativeHandle.h"

namespace ormelin {

// "Socket Error # %d\r\n%s" with the Windows code and its description.
class ESocketError : public Exception {
 public:
  ESocketError(int code, std::string_view description);
  int LastError() const { return code_; }

 private:
  int code_;
};

// Well-known codes the callers test for.
constexpr int kSocketErrorAddressInUse = 10048;
constexpr int kSocketErrorConnectionAborted = 10053;
constexpr int kSocketErrorConnectionReset = 10054;
constexpr int kSocketErrorTimedOut = 10060;
constexpr int kSocketErrorConnectionRefused = 10061;
constexpr int kSocketErrorHostNotFound = 11001;

// The usual English description of a Windows socket error code; a code
// outside the table gets the operating system's text for it.
std::string SocketErrorDescription(int code);

enum class TIPVersion { IPv4, IPv6 };

class TSocket {
 public:
  TSocket() noexcept;  // no socket
  ~TSocket();
  TSocket(TSocket&& other) noexcept;
  TSocket& operator=(TSocket&& other) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // A new stream socket for a listener, which cannot bind a port that
  // another socket listens on. Linux sets SO_REUSEADDR (a port held only by
  // connections in TIME_WAIT binds again, as on Windows by default); Windows
  // sets SO_EXCLUSIVEADDRUSE and never SO_REUSEADDR, which there would let
  // a second socket take the port. IPV6_V6ONLY for IPv6, so the two
  // any-addresses share a port as two sockets.
  static TSocket CreateListening(TIPVersion version);
  // A connection to host:port (a name or an address text), resolved by the
  // system resolver, trying each address in turn. With `timeoutMs` above 0
  // the addresses together get that long to accept (the resolver is not
  // timed); when none has, the error is 10060 "Connection timed out.".
  static TSocket Connect(std::string_view host, int port, int timeoutMs = 0);

  // Binds to the any-address of the socket's IP version (port 0: the system
  // picks one; LocalPort() tells which).
  void BindAny(int port);
  void Listen(int backlog);
  // Waits up to `timeoutMs` for a connection to accept or bytes to read;
  // false when none arrived in that time.
  bool WaitReadable(int timeoutMs);
  TSocket Accept();

  // From now on Receive, Send and SendFile give up with 10060 "Connection
  // timed out." when not a byte has moved for `timeoutMs` (0: never).
  void SetIdleTimeout(int timeoutMs);

  // Blocks until some bytes arrive; 0 means the peer has closed.
  size_t Receive(void* buffer, size_t count);
  // Without waiting: nothing when no bytes are there yet, 0 when the peer has
  // closed, otherwise the number of bytes received.
  std::optional<size_t> TryReceive(void* buffer, size_t count);
  // Sends some of the bytes (blocking until at least one is accepted) and
  // returns how many went out.
  size_t Send(const void* buffer, size_t count);
  // Sends up to `count` bytes of the open file `fileHandle` (a
  // TFileStream's NativeHandle()) starting at `offset`, without copying them
  // through user space where the system can; returns how many went out, 0
  // when the file ends before `offset`.
  size_t SendFile(TNativeHandle fileHandle, int64_t offset, size_t count);
  // Moves up to `count` received bytes into the open file `fileHandle` (a
  // TFileWriteStream's NativeHandle()) at `offset`: Bytes, 0 when the peer
  // has closed. Waits and fails like Receive. A write to the file that
  // fails is no socket error: FileError then holds the system's code, and
  // Bytes what reached the file before. Where ReceivesToFilesDirectly(),
  // the bytes do not pass through user space.
  struct TFileReceipt {
    size_t Bytes = 0;
    int FileError = 0;
  };
  TFileReceipt ReceiveToFile(TNativeHandle fileHandle, int64_t offset, size_t count);
  static bool ReceivesToFilesDirectly();

  // Ends both directions at once, from any thread: blocked calls of the owner
  // return as for a closed peer. The handle stays valid until Close().
  void Shutdown();
  void Close();

  TIPVersion Version() const { return version_; }
  int LocalPort() const;
  // Dotted IPv4 text or IPv6 text, and the port, of the connected peer.
  const std::string& PeerAddress() const { return peerAddress_; }
  int PeerPort() const { return peerPort_; }

 private:
  // What a platform needs beside the handle to wake blocked calls (Windows:
  // the socket's events); none on Linux.
  struct TWaitState;

  TSocket(TNativeHandle handle, TIPVersion version);

  TNativeHandle handle_ = kNoNativeHandle;
  std::unique_ptr<TWaitState> wait_;
  TIPVersion version_ = TIPVersion::IPv4;
  std::string peerAddress_;
  int peerPort_ = 0;
};

// The longest queue of connections waiting to be accepted that the system
// allows (SOMAXCONN), for Listen.
int MaxListenQueue();

// True when the machine can create IPv6 stream sockets.
bool IPv6Available();

// The host name of a dotted IPv4 address by the system resolver (the name
// must exist: an address without one raises 11001 "Host not found.").
std::string ReverseLookup(std::string_view address);

// This machine's own names: its host name and, where the resolver knows a
// longer one, its fully qualified name; empty when the system names none.
// The fully qualified name may take a resolver's answer to learn.
std::vector<std::string> LocalMachineNames();

// The process's limit of open files: the current one, and raising it towards
// `wanted` as far as the hard limit allows (never lowering it); both return
// the limit now in force. SetOpenFileLimit restores a value read before.
int OpenFileLimit();
int RaiseOpenFileLimit(int wanted);
void SetOpenFileLimit(int limit);

}  // namespace ormelin
