#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/Format.h"
#include "platform/SocketErrors.h"
#include "platform/posix/SystemError.h"

namespace ormelin {

namespace {

int Fd(TNativeHandle handle) {
  return static_cast<int>(handle);
}

// Both peers send short lines (commands, replies, size lines) that the other
// side answers at once: coalescing them only adds a delay to every exchange.
void SendWithoutDelay(int handle) {
  int on = 1;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// The one place where an errno value becomes a Windows socket error code.
int WindowsCodeOf(int err) {
  switch (err) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EAGAIN:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return kSocketErrorAddressInUse;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return kSocketErrorConnectionAborted;
    // A write to a peer that has gone away: Windows reports the reset.
    case ECONNRESET:
    case EPIPE:
      return kSocketErrorConnectionReset;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETIMEDOUT:
      return kSocketErrorTimedOut;
    case ECONNREFUSED:
      return kSocketErrorConnectionRefused;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    default:
      return err;
  }
}

// Resolver results in the same code space.
int WindowsCodeOfResolver(int result) {
  switch (result) {
    case EAI_NONAME:
      return kSocketErrorHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return 11004;
#endif
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_MEMORY:
      return 10055;
    case EAI_FAMILY:
      return 10047;
    case EAI_SYSTEM:
      return WindowsCodeOf(errno);
    default:
      return kSocketErrorHostNotFound;
  }
}

[[noreturn]] void RaiseCode(int code) {
  throw ESocketError(code, SocketErrorDescription(code));
}
[[noreturn]] void RaiseLastError() {
  RaiseCode(WindowsCodeOf(errno));
}
// After a blocking call: EAGAIN there means its idle time-out ran out.
[[noreturn]] void RaiseTransferError() {
  if (errno == EAGAIN || errno == EWOULDBLOCK) RaiseCode(kSocketErrorTimedOut);
  RaiseLastError();
}

// Waits for the non-blocking connect of `handle` to end, until `deadline`;
// 0 when it is connected, else the errno value of the failure.
int AwaitConnect(int handle, std::chrono::steady_clock::time_point deadline) {
  pollfd entry{handle, POLLOUT, 0};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int result = ::poll(&entry, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (result == 0) return ETIMEDOUT;
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return errno;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
  }
}

void TextOfAddress(const sockaddr_storage& address, std::string& text, int& port) {
  char buffer[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &a6.sin6_addr, buffer, sizeof buffer);
    port = ntohs(a6.sin6_port);
  } else {
    const auto& a4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &a4.sin_addr, buffer, sizeof buffer);
    port = ntohs(a4.sin_port);
  }
  text = buffer;
}

// sendfile(2) has no MSG_NOSIGNAL: SIGPIPE is blocked for this thread around
// the call and a signal it raised is taken out of the pending set before the
// old mask comes back, so a vanished peer is only an error.
class TSigPipeBlock {
 public:
  TSigPipeBlock() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
  }
  ~TSigPipeBlock() {
    if (!pendingBefore_) {
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      const timespec zero{0, 0};
      while (sigtimedwait(&pipe, nullptr, &zero) == SIGPIPE) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  TSigPipeBlock(const TSigPipeBlock&) = delete;
  TSigPipeBlock& operator=(const TSigPipeBlock&) = delete;

 private:
  sigset_t old_;
  bool pendingBefore_ = false;
};

}  // namespace

std::string SystemSocketErrorDescription(int code) {
  return SystemErrorMessage(code) + ".";
}

// Blocked calls wake through shutdown(2) alone.
struct TSocket::TWaitState {};

TSocket::TSocket() noexcept = default;

TSocket::TSocket(TNativeHandle handle, TIPVersion version) : handle_(handle), version_(version) {}

TSocket::~TSocket() {
  Close();
}

TSocket::TSocket(TSocket&& other) noexcept
    : handle_(other.handle_),
      wait_(std::move(other.wait_)),
      version_(other.version_),
      peerAddress_(std::move(other.peerAddress_)),
      peerPort_(other.peerPort_) {
  other.handle_ = kNoNativeHandle;
}

TSocket& TSocket::operator=(TSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    wait_ = std::move(other.wait_);
    version_ = other.version_;
    peerAddress_ = std::move(other.peerAddress_);
    peerPort_ = other.peerPort_;
    other.handle_ = kNoNativeHandle;
  }
  return *this;
}

TSocket TSocket::CreateListening(TIPVersion version) {
  const int family = version == TIPVersion::IPv6 ? AF_INET6 : AF_INET;
  int handle = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (handle < 0) RaiseLastError();
  TSocket result(handle, version);
  int on = 1;
  if (::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) RaiseLastError();
  if (version == TIPVersion::IPv6 &&
      ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
    RaiseLastError();
  }
  return result;
}

TSocket TSocket::Connect(std::string_view host, int port, int timeoutMs) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string hostText(host);
  const std::string portText = std::to_string(port);
  const int resolved = ::getaddrinfo(hostText.c_str(), portText.c_str(), &hints, &found);
  if (resolved != 0) RaiseCode(WindowsCodeOfResolver(resolved));
  const bool timed = timeoutMs > 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = ECONNREFUSED;
  for (addrinfo* a = found; a; a = a->ai_next) {
    // A timed connect waits in poll; the socket blocks again once connected.
    const int type = a->ai_socktype | SOCK_CLOEXEC | (timed ? SOCK_NONBLOCK : 0);
    int handle = ::socket(a->ai_family, type, a->ai_protocol);
    if (handle < 0) {
      lastError = errno;
      continue;
    }
    int error = ::connect(handle, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (timed && error == EINPROGRESS) error = AwaitConnect(handle, deadline);
    if (timed && error == 0 &&
        ::fcntl(handle, F_SETFL, ::fcntl(handle, F_GETFL) & ~O_NONBLOCK) != 0) {
      error = errno;
    }
    if (error == 0) {
      SendWithoutDelay(handle);
      TSocket result(handle, a->ai_family == AF_INET6 ? TIPVersion::IPv6 : TIPVersion::IPv4);
      sockaddr_storage peer{};
      std::memcpy(&peer, a->ai_addr, a->ai_addrlen);
      TextOfAddress(peer, result.peerAddress_, result.peerPort_);
      ::freeaddrinfo(found);
      return result;
    }
    lastError = error;
    ::close(handle);
  }
  ::freeaddrinfo(found);
  RaiseCode(WindowsCodeOf(lastError));
}

void TSocket::BindAny(int port) {
  int result;
  if (version_ == TIPVersion::IPv6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    result = ::bind(Fd(handle_), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    result = ::bind(Fd(handle_), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) RaiseLastError();
}

void TSocket::Listen(int backlog) {
  if (::listen(Fd(handle_), backlog) != 0) RaiseLastError();
}

bool TSocket::WaitReadable(int timeoutMs) {
  pollfd entry{Fd(handle_), POLLIN, 0};
  for (;;) {
    const int result = ::poll(&entry, 1, timeoutMs);
    if (result > 0) return true;
    if (result == 0) return false;
    if (errno != EINTR) RaiseLastError();
  }
}

TSocket TSocket::Accept() {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int handle;
  do {
    handle = ::accept4(Fd(handle_), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  } while (handle < 0 && errno == EINTR);
  if (handle < 0) RaiseLastError();
  SendWithoutDelay(handle);
  TSocket result(handle, version_);
  TextOfAddress(peer, result.peerAddress_, result.peerPort_);
  return result;
}

void TSocket::SetIdleTimeout(int timeoutMs) {
  const timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (::setsockopt(Fd(handle_), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0 ||
      ::setsockopt(Fd(handle_), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0) {
    RaiseLastError();
  }
}

size_t TSocket::Receive(void* buffer, size_t count) {
  for (;;) {
    const ssize_t got = ::recv(Fd(handle_), buffer, count, 0);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) RaiseTransferError();
  }
}

std::optional<size_t> TSocket::TryReceive(void* buffer, size_t count) {
  for (;;) {
    const ssize_t got = ::recv(Fd(handle_), buffer, count, MSG_DONTWAIT);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    if (errno != EINTR) RaiseLastError();
  }
}

size_t TSocket::Send(const void* buffer, size_t count) {
  for (;;) {
    const ssize_t sent = ::send(Fd(handle_), buffer, count, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<size_t>(sent);
    if (errno != EINTR) RaiseTransferError();
  }
}

size_t TSocket::SendFile(TNativeHandle fileHandle, int64_t offset, size_t count) {
  TSigPipeBlock block;
  off_t position = static_cast<off_t>(offset);
  for (;;) {
    const ssize_t sent = ::sendfile(Fd(handle_), Fd(fileHandle), &position, count);
    if (sent >= 0) return static_cast<size_t>(sent);
    if (errno != EINTR) RaiseTransferError();
  }
}

namespace {

// The pipe through which a thread moves received bytes into files. Bytes
// left in it by a failure would precede the next ones: it is then dropped.
class TSplicePipe {
 public:
  ~TSplicePipe() { Drop(); }
  bool Open() {
    if (ends_[0] >= 0) return true;
    if (::pipe2(ends_, O_CLOEXEC) != 0) return false;
    ::fcntl(ends_[1], F_SETPIPE_SZ, 1 << 20);  // fewer calls; the default will do
    return true;
  }
  void Drop() {
    for (int& end : ends_) {
      if (end >= 0) ::close(end);
      end = -1;
    }
  }
  int ReadEnd() const { return ends_[0]; }
  int WriteEnd() const { return ends_[1]; }

 private:
  int ends_[2] = {-1, -1};
};

thread_local TSplicePipe splicePipe;

// Moves the `count` bytes waiting in the pipe into the file at `offset`;
// returns how many arrived, and sets `error` when not all did. A file that
// takes no spliced bytes gets them through a buffer.
size_t DrainPipe(int pipe, int file, off_t offset, size_t count, int& error) {
  size_t done = 0;
  while (done < count) {
    loff_t at = offset + static_cast<off_t>(done);
    const ssize_t moved = ::splice(pipe, nullptr, file, &at, count - done, SPLICE_F_MOVE);
    if (moved > 0) {
      done += static_cast<size_t>(moved);
      continue;
    }
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0 && errno != EINVAL) {
      error = errno;
      return done;
    }
    char buffer[65536];
    const ssize_t got = ::read(pipe, buffer, std::min(sizeof buffer, count - done));
    if (got <= 0) {
      error = got < 0 ? errno : EIO;
      return done;
    }
    for (ssize_t written = 0; written < got;) {
      const ssize_t n = ::pwrite(file, buffer + written, static_cast<size_t>(got - written),
                                 offset + static_cast<off_t>(done + written));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? errno : EIO;
        return done + static_cast<size_t>(written);
      }
      written += n;
    }
    done += static_cast<size_t>(got);
  }
  return done;
}

}  // namespace

bool TSocket::ReceivesToFilesDirectly() {
  return true;
}

TSocket::TFileReceipt TSocket::ReceiveToFile(TNativeHandle fileHandle, int64_t offset,
                                             size_t count) {
  TFileReceipt receipt;
  if (!splicePipe.Open()) {
    // No pipe to spare: the bytes go through a buffer.
    char buffer[65536];
    const size_t got = Receive(buffer, std::min(sizeof buffer, count));
    for (size_t written = 0; written < got;) {
      const ssize_t n = ::pwrite(Fd(fileHandle), buffer + written, got - written,
                                 static_cast<off_t>(offset + static_cast<int64_t>(written)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        receipt.Bytes = written;
        receipt.FileError = n < 0 ? errno : EIO;
        return receipt;
      }
      written += static_cast<size_t>(n);
    }
    receipt.Bytes = got;
    return receipt;
  }
  ssize_t got;
  do {
    got = ::splice(Fd(handle_), nullptr, splicePipe.WriteEnd(), nullptr, count, SPLICE_F_MOVE);
  } while (got < 0 && errno == EINTR);
  if (got < 0) RaiseTransferError();
  receipt.Bytes = DrainPipe(splicePipe.ReadEnd(), Fd(fileHandle), static_cast<off_t>(offset),
                            static_cast<size_t>(got), receipt.FileError);
  if (receipt.FileError != 0) splicePipe.Drop();
  return receipt;
}

void TSocket::Shutdown() {
  if (handle_ != kNoNativeHandle) ::shutdown(Fd(handle_), SHUT_RDWR);
}

void TSocket::Close() {
  if (handle_ != kNoNativeHandle) {
    ::close(Fd(handle_));
    handle_ = kNoNativeHandle;
  }
}

int TSocket::LocalPort() const {
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (::getsockname(Fd(handle_), reinterpret_cast<sockaddr*>(&local), &length) != 0)
    RaiseLastError();
  std::string text;
  int port = 0;
  TextOfAddress(local, text, port);
  return port;
}

bool IPv6Available() {
  const int handle = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (handle < 0) return false;
  ::close(handle);
  return true;
}

std::string ReverseLookup(std::string_view address) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  const std::string text(address);
  if (::inet_pton(AF_INET, text.c_str(), &target.sin_addr) != 1)
    RaiseCode(kSocketErrorHostNotFound);
  char host[NI_MAXHOST] = {};
  const int result = ::getnameinfo(reinterpret_cast<sockaddr*>(&target), sizeof target, host,
                                   sizeof host, nullptr, 0, NI_NAMEREQD);
  if (result != 0) RaiseCode(WindowsCodeOfResolver(result));
  return host;
}

int MaxListenQueue() {
  return SOMAXCONN;
}

std::vector<std::string> LocalMachineNames() {
  std::vector<std::string> names;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return names;
  names.emplace_back(host);
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) == 0) {
    if (found->ai_canonname != nullptr && names[0] != found->ai_canonname) {
      names.emplace_back(found->ai_canonname);
    }
    ::freeaddrinfo(found);
  }
  return names;
}

int OpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  return limit.rlim_cur > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(limit.rlim_cur);
}

int RaiseOpenFileLimit(int wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < static_cast<rlim_t>(wanted)) {
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > static_cast<rlim_t>(wanted)
                         ? static_cast<rlim_t>(wanted)
                         : limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
  return OpenFileLimit();
}

void SetOpenFileLimit(int value) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  limit.rlim_cur = static_cast<rlim_t>(value);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_cur > limit.rlim_max)
    limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace ormelin
