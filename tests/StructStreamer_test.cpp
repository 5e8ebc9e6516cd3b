#include "comparer/StructStreamer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "comparer/FileStructures.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;

TFormatSettings Settings(const char* longTime, const char* am = "AM", const char* pm = "PM") {
  TFormatSettings settings = CroatianFormatSettings();
  settings.LongTimeFormat = longTime;
  settings.TimeAMString = am;
  settings.TimePMString = pm;
  return settings;
}

const TFormatSettings k24 = Settings("hh:nn:ss");
const TFormatSettings k24Bare = Settings("h:nn:ss");
const TFormatSettings k12 = Settings("h:nn:ss ampm");
const TFormatSettings k12First = Settings("ampm hh:nn:ss", "dop.", "pop.");

// A readable description of a tree: one line per entry, depth-first in list
// order, with full path and time text.
void Describe(const TDirectory& folder, std::vector<std::string>& lines) {
  for (int i = 0; i < folder.FileCount(); ++i) {
    const TFile* f = folder.GetFile(i);
    lines.push_back("F " + f->GetFullPath() + " " +
                    TLoader::DateTimeToText(f->DateModified(), k24));
  }
  for (int i = 0; i < folder.DirectoryCount(); ++i) {
    const TDirectory* d = folder.GetDirectory(i);
    lines.push_back("D " + d->GetFullPath() + " " +
                    TLoader::DateTimeToText(d->DateModified(), k24));
    Describe(*d, lines);
  }
}

std::vector<std::string> Describe(const TDirectory& root) {
  std::vector<std::string> lines;
  Describe(root, lines);
  return lines;
}

// ---- date-time text ----

TEST(DateTimeToText, FollowsTheLocaleTimeLayout) {
  struct TCase {
    const TFormatSettings* settings;
    int hour, minute, second;
    const char* text;
  };
  const TCase cases[] = {
      {&k24, 9, 5, 7, "2008-11-14 09-05-07"},
      {&k24Bare, 9, 5, 7, "2008-11-14 9-05-07"},
      {&k12, 9, 5, 7, "2008-11-14 9-05-07 AM"},
      {&k12, 21, 5, 7, "2008-11-14 9-05-07 PM"},
      {&k12, 12, 0, 1, "2008-11-14 12-00-01 PM"},
      {&k12, 0, 30, 0, "2008-11-14 12-30-00 AM"},
      {&k12First, 13, 0, 0, "2008-11-14 pop. 01-00-00"},
      {&k24, 0, 0, 0, "2008-11-14"},
      {&k12, 0, 0, 0, "2008-11-14"},
  };
  for (const TCase& c : cases) {
    TDateTime value = EncodeDateTime(2008, 11, 14, c.hour, c.minute, c.second);
    EXPECT_EQ(TLoader::DateTimeToText(value, *c.settings), c.text);
  }
  EXPECT_EQ(TLoader::DateTimeToText(0, k24), "1899-12-30");
  EXPECT_EQ(TLoader::DateTimeToText(EncodeDateTime(2008, 11, 14, 0, 0, 0, 500), k24), "2008-11-14");
}

TEST(TextToDateTime, ReadsTheLenientGrammar) {
  const int year = CurrentYear();
  struct TCase {
    const char* text;
    TDateTime value;
  };
  const TDateTime day = EncodeDate(2008, 11, 14);
  const TCase cases[] = {
      {"2008-11-14 10-20-30", day + EncodeTime(10, 20, 30, 0)},
      {"2008-11-14", day},
      {"  2008 - 11 - 14   10 - 20 - 30  ", day + EncodeTime(10, 20, 30, 0)},
      {"2008-11-14- 10-20-30", day + EncodeTime(10, 20, 30, 0)},
      {"2008-11-14-", day},
      {"2008-11-14 10", day + EncodeTime(10, 0, 0, 0)},
      {"2008-11-14 10-20", day + EncodeTime(10, 20, 0, 0)},
      {"2008-11-14 10-20-30,250", day + EncodeTime(10, 20, 30, 250)},
      {"2008-11-14 9-05-07 PM", day + EncodeTime(21, 5, 7, 0)},
      {"2008-11-14 9-05-07 pm", day + EncodeTime(21, 5, 7, 0)},
      {"2008-11-14 PM 9-05-07", day + EncodeTime(21, 5, 7, 0)},
      {"2008-11-14 12-00-00 AM", day},
      {"2008-11-14 12-00-00 PM", day + EncodeTime(12, 0, 0, 0)},
      {"2008-11-14 10-20-30 and the rest", day + EncodeTime(10, 20, 30, 0)},
      {"11-14", EncodeDate(year, 11, 14)},
      {"11-14 8-00", EncodeDate(year, 11, 14) + EncodeTime(8, 0, 0, 0)},
      {"08-11-14", day},
      {"10-20-30", EncodeTime(10, 20, 30, 0)},  // no month 20: a time alone
      {" 7 AM", EncodeTime(7, 0, 0, 0)},
      {"1899-12-30", 0},
      {"1899-12-29 12-00-00", -1.5},
  };
  for (const TCase& c : cases) {
    EXPECT_DOUBLE_EQ(TLoader::TextToDateTime(c.text, k24), c.value) << c.text;
  }
  // The locale's own designators count besides AM and PM.
  EXPECT_EQ(TLoader::TextToDateTime("2008-11-14 pop. 01-00-00", k12First),
            day + EncodeTime(13, 0, 0, 0));
  EXPECT_EQ(TLoader::TextToDateTime("2008-11-14 1-00-00 DOP.", k12First),
            day + EncodeTime(1, 0, 0, 0));
}

TEST(TextToDateTime, RejectsWhatIsNoDateAndTime) {
  for (const char* text :
       {"", "   ", "2008/11/14 10:20:30", "2008-13-01", "2008-02-30", "2008-11-14 24-00-00",
        "2008-11-14 10-60", "2008-11-14 0-00 AM", "2008-11-14 13-00 PM", "2008-11-", "abc",
        "10-20-30 x", "2008-11-14 10-20-30,1000", "2008-11-14 10-", "-11-14", "10000-01-01"}) {
    try {
      TLoader::TextToDateTime(text, k24);
      ADD_FAILURE() << "accepted: '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid date and time");
    }
  }
}

TEST(TextToDateTime, RoundTripsEverySecondOfADay) {
  const TDateTime day = EncodeDate(2008, 11, 14);
  for (const TFormatSettings* settings : {&k24, &k24Bare, &k12, &k12First}) {
    for (int second = 0; second < 86400; ++second) {
      TDateTime value = day + EncodeTime(second / 3600, second / 60 % 60, second % 60, 0);
      std::string text = TLoader::DateTimeToText(value, *settings);
      ASSERT_EQ(TLoader::TextToDateTime(text, *settings), value) << text;
    }
  }
  // Dates before the epoch and the ends of the value range come back too.
  for (TDateTime value : {EncodeDateTime(1850, 6, 1, 13, 14, 15), EncodeDateTime(1, 1, 2, 0, 0, 1),
                          EncodeDateTime(9999, 12, 31, 23, 59, 59)}) {
    EXPECT_EQ(TLoader::TextToDateTime(TLoader::DateTimeToText(value, k12), k12), value);
  }
}

// ---- XML ----

TEST(LoadFromXML, ElementRules) {
  TDirectory root;
  TLoader::LoadFromXML("<x/>", &root);
  EXPECT_EQ(root.Name(), "\\");
  EXPECT_EQ(root.FileCount() + root.DirectoryCount(), 0);

  TLoader::LoadFromXML(
      "<tree><directory><name>doc</name><datemodified>2008-11-14 10-20-30</datemodified>"
      "<NAME>Docs</NAME><Junk>x</Junk>"
      "<FILE><Name>a.txt</Name><name>b.txt</name><DateModified>2008-11-14</DateModified>"
      "<datemodified>garbage is never read</datemodified></FILE>"
      "<file><name>untimed</name></file></directory>"
      "<DIRECTORY><name>second</name></DIRECTORY>text is ignored</tree>",
      &root, k24);
  EXPECT_EQ(Describe(root), (std::vector<std::string>{
                                "D \\Docs 2008-11-14 10-20-30",
                                "F \\Docs\\a.txt 2008-11-14",
                                "F \\Docs\\untimed 1899-12-30",
                                "D \\second 1899-12-30",
                            }));

  TLoader::LoadFromXML("<r><name>top</name><file><name>f</name></file></r>", &root);
  EXPECT_EQ(root.Name(), "top");
  EXPECT_EQ(root.GetFile(0)->GetFullPath(), "top\\f");
}

TEST(LoadFromXML, DuplicateNamesAreAcceptedOnceNamed) {
  TDirectory root;
  TLoader::LoadFromXML(
      "<t><file><name>a</name></file><file><name>A</name></file>"
      "<directory><name>d</name></directory><directory><name>d</name></directory></t>",
      &root);
  EXPECT_EQ(root.FileCount(), 2);
  EXPECT_EQ(root.DirectoryCount(), 2);

  try {
    TLoader::LoadFromXML("<t><directory></directory><directory/></t>", &root);
    FAIL() << "no error";
  } catch (const EDuplicateDirectoryName& e) {
    EXPECT_EQ(e.Message(), "Direktorij ve\xE6 sadr\x9Ei direktorij ''");
  }
  EXPECT_THROW(TLoader::LoadFromXML("<t><file/><file><name>b</name></file></t>", &root),
               EDuplicateFileName);
}

TEST(LoadFromXML, ErrorsPassThrough) {
  TDirectory root;
  try {
    TLoader::LoadFromXML("<t><file><datemodified>2008/11/14</datemodified></file></t>", &root);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'2008/11/14' is not a valid date and time");
  }
  EXPECT_EQ(root.FileCount(), 1);  // partly filled, for the caller to release
  EXPECT_THROW(TLoader::LoadFromXML("<r></R>", &root), Exception);
  try {
    TLoader::LoadFromXML("<t/>", nullptr);
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Assertion failure (StructStreamer, line 118)");
  }
}

TEST(LoadFromXML, DeepestDocumentNeedsNoStack) {
  std::string xml;
  const int depth = MaxXMLDepth - 3;  // t, the folders, file, name
  for (int i = 0; i < depth; ++i) xml += "<directory><name>d</name>";
  xml += "<file><name>f</name></file>";
  TDirectory root;
  TLoader::LoadFromXML("<t>" + xml, &root);  // open elements count as closed
  const TDirectory* d = &root;
  int levels = 0;
  while (d->DirectoryCount() == 1) {
    d = d->GetDirectory(0);
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(d->GetFile(0)->Name(), "f");
}

TEST(SaveToXML, RoundTripsATree) {
  TDirectory root;
  auto* docs = new TDirectory(&root);
  docs->SetName("d\xE8 & <b>'s");
  docs->SetDateModified(EncodeDateTime(2009, 1, 2, 3, 4, 6));
  auto* file = new TFile(docs);
  file->SetName("a \"b\".txt");
  file->SetDateModified(EncodeDateTime(2008, 11, 14, 21, 5, 8));
  (new TFile(&root))->SetName("top");
  (new TDirectory(docs))->SetName("empty");

  for (const TFormatSettings* settings : {&k24, &k12}) {
    std::string xml = TLoader::SaveToXML(root, *settings);
    TDirectory copy;
    TLoader::LoadFromXML(xml, &copy, *settings);
    EXPECT_EQ(Describe(copy), Describe(root)) << xml;
    EXPECT_EQ(copy.Name(), "\\");
  }
  EXPECT_EQ(TLoader::SaveToXML(TDirectory()), "<tree></tree>");
  TDirectory renamed;
  renamed.SetName("x");
  EXPECT_EQ(TLoader::SaveToXML(renamed), "<tree>\r\n<name>x</name>\r\n</tree>");
}

// ---- disk ----

class TScratchFolder {
 public:
  TScratchFolder() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("ormelin-scan-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

  void Write(const fs::path& relative, int64_t unixSeconds) {
    std::ofstream(path_ / relative) << "x";
    Touch(relative, unixSeconds);
  }
  void Touch(const fs::path& relative, int64_t unixSeconds) {
    auto when = std::chrono::system_clock::time_point(std::chrono::seconds(unixSeconds));
    fs::last_write_time(path_ / relative, std::chrono::file_clock::from_sys(when));
  }

 private:
  fs::path path_;
};

TEST(LoadFromDisk, ScansEveryEntry) {
  TScratchFolder scratch;
  const int64_t t = 1226658031;  // 14 November 2008, an odd second
  fs::create_directories(scratch.Path() / ".hidden dir" / "inner");
  fs::create_directories(scratch.Path() / "\xC4\x8D\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91 ma\xC5\xA1");
  scratch.Write("with space.txt", t);
  scratch.Write(".hidden", t);
  scratch.Write(".hidden dir/inner/deep.txt", t);
  scratch.Write("\xC4\x8D\xC4\x87\xC5\xBE\xC5\xA1\xC4\x91 ma\xC5\xA1/\xC4\x90urđ.txt", t);
  scratch.Write("ancient", 86400 * 2);  // 1970: before the DOS range
  fs::create_directory_symlink("..", scratch.Path() / ".hidden dir" / "loop");
  fs::create_directory_symlink(scratch.Path() / ".hidden dir",
                               scratch.Path() / ".hidden dir" / "inner" / "up");
  for (const char* folder : {".hidden dir/inner", ".hidden dir"}) scratch.Touch(folder, t);

  TDirectory root;
  root.SetName("kept");
  root.SetDateModified(5);
  new TFile(&root);  // cleared first
  TLoader::LoadFromDisk(scratch.Path().string(), &root);
  EXPECT_EQ(root.Name(), "kept");
  EXPECT_EQ(root.DateModified(), 5);
  root.Sort(true);

  const std::string time = TLoader::DateTimeToText(DosRoundedTime(t), k24);
  std::vector<std::string> lines = Describe(root);
  // Folder times of the untouched folders and of the link targets vary.
  std::vector<std::string> expected = {
      "F kept\\.hidden " + time,
      "F kept\\ancient 1980-01-01",
      "F kept\\with space.txt " + time,
      "D kept\\.hidden dir " + time,
      "D kept\\.hidden dir\\inner " + time,
      "F kept\\.hidden dir\\inner\\deep.txt " + time,
      "D kept\\.hidden dir\\inner\\up",  // an ancestor: listed, not entered
      "D kept\\.hidden dir\\loop",
      "D kept\\\xE8\xE6\x9E\x9A\xF0 ma\x9A",
      "F kept\\\xE8\xE6\x9E\x9A\xF0 ma\x9A\\\xD0ur\xF0.txt " + time,
  };
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].compare(0, expected[i].size(), expected[i]), 0) << lines[i];
  }
  int second, unused;
  DecodeTime(root.GetFile(0)->DateModified(), unused, unused, second, unused);
  EXPECT_EQ(second % 2, 0);
  const TDirectory* hidden = root.GetDirectory(0);
  EXPECT_EQ(hidden->GetDirectory(1)->DirectoryCount() + hidden->GetDirectory(1)->FileCount(), 0);
}

// Names the collation ignores entirely are names all the same: a folder may
// hold several such files beside ordinary ones, on disk and in a client's
// tree, without a "duplicate" of the empty name.
TEST(LoadFromDisk, NamesTheCollationIgnoresAreNoUnnamedEntries) {
  // DEL, soft hyphen (U+00AD), a C0 control.
  const char* onDisk[] = {"\x7F", "\xC2\xAD", "\x01"};
  TScratchFolder scratch;
  for (const char* name : onDisk) {
    scratch.Write(name, 1226658031);
    fs::create_directory(scratch.Path() / (std::string(name) + name));
  }
  for (const char* name : {"a.txt", "b.txt"}) scratch.Write(name, 1226658031);
  fs::create_directory(scratch.Path() / "sub");
  TDirectory root;
  TLoader::LoadFromDisk(scratch.Path().string(), &root);
  EXPECT_EQ(root.FileCount(), 5);
  EXPECT_EQ(root.DirectoryCount(), 4);

  TDirectory client;
  TLoader::LoadFromXML(
      "<t><file><name>\x7F</name></file><file><name>\x88</name></file><file><name>a</name></file>"
      "<directory><name>\xAD</name></directory><directory><name>d</name></directory></t>",
      &client);
  EXPECT_EQ(client.FileCount(), 3);
  EXPECT_EQ(client.DirectoryCount(), 2);
  EXPECT_TRUE(client.HasFile("\x7F"));
  EXPECT_FALSE(client.HasFile(""));
}

// A name that cannot be written as a path would be read at another path:
// such entries are left out, counted, and the first one named.
TEST(LoadFromDisk, NamesThatAreNoPathAreLeftOut) {
  TScratchFolder scratch;
  fs::create_directories(scratch.Path() / "x" / "y");
  scratch.Write("x/y/only-in-y.txt", 1226658031);
  fs::create_directory(scratch.Path() / "x\\y");
  scratch.Write("x\\y/hidden-behind.txt", 1226658031);
  scratch.Write("\xE6\x97\xA5.txt", 1226658031);  // no code page 1250 letter
  scratch.Write("kept.txt", 1226658031);
  TDirectory root;
  TScanReport report;
  TLoader::LoadFromDisk(scratch.Path().string(), &root, &report);
  root.Sort(true);
  std::vector<std::string> lines;
  for (const std::string& line : Describe(root)) lines.push_back(line.substr(0, line.find(' ', 2)));
  EXPECT_EQ(lines, (std::vector<std::string>{"F \\kept.txt", "D \\x", "D \\x\\y",
                                             "F \\x\\y\\only-in-y.txt"}));
  EXPECT_EQ(report.LeftOut, 2);
  EXPECT_TRUE(report.FirstLeftOut == "\\x\\y" || report.FirstLeftOut == "\\?.txt")
      << report.FirstLeftOut;
}

TEST(LoadFromDisk, MissingFolderGivesAnEmptyTree) {
  TScratchFolder scratch;
  scratch.Write("plain", 1226658031);
  TDirectory root;
  for (fs::path path : {scratch.Path() / "missing", scratch.Path() / "plain"}) {
    new TFile(&root);
    TLoader::LoadFromDisk(path.string(), &root);
    EXPECT_EQ(root.FileCount() + root.DirectoryCount(), 0);
  }
  try {
    TLoader::LoadFromDisk(scratch.Path().string(), nullptr);
    FAIL() << "no error";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message(), "Assertion failure (StructStreamer, line 59)");
  }
}

}  // namespace
}  // namespace ormelin
