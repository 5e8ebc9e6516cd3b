#include "client/MirrorClient.h"

#include <algorithm>
#include <future>
#include <optional>
#include <system_error>
#include <thread>

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

// The reply to a line already sent; raises EServerReplyError unless its
// code is `expected`.
void ExpectReply(TSyncConnection& connection, int expected) {
  const TorReply reply = connection.ReadReply();
  if (reply.Code != expected) throw EServerReplyError(reply.Code, reply.Text);
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
  TReconnect reconnect = NewReconnect();
  std::optional<std::string> tree;              // read once, sent again on a new connection
  std::vector<TFileFetcher::TOpening> opening;  // the fetcher's next connections
  for (bool done = false; !done;) {
    try {
      connection = Connect(reconnect.ConnectLimitMs());
      // Hello and Sync go out together, a round trip saved: the server
      // answers the lines of a connection one after the other.
      connection->SendLines(std::string(kCmdHello) + "\r\n" + SyncCommandLine(options_.Project) +
                            "\r\n");
      ExpectReply(*connection, kReplyHello.Code);
      ExpectReply(*connection, kReplySyncStarted.Code);
      // The folder is read only now, while the server reads the project's.
      // A missing folder is an empty one; it is created once the server has
      // answered, so a failed connection leaves nothing behind. The
      // temporary files of a run that was killed go (a dry run changes
      // nothing).
      if (!tree) {
        tree = DiskTreeToXML(options_.Folder, ScanThreads(),
                             options_.DryRun ? TTemporaryFiles::Keep : TTemporaryFiles::Remove);
      }
      TMemoryStream treeXML(*tree);
      connection->SendStream(treeXML);
      // The tasks are read as they arrive; the list's text is never held whole.
      list.Clear();
      int files = 0;
      TTaskListReader reader([&](std::string_view name, std::string_view params) {
        list.Add(name, params);
        if (AnsiSameText(name, kTaskInsertFile) || AnsiSameText(name, kTaskUpdateFile)) {
          OpenEarly(++files, opening);
        }
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
    } catch (const Exception& error) {
      if (!IsConnectionFailure(error) || !reconnect.Failed(error.Message())) {
        output_.Error(CrLfToBlank(error.Message()));
        return 1;
      }
    }
  }

  if (!options_.DryRun && !CreateFolder()) return 1;
  if (list.Count() == 0) {
    output_.Print(Format("Mapa je već usklađena s projektom %s"_cp1250, options_.Project.c_str()));
    return 0;
  }
  if (options_.DryRun) {
    PrintDryRun(list);
    return Failures() == 0 ? 0 : 1;
  }

  int fileTasks = 0;
  int folders = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const TMirrorTask task = list.Get(i);
    if (IsFileTask(task)) ++fileTasks;
    if (IsKind(task, kTaskInsertDir)) ++folders;
  }
  output_.StartProgress(fileTasks);
  bool stalled = false;
  try {
    if (options_.Pipeline <= 1) {
      RunOneByOne(list, std::move(connection));
    } else {
      RunPipelined(list, fileTasks, std::move(connection), std::move(opening));
    }
  } catch (const EServerTimeout& error) {
    // The server has stopped answering: what is done stays, the rest waits
    // for the next run.
    output_.Error(error.Message());
    stalled = true;
  }
  output_.StopProgress();
  PrintSummary(fileTasks, folders, stalled);
  return Failures() == 0 && !stalled ? 0 : 1;
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

void TMirrorClient::OpenEarly(int files, std::vector<TFileFetcher::TOpening>& opening) {
  if (options_.DryRun || options_.Pipeline <= 1) return;
  const size_t wanted = static_cast<size_t>(std::min(files, std::max(1, options_.Connections)) - 1);
  if (opening.size() >= wanted) return;
  try {
    opening.push_back(std::async(std::launch::async, [this] { return Connect(); }));
  } catch (const std::system_error&) {
    // No thread to spare: the fetcher connects when it needs to.
  }
}

void TMirrorClient::RunPipelined(const TMirrorTaskList& list, int fileTasks,
                                 std::unique_ptr<TSyncConnection> connection,
                                 std::vector<TFileFetcher::TOpening> opening) {
  std::vector<TFileJob> jobs;
  jobs.reserve(static_cast<size_t>(fileTasks));
  for (int i = 0; i < list.Count(); ++i) {
    const TMirrorTask task = list.Get(i);
    if (std::string refusal = Refusal(task); !refusal.empty()) {
      ReportFailure(TaskPath(task), refusal);
      continue;
    }
    if (IsFileTask(task)) {
      TFileJob job;
      job.Task = i;
      job.Update = IsKind(task, kTaskUpdateFile);
      jobs.push_back(job);
      continue;
    }
    try {
      Execute(task);  // folders, in list order: parents before their content
    } catch (const Exception& error) {
      ReportFailure(TaskPath(task), error.Message());
    }
  }
  TFileFetcher fetcher(
      options_.Project, options_.Folder, options_.Connections, options_.Pipeline,
      [this](int limitMs) { return Connect(limitMs); }, [this] { return NewReconnect(); },
      [&list](const TFileJob& job) {
        return TorInsertFileCommand::ReadFileParams(list.Get(job.Task).Params);
      },
      output_,
      [this, &list](const TFileJob& job, const std::string& message) {
        ReportFailure(TaskPath(list.Get(job.Task)), message);
      });
  fetcher.Run(jobs, std::move(connection), std::move(opening));
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
