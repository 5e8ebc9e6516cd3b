#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "platform/posix/FileTimes.h"
#include "platform/posix/NativePath.h"
#include "platform/posix/SystemError.h"

namespace ormelin {
namespace {

int Fd(TNativeHandle handle) {
  return static_cast<int>(handle);
}

[[noreturn]] void RaiseOpenError(std::string_view path, const std::string& reason) {
  throw EFOpenError(std::string(path), reason);
}

[[noreturn]] void RaiseOpenError(std::string_view path, int error) {
  RaiseOpenError(path, SystemErrorMessage(error));
}

int64_t ModifiedNanoseconds(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

TFileStream::TFileStream(std::string_view path) {
  Open(path);
}

void TFileStream::Open(std::string_view path) {
  std::string native;
  if (!ToNativePath(path, native)) RaiseOpenError(path, errno);
  // Non-blocking, so that a FIFO placed where a file was expected fails
  // below instead of holding the caller until some writer appears.
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) RaiseOpenError(path, errno);
  Adopt(fd, path);
}

void TFileStream::Adopt(TNativeHandle handle, std::string_view path) {
  const int fd = Fd(handle);
  struct stat st {};
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    close(fd);
    RaiseOpenError(path, "Not a regular file");
  }
  if (error != 0) {
    close(fd);
    RaiseOpenError(path, error);
  }
  handle_ = fd;
  size_ = static_cast<int64_t>(st.st_size);
  modified_ = ModifiedNanoseconds(st);
}

bool TFileStream::ChangedSinceOpened() const {
  struct stat st {};
  if (fstat(Fd(handle_), &st) != 0) return true;
  return static_cast<int64_t>(st.st_size) != size_ || ModifiedNanoseconds(st) != modified_;
}

TFileStream::~TFileStream() {
  if (handle_ != kNoNativeHandle) close(Fd(handle_));
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (position_ < 0) return 0;
  size_t done = 0;
  while (done < count) {
    ssize_t n = pread(Fd(handle_), static_cast<char*>(buffer) + done, count - done,
                      static_cast<off_t>(position_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw EStreamError("Stream read error. " + SystemErrorMessage(errno));
    if (n == 0) break;
    done += static_cast<size_t>(n);
    position_ += n;
  }
  return done;
}

void TFileStream::Write(const void*, size_t) {
  throw EStreamError("Stream write error");
}
void TFileStream::SetSize(int64_t) {
  throw EStreamError("Stream write error");
}

TFileWriteStream::TFileWriteStream(std::string_view path, std::string_view shownPath)
    : shownPath_(shownPath.empty() ? path : shownPath) {
  std::string native;
  if (!ToNativePath(path, native)) RaiseWriteError(errno);
  handle_ = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (handle_ < 0) RaiseWriteError(errno);
}

TFileWriteStream::~TFileWriteStream() {
  if (handle_ != kNoNativeHandle) close(Fd(handle_));
}

void TFileWriteStream::RaiseWriteError(int error) const {
  throw EFCreateError(shownPath_, SystemErrorMessage(error));
}

size_t TFileWriteStream::Read(void*, size_t) {
  throw EStreamError("Stream read error");
}

void TFileWriteStream::Write(const void* buffer, size_t count) {
  if (handle_ == kNoNativeHandle) RaiseWriteError(EBADF);
  size_t done = 0;
  while (done < count) {
    ssize_t n = pwrite(Fd(handle_), static_cast<const char*>(buffer) + done, count - done,
                       static_cast<off_t>(position_));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) RaiseWriteError(errno);
    done += static_cast<size_t>(n);
    position_ += n;
  }
  if (position_ > size_) size_ = position_;
}

void TFileWriteStream::SetSize(int64_t size) {
  if (handle_ == kNoNativeHandle) RaiseWriteError(EBADF);
  if (size < 0) size = 0;
  if (size == size_) return;  // the common case: cut back to where the writing ended
  if (ftruncate(Fd(handle_), static_cast<off_t>(size)) != 0) RaiseWriteError(errno);
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void TFileWriteStream::Close() {
  if (handle_ == kNoNativeHandle) return;
  const int handle = Fd(handle_);
  handle_ = kNoNativeHandle;
  if (close(handle) != 0) RaiseWriteError(errno);
}

namespace {

// Set once the system has refused unnamed files, so later files go the named
// way at once instead of each asking again.
std::atomic<bool> gNoUnnamedFiles{false};
// Set once naming a file through its handle itself has been refused (it
// takes a capability), so later files are named through /proc at once.
std::atomic<bool> gNoEmptyPathLink{false};

// The folder a thread last made an unnamed file in, kept open: a mirror
// writes its files folder by folder, and the calls made through the open
// folder skip looking its path up again for every file. A folder moved or
// removed meanwhile is one the file follows or fails in, as it would a
// moment later.
class TLastFolder {
 public:
  ~TLastFolder() { Forget(); }
  // The folder's handle (opened if another folder was kept), or -1.
  int Open(const std::string& native) {
    if (fd_ >= 0 && native == path_) return fd_;
    Forget();
    fd_ = open(native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) path_ = native;
    return fd_;
  }
  // The handle when `native` is the kept folder, else -1.
  int Find(std::string_view native) const { return fd_ >= 0 && native == path_ ? fd_ : -1; }
  void Forget() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    path_.clear();
  }

 private:
  std::string path_;
  int fd_ = -1;
};

thread_local TLastFolder tLastFolder;

}  // namespace

std::unique_ptr<TFileWriteStream> TFileWriteStream::CreateUnnamed(std::string_view folder,
                                                                  std::string_view shownPath) {
  // Naming the file later takes /proc (without a capability few hold).
  static const bool handlesHaveNames = access("/proc/self/fd", X_OK) == 0;
  if (gNoUnnamedFiles || !handlesHaveNames) return nullptr;
  std::string native;
  if (!ToNativePath(folder.empty() ? std::string_view(".") : folder, native)) return nullptr;
  const int parent = tLastFolder.Open(native);
  const int fd = parent < 0 ? -1 : openat(parent, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    // A file system without unnamed files, or a kernel that predates them
    // (it takes the flag for a folder's). Any other failure is left to the
    // named way too, which reports it as it always has.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) gNoUnnamedFiles = true;
    tLastFolder.Forget();  // it may be a folder removed since
    return nullptr;
  }
  return std::unique_ptr<TFileWriteStream>(new TFileWriteStream(fd, shownPath));
}

TFileWriteStream::TPublishResult TFileWriteStream::Publish(std::string_view path) {
  std::string native;
  if (handle_ == kNoNativeHandle || !ToNativePath(path, native)) return TPublishResult::Failed;
  // The name within the kept folder where the path is in it.
  const size_t slash = native.rfind('/');
  int parent = slash == std::string::npos
                   ? -1
                   : tLastFolder.Find(std::string_view(native).substr(0, slash + 1));
  const char* name = native.c_str();
  if (parent >= 0) {
    name += slash + 1;
  } else {
    parent = AT_FDCWD;
  }
  if (!gNoEmptyPathLink) {
    if (linkat(Fd(handle_), "", parent, name, AT_EMPTY_PATH) == 0) return TPublishResult::Done;
    if (errno == EEXIST) return TPublishResult::Exists;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return TPublishResult::Failed;
  }
  const std::string handlePath = "/proc/self/fd/" + std::to_string(Fd(handle_));
  if (linkat(AT_FDCWD, handlePath.c_str(), parent, name, AT_SYMLINK_FOLLOW) == 0) {
    gNoEmptyPathLink = true;
    return TPublishResult::Done;
  }
  return errno == EEXIST ? TPublishResult::Exists : TPublishResult::Failed;
}

bool TFileWriteStream::SetDate(TDateTime value) {
  timespec times[2];
  return handle_ != kNoNativeHandle && DosFileTimes(value, times) &&
         futimens(Fd(handle_), times) == 0;
}

void ReportFileSizeLimitAsError() {
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace ormelin
