// A raw-socket client for tests that talk to a live listener on loopback:
// connect to 127.0.0.1 (or ::1) on a port, send bytes exactly as given, and
// read lines or everything up to the peer's close. Every read gives up after
// a time-out so that a faulty server fails the test instead of hanging it.
// One client belongs to one thread.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace ormelin::test {

class TLoopbackClient {
 public:
  // Connects; raises std::runtime_error when the connection is refused.
  explicit TLoopbackClient(int port, bool ipv6 = false, int timeoutMs = 30000);
  ~TLoopbackClient();
  TLoopbackClient(TLoopbackClient&& other) noexcept;
  TLoopbackClient(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(const TLoopbackClient&) = delete;
  TLoopbackClient& operator=(TLoopbackClient&&) = delete;

  void Send(std::string_view bytes);
  // Like Send, but a peer that closes or resets before taking every byte (a
  // server refusing what it has read so far) is an answer, not an error:
  // returns false then.
  bool SendWhileOpen(std::string_view bytes);
  // Ends the sending direction; the server sees the close, replies can still come.
  void ShutdownWrite();
  // One line without its CR LF or LF; raises std::runtime_error when the
  // peer closes before the line ends or nothing comes within the time-out.
  std::string ReadLine();
  // Exactly `count` bytes, or std::runtime_error.
  std::string ReadExactly(size_t count);
  // Everything until the peer closes (a reset counts as a close); raises
  // std::runtime_error when the peer keeps the connection open too long.
  std::string ReadUntilClose();
  // True when the peer has closed within the time-out (bytes are discarded).
  bool WaitClosed();
  // Closes at once, with a reset when `abort` is set.
  void Close(bool abort = false);
  int Handle() const { return handle_; }

 private:
  bool Fill();  // one read into pending_; false at the peer's close

  int handle_ = -1;
  std::string pending_;
  bool closed_ = false;
};

}  // namespace ormelin::test
