// The process host around the service module: the command-line switches,
// installation and removal of the service, and the run that keeps the
// process alive until the service manager (or an administrator) stops it.
// Runs on the main thread only.
#pragma once

#include <string>
#include <vector>

namespace ormelin {

struct THostSwitches {
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
};

// A switch begins with "-" or "/"; the rest is compared with INSTALL,
// UNINSTALL and SILENT ignoring case. Other arguments are ignored.
THostSwitches ParseSwitches(const std::vector<std::string>& arguments);

// The whole process: creates the module (its creation handler runs in every
// mode), installs or removes the service or waits for the stop request,
// destroys the module. Returns the process exit code.
int RunHost(const std::vector<std::string>& arguments);

}  // namespace ormelin
