#include "platform/Paths.h"

#include <gtest/gtest.h>

#include "platform/Cp1250.h"

namespace ormelin {
namespace {

TEST(PathsTest, NativePathOfSystemPaths) {
  struct {
    std::string path;
    std::string native;
  } cases[] = {
      {std::string("/tmp/x") + "\\" + "\\doc\\a b.txt", "/tmp/x/doc/a b.txt"},
      {"/srv/docs", "/srv/docs"},
      {"/srv/docs/", "/srv/docs/"},
      {"D:\\Data\\Docs", "D:/Data/Docs"},
      {"a\\\\\\b//c\\/d", "a/b/c/d"},
      {"\\", "/"},
      {"", ""},
      {"/p/\xC8\xE6\x9E\x9A\xF0.txt", "/p/\xC4\x8C\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91.txt"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // kept, so callers can refuse it
  };
  for (const auto& c : cases) EXPECT_EQ(NativePath(c.path), c.native) << c.path;
}

TEST(PathsTest, Utf8ToCp1250MarksWhatTheCodePageLacks) {
  struct {
    const char* utf8;
    const char* cp1250;
  } cases[] = {
      {"abc", "abc"},
      {"\xC4\x8D\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91", "\xE8\xE6\x9E\x9A\xF0"},  // čćžšđ
      {"\xC5\x91", "\xF5"},         // ő is in the code page
      {"\xC3\xB1", "?"},            // ñ is not
      {"\xE6\x97\xA5", "?"},        // 日
      {"\xF0\x9F\x98\x80x", "?x"},  // outside the basic plane
      {"\xE2\x82\xAC", "\x80"},     // €
      {"\xFF", "?"},                // not UTF-8 at all
      {"\xC4", "?"},                // cut short
      {"\xC4"
       "a",
       "?a"},                        // bad continuation
      {"\xC0\x80", "??"},            // overlong
      {"\xED\xA0\x80", "???"},       // surrogate
      {"\xF4\x90\x80\x80", "????"},  // beyond U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1250(c.utf8), c.cp1250) << c.utf8;
}

TEST(PathsTest, EveryByteSurvivesTheRoundTrip) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  std::string utf8 = Cp1250ToUtf8(all);
  EXPECT_EQ(Utf8ToCp1250(utf8), all);
  EXPECT_EQ(Cp1250ToUtf8("\x8A\x9A\xA3\xB3\xFF"), "\xC5\xA0\xC5\xA1\xC5\x81\xC5\x82\xCB\x99");
}

// The system's texts, written in UTF-8 in the source, are the same bytes as
// the run-time conversion gives.
TEST(PathsTest, TextsOfTheSourceAreCodePage1250) {
  EXPECT_STREQ("nije moguće"_cp1250,
               "nije mogu\xE6"
               "e");
  EXPECT_STREQ("čćžšđ ČĆŽŠĐ €„‰"_cp1250, Utf8ToCp1250("čćžšđ ČĆŽŠĐ €„‰").c_str());
  EXPECT_STREQ("plain"_cp1250, "plain");
}

TEST(PathsTest, FoldersAndSeparators) {
  EXPECT_EQ(IncludeTrailingBackslash("a"), "a\\");
  EXPECT_EQ(IncludeTrailingBackslash("a\\"), "a\\");
  EXPECT_EQ(IncludeTrailingBackslash("/srv/"), "/srv/");
  EXPECT_EQ(CommonAppDataFolder(), "/etc");
  EXPECT_EQ(NativePath(CommonAppDataFolder() + "\\zevan\\ormelin\\orServer.xml"),
            "/etc/zevan/ormelin/orServer.xml");
  // The form shown in messages keeps the code page of the system's texts.
  EXPECT_EQ(PlatformPath("/etc\\\\zevan\\\xE8.xml"), "/etc/zevan/\xE8.xml");
  std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
  EXPECT_NE(folder.find("tests/"), std::string::npos) << folder;
}

}  // namespace
}  // namespace ormelin
