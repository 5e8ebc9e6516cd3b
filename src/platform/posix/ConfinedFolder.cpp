#include "platform/ConfinedFolder.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(SYS_openat2)
#include <linux/openat2.h>
#endif

#include <atomic>
#include <vector>

#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/posix/FileTimes.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/SystemError.h"

namespace ormelin {
namespace {

// A name as the system calls take it; a name holding NUL becomes one no
// entry has, so that every call on it fails.
std::string Native(std::string_view name) {
  std::string native;
  if (!ToNativePath(name, native) || native.find('/') != std::string::npos) return std::string();
  return native;
}

bool StatAt(int folder, std::string_view name, struct stat& st) {
  const std::string native = Native(name);
  return !native.empty() && fstatat(folder, native.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Removes `name` of `folder` with everything in it, never through a link.
bool DeleteTreeAt(int folder, const std::string& name) {
  struct stat st {};
  if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlinkat(folder, name.c_str(), 0) == 0;
  const int fd = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return false;
  }
  bool whole = true;
  while (dirent* entry = readdir(dir)) {
    const std::string child = entry->d_name;
    if (child == "." || child == "..") continue;
    if (!DeleteTreeAt(fd, child)) whole = false;
  }
  closedir(dir);
  return unlinkat(folder, name.c_str(), AT_REMOVEDIR) == 0 && whole;
}

// Set once the system has refused unnamed files or naming a file through
// its own handle, so later files go the other way at once.
std::atomic<bool> gNoUnnamedFiles{false};
std::atomic<bool> gNoEmptyPathLink{false};

}  // namespace

struct TConfinedFolder::TImpl {
  int Fd = -1;
  ~TImpl() {
    if (Fd >= 0) close(Fd);
  }
};

TConfinedFolder::TConfinedFolder(std::string_view root, std::string_view path)
    : impl_(std::make_unique<TImpl>()), shown_(ShownPath(root, path)) {
  const std::vector<std::string> parts = ConfinedPathParts(path, shown_, name_);
  std::string native;
  if (!ToNativePath(root.empty() ? std::string_view(".") : root, native)) {
    throw EFOpenError(PlatformPath(root), SystemErrorMessage(errno));
  }
  // The root as named: O_PATH needs no right to read it, only to pass.
  impl_->Fd = open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (impl_->Fd < 0) throw EFOpenError(PlatformPath(root), SystemErrorMessage(errno));
  std::string walked(root);
  for (const std::string& part : parts) {
    walked += '\\';
    walked += part;
    const std::string name = Native(part);
    int next = name.empty()
                   ? -1
                   : openat(impl_->Fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = name.empty() ? EINVAL : errno;
    struct stat st {};
    // O_PATH with O_NOFOLLOW may hand out the link itself: checked here.
    if (next >= 0 && (fstat(next, &st) != 0 || !S_ISDIR(st.st_mode))) {
      error = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
      close(next);
      next = -1;
    }
    if (next < 0) {
      if (error == ELOOP || (StatAt(impl_->Fd, part, st) && S_ISLNK(st.st_mode))) {
        throw LinkInPathError(shown_, walked);
      }
      throw EFOpenError(PlatformPath(walked), SystemErrorMessage(error));
    }
    close(impl_->Fd);
    impl_->Fd = next;
  }
}

TConfinedFolder::~TConfinedFolder() = default;

std::unique_ptr<TConfinedFolder> TConfinedFolder::OpenBelow(std::string_view path,
                                                            std::string_view shown) const {
  std::string last;
  const std::vector<std::string> parts = ConfinedPathParts(path, shown, last);
  if (parts.empty())
    return std::unique_ptr<TConfinedFolder>(new TConfinedFolder(impl_, last, shown));
#if defined(SYS_openat2)
  std::string way;
  for (const std::string& part : parts) {
    const std::string name = Native(part);
    if (name.empty()) return nullptr;
    if (!way.empty()) way += '/';
    way += name;
  }
  // No link anywhere on the way, as the walk from the root checks part by
  // part; nothing above this folder either.
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
  const long fd = syscall(SYS_openat2, impl_->Fd, way.c_str(), &how, sizeof how);
  if (fd < 0) return nullptr;
  auto impl = std::make_shared<TImpl>();
  impl->Fd = static_cast<int>(fd);
  return std::unique_ptr<TConfinedFolder>(new TConfinedFolder(std::move(impl), last, shown));
#else
  return nullptr;
#endif
}

TEntryKind TConfinedFolder::Kind(std::string_view name) const {
  struct stat st {};
  if (!StatAt(impl_->Fd, name, st)) return TEntryKind::None;
  if (S_ISLNK(st.st_mode)) return TEntryKind::Link;
  if (S_ISDIR(st.st_mode)) return TEntryKind::Folder;
  if (S_ISREG(st.st_mode)) return TEntryKind::File;
  return TEntryKind::Other;
}

bool TConfinedFolder::IsReadOnly(std::string_view name) const {
  struct stat st {};
  return StatAt(impl_->Fd, name, st) && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

std::string TConfinedFolder::OtherCase(std::string_view name) const {
  const int fd = openat(impl_->Fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::string();
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return std::string();
  }
  std::string found;
  while (dirent* entry = readdir(dir)) {
    std::string other = Utf8ToCp1250(entry->d_name);
    if (other != name && SameTextFolded(other, name) && Cp1250ToUtf8(other) == entry->d_name) {
      found = std::move(other);
      break;
    }
  }
  closedir(dir);
  return found;
}

bool TConfinedFolder::Identity(std::string_view name, TFolderIdentity& identity) const {
  struct stat st {};
  if (!StatAt(impl_->Fd, name, st)) return false;
  identity.Device = static_cast<uint64_t>(st.st_dev);
  identity.Inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool TConfinedFolder::SameEntry(std::string_view a, std::string_view b) const {
  struct stat first {
  }, second{};
  return StatAt(impl_->Fd, a, first) && StatAt(impl_->Fd, b, second) &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool TConfinedFolder::CreateFolder(std::string_view name) {
  const std::string native = Native(name);
  return !native.empty() && mkdirat(impl_->Fd, native.c_str(), 0777) == 0;
}

bool TConfinedFolder::DeleteFile(std::string_view name) {
  struct stat st {};
  if (!StatAt(impl_->Fd, name, st) || S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) return false;
  return unlinkat(impl_->Fd, Native(name).c_str(), 0) == 0;
}

bool TConfinedFolder::DeleteTree(std::string_view name) {
  const std::string native = Native(name);
  return !native.empty() && DeleteTreeAt(impl_->Fd, native);
}

bool TConfinedFolder::Rename(std::string_view from, std::string_view to) {
  const std::string nativeFrom = Native(from), nativeTo = Native(to);
  return !nativeFrom.empty() && !nativeTo.empty() &&
         renameat(impl_->Fd, nativeFrom.c_str(), impl_->Fd, nativeTo.c_str()) == 0;
}

bool TConfinedFolder::SetDate(std::string_view name, TDateTime value) {
  timespec times[2];
  const std::string native = Native(name);
  return !native.empty() && DosFileTimes(value, times) &&
         utimensat(impl_->Fd, native.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

namespace {

// The permissions for a new file: those of the regular file `like` (true),
// else what the file-creation mask leaves of 0666.
bool PermissionsOf(int folder, std::string_view like, mode_t& mode) {
  struct stat st {};
  if (like.empty() || !StatAt(folder, like, st) || !S_ISREG(st.st_mode)) return false;
  mode = st.st_mode & 07777;
  return true;
}

std::unique_ptr<TFileWriteStream> Adopted(int fd, bool keep, mode_t mode,
                                          std::string_view shownPath) {
  // The mask must not narrow the permissions the old file had.
  if (keep) fchmod(fd, mode);
  return TFileWriteStream::Adopt(fd, shownPath);
}

}  // namespace

std::unique_ptr<TFileWriteStream> TConfinedFolder::CreateFile(std::string_view name,
                                                              std::string_view shownPath,
                                                              std::string_view like) {
  mode_t mode = 0666;
  const bool keep = PermissionsOf(impl_->Fd, like, mode);
  const std::string native = Native(name);
  const int fd = native.empty()
                     ? -1
                     : openat(impl_->Fd, native.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    throw EFCreateError(std::string(shownPath),
                        SystemErrorMessage(native.empty() ? EINVAL : errno));
  }
  return Adopted(fd, keep, mode, shownPath);
}

std::unique_ptr<TFileWriteStream> TConfinedFolder::CreateUnnamed(std::string_view shownPath,
                                                                 std::string_view like) {
  // Naming the file later takes /proc (without a capability few hold).
  static const bool handlesHaveNames = access("/proc/self/fd", X_OK) == 0;
  if (gNoUnnamedFiles || !handlesHaveNames) return nullptr;
  mode_t mode = 0666;
  const bool keep = PermissionsOf(impl_->Fd, like, mode);
  const int fd = openat(impl_->Fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (fd < 0) {
    // A file system without unnamed files, or a kernel that predates them
    // (it takes the flag for a folder's). Any other failure is left to the
    // named way too, which reports it as it always has.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) gNoUnnamedFiles = true;
    return nullptr;
  }
  return Adopted(fd, keep, mode, shownPath);
}

TFileWriteStream::TPublishResult TConfinedFolder::Publish(TFileWriteStream& file,
                                                          std::string_view name) {
  using TResult = TFileWriteStream::TPublishResult;
  const int fd = static_cast<int>(file.NativeHandle());
  const std::string native = Native(name);
  if (fd < 0 || native.empty()) return TResult::Failed;
  if (!gNoEmptyPathLink) {
    if (linkat(fd, "", impl_->Fd, native.c_str(), AT_EMPTY_PATH) == 0) return TResult::Done;
    if (errno == EEXIST) return TResult::Exists;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return TResult::Failed;
  }
  // The link in /proc names the open file itself, wherever it is.
  const std::string handlePath = "/proc/self/fd/" + std::to_string(fd);
  if (linkat(AT_FDCWD, handlePath.c_str(), impl_->Fd, native.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    gNoEmptyPathLink = true;
    return TResult::Done;
  }
  return errno == EEXIST ? TResult::Exists : TResult::Failed;
}

}  // namespace ormelin
