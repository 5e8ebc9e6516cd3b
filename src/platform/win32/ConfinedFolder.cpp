#include "platform/ConfinedFolder.h"

#include <windows.h>

#include <vector>

#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/win32/FileHandle.h"
#include "platform/win32/SystemError.h"
#include "platform/win32/WideText.h"

// The system's own functions below, not the macros for their wide forms.
#undef CreateFile
#undef DeleteFile

namespace ormelin {
namespace {

// Opens an entry itself, never what a reparse point names. Without
// FILE_SHARE_DELETE: while the handle is open nobody can rename, delete or
// replace the entry, nor any folder above it.
HANDLE OpenEntry(const std::wstring& path, DWORD access = FILE_READ_ATTRIBUTES) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

// Removes a reparse point itself: a folder link or junction is removed as a
// folder, anything else as a file.
bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(path.c_str()) != 0
                                                      : DeleteFileW(path.c_str()) != 0;
}

// Removes `path` with everything in it. A folder is held open while its
// content goes, so it cannot be swapped for a junction meanwhile; a
// reparse point loses only itself.
bool DeleteTreeAt(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return RemoveEntry(path, attributes);
  }
  bool whole = true;
  {
    TFileHandle held(OpenEntry(path));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!held.IsValid() || !GetFileInformationByHandle(held.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return false;
    }
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!DeleteTreeAt(path + L"\\" + name)) whole = false;
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
  }
  return RemoveDirectoryW(path.c_str()) != 0 && whole;
}

}  // namespace

struct TConfinedFolder::TImpl {
  std::wstring Path;  // of the opened folder, without a trailing separator
  std::vector<HANDLE> Held;
  ~TImpl() {
    for (HANDLE handle : Held) CloseHandle(handle);
  }
  // The path of an entry of the folder; empty for a name no entry can have.
  std::wstring Entry(std::string_view name) const {
    if (name.empty() || name.find_first_of("\\/:") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos) {
      return std::wstring();
    }
    return Path + L"\\" + Cp1250ToWide(name);
  }
};

TConfinedFolder::TConfinedFolder(std::string_view root, std::string_view path)
    : impl_(std::make_unique<TImpl>()), shown_(ShownPath(root, path)) {
  const std::vector<std::string> parts = ConfinedPathParts(path, shown_, name_);
  std::wstring wide;
  if (!ToWidePath(root.empty() ? std::string_view(".") : root, wide)) {
    throw EFOpenError(PlatformPath(root), SystemErrorMessage(GetLastError()));
  }
  while (wide.size() > 1 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
  impl_->Path = wide;
  // The root as named (a link there is the user's choice), held like the rest.
  HANDLE handle =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw EFOpenError(PlatformPath(root), SystemErrorMessage(GetLastError()));
  }
  impl_->Held.push_back(handle);
  std::string walked(root);
  for (const std::string& part : parts) {
    walked += '\\';
    walked += part;
    const std::wstring next = impl_->Entry(part);
    auto refuseLink = [&] { throw LinkInPathError(shown_, walked); };
    handle = next.empty() ? INVALID_HANDLE_VALUE : OpenEntry(next);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = next.empty() ? ERROR_INVALID_NAME : GetLastError();
      // Some systems (Wine) cannot open a link itself: its attributes tell.
      const DWORD attributes =
          next.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(next.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        refuseLink();
      }
      throw EFOpenError(PlatformPath(walked), SystemErrorMessage(error));
    }
    impl_->Held.push_back(handle);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
      throw EFOpenError(PlatformPath(walked), SystemErrorMessage(GetLastError()));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) refuseLink();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      throw EFOpenError(PlatformPath(walked), SystemErrorMessage(ERROR_DIRECTORY));
    }
    impl_->Path = next;
  }
}

TConfinedFolder::~TConfinedFolder() = default;

std::unique_ptr<TConfinedFolder> TConfinedFolder::OpenBelow(std::string_view path,
                                                            std::string_view shown) const {
  // Every folder of a path stays held here: the walk from the root does it.
  std::string last;
  const std::vector<std::string> parts = ConfinedPathParts(path, shown, last);
  if (parts.empty())
    return std::unique_ptr<TConfinedFolder>(new TConfinedFolder(impl_, last, shown));
  return nullptr;
}

TEntryKind TConfinedFolder::Kind(std::string_view name) const {
  const std::wstring path = impl_->Entry(name);
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return TEntryKind::None;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return TEntryKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TEntryKind::Folder;
  return TEntryKind::File;
}

bool TConfinedFolder::IsReadOnly(std::string_view name) const {
  const std::wstring path = impl_->Entry(name);
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
         (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::string TConfinedFolder::OtherCase(std::string_view) const {
  return std::string();  // the file system finds a name in any letter case itself
}

bool TConfinedFolder::Identity(std::string_view name, TFolderIdentity& identity) const {
  const std::wstring path = impl_->Entry(name);
  if (path.empty()) return false;
  TFileHandle entry(OpenEntry(path));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!entry.IsValid() || !GetFileInformationByHandle(entry.Get(), &info)) return false;
  identity.Device = info.dwVolumeSerialNumber;
  identity.Inode = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

bool TConfinedFolder::SameEntry(std::string_view a, std::string_view b) const {
  const std::wstring first = impl_->Entry(a), second = impl_->Entry(b);
  if (first.empty() || second.empty()) return false;
  TFileHandle one(OpenEntry(first)), other(OpenEntry(second));
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return one.IsValid() && other.IsValid() && GetFileInformationByHandle(one.Get(), &x) &&
         GetFileInformationByHandle(other.Get(), &y) &&
         x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
         x.nFileIndexLow == y.nFileIndexLow;
}

bool TConfinedFolder::CreateFolder(std::string_view name) {
  const std::wstring path = impl_->Entry(name);
  return !path.empty() && CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool TConfinedFolder::DeleteFile(std::string_view name) {
  const std::wstring path = impl_->Entry(name);
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveEntry(path, attributes);
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;
  return DeleteFileW(path.c_str()) != 0;
}

bool TConfinedFolder::DeleteTree(std::string_view name) {
  const std::wstring path = impl_->Entry(name);
  return !path.empty() && DeleteTreeAt(path);
}

bool TConfinedFolder::Rename(std::string_view from, std::string_view to) {
  const std::wstring source = impl_->Entry(from), target = impl_->Entry(to);
  // A reparse point at the target is replaced itself, as a file is.
  return !source.empty() && !target.empty() &&
         MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TConfinedFolder::SetDate(std::string_view name, TDateTime value) {
  const std::wstring path = impl_->Entry(name);
  FILETIME time{};
  if (path.empty() || !DosFileTime(value, time)) return false;
  TFileHandle file(OpenEntry(path, FILE_WRITE_ATTRIBUTES));
  return file.IsValid() && SetFileTime(file.Get(), nullptr, &time, &time);
}

std::unique_ptr<TFileWriteStream> TConfinedFolder::CreateFile(std::string_view name,
                                                              std::string_view shownPath,
                                                              std::string_view) {
  // A new file inherits its folder's permissions, as the old one did.
  const std::wstring path = impl_->Entry(name);
  HANDLE file = path.empty()
                    ? INVALID_HANDLE_VALUE
                    : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw EFCreateError(std::string(shownPath),
                        SystemErrorMessage(path.empty() ? ERROR_INVALID_NAME : GetLastError()));
  }
  return TFileWriteStream::Adopt(HandleToInt(file), shownPath);
}

// Windows gives no file a name only once it is complete: the named way.
std::unique_ptr<TFileWriteStream> TConfinedFolder::CreateUnnamed(std::string_view,
                                                                 std::string_view) {
  return nullptr;
}

TFileWriteStream::TPublishResult TConfinedFolder::Publish(TFileWriteStream&, std::string_view) {
  return TFileWriteStream::TPublishResult::Failed;
}

}  // namespace ormelin
