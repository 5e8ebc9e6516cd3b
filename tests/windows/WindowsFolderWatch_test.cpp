// The Windows folder watch (ReadDirectoryChangesW) on a real Windows API,
// Wine in CI. Wine reports changes late, so there the watch is let to vouch
// for these cases only (platform/win32/FolderWatchWine.h), and a case that
// expects a change to be seen waits for it; on Windows itself a change is
// seen at once, and these cases check just that.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderWatch.h"
#include "platform/win32/FolderWatchWine.h"
#include "support/TempFolder.h"
#include "support/TestFiles.h"

#include <windows.h>

namespace ormelin {
namespace {

namespace fs = std::filesystem;

class WindowsFolderWatch : public ::testing::Test {
 protected:
  void SetUp() override { LetFolderWatchVouchUnderWine(true); }
  void TearDown() override { LetFolderWatchVouchUnderWine(false); }

  // A new tree of three folders and two files, in a folder never watched
  // before (so that no change made to an earlier one can reach its watch).
  fs::path NewTree() {
    const fs::path root = fs::path(temp_.Path()) / ("w" + std::to_string(trees_++));
    test::WriteFile(root / "a.txt", "a");
    test::WriteFile(root / "sub" / "deep" / "b.txt", "b");
    return root;
  }

  // Whether the watch reports a change: at once on Windows, within a
  // while under Wine.
  static bool SeesChange(TFolderWatch& watch) {
    if (!RunsUnderWine()) return watch.Changed();
    return test::Eventually([&] { return watch.Changed(); }, 30);
  }

  testing::TTempFolder temp_;
  int trees_ = 0;
};

struct TChange {
  const char* What;
  std::function<void(const fs::path& root)> Make;
};

TEST_F(WindowsFolderWatch, EveryKindOfChangeIsSeen) {
  const std::vector<TChange> changes = {
      {"a file made in the root", [](const fs::path& r) { test::WriteFile(r / "n.txt", "n"); }},
      {"a file made deep down",
       [](const fs::path& r) { test::WriteFile(r / "sub" / "deep" / "n.txt", "n"); }},
      {"a file deleted", [](const fs::path& r) { fs::remove(r / "sub" / "deep" / "b.txt"); }},
      {"a file renamed", [](const fs::path& r) { fs::rename(r / "a.txt", r / "a2.txt"); }},
      {"a file written", [](const fs::path& r) { test::WriteFile(r / "a.txt", "longer"); }},
      {"a file's time set",
       [](const fs::path& r) {
         fs::last_write_time(r / "sub" / "deep" / "b.txt",
                             fs::file_time_type::clock::now() - std::chrono::hours(5));
       }},
      {"a file made read-only",
       [](const fs::path& r) {
         SetFileAttributesW((r / "a.txt").wstring().c_str(), FILE_ATTRIBUTE_READONLY);
       }},
      {"a folder made", [](const fs::path& r) { fs::create_directory(r / "sub" / "new"); }},
      {"a folder deleted", [](const fs::path& r) { fs::remove_all(r / "sub" / "deep"); }},
      {"a folder renamed", [](const fs::path& r) { fs::rename(r / "sub", r / "sub2"); }},
  };
  for (const TChange& change : changes) {
    SCOPED_TRACE(change.What);
    const fs::path root = NewTree();
    TFolderWatch watch;
    watch.Watch(root.string());
    ASSERT_TRUE(watch.CanVouch()) << static_cast<int>(watch.Limit());
    EXPECT_EQ(watch.WatchCount(), 3);
    EXPECT_FALSE(watch.Changed());
    change.Make(root);
    EXPECT_TRUE(SeesChange(watch));
    EXPECT_TRUE(watch.Changed());  // and keeps saying so
  }
}

struct TRefusal {
  const char* What;
  std::function<void(const fs::path& root, const fs::path& outside)> Make;
  int MaxWatches;
  TFolderWatchLimit Limit;
};

// What the watch cannot vouch for, it says at once.
TEST_F(WindowsFolderWatch, WhatItCannotVouchForIsRefused) {
  auto hardLink = [](const fs::path& from, const fs::path& to) {
    ASSERT_TRUE(CreateHardLinkW(to.wstring().c_str(), from.wstring().c_str(), nullptr));
  };
  const std::vector<TRefusal> refusals = {
      {"nothing to refuse", [](const fs::path&, const fs::path&) {}, 0, TFolderWatchLimit::None},
      {"as many folders as it may watch", [](const fs::path&, const fs::path&) {}, 3,
       TFolderWatchLimit::None},
      {"more folders than it may watch", [](const fs::path&, const fs::path&) {}, 2,
       TFolderWatchLimit::WatchLimit},
      {"a file with a second name inside",
       [&](const fs::path& r, const fs::path&) { hardLink(r / "a.txt", r / "sub" / "a2.txt"); }, 0,
       TFolderWatchLimit::Link},
      {"a file with a second name outside",
       [&](const fs::path& r, const fs::path& o) {
         hardLink(r / "sub" / "deep" / "b.txt", o / "b2.txt");
       },
       0, TFolderWatchLimit::Link},
      {"no root", [](const fs::path& r, const fs::path&) { fs::remove_all(r); }, 0,
       TFolderWatchLimit::Unwatchable},
      {"a file as the root",
       [](const fs::path& r, const fs::path&) {
         fs::remove_all(r);
         test::WriteFile(r, "not a folder");
       },
       0, TFolderWatchLimit::Unwatchable},
  };
  for (const TRefusal& refusal : refusals) {
    SCOPED_TRACE(refusal.What);
    const fs::path root = NewTree();
    refusal.Make(root, temp_.Path());
    TFolderWatch watch;
    watch.Watch(root.string(), refusal.MaxWatches);
    EXPECT_EQ(watch.Limit(), refusal.Limit);
    EXPECT_EQ(watch.Changed(), refusal.Limit != TFolderWatchLimit::None);
  }
}

// A reparse point anywhere in the tree refuses it. Wine makes none (its
// CreateSymbolicLinkW succeeds without making anything), and shows a
// symbolic link of the Unix side as the plain file or folder it names.
TEST_F(WindowsFolderWatch, AReparsePointInTheTreeIsRefused) {
  const fs::path root = NewTree();
  const fs::path link = root / "sub" / "link";
  CreateSymbolicLinkW(link.wstring().c_str(), (root / "a.txt").wstring().c_str(), 0);
  const DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    GTEST_SKIP() << "no symbolic link could be made here";
  }
  TFolderWatch watch;
  watch.Watch(root.string());
  EXPECT_EQ(watch.Limit(), TFolderWatchLimit::Link);
}

// The root's path naming another folder, or none: no change inside the
// folder watched says so, and the watch must.
TEST_F(WindowsFolderWatch, ARootReplacedOrGoneIsAChange) {
  const std::vector<TChange> changes = {
      {"the root renamed, another made at its path",
       [this](const fs::path& r) {
         fs::rename(r, fs::path(temp_.Path()) / ("old" + std::to_string(trees_)));
         fs::create_directory(r);
       }},
      {"the root deleted", [](const fs::path& r) { fs::remove_all(r); }},
  };
  for (const TChange& change : changes) {
    SCOPED_TRACE(change.What);
    const fs::path root = NewTree();
    TFolderWatch watch;
    watch.Watch(root.string());
    ASSERT_TRUE(watch.CanVouch());
    change.Make(root);
    EXPECT_TRUE(watch.Changed());
  }
}

// Under Wine the watch does not vouch unless let to (see FolderWatchWine.h).
TEST_F(WindowsFolderWatch, UnderWineItDoesNotVouchOnItsOwn) {
  LetFolderWatchVouchUnderWine(false);
  TFolderWatch watch;
  watch.Watch(NewTree().string());
  EXPECT_EQ(watch.Limit(),
            RunsUnderWine() ? TFolderWatchLimit::Unsupported : TFolderWatchLimit::None);
  EXPECT_EQ(watch.Changed(), RunsUnderWine());
}

// The read of a watch set up by a thread that has ended since (a sync's
// thread, often) goes on: a watch tied to its thread would lose it and
// find a change that never was, or miss one.
TEST_F(WindowsFolderWatch, AWatchOutlivesTheThreadThatSetItUp) {
  const fs::path root = NewTree();
  TFolderWatch watch;
  std::thread([&] { watch.Watch(root.string()); }).join();
  ASSERT_TRUE(watch.CanVouch());
  EXPECT_FALSE(watch.Changed());
  test::WriteFile(root / "sub" / "n.txt", "n");
  EXPECT_TRUE(SeesChange(watch));
}

}  // namespace
}  // namespace ormelin
