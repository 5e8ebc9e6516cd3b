// A Windows file handle owned by one object, closed on every path, and the
// file times of the system's paths. Safe from any thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/DateTime.h"

namespace ormelin {

class TFileHandle {
 public:
  explicit TFileHandle(HANDLE handle) : handle_(handle) {}
  ~TFileHandle() {
    if (IsValid()) CloseHandle(handle_);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// The file time of a local time reduced to the DOS form, as SetFileDate
// sets it; false for a year outside 1980..2107.
bool DosFileTime(TDateTime value, FILETIME& time);

// Seconds since 1 January 1970 UTC of a file time, rounded down.
int64_t FileTimeToUnixSeconds(const FILETIME& time);

// The handle of a system's file handle value kept as an int: only the low
// 32 bits of a Windows handle are significant, so it round-trips.
inline int HandleToInt(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}
inline HANDLE IntToHandle(int value) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

}  // namespace ormelin
