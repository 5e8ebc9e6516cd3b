#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ormelin::test {

TLoopbackClient::TLoopbackClient(int port, bool ipv6, int timeoutMs) {
  handle_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(handle_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(handle_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  int on = 1;
  ::setsockopt(handle_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  int result;
  if (ipv6) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    result = ::connect(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  } else {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    result = ::connect(handle_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  if (result != 0) {
    const int error = errno;
    ::close(handle_);
    handle_ = -1;
    throw std::runtime_error(std::string("connect: ") + std::strerror(error));
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
    const ssize_t sent = ::send(handle_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EPIPE || errno == ECONNRESET) return false;
      throw std::runtime_error(std::string("send: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void TLoopbackClient::ShutdownWrite() {
  ::shutdown(handle_, SHUT_WR);
}

bool TLoopbackClient::Fill() {
  if (closed_) return false;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::recv(handle_, buffer, sizeof buffer, 0);
    if (got > 0) {
      pending_.append(buffer, static_cast<size_t>(got));
      return true;
    }
    if (got == 0 || errno == ECONNRESET) {
      closed_ = true;
      return false;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) throw std::runtime_error("read timed out");
    throw std::runtime_error(std::string("recv: ") + std::strerror(errno));
  }
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
    ::setsockopt(handle_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(handle_);
  handle_ = -1;
}

}  // namespace ormelin::test
