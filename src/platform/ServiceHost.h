// What the process host needs of the operating system's service frame:
// registering the service with the system's service manager and removing
// it, running the process as the service until the manager (or an
// administrator) ends it, the message boxes of installation and removal (on
// a system without a desktop, one line each), and the executable's path and
// file name.
//
// TServiceApplication is created on the main thread before the service
// module and before any other thread, and runs there; everything else is
// safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace ormelin {

// How the service is registered with the service manager.
struct TServiceDescription {
  std::string Name;         // service name, "ZevanOrmelinS"
  std::string DisplayName;  // "Ormelin Server"
  std::string Executable;   // full path of the program to run
  // The one folder the service writes, where it saves its settings, with
  // its trailing separator; empty: none. A manager that confines what the
  // service may write lets it write there.
  std::string WritableFolder;
  // The file the service replaces there (its settings); empty: none. A
  // manager that runs the service as a user of its own gives it that file.
  std::string SettingsFile;
};

// The service manager itself could not be reached ("System Error.  Code:
// %d.\r\n%s"): the registration did not start for any service.
class EServiceManagerUnavailable : public Exception {
 public:
  using Exception::Exception;
};

// Registers or removes the service with the system's service manager.
// Returns a remark for the success message when the manager could not be
// told everything (such as an installation that is not enabled), otherwise
// empty. Installing a service that exists, or removing one that does not,
// fails. Failures of the service raise Exception with the system's error
// ("System Error.  Code: %d.\r\n%s") or the manager's own words;
// EServiceManagerUnavailable when the manager cannot be opened at all.
std::string InstallService(const TServiceDescription& service);
std::string UninstallService(const TServiceDescription& service);

// The process as a service. Construction prepares the process so that
// nothing but the service manager's requests ends it: a user logging off
// does not; the destructor undoes that.
class TServiceApplication {
 public:
  TServiceApplication();
  ~TServiceApplication();
  TServiceApplication(const TServiceApplication&) = delete;
  TServiceApplication& operator=(const TServiceApplication&) = delete;

  // Runs the service on the calling (main) thread until it is stopped.
  // Failures of the host are written to the event log under `hostSource`,
  // those of the running service under the service's name. Returns false
  // when the process could not run as the service at all (on Windows: not
  // started by the service manager); its one event-log entry is written.
  bool Run(const TServiceDescription& service, const std::string& hostSource);

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

// The message boxes of installation and removal: "Information" and "Error"
// with one button. Without a desktop each is one line, success on standard
// output and failure on standard error (CR LF within a text becomes a
// blank).
void ShowInformation(std::string_view text);
void ShowError(std::string_view text);

// The full path of the running executable as the system reports it, and its
// file name with extension (the host's own event-log source).
std::string ExecutablePath();
std::string ExecutableFileName();

}  // namespace ormelin
