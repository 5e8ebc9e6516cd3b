// Windows: one ReadDirectoryChangesW on the root, its whole subtree
// included, with a read kept outstanding from Watch on, so that the system
// holds whatever changes until Changed() looks. The read's handle is tied
// to a completion port of the watch's own: its completion is then queued
// to the port by the call that completes it (no APC to the issuing thread
// is waited for), so any thread can poll it without waiting, and the read
// is not cancelled when the thread that issued it ends (a sync's thread
// often does; a read tied to no port would end with it, and the next sync
// would find the tree changed for nothing; a read cancelled all the same
// completes, and counts as a change).
//
// Once a read has completed, the watch has seen a change and says so until
// the next Watch, which starts afresh: no further read is issued.
#include "platform/FolderWatch.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/FileHandle.h"
#include "platform/win32/FolderWatchWine.h"
#include "platform/win32/WideText.h"

namespace ormelin {
namespace {

// Everything a scan reads (names, kinds, times) and what may change it.
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION |
                                FILE_NOTIFY_CHANGE_SECURITY;

// How long the end of a watch waits for its cancelled read to come back.
// A read that never does keeps its buffer (leaked), which the system may
// still write.
constexpr DWORD kCancelWaitMs = 30000;

// A read in flight: the system writes both members until its completion
// has been taken from the port. The first notification is all the watch
// needs, so a small buffer does (a change too big for it completes the
// read too, with nothing in it).
struct TRead {
  OVERLAPPED Overlapped{};
  DWORD Buffer[1024];
};

struct TIdentity {
  DWORD Volume = 0;
  uint64_t Index = 0;
  bool operator==(const TIdentity& other) const {
    return Volume == other.Volume && Index == other.Index;
  }
};

TIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return {information.dwVolumeSerialNumber,
          static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow};
}

std::atomic<bool> vouchUnderWine{false};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens a folder or file for its attributes only; `flags` says whether a
// link is followed.
HANDLE OpenForAttributes(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The drive the folder open as `folder` lies on, links followed, as far as
// the watch trusts it: a local fixed, removable or RAM drive (whose changes
// all pass through this machine), a network one, or what else.
TFolderWatchLimit DriveLimit(HANDLE folder) {
  DWORD size = GetFinalPathNameByHandleW(folder, nullptr, 0, VOLUME_NAME_DOS);
  if (size == 0) return TFolderWatchLimit::Unwatchable;
  std::wstring path(size, L'\0');
  size = GetFinalPathNameByHandleW(folder, path.data(), size, VOLUME_NAME_DOS);
  if (size == 0 || size >= path.size()) return TFolderWatchLimit::Unwatchable;
  path.resize(size);
  static const std::wstring kUnc = L"\\\\?\\UNC\\";
  static const std::wstring kLong = L"\\\\?\\";
  if (path.compare(0, kUnc.size(), kUnc) == 0) return TFolderWatchLimit::RemoteFileSystem;
  if (path.compare(0, kLong.size(), kLong) == 0) path.erase(0, kLong.size());
  std::wstring volume(path.size() + MAX_PATH + 1, L'\0');
  if (!GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) {
    return TFolderWatchLimit::Unwatchable;
  }
  switch (GetDriveTypeW(volume.c_str())) {
    case DRIVE_FIXED:
    case DRIVE_REMOVABLE:
    case DRIVE_RAMDISK:
      return TFolderWatchLimit::None;
    case DRIVE_REMOTE:
      return TFolderWatchLimit::RemoteFileSystem;
    default:  // a CD, or a drive the system cannot tell
      return TFolderWatchLimit::Unwatchable;
  }
}

}  // namespace

bool RunsUnderWine() {
  static const bool wine = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

void LetFolderWatchVouchUnderWine(bool vouch) {
  vouchUnderWine = vouch;
}

struct TFolderWatch::TImpl {
  std::wstring root;
  TIdentity rootIdentity;
  HANDLE folder = INVALID_HANDLE_VALUE;  // the root, listed for changes
  HANDLE port = nullptr;                 // where the read's completion goes
  std::unique_ptr<TRead> read;           // set while a read is in flight
  int folders = 0;

  ~TImpl() { Stop(); }

  // Ends the read in flight (its completion taken from the port before its
  // buffer goes) and closes the handles.
  void Stop() {
    if (read) {
      CancelIoEx(folder, &read->Overlapped);
      DWORD bytes = 0;
      ULONG_PTR key = 0;
      OVERLAPPED* done = nullptr;
      GetQueuedCompletionStatus(port, &bytes, &key, &done, kCancelWaitMs);
      if (done == nullptr) read.release();  // still the system's
      read.reset();
    }
    if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
    if (port != nullptr) CloseHandle(port);
    folder = INVALID_HANDLE_VALUE;
    port = nullptr;
    folders = 0;
  }

  // Opens the root and issues the first read.
  TFolderWatchLimit Start() {
    folder = CreateFileW(root.c_str(), FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    if (folder == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(folder, &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return TFolderWatchLimit::Unwatchable;
    }
    rootIdentity = IdentityOf(information);
    const TFolderWatchLimit drive = DriveLimit(folder);
    if (drive != TFolderWatchLimit::None) return drive;
    port = CreateIoCompletionPort(folder, nullptr, 0, 1);
    if (port == nullptr) return TFolderWatchLimit::Unsupported;
    read = std::make_unique<TRead>();
    DWORD bytes = 0;
    if (!ReadDirectoryChangesW(folder, read->Buffer, sizeof read->Buffer, TRUE, kNotifyFilter,
                               &bytes, &read->Overlapped, nullptr) &&
        GetLastError() != ERROR_IO_PENDING) {
      const DWORD error = GetLastError();
      read.reset();  // never issued: no completion comes
      return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED
                 ? TFolderWatchLimit::Unsupported
                 : TFolderWatchLimit::Unwatchable;
    }
    return TFolderWatchLimit::None;
  }

  // Lists every folder below the root once, with the read already in
  // flight (a change made meanwhile completes it): a link of any kind
  // (a reparse point: symbolic link, junction, mount point; or a file with
  // a second name, whose writes through that name no folder here reports)
  // refuses the tree, as does a folder beyond `maxWatches`.
  TFolderWatchLimit Walk(int maxWatches) {
    std::vector<std::wstring> pending{root};
    while (!pending.empty()) {
      std::wstring path = std::move(pending.back());
      pending.pop_back();
      if (maxWatches > 0 && folders >= maxWatches) return TFolderWatchLimit::WatchLimit;
      ++folders;
      if (path.empty() || (path.back() != L'\\' && path.back() != L':')) path.push_back(L'\\');
      WIN32_FIND_DATAW found{};
      HANDLE find = FindFirstFileExW((path + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
      if (find == INVALID_HANDLE_VALUE) {
        // The root of an empty volume has not even "." and "..".
        if (GetLastError() == ERROR_FILE_NOT_FOUND) continue;
        return TFolderWatchLimit::Unwatchable;
      }
      TFolderWatchLimit limit = TFolderWatchLimit::None;
      do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
          limit = TFolderWatchLimit::Link;
        } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
          pending.push_back(path + std::wstring(name));
        } else {
          limit = FileLimit(path + std::wstring(name));
        }
      } while (limit == TFolderWatchLimit::None && FindNextFileW(find, &found));
      const DWORD error = GetLastError();
      FindClose(find);
      if (limit != TFolderWatchLimit::None) return limit;
      if (error != ERROR_NO_MORE_FILES) return TFolderWatchLimit::Unwatchable;
    }
    return TFolderWatchLimit::None;
  }

  // A file's names: one, or the tree is refused. A file gone since it was
  // listed has its deletion reported already.
  static TFolderWatchLimit FileLimit(const std::wstring& path) {
    TFileHandle file(OpenForAttributes(path, FILE_FLAG_OPEN_REPARSE_POINT));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.IsValid()) {
      const DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                 ? TFolderWatchLimit::None
                 : TFolderWatchLimit::Unwatchable;
    }
    if (!GetFileInformationByHandle(file.Get(), &information)) {
      return TFolderWatchLimit::Unwatchable;
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        information.nNumberOfLinks > 1) {
      return TFolderWatchLimit::Link;
    }
    return TFolderWatchLimit::None;
  }

  // Takes the read's completion from the port, without waiting: true when
  // it came (a change, or nothing but the news of changes too many for
  // the buffer: `overflow`, or the read's end).
  bool Completed(bool& overflow) {
    if (!read) return false;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* done = nullptr;
    const BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &done, 0);
    if (done == nullptr) return false;  // nothing queued
    read.reset();
    overflow = ok && bytes == 0;
    return true;
  }

  // Whether the root's path names another folder than the one watched, or
  // none.
  bool RootReplaced() const {
    TFileHandle now(OpenForAttributes(root, 0));
    BY_HANDLE_FILE_INFORMATION information{};
    return !now.IsValid() || !GetFileInformationByHandle(now.Get(), &information) ||
           !(IdentityOf(information) == rootIdentity);
  }
};

TFolderWatch::TFolderWatch() : impl_(std::make_unique<TImpl>()) {}

TFolderWatch::~TFolderWatch() = default;

void TFolderWatch::Watch(std::string_view root, int maxWatches) {
  TImpl& impl = *impl_;
  impl.Stop();
  changed_ = false;
  if (RunsUnderWine() && !vouchUnderWine) {
    limit_ = TFolderWatchLimit::Unsupported;  // see FolderWatchWine.h
    return;
  }
  if (!ToWidePath(root, impl.root)) {
    limit_ = TFolderWatchLimit::Unwatchable;
    return;
  }
  limit_ = impl.Start();
  if (CanVouch()) limit_ = impl.Walk(maxWatches);
  if (!CanVouch()) {
    impl.Stop();
    return;
  }
  // A change made while the tree was being listed counts: the caller's
  // tree, read after this, is then not vouched for.
  Changed();
}

bool TFolderWatch::Changed() {
  if (!CanVouch()) return true;
  if (changed_) return true;
  bool overflow = false;
  if (impl_->Completed(overflow)) {
    changed_ = true;
    if (overflow) limit_ = TFolderWatchLimit::Overflow;
    return true;
  }
  if (impl_->RootReplaced()) changed_ = true;
  return changed_;
}

// Windows reports no folder names here: any change is a change of all.
TFolderChanges TFolderWatch::TakeChanges() {
  TFolderChanges changes;
  changes.All = Changed();
  return changes;
}

// Never needed after All; a caller that tries gets a watch that no longer
// vouches rather than one that missed something.
void TFolderWatch::Forget(std::string_view) {
  limit_ = TFolderWatchLimit::Unsupported;
}

void TFolderWatch::WatchBelow(std::string_view) {
  limit_ = TFolderWatchLimit::Unsupported;
}

void TFolderWatch::WatchFiles(std::string_view) {
  limit_ = TFolderWatchLimit::Unsupported;
}

// A tree holding a link is not vouched for.
void TFolderWatch::FollowLinks() {}

bool TFolderWatch::ThroughLink(std::string_view) const {
  return false;
}

bool TFolderWatch::LinkToFolder(std::string_view) const {
  return false;
}

bool TFolderWatch::LinksCircle() const {
  return false;
}

int TFolderWatch::WatchCount() const {
  return impl_->folders;
}

}  // namespace ormelin
