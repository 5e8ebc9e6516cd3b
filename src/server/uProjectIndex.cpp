#include "server/uProjectIndex.h"

#include <utility>

#include "platform/FolderWatch.h"

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

TProjectIndex::TProjectIndex(std::string path, int maxWatches)
    : path_(std::move(path)), maxWatches_(maxWatches), watch_(std::make_unique<TFolderWatch>()) {}

TProjectIndex::~TProjectIndex() = default;

TProjectTreeRef TProjectIndex::Acquire(TSource* source) {
  TSource unused;
  TSource& how = source != nullptr ? *source : unused;
  TMutexLock guard(lock_);
  // The drain in Changed() is what makes this sync see every change made
  // before its command arrived (see the header).
  if (tree_ && !watch_->Changed()) {
    how = TSource::Shared;
    treeShared_ = true;
    unsharedTrees_ = 0;
    return tree_;
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
    // the next Acquire, which then scans again.
    watch_->Watch(path_, maxWatches_);
    watched = watch_->CanVouch();
    if (!watched) retryWatch_ = std::chrono::steady_clock::now() + kRetryWatch;
  }
  if (!watched) {
    guard.unlock();
    how = TSource::OwnScan;
    return ScanProject(path_);
  }
  tree_ = Scan(path_);  // a failure leaves no tree
  treeShared_ = false;
  how = TSource::Rebuilt;
  return tree_;
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
