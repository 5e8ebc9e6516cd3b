#include "server/uProjectFiles.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <errno.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <cstdlib>
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

// What a GetFile of `path` below `root` gives: the file's content, or the
// error's message. Opened below `held` when given, as the server does.
std::string Fetched(const THeldRoot* held, const std::string& root, std::string_view path) {
  try {
    const std::unique_ptr<TProjectFile> file =
        held != nullptr ? std::make_unique<TProjectFile>(*held, root, path)
                        : std::make_unique<TProjectFile>(root, path);
    std::string content(static_cast<size_t>(file->Size()), '\0');
    content.resize(file->Read(content.data(), content.size()));
    return content;
  } catch (const EFOpenError& error) {
    return error.Message();
  }
}

// What a missing file gets, or the refusal of a path no file may have.
std::string MissingMessage(const std::string& root, std::string_view path) {
  try {
    ProjectFilePath(root, path);
  } catch (const EFOpenError& error) {
    return error.Message();
  }
  std::string reason;
  try {
    TFileStream missing(root + "/nothing.txt");
  } catch (const EFOpenError& error) {
    reason = error.Message().substr(error.Message().find("\". "));
  }
  return "Cannot open file \"" + ProjectFilePath(root, path) + reason;
}

// Links besides the scan's, made in `real` for the GetFile tables; the
// names of all whose way never leaves the root's folder.
const std::set<std::string> kBeneath = {"file-in", "dir-in", "dir-in-twice"};

std::vector<TLinkCase> WithGetFileCases(const fs::path& base, std::vector<TLinkCase> cases) {
  const std::vector<TLinkCase> more = {
      {"dir-in-twice", "./dir-in/", "\\dir-in-twice\\inner.txt", true},
      {"absolute-in", (base / "real" / "sub" / "inner.txt").string(), "\\absolute-in", true},
      {"proc-magic", "/proc/self/cwd", "\\proc-magic\\inner.txt", false},
      {"parent", "", "\\sub\\..\\a.txt", false},
  };
  for (const TLinkCase& link : more) {
    if (!link.Target.empty()) fs::create_symlink(link.Target, base / "real" / link.Name);
    cases.push_back(link);
  }
  return cases;
}

// The number of cases whose GetFile, by path and below the held root, is
// not the file inside or the missing file's refusal outside; `beneath`: the
// held root opens without the full path exactly the links that stay below.
int WrongAnswers(const std::string& root, const std::vector<TLinkCase>& cases, bool beneath) {
  int wrong = 0;
  const THeldRoot held(root);
  for (const TLinkCase& link : cases) {
    SCOPED_TRACE(link.Fetched);
    const std::string expected = link.Inside ? "inner" : MissingMessage(root, link.Fetched);
    for (const THeldRoot* way : {static_cast<const THeldRoot*>(nullptr), &held}) {
      const std::string got = Fetched(way, root, link.Fetched);
      EXPECT_EQ(got, expected) << (way != nullptr ? "below the held root" : "by the full path");
      wrong += got != expected ? 1 : 0;
    }
    if (link.Target.empty()) continue;  // no link: a path the server never opens
    const TNativeHandle handle = held.OpenBeneath(link.Fetched);
    if (handle != kNoNativeHandle) close(static_cast<int>(handle));
    const bool opened = beneath && kBeneath.count(link.Name) > 0;
    EXPECT_EQ(handle != kNoNativeHandle, opened);
    wrong += (handle != kNoNativeHandle) != opened ? 1 : 0;
  }
  return wrong;
}

// GetFile serves what the links inside lead to and refuses the others with
// exactly what a missing file gets, whether it opens by the full path or
// below the held root.
TEST_F(ProjectLinks, GetFileRefusesWhatLiesOutsideAsIfItWereMissing) {
  EXPECT_EQ(WrongAnswers(root_, WithGetFileCases(temp_.Path(), cases_), true), 0);
}

// Exits with WrongAnswers, openat2 failing with ENOSYS as on a system
// without it (100: the filter could not be set).
[[noreturn]] void ExitWithAnswersWithoutOpenBeneath(const std::string& root,
                                                    const std::vector<TLinkCase>& cases) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    std::_Exit(100);
  }
  std::_Exit(WrongAnswers(root, cases, false));
}

// Without openat2 every file goes the full path's way, with the same
// answers.
TEST_F(ProjectLinks, WithoutOpenBeneathTheFullPathAnswersTheSame) {
  const std::vector<TLinkCase> cases = WithGetFileCases(temp_.Path(), cases_);
  EXPECT_EXIT(ExitWithAnswersWithoutOpenBeneath(root_, cases), ::testing::ExitedWithCode(0), "");
}

// A folder of the project swapped for a link between two requests, and the
// root itself pointed elsewhere: what is served follows the paths as they
// are now, never a folder held from before.
TEST_F(ProjectLinks, GetFileFollowsFoldersAndRootsSwappedBetweenRequests) {
  const fs::path base = temp_.Path();
  test::WriteFile(base / "real" / "swap" / "inner.txt", "inner");
  test::WriteFile(base / "outside" / "inner.txt", "outside");
  test::WriteFile(base / "other" / "inner.txt", "other");
  fs::create_directory_symlink("real", base / "moving");
  const std::string moving = (base / "moving").string();
  TProjectRoots roots;
  EXPECT_EQ(Fetched(roots.Find(root_).get(), root_, "\\swap\\inner.txt"), "inner");
  EXPECT_EQ(Fetched(roots.Find(moving).get(), moving, "\\sub\\inner.txt"), "inner");

  fs::rename(base / "real" / "swap", base / "swapped");
  fs::create_directory_symlink("../outside", base / "real" / "swap");
  EXPECT_EQ(Fetched(roots.Find(root_).get(), root_, "\\swap\\inner.txt"),
            MissingMessage(root_, "\\swap\\inner.txt"));

  fs::remove(base / "moving");
  fs::create_directory_symlink("other", base / "moving");
  EXPECT_EQ(Fetched(roots.Find(moving).get(), moving, "\\inner.txt"), "other");
  EXPECT_EQ(Fetched(roots.Find(moving).get(), moving, "\\sub\\inner.txt"),
            MissingMessage(moving, "\\sub\\inner.txt"));
}

#endif

}  // namespace
}  // namespace ormelin
