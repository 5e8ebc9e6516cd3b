// Test label: concurrency
#include "client/FileFetcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "client/ClientOutput.h"
#include "net/IOHandler.h"
#include "net/TCPConnection.h"
#include "platform/Sockets.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

// What the scripted server does with one GetFile request.
enum class TAnswer {
  File,    // the whole file
  Refuse,  // a "500", then it closes
  Cut,     // the reply and half of the file, then it closes
  Silent,  // nothing more: the client's next read times out
};

std::string Content(const std::string& path) {
  return test::Pattern(700 + 13 * path.size(),
                       static_cast<unsigned>(std::hash<std::string>()(path)));
}

// The server side, shared by every connection the fetcher makes.
struct TFakeServer {
  std::mutex Lock;
  std::map<std::string, std::vector<TAnswer>> Answers;  // by request of the path; then File
  int RefusedConnects = 0;                              // the first ones fail
  int Connects = 0;
  std::map<std::string, int> Asked;  // requests answered, by path
  size_t MostWaiting = 0;            // requests sent and not yet answered, at most
  bool ReadPastEnd = false;          // the client waited for a reply to nothing
  int Open = 0;                      // connections not yet closed
};

// One connection: it answers each request line as it comes, and hands the
// answers out no further than the end of one at a time, so that what the
// client has read is what it has asked the connection for.
class TFakeTransport : public TIOHandler {
 public:
  explicit TFakeTransport(TFakeServer& server) : server_(server) {
    Answer("200 Ready\r\n");
    std::lock_guard<std::mutex> guard(server_.Lock);
    ++server_.Open;
  }
  ~TFakeTransport() override {
    std::lock_guard<std::mutex> guard(server_.Lock);
    --server_.Open;
  }

  size_t Receive(void* buffer, size_t count) override {
    if (std::optional<size_t> got = TryReceive(buffer, count)) return *got;
    std::lock_guard<std::mutex> guard(server_.Lock);
    server_.ReadPastEnd = true;
    throw std::logic_error("the client waits for a reply to nothing");
  }
  std::optional<size_t> TryReceive(void* buffer, size_t count) override {
    if (read_ == out_.size()) {
      if (silent_) throw ESocketError(kSocketErrorTimedOut, "timed out");
      if (closed_) return 0;
      return std::nullopt;
    }
    const size_t n = std::min(count, ends_.front() - read_);
    std::memcpy(buffer, out_.data() + read_, n);
    read_ += n;
    if (read_ == ends_.front()) {
      ends_.pop_front();
      ++answered_;
    }
    return n;
  }
  size_t Send(const void* buffer, size_t count) override {
    in_.append(static_cast<const char*>(buffer), count);
    for (size_t end; (end = in_.find("\r\n")) != std::string::npos;) {
      Request(in_.substr(0, end));
      in_.erase(0, end + 2);
    }
    return count;
  }
  void Shutdown() override {}
  std::string PeerAddress() const override { return "127.0.0.1"; }
  int PeerPort() const override { return 1974; }

 private:
  void Answer(const std::string& bytes, size_t end = std::string::npos) {
    out_ += bytes;
    ends_.push_back(end == std::string::npos ? out_.size() : out_.size() - bytes.size() + end);
  }

  void Request(const std::string& line) {
    ++requests_;
    std::lock_guard<std::mutex> guard(server_.Lock);
    server_.MostWaiting = std::max(server_.MostWaiting, requests_ - answered_);
    if (closed_ || silent_) return;
    // "GetFile <project> <path>"
    const std::string path = line.substr(line.find(' ', line.find(' ') + 1) + 1);
    const std::vector<TAnswer>& answers = server_.Answers[path];
    const int attempt = server_.Asked[path]++;
    const TAnswer answer =
        attempt < static_cast<int>(answers.size()) ? answers[attempt] : TAnswer::File;
    const std::string content = Content(path);
    const std::string head = "203 Get File Started\r\n" + std::to_string(content.size()) + "\r\n";
    switch (answer) {
      case TAnswer::File:
        Answer(head + content);
        break;
      case TAnswer::Refuse:
        Answer("500 Better luck next time\r\n");
        closed_ = true;
        break;
      case TAnswer::Cut:
        Answer(head + content.substr(0, content.size() / 2));
        closed_ = true;
        break;
      case TAnswer::Silent:
        silent_ = true;
        break;
    }
  }

  TFakeServer& server_;
  std::string in_;
  std::string out_;
  size_t read_ = 0;
  std::deque<size_t> ends_;  // where each answer not yet read whole ends
  size_t requests_ = 1;      // the connection itself, answered by the greeting
  size_t answered_ = 0;
  bool closed_ = false;
  bool silent_ = false;
};

std::string Path(int i) {
  return "/f" + std::to_string(i);
}

struct TCase {
  const char* Name;
  int Files;
  int Connections;
  int Window;
  int Retries;
  int RefusedConnects;
  std::map<std::string, std::vector<TAnswer>> Answers;
  std::set<std::string> Failed;   // reported
  std::set<std::string> Missing;  // neither fetched nor reported
  bool TimesOut;
  std::map<std::string, int> Asked;
  int Connects;  // -1: as the threads happen to share the work
};

TEST(FileFetcherTest, WindowFailuresRetriesAndHandBack) {
  using A = TAnswer;
  std::set<std::string> all8;
  for (int i = 0; i < 8; ++i) all8.insert(Path(i));
  const std::vector<TCase> cases = {
      {"every file whole", 8, 1, 4, 0, 0, {}, {}, {}, false, {{"/f0", 1}, {"/f7", 1}}, 1},
      {"a 500 fails its own file, the window goes on a new connection",
       8,
       1,
       4,
       0,
       0,
       {{"/f2", {A::Refuse}}},
       {"/f2"},
       {},
       false,
       {{"/f2", 1}, {"/f3", 1}},
       2},
      {"a file cut mid-window goes again",
       8,
       1,
       4,
       1,
       0,
       {{"/f2", {A::Cut}}},
       {},
       {},
       false,
       {{"/f2", 2}, {"/f3", 1}},
       2},
      {"a file cut on every attempt fails once its retries are spent",
       8,
       1,
       4,
       2,
       0,
       {{"/f2", {A::Cut, A::Cut, A::Cut}}},
       {"/f2"},
       {},
       false,
       {{"/f2", 3}},
       4},
      {"a time-out with no retry left ends the run",
       8,
       1,
       4,
       0,
       0,
       {{"/f2", {A::Silent}}},
       {"/f2"},
       {"/f3", "/f4", "/f5", "/f6", "/f7"},
       true,
       {{"/f2", 1}},
       1},
      {"a time-out cured by a retry",
       8,
       1,
       4,
       1,
       0,
       {{"/f2", {A::Silent}}},
       {},
       {},
       false,
       {{"/f2", 2}},
       2},
      {"refused connections, then one that answers",
       8,
       1,
       4,
       3,
       2,
       {},
       {},
       {},
       false,
       {{"/f0", 1}},
       3},
      {"connections refused beyond the retries fail every file",
       8,
       1,
       4,
       1,
       10,
       {},
       all8,
       {},
       false,
       {},
       2},
      {"two connections share the files, a 500 fails one alone",
       20,
       2,
       3,
       0,
       0,
       {{"/f5", {A::Refuse}}},
       {"/f5"},
       {},
       false,
       {{"/f5", 1}, {"/f19", 1}},
       -1},
      {"a window of one", 5, 1, 1, 1, 0, {{"/f1", {A::Cut}}}, {}, {}, false, {{"/f1", 2}}, 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    testing::TTempFolder folder;
    TFakeServer server;
    server.Answers = c.Answers;
    server.RefusedConnects = c.RefusedConnects;
    TClientOutput output(true);
    std::mutex failuresLock;
    std::map<std::string, std::string> failures;
    auto connect = [&server](int) {
      {
        std::lock_guard<std::mutex> guard(server.Lock);
        if (server.Connects++ < server.RefusedConnects)
          throw EConnectionLost("Spajanje na test:1974 nije uspjelo: refused");
      }
      return std::make_unique<TSyncConnection>(
          std::make_unique<TTCPConnection>(std::make_unique<TFakeTransport>(server)), "test", 1974,
          60);
    };
    TFileFetcher fetcher(
        "P", folder.Path(), c.Connections, c.Window, connect,
        [&output, &c] { return TReconnect("test", 1974, c.Retries, 60, output); },
        [](const TFileJob& job) {
          return TorInsertFileCommand::TFileParams{Path(job.Task), {}};
        },
        output,
        [&](const TFileJob& job, const std::string& message) {
          std::lock_guard<std::mutex> guard(failuresLock);
          EXPECT_TRUE(failures.emplace(Path(job.Task), message).second) << Path(job.Task);
        });
    std::vector<TFileJob> jobs(static_cast<size_t>(c.Files));
    for (int i = 0; i < c.Files; ++i) jobs[i].Task = i;
    bool timedOut = false;
    try {
      fetcher.Run(jobs, nullptr);
    } catch (const EServerTimeout&) {
      timedOut = true;
    }
    EXPECT_EQ(c.TimesOut, timedOut);

    std::set<std::string> failed;
    for (const auto& [path, message] : failures) {
      failed.insert(path);
      EXPECT_FALSE(message.empty()) << path;
    }
    EXPECT_EQ(c.Failed, failed);
    // The folder holds the fetched files whole, and nothing else: no
    // temporary file of a failed or unfinished transfer.
    std::set<std::string> expected;
    for (int i = 0; i < c.Files; ++i)
      if (!c.Failed.count(Path(i)) && !c.Missing.count(Path(i))) expected.insert(Path(i));
    std::set<std::string> present;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
      const std::string path = "/" + entry.path().filename().string();
      present.insert(path);
      EXPECT_EQ(Content(path), test::ReadFile(entry.path())) << path;
    }
    EXPECT_EQ(expected, present);

    std::lock_guard<std::mutex> guard(server.Lock);
    EXPECT_FALSE(server.ReadPastEnd);
    EXPECT_EQ(0, server.Open);
    EXPECT_LE(server.MostWaiting, static_cast<size_t>(c.Window));
    if (c.Connects >= 0) {
      EXPECT_EQ(c.Connects, server.Connects);
    }
    for (const auto& [path, asked] : c.Asked) EXPECT_EQ(asked, server.Asked[path]) << path;
  }
}

// Jobs that come while the fetcher runs are fetched as they come, before
// Finish, by workers that were started before them and that wait for more
// once they have fetched them. Expected jobs that never come leave nothing
// open.
TEST(FileFetcherTest, JobsAddedWhileRunningAreFetchedBeforeTheEnd) {
  testing::TTempFolder folder;
  TFakeServer server;
  TClientOutput output(true);
  auto connect = [&server](int) {
    {
      std::lock_guard<std::mutex> guard(server.Lock);
      ++server.Connects;
    }
    return std::make_unique<TSyncConnection>(
        std::make_unique<TTCPConnection>(std::make_unique<TFakeTransport>(server)), "test", 1974,
        60);
  };
  auto make = [&] {
    return std::make_unique<TFileFetcher>(
        "P", folder.Path(), 3, 4, connect,
        [&output] { return TReconnect("test", 1974, 0, 60, output); },
        [](const TFileJob& job) {
          return TorInsertFileCommand::TFileParams{Path(job.Task), {}};
        },
        output, [](const TFileJob& job, const std::string&) { ADD_FAILURE() << Path(job.Task); });
  };
  auto stillOpen = [&server] {
    std::lock_guard<std::mutex> guard(server.Lock);
    return server.Open;
  };
  auto fetcher = make();
  // Until `count` files have been asked for, for at most a minute.
  auto asked = [&server](size_t count) {
    for (int i = 0; i < 12000; ++i) {
      {
        std::lock_guard<std::mutex> guard(server.Lock);
        if (server.Asked.size() >= count) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  };
  // Expected jobs: the workers connect before the first job comes.
  fetcher->Expect(3);
  for (int i = 0; i < 12000 && stillOpen() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  int next = 0;
  for (const size_t upTo : {2, 3, 9}) {
    for (; next < static_cast<int>(upTo); ++next) {
      TFileJob job;
      job.Task = next;
      fetcher->Add(job);
    }
    EXPECT_TRUE(asked(upTo)) << upTo;
  }
  fetcher->Finish(nullptr);
  EXPECT_EQ(9, static_cast<int>(std::distance(std::filesystem::directory_iterator(folder.Path()),
                                              std::filesystem::directory_iterator())));
  {
    std::lock_guard<std::mutex> guard(server.Lock);
    // Two before the jobs came; the last worker found nothing left to fetch.
    EXPECT_EQ(2, server.Connects);
  }
  EXPECT_EQ(0, stillOpen());

  fetcher = make();
  fetcher->Expect(3);
  fetcher->Finish(nullptr);
  EXPECT_EQ(0, stillOpen());
}

}  // namespace
}  // namespace ormelin
