#include "server/uProjectFiles.h"

#include <utility>

namespace ormelin {

namespace {

// The joined path, refused before it is opened when it already resolves
// outside: a folder or a file the server may not read out there would
// otherwise fail with a reason of its own. A path that resolves nowhere is
// left to the open, whose reason (a missing file) then tells nothing.
const std::string& OpenablePath(const TResolvedRoot& root, const std::string& fullPath) {
  if (root.Locate(fullPath) == TResolvedRoot::TPlace::Outside) RefuseAsMissing(fullPath);
  return fullPath;
}

// More roots than any server serves: the entries of projects removed since
// are dropped together once there are this many.
constexpr size_t kMaxHeldRoots = 1024;

}  // namespace

std::string ProjectFilePath(std::string_view root, std::string_view path) {
  return ConfinedPath(root, path);
}

TProjectFile::TProjectFile(std::string_view root, std::string_view path)
    : TProjectFile(TResolvedRoot(root), ProjectFilePath(root, path)) {}

TProjectFile::TProjectFile(const TResolvedRoot& root, const std::string& fullPath)
    : TFileStream(OpenablePath(root, fullPath)) {
  if (!root.HoldsOpenFile(NativeHandle(), fullPath)) RefuseAsMissing(fullPath);
}

TProjectFile::TProjectFile(const THeldRoot& held, std::string_view root, std::string_view path) {
  const std::string fullPath = ProjectFilePath(root, path);
  const TNativeHandle handle = held.OpenBeneath(path);
  if (handle != kNoNativeHandle) {
    Adopt(handle, fullPath);
    return;
  }
  const TResolvedRoot resolved(root);
  Open(OpenablePath(resolved, fullPath));
  if (!resolved.HoldsOpenFile(NativeHandle(), fullPath)) RefuseAsMissing(fullPath);
}

std::shared_ptr<const THeldRoot> TProjectRoots::Find(const std::string& root) {
  std::shared_ptr<const THeldRoot> held;
  {
    TMutexLock guard(lock_);
    const auto found = roots_.find(root);
    if (found != roots_.end()) held = found->second;
  }
  if (held && held->StillNamed()) return held;
  held = std::make_shared<const THeldRoot>(root);
  TMutexLock guard(lock_);
  if (roots_.size() >= kMaxHeldRoots) roots_.clear();
  roots_[root] = held;
  return held;
}

}  // namespace ormelin
