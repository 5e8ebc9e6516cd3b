#include "platform/posix/SystemdService.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Exceptions.h"
#include "server/usvOrmelinS.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;

TServiceDescription Service(std::string executable) {
  return TServiceDescription{"ZevanOrmelinS", "Ormelin Server", std::move(executable), "", ""};
}

TEST(ServiceUnit, NamesTheDisplayNameAndTheExecutable) {
  std::string text = ServiceUnitText(Service("/opt/ormelin/bin/ormelin-server"));
  EXPECT_NE(text.find("\nDescription=Ormelin Server\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nExecStart=/opt/ormelin/bin/ormelin-server\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nWantedBy=multi-user.target\n"), std::string::npos) << text;
  EXPECT_EQ(ServiceUnitFileName(Service("x")), "ZevanOrmelinS.service");
}

TEST(ServiceUnit, QuotesAnExecutablePathThatSystemdWouldSplit) {
  std::string text = ServiceUnitText(Service("/opt/Ormelin 100%/ormelin-server"));
  EXPECT_NE(text.find("\nExecStart=\"/opt/Ormelin 100%%/ormelin-server\"\n"), std::string::npos)
      << text;
}

TEST(ServiceUnit, KeepsTheSystemReadOnlyButTheSettingsFolder) {
  TServiceDescription service = Service("/usr/sbin/ormelin-server");
  service.WritableFolder = "/etc/zevan/ormelin/";
  const std::string text = ServiceUnitText(service);
  for (const char* line :
       {"\nProtectSystem=strict\n", "\nReadWritePaths=-/etc/zevan/ormelin/\n",
        "\nProtectHome=read-only\n", "\nPrivateTmp=yes\n", "\nNoNewPrivileges=yes\n",
        "\nRestart=on-failure\n", "\nType=simple\n", "\nKillSignal=SIGTERM\n", "\nUser=ormelin\n",
        "\nAmbientCapabilities=CAP_DAC_READ_SEARCH\n",
        "\nCapabilityBoundingSet=CAP_DAC_READ_SEARCH\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  EXPECT_EQ(text.find("{%"), std::string::npos) << text;
}

TEST(ServiceUnit, QuotesAWritableFolderThatSystemdWouldSplit) {
  TServiceDescription service = Service("/opt/Ormelin 100%/ormelin-server");
  service.WritableFolder = "/opt/Ormelin 100%/";
  EXPECT_NE(ServiceUnitText(service).find("\nReadWritePaths=\"-/opt/Ormelin 100%%/\"\n"),
            std::string::npos)
      << ServiceUnitText(service);
}

TEST(ServiceUnit, WithoutAWritableFolderNamesNone) {
  const std::string text = ServiceUnitText(Service("/usr/sbin/ormelin-server"));
  EXPECT_EQ(text.find("\nReadWritePaths="), std::string::npos) << text;
  EXPECT_EQ(text.find("{%"), std::string::npos) << text;
  EXPECT_NE(text.find("\nProtectSystem=strict\n"), std::string::npos) << text;
}

// An installation ships the unit that /install writes for the server in its
// place (/usr/sbin/ormelin-server in the package) with the configuration in
// /etc/zevan/ormelin/.
TEST(ServiceUnit, IsTheUnitThePackageShips) {
  const TServiceDescription service{TZevanOrmelinS::ServiceName, TZevanOrmelinS::DisplayName,
                                    ORMELIN_INSTALLED_SERVER, "/etc/zevan/ormelin/",
                                    "/etc/zevan/ormelin/orServer.xml"};
  std::ifstream in(ORMELIN_PACKAGED_UNIT, std::ios::binary);
  ASSERT_TRUE(in) << ORMELIN_PACKAGED_UNIT;
  std::stringstream packaged;
  packaged << in.rdbuf();
  EXPECT_EQ(packaged.str(), ServiceUnitText(service));
  EXPECT_EQ(fs::path(ORMELIN_PACKAGED_UNIT).filename(), ServiceUnitFileName(service));
}

// Registers into a unit folder of the test's own, with a stand-in for
// systemctl that talks on both outputs as the real one does, logs its
// arguments to "calls" and fails, with a message, the verb named in "fail".
// Systemd counts as running while the folder "running" exists.
class ServiceInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("ormelin-units-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "units");
    // No program for accounts: the machine's users stay as they are.
    manager_ = {(folder_ / "units").string(), (folder_ / "systemctl").string(),
                (folder_ / "running").string(), ""};
    std::ofstream(manager_.Control)
        << "#!/bin/sh\n"
        << "echo \"$*\" >> '" << (folder_ / "calls").string() << "'\n"
        << "echo \"Created symlink for $*.\"\n"
        << "if [ \"$1\" = \"$(cat '" << (folder_ / "fail").string() << "' 2>/dev/null)\" ]; then\n"
        << "  echo \"Failed to $1 unit: Access denied.\" >&2\n"
        << "  exit 4\n"
        << "fi\n";
    fs::permissions(manager_.Control, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Calls() const { return ReadText(folder_ / "calls"); }
  static std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }

  fs::path folder_;
  TServiceManager manager_;
};

TEST_F(ServiceInstall, InstallWritesTheUnitOnceAndUninstallRemovesIt) {
  TServiceDescription service = Service("/usr/local/bin/ormelin-server");
  InstallService(service, manager_);
  fs::path unit = folder_ / "units" / "ZevanOrmelinS.service";
  ASSERT_TRUE(fs::exists(unit));
  EXPECT_EQ(ReadText(unit), ServiceUnitText(service));

  // A second installation fails like creating an existing service.
  try {
    InstallService(service, manager_);
    ADD_FAILURE() << "installed twice";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message().rfind("System Error.  Code: ", 0), 0u) << error.Message();
  }

  UninstallService(service, manager_);
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_THROW(UninstallService(service, manager_), Exception);
}

TEST_F(ServiceInstall, AFolderThatCannotBeWrittenFailsTheInstallation) {
  manager_.UnitFolder = (folder_ / "missing").string();
  EXPECT_THROW(InstallService(Service("/x"), manager_), Exception);
}

// What systemctl writes never reaches our own output: a success says
// nothing, a failure is one message that carries its words.
TEST_F(ServiceInstall, SystemctlSpeaksOnlyThroughTheResult) {
  const TServiceDescription service = Service("/usr/local/bin/ormelin-server");
  const fs::path unit = folder_ / "units" / "ZevanOrmelinS.service";
  fs::create_directory(manager_.RunningMarker);
  struct {
    const char* Fail;  // the verb the stand-in refuses
    bool Install;
    std::string Calls;
    std::string Error;  // empty: succeeds with no remark
    bool UnitAfter;
  } cases[] = {
      {"", true, "daemon-reload\nenable ZevanOrmelinS.service\n", "", true},
      {"", false, "disable ZevanOrmelinS.service\ndaemon-reload\n", "", false},
      {"enable", true, "daemon-reload\nenable ZevanOrmelinS.service\ndaemon-reload\n",
       "systemctl enable ZevanOrmelinS.service failed with exit code 4: Created symlink for "
       "enable ZevanOrmelinS.service. Failed to enable unit: Access denied.",
       false},
      {"disable", false, "disable ZevanOrmelinS.service\n",
       "systemctl disable ZevanOrmelinS.service failed with exit code 4: Created symlink for "
       "disable ZevanOrmelinS.service. Failed to disable unit: Access denied.",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Install ? "install, fail " : "uninstall, fail ") + c.Fail);
    fs::remove(folder_ / "calls");
    std::ofstream(folder_ / "fail") << c.Fail;
    if (!c.Install) std::ofstream(unit) << ServiceUnitText(service);
    std::string remark, error;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
      remark = c.Install ? InstallService(service, manager_) : UninstallService(service, manager_);
    } catch (const Exception& failure) {
      error = failure.Message();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(remark, "");
    EXPECT_EQ(error, c.Error);
    EXPECT_EQ(Calls(), c.Calls);
    EXPECT_EQ(fs::exists(unit), c.UnitAfter);
    fs::remove(unit);
  }
}

TEST_F(ServiceInstall, WithoutARunningSystemdTheUnitIsWrittenButNotEnabled) {
  const TServiceDescription service = Service("/usr/local/bin/ormelin-server");
  const fs::path unit = folder_ / "units" / "ZevanOrmelinS.service";
  EXPECT_EQ(InstallService(service, manager_), "not enabled: systemd is not running");
  EXPECT_EQ(ReadText(unit), ServiceUnitText(service));
  EXPECT_EQ(UninstallService(service, manager_), "not disabled: systemd is not running");
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_FALSE(fs::exists(folder_ / "calls"));
}

}  // namespace
}  // namespace ormelin
