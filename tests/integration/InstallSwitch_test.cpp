// `ormelin-server /install` of the real executable, run in a mount namespace
// of its own whose /etc/systemd/system is an empty tmpfs (and where no
// systemd is seen), so the machine's units are never touched. Needs root;
// skipped elsewhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/ClientProcess.h"
#include "support/ServerProcess.h"

namespace ormelin {
namespace {

using test::ConfigText;
using test::FreePortPair;
using test::RunProgram;
using test::TProgramResult;
using test::TServerProcess;

// Runs the executable with `switches` in the namespace, then prints the unit
// it left in /etc/systemd/system.
TProgramResult InstallInNamespace(const std::string& executable, const std::string& switches) {
  return RunProgram("/usr/bin/unshare",
                    {"--mount", "--propagation", "private", "--", "/bin/sh", "-c",
                     "mount -t tmpfs tmpfs /etc/systemd/system && "
                     "{ [ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd; } && "
                     "\"$0\" " +
                         switches + " && cat /etc/systemd/system/ZevanOrmelinS.service",
                     executable});
}

bool NamespacesWork() {
  return geteuid() == 0 &&
         RunProgram("/usr/bin/unshare", {"--mount", "--propagation", "private", "true"}).ExitCode ==
             0;
}

// A server whose orServer.xml lies beside it saves its settings there, so
// the unit lets it write that folder and nothing else.
TEST(InstallSwitch, TheUnitLetsTheServiceWriteTheFolderOfItsConfiguration) {
  if (!NamespacesWork()) GTEST_SKIP() << "no mount namespaces here (needs root)";
  TServerProcess server;  // only for its folder with the executable and orServer.xml
  server.WriteConfig(ConfigText(FreePortPair(), {}));
  const TProgramResult run = InstallInNamespace(server.ExecutablePath(), "/install");
  ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
  EXPECT_EQ(
      run.Stdout.rfind("Service installed successfully (not enabled: systemd is not running)\n", 0),
      0u)
      << run.Stdout;
  EXPECT_NE(run.Stdout.find("\nExecStart=" + server.ExecutablePath() + "\n"), std::string::npos)
      << run.Stdout;
  EXPECT_NE(run.Stdout.find("\nReadWritePaths=-" + server.Folder() + "/\n"), std::string::npos)
      << run.Stdout;
  EXPECT_NE(run.Stdout.find("\nProtectSystem=strict\n"), std::string::npos) << run.Stdout;
  EXPECT_EQ(run.Stderr, "");
}

}  // namespace
}  // namespace ormelin
