// ormelin-client against a hostile server and a destination that changes
// under it: links in the destination, planted before the run or swapped in
// while it runs, must never lead a write outside it; a name renamed only in
// letter case on the server converges; what the server says reaches the
// terminal with its control characters escaped.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/ClientProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::RunClient;
using test::TProgramResult;
using test::WriteFile;

// A sync server on loopback that answers one client at a time: "Hello",
// "Sync" with the task list given, and every GetFile with the content
// "<path>!" (or, for a path holding "refuse", a failure reply holding
// control characters). `beforeFirstFile` runs when the first GetFile has
// arrived, before it is answered. The tree the client sent is kept.
class TFakeServer {
 public:
  TFakeServer(std::string tasks, std::function<void()> beforeFirstFile)
      : tasks_(std::move(tasks)), beforeFirstFile_(std::move(beforeFirstFile)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (int client; (client = accept(listener_, nullptr, nullptr)) >= 0;) {
        Serve(client);
        close(client);
      }
    });
  }
  ~TFakeServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  int Port() const { return port_; }
  // The tree the client sent last; the serving thread may still be running.
  std::string Tree() const {
    std::lock_guard<std::mutex> lock(treeLock_);
    return tree_;
  }

 private:
  void Serve(int client) {
    std::string in;
    auto fill = [&] {
      char buffer[4096];
      const ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n > 0) in.append(buffer, static_cast<size_t>(n));
      return n > 0;
    };
    auto line = [&](std::string& text) {
      size_t end;
      while ((end = in.find("\r\n")) == std::string::npos) {
        if (!fill()) return false;
      }
      text = in.substr(0, end);
      in.erase(0, end + 2);
      return true;
    };
    auto send = [&](const std::string& bytes) {
      ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    };
    auto framed = [](const std::string& bytes) {
      return std::to_string(bytes.size()) + "\r\n" + bytes;
    };
    send("200 Ready\r\n");
    for (std::string text; line(text);) {
      if (text == "Hello") {
        send("201 Ready\r\n");
      } else if (text.rfind("Sync ", 0) == 0) {
        send("202 Sync Started\r\n");
        std::string size;
        if (!line(size)) return;
        while (in.size() < std::stoul(size)) {
          if (!fill()) return;
        }
        {
          std::lock_guard<std::mutex> lock(treeLock_);
          tree_ = in.substr(0, std::stoul(size));
        }
        in.erase(0, std::stoul(size));
        send(framed(tasks_));
      } else if (text.rfind("GetFile ", 0) == 0) {
        if (beforeFirstFile_) std::exchange(beforeFirstFile_, nullptr)();
        const std::string path = text.substr(text.find(' ', 8) + 1);
        if (path.find("refuse") != std::string::npos) {
          send("500-Odbijeno \x1b]0;naslov\x07\x1b[2J\r\n500 Better luck next time\r\n");
          return;
        }
        send("203 Get File Started\r\n" + framed(path + "!"));
      }
    }
  }

  std::string tasks_;
  std::function<void()> beforeFirstFile_;
  mutable std::mutex treeLock_;
  std::string tree_;  // guarded by treeLock_
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// The task list of the given tasks, each "name" and "parameter".
std::string TaskList(const std::vector<std::pair<std::string, std::string>>& tasks) {
  std::string list = "<xml>";
  for (const auto& [name, param] : tasks) {
    list += "\r\n<task>" + name + "\r\n<param>" + param + "</param>\r\n</task>";
  }
  return list + "\r\n</xml>";
}

const std::string kTime = ",&quot;2010-05-06 07-08-10&quot;";

TProgramResult Mirror(const TFakeServer& server, const fs::path& folder, const char* pipeline) {
  return RunClient({"--port", std::to_string(server.Port()), "--connections", "1", "--pipeline",
                    pipeline, "127.0.0.1", "P", folder.string()},
                   120000);
}

// Everything below `folder`, as "path" or "path -> target", sorted.
std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_symlink()) name += " -> " + fs::read_symlink(entry.path()).string();
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ClientLinks, NothingIsWrittenThroughALinkPlantedOrSwappedIn) {
  struct TCase {
    const char* Name;
    const char* Pipeline;
    bool Swap;                        // sub becomes a link when the first file is asked for
    std::vector<std::string> Failed;  // task paths that must fail
  };
  const TCase cases[] = {
      {"planted, pipelined", "32", false, {"\\evil\\newdir", "\\evil\\x", "\\evil\\secret.txt"}},
      {"planted, one by one", "1", false, {"\\evil\\newdir", "\\evil\\x", "\\evil\\secret.txt"}},
      // The first file's folder is open before it is asked for.
      {"swapped, one by one", "1", true, {"\\sub\\old.txt", "\\sub\\new2.txt"}},
      // A window of two: the third file is opened after the first answer.
      {"swapped, pipelined", "2", true, {"\\sub\\new2.txt"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    testing::TTempFolder temp;
    const fs::path base = temp.Path(), folder = base / "kopija", outside = base / "outside";
    WriteFile(outside / "secret.txt", "mine");
    WriteFile(folder / "sub" / "old.txt", "old");
    fs::create_directory_symlink("../outside", folder / "evil");
    TFakeServer server(TaskList({{"insert_dir", "\\evil\\newdir"},
                                 {"insert_file", "\\evil\\x" + kTime},
                                 {"update_file", "\\evil\\secret.txt" + kTime},
                                 {"insert_file", "\\sub\\new.txt" + kTime},
                                 {"update_file", "\\sub\\old.txt" + kTime},
                                 {"insert_file", "\\sub\\new2.txt" + kTime},
                                 {"insert_file", "\\ok.txt" + kTime}}),
                       [&] {
                         if (!c.Swap) return;
                         fs::rename(folder / "sub", folder / "moved");
                         fs::create_directory_symlink("../outside", folder / "sub");
                       });
    const TProgramResult run = Mirror(server, folder, c.Pipeline);
    EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
    EXPECT_EQ(Listing(outside), std::vector<std::string>{"secret.txt"});
    EXPECT_EQ(ReadFile(outside / "secret.txt"), "mine");
    EXPECT_EQ(ReadFile(folder / "ok.txt"), "\\ok.txt!");
    // The scan neither lists a link nor what it leads to.
    EXPECT_EQ(server.Tree().find("evil"), std::string::npos) << server.Tree();
    EXPECT_EQ(server.Tree().find("secret"), std::string::npos) << server.Tree();
    for (const std::string& path : c.Failed) {
      std::string shown = path;
      std::replace(shown.begin(), shown.end(), '\\', '/');
      const std::string link = path.substr(0, path.find('\\', 1));
      EXPECT_NE(
          run.Stderr.find("Neuspjelo '" + path + "': Putanja '" + folder.string() + shown +
                          "' prolazi kroz vezu '" + folder.string() + "/" + link.substr(1) + "'"),
          std::string::npos)
          << path << "\n"
          << run.Stderr;
    }
  }
}

TEST(ClientNames, ACaseOnlyRenameConvergesAndServerTextIsShownEscaped) {
  testing::TTempFolder temp;
  const fs::path folder = fs::path(temp.Path()) / "kopija";
  WriteFile(folder / "readme.txt", "old");
  WriteFile(folder / "doc" / ".ormelin-0123456789abcdef-3.tmp", "left by a killed run");
  TFakeServer server(TaskList({{"update_file", "\\README.txt" + kTime},
                               {"update_file", "\\doc\\Gone.txt" + kTime},
                               {"insert_file", "&quot;\\doc\\refuse\x1b[2J.txt&quot;" + kTime}}),
                     nullptr);
  const TProgramResult run = Mirror(server, folder, "1");
  EXPECT_EQ(run.ExitCode, 1) << run.Stderr;
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"README.txt", "doc"}));
  EXPECT_EQ(ReadFile(folder / "README.txt"), "\\README.txt!");
  EXPECT_EQ(server.Tree().find(".ormelin-"), std::string::npos) << server.Tree();
  // One kind of separator in the paths of messages.
  EXPECT_NE(run.Stderr.find("Neuspjelo '\\doc\\Gone.txt': Brisanje '" + folder.string() +
                            "/doc/Gone.txt' nije mogu\xC4\x87"
                            "e"),
            std::string::npos)
      << run.Stderr;
  // Control characters of the server's texts reach the terminal escaped.
  EXPECT_EQ(run.Stderr.find_first_of("\x1b\x07"), std::string::npos) << run.Stderr;
  EXPECT_NE(run.Stderr.find("Neuspjelo '\\doc\\refuse\\x1b[2J.txt': Odbijeno "
                            "\\x1b]0;naslov\\x07\\x1b[2J"),
            std::string::npos)
      << run.Stderr;
}

}  // namespace
}  // namespace ormelin
