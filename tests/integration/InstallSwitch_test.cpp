// `ormelin-server /install` of the real executable, run in a mount namespace
// of its own whose /etc is a copy on a tmpfs (and where no systemd is seen),
// so the machine's units and users are never touched. Needs root; skipped
// elsewhere.
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
// it left in /etc/systemd/system, the service's user and the owners and
// modes of the folder and file the service saves its settings in. The copy
// of /etc is mounted on a folder in the server's, empty again once the
// namespace is gone.
TProgramResult InstallInNamespace(const TServerProcess& server, const std::string& switches) {
  return RunProgram(
      "/usr/bin/unshare",
      {"--mount", "--propagation", "private", "--", "/bin/sh", "-c",
       "etc=$1/etc && mkdir \"$etc\" && mount -t tmpfs tmpfs \"$etc\" && cp -a /etc/. \"$etc\" && "
       "mount --bind \"$etc\" /etc && mount -t tmpfs tmpfs /etc/systemd/system && "
       "{ [ ! -d /run/systemd ] || mount -t tmpfs tmpfs /run/systemd; } && "
       "\"$0\" " +
           switches +
           " && cat /etc/systemd/system/ZevanOrmelinS.service && id -un ormelin && "
           "stat -c '%U:%G %A %n' \"$1\" \"$1/orServer.xml\"",
       server.ExecutablePath(), server.Folder()});
}

bool NamespacesWork() {
  return geteuid() == 0 &&
         RunProgram("/usr/bin/unshare", {"--mount", "--propagation", "private", "true"}).ExitCode ==
             0;
}

// A server whose orServer.xml lies beside it saves its settings there, so
// the unit lets it write that folder and nothing else, as the system user
// ormelin, which /install creates: the folder joins its group, writable
// and sticky (the executable beside stays root's), and the file is its own.
TEST(InstallSwitch, TheUnitLetsTheServiceWriteTheFolderOfItsConfiguration) {
  if (!NamespacesWork()) GTEST_SKIP() << "no mount namespaces here (needs root)";
  if (access("/usr/bin/systemd-sysusers", X_OK) != 0 && access("/bin/systemd-sysusers", X_OK) != 0)
    GTEST_SKIP() << "systemd-sysusers is not installed (scripts/setup installs it)";
  TServerProcess server;  // only for its folder with the executable and orServer.xml
  server.WriteConfig(ConfigText(FreePortPair(), {}));
  const TProgramResult run = InstallInNamespace(server, "/install");
  ASSERT_EQ(run.ExitCode, 0) << run.Stdout << run.Stderr;
  EXPECT_EQ(
      run.Stdout.rfind("Service installed successfully (not enabled: systemd is not running)\n", 0),
      0u)
      << run.Stdout;
  for (const std::string& line :
       {"\nExecStart=" + server.ExecutablePath() + "\n",
        "\nReadWritePaths=-" + server.Folder() + "/\n", std::string("\nProtectSystem=strict\n"),
        std::string("\nUser=ormelin\n"),
        std::string("\nCapabilityBoundingSet=CAP_DAC_READ_SEARCH\n"),
        "\normelin\nroot:ormelin drwxrwx--T " + server.Folder() + "\n",
        "\normelin:ormelin -rw-r--r-- " + server.Folder() + "/orServer.xml\n"}) {
    EXPECT_NE(run.Stdout.find(line), std::string::npos) << line << run.Stdout;
  }
  EXPECT_EQ(run.Stderr, "");
}

}  // namespace
}  // namespace ormelin
