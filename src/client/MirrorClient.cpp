#include "client/MirrorClient.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <unordered_set>

#include "client/FileFetcher.h"
#include "client/Reconnect.h"
#include "comparer/DiskTreeXML.h"
#include "comparer/FileStructures.h"
#include "comparer/ReaderStream.h"
#include "comparer/StructStreamer.h"
#include "comparer/TaskListReader.h"
#include "comparer/uorBaseCommand.h"
#include "comparer/uorCommand.h"
#include "net/TlsTransport.h"
#include "platform/Collation.h"
#include "platform/Cp1250.h"
#include "platform/FileSystem.h"
#include "platform/Format.h"
#include "platform/Streams.h"
#include "platform/Text.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

bool IsKind(const TMirrorTask& task, std::string_view kind) {
  return AnsiSameText(task.Name, kind);
}
bool IsFileTask(const TMirrorTask& task) {
  return IsKind(task, kTaskInsertFile) || IsKind(task, kTaskUpdateFile);
}

// The path a task names, for messages.
std::string TaskPath(const TMirrorTask& task) {
  if (IsKind(task, kTaskInsertDir) || IsKind(task, kTaskDeleteDir)) return std::string(task.Params);
  std::vector<std::string> items = ReadDelimitedText(task.Params);
  return items.empty() ? std::string() : items[0];
}

// The task list is read in pieces this large, so that its first tasks are
// known while the rest is on its way.
constexpr int64_t kTaskListPiece = 64 * 1024;

// The most jobs the fetcher is told to expect before the task list has
// named any, for a folder that is empty: the connections it opens for them
// would stay unused when the project holds fewer files.
constexpr int kConnectionsAhead = 4;

// True for the tree of a folder without entries (or of none): its outer
// element holds no other.
bool TreeIsEmpty(const std::string& xml) {
  const size_t second = xml.find('<', 1);
  return second != std::string::npos && xml.compare(second, 2, "</") == 0;
}

// A task as a key of a set: its kind and its parameter.
std::string TaskKey(const TMirrorTask& task) {
  std::string key(task.Name);
  key.push_back('\0');
  key.append(task.Params);
  return key;
}

// The folder is read with a thread per core: most of a scan's time is the
// file system's, which serves several readers at once.
int ScanThreads() {
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

TMirrorClient::TMirrorClient(const TClientOptions& options, TClientOutput& output)
    : options_(options),
      output_(output),
      sourceRoot_(std::string(kRemoteSourcePrefix) + options.Project) {}

std::unique_ptr<TSyncConnection> TMirrorClient::Connect(int limitMs) {
  try {
    return std::make_unique<TSyncConnection>(options_.Host, options_.Port, options_.Timeout,
                                             limitMs, tls_);
  } catch (const EServerReplyError&) {
    throw;
  } catch (const ETlsRefused&) {
    throw;  // says what to do itself
  } catch (const Exception& error) {
    throw EConnectionLost(Format("Spajanje na %s:%d nije uspjelo: %s", options_.Host.c_str(),
                                 options_.Port, CrLfToBlank(error.Message()).c_str()));
  }
}

bool TMirrorClient::CheckFolder() {
  if (!DirectoryExists(options_.Folder) && FileExists(options_.Folder)) {
    output_.Error(Format("'%s' nije mapa", options_.Folder.c_str()));
    return false;
  }
  return true;
}

bool TMirrorClient::CreateFolder() {
  const std::string& folder = options_.Folder;
  if (DirectoryExists(folder)) return true;
  // Every missing level, from the top down.
  for (size_t i = 1; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '/' || folder[i] == '\\') {
      std::string level = folder.substr(0, i);
      if (!DirectoryExists(level)) CreateDir(level);
    }
  }
  if (DirectoryExists(folder)) return true;
  output_.Error(Format("Mapu '%s' nije moguće stvoriti"_cp1250, folder.c_str()));
  return false;
}

std::string TMirrorClient::Refusal(const TMirrorTask& task) {
  try {
    if (IsKind(task, kTaskInsertDir)) {
      TaskFullPath(options_.Folder, task.Params);
    } else if (IsFileTask(task)) {
      TaskFullPath(options_.Folder, TorInsertFileCommand::ReadFileParams(task.Params).Path);
    } else if (IsKind(task, kTaskDeleteDir) || IsKind(task, kTaskDeleteFile)) {
      return Format("Zadatak '%s' nije dopušten: preslikavanje ništa ne briše"_cp1250,
                    std::string(task.Name).c_str());
    } else {
      FindCommandClass(task.Name);  // "Class %s not found"
      return Format("Zadatak '%s' nije dopušten"_cp1250, std::string(task.Name).c_str());
    }
  } catch (const Exception& error) {
    return error.Message();
  }
  return std::string();
}

void TMirrorClient::ReportFailure(std::string_view path, std::string_view message) {
  {
    TMutexLock guard(failureLock_);
    ++failures_;
  }
  output_.Error("Neuspjelo '" + std::string(path) + "': " + CrLfToBlank(message));
}

int TMirrorClient::Failures() {
  TMutexLock guard(failureLock_);
  return failures_;
}

int TMirrorClient::Run() {
  if (!CheckFolder()) return 1;
  if (options_.Tls) {
    try {
      TTlsIdentity identity;
      if (!options_.CertificateFile.empty()) {
        identity.CertificatePem = ReadFileToString(options_.CertificateFile);
        identity.KeyPem = ReadFileToString(options_.KeyFile);
      }
      tls_ = TTlsContext::ForClient(options_.Host, options_.Pin, identity);
    } catch (const Exception& error) {
      output_.Error(CrLfToBlank(error.Message()));
      return 1;
    }
  }
  std::unique_ptr<TSyncConnection> connection;
  TMirrorTaskList list;
  TMutex listLock;  // the fetcher's workers read the list while it grows
  TReconnect reconnect = NewReconnect();
  std::optional<std::string> tree;  // read once, sent again on a new connection
  // Files are fetched while the task list still comes, but in a dry run and
  // one at a time through the task commands.
  const bool streaming = !options_.DryRun && options_.Pipeline > 1;
  TFileFetcher fetcher(
      options_.Project, options_.Folder, options_.Connections, options_.Pipeline,
      [this](int limitMs) { return Connect(limitMs); }, [this] { return NewReconnect(); },
      [&list, &listLock](const TFileJob& job) {
        TMutexLock guard(listLock);
        return TorInsertFileCommand::ReadFileParams(list.Get(job.Task).Params);
      },
      output_,
      [this, &list, &listLock](const TFileJob& job, const std::string& message) {
        std::string path;
        {
          TMutexLock guard(listLock);
          path = TaskPath(list.Get(job.Task));
        }
        ReportFailure(path, message);
      });
  // The tasks of a list cut off by a failed connection, acted on already:
  // the list that comes on the next connection names them again.
  std::unordered_set<std::string> actedOn;
  for (bool done = false; !done;) {
    const int attemptStart = streaming ? list.Count() : 0;
    // After a failure the tasks read so far stay done or on their way.
    auto remember = [&] {
      for (int i = attemptStart; streaming && i < list.Count(); ++i)
        actedOn.insert(TaskKey(list.Get(i)));
    };
    try {
      connection = Connect(reconnect.ConnectLimitMs());
      // Hello and Sync go out together, a round trip saved: the server
      // answers the lines of a connection one after the other.
      connection->SendLines(std::string(kCmdHello) + "\r\n" + SyncCommandLine(options_.Project) +
                            "\r\n");
      connection->ExpectReply(kReplyHello.Code);
      connection->ExpectReply(kReplySyncStarted.Code);
      // The folder is read only now, while the server reads the project's.
      // A missing folder is an empty one; it is created once the server has
      // sent a task or the whole list, so a failed connection leaves nothing
      // behind. The
      // temporary files of a run that was killed go (a dry run changes
      // nothing).
      if (!tree) {
        tree = DiskTreeToXML(options_.Folder, ScanThreads(),
                             options_.DryRun ? TTemporaryFiles::Keep : TTemporaryFiles::Remove);
      }
      // An empty folder is to be filled: the fetcher's connections are
      // opened while the server makes the task list (a few; the rest as
      // the list names files for them).
      if (streaming && TreeIsEmpty(*tree)) fetcher.Expect(kConnectionsAhead);
      TMemoryStream treeXML(*tree);
      connection->SendStream(treeXML);
      // The tasks are read as they arrive; the list's text is never held whole.
      if (!streaming) list.Clear();
      TTaskListReader reader([&](std::string_view name, std::string_view params) {
        if (!actedOn.empty() && actedOn.count(TaskKey({name, params})) != 0) return;
        {
          TMutexLock guard(listLock);
          list.Add(name, params);
        }
        if (streaming) Dispatch(list.Get(list.Count() - 1), list.Count() - 1, fetcher);
      });
      TReaderStream<TTaskListReader> tasks(reader);
      connection->ReceiveStream(tasks, kTaskListPiece);
      reader.Finish();
      done = true;
    } catch (const EServerReplyError& error) {
      output_.Error(Format("Poslužitelj je odbio zahtjev: %d "_cp1250, error.Code()) +
                    CrLfToBlank(error.Message()));
      return 1;
    } catch (const EServerLost& error) {
      if (!reconnect.Failed(error.Message())) {
        output_.Error(CrLfToBlank(error.Message()));
        return 1;
      }
      remember();
    } catch (const Exception& error) {
      if (!IsConnectionFailure(error) || !reconnect.Failed(error.Message())) {
        output_.Error(CrLfToBlank(error.Message()));
        return 1;
      }
      remember();
    }
  }

  if (!options_.DryRun && !EnsureFolder()) return 1;
  if (list.Count() == 0) {
    output_.Print(Format("Mapa je već usklađena s projektom %s"_cp1250, options_.Project.c_str()));
    return 0;
  }
  if (options_.DryRun) {
    PrintDryRun(list);
    return Failures() == 0 ? 0 : 1;
  }

  if (!streaming) {
    for (int i = 0; i < list.Count(); ++i) {
      const TMirrorTask task = list.Get(i);
      if (IsFileTask(task)) ++fileTasks_;
      if (IsKind(task, kTaskInsertDir)) ++folders_;
    }
    output_.StartProgress(fileTasks_);
  }
  bool stalled = false;
  try {
    if (streaming) {
      fetcher.Finish(std::move(connection));
    } else {
      RunOneByOne(list, std::move(connection));
    }
  } catch (const EServerTimeout& error) {
    // The server has stopped answering: what is done stays, the rest waits
    // for the next run.
    output_.Error(error.Message());
    stalled = true;
  }
  output_.StopProgress();
  PrintSummary(fileTasks_, folders_, stalled);
  return Failures() == 0 && !stalled ? 0 : 1;
}

void TMirrorClient::Dispatch(const TMirrorTask& task, int index, TFileFetcher& fetcher) {
  const bool file = IsFileTask(task);
  if (file) ++fileTasks_;
  if (IsKind(task, kTaskInsertDir)) ++folders_;
  if (!EnsureFolder()) return;  // the run ends once the list is read
  if (!progressStarted_) {
    output_.StartProgress(0);
    progressStarted_ = true;
  }
  if (std::string refusal = Refusal(task); !refusal.empty()) {
    ReportFailure(TaskPath(task), refusal);
  } else if (file) {
    output_.MoreFiles(1);
    TFileJob job;
    job.Task = index;
    job.Update = IsKind(task, kTaskUpdateFile);
    fetcher.Add(job);
  } else {
    try {
      Execute(task);  // folders, in list order: parents before their content
    } catch (const Exception& error) {
      ReportFailure(TaskPath(task), error.Message());
    }
  }
}

bool TMirrorClient::EnsureFolder() {
  if (folderState_ == 0) folderState_ = CreateFolder() ? 1 : -1;
  return folderState_ > 0;
}

void TMirrorClient::Execute(const TMirrorTask& task) {
  FindCommandClass(task.Name)->Execute(options_.Folder, sourceRoot_, task.Params);
}

TReconnect TMirrorClient::NewReconnect() {
  return TReconnect(options_.Host, options_.Port, options_.Retries, options_.Timeout, output_);
}

void TMirrorClient::RunOneByOne(const TMirrorTaskList& list,
                                std::unique_ptr<TSyncConnection> connection) {
  auto progress = [this](int64_t bytes) { output_.AddBytes(bytes); };
  connection->Progress = progress;
  TClientConnectionScope current(connection.get());
  TReconnect reconnect = NewReconnect();
  bool spent = false;  // the last series of retries ran out
  for (int i = 0; i < list.Count(); ++i) {
    const TMirrorTask task = list.Get(i);
    if (std::string refusal = Refusal(task); !refusal.empty()) {
      ReportFailure(TaskPath(task), refusal);
      continue;
    }
    // A file whose connection failed is fetched again from its start.
    for (bool again = true; again;) {
      again = false;
      try {
        if (IsFileTask(task) && (!connection || connection->Broken())) {
          current.Reset(nullptr);
          connection.reset();
          connection = Connect(reconnect.ConnectLimitMs());
          connection->Progress = progress;
          current.Reset(connection.get());
        }
        Execute(task);
        if (IsFileTask(task)) {
          output_.FileDone();
          reconnect.Succeeded();
          spent = false;
        }
      } catch (const EServerLost& error) {
        again = IsFileTask(task) && !spent && reconnect.Failed(error.Message());
        if (again) continue;
        spent = true;
        if (dynamic_cast<const EServerTimeout*>(&error) != nullptr) throw;
        ReportFailure(TaskPath(task), error.Message());
      } catch (const Exception& error) {
        again = IsFileTask(task) && IsConnectionFailure(error) && !spent &&
                reconnect.Failed(error.Message());
        if (again) continue;
        if (IsConnectionFailure(error)) spent = true;
        ReportFailure(TaskPath(task), error.Message());
      }
    }
  }
}

void TMirrorClient::PrintDryRun(const TMirrorTaskList& list) {
  for (int i = 0; i < list.Count(); ++i) {
    const TMirrorTask task = list.Get(i);
    const char* label = IsKind(task, kTaskInsertDir)    ? "nova mapa      "
                        : IsKind(task, kTaskInsertFile) ? "nova datoteka  "
                        : IsKind(task, kTaskUpdateFile) ? "novija datoteka"
                                                        : nullptr;
    std::string refusal = Refusal(task);
    if (label != nullptr && refusal.empty()) {
      output_.Print(Format("%s %s", label, TaskPath(task).c_str()));
    } else {
      ReportFailure(TaskPath(task), refusal);
    }
  }
  output_.Print(Format("Zadataka: %d; ništa nije promijenjeno"_cp1250, list.Count()));
}

void TMirrorClient::PrintSummary(int fileTasks, int folders, bool stalled) {
  TMutexLock guard(failureLock_);
  const double elapsed = output_.Elapsed();
  const int64_t bytes = output_.BytesDone();
  std::string rate =
      elapsed > 0.05 ? SizeText(static_cast<int64_t>(bytes / elapsed)) + "/s" : std::string("-");
  std::string totals =
      Format("datoteka %d/%d (%s), mapa %d, %s (%s)", output_.FilesDone(), fileTasks,
             SizeText(bytes).c_str(), folders, DurationText(elapsed).c_str(), rate.c_str());
  if (stalled) {
    output_.Print("Prekinuto: " + totals);
  } else if (failures_ == 0) {
    output_.Print("Gotovo: " + totals);
  } else {
    output_.Print(Format("Završeno s greškama (neuspjelih zadataka: %d): %s"_cp1250, failures_,
                         totals.c_str()));
  }
}

}  // namespace ormelin
