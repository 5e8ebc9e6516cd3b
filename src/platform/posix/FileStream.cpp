#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exceptions.h"
#include "platform/Streams.h"
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

}  // namespace

TFileStream::TFileStream(std::string_view path) {
  std::string native;
  if (!ToNativePath(path, native)) RaiseOpenError(path, errno);
  // Non-blocking, so that a FIFO placed where a file was expected fails
  // below instead of holding the caller until some writer appears.
  int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) RaiseOpenError(path, errno);
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

void ReportFileSizeLimitAsError() {
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace ormelin
