#include "platform/ServiceHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;

TServiceDescription Service(std::string executable) {
  return TServiceDescription{"ZevanOrmelinS", "Ormelin Server", std::move(executable)};
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

class ServiceInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("ormelin-units-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }
  fs::path folder_;
};

TEST_F(ServiceInstall, InstallWritesTheUnitOnceAndUninstallRemovesIt) {
  TServiceDescription service = Service("/usr/local/bin/ormelin-server");
  InstallService(service, folder_.string(), false);
  fs::path unit = folder_ / "ZevanOrmelinS.service";
  ASSERT_TRUE(fs::exists(unit));
  std::ifstream in(unit);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), ServiceUnitText(service));

  // A second installation fails like creating an existing service.
  try {
    InstallService(service, folder_.string(), false);
    ADD_FAILURE() << "installed twice";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message().rfind("System Error.  Code: ", 0), 0u) << error.Message();
  }

  UninstallService(service, folder_.string(), false);
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_THROW(UninstallService(service, folder_.string(), false), Exception);
}

TEST_F(ServiceInstall, AFolderThatCannotBeWrittenFailsTheInstallation) {
  EXPECT_THROW(InstallService(Service("/x"), (folder_ / "missing").string(), false), Exception);
}

}  // namespace
}  // namespace ormelin
