#include "comparer/uorCommand.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <filesystem>
#include <fstream>
#include <sstream>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "comparer/Tasks.h"
#include "platform/DateTime.h"
#include "platform/Paths.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

// The time a disk scan reports for `name` in the root of `folder`.
TDateTime ScannedTime(const std::string& folder, const std::string& name) {
  TDirectory root;
  TLoader::LoadFromDisk(folder, &root);
  for (int i = 0; i < root.FileCount(); ++i) {
    if (root.GetFile(i)->Name() == name) return root.GetFile(i)->DateModified();
  }
  ADD_FAILURE() << name << " not found";
  return 0;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.Message();
  }
  return "(no error)";
}

// Source and target folders, the source holding \doc\a.txt and \doc\a b.txt.
class FileCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFileCommands();
    source = (fs::path(folder.Path()) / "src").string();
    target = (fs::path(folder.Path()) / "dst").string();
    WriteFile(fs::path(source) / "doc" / "a.txt", "new a");
    WriteFile(fs::path(source) / "doc" / "a b.txt", "new a b");
    fs::create_directories(fs::path(target) / "doc");
  }
  void Run(const char* name, const std::string& params, const std::string& sourceRoot = {}) {
    FindCommandClass(name)->Execute(target, sourceRoot.empty() ? source : sourceRoot, params);
  }
  fs::path Target(const std::string& relative) const { return fs::path(target) / relative; }
  size_t TargetDocEntries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(Target("doc")), {}));
  }

  testing::TTempFolder folder;
  std::string source;
  std::string target;
};

TEST(CommandRegistry, NamesIgnoreCaseAndUnknownNamesFail) {
  RegisterFileCommands();
  EXPECT_EQ(FindCommandClass("INSERT_FILE"), &TorInsertFileCommand::Instance());
  EXPECT_EQ(FindCommandClass("insert_dir"), &TorInserDirCommand::Instance());
  EXPECT_EQ(FindCommandClass("Delete_Dir"), &TorDeleteDirCommand::Instance());
  EXPECT_EQ(FindCommandClass("delete_file"), &TorDeleteFileCommand::Instance());
  EXPECT_EQ(FindCommandClass("update_FILE"), &TorUpdateFileCommand::Instance());
  EXPECT_EQ(ErrorOf([] { FindCommandClass("copy_file"); }), "Class copy_file not found");
}

TEST(DelimitedText, ReadsItems) {
  struct TCase {
    const char* text;
    std::vector<std::string> items;
  } cases[] = {
      {"\\doc\\a.txt,\"2008-11-14 10-20-30\"", {"\\doc\\a.txt", "2008-11-14 10-20-30"}},
      {"\"\\doc\\a b.txt\"", {"\\doc\\a b.txt"}},
      {"\"\\doc\\a b.txt\",\"2008-11-14 10-20-30\"", {"\\doc\\a b.txt", "2008-11-14 10-20-30"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"\"a,b\",c", {"a,b", "c"}},
      {"  a  b ", {"a", "b"}},
      {"a,,b", {"a", "", "b"}},
      {"a, ", {"a", ""}},
      {"\t\r\n", {}},
      {"", {}},
      {"\"open", {"open"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadDelimitedText(c.text), c.items) << c.text;
}

TEST(TaskPaths, OnlyPathsInsideTheRootAreAccepted) {
  for (const char* path : {"\\doc\\a.txt", "\\.hidden", "\\a..b\\c", "/doc/a", "\\doc\\.\\a"}) {
    EXPECT_EQ(TaskFullPath("/r", path), std::string("/r") + path);
  }
  for (const std::string& path :
       std::vector<std::string>{"", "doc\\a.txt", "\\..\\x", "\\doc\\..\\..\\x", "/../x",
                                "\\doc\\..", "\\", "\\\\", "\\.", std::string("\\a\0b", 4)}) {
    EXPECT_THROW(TaskFullPath("/r", path), ETaskPathError) << path;
  }
}

TEST_F(FileCommandTest, InsertDirIgnoresExistingAndFailingFolders) {
  Run("insert_dir", "\\doc");
  Run("insert_dir", "\\missing\\deeper");
  Run("insert_dir", "\\new");
  EXPECT_TRUE(fs::is_directory(Target("doc")));
  EXPECT_FALSE(fs::exists(Target("missing")));
  EXPECT_TRUE(fs::is_directory(Target("new")));
}

TEST_F(FileCommandTest, InsertFileCopiesAndTimesInTwoSecondSteps) {
  Run("insert_file", "\\doc\\a.txt,\"2008-11-14 10-20-31\"");
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "new a");
  EXPECT_EQ(ScannedTime(Target("doc").string(), "a.txt"), EncodeDateTime(2008, 11, 14, 10, 20, 30));
  EXPECT_EQ(TargetDocEntries(), 1u);  // no temporary file left behind
}

TEST_F(FileCommandTest, NewFileIsNotThereUntilCommittedWhole) {
  // Cases: the target stays missing; a file takes its name meanwhile.
  for (const bool taken : {false, true}) {
    fs::remove(Target("doc/n.txt"));
    {
      TorFileReplacement interrupted(target, "\\doc\\n.txt");
      interrupted.OpenNew();
      interrupted.Content().Write("half", 4);
    }
    EXPECT_EQ(TargetDocEntries(), 0u) << "an interrupted write left a file";
    TorFileReplacement replacement(target, "\\doc\\n.txt");
    replacement.OpenNew();
    replacement.Content().Write("whole", 5);
    EXPECT_FALSE(fs::exists(Target("doc/n.txt")));
    if (taken) WriteFile(Target("doc/n.txt"), "someone else's");
    replacement.Commit(EncodeDateTime(2010, 5, 6, 7, 8, 9));
    EXPECT_EQ(ReadFile(Target("doc/n.txt")), "whole") << taken;
    EXPECT_EQ(ScannedTime(Target("doc").string(), "n.txt"), EncodeDateTime(2010, 5, 6, 7, 8, 8));
    EXPECT_EQ(TargetDocEntries(), 1u) << "a temporary file stayed behind";
  }
}

TEST_F(FileCommandTest, InsertFileWithoutTimeKeepsTheTimeOfWriting) {
  Run("insert_file", "\\doc\\a.txt");
  int year, month, day;
  DecodeDate(ScannedTime(Target("doc").string(), "a.txt"), year, month, day);
  EXPECT_EQ(year, CurrentYear());
}

TEST_F(FileCommandTest, QuotedPathsWithBlanksNameOneFile) {
  Run("insert_file", "\"\\doc\\a b.txt\",\"2008-11-14 10-20-30\"");
  EXPECT_EQ(ReadFile(Target("doc/a b.txt")), "new a b");
  WriteFile(Target("doc/a"), "keep");
  WriteFile(Target("doc/b.txt"), "keep");
  Run("delete_file", "\"\\doc\\a b.txt\"");
  EXPECT_FALSE(fs::exists(Target("doc/a b.txt")));
  EXPECT_TRUE(fs::exists(Target("doc/a")));
  EXPECT_TRUE(fs::exists(Target("doc/b.txt")));
}

TEST_F(FileCommandTest, FailedInsertsLeaveTheOldFileAndNoTemporaryFile) {
  WriteFile(Target("doc/a.txt"), "old a");
  const std::string full = target + "\\doc\\nothing.txt";
  // Missing source file, unreadable time, missing target folder.
  EXPECT_EQ(ErrorOf([&] { Run("insert_file", "\\doc\\nothing.txt"); }).rfind("Cannot open file", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] { Run("insert_file", "\\doc\\a.txt,\"2008/11/14 10:20:30\""); }),
            "'2008/11/14 10:20:30' is not a valid date and time");
  WriteFile(fs::path(source) / "gone" / "x.txt", "x");
  EXPECT_EQ(ErrorOf([&] {
              Run("insert_file", "\\gone\\x.txt");
            }).rfind("Cannot create file \"" + PlatformPath(target + "\\gone\\x.txt") + "\".", 0),
            0u);
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "old a");
  EXPECT_EQ(TargetDocEntries(), 1u);
  EXPECT_FALSE(fs::exists(Target("gone")));
}

TEST_F(FileCommandTest, UpdateReplacesAnExistingFileOnly) {
  const std::string full = PlatformPath(target + "\\doc\\a.txt");
  EXPECT_EQ(ErrorOf([&] { Run("update_file", "\\doc\\a.txt,\"2008-11-14 10-20-30\""); }),
            "Brisanje '" + full +
                "' nije mogu\xE6"
                "e");
  EXPECT_FALSE(fs::exists(Target("doc/a.txt")));
  EXPECT_EQ(ErrorOf([&] { Run("delete_file", "\\doc\\a.txt"); }), "Brisanje '" + full +
                                                                      "' nije mogu\xE6"
                                                                      "e");

  WriteFile(Target("doc/a.txt"), "old a");
  Run("update_file", "\\doc\\a.txt,\"2009-01-02 03-04-06\"");
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "new a");
  EXPECT_EQ(ScannedTime(Target("doc").string(), "a.txt"), EncodeDateTime(2009, 1, 2, 3, 4, 6));
  EXPECT_EQ(TargetDocEntries(), 1u);

  // A folder of that name is no file to update.
  fs::create_directories(Target("doc/sub"));
  EXPECT_THROW(Run("update_file", "\\doc\\sub"), EDeleteFileError);
  EXPECT_TRUE(fs::is_directory(Target("doc/sub")));

  // Nor is a read-only file, which the delete command would refuse.
  fs::permissions(Target("doc/a.txt"), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(ErrorOf([&] { Run("update_file", "\\doc\\a.txt,\"2010-01-02 03-04-06\""); }),
            "Brisanje '" + full +
                "' nije mogu\xE6"
                "e");
  fs::permissions(Target("doc/a.txt"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "new a");
  EXPECT_EQ(TargetDocEntries(), 2u);
}

TEST_F(FileCommandTest, UpdateWithUnreadableTimeKeepsTheOldFile) {
  WriteFile(Target("doc/a.txt"), "old a");
  EXPECT_THROW(Run("update_file", "\\doc\\a.txt,yesterday"), EConvertError);
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "old a");
}

TEST_F(FileCommandTest, DeleteDirRemovesEverythingAndNeverFails) {
  WriteFile(Target("doc/sub/deep/f.txt"), "x");
  WriteFile(Target("doc/g.txt"), "y");
  EXPECT_NO_THROW(Run("delete_dir", "\\doc"));
  EXPECT_FALSE(fs::exists(Target("doc")));
  EXPECT_NO_THROW(Run("delete_dir", "\\never"));
}

TEST_F(FileCommandTest, HostilePathsTouchNothing) {
  WriteFile(fs::path(folder.Path()) / "outside.txt", "mine");
  for (const char* name :
       {"insert_file", "update_file", "delete_file", "delete_dir", "insert_dir"}) {
    EXPECT_THROW(Run(name, "\\..\\outside.txt"), ETaskPathError) << name;
  }
  EXPECT_THROW(Run("delete_dir", "\\"), ETaskPathError);
  EXPECT_EQ(ReadFile(fs::path(folder.Path()) / "outside.txt"), "mine");
  EXPECT_TRUE(fs::exists(Target("doc")));
}

TEST_F(FileCommandTest, NothingGoesThroughALinkInTheTarget) {
  // A link (on Windows a symbolic link, a reparse point) out of the target.
  const fs::path outside = fs::path(folder.Path()) / "outside";
  WriteFile(outside / "a.txt", "mine");
#ifdef _WIN32
  // The C++ library of this build makes no links on Windows.
  if (!CreateSymbolicLinkW(
          Target("evil").wstring().c_str(), outside.wstring().c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "no links here: error " << GetLastError();
  }
  if (GetFileAttributesW(Target("evil").wstring().c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "a link made here cannot be read back (Wine)";
  }
#else
  fs::create_directory_symlink(outside, Target("evil"));
#endif
  WriteFile(fs::path(source) / "evil" / "a.txt", "new");
  for (const char* name : {"insert_dir", "insert_file", "update_file", "delete_file"}) {
    const std::string path = std::string(name) == "insert_dir" ? "\\evil\\new" : "\\evil\\a.txt";
    EXPECT_EQ(ErrorOf([&] { Run(name, path); }),
              "Putanja '" + PlatformPath(target + path) + "' prolazi kroz vezu '" +
                  PlatformPath(target + "\\evil") + "'; kroz veze se ne pi\x9A" + "e")
        << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(outside), {}), 1);
  EXPECT_EQ(ReadFile(outside / "a.txt"), "mine");
}

#ifndef _WIN32
// Files written one after another through one folder cache, as a mirror's
// fetcher writes them: a folder swapped for a link out of the target in
// between is refused at the link; the root kept is the one of the path
// given, and after Forget the one its name leads to now.
TEST_F(FileCommandTest, FilesOfAFolderCacheNeverGoThroughALink) {
  const fs::path outside = fs::path(folder.Path()) / "outside";
  fs::create_directories(outside / "sub");
  const std::string other = (fs::path(folder.Path()) / "other").string();
  fs::create_directories(fs::path(other) / "doc");
  struct TStep {
    const std::string* Root;
    const char* Path;
    const char* Before;   // "swap": the target's doc becomes a link out; "renew": the other root
    const char* Written;  // where the file lands below the root, or null: refused at the link
  };
  const TStep steps[] = {
      {&target, "\\doc\\1.txt", "", "doc/1.txt"}, {&target, "\\doc\\2.txt", "swap", nullptr},
      {&target, "/doc/sub/3.txt", "", nullptr},   {&target, "\\4.txt", "", "4.txt"},
      {&other, "\\doc\\5.txt", "", "doc/5.txt"},  {&other, "\\doc\\6.txt", "renew", "doc/6.txt"},
  };
  TorFolderCache folders;
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Path);
    if (std::string_view(step.Before) == "swap") {
      fs::rename(Target("doc"), Target("doc-old"));
      fs::create_directory_symlink(outside, Target("doc"));
    } else if (std::string_view(step.Before) == "renew") {
      fs::rename(other, other + "-old");
      fs::create_directories(fs::path(other) / "doc");
      folders.Forget();
    }
    const std::string result = ErrorOf([&] {
      TorFileReplacement replacement(*step.Root, step.Path, &folders);
      replacement.OpenNew();
      replacement.Commit(step.Path, std::nullopt);
    });
    if (step.Written != nullptr) {
      EXPECT_EQ(result, "(no error)");
      EXPECT_EQ(ReadFile(fs::path(*step.Root) / step.Written), step.Path);
    } else {
      EXPECT_EQ(result.rfind("Putanja '", 0), 0u) << result;
    }
  }
  EXPECT_EQ(std::distance(fs::recursive_directory_iterator(outside), {}), 1);  // "sub" alone
}
#endif

TEST_F(FileCommandTest, TasksRunThroughTheRegistryWithTheirListsRoots) {
  TTaskList list;
  list.TargetRoot = target;
  list.SourceRoot = source;
  auto* task = new TBaseTask;
  task->SetName("INSERT_FILE");
  task->SetParams("\\doc\\a.txt,\"2008-11-14 10-20-30\"");
  list.AddTask(task);
  EXPECT_EQ(task->Execute(), -1);
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "new a");
  task->SetName("move_file");
  EXPECT_EQ(ErrorOf([&] { task->Execute(); }), "Class move_file not found");
}

// A server that answers one scripted reply and one scripted stream.
class TFakeConnection : public TorClientConnection {
 public:
  TorReply SendCommand(std::string_view line) override {
    Lines.emplace_back(line);
    return Reply;
  }
  void ReceiveStream(TStream& stream) override {
    ++Streams;
    if (FailReceive) throw Exception("Connection Closed Gracefully.");
    stream.Write(Payload.data(), Payload.size());
  }
  std::vector<std::string> Lines;
  TorReply Reply{203, "Get File Started"};
  std::string Payload = "from server";
  bool FailReceive = false;
  int Streams = 0;
};

class RemoteFetchTest : public FileCommandTest {
 protected:
  void SetUp() override {
    FileCommandTest::SetUp();
    SetClientConnection(&server);
  }
  void TearDown() override { SetClientConnection(nullptr); }
  TFakeConnection server;
};

TEST_F(RemoteFetchTest, RemoteSourceSendsGetFileAndWritesThePayload) {
  EXPECT_TRUE(TorInsertFileCommand::IsRemoteSource("sync Projekt"));
  EXPECT_TRUE(TorInsertFileCommand::IsRemoteSource("SYNC "));
  EXPECT_FALSE(TorInsertFileCommand::IsRemoteSource("Sync"));
  EXPECT_FALSE(TorInsertFileCommand::IsRemoteSource("/srv/Sync x"));
  Run("insert_file", "\"\\doc\\a b.txt\",\"2008-11-14 10-20-30\"", "sync Projekt");
  ASSERT_EQ(server.Lines.size(), 1u);
  EXPECT_EQ(server.Lines[0], "GetFile Projekt \\doc\\a b.txt");
  EXPECT_EQ(ReadFile(Target("doc/a b.txt")), "from server");
}

TEST_F(RemoteFetchTest, RefusedOrBrokenFetchesWriteNothing) {
  WriteFile(Target("doc/a.txt"), "old a");
  server.Reply = {500, "Cannot open file \"x\". No such file\r\nBetter luck next time"};
  EXPECT_EQ(ErrorOf([&] { Run("update_file", "\\doc\\a.txt", "Sync P"); }), server.Reply.Text);
  EXPECT_EQ(server.Streams, 0);
  server.Reply = {203, "Get File Started"};
  server.FailReceive = true;
  EXPECT_THROW(Run("update_file", "\\doc\\a.txt", "Sync P"), Exception);
  EXPECT_THROW(Run("insert_file", "\\doc\\new.txt", "Sync P"), Exception);
  EXPECT_EQ(ReadFile(Target("doc/a.txt")), "old a");
  EXPECT_EQ(TargetDocEntries(), 1u);
  SetClientConnection(nullptr);
  EXPECT_THROW(Run("insert_file", "\\doc\\new.txt", "Sync P"), ENoClientConnection);
}

// A connection set for a scope is cleared however the scope ends, a
// failure's included: no later fetch goes through a connection that is gone.
TEST_F(RemoteFetchTest, ConnectionScopeClearsOnEveryWayOut) {
  TFakeConnection other;
  try {
    TClientConnectionScope scope(&other);
    scope.Reset(&server);
    Run("insert_file", "\\doc\\a.txt", "Sync P");
    throw Exception("Connection Closed Gracefully.");
  } catch (const Exception&) {
  }
  EXPECT_EQ(ClientConnection(), nullptr);
  EXPECT_EQ(server.Streams, 1);
  EXPECT_EQ(other.Streams, 0);
  EXPECT_THROW(Run("insert_file", "\\doc\\b.txt", "Sync P"), ENoClientConnection);
}

}  // namespace
}  // namespace ormelin
