#include "host/svcHost.h"

#include <memory>

#include "host/svcCommandLine.h"
#include "platform/EventLogSink.h"
#include "platform/Exceptions.h"
#include "platform/ServiceHost.h"
#include "server/usvOrmelinS.h"

namespace ormelin {

namespace {

// The host's own event-log source: the executable's file name.
std::string HostSourceName() {
  std::string name = ExecutableFileName();
  return name.empty() ? std::string("ormelin-server") : name;
}

// The service as the manager runs it: this executable, writing only the
// folder where the console saves the settings file.
TServiceDescription Description(const TZevanOrmelinS& module) {
  std::string config = module.ConfigFileName();
  size_t separator = config.find_last_of("/\\");
  std::string folder =
      separator == std::string::npos ? std::string() : config.substr(0, separator + 1);
  return TServiceDescription{TZevanOrmelinS::ServiceName, TZevanOrmelinS::DisplayName,
                             ExecutablePath(), folder, config};
}

// Installs or removes the service; false when it failed. A service manager
// that cannot be opened at all is not this service's failure: it goes to
// the caller.
bool RegisterWithManager(const TServiceDescription& service, bool install, bool silent) {
  std::string remark;
  try {
    remark = install ? InstallService(service) : UninstallService(service);
  } catch (const EServiceManagerUnavailable&) {
    throw;
  } catch (const Exception& error) {
    ShowError(RegistrationFailureText(install, service.DisplayName, error.Message()));
    return false;
  }
  if (!silent) ShowInformation(RegistrationSuccessText(install, remark));
  return true;
}

}  // namespace

int RunHost(const std::vector<std::string>& arguments) {
  const THostSwitches switches = ParseSwitches(arguments);
  const std::string hostSource = HostSourceName();
  try {
    // Before the module and its threads exist.
    TServiceApplication application;
    auto module = std::make_unique<TZevanOrmelinS>();
    module->ServiceCreate();

    int exitCode = 0;
    const THostMode mode = HostMode(switches);
    if (mode != THostMode::RunService) {
      try {
        const bool install = mode == THostMode::Install;
        exitCode = RegisterWithManager(Description(*module), install, switches.Silent) ? 0 : 1;
      } catch (const EServiceManagerUnavailable& error) {
        // Nothing was registered or removed: the system's error as it stands.
        ShowError(error.Message());
        exitCode = 1;
      }
    } else {
      exitCode = application.Run(Description(*module), hostSource) ? 0 : 1;
    }
    module->ServiceDestroy();
    module.reset();
    return exitCode;
  } catch (const std::exception& error) {
    WriteEventLogEntry(hostSource, error.what());
    return 1;
  }
}

}  // namespace ormelin
