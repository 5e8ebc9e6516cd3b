// The Linux side of the service host: the service as a systemd unit, where
// units are kept and how systemd is told of them, and the signals that
// stop, pause and continue the service.
//
// TServiceSignals must be created on the main thread before any other thread
// starts, so that every later thread inherits the blocked signal set and the
// requests reach only Wait(). Everything else is safe from any thread.
#pragma once

#include <string>

#include "platform/ServiceHost.h"

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

// The systemd unit that runs the service, filled in from the template
// posix/ServiceUnit.in: as the system user ServiceUser with no capability
// but reading every file, the file system read-only but for WritableFolder
// (a folder that is missing then does not keep the service from starting),
// home folders read-only, a /tmp of its own, no new privileges, a restart
// after a failure. Also its file name.
extern const char ServiceUser[];  // "ormelin"

std::string ServiceUnitText(const TServiceDescription& service);
std::string ServiceUnitFileName(const TServiceDescription& service);  // "<Name>.service"

// Where services are registered and how the service manager is told of
// them. SystemServiceManager() gives the system's own; tests point each
// part elsewhere.
struct TServiceManager {
  std::string UnitFolder;     // where the units are kept
  std::string Control;        // the program that enables and disables units; empty: none
  std::string RunningMarker;  // a folder that exists only while the manager runs
  // The program that creates a missing system user (systemd-sysusers);
  // empty: users, and the permissions of the service's files, are left as
  // they are.
  std::string Accounts;
};
TServiceManager SystemServiceManager();

// InstallService and UninstallService of ServiceHost.h with the manager
// given: writes or deletes the unit in the unit folder and, when the
// manager runs, enables or disables it through the control program, whose
// own output never reaches ours. Installing first makes sure ServiceUser
// exists and may save the settings: WritableFolder joins its group,
// group-writable and sticky (the service replaces only files of its own
// there, never the executable beside them), and SettingsFile becomes its
// own. Uninstalling leaves the user and the permissions. Returns a remark
// for the success line when the manager was not told ("not enabled:
// ..."), otherwise empty. Failures raise Exception with "System Error.
// Code: %d.\r\n%s", or with the control program's exit code and its
// output on one line; a failed installation leaves no unit behind.
std::string InstallService(const TServiceDescription& service, const TServiceManager& manager);
std::string UninstallService(const TServiceDescription& service, const TServiceManager& manager);

}  // namespace ormelin
