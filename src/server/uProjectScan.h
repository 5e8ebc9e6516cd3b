// The scan of a project's root folder, started when a client asks to sync
// and read on a thread of its own while the client's tree arrives and is
// parsed: the two trees are then ready at about the same time instead of
// one after the other.
//
// Threading: a scan is started, taken and destroyed by one thread; the
// scanning thread touches nothing but its own tree.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "platform/Thread.h"

namespace ormelin {

class TProjectScan {
 public:
  // At most this many scans run ahead at once, so that clients that ask for
  // a sync and then send nothing hold no more than this many trees.
  static constexpr int kMaxAhead = 4;

  // Starts reading the folder at `path` (TLoader::LoadFromDisk). When no
  // thread can be started, or kMaxAhead scans are already ahead, the folder
  // is read by Take instead.
  explicit TProjectScan(std::string_view path);
  ~TProjectScan();  // waits for the scan
  TProjectScan(const TProjectScan&) = delete;
  TProjectScan& operator=(const TProjectScan&) = delete;

  // Waits for the scan and hands over its tree, or raises what the scan
  // raised. Called once.
  std::unique_ptr<TDirectory> Take();
  // What the scan left out; read after Take.
  const TScanReport& Report() const { return report_; }

 private:
  void Run() noexcept;
  void ReleaseSlot();

  std::string path_;
  std::unique_ptr<TDirectory> tree_;
  TScanReport report_;
  std::exception_ptr failure_;
  bool done_ = false;
  bool slot_ = false;  // one of the kMaxAhead is this scan's
  TThread thread_;
};

}  // namespace ormelin
