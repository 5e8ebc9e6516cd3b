// What the process host needs of the operating system on top of the rest of
// the platform layer: waiting for the outside requests that end, pause or
// continue the service, registering the service with the system's service
// manager, and the one-line messages of installation and removal.
//
// TServiceSignals must be created on the main thread before any other thread
// starts, so that every later thread inherits the blocked signal set and the
// requests reach only Wait(). Everything else is safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

enum class TServiceRequest {
  Stop,      // end the service (SIGTERM, SIGINT)
  Pause,     // SIGUSR1: reported only; the listeners keep running
  Continue,  // SIGUSR2: reported only
};

class TServiceSignals {
 public:
  // Blocks the stop, pause and continue signals for this thread and every
  // thread started after it, and ignores the hang-up signal (a user logging
  // off does not end the service) and a broken pipe. Restores the previous
  // state on destruction.
  TServiceSignals();
  ~TServiceSignals();
  TServiceSignals(const TServiceSignals&) = delete;
  TServiceSignals& operator=(const TServiceSignals&) = delete;

  // Waits until the next request arrives.
  TServiceRequest Wait();

 private:
  struct TSaved;
  TSaved* saved_;
};

// How the service is registered with the service manager.
struct TServiceDescription {
  std::string Name;         // service name, "ZevanOrmelinS"
  std::string DisplayName;  // "Ormelin Server"
  std::string Executable;   // full path of the program to run
  // The one folder the service writes, where it saves its settings, with
  // its trailing separator; empty: none.
  std::string WritableFolder;
};

// The systemd unit that runs the service, filled in from the template
// posix/ServiceUnit.in: the file system read-only but for WritableFolder
// (a folder that is missing then does not keep the service from starting),
// home folders read-only, a /tmp of its own, no new privileges, a restart
// after a failure. Also its file name.
std::string ServiceUnitText(const TServiceDescription& service);
std::string ServiceUnitFileName(const TServiceDescription& service);  // "<Name>.service"

// Where services are registered and how the service manager is told of
// them. SystemServiceManager() gives the system's own; tests point each
// part elsewhere.
struct TServiceManager {
  std::string UnitFolder;     // where the units are kept
  std::string Control;        // the program that enables and disables units; empty: none
  std::string RunningMarker;  // a folder that exists only while the manager runs
};
TServiceManager SystemServiceManager();

// Registers or removes the service: writes or deletes its unit in the unit
// folder and, when the manager runs, enables or disables it through the
// control program, whose own output never reaches ours. Returns a remark
// for the success line when the manager was not told ("not enabled: ..."),
// otherwise empty. Installing a service whose unit already exists, or
// removing one that does not, fails. Failures raise Exception with
// "System Error.  Code: %d.\r\n%s", or with the control program's exit code
// and its output on one line; a failed installation leaves no unit behind.
std::string InstallService(const TServiceDescription& service, const TServiceManager& manager);
std::string UninstallService(const TServiceDescription& service, const TServiceManager& manager);

// The message boxes of a desktop host become one line each: success on
// standard output, failure on standard error (CR LF within a text becomes a
// blank).
void ShowInformation(std::string_view text);
void ShowError(std::string_view text);

// The full path of the running executable as the system reports it.
std::string ExecutablePath();

}  // namespace ormelin
