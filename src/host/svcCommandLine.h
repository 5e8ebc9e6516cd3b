// What the command line asks of the host, and what the host answers on it:
// the service switches and the texts of installation and removal. Plain
// values, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

struct THostSwitches {
  bool Install = false;
  bool Uninstall = false;
  bool Silent = false;
};

// A switch begins with "-" or "/"; the rest is compared with INSTALL,
// UNINSTALL and SILENT ignoring case, wherever it stands. Other arguments
// are ignored.
THostSwitches ParseSwitches(const std::vector<std::string>& arguments);

enum class THostMode { Install, Uninstall, RunService };

// INSTALL is tested first, so a command line with both installs; without
// either the process runs as the service.
THostMode HostMode(const THostSwitches& switches);

// "Service installed successfully" or "Service uninstalled successfully",
// with the service manager's remark in parentheses when there is one.
std::string RegistrationSuccessText(bool install, std::string_view remark);

// 'Service "%s" failed to install with error: "%s"' (or "uninstall"), with
// the display name and the failure's message.
std::string RegistrationFailureText(bool install, std::string_view displayName,
                                    std::string_view message);

}  // namespace ormelin
