#include <windows.h>

#include "platform/Exceptions.h"
#include "platform/Streams.h"
#include "platform/win32/FileHandle.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

namespace ormelin {
namespace {

[[noreturn]] void RaiseOpenError(std::string_view path, const std::string& reason) {
  throw EFOpenError(std::string(path), reason);
}

[[noreturn]] void RaiseOpenError(std::string_view path, DWORD error) {
  RaiseOpenError(path, SystemErrorMessage(error));
}

OVERLAPPED At(int64_t position) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(position));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
  return at;
}

int64_t FileTimeTicks(const FILETIME& time) {
  return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                              time.dwLowDateTime);
}

// One call moves at most this much; larger counts take several.
constexpr size_t kMaxTransfer = 1u << 30;

}  // namespace

TFileStream::TFileStream(std::string_view path) {
  Open(path);
}

void TFileStream::Open(std::string_view path) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) RaiseOpenError(path, GetLastError());
  // Other readers may open the file at the same time; nobody may write to,
  // rename or delete it while it is sent.
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) RaiseOpenError(path, GetLastError());
  Adopt(HandleToInt(file), path);
}

void TFileStream::Adopt(TNativeHandle handle, std::string_view path) {
  TFileHandle file(IntToHandle(static_cast<int>(handle)));
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) RaiseOpenError(path, "Not a regular file");
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size)) RaiseOpenError(path, GetLastError());
  FILETIME written{};
  if (!GetFileTime(file.Get(), nullptr, nullptr, &written)) RaiseOpenError(path, GetLastError());
  size_ = size.QuadPart;
  modified_ = FileTimeTicks(written);
  handle_ = HandleToInt(file.Release());
}

bool TFileStream::ChangedSinceOpened() const {
  // The file is open without write sharing, so only a failing handle can
  // tell a change here; asked all the same.
  LARGE_INTEGER size{};
  FILETIME written{};
  if (!GetFileSizeEx(IntToHandle(handle_), &size) ||
      !GetFileTime(IntToHandle(handle_), nullptr, nullptr, &written)) {
    return true;
  }
  return size.QuadPart != size_ || FileTimeTicks(written) != modified_;
}

TFileStream::~TFileStream() {
  if (handle_ != -1) CloseHandle(IntToHandle(handle_));
}

size_t TFileStream::Read(void* buffer, size_t count) {
  if (position_ < 0) return 0;
  size_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done < kMaxTransfer ? count - done : kMaxTransfer);
    DWORD n = 0;
    OVERLAPPED at = At(position_);
    if (!ReadFile(IntToHandle(handle_), static_cast<char*>(buffer) + done, chunk, &n, &at)) {
      DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      throw EStreamError("Stream read error. " + SystemErrorMessage(error));
    }
    if (n == 0) break;
    done += n;
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
  std::wstring wide;
  if (!ToWidePath(path, wide)) RaiseWriteError(static_cast<int>(GetLastError()));
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) RaiseWriteError(static_cast<int>(GetLastError()));
  handle_ = HandleToInt(file);
}

TFileWriteStream::~TFileWriteStream() {
  if (handle_ != -1) CloseHandle(IntToHandle(handle_));
}

void TFileWriteStream::RaiseWriteError(int error) const {
  throw EFCreateError(shownPath_, SystemErrorMessage(static_cast<DWORD>(error)));
}

size_t TFileWriteStream::Read(void*, size_t) {
  throw EStreamError("Stream read error");
}

void TFileWriteStream::Write(const void* buffer, size_t count) {
  if (handle_ == -1) RaiseWriteError(ERROR_INVALID_HANDLE);
  size_t done = 0;
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done < kMaxTransfer ? count - done : kMaxTransfer);
    DWORD n = 0;
    OVERLAPPED at = At(position_);
    if (!WriteFile(IntToHandle(handle_), static_cast<const char*>(buffer) + done, chunk, &n, &at)) {
      RaiseWriteError(static_cast<int>(GetLastError()));
    }
    done += n;
    position_ += n;
  }
  if (position_ > size_) size_ = position_;
}

void TFileWriteStream::SetSize(int64_t size) {
  if (handle_ == -1) RaiseWriteError(ERROR_INVALID_HANDLE);
  if (size < 0) size = 0;
  if (size == size_) return;  // the common case: cut back to where the writing ended
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (!SetFileInformationByHandle(IntToHandle(handle_), FileEndOfFileInfo, &end, sizeof end)) {
    RaiseWriteError(static_cast<int>(GetLastError()));
  }
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void TFileWriteStream::Close() {
  if (handle_ == -1) return;
  HANDLE handle = IntToHandle(handle_);
  handle_ = -1;
  if (!CloseHandle(handle)) RaiseWriteError(static_cast<int>(GetLastError()));
}

// Windows gives no file a name only once it is complete: callers write a
// named temporary file and rename it, and set its time by path once closed.
std::unique_ptr<TFileWriteStream> TFileWriteStream::CreateUnnamed(std::string_view,
                                                                  std::string_view) {
  return nullptr;
}

TFileWriteStream::TPublishResult TFileWriteStream::Publish(std::string_view) {
  return TPublishResult::Failed;
}

bool TFileWriteStream::SetDate(TDateTime) {
  return false;
}

void ReportFileSizeLimitAsError() {
  // Windows has no file-size limit that ends a process.
}

}  // namespace ormelin
