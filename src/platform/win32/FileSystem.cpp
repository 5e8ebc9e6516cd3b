#include "platform/FileSystem.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/Streams.h"
#include "platform/win32/FileHandle.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

// The system's own DeleteFile below, not the macro for DeleteFileW.
#undef DeleteFile

namespace ormelin {
namespace {

// 100-nanosecond steps from 1 January 1601 to 1 January 1970.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeStepsPerSecond = 10000000LL;

DWORD Attributes(std::string_view path) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(wide.c_str());
}

[[noreturn]] void RaiseCreateError(std::string_view path, DWORD error) {
  throw EFCreateError(std::string(path), SystemErrorMessage(error));
}

// Opens an entry for reading its attributes, a folder too; links are followed.
HANDLE OpenForAttributes(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The full path of a wide path, as the shell's operations want it.
std::wstring FullPath(const std::wstring& path) {
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return L"";
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  full.resize(size);
  return full;
}

// "C:\", "\\server\share\", "\\?\C:\" and the like: the root of a volume.
bool IsVolumeRoot(const std::wstring& full) {
  wchar_t root[MAX_PATH + 1];
  if (!GetVolumePathNameW(full.c_str(), root, MAX_PATH + 1)) return full.size() <= 3;
  std::wstring a = full;
  std::wstring b = root;
  while (!a.empty() && a.back() == L'\\') a.pop_back();
  while (!b.empty() && b.back() == L'\\') b.pop_back();
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The shell's operations want COM on the calling thread: initialised for
// the call unless the thread has it already.
class TComForThisThread {
 public:
  TComForThisThread()
      : initialised_(
            SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {
  }
  ~TComForThisThread() {
    if (initialised_) CoUninitialize();
  }
  TComForThisThread(const TComForThisThread&) = delete;
  TComForThisThread& operator=(const TComForThisThread&) = delete;

 private:
  bool initialised_;
};

// The shell's undoable delete of `from` (a path, which may end in a
// wildcard): to the Recycle Bin, silently, without confirmations or error
// dialogs. True when the shell reports success.
bool ShellDelete(const std::wstring& from) {
  std::wstring list = from;
  list.push_back(L'\0');  // the list of paths ends with a second NUL
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = list.c_str();
  operation.fFlags =
      FOF_ALLOWUNDO | FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR;
  return SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

}  // namespace

int64_t FileTimeToUnixSeconds(const FILETIME& time) {
  const int64_t steps =
      (static_cast<int64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) - kUnixEpochAsFileTime;
  // Rounded down, also before 1970.
  return steps >= 0 ? steps / kFileTimeStepsPerSecond
                    : -((-steps + kFileTimeStepsPerSecond - 1) / kFileTimeStepsPerSecond);
}

bool FileExists(std::string_view path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(std::string_view path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDir(std::string_view path) {
  std::wstring wide;
  return ToWidePath(path, wide) && CreateDirectoryW(wide.c_str(), nullptr);
}

bool DeleteFile(std::string_view path) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) return false;
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return DeleteFileW(wide.c_str());
}

bool FileIsReadOnly(std::string_view path) {
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool RenameFile(std::string_view from, std::string_view to) {
  std::wstring wideFrom, wideTo;
  return ToWidePath(from, wideFrom) && ToWidePath(to, wideTo) &&
         MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool DeleteTree(std::string_view path) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) return false;
  std::wstring full = FullPath(wide);
  while (full.size() > 1 && full.back() == L'\\') full.pop_back();
  DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(full.c_str());
  // Never a whole volume; and only a folder or a link standing for one.
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      IsVolumeRoot(full)) {
    return false;
  }
  // A junction or a link to a folder loses only itself: the shell would
  // otherwise empty the folder it points to.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveDirectoryW(full.c_str());
  // The content first; the folder only when all of it went.
  TComForThisThread com;
  if (ShellDelete(full + L"\\*.*")) ShellDelete(full);
  return GetFileAttributesW(full.c_str()) == INVALID_FILE_ATTRIBUTES;
}

bool DosFileTime(TDateTime value, FILETIME& time) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, millisecond);
  // The DOS form: whole two-second steps, years 1980 to 2107 only.
  if (year < 1980 || year > 2107) return false;
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = static_cast<WORD>(hour);
  local.wMinute = static_cast<WORD>(minute);
  local.wSecond = static_cast<WORD>(second & ~1);
  // Local time by the rules in force at that date, not at today's.
  SYSTEMTIME universal{};
  return TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) &&
         SystemTimeToFileTime(&universal, &time);
}

bool SetFileDate(std::string_view path, TDateTime value) {
  std::wstring wide;
  FILETIME time{};
  if (!ToWidePath(path, wide) || !DosFileTime(value, time)) return false;
  TFileHandle file(OpenForAttributes(wide, FILE_WRITE_ATTRIBUTES));
  return file.IsValid() && SetFileTime(file.Get(), nullptr, &time, &time);
}

std::string ReadFileToString(std::string_view path) {
  TFileStream file(path);
  std::string data(static_cast<size_t>(file.Size()), '\0');
  size_t done = 0;
  try {
    done = file.Read(data.data(), data.size());
    // A file that grew since it was opened is read to its new end.
    char buffer[65536];
    while (size_t n = file.Read(buffer, sizeof buffer)) {
      data.resize(done);
      data.append(buffer, n);
      done += n;
    }
  } catch (const EStreamError& e) {
    throw EStreamError("Cannot read file \"" + std::string(path) + "\". " +
                       e.Message().substr(e.Message().find(". ") + 2));
  }
  data.resize(done);
  return data;
}

void WriteStringToFile(std::string_view path, std::string_view data) {
  TFileWriteStream file(path);
  try {
    file.Write(data.data(), data.size());
    file.Close();
  } catch (const EFCreateError&) {
    std::wstring wide;
    if (ToWidePath(path, wide)) DeleteFileW(wide.c_str());  // no half-written file stays behind
    throw;
  }
}

namespace {

// The file a path finally names once every link on it is followed: the
// path itself when it names no link, or nothing yet.
std::wstring FollowLinks(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  TFileHandle file(OpenForAttributes(path));
  if (!file.IsValid()) return path;
  std::vector<wchar_t> target(MAX_PATH);
  for (;;) {
    DWORD length = GetFinalPathNameByHandleW(file.Get(), target.data(),
                                             static_cast<DWORD>(target.size()), VOLUME_NAME_DOS);
    if (length == 0) return path;
    if (length < target.size()) return std::wstring(target.data(), length);
    target.resize(length + 1);
  }
}

// Creates an unused, hidden file beside `target` for its new content.
HANDLE CreateSibling(const std::wstring& target, std::wstring& name) {
  static std::atomic<unsigned> counter{0};
  size_t slash = target.find_last_of(L"\\/");
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
  std::wstring base = slash == std::wstring::npos ? target : target.substr(slash + 1);
  for (;;) {
    name = folder + L"." + base + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L".tmp";
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
}

}  // namespace

void ReplaceFileContents(std::string_view path, std::string_view data) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) RaiseCreateError(path, GetLastError());
  const std::wstring target = FollowLinks(wide);
  const DWORD oldAttributes = GetFileAttributesW(target.c_str());
  const bool replacing = oldAttributes != INVALID_FILE_ATTRIBUTES;
  std::wstring temporary;
  DWORD error = 0;
  {
    TFileHandle file(CreateSibling(target, temporary));
    if (!file.IsValid()) RaiseCreateError(path, GetLastError());
    while (error == 0 && !data.empty()) {
      DWORD chunk = static_cast<DWORD>(data.size() < (1u << 30) ? data.size() : (1u << 30));
      DWORD n = 0;
      if (!WriteFile(file.Get(), data.data(), chunk, &n, nullptr)) error = GetLastError();
      data.remove_prefix(n);
    }
    if (error == 0 && !FlushFileBuffers(file.Get())) error = GetLastError();
  }
  if (error == 0) {
    // ReplaceFileW keeps the old file's attributes, security and creation
    // time; a new file takes the folder's defaults.
    BOOL moved = replacing ? ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                          REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                           : MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved) error = GetLastError();
    if (moved && !replacing) SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  if (error != 0) {
    DeleteFileW(temporary.c_str());
    RaiseCreateError(path, error);
  }
}

TDateTime DosRoundedTime(int64_t unixSeconds) {
  static const TDateTime kFirst = EncodeDateTime(1980, 1, 1, 0, 0, 0);
  static const TDateTime kLast = EncodeDateTime(2107, 12, 31, 23, 59, 58);
  // Years far outside the range need no conversion to be clamped.
  if (unixSeconds < 0) return kFirst;
  if (unixSeconds > 4354819200LL) return kLast;  // 1 January 2108 UTC
  const int64_t steps = unixSeconds * kFileTimeStepsPerSecond + kUnixEpochAsFileTime;
  FILETIME time{static_cast<DWORD>(steps), static_cast<DWORD>(steps >> 32)};
  SYSTEMTIME universal{}, local{};
  // Local time by the rules in force at the file's own date.
  if (!FileTimeToSystemTime(&time, &universal) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    return kFirst;
  }
  if (local.wYear < 1980) return kFirst;
  if (local.wYear > 2107) return kLast;
  TDateTime date = 0, dayTime = 0;
  TryEncodeDate(local.wYear, local.wMonth, local.wDay, date);
  TryEncodeTime(local.wHour, local.wMinute, local.wSecond & ~1, 0, dayTime);
  return date + dayTime;
}

struct TFolderEnumerator::TImpl {
  HANDLE find = INVALID_HANDLE_VALUE;
  bool open = false;
  bool havePending = false;  // `pending` holds the first entry, not yet returned
  WIN32_FIND_DATAW pending{};
  std::wstring folder;  // with a trailing separator
  TFolderIdentity identity;
};

TFolderEnumerator::TFolderEnumerator(std::string_view path) : impl_(std::make_unique<TImpl>()) {
  std::wstring wide;
  if (!ToWidePath(path, wide)) return;
  {
    TFileHandle folder(OpenForAttributes(wide));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return;
    }
    impl_->identity.Device = information.dwVolumeSerialNumber;
    impl_->identity.Inode =
        static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
  }
  if (wide.empty() || (wide.back() != L'\\' && wide.back() != L':')) wide.push_back(L'\\');
  impl_->folder = wide;
  impl_->find = FindFirstFileW((wide + L"*").c_str(), &impl_->pending);
  if (impl_->find != INVALID_HANDLE_VALUE) {
    impl_->open = true;
    impl_->havePending = true;
  } else {
    // The root of an empty volume has not even "." and "..".
    impl_->open = GetLastError() == ERROR_FILE_NOT_FOUND;
  }
}

TFolderEnumerator::~TFolderEnumerator() {
  if (impl_->find != INVALID_HANDLE_VALUE) FindClose(impl_->find);
}

bool TFolderEnumerator::IsOpen() const {
  return impl_->open;
}

TFolderIdentity TFolderEnumerator::Identity() const {
  return impl_->identity;
}

bool TFolderEnumerator::Next(TFolderEntry& entry) {
  if (impl_->find == INVALID_HANDLE_VALUE) return false;
  WIN32_FIND_DATAW& found = impl_->pending;
  for (;;) {
    if (!impl_->havePending && !FindNextFileW(impl_->find, &found)) return false;
    impl_->havePending = false;
    std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    DWORD attributes = found.dwFileAttributes;
    FILETIME written = found.ftLastWriteTime;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (link) {
      // Links are followed; one that leads nowhere is left out.
      TFileHandle target(OpenForAttributes(impl_->folder + std::wstring(name)));
      BY_HANDLE_FILE_INFORMATION information{};
      if (!target.IsValid() || !GetFileInformationByHandle(target.Get(), &information)) continue;
      attributes = information.dwFileAttributes;
      written = information.ftLastWriteTime;
    }
    // Devices are no files a client could be sent.
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) continue;
    bool exact = true;
    entry.Name = WideToCp1250(name, &exact);
    entry.NameIsPath = exact;
    entry.IsDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.IsLink = link;
    entry.DateModified = DosRoundedTime(FileTimeToUnixSeconds(written));
    return true;
  }
}

void WritePrivateFile(std::string_view path, std::string_view data) {
  ReplaceFileContents(path, data);
  // Full control for the system and the administrators, nothing inherited,
  // nobody else.
  std::wstring wide;
  if (!ToWidePath(path, wide)) RaiseCreateError(path, GetLastError());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:P(A;;FA;;;SY)(A;;FA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
    RaiseCreateError(path, GetLastError());
  }
  const BOOL secured = SetFileSecurityW(
      wide.c_str(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor);
  const DWORD error = secured ? 0 : GetLastError();
  LocalFree(descriptor);
  if (!secured) {
    DeleteFileW(wide.c_str());
    RaiseCreateError(path, error);
  }
}

}  // namespace ormelin
