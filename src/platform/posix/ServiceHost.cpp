#include "platform/ServiceHost.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/Mutex.h"
#include "platform/ServiceControl.h"
#include "platform/Text.h"
#include "platform/posix/SystemError.h"
#include "platform/posix/SystemdService.h"

extern char** environ;

namespace ormelin {

// The text of posix/ServiceUnit.in, compiled in by the build.
extern const char ServiceUnitTemplate[];

const char ServiceUser[] = "ormelin";

namespace {

// The system error of a failed call, in the form the host reports it.
[[noreturn]] void RaiseSystemError(int code) {
  throw Exception(SystemErrorReport(code, SystemErrorMessage(code)));
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

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

std::string SystemctlPath() {
  for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

// Where none is found, the first: its failure to start names it.
std::string SysusersPath() {
  for (const char* candidate : {"/usr/bin/systemd-sysusers", "/bin/systemd-sysusers"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return "/usr/bin/systemd-sysusers";
}

// The user's ids; false when there is no such user.
bool FindUser(const char* name, uid_t& user, gid_t& group) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return false;
  }
  user = entry.pw_uid;
  group = entry.pw_gid;
  return true;
}

bool ManagerRuns(const TServiceManager& manager) {
  struct stat info {};
  return stat(manager.RunningMarker.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// What a run of the control program ended with. ExitCode is -1 when it
// could not be started or did not exit by itself.
struct TControlRun {
  int ExitCode = -1;
  std::string Output;  // standard output and error together, as written
};

// Runs the control program with the arguments, catching everything it
// writes so that none of it reaches our own output.
TControlRun RunControl(const std::string& program, std::vector<std::string> arguments) {
  TControlRun run;
  std::vector<char*> argv;
  std::string name = program.substr(program.rfind('/') + 1);
  argv.push_back(name.data());
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    run.Output = SystemErrorMessage(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
  // The service signals are blocked in the host; the child must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = 0;
  int started = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (started != 0) {
    close(output[0]);
    run.Output = SystemErrorMessage(started);
    return run;
  }
  char buffer[4096];
  for (;;) {
    ssize_t n = read(output[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Enough for any message of its own; the rest is read and dropped.
    if (run.Output.size() < 16384) run.Output.append(buffer, static_cast<size_t>(n));
  }
  close(output[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return run;
  }
  if (WIFEXITED(status)) run.ExitCode = WEXITSTATUS(status);
  return run;
}

// The control program's failure as one line: its words, exit code and
// output, line ends turned into blanks.
[[noreturn]] void RaiseControlFailure(const std::string& program,
                                      const std::vector<std::string>& command,
                                      const TControlRun& run) {
  std::string text;
  for (char c : run.Output) {
    bool blank = c == '\n' || c == '\r' || c == '\t';
    if (blank && (text.empty() || text.back() == ' ')) continue;
    text += blank ? ' ' : c;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  std::string message = program.substr(program.rfind('/') + 1);
  for (const std::string& word : command) message += " " + word;
  message += Format(" failed with exit code %d", run.ExitCode);
  if (!text.empty()) message += ": " + text;
  throw Exception(message);
}

// The host's output and error: a line is written whole, never between the
// pieces of another thread's.
TMutex outputLock;

void WriteWhole(FILE* stream, const std::string& line) REQUIRES(outputLock) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
}

void WriteLineTo(FILE* stream, std::string_view text) {
  std::string line = CrLfToBlank(text);
  line += '\n';
  TMutexLock guard(outputLock);
  WriteWhole(stream, line);
}

// Creates the service's user where it is missing and lets it save the
// settings (SystemdService.h). A folder or file that does not exist is left
// out, as the unit leaves out a missing folder.
void PrepareServiceUser(const TServiceDescription& service, const TServiceManager& manager) {
  if (manager.Accounts.empty()) return;
  uid_t user = 0;
  gid_t group = 0;
  if (!FindUser(ServiceUser, user, group)) {
    const std::string description =
        service.DisplayName.empty() ? service.Name : service.DisplayName;
    const std::vector<std::string> command = {
        "--inline", std::string("u ") + ServiceUser + " - \"" + description + "\" /nonexistent"};
    TControlRun run = RunControl(manager.Accounts, command);
    if (run.ExitCode != 0) RaiseControlFailure(manager.Accounts, command, run);
    if (!FindUser(ServiceUser, user, group)) RaiseSystemError(ENOENT);
  }
  struct stat info {};
  const std::string& folder = service.WritableFolder;
  if (!folder.empty() && stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    if (chown(folder.c_str(), static_cast<uid_t>(-1), group) != 0 ||
        chmod(folder.c_str(), (info.st_mode & 07777) | S_IRWXG | S_ISVTX) != 0) {
      RaiseSystemError(errno);
    }
  }
  // Not through a link: the file the link names stays the administrator's.
  const std::string& settings = service.SettingsFile;
  if (!settings.empty() && lstat(settings.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      chown(settings.c_str(), user, group) != 0) {
    RaiseSystemError(errno);
  }
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
  std::string text = ServiceUnitTemplate;
  ReplaceAll(text, "{%DESCRIPTION%}", description);
  ReplaceAll(text, "{%EXECSTART%}", UnitCommandWord(service.Executable));
  if (service.WritableFolder.empty()) {
    ReplaceAll(text, "ReadWritePaths={%WRITABLEFOLDER%}\n", "");
  } else {
    // "-": a folder that does not exist is left out instead of failing the start.
    ReplaceAll(text, "{%WRITABLEFOLDER%}", UnitCommandWord("-" + service.WritableFolder));
  }
  return text;
}

TServiceManager SystemServiceManager() {
  return TServiceManager{"/etc/systemd/system", SystemctlPath(), "/run/systemd/system",
                         SysusersPath()};
}

std::string InstallService(const TServiceDescription& service, const TServiceManager& manager) {
  const std::string unitName = ServiceUnitFileName(service);
  const std::string unitFile = JoinPath(manager.UnitFolder, unitName);
  std::string text = ServiceUnitText(service);
  // O_EXCL: a second installation fails like creating an existing service.
  FILE* file = nullptr;
  {
    int handle = open(unitFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (handle < 0) RaiseSystemError(errno);
    try {
      PrepareServiceUser(service, manager);
    } catch (...) {
      close(handle);
      unlink(unitFile.c_str());
      throw;
    }
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

  // Without a running manager there is nothing to tell; it reads the unit
  // when it starts, and the administrator enables it then.
  if (!ManagerRuns(manager)) return "not enabled: systemd is not running";
  if (manager.Control.empty()) return "not enabled: systemctl was not found";
  const std::vector<std::vector<std::string>> commands = {{"daemon-reload"}, {"enable", unitName}};
  for (const auto& command : commands) {
    TControlRun run = RunControl(manager.Control, command);
    if (run.ExitCode != 0) {
      unlink(unitFile.c_str());
      RunControl(manager.Control, {"daemon-reload"});
      RaiseControlFailure(manager.Control, command, run);
    }
  }
  return {};
}

std::string UninstallService(const TServiceDescription& service, const TServiceManager& manager) {
  const std::string unitName = ServiceUnitFileName(service);
  const std::string unitFile = JoinPath(manager.UnitFolder, unitName);
  struct stat info {};
  if (lstat(unitFile.c_str(), &info) != 0) RaiseSystemError(errno);

  std::string remark;
  if (!ManagerRuns(manager)) {
    remark = "not disabled: systemd is not running";
  } else if (manager.Control.empty()) {
    remark = "not disabled: systemctl was not found";
  } else {
    TControlRun run = RunControl(manager.Control, {"disable", unitName});
    if (run.ExitCode != 0) RaiseControlFailure(manager.Control, {"disable", unitName}, run);
  }
  if (unlink(unitFile.c_str()) != 0) RaiseSystemError(errno);
  // The unit is gone either way; a manager that cannot reload now forgets it at its next start.
  if (remark.empty()) RunControl(manager.Control, {"daemon-reload"});
  return remark;
}

std::string InstallService(const TServiceDescription& service) {
  return InstallService(service, SystemServiceManager());
}

std::string UninstallService(const TServiceDescription& service) {
  return UninstallService(service, SystemServiceManager());
}

// Systemd runs the process in the foreground: the service runs from the
// module's creation to the stop signal. Pause and continue change nothing,
// the listeners keep running.
struct TServiceApplication::TState {
  TServiceSignals Signals;
};

TServiceApplication::TServiceApplication() : state_(std::make_unique<TState>()) {}

TServiceApplication::~TServiceApplication() = default;

bool TServiceApplication::Run(const TServiceDescription&, const std::string&) {
  while (state_->Signals.Wait() != TServiceRequest::Stop) {
  }
  return true;
}

void ShowInformation(std::string_view text) {
  WriteLineTo(stdout, text);
}

void ShowError(std::string_view text) {
  WriteLineTo(stderr, text);
}

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
