#include "host/svcCommandLine.h"

#include "platform/Text.h"

namespace ormelin {

THostSwitches ParseSwitches(const std::vector<std::string>& arguments) {
  THostSwitches switches;
  for (const std::string& argument : arguments) {
    if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) continue;
    std::string_view name = std::string_view(argument).substr(1);
    if (SameTextFolded(name, "INSTALL")) switches.Install = true;
    if (SameTextFolded(name, "UNINSTALL")) switches.Uninstall = true;
    if (SameTextFolded(name, "SILENT")) switches.Silent = true;
  }
  return switches;
}

THostMode HostMode(const THostSwitches& switches) {
  if (switches.Install) return THostMode::Install;
  if (switches.Uninstall) return THostMode::Uninstall;
  return THostMode::RunService;
}

std::string RegistrationSuccessText(bool install, std::string_view remark) {
  std::string text =
      install ? "Service installed successfully" : "Service uninstalled successfully";
  if (!remark.empty()) text += " (" + std::string(remark) + ")";
  return text;
}

std::string RegistrationFailureText(bool install, std::string_view displayName,
                                    std::string_view message) {
  return "Service \"" + std::string(displayName) + "\" failed to " +
         (install ? "install" : "uninstall") + " with error: \"" + std::string(message) + "\"";
}

}  // namespace ormelin
