#include "server/uProjectScan.h"

#include "comparer/StructStreamer.h"

namespace ormelin {

TProjectScan::TProjectScan(std::string_view path)
    : path_(path), tree_(std::make_unique<TDirectory>()) {
  try {
    // The system's default stack: the scan is no recursion, but the folder
    // lists it sorts and compares may be long.
    thread_ = TThread([this] { Run(); }, 0, "ormelin-scan");
  } catch (const EThreadError&) {
    // Out of threads: Take reads the folder itself.
  }
}

TProjectScan::~TProjectScan() { thread_.Join(); }

void TProjectScan::Run() noexcept {
  try {
    TLoader::LoadFromDisk(path_, tree_.get());
  } catch (...) {
    failure_ = std::current_exception();
  }
  done_ = true;
}

std::unique_ptr<TDirectory> TProjectScan::Take() {
  if (thread_.Joinable()) {
    thread_.Join();
  } else if (!done_) {
    Run();
  }
  if (failure_) std::rethrow_exception(failure_);
  return std::move(tree_);
}

}  // namespace ormelin
