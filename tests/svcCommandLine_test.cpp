#include "host/svcCommandLine.h"

#include <gtest/gtest.h>

namespace ormelin {
namespace {

TEST(HostSwitches, AreFoundAfterADashOrSlashInAnyCaseAndPlace) {
  struct {
    std::vector<std::string> Arguments;
    THostMode Mode;
    bool Silent;
  } cases[] = {
      {{}, THostMode::RunService, false},
      {{"/install"}, THostMode::Install, false},
      {{"-INSTALL", "-silent"}, THostMode::Install, true},
      {{"/Silent", "x", "/UnInstall"}, THostMode::Uninstall, true},
      {{"/uninstall", "/install"}, THostMode::Install, false},  // INSTALL is tested first
      {{"install", "uninstall", "silent"}, THostMode::RunService, false},
      {{"/install:yes", "--install", "/ install", "/"}, THostMode::RunService, false},
      {{"", "-", "/installsilent"}, THostMode::RunService, false},
      {{"\\install"}, THostMode::RunService, false},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& argument : c.Arguments) line += "[" + argument + "]";
    SCOPED_TRACE(line);
    const THostSwitches switches = ParseSwitches(c.Arguments);
    EXPECT_EQ(HostMode(switches), c.Mode);
    EXPECT_EQ(switches.Silent, c.Silent);
  }
}

TEST(HostTexts, NameTheServiceAndTheFailure) {
  EXPECT_EQ(RegistrationFailureText(true, "Ormelin Server",
                                    "System Error.  Code: 1073.\r\nThe specified service "
                                    "already exists."),
            "Service \"Ormelin Server\" failed to install with error: \"System Error.  Code: "
            "1073.\r\nThe specified service already exists.\"");
  EXPECT_EQ(RegistrationFailureText(false, "Ormelin Server", "x"),
            "Service \"Ormelin Server\" failed to uninstall with error: \"x\"");
  EXPECT_EQ(RegistrationSuccessText(true, ""), "Service installed successfully");
  EXPECT_EQ(RegistrationSuccessText(false, ""), "Service uninstalled successfully");
  EXPECT_EQ(RegistrationSuccessText(true, "not enabled: systemd is not running"),
            "Service installed successfully (not enabled: systemd is not running)");
}

}  // namespace
}  // namespace ormelin
