// Winsock 2. Connected sockets are non-blocking underneath and wait on two
// events, the socket's own (WSAEventSelect) and one that Shutdown() sets,
// so that another thread can wake a blocked Receive or Send for certain: a
// Winsock call blocked in the system does not reliably return on shutdown()
// alone. Listening sockets block and are polled with select().
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/SocketErrors.h"
#include "platform/Sockets.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

namespace ormelin {

namespace {

SOCKET Native(TNativeHandle handle) {
  return static_cast<SOCKET>(handle);
}

// Winsock is started once for the process and left running until it ends.
void StartWinsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) throw ESocketError(started, SocketErrorDescription(started));
}

[[noreturn]] void RaiseCode(int code) {
  throw ESocketError(code, SocketErrorDescription(code));
}
[[noreturn]] void RaiseLastError() {
  RaiseCode(WSAGetLastError());
}

// Both peers send short lines that the other side answers at once:
// coalescing them only adds a delay to every exchange.
void SendWithoutDelay(SOCKET handle) {
  BOOL on = TRUE;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// A socket is not handed down to processes the service might start.
void KeepFromChildren(SOCKET handle) {
  ::SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
}

void TextOfAddress(const sockaddr* address, int length, std::string& text, int& port) {
  wchar_t host[NI_MAXHOST] = {};
  wchar_t service[NI_MAXSERV] = {};
  if (::GetNameInfoW(address, length, host, NI_MAXHOST, service, NI_MAXSERV,
                     NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    text.clear();
    port = 0;
    return;
  }
  text = WideToCp1250(host);
  port = static_cast<int>(std::wcstol(service, nullptr, 10));
}

int ClampToInt(size_t count) {
  return static_cast<int>(std::min<size_t>(count, INT_MAX));
}

}  // namespace

struct TSocket::TWaitState {
  WSAEVENT Network = WSA_INVALID_EVENT;  // the socket's reads, writes, closing, connecting
  WSAEVENT Wake = WSA_INVALID_EVENT;     // set by Shutdown()
  std::atomic<bool> ShutDown{false};
  int IdleTimeoutMs = 0;

  ~TWaitState() {
    if (Network != WSA_INVALID_EVENT) ::WSACloseEvent(Network);
    if (Wake != WSA_INVALID_EVENT) ::WSACloseEvent(Wake);
  }

  // Gives a connected (or connecting) socket its events; from here on the
  // socket does not block.
  void Attach(SOCKET handle, long networkEvents) {
    Network = ::WSACreateEvent();
    Wake = ::WSACreateEvent();
    if (Network == WSA_INVALID_EVENT || Wake == WSA_INVALID_EVENT ||
        ::WSAEventSelect(handle, Network, networkEvents) != 0) {
      RaiseLastError();
    }
  }

  enum class TResult { Ready, Woken, TimedOut };

  // Waits for the next network event or Shutdown(), at most `timeoutMs`
  // (WSA_INFINITE: without limit).
  TResult Wait(DWORD timeoutMs) {
    WSAEVENT events[2] = {Network, Wake};
    const DWORD result = ::WSAWaitForMultipleEvents(2, events, FALSE, timeoutMs, FALSE);
    if (result == WSA_WAIT_EVENT_0) return TResult::Ready;
    if (result == WSA_WAIT_EVENT_0 + 1) return TResult::Woken;
    if (result == WSA_WAIT_TIMEOUT) return TResult::TimedOut;
    RaiseLastError();
  }
  TResult WaitIdle() {
    return Wait(IdleTimeoutMs > 0 ? static_cast<DWORD>(IdleTimeoutMs) : WSA_INFINITE);
  }
};

// The system's text ending in ".".
std::string SystemSocketErrorDescription(int code) {
  std::string text = SystemErrorText(static_cast<unsigned long>(code));
  if (text.empty()) return "Unknown error.";
  if (text.back() != '.') text.push_back('.');
  return text;
}

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
  StartWinsock();
  const int family = version == TIPVersion::IPv6 ? AF_INET6 : AF_INET;
  const SOCKET handle = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) RaiseLastError();
  KeepFromChildren(handle);
  TSocket result(static_cast<TNativeHandle>(handle), version);
  // Never SO_REUSEADDR here: on Windows it lets a second socket take a port
  // that another one listens on.
  BOOL on = TRUE;
  if (::setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
    RaiseLastError();
  }
  DWORD only = 1;
  if (version == TIPVersion::IPv6 &&
      ::setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&only),
                   sizeof only) != 0) {
    RaiseLastError();
  }
  return result;
}

TSocket TSocket::Connect(std::string_view host, int port, int timeoutMs) {
  StartWinsock();
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  ADDRINFOW* found = nullptr;
  const std::wstring hostText = Cp1250ToWide(host);
  const std::wstring portText = std::to_wstring(port);
  const int resolved = ::GetAddrInfoW(hostText.c_str(), portText.c_str(), &hints, &found);
  if (resolved != 0) RaiseCode(resolved);
  struct TFree {
    ADDRINFOW* list;
    ~TFree() { ::FreeAddrInfoW(list); }
  } release{found};

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int lastError = WSAECONNREFUSED;
  for (ADDRINFOW* a = found; a; a = a->ai_next) {
    const SOCKET handle = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (handle == INVALID_SOCKET) {
      lastError = WSAGetLastError();
      continue;
    }
    KeepFromChildren(handle);
    TSocket result(static_cast<TNativeHandle>(handle),
                   a->ai_family == AF_INET6 ? TIPVersion::IPv6 : TIPVersion::IPv4);
    result.wait_ = std::make_unique<TWaitState>();
    TWaitState& wait = *result.wait_;
    wait.Attach(handle, FD_READ | FD_WRITE | FD_CLOSE | FD_CONNECT);
    int error = 0;
    if (::connect(handle, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      while (error == WSAEWOULDBLOCK) {
        DWORD waitMs = WSA_INFINITE;
        if (timeoutMs > 0) {
          const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
              deadline - std::chrono::steady_clock::now());
          waitMs = left.count() > 0 ? static_cast<DWORD>(left.count()) : 0;
        }
        if (wait.Wait(waitMs) != TWaitState::TResult::Ready) {
          error = WSAETIMEDOUT;
          break;
        }
        WSANETWORKEVENTS events{};
        if (::WSAEnumNetworkEvents(handle, wait.Network, &events) != 0) {
          error = WSAGetLastError();
        } else if (events.lNetworkEvents & FD_CONNECT) {
          error = events.iErrorCode[FD_CONNECT_BIT];
        }
      }
    }
    if (error == 0) {
      SendWithoutDelay(handle);
      TextOfAddress(a->ai_addr, static_cast<int>(a->ai_addrlen), result.peerAddress_,
                    result.peerPort_);
      return result;
    }
    lastError = error;
  }
  RaiseCode(lastError);
}

void TSocket::BindAny(int port) {
  int result;
  if (version_ == TIPVersion::IPv6) {
    sockaddr_in6 address{};  // all zeros: the IPv6 any-address
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<u_short>(port));
    result = ::bind(Native(handle_), reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<u_short>(port));
    result = ::bind(Native(handle_), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) RaiseLastError();
}

void TSocket::Listen(int backlog) {
  if (::listen(Native(handle_), backlog) != 0) RaiseLastError();
}

bool TSocket::WaitReadable(int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(handle_), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = ::select(0, &readable, nullptr, nullptr, &timeout);
  if (result == SOCKET_ERROR) RaiseLastError();
  return result > 0;
}

TSocket TSocket::Accept() {
  sockaddr_storage peer{};
  int length = sizeof peer;
  const SOCKET handle = ::accept(Native(handle_), reinterpret_cast<sockaddr*>(&peer), &length);
  if (handle == INVALID_SOCKET) RaiseLastError();
  KeepFromChildren(handle);
  TSocket result(static_cast<TNativeHandle>(handle), version_);
  result.wait_ = std::make_unique<TWaitState>();
  result.wait_->Attach(handle, FD_READ | FD_WRITE | FD_CLOSE);
  SendWithoutDelay(handle);
  TextOfAddress(reinterpret_cast<sockaddr*>(&peer), length, result.peerAddress_, result.peerPort_);
  return result;
}

void TSocket::SetIdleTimeout(int timeoutMs) {
  if (wait_) wait_->IdleTimeoutMs = timeoutMs;
}

size_t TSocket::Receive(void* buffer, size_t count) {
  if (!wait_) RaiseCode(WSAENOTCONN);
  for (;;) {
    if (wait_->ShutDown) return 0;
    // Reset before the attempt: a read that comes after it sets it again.
    ::WSAResetEvent(wait_->Network);
    const int got = ::recv(Native(handle_), static_cast<char*>(buffer), ClampToInt(count), 0);
    if (got >= 0) return static_cast<size_t>(got);
    const int error = WSAGetLastError();
    if (wait_->ShutDown) return 0;
    if (error != WSAEWOULDBLOCK) RaiseCode(error);
    switch (wait_->WaitIdle()) {
      case TWaitState::TResult::Ready:
        break;
      case TWaitState::TResult::Woken:
        return 0;
      case TWaitState::TResult::TimedOut:
        RaiseCode(WSAETIMEDOUT);
    }
  }
}

std::optional<size_t> TSocket::TryReceive(void* buffer, size_t count) {
  if (!wait_) RaiseCode(WSAENOTCONN);
  if (wait_->ShutDown) return 0;
  const int got = ::recv(Native(handle_), static_cast<char*>(buffer), ClampToInt(count), 0);
  if (got >= 0) return static_cast<size_t>(got);
  const int error = WSAGetLastError();
  if (wait_->ShutDown) return 0;
  if (error == WSAEWOULDBLOCK) return std::nullopt;
  RaiseCode(error);
}

size_t TSocket::Send(const void* buffer, size_t count) {
  if (!wait_) RaiseCode(WSAENOTCONN);
  for (;;) {
    if (wait_->ShutDown) RaiseCode(WSAESHUTDOWN);
    ::WSAResetEvent(wait_->Network);
    const int sent =
        ::send(Native(handle_), static_cast<const char*>(buffer), ClampToInt(count), 0);
    if (sent >= 0) return static_cast<size_t>(sent);
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) RaiseCode(error);
    switch (wait_->WaitIdle()) {
      case TWaitState::TResult::Ready:
        break;
      case TWaitState::TResult::Woken:
        RaiseCode(WSAESHUTDOWN);
      case TWaitState::TResult::TimedOut:
        RaiseCode(WSAETIMEDOUT);
    }
  }
}

// Windows offers TransmitFile, but only to server editions at full speed:
// a plain read and send loop does as well here.
size_t TSocket::SendFile(TNativeHandle fileHandle, int64_t offset, size_t count) {
  constexpr size_t kPiece = 64 * 1024;
  std::vector<char> piece(std::min(count, kPiece));
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD got = 0;
  if (!piece.empty() && !::ReadFile(reinterpret_cast<HANDLE>(fileHandle), piece.data(),
                                    static_cast<DWORD>(piece.size()), &got, &at)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    throw EStreamError("Stream read error. " +
                       SystemSocketErrorDescription(static_cast<int>(error)));
  }
  size_t done = 0;
  while (done < got) done += Send(piece.data() + done, got - done);
  return done;
}

bool TSocket::ReceivesToFilesDirectly() {
  return false;
}

TSocket::TFileReceipt TSocket::ReceiveToFile(TNativeHandle fileHandle, int64_t offset,
                                             size_t count) {
  constexpr size_t kPiece = 64 * 1024;
  std::vector<char> piece(std::min(count, kPiece));
  TFileReceipt receipt;
  const size_t got = piece.empty() ? 0 : Receive(piece.data(), piece.size());
  while (receipt.Bytes < got) {
    const uint64_t at = static_cast<uint64_t>(offset) + receipt.Bytes;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD written = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(fileHandle), piece.data() + receipt.Bytes,
                     static_cast<DWORD>(got - receipt.Bytes), &written, &where) ||
        written == 0) {
      receipt.FileError = static_cast<int>(::GetLastError());
      return receipt;
    }
    receipt.Bytes += written;
  }
  return receipt;
}

void TSocket::Shutdown() {
  if (handle_ == kNoNativeHandle) return;
  if (wait_) {
    wait_->ShutDown = true;
    ::WSASetEvent(wait_->Wake);
  }
  ::shutdown(Native(handle_), SD_BOTH);
}

void TSocket::Close() {
  if (handle_ != kNoNativeHandle) {
    ::closesocket(Native(handle_));
    handle_ = kNoNativeHandle;
  }
  wait_.reset();
}

int TSocket::LocalPort() const {
  sockaddr_storage local{};
  int length = sizeof local;
  if (::getsockname(Native(handle_), reinterpret_cast<sockaddr*>(&local), &length) != 0)
    RaiseLastError();
  std::string text;
  int port = 0;
  TextOfAddress(reinterpret_cast<sockaddr*>(&local), length, text, port);
  return port;
}

bool IPv6Available() {
  StartWinsock();
  const SOCKET handle = ::socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) return false;
  ::closesocket(handle);
  return true;
}

std::string ReverseLookup(std::string_view address) {
  StartWinsock();
  sockaddr_in target{};
  target.sin_family = AF_INET;
  const std::string text(address);
  if (text.find('\0') != std::string::npos ||
      ::inet_pton(AF_INET, text.c_str(), &target.sin_addr) != 1) {
    RaiseCode(WSAHOST_NOT_FOUND);
  }
  wchar_t host[NI_MAXHOST] = {};
  const int result = ::GetNameInfoW(reinterpret_cast<sockaddr*>(&target), sizeof target, host,
                                    NI_MAXHOST, nullptr, 0, NI_NAMEREQD);
  if (result != 0) RaiseCode(result);
  return WideToCp1250(host);
}

int MaxListenQueue() {
  return SOMAXCONN;
}

std::vector<std::string> LocalMachineNames() {
  std::vector<std::string> names;
  for (COMPUTER_NAME_FORMAT format : {ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
    wchar_t name[256] = {};
    DWORD size = 256;
    if (!::GetComputerNameExW(format, name, &size) || size == 0) continue;
    std::string text = WideToCp1250(name);
    if (std::find(names.begin(), names.end(), text) == names.end()) names.push_back(text);
  }
  return names;
}

// Windows has no per-process limit of open sockets to raise.
int OpenFileLimit() {
  return INT_MAX;
}

int RaiseOpenFileLimit(int) {
  return INT_MAX;
}

void SetOpenFileLimit(int) {}

}  // namespace ormelin
