// Fetches the files of a task list over several connections at once, each
// keeping a window of GetFile requests outstanding (the server answers them
// in order) that grows until it covers the link (TRequestWindow), and writes each through the same
// replacement as the file commands: a new file unnamed until it is whole and timed, an update a
// temporary file renamed over the old one.
//
// The jobs may come while the fetcher runs (Add, then Finish): a worker
// starts, and connects, for each job beyond the first up to the number of
// connections less one, or before any job when jobs are expected, and
// Finish brings the last, so that files are fetched while the task list
// that names them is still being read.
//
// A failing file is reported and the others go on. After a "500" reply or a
// broken connection the requests still outstanding on it are sent again on
// a new connection, made as the worker's TReconnect allows; a file whose own
// transfer broke off goes again from its start, on the next connection of
// the same worker, as often as there are retries. A connection that timed
// out with its retries spent ends the whole run: every worker stops after
// its current file, and Run raises that time-out.
//
// Threading: Add, Finish and Run are called from one thread; the fetcher
// runs one worker thread per connection, Finish and Run return when all
// have ended, and the callbacks are called from those threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
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

  // Stops the workers still running, after their current file, when
  // Finish was never called.
  ~TFileFetcher();
  TFileFetcher(const TFileFetcher&) = delete;
  TFileFetcher& operator=(const TFileFetcher&) = delete;

  // Starts the workers of `jobs` jobs before the jobs come: they connect
  // and wait.
  void Expect(int jobs);
  // One more job, to be fetched while the rest come.
  void Add(const TFileJob& job);
  // No job comes after these: runs them all, the last worker on `first`
  // when given (else on a connection of its own), and returns once all are
  // done. Raises EServerTimeout, with the jobs not yet done left
  // unreported, when a connection timed out; no temporary file stays behind
  // either way.
  void Finish(std::unique_ptr<TSyncConnection> first);
  // Add for every job, then Finish.
  void Run(const std::vector<TFileJob>& jobs, std::unique_ptr<TSyncConnection> first);

 private:
  struct TPending;

  void Worker(std::unique_ptr<TSyncConnection> connection);
  void Serve(std::unique_ptr<TSyncConnection>& connection, std::deque<TPending>& pending,
             TorFolderCache& folders);
  // The workers for `jobs` jobs but the one Finish starts.
  void StartWorkers(int jobs);
  TFileJob* Take();
  // Waits until a job is queued or none will come; false for the latter.
  bool AwaitJobs();
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
  std::condition_variable_any jobsCame_;
  std::deque<TFileJob> jobs_ GUARDED_BY(lock_);  // every job added; they never move
  std::deque<TFileJob*> queue_ GUARDED_BY(lock_);
  bool finished_ GUARDED_BY(lock_) = false;  // no job comes any more
  std::string lastError_ GUARDED_BY(lock_);
  std::string timeout_ GUARDED_BY(lock_);  // the time-out that ends the run
  std::atomic<bool> stopping_{false};
  int added_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace ormelin
