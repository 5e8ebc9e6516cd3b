#include "platform/PathConfinement.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ConfinedFolder.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

constexpr char kNul[] = "The path contains a NUL character.";
constexpr char kOutside[] = "The path leads outside the project's root folder.";
constexpr char kDevice[] = "The path names a device.";
constexpr char kStream[] = "The path names an alternate data stream.";

using TRules = std::string (*)(std::string_view, std::string_view);

struct TCase {
  std::string Root;
  std::string Path;
  const char* Refusal;  // nullptr: served
};

// The joined path when served; otherwise the whole refusal message, which
// must name the joined path (NUL shown as "?") and the reason.
void Check(TRules rules, const TCase& c) {
  std::string joined = c.Root;
  if (joined.empty() || (joined.back() != '\\' && joined.back() != '/')) joined += '\\';
  joined += c.Path;
  try {
    const std::string result = rules(c.Root, c.Path);
    EXPECT_EQ(c.Refusal, nullptr) << "served: root " << c.Root << ", path " << c.Path;
    EXPECT_EQ(result, joined);
  } catch (const EFOpenError& error) {
    ASSERT_NE(c.Refusal, nullptr) << "refused: root " << c.Root << ", path " << c.Path << ": "
                                  << error.Message();
    for (char& ch : joined) {
      if (ch == '\0') ch = '?';
    }
    EXPECT_EQ(error.Message(), "Cannot open file \"" + joined + "\". " + c.Refusal);
  }
}

TEST(ConfinedPath, WindowsRules) {
  const TCase cases[] = {
      // Served: the path as received below the root, in every root form.
      {"C:\\Data", "\\doc\\a.txt", nullptr},
      {"C:\\Data\\", "\\doc\\a.txt", nullptr},
      {"c:/data", "doc/a b.txt", nullptr},
      {"C:\\", "\\a.txt", nullptr},
      {"\\\\server\\share\\proj", "\\a.txt", nullptr},
      {"\\\\?\\C:\\Data", "\\a.txt", nullptr},
      {"D:\\Data", "", nullptr},
      {"C:\\Data", "\\a..b\\.hidden\\.\\x", nullptr},
      {"C:\\Data", "\\console.txt", nullptr},
      {"C:\\Data", "\\COM10", nullptr},
      {"C:\\Data", "\\LPT0.txt", nullptr},
      {"C:\\Data", "\\nul-list.txt", nullptr},
      {"C:\\Data", "\\CONIN", nullptr},
      {"C:\\Data\\Proj", "\\Proj\\x", nullptr},
      {"C:\\a\\..\\Data", "\\x", nullptr},
      // Parents, also as Windows reads trailing dots and blanks.
      {"C:\\Data", "\\..\\Windows\\win.ini", kOutside},
      {"C:\\Data", "..", kOutside},
      {"C:\\Data", "\\a\\..\\..\\Data2\\x", kOutside},
      {"C:\\Data", "/../x", kOutside},
      {"C:\\Data", "\\...\\x", kOutside},
      {"C:\\Data", "\\. .\\x", kOutside},
      {"C:\\Data", "\\.. \\x", kOutside},
      {"C:\\Data", std::string("\\a\0b", 4), kNul},
      // Another drive.
      {"C:\\Data", "C:x", kOutside},
      {"C:\\Data", "\\C:\\x", kOutside},
      {"C:\\Data", "\\d:", kOutside},
      // Shares and device paths.
      {"C:\\Data", "\\\\server\\share\\x", kOutside},
      {"C:\\Data", "//server/share/x", kOutside},
      {"C:\\Data", "\\\\?\\C:\\x", kOutside},
      {"C:\\Data", "\\\\.\\PhysicalDrive0", kOutside},
      // A root whose join would make a share of the request.
      {"\\", "\\server\\share\\x", kOutside},
      {"", "\\server\\share\\x", kOutside},
      // Alternate data streams.
      {"C:\\Data", "\\a.txt:secret", kStream},
      {"C:\\Data", "\\a.txt::$DATA", kStream},
      {"C:\\Data", "\\doc:s\\x", kStream},
      // Devices, in any part, any case, with an extension or trailing dots
      // and blanks.
      {"C:\\Data", "\\CON", kDevice},
      {"C:\\Data", "\\doc\\CON.txt", kDevice},
      {"C:\\Data", "\\doc\\con .txt", kDevice},
      {"C:\\Data", "\\doc\\Nul..", kDevice},
      {"C:\\Data", "\\doc\\aux  ", kDevice},
      {"C:\\Data", "\\PRN\\x.txt", kDevice},
      {"C:\\Data", "\\com1", kDevice},
      {"C:\\Data", "\\COM9.log", kDevice},
      {"C:\\Data", "\\lpt1", kDevice},
      {"C:\\Data", "\\LPT9.tar.gz", kDevice},
      {"C:\\Data", "\\conin$", kDevice},
      {"C:\\Data", "\\CONOUT$.txt", kDevice},
      {"C:\\Data", "/doc/con", kDevice},
  };
  for (const TCase& c : cases) Check(ConfinedPathByWindowsRules, c);
}

TEST(ConfinedPath, PosixRules) {
  const TCase cases[] = {
      {"/srv/docs", "\\a b\\c.txt", nullptr},
      {"/srv/docs\\", "\\c.txt", nullptr},
      {"/srv/docs/", "c.txt", nullptr},
      {"/srv/docs", "", nullptr},
      {"../demo", "\\x.txt", nullptr},
      // Names Windows would refuse are ordinary names on Linux.
      {"/srv/docs", "\\CON.txt", nullptr},
      {"/srv/docs", "\\a.txt:s", nullptr},
      {"/srv/docs", "\\\\x\\y", nullptr},
      {"/srv/docs", "\\..\\..\\etc\\passwd", kOutside},
      {"/srv/docs", "\\a//..//..//x", kOutside},
      {"/srv/docs", "\\. .\\x", kOutside},
      {"/srv/docs", std::string("\\a.txt\0", 7), kNul},
      // A root that only the join turns absolute.
      {"", "\\etc\\passwd", kOutside},
  };
  for (const TCase& c : cases) Check(ConfinedPathByPosixRules, c);
}

// A confined folder never climbs above its root, whoever checked the path
// before: a ".." part is refused wherever it stands.
TEST(ConfinedFolder, NoPartClimbsAboveTheRoot) {
  testing::TTempFolder temp;
  const std::filesystem::path base = temp.Path();
  const std::string root = (base / "root").string();
  test::WriteFile(base / "root" / "sub" / "a.txt", "a");
  for (const char* path : {"\\..\\x", "\\sub\\..\\..\\x", "/sub/../a.txt", "\\sub\\.."}) {
    EXPECT_THROW(TConfinedFolder(root, path), EFOpenError) << path;
  }
  const TConfinedFolder folder(root, "\\sub\\.\\a.txt");
  EXPECT_EQ(folder.Name(), "a.txt");
  EXPECT_EQ(folder.Kind("a.txt"), TEntryKind::File);
}

#ifndef _WIN32
// A file is judged by where the open file lies, not by where its path leads
// once it is open: a link pointed inside after the open does not clear a
// file opened outside, nor does one pointed outside refuse a file inside.
TEST(ResolvedRoot, AnOpenFileIsJudgedByTheFileOpened) {
  namespace fs = std::filesystem;
  testing::TTempFolder temp;
  const fs::path base = temp.Path();
  test::WriteFile(base / "root" / "inside.txt", "in");
  test::WriteFile(base / "outside.txt", "out");
  const TResolvedRoot root((base / "root").string());
  const fs::path link = base / "root" / "link";
  const struct {
    const char* OpenedThrough;
    const char* PointedAfter;
    bool Holds;
  } cases[] = {{"../outside.txt", "inside.txt", false}, {"inside.txt", "../outside.txt", true}};
  for (const auto& c : cases) {
    fs::create_symlink(c.OpenedThrough, link);
    TFileStream file(link.string());
    fs::remove(link);
    fs::create_symlink(c.PointedAfter, link);
    EXPECT_EQ(root.HoldsOpenFile(file.NativeHandle(), link.string()), c.Holds) << c.OpenedThrough;
    fs::remove(link);
  }
}
#endif

}  // namespace
}  // namespace ormelin
