#include "platform/FileSystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "platform/Exceptions.h"
#include "support/TempFolder.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using testing::TTempFolder;

void Touch(const std::string& path, const std::string& content = "x") {
  std::ofstream(path, std::ios::binary) << content;
}

time_t LocalSeconds(int y, int mo, int d, int h, int mi, int s) {
  tm t{};
  t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi,
  t.tm_sec = s, t.tm_isdst = -1;
  return mktime(&t);
}

void SetTimes(const std::string& path, time_t seconds) {
  timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

time_t ModifiedSeconds(const std::string& path) {
  struct stat st {};
  stat(path.c_str(), &st);
  return st.st_mtime;
}

std::map<std::string, TFolderEntry> Enumerate(const std::string& path) {
  std::map<std::string, TFolderEntry> entries;
  TFolderEnumerator enumerator(path);
  TFolderEntry entry;
  while (enumerator.Next(entry)) entries[entry.Name] = entry;
  return entries;
}

TEST(FileSystemTest, DosRoundingAndClamping) {
  struct {
    time_t seconds;
    TDateTime expected;
  } cases[] = {
      {LocalSeconds(2008, 11, 14, 10, 20, 31), EncodeDateTime(2008, 11, 14, 10, 20, 30)},
      {LocalSeconds(2008, 11, 14, 10, 20, 30), EncodeDateTime(2008, 11, 14, 10, 20, 30)},
      {LocalSeconds(1980, 1, 1, 0, 0, 1), EncodeDateTime(1980, 1, 1, 0, 0, 0)},
      {LocalSeconds(1979, 12, 31, 23, 59, 59), EncodeDateTime(1980, 1, 1, 0, 0, 0)},
      {0, EncodeDateTime(1980, 1, 1, 0, 0, 0)},
      {-5000000000LL, EncodeDateTime(1980, 1, 1, 0, 0, 0)},
      {LocalSeconds(2107, 12, 31, 23, 59, 59), EncodeDateTime(2107, 12, 31, 23, 59, 58)},
      {LocalSeconds(2108, 1, 1, 0, 0, 0), EncodeDateTime(2107, 12, 31, 23, 59, 58)},
      {INT64_MAX, EncodeDateTime(2107, 12, 31, 23, 59, 58)},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(DosRoundedTime(c.seconds), c.expected) << c.seconds;
  }
}

TEST(FileSystemTest, EnumeratorListsEveryEntryInCodePage1250) {
  TTempFolder temp;
  const std::string root = temp.Path();
  Touch(root + "/.hidden");
  fs::create_directory(root + "/.hiddendir");
  Touch(root + "/a b.txt");
  Touch(root + "/\xC4\x8D\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91 \xC4\x8C.txt");  // čćžšđ Č
  Touch(root +
        "/ma\xC3\xB1"
        "ana");  // mañana
  fs::create_directory(root + "/sub");
  SetTimes(root + "/a b.txt", LocalSeconds(2008, 11, 14, 10, 20, 31));
  SetTimes(root + "/.hidden", 0);
  fs::create_symlink(root + "/nowhere", root + "/dangling");

  auto entries = Enumerate(root);
  std::map<std::string, bool> kinds;
  for (const auto& [name, entry] : entries) kinds[name] = entry.IsDirectory;
  std::map<std::string, bool> expected = {
      {".hidden", false}, {".hiddendir", true},
      {"a b.txt", false}, {"\xE8\xE6\x9E\x9A\xF0 \xC8.txt", false},
      {"ma?ana", false},  {"sub", true}};
  EXPECT_EQ(kinds, expected);
  EXPECT_DOUBLE_EQ(entries["a b.txt"].DateModified, EncodeDateTime(2008, 11, 14, 10, 20, 30));
  EXPECT_DOUBLE_EQ(entries[".hidden"].DateModified, EncodeDate(1980, 1, 1));

  // The system's own path form reaches the same folder.
  EXPECT_EQ(Enumerate(root + "\\\\sub\\").size(), 0u);
  TFolderEnumerator sub(root + "\\sub\\");
  EXPECT_TRUE(sub.IsOpen());
}

TEST(FileSystemTest, EnumeratorOfWhatIsNoFolder) {
  TTempFolder temp;
  Touch(temp.Path() + "/file");
  for (std::string path : {temp.Path() + "/missing", temp.Path() + "/file", std::string("")}) {
    TFolderEnumerator enumerator(path);
    TFolderEntry entry;
    EXPECT_FALSE(enumerator.IsOpen()) << path;
    EXPECT_FALSE(enumerator.Next(entry)) << path;
  }
  // A NUL byte must not shorten the path to its existing beginning.
  TFolderEnumerator cut(temp.Path() + std::string("\0/x", 3));
  EXPECT_FALSE(cut.IsOpen());
}

TEST(FileSystemTest, IdentityShowsALinkLoop) {
  TTempFolder temp;
  const std::string a = temp.Path() + "/a";
  fs::create_directories(a + "/b");
  fs::create_directory_symlink(a, a + "/b/up");
  TFolderEnumerator top(a);
  TFolderEnumerator inner(a + "\\b");
  TFolderEnumerator looped(a + "\\b\\up");
  ASSERT_TRUE(looped.IsOpen());
  EXPECT_EQ(looped.Identity(), top.Identity());
  EXPECT_FALSE(inner.Identity() == top.Identity());
  auto entries = Enumerate(a + "/b");
  ASSERT_EQ(entries.count("up"), 1u);
  EXPECT_TRUE(entries["up"].IsDirectory);  // links are followed
}

TEST(FileSystemTest, EntryQueriesAndSimpleOperations) {
  TTempFolder temp;
  const std::string root = temp.Path();
  Touch(root + "/f");
  EXPECT_TRUE(FileExists(root + "\\f"));
  EXPECT_FALSE(FileExists(root));
  EXPECT_FALSE(FileExists(root + "/missing"));
  EXPECT_TRUE(DirectoryExists(root));
  EXPECT_FALSE(DirectoryExists(root + "/f"));
  EXPECT_FALSE(FileExists(root + std::string("/f\0x", 4)));

  EXPECT_TRUE(CreateDir(root + "\\\xE8"
                               "a"));
  EXPECT_TRUE(fs::is_directory(root + "/\xC4\x8D"
                                      "a"));
  EXPECT_FALSE(CreateDir(root + "\\\xE8"
                                "a"));                  // exists
  EXPECT_FALSE(CreateDir(root + "\\missing\\deeper"));  // one level only

  EXPECT_FALSE(DeleteFile(root + "\\\xE8"
                                 "a"));  // a folder
  EXPECT_FALSE(DeleteFile(root + "\\missing"));
  EXPECT_TRUE(DeleteFile(root + "\\f"));
  EXPECT_FALSE(fs::exists(root + "/f"));
  Touch(root + "/readonly");
  fs::permissions(root + "/readonly", fs::perms::owner_read | fs::perms::group_read);
  EXPECT_FALSE(DeleteFile(root + "\\readonly"));
  EXPECT_TRUE(fs::exists(root + "/readonly"));
  fs::create_symlink(root + "/readonly", root + "/link");
  EXPECT_TRUE(DeleteFile(root + "\\link"));
  EXPECT_TRUE(fs::exists(root + "/readonly"));

  Touch(root + "/from", "new");
  Touch(root + "/to", "old");
  EXPECT_TRUE(RenameFile(root + "\\from", root + "\\to"));
  EXPECT_EQ(ReadFileToString(root + "/to"), "new");
  EXPECT_FALSE(fs::exists(root + "/from"));
  EXPECT_FALSE(RenameFile(root + "\\from", root + "\\to"));
}

TEST(FileSystemTest, DeleteTreeRemovesLinksWithoutFollowingThem) {
  TTempFolder temp;
  const std::string root = temp.Path();
  fs::create_directories(root + "/keep");
  Touch(root + "/keep/precious");
  fs::create_directories(root + "/doc/sub/.hidden");
  Touch(root + "/doc/a b.txt");
  Touch(root + "/doc/sub/.hidden/x");
  fs::create_directory_symlink(root + "/keep", root + "/doc/sub/link");
  fs::create_symlink(root + "/keep/precious", root + "/doc/filelink");
  fs::create_directory_symlink(root + "/doc", root + "/doc/sub/loop");

  EXPECT_TRUE(DeleteTree(root + "\\doc\\"));
  EXPECT_FALSE(fs::exists(root + "/doc"));
  EXPECT_TRUE(fs::exists(root + "/keep/precious"));

  fs::create_directory_symlink(root + "/keep", root + "/alias");
  EXPECT_TRUE(DeleteTree(root + "\\alias"));
  EXPECT_FALSE(fs::is_symlink(root + "/alias"));
  EXPECT_TRUE(fs::exists(root + "/keep/precious"));

  EXPECT_FALSE(DeleteTree(root + "/keep/precious"));  // not a folder
  EXPECT_TRUE(fs::exists(root + "/keep/precious"));
  EXPECT_FALSE(DeleteTree(root + "/missing"));
  EXPECT_FALSE(DeleteTree(""));
}

TEST(FileSystemTest, SetFileDateUsesTheDosForm) {
  TTempFolder temp;
  const std::string file = temp.Path() + "/f";
  Touch(file);
  EXPECT_TRUE(SetFileDate(file, EncodeDateTime(2008, 11, 14, 10, 20, 31, 900)));
  EXPECT_EQ(ModifiedSeconds(file), LocalSeconds(2008, 11, 14, 10, 20, 30));
  EXPECT_DOUBLE_EQ(Enumerate(temp.Path())["f"].DateModified,
                   EncodeDateTime(2008, 11, 14, 10, 20, 30));
  // Outside the DOS years the time stays as it was.
  EXPECT_FALSE(SetFileDate(file, EncodeDate(1970, 1, 1)));
  EXPECT_FALSE(SetFileDate(file, EncodeDate(2108, 1, 1)));
  EXPECT_EQ(ModifiedSeconds(file), LocalSeconds(2008, 11, 14, 10, 20, 30));
  EXPECT_FALSE(SetFileDate(temp.Path() + "/missing", EncodeDate(2008, 1, 1)));
}

// Sets the process's time zone for the life of the object.
class TTimeZone {
 public:
  explicit TTimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) old_ = old, hadOld_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TTimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

TEST(FileSystemTest, SetFileDateGivesWhatMktimeGivesAroundEveryChangeOfOffset) {
  TTempFolder temp;
  const std::string file = temp.Path() + "/f";
  Touch(file);
  struct {
    const char* zone;
    int y, mo, d, h, mi, s;
  } cases[] = {
      {"Europe/Zagreb", 2021, 7, 15, 12, 0, 0},     // summer
      {"Europe/Zagreb", 2021, 1, 15, 12, 0, 0},     // winter
      {"Europe/Zagreb", 2021, 3, 27, 2, 30, 0},     // a day before the clocks go forward
      {"Europe/Zagreb", 2021, 3, 28, 1, 59, 58},    // just before the gap
      {"Europe/Zagreb", 2021, 3, 28, 2, 30, 0},     // in the gap
      {"Europe/Zagreb", 2021, 3, 28, 3, 0, 0},      // just after it
      {"Europe/Zagreb", 2021, 10, 31, 2, 30, 0},    // an hour that comes twice
      {"Europe/Zagreb", 2021, 11, 1, 2, 30, 0},     // a day after
      {"America/St_Johns", 2021, 3, 14, 2, 30, 0},  // a half-hour zone's gap
      {"America/St_Johns", 2021, 8, 1, 23, 59, 58},
      {"UTC", 1980, 1, 1, 0, 0, 0},
      {"UTC", 2107, 12, 31, 23, 59, 58},
      {"Pacific/Kiritimati", 1995, 1, 1, 12, 0, 0},  // a zone that skipped a day
      {"Pacific/Kiritimati", 1994, 12, 31, 12, 0, 0},
  };
  for (const auto& c : cases) {
    TTimeZone zone(c.zone);
    EXPECT_TRUE(SetFileDate(file, EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s)));
    EXPECT_EQ(ModifiedSeconds(file), LocalSeconds(c.y, c.mo, c.d, c.h, c.mi, c.s))
        << c.zone << " " << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
  }
}

TEST(FileSystemTest, WholeFileReadsAndWrites) {
  TTempFolder temp;
  const std::string root = temp.Path();
  const std::string bytes("a\0\r\n\xE8\xFF", 6);
  WriteStringToFile(root + "\\\xE8.bin", bytes);
  EXPECT_EQ(ReadFileToString(root + "/\xE8.bin"), bytes);
  WriteStringToFile(root + "\\\xE8.bin", "short");  // replaces, no old tail left
  EXPECT_EQ(ReadFileToString(root + "/\xE8.bin"), "short");
  WriteStringToFile(root + "/empty", "");
  EXPECT_EQ(ReadFileToString(root + "/empty"), "");

  struct {
    std::string path;
    std::string reason;
  } unreadable[] = {
      {root + "/missing", "No such file or directory"},
      {root, "Is a directory"},
      {root + "/empty" + std::string("\0x", 2), "Invalid argument"},
  };
  for (const auto& c : unreadable) {
    try {
      ReadFileToString(c.path);
      ADD_FAILURE() << c.path;
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "Cannot open file \"" + c.path + "\". " + c.reason);
    }
  }
  const std::string nowhere = root + "\\missing\\orServer.xml";
  try {
    WriteStringToFile(nowhere, "x");
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + nowhere + "\". No such file or directory");
  }
}

TEST(FileSystemTest, ReplaceFileContentsFollowsEveryLinkAndKeepsIt) {
  TTempFolder temp;
  const std::string root = temp.Path();
  fs::create_directories(root + "/a/b");
  Touch(root + "/a/b/real", "old");
  fs::create_symlink("b/real", root + "/a/relative");         // from the link's own folder
  fs::create_symlink(root + "/a/relative", root + "/chain");  // onto another link
  fs::create_symlink("a/b/new", root + "/dangling");          // a file not made yet
  fs::create_symlink("loop", root + "/loop");

  ReplaceFileContents(root + "\\chain", "through two links");
  EXPECT_EQ(ReadFileToString(root + "/a/b/real"), "through two links");
  ReplaceFileContents(root + "/dangling", "made");
  EXPECT_EQ(ReadFileToString(root + "/a/b/new"), "made");
  for (const char* link : {"/a/relative", "/chain", "/dangling"}) {
    EXPECT_TRUE(fs::is_symlink(root + link)) << link;
  }
  try {
    ReplaceFileContents(root + "/loop", "x");
    ADD_FAILURE() << "wrote through a loop";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot create file \"" + root + "/loop\". Too many levels of symbolic links");
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    names.push_back(entry.path().lexically_relative(root).string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a", "a/b", "a/b/new", "a/b/real", "a/relative",
                                             "chain", "dangling", "loop"}));
}

}  // namespace
}  // namespace ormelin
