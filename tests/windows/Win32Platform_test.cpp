// The win32 platform layer on a real Windows API (Wine in CI). Some cases
// need the process's user locale or time zone: scripts/test-windows runs
// the program with LANG=hr_HR.UTF-8 and TZ=Europe/Zagreb, and a case whose
// setting is not in force is skipped, saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/Collation.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/SocketErrors.h"
#include "platform/Streams.h"
#include "platform/Thread.h"
#include "platform/win32/LocalePicture.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

// After the system's headers: the macro DeleteFile would hide its DeleteFile.
#include <windows.h>
#undef DeleteFile

namespace ormelin {
namespace {

// A fresh folder under the system's temporary folder, removed with
// everything in it at the end.
class TTempFolder {
 public:
  TTempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    for (unsigned n = GetTickCount();; ++n) {
      path_ = std::wstring(base) + L"ormelin-test-" + std::to_wstring(n);
      if (CreateDirectoryW(path_.c_str(), nullptr)) break;
    }
  }
  ~TTempFolder() { RemoveAll(path_); }
  // The folder as a system path (code page 1250), with a trailing "\".
  std::string Path() const { return WideToCp1250(path_) + "\\"; }
  const std::wstring& Wide() const { return path_; }

 private:
  static void RemoveAll(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveAll(path);
        } else {
          DeleteFileW(path.c_str());
        }
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::wstring path_;
};

bool UserLocaleIsCroatian() {
  return PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) == LANG_CROATIAN;
}

// Central European time: one hour ahead of UTC in winter, two in summer.
bool TimeZoneIsCentralEuropean() {
  TIME_ZONE_INFORMATION zone{};
  DWORD kind = GetTimeZoneInformation(&zone);
  return kind != TIME_ZONE_ID_INVALID && zone.Bias == -60 && zone.DaylightBias == -60 &&
         zone.DaylightDate.wMonth == 3 && zone.StandardDate.wMonth == 10;
}

int Sign(int v) {
  return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(Win32CollationTest, CroatianUserLocaleOrdersLettersAndIgnoresCase) {
  if (!UserLocaleIsCroatian()) GTEST_SKIP() << "the user locale is not Croatian (LANG=hr_HR.UTF-8)";
  struct TCase {
    const char* a;
    const char* b;
    int order;
  };
  const TCase cases[] = {
      {"b", "C", -1},
      {"c", "\xE8", -1},            // c < č
      {"\xE8", "d", -1},            // č < d
      {"\xC8", "d", -1},            // Č < d
      {"\xE8", "\xE6", -1},         // č < ć in Croatian
      {"z", "\x9E", -1},            // z < ž
      {"\x8A\x8E", "\x9A\x9E", 0},  // ŠŽ = šž
      {"Projekt", "PROJEKT", 0},
      {"a", "ab", -1},
  };
  TCollator croatian("hr_HR");
  EXPECT_EQ(croatian.LocaleName(), "hr_HR");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    EXPECT_EQ(Sign(AnsiCompareText(c.a, c.b)), c.order);
    EXPECT_EQ(Sign(AnsiCompareText(c.b, c.a)), -c.order);
    EXPECT_EQ(Sign(croatian.Compare(c.a, c.b)), c.order);
    EXPECT_EQ(Sign(CollationKey(c.a).compare(CollationKey(c.b))), c.order);
    EXPECT_EQ(Sign(croatian.Key(c.a).compare(croatian.Key(c.b))), c.order);
  }
}

TEST(Win32CollationTest, KeysSortLikeTheComparison) {
  std::vector<std::string> names = {"d",
                                    "\xE8",
                                    "C",
                                    "b",
                                    "c",
                                    "\xC8"
                                    "a",
                                    "ab",
                                    "A",
                                    "z",
                                    "\x9E"};
  std::vector<std::string> byKey = names;
  std::sort(byKey.begin(), byKey.end(), [](const std::string& a, const std::string& b) {
    return CollationKey(a) < CollationKey(b);
  });
  for (size_t i = 1; i < byKey.size(); ++i) {
    EXPECT_LE(AnsiCompareText(byKey[i - 1], byKey[i]), 0) << byKey[i - 1] << " / " << byKey[i];
  }
}

TEST(Win32CollationTest, UnknownLocaleFallsBackToTheNeutralOne) {
  TCollator collator("xx_YY");
  EXPECT_EQ(collator.LocaleName(), "");
  EXPECT_LT(collator.Compare("b", "C"), 0);
  EXPECT_EQ(collator.Compare("Abc", "aBC"), 0);
}

TEST(Win32LocaleTest, PicturesBecomePatternLetters) {
  struct TCase {
    const wchar_t* picture;
    char symbol;
    const char* pattern;
    char separator;
  };
  const TCase cases[] = {
      {L"d.M.yyyy.", '/', "d/m/yyyy/", '.'},     {L"dd.MM.yyyy", '/', "dd/mm/yyyy", '.'},
      {L"M/d/yyyy", '/', "m/d/yyyy", '/'},       {L"yyyy-MM-dd", '/', "yyyy/mm/dd", '-'},
      {L"dd/MM/yy gg", '/', "dd/mm/yy ", '/'},   {L"d MMMM yyyy", '/', "d mmmm yyyy", '?'},
      {L"d 'de' MMM", '/', "d \"d\"e mmm", '?'}, {L"'It''s' d", '/', "I\"t\"\"'\"\"s\" d", '?'},
      {L"H:mm:ss", ':', "h:nn:ss", ':'},         {L"HH.mm.ss", ':', "hh:nn:ss", '.'},
      {L"h:mm:ss tt", ':', "h:nn:ss ampm", ':'}, {L"tt hh:mm", ':', "ampm hh:nn", ':'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToCp1250(c.picture));
    char separator = '?';
    EXPECT_EQ(PatternFromPicture(c.picture, c.symbol, separator), c.pattern);
    EXPECT_EQ(separator, c.separator);
  }
}

TEST(Win32LocaleTest, CroatianConventionsFromTheUserLocale) {
  if (!UserLocaleIsCroatian()) GTEST_SKIP() << "the user locale is not Croatian (LANG=hr_HR.UTF-8)";
  const TFormatSettings& settings = DefaultFormatSettings();
  EXPECT_EQ(settings.DateSeparator, '.');
  EXPECT_EQ(settings.TimeSeparator, ':');
  EXPECT_EQ(settings.DecimalSeparator, ',');
  // 24-hour time: no AM/PM in the layout.
  EXPECT_EQ(settings.LongTimeFormat.find("ampm"), std::string::npos);
  const TDateTime value = EncodeDateTime(2024, 7, 5, 9, 3, 4);
  std::string text = DateTimeToStr(value, settings);
  EXPECT_NE(text.find("2024"), std::string::npos) << text;
  EXPECT_NE(text.find("9:03:04"), std::string::npos) << text;
}

TEST(Win32FileTimeTest, LocalTimeFollowsTheRulesAtTheFilesOwnDate) {
  if (!TimeZoneIsCentralEuropean()) GTEST_SKIP() << "the time zone is not Europe/Zagreb";
  struct TCase {
    int64_t unixSeconds;
    TDateTime local;
  };
  const TCase cases[] = {
      {1705312800, EncodeDateTime(2024, 1, 15, 11, 0, 0)},   // 10:00 UTC in winter
      {1721037600, EncodeDateTime(2024, 7, 15, 12, 0, 0)},   // 10:00 UTC in summer
      {1721037601, EncodeDateTime(2024, 7, 15, 12, 0, 0)},   // odd seconds round down
      {1711846799, EncodeDateTime(2024, 3, 31, 1, 59, 58)},  // before the change to summer time
      {1711846800, EncodeDateTime(2024, 3, 31, 3, 0, 0)},    // after it
      {1729990800, EncodeDateTime(2024, 10, 27, 2, 0, 0)},   // back to winter time
      {0, EncodeDateTime(1980, 1, 1, 0, 0, 0)},              // before 1980: its first moment
      {5000000000LL, EncodeDateTime(2107, 12, 31, 23, 59, 58)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unixSeconds);
    EXPECT_EQ(DosRoundedTime(c.unixSeconds), c.local);
  }
}

TEST(Win32FileTimeTest, SetFileDateRoundTripsInWinterAndSummer) {
  if (!TimeZoneIsCentralEuropean()) GTEST_SKIP() << "the time zone is not Europe/Zagreb";
  TTempFolder folder;
  const std::string path = folder.Path() + "a.txt";
  WriteStringToFile(path, "x");
  for (TDateTime value :
       {EncodeDateTime(2024, 1, 15, 11, 0, 0), EncodeDateTime(2024, 7, 15, 12, 0, 0),
        EncodeDateTime(2023, 10, 29, 1, 30, 0),
        // Past 2038, where a 32-bit time_t would have wrapped.
        EncodeDateTime(2040, 7, 15, 12, 0, 0), EncodeDateTime(2106, 2, 7, 7, 28, 16)}) {
    ASSERT_TRUE(SetFileDate(path, value));
    TFolderEnumerator enumerator(folder.Path());
    TFolderEntry entry;
    ASSERT_TRUE(enumerator.Next(entry));
    EXPECT_EQ(entry.DateModified, value)
        << DateTimeToStr(entry.DateModified, CroatianFormatSettings());
  }
  // The file's UTC time in summer is two hours behind the local one.
  ASSERT_TRUE(SetFileDate(path, EncodeDateTime(2024, 7, 15, 12, 0, 1)));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(
      GetFileAttributesExW((folder.Wide() + L"\\a.txt").c_str(), GetFileExInfoStandard, &data));
  SYSTEMTIME universal{};
  FileTimeToSystemTime(&data.ftLastWriteTime, &universal);
  EXPECT_EQ(universal.wHour, 10);
  EXPECT_EQ(universal.wSecond, 0);
  EXPECT_FALSE(SetFileDate(path, EncodeDateTime(1979, 12, 31, 0, 0, 0)));
  EXPECT_FALSE(SetFileDate(folder.Path() + "missing.txt", EncodeDateTime(2024, 1, 1, 0, 0, 0)));
}

TEST(Win32FolderTest, EnumerationListsHiddenAndSystemEntriesAndCodePageNames) {
  TTempFolder folder;
  WriteStringToFile(folder.Path() + "plain.txt", "1");
  WriteStringToFile(folder.Path() + "hidden.txt", "2");
  WriteStringToFile(folder.Path() + "\xE8\xE6\x9E\x9A\xF0.txt", "3");  // čćžšđ.txt
  ASSERT_TRUE(CreateDir(folder.Path() + "Skriveno"));
  SetFileAttributesW((folder.Wide() + L"\\hidden.txt").c_str(),
                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetFileAttributesW((folder.Wide() + L"\\Skriveno").c_str(), FILE_ATTRIBUTE_HIDDEN);
  // A name with a letter code page 1250 lacks (Greek alpha).
  CloseHandle(CreateFileW((folder.Wide() + L"\\\x03B1.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));

  std::map<std::string, TFolderEntry> seen;
  TFolderEnumerator enumerator(folder.Path());
  ASSERT_TRUE(enumerator.IsOpen());
  TFolderEntry entry;
  while (enumerator.Next(entry)) seen[entry.Name] = entry;
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_TRUE(seen.count("plain.txt") && seen.count("hidden.txt"));
  ASSERT_TRUE(seen.count("\xE8\xE6\x9E\x9A\xF0.txt"));
  EXPECT_TRUE(seen["\xE8\xE6\x9E\x9A\xF0.txt"].NameIsPath);
  ASSERT_TRUE(seen.count("Skriveno"));
  EXPECT_TRUE(seen["Skriveno"].IsDirectory);
  ASSERT_TRUE(seen.count("?.txt"));
  EXPECT_FALSE(seen["?.txt"].NameIsPath);
  EXPECT_FALSE(seen["plain.txt"].IsDirectory);
  EXPECT_TRUE(seen["plain.txt"].NameIsPath);
}

TEST(Win32FolderTest, IdentityTellsFoldersApartAndWhatIsNoFolderIsNotOpen) {
  TTempFolder folder;
  ASSERT_TRUE(CreateDir(folder.Path() + "a"));
  WriteStringToFile(folder.Path() + "f.txt", "");
  TFolderEnumerator first(folder.Path());
  TFolderEnumerator again(folder.Path() + "a\\..\\");
  TFolderEnumerator child(folder.Path() + "a");
  EXPECT_EQ(first.Identity(), again.Identity());
  EXPECT_FALSE(first.Identity() == child.Identity());
  for (const char* name : {"f.txt", "missing"}) {
    TFolderEnumerator none(folder.Path() + name);
    EXPECT_FALSE(none.IsOpen()) << name;
    TFolderEntry entry;
    EXPECT_FALSE(none.Next(entry));
  }
  TFolderEnumerator empty(folder.Path() + "a");
  EXPECT_TRUE(empty.IsOpen());
  TFolderEntry entry;
  EXPECT_FALSE(empty.Next(entry));
}

TEST(Win32FolderTest, IdentityShowsALinkLoop) {
  // scripts/test-windows makes <links>\a\back, a link to <links>.
  const char* links = std::getenv("ORMELIN_TEST_LINK_LOOP");
  if (links == nullptr) GTEST_SKIP() << "no link loop prepared (ORMELIN_TEST_LINK_LOOP)";
  const std::string root = links;
  TFolderEnumerator top(root);
  TFolderEnumerator a(root + "\\a");
  TFolderEnumerator back(root + "\\a\\back");
  ASSERT_TRUE(top.IsOpen() && a.IsOpen() && back.IsOpen());
  EXPECT_EQ(back.Identity(), top.Identity());
  EXPECT_FALSE(a.Identity() == top.Identity());
  TFolderEntry entry;
  ASSERT_TRUE(a.Next(entry));
  EXPECT_EQ(entry.Name, "back");
  EXPECT_TRUE(entry.IsDirectory);
}

TEST(Win32FolderTest, DeleteTreeSendsTheFolderAndItsContentAway) {
  TTempFolder folder;
  const std::string tree = folder.Path() + "stablo";
  ASSERT_TRUE(CreateDir(tree));
  ASSERT_TRUE(CreateDir(tree + "\\pod"));
  WriteStringToFile(tree + "\\a.txt", "a");
  WriteStringToFile(tree + "\\pod\\b.txt", "b");
  WriteStringToFile(tree + "\\pod\\\xE8.txt", "c");
  SetFileAttributesW((folder.Wide() + L"\\stablo\\a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(DeleteTree(tree));
  EXPECT_FALSE(DirectoryExists(tree));
  EXPECT_TRUE(DirectoryExists(folder.Path()));
  // Under Wine the Recycle Bin is a folder that scripts/test-windows names.
  if (const char* bin = std::getenv("ORMELIN_TEST_RECYCLE_BIN")) {
    const std::string recycled = std::string(bin) + "\\";
    EXPECT_TRUE(FileExists(recycled + "a.txt"));
    EXPECT_TRUE(FileExists(recycled + "pod\\b.txt"));
    EXPECT_TRUE(FileExists(recycled + "pod\\\xE8.txt"));
    EXPECT_TRUE(DirectoryExists(recycled + "stablo"));
  }

  ASSERT_TRUE(CreateDir(folder.Path() + "prazno"));
  EXPECT_TRUE(DeleteTree(folder.Path() + "prazno\\"));
  EXPECT_FALSE(DirectoryExists(folder.Path() + "prazno"));

  WriteStringToFile(folder.Path() + "file.txt", "x");
  EXPECT_FALSE(DeleteTree(folder.Path() + "file.txt"));
  EXPECT_TRUE(FileExists(folder.Path() + "file.txt"));
  EXPECT_FALSE(DeleteTree(folder.Path() + "missing"));
  // Never a whole volume.
  EXPECT_FALSE(DeleteTree("C:\\"));
  EXPECT_FALSE(DeleteTree("C:"));
  EXPECT_TRUE(DirectoryExists("C:\\windows"));
}

// File errors and socket errors carry the same system text, differing
// only in the closing full stop.
TEST(Win32SystemErrorTest, EveryFormIsTheOneSystemText) {
  for (const unsigned long code :
       {0x2UL, 0x5UL, 0x3UL, 0x431UL, 10048UL, 10061UL, 10060UL, 0x2FFFFFFFUL}) {
    SCOPED_TRACE(code);
    const std::string text = SystemErrorText(code);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    if (text.empty()) {
      EXPECT_EQ(SystemErrorMessage(code), "Unknown error " + std::to_string(code));
      EXPECT_EQ(SystemSocketErrorDescription(static_cast<int>(code)), "Unknown error.");
      continue;
    }
    const bool stop = text.back() == '.';
    EXPECT_EQ(SystemErrorMessage(code), stop ? text.substr(0, text.size() - 1) : text);
    EXPECT_EQ(SystemSocketErrorDescription(static_cast<int>(code)), stop ? text : text + ".");
  }
}

TEST(Win32FileTest, ErrorsCarryThePathAndTheSystemsReason) {
  TTempFolder folder;
  const std::string missing = folder.Path() + "nema.txt";
  const std::string reason = SystemErrorMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(reason.empty());
  EXPECT_NE(reason.back(), '.');
  EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(SystemErrorMessage(0x2FFFFFFF), "Unknown error 805306367");
  try {
    ReadFileToString(missing);
    FAIL() << "read a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". " + reason);
    EXPECT_EQ(e.Path(), missing);
  }
  try {
    TFileStream stream(folder.Path() + "nema\\a.txt");
    FAIL() << "opened a file in a missing folder";
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Reason(), SystemErrorMessage(ERROR_PATH_NOT_FOUND));
  }
  EXPECT_THROW(TFileStream stream(folder.Path()), EFOpenError);  // a folder
  EXPECT_THROW(TFileStream stream(std::string("a\0b", 3)), EFOpenError);
  try {
    WriteStringToFile(folder.Path() + "nema\\b.txt", "x");
    FAIL() << "wrote into a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Cannot create file \"" + folder.Path() + "nema\\b.txt\". " +
                               SystemErrorMessage(ERROR_PATH_NOT_FOUND));
  }
}

TEST(Win32FileTest, ReadersShareAFileThatNobodyMayChangeWhileItIsSent) {
  TTempFolder folder;
  const std::string path = folder.Path() + "dijeljeno.txt";
  WriteStringToFile(path, "0123456789");
  TFileStream first(path);
  TFileStream second(path);  // readers never block each other
  EXPECT_EQ(ReadFileToString(path), "0123456789");
  char buffer[4] = {};
  second.SetPosition(6);
  EXPECT_EQ(second.Read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(first.Size(), 10);
  // Writers and deleters are refused while the file is open.
  EXPECT_THROW(WriteStringToFile(path, "changed"), EFCreateError);
  EXPECT_FALSE(DeleteFile(path));
  EXPECT_FALSE(RenameFile(path, folder.Path() + "other.txt"));
  EXPECT_EQ(first.Read(buffer, sizeof buffer), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
}

TEST(Win32FileTest, FileOperationsWithCodePageNames) {
  TTempFolder folder;
  const std::string name = folder.Path() +
                           "\x8A"
                           "ibenik \xC8"
                           "akovec.txt";  // Šibenik Čakovec.txt
  WriteStringToFile(name,
                    "sadr\x9E"
                    "aj");
  EXPECT_TRUE(FileExists(name));
  EXPECT_FALSE(DirectoryExists(name));
  EXPECT_NE(GetFileAttributesW((folder.Wide() + L"\\\x0160ibenik \x010C"
                                                L"akovec.txt")
                                   .c_str()),
            INVALID_FILE_ATTRIBUTES);
  ReplaceFileContents(name, "novo");
  EXPECT_EQ(ReadFileToString(name), "novo");
  ReplaceFileContents(folder.Path() + "new.txt", "n");
  EXPECT_EQ(ReadFileToString(folder.Path() + "new.txt"), "n");
  TFolderEnumerator enumerator(folder.Path());
  TFolderEntry entry;
  int entries = 0;
  while (enumerator.Next(entry)) ++entries;
  EXPECT_EQ(entries, 2);  // no temporary file stays behind

  SetFileAttributesW((folder.Wide() + L"\\new.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(FileIsReadOnly(folder.Path() + "new.txt"));
  EXPECT_FALSE(DeleteFile(folder.Path() + "new.txt"));
  EXPECT_TRUE(FileExists(folder.Path() + "new.txt"));
  EXPECT_TRUE(RenameFile(name, folder.Path() + "\x9E.txt"));
  EXPECT_TRUE(DeleteFile(folder.Path() + "\x9E.txt"));
  EXPECT_FALSE(FileExists(folder.Path() + "\x9E.txt"));
  EXPECT_FALSE(CreateDir(folder.Path()));
}

TEST(Win32FileTest, WriteStreamWritesAtItsPositionAndCuts) {
  TTempFolder folder;
  const std::string path = folder.Path() + "w.bin";
  {
    TFileWriteStream stream(path, "shown.bin");
    stream.Write("0123456789", 10);
    stream.SetPosition(2);
    stream.Write("ab", 2);
    EXPECT_EQ(stream.Size(), 10);
    stream.SetSize(6);
    EXPECT_EQ(stream.Size(), 6);
    EXPECT_EQ(stream.Position(), 4);
    EXPECT_THROW(stream.Read(nullptr, 0), EStreamError);
    stream.Close();
    stream.Close();  // once is enough
    try {
      stream.Write("x", 1);
      FAIL() << "wrote after closing";
    } catch (const EFCreateError& e) {
      EXPECT_EQ(e.Path(), "shown.bin");
    }
  }
  EXPECT_EQ(ReadFileToString(path), "01ab45");
  // Created anew: the old content goes.
  WriteStringToFile(path, "z");
  EXPECT_EQ(ReadFileToString(path), "z");
  TFileStream reader(path);
  EXPECT_THROW(reader.Write("x", 1), EStreamError);
  EXPECT_THROW(reader.SetSize(0), EStreamError);
}

TEST(Win32FileTest, ReplacingKeepsTheFilesAttributes) {
  TTempFolder folder;
  const std::string path = folder.Path() + "orServer.xml";
  WriteStringToFile(path, "<xml/>");
  const std::wstring wide = folder.Wide() + L"\\orServer.xml";
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  ReplaceFileContents(path, "<xml><a/></xml>");
  EXPECT_EQ(ReadFileToString(path), "<xml><a/></xml>");
  EXPECT_NE(GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  try {
    ReplaceFileContents(folder.Path() + "nema\\orServer.xml", "x");
    FAIL() << "replaced a file in a missing folder";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Path(), folder.Path() + "nema\\orServer.xml");
  }
}

TEST(Win32PathsTest, WindowsFormAndTheProcessFolders) {
  struct TCase {
    const char* path;
    const char* platform;
  };
  const TCase cases[] = {
      {"C:\\Data\\\\doc\\a.txt", "C:\\Data\\doc\\a.txt"},
      {"C:/Data//doc/", "C:\\Data\\doc\\"},
      {"\\\\server\\share\\\\doc", "\\\\server\\share\\doc"},
      {"\\\\?\\C:\\x", "\\\\?\\C:\\x"},
      {"\\doc\\\\a", "\\doc\\a"},
  };
  for (const auto& c : cases) EXPECT_EQ(PlatformPath(c.path), c.platform) << c.path;
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_TRUE(FileExists(folder + "Win32Platform_test.exe"));
  EXPECT_TRUE(DirectoryExists(CommonAppDataFolder()));
}

TEST(Win32ThreadTest, ThreadsRunWithASmallStackAndJoin) {
  int result = 0;
  TThread thread([&result] { result = 42; }, 64 * 1024, "Ormelin test");
  EXPECT_TRUE(thread.Joinable());
  thread.Join();
  EXPECT_FALSE(thread.Joinable());
  EXPECT_EQ(result, 42);
}

}  // namespace
}  // namespace ormelin
