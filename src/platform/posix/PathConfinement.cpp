#include "platform/PathConfinement.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/Exceptions.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/SystemError.h"

namespace ormelin {

namespace {

// The final target of a system path, every link on the way followed; false
// when it has none.
bool Resolve(std::string_view path, std::string& resolved) {
  std::string native;
  if (!ToNativePath(path, native)) return false;
  char* found = realpath(native.c_str(), nullptr);
  if (found == nullptr) return false;
  resolved = found;
  free(found);
  return true;
}

// Both paths are resolved: absolute, without "." or ".." parts, repeated
// separators or a trailing one (but "/" itself).
bool LiesWithin(const std::string& root, const std::string& target) {
  if (target.compare(0, root.size(), root) != 0) return false;
  return target.size() == root.size() || root.back() == '/' || target[root.size()] == '/';
}

}  // namespace

std::string ConfinedPath(std::string_view root, std::string_view path) {
  return ConfinedPathByPosixRules(root, path);
}

struct TResolvedRoot::TImpl {
  bool Resolved = false;
  std::string Path;
};

TResolvedRoot::TResolvedRoot(std::string_view root) : impl_(std::make_unique<TImpl>()) {
  impl_->Resolved = Resolve(root, impl_->Path);
}

TResolvedRoot::~TResolvedRoot() = default;

TResolvedRoot::TPlace TResolvedRoot::Locate(std::string_view path) const {
  std::string target;
  if (!impl_->Resolved || !Resolve(path, target)) return TPlace::Nowhere;
  return LiesWithin(impl_->Path, target) ? TPlace::Inside : TPlace::Outside;
}

bool TResolvedRoot::HoldsOpenFile(TNativeHandle handle, std::string_view path) const {
  if (!impl_->Resolved) return false;
  const int fd = static_cast<int>(handle);
  // The system's own name of the open file, which nothing done to the path
  // since can change.
  char name[4096];
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = readlink(self.c_str(), name, sizeof name);
  if (length > 0 && static_cast<size_t>(length) < sizeof name && name[0] == '/') {
    return LiesWithin(impl_->Path, std::string(name, static_cast<size_t>(length)));
  }
  // Without /proc: the path resolved now, and the file found there the one
  // that is open (a path that led elsewhere when it was opened leads to
  // another file now).
  std::string target;
  if (!Resolve(path, target) || !LiesWithin(impl_->Path, target)) return false;
  struct stat there {};
  struct stat open {};
  return stat(target.c_str(), &there) == 0 && fstat(fd, &open) == 0 &&
         there.st_dev == open.st_dev && there.st_ino == open.st_ino;
}

void RefuseAsMissing(const std::string& fullPath) {
  throw EFOpenError(fullPath, SystemErrorMessage(ENOENT));
}

}  // namespace ormelin
