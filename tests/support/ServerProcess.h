// The real ormelin-server for integration tests: copied with its own
// orServer.xml into a fresh temporary folder (so the configuration next to
// the executable is the one the test wrote), started on ports the test
// picked, its standard error (the event-log sink's copy) collected, and
// stopped with SIGTERM and reaped when the object goes.
//
// TRawClient speaks the protocol with raw bytes: it can connect from a given
// loopback source address (127.0.0.2) or over IPv6, reads lines with their
// line end so tests compare exact wire text, and gives up after a time-out
// instead of hanging a test. Each object belongs to one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Mutex.h"

namespace ormelin::test {

// A port P such that P and P + 1 could both be bound just now on every
// address (the server needs P for synchronisation and P + 1 for the console).
int FreePortPair();

// An orServer.xml in the form the server writes: port, then the projects
// (name, path), each line ended by CR LF.
std::string ConfigText(int port, const std::vector<std::pair<std::string, std::string>>& projects);

class TServerProcess {
 public:
  TServerProcess();  // copies the executable; nothing runs yet
  ~TServerProcess();
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  const std::string& Folder() const { return folder_; }
  std::string ExecutablePath() const { return folder_ + "/ormelin-server"; }
  // Writes the bytes as orServer.xml next to the executable.
  void WriteConfig(std::string_view text);

  // Starts the process with the arguments (under the C locale, so that
  // date texts and messages do not depend on the test machine's); returns
  // at once. A stopped process may be started again.
  void Start(const std::vector<std::string>& arguments = {});
  // Waits until `port` accepts connections; false on time-out or when the
  // process has ended.
  bool WaitForPort(int port);
  // Start, then WaitForPort.
  bool StartAndWait(int port);
  // Picks a free port pair, writes a configuration with the projects and
  // starts the server on it, trying again with other ports when another
  // process took them meanwhile. Returns the synchronisation port.
  int StartWithProjects(const std::vector<std::pair<std::string, std::string>>& projects);
  // Waits until the standard error holds `text`; false on time-out.
  bool WaitForStderr(std::string_view text, int timeoutMs = 20000);
  std::string Stderr();
  std::string Stdout();
  bool Running();
  // SIGTERM and wait; the exit status (exit code, or 128 + signal).
  int Stop();
  // Waits for a process that ends by itself; the exit status.
  int Wait(int timeoutMs = 60000);
  pid_t Pid() const { return pid_; }

 private:
  void ReadPipes();

  std::string folder_;
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  int stderrPipe_ = -1;
  int stdoutPipe_ = -1;
  std::thread reader_;
  TMutex outputLock_;
  std::string stderr_ GUARDED_BY(outputLock_);
  std::string stdout_ GUARDED_BY(outputLock_);
};

class TRawClient {
 public:
  // Connects to `address`:`port` (an IPv4 or IPv6 text), from `source` when
  // given; raises std::runtime_error when that fails.
  TRawClient(const std::string& address, int port, const std::string& source = {},
             int timeoutMs = 30000);
  explicit TRawClient(int port) : TRawClient("127.0.0.1", port) {}
  ~TRawClient();
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  // Whether a connection to the port is accepted right now.
  static bool CanConnect(const std::string& address, int port);

  void Send(std::string_view bytes);
  // One line with its line end ("200 Ready\r\n"); raises std::runtime_error
  // at the peer's close or after the time-out.
  std::string ReadLine();
  std::string ReadExactly(size_t count);
  // A framed stream: the size line, then that many bytes; the bytes.
  std::string ReadStream();
  // Everything until the peer closes; raises std::runtime_error on time-out.
  std::string ReadUntilClose();
  // True when the peer closes within the time-out; bytes are discarded.
  bool WaitClosed();
  void Close();

 private:
  bool Fill();

  int handle_ = -1;
  int timeoutMs_;
  std::string pending_;
};

}  // namespace ormelin::test
