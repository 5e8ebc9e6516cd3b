#include "host/svcHost.h"

#include <memory>

#include "platform/EventLogSink.h"
#include "platform/Exceptions.h"
#include "platform/Format.h"
#include "platform/ServiceHost.h"
#include "platform/Text.h"
#include "server/usvOrmelinS.h"

namespace ormelin {

namespace {

// The host's own event-log source: the executable's file name.
std::string HostSourceName() {
  std::string path = ExecutablePath();
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? std::string("ormelin-server") : name;
}

// The service as the manager runs it: this executable, writing only the
// folder where the console saves the settings.
TServiceDescription Description(const TZevanOrmelinS& module) {
  std::string config = module.ConfigFileName();
  size_t separator = config.find_last_of("/\\");
  std::string folder =
      separator == std::string::npos ? std::string() : config.substr(0, separator + 1);
  return TServiceDescription{TZevanOrmelinS::ServiceName, TZevanOrmelinS::DisplayName,
                             ExecutablePath(), folder};
}

// Installs or removes the service; false when it failed.
bool RegisterWithManager(const TZevanOrmelinS& module, bool install, bool silent) {
  TServiceDescription service = Description(module);
  std::string remark;
  try {
    remark = install ? InstallService(service, SystemServiceManager())
                     : UninstallService(service, SystemServiceManager());
  } catch (const Exception& error) {
    ShowError(Format(install ? "Service \"%s\" failed to install with error: \"%s\""
                             : "Service \"%s\" failed to uninstall with error: \"%s\"",
                     service.DisplayName.c_str(), error.Message().c_str()));
    return false;
  }
  if (!silent) {
    std::string line =
        install ? "Service installed successfully" : "Service uninstalled successfully";
    // What the service manager was not told, such as an installation that
    // could not be enabled.
    if (!remark.empty()) line += " (" + remark + ")";
    ShowInformation(line);
  }
  return true;
}

}  // namespace

THostSwitches ParseSwitches(const std::vector<std::string>& arguments) {
  THostSwitches switches;
  for (const std::string& argument : arguments) {
    if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) continue;
    std::string name = argument.substr(1);
    if (SameTextFolded(name, "INSTALL")) switches.Install = true;
    if (SameTextFolded(name, "UNINSTALL")) switches.Uninstall = true;
    if (SameTextFolded(name, "SILENT")) switches.Silent = true;
  }
  return switches;
}

int RunHost(const std::vector<std::string>& arguments) {
  THostSwitches switches = ParseSwitches(arguments);
  try {
    // Before any thread exists, so that every thread inherits the blocked set.
    TServiceSignals signals;
    auto module = std::make_unique<TZevanOrmelinS>();
    module->ServiceCreate();

    int exitCode = 0;
    if (switches.Install || switches.Uninstall) {
      // INSTALL is tested first: both switches install.
      exitCode = RegisterWithManager(*module, switches.Install, switches.Silent) ? 0 : 1;
    } else {
      // Pause and continue change nothing: the listeners keep running.
      while (signals.Wait() != TServiceRequest::Stop) {
      }
    }
    module->ServiceDestroy();
    module.reset();
    return exitCode;
  } catch (const std::exception& error) {
    WriteEventLogEntry(HostSourceName(), error.what());
    return 1;
  }
}

}  // namespace ormelin
