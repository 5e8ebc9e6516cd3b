// The scan of a project's root folder, started when a client asks to sync
// and read on a thread of its own while the client's tree arrives and is
// parsed: the two trees are then ready at about the same time instead of
// one after the other. With the project's index the scan is the index's
// Acquire: mostly no scan at all, the shared tree.
//
// Threading: a scan is started, taken and destroyed by one thread; the
// scanning thread touches nothing but its own tree and the index.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "comparer/StructStreamer.h"
#include "platform/Thread.h"
#include "server/uProjectIndex.h"

namespace ormelin {

class TProjectScan {
 public:
  // At most this many scans run ahead at once, so that clients that ask for
  // a sync and then send nothing hold no more than this many trees.
  static constexpr int kMaxAhead = 4;

  // Starts reading the folder at `path` (TCompactTree::FromDisk), or asking
  // `index` (the index of that folder) for its tree. When no thread can be
  // started, or kMaxAhead scans are already ahead, that is done by Take
  // instead.
  explicit TProjectScan(std::string_view path, std::shared_ptr<TProjectIndex> index = nullptr);
  ~TProjectScan();  // waits for the scan
  TProjectScan(const TProjectScan&) = delete;
  TProjectScan& operator=(const TProjectScan&) = delete;

  // Waits for the scan and hands over its frozen tree, or raises what the
  // scan raised. Called once. A tree from the index may be shared with
  // other syncs: it is only read.
  TProjectTreeRef Take();
  // What the scan left out; read after Take.
  const TScanReport& Report() const { return tree_ ? tree_->Report : noReport_; }

 private:
  void Run() noexcept;
  void ReleaseSlot();

  std::string path_;
  std::shared_ptr<TProjectIndex> index_;
  TProjectTreeRef tree_;
  TScanReport noReport_;
  std::exception_ptr failure_;
  bool done_ = false;
  bool slot_ = false;  // one of the kMaxAhead is this scan's
  TThread thread_;
};

}  // namespace ormelin
