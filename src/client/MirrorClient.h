// One mirror run: scan the local folder (creating it when missing), send
// its tree with "Sync", read the task list and carry it out with the target
// root = the folder and the source root = "Sync " + the project. Folders
// are created through the task commands; files are fetched either through
// the task commands one at a time (a window of 1) or by the pipelined
// fetcher over several connections. Hello and Sync go out in one write, and
// the fetcher starts on the first files while the rest of the task list
// still arrives, opening its connections then: over a long link each
// connection and its greeting cost a round trip and a half. When the
// connection fails while the list comes, the tasks already read stay done
// or on their way, and the list of the next connection is read without
// them.
//
// Only "insert_dir", "insert_file" and "update_file" tasks are carried out:
// a mirror never deletes, and every task path must stay inside the folder.
// A task that fails or is refused is reported and the others go on. A
// connection that fails is replaced as TReconnect says, a file in flight
// fetched again from its start; a server that stays silent through those
// retries ends the run with exit code 1, files not yet complete left as
// they were.
//
// Threading: one run on the calling thread (the fetcher adds its own).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client/ClientOptions.h"
#include "client/ClientOutput.h"
#include "client/FileFetcher.h"
#include "client/MirrorTaskList.h"
#include "client/Reconnect.h"
#include "client/SyncConnection.h"
#include "platform/Mutex.h"

namespace ormelin {

class TMirrorClient {
 public:
  TMirrorClient(const TClientOptions& options, TClientOutput& output);
  // The exit code: 0 when everything was done, 1 otherwise.
  int Run();

 private:
  // `limitMs`: see TReconnect::ConnectLimitMs.
  std::unique_ptr<TSyncConnection> Connect(int limitMs = 0);
  TReconnect NewReconnect();
  bool CheckFolder();   // not a file
  bool CreateFolder();  // with every missing level above it
  // The reason the task cannot be carried out, or "" when it can.
  std::string Refusal(const TMirrorTask& task);
  // Carries the task out with its command: the folder is the target root,
  // "Sync " + the project the source root.
  void Execute(const TMirrorTask& task);
  void ReportFailure(std::string_view path, std::string_view message);
  int Failures();
  void RunOneByOne(const TMirrorTaskList& list, std::unique_ptr<TSyncConnection> connection);
  // Acts on a task as the list is read: a folder is made, a file goes to
  // the fetcher, a refused task is reported.
  void Dispatch(const TMirrorTask& task, int index, TFileFetcher& fetcher);
  // CreateFolder once; false when it failed.
  bool EnsureFolder();
  void PrintDryRun(const TMirrorTaskList& list);
  // `stalled`: the run ended early because the server stopped answering.
  void PrintSummary(int fileTasks, int folders, bool stalled);

  const TClientOptions& options_;
  TClientOutput& output_;
  const std::string sourceRoot_;
  // Set by Run before the first connection when the run uses TLS.
  std::shared_ptr<const TTlsContext> tls_;
  int fileTasks_ = 0;  // the file and folder tasks of the list, refused ones too
  int folders_ = 0;
  int folderState_ = 0;  // 1 once the folder is there, -1 when it could not be made
  bool progressStarted_ = false;
  TMutex failureLock_;
  int failures_ GUARDED_BY(failureLock_) = 0;
};

}  // namespace ormelin
