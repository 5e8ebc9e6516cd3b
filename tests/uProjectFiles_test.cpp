#include "server/uProjectFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "platform/Exceptions.h"
#include "server/uProjectIndex.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;

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

#ifndef _WIN32

// Links of a project whose root is itself a link ("root" -> "real"), beside
// a folder "outside" and a folder "real2" whose name begins with the
// root's real name.
struct TLinkCase {
  const char* Name;
  std::string Target;
  const char* Fetched;  // a GetFile path through the link
  bool Inside;
};

class ProjectLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path base = temp_.Path();
    test::WriteFile(base / "outside" / "secret.txt", "secret");
    test::WriteFile(base / "real2" / "secret.txt", "twin");
    test::WriteFile(base / "real" / "a.txt", "a");
    test::WriteFile(base / "real" / "sub" / "inner.txt", "inner");
    fs::create_directory_symlink("real", base / "root");
    root_ = (base / "root").string();
    for (const TLinkCase& link : cases_) {
      fs::create_symlink(link.Target, base / "real" / link.Name);
    }
  }

  testing::TTempFolder temp_;
  std::string root_;
  const std::vector<TLinkCase> cases_ = {
      {"file-out", "../outside/secret.txt", "\\file-out", false},
      {"dir-out", temp_.Path() + "/outside", "\\dir-out\\secret.txt", false},
      {"dir-out-too", temp_.Path() + "/outside", "\\dir-out-too", false},  // a folder: as missing
      {"climb-out", "sub/../../outside", "\\climb-out\\secret.txt", false},
      {"twin", "../real2", "\\twin\\secret.txt", false},  // "/x/real2" is not below "/x/real"
      {"chain", "step", "\\chain", false},
      {"step", "dir-out/secret.txt", "\\step", false},
      {"file-in", "sub/inner.txt", "\\file-in", true},
      {"dir-in", "sub", "\\dir-in\\inner.txt", true},
      {"out-and-back", "../root/sub", "\\out-and-back\\inner.txt", true},
  };
};

void CollectPaths(const TDirectory& folder, const std::string& path, std::set<std::string>& into) {
  for (int i = 0; i < folder.FileCount(); ++i) into.insert(path + folder.GetFile(i)->Name());
  for (int i = 0; i < folder.DirectoryCount(); ++i) {
    const std::string sub = path + folder.GetDirectory(i)->Name() + "\\";
    into.insert(sub);
    CollectPaths(*folder.GetDirectory(i), sub, into);
  }
}

// Every scan a sync may compare (the tree of objects, the packed tree, the
// index's) lists the links that stay inside, entered when they are folders,
// and leaves out, counted once each, every one whose target lies outside.
TEST_F(ProjectLinks, TheScanLeavesOutEveryLinkThatLeadsOutside) {
  const std::set<std::string> expected = {"\\a.txt",          "\\sub\\",
                                          "\\sub\\inner.txt", "\\file-in",
                                          "\\dir-in\\",       "\\dir-in\\inner.txt",
                                          "\\out-and-back\\", "\\out-and-back\\inner.txt"};
  std::set<std::string> outside;
  for (const TLinkCase& link : cases_) {
    if (!link.Inside) outside.insert(std::string("\\") + link.Name);
  }
  TDirectory loaded;
  TScanReport loadedReport;
  TLoader::LoadFromDisk(root_, &loaded, &loadedReport);
  TProjectIndex index(root_);
  const TProjectTreeRef packed[] = {ScanProject(root_), index.Acquire()};
  TDirectory packedTrees[2];
  std::vector<std::pair<const TDirectory*, TScanReport>> scans = {{&loaded, loadedReport}};
  for (int i = 0; i < 2; ++i) {
    packed[i]->Tree.CopyTo(&packedTrees[i]);
    scans.emplace_back(&packedTrees[i], packed[i]->Report);
  }
  for (const auto& [tree, report] : scans) {
    std::set<std::string> paths;
    CollectPaths(*tree, "\\", paths);
    EXPECT_EQ(paths, expected);
    EXPECT_EQ(report.LinksOut, static_cast<int>(outside.size()));
    EXPECT_EQ(outside.count(report.FirstLinkOut), 1u) << report.FirstLinkOut;
    EXPECT_EQ(report.LeftOut, 0);
  }
}

// GetFile serves what the links inside lead to and refuses the others with
// exactly what a missing file gets.
TEST_F(ProjectLinks, GetFileRefusesWhatLiesOutsideAsIfItWereMissing) {
  std::string missingReason;
  try {
    TFileStream missing(root_ + "/nothing.txt");
  } catch (const EFOpenError& error) {
    missingReason = error.Message().substr(error.Message().find("\". "));
  }
  for (const TLinkCase& link : cases_) {
    SCOPED_TRACE(link.Fetched);
    const std::string fullPath = ProjectFilePath(root_, link.Fetched);
    try {
      TProjectFile file(root_, link.Fetched);
      EXPECT_TRUE(link.Inside);
      std::string content(static_cast<size_t>(file.Size()), '\0');
      file.Read(content.data(), content.size());
      EXPECT_EQ(content, "inner");
    } catch (const EFOpenError& error) {
      EXPECT_FALSE(link.Inside) << error.Message();
      EXPECT_EQ(error.Message(), "Cannot open file \"" + fullPath + missingReason);
    }
  }
}

#endif

}  // namespace
}  // namespace ormelin
