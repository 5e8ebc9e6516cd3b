// A project's tree kept between syncs: the scanned root folder, its names
// ranked and its name order fixed (TCompactTree::Freeze), shared
// read-only by every sync that runs while the folder stays as it was, and
// the watch (TFolderWatch) that proves it did.
//
// A sync asks Acquire for the tree as the folder stands at that moment:
// - the shared tree, when the watch has seen nothing since the tree was
//   made;
// - a patched tree, which becomes the shared tree, when the watch names
//   what changed: the folders it names are listed again (and the folders
//   new in them, or made, moved or replaced, read whole, each watched before
//   it is read), every other folder is copied from the shared tree, which
//   stays as it was for the syncs holding it;
// - a fresh scan, which becomes the shared tree, when there is no tree yet
//   or the watch cannot tell what changed (its queue overflowed, the mounts
//   changed, the root went);
// - a scan of the sync's own, as without an index, when the watch cannot
//   vouch for the folder (see TFolderWatch: links, network file systems,
//   the watch limit, ...), or for a while when the folder changes between
//   every two syncs.
// Every tree, shared or not, is a scan that leaves out the links leading
// out of the root (WalkDisk). A link inside is an entry of its folder and
// what it leads to lies in a watched folder (see TFolderWatch), so a tree
// with links is shared, and patched: the watch names a change at every
// path it shows at through links to folders, and names a link whose route
// changed. What shows below a link is read after every folder that may be
// another one is watched again, so it is read from watched folders only.
// Links that circle (a link leading to a folder that holds it, directly or
// through other links) mean a full scan on any change.
// Why the shared tree is never stale: the system queues a change's event
// before the call that made the change returns. Acquire runs after the
// sync's command has arrived, so every change made before that has its
// event queued when Acquire drains the queue (and the mount table and the
// root's identity are checked then too). Every folder is watched before it
// is read, so a change to it after it was read has its event queued; a
// folder without an event since it was read is as it was read, and the
// folders with one are read again after the drain. A change during that
// reading may or may not be in the tree, so its event, still queued, makes
// the next sync read the folder again. What the system never reports is
// listed in FolderWatch.h.
//
// Threading: Acquire and the list's operations are safe from any thread. A
// tree handed out is never changed again; a rebuild makes a new one and the
// old one goes with its last reader. One rebuild runs at a time per
// project; syncs that arrive meanwhile wait for it and share its tree when
// it stays current.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/StructStreamer.h"
#include "platform/Mutex.h"

namespace ormelin {

class TFolderWatch;
struct TFolderChanges;

// One scan of a project's root folder, frozen, and what it left out.
struct TProjectTree {
  TCompactTree Tree;
  TScanReport Report;
};
using TProjectTreeRef = std::shared_ptr<const TProjectTree>;

// A scan of `path` (TCompactTree::FromDisk) into a new tree, as every sync
// did before there was an index. Raises what the scan raises.
TProjectTreeRef ScanProject(std::string_view path);

class TProjectIndex {
 public:
  // How Acquire came by its tree.
  enum class TSource { Shared, Patched, Rebuilt, OwnScan };

  // The longest a tree answers syncs without a full scan: what the system
  // never reports (see FolderWatch.h: a write through a shared mapping, or
  // through a second name made outside the tree) is seen at the latest
  // then.
  static constexpr std::chrono::seconds kMaxUnscanned{600};

  // Indexes the folder at `path`: opens the watch's notifications, but
  // reads nothing before the first Acquire. `maxWatches` > 0 caps the watch
  // (see TFolderWatch); `maxUnscanned` bounds a tree's age (tests shorten
  // it).
  explicit TProjectIndex(std::string path, int maxWatches = 0,
                         std::chrono::seconds maxUnscanned = kMaxUnscanned);
  ~TProjectIndex();
  TProjectIndex(const TProjectIndex&) = delete;
  TProjectIndex& operator=(const TProjectIndex&) = delete;

  // The tree of the folder as it stands now (see above), read-only when
  // shared (frozen). Raises what the scan raises; the index then holds no
  // tree and the next Acquire scans again.
  TProjectTreeRef Acquire(TSource* source = nullptr) EXCLUDES(lock_);

  const std::string& Path() const { return path_; }

 private:
  TProjectTreeRef Patch(const TProjectTree& previous, const TFolderChanges& changes)
      REQUIRES(lock_);
  std::string DiskPath(std::string_view folder) const;

  // After the watch could not vouch, the time before it is tried again;
  // meanwhile every sync scans the folder itself.
  static constexpr std::chrono::seconds kRetryWatch{60};
  // After this many trees in a row that changed before a second sync could
  // share them, the folder counts as busy and every sync scans it itself
  // for kRetryWatch: a rebuild (watch and scan) costs more than a scan.
  static constexpr int kBusyAfter = 3;

  const std::string path_;
  const int maxWatches_;
  const std::chrono::seconds maxUnscanned_;
  TMutex lock_;
  const std::unique_ptr<TFolderWatch> watch_ PT_GUARDED_BY(lock_);
  TProjectTreeRef tree_ GUARDED_BY(lock_);
  std::chrono::steady_clock::time_point retryWatch_ GUARDED_BY(lock_){};
  // When the full scan that tree_ descends from began.
  std::chrono::steady_clock::time_point scanned_ GUARDED_BY(lock_){};
  bool treeShared_ GUARDED_BY(lock_) = false;  // tree_ served a sync after its own
  int unsharedTrees_ GUARDED_BY(lock_) = 0;
};

// The indexes of the configured projects' root folders, one per folder.
// Safe from any thread.
class TProjectIndexList {
 public:
  // `maxWatches` is handed to every index (tests cap it).
  explicit TProjectIndexList(int maxWatches = 0) : maxWatches_(maxWatches) {}

  // The index of `path` while it is one of the roots set by SetRoots; null
  // for any other path, whose sync then scans on its own.
  std::shared_ptr<TProjectIndex> Find(const std::string& path) EXCLUDES(lock_);
  // The roots configured now. Each gets its index at once (nothing is read
  // before its first sync, but the watch's descriptors are held from here
  // on); the indexes of other folders, and with them their trees and
  // watches, are released (a tree still being read goes with its last
  // reader).
  void SetRoots(const std::vector<std::string>& paths) EXCLUDES(lock_);

 private:
  const int maxWatches_;
  TMutex lock_;
  std::map<std::string, std::shared_ptr<TProjectIndex>> indexes_ GUARDED_BY(lock_);
};

}  // namespace ormelin
