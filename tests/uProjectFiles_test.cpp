#include "server/uProjectFiles.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

TEST(ProjectFilePath, JoinsTheRootAndThePathAsReceived) {
  EXPECT_EQ(ProjectFilePath("/srv/docs", "\\a b\\c.txt"), "/srv/docs\\\\a b\\c.txt");
  EXPECT_EQ(ProjectFilePath("/srv/docs\\", "\\c.txt"), "/srv/docs\\\\c.txt");
  EXPECT_EQ(ProjectFilePath("/srv/docs/", "c.txt"), "/srv/docs/c.txt");
  EXPECT_EQ(ProjectFilePath("/srv/docs", ""), "/srv/docs\\");
  // Names that merely contain dots stay allowed.
  EXPECT_EQ(ProjectFilePath("/srv/docs", "\\a..b\\.hidden\\.\\x"),
            "/srv/docs\\\\a..b\\.hidden\\.\\x");
  EXPECT_EQ(ProjectFilePath("../demo", "\\x.txt"), "../demo\\\\x.txt");
}

TEST(ProjectFilePath, RefusesEveryWayOutOfTheRoot) {
  const std::string refused[] = {
      "\\..\\..\\etc\\passwd",
      "/../etc/passwd",
      "\\..",
      "..",
      "\\\\..\\\\..\\\\etc\\\\passwd",
      "\\a\\..\\..\\docs2\\x",
      "\\a//..//..//x",
      "\\...\\x",
      "\\. .\\x",
      "\\.. \\x",
      std::string("\\a\0b", 4),
      std::string("\\a.txt\0", 7),
  };
  for (const std::string& path : refused) {
    try {
      ProjectFilePath("/srv/docs", path);
      ADD_FAILURE() << "accepted: " << path;
    } catch (const EFOpenError& error) {
      EXPECT_EQ(error.Message().rfind("Cannot open file \"/srv/docs\\", 0), 0u) << error.Message();
      EXPECT_NE(error.Message().find("\". "), std::string::npos) << error.Message();
    }
  }
}

}  // namespace
}  // namespace ormelin
