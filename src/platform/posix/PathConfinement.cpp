#include "platform/PathConfinement.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(SYS_openat2)
#include <linux/openat2.h>
#endif

#include <atomic>
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

struct THeldRoot::TImpl {
  int Fd = -1;
  dev_t Device = 0;
  ino_t Inode = 0;
  std::string Native;
  ~TImpl() {
    if (Fd >= 0) close(Fd);
  }
};

namespace {

// Set once the system has no openat2: every file then goes by its path.
std::atomic<bool> gNoOpenBeneath{false};

}  // namespace

THeldRoot::THeldRoot(std::string_view root) : impl_(std::make_unique<TImpl>()) {
  if (!ToNativePath(root, impl_->Native)) return;
  // O_PATH: the folder is only a starting point, read by nobody.
  const int fd = open(impl_->Native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0) return;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return;
  }
  impl_->Fd = fd;
  impl_->Device = st.st_dev;
  impl_->Inode = st.st_ino;
}

THeldRoot::~THeldRoot() = default;

bool THeldRoot::StillNamed() const {
  struct stat st {};
  return impl_->Fd >= 0 && stat(impl_->Native.c_str(), &st) == 0 && st.st_dev == impl_->Device &&
         st.st_ino == impl_->Inode;
}

TNativeHandle THeldRoot::OpenBeneath(std::string_view path) const {
#if defined(SYS_openat2)
  if (impl_->Fd < 0 || gNoOpenBeneath.load(std::memory_order_relaxed)) return kNoNativeHandle;
  std::string native;
  if (!ToNativePath(path, native)) return kNoNativeHandle;
  const size_t start = native.find_first_not_of('/');
  const char* relative = start == std::string::npos ? "." : native.c_str() + start;
  // RESOLVE_BENEATH refuses ".." above the folder and every absolute link;
  // magic links (/proc/self/fd/...) could jump anywhere and are refused too.
  open_how how{};
  how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, impl_->Fd, relative, &how, sizeof how);
  if (fd >= 0) return static_cast<TNativeHandle>(fd);
  // Any failure goes the full path's way, which tells it as it always has.
  if (errno == ENOSYS) gNoOpenBeneath = true;
  return kNoNativeHandle;
#else
  (void)path;
  return kNoNativeHandle;
#endif
}

void RefuseAsMissing(const std::string& fullPath) {
  throw EFOpenError(fullPath, SystemErrorMessage(ENOENT));
}

}  // namespace ormelin
