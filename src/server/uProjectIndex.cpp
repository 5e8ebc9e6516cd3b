#include "server/uProjectIndex.h"

#include <utility>

#include "platform/FolderWatch.h"

namespace ormelin {

namespace {

std::shared_ptr<TProjectTree> Scan(std::string_view path) {
  auto scanned = std::make_shared<TProjectTree>();
  scanned->Tree = std::make_unique<TDirectory>();
  TLoader::LoadFromDisk(path, scanned->Tree.get(), &scanned->Report);
  return scanned;
}

}  // namespace

TProjectTreeRef ScanProject(std::string_view path) {
  return Scan(path);
}

TProjectIndex::TProjectIndex(std::string path, int maxWatches)
    : path_(std::move(path)), maxWatches_(maxWatches) {}

TProjectIndex::~TProjectIndex() = default;

TProjectTreeRef TProjectIndex::Acquire(TSource* source) {
  TSource unused;
  TSource& how = source != nullptr ? *source : unused;
  TProjectTreeRef old;  // released after the lock, by the last reader
  TMutexLock guard(lock_);
  // The drain in Changed() is what makes this sync see every change made
  // before its command arrived (see the header).
  if (tree_ && watch_ && !watch_->Changed()) {
    how = TSource::Shared;
    return tree_;
  }
  old = std::move(tree_);
  // The old watch goes first: its watches count against the system's limit.
  watch_.reset();
  if (std::chrono::steady_clock::now() >= retryWatch_) {
    // Watch first, then scan: a change during the scan leaves its event for
    // the next Acquire, which then scans again.
    watch_ = std::make_unique<TFolderWatch>(path_, maxWatches_);
    if (!watch_->CanVouch()) {
      watch_.reset();
      retryWatch_ = std::chrono::steady_clock::now() + kRetryWatch;
    }
  }
  if (!watch_) {
    guard.unlock();
    how = TSource::OwnScan;
    return ScanProject(path_);
  }
  try {
    std::shared_ptr<TProjectTree> scanned = Scan(path_);
    scanned->Tree->Freeze();
    tree_ = std::move(scanned);
  } catch (...) {
    watch_.reset();
    throw;
  }
  how = TSource::Rebuilt;
  return tree_;
}

std::shared_ptr<TProjectIndex> TProjectIndexList::Find(const std::string& path) {
  TMutexLock guard(lock_);
  if (roots_.count(path) == 0) return nullptr;
  std::shared_ptr<TProjectIndex>& index = indexes_[path];
  if (!index) index = std::make_shared<TProjectIndex>(path, maxWatches_);
  return index;
}

void TProjectIndexList::SetRoots(const std::vector<std::string>& paths) {
  std::vector<std::shared_ptr<TProjectIndex>> released;  // go after the lock
  TMutexLock guard(lock_);
  roots_ = std::set<std::string>(paths.begin(), paths.end());
  for (auto it = indexes_.begin(); it != indexes_.end();) {
    if (roots_.count(it->first) == 0) {
      released.push_back(std::move(it->second));
      it = indexes_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace ormelin
