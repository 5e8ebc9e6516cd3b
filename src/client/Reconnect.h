// How the client tries again after a connection failed: refused, closed
// before the greeting, cut while a reply or a file was on its way, or silent
// for the time-out. A reply that refuses (a "401", a "500") is an answer and
// is never tried again.
//
// The attempts after one failure form a series: before each a wait that
// doubles from 0.2 s, with up to half again of jitter (5 retries wait 3.1 s
// to 9.3 s in all), and every new connection, with its greeting, must come
// within what is left of --timeout seconds counted from the first failure
// of the series. So once a failure is noticed the run gives up on the
// server at most --timeout seconds later; a server that fell silent is
// noticed after --timeout itself, so at most twice that since its last byte.
// A reply on the new connection ends the series.
//
// Threading: one per connection slot; Failed waits on the calling thread.
#pragma once

#include <chrono>
#include <exception>
#include <string>

namespace ormelin {

class TClientOutput;

class TReconnect {
 public:
  TReconnect(std::string host, int port, int retries, int timeoutSeconds, TClientOutput& output);

  // After a failed connection: false when the series is spent (the caller
  // fails as it would without retries), else true once the wait is over,
  // having told standard error about the retry and `reason`.
  bool Failed(const std::string& reason);
  // A reply came: the next failure starts a new series.
  void Succeeded() { failures_ = 0; }
  int Retries() const { return retries_; }
  // Milliseconds the next connection may take up to its greeting; 0 when
  // no series is running (the time-out alone applies).
  int ConnectLimitMs() const;

 private:
  const std::string host_;
  const int port_;
  const int retries_;
  const int timeoutSeconds_;
  TClientOutput& output_;
  int failures_ = 0;
  std::chrono::steady_clock::time_point deadline_;
};

// True for the failures a new connection may cure, as opposed to a reply,
// a reply that makes no sense, or a local error.
bool IsConnectionFailure(const std::exception& error);

}  // namespace ormelin
