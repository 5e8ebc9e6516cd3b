#include "support/ServerProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace ormelin::test {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool CanBind(int family, int port) {
  int handle = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return family == AF_INET6;  // no IPv6 here: nothing to collide with
  int on = 1;
  setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  bool bound;
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    bound = bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  } else {
    setsockopt(handle, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(static_cast<uint16_t>(port));
    bound = bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  close(handle);
  return bound;
}

int EphemeralPort() {
  int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  if (handle < 0 || bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (handle >= 0) close(handle);
    throw std::runtime_error("cannot bind a probe socket");
  }
  socklen_t length = sizeof address;
  getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
  close(handle);
  return ntohs(address.sin_port);
}

// Fills a socket address for an IPv4 or IPv6 text.
socklen_t MakeAddress(const std::string& text, int port, sockaddr_storage& storage) {
  std::memset(&storage, 0, sizeof storage);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  if (inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    return sizeof(sockaddr_in);
  }
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    return sizeof(sockaddr_in6);
  }
  throw std::runtime_error("not an address: " + text);
}

}  // namespace

int FreePortPair() {
  for (int attempt = 0; attempt < 200; ++attempt) {
    int port = EphemeralPort();
    if (port >= 65535) continue;
    if (CanBind(AF_INET, port) && CanBind(AF_INET, port + 1) && CanBind(AF_INET6, port) &&
        CanBind(AF_INET6, port + 1)) {
      return port;
    }
  }
  throw std::runtime_error("no free pair of ports");
}

std::string ConfigText(int port, const std::vector<std::pair<std::string, std::string>>& projects) {
  std::string text = "<xml>\r\n<serversettings>\r\n<defaultport>" + std::to_string(port) +
                     "</defaultport>\r\n</serversettings>\r\n";
  if (!projects.empty()) {
    text += "<projects>\r\n";
    for (const auto& [name, path] : projects) {
      text +=
          "<project>\r\n<name>" + name + "</name>\r\n<path>" + path + "</path>\r\n</project>\r\n";
    }
    text += "</projects>\r\n";
  }
  text += "</xml>\r\n";
  return text;
}

TServerProcess::TServerProcess() {
  std::string pattern = (fs::temp_directory_path() / "ormelin-server-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  fs::copy_file(fs::path(ORMELIN_BIN_DIR) / "ormelin-server", ExecutablePath());
}

TServerProcess::~TServerProcess() {
  if (pid_ > 0 && exitStatus_ < 0) Stop();
  if (reader_.joinable()) reader_.join();
  if (stderrPipe_ >= 0) close(stderrPipe_);
  if (stdoutPipe_ >= 0) close(stdoutPipe_);
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void TServerProcess::WriteConfig(std::string_view text) {
  std::ofstream out(folder_ + "/orServer.xml", std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TServerProcess::Start(const std::vector<std::string>& arguments) {
  if (Running()) throw std::runtime_error("the server is still running");
  if (reader_.joinable()) reader_.join();
  if (stderrPipe_ >= 0) close(stderrPipe_);
  if (stdoutPipe_ >= 0) close(stdoutPipe_);
  stderrPipe_ = stdoutPipe_ = -1;
  exitStatus_ = -1;
  {
    TMutexLock guard(outputLock_);
    stderr_.clear();
    stdout_.clear();
  }
  int errPipe[2];
  int outPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::string program = ExecutablePath();
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (auto& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setenv("LC_ALL", "C", 1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(errPipe[1]);
  close(outPipe[1]);
  stderrPipe_ = errPipe[0];
  stdoutPipe_ = outPipe[0];
  reader_ = std::thread([this] { ReadPipes(); });
}

void TServerProcess::ReadPipes() {
  pollfd fds[2] = {{stderrPipe_, POLLIN, 0}, {stdoutPipe_, POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        fds[i].fd = -1;
        --open;
        continue;
      }
      TMutexLock guard(outputLock_);
      (i == 0 ? stderr_ : stdout_).append(buffer, static_cast<size_t>(got));
    }
  }
}

bool TServerProcess::StartAndWait(int port) {
  Start();
  return WaitForPort(port);
}

bool TServerProcess::WaitForPort(int port) {
  auto deadline = Clock::now() + std::chrono::seconds(30);
  while (Clock::now() < deadline) {
    if (TRawClient::CanConnect("127.0.0.1", port)) return true;
    if (!Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int TServerProcess::StartWithProjects(
    const std::vector<std::pair<std::string, std::string>>& projects) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    int port = FreePortPair();
    WriteConfig(ConfigText(port, projects));
    if (StartAndWait(port) && WaitForPort(port + 1) &&
        Stderr().find("ZevanOrmelinS:") == std::string::npos) {
      return port;
    }
    Stop();
  }
  throw std::runtime_error("the server could not be started: " + Stderr());
}

bool TServerProcess::WaitForStderr(std::string_view text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (Stderr().find(text) != std::string::npos) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string TServerProcess::Stderr() {
  TMutexLock guard(outputLock_);
  return stderr_;
}

std::string TServerProcess::Stdout() {
  TMutexLock guard(outputLock_);
  return stdout_;
}

bool TServerProcess::Running() {
  if (pid_ <= 0 || exitStatus_ >= 0) return false;
  int status = 0;
  pid_t done = waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

int TServerProcess::Wait(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Running()) {
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exitStatus_ = 128 + SIGKILL;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (reader_.joinable()) reader_.join();
  return exitStatus_;
}

int TServerProcess::Stop() {
  if (pid_ <= 0) return -1;
  if (Running()) kill(pid_, SIGTERM);
  return Wait(60000);
}

TRawClient::TRawClient(const std::string& address, int port, const std::string& source,
                       int timeoutMs)
    : timeoutMs_(timeoutMs) {
  sockaddr_storage target;
  socklen_t targetLength = MakeAddress(address, port, target);
  handle_ = socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle_ < 0) throw std::runtime_error("socket failed");
  if (!source.empty()) {
    sockaddr_storage from;
    socklen_t fromLength = MakeAddress(source, 0, from);
    if (bind(handle_, reinterpret_cast<sockaddr*>(&from), fromLength) != 0) {
      close(handle_);
      throw std::runtime_error("cannot bind to " + source);
    }
  }
  if (connect(handle_, reinterpret_cast<sockaddr*>(&target), targetLength) != 0) {
    int code = errno;
    close(handle_);
    handle_ = -1;
    throw std::runtime_error("connect to " + address + ":" + std::to_string(port) +
                             " failed: " + std::strerror(code));
  }
}

TRawClient::~TRawClient() {
  Close();
}

bool TRawClient::CanConnect(const std::string& address, int port) {
  try {
    TRawClient probe(address, port);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

void TRawClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = send(handle_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
}

bool TRawClient::Fill() {
  pollfd fd{handle_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&fd, 1, timeoutMs_);
  } while (ready < 0 && errno == EINTR);
  if (ready == 0) throw std::runtime_error("time-out waiting for the server");
  char buffer[65536];
  ssize_t got = recv(handle_, buffer, sizeof buffer, 0);
  if (got <= 0) return false;  // closed or reset
  pending_.append(buffer, static_cast<size_t>(got));
  return true;
}

std::string TRawClient::ReadLine() {
  for (;;) {
    size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      std::string line = pending_.substr(0, end + 1);
      pending_.erase(0, end + 1);
      return line;
    }
    if (!Fill()) throw std::runtime_error("closed before the line ended: '" + pending_ + "'");
  }
}

std::string TRawClient::ReadExactly(size_t count) {
  while (pending_.size() < count) {
    if (!Fill())
      throw std::runtime_error("closed after " + std::to_string(pending_.size()) + " of " +
                               std::to_string(count) + " bytes");
  }
  std::string bytes = pending_.substr(0, count);
  pending_.erase(0, count);
  return bytes;
}

std::string TRawClient::ReadStream() {
  std::string line = ReadLine();
  if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n") {
    throw std::runtime_error("size line without CR LF: " + line);
  }
  return ReadExactly(std::stoul(line));
}

std::string TRawClient::ReadUntilClose() {
  while (Fill()) {
  }
  std::string all = std::move(pending_);
  pending_.clear();
  return all;
}

bool TRawClient::WaitClosed() {
  try {
    while (Fill()) pending_.clear();
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

void TRawClient::Close() {
  if (handle_ >= 0) close(handle_);
  handle_ = -1;
}

}  // namespace ormelin::test
