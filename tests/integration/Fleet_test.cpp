// Two servers over one project folder behind Debian's haproxy, configured
// with the frontend and backend of docs/SCALING.md as they stand there (only
// the addresses and ports are the test's own, all on loopback): a client
// mirrors through the balancer while one server is killed, and the mirror
// still ends with exit code 0 and every file equal to the project's. And
// a server behind it, told by the PROXY header who the client is, logs the
// client's address and not the balancer's, and refuses a client that a
// project's allow-list leaves out although the balancer is on it.
// Every process started here is ended when the test ends.
// Test label: long
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/ClientProcess.h"
#include "support/ServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::Eventually;
using test::Pattern;
using test::ReadFile;
using test::RunProgram;
using test::TProgramResult;
using test::TRawClient;
using test::TServerProcess;
using test::WriteFile;

constexpr const char* kHAProxy = "/usr/sbin/haproxy";

// The stopped process whose command line has `argument` among its
// arguments, or 0.
pid_t StoppedProcessWithArgument(const std::string& argument) {
  std::error_code error;
  for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline(it->path() / "cmdline", std::ios::binary);
    bool named = false;
    for (std::string part; std::getline(cmdline, part, '\0');) named = named || part == argument;
    if (!named) continue;
    // "pid (comm) S ...": the state follows the last parenthesis.
    const std::string stat = ReadFile(it->path() / "stat");
    const size_t close = stat.rfind(')');
    if (close != std::string::npos && stat.compare(close, 3, ") T") == 0) {
      return static_cast<pid_t>(std::stol(name));
    }
  }
  return 0;
}

// The frontend and backend that docs/SCALING.md gives: its indented block
// from "frontend ormelin" up to the first line that is not indented.
std::vector<std::string> DocumentedSections() {
  std::ifstream in(ORMELIN_SOURCE_DIR "/docs/SCALING.md");
  std::vector<std::string> lines;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (!inside && line != "    frontend ormelin") continue;
    if (!line.empty() && line.rfind("    ", 0) != 0) break;
    inside = true;
    lines.push_back(line.empty() ? line : line.substr(4));
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// A configuration with Debian's global and defaults sections as the package
// ships them (log to standard error instead of /dev/log, a statistics
// socket of the test's own, no chroot, no daemon, no error files), then the
// documented sections with the frontend bound to `listenPort` on loopback
// and the n-th server line naming `serverPorts[n]` on loopback, connecting
// from `source` when one is given.
std::string HAProxyConfig(int listenPort, const std::vector<int>& serverPorts,
                          const std::string& statsSocket, const std::string& source = {}) {
  std::string text =
      "global\n"
      "    log stderr format raw local0 info\n"
      "    stats socket " +
      statsSocket +
      " mode 600 level user\n"
      "\n"
      "defaults\n"
      "    log global\n"
      "    mode http\n"
      "    option httplog\n"
      "    option dontlognull\n"
      "    timeout connect 5000\n"
      "    timeout client 50000\n"
      "    timeout server 50000\n"
      "\n";
  size_t servers = 0;
  for (std::string line : DocumentedSections()) {
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    if (keyword == "bind") {
      line = "    bind 127.0.0.1:" + std::to_string(listenPort);
    } else if (keyword == "server" && servers < serverPorts.size()) {
      std::string name, address, options;
      words >> name >> address;
      std::getline(words, options);
      line =
          "    server " + name + " 127.0.0.1:" + std::to_string(serverPorts[servers++]) + options;
      if (!source.empty()) line += " source " + source;
    }
    text += line + "\n";
  }
  EXPECT_EQ(servers, serverPorts.size()) << text;
  return text;
}

// Debian's haproxy in the foreground with a configuration, its log (its
// standard error) in a file beside it; ended with SIGTERM and reaped when
// the object goes.
class THAProxy {
 public:
  THAProxy(const fs::path& folder, const std::string& config)
      : config_(folder / "haproxy.cfg"), log_(folder / "haproxy.log") {
    WriteFile(config_, config);
    const std::string configPath = config_.string();
    const std::string logPath = log_.string();
    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_RDONLY);
      int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(null, 0);
      dup2(log, 1);
      dup2(log, 2);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execl(kHAProxy, "haproxy", "-db", "-f", configPath.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~THAProxy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  THAProxy(const THAProxy&) = delete;
  THAProxy& operator=(const THAProxy&) = delete;

  bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::string Log() const { return ReadFile(log_); }

 private:
  fs::path config_;
  fs::path log_;
  pid_t pid_ = -1;
};

// The sessions HAProxy has open to each server of the backend "ormelin"
// (health checks are not sessions), by server name, from its statistics
// socket; empty when it cannot be asked.
std::map<std::string, int> OpenSessions(const std::string& statsSocket) {
  std::map<std::string, int> sessions;
  int handle = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, statsSocket.c_str(), sizeof address.sun_path - 1);
  if (handle < 0 || connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (handle >= 0) close(handle);
    return sessions;
  }
  const char request[] = "show stat\n";
  std::string answer;
  if (write(handle, request, sizeof request - 1) == sizeof request - 1) {
    char buffer[4096];
    for (ssize_t n; (n = read(handle, buffer, sizeof buffer)) > 0;)
      answer.append(buffer, static_cast<size_t>(n));
  }
  close(handle);
  // "# pxname,svname,qcur,qmax,scur,...": one line per proxy and server.
  std::istringstream lines(answer);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    if (fields.size() > 4 && fields[0] == "ormelin" && fields[1] != "FRONTEND" &&
        fields[1] != "BACKEND" && !fields[4].empty()) {
      sessions[fields[1]] = std::stoi(fields[4]);
    }
  }
  return sessions;
}

// Starts a server over the projects (name, path, allow-list or nullptr for
// none) that believes PROXY headers from `proxy`; returns its port.
int StartBehindBalancer(TServerProcess& server, const std::string& proxy,
                        const std::vector<std::vector<const char*>>& projects) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int port = test::FreePortPair();
    std::string config = "<xml>\r\n<serversettings>\r\n<defaultport>" + std::to_string(port) +
                         "</defaultport>\r\n<proxyfrom>" + proxy +
                         "</proxyfrom>\r\n</serversettings>\r\n<projects>\r\n";
    for (const auto& project : projects) {
      config += "<project>\r\n<name>" + std::string(project[0]) + "</name>\r\n<path>" + project[1] +
                "</path>\r\n";
      if (project[2] != nullptr) config += "<allow>" + std::string(project[2]) + "</allow>\r\n";
      config += "</project>\r\n";
    }
    server.WriteConfig(config + "</projects>\r\n</xml>\r\n");
    if (server.StartAndWait(port) && server.WaitForPort(port + 1)) return port;
    server.Stop();
  }
  throw std::runtime_error("the server could not be started: " + server.Stderr());
}

// The server's event log as its console's first page shows it.
std::string EventLogPage(int consolePort) {
  TRawClient console("127.0.0.1", consolePort);
  console.Send("GET /eventlog.html HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  return console.ReadUntilClose();
}

TEST(Fleet, DocumentedConfigurationNamesTwoServers) {
  const std::vector<std::string> lines = DocumentedSections();
  ASSERT_FALSE(lines.empty()) << "docs/SCALING.md has no block starting with 'frontend ormelin'";
  int servers = 0;
  for (const std::string& line : lines) servers += line.rfind("    server ", 0) == 0;
  EXPECT_EQ(servers, 2);
}

TEST(Fleet, AMirrorThroughHAProxyOutlivesAKilledServer) {
  ASSERT_TRUE(fs::exists(kHAProxy)) << "scripts/setup installs haproxy";
  testing::TTempFolder temp;
  const fs::path root = fs::path(temp.Path()) / "project";
  const fs::path copy = fs::path(temp.Path()) / "copy";
  constexpr int kFiles = 240;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(root / ("mapa " + std::to_string(i % 6)) / ("datoteka " + std::to_string(i)),
              Pattern(24000 + 331 * static_cast<size_t>(i), static_cast<unsigned>(i)));
  }

  // Both servers serve the same folder, as over a shared file system.
  TServerProcess first, second;
  const int firstPort = StartBehindBalancer(first, "127.0.0.1", {{"Demo", root.c_str(), nullptr}});
  const int secondPort =
      StartBehindBalancer(second, "127.0.0.1", {{"Demo", root.c_str(), nullptr}});
  const int port = test::FreePortPair();
  const std::string statsSocket = temp.Path() + "/haproxy.sock";
  THAProxy balancer(temp.Path(), HAProxyConfig(port, {firstPort, secondPort}, statsSocket));
  ASSERT_TRUE(Eventually([&] { return TRawClient::CanConnect("127.0.0.1", port); }))
      << balancer.Log();

  // The client stops itself after its first file, with the task list in
  // hand and at least the connection that fetched that file open.
  TProgramResult run;
  std::thread client([&] {
    run = RunProgram("/usr/bin/env", {"LD_PRELOAD=" ORMELIN_STOP_AFTER_FIRST_RENAME,
                                      ORMELIN_BIN_DIR "/ormelin-client", "--port",
                                      std::to_string(port), "127.0.0.1", "Demo", copy.string()});
  });
  pid_t clientPid = 0;
  Eventually([&] { return (clientPid = StoppedProcessWithArgument(copy.string())) != 0; }, 120);
  // The server with more of the client's connections dies (the first one
  // when both have as many), so that the mirror loses transfers.
  std::map<std::string, int> sessions = OpenSessions(statsSocket);
  const bool killFirst = sessions["ormelin1"] >= sessions["ormelin2"];
  const std::string victim = killFirst ? "ormelin1" : "ormelin2";
  TServerProcess& killed = killFirst ? first : second;
  TServerProcess& survivor = killFirst ? second : first;
  EXPECT_GT(sessions[victim], 0) << "no connection of the client to either server";
  if (clientPid != 0) {
    kill(killed.Pid(), SIGKILL);
    EXPECT_EQ(killed.Wait(), 128 + SIGKILL);
    kill(clientPid, SIGCONT);
  }
  client.join();
  ASSERT_NE(clientPid, 0) << "the client never stopped after its first file\n"
                          << run.Stdout << run.Stderr;

  EXPECT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr << balancer.Log();
  int equal = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const fs::path mirrored = copy / fs::relative(entry.path(), root);
    EXPECT_TRUE(ReadFile(mirrored) == ReadFile(entry.path())) << mirrored;
    ++equal;
  }
  EXPECT_EQ(equal, kFiles);
  for (const auto& entry : fs::recursive_directory_iterator(copy)) {
    EXPECT_NE(entry.path().filename().string().rfind(".ormelin-", 0), 0u) << entry.path();
  }

  // HAProxy logged the killed server's part of the mirror, and its health
  // check took the server out.
  EXPECT_TRUE(Eventually([&] {
    return balancer.Log().find(victim + " is DOWN") != std::string::npos;
  })) << balancer.Log();
  EXPECT_NE(balancer.Log().find(" ormelin/" + victim + " "), std::string::npos) << balancer.Log();
  EXPECT_TRUE(balancer.Running());
  EXPECT_TRUE(survivor.Running());
}

TEST(Fleet, BehindTheBalancerTheServerSeesAndChecksTheRealClient) {
  ASSERT_TRUE(fs::exists(kHAProxy)) << "scripts/setup installs haproxy";
  testing::TTempFolder temp;
  const fs::path root = fs::path(temp.Path()) / "project";
  WriteFile(root / "a.txt", "alpha");
  // The balancer connects from 127.0.0.3, the client from 127.0.0.1. The
  // office project lets in the balancer's address only: a server that took
  // the balancer for the client would serve it.
  constexpr const char* kBalancer = "127.0.0.3";
  TServerProcess server;
  const int serverPort = StartBehindBalancer(
      server, kBalancer, {{"Demo", root.c_str(), nullptr}, {"Ured", root.c_str(), kBalancer}});
  const int port = test::FreePortPair();
  THAProxy balancer(temp.Path(), HAProxyConfig(port, {serverPort, serverPort},
                                               temp.Path() + "/haproxy.sock", kBalancer));
  ASSERT_TRUE(Eventually([&] { return TRawClient::CanConnect("127.0.0.1", port); }))
      << balancer.Log();

  const fs::path copy = fs::path(temp.Path()) / "copy";
  const TProgramResult mirrored =
      RunProgram(ORMELIN_BIN_DIR "/ormelin-client",
                 {"--port", std::to_string(port), "127.0.0.1", "Demo", copy.string()});
  EXPECT_EQ(mirrored.ExitCode, 0) << mirrored.Stdout << mirrored.Stderr << balancer.Log();
  EXPECT_EQ(ReadFile(copy / "a.txt"), "alpha");
  const TProgramResult refused = RunProgram(ORMELIN_BIN_DIR "/ormelin-client",
                                            {"--port", std::to_string(port), "127.0.0.1", "Ured",
                                             (fs::path(temp.Path()) / "ured").string()});
  EXPECT_EQ(refused.ExitCode, 1) << refused.Stdout << refused.Stderr;
  EXPECT_FALSE(fs::exists(fs::path(temp.Path()) / "ured" / "a.txt"));

  const std::string log = EventLogPage(serverPort + 1);
  EXPECT_NE(log.find("[127.0.0.1]</A> sinkronizira projekt Demo"), std::string::npos) << log;
  EXPECT_NE(log.find("[127.0.0.1]</A> odbijen za projekt Ured: adresa 127.0.0.1 nije"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(std::string("[") + kBalancer + "]"), std::string::npos) << log;
  EXPECT_TRUE(balancer.Running());
}

}  // namespace
}  // namespace ormelin
