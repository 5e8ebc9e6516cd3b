#include "support/Relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace ormelin::test {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

TRelay::TRelay(std::vector<int> ports, THook onServerPiece)
    : ports_(std::move(ports)), onServerPiece_(std::move(onServerPiece)) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener_, 64) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(listener_);
    throw std::runtime_error("the relay cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

TRelay::~TRelay() {
  stopping_ = true;
  acceptor_.join();
  std::lock_guard<std::mutex> guard(lock_);
  for (int handle : handles_) shutdown(handle, SHUT_RDWR);
  for (std::thread& pump : pumps_) pump.join();
  for (int handle : handles_) close(handle);
  close(listener_);
}

void TRelay::Accept() {
  for (size_t next = 0; !stopping_;) {
    pollfd ready{listener_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const size_t target = next++ % ports_.size();
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(ports_[target]);
    if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(server);
      close(client);
      continue;
    }
    std::lock_guard<std::mutex> guard(lock_);
    handles_.insert(handles_.end(), {client, server});
    pumps_.emplace_back([this, client, server] { Pump(client, server, false, 0); });
    pumps_.emplace_back([this, client, server, target] { Pump(server, client, true, target); });
  }
}

// Copies until either side ends or the hook cuts, then ends both.
void TRelay::Pump(int from, int to, bool fromServer, size_t target) {
  char buffer[65536];
  int64_t total = 0;
  for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0; total += got) {
    if (fromServer && onServerPiece_ && !onServerPiece_({target, total, got})) break;
    if (write(to, buffer, static_cast<size_t>(got)) != got) break;
  }
  shutdown(from, SHUT_RDWR);
  shutdown(to, SHUT_RDWR);
}

}  // namespace ormelin::test
