// A relay of the test's own between clients and servers on loopback: it
// listens on a port of its own and pipes each accepted connection to the
// next of its servers' ports in turn, as a plain round-robin balancer does.
// A connection whose server refuses is closed at once. Every piece read
// from a server is shown to the test's hook before it goes on, and the hook
// may cut that connection, both ways, instead.
// Threading: a thread accepts and two pump each connection; the hook runs on
// the pumps, at the same time for different connections. The destructor
// ends every connection and joins every thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ormelin::test {

class TRelay {
 public:
  // A piece from a server: which of the ports it came from, how many bytes
  // that connection's server had sent before it, and its size.
  struct TServerPiece {
    size_t Target;
    int64_t Before;
    int64_t Size;
  };
  // True passes the piece on; false cuts the connection instead.
  using THook = std::function<bool(const TServerPiece&)>;

  // Raises std::runtime_error when it cannot listen.
  explicit TRelay(std::vector<int> ports, THook onServerPiece = {});
  ~TRelay();
  TRelay(const TRelay&) = delete;
  TRelay& operator=(const TRelay&) = delete;

  int Port() const { return port_; }

 private:
  void Accept();
  void Pump(int from, int to, bool fromServer, size_t target);

  const std::vector<int> ports_;
  const THook onServerPiece_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<int> handles_;
  std::vector<std::thread> pumps_;
};

}  // namespace ormelin::test
