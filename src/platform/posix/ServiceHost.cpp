#include "platform/ServiceHost.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Format.h"

extern char** environ;

namespace ormelin {

namespace {

// The system error of a failed call, in the form the host reports it.
[[noreturn]] void RaiseSystemError(int code) {
  throw Exception(Format("System Error.  Code: %d.\r\n%s", code, std::strerror(code)));
}

sigset_t ServiceSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  return set;
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string result(folder);
  if (!result.empty() && result.back() != '/') result += '/';
  result += name;
  return result;
}

// Quotes a value for an ExecStart line when it needs it; "%" is doubled so
// that systemd does not read it as a specifier.
std::string UnitCommandWord(std::string_view value) {
  std::string escaped;
  bool needsQuotes = value.empty();
  for (char c : value) {
    if (c == '%') {
      escaped += "%%";
    } else if (c == '"' || c == '\\') {
      escaped += '\\';
      escaped += c;
      needsQuotes = true;
    } else {
      if (c == ' ' || c == '\t' || c == '\'' || c == ';') needsQuotes = true;
      escaped += c;
    }
  }
  return needsQuotes ? "\"" + escaped + "\"" : escaped;
}

std::string SystemctlPath() {
  for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

// Runs systemctl with the arguments; its own messages reach our standard
// error. Returns the exit code, or -1 when it could not be started.
int RunSystemctl(const std::string& program, std::vector<std::string> arguments) {
  std::vector<char*> argv;
  std::string name = "systemctl";
  argv.push_back(name.data());
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // The service signals are blocked in the host; the child must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  int started = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (started != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::mutex outputLock;

void WriteLineTo(FILE* stream, std::string_view text) {
  std::string line;
  line.reserve(text.size() + 1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      line += ' ';
      ++i;
    } else {
      line += text[i];
    }
  }
  line += '\n';
  std::lock_guard<std::mutex> guard(outputLock);
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

}  // namespace

struct TServiceSignals::TSaved {
  sigset_t mask;
  struct sigaction hangUp;
  struct sigaction brokenPipe;
};

TServiceSignals::TServiceSignals() : saved_(new TSaved) {
  sigset_t set = ServiceSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, &saved_->mask);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGHUP, &ignore, &saved_->hangUp);
  // A client that vanishes mid-send is an error of its connection, never
  // the end of the process.
  sigaction(SIGPIPE, &ignore, &saved_->brokenPipe);
}

TServiceSignals::~TServiceSignals() {
  sigaction(SIGPIPE, &saved_->brokenPipe, nullptr);
  sigaction(SIGHUP, &saved_->hangUp, nullptr);
  pthread_sigmask(SIG_SETMASK, &saved_->mask, nullptr);
  delete saved_;
}

TServiceRequest TServiceSignals::Wait() {
  sigset_t set = ServiceSignalSet();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    switch (signal) {
      case SIGUSR1:
        return TServiceRequest::Pause;
      case SIGUSR2:
        return TServiceRequest::Continue;
      case SIGTERM:
      case SIGINT:
        return TServiceRequest::Stop;
      default:
        break;
    }
  }
}

std::string ServiceUnitFileName(const TServiceDescription& service) {
  return service.Name + ".service";
}

std::string ServiceUnitText(const TServiceDescription& service) {
  std::string description = service.DisplayName.empty() ? service.Name : service.DisplayName;
  std::string text;
  text += "[Unit]\n";
  text += "Description=" + description + "\n";
  text += "After=network.target\n";
  text += "\n[Service]\n";
  text += "Type=simple\n";
  text += "ExecStart=" + UnitCommandWord(service.Executable) + "\n";
  text += "KillSignal=SIGTERM\n";
  text += "\n[Install]\n";
  text += "WantedBy=multi-user.target\n";
  return text;
}

void InstallService(const TServiceDescription& service, std::string_view unitFolder,
                    bool useServiceManager) {
  std::string unitFile = JoinPath(unitFolder, ServiceUnitFileName(service));
  std::string text = ServiceUnitText(service);
  // O_EXCL: a second installation fails like creating an existing service.
  FILE* file = nullptr;
  {
    int handle = open(unitFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (handle < 0) RaiseSystemError(errno);
    file = fdopen(handle, "w");
    if (file == nullptr) {
      int code = errno;
      close(handle);
      unlink(unitFile.c_str());
      RaiseSystemError(code);
    }
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  int code = written ? 0 : errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    code = errno;
  }
  if (!written) {
    unlink(unitFile.c_str());
    RaiseSystemError(code == 0 ? EIO : code);
  }

  std::string systemctl = useServiceManager ? SystemctlPath() : std::string();
  if (systemctl.empty()) return;
  RunSystemctl(systemctl, {"daemon-reload"});  // fails harmlessly where systemd is not running
  int result = RunSystemctl(systemctl, {"enable", ServiceUnitFileName(service)});
  if (result != 0) {
    unlink(unitFile.c_str());
    RunSystemctl(systemctl, {"daemon-reload"});
    throw Exception(Format("systemctl enable %s failed with exit code %d",
                           ServiceUnitFileName(service).c_str(), result));
  }
}

void UninstallService(const TServiceDescription& service, std::string_view unitFolder,
                      bool useServiceManager) {
  std::string unitFile = JoinPath(unitFolder, ServiceUnitFileName(service));
  struct stat info {};
  if (lstat(unitFile.c_str(), &info) != 0) RaiseSystemError(errno);

  std::string systemctl = useServiceManager ? SystemctlPath() : std::string();
  if (!systemctl.empty()) {
    int result = RunSystemctl(systemctl, {"disable", ServiceUnitFileName(service)});
    if (result != 0) {
      throw Exception(Format("systemctl disable %s failed with exit code %d",
                             ServiceUnitFileName(service).c_str(), result));
    }
  }
  if (unlink(unitFile.c_str()) != 0) RaiseSystemError(errno);
  if (!systemctl.empty()) RunSystemctl(systemctl, {"daemon-reload"});
}

void ShowInformation(std::string_view text) { WriteLineTo(stdout, text); }

void ShowError(std::string_view text) { WriteLineTo(stderr, text); }

std::string ExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace ormelin
