#include "client/FileFetcher.h"

#include <thread>

#include "client/ClientOutput.h"
#include "client/RequestWindow.h"
#include "platform/Cp1250.h"
#include "platform/Streams.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

// Bytes of request lines kept outstanding at most, well below what the
// socket buffers hold, so that sending never waits on a server that is
// itself waiting for its answers to be read.
constexpr size_t kMaxPendingBytes = 32 * 1024;

}  // namespace

struct TFileFetcher::TPending {
  TFileJob* Job;
  std::unique_ptr<TorFileReplacement> Replacement;
  size_t LineBytes;
  std::optional<TDateTime> Time;
  TRequestWindow::TStamp Stamp;
};

TFileFetcher::TFileFetcher(std::string project, std::string folder, int connections, int window,
                           TConnector connect, TReconnector reconnect, TFileOfJob fileOf,
                           TClientOutput& output, TFailure fail)
    : project_(std::move(project)),
      folder_(std::move(folder)),
      connections_(connections < 1 ? 1 : connections),
      window_(window < 1 ? 1 : window),
      connect_(std::move(connect)),
      reconnect_(std::move(reconnect)),
      fileOf_(std::move(fileOf)),
      output_(output),
      fail_(std::move(fail)) {}

TFileJob* TFileFetcher::Take() {
  TMutexLock guard(lock_);
  if (queue_.empty()) return nullptr;
  TFileJob* job = queue_.front();
  queue_.pop_front();
  return job;
}

void TFileFetcher::PutBack(std::deque<TPending>& pending) {
  TMutexLock guard(lock_);
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) queue_.push_front(it->Job);
  pending.clear();
}

TFileFetcher::~TFileFetcher() {
  if (threads_.empty()) return;
  stopping_ = true;
  {
    TMutexLock guard(lock_);
    finished_ = true;
  }
  jobsCame_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void TFileFetcher::Add(const TFileJob& job) {
  {
    TMutexLock guard(lock_);
    jobs_.push_back(job);
    queue_.push_back(&jobs_.back());
  }
  jobsCame_.notify_one();
  StartWorkers(++added_);
}

void TFileFetcher::Expect(int jobs) {
  StartWorkers(jobs);
}

void TFileFetcher::StartWorkers(int jobs) {
  while (static_cast<int>(threads_.size()) < std::min(jobs, connections_) - 1)
    threads_.emplace_back([this] { Worker(nullptr); });
}

bool TFileFetcher::AwaitJobs() {
  TMutexLock guard(lock_);
  while (queue_.empty() && !finished_ && !stopping_) jobsCame_.wait(guard);
  return !queue_.empty() && !stopping_;
}

void TFileFetcher::Finish(std::unique_ptr<TSyncConnection> first) {
  {
    TMutexLock guard(lock_);
    finished_ = true;
  }
  jobsCame_.notify_all();
  if (added_ > 0) {
    threads_.emplace_back(
        [this, connection = std::move(first)]() mutable { Worker(std::move(connection)); });
  }
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  TMutexLock guard(lock_);
  if (!timeout_.empty()) {
    queue_.clear();
    throw EServerTimeout(timeout_);
  }
  // Whatever no connection could fetch fails with the reason.
  for (TFileJob* job : queue_) fail_(*job, lastError_);
  queue_.clear();
}

void TFileFetcher::Run(const std::vector<TFileJob>& jobs, std::unique_ptr<TSyncConnection> first) {
  for (const TFileJob& job : jobs) Add(job);
  Finish(std::move(first));
}

void TFileFetcher::Worker(std::unique_ptr<TSyncConnection> connection) {
  TorFolderCache folders;  // outlives the files opened through it
  std::deque<TPending> pending;
  try {
    Serve(connection, pending, folders);
  } catch (const EServerTimeout& error) {
    stopping_ = true;
    jobsCame_.notify_all();
    TMutexLock guard(lock_);
    if (timeout_.empty()) timeout_ = error.Message();
  } catch (const std::exception& error) {
    TMutexLock guard(lock_);
    lastError_ = error.what();
  }
  PutBack(pending);
}

void TFileFetcher::Serve(std::unique_ptr<TSyncConnection>& connection,
                         std::deque<TPending>& pending, TorFolderCache& folders) {
  size_t pendingBytes = 0;
  TReconnect reconnect = reconnect_();
  // Kept across this worker's connections: they cross the same link.
  TRequestWindow window(window_);
  // Why the connection failed, when it did (rather than close after a
  // "500" reply), and whether it timed out.
  std::string failure;
  bool timedOut = false;
  auto failed = [&](const auto& error) {  // an Exception or an EServerLost
    failure = error.Message();
    timedOut = dynamic_cast<const EServerTimeout*>(&error) != nullptr;
    TMutexLock guard(lock_);
    lastError_ = failure;
  };
  // A file whose transfer broke off goes again on this worker's next
  // connection, never on another worker's open one: behind a balancer that
  // one may lead to the same failed server. What is left when the worker
  // ends goes back to the queue.
  std::deque<TPending> retries;
  struct TGiveBack {
    TFileFetcher& Fetcher;
    std::deque<TPending>& Jobs;
    ~TGiveBack() { Fetcher.PutBack(Jobs); }
  } giveBack{*this, retries};
  for (;;) {
    if (stopping_) return;
    if (!connection || connection->Broken()) {
      connection.reset();
      PutBack(pending);
      pendingBytes = 0;
      {
        TMutexLock guard(lock_);
        if (queue_.empty() && finished_ && retries.empty()) return;
      }
      if (!failure.empty()) {
        if (!reconnect.Failed(failure)) {
          if (timedOut) throw EServerTimeout(failure);
          return;  // the others, if any still can, fetch what is left
        }
        failure.clear();
        if (stopping_) return;
      }
      try {
        connection = connect_(reconnect.ConnectLimitMs());
      } catch (const EServerReplyError& error) {
        TMutexLock guard(lock_);
        lastError_ = error.Message();
        return;  // an answer, not a failure
      } catch (const EServerLost& error) {
        failed(error);
        continue;
      } catch (const Exception& error) {
        failed(error);
        continue;
      }
      connection->Progress = [this](int64_t bytes) { output_.AddBytes(bytes); };
    }
    if (!connection->Progress)
      connection->Progress = [this](int64_t bytes) { output_.AddBytes(bytes); };

    // Refill the window once half of it has been answered, so that the new
    // request lines go out together in one write rather than one by one.
    std::string batch;
    const bool refill = static_cast<int>(pending.size()) <= window.Size() / 2;
    const size_t before = pending.size();
    while (refill && static_cast<int>(pending.size()) < window.Size() &&
           (pending.empty() || pendingBytes < kMaxPendingBytes)) {
      TFileJob* job = nullptr;
      if (!retries.empty()) {
        job = retries.front().Job;
        retries.pop_front();
      } else {
        job = Take();
      }
      if (job == nullptr) break;
      // The content goes straight into the new or temporary file as it
      // arrives, so that file is made before its request goes out.
      std::unique_ptr<TorFileReplacement> replacement;
      TorInsertFileCommand::TFileParams file;
      try {
        file = fileOf_(*job);
        TaskFullPath(folder_, file.Path);
        replacement = std::make_unique<TorFileReplacement>(folder_, file.Path, &folders);
        if (job->Update) {
          TorUpdateFileCommand::PrepareReplace(*replacement);
        } else {
          replacement->OpenNew();
        }
      } catch (const Exception& error) {
        folders.Forget();
        fail_(*job, error.Message());
        continue;
      }
      const std::string line = GetFileCommandLine(project_, file.Path);
      pending.push_back({job, std::move(replacement), line.size() + 2, file.Time, {}});
      pendingBytes += line.size() + 2;
      batch.append(line).append("\r\n");
    }
    if (!batch.empty()) {
      try {
        connection->SendLines(batch);
        const TRequestWindow::TStamp stamp = window.Sent(TRequestWindow::TClock::now());
        for (size_t i = before; i < pending.size(); ++i) pending[i].Stamp = stamp;
      } catch (const EServerLost& error) {
        failed(error);  // everything outstanding goes again
      } catch (const Exception& error) {
        failed(error);
      }
    }
    if (connection->Broken()) continue;
    if (pending.empty()) {
      if (!AwaitJobs()) return;
      continue;
    }

    TPending current = std::move(pending.front());
    pending.pop_front();
    pendingBytes -= current.LineBytes;
    // The connection broke while this file was on its way; its temporary
    // file goes with `current`.
    auto brokeOff = [&](const auto& error) {
      failed(error);
      if (++current.Job->Attempts > reconnect.Retries()) {
        fail_(*current.Job, error.Message());
      } else {
        current.Replacement.reset();
        retries.push_back(std::move(current));
      }
    };
    try {
      TorReply reply = connection->ReadReply();
      const auto head = TRequestWindow::TClock::now();
      reconnect.Succeeded();
      if (reply.Code != kReplyGetFileStarted.Code) {
        fail_(*current.Job, reply.Text);
        continue;  // after a 500 the server has closed: the rest goes again
      }
      TStream& content = current.Replacement->Content();
      const int64_t start = content.Position();
      connection->ReceiveStream(content);
      // The reply's lines count with the content: an empty file costs a
      // round trip too.
      window.Answered(current.Stamp, head, TRequestWindow::TClock::now(),
                      content.Position() - start + static_cast<int64_t>(reply.Text.size()) + 16);
      try {
        current.Replacement->Commit(current.Time);
        output_.FileDone();
      } catch (const Exception& error) {
        folders.Forget();
        fail_(*current.Job, error.Message());
      }
    } catch (const EServerLost& error) {
      brokeOff(error);
    } catch (const Exception& error) {
      brokeOff(error);
    }
  }
}

}  // namespace ormelin
