// The raw loopback client of tests/support/Loopback.h over Winsock, for the
// network tests built as Windows programs. The header keeps the socket as
// an int: Windows socket handles fit in 32 bits.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <string>

#include "support/Loopback.h"

namespace ormelin::test {

namespace {

SOCKET Native(int handle) {
  return static_cast<SOCKET>(handle);
}

[[noreturn]] void Fail(const char* call) {
  throw std::runtime_error(std::string(call) + ": Winsock error " +
                           std::to_string(WSAGetLastError()));
}

bool IsClosedByPeer(int error) {
  return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

}  // namespace

TLoopbackClient::TLoopbackClient(int port, bool ipv6, int timeoutMs) {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup failed");
  const SOCKET handle = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle == INVALID_SOCKET) Fail("socket");
  handle_ = static_cast<int>(handle);
  const DWORD timeout = static_cast<DWORD>(timeoutMs);
  ::setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
  ::setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
  BOOL on = TRUE;
  ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  int result;
  if (ipv6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr.s6_addr[15] = 1;  // ::1
    address.sin6_port = htons(static_cast<u_short>(port));
    result = ::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    result = ::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) {
    const int error = WSAGetLastError();
    ::closesocket(handle);
    handle_ = -1;
    throw std::runtime_error("connect: Winsock error " + std::to_string(error));
  }
}

TLoopbackClient::~TLoopbackClient() {
  Close();
}

TLoopbackClient::TLoopbackClient(TLoopbackClient&& other) noexcept
    : handle_(other.handle_), pending_(std::move(other.pending_)), closed_(other.closed_) {
  other.handle_ = -1;
}

void TLoopbackClient::Send(std::string_view bytes) {
  if (!SendWhileOpen(bytes)) throw std::runtime_error("send: the peer closed the connection");
}

bool TLoopbackClient::SendWhileOpen(std::string_view bytes) {
  while (!bytes.empty()) {
    const int sent = ::send(Native(handle_), bytes.data(), static_cast<int>(bytes.size()), 0);
    if (sent == SOCKET_ERROR) {
      if (IsClosedByPeer(WSAGetLastError())) return false;
      Fail("send");
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void TLoopbackClient::ShutdownWrite() {
  ::shutdown(Native(handle_), SD_SEND);
}

bool TLoopbackClient::Fill() {
  if (closed_) return false;
  char buffer[65536];
  const int got = ::recv(Native(handle_), buffer, sizeof buffer, 0);
  if (got > 0) {
    pending_.append(buffer, static_cast<size_t>(got));
    return true;
  }
  if (got == 0 || IsClosedByPeer(WSAGetLastError())) {
    closed_ = true;
    return false;
  }
  if (WSAGetLastError() == WSAETIMEDOUT) throw std::runtime_error("read timed out");
  Fail("recv");
}

std::string TLoopbackClient::ReadLine() {
  for (;;) {
    const size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      std::string line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (!Fill())
      throw std::runtime_error("connection closed before the line ended: '" + pending_ + "'");
  }
}

std::string TLoopbackClient::ReadExactly(size_t count) {
  while (pending_.size() < count) {
    if (!Fill())
      throw std::runtime_error("connection closed after " + std::to_string(pending_.size()) +
                               " bytes");
  }
  std::string result = pending_.substr(0, count);
  pending_.erase(0, count);
  return result;
}

std::string TLoopbackClient::ReadUntilClose() {
  while (Fill()) {
  }
  std::string result = std::move(pending_);
  pending_.clear();
  return result;
}

bool TLoopbackClient::WaitClosed() {
  try {
    ReadUntilClose();
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

void TLoopbackClient::Close(bool abort) {
  if (handle_ < 0) return;
  if (abort) {
    linger hard{1, 0};
    ::setsockopt(Native(handle_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                 sizeof hard);
  }
  ::closesocket(Native(handle_));
  handle_ = -1;
}

}  // namespace ormelin::test
