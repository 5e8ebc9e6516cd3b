// GetFile's confinement as the Windows build applies it: the platform's
// ConfinedPath follows the Windows rules (each rule is tested on every
// system in tests/PathConfinement_test.cpp), and links and junctions are
// followed to their final paths, compared part by part with letter case
// ignored.
#include "platform/PathConfinement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "comparer/FileStructures.h"
#include "platform/Exceptions.h"
#include "server/uProjectFiles.h"
#include "server/uProjectIndex.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

#include <windows.h>

namespace ormelin {
namespace {

namespace fs = std::filesystem;

TEST(WindowsConfinedPath, IsTheWindowsRuleSet) {
  EXPECT_EQ(ConfinedPath("C:\\Data", "\\doc\\a.txt"), "C:\\Data\\\\doc\\a.txt");
  const struct {
    const char* Path;
    const char* Message;
  } refused[] = {
      {"\\doc\\CON.txt", "Cannot open file \"C:\\Data\\\\doc\\CON.txt\". The path names a device."},
      {"\\doc\\con .txt",
       "Cannot open file \"C:\\Data\\\\doc\\con .txt\". The path names a device."},
      {"\\D:\\x",
       "Cannot open file \"C:\\Data\\\\D:\\x\". The path leads outside the project's root folder."},
      {"\\a.txt:s",
       "Cannot open file \"C:\\Data\\\\a.txt:s\". The path names an alternate data stream."},
  };
  for (const auto& c : refused) {
    try {
      ConfinedPath("C:\\Data", c.Path);
      ADD_FAILURE() << "served " << c.Path;
    } catch (const EFOpenError& error) {
      EXPECT_EQ(error.Message(), c.Message);
    }
  }
}

TEST(WindowsResolvedRoot, ComparesFinalPathsPartByPartLetterCaseAside) {
  testing::TTempFolder temp;
  const fs::path base = temp.Path();
  test::WriteFile(base / "real" / "a.txt", "a");
  test::WriteFile(base / "real2" / "b.txt", "b");
  const TResolvedRoot root((base / "real").string());
  const struct {
    fs::path Path;
    TResolvedRoot::TPlace Place;
  } cases[] = {
      {base / "real" / "a.txt", TResolvedRoot::TPlace::Inside},
      {base / "REAL" / "A.TXT", TResolvedRoot::TPlace::Inside},
      {base / "real", TResolvedRoot::TPlace::Inside},
      {base / "real2" / "b.txt", TResolvedRoot::TPlace::Outside},
      {base, TResolvedRoot::TPlace::Outside},
      {base / "real" / "missing", TResolvedRoot::TPlace::Nowhere},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(root.Locate(c.Path.string()), c.Place) << c.Path.string();
  }
}

// GetFile of `path` in the project at `root` fails with exactly what a
// missing file gets.
void ExpectRefusedAsMissing(const std::string& root, const std::string& path) {
  std::string missing;
  try {
    TFileStream file(root + "\\nothing.txt");
  } catch (const EFOpenError& error) {
    missing = error.Message().substr(error.Message().find("\". "));
  }
  try {
    TProjectFile file(root, path);
    ADD_FAILURE() << "served " << path;
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message(), "Cannot open file \"" + ProjectFilePath(root, path) + missing);
  }
}

// Makes `link` a junction to the folder `target`; false where the system
// makes none (Wine).
bool MakeJunction(const fs::path& link, const fs::path& target) {
  fs::create_directory(link);
  HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const std::wstring print = fs::absolute(target).wstring();
  const std::wstring substitute = L"\\??\\" + print;
  // The mount-point form of REPARSE_DATA_BUFFER: tag, data length, reserved;
  // offsets and lengths of both names; the names, each ending in NUL.
  const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
  std::vector<char> buffer(16 + names);
  *reinterpret_cast<DWORD*>(buffer.data()) = IO_REPARSE_TAG_MOUNT_POINT;
  WORD* fields = reinterpret_cast<WORD*>(buffer.data() + 4);
  fields[0] = static_cast<WORD>(8 + names);
  fields[2] = 0;
  fields[3] = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
  fields[4] = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
  fields[5] = static_cast<WORD>(print.size() * sizeof(wchar_t));
  wchar_t* text = reinterpret_cast<wchar_t*>(buffer.data() + 16);
  substitute.copy(text, substitute.size());
  print.copy(text + substitute.size() + 1, print.size());
  DWORD returned = 0;
  const BOOL made =
      DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, buffer.data(),
                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
  CloseHandle(folder);
  const DWORD attributes = GetFileAttributesW(link.c_str());
  return made && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// A junction out of the project is left out of the scan and refused by
// GetFile as a missing file is; one that stays inside works as any folder.
TEST(WindowsResolvedRoot, AJunctionOutOfTheProjectIsNeitherListedNorServed) {
  testing::TTempFolder temp;
  const fs::path base = temp.Path();
  const fs::path project = base / "project";
  test::WriteFile(project / "sub" / "inner.txt", "inner");
  test::WriteFile(base / "outside" / "secret.txt", "secret");
  if (!MakeJunction(project / "out", base / "outside") ||
      !MakeJunction(project / "in", project / "sub")) {
    GTEST_SKIP() << "no junction could be made here";
  }
  const std::string root = project.string();
  TProjectTreeRef scanned = ScanProject(root);
  TDirectory tree;
  scanned->Tree.CopyTo(&tree);
  std::set<std::string> folders;
  for (int i = 0; i < tree.DirectoryCount(); ++i) folders.insert(tree.GetDirectory(i)->Name());
  EXPECT_EQ(folders, (std::set<std::string>{"in", "sub"}));
  EXPECT_EQ(scanned->Report.LinksOut, 1);
  EXPECT_EQ(scanned->Report.FirstLinkOut, "\\out");

  ExpectRefusedAsMissing(root, "\\out\\secret.txt");
  TProjectFile inside(root, "\\in\\inner.txt");
  EXPECT_EQ(inside.Size(), 5);
}

// Wine shows a Unix symbolic link as the file or folder it names, but the
// final path of what is opened through it is its target's: GetFile refuses
// a file outside reached that way (scripts/test-windows makes the link
// "links\a\back" to "..").
TEST(WindowsResolvedRoot, AFileReachedThroughALinkOutOfTheRootIsRefused) {
  const char* links = std::getenv("ORMELIN_TEST_LINK_LOOP");
  if (links == nullptr) GTEST_SKIP() << "ORMELIN_TEST_LINK_LOOP names no link";
  const fs::path base = links;
  const std::string root = (base / "a").string();
  test::WriteFile(base / "outside.txt", "out");
  test::WriteFile(base / "a" / "inside.txt", "in");
  ExpectRefusedAsMissing(root, "\\back\\outside.txt");
  EXPECT_EQ(TProjectFile(root, "\\back\\a\\inside.txt").Size(), 2);
  fs::remove(base / "outside.txt");
  fs::remove(base / "a" / "inside.txt");
}

}  // namespace
}  // namespace ormelin
