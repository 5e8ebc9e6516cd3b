#include "platform/FileSystem.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Mutex.h"
#include "platform/Paths.h"
#include "platform/Streams.h"
#include "platform/posix/FileTimes.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/SystemError.h"

namespace ormelin {
namespace {

bool StatPath(std::string_view path, struct stat& st) {
  std::string native;
  return ToNativePath(path, native) && stat(native.c_str(), &st) == 0;
}

// Closes a descriptor on every path.
class TDescriptor {
 public:
  explicit TDescriptor(int fd) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Removes the entry `name` of the folder `parent`, a folder with all its
// content. Links are removed, never followed.
bool RemoveEntry(int parent, const char* name) {
  struct stat st {};
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  TDescriptor folder(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.Get() < 0) return false;
  std::vector<std::string> names;
  {
    int listing = dup(folder.Get());
    DIR* dir = listing < 0 ? nullptr : fdopendir(listing);
    if (dir == nullptr) {
      if (listing >= 0) close(listing);
      return false;
    }
    while (dirent* entry = readdir(dir)) {
      std::string_view entryName(entry->d_name);
      if (entryName != "." && entryName != "..") names.emplace_back(entryName);
    }
    closedir(dir);
  }
  bool complete = true;
  for (const auto& child : names) complete = RemoveEntry(folder.Get(), child.c_str()) && complete;
  if (!complete) return false;
  return unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

[[noreturn]] void RaiseOpenError(std::string_view path, int error) {
  throw EFOpenError(std::string(path), SystemErrorMessage(error));
}

[[noreturn]] void RaiseCreateError(std::string_view path, int error) {
  throw EFCreateError(std::string(path), SystemErrorMessage(error));
}

TDateTime LocalFieldsToDateTime(const tm& t) {
  TDateTime date = 0, time = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, date);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec, 0, time);
  return date + time;
}

}  // namespace

bool FileExists(std::string_view path) {
  struct stat st {};
  return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  struct stat st {};
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool CreateDir(std::string_view path) {
  std::string native;
  return ToNativePath(path, native) && mkdir(native.c_str(), 0777) == 0;
}

namespace {

// A file nobody may write to is read-only (a link never is: it is removed
// itself, whatever its target).
bool IsReadOnly(const struct stat& st) {
  return !S_ISLNK(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool DeleteFile(std::string_view path) {
  std::string native;
  struct stat st {};
  if (!ToNativePath(path, native) || lstat(native.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return false;
  if (IsReadOnly(st)) {
    errno = EACCES;
    return false;
  }
  return unlink(native.c_str()) == 0;
}

bool FileIsReadOnly(std::string_view path) {
  std::string native;
  struct stat st {};
  return ToNativePath(path, native) && lstat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
         IsReadOnly(st);
}

bool RenameFile(std::string_view from, std::string_view to) {
  std::string nativeFrom, nativeTo;
  return ToNativePath(from, nativeFrom) && ToNativePath(to, nativeTo) &&
         rename(nativeFrom.c_str(), nativeTo.c_str()) == 0;
}

bool DeleteTree(std::string_view path) {
  std::string native;
  if (!ToNativePath(path, native)) return false;
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st {};
  // Never the whole file system; and only a folder or a link standing for one.
  if (native.empty() || native == "/" || lstat(native.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) return unlink(native.c_str()) == 0;
  if (!S_ISDIR(st.st_mode)) return false;
  return RemoveEntry(AT_FDCWD, native.c_str());
}

namespace {

// The process's time-zone state, which mktime reads and may reload.
TMutex timeZoneLock;

time_t LocalMakeTime(tm& fields) REQUIRES(timeZoneLock) {
  return mktime(&fields);
}

// The seconds since 1970 of the local time `fields`, as mktime gives them.
// mktime looks at the system's time-zone file again on every call (a stat
// per file written); where the offset from UTC is the same a day before and
// after, the time is neither skipped nor repeated and the conversion follows
// from localtime_r, which does not. Times near a change of offset go to
// mktime itself.
bool LocalFieldsToSeconds(const tm& fields, time_t& seconds) {
  tm probe = fields;
  const time_t asUniversal = timegm(&probe);
  if (asUniversal != static_cast<time_t>(-1) && localtime_r(&asUniversal, &probe) != nullptr) {
    const time_t candidate = asUniversal - probe.tm_gmtoff;
    if (localtime_r(&candidate, &probe) != nullptr && probe.tm_year == fields.tm_year &&
        probe.tm_mon == fields.tm_mon && probe.tm_mday == fields.tm_mday &&
        probe.tm_hour == fields.tm_hour && probe.tm_min == fields.tm_min &&
        probe.tm_sec == fields.tm_sec) {
      const long offset = probe.tm_gmtoff;
      const time_t before = candidate - 86400;
      const time_t after = candidate + 86400;
      tm near{};
      if (localtime_r(&before, &near) != nullptr && near.tm_gmtoff == offset &&
          localtime_r(&after, &near) != nullptr && near.tm_gmtoff == offset) {
        seconds = candidate;
        return true;
      }
    }
  }
  probe = fields;
  probe.tm_isdst = -1;
  errno = 0;
  {
    TMutexLock guard(timeZoneLock);
    seconds = LocalMakeTime(probe);
  }
  return !(seconds == static_cast<time_t>(-1) && errno != 0);
}

}  // namespace

bool DosFileTimes(TDateTime value, timespec times[2]) {
  tm local{};
  DecodeDate(value, local.tm_year, local.tm_mon, local.tm_mday);
  int millisecond = 0;
  DecodeTime(value, local.tm_hour, local.tm_min, local.tm_sec, millisecond);
  // The DOS form: whole two-second steps, years 1980 to 2107 only.
  if (local.tm_year < 1980 || local.tm_year > 2107) return false;
  local.tm_sec &= ~1;
  local.tm_year -= 1900;
  local.tm_mon -= 1;
  local.tm_isdst = -1;
  time_t seconds;
  if (!LocalFieldsToSeconds(local, seconds)) return false;
  times[0].tv_sec = times[1].tv_sec = seconds;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  return true;
}

bool SetFileDate(std::string_view path, TDateTime value) {
  std::string native;
  timespec times[2];
  return ToNativePath(path, native) && DosFileTimes(value, times) &&
         utimensat(AT_FDCWD, native.c_str(), times, 0) == 0;
}

std::string ReadFileToString(std::string_view path) {
  std::string native;
  if (!ToNativePath(path, native)) RaiseOpenError(path, errno);
  // Non-blocking, so that a FIFO in the file's place fails below instead of
  // holding the caller until some writer appears.
  TDescriptor file(open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.Get() < 0) RaiseOpenError(path, errno);
  struct stat st {};
  if (fstat(file.Get(), &st) != 0) RaiseOpenError(path, errno);
  if (S_ISDIR(st.st_mode)) RaiseOpenError(path, EISDIR);
  if (!S_ISREG(st.st_mode)) {
    throw EFOpenError(std::string(path), "Not a regular file");
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = read(file.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      throw EStreamError("Cannot read file \"" + std::string(path) + "\". " +
                         SystemErrorMessage(errno));
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  return data;
}

void WriteStringToFile(std::string_view path, std::string_view data) {
  TFileWriteStream file(path);
  try {
    file.Write(data.data(), data.size());
    file.Close();
  } catch (const EFCreateError&) {
    std::string native;
    if (ToNativePath(path, native)) unlink(native.c_str());  // no half-written file stays behind
    throw;
  }
}

namespace {

constexpr int MaxLinkDepth = 40;  // as the system's own path lookup allows

// The entry a path finally names once every link on it is followed; it need
// not exist yet. False with errno set when a link cannot be read or the
// chain does not end.
bool FollowLinks(std::string path, std::string& target) {
  for (int depth = 0; depth <= MaxLinkDepth; ++depth) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return false;
      target = path;  // a new file, or the missing file a link names
      return true;
    }
    if (!S_ISLNK(st.st_mode)) {
      target = path;
      return true;
    }
    std::vector<char> buffer(256);
    ssize_t length;
    while ((length = readlink(path.c_str(), buffer.data(), buffer.size())) >= 0 &&
           static_cast<size_t>(length) == buffer.size()) {
      buffer.resize(buffer.size() * 2);
    }
    if (length < 0) return false;
    std::string link(buffer.data(), static_cast<size_t>(length));
    if (link.empty() || link[0] != '/') link = path.substr(0, path.rfind('/') + 1) + link;
    path = std::move(link);
  }
  errno = ELOOP;
  return false;
}

// Creates an unused, hidden file beside `target` for its new content, with
// the permissions `mode` as the process's file-creation mask leaves them.
int CreateSibling(const std::string& target, mode_t mode, std::string& name) {
  static std::atomic<unsigned> counter{0};
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  for (;;) {
    name = folder + "." + base + "." + std::to_string(getpid()) + "-" + std::to_string(++counter) +
           ".tmp";
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Makes the rename of an entry of `folder` last through a crash. The file
// is in place whether or not this succeeds, so failures are not reported.
void SyncFolderOf(const std::string& target) {
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  TDescriptor handle(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.Get() >= 0) fsync(handle.Get());
}

// Fills the new sibling `temporary` of `target` (open as `fd`, which this
// closes) with `data` after `prepare` (which returns 0 or an errno), and
// puts it in the place of `target`. On any failure the sibling goes and
// the error is raised for `path`.
template <typename TPrepare>
void PutSiblingInPlace(std::string_view path, const std::string& target, int fd,
                       const std::string& temporary, std::string_view data, TPrepare prepare) {
  int error = 0;
  {
    TDescriptor file(fd);
    error = prepare(fd);
    if (error == 0 && !WriteAll(fd, data)) error = errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
  }
  if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    RaiseCreateError(path, error);
  }
  SyncFolderOf(target);
}

}  // namespace

void ReplaceFileContents(std::string_view path, std::string_view data) {
  std::string native, target;
  if (!ToNativePath(path, native) || !FollowLinks(native, target)) RaiseCreateError(path, errno);
  struct stat old {};
  const bool replacing = stat(target.c_str(), &old) == 0;
  std::string temporary;
  int fd = CreateSibling(target, replacing ? (old.st_mode & 07777) : 0666, temporary);
  if (fd < 0) RaiseCreateError(path, errno);
  PutSiblingInPlace(path, target, fd, temporary, data, [&](int descriptor) {
    if (!replacing) return 0;
    // Only root may give a file away; others keep the group where they
    // can, and otherwise the new file is their own.
    if (fchown(descriptor, old.st_uid, old.st_gid) != 0 &&
        fchown(descriptor, static_cast<uid_t>(-1), old.st_gid) != 0) {
      errno = 0;
    }
    return fchmod(descriptor, old.st_mode & 07777) != 0 ? errno : 0;
  });
}

void WritePrivateFile(std::string_view path, std::string_view data) {
  std::string target;
  if (!ToNativePath(path, target)) RaiseCreateError(path, errno);
  std::string temporary;
  int fd = CreateSibling(target, 0600, temporary);
  if (fd < 0) RaiseCreateError(path, errno);
  // The mode asked for at creation is narrowed by the umask only.
  PutSiblingInPlace(path, target, fd, temporary, data,
                    [](int descriptor) { return fchmod(descriptor, 0600) != 0 ? errno : 0; });
}

namespace {

TDateTime ConvertDosRoundedTime(int64_t unixSeconds);

}  // namespace

TDateTime DosRoundedTime(int64_t unixSeconds) {
  // The files of a tree share few times (those of one unpacking, one build,
  // one copy), and the conversion to local time takes the C library's lock
  // and a search of the zone's rules: each thread keeps the last times it
  // converted. The zone of a process never changes while it runs.
  struct TSlot {
    int64_t Seconds = INT64_MIN;
    TDateTime Value = 0;
  };
  thread_local TSlot recent[256];
  TSlot& slot = recent[static_cast<uint64_t>(unixSeconds) % 256];
  if (slot.Seconds != unixSeconds) slot = {unixSeconds, ConvertDosRoundedTime(unixSeconds)};
  return slot.Value;
}

namespace {

TDateTime ConvertDosRoundedTime(int64_t unixSeconds) {
  static const TDateTime kFirst = EncodeDateTime(1980, 1, 1, 0, 0, 0);
  static const TDateTime kLast = EncodeDateTime(2107, 12, 31, 23, 59, 58);
  time_t seconds = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return unixSeconds < 0 ? kFirst : kLast;
  int year = local.tm_year + 1900;
  if (year < 1980) return kFirst;
  if (year > 2107) return kLast;
  local.tm_sec &= ~1;
  return LocalFieldsToDateTime(local);
}

}  // namespace

struct TFolderEnumerator::TImpl {
  DIR* dir = nullptr;
  TFolderIdentity identity;
};

TFolderEnumerator::TFolderEnumerator(std::string_view path) : impl_(std::make_unique<TImpl>()) {
  std::string native;
  if (!ToNativePath(path, native)) return;
  impl_->dir = opendir(native.c_str());
  struct stat st {};
  if (impl_->dir != nullptr && fstat(dirfd(impl_->dir), &st) == 0) {
    impl_->identity.Device = static_cast<uint64_t>(st.st_dev);
    impl_->identity.Inode = static_cast<uint64_t>(st.st_ino);
  }
}

TFolderEnumerator::~TFolderEnumerator() {
  if (impl_->dir != nullptr) closedir(impl_->dir);
}

bool TFolderEnumerator::IsOpen() const {
  return impl_->dir != nullptr;
}

TFolderIdentity TFolderEnumerator::Identity() const {
  return impl_->identity;
}

bool TFolderEnumerator::Next(TFolderEntry& entry) {
  if (impl_->dir == nullptr) return false;
  while (dirent* found = readdir(impl_->dir)) {
    std::string_view name(found->d_name);
    if (name == "." || name == "..") continue;
    struct stat st {};
    bool link = found->d_type == DT_LNK;
    if (found->d_type == DT_UNKNOWN) {
      if (fstatat(dirfd(impl_->dir), found->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      link = S_ISLNK(st.st_mode);
    }
    // Links are followed; an entry that cannot be examined (a dangling
    // link, no access) is left out.
    if (fstatat(dirfd(impl_->dir), found->d_name, &st, 0) != 0) continue;
    // Pipes, sockets and devices are no files a client could be sent.
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) continue;
    entry.Name = Utf8ToCp1250(name);
    // An ASCII name always comes back as it was; only others are converted
    // back to see whether the code page held every letter.
    const bool ascii = std::all_of(name.begin(), name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    entry.NameIsPath =
        name.find('\\') == std::string_view::npos && (ascii || Cp1250ToUtf8(entry.Name) == name);
    entry.IsDirectory = S_ISDIR(st.st_mode);
    entry.IsLink = link;
    entry.DateModified = DosRoundedTime(static_cast<int64_t>(st.st_mtim.tv_sec));
    return true;
  }
  return false;
}

}  // namespace ormelin
