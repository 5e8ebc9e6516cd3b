// Fetches the files of a task list over several connections at once, each
// keeping a window of GetFile requests outstanding (the server answers them
// in order) that grows until it covers the link (TRequestWindow), and writes each through the same
// replacement as the file commands: a new file unnamed until it is whole and timed, an update a
// temporary file renamed over the old one.
//
// A failing file is reported and the others go on. After a "500" reply or a
// broken connection the requests still outstanding on it are sent again on
// a new connection, made as the worker's TReconnect allows; a file whose own
// transfer broke off goes again from its start, on the next connection of
// the same worker, as often as there are retries. A connection that timed
// out with its retries spent ends the whole run: every worker stops after
// its current file, and Run raises that time-out.
//
// Threading: Run starts one worker thread per connection and returns when
// all have ended; the callbacks are called from those threads.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/Reconnect.h"
#include "client/SyncConnection.h"
#include "comparer/uorCommand.h"
#include "platform/Mutex.h"

namespace ormelin {

class TClientOutput;

// One file to fetch: the task that names it (its path, checked, and its
// time are read from the task's parameter when needed rather than kept for
// every file of a long list).
struct TFileJob {
  int Task = 0;
  bool Update = false;
  int Attempts = 0;  // transfers that broke off
};

class TFileFetcher {
 public:
  // Given TReconnect::ConnectLimitMs.
  using TConnector = std::function<std::unique_ptr<TSyncConnection>(int)>;
  using TReconnector = std::function<TReconnect()>;
  using TFailure = std::function<void(const TFileJob&, const std::string&)>;
  // The path and time of a job's file; called from the worker threads.
  using TFileOfJob = std::function<TorInsertFileCommand::TFileParams(const TFileJob&)>;

  // The files go to `folder` + their task paths; `window` is the most
  // requests a connection keeps outstanding.
  TFileFetcher(std::string project, std::string folder, int connections, int window,
               TConnector connect, TReconnector reconnect, TFileOfJob fileOf, TClientOutput& output,
               TFailure fail);

  // Runs every job; `first`, when given, is the connection to use first.
  // Raises EServerTimeout, with the jobs not yet done left unreported, when
  // a connection timed out; no temporary file stays behind either way.
  void Run(std::vector<TFileJob>& jobs, std::unique_ptr<TSyncConnection> first);

 private:
  struct TPending;

  void Worker(std::unique_ptr<TSyncConnection> connection);
  void Serve(std::unique_ptr<TSyncConnection>& connection, std::deque<TPending>& pending,
             TorFolderCache& folders);
  TFileJob* Take();
  void PutBack(std::deque<TPending>& pending);

  const std::string project_;
  const std::string folder_;
  const int connections_;
  const int window_;
  TConnector connect_;
  TReconnector reconnect_;
  TFileOfJob fileOf_;
  TClientOutput& output_;
  TFailure fail_;

  TMutex lock_;
  std::deque<TFileJob*> queue_ GUARDED_BY(lock_);
  std::string lastError_ GUARDED_BY(lock_);
  std::string timeout_ GUARDED_BY(lock_);  // the time-out that ends the run
  std::atomic<bool> stopping_{false};
};

}  // namespace ormelin
