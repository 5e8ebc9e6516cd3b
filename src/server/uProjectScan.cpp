#include "server/uProjectScan.h"

#include <atomic>
#include <utility>

#include "comparer/StructStreamer.h"

namespace ormelin {
namespace {

std::atomic<int> gScansAhead{0};

}  // namespace

TProjectScan::TProjectScan(std::string_view path, std::shared_ptr<TProjectIndex> index)
    : path_(path), index_(std::move(index)) {
  if (gScansAhead.fetch_add(1) >= kMaxAhead) {
    gScansAhead.fetch_sub(1);
    return;  // Take reads the folder itself
  }
  slot_ = true;
  try {
    // The system's default stack: the scan is no recursion, but the folder
    // lists it sorts and compares may be long.
    thread_ = TThread([this] { Run(); }, 0, "ormelin-scan");
  } catch (const EThreadError&) {
    ReleaseSlot();  // out of threads: Take reads the folder itself
  }
}

TProjectScan::~TProjectScan() {
  thread_.Join();
  ReleaseSlot();
}

void TProjectScan::ReleaseSlot() {
  if (slot_) gScansAhead.fetch_sub(1);
  slot_ = false;
}

void TProjectScan::Run() noexcept {
  try {
    tree_ = index_ ? index_->Acquire() : ScanProject(path_);
  } catch (...) {
    failure_ = std::current_exception();
  }
  done_ = true;
}

TProjectTreeRef TProjectScan::Take() {
  if (thread_.Joinable()) {
    thread_.Join();
  } else if (!done_) {
    Run();
  }
  ReleaseSlot();
  if (failure_) std::rethrow_exception(failure_);
  return tree_;
}

}  // namespace ormelin
