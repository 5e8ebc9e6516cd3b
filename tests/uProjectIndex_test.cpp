// The project index against a fresh scan: after every kind of change made
// right before a sync, the index's answer is the one a scan of the folder
// gives; a folder it cannot watch is scanned per sync; several syncs at
// once share one tree.
// Test label: concurrency
#include "server/uProjectIndex.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comparer/FileStructures.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/SyncAnswer.h"
#include "comparer/Tasks.h"
#include "comparer/TreeReader.h"
#include "platform/FolderWatch.h"
#include "reference/DiffList.h"
#include "reference/TaskBuilder.h"
#include "server/usvOrmelinS.h"
#ifndef _WIN32
#include "support/ChildCheck.h"
#include "support/ServerProcess.h"
#endif
#include "support/TempFolder.h"
#include "support/TestFiles.h"

namespace ormelin {
namespace {

namespace fs = std::filesystem;
using TSource = TProjectIndex::TSource;

// A sync's answer from the index's tree.
std::string Answer(const TCompactTree& server, const std::string& clientXML) {
  TReceivedTree client;
  TStreamingTreeReader reader(client);
  reader.Feed(clientXML);
  reader.Finish();
  client.Group(server);
  return SyncAnswerXML(server, client);
}

// The answer of a fresh scan, built with the tree of objects.
std::string FreshAnswer(const fs::path& root, const std::string& clientXML) {
  TDirectory fresh;
  TLoader::LoadFromDisk(root.string(), &fresh);
  TDirectory client;
  TLoader::LoadFromXML(clientXML, &client);
  TTaskBuilder builder;
  TTaskList tasks;
  builder.Build(&fresh, &client, &tasks);
  RemoveDeleteTasks(tasks);
  return tasks.GetXML();
}

std::string TreeXML(const fs::path& root) {
  TDirectory tree;
  TLoader::LoadFromDisk(root.string(), &tree);
  return TLoader::SaveToXML(tree);
}

// Whether the watch vouches on this system at all (under Wine it does not,
// see the win32 FolderWatchWine.h): where it does not, every sync scans
// its folder itself and only the answers are checked.
bool WatchVouchesHere() {
  static const bool vouches = [] {
    testing::TTempFolder temp;
    TFolderWatch watch;
    watch.Watch(temp.Path());
    return watch.Limit() != TFolderWatchLimit::Unsupported;
  }();
  return vouches;
}

// Where the index gets its tree from on this system, given where it gets it
// from where the watch vouches.
TSource Expected(TSource source) {
  return WatchVouchesHere() ? source : TSource::OwnScan;
}

void SetTime(const fs::path& path, std::chrono::hours shift) {
  fs::last_write_time(path, fs::file_time_type::clock::now() + shift);
}

class ProjectIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(temp_.Path()) / "project";
    test::WriteFile(root_ / "a.txt", "a");
    test::WriteFile(root_ / "c.txt", "c");
    test::WriteFile(root_ / "sub" / "b.txt", "b");
    test::WriteFile(root_ / "sub2" / "s.txt", "s");
    test::WriteFile(root_ / "dir" / "inner" / "d.txt", "d");
  }

  testing::TTempFolder temp_;
  fs::path root_;
};

struct TChange {
  const char* What;
  std::function<void(const fs::path& root)> Make;
  TSource Source = TSource::Patched;  // where the watch vouches
};

// Each change is made right before the sync, with no pause: the index must
// see it, and answer both an empty client and the client that still holds
// the tree from before the change as a fresh scan does.
TEST_F(ProjectIndex, EveryChangeMadeRightBeforeASyncIsSeen) {
  const std::vector<TChange> changes = {
      {"create a file", [](const fs::path& r) { test::WriteFile(r / "new.txt", "n"); }},
      {"delete a file", [](const fs::path& r) { fs::remove(r / "a.txt"); }},
      {"touch a file",
       [](const fs::path& r) { SetTime(r / "sub" / "b.txt", std::chrono::hours(2)); }},
      {"set a time back",
       [](const fs::path& r) { SetTime(r / "c.txt", std::chrono::hours(-900)); }},
      {"rename a file",
       [](const fs::path& r) { fs::rename(r / "sub" / "b.txt", r / "sub" / "b2.txt"); }},
      {"create a folder with files",
       [](const fs::path& r) {
         test::WriteFile(r / "made" / "x.txt", "x");
         test::WriteFile(r / "made" / "deep" / "y.txt", "y");
       }},
      {"a file in the folder made before",
       [](const fs::path& r) { test::WriteFile(r / "made" / "deep" / "later.txt", "l"); }},
      {"delete a folder", [](const fs::path& r) { fs::remove_all(r / "made"); }},
      {"replace a folder by a file of its name",
       [](const fs::path& r) {
         fs::remove_all(r / "sub2");
         test::WriteFile(r / "sub2", "now a file");
       }},
      {"rename a folder", [](const fs::path& r) { fs::rename(r / "dir", r / "dir2"); }},
      {"a file in the renamed folder",
       [](const fs::path& r) { test::WriteFile(r / "dir2" / "inner" / "e.txt", "e"); }},
      {"names equal but for case",
       [](const fs::path& r) {
         test::WriteFile(r / "Case.txt", "1");
         test::WriteFile(r / "case.TXT", "2");
         SetTime(r / "case.TXT", std::chrono::hours(-50));
       }},
      {"write without a new name", [](const fs::path& r) { test::WriteFile(r / "c.txt", "cc"); }},
      {"changes in several folders at once",
       [](const fs::path& r) {
         test::WriteFile(r / "sub" / "m1.txt", "1");
         fs::remove(r / "dir2" / "inner" / "d.txt");
         SetTime(r / "new.txt", std::chrono::hours(5));
         test::WriteFile(r / "dir2" / "fresh" / "f.txt", "f");
       }},
      {"a folder renamed, another made under its old name",
       [](const fs::path& r) {
         fs::rename(r / "dir2", r / "dir3");
         test::WriteFile(r / "dir2" / "other.txt", "o");
         test::WriteFile(r / "dir3" / "inner" / "moved.txt", "m");
       }},
      {"a folder moved into another, then filled",
       [](const fs::path& r) {
         fs::rename(r / "dir2", r / "sub" / "dir2");
         test::WriteFile(r / "sub" / "dir2" / "in.txt", "i");
       }},
      {"the moved folder changed again",
       [](const fs::path& r) {
         test::WriteFile(r / "sub" / "dir2" / "in.txt", "changed");
         SetTime(r / "sub" / "dir2" / "in.txt", std::chrono::hours(-7));
       }},
      {"two folders swap names",
       [](const fs::path& r) {
         fs::rename(r / "sub", r / "swap");
         fs::rename(r / "dir3", r / "sub");
         fs::rename(r / "swap", r / "dir3");
       }},
      {"a file replaced by a folder of its name",
       [](const fs::path& r) {
         fs::remove(r / "c.txt");
         test::WriteFile(r / "c.txt" / "inside.txt", "i");
       }},
      {"a folder moved out, another moved in",
       [](const fs::path& r) {
         fs::rename(r / "dir3", r.parent_path() / "away");
         test::WriteFile(r.parent_path() / "coming" / "deep" / "c.txt", "c");
         fs::rename(r.parent_path() / "coming", r / "came");
       }},
      {"the folder moved out changed outside and moved back in",
       [](const fs::path& r) {
         test::WriteFile(r.parent_path() / "away" / "gone.txt", "g");
         fs::rename(r.parent_path() / "away", r / "back");
       }},
      // (Linux reports the new name's folder only: the other is read again.)
      {"a second name made inside, written through it",
       [](const fs::path& r) {
         fs::create_hard_link(r / "new.txt", r / "came" / "new-too.txt");
         SetTime(r / "came" / "new-too.txt", std::chrono::hours(-20));
       },
       TSource::Rebuilt},
      {"written through the second name",
       [](const fs::path& r) { SetTime(r / "came" / "new-too.txt", std::chrono::hours(-30)); }},
      {"a second name made, written through and removed again",
       [](const fs::path& r) {
         fs::create_hard_link(r / "came" / "deep" / "c.txt", r / "brief.txt");
         SetTime(r / "brief.txt", std::chrono::hours(-90));
         fs::remove(r / "brief.txt");
       },
       TSource::Rebuilt},
      {"a deep tree made at once",
       [](const fs::path& r) {
         fs::path deep = r / "came" / "deep";
         for (int level = 0; level < 12; ++level) {
           deep /= "l" + std::to_string(level);
           test::WriteFile(deep / "f.txt", "f");
         }
       }},
      {"a folder emptied and deleted deep down",
       [](const fs::path& r) { fs::remove_all(r / "came" / "deep" / "l0" / "l1" / "l2"); }},
  };
  TProjectIndex index(root_.string());
  TSource source{};
  index.Acquire(&source);
  ASSERT_EQ(source, Expected(TSource::Rebuilt)) << "the test's folder cannot be watched here";

  for (const TChange& change : changes) {
    SCOPED_TRACE(change.What);
    const std::string before = TreeXML(root_);
    change.Make(root_);
    TProjectTreeRef tree = index.Acquire(&source);
    EXPECT_EQ(source, Expected(change.Source));
    for (const std::string& client : {std::string("<tree/>"), before}) {
      EXPECT_EQ(Answer(tree->Tree, client), FreshAnswer(root_, client));
    }
    // Nothing since: the same tree again, and still the right answer.
    TProjectTreeRef again = index.Acquire(&source);
    EXPECT_EQ(source, Expected(TSource::Shared));
    if (WatchVouchesHere()) {
      EXPECT_EQ(again, tree);
    }
    EXPECT_EQ(Answer(again->Tree, before), FreshAnswer(root_, before));
  }
}

// Changes made while syncs read the folder (several folders, made,
// renamed, filled and deleted): once the writer stops, the next sync's
// answer is a fresh scan's, whatever the reading met half done.
TEST_F(ProjectIndex, ChangesDuringTheReadingAreSeenByTheNextSync) {
  TProjectIndex index(root_.string());
  index.Acquire();
  const std::string client = TreeXML(root_);
  for (int round = 0; round < 4; ++round) {
    std::atomic<bool> done{false};
    std::thread writer([&] {
      fs::path renamed;
      for (int n = 0; n < 60; ++n) {
        const std::string name = std::to_string(round) + "-" + std::to_string(n);
        const fs::path folder = root_ / ("w" + std::to_string(n % 4));
        test::WriteFile(folder / ("f" + name + ".txt"), "w");
        if (n % 5 == 0) test::WriteFile(folder / "deep" / "d.txt", name);
        if (n % 7 == 0) {
          // Windows refuses to move or delete a folder while the scan holds
          // a file below it open: such a step waits for the scan to let go.
          std::error_code error;
          const auto untilDone = [&](const auto& step) {
            for (int tries = 0; tries < 500; ++tries) {
              error.clear();
              step();
              if (!error) return;
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            throw fs::filesystem_error("step kept failing", error);
          };
          if (!renamed.empty()) untilDone([&] { fs::remove_all(renamed, error); });
          renamed = root_ / ("r" + name);
          untilDone([&] { fs::rename(folder, renamed, error); });
        }
      }
      done = true;
    });
    while (!done) index.Acquire();
    writer.join();
    TSource source{};
    TProjectTreeRef tree = index.Acquire(&source);
    EXPECT_EQ(Answer(tree->Tree, client), FreshAnswer(root_, client)) << "round " << round;
    EXPECT_EQ(Answer(index.Acquire(&source)->Tree, client), FreshAnswer(root_, client));
    EXPECT_EQ(source, Expected(TSource::Shared));
  }
}

struct TRootReplacement {
  const char* What;
  std::function<void(const fs::path& temp, const fs::path& root)> Make;
};

// The root itself replaced by another folder of the same path: no event
// reaches the old root's watches, yet the index must not answer from it.
// (Windows itself refuses to rename a folder above one held open, as the
// watch holds the root; Wine, like Linux, does not.)
TEST(ProjectIndexRoot, ARootReplacedIsScannedAgain) {
  const std::vector<TRootReplacement> replacements = {
      {"the folder above renamed",
       [](const fs::path& temp, const fs::path& root) {
         fs::rename(root.parent_path(), temp / "moved");
         test::WriteFile(root / "new.txt", "n");
       }},
      {"the root renamed, another made at its path",
       [](const fs::path& temp, const fs::path& root) {
         fs::rename(root, temp / "old-root");
         test::WriteFile(root / "new.txt", "n");
       }},
  };
  for (const TRootReplacement& replacement : replacements) {
    SCOPED_TRACE(replacement.What);
    testing::TTempFolder temp;
    const fs::path root = fs::path(temp.Path()) / "above" / "project";
    test::WriteFile(root / "old.txt", "o");
    TProjectIndex index(root.string());
    TSource source{};
    index.Acquire(&source);
    ASSERT_EQ(source, Expected(TSource::Rebuilt));
    replacement.Make(temp.Path(), root);
    TProjectTreeRef tree = index.Acquire(&source);
    EXPECT_NE(source, TSource::Shared);
    EXPECT_EQ(Answer(tree->Tree, "<tree/>"), FreshAnswer(root, "<tree/>"));
  }
}

// A file with a second name outside the project, written through that name:
// only a watch on the file itself sees it. Windows reports a change only to
// the folder of the name it was made through, so there the watch refuses
// such a tree and every sync scans it.
TEST_F(ProjectIndex, AFileWrittenThroughAHardLinkOutsideIsSeen) {
  const fs::path outside = fs::path(temp_.Path()) / "outside.txt";
  fs::create_hard_link(root_ / "a.txt", outside);
  TProjectIndex index(root_.string());
  TSource source{};
  index.Acquire(&source);
#ifdef _WIN32
  ASSERT_EQ(source, TSource::OwnScan);
#else
  ASSERT_EQ(source, Expected(TSource::Rebuilt));
#endif
  const std::string before = TreeXML(root_);
  SetTime(outside, std::chrono::hours(3));
  TProjectTreeRef tree = index.Acquire(&source);
  EXPECT_NE(source, TSource::Shared);
  EXPECT_EQ(Answer(tree->Tree, before), FreshAnswer(root_, before));
  EXPECT_NE(FreshAnswer(root_, before), "");
}

#ifndef _WIN32
// What no watch reports, made right before a sync: with the bound on a
// tree's age at zero every sync scans, and sees it. (The bound's length is
// no test's business.)
TEST_F(ProjectIndex, WhatNoWatchReportsIsSeenOnceTheTreeIsTooOld) {
  const std::vector<TChange> unreported = {
      {"a write through a shared mapping",
       [](const fs::path& r) {
         const int fd = open((r / "c.txt").c_str(), O_RDWR);
         void* map = mmap(nullptr, 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
         if (map != MAP_FAILED) {
           static_cast<char*>(map)[0] = 'm';
           msync(map, 1, MS_SYNC);
           munmap(map, 1);
         }
         close(fd);
       }},
      {"a write through a second name made outside",
       [](const fs::path& r) {
         fs::create_hard_link(r / "sub" / "b.txt", r.parent_path() / "b-outside.txt");
         SetTime(r.parent_path() / "b-outside.txt", std::chrono::hours(-80));
       }},
  };
  // Times far from now, so that a write shows.
  SetTime(root_ / "c.txt", std::chrono::hours(-60));
  SetTime(root_ / "sub" / "b.txt", std::chrono::hours(-60));
  TProjectIndex index(root_.string(), 0, std::chrono::seconds(0));
  index.Acquire();
  for (const TChange& change : unreported) {
    SCOPED_TRACE(change.What);
    const std::string before = TreeXML(root_);
    change.Make(root_);
    TSource source{};
    TProjectTreeRef tree = index.Acquire(&source);
    EXPECT_EQ(source, Expected(TSource::Rebuilt));
    EXPECT_EQ(Answer(tree->Tree, before), FreshAnswer(root_, before));
  }
}
#endif

#ifndef _WIN32
// Links inside, by relative routes, by full paths and by routes that
// leave the tree and come back, and links leading out (left out of the
// scan): the tree is shared while nothing changes, and whatever changes,
// at the link, on its way or where it leads (a change then shows at two
// paths or more), is patched in as a fresh scan reads it. Links that
// circle mean a full scan.
TEST_F(ProjectIndex, LinksInsideAreWatchedWhereTheyLead) {
  const fs::path outside = root_.parent_path() / "outside";
  test::WriteFile(outside / "o.txt", "o");
  fs::create_symlink("../a.txt", root_ / "sub" / "to-a");
  fs::create_directory_symlink("inner", root_ / "dir" / "to-inner");
  fs::create_directory_symlink("../dir", root_ / "sub2" / "to-dir");
  fs::create_symlink(root_ / "c.txt", root_ / "full-c");
  fs::create_directory_symlink(root_ / "dir", root_ / "sub" / "full-dir");
  fs::create_symlink("../../project/a.txt", root_ / "sub" / "out-and-back");
  fs::create_directory_symlink("../sub2", root_ / "sub" / "chain");  // sub/chain/to-dir/inner
  fs::create_directory_symlink(outside, root_ / "sub" / "to-outside");
  const std::vector<TChange> changes = {
      {"what a file link leads to written",
       [](const fs::path& r) { SetTime(r / "a.txt", std::chrono::hours(-9)); }},
      {"what a link by its full path leads to written",
       [](const fs::path& r) { SetTime(r / "c.txt", std::chrono::hours(-7)); }},
      {"a file made in a folder links lead to",
       [](const fs::path& r) { test::WriteFile(r / "dir" / "inner" / "n.txt", "n"); }},
      {"a file there deleted, another written",
       [](const fs::path& r) {
         fs::remove(r / "dir" / "inner" / "n.txt");
         SetTime(r / "dir" / "inner" / "d.txt", std::chrono::hours(-5));
       }},
      {"a folder made and filled below a linked folder",
       [](const fs::path& r) { test::WriteFile(r / "dir" / "inner" / "deep" / "e.txt", "e"); }},
      {"that folder renamed",
       [](const fs::path& r) { fs::rename(r / "dir" / "inner" / "deep", r / "dir" / "deeper"); }},
      {"a link pointed elsewhere",
       [](const fs::path& r) {
         fs::remove(r / "sub" / "to-a");
         fs::create_symlink("../c.txt", r / "sub" / "to-a");
       }},
      {"a folder link pointed elsewhere",
       [](const fs::path& r) {
         fs::remove(r / "sub2" / "to-dir");
         fs::create_directory_symlink("../dir/inner", r / "sub2" / "to-dir");
       }},
      {"a folder on a chain of links changed",
       [](const fs::path& r) { test::WriteFile(r / "dir" / "inner" / "late.txt", "l"); }},
      {"the chain's middle link pointed back",
       [](const fs::path& r) {
         fs::remove(r / "sub2" / "to-dir");
         fs::create_directory_symlink("../dir", r / "sub2" / "to-dir");
       }},
      {"a link replaced by a folder",
       [](const fs::path& r) {
         fs::remove(r / "dir" / "to-inner");
         test::WriteFile(r / "dir" / "to-inner" / "real.txt", "r");
       }},
      {"and back by a link",
       [](const fs::path& r) {
         fs::remove_all(r / "dir" / "to-inner");
         fs::create_directory_symlink("inner", r / "dir" / "to-inner");
       }},
      {"a folder a link leads to replaced",
       [](const fs::path& r) {
         fs::rename(r / "dir" / "inner", r / "inner-old");
         test::WriteFile(r / "dir" / "inner" / "other.txt", "x");
       }},
      {"a folder on a full path's way renamed",
       [](const fs::path& r) { fs::rename(r / "dir", r / "dir-moved"); }},
      {"and another made at its place",
       [](const fs::path& r) { test::WriteFile(r / "dir" / "fresh.txt", "f"); }},
      {"a link made to a new folder",
       [](const fs::path& r) {
         test::WriteFile(r / "made" / "m.txt", "m");
         fs::create_directory_symlink("../made", r / "sub" / "to-made");
       }},
      {"a link leading out made",
       [](const fs::path& r) { fs::create_directory_symlink(r.parent_path(), r / "dir" / "out"); }},
      {"a file made where a link leads, with a link leading out",
       [](const fs::path& r) { test::WriteFile(r / "made" / "n.txt", "n"); }},
      {"a folder outside, on a link's way, now leading back in",
       [outside](const fs::path& r) {
         fs::rename(outside, r.parent_path() / "outside-old");
         fs::create_directory_symlink(r / "made", outside);
       }},
      {"written where it now leads",
       [](const fs::path& r) { test::WriteFile(r / "made" / "o2.txt", "o"); }},
      {"links that circle",
       [](const fs::path& r) { fs::create_directory_symlink("..", r / "made" / "up"); },
       TSource::Rebuilt},
      {"and gone again", [](const fs::path& r) { fs::remove(r / "made" / "up"); },
       TSource::Rebuilt},
  };
  TProjectIndex index(root_.string());
  TSource source{};
  index.Acquire(&source);
  ASSERT_EQ(source, Expected(TSource::Rebuilt));
  for (const TChange& change : changes) {
    SCOPED_TRACE(change.What);
    const std::string before = TreeXML(root_);
    change.Make(root_);
    TProjectTreeRef tree = index.Acquire(&source);
    EXPECT_EQ(source, Expected(change.Source));
    for (const std::string& client : {std::string("<tree/>"), before}) {
      EXPECT_EQ(Answer(tree->Tree, client), FreshAnswer(root_, client));
    }
    index.Acquire(&source);
    EXPECT_EQ(source, Expected(TSource::Shared));
  }
}
#endif

struct TUnwatchable {
  const char* What;
  std::function<void(const fs::path& root)> Make;
  int MaxWatches;
  TFolderWatchLimit Limit;
};

// What the watch cannot vouch for is scanned by every sync, and the answers
// stay those of a fresh scan, changes included.
TEST_F(ProjectIndex, AFolderThatCannotBeWatchedIsScannedPerSync) {
  const std::vector<TUnwatchable> cases = {
      {"the watch limit", [](const fs::path&) {}, 2, TFolderWatchLimit::WatchLimit},
      {"no root", [](const fs::path& r) { fs::remove_all(r); }, 0, TFolderWatchLimit::Unwatchable},
#ifdef _WIN32
      // Windows reports a write to the folder of the name it went through only.
      {"a file with a second name",
       [](const fs::path& r) { fs::create_hard_link(r / "a.txt", r / "sub" / "a2.txt"); }, 0,
       TFolderWatchLimit::Link},
#endif
  };
  for (const TUnwatchable& unwatchable : cases) {
    SCOPED_TRACE(unwatchable.What);
    SetUp();
    unwatchable.Make(root_);
    TFolderWatch watch;
    watch.Watch(root_.string(), unwatchable.MaxWatches);
    EXPECT_EQ(watch.Limit(),
              WatchVouchesHere() ? unwatchable.Limit : TFolderWatchLimit::Unsupported);
    TProjectIndex index(root_.string(), unwatchable.MaxWatches);
    TSource source{};
    for (int sync = 0; sync < 2; ++sync) {
      const std::string before = TreeXML(root_);
      if (sync == 1 && fs::exists(root_)) test::WriteFile(root_ / "sub" / "late.txt", "l");
      TProjectTreeRef tree = index.Acquire(&source);
      EXPECT_EQ(source, TSource::OwnScan);
      EXPECT_EQ(Answer(tree->Tree, before), FreshAnswer(root_, before));
    }
    fs::remove_all(root_);
  }
}

#ifndef _WIN32
// What mounting changes, no folder's event reports: a file system mounted
// over a folder of the project, and a folder mounted a second time inside
// it. Runs in a mount namespace of its own; "skip" where none can be made.
std::string MountsInsideTheProject(const fs::path& root) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return "skip";
  std::string problems;
  TProjectIndex index(root.string());
  TSource source{};
  index.Acquire(&source);
  if (source != TSource::Rebuilt) return "not watched";
  const std::string before = TreeXML(root);
  if (mount("tmpfs", (root / "sub").c_str(), "tmpfs", 0, "size=64k") != 0) return "skip";
  test::WriteFile(root / "sub" / "on-tmpfs.txt", "t");
  TProjectTreeRef tree = index.Acquire(&source);
  if (source == TSource::Shared) problems += "a mount over a folder went unseen; ";
  if (Answer(tree->Tree, before) != FreshAnswer(root, before)) problems += "stale answer; ";
  if (mount((root / "dir").c_str(), (root / "sub2").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    return problems + "no bind mount";
  }
  TFolderWatch watch;
  watch.Watch(root.string());
  if (watch.Limit() != TFolderWatchLimit::MountInside) problems += "a folder mounted inside; ";
  // A file mounted over one of the project's, written through the mount's
  // source outside: no folder of the project reports it.
  const fs::path outside = root.parent_path() / "source.txt";
  test::WriteFile(outside, "s");
  umount2((root / "sub2").c_str(), MNT_DETACH);
  umount2((root / "sub").c_str(), MNT_DETACH);
  TProjectIndex files(root.string());
  if (mount(outside.c_str(), (root / "a.txt").c_str(), nullptr, MS_BIND, nullptr) != 0) {
    return problems + "no bind mount of a file";
  }
  files.Acquire(&source);
  const std::string mounted = TreeXML(root);
  SetTime(outside, std::chrono::hours(-40));
  TProjectTreeRef after = files.Acquire(&source);
  if (source != TSource::OwnScan) problems += "a file mounted over one was vouched for; ";
  if (Answer(after->Tree, mounted) != FreshAnswer(root, mounted)) problems += "stale file; ";
  return problems;
}

TEST_F(ProjectIndex, MountsInsideTheProjectAreSeen) {
  const std::string problems =
      test::ProblemsFoundInAChild([&] { return MountsInsideTheProject(root_); });
  if (problems == "skip") GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(problems, "");
}
#endif

// A folder that changes before every sync: each sync reads again only
// what changed; answers stay fresh.
TEST_F(ProjectIndex, AFolderChangedBeforeEverySyncIsPatchedPerSync) {
  TProjectIndex index(root_.string());
  std::vector<TSource> sources;
  for (int sync = 0; sync < 6; ++sync) {
    const std::string before = TreeXML(root_);
    if (sync > 0) test::WriteFile(root_ / ("busy" + std::to_string(sync) + ".txt"), "b");
    TSource source{};
    TProjectTreeRef tree = index.Acquire(&source);
    sources.push_back(source);
    EXPECT_EQ(Answer(tree->Tree, before), FreshAnswer(root_, before)) << "sync " << sync;
  }
  const std::vector<TSource> expected = {Expected(TSource::Rebuilt), Expected(TSource::Patched),
                                         Expected(TSource::Patched), Expected(TSource::Patched),
                                         Expected(TSource::Patched), Expected(TSource::Patched)};
  EXPECT_EQ(sources, expected);
}

// The watch's own verdicts on a folder it can watch.
TEST(FolderWatch, ItSeesAChangeOnceAndKeepsSayingSo) {
  if (!WatchVouchesHere()) GTEST_SKIP() << "the watch never vouches on this system";
  testing::TTempFolder temp;
  const fs::path root = fs::path(temp.Path()) / "w";
  test::WriteFile(root / "f.txt", "f");
  fs::create_directories(root / "x" / "y");
  TFolderWatch watch;
  EXPECT_FALSE(watch.CanVouch());  // nothing watched yet
  watch.Watch(root.string());
  ASSERT_TRUE(watch.CanVouch());
  EXPECT_EQ(watch.WatchCount(), 3);  // the folders; no file has a second name
  EXPECT_FALSE(watch.Changed());
  EXPECT_FALSE(watch.Changed());
  test::WriteFile(root / "x" / "y" / "g.txt", "g");
  EXPECT_TRUE(watch.Changed());
  EXPECT_TRUE(watch.Changed());
  // Watched afresh: what came before is forgotten, what comes after is seen.
  watch.Watch(root.string());
  EXPECT_FALSE(watch.Changed());
  fs::remove(root / "f.txt");
  EXPECT_TRUE(watch.Changed());
}

// A watch set up by a thread that has ended since (a sync's thread, often)
// still vouches when asked from another, and still sees what changes; so
// does one set up again over it.
#ifndef _WIN32
struct TShownChange {
  const char* What;
  std::function<void(const fs::path& root, const fs::path& outside)> Make;
  std::vector<std::string> Listed;  // among the folders named (none: nothing changed)
};

// A change is named at every path it shows at through links to folders,
// and a change outside on a link's route names the link only when it
// touches the name the route looked up there.
TEST_F(ProjectIndex, TheWatchNamesAChangeWhereverLinksShowIt) {
  if (!WatchVouchesHere()) GTEST_SKIP() << "the watch never vouches on this system";
  const fs::path outside = root_.parent_path() / "busy";
  fs::create_directories(outside);
  fs::create_directory_symlink("inner", root_ / "dir" / "to-inner");
  fs::create_directory_symlink("../dir", root_ / "sub2" / "to-dir");
  fs::create_directory_symlink(root_ / "sub", outside / "to-sub");
  fs::create_directory_symlink(outside / "to-sub", root_ / "back");
  const std::vector<TShownChange> changes = {
      {"a file made below two links",
       [](const fs::path& r, const fs::path&) {
         test::WriteFile(r / "dir" / "inner" / "n.txt", "n");
       },
       {"dir\\inner", "dir\\to-inner", "sub2\\to-dir\\inner", "sub2\\to-dir\\to-inner"}},
      {"a file made where a route through a folder outside leads",
       [](const fs::path& r, const fs::path&) { test::WriteFile(r / "sub" / "n.txt", "n"); },
       {"sub", "back"}},
      {"another name made in that folder outside",
       [](const fs::path&, const fs::path& o) { test::WriteFile(o / "unrelated.txt", "u"); },
       {}},
      {"the name the route looked up there replaced",
       [](const fs::path& r, const fs::path& o) {
         fs::remove(o / "to-sub");
         fs::create_directory_symlink(r / "dir", o / "to-sub");
       },
       {""}},
  };
  TFolderWatch watch;
  watch.Watch(root_.string());
  ASSERT_TRUE(watch.CanVouch());
  for (const TShownChange& change : changes) {
    SCOPED_TRACE(change.What);
    change.Make(root_, outside);
    const TFolderChanges named = watch.TakeChanges();
    EXPECT_EQ(named.Empty(), change.Listed.empty());
    for (const std::string& folder : change.Listed)
      EXPECT_EQ(named.Listed.count(folder), 1u) << folder;
  }
}
#endif

TEST(FolderWatch, AWatchOutlivesTheThreadThatSetItUp) {
  if (!WatchVouchesHere()) GTEST_SKIP() << "the watch never vouches on this system";
  testing::TTempFolder temp;
  const fs::path root = fs::path(temp.Path()) / "w";
  test::WriteFile(root / "f.txt", "f");
  TFolderWatch watch;
  std::thread([&] { watch.Watch(root.string()); }).join();
  ASSERT_TRUE(watch.CanVouch());
  EXPECT_FALSE(watch.Changed());
  std::thread([&] { watch.Watch(root.string()); }).join();
  ASSERT_TRUE(watch.CanVouch());
  EXPECT_FALSE(watch.Changed());
  test::WriteFile(root / "g.txt", "g");
  EXPECT_TRUE(watch.Changed());
}

// Syncs at once against one index, with changes between the rounds: every
// answer is the fresh scan's (run under ThreadSanitizer by scripts/sanitize).
TEST_F(ProjectIndex, SyncsAtOnceShareOneTreeAndSeeEveryChange) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 6;
  TProjectIndex index(root_.string());
  const std::string client = TreeXML(root_);
  for (int round = 0; round < kRounds; ++round) {
    test::WriteFile(root_ / ("round" + std::to_string(round)) / "f.txt", "r");
    if (round % 2 == 1) SetTime(root_ / "a.txt", std::chrono::hours(round));
    const std::string expected = FreshAnswer(root_, client);
    std::vector<std::string> answers(kThreads);
    std::vector<TProjectTreeRef> trees(kThreads);
    {
      std::vector<std::thread> syncs;
      for (int t = 0; t < kThreads; ++t) {
        syncs.emplace_back([&, t] {
          trees[t] = index.Acquire();
          answers[t] = Answer(trees[t]->Tree, client);
        });
      }
      for (auto& sync : syncs) sync.join();
    }
    for (int t = 0; t < kThreads; ++t) {
      EXPECT_EQ(answers[t], expected) << "round " << round << ", sync " << t;
      if (WatchVouchesHere()) {
        EXPECT_EQ(trees[t], trees[0]) << "one tree per round";
      }
    }
  }
}

#ifndef _WIN32
// The module's syncs go through the index of the configured root, and a
// root changed from the console is the one read at the next sync.
TEST_F(ProjectIndex, TheModuleAnswersFromTheRootConfiguredNow) {
  const fs::path other = fs::path(temp_.Path()) / "other";
  test::WriteFile(other / "o.txt", "o");
  const std::string config = temp_.Path() + "/orServer.xml";
  test::WriteFile(config, test::ConfigText(test::FreePortPair(), {{"Demo", root_.string()}}));
  TZevanOrmelinS module(config);
  module.LoadSettings();
  TorProject project;
  ASSERT_TRUE(module.FindProject("Demo", project));
  const std::string before = TreeXML(root_);
  EXPECT_EQ(BuildDiffList(module, project, before), "");
  test::WriteFile(root_ / "sub" / "n.txt", "n");
  EXPECT_NE(BuildDiffList(module, project, before).find("\\sub\\n.txt"), std::string::npos);

  {
    TMutexLock lock(module.SettingsLock);
    module.SetFirstProjectPath(other.string());
  }
  ASSERT_TRUE(module.FindProject("Demo", project));
  EXPECT_NE(BuildDiffList(module, project, "<tree/>").find("\\o.txt"), std::string::npos);
}
#endif

}  // namespace
}  // namespace ormelin
