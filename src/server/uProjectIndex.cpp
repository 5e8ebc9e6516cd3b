#include "server/uProjectIndex.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/FolderWatch.h"
#include "platform/PathConfinement.h"
#include "platform/Paths.h"

namespace ormelin {

namespace {

std::shared_ptr<TProjectTree> Scan(std::string_view path) {
  auto scanned = std::make_shared<TProjectTree>();
  scanned->Tree = TCompactTree::FromDisk(path, &scanned->Report);
  scanned->Tree.Freeze();
  return scanned;
}

}  // namespace

TProjectTreeRef ScanProject(std::string_view path) {
  return Scan(path);
}

TProjectIndex::TProjectIndex(std::string path, int maxWatches, std::chrono::seconds maxUnscanned)
    : path_(std::move(path)),
      maxWatches_(maxWatches),
      maxUnscanned_(maxUnscanned),
      watch_(std::make_unique<TFolderWatch>()) {}

TProjectIndex::~TProjectIndex() = default;

TProjectTreeRef TProjectIndex::Acquire(TSource* source) {
  TSource unused;
  TSource& how = source != nullptr ? *source : unused;
  TMutexLock guard(lock_);
  // The drain in TakeChanges() is what makes this sync see every change
  // made before its command arrived (see the header).
  // A tree scanned longer ago than the bound is scanned again, for what no
  // watch reports.
  if (tree_ && std::chrono::steady_clock::now() - scanned_ >= maxUnscanned_) {
    tree_.reset();
    treeShared_ = true;  // no sign of a busy folder
  }
  if (tree_ && watch_->CanVouch()) {
    const TFolderChanges changes = watch_->TakeChanges();
    if (changes.Empty()) {
      how = TSource::Shared;
      treeShared_ = true;
      unsharedTrees_ = 0;
      return tree_;
    }
    if (!changes.All) {
      TProjectTreeRef patched;
      try {
        patched = Patch(*tree_, changes);
      } catch (...) {
        tree_.reset();  // the next sync watches and scans afresh
        throw;
      }
      if (patched) {
        tree_ = std::move(patched);
        treeShared_ = true;  // as good as shared: it cost no scan
        unsharedTrees_ = 0;
        how = TSource::Patched;
        return tree_;
      }
    }
  }
  if (tree_ && !treeShared_ && ++unsharedTrees_ >= kBusyAfter) {
    // A folder that changes between every two syncs gains nothing from a
    // tree kept for the next one, and a rebuild costs more than a scan.
    unsharedTrees_ = 0;
    retryWatch_ = std::chrono::steady_clock::now() + kRetryWatch;
  }
  // Gone before the new scan, so that at most one tree per project is held
  // (syncs still reading the old one keep it until they end).
  tree_.reset();
  bool watched = false;
  if (std::chrono::steady_clock::now() >= retryWatch_) {
    // Watch first, then scan: a change during the scan leaves its event for
    // the next Acquire, which then reads again what it names.
    watch_->Watch(path_, maxWatches_);
    watched = watch_->CanVouch();
    if (!watched) retryWatch_ = std::chrono::steady_clock::now() + kRetryWatch;
  }
  if (!watched) {
    guard.unlock();
    how = TSource::OwnScan;
    return ScanProject(path_);
  }
  scanned_ = std::chrono::steady_clock::now();
  tree_ = Scan(path_);  // a failure leaves no tree
  // Whatever changed during the scan is read again by the next sync.
  treeShared_ = false;
  how = TSource::Rebuilt;
  return tree_;
}

namespace {

using TIndex = TCompactTree::TIndex;
constexpr TIndex kNoFolder = TCompactTree::kNoRank;

// The sub-folder of `folder` named `name` exactly, or kNoFolder.
TIndex ChildNamed(const TCompactTree& tree, TIndex folder, std::string_view name) {
  const TCompactTree::TFolder& parent = tree.Folder(folder);
  for (TIndex child = parent.FirstFolder; child < parent.FirstFolder + parent.FolderCount;
       ++child) {
    if (tree.FolderName(child) == name) return child;
  }
  return kNoFolder;
}

// The deepest folder of `tree` on the way to `path` (below the root, names
// joined by "\\").
TIndex DeepestOnPath(const TCompactTree& tree, std::string_view path) {
  TIndex folder = 0;
  for (size_t at = 0; at < path.size();) {
    size_t end = path.find('\\', at);
    if (end == std::string_view::npos) end = path.size();
    const TIndex child = ChildNamed(tree, folder, path.substr(at, end - at));
    if (child == kNoFolder) break;
    folder = child;
    at = end + 1;
  }
  return folder;
}

std::string ParentPath(const std::string& path) {
  const size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

}  // namespace

std::string TProjectIndex::DiskPath(std::string_view folder) const {
  std::string path = path_;
  for (size_t at = 0; at < folder.size();) {
    size_t end = folder.find('\\', at);
    if (end == std::string_view::npos) end = folder.size();
    path = IncludeTrailingBackslash(path);
    path += folder.substr(at, end - at);
    at = end + 1;
  }
  return path;
}

// The new tree: the folders the changes name are read again (their
// entries; the sub-folders that are new, or may be other folders now,
// whole), every other folder is copied. The folders that may be other
// folders now are watched afresh before anything is read, so that every
// folder a read reaches, through a link or not, is watched when it is read
// (or was made after the changes were taken, and its making is waiting in
// its parent's watch). What shows a second time, below a link to a folder,
// is read last, from the disk as it stands after every watch is set.
// Null when only a full scan can tell (a name that is no path, names piling
// up, links that circle, a folder the watch cannot take).
TProjectTreeRef TProjectIndex::Patch(const TProjectTree& previous, const TFolderChanges& changes) {
  const TCompactTree& old = previous.Tree;
  if (previous.Report.LeftOut != 0 || watch_->LinksCircle()) return nullptr;
  // Names of entries gone stay in the successors' tables: a full scan now
  // and then gives them back.
  if (old.NameCount() > 2 * (old.FileCount() + old.FolderCount()) + 4096) return nullptr;
  // A file found with a second name it had not when last read: a write
  // through one name since then shows in the other's folder too, which
  // may have reported nothing.
  const int linked = watch_->FilesFoundLinked();
  std::vector<char> reread(old.FolderCount(), 0);
  for (const std::string& folder : changes.Listed) reread[DeepestOnPath(old, folder)] = 1;
  std::set<std::string> watchedAfresh;
  for (const std::string& replaced : changes.Replaced) {
    reread[DeepestOnPath(old, ParentPath(replaced))] = 1;
    if (watch_->ThroughLink(ParentPath(replaced))) continue;  // watched where it lies
    bool inside = false;                                      // below another one, watched with it
    for (std::string above = ParentPath(replaced); !above.empty() && !inside;
         above = ParentPath(above)) {
      inside = changes.Replaced.count(above) != 0;
    }
    if (inside) continue;
    watch_->WatchBelow(replaced);
    watchedAfresh.insert(replaced);
  }
  if (!watch_->CanVouch() || watch_->FilesFoundLinked() != linked) return nullptr;

  auto next = std::make_shared<TProjectTree>();
  next->Report = previous.Report;  // the links left out, as the last full scan counted them
  TScanReport report;              // what this patch's reading leaves out
  TCompactTree& tree = next->Tree = TCompactTree::Successor(old);
  tree.SetFolder(0, old.FolderName(0), old.Folder(0).DateModified);
  const TResolvedRoot confinement(path_);
  struct TStep {
    TIndex folder;
    TIndex previous;   // the folder it was in `old`, kNoFolder when new
    std::string path;  // below the root
    int level;
    bool shown;  // below a link to a folder: shown a second time
  };
  std::vector<TStep> pending{{0, 0, std::string(), 0, false}};
  std::vector<TStep> shownLater;
  std::vector<TFolderEntry> entries;
  for (bool late = false;; late = true) {
    if (late) {
      // Every folder read from here on is watched where it lies.
      watch_->FollowLinks();
      if (!watch_->CanVouch() || watch_->LinksCircle()) return nullptr;
      pending = std::move(shownLater);
      shownLater.clear();
    }
    while (!pending.empty()) {
      TStep step = std::move(pending.back());
      pending.pop_back();
      if (step.level > MaxScanDepth) continue;  // listed, not entered (as WalkDisk)
      const bool reads = step.previous == kNoFolder || reread[step.previous] != 0;
      if (reads && step.shown && !late) {
        shownLater.push_back(std::move(step));
        continue;
      }
      if (step.previous == kNoFolder) {
        if (!step.shown && watchedAfresh.count(step.path) == 0) {
          watch_->WatchBelow(step.path);  // made since the changes were taken
          if (!watch_->CanVouch() || watch_->FilesFoundLinked() != linked) return nullptr;
        }
        tree.FillFromDisk(step.folder, DiskPath(step.path), "\\" + step.path + "\\", step.level,
                          &report, path_);
        if (report.LeftOut != 0) return nullptr;
        continue;
      }
      auto childPath = [&step](std::string_view name) {
        std::string path = step.path;
        if (!path.empty()) path += '\\';
        path += name;
        return path;
      };
      if (!reads) {
        const TIndex first = tree.CopyContent(step.folder, old, step.previous);
        const TCompactTree::TFolder& source = old.Folder(step.previous);
        for (TIndex n = 0; n < source.FolderCount; ++n) {
          std::string path = childPath(old.FolderName(source.FirstFolder + n));
          const bool shown = step.shown || watch_->LinkToFolder(path);
          pending.push_back(
              {first + n, source.FirstFolder + n, std::move(path), step.level + 1, shown});
        }
        continue;
      }
      // Listed again; the files with more than one name, and the links,
      // watched first.
      if (!step.shown) {
        watch_->WatchFiles(step.path);
        if (!watch_->CanVouch() || watch_->FilesFoundLinked() != linked) return nullptr;
      }
      entries.clear();
      {
        const std::string diskPath = IncludeTrailingBackslash(DiskPath(step.path));
        TFolderEnumerator enumerator(diskPath);
        if (!enumerator.IsOpen()) continue;  // gone: its parent's event says so
        TFolderEntry entry;
        while (enumerator.Next(entry)) {
          if (!entry.NameIsPath) return nullptr;
          // Left out as the scan leaves it out (WalkDisk).
          if (entry.IsLink &&
              confinement.Locate(diskPath + entry.Name) != TResolvedRoot::TPlace::Inside) {
            continue;
          }
          entries.push_back(std::move(entry));
          entry = TFolderEntry();
        }
      }
      size_t folders = 0;
      for (const TFolderEntry& entry : entries) folders += entry.IsDirectory ? 1 : 0;
      TIndex folder = tree.AddContent(step.folder, folders, entries.size() - folders);
      TIndex file = tree.Folder(step.folder).FirstFile;
      for (const TFolderEntry& entry : entries) {
        if (!entry.IsDirectory) {
          tree.SetFile(file++, entry.Name, entry.DateModified);
          continue;
        }
        tree.SetFolder(folder, entry.Name, entry.DateModified);
        std::string path = childPath(entry.Name);
        const TIndex was = changes.Replaced.count(path) != 0
                               ? kNoFolder
                               : ChildNamed(old, step.previous, entry.Name);
        pending.push_back(
            {folder++, was, std::move(path), step.level + 1, step.shown || entry.IsLink});
      }
    }
    if (late) break;
  }
  tree.Freeze(old);
  return next;
}

std::shared_ptr<TProjectIndex> TProjectIndexList::Find(const std::string& path) {
  TMutexLock guard(lock_);
  auto found = indexes_.find(path);
  return found != indexes_.end() ? found->second : nullptr;
}

void TProjectIndexList::SetRoots(const std::vector<std::string>& paths) {
  std::vector<std::shared_ptr<TProjectIndex>> released;  // go after the lock
  TMutexLock guard(lock_);
  const std::set<std::string> roots(paths.begin(), paths.end());
  for (const std::string& root : roots) {
    std::shared_ptr<TProjectIndex>& index = indexes_[root];
    if (!index) index = std::make_shared<TProjectIndex>(root, maxWatches_);
  }
  for (auto it = indexes_.begin(); it != indexes_.end();) {
    if (roots.count(it->first) == 0) {
      released.push_back(std::move(it->second));
      it = indexes_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace ormelin
