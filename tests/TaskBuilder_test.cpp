#include "reference/TaskBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/Tasks.h"
#include "platform/DateTime.h"
#include "platform/Format.h"

namespace ormelin {
namespace {

// Functions rather than constants: no test value depends on the order in
// which translation units initialise.
TDateTime Old() {
  return EncodeDateTime(2008, 11, 14, 10, 20, 28);
}
TDateTime New() {
  return EncodeDateTime(2008, 11, 14, 10, 20, 30);
}
const std::string kNewText = "\"2008-11-14 10-20-30\"";

TDirectory* Dir(TDirectory* parent, const std::string& name) {
  auto* directory = new TDirectory(parent);
  directory->SetName(name);
  return directory;
}

TFile* File(TDirectory* parent, const std::string& name, TDateTime time = New()) {
  auto* file = new TFile(parent);
  file->SetName(name);
  file->SetDateModified(time);
  return file;
}

std::vector<std::string> BuildTasks(TDirectory& source, TDirectory& target) {
  TTaskBuilder builder;
  builder.FormatSettings.LongTimeFormat = "hh:nn:ss";
  TTaskList list;
  list.AddTask(new TBaseTask);  // Build starts from an empty list
  builder.Build(&source, &target, &list);
  EXPECT_EQ(builder.TaskList, &list);
  std::vector<std::string> tasks;
  for (int i = 0; i < list.Count(); ++i) {
    tasks.push_back(list.GetTask(i)->Name() + " " + list.GetTask(i)->Params());
  }
  return tasks;
}

using TTasks = std::vector<std::string>;

TEST(DelimitedItem, QuotesWhatTheReaderWouldSplit) {
  struct TCase {
    std::string item;
    std::string text;
  };
  const TCase cases[] = {
      {"\\doc\\a.txt", "\\doc\\a.txt"},
      {"\\doc\\a b.txt", "\"\\doc\\a b.txt\""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"tab\there", "\"tab\there\""},
      {std::string("x\x01y"), "\"x\x01y\""},
      {"\xE8\x9A\xA0", "\xE8\x9A\xA0"},  // code page letters and 160 stay bare
      {"", ""},
  };
  for (const TCase& c : cases) EXPECT_EQ(DelimitedItem(c.item), c.text) << c.item;
  EXPECT_EQ(DelimitedPair("\\a.txt", "2008-11-14"), "\\a.txt,2008-11-14");
}

TEST(TTaskBuilder, WorkedExample) {
  TDirectory source, target;
  File(&source, "c.txt");
  File(&source, "b.txt");
  File(Dir(&source, "x"), "f1");
  File(&target, "c.txt", Old());
  File(&target, "a.txt");
  Dir(&target, "y");
  EXPECT_EQ(BuildTasks(source, target), (TTasks{
                                            "delete_file \\a.txt",
                                            "insert_file \\b.txt," + kNewText,
                                            "update_file \\c.txt," + kNewText,
                                            "insert_dir \\x",
                                            "insert_file \\x\\f1," + kNewText,
                                            "delete_dir \\y",
                                        }));
}

TEST(TTaskBuilder, EqualTreesGiveNothing) {
  TDirectory source, target;
  for (TDirectory* root : {&source, &target}) {
    File(root, "a");
    File(Dir(Dir(root, "d"), "e"), "f");
  }
  EXPECT_EQ(BuildTasks(source, target), TTasks{});
}

TEST(TTaskBuilder, OnlyAnOlderTargetFileIsUpdated) {
  TDirectory source, target;
  File(&source, "equal", New());
  File(&target, "equal", New());
  File(&source, "newer", Old());
  File(&target, "newer", New());
  File(&source, "readme.txt", New());
  File(&target, "README.TXT", Old());
  File(&source, "untimed", Old());
  File(&target, "untimed", 0);
  File(&source, "quoted name", EncodeDate(2008, 11, 14));
  File(&target, "quoted name", EncodeDate(2008, 11, 13));
  EXPECT_EQ(BuildTasks(source, target), (TTasks{
                                            "update_file \"\\quoted name\",2008-11-14",
                                            "update_file \\readme.txt," + kNewText,
                                            "update_file \\untimed,\"2008-11-14 10-20-28\"",
                                        }));
}

TEST(TTaskBuilder, EmptyTargetGetsEverythingInTreeOrderBelowTheTop) {
  TDirectory source, target;
  File(&source, "b");
  File(&source, "a");
  TDirectory* z = Dir(&source, "z");
  TDirectory* m = Dir(&source, "m");
  File(z, "2");
  File(z, "1");
  TDirectory* inner = Dir(z, "q");
  Dir(z, "p");
  File(inner, "deep");
  File(m, "only");
  EXPECT_EQ(BuildTasks(source, target), (TTasks{
                                            "insert_file \\a," + kNewText,
                                            "insert_file \\b," + kNewText,
                                            "insert_dir \\m",
                                            "insert_file \\m\\only," + kNewText,
                                            "insert_dir \\z",
                                            "insert_file \\z\\2," + kNewText,
                                            "insert_file \\z\\1," + kNewText,
                                            "insert_dir \\z\\q",
                                            "insert_file \\z\\q\\deep," + kNewText,
                                            "insert_dir \\z\\p",
                                        }));
}

TEST(TTaskBuilder, EmptySourceDeletesOnlyTheTopLevel) {
  TDirectory source, target;
  File(&target, "b x");
  File(&target, "a");
  TDirectory* d = Dir(&target, "d");
  File(d, "inner");
  Dir(d, "sub");
  Dir(&target, "c");
  EXPECT_EQ(BuildTasks(source, target), (TTasks{
                                            "delete_file \\a",
                                            "delete_file \"\\b x\"",
                                            "delete_dir \\c",
                                            "delete_dir \\d",
                                        }));
}

TEST(TTaskBuilder, MergeInterleavesAtEveryLevel) {
  TDirectory source, target;
  for (const char* name : {"b", "d", "f"}) Dir(&source, name);
  for (const char* name : {"a", "B", "c", "g", "h"}) Dir(&target, name);
  File(source.GetDirectory(0), "new");
  File(target.GetDirectory(1), "gone");
  EXPECT_EQ(BuildTasks(source, target), (TTasks{
                                            "delete_dir \\a",
                                            "delete_file \\B\\gone",
                                            "insert_file \\b\\new," + kNewText,
                                            "delete_dir \\c",
                                            "insert_dir \\d",
                                            "insert_dir \\f",
                                            "delete_dir \\g",
                                            "delete_dir \\h",
                                        }));
}

TEST(TTaskBuilder, DeepTreesNeedNoStack) {
  const int depth = 100000;
  TDirectory source, target;
  TDirectory* s = &source;
  TDirectory* t = &target;
  for (int i = 0; i < depth; ++i) {
    s = Dir(s, "d");
    t = Dir(t, "D");
  }
  File(s, "f", New());
  File(t, "f", Old());
  TTasks tasks = BuildTasks(source, target);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].compare(0, 14, "update_file \\d"), 0);

  // A new deep branch is inserted parent first.
  TDirectory fresh, empty;
  TDirectory* f = &fresh;
  for (int i = 0; i < 3000; ++i) f = Dir(f, "n");
  tasks = BuildTasks(fresh, empty);
  ASSERT_EQ(tasks.size(), 3000u);
  EXPECT_EQ(tasks[0], "insert_dir \\n");
  EXPECT_EQ(tasks[1], "insert_dir \\n\\n");
}

// Two trees of 100 folders with 1,000 files each, filled in shuffled order:
// the target lacks one folder and has one of its own, and in every folder
// lacks some files, has some of its own and holds some older copies.
TEST(TTaskBuilder, HundredThousandFileTrees) {
  std::mt19937 random(1974);
  auto shuffled = [&random](int count) {
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) order[static_cast<size_t>(i)] = i;
    std::shuffle(order.begin(), order.end(), random);
    return order;
  };
  auto folderName = [](int i) { return Format("dir%03d", i); };
  auto fileName = [](int i) { return Format("file%04d.txt", i); };

  TDirectory source, target;
  TTasks expected;
  for (int folder : shuffled(101)) {
    if (folder == 100) {
      Dir(&target, "extra");
      continue;
    }
    TDirectory* s = Dir(&source, folderName(folder));
    TDirectory* t = folder == 50 ? nullptr : Dir(&target, folderName(folder));
    for (int file : shuffled(1000)) {
      File(s, fileName(file));
      if (t == nullptr || file % 10 == 1) continue;  // missing on the target
      File(t, fileName(file), file % 10 == 2 ? Old() : New());
      if (file % 10 == 3) File(t, fileName(file) + ".bak");
    }
  }
  EXPECT_EQ(source.DirectoryCount() * 1000, 100000);

  for (int folder = 0; folder < 100; ++folder) {
    std::string path = "\\" + folderName(folder);
    if (folder == 50) {
      // Inserted content keeps the tree's own (shuffled) order.
      expected.push_back("insert_dir " + path);
      TDirectory* s = source.GetDirectory(0);
      for (int i = 0; i < source.DirectoryCount(); ++i) {
        if (source.GetDirectory(i)->Name() == folderName(50)) s = source.GetDirectory(i);
      }
      for (int i = 0; i < s->FileCount(); ++i) {
        expected.push_back("insert_file " + path + "\\" + s->GetFile(i)->Name() + "," + kNewText);
      }
      continue;
    }
    for (int file = 0; file < 1000; ++file) {
      std::string name = path + "\\" + fileName(file);
      if (file % 10 == 1) expected.push_back("insert_file " + name + "," + kNewText);
      if (file % 10 == 2) expected.push_back("update_file " + name + "," + kNewText);
      if (file % 10 == 3) expected.push_back("delete_file " + name + ".bak");
    }
  }
  expected.push_back("delete_dir \\extra");

  TTasks tasks = BuildTasks(source, target);
  ASSERT_EQ(tasks.size(), expected.size());
  for (size_t i = 0; i < tasks.size(); ++i) {
    ASSERT_EQ(tasks[i], expected[i]) << "task " << i;
  }
}

}  // namespace
}  // namespace ormelin
